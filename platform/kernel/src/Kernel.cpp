// tapkernel::Kernel: the services of the stand-in for the simulated PC - loading drivers and
// calling their entry points, the verifier's leak checks, user-mode file I/O, the virtual clock
// and the idle test - plus the bookkeeping of which module is running.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <sstream>

#include "KernelState.h"

namespace tapkernel {

// Defined next to what they serve.
void WorkerLoop(KernelState *state);
InterfaceId AddInterface(KernelState &state, const GUID &interfaceClass, std::u16string_view link);
void RemoveInterface(KernelState &state, InterfaceId id);
std::string PoolTagText(ULONG tag);

namespace {

std::atomic<KernelState *> current{nullptr};
std::atomic<uint64_t> generations{0};
thread_local DriverModule *currentModule = nullptr;

NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp)
{
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER) {
        PoStartNextPowerIrp(irp);
    }
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

DriverRecord *DriverRecordOf(KernelState &state, const char *routine, PDRIVER_OBJECT driver)
{
    ObjectRecord *record = state.FindObject(driver);
    if (record == nullptr || record->kind != ObjectKind::Driver || record->freed) {
        BugCheck(routine, "%p is not a loaded driver object", static_cast<void *>(driver));
    }
    return static_cast<DriverRecord *>(record);
}

std::u16string LastComponent(const std::u16string &path)
{
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

void DeleteDriverRecord(KernelState &state, DriverRecord *record)
{
    auto it = state.names.find(NormalisePath(record->name));
    if (it != state.names.end() && it->second.device == nullptr && it->second.linkTarget.empty()) {
        state.names.erase(it);
    }
    record->unloaded = true;
    record->freed = true;
}

std::string Join(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items) {
        text += "\n    ";
        text += item;
    }
    return text;
}

void JoinFinishedThreads(KernelState &state)
{
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> held(state.lock);
        finished.swap(state.finishedHosts);
    }
    for (std::thread &thread : finished) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

} // namespace

// ---- Current module -----------------------------------------------------------------------------

DriverModule *CurrentModule()
{
    return currentModule;
}

void SetCurrentModule(DriverModule *module)
{
    currentModule = module;
}

Owner CurrentOwner()
{
    DriverModule *module = currentModule;
    return Owner{module, module != nullptr && module->inDriverEntry.load()};
}

ModuleScope::ModuleScope(DriverModule *module) : previous_(currentModule)
{
    currentModule = module;
}

ModuleScope::~ModuleScope()
{
    currentModule = previous_;
}

DriverCall::DriverCall(const char *routine, DriverModule *module)
    : routine_(routine), previous_(currentModule), irql_(CurrentIrql())
{
    currentModule = module;
}

DriverCall::~DriverCall()
{
    currentModule = previous_;
}

void DriverCall::CheckIrql()
{
    if (CurrentIrql() != irql_) {
        BugCheck(routine_, "returned at IRQL %u but was called at IRQL %u", CurrentIrql(), irql_);
    }
}

// ---- State --------------------------------------------------------------------------------------

KernelState &State()
{
    KernelState *state = current.load();
    if (state == nullptr) {
        BugCheck("kernel", "no tapkernel::Kernel exists: create one before calling kernel routines");
    }
    return *state;
}

KernelState *TryState()
{
    return current.load();
}

KernelState::KernelState(KernelOptions opts)
    : generation(++generations), options(std::move(opts)), registry(options.registry),
      bootTime(options.bootSystemTime), now(options.bootSystemTime)
{
    if (!registry) {
        registry = std::make_shared<RegistryStore>();
    }
    workEvent.Header.Type = kEventSynchronizationObject;
    workEvent.Header.Size = sizeof(KEVENT) / 4;
    workEvent.Header.WaitListHead.Flink = &workEvent.Header.WaitListHead;
    workEvent.Header.WaitListHead.Blink = &workEvent.Header.WaitListHead;
}

