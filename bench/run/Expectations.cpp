// What a script expects of the screen, the windows and the reports.
#include <algorithm>
#include <cstdlib>

#include "Session.h"
#include "tap/desktop/Desktop.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

using Outcome = std::optional<std::string>;

// expect messagebox "TEXT"
Outcome MessageBoxOpen(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect messagebox \"TEXT\"");
    std::string open;
    for (const tap::ui::host::MessageBoxRecord &box : session.machine().windowSystem().OpenMessageBoxes()) {
        if (box.text == line.words[2]) {
            return std::nullopt;
        }
        open += (open.empty() ? "" : ", ") + QuotedText(box.text);
    }
    return open.empty() ? std::string("no message box is open") : "open: " + open;
}

struct WindowFacts {
    std::string caption;
    std::string program;
    tap::desktop::Rect rect;
    tap::desktop::Rect client;
    bool topmost = false;
};

// The shown top-level windows, from the top of the Z order down.
std::vector<WindowFacts> ShownWindows(ScenarioSession &session)
{
    tapmachine::Machine &machine = session.machine();
    tap::ui::host::Session &system = machine.windowSystem();
    std::map<tap::ui::WindowHandle, std::string> programs;
    for (const tap::ui::host::WindowEvent &event : system.WindowEvents()) {
        programs[event.window] = event.program;
    }
    std::vector<WindowFacts> windows;
    for (tap::ui::WindowHandle handle : system.TopLevelWindows()) {
        tap::desktop::WindowId id = system.DesktopIdOf(handle);
        if (!machine.desktop().IsShown(id)) {
            continue;
        }
        WindowFacts facts;
        facts.caption = tap::ui::WindowRef(handle).Text();
        facts.program = programs[handle];
        facts.rect = machine.desktop().ScreenWindowRect(id);
        facts.client = machine.desktop().ScreenClientRect(id);
        facts.topmost = system.IsTopmost(handle);
        windows.push_back(facts);
    }
    return windows;
}

std::string Describe(const WindowFacts &window)
{
    return "window " + QuotedText(window.caption) + (window.program.empty() ? "" : " program " + window.program) +
           " rect " + RectText(window.rect) + " client " + RectText(window.client) + (window.topmost ? " topmost" : "");
}

// expect window "CAPTION" [program NAME] [rect L T R B] [client L T R B] [topmost]
Outcome WindowShown(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const char *usage = "expect window \"CAPTION\" [program NAME] [rect L T R B] [client L T R B] [topmost]";
    if (w.size() < 3) {
        throw ScenarioError(std::string("usage: ") + usage);
    }
    std::optional<std::string> program;
    std::optional<tap::desktop::Rect> rect, client;
    bool topmost = false;
    auto readRect = [&](size_t at) {
        return tap::desktop::Rect{static_cast<int>(Number(w[at], "left")), static_cast<int>(Number(w[at + 1], "top")),
                                  static_cast<int>(Number(w[at + 2], "right")),
                                  static_cast<int>(Number(w[at + 3], "bottom"))};
    };
    for (size_t i = 3; i < w.size(); ++i) {
        const std::string word = Lower(w[i]);
        if (word == "program" && i + 1 < w.size()) {
            program = w[++i];
        } else if ((word == "rect" || word == "client") && i + 4 < w.size()) {
            (word == "rect" ? rect : client) = readRect(i + 1);
            i += 4;
        } else if (word == "topmost") {
            topmost = true;
        } else {
            throw ScenarioError(std::string("usage: ") + usage);
        }
    }
    std::vector<WindowFacts> windows = ShownWindows(session);
    for (const WindowFacts &window : windows) {
        if (window.caption == w[2] && (!program || SameWord(*program, window.program)) &&
            (!rect || *rect == window.rect) && (!client || *client == window.client) && (!topmost || window.topmost)) {
            return std::nullopt;
        }
    }
    if (windows.empty()) {
        return std::string("no window is shown");
    }
    std::string seen = "saw";
    for (const WindowFacts &window : windows) {
        seen += "\n    " + Describe(window);
    }
    return seen;
}

