#include "PanelApp.h"

#include <cpl.h>

#include <memory>
#include <new>

#include "Pages.h"
#include "resource.h"

namespace panel {
namespace {

// Created when the library is loaded, gone when it is unloaded.
CPanelApp g_application;

} // namespace

CPanelApp &ThePanelApp()
{
    return g_application;
}

CPanelApp::CPanelApp() : settings_(ThisPanel()) {}

LONG CPanelApp::Applet(HWND window, UINT message, LPARAM, LPARAM parameter2)
{
    // The applet's resources, not the Control Panel's, for as long as the call runs.
    tap::ui::ResourceScope scope(*this, reinterpret_cast<tap::ui::ModuleHandle>(instance_));
    switch (message) {
    case CPL_INIT:
        settings_.Load();
        return 1;
    case CPL_GETCOUNT: return 1;
    case CPL_INQUIRE: return Inquire(parameter2);
    case CPL_DBLCLK:
    case CPL_STARTWPARMSA:
    case CPL_STARTWPARMSW: // the wide form some Control Panels send instead: answered the same way
        RunSheet(window);
        return 0;
    case CPL_EXIT:
        settings_.Save();
        return 0;
    case CPL_SELECT:
    case CPL_STOP:
    case CPL_NEWINQUIRE: return 0;
    default: return 1;
    }
}

LONG CPanelApp::Inquire(LPARAM info) const
{
    const PanelLine &line = ThisPanel();
    CPLINFO *record = reinterpret_cast<CPLINFO *>(info);
    record->idIcon = line.AppletIcon;
    record->idName = line.NameString;
    record->idInfo = line.InfoString;
    record->lData = 0;
    return 0;
}

void CPanelApp::RunSheet(HWND parent)
{
    std::unique_ptr<CVXPropertySheet> sheet(new (std::nothrow) CVXPropertySheet(
        LoadStringResource(IDS_SHEET_CAPTION), reinterpret_cast<tap::ui::WindowHandle>(parent), 0, settings_));
    if (!sheet) {
        return;
    }
    sheet->RunModal();
}

} // namespace panel