KernelState::~KernelState()
{
    for (auto &entry : objects) {
        if (entry.second->kind == ObjectKind::Device) {
            auto *device = static_cast<DeviceRecord *>(entry.second.get());
            std::free(device->block);
        }
    }
    for (auto &entry : irps) {
        std::free(entry.second->irp);
    }
    for (auto &entry : pool) {
        std::free(const_cast<void *>(entry.first));
    }
}

// ---- Holdings -----------------------------------------------------------------------------------

namespace {

DriverModule *ModuleOfDevice(KernelState &state, PDEVICE_OBJECT device)
{
    auto *record = device != nullptr ? static_cast<DeviceRecord *>(state.FindObject(device)) : nullptr;
    return record != nullptr ? record->module : nullptr;
}

// Whether module's driver holds a request on file, a file object whose handles are all closed:
// the driver should have completed it at IRP_MJ_CLEANUP, and the object lives on only for it.
bool HoldsRequestOfClosedFile(KernelState &state, const FileRecord *file, DriverModule *module)
{
    if (file->handles != 0) {
        return false;
    }
    for (auto &entry : state.irps) {
        const IrpRecord &irp = *entry.second;
        if (!irp.freed && irp.holdsFile && irp.file == &file->object &&
            ModuleOfDevice(state, HoldingDevice(irp)) == module) {
            return true;
        }
    }
    return false;
}

// A deleted device of module whose remaining references all come from live file objects that
// the module neither opened nor holds a reference to: open handles of programs (or of other
// drivers). Requests on them still reach the driver; the device goes at their last close. A file
// object whose handles are closed and that a request held by the module keeps alive is the
// module's.
bool HeldOnlyByOthersFiles(KernelState &state, const DeviceRecord *device, DriverModule *module)
{
    LONG files = 0;
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind != ObjectKind::File || object->freed) {
            continue;
        }
        auto *file = static_cast<FileRecord *>(object);
        if (file->object.DeviceObject != device->device) {
            continue;
        }
        if (file->opener.module == module || state.references.count({module, file->body}) != 0 ||
            HoldsRequestOfClosedFile(state, file, module)) {
            return false; // the driver's own open, or a request it keeps: its leak
        }
        ++files;
    }
    return files != 0 && files == device->references;
}

} // namespace

