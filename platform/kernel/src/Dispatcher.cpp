// The dispatcher: events, mutexes and thread objects, waits with time-outs on the virtual clock,
// and the idle test. A waiting thread is satisfied by whoever signals the object (under the
// kernel lock), so "every counted thread is waiting" is exact at every moment: a thread that has
// been signalled counts as busy before it even wakes up.
#include <algorithm>
#include <cstdio>

#include "KernelState.h"

namespace tapkernel {

namespace {

struct ThreadSlot {
    uint64_t generation = 0;
    ThreadRecord *record = nullptr;
    // A caller's host thread that ends can wait for nothing any more: the watchdog stops
    // counting it as one that might still act.
    ~ThreadSlot()
    {
        KernelState *state = TryState();
        if (state != nullptr && record != nullptr && state->generation == generation) {
            std::lock_guard<std::mutex> held(state->lock);
            record->hostExited = true;
        }
    }
};
// Set field by field, never from a temporary slot: the temporary's destructor would take the
// kernel's lock, which the callers hold.
thread_local ThreadSlot tlsThread;

void SetWaiting(KernelState &state, ThreadRecord *thread, bool waiting)
{
    if (thread->waiting == waiting) {
        return;
    }
    thread->waiting = waiting;
    ++state.waitChanges;
    if (!thread->counted || thread->terminated) {
        return;
    }
    if (waiting) {
        --state.busyCounted;
        state.idleChanged.notify_all();
    } else {
        ++state.busyCounted;
    }
}

void Unlink(KernelState &state, ThreadRecord *thread)
{
    for (WaitBlock &block : thread->waits) {
        auto it = state.waiters.find(block.object);
        if (it == state.waiters.end()) {
            continue;
        }
        auto &list = it->second;
        list.erase(std::remove(list.begin(), list.end(), &block), list.end());
        if (list.empty()) {
            state.waiters.erase(it);
        }
    }
    thread->waits.clear();
}

void Satisfy(KernelState &state, ThreadRecord *thread, NTSTATUS status)
{
    Unlink(state, thread);
    thread->satisfied = true;
    thread->waitStatus = status;
    thread->deadline.reset();
    SetWaiting(state, thread, false);
    thread->wake.notify_one();
}

DISPATCHER_HEADER *Header(void *object)
{
    return static_cast<DISPATCHER_HEADER *>(object);
}

LONG SignalState(void *object)
{
    return __atomic_load_n(&Header(object)->SignalState, __ATOMIC_SEQ_CST);
}

void SetSignalState(void *object, LONG value)
{
    __atomic_store_n(&Header(object)->SignalState, value, __ATOMIC_SEQ_CST);
}

bool IsSignalled(void *object, ThreadRecord *thread)
{
    switch (Header(object)->Type) {
    case kMutantObject:
        return SignalState(object) > 0 || static_cast<PKMUTEX>(object)->OwnerThread == &thread->object;
    default:
        return SignalState(object) > 0;
    }
}

// Takes what a satisfied wait takes from the object.
void Acquire(void *object, ThreadRecord *thread)
{
    switch (Header(object)->Type) {
    case kEventSynchronizationObject:
        SetSignalState(object, 0);
        break;
    case kMutantObject:
        SetSignalState(object, SignalState(object) - 1);
        static_cast<PKMUTEX>(object)->OwnerThread = &thread->object;
        break;
    default:
        break;
    }
}

void ValidateObject(KernelState &state, const char *routine, void *object)
{
    if (object == nullptr) {
        BugCheck(routine, "object pointer is NULL");
    }
    state.CheckNotFreed(routine, object, "dispatcher object");
    UCHAR type = Header(object)->Type;
    if (type != kEventNotificationObject && type != kEventSynchronizationObject && type != kMutantObject &&
        type != kThreadObject) {
        BugCheck(routine, "object %p is not a dispatcher object (type %u)", object, type);
    }
    if (Header(object)->WaitListHead.Flink == nullptr) {
        BugCheck(routine, "object %p was never initialised (KeInitializeEvent / KeInitializeMutex)", object);
    }
    if (type == kThreadObject) {
        ObjectRecord *record = state.FindObject(object);
        if (record == nullptr || record->freed) {
            BugCheck(routine, "thread object %p is not a live object (its last reference is gone)", object);
        }
    }
}

LONGLONG DeadlineOf(const KernelState &state, const LARGE_INTEGER *timeout)
{
    return timeout->QuadPart < 0 ? state.now - timeout->QuadPart : timeout->QuadPart;
}

// ---- The watchdog ------------------------------------------------------------------------------

const char *ObjectKindName(void *object)
{
    switch (Header(object)->Type) {
    case kEventNotificationObject:
        return "notification event";
    case kEventSynchronizationObject:
        return "synchronization event";
    case kMutantObject:
        return "mutex";
    case kThreadObject:
        return "thread";
    default:
        return "object";
    }
}

// Whether the machine is stuck: a caller (a thread that drives the machine, not one of its own
// system or counted threads) is blocked, and so is every other thread the kernel knows, each in a
// wait that only another thread could end: none runs (a thread outside the kernel may still act),
// no wait has a time-out (a caller may advance the clock) and no work is queued (lock held). The
// machine's own threads all waiting with no caller blocked is merely idle.
bool EveryThreadBlockedForGood(KernelState &state)
{
    if (!state.work.empty()) {
        return false;
    }
    bool callerBlocked = false;
    for (ThreadRecord *thread : state.threads) {
        if (thread->terminated || thread->hostExited || thread->freed) {
            continue;
        }
        if (!thread->waiting || thread->satisfied || thread->deadline) {
            return false;
        }
        callerBlocked = callerBlocked || (!thread->systemThread && !thread->counted);
    }
    return callerBlocked;
}

// Whether an idle probe of the machine says something is still on its way (a byte on the line):
// the probes are called without the lock.
bool ProbeBusy(KernelState &state, std::unique_lock<std::mutex> &held)
{
    std::vector<std::function<bool()>> probes;
    for (auto &entry : state.idleProbes) {
        probes.push_back(entry.second);
    }
    if (probes.empty()) {
        return false;
    }
    held.unlock();
    bool busy = false;
    for (auto &probe : probes) {
        busy = probe() || busy;
    }
    held.lock();
    return busy;
}

[[noreturn]] void ReportDeadlock(KernelState &state)
{
    std::string waits;
    char line[256];
    for (ThreadRecord *thread : state.threads) {
        if (thread->terminated || thread->hostExited || thread->freed) {
            continue;
        }
        for (const WaitBlock &block : thread->waits) {
            void *object = block.object;
            std::snprintf(line, sizeof line, "\n    thread '%s'%s%s waits on %s %p", thread->name.c_str(),
                          thread->owner.module != nullptr ? " of " : "",
                          thread->owner.module != nullptr ? thread->owner.module->name.c_str() : "",
                          ObjectKindName(object), object);
            waits += line;
            if (Header(object)->Type == kMutantObject) {
                PKTHREAD owner = static_cast<PKMUTEX>(object)->OwnerThread;
                std::snprintf(line, sizeof line, " (owned by '%s')",
                              owner != nullptr ? owner->Record->name.c_str() : "nobody");
                waits += line;
            }
        }
    }
    BugCheck("watchdog", "deadlock: a caller and every other thread are blocked in waits that nothing can end "
                         "(no time-out, no queued work, nothing on its way); the waits found:%s",
             waits.c_str());
}

// A wait without a time-out: sleeps until satisfied, and every deadlockGrace of real time looks
// whether the whole machine is stuck. Two looks in a row that find it so, with no wait changing
// in between, are a deadlock (lock held).
void BlockUntilSatisfied(KernelState &state, ThreadRecord *self, std::unique_lock<std::mutex> &held)
{
    auto ended = [&] { return self->satisfied || state.shuttingDown; };
    bool suspicious = false;
    uint64_t seen = 0;
    while (!self->wake.wait_for(held, state.options.deadlockGrace, ended)) {
        if (!EveryThreadBlockedForGood(state)) {
            suspicious = false;
            continue;
        }
        uint64_t changes = state.waitChanges;
        if (ProbeBusy(state, held) || ended()) {
            suspicious = false;
            continue;
        }
        if (suspicious && changes == seen && EveryThreadBlockedForGood(state)) {
            ReportDeadlock(state);
        }
        suspicious = true;
        seen = changes;
    }
}

} // namespace

ThreadRecord *CurrentThread(KernelState &state, std::unique_lock<std::mutex> &)
{
    if (tlsThread.generation == state.generation && tlsThread.record != nullptr) {
        return tlsThread.record;
    }
    // A host thread the kernel has not seen yet (a test's thread, the machine's caller): it may
    // wait and hold spin locks, but it does not take part in the idle test.
    auto record = std::make_unique<ThreadRecord>();
    ThreadRecord *thread = record.get();
    thread->name = "caller";
    thread->object.Header.Type = kThreadObject;
    thread->object.Header.Size = sizeof(_KTHREAD) / 4;
    thread->object.Header.WaitListHead.Flink = &thread->object.Header.WaitListHead;
    thread->object.Header.WaitListHead.Blink = &thread->object.Header.WaitListHead;
    thread->object.Record = thread;
    thread->body = &thread->object;
    state.threads.push_back(thread);
    state.objects.emplace(&thread->object, std::move(record));
    tlsThread.generation = state.generation;
    tlsThread.record = thread;
    return thread;
}

void BindCurrentThread(KernelState &state, ThreadRecord *thread)
{
    tlsThread.generation = state.generation;
    tlsThread.record = thread;
}

void SignalObject(KernelState &state, void *object)
{
    auto it = state.waiters.find(object);
    if (it == state.waiters.end()) {
        return;
    }
    std::vector<WaitBlock *> blocks = it->second; // first come, first served
    for (WaitBlock *block : blocks) {
        ThreadRecord *thread = block->thread;
        if (thread->satisfied || !IsSignalled(object, thread)) {
            continue;
        }
        Acquire(object, thread);
        Satisfy(state, thread, STATUS_WAIT_0 + static_cast<NTSTATUS>(block->index));
    }
}

NTSTATUS WaitForObjects(const char *routine, ULONG count, void *const *objects, const LARGE_INTEGER *timeout)
{
    bool poll = timeout != nullptr && timeout->QuadPart == 0;
    KIRQL irql = CurrentIrql();
    if (poll ? irql > DISPATCH_LEVEL : irql > APC_LEVEL) {
        BugCheck(routine, "wait at IRQL %u (a wait that may block needs IRQL <= APC_LEVEL)", irql);
    }
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    ThreadRecord *self = CurrentThread(state, held);
    for (ULONG i = 0; i < count; ++i) {
        ValidateObject(state, routine, objects[i]);
    }
    for (ULONG i = 0; i < count; ++i) {
        if (IsSignalled(objects[i], self)) {
            Acquire(objects[i], self);
            return STATUS_WAIT_0 + static_cast<NTSTATUS>(i);
        }
    }
    if (poll) {
        return STATUS_TIMEOUT;
    }
    if (state.shuttingDown) {
        throw KernelShutdown{};
    }
    std::optional<LONGLONG> deadline;
    if (timeout != nullptr) {
        deadline = DeadlineOf(state, timeout);
        if (*deadline <= state.now) {
            return STATUS_TIMEOUT;
        }
    }
    self->waits.clear();
    self->waits.reserve(count);
    for (ULONG i = 0; i < count; ++i) {
        self->waits.push_back(WaitBlock{self, objects[i], i});
    }
    for (WaitBlock &block : self->waits) {
        state.waiters[block.object].push_back(&block);
    }
    self->satisfied = false;
    self->deadline = deadline;
    SetWaiting(state, self, true);
    if (deadline) {
        self->wake.wait(held, [&] { return self->satisfied || state.shuttingDown; });
    } else {
        BlockUntilSatisfied(state, self, held);
    }
    if (!self->satisfied) {
        Unlink(state, self);
        self->deadline.reset();
        SetWaiting(state, self, false);
        throw KernelShutdown{};
    }
    return self->waitStatus;
}

void EndThreadRecord(KernelState &state, ThreadRecord *thread)
{
    if (thread->counted && !thread->waiting) {
        --state.busyCounted;
        state.idleChanged.notify_all();
    }
    thread->terminated = true;
    SetSignalState(&thread->object, 1);
    SignalObject(state, &thread->object);
}

// Expires the waits whose deadline has been reached (lock held).
void ExpireWaits(KernelState &state)
{
    for (ThreadRecord *thread : state.threads) {
        if (thread->waiting && !thread->satisfied && thread->deadline && *thread->deadline <= state.now) {
            Satisfy(state, thread, STATUS_TIMEOUT);
        }
    }
}

std::optional<LONGLONG> EarliestDeadline(KernelState &state)
{
    std::optional<LONGLONG> earliest;
    for (ThreadRecord *thread : state.threads) {
        if (thread->waiting && !thread->satisfied && thread->deadline) {
            if (!earliest || *thread->deadline < *earliest) {
                earliest = thread->deadline;
            }
        }
    }
    return earliest;
}

// Threads that keep the machine from being idle (lock held), the caller excluded.
std::vector<std::string> BusyThreadNames(KernelState &state, ThreadRecord *self)
{
    std::vector<std::string> names;
    for (ThreadRecord *thread : state.threads) {
        if (thread->counted && !thread->terminated && !thread->waiting && thread != self) {
            names.push_back(thread->name);
        }
    }
    return names;
}

size_t BusyExcluding(KernelState &state, ThreadRecord *self)
{
    size_t busy = state.busyCounted;
    if (self->counted && !self->terminated && !self->waiting) {
        --busy;
    }
    return busy;
}

BusyScope::BusyScope()
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    ++state.busyCounted;
}

