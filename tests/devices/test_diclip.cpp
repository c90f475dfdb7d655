// Clipboard text forms between Windows and the servers, and format names.
#include <gtest/gtest.h>

#include "devices/diclip.h"

#include <stdlib.h>

#include <string>

namespace {

std::string take(DiClipBytes b) {
    EXPECT_TRUE(b.ok);
    std::string s(reinterpret_cast<const char*>(b.data), b.length);
    free(b.data);
    return s;
}
std::string u16(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += char(c & 255), out += char(c >> 8);
    return out;
}
const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(ClipText, EightBitTextRoundTripsWithLineEndsAndTheEuro) {
    // Server to Windows: euro (0xA4) to 0x80, lone LF and lone CR to CR LF,
    // CR LF kept, one terminator.
    std::string server = "a\nb\r\nc\rd\xA4\n";
    std::string local = take(diClipTextToLocal(bytes(server), server.size()));
    EXPECT_EQ(local, std::string("a\r\nb\r\nc\r\nd\x80\r\n", 13) + '\0');
    // Windows to server stops at the terminator and gives LF line ends.
    EXPECT_EQ(take(diClipTextFromLocal(bytes(local), local.size())), "a\nb\nc\nd\xA4\n");
    // A text without a terminator is taken whole; a CR at the very end stays.
    std::string bare = "x\r";
    EXPECT_EQ(take(diClipTextFromLocal(bytes(bare), 2)), "x\r");
    // Empty texts.
    EXPECT_EQ(take(diClipTextToLocal(nullptr, 0)), std::string(1, '\0'));
    DiClipBytes none = diClipTextFromLocal(bytes(bare), 0);
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.length, 0u);
    free(none.data);
}

TEST(ClipText, UnicodeTextKeepsEveryUnitAndFixesLineEnds) {
    std::u16string server = u"\u20AC\n\u4E2D\u6587\r\nz\n";
    std::string local = take(diClipUnicodeToLocal(bytes(u16(server)), server.size() * 2));
    EXPECT_EQ(local, u16(u"\u20AC\r\n\u4E2D\u6587\r\nz\r\n") + std::string(2, '\0'));
    EXPECT_EQ(take(diClipUnicodeFromLocal(bytes(local), local.size())),
              u16(u"\u20AC\n\u4E2D\u6587\nz\n"));
    // Up to the first zero unit; an odd byte at the end is no unit.
    std::string odd = u16(u"ab") + "c";
    EXPECT_EQ(take(diClipUnicodeFromLocal(bytes(odd), odd.size())), u16(u"ab"));
    EXPECT_EQ(take(diClipUnicodeToLocal(bytes(odd), odd.size())),
              u16(u"ab") + std::string(2, '\0'));
    std::string cut = u16(std::u16string(u"q") + char16_t(0) + u"r");
    EXPECT_EQ(take(diClipUnicodeFromLocal(bytes(cut), cut.size())), u16(u"q"));
}

TEST(ClipText, FormatNamesMatchExactly) {
    EXPECT_EQ(diClipFormatByName(u"STRING", 6), 1u);
    EXPECT_EQ(diClipFormatByName(u"UNICODE", 7), 13u);
    EXPECT_EQ(diClipFormatByName(u"CF_LOCALE", 9), 16u);
    EXPECT_EQ(diClipFormatByName(u"string", 6), 0u);
    EXPECT_EQ(diClipFormatByName(u"STRINGS", 7), 0u);
    EXPECT_EQ(diClipFormatByName(u"STRIN", 5), 0u);
    EXPECT_STREQ(diClipFormatName(7), "TEXT");
    EXPECT_EQ(diClipFormatName(0), nullptr);
    EXPECT_EQ(diClipFormatName(17), nullptr);
}

// A memory metafile: the 18-byte header, a five-word record and the end
// record; `edit` changes it before the 12 bytes of the picture go first.
std::string metafile(void (*edit)(std::string&) = nullptr) {
    auto u16le = [](uint32_t v) { return std::string{char(v & 255), char(v >> 8)}; };
    auto u32le = [&](uint32_t v) { return u16le(v & 0xFFFF) + u16le(v >> 16); };
    std::string bits =
        u16le(1) + u16le(9) + u16le(0x300) + u32le(17) + u16le(0) + u32le(5) + u16le(0);
    bits += u32le(5) + u16le(0x0213) + u16le(10) + u16le(20); // LineTo
    bits += u32le(3) + u16le(0);                              // end
    if (edit) edit(bits);
    return u32le(8) + u32le(100) + u32le(200) + bits;
}

