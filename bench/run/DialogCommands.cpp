// Driving dialogs by their controls, as a person does: a click at the control's place on the
// screen (a tab, a button, an entry of an opened list, an arrow of a spin control, a trackbar's
// thumb dragged), so that the notifications follow as they would; and what a script expects of a
// control of the active dialog or property page.
#include <algorithm>

#include "Session.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

using tap::ui::WindowHandle;
using tap::ui::host::ControlFacts;
using Outcome = std::optional<std::string>;

tap::ui::host::Session &Windows(ScenarioSession &session)
{
    return session.machine().windowSystem();
}

// TEXT as the screen shows it: without the '&' that marks a mnemonic ("&&" shows one '&').
std::string Shown(const std::string &text)
{
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        if (text[i] != '&' || (i > 0 && text[i - 1] == '&')) {
            shown += text[i];
        }
    }
    return shown;
}

// The window the user works in: the active top-level window when it is shown, else the topmost
// shown one.
WindowHandle ActiveWindow(ScenarioSession &session)
{
    tap::ui::host::Session &windows = Windows(session);
    tap::desktop::Desktop &desktop = session.machine().desktop();
    if (WindowHandle active = windows.HandleOf(desktop.Active()); active && desktop.IsShown(desktop.Active())) {
        return active;
    }
    for (WindowHandle window : windows.TopLevelWindows()) {
        if (desktop.IsShown(windows.DesktopIdOf(window))) {
            return window;
        }
    }
    throw ScenarioError("no window is open");
}

// The controls of the active dialog; for a property sheet those of the page it shows, then the
// sheet's own buttons.
std::vector<ControlFacts> ActiveControls(ScenarioSession &session)
{
    tap::ui::host::Session &windows = Windows(session);
    WindowHandle window = ActiveWindow(session);
    std::vector<WindowHandle> handles;
    if (WindowHandle page = windows.CurrentSheetPage(window)) {
        handles = windows.ChildWindows(page);
    }
    for (WindowHandle child : windows.ChildWindows(window)) {
        handles.push_back(child);
    }
    std::vector<ControlFacts> controls;
    for (WindowHandle handle : handles) {
        std::optional<ControlFacts> facts = windows.Facts(handle);
        if (facts && facts->kind != "dialog") {
            controls.push_back(*facts);
        }
    }
    return controls;
}

int ControlId(const std::string &word)
{
    if (word.size() < 2 || word[0] != '#') {
        throw ScenarioError("a control is named #ID, not '" + word + "'");
    }
    return static_cast<int>(Number(word.substr(1), "control id"));
}

ControlFacts ControlById(ScenarioSession &session, const std::string &word)
{
    const int id = ControlId(word);
    std::string known;
    for (const ControlFacts &control : ActiveControls(session)) {
        if (control.id == id) {
            return control;
        }
        known += (known.empty() ? "" : " ") + std::string("#") + std::to_string(control.id);
    }
    throw ScenarioError("the active window has no control " + word + " (it has " + known + ")");
}

