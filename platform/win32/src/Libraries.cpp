// kernel32's run-time loading of libraries: LoadLibraryA, GetProcAddress, FreeLibrary.
//
// The system's libraries live in system32 as they do on Windows; on the simulated PC their files
// are small markers naming a library built into this stand-in, whose exports are listed here.
// Today that is newdev.dll, which the installers load at run time.
#include <windows.h>

#include "Session.h"
#include "SystemLink.h"

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace tapwin32 {

namespace setup {
BOOL WINAPI NewdevUpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
}

namespace {

// An export as GetProcAddress hands it out; the caller casts it back to the routine's type.
template <typename Routine>
FARPROC Export(Routine *routine)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(routine));
}

struct Library {
    const char *name;
    std::map<std::string, FARPROC> exports;
};

const std::vector<Library> &Libraries()
{
    static const std::vector<Library> libraries = {
        {"newdev.dll",
         {{"UpdateDriverForPlugAndPlayDevicesA", Export(&setup::NewdevUpdateDriverForPlugAndPlayDevicesA)}}},
    };
    return libraries;
}

struct Loaded {
    const Library *library;
    unsigned count;
};

std::mutex loadedMutex;
// Per process: module handle -> the library and its load count.
std::map<uint32_t, std::map<uintptr_t, Loaded>> &LoadedLibraries()
{
    static std::map<uint32_t, std::map<uintptr_t, Loaded>> loaded;
    return loaded;
}

std::optional<std::string> HostOf(const std::string &windowsPath)
{
    return link::HostPath(std::u16string(windowsPath.begin(), windowsPath.end()));
}

bool IsFile(const std::string &windowsPath)
{
    std::optional<std::string> host = HostOf(windowsPath);
    std::ifstream in;
    if (host) {
        in.open(*host, std::ios::binary);
    }
    return in.good();
}

// The library a file is: the marker of a built-in one, or nothing.
const Library *LibraryOfFile(const std::string &windowsPath)
{
    std::optional<std::string> name = link::BuiltInLibraryName(windowsPath);
    for (const Library &library : Libraries()) {
        if (name && *name == library.name) {
            return &library;
        }
    }
    return nullptr;
}

std::string DirectoryOf(const std::string &path)
{
    size_t separator = path.find_last_of('\\');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

} // namespace

} // namespace tapwin32

using namespace tapwin32;

extern "C" {

// Loads a library: a name with a folder is taken as it is; a bare name is looked for in the
// folder of the program's image, the system folder, the Windows folder and the current folder,
// in that order, ".dll" added when it has no extension. Loading it again gives the same handle
// and counts. ERROR_MOD_NOT_FOUND when there is no such file, ERROR_BAD_EXE_FORMAT when the file
// is no library of this system.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::string imageDirectory, currentDirectory;
    {
        std::lock_guard<std::mutex> lock(process->mutex);
        imageDirectory = DirectoryOf(process->imagePath);
        currentDirectory = process->currentDirectory;
    }
    std::string name = lpLibFileName;
    size_t separator = name.find_last_of("\\/");
    if (name.find('.', separator == std::string::npos ? 0 : separator) == std::string::npos) {
        name += ".dll";
    }
    std::vector<std::string> candidates;
    if (name.find_first_of("\\/:") != std::string::npos) {
        candidates.push_back(name);
    } else {
        for (const std::string &folder : {imageDirectory, std::string("C:\\WINDOWS\\system32"),
                                          std::string("C:\\WINDOWS"), currentDirectory}) {
            if (!folder.empty()) {
                candidates.push_back(folder + (folder.back() == '\\' ? "" : "\\") + name);
            }
        }
    }
    for (const std::string &candidate : candidates) {
        if (!IsFile(candidate)) {
            continue;
        }
        const Library *library = LibraryOfFile(candidate);
        if (!library) {
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(loadedMutex);
        std::map<uintptr_t, Loaded> &loaded = LoadedLibraries()[process->id];
        for (auto &[handle, entry] : loaded) {
            if (entry.library == library) {
                ++entry.count;
                return reinterpret_cast<HMODULE>(handle);
            }
        }
        uintptr_t handle = AddModuleTo(*process, candidate);
        loaded[handle] = {library, 1};
        return reinterpret_cast<HMODULE>(handle);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// The address of an export of a library LoadLibraryA loaded (by name; ordinals are not offered).
// ERROR_MOD_NOT_FOUND for a handle that names no such library, ERROR_PROC_NOT_FOUND for a name
// it does not export.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::lock_guard<std::mutex> lock(loadedMutex);
    std::map<uintptr_t, Loaded> &loaded = LoadedLibraries()[process->id];
    auto found = loaded.find(reinterpret_cast<uintptr_t>(hModule));
    if (found == loaded.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    auto entry = found->second.library->exports.find(lpProcName);
    if (entry == found->second.library->exports.end()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return entry->second;
}

// Counts a load down; the last one unloads the library and its handle goes.
BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::lock_guard<std::mutex> lock(loadedMutex);
    std::map<uintptr_t, Loaded> &loaded = LoadedLibraries()[process->id];
    auto found = loaded.find(reinterpret_cast<uintptr_t>(hLibModule));
    if (found == loaded.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (--found->second.count == 0) {
        RemoveModuleFrom(*process, found->first);
        loaded.erase(found);
    }
    return TRUE;
}

} // extern "C"
