// `tapbench run`: reading scripts, the exit status of failed expectations and of commands that
// cannot be carried out, and the transcript of programs, message boxes and the finger.
#include <gtest/gtest.h>

#include <sstream>

#include "Scenario.h"
#include "ScenarioRun.h"

namespace tapbench {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunScript(const std::string &script)
{
    std::istringstream in(script);
    std::string error;
    auto lines = ParseScenario(in, error);
    EXPECT_TRUE(lines) << error;
    std::ostringstream out, err;
    int status = RunScenario(*lines, out, err, {{"Ticker", "Tools", TAP_TICKER_MODULE}, {"Probe", "Tools", TAP_PROBE_MODULE}});
    return {status, out.str(), err.str()};
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(ScenarioScript, WordsQuotesAndComments)
{
    std::istringstream in("  # a comment line\n"
                          "\n"
                          "expect window \"Two words\" topmost   # the rest is a comment\n"
                          "expect messagebox \"say \\\"hi\\\" # not a comment\"\n"
                          "registry set HKLM\\X a#b sz \"\"\n");
    std::string error;
    auto lines = ParseScenario(in, error);
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 3u);
    EXPECT_EQ((*lines)[0].number, 3);
    EXPECT_EQ((*lines)[0].words, (std::vector<std::string>{"expect", "window", "Two words", "topmost"}));
    EXPECT_EQ((*lines)[0].text, "expect window \"Two words\" topmost");
    EXPECT_EQ((*lines)[1].words[2], "say \"hi\" # not a comment");
    EXPECT_EQ((*lines)[2].words, (std::vector<std::string>{"registry", "set", "HKLM\\X", "a#b", "sz", ""}));

    std::istringstream controls("click #1017 # a control, then a comment\n");
    lines = ParseScenario(controls, error);
    ASSERT_TRUE(lines);
    EXPECT_EQ((*lines)[0].words, (std::vector<std::string>{"click", "#1017"}));

    std::istringstream broken("wait\nexpect messagebox \"open\n");
    EXPECT_FALSE(ParseScenario(broken, error));
    EXPECT_EQ(error, "line 2: unterminated quote");
}

TEST(ScenarioRun, AFailedExpectationIsReportedAndTheRunGoesOn)
{
    Outcome outcome = RunScript("expect cursor 1 2\n"
                          "expect pixel 0 0 3A6EA5\n"
                          "expect no-window \"\"\n"
                          "expect report flags=0x0001 buttons=0x0001 x=0 y=0\n");
    EXPECT_EQ(outcome.status, kExpectationFailed);
    EXPECT_TRUE(Has(outcome.out, "FAILED line 1: expect cursor 1 2\n  the cursor is at 512 384\n"));
    EXPECT_FALSE(Has(outcome.out, "FAILED line 2"));  // the desktop's own colour
    EXPECT_FALSE(Has(outcome.out, "FAILED line 3"));
    EXPECT_TRUE(Has(outcome.out, "FAILED line 4: expect report flags=0x0001 buttons=0x0001 x=0 y=0\n"
                                 "  no report since the last one matched\n"));
    EXPECT_TRUE(Has(outcome.out, "2 expectation(s) failed\n"));
}

TEST(ScenarioRun, ACommandThatCannotBeCarriedOutStopsTheRun)
{
    for (const char *script : {"answer OK\nwait\n", "tap 1 1\n", "start Nothing\n", "install monotap COMX\n",
                               "frobnicate\n", "advance -5\n", "registry set HKLM\\X V binary 0g\n",
                               "registry set HKLM\\X V binary 010\n", "registry set HKLM\\X V binary 01#02\n",
                               "expect pixel 5000 0 000000\n",
                               // beyond an int: refused, not wrapped to another pixel (fuzzing)
                               "expect cursor 4294967296 0\n"}) {
        Outcome outcome = RunScript(script);
        EXPECT_EQ(outcome.status, kScenarioError) << script;
        EXPECT_TRUE(Has(outcome.err, "tapbench run: line 1: ")) << outcome.err;
        EXPECT_FALSE(Has(outcome.out, "> wait")) << script;
    }
    for (const char *bytes : {"01,02,ff", "0102FF", "\"01 02 ff\""}) {
        EXPECT_EQ(RunScript(std::string("registry set HKLM\\X V binary ") + bytes + "\n").status, 0) << bytes;
    }
    EXPECT_TRUE(Has(RunScript("answer OK\n").err, "no message box is open"));
    const std::string unknown = RunScript("start Nothing\n").err;
    EXPECT_TRUE(Has(unknown, "no program 'Nothing' in this build (")) << unknown;
    EXPECT_TRUE(Has(unknown, "MonotapDrv\\SideSwitch")) << unknown;
    EXPECT_TRUE(Has(unknown, "Tools\\Ticker")) << unknown;
}

TEST(ScenarioRun, ProgramsWindowsAndMessageBoxesAppearInTheTranscript)
{
    Outcome outcome = RunScript("start Ticker one two\n"
                          "expect window \"one two ticks 0\" program Ticker\n"
                          "mouse click 512 384\n"
                          "expect messagebox \"clicked at 90,39\"\n"
                          "answer OK\n"
                          "key Esc\n"
                          "expect no-window \"one two ticks 0\"\n");
    EXPECT_EQ(outcome.status, kScenarioPassed) << outcome.out;
    EXPECT_TRUE(Has(outcome.out, "> start Ticker one two\n"
                                 "process started Ticker C:\\WINDOWS\\Tools\\Ticker.exe \"one two\"\n"
                                 "window created \"Ticker\" (Ticker)\n"));
    EXPECT_TRUE(Has(outcome.out, "messagebox \"clicked at 90,39\" caption \"Ticker\" (Ticker)\n"));
    EXPECT_TRUE(Has(outcome.out, "> answer OK\nmessagebox closed \"clicked at 90,39\" answer OK\n"));
    EXPECT_TRUE(Has(outcome.out, "> key Esc\nwindow destroyed \"one two ticks 0\" (Ticker)\n"
                                 "process ended Ticker exit 7\n"));
}

TEST(ScenarioRun, ExpectedReportsAreFoundInOrderPassingOverOthers)
{
    Outcome outcome = RunScript("install monotap\n"
                          "calibration panel\n"
                          "hold 0 0 3\n"
                          "lift\n"
                          "expect report flags=0x0001 buttons=0x0002 x=0 y=0\n"     // the lift, passing 3
                          "expect report flags=0x0001 buttons=0x0001 x=0 y=0\n"     // already passed: fails
                          "expect no-report\n");
    EXPECT_EQ(outcome.status, kExpectationFailed);
    EXPECT_TRUE(Has(outcome.out, "report flags=0x0001 buttons=0x0001 x=0 y=0\n"
                                 "report flags=0x0001 buttons=0x0000 x=0 y=0\n"
                                 "report flags=0x0001 buttons=0x0000 x=0 y=0\n"
                                 "> lift\n"));  // hold 3: touch and two still packets
    EXPECT_FALSE(Has(outcome.out, "FAILED line 5"));
    EXPECT_TRUE(Has(outcome.out, "FAILED line 6"));
    EXPECT_FALSE(Has(outcome.out, "FAILED line 7"));
}

TEST(ScenarioRun, TheInstalledDeviceHasTheInstallersParameters)
{
    Outcome outcome = RunScript("install monotap COM3\n"
                          "tap 10 10\n"
                          "expect report flags=0x0001 buttons=0x0001 x=0 y=0\n");  // 28 zero bytes
    EXPECT_EQ(outcome.status, kScenarioPassed) << outcome.out;
    EXPECT_TRUE(Has(outcome.out, "device ROOT\\MOUSE\\0000 Monotap started, COM3 open\n"));
    // One device per product; the finger goes to the one installed last.
    EXPECT_EQ(RunScript("install monotap\ninstall monotap COM2\n").status, kScenarioError);
    Outcome two = RunScript("install monotap\ninstall polytap COM2\ncalibration panel\ntap 300 300\n"
                            "expect cursor 300 300 within 1\n");
    EXPECT_EQ(two.status, kScenarioPassed) << two.out;
}

} // namespace
} // namespace tapbench

