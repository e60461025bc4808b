#include "tap/desktop/Icon.h"

namespace tap::desktop {
namespace {

uint32_t Read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Read32(const uint8_t* p) { return Read16(p) | (Read16(p + 2) << 16); }

struct DirectoryEntry {
    int32_t size;
    uint32_t bitCount;
    uint32_t bytes;
    uint32_t offset;
};

// Is entry A a better pick than B for the desired size?
bool Better(const DirectoryEntry& a, const DirectoryEntry& b, int32_t desired)
{
    auto rank = [desired](const DirectoryEntry& e) {
        if (e.size == desired) return 0;
        return e.size > desired ? 1 : 2;
    };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    if (a.size != b.size) return rank(a) == 1 ? a.size < b.size : a.size > b.size;
    return a.bitCount > b.bitCount;
}

std::optional<IconImage> DecodeDib(const uint8_t* dib, size_t size)
{
    if (size < 40 || Read32(dib) < 40 || Read32(dib) > size) {
        return std::nullopt;
    }
    const int32_t width = static_cast<int32_t>(Read32(dib + 4));
    const int32_t height = static_cast<int32_t>(Read32(dib + 8)) / 2; // colour rows, then the mask
    const uint32_t bits = Read16(dib + 14);
    if (width <= 0 || height <= 0 || width > 256 || height > 256 || Read32(dib + 16) != 0) {
        return std::nullopt;
    }
    uint32_t colours = bits <= 8 ? (Read32(dib + 32) ? Read32(dib + 32) : 1u << bits) : 0;
    const uint8_t* palette = dib + Read32(dib);
    const uint8_t* pixels = palette + 4 * colours;
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    const size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
    const uint8_t* mask = pixels + stride * height;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        return std::nullopt;
    }
    if (static_cast<size_t>(mask + maskStride * height - dib) > size) {
        return std::nullopt;
    }
    IconImage image;
    image.width = width;
    image.height = height;
    image.argb.resize(static_cast<size_t>(width) * height);
    bool anyAlpha = false;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + stride * (height - 1 - y); // rows are stored bottom-up
        for (int32_t x = 0; x < width; ++x) {
            uint32_t bgra;
            if (bits == 32) {
                bgra = Read32(row + 4 * x);
                anyAlpha = anyAlpha || (bgra >> 24) != 0;
            } else if (bits == 24) {
                bgra = row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
            } else {
                size_t bit = static_cast<size_t>(x) * bits;
                uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                bgra = index < colours ? Read32(palette + 4 * index) & 0xFFFFFF : 0;
            }
            image.argb[static_cast<size_t>(y) * width + x] = bgra;
        }
    }
    // Without an alpha channel, the AND mask says which pixels are transparent.
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = mask + maskStride * (height - 1 - y);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t& p = image.argb[static_cast<size_t>(y) * width + x];
            if (!anyAlpha) {
                bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
                p = (p & 0xFFFFFF) | (transparent ? 0 : 0xFF000000u);
            }
        }
    }
    return image;
}

} // namespace

std::optional<IconImage> DecodeIcon(const uint8_t* data, size_t size, int32_t desiredSize)
{
    if (size < 6 || Read16(data) != 0 || Read16(data + 2) != 1) {
        return std::nullopt;
    }
    const uint32_t count = Read16(data + 4);
    if (count == 0 || size < 6 + 16 * static_cast<size_t>(count)) {
        return std::nullopt;
    }
    std::optional<DirectoryEntry> best;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = data + 6 + 16 * i;
        DirectoryEntry entry{e[0] == 0 ? 256 : e[0], Read16(e + 6), Read32(e + 8), Read32(e + 12)};
        if (static_cast<size_t>(entry.offset) + entry.bytes > size) {
            return std::nullopt;
        }
        if (!best || Better(entry, *best, desiredSize)) {
            best = entry;
        }
    }
    return DecodeDib(data + best->offset, best->bytes);
}

} // namespace tap::desktop
