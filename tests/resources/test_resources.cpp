/* Every string, dialog and menu exists in all six languages, the thread's
 * language picks among them, and translations keep the English format
 * markers and accelerators. */
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hvresids.h"
#include "resources/ddres.h"

namespace {

struct Lang {
    const char* name;
    LANGID id;
};

const Lang kLangs[] = {
    {"English", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)},
    {"French", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)},
    {"Japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)},
    {"Korean", MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)},
    {"Simplified Chinese", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
    {"Traditional Chinese", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)},
};

/* Reads string `id` of one language straight from its string-table block
 * (16 counted strings per block); false when the block is missing. */
bool rawString(unsigned id, LANGID lang, std::u16string* out)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                  MAKEINTRESOURCEW(id / 16 + 1), lang);
    if (!block) return false;
    const uint16_t* p = static_cast<const uint16_t*>(LockResource(LoadResource(module, block)));
    const uint16_t* end = p + SizeofResource(module, block) / 2;
    for (unsigned i = 0; i < id % 16; ++i) {
        if (p >= end) return false;
        p += 1 + *p;
    }
    if (p >= end || p + 1 + *p > end) return false;
    out->assign(reinterpret_cast<const char16_t*>(p + 1), *p);
    return true;
}

/* The conversions of a text: numbered ones sorted ("1$s", "2$d"), then the
 * unnumbered ones in order. "%%" is not a conversion. */
std::vector<std::u16string> markers(const std::u16string& s)
{
    std::vector<std::u16string> numbered, plain;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != u'%') continue;
        size_t j = i + 1;
        if (j < s.size() && s[j] == u'%') {
            i = j;
            continue;
        }
        while (j < s.size() && (std::u16string(u"0123456789$-+ #.lh").find(s[j]) !=
                                std::u16string::npos))
            ++j;
        if (j >= s.size()) {
            plain.push_back(u"<cut>");
            break;
        }
        std::u16string m = s.substr(i + 1, j - i);
        (m.find(u'$') != std::u16string::npos ? numbered : plain).push_back(m);
        i = j;
    }
    std::sort(numbered.begin(), numbered.end());
    numbered.insert(numbered.end(), plain.begin(), plain.end());
    return numbered;
}

/* Number of accelerator markers ("&x", not "&&"). */
int accelerators(const std::u16string& s)
{
    int n = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != u'&') continue;
        if (s[i + 1] == u'&') {
            ++i;
            continue;
        }
        ++n;
    }
    return n;
}

std::string narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

TEST(Resources, EveryStringExistsInEveryLanguage)
{
    for (const Lang& lang : kLangs) {
        for (unsigned id : kHvStringIds) {
            std::u16string text;
            EXPECT_TRUE(rawString(id, lang.id, &text) && !text.empty())
                << "string " << id << " missing in " << lang.name;
        }
    }
}

TEST(Resources, EveryDialogAndMenuExistsInEveryLanguage)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (const Lang& lang : kLangs) {
        for (unsigned id : kHvDialogIds)
            EXPECT_NE(FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */,
                                      MAKEINTRESOURCEW(id), lang.id),
                      nullptr)
                << "dialog " << id << " missing in " << lang.name;
        for (unsigned id : kHvMenuIds)
            EXPECT_NE(FindResourceExW(module, MAKEINTRESOURCEW(4) /* RT_MENU */,
                                      MAKEINTRESOURCEW(id), lang.id),
                      nullptr)
                << "menu " << id << " missing in " << lang.name;
    }
}

TEST(Resources, ArtworkIsPresent)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (int id : {103, 173, 176, 177, 179, 182, 184, 187, 188})
        EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0), nullptr)
            << "icon " << id;
    EXPECT_NE(LoadCursorW(module, MAKEINTRESOURCEW(201)), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2)), nullptr);
}

TEST(Resources, TranslationsKeepFormatMarkersAndAccelerators)
{
    for (unsigned id : kHvStringIds) {
        std::u16string english;
        ASSERT_TRUE(rawString(id, kLangs[0].id, &english)) << id;
        for (const Lang& lang : kLangs) {
            std::u16string text;
            if (!rawString(id, lang.id, &text)) continue; /* reported above */
            EXPECT_EQ(markers(text), markers(english))
                << "string " << id << " in " << lang.name << ": " << narrow(text);
            EXPECT_EQ(accelerators(text), accelerators(english))
                << "string " << id << " in " << lang.name;
        }
    }
}

TEST(Resources, MarkerExtractionSeesOrderAndNumbers)
{
    /* The comparison above is only as good as this reading of markers. */
    EXPECT_EQ(markers(u"%2$s then %1$s"), markers(u"%1$s avant %2$s"));
    EXPECT_NE(markers(u"%s:%d"), markers(u"%d:%s"));
    EXPECT_NE(markers(u"%1$s"), markers(u"%1$d"));
    EXPECT_EQ(markers(u"100%% %s"), std::vector<std::u16string>{u"s"});
    EXPECT_EQ(accelerators(u"A&&B &Close"), 1);
}

TEST(Resources, ThreadLanguageChoosesTheTexts)
{
    LANGID before = GetThreadUILanguage();
    for (const Lang& lang : kLangs) {
        ddResSelectLanguage(lang.id);
        for (unsigned id : {20u, 509u, 1441u}) {
            std::u16string expected;
            if (!rawString(id, lang.id, &expected)) continue;
            DiChar buf[512];
            ddResLoadString(id, buf, 512);
            EXPECT_EQ(std::u16string(buf), expected) << "string " << id << " in " << lang.name;
        }
    }
    ddResSelectLanguage(before);
}

TEST(Resources, MessageNumbersAreOffsetBy500)
{
    ddResSelectLanguage(kLangs[0].id);
    DiChar buf[128];
    ASSERT_GT(ddResLoadMessage(30, buf, 128), 0);
    EXPECT_EQ(std::u16string(buf), u"Session failed: %s");
    ddResLoadString(21, buf, 128);
    EXPECT_EQ(std::u16string(buf), u"Details:");
    ddResLoadMessage(21, buf, 128);
    EXPECT_EQ(std::u16string(buf), u"Requesting application server authentication...");
    /* A missing string gives 0 and an empty text; a short buffer truncates. */
    buf[0] = u'x';
    EXPECT_EQ(ddResLoadString(30000, buf, 128), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(ddResLoadString(20, buf, 4), 3);
    EXPECT_EQ(std::u16string(buf), u"Can");
}

} // namespace