std::vector<std::string> ModuleHoldings(KernelState &state, DriverModule *module, LeakCheck check)
{
    std::vector<std::string> found;
    const bool laterOnly = check == LeakCheck::Removal;
    auto counts = [&](const Owner &owner) { return owner.module == module && (!laterOnly || !owner.driverWide); };
    char line[256];
    for (auto &entry : state.pool) {
        if (counts(entry.second.owner)) {
            std::snprintf(line, sizeof line, "pool block %p: %zu bytes, tag '%s'", entry.first, entry.second.size,
                          PoolTagText(entry.second.tag).c_str());
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.irps) {
        const IrpRecord &irp = *entry.second;
        if (!irp.freed && counts(irp.owner)) {
            std::snprintf(line, sizeof line, "IRP %p (not freed)", entry.first);
            found.emplace_back(line);
        }
        // A request of the I/O manager is charged to nobody, but one the driver still holds after
        // the last handle of its file was closed keeps that file object (and its device) alive.
        if (!irp.freed && irp.holdsFile) {
            auto *file = static_cast<FileRecord *>(state.FindObject(irp.file));
            PDEVICE_OBJECT holder = HoldingDevice(irp);
            if (file != nullptr && file->handles == 0 && ModuleOfDevice(state, holder) == module) {
                std::snprintf(line, sizeof line,
                              "IRP %p (major function 0x%02x) of file object %p, whose handles are all closed, "
                              "still pending in device %p",
                              entry.first, irp.locations[static_cast<size_t>(HoldingLocation(irp))].majorFunction,
                              static_cast<void *>(irp.file), static_cast<void *>(holder));
                found.emplace_back(line);
            }
        }
    }
    for (auto &entry : state.references) {
        if (entry.first.first != module) {
            continue;
        }
        LONG count = entry.second.later + (laterOnly ? 0 : entry.second.driverWide);
        if (count > 0) {
            ObjectRecord *object = state.FindObject(entry.first.second);
            const char *kind = object == nullptr ? "object" :
                               object->kind == ObjectKind::Device ? "device object" :
                               object->kind == ObjectKind::File ? "file object" :
                               object->kind == ObjectKind::Thread ? "thread object" : "driver object";
            std::snprintf(line, sizeof line, "%d reference(s) on %s %p", static_cast<int>(count), kind,
                          entry.first.second);
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.handles) {
        if (counts(entry.second.owner)) {
            std::snprintf(line, sizeof line, "open handle %p (%s)", entry.first,
                          entry.second.key ? "registry key" :
                          entry.second.object->kind == ObjectKind::Thread ? "thread" : "file");
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind == ObjectKind::Device && !object->freed) {
            auto *device = static_cast<DeviceRecord *>(object);
            if (device->module == module && (!laterOnly || !device->driverWide) &&
                !(check == LeakCheck::Removal && device->deleted && device->device->AttachedDevice == nullptr &&
                  HeldOnlyByOthersFiles(state, device, module))) {
                const char *condition = !device->deleted ? "not deleted" :
                                        device->device->AttachedDevice != nullptr ? "deleted, a device still attached above it" :
                                        "deleted but still referenced";
                std::snprintf(line, sizeof line, "device object %p (%s) %s", static_cast<void *>(device->device),
                              device->name.empty() ? "unnamed" : ToUtf8(device->name).c_str(), condition);
                found.emplace_back(line);
            }
        }
        if (object->kind == ObjectKind::Thread) {
            auto *thread = static_cast<ThreadRecord *>(object);
            if (thread->systemThread && !thread->terminated && counts(thread->owner)) {
                std::snprintf(line, sizeof line, "%s still running", thread->name.c_str());
                found.emplace_back(line);
            }
        }
    }
    for (auto &entry : state.names) {
        if (!entry.second.linkTarget.empty() && counts(entry.second.owner)) {
            found.push_back("symbolic link " + ToUtf8(entry.second.displayName));
        }
    }
    for (auto &entry : state.registrations) {
        if (counts(entry.second->owner)) {
            std::snprintf(line, sizeof line, "PnP notification registration %p", entry.first);
            found.emplace_back(line);
        }
    }
    return found;
}

ModuleUsage CountUsage(KernelState &state, DriverModule *module)
{
    ModuleUsage usage;
    for (auto &entry : state.pool) {
        if (entry.second.owner.module == module) {
            ++usage.poolBlocks;
            usage.poolBytes += entry.second.size;
        }
    }
    for (auto &entry : state.irps) {
        usage.irps += !entry.second->freed && entry.second->owner.module == module;
    }
    for (auto &entry : state.references) {
        if (entry.first.first == module) {
            usage.objectReferences += static_cast<size_t>(entry.second.later + entry.second.driverWide);
        }
    }
    for (auto &entry : state.handles) {
        usage.handles += entry.second.owner.module == module;
    }
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind == ObjectKind::Device && !object->freed) {
            auto *device = static_cast<DeviceRecord *>(object);
            usage.devices += device->module == module && !device->deleted;
            usage.deletePendingDevices += device->module == module && device->deleted;
        }
        if (object->kind == ObjectKind::Thread) {
            auto *thread = static_cast<ThreadRecord *>(object);
            usage.threads += thread->systemThread && !thread->terminated && thread->owner.module == module;
        }
    }
    for (auto &entry : state.names) {
        usage.symbolicLinks += !entry.second.linkTarget.empty() && entry.second.owner.module == module;
    }
    for (auto &entry : state.registrations) {
        usage.notifications += entry.second->owner.module == module;
    }
    return usage;
}

// ---- Kernel -------------------------------------------------------------------------------------

Kernel::Kernel(KernelOptions options) : state_(std::make_unique<KernelState>(std::move(options)))
{
    KernelState *expected = nullptr;
    if (!current.compare_exchange_strong(expected, state_.get())) {
        BugCheck("Kernel", "a kernel already exists; destroy it before creating another");
    }
    KernelState *state = state_.get();
    state->owner = this;
    state->worker = CreateKernelThread("system worker", Owner{}, [state] { WorkerLoop(state); });
}

