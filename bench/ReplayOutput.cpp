#include "ReplayOutput.h"

#include <cstdio>

namespace tapbench {

std::string FormatReport(uint16_t flags, uint16_t buttonFlags, int32_t lastX, int32_t lastY)
{
    char line[96];
    std::snprintf(line, sizeof line, "report flags=0x%04x buttons=0x%04x x=%d y=%d", flags, buttonFlags, lastX, lastY);
    return line;
}

std::string FormatBeep(uint32_t frequency, uint32_t duration)
{
    return "beep frequency=" + std::to_string(frequency) + " duration=" + std::to_string(duration);
}

std::string FormatFrame(const ContactFrame &frame)
{
    char line[160];
    std::snprintf(line, sizeof line, "frame count=%u c1=%u,%u,%d,%d c2=%u,%u,%d,%d", frame.ContactCount,
                  frame.Contact1State, frame.Contact1Id, frame.Contact1X, frame.Contact1Y, frame.Contact2State,
                  frame.Contact2Id, frame.Contact2X, frame.Contact2Y);
    return line;
}

std::string FormatRawSample(const RawSample &sample)
{
    return "raw x=" + std::to_string(sample.RawX) + " y=" + std::to_string(sample.RawY) +
           " z=" + std::to_string(sample.RawZ);
}

std::string FormatRightClick(uint32_t armed)
{
    return "right-click armed=" + std::to_string(armed);
}

} // namespace tapbench
