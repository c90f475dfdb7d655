/* Every string, dialog and menu exists in all six languages, the thread's
 * language picks among them, and translations keep the English format
 * markers and accelerators. */
#include <gtest/gtest.h>

#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

#include "hvresids.h"
#include "resources/ddres.h"

namespace {

/* `id` is a language the resources are declared in, `thread` the one a
 * thread selects to get them. French has a language-neutral copy as well,
 * for the French locales other than France. */
struct Lang {
    const char* name;
    LANGID id;
    LANGID thread;
};

const Lang kLangs[] = {
    {"English", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0x409},
    {"French", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), 0x40C},
    {"French (other locales)", MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL), 0x40C},
    {"Japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 0x411},
    {"Korean", MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN), 0x412},
    {"Simplified Chinese", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), 0x804},
    {"Traditional Chinese", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), 0x404},
};

/* Reads string `id` of one language straight from its string-table block
 * (16 counted strings per block); false when the block is missing. */
bool rawString(unsigned id, LANGID lang, std::u16string* out) {
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
std::vector<std::u16string> markers(const std::u16string& s) {
    std::vector<std::u16string> numbered, plain;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != u'%') continue;
        size_t j = i + 1;
        if (j < s.size() && s[j] == u'%') {
            i = j;
            continue;
        }
        while (j < s.size() &&
               (std::u16string(u"0123456789$-+ #.lh").find(s[j]) != std::u16string::npos))
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
int accelerators(const std::u16string& s) {
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

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

TEST(Resources, EveryStringExistsInEveryLanguage) {
    for (const Lang& lang : kLangs) {
        for (unsigned id : kHvStringIds) {
            std::u16string text;
            EXPECT_TRUE(rawString(id, lang.id, &text) && !text.empty())
                << "string " << id << " missing in " << lang.name;
        }
    }
}

TEST(Resources, EveryDialogAndMenuExistsInEveryLanguage) {
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

TEST(Resources, ArtworkIsPresent) {
    HMODULE module = GetModuleHandleW(nullptr);
    for (int id : {103, 173, 176, 177, 179, 182, 184, 187, 188})
        EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0), nullptr)
            << "icon " << id;
    for (int id : {200, 201})
        EXPECT_NE(LoadCursorW(module, MAKEINTRESOURCEW(id)), nullptr) << "cursor " << id;
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(105), MAKEINTRESOURCEW(2)), nullptr);
}

TEST(Resources, TranslationsKeepFormatMarkersAndAccelerators) {
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

TEST(Resources, MarkerExtractionSeesOrderAndNumbers) {
    /* The comparison above is only as good as this reading of markers. */
    EXPECT_EQ(markers(u"%2$s then %1$s"), markers(u"%1$s avant %2$s"));
    EXPECT_NE(markers(u"%s:%d"), markers(u"%d:%s"));
    EXPECT_NE(markers(u"%1$s"), markers(u"%1$d"));
    EXPECT_EQ(markers(u"100%% %s"), std::vector<std::u16string>{u"s"});
    EXPECT_EQ(accelerators(u"A&&B &Close"), 1);
}

/* One control (or the caption, id -1 first) of a dialog template. */
struct Item {
    int id;
    std::u16string text;
};

/* Reads a sz_Or_Ord field; ordinals read as empty text. */
const uint16_t* readSzOrOrd(const uint16_t* p, std::u16string* text) {
    text->clear();
    if (*p == 0xFFFF) return p + 2;
    while (*p)
        text->push_back(static_cast<char16_t>(*p++));
    return p + 1;
}

/* The caption and controls of an extended dialog template. */
std::vector<Item> dialogItems(unsigned id, LANGID lang) {
    std::vector<Item> items;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), lang);
    if (!res) return items;
    const uint16_t* p = static_cast<const uint16_t*>(LockResource(LoadResource(module, res)));
    const uint8_t* base = reinterpret_cast<const uint8_t*>(p);
    EXPECT_EQ(p[1], 0xFFFF) << "dialog " << id << " is not an extended template";
    DWORD style;
    memcpy(&style, p + 6, 4);
    uint16_t count = p[8];
    p += 13; /* version, signature, help id, ex style, style, count, x, y, cx, cy */
    std::u16string text;
    p = readSzOrOrd(p, &text); /* menu */
    p = readSzOrOrd(p, &text); /* class */
    p = readSzOrOrd(p, &text); /* caption */
    items.push_back({-1, text});
    if (style & DS_SETFONT) {
        p += 3; /* point size, weight, italic and charset */
        p = readSzOrOrd(p, &text);
    }
    for (uint16_t i = 0; i < count; ++i) {
        size_t offset = reinterpret_cast<const uint8_t*>(p) - base;
        p = reinterpret_cast<const uint16_t*>(base + ((offset + 3) & ~size_t(3)));
        DWORD controlId;
        memcpy(&controlId, p + 10, 4); /* after help id, ex style, style, x, y, cx, cy */
        p += 12;
        p = readSzOrOrd(p, &text); /* class */
        p = readSzOrOrd(p, &text);
        items.push_back({static_cast<int>(static_cast<int32_t>(controlId)), text});
        uint16_t extra = *p++;
        p = reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(p) + extra);
    }
    return items;
}

