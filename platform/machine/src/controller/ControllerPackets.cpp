#include <machine/ControllerPackets.h>

#include <stdexcept>

namespace tapmachine {

namespace {

void PutLittleEndian16(uint8_t *at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

uint8_t PacketCheckByte(const uint8_t *bytes, size_t count)
{
    unsigned sum = 0xAA;
    for (size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<uint8_t>(sum & 0xFF);
}

std::array<uint8_t, kSingleTouchPacketSize> EncodePacket(const SingleTouchPacket &packet)
{
    std::array<uint8_t, kSingleTouchPacketSize> bytes{};
    bytes[0] = kPacketHeader;
    bytes[1] = packet.byte1;
    bytes[2] = packet.status;
    PutLittleEndian16(&bytes[3], packet.rawX);
    PutLittleEndian16(&bytes[5], packet.rawY);
    bytes[7] = packet.rawZ;
    bytes[8] = packet.byte8;
    bytes[9] = PacketCheckByte(bytes.data(), 9);
    return bytes;
}

std::vector<uint8_t> EncodePacket(const MultiTouchPacket &packet)
{
    if (packet.contactCount != 1 && packet.contactCount != 2) {
        throw std::invalid_argument("a multi-touch packet carries one or two contacts");
    }
    std::vector<uint8_t> bytes(packet.contactCount == 1 ? kMultiTouchPacketSizeOne
                                                        : kMultiTouchPacketSizeTwo);
    bytes[0] = kPacketHeader;
    bytes[1] = packet.byte1;
    bytes[2] = packet.status;
    bytes[3] = packet.contactCount;
    PutLittleEndian16(&bytes[4], packet.contacts[0].x);
    PutLittleEndian16(&bytes[6], packet.contacts[0].y);
    bytes[8] = packet.contacts[0].id;
    if (packet.contactCount == 2) {
        PutLittleEndian16(&bytes[9], packet.contacts[1].x);
        PutLittleEndian16(&bytes[11], packet.contacts[1].y);
        bytes[13] = packet.contacts[1].id;
    }
    bytes.back() = PacketCheckByte(bytes.data(), bytes.size() - 1);
    return bytes;
}

}  // namespace tapmachine
