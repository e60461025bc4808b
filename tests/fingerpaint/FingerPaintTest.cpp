// FingerPaint.exe on the simulated PC with the real Polytap driver (the build of the Polytap
// setting) and without any driver (the build as shipped, for Polyusb): what it draws for one and
// two fingers, how it ends, its messages, its About box, and that its polling loop leaves the
// machine idle and the host's processors alone while nothing happens.
#include "PolytapSystem.h"

#include "tap/desktop/Desktop.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace fingerpainttest {
namespace {

using namespace std::chrono_literals;
using tap::desktop::Rgb;
using tapmachine::RawPoint;

constexpr char16_t kPolytapBuild[] = u"C:\\WINDOWS\\PolytapDrv\\FingerPaint.exe";
constexpr char16_t kPolyusbBuild[] = u"C:\\WINDOWS\\PolyusbDrv\\FingerPaint.exe";
constexpr Rgb kRed = tap::desktop::MakeRgb(255, 0, 0);
constexpr Rgb kFace = tap::desktop::MakeRgb(0xD4, 0xD0, 0xC8);

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// With the pixel calibration a raw position is the pixel itself.
class FingerPaintOnPolytap : public polytaptest::PolytapMachine {
protected:
    void SetUp() override
    {
        machine.InstallProgram(FINGERPAINT_POLYTAP_MODULE, kPolytapBuild, true);
        machine.InstallProgram(FINGERPAINT_MODULE, kPolyusbBuild, true);
        AttachController();
        Start();
        machine.Settle();
    }

    tapmachine::TouchController &Finger() { return machine.comPort(1).controller(); }

    void StartPaint(const char16_t *image = kPolytapBuild)
    {
        process = machine.StartProcess(image);
        machine.WaitIdle();
    }

    bool Running() { return machine.process(process)->running; }

    Rgb Pixel(int x, int y)
    {
        auto lock = machine.desktop().LockScreen();
        return machine.desktop().Screen().Pixel(x, y);
    }

    std::vector<tap::ui::host::MessageBoxRecord> OpenBoxes() { return machine.windowSystem().OpenMessageBoxes(); }

    void Touch(uint16_t x, uint16_t y)
    {
        Finger().TouchRaw({x, y});
        machine.Settle();
    }
    void Move(uint16_t x, uint16_t y)
    {
        Finger().MoveRaw({x, y});
        machine.Settle();
    }
    void Lift()
    {
        Finger().Lift();
        machine.Settle();
    }