BusyScope::~BusyScope()
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    --state.busyCounted;
    state.idleChanged.notify_all();
}

void WakeAllForShutdown(KernelState &state)
{
    state.shuttingDown = true;
    for (ThreadRecord *thread : state.threads) {
        thread->wake.notify_all();
    }
    state.idleChanged.notify_all();
}

} // namespace tapkernel

using namespace tapkernel;

// ---- Events ------------------------------------------------------------------------------------

extern "C" VOID NTAPI KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    if (KernelState *kernel = TryState()) {
        std::lock_guard<std::mutex> held(kernel->lock);
        if (kernel->waiters.count(event) != 0) {
            BugCheck("KeInitializeEvent", "event %p is initialised again while threads wait on it", event);
        }
    }
    event->Header.Type = type == SynchronizationEvent ? kEventSynchronizationObject : kEventNotificationObject;
    event->Header.Absolute = 0;
    event->Header.Size = sizeof(KEVENT) / 4;
    event->Header.Inserted = 0;
    __atomic_store_n(&event->Header.SignalState, state ? 1 : 0, __ATOMIC_SEQ_CST);
    event->Header.WaitListHead.Flink = &event->Header.WaitListHead;
    event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

extern "C" LONG NTAPI KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
    RequireIrql("KeSetEvent", PASSIVE_LEVEL, DISPATCH_LEVEL);
    if (TryState() == nullptr) {
        // No kernel, so nobody can be waiting: pure driver logic exercised on its own.
        return __atomic_exchange_n(&event->Header.SignalState, 1, __ATOMIC_SEQ_CST);
    }
    KernelState &kernel = State();
    std::lock_guard<std::mutex> held(kernel.lock);
    ValidateObject(kernel, "KeSetEvent", event);
    LONG previous = SignalState(event);
    SetSignalState(event, 1);
    SignalObject(kernel, event);
    return previous;
}

