// The constants of the Windows headers that resource scripts use (window, dialog and control
// styles, dialog result ids, languages, common control class names), with the values of the
// Windows SDK, so that a script needs no header of ours.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tap::rc {

std::optional<uint32_t> WindowsNumber(const std::string& name);
// Class-name macros of <commctrl.h> (UPDOWN_CLASS, ...), which stand for strings.
std::optional<std::u16string> WindowsClassName(const std::string& name);

} // namespace tap::rc
