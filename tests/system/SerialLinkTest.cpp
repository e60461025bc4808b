// The COM port link: which port is opened when, how it is configured and given back, and the
// reader that feeds the decoder.
#include "MonotapSystem.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>

using namespace monotaptest;
using tapmachine::MouseRecord;
using tapmachine::SerialRequest;

namespace {

using Bytes = std::vector<uint8_t>;

class SerialLink : public MonotapMachine {
protected:
    explicit SerialLink(std::vector<unsigned> ports = {1}) : MonotapMachine(std::move(ports)) {}

    // Control codes and reads the port received since it was last cleared, in order.
    std::vector<std::pair<SerialRequest::Kind, uint32_t>> Requests(unsigned port)
    {
        std::vector<std::pair<SerialRequest::Kind, uint32_t>> requests;
        for (const SerialRequest &request : machine.comPort(port).requests()) {
            if (request.kind == SerialRequest::Kind::DeviceControl ||
                request.kind == SerialRequest::Kind::InternalDeviceControl ||
                request.kind == SerialRequest::Kind::Read) {
                requests.emplace_back(request.kind, request.kind == SerialRequest::Kind::Read ? 0 : request.code);
            }
        }
        return requests;
    }

    bool Reports(unsigned port)
    {
        TakeRecords();
        Feed(port, Packet(0x81, 100, 100));
        Feed(port, Packet(0x84, 100, 100));
        return TakeRecords().size() == 2;
    }
};

class TwoPorts : public SerialLink {
protected:
    TwoPorts() : SerialLink({1, 2}) {}
};

TEST_F(TwoPorts, OpensTheConfiguredPortOnTheFirstArrivalOnly)
{
    SetParameter(u"Port", 2);
    SetParameter(u"Enable", 1);
    Start();
    EXPECT_EQ(OpenPort(), 2u);
    EXPECT_TRUE(machine.comPort(1).requests().empty()) << "COM1 is never touched";
    EXPECT_EQ(ReadsIssued(2), 1u) << "the second arrival found the reader running";
    EXPECT_TRUE(Reports(2));
}

TEST_F(SerialLink, WithoutEnableNoArrivalOpensAPortButTheControlCodeDoes)
{
    for (bool enableWritten : {false, true}) {
        SCOPED_TRACE(enableWritten ? "Enable = 0" : "no Enable value");
        SetParameter(u"Port", 1);
        if (enableWritten) {
            SetParameter(u"Enable", 0);
        }
        Start();
        machine.AddComPort(enableWritten ? 3 : 2);
        machine.WaitIdle();
        EXPECT_EQ(OpenPort(), 0u);

        EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
        EXPECT_EQ(OpenPort(), 1u);
        EXPECT_TRUE(Reports(1));
        ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    }
}

TEST_F(SerialLink, AnArrivalAfterCloseReopensTheConfiguredPort)
{
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    Start();
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_FALSE(Reports(1));

    machine.AddComPort(5);  // a USB-to-serial adapter is plugged in
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 1u);
    EXPECT_TRUE(Reports(1));
}

