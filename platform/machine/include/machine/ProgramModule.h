// What a program module of the simulated PC is: the host build of a tool's .exe, a shared object
// that the machine loads when the program is started (Machine::StartProcess, WinExec).
//
// A program module exports two functions with C linkage:
//
//   const void *TapProgramResources(void);
//       The program's resources: its `tap::res::ResourceModule`. The window system finds the
//       program's dialogs, icons and strings through it; it is the program's instance handle.
//
//   int TapProgramStartup(const TapProgramStart *start);
//       The program's start-up code, the host's counterpart of the C runtime's WinMainCRTStartup:
//       it makes the process (handles the program opens belong to it and are closed when it ends),
//       calls WinMain with the instance handle, the command line and the show command, ends the
//       process and returns WinMain's result as the exit code. It runs on the program's UI thread.
//
// tap_add_program() (cmake/TapProgram.cmake) builds such a module from a tool's WinMain and
// compiles program/ProgramStartup.cpp into it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct TapProgramStart {
    const char *imagePath;    // the image's Windows path: C:\WINDOWS\MonotapDrv\SideSwitch.exe
    const char *commandLine;  // what follows the program's name (WinMain's lpCmdLine)
    int showCommand;          // SW_SHOWNORMAL ...
    void *instance;           // WinMain's hInstance: TapProgramResources()
};

typedef int (*TapProgramStartupRoutine)(const struct TapProgramStart *start);
typedef const void *(*TapProgramResourcesRoutine)(void);

#ifdef __cplusplus
}
#endif

#define TAP_PROGRAM_STARTUP_SYMBOL "TapProgramStartup"
#define TAP_PROGRAM_RESOURCES_SYMBOL "TapProgramResources"
