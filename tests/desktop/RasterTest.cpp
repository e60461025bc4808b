// Known pixels of known shapes: the GDI rules for rectangles, ellipses, lines, text and clipping.
#include <gtest/gtest.h>

#include "tap/desktop/Canvas.h"
#include "tap/desktop/Font.h"

namespace tap::desktop {
namespace {

constexpr Rgb kWhite = 0xFFFFFF, kBlack = 0x000000, kBlue = 0x0000FF, kRed = 0xFF0000;

class Raster : public testing::Test {
protected:
    Framebuffer fb{40, 30, kWhite};
    Canvas canvas{fb, {0, 0}, Region(fb.Bounds())};

    int CountColor(Rgb color) const
    {
        int n = 0;
        for (Rgb p : fb.Pixels()) {
            n += p == color ? 1 : 0;
        }
        return n;
    }
};

TEST_F(Raster, RectangleOutlinesWithThePenAndFillsWithTheBrushLessRightAndBottomEdges)
{
    canvas.Rectangle({2, 3, 12, 9}, Pen{true, 1, kBlack}, Brush{false, kBlue});
    EXPECT_EQ(fb.Pixel(2, 3), kBlack);
    EXPECT_EQ(fb.Pixel(11, 8), kBlack);
    EXPECT_EQ(fb.Pixel(11, 5), kBlack);
    EXPECT_EQ(fb.Pixel(3, 4), kBlue);
    EXPECT_EQ(fb.Pixel(10, 7), kBlue);
    EXPECT_EQ(fb.Pixel(12, 5), kWhite);
    EXPECT_EQ(fb.Pixel(5, 9), kWhite);
    EXPECT_EQ(CountColor(kBlue), 8 * 4);
    EXPECT_EQ(CountColor(kBlack), 10 * 6 - 8 * 4);
}

TEST_F(Raster, HollowBrushWidePenAndNullPen)
{
    canvas.Rectangle({10, 10, 20, 20}, Pen{true, 3, kRed}, Brush{true, 0});
    EXPECT_EQ(fb.Pixel(9, 9), kRed);   // a width-3 pen reaches one pixel outside the edge
    EXPECT_EQ(fb.Pixel(11, 11), kRed); // and one inside
    EXPECT_EQ(fb.Pixel(12, 12), kWhite);
    EXPECT_EQ(fb.Pixel(20, 20), kRed);
    EXPECT_EQ(fb.Pixel(21, 21), kWhite);

    canvas.Rectangle({30, 0, 34, 4}, Pen{false, 1, 0}, Brush{false, kBlue});
    EXPECT_EQ(fb.Pixel(30, 0), kBlue);
    EXPECT_EQ(fb.Pixel(32, 2), kBlue);
    EXPECT_EQ(fb.Pixel(33, 3), kWhite); // without a pen the figure is one pixel smaller
}

TEST_F(Raster, EllipseStaysInsideItsBoxAndIsSymmetric)
{
    canvas.Ellipse({0, 0, 21, 11}, Pen{true, 1, kBlack}, Brush{false, kBlue});
    EXPECT_EQ(fb.Pixel(0, 0), kWhite);
    EXPECT_EQ(fb.Pixel(20, 10), kWhite);
    EXPECT_EQ(fb.Pixel(0, 5), kBlack);
    EXPECT_EQ(fb.Pixel(20, 5), kBlack);
    EXPECT_EQ(fb.Pixel(10, 0), kBlack);
    EXPECT_EQ(fb.Pixel(10, 10), kBlack);
    EXPECT_EQ(fb.Pixel(10, 5), kBlue);
    EXPECT_EQ(fb.Pixel(21, 5), kWhite);
    for (int y = 0; y <= 10; ++y) {
        for (int x = 0; x <= 20; ++x) {
            ASSERT_EQ(fb.Pixel(x, y), fb.Pixel(20 - x, y)) << x << "," << y;
            ASSERT_EQ(fb.Pixel(x, y), fb.Pixel(x, 10 - y)) << x << "," << y;
        }
    }
}

TEST_F(Raster, HollowEllipseDrawsOnlyTheOutline)
{
    canvas.Ellipse({5, 5, 25, 25}, Pen{true, 1, kBlack}, Brush{true, 0});
    EXPECT_EQ(fb.Pixel(15, 15), kWhite);
    EXPECT_EQ(fb.Pixel(5, 14), kBlack);
    EXPECT_GT(CountColor(kBlack), 40);
    EXPECT_LT(CountColor(kBlack), 80);
}

TEST_F(Raster, ThinLineLeavesOutItsEndPoint)
{
    canvas.Line({1, 1}, {8, 1}, Pen{true, 1, kBlack});
    EXPECT_EQ(fb.Pixel(1, 1), kBlack);
    EXPECT_EQ(fb.Pixel(7, 1), kBlack);
    EXPECT_EQ(fb.Pixel(8, 1), kWhite);
    canvas.Line({3, 3}, {3, 3}, Pen{true, 1, kBlack});
    EXPECT_EQ(fb.Pixel(3, 3), kWhite);
    canvas.Line({0, 10}, {9, 19}, Pen{true, 1, kBlack});
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(fb.Pixel(i, 10 + i), kBlack);
    }
}

TEST_F(Raster, WidePenDrawsARoundDotAndAThickLine)
{
    canvas.Line({20, 15}, {20, 15}, Pen{true, 6, kRed});
    EXPECT_EQ(fb.Pixel(20, 15), kRed);
    EXPECT_EQ(fb.Pixel(17, 15), kRed);
    EXPECT_EQ(fb.Pixel(22, 15), kRed);
    EXPECT_EQ(fb.Pixel(16, 15), kWhite);
    EXPECT_EQ(fb.Pixel(17, 12), kWhite); // the corner of the square is outside the round dot
    int dot = CountColor(kRed);
    EXPECT_GT(dot, 20);
    EXPECT_LT(dot, 36);

    canvas.Line({0, 2}, {30, 2}, Pen{true, 6, kBlue});
    EXPECT_EQ(fb.Pixel(15, 0), kBlue);
    EXPECT_EQ(fb.Pixel(15, 4), kBlue);
    EXPECT_EQ(fb.Pixel(15, 6), kWhite);
}

TEST_F(Raster, ClipRegionAndOriginLimitWhatIsDrawn)
{
    Region clip(Rect{10, 10, 20, 20});
    clip.Subtract(Rect{14, 14, 16, 16});
    Canvas clipped(fb, {10, 10}, clip);
    clipped.FillRect({-5, -5, 100, 100}, kBlue);
    EXPECT_EQ(CountColor(kBlue), 100 - 4);
    EXPECT_EQ(fb.Pixel(9, 10), kWhite);
    EXPECT_EQ(fb.Pixel(15, 15), kWhite);
    clipped.Rectangle({0, 0, 3, 3}, Pen{true, 1, kBlack}, Brush{true, 0});
    EXPECT_EQ(fb.Pixel(10, 10), kBlack); // canvas (0,0) is screen (10,10)
}

TEST_F(Raster, TextUsesTheBuiltInGlyphsAndBoxesForOtherCharacters)
{
    canvas.DrawString({0, 0}, u"I", kBlack, 7);
    // 'I': a bar of three pixels on the top and bottom rows and one down the middle.
    EXPECT_EQ(fb.Pixel(1, 0), kBlack);
    EXPECT_EQ(fb.Pixel(3, 0), kBlack);
    EXPECT_EQ(fb.Pixel(0, 0), kWhite);
    EXPECT_EQ(fb.Pixel(2, 3), kBlack);
    EXPECT_EQ(fb.Pixel(1, 3), kWhite);
    EXPECT_EQ(CountColor(kBlack), 3 + 5 + 3);

    canvas.DrawString({0, 10}, u"\u5B8B", kRed, 7);
    EXPECT_EQ(fb.Pixel(0, 10), kRed);
    EXPECT_EQ(fb.Pixel(10, 16), kRed); // a wide character's box spans two cells
    EXPECT_EQ(TextWidth(u"ab\n\u5B8Bxyz"), 2 * kCellWidth + 3 * kCellWidth);
}

} // namespace
} // namespace tap::desktop
