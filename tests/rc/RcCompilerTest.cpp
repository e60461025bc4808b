// The resource compiler on scripts given as text: statements, defaults, preprocessing, encodings
// and the "file:line: message" of each kind of fault.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Script.h"

namespace tap::rc {
namespace {

constexpr uint32_t WS_CHILD_VISIBLE = 0x50000000;

Script Compile(const std::string& text)
{
    return CompileScriptText(TAP_RC_DATA_DIR "/inline.rc", text, {});
}

std::string ErrorOf(const std::string& text)
{
    try {
        Compile(text);
    } catch (const CompileError& error) {
        return error.what();
    }
    return "no error";
}

TEST(RcCompiler, DialogHeaderAddsCaptionAndFontStylesToTheGivenStyle)
{
    Script script = Compile("1 DIALOGEX 1, 2, 78, 70\n"
                            "STYLE WS_VISIBLE | WS_SYSMENU\n"
                            "EXSTYLE WS_EX_APPWINDOW | WS_EX_TOPMOST\n"
                            "CAPTION \"Title\"\n"
                            "FONT 9, \"Face\", 700, 1\n"
                            "BEGIN\nEND\n");
    ASSERT_EQ(script.dialogs.size(), 1u);
    const Dialog& d = script.dialogs[0];
    EXPECT_TRUE(d.extended);
    EXPECT_EQ(d.style, 0x10000000u | 0x00080000u | 0x00C00000u | 0x40u);
    EXPECT_EQ(d.exStyle, 0x00040008u);
    EXPECT_EQ(d.x, 1);
    EXPECT_EQ(d.cy, 70);
    EXPECT_EQ(d.caption, u"Title");
    EXPECT_EQ(d.fontFace, u"Face");
    EXPECT_EQ(d.fontPointSize, 9);
    EXPECT_EQ(d.fontWeight, 700);
    EXPECT_TRUE(d.fontItalic);
}

TEST(RcCompiler, DialogWithoutStyleIsAPopupWithBorderAndSystemMenu)
{
    Script script = Compile("5 DIALOG DISCARDABLE 0, 0, 10, 10 BEGIN END");
    EXPECT_EQ(script.dialogs[0].style, 0x80880000u);
    EXPECT_FALSE(script.dialogs[0].extended);
}

TEST(RcCompiler, ShorthandControlsTakeTheirClassesAndDefaultStyles)
{
    Script script = Compile("1 DIALOG 0, 0, 100, 100\nBEGIN\n"
                            "LTEXT \"l\", 10, 1, 2, 3, 4\n"
                            "CTEXT \"c\", 11, 1, 2, 3, 4\n"
                            "RTEXT \"r\", 12, 1, 2, 3, 4\n"
                            "PUSHBUTTON \"p\", 13, 1, 2, 3, 4\n"
                            "DEFPUSHBUTTON \"d\", 14, 1, 2, 3, 4\n"
                            "GROUPBOX \"g\", 15, 1, 2, 3, 4\n"
                            "AUTORADIOBUTTON \"a\", 16, 1, 2, 3, 4\n"
                            "EDITTEXT 17, 1, 2, 3, 4\n"
                            "COMBOBOX 18, 1, 2, 3, 4\n"
                            "LISTBOX 19, 1, 2, 3, 4\n"
                            "ICON 128, 20, 5, 6\n"
                            "END\n");
    struct Expected {
        const char16_t* windowClass;
        uint32_t style;
    };
    const Expected expected[] = {
        {u"STATIC", 0x00020000}, {u"STATIC", 0x00020001}, {u"STATIC", 0x00020002},
        {u"BUTTON", 0x00010000}, {u"BUTTON", 0x00010001}, {u"BUTTON", 0x00000007},
        {u"BUTTON", 0x00010009}, {u"EDIT", 0x00810000},   {u"COMBOBOX", 0x00010001},
        {u"LISTBOX", 0x00800001}, {u"STATIC", 0x00000003},
    };
    const auto& controls = script.dialogs[0].controls;
    ASSERT_EQ(controls.size(), std::size(expected));
    for (size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(controls[i].windowClass, expected[i].windowClass);
        EXPECT_EQ(controls[i].style, WS_CHILD_VISIBLE | expected[i].style);
        EXPECT_EQ(controls[i].id, static_cast<int32_t>(10 + i));
    }
    EXPECT_EQ(controls[0].text, u"l");
    EXPECT_EQ(controls[10].textOrdinal, 128);
    EXPECT_EQ(controls[10].cx, 0);
}

TEST(RcCompiler, GivenStylesCombineWithTheBaseStyleAndNotRemovesBits)
{
    Script script = Compile("1 DIALOG 0, 0, 100, 100\nBEGIN\n"
                            "LTEXT \"l\", -1, 1, 2, 3, 4, SS_NOPREFIX\n"
                            "COMBOBOX 18, 1, 2, 3, 4, CBS_DROPDOWNLIST | WS_VSCROLL\n"
                            "PUSHBUTTON \"p\", 13, 1, 2, 3, 4, NOT WS_TABSTOP\n"
                            "CONTROL \"\", 5, \"msctls_progress32\", NOT WS_VISIBLE | WS_BORDER, 1, 2, 3, 4, "
                            "WS_EX_CLIENTEDGE\n"
                            "CONTROL \"x\", 6, \"Button\", BS_AUTORADIOBUTTON, 1, 2, 3, 4\n"
                            "END\n");
    const auto& c = script.dialogs[0].controls;
    EXPECT_EQ(c[0].style, WS_CHILD_VISIBLE | 0x80u); // WS_GROUP of the default is gone
    EXPECT_EQ(c[0].id, -1);
    EXPECT_EQ(c[1].style, WS_CHILD_VISIBLE | 0x00200003u);
    EXPECT_EQ(c[2].style, WS_CHILD_VISIBLE);
    EXPECT_EQ(c[3].style, 0x40800000u);
    EXPECT_EQ(c[3].exStyle, 0x200u);
    EXPECT_EQ(c[3].windowClass, u"MSCTLS_PROGRESS32");
    EXPECT_EQ(c[4].windowClass, u"BUTTON");
    EXPECT_EQ(c[4].style, WS_CHILD_VISIBLE | 9u);
}

TEST(RcCompiler, PreprocessorReadsHeaderIdsAndConditionalSections)
{
    Script script = Compile("#include \"conformance.h\"\n"
                            "#define LOCAL_ID (IDD_CHINESE + 1)\n"
                            "/* a comment\n   over lines */\n"
                            "#ifdef APSTUDIO_INVOKED\n"
                            "this is never read\n"
                            "#elif defined(IDD_SETTINGS) && IDD_SETTINGS == 1003\n"
                            "LOCAL_ID DIALOG 0, 0, 1, 1 BEGIN END // trailing comment\n"
                            "#else\n"
                            "#error not taken\n"
                            "#endif\n"
                            "#if 0\n#if 1\nnested\n#endif\n#endif\n");
    ASSERT_EQ(script.dialogs.size(), 1u);
    EXPECT_EQ(script.dialogs[0].id, 103);
    EXPECT_EQ(script.filesRead.size(), 2u);
}

TEST(RcCompiler, Utf8ScriptGivesChineseTextAndLanguage)
{
    Script script = Compile("#pragma code_page(65001)\n"
                            "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED\n"
                            "1 DIALOGEX 0, 0, 1, 1 FONT 9, \"\xE5\xAE\x8B\xE4\xBD\x93\" BEGIN END\n"
                            "STRINGTABLE BEGIN 101 \"\xE5\x85\xB3\xE4\xBA\x8E\xF0\x9F\x98\x80\" END\n");
    EXPECT_EQ(script.dialogs[0].language, 0x0804);
    EXPECT_EQ(script.dialogs[0].fontFace, u"\u5B8B\u4F53");
    EXPECT_EQ(script.strings[0].language, 0x0804);
    EXPECT_EQ(script.strings[0].text, u"\u5173\u4E8E\U0001F600");
}

TEST(RcCompiler, StringTableEscapes)
{
    Script script = Compile("STRINGTABLE\nBEGIN\n"
                            "  1, \"Say \"\"yes\"\"\\nor\\tno\"\n"
                            "  2 L\"back\\\\slash \\x41\\101\"\n"
                            "END\n");
    EXPECT_EQ(script.strings[0].text, u"Say \"yes\"\nor\tno");
    EXPECT_EQ(script.strings[1].text, u"back\\slash AA");
}

TEST(RcCompiler, IconAndBitmapEmbedTheFilesTheyName)
{
    Script script = Compile("128 ICON \"Square.ico\"\n131 BITMAP MOVEABLE PURE \"Strip.bmp\"\n");
    ASSERT_EQ(script.icons.size(), 1u);
    ASSERT_EQ(script.bitmaps.size(), 1u);
    std::ifstream ico(TAP_RC_DATA_DIR "/Square.ico", std::ios::binary | std::ios::ate);
    EXPECT_EQ(script.icons[0].bytes.size(), static_cast<size_t>(ico.tellg()));
    EXPECT_EQ(script.bitmaps[0].bytes[0], 'B');
    EXPECT_EQ(script.bitmaps[0].id, 131);
}

TEST(RcCompiler, VersionRecordIsReadAndLeftOut)
{
    Script script = Compile("1 VERSIONINFO\n FILEVERSION 1,0,0,0\n FILEOS VOS_NT_WINDOWS32\n"
                            "BEGIN\n BLOCK \"StringFileInfo\"\n BEGIN\n  BLOCK \"080404b0\"\n  {\n"
                            "   VALUE \"FileDescription\", \"Tool\"\n  }\n END\n"
                            " BLOCK \"VarFileInfo\" BEGIN VALUE \"Translation\", 0x804, 1200 END\n"
                            "END\n"
                            "STRINGTABLE BEGIN 7 \"after\" END\n");
    ASSERT_EQ(script.strings.size(), 1u);
    EXPECT_EQ(script.strings[0].text, u"after");
    const std::string file = TAP_RC_DATA_DIR "/inline.rc:";
    EXPECT_EQ(ErrorOf("1 VERSIONINFO FILEVERSION 1,0,0,0"), file + "1: VERSIONINFO without BEGIN");
    EXPECT_EQ(ErrorOf("1 VERSIONINFO\nBEGIN BLOCK \"x\" BEGIN END"), file + "1: VERSIONINFO without END");
}

TEST(RcCompiler, FaultsNameTheFileAndLine)
{
    const std::string file = TAP_RC_DATA_DIR "/inline.rc:";
    EXPECT_EQ(ErrorOf("1 DIALOG 0, 0, 1\n1\nBEGIN END"), file + "2: expected ',' but found '1'");
    EXPECT_EQ(ErrorOf("\n/*\n*/ 1 DIALOG 0, 0, 1, 1\nBEGIN\nLTEXT \"a\", IDC_NOPE, 1, 2, 3, 4\nEND"),
              file + "5: undefined symbol 'IDC_NOPE'");
    EXPECT_EQ(ErrorOf("STRINGTABLE BEGIN\n1 \"open\nEND"), file + "2: unterminated string");
    EXPECT_EQ(ErrorOf("1 MENU BEGIN END"), file + "1: unsupported resource type 'MENU'");
    EXPECT_EQ(ErrorOf("IDD_MISSING DIALOG 0, 0, 1, 1 BEGIN END"),
              file + "1: resource name 'IDD_MISSING' is not a numeric id (is its #define missing?)");
    EXPECT_EQ(ErrorOf("#include \"absent.h\""), file + "1: cannot find include file \"absent.h\"");
    EXPECT_EQ(ErrorOf("\n#ifdef X\n"), file + "2: #if without #endif");
    EXPECT_EQ(ErrorOf("1 DIALOG 0, 0, 1, 1 BEGIN\nSLIDER 1, 2\nEND"),
              file + "2: unknown control statement 'SLIDER'");
    EXPECT_EQ(ErrorOf("1 ICON \"absent.ico\""), file + "1: cannot open resource file 'absent.ico'");
    EXPECT_EQ(ErrorOf("1 DIALOG 0, 0, 1, 1 BEGIN"), file + "1: dialog without END");
    EXPECT_EQ(ErrorOf("#pragma code_page(936)"), file + "1: unsupported code page 936 (use 65001 or 1252)");
}

TEST(RcCompiler, LanguageOfADialogHeaderAndOfLaterResources)
{
    Script script = Compile("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
                            "1 DIALOG 0, 0, 1, 1 LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED BEGIN END\n"
                            "2 DIALOG 0, 0, 1, 1 BEGIN END\n"
                            "STRINGTABLE LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL BEGIN 7 \"x\" END\n");
    EXPECT_EQ(script.dialogs[0].language, 0x0804);
    EXPECT_EQ(script.dialogs[1].language, 0x0409);
    EXPECT_EQ(script.strings[0].language, 0x0000);
}

TEST(RcCompiler, MacrosCanBeUndefinedAndExpandThroughOtherMacros)
{
    Script script = Compile("#define BASE 100\n#define NEXT (BASE + 2)\n"
                            "NEXT DIALOG 0, 0, 1, 1 BEGIN END\n"
                            "#undef BASE\n#ifndef BASE\n3 DIALOG 0, 0, 1, 1 BEGIN END\n#endif\n");
    ASSERT_EQ(script.dialogs.size(), 2u);
    EXPECT_EQ(script.dialogs[0].id, 102);
    EXPECT_EQ(script.dialogs[1].id, 3);
}

TEST(RcCompiler, DuplicateStringsAndIdsOutOfRangeAreFaults)
{
    const std::string file = TAP_RC_DATA_DIR "/inline.rc:";
    EXPECT_EQ(ErrorOf("STRINGTABLE BEGIN\n1 \"a\"\n1 \"b\"\nEND"), file + "3: string id 1 is defined twice");
    EXPECT_EQ(ErrorOf("0 DIALOG 0, 0, 1, 1 BEGIN END"), file + "1: resource id 0 is outside 1..65535");
    EXPECT_EQ(ErrorOf("#define F(x) x"), file + "1: function-like macros are not supported");
    // A directory is no file to read (found by fuzzing: it escaped as a stream error).
    EXPECT_EQ(ErrorOf("#include \".\""), file + "1: cannot find include file \".\"");
    EXPECT_EQ(ErrorOf("1 ICON \".\""), file + "1: cannot open resource file '.'");
}

TEST(RcCompiler, ExecutableReportsFaultsWithNonZeroExit)
{
    const std::string script = testing::TempDir() + "/broken.rc";
    std::ofstream(script) << "1 DIALOG 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\" 1, 1, 2, 3, 4\nEND\n";
    const std::string command = std::string(TAPRC_PATH) + " --symbol x -o " + testing::TempDir() +
                                "/broken.cpp " + script + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256] = {};
    std::string output;
    while (fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    int status = pclose(pipe);
    EXPECT_NE(status, 0);
    EXPECT_EQ(output, script + ":3: expected ',' but found '1'\n");
}

} // namespace
} // namespace tap::rc
