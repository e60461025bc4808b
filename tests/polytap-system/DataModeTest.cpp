// Data mode through the serial path: contact frames built from the controller's packets as the
// driver reads them, and the ten-slot queue a tool empties.
#include "PolytapSystem.h"

namespace polytaptest {
namespace {

using tapmachine::kMultiTouchLift;
using tapmachine::kMultiTouchTouching;

struct Slot {
    uint8_t state;
    uint8_t id;
    int32_t x;
    int32_t y;
};

void ExpectFrame(const ContactFrame &frame, uint8_t count, Slot first, Slot second)
{
    EXPECT_EQ(frame.ContactCount, count);
    EXPECT_EQ(frame.Contact1State, first.state);
    EXPECT_EQ(frame.Contact1Id, first.id);
    EXPECT_EQ(frame.Contact1X, first.x);
    EXPECT_EQ(frame.Contact1Y, first.y);
    EXPECT_EQ(frame.Contact2State, second.state);
    EXPECT_EQ(frame.Contact2Id, second.id);
    EXPECT_EQ(frame.Contact2X, second.x);
    EXPECT_EQ(frame.Contact2Y, second.y);
}

class DataModeTest : public PolytapMachine {
protected:
    void SetUp() override
    {
        controller = &AttachController();
        Start();
        ASSERT_EQ(OpenPort(), 1u);
        ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    }

    tapmachine::TouchController *controller = nullptr;
};

TEST_F(DataModeTest, FingersOnThePanelBecomeFramesInPixels)
{
    // One finger down and moving, a second one joining, the first leaving, the second lifting.
    controller->TouchRaw({100, 200});
    controller->MoveRaw({110, 210});
    controller->MoveContactsRaw({{{120, 220}, 0}, {{900, 700}, 1}});
    controller->MoveContactsRaw({{{890, 690}, 1}});
    controller->Lift();
    machine.Settle();

    auto frames = TakeFrames();
    ASSERT_EQ(frames.size(), 7u);
    ExpectFrame(frames[0], 1, {ContactDown, 0, 100, 200}, {0, 0, 0, 0});
    ExpectFrame(frames[1], 1, {ContactMoved, 0, 110, 210}, {0, 0, 0, 0});
    ExpectFrame(frames[2], 2, {ContactMoved, 0, 120, 220}, {ContactDown, 1, 900, 700});
    ExpectFrame(frames[3], 2, {ContactMoved, 0, 120, 220}, {ContactMoved, 1, 900, 700});
    ExpectFrame(frames[4], 2, {ContactLifted, 0, 120, 220}, {ContactMoved, 1, 900, 700});
    ExpectFrame(frames[5], 1, {0, 1, 890, 690}, {ContactMoved, 0, 0, 0});
    ExpectFrame(frames[6], 1, {ContactLifted, 1, 890, 690}, {0, 0, 0, 0});

    // Taken means gone.
    EXPECT_EQ(TakeFrame().ContactCount, CONTACT_COUNT_NONE_QUEUED);
}

TEST_F(DataModeTest, LiftWithoutTouchAndPacketsOutsideDataModeBuildNoFrame)
{
    Feed(Packet(kMultiTouchLift, {50, 60, 0}));
    EXPECT_TRUE(TakeFrames().empty());
    EXPECT_EQ(TakeRecords().size(), 1u) << "the lift moved the cursor";

    controller->TouchRaw({100, 100});
    machine.Settle();
    ASSERT_EQ(TakeFrames().size(), 1u);

    ASSERT_EQ(Control(IOCTL_TOUCH_STOP_DATA_MODE).status, STATUS_SUCCESS);
    controller->MoveRaw({110, 110});
    controller->MoveRaw({120, 120});
    machine.Settle();
    EXPECT_EQ(TakeRecords().size(), 3u) << "the cursor moves all the same";
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    EXPECT_TRUE(TakeFrames().empty());

    controller->MoveRaw({130, 130});
    machine.Settle();
    auto frames = TakeFrames();
    ASSERT_EQ(frames.size(), 1u);
    ExpectFrame(frames[0], 1, {ContactMoved, 0, 130, 130}, {0, 0, 0, 0});
}

TEST_F(DataModeTest, ElevenFramesWithoutAReaderLoseTheFirst)
{
    // Every request opens and closes its own handle: data mode outlives a tool's handle.
    for (uint16_t i = 0; i < 11; ++i) {
        Feed(Packet(kMultiTouchTouching, {static_cast<uint16_t>(100 + i), 300, 0}));
    }
    auto frames = TakeFrames();
    ASSERT_EQ(frames.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(frames[i].Contact1X, 101 + i) << "frame " << i;
    }
}

}  // namespace
}  // namespace polytaptest
