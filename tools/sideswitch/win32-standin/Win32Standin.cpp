// TEMPORARY STAND-IN (see windows.h beside this file): no device can be opened.
#include "windows.h"

// Counts the calls, so that tests can see that nothing was sent to a driver.
int g_standinDeviceIoControlCalls = 0;

HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    return INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    ++g_standinDeviceIoControlCalls;
    return 0;
}