extern "C" LONG NTAPI KeResetEvent(PRKEVENT event)
{
    RequireIrql("KeResetEvent", PASSIVE_LEVEL, DISPATCH_LEVEL);
    if (TryState() == nullptr) {
        return __atomic_exchange_n(&event->Header.SignalState, 0, __ATOMIC_SEQ_CST);
    }
    KernelState &kernel = State();
    std::lock_guard<std::mutex> held(kernel.lock);
    ValidateObject(kernel, "KeResetEvent", event);
    LONG previous = SignalState(event);
    SetSignalState(event, 0);
    return previous;
}

extern "C" VOID NTAPI KeClearEvent(PRKEVENT event)
{
    if (TryState() == nullptr) {
        __atomic_store_n(&event->Header.SignalState, 0, __ATOMIC_SEQ_CST);
        return;
    }
    KernelState &kernel = State();
    std::lock_guard<std::mutex> held(kernel.lock);
    ValidateObject(kernel, "KeClearEvent", event);
    SetSignalState(event, 0);
}

extern "C" LONG NTAPI KeReadStateEvent(PRKEVENT event)
{
    return SignalState(event);
}

// ---- Mutexes -----------------------------------------------------------------------------------

extern "C" VOID NTAPI KeInitializeMutex(PRKMUTEX mutex, ULONG)
{
    mutex->Header.Type = kMutantObject;
    mutex->Header.Size = sizeof(KMUTEX) / 4;
    __atomic_store_n(&mutex->Header.SignalState, 1, __ATOMIC_SEQ_CST);
    mutex->Header.WaitListHead.Flink = &mutex->Header.WaitListHead;
    mutex->Header.WaitListHead.Blink = &mutex->Header.WaitListHead;
    mutex->OwnerThread = nullptr;
    mutex->Abandoned = FALSE;
    mutex->ApcDisable = 1;
}

