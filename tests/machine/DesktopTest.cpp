// The machine's desktop and processes: programs started from drive C: on their own UI threads,
// window timers on the virtual clock, idle covering kernel and UI threads, the mouse class cursor
// as the desktop's pointer, and the window system's log.
#include "MachineTestSupport.h"

#include <machine/ProgramModule.h>

#include <ntddmou.h>

#include "tap/desktop/Desktop.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

#include <chrono>

namespace machinetest {
namespace {

using namespace std::chrono_literals;
using tap::ui::host::WindowEvent;

constexpr char16_t kTicker[] = u"C:\\Tools\\Ticker.exe";

std::string Caption(tapmachine::Machine &machine, size_t index = 0)
{
    auto windows = machine.windowSystem().TopLevelWindows();
    return index < windows.size() ? tap::ui::WindowRef(windows[index]).Text() : std::string("(none)");
}

// The window of the process whose caption starts with PREFIX.
tap::ui::WindowHandle WindowOf(tapmachine::Machine &machine, const std::string &prefix)
{
    for (tap::ui::WindowHandle window : machine.windowSystem().TopLevelWindows()) {
        if (tap::ui::WindowRef(window).Text().rfind(prefix, 0) == 0) {
            return window;
        }
    }
    return nullptr;
}

class Processes : public testing::Test {
protected:
    Processes() { machine.InstallProgram(TAP_TICKER_MODULE, kTicker, true); }

    uint32_t Start(const std::string &commandLine)
    {
        uint32_t id = machine.StartProcess(kTicker, commandLine);
        machine.WaitIdle();
        return id;
    }

    tapmachine::Machine machine;
};

TEST_F(Processes, AProgramRunsUntilItsWindowClosesAndItsRecordFollowsIt)
{
    uint32_t id = Start("first");
    EXPECT_EQ(Caption(machine), "first ticks 0");
    std::optional<tapmachine::ProcessInfo> info = machine.process(id);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->id, 1u);
    EXPECT_EQ(info->name, "Ticker");
    EXPECT_EQ(info->imagePath, kTicker);
    EXPECT_EQ(info->commandLine, "first");
    EXPECT_TRUE(info->running);

    machine.Advance(250ms);
    machine.KeyPress(tap::desktop::kKeyEscape);
    info = machine.process(id);
    EXPECT_FALSE(info->running);
    EXPECT_EQ(info->exitCode, 7);  // what WinMain returned
    EXPECT_EQ(info->ended - info->started, 250 * tapmachine::kTicksPerMillisecond);
    EXPECT_TRUE(machine.windowSystem().TopLevelWindows().empty());
}

TEST_F(Processes, TheInstanceHandleNamesTheImage)
{
    Start("module");
    tap::desktop::Rect client = machine.desktop().ScreenClientRect(
        machine.windowSystem().DesktopIdOf(machine.windowSystem().TopLevelWindows()[0]));
    machine.Click({client.left + 3, client.top + 4}, tapmachine::MouseButton::Right);
    auto boxes = machine.windowSystem().OpenMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "module C:\\Tools\\Ticker.exe");
}

TEST_F(Processes, WindowTimersFollowTheVirtualClock)
{
    Start("clock");
    machine.Advance(99ms);
    EXPECT_EQ(Caption(machine), "clock ticks 0");
    machine.Advance(1ms);
    EXPECT_EQ(Caption(machine), "clock ticks 1");
    const auto realStart = std::chrono::steady_clock::now();
    machine.Advance(std::chrono::minutes(1));
    EXPECT_EQ(Caption(machine), "clock ticks 601");  // every tick, none merged
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, 30s);
}

TEST_F(Processes, EachProcessHasItsOwnCopyOfTheImage)
{
    Start("one");
    machine.Advance(300ms);
    Start("two");
    machine.Advance(100ms);
    ASSERT_NE(WindowOf(machine, "one"), nullptr);
    EXPECT_EQ(tap::ui::WindowRef(WindowOf(machine, "one")).Text(), "one ticks 4");
    EXPECT_EQ(tap::ui::WindowRef(WindowOf(machine, "two")).Text(), "two ticks 1");
    EXPECT_EQ(machine.processes().size(), 2u);
}

TEST_F(Processes, WhatCannotBeStartedSaysWhy)
{
    auto reasonOf = [this](std::u16string_view path) {
        try {
            machine.StartProcess(path);
        } catch (const tapmachine::ProcessStartError &error) {
            return error.reason;
        }
        ADD_FAILURE() << "started";
        return tapmachine::ProcessStartError::Reason::NotFound;
    };
    using Reason = tapmachine::ProcessStartError::Reason;
    EXPECT_EQ(reasonOf(u"C:\\Tools\\Missing.exe"), Reason::NotFound);
    EXPECT_EQ(reasonOf(u"D:\\Ticker.exe"), Reason::NotFound);
    machine.files().WriteText(u"C:\\Tools\\Readme.exe", "not a program\n");
    EXPECT_EQ(reasonOf(u"C:\\Tools\\Readme.exe"), Reason::NotAProgram);
    machine.InstallProgram(TAP_PROBE_MODULE, u"C:\\Tools\\Probe.exe");  // loads, exports neither
    EXPECT_EQ(reasonOf(u"C:\\Tools\\Probe.exe"), Reason::NotAProgram);
    EXPECT_TRUE(machine.processes().empty());
}

