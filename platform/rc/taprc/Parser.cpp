// Statements of a resource script: LANGUAGE, DIALOG/DIALOGEX with their optional statements and
// controls, DLGINIT, STRINGTABLE, ICON and BITMAP; VERSIONINFO is read and left out. The defaults of each control statement are those of the
// Windows resource compiler, so that the tables describe the same windows as the .res would.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Expression.h"
#include "Preprocessor.h"
#include "Script.h"
#include "WindowsConstants.h"

namespace tap::rc {
namespace {

constexpr uint32_t kChildVisible = 0x40000000 | 0x10000000; // WS_CHILD | WS_VISIBLE
constexpr uint32_t kDefaultDialogStyle = 0x80000000 | 0x00800000 | 0x00080000; // WS_POPUP|WS_BORDER|WS_SYSMENU
constexpr uint32_t kCaption = 0x00C00000;   // WS_CAPTION
constexpr uint32_t kSetFont = 0x40;         // DS_SETFONT
constexpr uint32_t kGroup = 0x00020000;     // WS_GROUP
constexpr uint32_t kTabStop = 0x00010000;   // WS_TABSTOP
constexpr uint32_t kBorder = 0x00800000;    // WS_BORDER

// How a control statement lays out its arguments and which window it stands for. A statement
// without a style argument gets the default style; one with a style argument gets the base style
// combined with it, which for some statements drops WS_GROUP or WS_TABSTOP (windres' rules, so
// that both targets build the same windows).
struct ControlStatement {
    const char* keyword;
    const char16_t* windowClass;
    uint32_t defaultStyle;
    uint32_t baseStyle;
    bool hasText;       // the first argument is the text
    bool sizeOptional;  // ICON: width and height may be left out
};

const ControlStatement kControlStatements[] = {
    {"LTEXT", u"STATIC", 0x0 | kGroup, 0x0, true, false},
    {"CTEXT", u"STATIC", 0x1 | kGroup, 0x1, true, false},
    {"RTEXT", u"STATIC", 0x2 | kGroup, 0x2, true, false},
    {"ICON", u"STATIC", 0x3, 0x3, true, true},
    {"PUSHBUTTON", u"BUTTON", 0x0 | kTabStop, 0x0 | kTabStop, true, false},
    {"DEFPUSHBUTTON", u"BUTTON", 0x1 | kTabStop, 0x1 | kTabStop, true, false},
    {"CHECKBOX", u"BUTTON", 0x2 | kTabStop, 0x2 | kTabStop, true, false},
    {"AUTOCHECKBOX", u"BUTTON", 0x3 | kTabStop, 0x3 | kTabStop, true, false},
    {"RADIOBUTTON", u"BUTTON", 0x4 | kTabStop, 0x4, true, false},
    {"GROUPBOX", u"BUTTON", 0x7, 0x7, true, false},
    {"AUTORADIOBUTTON", u"BUTTON", 0x9 | kTabStop, 0x9, true, false},
    {"EDITTEXT", u"EDIT", 0x0 | kBorder | kTabStop, 0x0 | kBorder | kTabStop, false, false},
    {"COMBOBOX", u"COMBOBOX", 0x1 | kTabStop, 0x0, false, false},
    {"LISTBOX", u"LISTBOX", 0x1 | kBorder, 0x1 | kBorder, false, false},
};

const char* const kMemoryFlags[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE",
                                    "PRELOAD", "LOADONCALL", "SHARED", "NONSHARED"};

std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// Window class names are not case sensitive; like windres, the tables spell them in upper case.
std::u16string NormaliseClass(const std::u16string& name)
{
    std::u16string upper = name;
    for (char16_t& c : upper) {
        c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    }
    return upper;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, const std::string& scriptPath, const CompileOptions& options)
        : tokens_(std::move(tokens)), scriptPath_(scriptPath), options_(options)
    {
    }

    void Parse(Script& script)
    {
        while (Peek().kind != TokenKind::End) {
            if (Peek().IsKeyword("LANGUAGE")) {
                Next();
                language_ = ReadLanguage();
            } else if (Peek().IsKeyword("STRINGTABLE")) {
                Next();
                ReadStringTable(script);
            } else {
                ReadNamedResource(script);
            }
        }
    }

private:
    const Token& Peek(size_t ahead = 0) const
    {
        size_t i = position_ + ahead;
        return tokens_[i < tokens_.size() ? i : tokens_.size() - 1];
    }
    const Token& Next()
    {
        const Token& t = Peek();
        if (position_ < tokens_.size() - 1) {
            ++position_;
        }
        return t;
    }

    [[noreturn]] void Fail(const Token& at, const std::string& message) const
    {
        throw CompileError(at.where, message);
    }