Kernel::~Kernel()
{
    KernelState &state = *state_;
    std::vector<std::thread> hosts;
    {
        std::lock_guard<std::mutex> held(state.lock);
        WakeAllForShutdown(state);
    }
    // Every system thread ends: waiting ones leave their wait, running ones finish their work.
    for (;;) {
        std::vector<std::thread> batch;
        {
            std::lock_guard<std::mutex> held(state.lock);
            for (ThreadRecord *thread : state.threads) {
                if (thread->systemThread && thread->host.joinable()) {
                    batch.push_back(std::move(thread->host));
                }
            }
            for (std::thread &thread : state.finishedHosts) {
                batch.push_back(std::move(thread));
            }
            state.finishedHosts.clear();
        }
        if (batch.empty()) {
            break;
        }
        for (std::thread &thread : batch) {
            thread.join();
        }
    }
    current.store(nullptr);
}

Kernel &Kernel::Current()
{
    Kernel *kernel = TryCurrent();
    if (kernel == nullptr) {
        BugCheck("Kernel::Current", "no tapkernel::Kernel exists");
    }
    return *kernel;
}

Kernel *Kernel::TryCurrent()
{
    KernelState *state = current.load();
    return state == nullptr ? nullptr : state->owner;
}

RegistryStore &Kernel::Registry()
{
    return *state_->registry;
}

DriverModule *Kernel::CreateModule(const std::string &name, ModuleOptions options)
{
    std::lock_guard<std::mutex> held(state_->lock);
    auto module = std::make_unique<DriverModule>();
    module->name = name;
    module->options = options;
    state_->modules.push_back(std::move(module));
    return state_->modules.back().get();
}

DriverModule *Kernel::ModuleOf(PDRIVER_OBJECT driver)
{
    std::lock_guard<std::mutex> held(state_->lock);
    return DriverRecordOf(*state_, "Kernel::ModuleOf", driver)->module;
}

const std::string &Kernel::ModuleName(DriverModule *module)
{
    return module->name;
}

NTSTATUS Kernel::LoadDriver(DriverModule *module, std::u16string_view driverName, PDRIVER_INITIALIZE entry,
                            std::u16string_view registryPath, PDRIVER_OBJECT *driverObject)
{
    RequireIrql("Kernel::LoadDriver", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = *state_;
    DriverRecord *record = nullptr;
    {
        std::lock_guard<std::mutex> held(state.lock);
        std::u16string key = NormalisePath(driverName);
        if (state.names.count(key) != 0) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
        auto owned = std::make_unique<DriverRecord>();
        record = owned.get();
        record->body = &record->object;
        record->module = module;
        record->name = std::u16string(driverName);
        // Not NUL-terminated, as drivers must expect: a non-NUL character follows the path.
        record->registryPath = std::u16string(registryPath) + u'\xFFFF';
        record->registryPathString.Buffer = reinterpret_cast<PWSTR>(record->registryPath.data());
        record->registryPathString.Length = static_cast<USHORT>(registryPath.size() * sizeof(WCHAR));
        record->registryPathString.MaximumLength = record->registryPathString.Length;
        DRIVER_OBJECT &object = record->object;
        object.Type = IO_TYPE_DRIVER;
        object.Size = sizeof(DRIVER_OBJECT);
        object.DriverExtension = &record->extension;
        object.DriverName.Buffer = reinterpret_cast<PWSTR>(record->name.data());
        object.DriverName.Length = static_cast<USHORT>(record->name.size() * sizeof(WCHAR));
        object.DriverName.MaximumLength = object.DriverName.Length;
        object.DriverInit = entry;
        for (PDRIVER_DISPATCH &dispatch : object.MajorFunction) {
            dispatch = InvalidDeviceRequest;
        }
        record->extension.DriverObject = &object;
        record->serviceName = LastComponent(std::u16string(registryPath));
        record->extension.ServiceKeyName.Buffer = reinterpret_cast<PWSTR>(record->serviceName.data());
        record->extension.ServiceKeyName.Length = static_cast<USHORT>(record->serviceName.size() * sizeof(WCHAR));
        record->extension.ServiceKeyName.MaximumLength = record->extension.ServiceKeyName.Length;
        state.objects.emplace(&record->object, std::move(owned));
        NameEntry name;
        name.displayName = record->name;
        state.names.emplace(key, std::move(name));
    }
    NTSTATUS status;
    module->inDriverEntry = true;
    {
        DriverCall call("DriverEntry", module);
        status = entry(&record->object, &record->registryPathString);
        call.CheckIrql();
    }
    module->inDriverEntry = false;
    if (NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> held(state.lock);
        for (PDEVICE_OBJECT device = record->object.DeviceObject; device != nullptr; device = device->NextDevice) {
            device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
        }
        *driverObject = &record->object;
        return status;
    }
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state.lock);
    std::vector<std::string> left = ModuleHoldings(state, module, LeakCheck::Unload);
    if (!left.empty()) {
        BugCheck("DriverEntry (leak check)", "DriverEntry of %s failed with 0x%08x but left behind:%s",
                 module->name.c_str(), static_cast<unsigned>(status), Join(left).c_str());
    }
    DeleteDriverRecord(state, record);
    return status;
}

