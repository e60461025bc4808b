// The serial port driver as its clients see it: exclusive open, the settings requests with their
// exact record sizes, reads that complete inside the call or later at DISPATCH_LEVEL on the
// thread that delivers the byte, cancel, removal, and what a wrong line setting does to the
// controller's bytes.
#include "MachineTestSupport.h"

#include <ntddser.h>

#include <thread>

using namespace tapmachine;
using machinetest::CompletionRecord;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kPacket{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64};

class SerialPort : public testing::Test {
protected:
    SerialPort() : machine(Options()), kernel(tapkernel::Kernel::Current()), port(machine.comPort(1)) {}

    static MachineOptions Options()
    {
        MachineOptions options;
        options.comPorts = {1, 2};
        return options;
    }

    ~SerialPort() override
    {
        if (file != nullptr) {
            kernel.CloseFile(file);
        }
    }

    void Open()
    {
        ASSERT_EQ(kernel.OpenFile(u"\\??\\COM1", FILE_ALL_ACCESS, &file), STATUS_SUCCESS);
    }

    NTSTATUS Control(ULONG code, const void *input, ULONG inputLength, void *output = nullptr,
                     ULONG outputLength = 0, ULONG_PTR *information = nullptr)
    {
        ULONG_PTR ignored;
        return kernel.DeviceIoControl(file, code, input, inputLength, output, outputLength,
                                      information ? information : &ignored);
    }

    // The settings the touch driver gives the port: 8N1 at a baud rate, reads that wait.
    void Configure(ULONG baud)
    {
        SERIAL_TIMEOUTS timeouts{};
        ASSERT_EQ(Control(IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts), STATUS_SUCCESS);
        SERIAL_LINE_CONTROL line{STOP_BIT_1, NO_PARITY, 8};
        ASSERT_EQ(Control(IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof line), STATUS_SUCCESS);
        SERIAL_BAUD_RATE rate{baud};
        ASSERT_EQ(Control(IOCTL_SERIAL_SET_BAUD_RATE, &rate, sizeof rate), STATUS_SUCCESS);
    }

    NTSTATUS Internal(ULONG code, void *input, ULONG inputLength, void *output, ULONG outputLength,
                      ULONG_PTR *information)
    {
        KEVENT done;
        IO_STATUS_BLOCK status{};
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        PDEVICE_OBJECT device = kernel.FindDevice(u"\\Device\\Serial0");
        PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputLength, output, outputLength, TRUE,
                                                 &done, &status);
        NTSTATUS result = IoCallDriver(device, irp);
        if (result == STATUS_PENDING) {
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
            result = status.Status;
        }
        *information = status.Information;
        return result;
    }

    // A one-byte read the test owns, sent straight to the port's device.
    struct Read {
        PIRP irp = nullptr;
        UCHAR byte = 0;
        CompletionRecord completion;
        NTSTATUS returned = 0;
    };

    void Issue(Read &read)
    {
        PDEVICE_OBJECT device = kernel.FindDevice(u"\\Device\\Serial0");
        read.irp = IoAllocateIrp(device->StackSize, FALSE);
        read.irp->AssociatedIrp.SystemBuffer = &read.byte;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(read.irp);
        next->MajorFunction = IRP_MJ_READ;
        next->Parameters.Read.Length = 1;
        next->FileObject = file;
        IoSetCompletionRoutine(read.irp, CompletionRecord::Routine, &read.completion, TRUE, TRUE, TRUE);
        read.returned = IoCallDriver(device, read.irp);
    }

    void Free(Read &read)
    {
        IoFreeIrp(read.irp);
        read.irp = nullptr;
    }

    Machine machine;
    tapkernel::Kernel &kernel;
    ComPort &port;
    PFILE_OBJECT file = nullptr;
};

TEST_F(SerialPort, NamesLinksAndTheSerialCommMap)
{
    EXPECT_EQ(port.deviceName(), u"\\Device\\Serial0");
    EXPECT_EQ(kernel.LinkTarget(u"\\DosDevices\\COM1"), std::u16string(u"\\Device\\Serial0"));
    EXPECT_EQ(kernel.LinkTarget(u"\\??\\COM2"), std::u16string(u"\\Device\\Serial1"));
    auto map = machine.Value(u"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM", u"\\Device\\Serial1");
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->data, StringData(u"COM2"));
    EXPECT_EQ(machine.Device(u"ACPI\\PNP0501\\1")->state, DeviceState::Started);
}

TEST_F(SerialPort, OneOpenAtATime)
{
    Open();
    EXPECT_TRUE(port.open());
    PFILE_OBJECT second = nullptr;
    NTSTATUS refused = kernel.OpenFile(u"\\??\\COM1", FILE_ALL_ACCESS, &second);
    EXPECT_TRUE(refused == STATUS_ACCESS_DENIED || refused == STATUS_SHARING_VIOLATION) << std::hex << refused;
    kernel.CloseFile(file);
    file = nullptr;
    machine.WaitIdle();
    EXPECT_FALSE(port.open());
    Open();  // free again
}

