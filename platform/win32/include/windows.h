/*
 * windows.h (host stand-in) - the user-mode API of the tools that is not user interface: basic
 * types, kernel32's files, devices and paths, the registry, and the system error codes. The
 * windows, dialogs and drawing of the tools go through their application framework instead.
 */
#ifndef _WINDOWS_
#define _WINDOWS_

#include <windef.h>
#include <winbase.h>
#include <winerror.h>
#include <winreg.h>

#endif /* _WINDOWS_ */
