// Dialogs and property sheets on the system's dialog manager and property-sheet control.
//
// A framework dialog is a system dialog (class #32770) built by DialogBoxParamW,
// CreateDialogParamW or, for a property page, by the property-sheet control. Its dialog procedure
// subclasses the window at WM_INITDIALOG: from then on the window procedure is ours and hands every
// message to the framework's target, and the target's default processing is the original dialog
// window procedure, i.e. DefDlgProcW, which calls the dialog procedure again and is told FALSE
// ("not handled") for everything.
#include "Win32.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

namespace tap::ui::win32 {
namespace {

// The property naming a framework window's record.
const wchar_t kRecordProperty[] = L"TapFrameworkWindow";

struct WindowRecord {
    sys::MessageTarget* target;
    WNDPROC original;
};

WindowRecord* RecordOf(HWND window)
{
    return static_cast<WindowRecord*>(GetPropW(window, kRecordProperty));
}

LRESULT CALLBACK FrameworkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord* record = RecordOf(window);
    if (!record) {
        return DefDlgProcW(window, message, wParam, lParam);
    }
    const LRESULT result = record->target->Dispatch(Handle(window), message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The last message of the window: its default processing has run inside Dispatch.
        RemovePropW(window, kRecordProperty);
        delete record;
    }
    return result;
}

void Attach(HWND window, sys::MessageTarget* target)
{
    auto* record = new WindowRecord{target, nullptr};
    SetPropW(window, kRecordProperty, record);
    record->original =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FrameworkWindowProc)));
}

// Subclasses WINDOW for TARGET and hands it WM_INITDIALOG, whose answer (set the focus or not) is
// the dialog procedure's return value.
INT_PTR InitDialog(HWND window, sys::MessageTarget* target, WPARAM wParam, LPARAM lParam)
{
    if (!target || RecordOf(window)) {
        return FALSE;
    }
    Attach(window, target);
    return target->Dispatch(Handle(window), WM_INITDIALOG, wParam, lParam);
}

} // namespace

bool IsFrameworkWindow(HWND window)
{
    return RecordOf(window) != nullptr;
}

void EnsureCommonControls()
{
    static const bool registered = [] {
        INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)registered;
}

INT_PTR CALLBACK FrameworkDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    return InitDialog(window, reinterpret_cast<sys::MessageTarget*>(lParam), wParam, lParam);
}

INT_PTR CALLBACK FrameworkPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    // A page's creation parameter is the PROPSHEETPAGE the sheet made it from.
    const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    return InitDialog(window, page ? reinterpret_cast<sys::MessageTarget*>(page->lParam) : nullptr, wParam, lParam);
}

} // namespace tap::ui::win32

namespace tap::ui::sys {

using namespace win32;

WindowHandle CreateDialogWindow(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target)
{
    EnsureCommonControls();
    return Handle(CreateDialogParamW(Instance(module), MAKEINTRESOURCEW(templateId), Hwnd(parent), FrameworkDialogProc,
                                     reinterpret_cast<LPARAM>(target)));
}

intptr_t RunDialog(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target)
{
    EnsureCommonControls();
    return DialogBoxParamW(Instance(module), MAKEINTRESOURCEW(templateId), Hwnd(parent), FrameworkDialogProc,
                           reinterpret_cast<LPARAM>(target));
}

bool EndDialogRun(WindowHandle dialog, intptr_t result)
{
    return EndDialog(Hwnd(dialog), result) != FALSE;
}

intptr_t DefaultProcessing(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    HWND hwnd = Hwnd(window);
    if (WindowRecord* record = RecordOf(hwnd)) {
        return CallWindowProcW(record->original, hwnd, message, wParam, lParam);
    }
    return DefDlgProcW(hwnd, message, wParam, lParam);
}

intptr_t RunPropertySheet(const SheetHeader& header)
{
    if (header.pages.empty()) {
        return -1;
    }
    EnsureCommonControls();
    // Version 1 page records, which every comctl32 takes; the framework needs no later field. The
    // sheet steps from record to record by their dwSize, so they lie that far apart.
    const size_t stride = PROPSHEETPAGEW_V1_SIZE;
    std::vector<DWORD> records((stride / sizeof(DWORD)) * header.pages.size());
    for (size_t i = 0; i < header.pages.size(); ++i) {
        PROPSHEETPAGEW page{};
        page.dwSize = static_cast<DWORD>(stride);
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = Instance(header.pages[i].module);
        page.pszTemplate = MAKEINTRESOURCEW(header.pages[i].templateId);
        page.pfnDlgProc = FrameworkPageProc;
        page.lParam = reinterpret_cast<LPARAM>(header.pages[i].target);
        std::memcpy(reinterpret_cast<unsigned char*>(records.data()) + i * stride, &page, stride);
    }
    // The version 1 header: the framework needs none of the later fields (wizard images).
    PROPSHEETHEADERW sheet{};
    sheet.dwSize = PROPSHEETHEADERW_V1_SIZE;
    sheet.dwFlags = header.flags | PSH_PROPSHEETPAGE;
    sheet.hwndParent = Hwnd(header.parent);
    sheet.hInstance = Instance(header.pages.front().module);
    sheet.pszCaption = Wide(header.caption);
    sheet.nPages = static_cast<UINT>(header.pages.size());
    sheet.nStartPage = header.startPage < header.pages.size() ? header.startPage : 0;
    sheet.ppsp = reinterpret_cast<LPCPROPSHEETPAGEW>(records.data());
    return PropertySheetW(&sheet);
}

} // namespace tap::ui::sys
