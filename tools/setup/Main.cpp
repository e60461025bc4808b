// The program's entry point; the installer takes no arguments.
#include <windows.h>

#include "SetupApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    setup::SetupApp application;
    return tap::ui::RunProgram(application, reinterpret_cast<tap::ui::ModuleHandle>(instance), showCommand);
}
