// One run of `tapbench run`: a fresh simulated PC, the state the script's commands share, the
// table of commands and expectations, and the transcript. The commands live in families, one file
// each (devices, registry, programs, input, expectations); a family adds its commands, its
// expectations and the transcript lines it prints to the tables below, in Commands.cpp.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <machine/Machine.h>
#include <machine/PanelGeometry.h>

#include "Scenario.h"
#include "ScenarioRun.h"
#include "Storyboard.h"
#include "Words.h"

namespace tapbench {

// One line of the transcript with the moment it happened; lines of one moment keep the order of
// their kinds.
struct TranscriptEvent {
    tapmachine::Ticks time;
    int kind;
    std::string text;
};

// The order of the kinds of one moment.
enum TranscriptKind {
    kProcessStarted,
    kWindowCreated,
    kMessageBoxShown,
    kReport,
    kBeep,
    kMessageBoxClosed,
    kWindowDestroyed,
    kProcessEnded,
};

// What the installer leaves for each product line; see the install command.
struct ProductFacts {
    const char *word;
    const char *module;
    std::u16string service;
    std::u16string hardwareId;
    std::u16string controlLink;
    tapmachine::Protocol protocol;
};

// The installed touch device a finger reaches.
struct Touchscreen {
    const ProductFacts *product;
    unsigned port;
    std::u16string node;
    std::u16string parameters;
};

class ScenarioSession;

// A command: its first word and what it does with the line.
struct Command {
    const char *name;
    std::function<void(ScenarioSession &, const ScenarioLine &)> run;
};

// An expectation: the word after `expect`; nothing when met, else what was seen instead.
struct Expectation {
    const char *name;
    std::function<std::optional<std::string>(ScenarioSession &, const ScenarioLine &)> check;
};

// A source of transcript lines, asked after each command for what happened since the last time.
using TranscriptSource = std::function<void(ScenarioSession &, std::vector<TranscriptEvent> &)>;

// Something a family does once the last line has run (before the run's last line is printed).
using Finisher = std::function<void(ScenarioSession &)>;

struct CommandTable {
    std::vector<Command> commands;
    std::vector<Expectation> expectations;
    std::vector<TranscriptSource> transcript;
    std::vector<Finisher> finish;
};

// Each family adds its part (Commands.cpp lists them).
void AddDeviceCommands(CommandTable &table);
void AddRegistryCommands(CommandTable &table);
void AddProgramCommands(CommandTable &table);
void AddInputCommands(CommandTable &table);
void AddExpectations(CommandTable &table);
void AddStoryCommands(CommandTable &table);
const CommandTable &Commands();

// The storyboard a script asked for, and where it goes when the run ends.
struct StoryboardFile {
    std::string path;
    Storyboard board;
};

// A step of the story a script tells (`step "TEXT"`), with the expectations checked during it.
struct StoryStep {
    std::string label;
    int met = 0;
    int failed = 0;
};

class ScenarioSession {
public:
    // The transcript goes to OUT; STORY, when given, gets the story alone: the steps, the failed
    // expectations and the summary.
    ScenarioSession(std::ostream &out, const std::vector<ExtraProgram> &extraPrograms, std::ostream *story = nullptr);

    int Run(const std::vector<ScenarioLine> &lines, std::ostream &err);

    tapmachine::Machine &machine() { return machine_; }
    std::ostream &out() { return out_; }

    // The programs this run can start by name, and where each is installed.
    const std::vector<ExtraProgram> &programs() const { return programs_; }
    static std::u16string ProgramPath(const ExtraProgram &program);

    // The touch device: installed by `install`, reached by the finger.
    std::optional<Touchscreen> &device() { return device_; }
    Touchscreen &RequireDevice();
    tapmachine::PanelGeometry &panel() { return panel_; }
    tapmachine::PixelPoint &fingerAt() { return fingerAt_; }

    // Reports printed and not yet passed by an `expect report`.
    std::deque<std::string> &pendingReports() { return reports_; }

    // Window events and processes already printed.
    size_t &windowEventsSeen() { return windowEventsSeen_; }
    std::map<uint32_t, int> &processesPrinted() { return processesPrinted_; }

    // The story: steps[0] gathers what comes before the first step.
    std::vector<StoryStep> &steps() { return steps_; }
    std::optional<StoryboardFile> &storyboard() { return storyboard_; }
    // A line of the story: to the transcript, and to the story stream when there is one.
    void Tell(const std::string &line);

private:
    void Execute(const ScenarioLine &line);
    void Check(const ScenarioLine &line);
    void PrintEvents();

    std::ostream &out_;
    tapmachine::Machine machine_;
    std::vector<ExtraProgram> programs_;
    tapmachine::PanelGeometry panel_;
    std::optional<Touchscreen> device_;
    tapmachine::PixelPoint fingerAt_;
    std::deque<std::string> reports_;
    size_t windowEventsSeen_ = 0;
    std::map<uint32_t, int> processesPrinted_;  // 1: its start, 2: its end too
    std::ostream *story_;
    std::vector<StoryStep> steps_{StoryStep{}};
    std::optional<StoryboardFile> storyboard_;
    int failures_ = 0;
};

// Window events carry milliseconds: the transcript is ordered at that grain.
tapmachine::Ticks Moment(tapmachine::Ticks time);

} // namespace tapbench
