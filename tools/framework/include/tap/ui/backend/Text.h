// UTF-8 (the framework's strings) to UTF-16 (the window system's) and back.
#pragma once

#include <string>
#include <string_view>

namespace tap::ui {

std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

} // namespace tap::ui
