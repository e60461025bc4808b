// Icons as the .ico files of the resources hold them, decoded to 32-bit pixels with alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tap::desktop {

struct IconImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> argb; // 0xAARRGGBB, top row first; alpha 0 is transparent
    uint32_t At(int32_t x, int32_t y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

// Decodes the image of an .ico file whose size is closest to SIZE (an exact match first, then the
// smallest larger one, then the largest; among equal sizes the deepest colour). Images with 1, 4,
// 8, 24 or 32 bits per pixel; nullopt for a malformed file or PNG-compressed images.
std::optional<IconImage> DecodeIcon(const uint8_t* data, size_t size, int32_t desiredSize);

} // namespace tap::desktop