NTSTATUS Kernel::AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    RequireIrql("Kernel::AddDevice", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = *state_;
    DriverModule *module = nullptr;
    PDRIVER_ADD_DEVICE addDevice = nullptr;
    {
        std::lock_guard<std::mutex> held(state.lock);
        DriverRecord *record = DriverRecordOf(state, "Kernel::AddDevice", driver);
        state.LiveDevice("Kernel::AddDevice", pdo);
        module = record->module;
        addDevice = record->extension.AddDevice;
    }
    if (addDevice == nullptr) {
        BugCheck("Kernel::AddDevice", "driver %s sets no DriverExtension->AddDevice", module->name.c_str());
    }
    NTSTATUS status;
    {
        DriverCall call("AddDevice", module);
        status = addDevice(driver, pdo);
        call.CheckIrql();
    }
    if (NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> held(state.lock);
        for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
            if ((device->Flags & DO_DEVICE_INITIALIZING) != 0) {
                BugCheck("AddDevice", "device object %p of %s still has DO_DEVICE_INITIALIZING after AddDevice",
                         static_cast<void *>(device), module->name.c_str());
            }
        }
    }
    return status;
}

void Kernel::UnloadDriver(PDRIVER_OBJECT driver)
{
    RequireIrql("Kernel::UnloadDriver", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = *state_;
    WaitUntilIdle();
    DriverModule *module = nullptr;
    PDRIVER_UNLOAD unload = nullptr;
    {
        std::lock_guard<std::mutex> held(state.lock);
        DriverRecord *record = DriverRecordOf(state, "Kernel::UnloadDriver", driver);
        module = record->module;
        unload = record->object.DriverUnload;
    }
    if (unload == nullptr) {
        BugCheck("Kernel::UnloadDriver", "driver %s has no Unload routine and cannot be unloaded", module->name.c_str());
    }
    {
        DriverCall call("DriverUnload", module);
        unload(driver);
        call.CheckIrql();
    }
    CheckReleasedAll(module);
    std::lock_guard<std::mutex> held(state.lock);
    DeleteDriverRecord(state, DriverRecordOf(state, "Kernel::UnloadDriver", driver));
}

void Kernel::CheckDeviceRemoval(DriverModule *module)
{
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state_->lock);
    // Every driver of the stack has handled IRP_MN_REMOVE_DEVICE: a device of this module that
    // was deleted under another must have lost it (the driver above detaches after passing the
    // request down).
    for (auto &entry : state_->objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind != ObjectKind::Device || object->freed) {
            continue;
        }
        auto *device = static_cast<DeviceRecord *>(object);
        PDEVICE_OBJECT upper = device->device->AttachedDevice;
        if (device->module == module && device->deleted && upper != nullptr) {
            auto *upperRecord = static_cast<DeviceRecord *>(state_->FindObject(upper));
            DriverModule *upperModule = upperRecord != nullptr ? upperRecord->module : nullptr;
            BugCheck("device removal (leak check)",
                     "device object %p of %s was deleted, but device %p (%s) is still attached above it at the end "
                     "of the removal: the driver above never detached (IoDetachDevice)",
                     static_cast<void *>(device->device), module->name.c_str(), static_cast<void *>(upper),
                     upperModule != nullptr ? upperModule->name.c_str() : "the machine");
        }
    }
    if (CountUsage(*state_, module).devices != 0) {
        return; // other device stacks of the driver are still present
    }
    std::vector<std::string> left = ModuleHoldings(*state_, module, LeakCheck::Removal);
    if (!left.empty()) {
        BugCheck("device removal (leak check)", "%s still holds, after its devices were removed:%s",
                 module->name.c_str(), Join(left).c_str());
    }
}

