// The device pair: the mouse class's requests, what reaches each device, PnP and removal.
#include "MonotapSystem.h"

#include <atomic>
#include <cstring>

using namespace monotaptest;
using tapmachine::DeviceState;
using tapmachine::MouseRecord;

namespace {

class DevicePair : public MonotapMachine {
protected:
    DevicePair()
    {
        SetParameter(u"Port", 1);
        SetParameter(u"Enable", 1);
    }
};

TEST_F(DevicePair, AnswersTheMouseClassAndKeepsItsFirstConnection)
{
    Start();
    ASSERT_EQ(machine.mouseClassDevices().size(), 1u);
    EXPECT_TRUE(machine.mouseClassDevices()[0].connected);

    CONNECT_DATA intruder{MouseDevice(), nullptr};
    EXPECT_EQ(Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_MOUSE_CONNECT,
                   &intruder, sizeof intruder, 0)
                  .status,
              STATUS_SHARING_VIOLATION);

    Reply shortQuery =
        Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_MOUSE_QUERY_ATTRIBUTES, nullptr, 0, 11);
    EXPECT_EQ(shortQuery.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortQuery.information, 0u);

    for (ULONG length : {12u, 16u}) {
        Reply query = Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_MOUSE_QUERY_ATTRIBUTES,
                           nullptr, 0, length);
        ASSERT_EQ(query.status, STATUS_SUCCESS);
        EXPECT_EQ(query.information, 12u);
        MOUSE_ATTRIBUTES attributes;
        std::memcpy(&attributes, query.output.data(), sizeof attributes);
        EXPECT_EQ(attributes.MouseIdentifier, MOUSE_SERIAL_HARDWARE);
        EXPECT_EQ(attributes.NumberOfButtons, 2);
        EXPECT_EQ(attributes.SampleRate, 1200);
        EXPECT_EQ(attributes.InputDataQueueLength, 100u);
    }

    struct {
        ULONG code;
        NTSTATUS status;
    } const others[] = {
        {IOCTL_INTERNAL_MOUSE_DISCONNECT, STATUS_NOT_IMPLEMENTED},
        {IOCTL_INTERNAL_MOUSE_ENABLE, STATUS_SUCCESS},
        {IOCTL_INTERNAL_MOUSE_DISABLE, STATUS_SUCCESS},
        {IOCTL_TOUCH_GET_RIGHT_CLICK, STATUS_INVALID_DEVICE_REQUEST},
    };
    for (const auto &other : others) {
        EXPECT_EQ(Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, other.code, nullptr, 0, 0).status,
                  other.status)
            << std::hex << other.code;
    }

    // The refused connect and the disconnect left the class driver connected: a touch reaches it.
    Feed(1, Packet(0x81, 100, 100));
    std::vector<MouseRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].buttonFlags, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[0].flags, MOUSE_MOVE_ABSOLUTE);
}

// A class service of the test's own: it counts the records it is handed and the class device
// they were meant for. Called at DISPATCH_LEVEL from the read path.
std::atomic<int> serviceRecords{0};
std::atomic<PVOID> serviceClassDevice{nullptr};

VOID STDAPICALLTYPE CountingService(PVOID classDevice, PVOID first, PVOID last, PVOID consumed)
{
    ULONG count = static_cast<ULONG>(static_cast<PMOUSE_INPUT_DATA>(last) - static_cast<PMOUSE_INPUT_DATA>(first));
    serviceRecords += static_cast<int>(count);
    serviceClassDevice = classDevice;
    *static_cast<PULONG>(consumed) = count;
}

TEST_F(DevicePair, AConnectShorterThanConnectDataIsRefusedAndConnectsNothing)
{
    // Without the mouse class on top the test sends the class's requests itself.
    machine.DeleteValue(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                            std::u16string(tapmachine::kMouseClassGuid),
                        u"UpperFilters");
    Start();
    ASSERT_TRUE(machine.mouseClassDevices().empty());
    ASSERT_EQ(Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_MOUSE_QUERY_ATTRIBUTES, nullptr, 0, 12).status,
              STATUS_SUCCESS);
    serviceRecords = 0;

    // The whole record is there to be read; only the length says it is short.
    int classDevice = 0;
    CONNECT_DATA connection{reinterpret_cast<PDEVICE_OBJECT>(&classDevice),
                            reinterpret_cast<PVOID>(static_cast<PSERVICE_CALLBACK_ROUTINE>(CountingService))};
    for (ULONG length : {0u, ULONG(sizeof(PVOID)), ULONG(sizeof connection - 1)}) {
        EXPECT_EQ(Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_MOUSE_CONNECT, &connection,
                       length, 0)
                      .status,
                  STATUS_INVALID_PARAMETER)
            << length;
    }
    Feed(1, Packet(0x81, 100, 100));
    Feed(1, Packet(0x84, 100, 100));
    EXPECT_EQ(serviceRecords.load(), 0) << "a refused connect delivers nothing";
    EXPECT_TRUE(TakeRecords().empty());

    // The refusals left the device unconnected: a connect in full is taken, and reports reach it.
    ASSERT_EQ(Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_MOUSE_CONNECT, &connection,
                   sizeof connection, 0)
                  .status,
              STATUS_SUCCESS);
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(serviceRecords.load(), 1);
    EXPECT_EQ(serviceClassDevice.load(), static_cast<PVOID>(&classDevice));
}

