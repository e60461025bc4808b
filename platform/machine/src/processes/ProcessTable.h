// The machine's processes: program modules started from drive C:, each on a UI thread of the
// window system with a fresh copy of its image, and the log of what was started and what ended.
//
// Threads: Start may be called from any thread, a program's UI thread included (WinExec); the
// records are guarded by one lock, never held while a program runs.
#pragma once

#include <machine/Machine.h>
#include <machine/ModuleLoader.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tap::ui::host {
class Session;
}

namespace tapmachine {

class ProcessTable {
public:
    ProcessTable(FileSystem &files, std::function<Ticks()> clock);
    ~ProcessTable();

    // Starts the program at IMAGEPATH on the window system's UI thread; throws ProcessStartError.
    uint32_t Start(tap::ui::host::Session &windows, std::u16string_view imagePath, const std::string &commandLine,
                   int showCommand);
    std::vector<ProcessInfo> List() const;
    std::optional<ProcessInfo> Find(uint32_t id) const;
    // Unloads the program images. Only once the window system has ended every program's thread.
    void UnloadImages();

private:
    struct Entry;

    FileSystem &files_;
    std::function<Ticks()> clock_;
    mutable std::mutex mutex_;
    ModuleLoader loader_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace tapmachine