namespace tapbench {
namespace {

TEST(ScenarioRun, RegistryExpectationsCompareTypeAndEveryByte)
{
    Outcome met = RunScript("registry set HKLM\\K D dword 5\n"
                            "registry set HKLM\\K B binary 05000000\n"
                            "registry set \"HKCU\\Control Panel\\Mouse\" S sz 30\n"
                            "expect registry HKLM\\K D dword 5\n"
                            "expect registry HKLM\\K D dword 0x5\n"
                            "expect registry HKLM\\K B binary 05,00,00,00\n"
                            "expect registry \"HKCU\\Control Panel\\Mouse\" S sz 30\n"
                            "expect no-value HKLM\\K E\n"
                            "expect no-key HKLM\\K\\Sub\n");
    EXPECT_EQ(met.status, kScenarioPassed) << met.out;
    Outcome failed = RunScript("registry set HKLM\\K B binary 05000000\n"
                               "expect registry HKLM\\K B dword 5\n"
                               "expect registry HKLM\\K B binary 0500\n"
                               "expect registry HKLM\\K C binary 05\n"
                               "expect registry HKLM\\L C binary 05\n"
                               "expect no-value HKLM\\K B\n"
                               "expect no-key HKLM\\K\n");
    EXPECT_EQ(failed.status, kExpectationFailed);
    EXPECT_TRUE(Has(failed.out, "6 expectation(s) failed")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "  the value is binary 05000000\n")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "  no such value\n")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "  no such key\n")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "  the key exists\n")) << failed.out;
    EXPECT_EQ(RunScript("expect registry HKLM\\K B qword 5\n").status, kScenarioError);
}

TEST(ScenarioRun, CursorAndRequestExpectations)
{
    Outcome run = RunScript("mouse click 100 200\n"
                            "expect cursor 101 199 within 1\n"
                            "expect cursor 102 200 within 1\n"
                            "expect cursor-shown yes\n"
                            "expect no-ioctl\n"
                            "expect ioctl IOCTL_TOUCH_BEEP\n");
    EXPECT_EQ(run.status, kExpectationFailed);
    EXPECT_TRUE(Has(run.out, "2 expectation(s) failed")) << run.out;
    EXPECT_TRUE(Has(run.out, "  the cursor is at 100 200\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "  no request since the last one matched\n")) << run.out;
    EXPECT_EQ(RunScript("expect cursor 1 1 within -1\n").status, kScenarioError);
    EXPECT_EQ(RunScript("expect cursor-shown maybe\n").status, kScenarioError);
    EXPECT_EQ(RunScript("usb plug nothing\n").status, kScenarioError);
    EXPECT_EQ(RunScript("usb unplug monousb\n").status, kScenarioError) << "not plugged in";
}

} // namespace
} // namespace tapbench