TEST_F(DevicePair, ReportsNothingUntilTheAttributesAreQueriedInFull)
{
    machine.SetMouseClassQueriesAttributes(false);
    Start();
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_TRUE(TakeRecords().empty());

    Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_MOUSE_QUERY_ATTRIBUTES, nullptr, 0, 11);
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_TRUE(TakeRecords().empty()) << "a refused query does not start the reports";

    Send(MouseDevice(), IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_MOUSE_QUERY_ATTRIBUTES, nullptr, 0, 12);
    Feed(1, Packet(0x84, 100, 100));
    std::vector<MouseRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].buttonFlags, MOUSE_LEFT_BUTTON_UP);
}

TEST_F(DevicePair, PassesDeviceControlDownUntouched)
{
    Start();
    BusSpy spy(machine);
    Reply atMouse = Send(MouseDevice(), IRP_MJ_DEVICE_CONTROL, IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4);
    Reply atBus = Send(PhysicalDevice(), IRP_MJ_DEVICE_CONTROL, IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4);
    EXPECT_EQ(spy.ControlCodes(PhysicalDevice()),
              (std::vector<ULONG>{IOCTL_TOUCH_GET_RIGHT_CLICK, IOCTL_TOUCH_GET_RIGHT_CLICK}));
    EXPECT_EQ(atMouse.status, atBus.status);
    EXPECT_NE(atMouse.status, STATUS_SUCCESS) << "not answered as a control code";

    // Any other major function goes down the same way.
    Send(MouseDevice(), IRP_MJ_READ, 0, nullptr, 0, 0);
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_READ), 1);
}

TEST_F(DevicePair, StartIsCompletedWithoutReachingTheBus)
{
    BusSpy spy(machine);
    Start();
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_PNP, IRP_MN_START_DEVICE), 0);
    EXPECT_EQ(Send(MouseDevice(), IRP_MJ_PNP, 0, nullptr, 0, 0, IRP_MN_START_DEVICE).status, STATUS_SUCCESS);
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_PNP, IRP_MN_START_DEVICE), 0);
    // Other PnP requests go down.
    Send(MouseDevice(), IRP_MJ_PNP, 0, nullptr, 0, 0, IRP_MN_QUERY_CAPABILITIES);
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES), 1);
}

TEST_F(DevicePair, TheControlDeviceAnswersEverythingButControlCodesWithSuccess)
{
    Start();
    PDEVICE_OBJECT control = ControlDevice();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(tapkernel::Kernel::Current().LinkTarget(u"\\??\\MonotapSymLnk1"), std::u16string(u"\\Device\\Monotap0"));
    BusSpy spy(machine);

    struct {
        UCHAR major;
        UCHAR minor;
        ULONG code;
    } const requests[] = {
        {IRP_MJ_PNP, IRP_MN_START_DEVICE, 0},
        {IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, 0},
        {IRP_MJ_INTERNAL_DEVICE_CONTROL, 0, IOCTL_INTERNAL_MOUSE_CONNECT},
        {IRP_MJ_INTERNAL_DEVICE_CONTROL, 0, 0x12345678},
        {IRP_MJ_READ, 0, 0},
        {IRP_MJ_WRITE, 0, 0},
        {IRP_MJ_FLUSH_BUFFERS, 0, 0},
        {IRP_MJ_SYSTEM_CONTROL, 0, 0},
    };
    for (const auto &request : requests) {
        Reply reply = Send(control, request.major, request.code, nullptr, 0, 0, request.minor);
        EXPECT_EQ(reply.status, STATUS_SUCCESS) << int(request.major) << "/" << int(request.minor);
        EXPECT_EQ(reply.information, 0u);
    }
    EXPECT_EQ(spy.Count(PhysicalDevice(), IRP_MJ_PNP), 0) << "the control device is in no stack";
    EXPECT_EQ(ControlDevice(), control) << "a removal request at the control device removes nothing";
    EXPECT_TRUE(machine.comPort(1).open());
}