TEST_F(SerialLink, ConfiguresTheLineAndGivesTheSavedSettingsBack)
{
    const SERIAL_TIMEOUTS presetTimeouts{50, 2, 300, 7, 9};
    const SERIAL_HANDFLOW presetHandflow{0, 0, 10, 20};
    for (bool refuseBasicSettings : {false, true}) {
        SCOPED_TRACE(refuseBasicSettings ? "port driver without basic settings" : "basic settings");
        machine.comPort(1).SetRefuseInternalSettings(refuseBasicSettings);
        PresetPort(1, presetTimeouts, presetHandflow);
        machine.comPort(1).ClearRequests();
        SetParameter(u"Port", 1);
        SetParameter(u"Enable", 1);
        Start();

        using Kind = SerialRequest::Kind;
        std::vector<std::pair<Kind, uint32_t>> expected = {{Kind::InternalDeviceControl, IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS}};
        if (refuseBasicSettings) {
            expected.insert(expected.end(), {{Kind::DeviceControl, IOCTL_SERIAL_GET_TIMEOUTS},
                                             {Kind::DeviceControl, IOCTL_SERIAL_SET_TIMEOUTS},
                                             {Kind::DeviceControl, IOCTL_SERIAL_GET_HANDFLOW},
                                             {Kind::DeviceControl, IOCTL_SERIAL_SET_HANDFLOW}});
        }
        expected.insert(expected.end(), {{Kind::DeviceControl, IOCTL_SERIAL_SET_LINE_CONTROL},
                                         {Kind::DeviceControl, IOCTL_SERIAL_SET_BAUD_RATE},
                                         {Kind::Read, 0}});
        EXPECT_EQ(Requests(1), expected);

        tapmachine::SerialSettings settings = machine.comPort(1).settings();
        EXPECT_EQ(settings.line, (tapmachine::LineFormat{9600, 8, tapmachine::kNoParity, tapmachine::kOneStopBit}));
        EXPECT_EQ(settings.timeouts, tapmachine::SerialTimeouts{}) << "a read waits for its byte";
        if (refuseBasicSettings) {
            EXPECT_EQ(settings.handflow, (tapmachine::SerialHandflow{SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 0, 0}));
        }
        EXPECT_TRUE(Reports(1));

        ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
        machine.WaitIdle();
        settings = machine.comPort(1).settings();
        EXPECT_EQ(settings.timeouts, (tapmachine::SerialTimeouts{50, 2, 300, 7, 9}));
        EXPECT_EQ(settings.handflow, (tapmachine::SerialHandflow{0, 0, 10, 20}));
    }
}

TEST_F(SerialLink, TenThousandWaitingBytesAreReadByTheLoopWithoutGrowingTheStack)
{
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    Start();

    std::mutex mutex;
    uintptr_t lowest = UINTPTR_MAX;
    uintptr_t highest = 0;
    machine.mouse().AddListener([&](const tapmachine::PointerEvent &) {
        volatile char marker = 0;
        uintptr_t here = reinterpret_cast<uintptr_t>(&marker);
        std::lock_guard<std::mutex> lock(mutex);
        lowest = std::min(lowest, here);
        highest = std::max(highest, here);
    });

    Bytes stream;
    for (int packet = 0; packet < 1000; ++packet) {
        Bytes bytes = Packet(packet % 2 ? 0x84 : 0x81, static_cast<uint16_t>(100 + packet), 200);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(stream.size(), 10000u);
    size_t readsBefore = ReadsIssued(1);
    machine.comPort(1).Feed(stream);
    // The whole stream arrives while the driver waits for its first byte: the first read completes
    // from the port's device thread, the other 9999 inside the calls that issue them.
    tapkernel::Kernel::Current().AdvanceClock(20 * tapmachine::kTicksPerSecond);
    machine.Settle();

    EXPECT_EQ(machine.comPort(1).bytesWaiting(), 0u);
    EXPECT_EQ(ReadsIssued(1) - readsBefore, 10000u);
    std::vector<MouseRecord> records = TakeRecords();
    EXPECT_EQ(records.size(), 1000u);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_LT(highest - lowest, 4096u) << "reports were delivered at stack depths that differ by " << highest - lowest;
}

TEST_F(SerialLink, CloseWithAReadOutstandingThenOpenStartsAFreshReader)
{
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    Start();
    ASSERT_TRUE(LastReadPended(1));
    // The verifier stops the run if the read IRP is freed before its read came back.
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS) << "closing a closed port";

    size_t reads = ReadsIssued(1);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(ReadsIssued(1), reads + 1);
    EXPECT_TRUE(Reports(1));
}

