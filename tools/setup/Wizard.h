// The installer's wizard: CPSheet with its two pages. CDlgStep1 offers the controller type and
// the COM port and tests the port; CDlgStep2 runs the installation on Next and shows its
// progress and closing text; Finish schedules the group conversion and offers a reboot.
#pragma once

#include "tap/ui/Framework.h"

namespace setup {

class CDlgStep1 : public tap::ui::PropertyPage {
public:
    CDlgStep1();

protected:
    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnCommand(int id, int notification) override;
    intptr_t OnWizardNext() override;

private:
    void OnSelectControllerType();
    void OnSelectPort();
    bool Rs232Selected() const;
    void TestPort(const std::string &name);
};

class CDlgStep2 : public tap::ui::PropertyPage {
public:
    CDlgStep2();

protected:
    bool OnSetActive() override;
    intptr_t OnWizardNext() override;
    bool OnWizardFinish() override;

private:
    std::string InstallRs232(tap::ui::ProgressBar &progress);
    std::string InstallUsb(tap::ui::ProgressBar &progress);
};

class CPSheet : public tap::ui::PropertySheetDialog {
public:
    CPSheet();

private:
    CDlgStep1 step1_;
    CDlgStep2 step2_;
};

} // namespace setup
