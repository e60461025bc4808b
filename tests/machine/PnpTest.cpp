// The PnP manager with a driver module of its own: loading from the service's image path,
// DriverEntry, AddDevice, the PnP requests of start, stop and removal, unloading, and the leak
// checks that run on the way.
#include "MachineTestSupport.h"

#include <filesystem>

using namespace tapmachine;
using machinetest::TestDriverLog;
using machinetest::TestMouseMachine;

namespace {

constexpr int32_t kStatusDeviceBusy = static_cast<int32_t>(0x80000011);
constexpr int32_t kStatusInsufficientResources = static_cast<int32_t>(0xC000009A);
constexpr int32_t kStatusObjectNameNotFound = static_cast<int32_t>(0xC0000034);

using PnpLifecycle = TestMouseMachine;

TEST_F(PnpLifecycle, StartLoadsTheStackAndRemovalUnloadsIt)
{
    EXPECT_EQ(node, u"ROOT\\MOUSE\\0000");
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));

    ASSERT_EQ(machine.StartDevice(node), 0);
    auto info = machine.Device(node);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->state, DeviceState::Started);
    EXPECT_EQ(info->service, u"TestMouse");
    EXPECT_EQ(info->hardwareIds, std::vector<std::u16string>{u"*TestMouse"});
    EXPECT_NE(info->physicalDevice, nullptr);
    // The mouse class is the class's upper filter: loaded with it, on top of the stack.
    EXPECT_TRUE(machine.DriverLoaded(u"mouclass"));
    EXPECT_EQ(TestDriverLog(machine),
              "entry \\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\TestMouse\n"
              "add device\n"
              "pnp 0x00\n"
              "connect\n"
              "query attributes\n");

    ASSERT_EQ(machine.RemoveDevice(node), 0);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::NotStarted);
    EXPECT_EQ(machine.Device(node)->physicalDevice, nullptr);
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));
    EXPECT_FALSE(machine.DriverLoaded(u"mouclass"));

    // A new load is a new image: the log starts again.
    ASSERT_EQ(machine.StartDevice(node), 0);
    EXPECT_EQ(TestDriverLog(machine).rfind("entry ", 0), 0u);
    EXPECT_EQ(TestDriverLog(machine).find("pnp 0x02"), std::string::npos);
}

TEST_F(PnpLifecycle, RemovalSequencesReachTheDriverInOrder)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    auto after = [&](const std::string &mark) {
        std::string log = TestDriverLog(machine);
        return log.substr(log.find(mark) + mark.size());
    };

    ASSERT_EQ(machine.StopDevice(node), 0);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::Stopped);
    EXPECT_EQ(after("query attributes\n"), "pnp 0x05\npnp 0x04\n");
    ASSERT_EQ(machine.StartDevice(node), 0);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::Started);
    // No second load and no second AddDevice; the class asks the attributes again.
    EXPECT_EQ(after("pnp 0x04\n"), "pnp 0x00\nquery attributes\n");

    machine.SurpriseRemoveDevice(node);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::NotStarted);
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));
}

TEST_F(PnpLifecycle, SurpriseRemovalThenRemove)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    // Keep the driver loaded past the removal by giving it a second device.
    std::u16string second = machine.CreateRootDevice(u"*TestMouse", u"TestMouse");
    EXPECT_EQ(second, u"ROOT\\MOUSE\\0001");
    ASSERT_EQ(machine.StartDevice(second), 0);
    machine.SurpriseRemoveDevice(node);
    std::string log = TestDriverLog(machine);
    size_t surprise = log.find("pnp 0x17");
    ASSERT_NE(surprise, std::string::npos);
    EXPECT_NE(log.find("pnp 0x02", surprise), std::string::npos);
    EXPECT_TRUE(machine.DriverLoaded(u"TestMouse"));
    EXPECT_EQ(machine.Device(second)->state, DeviceState::Started);
}

