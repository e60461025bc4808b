// kernel32's files and devices: CreateFileA, DeviceIoControl, ReadFile, WriteFile, GetFileSize
// and CloseHandle. A device is reached through the kernel stand-in's I/O manager (IRP_MJ_CREATE,
// IRP_MJ_DEVICE_CONTROL, IRP_MJ_READ/WRITE, IRP_MJ_CLEANUP and IRP_MJ_CLOSE with a file object);
// a disk file is a file of the machine's drive C: folder.
#include <windows.h>

#include "FileNames.h"
#include "Session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tapwin32 {

namespace {

constexpr DWORD kReadRights = GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED | 0x0001;  // FILE_READ_DATA
constexpr DWORD kWriteRights = GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | 0x0002; // FILE_WRITE_DATA

// The handle of a file object on a device. Closing it sends IRP_MJ_CLEANUP at once; the kernel
// sends IRP_MJ_CLOSE when the last reference goes, which a call still running on the handle may
// hold (its own, and its request's).
class DeviceFile : public Object {
public:
    DeviceFile(link::MachineIdentity machine, link::FileObject file, DWORD access, bool overlapped,
               std::string openedName, std::u16string kernelName)
        : Object(Kind::DeviceFile), machine_(std::move(machine)), file_(file), access_(access),
          overlapped_(overlapped), openedName_(std::move(openedName)), kernelName_(std::move(kernelName))
    {
    }
    ~DeviceFile() override { HandleClosed(); }
    void HandleClosed() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_) {
                return;
            }
            closed_ = true;
        }
        link::CloseFile(machine_, file_);
    }
    // The reference a call takes on the file object before it sends anything, as the system
    // service does with ObReferenceObjectByHandle; false when the handle was closed after the
    // call looked it up (or its machine has gone). Taken under the lock HandleClosed marks the
    // close with, so the object is still open when it is taken.
    bool Reference()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return !closed_ && link::ReferenceFile(machine_, file_);
    }
    void Dereference() { link::DereferenceFile(machine_, file_); }
    link::FileObject file() const { return file_; }
    DWORD access() const { return access_; }
    bool overlapped() const { return overlapped_; }
    // The name the program opened (\\.\MonotapSymLnk1) and the kernel name it reached.
    const std::string &openedName() const { return openedName_; }
    const std::u16string &kernelName() const { return kernelName_; }

private:
    link::MachineIdentity machine_;
    link::FileObject file_;
    DWORD access_;
    bool overlapped_;
    std::string openedName_;
    std::u16string kernelName_;
    std::mutex mutex_;
    bool closed_ = false;
};

// A file of drive C:, with the file pointer of its handle.
class DiskFile : public Object {
public:
    DiskFile(std::weak_ptr<Session> session, DWORD access) : Object(Kind::DiskFile), session_(std::move(session)), access_(access) {}
    ~DiskFile() override
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (std::shared_ptr<Session> session = session_.lock()) {
            session->ReleaseDiskOpen(this);
        }
    }
    void set_fd(int fd) { fd_ = fd; }
    int fd() const { return fd_; }
    DWORD access() const { return access_; }
    std::mutex &mutex() { return mutex_; }
    uint64_t &position() { return position_; }

private:
    std::weak_ptr<Session> session_;
    DWORD access_;
    int fd_ = -1;
    std::mutex mutex_;
    uint64_t position_ = 0;
};