void Kernel::CheckReleasedAll(DriverModule *module)
{
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state_->lock);
    std::vector<std::string> left = ModuleHoldings(*state_, module, LeakCheck::Unload);
    if (!left.empty()) {
        BugCheck("driver unload (leak check)", "%s still holds at unload:%s", module->name.c_str(), Join(left).c_str());
    }
}

ModuleUsage Kernel::Usage(DriverModule *module)
{
    std::lock_guard<std::mutex> held(state_->lock);
    return CountUsage(*state_, module);
}

void Kernel::FailPoolAllocations(DriverModule *module, unsigned skip, unsigned count)
{
    std::lock_guard<std::mutex> held(state_->lock);
    module->poolFailSkip = skip;
    module->poolFailCount = count;
}

void Kernel::FailIrpAllocations(DriverModule *module, unsigned skip, unsigned count)
{
    std::lock_guard<std::mutex> held(state_->lock);
    module->irpFailSkip = skip;
    module->irpFailCount = count;
}

PDEVICE_OBJECT Kernel::FindDevice(std::u16string_view name)
{
    std::lock_guard<std::mutex> held(state_->lock);
    std::u16string remainder;
    NTSTATUS status;
    return ResolveDevice(*state_, name, &remainder, &status);
}

std::optional<std::u16string> Kernel::LinkTarget(std::u16string_view linkName)
{
    std::lock_guard<std::mutex> held(state_->lock);
    auto it = state_->names.find(NormalisePath(linkName));
    if (it == state_->names.end() || it->second.linkTarget.empty()) {
        return std::nullopt;
    }
    return it->second.linkTarget;
}

bool Kernel::IsDeviceDeleted(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> held(state_->lock);
    ObjectRecord *record = state_->FindObject(device);
    return record == nullptr || record->freed || static_cast<DeviceRecord *>(record)->deleted;
}

NTSTATUS Kernel::OpenFile(std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT *file)
{
    return OpenDeviceFile("Kernel::OpenFile", name, access, file);
}

NTSTATUS Kernel::DeviceIoControl(PFILE_OBJECT file, ULONG code, const void *input, ULONG inputLength, void *output,
                                 ULONG outputLength, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_DEVICE_CONTROL, code, input, inputLength, output, outputLength, information);
}

NTSTATUS Kernel::Read(PFILE_OBJECT file, void *buffer, ULONG length, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_READ, 0, nullptr, 0, buffer, length, information);
}

NTSTATUS Kernel::Write(PFILE_OBJECT file, const void *buffer, ULONG length, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_WRITE, 0, buffer, length, nullptr, 0, information);
}

void Kernel::CloseFile(PFILE_OBJECT file)
{
    CloseFileHandle(file);
}

void Kernel::ReferenceFile(PFILE_OBJECT file)
{
    std::lock_guard<std::mutex> held(state_->lock);
    ObjectRecord *record = state_->FindObject(file);
    if (record == nullptr || record->kind != ObjectKind::File || record->freed) {
        BugCheck("Kernel::ReferenceFile", "%p is not an open file object", static_cast<void *>(file));
    }
    ++record->references;
}

