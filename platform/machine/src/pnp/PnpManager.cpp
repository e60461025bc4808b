// The PnP manager: device nodes from HKLM\SYSTEM\CurrentControlSet\Enum, their driver stacks,
// and the PnP requests that start, stop and remove them.
//
// A node's key holds HardwareID, Service, ClassGUID and optionally LowerFilters/UpperFilters;
// the class key (Control\Class\{guid}) may add its own filters. A stack is built bottom up, as
// Windows does: the node's lower filters, the class's lower filters, the function driver, the
// node's upper filters, the class's upper filters (the mouse class driver for a mouse). Each
// driver is loaded on first use from its service's ImagePath and unloaded when no stack holds
// one of its devices; the kernel's leak checks run after every removal and at every unload.
// As on Windows, a driver stays loaded while a device object of its still exists after the
// removal (deleted, but held by a handle that is still open, as a tool may hold a control
// device): it is unloaded once the last such handle is closed, at the machine's next idle point.
#include "MachineState.h"

#include <tapkernel/Text.h>

#include <cstdio>

namespace tapmachine {

namespace {

constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusProcedureNotFound = static_cast<NTSTATUS>(0xC000007A);
constexpr NTSTATUS kStatusInvalidImageFormat = static_cast<NTSTATUS>(0xC000007B);

const std::u16string kEnumKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
const std::u16string kServicesKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const std::u16string kClassKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";

std::u16string StringOf(const std::vector<uint8_t> &data)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text += c;
    }
    return text;
}

std::vector<std::u16string> StringsOf(const std::vector<uint8_t> &data)
{
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c != 0) {
            current += c;
        } else if (current.empty()) {
            break;
        } else {
            strings.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) {
        strings.push_back(current);
    }
    return strings;
}

std::string Narrow(std::u16string_view text)
{
    return tapkernel::ToUtf8(text);
}

IO_COMPLETION_ROUTINE PnpRequestDone;

NTSTATUS NTAPI PnpRequestDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// The name a service's image path stands for, with %SystemRoot% as the system writes it.
std::u16string ExpandImagePath(std::u16string path)
{
    const std::u16string variable = u"%SystemRoot%";
    if (path.size() >= variable.size() && tapkernel::EqualsNoCase(std::u16string_view(path).substr(0, variable.size()), variable)) {
        path = u"\\SystemRoot" + path.substr(variable.size());
    }
    return path;
}

}  // namespace

// ---- Nodes ---------------------------------------------------------------------------------------

void MachineState::CreateDeviceKey(std::u16string_view instanceId, std::u16string_view hardwareId,
                                   std::u16string_view service, std::u16string_view classGuid)
{
    tapkernel::RegistryKeyRef key = OpenKey(kEnumKey + std::u16string(instanceId), true);
    auto set = [&](std::u16string_view name, uint32_t type, const std::vector<uint8_t> &data) {
        registry_->SetValue(key, name, type, data.data(), data.size());
    };
    set(u"HardwareID", kRegMultiSz, MultiStringData({std::u16string(hardwareId)}));
    set(u"Service", kRegSz, StringData(service));
    set(u"ClassGUID", kRegSz, StringData(classGuid));
    if (auto classKey = OpenKey(kClassKey + std::u16string(classGuid), false)) {
        if (auto className = registry_->QueryValue(classKey, u"Class")) {
            set(u"Class", kRegSz, className->data);
        }
    }
    set(u"ConfigFlags", kRegDword, DwordData(0));
}

