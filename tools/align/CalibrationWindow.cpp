#include "CalibrationWindow.h"

#include <windows.h>

#include <tap/common/ControlDevice.h>
#include <tap/common/RegistryValues.h>

#include "Calibration.h"
#include "TapShared.h"
#include "resource.h"

namespace align {
namespace {

using namespace tap::ui;

constexpr uint32_t kRedrawAtOnce = redraw::Invalidate | redraw::Erase | redraw::UpdateNow;
constexpr Color kBackground = Rgb(0, 255, 255);
constexpr const char *kCaption = "Plenvix";
constexpr const char *kSaveQuestion = "Save the calibration data?";
// Without the driver no sample was read, so there is nothing worth storing.
constexpr const char *kNoDriver = "The touch screen driver cannot be reached. No calibration data was saved.";

// The program's state, one instance for its life.
HANDLE g_device = INVALID_HANDLE_VALUE;
DWORD g_margin = kInitialMargin;
LONG g_radius = 0;
LONG g_width = 0;
LONG g_height = 0;
float g_widthF = 0.0f;
float g_heightF = 0.0f;
TargetRect g_targets[kTargetCount][kSizeCount];
int g_currentTarget = 0;
bool g_resultShown = false;
RawSample g_samples[kTargetCount];
CalibrationData g_record;

void ReadMargin()
{
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, Driver().ParametersKey, &key) != ERROR_SUCCESS) {
        return;
    }
    ReadDwordValue(key, TAP_VALUE_CALIBRATE_MARGIN_A, &g_margin);
    RegCloseKey(key);
}

void OpenDevice()
{
    ControlDevice device;
    if (!device.Open(Driver(), FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL)) {
        GetLastError();  // fetched and dropped: the screen works without the driver
    }
    g_device = device.Release();
}

void ReadSample(int target)
{
    if (g_device == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD returned = 0;
    DeviceIoControl(g_device, IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &g_samples[target], sizeof(RawSample), &returned,
                    NULL);
}

void ComputeAndSend()
{
    g_record = ComputeCalibration(g_samples, g_margin, g_widthF, g_heightF, Line());
    if (g_device == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD returned = 0;
    DeviceIoControl(g_device, IOCTL_TOUCH_SET_CALIBRATION, &g_record, sizeof(g_record), NULL, 0, &returned, NULL);
}

// The record as last computed, as the driver loads it at start; nothing when the key cannot be
// opened.
void StoreRecord()
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Driver().ParametersKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, TAP_VALUE_CALIBRATION_A, 0, REG_BINARY, reinterpret_cast<const BYTE *>(&g_record),
                   sizeof(g_record));
    RegCloseKey(key);
}

Rect ToRect(const TargetRect &r)
{
    return Rect{r.left, r.top, r.right, r.bottom};
}

} // namespace

CalibrationWindow::CalibrationWindow()
    : Dialog(IDD_CALIBRATION), icon_(Application::Current()->LoadIconResource(IDI_ALIGN))
{
}

bool CalibrationWindow::OnInitDialog()
{
    // The whole primary screen: the root window's rectangle, at the top of the Z order.
    const Rect screen = WindowRef::DesktopWindow().WindowRect();
    SetPosition(ZOrder::Top, screen.left, screen.top, screen.Width(), screen.Height(), position::ShowWindow);

    const Rect client = ClientRect();
    g_width = client.right - client.left;
    g_height = client.bottom - client.top;
    g_widthF = static_cast<float>(g_width);
    g_heightF = static_cast<float>(g_height);

    ReadMargin();
    const TargetLayout layout = LayoutFor(g_margin, g_width);
    g_margin = layout.margin;
    g_radius = layout.radius;
    for (int target = 0; target < kTargetCount; ++target) {
        TargetRects(TargetCentre(target, g_margin, g_width, g_height), g_radius, g_targets[target]);
    }

    const bool result = Dialog::OnInitDialog();
    SetIcon(icon_, true);
    SetIcon(icon_, false);

    ShowCursor(false);
    g_currentTarget = 0;
    g_resultShown = false;
    OpenDevice();
    return result;
}

void CalibrationWindow::OnPaint()
{
    if (IsMinimized()) {
        PaintMinimizedIcon(icon_);
        return;
    }
    Dialog::OnPaint();
    if (!g_resultShown) {
        PaintTarget();
    }
}

void CalibrationWindow::PaintTarget()
{
    ClientDC dc(*this);
    const Rect client = ClientRect();
    dc.FillSolidRect(Rect{0, 0, client.Width(), client.Height()}, kBackground);
    dc.Select(GetStockObjectHandle(StockObject::HollowBrush));

    const TargetRect *rects = g_targets[g_currentTarget];
    for (int size = 0; size < kSizeCount; ++size) {
        dc.Ellipse(ToRect(rects[size]));
    }
    // The cross, each arm reaching 3r from the centre.
    const TargetRect &unit = rects[kSizeR];
    const LONG cx = unit.left + (unit.right - unit.left) / 2;
    const LONG cy = unit.top + (unit.bottom - unit.top) / 2;
    dc.MoveTo({unit.left - 2 * g_radius, cy});
    dc.LineTo({unit.right + 2 * g_radius, cy});
    dc.MoveTo({cx, unit.top - 2 * g_radius});
    dc.LineTo({cx, unit.bottom + 2 * g_radius});
}

void CalibrationWindow::OnLButtonUp(uint32_t keys, Point client)
{
    // Where the release happened does not matter: it is the touch of the target shown.
    Dialog::OnLButtonUp(keys, client);
    ReadSample(g_currentTarget);
    if (g_currentTarget == kTargetCount - 1 && FinishPass()) {
        return;
    }
    g_currentTarget = (g_currentTarget + 1) % kTargetCount;
    RepaintNow();
}

bool CalibrationWindow::FinishPass()
{
    g_resultShown = true;
    RepaintNow();
    ComputeAndSend();
    {
        ClientDC dc(*this);
        const Rect client = ClientRect();
        dc.FillSolidRect(Rect{0, 0, client.Width(), client.Height()}, kBackground);
    }
    ShowCursor(true);
    if (g_device == INVALID_HANDLE_VALUE) {
        ShowMessageBox(kNoDriver, kCaption, box::Ok);
        EndDialog(answer::Cancel);
        return true;
    }
    if (ShowMessageBox(kSaveQuestion, kCaption, box::YesNo) == answer::Yes) {
        StoreRecord();
        EndDialog(answer::Ok);
        return true;
    }
    // No: the record stays in force in the driver; start again from the first target.
    g_resultShown = false;
    ShowCursor(false);
    return false;
}

IconHandle CalibrationWindow::OnQueryDragIcon()
{
    return icon_;
}

void CalibrationWindow::OnDestroy()
{
    Dialog::OnDestroy();
    ShowCursor(true);
}

void CalibrationWindow::RepaintNow()
{
    RedrawWindow(kRedrawAtOnce);
}

} // namespace align
