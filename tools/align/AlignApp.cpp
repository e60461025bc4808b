#include "AlignApp.h"

#include "CalibrationWindow.h"

namespace align {

bool AlignApp::InitInstance()
{
    CalibrationWindow window;
    SetMainWindow(&window);
    window.RunModal();
    SetMainWindow(nullptr);
    return false;
}

} // namespace align