HANDLE Fail(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL FailBool(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

DWORD ErrorOfErrno(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

HANDLE OpenDevice(const std::shared_ptr<Session> &session, const std::string &openedName,
                  const std::u16string &kernelName, DWORD access, DWORD flags)
{
    link::FileObject file = nullptr;
    int32_t status = link::OpenFile(kernelName, access, &file);
    if (status < 0) {
        return Fail(NtStatusToDosError(status));
    }
    bool overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    return session->Insert(
        std::make_shared<DeviceFile>(session->machine(), file, access, overlapped, openedName, kernelName));
}

HANDLE OpenDisk(const std::shared_ptr<Session> &session, const std::string &windowsPath, DWORD access, DWORD share,
                DWORD disposition, DWORD flags)
{
    std::u16string widePath(windowsPath.begin(), windowsPath.end());
    std::optional<std::string> hostPath = link::HostPath(widePath);
    if (!hostPath) {
        return Fail(ERROR_PATH_NOT_FOUND); // another drive
    }
    struct stat info {};
    bool exists = ::stat(hostPath->c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!exists) {
        std::string parent = hostPath->substr(0, hostPath->find_last_of('/'));
        struct stat parentInfo {};
        if (::stat(parent.c_str(), &parentInfo) != 0 || !S_ISDIR(parentInfo.st_mode)) {
            return Fail(ERROR_PATH_NOT_FOUND);
        }
    }
    int openFlags = 0;
    switch (disposition) {
    case CREATE_NEW:
        if (exists) {
            return Fail(ERROR_FILE_EXISTS);
        }
        openFlags = O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        openFlags = O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        if (!exists) {
            return Fail(ERROR_FILE_NOT_FOUND);
        }
        break;
    case OPEN_ALWAYS:
        openFlags = O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!(access & kWriteRights)) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        if (!exists) {
            return Fail(ERROR_FILE_NOT_FOUND);
        }
        openFlags = O_TRUNC;
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    bool reading = (access & kReadRights) != 0;
    bool writing = (access & kWriteRights) != 0;
    if ((openFlags & (O_CREAT | O_TRUNC)) && !writing) {
        // Creating or truncating needs a descriptor that may write; the handle still may not.
        openFlags |= O_RDWR;
    } else {
        openFlags |= writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;
    }

    auto file = std::make_shared<DiskFile>(session, access);
    if (!session->AdmitDiskOpen(*hostPath, file, access, share)) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    int fd = exists && S_ISDIR(info.st_mode) ? ::open(hostPath->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                             : ::open(hostPath->c_str(), openFlags | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Fail(ErrorOfErrno(errno)); // the admission goes with the file object
    }
    file->set_fd(fd);
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
        SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return session->Insert(file);
}

// The I/O manager probes the caller's buffers before anything is sent: a null buffer with a
// length is an access violation, reported as ERROR_NOACCESS.
bool BuffersReadable(const void *input, DWORD inputLength, const void *output, DWORD outputLength)
{
    return (input || inputLength == 0) && (output || outputLength == 0);
}

// The outcome of a synchronous request as kernel32 reports it: success gives TRUE and the count;
// a warning (STATUS_BUFFER_OVERFLOW) gives the count but FALSE; an error leaves the count alone.
BOOL Complete(int32_t status, uint64_t information, LPDWORD count)
{
    if (status >= 0) {
        *count = static_cast<DWORD>(information);
        return TRUE;
    }
    if ((static_cast<uint32_t>(status) >> 30) == 2) {
        *count = static_cast<DWORD>(information);
    }
    SetLastError(NtStatusToDosError(status));
    return FALSE;
}

// A synchronous request on a device handle, under the call's reference to its file object.
template <typename Send>
BOOL SendOnHandle(DeviceFile &device, Send send, LPDWORD count)
{
    if (!device.Reference()) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    uint64_t information = 0;
    int32_t status = send(device.file(), &information);
    device.Dereference();
    return Complete(status, information, count);
}

// DeviceIoControl itself.
BOOL SendDeviceControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped,
                       bool *sent)
{
    *sent = false;
    std::shared_ptr<Session> session = Session::Current("DeviceIoControl");
    if (lpOverlapped) {
        return FailBool(ERROR_NOT_SUPPORTED); // no tool issues overlapped requests
    }
    if (!lpBytesReturned) {
        UserModeFault("DeviceIoControl", "lpBytesReturned is NULL and lpOverlapped is NULL (the system "
                                         "writes the byte count through it)");
    }
    std::shared_ptr<Object> object = session->Lookup(hDevice);
    if (!object || object->kind() == Object::Kind::RegistryKey) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    if (object->kind() == Object::Kind::DiskFile) {
        return FailBool(ERROR_INVALID_FUNCTION);
    }
    auto *device = static_cast<DeviceFile *>(object.get());
    if (device->overlapped()) {
        return FailBool(ERROR_INVALID_PARAMETER); // an overlapped handle needs an OVERLAPPED
    }
    if (!BuffersReadable(lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize)) {
        return FailBool(ERROR_NOACCESS);
    }
    DWORD method = dwIoControlCode & 3;
    if (method == 1 || method == 2) {
        // METHOD_IN_DIRECT and METHOD_OUT_DIRECT need memory descriptor lists, which the kernel
        // stand-in does not build; no tool uses them.
        return FailBool(ERROR_NOT_SUPPORTED);
    }
    *sent = true;
    return SendOnHandle(
        *device,
        [&](link::FileObject file, uint64_t *information) {
            return link::DeviceIoControl(file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                         nOutBufferSize, information);
        },
        lpBytesReturned);
}

// The request as the program made it, for the machine's log of what programs ask: a control code
// that reached a device's driver, with its outcome.
void ReportRequest(HANDLE hDevice, DWORD code, LPCVOID input, DWORD inputSize, DWORD error)
{
    std::shared_ptr<Object> object = Session::Current("DeviceIoControl")->Lookup(hDevice);
    if (!object || object->kind() != Object::Kind::DeviceFile) {
        return;
    }
    auto *device = static_cast<DeviceFile *>(object.get());
    link::ReportDeviceControl(CurrentProgramName(), device->openedName(), device->kernelName(), code, input,
                              inputSize, error);
}

// A question a program's thread asks a device: a request with an output and no input. The same
// question asked again, with the same answer and nothing in the machine having moved since before
// the first asking (Machine::PollActivity), is a poll that finds nothing new: the thread then
// waits, counted as idle, until something moves, instead of spinning a host processor. Two
// threads that poll at once wake each other (each one's request is driver activity for the other).
struct Question {
    bool asked = false;
    HANDLE device = NULL;
    DWORD code = 0;
    DWORD outputSize = 0;
    uint64_t activity = 0; // before it was asked
    BOOL result = FALSE;
    DWORD error = 0;
    std::vector<uint8_t> answer;
};
thread_local Question lastQuestion;

bool SameQuestion(const Question &q, HANDLE device, DWORD code, DWORD outputSize)
{
    return q.asked && q.device == device && q.code == code && q.outputSize == outputSize;
}

} // namespace

} // namespace tapwin32

using namespace tapwin32;

extern "C" {

// Creates or opens a file or device. Devices: \\.\Name (a link under \??) and the DOS device
// names COM1..COM9, LPT1..LPT9, CON, PRN, AUX, NUL; the device's driver sees IRP_MJ_CREATE and
// may refuse it (an exclusive device that is already open: ERROR_ACCESS_DENIED). Other names are
// paths on drive C:, relative ones from the process's current directory, with the documented
// dispositions and share modes.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    std::shared_ptr<Session> session = Session::Current("CreateFileA");
    if (!lpFileName) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwShareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    ResolvedName name = ResolveFileName(lpFileName, CurrentProcessState()->currentDirectory);
    switch (name.kind) {
    case ResolvedName::Kind::Device:
        return OpenDevice(session, lpFileName, name.kernelName, dwDesiredAccess, dwFlagsAndAttributes);
    case ResolvedName::Kind::Disk:
        return OpenDisk(session, name.path, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    case ResolvedName::Kind::Invalid:
        break;
    }
    return Fail(name.error);
}


// Sends a control code to the device of a handle, synchronously. The I/O manager gives the
// driver one system buffer of max(input, output) bytes holding the input (METHOD_BUFFERED) and
// copies IoStatus.Information bytes back into the output buffer.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    const bool question = nInBufferSize == 0 && nOutBufferSize > 0 && lpOutBuffer && lpBytesReturned &&
                          !lpOverlapped && link::IsProgramThread();
    bool sent = false;
    if (!question) {
        lastQuestion.asked = false;
        const BOOL result = SendDeviceControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                              nOutBufferSize, lpBytesReturned, lpOverlapped, &sent);
        const DWORD error = GetLastError();
        if (sent) {
            ReportRequest(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, result ? 0 : error);
        }
        SetLastError(error);
        return result;
    }
    const uint64_t activity = link::PollActivity();
    const BOOL result = SendDeviceControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                          nOutBufferSize, lpBytesReturned, lpOverlapped, &sent);
    const DWORD error = GetLastError();
    const auto *bytes = static_cast<const uint8_t *>(lpOutBuffer);
    std::vector<uint8_t> answer(bytes, bytes + std::min<DWORD>(*lpBytesReturned, nOutBufferSize));
    Question &last = lastQuestion;
    const bool nothingNew = SameQuestion(last, hDevice, dwIoControlCode, nOutBufferSize) &&
                            last.activity == activity && last.result == result &&
                            (result || last.error == error) && last.answer == answer;
    last.asked = true;
    last.device = hDevice;
    last.code = dwIoControlCode;
    last.outputSize = nOutBufferSize;
    last.activity = activity;
    last.result = result;
    last.error = error;
    last.answer = std::move(answer);
    if (nothingNew) {
        link::AwaitPollActivity(activity); // a poll finding nothing new is not logged again
    } else if (sent) {
        ReportRequest(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, result ? 0 : error);
    }
    SetLastError(error);
    return result;
}

