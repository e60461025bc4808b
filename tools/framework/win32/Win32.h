// Inside the Windows backend: the framework's opaque handles as the system's, and the records that
// tie a framework dialog to its window. Everything here is plain user32/gdi32/comctl32.
#pragma once

#include <windows.h>

#include <string>

#include "tap/ui/backend/System.h"

namespace tap::ui::win32 {

inline HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
inline WindowHandle Handle(HWND window) { return reinterpret_cast<WindowHandle>(window); }
inline HINSTANCE Instance(ModuleHandle module)
{
    return module ? reinterpret_cast<HINSTANCE>(module) : GetModuleHandleW(nullptr);
}
inline HDC Hdc(DeviceContextHandle dc) { return reinterpret_cast<HDC>(dc); }
inline HGDIOBJ Hgdi(GdiObjectHandle object) { return reinterpret_cast<HGDIOBJ>(object); }
inline HICON Hicon(IconHandle icon) { return reinterpret_cast<HICON>(icon); }
// The framework's UTF-16 strings are the W functions' strings: WCHAR is 16 bits on Windows.
inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Registers the common control classes the tools' templates use (up-down, trackbar, progress bar,
// the property sheet's tab control) once per process, before the first dialog or sheet.
void EnsureCommonControls();

// The dialog procedures of framework dialogs (creation parameter: the target) and property pages
// (creation parameter: the PROPSHEETPAGE whose lParam is the target). At WM_INITDIALOG they
// subclass the window so that the target sees that message and every later one as the window
// procedure would; from then on they leave everything to the dialog manager, which is what the
// target's default processing calls.
INT_PTR CALLBACK FrameworkDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FrameworkPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// True for a window one of those procedures has subclassed.
bool IsFrameworkWindow(HWND window);

} // namespace tap::ui::win32
