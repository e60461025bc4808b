// The FingerPaint program: a dialog-based application whose main window is PaintWindow.
#pragma once

#include "tap/ui/Framework.h"

namespace fingerpaint {

class FingerPaintApp : public tap::ui::Application {
protected:
    // Runs PaintWindow modally; when it has closed, data mode is stopped and the program ends.
    bool InitInstance() override;
};

} // namespace fingerpaint
