// FingerPaint's drawing rules on frames alone: dots, lines, the replies that are not frames, and
// the hand-over of the contact with identifier 1 between slots.
#include "PaintRules.h"

#include <gtest/gtest.h>

namespace fingerpaint {
namespace {

ContactFrame One(UCHAR state, UCHAR id, LONG x, LONG y)
{
    ContactFrame frame{};
    frame.ContactCount = 1;
    frame.Contact1State = state;
    frame.Contact1Id = id;
    frame.Contact1X = x;
    frame.Contact1Y = y;
    return frame;
}

ContactFrame Two(UCHAR state1, LONG x1, LONG y1, UCHAR state2, LONG x2, LONG y2)
{
    ContactFrame frame = One(state1, 0, x1, y1);
    frame.ContactCount = 2;
    frame.Contact2State = state2;
    frame.Contact2Id = 1;
    frame.Contact2X = x2;
    frame.Contact2Y = y2;
    return frame;
}

bool Is(const Stroke &stroke, tap::ui::Point from, tap::ui::Point to)
{
    return stroke.from == from && stroke.to == to;
}

TEST(PaintRules, RepliesThatAreNotFramesAreToldApart)
{
    ContactFrame reply{};
    EXPECT_EQ(ReplyOf(reply), Reply::NothingQueued);
    reply.ContactCount = 0xFE;
    EXPECT_EQ(ReplyOf(reply), Reply::DataModeOff);
    reply.ContactCount = 0xFF;
    EXPECT_EQ(ReplyOf(reply), Reply::NoPort);
    reply.ContactCount = 3;
    EXPECT_EQ(ReplyOf(reply), Reply::Frame);
}

TEST(PaintRules, OneFingerGivesADotThenLinesFromThePreviousPositionUpToTheLift)
{
    ContactFrame previous{};
    auto down = TakeFrame(One(ContactDown, 0, 10, 20), previous);
    ASSERT_EQ(down.size(), 1u);
    EXPECT_TRUE(Is(down[0], {10, 20}, {10, 20}));
    auto moved = TakeFrame(One(ContactMoved, 0, 30, 25), previous);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(Is(moved[0], {10, 20}, {30, 25}));
    auto lifted = TakeFrame(One(ContactLifted, 0, 40, 25), previous);
    ASSERT_EQ(lifted.size(), 1u);
    EXPECT_TRUE(Is(lifted[0], {30, 25}, {40, 25}));
    // A new touch elsewhere starts with a dot, not a line from the lift.
    auto again = TakeFrame(One(ContactDown, 0, 500, 400), previous);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(Is(again[0], {500, 400}, {500, 400}));
}

TEST(PaintRules, StateZeroOtherIdentifiersAndOtherCountsDrawNothingButBecomeThePreviousFrame)
{
    ContactFrame previous = One(ContactMoved, 0, 1, 1);
    EXPECT_TRUE(TakeFrame(One(ContactNone, 0, 5, 5), previous).empty());
    EXPECT_EQ(previous.Contact1X, 5);
    EXPECT_TRUE(TakeFrame(One(ContactMoved, 2, 7, 7), previous).empty());
    EXPECT_EQ(previous.Contact1X, 7);
    ContactFrame three = One(ContactMoved, 0, 9, 9);
    three.ContactCount = 3;
    EXPECT_TRUE(TakeFrame(three, previous).empty());
    EXPECT_EQ(previous.ContactCount, 3);
}

TEST(PaintRules, TwoFingersGiveTwoIndependentStrokes)
{
    ContactFrame previous = One(ContactMoved, 0, 100, 100);
    // The second finger arrives: slot 1 goes on, slot 2 is a dot.
    auto arrival = TakeFrame(Two(ContactMoved, 110, 100, ContactDown, 300, 300), previous);
    ASSERT_EQ(arrival.size(), 2u);
    EXPECT_TRUE(Is(arrival[0], {100, 100}, {110, 100}));
    EXPECT_TRUE(Is(arrival[1], {300, 300}, {300, 300}));
    auto both = TakeFrame(Two(ContactMoved, 120, 100, ContactMoved, 300, 320), previous);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(Is(both[0], {110, 100}, {120, 100}));
    EXPECT_TRUE(Is(both[1], {300, 300}, {300, 320}));
}

TEST(PaintRules, IdentifierOneAloneAfterTwoContactsContinuesFromTheSecondContact)
{
    ContactFrame previous = Two(ContactMoved, 100, 100, ContactMoved, 300, 300);
    auto strokes = TakeFrame(One(ContactMoved, 1, 310, 300), previous);
    ASSERT_EQ(strokes.size(), 1u);
    EXPECT_TRUE(Is(strokes[0], {300, 300}, {310, 300}));
    EXPECT_EQ(previous.ContactCount, 1);
    EXPECT_EQ(previous.Contact1X, 310);
}

TEST(PaintRules, TwoContactsAfterIdentifierOneAloneContinueTheSecondSlotFromIt)
{
    ContactFrame previous = One(ContactMoved, 1, 300, 300);
    auto strokes = TakeFrame(Two(ContactDown, 50, 50, ContactMoved, 300, 310), previous);
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_TRUE(Is(strokes[0], {50, 50}, {50, 50}));
    EXPECT_TRUE(Is(strokes[1], {300, 300}, {300, 310}));
}

} // namespace
} // namespace fingerpaint