TEST_F(SerialPort, SettingsRequestsCheckTheirRecords)
{
    Open();
    SerialSettings powerOn = port.settings();
    EXPECT_EQ(powerOn.line, (LineFormat{1200, 7, kEvenParity, kOneStopBit}));

    SERIAL_BAUD_RATE zero{0};
    EXPECT_EQ(Control(IOCTL_SERIAL_SET_BAUD_RATE, &zero, sizeof zero), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_SERIAL_SET_BAUD_RATE, &zero, 3), STATUS_BUFFER_TOO_SMALL);
    SERIAL_LINE_CONTROL badWord{STOP_BIT_1, NO_PARITY, 9};
    EXPECT_EQ(Control(IOCTL_SERIAL_SET_LINE_CONTROL, &badWord, sizeof badWord), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(port.settings().line, powerOn.line);

    Configure(9600);
    EXPECT_EQ(port.settings().line, LineFormat{});

    SERIAL_TIMEOUTS timeouts;
    ULONG_PTR information = 0;
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 20u);
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, 19), STATUS_BUFFER_TOO_SMALL);

    SERIAL_HANDFLOW handflow{SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 0, 0};
    EXPECT_EQ(Control(IOCTL_SERIAL_SET_HANDFLOW, &handflow, sizeof handflow), STATUS_SUCCESS);
    SERIAL_HANDFLOW readBack{};
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_HANDFLOW, nullptr, 0, &readBack, sizeof readBack, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 16u);
    EXPECT_EQ(readBack.FlowReplace, static_cast<ULONG>(SERIAL_RTS_CONTROL));

    // Every request is on the record, with its input as sent and its answer.
    std::vector<SerialRequest> requests = port.requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0].kind, SerialRequest::Kind::Create);
    EXPECT_EQ(requests[1].code, IOCTL_SERIAL_SET_BAUD_RATE);
    EXPECT_EQ(requests[1].input, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(requests[1].status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(requests[2].input.size(), 3u);
}

TEST_F(SerialPort, BasicSettingsReturnThePreviousOnesAndRestoreUndoesThem)
{
    Open();
    SERIAL_TIMEOUTS readInterval{0xFFFFFFFF, 0, 0, 0, 0};
    ASSERT_EQ(Control(IOCTL_SERIAL_SET_TIMEOUTS, &readInterval, sizeof readInterval), STATUS_SUCCESS);

    SERIAL_BASIC_SETTINGS saved{};
    ULONG_PTR information = 0;
    ASSERT_EQ(Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, sizeof saved, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 44u);
    EXPECT_EQ(saved.Timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(port.settings().timeouts, SerialTimeouts{});  // basic mode: no time-outs
    EXPECT_EQ(port.settings().handflow.controlHandShake, static_cast<uint32_t>(SERIAL_DTR_CONTROL));

    ASSERT_EQ(Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, sizeof saved, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(port.settings().timeouts.readIntervalTimeout, 0xFFFFFFFFu);

    port.SetRefuseInternalSettings(true);
    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, sizeof saved, &information),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, sizeof saved, nullptr, 0, &information),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(port.requests().back().kind, SerialRequest::Kind::InternalDeviceControl);
    EXPECT_EQ(port.requests().back().status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(SerialPort, WaitingBytesCompleteTheReadInsideTheCall)
{
    Open();
    Configure(9600);
    port.Feed({0x55});
    machine.Settle();
    EXPECT_EQ(port.bytesWaiting(), 1u);

    Read read;
    Issue(read);
    EXPECT_EQ(read.returned, STATUS_SUCCESS);
    ASSERT_TRUE(read.completion.done());
    EXPECT_EQ(read.completion.thread(), std::this_thread::get_id());
    EXPECT_EQ(read.completion.information(), 1u);
    EXPECT_EQ(read.byte, 0x55);
    Free(read);
}

// As a DPC runs on the processor that took the interrupt: on the thread that delivered the byte
// (here the test's own, moving the clock in Settle), not through a hand-off to another thread.
TEST_F(SerialPort, APendedReadCompletesLaterAtDispatchLevelOnTheDeliveringThread)
{
    Open();
    Configure(9600);
    Read read;
    Issue(read);
    EXPECT_EQ(read.returned, STATUS_PENDING);
    machine.WaitIdle();
    EXPECT_FALSE(read.completion.done());

    port.Feed({0xA7});
    machine.WaitIdle();
    EXPECT_FALSE(read.completion.done());  // still on the line
    machine.Settle();
    ASSERT_TRUE(read.completion.done());
    EXPECT_EQ(read.completion.status(), STATUS_SUCCESS);
    EXPECT_EQ(read.completion.irql(), DISPATCH_LEVEL);
    EXPECT_EQ(read.completion.thread(), std::this_thread::get_id());
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL) << "and lowered again after it";
    EXPECT_EQ(read.byte, 0xA7);
    Free(read);
}

TEST_F(SerialPort, CancellingAPendedRead)
{
    Open();
    Read read;
    Issue(read);
    ASSERT_EQ(read.returned, STATUS_PENDING);
    EXPECT_TRUE(IoCancelIrp(read.irp));
    machine.WaitIdle();
    ASSERT_TRUE(read.completion.done());
    EXPECT_EQ(read.completion.status(), STATUS_CANCELLED);
    Free(read);

    // The port goes on serving reads.
    Configure(9600);
    Read next;
    Issue(next);
    port.Feed({0x01});
    machine.Settle();
    EXPECT_EQ(next.completion.status(), STATUS_SUCCESS);
    Free(next);
}

TEST_F(SerialPort, UnpluggingEndsReadsWithDeletePendingAndRemovalWaitsForTheClose)
{
    Open();
    Read read;
    Issue(read);
    ASSERT_EQ(read.returned, STATUS_PENDING);

    machine.UnplugComPort(1);
    ASSERT_TRUE(read.completion.done());
    EXPECT_EQ(read.completion.status(), STATUS_DELETE_PENDING);
    Free(read);
    EXPECT_FALSE(kernel.LinkTarget(u"\\DosDevices\\COM1").has_value());
    EXPECT_EQ(machine.Device(u"ACPI\\PNP0501\\1")->state, DeviceState::SurpriseRemoved);

    // Later requests are refused the same way.
    Read late;
    Issue(late);
    EXPECT_EQ(late.returned, STATUS_DELETE_PENDING);
    Free(late);
    SERIAL_BAUD_RATE rate{9600};
    EXPECT_EQ(Control(IOCTL_SERIAL_SET_BAUD_RATE, &rate, sizeof rate), STATUS_DELETE_PENDING);

    // The stack goes once the handle is closed; the port can be plugged in again.
    kernel.CloseFile(file);
    file = nullptr;
    machine.WaitIdle();
    EXPECT_EQ(machine.Device(u"ACPI\\PNP0501\\1")->state, DeviceState::NotStarted);
    EXPECT_EQ(kernel.FindDevice(u"\\Device\\Serial0"), nullptr);
    machine.AddComPort(1);
    Open();
}

// Bytes fed at once skip the line: a pending read completes with the clock where it was, and
// from another thread too; with the port closed they are lost.
TEST_F(SerialPort, BytesFedAtOnceArriveWithoutTheClockMoving)
{
    port.FeedAtOnce({0x11});
    Open();
    Configure(9600);
    EXPECT_EQ(port.bytesWaiting(), 0u) << "lost before the open";
    Read read;
    Issue(read);
    EXPECT_EQ(read.returned, STATUS_PENDING);
    Ticks start = machine.Now();
    std::thread feeder([this] { port.FeedAtOnce({0xA7, 0x42}); });
    feeder.join();
    machine.WaitIdle();
    ASSERT_TRUE(read.completion.done());
    EXPECT_EQ(read.byte, 0xA7);
    EXPECT_EQ(port.bytesWaiting(), 1u);
    EXPECT_EQ(machine.Now(), start);
    Free(read);
}

TEST_F(SerialPort, ControllerBytesArriveAtTheLinePace)
{
    Open();
    Configure(9600);
    TouchController &controller = port.AttachController();
    Ticks start = machine.Now();
    controller.TouchRaw({4660, 1656});
    machine.Advance(std::chrono::milliseconds(5));
    EXPECT_EQ(port.bytesWaiting(), 4u);  // a character every 1.04 ms
    machine.Settle();
    EXPECT_EQ(machine.Now() - start, 104167);  // the tenth has just arrived
    Bytes received(10);
    ULONG_PTR count = 0;
    ASSERT_EQ(kernel.Read(file, received.data(), 10, &count), STATUS_SUCCESS);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(received, kPacket);
}

TEST_F(SerialPort, AWrongBaudRateGarblesTheBytesTheSameWayEveryTime)
{
    Open();
    port.AttachController();
    SERIAL_TIMEOUTS immediate{0xFFFFFFFF, 0, 0, 0, 0};
    auto receive = [&](ULONG baud) {
        SERIAL_LINE_CONTROL line{STOP_BIT_1, NO_PARITY, 8};
        Control(IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof line);
        SERIAL_BAUD_RATE rate{baud};
        Control(IOCTL_SERIAL_SET_BAUD_RATE, &rate, sizeof rate);
        Control(IOCTL_SERIAL_SET_TIMEOUTS, &immediate, sizeof immediate);
        port.controller().TouchRaw({4660, 1656});
        machine.Settle();
        Bytes received(32);
        ULONG_PTR count = 0;
        kernel.Read(file, received.data(), 32, &count);
        received.resize(count);
        return received;
    };
    Bytes garbled = receive(19200);
    EXPECT_NE(garbled, kPacket);
    EXPECT_FALSE(garbled.empty());
    EXPECT_EQ(receive(19200), garbled);
    EXPECT_EQ(receive(9600), kPacket);
}

TEST_F(SerialPort, ReadTimeOutsFollowTheVirtualClock)
{
    Open();
    SERIAL_TIMEOUTS immediate{0xFFFFFFFF, 0, 0, 0, 0};
    ASSERT_EQ(Control(IOCTL_SERIAL_SET_TIMEOUTS, &immediate, sizeof immediate), STATUS_SUCCESS);
    Read nothing;
    Issue(nothing);
    EXPECT_EQ(nothing.returned, STATUS_SUCCESS);
    EXPECT_EQ(nothing.completion.information(), 0u);
    Free(nothing);

    SERIAL_TIMEOUTS total{0, 0, 50, 0, 0};  // the whole read within 50 ms
    ASSERT_EQ(Control(IOCTL_SERIAL_SET_TIMEOUTS, &total, sizeof total), STATUS_SUCCESS);
    Read timed;
    Issue(timed);
    ASSERT_EQ(timed.returned, STATUS_PENDING);
    machine.Advance(std::chrono::milliseconds(49));
    EXPECT_FALSE(timed.completion.done());
    machine.Advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(timed.completion.done());
    EXPECT_EQ(timed.completion.status(), STATUS_TIMEOUT);
    Free(timed);
}

}  // namespace

namespace {

// A driver that holds the port and reads it the way the touch drivers do: one reused IRP, the
// next read issued from the completion routine, on whatever thread the port completes it.
class PortReader : public machinetest::TestMouseMachine {
protected:
    PortReader() : TestMouseMachine(Options()) { SetKnob(u"ReadPort", 1); }

    static MachineOptions Options()
    {
        MachineOptions options;
        options.comPorts = {1};
        return options;
    }

    Bytes BytesRead()
    {
        using CopyBytes = ULONG (*)(UCHAR *, ULONG);
        auto copy = reinterpret_cast<CopyBytes>(machine.DriverSymbol(u"TestMouse", "TestDriverCopyBytes"));
        Bytes bytes(256);
        bytes.resize(copy(bytes.data(), static_cast<ULONG>(bytes.size())));
        return bytes;
    }
};

TEST_F(PortReader, ReadsTheControllerAndLetsThePortGoWhenRemoved)
{
    ComPort &com1 = machine.comPort(1);
    com1.AttachController();
    ASSERT_EQ(machine.StartDevice(node), 0);
    EXPECT_TRUE(com1.open());
    com1.controller().TouchRaw({4660, 1656});
    machine.Settle();
    com1.controller().Lift();
    machine.Settle();
    Bytes expected = kPacket;
    expected.insert(expected.end(), {0x55, 0x00, 0x84, 0x34, 0x12, 0x78, 0x06, 0x00, 0x00, 0x47});
    EXPECT_EQ(BytesRead(), expected);

    // Bytes that wait before the read is issued: the read completes inside the call.
    com1.Feed({1, 2, 3});
    machine.Settle();
    EXPECT_EQ(BytesRead().size(), expected.size() + 3);

    ASSERT_EQ(machine.RemoveDevice(node), 0);  // cancels the read, closes the port
    EXPECT_FALSE(com1.open());
}

TEST_F(PortReader, UnpluggedWhileReadingTheReaderEndsAndTheStackWaitsForTheDriver)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    machine.UnplugComPort(1);
    std::string log = machinetest::TestDriverLog(machine);
    EXPECT_NE(log.find("read ended 0xC0000056 at IRQL 2"), std::string::npos) << log;
    EXPECT_EQ(machine.Device(u"ACPI\\PNP0501\\1")->state, DeviceState::SurpriseRemoved);
    // While the driver holds the old port, the same port cannot come back; the refusal says why
    // and leaves nothing changed.
    try {
        machine.AddComPort(1);
        ADD_FAILURE() << "COM1 was plugged in again while its old port was open";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find("still open"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(machine.comPort(1).present());
    ASSERT_EQ(machine.RemoveDevice(node), 0);  // the driver lets the port go
    EXPECT_EQ(machine.Device(u"ACPI\\PNP0501\\1")->state, DeviceState::NotStarted);
    machine.AddComPort(1);  // and now it arrives again
    EXPECT_TRUE(machine.comPort(1).present());
}

}  // namespace
