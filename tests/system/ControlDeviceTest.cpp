// The control codes the tools send to \\.\MonotapSymLnk1: one table of every code with its right
// and wrong lengths (the user-mode path of the same requests is tests/win32/MonotapControlTest),
// then what the codes change in the driver.
#include "MonotapSystem.h"

#include "ControlCodeTable.h"

#include <cstring>

using namespace monotaptest;
using tapmachine::MouseRecord;

namespace {

class ControlDevice : public MonotapMachine {
protected:
    explicit ControlDevice(std::vector<unsigned> ports = {1}) : MonotapMachine(ports)
    {
        SetParameter(u"Port", ports.front());
    }

    template <typename Record>
    Reply ControlRecord(ULONG code, const Record &record)
    {
        return Control(code, &record, sizeof record, 0);
    }

    ULONG RightClickArmed()
    {
        Reply reply = Control(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4);
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_EQ(reply.information, 4u);
        ULONG value = 0xFFFFFFFF;
        std::memcpy(&value, reply.output.data(), sizeof value);
        return value;
    }

    RawSample ReadRawSample()
    {
        Reply reply = Control(IOCTL_TOUCH_GET_RAW_SAMPLE, nullptr, 0, 12);
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_EQ(reply.information, 12u);
        RawSample sample{};
        std::memcpy(&sample, reply.output.data(), sizeof sample);
        return sample;
    }
};

// The control-code table that DriverProbe.exe also runs on the real driver under Wine.
TEST_F(ControlDevice, EveryLengthMustMatchExactly)
{
    SetParameter(u"Enable", 1);
    Start();
    for (const tapcontrol::ControlCodeCase &row : tapcontrol::kMonotapCodes) {
        SCOPED_TRACE(row.name);
        uint8_t input[tapcontrol::kValidInputSize];
        tapcontrol::ValidInput(row, input);
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            // Whatever comes with a code that takes no buffer is ignored.
            EXPECT_EQ(Control(row.code, "xyz", 3, 5).status, row.status);
        }
        Reply right = Control(row.code, row.input ? input : nullptr, row.input, row.output);
        EXPECT_EQ(right.status, row.status);
        EXPECT_EQ(right.information, row.information);
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            continue;
        }
        machine.TakeBeeps(); // the right BEEP's own
        tapcontrol::LengthPair wrong[tapcontrol::kWrongLengthCount];
        tapcontrol::WrongLengths(row, wrong);
        for (const tapcontrol::LengthPair &lengths : wrong) {
            Reply reply = Control(row.code, lengths.input ? input : nullptr, lengths.input, lengths.output);
            EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << "input " << lengths.input << ", output " << lengths.output;
            EXPECT_EQ(reply.information, 0u);
        }
        EXPECT_TRUE(machine.TakeBeeps().empty()) << "a refused request changes nothing";
        // The right lengths without the system buffer they need.
        Reply bufferless = Send(MonotapMachine::ControlDevice(), IRP_MJ_DEVICE_CONTROL, row.code, input, row.input,
                                row.output, 0, true);
        EXPECT_EQ(bufferless.status, STATUS_INVALID_PARAMETER) << "no system buffer";
    }
    EXPECT_FALSE(machine.comPort(1).open()) << "CLOSE_PORT closed it";

    // The multi-touch record and unknown codes.
    PolyPointerSettings polySettings{};
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_SET_SETTINGS, polySettings).status, STATUS_INVALID_PARAMETER);
    for (uint32_t code : tapcontrol::kUnknownCodes) {
        EXPECT_EQ(Control(code, nullptr, 0, 4).status, STATUS_INVALID_DEVICE_REQUEST) << std::hex << code;
    }
}

class ThreePorts : public ControlDevice {
protected:
    ThreePorts() : ControlDevice({2, 3, 4}) {}
};

TEST_F(ThreePorts, OpenPortTakesOneToTenAndLeavesAnOpenPortAlone)
{
    SetParameter(u"Port", 3);
    SetParameter(u"Enable", 1);
    Start();
    ASSERT_EQ(OpenPort(), 3u);
    size_t reads = ReadsIssued(3);

    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 11).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 0xFFFFFFFF).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 3).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 4).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 3u) << "the open port stays, whatever its number";
    EXPECT_EQ(ReadsIssued(3), reads) << "and its reader is left as it was";
    EXPECT_TRUE(machine.comPort(4).requests().empty());

    // The tools' way to change ports: close, then open the new one.
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 4).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 4u);
    Feed(4, Packet(0x81, 100, 100));
    EXPECT_EQ(TakeRecords().size(), 1u);

    // A port that is absent, and a port that another program holds.
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 7).status, STATUS_UNSUCCESSFUL);
    PFILE_OBJECT other = nullptr;
    ASSERT_EQ(tapkernel::Kernel::Current().OpenFile(u"\\??\\COM2", FILE_ALL_ACCESS, &other), STATUS_SUCCESS);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 2).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(OpenPort(), 2u) << "still held by the other program only";
    tapkernel::Kernel::Current().CloseFile(other);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 2).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 2u);
}

