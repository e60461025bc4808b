// The user-mode stand-in's way into the simulated PC: the kernel stand-in's I/O manager and
// registry store, and the machine's drive C:.
#include "SystemLink.h"

#include <machine/Machine.h>
#include <tapkernel/Kernel.h>

#include "tap/desktop/Desktop.h"
#include "tap/ui/host/Session.h"

namespace tapwin32::link {

namespace {

tapkernel::Kernel *RunningKernel()
{
    return tapmachine::Machine::CurrentOrNull() ? tapkernel::Kernel::TryCurrent() : nullptr;
}

} // namespace

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
