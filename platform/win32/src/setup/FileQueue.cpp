// File queues: the CopyFiles of install sections queued, and committed with the callback seeing
// the notifications in the system's order; and the default queue callback.
#include "SetupState.h"

#include "../SystemLink.h"

#include <cstdlib>
#include <filesystem>

namespace tapwin32::setup {

namespace {

namespace fs = std::filesystem;

constexpr int kMaximumRetries = 16; // a callback that answers "retry" for ever still ends

struct DefaultContext {
    HWND owner;
    HWND progress;
};

// The folder [DestinationDirs] gives a file list (or DefaultDestDir; the system folder when the
// INF names neither).
std::optional<std::string> DestinationOf(const inf::InfFile &file, const std::string &list)
{
    const inf::Line *line = file.FindLine("DestinationDirs", list);
    if (!line) {
        line = file.FindLine("DestinationDirs", "DefaultDestDir");
    }
    unsigned id = line ? static_cast<unsigned>(std::strtoul(line->Field(0).c_str(), nullptr, 10)) : 11;
    std::optional<std::string> folder = inf::DirectoryOfId(id);
    if (folder && line && !line->Field(1).empty()) {
        *folder += "\\" + line->Field(1);
    }
    return folder;
}

// Where a file comes from below the source root: [SourceDisksNames] path of its disk and
// [SourceDisksFiles] subdirectory.
std::string SourceOf(const inf::InfFile &file, const std::string &root, const std::string &name)
{
    std::string path = root;
    auto append = [&path](const std::string &part) {
        std::string trimmed = part;
        while (!trimmed.empty() && (trimmed.front() == '\\' || trimmed.front() == '/')) {
            trimmed.erase(trimmed.begin());
        }
        if (trimmed.empty()) {
            return;
        }
        if (!path.empty() && path.back() != '\\') {
            path += '\\';
        }
        path += trimmed;
    };
    if (const inf::Line *entry = file.FindLine("SourceDisksFiles", name)) {
        if (const inf::Line *disk = file.FindLine("SourceDisksNames", entry->Field(0))) {
            append(disk->Field(3));
        }
        append(entry->Field(1));
    }
    append(name);
    return path;
}

void QueueFile(FileQueue &queue, const inf::InfFile &file, const std::string &root, const std::string &folder,
               const std::string &target, const std::string &source, DWORD style)
{
    queue.copies.push_back({SourceOf(file, root, source.empty() ? target : source), folder + "\\" + target, style});
}

std::optional<std::string> HostOf(const std::string &windowsPath)
{
    return link::HostPath(std::u16string(windowsPath.begin(), windowsPath.end()));
}

// Copies a file of the machine's drives: written beside the target and renamed over it, so a
// target that is a link to a build output is replaced, never written through.
DWORD CopyOne(const QueuedCopy &copy)
{
    std::optional<std::string> source = HostOf(copy.source);
    std::optional<std::string> target = HostOf(copy.target);
    std::error_code error;
    if (!source || !fs::is_regular_file(*source, error)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!target) {
        return ERROR_PATH_NOT_FOUND;
    }
    fs::create_directories(fs::path(*target).parent_path(), error);
    fs::path temporary = fs::path(*target).parent_path() / (fs::path(*target).filename().string() + ".~tmp");
    if (!fs::copy_file(*source, temporary, fs::copy_options::overwrite_existing, error)) {
        return ERROR_ACCESS_DENIED;
    }
    fs::rename(temporary, *target, error);
    if (error) {
        fs::remove(temporary, error);
        return ERROR_ACCESS_DENIED;
    }
    link::RecordEvent("file copied " + copy.source + " " + copy.target);
    return ERROR_SUCCESS;
}

bool Exists(const std::string &windowsPath)
{
    std::optional<std::string> host = HostOf(windowsPath);
    std::error_code error;
    return host && fs::exists(*host, error);
}

UINT Notify(PSP_FILE_CALLBACK_A callback, PVOID context, UINT notification, UINT_PTR first, UINT_PTR second)
{
    return callback(context, notification, first, second);
}

// The delete subqueue; false when the callback aborted (the last error set).
bool CommitDeletes(FileQueue &queue, PSP_FILE_CALLBACK_A callback, PVOID context)
{
    if (queue.deletes.empty()) {
        return true;
    }
    if (!Notify(callback, context, SPFILENOTIFY_STARTSUBQUEUE, FILEOP_DELETE, queue.deletes.size())) {
        SetLastError(ERROR_CANCELLED);
        return false;
    }
    for (const std::string &target : queue.deletes) {
        FILEPATHS_A paths{target.c_str(), nullptr, 0, 0};
        UINT answer = Notify(callback, context, SPFILENOTIFY_STARTDELETE, reinterpret_cast<UINT_PTR>(&paths),
                             FILEOP_DELETE);
        if (answer == FILEOP_ABORT) {
            SetLastError(ERROR_CANCELLED);
            return false;
        }
        if (answer == FILEOP_SKIP) {
            continue;
        }
        std::optional<std::string> host = HostOf(target);
        std::error_code error;
        if (!host || !fs::remove(*host, error)) {
            paths.Win32Error = ERROR_FILE_NOT_FOUND;
            if (Notify(callback, context, SPFILENOTIFY_DELETEERROR, reinterpret_cast<UINT_PTR>(&paths), 0) ==
                FILEOP_ABORT) {
                SetLastError(paths.Win32Error);
                return false;
            }
        }
        Notify(callback, context, SPFILENOTIFY_ENDDELETE, reinterpret_cast<UINT_PTR>(&paths), 0);
    }
    Notify(callback, context, SPFILENOTIFY_ENDSUBQUEUE, FILEOP_DELETE, 0);
    return true;
}

// The copy subqueue; false when the callback aborted or a copy failed and was not skipped.
bool CommitCopies(FileQueue &queue, PSP_FILE_CALLBACK_A callback, PVOID context)
{
    if (queue.copies.empty()) {
        return true;
    }
    if (!Notify(callback, context, SPFILENOTIFY_STARTSUBQUEUE, FILEOP_COPY, queue.copies.size())) {
        SetLastError(ERROR_CANCELLED);
        return false;
    }
    for (const QueuedCopy &copy : queue.copies) {
        if ((copy.style & SP_COPY_NOOVERWRITE) && Exists(copy.target)) {
            continue;
        }
        FILEPATHS_A paths{copy.target.c_str(), copy.source.c_str(), 0, 0};
        UINT answer = Notify(callback, context, SPFILENOTIFY_STARTCOPY, reinterpret_cast<UINT_PTR>(&paths),
                             FILEOP_COPY);
        if (answer == FILEOP_ABORT) {
            SetLastError(ERROR_CANCELLED);
            return false;
        }
        if (answer == FILEOP_SKIP) {
            continue;
        }
        bool skipped = false;
        for (int attempt = 0;; ++attempt) {
            DWORD result = CopyOne(copy);
            if (result == ERROR_SUCCESS) {
                break;
            }
            paths.Win32Error = result;
            char newPath[MAX_PATH] = "";
            answer = Notify(callback, context, SPFILENOTIFY_COPYERROR, reinterpret_cast<UINT_PTR>(&paths),
                            reinterpret_cast<UINT_PTR>(newPath));
            if (answer == FILEOP_SKIP) {
                skipped = true;
                break;
            }
            if (answer != FILEOP_RETRY || attempt == kMaximumRetries) {
                SetLastError(result);
                return false;
            }
        }
        if (!skipped) {
            paths.Win32Error = 0;
            Notify(callback, context, SPFILENOTIFY_ENDCOPY, reinterpret_cast<UINT_PTR>(&paths), 0);
        }
    }
    Notify(callback, context, SPFILENOTIFY_ENDSUBQUEUE, FILEOP_COPY, 0);
    return true;
}

} // namespace

bool QueueCopyFiles(FileQueue &queue, const inf::InfFile &file, const std::string &section,
                    const std::string &sourceRoot, DWORD copyStyle)
{
    for (const std::string &entry : file.Values(section, "CopyFiles")) {
        if (entry[0] == '@') {
            std::optional<std::string> folder = DestinationOf(file, "");
            if (!folder) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            QueueFile(queue, file, sourceRoot, *folder, entry.substr(1), "", copyStyle);
            continue;
        }
        const inf::Section *list = file.FindSection(entry);
        std::optional<std::string> folder = DestinationOf(file, entry);
        if (!list || !folder) {
            SetLastError(list ? ERROR_INVALID_PARAMETER : ERROR_SECTION_NOT_FOUND);
            return false;
        }
        for (const inf::Line &line : list->lines) {
            std::string target = line.key ? *line.key : line.Field(0);
            std::string source = line.key ? line.Field(0) : line.Field(1);
            if (!target.empty()) {
                QueueFile(queue, file, sourceRoot, *folder, target, source, copyStyle);
            }
        }
    }
    return true;
}

// The notifications, in order: STARTQUEUE; the delete subqueue (STARTSUBQUEUE, per file
// STARTDELETE, DELETEERROR on failure, ENDDELETE; ENDSUBQUEUE); the copy subqueue (STARTSUBQUEUE
// with the count, per file STARTCOPY, COPYERROR on failure, ENDCOPY; ENDSUBQUEUE); ENDQUEUE with
// TRUE or FALSE.
BOOL CommitQueue(HWND owner, FileQueue &queue, PSP_FILE_CALLBACK_A callback, PVOID context)
{
    if (!Notify(callback, context, SPFILENOTIFY_STARTQUEUE, reinterpret_cast<UINT_PTR>(owner), 0)) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    bool done = CommitDeletes(queue, callback, context) && CommitCopies(queue, callback, context);
    DWORD error = GetLastError();
    Notify(callback, context, SPFILENOTIFY_ENDQUEUE, done ? TRUE : FALSE, 0);
    SetLastError(done ? ERROR_SUCCESS : error);
    return done ? TRUE : FALSE;
}

} // namespace tapwin32::setup

