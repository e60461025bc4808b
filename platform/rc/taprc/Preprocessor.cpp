#include "Preprocessor.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Expression.h"

namespace tap::rc {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendCodePoint(std::u16string& out, uint32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// Decodes the character of the script text at TEXT[i] (one or more bytes) and advances I.
uint32_t DecodeCharacter(const std::string& text, size_t& i, unsigned codePage, const SourceLocation& where)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i++);
    if (lead < 0x80) {
        return lead;
    }
    if (codePage == 1252) {
        return lead < 0xA0 ? kCp1252High[lead - 0x80] : lead;
    }
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra > text.size()) {
        throw CompileError(where, "invalid UTF-8 in string");
    }
    uint32_t cp = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        unsigned char c = byte(i++);
        if ((c & 0xC0) != 0x80) {
            throw CompileError(where, "invalid UTF-8 in string");
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    return cp;
}

bool IsIdentifierStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool IsIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Reads a quoted string starting at the opening quote TEXT[i]; rc's "" and the C escapes.
std::u16string ReadString(const std::string& text, size_t& i, unsigned codePage, const SourceLocation& where)
{
    std::u16string value;
    ++i;
    for (;;) {
        if (i >= text.size()) {
            throw CompileError(where, "unterminated string");
        }
        char c = text[i];
        if (c == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                value.push_back(u'"');
                i += 2;
                continue;
            }
            ++i;
            return value;
        }
        if (c != '\\') {
            AppendCodePoint(value, DecodeCharacter(text, i, codePage, where));
            continue;
        }
        if (++i >= text.size()) {
            throw CompileError(where, "unterminated string");
        }
        char e = text[i++];
        switch (e) {
        case 'n': value.push_back(u'\n'); break;
        case 'r': value.push_back(u'\r'); break;
        case 't': value.push_back(u'\t'); break;
        case 'a': value.push_back(u'\a'); break;
        case '\\': value.push_back(u'\\'); break;
        case '"': value.push_back(u'"'); break;
        case 'x': {
            uint32_t v = 0;
            int digits = 0;
            while (i < text.size() && digits < 4 && std::isxdigit(static_cast<unsigned char>(text[i]))) {
                v = v * 16 + std::stoul(std::string(1, text[i++]), nullptr, 16);
                ++digits;
            }
            if (digits == 0) {
                throw CompileError(where, "\\x without hex digits in string");
            }
            value.push_back(static_cast<char16_t>(v));
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                uint32_t v = static_cast<uint32_t>(e - '0');
                for (int digits = 1; digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++digits) {
                    v = v * 8 + static_cast<uint32_t>(text[i++] - '0');
                }
                value.push_back(static_cast<char16_t>(v));
            } else {
                throw CompileError(where, std::string("unknown escape '\\") + e + "' in string");
            }
        }
    }
}

Token ReadNumber(const std::string& text, size_t& i, const SourceLocation& where)
{
    size_t start = i;
    int base = 10;
    if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint64_t value = 0;
    size_t digitsStart = i;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10;
        if (digit >= base) {
            break;
        }
        value = (value * base + digit) & 0xFFFFFFFFull;
        ++i;
    }
    if (i == digitsStart) {
        throw CompileError(where, "malformed number '" + text.substr(start, i - start + 1) + "'");
    }
    while (i < text.size() && (text[i] == 'L' || text[i] == 'l' || text[i] == 'U' || text[i] == 'u')) {
        ++i;
    }
    if (i < text.size() && IsIdentifierChar(text[i])) {
        throw CompileError(where, "malformed number '" + text.substr(start, i - start + 1) + "'");
    }
    Token t;
    t.kind = TokenKind::Number;
    t.text = text.substr(start, i - start);
    t.number = static_cast<uint32_t>(value);
    t.where = where;
    return t;
}

const char* const kTwoCharPuncts[] = {"||", "&&", "==", "!=", "<=", ">=", "<<", ">>"};

// Splits a file into logical lines: comments become spaces and backslash-newline joins lines, so
// that each line keeps the number of the physical line where it starts.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string& text, const std::string& file)
{
    std::vector<std::pair<int, std::string>> lines;
    std::string current;
    int line = 1;
    int startLine = 1;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            current.push_back(c);
            if (c == '"') {
                inString = false;
            } else if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
                current.push_back(text[++i]);
            } else if (c == '\n') {
                throw CompileError({file, line}, "unterminated string");
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            current.push_back(c);
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i + 1 < text.size() && text[i + 1] != '\n') {
                ++i;
            }
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            size_t end = text.find("*/", i + 2);
            if (end == std::string::npos) {
                throw CompileError({file, line}, "unterminated comment");
            }
            for (size_t k = i; k < end; ++k) {
                line += text[k] == '\n' ? 1 : 0;
            }
            current.push_back(' ');
            i = end + 1;
        } else if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r')) {
            i += text[i + 1] == '\r' && i + 2 < text.size() && text[i + 2] == '\n' ? 2 : 1;
            ++line;
        } else if (c == '\n') {
            lines.emplace_back(startLine, current);
            current.clear();
            startLine = ++line;
        } else if (c != '\r') {
            current.push_back(c);
        }
    }
    lines.emplace_back(startLine, current);
    return lines;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Only a regular file counts: a directory opens as a stream but cannot be read.