TEST(MachineBoot, EveryMachineHasABootIdOfItsOwn)
{
    uint64_t first;
    {
        tapmachine::Machine machine;
        first = machine.bootId();
    }
    tapmachine::Machine machine;
    EXPECT_GT(machine.bootId(), first);
}

TEST_F(Processes, TheWindowSystemLogsWindowsAndMessageBoxesWithTheirProgram)
{
    Start("log");
    tap::desktop::Rect client = machine.desktop().ScreenClientRect(
        machine.windowSystem().DesktopIdOf(machine.windowSystem().TopLevelWindows()[0]));
    machine.Click({client.left + 3, client.top + 4});
    ASSERT_EQ(machine.windowSystem().OpenMessageBoxes().size(), 1u);
    machine.windowSystem().AnswerMessageBox(tap::ui::answer::Ok);
    machine.WaitIdle();
    machine.KeyPress(tap::desktop::kKeyEscape);

    std::vector<WindowEvent> events = machine.windowSystem().WindowEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, WindowEvent::Kind::WindowCreated);
    EXPECT_EQ(events[0].caption, "Ticker");  // the template's caption, before the program set its own
    EXPECT_EQ(events[0].program, "Ticker");
    EXPECT_EQ(events[1].kind, WindowEvent::Kind::MessageBoxShown);
    EXPECT_EQ(events[1].text, "clicked at 3,4");
    EXPECT_EQ(events[1].caption, "Ticker");
    EXPECT_EQ(events[2].kind, WindowEvent::Kind::MessageBoxClosed);
    EXPECT_EQ(events[2].answer, tap::ui::answer::Ok);
    EXPECT_EQ(events[3].kind, WindowEvent::Kind::WindowDestroyed);
    EXPECT_EQ(events[3].caption, "log ticks 0");
}

// The mouse class's cursor is the desktop's pointer: reports of a mouse device (TestMouse)
// reach the window under the cursor at the same pixel the mouse class put the cursor on.
class PointerFromTheMouseClass : public TestMouseMachine {
protected:
    static tapmachine::MachineOptions Screen()
    {
        tapmachine::MachineOptions options;
        options.screenWidth = 800;  // not a power of two: absolute units do not divide evenly
        options.screenHeight = 600;
        return options;
    }

    PointerFromTheMouseClass() : TestMouseMachine(Screen())
    {
        EXPECT_EQ(machine.StartDevice(node), 0);
        machine.InstallProgram(TAP_TICKER_MODULE, kTicker, true);
        machine.StartProcess(kTicker, "pointer");
        machine.WaitIdle();
    }
};

TEST_F(PointerFromTheMouseClass, CursorAndDesktopAgreeOnEveryPixel)
{
    for (int32_t absolute : {0, 81, 82, 12345, 32768, 65453, 65535}) {
        ASSERT_TRUE(TestDriverReport(machine, absolute, 65535 - absolute, MOUSE_MOVE_ABSOLUTE, 0));
        machine.WaitIdle();
        tapmachine::PixelPoint cursor = machine.mouse().cursor();
        tap::desktop::Point pointer = machine.desktop().Cursor();
        EXPECT_EQ(pointer.x, cursor.x) << absolute;
        EXPECT_EQ(pointer.y, cursor.y) << absolute;
    }
}

TEST_F(PointerFromTheMouseClass, ButtonReportsBecomeButtonMessagesOfTheWindowUnderTheCursor)
{
    tap::desktop::Rect client =
        machine.desktop().ScreenClientRect(machine.windowSystem().DesktopIdOf(machine.windowSystem().TopLevelWindows()[0]));
    const tapmachine::PixelPoint target{client.left + 10, client.top + 5};
    const int32_t x = (target.x * 65536 + 799) / 800, y = (target.y * 65536 + 599) / 600;
    ASSERT_TRUE(TestDriverReport(machine, x, y, MOUSE_MOVE_ABSOLUTE, MOUSE_LEFT_BUTTON_DOWN));
    ASSERT_TRUE(TestDriverReport(machine, x, y, MOUSE_MOVE_ABSOLUTE, MOUSE_LEFT_BUTTON_UP));
    machine.WaitIdle();
    ASSERT_EQ(machine.mouse().cursor(), target);
    auto boxes = machine.windowSystem().OpenMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "clicked at 10,5");
}

}  // namespace
}  // namespace machinetest
