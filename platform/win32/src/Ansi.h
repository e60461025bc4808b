// The system's ANSI code page (Windows-1252, as on an English system) to and from the UTF-16 of
// the registry and the object namespace, one character for one unit, as the *A routines
// convert their strings. Unmappable units become '?'.
#pragma once

#include <string>
#include <string_view>

namespace tapwin32 {

std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);

} // namespace tapwin32
