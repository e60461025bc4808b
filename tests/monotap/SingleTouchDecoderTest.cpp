// Packet assembly, check byte and resynchronisation of the single-touch decoder.
#include "MonoHarness.h"

#include <gtest/gtest.h>

namespace {

const std::vector<UCHAR> kTouchPacket = {0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64};

class SingleTouchDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { harness.Calibrate(0, 6553500, 0, 6553500, 0); }
    const SINGLE_TOUCH_DECODER &Decoder() { return harness.Extension().Touch.Decoder; }
    MonoHarness harness;
};

TEST_F(SingleTouchDecoderTest, ValidPacketGivesRawSampleAndLeftDown)
{
    EXPECT_EQ(harness.Feed(kTouchPacket), 1);
    EXPECT_EQ(Globals.LastRawSample.RawX, 4660u);
    EXPECT_EQ(Globals.LastRawSample.RawY, 1656u);
    EXPECT_EQ(Globals.LastRawSample.RawZ, 32u);
    EXPECT_EQ(Decoder().Status, 0x81);
    EXPECT_EQ(Decoder().ByteCount, 0u);
    auto reports = harness.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].flags, MOUSE_MOVE_ABSOLUTE);
    EXPECT_EQ(reports[0].buttons, MOUSE_LEFT_BUTTON_DOWN);
}

TEST_F(SingleTouchDecoderTest, CheckByteCoversEveryByteBeforeIt)
{
    // The not-touching twin of the touch packet carries check byte 0x47.
    std::vector<UCHAR> lift = SingleTouchPacket(0x84, 0x1234, 0x0678, 0x00);
    EXPECT_EQ(lift.back(), 0x47);
    EXPECT_EQ(SingleTouchPacket(0x81, 0x1234, 0x0678, 0x20), kTouchPacket);

    // Bytes 1 and 8 are not interpreted but count in the check byte.
    std::vector<UCHAR> odd = kTouchPacket;
    odd[1] = 0x7E;
    odd[8] = 0xC3;
    odd[9] = static_cast<UCHAR>(odd[9] + 0x7E + 0xC3);
    EXPECT_EQ(harness.Feed(odd), 1);
}

TEST_F(SingleTouchDecoderTest, BadPacketWithoutHeaderIsDroppedWhole)
{
    std::vector<UCHAR> bad = kTouchPacket;
    bad[9] ^= 0x01;
    EXPECT_EQ(harness.Feed(bad), 0);
    EXPECT_EQ(Decoder().ByteCount, 0u);
    EXPECT_TRUE(harness.TakeReports().empty());
    EXPECT_EQ(Globals.LastRawSample.RawX, 0u);
    // The stream continues cleanly with the next packet.
    EXPECT_EQ(harness.Feed(kTouchPacket), 1);
}

TEST_F(SingleTouchDecoderTest, ResynchronisesOnTheNextHeader)
{
    // The first ten bytes fail; the nine from the 0x55 on move to the front and the next byte
    // completes the packet.
    std::vector<UCHAR> stream = {0x13};
    stream.insert(stream.end(), kTouchPacket.begin(), kTouchPacket.end() - 1);
    EXPECT_EQ(harness.Feed(stream), 0);
    EXPECT_EQ(Decoder().ByteCount, 9u);
    EXPECT_EQ(harness.Feed({kTouchPacket.back()}), 1);
    EXPECT_EQ(Globals.LastRawSample.RawX, 4660u);
}

TEST_F(SingleTouchDecoderTest, HeaderInsideDataCostsOnlyTheBytesBeforeTheTrueHeader)
{
    // A corrupted packet whose data holds 0x55: the decoder restarts there, fails again, and finds
    // the true packet that follows.
    std::vector<UCHAR> stream = {0x55, 0x00, 0x81, 0x55, 0x12, 0x78, 0x06, 0x20, 0x00, 0x00};
    stream.insert(stream.end(), kTouchPacket.begin(), kTouchPacket.end());
    stream.insert(stream.end(), kTouchPacket.begin(), kTouchPacket.end());
    EXPECT_EQ(harness.Feed(stream), 2);
    EXPECT_EQ(Globals.LastRawSample.RawX, 4660u);
    EXPECT_EQ(Decoder().ByteCount, 0u);
}

TEST_F(SingleTouchDecoderTest, PartialPacketWaitsForItsRest)
{
    std::vector<UCHAR> head(kTouchPacket.begin(), kTouchPacket.begin() + 4);
    std::vector<UCHAR> tail(kTouchPacket.begin() + 4, kTouchPacket.end());
    EXPECT_EQ(harness.Feed(head), 0);
    EXPECT_EQ(harness.Feed(tail), 1);
}

TEST(SingleTouchStatus, OnlyStatus81And82AreTouching)
{
    struct Case {
        UCHAR status;
        USHORT firstTransition;
    } cases[] = {{0x81, MOUSE_LEFT_BUTTON_DOWN}, {0x82, MOUSE_LEFT_BUTTON_DOWN}, {0x80, MOUSE_LEFT_BUTTON_UP},
                 {0x83, MOUSE_LEFT_BUTTON_UP},   {0x84, MOUSE_LEFT_BUTTON_UP},   {0x00, MOUSE_LEFT_BUTTON_UP}};
    for (const Case &c : cases) {
        MonoHarness fresh;
        // The first packet after creation always carries a transition.
        ASSERT_EQ(fresh.Feed(SingleTouchPacket(c.status, 100, 100)), 1);
        auto reports = fresh.TakeReports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].buttons, c.firstTransition) << "status " << int(c.status);
    }
}

TEST_F(SingleTouchDecoderTest, OnlyTransitionsCarryButtonFlags)
{
    harness.Touch(1000, 1000);
    harness.Touch(1100, 1000);
    harness.Touch(1200, 1000);
    harness.Lift(1200, 1000);
    harness.Lift(1200, 1000);
    auto reports = harness.TakeReports();
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0].buttons, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(reports[1].buttons, 0);
    EXPECT_EQ(reports[2].buttons, 0);
    EXPECT_EQ(reports[3].buttons, MOUSE_LEFT_BUTTON_UP);
    EXPECT_EQ(reports[4].buttons, 0);
}

TEST_F(SingleTouchDecoderTest, RawSampleIsTakenBeforeClamping)
{
    harness.Calibrate(75000, 325000, 75000, 325000, 0);
    harness.Touch(4000, 100);
    EXPECT_EQ(Globals.LastRawSample.RawX, 4000u);
    EXPECT_EQ(Globals.LastRawSample.RawY, 100u);
    EXPECT_EQ(Decoder().RawX, 3250u);
    EXPECT_EQ(Decoder().RawY, 750u);
}

} // namespace