TEST_F(PnpLifecycle, AVetoedRemovalLeavesTheDeviceRunning)
{
    SetKnob(u"VetoRemove", 1);
    ASSERT_EQ(machine.StartDevice(node), 0);
    EXPECT_EQ(machine.RemoveDevice(node), kStatusDeviceBusy);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::Started);
    std::string log = TestDriverLog(machine);
    EXPECT_NE(log.find("pnp 0x01\npnp 0x03\n"), std::string::npos);  // query, then cancel
    EXPECT_EQ(log.find("pnp 0x02"), std::string::npos);
}

TEST_F(PnpLifecycle, DriversThatFailToComeUpLeaveTheNodeFailed)
{
    SetKnob(u"FailAddDevice", 1);
    EXPECT_EQ(machine.StartDevice(node), kStatusInsufficientResources);
    EXPECT_EQ(machine.Device(node)->state, DeviceState::Failed);
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));

    // A service whose image is missing.
    machine.InstallService(u"Ghost");
    std::u16string ghost = machine.CreateRootDevice(u"*Ghost", u"Ghost");
    EXPECT_EQ(machine.StartDevice(ghost), kStatusObjectNameNotFound);
    EXPECT_EQ(machine.Device(ghost)->state, DeviceState::Failed);
    // A node bound to no service at all.
    std::u16string unbound = machine.CreateRootDevice(u"*Nothing", u"NoSuchService");
    EXPECT_NE(machine.StartDevice(unbound), 0);
}

TEST_F(PnpLifecycle, DeletedNodesLeaveTheRegistry)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    machine.DeleteDevice(node);
    EXPECT_FALSE(machine.Device(node).has_value());
    EXPECT_FALSE(machine.KeyExists(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\MOUSE\\0000"));
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));
}

using PnpLeakCheck = TestMouseMachine;

TEST_F(PnpLeakCheck, PoolLeftAtRemovalStopsTheRun)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SetKnob(u"LeakAtRemove", 1);
    // Started inside the statement: the machine of the test itself must not hold the leak.
    EXPECT_DEATH(
        {
            machine.StartDevice(node);
            machine.RemoveDevice(node);
        },
        "BUGCHECK in device removal .leak check.: TestMouse still holds");
}

// TestMouse with a control device that the test opens like a tool and may hold past the removal.
class PnpHeldControlDevice : public TestMouseMachine {
protected:
    PnpHeldControlDevice() { SetKnob(u"ControlDevice", 1); }

    PFILE_OBJECT Open()
    {
        PFILE_OBJECT file = nullptr;
        EXPECT_EQ(machine.kernel().OpenFile(u"\\??\\TestMouseControl", FILE_ALL_ACCESS, &file), STATUS_SUCCESS);
        return file;
    }

    NTSTATUS Control(PFILE_OBJECT file)
    {
        ULONG_PTR information = 0;
        return machine.kernel().DeviceIoControl(file, kCode, nullptr, 0, nullptr, 0, &information);
    }

    static size_t Count(const std::string &log, const std::string &line)
    {
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
            ++count;
        }
        return count;
    }

    static constexpr ULONG kCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
};

TEST_F(PnpHeldControlDevice, TheDriverStaysLoadedUntilTheLastHandleOnItsDeletedDeviceCloses)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    PFILE_OBJECT first = Open();
    PFILE_OBJECT second = Open();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Control(first), STATUS_SUCCESS);

    ASSERT_EQ(machine.RemoveDevice(node), 0);
    EXPECT_TRUE(machine.DriverLoaded(u"TestMouse")) << "a device object of it still exists";
    EXPECT_FALSE(machine.DriverLoaded(u"mouclass")) << "nothing holds the class driver";
    PFILE_OBJECT late = nullptr;
    EXPECT_EQ(machine.kernel().OpenFile(u"\\??\\TestMouseControl", FILE_ALL_ACCESS, &late),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Control(first), STATUS_DELETE_PENDING) << "requests on an open handle still reach the driver";

    machine.kernel().CloseFile(first);
    machine.WaitIdle();
    ASSERT_TRUE(machine.DriverLoaded(u"TestMouse")) << "one handle is still open";
    std::string log = TestDriverLog(machine);
    EXPECT_NE(log.find("control request\ncontrol cleanup\ncontrol close\n"), std::string::npos);
    EXPECT_EQ(log.find("unload"), std::string::npos);

    machine.kernel().CloseFile(second);
    machine.WaitIdle();
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));
}

