// Drawing on a window: device contexts, pens, brushes and the figures the tools draw. A device
// context of a window may be used from any thread, as GetDC's may.
#pragma once

#include "tap/ui/Types.h"

namespace tap::ui {

class WindowRef;

// A GDI pen or brush this program created; deleted when the object goes.
class GdiObject {
public:
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& other) noexcept;
    GdiObject& operator=(GdiObject&& other) noexcept;
    ~GdiObject();

    GdiObjectHandle Handle() const { return handle_; }

protected:
    explicit GdiObject(GdiObjectHandle handle) : handle_(handle) {}

private:
    GdiObjectHandle handle_;
};

class Pen : public GdiObject {
public:
    // A solid pen (PS_SOLID) of WIDTH pixels.
    Pen(int32_t width, Color color);
};

class Brush : public GdiObject {
public:
    explicit Brush(Color solidColor);
};

// The stock objects (GetStockObject): never deleted.
enum class StockObject { WhiteBrush = 0, HollowBrush = 5, BlackPen = 7, NullPen = 8 };
GdiObjectHandle GetStockObjectHandle(StockObject object);

class DeviceContext {
public:
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    virtual ~DeviceContext() = default;

    DeviceContextHandle Handle() const { return handle_; }

    // SelectObject: returns the object that was selected, for putting it back.
    GdiObjectHandle Select(GdiObjectHandle object);
    GdiObjectHandle Select(const GdiObject& object) { return Select(object.Handle()); }

    // Rectangle and Ellipse: outline with the selected pen, inside with the selected brush.
    bool Rectangle(const Rect& r);
    bool Ellipse(const Rect& r);
    Point MoveTo(Point p);
    bool LineTo(Point p);
    void FillSolidRect(const Rect& r, Color color);
    bool DrawIcon(Point at, IconHandle icon);

protected:
    explicit DeviceContext(DeviceContextHandle handle) : handle_(handle) {}

private:
    DeviceContextHandle handle_;
};

// The client area's device context of a window (GetDC / ReleaseDC).
class ClientDC : public DeviceContext {
public:
    explicit ClientDC(const WindowRef& window);
    ~ClientDC() override;

private:
    WindowHandle window_;
};

// The device context of a paint handler (BeginPaint / EndPaint): clipped to the update region,
// which it validates.
class PaintDC : public DeviceContext {
public:
    explicit PaintDC(const WindowRef& window);
    ~PaintDC() override;

private:
    WindowHandle window_;
};

} // namespace tap::ui
