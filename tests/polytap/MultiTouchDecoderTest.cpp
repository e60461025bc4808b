// Packet lengths, check byte and resynchronisation of the multi-touch decoder, and the pointer
// input it drives with the first contact.
#include "PolyHarness.h"

#include <gtest/gtest.h>

namespace {

constexpr USHORT kAbs = MOUSE_MOVE_ABSOLUTE;
constexpr USHORT kDown = MOUSE_LEFT_BUTTON_DOWN;
constexpr USHORT kUp = MOUSE_LEFT_BUTTON_UP;

const std::vector<UCHAR> kOneContact = {0x55, 0x00, 0x01, 0x01, 0x34, 0x12, 0x78, 0x06, 0x00, 0xC5};
const std::vector<UCHAR> kTwoContacts = {0x55, 0x00, 0x02, 0x02, 0x10, 0x00, 0x20, 0x00,
                                         0x00, 0x30, 0x00, 0x40, 0x00, 0x01, 0xA4};

class MultiTouchDecoderTest : public ::testing::Test {
protected:
    // Raw 0..65535 on both axes maps one to one onto 0..65535.
    void SetUp() override { harness.Calibrate(0, 6553500, 0, 6553500, 0); }
    PolyHarness harness;
};

TEST_F(MultiTouchDecoderTest, OneAndTwoContactPackets)
{
    EXPECT_EQ(MultiTouchPacket(kDownBit, {{0x1234, 0x0678, 0}}), kOneContact);
    EXPECT_EQ(MultiTouchPacket(kTouchingBit, {{16, 32, 0}, {48, 64, 1}}), kTwoContacts);

    EXPECT_EQ(harness.Feed(kOneContact), 1);
    EXPECT_EQ(harness.Touch().RawX1, 4660u);
    EXPECT_EQ(harness.Touch().RawY1, 1656u);
    EXPECT_EQ(harness.Touch().RawX2, 0u);
    EXPECT_EQ(harness.Touch().RawY2, 0u);
    EXPECT_EQ(Globals.LastRawSample.RawZ, 0u);

    EXPECT_EQ(harness.Feed(kTwoContacts), 1);
    EXPECT_EQ(harness.Touch().PacketLength, 15);
    EXPECT_EQ(harness.Touch().RawX2, 48u);
    EXPECT_EQ(harness.Touch().RawY2, 64u);
    // The cursor follows the first contact.
    auto reports = harness.TakeReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], (Report{kAbs, 0, 16, 32}));

    // A one-contact packet after two clears the second contact's position.
    EXPECT_EQ(harness.Feed(kOneContact), 1);
    EXPECT_EQ(harness.Touch().RawX2, 0u);
    EXPECT_EQ(harness.Touch().RawY2, 0u);
}

TEST_F(MultiTouchDecoderTest, LengthIsDecidedAtTheFourthByteAndKeptForOtherCounts)
{
    harness.Feed(kTwoContacts);
    // A count of 3 keeps the 15-byte length: ten bytes are not yet a packet.
    std::vector<UCHAR> odd = MultiTouchPacket(kTouchingBit, {{100, 100, 0}, {200, 200, 1}}, 3);
    EXPECT_EQ(harness.Feed(std::vector<UCHAR>(odd.begin(), odd.begin() + 10)), 0);
    EXPECT_EQ(harness.Touch().ByteCount, 10u);
    // The rest completes it: contact 1 is decoded, contact 2 is left as it was.
    EXPECT_EQ(harness.Feed(std::vector<UCHAR>(odd.begin() + 10, odd.end())), 1);
    EXPECT_EQ(harness.Touch().RawX1, 100u);
    EXPECT_EQ(harness.Touch().RawX2, 48u);
    EXPECT_EQ(harness.Touch().RawY2, 64u);
}

TEST_F(MultiTouchDecoderTest, CheckSumKeepsOnlyItsLowEightBits)
{
    std::vector<UCHAR> packet = MultiTouchPacket(kDownBit, {{0xFFFF, 0xFFFF, 0xFF}});
    EXPECT_EQ(packet.back(), static_cast<UCHAR>(0xAA + 0x55 + 0x01 + 0x01 + 4 * 0xFF + 0xFF));
    EXPECT_EQ(harness.Feed(packet), 1);
}

TEST_F(MultiTouchDecoderTest, CorruptedPacketIsDroppedUpToTheNextSync)
{
    std::vector<UCHAR> bad = kOneContact;
    bad[9] ^= 0xFF;
    std::vector<UCHAR> stream = bad;
    stream.insert(stream.end(), kOneContact.begin(), kOneContact.end());
    EXPECT_EQ(harness.Feed(stream), 1);
    EXPECT_EQ(harness.Touch().RawX1, 4660u);

    // A run without sync bytes and with a failing check byte is discarded whole.
    EXPECT_EQ(harness.Feed({0x10, 0x11, 0x12, 0x01, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}), 0);
    EXPECT_EQ(harness.Touch().ByteCount, 0u);
}

TEST_F(MultiTouchDecoderTest, CarriedBytesKeepTheLengthInForce)
{
    // A broken 15-byte packet whose tail holds a sync byte five bytes from its end: the five bytes
    // move to the front and are measured with the 15-byte length, not decided again.
    harness.Feed(kTwoContacts);
    std::vector<UCHAR> broken = {0x55, 0x00, 0x02, 0x02, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                 0x55, 0x00, 0x02, 0x01, 0x00};
    EXPECT_EQ(harness.Feed(broken), 0);
    EXPECT_EQ(harness.Touch().ByteCount, 5u);
    EXPECT_EQ(harness.Touch().PacketLength, 15);
}

