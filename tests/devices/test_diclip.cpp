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
