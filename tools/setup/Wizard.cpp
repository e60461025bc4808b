#include "Wizard.h"

#include <windows.h>

#include "Installer.h"
#include "SetupLine.h"
#include "resource.h"

namespace setup {

namespace {

using namespace tap::ui;

constexpr const char *kPortEntries[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                                        "COM7", "COM8", "COM9", "COM10", "NONE"};
constexpr DWORD kLastComPort = 10;

const char kRs232Text[] = "RS232 Controller";
const char kInstallingText[] = "\n\nInstalling TouchScreen driver to your machine.\n\nplease wait...";
const char kInstalledText[] = "\n\nTouchScreen driver has been Successfully Installed on your machine.\n\n"
                              "If your touch device does not operate correctly\nthen please reboot your computer.";
const char kDriverFoundText[] = "\nThe driver has been found on your computer.\n\n"
                                "Please first remove the exist driver then try again.";
const char kNoDeviceText[] = "\nNot any touch device has been found on your computer.\n\n"
                             "Please insert your touch device and try again.";

bool SameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// A message box with the program's name as caption, owned by the wizard (the active window), so
// the wizard waits for it and has the focus back afterwards.
int Message(const PropertyPage &page, const std::string &text)
{
    return page.Sheet().ShowMessageBox(text, Application::Current()->Name(), box::Ok);
}

HWND NativeOf(const WindowRef &window)
{
    return reinterpret_cast<HWND>(window.Handle());
}

// Page 2's progress bar for the installer's operations.
class PageProgress : public Progress {
public:
    explicit PageProgress(ProgressBar &bar) : bar_(bar) {}
    void SetStep(int step) override { bar_.SetStep(step); }
    void StepIt() override { bar_.StepIt(); }

private:
    ProgressBar &bar_;
};

} // namespace

// ---- Page 1 ---------------------------------------------------------------------------------------

CDlgStep1::CDlgStep1() : PropertyPage(IDD_STEP1) {}

bool CDlgStep1::OnInitDialog()
{
    bool focus = PropertyPage::OnInitDialog();
    const SetupLine &line = ThisLine();
    Application &application = *Application::Current();
    ListBox types(*this, IDC_CONTROLLER_TYPE);
    ComboBox ports(*this, IDC_PORT);
    StaticText(*this, IDC_PORT_LABEL).SetText(line.portLabel);
    for (const char *entry : kPortEntries) {
        ports.AddString(entry);
    }
    if (line.offered == OfferedType::Rs232) {
        types.SetCurrentSelection(types.AddString(application.LoadStringResource(IDS_RS232_CONTROLLER)));
        ports.Enable(true);
        ports.SetCurrentSelection(0);
    } else {
        types.SetCurrentSelection(types.AddString(application.LoadStringResource(IDS_USB_CONTROLLER)));
        ports.Enable(false);
        ports.SetCurrentSelection(ports.AddString("USB Port"));
    }
    return focus;
}

bool CDlgStep1::OnSetActive()
{
    SetWizardButtons(ThisLine().offered == OfferedType::Rs232 ? wizard::Next : wizard::Back | wizard::Next);
    return PropertyPage::OnSetActive();
}

bool CDlgStep1::OnCommand(int id, int notification)
{
    if (id == IDC_CONTROLLER_TYPE && notification == notify::ListSelectionChange) {
        OnSelectControllerType();
        return true;
    }
    if (id == IDC_PORT && notification == notify::ComboSelectionChange) {
        OnSelectPort();
        return true;
    }
    return PropertyPage::OnCommand(id, notification);
}

bool CDlgStep1::Rs232Selected() const
{
    ListBox types(*this, IDC_CONTROLLER_TYPE);
    return SameText(types.ItemText(types.CurrentSelection()), kRs232Text);
}

void CDlgStep1::OnSelectControllerType()
{
    ComboBox ports(*this, IDC_PORT);
    if (Rs232Selected()) {
        Installer().usbSelected = FALSE;
        ports.Enable(true);
        SetWizardButtons(ports.CurrentSelection() < 0 ? wizard::Back : wizard::Back | wizard::Next);
    } else {
        Installer().usbSelected = TRUE;
        ports.Enable(false);
        SetWizardButtons(wizard::Back | wizard::Next);
    }
}

void CDlgStep1::OnSelectPort()
{
    if (ComboBox(*this, IDC_PORT).CurrentSelection() < 0) {
        Message(*this, Application::Current()->LoadStringResource(IDS_PORT_NOT_CORRECT));
    } else {
        SetWizardButtons(wizard::Back | wizard::Next);
    }
}

// The port is opened exactly as the combo lists it, as a file, exclusively and overlapped.
void CDlgStep1::TestPort(const std::string &name)
{
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        Message(*this, Application::Current()->LoadStringResource(IDS_PORT_UNUSABLE));
        Installer().portUsable = 0;
    } else {
        Installer().portUsable = 1;
        CloseHandle(port);
    }
}