bool FileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

bool Token::IsKeyword(const char* keyword) const
{
    if (kind != TokenKind::Identifier || text.size() != std::char_traits<char>::length(keyword)) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != keyword[i]) {
            return false;
        }
    }
    return true;
}

std::vector<Token> Tokenize(const std::string& text, const SourceLocation& where, unsigned codePage)
{
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if ((c == 'L' || c == 'l') && i + 1 < text.size() && text[i + 1] == '"') {
            ++i; // a wide string holds the same text as a narrow one once converted to UTF-16
            continue;
        }
        Token t;
        t.where = where;
        if (c == '"') {
            t.kind = TokenKind::String;
            t.string = ReadString(text, i, codePage, where);
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t = ReadNumber(text, i, where);
        } else if (IsIdentifierStart(c)) {
            size_t start = i;
            while (i < text.size() && IsIdentifierChar(text[i])) {
                ++i;
            }
            t.kind = TokenKind::Identifier;
            t.text = text.substr(start, i - start);
        } else {
            t.kind = TokenKind::Punct;
            t.text = std::string(1, c);
            for (const char* two : kTwoCharPuncts) {
                if (text.compare(i, 2, two) == 0) {
                    t.text = two;
                }
            }
            if (std::string("(),|&+-~!*/%^<>={}=").find(c) == std::string::npos) {
                throw CompileError(where, std::string("unexpected character '") + c + "'");
            }
            i += t.text.size();
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

Preprocessor::Preprocessor(PreprocessorOptions options) : options_(std::move(options))
{
    for (const auto& [name, value] : options_.defines) {
        macros_[name] = Tokenize(value, {"<command line>", 0}, codePage_);
    }
}

std::vector<Token> Preprocessor::Run(const std::string& path)
{
    if (!FileExists(path)) {
        throw CompileError({path, 0}, "cannot open the script");
    }
    return RunText(path, ReadFile(path));
}

std::vector<Token> Preprocessor::RunText(const std::string& path, const std::string& text)
{
    output_.clear();
    conditionals_.clear();
    ProcessFile(path, text, 0);
    Token end;
    end.where = {path, output_.empty() ? 1 : output_.back().where.line};
    output_.push_back(end);
    return std::move(output_);
}

void Preprocessor::ProcessFile(const std::string& path, const std::string& text, int depth)
{
    filesRead_.insert(path);
    size_t conditionalDepth = conditionals_.size();
    for (const auto& [lineNumber, line] : LogicalLines(text, path)) {
        SourceLocation where{path, lineNumber};
        std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed[0] == '#') {
            ProcessDirective(Trim(trimmed.substr(1)), where, depth);
        } else if (Active() && !trimmed.empty()) {
            std::set<std::string> expanding;
            for (Token& t : Expand(Tokenize(trimmed, where, codePage_), expanding)) {
                t.where = where;
                output_.push_back(std::move(t));
            }
        }
    }
    if (conditionals_.size() != conditionalDepth) {
        throw CompileError(conditionals_.back().where, "#if without #endif");
    }
}

bool Preprocessor::Active() const
{
    return conditionals_.empty() || conditionals_.back().active;
}

void Preprocessor::ProcessDirective(const std::string& body, const SourceLocation& where, int depth)
{
    size_t nameEnd = 0;
    while (nameEnd < body.size() && IsIdentifierChar(body[nameEnd])) {
        ++nameEnd;
    }
    std::string name = body.substr(0, nameEnd);
    std::string argument = Trim(body.substr(nameEnd));

    if (name == "if" || name == "ifdef" || name == "ifndef") {
        bool parentActive = Active();
        bool value = false;
        if (parentActive) {
            value = name == "if" ? EvaluateCondition(argument, where)
                                 : (macros_.count(argument) != 0) == (name == "ifdef");
        }
        conditionals_.push_back({parentActive && value, value, parentActive, where});
        return;
    }
    if (name == "elif" || name == "else" || name == "endif") {
        if (conditionals_.empty()) {
            throw CompileError(where, "#" + name + " without #if");
        }
        Conditional& c = conditionals_.back();
        if (name == "endif") {
            conditionals_.pop_back();
        } else if (name == "else") {
            c.active = c.parentActive && !c.anyTaken;
            c.anyTaken = true;
        } else {
            bool value = c.parentActive && !c.anyTaken && EvaluateCondition(argument, where);
            c.active = value;
            c.anyTaken = c.anyTaken || value;
        }
        return;
    }
    if (!Active()) {
        return;
    }
    if (name == "include") {
        ProcessInclude(argument, where, depth);
    } else if (name == "define") {
        std::vector<Token> tokens = Tokenize(argument, where, codePage_);
        if (tokens.empty() || tokens[0].kind != TokenKind::Identifier) {
            throw CompileError(where, "#define without a macro name");
        }
        size_t nameLength = tokens[0].text.size();
        if (argument.size() > nameLength && argument[nameLength] == '(') {
            throw CompileError(where, "function-like macros are not supported");
        }
        macros_[tokens[0].text] = std::vector<Token>(tokens.begin() + 1, tokens.end());
    } else if (name == "undef") {
        macros_.erase(argument);
    } else if (name == "pragma") {
        ProcessPragma(argument, where);
    } else if (name == "error") {
        throw CompileError(where, "#error " + argument);
    } else if (!name.empty()) {
        throw CompileError(where, "unknown directive #" + name);
    }
}

void Preprocessor::ProcessInclude(const std::string& argument, const SourceLocation& where, int depth)
{
    if (argument.size() >= 2 && argument.front() == '<' && argument.back() == '>') {
        // System headers (<windows.h>, <winres.h>, <commctrl.h>) define the Windows constants,
        // which this compiler knows built in.
        return;
    }
    if (argument.size() < 2 || argument.front() != '"' || argument.back() != '"') {
        throw CompileError(where, "#include expects \"file\" or <file>");
    }
    if (depth >= 16) {
        throw CompileError(where, "#include nested too deeply");
    }
    std::string path = FindInclude(argument.substr(1, argument.size() - 2), where.file);
    if (path.empty()) {
        throw CompileError(where, "cannot find include file " + argument);
    }
    ProcessFile(path, ReadFile(path), depth + 1);
}

void Preprocessor::ProcessPragma(const std::string& argument, const SourceLocation& where)
{
    const std::string prefix = "code_page";
    if (argument.compare(0, prefix.size(), prefix) != 0) {
        return; // other pragmas mean nothing to a resource compiler
    }
    std::string inner = Trim(argument.substr(prefix.size()));
    if (inner.size() < 2 || inner.front() != '(' || inner.back() != ')') {
        throw CompileError(where, "malformed #pragma code_page");
    }
    std::string value = Trim(inner.substr(1, inner.size() - 2));
    if (value == "65001" || value == "1252") {
        codePage_ = static_cast<unsigned>(std::stoul(value));
    } else if (value == "DEFAULT") {
        codePage_ = 1252;
    } else {
        throw CompileError(where, "unsupported code page " + value + " (use 65001 or 1252)");
    }
}

bool Preprocessor::EvaluateCondition(const std::string& expression, const SourceLocation& where)
{
    // "defined X" and "defined(X)" are decided before macro replacement.
    std::vector<Token> raw = Tokenize(expression, where, codePage_);
    std::vector<Token> replaced;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].kind != TokenKind::Identifier || raw[i].text != "defined") {
            replaced.push_back(raw[i]);
            continue;
        }
        bool parenthesised = i + 1 < raw.size() && raw[i + 1].IsPunct("(");
        size_t nameIndex = i + (parenthesised ? 2 : 1);
        if (nameIndex >= raw.size() || raw[nameIndex].kind != TokenKind::Identifier ||
            (parenthesised && (nameIndex + 1 >= raw.size() || !raw[nameIndex + 1].IsPunct(")")))) {
            throw CompileError(where, "malformed defined() in #if");
        }
        Token value;
        value.kind = TokenKind::Number;
        value.number = macros_.count(raw[nameIndex].text) ? 1 : 0;
        value.text = std::to_string(value.number);
        value.where = where;
        replaced.push_back(value);
        i = nameIndex + (parenthesised ? 1 : 0);
    }
    std::set<std::string> expanding;
    std::vector<Token> tokens = Expand(replaced, expanding);
    if (tokens.empty()) {
        throw CompileError(where, "#if without an expression");
    }
    Token end;
    end.where = where;
    tokens.push_back(end);
    size_t position = 0;
    // Names that are still there after replacement are not macros, and count as 0 as in C.
    ExpressionReader reader(tokens, position, [](const Token&) { return std::optional<uint32_t>(0); });
    uint32_t value = reader.Full();
    if (tokens[position].kind != TokenKind::End) {
        throw CompileError(where, "unexpected '" + tokens[position].text + "' in #if");
    }
    return value != 0;
}

std::vector<Token> Preprocessor::Expand(const std::vector<Token>& tokens, std::set<std::string>& expanding) const
{
    std::vector<Token> out;
    for (const Token& t : tokens) {
        auto macro = t.kind == TokenKind::Identifier ? macros_.find(t.text) : macros_.end();
        if (macro == macros_.end() || expanding.count(t.text)) {
            out.push_back(t);
            continue;
        }
        expanding.insert(t.text);
        for (Token& e : Expand(macro->second, expanding)) {
            e.where = t.where;
            out.push_back(std::move(e));
        }
        expanding.erase(t.text);
    }
    return out;
}

std::string Preprocessor::FindInclude(const std::string& name, const std::string& fromFile) const
{
    std::vector<std::string> candidates{DirectoryOf(fromFile) + "/" + name};
    for (const std::string& dir : options_.includeDirs) {
        candidates.push_back(dir + "/" + name);
    }
    for (const std::string& candidate : candidates) {
        if (FileExists(candidate)) {
            return candidate;
        }
    }
    return {};
}

} // namespace tap::rc
