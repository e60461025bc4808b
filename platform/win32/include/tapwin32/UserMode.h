// Host-side control of the user-mode stand-in: the processes that tool code runs in, and what a
// test needs to see of the stand-in itself. Nothing here is part of the Windows API; the tools
// never include it. Free of Windows types, so it can sit beside the kernel's and machine's
// headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tapwin32 {

// A user-mode process of the simulated PC: the image it runs, the modules it has loaded and the
// handles it has opened. Ending it closes every handle it still holds, as the system does when a
// process exits (a tool that never closes its device handle leaves it to this).
//
// Code that runs outside any process scope belongs to the machine's shell process, whose image is
// C:\WINDOWS\explorer.exe.
class Process {
public:
    // imagePath: the Windows path of the program, e.g. C:\WINDOWS\MonotapDrv\MonoAlign.exe.
    // imageModule: the module handle the program's image has (WinMain's instance handle); null
    // gives it one of its own.
    explicit Process(std::string imagePath, void *imageModule = nullptr);
    ~Process(); // Exit()
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    const std::string &ImagePath() const;
    uint32_t Id() const;

    // The module handle (HMODULE) of the image: what WinMain's instance handle would be.
    void *ImageModule() const;
    // Records a library the process has loaded (an applet, a system DLL) and returns its module
    // handle, which GetModuleFileNameA resolves to path.
    void *AddModule(const std::string &path);

    // Closes every handle the process still holds: IRP_MJ_CLEANUP and IRP_MJ_CLOSE for files on
    // devices, as at process exit. Further calls do nothing.
    void Exit();
    // Handles the process holds on the current machine.
    size_t OpenHandleCount() const;

    struct State;
    friend class ProcessScope;

private:
    std::shared_ptr<State> state_;
};

// Runs the calling thread as a thread of process until the scope ends; scopes nest. A thread
// that a process starts must enter the scope itself.
class ProcessScope {
public:
    explicit ProcessScope(Process &process);
    ~ProcessScope();
    ProcessScope(const ProcessScope &) = delete;
    ProcessScope &operator=(const ProcessScope &) = delete;

private:
    std::shared_ptr<Process::State> previous_;
};

// Handles open on the current machine, of every process (registry keys included).
size_t OpenHandleCount();

// The system error code the Win32 layer reports for an NTSTATUS, as RtlNtStatusToDosError maps
// it (ERROR_MR_MID_NOT_FOUND for a status without a mapping).
uint32_t NtStatusToDosError(int32_t status);

} // namespace tapwin32
