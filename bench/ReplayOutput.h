// The lines `tapbench replay` prints, one per event. Scenarios and tests compare these texts, so
// their format is fixed.
#pragma once

#include <cstdint>
#include <string>

#include <ntdef.h>

#include "TapShared.h"

namespace tapbench {

// "report flags=0x0001 buttons=0x0001 x=32767 y=6553"
std::string FormatReport(uint16_t flags, uint16_t buttonFlags, int32_t lastX, int32_t lastY);
// "beep frequency=1000 duration=100"
std::string FormatBeep(uint32_t frequency, uint32_t duration);
// "frame count=2 c1=2,0,512,384 c2=1,1,100,200" (both slots, always)
std::string FormatFrame(const ContactFrame &frame);
// "raw x=4660 y=1656 z=32"
std::string FormatRawSample(const RawSample &sample);
// "right-click armed=0"
std::string FormatRightClick(uint32_t armed);

} // namespace tapbench
