// Driver loading: driver modules and their images, DriverEntry, AddDevice and DriverUnload, with
// the checks the I/O manager makes around each call.
#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "KernelState.h"

namespace tapkernel {

namespace {

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
} // namespace

DriverModule *Kernel::CreateModule(const std::string &name, ModuleOptions options)
{
    std::lock_guard<std::mutex> held(state_->lock);
    auto module = std::make_unique<DriverModule>();
    module->name = name;
    module->options = options;
    ArmNewModule(module.get());
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
            static_cast<DeviceRecord *>(state.FindObject(device))->initializing = false;
        }
        *driverObject = &record->object;
        return status;
    }
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state.lock);
    std::vector<std::string> left = ModuleHoldings(state, module, LeakCheck::Unload);
    if (!left.empty()) {
        BugCheck("DriverEntry (leak check)", "DriverEntry of %s failed with 0x%08x but left behind:%s",
                 module->name.c_str(), static_cast<unsigned>(status), JoinLines(left).c_str());
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
        module->inAddDevice = true;
        status = addDevice(driver, pdo);
        module->inAddDevice = false;
        call.CheckIrql();
    }
    if (NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> held(state.lock);
        for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
            if ((device->Flags & DO_DEVICE_INITIALIZING) != 0) {
                BugCheck("AddDevice", "device object %p of %s still has DO_DEVICE_INITIALIZING after AddDevice",
                         static_cast<void *>(device), module->name.c_str());
            }
            // Read by the thread that ran AddDevice: from now on the device may be opened.
            static_cast<DeviceRecord *>(state.FindObject(device))->initializing = false;
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
    // A completion routine that released the last remove lock may still be on its way out on
    // another thread: the image goes only once no thread runs any of the driver's code.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (module->callsRunning.load() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            BugCheck("Kernel::UnloadDriver", "a routine of %s has not returned for 10 s; it cannot be unloaded",
                     module->name.c_str());
        }
        std::this_thread::yield();
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
