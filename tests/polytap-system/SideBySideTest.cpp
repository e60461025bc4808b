// Both touch drivers on one machine: Monotap for a single-touch panel on COM1, Polytap for a
// multi-touch panel on COM2. Each is its own loaded module with its own control device and its
// own driver-wide records.
#include "PolytapSystem.h"

namespace polytaptest {
namespace {

using tapmachine::MouseRecord;

CalibrationData HalfScaleCalibration()
{
    // Two raw units per pixel: raw 2048 is the right edge.
    return CalibrationData{0, 2048 * 100, 0, 1536 * 100, 0, 1024, 768};
}

class SideBySideTest : public PolytapMachine {
protected:
    SideBySideTest() : PolytapMachine({1, 2})
    {
        SetParameter(u"Port", 2);
        machine.InstallDriverModule(MONOTAP_MODULE, u"Monotap");
        machine.RequirePoolTag(u"Monotap", kPoolTag);
        monotapNode = machine.CreateRootDevice(u"*Monotap", u"Monotap");
        machine.SetDword(kMonotapParameters, u"Port", 1);
        machine.SetDword(kMonotapParameters, u"Enable", 1);
        CalibrationData calibration = PixelCalibration();
        std::vector<uint8_t> data(sizeof calibration);
        std::memcpy(data.data(), &calibration, sizeof calibration);
        machine.SetValue(kMonotapParameters, u"Calibration", REG_BINARY, data);
    }

    void SetUp() override
    {
        machine.comPort(1).AttachController();  // single-touch
        AttachController(2);
        ASSERT_EQ(machine.StartDevice(monotapNode), STATUS_SUCCESS);
        Start();
        TakeRecords();
    }

    Reply Monotap(ULONG code, const void *input, ULONG inputLength, ULONG outputLength)
    {
        return ControlRequest(machine, kMonotapLink, code, input, inputLength, outputLength);
    }

    // One touch at a raw position on each panel; the records each produced.
    std::vector<MouseRecord> SingleTouchTap(uint16_t rawX, uint16_t rawY)
    {
        machine.comPort(1).controller().TouchRaw({rawX, rawY});
        machine.comPort(1).controller().Lift();
        machine.Settle();
        return TakeRecords();
    }
    std::vector<MouseRecord> MultiTouchTap(uint16_t rawX, uint16_t rawY)
    {
        machine.comPort(2).controller().TouchRaw({rawX, rawY});
        machine.comPort(2).controller().Lift();
        machine.Settle();
        return TakeRecords();
    }

    RawSample ReadRawSample(const std::u16string &link)
    {
        return ControlRequest(machine, link, IOCTL_TOUCH_GET_RAW_SAMPLE, nullptr, 0, sizeof(RawSample))
            .As<RawSample>();
    }

    std::u16string monotapNode;
};

TEST_F(SideBySideTest, EachDriverHasItsControlDeviceAndItsPort)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    EXPECT_NE(kernel.FindDevice(u"\\Device\\Monotap0"), nullptr);
    EXPECT_NE(kernel.FindDevice(u"\\Device\\Polytap0"), nullptr);
    EXPECT_EQ(kernel.LinkTarget(kMonotapLink), std::u16string(u"\\Device\\Monotap0"));
    EXPECT_EQ(kernel.LinkTarget(kPolytapLink), std::u16string(u"\\Device\\Polytap0"));
    EXPECT_EQ(machine.Device(monotapNode)->state, tapmachine::DeviceState::Started);
    EXPECT_EQ(machine.Device(node)->state, tapmachine::DeviceState::Started);
    EXPECT_TRUE(machine.comPort(1).open());
    EXPECT_TRUE(machine.comPort(2).open());

    // Only the multi-touch driver knows the probe and takes 36-byte settings.
    EXPECT_EQ(Monotap(IOCTL_TOUCH_PROBE, nullptr, 0, 4).status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Control(IOCTL_TOUCH_PROBE, nullptr, 0, 4).status, STATUS_SUCCESS);
    PolyPointerSettings settings{};
    settings.MouseMode = MODE_CLICK_AND_DRAG;
    settings.Port = 2;
    settings.BaudRate = 9600;
    EXPECT_EQ(Monotap(IOCTL_TOUCH_SET_SETTINGS, &settings, 36, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_TOUCH_SET_SETTINGS, &settings, 32, 0).status, STATUS_INVALID_PARAMETER);
}

TEST_F(SideBySideTest, CalibrationSentToOneLeavesTheOtherAlone)
{
    CalibrationData half = HalfScaleCalibration();
    ASSERT_EQ(Control(IOCTL_TOUCH_SET_CALIBRATION, &half, sizeof half, 0).status, STATUS_SUCCESS);

    auto single = SingleTouchTap(512, 384);
    ASSERT_FALSE(single.empty());
    EXPECT_EQ(single[0].lastX, AbsoluteX(512)) << "Monotap keeps the pixel calibration";
    EXPECT_EQ(single[0].lastY, AbsoluteY(384));

    auto multi = MultiTouchTap(1024, 768);
    ASSERT_FALSE(multi.empty());
    EXPECT_EQ(multi[0].lastX, 32767) << "Polytap maps with the half-scale calibration";
    EXPECT_EQ(multi[0].lastY, 32767);

    // And the other way round.
    ASSERT_EQ(Monotap(IOCTL_TOUCH_SET_CALIBRATION, &half, sizeof half, 0).status, STATUS_SUCCESS);
    CalibrationData pixel = PixelCalibration();
    ASSERT_EQ(Control(IOCTL_TOUCH_SET_CALIBRATION, &pixel, sizeof pixel, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(SingleTouchTap(1024, 768)[0].lastX, 32767);
    EXPECT_EQ(MultiTouchTap(512, 384)[0].lastX, AbsoluteX(512));
}

TEST_F(SideBySideTest, SettingsRawSamplesAndRightClickAreEachDriversOwn)
{
    // Point and Click in Monotap reports only the touch and the lift; Polytap stays in Click and
    // Drag and reports every packet.
    MonoPointerSettings mono{};
    mono.MouseMode = MODE_POINT_AND_CLICK;
    mono.Port = 1;
    mono.Enable = 1;
    ASSERT_EQ(Monotap(IOCTL_TOUCH_SET_SETTINGS, &mono, sizeof mono, 0).status, STATUS_SUCCESS);

    machine.comPort(2).controller().TouchRaw({100, 100});
    machine.comPort(2).controller().MoveRaw({150, 150});
    machine.comPort(2).controller().Lift();
    machine.Settle();
    EXPECT_EQ(TakeRecords().size(), 3u);
    machine.comPort(1).controller().TouchRaw({100, 100});
    machine.comPort(1).controller().MoveRaw({150, 150});
    machine.comPort(1).controller().Lift();
    machine.Settle();
    EXPECT_EQ(TakeRecords().size(), 2u);

    SingleTouchTap(700, 600);
    MultiTouchTap(300, 200);
    RawSample single = ReadRawSample(kMonotapLink);
    RawSample multi = ReadRawSample(kPolytapLink);
    EXPECT_EQ(single.RawX, 700u);
    EXPECT_EQ(single.RawY, 600u);
    EXPECT_EQ(multi.RawX, 300u);
    EXPECT_EQ(multi.RawY, 200u);
    EXPECT_EQ(multi.RawZ, 0u);

    ASSERT_EQ(Monotap(IOCTL_TOUCH_SET_RIGHT_CLICK, nullptr, 0, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Monotap(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4).As<ULONG>(), 1u);
    EXPECT_EQ(Control(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4).As<ULONG>(), 0u);
}

}  // namespace
}  // namespace polytaptest
