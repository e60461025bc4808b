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

} // namespace

uint32_t InstallSerialLine(bool multiTouch, unsigned port)
{
    setup::InstallerState &state = setup::Installer();
    state = setup::InstallerState{};
    state.line = &setup::LineOf(multiTouch ? tap::setup::ProductLine::MultiTouch : tap::setup::ProductLine::SingleTouch);
    state.usbSelected = FALSE;
    state.portNumber = port;
    state.portUsable = 1;
    state.installerDirectory = "D:\\";
    state.infPath = state.installerDirectory + state.line->rs232Inf;
    NoProgress progress;
    DWORD installed = setup::InstallFromInf(nullptr, progress);
    DWORD created = setup::CreateRootDevice(progress);
    if (state.driverInstalled) {
        setup::ScheduleGroupConversion();
    }
    return installed != ERROR_SUCCESS ? installed : created;
}

} // namespace tapbench