    std::string Describe(const Token& t) const
    {
        switch (t.kind) {
        case TokenKind::End: return "end of script";
        case TokenKind::String: return "a string";
        default: return "'" + t.text + "'";
        }
    }

    void ExpectComma()
    {
        if (!Peek().IsPunct(",")) {
            Fail(Peek(), "expected ',' but found " + Describe(Peek()));
        }
        Next();
    }

    bool SkipComma()
    {
        if (Peek().IsPunct(",")) {
            Next();
            return true;
        }
        return false;
    }

    uint32_t Number()
    {
        ExpressionReader reader(tokens_, position_, [](const Token& t) { return WindowsNumber(t.text); });
        return reader.Full();
    }

    int16_t Coordinate() { return static_cast<int16_t>(Number()); }

    // A style list: terms joined by '|', a term prefixed with NOT removes its bits from BASE.
    uint32_t Style(uint32_t base)
    {
        ExpressionReader reader(tokens_, position_, [](const Token& t) { return WindowsNumber(t.text); });
        uint32_t value = base;
        for (;;) {
            bool remove = false;
            if (Peek().IsKeyword("NOT")) {
                Next();
                remove = true;
            }
            uint32_t term = reader.Term();
            value = remove ? (value & ~term) : (value | term);
            if (!Peek().IsPunct("|")) {
                return value;
            }
            Next();
        }
    }

    std::u16string String()
    {
        if (Peek().kind != TokenKind::String) {
            Fail(Peek(), "expected a string but found " + Describe(Peek()));
        }
        return Next().string;
    }

    bool AtBegin() const { return Peek().IsKeyword("BEGIN") || Peek().IsPunct("{"); }
    bool AtEnd() const { return Peek().IsKeyword("END") || Peek().IsPunct("}"); }

    void ExpectBegin()
    {
        if (!AtBegin()) {
            Fail(Peek(), "expected BEGIN but found " + Describe(Peek()));
        }
        Next();
    }

    uint16_t ReadLanguage()
    {
        uint32_t primary = Number();
        ExpectComma();
        uint32_t sub = Number();
        return static_cast<uint16_t>((sub << 10) | (primary & 0x3FF));
    }

    void SkipMemoryFlags()
    {
        for (bool skipped = true; skipped;) {
            skipped = false;
            for (const char* flag : kMemoryFlags) {
                if (Peek().IsKeyword(flag)) {
                    Next();
                    skipped = true;
                }
            }
        }
    }

    uint16_t ResourceId()
    {
        const Token& first = Peek();
        if (first.kind == TokenKind::Identifier && !WindowsNumber(first.text) &&
            (Peek(1).kind == TokenKind::Identifier)) {
            Fail(first, "resource name '" + first.text + "' is not a numeric id (is its #define missing?)");
        }
        uint32_t id = Number();
        if (id == 0 || id > 0xFFFF) {
            Fail(first, "resource id " + std::to_string(id) + " is outside 1..65535");
        }
        return static_cast<uint16_t>(id);
    }

    void ReadNamedResource(Script& script)
    {
        const Token& start = Peek();
        if (start.kind == TokenKind::String || (start.kind == TokenKind::Punct && !start.IsPunct("("))) {
            Fail(start, "expected a resource statement but found " + Describe(start));
        }
        uint16_t id = ResourceId();
        const Token& type = Next();
        if (type.IsKeyword("DIALOG") || type.IsKeyword("DIALOGEX")) {
            ReadDialog(script, id, type.IsKeyword("DIALOGEX"));
        } else if (type.IsKeyword("ICON")) {
            script.icons.push_back(ReadFileResource(id));
        } else if (type.IsKeyword("BITMAP")) {
            script.bitmaps.push_back(ReadFileResource(id));
        } else if (type.IsKeyword("DLGINIT")) {
            script.dialogInits.push_back({id, language_, ReadRawData(type)});
        } else if (type.IsKeyword("VERSIONINFO")) {
            SkipVersionInfo(type);
        } else {
            Fail(type, "unsupported resource type " + Describe(type));
        }
    }

    // The version record is what Windows shows in a file's properties; programs on the simulated PC
    // have no file properties, so its statements and blocks are read to their END and dropped.
    void SkipVersionInfo(const Token& keyword)
    {
        while (!AtBegin()) {
            if (Peek().kind == TokenKind::End) {
                Fail(keyword, "VERSIONINFO without BEGIN");
            }
            Next();
        }
        int depth = 0;
        do {
            if (Peek().kind == TokenKind::End) {
                Fail(keyword, "VERSIONINFO without END");
            }
            depth += AtBegin() ? 1 : AtEnd() ? -1 : 0;
            Next();
        } while (depth > 0);
    }

