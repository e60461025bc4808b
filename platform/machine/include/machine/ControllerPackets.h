// The packets the simulated touch controllers put on the serial line.
//
// Single-touch packet, 10 bytes:
//
//   byte  0     1     2       3    4    5    6    7    8     9
//        0x55  any  status  X lo X hi Y lo Y hi   Z   any  check
//
//   status 0x81 touching, 0x84 not touching; X and Y raw 16-bit little-endian; Z a third raw value.
//
// Multi-touch packet, 10 bytes with one contact or 15 bytes with two:
//
//   byte  0     1     2       3      4..5  6..7  8    | 9      (one contact)
//        0x55  any  status  count    X1    Y1   id1   | check
//                                                     | 9..10  11..12  13   14  (two contacts)
//                                                     |  X2     Y2    id2  check
//
//   status bits 0x01 touch down, 0x02 touching, 0x04 lift; count 1 or 2.
//
// Check byte of both: (0xAA + every byte before it) modulo 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tapmachine {

constexpr uint8_t kPacketHeader = 0x55;
constexpr size_t kSingleTouchPacketSize = 10;
constexpr size_t kMultiTouchPacketSizeOne = 10;
constexpr size_t kMultiTouchPacketSizeTwo = 15;

constexpr uint8_t kSingleTouchTouching = 0x81;
constexpr uint8_t kSingleTouchNotTouching = 0x84;

constexpr uint8_t kMultiTouchDown = 0x01;
constexpr uint8_t kMultiTouchTouching = 0x02;
constexpr uint8_t kMultiTouchLift = 0x04;

// (0xAA + sum of the bytes) modulo 256.
uint8_t PacketCheckByte(const uint8_t *bytes, size_t count);

struct SingleTouchPacket {
    uint8_t status = kSingleTouchTouching;
    uint16_t rawX = 0;
    uint16_t rawY = 0;
    uint8_t rawZ = 0;
    uint8_t byte1 = 0;  // not interpreted by the driver; counted in the check byte
    uint8_t byte8 = 0;
};

std::array<uint8_t, kSingleTouchPacketSize> EncodePacket(const SingleTouchPacket &packet);

struct RawContact {
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t id = 0;
};

struct MultiTouchPacket {
    uint8_t status = kMultiTouchTouching;
    uint8_t contactCount = 1;  // 1 or 2: how many of the contacts below are sent
    RawContact contacts[2];
    uint8_t byte1 = 0;
};

// Throws std::invalid_argument for a contact count other than 1 or 2.
std::vector<uint8_t> EncodePacket(const MultiTouchPacket &packet);

}  // namespace tapmachine