/* The items of a menu template: (command id, text), popups with id -1. */
std::vector<Item> menuItems(unsigned id, LANGID lang) {
    std::vector<Item> items;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(4), MAKEINTRESOURCEW(id), lang);
    if (!res) return items;
    const uint16_t* p = static_cast<const uint16_t*>(LockResource(LoadResource(module, res)));
    const uint16_t* end = p + SizeofResource(module, res) / 2;
    p += 2; /* version, header size */
    while (p < end) {
        uint16_t flags = *p++;
        int itemId = -1;
        if (!(flags & MF_POPUP)) itemId = *p++;
        std::u16string text;
        p = readSzOrOrd(p, &text);
        items.push_back({itemId, text});
    }
    return items;
}

TEST(Resources, DialogAndMenuTranslationsMatchTheEnglishLayout) {
    struct Source {
        const char* kind;
        const unsigned short* ids;
        size_t count;
        std::vector<Item> (*read)(unsigned, LANGID);
    } sources[] = {
        {"dialog", kHvDialogIds, sizeof kHvDialogIds / sizeof *kHvDialogIds, dialogItems},
        {"menu", kHvMenuIds, sizeof kHvMenuIds / sizeof *kHvMenuIds, menuItems},
    };
    for (const Source& src : sources) {
        for (size_t k = 0; k < src.count; ++k) {
            unsigned id = src.ids[k];
            std::vector<Item> english = src.read(id, kLangs[0].id);
            ASSERT_FALSE(english.empty()) << src.kind << " " << id;
            for (const Lang& lang : kLangs) {
                std::vector<Item> items = src.read(id, lang.id);
                ASSERT_EQ(items.size(), english.size())
                    << src.kind << " " << id << " in " << lang.name;
                for (size_t i = 0; i < items.size(); ++i) {
                    const Item& e = english[i];
                    const Item& t = items[i];
                    EXPECT_EQ(t.id, e.id) << src.kind << " " << id << " in " << lang.name;
                    EXPECT_EQ(t.text.empty(), e.text.empty())
                        << src.kind << " " << id << " control " << e.id << " in " << lang.name;
                    EXPECT_EQ(markers(t.text), markers(e.text))
                        << src.kind << " " << id << " control " << e.id << " in " << lang.name;
                    EXPECT_EQ(accelerators(t.text), accelerators(e.text))
                        << src.kind << " " << id << " control " << e.id << " in " << lang.name;
                }
            }
        }
    }
}

/* The accelerator character of a text, lower-cased, or 0. */
char16_t acceleratorOf(const std::u16string& s) {
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != u'&') continue;
        if (s[i + 1] == u'&') {
            ++i;
            continue;
        }
        char16_t c = s[i + 1];
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    }
    return 0;
}

TEST(Resources, AcceleratorsAreUniqueWithinEachDialog) {
    for (unsigned id : kHvDialogIds) {
        for (const Lang& lang : kLangs) {
            std::vector<Item> items = dialogItems(id, lang.id);
            std::vector<char16_t> seen;
            for (size_t i = 1; i < items.size(); ++i) {
                char16_t a = acceleratorOf(items[i].text);
                if (!a) continue;
                EXPECT_EQ(std::count(seen.begin(), seen.end(), a), 0)
                    << "dialog " << id << " in " << lang.name << ": control " << items[i].id
                    << " repeats an accelerator";
                seen.push_back(a);
            }
        }
    }
}

TEST(Resources, TemplateReaderFindsTheKnownControls) {
    std::vector<Item> warning = dialogItems(204, kLangs[0].id);
    ASSERT_GE(warning.size(), 4u);
    EXPECT_EQ(warning[0].text, u"Potentially Unsafe Connection");
    bool found = false;
    for (const Item& it : warning)
        if (it.id == 1134) {
            found = true;
            EXPECT_EQ(markers(it.text), (std::vector<std::u16string>{u"s", u"s"}));
        }
    EXPECT_TRUE(found);
    std::vector<Item> menu = menuItems(199, kLangs[0].id);
    ASSERT_EQ(menu.size(), 12u);
    EXPECT_EQ(menu[0].text, u"Edit");
    EXPECT_EQ(menu[1].id, 40061);
    EXPECT_EQ(menu[11].text, u"Print Setup...");
}

TEST(Resources, ThreadLanguageChoosesTheTexts) {
    LANGID before = GetThreadUILanguage();
    for (const Lang& lang : kLangs) {
        ddResSelectLanguage(lang.thread);
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

INT_PTR CALLBACK plainDialog(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

TEST(Resources, ThreadLanguageChoosesTheDialogs) {
    LANGID before = GetThreadUILanguage();
    for (const Lang& lang : kLangs) {
        ddResSelectLanguage(lang.thread);
        HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(204), nullptr,
                                      plainDialog, 0);
        ASSERT_NE(dlg, nullptr) << lang.name;
        wchar_t caption[256] = {};
        GetWindowTextW(dlg, caption, 256);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(caption)),
                  dialogItems(204, lang.id)[0].text)
            << lang.name;
        DestroyWindow(dlg);
    }
    ddResSelectLanguage(before);
}

TEST(Resources, OtherLanguagesFallBackToEnglish) {
    LANGID before = GetThreadUILanguage();
    for (LANGID other :
         {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)}) {
        ddResSelectLanguage(other);
        DiChar buf[64];
        ddResLoadString(20, buf, 64);
        EXPECT_EQ(std::u16string(buf), u"Cancel") << std::hex << other;
    }
    ddResSelectLanguage(before);
}

TEST(Resources, MessageNumbersAreOffsetBy500) {
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
