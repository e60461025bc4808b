// The control device of a touch driver as the tools use it: synchronous DeviceIoControl requests
// on a handle opened by path. Two ways: open, send one request and close (the Control Panel
// applet, for every request), or keep a handle for the program's life (the other tools).
#pragma once

#include <windows.h>

#include <tap/common/TargetDriver.h>

// Sharing and flags the tools open the control device with; the access is always
// GENERIC_READ | GENERIC_WRITE, the disposition OPEN_EXISTING.
#define CONTROL_DEVICE_SHARE_APPLET FILE_SHARE_READ
#define CONTROL_DEVICE_FLAGS_APPLET 0

// A handle on a control device, closed when the object goes (unless released).
class ControlDevice {
public:
    ControlDevice();
    ~ControlDevice();
    ControlDevice(const ControlDevice &) = delete;
    ControlDevice &operator=(const ControlDevice &) = delete;

    // Opens the driver's control device. On failure the object stays closed and the system's
    // error code is left for GetLastError.
    BOOL Open(const TargetDriver &driver, DWORD shareMode, DWORD flagsAndAttributes);
    void Close();
    BOOL IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }
    // Gives up the handle without closing it (a program that leaves it to its exit).
    HANDLE Release();

    // One request. FALSE when the device is not open or DeviceIoControl fails; *bytesReturned
    // (optional) receives the count the driver reported.
    BOOL Request(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
                 DWORD *bytesReturned = NULL) const;

private:
    HANDLE handle_;
};

// Opens the driver's control device as the applet does (CONTROL_DEVICE_SHARE_APPLET, no flags),
// sends one request and closes it. FALSE when the device cannot be opened (nothing is sent) or
// the request fails.
BOOL SendControlRequest(const TargetDriver &driver, DWORD code, const void *input, DWORD inputSize, void *output,
                        DWORD outputSize);
