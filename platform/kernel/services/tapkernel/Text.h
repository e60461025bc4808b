// Conversions between the UTF-16 of Windows names (WCHAR is 16-bit here) and UTF-8 host text.
#pragma once

#include <string>
#include <string_view>

namespace tapkernel {

// Unpaired surrogates are carried through as their three-byte forms, so every UTF-16 string
// survives a round trip.
std::string ToUtf8(std::u16string_view text);
// Invalid UTF-8 throws std::invalid_argument.
std::u16string ToUtf16(std::string_view text);

// Case-insensitive comparison as the object manager and the registry do it: ASCII letters and the
// Latin-1 letters fold to upper case; everything else compares as is.
char16_t UpcaseChar(char16_t c);
std::u16string UpperCase(std::u16string_view text);  // keys of maps without regard to case
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// TEXT in double quotes with \" and \\ inside: how the registry's text files and the bench's
// transcripts write a name or a string.
std::string QuotedText(std::string_view text);

}  // namespace tapkernel
