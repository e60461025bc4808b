// WinExec on the simulated PC: which file a command line names, where a bare name is searched
// for, what the started program receives, and what a failure returns.
#include <windows.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

#include <gtest/gtest.h>

namespace win32test {
namespace {

constexpr UINT kShowNormal = 1;  // SW_SHOWNORMAL of winuser.h

class WinExecOnMachine : public testing::Test {
protected:
    // The commands lines of the processes started, in order.
    std::vector<std::string> Started()
    {
        machine.WaitIdle();
        std::vector<std::string> lines;
        for (const tapmachine::ProcessInfo &process : machine.processes()) {
            lines.push_back(std::string(process.imagePath.begin(), process.imagePath.end()) + " [" +
                            process.commandLine + "]");
        }
        return lines;
    }

    tapmachine::Machine machine;
};

TEST_F(WinExecOnMachine, AFullPathStartsThatImageWithWhatFollowsTheName)
{
    machine.InstallProgram(TAP_TICKER_MODULE, u"C:\\Program Files\\Ticker\\Ticker.exe", true);
    EXPECT_GT(WinExec("\"C:\\Program Files\\Ticker\\Ticker.exe\"   one two", kShowNormal), 31u);
    // Unquoted: tried at each blank; .exe added; names match in any case.
    EXPECT_GT(WinExec("c:\\program files\\ticker\\TICKER", kShowNormal), 31u);
    EXPECT_EQ(Started(), (std::vector<std::string>{"C:\\Program Files\\Ticker\\Ticker.exe [one two]",
                                                   "C:\\program files\\ticker\\TICKER.exe []"}));
}

TEST_F(WinExecOnMachine, ABareNameIsSearchedInTheSystemFolderBeforeTheWindowsFolder)
{
    tapwin32::Process tool("C:\\Tools\\Tool.exe");  // image and current folder: C:\Tools
    tapwin32::ProcessScope scope(tool);
    EXPECT_EQ(WinExec("Ticker.exe", kShowNormal), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    machine.InstallProgram(TAP_TICKER_MODULE, u"C:\\WINDOWS\\Ticker.exe", true);
    EXPECT_GT(WinExec("Ticker first", kShowNormal), 31u);
    machine.InstallProgram(TAP_TICKER_MODULE, u"C:\\WINDOWS\\system32\\Ticker.exe", true);
    EXPECT_GT(WinExec("Ticker second", kShowNormal), 31u);
    EXPECT_EQ(Started(), (std::vector<std::string>{"C:\\WINDOWS\\Ticker.exe [first]",
                                                   "C:\\WINDOWS\\system32\\Ticker.exe [second]"}));
}

TEST_F(WinExecOnMachine, AProgramFindsProgramsBesideItsOwnImageFirst)
{
    machine.InstallProgram(TAP_TICKER_MODULE, u"C:\\Tools\\Ticker.exe", true);
    machine.InstallProgram(TAP_TICKER_MODULE, u"C:\\WINDOWS\\Ticker.exe", true);
    ASSERT_GT(WinExec("C:\\Tools\\Ticker.exe parent", kShowNormal), 31u);
    machine.WaitIdle();
    machine.KeyPress(0x0D);  // Enter: Ticker starts "Ticker.exe child"
    EXPECT_EQ(Started(), (std::vector<std::string>{"C:\\Tools\\Ticker.exe [parent]", "C:\\Tools\\Ticker.exe [child]"}));
    auto boxes = machine.windowSystem().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "WinExec 33");
}

TEST_F(WinExecOnMachine, FailuresNameTheirCause)
{
    EXPECT_EQ(WinExec("C:\\Nowhere\\Ticker.exe", kShowNormal), static_cast<UINT>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(WinExec("C:\\WINDOWS\\Ticker.exe", kShowNormal), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec("", kShowNormal), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    machine.files().WriteText(u"C:\\WINDOWS\\notes.exe", "text\n");
    EXPECT_EQ(WinExec("notes", kShowNormal), static_cast<UINT>(ERROR_BAD_FORMAT));
    EXPECT_TRUE(Started().empty());
}

} // namespace
} // namespace win32test
