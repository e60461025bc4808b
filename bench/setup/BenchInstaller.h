// The bench's way to install a product line's driver: the installer's own operations,
// run as MonoSetup runs them with a COM port chosen whose test passed, from the installation
// media at D:\, then Finish. Kept apart from the bench's other files because it is written
// against <windows.h> and <setupapi.h>, which cannot share a translation unit with the kernel's
// headers.
#pragma once

#include <cstdint>

namespace tapbench {

// Returns the first system error code of the installation's steps, 0 when all succeeded.
uint32_t InstallSerialLine(bool multiTouch, unsigned port);

// The line's USB driver installed as the installer installs it with "USB Controller" chosen: the
// INF into the store and its files, the installer's defaults, newdev.dll's update of the plugged-in
// device, then Finish. The device must be plugged in.
uint32_t InstallUsbLine(bool multiTouch);

} // namespace tapbench
