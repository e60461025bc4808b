// Removal under traffic, for both drivers (run under ThreadSanitizer by the host-tsan preset and
// under the kernel's verifier, which checks at every removal and unload that nothing is left):
// the COM port disappearing while a read is outstanding or bytes are on their way (a USB serial
// adapter pulled out), surprise removal and removal of the touch device while bytes flow, control
// codes from several threads meanwhile, and a program holding the control device through it all.
#include "Traffic.h"

#include <gtest/gtest.h>

using namespace reliability;

namespace {

constexpr int kRemovals = 50;

class RemovalUnderTraffic : public testing::TestWithParam<const Line *> {
protected:
    RemovalUnderTraffic() : rig(*GetParam()), traffic(rig) {}

    void ExpectDefinedStatuses()
    {
        std::vector<NTSTATUS> undefined = traffic.UndefinedStatuses();
        for (NTSTATUS status : undefined) {
            ADD_FAILURE() << "a control code got status 0x" << std::hex << status;
        }
    }

    // A COM port plugged in again, with the controller behind it.
    void Replug(unsigned number)
    {
        rig.machine.AddComPort(number);
        tapmachine::ControllerOptions controller;
        controller.protocol = rig.line.protocol;
        rig.machine.comPort(number).AttachController(controller);
        rig.machine.WaitIdle();
    }

    LineMachine rig;
    Traffic traffic;
};

// The port goes while the driver's read waits for a byte: the read ends with the port, the driver
// keeps the port referenced until it is told to close it, and a port plugged in again is opened
// on its arrival.
TEST_P(RemovalUnderTraffic, ComPortUnpluggedWithAReadOutstanding)
{
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(rig.OpenPort(), 1u);
        EXPECT_GT(rig.Tap(), 0u);
        rig.machine.UnplugComPort(1);
        rig.machine.WaitIdle();
        EXPECT_FALSE(rig.machine.comPort(1).present());
        EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
        EXPECT_EQ(rig.OpenPort(), 0u) << "the driver let the port go";
        Replug(1);
    }
    EXPECT_GT(rig.Tap(), 0u);
    ASSERT_EQ(rig.Remove(), STATUS_SUCCESS);
}

// The same with packets handed to the port just before it goes, and the touch device removed
// while the driver still holds the gone port.
TEST_P(RemovalUnderTraffic, ComPortUnpluggedWhileBytesArrive)
{
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
        tapmachine::ComPort &port = rig.machine.comPort(1);
        for (uint16_t x = 0; x < 4; ++x) {
            port.FeedAtOnce(TouchPacket(rig.line, true, static_cast<uint16_t>(100 * x), 200));
        }
        rig.machine.UnplugComPort(1);
        rig.machine.WaitIdle();
        ASSERT_EQ(rig.Remove(), STATUS_SUCCESS) << "removal with the gone port still referenced";
        Replug(1);
    }
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    EXPECT_GT(rig.Tap(), 0u);
}

TEST_P(RemovalUnderTraffic, SurpriseRemovalWhileBytesFlow)
{
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    traffic.StartFeeding();
    for (int i = 0; i < kRemovals; ++i) {
        traffic.Holding([&] {
            rig.machine.SurpriseRemoveDevice(rig.node);
            return 0;
        });
        ASSERT_FALSE(rig.Started());
        ASSERT_EQ(traffic.Holding([&] { return rig.machine.StartDevice(rig.node); }), STATUS_SUCCESS);
    }
    traffic.Stop();
    rig.machine.Settle();
    EXPECT_GT(traffic.Packets(), 0u);
    EXPECT_GT(rig.Tap(), 0u);
    ASSERT_EQ(rig.Remove(), STATUS_SUCCESS);
    EXPECT_FALSE(rig.machine.DriverLoaded(rig.line.service));
}

// Removal and stop while bytes flow and three threads send control codes, each on handles of its
// own: every request gets a defined status, and the device works afterwards.
TEST_P(RemovalUnderTraffic, RemovalAndStopWhileBytesFlowAndControlCodesComeFromSeveralThreads)
{
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    traffic.StartFeeding();
    traffic.StartControlThreads(3);
    for (int i = 0; i < kRemovals; ++i) {
        if (i % 5 == 4) {
            ASSERT_EQ(traffic.Holding([&] { return rig.machine.StopDevice(rig.node); }), STATUS_SUCCESS);
        }
        ASSERT_EQ(traffic.Holding([&] { return rig.Remove(); }), STATUS_SUCCESS);
        ASSERT_EQ(traffic.Holding([&] { return rig.machine.StartDevice(rig.node); }), STATUS_SUCCESS);
    }
    traffic.Stop();
    rig.machine.Settle();
    ExpectDefinedStatuses();
    EXPECT_GT(traffic.Requests(), 0u);
    EXPECT_GT(traffic.Statuses()[STATUS_SUCCESS], 0u);
    // The threads may have left the port closed, the right click armed or data mode on.
    rig.Control(IOCTL_TOUCH_CLOSE_PORT);
    EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_GT(rig.Tap(), 0u);
}

// A program holds the control device and sends control codes on that handle from several
// threads while the device is removed: the removal completes, the held handle's requests get
// STATUS_DELETE_PENDING, the driver stays loaded until the handle is closed, and a new device
// pair serves a new handle.
TEST_P(RemovalUnderTraffic, ProgramHoldsTheControlDeviceThroughRemoval)
{
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
        PFILE_OBJECT held = rig.OpenControlDevice();
        ASSERT_NE(held, nullptr);
        traffic.StartFeeding();
        traffic.StartControlThreads(3, held);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(traffic.Holding([&] { return rig.Remove(); }), STATUS_SUCCESS);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        traffic.Stop();
        const ULONG port = 1;
        EXPECT_EQ(LineMachine::ControlOn(held, IOCTL_TOUCH_OPEN_PORT, &port, sizeof port, 0).status,
                  STATUS_DELETE_PENDING)
            << "no device pair behind the held handle";
        EXPECT_TRUE(rig.machine.DriverLoaded(rig.line.service)) << "its control device is still held";
        rig.machine.kernel().CloseFile(held);
        rig.machine.WaitIdle();
        EXPECT_FALSE(rig.machine.DriverLoaded(rig.line.service)) << "unloaded at the last close";
    }
    ExpectDefinedStatuses();
    EXPECT_GT(traffic.Statuses()[STATUS_DELETE_PENDING], 0u);
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    EXPECT_EQ(rig.Control(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4).status, STATUS_SUCCESS);
    EXPECT_GT(rig.Tap(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, RemovalUnderTraffic, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<const Line *> &info) { return info.param->name; });

} // namespace
