// The desktop's clock and idle test on the simulated PC: the kernel's virtual clock, and an
// activity count of the UI threads that the machine's own idle test adds to the kernel's.
//
// The window system (the framework's host backend) calls Runnable()/Blocked() as its threads wake
// and wait, and registers each UI thread's queue as a TimedWaiter for its window timers. The
// machine asks for the earliest UI deadline when it steps the clock, tells the waiters when the
// clock has moved, and waits for the UI threads as part of Machine::WaitIdle().
#pragma once

#include <machine/SerialLine.h>

#include "tap/desktop/Scheduler.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tapmachine {

class MachineState;

class MachineScheduler final : public tap::desktop::Scheduler {
public:
    explicit MachineScheduler(MachineState &machine);

    // ---- tap::desktop::Scheduler ----
    uint64_t Now() const override;  // milliseconds since boot
    void AddWaiter(tap::desktop::TimedWaiter *waiter) override;
    void RemoveWaiter(tap::desktop::TimedWaiter *waiter) override;
    void Runnable() override;
    void Blocked() override;
    void WaitUntilIdle() override;           // Machine::WaitIdle
    void Advance(uint64_t milliseconds) override;  // Machine::Advance

    // ---- For the machine ----
    // Counts every Runnable() (modulo 2^32): a change means some UI thread has been woken since.
    uint64_t Wakeups() const;
    // The wake-up count and whether the UI threads are idle, read together.
    struct UiActivity {
        uint64_t wakeups = 0;
        bool idle = false;
        bool operator==(const UiActivity &other) const { return wakeups == other.wakeups && idle == other.idle; }
    };
    UiActivity uiActivity() const;
    // Returns when no UI thread is busy (besides the caller, when the caller is one of them).
    // Aborts naming the count when they stay busy for longer than a hang limit.
    void WaitForUiThreads();
    bool UiThreadsIdle() const;
    // The earliest window-timer deadline after AFTER, in ticks since boot.
    std::optional<Ticks> NextDeadlineAfter(Ticks after);
    // The clock reads NOW: wakes the queues whose timers have come due.
    void ClockMoved(Ticks now);

    // ---- Threads that poll without a pause ----
    // What a poller's answer may depend on: driver code run by other threads (the kernel's
    // ForeignDriverCalls) and every Poke. A program's thread that got the same answer twice with
    // no activity in between waits in AwaitActivity, blocked for the idle test, until the count
    // moves; whoever moves it marks the poller runnable first, so the machine is never seen idle
    // between the wake-up and the poller's next question.
    uint64_t Activity() const;
    void AwaitActivity(uint64_t seen);
    // The clock moved, the machine's user acted, or a program did something a poller may wait
    // for (a request, a wait, a close).
    void Poke();
    // From now on AwaitActivity returns at once (the machine is shutting down).
    void StopAwaiting();
    // The kernel's driver-activity hook; CONTEXT is the scheduler.
    static void DriverActivity(void *context);

private:
    void WakePollers();

    int Allowance() const;  // busy threads the caller itself accounts for

    MachineState &machine_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int busy_ = 0;
    uint64_t wakeups_ = 0;
    // busy_ and the low 32 bits of wakeups_ as one word, stored under mutex_ whenever either
    // changes: the idle test reads the pair on every step without taking the lock.
    std::atomic<uint64_t> counts_{0};
    void PublishCounts();  // mutex_ held
    static int BusyOf(uint64_t counts) { return static_cast<int32_t>(static_cast<uint32_t>(counts)); }
    static uint64_t WakeupsOf(uint64_t counts) { return counts >> 32; }

    std::mutex waitersMutex_;  // taken before any waiter's own lock
    std::vector<tap::desktop::TimedWaiter *> waiters_;
    // waiters_.size(), read without the lock: a machine without programs steps its clock
    // without touching the waiters' lock.
    std::atomic<size_t> waiterCount_{0};

    // Pollers waiting in AwaitActivity; `pollers_` is read without the lock by DriverActivity.
    struct Poller {
        bool woken = false;
    };
    std::atomic<int> pollers_{0};
    std::atomic<uint64_t> pokes_{0};
    std::mutex pollMutex_;
    std::condition_variable pollWake_;
    std::vector<Poller *> waitingPollers_;
    bool stopAwaiting_ = false;
};

}  // namespace tapmachine