TEST_F(SerialLink, AValueOfAnotherLengthIsIgnored)
{
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    // A calibration one byte short, and a MouseMode of 0 stored as 8 bytes.
    CalibrationData calibration{75000, 325000, 75000, 325000, 0, 1024, 768};
    std::vector<uint8_t> data(sizeof calibration);
    std::memcpy(data.data(), &calibration, sizeof calibration);
    machine.SetValue(kParametersKey, u"Calibration", 3 /* REG_BINARY */, std::vector<uint8_t>(data.begin(), data.end() - 1));
    machine.SetValue(kParametersKey, u"MouseMode", 11 /* REG_QWORD */, std::vector<uint8_t>(8, 0));
    Start();

    Feed(1, Packet(0x81, 2000, 1000));
    Feed(1, Packet(0x81, 2100, 1100));
    std::vector<MouseRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 2u) << "Click and Drag reports the move too";
    EXPECT_EQ(records[0].lastX, 0) << "the default calibration maps nothing";
    EXPECT_EQ(records[0].lastY, 0);

    // The same values at their right lengths, and of any type.
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    SetCalibration(calibration);
    machine.SetValue(kParametersKey, u"MouseMode", 3 /* REG_BINARY */, std::vector<uint8_t>(4, 0));
    Start();
    Feed(1, Packet(0x84, 2000, 1000));
    Feed(1, Packet(0x81, 2000, 1000));
    Feed(1, Packet(0x81, 2100, 1100));
    records = TakeRecords();
    ASSERT_EQ(records.size(), 2u) << "Point and Click drops the move";
    EXPECT_EQ(records[1].buttonFlags, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[1].lastX, 32767);
    EXPECT_EQ(records[1].lastY, 6553);
}

// A COM port whose driver fails every read at once, alternately with an error and with no byte.
namespace failingport {

std::atomic<int> reads{0};

// The status of read number n (from 0); a read that succeeds brings one byte when byte is set.
// By default every read fails, half of them as success without a byte.
std::function<NTSTATUS(int n, bool *byte)> answer = [](int n, bool *) {
    return n % 2 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
};

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    bool byte = false;
    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
        status = answer(reads++, &byte);
        if (byte) {
            *static_cast<UCHAR *>(irp->AssociatedIrp.SystemBuffer) = 0;
            information = 1;
        }
        break;
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        information = stack->Parameters.DeviceIoControl.OutputBufferLength;
        if (information != 0) {
            std::memset(irp->AssociatedIrp.SystemBuffer, 0, information);
        }
        break;
    default:
        break;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\COM7");
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI Entry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = Dispatch;
    }
    driver->DriverUnload = Unload;
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, L"\\Device\\FailingPort");
    RtlInitUnicodeString(&link, L"\\DosDevices\\COM7");
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    return IoCreateSymbolicLink(&link, &name);
}

} // namespace failingport

TEST_F(SerialLink, APortThatFailsEveryReadEndsTheReaderInsteadOfSpinning)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    PDRIVER_OBJECT failingDriver = nullptr;
    ASSERT_EQ(kernel.LoadDriver(kernel.CreateModule("FailingPort"), u"\\Driver\\FailingPort", failingport::Entry,
                                u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\FailingPort",
                                &failingDriver),
              STATUS_SUCCESS);
    Start();

    failingport::reads = 0;
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(failingport::reads, 32) << "the reader gave up after 32 reads without a byte";

    // The port stays open without a reader until it is closed; then the next open tries again.
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_SUCCESS) << "already open";
    EXPECT_EQ(failingport::reads, 32);
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(failingport::reads, 64);
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    kernel.UnloadDriver(failingDriver);
}

// A port driver whose reads the test scripts (failingport::answer), at COM7.
class ScriptedPort : public SerialLink {
protected:
    void SetUp() override
    {
        tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
        ASSERT_EQ(kernel.LoadDriver(kernel.CreateModule("FailingPort"), u"\\Driver\\FailingPort", failingport::Entry,
                                    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\FailingPort",
                                    &driver_),
                  STATUS_SUCCESS);
        Start();
        failingport::reads = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
        tapkernel::Kernel::Current().UnloadDriver(driver_);
        failingport::answer = [](int n, bool *) { return n % 2 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER; };
    }

private:
    PDRIVER_OBJECT driver_ = nullptr;
};

TEST_F(ScriptedPort, AByteResetsTheCountOfReadsWithoutOne)
{
    // Scattered errors for hours: 31 failed reads, then a byte, again and again; at last the port
    // goes away.
    failingport::answer = [](int n, bool *byte) {
        if (n == 320) {
            return STATUS_DEVICE_NOT_CONNECTED;
        }
        *byte = n % 32 == 31;
        return *byte ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    };
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(failingport::reads, 321) << "the reader kept reading until the port went away";
}

