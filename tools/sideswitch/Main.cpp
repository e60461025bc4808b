// The program's entry point.
#include <windows.h>

#include "SideSwitchApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    sideswitch::SideSwitchApp application;
    return tap::ui::RunProgram(application, reinterpret_cast<tap::ui::ModuleHandle>(instance), showCommand);
}
