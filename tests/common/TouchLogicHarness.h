// A mouse device extension of one driver line with a recording mouse class service and a
// recording beep request, for driving the line's touch logic byte by byte. Compiled into each
// line's tests with that line's include path.
#pragma once

#include "TapDriver.h"

#include <tapkernel/Kernel.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <vector>

struct Report {
    USHORT flags;
    USHORT buttons;
    LONG x;
    LONG y;
    bool operator==(const Report &other) const
    {
        return flags == other.flags && buttons == other.buttons && x == other.x && y == other.y;
    }
};

std::ostream &operator<<(std::ostream &out, const Report &report);

class TouchLogicHarness {
public:
    TouchLogicHarness();
    ~TouchLogicHarness();

    // Feeds bytes as the read completion does; returns how many packets reached the report step.
    int Feed(const std::vector<UCHAR> &bytes);

    void Calibrate(LONG xStart, LONG xEnd, LONG yStart, LONG yEnd, LONG orientation);

    // Reports delivered and beeps requested since the last call.
    std::vector<Report> TakeReports();
    int TakeBeeps();

    MouseDeviceExtension &Extension() { return *extension_; }

private:
    tapkernel::Kernel kernel_; // events and IRQL of the kernel stand-in
    MouseDeviceExtension *extension_;
};
