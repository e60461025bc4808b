// Inside the host backend: the records of windows, UI threads and drawing objects, and the
// operations the sys:: functions are made of. One big lock (State::mutex) guards every record;
// it is never held while a window procedure runs or while the desktop is called, because the
// desktop calls back into the window system.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/desktop/Canvas.h"
#include "tap/desktop/Desktop.h"
#include "tap/ui/host/Session.h"

namespace tap::ui::host {

using Lock = std::unique_lock<std::mutex>;

enum class WindowKind { Desktop, Dialog, MessageBox, Button, Static, Edit, ComboBox, ListBox, UpDown, Trackbar, Progress, Sheet, DropList };

class UiThread;

struct Timer {
    WindowHandle window;
    TimerId id;
    uint32_t elapse;
    uint64_t deadline;
};

struct Posted {
    WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// A message sent from another thread, waiting for the owner thread to run it.
struct SentMessage {
    Posted message;
    UiThread* sender;
    intptr_t result = 0;
    bool done = false;
};

// A property sheet's own record.
struct SheetState {
    sys::SheetHeader header;
    std::vector<WindowHandle> pages; // nullptr until first shown
    std::vector<std::u16string> titles;
    int current = -1;
    desktop::Rect pageArea;          // client coordinates
    bool wizard = false;
};


struct HostWindow {
    WindowHandle handle = nullptr;
    desktop::WindowId id = desktop::kNoWindow;
    WindowKind kind = WindowKind::Dialog;
    UiThread* thread = nullptr;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int controlId = 0;
    std::u16string text;
    WindowHandle parent = nullptr;   // child windows
    WindowHandle owner = nullptr;    // top-level windows
    sys::MessageTarget* target = nullptr;
    std::vector<WindowHandle> children; // creation order, which is the tab order

    desktop::Region update;          // client coordinates
    bool erase = false;
    bool minimized = false;
    desktop::Rect restoreRect;       // window rectangle before minimising
    IconHandle bigIcon = nullptr;
    IconHandle smallIcon = nullptr;
    // What the program appended to the window's system menu: separators have command 0.
    std::vector<std::pair<uint32_t, std::u16string>> systemMenu;

    // Dialogs and the sheet.
    bool dialogEnded = false;
    intptr_t dialogResult = 0;
    desktop::Size baseUnits{6, 13};
    WindowHandle focus = nullptr;
    std::unique_ptr<SheetState> sheet;

    // Controls.
    int check = 0;
    bool pressed = false;
    IconHandle image = nullptr;
    std::vector<std::u16string> items;
    int selection = -1;
    int low = 0, high = 100, position = 0, step = 10;
    WindowHandle buddy = nullptr;
    bool readOnly = false;
    bool tracking = false;           // a trackbar's thumb is being dragged
    WindowHandle dropList = nullptr; // open list of a combo box
    WindowHandle comboOwner = nullptr; // the combo box of a drop list
};

class UiThread final : public desktop::TimedWaiter {
public:
    UiThread(struct Session::State& state, bool counted);
    ~UiThread() override;

    std::optional<uint64_t> NextDeadline() const override;
    void ClockAdvanced(uint64_t now) override;

    // Wakes the thread if it waits (big lock held).
    void WakeLocked();

    struct Session::State& state;
    const bool counted;              // a thread of the simulated system, known to the scheduler
    std::condition_variable wake;
    bool waiting = false;
    std::deque<Posted> posted;
    std::deque<SentMessage*> sent;
    std::vector<Timer> timers;
    std::string program;             // the program running on the thread, if any
    bool quit = false;
    int quitCode = 0;
    bool terminate = false;          // the session is shutting down
};

struct HostGdiObject {
    enum class Kind { Pen, Brush } kind;
    desktop::Pen pen;
    desktop::Brush brush;
    bool stock = false;
};

struct HostDC {
    WindowHandle window;
    desktop::Point origin;           // screen position of the client's (0, 0)
    desktop::Region clip;            // screen coordinates
    // A window's DC from GetDC follows the window: origin and clip are taken again for every
    // figure, so a DC kept by another thread never draws over a window that has since moved
    // above (a paint DC keeps the update region it began with).
    bool follows = false;
    GdiObjectHandle pen;
    GdiObjectHandle brush;
    desktop::Point current;
};

struct HostIcon {
    desktop::IconImage image;
};

struct Program {
    std::string name;
    std::thread thread;
    bool exited = false;
    int exitCode = 0;
};

struct Session::State : desktop::WindowSystem {
    explicit State(desktop::Desktop& d);