std::u16string MachineState::CreateRootDevice(std::u16string_view hardwareId, std::u16string_view service,
                                              std::u16string_view classGuid)
{
    std::u16string className = u"UNKNOWN";
    if (auto classKey = OpenKey(kClassKey + std::u16string(classGuid), false)) {
        if (auto value = registry_->QueryValue(classKey, u"Class")) {
            className = tapkernel::UpperCase(StringOf(value->data));
        }
    }
    for (unsigned n = 0; n < 10000; ++n) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", n);
        std::u16string id = u"ROOT\\" + className + u"\\" + tapkernel::ToUtf16(digits);
        if (!OpenKey(kEnumKey + id, false)) {
            CreateDeviceKey(id, hardwareId, service, classGuid);
            RecordEvent("device created " + Narrow(id) + " " + Narrow(hardwareId));
            return id;
        }
    }
    throw std::runtime_error("no free instance number for a root device");
}

DeviceNode *MachineState::FindNode(std::u16string_view instanceId)
{
    auto found = nodes_.find(tapkernel::UpperCase(instanceId));
    return found == nodes_.end() ? nullptr : found->second.get();
}

DeviceNode &MachineState::Node(std::u16string_view instanceId)
{
    if (DeviceNode *node = FindNode(instanceId)) {
        return *node;
    }
    if (!OpenKey(kEnumKey + std::u16string(instanceId), false)) {
        throw std::invalid_argument("no device node " + Narrow(instanceId));
    }
    auto node = std::make_unique<DeviceNode>();
    node->instanceId = std::u16string(instanceId);
    DeviceNode &result = *node;
    nodes_[tapkernel::UpperCase(instanceId)] = std::move(node);
    return result;
}

std::vector<std::u16string> MachineState::StackServices(std::u16string_view instanceId)
{
    tapkernel::RegistryKeyRef key = OpenKey(kEnumKey + std::u16string(instanceId), false);
    auto strings = [&](const tapkernel::RegistryKeyRef &from, std::u16string_view name) {
        std::vector<std::u16string> result;
        if (from) {
            if (auto value = registry_->QueryValue(from, name)) {
                result = StringsOf(value->data);
            }
        }
        return result;
    };
    std::u16string service;
    tapkernel::RegistryKeyRef classKey;
    if (auto value = registry_->QueryValue(key, u"Service")) {
        service = StringOf(value->data);
    }
    if (auto value = registry_->QueryValue(key, u"ClassGUID")) {
        classKey = OpenKey(kClassKey + StringOf(value->data), false);
    }
    std::vector<std::u16string> stack;
    for (auto &part : {strings(key, u"LowerFilters"), strings(classKey, u"LowerFilters")}) {
        stack.insert(stack.end(), part.begin(), part.end());
    }
    if (!service.empty()) {
        stack.push_back(service);
    }
    for (auto &part : {strings(key, u"UpperFilters"), strings(classKey, u"UpperFilters")}) {
        stack.insert(stack.end(), part.begin(), part.end());
    }
    return service.empty() ? std::vector<std::u16string>{} : stack;
}

void MachineState::CreatePdo(DeviceNode &node)
{
    tapkernel::ModuleScope scope(rootBusModule_);
    char name[32];
    std::snprintf(name, sizeof name, "\\Device\\%08X", static_cast<unsigned>(++nextPdoNumber_));
    std::u16string wide = tapkernel::ToUtf16(name);
    UNICODE_STRING deviceName;
    deviceName.Buffer = reinterpret_cast<PWSTR>(wide.data());
    deviceName.Length = static_cast<USHORT>(wide.size() * sizeof(WCHAR));
    deviceName.MaximumLength = deviceName.Length;
    PDEVICE_OBJECT pdo;
    NTSTATUS status = IoCreateDevice(rootBus_, sizeof(PDO_EXTENSION), &deviceName, FILE_DEVICE_BUS_EXTENDER,
                                     FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &pdo);
    if (!NT_SUCCESS(status)) {
        tapkernel::BugCheck("PnP manager", "cannot create the PDO of %s: 0x%08X", Narrow(node.instanceId).c_str(),
                            static_cast<unsigned>(status));
    }
    PPDO_EXTENSION extension = static_cast<PPDO_EXTENSION>(pdo->DeviceExtension);
    extension->Signature = kPdoSignature;
    extension->Node = &node;
    pdo->Flags |= DO_BUS_ENUMERATED_DEVICE | DO_POWER_PAGABLE;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    node.pdo = pdo;
}

