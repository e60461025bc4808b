// Basic vocabulary of the tools' application framework: geometry, handles and the constants the
// tools pass to it. Every constant has the value of its Windows counterpart (named in the comment),
// so that the Windows backend hands them to user32, gdi32 and comctl32 unchanged. The names are the
// framework's own, so this header can sit beside <windows.h> without clashing with its macros.
#pragma once

#include <cstdint>

namespace tap::ui {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }
};

struct Size {
    int32_t cx = 0;
    int32_t cy = 0;
};

// Left and top inside, right and bottom outside, as a Windows RECT.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const Rect& a, const Rect& b)
    {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

// A colour as a COLORREF: 0x00BBGGRR.
using Color = uint32_t;
constexpr Color Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<Color>(r) | (static_cast<Color>(g) << 8) | (static_cast<Color>(b) << 16);
}

using ResourceId = uint16_t;
using TimerId = uintptr_t;

// Opaque handles: HWND, HICON, HINSTANCE, HGDIOBJ and HDC on Windows.
struct NativeWindow;
struct NativeIcon;
struct NativeModule;
struct NativeGdiObject;
struct NativeDeviceContext;
using WindowHandle = NativeWindow*;
using IconHandle = NativeIcon*;
using ModuleHandle = NativeModule*;
using GdiObjectHandle = NativeGdiObject*;
using DeviceContextHandle = NativeDeviceContext*;

// RedrawWindow flags (RDW_*).
namespace redraw {
constexpr uint32_t Invalidate = 0x0001;
constexpr uint32_t InternalPaint = 0x0002;
constexpr uint32_t Erase = 0x0004;
constexpr uint32_t Validate = 0x0008;
constexpr uint32_t NoInternalPaint = 0x0010;
constexpr uint32_t NoErase = 0x0020;
constexpr uint32_t NoChildren = 0x0040;
constexpr uint32_t AllChildren = 0x0080;
constexpr uint32_t UpdateNow = 0x0100;
constexpr uint32_t EraseNow = 0x0200;
constexpr uint32_t Frame = 0x0400;
constexpr uint32_t NoFrame = 0x0800;
} // namespace redraw

// SetWindowPos flags (SWP_*).
namespace position {
constexpr uint32_t NoSize = 0x0001;
constexpr uint32_t NoMove = 0x0002;
constexpr uint32_t NoZOrder = 0x0004;
constexpr uint32_t NoRedraw = 0x0008;
constexpr uint32_t NoActivate = 0x0010;
constexpr uint32_t FrameChanged = 0x0020;
constexpr uint32_t ShowWindow = 0x0040;
constexpr uint32_t HideWindow = 0x0080;
constexpr uint32_t NoOwnerZOrder = 0x0200;
} // namespace position

// The special insert-after places of SetWindowPos (HWND_TOP, HWND_BOTTOM, HWND_TOPMOST,
// HWND_NOTOPMOST).
enum class ZOrder { Top, Bottom, Topmost, NoTopmost };

// ShowWindow commands (SW_*).
namespace show {
constexpr int Hide = 0;
constexpr int Normal = 1;
constexpr int Minimized = 2;
constexpr int Maximized = 3;
constexpr int NoActivate = 4;
constexpr int Show = 5;
constexpr int Minimize = 6;
constexpr int Restore = 9;
} // namespace show

// Message box styles (MB_*) and the answers (IDOK ...), which are also dialog results.
namespace box {
constexpr uint32_t Ok = 0x00;
constexpr uint32_t OkCancel = 0x01;
constexpr uint32_t AbortRetryIgnore = 0x02;
constexpr uint32_t YesNoCancel = 0x03;
constexpr uint32_t YesNo = 0x04;
constexpr uint32_t RetryCancel = 0x05;
constexpr uint32_t IconError = 0x10;
constexpr uint32_t IconQuestion = 0x20;
constexpr uint32_t IconWarning = 0x30;
constexpr uint32_t IconInformation = 0x40;
} // namespace box

namespace answer {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Abort = 3;
constexpr int Retry = 4;
constexpr int Ignore = 5;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace answer

// GetSystemMetrics indexes (SM_*).
namespace metric {
constexpr int CxScreen = 0;
constexpr int CyScreen = 1;
constexpr int CyCaption = 4;
constexpr int CxBorder = 5;
constexpr int CyBorder = 6;
constexpr int CxFixedFrame = 7;
constexpr int CyFixedFrame = 8;
constexpr int CxIcon = 11;
constexpr int CyIcon = 12;
constexpr int CxFrame = 32;
constexpr int CyFrame = 33;
constexpr int CxEdge = 45;
constexpr int CyEdge = 46;
constexpr int CxSmIcon = 49;
constexpr int CySmIcon = 50;
constexpr int CySmCaption = 51;
} // namespace metric

// Notification codes in WM_COMMAND (BN_CLICKED, EN_CHANGE, CBN_SELCHANGE, LBN_SELCHANGE).
namespace notify {
constexpr int ButtonClicked = 0;
constexpr int EditChange = 0x0300;
constexpr int ComboSelectionChange = 1;
constexpr int ListSelectionChange = 1;
} // namespace notify

// System commands (SC_*), compared after masking with 0xFFF0.
namespace syscommand {
constexpr uint32_t Mask = 0xFFF0;
constexpr uint32_t Minimize = 0xF020;
constexpr uint32_t Maximize = 0xF030;
constexpr uint32_t Close = 0xF060;
constexpr uint32_t Restore = 0xF120;
} // namespace syscommand

// Mouse message key state (MK_*).
namespace keys {
constexpr uint32_t LeftButton = 0x0001;
constexpr uint32_t RightButton = 0x0002;
constexpr uint32_t Shift = 0x0004;
constexpr uint32_t Control = 0x0008;
constexpr uint32_t MiddleButton = 0x0010;
} // namespace keys

// Wizard buttons of a property sheet (PSWIZB_*).
namespace wizard {
constexpr uint32_t Back = 0x1;
constexpr uint32_t Next = 0x2;
constexpr uint32_t Finish = 0x4;
constexpr uint32_t DisabledFinish = 0x8;
} // namespace wizard

// Property sheet header flags (PSH_*).
namespace sheet {
constexpr uint32_t Wizard = 0x0020;
constexpr uint32_t NoApplyNow = 0x0080;
constexpr uint32_t HasHelp = 0x0200;
} // namespace sheet

} // namespace tap::ui
