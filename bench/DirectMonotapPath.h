// The single-touch driver's touch logic driven directly, byte by byte: the decoder and the
// pointer engine of the driver, with the mouse class service and the beep thread played by the
// bench.
#pragma once

#include <memory>

#include "TouchPath.h"

namespace tapbench {

std::unique_ptr<TouchPath> MakeDirectMonotapPath(const ReplayOptions &options, TouchPath::LineSink sink);

} // namespace tapbench
