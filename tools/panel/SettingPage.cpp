// CPage2, the Setting page (dialog 1003): mouse mode, double-click range, interactive delay, and
// the COM port, which the page opens and closes through the driver at once.
#include "Pages.h"
#include "TapShared.h"
#include "resource.h"

namespace panel {

using namespace tap::ui;

namespace {

constexpr DWORD kModeInteractive = 3;
constexpr DWORD kPortNone = 11;      // the list's "NONE"
constexpr int kModeButtons[] = {IDC_MODE_POINT_AND_CLICK, IDC_MODE_DRAG_THEN_CLICK, IDC_MODE_CLICK_AND_DRAG,
                                IDC_MODE_INTERACTIVE_TOUCH}; // by mode 0..3
constexpr DWORD kBaudRates[] = {9600, 19200, 38400, 57600, 115200};

// The radio button of a mode; a value outside 0..3 shows "Drag then Click".
int ModeButton(DWORD mode)
{
    return mode <= kModeInteractive ? kModeButtons[mode] : IDC_MODE_DRAG_THEN_CLICK;
}

int BaudEntry(DWORD baud)
{
    for (int i = 0; i < static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]); ++i) {
        if (kBaudRates[i] == baud) {
            return i;
        }
    }
    return 0;
}

} // namespace

CPage2::CPage2(PanelSettings &settings) : PropertyPage(IDD_SETTING), settings_(settings), line_(ThisPanel()) {}

bool CPage2::OnInitDialog()
{
    PropertyPage::OnInitDialog();
    mode_ = settings_.MouseMode;
    delay_ = settings_.InterActTime;
    port_ = settings_.Port;
    enable_ = settings_.Enable;
    baud_ = settings_.BaudRate;

    UpDown spin(*this, IDC_DOUBLE_CLICK_SPIN);
    spin.SetBuddy(Item(IDC_DOUBLE_CLICK_EDIT));
    spin.SetRange(0, 99);
    spin.SetPosition(static_cast<int>(settings_.DblClickRegion & 0xFFFF));
    Trackbar slider(*this, IDC_DELAY_SLIDER);
    slider.SetRange(0, 10, true);
    slider.SetPosition(static_cast<int>(delay_ / line_.DelayStep));

    // The page's mode stays as stored, also a value no button stands for, until one is clicked.
    CheckRadioButton(IDC_MODE_POINT_AND_CLICK, IDC_MODE_INTERACTIVE_TOUCH, ModeButton(mode_));
    EnableDelayControls();

    ComboBox ports(*this, IDC_PORT_LIST);
    Button portButton(*this, line_.PortButton);
    if (port_ >= 1 && port_ <= kPortNone) {
        ports.SetCurrentSelection(static_cast<int>(port_ - 1));
        if (port_ == kPortNone) {
            portButton.Enable(false);
        }
    } else {
        ports.SetCurrentSelection(0);
    }
    if (line_.MultiTouch) {
        ComboBox(*this, IDC_BAUD_LIST).SetCurrentSelection(BaudEntry(baud_));
    }
    if (settings_.Driver.Usb) {
        ports.Enable(false);
        ports.ResetContent();
        ports.AddString("USB Port");
        ports.SetCurrentSelection(ports.Count() - 1);
        portButton.Enable(false);
        if (line_.MultiTouch) {
            Item(IDC_BAUD_LIST).Enable(false);
        }
    } else {
        SetPortButton(enable_);
    }
    return true;
}

bool CPage2::OnCommand(int id, int notification)
{
    if (notification == notify::ButtonClicked) {
        for (DWORD mode = 0; mode <= kModeInteractive; ++mode) {
            if (id == kModeButtons[mode]) {
                OnModeClicked(mode);
                return true;
            }
        }
        if (id == line_.PortButton) {
            OnPortButton();
            return true;
        }
    }
    if (id == IDC_PORT_LIST && notification == notify::ComboSelectionChange) {
        OnPortSelected();
        return true;
    }
    return PropertyPage::OnCommand(id, notification);
}

void CPage2::OnModeClicked(DWORD mode)
{
    mode_ = mode;
    EnableDelayControls();
}

// The double-click spin and the delay slider mean something in Interactive Touch only.
void CPage2::EnableDelayControls()
{
    const bool interactive = mode_ == kModeInteractive;
    Item(IDC_DOUBLE_CLICK_SPIN).Enable(interactive);
    Item(IDC_DELAY_SLIDER).Enable(interactive);
}

void CPage2::SetPortButton(DWORD enable)
{
    Item(line_.PortButton).SetText(enable == 1 ? "Disable" : "Enable");
}

BOOL CPage2::PortRequest(DWORD code, DWORD port)
{
    if (code == IOCTL_TOUCH_OPEN_PORT) {
        return settings_.Request(code, &port, sizeof port);
    }
    return settings_.Request(code, NULL, 0);
}

void CPage2::Complain(const char *text)
{
    ShowMessageBox(text, Application::Current()->Name(), box::Ok);
}

// Closes an enabled port, or opens the page's port.
void CPage2::OnPortButton()
{
    if (enable_ == 1) {
        if (PortRequest(IOCTL_TOUCH_CLOSE_PORT, 0)) {
            enable_ = 0;
            SetPortButton(enable_);
        } else {
            Complain("Disable com fail!");
        }
        return;
    }
    if (PortRequest(IOCTL_TOUCH_OPEN_PORT, port_)) {
        enable_ = 1;
        SetPortButton(enable_);
    } else {
        Complain("Enable com fail!");
    }
}

// Another entry of the port list: the previous port is closed and the new one opened at once.
void CPage2::OnPortSelected()
{
    const DWORD chosen = static_cast<DWORD>(ComboBox(*this, IDC_PORT_LIST).CurrentSelection() + 1);
    if (chosen == port_) {
        return;
    }
    if (port_ < kPortNone && !PortRequest(IOCTL_TOUCH_CLOSE_PORT, 0)) {
        Complain("Close previous com port fail!");
    }
    Button portButton(*this, line_.PortButton);
    if (chosen >= kPortNone) {
        enable_ = 0;
        SetPortButton(enable_);
        portButton.Enable(false);
    } else {
        if (PortRequest(IOCTL_TOUCH_OPEN_PORT, chosen)) {
            enable_ = 1;
        } else {
            Complain("Open com port fail!");
            enable_ = 0;
        }
        SetPortButton(enable_);
        portButton.Enable(true);
    }
    port_ = chosen;
}

void CPage2::OnOK()
{
    settings_.InterActTime = static_cast<DWORD>(Trackbar(*this, IDC_DELAY_SLIDER).Position()) * line_.DelayStep;
    settings_.DblClickRegion = static_cast<DWORD>(UpDown(*this, IDC_DOUBLE_CLICK_SPIN).Position());
    settings_.MouseMode = mode_;
    settings_.Port = port_;
    settings_.Enable = enable_;
    settings_.BaudRate = baud_;
    PropertyPage::OnOK();
}

// The driver follows PanelSettings again: the new port closed, the stored one as it was stored.
void CPage2::OnCancel()
{
    if (port_ != settings_.Port && port_ != kPortNone) {
        PortRequest(IOCTL_TOUCH_CLOSE_PORT, 0);
    }
    if (settings_.Port < kPortNone) {
        if (settings_.Enable == 1) {
            PortRequest(IOCTL_TOUCH_OPEN_PORT, settings_.Port);
        } else {
            PortRequest(IOCTL_TOUCH_CLOSE_PORT, 0);
        }
    }
    PropertyPage::OnCancel();
}

} // namespace panel
