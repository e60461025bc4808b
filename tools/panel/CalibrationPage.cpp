// CPage1, the Calibration page (dialog 1002), and CPage4, the About page (dialog 1005).
#include <cstring>

#include "Pages.h"
#include "resource.h"

namespace panel {

using namespace tap::ui;

namespace {

// The leading decimal digits of TEXT; 0 without any.
DWORD LeadingNumber(const std::string &text)
{
    DWORD value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + static_cast<DWORD>(c - '0');
    }
    return value;
}

} // namespace

CPage1::CPage1(PanelSettings &settings) : PropertyPage(IDD_CALIBRATION), settings_(settings), line_(ThisPanel()) {}

bool CPage1::OnInitDialog()
{
    PropertyPage::OnInitDialog();
    Application *application = Application::Current();
    Button(*this, IDC_CALIBRATE).SetIcon(application->LoadIconResource(IDI_APPLET_MONO));
    // The large icon goes to the sheet, the window the page belongs to.
    Sheet().SetIcon(application->LoadIconResource(line_.PageIcon), true);
    UpDown spin(*this, line_.MarginSpin);
    spin.SetBuddy(Item(line_.MarginEdit));
    spin.SetRange(1, 25);
    // Writes the number into the edit, which stores it (OnMarginChanged).
    spin.SetPosition(static_cast<int>(settings_.CalibrateMargin & 0xFFFF));
    return true;
}

bool CPage1::OnCommand(int id, int notification)
{
    if (id == line_.MarginEdit && notification == notify::EditChange) {
        OnMarginChanged();
        return true;
    }
    if (id == IDC_CALIBRATE && notification == notify::ButtonClicked) {
        OnCalibrate();
        return true;
    }
    return PropertyPage::OnCommand(id, notification);
}

// The margin is in force for the calibration program as soon as it changes.
void CPage1::OnMarginChanged()
{
    margin_ = LeadingNumber(Item(line_.MarginEdit).Text());
    settings_.WriteMargin(margin_);
}

// The line's calibration program, from the Windows directory; the sheet does not wait for it.
void CPage1::OnCalibrate()
{
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || length + std::strlen(settings_.Driver.CalibrationProgram) >= MAX_PATH) {
        return;
    }
    std::strcat(path, settings_.Driver.CalibrationProgram);
    WinExec(path, show::Normal);
}

void CPage1::OnOK()
{
    if (margin_ != settings_.CalibrateMargin) {
        settings_.CalibrateMargin = margin_;
        settings_.WriteMargin(margin_);
    }
    PropertyPage::OnOK();
}

// Undoes the margin written while the page was open.
void CPage1::OnCancel()
{
    if (margin_ != settings_.CalibrateMargin) {
        settings_.WriteMargin(settings_.CalibrateMargin);
    }
    PropertyPage::OnCancel();
}

CPage4::CPage4() : PropertyPage(IDD_ABOUT) {}

CVXPropertySheet::CVXPropertySheet(const std::string &caption, WindowHandle parent, unsigned startPage,
                                   PanelSettings &settings)
    : PropertySheetDialog(caption, parent, startPage), Calibration(settings), Setting(settings), Sound(settings)
{
    AddPage(Calibration);
    AddPage(Setting);
    AddPage(Sound);
    AddPage(About);
    AddFlags(sheet::NoApplyNow);
}

} // namespace panel
