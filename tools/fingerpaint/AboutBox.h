// The About box (dialog 100): the program icon, its name and version, and OK.
#pragma once

#include "tap/ui/Framework.h"

namespace fingerpaint {

class AboutBox : public tap::ui::Dialog {
public:
    explicit AboutBox(tap::ui::WindowHandle parent);
};

} // namespace fingerpaint
