// The virtual clock and "wait until idle".
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tap/desktop/Scheduler.h"

namespace tap::desktop {
namespace {

// A periodic timer that records the virtual times at which it fired.
class PeriodicWaiter : public TimedWaiter {
public:
    explicit PeriodicWaiter(uint64_t period) : period_(period), next_(period) {}
    std::optional<uint64_t> NextDeadline() const override { return next_; }
    void ClockAdvanced(uint64_t now) override
    {
        while (next_ <= now) {
            fired.push_back(next_);
            next_ += period_;
        }
    }
    std::vector<uint64_t> fired;

private:
    uint64_t period_;
    uint64_t next_;
};

TEST(Scheduler, AdvanceStopsAtEveryDeadlineOnTheWay)
{
    LocalScheduler scheduler;
    PeriodicWaiter timer(500);
    scheduler.AddWaiter(&timer);
    scheduler.Advance(499);
    EXPECT_TRUE(timer.fired.empty());
    scheduler.Advance(1001);
    EXPECT_EQ(timer.fired, (std::vector<uint64_t>{500, 1000, 1500}));
    EXPECT_EQ(scheduler.Now(), 1500u);
    scheduler.RemoveWaiter(&timer);
    scheduler.Advance(1000);
    EXPECT_EQ(timer.fired.size(), 3u);
}

TEST(Scheduler, WaitUntilIdleWaitsForBusyThreads)
{
    LocalScheduler scheduler;
    std::atomic<bool> done{false};
    scheduler.Runnable(); // counted busy before it starts, as a woken thread is
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        done = true;
        scheduler.Blocked();
    });
    scheduler.WaitUntilIdle();
    EXPECT_TRUE(done);
    worker.join();
}

} // namespace
} // namespace tap::desktop
