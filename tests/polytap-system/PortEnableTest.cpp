// The automatic port open on a COM-port arrival and the Enable value the multi-touch driver records
// of its outcome in its Parameters key.
#include "PolytapSystem.h"

#include <cstring>

#include <ntddser.h>

namespace polytaptest {
namespace {

using PortEnableTest = PolytapMachine;

TEST_F(PortEnableTest, EnableIsWrittenOneWhenTheReaderStarts)
{
    // Enable stored as four binary bytes: the driver reads it, and writes it back as a DWORD.
    machine.SetValue(kPolytapParameters, u"Enable", REG_BINARY, {1, 0, 0, 0});
    Start();
    EXPECT_EQ(OpenPort(), 1u);
    EXPECT_GT(Reads(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 1u);
}

TEST_F(PortEnableTest, EnableIsWrittenZeroWhenThePortCannotBeConfigured)
{
    machine.SetValue(kPolytapParameters, u"Enable", REG_BINARY, {1, 0, 0, 0});
    SetParameter(u"BaudRate", 0);
    Start();
    EXPECT_EQ(OpenPort(), 0u) << "the port is let go again";
    EXPECT_EQ(Reads(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 0u);
}

TEST_F(PortEnableTest, AbsentPortIsRecordedAndOpenedWhenItArrives)
{
    SetParameter(u"Port", 3);
    Start();
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 0u);

    // The configured port plugged in later: its arrival opens it, and the registry follows.
    machine.AddComPort(3);
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 3u);
    EXPECT_GT(Reads(3), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 1u);
}

TEST_F(PortEnableTest, EnableZeroOpensNothingAndWritesNothing)
{
    SetParameter(u"Enable", 0);
    machine.SetValue(kPolytapParameters, u"Enable", REG_BINARY, {0, 0, 0, 0});
    Start();
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_FALSE(ParameterDword(u"Enable").has_value()) << "still the binary value the test wrote";
}

TEST_F(PortEnableTest, EnableZeroDoesNotRestartAReaderOnAnOpenPort)
{
    SetParameter(u"Enable", 0);
    Start();

    // COM1 opened on demand, but its read request cannot be allocated: the port stays open
    // without a reader. Opening and configuring it take three requests of the driver's own.
    tapkernel::Kernel::Current().FailIrpAllocations(Module(), 3, 1);
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_EQ(OpenPort(), 1u);
    ASSERT_EQ(Reads(), 0u);

    // Another port arrives: with Enable 0 the open port gets no reader either.
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(Reads(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 0u) << "nothing recorded";

    // On demand it does.
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    EXPECT_GT(Reads(), 0u);
}

TEST_F(PortEnableTest, ABaudRateAbsentAtALaterAddDeviceIsZero)
{
    Start();
    PolyPointerSettings live{MODE_CLICK_AND_DRAG, 30, 0, 0, 0, 0, 1, 19200, 1};
    ASSERT_EQ(SetSettings(live), STATUS_SUCCESS);

    tapkernel::RegistryStore &registry = tapkernel::Kernel::Current().Registry();
    tapkernel::RegistryKeyRef parameters =
        registry.OpenKernelPath(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Polytap\\Parameters");
    ASSERT_TRUE(registry.DeleteValue(parameters, u"BaudRate"));
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    machine.comPort(1).ClearRequests();
    Start();

    // Neither the earlier load's 9600 nor the control code's 19200: the port is asked for 0,
    // refuses it and is let go.
    auto rates = ControlRequests(1, IOCTL_SERIAL_SET_BAUD_RATE);
    ASSERT_FALSE(rates.empty());
    uint32_t rate = 0xFFFFFFFF;
    ASSERT_EQ(rates.back().input.size(), sizeof rate);
    std::memcpy(&rate, rates.back().input.data(), sizeof rate);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_EQ(ParameterDword(u"Enable"), 0u);
}

TEST_F(PortEnableTest, AStopEndsReadingForGoodAndRemovalGivesThePortBack)
{
    Start();
    ASSERT_EQ(OpenPort(), 1u);
    Feed(Packet(0x01, {100, 100, 0}));
    EXPECT_EQ(TakeRecords().size(), 1u);

    EXPECT_EQ(machine.StopDevice(node), STATUS_SUCCESS);
    size_t reads = Reads();
    Feed(Packet(0x02, {200, 200, 0}));
    EXPECT_TRUE(TakeRecords().empty());
    EXPECT_EQ(ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS) << "the port is still open";
    machine.AddComPort(2);
    machine.WaitIdle();
    EXPECT_EQ(Reads(), reads) << "neither the control code nor an arrival reads again";

    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
    EXPECT_EQ(OpenPort(), 0u);
    EXPECT_FALSE(tapkernel::Kernel::Current().LinkTarget(kPolytapLink).has_value());
    PFILE_OBJECT file = nullptr;
    ASSERT_EQ(tapkernel::Kernel::Current().OpenFile(u"\\??\\COM1", FILE_ALL_ACCESS, &file), STATUS_SUCCESS)
        << "another program can open the port";
    tapkernel::Kernel::Current().CloseFile(file);
}

}  // namespace
}  // namespace polytaptest
