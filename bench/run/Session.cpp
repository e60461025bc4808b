#include "Session.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <tapkernel/Text.h>

namespace tapbench {
namespace {

// The programs of this build: name, folder under the Windows directory, host module.
const std::vector<ExtraProgram> kPrograms = {
#include "BenchPrograms.inc"
};

// The simulated PC's own programs (runonce), in their folder under the Windows directory.
const std::vector<ExtraProgram> kSystemPrograms = {
#include "BenchSystemPrograms.inc"
};

// The drivers of the package, by the file names the package gives them, and the USB drivers'.
struct MediaDriver {
    const char *file;
    const char *module;
    const char *inf; // below the source tree
};
const MediaDriver kMediaDrivers[] = {
    {"Monotap.sys", TAPBENCH_MONOTAP_MODULE, "sys/Monotap/Monotap.inf"},
    {"Polytap.sys", TAPBENCH_POLYTAP_MODULE, "sys/Polytap/Polytap.inf"},
    // The USB drivers' stand-ins, which the installers' USB path installs from the same media.
    {"Monousb.sys", TAPBENCH_MONOUSB_MODULE, "platform/usb/inf/Monousb.inf"},
    {"Polyusb.sys", TAPBENCH_POLYUSB_MODULE, "platform/usb/inf/Polyusb.inf"},
};

tapmachine::MachineOptions BootOptions()
{
    tapmachine::MachineOptions options;
    options.comPorts = {1, 2};
    return options;
}

} // namespace

tapmachine::Ticks Moment(tapmachine::Ticks time)
{
    return time / tapmachine::kTicksPerMillisecond * tapmachine::kTicksPerMillisecond;
}

ScenarioSession::ScenarioSession(std::ostream &out, const std::vector<ExtraProgram> &extraPrograms,
                                 std::ostream *story)
    : out_(out), machine_(BootOptions()), programs_(kPrograms), story_(story)
{
    programs_.insert(programs_.end(), extraPrograms.begin(), extraPrograms.end());
    panel_.screenWidth = machine_.screenWidth();
    panel_.screenHeight = machine_.screenHeight();
    for (const ExtraProgram &program : programs_) {
        if (!program.folder.empty()) {  // the installers stay on the media
            machine_.InstallProgram(program.module, ProgramPath(program), true);
        }
    }
    for (const ExtraProgram &program : kSystemPrograms) {
        machine_.InstallProgram(program.module, ProgramPath(program), true);
    }
    MountMedia();
    machine_.WaitIdle();
    machine_.TakeSystemEvents();  // the boot's own: the transcript starts with the script
}

ScenarioSession::~ScenarioSession()
{
    std::error_code ignored;
    std::filesystem::remove_all(mediaFolder_, ignored);
}

// D:\ holds what the windows-x86 build stages in its package folder, side by side: the drivers
// with their INF files and every program (the host builds of each, linked).
void ScenarioSession::MountMedia()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tapbench-d-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot make a folder for the installation media");
    }
    mediaFolder_ = pattern;
    tapmachine::FileSystem &files = machine_.files();
    files.MountDrive(u'D', mediaFolder_);
    for (const MediaDriver &driver : kMediaDrivers) {
        if (*driver.module) {
            files.LinkIn(driver.module, u"D:\\" + tapkernel::ToUtf16(driver.file));
            std::string inf = driver.inf;
            files.LinkIn(std::string(TAPBENCH_SOURCE_DIR) + "/" + inf,
                         u"D:\\" + tapkernel::ToUtf16(inf.substr(inf.find_last_of('/') + 1)));
        }
    }
    for (const ExtraProgram &program : programs_) {
        // A program built for two drivers ships as built: the first of its builds.
        const std::u16string path = u"D:\\" + tapkernel::ToUtf16(program.name) + u".exe";
        if (!files.Exists(path)) {
            files.LinkIn(program.module, path);
        }
    }
}

std::u16string ScenarioSession::ProgramPath(const ExtraProgram &program)
{
    return u"C:\\WINDOWS\\" + tapkernel::ToUtf16(program.folder) + u"\\" + tapkernel::ToUtf16(program.name) +
           u".exe";
}

int ScenarioSession::Run(const std::vector<ScenarioLine> &lines, std::ostream &err)
{
    for (const ScenarioLine &line : lines) {
        out_ << "> " << line.text << '\n';
        try {
            Execute(line);
            machine_.WaitIdle();
            PrintEvents();
        } catch (const std::exception &error) {
            // A command that cannot be carried out, or the machine refusing one.
            PrintEvents();
            out_.flush();
            err << "tapbench run: line " << line.number << ": " << error.what() << '\n';
            return kScenarioError;
        }
    }
    try {
        for (const Finisher &finish : Commands().finish) {
            finish(*this);
        }
    } catch (const std::exception &error) {
        out_.flush();
        err << "tapbench run: at the end: " << error.what() << '\n';
        return kScenarioError;
    }
    Tell(failures_ ? std::to_string(failures_) + " expectation(s) failed" : std::string("all expectations met"));
    out_.flush();
    return failures_ ? kExpectationFailed : kScenarioPassed;
}

void ScenarioSession::Tell(const std::string &line)
{
    out_ << line << '\n';
    if (story_) {
        *story_ << line << '\n';
        story_->flush();
    }
}

Touchscreen &ScenarioSession::RequireDevice()
{
    if (!device_) {
        throw ScenarioError("no touch device is installed");
    }
    return *device_;
}

void ScenarioSession::Execute(const ScenarioLine &line)
{
    const std::string command = Lower(line.words[0]);
    if (command == "expect") {
        Check(line);
        return;
    }
    for (const Command &candidate : Commands().commands) {
        if (command == candidate.name) {
            candidate.run(*this, line);
            return;
        }
    }
    throw ScenarioError("unknown command '" + line.words[0] + "'");
}

void ScenarioSession::Check(const ScenarioLine &line)
{
    const Words &w = line.words;
    const std::vector<Expectation> &expectations = Commands().expectations;
    if (w.size() < 2) {
        std::string names;
        for (const Expectation &expectation : expectations) {
            names += (names.empty() ? "" : "|") + std::string(expectation.name);
        }
        throw ScenarioError("usage: expect " + names + " ...");
    }
    const std::string what = Lower(w[1]);
    for (const Expectation &expectation : expectations) {
        if (what == expectation.name) {
            if (std::optional<std::string> failure = expectation.check(*this, line)) {
                ++failures_;
                ++steps_.back().failed;
                Tell("FAILED line " + std::to_string(line.number) + ": " + line.text + "\n  " + *failure);
            } else {
                ++steps_.back().met;
            }
            return;
        }
    }
    throw ScenarioError("nothing to expect called '" + w[1] + "'");
}

void ScenarioSession::PrintEvents()
{
    std::vector<TranscriptEvent> events;
    for (const TranscriptSource &source : Commands().transcript) {
        source(*this, events);
    }
    std::stable_sort(events.begin(), events.end(), [](const TranscriptEvent &a, const TranscriptEvent &b) {
        return a.time != b.time ? a.time < b.time : a.kind < b.kind;
    });
    for (const TranscriptEvent &event : events) {
        out_ << event.text << '\n';
    }
}

} // namespace tapbench
