// The multi-touch driver's control codes through \\.\PolytapSymLnk1 on a running machine: the
// contact-frame replies, data mode, the baud rate of the open port, the 36-byte settings, the
// probe, the raw sample and the port opened on demand.
#include "PolytapSystem.h"

#include "ControlCodeTable.h"

#include <ntddser.h>

namespace polytaptest {
namespace {

using tapmachine::kMultiTouchDown;
using tapmachine::kMultiTouchTouching;

ContactFrame FrameWithCount(uint8_t count)
{
    ContactFrame frame{};
    frame.ContactCount = count;
    return frame;
}

std::vector<uint8_t> Bytes(const ContactFrame &frame)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(&frame);
    return std::vector<uint8_t>(bytes, bytes + sizeof frame);
}

PolyPointerSettings DefaultSettings()
{
    PolyPointerSettings settings{};
    settings.MouseMode = MODE_CLICK_AND_DRAG;
    settings.Port = 1;
    settings.BaudRate = 9600;
    settings.Enable = 1;
    return settings;
}

class ControlCodeTest : public PolytapMachine {
protected:
    void SetUp() override
    {
        AttachController();
        Start();
        ASSERT_EQ(OpenPort(), 1u);
        TakeRecords();
    }

    uint32_t LastBaudRateAskedOf(unsigned port)
    {
        auto requests = ControlRequests(port, IOCTL_SERIAL_SET_BAUD_RATE);
        if (requests.empty() || requests.back().input.size() != sizeof(uint32_t)) {
            ADD_FAILURE() << "no baud rate request at COM" << port;
            return 0;
        }
        uint32_t rate = 0;
        std::memcpy(&rate, requests.back().input.data(), sizeof rate);
        return rate;
    }
};

// The control-code table that DriverProbe.exe also runs on the real driver under Wine.
TEST_F(ControlCodeTest, EveryLengthMustMatchExactly)
{
    for (const tapcontrol::ControlCodeCase &row : tapcontrol::kPolytapCodes) {
        SCOPED_TRACE(row.name);
        uint8_t input[tapcontrol::kValidInputSize];
        tapcontrol::ValidInput(row, input);
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            EXPECT_EQ(Control(row.code, "xyz", 3, 5).status, row.status);
        }
        Reply right = Control(row.code, row.input ? input : nullptr, row.input, row.output);
        EXPECT_EQ(right.status, row.status);
        EXPECT_EQ(right.information, row.information);
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            continue;
        }
        tapcontrol::LengthPair wrong[tapcontrol::kWrongLengthCount];
        tapcontrol::WrongLengths(row, wrong);
        for (const tapcontrol::LengthPair &lengths : wrong) {
            Reply reply = Control(row.code, lengths.input ? input : nullptr, lengths.input, lengths.output);
            EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << "input " << lengths.input << ", output " << lengths.output;
            EXPECT_EQ(reply.information, 0u);
        }
    }
    EXPECT_EQ(OpenPort(), 0u) << "CLOSE_PORT closed it";
    for (uint32_t code : tapcontrol::kUnknownCodes) {
        EXPECT_EQ(Control(code, nullptr, 0, 4).status, STATUS_INVALID_DEVICE_REQUEST) << std::hex << code;
    }
}

TEST_F(ControlCodeTest, ContactFrameRepliesWithDataModeOffOnAndEmpty)
{
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_DATA_MODE_OFF)));

    // Data mode needs no buffer at all.
    Reply start = Control(IOCTL_TOUCH_START_DATA_MODE);
    EXPECT_EQ(start.status, STATUS_SUCCESS);
    EXPECT_EQ(start.information, 0u);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NONE_QUEUED)));

    // Only exactly 28 bytes of output; nothing is written otherwise.
    for (ULONG size : {0u, 27u, 29u, 56u}) {
        Reply reply = Control(IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, size);
        EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << size;
        EXPECT_EQ(reply.information, 0u);
        EXPECT_EQ(reply.output, std::vector<uint8_t>(size, 0xCD)) << size;
    }
}

