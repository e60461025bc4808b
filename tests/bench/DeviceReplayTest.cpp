// `tapbench replay --device` and `tapbench record` over a pseudo-terminal pair: the bench holds
// the terminal end as it would a real serial port, the test writes a recorded stream into the
// other end as a controller would, then hangs up.
#include "DeviceReplay.h"
#include "Replay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "ByteStream.h"

namespace tapbench {
namespace {

const std::string kCalibration = "75000,325000,75000,325000,0,1024,768";

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

std::vector<uint8_t> HexFile(const std::string &path)
{
    std::ifstream in(path);
    std::string error;
    auto bytes = ParseHexStream(in, error);
    EXPECT_TRUE(bytes) << error;
    return bytes ? *bytes : std::vector<uint8_t>{};
}

// The text so far of a stream written by the bench's thread and read by the test's. It keeps no
// put area, so every write comes through one of the two overrides, each taking the lock once (a
// std::stringbuf underneath calls back into overflow() while xsputn() holds the lock).
class SharedText : public std::streambuf {
public:
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

protected:
    std::streamsize xsputn(const char *text, std::streamsize count) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(text, size_t(count));
        return count;
    }
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }

private:
    std::mutex mutex_;
    std::string text_;
};

// Waits up to ten seconds for the condition.
template <typename Condition>
bool Eventually(Condition condition)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A pseudo-terminal pair: the controller's end here, the port's end by its name.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(grantpt(master_), 0);
        EXPECT_EQ(unlockpt(master_), 0);
        port_ = ptsname(master_);
    }
    ~PseudoTerminal() { HangUp(); }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &port() const { return port_; }

    // The port end's settings (a pair shares one termios record).
    termios Settings() const
    {
        termios settings{};
        tcgetattr(master_, &settings);
        return settings;
    }
    void Send(const std::vector<uint8_t> &bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void HangUp()
    {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    std::string port_;
};

bool SetTo(const termios &settings, speed_t speed)
{
    return cfgetispeed(&settings) == speed && (settings.c_cflag & CSIZE) == CS8 && !(settings.c_cflag & PARENB) &&
           !(settings.c_cflag & CSTOPB) && !(settings.c_lflag & (ICANON | ECHO)) && !(settings.c_iflag & IXON);
}

// Everything but the closing lines (the raw sample and the right-click flag), which come after
// the hang-up.
std::string LiveLines(const std::string &expected)
{
    size_t end = expected.size();
    for (int lines = 0; lines < 2 && end > 0; ++lines) {
        end = expected.rfind('\n', end - 2) + 1;
    }
    return expected.substr(0, end);
}

struct DeviceRun {
    SharedText out;
    std::ostringstream err;
    int status = -1;
    std::thread thread;

    template <typename Command>
    void Start(Command command)
    {
        thread = std::thread([this, command] {
            std::ostream outStream(&out);
            status = command(outStream, err);
        });
    }
    void Join() { thread.join(); }
};

// Feeds the stream once the port is set, waits until the bench printed what it causes, hangs up.
void Play(PseudoTerminal &terminal, DeviceRun &run, speed_t speed, const std::vector<uint8_t> &bytes,
          const std::string &liveLines)
{
    bool set = Eventually([&] { return SetTo(terminal.Settings(), speed); });
    EXPECT_TRUE(set) << "the port was not set";
    if (set) {
        terminal.Send(bytes);
        EXPECT_TRUE(Eventually([&] { return run.out.Text() == liveLines; })) << run.out.Text();
    }
    // The bench's thread is joined on every path: the hang-up is what ends its read.
    terminal.HangUp();
    run.Join();
}

TEST(DeviceReplay, ARealPortGivesTheLinesOfAReplay)
{
    PseudoTerminal terminal;
    std::vector<std::string> args = {"--calibration", kCalibration, "--set",  "BeepMode=1", "--set",
                                     "BeepFreq=1000", "--set",      "BeepTime=100", "--device", terminal.port()};
    DeviceRun run;
    run.Start([&](std::ostream &out, std::ostream &err) {
        std::istringstream none;
        return RunReplay(args, none, out, err);
    });
    std::string expected = ReadFile(DataFile("tap.expected"));
    Play(terminal, run, B9600, HexFile(DataFile("tap.hex")), LiveLines(expected));
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.out.Text(), expected);
    EXPECT_NE(run.err.str().find("at 9600 8N1, Monotap's line settings"), std::string::npos) << run.err.str();
}

