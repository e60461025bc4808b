// The watchdog: a machine whose every thread waits for something only another thread could give
// fails within seconds, naming the waits; a machine with a thread still at work does not.
#include <ntddk.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <tapkernel/Kernel.h>

namespace {

class WatchdogTest : public testing::Test {
protected:
    WatchdogTest()
    {
        tapkernel::KernelOptions options;
        options.deadlockGrace = std::chrono::milliseconds(50);
        kernel = std::make_unique<tapkernel::Kernel>(options);
        KeInitializeEvent(&never, NotificationEvent, FALSE);
        KeInitializeMutex(&mutex, 0);
    }

    std::unique_ptr<tapkernel::Kernel> kernel;
    KEVENT never;
    KMUTEX mutex;
};

TEST_F(WatchdogTest, AWaitNothingCanEndIsReportedWithTheWaitsFound)
{
    // The stop that waits for an acknowledgement no reader will give, while a worker waits for the
    // mutex the stop holds.
    EXPECT_DEATH(
        {
            KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
            PKTHREAD worker = kernel->StartThread("beep worker", [this] {
                KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
            });
            (void)worker;
            KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
        },
        "BUGCHECK in watchdog: deadlock: .*waits found:(.|\n)*'caller' waits on notification event "
        "(.|\n)*'beep worker' waits on mutex .* \\(owned by 'caller'\\)");
}

TEST_F(WatchdogTest, AThreadStillAtWorkIsNoDeadlock)
{
    std::atomic<bool> done{false};
    PKTHREAD worker = kernel->StartThread("worker", [&] {
        // Busy for many grace periods of the watchdog, then it ends the wait.
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
        while (std::chrono::steady_clock::now() < until) {
        }
        done = true;
        KeSetEvent(&never, IO_NO_INCREMENT, FALSE);
    });
    KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
    EXPECT_TRUE(done);
    KeWaitForSingleObject(worker, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(worker);
}

TEST_F(WatchdogTest, AWaitWithATimeOutIsNoDeadlock)
{
    // Another thread may still move the clock: a timed wait of the worker keeps the machine alive.
    PKTHREAD worker = kernel->StartThread("timer", [this] {
        LARGE_INTEGER tenSeconds;
        tenSeconds.QuadPart = -100000000LL;
        KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
        KeDelayExecutionThread(KernelMode, FALSE, &tenSeconds);
        KeSetEvent(&never, IO_NO_INCREMENT, FALSE);
        KeReleaseMutex(&mutex, FALSE);
    });
    std::thread clockMover([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kernel->AdvanceClock(100000000LL);
    });
    KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
    clockMover.join();
    KeWaitForSingleObject(worker, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(worker);
}

} // namespace