TEST_F(ControlCodeTest, StopThenStartLeavesTheQueueEmpty)
{
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    Feed(Packet(kMultiTouchDown, {10, 20, 0}));
    Feed(Packet(kMultiTouchTouching, {11, 21, 0}));
    Feed(Packet(kMultiTouchTouching, {12, 22, 0}));

    // Any input is ignored.
    ULONG junk = 0x12345678;
    EXPECT_EQ(Control(IOCTL_TOUCH_STOP_DATA_MODE, &junk, sizeof junk, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_DATA_MODE_OFF)));
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NONE_QUEUED)));

    // And it fills again from the next packet.
    Feed(Packet(kMultiTouchTouching, {13, 23, 0}));
    auto frames = TakeFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Contact1X, 13);
    EXPECT_EQ(frames[0].Contact1Y, 23);
}

TEST_F(ControlCodeTest, BaudRateOfTheOpenPortIsLiveAndAnsweredByThePort)
{
    machine.comPort(1).ClearRequests();
    Reply reply = ControlValue(IOCTL_TOUCH_SET_BAUD_RATE, 19200);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    ASSERT_EQ(ControlRequests(1, IOCTL_SERIAL_SET_BAUD_RATE).size(), 1u);
    EXPECT_EQ(LastBaudRateAskedOf(1), 19200u);
    EXPECT_EQ(machine.comPort(1).settings().line.baudRate, 19200u);
    EXPECT_EQ(OpenPort(), 1u) << "the reader goes on";

    // A controller at the new speed gets through.
    machine.comPort(1).controller().SetBaudRate(19200);
    machine.comPort(1).controller().TouchRaw({300, 400});
    machine.Settle();
    auto records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].lastX, AbsoluteX(300));

    // Wrong sizes are refused before the port is asked.
    machine.comPort(1).ClearRequests();
    uint8_t bytes[8] = {};
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_BAUD_RATE, bytes, 3, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_BAUD_RATE, bytes, 8, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(ControlRequests(1, IOCTL_SERIAL_SET_BAUD_RATE).empty());

    // The live setting is what the next open configures the port with.
    ASSERT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.comPort(1).ClearRequests();
    ASSERT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(LastBaudRateAskedOf(1), 19200u);
}

TEST_F(ControlCodeTest, RateThePortRefusesIsKeptAndItsFailureReturned)
{
    machine.comPort(1).ClearRequests();
    Reply reply = ControlValue(IOCTL_TOUCH_SET_BAUD_RATE, 0);
    auto asked = ControlRequests(1, IOCTL_SERIAL_SET_BAUD_RATE);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].status, STATUS_SUCCESS);
    EXPECT_EQ(reply.status, asked[0].status);
    EXPECT_EQ(machine.comPort(1).settings().line.baudRate, 9600u) << "the port kept its speed";

    // The setting holds 0: an open now configures the port with 0, which the port refuses again.
    ASSERT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.comPort(1).ClearRequests();
    EXPECT_FALSE(NT_SUCCESS(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status));
    EXPECT_EQ(LastBaudRateAskedOf(1), 0u);
    EXPECT_EQ(OpenPort(), 0u) << "a port that cannot be configured is let go";
    EXPECT_EQ(Reads(), 0u);
}

TEST_F(ControlCodeTest, BaudRateWithoutAnOpenPortIsRefused)
{
    ASSERT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.comPort(1).ClearRequests();
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_SET_BAUD_RATE, 19200).status, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(machine.comPort(1).requests().empty());

    // Nothing changed: the next open still uses 9600.
    ASSERT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(LastBaudRateAskedOf(1), 9600u);
}