TEST_F(DevicePair, ASecondTouchscreenNodeFailsAndLeavesNothingBehind)
{
    Start();
    tapkernel::DriverModule *module = Module();
    tapkernel::ModuleUsage before = tapkernel::Kernel::Current().Usage(module);

    std::u16string second = machine.CreateRootDevice(u"*Monotap", u"Monotap");
    EXPECT_NE(machine.StartDevice(second), STATUS_SUCCESS);
    std::optional<tapmachine::DeviceInfo> info = machine.Device(second);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->state, DeviceState::Failed);
    EXPECT_EQ(info->status, STATUS_OBJECT_NAME_COLLISION);

    machine.WaitIdle();
    tapkernel::ModuleUsage after = tapkernel::Kernel::Current().Usage(module);
    EXPECT_EQ(after.devices, before.devices);
    EXPECT_EQ(after.poolBlocks, before.poolBlocks);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.notifications, before.notifications);
    EXPECT_EQ(after.irps, before.irps);
    EXPECT_EQ(after.objectReferences, before.objectReferences);

    // The first pair still serves its touchscreen.
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(TakeRecords().size(), 1u);
}

TEST_F(DevicePair, NothingMakesItReadAfterAStop)
{
    Start();
    ASSERT_TRUE(LastReadPended(1));
    ASSERT_EQ(machine.StopDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(machine.comPort(1).bytesWaiting(), 10u) << "the outstanding read was cancelled";
    size_t reads = ReadsIssued(1);

    machine.StartDevice(node);
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    machine.AddComPort(3);
    machine.WaitIdle();

    EXPECT_EQ(ReadsIssued(1), reads);
    EXPECT_EQ(ReadsIssued(2), 0u);
    EXPECT_EQ(ReadsIssued(3), 0u);
    EXPECT_TRUE(TakeRecords().empty());
}

TEST_F(DevicePair, RemovalWhileReadingGivesThePortBackAsItWas)
{
    PresetPort(1, SERIAL_TIMEOUTS{50, 2, 300, 0, 0}, SERIAL_HANDFLOW{0, 0, 10, 20});
    tapmachine::SerialSettings before = machine.comPort(1).settings();
    Start();
    ASSERT_TRUE(LastReadPended(1));
    EXPECT_EQ(machine.comPort(1).settings().line.baudRate, 9600u);
    EXPECT_FALSE(machine.comPort(1).settings().timeouts == before.timeouts) << "the driver set its own";

    // The verifier stops the run if the read IRP is freed before its cancelled read came back.
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();

    EXPECT_FALSE(machine.comPort(1).open());
    // The saved basic settings come back; line control and baud rate are not part of them.
    tapmachine::SerialSettings after = machine.comPort(1).settings();
    EXPECT_EQ(after.timeouts, before.timeouts);
    EXPECT_EQ(after.handflow, before.handflow);
    EXPECT_FALSE(tapkernel::Kernel::Current().LinkTarget(u"\\??\\MonotapSymLnk1").has_value());
    EXPECT_EQ(ControlDevice(), nullptr);
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap")) << "unloaded, with nothing left over";
}

TEST_F(DevicePair, SurpriseRemovalCancelsTheReadAndRemovalFinishesTheJob)
{
    Start();
    ASSERT_TRUE(LastReadPended(1));
    machine.SurpriseRemoveDevice(node);
    machine.WaitIdle();
    EXPECT_FALSE(machine.comPort(1).open());
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));
}

TEST_F(DevicePair, RemovalAfterAStopReleasesThePortItStillHeld)
{
    Start();
    ASSERT_EQ(machine.StopDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
    EXPECT_TRUE(machine.comPort(1).open()) << "a stop keeps the port";
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
    EXPECT_FALSE(machine.comPort(1).open());
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));
}

TEST_F(DevicePair, TheDeviceCanBeAddedAgainAfterRemoval)
{
    Start();
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    Start();
    EXPECT_EQ(OpenPort(), 1u);
    Feed(1, Packet(0x81, 100, 100));
    EXPECT_EQ(TakeRecords().size(), 1u);
}

} // namespace
