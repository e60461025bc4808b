// `tapbench run` driving a dialog by its controls through the mouse and the keyboard: Probe's
// log line shows the notification each click or key caused, as a person's input would cause it.
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

Outcome RunProbe(const std::string &script)
{
    std::istringstream in("start Probe\n" + script);
    std::string error;
    auto lines = ParseScenario(in, error);
    EXPECT_TRUE(lines) << error;
    std::ostringstream out, err;
    int status = RunScenario(*lines, out, err, {{"Probe", "Tools", TAP_PROBE_MODULE}});
    return {status, out.str(), err.str()};
}

void ExpectMet(const Outcome &outcome)
{
    EXPECT_EQ(outcome.status, kScenarioPassed) << outcome.out << outcome.err;
}

TEST(DialogCommands, RadioButtonsByTextAndTheirArrowKeys)
{
    ExpectMet(RunProbe("click \"Alpha\"\n"
                       "expect control #1030 text \"command 1001 0\"\n"
                       "expect control #1001 checked\n"
                       "expect control #1002 unchecked\n"
                       "key Down\n"  // the dialog manager moves to Beta in the group and clicks it
                       "expect control #1030 text \"command 1002 0\"\n"
                       "expect control #1002 checked\n"
                       "expect control #1001 unchecked\n"
                       "key Up\n"
                       "key Up\n"  // wraps round within the group
                       "expect control #1003 checked\n"));
}

TEST(DialogCommands, SpinClicksAndTheBuddysArrowKeys)
{
    ExpectMet(RunProbe("expect control #1006 text \"3\"\n"
                       "spin #1005 up\n"
                       "expect control #1006 text \"4\"\n"
                       "expect control #1030 text \"vscroll 4 4\"\n"
                       "spin #1005 up 3\n"  // the range ends at 5
                       "expect control #1005 position 5\n"
                       "expect control #1006 text \"5\"\n"
                       "click #1006\n"
                       "key Down\n"
                       "expect control #1006 text \"4\"\n"
                       "expect control #1030 text \"vscroll 8 0\"\n"  // the key's release ends the scroll
                       "key PageDown\n"  // not an up-down key
                       "expect control #1005 position 4\n"));
}

TEST(DialogCommands, TrackbarDraggedAndByKeys)
{
    ExpectMet(RunProbe("slide #1007 7\n"
                       "expect control #1007 position 7\n"
                       "expect control #1030 text \"hscroll 8 0\"\n"
                       "key Left\n"
                       "expect control #1007 position 6\n"
                       "key PageDown\n"  // a fifth of the range
                       "expect control #1007 position 8\n"
                       "key PageDown\n"
                       "key Right\n"  // at the end: nothing moves
                       "expect control #1007 position 10\n"
                       "key Up\n"
                       "expect control #1007 position 9\n"
                       "slide #1007 0\n"
                       "expect control #1007 position 0\n"));
}

TEST(DialogCommands, ListsSelectByClickAndMoveByKeys)
{
    ExpectMet(RunProbe("expect control #1013 selected \"one\" entries \"one\" \"two\" \"three\" \"four\"\n"
                       "select #1013 \"three\"\n"
                       "expect control #1013 selected \"three\" text \"three\"\n"
                       "expect control #1030 text \"command 1013 1\"\n"
                       "select #1013 \"three\"\n"  // the same entry: no selection change
                       "expect control #1030 text \"command 1013 8\"\n"
                       "key Down\n"
                       "expect control #1013 selected \"four\"\n"
                       "expect control #1030 text \"command 1013 1\"\n"
                       "expect control #1014 selected none\n"
                       "select #1014 \"two\"\n"
                       "expect control #1030 text \"command 1014 1\"\n"
                       "key Down\n"
                       "expect control #1014 selected \"three\"\n"
                       "key PageUp\n"
                       "expect control #1014 selected \"one\"\n"));
}

TEST(DialogCommands, SheetTabsPagesAndTheirButtons)
{
    ExpectMet(RunProbe("click \"Sheet...\"\n"
                       "expect window \"Probe sheet\"\n"
                       "expect control #1040 unchecked\n"
                       "click \"Check me\"\n"
                       "expect control #1041 text \"check 1\"\n"
                       "tab \"Second\"\n"
                       "tab \"First\"\n"
                       "expect control #1040 checked\n"
                       "tab \"Second\"\n"
                       "click \"OK\"\n"
                       "expect no-window \"Probe sheet\"\n"
                       "expect control #1030 text \"sheet 1 ok first ok second\"\n"
                       "click \"Sheet...\"\n"
                       "key Esc\n"
                       "expect control #1030 text \"sheet 2 cancel first\"\n"));
}

TEST(DialogCommands, WizardButtons)
{
    ExpectMet(RunProbe("click \"Wizard...\"\n"
                       "expect window \"First\"                # a wizard shows its page's caption\n"
                       "expect control #12323 disabled\n"  // Back on the first page
                       "click \"Next >\"\n"
                       "expect control #12324 hidden\n"    // Finish stands in for Next
                       "expect control #12323 enabled\n"
                       "click \"Back\"\n"
                       "expect control #1040 unchecked\n"
                       "click \"Next\"\n"
                       "click \"Finish\"\n"
                       "expect control #1030 text \"sheet 1 finish second\"\n"));
}

TEST(DialogCommands, WhatCannotBeDoneStopsTheRun)
{
    Outcome unknown = RunProbe("click #4242\n");
    EXPECT_EQ(unknown.status, kScenarioError);
    EXPECT_NE(unknown.err.find("no control #4242"), std::string::npos) << unknown.err;
    Outcome entry = RunProbe("select #1013 \"five\"\n");
    EXPECT_EQ(entry.status, kScenarioError);
    EXPECT_NE(entry.err.find("has no entry \"five\""), std::string::npos) << entry.err;
    EXPECT_EQ(RunProbe("slide #1007 11\n").status, kScenarioError);
    EXPECT_EQ(RunProbe("spin #1007 up\n").status, kScenarioError);
    EXPECT_EQ(RunProbe("tab \"First\"\n").status, kScenarioError);  // no sheet is open
    Outcome missed = RunProbe("expect control #1013 selected \"two\"\n");
    EXPECT_EQ(missed.status, kExpectationFailed);
    EXPECT_NE(missed.out.find("saw #1013 combobox text \"one\" enabled visible selected \"one\" entries \"one\""),
              std::string::npos)
        << missed.out;
}

} // namespace
} // namespace tapbench
