// `tapbench replay` end to end: recorded streams against their expected output, the closing
// lines, and the exit statuses.
#include "Replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tapbench {
namespace {

const std::string kCalibration = "75000,325000,75000,325000,0,1024,768";

struct ReplayRun {
    int status;
    std::string out;
    std::string err;
};

ReplayRun Replay(std::vector<std::string> args, const std::string &input = "")
{
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    int status = RunReplay(args, in, out, err);
    return {status, out.str(), err.str()};
}

std::string DataFile(const std::string &name)
{
    return std::string(TAP_TEST_DATA_DIR) + "/" + name;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Replay, ValidPacketGivesLeftDownAndRawSample)
{
    ReplayRun run = Replay({"--calibration", kCalibration}, "55 00 81 34 12 78 06 20 00 64\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "report flags=0x0001 buttons=0x0001 x=65535 y=23749\n"
                       "raw x=4660 y=1656 z=32\n"
                       "right-click armed=0\n");
}

TEST(Replay, RecordedStreamsGiveTheirExpectedOutput)
{
    struct Golden {
        const char *stream;
        std::vector<std::string> options;
        const char *expected;
    } goldens[] = {
        {"tap.hex", {"--set", "BeepMode=1", "--set", "BeepFreq=1000", "--set", "BeepTime=100"}, "tap.expected"},
        {"drag.hex", {"--set", "MouseMode=0"}, "drag.expected"},
        {"hold.hex", {"--set", "MouseMode=3", "--set", "InterActTime=4"}, "hold.expected"},
        {"corrupted.hex", {}, "corrupted.expected"},
    };
    for (const Golden &golden : goldens) {
        std::vector<std::string> args = golden.options;
        args.insert(args.end(), {"--calibration", kCalibration, DataFile(golden.stream)});
        ReplayRun run = Replay(args);
        EXPECT_EQ(run.status, 0) << golden.stream;
        EXPECT_EQ(run.out, ReadFile(DataFile(golden.expected))) << golden.stream;
        // Same input, same output.
        EXPECT_EQ(Replay(args).out, run.out) << golden.stream;
    }
}

TEST(Replay, RightClickOptionArmsTheNextReport)
{
    ReplayRun run = Replay({"--right-click", "--calibration", kCalibration, DataFile("tap.hex")});
    EXPECT_EQ(run.out, "report flags=0x0001 buttons=0x0002 x=32767 y=6553\n"
                       "report flags=0x0001 buttons=0x0004 x=32767 y=6553\n"
                       "report flags=0x0001 buttons=0x0008 x=32767 y=6553\n"
                       "report flags=0x0001 buttons=0x0000 x=32767 y=6553\n"
                       "report flags=0x0001 buttons=0x0002 x=32767 y=6553\n"
                       "raw x=2000 y=1000 z=0\n"
                       "right-click armed=0\n");
    // Without the attributes query nothing is reported and the flag stays armed.
    ReplayRun quiet = Replay({"--right-click", "--no-attributes", DataFile("tap.hex")});
    EXPECT_EQ(quiet.out, "raw x=2000 y=1000 z=0\nright-click armed=1\n");
}

TEST(Replay, SettingsThatKeepThePortClosedReadNothing)
{
    for (const char *setting : {"Enable=0", "Port=2", "Port=0", "Port=11"}) {
        ReplayRun run = Replay({"--set", setting, DataFile("tap.hex")});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "raw x=0 y=0 z=0\nright-click armed=0\n") << setting;
    }
}

TEST(Replay, BinaryInputAndDefaultCalibration)
{
    std::string packet("\x55\x00\x81\x34\x12\x78\x06\x20\x00\x64", 10);
    ReplayRun run = Replay({"--binary"}, packet);
    // The default calibration maps nothing: the report stays at 0,0.
    EXPECT_EQ(run.out, "report flags=0x0001 buttons=0x0001 x=0 y=0\n"
                       "raw x=4660 y=1656 z=32\n"
                       "right-click armed=0\n");
}

TEST(Replay, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(Replay({"--set", "Nope=1"}).status, 2);
    EXPECT_EQ(Replay({}, "55 0\n").status, 2);
    EXPECT_EQ(Replay({DataFile("no-such-file.hex")}).status, 2);
    ReplayRun run = Replay({"--data-mode"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("usage: tapbench replay"), std::string::npos);
}

} // namespace
} // namespace tapbench