    // The data block of a raw resource, as windres writes it: a number is a 16-bit word (a 32-bit
    // one with the suffix L), a string its characters as bytes without a terminator; commas
    // between the items are optional.
    std::vector<uint8_t> ReadRawData(const Token& keyword)
    {
        SkipMemoryFlags();
        ExpectBegin();
        std::vector<uint8_t> bytes;
        while (!AtEnd()) {
            const Token& item = Peek();
            if (item.kind == TokenKind::End) {
                Fail(keyword, "data without END");
            }
            if (item.kind == TokenKind::String) {
                for (char16_t c : Next().string) {
                    if (c > 0x7F) {
                        Fail(item, "only ASCII text is supported in raw data");
                    }
                    bytes.push_back(static_cast<uint8_t>(c));
                }
            } else {
                const bool dword = item.kind == TokenKind::Number && !item.text.empty() &&
                                   (item.text.back() == 'L' || item.text.back() == 'l');
                uint32_t value = Number();
                for (int i = 0; i < (dword ? 4 : 2); ++i) {
                    bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
                }
            }
            SkipComma();
        }
        Next();
        return bytes;
    }

    FileEntry ReadFileResource(uint16_t id)
    {
        SkipMemoryFlags();
        const Token& nameToken = Peek();
        std::u16string name = String();
        std::string narrow;
        for (char16_t c : name) {
            narrow.push_back(c == u'\\' ? '/' : static_cast<char>(c));
        }
        FileEntry entry;
        entry.id = id;
        entry.language = language_;
        entry.path = FindFile(narrow);
        std::ifstream in(entry.path, std::ios::binary);
        if (entry.path.empty() || !in) {
            Fail(nameToken, "cannot open resource file '" + narrow + "'");
        }
        entry.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return entry;
    }

    std::string FindFile(const std::string& name) const
    {
        size_t slash = scriptPath_.find_last_of('/');
        std::vector<std::string> candidates{
            (slash == std::string::npos ? std::string(".") : scriptPath_.substr(0, slash)) + "/" + name};
        for (const std::string& dir : options_.includeDirs) {
            candidates.push_back(dir + "/" + name);
        }
        for (const std::string& candidate : candidates) {
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) { // a directory cannot be read
                return candidate;
            }
        }
        return {};
    }

    void ReadStringTable(Script& script)
    {
        SkipMemoryFlags();
        uint16_t language = language_;
        while (!AtBegin()) {
            if (Peek().IsKeyword("LANGUAGE")) {
                Next();
                language = ReadLanguage();
            } else if (Peek().IsKeyword("CHARACTERISTICS") || Peek().IsKeyword("VERSION")) {
                Next();
                Number();
            } else {
                Fail(Peek(), "expected BEGIN but found " + Describe(Peek()));
            }
        }
        Next();
        while (!AtEnd()) {
            if (Peek().kind == TokenKind::End) {
                Fail(Peek(), "STRINGTABLE without END");
            }
            const Token& idToken = Peek();
            uint32_t id = Number();
            if (id > 0xFFFF) {
                Fail(idToken, "string id " + std::to_string(id) + " is outside 0..65535");
            }
            SkipComma();
            for (const StringEntry& existing : script.strings) {
                if (existing.id == id && existing.language == language) {
                    Fail(idToken, "string id " + std::to_string(id) + " is defined twice");
                }
            }
            script.strings.push_back({static_cast<uint16_t>(id), language, String()});
        }
        Next();
    }

    void ReadDialog(Script& script, uint16_t id, bool extended)
    {
        Dialog dialog;
        dialog.id = id;
        dialog.extended = extended;
        dialog.language = language_;
        SkipMemoryFlags();
        dialog.x = Coordinate();
        ExpectComma();
        dialog.y = Coordinate();
        ExpectComma();
        dialog.cx = Coordinate();
        ExpectComma();
        dialog.cy = Coordinate();
        if (extended && SkipComma()) {
            Number(); // help id
        }
        ReadDialogOptions(dialog);
        ExpectBegin();
        while (!AtEnd()) {
            if (Peek().kind == TokenKind::End) {
                Fail(Peek(), "dialog without END");
            }
            dialog.controls.push_back(ReadControl());
        }
        Next();
        script.dialogs.push_back(std::move(dialog));
    }

