// The object manager: reference counts of device, driver, file and thread objects, the kernel
// handle table, and the object namespace (\Device, \??, \Driver) with its symbolic links.
// Every reference a module takes is charged to it, so the leak checks can find the ones it keeps.
#include "KernelState.h"

namespace tapkernel {

// ---- Records -------------------------------------------------------------------------------------

ObjectRecord *KernelState::FindObject(const void *body)
{
    auto it = objects.find(body);
    return it == objects.end() ? nullptr : it->second.get();
}

DeviceRecord *KernelState::FreedDeviceContaining(const void *address)
{
    auto value = reinterpret_cast<uintptr_t>(address);
    auto it = freedDevices.upper_bound(value);
    if (it == freedDevices.begin()) {
        return nullptr;
    }
    --it;
    DeviceRecord *record = it->second;
    return value < it->first + record->blockSize ? record : nullptr;
}

void KernelState::CheckNotFreed(const char *routine, const void *address, const char *what)
{
    if (address == nullptr) {
        return;
    }
    if (DeviceRecord *record = FreedDeviceContaining(address)) {
        BugCheck(routine, "%s %p lies in device object %p (%s), which has been deleted", what, address,
                 static_cast<void *>(record->device),
                 record->name.empty() ? "unnamed" : ToUtf8(record->name).c_str());
    }
}

DeviceRecord *KernelState::LiveDevice(const char *routine, PDEVICE_OBJECT device)
{
    if (device == nullptr) {
        BugCheck(routine, "device object is NULL");
    }
    ObjectRecord *record = FindObject(device);
    if (record == nullptr || record->kind != ObjectKind::Device) {
        CheckNotFreed(routine, device, "device object");
        BugCheck(routine, "%p is not a device object", static_cast<void *>(device));
    }
    if (record->freed) {
        BugCheck(routine, "call into device object %p, which has been deleted", static_cast<void *>(device));
    }
    return static_cast<DeviceRecord *>(record);
}

void KernelState::ChargeReference(const void *body, Owner owner)
{
    if (owner.module == nullptr) {
        return;
    }
    ReferenceCount &count = references[{owner.module, body}];
    (owner.driverWide ? count.driverWide : count.later) += 1;
}

void KernelState::DischargeReference(const void *body, DriverModule *module)
{
    if (module == nullptr) {
        return;
    }
    auto it = references.find({module, body});
    if (it == references.end()) {
        return; // a reference handed over by someone else
    }
    ReferenceCount &count = it->second;
    if (count.later > 0) {
        --count.later;
    } else if (count.driverWide > 0) {
        --count.driverWide;
    }
    if (count.later == 0 && count.driverWide == 0) {
        references.erase(it);
    }
}

HANDLE KernelState::InsertHandle(HandleEntry entry)
{
    nextHandle += 4;
    auto handle = reinterpret_cast<HANDLE>(nextHandle);
    handles.emplace(handle, std::move(entry));
    return handle;
}

// ---- References ----------------------------------------------------------------------------------

namespace {

const char *KindName(ObjectKind kind)
{
    switch (kind) {
    case ObjectKind::Device:
        return "device object";
    case ObjectKind::Driver:
        return "driver object";
    case ObjectKind::File:
        return "file object";
    case ObjectKind::Thread:
        return "thread object";
    }
    return "object";
}

ObjectRecord *LiveObject(KernelState &state, const char *routine, const void *object)
{
    if (object == nullptr) {
        BugCheck(routine, "object pointer is NULL");
    }
    ObjectRecord *record = state.FindObject(object);
    if (record == nullptr) {
        state.CheckNotFreed(routine, object, "object");
        BugCheck(routine, "%p is not a kernel object", object);
    }
    if (record->freed) {
        BugCheck(routine, "%s %p has already been deleted (its last reference is gone)", KindName(record->kind),
                 object);
    }
    return record;
}

// The last reference to a file object: IRP_MJ_CLEANUP if no handle sent it, then IRP_MJ_CLOSE;
// the device loses the open. Runs at PASSIVE_LEVEL (the worker does it for a raised caller).
void CloseFileObject(FileRecord *file)
{
    PFILE_OBJECT object = &file->object;
    if (!file->cleanupSent) {
        file->cleanupSent = true;
        SendFileRequest(object, IRP_MJ_CLEANUP, 0, nullptr, 0, nullptr, 0, nullptr);
    }
    SendFileRequest(object, IRP_MJ_CLOSE, 0, nullptr, 0, nullptr, 0, nullptr);
    PDEVICE_OBJECT device = object->DeviceObject;
    {
        KernelState &state = State();
        std::lock_guard<std::mutex> held(state.lock);
        __atomic_sub_fetch(&device->ReferenceCount, 1, __ATOMIC_SEQ_CST);
        RetireFileRecord(state, file);
    }
    DereferenceObject("ObDereferenceObject", device, false);
}

// Closed file objects whose records are kept to recognise a late use of them.
constexpr size_t kFileQuarantine = 4096;

} // namespace

size_t Kernel::ObjectRecords()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return state_->objects.size();
}

