// What differs between MonoSetup and PolySetup, in one table; a deliverable picks its line with one
// compile definition (SETUP_LINE = SETUP_LINE_SINGLE_TOUCH or SETUP_LINE_MULTI_TOUCH, ThisLine.cpp).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "tap/setup/DriverDefaults.h"

#define SETUP_LINE_SINGLE_TOUCH 0
#define SETUP_LINE_MULTI_TOUCH 1

namespace setup {

// The controller type the wizard offers: MonoSetup offers RS232 only, PolySetup USB only.
enum class OfferedType { Rs232, Usb };

struct SetupLine {
    tap::setup::ProductLine product;
    OfferedType offered;
    const char *portLabel;           // the static above the port combo
    const char *rs232Inf;            // Monotap.inf
    const char *rs232HardwareId;     // *Monotap
    const char *usbInf;              // Monousb.inf
    const char *usbHardwareId;       // HID\VID_5C3E&PID_0001
    GUID usbSearchClass;             // Mouse or HIDClass
    const char *rs232InstallSection; // Monotap_Install (both lines)
    const char *rs232ServicesSection;
    const char *usbInstallSection;   // Monousb_Install (both lines)
    const char *usbServicesSection;
    const char *rs232ServiceKey;     // under HKEY_LOCAL_MACHINE
    const char *usbServiceKey;
    const char *usbDriverDescription; // the compatible driver chosen on the USB device
};

// The table's entry of a product line.
const SetupLine &LineOf(tap::setup::ProductLine product);
// The line this program was built for (ThisLine.cpp, compiled with SETUP_LINE).
const SetupLine &ThisLine();

// The setup class of the root-enumerated RS232 device, and the class the RS232 check searches.
extern const GUID kMouseClass;

} // namespace setup