// A wizard's "< Back" and "Next >" may also be named Back and Next.
std::string WithoutArrows(const std::string &text)
{
    size_t first = text.find_first_not_of("<> ");
    size_t last = text.find_last_not_of("<> ");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The shown control whose text reads TEXT, buttons first; then one whose text reads so without
// the arrows of a wizard's buttons.
ControlFacts ControlByText(ScenarioSession &session, const std::string &text)
{
    std::vector<ControlFacts> controls = ActiveControls(session);
    std::stable_partition(controls.begin(), controls.end(), [](const ControlFacts &c) {
        return c.kind == "button" || c.kind == "checkbox" || c.kind == "radiobutton";
    });
    for (bool loose : {false, true}) {
        for (const ControlFacts &control : controls) {
            std::string shown = Shown(control.text);
            if (control.shown && (loose ? WithoutArrows(shown) == WithoutArrows(text) : shown == text)) {
                return control;
            }
        }
    }
    std::string known;
    for (const ControlFacts &control : controls) {
        if (control.shown && !control.text.empty() && control.kind != "static" && control.kind != "groupbox") {
            known += (known.empty() ? "" : ", ") + QuotedText(Shown(control.text));
        }
    }
    throw ScenarioError("the active window shows no control " + QuotedText(text) + " (it has " + known + ")");
}

ControlFacts RequireShown(const ControlFacts &control)
{
    if (!control.shown) {
        throw ScenarioError("control #" + std::to_string(control.id) + " is not shown");
    }
    return control;
}

ControlFacts RequireKind(const ControlFacts &control, std::initializer_list<const char *> kinds, const char *what)
{
    for (const char *kind : kinds) {
        if (control.kind == kind) {
            return RequireShown(control);
        }
    }
    throw ScenarioError("control #" + std::to_string(control.id) + " is a " + control.kind + ", not " + what);
}

tapmachine::PixelPoint Centre(const tap::desktop::Rect &r)
{
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// tab "CAPTION": a click on the tab of the sheet's page with that caption.
void Tab(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "tab \"CAPTION\"");
    WindowHandle sheet = ActiveWindow(session);
    std::string known;
    for (const auto &[title, rect] : Windows(session).SheetTabs(sheet)) {
        if (Shown(title) == line.words[1]) {
            session.machine().Click(Centre(rect));
            return;
        }
        known += (known.empty() ? "" : ", ") + QuotedText(Shown(title));
    }
    if (known.empty()) {
        throw ScenarioError("the active window has no tabs");
    }
    throw ScenarioError("no tab " + QuotedText(line.words[1]) + " (the tabs are " + known + ")");
}

// click #ID | click "TEXT": a click in the middle of the control.
void Click(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "click #ID | click \"TEXT\"");
    const std::string &which = line.words[1];
    ControlFacts control = !which.empty() && which[0] == '#' ? RequireShown(ControlById(session, which))
                                                             : ControlByText(session, which);
    session.machine().Click(Centre(control.screen));
}

// select #ID "ENTRY": a combo box is opened with a click on its field and the entry clicked in
// the list that drops down; in a list box the entry's row is clicked.
void Select(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "select #ID \"ENTRY\"");
    ControlFacts control = RequireKind(ControlById(session, line.words[1]), {"combobox", "listbox"}, "a list");
    const std::string &entry = line.words[2];
    auto found = std::find(control.items.begin(), control.items.end(), entry);
    if (found == control.items.end()) {
        std::string known;
        for (const std::string &item : control.items) {
            known += (known.empty() ? "" : ", ") + QuotedText(item);
        }
        throw ScenarioError(line.words[1] + " has no entry " + QuotedText(entry) + " (it has " + known + ")");
    }
    const int index = static_cast<int>(found - control.items.begin());
    tapmachine::Machine &machine = session.machine();
    if (control.kind == "listbox") {
        const int y = control.screen.top + 2 + index * control.lineHeight + control.lineHeight / 2;
        machine.Click({(control.screen.left + control.screen.right) / 2, y});
        return;
    }
    const int fieldHeight = control.lineHeight + 8;
    machine.Click({(control.screen.left + control.screen.right) / 2, control.screen.top + fieldHeight / 2});
    WindowHandle list = Windows(session).OpenDropList(control.handle);
    std::optional<ControlFacts> drop = list ? Windows(session).Facts(list) : std::nullopt;
    if (!drop) {
        throw ScenarioError("the list of " + line.words[1] + " does not open" +
                            (control.enabled ? std::string() : std::string(" (it is disabled)")));
    }
    const int y = drop->screen.top + 2 + index * drop->lineHeight + drop->lineHeight / 2;
    machine.Click({(drop->screen.left + drop->screen.right) / 2, y});
}

// spin #ID up|down [N]: N clicks (default 1) on the upper or lower arrow of an up-down control.
void Spin(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 3, 4, "spin #ID up|down [N]");
    ControlFacts control = RequireKind(ControlById(session, w[1]), {"updown"}, "an up-down control");
    const std::string direction = Lower(w[2]);
    if (direction != "up" && direction != "down") {
        throw ScenarioError("spin up or down, not '" + w[2] + "'");
    }
    const int64_t clicks = w.size() == 4 ? Number(w[3], "clicks") : 1;
    if (clicks < 1) {
        throw ScenarioError("spin clicks at least once");
    }
    const tap::desktop::Rect &r = control.screen;
    const int y = direction == "up" ? r.top + r.Height() / 4 : r.top + (3 * r.Height()) / 4;
    for (int64_t i = 0; i < clicks; ++i) {
        session.machine().Click({(r.left + r.right) / 2, y});
    }
}

