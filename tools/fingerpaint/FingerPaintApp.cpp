#include "FingerPaintApp.h"

#include "PaintWindow.h"

namespace fingerpaint {

bool FingerPaintApp::InitInstance()
{
    PaintWindow window;
    SetMainWindow(&window);
    window.RunModal();
    window.FinishDrawing();
    SetMainWindow(nullptr);
    return false;
}

} // namespace fingerpaint
