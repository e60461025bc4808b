// The mouse class and beep drivers of the machine, and the machine's registry as a file.
#include "MachineTestSupport.h"

#include <ntddbeep.h>
#include <ntddmou.h>

#include <filesystem>

using namespace tapmachine;
using machinetest::TestDriverLog;
using machinetest::TestDriverReport;
using machinetest::TestMouseMachine;

namespace {

using MouseClass = TestMouseMachine;

TEST_F(MouseClass, ConnectsAndQueriesWhenTheDeviceStarts)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    std::vector<MouseClassDeviceInfo> devices = machine.mouseClassDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_TRUE(devices[0].connected);
    EXPECT_EQ(devices[0].connectStatus, 0);
    EXPECT_TRUE(devices[0].attributesQueried);
    EXPECT_EQ(devices[0].mouseIdentifier, MOUSE_SERIAL_HARDWARE);
    EXPECT_EQ(devices[0].numberOfButtons, 3);
    EXPECT_EQ(devices[0].sampleRate, 40);
    EXPECT_EQ(devices[0].inputDataQueueLength, 7u);
    EXPECT_NE(tapkernel::Kernel::Current().FindDevice(u"\\Device\\PointerClass0"), nullptr);
}

TEST_F(MouseClass, TheAttributeQueryCanBeLeftOut)
{
    machine.SetMouseClassQueriesAttributes(false);
    ASSERT_EQ(machine.StartDevice(node), 0);
    EXPECT_FALSE(machine.mouseClassDevices()[0].attributesQueried);
    EXPECT_TRUE(machine.mouseClassDevices()[0].connected);
    EXPECT_EQ(TestDriverLog(machine).find("query attributes"), std::string::npos);
}

TEST_F(MouseClass, ReportsMoveTheCursorAndTheButtons)
{
    ASSERT_EQ(machine.StartDevice(node), 0);
    std::vector<PointerEvent> events;
    std::mutex eventsMutex;
    machine.mouse().AddListener([&](const PointerEvent &event) {
        std::lock_guard<std::mutex> lock(eventsMutex);
        events.push_back(event);
    });

    ASSERT_TRUE(TestDriverReport(machine, 65535, 0, MOUSE_MOVE_ABSOLUTE, MOUSE_LEFT_BUTTON_DOWN));
    EXPECT_EQ(machine.mouse().cursor(), (PixelPoint{1023, 0}));
    EXPECT_TRUE(machine.mouse().buttons().left);
    ASSERT_TRUE(TestDriverReport(machine, 32768, 32768, MOUSE_MOVE_ABSOLUTE, MOUSE_LEFT_BUTTON_UP));
    EXPECT_EQ(machine.mouse().cursor(), (PixelPoint{512, 384}));
    EXPECT_FALSE(machine.mouse().buttons().left);

    std::vector<MouseRecord> records = machine.mouse().records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].flags, MOUSE_MOVE_ABSOLUTE);
    EXPECT_EQ(records[0].buttonFlags, MOUSE_LEFT_BUTTON_DOWN);
    EXPECT_EQ(records[0].lastX, 65535);
    EXPECT_EQ(records[1].lastY, 32768);
    std::lock_guard<std::mutex> lock(eventsMutex);
    EXPECT_EQ(events.size(), 4u);  // move, down, move, up
}

TEST_F(MouseClass, TheServiceBelowDispatchLevelStopsTheRun)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            machine.StartDevice(node);
            TestDriverReport(machine, 0, 0, MOUSE_MOVE_ABSOLUTE, 0, false);
        },
        "BUGCHECK in MouseClassServiceCallback");
}

TEST_F(MouseClass, ComPortInterfacesReachRegisteredDrivers)
{
    machine.AddComPort(3);
    ASSERT_EQ(machine.StartDevice(node), 0);
    // Registered with existing interfaces included: COM3 arrives at once.
    EXPECT_NE(TestDriverLog(machine).find("arrival \\??\\ACPI#PNP0501#3#"), std::string::npos);
    machine.AddComPort(4);
    EXPECT_NE(TestDriverLog(machine).find("arrival \\??\\ACPI#PNP0501#4#"), std::string::npos);
    machine.UnplugComPort(3);
    EXPECT_NE(TestDriverLog(machine).find("removal \\??\\ACPI#PNP0501#3#"), std::string::npos);
}