void RetireFileRecord(KernelState &state, FileRecord *file)
{
    file->freed = true;
    state.fileQuarantine.push_back(&file->object);
    while (state.fileQuarantine.size() > kFileQuarantine) {
        state.objects.erase(state.fileQuarantine.front());
        state.fileQuarantine.pop_front();
    }
}

LONG_PTR ReferenceObject(const char *routine, void *object, bool charge)
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    ObjectRecord *record = LiveObject(state, routine, object);
    LONG_PTR count = ++record->references;
    if (charge) {
        state.ChargeReference(object, CurrentOwner());
    }
    return count;
}

void DeleteObjectRecord(KernelState &state, ObjectRecord *record, std::unique_lock<std::mutex> &held)
{
    switch (record->kind) {
    case ObjectKind::Device: {
        auto *device = static_cast<DeviceRecord *>(record);
        if (!device->deleted) {
            BugCheck("ObDereferenceObject",
                     "the last reference to device object %p is gone before IoDeleteDevice deleted it",
                     static_cast<void *>(device->device));
        }
        if (device->device->AttachedDevice != nullptr) {
            break; // delete-pending: freed when the device above detaches
        }
        FreeDeviceMemory(state, device);
        break;
    }
    case ObjectKind::Driver:
        record->freed = true;
        break;
    case ObjectKind::File: {
        auto *file = static_cast<FileRecord *>(record);
        if (CurrentIrql() > APC_LEVEL) {
            QueueWorkLocked(state, [file] { CloseFileObject(file); });
        } else {
            held.unlock();
            CloseFileObject(file);
            held.lock();
        }
        break;
    }
    case ObjectKind::Thread: {
        auto *thread = static_cast<ThreadRecord *>(record);
        thread->freed = true;
        if (thread->host.joinable()) {
            state.finishedHosts.push_back(std::move(thread->host));
        }
        break;
    }
    }
}

void DropRequestReference(KernelState &state, PFILE_OBJECT file)
{
    ObjectRecord *record = LiveObject(state, "IoCompleteRequest", file);
    if (--record->references == 0) {
        auto *fileRecord = static_cast<FileRecord *>(record);
        QueueWorkLocked(state, [fileRecord] { CloseFileObject(fileRecord); });
    }
}

LONG_PTR DereferenceObject(const char *routine, void *object, bool charge)
{
    KIRQL irql = CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        BugCheck(routine, "called at IRQL %u", irql);
    }
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    ObjectRecord *record = LiveObject(state, routine, object);
    if (charge) {
        state.DischargeReference(object, CurrentModule());
    }
    LONG_PTR count = --record->references;
    if (count == 0) {
        DeleteObjectRecord(state, record, held);
    }
    return count;
}

} // namespace tapkernel

using namespace tapkernel;

struct _OBJECT_TYPE {
    ObjectKind kind;
};

namespace {
_OBJECT_TYPE threadType{ObjectKind::Thread};
_OBJECT_TYPE fileType{ObjectKind::File};
_OBJECT_TYPE eventType{ObjectKind::Driver}; // events are not handle objects here
POBJECT_TYPE threadTypePointer = &threadType;
POBJECT_TYPE fileTypePointer = &fileType;
POBJECT_TYPE eventTypePointer = &eventType;
} // namespace

extern "C" {
POBJECT_TYPE *PsThreadType = &threadTypePointer;
POBJECT_TYPE *IoFileObjectType = &fileTypePointer;
POBJECT_TYPE *ExEventObjectType = &eventTypePointer;
}

extern "C" LONG_PTR FASTCALL ObfReferenceObject(PVOID object)
{
    return ReferenceObject("ObReferenceObject", object, true);
}

extern "C" LONG_PTR FASTCALL ObfDereferenceObject(PVOID object)
{
    return DereferenceObject("ObDereferenceObject", object, true);
}

