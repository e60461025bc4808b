// The Control Panel: `control open` starts the machine's Control Panel (control.exe) with an
// applet library of this build, which it loads and opens; `control close` closes it as a person
// closes its window, after which it lets the applet go (CPL_STOP, CPL_EXIT) and unloads it.
#include <tapkernel/Text.h>

#include "Session.h"
#include "tap/ui/Framework.h"
#include "tap/ui/backend/Messages.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

// The applet libraries of this build: name, driver setting, host module. The first of a name is
// the deliverable as built.
struct AppletModule {
    const char *name;
    const char *setting;
    const char *module;
};

const AppletModule kApplets[] = {
#include "BenchApplets.inc"
    {nullptr, nullptr, nullptr},
};

constexpr char16_t kControlPanel[] = u"C:\\WINDOWS\\system32\\control.exe";
constexpr char kControlPanelCaption[] = "Control Panel";

std::optional<tapmachine::ProcessInfo> RunningControlPanel(ScenarioSession &session)
{
    for (const tapmachine::ProcessInfo &process : session.machine().processes()) {
        if (process.running && SameWord(process.name, "control")) {
            return process;
        }
    }
    return std::nullopt;
}

const AppletModule &FindApplet(const std::string &name, const std::string &setting)
{
    std::string known;
    for (const AppletModule *applet = kApplets; applet->name; ++applet) {
        if (SameWord(applet->name, name) && (setting.empty() || SameWord(applet->setting, setting))) {
            return *applet;
        }
        known += (known.empty() ? "" : ", ") + std::string(applet->name) + " " + Lower(applet->setting);
    }
    throw ScenarioError("no applet " + name + (setting.empty() ? "" : " " + setting) + " in this build (" + known +
                        ")");
}

// control open NAME [usb|serial]: the library at C:\WINDOWS\system32\NAME.cpl, the Control Panel
// started on it; prints what CPL_INQUIRE answered.
void Open(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 3, 4, "control open MonoPanel|PolyPanel [usb|serial]");
    if (RunningControlPanel(session)) {
        throw ScenarioError("the Control Panel is open already");
    }
    const AppletModule &applet = FindApplet(w[2], w.size() == 4 ? w[3] : std::string());
    const std::string file = std::string(applet.name) + ".cpl";
    tapmachine::Machine &machine = session.machine();
    machine.InstallProgram(applet.module, u"C:\\WINDOWS\\system32\\" + tapkernel::ToUtf16(file), true);
    const size_t known = machine.applets().Records().size();
    machine.StartProcess(kControlPanel, file);
    machine.WaitIdle();
    const std::vector<tapmachine::AppletRecord> records = machine.applets().Records();
    if (records.size() == known) {
        throw ScenarioError("the Control Panel could not load " + file);
    }
    for (size_t i = known; i < records.size(); ++i) {
        session.out() << "applet " << records[i].file << " " << QuotedText(records[i].name) << " "
                      << QuotedText(records[i].description) << " icon " << records[i].icon << '\n';
    }
}

// control close: the Control Panel's window closed; an error while the applet's sheet is open.
void Close(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "control close");
    if (!RunningControlPanel(session)) {
        throw ScenarioError("the Control Panel is not open");
    }
    tap::ui::host::Session &windows = session.machine().windowSystem();
    std::map<tap::ui::WindowHandle, std::string> programs;
    for (const tap::ui::host::WindowEvent &event : windows.WindowEvents()) {
        programs[event.window] = event.program;
    }
    tap::ui::WindowHandle panel = nullptr;
    for (tap::ui::WindowHandle window : windows.TopLevelWindows()) {
        std::optional<tap::ui::host::ControlFacts> facts = windows.Facts(window);
        if (!facts || !facts->shown || !SameWord(programs[window], "control")) {
            continue;
        }
        if (facts->text != kControlPanelCaption) {
            throw ScenarioError(QuotedText(facts->text) + " is still open");
        }
        panel = window;
    }
    if (!panel) {
        throw ScenarioError("the Control Panel shows no window");
    }
    tap::ui::WindowRef(panel).Post(tap::ui::msg::SysCommand, tap::ui::syscommand::Close);
}

void Control(ScenarioSession &session, const ScenarioLine &line)
{
    if (line.words.size() >= 2 && SameWord(line.words[1], "open")) {
        Open(session, line);
    } else if (line.words.size() >= 2 && SameWord(line.words[1], "close")) {
        Close(session, line);
    } else {
        throw ScenarioError("usage: control open MonoPanel|PolyPanel [usb|serial] | control close");
    }
}

} // namespace

void AddControlPanelCommands(CommandTable &table)
{
    table.commands.push_back({"control", Control});
}

} // namespace tapbench
