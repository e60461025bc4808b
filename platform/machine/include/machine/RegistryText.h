// The registry of the simulated PC as a text file, for bench runs that start from a prepared
// machine or keep one between runs.
//
//   ; comment
//   [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Monotap\Parameters]
//   "MouseMode"=dword:00000002
//   "ImagePath"=expand_sz:"\\SystemRoot\\System32\\drivers\\Monotap.sys"
//   "Calibration"=hex:00,00,00,00,...
//   "Odd"=hex(4):01,02,03,04,05,06,07,08
//   @=sz:"the key's default value"
//
// One section per key, in the order written (a key without values still gets its section, so
// empty keys survive). Each value keeps its type and its exact bytes: the readable forms (sz,
// expand_sz, multi_sz, dword, qword) are used only when they give back the very same bytes;
// everything else, such as a REG_DWORD of 8 bytes or a string without its terminating NUL, is
// written as hex(type). Strings are UTF-8 with the escapes \\ \" and \uXXXX (one UTF-16 unit).
// HKLM, HKCU and HKU are accepted for the three root names.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tapmachine {

// Value types with their registry numbers.
enum RegistryValueType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
    kRegQword = 11,
};

struct RegistryValueRecord {
    std::u16string name;  // empty: the key's default value
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
    bool operator==(const RegistryValueRecord &other) const
    {
        return name == other.name && type == other.type && data == other.data;
    }
};

struct RegistryKeyRecord {
    std::u16string path;  // full path from the root name: HKEY_LOCAL_MACHINE\SYSTEM\...
    std::vector<RegistryValueRecord> values;
    bool operator==(const RegistryKeyRecord &other) const
    {
        return path == other.path && values == other.values;
    }
};

class RegistryTextError : public std::runtime_error {
public:
    RegistryTextError(unsigned line, const std::string &message);
    unsigned line() const { return line_; }

private:
    unsigned line_;
};

std::string FormatRegistryText(const std::vector<RegistryKeyRecord> &keys);
// Throws RegistryTextError naming the line of the first mistake.
std::vector<RegistryKeyRecord> ParseRegistryText(std::string_view text);

// Root names as written, and the short forms accepted.
constexpr std::u16string_view kLocalMachineRoot = u"HKEY_LOCAL_MACHINE";
constexpr std::u16string_view kCurrentUserRoot = u"HKEY_CURRENT_USER";
constexpr std::u16string_view kUsersRoot = u"HKEY_USERS";

// Value data helpers for building registry contents in code.
std::vector<uint8_t> DwordData(uint32_t value);
std::vector<uint8_t> StringData(std::u16string_view text);  // with its terminating NUL
std::vector<uint8_t> MultiStringData(const std::vector<std::u16string> &strings);

}  // namespace tapmachine
