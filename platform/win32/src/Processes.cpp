// kernel32's WinExec: starting a program of the simulated PC.
#include <windows.h>

#include "FileNames.h"
#include "Session.h"
#include "SystemLink.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace tapwin32 {

namespace {

// WinExec's value for a started program: anything above 31.
constexpr UINT kStarted = 33;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

struct ProgramName {
    std::string name;
    std::string arguments;
};

// The ways a command line can be read as a program's name and what follows it. A quoted name is
// the one reading; an unquoted line with blanks is read at each blank in turn, the shortest name
// first, as CreateProcess does ("C:\Program Files\X.exe a" tries C:\Program first).
std::vector<ProgramName> ReadingsOf(const std::string &line)
{
    size_t at = 0;
    while (at < line.size() && IsBlank(line[at])) {
        ++at;
    }
    auto argumentsFrom = [&line](size_t from) {
        while (from < line.size() && IsBlank(line[from])) {
            ++from;
        }
        return line.substr(from);
    };
    std::vector<ProgramName> readings;
    if (at < line.size() && line[at] == '"') {
        size_t close = line.find('"', at + 1);
        std::string name = line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
        readings.push_back({name, close == std::string::npos ? std::string() : argumentsFrom(close + 1)});
        return readings;
    }
    for (size_t end = at; end <= line.size(); ++end) {
        if (end == line.size() || IsBlank(line[end])) {
            if (end > at && !IsBlank(line[end - 1])) {
                readings.push_back({line.substr(at, end - at), argumentsFrom(end)});
            }
        }
    }
    return readings;
}

bool HasExtension(const std::string &name)
{
    size_t dot = name.find_last_of('.');
    size_t separator = name.find_last_of("\\/");
    return dot != std::string::npos && (separator == std::string::npos || dot > separator);
}

bool IsFile(const std::string &windowsPath)
{
    std::optional<std::string> host = link::HostPath(std::u16string(windowsPath.begin(), windowsPath.end()));
    struct stat info {};
    return host && ::stat(host->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string &windowsPath)
{
    std::optional<std::string> host = link::HostPath(std::u16string(windowsPath.begin(), windowsPath.end()));
    struct stat info {};
    return host && ::stat(host->c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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

// Runs the program the command line names, with what follows the name as its command line and
// uCmdShow as its show command. A name without a folder is searched for, in order, in the folder
// of the calling program's image, the current folder, the system folder and the Windows folder;
// ".exe" is added to a name without an extension; an unquoted name with blanks is tried at each
// blank, shortest first. Returns a value above 31 once the program is started (its process runs
// on; the caller does not wait for it), ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND or
// ERROR_BAD_FORMAT (a file that is not a program).
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    if (!lpCmdLine) {
        UserModeFault("WinExec", "lpCmdLine is NULL");
    }
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::string currentDirectory, imageDirectory;
    {
        std::lock_guard<std::mutex> lock(process->mutex);
        currentDirectory = process->currentDirectory;
        imageDirectory = DirectoryOf(process->imagePath);
    }
    UINT failure = ERROR_FILE_NOT_FOUND;
    for (ProgramName reading : ReadingsOf(lpCmdLine)) {
        if (!HasExtension(reading.name)) {
            reading.name += ".exe";
        }
        std::vector<std::string> candidates;
        const bool hasFolder = reading.name.find_first_of("\\/:") != std::string::npos;
        if (hasFolder) {
            candidates.push_back(reading.name);
        } else {
            for (const std::string &folder : {imageDirectory, currentDirectory, std::string("C:\\WINDOWS\\system32"),
                                              std::string("C:\\WINDOWS")}) {
                if (!folder.empty()) {
                    candidates.push_back(folder + (folder.back() == '\\' ? "" : "\\") + reading.name);
                }
            }
        }
        for (const std::string &candidate : candidates) {
            ResolvedName name = ResolveFileName(candidate, currentDirectory);
            if (name.kind != ResolvedName::Kind::Disk) {
                continue;
            }
            if (!IsFile(name.path)) {
                if (hasFolder && !IsFolder(name.path.substr(0, name.path.find_last_of('\\')))) {
                    failure = ERROR_PATH_NOT_FOUND;
                }
                continue;
            }
            uint32_t error = link::StartProcess(name.path, reading.arguments, static_cast<int>(uCmdShow));
            return error == ERROR_SUCCESS ? kStarted : error;
        }
    }
    return failure;
}

} // extern "C"
