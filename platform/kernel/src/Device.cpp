// Device objects, device stacks, symbolic links and opening devices by name: the part of the I/O
// manager that works on objects rather than on IRPs.
#include <cstdlib>
#include <cstring>

#include "KernelState.h"

namespace tapkernel {

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kDeviceQuarantine = 256;
constexpr uint8_t kFreedDeviceFill = 0xDD;

size_t RoundUp(size_t value)
{
    return (value + kAlign - 1) & ~(kAlign - 1);
}

void InitialiseEventFields(KEVENT &event, EVENT_TYPE type, bool signalled)
{
    event.Header.Type = type == SynchronizationEvent ? kEventSynchronizationObject : kEventNotificationObject;
    event.Header.Size = sizeof(KEVENT) / 4;
    event.Header.SignalState = signalled ? 1 : 0;
    event.Header.WaitListHead.Flink = &event.Header.WaitListHead;
    event.Header.WaitListHead.Blink = &event.Header.WaitListHead;
}

DriverRecord *LiveDriver(KernelState &state, const char *routine, PDRIVER_OBJECT driver)
{
    ObjectRecord *record = state.FindObject(driver);
    if (record == nullptr || record->kind != ObjectKind::Driver || record->freed) {
        BugCheck(routine, "%p is not a driver object", static_cast<void *>(driver));
    }
    return static_cast<DriverRecord *>(record);
}

void UnlinkFromDriver(PDEVICE_OBJECT device)
{
    PDEVICE_OBJECT *link = &device->DriverObject->DeviceObject;
    while (*link != nullptr && *link != device) {
        link = &(*link)->NextDevice;
    }
    if (*link == device) {
        *link = device->NextDevice;
    }
    device->NextDevice = nullptr;
}

} // namespace

void FreeDeviceMemory(KernelState &state, DeviceRecord *record)
{
    record->freed = true;
    ForgetLocksIn(state, record->block, record->blockSize);
    std::memset(record->block, kFreedDeviceFill, record->blockSize);
    state.freedDevices[reinterpret_cast<uintptr_t>(record->block)] = record;
    state.deviceQuarantine.push_back(record->device);
    while (state.deviceQuarantine.size() > kDeviceQuarantine) {
        const void *oldest = state.deviceQuarantine.front();
        state.deviceQuarantine.pop_front();
        auto it = state.objects.find(oldest);
        if (it != state.objects.end()) {
            auto *old = static_cast<DeviceRecord *>(it->second.get());
            state.freedDevices.erase(reinterpret_cast<uintptr_t>(old->block));
            std::free(old->block);
            state.objects.erase(it);
        }
    }
}

PDEVICE_OBJECT AttachedTop(PDEVICE_OBJECT device)
{
    while (device->AttachedDevice != nullptr) {
        device = device->AttachedDevice;
    }
    return device;
}

