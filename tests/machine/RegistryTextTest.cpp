// The registry text format: every value keeps its type and exact bytes through a save and a load.
#include <machine/RegistryText.h>

#include <gtest/gtest.h>

using namespace tapmachine;

namespace {

std::vector<RegistryKeyRecord> SampleRegistry()
{
    const std::u16string service = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap";
    return {
        {service,
         {{u"ImagePath", kRegExpandSz, StringData(u"\\SystemRoot\\System32\\drivers\\Monotap.sys")},
          {u"Type", kRegDword, DwordData(1)},
          {u"", kRegSz, StringData(u"default \"quoted\" value")}}},
        {service + u"\\Parameters",
         {{u"MouseMode", kRegDword, DwordData(2)},
          {u"Calibration", kRegBinary, std::vector<uint8_t>(28, 0xAB)},
          // Lengths and types the readable forms cannot express come back exactly as well.
          {u"ShortCalibration", kRegBinary, std::vector<uint8_t>(27, 1)},
          {u"WideDword", kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}},
          {u"EmptyBinary", kRegBinary, {}},
          {u"NoTerminator", kRegSz, {'A', 0, 'B', 0}},
          {u"OddLength", kRegSz, {'A', 0, 0}},
          {u"EmbeddedNul", kRegSz, {'A', 0, 0, 0, 'B', 0, 0, 0}},
          {u"Nothing", kRegNone, {}},
          {u"Odd\\Name \"with\" quotes", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
          {u"Unicode\u4e2d\u6587", kRegSz, StringData(u"\u4e2d\u6587 tab\t end")},
          {u"Lonely surrogate", kRegSz, StringData(u"\xD800x")},
          {u"Filters", kRegMultiSz, MultiStringData({u"mouclass", u"other"})},
          {u"EmptyList", kRegMultiSz, MultiStringData({})},
          {u"BrokenList", kRegMultiSz, {'a', 0, 0, 0}},
          {u"Type 99", 99, {9}}}},
        {u"HKEY_LOCAL_MACHINE\\SYSTEM\\Empty", {}},
        {u"HKEY_CURRENT_USER\\Control Panel\\Mouse",
         {{u"DoubleClickWidth", kRegSz, StringData(u"30")}}},
    };
}

TEST(RegistryText, SaveAndLoadKeepTypesAndExactBytes)
{
    auto original = SampleRegistry();
    std::string text = FormatRegistryText(original);
    EXPECT_EQ(ParseRegistryText(text), original);
    // And the text is stable: writing what was read gives the same text.
    EXPECT_EQ(FormatRegistryText(ParseRegistryText(text)), text);
}

TEST(RegistryText, ReadableFormsWhereTheyAreExact)
{
    std::string text = FormatRegistryText(SampleRegistry());
    EXPECT_NE(text.find("\"MouseMode\"=dword:00000002\n"), std::string::npos);
    EXPECT_NE(text.find("\"ImagePath\"=expand_sz:\"\\\\SystemRoot\\\\System32\\\\drivers\\\\Monotap.sys\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("@=sz:\"default \\\"quoted\\\" value\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"WideDword\"=hex(4):01,00,00,00,00,00,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Filters\"=multi_sz:\"mouclass\",\"other\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"EmptyBinary\"=hex:\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\Empty]\n"), std::string::npos);
}

TEST(RegistryText, HandWrittenFileWithShortRootsAndComments)
{
    auto keys = ParseRegistryText(
        "# prepared machine\r\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters]\r\n"
        "  \"Port\" = dword:2\r\n"
        "\"Calibration\"=hex: 01, 02 ,03\n"
        "; trailing comment\n"
        "[hkcu\\Control Panel\\Mouse]\n");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].path, u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters");
    EXPECT_EQ(keys[0].values[0], (RegistryValueRecord{u"Port", kRegDword, DwordData(2)}));
    EXPECT_EQ(keys[0].values[1], (RegistryValueRecord{u"Calibration", kRegBinary, {1, 2, 3}}));
    EXPECT_EQ(keys[1].path, u"HKEY_CURRENT_USER\\Control Panel\\Mouse");
}

TEST(RegistryText, MistakesNameTheirLine)
{
    auto lineOf = [](const char *text) {
        try {
            ParseRegistryText(text);
        } catch (const RegistryTextError &error) {
            return error.line();
        }
        return 0u;
    };
    EXPECT_EQ(lineOf("\"A\"=dword:1\n"), 1u);                          // value before any key
    EXPECT_EQ(lineOf("[HKLM\\A]\n\"A\"=dword:xyz\n"), 2u);              // not a number
    EXPECT_EQ(lineOf("[HKLM\\A]\n\n\"A\"=sz:\"open\n"), 3u);            // unterminated string
    EXPECT_EQ(lineOf("[HKEY_CLASSES_ROOT\\A]\n"), 1u);                  // unknown root
    EXPECT_EQ(lineOf("[HKLM\\A]\n\"A\"=hex:01,0\n"), 2u);               // half a byte
    EXPECT_EQ(lineOf("[HKLM\\A]\n\"A\"=dword:1 extra\n"), 2u);          // trailing text
    EXPECT_EQ(lineOf("[HKLM\\A\\\\B]\n"), 1u);                          // empty key name
    EXPECT_EQ(lineOf("[HKLM\\A]\n\"A\"=sz:\"bad \\q escape\"\n"), 2u);  // unknown escape
    // A carriage return inside a key path: no text could write such a key back (fuzzing).
    EXPECT_EQ(lineOf("[HKLM\\A]\n[HKLM\\B\rC]\r\n"), 2u);
}

}  // namespace
