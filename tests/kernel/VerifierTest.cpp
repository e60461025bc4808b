// One deliberately broken driver per verifier rule: each must stop the run with a message that
// names the routine, as a bugcheck would stop Windows.
#include "KernelFixture.h"

using namespace kerneltest;

namespace {

constexpr ULONG kTag = 0x76647450; // 'vdtP': reads "Ptdv" in memory

class VerifierTest : public KernelFixture {
protected:
    // A driver module that must tag its pool 'Ptdv', with an Unload routine.
    PDRIVER_OBJECT LoadTaggedDriver(PDRIVER_INITIALIZE entry)
    {
        tagged = kernel->CreateModule("Tagged", tapkernel::ModuleOptions{kTag});
        PDRIVER_OBJECT object = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, kernel->LoadDriver(tagged, u"\\Driver\\Tagged", entry,
                                                     u"\\Registry\\Machine\\System\\Services\\Tagged", &object));
        return object;
    }

    tapkernel::DriverModule *tagged = nullptr;
};

PVOID leaked = nullptr;

VOID NTAPI UnloadForgettingPool(PDRIVER_OBJECT) {}
VOID NTAPI UnloadFreeingPool(PDRIVER_OBJECT)
{
    ExFreePoolWithTag(leaked, kTag);
}

NTSTATUS NTAPI EntryKeepingPool(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    leaked = ExAllocatePoolWithTag(NonPagedPool, 32, kTag);
    driver->DriverUnload = UnloadForgettingPool;
    return STATUS_SUCCESS;
}

TEST_F(VerifierTest, PoolKeptAtUnloadIsALeak)
{
    PDRIVER_OBJECT object = LoadTaggedDriver(EntryKeepingPool);
    EXPECT_DEATH(kernel->UnloadDriver(object), "BUGCHECK in driver unload \\(leak check\\).*pool block .*32 bytes, tag 'Ptdv'");
    object->DriverUnload = UnloadFreeingPool;
    kernel->UnloadDriver(object);
}

NTSTATUS NTAPI EntryWithWrongTag(PDRIVER_OBJECT, PUNICODE_STRING)
{
    leaked = ExAllocatePoolWithTag(PagedPool, 8, 0x67615458 /* 'gaTX' */);
    return STATUS_SUCCESS;
}

TEST_F(VerifierTest, PoolTagOtherThanTheModulesIsRefused)
{
    EXPECT_DEATH(LoadTaggedDriver(EntryWithWrongTag), "BUGCHECK in ExAllocatePoolWithTag: pool tag 'XTag'.*'Ptdv'");
}

TEST_F(VerifierTest, PagedPoolAtDispatchLevel)
{
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            ExAllocatePoolWithTag(PagedPool, 8, kTag);
        },
        "BUGCHECK in ExAllocatePoolWithTag: paged pool requested at IRQL 2");
}

TEST_F(VerifierTest, WaitAtDispatchLevel)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeAcquireSpinLock(&lock, &irql);
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        },
        "BUGCHECK in KeWaitForSingleObject: wait at IRQL 2");
}

TEST_F(VerifierTest, SpinLockReleasedAtTheWrongIrqlOrNotHeld)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_DEATH(KeReleaseSpinLock(&lock, PASSIVE_LEVEL), "BUGCHECK in KeReleaseSpinLock: .*released at IRQL 0");
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            KeReleaseSpinLock(&lock, irql);
        },
        "BUGCHECK in KeReleaseSpinLock: spin lock .* released but not held");
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeAcquireSpinLock(&lock, &irql);
            KeAcquireSpinLock(&lock, &irql);
        },
        "acquired again by the thread that holds it");
}

TEST_F(VerifierTest, IrpCompletedTwice)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        Complete(irp, STATUS_SUCCESS);
        return Complete(irp, STATUS_SUCCESS);
    });
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status;
    PIRP irp = IoBuildDeviceIoControlRequest(0x222004, device, nullptr, 0, nullptr, 0, FALSE, &event, &status);
    EXPECT_DEATH(IoCallDriver(device, irp), "BUGCHECK in IoCompleteRequest: IRP .* completed twice");
}

TEST_F(VerifierTest, IrpFreedWhileALowerDriverHoldsIt)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        return STATUS_PENDING;
    });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    ASSERT_EQ(STATUS_PENDING, IoCallDriver(device, irp));
    EXPECT_DEATH(IoFreeIrp(irp), "BUGCHECK in IoFreeIrp: IRP .* freed while a driver holds it");
    EXPECT_DEATH(IoReuseIrp(irp, STATUS_SUCCESS), "BUGCHECK in IoReuseIrp: IRP .* reused while a driver holds it");
}