void Kernel::DereferenceFile(PFILE_OBJECT file)
{
    RequireIrql("Kernel::DereferenceFile", PASSIVE_LEVEL, PASSIVE_LEVEL);
    DereferenceObject("Kernel::DereferenceFile", file, false);
}

size_t Kernel::CloseUserFiles()
{
    RequireIrql("Kernel::CloseUserFiles", PASSIVE_LEVEL, PASSIVE_LEVEL);
    std::vector<std::pair<PFILE_OBJECT, LONG>> open;
    {
        std::lock_guard<std::mutex> held(state_->lock);
        for (auto &entry : state_->objects) {
            ObjectRecord *object = entry.second.get();
            if (object->kind != ObjectKind::File || object->freed) {
                continue;
            }
            auto *file = static_cast<FileRecord *>(object);
            if (file->handles > 0 && file->opener.module == nullptr) {
                open.emplace_back(&file->object, file->handles);
            }
        }
    }
    size_t closed = 0;
    for (auto &[file, handles] : open) {
        for (LONG i = 0; i < handles; ++i, ++closed) {
            CloseFileHandle(file);
        }
    }
    return closed;
}

InterfaceId Kernel::RegisterDeviceInterface(const GUID &interfaceClass, std::u16string_view symbolicLinkName)
{
    return AddInterface(*state_, interfaceClass, symbolicLinkName);
}

void Kernel::RemoveDeviceInterface(InterfaceId id)
{
    RemoveInterface(*state_, id);
}

PKTHREAD Kernel::StartThread(const std::string &name, std::function<void()> body)
{
    Owner owner = CurrentOwner();
    PKTHREAD thread = CreateKernelThread(name, owner, std::move(body));
    std::lock_guard<std::mutex> held(state_->lock);
    state_->ChargeReference(thread, owner);
    return thread;
}

void Kernel::WaitUntilIdle()
{
    RequireIrql("Kernel::WaitUntilIdle", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = *state_;
    std::unique_lock<std::mutex> held(state.lock);
    ThreadRecord *self = CurrentThread(state, held);
    // Idle already, with no probe to ask and no ended thread to join: the common case between
    // two steps of the machine.
    if (state.finishedHosts.empty() && state.idleProbes.empty() &&
        (BusyExcluding(state, self) == 0 || state.shuttingDown)) {
        return;
    }
    held.unlock();
    JoinFinishedThreads(state);
    held.lock();
    auto deadline = std::chrono::steady_clock::now() + state.options.idleLimit;
    for (;;) {
        bool idle = state.idleChanged.wait_until(held, deadline, [&] {
            return BusyExcluding(state, self) == 0 || state.shuttingDown;
        });
        if (!idle) {
            std::vector<std::string> busy = BusyThreadNames(state, self);
            BugCheck("Kernel::WaitUntilIdle", "the machine did not become idle within %lld ms; still running:%s",
                     static_cast<long long>(state.options.idleLimit.count()), Join(busy).c_str());
        }
        std::vector<std::function<bool()>> probes;
        for (auto &entry : state.idleProbes) {
            probes.push_back(entry.second);
        }
        held.unlock();
        bool quiet = true;
        for (auto &probe : probes) {
            quiet = quiet && !probe();
        }
        held.lock();
        if (quiet && (BusyExcluding(state, self) == 0 || state.shuttingDown)) {
            return;
        }
        if (!quiet) {
            // Probes do not signal; look again shortly.
            state.idleChanged.wait_for(held, std::chrono::milliseconds(1));
            if (std::chrono::steady_clock::now() > deadline) {
                BugCheck("Kernel::WaitUntilIdle", "an idle probe of the machine stayed busy for %lld ms",
                         static_cast<long long>(state.options.idleLimit.count()));
            }
        }
    }
}

Kernel::IdleProbeId Kernel::AddIdleProbe(std::function<bool()> isBusy)
{
    std::lock_guard<std::mutex> held(state_->lock);
    IdleProbeId id = state_->nextProbe++;
    state_->idleProbes.emplace(id, std::move(isBusy));
    return id;
}

void Kernel::RemoveIdleProbe(IdleProbeId id)
{
    std::lock_guard<std::mutex> held(state_->lock);
    state_->idleProbes.erase(id);
}

void Kernel::SetTime(LONGLONG systemTime)
{
    std::lock_guard<std::mutex> held(state_->lock);
    if (systemTime < state_->now) {
        BugCheck("Kernel::SetTime", "the clock does not run backwards");
    }
    state_->now = systemTime;
    ExpireWaits(*state_);
}

bool Kernel::IsIdle()
{
    std::unique_lock<std::mutex> held(state_->lock);
    return BusyExcluding(*state_, CurrentThread(*state_, held)) == 0;
}

std::vector<std::string> Kernel::BusyThreads()
{
    std::unique_lock<std::mutex> held(state_->lock);
    return BusyThreadNames(*state_, CurrentThread(*state_, held));
}

LONGLONG Kernel::SystemTime()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return state_->now;
}

