// The contract between the framework and its backend: the window system operations the framework
// is built on, one for one with user32, gdi32 and comctl32 functions (named in the comments) so
// that the Windows backend is a thin layer over them. The host backend implements the same on the
// simulated PC's desktop. Tools never include this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tap/ui/Types.h"

namespace tap::ui::sys {

// The window procedure of a window the framework created (a dialog, a property page). It sees
// every message; what it does not handle it passes to DefaultProcessing.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual intptr_t Dispatch(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Special insert-after handles of SetPosition (HWND_TOP, HWND_BOTTOM, HWND_TOPMOST, HWND_NOTOPMOST).
inline WindowHandle InsertAfter(ZOrder place)
{
    switch (place) {
    case ZOrder::Top: return reinterpret_cast<WindowHandle>(intptr_t{0});
    case ZOrder::Bottom: return reinterpret_cast<WindowHandle>(intptr_t{1});
    case ZOrder::Topmost: return reinterpret_cast<WindowHandle>(intptr_t{-1});
    case ZOrder::NoTopmost: break;
    }
    return reinterpret_cast<WindowHandle>(intptr_t{-2});
}

// ---- Dialogs ----------------------------------------------------------------------------------
// CreateDialogParamW / DialogBoxParamW with the template of MODULE; the target gets WM_INITDIALOG
// and every later message. RunDialog returns EndDialog's result, or -1 without a template.
WindowHandle CreateDialogWindow(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target);
intptr_t RunDialog(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target);
bool EndDialogRun(WindowHandle dialog, intptr_t result);                        // EndDialog
// DefDlgProcW's handling of a message, without calling the target again.
intptr_t DefaultProcessing(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- Property sheets --------------------------------------------------------------------------
struct SheetPage {
    ModuleHandle module;
    ResourceId templateId;
    MessageTarget* target;
};
struct SheetHeader {
    uint32_t flags;            // PSH_*
    WindowHandle parent;
    std::u16string caption;
    unsigned startPage;
    std::vector<SheetPage> pages;
};
// PropertySheetW, modal: >0 when it closed with OK or Finish, 0 with Cancel, -1 on failure.
intptr_t RunPropertySheet(const SheetHeader& header);

// ---- Messages and windows ---------------------------------------------------------------------
intptr_t SendTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam); // SendMessageW
bool PostTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);     // PostMessageW
// GetMessage/IsDialogMessage/TranslateMessage/DispatchMessage until WM_QUIT; returns its code.
int RunMessageLoop();
void QuitMessageLoop(int exitCode);                                             // PostQuitMessage

bool IsWindowHandle(WindowHandle window);                                       // IsWindow
bool DestroyWindowHandle(WindowHandle window);                                  // DestroyWindow
WindowHandle DesktopHandle();                                                   // GetDesktopWindow
WindowHandle DialogItem(WindowHandle dialog, int id);                           // GetDlgItem
WindowHandle ParentOf(WindowHandle window);                                     // GetParent
Rect ClientRectOf(WindowHandle window);                                         // GetClientRect
Rect WindowRectOf(WindowHandle window);                                         // GetWindowRect
Point ClientToScreenPoint(WindowHandle window, Point p);                        // ClientToScreen
bool SetPosition(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                 uint32_t flags);                                               // SetWindowPos
bool ShowWindowCommand(WindowHandle window, int command);                       // ShowWindow
bool IsWindowShown(WindowHandle window);                                        // IsWindowVisible
bool IsWindowMinimized(WindowHandle window);                                    // IsIconic
bool EnableWindowInput(WindowHandle window, bool enable);                       // EnableWindow
bool IsWindowEnabledForInput(WindowHandle window);                              // IsWindowEnabled
bool CheckRadioButtons(WindowHandle dialog, int first, int last, int id);       // CheckRadioButton

bool InvalidateArea(WindowHandle window, const Rect* area, bool erase);          // InvalidateRect
bool UpdateWindowNow(WindowHandle window);                                      // UpdateWindow
bool RedrawArea(WindowHandle window, const Rect* area, uint32_t flags);         // RedrawWindow

TimerId StartTimer(WindowHandle window, TimerId id, uint32_t elapse);           // SetTimer
bool StopTimer(WindowHandle window, TimerId id);                                // KillTimer

// GetSystemMenu(FALSE), then AppendMenuW: a separator (MF_SEPARATOR), or an item (MF_STRING) whose
// choice sends WM_SYSCOMMAND with COMMAND.
bool AppendSystemMenuSeparator(WindowHandle window);
bool AppendSystemMenuItem(WindowHandle window, uint32_t command, const std::u16string& text);

int ShowBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption, uint32_t style); // MessageBoxW
int CursorShowCounter(bool show);                                               // ShowCursor
int SystemMetric(int index);                                                    // GetSystemMetrics

// ---- Resources --------------------------------------------------------------------------------
IconHandle LoadIconImage(ModuleHandle module, ResourceId id, int size);          // LoadImageW(IMAGE_ICON)
bool LoadStringText(ModuleHandle module, ResourceId id, std::u16string& text);  // LoadStringW
std::string ModuleBaseName(ModuleHandle module);                                // GetModuleFileNameA, less path and extension
// The DLGINIT resource of a dialog template (FindResource(RT_DLGINIT), LoadResource): false when
// the template has none.
bool LoadDialogInit(ModuleHandle module, ResourceId templateId, std::vector<uint8_t>& data);

// ---- Drawing ----------------------------------------------------------------------------------
DeviceContextHandle AcquireDC(WindowHandle window);                             // GetDC
void ReleaseDC(WindowHandle window, DeviceContextHandle dc);                    // ReleaseDC
DeviceContextHandle BeginPaintDC(WindowHandle window);                          // BeginPaint
void EndPaintDC(WindowHandle window, DeviceContextHandle dc);                   // EndPaint
GdiObjectHandle CreateSolidPen(int32_t width, Color color);                     // CreatePen(PS_SOLID)
GdiObjectHandle CreateSolidBrushObject(Color color);                            // CreateSolidBrush
GdiObjectHandle StockObjectHandle(int index);                                   // GetStockObject
bool DeleteGdiObject(GdiObjectHandle object);                                   // DeleteObject
GdiObjectHandle SelectIntoDC(DeviceContextHandle dc, GdiObjectHandle object);    // SelectObject
bool DrawRectangle(DeviceContextHandle dc, const Rect& r);                      // Rectangle
bool DrawEllipse(DeviceContextHandle dc, const Rect& r);                        // Ellipse
Point MoveCurrentPosition(DeviceContextHandle dc, Point p);                     // MoveToEx
bool DrawLineTo(DeviceContextHandle dc, Point p);                               // LineTo
bool FillWithBrush(DeviceContextHandle dc, const Rect& r, GdiObjectHandle brush); // FillRect
bool DrawIconAt(DeviceContextHandle dc, Point at, IconHandle icon);             // DrawIcon

} // namespace tap::ui::sys