TEST_F(MultiTouchDecoderTest, OneContactPacketsAfterACutTwoContactPacketAreDecodedAgain)
{
    // The line cut a two-contact packet short; one-contact packets follow. Measured with the
    // 15-byte length each carries the next one's first five bytes and fails: the second failure
    // in a row lets the carried count byte decide, and the stream is decoded again.
    harness.Feed(kTwoContacts);
    std::vector<UCHAR> stream(kTwoContacts.begin(), kTwoContacts.begin() + 5);
    for (int i = 0; i < 6; ++i) {
        stream.insert(stream.end(), kOneContact.begin(), kOneContact.end());
    }
    EXPECT_GE(harness.Feed(stream), 3);
    EXPECT_EQ(harness.Touch().PacketLength, 10);
    EXPECT_EQ(harness.Touch().RawX1, 4660u);
}

TEST_F(MultiTouchDecoderTest, LiftWithoutTouchOnlyMovesTheCursor)
{
    Globals.Settings.BeepMode = BEEP_ON_RELEASE;
    Globals.RightClickArmed = TRUE;
    StartDataMode(&harness.Extension());
    EXPECT_EQ(harness.Packet(kLiftBit, {{500, 600, 0}}), 0);
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, 0, 500, 600}}));
    EXPECT_EQ(harness.TakeBeeps(), 0);
    EXPECT_TRUE(harness.TakeFrames().empty());
    EXPECT_EQ(harness.Touch().ButtonState, BUTTON_STATE_NONE);
    EXPECT_FALSE(harness.Touch().TouchLatch);
    EXPECT_TRUE(Globals.RightClickArmed);
    EXPECT_EQ(Globals.LastRawSample.RawX, 500u);
}

TEST_F(MultiTouchDecoderTest, DownTouchingLiftGivesOneClick)
{
    harness.Packet(kDownBit, {{100, 100, 0}});
    harness.Packet(kTouchingBit, {{200, 100, 0}});
    harness.Packet(kTouchingBit, {{300, 100, 0}});
    harness.Packet(kLiftBit, {{300, 100, 0}});
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, kDown, 100, 100},
                                                          {kAbs, 0, 200, 100},
                                                          {kAbs, 0, 300, 100},
                                                          {kAbs, kUp, 300, 100}}));
    EXPECT_FALSE(harness.Touch().TouchLatch);
}

TEST_F(MultiTouchDecoderTest, DownAndTouchingTogetherIsLeftUpWhileLatched)
{
    harness.Packet(kDownBit | kTouchingBit, {{100, 100, 0}});
    EXPECT_TRUE(harness.Touch().TouchLatch);
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, kUp, 100, 100}}));
}

TEST_F(MultiTouchDecoderTest, ContactsAreClampedToTheCalibratedRange)
{
    harness.Calibrate(75000, 325000, 75000, 325000, 1); // clamping ignores the orientation
    harness.Packet(kDownBit, {{10, 5000, 0}, {4000, 20, 1}});
    EXPECT_EQ(harness.Touch().RawX1, 750u);
    EXPECT_EQ(harness.Touch().RawY1, 3250u);
    EXPECT_EQ(harness.Touch().RawX2, 3250u);
    EXPECT_EQ(harness.Touch().RawY2, 750u);
    EXPECT_EQ(Globals.LastRawSample.RawX, 10u);
    // At the edges the cursor stops at the screen's corner: with the axes swapped raw X 750 (the
    // RawXStart edge) is the bottom and raw Y 3250 the right.
    auto reports = harness.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].x, 65535);
    EXPECT_EQ(reports[0].y, 65535);
}

TEST_F(MultiTouchDecoderTest, InteractiveHoldUsesToleranceEighteenAndRestartsOnTouchDown)
{
    Globals.Settings.MouseMode = MODE_INTERACTIVE_TOUCH;
    Globals.Settings.InterActTime = 2;
    harness.Packet(kDownBit, {{1000, 1000, 0}});
    harness.Packet(kTouchingBit, {{1017, 1000, 0}}); // still: 17
    harness.Packet(kTouchingBit, {{1017, 1018, 0}}); // moved: 18
    harness.Packet(kTouchingBit, {{1017, 1001, 0}}); // moved: 17 back... still
    EXPECT_EQ(Globals.StillCount, 1u);
    harness.Packet(kDownBit, {{1017, 1001, 0}}); // a touch-down restarts the count
    EXPECT_EQ(Globals.StillCount, 1u) << "reset to 0 by the touch-down, then counted as still";
    harness.TakeReports();
    harness.Packet(kTouchingBit, {{1017, 1001, 0}});
    // Right click order of this line: right down, left up, right down, right up.
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, MOUSE_RIGHT_BUTTON_DOWN, 1017, 1001},
                                                          {kAbs, kUp, 1017, 1001},
                                                          {kAbs, MOUSE_RIGHT_BUTTON_DOWN, 1017, 1001},
                                                          {kAbs, MOUSE_RIGHT_BUTTON_UP, 1017, 1001}}));
    EXPECT_FALSE(Globals.RightClickArmed);
}

TEST_F(MultiTouchDecoderTest, BeepsOnlyWithABeepThread)
{
    Globals.Settings.BeepMode = BEEP_ON_TOUCH;
    harness.Packet(kDownBit, {{100, 100, 0}});
    EXPECT_EQ(harness.TakeBeeps(), 1);
    harness.Packet(kLiftBit, {{100, 100, 0}});
    harness.Extension().BeepThread = nullptr;
    harness.Packet(kDownBit, {{100, 100, 0}});
    EXPECT_EQ(harness.TakeBeeps(), 0);
}

} // namespace
