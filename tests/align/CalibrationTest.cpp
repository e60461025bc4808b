// The calibration arithmetic of MonoAlign and PolyAlign: target places, the margin rules, the
// record from four samples, the orientation rules and the clamps.
#include <gtest/gtest.h>

#include "Calibration.h"

namespace align {
namespace {

const AlignLine &Mono()
{
    return LineOf(GetTargetDriver(TARGET_MONOTAP));
}

const AlignLine &Poly()
{
    return LineOf(GetTargetDriver(TARGET_POLYUSB));
}

struct Record {
    LONG fields[7];
};

Record Fields(const CalibrationData &data)
{
    return Record{{data.RawXStart, data.RawXEnd, data.RawYStart, data.RawYEnd, data.Orientation, data.ScreenWidth,
                   data.ScreenHeight}};
}

void ExpectRecord(const CalibrationData &data, std::initializer_list<LONG> want)
{
    Record got = Fields(data);
    std::vector<LONG> seen(got.fields, got.fields + 7);
    EXPECT_EQ(seen, std::vector<LONG>(want));
}

CalibrationData Compute(std::initializer_list<std::pair<ULONG, ULONG>> points, DWORD margin, const AlignLine &line,
                        float width = 1024.0f, float height = 768.0f)
{
    RawSample samples[kTargetCount] = {};
    int i = 0;
    for (const auto &point : points) {
        samples[i].RawX = point.first;
        samples[i].RawY = point.second;
        ++i;
    }
    return ComputeCalibration(samples, margin, width, height, line);
}

TEST(TargetLayout, MarginsAndRadiiOnA1024By768Screen)
{
    // Absent: the initial 3 stays, radius W/120.
    TargetLayout absent = LayoutFor(kInitialMargin, 1024);
    EXPECT_EQ(absent.margin, 3u);
    EXPECT_EQ(absent.radius, 8);
    EXPECT_EQ(TargetCentre(0, 3, 1024, 768).x, 30);
    EXPECT_EQ(TargetCentre(0, 3, 1024, 768).y, 23);
    EXPECT_EQ(TargetCentre(1, 3, 1024, 768).x, 30);
    EXPECT_EQ(TargetCentre(1, 3, 1024, 768).y, 744);
    EXPECT_EQ(TargetCentre(2, 3, 1024, 768).x, 993);
    EXPECT_EQ(TargetCentre(2, 3, 1024, 768).y, 744);
    EXPECT_EQ(TargetCentre(3, 3, 1024, 768).x, 993);
    EXPECT_EQ(TargetCentre(3, 3, 1024, 768).y, 23);
    TargetRect rects[kSizeCount];
    TargetRects(TargetCentre(0, 3, 1024, 768), 8, rects);
    EXPECT_EQ(rects[kSizeOneAndHalfR].left, 18);
    EXPECT_EQ(rects[kSizeOneAndHalfR].right, 42);
    EXPECT_EQ(rects[kSizeHalfR].left, 26);
    EXPECT_EQ(rects[kSizeHalfR].right, 34);
    EXPECT_EQ(rects[kSizeTwoR].left, 14);
    EXPECT_EQ(rects[kSizeR].bottom, 31);

    // A stored 1: radius W/230.
    TargetLayout one = LayoutFor(1, 1024);
    EXPECT_EQ(one.margin, 1u);
    EXPECT_EQ(one.radius, 4);
    EXPECT_EQ(TargetCentre(0, 1, 1024, 768).x, 10);
    EXPECT_EQ(TargetCentre(0, 1, 1024, 768).y, 7);
    EXPECT_EQ(TargetCentre(2, 1, 1024, 768).x, 1013);
    EXPECT_EQ(TargetCentre(2, 1, 1024, 768).y, 760);

    // Rejected values: margin 1, radius W/300; the limits 2 and 25 are kept.
    for (DWORD rejected : {0u, 26u, 1000u}) {
        TargetLayout layout = LayoutFor(rejected, 1024);
        EXPECT_EQ(layout.margin, 1u) << rejected;
        EXPECT_EQ(layout.radius, 3) << rejected;
    }
    EXPECT_EQ(LayoutFor(2, 1024).margin, 2u);
    EXPECT_EQ(LayoutFor(25, 1024).margin, 25u);
}

TEST(TargetLayout, FractionalRectanglesAreTruncatedTowardZero)
{
    TargetRect rects[kSizeCount];
    TargetRects(TargetCentre(0, 1, 1024, 768), 3, rects);  // centre x 10
    EXPECT_EQ(rects[kSizeOneAndHalfR].left, 5);    // 10 - 4.5
    EXPECT_EQ(rects[kSizeOneAndHalfR].right, 14);  // 10 + 4.5
    // A negative edge truncates toward zero too: -1.5 becomes -1.
    TargetRects(TargetPoint{3, 3}, 3, rects);
    EXPECT_EQ(rects[kSizeOneAndHalfR].left, -1);
}

TEST(Computation, SquareSamplesGiveTheSameRecordInBothLines)
{
    for (const AlignLine *line : {&Mono(), &Poly()}) {
        ExpectRecord(Compute({{1000, 1000}, {1000, 3000}, {3000, 3000}, {3000, 1000}}, 10, *line),
                     {75000, 325000, 75000, 325000, 0, 1024, 768});
    }
}

TEST(Computation, MonoAlignFindsSwappedAxesFromTheEdgeDeltas)
{
    // |dx3| = 0 < |dx1| = 2000: raw X follows the vertical, bottom to top.
    ExpectRecord(Compute({{1000, 1000}, {3000, 1000}, {3000, 3000}, {1000, 3000}}, 10, Mono()),
                 {325000, 75000, 75000, 325000, 1, 1024, 768});
    // Equal magnitudes are a tie: orientation 0.
    EXPECT_EQ(Compute({{1000, 1000}, {2000, 1000}, {2000, 3000}, {0, 3000}}, 10, Mono()).Orientation, 0);
}

TEST(Computation, PolyAlignTakesTheCornerNearestTheRawOrigin)
{
    // Raw X and Y both smallest at target 1 (bottom left): orientation 1, axes swapped.
    CalibrationData swapped = Compute({{3000, 1000}, {1000, 1000}, {1000, 3000}, {3000, 3000}}, 10, Poly());
    EXPECT_EQ(swapped.Orientation, 1);
    // Mirrored horizontally: the origin is at the top right, target 3; raw X runs against the
    // screen, so its start edge value is the larger one.
    CalibrationData mirrored = Compute({{3000, 1000}, {3000, 3000}, {1000, 3000}, {1000, 1000}}, 10, Poly());
    EXPECT_EQ(mirrored.Orientation, 3);
}

TEST(TopTwoIndexes, LaterEqualValuesTakeTheLead)
{
    int largest = 0, second = 0;
    const ULONG x[] = {1000, 1000, 3000, 3000};
    TopTwoIndexes(x, 4, &largest, &second);
    EXPECT_EQ(largest, 3);
    EXPECT_EQ(second, 2);
    const ULONG y[] = {1000, 3000, 3000, 1000};
    TopTwoIndexes(y, 4, &largest, &second);
    EXPECT_EQ(largest, 2);
    EXPECT_EQ(second, 1);
    const ULONG equal[] = {7, 7, 7, 7};
    TopTwoIndexes(equal, 4, &largest, &second);
    EXPECT_EQ(largest, 3);
    EXPECT_EQ(second, 2);
    // Fewer than two values: the indexes are not touched.
    largest = second = -1;
    TopTwoIndexes(equal, 1, &largest, &second);
    EXPECT_EQ(largest, -1);
    EXPECT_EQ(second, -1);
}

TEST(Computation, EdgeValuesAreClampedPerLine)
{
    // Margin 10: dX = (xe - xs) / 8. xs = 100, xe = 1000 put the left edge at -12.5, stored as 0
    // by both lines; the right edge is 1112.5.
    for (const AlignLine *line : {&Mono(), &Poly()}) {
        CalibrationData below = Compute({{100, 1000}, {100, 3000}, {1000, 3000}, {1000, 1000}}, 10, *line);
        EXPECT_EQ(below.RawXStart, 0);
        EXPECT_EQ(below.RawXEnd, 111250);
    }
    // Margin 20: dX = (xe - xs) / 3. xs = 1000, xe = 4000 put the right edge at 5000: MonoAlign
    // keeps it, PolyAlign stops at the controller's 4095.
    CalibrationData mono = Compute({{1000, 1000}, {1000, 3000}, {4000, 3000}, {4000, 1000}}, 20, Mono());
    CalibrationData poly = Compute({{1000, 1000}, {1000, 3000}, {4000, 3000}, {4000, 1000}}, 20, Poly());
    EXPECT_EQ(mono.RawXEnd, 500000);
    EXPECT_EQ(poly.RawXEnd, 409500);
    EXPECT_EQ(mono.RawXStart, 0);
    EXPECT_EQ(poly.RawXStart, 0);
}

TEST(Computation, NeverFilledSamplesGiveAnAllZeroRecord)
{
    for (const AlignLine *line : {&Mono(), &Poly()}) {
        ExpectRecord(Compute({{0, 0}, {0, 0}, {0, 0}, {0, 0}}, 3, *line), {0, 0, 0, 0, 0, 1024, 768});
    }
}

} // namespace
} // namespace align
