// Remove locks as removal uses them, and the verifier's checks on them; the spin lock and pool
// checks a driver's mistakes run into.
#include "KernelFixture.h"

#include <atomic>

using namespace kerneltest;

namespace {

constexpr ULONG kTag = 0x76647450; // 'vdtP'

class RemoveLockTest : public KernelFixture {
protected:
    void SetUp() override
    {
        KernelFixture::SetUp();
        IoInitializeRemoveLock(&lock, kTag, 0, 0);
    }

    IO_REMOVE_LOCK lock;
    int first = 0;
    int second = 0;
};

TEST_F(RemoveLockTest, RemovalWaitsForTheRequestsInsideAndRefusesNewOnes)
{
    ASSERT_EQ(IoAcquireRemoveLock(&lock, &first), STATUS_SUCCESS); // the removal's own request
    ASSERT_EQ(IoAcquireRemoveLock(&lock, &second), STATUS_SUCCESS); // a request still inside

    std::atomic<bool> removed{false};
    PKTHREAD removal = kernel->StartThread("removal", [&] {
        IoReleaseRemoveLockAndWait(&lock, &first);
        removed = true;
    });
    kernel->WaitUntilIdle();
    EXPECT_FALSE(removed) << "the wait lasts while a request holds the lock";
    EXPECT_EQ(IoAcquireRemoveLock(&lock, &first), STATUS_DELETE_PENDING) << "no new request gets in";

    IoReleaseRemoveLock(&lock, &second);
    Join(removal);
    EXPECT_TRUE(removed);
}

TEST_F(RemoveLockTest, AReleaseThatMatchesNoAcquisitionIsABugCheck)
{
    EXPECT_DEATH(IoReleaseRemoveLock(&lock, &first), "BUGCHECK in IoReleaseRemoveLock: .*holds no acquisition");
    ASSERT_EQ(IoAcquireRemoveLock(&lock, &first), STATUS_SUCCESS);
    EXPECT_DEATH(IoReleaseRemoveLock(&lock, &second),
                 "BUGCHECK in IoReleaseRemoveLock: .*released with tag .*which was never acquired");
    IoReleaseRemoveLock(&lock, &first);
    IO_REMOVE_LOCK never;
    EXPECT_DEATH(IoAcquireRemoveLock(&never, &first), "never initialised \\(IoInitializeRemoveLock\\)");
}

TEST_F(RemoveLockTest, ARequestCompletedWhileItHoldsTheLockIsABugCheckAtTheWait)
{
    // A driver that completes the request but forgets IoReleaseRemoveLock for it.
    PDEVICE_OBJECT device = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        IoAcquireRemoveLock(&lock, irp);
        return Complete(irp, STATUS_SUCCESS);
    });
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus;
    PIRP irp = IoBuildDeviceIoControlRequest(0x222000, device, nullptr, 0, nullptr, 0, FALSE, &done, &ioStatus);
    ASSERT_EQ(IoCallDriver(device, irp), STATUS_SUCCESS);
    ASSERT_EQ(IoAcquireRemoveLock(&lock, &first), STATUS_SUCCESS);
    EXPECT_DEATH(IoReleaseRemoveLockAndWait(&lock, &first),
                 "BUGCHECK in IoReleaseRemoveLockAndWait: IRP .* still holds remove lock .* but was completed");
}

class LockChecks : public KernelFixture {};

TEST_F(LockChecks, ASpinLockNeverInitialisedIsABugCheck)
{
    KSPIN_LOCK zeroed = 0; // looks free, but KeInitializeSpinLock never saw it
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeAcquireSpinLock(&zeroed, &irql);
        },
        "BUGCHECK in KeAcquireSpinLock: spin lock .* was never initialised \\(KeInitializeSpinLock\\)");
}

TEST_F(LockChecks, ASpinLockReleasedByAnotherThreadIsABugCheck)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_DEATH(
        {
            std::thread holder([&] {
                KIRQL irql;
                KeAcquireSpinLock(&lock, &irql);
            });
            holder.join();
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            KeReleaseSpinLock(&lock, irql);
        },
        "BUGCHECK in KeReleaseSpinLock: spin lock .* released by a thread that does not hold it");
}

TEST_F(LockChecks, PoolWrittenOneBytePastItsEndOrFreedWithAnotherTagIsABugCheck)
{
    auto *block = static_cast<UCHAR *>(ExAllocatePoolWithTag(NonPagedPool, 8, kTag));
    EXPECT_DEATH(
        {
            block[8] = 0;
            ExFreePoolWithTag(block, kTag);
        },
        "BUGCHECK in ExFreePoolWithTag: pool block .*8 bytes\\) was written past its end");
    EXPECT_DEATH(ExFreePoolWithTag(block, 0x67615458 /* 'XTag' */),
                 "BUGCHECK in ExFreePoolWithTag: pool block .* has tag 'Ptdv', freed with tag 'XTag'");
    ExFreePoolWithTag(block, kTag);
}

TEST_F(LockChecks, ALockInFreedPoolMustBeInitialisedAgain)
{
    auto *block = static_cast<PKSPIN_LOCK>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KSPIN_LOCK), kTag));
    KeInitializeSpinLock(block);
    // Taken once, so that this thread has found it good: the free must still count.
    KIRQL taken;
    KeAcquireSpinLock(block, &taken);
    KeReleaseSpinLock(block, taken);
    ExFreePoolWithTag(block, kTag);
    auto *again = static_cast<PKSPIN_LOCK>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KSPIN_LOCK), kTag));
    *again = 0;
    if (again == block) {
        EXPECT_DEATH(
            {
                KIRQL irql;
                KeAcquireSpinLock(again, &irql);
            },
            "was never initialised");
    }
    ExFreePoolWithTag(again, kTag);
}

} // namespace
