// Data mode: pixel mapping, the frame transition rules, the ten-slot queue and the replies.
#include "PolyHarness.h"

#include <gtest/gtest.h>

namespace {

using Frames = std::vector<std::string>;

// xs 100, xe 4000, ys 200, ye 3800 on a 1024 x 768 screen.
const CalibrationData kCalibration = {10000, 400000, 20000, 380000, 0, 1024, 768};

std::pair<LONG, LONG> Pixel(const CalibrationData &calibration, ULONG rawX, ULONG rawY)
{
    LONG x = 0;
    LONG y = 0;
    PixelMap(&calibration, rawX, rawY, &x, &y);
    return {x, y};
}

TEST(PixelMapping, ExamplesInBothOrientations)
{
    EXPECT_EQ(Pixel(kCalibration, 2050, 2000), std::make_pair(512, 384));
    EXPECT_EQ(Pixel(kCalibration, 1000, 2000), std::make_pair(236, 384));
    CalibrationData swapped = kCalibration;
    swapped.Orientation = 1;
    EXPECT_EQ(Pixel(swapped, 1000, 2000), std::make_pair(512, 590));
}

TEST(PixelMapping, CalibratedMaximumReachesTheScreenSize)
{
    EXPECT_EQ(Pixel(kCalibration, 4000, 3800), std::make_pair(1024, 768));
    EXPECT_EQ(Pixel(kCalibration, 100, 200), std::make_pair(0, 0));
}

TEST(PixelMapping, APositionPastTheScreenIsHeldAtItsEdgeOnEachAxis)
{
    // A negative RawYStart orders the Y bounds as unsigned numbers: raw Y above RawYEnd is not
    // clamped and maps past the bottom, which is then the screen's height (not its width).
    CalibrationData negative = kCalibration;
    negative.RawYStart = -10000;
    negative.RawYEnd = 100000;
    EXPECT_EQ(Pixel(negative, 2050, 2000), std::make_pair(512, 768));
}

TEST(PixelMapping, DegenerateCalibrationLeavesThePositionAlone)
{
    CalibrationData flat = kCalibration;
    flat.RawYEnd = flat.RawYStart;
    EXPECT_EQ(Pixel(flat, 2050, 2000), std::make_pair(0, 0));
}

TEST(PixelMapping, LargeScreenAndSpanDoNotOverflow)
{
    // A span of 65535 raw units on a 100000-pixel-wide screen: the products pass 32 bits.
    CalibrationData wide = {0, 6553500, 0, 6553500, 0, 100000, 100000};
    EXPECT_EQ(Pixel(wide, 65535, 32768), std::make_pair(100000, 50000));
}

class ContactFramesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Globals.ActiveCalibration = kCalibration;
        StartDataMode(&harness.Extension());
    }
    PolyHarness harness;
};

TEST_F(ContactFramesTest, OneFingerDownMovesLift)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}});
    harness.Packet(kTouchingBit, {{1000, 2000, 0}});
    harness.Packet(kLiftBit, {{1000, 2000, 0}});
    EXPECT_EQ(Describe(harness.TakeFrames()), (Frames{"count=1 c1=1,0,512,384 c2=0,0,0,0",
                                                      "count=1 c1=2,0,236,384 c2=0,0,0,0",
                                                      "count=1 c1=4,0,236,384 c2=0,0,0,0"}));
}

TEST_F(ContactFramesTest, SecondFingerArrivesWithAnExtraFrame)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}});
    harness.Packet(kTouchingBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    harness.Packet(kTouchingBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    EXPECT_EQ(Describe(harness.TakeFrames()), (Frames{"count=1 c1=1,0,512,384 c2=0,0,0,0",
                                                      "count=2 c1=2,0,512,384 c2=1,1,236,384",
                                                      "count=2 c1=2,0,512,384 c2=2,1,236,384",
                                                      "count=2 c1=2,0,512,384 c2=2,1,236,384"}));
    // The extra frame is never the current one.
    EXPECT_EQ(harness.Touch().CurrentFrame.Contact2State, ContactMoved);
}

TEST_F(ContactFramesTest, SecondFingerArrivesAfterAContactWithAnotherIdentifier)
{
    harness.Packet(kDownBit, {{2050, 2000, 5}});
    harness.Packet(kTouchingBit, {{2050, 2000, 5}, {1000, 2000, 6}});
    Frames frames = Describe(harness.TakeFrames());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], "count=2 c1=1,5,512,384 c2=2,6,236,384");
    EXPECT_EQ(frames[2], "count=2 c1=2,5,512,384 c2=2,6,236,384");
}

TEST_F(ContactFramesTest, SecondFingerArrivesWhileContactOneIsDown)
{
    // The contact down has identifier 1; the new one (0) comes first in the packet.
    harness.Packet(kDownBit, {{2050, 2000, 1}});
    harness.Packet(kTouchingBit, {{1000, 2000, 0}, {2050, 2000, 1}});
    Frames frames = Describe(harness.TakeFrames());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], "count=2 c1=1,0,236,384 c2=2,1,512,384");
    EXPECT_EQ(frames[2], "count=2 c1=2,0,236,384 c2=2,1,512,384");
}

TEST_F(ContactFramesTest, ContactZeroLeavesWhileOneStays)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    harness.Packet(kTouchingBit, {{1000, 2000, 1}});
    EXPECT_EQ(Describe(harness.TakeFrames()), (Frames{"count=2 c1=1,0,512,384 c2=1,1,236,384",
                                                      "count=2 c1=4,0,512,384 c2=2,1,236,384",
                                                      "count=1 c1=0,1,236,384 c2=2,0,0,0"}));
}

