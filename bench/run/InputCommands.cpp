// A finger on the panel, the ordinary mouse and keyboard, the clock and the screen.
#include <chrono>

#include "Session.h"
#include "tap/desktop/Desktop.h"

namespace tapbench {
namespace {

tapmachine::TouchController &Finger(ScenarioSession &session)
{
    return session.machine().comPort(session.RequireDevice().port).controller();
}

// hold X Y N: the finger stays at X,Y for N touching packets, landing or moving there with the
// first.
void Hold(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    tapmachine::TouchController &finger = Finger(session);
    ExpectWords(w, 4, 4, "hold X Y N");
    tapmachine::PixelPoint at = Point(w[1], w[2]);
    int64_t packets = Number(w[3], "packets");
    if (packets < 1) {
        throw ScenarioError("hold sends at least one packet");
    }
    if (!finger.touching()) {
        finger.Touch(at);
        --packets;
    } else if (!(session.fingerAt() == at)) {
        finger.Move(at);
        --packets;
    }
    if (packets > 0) {
        finger.Hold(static_cast<unsigned>(packets));
    }
    session.fingerAt() = at;
    session.machine().Settle();
}

void Lift(ScenarioSession &session, const ScenarioLine &line)
{
    if (line.words.size() == 2) {
        LiftOneFinger(session, line);
        return;
    }
    tapmachine::TouchController &finger = Finger(session);
    ExpectWords(line.words, 1, 1, "lift");
    if (!finger.touching()) {
        throw ScenarioError("no finger is on the panel");
    }
    finger.Lift();
    session.machine().Settle();
}

// touch|move|tap X Y
void Place(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    if (w.size() == 5 && Lower(w[0]) != "tap") {
        PlaceTwoFingers(session, line);
        return;
    }
    tapmachine::TouchController &finger = Finger(session);
    ExpectWords(w, 3, 3, "touch|move|tap X Y");
    const std::string command = Lower(w[0]);
    tapmachine::PixelPoint at = Point(w[1], w[2]);
    if (command == "touch") {
        finger.Touch(at);
    } else if (command == "move") {
        if (!finger.touching()) {
            throw ScenarioError("move needs a finger on the panel (touch first)");
        }
        finger.Move(at);
    } else {
        finger.Tap(at);
    }
    session.fingerAt() = at;
    session.machine().Settle();
}

// mouse click|down|up X Y [left|right|middle]
void Mouse(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 4, 5, "mouse click|down|up X Y [left|right|middle]");
    tapmachine::PixelPoint at = Point(w[2], w[3]);
    tapmachine::MouseButton button = tapmachine::MouseButton::Left;
    if (w.size() == 5) {
        const std::string name = Lower(w[4]);
        if (name == "right") {
            button = tapmachine::MouseButton::Right;
        } else if (name == "middle") {
            button = tapmachine::MouseButton::Middle;
        } else if (name != "left") {
            throw ScenarioError("a mouse button is left, right or middle, not '" + w[4] + "'");
        }
    }
    tapmachine::Machine &machine = session.machine();
    const std::string action = Lower(w[1]);
    if (action == "click") {
        machine.Click(at, button);
    } else if (action == "down") {
        machine.MouseDown(at, button);
    } else if (action == "up") {
        machine.MouseUp(at, button);
    } else {
        throw ScenarioError("mouse click, down or up, not '" + w[1] + "'");
    }
}

// key Esc|Enter|Tab|Space|Up|Down|Left|Right|PageUp|PageDown
void Key(ScenarioSession &session, const ScenarioLine &line)
{
    static const struct {
        const char *name;
        uint32_t key;
    } keys[] = {
        {"esc", tap::desktop::kKeyEscape}, {"enter", tap::desktop::kKeyEnter},   {"tab", tap::desktop::kKeyTab},
        {"space", tap::desktop::kKeySpace}, {"up", tap::desktop::kKeyUp},        {"down", tap::desktop::kKeyDown},
        {"left", tap::desktop::kKeyLeft},  {"right", tap::desktop::kKeyRight},   {"pageup", tap::desktop::kKeyPageUp},
        {"pagedown", tap::desktop::kKeyPageDown},
    };
    const Words &w = line.words;
    ExpectWords(w, 2, 2, "key Esc|Enter|Tab|Space|Up|Down|Left|Right|PageUp|PageDown");
    const std::string name = Lower(w[1]);
    for (const auto &candidate : keys) {
        if (name == candidate.name) {
            session.machine().KeyPress(candidate.key);
            return;
        }
    }
    throw ScenarioError("no key '" + w[1] + "' (Esc, Enter, Tab, Space, Up, Down, Left, Right, PageUp, PageDown)");
}

// advance MS
void Advance(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "advance MS");
    int64_t ms = Number(line.words[1], "milliseconds");
    if (ms < 0) {
        throw ScenarioError("the clock does not run backwards");
    }
    session.machine().Advance(std::chrono::milliseconds(ms));
}

// wait: every command ends by waiting until the machine is idle, so this one only does that.
void Wait(ScenarioSession &, const ScenarioLine &line)
{
    ExpectWords(line.words, 1, 1, "wait");
}

// snapshot FILE.png
void Snapshot(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "snapshot FILE.png");
    if (!session.machine().desktop().SavePng(line.words[1])) {
        throw ScenarioError("cannot write " + line.words[1]);
    }
    session.out() << "snapshot " << line.words[1] << '\n';
}

} // namespace

void AddInputCommands(CommandTable &table)
{
    table.commands.push_back({"touch", Place});
    table.commands.push_back({"move", Place});
    table.commands.push_back({"tap", Place});
    table.commands.push_back({"lift", Lift});
    table.commands.push_back({"hold", Hold});
    table.commands.push_back({"mouse", Mouse});
    table.commands.push_back({"key", Key});
    table.commands.push_back({"advance", Advance});
    table.commands.push_back({"wait", Wait});
    table.commands.push_back({"snapshot", Snapshot});
}

} // namespace tapbench
