// Types, record layouts and control-code macros of the Win32 headers, asserted the same way for
// the real headers (compiled by the cross compiler in the header conformance test) and for the
// host stand-in's (compiled into the tests). Pointer-sized records are checked against the
// pointer size, so the host's layout is the 64-bit Windows one and the real header's the 32-bit one.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <stddef.h>
#include <type_traits>

#define TAP_PROBE_TYPE(type, size, isSigned) \
    static_assert(sizeof(type) == (size) && std::is_signed<type>::value == (isSigned), #type)

TAP_PROBE_TYPE(CHAR, 1, true);
TAP_PROBE_TYPE(BYTE, 1, false);
TAP_PROBE_TYPE(UCHAR, 1, false);
TAP_PROBE_TYPE(BOOLEAN, 1, false);
TAP_PROBE_TYPE(SHORT, 2, true);
TAP_PROBE_TYPE(WORD, 2, false);
TAP_PROBE_TYPE(USHORT, 2, false);
TAP_PROBE_TYPE(WCHAR, 2, false);
TAP_PROBE_TYPE(INT, 4, true);
TAP_PROBE_TYPE(UINT, 4, false);
TAP_PROBE_TYPE(BOOL, 4, true);
TAP_PROBE_TYPE(LONG, 4, true);
TAP_PROBE_TYPE(ULONG, 4, false);
TAP_PROBE_TYPE(DWORD, 4, false);
TAP_PROBE_TYPE(LSTATUS, 4, true);
TAP_PROBE_TYPE(REGSAM, 4, false);
TAP_PROBE_TYPE(ACCESS_MASK, 4, false);
TAP_PROBE_TYPE(LONGLONG, 8, true);
TAP_PROBE_TYPE(ULONGLONG, 8, false);
TAP_PROBE_TYPE(LONG_PTR, sizeof(void *), true);
TAP_PROBE_TYPE(ULONG_PTR, sizeof(void *), false);
TAP_PROBE_TYPE(DWORD_PTR, sizeof(void *), false);
TAP_PROBE_TYPE(UINT_PTR, sizeof(void *), false);
TAP_PROBE_TYPE(INT_PTR, sizeof(void *), true);
TAP_PROBE_TYPE(SIZE_T, sizeof(void *), false);

static_assert(std::is_pointer<HANDLE>::value && std::is_pointer<HKEY>::value && std::is_pointer<HMODULE>::value,
              "handles are pointers");
static_assert(std::is_same<HMODULE, HINSTANCE>::value, "HMODULE is HINSTANCE");
static_assert(!std::is_same<HKEY, HANDLE>::value && !std::is_same<HKEY, HMODULE>::value, "STRICT handle types");
static_assert(std::is_same<PHKEY, HKEY *>::value && std::is_same<LPDWORD, DWORD *>::value &&
                  std::is_same<LPBYTE, BYTE *>::value && std::is_same<LPCSTR, const CHAR *>::value &&
                  std::is_same<LPSTR, CHAR *>::value && std::is_same<LPVOID, void *>::value &&
                  std::is_same<LPCVOID, const void *>::value,
              "pointer types");

static_assert(offsetof(SECURITY_ATTRIBUTES, nLength) == 0 &&
                  offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor) == sizeof(void *) &&
                  offsetof(SECURITY_ATTRIBUTES, bInheritHandle) == 2 * sizeof(void *) &&
                  sizeof(SECURITY_ATTRIBUTES) == 3 * sizeof(void *),
              "SECURITY_ATTRIBUTES");
static_assert(offsetof(OVERLAPPED, Internal) == 0 && offsetof(OVERLAPPED, InternalHigh) == sizeof(void *) &&
                  offsetof(OVERLAPPED, Offset) == 2 * sizeof(void *) &&
                  offsetof(OVERLAPPED, OffsetHigh) == 2 * sizeof(void *) + 4 &&
                  offsetof(OVERLAPPED, Pointer) == 2 * sizeof(void *) &&
                  offsetof(OVERLAPPED, hEvent) == 2 * sizeof(void *) + 8 &&
                  sizeof(OVERLAPPED) == 3 * sizeof(void *) + 8,
              "OVERLAPPED");

static_assert(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS) == 0x222004, "CTL_CODE");
static_assert(CTL_CODE(FILE_DEVICE_SERIAL_PORT, 3, METHOD_BUFFERED, FILE_ANY_ACCESS) == 0x1B000C, "CTL_CODE");
static_assert(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x8FF, METHOD_NEITHER, FILE_READ_ACCESS | FILE_WRITE_ACCESS) ==
                  0x22E3FF,
              "CTL_CODE");
static_assert(DEVICE_TYPE_FROM_CTL_CODE(0x222010) == FILE_DEVICE_UNKNOWN && METHOD_FROM_CTL_CODE(0x22E3FF) == 3,
              "control-code fields");

static_assert(INFINITE == 0xFFFFFFFF && STILL_ACTIVE == 259 && WAIT_OBJECT_0 == 0 && WAIT_TIMEOUT == 258 &&
                  WAIT_FAILED == 0xFFFFFFFF && CREATE_SUSPENDED == 4,
              "thread and wait constants");
static_assert(std::is_same<decltype(&CreateThread), HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, SIZE_T,
                                                                     LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                                                     LPDWORD)>::value &&
                  std::is_same<LPTHREAD_START_ROUTINE, DWORD(WINAPI *)(LPVOID)>::value &&
                  std::is_same<decltype(&WaitForSingleObject), DWORD(WINAPI *)(HANDLE, DWORD)>::value &&
                  std::is_same<decltype(&GetExitCodeThread), BOOL(WINAPI *)(HANDLE, LPDWORD)>::value,
              "thread routines");
