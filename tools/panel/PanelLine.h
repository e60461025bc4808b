// What differs between the applet's builds: the line (single- or multi-touch) and the setting of
// its TargetDriver (USB or serial). One table, one entry per build, chosen by the compile
// definition PANEL_TARGET_DRIVER (a TargetDriverId of tools/common).
#pragma once

#include <windows.h>

#include <tap/common/TargetDriver.h>

#include "tap/ui/Types.h"

namespace panel {

struct PanelLine {
    TargetDriverId Driver;
    BOOL MultiTouch;               // BaudRate, FirColor, SecColor and the baud list exist
    tap::ui::ResourceId AppletIcon;      // the Control Panel's icon: 1007 / 1022
    tap::ui::ResourceId PageIcon;        // the large icon the Calibration page sets: 1017 / 1022
    tap::ui::ResourceId NameString;      // CPL_INQUIRE: 1 and 2 with USB, 4 and 5 with serial
    tap::ui::ResourceId InfoString;
    int PortButton;                // 1017 / 1026
    int MarginEdit;                // 1020 / 1023
    int MarginSpin;                // 1021 / 1022
    DWORD DelayStep;               // interactive delay per slider position: 80, 25 or 100
    DWORD DefaultMargin;           // 1 / 2
};

// The line of this build.
const PanelLine &ThisPanel();

} // namespace panel