LONGLONG Kernel::TimeSinceBoot()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return state_->now - state_->bootTime;
}

void Kernel::AdvanceClock(LONGLONG duration)
{
    if (duration < 0) {
        BugCheck("Kernel::AdvanceClock", "the clock does not run backwards (%lld)", static_cast<long long>(duration));
    }
    WaitUntilIdle();
    LONGLONG target;
    {
        std::lock_guard<std::mutex> held(state_->lock);
        target = state_->now + duration;
    }
    for (;;) {
        bool stepped = false;
        {
            std::lock_guard<std::mutex> held(state_->lock);
            std::optional<LONGLONG> next = EarliestDeadline(*state_);
            if (next && *next <= target) {
                state_->now = std::max(state_->now, *next);
                ExpireWaits(*state_);
                stepped = true;
            } else {
                state_->now = target;
            }
        }
        WaitUntilIdle();
        if (!stepped) {
            return;
        }
    }
}

std::optional<LONGLONG> Kernel::NextDeadline()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return EarliestDeadline(*state_);
}

uint64_t Kernel::PowerIrpsStarted()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return state_->powerIrpsStarted;
}

// ---- ThreadRegistration -------------------------------------------------------------------------

ThreadRegistration::ThreadRegistration(const std::string &name) : thread_(nullptr)
{
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    ThreadRecord *thread = CurrentThread(state, held);
    if (thread->counted) {
        BugCheck("ThreadRegistration", "thread '%s' is already counted", thread->name.c_str());
    }
    thread->name = name;
    thread->counted = true;
    if (!thread->waiting) {
        ++state.busyCounted;
    }
    thread_ = thread;
}

ThreadRegistration::~ThreadRegistration()
{
    KernelState *state = TryState();
    if (state == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> held(state->lock);
    auto *thread = static_cast<ThreadRecord *>(thread_);
    if (std::find(state->threads.begin(), state->threads.end(), thread) == state->threads.end()) {
        return;
    }
    if (!thread->waiting) {
        --state->busyCounted;
    }
    thread->counted = false;
    state->idleChanged.notify_all();
}

// ---- DriverImage --------------------------------------------------------------------------------

DriverImage::DriverImage(void *handle, std::string path, PDRIVER_INITIALIZE entry)
    : handle_(handle), path_(std::move(path)), entry_(entry)
{
}

std::unique_ptr<DriverImage> DriverImage::Load(const std::string &path, std::string *error)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) {
            *error = dlerror();
        }
        return nullptr;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(handle, "DriverEntry"));
    if (entry == nullptr) {
        if (error != nullptr) {
            *error = path + " has no DriverEntry";
        }
        dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<DriverImage>(new DriverImage(handle, path, entry));
}

DriverImage::~DriverImage()
{
    dlclose(handle_);
}

void *DriverImage::Symbol(const char *name) const
{
    return dlsym(handle_, name);
}

} // namespace tapkernel
