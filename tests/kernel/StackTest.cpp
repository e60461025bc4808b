// IRPs passed down device stacks the ways WDM drivers pass them: a driver hands its own stack
// location to the driver below (skip) or fills the next one (copy), a sender keeps a location of
// its own (IoSetNextIrpStackLocation); and a stack removed in the WDM order, where a driver
// deletes its device while the device above is still attached to it.
#include <string>
#include <vector>

#include "KernelFixture.h"

using namespace kerneltest;

namespace {

struct Routines {
    std::vector<std::string> calls;
    PDEVICE_OBJECT senderDevice = nullptr;
    BOOLEAN senderPendingReturned = FALSE;
    int senderLocation = 0;
};

struct Hook {
    Routines *routines;
    const char *name;
};

// The sender's routine: takes the IRP back.
NTSTATUS NTAPI SenderCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto *routines = static_cast<Routines *>(context);
    routines->calls.push_back("sender");
    routines->senderDevice = device;
    routines->senderPendingReturned = irp->PendingReturned;
    routines->senderLocation = irp->CurrentLocation;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// A filter's routine: lets completion go on, carrying the pending mark up.
NTSTATUS NTAPI FilterCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto *hook = static_cast<Hook *>(context);
    hook->routines->calls.push_back(hook->name);
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    return STATUS_CONTINUE_COMPLETION;
}

// A request as the PnP manager sends it: an IRP of exactly the top device's stack size.
PIRP PnpIrp(PDEVICE_OBJECT top, UCHAR minor, Routines *routines)
{
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = minor;
    IoSetCompletionRoutine(irp, SenderCompletion, routines, TRUE, TRUE, TRUE);
    return irp;
}

class StackTest : public KernelFixture {};

TEST_F(StackTest, TopDeviceSkipsToTheDeviceBelowOnAnIrpOfItsOwnStackSize)
{
    struct Seen {
        int location;
        PDEVICE_OBJECT device;
        UCHAR minor;
    } seen{};
    PIRP queued = nullptr;
    bool pend = false;
    PDEVICE_OBJECT pdo = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        seen = {irp->CurrentLocation, stack->DeviceObject, stack->MinorFunction};
        if (pend) {
            IoMarkIrpPending(irp);
            queued = irp;
            return STATUS_PENDING;
        }
        return Complete(irp, STATUS_SUCCESS, 7);
    });
    PDEVICE_OBJECT fdo = CreateFilter(pdo, [&](PDEVICE_OBJECT, PIRP irp) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(pdo, irp);
    });

    Routines routines;
    PIRP irp = PnpIrp(fdo, IRP_MN_QUERY_CAPABILITIES, &routines);
    ASSERT_EQ(2, irp->StackCount);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(fdo, irp));
    EXPECT_EQ(2, seen.location); // the FDO's own location, handed down
    EXPECT_EQ(pdo, seen.device);
    EXPECT_EQ(IRP_MN_QUERY_CAPABILITIES, seen.minor);
    EXPECT_EQ((std::vector<std::string>{"sender"}), routines.calls);
    EXPECT_EQ(nullptr, routines.senderDevice);
    EXPECT_EQ(3, irp->CurrentLocation);
    EXPECT_EQ(7u, irp->IoStatus.Information);

    // The same, with the PDO completing later: the IRP is held below until then.
    pend = true;
    routines = Routines{};
    IoReuseIrp(irp, STATUS_NOT_SUPPORTED);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    IoGetNextIrpStackLocation(irp)->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
    IoSetCompletionRoutine(irp, SenderCompletion, &routines, TRUE, TRUE, TRUE);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(fdo, irp));
    EXPECT_TRUE(routines.calls.empty());
    EXPECT_DEATH(IoFreeIrp(irp), "BUGCHECK in IoFreeIrp: IRP .* freed while a driver holds it");
    Complete(queued, STATUS_SUCCESS);
    EXPECT_EQ((std::vector<std::string>{"sender"}), routines.calls);
    EXPECT_TRUE(routines.senderPendingReturned);
    IoFreeIrp(irp);

    // A request the I/O manager builds for the FDO has no location for its sender either.
    pend = false;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP built = IoBuildDeviceIoControlRequest(0x222004, fdo, nullptr, 0, nullptr, 0, TRUE, &event, &status);
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(fdo, built));
    EXPECT_EQ(2, seen.location);
    EXPECT_EQ(7u, status.Information);
    EXPECT_EQ(1, KeReadStateEvent(&event));
}

