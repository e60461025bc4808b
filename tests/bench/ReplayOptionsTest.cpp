// The replay command line: every option, and the usage errors.
#include "ReplayOptions.h"

#include <gtest/gtest.h>

namespace tapbench {
namespace {

std::optional<ReplayOptions> Parse(std::vector<std::string> args, std::string *errorOut = nullptr)
{
    std::string error;
    auto options = ParseReplayOptions(args, error);
    if (errorOut) {
        *errorOut = error;
    }
    return options;
}

TEST(ReplayOptions, Defaults)
{
    auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->driver, DriverLine::Monotap);
    EXPECT_TRUE(options->parameters.empty());
    EXPECT_FALSE(options->calibration);
    EXPECT_TRUE(options->queryAttributes);
    EXPECT_EQ(options->input, "-");
}

TEST(ReplayOptions, EveryOption)
{
    auto options = Parse({"--driver", "polytap", "--set", "MouseMode=3", "--set", "BeepFreq=0x3E8", "--calibration",
                          "-1,2,3,4,1,1024,768", "--right-click", "--data-mode", "--no-attributes", "--binary",
                          "stream.bin"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->driver, DriverLine::Polytap);
    ASSERT_EQ(options->parameters.size(), 2u);
    EXPECT_EQ(options->parameters[0], std::make_pair(std::string("MouseMode"), 3u));
    EXPECT_EQ(options->parameters[1], std::make_pair(std::string("BeepFreq"), 1000u));
    EXPECT_EQ(*options->calibration, (std::vector<int32_t>{-1, 2, 3, 4, 1, 1024, 768}));
    EXPECT_TRUE(options->rightClick);
    EXPECT_TRUE(options->dataMode);
    EXPECT_FALSE(options->queryAttributes);
    EXPECT_TRUE(options->binary);
    EXPECT_EQ(options->input, "stream.bin");
    EXPECT_EQ(Parse({"--set", "Enable=4294967295"})->parameters[0].second, 4294967295u);
}

TEST(ReplayOptions, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--driver", "usbtap"},
        {"--driver"},
        {"--set", "Calibration=1"},          // not a settable DWORD
        {"--set", "MouseMode"},              // no value
        {"--set", "MouseMode=-1"},           // not unsigned
        {"--set", "MouseMode=4294967296"},   // above 32 bits
        {"--set", "MouseMode=12abc"},
        {"--calibration", "1,2,3,4,5,6"},    // six fields
        {"--calibration", "1,2,3,4,5,6,7,8"},
        {"--calibration", "1,2,3,4,5,6,2147483648"},
        {"--calibration", "1,2,,4,5,6,7"},
        {"--data-mode"},                     // the single-touch driver has no frames
        {"--bogus"},
        {"a.hex", "b.hex"},
    };
    for (const auto &args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
} // namespace tapbench
