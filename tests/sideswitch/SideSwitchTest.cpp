// SideSwitch.exe on the simulated PC: where its window sits and what it shows, how it answers
// clicks and its timer without a driver, and, with the real Monotap driver behind a touchscreen,
// how a tap on the window makes the next touch a right click.
#include "SideSwitchMachine.h"

namespace sideswitchtest {
namespace {

using namespace std::chrono_literals;

class SideSwitchWithoutDriver : public SideSwitchMachine {
protected:
    void SetUp() override { Boot(false); }
};

TEST_F(SideSwitchWithoutDriver, SitsTopmostNearTheLowerRightCorner)
{
    // Dialog 102 is 78 x 70 dialog units in SimSun 9 (6 x 12 base units): a 117 x 105 client.
    // The window is then given that as its outer size, 1 pixel from the right edge and 50 above
    // the bottom; the frame (3) and caption (19) take their share of it.
    EXPECT_EQ(machine->desktop().ScreenWindowRect(id), (tap::desktop::Rect{906, 613, 1023, 718}));
    EXPECT_EQ(Client(), (tap::desktop::Rect{909, 635, 1020, 715}));
    EXPECT_TRUE(machine->windowSystem().IsTopmost(window));
    EXPECT_TRUE(machine->desktop().IsShown(id));
    EXPECT_EQ(tap::ui::WindowRef(window).Icon(true), tap::ui::WindowRef(window).Icon(false));
    EXPECT_NE(tap::ui::WindowRef(window).Icon(true), nullptr);
    // The picture of this state (scripts/wine-smoke --update-docs puts it beside Wine's).
    EXPECT_TRUE(machine->desktop().SavePng(testing::TempDir() + "/sideswitch.png"));
}

TEST_F(SideSwitchWithoutDriver, StartsWithTheLeftButtonInTheTopThird)
{
    // Client 111 x 80: half 55, third 26.
    EXPECT_TRUE(LeftButtonShown());
    EXPECT_EQ(ClientPixel(0, 0), kBlack);
    EXPECT_EQ(ClientPixel(54, 10), kBlack);  // right edge of the left button
    EXPECT_EQ(ClientPixel(55, 10), kBlack);  // left edge of the right button
    EXPECT_EQ(ClientPixel(10, 25), kBlack);
    EXPECT_EQ(ClientPixel(10, 26), kDialogFace);
    EXPECT_EQ(ClientPixel(60, 50), kDialogFace);
}

TEST_F(SideSwitchWithoutDriver, EachClickTogglesThePictureAtOnceAndNothingChangesItBack)
{
    ClickClient(60, 60);
    EXPECT_TRUE(RightButtonShown());
    machine->Advance(5000ms);  // ten timer ticks repaint the right button
    EXPECT_TRUE(RightButtonShown());
    ClickClient(10, 10);
    EXPECT_TRUE(LeftButtonShown());
    machine->Advance(5000ms);
    EXPECT_TRUE(LeftButtonShown());
    ClickClient(100, 70);
    EXPECT_TRUE(RightButtonShown());
}

TEST_F(SideSwitchWithoutDriver, ClientOf100By90GivesButtonsOfHalfWidthAndAThirdHigh)
{
    tap::ui::WindowRef(window).SetPosition(tap::ui::ZOrder::Top, 0, 0, 106, 115,
                                           tap::ui::position::NoMove | tap::ui::position::NoZOrder);
    machine->WaitIdle();
    ASSERT_EQ(tap::ui::WindowRef(window).ClientRect(), (tap::ui::Rect{0, 0, 100, 90}));
    // (0, 0, 50, 30): outline at x 0 and 49, y 0 and 29, blue inside.
    EXPECT_EQ(ClientPixel(0, 0), kBlack);
    EXPECT_EQ(ClientPixel(49, 15), kBlack);
    EXPECT_EQ(ClientPixel(25, 29), kBlack);
    EXPECT_EQ(ClientPixel(1, 1), kBlue);
    EXPECT_EQ(ClientPixel(48, 28), kBlue);
    // (50, 0, 100, 30): outline at x 50 and 99, white inside.
    EXPECT_EQ(ClientPixel(50, 15), kBlack);
    EXPECT_EQ(ClientPixel(99, 15), kBlack);
    EXPECT_EQ(ClientPixel(51, 1), kWhite);
    EXPECT_EQ(ClientPixel(98, 28), kWhite);
    EXPECT_EQ(ClientPixel(75, 30), kDialogFace);
}

TEST_F(SideSwitchWithoutDriver, ClosingTheWindowEndsTheProcess)
{
    tap::desktop::Rect frame = machine->desktop().ScreenWindowRect(id);
    machine->Click({frame.right - 10, frame.top + 10});  // the close box
    std::optional<tapmachine::ProcessInfo> info = machine->process(process);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->running);
    EXPECT_EQ(info->exitCode, 0);
    EXPECT_EQ(info->name, "SideSwitch");
    EXPECT_TRUE(machine->windowSystem().TopLevelWindows().empty());

