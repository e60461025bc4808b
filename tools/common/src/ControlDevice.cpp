#include <tap/common/ControlDevice.h>

ControlDevice::ControlDevice() : handle_(INVALID_HANDLE_VALUE) {}

ControlDevice::~ControlDevice()
{
    Close();
}

BOOL ControlDevice::Open(const TargetDriver &driver, DWORD shareMode, DWORD flagsAndAttributes)
{
    Close();
    handle_ = CreateFileA(driver.ControlDevicePath, GENERIC_READ | GENERIC_WRITE, shareMode, NULL, OPEN_EXISTING,
                          flagsAndAttributes, NULL);
    return IsOpen();
}

void ControlDevice::Close()
{
    if (IsOpen()) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

HANDLE ControlDevice::Release()
{
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
}

BOOL ControlDevice::Request(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
                            DWORD *bytesReturned) const
{
    if (!IsOpen()) {
        return FALSE;
    }
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_, code, const_cast<void *>(input), inputSize, output, outputSize, &returned, NULL);
    if (bytesReturned) {
        *bytesReturned = returned;
    }
    return ok;
}

BOOL SendControlRequest(const TargetDriver &driver, DWORD code, const void *input, DWORD inputSize, void *output,
                        DWORD outputSize)
{
    ControlDevice device;
    if (!device.Open(driver, CONTROL_DEVICE_SHARE_APPLET, CONTROL_DEVICE_FLAGS_APPLET)) {
        return FALSE;
    }
    return device.Request(code, input, inputSize, output, outputSize);
}
