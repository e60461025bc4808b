// The library's entry points: DllMain keeps the instance handle, CPlApplet is the one export the
// Control Panel calls.
#include <windows.h>
#include <cpl.h>

#include "PanelApp.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        panel::ThePanelApp().SetInstance(instance);
    }
    return TRUE;
}

extern "C" LONG APIENTRY CPlApplet(HWND window, UINT message, LPARAM parameter1, LPARAM parameter2)
{
    return panel::ThePanelApp().Applet(window, message, parameter1, parameter2);
}