extern "C" LONG NTAPI KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    RequireIrql("KeReleaseMutex", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &kernel = State();
    std::unique_lock<std::mutex> held(kernel.lock);
    ValidateObject(kernel, "KeReleaseMutex", mutex);
    ThreadRecord *self = CurrentThread(kernel, held);
    if (mutex->OwnerThread != &self->object) {
        BugCheck("KeReleaseMutex", "mutex %p released by a thread that does not own it", static_cast<void *>(mutex));
    }
    LONG previous = SignalState(mutex);
    SetSignalState(mutex, previous + 1);
    if (previous + 1 == 1) {
        mutex->OwnerThread = nullptr;
        SignalObject(kernel, mutex);
    }
    return previous;
}

// ---- Waits -------------------------------------------------------------------------------------

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                                PLARGE_INTEGER timeout)
{
    void *objects[1] = {object};
    return WaitForObjects("KeWaitForSingleObject", 1, objects, timeout);
}

extern "C" NTSTATUS NTAPI KeWaitForMultipleObjects(ULONG count, PVOID object[], WAIT_TYPE waitType, KWAIT_REASON,
                                                   KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout, PKWAIT_BLOCK)
{
    if (waitType != WaitAny) {
        BugCheck("KeWaitForMultipleObjects", "only WaitAny is supported by this kernel");
    }
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        BugCheck("KeWaitForMultipleObjects", "count %u is out of range 1..%u", count, MAXIMUM_WAIT_OBJECTS);
    }
    return WaitForObjects("KeWaitForMultipleObjects", count, object, timeout);
}

