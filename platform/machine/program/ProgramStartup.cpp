// The start-up code of a program module (see machine/ProgramModule.h): what runs between the
// machine starting the program and its WinMain, and after WinMain has returned.
#include <windows.h>

#include <machine/ProgramModule.h>
#include <tapwin32/UserMode.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

extern "C" __attribute__((visibility("default"))) int TapProgramStartup(const TapProgramStart *start)
{
    // The instance handle is the image's module handle: GetModuleFileNameA(hInstance) names it.
    tapwin32::Process process(start->imagePath, start->instance);
    int exitCode;
    {
        tapwin32::ProcessScope scope(process);
        exitCode = WinMain(static_cast<HINSTANCE>(start->instance), NULL, const_cast<LPSTR>(start->commandLine),
                           start->showCommand);
    }
    // ExitProcess: the handles the program left open are closed now.
    process.Exit();
    return exitCode;
}
