#include "tap/desktop/Scheduler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tap::desktop {
namespace {

// A simulated thread that stays busy this long in real time is a hang in the program under test.
constexpr std::chrono::seconds kHangLimit{20};

} // namespace

uint64_t LocalScheduler::Now() const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return now_;
}

void LocalScheduler::AddWaiter(TimedWaiter* waiter)
{
    std::lock_guard<std::mutex> lock(waitersMutex_);
    waiters_.push_back(waiter);
}

void LocalScheduler::RemoveWaiter(TimedWaiter* waiter)
{
    std::lock_guard<std::mutex> lock(waitersMutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

void LocalScheduler::Runnable()
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    ++busy_;
}

void LocalScheduler::Blocked()
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (--busy_ == 0) {
        idle_.notify_all();
    }
}

void LocalScheduler::WaitUntilIdle()
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    if (!idle_.wait_for(lock, kHangLimit, [this] { return busy_ == 0; })) {
        std::fprintf(stderr, "WaitUntilIdle: %d simulated thread(s) still busy after %lld s\n", busy_,
                     static_cast<long long>(kHangLimit.count()));
        std::abort();
    }
}

std::optional<uint64_t> LocalScheduler::EarliestDeadlineAfter(uint64_t now)
{
    std::lock_guard<std::mutex> lock(waitersMutex_);
    std::optional<uint64_t> earliest;
    for (TimedWaiter* waiter : waiters_) {
        // A deadline already passed has been signalled; its waiter runs when it can.
        std::optional<uint64_t> deadline = waiter->NextDeadline();
        if (deadline && *deadline > now && (!earliest || *deadline < *earliest)) {
            earliest = deadline;
        }
    }
    return earliest;
}

void LocalScheduler::MoveClockTo(uint64_t time)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        now_ = std::max(now_, time);
    }
    std::lock_guard<std::mutex> lock(waitersMutex_);
    for (TimedWaiter* waiter : waiters_) {
        waiter->ClockAdvanced(time);
    }
}

void LocalScheduler::Advance(uint64_t milliseconds)
{
    WaitUntilIdle();
    const uint64_t target = Now() + milliseconds;
    for (;;) {
        std::optional<uint64_t> deadline = EarliestDeadlineAfter(Now());
        if (!deadline || *deadline > target) {
            break;
        }
        MoveClockTo(*deadline);
        WaitUntilIdle();
    }
    MoveClockTo(target);
    WaitUntilIdle();
}

} // namespace tap::desktop