TEST(ClipForms, MetafilePicturesReachTheSystemOnlyWhenPlayableWithinTheirBits) {
    struct Row {
        const char* label;
        void (*edit)(std::string&);
        bool ok;
    } rows[] = {
        {"valid", nullptr, true},
        {"version 0x100", [](std::string& b) { b[4] = 0, b[5] = 1; }, true},
        {"bytes after the metafile", [](std::string& b) { b += std::string(4, 'x'); }, true},
        {"type 2 (disk)", [](std::string& b) { b[0] = 2; }, false},
        {"version 0x200", [](std::string& b) { b[4] = 0, b[5] = 2; }, false},
        {"header size 8", [](std::string& b) { b[2] = 8; }, false},
        {"odd size", [](std::string& b) { b += 'x'; }, false},
        {"header only, cut", [](std::string& b) { b.resize(17); }, false},
        {"record of 2 words", [](std::string& b) { b[18] = 2; }, false},
        {"record past the size", [](std::string& b) { b[18] = 9; }, false},
        {"record of 2^31 words", [](std::string& b) { b[21] = char(0x80); }, false},
        {"size past the bits", [](std::string& b) { b[6] = 18; }, false},
        {"size inside the header", [](std::string& b) { b[6] = 8; }, false},
        {"no end record, records fill the size", [](std::string& b) { b.resize(28), b[6] = 14; },
         true},
        {"a last record cut", [](std::string& b) { b.resize(32), b[6] = 16; }, false},
    };
    for (const Row& r : rows) {
        std::string data = metafile(r.edit);
        DiClipMetafile m;
        EXPECT_EQ(diClipMetafileFromServer(bytes(data), data.size(), &m), r.ok) << r.label;
        if (r.ok) {
            EXPECT_EQ(m.mappingMode, 8);
            EXPECT_EQ(m.xExt, 100);
            EXPECT_EQ(m.yExt, 200);
            EXPECT_EQ(m.bits, bytes(data) + 12);
        }
    }
    DiClipMetafile m;
    std::string data = metafile();
    ASSERT_TRUE(diClipMetafileFromServer(bytes(data), data.size(), &m));
    EXPECT_EQ(m.length, 34u);
    // The taken form: the picture, the bits, four zero bytes; bits + 16.
    std::string taken = take(diClipMetafileToServer(8, 100, 200, m.bits, m.length));
    EXPECT_EQ(taken, data + std::string(4, '\0'));
}

TEST(ClipForms, PalettesNeedAnEntry) {
    const std::string entries("\x01\x02\x03\x00\xff\xfe\xfd\x04", 8);
    std::string local = take(diClipPaletteToServer(bytes(entries), 2));
    EXPECT_EQ(local, std::string("\x00\x03\x02\x00", 4) + entries);
    const uint8_t* at = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(diClipPaletteFromServer(bytes(local), local.size(), &at, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(at, bytes(local) + 4);
    for (size_t n : {0, 4, 7}) // no entry: nothing is made
        EXPECT_FALSE(diClipPaletteFromServer(bytes(local), n, &at, &count)) << n;
    ASSERT_TRUE(diClipPaletteFromServer(bytes(local), 11, &at, &count));
    EXPECT_EQ(count, 1u);
    std::string big((65536 + 1) * 4, '\0');
    EXPECT_FALSE(diClipPaletteFromServer(bytes(big), big.size(), &at, &count));
}

TEST(ClipForms, TerminalPasteTextIsBounded) {
    struct Row {
        std::u16string clip;
        size_t limit;
        std::u16string want;
    } rows[] = {
        {std::u16string(40000, u'a'), 32512, std::u16string(32512, u'a')},
        {u"a\r\nb\rc", 100, u"a\nb\rc"},
        {std::u16string(u"ab\0cd", 5), 100, u"ab"},
        {u"abc\U0001F600", 4, u"abc"}, // the cut never splits a pair
        {u"abc\U0001F600", 5, u"abc\U0001F600"},
        {u"ab\r\n", 3, u"ab\r"},
    };
    for (const Row& r : rows) {
        std::string got = take(diClipTerminalText(r.clip.data(), r.clip.size(), r.limit));
        EXPECT_EQ(got, u16(r.want)) << r.want.size();
    }
}

TEST(ClipText, FormatsThatNameLocalFilesAreKnownInAnyCase) {
    const struct {
        const char16_t* name;
        bool files;
    } cases[] = {
        {u"CF_HDROP", true},
        {u"FileName", true},
        {u"FILENAMEW", true},
        {u"Shell IDList Array", true},
        {u"FileGroupDescriptor", true},
        {u"filegroupdescriptorw", true},
        {u"FileContents", true},
        {u"STRING", false},
        {u"FileNames", false},
        {u"File", false},
        {u"UTF8_STRING", false},
    };
    for (const auto& c : cases) {
        std::u16string n = c.name;
        EXPECT_EQ(diClipNamesLocalFiles(n.data(), uint32_t(n.size())), c.files)
            << std::string(n.begin(), n.end());
    }
}

} // namespace
