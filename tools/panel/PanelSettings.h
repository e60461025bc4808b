// PanelSettings: the applet's one copy of the driver's settings, loaded from the driver's
// Parameters key when the Control Panel initialises the applet and written back (registry, the
// running driver, the user's double-click area) when it lets the applet go.
#pragma once

#include <windows.h>

#include <tap/common/TargetDriver.h>

#include "PanelLine.h"

namespace panel {

struct PanelSettings {
    explicit PanelSettings(const PanelLine &line);

    // The leading fields are the PointerSettings record, in its order (BaudRate only in the
    // multi-touch line).
    DWORD MouseMode = 3;
    DWORD DblClickRegion = 25;
    DWORD InterActTime = 1;
    DWORD BeepMode = 0;
    DWORD BeepFreq = 0;
    DWORD BeepTime = 0;
    DWORD Port = 0;
    DWORD BaudRate = 9600;
    DWORD Enable = 1;
    DWORD CalibrateMargin;
    DWORD FirColor = 3;
    DWORD SecColor = 3;
    const TargetDriver &Driver;
    HANDLE Device = INVALID_HANDLE_VALUE;   // open only for the length of one request

    // CPL_INIT: the values the Parameters key holds replace the defaults; a missing value, or a
    // missing key, leaves its default.
    void Load();
    // CPL_EXIT: the Parameters values, IOCTL_TOUCH_SET_SETTINGS, the double-click size; each step
    // runs even when an earlier one failed.
    void Save();

    // One request to the control device: opened, sent, closed. FALSE when the device cannot be
    // opened (nothing is sent) or the request fails.
    BOOL Request(DWORD code, const void *input, DWORD inputSize);
    // CalibrateMargin written at once (the Calibration page); a key that cannot be opened skips it.
    void WriteMargin(DWORD margin) const;

private:
    BOOL multiTouch_;
    void SaveParameters() const;
    void SendPointerSettings();
    void SaveDoubleClickSize() const;
};

} // namespace panel
