// An INF file as the Setup API reads it.
//
// The syntax: sections headed by [name] (names compared without case; a section that appears
// twice is one section with the lines of both), lines of the form `key = field, field, ...` or
// `field, field, ...`, fields trimmed of blanks, "quoted strings" (with "" for a quote inside),
// `;` comments outside quotes, a backslash at the end of a line joining it to the next, and
// %strkey% replaced by the [Strings] entry of that key (%% is a percent sign). A %number% that
// names no string is a directory id, left for the caller to expand (DirectoryOfId).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapwin32::inf {

struct Line {
    unsigned number = 0;           // of the first physical line it came from
    std::optional<std::string> key; // the part before `=`, substituted and unquoted
    std::vector<std::string> fields; // substituted and unquoted; empty fields kept
    // Field INDEX (0 is the first after the key), or "" when there is none.
    std::string Field(size_t index) const { return index < fields.size() ? fields[index] : std::string(); }
};

struct Section {
    std::string name; // as first spelt
    std::vector<Line> lines;
};

struct ParseError {
    uint32_t code;  // ERROR_EXPECTED_SECTION_NAME, ERROR_BAD_SECTION_NAME_LINE, ERROR_GENERAL_SYNTAX
    unsigned line;
};

class InfFile {
public:
    // Reads the text; on a syntax error returns nothing and fills ERROR.
    static std::optional<InfFile> Parse(std::string_view text, ParseError *error);

    const std::vector<Section> &sections() const { return sections_; }
    const Section *FindSection(std::string_view name) const;
    // The first line of SECTION whose key is KEY (without case), or null.
    const Line *FindLine(std::string_view section, std::string_view key) const;
    // The first field of that line, or nothing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // Every field of every line of SECTION whose key is KEY, in order (CopyFiles = a, b and
    // a second CopyFiles = c give a, b, c).
    std::vector<std::string> Values(std::string_view section, std::string_view key) const;

    // [Version] Signature is "$Windows NT$", "$Chicago$" or "$Windows 95$": a Windows 4.0 INF.
    bool IsWin4() const;

private:
    std::vector<Section> sections_;
};

bool EqualNoCase(std::string_view a, std::string_view b);

// Directory ids of [DestinationDirs] and %dirid%: 10 the Windows directory, 11 system32, 12 the
// drivers directory, 17 the INF directory. Nothing for an id this system does not know.
std::optional<std::string> DirectoryOfId(unsigned id);
// A field with its %dirid% references replaced by their directories.
std::string ExpandDirectoryIds(const std::string &field);

} // namespace tapwin32::inf