extern "C" NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE objectType,
                                                    KPROCESSOR_MODE, PVOID *object,
                                                    POBJECT_HANDLE_INFORMATION information)
{
    RequireIrql("ObReferenceObjectByHandle", PASSIVE_LEVEL, APC_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    auto it = state.handles.find(handle);
    if (it == state.handles.end()) {
        return STATUS_INVALID_HANDLE;
    }
    HandleEntry &entry = it->second;
    if (entry.object == nullptr || (objectType != nullptr && objectType->kind != entry.object->kind)) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    ++entry.object->references;
    state.ChargeReference(entry.object->body, CurrentOwner());
    *object = entry.object->body;
    if (information != nullptr) {
        information->HandleAttributes = 0;
        information->GrantedAccess = entry.access;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE handle)
{
    RequireIrql("ZwClose", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    auto it = state.handles.find(handle);
    if (it == state.handles.end()) {
        BugCheck("ZwClose", "invalid kernel handle %p", handle);
    }
    ObjectRecord *object = it->second.object;
    state.handles.erase(it);
    if (object == nullptr) {
        return STATUS_SUCCESS; // a registry key: the key reference goes with the entry
    }
    bool cleanup = false;
    if (object->kind == ObjectKind::File) {
        auto *file = static_cast<FileRecord *>(object);
        if (--file->handles == 0 && !file->cleanupSent) {
            file->cleanupSent = true;
            cleanup = true;
        }
    }
    held.unlock();
    if (cleanup) {
        SendFileRequest(static_cast<PFILE_OBJECT>(object->body), IRP_MJ_CLEANUP, 0, nullptr, 0, nullptr, 0, nullptr);
    }
    DereferenceObject("ZwClose", object->body, false);
    return STATUS_SUCCESS;
}

// ---- Namespace -----------------------------------------------------------------------------------

namespace tapkernel {

std::u16string FromUnicodeString(PCUNICODE_STRING string)
{
    if (string == nullptr || string->Buffer == nullptr) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t *>(string->Buffer), string->Length / sizeof(WCHAR));
}

namespace {

bool StartsWithInsensitive(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && UpperCase(text.substr(0, prefix.size())) == UpperCase(prefix);
}

// \DosDevices\X and \GLOBAL??\X are \??\X; the case of the rest is kept.
std::u16string CanonicalCase(std::u16string_view path)
{
    for (std::u16string_view alias : {std::u16string_view(u"\\DosDevices"), std::u16string_view(u"\\GLOBAL??")}) {
        if (StartsWithInsensitive(path, alias) && (path.size() == alias.size() || path[alias.size()] == u'\\')) {
            return u"\\??" + std::u16string(path.substr(alias.size()));
        }
    }
    return std::u16string(path);
}

bool IsDirectory(const std::u16string &key)
{
    return key.empty() || key == u"\\DEVICE" || key == u"\\??" || key == u"\\DRIVER";
}

} // namespace

std::u16string NormalisePath(std::u16string_view path)
{
    return UpperCase(CanonicalCase(path));
}

bool ParentDirectoryExists(const std::u16string &key)
{
    size_t slash = key.rfind(u'\\');
    return slash != std::u16string::npos && IsDirectory(key.substr(0, slash));
}

PDEVICE_OBJECT ResolveDevice(KernelState &state, std::u16string_view path, std::u16string *remainder,
                             NTSTATUS *status)
{
    std::u16string current(path);
    for (int hop = 0; hop < 32; ++hop) {
        if (current.empty() || current[0] != u'\\') {
            *status = STATUS_OBJECT_PATH_SYNTAX_BAD;
            return nullptr;
        }
        std::u16string cased = CanonicalCase(current);
        std::u16string key = UpperCase(cased);
        const NameEntry *entry = nullptr;
        size_t end = key.size();
        while (end > 0) {
            auto it = state.names.find(key.substr(0, end));
            if (it != state.names.end()) {
                entry = &it->second;
                break;
            }
            end = key.rfind(u'\\', end - 1);
            if (end == std::u16string::npos) {
                break;
            }
        }
        if (entry == nullptr) {
            *status = ParentDirectoryExists(key) ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
            return nullptr;
        }
        std::u16string rest = cased.substr(end);
        if (entry->device != nullptr) {
            *remainder = rest;
            *status = STATUS_SUCCESS;
            return entry->device;
        }
        current = entry->linkTarget + rest;
    }
    *status = STATUS_OBJECT_NAME_NOT_FOUND; // a loop of links
    return nullptr;
}

} // namespace tapkernel