    void ReadDialogOptions(Dialog& dialog)
    {
        bool styleGiven = false;
        bool captionGiven = false;
        while (!AtBegin()) {
            const Token& statement = Next();
            if (statement.IsKeyword("STYLE")) {
                dialog.style = Style(0);
                styleGiven = true;
            } else if (statement.IsKeyword("EXSTYLE")) {
                dialog.exStyle = Style(0);
            } else if (statement.IsKeyword("CAPTION")) {
                dialog.caption = String();
                captionGiven = true;
            } else if (statement.IsKeyword("FONT")) {
                ReadFont(dialog);
            } else if (statement.IsKeyword("LANGUAGE")) {
                dialog.language = ReadLanguage();
            } else if (statement.IsKeyword("CHARACTERISTICS") || statement.IsKeyword("VERSION")) {
                Number();
            } else {
                Fail(statement, "unexpected " + Describe(statement) + " in dialog header");
            }
        }
        if (!styleGiven) {
            dialog.style = kDefaultDialogStyle;
        }
        if (captionGiven) {
            dialog.style |= kCaption;
        }
        if (!dialog.fontFace.empty()) {
            dialog.style |= kSetFont;
        }
    }

    void ReadFont(Dialog& dialog)
    {
        dialog.fontPointSize = static_cast<uint16_t>(Number());
        ExpectComma();
        dialog.fontFace = String();
        if (SkipComma()) {
            dialog.fontWeight = static_cast<uint16_t>(Number());
            ExpectComma();
            dialog.fontItalic = Number() != 0;
            if (SkipComma()) {
                Number(); // character set
            }
        }
    }

    Control ReadControl()
    {
        const Token& keyword = Next();
        if (keyword.IsKeyword("CONTROL")) {
            return ReadGenericControl();
        }
        for (const ControlStatement& statement : kControlStatements) {
            if (keyword.IsKeyword(statement.keyword)) {
                return ReadShorthandControl(statement);
            }
        }
        Fail(keyword, "unknown control statement " + Describe(keyword));
    }

    void ReadText(Control& control)
    {
        if (Peek().kind == TokenKind::String) {
            control.text = Next().string;
        } else {
            control.textOrdinal = static_cast<uint16_t>(Number());
        }
    }

    void ReadRectangle(Control& control, bool sizeOptional)
    {
        control.x = Coordinate();
        ExpectComma();
        control.y = Coordinate();
        if (sizeOptional && !Peek().IsPunct(",")) {
            return;
        }
        ExpectComma();
        control.cx = Coordinate();
        ExpectComma();
        control.cy = Coordinate();
    }

    Control ReadShorthandControl(const ControlStatement& statement)
    {
        Control control;
        control.windowClass = statement.windowClass;
        if (statement.hasText) {
            ReadText(control);
            ExpectComma();
        }
        control.id = static_cast<int32_t>(Number());
        ExpectComma();
        ReadRectangle(control, statement.sizeOptional);
        control.style = kChildVisible | statement.defaultStyle;
        if (SkipComma()) {
            control.style = Style(kChildVisible | statement.baseStyle);
            if (SkipComma()) {
                control.exStyle = Style(0);
                if (SkipComma()) {
                    Number(); // help id
                }
            }
        }
        return control;
    }

    Control ReadGenericControl()
    {
        Control control;
        ReadText(control);
        ExpectComma();
        control.id = static_cast<int32_t>(Number());
        ExpectComma();
        const Token& classToken = Next();
        if (classToken.kind == TokenKind::String) {
            control.windowClass = NormaliseClass(classToken.string);
        } else if (classToken.kind == TokenKind::Identifier) {
            std::optional<std::u16string> named = WindowsClassName(classToken.text);
            control.windowClass = NormaliseClass(named ? *named : Widen(classToken.text));
        } else {
            Fail(classToken, "expected a window class but found " + Describe(classToken));
        }
        ExpectComma();
        control.style = Style(kChildVisible);
        ExpectComma();
        ReadRectangle(control, false);
        if (SkipComma()) {
            control.exStyle = Style(0);
            if (SkipComma()) {
                Number(); // help id
            }
        }
        return control;
    }

    std::vector<Token> tokens_;
    size_t position_ = 0;
    std::string scriptPath_;
    const CompileOptions& options_;
    uint16_t language_ = 0;
};

Script Compile(const std::string& path, const std::string* text, const CompileOptions& options)
{
    Preprocessor preprocessor({options.includeDirs, {{"RC_INVOKED", "1"}}});
    std::vector<Token> tokens = text ? preprocessor.RunText(path, *text) : preprocessor.Run(path);
    Script script;
    Parser(std::move(tokens), path, options).Parse(script);
    script.filesRead.assign(preprocessor.FilesRead().begin(), preprocessor.FilesRead().end());
    for (const auto* files : {&script.icons, &script.bitmaps}) {
        for (const FileEntry& file : *files) {
            script.filesRead.push_back(file.path);
        }
    }
    return script;
}

} // namespace

Script CompileScript(const std::string& path, const CompileOptions& options)
{
    return Compile(path, nullptr, options);
}

Script CompileScriptText(const std::string& path, const std::string& text, const CompileOptions& options)
{
    return Compile(path, &text, options);
}

} // namespace tap::rc