    uint32_t process = 0;
};

TEST_F(FingerPaintOnPolytap, CoversTheScreenAndDrawsADotThenASixPixelLine)
{
    StartPaint();
    auto windows = machine.windowSystem().TopLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    tap::desktop::WindowId id = machine.windowSystem().DesktopIdOf(windows[0]);
    EXPECT_EQ(machine.desktop().ScreenWindowRect(id), (tap::desktop::Rect{0, 0, 1024, 768}));
    EXPECT_EQ(Pixel(100, 100), kFace);

    Touch(100, 100);
    EXPECT_EQ(Pixel(100, 100), kRed);
    EXPECT_EQ(Pixel(102, 100), kRed);
    EXPECT_EQ(Pixel(105, 100), kFace);  // a dot of 6 pixels across
    Move(200, 100);
    EXPECT_EQ(Pixel(150, 98), kRed);
    EXPECT_EQ(Pixel(150, 102), kRed);
    EXPECT_EQ(Pixel(150, 104), kFace);
    EXPECT_EQ(Pixel(150, 96), kFace);
    Lift();
    // Set down elsewhere: a dot, no line back to where the finger left.
    Touch(200, 400);
    EXPECT_EQ(Pixel(200, 400), kRed);
    EXPECT_EQ(Pixel(200, 250), kFace);
    Lift();
    EXPECT_TRUE(Running());
}

TEST_F(FingerPaintOnPolytap, TwoFingersDrawTwoLinesAndTheStayingOneContinuesFromItsOwnPlace)
{
    StartPaint();
    Finger().TouchContactsRaw({{{300, 200}, 0}, {{600, 200}, 1}});
    machine.Settle();
    Finger().MoveContactsRaw({{{300, 300}, 0}, {{600, 300}, 1}});
    machine.Settle();
    EXPECT_EQ(Pixel(300, 250), kRed);
    EXPECT_EQ(Pixel(600, 250), kRed);
    EXPECT_EQ(Pixel(450, 250), kFace);
    // The first finger (identifier 0) leaves; the second goes on from where it is.
    Finger().LiftContact(0);
    machine.Settle();
    Move(700, 300);
    EXPECT_EQ(Pixel(650, 300), kRed);
    EXPECT_EQ(Pixel(500, 300), kFace);  // no line from the first finger's place
}

TEST_F(FingerPaintOnPolytap, MiddleClickWipesAndDrawingGoesOn)
{
    StartPaint();
    Touch(100, 100);
    Move(200, 100);
    machine.Click({900, 700}, tapmachine::MouseButton::Middle);
    EXPECT_EQ(Pixel(150, 100), kFace);
    Move(300, 100);
    EXPECT_EQ(Pixel(250, 100), kRed);
    EXPECT_EQ(Pixel(150, 100), kFace);
}

TEST_F(FingerPaintOnPolytap, RightClickEndsTheProgramAndTurnsDataModeOff)
{
    StartPaint();
    Touch(100, 100);
    Lift();
    machine.Click({900, 700}, tapmachine::MouseButton::Right);
    EXPECT_FALSE(Running());
    EXPECT_TRUE(machine.windowSystem().TopLevelWindows().empty());
    // The driver's data mode is off again: the stop request went after the window had closed.
    EXPECT_EQ(TakeFrame().ContactCount, CONTACT_COUNT_DATA_MODE_OFF);
}

TEST_F(FingerPaintOnPolytap, EscEndsTheProgramAndShowsTheCursor)
{
    StartPaint();
    const int cursor = machine.windowSystem().CursorCount();
    machine.KeyPress(tap::desktop::kKeyEscape);
    EXPECT_FALSE(Running());
    EXPECT_EQ(machine.windowSystem().CursorCount(), cursor + 1);
    EXPECT_EQ(TakeFrame().ContactCount, CONTACT_COUNT_DATA_MODE_OFF);
}

TEST_F(FingerPaintOnPolytap, DataModeTurnedOffBehindItsBackIsReportedAndTurnedOnAgain)
{
    StartPaint();
    EXPECT_EQ(Control(IOCTL_TOUCH_STOP_DATA_MODE).status, STATUS_SUCCESS);
    machine.WaitIdle();
    auto boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Warning: please enter get data mode first!");
    EXPECT_EQ(boxes[0].caption, "FingerPaint");
    machine.windowSystem().AnswerMessageBox(tap::ui::answer::Ok);
    machine.WaitIdle();
    EXPECT_TRUE(OpenBoxes().empty());
    Touch(400, 400);
    EXPECT_EQ(Pixel(400, 400), kRed);
}

TEST_F(FingerPaintOnPolytap, AClosedComPortStopsDrawingWithTheSerialDriversMessage)
{
    StartPaint();
    // The port closed from the Control Panel's applet, as another tool does it.
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.WaitIdle();
    auto boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Warning: COM port has been disabled or occupied by other device!");
    machine.windowSystem().AnswerMessageBox(tap::ui::answer::Ok);
    machine.WaitIdle();
    // The window stays until the user closes it.
    EXPECT_TRUE(Running());
    machine.Click({900, 700}, tapmachine::MouseButton::Right);
    EXPECT_FALSE(Running());
}

TEST_F(FingerPaintOnPolytap, WithoutItsDriverItSaysSoOnceAndEnds)
{
    StartPaint(kPolyusbBuild);
    auto boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Open Touch Screen Driver Fail!");
    EXPECT_EQ(boxes[0].caption, "FingerPaint");
    machine.windowSystem().AnswerMessageBox(tap::ui::answer::Ok);
    machine.WaitIdle();
    EXPECT_FALSE(Running());
    EXPECT_EQ(machine.windowSystem().MessageBoxes().size(), 1u);
    // It never turned data mode on.
    EXPECT_EQ(TakeFrame().ContactCount, CONTACT_COUNT_DATA_MODE_OFF);
}

TEST_F(FingerPaintOnPolytap, TheAboutBoxComesFromTheSystemMenuAndWhatItCoveredIsRepaintedEmpty)
{
    StartPaint();
    tap::ui::WindowHandle paint = machine.windowSystem().TopLevelWindows().at(0);
    EXPECT_EQ(machine.windowSystem().SystemMenuItems(paint),
              (std::vector<std::string>{"", "关于 FingerPaint(&A)..."}));
    ASSERT_TRUE(machine.windowSystem().ChooseSystemMenuItem(paint, "关于 FingerPaint(A)..."));
    machine.WaitIdle();
    auto windows = machine.windowSystem().TopLevelWindows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(tap::ui::WindowRef(windows[0]).Text(), "关于 FingerPaint");
    tap::desktop::Rect about = machine.desktop().ScreenWindowRect(machine.windowSystem().DesktopIdOf(windows[0]));
    const int y = (about.top + about.bottom) / 2;
    const Rgb covered = Pixel(about.left + 20, y);
    // PaintThread draws on while the About box is open, but not over it.
    Touch(static_cast<uint16_t>(about.right + 100), static_cast<uint16_t>(y));
    Move(static_cast<uint16_t>(about.left + 10), static_cast<uint16_t>(y));
    EXPECT_EQ(Pixel(about.right + 50, y), kRed);
    EXPECT_EQ(Pixel(about.left + 20, y), covered);
    machine.KeyPress(tap::desktop::kKeyEnter);
    EXPECT_EQ(machine.windowSystem().TopLevelWindows().size(), 1u);
    EXPECT_EQ(Pixel(about.left + 20, y), kFace);
    EXPECT_EQ(Pixel(about.right + 50, y), kRed);
}

// While nothing is queued the polling thread waits as idle: the machine settles, and the host
// spends no processor time on it.
TEST_F(FingerPaintOnPolytap, PollingWithNothingQueuedKeepsTheMachineIdleAndTheHostQuiet)
{
    auto draw = [this] {
        const auto begin = std::chrono::steady_clock::now();
        Finger().TouchContactsRaw({{{100, 100}, 0}, {{100, 500}, 1}});
        for (uint16_t step = 1; step <= 40; ++step) {
            const auto x = static_cast<uint16_t>(100 + 20 * step);
            Finger().MoveContactsRaw({{{x, 100}, 0}, {{x, 500}, 1}});
        }
        Finger().Lift();
        machine.Settle();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    const double without = draw();
    StartPaint();
    const double with = draw();
    EXPECT_EQ(Pixel(500, 100), kRed);
    EXPECT_EQ(Pixel(500, 500), kRed);
    EXPECT_LT(with, 3 * without + 0.5) << "without FingerPaint " << without << " s, with it " << with << " s";

    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(300ms);
    machine.WaitIdle();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpu, 0.1) << "the host spent " << cpu << " s of processor time in 0.3 s of nothing happening";
    machine.Advance(1000ms);  // the clock moving wakes the poller, which goes back to waiting
    EXPECT_TRUE(Running());
}

} // namespace
} // namespace fingerpainttest
