// libFuzzer target: the multi-touch decoder, pointer engine and data mode fed arbitrary bytes under
// the settings and calibration the input's header chooses (DecoderRig.h), with a tool taking
// contact frames between bytes, and the invariants checked after every byte:
//   - PacketLength is 10 or 15, ByteCount below it, and the packet buffer holds exactly the last
//     ByteCount bytes of the stream;
//   - a byte completes a packet exactly when it fills the buffer and the check byte is right;
//   - the raw sample is contact 1 of that packet (RawZ 0), and changes on no other byte;
//   - records reach the class service only for a completed packet, each an absolute position in
//     0..65535 with at most one button transition;
//   - frames are queued only for a completed packet in data mode; the queue never holds more than
//     ten, head and tail stay in the ring and agree with the count;
//   - every frame has defined contact states, zero reserved bytes, and pixel positions within
//     0..ScreenWidth and 0..ScreenHeight.
#include "DecoderRig.h"
#include "Polytap.h"

#include <deque>

namespace {

fuzzrig::Rig *rig = nullptr;

bool KnownState(UCHAR state)
{
    return state == ContactNone || state == ContactDown || state == ContactMoved || state == ContactLifted;
}

void CheckFrame(const ContactFrame &frame, const CalibrationData &calibration, size_t index)
{
    if (!KnownState(frame.Contact1State) || !KnownState(frame.Contact2State)) {
        fuzzrig::Broken(index, "a contact frame carries an undefined contact state");
    }
    if (frame.Reserved1[0] || frame.Reserved1[1] || frame.Reserved2[0] || frame.Reserved2[1] ||
        frame.Reserved3[0] || frame.Reserved3[1] || frame.Reserved3[2]) {
        fuzzrig::Broken(index, "a contact frame's reserved bytes are not zero");
    }
    LONG width = calibration.ScreenWidth;
    LONG height = calibration.ScreenHeight;
    for (LONG x : {frame.Contact1X, frame.Contact2X}) {
        if (x < 0 || x > width) {
            std::fprintf(stderr, "fuzz: pixel x %d, screen width %d\n", static_cast<int>(x), static_cast<int>(width));
            fuzzrig::Broken(index, "a contact frame's x lies outside 0..ScreenWidth");
        }
    }
    for (LONG y : {frame.Contact1Y, frame.Contact2Y}) {
        if (y < 0 || y > height) {
            std::fprintf(stderr, "fuzz: pixel y %d, screen height %d\n", static_cast<int>(y), static_cast<int>(height));
            fuzzrig::Broken(index, "a contact frame's y lies outside 0..ScreenHeight");
        }
    }
}

void CheckQueue(const CONTACT_FRAME_QUEUE &queue, const CalibrationData &calibration, size_t index)
{
    if (queue.Count > CONTACT_FRAME_QUEUE_SLOTS || queue.Head >= CONTACT_FRAME_QUEUE_SLOTS ||
        queue.Tail >= CONTACT_FRAME_QUEUE_SLOTS) {
        fuzzrig::Broken(index, "the frame queue's count, head or tail left the ring");
    }
    if (queue.Count <= 1 ? queue.Head != queue.Tail
                         : (queue.Tail + CONTACT_FRAME_QUEUE_SLOTS - queue.Head) % CONTACT_FRAME_QUEUE_SLOTS !=
                               queue.Count - 1) {
        fuzzrig::Broken(index, "the frame queue's head and tail disagree with its count");
    }
    for (ULONG i = 0; i < queue.Count; ++i) {
        CheckFrame(queue.Slots[(queue.Head + i) % CONTACT_FRAME_QUEUE_SLOTS], calibration, index);
    }
}

void CheckBufferIsStreamTail(const TAP_TOUCH_STATE &touch, const std::deque<uint8_t> &tail, size_t index)
{
    if (touch.PacketLength != MULTI_TOUCH_SHORT_PACKET && touch.PacketLength != MULTI_TOUCH_LONG_PACKET) {
        fuzzrig::Broken(index, "PacketLength is neither 10 nor 15");
    }
    if (touch.ByteCount >= touch.PacketLength || touch.ByteCount > tail.size()) {
        fuzzrig::Broken(index, "ByteCount left at the packet length or beyond what has arrived");
    }
    for (ULONG i = 0; i < touch.ByteCount; ++i) {
        if (touch.PacketBuffer[i] != tail[tail.size() - touch.ByteCount + i]) {
            fuzzrig::Broken(index, "the packet buffer is not the stream's last bytes");
        }
    }
}

// What a tool's IOCTL_TOUCH_GET_CONTACT_FRAME does to the queue.
void TakeFrame(MouseDeviceExtension &extension, const CalibrationData &calibration, size_t index)
{
    KIRQL oldIrql;
    ContactFrame frame;
    KeAcquireSpinLock(&FrameLock, &oldIrql);
    ULONG before = extension.Touch.FrameQueue.Count;
    BOOLEAN taken = TakeContactFrame(&extension.Touch.FrameQueue, &frame);
    KeReleaseSpinLock(&FrameLock, oldIrql);
    if ((taken != FALSE) != (before > 0)) {
        fuzzrig::Broken(index, "a frame was taken from an empty queue, or none from a full one");
    }
    if (taken) {
        CheckFrame(frame, calibration, index);
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
    // A screen has a size of its own; the calibration record carries it (negative sizes are no
    // screen at all).
    header.bytes[4 + 20 + 2] = header.bytes[4 + 20 + 3] = 0;
    header.bytes[4 + 24 + 2] = header.bytes[4 + 24 + 3] = 0;
    rig->Reset(header);
    MouseDeviceExtension &extension = rig->Extension();
    if (header.DataMode()) {
        StartDataMode(&extension);
    }
    CalibrationData calibration = header.Calibration();
    const TAP_TOUCH_STATE &touch = extension.Touch;
    std::deque<uint8_t> tail; // the stream's last fifteen bytes
    unsigned takeEvery = header.TakeEvery();

    for (size_t i = fuzzrig::kHeaderSize; i < size; ++i) {
        ULONG countBefore = touch.ByteCount;
        ULONG lengthBefore = touch.PacketLength;
        ULONG queuedBefore = touch.FrameQueue.Count;
        ContactFrame slotsBefore[CONTACT_FRAME_QUEUE_SLOTS];
        std::memcpy(slotsBefore, touch.FrameQueue.Slots, sizeof(slotsBefore));
        RawSample sampleBefore = Globals.LastRawSample;
        tail.push_back(data[i]);
        if (tail.size() > MULTI_TOUCH_LONG_PACKET) {
            tail.pop_front();
        }

        bool reported = rig->Feed(data[i]);

        // The length in force for this byte: decided when the fourth byte of a packet arrives.
        ULONG length = lengthBefore;
        if (countBefore + 1 == MULTI_TOUCH_COUNT + 1 && (data[i] == 1 || data[i] == 2)) {
            length = data[i] == 2 ? MULTI_TOUCH_LONG_PACKET : MULTI_TOUCH_SHORT_PACKET;
        }
        uint8_t last[MULTI_TOUCH_LONG_PACKET] = {};
        bool full = countBefore + 1 >= length && tail.size() >= length;
        if (full) {
            std::copy(tail.end() - length, tail.end(), last);
        }
        bool valid = full && countBefore + 1 == length && fuzzrig::CheckByteRight(last, length);
        if (countBefore + 1 > length) {
            fuzzrig::Broken(i, "a byte was stored past the packet length");
        }
        if (reported && !valid) {
            fuzzrig::Broken(i, "a packet without a right check byte reached the report step");
        }
        if (valid) {
            ULONG rawX = last[4] + 256u * last[5];
            ULONG rawY = last[6] + 256u * last[7];
            if (Globals.LastRawSample.RawX != rawX || Globals.LastRawSample.RawY != rawY ||
                Globals.LastRawSample.RawZ != 0 || touch.Status != last[2]) {
                fuzzrig::Broken(i, "the raw sample or status is not the packet's");
            }
        } else if (std::memcmp(&sampleBefore, &Globals.LastRawSample, sizeof(RawSample)) != 0) {
            fuzzrig::Broken(i, "the raw sample changed without a packet");
        }
        CheckBufferIsStreamTail(touch, tail, i);
        size_t records = fuzzrig::CheckDelivered(i);
        if ((!valid && records != 0) || records > 4) {
            fuzzrig::Broken(i, "records delivered without a packet, or more than four for one");
        }
        if (!valid && (touch.FrameQueue.Count != queuedBefore ||
                       std::memcmp(slotsBefore, touch.FrameQueue.Slots, sizeof(slotsBefore)) != 0)) {
            fuzzrig::Broken(i, "the frame queue changed without a packet");
        }
        if (!header.DataMode() && touch.FrameQueue.Count != 0) {
            fuzzrig::Broken(i, "frames were queued with data mode off");
        }
        CheckQueue(touch.FrameQueue, calibration, i);
        if (takeEvery != 0 && (i - fuzzrig::kHeaderSize) % takeEvery == 0) {
            TakeFrame(extension, calibration, i);
            CheckQueue(touch.FrameQueue, calibration, i);
        }
    }
    return 0;
}
