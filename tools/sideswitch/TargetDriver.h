// The driver SideSwitch talks to, fixed when the program is built: SIDESWITCH_TARGET_DRIVER 0
// selects the serial single-touch driver, any other value the USB single-touch driver.
#pragma once

#ifndef SIDESWITCH_TARGET_DRIVER
#define SIDESWITCH_TARGET_DRIVER 0
#endif

namespace sideswitch {

constexpr const char* kControlDevicePath =
    SIDESWITCH_TARGET_DRIVER == 0 ? "\\\\.\\MonotapSymLnk1" : "\\\\.\\MonousbSymLnk1";

} // namespace sideswitch
