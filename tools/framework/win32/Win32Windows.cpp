// Messages, the message loop, windows, timers, message boxes and the module's resources: each
// operation is the user32 function its declaration names.
#include "Win32.h"

namespace tap::ui::sys {

using namespace win32;

// ---- Messages ---------------------------------------------------------------------------------

intptr_t SendTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return SendMessageW(Hwnd(window), message, wParam, lParam);
}

bool PostTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return PostMessageW(Hwnd(window), message, wParam, lParam) != FALSE;
}

int RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // A modeless framework dialog gets its keys (Tab, Enter, Esc) from the dialog manager.
        HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (top && IsFrameworkWindow(top) && IsDialogMessageW(top, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void QuitMessageLoop(int exitCode)
{
    PostQuitMessage(exitCode);
}

// ---- Windows ----------------------------------------------------------------------------------

bool IsWindowHandle(WindowHandle window) { return IsWindow(Hwnd(window)) != FALSE; }
bool DestroyWindowHandle(WindowHandle window) { return DestroyWindow(Hwnd(window)) != FALSE; }
WindowHandle DesktopHandle() { return Handle(GetDesktopWindow()); }
WindowHandle DialogItem(WindowHandle dialog, int id) { return Handle(GetDlgItem(Hwnd(dialog), id)); }
WindowHandle ParentOf(WindowHandle window) { return Handle(GetParent(Hwnd(window))); }

Rect ClientRectOf(WindowHandle window)
{
    RECT r{};
    GetClientRect(Hwnd(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

Rect WindowRectOf(WindowHandle window)
{
    RECT r{};
    GetWindowRect(Hwnd(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

Point ClientToScreenPoint(WindowHandle window, Point p)
{
    POINT point{p.x, p.y};
    ClientToScreen(Hwnd(window), &point);
    return {point.x, point.y};
}

bool SetPosition(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                 uint32_t flags)
{
    return SetWindowPos(Hwnd(window), Hwnd(insertAfter), x, y, cx, cy, flags) != FALSE;
}

bool ShowWindowCommand(WindowHandle window, int command) { return ShowWindow(Hwnd(window), command) != FALSE; }
bool IsWindowShown(WindowHandle window) { return IsWindowVisible(Hwnd(window)) != FALSE; }
bool IsWindowMinimized(WindowHandle window) { return IsIconic(Hwnd(window)) != FALSE; }
bool EnableWindowInput(WindowHandle window, bool enable) { return EnableWindow(Hwnd(window), enable) != FALSE; }
bool IsWindowEnabledForInput(WindowHandle window) { return IsWindowEnabled(Hwnd(window)) != FALSE; }

bool CheckRadioButtons(WindowHandle dialog, int first, int last, int id)
{
    return CheckRadioButton(Hwnd(dialog), first, last, id) != FALSE;
}

bool InvalidateArea(WindowHandle window, const Rect* area, bool erase)
{
    RECT r{};
    if (area) {
        r = {area->left, area->top, area->right, area->bottom};
    }
    return InvalidateRect(Hwnd(window), area ? &r : nullptr, erase) != FALSE;
}

bool UpdateWindowNow(WindowHandle window) { return UpdateWindow(Hwnd(window)) != FALSE; }

bool RedrawArea(WindowHandle window, const Rect* area, uint32_t flags)
{
    RECT r{};
    if (area) {
        r = {area->left, area->top, area->right, area->bottom};
    }
    return RedrawWindow(Hwnd(window), area ? &r : nullptr, nullptr, flags) != FALSE;
}

TimerId StartTimer(WindowHandle window, TimerId id, uint32_t elapse)
{
    return SetTimer(Hwnd(window), id, elapse, nullptr);
}

bool StopTimer(WindowHandle window, TimerId id) { return KillTimer(Hwnd(window), id) != FALSE; }

bool AppendSystemMenuSeparator(WindowHandle window)
{
    HMENU menu = GetSystemMenu(Hwnd(window), FALSE);
    return menu && AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) != FALSE;
}

bool AppendSystemMenuItem(WindowHandle window, uint32_t command, const std::u16string& text)
{
    HMENU menu = GetSystemMenu(Hwnd(window), FALSE);
    return menu && AppendMenuW(menu, MF_STRING, command, Wide(text)) != FALSE;
}

int ShowBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption, uint32_t style)
{
    return MessageBoxW(Hwnd(owner), Wide(text), Wide(caption), style);
}

int CursorShowCounter(bool show) { return ShowCursor(show); }
int SystemMetric(int index) { return GetSystemMetrics(index); }

// ---- Resources --------------------------------------------------------------------------------

IconHandle LoadIconImage(ModuleHandle module, ResourceId id, int size)
{
    // Shared, as LoadIcon's: the system keeps the icon for the life of the module.
    return reinterpret_cast<IconHandle>(
        LoadImageW(Instance(module), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
}

bool LoadStringText(ModuleHandle module, ResourceId id, std::u16string& text)
{
    // With no buffer LoadStringW answers a pointer into the string table itself and the length.
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(Instance(module), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || !resource) {
        return false;
    }
    text.assign(reinterpret_cast<const char16_t*>(resource), static_cast<size_t>(length));
    return true;
}

bool LoadDialogInit(ModuleHandle module, ResourceId templateId, std::vector<uint8_t>& data)
{
    constexpr WORD kDialogInitType = 240; // RT_DLGINIT
    HRSRC found = FindResourceW(Instance(module), MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(kDialogInitType));
    HGLOBAL loaded = found ? LoadResource(Instance(module), found) : nullptr;
    const auto* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        return false;
    }
    data.assign(bytes, bytes + SizeofResource(Instance(module), found));
    return true;
}

std::string ModuleBaseName(ModuleHandle module)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(Instance(module), path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

} // namespace tap::ui::sys
