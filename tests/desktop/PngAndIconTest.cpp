// The PNG writer's checksums and stream layout, and icon decoding.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tap/desktop/Icon.h"
#include "tap/desktop/Png.h"

namespace tap::desktop {
namespace {

uint32_t BigEndian(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

TEST(Png, ChecksumsMatchKnownValues)
{
    const std::string iend = "IEND";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(iend.data()), iend.size()), 0xAE426082u);
    const std::string wiki = "Wikipedia";
    EXPECT_EQ(Adler32(reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()), 0x11E60398u);
}

TEST(Png, StreamHoldsTheImageInStoredBlocks)
{
    Framebuffer image(3, 2, 0x123456);
    image.SetPixel(2, 1, 0xABCDEF);
    std::vector<uint8_t> png = EncodePng(image);
    ASSERT_GT(png.size(), 8u + 25 + 12);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(BigEndian(png, 8), 13u);
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian(png, 16), 3u);
    EXPECT_EQ(BigEndian(png, 20), 2u);
    EXPECT_EQ(BigEndian(png, 29), Crc32(png.data() + 12, 17));

    size_t idat = 33;
    EXPECT_EQ(std::string(png.begin() + idat + 4, png.begin() + idat + 8), "IDAT");
    const size_t rawSize = 2 * (1 + 3 * 3);
    const uint8_t* z = png.data() + idat + 8;
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[2], 1); // the last (and only) stored block
    EXPECT_EQ(z[3] | (z[4] << 8), static_cast<int>(rawSize));
    const uint8_t* raw = z + 7;
    EXPECT_EQ(raw[0], 0);                       // filter byte of row 0
    EXPECT_EQ(raw[1], 0x12);
    EXPECT_EQ(raw[10 + 1 + 6], 0xAB);           // row 1, pixel 2, red
    EXPECT_EQ(raw[10 + 1 + 8], 0xEF);
    std::vector<uint8_t> adler(z + 7 + rawSize, z + 7 + rawSize + 4);
    EXPECT_EQ(BigEndian(adler, 0), Adler32(raw, rawSize));
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

TEST(Png, LargeImagesSplitIntoSeveralBlocks)
{
    Framebuffer image(300, 100, 0);
    std::vector<uint8_t> png = EncodePng(image);
    const size_t raw = 100 * (1 + 900);
    const size_t blocks = (raw + 65534) / 65535;
    EXPECT_EQ(BigEndian(png, 33), 2 + raw + 5 * blocks + 4);
}

std::vector<uint8_t> ReadSquareIcon()
{
    std::ifstream in(TAP_RC_DATA_DIR "/Square.ico", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Icon, PicksTheImageOfTheAskedSize)
{
    std::vector<uint8_t> ico = ReadSquareIcon();
    std::optional<IconImage> big = DecodeIcon(ico.data(), ico.size(), 32);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->width, 32);
    EXPECT_EQ(big->At(0, 0), 0xFF000000u);  // black frame
    EXPECT_EQ(big->At(5, 5), 0xFF008000u);  // green inside
    std::optional<IconImage> small = DecodeIcon(ico.data(), ico.size(), 16);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 16);
    EXPECT_EQ(small->At(8, 8), 0xFFFF0000u);
    EXPECT_EQ(DecodeIcon(ico.data(), ico.size(), 24)->width, 32); // the next larger one
}

TEST(Icon, PaletteImagesUseTheAndMaskForTransparency)
{
    // A 2x2 icon with 1 bit per pixel: palette black and white; the top-left pixel transparent.
    std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 2, 2, 2, 0, 1, 0, 1, 0, 0, 0, 0, 0, 22, 0, 0, 0};
    const uint8_t header[40] = {40, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 1, 0};
    ico.insert(ico.end(), header, header + 40);
    ico.insert(ico.end(), {0, 0, 0, 0, 255, 255, 255, 0});  // palette
    ico.insert(ico.end(), {0x40, 0, 0, 0, 0x80, 0, 0, 0});  // colour rows, bottom row first
    ico.insert(ico.end(), {0x00, 0, 0, 0, 0x80, 0, 0, 0});  // mask rows, bottom row first
    ico[14] = static_cast<uint8_t>(ico.size() - 22);
    std::optional<IconImage> image = DecodeIcon(ico.data(), ico.size(), 32);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->At(0, 0) >> 24, 0u);          // masked
    EXPECT_EQ(image->At(1, 0), 0xFF000000u);       // black
    EXPECT_EQ(image->At(1, 1), 0xFFFFFFFFu);       // white
    EXPECT_FALSE(DecodeIcon(ico.data(), 10, 32));
}

} // namespace
} // namespace tap::desktop
