// The Setup API and newdev.dll of the user-mode stand-in, on a simulated PC whose drive D: holds
// installation media: the INF reader, the INF store, file queues and their notifications,
// services, device information sets, driver lists, class installer requests and the driver
// update that lets the PnP manager load the real Monotap module from its installed image.
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../platform/win32/src/setup/InfFile.h"

namespace {

namespace fs = std::filesystem;
using tapwin32::inf::InfFile;
using tapwin32::inf::ParseError;

const GUID kMouseClass = {0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr char16_t kEnum[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char16_t kServices[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

std::string Text(const std::vector<uint8_t> &data)
{
    std::string text(data.begin(), data.end());
    std::string result;
    for (size_t i = 0; i < text.size(); i += 2) {
        result += text[i];
    }
    return result;
}

// ---- The INF reader -----------------------------------------------------------------------------

TEST(InfFile, ReadsSectionsKeysQuotedFieldsStringsContinuationsAndComments)
{
    ParseError error{};
    std::optional<InfFile> inf = InfFile::Parse("; a comment before anything\n"
                                                "[Version]\r\n"
                                                "Signature = \"$Windows NT$\" ; trailing comment\n"
                                                "[Models]\n"
                                                "%Desc% = Install, *Id, \\\n"
                                                "   *Other\n"
                                                "\"key;x\" = \"a \"\"quoted\"\" ; text\", , %%50%%, %12%\\x.sys\n"
                                                "[models]\n"
                                                "Second = Other\n"
                                                "[Strings]\n"
                                                "Desc = \"The Device\"\n",
                                                &error);
    ASSERT_TRUE(inf);
    EXPECT_TRUE(inf->IsWin4());
    ASSERT_EQ(inf->sections().size(), 3u) << "[models] is [Models] again";
    const tapwin32::inf::Section *models = inf->FindSection("MODELS");
    ASSERT_NE(models, nullptr);
    ASSERT_EQ(models->lines.size(), 3u);
    EXPECT_EQ(*models->lines[0].key, "The Device");
    EXPECT_EQ(models->lines[0].fields, (std::vector<std::string>{"Install", "*Id", "*Other"}));
    EXPECT_EQ(models->lines[0].number, 5u);
    EXPECT_EQ(*models->lines[1].key, "key;x");
    EXPECT_EQ(models->lines[1].fields, (std::vector<std::string>{"a \"quoted\" ; text", "", "%50%", "%12%\\x.sys"}));
    EXPECT_EQ(tapwin32::inf::ExpandDirectoryIds("%12%\\x.sys"), "C:\\WINDOWS\\system32\\drivers\\x.sys");
    EXPECT_EQ(inf->Value("models", "second"), "Other");
}

TEST(InfFile, ReportsSyntaxErrorsWithTheirLine)
{
    ParseError error{};
    EXPECT_FALSE(InfFile::Parse("\n\nkey = value\n[Version]\n", &error));
    EXPECT_EQ(error.code, static_cast<uint32_t>(ERROR_EXPECTED_SECTION_NAME));
    EXPECT_EQ(error.line, 3u);
    EXPECT_FALSE(InfFile::Parse("[Version]\n[Broken\n", &error));
    EXPECT_EQ(error.code, static_cast<uint32_t>(ERROR_BAD_SECTION_NAME_LINE));
    EXPECT_EQ(error.line, 2u);
    std::optional<InfFile> old = InfFile::Parse("[Version]\nSignature=$Windows 3.1$\n", &error);
    ASSERT_TRUE(old);
    EXPECT_FALSE(old->IsWin4());
}

// ---- On a machine with installation media ---------------------------------------------------

class SetupApi : public testing::Test {
protected:
    SetupApi() : machine(Options())
    {
        media = machine.files().root() + "-media";
        machine.files().MountDrive(u'D', media);
        fs::copy_file(std::string(TAP_SOURCE_DIR) + "/sys/Monotap/Monotap.inf", media + "/Monotap.inf");
        fs::copy_file(std::string(TAP_SOURCE_DIR) + "/sys/Polytap/Polytap.inf", media + "/Polytap.inf");
        fs::copy_file(TAP_MONOTAP_MODULE, media + "/Monotap.sys");
        std::ofstream(media + "/SideSwitch.exe") << "a program";
        std::ofstream(media + "/MonoAlign.exe") << "the calibration program";
    }
    ~SetupApi() override
    {
        EXPECT_EQ(tapwin32::OpenHandleCount(), 0u) << "a test left a handle open";
        std::error_code ignored;
        fs::remove_all(media, ignored);
    }
    static tapmachine::MachineOptions Options()
    {
        tapmachine::MachineOptions options;
        options.comPorts = {1};
        return options;
    }

    // A root-enumerated Mouse node with this hardware ID, as the installer registers one.
    std::string RegisterRootDevice(const char *hardwareId)
    {
        HDEVINFO set = SetupDiCreateDeviceInfoList(&kMouseClass, nullptr);
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        EXPECT_TRUE(SetupDiCreateDeviceInfoA(set, "Mouse", &kMouseClass, nullptr, nullptr, DICD_GENERATE_ID, &data));
        char ids[84] = {};
        std::strncpy(ids, hardwareId, 80);
        EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, reinterpret_cast<BYTE *>(ids),
                                                      static_cast<DWORD>(std::strlen(ids) + 2)));
        EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data));
        SetupDiDestroyDeviceInfoList(set);
        std::string found;
        for (const tapmachine::DeviceInfo &device : machine.Devices()) {
            if (!device.hardwareIds.empty() && device.hardwareIds[0] == std::u16string(hardwareId, hardwareId + std::strlen(hardwareId))) {
                found = std::string(device.instanceId.begin(), device.instanceId.end());
            }
        }
        return found;
    }

