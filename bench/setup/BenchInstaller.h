// The bench's way to install a product line's serial driver: the installer's own operations,
// run as MonoSetup runs them with a COM port chosen whose test passed, from the installation
// media at D:\, then Finish. Kept apart from the bench's other files because it is written
// against <windows.h> and <setupapi.h>, which cannot share a translation unit with the kernel's
// headers.
#pragma once

#include <cstdint>

namespace tapbench {

// Returns the first system error code of the installation's steps, 0 when all succeeded.
uint32_t InstallSerialLine(bool multiTouch, unsigned port);

} // namespace tapbench