// ---- Drivers -------------------------------------------------------------------------------------

void MachineState::RequirePoolTag(std::u16string_view service, ULONG tag)
{
    requiredPoolTags_[tapkernel::UpperCase(service)] = tag;
}

LoadedDriver *MachineState::LoadDriver(std::u16string_view service, NTSTATUS *status)
{
    auto found = drivers_.find(tapkernel::UpperCase(service));
    if (found != drivers_.end()) {
        *status = STATUS_SUCCESS;
        return found->second.get();
    }
    tapkernel::RegistryKeyRef key = OpenKey(kServicesKey + std::u16string(service), false);
    if (!key) {
        *status = STATUS_OBJECT_NAME_NOT_FOUND;
        return nullptr;
    }
    std::u16string serviceName = registry_->Name(key);  // as the key spells it
    std::u16string imagePath = u"System32\\drivers\\" + serviceName + u".sys";
    if (auto value = registry_->QueryValue(key, u"ImagePath")) {
        imagePath = ExpandImagePath(StringOf(value->data));
    }
    std::optional<std::string> hostPath = files_->HostPath(imagePath);
    if (!hostPath) {
        *status = kStatusObjectPathNotFound;
        return nullptr;
    }
    auto driver = std::make_unique<LoadedDriver>();
    driver->service = serviceName;
    try {
        driver->image = loader_.Load(*hostPath);
    } catch (const ModuleLoadError &) {
        *status = files_->Exists(imagePath) ? kStatusInvalidImageFormat : STATUS_OBJECT_NAME_NOT_FOUND;
        return nullptr;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(driver->image->Symbol("DriverEntry"));
    if (entry == nullptr) {
        *status = kStatusProcedureNotFound;
        return nullptr;
    }
    tapkernel::ModuleOptions moduleOptions;
    auto tag = requiredPoolTags_.find(tapkernel::UpperCase(service));
    if (tag != requiredPoolTags_.end()) {
        moduleOptions.requiredPoolTag = tag->second;
    }
    driver->module = kernel_->CreateModule(Narrow(serviceName), moduleOptions);
    *status = kernel_->LoadDriver(driver->module, u"\\Driver\\" + serviceName, entry,
                                  u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\" + serviceName,
                                  &driver->object);
    if (!NT_SUCCESS(*status)) {
        return nullptr;
    }
    LoadedDriver *result = driver.get();
    drivers_[tapkernel::UpperCase(service)] = std::move(driver);
    RecordEvent("driver loaded " + Narrow(serviceName) + " " + Narrow(imagePath));
    return result;
}

void MachineState::UnloadDriver(LoadedDriver *driver)
{
    kernel_->UnloadDriver(driver->object);
    drivers_.erase(tapkernel::UpperCase(driver->service));  // and the image with it
}

void MachineState::ReleaseDriver(LoadedDriver *driver)
{
    if (driver->stacks > 0) {
        --driver->stacks;
    }
    UnloadIfUnused(driver);
}

void MachineState::UnloadIfUnused(LoadedDriver *driver)
{
    if (driver->stacks != 0 || driver->legacy) {
        return;
    }
    if (kernel_->Usage(driver->module).deletePendingDevices != 0) {
        driver->unloadDeferred = true;  // the image stays while a device object of it exists
        unloadsDeferred_ = true;
    } else {
        UnloadDriver(driver);
    }
}

bool MachineState::FinishReadyUnloads()
{
    if (!unloadsDeferred_) {
        return false;
    }
    bool deferred = false;
    for (auto &entry : drivers_) {
        LoadedDriver *driver = entry.second.get();
        if (!driver->unloadDeferred) {
            continue;
        }
        if (kernel_->Usage(driver->module).deletePendingDevices == 0) {
            UnloadDriver(driver);
            return true;
        }
        deferred = true;
    }
    unloadsDeferred_ = deferred;
    return false;
}

bool MachineState::DriverLoaded(std::u16string_view service)
{
    return drivers_.count(tapkernel::UpperCase(service)) != 0;
}

void *MachineState::DriverSymbol(std::u16string_view service, const std::string &name)
{
    auto found = drivers_.find(tapkernel::UpperCase(service));
    return found == drivers_.end() ? nullptr : found->second->image->Symbol(name);
}

void MachineState::SetBeepDriverPresent(bool present)
{
    bool loaded = DriverLoaded(u"Beep");
    if (present && !loaded) {
        NTSTATUS status;
        LoadedDriver *beep = LoadDriver(u"Beep", &status);
        if (beep == nullptr) {
            throw std::runtime_error("the beep driver does not load");
        }
        beep->legacy = true;
    } else if (!present && loaded) {
        UnloadDriver(drivers_[tapkernel::UpperCase(u"Beep")].get());
    }
}

// ---- Stacks and PnP requests ----------------------------------------------------------------------

NTSTATUS MachineState::SendPnp(DeviceNode &node, UCHAR minor)
{
    tapkernel::ModuleScope scope(rootBusModule_);
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node.pdo);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->IoStatus.Information = 0;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = minor;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, PnpRequestDone, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(top, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    }
    status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return status;
}

