// The program's entry point.
#include <windows.h>

#include "FingerPaintApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    fingerpaint::FingerPaintApp application;
    return tap::ui::RunProgram(application, reinterpret_cast<tap::ui::ModuleHandle>(instance), showCommand);
}