// Reads from a device (IRP_MJ_READ, returning when it completes) or a disk file (from the
// handle's file pointer; 0 bytes at the end of the file).
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    std::shared_ptr<Session> session = Session::Current("ReadFile");
    if (lpOverlapped) {
        return FailBool(ERROR_NOT_SUPPORTED);
    }
    if (!lpNumberOfBytesRead) {
        UserModeFault("ReadFile", "lpNumberOfBytesRead is NULL and lpOverlapped is NULL");
    }
    *lpNumberOfBytesRead = 0;
    std::shared_ptr<Object> object = session->Lookup(hFile);
    if (!object || object->kind() == Object::Kind::RegistryKey) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    if (!BuffersReadable(nullptr, 0, lpBuffer, nNumberOfBytesToRead)) {
        return FailBool(ERROR_NOACCESS);
    }
    if (object->kind() == Object::Kind::DeviceFile) {
        auto *device = static_cast<DeviceFile *>(object.get());
        if (!(device->access() & kReadRights)) {
            return FailBool(ERROR_ACCESS_DENIED);
        }
        if (device->overlapped()) {
            return FailBool(ERROR_INVALID_PARAMETER);
        }
        return SendOnHandle(
            *device,
            [&](link::FileObject file, uint64_t *information) {
                return link::Read(file, lpBuffer, nNumberOfBytesToRead, information);
            },
            lpNumberOfBytesRead);
    }
    auto *disk = static_cast<DiskFile *>(object.get());
    if (!(disk->access() & kReadRights)) {
        return FailBool(ERROR_ACCESS_DENIED);
    }
    std::lock_guard<std::mutex> lock(disk->mutex());
    ssize_t done = ::pread(disk->fd(), lpBuffer, nNumberOfBytesToRead, static_cast<off_t>(disk->position()));
    if (done < 0) {
        return FailBool(ErrorOfErrno(errno));
    }
    disk->position() += static_cast<uint64_t>(done);
    *lpNumberOfBytesRead = static_cast<DWORD>(done);
    return TRUE;
}

