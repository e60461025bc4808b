// kernel32's last-error value, Windows directory and module paths.
#include <windows.h>

#include "Session.h"

#include <cstring>

namespace tapwin32 {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// The Windows directory of the simulated PC (its drive C: keeps the system there).
constexpr char kWindowsDirectory[] = "C:\\WINDOWS";

} // namespace

} // namespace tapwin32

using namespace tapwin32;

extern "C" {

// The calling thread's last-error value.
DWORD WINAPI GetLastError(VOID)
{
    return lastError;
}

VOID WINAPI SetLastError(DWORD dwErrCode)
{
    lastError = dwErrCode;
}

// Copies the Windows directory, C:\WINDOWS, with its terminator and returns its length; when
// uSize is too small, returns the size needed (terminator included) and leaves the buffer alone.
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    constexpr UINT length = sizeof(kWindowsDirectory) - 1;
    if (uSize <= length) {
        return length + 1;
    }
    if (!lpBuffer) {
        UserModeFault("GetWindowsDirectoryA", "lpBuffer is NULL with uSize %u", uSize);
    }
    std::memcpy(lpBuffer, kWindowsDirectory, length + 1);
    return length;
}

// The path of a module of the calling process (NULL: the process's image). As on Windows XP, a
// buffer that is too small receives the first nSize characters without a terminator and nSize
// is returned. An unknown module handle gives 0 and ERROR_MOD_NOT_FOUND.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(process->mutex);
        uintptr_t module = hModule ? reinterpret_cast<uintptr_t>(hModule) : process->imageModule;
        auto found = process->modules.find(module);
        if (found == process->modules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = found->second;
    }
    if (nSize == 0) {
        SetLastError(ERROR_SUCCESS);
        return 0;
    }
    if (!lpFilename) {
        UserModeFault("GetModuleFileNameA", "lpFilename is NULL with nSize %u", static_cast<unsigned>(nSize));
    }
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize);
        SetLastError(ERROR_SUCCESS);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

} // extern "C"
