#include "ProcessTable.h"

#include <machine/ProgramModule.h>
#include <tapkernel/Text.h>

#include "tap/ui/host/Session.h"

namespace tapmachine {

struct ProcessTable::Entry {
    ProcessInfo info;
    std::unique_ptr<LoadedModule> image;
    std::string imagePath;    // UTF-8, for the start-up record
    std::string commandLine;
    TapProgramStart start{};
};

namespace {

// SideSwitch for C:\WINDOWS\MonotapDrv\SideSwitch.exe.
std::string ProgramName(std::u16string_view imagePath)
{
    std::u16string_view name = imagePath.substr(imagePath.find_last_of(u"\\/") + 1);
    size_t dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return tapkernel::ToUtf8(name);
}

}  // namespace

ProcessTable::ProcessTable(FileSystem &files, std::function<Ticks()> clock) : files_(files), clock_(std::move(clock)) {}

ProcessTable::~ProcessTable() = default;

uint32_t ProcessTable::Start(tap::ui::host::Session &windows, std::u16string_view imagePath,
                             const std::string &commandLine, int showCommand)
{
    std::optional<std::string> hostPath = files_.HostPath(imagePath);
    if (!hostPath || !files_.Exists(imagePath)) {
        throw ProcessStartError(ProcessStartError::Reason::NotFound, "no program at " + tapkernel::ToUtf8(imagePath));
    }
    auto entry = std::make_unique<Entry>();
    Entry *process = entry.get();
    TapProgramStartupRoutine startup = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            entry->image = loader_.Load(*hostPath);
        } catch (const ModuleLoadError &error) {
            throw ProcessStartError(ProcessStartError::Reason::NotAProgram, error.what());
        }
        startup = reinterpret_cast<TapProgramStartupRoutine>(entry->image->Symbol(TAP_PROGRAM_STARTUP_SYMBOL));
        auto resources =
            reinterpret_cast<TapProgramResourcesRoutine>(entry->image->Symbol(TAP_PROGRAM_RESOURCES_SYMBOL));
        if (!startup || !resources) {
            throw ProcessStartError(ProcessStartError::Reason::NotAProgram,
                                    tapkernel::ToUtf8(imagePath) + " is not a program module of this machine");
        }
        entry->info.id = static_cast<uint32_t>(entries_.size() + 1);
        entry->info.imagePath = std::u16string(imagePath);
        entry->info.name = ProgramName(imagePath);
        entry->info.commandLine = commandLine;
        entry->info.running = true;
        entry->info.started = clock_();
        entry->imagePath = tapkernel::ToUtf8(imagePath);
        entry->commandLine = commandLine;
        entry->start.imagePath = entry->imagePath.c_str();
        entry->start.commandLine = entry->commandLine.c_str();
        entry->start.showCommand = showCommand;
        entry->start.instance = const_cast<void *>(resources());
        entries_.push_back(std::move(entry));
    }
    windows.StartProgram(process->info.name, [this, process, startup] {
        int exitCode = startup(&process->start);
        Ticks now = clock_();
        std::lock_guard<std::mutex> lock(mutex_);
        process->info.running = false;
        process->info.exitCode = exitCode;
        process->info.ended = now;
        return exitCode;
    });
    return process->info.id;
}

std::vector<ProcessInfo> ProcessTable::List() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ProcessInfo> list;
    for (const auto &entry : entries_) {
        list.push_back(entry->info);
    }
    return list;
}

std::optional<ProcessInfo> ProcessTable::Find(uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (id == 0 || id > entries_.size()) {
        return std::nullopt;
    }
    return entries_[id - 1]->info;
}

void ProcessTable::UnloadImages()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &entry : entries_) {
        entry->image.reset();
    }
}

}  // namespace tapmachine
