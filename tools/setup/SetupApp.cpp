#include "SetupApp.h"

#include "Wizard.h"

namespace setup {

bool SetupApp::InitInstance()
{
    CPSheet sheet;
    sheet.RunModal();
    return false;
}

} // namespace setup
