#include "tap/desktop/Geometry.h"

namespace tap::desktop {
namespace {

// The parts of A outside B: at most four rectangles (bands above, below, left and right of B).
void AppendDifference(const Rect& a, const Rect& b, std::vector<Rect>& out)
{
    Rect overlap = a.Intersect(b);
    if (overlap.Empty()) {
        out.push_back(a);
        return;
    }
    if (a.top < overlap.top) out.push_back({a.left, a.top, a.right, overlap.top});
    if (overlap.bottom < a.bottom) out.push_back({a.left, overlap.bottom, a.right, a.bottom});
    if (a.left < overlap.left) out.push_back({a.left, overlap.top, overlap.left, overlap.bottom});
    if (overlap.right < a.right) out.push_back({overlap.right, overlap.top, a.right, overlap.bottom});
}

} // namespace

bool Region::Contains(Point p) const
{
    return std::any_of(rects_.begin(), rects_.end(), [p](const Rect& r) { return r.Contains(p); });
}

Rect Region::Bounds() const
{
    if (rects_.empty()) {
        return {};
    }
    Rect b = rects_[0];
    for (const Rect& r : rects_) {
        b = {std::min(b.left, r.left), std::min(b.top, r.top), std::max(b.right, r.right), std::max(b.bottom, r.bottom)};
    }
    return b;
}

void Region::Add(const Rect& r)
{
    if (r.Empty()) {
        return;
    }
    std::vector<Rect> pieces{r};
    for (const Rect& existing : rects_) {
        std::vector<Rect> next;
        for (const Rect& piece : pieces) {
            AppendDifference(piece, existing, next);
        }
        pieces.swap(next);
    }
    rects_.insert(rects_.end(), pieces.begin(), pieces.end());
}

void Region::Add(const Region& other)
{
    for (const Rect& r : other.rects_) {
        Add(r);
    }
}

void Region::Subtract(const Rect& r)
{
    if (r.Empty()) {
        return;
    }
    std::vector<Rect> next;
    for (const Rect& existing : rects_) {
        AppendDifference(existing, r, next);
    }
    rects_.swap(next);
}

void Region::Subtract(const Region& other)
{
    for (const Rect& r : other.rects_) {
        Subtract(r);
    }
}

void Region::Intersect(const Rect& r)
{
    std::vector<Rect> next;
    for (const Rect& existing : rects_) {
        Rect overlap = existing.Intersect(r);
        if (!overlap.Empty()) {
            next.push_back(overlap);
        }
    }
    rects_.swap(next);
}

void Region::Intersect(const Region& other)
{
    Region result;
    for (const Rect& r : other.rects_) {
        Region part = *this;
        part.Intersect(r);
        result.rects_.insert(result.rects_.end(), part.rects_.begin(), part.rects_.end());
    }
    rects_.swap(result.rects_);
}

Region Region::Offset(int32_t dx, int32_t dy) const
{
    Region moved;
    for (const Rect& r : rects_) {
        moved.rects_.push_back(r.Offset(dx, dy));
    }
    return moved;
}

} // namespace tap::desktop