TEST_F(PnpHeldControlDevice, ANewStartWhileTheOldDeviceIsHeldOpenUsesTheLoadedImage)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    PFILE_OBJECT old = Open();
    ASSERT_EQ(machine.RemoveDevice(node), 0);

    ASSERT_EQ(machine.StartDevice(node), 0);
    std::string log = TestDriverLog(machine);
    EXPECT_EQ(Count(log, "entry "), 1u) << "no second load";
    EXPECT_EQ(Count(log, "add device\n"), 2u);
    EXPECT_EQ(log.find("control device failed"), std::string::npos) << "the old device's name went at its deletion";
    PFILE_OBJECT fresh = Open();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->DeviceObject, old->DeviceObject);
    EXPECT_EQ(Control(fresh), STATUS_SUCCESS);
    EXPECT_EQ(Control(old), STATUS_DELETE_PENDING);

    machine.kernel().CloseFile(old);
    machine.WaitIdle();
    EXPECT_TRUE(machine.DriverLoaded(u"TestMouse")) << "the new stack uses it";
    machine.kernel().CloseFile(fresh);
    ASSERT_EQ(machine.RemoveDevice(node), 0);
    EXPECT_FALSE(machine.DriverLoaded(u"TestMouse"));
}

// Shutdown closes a handle left open, as the end of its process would, before the drivers are
// unloaded: otherwise the unload leak check would find the control device and stop the run.
TEST(PnpShutdown, HandlesLeftOpenAreClosedBeforeTheDriversAreUnloaded)
{
    for (bool removed : {false, true}) {
        SCOPED_TRACE(removed ? "on a removed device" : "on a started device");
        Machine machine;
        machine.InstallDriverModule(TAP_TEST_MOUSE_DRIVER, u"TestMouse");
        machine.SetDword(machinetest::kServicesKey + u"TestMouse\\Parameters", u"ControlDevice", 1);
        std::u16string node = machine.CreateRootDevice(u"*TestMouse", u"TestMouse");
        ASSERT_EQ(machine.StartDevice(node), 0);
        PFILE_OBJECT file = nullptr;
        ASSERT_EQ(machine.kernel().OpenFile(u"\\??\\TestMouseControl", FILE_ALL_ACCESS, &file), STATUS_SUCCESS);
        if (removed) {
            ASSERT_EQ(machine.RemoveDevice(node), 0);
            EXPECT_TRUE(machine.DriverLoaded(u"TestMouse"));
        }
    }
}

TEST(PnpBoot, ARegistryFileBringsItsDevicesUp)
{
    std::string folder = testing::TempDir() + "pnp-boot-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/c");
    std::string registryFile = folder + "/registry.txt";
    {
        MachineOptions options;
        options.driveC = folder + "/c";
        Machine machine(options);
        machine.InstallDriverModule(TAP_TEST_MOUSE_DRIVER, u"TestMouse", /*link=*/true);
        machine.CreateRootDevice(u"*TestMouse", u"TestMouse");
        machine.SaveRegistry(registryFile);
    }
    MachineOptions options;
    options.driveC = folder + "/c";
    options.registryFile = registryFile;
    Machine machine(options);
    EXPECT_TRUE(machine.DriverLoaded(u"TestMouse"));
    EXPECT_EQ(machine.Device(u"ROOT\\MOUSE\\0000")->state, DeviceState::Started);
    std::filesystem::remove_all(folder);
}

}  // namespace