using namespace tapwin32;
using namespace tapwin32::setup;

extern "C" {

HSPFILEQ WINAPI SetupOpenFileQueue(VOID)
{
    auto *queue = new setup::FileQueue;
    Register(queue, Kind::Queue);
    return queue;
}

BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle)
{
    auto *queue = Lookup<setup::FileQueue>(QueueHandle, Kind::Queue);
    if (!queue) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Unregister(queue);
    delete queue;
    return TRUE;
}

BOOL WINAPI SetupCommitFileQueueA(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context)
{
    auto *queue = Lookup<setup::FileQueue>(QueueHandle, Kind::Queue);
    if (!queue || !MsgHandler) {
        SetLastError(queue ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BOOL done = CommitQueue(Owner, *queue, MsgHandler, Context);
    queue->copies.clear();
    queue->deletes.clear();
    return done;
}

// The default callback's context. AlternateProgressWindow INVALID_HANDLE_VALUE asks for no
// progress dialog; this system never shows one.
PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow, UINT, DWORD, PVOID)
{
    auto *context = new DefaultContext{OwnerWindow, AlternateProgressWindow};
    Register(context, Kind::DefaultCallback);
    return context;
}

VOID WINAPI SetupTermDefaultQueueCallback(PVOID Context)
{
    if (auto *context = Lookup<DefaultContext>(Context, Kind::DefaultCallback)) {
        Unregister(context);
        delete context;
    }
}

// What the system's default callback answers: go on with every queue, subqueue and operation;
// a file that cannot be deleted is skipped; a file that cannot be copied aborts the queue (its
// dialog, offering a new path, is not modelled: the error is the commit's result).
UINT WINAPI SetupDefaultQueueCallbackA(PVOID Context, UINT Notification, UINT_PTR, UINT_PTR)
{
    if (!Lookup<DefaultContext>(Context, Kind::DefaultCallback)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FILEOP_ABORT;
    }
    switch (Notification) {
    case SPFILENOTIFY_STARTQUEUE:
    case SPFILENOTIFY_STARTSUBQUEUE: return TRUE;
    case SPFILENOTIFY_STARTCOPY:
    case SPFILENOTIFY_STARTDELETE:
    case SPFILENOTIFY_STARTRENAME: return FILEOP_DOIT;
    case SPFILENOTIFY_DELETEERROR:
    case SPFILENOTIFY_RENAMEERROR: return FILEOP_SKIP;
    case SPFILENOTIFY_COPYERROR:
    case SPFILENOTIFY_NEEDMEDIA: return FILEOP_ABORT;
    default: return 0;
    }
}

} // extern "C"
