// Property sheets and their pages, also in wizard mode (Back, Next, Finish). A page is a dialog
// template with handlers; its window is created the first time it is shown, which is when it
// gets OnInitDialog. The sheet tells its pages about activation, OK and Cancel.
#pragma once

#include <string>
#include <vector>

#include "tap/ui/Dialog.h"

namespace tap::ui {

class PropertySheetDialog;

class PropertyPage : public Dialog {
public:
    explicit PropertyPage(ResourceId templateId);

    // The sheet this page is shown in, once it has been shown.
    WindowRef Sheet() const;
    // Asks the sheet to offer these wizard buttons (PSM_SETWIZBUTTONS, posted).
    void SetWizardButtons(uint32_t buttons);
    bool HasBeenShown() const { return Exists(); }

protected:
    // The page becomes the current one: return true to accept.
    virtual bool OnSetActive();
    // The page is being left: return false to stay.
    virtual bool OnKillActive();
    // The user pressed OK (or Apply): the default accepts. In a sheet every page that has been
    // shown gets OnOK; pages never shown get nothing.
    virtual void OnOK() override;
    // The user pressed Cancel: every page shown gets OnCancel.
    virtual void OnCancel() override;
    // Wizard buttons: return 0 to go to the neighbouring page, -1 to stay, or a template id to
    // go to that page. OnWizardFinish returns true to close the wizard.
    virtual intptr_t OnWizardBack();
    virtual intptr_t OnWizardNext();
    virtual bool OnWizardFinish();

    intptr_t OnNotify(int id, int code, intptr_t header) override;
};

// (Not named PropertySheet: <prsht.h>, which <commctrl.h> and <setupapi.h> include, makes that a
// macro for PropertySheetA or PropertySheetW.)
class PropertySheetDialog {
public:
    // CAPTION is UTF-8; PARENT owns the sheet's window.
    PropertySheetDialog(std::string caption, WindowHandle parent = nullptr, unsigned startPage = 0);
    virtual ~PropertySheetDialog() = default;

    void AddPage(PropertyPage& page);
    // PSH_* flags added to the header (sheet::NoApplyNow ...).
    void AddFlags(uint32_t flags) { flags_ |= flags; }
    void SetWizardMode() { flags_ |= sheet::Wizard; }
    uint32_t Flags() const { return flags_; }

    // Runs the sheet modally; returns answer::Ok when it ended with OK or Finish, answer::Cancel
    // otherwise, -1 when it cannot be created.
    intptr_t RunModal();

private:
    std::string caption_;
    WindowHandle parent_;
    unsigned startPage_;
    uint32_t flags_ = 0;
    std::vector<PropertyPage*> pages_;
};

} // namespace tap::ui
