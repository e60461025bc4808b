#include "SetupLine.h"

namespace setup {

const GUID kMouseClass = {0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

namespace {

const GUID kHidClass = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

const SetupLine kLines[] = {
    {tap::setup::ProductLine::SingleTouch, OfferedType::Rs232, "Please select serial port:", "Monotap.inf",
     "*Monotap", "Monousb.inf", "HID\\VID_5C3E&PID_0001", kMouseClass, "Monotap_Install", "Monotap_Install.Services",
     "Monousb_Install", "Monousb_Install.NT.Services", "SYSTEM\\CurrentControlSet\\Services\\Monotap",
     "SYSTEM\\CurrentControlSet\\Services\\Monousb", "USB Touchscreen Driver"},
    {tap::setup::ProductLine::MultiTouch, OfferedType::Usb, "Please select port:", "Polytap.inf", "*Polytap",
     "Polyusb.inf", "USB\\VID_5C3E&PID_000F", kHidClass, "Monotap_Install", "Monotap_Install.Services",
     "Monousb_Install", "Monousb_Install.NT.Services", "SYSTEM\\CurrentControlSet\\Services\\Polytap",
     "SYSTEM\\CurrentControlSet\\Services\\Polyusb", "USB MultiTouchscreen Device"},
};

} // namespace

const SetupLine &LineOf(tap::setup::ProductLine product)
{
    return kLines[product == tap::setup::ProductLine::SingleTouch ? 0 : 1];
}

} // namespace setup
