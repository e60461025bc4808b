// Remove locks: IoAcquireRemoveLock counts a request into the device, IoReleaseRemoveLock out, and
// IoReleaseRemoveLockAndWait lets removal wait until the last request has left. Besides the count
// of the free build, every acquisition is kept with its tag, as Driver Verifier keeps it, so a
// release that matches no acquisition stops the run, and so does a request that was completed
// while it still held the lock (the wait for it would never end).
#include <cstdio>

#include "KernelState.h"

namespace tapkernel {

namespace {

using RemoveLockRecord = KernelState::RemoveLockRecord;

RemoveLockRecord &RecordOf(KernelState &state, const char *routine, PIO_REMOVE_LOCK lock)
{
    if (lock == nullptr) {
        BugCheck(routine, "remove lock pointer is NULL");
    }
    auto found = state.removeLocks.find(reinterpret_cast<uintptr_t>(lock));
    if (found == state.removeLocks.end()) {
        BugCheck(routine, "remove lock %p was never initialised (IoInitializeRemoveLock)", static_cast<void *>(lock));
    }
    return found->second;
}

std::string HeldTags(const RemoveLockRecord &record)
{
    std::string text;
    char item[64];
    for (const auto &entry : record.tags) {
        std::snprintf(item, sizeof item, " %p (x%d)", entry.first, static_cast<int>(entry.second));
        text += item;
    }
    return text.empty() ? " none" : text;
}

// Takes back one acquisition of tag (lock held); bug-checks when there is none to take back.
void DropTag(const char *routine, PIO_REMOVE_LOCK lock, RemoveLockRecord &record, PVOID tag)
{
    auto found = record.tags.find(tag);
    if (record.tags.empty()) {
        BugCheck(routine, "remove lock %p is released with tag %p but holds no acquisition (released without "
                          "IoAcquireRemoveLock, or twice)",
                 static_cast<void *>(lock), tag);
    }
    if (found == record.tags.end()) {
        BugCheck(routine, "remove lock %p is released with tag %p, which was never acquired; held tags:%s",
                 static_cast<void *>(lock), tag, HeldTags(record).c_str());
    }
    if (--found->second == 0) {
        record.tags.erase(found);
    }
}

// The count of the free build, and the event that wakes the removal (lock held).
void DropCount(KernelState &state, PIO_REMOVE_LOCK lock)
{
    if (__atomic_sub_fetch(&lock->Common.IoCount, 1, __ATOMIC_SEQ_CST) == 0) {
        __atomic_store_n(&lock->Common.RemoveEvent.Header.SignalState, 1, __ATOMIC_SEQ_CST);
        SignalObject(state, &lock->Common.RemoveEvent);
    }
}

// A tag that is an IRP the I/O manager has finished with can never be released any more.
void CheckNoCompletedRequestHolds(KernelState &state, const char *routine, PIO_REMOVE_LOCK lock,
                                  const RemoveLockRecord &record)
{
    for (const auto &entry : record.tags) {
        auto irp = state.irps.find(entry.first);
        if (irp != state.irps.end() && (irp->second->freed || irp->second->phase == IrpPhase::Done)) {
            BugCheck(routine, "IRP %p still holds remove lock %p but was completed: its dispatch routine never "
                              "called IoReleaseRemoveLock, and the wait would never end",
                     entry.first, static_cast<void *>(lock));
        }
    }
}

} // namespace

} // namespace tapkernel

using namespace tapkernel;

extern "C" VOID NTAPI IoInitializeRemoveLockEx(PIO_REMOVE_LOCK lock, ULONG, ULONG, ULONG, ULONG size)
{
    RequireIrql("IoInitializeRemoveLock", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (size != sizeof(IO_REMOVE_LOCK)) {
        BugCheck("IoInitializeRemoveLock", "RemlockSize %u is not sizeof(IO_REMOVE_LOCK)", size);
    }
    KeInitializeEvent(&lock->Common.RemoveEvent, NotificationEvent, FALSE);
    lock->Common.Removed = FALSE;
    __atomic_store_n(&lock->Common.IoCount, 1, __ATOMIC_SEQ_CST);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    state.CheckNotFreed("IoInitializeRemoveLock", lock, "remove lock");
    state.removeLocks[reinterpret_cast<uintptr_t>(lock)] = RemoveLockRecord{};
}

extern "C" NTSTATUS NTAPI IoAcquireRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, PCSTR, ULONG, ULONG)
{
    RequireIrql("IoAcquireRemoveLock", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    RemoveLockRecord &record = RecordOf(state, "IoAcquireRemoveLock", lock);
    __atomic_add_fetch(&lock->Common.IoCount, 1, __ATOMIC_SEQ_CST);
    if (record.removed) {
        DropCount(state, lock);
        return STATUS_DELETE_PENDING;
    }
    ++record.tags[tag];
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI IoReleaseRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG)
{
    RequireIrql("IoReleaseRemoveLock", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    RemoveLockRecord &record = RecordOf(state, "IoReleaseRemoveLock", lock);
    DropTag("IoReleaseRemoveLock", lock, record, tag);
    DropCount(state, lock);
}

extern "C" VOID NTAPI IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG)
{
    RequireIrql("IoReleaseRemoveLockAndWait", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        RemoveLockRecord &record = RecordOf(state, "IoReleaseRemoveLockAndWait", lock);
        if (record.removed) {
            BugCheck("IoReleaseRemoveLockAndWait", "remove lock %p is released and waited for a second time",
                     static_cast<void *>(lock));
        }
        record.removed = true;
        lock->Common.Removed = TRUE;
        DropTag("IoReleaseRemoveLockAndWait", lock, record, tag);
        CheckNoCompletedRequestHolds(state, "IoReleaseRemoveLockAndWait", lock, record);
        DropCount(state, lock); // the caller's acquisition
        DropCount(state, lock); // the lock's own count from IoInitializeRemoveLock
    }
    KeWaitForSingleObject(&lock->Common.RemoveEvent, Executive, KernelMode, FALSE, nullptr);
}
