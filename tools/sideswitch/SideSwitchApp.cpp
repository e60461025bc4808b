#include "SideSwitchApp.h"

#include "SwitchWindow.h"

namespace sideswitch {

bool SideSwitchApp::InitInstance()
{
    SwitchWindow window;
    SetMainWindow(&window);
    window.RunModal();
    SetMainWindow(nullptr);
    return false;
}

} // namespace sideswitch
