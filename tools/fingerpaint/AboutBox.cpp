#include "AboutBox.h"

#include "resource.h"

namespace fingerpaint {

AboutBox::AboutBox(tap::ui::WindowHandle parent) : Dialog(IDD_ABOUTBOX, parent) {}

} // namespace fingerpaint
