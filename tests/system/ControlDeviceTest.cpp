// The control codes the tools send to \\.\MonotapSymLnk1: one table of every code with its right
// and wrong lengths (the user-mode path of the same requests is tests/win32/MonotapControlTest),
// then what the codes change in the driver.
#include "MonotapSystem.h"

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

TEST_F(ControlDevice, EveryLengthMustMatchExactly)
{
    SetParameter(u"Enable", 1);
    Start();
    struct Case {
        const char *name;
        ULONG code;
        ULONG input;   // the right input length
        ULONG output;  // the right output length
        NTSTATUS status;
        ULONG_PTR information;
    };
    // With the right lengths: open COM1 (already open), calibration, raw sample, settings, beep,
    // right click, data mode.
    const Case cases[] = {
        {"OPEN_PORT", IOCTL_TOUCH_OPEN_PORT, 4, 0, STATUS_SUCCESS, 0},
        {"SET_CALIBRATION", IOCTL_TOUCH_SET_CALIBRATION, 28, 0, STATUS_SUCCESS, 0},
        {"GET_RAW_SAMPLE", IOCTL_TOUCH_GET_RAW_SAMPLE, 0, 12, STATUS_SUCCESS, 12},
        {"SET_SETTINGS", IOCTL_TOUCH_SET_SETTINGS, 32, 0, STATUS_SUCCESS, 0},
        {"BEEP", IOCTL_TOUCH_BEEP, 8, 0, STATUS_SUCCESS, 0},
        {"GET_RIGHT_CLICK", IOCTL_TOUCH_GET_RIGHT_CLICK, 0, 4, STATUS_SUCCESS, 4},
        {"START_DATA_MODE", IOCTL_TOUCH_START_DATA_MODE, 0, 4, STATUS_SUCCESS, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // A record that is valid for every code that takes one: port 1, a calibration, settings
        // with the default mode, a 440 Hz beep.
        std::vector<uint8_t> input(64, 0);
        ULONG words[8] = {1, 30, 0, 0, 440, 10, 1, 1};
        if (c.code == IOCTL_TOUCH_SET_SETTINGS) {
            words[0] = MODE_CLICK_AND_DRAG;
        }
        if (c.code == IOCTL_TOUCH_BEEP) {
            words[0] = 440;
            words[1] = 10;
        }
        if (c.code == IOCTL_TOUCH_SET_CALIBRATION) {
            CalibrationData calibration{75000, 325000, 75000, 325000, 0, 1024, 768};
            std::memcpy(words, &calibration, sizeof calibration);
        }
        std::memcpy(input.data(), words, sizeof words);

        machine.TakeBeeps();
        Reply right = Control(c.code, c.input ? input.data() : nullptr, c.input, c.output);
        EXPECT_EQ(right.status, c.status);
        EXPECT_EQ(right.information, c.information);
        if (c.code == IOCTL_TOUCH_START_DATA_MODE) {
            EXPECT_EQ(right.output, (std::vector<uint8_t>{0, 0, 0, 0})) << "no data mode: 0";
        }
        if (c.code == IOCTL_TOUCH_BEEP) {
            EXPECT_EQ(machine.TakeBeeps().size(), 1u) << "sent in the caller's thread before the reply";
        }

        auto wrong = [&](ULONG inputLength, ULONG outputLength) {
            Reply reply = Control(c.code, inputLength ? input.data() : nullptr, inputLength, outputLength);
            EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << "input " << inputLength << ", output " << outputLength;
            EXPECT_EQ(reply.information, 0u);
        };
        if (c.input != 0) {
            wrong(c.input - 1, c.output);
            wrong(c.input + 1, c.output);
            wrong(0, c.output);
        } else {
            wrong(c.input, c.output - 1);
            wrong(c.input, c.output + 1);
            wrong(c.input, 0);
        }
        EXPECT_TRUE(machine.TakeBeeps().empty()) << "a refused request changes nothing";
        // The right lengths without the system buffer they need.
        Reply bufferless = Send(MonotapMachine::ControlDevice(), IRP_MJ_DEVICE_CONTROL, c.code, input.data(), c.input,
                                c.output, 0, true);
        EXPECT_EQ(bufferless.status, STATUS_INVALID_PARAMETER) << "no system buffer";
    }

    // The drawing program sends the data-mode code without a buffer.
    EXPECT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_INVALID_PARAMETER);

    // The codes that take no buffer ignore whatever comes with them.
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_RIGHT_CLICK, "xyz", 3, 5).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT, "xyz", 3, 5).status, STATUS_SUCCESS);

    // The multi-touch record, the multi-touch codes and unknown ones.
    PolyPointerSettings polySettings{};
    EXPECT_EQ(ControlRecord(IOCTL_TOUCH_SET_SETTINGS, polySettings).status, STATUS_INVALID_PARAMETER);
    const ULONG others[] = {IOCTL_TOUCH_GET_CONTACT_FRAME,
                            IOCTL_TOUCH_STOP_DATA_MODE,
                            IOCTL_TOUCH_SET_BAUD_RATE,
                            IOCTL_TOUCH_PROBE,
                            0x222000,
                            0x222034,
                            0x00010000,
                            CTL_CODE(FILE_DEVICE_MOUSE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS),
                            CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_NEITHER, FILE_ANY_ACCESS)};
    for (ULONG code : others) {
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
