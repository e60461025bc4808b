// The user-mode state of one simulated PC: its handle table and the disk files open on it, and
// the processes that code runs in. Internal to platform/win32.
#pragma once

#include <windows.h>

#include <tapwin32/UserMode.h>

#include "SystemLink.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tapwin32 {

// Stops the run the way an access violation ends a Windows process: a message naming the
// routine, then abort. For calls that would fault on Windows (a required pointer that is NULL)
// and for calls made while no simulated PC is running.
[[noreturn]] void UserModeFault(const char *routine, const char *format, ...) __attribute__((format(printf, 2, 3)));

// What a handle refers to. An object lives while its handle is open or a call on it is still
// running; the last of them releases it. A file on a device is told when its handle closes
// (HandleClosed: IRP_MJ_CLEANUP at once), whatever calls are still running on it; the kernel
// sends IRP_MJ_CLOSE when their requests are done.
class Object {
public:
    enum class Kind { DeviceFile, DiskFile, RegistryKey, Thread };
    explicit Object(Kind kind) : kind_(kind) {}
    virtual ~Object() = default;
    // The handle has been taken out of the table (CloseHandle, the end of its process).
    virtual void HandleClosed() {}
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct Process::State {
    uint32_t id = 0;
    std::string imagePath;
    std::string currentDirectory; // where relative file names start
    uintptr_t imageModule = 0;
    std::mutex mutex;
    std::map<uintptr_t, std::string> modules; // module handle -> path, the image included
    bool exited = false;
    // Host threads of the threads the process started (CreateThread), joined at its exit (the
    // shell process, which never exits, joins them when it goes at the end of the host program).
    std::vector<std::thread> threads;
    ~State();
};

// The process of the calling thread: the innermost ProcessScope, or the shell process.
std::shared_ptr<Process::State> CurrentProcessState();
// The name of the calling thread's program: its image's file name without the extension
// (MonoAlign for C:\WINDOWS\MonotapDrv\MonoAlign.exe).
std::string CurrentProgramName();
// A module the process has loaded (its handle, which GetModuleFileNameA resolves to PATH), and
// its unloading.
uintptr_t AddModuleTo(Process::State &process, const std::string &path);
void RemoveModuleFrom(Process::State &process, uintptr_t module);

// ProcessScope for a thread the stand-in starts in a process (CreateThread).
class ProcessStateScope {
public:
    explicit ProcessStateScope(std::shared_ptr<Process::State> process);
    ~ProcessStateScope();
    ProcessStateScope(const ProcessStateScope &) = delete;
    ProcessStateScope &operator=(const ProcessStateScope &) = delete;

private:
    std::shared_ptr<Process::State> previous_;
};

class Session {
public:
    // The session of the running machine (made on first use); faults naming routine when no
    // machine is running.
    static std::shared_ptr<Session> Current(const char *routine);
    // The same, or null when no machine is running.
    static std::shared_ptr<Session> TryCurrent();

    explicit Session(link::MachineIdentity machine) : machine_(std::move(machine)) {}
    ~Session();
    const link::MachineIdentity &machine() const { return machine_; }

    // A new handle for object, owned by the calling thread's process.
    HANDLE Insert(std::shared_ptr<Object> object);
    // The object of an open handle of this machine, or null.
    std::shared_ptr<Object> Lookup(HANDLE handle);
    // Takes the handle out of the table; the caller tells the object (HandleClosed), which goes
    // when the caller and every running call have dropped it. Null when the handle is not open.
    std::shared_ptr<Object> Remove(HANDLE handle);
    std::vector<std::shared_ptr<Object>> RemoveOwnedBy(uint32_t processId);
    size_t Count();
    size_t CountOwnedBy(uint32_t processId);

    // Sharing of disk files: whether an open with access and share may join the opens of
    // hostPath that are still in force; if so it is recorded (until its handle is closed).
    bool AdmitDiskOpen(const std::string &hostPath, const std::shared_ptr<Object> &file, DWORD access, DWORD share);
    void ReleaseDiskOpen(const Object *file);

private:
    struct Entry {
        std::shared_ptr<Object> object;
        uint32_t owner = 0;
    };
    struct DiskOpen {
        std::string hostPath;
        const Object *file = nullptr;
        DWORD access = 0;
        DWORD share = 0;
    };

    link::MachineIdentity machine_;
    std::mutex mutex_;
    std::map<uintptr_t, Entry> handles_;
    std::vector<DiskOpen> diskOpens_;
};

} // namespace tapwin32