    tapmachine::Machine machine;
    std::string media;
};

TEST_F(SetupApi, OpensInfFilesByTheirStyleAndClass)
{
    UINT line = 0;
    HINF inf = SetupOpenInfFileA("D:\\Monotap.inf", nullptr, INF_STYLE_WIN4, &line);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(inf);
    EXPECT_EQ(SetupOpenInfFileA("D:\\Monotap.inf", "Ports", INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    EXPECT_EQ(SetupOpenInfFileA("D:\\Missing.inf", nullptr, INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::ofstream(media + "/Old.inf") << "[Version]\nSignature=$Windows 3.1$\n";
    EXPECT_EQ(SetupOpenInfFileA("D:\\Old.inf", nullptr, INF_STYLE_WIN4, &line), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));

    GUID guid{};
    char name[84];
    DWORD required = 0;
    ASSERT_TRUE(SetupDiGetINFClassA("D:\\Monotap.inf", &guid, name, sizeof name, &required));
    EXPECT_STREQ(name, "Mouse");
    EXPECT_EQ(std::memcmp(&guid, &kMouseClass, sizeof guid), 0);
    EXPECT_FALSE(SetupDiGetINFClassA("D:\\Monotap.inf", &guid, name, 3, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u);
}

TEST_F(SetupApi, CopiesAnInfIntoTheStoreOnceUnderTheNextOemName)
{
    char name[MAX_PATH] = "";
    PSTR component = nullptr;
    ASSERT_TRUE(SetupCopyOEMInfA("D:\\Monotap.inf", nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, name, sizeof name,
                                 nullptr, &component));
    EXPECT_STREQ(name, "C:\\WINDOWS\\inf\\oem0.inf");
    EXPECT_STREQ(component, "oem0.inf");
    EXPECT_TRUE(machine.files().Exists(u"C:\\WINDOWS\\inf\\oem0.inf"));

    // The same INF again: its stored name; with SP_COPY_NOOVERWRITE a failure that still names it.
    std::memset(name, 0, sizeof name);
    EXPECT_FALSE(SetupCopyOEMInfA("D:\\Monotap.inf", nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, name, sizeof name,
                                  nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_STREQ(name, "C:\\WINDOWS\\inf\\oem0.inf");
    EXPECT_TRUE(SetupCopyOEMInfA("D:\\Monotap.inf", nullptr, SPOST_PATH, 0, name, sizeof name, nullptr, nullptr));
    EXPECT_STREQ(name, "C:\\WINDOWS\\inf\\oem0.inf");

    DWORD required = 0;
    EXPECT_FALSE(SetupCopyOEMInfA("D:\\Polytap.inf", nullptr, SPOST_PATH, 0, name, 10, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, sizeof "C:\\WINDOWS\\inf\\oem1.inf");
    EXPECT_TRUE(machine.files().Exists(u"C:\\WINDOWS\\inf\\oem1.inf")) << "copied, only the name did not fit";
}

struct Notification {
    UINT code;
    UINT_PTR second;
    std::string target;
    std::string source;
    UINT error;
};

struct Recorder {
    PVOID defaultContext;
    std::vector<Notification> seen;
};

UINT CALLBACK Record(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second)
{
    auto *recorder = static_cast<Recorder *>(context);
    Notification n{notification, second, "", "", 0};
    if (notification == SPFILENOTIFY_STARTCOPY || notification == SPFILENOTIFY_ENDCOPY ||
        notification == SPFILENOTIFY_COPYERROR) {
        auto *paths = reinterpret_cast<PFILEPATHS_A>(first);
        n.target = paths->Target;
        n.source = paths->Source;
        n.error = paths->Win32Error;
    }
    recorder->seen.push_back(n);
    return SetupDefaultQueueCallbackA(recorder->defaultContext, notification, first, second);
}

TEST_F(SetupApi, CommitsAQueueWithTheNotificationsInOrderAndCopiesTheFiles)
{
    HINF inf = SetupOpenInfFileA("D:\\Monotap.inf", nullptr, INF_STYLE_WIN4, nullptr);
    HSPFILEQ queue = SetupOpenFileQueue();
    Recorder recorder{SetupInitDefaultQueueCallbackEx(nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr), {}};
    ASSERT_TRUE(SetupInstallFilesFromInfSectionA(inf, nullptr, queue, "Monotap_Install", "D:\\", SP_COPY_NEWER));
    ASSERT_TRUE(SetupCommitFileQueueA(nullptr, queue, Record, &recorder));
    std::vector<UINT> codes;
    for (const Notification &n : recorder.seen) {
        codes.push_back(n.code);
    }
    EXPECT_EQ(codes, (std::vector<UINT>{SPFILENOTIFY_STARTQUEUE, SPFILENOTIFY_STARTSUBQUEUE, SPFILENOTIFY_STARTCOPY,
                                        SPFILENOTIFY_ENDCOPY, SPFILENOTIFY_STARTCOPY, SPFILENOTIFY_ENDCOPY,
                                        SPFILENOTIFY_STARTCOPY, SPFILENOTIFY_ENDCOPY, SPFILENOTIFY_ENDSUBQUEUE,
                                        SPFILENOTIFY_ENDQUEUE}));
    EXPECT_EQ(recorder.seen[1].second, 3u) << "the subqueue's count";
    EXPECT_EQ(recorder.seen[2].source, "D:\\Monotap.sys");
    EXPECT_EQ(recorder.seen[2].target, "C:\\WINDOWS\\system32\\drivers\\Monotap.sys");
    EXPECT_EQ(recorder.seen[4].target, "C:\\WINDOWS\\MonotapDrv\\SideSwitch.exe");
    EXPECT_EQ(machine.files().ReadText(u"C:\\WINDOWS\\MonotapDrv\\SideSwitch.exe"), "a program");
    EXPECT_EQ(recorder.seen[6].target, "C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe");

    // A source that is missing: COPYERROR with its error, which the default handling aborts on.
    fs::remove(media + "/SideSwitch.exe");
    recorder.seen.clear();
    ASSERT_TRUE(SetupInstallFilesFromInfSectionA(inf, nullptr, queue, "Monotap_Install", "D:\\", 0));
    EXPECT_FALSE(SetupCommitFileQueueA(nullptr, queue, Record, &recorder));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_GE(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[recorder.seen.size() - 2].code, static_cast<UINT>(SPFILENOTIFY_COPYERROR));
    EXPECT_EQ(recorder.seen[recorder.seen.size() - 2].error, static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(recorder.seen.back().code, static_cast<UINT>(SPFILENOTIFY_ENDQUEUE));

    SetupTermDefaultQueueCallback(recorder.defaultContext);
    SetupCloseFileQueue(queue);
    SetupCloseInfFile(inf);
}

TEST_F(SetupApi, InstallsServicesWithTheirKeyAndTheirOwnRegistrySection)
{
    HINF mono = SetupOpenInfFileA("D:\\Monotap.inf", nullptr, INF_STYLE_WIN4, nullptr);
    HINF poly = SetupOpenInfFileA("D:\\Polytap.inf", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_TRUE(SetupInstallServicesFromInfSectionA(mono, "Monotap_Install.Services", 0));
    ASSERT_TRUE(SetupInstallServicesFromInfSectionA(poly, "Monotap_Install.Services", 0));
    const std::u16string key = std::u16string(kServices) + u"Monotap";
    EXPECT_EQ(Text(machine.Value(key, u"ImagePath")->data), std::string("system32\\drivers\\Monotap.sys") + '\0');
    EXPECT_EQ(machine.Value(key, u"ImagePath")->type, static_cast<uint32_t>(REG_EXPAND_SZ));
    EXPECT_EQ(machine.Value(key, u"Type")->data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(machine.Value(key, u"Start")->data, (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(machine.Value(key, u"ErrorControl")->data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(Text(machine.Value(key, u"Group")->data), std::string("Pointer Port") + '\0');
    EXPECT_EQ(machine.Value(std::u16string(kServices) + u"Polytap\\Parameters", u"BaudRate")->data,
              (std::vector<uint8_t>{0x80, 0x25, 0, 0}));
    EXPECT_FALSE(SetupInstallServicesFromInfSectionA(mono, "No_Such.Services", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    SetupCloseInfFile(mono);
    SetupCloseInfFile(poly);
}

TEST_F(SetupApi, RegistersADeviceAndAnswersItsPropertiesAsTheInstallerAsksForThem)
{
    const std::string node = RegisterRootDevice("*Monotap");
    ASSERT_EQ(node, "ROOT\\MOUSE\\0000");
    EXPECT_EQ(RegisterRootDevice("*Other"), "ROOT\\MOUSE\\0001");

    HDEVINFO set = SetupDiGetClassDevsA(&kMouseClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    DWORD type = 0, size = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &type, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 10u) << "*Monotap and two NULs, as the installer set it";
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &type, buffer.data(), size, &size));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string("*Monotap\0\0", 10));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_SERVICE, &type, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << "no driver yet";
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 2, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "the COM port is in the Ports class";
    SetupDiDestroyDeviceInfoList(set);

    // The Ports class has the COM port, present; a node whose hardware is gone is not.
    const GUID ports = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    machine.UnplugComPort(1);
    set = SetupDiGetClassDevsA(&ports, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    SetupDiDestroyDeviceInfoList(set);
    set = SetupDiGetClassDevsA(&ports, nullptr, nullptr, DIGCF_PROFILE);
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    SetupDiDestroyDeviceInfoList(set);
}

using UpdateDriver = BOOL(WINAPI *)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);

TEST_F(SetupApi, NewdevInstallsTheDriverAndThePnpManagerLoadsItFromItsImagePath)
{
    HMODULE newdev = LoadLibraryA("newdev.dll");
    ASSERT_NE(newdev, nullptr);
    EXPECT_EQ(LoadLibraryA("C:\\WINDOWS\\system32\\NEWDEV.DLL"), newdev) << "loaded once, counted twice";
    auto update = reinterpret_cast<UpdateDriver>(
        reinterpret_cast<void (*)()>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA")));
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(GetProcAddress(newdev, "NoSuchRoutine"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    BOOL reboot = TRUE;
    EXPECT_FALSE(update(nullptr, "*Monotap", "D:\\Monotap.inf", INSTALLFLAG_FORCE, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST)) << "no node yet";

    const std::string node = RegisterRootDevice("*Monotap");
    ASSERT_TRUE(update(nullptr, "*MONOTAP", "D:\\Monotap.inf", INSTALLFLAG_FORCE, &reboot));
    EXPECT_FALSE(reboot);
    std::optional<tapmachine::DeviceInfo> device = machine.Device(u"ROOT\\MOUSE\\0000");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->state, tapmachine::DeviceState::Started);
    EXPECT_EQ(device->service, u"Monotap");
    EXPECT_TRUE(machine.DriverLoaded(u"Monotap"));
    EXPECT_TRUE(machine.files().Exists(u"C:\\WINDOWS\\system32\\drivers\\Monotap.sys"));
    EXPECT_EQ(machine.mouseClassDevices().size(), 1u) << "the class's filter once, none from the INF";
    EXPECT_FALSE(machine.Value(std::u16string(kEnum) + u"ROOT\\MOUSE\\0000", u"UpperFilters"));
    const std::string driverKey = Text(machine.Value(std::u16string(kEnum) + u"ROOT\\MOUSE\\0000", u"Driver")->data);
    EXPECT_EQ(driverKey, std::string("{4D36E96F-E325-11CE-BFC1-08002BE10318}\\0000") + '\0');
    std::vector<tapmachine::SystemEvent> events = machine.TakeSystemEvents();
    std::string log;
    for (const tapmachine::SystemEvent &event : events) {
        log += event.text + "\n";
    }
    EXPECT_NE(log.find("driver loaded Monotap system32\\drivers\\Monotap.sys\n"), std::string::npos) << log;
    EXPECT_NE(log.find("device started ROOT\\MOUSE\\0000 Monotap\n"), std::string::npos) << log;

    // The same driver again: without INSTALLFLAG_FORCE nothing to do.
    EXPECT_FALSE(update(nullptr, "*Monotap", "D:\\Monotap.inf", 0, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(update(nullptr, "*Monotap", "D:\\Monotap.inf", 0x100, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    EXPECT_TRUE(FreeLibrary(newdev));
    EXPECT_TRUE(FreeLibrary(newdev));
    EXPECT_FALSE(FreeLibrary(newdev));
    EXPECT_EQ(LoadLibraryA("nodll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("D:\\Monotap.inf"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(SetupApi, InstallsTheSelectedCompatibleDriverThroughTheClassInstaller)
{
    char stored[MAX_PATH];
    ASSERT_TRUE(SetupCopyOEMInfA("D:\\Monotap.inf", nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, stored, sizeof stored,
                                 nullptr, nullptr));
    RegisterRootDevice("*monotap");
    HDEVINFO set = SetupDiGetClassDevsA(&kMouseClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED));

    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &data, SPDIT_COMPATDRIVER)) << "from the INF store";
    SP_DRVINFO_DATA_A driver{};
    driver.cbSize = sizeof driver;
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &data, SPDIT_COMPATDRIVER, 0, &driver));
    EXPECT_STREQ(driver.Description, "Monotap Serial Touchscreen");
    EXPECT_STREQ(driver.MfgName, "Monotap");
    EXPECT_FALSE(SetupDiEnumDriverInfoA(set, &data, SPDIT_COMPATDRIVER, 1, &driver));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &data, SPDIT_COMPATDRIVER, 0, &driver));
    ASSERT_TRUE(SetupDiSetSelectedDriverA(set, &data, &driver));
    ASSERT_TRUE(SetupDiSetSelectedDevice(set, &data));

    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    params.Flags |= DI_SHOWOEM | DI_PROPERTIES_CHANGE;
    params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    std::strcpy(params.DriverPath, "D:\\");
    ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(set, &data, &params));
    std::strcpy(params.DriverPath, "D:\\Nowhere");
    EXPECT_FALSE(SetupDiSetDeviceInstallParamsA(set, &data, &params));

    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_ALLOW_INSTALL, set, &data));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &data));
    EXPECT_EQ(machine.Device(u"ROOT\\MOUSE\\0000")->state, tapmachine::DeviceState::Started);
    EXPECT_EQ(Text(machine.Value(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                 u"{4D36E96F-E325-11CE-BFC1-08002BE10318}\\0000",
                                 u"InfPath")
                       ->data),
              std::string("oem0.inf") + '\0');
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    EXPECT_FALSE(params.Flags & DI_NEEDREBOOT);
    SetupDiDestroyDriverInfoList(set, &data, SPDIT_COMPATDRIVER);
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace
