#include <machine/RegistryText.h>
#include <tapkernel/Text.h>

#include <cctype>
#include <cstdio>
#include <optional>

namespace tapmachine {

RegistryTextError::RegistryTextError(unsigned line, const std::string &message)
    : std::runtime_error("registry text, line " + std::to_string(line) + ": " + message), line_(line)
{
}

std::vector<uint8_t> DwordData(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> StringData(std::u16string_view text)
{
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::vector<uint8_t> MultiStringData(const std::vector<std::u16string> &strings)
{
    std::vector<uint8_t> data;
    for (const auto &s : strings) {
        auto one = StringData(s);
        data.insert(data.end(), one.begin(), one.end());
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

namespace {

// ---- Writing ----------------------------------------------------------------------------------

std::u16string UnitsOf(const std::vector<uint8_t> &data)
{
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    return units;
}

std::string QuotedString(std::u16string_view text)
{
    std::string out = "\"";
    for (char16_t c : text) {
        bool surrogate = c >= 0xD800 && c <= 0xDFFF;
        if (c == u'\\' || c == u'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F || surrogate) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += tapkernel::ToUtf8(std::u16string_view(&c, 1));
        }
    }
    return out + "\"";
}

std::string HexBytes(const std::vector<uint8_t> &data)
{
    std::string out;
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i ? "," : "", data[i]);
        out += byte;
    }
    return out;
}

// The string forms are used only when they give back the same bytes.
std::optional<std::string> AsString(const std::vector<uint8_t> &data)
{
    std::u16string units = UnitsOf(data);
    if (data.size() % 2 != 0 || units.empty() || units.back() != 0) {
        return std::nullopt;
    }
    units.pop_back();
    if (units.find(u'\0') != std::u16string::npos) {
        return std::nullopt;
    }
    return QuotedString(units);
}

std::optional<std::string> AsMultiString(const std::vector<uint8_t> &data)
{
    std::u16string units = UnitsOf(data);
    if (data.size() % 2 != 0 || units.size() < 2 || units[units.size() - 1] != 0 ||
        units[units.size() - 2] != 0) {
        return std::nullopt;
    }
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < units.size(); ++i) {
        if (units[i] == 0) {
            strings.push_back(current);
            current.clear();
        } else {
            current += units[i];
        }
    }
    for (const auto &s : strings) {
        if (s.empty()) {
            return std::nullopt;  // an empty string would end the list early
        }
    }
    if (MultiStringData(strings) != data) {
        return std::nullopt;
    }
    std::string out;
    for (size_t i = 0; i < strings.size(); ++i) {
        out += (i ? "," : "") + QuotedString(strings[i]);
    }
    return out;
}

std::string FormatValueData(const RegistryValueRecord &value)
{
    const auto &data = value.data;
    char number[32];
    switch (value.type) {
    case kRegDword:
        if (data.size() == 4) {
            uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
            std::snprintf(number, sizeof number, "dword:%08x", v);
            return number;
        }
        break;
    case kRegQword:
        if (data.size() == 8) {
            uint64_t v = 0;
            for (int i = 7; i >= 0; --i) {
                v = (v << 8) | data[i];
            }
            std::snprintf(number, sizeof number, "qword:%016llx", static_cast<unsigned long long>(v));
            return number;
        }
        break;
    case kRegSz:
        if (auto s = AsString(data)) {
            return "sz:" + *s;
        }
        break;
    case kRegExpandSz:
        if (auto s = AsString(data)) {
            return "expand_sz:" + *s;
        }
        break;
    case kRegMultiSz:
        if (auto s = AsMultiString(data)) {
            return "multi_sz:" + *s;
        }
        break;
    case kRegBinary:
        return "hex:" + HexBytes(data);
    default:
        break;
    }
    std::snprintf(number, sizeof number, "hex(%x):", value.type);
    return number + HexBytes(data);
}

// ---- Reading ----------------------------------------------------------------------------------

class LineReader {
public:
    LineReader(std::string_view text, unsigned line) : text_(text), line_(line) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool Accept(char c)
    {
        if (Peek() != c) {
            return false;
        }
        ++pos_;
        return true;
    }
    bool AcceptWord(std::string_view word)
    {
        if (text_.substr(pos_, word.size()) != word) {
            return false;
        }
        pos_ += word.size();
        return true;
    }
    void Expect(char c, const char *what)
    {
        if (!Accept(c)) {
            Fail(std::string("expected ") + what);
        }
    }
    void SkipSpaces()
    {
        while (Peek() == ' ' || Peek() == '\t') {
            ++pos_;
        }
    }
    [[noreturn]] void Fail(const std::string &message) const { throw RegistryTextError(line_, message); }

    std::u16string QuotedString()
    {
        Expect('"', "a quoted string");
        std::string utf8;
        std::u16string out;
        auto flush = [&] {
            try {
                out += tapkernel::ToUtf16(utf8);
            } catch (const std::invalid_argument &) {
                Fail("invalid UTF-8 in a string");
            }
            utf8.clear();
        };
        for (;;) {
            if (AtEnd()) {
                Fail("unterminated string");
            }
            char c = text_[pos_++];
            if (c == '"') {
                break;
            }
            if (c != '\\') {
                utf8 += c;
                continue;
            }
            char escaped = AtEnd() ? '\0' : text_[pos_++];
            if (escaped == '\\' || escaped == '"') {
                utf8 += escaped;
            } else if (escaped == 'u') {
                flush();
                out += static_cast<char16_t>(HexNumber(4, 4));
            } else {
                Fail("unknown escape in a string");
            }
        }
        flush();
        return out;
    }

    uint64_t HexNumber(size_t minDigits, size_t maxDigits)
    {
        uint64_t value = 0;
        size_t digits = 0;
        while (digits < maxDigits && std::isxdigit(static_cast<unsigned char>(Peek()))) {
            char c = text_[pos_++];
            value = value * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                                           ? c - '0'
                                                           : (std::tolower(c) - 'a' + 10));
            ++digits;
        }
        if (digits < minDigits) {
            Fail("expected a hexadecimal number");
        }
        return value;
    }

    std::vector<uint8_t> HexBytes()
    {
        std::vector<uint8_t> bytes;
        SkipSpaces();
        if (AtEnd()) {
            return bytes;
        }
        do {
            SkipSpaces();
            bytes.push_back(static_cast<uint8_t>(HexNumber(2, 2)));
            SkipSpaces();
        } while (Accept(','));
        return bytes;
    }

private:
    std::string_view text_;
    unsigned line_;
    size_t pos_ = 0;
};

std::u16string CanonicalKeyPath(std::u16string path, LineReader &reader)
{
    size_t slash = path.find(u'\\');
    std::u16string root = path.substr(0, slash);
    std::u16string rest = slash == std::u16string::npos ? u"" : path.substr(slash);
    if (tapkernel::EqualsNoCase(root, u"HKLM") || tapkernel::EqualsNoCase(root, kLocalMachineRoot)) {
        root = kLocalMachineRoot;
    } else if (tapkernel::EqualsNoCase(root, u"HKCU") || tapkernel::EqualsNoCase(root, kCurrentUserRoot)) {
        root = kCurrentUserRoot;
    } else if (tapkernel::EqualsNoCase(root, u"HKU") || tapkernel::EqualsNoCase(root, kUsersRoot)) {
        root = kUsersRoot;
    } else {
        reader.Fail("a key path starts with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS");
    }
    if (rest.find(u"\\\\") != std::u16string::npos || (!rest.empty() && rest.back() == u'\\')) {
        reader.Fail("empty key name in the path");
    }
    return root + rest;
}

RegistryValueRecord ParseValue(LineReader &reader)
{
    RegistryValueRecord value;
    if (!reader.Accept('@')) {
        value.name = reader.QuotedString();
    }
    reader.SkipSpaces();
    reader.Expect('=', "'=' after the value name");
    reader.SkipSpaces();
    if (reader.AcceptWord("dword:")) {
        value.type = kRegDword;
        value.data = DwordData(static_cast<uint32_t>(reader.HexNumber(1, 8)));
    } else if (reader.AcceptWord("qword:")) {
        value.type = kRegQword;
        uint64_t v = reader.HexNumber(1, 16);
        for (int i = 0; i < 8; ++i) {
            value.data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    } else if (reader.AcceptWord("sz:")) {
        value.type = kRegSz;
        value.data = StringData(reader.QuotedString());
    } else if (reader.AcceptWord("expand_sz:")) {
        value.type = kRegExpandSz;
        value.data = StringData(reader.QuotedString());
    } else if (reader.AcceptWord("multi_sz:")) {
        value.type = kRegMultiSz;
        std::vector<std::u16string> strings;
        reader.SkipSpaces();
        if (reader.Peek() == '"') {
            do {
                reader.SkipSpaces();
                strings.push_back(reader.QuotedString());
                reader.SkipSpaces();
            } while (reader.Accept(','));
        }
        value.data = MultiStringData(strings);
    } else if (reader.AcceptWord("hex(")) {
        value.type = static_cast<uint32_t>(reader.HexNumber(1, 8));
        reader.Expect(')', "')' after the type");
        reader.Expect(':', "':' after hex(type)");
        value.data = reader.HexBytes();
    } else if (reader.AcceptWord("hex:")) {
        value.type = kRegBinary;
        value.data = reader.HexBytes();
    } else {
        reader.Fail("unknown value form");
    }
    reader.SkipSpaces();
    if (!reader.AtEnd()) {
        reader.Fail("unexpected text after the value");
    }
    return value;
}

}  // namespace

std::string FormatRegistryText(const std::vector<RegistryKeyRecord> &keys)
{
    std::string out = "; registry of the simulated PC\n";
    for (const auto &key : keys) {
        if (key.path.find_first_of(u"\r\n") != std::u16string::npos) {
            throw std::invalid_argument("a key path cannot hold a line break");
        }
        out += "\n[" + tapkernel::ToUtf8(key.path) + "]\n";
        for (const auto &value : key.values) {
            out += value.name.empty() ? "@" : QuotedString(value.name);
            out += "=" + FormatValueData(value) + "\n";
        }
    }
    return out;
}

std::vector<RegistryKeyRecord> ParseRegistryText(std::string_view text)
{
    std::vector<RegistryKeyRecord> keys;
    unsigned lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos
                                                                                 : end - start);
        start = end == std::string_view::npos ? text.size() + 1 : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        LineReader reader(line, lineNumber);
        reader.SkipSpaces();
        if (reader.AtEnd() || reader.Peek() == ';' || reader.Peek() == '#') {
            continue;
        }
        if (reader.Peek() == '[') {
            size_t first = line.find('[');
            size_t close = line.rfind(']');
            if (close == std::string_view::npos || close < first) {
                reader.Fail("a key section ends with ']'");
            }
            std::u16string path;
            try {
                path = tapkernel::ToUtf16(line.substr(first + 1, close - first - 1));
            } catch (const std::invalid_argument &) {
                reader.Fail("invalid UTF-8 in a key path");
            }
            // A carriage return inside the brackets would make a key no text can write back.
            if (path.find(u'\r') != std::u16string::npos) {
                reader.Fail("a key path cannot hold a line break");
            }
            keys.push_back({CanonicalKeyPath(path, reader), {}});
            continue;
        }
        if (keys.empty()) {
            reader.Fail("a value before the first key section");
        }
        keys.back().values.push_back(ParseValue(reader));
    }
    return keys;
}

}  // namespace tapmachine
