// Calibration mapping, mouse modes, interactive hold, one-shot right click and beep requests.
#include "MonoHarness.h"

#include <gtest/gtest.h>

namespace {

constexpr USHORT kDown = MOUSE_LEFT_BUTTON_DOWN;
constexpr USHORT kUp = MOUSE_LEFT_BUTTON_UP;
constexpr USHORT kRightDown = MOUSE_RIGHT_BUTTON_DOWN;
constexpr USHORT kRightUp = MOUSE_RIGHT_BUTTON_UP;
constexpr USHORT kAbs = MOUSE_MOVE_ABSOLUTE;

// Maps one raw position with a fresh report record and returns LastX, LastY.
std::pair<LONG, LONG> Map(const CalibrationData &calibration, ULONG rawX, ULONG rawY, LONG startX = -1,
                          LONG startY = -1)
{
    MOUSE_INPUT_DATA input = {};
    input.LastX = startX;
    input.LastY = startY;
    ClampToCalibration(&calibration, &rawX, &rawY);
    MapToAbsolute(&calibration, rawX, rawY, &input);
    return {input.LastX, input.LastY};
}

TEST(CalibrationMapping, StraightAxesWithClamping)
{
    CalibrationData calibration = {75000, 325000, 75000, 325000, 0, 1024, 768};
    EXPECT_EQ(Map(calibration, 2000, 1000), std::make_pair(32767, 6553));
    EXPECT_EQ(Map(calibration, 500, 750).first, 0);      // clamped up to 750
    EXPECT_EQ(Map(calibration, 4000, 750).first, 65535); // clamped down to 3250
    EXPECT_EQ(Map(calibration, 750, 3250), std::make_pair(0, 65535));
}

TEST(CalibrationMapping, SwappedAxes)
{
    CalibrationData calibration = {325000, 75000, 75000, 325000, 1, 1024, 768};
    EXPECT_EQ(Map(calibration, 1000, 2000), std::make_pair(32767, 6553));
    // Orientation 3 is the same as 1, and 2 the same as 0.
    CalibrationData three = calibration;
    three.Orientation = 3;
    EXPECT_EQ(Map(three, 1000, 2000), Map(calibration, 1000, 2000));
    CalibrationData zero = {75000, 325000, 75000, 325000, 0, 1024, 768};
    CalibrationData two = zero;
    two.Orientation = 2;
    EXPECT_EQ(Map(two, 1234, 2345), Map(zero, 1234, 2345));
}

TEST(CalibrationMapping, ReversedRawAxisRunsTheOtherWay)
{
    // Start larger than End: raw 3250 is the left edge, 750 the right edge.
    CalibrationData calibration = {325000, 75000, 75000, 325000, 0, 1024, 768};
    EXPECT_EQ(Map(calibration, 3250, 750).first, 0);
    EXPECT_EQ(Map(calibration, 750, 750).first, 65535);
    EXPECT_EQ(Map(calibration, 5000, 750).first, 0); // clamped to 3250
}

TEST(CalibrationMapping, DegenerateAxisKeepsItsCoordinate)
{
    CalibrationData flatX = {100000, 100000, 75000, 325000, 0, 1024, 768};
    EXPECT_EQ(Map(flatX, 2000, 3250, 1234, 99), std::make_pair(1234, 65535));
    // The installer's all-zero record maps every touch to 0,0 (from a report record at 0,0).
    CalibrationData zeros = {0, 0, 0, 0, 0, 1024, 768};
    EXPECT_EQ(Map(zeros, 2000, 3000, 0, 0), std::make_pair(0, 0));
}

TEST(CalibrationMapping, DivisionByHundredTruncatesTowardZero)
{
    // 75099 / 100 = 750 and 325099 / 100 = 3250: the same bounds as 75000..325000.
    CalibrationData calibration = {75099, 325099, 75099, 325099, 0, 1024, 768};
    EXPECT_EQ(Map(calibration, 2000, 1000), std::make_pair(32767, 6553));
}

TEST(CalibrationMapping, WideSpanMapsExactly)
{
    // A span of 65535 raw units: (raw - start) * 65535 exceeds 32 bits, the result must not.
    CalibrationData calibration = {0, 6553500, 0, 6553500, 0, 1024, 768};
    EXPECT_EQ(Map(calibration, 40000, 65535), std::make_pair(40000, 65535));
    CalibrationData swapped = {6553500, 0, 0, 6553500, 1, 1024, 768};
    EXPECT_EQ(Map(swapped, 40000, 50000), std::make_pair(50000, 40000));
}

TEST(CalibrationMapping, AnEdgeBeyondRawZeroStillBoundsTheAxis)
{
    // RawXStart -100 is raw -1: raw 500 lies half way to raw 1000, and raw values beyond 1000 stop
    // at the screen edge instead of mapping past 65535 (found by the decoder fuzz target).
    CalibrationData calibration = {-100, 100000, 75000, 325000, 0, 1024, 768};
    EXPECT_EQ(Map(calibration, 500, 750).first, 32800);
    EXPECT_EQ(Map(calibration, 2000, 750).first, 65535);
    CalibrationData bothNegative = {-500000, -100000, -20000, 0, 0, 1024, 768};
    EXPECT_EQ(Map(bothNegative, 4000, 1000), std::make_pair(65535, 65535));
    CalibrationData swapped = {100000, -100, 0, -6553500, 1, 1024, 768};
    EXPECT_EQ(Map(swapped, 500, 30000), std::make_pair(0, 32800));
}

class PointerEngineTest : public ::testing::Test {
protected:
    void SetUp() override { harness.Calibrate(0, 6553500, 0, 6553500, 0); }
    void Mode(ULONG mode) { Globals.Settings.MouseMode = mode; }
    // A touch that lands at P1, moves through P2 and lifts at P3.
    std::vector<Report> Stroke()
    {
        harness.Touch(1000, 1000);
        harness.Touch(2000, 2000);
        harness.Lift(3000, 3000);
        return harness.TakeReports();
    }
    MonoHarness harness;
};

TEST_F(PointerEngineTest, PointAndClickClicksWhereTheTouchWentDown)
{
    Mode(MODE_POINT_AND_CLICK);
    EXPECT_EQ(Stroke(), (std::vector<Report>{{kAbs, kDown, 1000, 1000}, {kAbs, kUp, 1000, 1000}}));
}

TEST_F(PointerEngineTest, DragThenClickClicksAtTheLift)
{
    Mode(MODE_DRAG_THEN_CLICK);
    Globals.Settings.BeepMode = BEEP_ON_TOUCH;
    harness.Touch(1000, 1000);
    EXPECT_TRUE(harness.TakeReports().empty());
    EXPECT_EQ(harness.TakeBeeps(), 0);
    harness.Touch(2000, 2000);
    EXPECT_EQ(harness.TakeBeeps(), 0);
    harness.Lift(3000, 3000);
    EXPECT_EQ(harness.TakeBeeps(), 1);
    harness.Lift(3000, 3000); // not touching without a transition: a plain move
    EXPECT_EQ(harness.TakeReports(),
              (std::vector<Report>{{kAbs, 0, 2000, 2000},
                                   {kAbs, kDown, 3000, 3000},
                                   {kAbs, kUp, 3000, 3000},
                                   {kAbs, 0, 3000, 3000}}));
    EXPECT_EQ(harness.TakeBeeps(), 0);
}

TEST_F(PointerEngineTest, ClickAndDragReportsEveryPacket)
{
    Mode(MODE_CLICK_AND_DRAG);
    EXPECT_EQ(Stroke(), (std::vector<Report>{{kAbs, kDown, 1000, 1000},
                                             {kAbs, 0, 2000, 2000},
                                             {kAbs, kUp, 3000, 3000}}));
}

TEST_F(PointerEngineTest, InteractiveWithoutHoldTimeIsClickAndDrag)
{
    Mode(MODE_INTERACTIVE_TOUCH);
    Globals.Settings.InterActTime = 0;
    harness.Touch(1000, 1000);
    harness.Touch(1000, 1000);
    harness.Touch(1000, 1000);
    harness.Lift(1000, 1000);
    auto reports = harness.TakeReports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].buttons, kDown);
    EXPECT_EQ(reports[3].buttons, kUp);
    EXPECT_FALSE(Globals.RightClickArmed);
}

