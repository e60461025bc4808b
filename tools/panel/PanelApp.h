// The applet's application object: PanelSettings for as long as the library is loaded, and the
// answers to the Control Panel's CPlApplet messages.
#pragma once

#include <windows.h>

#include "PanelSettings.h"
#include "tap/ui/Framework.h"

namespace panel {

class CPanelApp : public tap::ui::Application {
public:
    CPanelApp();

    // DllMain: the library's own instance handle, whose resources the applet uses.
    void SetInstance(HINSTANCE instance) { instance_ = instance; }
    // CPlApplet, in the Control Panel's thread.
    LONG Applet(HWND window, UINT message, LPARAM parameter1, LPARAM parameter2);

private:
    LONG Inquire(LPARAM info) const;
    void RunSheet(HWND parent);

    HINSTANCE instance_ = NULL;
    PanelSettings settings_;
};

CPanelApp &ThePanelApp();

} // namespace panel