extern "C" NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval)
{
    RequireIrql("KeDelayExecutionThread", PASSIVE_LEVEL, APC_LEVEL);
    if (interval == nullptr) {
        BugCheck("KeDelayExecutionThread", "Interval is NULL");
    }
    if (interval->QuadPart == 0) {
        std::this_thread::yield();
        return STATUS_SUCCESS;
    }
    WaitForObjects("KeDelayExecutionThread", 0, nullptr, interval);
    return STATUS_SUCCESS;
}

extern "C" PKTHREAD NTAPI KeGetCurrentThread(VOID)
{
    KernelState &kernel = State();
    std::unique_lock<std::mutex> held(kernel.lock);
    return &CurrentThread(kernel, held)->object;
}

// ---- Time --------------------------------------------------------------------------------------

namespace {
constexpr ULONG kTimeIncrement = 156250; // 15.625 ms per clock tick
}

extern "C" VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER currentTime)
{
    currentTime->QuadPart = State().now.load();
}

extern "C" VOID NTAPI KeQueryTickCount(PLARGE_INTEGER currentCount)
{
    KernelState &kernel = State();
    currentCount->QuadPart = (kernel.now.load() - kernel.bootTime) / kTimeIncrement;
}

extern "C" ULONG NTAPI KeQueryTimeIncrement(VOID)
{
    return kTimeIncrement;
}

extern "C" ULONGLONG NTAPI KeQueryInterruptTime(VOID)
{
    KernelState &kernel = State();
    return static_cast<ULONGLONG>(kernel.now.load() - kernel.bootTime);
}
