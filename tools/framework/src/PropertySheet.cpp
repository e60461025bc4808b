#include "tap/ui/PropertySheet.h"

#include "DialogDispatch.h"
#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/ui/backend/Text.h"
#include "tap/ui/Application.h"

namespace tap::ui {

PropertyPage::PropertyPage(ResourceId templateId) : Dialog(templateId) {}

WindowRef PropertyPage::Sheet() const
{
    return Parent();
}

void PropertyPage::SetWizardButtons(uint32_t buttons)
{
    Sheet().Post(msg::SheetSetWizButtons, 0, static_cast<intptr_t>(buttons));
}

bool PropertyPage::OnSetActive() { return true; }
bool PropertyPage::OnKillActive() { return true; }
void PropertyPage::OnOK() {}
void PropertyPage::OnCancel() {}
intptr_t PropertyPage::OnWizardBack() { return 0; }
intptr_t PropertyPage::OnWizardNext() { return 0; }
bool PropertyPage::OnWizardFinish() { return true; }

// The answers follow PropertySheet's rules for each PSN_ notification: 0 accepts; SETACTIVE -1
// refuses the page; KILLACTIVE, APPLY and WIZFINISH nonzero keep the sheet where it is.
intptr_t PropertyPage::OnNotify(int id, int code, intptr_t header)
{
    switch (code) {
    case msg::PageSetActive: return OnSetActive() ? 0 : -1;
    case msg::PageKillActive: return OnKillActive() ? 0 : 1;
    case msg::PageApply: OnOK(); return 0;
    case msg::PageReset: OnCancel(); return 0;
    case msg::PageWizardBack: return OnWizardBack();
    case msg::PageWizardNext: return OnWizardNext();
    case msg::PageWizardFinish: return OnWizardFinish() ? 0 : 1;
    default: return Dialog::OnNotify(id, code, header);
    }
}

PropertySheetDialog::PropertySheetDialog(std::string caption, WindowHandle parent, unsigned startPage)
    : caption_(std::move(caption)), parent_(parent), startPage_(startPage)
{
}

void PropertySheetDialog::AddPage(PropertyPage& page)
{
    pages_.push_back(&page);
}

intptr_t PropertySheetDialog::RunModal()
{
    Application* application = Application::Current();
    sys::SheetHeader header{flags_, parent_, ToUtf16(caption_), startPage_, {}};
    for (PropertyPage* page : pages_) {
        header.pages.push_back({application ? application->Module() : nullptr, page->TemplateId(), page->dispatch_.get()});
    }
    intptr_t result = sys::RunPropertySheet(header);
    if (result < 0) {
        return -1;
    }
    return result > 0 ? answer::Ok : answer::Cancel;
}

} // namespace tap::ui
