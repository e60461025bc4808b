// One touch device on a simulated PC: the real driver module loaded by the PnP manager for a
// root-enumerated node, the mouse class above it, the beep driver, and COM1 carrying the stream.
#pragma once

#include <memory>

#include "TouchPath.h"

namespace tapbench {

std::unique_ptr<TouchPath> MakeMachineTouchPath(const ReplayOptions &options, TouchPath::LineSink sink);

} // namespace tapbench
