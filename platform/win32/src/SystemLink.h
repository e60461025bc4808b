// What the user-mode stand-in reaches of the simulated PC: the kernel's object namespace and I/O
// manager (for files on devices), its registry store and the machine's drive C:.
//
// This is the only part of platform/win32 that sees the kernel's and the machine's headers; the
// rest is written against <windows.h>, which cannot share a translation unit with the DDK
// headers. Nothing here uses a Windows type: file objects travel as opaque pointers, statuses
// as 32-bit NTSTATUS values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapkernel {
class RegistryStore;
}

namespace tapwin32::link {

// Which simulated PC is running. Handles belong to one machine; a machine that has gone and a
// new one built at the same address differ by their drive C: folder (a fresh one per machine
// unless a test names it).
struct MachineIdentity {
    const void *machine = nullptr; // null: none is running
    std::string driveRoot;
    bool operator==(const MachineIdentity &other) const
    {
        return machine == other.machine && driveRoot == other.driveRoot;
    }
    bool operator!=(const MachineIdentity &other) const { return !(*this == other); }
};
MachineIdentity CurrentMachine();

// A file object of the kernel (PFILE_OBJECT), holding one reference.
using FileObject = void *;

// Opens a kernel name (\??\COM3, \??\MonotapSymLnk1) as NtCreateFile does for a device: links
// are followed, IRP_MJ_CREATE goes to the top of the device's stack, exclusive devices admit
// one open. STATUS_NO_SUCH_DEVICE when no machine is running.
int32_t OpenFile(std::u16string_view kernelName, uint32_t desiredAccess, FileObject *file);

// Synchronous requests on an open file, as NtDeviceIoControlFile, NtReadFile and NtWriteFile on
// a synchronous handle: they return when the request has completed, with its status and
// IoStatus.Information. Buffers are handled by the I/O manager according to the transfer method.
int32_t DeviceIoControl(FileObject file, uint32_t code, const void *input, uint32_t inputLength, void *output,
                        uint32_t outputLength, uint64_t *information);
int32_t Read(FileObject file, void *buffer, uint32_t length, uint64_t *information);
int32_t Write(FileObject file, const void *buffer, uint32_t length, uint64_t *information);

// The handle is closed: IRP_MJ_CLEANUP at once (pending requests on the file are the driver's to
// end there), then the handle's reference is dropped. IRP_MJ_CLOSE goes with the last reference,
// which a request still in flight or a call's reference (ReferenceFile) may hold. Does nothing
// when the machine the file was opened on has gone, nor does DereferenceFile.
void CloseFile(const MachineIdentity &machine, FileObject file);
// A call's reference on an open file, taken before its request is sent so that a CloseFile on
// another thread cannot free the object under the call (ObReferenceObjectByHandle in the system
// service); false, and nothing taken, when the machine has gone. The last DereferenceFile sends
// IRP_MJ_CLOSE.
bool ReferenceFile(const MachineIdentity &machine, FileObject file);
void DereferenceFile(const MachineIdentity &machine, FileObject file);

// What a program has asked of the system, reported to the machine's log of program requests
// (machine/ProgramRequests.h) once carried out. program: the image's name without extension.
// A control code sent on a device handle: the name the program opened and the kernel name it
// reached; error 0 for success, else the system error code the call failed with.
void ReportDeviceControl(std::string_view program, std::string_view openedName, std::u16string_view kernelName,
                         uint32_t code, const void *input, uint32_t inputLength, uint32_t error);
// A registry value written (its stored bytes, strings in UTF-16) or deleted, or a key deleted;
// keyPath is the key's path in the store (\Registry\Machine\...).
void ReportSetValue(std::string_view program, std::u16string_view keyPath, std::u16string_view name, uint32_t type,
                    const void *data, size_t length);
void ReportDeleteValue(std::string_view program, std::u16string_view keyPath, std::u16string_view name);
void ReportDeleteKey(std::string_view program, std::u16string_view keyPath);

// The registry store of the running machine, or null.
tapkernel::RegistryStore *Registry();

// The host path of a Windows path on drive C:, or nothing (another drive, no machine).
std::optional<std::string> HostPath(std::u16string_view windowsPath);

// Starts the program module at a Windows path on drive C: in a process of its own (the machine's
// StartProcess). ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such file, or no machine) or
// ERROR_BAD_FORMAT (not a program module), as the values of winerror.h.
uint32_t StartProcess(std::string_view imagePath, std::string_view commandLine, int showCommand);

// ---- The PnP manager, for the Setup API ----
// The instance IDs of every device node in the registry (Enum\<enumerator>\<device>\<instance>).
std::vector<std::string> DeviceInstances();
// Whether the node is present: root-enumerated, or its hardware is plugged in.
bool DevicePresent(std::string_view instanceId);
// Removes the node's stack, if it has one, and starts it with what the registry now says (its
// new driver): the driver is loaded from its service's ImagePath. The NTSTATUS of the start, or
// of the removal when the stack refused to go (*removalRefused then set).
int32_t RestartDevice(std::string_view instanceId, bool *removalRefused);

// The built-in library a file of the machine's drives stands for (system32\newdev.dll holds a
// marker naming "newdev.dll"), or nothing.
std::optional<std::string> BuiltInLibraryName(std::string_view windowsPath);

// A line for the system's log (SystemEvent of the machine); nothing when no machine runs.
void RecordEvent(std::string text);

// A message box of the window system (MessageBoxW), for the Setup API's own prompts; returns
// the answer (IDYES ...), or 0 when no window system runs.
int ShowMessageBox(void *owner, const std::string &text, const std::string &caption, uint32_t style);

// Threads of programs (CreateThread) as the simulated PC counts them for its idle test: a new
// thread is runnable from before it starts (ThreadRunnable, called by its creator) and enters the
// simulated system on its own host thread (EnterThread) until it ends (LeaveThread, which also
// counts it as no longer busy). A thread that blocks outside the window system says so
// (ThreadBlocked), and whoever wakes it calls ThreadRunnable for it first.
void ThreadRunnable();
void ThreadBlocked();
void EnterThread();
void LeaveThread();
// Whether the calling thread is one of the simulated system's (a program's), which may block as
// idle in AwaitPollActivity.
bool IsProgramThread();

// Polling without a pause (Machine::PollActivity): 0 without a machine.
uint64_t PollActivity();
void AwaitPollActivity(uint64_t seen);
void NotePollActivity();

}  // namespace tapwin32::link
