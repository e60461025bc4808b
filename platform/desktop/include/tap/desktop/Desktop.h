// The headless desktop of the simulated PC: the screen and its framebuffer, the tree of windows
// with their places and Z order (a topmost band above the others, owned windows above their
// owners), hit testing, exposure of what a change uncovers, and the input devices: a pointer
// (the mouse class driver's cursor, or a test's mouse) and a keyboard.
//
// The desktop knows where windows are, not what they are: messages, painting and controls belong
// to the window system (the framework's host backend), which it informs through WindowSystem.
// All members may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tap/desktop/Framebuffer.h"
#include "tap/desktop/Geometry.h"
#include "tap/desktop/Scheduler.h"

namespace tap::desktop {

using WindowId = uint32_t;
constexpr WindowId kNoWindow = 0;

enum class MouseButton { Left, Right, Middle };

// Button transitions of a pointer report, with the values of MOUSE_INPUT_DATA.ButtonFlags.
constexpr uint32_t kLeftButtonDown = 0x0001;
constexpr uint32_t kLeftButtonUp = 0x0002;
constexpr uint32_t kRightButtonDown = 0x0004;
constexpr uint32_t kRightButtonUp = 0x0008;
constexpr uint32_t kMiddleButtonDown = 0x0010;
constexpr uint32_t kMiddleButtonUp = 0x0020;

// Virtual-key codes of the keys tests inject.
constexpr uint32_t kKeyTab = 0x09;
constexpr uint32_t kKeyEnter = 0x0D;
constexpr uint32_t kKeyEscape = 0x1B;
constexpr uint32_t kKeySpace = 0x20;
constexpr uint32_t kKeyPageUp = 0x21;   // VK_PRIOR
constexpr uint32_t kKeyPageDown = 0x22; // VK_NEXT
constexpr uint32_t kKeyEnd = 0x23;
constexpr uint32_t kKeyHome = 0x24;
constexpr uint32_t kKeyLeft = 0x25;
constexpr uint32_t kKeyUp = 0x26;
constexpr uint32_t kKeyRight = 0x27;
constexpr uint32_t kKeyDown = 0x28;

// Windows XP's default desktop colour.
constexpr Rgb kDesktopColor = MakeRgb(0x3A, 0x6E, 0xA5);

// Where a window is. Rectangles of a child are relative to its parent's client area; those of a
// top-level window are in screen coordinates.
struct WindowPlace {
    WindowId parent = kNoWindow;
    WindowId owner = kNoWindow;   // top-level windows: stays above its owner
    Rect window;
    Rect client;                  // relative to the same origin as window
    bool visible = false;
    bool enabled = true;
    bool topmost = false;
    bool clipChildren = false;    // painting the window leaves its children's areas alone
};

// Where SetZOrder puts a window among its siblings.
enum class ZPlace { Top, Bottom, Topmost, NoTopmost };

// The window system behind the desktop. Calls come on the thread that caused them and with no
// desktop lock held.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // AREA (screen coordinates) of WINDOW has just become visible and needs painting.
    virtual void Exposed(WindowId window, const Region& area) = 0;
    virtual void MouseButtonEvent(WindowId window, Point screen, MouseButton button, bool down) = 0;
    virtual void MouseMoved(WindowId window, Point screen) = 0;
    virtual void KeyEvent(WindowId focus, uint32_t virtualKey, bool down) = 0;
};

class Desktop {
public:
    explicit Desktop(Scheduler& scheduler, Size screen = {1024, 768});
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    Scheduler& Clock() { return scheduler_; }
    Size ScreenSize() const { return {screen_.Width(), screen_.Height()}; }
    Rect ScreenRect() const { return screen_.Bounds(); }
    void SetWindowSystem(WindowSystem* system);

    // The framebuffer. Hold LockScreen() while drawing into it or reading it from a running system.
    Framebuffer& Screen() { return screen_; }
    std::unique_lock<std::mutex> LockScreen() { return std::unique_lock<std::mutex>(screenMutex_); }
    bool SavePng(const std::string& path);

