// Windows on the desktop: Z order with the topmost band and owners, hit testing, exposure of what
// a change uncovers, and the routing of pointer and keyboard input.
#include <gtest/gtest.h>

#include <vector>

#include "tap/desktop/Desktop.h"

namespace tap::desktop {
namespace {

struct Event {
    WindowId window;
    Point at;
    MouseButton button;
    bool down;
};

class RecordingSystem : public WindowSystem {
public:
    void Exposed(WindowId window, const Region& area) override { exposed.emplace_back(window, area); }
    void MouseButtonEvent(WindowId window, Point screen, MouseButton button, bool down) override
    {
        buttons.push_back({window, screen, button, down});
    }
    void MouseMoved(WindowId window, Point) override { moves.push_back(window); }
    void KeyEvent(WindowId focus, uint32_t key, bool down) override
    {
        if (down) keys.emplace_back(focus, key);
    }

    std::vector<std::pair<WindowId, Region>> exposed;
    std::vector<Event> buttons;
    std::vector<WindowId> moves;
    std::vector<std::pair<WindowId, uint32_t>> keys;
};

WindowPlace TopLevel(Rect r, bool topmost = false)
{
    WindowPlace p;
    p.window = r;
    p.client = {r.left + 3, r.top + 22, r.right - 3, r.bottom - 3};
    p.visible = true;
    p.topmost = topmost;
    return p;
}

class DesktopWindows : public testing::Test {
protected:
    void SetUp() override { desktop.SetWindowSystem(&system); }
    LocalScheduler scheduler;
    Desktop desktop{scheduler};
    RecordingSystem system;
};

TEST_F(DesktopWindows, NewWindowsGoOnTopButStayBelowTheTopmostBand)
{
    WindowId pinned = desktop.Create(TopLevel({0, 0, 100, 100}, true));
    WindowId a = desktop.Create(TopLevel({0, 0, 100, 100}));
    WindowId b = desktop.Create(TopLevel({0, 0, 100, 100}));
    EXPECT_EQ(desktop.Children(kNoWindow), (std::vector<WindowId>{pinned, b, a}));
    EXPECT_EQ(desktop.WindowAt({50, 10}), pinned);

    desktop.SetZOrder(a, ZPlace::Topmost);
    EXPECT_EQ(desktop.Children(kNoWindow), (std::vector<WindowId>{a, pinned, b}));
    desktop.SetZOrder(a, ZPlace::NoTopmost);
    EXPECT_EQ(desktop.Children(kNoWindow), (std::vector<WindowId>{pinned, a, b}));
    desktop.SetZOrder(pinned, ZPlace::Bottom);
    EXPECT_EQ(desktop.Children(kNoWindow), (std::vector<WindowId>{a, b, pinned}));
    EXPECT_FALSE(desktop.Place(pinned).topmost);
    desktop.PlaceBelow(a, b);
    EXPECT_EQ(desktop.Children(kNoWindow), (std::vector<WindowId>{b, a, pinned}));
}

TEST_F(DesktopWindows, OwnedWindowsStayAboveTheirOwner)
{
    WindowId owner = desktop.Create(TopLevel({0, 0, 100, 100}, true));
    WindowPlace boxPlace = TopLevel({10, 10, 50, 50});
    boxPlace.owner = owner;
    WindowId box = desktop.Create(boxPlace);
    EXPECT_TRUE(desktop.Place(box).topmost); // owned by a topmost window
    WindowId other = desktop.Create(TopLevel({0, 0, 10, 10}, true));
    desktop.SetZOrder(owner, ZPlace::Top);
    std::vector<WindowId> order = desktop.Children(kNoWindow);
    EXPECT_EQ(order, (std::vector<WindowId>{box, owner, other}));
}

TEST_F(DesktopWindows, HitTestFindsTheDeepestEnabledChild)
{
    WindowId top = desktop.Create(TopLevel({100, 100, 300, 300}));
    WindowPlace child;
    child.parent = top;
    child.window = child.client = {10, 10, 60, 40};
    child.visible = true;
    WindowId button = desktop.Create(child);
    EXPECT_EQ(desktop.ScreenWindowRect(button), (Rect{113, 132, 163, 162}));
    EXPECT_EQ(desktop.WindowAt({113, 132}), button);
    EXPECT_EQ(desktop.WindowAt({112, 132}), top);
    EXPECT_EQ(desktop.WindowAt({150, 105}), top);  // caption: the top-level window itself
    EXPECT_EQ(desktop.WindowAt({99, 99}), kNoWindow);

    child.enabled = false;
    desktop.Move(button, child);
    EXPECT_EQ(desktop.WindowAt({113, 132}), top);
    child.enabled = true;
    child.visible = false;
    desktop.Move(button, child);
    EXPECT_EQ(desktop.WindowAt({113, 132}), top);
}

TEST_F(DesktopWindows, MovingAWindowExposesWhatItUncoveredAndRepaintsTheBackground)
{
    WindowId below = desktop.Create(TopLevel({0, 0, 200, 200}));
    WindowId above = desktop.Create(TopLevel({50, 50, 150, 150}));
    {
        auto lock = desktop.LockScreen();
        desktop.Screen().SetPixel(250, 10, 0);
    }
    system.exposed.clear();
    desktop.Move(above, TopLevel({150, 0, 300, 100}));

    Region expected(Rect{50, 50, 150, 150});
    expected.Subtract(Rect{150, 0, 300, 100});
    Region uncovered;
    Region moved;
    for (const auto& [window, area] : system.exposed) {
        (window == below ? uncovered : moved).Add(area);
    }
    Region difference = uncovered;
    difference.Subtract(expected);
    EXPECT_TRUE(difference.Empty());
    EXPECT_TRUE(uncovered.Contains({60, 60}));
    EXPECT_TRUE(moved.Contains({160, 10}) && moved.Contains({299, 99}));

    desktop.Destroy(above);
    auto lock = desktop.LockScreen();
    EXPECT_EQ(desktop.Screen().Pixel(250, 10), kDesktopColor);
}

TEST_F(DesktopWindows, VisibleRegionLeavesOutWindowsAbove)
{
    WindowId below = desktop.Create(TopLevel({0, 0, 100, 100}));
    desktop.Create(TopLevel({50, 0, 150, 100}));
    Region visible = desktop.VisibleRegion(below, false);
    EXPECT_TRUE(visible.Contains({49, 50}));
    EXPECT_FALSE(visible.Contains({50, 50}));
    Region client = desktop.VisibleRegion(below, true);
    EXPECT_FALSE(client.Contains({10, 10}));
    EXPECT_TRUE(client.Contains({10, 30}));
}

TEST_F(DesktopWindows, PointerReportsMoveTheCursorAndRouteButtonsToTheWindowUnderIt)
{
    WindowId w = desktop.Create(TopLevel({512, 384, 600, 500}));
    desktop.PointerEvent(32768, 32768, kLeftButtonDown | kLeftButtonUp);
    EXPECT_EQ(desktop.Cursor(), (Point{512, 384}));
    ASSERT_EQ(system.buttons.size(), 2u);
    EXPECT_EQ(system.buttons[0].window, w);
    EXPECT_TRUE(system.buttons[0].down);
    EXPECT_FALSE(system.buttons[1].down);
    EXPECT_EQ(system.moves, std::vector<WindowId>{w});

    desktop.PointerEvent(65535, 65535, kRightButtonDown);
    EXPECT_EQ(desktop.Cursor(), (Point{1023, 767}));
    EXPECT_EQ(system.buttons.size(), 2u); // nothing under the cursor: the desktop takes it

    desktop.SetCapture(w);
    desktop.MouseUp({0, 0}, MouseButton::Right);
    ASSERT_EQ(system.buttons.size(), 3u);
    EXPECT_EQ(system.buttons[2].window, w);
    EXPECT_EQ(system.buttons[2].button, MouseButton::Right);
}

TEST_F(DesktopWindows, KeysGoToTheFocusOrElseTheActiveWindow)
{
    WindowId w = desktop.Create(TopLevel({0, 0, 10, 10}));
    desktop.KeyPress(kKeyEscape);
    EXPECT_TRUE(system.keys.empty());
    desktop.SetActive(w);
    desktop.KeyPress(kKeyEnter);
    WindowPlace child;
    child.parent = w;
    child.visible = true;
    WindowId edit = desktop.Create(child);
    desktop.SetFocus(edit);
    desktop.KeyPress(kKeyTab);
    EXPECT_EQ(system.keys, (std::vector<std::pair<WindowId, uint32_t>>{{w, kKeyEnter}, {edit, kKeyTab}}));
    desktop.Destroy(w);
    EXPECT_EQ(desktop.Focus(), kNoWindow);
    EXPECT_EQ(desktop.Active(), kNoWindow);
}

TEST_F(DesktopWindows, AnActivatedWindowTakesTheKeyboardFromAnotherWindowsFocus)
{
    WindowId sheet = desktop.Create(TopLevel({0, 0, 10, 10}));
    WindowPlace child;
    child.parent = sheet;
    child.visible = true;
    WindowId control = desktop.Create(child);
    desktop.SetActive(sheet);
    desktop.SetFocus(control);
    desktop.SetActive(sheet); // activated again: the focus inside it stays
    EXPECT_EQ(desktop.Focus(), control);
    WindowId other = desktop.Create(TopLevel({0, 0, 20, 20}));
    desktop.SetActive(other); // e.g. a program started from the sheet shows its window
    desktop.KeyPress(kKeyEscape);
    EXPECT_EQ(system.keys, (std::vector<std::pair<WindowId, uint32_t>>{{other, kKeyEscape}}));
}

} // namespace
} // namespace tap::desktop

namespace tap::desktop {
namespace {

int Area(const Region& region)
{
    int area = 0;
    for (const Rect& r : region.Rects()) {
        area += r.Width() * r.Height();
    }
    return area;
}

TEST(Regions, AddSubtractAndIntersectKeepDisjointRectangles)
{
    Region region(Rect{0, 0, 10, 10});
    region.Add(Rect{5, 5, 15, 15});
    EXPECT_EQ(Area(region), 100 + 100 - 25);
    region.Subtract(Rect{2, 2, 8, 8});
    EXPECT_EQ(Area(region), 175 - 36);
    EXPECT_FALSE(region.Contains({5, 5}));
    EXPECT_TRUE(region.Contains({9, 9}));
    region.Intersect(Rect{0, 0, 10, 10});
    EXPECT_EQ(Area(region), 100 - 36);
    EXPECT_EQ(region.Bounds(), (Rect{0, 0, 10, 10}));
    EXPECT_EQ(Area(region.Offset(3, 4)), 64);
}

} // namespace
} // namespace tap::desktop