NTSTATUS MachineState::BuildStack(DeviceNode &node)
{
    std::vector<std::u16string> services = StackServices(node.instanceId);
    if (services.empty()) {
        return STATUS_NO_SUCH_DEVICE;  // no function driver bound
    }
    if (node.pdo == nullptr) {
        CreatePdo(node);
    }
    NTSTATUS status = STATUS_SUCCESS;
    for (const std::u16string &service : services) {
        LoadedDriver *driver = LoadDriver(service, &status);
        if (driver == nullptr) {
            break;
        }
        status = kernel_->AddDevice(driver->object, node.pdo);
        if (!NT_SUCCESS(status)) {
            UnloadIfUnused(driver);
            break;
        }
        node.stack.push_back(driver);
        ++driver->stacks;
        driver->unloadDeferred = false;  // in use again: the same image serves the new device
    }
    if (!NT_SUCCESS(status)) {
        // Whatever was added goes again, as it would after a failed start.
        if (!node.stack.empty()) {
            SendPnp(node, IRP_MN_REMOVE_DEVICE);
        }
        FinishRemoval(node);
    }
    return status;
}

void MachineState::FinishRemoval(DeviceNode &node)
{
    if (node.pdo != nullptr) {
        if (node.pdo->AttachedDevice != NULL) {
            tapkernel::BugCheck("PnP manager",
                                "a device is still attached to the PDO of %s after IRP_MN_REMOVE_DEVICE",
                                Narrow(node.instanceId).c_str());
        }
        tapkernel::ModuleScope scope(rootBusModule_);
        IoDeleteDevice(node.pdo);
        node.pdo = nullptr;
    }
    std::vector<LoadedDriver *> stack;
    stack.swap(node.stack);
    for (LoadedDriver *driver : stack) {
        kernel_->CheckDeviceRemoval(driver->module);
    }
    for (LoadedDriver *driver : stack) {
        ReleaseDriver(driver);
    }
}

