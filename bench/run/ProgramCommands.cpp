// Programs: starting them, answering their message boxes; and the transcript's windows, message
// boxes and processes.
#include <tapkernel/Text.h>

#include "Session.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

using tap::ui::host::WindowEvent;

const char *AnswerName(int answer)
{
    switch (answer) {
    case tap::ui::answer::Ok: return "OK";
    case tap::ui::answer::Cancel: return "Cancel";
    case tap::ui::answer::Yes: return "Yes";
    case tap::ui::answer::No: return "No";
    default: return "?";
    }
}

// start PROGRAM|PATH [ARGUMENTS...]: PROGRAM is a deliverable's name, started from the folder it
// is installed in as built (the first of its installations), or FOLDER\NAME for another build of
// it; a PATH with a drive (D:\MonoSetup.exe) starts any program on the machine's drives.
void Start(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    if (w.size() < 2) {
        throw ScenarioError("usage: start PROGRAM|PATH [ARGUMENTS...]");
    }
    std::string arguments;
    for (size_t i = 2; i < w.size(); ++i) {
        arguments += (i > 2 ? " " : "") + w[i];
    }
    if (w[1].find(':') != std::string::npos) {
        try {
            session.machine().StartProcess(tapkernel::ToUtf16(w[1]), arguments);
        } catch (const tapmachine::ProcessStartError &error) {
            throw ScenarioError(error.what());
        }
        return;
    }
    const ExtraProgram *found = nullptr;
    std::string known;
    for (const ExtraProgram &program : session.programs()) {
        const std::string folderName = program.folder.empty() ? program.name : program.folder + "\\" + program.name;
        if (!found && (SameWord(w[1], program.name) || SameWord(w[1], folderName))) {
            found = &program;
        }
        known += (known.empty() ? "" : ", ") + folderName;
    }
    if (!found) {
        throw ScenarioError("no program '" + w[1] + "' in this build (" + known + ")");
    }
    session.machine().StartProcess(ScenarioSession::ProgramPath(*found), arguments);
}

// system-menu "ITEM": chooses ITEM of the system menu of the topmost window that has it.
void SystemMenu(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "system-menu \"ITEM\"");
    tap::ui::host::Session &windows = session.machine().windowSystem();
    for (tap::ui::WindowHandle window : windows.TopLevelWindows()) {
        if (windows.ChooseSystemMenuItem(window, line.words[1])) {
            return;
        }
    }
    throw ScenarioError("no window has the system-menu item " + QuotedText(line.words[1]));
}

// answer Yes|No|OK|Cancel
void Answer(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 2, 2, "answer Yes|No|OK|Cancel");
    const std::string name = Lower(w[1]);
    int answer = name == "yes" ? tap::ui::answer::Yes
               : name == "no" ? tap::ui::answer::No
               : name == "ok" ? tap::ui::answer::Ok
               : name == "cancel" ? tap::ui::answer::Cancel : 0;
    if (!answer) {
        throw ScenarioError("answer Yes, No, OK or Cancel, not '" + w[1] + "'");
    }
    tap::ui::host::Session &windows = session.machine().windowSystem();
    if (windows.OpenMessageBoxes().empty()) {
        throw ScenarioError("no message box is open");
    }
    windows.AnswerMessageBox(answer);
}

void WindowLines(ScenarioSession &session, std::vector<TranscriptEvent> &events)
{
    std::vector<WindowEvent> windowEvents = session.machine().windowSystem().WindowEvents();
    for (size_t i = session.windowEventsSeen(); i < windowEvents.size(); ++i) {
        const WindowEvent &event = windowEvents[i];
        const tapmachine::Ticks time = static_cast<tapmachine::Ticks>(event.time) * tapmachine::kTicksPerMillisecond;
        const std::string owner = event.program.empty() ? "" : " (" + event.program + ")";
        switch (event.kind) {
        case WindowEvent::Kind::WindowCreated:
            events.push_back({time, kWindowCreated, "window created " + QuotedText(event.caption) + owner});
            break;
        case WindowEvent::Kind::WindowDestroyed:
            events.push_back({time, kWindowDestroyed, "window destroyed " + QuotedText(event.caption) + owner});
            break;
        case WindowEvent::Kind::MessageBoxShown:
            events.push_back({time, kMessageBoxShown,
                              "messagebox " + QuotedText(event.text) + " caption " + QuotedText(event.caption) + owner});
            break;
        case WindowEvent::Kind::MessageBoxClosed:
            events.push_back({time, kMessageBoxClosed,
                              "messagebox closed " + QuotedText(event.text) + " answer " + AnswerName(event.answer)});
            break;
        }
    }
    session.windowEventsSeen() = windowEvents.size();
}

void ProcessLines(ScenarioSession &session, std::vector<TranscriptEvent> &events)
{
    for (const tapmachine::ProcessInfo &process : session.machine().processes()) {
        int &printed = session.processesPrinted()[process.id];
        if (printed == 0) {
            std::string text = "process started " + process.name + " " + tapkernel::ToUtf8(process.imagePath);
            if (!process.commandLine.empty()) {
                text += " " + QuotedText(process.commandLine);
            }
            events.push_back({Moment(process.started), kProcessStarted, text});
            printed = 1;
        }
        if (printed == 1 && !process.running) {
            events.push_back({Moment(process.ended), kProcessEnded,
                              "process ended " + process.name + " exit " + std::to_string(process.exitCode)});
            printed = 2;
        }
    }
}

} // namespace

void AddProgramCommands(CommandTable &table)
{
    table.commands.push_back({"start", Start});
    table.commands.push_back({"answer", Answer});
    table.commands.push_back({"system-menu", SystemMenu});
    table.transcript.push_back(WindowLines);
    table.transcript.push_back(ProcessLines);
}

} // namespace tapbench