// Writes to a device (IRP_MJ_WRITE) or a disk file (at the handle's file pointer).
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped)
{
    std::shared_ptr<Session> session = Session::Current("WriteFile");
    if (lpOverlapped) {
        return FailBool(ERROR_NOT_SUPPORTED);
    }
    if (!lpNumberOfBytesWritten) {
        UserModeFault("WriteFile", "lpNumberOfBytesWritten is NULL and lpOverlapped is NULL");
    }
    *lpNumberOfBytesWritten = 0;
    std::shared_ptr<Object> object = session->Lookup(hFile);
    if (!object || object->kind() == Object::Kind::RegistryKey) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    if (!BuffersReadable(lpBuffer, nNumberOfBytesToWrite, nullptr, 0)) {
        return FailBool(ERROR_NOACCESS);
    }
    if (object->kind() == Object::Kind::DeviceFile) {
        auto *device = static_cast<DeviceFile *>(object.get());
        if (!(device->access() & kWriteRights)) {
            return FailBool(ERROR_ACCESS_DENIED);
        }
        if (device->overlapped()) {
            return FailBool(ERROR_INVALID_PARAMETER);
        }
        return SendOnHandle(
            *device,
            [&](link::FileObject file, uint64_t *information) {
                return link::Write(file, lpBuffer, nNumberOfBytesToWrite, information);
            },
            lpNumberOfBytesWritten);
    }
    auto *disk = static_cast<DiskFile *>(object.get());
    if (!(disk->access() & kWriteRights)) {
        return FailBool(ERROR_ACCESS_DENIED);
    }
    std::lock_guard<std::mutex> lock(disk->mutex());
    ssize_t done = ::pwrite(disk->fd(), lpBuffer, nNumberOfBytesToWrite, static_cast<off_t>(disk->position()));
    if (done < 0) {
        return FailBool(ErrorOfErrno(errno));
    }
    disk->position() += static_cast<uint64_t>(done);
    *lpNumberOfBytesWritten = static_cast<DWORD>(done);
    return TRUE;
}

// Size of a disk file: the low 32 bits, the high ones through lpFileSizeHigh. INVALID_FILE_SIZE
// with ERROR_INVALID_FUNCTION for a device.
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    std::shared_ptr<Session> session = Session::Current("GetFileSize");
    std::shared_ptr<Object> object = session->Lookup(hFile);
    if (!object || object->kind() == Object::Kind::RegistryKey) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (object->kind() == Object::Kind::DeviceFile) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return INVALID_FILE_SIZE;
    }
    struct stat info {};
    if (::fstat(static_cast<DiskFile *>(object.get())->fd(), &info) != 0) {
        SetLastError(ErrorOfErrno(errno));
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (lpFileSizeHigh) {
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) {
        SetLastError(NO_ERROR); // a real size that looks like the failure value
    }
    return static_cast<DWORD>(size);
}

// Closes a handle of a file, device or registry key. For a device, IRP_MJ_CLEANUP goes at once,
// even while a call on the handle is still running on another thread (the driver answers that
// call's pending request there: a COM port read ends with ERROR_OPERATION_ABORTED), and
// IRP_MJ_CLOSE once no call holds the file object any more. The pseudo handle of the current
// process, INVALID_HANDLE_VALUE, closes without effect, as on Windows.
BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (hObject == INVALID_HANDLE_VALUE) {
        return TRUE;
    }
    std::shared_ptr<Session> session = Session::Current("CloseHandle");
    std::shared_ptr<Object> object = session->Remove(hObject);
    if (!object) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    object->HandleClosed();
    return TRUE;
}

} // extern "C"