    uint32_t second = machine->StartProcess(kImage);
    machine->WaitIdle();
    ASSERT_EQ(machine->windowSystem().TopLevelWindows().size(), 1u);
    machine->KeyPress(0x1B);  // Esc
    EXPECT_FALSE(machine->process(second)->running);
    EXPECT_EQ(machine->processes().size(), 2u);
}

class SideSwitchWithMonotap : public SideSwitchMachine {
protected:
    void SetUp() override { Boot(true); }

    // The driver's one-shot flag, as IOCTL_TOUCH_GET_RIGHT_CLICK reads it.
    uint32_t DriverArmed()
    {
        tapkernel::Kernel &kernel = machine->kernel();
        PFILE_OBJECT file = nullptr;
        EXPECT_EQ(kernel.OpenFile(u"\\??\\MonotapSymLnk1", GENERIC_READ | GENERIC_WRITE, &file), 0);
        ULONG armed = 0xFFFF;
        ULONG_PTR information = 0;
        EXPECT_EQ(kernel.DeviceIoControl(file, IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, &armed, sizeof armed,
                                         &information),
                  0);
        kernel.CloseFile(file);
        machine->WaitIdle();
        return armed;
    }
};

TEST_F(SideSwitchWithMonotap, StartsWithTheLeftButtonAndNothingArmed)
{
    EXPECT_TRUE(LeftButtonShown());
    EXPECT_EQ(DriverArmed(), 0u);
}

TEST_F(SideSwitchWithMonotap, ATapOnTheWindowArmsTheRightClickAndShowsItAtOnce)
{
    const tapmachine::Ticks before = machine->Now();
    TapClient(60, 60);
    EXPECT_LT(machine->Now() - before, 100 * tapmachine::kTicksPerMillisecond);  // no timer tick needed
    EXPECT_TRUE(RightButtonShown());
    EXPECT_EQ(DriverArmed(), 1u);
}

TEST_F(SideSwitchWithMonotap, TheNextTouchElsewhereIsARightClickAndTheLeftButtonReturns)
{
    TapClient(60, 60);
    machine->mouse().TakeRecords();
    Tap(200, 150);
    std::vector<tapmachine::MouseRecord> records = machine->mouse().TakeRecords();
    ASSERT_GE(records.size(), 4u);
    const uint16_t sequence[] = {0x0002, 0x0004, 0x0008};  // left up, right down, right up
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].buttonFlags, sequence[i]) << "record " << i;
        EXPECT_NEAR(tapmachine::MouseInput::AbsoluteToPixel(records[i].lastX, 1024), 200, 1);
        EXPECT_NEAR(tapmachine::MouseInput::AbsoluteToPixel(records[i].lastY, 768), 150, 1);
    }
    EXPECT_EQ(records.back().buttonFlags, 0x0002);  // the lift
    EXPECT_EQ(DriverArmed(), 0u);
    machine->Advance(500ms);
    EXPECT_TRUE(LeftButtonShown());
}

TEST_F(SideSwitchWithMonotap, AMouseClickWhileTheRightButtonShowsKeepsItShown)
{
    TapClient(60, 60);
    ClickClient(60, 60);  // turns right mode off; the repaint reads the flag, still armed
    EXPECT_TRUE(RightButtonShown());
    machine->Advance(2000ms);
    EXPECT_TRUE(RightButtonShown());
    EXPECT_EQ(DriverArmed(), 1u);
}

TEST_F(SideSwitchWithMonotap, TheClickThatTurnsRightModeOffDoesNotArmTheDriverAgain)
{
    ClickClient(70, 10);  // on the right button: arms
    ASSERT_EQ(DriverArmed(), 1u);
    Tap(200, 150);  // uses the flag up; the window has not repainted since
    ASSERT_EQ(DriverArmed(), 0u);
    ClickClient(70, 10);  // right mode off: nothing may be sent
    EXPECT_EQ(DriverArmed(), 0u);
    EXPECT_TRUE(LeftButtonShown());

    machine->mouse().TakeRecords();
    Tap(200, 150);
    std::vector<tapmachine::MouseRecord> records = machine->mouse().TakeRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].buttonFlags, 0x0001) << "the next touch is a left click";
}

TEST_F(SideSwitchWithMonotap, TheProcessClosesItsControlDeviceHandleWhenItEnds)
{
    machine->KeyPress(0x1B);
    EXPECT_FALSE(machine->process(process)->running);
    // The driver can go: nothing holds its control device open any more.
    EXPECT_EQ(machine->RemoveDevice(machine->Devices().back().instanceId), 0);
}

}  // namespace
}  // namespace sideswitchtest