TEST(DeviceReplay, RecordKeepsTheStreamForALaterReplay)
{
    PseudoTerminal terminal;
    std::string file = testing::TempDir() + "/recorded.hex";
    std::vector<std::string> args = {"--calibration", kCalibration, "--set", "MouseMode=0",
                                     "--device",      terminal.port(), file};
    DeviceRun run;
    run.Start([&](std::ostream &out, std::ostream &err) { return RunRecord(args, out, err); });
    std::vector<uint8_t> stream = HexFile(DataFile("drag.hex"));
    std::string expected = ReadFile(DataFile("drag.expected"));
    Play(terminal, run, B9600, stream, LiveLines(expected));
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.out.Text(), expected);

    EXPECT_EQ(HexFile(file), stream) << ReadFile(file);
    EXPECT_EQ(ReadFile(file).rfind("# tapbench record: " + terminal.port() + " at 9600 8N1", 0), 0u);
    std::istringstream none;
    std::ostringstream out, err;
    EXPECT_EQ(RunReplay({"--calibration", kCalibration, "--set", "MouseMode=0", file}, none, out, err), 0);
    EXPECT_EQ(out.str(), expected) << "the recording replays as the live run went";
}

TEST(DeviceReplay, ThePortIsSetToPolytapsBaudRate)
{
    PseudoTerminal terminal;
    std::vector<std::string> args = {"--driver", "polytap", "--set", "BaudRate=19200", "--device", terminal.port()};
    DeviceRun run;
    run.Start([&](std::ostream &out, std::ostream &err) {
        std::istringstream none;
        return RunReplay(args, none, out, err);
    });
    Play(terminal, run, B19200, {}, "");
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.out.Text(), "raw x=0 y=0 z=0\nright-click armed=0\n");
}

TEST(DeviceReplay, PortsThatCannotBeUsedAreNamed)
{
    auto replay = [](std::vector<std::string> args) {
        std::istringstream none;
        std::ostringstream out, err;
        int status = RunReplay(args, none, out, err);
        return std::make_pair(status, err.str());
    };
    auto missing = replay({"--device", "/nonexistent/ttyUSB9"});
    EXPECT_EQ(missing.first, 1);
    EXPECT_NE(missing.second.find("cannot open '/nonexistent/ttyUSB9'"), std::string::npos) << missing.second;
    auto notATerminal = replay({"--device", "/dev/null"});
    EXPECT_EQ(notATerminal.first, 1);
    EXPECT_NE(notATerminal.second.find("is not a serial port"), std::string::npos) << notATerminal.second;

    PseudoTerminal terminal;
    auto disabled = replay({"--set", "Enable=0", "--device", terminal.port()});
    EXPECT_EQ(disabled.first, 1);
    EXPECT_NE(disabled.second.find("did not open its COM port"), std::string::npos) << disabled.second;
    auto oddRate = replay({"--driver", "polytap", "--set", "BaudRate=1000", "--device", terminal.port()});
    EXPECT_EQ(oddRate.first, 1);
    EXPECT_NE(oddRate.second.find("1000 baud"), std::string::npos) << oddRate.second;

    EXPECT_EQ(replay({"--device", terminal.port(), "stream.hex"}).first, 2) << "a port or a FILE, not both";
    std::ostringstream out, err;
    EXPECT_EQ(RunRecord({"--device", terminal.port()}, out, err), 2) << "record wants its FILE";
    EXPECT_EQ(RunRecord({"recorded.hex"}, out, err), 2) << "record wants a port";
}

} // namespace
} // namespace tapbench
