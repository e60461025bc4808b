// The touch logic harness with the single-touch controller's packets.
#pragma once

#include "TouchLogicHarness.h"

// One packet of the single-touch controller, with its check byte.
inline std::vector<UCHAR> SingleTouchPacket(UCHAR status, USHORT rawX, USHORT rawY, UCHAR rawZ = 0)
{
    std::vector<UCHAR> packet = {0x55, 0x00, status, static_cast<UCHAR>(rawX & 0xFF), static_cast<UCHAR>(rawX >> 8),
                                 static_cast<UCHAR>(rawY & 0xFF), static_cast<UCHAR>(rawY >> 8), rawZ, 0x00};
    UCHAR check = 0xAA;
    for (UCHAR byte : packet) {
        check = static_cast<UCHAR>(check + byte);
    }
    packet.push_back(check);
    return packet;
}

class MonoHarness : public TouchLogicHarness {
public:
    // Feeds one touching or not-touching packet; true when it was decoded.
    bool Touch(USHORT rawX, USHORT rawY) { return Feed(SingleTouchPacket(0x81, rawX, rawY)) == 1; }
    bool Lift(USHORT rawX, USHORT rawY) { return Feed(SingleTouchPacket(0x84, rawX, rawY)) == 1; }
};
