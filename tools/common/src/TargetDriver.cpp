#include <tap/common/TargetDriver.h>

#include <TapShared.h>

#define TAP_PARAMETERS_KEY(service) TAP_SERVICES_KEY_A service "\\" TAP_PARAMETERS_SUBKEY_A

namespace {

const TargetDriver kTargetDrivers[] = {
    {TARGET_MONOTAP, MONOTAP_SERVICE_NAME_A, MONOTAP_USER_PATH_A, TAP_PARAMETERS_KEY(MONOTAP_SERVICE_NAME_A),
     "\\MonotapDrv\\MonoAlign.exe", FALSE, FALSE, sizeof(MonoPointerSettings)},
    {TARGET_MONOUSB, "Monousb", "\\\\.\\MonousbSymLnk1", TAP_PARAMETERS_KEY("Monousb"),
     "\\MonousbDrv\\MonoAlign.exe", TRUE, FALSE, sizeof(MonoPointerSettings)},
    {TARGET_POLYTAP, POLYTAP_SERVICE_NAME_A, POLYTAP_USER_PATH_A, TAP_PARAMETERS_KEY(POLYTAP_SERVICE_NAME_A),
     "\\PolytapDrv\\PolyAlign.exe", FALSE, TRUE, sizeof(PolyPointerSettings)},
    {TARGET_POLYUSB, "Polyusb", "\\\\.\\PolyusbSymLnk1", TAP_PARAMETERS_KEY("Polyusb"),
     "\\PolyusbDrv\\PolyAlign.exe", TRUE, TRUE, sizeof(PolyPointerSettings)},
};

} // namespace

const TargetDriver &GetTargetDriver(TargetDriverId id)
{
    for (const TargetDriver &driver : kTargetDrivers) {
        if (driver.Id == id) {
            return driver;
        }
    }
    return kTargetDrivers[0];
}

const TargetDriver &GetTargetDriver(BOOL multiTouch, BOOL usb)
{
    if (multiTouch) {
        return GetTargetDriver(usb ? TARGET_POLYUSB : TARGET_POLYTAP);
    }
    return GetTargetDriver(usb ? TARGET_MONOUSB : TARGET_MONOTAP);
}
