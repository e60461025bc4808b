// A mouse device extension of the single-touch driver with a recording mouse class service and a
// recording beep request, for driving the touch logic byte by byte.
#pragma once

#include "Monotap.h"

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

// One packet of the single-touch controller, with its check byte.
std::vector<UCHAR> SingleTouchPacket(UCHAR status, USHORT rawX, USHORT rawY, UCHAR rawZ = 0);

class TouchLogicHarness {
public:
    TouchLogicHarness();
    ~TouchLogicHarness();

    // Feeds bytes as the read completion does; returns how many packets completed.
    int Feed(const std::vector<UCHAR> &bytes);
    // Feeds one packet; true when it was decoded.
    bool Touch(USHORT rawX, USHORT rawY) { return Feed(SingleTouchPacket(0x81, rawX, rawY)) == 1; }
    bool Lift(USHORT rawX, USHORT rawY) { return Feed(SingleTouchPacket(0x84, rawX, rawY)) == 1; }

    void Calibrate(LONG xStart, LONG xEnd, LONG yStart, LONG yEnd, LONG orientation);

    // Reports delivered and beeps requested since the last call.
    std::vector<Report> TakeReports();
    int TakeBeeps();

    MOUSE_DEVICE_EXTENSION &Extension() { return *extension_; }

private:
    MOUSE_DEVICE_EXTENSION *extension_;
};
