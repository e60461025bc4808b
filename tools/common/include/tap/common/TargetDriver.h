// The drivers a tool can serve, and what a tool needs to reach one: its control device, its
// Parameters key and where its calibration program is installed. Each tool picks one entry,
// fixed when the tool is built.
#pragma once

#include <windows.h>

enum TargetDriverId {
    TARGET_MONOTAP = 0, // serial single-touch driver of this package
    TARGET_MONOUSB = 1, // USB single-touch driver (not part of this package)
    TARGET_POLYTAP = 2, // serial multi-touch driver of this package
    TARGET_POLYUSB = 3, // USB multi-touch driver (not part of this package)
};

struct TargetDriver {
    TargetDriverId Id;
    const char *Name;               // service name, e.g. "Monotap"
    const char *ControlDevicePath;  // for CreateFileA, e.g. "\\.\MonotapSymLnk1"
    const char *ParametersKey;      // under HKEY_LOCAL_MACHINE
    const char *CalibrationProgram; // relative to the Windows directory, e.g. "\MonotapDrv\MonoAlign.exe"
    BOOL Usb;
    BOOL MultiTouch;
    DWORD PointerSettingsSize;      // input length of IOCTL_TOUCH_SET_SETTINGS: 32 or 36 bytes
};

const TargetDriver &GetTargetDriver(TargetDriverId id);

// The driver of a line: single- or multi-touch, serial or USB.
const TargetDriver &GetTargetDriver(BOOL multiTouch, BOOL usb);
