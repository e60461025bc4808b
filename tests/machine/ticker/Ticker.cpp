// Ticker: a program module for the tests of the machine's desktop and processes.
//
// Its window's caption reads "<command line> ticks N", N counting a 100 ms timer in a global of
// the image (so each process shows whether its globals are its own). A left click shows a message
// box naming the client point, a right click one naming the file of its instance handle; Enter starts "Ticker.exe child" with WinExec and shows what
// WinExec returned in a message box; Esc closes the window, and WinMain returns 7.
#include <windows.h>

#include <string>

#include "resource.h"
#include "tap/ui/Framework.h"

namespace {

using namespace tap::ui;

int g_ticks = 0;
std::string g_commandLine;
HINSTANCE g_instance = NULL;

class TickerWindow : public Dialog {
public:
    TickerWindow() : Dialog(IDD_TICKER) {}

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        SetTimer(1, 100);
        ShowTicks();
        return true;
    }

    void OnTimer(TimerId id) override
    {
        ++g_ticks;
        ShowTicks();
        Dialog::OnTimer(id);
    }

    void OnLButtonUp(uint32_t keys, Point client) override
    {
        Dialog::OnLButtonUp(keys, client);
        ShowMessageBox("clicked at " + std::to_string(client.x) + "," + std::to_string(client.y), "Ticker",
                       box::Ok);
    }

    void OnRButtonUp(uint32_t keys, Point client) override
    {
        Dialog::OnRButtonUp(keys, client);
        char path[MAX_PATH] = "";
        GetModuleFileNameA(g_instance, path, MAX_PATH);
        ShowMessageBox(std::string("module ") + path, "Ticker", box::Ok);
    }

    void OnOK() override
    {
        UINT result = WinExec("Ticker.exe child", 1);
        ShowMessageBox("WinExec " + std::to_string(result), "Ticker", box::Ok);
    }

private:
    void ShowTicks() { SetText(g_commandLine + " ticks " + std::to_string(g_ticks)); }
};

class TickerApp : public Application {
protected:
    bool InitInstance() override
    {
        TickerWindow window;
        SetMainWindow(&window);
        window.RunModal();
        SetMainWindow(nullptr);
        return false;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    g_commandLine = commandLine;
    g_instance = instance;
    TickerApp application;
    RunProgram(application, reinterpret_cast<ModuleHandle>(instance), showCommand);
    return 7;
}
