#include "PanelSettings.h"

#include <cstdio>
#include <cstring>

#include <tap/common/RegistryValues.h>

#include "TapShared.h"

namespace panel {
namespace {

// The Parameters key of the driver, opened (never created); NULL when it cannot be opened.
HKEY OpenParameters(const TargetDriver &driver)
{
    HKEY key = NULL;
    return RegOpenKeyA(HKEY_LOCAL_MACHINE, driver.ParametersKey, &key) == ERROR_SUCCESS ? key : NULL;
}

} // namespace

PanelSettings::PanelSettings(const PanelLine &line)
    : CalibrateMargin(line.DefaultMargin), Driver(GetTargetDriver(line.Driver)), multiTouch_(line.MultiTouch)
{
}

void PanelSettings::Load()
{
    HKEY key = OpenParameters(Driver);
    if (!key) {
        return;
    }
    ReadDwordValue(key, TAP_VALUE_MOUSE_MODE_A, &MouseMode);
    ReadDwordValue(key, TAP_VALUE_INTER_ACT_TIME_A, &InterActTime);
    ReadDwordValue(key, TAP_VALUE_BEEP_MODE_A, &BeepMode);
    ReadDwordValue(key, TAP_VALUE_BEEP_FREQ_A, &BeepFreq);
    ReadDwordValue(key, TAP_VALUE_BEEP_TIME_A, &BeepTime);
    ReadDwordValue(key, TAP_VALUE_DBL_CLICK_REGION_A, &DblClickRegion);
    if (multiTouch_) {
        ReadDwordValue(key, TAP_VALUE_FIR_COLOR_A, &FirColor);
        ReadDwordValue(key, TAP_VALUE_SEC_COLOR_A, &SecColor);
    }
    ReadDwordValue(key, TAP_VALUE_CALIBRATE_MARGIN_A, &CalibrateMargin);
    if (!Driver.Usb) {
        // A USB driver's port and enable are its own; the serial driver's are the user's.
        ReadDwordValue(key, TAP_VALUE_ENABLE_A, &Enable);
        ReadDwordValue(key, TAP_VALUE_PORT_A, &Port);
        if (multiTouch_) {
            ReadDwordValue(key, TAP_VALUE_BAUD_RATE_A, &BaudRate);
        }
    }
    RegCloseKey(key);
}

void PanelSettings::Save()
{
    SaveParameters();
    SendPointerSettings();
    SaveDoubleClickSize();
}

void PanelSettings::SaveParameters() const
{
    HKEY key = OpenParameters(Driver);
    if (!key) {
        return;
    }
    WriteDwordValue(key, TAP_VALUE_MOUSE_MODE_A, MouseMode);
    WriteDwordValue(key, TAP_VALUE_INTER_ACT_TIME_A, InterActTime);
    WriteDwordValue(key, TAP_VALUE_BEEP_MODE_A, BeepMode);
    WriteDwordValue(key, TAP_VALUE_BEEP_FREQ_A, BeepFreq);
    WriteDwordValue(key, TAP_VALUE_BEEP_TIME_A, BeepTime);
    WriteDwordValue(key, TAP_VALUE_DBL_CLICK_REGION_A, DblClickRegion);
    WriteDwordValue(key, TAP_VALUE_PORT_A, Port);
    if (multiTouch_) {
        WriteDwordValue(key, TAP_VALUE_BAUD_RATE_A, BaudRate);
        WriteDwordValue(key, TAP_VALUE_FIR_COLOR_A, FirColor);
        WriteDwordValue(key, TAP_VALUE_SEC_COLOR_A, SecColor);
    }
    WriteDwordValue(key, TAP_VALUE_ENABLE_A, Enable);
    RegCloseKey(key);
}

void PanelSettings::SendPointerSettings()
{
    if (multiTouch_) {
        PolyPointerSettings record = {MouseMode, DblClickRegion, InterActTime, BeepMode, BeepFreq,
                                      BeepTime,  Port,           BaudRate,     Enable};
        Request(IOCTL_TOUCH_SET_SETTINGS, &record, sizeof record);
    } else {
        MonoPointerSettings record = {MouseMode, DblClickRegion, InterActTime, BeepMode,
                                      BeepFreq,  BeepTime,       Port,         Enable};
        Request(IOCTL_TOUCH_SET_SETTINGS, &record, sizeof record);
    }
}

void PanelSettings::SaveDoubleClickSize() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(DblClickRegion));
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Mouse", &key) != ERROR_SUCCESS) {
        return;
    }
    const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    RegSetValueExA(key, "DoubleClickHeight", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), size);
    RegSetValueExA(key, "DoubleClickWidth", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), size);
    RegCloseKey(key);
}

BOOL PanelSettings::Request(DWORD code, const void *input, DWORD inputSize)
{
    Device = CreateFileA(Driver.ControlDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         0, NULL);
    if (Device == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    DWORD returned = 0;
    BOOL sent = DeviceIoControl(Device, code, const_cast<void *>(input), inputSize, NULL, 0, &returned, NULL);
    CloseHandle(Device);
    Device = INVALID_HANDLE_VALUE;
    return sent;
}

void PanelSettings::WriteMargin(DWORD margin) const
{
    HKEY key = OpenParameters(Driver);
    if (!key) {
        return;
    }
    WriteDwordValue(key, TAP_VALUE_CALIBRATE_MARGIN_A, margin);
    RegCloseKey(key);
}

} // namespace panel
