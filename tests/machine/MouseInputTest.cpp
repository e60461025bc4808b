// The cursor and button state the mouse class keeps from the reports it takes.
#include <machine/MouseInput.h>

#include <gtest/gtest.h>

using namespace tapmachine;

namespace {

MouseRecord Absolute(int32_t x, int32_t y, uint16_t buttons = 0)
{
    MouseRecord record;
    record.flags = 0x0001;
    record.lastX = x;
    record.lastY = y;
    record.buttonFlags = buttons;
    return record;
}

TEST(MouseInput, AbsoluteReportsSpanTheScreen)
{
    MouseInput mouse;
    mouse.Take(Absolute(0, 0));
    EXPECT_EQ(mouse.cursor(), (PixelPoint{0, 0}));
    mouse.Take(Absolute(65535, 65535));
    EXPECT_EQ(mouse.cursor(), (PixelPoint{1023, 767}));
    mouse.Take(Absolute(32768, 32768));
    EXPECT_EQ(mouse.cursor(), (PixelPoint{512, 384}));
    mouse.SetScreenSize(800, 600);
    mouse.Take(Absolute(65535, 0));
    EXPECT_EQ(mouse.cursor(), (PixelPoint{799, 0}));
    EXPECT_EQ(mouse.records().size(), 4u);
    EXPECT_EQ(mouse.TakeRecords().size(), 4u);
    EXPECT_TRUE(mouse.records().empty());
}

TEST(MouseInput, RelativeMovesStopAtTheEdges)
{
    MouseInput mouse;
    mouse.SetCursor({10, 10});
    MouseRecord relative;
    relative.lastX = -50;
    relative.lastY = 5;
    mouse.Take(relative);
    EXPECT_EQ(mouse.cursor(), (PixelPoint{0, 15}));
}

TEST(MouseInput, ButtonsAndListenersFollowTheTransitions)
{
    MouseInput mouse;
    std::vector<PointerEvent> events;
    int id = mouse.AddListener([&](const PointerEvent &e) { events.push_back(e); });

    mouse.Take(Absolute(0, 0, 0x0001));  // move and left down in one record
    EXPECT_TRUE(mouse.buttons().left);
    mouse.Take(Absolute(0, 0, 0x0002 | 0x0004));  // left up, right down, no move
    EXPECT_FALSE(mouse.buttons().left);
    EXPECT_TRUE(mouse.buttons().right);

    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, PointerEvent::Kind::Move);
    EXPECT_EQ(events[1].kind, PointerEvent::Kind::ButtonDown);
    EXPECT_EQ(events[1].button, MouseButton::Left);
    EXPECT_EQ(events[2].kind, PointerEvent::Kind::ButtonUp);
    EXPECT_EQ(events[3].button, MouseButton::Right);
    EXPECT_EQ(events[3].at, (PixelPoint{0, 0}));

    mouse.RemoveListener(id);
    mouse.Take(Absolute(100, 100, 0x0008));
    EXPECT_EQ(events.size(), 4u);
    EXPECT_FALSE(mouse.buttons().right);
}

}  // namespace
