// The application object of a tool: program start, its main window, its resources.
//
// A tool derives from Application and overrides InitInstance, where a dialog-based tool runs its
// main dialog modally and returns false (no message loop follows). The program's entry point
// (WinMain) builds the object and calls RunProgram with the module handle it was given.
#pragma once

#include <string>

#include "tap/ui/Window.h"

namespace tap::ui {

class Application {
public:
    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    virtual ~Application();

    // The application whose program runs on the calling thread (set by RunProgram, or by a
    // ResourceScope for code that runs in a host's thread, such as a Control Panel applet).
    static Application* Current();

    ModuleHandle Module() const { return module_; }
    // The program's name: its module's file name without the extension.
    const std::string& Name() const { return name_; }
    // The main window object (it may not have a window yet, as a dialog before it runs).
    WindowRef* MainWindow() const { return mainWindow_; }
    void SetMainWindow(WindowRef* window) { mainWindow_ = window; }

    // The module's resources (LoadIcon, LoadImage for the small size, LoadString). Icons stay
    // valid for the life of the program.
    IconHandle LoadIconResource(ResourceId id) const;
    IconHandle LoadSmallIconResource(ResourceId id) const;
    std::string LoadStringResource(ResourceId id) const;

    // A message box with the program's name as caption (AfxMessageBox).
    int ShowMessageBox(std::string_view text, uint32_t style = box::Ok) const;

protected:
    // Runs first; return false to end the program without a message loop.
    virtual bool InitInstance();
    // Runs last; its result is the program's exit code.
    virtual int ExitInstance();

private:
    friend int RunProgram(Application& application, ModuleHandle module, int showCommand);
    friend class ResourceScope;
    void Attach(ModuleHandle module);

    ModuleHandle module_ = nullptr;
    std::string name_;
    WindowRef* mainWindow_ = nullptr;
    int exitCode_ = 0;
};

// Runs APPLICATION as the program of the calling thread: InitInstance, the message loop while it
// returned true, ExitInstance. Returns the exit code.
int RunProgram(Application& application, ModuleHandle module, int showCommand);

// Makes APPLICATION current on this thread for as long as the scope lives, for code that runs
// inside another program (a Control Panel applet in the Control Panel's thread).
class ResourceScope {
public:
    ResourceScope(Application& application, ModuleHandle module);
    ~ResourceScope();
    ResourceScope(const ResourceScope&) = delete;
    ResourceScope& operator=(const ResourceScope&) = delete;

private:
    Application* previous_;
};

} // namespace tap::ui
