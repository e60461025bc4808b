// A finger on the multi-touch panel, through COM1 and the real Polytap module, into the mouse
// class: button transitions, moves, the first contact driving the cursor, the mouse attributes and
// the interactive hold's still tolerance.
#include "PolytapSystem.h"

namespace polytaptest {
namespace {

using tapmachine::kMultiTouchLift;
using tapmachine::MouseRecord;

class TouchPathTest : public PolytapMachine {
protected:
    void SetUp() override
    {
        controller = &AttachController();
        Start();
        ASSERT_EQ(OpenPort(), 1u);
        TakeRecords();
    }

    tapmachine::TouchController *controller = nullptr;
};

void ExpectRecord(const MouseRecord &record, uint16_t buttonFlags, uint32_t rawX, uint32_t rawY)
{
    EXPECT_EQ(record.flags, MOUSE_MOVE_ABSOLUTE);
    EXPECT_EQ(record.buttonFlags, buttonFlags);
    EXPECT_EQ(record.lastX, AbsoluteX(rawX));
    EXPECT_EQ(record.lastY, AbsoluteY(rawY));
}

TEST_F(TouchPathTest, TouchDownTouchingLiftGiveLeftDownOnceMovesAndLeftUpOnce)
{
    controller->TouchRaw({100, 200});
    machine.Settle();
    EXPECT_TRUE(machine.mouse().buttons().left);
    controller->MoveRaw({110, 210});
    controller->MoveRaw({120, 220});
    controller->Hold();
    controller->Lift();
    machine.Settle();

    auto records = TakeRecords();
    ASSERT_EQ(records.size(), 5u);
    ExpectRecord(records[0], MOUSE_LEFT_BUTTON_DOWN, 100, 200);
    ExpectRecord(records[1], 0, 110, 210);
    ExpectRecord(records[2], 0, 120, 220);
    ExpectRecord(records[3], 0, 120, 220);
    ExpectRecord(records[4], MOUSE_LEFT_BUTTON_UP, 120, 220);
    EXPECT_FALSE(machine.mouse().buttons().left);
    EXPECT_EQ(machine.mouse().cursor(), CursorFor(120, 220));

    // The next touch goes down again: the button state follows every touch.
    controller->TouchRaw({300, 300});
    controller->Lift();
    machine.Settle();
    records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].buttonFlags, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[1].buttonFlags, MOUSE_LEFT_BUTTON_UP);
}

TEST_F(TouchPathTest, LiftWithoutTouchOnlyMovesTheCursor)
{
    // A lift right after the device started, and a second lift after a complete touch.
    Feed(Packet(kMultiTouchLift, {400, 300, 0}));
    auto records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    ExpectRecord(records[0], 0, 400, 300);
    EXPECT_EQ(machine.mouse().cursor(), CursorFor(400, 300));
    EXPECT_FALSE(machine.mouse().buttons().left);

    controller->TouchRaw({100, 100});
    controller->Lift();
    Feed(Packet(kMultiTouchLift, {600, 500, 0}));
    records = TakeRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].buttonFlags, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[1].buttonFlags, MOUSE_LEFT_BUTTON_UP);
    ExpectRecord(records[2], 0, 600, 500);
    EXPECT_FALSE(machine.mouse().buttons().left);
}

TEST_F(TouchPathTest, TheFirstContactOfEachPacketDrivesTheCursor)
{
    controller->TouchContactsRaw({{{100, 150}, 0}, {{900, 700}, 1}});
    controller->MoveContactsRaw({{{130, 160}, 0}, {{880, 690}, 1}});
    machine.Settle();
    auto records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    ExpectRecord(records[0], MOUSE_LEFT_BUTTON_DOWN, 100, 150);
    ExpectRecord(records[1], 0, 130, 160);

    // Contact 0 leaves, contact 1 stays: the packet's first contact is now contact 1.
    controller->MoveContactsRaw({{{870, 680}, 1}});
    controller->Lift();
    machine.Settle();
    records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    ExpectRecord(records[0], 0, 870, 680);
    ExpectRecord(records[1], MOUSE_LEFT_BUTTON_UP, 870, 680);
    EXPECT_EQ(machine.mouse().cursor(), CursorFor(870, 680));
}

TEST_F(TouchPathTest, MouseClassIsToldOfFiveButtons)
{
    auto devices = machine.mouseClassDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_TRUE(devices[0].connected);
    EXPECT_TRUE(devices[0].attributesQueried);
    EXPECT_EQ(devices[0].attributesStatus, STATUS_SUCCESS);
    EXPECT_EQ(devices[0].numberOfButtons, 5);
}

// Interactive Touch with InterActTime 3: three consecutive packets in which contact 1 moves
// less than 18 raw units on each axis turn the third into a right click.
class InteractiveHoldTest : public TouchPathTest {
protected:
    void SetUp() override
    {
        SetParameter(u"MouseMode", MODE_INTERACTIVE_TOUCH);
        SetParameter(u"InterActTime", 3);
        TouchPathTest::SetUp();
    }

    // Touch down at (500, 500), then three moves by (dx, dy) each; the records of the moves.
    std::vector<MouseRecord> MovesBy(uint16_t dx, uint16_t dy)
    {
        controller->TouchRaw({500, 500});
        machine.Settle();
        TakeRecords();
        for (uint16_t step = 1; step <= 3; ++step) {
            controller->MoveRaw({static_cast<uint16_t>(500 + step * dx), static_cast<uint16_t>(500 + step * dy)});
        }
        machine.Settle();
        auto records = TakeRecords();
        controller->Lift();
        machine.Settle();
        TakeRecords();
        return records;
    }
};

std::vector<uint16_t> ButtonFlags(const std::vector<MouseRecord> &records)
{
    std::vector<uint16_t> flags;
    for (const MouseRecord &record : records) {
        flags.push_back(record.buttonFlags);
    }
    return flags;
}

TEST_F(InteractiveHoldTest, SeventeenRawUnitsIsStillAndArmsTheRightClick)
{
    auto records = MovesBy(17, 17);
    EXPECT_EQ(ButtonFlags(records), (std::vector<uint16_t>{0, 0, MOUSE_RIGHT_BUTTON_DOWN, MOUSE_LEFT_BUTTON_UP,
                                                           MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP}));
    EXPECT_EQ(Control(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4).As<ULONG>(), 0u) << "the click used the flag";
}

TEST_F(InteractiveHoldTest, EighteenRawUnitsOnEitherAxisIsMovement)
{
    EXPECT_EQ(ButtonFlags(MovesBy(18, 0)), (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(ButtonFlags(MovesBy(0, 18)), (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(Control(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4).As<ULONG>(), 0u);
}

}  // namespace
}  // namespace polytaptest