NTSTATUS NTAPI TakeBack(PDEVICE_OBJECT, PIRP, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(VerifierTest, IrpSkippedTwiceByAFilter)
{
    PDEVICE_OBJECT lower = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PDEVICE_OBJECT middle = CreateFilter(lower, [&](PDEVICE_OBJECT, PIRP irp) {
        IoSkipCurrentIrpStackLocation(irp);
        IoSkipCurrentIrpStackLocation(irp); // would hand down the location of the driver above
        return IoCallDriver(lower, irp);
    });
    PDEVICE_OBJECT upper = CreateFilter(middle, [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, TakeBack, nullptr, TRUE, TRUE, TRUE);
        return IoCallDriver(middle, irp);
    });
    PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    EXPECT_DEATH(IoCallDriver(upper, irp),
                 "BUGCHECK in IoCallDriver: IRP .* is sent again while a driver still holds it: it would take stack "
                 "location 3, above location 2");
    IoFreeIrp(irp);
}

TEST_F(VerifierTest, IrpWithASendersOwnLocationFreedBeforeItIsBack)
{
    PIRP queued = nullptr;
    PDEVICE_OBJECT port = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        queued = irp;
        return STATUS_PENDING;
    });
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(port->StackSize + 1), FALSE);
    IoSetNextIrpStackLocation(irp);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    IoSetCompletionRoutine(irp, TakeBack, nullptr, TRUE, TRUE, TRUE);
    ASSERT_EQ(STATUS_PENDING, IoCallDriver(port, irp));
    EXPECT_DEATH(IoFreeIrp(irp), "BUGCHECK in IoFreeIrp: IRP .* freed while a driver holds it");
    Complete(queued, STATUS_SUCCESS);
    EXPECT_DEATH(Complete(queued, STATUS_SUCCESS), "BUGCHECK in IoCompleteRequest: IRP .* completed twice");
    IoFreeIrp(irp);
}

TEST_F(VerifierTest, RequestSentToADeviceDeletedUnderTheDeviceAbove)
{
    PDEVICE_OBJECT lower = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PDEVICE_OBJECT upper = CreateFilter(lower, [&](PDEVICE_OBJECT, PIRP irp) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(lower, irp);
    });
    IoDeleteDevice(lower); // its driver handled the removal; the filter above has not yet
    PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, TakeBack, nullptr, TRUE, TRUE, TRUE);
    EXPECT_DEATH(IoCallDriver(upper, irp),
                 "BUGCHECK in IoCallDriver: IRP .* \\(major function 0x0e\\) is sent to device object .*, which its "
                 "driver deleted while a device was still attached above it");
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    IoFreeIrp(irp);
}

TEST_F(VerifierTest, DeviceAboveNeverDetachesFromADeletedDevice)
{
    PDEVICE_OBJECT lower = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PDEVICE_OBJECT upper = CreateFilter(lower, [](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    IoDeleteDevice(lower);
    EXPECT_DEATH(IoDeleteDevice(upper), "BUGCHECK in IoDeleteDevice: .* still attached to device .*IoDetachDevice first");
    EXPECT_DEATH(kernel->CheckDeviceRemoval(module),
                 "BUGCHECK in device removal \\(leak check\\): device object .* of TestDriver was deleted, but "
                 "device .* \\(TestDriver\\) is still attached above it");
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    kernel->CheckDeviceRemoval(module);
}

// A deleted device that a user's handle keeps is not the driver's leak, but one that the driver
// keeps itself, by a reference or by a file object of its own, still is.
TEST_F(VerifierTest, DeletedDeviceKeptByItsOwnDriverIsALeakEvenWithAUserHandleOpen)
{
    PDEVICE_OBJECT control =
        CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); }, L"\\Device\\Control");
    PFILE_OBJECT user = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Control", FILE_ALL_ACCESS, &user));
    UNICODE_STRING name = Name(L"\\Device\\Control");
    PFILE_OBJECT own = nullptr;
    PDEVICE_OBJECT top = nullptr;
    {
        tapkernel::ModuleScope asDriver(module);
        ObReferenceObject(control);
        ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &own, &top));
    }
    IoDeleteDevice(control);
    EXPECT_DEATH(kernel->CheckDeviceRemoval(module),
                 "BUGCHECK in device removal \\(leak check\\): TestDriver still holds.*1 reference\\(s\\) on device "
                 "object.*Control\\) deleted but still referenced");
    {
        tapkernel::ModuleScope asDriver(module);
        ObDereferenceObject(control);
    }
    EXPECT_DEATH(kernel->CheckDeviceRemoval(module),
                 "1 reference\\(s\\) on file object.*Control\\) deleted but still referenced");
    {
        tapkernel::ModuleScope asDriver(module);
        ObDereferenceObject(own);
    }
    kernel->CheckDeviceRemoval(module);
    EXPECT_DEATH(kernel->CheckReleasedAll(module), "BUGCHECK in driver unload \\(leak check\\).*Control\\) deleted but "
                                                   "still referenced");
    kernel->CloseFile(user);
    kernel->CheckReleasedAll(module);
}

