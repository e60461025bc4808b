#include "InfFile.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace tapwin32::inf {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string Trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

// One logical line: physical lines joined at a trailing backslash, comments removed. Quotes are
// kept for the field reader.
struct LogicalLine {
    unsigned number;
    std::string text;
};

std::vector<LogicalLine> LogicalLines(std::string_view text)
{
    std::vector<LogicalLine> lines;
    unsigned number = 0;
    bool joining = false;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        std::string_view physical = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        ++number;
        // Cut the comment (a ';' outside quotes).
        bool quoted = false;
        size_t cut = physical.size();
        for (size_t i = 0; i < physical.size(); ++i) {
            if (physical[i] == '"') {
                quoted = !quoted;
            } else if (physical[i] == ';' && !quoted) {
                cut = i;
                break;
            }
        }
        std::string content = Trim(physical.substr(0, cut));
        bool continues = !content.empty() && content.back() == '\\';
        if (continues) {
            content.pop_back();
        }
        if (joining) {
            lines.back().text += content;
        } else {
            lines.push_back({number, content});
        }
        joining = continues;
        if (end == std::string_view::npos) {
            break;
        }
        at = end + 1;
    }
    return lines;
}

// A field as written: its text with quotes kept, split off at the top-level commas (and at '='
// for the key).
std::vector<std::string> SplitOutsideQuotes(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == separator && !quoted) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

size_t FindOutsideQuotes(std::string_view text, char wanted)
{
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == wanted && !quoted) {
            return i;
        }
    }
    return std::string_view::npos;
}

struct RawLine {
    unsigned number;
    std::optional<std::string> key;
    std::vector<std::string> fields; // quotes kept until substitution
};

} // namespace

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