    // desktop::WindowSystem: calls come without any lock held.
    void Exposed(desktop::WindowId window, const desktop::Region& area) override;
    void MouseButtonEvent(desktop::WindowId window, desktop::Point screen, desktop::MouseButton button, bool down) override;
    void MouseMoved(desktop::WindowId window, desktop::Point screen) override;
    void KeyEvent(desktop::WindowId focus, uint32_t virtualKey, bool down) override;

    desktop::Desktop& desktop;
    std::mutex mutex;
    std::map<WindowHandle, std::unique_ptr<HostWindow>> windows;
    std::map<desktop::WindowId, WindowHandle> byDesktopId;
    uintptr_t nextHandle = 0x10000;
    WindowHandle root = nullptr;
    int cursorCount = 0;
    std::vector<MessageBoxRecord> boxes;
    std::map<WindowHandle, size_t> openBoxes; // box window -> record index
    std::vector<WindowEvent> windowEvents;
    std::function<std::optional<int>(const MessageBoxRecord&)> boxPolicy;
    std::map<ProgramId, std::unique_ptr<Program>> programs;
    ProgramId nextProgram = 1;
    std::set<HostGdiObject*> gdiObjects;
    std::set<HostDC*> dcs;
    std::map<std::tuple<ModuleHandle, ResourceId, int>, std::unique_ptr<HostIcon>> icons;
    std::set<HostIcon*> iconSet;
};

// ---- Shared operations (Host*.cpp) -----------------------------------------------------------------
Session::State& CurrentState();
// Adds to the session's window log (big lock held); TIME is the desktop clock's, read before the
// lock was taken.
void LogWindowEventLocked(WindowEvent::Kind kind, const HostWindow& window, uint64_t time,
                          const std::u16string& text = {}, int answer = 0);
UiThread& ThisThread();
HostWindow* FindLocked(WindowHandle window);

// The window procedure of WINDOW: the framework's target, or the built-in class procedure.
intptr_t CallProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t ClassProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t DefaultDialogProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t ControlProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t SheetProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t DropListProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t MessageBoxProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Creates a window record and its desktop window; PLACE is in the parent's client coordinates
// (screen for top-level windows). The window starts hidden unless STYLE has WS_VISIBLE.
struct CreateParams {
    CreateParams(WindowKind k, uint32_t s, uint32_t ex, std::u16string t)
        : kind(k), style(s), exStyle(ex), text(std::move(t))
    {
    }
    WindowKind kind;
    uint32_t style;
    uint32_t exStyle;
    std::u16string text;
    int controlId = 0;
    WindowHandle parent = nullptr;
    WindowHandle owner = nullptr;
    desktop::Rect rect;              // window rectangle
    sys::MessageTarget* target = nullptr;
    desktop::Size baseUnits{6, 13};
};
WindowHandle CreateHostWindow(const CreateParams& params);
// Runs the message loop of a modal window until it ends (dialogs, message boxes, sheets).
void RunModalLoop(WindowHandle window);
// Builds a dialog from its template: top-level (owned by PARENT's top-level window), or a child
// of PARENT at AT (a property page). Sends WM_INITDIALOG; shows it when the template says so.
WindowHandle CreateDialogFromTemplate(ModuleHandle module, ResourceId templateId, WindowHandle parent,
                                      sys::MessageTarget* target, bool child, desktop::Point at);
// Disables the top-level window of PARENT for a modal window; returns it when it was disabled.
WindowHandle DisableOwner(WindowHandle parent);
// Ends a modal window: its result, the owner enabled and active again, the window destroyed.
intptr_t FinishModal(WindowHandle window, WindowHandle disabledOwner);
void FocusControl(WindowHandle control);
// Dialog manager keys (IsDialogMessage): true when the message was used.
bool DialogKeyMessage(const Posted& message);
void DispatchPosted(const Posted& message);
// Waits for the next message of this thread, as GetMessage; false for WM_QUIT.
bool NextMessage(Posted& out);

desktop::Rect AdjustedWindowRect(const desktop::Rect& client, uint32_t style, uint32_t exStyle);
void PaintNonClient(WindowHandle window);
desktop::Size DialogBaseUnits(const std::u16string& face, int pointSize);
desktop::Rect DialogUnitsToPixels(const desktop::Size& base, int x, int y, int cx, int cy);

// Drawing helpers for the built-in classes.
desktop::Canvas ClientCanvas(WindowHandle window, DeviceContextHandle paintDC);
HostDC* DCOf(DeviceContextHandle dc);
desktop::Rgb ToRgb(Color color);
constexpr desktop::Rgb kFaceColor = desktop::MakeRgb(0xD4, 0xD0, 0xC8);    // COLOR_3DFACE, classic
constexpr desktop::Rgb kShadowColor = desktop::MakeRgb(0x80, 0x80, 0x80);  // COLOR_3DSHADOW
constexpr desktop::Rgb kDarkShadowColor = desktop::MakeRgb(0x40, 0x40, 0x40);
constexpr desktop::Rgb kLightColor = desktop::MakeRgb(0xFF, 0xFF, 0xFF);   // COLOR_3DHILIGHT
constexpr desktop::Rgb kCaptionColor = desktop::MakeRgb(0x0A, 0x24, 0x6A); // COLOR_ACTIVECAPTION
constexpr desktop::Rgb kGrayText = desktop::MakeRgb(0x80, 0x80, 0x80);
constexpr desktop::Rgb kHighlight = desktop::MakeRgb(0x0A, 0x24, 0x6A);
// The x of POSITION on a trackbar's channel, in the client coordinates of CLIENT.
int TrackbarX(const desktop::Rect& client, int low, int high, int position);
// Whether a control takes the arrow keys itself (DLGC_WANTARROWS): edit fields, lists, up-down
// controls and trackbars do; for the others the dialog manager moves within the group.
bool WantsArrowKeys(WindowHandle control);
// The tabs of a non-wizard sheet, in the sheet's client coordinates.
std::vector<desktop::Rect> SheetTabRects(WindowHandle sheet);
// The page a sheet shows, or null.
WindowHandle SheetCurrentPage(WindowHandle sheet);
// Text without the '&' mnemonic markers ("&&" stays one '&').
std::u16string WithoutMnemonics(const std::u16string& text);
void Notify(WindowHandle control, int code);


constexpr uint32_t kChild = 0x40000000, kVisible = 0x10000000, kDisabled = 0x08000000, kPopup = 0x80000000;
constexpr uint32_t kCaption = 0x00C00000, kBorder = 0x00800000, kDlgFrame = 0x00400000, kSysMenu = 0x00080000;
constexpr uint32_t kThickFrame = 0x00040000, kGroup = 0x00020000, kTabStop = 0x00010000, kClipChildren = 0x02000000;
constexpr uint32_t kExDlgModalFrame = 0x1, kExTopmost = 0x8, kExToolWindow = 0x80, kExClientEdge = 0x200,
                   kExStaticEdge = 0x20000;
constexpr uint32_t kDsModalFrame = 0x80, kDsCenter = 0x800;

} // namespace tap::ui::host
