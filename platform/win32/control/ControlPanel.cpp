// The Control Panel of the simulated PC (control.exe): `control NAME.cpl` loads the applet
// library by its file name (a bare name from the system folder), as the shell does - DllMain with
// its instance handle, then through its CPlApplet export CPL_INIT, CPL_GETCOUNT and CPL_INQUIRE
// for each applet - shows the applets, and opens the first with CPL_DBLCLK. Closing the window
// sends CPL_STOP to each applet and CPL_EXIT, and unloads the library. Every call runs on the
// Control Panel's own thread; the library is a fresh image each time, so a second start begins
// from the applet's defaults.
#include <windows.h>
#include <cpl.h>

#include <memory>
#include <string>
#include <vector>

#include <machine/Machine.h>
#include <machine/ModuleLoader.h>
#include <machine/ProgramModule.h>

#include "resource.h"
#include "tap/res/ResourceModule.h"
#include "tap/ui/Framework.h"
#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/Text.h"

namespace {

using namespace tap::ui;

typedef BOOL(WINAPI *DllEntry)(HINSTANCE instance, DWORD reason, LPVOID reserved);

constexpr int kOpenFirstApplet = 0x7F00; // a command the window posts itself once it is shown

// "MonoPanel.cpl" or "\"C:\\...\\MonoPanel.cpl\"": the library's Windows path.
std::string AppletPath(std::string commandLine)
{
    while (!commandLine.empty() && (commandLine.back() == ' ' || commandLine.back() == '"')) {
        commandLine.pop_back();
    }
    size_t start = commandLine.find_first_not_of(" \"");
    commandLine = start == std::string::npos ? std::string() : commandLine.substr(start);
    if (!commandLine.empty() && commandLine.find_first_of("\\:") == std::string::npos) {
        return "C:\\WINDOWS\\system32\\" + commandLine;
    }
    return commandLine;
}

std::string FileName(const std::string &path)
{
    size_t separator = path.find_last_of('\\');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// One loaded applet library.
class AppletLibrary {
public:
    // Loads the library and initialises its applets; false (nothing loaded) when the file is
    // missing, is no applet library, or its CPL_INIT fails.
    bool Load(const std::string &path, HWND window)
    {
        tapmachine::Machine &machine = tapmachine::Machine::Current();
        std::optional<std::string> host = machine.files().HostPath(ToUtf16(path));
        if (!host || !machine.files().Exists(ToUtf16(path))) {
            return false;
        }
        try {
            image_ = loader_.Load(*host);
        } catch (const tapmachine::ModuleLoadError &) {
            return false;
        }
        auto resources = reinterpret_cast<TapProgramResourcesRoutine>(image_->Symbol(TAP_PROGRAM_RESOURCES_SYMBOL));
        entry_ = reinterpret_cast<DllEntry>(image_->Symbol("DllMain"));
        applet_ = reinterpret_cast<APPLET_PROC>(image_->Symbol("CPlApplet"));
        if (!resources || !applet_) {
            image_.reset();
            return false;
        }
        instance_ = static_cast<HINSTANCE>(const_cast<void *>(resources()));
        if (entry_ && !entry_(instance_, DLL_PROCESS_ATTACH, NULL)) {
            image_.reset();
            return false;
        }
        if (!applet_(window, CPL_INIT, 0, 0)) {
            applet_(window, CPL_EXIT, 0, 0);
            Unload();
            return false;
        }
        LONG count = applet_(window, CPL_GETCOUNT, 0, 0);
        for (LONG i = 0; i < count; ++i) {
            CPLINFO info = {0, 0, 0, 0};
            applet_(window, CPL_INQUIRE, i, reinterpret_cast<LPARAM>(&info));
            info_.push_back(info);
            machine.applets().Record({FileName(path), static_cast<unsigned>(i), info.idIcon, Text(info.idName),
                                      Text(info.idInfo)});
        }
        return true;
    }

    size_t Count() const { return info_.size(); }
    std::string Name(size_t applet) const { return Text(info_[applet].idName); }
    std::string Description(size_t applet) const { return Text(info_[applet].idInfo); }

    void Open(HWND window, size_t applet)
    {
        applet_(window, CPL_DBLCLK, static_cast<LPARAM>(applet), info_[applet].lData);
    }

    // CPL_STOP for each applet, CPL_EXIT, and the library unloaded.
    void Close(HWND window)
    {
        if (!image_) {
            return;
        }
        for (size_t i = 0; i < info_.size(); ++i) {
            applet_(window, CPL_STOP, static_cast<LPARAM>(i), info_[i].lData);
        }
        applet_(window, CPL_EXIT, 0, 0);
        Unload();
    }

private:
    std::string Text(int id) const
    {
        const auto *resources = reinterpret_cast<const tap::res::ResourceModule *>(instance_);
        const tap::res::StringResource *found = resources->FindString(static_cast<uint16_t>(id));
        return found ? ToUtf8(found->text) : std::string();
    }

    void Unload()
    {
        if (entry_) {
            entry_(instance_, DLL_PROCESS_DETACH, NULL);
        }
        info_.clear();
        image_.reset();
    }

    tapmachine::ModuleLoader loader_;
    std::unique_ptr<tapmachine::LoadedModule> image_;
    DllEntry entry_ = nullptr;
    APPLET_PROC applet_ = nullptr;
    HINSTANCE instance_ = NULL;
    std::vector<CPLINFO> info_;
};

class ControlPanelWindow : public Dialog {
public:
    explicit ControlPanelWindow(std::string path) : Dialog(IDD_CONTROL_PANEL), path_(std::move(path)) {}

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        if (!library_.Load(path_, Window())) {
            EndDialog(1);
            return false;
        }
        ListBox applets(*this, IDC_APPLETS);
        for (size_t i = 0; i < library_.Count(); ++i) {
            applets.AddString(library_.Name(i));
        }
        if (library_.Count() > 0) {
            applets.SetCurrentSelection(0);
            Item(IDC_DESCRIPTION).SetText(library_.Description(0));
            Post(msg::Command, kOpenFirstApplet);
        }
        return true;
    }

    bool OnCommand(int id, int notification) override
    {
        if (id == kOpenFirstApplet) {
            library_.Open(Window(), 0);
            return true;
        }
        return Dialog::OnCommand(id, notification);
    }

    // Esc, or the close box.
    void OnCancel() override
    {
        library_.Close(Window());
        Dialog::OnCancel();
    }

private:
    HWND Window() const { return reinterpret_cast<HWND>(Handle()); }

    std::string path_;
    AppletLibrary library_;
};

class ControlPanelApp : public Application {
public:
    explicit ControlPanelApp(std::string path) : path_(std::move(path)) {}

protected:
    bool InitInstance() override
    {
        ControlPanelWindow window(path_);
        SetMainWindow(&window);
        exitCode_ = window.RunModal() == answer::Cancel ? 0 : 1;
        SetMainWindow(nullptr);
        return false;
    }
    int ExitInstance() override { return exitCode_; }

private:
    std::string path_;
    int exitCode_ = 1;
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    ControlPanelApp application(AppletPath(commandLine ? commandLine : ""));
    return RunProgram(application, reinterpret_cast<ModuleHandle>(instance), showCommand);
}
