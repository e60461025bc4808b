// MonoSetup and PolySetup on a fresh simulated PC: the real program modules started from the
// installation media at D:\, their wizard driven with the mouse, the real Monotap module
// installed through the Setup API and newdev.dll.
#include <machine/Machine.h>
#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "BenchInstaller.h"
#include "tap/ui/Framework.h"
#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/ui/host/Session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using tapkernel::ToUtf16;
using tapkernel::ToUtf8;

constexpr char16_t kParameters[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";
constexpr char16_t kRunOnce[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr int kNextButton = 0x3024, kFinishButton = 0x3025;
constexpr int kComboSetSelection = 0x014E; // CB_SETCURSEL

std::vector<uint8_t> Dword(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::string Text(const std::vector<uint8_t> &utf16)
{
    std::string text;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        text += static_cast<char>(utf16[i]);
    }
    return text;
}

class SetupWizard : public testing::Test {
protected:
    SetupWizard() { Boot(); }

    // A fresh machine: COM1 and COM3 with the controller on COM3, runonce, the media at D:\.
    void Boot()
    {
        owned.reset();
        owned = std::make_unique<tapmachine::Machine>(Options());
        if (media.empty()) {
            media = machine().files().root() + "-media";
        }
        machine().files().MountDrive(u'D', media);
        auto link = [this](const std::string &host, const char *name) {
            machine().files().LinkIn(host, u"D:\\" + ToUtf16(name));
        };
        if (!fs::exists(media + "/MonoSetup.exe")) {
            link(TAP_MONOSETUP_MODULE, "MonoSetup.exe");
            link(TAP_POLYSETUP_MODULE, "PolySetup.exe");
            link(TAP_MONOTAP_MODULE, "Monotap.sys");
            link(TAP_SIDESWITCH_MODULE, "SideSwitch.exe");
            link(TAP_MONOALIGN_MODULE, "MonoAlign.exe");
        }
        if (!fs::exists(media + "/Monotap.inf")) {
            link(std::string(TAP_SOURCE_DIR) + "/sys/Monotap/Monotap.inf", "Monotap.inf");
        }
        machine().InstallProgram(TAP_RUNONCE_MODULE, u"C:\\WINDOWS\\system32\\runonce.exe", true);
        machine().RequirePoolTag(u"Monotap", 0x76647450 /* 'vdtP' */);
        machine().comPort(3).AttachController();
        machine().WaitIdle();
    }
    tapmachine::Machine &machine() { return *owned; }
    ~SetupWizard() override
    {
        owned.reset();
        std::error_code ignored;
        fs::remove_all(media, ignored);
    }
    static tapmachine::MachineOptions Options()
    {
        tapmachine::MachineOptions options;
        options.comPorts = {1, 3};
        return options;
    }

    tap::ui::host::Session &windows() { return machine().windowSystem(); }

    // Starts an installer from D:\ and finds its wizard.
    void Start(const char *program)
    {
        machine().StartProcess(u"D:\\" + ToUtf16(program));
        machine().WaitIdle();
        sheet = nullptr;
        for (tap::ui::WindowHandle window : windows().TopLevelWindows()) {
            if (tap::ui::WindowRef(window).Text() == "Setup") {
                sheet = window;
            }
        }
        ASSERT_NE(sheet, nullptr) << "no wizard titled Setup (the current page's caption)";
    }

    void Click(int button)
    {
        tap::ui::Rect r = tap::ui::sys::WindowRectOf(tap::ui::sys::DialogItem(sheet, button));
        machine().Click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        machine().WaitIdle();
    }

    // Picks entry INDEX of page 1's port combo.
    void SelectPort(int index)
    {
        tap::ui::WindowHandle page = tap::ui::sys::DialogItem(sheet, 0);
        tap::ui::sys::SendTo(tap::ui::sys::DialogItem(page, 1002), kComboSetSelection, static_cast<uintptr_t>(index), 0);
        machine().WaitIdle();
    }

    std::vector<std::string> BoxTexts()
    {
        std::vector<std::string> texts;
        for (const tap::ui::host::MessageBoxRecord &box : windows().MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    void AnswerOk()
    {
        ASSERT_TRUE(windows().AnswerMessageBox(tap::ui::answer::Ok));
        machine().WaitIdle();
    }

    // COM n, Next, Next, Finish.
    void RunMonoSetup(int portIndex)
    {
        Start("MonoSetup.exe");
        SelectPort(portIndex);
        Click(kNextButton);
        Click(kNextButton);
        Click(kFinishButton);
    }

    std::optional<std::vector<uint8_t>> Parameter(const char16_t *name)
    {
        std::optional<tapmachine::RegistryValueRecord> value = machine().Value(kParameters, name);
        return value ? std::optional<std::vector<uint8_t>>(value->data) : std::nullopt;
    }

    std::unique_ptr<tapmachine::Machine> owned;
    std::string media;
    tap::ui::WindowHandle sheet = nullptr;
};

TEST_F(SetupWizard, Com3NextNextFinishInstallsMonotapWithTheDefaultsAndSchedulesTheGroupConversion)
{
    RunMonoSetup(2);
    EXPECT_TRUE(BoxTexts().empty()) << "the port test passed: " << (BoxTexts().empty() ? "" : BoxTexts()[0]);
    std::optional<tapmachine::DeviceInfo> device = machine().Device(u"ROOT\\MOUSE\\0000");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->state, tapmachine::DeviceState::Started);
    EXPECT_EQ(device->service, u"Monotap");
    EXPECT_EQ(machine().mouseClassDevices().size(), 1u);
    EXPECT_EQ(*Parameter(u"Port"), Dword(3));
    EXPECT_EQ(*Parameter(u"Enable"), Dword(1));
    EXPECT_EQ(*Parameter(u"CalibrateMargin"), Dword(2));
    EXPECT_EQ(*Parameter(u"Calibration"), std::vector<uint8_t>(28, 0));
    EXPECT_EQ(Text(*Parameter(u"OemInfPath")), std::string("C:\\WINDOWS\\inf\\oem0.inf") + '\0');
    EXPECT_EQ(Text(machine().Value(u"HKEY_CURRENT_USER\\Control Panel\\Mouse", u"DoubleClickWidth")->data),
              std::string("30") + '\0');
    EXPECT_EQ(Text(machine().Value(kRunOnce, u"GrpConv")->data), std::string("grpconv -o") + '\0');
    EXPECT_FALSE(machine().Value(kRunOnce, u"Wrapper")) << "no Setup subkey";
    bool runonce = false;
    for (const tapmachine::ProcessInfo &process : machine().processes()) {
        runonce = runonce || (process.name == "runonce" && process.commandLine == "-r");
    }
    EXPECT_TRUE(runonce);
    EXPECT_TRUE(machine().files().Exists(u"C:\\WINDOWS\\MonotapDrv\\SideSwitch.exe"));
    EXPECT_TRUE(machine().files().Exists(u"C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe"));
    EXPECT_TRUE(machine().comPort(3).open()) << "the driver holds the port it was given";

    // A tap reaches the mouse class through the installed driver.
    machine().mouse().TakeRecords();
    machine().comPort(3).controller().Tap({500, 400});
    machine().Settle();
    EXPECT_FALSE(machine().mouse().TakeRecords().empty());

    // A second run finds the driver and installs nothing.
    Start("MonoSetup.exe");
    Click(kNextButton);
    Click(kNextButton);
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{"Please first remove the exist driver, then reinstall the driver!"}));
    EXPECT_EQ(windows().MessageBoxes()[0].caption, "MonoSetup");
    AnswerOk();
    EXPECT_FALSE(machine().Device(u"ROOT\\MOUSE\\0001"));
}

TEST_F(SetupWizard, NoneSkipsThePortTestAndStoresPortElevenWithThePortNotUsable)
{
    RunMonoSetup(10);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(*Parameter(u"Port"), Dword(11));
    EXPECT_EQ(*Parameter(u"Enable"), Dword(0));
    EXPECT_FALSE(machine().comPort(3).open());
}

TEST_F(SetupWizard, APortHeldOpenOrNamedCom10IsUnusableAndTheWizardGoesOn)
{
    tapkernel::Kernel &kernel = machine().kernel();
    PFILE_OBJECT held = nullptr;
    ASSERT_EQ(kernel.OpenFile(u"\\??\\COM3", 0xC0000000, &held), 0);
    Start("MonoSetup.exe");
    SelectPort(2);
    Click(kNextButton);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"The port maybe is unusable."}));
    AnswerOk();
    kernel.CloseFile(held);
    Click(kNextButton);
    Click(kFinishButton);
    EXPECT_EQ(*Parameter(u"Port"), Dword(3));
    EXPECT_EQ(*Parameter(u"Enable"), Dword(0));

    // "COM10" is opened as listed: a file name, not the port, even on a machine with COM10.
    machine().AddComPort(10);
    Start("MonoSetup.exe");
    SelectPort(9);
    Click(kNextButton);
    EXPECT_EQ(BoxTexts().back(), "The port maybe is unusable.");
    AnswerOk();
}