TEST_F(StackTest, SkipsAndCopiesInAThreeDeviceStackRunTheRoutinesBottomUp)
{
    struct Case {
        bool upperSkips;
        bool middleSkips;
        int lowerLocation;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {false, false, 1, {"middle", "upper", "sender"}},
        {false, true, 2, {"upper", "sender"}},
        {true, false, 2, {"middle", "sender"}},
        {true, true, 3, {"sender"}},
    };
    const Case *current = nullptr;
    Routines routines;
    Hook upperHook{&routines, "upper"};
    Hook middleHook{&routines, "middle"};
    int lowerLocation = 0;
    PIRP queued = nullptr;
    PDEVICE_OBJECT lower = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        lowerLocation = irp->CurrentLocation;
        IoMarkIrpPending(irp);
        queued = irp;
        return STATUS_PENDING;
    });
    auto passDown = [](PIRP irp, bool skip, PDEVICE_OBJECT below, Hook *hook) {
        if (skip) {
            IoSkipCurrentIrpStackLocation(irp);
        } else {
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, FilterCompletion, hook, TRUE, TRUE, TRUE);
        }
        return IoCallDriver(below, irp);
    };
    PDEVICE_OBJECT middle = CreateFilter(lower, [&](PDEVICE_OBJECT, PIRP irp) {
        return passDown(irp, current->middleSkips, lower, &middleHook);
    });
    PDEVICE_OBJECT upper = CreateFilter(middle, [&](PDEVICE_OBJECT, PIRP irp) {
        return passDown(irp, current->upperSkips, middle, &upperHook);
    });

    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.upperSkips ? "upper skips, " : "upper copies, ") +
                     (c.middleSkips ? "middle skips" : "middle copies"));
        current = &c;
        routines = Routines{};
        PIRP irp = PnpIrp(upper, IRP_MN_QUERY_DEVICE_RELATIONS, &routines);
        ASSERT_EQ(STATUS_PENDING, IoCallDriver(upper, irp));
        EXPECT_EQ(c.lowerLocation, lowerLocation);
        EXPECT_TRUE(routines.calls.empty());
        Complete(queued, STATUS_SUCCESS);
        EXPECT_EQ(c.calls, routines.calls);
        EXPECT_TRUE(routines.senderPendingReturned);
        EXPECT_EQ(4, routines.senderLocation);
        EXPECT_DEATH(Complete(queued, STATUS_SUCCESS), "BUGCHECK in IoCompleteRequest: IRP .* completed twice");
        IoFreeIrp(irp);
    }
}

TEST_F(StackTest, SenderKeepsALocationOfItsOwnAndGetsTheIrpBackThere)
{
    int portLocation = 0;
    PDEVICE_OBJECT port = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        portLocation = irp->CurrentLocation;
        return Complete(irp, STATUS_SUCCESS, 3);
    });
    PDEVICE_OBJECT sender = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });

    Routines routines;
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(port->StackSize + 1), FALSE);
    IoSetNextIrpStackLocation(irp);
    PIO_STACK_LOCATION own = IoGetCurrentIrpStackLocation(irp);
    own->DeviceObject = sender;
    own->Parameters.Others.Argument1 = &routines;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_READ;
    next->Parameters.Read.Length = 3;
    IoSetCompletionRoutine(irp, SenderCompletion, &routines, TRUE, TRUE, TRUE);

    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(port, irp));
    EXPECT_EQ(1, portLocation);
    EXPECT_EQ((std::vector<std::string>{"sender"}), routines.calls);
    EXPECT_EQ(sender, routines.senderDevice); // the routine is called with the device of the sender's location
    EXPECT_EQ(2, routines.senderLocation);
    EXPECT_EQ(&routines, IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
    IoFreeIrp(irp);
}

// The WDM removal: each driver passes IRP_MN_REMOVE_DEVICE down first, then detaches from the
// device below and deletes its own. The function device is deleted while the filter above is
// still attached to it.
TEST_F(StackTest, StackIsRemovedTopDownWithEachDeviceDeletedBeforeTheOneAboveDetaches)
{
    PDEVICE_OBJECT pdo = nullptr;
    PDEVICE_OBJECT fdo = nullptr;
    PDEVICE_OBJECT filter = nullptr;
    PKEVENT fdoEvent = nullptr;
    std::vector<std::string> order;
    auto removeOwn = [&](PDEVICE_OBJECT device, PIRP irp, PDEVICE_OBJECT below, const char *name) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS status = IoCallDriver(below, irp);
        order.push_back(name);
        IoDetachDevice(below);
        IoDeleteDevice(device);
        return status;
    };
    pdo = CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        order.push_back("pdo");
        return Complete(irp, STATUS_SUCCESS);
    });
    fdo = CreateFilter(pdo, [&](PDEVICE_OBJECT device, PIRP irp) {
        NTSTATUS status = removeOwn(device, irp, pdo, "fdo");
        // Deleted, but the filter is still attached: the object and its extension stay.
        EXPECT_TRUE(kernel->IsDeviceDeleted(device));
        EXPECT_EQ(filter, device->AttachedDevice);
        return status;
    });
    fdoEvent = reinterpret_cast<PKEVENT>(static_cast<TestExtension *>(fdo->DeviceExtension)->scratch);
    KeInitializeEvent(fdoEvent, NotificationEvent, FALSE);
    filter = CreateFilter(fdo, [&](PDEVICE_OBJECT device, PIRP irp) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS status = IoCallDriver(fdo, irp);
        order.push_back("filter");
        KeSetEvent(fdoEvent, IO_NO_INCREMENT, FALSE); // still the device's memory
        IoDetachDevice(fdo);                           // the deleted function device goes now
        EXPECT_DEATH(KeSetEvent(fdoEvent, IO_NO_INCREMENT, FALSE), "lies in device object .* deleted");
        IoDeleteDevice(device);
        return status;
    });

    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    ASSERT_EQ(filter, top);
    Routines routines;
    PIRP irp = PnpIrp(top, IRP_MN_REMOVE_DEVICE, &routines);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(top, irp));
    IoFreeIrp(irp);
    ObDereferenceObject(top);

    EXPECT_EQ((std::vector<std::string>{"pdo", "fdo", "filter"}), order);
    EXPECT_EQ((std::vector<std::string>{"sender"}), routines.calls);
    EXPECT_EQ(nullptr, pdo->AttachedDevice);
    IoDeleteDevice(pdo);
    kernel->CheckDeviceRemoval(module);
}

} // namespace
