// MonoAlign and PolyAlign end to end on the simulated PC: the real program on the real driver
// (Monotap, or the Polyusb stand-in built from the multi-touch line), a finger released on each
// target's centre, Yes; then taps on a 5 x 5 grid land within a pixel of the finger, first with
// the record the program put in force and again after a restart, with the record the driver
// loads from the registry. Esc, No and a missing driver leave what they should.
#include <gtest/gtest.h>

#include <sstream>

#include "Scenario.h"
#include "ScenarioRun.h"

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome RunScript(const std::string &script)
{
    std::istringstream in(script);
    std::string error;
    auto lines = tapbench::ParseScenario(in, error);
    EXPECT_TRUE(lines) << error;
    std::ostringstream out, err;
    int status = tapbench::RunScenario(*lines, out, err);
    return {status, out.str() + err.str()};
}

// The target centres for the installer's margin 2 on the 1024 x 768 screen.
const char *const kTargets = "tap 20 15\ntap 20 752\ntap 1003 752\ntap 1003 15\n";

std::string Grid()
{
    std::string script;
    for (int x : {3, 260, 511, 770, 1020}) {
        for (int y : {2, 200, 383, 570, 765}) {
            script += "tap " + std::to_string(x) + " " + std::to_string(y) + "\n";
            script += "expect cursor " + std::to_string(x) + " " + std::to_string(y) + " within 1\n";
        }
    }
    return script;
}

// The hex of a transcript line's field after PREFIX, up to the end of the word: of the first line
// with PREFIX, or of the last.
std::string WordAfter(const std::string &text, const std::string &prefix, bool last = false)
{
    size_t at = last ? text.rfind(prefix) : text.find(prefix);
    if (at == std::string::npos) {
        return {};
    }
    at += prefix.size();
    return text.substr(at, text.find_first_of(" \n", at) - at);
}

struct Geometry {
    const char *product;  // install word
    const char *program;
    const char *panel;    // the panel command's words
};

class CalibrationRun : public ::testing::TestWithParam<Geometry> {};

TEST_P(CalibrationRun, TapsLandUnderTheFingerFromTheRecordInForceAndFromTheRegistry)
{
    const Geometry &g = GetParam();
    const std::string script = std::string("install ") + g.product + "\npanel " + g.panel + "\nstart " + g.program +
                               "\n" + kTargets +
                               "expect ioctl IOCTL_TOUCH_SET_CALIBRATION\n"
                               "expect messagebox \"Save the calibration data?\"\n"
                               "expect cursor-shown yes\n"
                               "answer Yes\n" +
                               Grid() + "restart\n" + Grid();
    Outcome run = RunScript(script);
    EXPECT_EQ(run.status, tapbench::kScenarioPassed) << run.out;
    // The bytes stored are the record sent (the installer's zero record was stored before).
    const std::string sent = WordAfter(run.out, "IOCTL_TOUCH_SET_CALIBRATION in=");
    const std::string stored = WordAfter(run.out, "\\Parameters Calibration binary ", true);
    EXPECT_EQ(sent.size(), 56u);
    EXPECT_EQ(sent, stored);
}

