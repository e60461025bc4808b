// The framework's Windows backend on a real window manager (Wine, started by scripts/wine-smoke):
// the scenarios of the host backend's tests with the same expectations, driven from a second
// thread by the input a user gives (SendInput) and the messages a program sends. A check that
// fails here and passes on host is a difference between the host backend and Windows.
//
// usage: FrameworkProbe.exe RESULT-FILE     writes one line per check; exit status: failures
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "tap/ui/Framework.h"

namespace {

using namespace tap::ui;

// ---- Checks, from either thread ---------------------------------------------------------------

// Each line is written at once, so that a run that hangs still shows how far it came.
CRITICAL_SECTION g_lock;
FILE* g_out = nullptr;
int g_checks = 0;
int g_failures = 0;
const char* g_scenario = "";

void Expect(bool ok, const std::string& what, const std::string& detail = {})
{
    EnterCriticalSection(&g_lock);
    std::fprintf(g_out, "%s %s: %s%s\n", ok ? "PASS" : "FAIL", g_scenario, what.c_str(), ok ? "" : detail.c_str());
    std::fflush(g_out);
    ++g_checks;
    g_failures += ok ? 0 : 1;
    LeaveCriticalSection(&g_lock);
}

// What the system does where the host backend has no settled answer: reported, not checked.
void Note(const std::string& what)
{
    EnterCriticalSection(&g_lock);
    std::fprintf(g_out, "NOTE %s: %s\n", g_scenario, what.c_str());
    std::fflush(g_out);
    LeaveCriticalSection(&g_lock);
}

template <typename T>
void ExpectEq(const T& actual, const T& expected, const std::string& what)
{
    Expect(actual == expected, what, " (got " + std::to_string(actual) + ", expected " + std::to_string(expected) + ")");
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// For what the other thread does in its own time (posted messages, timers).
void ExpectSoon(const std::function<bool()>& condition, const std::string& what)
{
    Expect(WaitUntil(condition, 3000), what);
}

void ExpectText(const std::string& actual, const std::string& expected, const std::string& what)
{
    Expect(actual == expected, what, " (got \"" + actual + "\", expected \"" + expected + "\")");
}

// ---- The driving thread: a user at the keyboard and mouse ---------------------------------------

// A script on its own thread, for as long as a modal window runs on this one. A script that
// leaves its window open fails, and the window is cancelled so that the run goes on.
class Driver {
public:
    explicit Driver(std::function<void()> script) : script_(std::move(script))
    {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Driver()
    {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

private:
    static DWORD WINAPI Run(void* self)
    {
        static_cast<Driver*>(self)->script_();
        return 0;
    }
    std::function<void()> script_;
    HANDLE thread_;
};

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (condition()) {
            return true;
        }
        Sleep(10);
    }
    return condition();
}

DWORD g_uiThread = 0;

BOOL CALLBACK FindShownDialog(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsWindowVisible(window) && IsWindowEnabled(window) && lstrcmpW(className, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The dialog the UI thread shows and takes input in (a sheet, whose caption may be a page's).
HWND WaitForShownDialog()
{
    HWND window = nullptr;
    WaitUntil([&] {
        window = nullptr;
        EnumThreadWindows(g_uiThread, FindShownDialog, reinterpret_cast<LPARAM>(&window));
        return window != nullptr;
    });
    Sleep(50);
    return window;
}

std::string CaptionOf(HWND window)
{
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    return caption;
}

// The visible top-level window of this process with CAPTION.
HWND WaitForWindow(const wchar_t* caption)
{
    HWND window = nullptr;
    WaitUntil([&] {
        window = FindWindowW(nullptr, caption);
        return window && IsWindowVisible(window) && IsWindowEnabled(window);
    });
    Sleep(50); // let the window finish its first paint
    return window;
}

void Input(INPUT* inputs, UINT count)
{
    SendInput(count, inputs, sizeof(INPUT));
    Sleep(50);
}

// A left click at a point of WINDOW's client area, through the system's input queue.
void Click(HWND window, int x, int y)
{
    POINT p{x, y};
    ClientToScreen(window, &p);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& i : inputs) {
        i.type = INPUT_MOUSE;
        i.mi.dx = (p.x * 65535 + w / 2) / (w - 1);
        i.mi.dy = (p.y * 65535 + h / 2) / (h - 1);
    }
    // Each event says where it happens: a display server may still report the pointer where it
    // was before the move.
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    Input(inputs, 1);
    Input(inputs + 1, 2);
}

void Key(WORD virtualKey)
{
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = virtualKey;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    Input(inputs, 2);
}

// Dialog units of MS Sans Serif 8 (6 x 13 base units) to client pixels, as the host tests count.
POINT Du(int x, int y) { return {x * 6 / 4, y * 13 / 8}; }

// ---- The controls dialog of the host tests ------------------------------------------------------

struct Command {
    int id;
    int code;
};

class ControlsDialog : public Dialog {
public:
    ControlsDialog() : Dialog(IDD_CONTROLS) { InitializeCriticalSection(&commandsLock_); }
    ~ControlsDialog() override { DeleteCriticalSection(&commandsLock_); }

    std::atomic<int> timerTicks{0};
    std::atomic<int> paints{0};
    std::atomic<int> paintsAfterInvalidate{-1};
    std::atomic<int> paintsAfterRedraw{-1};
    std::atomic<int> boxAnswer{0};
    std::atomic<int> destroyed{0};
    std::atomic<bool> ready{false};

    bool HasCommand(int id, int code)
    {
        EnterCriticalSection(&commandsLock_);
        bool found = false;
        for (const Command& c : commands_) {
            found = found || (c.id == id && c.code == code);
        }
        LeaveCriticalSection(&commandsLock_);
        return found;
    }

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        UpDown spin(*this, IDC_SPIN);
        spin.SetRange(0, 99);
        spin.SetPosition(25);
        ComboBox ports(*this, IDC_COMBO);
        for (const char* name : {"COM1", "COM2", "NONE"}) {
            ports.AddString(name);
        }
        ports.SetCurrentSelection(0);
        ListBox types(*this, IDC_LIST);
        types.AddString("RS232 Controller");
        types.AddString("USB Controller");
        Button(*this, IDC_ICON_BUTTON).SetIcon(Application::Current()->LoadIconResource(IDI_SQUARE));
        SetTimer(5, 50);
        ready = true;
        return true;
    }

    void OnPaint() override
    {
        ++paints;
        Dialog::OnPaint();
    }

    bool OnCommand(int id, int code) override
    {
        EnterCriticalSection(&commandsLock_);
        commands_.push_back({id, code});
        LeaveCriticalSection(&commandsLock_);
        if (id == IDC_ICON_BUTTON) {
            int before = paints;
            Invalidate();
            paintsAfterInvalidate = paints - before;
            RedrawWindow(redraw::Invalidate | redraw::Erase | redraw::UpdateNow);
            paintsAfterRedraw = paints - before;
            boxAnswer = ShowMessageBox("Save the calibration data?", "Probe box", box::YesNo);
            return true;
        }
        return Dialog::OnCommand(id, code);
    }

    void OnTimer(TimerId id) override
    {
        if (id == 5 && ++timerTicks == 3) {
            KillTimer(5);
        }
        Dialog::OnTimer(id);
    }

    void OnDestroy() override
    {
        ++destroyed;
        Dialog::OnDestroy();
    }


private:
    CRITICAL_SECTION commandsLock_;
    std::vector<Command> commands_;
};

BOOL CALLBACK CancelWindow(HWND window, LPARAM)
{
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// The way out when a script cannot find its window: cancel whatever the UI thread shows.
void CancelUiWindows()
{
    EnumThreadWindows(g_uiThread, CancelWindow, 0);
}

void ExpectClosed(HWND window)
{
    if (!WaitUntil([window] { return !IsWindow(window); }, 3000)) {
        Expect(false, "the window closes");
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
}

// Runs the controls dialog modally on this thread while SCRIPT drives it; returns its result.
intptr_t RunControls(ControlsDialog& dialog, const std::function<void(HWND)>& script)
{
    Driver driver([&dialog, &script] {
        HWND window = WaitForWindow(L"Controls");
        Expect(window != nullptr && dialog.ready, "the dialog is shown");
        if (window) {
            script(window);
            ExpectClosed(window);
        } else {
            CancelUiWindows();
        }
    });
    return dialog.RunModal();
}

void DialogScenarios()
{
    g_scenario = "dialog keys";
    {
        ControlsDialog dialog;
        intptr_t result = RunControls(dialog, [](HWND window) {
            char caption[32] = {};
            GetWindowTextA(window, caption, sizeof caption);
            ExpectText(caption, "Controls", "caption");
            Key(VK_RETURN);
        });
        ExpectEq<intptr_t>(result, answer::Ok, "Enter ends with the default button (IDOK)");
        ExpectEq(dialog.destroyed.load(), 1, "the dialog is destroyed once");
        Expect(!dialog.Exists(), "the window is gone");
    }
    {
        ControlsDialog dialog;
        intptr_t result = RunControls(dialog, [](HWND) { Key(VK_ESCAPE); });
        ExpectEq<intptr_t>(result, answer::Cancel, "Escape cancels");
    }

    g_scenario = "hidden template";
    {
        Dialog hidden(IDD_HIDDEN);
        Driver driver([] {
            HWND window = WaitForWindow(L"Hidden");
            Expect(window != nullptr, "a modal dialog is shown without WS_VISIBLE in its template");
            if (window) {
                Key(VK_RETURN);
                ExpectClosed(window);
            } else {
                CancelUiWindows();
            }
        });
        ExpectEq<intptr_t>(hidden.RunModal(), answer::Ok, "Enter ends it");
    }

    g_scenario = "dialog frame";
    {
        ControlsDialog dialog;
        RunControls(dialog, [&dialog](HWND window) {
            const Rect client = dialog.ClientRect();
            const Rect outer = dialog.WindowRect();
            ExpectEq(client.Width(), 300, "client width of 200 dialog units in MS Sans Serif 8");
            ExpectEq(client.Height(), 260, "client height of 160 dialog units");
            ExpectEq(outer.Width(), client.Width() + 2 * GetSystemMetric(metric::CxFixedFrame), "window width");
            ExpectEq(outer.Height(),
                     client.Height() + 2 * GetSystemMetric(metric::CyFixedFrame) + GetSystemMetric(metric::CyCaption),
                     "window height");
            const Point origin = dialog.ClientToScreen({0, 0});
            ExpectEq(origin.x, 15, "client left at the template's 10 dialog units");
            // 10 dialog units down would put the caption above the screen: the window is kept on it.
            ExpectEq(outer.top, 0, "the window is kept on the screen");
            ExpectEq(origin.y, GetSystemMetric(metric::CyFixedFrame) + GetSystemMetric(metric::CyCaption),
                     "client top below the frame and caption");
            PostMessageW(window, WM_CLOSE, 0, 0);
        });
    }

    g_scenario = "controls";
    {
        ControlsDialog dialog;
        RunControls(dialog, [&dialog](HWND window) {
            // Radio buttons: a click checks one of the group.
            POINT b = Du(8, 26);
            Click(window, b.x + 3, b.y + 3);
            ExpectSoon([&] { return Button(dialog, IDC_RADIO_B).IsChecked(); }, "a click checks radio B");
            POINT c = Du(8, 38);
            Click(window, c.x + 3, c.y + 3);
            ExpectSoon(
                [&] {
                    return !Button(dialog, IDC_RADIO_B).IsChecked() && Button(dialog, IDC_RADIO_C).IsChecked() &&
                           !Button(dialog, IDC_RADIO_A).IsChecked();
                },
                "then C alone is checked");

            // The up-down control writes its position into its buddy.
            Edit edit(dialog, IDC_EDIT);
            ExpectText(edit.Text(), "25", "the buddy shows the up-down's position");
            POINT spin = Du(130, 10);
            Click(window, spin.x + 2, spin.y + 2);
            ExpectSoon([&] { return edit.Text() == "26"; }, "the upper arrow counts up");
            ExpectEq(UpDown(dialog, IDC_SPIN).Position(), 26, "the up-down's position");

            // Combo box, list box, trackbar, progress bar.
            ComboBox ports(dialog, IDC_COMBO);
            ExpectEq(ports.Count(), 3, "combo box entries");
            ExpectText(ports.ItemText(2), "NONE", "combo box entry text");
            ExpectEq(ports.FindStringExact("com2"), 1, "exact search ignores case");
            ListBox types(dialog, IDC_LIST);
            RECT item{};
            SendMessageW(GetDlgItem(window, IDC_LIST), LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
            POINT at{item.left + 10, item.top + 2};
            MapWindowPoints(GetDlgItem(window, IDC_LIST), window, &at, 1);
            Click(window, at.x, at.y);
            ExpectSoon([&] { return types.CurrentSelection() == 1; }, "a click selects the second list entry");
            ExpectText(types.ItemText(1), "USB Controller", "list entry text");

            Trackbar slider(dialog, IDC_SLIDER);
            slider.SetRange(0, 10);
            slider.SetPosition(3);
            ExpectEq(slider.Position(), 3, "trackbar position");
            slider.SetPosition(20);
            ExpectEq(slider.Position(), 10, "trackbar position is kept in range");
            ProgressBar progress(dialog, IDC_PROGRESS);
            progress.SetRange(0, 10);
            progress.SetStep(4);
            ExpectEq(progress.StepIt(), 0, "a step answers the position before it");
            ExpectEq(progress.StepIt(), 4, "the second step");
            progress.StepIt();
            ExpectEq(progress.Position(), 2, "past the end the bar starts over");

            ExpectEq(dialog.HasCommand(IDC_EDIT, EN_CHANGE) ? 1 : 0, 1, "the buddy's change is notified");
            ExpectEq(dialog.HasCommand(IDC_RADIO_B, BN_CLICKED) ? 1 : 0, 1, "the radio click is notified");
            ExpectEq(dialog.HasCommand(IDC_LIST, LBN_SELCHANGE) ? 1 : 0, 1, "the list selection is notified");
            ExpectEq(dialog.HasCommand(IDC_COMBO, CBN_SELCHANGE) ? 1 : 0, 0,
                     "a selection by the program is not notified");

            // Timers: three ticks, then the dialog kills its timer.
            WaitUntil([&dialog] { return dialog.timerTicks >= 3; });
            Sleep(200);
            ExpectEq(dialog.timerTicks.load(), 3, "the timer ticks until it is killed");
            PostMessageW(window, WM_CLOSE, 0, 0);
        });
    }

    g_scenario = "message box";
    {
        ControlsDialog dialog;
        RunControls(dialog, [&dialog](HWND window) {
            POINT button = Du(4, 124);
            Click(window, button.x + 10, button.y + 10);
            HWND box = WaitForWindow(L"Probe box");
            Expect(box != nullptr, "the box is shown with its caption");
            Expect(!IsWindowEnabled(window), "the box disables its owner");
            ExpectEq(dialog.paintsAfterInvalidate.load(), 0, "Invalidate paints later");
            ExpectEq(dialog.paintsAfterRedraw.load(), 1, "RedrawWindow with UpdateNow paints at once");
            SendMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
            WaitUntil([&dialog] { return dialog.boxAnswer != 0; });
            ExpectEq(dialog.boxAnswer.load(), answer::No, "the box answers the button pressed");
            Expect(IsWindowEnabled(window) != FALSE, "the owner takes input again");
            PostMessageW(window, WM_CLOSE, 0, 0);
        });
    }

    g_scenario = "resources";
    ExpectText(Application::Current()->LoadStringResource(IDS_GREETING), "Hello", "a string of the module");
    Expect(Application::Current()->LoadIconResource(IDI_SQUARE) != nullptr, "an icon of the module");
    Expect(Application::Current()->LoadStringResource(999).empty(), "a missing string is empty");
}

// ---- Property sheets and wizards ---------------------------------------------------------------

class Page : public PropertyPage {
public:
    Page(ResourceId id, uint32_t buttons) : PropertyPage(id), buttons_(buttons) {}

    std::atomic<int> inits{0}, activations{0}, oks{0}, cancels{0}, nexts{0};
    std::atomic<bool> refuseNext{false};

protected:
    bool OnInitDialog() override
    {
        ++inits;
        return PropertyPage::OnInitDialog();
    }
    bool OnSetActive() override
    {
        ++activations;
        if (buttons_) {
            SetWizardButtons(buttons_);
        }
        return PropertyPage::OnSetActive();
    }
    void OnOK() override { ++oks; }
    void OnCancel() override { ++cancels; }
    intptr_t OnWizardNext() override
    {
        ++nexts;
        return refuseNext ? -1 : PropertyPage::OnWizardNext();
    }

private:
    uint32_t buttons_;
};

constexpr int kBackButton = 0x3023, kNextButton = 0x3024, kFinishButton = 0x3025, kApplyButton = 0x3021;

struct SheetRun {
    Page one{IDD_PAGE_ONE, wizard::Next};
    Page two{IDD_PAGE_TWO, wizard::Back | wizard::Next};
    Page three{IDD_PAGE_THREE, wizard::Back | wizard::Finish};

    intptr_t Run(bool wizardMode, const std::function<void(HWND)>& script)
    {
        Driver driver([&script, wizardMode] {
            HWND sheet = WaitForShownDialog();
            Expect(sheet != nullptr, "the sheet is shown");
            if (wizardMode) {
                Note("the wizard's caption is \"" + CaptionOf(sheet) + "\" (the sheet's: \"Hello\", the page's: \"One\")");
            } else {
                ExpectText(CaptionOf(sheet), "Hello", "a sheet's caption is its own");
            }
            if (sheet) {
                script(sheet);
                ExpectClosed(sheet);
            } else {
                CancelUiWindows();
            }
        });
        PropertySheetDialog sheet("Hello");
        sheet.AddPage(one);
        sheet.AddPage(two);
        sheet.AddPage(three);
        if (wizardMode) {
            sheet.SetWizardMode();
        } else {
            sheet.AddFlags(sheet::NoApplyNow);
        }
        return sheet.RunModal();
    }
};

// Presses a sheet's button as PSM_PRESSBUTTON does; what follows happens on the sheet's thread.
void Press(HWND sheet, WPARAM button)
{
    PostMessageW(sheet, PSM_PRESSBUTTON, button, 0);
}

bool Enabled(HWND sheet, int id) { return IsWindowEnabled(GetDlgItem(sheet, id)) != FALSE; }
bool Shown(HWND sheet, int id) { return IsWindowVisible(GetDlgItem(sheet, id)) != FALSE; }

void SheetScenarios()
{
    g_scenario = "wizard";
    {
        SheetRun run;
        intptr_t result = run.Run(true, [&run](HWND sheet) {
            ExpectEq(run.one.inits.load(), 1, "the first page is made");
            ExpectEq(run.two.inits.load(), 0, "the second page is not made yet");
            ExpectSoon([&] { return !Enabled(sheet, kBackButton) && Enabled(sheet, kNextButton); },
                       "the first page offers Next but not Back");
            Press(sheet, PSBTN_NEXT);
            ExpectSoon([&] { return run.two.activations == 1; }, "Next shows the second page");
            ExpectEq(run.two.inits.load(), 1, "Next makes the second page");
            ExpectSoon([&] { return run.two.IsVisible() && !run.one.IsVisible(); }, "the second page replaces the first");
            ExpectSoon([&] { return Enabled(sheet, kBackButton); }, "Back is enabled on the second page");
            run.two.refuseNext = true;
            Press(sheet, PSBTN_NEXT);
            ExpectSoon([&] { return run.two.nexts == 1; }, "the second page is asked about Next");
            ExpectEq(run.three.inits.load(), 0, "a page that refuses Next keeps the wizard where it is");
            run.two.refuseNext = false;
            Press(sheet, PSBTN_BACK);
            ExpectSoon([&] { return run.one.activations == 2; }, "Back shows the first page again");
            ExpectEq(run.one.inits.load(), 1, "made once, shown twice");
            Press(sheet, PSBTN_NEXT);
            ExpectSoon([&] { return run.two.activations == 2; }, "Next again");
            Press(sheet, PSBTN_NEXT);
            ExpectSoon([&] { return Shown(sheet, kFinishButton) && !Shown(sheet, kNextButton); },
                       "Finish takes the place of Next on the last page");
            Press(sheet, PSBTN_FINISH);
        });
        ExpectEq<intptr_t>(result, answer::Ok, "Finish ends the wizard with OK");
        ExpectEq(run.one.oks + run.two.oks + run.three.oks, 0, "a wizard's Finish is not OK");
    }

    g_scenario = "property sheet";
    {
        SheetRun run;
        intptr_t result = run.Run(false, [&run](HWND sheet) {
            Expect(!IsWindowVisible(GetDlgItem(sheet, kApplyButton)), "no Apply button with NoApplyNow");
            SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
            ExpectEq(run.two.inits.load(), 1, "PSM_SETCURSEL makes the second page");
            Expect(run.two.IsVisible() && !run.one.IsVisible(), "the second page replaces the first");
            Press(sheet, PSBTN_OK);
        });
        ExpectEq<intptr_t>(result, answer::Ok, "OK ends the sheet with OK");
        ExpectEq(run.one.oks.load(), 1, "OK reaches the first page");
        ExpectEq(run.two.oks.load(), 1, "OK reaches the second page");
        ExpectEq(run.three.oks.load() + run.three.inits.load(), 0, "a page never shown is never made");
    }
    {
        SheetRun run;
        intptr_t result = run.Run(false, [](HWND sheet) { Press(sheet, PSBTN_CANCEL); });
        ExpectEq<intptr_t>(result, answer::Cancel, "Cancel ends the sheet with Cancel");
        ExpectEq(run.one.cancels.load(), 1, "Cancel reaches the page shown");
        ExpectEq(run.two.cancels.load(), 0, "not the pages never shown");
    }
}

class Probe : public Application {
protected:
    bool InitInstance() override
    {
        DialogScenarios();
        SheetScenarios();
        return false;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    InitializeCriticalSection(&g_lock);
    g_uiThread = GetCurrentThreadId();
    g_out = std::fopen(commandLine && *commandLine ? commandLine : "FrameworkProbe.txt", "w");
    if (!g_out) {
        return 255;
    }
    Probe probe;
    RunProgram(probe, reinterpret_cast<ModuleHandle>(instance), showCommand);
    std::fprintf(g_out, "%d checks, %d failed\n", g_checks, g_failures);
    std::fclose(g_out);
    return g_failures;
}