TEST_F(PointerEngineTest, UnknownModeReportsNothingButRawSampleFollows)
{
    Mode(7);
    Stroke();
    EXPECT_TRUE(harness.TakeReports().empty());
    EXPECT_EQ(Globals.LastRawSample.RawX, 3000u);
}

TEST_F(PointerEngineTest, InteractiveHoldGivesRightClickAtTheCompletingPacket)
{
    Mode(MODE_INTERACTIVE_TOUCH);
    Globals.Settings.InterActTime = 3;
    harness.Touch(1000, 1000); // first packet: previous position 0,0, not still
    harness.TakeReports();
    harness.Touch(1009, 1000);
    harness.Touch(1000, 1009);
    EXPECT_EQ(harness.TakeReports().size(), 2u);
    harness.Touch(1005, 1005);
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, kUp, 1005, 1005},
                                                          {kAbs, kRightDown, 1005, 1005},
                                                          {kAbs, kRightUp, 1005, 1005}}));
    EXPECT_FALSE(Globals.RightClickArmed);
    EXPECT_EQ(Globals.StillCount, 0u);
}

TEST_F(PointerEngineTest, InteractiveHoldRestartsOnMovementOfTen)
{
    Mode(MODE_INTERACTIVE_TOUCH);
    Globals.Settings.InterActTime = 3;
    harness.Touch(1000, 1000);
    harness.Touch(1005, 1000);
    harness.Touch(1005, 1010); // exactly 10: movement, the count starts again
    harness.Touch(1005, 1011);
    harness.Touch(1006, 1011);
    for (const Report &report : harness.TakeReports()) {
        EXPECT_EQ(report.buttons & (kRightDown | kRightUp), 0) << report;
    }
    EXPECT_EQ(Globals.StillCount, 2u);
    harness.Touch(1006, 1012);
    EXPECT_EQ(harness.TakeReports().size(), 3u); // the third still packet completes the hold
}