std::string GeometryName(const ::testing::TestParamInfo<Geometry> &info)
{
    std::string name = std::string(info.param.program) + "_" + info.param.panel;
    for (char &c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

// MonoAlign: the eight mountings (axes swapped or not, each axis mirrored or not) for each of two
// raw ranges.
#define ALIGN_ALL_MOUNTINGS(product, program, range)                                                \
    Geometry{product, program, range}, Geometry{product, program, range " swap-axes"},             \
        Geometry{product, program, range " mirror-x"}, Geometry{product, program, range " mirror-y"}, \
        Geometry{product, program, range " mirror-x mirror-y"},                                   \
        Geometry{product, program, range " swap-axes mirror-x"},                                  \
        Geometry{product, program, range " swap-axes mirror-y"},                                  \
        Geometry{product, program, range " swap-axes mirror-x mirror-y"}

// PolyAlign's rule takes the corner nearest the raw origin for the orientation, which holds for
// the controller turned in one of its four rotations; its clamp keeps edge values in 0..4095, so
// its raw ranges keep the panel's edges (range plus the panel's offset) inside that.
#define ALIGN_ROTATIONS(product, program, range)                                                    \
    Geometry{product, program, range}, Geometry{product, program, range " swap-axes mirror-x"},    \
        Geometry{product, program, range " mirror-x mirror-y"},                                   \
        Geometry{product, program, range " swap-axes mirror-y"}

INSTANTIATE_TEST_SUITE_P(MonoAlign, CalibrationRun,
                         ::testing::Values(ALIGN_ALL_MOUNTINGS("monotap", "MonoAlign", "raw-range 4095 4095"),
                                           ALIGN_ALL_MOUNTINGS("monotap", "MonoAlign", "raw-range 3000 2000")),
                         GeometryName);
INSTANTIATE_TEST_SUITE_P(PolyAlign, CalibrationRun,
                         ::testing::Values(ALIGN_ROTATIONS("polyusb", "PolyAlign", "raw-range 4000 4000"),
                                           ALIGN_ROTATIONS("polyusb", "PolyAlign", "raw-range 3000 2000")),
                         GeometryName);

// A mirror image of the panel is no rotation: PolyAlign's orientation rule takes its raw origin
// corner for a rotated controller, and the cursor misses the finger. (MonoAlign's rule, which
// compares the edge deltas, has no such limit.)
TEST(CalibrationProcedure, PolyAlignTakesAMirroredPanelForARotatedOne)
{
    Outcome run = RunScript(std::string("install polyusb\npanel raw-range 3000 2000 mirror-x\nstart PolyAlign\n") +
                            kTargets + "answer Yes\ntap 100 100\nexpect cursor 100 100 within 1\n");
    EXPECT_EQ(run.status, tapbench::kExpectationFailed) << run.out;
    EXPECT_NE(run.out.find("IOCTL_TOUCH_SET_CALIBRATION in="), std::string::npos) << run.out;
    // Orientation 3 (the top right corner): raw X taken for the vertical.
    EXPECT_EQ(WordAfter(run.out, "IOCTL_TOUCH_SET_CALIBRATION in=").substr(32, 8), "03000000") << run.out;
}

const std::string kMonotapParameters = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";
const std::string kPolyusbParameters = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Polyusb\\Parameters";
// The multi-touch installer's record: 19571, 410528, 1295, 396454, 0, 1024, 768.
const std::string kPolyInstallerRecord = "734c0000a04306000f050000a60c0600000000000004000000030000";

TEST(CalibrationProcedure, EscBeforeTheFourthReleaseLeavesDriverAndRegistryAlone)
{
    // The installer's all-zero record is in force: every touch lands in the top left corner.
    Outcome run = RunScript("install monotap\nstart MonoAlign\n"
                      "tap 20 15\ntap 20 752\ntap 1003 752\nkey Esc\n"
                      "expect no-window \"\"\nexpect cursor-shown yes\n"
                      "expect registry " + kMonotapParameters + " Calibration binary " + std::string(56, '0') + "\n"
                      "tap 500 400\nexpect cursor 0 0\n");
    EXPECT_EQ(run.status, tapbench::kScenarioPassed) << run.out;
    EXPECT_NE(run.out.find("IOCTL_TOUCH_GET_RAW_SAMPLE"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("IOCTL_TOUCH_SET_CALIBRATION"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("registry MonoAlign set"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("process started MonoAlign C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe"), std::string::npos)
        << run.out;
    // Enter ends it the same way.
    Outcome enter = RunScript("install monotap\nstart MonoAlign\ntap 20 15\nkey Enter\nexpect no-window \"\"\n"
                              "expect registry " + kMonotapParameters + " Calibration binary " + std::string(56, '0') +
                              "\n");
    EXPECT_EQ(enter.status, tapbench::kScenarioPassed) << enter.out;
    EXPECT_EQ(enter.out.find("IOCTL_TOUCH_SET_CALIBRATION"), std::string::npos) << enter.out;
}

TEST(CalibrationProcedure, NoKeepsTheRecordInForceAndTheFifthReleaseIsTargetZero)
{
    Outcome run = RunScript(std::string("install polyusb\npanel raw-range 3000 2000 mirror-x mirror-y\nstart PolyAlign\n") +
                      kTargets +
                      "answer No\n"
                      "expect cursor-shown no\n"
                      "expect registry " + kPolyusbParameters + " Calibration binary " + kPolyInstallerRecord + "\n"
                      // Target 0 again at the top left; after the fifth release target 1 is shown.
                      "expect pixel 20 15 000000\n"
                      "tap 20 15\n"
                      "expect pixel 20 752 000000\n"
                      "expect pixel 20 15 00FFFF\n"
                      "key Esc\n"
                      "expect registry " + kPolyusbParameters + " Calibration binary " + kPolyInstallerRecord + "\n" +
                      Grid());
    EXPECT_EQ(run.status, tapbench::kScenarioPassed) << run.out;
    EXPECT_EQ(run.out.find("registry PolyAlign set"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("process started PolyAlign C:\\WINDOWS\\PolyusbDrv\\PolyAlign.exe"), std::string::npos)
        << run.out;
    // The question was answered No.
    EXPECT_NE(run.out.find("messagebox closed \"Save the calibration data?\" answer No"), std::string::npos);
}

TEST(CalibrationProcedure, WithoutTheDriverNothingIsStoredAndTheUserIsTold)
{
    Outcome run = RunScript("start MonoAlign\n"
                      "expect window \"\" program MonoAlign rect 0 0 1024 768\n"
                      "mouse click 30 23\nmouse click 30 744\nmouse click 993 744\nmouse click 993 23\n"
                      "expect messagebox \"The touch screen driver cannot be reached. No calibration data was "
                      "saved.\"\n"
                      "answer OK\n"
                      "expect no-window \"\"\n"
                      "expect no-key HKLM\\SYSTEM\\CurrentControlSet\\Services\\Monotap\n");
    EXPECT_EQ(run.status, tapbench::kScenarioPassed) << run.out;
    EXPECT_EQ(run.out.find("Save the calibration data?"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("registry MonoAlign"), std::string::npos) << run.out;
}

TEST(CalibrationProcedure, TheOtherDriverOfEachLineIsServedByItsBuild)
{
    // MonoAlign built for Monousb, from its folder, on the USB device.
    Outcome mono = RunScript(std::string("install monousb\npanel raw-range 3000 2000 swap-axes\nstart MonousbDrv\\MonoAlign\n") +
                       kTargets + "answer Yes\n" + Grid());
    EXPECT_EQ(mono.status, tapbench::kScenarioPassed) << mono.out;
    EXPECT_NE(mono.out.find("ioctl MonoAlign \\\\.\\MonousbSymLnk1 IOCTL_TOUCH_SET_CALIBRATION"), std::string::npos)
        << mono.out;
    EXPECT_NE(mono.out.find("Services\\Monousb\\Parameters Calibration binary"), std::string::npos) << mono.out;
    // PolyAlign built for Polytap, on the serial multi-touch driver, whose installer writes no
    // CalibrateMargin: margin 3, targets at (30, 23), (30, 744), (993, 744), (993, 23).
    Outcome poly = RunScript("install polytap\npanel raw-range 3000 2000 swap-axes mirror-y\nstart PolytapDrv\\PolyAlign\n"
                             "tap 30 23\ntap 30 744\ntap 993 744\ntap 993 23\nanswer Yes\n" + Grid());
    EXPECT_EQ(poly.status, tapbench::kScenarioPassed) << poly.out;
    EXPECT_NE(poly.out.find("ioctl PolyAlign \\\\.\\PolytapSymLnk1 IOCTL_TOUCH_SET_CALIBRATION"), std::string::npos)
        << poly.out;
}

} // namespace