TEST_F(ContactFramesTest, ContactOneLeavesWhileZeroStays)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    harness.Packet(kTouchingBit, {{2050, 2000, 0}});
    Frames frames = Describe(harness.TakeFrames());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], "count=2 c1=2,0,512,384 c2=4,1,236,384");
    EXPECT_EQ(frames[2], "count=1 c1=2,0,512,384 c2=0,0,0,0");
}

TEST_F(ContactFramesTest, TwoContactsLiftAndPacketsWithoutStateBits)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    harness.Packet(kLiftBit, {{2050, 2000, 0}, {1000, 2000, 1}});
    harness.Packet(kDownBit, {{2050, 2000, 0}});
    harness.Packet(0x00, {{2050, 2000, 0}});
    Frames frames = Describe(harness.TakeFrames());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1], "count=2 c1=4,0,512,384 c2=4,1,236,384");
    EXPECT_EQ(frames[3], "count=1 c1=0,0,512,384 c2=0,0,0,0");
}

TEST_F(ContactFramesTest, DataModeOffQueuesNothingAndSaysSo)
{
    StopDataMode(&harness.Extension());
    harness.Packet(kDownBit, {{2050, 2000, 0}});
    ContactFrame reply;
    harness.Reply(&reply);
    EXPECT_EQ(Describe(reply), "count=254 c1=0,0,0,0 c2=0,0,0,0");
    EXPECT_EQ(harness.TakeReports().size(), 1u) << "the cursor still moves";
}

TEST_F(ContactFramesTest, NoPortOnceTheAttributesAreQueried)
{
    harness.Extension().PortDevice = nullptr;
    ContactFrame reply;
    harness.Reply(&reply);
    EXPECT_EQ(reply.ContactCount, CONTACT_COUNT_NO_PORT);
    harness.Extension().AttributesQueried = FALSE;
    harness.Reply(&reply);
    EXPECT_EQ(reply.ContactCount, CONTACT_COUNT_NONE_QUEUED);
}

TEST_F(ContactFramesTest, NothingTouchedRepliesZeros)
{
    ContactFrame reply;
    memset(&reply, 0xCC, sizeof reply);
    harness.Reply(&reply);
    const ContactFrame zeros = {};
    EXPECT_EQ(0, memcmp(&reply, &zeros, sizeof reply));
}

TEST_F(ContactFramesTest, ElevenFramesLoseTheFirst)
{
    // A touch-down and ten moves: eleven frames.
    for (USHORT i = 0; i < 11; ++i) {
        harness.Packet(i == 0 ? kDownBit : kTouchingBit, {{static_cast<USHORT>(100 + 39 * i), 200, 0}});
    }
    auto frames = harness.TakeFrames();
    ASSERT_EQ(frames.size(), 10u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].Contact1X, static_cast<LONG>((39 * (i + 1)) * 1024 / 3900)) << i;
    }
}

TEST_F(ContactFramesTest, StopThenStartEmptiesTheQueue)
{
    harness.Packet(kDownBit, {{2050, 2000, 0}});
    StopDataMode(&harness.Extension());
    StartDataMode(&harness.Extension());
    EXPECT_TRUE(harness.TakeFrames().empty());
}

// The queue is touched under FrameLock only, that is at DISPATCH_LEVEL: the test holds a lock of
// its own for the same IRQL.
class FrameQueue : public testing::Test {
protected:
    FrameQueue() { KeInitializeSpinLock(&lock_); }
    void Hold() { KeAcquireSpinLock(&lock_, &irql_); }
    void Release() { KeReleaseSpinLock(&lock_, irql_); }

    tapkernel::Kernel kernel_;
    CONTACT_FRAME_QUEUE queue = {};

private:
    KSPIN_LOCK lock_;
    KIRQL irql_ = PASSIVE_LEVEL;
};

TEST_F(FrameQueue, RingKeepsHeadAndTailTogetherWhenAlmostEmpty)
{
    ContactFrame frame = {};
    Hold();
    frame.ContactCount = 1;
    QueueContactFrame(&queue, &frame);
    EXPECT_EQ(queue.Head, queue.Tail);
    frame.ContactCount = 2;
    QueueContactFrame(&queue, &frame);
    ContactFrame out;
    ASSERT_TRUE(TakeContactFrame(&queue, &out));
    EXPECT_EQ(out.ContactCount, 1);
    EXPECT_EQ(queue.Head, queue.Tail);
    ASSERT_TRUE(TakeContactFrame(&queue, &out));
    EXPECT_EQ(out.ContactCount, 2);
    EXPECT_EQ(queue.Count, 0u);
    EXPECT_EQ(queue.Head, queue.Tail);
    EXPECT_FALSE(TakeContactFrame(&queue, &out));
    Release();
}

TEST_F(FrameQueue, TouchedWithoutFrameLockIsABugCheck)
{
    ContactFrame frame = {};
    EXPECT_DEATH(QueueContactFrame(&queue, &frame), "BUGCHECK in RtlAssert: assertion failed .*DISPATCH_LEVEL");
    EXPECT_DEATH(TakeContactFrame(&queue, &frame), "BUGCHECK in RtlAssert: assertion failed .*DISPATCH_LEVEL");
}

} // namespace
