// The 4-byte registry values every tool reads and writes under a driver's Parameters key.
#pragma once

#include <windows.h>

// Reads a value into a 4-byte buffer. TRUE only when the value exists and has exactly 4 bytes;
// otherwise *value keeps what it held (a missing value leaves the built-in default in force).
BOOL ReadDwordValue(HKEY key, LPCSTR name, DWORD *value);

// Writes a REG_DWORD of 4 bytes.
BOOL WriteDwordValue(HKEY key, LPCSTR name, DWORD value);
