#include "tap/desktop/Canvas.h"

#include <cmath>
#include <cstdlib>

#include "tap/desktop/Font.h"

namespace tap::desktop {
namespace {

double Square(double v) { return v * v; }

// Squared distance from P to the segment A-B.
double DistanceSquaredToSegment(double px, double py, Point a, Point b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double length2 = dx * dx + dy * dy;
    double t = length2 == 0 ? 0 : ((px - a.x) * dx + (py - a.y) * dy) / length2;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return Square(px - (a.x + t * dx)) + Square(py - (a.y + t * dy));
}

} // namespace

Canvas::Canvas(Framebuffer& target, Point origin, Region clip)
    : target_(target), origin_(origin), clip_(std::move(clip))
{
    clip_.Intersect(target.Bounds());
    clipBounds_ = clip_.Bounds();
}

void Canvas::Plot(int32_t x, int32_t y, Rgb color)
{
    Point screen{x + origin_.x, y + origin_.y};
    if (clipBounds_.Contains(screen) && clip_.Contains(screen)) {
        target_.SetPixel(screen.x, screen.y, color);
    }
}

void Canvas::FillRect(const Rect& r, Rgb color)
{
    Rect screen = r.Offset(origin_.x, origin_.y);
    for (const Rect& c : clip_.Rects()) {
        Rect part = screen.Intersect(c);
        for (int32_t y = part.top; y < part.bottom; ++y) {
            for (int32_t x = part.left; x < part.right; ++x) {
                target_.SetPixel(x, y, color);
            }
        }
    }
}

void Canvas::Rectangle(const Rect& r, const Pen& pen, const Brush& brush)
{
    if (!pen.visible) {
        if (!brush.hollow) {
            FillRect({r.left, r.top, r.right - 1, r.bottom - 1}, brush.color);
        }
        return;
    }
    // A pen of width w covers w pixels across the edge path (left .. right-1, top .. bottom-1).
    const int32_t w = std::max(1, pen.width);
    const int32_t before = (w - 1) / 2, after = w / 2;
    Rect outer{r.left - before, r.top - before, r.right + after, r.bottom + after};
    Rect inner{r.left + after + 1, r.top + after + 1, r.right - 1 - before, r.bottom - 1 - before};
    if (!brush.hollow && !inner.Empty()) {
        FillRect(inner, brush.color);
    }
    for (int32_t y = outer.top; y < outer.bottom; ++y) {
        for (int32_t x = outer.left; x < outer.right; ++x) {
            if (inner.Empty() || !inner.Contains({x, y})) {
                Plot(x, y, pen.color);
            }
        }
    }
}

void Canvas::Ellipse(const Rect& r, const Pen& pen, const Brush& brush)
{
    const int32_t w = pen.visible ? std::max(1, pen.width) : 0;
    const int32_t right = pen.visible ? r.right : r.right - 1;
    const int32_t bottom = pen.visible ? r.bottom : r.bottom - 1;
    const double cx = (r.left + right - 1) / 2.0, cy = (r.top + bottom - 1) / 2.0;
    const double rx = (right - r.left) / 2.0, ry = (bottom - r.top) / 2.0;
    const double grow = (w - 1) / 2.0; // a wide outline is centred on the edge
    const double outerX = rx + grow, outerY = ry + grow;
    const double innerX = outerX - w, innerY = outerY - w;
    if (outerX <= 0 || outerY <= 0) {
        return;
    }
    for (int32_t y = static_cast<int32_t>(std::floor(cy - outerY)); y <= static_cast<int32_t>(std::ceil(cy + outerY)); ++y) {
        for (int32_t x = static_cast<int32_t>(std::floor(cx - outerX)); x <= static_cast<int32_t>(std::ceil(cx + outerX)); ++x) {
            double dx = x - cx, dy = y - cy;
            if (Square(dx / outerX) + Square(dy / outerY) > 1.0) {
                continue;
            }
            bool interior = innerX > 0 && innerY > 0 && Square(dx / innerX) + Square(dy / innerY) <= 1.0;
            if (!interior && w > 0) {
                Plot(x, y, pen.color);
            } else if (!brush.hollow) {
                Plot(x, y, brush.color);
            }
        }
    }
}

void Canvas::Line(Point from, Point to, const Pen& pen)
{
    if (!pen.visible) {
        return;
    }
    if (pen.width <= 1) {
        // Bresenham, leaving out the end point as LineTo does.
        int32_t dx = std::abs(to.x - from.x), dy = -std::abs(to.y - from.y);
        int32_t sx = from.x < to.x ? 1 : -1, sy = from.y < to.y ? 1 : -1;
        int32_t error = dx + dy;
        for (Point p = from; !(p == to);) {
            Plot(p.x, p.y, pen.color);
            int32_t e2 = 2 * error;
            if (e2 >= dy) {
                error += dy;
                p.x += sx;
            }
            if (e2 <= dx) {
                error += dx;
                p.y += sy;
            }
        }
        return;
    }
    // A wide pen sweeps a disc of its width along the line: round ends, and a dot for a line
    // that starts and ends at the same point.
    const double radius = pen.width / 2.0;
    const int32_t reach = static_cast<int32_t>(std::ceil(radius));
    for (int32_t y = std::min(from.y, to.y) - reach; y <= std::max(from.y, to.y) + reach; ++y) {
        for (int32_t x = std::min(from.x, to.x) - reach; x <= std::max(from.x, to.x) + reach; ++x) {
            if (DistanceSquaredToSegment(x + 0.5, y + 0.5, from, to) <= radius * radius) {
                Plot(x, y, pen.color);
            }
        }
    }
}

void Canvas::DrawIcon(Point at, const IconImage& icon)
{
    for (int32_t y = 0; y < icon.height; ++y) {
        for (int32_t x = 0; x < icon.width; ++x) {
            uint32_t p = icon.At(x, y);
            uint32_t alpha = p >> 24;
            if (alpha == 0) {
                continue;
            }
            Point screen{at.x + x + origin_.x, at.y + y + origin_.y};
            if (!target_.Bounds().Contains(screen)) {
                continue;
            }
            Rgb under = target_.Pixel(screen.x, screen.y);
            auto blend = [&](int shift) {
                uint32_t s = (p >> shift) & 0xFF, d = (under >> shift) & 0xFF;
                return ((s * alpha + d * (255 - alpha) + 127) / 255) << shift;
            };
            Plot(at.x + x, at.y + y, blend(16) | blend(8) | blend(0));
        }
    }
}

void Canvas::DrawString(Point at, std::u16string_view text, Rgb color, int32_t lineHeight)
{
    const int32_t glyphTop = std::max(0, (lineHeight - kGlyphHeight) / 2);
    Point pen = at;
    for (char16_t c : text) {
        if (c == u'\n') {
            pen = {at.x, pen.y + lineHeight};
            continue;
        }
        const int32_t cells = CellsOf(c);
        if (const uint8_t* rows = GlyphRows(c)) {
            for (int32_t y = 0; y < kGlyphHeight; ++y) {
                for (int32_t x = 0; x < kGlyphWidth; ++x) {
                    if (rows[y] & (0x10 >> x)) {
                        Plot(pen.x + x, pen.y + glyphTop + y, color);
                    }
                }
            }
        } else {
            Rectangle({pen.x, pen.y + glyphTop, pen.x + cells * kCellWidth - 1, pen.y + glyphTop + kGlyphHeight},
                      Pen{true, 1, color}, Brush{true, 0});
        }
        pen.x += cells * kCellWidth;
    }
}

void Canvas::Edge(const Rect& r, Rgb outerTopLeft, Rgb outerBottomRight, Rgb innerTopLeft, Rgb innerBottomRight)
{
    auto ring = [this](const Rect& q, Rgb topLeft, Rgb bottomRight) {
        if (q.Empty()) {
            return;
        }
        FillRect({q.left, q.top, q.right, q.top + 1}, topLeft);
        FillRect({q.left, q.top, q.left + 1, q.bottom}, topLeft);
        FillRect({q.left, q.bottom - 1, q.right, q.bottom}, bottomRight);
        FillRect({q.right - 1, q.top, q.right, q.bottom}, bottomRight);
    };
    ring(r, outerTopLeft, outerBottomRight);
    ring({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, innerTopLeft, innerBottomRight);
}

} // namespace tap::desktop
