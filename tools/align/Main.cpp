// The program's entry point.
#include <windows.h>

#include "AlignApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    align::AlignApp application;
    return tap::ui::RunProgram(application, reinterpret_cast<tap::ui::ModuleHandle>(instance), showCommand);
}
