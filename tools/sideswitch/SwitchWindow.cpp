#include "SwitchWindow.h"

#include <windows.h>

#include <tap/common/ControlDevice.h>

#include "TapShared.h"
#include "resource.h"

namespace sideswitch {
namespace {

using namespace tap::ui;

// The control device, opened at window initialisation and never closed: the system releases it
// when the program ends.
HANDLE g_device = INVALID_HANDLE_VALUE;

constexpr TimerId kRepaintTimer = 1;
constexpr uint32_t kRepaintPeriodMs = 500;
constexpr uint32_t kRedrawAtOnce = redraw::Invalidate | redraw::Erase | redraw::UpdateNow;

// The driver's one-shot right-click flag; 0 also when the query fails.
uint32_t QueryRightClickArmed()
{
    ULONG armed = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(g_device, IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, &armed, sizeof armed, &returned, NULL)) {
        armed = 0;
    }
    return armed;
}

void ArmRightClick()
{
    DWORD returned = 0;
    DeviceIoControl(g_device, IOCTL_TOUCH_SET_RIGHT_CLICK, NULL, 0, NULL, 0, &returned, NULL);
}

} // namespace

SwitchWindow::SwitchWindow()
    : Dialog(IDD_SIDESWITCH), icon_(Application::Current()->LoadIconResource(IDI_SIDESWITCH))
{
}

bool SwitchWindow::OnInitDialog()
{
    Dialog::OnInitDialog();

    // Outer size = the client size measured now; 1 pixel from the right edge of the screen and 50
    // pixels above its bottom, which leaves room for a taskbar.
    const Rect screen = WindowRef::DesktopWindow().ClientRect();
    const Rect client = ClientRect();
    SetPosition(ZOrder::Topmost, screen.right - client.right + client.left - 1,
                screen.bottom - (client.bottom - client.top) - 50, client.right - client.left,
                client.bottom - client.top, position::ShowWindow);

    SetIcon(icon_, true);
    SetIcon(icon_, false);

    rightMode_ = 0;
    timer_ = SetTimer(kRepaintTimer, kRepaintPeriodMs);

    // A driver that cannot be opened is not reported: the window works without it.
    ControlDevice device;
    device.Open(GetTargetDriver(SIDESWITCH_TARGET_DRIVER), FILE_SHARE_READ, 0);
    g_device = device.Release();
    return true;
}

void SwitchWindow::OnPaint()
{
    if (IsMinimized()) {
        PaintMinimizedIcon(icon_);
        return;
    }
    Dialog::OnPaint();
    PaintButtons();
}

void SwitchWindow::PaintButtons()
{
    ClientDC dc(*this);
    Brush blue(Rgb(0, 0, 255));
    const Rect client = ClientRect();
    const int32_t half = client.right / 2;
    const int32_t third = client.bottom / 3;

    // The picture follows the driver: whoever armed or used the flag, the paint shows it.
    if (g_device != INVALID_HANDLE_VALUE) {
        rightMode_ = QueryRightClickArmed();
    }

    const Rect left{client.left, client.top, half, third};
    const Rect right{half, client.top, client.right, third};
    GdiObjectHandle previous;
    if (rightMode_ == 0) {
        previous = dc.Select(blue);
        dc.Rectangle(left);
        dc.Select(previous);
        dc.Rectangle(right);
    } else {
        dc.Rectangle(left);
        previous = dc.Select(blue);
        dc.Rectangle(right);
        dc.Select(previous);
    }
}

IconHandle SwitchWindow::OnQueryDragIcon()
{
    return icon_;
}

void SwitchWindow::OnLButtonUp(uint32_t keys, Point client)
{
    rightMode_ = rightMode_ == 0 ? 1 : 0;
    Dialog::OnLButtonUp(keys, client);
    if (rightMode_ == 1 && g_device != INVALID_HANDLE_VALUE) {
        ArmRightClick();
    }
    // The repaint reads the driver's flag again. Without a driver it shows the new mode: the
    // picture follows every click at once rather than at the next timer tick.
    RepaintNow();
}

void SwitchWindow::OnTimer(TimerId id)
{
    // While the right button shows, watch for the driver using up its one-shot flag.
    if (rightMode_) {
        RepaintNow();
    }
    Dialog::OnTimer(id);
}

void SwitchWindow::OnClose()
{
    if (timer_) {
        KillTimer(timer_);
        timer_ = 0;
    }
    Dialog::OnClose();
}

void SwitchWindow::RepaintNow()
{
    RedrawWindow(kRedrawAtOnce);
}

} // namespace sideswitch
