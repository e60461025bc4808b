// The SideSwitch program: a dialog-based application whose main window is SwitchWindow.
#pragma once

#include "tap/ui/Framework.h"

namespace sideswitch {

class SideSwitchApp : public tap::ui::Application {
protected:
    // Runs SwitchWindow modally; the program ends when it closes.
    bool InitInstance() override;
};

} // namespace sideswitch
