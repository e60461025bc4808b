// Probe: a program module for the tests of `tapbench run`'s dialog commands. Its log line
// (IDC_LOG) names the last notification the dialog received, so that a scenario sees what a
// click or a key caused: "command ID CODE", "scroll CODE POSITION", or what a sheet's pages did.
#include <windows.h>

#include <string>

#include "resource.h"
#include "tap/ui/Framework.h"

namespace {

using namespace tap::ui;

std::string g_sheetLog;

class ProbePage : public PropertyPage {
public:
    explicit ProbePage(ResourceId id, const char *name) : PropertyPage(id), name_(name) {}

protected:
    bool OnSetActive() override
    {
        if (TemplateId() == IDD_PAGE_FIRST) {
            SetWizardButtons(wizard::Next);
        } else if (Sheet().Exists()) {
            SetWizardButtons(wizard::Back | wizard::Finish);
        }
        return PropertyPage::OnSetActive();
    }
    void OnOK() override { g_sheetLog += std::string(" ok ") + name_; }
    void OnCancel() override { g_sheetLog += std::string(" cancel ") + name_; }
    bool OnWizardFinish() override
    {
        g_sheetLog += std::string(" finish ") + name_;
        return true;
    }
    bool OnCommand(int id, int code) override
    {
        if (id == IDC_PAGE_CHECK) {
            WindowRef(Item(IDC_PAGE_LOG)).SetText("check " + std::to_string(Button(*this, id).IsChecked()));
        }
        return PropertyPage::OnCommand(id, code);
    }

private:
    const char *name_;
};

class ProbeWindow : public Dialog {
public:
    ProbeWindow() : Dialog(IDD_PROBE) {}

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        UpDown spin(*this, IDC_SPIN);
        spin.SetRange(1, 5);
        spin.SetPosition(3);
        Trackbar(*this, IDC_SLIDER).SetRange(0, 10);
        ComboBox combo(*this, IDC_COMBO);
        ListBox list(*this, IDC_LIST);
        for (const char *entry : {"one", "two", "three", "four"}) {
            combo.AddString(entry);
            list.AddString(entry);
        }
        combo.SetCurrentSelection(0);
        Log("ready");
        return true;
    }

    bool OnCommand(int id, int code) override
    {
        if (id == IDC_SHEET || id == IDC_WIZARD) {
            RunSheet(id == IDC_WIZARD);
            return true;
        }
        if (id != IDC_LOG) {
            Log("command " + std::to_string(id) + " " + std::to_string(code));
        }
        return Dialog::OnCommand(id, code);
    }

    void OnScroll(bool horizontal, int code, int position, WindowHandle control) override
    {
        Log(std::string(horizontal ? "hscroll " : "vscroll ") + std::to_string(code) + " " + std::to_string(position));
        Dialog::OnScroll(horizontal, code, position, control);
    }

private:
    void Log(const std::string &text) { WindowRef(Item(IDC_LOG)).SetText(text); }

    void RunSheet(bool wizardMode)
    {
        ProbePage first(IDD_PAGE_FIRST, "first");
        ProbePage second(IDD_PAGE_SECOND, "second");
        PropertySheetDialog sheet(wizardMode ? "Probe wizard" : "Probe sheet", Handle());
        sheet.AddPage(first);
        sheet.AddPage(second);
        sheet.AddFlags(sheet::NoApplyNow);
        if (wizardMode) {
            sheet.SetWizardMode();
        }
        g_sheetLog.clear();
        intptr_t result = sheet.RunModal();
        Log("sheet " + std::to_string(result) + g_sheetLog);
    }
};

class ProbeApp : public Application {
protected:
    bool InitInstance() override
    {
        ProbeWindow window;
        SetMainWindow(&window);
        window.RunModal();
        SetMainWindow(nullptr);
        return false;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    ProbeApp application;
    return RunProgram(application, reinterpret_cast<ModuleHandle>(instance), showCommand);
}