NTSTATUS MachineState::StartDevice(std::u16string_view instanceId)
{
    // Program threads reach the PnP manager too (newdev's update of a device): one operation at a time.
    std::lock_guard<std::recursive_mutex> pnp(pnpLock_);
    DeviceNode &node = Node(instanceId);
    if (node.state == DeviceState::Started) {
        return STATUS_SUCCESS;
    }
    if (node.state == DeviceState::SurpriseRemoved) {
        return STATUS_DELETE_PENDING;
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (node.stack.empty()) {
        status = BuildStack(node);
    }
    if (NT_SUCCESS(status)) {
        status = SendPnp(node, IRP_MN_START_DEVICE);
        if (!NT_SUCCESS(status)) {
            SendPnp(node, IRP_MN_REMOVE_DEVICE);
            FinishRemoval(node);
        }
    }
    node.status = status;
    node.state = NT_SUCCESS(status) ? DeviceState::Started : DeviceState::Failed;
    if (NT_SUCCESS(status)) {
        RecordEvent("device started " + Narrow(node.instanceId) + " " + Narrow(node.stack.empty() ? u"" : node.stack.front()->service));
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
        RecordEvent("device failed to start " + Narrow(node.instanceId) + " " + text);
    }
    return status;
}

NTSTATUS MachineState::StopDevice(std::u16string_view instanceId)
{
    std::lock_guard<std::recursive_mutex> pnp(pnpLock_);
    DeviceNode &node = Node(instanceId);
    if (node.state != DeviceState::Started) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    NTSTATUS status = SendPnp(node, IRP_MN_QUERY_STOP_DEVICE);
    if (!NT_SUCCESS(status)) {
        SendPnp(node, IRP_MN_CANCEL_STOP_DEVICE);
        return status;
    }
    SendPnp(node, IRP_MN_STOP_DEVICE);
    node.state = DeviceState::Stopped;
    return STATUS_SUCCESS;
}

NTSTATUS MachineState::RemoveDevice(std::u16string_view instanceId)
{
    std::lock_guard<std::recursive_mutex> pnp(pnpLock_);
    DeviceNode &node = Node(instanceId);
    if (node.stack.empty()) {
        return STATUS_SUCCESS;
    }
    if (node.state != DeviceState::SurpriseRemoved) {
        NTSTATUS status = SendPnp(node, IRP_MN_QUERY_REMOVE_DEVICE);
        if (!NT_SUCCESS(status)) {
            SendPnp(node, IRP_MN_CANCEL_REMOVE_DEVICE);
            return status;
        }
    }
    SendPnp(node, IRP_MN_REMOVE_DEVICE);
    FinishRemoval(node);
    node.state = DeviceState::NotStarted;
    return STATUS_SUCCESS;
}

void MachineState::SurpriseRemoveDevice(std::u16string_view instanceId)
{
    std::lock_guard<std::recursive_mutex> pnp(pnpLock_);
    DeviceNode &node = Node(instanceId);
    if (node.stack.empty() || node.state == DeviceState::SurpriseRemoved) {
        return;
    }
    SendPnp(node, IRP_MN_SURPRISE_REMOVAL);
    node.state = DeviceState::SurpriseRemoved;
    removalsWaiting_ = true;
    // A port still open keeps its stack until the last handle is closed.
    if (node.port == nullptr || !node.port->open()) {
        SendPnp(node, IRP_MN_REMOVE_DEVICE);
        FinishRemoval(node);
        node.state = DeviceState::NotStarted;
    }
}

bool MachineState::FinishReadyRemovals()
{
    if (!removalsWaiting_) {
        return false;
    }
    // Retried at the next idle moment when a program's thread is in the middle of an operation.
    std::unique_lock<std::recursive_mutex> pnp(pnpLock_, std::try_to_lock);
    if (!pnp.owns_lock()) {
        return false;
    }
    bool waiting = false;
    for (auto &entry : nodes_) {
        DeviceNode &node = *entry.second;
        if (node.state != DeviceState::SurpriseRemoved || node.port == nullptr) {
            continue;
        }
        if (!node.port->open()) {
            SendPnp(node, IRP_MN_REMOVE_DEVICE);
            FinishRemoval(node);
            node.state = DeviceState::NotStarted;
            return true;
        }
        waiting = true;
    }
    removalsWaiting_ = waiting;
    return false;
}

void MachineState::DeleteDevice(std::u16string_view instanceId)
{
    if (DeviceNode *node = FindNode(instanceId)) {
        if (!node->stack.empty()) {
            if (node->state != DeviceState::SurpriseRemoved) {
                SendPnp(*node, IRP_MN_SURPRISE_REMOVAL);
            }
            SendPnp(*node, IRP_MN_REMOVE_DEVICE);
            FinishRemoval(*node);
        }
        nodes_.erase(tapkernel::UpperCase(instanceId));
    }
    if (auto key = OpenKey(kEnumKey + std::u16string(instanceId), false)) {
        registry_->DeleteTree(key);
    }
}

void MachineState::RemoveAllDevices()
{
    // Devices that use ports go first, so that the ports are closed when their turn comes.
    for (bool ports : {false, true}) {
        for (auto &entry : nodes_) {
            DeviceNode &node = *entry.second;
            if ((node.port != nullptr) != ports || node.stack.empty()) {
                continue;
            }
            if (ports && node.state != DeviceState::SurpriseRemoved) {
                SendPnp(node, IRP_MN_SURPRISE_REMOVAL);
            }
            SendPnp(node, IRP_MN_REMOVE_DEVICE);
            FinishRemoval(node);
            node.state = DeviceState::NotStarted;
        }
    }
}

void MachineState::StartRootDevices()
{
    tapkernel::RegistryKeyRef root = OpenKey(kEnumKey + u"ROOT", false);
    if (!root) {
        return;
    }
    for (const std::u16string &device : registry_->SubkeyNames(root)) {
        tapkernel::RegistryKeyRef deviceKey = registry_->Open(root, device);
        for (const std::u16string &instance : registry_->SubkeyNames(deviceKey)) {
            tapkernel::RegistryKeyRef instanceKey = registry_->Open(deviceKey, instance);
            if (instanceKey && registry_->QueryValue(instanceKey, u"Service")) {
                StartDevice(u"ROOT\\" + device + u"\\" + instance);
            }
        }
    }
}

std::optional<DeviceInfo> MachineState::Device(std::u16string_view instanceId)
{
    tapkernel::RegistryKeyRef key = OpenKey(kEnumKey + std::u16string(instanceId), false);
    if (!key) {
        return std::nullopt;
    }
    DeviceInfo info;
    info.instanceId = std::u16string(instanceId);
    info.present = instanceId.size() > 5 && tapkernel::EqualsNoCase(instanceId.substr(0, 5), u"ROOT\\");
    if (auto value = registry_->QueryValue(key, u"HardwareID")) {
        info.hardwareIds = StringsOf(value->data);
    }
    if (auto value = registry_->QueryValue(key, u"Service")) {
        info.service = StringOf(value->data);
    }
    if (auto value = registry_->QueryValue(key, u"ClassGUID")) {
        info.classGuid = StringOf(value->data);
    }
    if (DeviceNode *node = FindNode(instanceId)) {
        info.instanceId = node->instanceId;
        info.state = node->state;
        info.status = node->status;
        info.physicalDevice = node->pdo;
        info.present = info.present || node->pdo != nullptr || node->hardwarePresent;
    }
    return info;
}

std::vector<DeviceInfo> MachineState::Devices()
{
    std::vector<DeviceInfo> devices;
    tapkernel::RegistryKeyRef enumKey = OpenKey(kEnumKey, false);
    if (!enumKey) {
        return devices;
    }
    for (const std::u16string &enumerator : registry_->SubkeyNames(enumKey)) {
        tapkernel::RegistryKeyRef enumeratorKey = registry_->Open(enumKey, enumerator);
        for (const std::u16string &device : registry_->SubkeyNames(enumeratorKey)) {
            tapkernel::RegistryKeyRef deviceKey = registry_->Open(enumeratorKey, device);
            for (const std::u16string &instance : registry_->SubkeyNames(deviceKey)) {
                if (auto info = Device(enumerator + u"\\" + device + u"\\" + instance)) {
                    devices.push_back(*info);
                }
            }
        }
    }
    return devices;
}

}  // namespace tapmachine
