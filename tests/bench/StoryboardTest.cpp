// The story of a run: steps, the summary of what each checked, and the storyboard sheet.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "Scenario.h"
#include "ScenarioRun.h"
#include "run/Storyboard.h"

namespace tapbench {
namespace {

using tap::desktop::Framebuffer;
using tap::desktop::MakeRgb;

TEST(Storyboard, ShrinkingAveragesEachBlock)
{
    Framebuffer image(8, 4, 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            image.SetPixel(x, y, (x + y) % 2 ? MakeRgb(200, 100, 0) : MakeRgb(0, 100, 200));
        }
    }
    Framebuffer small = ShrinkImage(image, 4);
    ASSERT_EQ(small.Width(), 2);
    ASSERT_EQ(small.Height(), 1);
    EXPECT_EQ(small.Pixel(0, 0), MakeRgb(100, 100, 100));
    EXPECT_EQ(small.Pixel(1, 0), 0u);
}

TEST(Storyboard, LabelsBreakBetweenWordsAndAreCutAfterThreeLines)
{
    EXPECT_EQ(WrapLabel("1. Calibrated to the panel", 13), "1. Calibrated\nto the panel");
    EXPECT_EQ(WrapLabel("a b c d e f g", 3), "a b\nc d\ne ~");
    EXPECT_EQ(WrapLabel("unbreakable", 5), "unbr~");
}

TEST(Storyboard, PicturesGoInRowsWithTheirLabelsBeneath)
{
    Storyboard board(2);
    Framebuffer red(64, 48, MakeRgb(255, 0, 0));
    for (int i = 0; i < 3; ++i) {
        board.Add(red, "a step");
    }
    Framebuffer sheet = board.Sheet();
    const int cellWidth = 64 / Storyboard::kScale, cellHeight = 48 / Storyboard::kScale;
    EXPECT_EQ(sheet.Width(), Storyboard::kMargin + 2 * (cellWidth + Storyboard::kMargin));
    EXPECT_EQ(sheet.Height(), Storyboard::kMargin + 2 * (cellHeight + Storyboard::kLabelHeight + Storyboard::kMargin));
    const int secondRow = Storyboard::kMargin + cellHeight + Storyboard::kLabelHeight + Storyboard::kMargin;
    EXPECT_EQ(sheet.Pixel(Storyboard::kMargin, secondRow), MakeRgb(255, 0, 0));
    // The fourth cell stays empty.
    const int secondColumn = Storyboard::kMargin + cellWidth + Storyboard::kMargin;
    EXPECT_EQ(sheet.Pixel(secondColumn, secondRow), MakeRgb(0xF0, 0xF0, 0xF0));
    // Some label pixel is drawn beneath the first picture.
    bool ink = false;
    for (int y = Storyboard::kMargin + cellHeight; y < secondRow; ++y) {
        for (int x = 0; x < sheet.Width(); ++x) {
            ink = ink || sheet.Pixel(x, y) == 0;
        }
    }
    EXPECT_TRUE(ink);
}

TEST(ScenarioStory, StepsSummaryAndSheetWithTheTranscriptApart)
{
    const std::string sheet = ::testing::TempDir() + "story.png";
    const std::string transcript = ::testing::TempDir() + "story.txt";
    const std::string script = ::testing::TempDir() + "story.tap";
    std::ofstream(script) << "storyboard " << sheet << " 2\n"
                          << "step \"The empty desktop\"\n"
                          << "expect no-window \"Nothing\"\n"
                          << "expect cursor 9999 9999\n"
                          << "step \"Still empty\"\n"
                          << "expect no-report\n";
    std::remove(sheet.c_str());
    std::ostringstream out, err;
    int status = RunScenarioCommand({"--transcript", transcript, script}, out, err);
    EXPECT_EQ(status, kExpectationFailed);
    const std::string story = out.str();
    EXPECT_NE(story.find("step 1: The empty desktop\n"), std::string::npos) << story;
    EXPECT_NE(story.find("FAILED line 4: expect cursor 9999 9999"), std::string::npos) << story;
    EXPECT_NE(story.find("  1. The empty desktop: 1 checked, 1 FAILED\n"), std::string::npos) << story;
    EXPECT_NE(story.find("  2. Still empty: 1 checked\n"), std::string::npos) << story;
    EXPECT_NE(story.find("  2 steps, 2 checks met, 1 failed\n"), std::string::npos) << story;
    EXPECT_NE(story.find("(2 pictures)"), std::string::npos) << story;
    // The story does not carry the echoed commands; the transcript does.
    EXPECT_EQ(story.find("> expect"), std::string::npos);
    std::stringstream full;
    full << std::ifstream(transcript).rdbuf();
    EXPECT_NE(full.str().find("> expect cursor 9999 9999"), std::string::npos);
    std::ifstream png(sheet, std::ios::binary);
    char signature[4] = {};
    png.read(signature, 4);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");

    EXPECT_EQ(RunScenarioCommand({"--transcript"}, out, err), kScenarioError);
}

} // namespace
} // namespace tapbench
