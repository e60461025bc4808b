// Drawing into the framebuffer through a clip region, with the pixel rules of GDI: a rectangle
// or ellipse covers its bounding box less the right and bottom edges, a one-pixel line leaves out
// its end point, a wide pen's outline is centred on the figure's edge, and a figure drawn without
// a pen is one pixel smaller.
#pragma once

#include <string_view>

#include "tap/desktop/Framebuffer.h"
#include "tap/desktop/Geometry.h"
#include "tap/desktop/Icon.h"

namespace tap::desktop {

struct Pen {
    bool visible = true;  // false: the null pen
    int32_t width = 1;
    Rgb color = 0;
};

struct Brush {
    bool hollow = false;  // true: the hollow (null) brush
    Rgb color = 0xFFFFFF;
};

class Canvas {
public:
    // ORIGIN is where the canvas's (0, 0) lies on the screen; CLIP, in screen coordinates, limits
    // every pixel drawn.
    Canvas(Framebuffer& target, Point origin, Region clip);

    void FillRect(const Rect& r, Rgb color);
    void Rectangle(const Rect& r, const Pen& pen, const Brush& brush);
    void Ellipse(const Rect& r, const Pen& pen, const Brush& brush);
    void Line(Point from, Point to, const Pen& pen);
    void DrawIcon(Point at, const IconImage& icon);
    // Draws TEXT with its first line's top-left cell at AT; '\n' starts a line LINEHEIGHT below.
    void DrawString(Point at, std::u16string_view text, Rgb color, int32_t lineHeight);
    // A frame of two one-pixel rings, the 3D look of buttons and edit fields.
    void Edge(const Rect& r, Rgb outerTopLeft, Rgb outerBottomRight, Rgb innerTopLeft, Rgb innerBottomRight);
    void Plot(int32_t x, int32_t y, Rgb color);

private:
    Framebuffer& target_;
    Point origin_;
    Region clip_;
    Rect clipBounds_;
};

} // namespace tap::desktop
