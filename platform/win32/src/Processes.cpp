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

// Splits a command line into the program's name (quotes removed) and what follows it.
void SplitCommandLine(const std::string &line, std::string &program, std::string &arguments)
{
    size_t at = 0;
    while (at < line.size() && IsBlank(line[at])) {
        ++at;
    }
    if (at < line.size() && line[at] == '"') {
        size_t close = line.find('"', at + 1);
        program = line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
        at = close == std::string::npos ? line.size() : close + 1;
    } else {
        size_t end = at;
        while (end < line.size() && !IsBlank(line[end])) {
            ++end;
        }
        program = line.substr(at, end - at);
        at = end;
    }
    while (at < line.size() && IsBlank(line[at])) {
        ++at;
    }
    arguments = line.substr(at);
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
// ".exe" is added to a name without an extension; a name with blanks must be quoted. Returns a
// value above 31 once the program is started (its process runs on, the caller does not wait),
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND or ERROR_BAD_FORMAT (a file that is not a program).
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    if (!lpCmdLine) {
        UserModeFault("WinExec", "lpCmdLine is NULL");
    }
    std::string program, arguments;
    SplitCommandLine(lpCmdLine, program, arguments);
    if (program.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!HasExtension(program)) {
        program += ".exe";
    }
    std::shared_ptr<Process::State> process = CurrentProcessState();
    std::string currentDirectory, imageDirectory;
    {
        std::lock_guard<std::mutex> lock(process->mutex);
        currentDirectory = process->currentDirectory;
        imageDirectory = DirectoryOf(process->imagePath);
    }
    std::vector<std::string> candidates;
    if (program.find_first_of("\\/:") != std::string::npos) {
        candidates.push_back(program);
    } else {
        for (const std::string &folder : {imageDirectory, currentDirectory, std::string("C:\\WINDOWS\\system32"),
                                          std::string("C:\\WINDOWS")}) {
            if (!folder.empty()) {
                candidates.push_back(folder + (folder.back() == '\\' ? "" : "\\") + program);
            }
        }
    }
    bool folderMissing = false;
    for (const std::string &candidate : candidates) {
        ResolvedName name = ResolveFileName(candidate, currentDirectory);
        if (name.kind != ResolvedName::Kind::Disk) {
            continue;
        }
        if (!IsFile(name.path)) {
            std::optional<std::string> folder =
                link::HostPath(std::u16string(name.path.begin(), name.path.end()).substr(0, name.path.find_last_of('\\')));
            struct stat info {};
            folderMissing = !folder || ::stat(folder->c_str(), &info) != 0;
            continue;
        }
        uint32_t error = link::StartProcess(name.path, arguments, static_cast<int>(uCmdShow));
        return error == ERROR_SUCCESS ? kStarted : error;
    }
    // Only a name with a folder of its own can miss the folder.
    return candidates.size() == 1 && folderMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
}

} // extern "C"
