// The reader's stop protocol under load: the port's device thread completes reads (and issues the
// next ones) while another thread closes and opens the port, stops the device or removes it.
// Run under ThreadSanitizer (host-tsan) and the kernel's verifier.
#include "MonotapSystem.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace monotaptest;

namespace {

constexpr int kClosesAndOpens = 5000;
constexpr int kRemovals = 200;
constexpr int kStops = 100;

class Stress : public MonotapMachine {
protected:
    Stress()
    {
        SetParameter(u"Port", 1);
        SetParameter(u"Enable", 1);
        SetParameter(u"BeepMode", BEEP_ON_TOUCH);
        SetParameter(u"BeepFreq", 880);
        SetParameter(u"BeepTime", 1);
    }

    ~Stress() override
    {
        if (feeder_.joinable()) {
            stop_ = true;
            feeder_.join();
        }
    }

    // Sends touch packets down COM1 and hands them to the port at once, until told to stop, so
    // that reads complete on the port's device thread all along. Only the port's line is touched
    // from this thread (the machine's PnP state belongs to the test's thread); the virtual clock
    // does not move.
    void StartFeeding()
    {
        tapmachine::ComPort &port = machine.comPort(1);
        feeder_ = std::thread([this, &port] {
            uint16_t x = 0;
            while (!stop_) {
                // The next packet when the last one has been read (or lost with a closed port),
                // as a controller's pace gives a reader time to keep up.
                if (paused_ || port.bytesWaiting() != 0) {
                    std::this_thread::yield();
                    continue;
                }
                std::vector<uint8_t> packet = Packet(x % 3 ? 0x81 : 0x84, x, static_cast<uint16_t>(4095 - x));
                port.FeedAtOnce(packet);
                x = static_cast<uint16_t>((x + 37) % 4096);
                // A breath between packets (a real line brings one every 10 ms). The reader reads
                // on in the issuing thread for as long as its reads find bytes waiting; a line
                // faster than the reader (even slowed by a sanitizer) would keep an open request
                // from ever returning. The breath also leaves the machine the idle moments its
                // PnP operations wait for.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }

    void StopFeeding()
    {
        stop_ = true;
        feeder_.join();
        machine.Settle();
    }

    // A control code straight through a handle, without waiting for the machine to be idle.
    NTSTATUS RawControl(ULONG code, ULONG value = 0)
    {
        tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
        PFILE_OBJECT file = nullptr;
        NTSTATUS status = kernel.OpenFile(u"\\??\\MonotapSymLnk1", FILE_ALL_ACCESS, &file);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ULONG_PTR information = 0;
        status = kernel.DeviceIoControl(file, code, value ? &value : nullptr, value ? sizeof value : 0, nullptr, 0,
                                        &information);
        kernel.CloseFile(file);
        return status;
    }

    // Runs a PnP operation of the machine. The operation waits for idle moments, which a line
    // that never stops would not leave it; so the feeder holds off while it runs, and the packets
    // it had just handed over are still being read when the operation begins.
    template <typename Operation>
    auto WhileFeedingHolds(Operation operation)
    {
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let some packets arrive
        paused_ = true;
        auto result = operation();
        paused_ = false;
        return result;
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::thread feeder_;
};

TEST_F(Stress, CloseAndOpenAgainstCompletingReads)
{
    Start();
    StartFeeding();
    for (int i = 0; i < kClosesAndOpens; ++i) {
        ASSERT_EQ(RawControl(IOCTL_TOUCH_CLOSE_PORT), STATUS_SUCCESS);
        ASSERT_EQ(RawControl(IOCTL_TOUCH_OPEN_PORT, 1), STATUS_SUCCESS);
    }
    StopFeeding();
    // Every open issues one read; the rest were issued by completions on the device thread.
    EXPECT_GT(ReadsIssued(1), size_t(kClosesAndOpens)) << "reads completed along the way";
    TakeRecords();
    EXPECT_EQ(OpenPort(), 1u);
    Feed(1, Packet(0x84, 10, 10));
    Feed(1, Packet(0x81, 10, 10));
    EXPECT_FALSE(TakeRecords().empty()) << "still reading";
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
}

TEST_F(Stress, RemovalAgainstCompletingReads)
{
    Start();
    StartFeeding();
    for (int i = 0; i < kRemovals; ++i) {
        ASSERT_EQ(WhileFeedingHolds([&] { return machine.RemoveDevice(node); }), STATUS_SUCCESS);
        ASSERT_EQ(WhileFeedingHolds([&] { return machine.StartDevice(node); }), STATUS_SUCCESS);
    }
    StopFeeding();
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));
}

TEST_F(Stress, StopAgainstCompletingReads)
{
    for (int i = 0; i < kStops; ++i) {
        Start();
        StartFeeding();
        RawControl(IOCTL_TOUCH_CLOSE_PORT);
        RawControl(IOCTL_TOUCH_OPEN_PORT, 1);
        ASSERT_EQ(WhileFeedingHolds([&] { return machine.StopDevice(node); }), STATUS_SUCCESS);
        RawControl(IOCTL_TOUCH_OPEN_PORT, 1);
        StopFeeding();
        stop_ = false;
        machine.comPort(1).ClearRequests();
        Feed(1, Packet(0x81, 10, 10));
        EXPECT_TRUE(machine.comPort(1).requests().empty()) << "no read after the stop";
        ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    }
}

} // namespace
