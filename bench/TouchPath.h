// One touch device's path from controller bytes to reports, beeps and frames, as the replay
// drives it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <machine/SerialLine.h>

#include "ReplayOptions.h"

namespace tapbench {

class TouchPath {
public:
    // Receives each printed line in the order the events happen.
    using LineSink = std::function<void(const std::string &)>;

    virtual ~TouchPath() = default;

    // True when the driver holds COM1 and reads the stream.
    virtual bool Reading() const = 0;
    // The line settings the driver gave COM1 when it opened it: what a real port must be set to.
    virtual tapmachine::LineFormat PortLine() const = 0;
    // Delivers one byte on COM1 and waits until the driver is idle: reports and beeps caused by
    // the byte have reached the sink, then, in data mode, the frames taken.
    virtual void FeedByte(uint8_t byte) = 0;
    // The closing lines: the raw sample and the right-click flag as the control codes read them.
    virtual void Finish() = 0;
};

} // namespace tapbench