intptr_t CDlgStep1::OnWizardNext()
{
    InstallerState &state = Installer();
    if (Rs232Selected()) {
        state.usbSelected = FALSE;
        ComboBox ports(*this, IDC_PORT);
        const int index = ports.CurrentSelection();
        state.portNumber = static_cast<DWORD>(index + 1);
        const std::string name = ports.ItemText(index);
        if (state.portNumber <= kLastComPort) {
            TestPort(name);
        }
    } else {
        state.usbSelected = TRUE;
    }
    return PropertyPage::OnWizardNext();
}

// ---- Page 2 ---------------------------------------------------------------------------------------

CDlgStep2::CDlgStep2() : PropertyPage(IDD_STEP2) {}

bool CDlgStep2::OnSetActive()
{
    SetWizardButtons(wizard::Back | wizard::Next);
    return PropertyPage::OnSetActive();
}

std::string CDlgStep2::InstallRs232(ProgressBar &progress)
{
    const SetupLine &line = ThisLine();
    InstallerState &state = Installer();
    state.infPath = state.installerDirectory + line.rs232Inf;
    if (CountDevicesWithHardwareId(kMouseClass, line.rs232HardwareId) != 0) {
        Message(*this, "Please first remove the exist driver, then reinstall the driver!");
        return kDriverFoundText;
    }
    PageProgress steps(progress);
    InstallFromInf(NativeOf(*this), steps);
    progress.SetPosition(5);
    CreateRootDevice(steps);
    progress.SetPosition(7);
    return kInstalledText;
}

std::string CDlgStep2::InstallUsb(ProgressBar &progress)
{
    const SetupLine &line = ThisLine();
    InstallerState &state = Installer();
    state.infPath = state.installerDirectory + line.usbInf;
    if (CountDevicesWithHardwareId(line.usbSearchClass, line.usbHardwareId) == 0) {
        Message(*this, "Can't find the device!");
        return kNoDeviceText;
    }
    PageProgress steps(progress);
    InstallFromInf(NativeOf(*this), steps);
    progress.SetPosition(5);
    UpdateUsbDevice(steps);
    progress.SetPosition(7);
    return kInstalledText;
}

// Runs the installation; the wizard stays on this page.
intptr_t CDlgStep2::OnWizardNext()
{
    SetWizardButtons(wizard::Back);
    StaticText status(*this, IDC_STATUS);
    status.SetText(kInstallingText);
    ProgressBar progress(*this, IDC_PROGRESS);
    progress.Show(show::Show);
    progress.SetRange(0, 10);
    progress.SetStep(1);
    InstallerState &state = Installer();
    state.line = &ThisLine();
    state.installerDirectory = InstallerDirectory();
    const std::string closing = state.usbSelected ? InstallUsb(progress) : InstallRs232(progress);
    status.SetText(closing);
    progress.SetPosition(10);
    SetWizardButtons(wizard::Back | wizard::Finish);
    return -1;
}

bool CDlgStep2::OnWizardFinish()
{
    InstallerState &state = Installer();
    if (state.driverInstalled) {
        ScheduleGroupConversion();
    }
    if (state.rebootRequired) {
        SetupPromptReboot(nullptr, NativeOf(*this), FALSE);
    }
    return PropertyPage::OnWizardFinish();
}

// ---- The sheet ------------------------------------------------------------------------------------

CPSheet::CPSheet() : PropertySheetDialog("Hello")
{
    AddPage(step1_);
    AddPage(step2_);
    SetWizardMode();
}

} // namespace setup
