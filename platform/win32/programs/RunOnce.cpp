// The system's runonce.exe on the simulated PC: present, so that a program can start it as the
// installers do ("runonce -r"); running the RunOnce commands it would find is not modelled.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
