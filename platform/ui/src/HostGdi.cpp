// Device contexts and GDI objects of the host window system, drawing into the desktop's
// framebuffer through the rasterizer with the window's visible region as the clip.
#include <algorithm>

#include "Host.h"

namespace tap::ui::host {
namespace {

// The stock objects, by GetStockObject index.
HostGdiObject* Stock(int index)
{
    static HostGdiObject whiteBrush{HostGdiObject::Kind::Brush, {}, desktop::Brush{false, 0xFFFFFF}, true};
    static HostGdiObject blackBrush{HostGdiObject::Kind::Brush, {}, desktop::Brush{false, 0x000000}, true};
    static HostGdiObject hollowBrush{HostGdiObject::Kind::Brush, {}, desktop::Brush{true, 0}, true};
    static HostGdiObject whitePen{HostGdiObject::Kind::Pen, desktop::Pen{true, 1, 0xFFFFFF}, {}, true};
    static HostGdiObject blackPen{HostGdiObject::Kind::Pen, desktop::Pen{true, 1, 0x000000}, {}, true};
    static HostGdiObject nullPen{HostGdiObject::Kind::Pen, desktop::Pen{false, 1, 0}, {}, true};
    switch (index) {
    case 0: return &whiteBrush;  // WHITE_BRUSH
    case 4: return &blackBrush;  // BLACK_BRUSH
    case 5: return &hollowBrush; // NULL_BRUSH, HOLLOW_BRUSH
    case 6: return &whitePen;    // WHITE_PEN
    case 7: return &blackPen;    // BLACK_PEN
    case 8: return &nullPen;     // NULL_PEN
    default: return nullptr;
    }
}

HostGdiObject* ObjectOf(GdiObjectHandle handle)
{
    auto* object = reinterpret_cast<HostGdiObject*>(handle);
    for (int index : {0, 4, 5, 6, 7, 8}) {
        if (object == Stock(index)) {
            return object;
        }
    }
    Lock lock(CurrentState().mutex);
    return CurrentState().gdiObjects.count(object) ? object : nullptr;
}

GdiObjectHandle HandleOf(HostGdiObject* object)
{
    return reinterpret_cast<GdiObjectHandle>(object);
}

// The DC's origin and clip from where its window is now (the screen for the root window).
void PlaceDC(HostDC& dc, const desktop::Region* updateInClient)
{
    Session::State& state = CurrentState();
    if (dc.window == state.root || !dc.window) {
        dc.clip = desktop::Region(state.desktop.ScreenRect());
        return;
    }
    desktop::WindowId id;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(dc.window);
        id = w ? w->id : desktop::kNoWindow;
    }
    desktop::Rect client = state.desktop.ScreenClientRect(id);
    dc.origin = {client.left, client.top};
    dc.clip = state.desktop.VisibleRegion(id, true);
    if (updateInClient) {
        dc.clip.Intersect(updateInClient->Offset(client.left, client.top));
    }
}

DeviceContextHandle NewDC(WindowHandle window, const desktop::Region* updateInClient)
{
    Session::State& state = CurrentState();
    auto* dc = new HostDC{window, {}, {}, !updateInClient, HandleOf(Stock(7)), HandleOf(Stock(0)), {}};
    PlaceDC(*dc, updateInClient);
    Lock lock(state.mutex);
    state.dcs.insert(dc);
    return reinterpret_cast<DeviceContextHandle>(dc);
}

void DeleteDC(DeviceContextHandle handle)
{
    Lock lock(CurrentState().mutex);
    auto* dc = reinterpret_cast<HostDC*>(handle);
    if (CurrentState().dcs.erase(dc)) {
        delete dc;
    }
}

// Runs DRAW on a canvas of DC with the screen locked; false for an unknown DC.
template <typename Draw>
bool WithCanvas(DeviceContextHandle handle, Draw draw)
{
    HostDC* dc = DCOf(handle);
    if (!dc) {
        return false;
    }
    Session::State& state = CurrentState();
    // The screen is locked before the place is taken: a window that moves meanwhile paints
    // after this figure, over it.
    auto screenLock = state.desktop.LockScreen();
    if (dc->follows) {
        PlaceDC(*dc, nullptr);
    }
    desktop::Canvas canvas(state.desktop.Screen(), dc->origin, dc->clip);
    draw(*dc, canvas);
    return true;
}

desktop::Pen PenOf(const HostDC& dc)
{
    HostGdiObject* pen = ObjectOf(dc.pen);
    return pen ? pen->pen : desktop::Pen{};
}

desktop::Brush BrushOf(const HostDC& dc)
{
    HostGdiObject* brush = ObjectOf(dc.brush);
    return brush ? brush->brush : desktop::Brush{};
}

} // namespace

HostDC* DCOf(DeviceContextHandle handle)
{
    Lock lock(CurrentState().mutex);
    auto* dc = reinterpret_cast<HostDC*>(handle);
    return CurrentState().dcs.count(dc) ? dc : nullptr;
}

desktop::Canvas ClientCanvas(WindowHandle, DeviceContextHandle handle)
{
    HostDC* dc = DCOf(handle);
    Session::State& state = CurrentState();
    return desktop::Canvas(state.desktop.Screen(), dc ? dc->origin : desktop::Point{},
                           dc ? dc->clip : desktop::Region());
}

