#include "tap/ui/Window.h"

#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/ui/backend/Text.h"
#include "tap/ui/Gdi.h"

namespace tap::ui {

bool WindowRef::Exists() const
{
    return handle_ && sys::IsWindowHandle(handle_);
}

WindowRef WindowRef::DesktopWindow()
{
    return WindowRef(sys::DesktopHandle());
}

Rect WindowRef::ClientRect() const
{
    return sys::ClientRectOf(handle_);
}

Rect WindowRef::WindowRect() const
{
    return sys::WindowRectOf(handle_);
}

Point WindowRef::ClientToScreen(Point p) const
{
    return sys::ClientToScreenPoint(handle_, p);
}

Point WindowRef::ScreenToClient(Point p) const
{
    Point origin = sys::ClientToScreenPoint(handle_, {0, 0});
    return {p.x - origin.x, p.y - origin.y};
}

bool WindowRef::SetPosition(ZOrder insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags)
{
    return sys::SetPosition(handle_, sys::InsertAfter(insertAfter), x, y, cx, cy, flags);
}

bool WindowRef::SetPosition(WindowHandle insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags)
{
    return sys::SetPosition(handle_, insertAfter, x, y, cx, cy, flags);
}

bool WindowRef::Show(int showCommand)
{
    return sys::ShowWindowCommand(handle_, showCommand);
}

bool WindowRef::IsVisible() const
{
    return sys::IsWindowShown(handle_);
}

bool WindowRef::IsMinimized() const
{
    return sys::IsWindowMinimized(handle_);
}

bool WindowRef::Enable(bool enable)
{
    return sys::EnableWindowInput(handle_, enable);
}

bool WindowRef::IsEnabled() const
{
    return sys::IsWindowEnabledForInput(handle_);
}

WindowRef WindowRef::Parent() const
{
    return WindowRef(sys::ParentOf(handle_));
}

bool WindowRef::Destroy()
{
    return sys::DestroyWindowHandle(handle_);
}

void WindowRef::SetText(std::string_view text)
{
    std::u16string wide = ToUtf16(text);
    Send(msg::SetText, 0, reinterpret_cast<intptr_t>(wide.c_str()));
}

std::string WindowRef::Text() const
{
    std::u16string buffer(static_cast<size_t>(Send(msg::GetTextLength)) + 1, u'\0');
    intptr_t length = Send(msg::GetText, buffer.size(), reinterpret_cast<intptr_t>(&buffer[0]));
    buffer.resize(static_cast<size_t>(length < 0 ? 0 : length));
    return ToUtf8(buffer);
}

void WindowRef::Invalidate(bool erase)
{
    sys::InvalidateArea(handle_, nullptr, erase);
}

void WindowRef::InvalidateRect(const Rect& area, bool erase)
{
    sys::InvalidateArea(handle_, &area, erase);
}

void WindowRef::UpdateWindow()
{
    sys::UpdateWindowNow(handle_);
}

bool WindowRef::AppendSystemMenuSeparator()
{
    return sys::AppendSystemMenuSeparator(handle_);
}

bool WindowRef::AppendSystemMenuItem(uint32_t command, std::string_view text)
{
    return sys::AppendSystemMenuItem(handle_, command, ToUtf16(text));
}

bool WindowRef::RedrawWindow(uint32_t redrawFlags, const Rect* area)
{
    return sys::RedrawArea(handle_, area, redrawFlags);
}

void WindowRef::EraseIconBackground(DeviceContext& dc)
{
    Send(msg::IconEraseBackground, reinterpret_cast<uintptr_t>(dc.Handle()));
}

void WindowRef::PaintMinimizedIcon(IconHandle icon)
{
    PaintDC dc(*this);
    EraseIconBackground(dc);
    const Rect client = ClientRect();
    const int32_t x = (client.Width() - GetSystemMetric(metric::CxIcon) + 1) / 2;
    const int32_t y = (client.Height() - GetSystemMetric(metric::CyIcon) + 1) / 2;
    dc.DrawIcon({x, y}, icon);
}

TimerId WindowRef::SetTimer(TimerId id, uint32_t elapse)
{
    return sys::StartTimer(handle_, id, elapse);
}

bool WindowRef::KillTimer(TimerId id)
{
    return sys::StopTimer(handle_, id);
}

IconHandle WindowRef::SetIcon(IconHandle icon, bool big)
{
    return reinterpret_cast<IconHandle>(Send(msg::SetIcon, big ? 1 : 0, reinterpret_cast<intptr_t>(icon)));
}

IconHandle WindowRef::Icon(bool big) const
{
    return reinterpret_cast<IconHandle>(Send(msg::GetIcon, big ? 1 : 0));
}

int WindowRef::ShowMessageBox(std::string_view text, std::string_view caption, uint32_t style) const
{
    return ui::ShowMessageBox(handle_, text, caption, style);
}

intptr_t WindowRef::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) const
{
    return sys::SendTo(handle_, message, wParam, lParam);
}

bool WindowRef::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) const
{
    return sys::PostTo(handle_, message, wParam, lParam);
}

int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, uint32_t style)
{
    return sys::ShowBox(owner, ToUtf16(text), ToUtf16(caption), style);
}

int ShowCursor(bool show)
{
    return sys::CursorShowCounter(show);
}

int GetSystemMetric(int index)
{
    return sys::SystemMetric(index);
}

} // namespace tap::ui