// slide #ID N: the trackbar's thumb dragged to position N.
void Slide(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "slide #ID N");
    ControlFacts control = RequireKind(ControlById(session, line.words[1]), {"trackbar"}, "a trackbar");
    const int64_t position = Number(line.words[2], "position");
    if (position < control.low || position > control.high) {
        throw ScenarioError(line.words[1] + " runs from " + std::to_string(control.low) + " to " +
                            std::to_string(control.high));
    }
    tap::ui::host::Session &windows = Windows(session);
    tap::desktop::Point from = windows.TrackbarPoint(control.handle, control.position);
    tap::desktop::Point to = windows.TrackbarPoint(control.handle, static_cast<int>(position));
    session.machine().MouseDown({from.x, from.y});
    session.machine().MouseUp({to.x, to.y});
}

// The text a control shows: a combo box shows its selected entry.
std::string ShownText(const ControlFacts &c)
{
    if (c.kind == "combobox" && c.selection >= 0 && c.selection < static_cast<int>(c.items.size())) {
        return c.items[c.selection];
    }
    return Shown(c.text);
}

// How a control looks, in the words of `expect control`.
std::string Describe(const ControlFacts &c)
{
    std::string text = "#" + std::to_string(c.id) + " " + c.kind + " text " + QuotedText(ShownText(c)) +
                       (c.enabled ? " enabled" : " disabled") + (c.shown ? " visible" : " hidden");
    if (c.kind == "checkbox" || c.kind == "radiobutton") {
        text += c.check ? " checked" : " unchecked";
    }
    if (c.kind == "trackbar" || c.kind == "updown" || c.kind == "progress") {
        text += " position " + std::to_string(c.position);
    }
    if (c.kind == "combobox" || c.kind == "listbox") {
        const bool selected = c.selection >= 0 && c.selection < static_cast<int>(c.items.size());
        text += selected ? " selected " + QuotedText(c.items[c.selection]) : std::string(" selected none");
        text += " entries";
        for (const std::string &item : c.items) {
            text += " " + QuotedText(item);
        }
    }
    return text;
}

// expect control #ID [text "T"] [enabled|disabled] [checked|unchecked] [visible|hidden]
//                    [position N] [selected "ENTRY"|none] [entries "A" "B" ...]
Outcome ControlState(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const char *usage = "expect control #ID [text \"T\"] [enabled|disabled] [checked|unchecked] [visible|hidden] "
                        "[position N] [selected \"ENTRY\"|none] [entries \"A\" \"B\" ...]";
    if (w.size() < 3) {
        throw ScenarioError(std::string("usage: ") + usage);
    }
    const ControlFacts c = ControlById(session, w[2]);
    bool met = true;
    for (size_t i = 3; i < w.size(); ++i) {
        const std::string word = Lower(w[i]);
        auto value = [&]() -> const std::string & {
            if (i + 1 >= w.size()) {
                throw ScenarioError(std::string("usage: ") + usage);
            }
            return w[++i];
        };
        if (word == "text") {
            met = met && ShownText(c) == value();
        } else if (word == "enabled" || word == "disabled") {
            met = met && c.enabled == (word == "enabled");
        } else if (word == "checked" || word == "unchecked") {
            met = met && (c.check != 0) == (word == "checked");
        } else if (word == "visible" || word == "hidden") {
            met = met && c.shown == (word == "visible");
        } else if (word == "position") {
            met = met && c.position == Number(value(), "position");
        } else if (word == "selected") {
            const std::string &entry = value();
            const bool none = c.selection < 0 || c.selection >= static_cast<int>(c.items.size());
            // Entries compare with their case, so the entry "NONE" is not the word none.
            met = met && (entry == "none" ? none : !none && c.items[c.selection] == entry);
        } else if (word == "entries") {
            std::vector<std::string> entries(w.begin() + static_cast<std::ptrdiff_t>(i) + 1, w.end());
            met = met && entries == c.items;
            i = w.size();
        } else {
            throw ScenarioError(std::string("usage: ") + usage);
        }
    }
    return met ? Outcome() : Outcome("saw " + Describe(c));
}

} // namespace

void AddDialogCommands(CommandTable &table)
{
    table.commands.push_back({"tab", Tab});
    table.commands.push_back({"click", Click});
    table.commands.push_back({"select", Select});
    table.commands.push_back({"spin", Spin});
    table.commands.push_back({"slide", Slide});
    table.expectations.push_back({"control", ControlState});
}

} // namespace tapbench
