// SideSwitch on the simulated desktop without a driver: where the window sits, what it shows,
// how it answers clicks and the timer, and how it closes. The driver's side (the one-shot flag
// armed and used up) comes with the simulated machine.
#include <gtest/gtest.h>

#include "SideSwitchApp.h"
#include "tap/ui/host/Session.h"

extern const tap::res::ResourceModule tapResources_SideSwitch;
extern int g_standinDeviceIoControlCalls;

namespace {

using namespace tap;

constexpr desktop::Rgb kBlue = desktop::MakeRgb(0, 0, 255);
constexpr desktop::Rgb kWhite = desktop::MakeRgb(255, 255, 255);
constexpr desktop::Rgb kBlack = 0;
constexpr desktop::Rgb kDialogFace = desktop::MakeRgb(0xD4, 0xD0, 0xC8);

class SideSwitchOnDesktop : public testing::Test {
protected:
    void SetUp() override
    {
        g_standinDeviceIoControlCalls = 0;
        program = session.StartProgram("SideSwitch", [] {
            sideswitch::SideSwitchApp application;
            return ui::RunProgram(application, ui::host::Session::ModuleOf(tapResources_SideSwitch), ui::show::Normal);
        });
        session.WaitUntilIdle();
        ASSERT_EQ(session.TopLevelWindows().size(), 1u);
        window = session.TopLevelWindows()[0];
        id = session.DesktopIdOf(window);
    }

    desktop::Rgb ClientPixel(int x, int y)
    {
        desktop::Rect client = desktop.ScreenClientRect(id);
        auto lock = desktop.LockScreen();
        return desktop.Screen().Pixel(client.left + x, client.top + y);
    }

    void ClickClient(int x, int y)
    {
        desktop::Rect client = desktop.ScreenClientRect(id);
        desktop.Click({client.left + x, client.top + y});
        session.WaitUntilIdle();
    }

    bool LeftButtonShown() { return ClientPixel(5, 5) == kBlue && ClientPixel(70, 5) == kWhite; }
    bool RightButtonShown() { return ClientPixel(5, 5) == kWhite && ClientPixel(70, 5) == kBlue; }

    desktop::LocalScheduler clock;
    desktop::Desktop desktop{clock};
    ui::host::Session session{desktop};
    ui::host::ProgramId program = 0;
    ui::WindowHandle window = nullptr;
    desktop::WindowId id = desktop::kNoWindow;
};

TEST_F(SideSwitchOnDesktop, SitsTopmostNearTheLowerRightCorner)
{
    // Dialog 102 is 78 x 70 dialog units in SimSun 9 (6 x 12 base units): a 117 x 105 client.
    // The window is then given that as its outer size, 1 pixel from the right edge and 50 above
    // the bottom; the frame (3) and caption (19) take their share of it.
    EXPECT_EQ(desktop.ScreenWindowRect(id), (desktop::Rect{906, 613, 1023, 718}));
    EXPECT_EQ(desktop.ScreenClientRect(id), (desktop::Rect{909, 635, 1020, 715}));
    EXPECT_TRUE(session.IsTopmost(window));
    EXPECT_TRUE(desktop.IsShown(id));
    EXPECT_EQ(ui::WindowRef(window).Icon(true), ui::WindowRef(window).Icon(false));
    EXPECT_NE(ui::WindowRef(window).Icon(true), nullptr);
    EXPECT_TRUE(desktop.SavePng(testing::TempDir() + "/sideswitch.png"));
}

TEST_F(SideSwitchOnDesktop, StartsWithTheLeftButtonInTheTopThird)
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

TEST_F(SideSwitchOnDesktop, WithoutDriverEachClickTogglesThePictureAndNothingIsSent)
{
    // Turning right mode on has nothing to send without a driver, so it does not repaint: the
    // 500 ms timer does. Turning it off repaints at once.
    ClickClient(60, 60);
    EXPECT_TRUE(LeftButtonShown());
    clock.Advance(500);
    EXPECT_TRUE(RightButtonShown());
    ClickClient(10, 10);
    EXPECT_TRUE(LeftButtonShown());
    ClickClient(100, 70);
    clock.Advance(500);
    EXPECT_TRUE(RightButtonShown());
    EXPECT_EQ(g_standinDeviceIoControlCalls, 0);
}

TEST_F(SideSwitchOnDesktop, WithoutDriverThePictureNeverChangesByItself)
{
    clock.Advance(5000);
    EXPECT_TRUE(LeftButtonShown());
    ClickClient(60, 60);
    clock.Advance(5000); // ten timer repaints
    EXPECT_TRUE(RightButtonShown());
}

TEST_F(SideSwitchOnDesktop, ClientOf100By90GivesButtonsOfHalfWidthAndAThirdHigh)
{
    ui::WindowRef(window).SetPosition(ui::ZOrder::Top, 0, 0, 106, 115,
                                      ui::position::NoMove | ui::position::NoZOrder);
    session.WaitUntilIdle();
    ASSERT_EQ(ui::WindowRef(window).ClientRect(), (ui::Rect{0, 0, 100, 90}));
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

TEST_F(SideSwitchOnDesktop, ClosesFromTheCloseBoxAndFromEscape)
{
    desktop::Rect frame = desktop.ScreenWindowRect(id);
    desktop.Click({frame.right - 10, frame.top + 10});
    session.WaitUntilIdle();
    EXPECT_TRUE(session.HasExited(program));
    EXPECT_EQ(session.ExitCode(program), 0);
    EXPECT_TRUE(session.TopLevelWindows().empty());

    ui::host::ProgramId second = session.StartProgram("SideSwitch", [] {
        sideswitch::SideSwitchApp application;
        return ui::RunProgram(application, ui::host::Session::ModuleOf(tapResources_SideSwitch), ui::show::Normal);
    });
    session.WaitUntilIdle();
    desktop.KeyPress(desktop::kKeyEscape);
    session.WaitUntilIdle();
    EXPECT_TRUE(session.HasExited(second));
}

} // namespace