// A read still pending on a user's handle is the user's business while the handle is open. Once
// the last handle is closed, the request alone keeps the file object, and so the deleted device:
// the driver that holds it should have completed it at cleanup.
TEST_F(VerifierTest, RequestKeptPastTheLastCloseOfItsFileIsTheDriversLeak)
{
    KeptReads kept;
    PDEVICE_OBJECT control = CreateReadKeepingDevice(L"\\Device\\Control", &kept);
    PFILE_OBJECT user = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Control", GENERIC_READ, &user));
    NTSTATUS status = STATUS_PENDING;
    PKTHREAD reader = StartRead(user, &status);
    kernel->WaitUntilIdle();
    IoDeleteDevice(control);
    kernel->CheckDeviceRemoval(module);

    kernel->CloseFile(user);
    EXPECT_DEATH(kernel->CheckDeviceRemoval(module),
                 "BUGCHECK in device removal \\(leak check\\): TestDriver still holds.*IRP .* \\(major function 0x03\\) "
                 "of file object .*, whose handles are all closed, still pending in device.*Control\\) deleted but "
                 "still referenced");
    Complete(kept.TakeRead(), STATUS_CANCELLED);
    Join(reader);
    kernel->CheckDeviceRemoval(module);
    EXPECT_EQ(STATUS_CANCELLED, status);
    EXPECT_EQ(0u, kernel->Usage(module).deletePendingDevices) << "the close freed the device";
    kernel->CheckReleasedAll(module);
}

TEST_F(VerifierTest, OwnIrpCompletedToTheTopWithoutTakingItBack)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    EXPECT_DEATH(IoCallDriver(device, irp), "IRP .* from IoAllocateIrp was completed to the top");
}

TEST_F(VerifierTest, PendingReturnedWithoutMarkingTheIrp)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP) { return STATUS_PENDING; });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    EXPECT_DEATH(IoCallDriver(device, irp), "returned STATUS_PENDING for IRP .* without marking");
}

TEST_F(VerifierTest, SuccessReturnedWithoutCompletingTheIrp)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP) { return STATUS_SUCCESS; });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    EXPECT_DEATH(IoCallDriver(device, irp), "without completing it and without STATUS_PENDING");
}

TEST_F(VerifierTest, CallIntoADeletedDevice)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    KEVENT *inExtension = reinterpret_cast<KEVENT *>(static_cast<TestExtension *>(device->DeviceExtension)->scratch);
    KeInitializeEvent(inExtension, NotificationEvent, FALSE);
    IoDeleteDevice(device);
    EXPECT_DEATH(IoCallDriver(device, irp), "BUGCHECK in IoCallDriver: call into device object .* deleted");
    EXPECT_DEATH(KeSetEvent(inExtension, IO_NO_INCREMENT, FALSE), "BUGCHECK in KeSetEvent: .* lies in device object");
    IoFreeIrp(irp);
}

TEST_F(VerifierTest, MouseClassServiceBelowDispatchLevel)
{
    EXPECT_DEATH(tapkernel::RequireIrql("MouseClassServiceCallback", DISPATCH_LEVEL, DISPATCH_LEVEL),
                 "BUGCHECK in MouseClassServiceCallback: called at IRQL 0");
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    tapkernel::RequireIrql("MouseClassServiceCallback", DISPATCH_LEVEL, DISPATCH_LEVEL);
    KeLowerIrql(irql);
}

PDEVICE_OBJECT removalDevice = nullptr;
PIRP removalIrp = nullptr;

NTSTATUS NTAPI AddDeviceKeepingInitialising(PDRIVER_OBJECT driver, PDEVICE_OBJECT)
{
    return IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_MOUSE, 0, FALSE, &removalDevice);
}

NTSTATUS NTAPI AddDeviceAllocatingAnIrp(PDRIVER_OBJECT driver, PDEVICE_OBJECT)
{
    NTSTATUS status = IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_MOUSE, 0, FALSE, &removalDevice);
    removalDevice->Flags &= ~DO_DEVICE_INITIALIZING;
    removalIrp = IoAllocateIrp(2, FALSE);
    return status;
}

NTSTATUS NTAPI EntryWithAddDevice(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->DriverExtension->AddDevice = AddDeviceAllocatingAnIrp;
    driver->DriverUnload = UnloadForgettingPool;
    return STATUS_SUCCESS;
}

TEST_F(VerifierTest, DeviceStillInitialisingAfterAddDevice)
{
    PDRIVER_OBJECT object = LoadTaggedDriver(EntryWithAddDevice);
    object->DriverExtension->AddDevice = AddDeviceKeepingInitialising;
    PDEVICE_OBJECT pdo = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    EXPECT_DEATH(kernel->AddDevice(object, pdo), "still has DO_DEVICE_INITIALIZING after AddDevice");
}

TEST_F(VerifierTest, IrpKeptAfterTheDeviceIsRemoved)
{
    PDRIVER_OBJECT object = LoadTaggedDriver(EntryWithAddDevice);
    PDEVICE_OBJECT pdo = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    ASSERT_EQ(STATUS_SUCCESS, kernel->AddDevice(object, pdo));
    EXPECT_EQ(1u, kernel->Usage(tagged).irps);
    IoDeleteDevice(removalDevice);
    EXPECT_DEATH(kernel->CheckDeviceRemoval(tagged), "BUGCHECK in device removal \\(leak check\\).*IRP");
    IoFreeIrp(removalIrp);
    kernel->CheckDeviceRemoval(tagged);
    kernel->UnloadDriver(object);
}

} // namespace
