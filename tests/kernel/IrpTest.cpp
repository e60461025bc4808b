// IRPs through device stacks: stack locations, completion routines and their order,
// STATUS_MORE_PROCESSING_REQUIRED, PendingReturned, cancel, reuse, and the requests the I/O
// manager builds and completes itself.
#include <cstring>
#include <vector>

#include "KernelFixture.h"

using namespace kerneltest;

namespace {

struct Trace {
    std::vector<std::string> calls;
    BOOLEAN pendingReturned = FALSE;
    PDEVICE_OBJECT device = nullptr;
};

NTSTATUS NTAPI TopCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto *trace = static_cast<Trace *>(context);
    trace->calls.push_back("top");
    trace->pendingReturned = irp->PendingReturned;
    trace->device = device;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS NTAPI FilterCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto *trace = static_cast<Trace *>(context);
    trace->calls.push_back("filter");
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    return STATUS_CONTINUE_COMPLETION;
}

NTSTATUS NTAPI HaltingCompletion(PDEVICE_OBJECT, PIRP, PVOID context)
{
    static_cast<Trace *>(context)->calls.push_back("halting filter");
    return STATUS_MORE_PROCESSING_REQUIRED;
}

PIRP ReadIrp(PDEVICE_OBJECT top, Trace *trace)
{
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_READ;
    next->Parameters.Read.Length = 5;
    IoSetCompletionRoutine(irp, TopCompletion, trace, TRUE, TRUE, TRUE);
    return irp;
}

class IrpTest : public KernelFixture {};

TEST_F(IrpTest, CallDriverMovesToTheNextStackLocationOfEachDriver)
{
    struct Seen {
        int location;
        PDEVICE_OBJECT device;
        UCHAR major;
        ULONG length;
    };
    std::vector<Seen> seen;
    PDEVICE_OBJECT lower = CreateDevice([&](PDEVICE_OBJECT device, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        seen.push_back({irp->CurrentLocation, stack->DeviceObject, stack->MajorFunction, stack->Parameters.Read.Length});
        EXPECT_EQ(device, stack->DeviceObject);
        return Complete(irp, STATUS_SUCCESS, 5);
    });
    PDEVICE_OBJECT filter = CreateFilter(lower, [&](PDEVICE_OBJECT device, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        seen.push_back({irp->CurrentLocation, stack->DeviceObject, stack->MajorFunction, stack->Parameters.Read.Length});
        EXPECT_EQ(device, stack->DeviceObject);
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(lower, irp);
    });
    ASSERT_EQ(2, filter->StackSize);

    Trace trace;
    PIRP irp = ReadIrp(filter, &trace);
    EXPECT_EQ(2, irp->StackCount);
    EXPECT_EQ(3, irp->CurrentLocation);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(filter, irp));

    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(2, seen[0].location);
    EXPECT_EQ(filter, seen[0].device);
    EXPECT_EQ(1, seen[1].location);
    EXPECT_EQ(lower, seen[1].device);
    for (const Seen &s : seen) {
        EXPECT_EQ(IRP_MJ_READ, s.major);
        EXPECT_EQ(5u, s.length);
    }
    EXPECT_EQ(3, irp->CurrentLocation); // completed back to the top
    EXPECT_EQ(nullptr, trace.device);   // the allocator's routine has no device of its own
    EXPECT_EQ(5u, irp->IoStatus.Information);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CompletionRunsRoutinesBottomUpAndStopsAtMoreProcessingRequired)
{
    PDEVICE_OBJECT lower = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    Trace trace;
    bool halt = false;
    std::vector<std::string> seenWhileHeld;
    int locationWhileHeld = 0;
    PDEVICE_OBJECT filter = CreateFilter(lower, [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, halt ? HaltingCompletion : FilterCompletion, &trace, TRUE, TRUE, TRUE);
        NTSTATUS status = IoCallDriver(lower, irp);
        if (halt) {
            // The routine took the IRP back: nothing above ran, and the filter finishes it now.
            seenWhileHeld = trace.calls;
            locationWhileHeld = irp->CurrentLocation;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        }
        return status;
    });

    PIRP irp = ReadIrp(filter, &trace);
    IoCallDriver(filter, irp);
    EXPECT_EQ((std::vector<std::string>{"filter", "top"}), trace.calls);

    trace.calls.clear();
    halt = true;
    IoReuseIrp(irp, STATUS_SUCCESS);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    IoSetCompletionRoutine(irp, TopCompletion, &trace, TRUE, TRUE, TRUE);
    IoCallDriver(filter, irp);
    EXPECT_EQ((std::vector<std::string>{"halting filter"}), seenWhileHeld);
    EXPECT_EQ(2, locationWhileHeld);
    EXPECT_EQ((std::vector<std::string>{"halting filter", "top"}), trace.calls);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, PendingReturnedReachesTheRoutineAboveAPendingDriver)
{
    PIRP queued = nullptr;
    bool pend = true;
    PDEVICE_OBJECT lower = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        if (!pend) {
            return Complete(irp, STATUS_SUCCESS);
        }
        IoMarkIrpPending(irp);
        queued = irp;
        return STATUS_PENDING;
    });
    // A pass-through filter with no routine of its own: the kernel carries the pending mark up.
    PDEVICE_OBJECT filter = CreateFilter(lower, [&](PDEVICE_OBJECT, PIRP irp) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(lower, irp);
    });
    PDEVICE_OBJECT upper = CreateFilter(filter, [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, FilterCompletion, nullptr, FALSE, FALSE, FALSE);
        return IoCallDriver(filter, irp);
    });

    Trace trace;
    PIRP irp = ReadIrp(upper, &trace);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(upper, irp));
    EXPECT_TRUE(trace.calls.empty());
    Complete(queued, STATUS_SUCCESS);
    EXPECT_EQ((std::vector<std::string>{"top"}), trace.calls);
    EXPECT_TRUE(trace.pendingReturned);

    pend = false;
    trace = Trace{};
    IoReuseIrp(irp, STATUS_SUCCESS);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    IoSetCompletionRoutine(irp, TopCompletion, &trace, TRUE, TRUE, TRUE);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(upper, irp));
    EXPECT_FALSE(trace.pendingReturned);
    IoFreeIrp(irp);
}

