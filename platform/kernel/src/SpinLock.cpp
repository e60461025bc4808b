// Spin locks. The lock word holds a tag of the owning thread, so the kernel can tell a lock
// taken twice by one thread (a deadlock on a real machine), a lock released by a thread that
// does not hold it, and a lock that was never initialised.
#include <chrono>
#include <thread>

#include "KernelState.h"

namespace tapkernel {

namespace {

constexpr ULONG_PTR kOwnerTag = 0x5A1C;
std::atomic<ULONG_PTR> nextThreadIndex{1};
thread_local ULONG_PTR threadToken = 0;

ULONG_PTR Token()
{
    if (threadToken == 0) {
        threadToken = (nextThreadIndex.fetch_add(1) << 16) | kOwnerTag;
    }
    return threadToken;
}

ULONG_PTR Load(PKSPIN_LOCK lock)
{
    return __atomic_load_n(lock, __ATOMIC_ACQUIRE);
}

// Locks this thread found initialised and outside freed memory. A lock's record can only go
// bad when memory is freed (ForgetLocksIn counts every such change in lockRecordChanges), so an
// acquisition of a lock found good since the last change needs no look at the kernel's records:
// a driver's lock taken once a packet costs a few instructions, not the kernel's mutex.
std::atomic<uint64_t> lockRecordChanges{0};
struct CheckedLock {
    PKSPIN_LOCK lock = nullptr;
    uint64_t kernel = 0;  // KernelState::generation the lock was checked in
    uint64_t changes = 0; // lockRecordChanges when it was checked
};
constexpr size_t kCheckedLocks = 8;
thread_local CheckedLock checkedLocks[kCheckedLocks];

CheckedLock &CheckedSlot(PKSPIN_LOCK lock)
{
    return checkedLocks[(reinterpret_cast<uintptr_t>(lock) >> 3) % kCheckedLocks];
}

bool FoundGoodBefore(const KernelState &state, PKSPIN_LOCK lock)
{
    const CheckedLock &slot = CheckedSlot(lock);
    return slot.lock == lock && slot.kernel == state.generation &&
           slot.changes == lockRecordChanges.load(std::memory_order_acquire);
}

// A lock that is acquired must have been initialised: zero-filled memory looks like a free lock,
// so only the record of KeInitializeSpinLock can tell.
void CheckAddress(const char *routine, PKSPIN_LOCK lock, bool mustBeInitialised)
{
    if (lock == nullptr) {
        BugCheck(routine, "spin lock pointer is NULL");
    }
    KernelState *state = TryState();
    if (state == nullptr || (mustBeInitialised && FoundGoodBefore(*state, lock))) {
        return;
    }
    std::lock_guard<std::mutex> held(state->lock);
    state->CheckNotFreed(routine, lock, "spin lock");
    if (!mustBeInitialised) {
        return;
    }
    if (state->spinLocks.count(reinterpret_cast<uintptr_t>(lock)) == 0) {
        BugCheck(routine, "spin lock %p is acquired but was never initialised (KeInitializeSpinLock)",
                 static_cast<void *>(lock));
    }
    // Read under the kernel's lock, which ForgetLocksIn holds: a change after this read makes the
    // next acquisition check again.
    CheckedSlot(lock) = {lock, state->generation, lockRecordChanges.load(std::memory_order_relaxed)};
}

void Take(const char *routine, PKSPIN_LOCK lock)
{
    ULONG_PTR me = Token();
    std::chrono::steady_clock::time_point started; // read at the first wait: a free lock costs no clock
    for (unsigned spins = 0;; ++spins) {
        ULONG_PTR value = Load(lock);
        if (value == me) {
            BugCheck(routine, "spin lock %p is acquired again by the thread that holds it", static_cast<void *>(lock));
        }
        if (value != 0 && (value & 0xFFFF) != kOwnerTag) {
            BugCheck(routine, "spin lock %p holds 0x%lx: it was never initialised (KeInitializeSpinLock)",
                     static_cast<void *>(lock), static_cast<unsigned long>(value));
        }
        ULONG_PTR expected = 0;
        if (value == 0 && __atomic_compare_exchange_n(lock, &expected, me, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            return;
        }
        if (spins == 0) {
            started = std::chrono::steady_clock::now();
        }
        std::this_thread::yield();
        if ((spins & 0xFFF) == 0xFFF && std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
            BugCheck(routine, "spin lock %p has been held by another thread for more than 10 s",
                     static_cast<void *>(lock));
        }
    }
}

void Give(const char *routine, PKSPIN_LOCK lock)
{
    ULONG_PTR value = Load(lock);
    if (value == 0) {
        BugCheck(routine, "spin lock %p is released but not held", static_cast<void *>(lock));
    }
    if (value != Token()) {
        BugCheck(routine, "spin lock %p is released by a thread that does not hold it", static_cast<void *>(lock));
    }
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

} // namespace

void ForgetLocksIn(KernelState &state, const void *start, size_t size)
{
    auto first = reinterpret_cast<uintptr_t>(start);
    auto end = first + size;
    lockRecordChanges.fetch_add(1, std::memory_order_release);
    state.spinLocks.erase(state.spinLocks.lower_bound(first), state.spinLocks.lower_bound(end));
    state.removeLocks.erase(state.removeLocks.lower_bound(first), state.removeLocks.lower_bound(end));
}

bool SpinLockHeldByCaller(PKSPIN_LOCK lock)
{
    return Load(lock) == Token();
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" VOID NTAPI KeInitializeSpinLock(PKSPIN_LOCK lock)
{
    CheckAddress("KeInitializeSpinLock", lock, false);
    if (Load(lock) == Token()) {
        BugCheck("KeInitializeSpinLock", "spin lock %p is initialised while the caller holds it", static_cast<void *>(lock));
    }
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
    if (KernelState *state = TryState()) {
        std::lock_guard<std::mutex> held(state->lock);
        state->spinLocks.insert(reinterpret_cast<uintptr_t>(lock));
    }
}

extern "C" KIRQL FASTCALL KfAcquireSpinLock(PKSPIN_LOCK lock)
{
    RequireIrql("KeAcquireSpinLock", PASSIVE_LEVEL, DISPATCH_LEVEL);
    CheckAddress("KeAcquireSpinLock", lock, true);
    KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    Take("KeAcquireSpinLock", lock);
    return old;
}

extern "C" VOID FASTCALL KfReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql)
{
    if (CurrentIrql() != DISPATCH_LEVEL) {
        BugCheck("KeReleaseSpinLock", "spin lock %p is released at IRQL %u; a held spin lock means DISPATCH_LEVEL",
                 static_cast<void *>(lock), CurrentIrql());
    }
    if (newIrql > DISPATCH_LEVEL) {
        BugCheck("KeReleaseSpinLock", "NewIrql %u is above DISPATCH_LEVEL", newIrql);
    }
    Give("KeReleaseSpinLock", lock);
    KfLowerIrql(newIrql);
}

extern "C" VOID FASTCALL KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock)
{
    RequireIrql("KeAcquireSpinLockAtDpcLevel", DISPATCH_LEVEL, DISPATCH_LEVEL);
    CheckAddress("KeAcquireSpinLockAtDpcLevel", lock, true);
    Take("KeAcquireSpinLockAtDpcLevel", lock);
}

extern "C" VOID FASTCALL KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock)
{
    RequireIrql("KeReleaseSpinLockFromDpcLevel", DISPATCH_LEVEL, DISPATCH_LEVEL);
    Give("KeReleaseSpinLockFromDpcLevel", lock);
}
