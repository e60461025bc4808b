#include "MachineScheduler.h"

#include "../MachineState.h"

#include "tap/ui/host/Session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tapmachine {

namespace {

// A UI thread that stays busy this long in real time is a hang in the program under test.
constexpr std::chrono::seconds kHangLimit{20};

}  // namespace

MachineScheduler::MachineScheduler(MachineState &machine) : machine_(machine) {}

uint64_t MachineScheduler::Now() const
{
    return static_cast<uint64_t>(machine_.Now() / kTicksPerMillisecond);
}

void MachineScheduler::AddWaiter(tap::desktop::TimedWaiter *waiter)
{
    std::lock_guard<std::mutex> lock(waitersMutex_);
    waiters_.push_back(waiter);
    waiterCount_.store(waiters_.size());
}

void MachineScheduler::RemoveWaiter(tap::desktop::TimedWaiter *waiter)
{
    std::lock_guard<std::mutex> lock(waitersMutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
    waiterCount_.store(waiters_.size());
}

void MachineScheduler::PublishCounts()
{
    counts_.store((wakeups_ << 32) | static_cast<uint32_t>(busy_), std::memory_order_release);
}

void MachineScheduler::Runnable()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++busy_;
    ++wakeups_;
    PublishCounts();
}

void MachineScheduler::Blocked()
{
    std::lock_guard<std::mutex> lock(mutex_);
    --busy_;
    PublishCounts();
    // One busy thread left may be the one that waits for idle itself.
    if (busy_ <= 1) {
        idle_.notify_all();
    }
}

void MachineScheduler::WaitUntilIdle()
{
    machine_.WaitIdle();
}

void MachineScheduler::Advance(uint64_t milliseconds)
{
    machine_.AdvanceTo(machine_.Now() + static_cast<Ticks>(milliseconds) * kTicksPerMillisecond);
}

uint64_t MachineScheduler::Wakeups() const
{
    return WakeupsOf(counts_.load(std::memory_order_acquire));
}

MachineScheduler::UiActivity MachineScheduler::uiActivity() const
{
    const uint64_t counts = counts_.load(std::memory_order_acquire);
    return {WakeupsOf(counts), BusyOf(counts) <= Allowance()};
}

int MachineScheduler::Allowance() const
{
    // A UI thread that waits for idle (a program driving the machine) is busy itself.
    return tap::ui::host::Session::IsSimulatedThread() ? 1 : 0;
}

void MachineScheduler::WaitForUiThreads()
{
    const int allowance = Allowance();
    std::unique_lock<std::mutex> lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    while (busy_ > allowance) {
        if (idle_.wait_until(lock, deadline) == std::cv_status::timeout && busy_ > allowance) {
            std::fprintf(stderr, "Machine::WaitIdle: %d UI thread(s) still busy after %lld s\n", busy_ - allowance,
                         static_cast<long long>(kHangLimit.count()));
            std::abort();
        }
    }
}

bool MachineScheduler::UiThreadsIdle() const
{
    return BusyOf(counts_.load(std::memory_order_acquire)) <= Allowance();
}

std::optional<Ticks> MachineScheduler::NextDeadlineAfter(Ticks after)
{
    std::optional<Ticks> earliest;
    if (waiterCount_.load() == 0) {
        return earliest;
    }
    std::lock_guard<std::mutex> lock(waitersMutex_);
    for (tap::desktop::TimedWaiter *waiter : waiters_) {
        std::optional<uint64_t> deadline = waiter->NextDeadline();
        if (!deadline) {
            continue;
        }
        // A deadline that has passed has been signalled; its queue runs when it can.
        Ticks due = static_cast<Ticks>(*deadline) * kTicksPerMillisecond;
        if (due > after && (!earliest || due < *earliest)) {
            earliest = due;
        }
    }
    return earliest;
}

void MachineScheduler::ClockMoved(Ticks now)
{
    const uint64_t milliseconds = static_cast<uint64_t>(now / kTicksPerMillisecond);
    if (waiterCount_.load() == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(waitersMutex_);
    for (tap::desktop::TimedWaiter *waiter : waiters_) {
        waiter->ClockAdvanced(milliseconds);
    }
}

uint64_t MachineScheduler::Activity() const
{
    return machine_.kernel().ForeignDriverCalls() + pokes_.load();
}

void MachineScheduler::AwaitActivity(uint64_t seen)
{
    Poller self;
    std::unique_lock<std::mutex> lock(pollMutex_);
    if (stopAwaiting_) {
        return;
    }
    // Announced before the count is looked at again: a driver call that comes after the look
    // sees the poller and wakes it (both sides use sequentially consistent operations).
    pollers_.fetch_add(1);
    if (Activity() != seen) {
        pollers_.fetch_sub(1);
        return;
    }
    waitingPollers_.push_back(&self);
    Blocked();
    pollWake_.wait(lock, [&self] { return self.woken; });
    pollers_.fetch_sub(1);
}

void MachineScheduler::WakePollers()
{
    std::lock_guard<std::mutex> lock(pollMutex_);
    for (Poller *poller : waitingPollers_) {
        Runnable();
        poller->woken = true;
    }
    waitingPollers_.clear();
    pollWake_.notify_all();
}

void MachineScheduler::Poke()
{
    pokes_.fetch_add(1);
    if (pollers_.load() > 0) {
        WakePollers();
    }
}

void MachineScheduler::StopAwaiting()
{
    {
        std::lock_guard<std::mutex> lock(pollMutex_);
        stopAwaiting_ = true;
    }
    WakePollers();
}

void MachineScheduler::DriverActivity(void *context)
{
    auto *scheduler = static_cast<MachineScheduler *>(context);
    if (scheduler->pollers_.load() > 0) {
        scheduler->WakePollers();
    }
}

}  // namespace tapmachine