VOID NTAPI CancelQueuedRead(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    static_cast<TestExtension *>(device->DeviceExtension)->scratch[0] += 1;
    Complete(irp, STATUS_CANCELLED);
}

TEST_F(IrpTest, CancelCallsTheCancelRoutineOfTheHoldingDriver)
{
    PDEVICE_OBJECT lower = CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, CancelQueuedRead);
        return STATUS_PENDING;
    });
    Trace trace;
    PIRP irp = ReadIrp(lower, &trace);
    ASSERT_EQ(STATUS_PENDING, IoCallDriver(lower, irp));

    KIRQL before = KeGetCurrentIrql();
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(before, KeGetCurrentIrql());
    EXPECT_EQ(1u, static_cast<TestExtension *>(lower->DeviceExtension)->scratch[0]);
    EXPECT_EQ((std::vector<std::string>{"top"}), trace.calls);
    EXPECT_EQ(STATUS_CANCELLED, irp->IoStatus.Status);
    EXPECT_TRUE(irp->Cancel);

    // Without a cancel routine nothing is called; the flag is still set, and reuse clears it.
    EXPECT_FALSE(IoCancelIrp(irp));
    IoReuseIrp(irp, STATUS_SUCCESS);
    EXPECT_FALSE(irp->Cancel);
    IoFreeIrp(irp);
}

struct Reader {
    PDEVICE_OBJECT port;
    int reads = 0;
};

