// Compares the tables taprc makes of data/Conformance.rc with the .res windres makes of the same
// script: both targets must build the same dialogs, strings, icons and bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tap/res/ResourceModule.h"

extern const tap::res::ResourceModule tapConformanceResources;

namespace {

constexpr uint16_t RT_BITMAP = 2, RT_DIALOG = 5, RT_STRING = 6, RT_GROUP_ICON = 14;

// A reader over the little-endian records of a .res file.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint16_t Word()
    {
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Dword()
    {
        uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    // A name-or-ordinal field: 0xFFFF then the ordinal, or a zero-terminated UTF-16 string.
    std::u16string NameOrOrdinal(uint16_t& ordinal)
    {
        ordinal = 0;
        if (Peek() == 0xFFFF) {
            Word();
            ordinal = Word();
            return {};
        }
        std::u16string text;
        for (uint16_t c = Word(); c != 0; c = Word()) {
            text.push_back(static_cast<char16_t>(c));
        }
        return text;
    }
    std::u16string Text()
    {
        uint16_t ordinal;
        return NameOrOrdinal(ordinal);
    }
    void AlignDword() { position_ = (position_ + 3) & ~size_t(3); }
    void Skip(size_t n) { position_ += n; }
    size_t Position() const { return position_; }
    bool AtEnd() const { return position_ >= size_; }

private:
    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t Peek() const { return position_ + 1 < size_ ? static_cast<uint16_t>(data_[position_] | (data_[position_ + 1] << 8)) : 0; }
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

struct ResEntry {
    uint16_t type;
    uint16_t id;
    uint16_t language;
    std::vector<uint8_t> data;
};

std::vector<ResEntry> ReadResFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<ResEntry> entries;
    Reader r(bytes.data(), bytes.size());
    while (!r.AtEnd()) {
        size_t start = r.Position();
        uint32_t dataSize = r.Dword();
        uint32_t headerSize = r.Dword();
        ResEntry e;
        r.NameOrOrdinal(e.type);
        r.NameOrOrdinal(e.id);
        r.AlignDword();
        r.Dword(); // data version
        r.Word();  // memory flags
        e.language = r.Word();
        size_t dataStart = start + headerSize;
        e.data.assign(bytes.begin() + dataStart, bytes.begin() + dataStart + dataSize);
        if (dataSize > 0) {
            entries.push_back(std::move(e));
        }
        r.Skip(dataStart + dataSize - r.Position());
        r.AlignDword();
    }
    return entries;
}

const ResEntry* Find(const std::vector<ResEntry>& entries, uint16_t type, uint16_t id, uint16_t language)
{
    for (const ResEntry& e : entries) {
        if (e.type == type && e.id == id && e.language == language) {
            return &e;
        }
    }
    return nullptr;
}

std::u16string ClassName(uint16_t ordinal, const std::u16string& name)
{
    static const std::map<uint16_t, std::u16string> predefined = {
        {0x80, u"BUTTON"}, {0x81, u"EDIT"}, {0x82, u"STATIC"},
        {0x83, u"LISTBOX"}, {0x84, u"SCROLLBAR"}, {0x85, u"COMBOBOX"}};
    return ordinal != 0 ? predefined.at(ordinal) : name;
}

void ExpectSameDialog(const tap::res::DialogTemplate& ours, const ResEntry& theirs)
{
    Reader r(theirs.data.data(), theirs.data.size());
    uint32_t style, exStyle;
    bool extended = false;
    if (r.Dword() == 0xFFFF0001) {
        extended = true;
        r.Dword(); // help id
        exStyle = r.Dword();
        style = r.Dword();
    } else {
        r = Reader(theirs.data.data(), theirs.data.size());
        style = r.Dword();
        exStyle = r.Dword();
    }
    uint16_t count = r.Word();
    EXPECT_EQ(ours.extended, extended);
    EXPECT_EQ(ours.style, style);
    EXPECT_EQ(ours.exStyle, exStyle);
    EXPECT_EQ(ours.x, r.Short());
    EXPECT_EQ(ours.y, r.Short());
    EXPECT_EQ(ours.cx, r.Short());
    EXPECT_EQ(ours.cy, r.Short());
    r.Text(); // menu
    r.Text(); // class
    EXPECT_EQ(std::u16string(ours.caption), r.Text());
    if (style & 0x40) { // DS_SETFONT
        EXPECT_EQ(ours.fontPointSize, r.Word());
        if (extended) {
            EXPECT_EQ(ours.fontWeight, r.Word());
            uint16_t italicAndCharset = r.Word();
            EXPECT_EQ(ours.fontItalic, (italicAndCharset & 0xFF) != 0);
        }
        EXPECT_EQ(std::u16string(ours.fontFace), r.Text());
    }
    ASSERT_EQ(ours.controlCount, count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const tap::res::DialogControl& c = ours.controls[i];
        r.AlignDword();
        int32_t id;
        if (extended) {
            r.Dword(); // help id
            exStyle = r.Dword();
            style = r.Dword();
        } else {
            style = r.Dword();
            exStyle = r.Dword();
        }
        EXPECT_EQ(c.x, r.Short());
        EXPECT_EQ(c.y, r.Short());
        EXPECT_EQ(c.cx, r.Short());
        EXPECT_EQ(c.cy, r.Short());
        id = extended ? static_cast<int32_t>(r.Dword()) : r.Short();
        EXPECT_EQ(c.id, id);
        EXPECT_EQ(c.style, style);
        EXPECT_EQ(c.exStyle, exStyle);
        uint16_t classOrdinal, textOrdinal;
        std::u16string className = r.NameOrOrdinal(classOrdinal);
        EXPECT_EQ(std::u16string(c.windowClass), ClassName(classOrdinal, className));
        std::u16string text = r.NameOrOrdinal(textOrdinal);
        EXPECT_EQ(std::u16string(c.text), text);
        EXPECT_EQ(c.textOrdinal, textOrdinal);
        r.Skip(r.Word()); // creation data
    }
}

class WindresConformance : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef TAP_WINDRES_RES
        res_ = ReadResFile(TAP_WINDRES_RES);
#else
        GTEST_SKIP() << "windres (g++-mingw-w64-i686) is not installed";
#endif
    }
    std::vector<ResEntry> res_;
    const tap::res::ResourceModule& ours_ = tapConformanceResources;
};

