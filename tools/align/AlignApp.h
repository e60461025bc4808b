// The calibration program: a dialog-based application whose only window is CalibrationWindow.
#pragma once

#include "tap/ui/Framework.h"

namespace align {

class AlignApp : public tap::ui::Application {
protected:
    // Runs CalibrationWindow modally; the program ends when it closes.
    bool InitInstance() override;
};

} // namespace align
