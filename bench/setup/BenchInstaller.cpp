#include "BenchInstaller.h"

#include <windows.h>
#include <setupapi.h>

#include "Installer.h"

namespace tapbench {

namespace {

// No progress bar: the bench has no page 2.
class NoProgress : public setup::Progress {
public:
    void SetStep(int) override {}
    void StepIt() override {}
};

// The installer's state as page 1 leaves it, for the line and the type chosen.
setup::InstallerState &ChooseLine(bool multiTouch, bool usb, unsigned port)
{
    setup::InstallerState &state = setup::Installer();
    state = setup::InstallerState{};
    state.line = &setup::LineOf(multiTouch ? tap::setup::ProductLine::MultiTouch : tap::setup::ProductLine::SingleTouch);
    state.usbSelected = usb ? TRUE : FALSE;
    state.portNumber = port;
    state.portUsable = usb ? 0 : 1;
    state.installerDirectory = "D:\\";
    state.infPath = state.installerDirectory + (usb ? state.line->usbInf : state.line->rs232Inf);
    return state;
}

} // namespace

uint32_t InstallSerialLine(bool multiTouch, unsigned port)
{
    setup::InstallerState &state = ChooseLine(multiTouch, false, port);
    NoProgress progress;
    DWORD installed = setup::InstallFromInf(nullptr, progress);
    DWORD created = setup::CreateRootDevice(progress);
    if (state.driverInstalled) {
        setup::ScheduleGroupConversion();
    }
    return installed != ERROR_SUCCESS ? installed : created;
}

uint32_t InstallUsbLine(bool multiTouch)
{
    setup::InstallerState &state = ChooseLine(multiTouch, true, 0);
    NoProgress progress;
    DWORD installed = setup::InstallFromInf(nullptr, progress);
    DWORD updated = setup::UpdateUsbDevice(progress);
    if (state.driverInstalled) {
        setup::ScheduleGroupConversion();
    }
    return installed != ERROR_SUCCESS ? installed : updated;
}

} // namespace tapbench
