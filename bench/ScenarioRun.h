// `tapbench run SCENARIO`: a scripted session on a fresh simulated PC. The script installs a
// touch driver, touches the panel, uses the mouse and keyboard, starts programs, answers message
// boxes, moves the clock, takes snapshots and checks what it expects; the run prints a transcript
// of what happened: reports to the mouse class, beeps, windows and message boxes, processes.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Scenario.h"

namespace tapbench {

// Exit statuses of a run.
constexpr int kScenarioPassed = 0;
constexpr int kExpectationFailed = 1;
constexpr int kScenarioError = 2;  // a usage error, or a command that cannot be carried out

// A program the machine of a run has besides the package's own: installed at
// C:\WINDOWS\<folder>\<name>.exe from the host module, started by name.
struct ExtraProgram {
    std::string name;
    std::string folder;
    std::string module;
};

// Runs the script's lines on a fresh machine; the transcript goes to OUT, errors to ERR, and the
// story alone (steps, failed expectations, summary) to STORY when given.
int RunScenario(const std::vector<ScenarioLine> &lines, std::ostream &out, std::ostream &err,
                const std::vector<ExtraProgram> &extraPrograms = {}, std::ostream *story = nullptr);

// The `run` command: its arguments after "run" ([--transcript FILE] SCENARIO|-). With
// --transcript the whole transcript goes to FILE and OUT gets the story alone.
int RunScenarioCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// The usage text of the run command.
const char *RunUsage();

} // namespace tapbench