    // ---- The window tree ------------------------------------------------------------------------
    // A new window goes on top of its siblings (top of its band for a top-level window).
    WindowId Create(const WindowPlace& place);
    // Removes the window and its descendants; what they covered is exposed.
    void Destroy(WindowId window);
    // Changes place, size, visibility, enabling; the parent, owner and Z order stay.
    void Move(WindowId window, const WindowPlace& place);
    void SetZOrder(WindowId window, ZPlace place);
    // Puts WINDOW right below AFTER, a sibling (SetWindowPos with a window as insert-after).
    void PlaceBelow(WindowId window, WindowId after);

    bool Exists(WindowId window) const;
    WindowPlace Place(WindowId window) const;
    Rect ScreenWindowRect(WindowId window) const;
    Rect ScreenClientRect(WindowId window) const;
    // Visible with all its ancestors.
    bool IsShown(WindowId window) const;
    // Siblings from top to bottom; kNoWindow lists the top-level windows.
    std::vector<WindowId> Children(WindowId parent) const;
    // The part of the window (or only of its client area) that can be seen, in screen
    // coordinates: inside its ancestors' client areas, outside windows above it, and outside its
    // children when it clips them.
    Region VisibleRegion(WindowId window, bool clientOnly) const;
    // The deepest shown window under the point; disabled child windows are skipped, so their
    // parent gets the input, as in Windows.
    WindowId WindowAt(Point screen) const;

    // ---- Focus and capture ---------------------------------------------------------------------
    void SetFocus(WindowId window);
    WindowId Focus() const;
    void SetActive(WindowId window);
    WindowId Active() const;
    void SetCapture(WindowId window);
    void ReleaseCapture();
    WindowId Capture() const;

    // ---- Input ---------------------------------------------------------------------------------
    // One report of an absolute pointing device: X and Y are 0..65535 across the screen, and
    // BUTTONFLAGS the transitions (kLeftButtonDown, ...), applied after the move in the order
    // down-left, up-left, down-right, up-right, down-middle, up-middle. This is where the mouse
    // class driver's cursor enters the desktop.
    void PointerEvent(int32_t x, int32_t y, uint32_t buttonFlags);
    // The same in screen pixels, for tests.
    void MouseMoveTo(Point screen);
    void MouseDown(Point screen, MouseButton button = MouseButton::Left);
    void MouseUp(Point screen, MouseButton button = MouseButton::Left);
    void Click(Point screen, MouseButton button = MouseButton::Left);
    Point Cursor() const;
    // A key press and release, delivered to the focus window (or the active window without one).
    void KeyPress(uint32_t virtualKey);

private:
    struct Node {
        WindowPlace place;
        std::vector<WindowId> children; // top to bottom
    };
    using Snapshot = std::map<WindowId, Region>;

    std::vector<WindowId>& SiblingsLocked(WindowId parent);
    const Node* FindLocked(WindowId window) const;
    Point OriginLocked(WindowId parent) const; // screen position of the parent's client (0,0)
    Rect ScreenWindowRectLocked(WindowId window) const;
    Rect ScreenClientRectLocked(WindowId window) const;
    bool IsShownLocked(WindowId window) const;
    Region VisibleRegionLocked(WindowId window, bool clientOnly) const;
    WindowId WindowAtLocked(WindowId parent, Point screen) const;
    WindowId TopLevelOfLocked(WindowId window) const;
    void SortTopLevelLocked();
    void CollectLocked(WindowId window, std::vector<WindowId>& out) const;
    Snapshot VisibilityLocked() const;
    Region BackgroundLocked() const;
    // Tells the window system what a change uncovered; MOVED windows are exposed entirely.
    void Expose(const Snapshot& before, const Region& backgroundBefore, const std::vector<WindowId>& moved);
    WindowId InputTarget(Point screen) const;
    void SendButton(Point screen, MouseButton button, bool down);

    Scheduler& scheduler_;
    mutable std::mutex mutex_;
    std::map<WindowId, Node> nodes_;
    std::vector<WindowId> topLevel_;
    WindowId nextId_ = 1;
    WindowId focus_ = kNoWindow;
    WindowId active_ = kNoWindow;
    WindowId capture_ = kNoWindow;
    Point cursor_;
    WindowSystem* system_ = nullptr;

    std::mutex screenMutex_;
    Framebuffer screen_;
};

} // namespace tap::desktop