TEST_F(PointerEngineTest, HoldKeepsClickingEveryHoldTimePackets)
{
    Mode(MODE_INTERACTIVE_TOUCH);
    Globals.Settings.InterActTime = 2;
    harness.Touch(1000, 1000);
    int rightClicks = 0;
    for (int i = 0; i < 6; ++i) {
        harness.Touch(1000, 1000);
    }
    for (const Report &report : harness.TakeReports()) {
        rightClicks += report.buttons == kRightUp;
    }
    EXPECT_EQ(rightClicks, 3);
}

TEST_F(PointerEngineTest, ArmedRightClickReplacesTheNextReportOnce)
{
    Mode(MODE_CLICK_AND_DRAG);
    Globals.Settings.BeepMode = BEEP_ON_TOUCH;
    Globals.RightClickArmed = TRUE;
    harness.Touch(1000, 1000);
    EXPECT_EQ(harness.TakeBeeps(), 0) << "no beep for a right click";
    harness.Touch(1000, 1000);
    harness.Lift(1000, 1000);
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, kUp, 1000, 1000},
                                                          {kAbs, kRightDown, 1000, 1000},
                                                          {kAbs, kRightUp, 1000, 1000},
                                                          {kAbs, 0, 1000, 1000},
                                                          {kAbs, kUp, 1000, 1000}}));
    EXPECT_FALSE(Globals.RightClickArmed);
}

TEST_F(PointerEngineTest, NothingIsReportedBeforeTheAttributesAreQueried)
{
    harness.Extension().AttributesQueried = FALSE;
    Globals.RightClickArmed = TRUE;
    Stroke();
    EXPECT_TRUE(harness.TakeReports().empty());
    EXPECT_TRUE(Globals.RightClickArmed) << "an armed click waits for a reported packet";
    EXPECT_EQ(Globals.LastRawSample.RawX, 3000u);
    // The button flags were cleared after every packet: the next report starts clean.
    harness.Extension().AttributesQueried = TRUE;
    Globals.RightClickArmed = FALSE;
    harness.Lift(3000, 3000);
    EXPECT_EQ(harness.TakeReports(), (std::vector<Report>{{kAbs, 0, 3000, 3000}}));
}