TEST_F(SetupWizard, AnInfInTheStoreAlreadyAndAHardwareIdInOtherCaseAreHandledAsTheSystemDoes)
{
    machine().files().CopyIn(std::string(TAP_SOURCE_DIR) + "/sys/Monotap/Monotap.inf", u"C:\\WINDOWS\\inf\\oem4.inf");
    RunMonoSetup(2);
    EXPECT_EQ(Text(*Parameter(u"OemInfPath")), std::string("C:\\WINDOWS\\inf\\oem4.inf") + '\0')
        << "the stored copy's name, though the copy failed with ERROR_FILE_EXISTS";
    EXPECT_EQ(machine().Device(u"ROOT\\MOUSE\\0000")->state, tapmachine::DeviceState::Started);
}

TEST_F(SetupWizard, AHardwareIdDifferingInCaseCountsAsTheInstalledDriver)
{
    machine().CreateRootDevice(u"*MONOTAP", u"");
    Start("MonoSetup.exe");
    Click(kNextButton);
    Click(kNextButton);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Please first remove the exist driver, then reinstall the driver!"}));
    AnswerOk();
}

TEST_F(SetupWizard, PolySetupWithoutItsUsbDeviceFindsNothingToInstall)
{
    Start("PolySetup.exe");
    Click(kNextButton);
    Click(kNextButton);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't find the device!"}));
    EXPECT_EQ(windows().MessageBoxes()[0].caption, "PolySetup");
    AnswerOk();
    Click(kFinishButton);
    EXPECT_FALSE(machine().Value(kRunOnce, u"GrpConv")) << "nothing installed, nothing scheduled";
}

// The bench's `install monotap` runs the installer's own operations: the same registry as a real
// MonoSetup run with COM3.
TEST_F(SetupWizard, TheBenchInstallLeavesTheRegistryOfARealRun)
{
    RunMonoSetup(2);
    const std::string wizardRegistry = machine().RegistryText();
    std::vector<tapmachine::DeviceInfo> wizardDevices = machine().Devices();

    Boot(); // the same boot, the bench's way this time
    ASSERT_EQ(tapbench::InstallSerialLine(false, 3), 0u);
    machine().WaitIdle();
    EXPECT_EQ(machine().RegistryText(), wizardRegistry);
    std::vector<tapmachine::DeviceInfo> benchDevices = machine().Devices();
    ASSERT_EQ(benchDevices.size(), wizardDevices.size());
    for (size_t i = 0; i < benchDevices.size(); ++i) {
        EXPECT_EQ(benchDevices[i].instanceId, wizardDevices[i].instanceId);
        EXPECT_EQ(benchDevices[i].state, wizardDevices[i].state);
    }
}

} // namespace
