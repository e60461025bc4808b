// The screen's pixels: 32-bit 0x00RRGGBB, row by row from the top.
#pragma once

#include <cstdint>
#include <vector>

#include "tap/desktop/Geometry.h"

namespace tap::desktop {

using Rgb = uint32_t; // 0x00RRGGBB

constexpr Rgb MakeRgb(uint8_t r, uint8_t g, uint8_t b)
{
    return (static_cast<Rgb>(r) << 16) | (static_cast<Rgb>(g) << 8) | b;
}

class Framebuffer {
public:
    Framebuffer(int32_t width, int32_t height, Rgb fill = 0);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    Rect Bounds() const { return {0, 0, width_, height_}; }
    Rgb Pixel(int32_t x, int32_t y) const { return pixels_[Index(x, y)]; }
    void SetPixel(int32_t x, int32_t y, Rgb color) { pixels_[Index(x, y)] = color; }
    const std::vector<Rgb>& Pixels() const { return pixels_; }

private:
    size_t Index(int32_t x, int32_t y) const { return static_cast<size_t>(y) * width_ + x; }

    int32_t width_;
    int32_t height_;
    std::vector<Rgb> pixels_;
};

} // namespace tap::desktop