NTSTATUS NTAPI RereadCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto *reader = static_cast<Reader *>(context);
    if (++reader->reads < 3) {
        IoReuseIrp(irp, STATUS_SUCCESS);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
        IoSetCompletionRoutine(irp, RereadCompletion, reader, TRUE, TRUE, TRUE);
        IoCallDriver(reader->port, irp);
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(IrpTest, ReuseRestoresAFreshIrpAndWorksFromTheCompletionRoutine)
{
    PDEVICE_OBJECT port = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 1); });
    Reader reader{port};
    PIRP irp = IoAllocateIrp(port->StackSize, FALSE);
    irp->IoStatus.Information = 77;
    IoReuseIrp(irp, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, irp->IoStatus.Status);
    EXPECT_EQ(0u, irp->IoStatus.Information);
    EXPECT_EQ(irp->StackCount + 1, irp->CurrentLocation);

    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
    IoSetCompletionRoutine(irp, RereadCompletion, &reader, TRUE, TRUE, TRUE);
    IoCallDriver(port, irp);
    EXPECT_EQ(3, reader.reads);
    IoFreeIrp(irp);
}

constexpr ULONG kBufferedCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kNeitherCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_NEITHER, FILE_ANY_ACCESS);

TEST_F(IrpTest, BuiltControlRequestCopiesInAndOutAndSignalsItsEvent)
{
    PDEVICE_OBJECT device = CreateDevice([](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(IRP_MJ_DEVICE_CONTROL, stack->MajorFunction);
        EXPECT_EQ(kBufferedCode, stack->Parameters.DeviceIoControl.IoControlCode);
        EXPECT_EQ(4u, stack->Parameters.DeviceIoControl.InputBufferLength);
        EXPECT_EQ(8u, stack->Parameters.DeviceIoControl.OutputBufferLength);
        auto *buffer = static_cast<ULONG *>(irp->AssociatedIrp.SystemBuffer);
        ULONG input = buffer[0];
        buffer[0] = input + 1;
        buffer[1] = input + 2;
        return Complete(irp, STATUS_SUCCESS, 8);
    });
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    ULONG input = 40;
    ULONG output[3] = {0, 0, 99};
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedCode, device, &input, sizeof input, output, 8, FALSE, &event,
                                             &status);
    ASSERT_NE(nullptr, irp);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(device, irp));
    EXPECT_EQ(STATUS_SUCCESS, status.Status);
    EXPECT_EQ(8u, status.Information);
    EXPECT_EQ(41u, output[0]);
    EXPECT_EQ(42u, output[1]);
    EXPECT_EQ(99u, output[2]);
    EXPECT_EQ(1, KeReadStateEvent(&event));
}

TEST_F(IrpTest, BuiltRequestCompletedLaterByAnotherThreadReleasesTheWaiter)
{
    PIRP queued = nullptr;
    KEVENT arrived;
    KeInitializeEvent(&arrived, NotificationEvent, FALSE);
    PDEVICE_OBJECT device = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        EXPECT_EQ(IRP_MJ_INTERNAL_DEVICE_CONTROL, IoGetCurrentIrpStackLocation(irp)->MajorFunction);
        EXPECT_EQ(&arrived, IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer);
        IoMarkIrpPending(irp);
        queued = irp;
        KeSetEvent(&arrived, IO_NO_INCREMENT, FALSE);
        return STATUS_PENDING;
    });
    PKTHREAD completer = kernel->StartThread("completer", [&] {
        KeWaitForSingleObject(&arrived, Executive, KernelMode, FALSE, nullptr);
        KIRQL irql;
        KeRaiseIrql(DISPATCH_LEVEL, &irql);
        Complete(queued, STATUS_DEVICE_BUSY, 0);
        KeLowerIrql(irql);
    });
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(kNeitherCode, device, &arrived, 0, nullptr, 0, TRUE, &done, &status);
    ASSERT_EQ(STATUS_PENDING, IoCallDriver(device, irp));
    EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(STATUS_DEVICE_BUSY, status.Status);
    KeWaitForSingleObject(completer, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(completer);
}

} // namespace
