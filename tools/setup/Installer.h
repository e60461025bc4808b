// The installation the wizard runs: the program-wide installer state, the detection of an
// installed driver or a device, the driver installation from the INF, the device node, the
// registry defaults and the group conversion at Finish. Each operation returns a system error
// code (0 on success), which the wizard does not show.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

#include "SetupLine.h"

namespace setup {

// Page 2's progress bar as the operations step it (PBM_SETSTEP, PBM_STEPIT).
class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetStep(int step) = 0;
    virtual void StepIt() = 0;
};

struct InstallerState {
    const SetupLine *line = nullptr; // the product line being installed
    BOOL usbSelected = FALSE;
    DWORD portNumber = 0;        // combo index + 1: 1..10 COM1..COM10, 11 NONE
    DWORD portUsable = 0;        // the port test's result
    std::string installerDirectory; // the program's folder, with its trailing backslash
    std::string infPath;         // installer directory + the INF of the chosen type
    char oemInfName[260] = "";   // the INF store's name, filled by InstallFromInf
    BOOL driverInstalled = FALSE;
    BOOL rebootRequired = FALSE;
};

InstallerState &Installer();

// The folder of this program's executable, cut after the last backslash.
std::string InstallerDirectory();

// How many present devices of the class list the hardware ID (compared without case).
DWORD CountDevicesWithHardwareId(const GUID &setupClass, const char *hardwareId);

// The operations of page 2, for Installer().line; PAGE owns what they show, PROGRESS is page 2's
// progress bar.
DWORD InstallFromInf(HWND page, Progress &progress);
DWORD CreateRootDevice(Progress &progress);
DWORD UpdateUsbDevice(Progress &progress);
void WriteDriverDefaults(BOOL usbSelected);
// At Finish, when a driver was installed.
void ScheduleGroupConversion();

} // namespace setup
