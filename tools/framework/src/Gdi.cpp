#include "tap/ui/Gdi.h"

#include <utility>

#include "tap/ui/backend/System.h"
#include "tap/ui/Window.h"

namespace tap::ui {

GdiObject::GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

GdiObject& GdiObject::operator=(GdiObject&& other) noexcept
{
    if (this != &other) {
        if (handle_) {
            sys::DeleteGdiObject(handle_);
        }
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

GdiObject::~GdiObject()
{
    if (handle_) {
        sys::DeleteGdiObject(handle_);
    }
}

Pen::Pen(int32_t width, Color color) : GdiObject(sys::CreateSolidPen(width, color)) {}

Brush::Brush(Color solidColor) : GdiObject(sys::CreateSolidBrushObject(solidColor)) {}

GdiObjectHandle GetStockObjectHandle(StockObject object)
{
    return sys::StockObjectHandle(static_cast<int>(object));
}

GdiObjectHandle DeviceContext::Select(GdiObjectHandle object)
{
    return sys::SelectIntoDC(handle_, object);
}

bool DeviceContext::Rectangle(const Rect& r)
{
    return sys::DrawRectangle(handle_, r);
}

bool DeviceContext::Ellipse(const Rect& r)
{
    return sys::DrawEllipse(handle_, r);
}

Point DeviceContext::MoveTo(Point p)
{
    return sys::MoveCurrentPosition(handle_, p);
}

bool DeviceContext::LineTo(Point p)
{
    return sys::DrawLineTo(handle_, p);
}

void DeviceContext::FillSolidRect(const Rect& r, Color color)
{
    Brush brush(color);
    sys::FillWithBrush(handle_, r, brush.Handle());
}

bool DeviceContext::DrawIcon(Point at, IconHandle icon)
{
    return sys::DrawIconAt(handle_, at, icon);
}

ClientDC::ClientDC(const WindowRef& window)
    : DeviceContext(sys::AcquireDC(window.Handle())), window_(window.Handle())
{
}

ClientDC::~ClientDC()
{
    sys::ReleaseDC(window_, Handle());
}

PaintDC::PaintDC(const WindowRef& window)
    : DeviceContext(sys::BeginPaintDC(window.Handle())), window_(window.Handle())
{
}

PaintDC::~PaintDC()
{
    sys::EndPaintDC(window_, Handle());
}

} // namespace tap::ui
