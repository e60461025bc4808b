/*
 * newdev.h (host stand-in) - newdev.dll's driver update for Plug and Play devices. The installers
 * load newdev.dll at run time and look the routine up by name (GetProcAddress); on the simulated
 * PC it is found only that way, as nothing links against it.
 */
#ifndef _INC_NEWDEV
#define _INC_NEWDEV

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_READONLY 0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired);

#ifdef __cplusplus
}
#endif

#endif /* _INC_NEWDEV */
