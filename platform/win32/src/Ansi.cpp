#include "Ansi.h"

namespace tapwin32 {

namespace {

// 0x80..0x9F of Windows-1252; 0 where the code page has no character.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char16_t FromAnsi(unsigned char c)
{
    if (c >= 0x80 && c < 0xA0) {
        // Windows maps the five holes to the C1 control of the same value.
        return kHighControls[c - 0x80] ? kHighControls[c - 0x80] : static_cast<char16_t>(c);
    }
    return static_cast<char16_t>(c);
}

char ToAnsi(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit || (kHighControls[i] == 0 && unit == 0x80 + i)) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

} // namespace

std::u16string AnsiToUtf16(std::string_view ansi)
{
    std::u16string text;
    text.reserve(ansi.size());
    for (char c : ansi) {
        text.push_back(FromAnsi(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Utf16ToAnsi(std::u16string_view text)
{
    std::string ansi;
    ansi.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            ++i; // a surrogate pair is one character
            ansi.push_back('?');
            continue;
        }
        ansi.push_back(ToAnsi(unit));
    }
    return ansi;
}

} // namespace tapwin32