TEST_F(PointerEngineTest, NoConnectionMeansNoDelivery)
{
    harness.Extension().ClassService = nullptr;
    Stroke();
    EXPECT_TRUE(harness.TakeReports().empty());
}

TEST_F(PointerEngineTest, BeepRulesInEveryMouseMode)
{
    // Beeps at the touch and at the lift of one stroke; Drag then Click clicks at the lift, so
    // either beep mode beeps there, once.
    struct Case {
        ULONG mouseMode;
        ULONG beepMode;
        int onTouch;
        int onLift;
    } cases[] = {
        {MODE_POINT_AND_CLICK, BEEP_OFF, 0, 0},       {MODE_POINT_AND_CLICK, BEEP_ON_TOUCH, 1, 0},
        {MODE_POINT_AND_CLICK, BEEP_ON_RELEASE, 0, 1}, {MODE_DRAG_THEN_CLICK, BEEP_OFF, 0, 0},
        {MODE_DRAG_THEN_CLICK, BEEP_ON_TOUCH, 0, 1},   {MODE_DRAG_THEN_CLICK, BEEP_ON_RELEASE, 0, 1},
        {MODE_DRAG_THEN_CLICK, 3, 0, 0},               {MODE_CLICK_AND_DRAG, BEEP_OFF, 0, 0},
        {MODE_CLICK_AND_DRAG, BEEP_ON_TOUCH, 1, 0},    {MODE_CLICK_AND_DRAG, BEEP_ON_RELEASE, 0, 1},
        {MODE_CLICK_AND_DRAG, 3, 0, 0},                {MODE_INTERACTIVE_TOUCH, BEEP_ON_TOUCH, 1, 0},
        {MODE_INTERACTIVE_TOUCH, BEEP_ON_RELEASE, 0, 1}, {7, BEEP_ON_TOUCH, 0, 0},
        {7, BEEP_ON_RELEASE, 0, 0},
    };
    for (const Case &c : cases) {
        Mode(c.mouseMode);
        Globals.Settings.BeepMode = c.beepMode;
        harness.Touch(1000, 1000);
        EXPECT_EQ(harness.TakeBeeps(), c.onTouch) << "mouse mode " << c.mouseMode << ", beep mode " << c.beepMode;
        harness.Touch(1100, 1000);
        EXPECT_EQ(harness.TakeBeeps(), 0) << "mouse mode " << c.mouseMode << ", beep mode " << c.beepMode;
        harness.Lift(1100, 1000);
        EXPECT_EQ(harness.TakeBeeps(), c.onLift) << "mouse mode " << c.mouseMode << ", beep mode " << c.beepMode;
        harness.TakeReports();
    }
}

TEST_F(PointerEngineTest, NoBeepWithoutBeepThread)
{
    Globals.Settings.BeepMode = BEEP_ON_TOUCH;
    harness.Extension().BeepThread = nullptr;
    harness.Touch(1000, 1000);
    EXPECT_EQ(harness.TakeBeeps(), 0);
}

TEST(ParameterDefaults, DefaultsLeaveEnableAlone)
{
    RtlZeroMemory(&Globals, sizeof(Globals));
    Globals.Settings.Enable = 1;
    SetDefaultParameters();
    const MonoPointerSettings expected = {2, 30, 0, 0, 0, 0, 1, 1};
    EXPECT_EQ(0, memcmp(&Globals.Settings, &expected, sizeof(expected)));
    const CalibrationData calibration = {0, 0, 0, 0, 0, 1024, 768};
    EXPECT_EQ(0, memcmp(&Globals.ActiveCalibration, &calibration, sizeof(calibration)));
}

} // namespace
