// libFuzzer target: the single-touch decoder and pointer engine fed arbitrary bytes under the
// settings and calibration the input's header chooses (DecoderRig.h), with the decoder's
// invariants checked after every byte:
//   - the packet buffer holds exactly the last ByteCount bytes of the stream, ByteCount < 10;
//   - a byte completes a packet exactly when it fills the buffer and the check byte is right;
//   - the raw sample is that packet's fields, and changes on no other byte;
//   - records reach the class service only for a completed packet, at most three of them, each an
//     absolute position in 0..65535 with at most one button transition;
//   - the clamped raw position lies between the calibration's bounds.
#include "DecoderRig.h"

#include <deque>

namespace {

fuzzrig::Rig *rig = nullptr;

void CheckBufferIsStreamTail(const SINGLE_TOUCH_DECODER &decoder, const std::deque<uint8_t> &tail, size_t index)
{
    if (decoder.ByteCount >= SINGLE_TOUCH_PACKET_LENGTH) {
        fuzzrig::Broken(index, "ByteCount left at 10 or more");
    }
    if (decoder.ByteCount > tail.size()) {
        fuzzrig::Broken(index, "the packet buffer holds more bytes than have arrived");
    }
    for (ULONG i = 0; i < decoder.ByteCount; ++i) {
        if (decoder.PacketBuffer[i] != tail[tail.size() - decoder.ByteCount + i]) {
            fuzzrig::Broken(index, "the packet buffer is not the stream's last bytes");
        }
    }
}

void CheckPacket(const SINGLE_TOUCH_DECODER &decoder, const uint8_t *packet, const CalibrationData &calibration,
                 size_t index)
{
    ULONG rawX = packet[4] * 256u + packet[3];
    ULONG rawY = packet[6] * 256u + packet[5];
    if (Globals.LastRawSample.RawX != rawX || Globals.LastRawSample.RawY != rawY ||
        Globals.LastRawSample.RawZ != packet[7]) {
        fuzzrig::Broken(index, "the raw sample is not the packet's fields");
    }
    if (decoder.Status != packet[2] || decoder.RawZ != packet[7]) {
        fuzzrig::Broken(index, "the decoder's status or third value is not the packet's");
    }
    auto within = [](LONG start, LONG end, ULONG raw) {
        LONG low = start / 100 < end / 100 ? start / 100 : end / 100;
        LONG high = start / 100 < end / 100 ? end / 100 : start / 100;
        LONG value = static_cast<LONG>(raw);
        return value >= low && value <= high;
    };
    if (!within(calibration.RawXStart, calibration.RawXEnd, decoder.RawX) ||
        !within(calibration.RawYStart, calibration.RawYEnd, decoder.RawY)) {
        fuzzrig::Broken(index, "the clamped raw position lies outside the calibrated range");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rig = new fuzzrig::Rig();
    // The kernel stand-in goes before the process's exit takes its threads away.
    std::atexit([] {
        delete rig;
        rig = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzrig::Header header(data, size);
    rig->Reset(header);
    CalibrationData calibration = header.Calibration();
    const SINGLE_TOUCH_DECODER &decoder = rig->Extension().Touch.Decoder;
    std::deque<uint8_t> tail; // the stream's last ten bytes

    for (size_t i = fuzzrig::kHeaderSize; i < size; ++i) {
        ULONG countBefore = decoder.ByteCount;
        RawSample sampleBefore = Globals.LastRawSample;
        tail.push_back(data[i]);
        if (tail.size() > SINGLE_TOUCH_PACKET_LENGTH) {
            tail.pop_front();
        }

        bool packet = rig->Feed(data[i]);

        bool full = countBefore + 1 == SINGLE_TOUCH_PACKET_LENGTH;
        uint8_t last[SINGLE_TOUCH_PACKET_LENGTH];
        std::copy(tail.begin(), tail.end(), last);
        bool expected = full && fuzzrig::CheckByteRight(last, SINGLE_TOUCH_PACKET_LENGTH);
        if (packet != expected) {
            fuzzrig::Broken(i, packet ? "a packet without a right check byte was decoded"
                                      : "a full packet with a right check byte was not decoded");
        }
        if (packet) {
            CheckPacket(decoder, last, calibration, i);
        } else if (std::memcmp(&sampleBefore, &Globals.LastRawSample, sizeof(RawSample)) != 0) {
            fuzzrig::Broken(i, "the raw sample changed without a packet");
        }
        CheckBufferIsStreamTail(decoder, tail, i);
        size_t records = fuzzrig::CheckDelivered(i);
        if ((!packet && records != 0) || records > 3) {
            fuzzrig::Broken(i, "records delivered without a packet, or more than three for one");
        }
    }
    return 0;
}
