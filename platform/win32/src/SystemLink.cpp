// The user-mode stand-in's way into the simulated PC: the kernel stand-in's I/O manager and
// registry store, and the machine's drive C:.
#include "SystemLink.h"

#include <machine/Machine.h>
#include <machine/ModuleLoader.h>
#include <tapkernel/Kernel.h>
#include <tapkernel/Registry.h>
#include <tapkernel/Text.h>

#include "tap/ui/backend/System.h"

#include "tap/desktop/Desktop.h"
#include "tap/ui/host/Session.h"

namespace tapwin32::link {

namespace {

tapkernel::Kernel *RunningKernel()
{
    return tapmachine::Machine::CurrentOrNull() ? tapkernel::Kernel::TryCurrent() : nullptr;
}

// HKLM\..., HKCU\... or HKU\... for a store path \Registry\Machine\... or \Registry\User\...
std::string RootedKeyPath(std::u16string_view storePath)
{
    const std::u16string machineRoot = u"\\Registry\\Machine";
    const std::u16string currentUser = u"\\Registry\\User\\" + tapkernel::RegistryStore::CurrentUserSid();
    const std::u16string users = u"\\Registry\\User";
    auto below = [&](const std::u16string &root) {
        return storePath.size() >= root.size() &&
               tapkernel::EqualsNoCase(storePath.substr(0, root.size()), root) &&
               (storePath.size() == root.size() || storePath[root.size()] == u'\\');
    };
    auto rest = [&](const std::u16string &root) { return tapkernel::ToUtf8(storePath.substr(root.size())); };
    if (below(machineRoot)) {
        return "HKLM" + rest(machineRoot);
    }
    if (below(currentUser)) {
        return "HKCU" + rest(currentUser);
    }
    if (below(users)) {
        return "HKU" + rest(users);
    }
    return tapkernel::ToUtf8(storePath);
}

void Report(tapmachine::ProgramRequest request)
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return;
    }
    request.time = machine->Now();
    machine->programRequests().Record(std::move(request));
}

tapmachine::ProgramRequest RegistryRequest(tapmachine::ProgramRequest::Kind kind, std::string_view program,
                                           std::u16string_view keyPath)
{
    tapmachine::ProgramRequest request;
    request.kind = kind;
    request.program = std::string(program);
    request.target = RootedKeyPath(keyPath);
    return request;
}

} // namespace

void ReportDeviceControl(std::string_view program, std::string_view openedName, std::u16string_view kernelName,
                         uint32_t code, const void *input, uint32_t inputLength, uint32_t error)
{
    tapmachine::ProgramRequest request;
    request.kind = tapmachine::ProgramRequest::Kind::DeviceControl;
    request.program = std::string(program);
    request.target = std::string(openedName);
    request.kernelName = std::u16string(kernelName);
    request.code = code;
    const auto *bytes = static_cast<const uint8_t *>(input);
    request.input.assign(bytes, bytes + (bytes ? inputLength : 0));
    request.error = error;
    Report(std::move(request));
}

void ReportSetValue(std::string_view program, std::u16string_view keyPath, std::u16string_view name, uint32_t type,
                    const void *data, size_t length)
{
    tapmachine::ProgramRequest request = RegistryRequest(tapmachine::ProgramRequest::Kind::SetValue, program, keyPath);
    request.valueName = tapkernel::ToUtf8(name);
    request.type = type;
    const auto *bytes = static_cast<const uint8_t *>(data);
    request.data.assign(bytes, bytes + (bytes ? length : 0));
    Report(std::move(request));
}

void ReportDeleteValue(std::string_view program, std::u16string_view keyPath, std::u16string_view name)
{
    tapmachine::ProgramRequest request =
        RegistryRequest(tapmachine::ProgramRequest::Kind::DeleteValue, program, keyPath);
    request.valueName = tapkernel::ToUtf8(name);
    Report(std::move(request));
}

void ReportDeleteKey(std::string_view program, std::u16string_view keyPath)
{
    Report(RegistryRequest(tapmachine::ProgramRequest::Kind::DeleteKey, program, keyPath));
}

MachineIdentity CurrentMachine()
{
    MachineIdentity identity;
    if (tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull()) {
        identity.machine = machine;
        identity.driveRoot = machine->files().root();
    }
    return identity;
}

int32_t OpenFile(std::u16string_view kernelName, uint32_t desiredAccess, FileObject *file)
{
    *file = nullptr;
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel) {
        return STATUS_NO_SUCH_DEVICE;
    }
    PFILE_OBJECT opened = nullptr;
    NTSTATUS status = kernel->OpenFile(kernelName, desiredAccess, &opened);
    if (NT_SUCCESS(status)) {
        *file = opened;
    }
    return status;
}

int32_t DeviceIoControl(FileObject file, uint32_t code, const void *input, uint32_t inputLength, void *output,
                        uint32_t outputLength, uint64_t *information)
{
    *information = 0;
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel) {
        return STATUS_INVALID_HANDLE;
    }
    ULONG_PTR done = 0;
    NTSTATUS status = kernel->DeviceIoControl(static_cast<PFILE_OBJECT>(file), code, input, inputLength, output,
                                              outputLength, &done);
    *information = done;
    return status;
}

