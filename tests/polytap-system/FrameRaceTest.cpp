// Frame building and frame taking at the same time, on the real module: the port's device thread
// completes the driver's reads as the controller's bytes come in and queues a frame per packet,
// while a tool thread polls IOCTL_TOUCH_GET_CONTACT_FRAME through its own handle. Both sides meet
// only on FrameLock. Run under ThreadSanitizer (host-tsan) this is the check that they meet
// nowhere else.
//
// Every frame carries its number in its position (pixel calibration: x = n mod 1000, y = n / 1000),
// so the tool can tell a lost, repeated or reordered frame.
#include "PolytapSystem.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace polytaptest {
namespace {

using tapmachine::kMultiTouchDown;
using tapmachine::kMultiTouchTouching;

constexpr uint32_t kNumberBase = 1000;

std::vector<uint8_t> NumberedPacket(uint32_t number)
{
    auto x = static_cast<uint16_t>(number % kNumberBase);
    auto y = static_cast<uint16_t>(number / kNumberBase);
    return Packet(number == 1 ? kMultiTouchDown : kMultiTouchTouching, {x, y, 0});
}

// The tool: polls frames until told to stop and keeps the numbers of those it got.
class PollingTool {
public:
    // A tool that may find the port closed accepts the "no COM port" reply as well.
    explicit PollingTool(bool portMayClose = false) : portMayClose_(portMayClose), thread_([this] { Run(); }) {}
    ~PollingTool() { Stop(); }

    void Stop()
    {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Waits (real time) until the tool has seen frame `number`; false after a generous limit.
    bool WaitFor(uint32_t number)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return seen_.wait_for(lock, std::chrono::seconds(60), [&] { return last_ >= number || failed_; }) &&
               !failed_;
    }

    std::vector<uint32_t> numbers()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return numbers_;
    }
    std::string failure()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }
    unsigned emptyReplies() const { return emptyReplies_.load(); }
    unsigned noPortReplies() const { return noPortReplies_.load(); }

private:
    void Fail(const std::string &why)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        failure_ = why;
        seen_.notify_all();
    }

    void Run()
    {
        tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
        PFILE_OBJECT file = nullptr;
        if (!NT_SUCCESS(kernel.OpenFile(kPolytapLink, GENERIC_READ | GENERIC_WRITE, &file))) {
            Fail("the control device does not open");
            return;
        }
        while (!stop_.load()) {
            ContactFrame frame{};
            ULONG_PTR information = 0;
            NTSTATUS status =
                kernel.DeviceIoControl(file, IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, &frame, sizeof frame, &information);
            if (status != STATUS_SUCCESS || information != sizeof frame) {
                Fail("GET_CONTACT_FRAME failed");
                break;
            }
            if (frame.ContactCount == CONTACT_COUNT_NONE_QUEUED) {
                ++emptyReplies_;
                std::this_thread::yield();
                continue;
            }
            if (frame.ContactCount == CONTACT_COUNT_NO_PORT && portMayClose_) {
                ++noPortReplies_;
                std::this_thread::yield();
                continue;
            }
            if (frame.ContactCount != 1 || frame.Contact2State != 0) {
                Fail("a frame that no packet made: count " + std::to_string(frame.ContactCount));
                break;
            }
            uint32_t number = static_cast<uint32_t>(frame.Contact1Y) * kNumberBase + static_cast<uint32_t>(frame.Contact1X);
            std::lock_guard<std::mutex> lock(mutex_);
            numbers_.push_back(number);
            last_ = std::max(last_, number);
            seen_.notify_all();
        }
        kernel.CloseFile(file);
    }

    const bool portMayClose_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> emptyReplies_{0};
    std::atomic<unsigned> noPortReplies_{0};
    std::mutex mutex_;
    std::condition_variable seen_;
    std::vector<uint32_t> numbers_;
    uint32_t last_ = 0;
    bool failed_ = false;
    std::string failure_;
    std::thread thread_;
};

class FrameRaceTest : public PolytapMachine {
protected:
    void SetUp() override
    {
        Start();
        ASSERT_EQ(OpenPort(), 1u);
        ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    }

    // Packets first .. last down the line in one go; returns when every byte has been read.
    void FeedNumbered(uint32_t first, uint32_t last)
    {
        std::vector<uint8_t> bytes;
        for (uint32_t number = first; number <= last; ++number) {
            auto packet = NumberedPacket(number);
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        }
        Feed(bytes);
        machine.mouse().TakeRecords();
    }
};

TEST_F(FrameRaceTest, ToolThatKeepsUpSeesEveryFrameOnceInOrder)
{
    // Bursts of at most ten packets, the queue's size: a tool that has emptied the queue before
    // the next burst loses nothing, however the two threads interleave within a burst.
    constexpr uint32_t kBursts = 120;
    constexpr uint32_t kBurst = 10;
    PollingTool tool;
    uint32_t next = 1;
    for (uint32_t burst = 0; burst < kBursts; ++burst) {
        uint32_t last = next + kBurst - 1 - burst % 3;  // 8, 9 or 10 packets
        FeedNumbered(next, last);
        ASSERT_TRUE(tool.WaitFor(last)) << tool.failure() << " (waiting for frame " << last << ")";
        next = last + 1;
    }
    tool.Stop();
    ASSERT_EQ(tool.failure(), "");

    std::vector<uint32_t> numbers = tool.numbers();
    ASSERT_EQ(numbers.size(), next - 1);
    for (uint32_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], i + 1) << "frame " << i;
    }
}

TEST_F(FrameRaceTest, SlowToolLosesOnlyTheOldestFrames)
{
    // Bursts longer than the queue: frames may be lost, but only by overflow, so what the tool
    // sees still rises strictly, and the newest ten of every burst always reach it.
    constexpr uint32_t kBursts = 12;
    constexpr uint32_t kBurst = 40;
    PollingTool tool;
    uint32_t next = 1;
    std::vector<uint32_t> burstEnds;
    for (uint32_t burst = 0; burst < kBursts; ++burst) {
        uint32_t last = next + kBurst - 1;
        FeedNumbered(next, last);
        ASSERT_TRUE(tool.WaitFor(last)) << tool.failure() << " (waiting for frame " << last << ")";
        burstEnds.push_back(last);
        next = last + 1;
    }
    tool.Stop();
    ASSERT_EQ(tool.failure(), "");

    std::vector<uint32_t> numbers = tool.numbers();
    for (size_t i = 1; i < numbers.size(); ++i) {
        ASSERT_LT(numbers[i - 1], numbers[i]) << "at " << i;
    }
    for (uint32_t end : burstEnds) {
        for (uint32_t number = end - 9; number <= end; ++number) {
            EXPECT_TRUE(std::binary_search(numbers.begin(), numbers.end(), number)) << "frame " << number;
        }
    }
}

TEST_F(FrameRaceTest, PortClosedAndOpenedUnderAPollingTool)
{
    // The reply looks at the port while another thread opens and closes it on demand; frames fed
    // while the port is open still arrive whole and in order.
    PollingTool tool(true);
    uint32_t next = 1;
    for (int round = 0; round < 40; ++round) {
        ASSERT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
        ASSERT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
        FeedNumbered(next, next + 4);
        ASSERT_TRUE(tool.WaitFor(next + 4)) << tool.failure();
        next += 5;
    }
    tool.Stop();
    ASSERT_EQ(tool.failure(), "");
    std::vector<uint32_t> numbers = tool.numbers();
    ASSERT_EQ(numbers.size(), next - 1);
    for (uint32_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], i + 1) << "frame " << i;
    }
}

}  // namespace
}  // namespace polytaptest
