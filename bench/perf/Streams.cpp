#include "Streams.h"

#include <machine/ControllerPackets.h>


namespace tapperf {
namespace {

// A small linear congruential generator: the same stream on every machine and library.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    uint32_t Below(uint32_t bound) { return Next() % bound; }

private:
    uint32_t state_;
};

void Append(std::vector<uint8_t> &stream, const uint8_t *bytes, size_t count)
{
    stream.insert(stream.end(), bytes, bytes + count);
}

// One packet of the line: status is the single-touch status byte (0x81 touching, 0x84 lift);
// the multi-touch packet gets the matching down, touching or lift status.
void AppendPacket(std::vector<uint8_t> &stream, Line line, uint8_t status, bool first, uint16_t x, uint16_t y)
{
    if (line == Line::SingleTouch) {
        tapmachine::SingleTouchPacket packet;
        packet.status = status;
        packet.rawX = x;
        packet.rawY = y;
        packet.rawZ = status == tapmachine::kSingleTouchTouching ? 32 : 0;
        auto bytes = tapmachine::EncodePacket(packet);
        Append(stream, bytes.data(), bytes.size());
        return;
    }
    tapmachine::MultiTouchPacket packet;
    packet.status = status == tapmachine::kSingleTouchNotTouching ? tapmachine::kMultiTouchLift
                    : first                                        ? tapmachine::kMultiTouchDown
                                                                   : tapmachine::kMultiTouchTouching;
    packet.contactCount = 1;
    packet.contacts[0] = {x, y, 0};
    auto bytes = tapmachine::EncodePacket(packet);
    Append(stream, bytes.data(), bytes.size());
}

void AppendTouch(std::vector<uint8_t> &stream, Line line, Random &random)
{
    uint16_t x = static_cast<uint16_t>(800 + random.Below(2400));
    uint16_t y = static_cast<uint16_t>(800 + random.Below(2400));
    static const unsigned kMoves[] = {0, 0, 3, 6};
    unsigned moves = kMoves[random.Below(4)];
    AppendPacket(stream, line, tapmachine::kSingleTouchTouching, true, x, y);
    for (unsigned i = 0; i < moves; ++i) {
        x = static_cast<uint16_t>(x + 17);
        y = static_cast<uint16_t>(y + 9);
        AppendPacket(stream, line, tapmachine::kSingleTouchTouching, false, x, y);
    }
    AppendPacket(stream, line, tapmachine::kSingleTouchNotTouching, false, x, y);
}

}  // namespace

std::vector<uint8_t> MakeStream(Line line, StreamKind kind, size_t bytes)
{
    std::vector<uint8_t> stream;
    stream.reserve(bytes + 32);
    Random random(1);
    switch (kind) {
    case StreamKind::Typical:
        while (stream.size() < bytes) {
            AppendTouch(stream, line, random);
        }
        break;
    case StreamKind::Noise:
        while (stream.size() < bytes) {
            stream.push_back(static_cast<uint8_t>(random.Next()));
        }
        break;
    case StreamKind::Resync:
        while (stream.size() < bytes) {
            AppendPacket(stream, line, tapmachine::kSingleTouchTouching, false, 2000, 1000);
            stream.back() = static_cast<uint8_t>(stream.back() + 1);  // the check byte is off by one
        }
        break;
    case StreamKind::MaxReports:
        AppendPacket(stream, line, tapmachine::kSingleTouchTouching, true, 2000, 1000);
        while (stream.size() < bytes) {
            AppendPacket(stream, line, tapmachine::kSingleTouchTouching, false, 2000, 1000);
        }
        break;
    }
    return stream;
}

const char *StreamName(StreamKind kind)
{
    switch (kind) {
    case StreamKind::Typical: return "typical";
    case StreamKind::Noise: return "noise";
    case StreamKind::Resync: return "resync";
    case StreamKind::MaxReports: return "max-reports";
    }
    return "?";
}

}  // namespace tapperf