TEST_F(ControlDevice, ArmedRightClickComesOnceForTheNextTap)
{
    SetParameter(u"Enable", 1);
    Start();
    EXPECT_EQ(RightClickArmed(), 0u);
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_RIGHT_CLICK).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_RIGHT_CLICK).status, STATUS_SUCCESS);
    EXPECT_EQ(RightClickArmed(), 1u);

    Feed(1, Packet(0x81, 500, 600));
    Feed(1, Packet(0x81, 500, 600));
    Feed(1, Packet(0x84, 500, 600));
    Feed(1, Packet(0x81, 500, 600));
    std::vector<uint16_t> buttons;
    for (const MouseRecord &record : TakeRecords()) {
        buttons.push_back(record.buttonFlags);
    }
    EXPECT_EQ(buttons, (std::vector<uint16_t>{MOUSE_LEFT_BUTTON_UP, MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP, 0,
                                              MOUSE_LEFT_BUTTON_UP, MOUSE_LEFT_BUTTON_DOWN}));
    EXPECT_EQ(RightClickArmed(), 0u);
}

TEST_F(ControlDevice, CalibrationAndSettingsTakeEffectAtOnceAndLastUntilTheDeviceIsAddedAgain)
{
    SetParameter(u"Enable", 1);
    Start();
    Feed(1, Packet(0x81, 2000, 1000));
    std::vector<MouseRecord> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].lastX, 0) << "the default calibration maps nothing";

    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_SET_CALIBRATION, CalibrationData{75000, 325000, 75000, 325000, 0, 1024, 768})
                  .status,
              STATUS_SUCCESS);
    Feed(1, Packet(0x81, 2000, 1000));
    records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].lastX, 32767);
    EXPECT_EQ(records[0].lastY, 6553);
    RawSample sample = ReadRawSample();
    EXPECT_EQ(sample.RawX, 2000u);
    EXPECT_EQ(sample.RawY, 1000u);
    EXPECT_EQ(sample.RawZ, 0u);

    // Point and Click from now on; the record's Enable (0) changes nothing.
    MonoPointerSettings settings{MODE_POINT_AND_CLICK, 30, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_SET_SETTINGS, settings).status, STATUS_SUCCESS);
    Feed(1, Packet(0x81, 2100, 1100));
    EXPECT_TRUE(TakeRecords().empty()) << "a move is dropped in Point and Click";
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 1u) << "Enable still 1";

    // Added again: the registry is read, and it holds neither.
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    Start();
    Feed(1, Packet(0x84, 2000, 1000));
    Feed(1, Packet(0x81, 2100, 1100));
    records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].lastX, 0);
    EXPECT_EQ(records[1].lastY, 0);
}

TEST_F(ControlDevice, BeepSucceedsWithOrWithoutTheBeepDriver)
{
    Start();
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_BEEP, TOUCH_BEEP_REQUEST{440, 100}).status, STATUS_SUCCESS);
    std::vector<tapmachine::BeepRecord> beeps = machine.TakeBeeps();
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_EQ(beeps[0].frequency, 440u);
    EXPECT_EQ(beeps[0].duration, 100u);

    // A beep the beep driver refuses is still a successful request.
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_BEEP, TOUCH_BEEP_REQUEST{10, 100}).status, STATUS_SUCCESS);
    EXPECT_EQ(machine.TakeBeeps().size(), 1u);

    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    machine.SetBeepDriverPresent(false);
    Start();
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_BEEP, TOUCH_BEEP_REQUEST{440, 100}).status, STATUS_SUCCESS);
    EXPECT_TRUE(machine.TakeBeeps().empty());
    // The beep driver comes back: the next beep opens it.
    machine.SetBeepDriverPresent(true);
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_BEEP, TOUCH_BEEP_REQUEST{440, 100}).status, STATUS_SUCCESS);
    EXPECT_EQ(machine.TakeBeeps().size(), 1u);
}

// A tool may hold the control device open while the pair is removed, as Windows allows: the
// device stays delete-pending, its requests still reach the driver, and the driver stays loaded
// until the handle is closed.
TEST_F(ControlDevice, AHandleThatOutlivesThePairIsAnsweredSafely)
{
    SetParameter(u"Enable", 1);
    Start();
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_BEEP, TOUCH_BEEP_REQUEST{440, 100}).status, STATUS_SUCCESS);
    machine.TakeBeeps();
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    PFILE_OBJECT handle = nullptr;
    ASSERT_EQ(kernel.OpenFile(u"\\??\\MonotapSymLnk1", FILE_ALL_ACCESS, &handle), STATUS_SUCCESS);

    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
    EXPECT_FALSE(machine.comPort(1).open());
    EXPECT_TRUE(machine.DriverLoaded(u"Monotap"));

    ULONG_PTR information = 0;
    ULONG port = 1;
    EXPECT_EQ(kernel.DeviceIoControl(handle, IOCTL_TOUCH_OPEN_PORT, &port, sizeof port, nullptr, 0, &information),
              STATUS_DELETE_PENDING);
    EXPECT_FALSE(machine.comPort(1).open());
    EXPECT_EQ(kernel.DeviceIoControl(handle, IOCTL_TOUCH_CLOSE_PORT, nullptr, 0, nullptr, 0, &information),
              STATUS_SUCCESS);
    TOUCH_BEEP_REQUEST beep{440, 100};
    EXPECT_EQ(kernel.DeviceIoControl(handle, IOCTL_TOUCH_BEEP, &beep, sizeof beep, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_TRUE(machine.TakeBeeps().empty()) << "no beep device is opened for a pair that is gone";
    kernel.CloseFile(handle);
    machine.WaitIdle();
    EXPECT_FALSE(machine.DriverLoaded(u"Monotap"));
}

} // namespace
