// Points, rectangles and regions of the desktop, in pixels. A rectangle includes its left and top
// edges and excludes its right and bottom edges, as Windows rectangles do.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tap::desktop {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }
};

struct Size {
    int32_t cx = 0;
    int32_t cy = 0;
};

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    Rect Offset(int32_t dx, int32_t dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    Rect Intersect(const Rect& o) const
    {
        Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
        return r.Empty() ? Rect{} : r;
    }
    friend bool operator==(const Rect& a, const Rect& b)
    {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    friend bool operator!=(const Rect& a, const Rect& b) { return !(a == b); }
};

// A set of pixels as disjoint rectangles: the visible part of a window, an update region.
class Region {
public:
    Region() = default;
    explicit Region(const Rect& r) { Add(r); }

    const std::vector<Rect>& Rects() const { return rects_; }
    bool Empty() const { return rects_.empty(); }
    bool Contains(Point p) const;
    Rect Bounds() const;

    void Add(const Rect& r);
    void Add(const Region& other);
    void Subtract(const Rect& r);
    void Subtract(const Region& other);
    void Intersect(const Rect& r);
    void Intersect(const Region& other);
    Region Offset(int32_t dx, int32_t dy) const;

private:
    std::vector<Rect> rects_;
};

} // namespace tap::desktop