namespace {

// Removes the quotes of a field ("" inside quotes is one quote) and replaces %strkey% by the
// string, outside quotes and inside alike.
std::string Unquote(const std::string &field, const std::vector<RawLine> *strings);

std::optional<std::string> StringOf(std::string_view key, const std::vector<RawLine> *strings)
{
    if (!strings) {
        return std::nullopt;
    }
    for (const RawLine &line : *strings) {
        if (line.key && EqualNoCase(Trim(*line.key), key)) {
            return line.fields.empty() ? std::string() : Unquote(line.fields[0], nullptr);
        }
    }
    return std::nullopt;
}

std::string Unquote(const std::string &field, const std::vector<RawLine> *strings)
{
    std::string text = Trim(field);
    std::string result;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                result += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == '%' && strings) {
            size_t close = text.find('%', i + 1);
            if (close == std::string::npos) {
                result += c;
                continue;
            }
            std::string key = text.substr(i + 1, close - i - 1);
            if (key.empty()) {
                result += '%'; // %%
            } else if (std::optional<std::string> value = StringOf(key, strings)) {
                result += *value;
            } else {
                result += text.substr(i, close - i + 1); // a directory id, or unknown: left as written
            }
            i = close;
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace

std::optional<InfFile> InfFile::Parse(std::string_view text, ParseError *error)
{
    struct RawSection {
        std::string name;
        std::vector<RawLine> lines;
    };
    std::vector<RawSection> raw;
    for (const LogicalLine &line : LogicalLines(text)) {
        if (line.text.empty()) {
            continue;
        }
        if (line.text[0] == '[') {
            size_t close = line.text.find(']');
            if (close == std::string::npos || !Trim(line.text.substr(close + 1)).empty()) {
                *error = {ERROR_BAD_SECTION_NAME_LINE, line.number};
                return std::nullopt;
            }
            std::string name = Trim(line.text.substr(1, close - 1));
            auto same = [&name](const RawSection &s) { return EqualNoCase(s.name, name); };
            bool known = false;
            for (RawSection &s : raw) {
                known = known || same(s);
            }
            if (!known) {
                raw.push_back({name, {}});
            }
            // Lines that follow go to the section of this name, wherever it first appeared.
            for (size_t i = 0; i < raw.size(); ++i) {
                if (same(raw[i])) {
                    std::rotate(raw.begin() + i, raw.begin() + i + 1, raw.end());
                    break;
                }
            }
            continue;
        }
        if (raw.empty()) {
            *error = {ERROR_EXPECTED_SECTION_NAME, line.number};
            return std::nullopt;
        }
        RawLine parsed{line.number, std::nullopt, {}};
        std::string_view rest = line.text;
        size_t equals = FindOutsideQuotes(rest, '=');
        if (equals != std::string_view::npos) {
            parsed.key = std::string(rest.substr(0, equals));
            rest.remove_prefix(equals + 1);
        }
        parsed.fields = SplitOutsideQuotes(rest, ',');
        raw.back().lines.push_back(std::move(parsed));
    }
    // Sections in the order they first appeared, [Strings] known before substitution.
    const std::vector<RawLine> *strings = nullptr;
    for (const RawSection &s : raw) {
        if (EqualNoCase(s.name, "Strings")) {
            strings = &s.lines;
        }
    }
    InfFile inf;
    for (const RawSection &s : raw) {
        Section section{s.name, {}};
        for (const RawLine &r : s.lines) {
            Line line;
            line.number = r.number;
            if (r.key) {
                line.key = Unquote(*r.key, strings);
            }
            for (const std::string &field : r.fields) {
                line.fields.push_back(Unquote(field, strings));
            }
            section.lines.push_back(std::move(line));
        }
        inf.sections_.push_back(std::move(section));
    }
    std::stable_sort(inf.sections_.begin(), inf.sections_.end(), [&raw](const Section &a, const Section &b) {
        auto firstLine = [&raw](const Section &s) {
            for (const RawSection &r : raw) {
                if (EqualNoCase(r.name, s.name) && !r.lines.empty()) {
                    return r.lines.front().number;
                }
            }
            return 0u;
        };
        return firstLine(a) < firstLine(b);
    });
    return inf;
}

const Section *InfFile::FindSection(std::string_view name) const
{
    for (const Section &section : sections_) {
        if (EqualNoCase(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

const Line *InfFile::FindLine(std::string_view section, std::string_view key) const
{
    if (const Section *s = FindSection(section)) {
        for (const Line &line : s->lines) {
            if (line.key && EqualNoCase(*line.key, key)) {
                return &line;
            }
        }
    }
    return nullptr;
}

std::optional<std::string> InfFile::Value(std::string_view section, std::string_view key) const
{
    const Line *line = FindLine(section, key);
    if (!line) {
        return std::nullopt;
    }
    return line->Field(0);
}

std::vector<std::string> InfFile::Values(std::string_view section, std::string_view key) const
{
    std::vector<std::string> values;
    if (const Section *s = FindSection(section)) {
        for (const Line &line : s->lines) {
            if (line.key && EqualNoCase(*line.key, key)) {
                for (const std::string &field : line.fields) {
                    if (!field.empty()) {
                        values.push_back(field);
                    }
                }
            }
        }
    }
    return values;
}

bool InfFile::IsWin4() const
{
    std::optional<std::string> signature = Value("Version", "Signature");
    return signature && (EqualNoCase(*signature, "$Windows NT$") || EqualNoCase(*signature, "$Chicago$") ||
                         EqualNoCase(*signature, "$Windows 95$"));
}

std::optional<std::string> DirectoryOfId(unsigned id)
{
    switch (id) {
    case 10: return std::string("C:\\WINDOWS");
    case 11: return std::string("C:\\WINDOWS\\system32");
    case 12: return std::string("C:\\WINDOWS\\system32\\drivers");
    case 17: return std::string("C:\\WINDOWS\\inf");
    default: return std::nullopt;
    }
}

std::string ExpandDirectoryIds(const std::string &field)
{
    std::string result;
    for (size_t i = 0; i < field.size(); ++i) {
        size_t close = field[i] == '%' ? field.find('%', i + 1) : std::string::npos;
        if (close != std::string::npos && close > i + 1) {
            std::string digits = field.substr(i + 1, close - i - 1);
            char *end = nullptr;
            unsigned long id = std::strtoul(digits.c_str(), &end, 10);
            if (end && *end == '\0') {
                if (std::optional<std::string> directory = DirectoryOfId(static_cast<unsigned>(id))) {
                    result += *directory;
                    i = close;
                    continue;
                }
            }
        }
        result += field[i];
    }
    return result;
}

} // namespace tapwin32::inf