TEST_F(WindresConformance, DialogsMatch)
{
    ASSERT_EQ(ours_.dialogCount, 2u);
    for (size_t i = 0; i < ours_.dialogCount; ++i) {
        const tap::res::DialogTemplate& d = ours_.dialogs[i];
        SCOPED_TRACE("dialog " + std::to_string(d.id));
        const ResEntry* theirs = Find(res_, RT_DIALOG, d.id, d.language);
        ASSERT_NE(theirs, nullptr);
        ExpectSameDialog(d, *theirs);
    }
}

TEST_F(WindresConformance, StringsMatch)
{
    ASSERT_EQ(ours_.stringCount, 2u);
    for (size_t i = 0; i < ours_.stringCount; ++i) {
        const tap::res::StringResource& s = ours_.strings[i];
        const ResEntry* bundle = Find(res_, RT_STRING, static_cast<uint16_t>(s.id / 16 + 1), s.language);
        ASSERT_NE(bundle, nullptr);
        Reader r(bundle->data.data(), bundle->data.size());
        for (uint16_t k = 0; k < s.id % 16; ++k) {
            r.Skip(r.Word() * 2u);
        }
        std::u16string text(r.Word(), u'\0');
        for (char16_t& c : text) {
            c = static_cast<char16_t>(r.Word());
        }
        EXPECT_EQ(std::u16string(s.text), text);
    }
}

TEST_F(WindresConformance, IconsAndBitmapsMatch)
{
    ASSERT_EQ(ours_.iconCount, 1u);
    const tap::res::FileResource& icon = ours_.icons[0];
    const ResEntry* group = Find(res_, RT_GROUP_ICON, icon.id, icon.language);
    ASSERT_NE(group, nullptr);
    Reader r(group->data.data(), group->data.size());
    r.Skip(4);
    uint16_t imagesInGroup = r.Word();
    EXPECT_EQ(imagesInGroup, icon.data[4] | (icon.data[5] << 8));

    ASSERT_EQ(ours_.bitmapCount, 1u);
    const tap::res::FileResource& bitmap = ours_.bitmaps[0];
    const ResEntry* theirs = Find(res_, RT_BITMAP, bitmap.id, bitmap.language);
    ASSERT_NE(theirs, nullptr);
    constexpr size_t kFileHeader = 14; // a BITMAP resource is the file without BITMAPFILEHEADER
    ASSERT_EQ(theirs->data.size(), bitmap.size - kFileHeader);
    EXPECT_EQ(0, std::memcmp(theirs->data.data(), bitmap.data + kFileHeader, theirs->data.size()));
}

TEST_F(WindresConformance, DialogListEntriesMatch)
{
    constexpr uint16_t kDialogInit = 240; // RT_DLGINIT
    ASSERT_EQ(ours_.dialogInitCount, 1u);
    const tap::res::FileResource& init = ours_.dialogInits[0];
    const ResEntry* theirs = Find(res_, kDialogInit, init.id, init.language);
    ASSERT_NE(theirs, nullptr);
    ASSERT_EQ(theirs->data.size(), init.size);
    EXPECT_EQ(0, std::memcmp(theirs->data.data(), init.data, init.size));
    EXPECT_EQ(init.size, 3u * 8 + 5 + 6 + 3 + 2);
}

} // namespace