int32_t Read(FileObject file, void *buffer, uint32_t length, uint64_t *information)
{
    *information = 0;
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel) {
        return STATUS_INVALID_HANDLE;
    }
    ULONG_PTR done = 0;
    NTSTATUS status = kernel->Read(static_cast<PFILE_OBJECT>(file), buffer, length, &done);
    *information = done;
    return status;
}

int32_t Write(FileObject file, const void *buffer, uint32_t length, uint64_t *information)
{
    *information = 0;
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel) {
        return STATUS_INVALID_HANDLE;
    }
    ULONG_PTR done = 0;
    NTSTATUS status = kernel->Write(static_cast<PFILE_OBJECT>(file), buffer, length, &done);
    *information = done;
    return status;
}

void CloseFile(const MachineIdentity &machine, FileObject file)
{
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel || machine != CurrentMachine()) {
        return; // the machine went down with its file objects
    }
    kernel->CloseFile(static_cast<PFILE_OBJECT>(file));
}

bool ReferenceFile(const MachineIdentity &machine, FileObject file)
{
    tapkernel::Kernel *kernel = RunningKernel();
    if (!kernel || machine != CurrentMachine()) {
        return false;
    }
    kernel->ReferenceFile(static_cast<PFILE_OBJECT>(file));
    return true;
}

void DereferenceFile(const MachineIdentity &machine, FileObject file)
{
    tapkernel::Kernel *kernel = RunningKernel();
    if (kernel && machine == CurrentMachine()) {
        kernel->DereferenceFile(static_cast<PFILE_OBJECT>(file));
    }
}

tapkernel::RegistryStore *Registry()
{
    tapkernel::Kernel *kernel = RunningKernel();
    return kernel ? &kernel->Registry() : nullptr;
}

uint32_t StartProcess(std::string_view imagePath, std::string_view commandLine, int showCommand)
{
    constexpr uint32_t kFileNotFound = 2, kBadFormat = 11; // ERROR_FILE_NOT_FOUND, ERROR_BAD_FORMAT
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return kFileNotFound;
    }
    try {
        machine->StartProcess(std::u16string(imagePath.begin(), imagePath.end()), std::string(commandLine),
                              showCommand);
    } catch (const tapmachine::ProcessStartError &error) {
        return error.reason == tapmachine::ProcessStartError::Reason::NotFound ? kFileNotFound : kBadFormat;
    }
    return 0;
}

std::optional<std::string> HostPath(std::u16string_view windowsPath)
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return std::nullopt;
    }
    return machine->files().HostPath(windowsPath);
}

std::vector<std::string> DeviceInstances()
{
    std::vector<std::string> instances;
    if (tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull()) {
        for (const tapmachine::DeviceInfo &device : machine->Devices()) {
            instances.push_back(tapkernel::ToUtf8(device.instanceId));
        }
    }
    return instances;
}

bool DevicePresent(std::string_view instanceId)
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return false;
    }
    std::optional<tapmachine::DeviceInfo> device = machine->Device(tapkernel::ToUtf16(std::string(instanceId)));
    return device && device->present;
}

int32_t RestartDevice(std::string_view instanceId, bool *removalRefused)
{
    *removalRefused = false;
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return STATUS_NO_SUCH_DEVICE;
    }
    return machine->RestartDevice(tapkernel::ToUtf16(std::string(instanceId)), removalRefused);
}

std::optional<std::string> BuiltInLibraryName(std::string_view windowsPath)
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    if (!machine) {
        return std::nullopt;
    }
    std::u16string path = tapkernel::ToUtf16(std::string(windowsPath));
    if (!machine->files().Exists(path)) {
        return std::nullopt;
    }
    return tapmachine::ModuleLoader::BuiltInName(machine->files().ReadText(path));
}

void RecordEvent(std::string text)
{
    if (tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull()) {
        machine->RecordSystemEvent(std::move(text));
    }
}

int ShowMessageBox(void *owner, const std::string &text, const std::string &caption, uint32_t style)
{
    if (!tapmachine::Machine::CurrentOrNull()) {
        return 0;
    }
    return tap::ui::sys::ShowBox(static_cast<tap::ui::WindowHandle>(owner), tapkernel::ToUtf16(text),
                                 tapkernel::ToUtf16(caption), style);
}

namespace {

tap::desktop::Scheduler *Clock()
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    return machine ? &machine->desktop().Clock() : nullptr;
}

} // namespace

void ThreadRunnable()
{
    if (tap::desktop::Scheduler *clock = Clock()) {
        clock->Runnable();
    }
}

void ThreadBlocked()
{
    if (tap::desktop::Scheduler *clock = Clock()) {
        clock->Blocked();
    }
}

void EnterThread()
{
    tap::ui::host::Session::EnterSimulatedThread();
}

void LeaveThread()
{
    tap::ui::host::Session::LeaveSimulatedThread();
    ThreadBlocked();
}

bool IsProgramThread()
{
    return tap::ui::host::Session::IsSimulatedThread();
}

uint64_t PollActivity()
{
    tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull();
    return machine ? machine->PollActivity() : 0;
}

void AwaitPollActivity(uint64_t seen)
{
    if (tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull()) {
        machine->AwaitPollActivity(seen);
    }
}

void NotePollActivity()
{
    if (tapmachine::Machine *machine = tapmachine::Machine::CurrentOrNull()) {
        machine->NotePollActivity();
    }
}

} // namespace tapwin32::link
