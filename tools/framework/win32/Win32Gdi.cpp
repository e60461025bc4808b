// Device contexts, pens, brushes and figures: each operation is the gdi32 (or user32) function its
// declaration names.
#include "Win32.h"

namespace tap::ui::sys {

using namespace win32;

namespace {

// EndPaint wants the PAINTSTRUCT BeginPaint filled in; the framework keeps only the device
// context, so the records of the paints in progress on this thread wait here. Paints nest only
// when a paint handler sends a message that paints another window. Plain records: a thread_local
// with a destructor would need a runtime function that Windows 2000 lacks.
struct PaintInProgress {
    HWND window;
    PAINTSTRUCT paint;
};
constexpr int kMostNestedPaints = 16;
thread_local PaintInProgress t_paints[kMostNestedPaints];
thread_local int t_paintCount = 0;

} // namespace

DeviceContextHandle AcquireDC(WindowHandle window)
{
    return reinterpret_cast<DeviceContextHandle>(GetDC(Hwnd(window)));
}

void ReleaseDC(WindowHandle window, DeviceContextHandle dc)
{
    ::ReleaseDC(Hwnd(window), Hdc(dc));
}

DeviceContextHandle BeginPaintDC(WindowHandle window)
{
    PaintInProgress record{Hwnd(window), {}};
    HDC dc = BeginPaint(record.window, &record.paint);
    if (dc && t_paintCount < kMostNestedPaints) {
        t_paints[t_paintCount++] = record;
    }
    return reinterpret_cast<DeviceContextHandle>(dc);
}

void EndPaintDC(WindowHandle window, DeviceContextHandle dc)
{
    for (int i = t_paintCount - 1; i >= 0; --i) {
        if (t_paints[i].window == Hwnd(window) && t_paints[i].paint.hdc == Hdc(dc)) {
            EndPaint(t_paints[i].window, &t_paints[i].paint);
            for (int j = i + 1; j < t_paintCount; ++j) {
                t_paints[j - 1] = t_paints[j];
            }
            --t_paintCount;
            return;
        }
    }
}

GdiObjectHandle CreateSolidPen(int32_t width, Color color)
{
    return reinterpret_cast<GdiObjectHandle>(CreatePen(PS_SOLID, width, color));
}

GdiObjectHandle CreateSolidBrushObject(Color color)
{
    return reinterpret_cast<GdiObjectHandle>(CreateSolidBrush(color));
}

GdiObjectHandle StockObjectHandle(int index)
{
    return reinterpret_cast<GdiObjectHandle>(GetStockObject(index));
}

bool DeleteGdiObject(GdiObjectHandle object) { return DeleteObject(Hgdi(object)) != FALSE; }

GdiObjectHandle SelectIntoDC(DeviceContextHandle dc, GdiObjectHandle object)
{
    return reinterpret_cast<GdiObjectHandle>(SelectObject(Hdc(dc), Hgdi(object)));
}

bool DrawRectangle(DeviceContextHandle dc, const Rect& r)
{
    return Rectangle(Hdc(dc), r.left, r.top, r.right, r.bottom) != FALSE;
}

bool DrawEllipse(DeviceContextHandle dc, const Rect& r)
{
    return Ellipse(Hdc(dc), r.left, r.top, r.right, r.bottom) != FALSE;
}

Point MoveCurrentPosition(DeviceContextHandle dc, Point p)
{
    POINT previous{};
    MoveToEx(Hdc(dc), p.x, p.y, &previous);
    return {previous.x, previous.y};
}

bool DrawLineTo(DeviceContextHandle dc, Point p) { return LineTo(Hdc(dc), p.x, p.y) != FALSE; }

bool FillWithBrush(DeviceContextHandle dc, const Rect& r, GdiObjectHandle brush)
{
    const RECT area{r.left, r.top, r.right, r.bottom};
    return FillRect(Hdc(dc), &area, reinterpret_cast<HBRUSH>(brush)) != 0;
}

bool DrawIconAt(DeviceContextHandle dc, Point at, IconHandle icon)
{
    return DrawIcon(Hdc(dc), at.x, at.y, Hicon(icon)) != FALSE;
}

} // namespace tap::ui::sys
