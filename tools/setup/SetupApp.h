// The installer program: a dialog-based application whose main window is the wizard.
#pragma once

#include "tap/ui/Framework.h"

namespace setup {

class SetupApp : public tap::ui::Application {
protected:
    // Runs the wizard modally; the program ends when it closes.
    bool InitInstance() override;
};

} // namespace setup