TEST_F(ControlCodeTest, SettingsTakeThirtySixBytesAndIgnoreEnable)
{
    PolyPointerSettings settings = DefaultSettings();
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_SETTINGS, &settings, 32, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_SETTINGS, &settings, 0, 0).status, STATUS_INVALID_PARAMETER);

    // Port 2 at 19200, Enable 0: the port and its speed are taken, Enable is not.
    settings.Port = 2;
    settings.BaudRate = 19200;
    settings.Enable = 0;
    ASSERT_EQ(SetSettings(settings), STATUS_SUCCESS);
    ASSERT_EQ(Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 2u) << "Enable 1 still in force";
    EXPECT_EQ(machine.comPort(2).settings().line.baudRate, 19200u);
    EXPECT_GT(Reads(2), 0u);

    // Nothing went to the registry but the Enable the automatic open records.
    EXPECT_EQ(ParameterDword(u"Port"), 1u);
    EXPECT_EQ(ParameterDword(u"BaudRate"), 9600u);
    EXPECT_EQ(ParameterDword(u"Enable"), 1u);
}

TEST_F(ControlCodeTest, ProbeAnswersOne)
{
    Reply reply = Control(IOCTL_TOUCH_PROBE, nullptr, 0, 4);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.information, 4u);
    EXPECT_EQ(reply.As<ULONG>(), 1u);
    EXPECT_EQ(Control(IOCTL_TOUCH_PROBE, nullptr, 0, 8).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_TOUCH_PROBE).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_TOUCH_PROBE + 4).status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(ControlCodeTest, RawSampleIsTheFirstContactUnclampedWithRawZZero)
{
    // Contact 1 beyond the calibrated range on both axes; contact 2 elsewhere.
    Feed(Packet(kMultiTouchDown, {5000, 6000, 0}, {100, 200, 1}));
    Reply reply = Control(IOCTL_TOUCH_GET_RAW_SAMPLE, nullptr, 0, sizeof(RawSample));
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.information, sizeof(RawSample));
    RawSample sample = reply.As<RawSample>();
    EXPECT_EQ(sample.RawX, 5000u);
    EXPECT_EQ(sample.RawY, 6000u);
    EXPECT_EQ(sample.RawZ, 0u);

    // The cursor stopped at the screen's edge.
    auto records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].lastX, 65535);
    EXPECT_EQ(records[0].lastY, 65535);
}

// Enable 0 and BaudRate 19200: nothing opens by itself; the port is opened on demand.
class OpenOnDemandTest : public PolytapMachine {
protected:
    void SetUp() override
    {
        SetParameter(u"Enable", 0);
        SetParameter(u"BaudRate", 19200);
        Start();
    }
};

TEST_F(OpenOnDemandTest, OpenPortConfiguresThePortWithBaudRate)
{
    EXPECT_EQ(OpenPort(), 0u);
    ASSERT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 1u);
    tapmachine::LineFormat line = machine.comPort(1).settings().line;
    EXPECT_EQ(line.baudRate, 19200u);
    EXPECT_EQ(line.wordLength, 8);
    EXPECT_EQ(line.parity, tapmachine::kNoParity);
    EXPECT_EQ(line.stopBits, tapmachine::kOneStopBit);
    EXPECT_GT(Reads(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 0u) << "an open on demand records nothing";
}

TEST_F(OpenOnDemandTest, ContactFrameSaysNoPortOnceTheClassQueriedTheAttributes)
{
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NO_PORT)));
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NO_PORT)));

    ASSERT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NONE_QUEUED)));
}

// A mouse class that never asks for the attributes: the "no port" answer is not given.
class NoAttributesQueryTest : public PolytapMachine {
protected:
    static tapmachine::MachineOptions Options()
    {
        tapmachine::MachineOptions options;
        options.mouseClassQueriesAttributes = false;
        return options;
    }
    NoAttributesQueryTest() : PolytapMachine({1}, Options()) {}
};

TEST_F(NoAttributesQueryTest, NoPortIsNotReportedBeforeTheAttributesQuery)
{
    SetParameter(u"Enable", 0);
    Start();
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_DATA_MODE_OFF)));
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(TakeFrame()), Bytes(FrameWithCount(CONTACT_COUNT_NONE_QUEUED)));
}

}  // namespace
}  // namespace polytaptest
