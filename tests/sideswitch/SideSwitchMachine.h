// SideSwitch.exe started on a simulated PC, with or without the real Monotap driver behind a
// touchscreen on COM1, and looked at on the machine's screen.
#pragma once

#include <tapkernel/Kernel.h>  // the DDK's types, which the shared header is written in

#include <TapShared.h>

#include <machine/Machine.h>
#include <machine/PanelGeometry.h>

#include "tap/desktop/Desktop.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace sideswitchtest {

constexpr char16_t kImage[] = u"C:\\WINDOWS\\MonotapDrv\\SideSwitch.exe";
constexpr char16_t kParameters[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";

constexpr tap::desktop::Rgb kBlue = tap::desktop::MakeRgb(0, 0, 255);
constexpr tap::desktop::Rgb kWhite = tap::desktop::MakeRgb(255, 255, 255);
constexpr tap::desktop::Rgb kBlack = 0;
constexpr tap::desktop::Rgb kDialogFace = tap::desktop::MakeRgb(0xD4, 0xD0, 0xC8);

class SideSwitchMachine : public testing::Test {
protected:
    // Boots the PC; with DRIVER, Monotap reads a touchscreen on COM1 calibrated to the panel.
    // Then starts SideSwitch and finds its window.
    void Boot(bool driver)
    {
        tapmachine::MachineOptions options;
        options.comPorts = {1};
        machine = std::make_unique<tapmachine::Machine>(options);
        if (driver) {
            InstallDriver();
        }
        machine->InstallProgram(TAP_SIDESWITCH_MODULE, kImage, true);
        process = machine->StartProcess(kImage);
        machine->WaitIdle();
        auto windows = machine->windowSystem().TopLevelWindows();
        ASSERT_EQ(windows.size(), 1u);
        window = windows[0];
        id = machine->windowSystem().DesktopIdOf(window);
    }

    void InstallDriver()
    {
        machine->InstallDriverModule(TAP_MONOTAP_MODULE, u"Monotap", true);
        machine->RequirePoolTag(u"Monotap", 'vdtP');
        machine->SetDword(kParameters, u"Port", 1);
        machine->SetDword(kParameters, u"Enable", 1);
        machine->SetDword(kParameters, u"MouseMode", MODE_CLICK_AND_DRAG);
        tapmachine::IdealCalibration ideal = tapmachine::PanelGeometry{}.Calibration();
        CalibrationData calibration = {ideal.rawXStart,   ideal.rawXEnd,     ideal.rawYStart,   ideal.rawYEnd,
                                        ideal.orientation, ideal.screenWidth, ideal.screenHeight};
        std::vector<uint8_t> bytes(sizeof calibration);
        std::memcpy(bytes.data(), &calibration, sizeof calibration);
        machine->SetValue(kParameters, u"Calibration", REG_BINARY, bytes);
        machine->comPort(1).AttachController();
        ASSERT_EQ(machine->StartDevice(machine->CreateRootDevice(u"*Monotap", u"Monotap")), 0);
        machine->Settle();
        ASSERT_TRUE(machine->comPort(1).open());
    }

    tap::desktop::Rect Client() { return machine->desktop().ScreenClientRect(id); }

    tap::desktop::Rgb ClientPixel(int x, int y)
    {
        tap::desktop::Rect client = Client();
        auto lock = machine->desktop().LockScreen();
        return machine->desktop().Screen().Pixel(client.left + x, client.top + y);
    }

    bool LeftButtonShown() { return ClientPixel(5, 5) == kBlue && ClientPixel(70, 5) == kWhite; }
    bool RightButtonShown() { return ClientPixel(5, 5) == kWhite && ClientPixel(70, 5) == kBlue; }

    // A mouse click at client coordinates.
    void ClickClient(int x, int y)
    {
        tap::desktop::Rect client = Client();
        machine->Click({client.left + x, client.top + y});
    }

    // A finger tapping the screen, its packets through COM1 and the driver.
    void Tap(int x, int y)
    {
        machine->comPort(1).controller().Tap({x, y});
        machine->Settle();
    }

    void TapClient(int x, int y)
    {
        tap::desktop::Rect client = Client();
        Tap(client.left + x, client.top + y);
    }

    std::unique_ptr<tapmachine::Machine> machine;
    uint32_t process = 0;
    tap::ui::WindowHandle window = nullptr;
    tap::desktop::WindowId id = tap::desktop::kNoWindow;
};

}  // namespace sideswitchtest
