// The virtual clock and the idle test: the machine waits until every counted thread is blocked
// and no idle probe is busy, and advances time from one wait deadline to the next.
#include <algorithm>

#include "KernelState.h"

namespace tapkernel {

namespace {

void JoinFinishedThreads(KernelState &state)
{
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> held(state.lock);
        finished.swap(state.finishedHosts);
    }
    for (std::thread &thread : finished) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

} // namespace

PKTHREAD Kernel::StartThread(const std::string &name, std::function<void()> body)
{
    Owner owner = CurrentOwner();
    PKTHREAD thread = CreateKernelThread(name, owner, std::move(body));
    std::lock_guard<std::mutex> held(state_->lock);
    state_->ChargeReference(thread, owner);
    return thread;
}

void Kernel::WaitUntilIdle()
{
    RequireIrql("Kernel::WaitUntilIdle", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = *state_;
    std::unique_lock<std::mutex> held(state.lock);
    ThreadRecord *self = CurrentThread(state, held);
    // Idle already, with no probe to ask and no ended thread to join: the common case between
    // two steps of the machine.
    if (state.finishedHosts.empty() && state.idleProbes.empty() &&
        (BusyExcluding(state, self) == 0 || state.shuttingDown)) {
        return;
    }
    held.unlock();
    JoinFinishedThreads(state);
    held.lock();
    auto deadline = std::chrono::steady_clock::now() + state.options.idleLimit;
    for (;;) {
        bool idle = state.idleChanged.wait_until(held, deadline, [&] {
            return BusyExcluding(state, self) == 0 || state.shuttingDown;
        });
        if (!idle) {
            std::vector<std::string> busy = BusyThreadNames(state, self);
            BugCheck("Kernel::WaitUntilIdle", "the machine did not become idle within %lld ms; still running:%s",
                     static_cast<long long>(state.options.idleLimit.count()), JoinLines(busy).c_str());
        }
        std::vector<std::function<bool()>> probes;
        for (auto &entry : state.idleProbes) {
            probes.push_back(entry.second);
        }
        held.unlock();
        bool quiet = true;
        for (auto &probe : probes) {
            quiet = quiet && !probe();
        }
        held.lock();
        if (quiet && (BusyExcluding(state, self) == 0 || state.shuttingDown)) {
            return;
        }
        if (!quiet) {
            // Probes do not signal; look again shortly.
            state.idleChanged.wait_for(held, std::chrono::milliseconds(1));
            if (std::chrono::steady_clock::now() > deadline) {
                BugCheck("Kernel::WaitUntilIdle", "an idle probe of the machine stayed busy for %lld ms",
                         static_cast<long long>(state.options.idleLimit.count()));
            }
        }
    }
}

Kernel::IdleProbeId Kernel::AddIdleProbe(std::function<bool()> isBusy)
{
    std::lock_guard<std::mutex> held(state_->lock);
    IdleProbeId id = state_->nextProbe++;
    state_->idleProbes.emplace(id, std::move(isBusy));
    return id;
}

void Kernel::RemoveIdleProbe(IdleProbeId id)
{
    std::lock_guard<std::mutex> held(state_->lock);
    state_->idleProbes.erase(id);
}

void Kernel::SetTime(LONGLONG systemTime)
{
    std::lock_guard<std::mutex> held(state_->lock);
    if (systemTime < state_->now) {
        BugCheck("Kernel::SetTime", "the clock does not run backwards");
    }
    state_->now = systemTime;
    ExpireWaits(*state_);
}

bool Kernel::IsIdle()
{
    std::unique_lock<std::mutex> held(state_->lock);
    return BusyExcluding(*state_, CurrentThread(*state_, held)) == 0;
}

std::vector<std::string> Kernel::BusyThreads()
{
    std::unique_lock<std::mutex> held(state_->lock);
    return BusyThreadNames(*state_, CurrentThread(*state_, held));
}

LONGLONG Kernel::SystemTime()
{
    return state_->now.load();
}

LONGLONG Kernel::TimeSinceBoot()
{
    return state_->now.load() - state_->bootTime;
}

void Kernel::AdvanceClock(LONGLONG duration)
{
    if (duration < 0) {
        BugCheck("Kernel::AdvanceClock", "the clock does not run backwards (%lld)", static_cast<long long>(duration));
    }
    WaitUntilIdle();
    LONGLONG target;
    {
        std::lock_guard<std::mutex> held(state_->lock);
        target = state_->now + duration;
    }
    for (;;) {
        bool stepped = false;
        {
            std::lock_guard<std::mutex> held(state_->lock);
            std::optional<LONGLONG> next = EarliestDeadline(*state_);
            if (next && *next <= target) {
                state_->now = std::max(state_->now.load(), *next);
                ExpireWaits(*state_);
                stepped = true;
            } else {
                state_->now = target;
            }
        }
        WaitUntilIdle();
        if (!stepped) {
            return;
        }
    }
}

std::optional<LONGLONG> Kernel::NextDeadline()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return EarliestDeadline(*state_);
}


// ---- ThreadRegistration -------------------------------------------------------------------------

ThreadRegistration::ThreadRegistration(const std::string &name) : thread_(nullptr)
{
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    ThreadRecord *thread = CurrentThread(state, held);
    if (thread->counted) {
        BugCheck("ThreadRegistration", "thread '%s' is already counted", thread->name.c_str());
    }
    thread->name = name;
    thread->counted = true;
    if (!thread->waiting) {
        ++state.busyCounted;
    }
    thread_ = thread;
}

ThreadRegistration::~ThreadRegistration()
{
    KernelState *state = TryState();
    if (state == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> held(state->lock);
    auto *thread = static_cast<ThreadRecord *>(thread_);
    if (std::find(state->threads.begin(), state->threads.end(), thread) == state->threads.end()) {
        return;
    }
    if (!thread->waiting) {
        --state->busyCounted;
    }
    thread->counted = false;
    state->idleChanged.notify_all();
}

} // namespace tapkernel
