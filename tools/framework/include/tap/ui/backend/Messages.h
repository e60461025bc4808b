// Window messages and control messages the framework sends and handles, with their Windows values.
// Strings in messages are UTF-16 (char16_t*), as the W functions take them.
#pragma once

#include <cstdint>

namespace tap::ui::msg {

constexpr uint32_t Destroy = 0x0002;           // WM_DESTROY
constexpr uint32_t SetFocus = 0x0007;          // WM_SETFOCUS
constexpr uint32_t Enable = 0x000A;            // WM_ENABLE
constexpr uint32_t SetText = 0x000C;           // WM_SETTEXT
constexpr uint32_t GetText = 0x000D;           // WM_GETTEXT
constexpr uint32_t GetTextLength = 0x000E;     // WM_GETTEXTLENGTH
constexpr uint32_t Paint = 0x000F;             // WM_PAINT
constexpr uint32_t Close = 0x0010;             // WM_CLOSE
constexpr uint32_t Quit = 0x0012;              // WM_QUIT
constexpr uint32_t EraseBackground = 0x0014;   // WM_ERASEBKGND
constexpr uint32_t ShowWindow = 0x0018;        // WM_SHOWWINDOW
constexpr uint32_t CancelMode = 0x001F;        // WM_CANCELMODE
constexpr uint32_t IconEraseBackground = 0x0027; // WM_ICONERASEBKGND
constexpr uint32_t QueryDragIcon = 0x0037;     // WM_QUERYDRAGICON
constexpr uint32_t Notify = 0x004E;            // WM_NOTIFY
constexpr uint32_t NcDestroy = 0x0082;         // WM_NCDESTROY
constexpr uint32_t GetIcon = 0x007F;           // WM_GETICON
constexpr uint32_t SetIcon = 0x0080;           // WM_SETICON
constexpr uint32_t KeyDown = 0x0100;           // WM_KEYDOWN
constexpr uint32_t KeyUp = 0x0101;             // WM_KEYUP
constexpr uint32_t InitDialog = 0x0110;        // WM_INITDIALOG
constexpr uint32_t Command = 0x0111;           // WM_COMMAND
constexpr uint32_t SysCommand = 0x0112;        // WM_SYSCOMMAND
constexpr uint32_t Timer = 0x0113;             // WM_TIMER
constexpr uint32_t HScroll = 0x0114;           // WM_HSCROLL
constexpr uint32_t VScroll = 0x0115;           // WM_VSCROLL
constexpr uint32_t MouseMove = 0x0200;         // WM_MOUSEMOVE
constexpr uint32_t LButtonDown = 0x0201;       // WM_LBUTTONDOWN
constexpr uint32_t LButtonUp = 0x0202;         // WM_LBUTTONUP
constexpr uint32_t RButtonDown = 0x0204;       // WM_RBUTTONDOWN
constexpr uint32_t RButtonUp = 0x0205;         // WM_RBUTTONUP
constexpr uint32_t MButtonDown = 0x0207;       // WM_MBUTTONDOWN
constexpr uint32_t MButtonUp = 0x0208;         // WM_MBUTTONUP
constexpr uint32_t User = 0x0400;              // WM_USER

// Buttons.
constexpr uint32_t ButtonGetCheck = 0x00F0;    // BM_GETCHECK
constexpr uint32_t ButtonSetCheck = 0x00F1;    // BM_SETCHECK
constexpr uint32_t ButtonClick = 0x00F5;       // BM_CLICK
constexpr uint32_t ButtonGetImage = 0x00F6;    // BM_GETIMAGE
constexpr uint32_t ButtonSetImage = 0x00F7;    // BM_SETIMAGE
constexpr uintptr_t ImageIcon = 1;             // IMAGE_ICON

// Edit controls.
constexpr uint32_t EditSetReadOnly = 0x00CF;   // EM_SETREADONLY

// Combo boxes.
constexpr uint32_t ComboAddString = 0x0143;    // CB_ADDSTRING
constexpr uint32_t ComboDeleteString = 0x0144; // CB_DELETESTRING
constexpr uint32_t ComboGetCount = 0x0146;     // CB_GETCOUNT
constexpr uint32_t ComboGetCurSel = 0x0147;    // CB_GETCURSEL
constexpr uint32_t ComboGetLbText = 0x0148;    // CB_GETLBTEXT
constexpr uint32_t ComboGetLbTextLen = 0x0149; // CB_GETLBTEXTLEN
constexpr uint32_t ComboInsertString = 0x014A; // CB_INSERTSTRING
constexpr uint32_t ComboResetContent = 0x014B; // CB_RESETCONTENT
constexpr uint32_t ComboSetCurSel = 0x014E;    // CB_SETCURSEL
constexpr uint32_t ComboFindStringExact = 0x0158; // CB_FINDSTRINGEXACT

// List boxes.
constexpr uint32_t ListAddString = 0x0180;     // LB_ADDSTRING
constexpr uint32_t ListInsertString = 0x0181;  // LB_INSERTSTRING
constexpr uint32_t ListDeleteString = 0x0182;  // LB_DELETESTRING
constexpr uint32_t ListResetContent = 0x0184;  // LB_RESETCONTENT
constexpr uint32_t ListSetCurSel = 0x0186;     // LB_SETCURSEL
constexpr uint32_t ListGetCurSel = 0x0188;     // LB_GETCURSEL
constexpr uint32_t ListGetText = 0x0189;       // LB_GETTEXT
constexpr uint32_t ListGetTextLen = 0x018A;    // LB_GETTEXTLEN
constexpr uint32_t ListGetCount = 0x018B;      // LB_GETCOUNT
constexpr uint32_t ListFindStringExact = 0x01A2; // LB_FINDSTRINGEXACT

// Up-down controls.
constexpr uint32_t UpDownSetBuddy = User + 105;   // UDM_SETBUDDY
constexpr uint32_t UpDownSetRange32 = User + 111; // UDM_SETRANGE32
constexpr uint32_t UpDownGetRange32 = User + 112; // UDM_GETRANGE32
constexpr uint32_t UpDownSetPos32 = User + 113;   // UDM_SETPOS32
constexpr uint32_t UpDownGetPos32 = User + 114;   // UDM_GETPOS32

// Trackbars.
constexpr uint32_t TrackbarGetPos = User;          // TBM_GETPOS
constexpr uint32_t TrackbarGetRangeMin = User + 1; // TBM_GETRANGEMIN
constexpr uint32_t TrackbarGetRangeMax = User + 2; // TBM_GETRANGEMAX
constexpr uint32_t TrackbarSetPos = User + 5;      // TBM_SETPOS
constexpr uint32_t TrackbarSetRangeMin = User + 7; // TBM_SETRANGEMIN
constexpr uint32_t TrackbarSetRangeMax = User + 8; // TBM_SETRANGEMAX

// Progress bars.
constexpr uint32_t ProgressSetPos = User + 2;      // PBM_SETPOS
constexpr uint32_t ProgressSetStep = User + 4;     // PBM_SETSTEP
constexpr uint32_t ProgressStepIt = User + 5;      // PBM_STEPIT
constexpr uint32_t ProgressSetRange32 = User + 6;  // PBM_SETRANGE32
constexpr uint32_t ProgressGetPos = User + 8;      // PBM_GETPOS

// Property sheets.
constexpr uint32_t SheetSetCurSel = User + 101;       // PSM_SETCURSEL
constexpr uint32_t SheetPressButton = User + 113;     // PSM_PRESSBUTTON
constexpr uint32_t SheetSetWizButtons = User + 112;   // PSM_SETWIZBUTTONS
constexpr int PageSetActive = -200;                   // PSN_SETACTIVE
constexpr int PageKillActive = -201;                  // PSN_KILLACTIVE
constexpr int PageApply = -202;                       // PSN_APPLY
constexpr int PageReset = -203;                       // PSN_RESET
constexpr int PageWizardBack = -206;                  // PSN_WIZBACK
constexpr int PageWizardNext = -207;                  // PSN_WIZNEXT
constexpr int PageWizardFinish = -208;                // PSN_WIZFINISH
constexpr uintptr_t SheetButtonBack = 0;              // PSBTN_BACK
constexpr uintptr_t SheetButtonNext = 1;              // PSBTN_NEXT
constexpr uintptr_t SheetButtonFinish = 2;            // PSBTN_FINISH
constexpr uintptr_t SheetButtonOk = 3;                // PSBTN_OK
constexpr uintptr_t SheetButtonApply = 4;             // PSBTN_APPLYNOW
constexpr uintptr_t SheetButtonCancel = 5;            // PSBTN_CANCEL

// The header of WM_NOTIFY (NMHDR): sender, its id, the code. Pointer-sized fields as on Windows.
struct NotifyHeader {
    void* from;
    uintptr_t id;
    int32_t code;
};

// Results a page stores as a PSN_* answer (DWLP_MSGRESULT on Windows).
constexpr intptr_t PageInvalid = 1;   // PSNRET_INVALID_NOCHANGEPAGE for PSN_APPLY / PSN_KILLACTIVE

} // namespace tap::ui::msg
