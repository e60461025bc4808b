// TEMPORARY STAND-IN, to be replaced by the Win32 stand-in of platform/win32 when it lands.
//
// Just what SideSwitch needs from <windows.h> to build on the host before the real stand-in
// exists: the basic types, CreateFileA (which always fails: no driver is reachable) and
// DeviceIoControl (which never succeeds). The lead swaps this for platform/win32 by linking
// SideSwitch against that library instead of sideswitch_win32_standin (tools/sideswitch/CMakeLists.txt).
#pragma once

#include <cstdint>

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint8_t UCHAR;
typedef uint32_t DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
