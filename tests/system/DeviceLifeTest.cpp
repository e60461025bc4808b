// The life of a device pair around its edges: AddDevice and its undoing, requests still in the
// mouse device when removal comes, power, and the checked preconditions of pageable routines.
#include "MonotapSystem.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace monotaptest;

namespace {

class DeviceLife : public MonotapMachine {
protected:
    DeviceLife()
    {
        SetParameter(u"Port", 1);
        SetParameter(u"Enable", 1);
    }

    tapkernel::Kernel &Kernel() { return tapkernel::Kernel::Current(); }
};

TEST_F(DeviceLife, TheControlDeviceCannotBeOpenedBeforeAddDeviceIsDone)
{
    // Every pool allocation of the driver on this thread is a moment inside AddDevice (reading
    // the parameters, building names): a tool trying to open the control device then is refused.
    std::vector<NTSTATUS> opens;
    const std::thread::id adding = std::this_thread::get_id();
    Kernel().ObservePoolAllocations("Monotap", [&] {
        if (std::this_thread::get_id() != adding || KeGetCurrentIrql() != PASSIVE_LEVEL) {
            return;
        }
        PFILE_OBJECT file = nullptr;
        NTSTATUS status = Kernel().OpenFile(u"\\Device\\Monotap0", GENERIC_READ | GENERIC_WRITE, &file);
        opens.push_back(status);
        if (NT_SUCCESS(status)) {
            Kernel().CloseFile(file);
        }
    });
    Start();
    Kernel().ObservePoolAllocations("Monotap", nullptr);

    ASSERT_FALSE(opens.empty());
    for (NTSTATUS status : opens) {
        EXPECT_FALSE(NT_SUCCESS(status)) << "opened while the pair was being built";
    }
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS) << "and openable once it is";
}

TEST_F(DeviceLife, AFailedRegistrationUndoesEverythingAddDeviceMade)
{
    Kernel().FailNotificationRegistrations("Monotap", 1);
    // The unload that follows the failure checks that no thread, pool, device, link or
    // reference of the pair is left.
    EXPECT_EQ(machine.StartDevice(node), STATUS_INSUFFICIENT_RESOURCES);
    machine.WaitIdle();
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));
    EXPECT_EQ(Kernel().FindDevice(u"\\Device\\Monotap0"), nullptr);
    EXPECT_FALSE(Kernel().LinkTarget(u"\\??\\MonotapSymLnk1").has_value());

    Start(); // and the node can be started afterwards
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(TakeRecords().size(), 1u);
}

TEST_F(DeviceLife, ARegistrationFailingAfterThePortArrivedUndoesTheReaderToo)
{
    // The registration reports COM1 before it fails: the arrival opens the port and leaves a read
    // pending, so the failure path has a reader, its read IRP and the beep thread to undo. The
    // unload that follows reports any of them left.
    Kernel().FailNotificationRegistrations("Monotap", 1, true);
    EXPECT_EQ(machine.StartDevice(node), STATUS_INSUFFICIENT_RESOURCES);
    machine.WaitIdle();
    EXPECT_EQ(ReadsIssued(1), 1u);
    EXPECT_TRUE(LastReadPended(1));
    EXPECT_FALSE(machine.comPort(1).open()) << "the port is given back";
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));

    Start();
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(TakeRecords().size(), 1u);
}

// The bus holds the next device control request at the touchscreen's physical device pending
// until the test completes it.
class BusHold {
public:
    explicit BusHold(PDEVICE_OBJECT physicalDevice) : driver_(physicalDevice->DriverObject)
    {
        held_ = nullptr;
        passed_ = driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL];
        driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Hold;
    }
    ~BusHold() { driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = passed_; }
    PIRP Held() const { return held_; }

private:
    static NTSTATUS NTAPI Hold(PDEVICE_OBJECT, PIRP irp)
    {
        IoMarkIrpPending(irp);
        held_ = irp;
        return STATUS_PENDING;
    }

    PDRIVER_OBJECT driver_;
    PDRIVER_DISPATCH passed_;
    static inline std::atomic<PIRP> held_{nullptr};
};

TEST_F(DeviceLife, RemovalWaitsForARequestStillBelowTheMouseDevice)
{
    Start();
    PDEVICE_OBJECT mouse = MouseDevice();
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP request;
    {
        BusHold hold(PhysicalDevice());
        request = IoBuildDeviceIoControlRequest(IOCTL_TOUCH_GET_RIGHT_CLICK, mouse, nullptr, 0, nullptr, 0, FALSE,
                                                &done, &ioStatus);
        ASSERT_EQ(IoCallDriver(mouse, request), STATUS_PENDING);
        ASSERT_NE(hold.Held(), nullptr);

        std::atomic<bool> removed{false};
        std::thread removal([&] {
            EXPECT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
            removed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(removed);
        EXPECT_FALSE(Kernel().IsDeviceDeleted(mouse)) << "the mouse device went with a request inside it";

        PIRP held = hold.Held();
        held->IoStatus.Status = STATUS_NOT_SUPPORTED;
        IoCompleteRequest(held, IO_NO_INCREMENT);
        removal.join();
        EXPECT_TRUE(removed);
    }
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(ioStatus.Status, STATUS_NOT_SUPPORTED);
}

TEST_F(DeviceLife, PowerRequestsGoDownAndEachStartsTheNext)
{
    Start();
    BusSpy spy(machine);
    uint64_t started = Kernel().PowerIrpsStarted();
    Send(MouseDevice(), IRP_MJ_POWER, 0, nullptr, 0, 0, IRP_MN_QUERY_POWER);
    Send(MouseDevice(), IRP_MJ_POWER, 0, nullptr, 0, 0, IRP_MN_SET_POWER);
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_POWER, IRP_MN_QUERY_POWER), 1);
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_POWER, IRP_MN_SET_POWER), 1);
    // Each request starts the next once in the mouse device and once in the bus below it.
    EXPECT_EQ(Kernel().PowerIrpsStarted(), started + 4);

    // At the control device, which is in no stack, it is completed there.
    Reply atControl = Send(ControlDevice(), IRP_MJ_POWER, 0, nullptr, 0, 0, IRP_MN_SET_POWER);
    EXPECT_EQ(atControl.status, STATUS_SUCCESS);
    EXPECT_EQ(Kernel().PowerIrpsStarted(), started + 5);
}

TEST_F(DeviceLife, APageableRoutineCalledAboveApcLevelIsABugCheck)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // the machine runs threads
    Start();
    EXPECT_DEATH(
        {
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            Send(MouseDevice(), IRP_MJ_PNP, 0, nullptr, 0, 0, IRP_MN_QUERY_CAPABILITIES);
        },
        "BUGCHECK in RtlAssert: .*DispatchPnp: pageable code called above APC_LEVEL \\(IRQL 2\\)");
}

} // namespace