NTSTATUS OpenDeviceFile(const char *routine, std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT *file)
{
    RequireIrql(routine, PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    std::u16string remainder;
    NTSTATUS status = STATUS_SUCCESS;
    PDEVICE_OBJECT device = ResolveDevice(state, name, &remainder, &status);
    if (device == nullptr) {
        return status;
    }
    DeviceRecord *deviceRecord = state.LiveDevice(routine, device);
    auto *driver = static_cast<DriverRecord *>(state.FindObject(device->DriverObject));
    // Flags is read only once the record says the device is past its AddDevice (or for devices
    // made elsewhere), when the driver's stores to it are behind the kernel's lock.
    bool initializing = deviceRecord->initializing || (device->Flags & DO_DEVICE_INITIALIZING) != 0;
    if (deviceRecord->deleted || initializing || driver == nullptr || driver->unloaded) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if ((device->Flags & DO_EXCLUSIVE) != 0 && __atomic_load_n(&device->ReferenceCount, __ATOMIC_SEQ_CST) != 0) {
        return STATUS_ACCESS_DENIED;
    }
    __atomic_add_fetch(&device->ReferenceCount, 1, __ATOMIC_SEQ_CST);
    ++deviceRecord->references; // the file object holds its device

    auto record = std::make_unique<FileRecord>();
    FileRecord *fileRecord = record.get();
    FILE_OBJECT &object = fileRecord->object;
    fileRecord->body = &object;
    fileRecord->fileName = remainder;
    object.Type = IO_TYPE_FILE;
    object.Size = sizeof(FILE_OBJECT);
    object.DeviceObject = device;
    object.FileName.Buffer = reinterpret_cast<PWSTR>(fileRecord->fileName.data());
    object.FileName.Length = static_cast<USHORT>(fileRecord->fileName.size() * sizeof(WCHAR));
    object.FileName.MaximumLength = object.FileName.Length;
    object.ReadAccess = (access & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0;
    object.WriteAccess = (access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)) != 0;
    InitialiseEventFields(object.Lock, SynchronizationEvent, true);
    InitialiseEventFields(object.Event, NotificationEvent, false);
    object.IrpList.Flink = &object.IrpList;
    object.IrpList.Blink = &object.IrpList;
    fileRecord->handles = 1;
    fileRecord->opener = CurrentOwner();
    state.objects.emplace(&object, std::move(record));
    held.unlock();

    status = SendFileRequest(&object, IRP_MJ_CREATE, access, nullptr, 0, nullptr, 0, nullptr);
    if (!NT_SUCCESS(status)) {
        held.lock();
        __atomic_sub_fetch(&device->ReferenceCount, 1, __ATOMIC_SEQ_CST);
        RetireFileRecord(state, fileRecord); // a failed create gets no cleanup and no close
        held.unlock();
        DereferenceObject(routine, device, false);
        return status;
    }
    *file = &object;
    return STATUS_SUCCESS;
}

NTSTATUS SendFileRequest(PFILE_OBJECT file, UCHAR major, ULONG code, const void *input, ULONG inputLength,
                         void *output, ULONG outputLength, ULONG_PTR *information)
{
    RequireIrql("I/O request", PASSIVE_LEVEL, PASSIVE_LEVEL);
    PDEVICE_OBJECT device;
    {
        KernelState &state = State();
        std::lock_guard<std::mutex> held(state.lock);
        device = AttachedTop(file->DeviceObject);
    }
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    RequestParameters request;
    request.major = major;
    request.code = code;
    request.input = input;
    request.inputLength = inputLength;
    request.output = output;
    request.outputLength = outputLength;
    request.file = file;
    request.holdsFile = major != IRP_MJ_CREATE && major != IRP_MJ_CLEANUP && major != IRP_MJ_CLOSE;
    PIRP irp = BuildRequest("I/O request", device, request, &event, &ioStatus, Owner{});
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = CallDriverChecked("IoCallDriver", device, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    if (information != nullptr) {
        *information = ioStatus.Information;
    }
    return status;
}

void CloseFileHandle(PFILE_OBJECT file)
{
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    ObjectRecord *record = state.FindObject(file);
    if (record == nullptr || record->kind != ObjectKind::File || record->freed) {
        BugCheck("CloseHandle", "%p is not an open file object", static_cast<void *>(file));
    }
    auto *fileRecord = static_cast<FileRecord *>(record);
    bool cleanup = --fileRecord->handles == 0 && !fileRecord->cleanupSent;
    if (cleanup) {
        fileRecord->cleanupSent = true;
    }
    held.unlock();
    if (cleanup) {
        SendFileRequest(file, IRP_MJ_CLEANUP, 0, nullptr, 0, nullptr, 0, nullptr);
    }
    DereferenceObject("CloseHandle", file, false);
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG extensionSize, PUNICODE_STRING deviceName,
                                         DEVICE_TYPE deviceType, ULONG characteristics, BOOLEAN exclusive,
                                         PDEVICE_OBJECT *deviceObject)
{
    RequireIrql("IoCreateDevice", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (NTSTATUS injected; ConsumeRoutineFailure(KernelRoutine::IoCreateDevice, &injected)) {
        return injected;
    }
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    DriverRecord *driver = LiveDriver(state, "IoCreateDevice", driverObject);
    std::u16string name = FromUnicodeString(deviceName);
    std::u16string key;
    if (!name.empty()) {
        if (name[0] != u'\\') {
            return STATUS_OBJECT_NAME_INVALID;
        }
        key = NormalisePath(name);
        if (!ParentDirectoryExists(key)) {
            return STATUS_OBJECT_PATH_NOT_FOUND;
        }
        if (state.names.count(key) != 0) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
    }
    if (ConsumePoolFailure(driver->module)) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    size_t extensionOffset = RoundUp(sizeof(DEVICE_OBJECT));
    size_t devobjOffset = RoundUp(extensionOffset + extensionSize);
    size_t blockSize = devobjOffset + sizeof(DEVOBJ_EXTENSION);
    auto *block = static_cast<uint8_t *>(std::calloc(1, blockSize));
    auto *device = reinterpret_cast<PDEVICE_OBJECT>(block);
    auto *devobj = reinterpret_cast<PDEVOBJ_EXTENSION>(block + devobjOffset);
    device->Type = IO_TYPE_DEVICE;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extensionSize);
    device->DriverObject = driverObject;
    device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0) | (name.empty() ? 0 : DO_DEVICE_HAS_NAME);
    device->Characteristics = characteristics;
    device->DeviceExtension = extensionSize != 0 ? block + extensionOffset : nullptr;
    device->DeviceType = deviceType;
    device->StackSize = 1;
    device->Queue.ListEntry.Flink = &device->Queue.ListEntry;
    device->Queue.ListEntry.Blink = &device->Queue.ListEntry;
    InitialiseEventFields(device->DeviceLock, SynchronizationEvent, true);
    device->DeviceObjectExtension = devobj;
    devobj->Type = IO_TYPE_DEVICE_OBJECT_EXTENSION;
    devobj->Size = sizeof(DEVOBJ_EXTENSION);
    devobj->DeviceObject = device;
    device->NextDevice = driverObject->DeviceObject;
    driverObject->DeviceObject = device;

    auto record = std::make_unique<DeviceRecord>();
    record->body = device;
    record->device = device;
    record->block = block;
    record->blockSize = blockSize;
    record->extensionSize = extensionSize;
    record->module = driver->module;
    record->driverWide = driver->module != nullptr && driver->module->inDriverEntry;
    record->initializing = driver->module != nullptr && (driver->module->inDriverEntry || driver->module->inAddDevice);
    record->name = name;
    state.objects.emplace(device, std::move(record));
    if (!key.empty()) {
        NameEntry entry;
        entry.displayName = name;
        entry.device = device;
        entry.owner = Owner{driver->module, driver->module != nullptr && driver->module->inDriverEntry};
        state.names.emplace(key, std::move(entry));
    }
    *deviceObject = device;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device)
{
    RequireIrql("IoDeleteDevice", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    DeviceRecord *record = state.LiveDevice("IoDeleteDevice", device);
    if (record->deleted) {
        BugCheck("IoDeleteDevice", "device object %p is deleted twice", static_cast<void *>(device));
    }
    if (record->attachedTo != nullptr) {
        BugCheck("IoDeleteDevice", "device object %p is still attached to device %p (IoDetachDevice first)",
                 static_cast<void *>(device), static_cast<void *>(record->attachedTo));
    }
    // A device with another still attached on top of it is the middle of a stack being removed:
    // its driver passed IRP_MN_REMOVE_DEVICE down and deletes before the driver above detaches.
    // The object stays, delete-pending, until that detach (IoDetachDevice frees it then).
    record->deleted = true;
    record->deletedUnderUpper = device->AttachedDevice != nullptr;
    if (!record->name.empty()) {
        auto it = state.names.find(NormalisePath(record->name));
        if (it != state.names.end() && it->second.device == device) {
            state.names.erase(it);
        }
    }
    UnlinkFromDriver(device);
    if (--record->references == 0) {
        DeleteObjectRecord(state, record, held);
    }
}

extern "C" NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING linkName, PUNICODE_STRING deviceName)
{
    RequireIrql("IoCreateSymbolicLink", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (NTSTATUS injected; ConsumeRoutineFailure(KernelRoutine::IoCreateSymbolicLink, &injected)) {
        return injected;
    }
    std::u16string link = FromUnicodeString(linkName);
    std::u16string target = FromUnicodeString(deviceName);
    if (link.empty() || link[0] != u'\\' || target.empty()) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    std::u16string key = NormalisePath(link);
    if (!ParentDirectoryExists(key)) {
        return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    if (state.names.count(key) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    NameEntry entry;
    entry.displayName = link;
    entry.linkTarget = target;
    entry.owner = CurrentOwner();
    state.names.emplace(key, std::move(entry));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING linkName)
{
    RequireIrql("IoDeleteSymbolicLink", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    auto it = state.names.find(NormalisePath(FromUnicodeString(linkName)));
    if (it == state.names.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (it->second.device != nullptr) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    state.names.erase(it);
    return STATUS_SUCCESS;
}

extern "C" PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target)
{
    RequireIrql("IoAttachDeviceToDeviceStack", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (NTSTATUS injected; ConsumeRoutineFailure(KernelRoutine::IoAttachDeviceToDeviceStack, &injected)) {
        return nullptr;
    }
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    DeviceRecord *sourceRecord = state.LiveDevice("IoAttachDeviceToDeviceStack", source);
    DeviceRecord *targetRecord = state.LiveDevice("IoAttachDeviceToDeviceStack", target);
    if (sourceRecord->attachedTo != nullptr) {
        BugCheck("IoAttachDeviceToDeviceStack", "device object %p is already attached to device %p",
                 static_cast<void *>(source), static_cast<void *>(sourceRecord->attachedTo));
    }
    if (targetRecord->deleted) {
        return nullptr;
    }
    PDEVICE_OBJECT top = AttachedTop(target);
    if (top == source) {
        BugCheck("IoAttachDeviceToDeviceStack", "device object %p is attached to itself", static_cast<void *>(source));
    }
    top->AttachedDevice = source;
    source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    source->AlignmentRequirement = top->AlignmentRequirement;
    source->SectorSize = top->SectorSize;
    sourceRecord->attachedTo = top;
    return top;
}

extern "C" VOID NTAPI IoDetachDevice(PDEVICE_OBJECT target)
{
    RequireIrql("IoDetachDevice", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    DeviceRecord *record = state.LiveDevice("IoDetachDevice", target);
    PDEVICE_OBJECT upper = target->AttachedDevice;
    if (upper == nullptr) {
        BugCheck("IoDetachDevice", "no device is attached to device object %p", static_cast<void *>(target));
    }
    auto *upperRecord = static_cast<DeviceRecord *>(state.FindObject(upper));
    if (upperRecord != nullptr) {
        upperRecord->attachedTo = nullptr;
    }
    target->AttachedDevice = nullptr;
    if (record->deleted && record->references == 0) {
        DeleteObjectRecord(state, record, held); // the delete-pending device below goes now
    }
}

extern "C" PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT device)
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    state.LiveDevice("IoGetAttachedDeviceReference", device);
    PDEVICE_OBJECT top = AttachedTop(device);
    ++state.FindObject(top)->references;
    state.ChargeReference(top, CurrentOwner());
    return top;
}

extern "C" NTSTATUS NTAPI IoGetDeviceObjectPointer(PUNICODE_STRING objectName, ACCESS_MASK access,
                                                   PFILE_OBJECT *fileObject, PDEVICE_OBJECT *deviceObject)
{
    if (NTSTATUS injected; ConsumeRoutineFailure(KernelRoutine::IoGetDeviceObjectPointer, &injected)) {
        return injected;
    }
    PFILE_OBJECT file = nullptr;
    NTSTATUS status = OpenDeviceFile("IoGetDeviceObjectPointer", FromUnicodeString(objectName), access, &file);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    {
        // The caller's reference (ObReferenceObjectByHandle), then the open's handle is closed.
        KernelState &state = State();
        std::lock_guard<std::mutex> held(state.lock);
        ++state.FindObject(file)->references;
        state.ChargeReference(file, CurrentOwner());
    }
    CloseFileHandle(file);
    *fileObject = file;
    *deviceObject = AttachedTop(file->DeviceObject);
    return STATUS_SUCCESS;
}
