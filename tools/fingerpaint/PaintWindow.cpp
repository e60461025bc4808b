#include "PaintWindow.h"

#include <tap/common/ControlDevice.h>

#include "AboutBox.h"
#include "PaintRules.h"
#include "TapShared.h"
#include "resource.h"

namespace fingerpaint {
namespace {

using namespace tap::ui;

// The system command of the About item; compared after masking the low four bits.
constexpr uint32_t kAboutCommand = 0x0010;
constexpr int32_t kPenWidth = 6;
constexpr Color kPenColor = Rgb(255, 0, 0);
constexpr uint32_t kWipe = redraw::Invalidate | redraw::Erase | redraw::UpdateNow;

const char kOpenFailed[] = "Open Touch Screen Driver Fail!";
const char kDataModeOff[] = "Warning: please enter get data mode first!";

const TargetDriver &Driver()
{
    return GetTargetDriver(FINGERPAINT_TARGET_DRIVER);
}

// What the driver's no-port answer means for the driver this program serves.
const char *NoPortMessage()
{
    return Driver().Usb ? "Warning: Device has been removed!"
                        : "Warning: COM port has been disabled or occupied by other device!";
}

// The control device: opened at initialisation, closed after the window has closed.
ControlDevice g_device;

// The frame just taken and the one before, used by PaintThread only.
ContactFrame g_currentFrame;
ContactFrame g_previousFrame;

void StartDataMode()
{
    g_device.Request(IOCTL_TOUCH_START_DATA_MODE, NULL, 0, NULL, 0);
}

bool TakeContactFrame()
{
    return g_device.Request(IOCTL_TOUCH_GET_CONTACT_FRAME, NULL, 0, &g_currentFrame, sizeof g_currentFrame) != FALSE;
}

} // namespace

PaintWindow::PaintWindow()
    : Dialog(IDD_FINGERPAINT), icon_(Application::Current()->LoadIconResource(IDI_FINGERPAINT)),
      programName_(Application::Current()->Name())
{
}

bool PaintWindow::OnInitDialog()
{
    Dialog::OnInitDialog();
    AppendAboutItem();
    SetIcon(icon_, true);
    SetIcon(icon_, false);

    const Rect screen = WindowRef::DesktopWindow().WindowRect();
    SetPosition(ZOrder::Top, screen.left, screen.top, screen.Width(), screen.Height(),
                position::NoZOrder | position::ShowWindow);

    if (!g_device.Open(Driver(), FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL)) {
        Application::Current()->ShowMessageBox(kOpenFailed);
        EndDialog(answer::Ok);
        return true;
    }
    g_currentFrame = ContactFrame{};
    g_previousFrame = ContactFrame{};
    stop_ = false;
    start_ = true;
    return true;
}

void PaintWindow::AppendAboutItem()
{
    const std::string about = Application::Current()->LoadStringResource(IDS_ABOUTBOX);
    if (!about.empty()) {
        AppendSystemMenuSeparator();
        AppendSystemMenuItem(kAboutCommand, about);
    }
}

void PaintWindow::OnPaint()
{
    if (IsMinimized()) {
        PaintMinimizedIcon(icon_);
        return;
    }
    // The dialog background covers whatever was drawn before.
    Dialog::OnPaint();
    if (g_device.IsOpen() && start_) {
        start_ = false;
        StartPaintThread();
    }
}

void PaintWindow::StartPaintThread()
{
    thread_ = CreateThread(NULL, 0, &PaintWindow::PaintThread, this, 0, NULL);
}

DWORD WINAPI PaintWindow::PaintThread(LPVOID window)
{
    static_cast<PaintWindow *>(window)->DrawContacts();
    // The thread's own exit code, as it reads while the thread runs.
    DWORD exitCode = 0;
    GetExitCodeThread(GetCurrentThread(), &exitCode);
    ExitThread(exitCode);
}

void PaintWindow::DrawContacts()
{
    {
        ClientDC dc(*this);
        Pen pen(kPenWidth, kPenColor);
        const GdiObjectHandle previousPen = dc.Select(pen);
        StartDataMode();
        // No pause between passes: each frame is asked for as soon as the last one has come.
        while (!stop_) {
            if (!TakeContactFrame()) {
                continue;
            }
            const Reply reply = ReplyOf(g_currentFrame);
            if (reply == Reply::NothingQueued) {
                continue;
            }
            if (reply == Reply::NoPort) {
                stop_ = true;
                break;
            }
            if (reply == Reply::DataModeOff) {
                ShowPaintMessage(kDataModeOff);
                StartDataMode();
                continue;
            }
            for (const Stroke &stroke : TakeFrame(g_currentFrame, g_previousFrame)) {
                dc.MoveTo(stroke.from);
                dc.LineTo(stroke.to);
            }
        }
        // The pen is deselected before it goes, and the device context is released.
        dc.Select(previousPen);
    }
    if (ReplyOf(g_currentFrame) == Reply::NoPort) {
        ShowPaintMessage(NoPortMessage());
    }
}

// A message box of PaintThread: owned by the window, it blocks only PaintThread.
int PaintWindow::ShowPaintMessage(const char *text) const
{
    return ShowMessageBox(text, programName_, box::Ok);
}

void PaintWindow::OnSysCommand(uint32_t command, intptr_t lParam)
{
    if ((command & syscommand::Mask) == kAboutCommand) {
        AboutBox about(Handle());
        about.RunModal();
        return;
    }
    Dialog::OnSysCommand(command, lParam);
}

IconHandle PaintWindow::OnQueryDragIcon()
{
    return icon_;
}

void PaintWindow::OnRButtonUp(uint32_t keys, Point client)
{
    stop_ = true;
    EndDialog(answer::Ok);
    Dialog::OnRButtonUp(keys, client);
}

void PaintWindow::OnMButtonUp(uint32_t keys, Point client)
{
    RedrawWindow(kWipe);
    Dialog::OnMButtonUp(keys, client);
}

void PaintWindow::OnCancel()
{
    ShowCursor(true);
    stop_ = true;
    EndDialog(answer::Cancel);
}

void PaintWindow::FinishDrawing()
{
    // However the window closed, drawing stops; the stop request goes only once PaintThread can
    // no longer be inside a request on the handle.
    stop_ = true;
    if (thread_ != NULL) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = NULL;
    }
    if (g_device.IsOpen()) {
        g_device.Request(IOCTL_TOUCH_STOP_DATA_MODE, NULL, 0, NULL, 0);
    }
    g_device.Close();
}

} // namespace fingerpaint