desktop::Rgb ToRgb(Color color)
{
    return desktop::MakeRgb(static_cast<uint8_t>(color), static_cast<uint8_t>(color >> 8),
                            static_cast<uint8_t>(color >> 16));
}

std::u16string WithoutMnemonics(const std::u16string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
        }
        out.push_back(text[i]);
    }
    return out;
}

} // namespace tap::ui::host

namespace tap::ui::sys {

using namespace host;

DeviceContextHandle AcquireDC(WindowHandle window)
{
    return NewDC(window, nullptr);
}

void ReleaseDC(WindowHandle, DeviceContextHandle dc)
{
    DeleteDC(dc);
}

DeviceContextHandle BeginPaintDC(WindowHandle window)
{
    desktop::Region update;
    bool erase;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return nullptr;
        }
        update = w->update;
        erase = w->erase;
        w->update = desktop::Region();
        w->erase = false;
    }
    DeviceContextHandle dc = NewDC(window, &update);
    if (erase) {
        CallProcedure(window, msg::EraseBackground, reinterpret_cast<uintptr_t>(dc), 0);
    }
    return dc;
}

void EndPaintDC(WindowHandle, DeviceContextHandle dc)
{
    DeleteDC(dc);
}

GdiObjectHandle CreateSolidPen(int32_t width, Color color)
{
    auto* pen = new HostGdiObject{HostGdiObject::Kind::Pen, desktop::Pen{true, std::max(1, width), ToRgb(color)}, {}, false};
    Lock lock(CurrentState().mutex);
    CurrentState().gdiObjects.insert(pen);
    return HandleOf(pen);
}

GdiObjectHandle CreateSolidBrushObject(Color color)
{
    auto* brush = new HostGdiObject{HostGdiObject::Kind::Brush, {}, desktop::Brush{false, ToRgb(color)}, false};
    Lock lock(CurrentState().mutex);
    CurrentState().gdiObjects.insert(brush);
    return HandleOf(brush);
}

GdiObjectHandle StockObjectHandle(int index)
{
    return HandleOf(Stock(index));
}

bool DeleteGdiObject(GdiObjectHandle object)
{
    HostGdiObject* o = ObjectOf(object);
    if (!o) {
        return false;
    }
    if (o->stock) {
        return true;
    }
    Lock lock(CurrentState().mutex);
    CurrentState().gdiObjects.erase(o);
    delete o;
    return true;
}

GdiObjectHandle SelectIntoDC(DeviceContextHandle handle, GdiObjectHandle object)
{
    HostDC* dc = DCOf(handle);
    HostGdiObject* o = ObjectOf(object);
    if (!dc || !o) {
        return nullptr;
    }
    GdiObjectHandle& slot = o->kind == HostGdiObject::Kind::Pen ? dc->pen : dc->brush;
    GdiObjectHandle previous = slot;
    slot = object;
    return previous;
}

bool DrawRectangle(DeviceContextHandle dc, const Rect& r)
{
    return WithCanvas(dc, [&](HostDC& d, desktop::Canvas& c) {
        c.Rectangle({r.left, r.top, r.right, r.bottom}, PenOf(d), BrushOf(d));
    });
}

bool DrawEllipse(DeviceContextHandle dc, const Rect& r)
{
    return WithCanvas(dc, [&](HostDC& d, desktop::Canvas& c) {
        c.Ellipse({r.left, r.top, r.right, r.bottom}, PenOf(d), BrushOf(d));
    });
}

Point MoveCurrentPosition(DeviceContextHandle handle, Point p)
{
    HostDC* dc = DCOf(handle);
    if (!dc) {
        return {};
    }
    Point previous{dc->current.x, dc->current.y};
    dc->current = {p.x, p.y};
    return previous;
}

bool DrawLineTo(DeviceContextHandle dc, Point p)
{
    return WithCanvas(dc, [&](HostDC& d, desktop::Canvas& c) {
        c.Line(d.current, {p.x, p.y}, PenOf(d));
        d.current = {p.x, p.y};
    });
}

bool FillWithBrush(DeviceContextHandle dc, const Rect& r, GdiObjectHandle brush)
{
    HostGdiObject* b = ObjectOf(brush);
    if (!b || b->kind != HostGdiObject::Kind::Brush) {
        return false;
    }
    return WithCanvas(dc, [&](HostDC&, desktop::Canvas& c) {
        if (!b->brush.hollow) {
            c.FillRect({r.left, r.top, r.right, r.bottom}, b->brush.color);
        }
    });
}

bool DrawIconAt(DeviceContextHandle dc, Point at, IconHandle icon)
{
    Session::State& state = CurrentState();
    HostIcon* i = reinterpret_cast<HostIcon*>(icon);
    {
        Lock lock(state.mutex);
        if (!state.iconSet.count(i)) {
            return false;
        }
    }
    return WithCanvas(dc, [&](HostDC&, desktop::Canvas& c) { c.DrawIcon({at.x, at.y}, i->image); });
}

} // namespace tap::ui::sys
