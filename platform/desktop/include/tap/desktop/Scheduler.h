// Virtual time and "wait until idle" for the simulated programs.
//
// Nothing in the simulated PC sleeps in real time: window timers and time-outs wait for a virtual
// clock that a test or scenario moves forward. And a test can wait until every simulated thread is
// blocked with nothing to do, so that "click, wait, look" gives the same picture every run.
//
// Scheduler is the small interface the window system uses for both. LocalScheduler implements it
// on its own for a desktop without a machine; the simulated machine implements it over its own
// clock and thread accounting (kernel threads, pending completions) and hands it to the Desktop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tap::desktop {

// Something that sleeps until a virtual time or until it is woken: a UI thread's message queue.
class TimedWaiter {
public:
    virtual ~TimedWaiter() = default;
    // The earliest virtual time (ms) at which it wants to run, if any.
    virtual std::optional<uint64_t> NextDeadline() const = 0;
    // The clock now reads NOW: wake if a deadline has come.
    virtual void ClockAdvanced(uint64_t now) = 0;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;

    virtual uint64_t Now() const = 0;
    virtual void AddWaiter(TimedWaiter* waiter) = 0;
    virtual void RemoveWaiter(TimedWaiter* waiter) = 0;

    // Activity accounting. A simulated thread counts as busy from Runnable() to Blocked(). Whoever
    // wakes a blocked thread calls Runnable() for it before the wake-up, so that the system is never
    // seen idle between the wake-up and the thread's running.
    virtual void Runnable() = 0;
    virtual void Blocked() = 0;

    // Returns when no simulated thread is busy.
    virtual void WaitUntilIdle() = 0;
    // Moves the clock forward by MILLISECONDS. It stops at every deadline on the way, wakes the
    // waiters that are due and waits until idle before going on, so a 500 ms timer fires twice in
    // an advance of 1000 ms.
    virtual void Advance(uint64_t milliseconds) = 0;
};

class LocalScheduler final : public Scheduler {
public:
    uint64_t Now() const override;
    void AddWaiter(TimedWaiter* waiter) override;
    void RemoveWaiter(TimedWaiter* waiter) override;
    void Runnable() override;
    void Blocked() override;
    void WaitUntilIdle() override;
    void Advance(uint64_t milliseconds) override;

private:
    std::optional<uint64_t> EarliestDeadlineAfter(uint64_t now);
    void MoveClockTo(uint64_t time);

    mutable std::mutex stateMutex_;
    std::condition_variable idle_;
    uint64_t now_ = 0;
    int busy_ = 0;

    std::mutex waitersMutex_; // taken before any waiter's own lock
    std::vector<TimedWaiter*> waiters_;
};

} // namespace tap::desktop
