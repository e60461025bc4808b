// The hex text the bench replays: bytes, comments, white space and what is refused.
#include "ByteStream.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tapbench {
namespace {

std::optional<std::vector<uint8_t>> Parse(const std::string &text, std::string *errorOut = nullptr)
{
    std::istringstream in(text);
    std::string error;
    auto bytes = ParseHexStream(in, error);
    if (errorOut) {
        *errorOut = error;
    }
    return bytes;
}

TEST(HexStream, BytesWithAndWithoutSpacesAndComments)
{
    auto bytes = Parse("55 00 81\n3412 # a comment 99 zz\n\t7806#x\n# only a comment\nAbcD\n");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (std::vector<uint8_t>{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0xAB, 0xCD}));
    EXPECT_EQ(Parse(""), std::vector<uint8_t>{});
}

TEST(HexStream, OddDigitsAndForeignCharactersAreRefusedWithTheLine)
{
    std::string error;
    EXPECT_FALSE(Parse("55 00\n5 5\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(Parse("550\n", &error));
    EXPECT_FALSE(Parse("55 0# comment\n", &error));
    EXPECT_FALSE(Parse("55 x0\n", &error));
    EXPECT_NE(error.find("'x'"), std::string::npos) << error;
    EXPECT_FALSE(Parse("55,00\n", &error));
}

TEST(BinaryStream, EveryByteAsItIs)
{
    std::istringstream in(std::string("\x55\x00\n#\xff", 5));
    EXPECT_EQ(ReadBinaryStream(in), (std::vector<uint8_t>{0x55, 0x00, '\n', '#', 0xFF}));
}

} // namespace
} // namespace tapbench
