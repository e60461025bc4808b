// A window the framework can act on: position, Z order, visibility, text, painting, timers, icons
// and message boxes. WindowRef does not own the window; Dialog and the controls build on it.
#pragma once

#include <string>
#include <string_view>

#include "tap/ui/Types.h"

namespace tap::ui {

class DeviceContext;

class WindowRef {
public:
    WindowRef() = default;
    explicit WindowRef(WindowHandle handle) : handle_(handle) {}

    WindowHandle Handle() const { return handle_; }
    bool Exists() const;

    // The screen's root window, which every top-level window belongs to (GetDesktopWindow).
    static WindowRef DesktopWindow();

    // ---- Place --------------------------------------------------------------------------------
    Rect ClientRect() const;   // client coordinates: left and top are 0
    Rect WindowRect() const;   // screen coordinates, frame and caption included
    Point ClientToScreen(Point p) const;
    Point ScreenToClient(Point p) const;
    // SetWindowPos with a special insert-after place, or with a window to go below.
    bool SetPosition(ZOrder insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
    bool SetPosition(WindowHandle insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
    bool Show(int showCommand);
    bool IsVisible() const;
    bool IsMinimized() const;
    bool Enable(bool enable);
    bool IsEnabled() const;
    WindowRef Parent() const;
    bool Destroy();

    // ---- Text (UTF-8) -------------------------------------------------------------------------
    void SetText(std::string_view text);
    std::string Text() const;

    // ---- Painting -----------------------------------------------------------------------------
    void Invalidate(bool erase = true);
    void InvalidateRect(const Rect& area, bool erase = true);
    void UpdateWindow();
    bool RedrawWindow(uint32_t redrawFlags, const Rect* area = nullptr);
    // Sends WM_ICONERASEBKGND with DC, as a minimised window's painting does before its icon.
    void EraseIconBackground(DeviceContext& dc);
    // The painting of a minimised window: the icon background erased, then ICON in the middle of
    // the client area (BeginPaint/EndPaint around both).
    void PaintMinimizedIcon(IconHandle icon);

    // ---- System menu --------------------------------------------------------------------------
    // Appends to the window's system menu (GetSystemMenu, AppendMenu): a separator, or an item
    // whose choice arrives as WM_SYSCOMMAND with COMMAND.
    bool AppendSystemMenuSeparator();
    bool AppendSystemMenuItem(uint32_t command, std::string_view text);

    // ---- Timers, icons, messages ---------------------------------------------------------------
    // SetTimer with no timer procedure: WM_TIMER arrives after every ELAPSE ms; 0 on failure.
    TimerId SetTimer(TimerId id, uint32_t elapse);
    bool KillTimer(TimerId id);
    // WM_SETICON; returns the previous icon.
    IconHandle SetIcon(IconHandle icon, bool big);
    IconHandle Icon(bool big) const;
    // A message box owned by this window (MessageBox); returns the answer (answer::Ok ...).
    int ShowMessageBox(std::string_view text, std::string_view caption, uint32_t style) const;
    // The raw message interface, for what the framework does not wrap (SendMessage, PostMessage).
    intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) const;
    bool Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) const;

protected:
    void Attach(WindowHandle handle) { handle_ = handle; }

private:
    WindowHandle handle_ = nullptr;
};

// A message box with no owner window.
int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, uint32_t style);

// The cursor's show counter (ShowCursor): the cursor shows while it is 0 or more.
int ShowCursor(bool show);
int GetSystemMetric(int index);

} // namespace tap::ui