// expect no-window "CAPTION"
Outcome NoWindow(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect no-window \"CAPTION\"");
    Outcome failure;
    for (const WindowFacts &window : ShownWindows(session)) {
        if (window.caption == line.words[2]) {
            failure = "saw " + Describe(window);
        }
    }
    return failure;
}

// expect cursor X Y [within N]: exactly there, or at most N pixels off on each axis
Outcome CursorAt(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const char *usage = "expect cursor X Y [within N]";
    if (w.size() != 4 && !(w.size() == 6 && SameWord(w[4], "within"))) {
        throw ScenarioError(std::string("usage: ") + usage);
    }
    const tapmachine::PixelPoint want = Point(w[2], w[3]);
    const int64_t tolerance = w.size() == 6 ? Number(w[5], "tolerance") : 0;
    if (tolerance < 0) {
        throw ScenarioError("a tolerance is 0 or more pixels");
    }
    tap::desktop::Point cursor = session.machine().desktop().Cursor();
    if (std::abs(cursor.x - want.x) > tolerance || std::abs(cursor.y - want.y) > tolerance) {
        return "the cursor is at " + std::to_string(cursor.x) + " " + std::to_string(cursor.y);
    }
    return std::nullopt;
}

// expect pixel X Y RRGGBB
Outcome PixelColour(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 5, 5, "expect pixel X Y RRGGBB");
    const tapmachine::PixelPoint at = Point(line.words[2], line.words[3]);
    const std::string &color = line.words[4];
    if (color.size() != 6 || color.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw ScenarioError("a colour is RRGGBB in hex, not '" + color + "'");
    }
    tap::desktop::Desktop &desktop = session.machine().desktop();
    tap::desktop::Size screen = desktop.ScreenSize();
    if (at.x < 0 || at.y < 0 || at.x >= screen.cx || at.y >= screen.cy) {
        throw ScenarioError("the pixel is off the screen");
    }
    tap::desktop::Rgb pixel;
    {
        auto lock = desktop.LockScreen();
        pixel = desktop.Screen().Pixel(at.x, at.y);
    }
    const tap::desktop::Rgb want = static_cast<tap::desktop::Rgb>(std::stoul(color, nullptr, 16));
    if ((pixel & 0xFFFFFF) == want) {
        return std::nullopt;
    }
    return "the pixel is " + Hex6(pixel);
}

// expect report flags=... buttons=... x=... y=...: found among the reports since the last one
// matched, in order; the expected one may come after others, which it passes over.
Outcome ReportSeen(ScenarioSession &session, const ScenarioLine &line)
{
    if (line.words.size() < 3) {
        throw ScenarioError("usage: expect report flags=... buttons=... x=... y=...");
    }
    std::string want = "report";
    for (size_t i = 2; i < line.words.size(); ++i) {
        want += " " + line.words[i];
    }
    std::deque<std::string> &reports = session.pendingReports();
    auto match = std::find(reports.begin(), reports.end(), want);
    if (match != reports.end()) {
        reports.erase(reports.begin(), match + 1);
        return std::nullopt;
    }
    if (reports.empty()) {
        return std::string("no report since the last one matched");
    }
    std::string seen = "saw";
    for (const std::string &report : reports) {
        seen += "\n    " + report;
    }
    return seen;
}

// expect no-report: none since the last one matched; from here on every report so far counts as
// passed.
Outcome NoReport(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "expect no-report");
    std::deque<std::string> &reports = session.pendingReports();
    Outcome failure;
    if (!reports.empty()) {
        failure = "saw " + reports.front() + (reports.size() > 1 ? " and more" : "");
    }
    reports.clear();
    return failure;
}

} // namespace

void AddExpectations(CommandTable &table)
{
    table.expectations.push_back({"messagebox", MessageBoxOpen});
    table.expectations.push_back({"window", WindowShown});
    table.expectations.push_back({"no-window", NoWindow});
    table.expectations.push_back({"cursor", CursorAt});
    table.expectations.push_back({"pixel", PixelColour});
    table.expectations.push_back({"report", ReportSeen});
    table.expectations.push_back({"no-report", NoReport});
}

} // namespace tapbench
