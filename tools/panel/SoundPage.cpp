// CPage3, the Sound page (dialog 1004): when the driver beeps, the pitch and length of its beep,
// and a test beep with the positions on screen.
#include "Pages.h"
#include "TapShared.h"
#include "resource.h"

namespace panel {

using namespace tap::ui;

namespace {

constexpr DWORD kHertzPerStep = 200;
constexpr DWORD kMillisecondsPerStep = 100;

} // namespace

CPage3::CPage3(PanelSettings &settings) : PropertyPage(IDD_SOUND), settings_(settings) {}

bool CPage3::OnInitDialog()
{
    PropertyPage::OnInitDialog();
    Trackbar frequency(*this, IDC_FREQUENCY_SLIDER);
    Trackbar duration(*this, IDC_DURATION_SLIDER);
    frequency.SetRange(0, 10, true);
    duration.SetRange(0, 10, true);
    ComboBox(*this, IDC_BEEP_MODE_LIST).SetCurrentSelection(static_cast<int>(settings_.BeepMode));
    if (settings_.BeepMode == BEEP_OFF) {
        frequency.Enable(false);
        duration.Enable(false);
    } else {
        frequency.SetPosition(static_cast<int>(settings_.BeepFreq / kHertzPerStep));
        duration.SetPosition(static_cast<int>(settings_.BeepTime / kMillisecondsPerStep));
    }
    return true;
}

bool CPage3::OnCommand(int id, int notification)
{
    if (id == IDC_BEEP_MODE_LIST && notification == notify::ComboSelectionChange) {
        OnModeSelected();
        return true;
    }
    if (id == IDC_TEST_BEEP && notification == notify::ButtonClicked) {
        OnTestBeep();
        return true;
    }
    return PropertyPage::OnCommand(id, notification);
}

void CPage3::OnModeSelected()
{
    const bool beeps = ComboBox(*this, IDC_BEEP_MODE_LIST).CurrentSelection() != 0;
    Item(IDC_FREQUENCY_SLIDER).Enable(beeps);
    Item(IDC_DURATION_SLIDER).Enable(beeps);
    Item(IDC_TEST_BEEP).Enable(beeps);
}

// The beep the sliders show, committed or not; the driver makes the sound.
void CPage3::OnTestBeep()
{
    TOUCH_BEEP_REQUEST beep;
    beep.Frequency = static_cast<ULONG>(Trackbar(*this, IDC_FREQUENCY_SLIDER).Position()) * kHertzPerStep;
    beep.Duration = static_cast<ULONG>(Trackbar(*this, IDC_DURATION_SLIDER).Position()) * kMillisecondsPerStep;
    settings_.Request(IOCTL_TOUCH_BEEP, &beep, sizeof beep);
}

void CPage3::OnOK()
{
    settings_.BeepMode = static_cast<DWORD>(ComboBox(*this, IDC_BEEP_MODE_LIST).CurrentSelection());
    settings_.BeepFreq = static_cast<DWORD>(Trackbar(*this, IDC_FREQUENCY_SLIDER).Position()) * kHertzPerStep;
    settings_.BeepTime = static_cast<DWORD>(Trackbar(*this, IDC_DURATION_SLIDER).Position()) * kMillisecondsPerStep;
    PropertyPage::OnOK();
}

} // namespace panel
