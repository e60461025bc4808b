// The desktop's one built-in font: 5 x 7 pixel glyphs for printable ASCII in 6-pixel cells.
// Characters outside ASCII are drawn as boxes; East Asian ideographs take two cells, as a
// full-width character does in the dialogs' fonts.
#pragma once

#include <cstdint>
#include <string_view>

namespace tap::desktop {

constexpr int32_t kGlyphWidth = 5;
constexpr int32_t kGlyphHeight = 7;
constexpr int32_t kCellWidth = 6;

// Rows of the glyph, top first, bit 4 the leftmost pixel; nullptr outside printable ASCII.
const uint8_t* GlyphRows(char16_t c);
// Cells a character occupies: 2 for East Asian wide characters, else 1.
int32_t CellsOf(char16_t c);
// Width in pixels of the longest line of TEXT.
int32_t TextWidth(std::u16string_view text);

} // namespace tap::desktop
