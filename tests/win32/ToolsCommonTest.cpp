// The tools' shared code: the TargetDriver table, the control-device access and the 4-byte
// registry values.
#include "Win32Machine.h"

#include <tap/common/ControlDevice.h>
#include <tap/common/RegistryValues.h>
#include <tap/common/TargetDriver.h>

#include <string>

using namespace win32test;

namespace {

TEST(TargetDriverTable, NamesEachDriversDevicePathKeyAndCalibrationProgram)
{
    struct Expected {
        TargetDriverId id;
        const char *name, *path, *key, *program;
        BOOL usb, multiTouch;
        DWORD settings;
    };
    const Expected expected[] = {
        {TARGET_MONOTAP, "Monotap", "\\\\.\\MonotapSymLnk1", "SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters",
         "\\MonotapDrv\\MonoAlign.exe", FALSE, FALSE, 32},
        {TARGET_MONOUSB, "Monousb", "\\\\.\\MonousbSymLnk1", "SYSTEM\\CurrentControlSet\\Services\\Monousb\\Parameters",
         "\\MonousbDrv\\MonoAlign.exe", TRUE, FALSE, 32},
        {TARGET_POLYTAP, "Polytap", "\\\\.\\PolytapSymLnk1", "SYSTEM\\CurrentControlSet\\Services\\Polytap\\Parameters",
         "\\PolytapDrv\\PolyAlign.exe", FALSE, TRUE, 36},
        {TARGET_POLYUSB, "Polyusb", "\\\\.\\PolyusbSymLnk1", "SYSTEM\\CurrentControlSet\\Services\\Polyusb\\Parameters",
         "\\PolyusbDrv\\PolyAlign.exe", TRUE, TRUE, 36},
    };
    for (const Expected &e : expected) {
        const TargetDriver &driver = GetTargetDriver(e.id);
        EXPECT_EQ(driver.Id, e.id);
        EXPECT_STREQ(driver.Name, e.name);
        EXPECT_STREQ(driver.ControlDevicePath, e.path);
        EXPECT_STREQ(driver.ParametersKey, e.key);
        EXPECT_STREQ(driver.CalibrationProgram, e.program);
        EXPECT_EQ(driver.Usb, e.usb);
        EXPECT_EQ(driver.MultiTouch, e.multiTouch);
        EXPECT_EQ(driver.PointerSettingsSize, e.settings);
        EXPECT_EQ(&GetTargetDriver(e.multiTouch, e.usb), &driver);
    }
}

class ToolsCommon : public Win32Machine {
protected:
    // A TargetDriver whose control device is the probe.
    TargetDriver ProbeDriver() const
    {
        TargetDriver driver = GetTargetDriver(TARGET_MONOTAP);
        driver.ControlDevicePath = probe::kPath;
        return driver;
    }
};

TEST_F(ToolsCommon, OneRequestOpensSendsAndCloses)
{
    probe::SetReply({0, {1, 0, 0, 0}, 4});
    DWORD port = 3;
    DWORD armed = 0;
    EXPECT_TRUE(SendControlRequest(ProbeDriver(), kProbeCode, &port, 4, &armed, 4));
    EXPECT_EQ(armed, 1u);
    EXPECT_EQ(Majors(), (std::vector<uint8_t>{probe::Create, probe::DeviceControl, probe::Cleanup, probe::Close}));
    EXPECT_EQ(probe::Requests()[1].input, (std::vector<uint8_t>{3, 0, 0, 0}));

    probe::SetReply({static_cast<int32_t>(0xC0000001), {}, 0});
    EXPECT_FALSE(SendControlRequest(ProbeDriver(), kProbeCode, &port, 4, NULL, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));

    probe::ClearRequests();
    EXPECT_FALSE(SendControlRequest(GetTargetDriver(TARGET_MONOUSB), kProbeCode, &port, 4, NULL, 0))
        << "no USB driver on this machine";
    EXPECT_TRUE(probe::Requests().empty());
}

TEST_F(ToolsCommon, ALongLivedHandleServesManyRequests)
{
    ControlDevice device;
    DWORD returned = 7;
    EXPECT_FALSE(device.Request(kProbeCode, NULL, 0, NULL, 0, &returned)) << "not open yet";
    ASSERT_TRUE(device.Open(ProbeDriver(), FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL));
    probe::SetReply({0, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}, 12});
    uint8_t sample[12] = {};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(device.Request(kProbeCode, NULL, 0, sample, 12, &returned));
        EXPECT_EQ(returned, 12u);
    }
    HANDLE kept = device.Release();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(tapwin32::OpenHandleCount(), 1u) << "released, not closed";
    CloseHandle(kept);

    {
        ControlDevice scoped;
        ASSERT_TRUE(scoped.Open(ProbeDriver(), FILE_SHARE_READ, 0));
    }
    EXPECT_EQ(tapwin32::OpenHandleCount(), 0u) << "closed with the object";
}

TEST_F(ToolsCommon, DwordValuesAreReadOnlyWhenTheyHaveFourBytes)
{
    const std::u16string path = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";
    machine.SetDword(path, u"BeepFreq", 1000);
    machine.SetValue(path, u"BeepTime", 3 /* REG_BINARY */, {0x10, 0x20});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, GetTargetDriver(TARGET_MONOTAP).ParametersKey, &key), ERROR_SUCCESS);
    DWORD value = 55;
    EXPECT_TRUE(ReadDwordValue(key, "BeepFreq", &value));
    EXPECT_EQ(value, 1000u);
    value = 55;
    EXPECT_FALSE(ReadDwordValue(key, "BeepTime", &value)) << "two bytes";
    EXPECT_FALSE(ReadDwordValue(key, "BeepMode", &value)) << "missing";
    EXPECT_EQ(value, 55u);
    EXPECT_TRUE(WriteDwordValue(key, "BeepMode", 2));
    RegCloseKey(key);
    std::optional<tapmachine::RegistryValueRecord> stored = machine.Value(path, u"BeepMode");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, 4u);
    EXPECT_EQ(stored->data, (std::vector<uint8_t>{2, 0, 0, 0}));
}

} // namespace