NTSTATUS Beep(ULONG frequency, ULONG duration)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    PFILE_OBJECT file = nullptr;
    NTSTATUS status = kernel.OpenFile(u"\\Device\\Beep", FILE_ALL_ACCESS, &file);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    BEEP_SET_PARAMETERS beep{frequency, duration};
    ULONG_PTR information = 0;
    status = kernel.DeviceIoControl(file, IOCTL_BEEP_SET, &beep, sizeof beep, nullptr, 0, &information);
    kernel.CloseFile(file);
    return status;
}

TEST(BeepDriver, RecordsEveryBeepAndCanBeAbsent)
{
    Machine machine;
    EXPECT_EQ(Beep(440, 100), STATUS_SUCCESS);
    EXPECT_EQ(Beep(10, 100), STATUS_INVALID_PARAMETER);  // below what the speaker plays
    std::vector<BeepRecord> beeps = machine.TakeBeeps();
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_EQ(beeps[0].frequency, 440u);
    EXPECT_EQ(beeps[0].duration, 100u);
    EXPECT_EQ(beeps[0].status, STATUS_SUCCESS);
    EXPECT_EQ(beeps[1].status, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(machine.beeps().empty());

    machine.SetBeepDriverPresent(false);
    EXPECT_FALSE(NT_SUCCESS(Beep(440, 100)));
    machine.SetBeepDriverPresent(true);
    EXPECT_EQ(Beep(880, 5), STATUS_SUCCESS);
}

TEST(BeepDriver, AbsentFromBoot)
{
    MachineOptions options;
    options.beepDriver = false;
    Machine machine(options);
    EXPECT_EQ(tapkernel::Kernel::Current().FindDevice(u"\\Device\\Beep"), nullptr);
    EXPECT_FALSE(NT_SUCCESS(Beep(440, 100)));
}

TEST(MachineRegistry, SavedAndLoadedWithTypesAndExactLengths)
{
    std::string file = testing::TempDir() + "machine-registry-" + std::to_string(::getpid()) + ".txt";
    const std::u16string parameters = machinetest::kServicesKey + u"Monotap\\Parameters";
    {
        Machine machine;
        machine.SetDword(parameters, u"MouseMode", 2);
        machine.SetValue(parameters, u"Calibration", kRegBinary, std::vector<uint8_t>(27, 0x11));
        machine.SetValue(parameters, u"Port", kRegDword, {1, 0, 0, 0, 0, 0, 0, 0});
        machine.SetString(u"HKCU\\Control Panel\\Mouse", u"DoubleClickWidth", u"30");
        machine.SetString(u"HKEY_USERS\\.DEFAULT\\Control Panel\\Mouse", u"DoubleClickWidth", u"4");
        machine.AddComPort(1);
        machine.SaveRegistry(file);
        // The hardware tree is made at every boot, not kept.
        EXPECT_EQ(machine.RegistryText().find("HARDWARE"), std::string::npos);
    }
    Machine machine;
    EXPECT_FALSE(machine.Value(parameters, u"MouseMode").has_value());
    machine.LoadRegistry(file);
    EXPECT_EQ(machine.Value(parameters, u"MouseMode")->data, DwordData(2));
    EXPECT_EQ(machine.Value(parameters, u"Calibration")->data.size(), 27u);
    EXPECT_EQ(machine.Value(parameters, u"Port")->type, kRegDword);
    EXPECT_EQ(machine.Value(parameters, u"Port")->data.size(), 8u);
    EXPECT_EQ(machine.Value(u"HKCU\\Control Panel\\Mouse", u"DoubleClickWidth")->data, StringData(u"30"));
    EXPECT_EQ(machine.Value(u"HKU\\.DEFAULT\\Control Panel\\Mouse", u"DoubleClickWidth")->data, StringData(u"4"));
    // The system's own entries survive, and the running ports' map too.
    EXPECT_TRUE(machine.Value(machinetest::kServicesKey + u"Serial", u"ImagePath").has_value());
    EXPECT_TRUE(machine.KeyExists(u"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"));
    std::filesystem::remove(file);
}

}  // namespace