TEST_F(ScriptedPort, APortThatIsNotConnectedEndsTheReaderAtOnce)
{
    for (NTSTATUS ending : {STATUS_DEVICE_NOT_CONNECTED, STATUS_DELETE_PENDING}) {
        failingport::reads = 0;
        failingport::answer = [ending](int, bool *) { return ending; };
        EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(failingport::reads, 1) << std::hex << ending << " is not retried";
        EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    }
}

TEST_F(SerialLink, ClosingThePortGivesItsReadIrpBack)
{
    SetParameter(u"Enable", 1);
    Start();
    ASSERT_EQ(OpenPort(), 1u);
    EXPECT_EQ(tapkernel::Kernel::Current().Usage(Module()).irps, 1u) << "the one reused read IRP";
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_EQ(tapkernel::Kernel::Current().Usage(Module()).irps, 0u);
}

TEST_F(SerialLink, APortThatVanishesMidReadEndsTheReaderAndTheStopStillReturns)
{
    SetParameter(u"Enable", 1);
    Start();
    ASSERT_EQ(OpenPort(), 1u);
    machine.UnplugComPort(1);
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 1u) << "held until closed or removed";
    EXPECT_EQ(machine.StopDevice(node), STATUS_SUCCESS) << "a stop with no read outstanding waits for nothing";
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    EXPECT_EQ(tapkernel::Kernel::Current().FindDevice(u"\\Device\\Serial0"), nullptr)
        << "the vanished port's stack went with its last handle";
}

TEST_F(SerialLink, ARegistryChangeAloneTakesEffectWhenTheDeviceIsAddedAgain)
{
    SetParameter(u"Enable", 1);
    Start();
    SetParameter(u"MouseMode", 7); // no report at all, once in force
    EXPECT_TRUE(Reports(1)) << "the driver reads the registry only in AddDevice";
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    Start();
    EXPECT_FALSE(Reports(1));
}

class HighPorts : public SerialLink {
protected:
    HighPorts() : SerialLink({10, 11}) {}
};

TEST_F(HighPorts, PortTenIsOpenedAndElevenIsNot)
{
    SetParameter(u"Enable", 1);
    SetParameter(u"Port", 11);
    Start();
    EXPECT_EQ(OpenPort(), 0u);
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);

    SetParameter(u"Port", 10);
    Start();
    EXPECT_EQ(OpenPort(), 10u);
    EXPECT_TRUE(Reports(10));

    // The control code takes 10 as well.
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 11).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 10).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 10u);
    EXPECT_TRUE(Reports(10));
}

TEST_F(SerialLink, ATouchOnThePanelMovesTheCursorAndClicks)
{
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    SetParameter(u"BeepMode", BEEP_ON_TOUCH);
    SetParameter(u"BeepFreq", 880);
    SetParameter(u"BeepTime", 40);
    SetCalibration(IdealCalibration());
    tapmachine::TouchController &finger = AttachController(1);
    Start();

    std::vector<tapmachine::PointerEvent> events;
    std::mutex mutex;
    machine.mouse().AddListener([&](const tapmachine::PointerEvent &event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    });
    finger.Touch({300, 200});
    machine.Settle();
    EXPECT_TRUE(machine.mouse().buttons().left);
    finger.Move({310, 220});
    finger.Lift();
    machine.Settle();

    tapmachine::PixelPoint cursor = machine.mouse().cursor();
    EXPECT_NEAR(cursor.x, 310, 1);
    EXPECT_NEAR(cursor.y, 220, 1);
    EXPECT_FALSE(machine.mouse().buttons().left);
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<tapmachine::PointerEvent::Kind> kinds;
    for (const auto &event : events) {
        if (event.kind != tapmachine::PointerEvent::Kind::Move) {
            kinds.push_back(event.kind);
        }
    }
    EXPECT_EQ(kinds, (std::vector<tapmachine::PointerEvent::Kind>{tapmachine::PointerEvent::Kind::ButtonDown,
                                                                   tapmachine::PointerEvent::Kind::ButtonUp}));

    std::vector<tapmachine::BeepRecord> beeps = machine.TakeBeeps();
    ASSERT_EQ(beeps.size(), 1u) << "one beep, for the touch";
    EXPECT_EQ(beeps[0].frequency, 880u);
    EXPECT_EQ(beeps[0].duration, 40u);
}

} // namespace
