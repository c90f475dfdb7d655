// The keyboard description: settings first, then the active layout with the
// legacy "Keyboard Layouts" names and the variant table.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/ddsysinfo.h"
#include "session/ddso.h"
#include "session/diprofile.h"

#include <string>

namespace {

class Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        ddProfStoreSetPath(L""); // settings in memory only
        ddProfStoreCreate();
        GetKeyboardLayoutNameW(layoutId);
    }
    void TearDown() override {
        ddProfStoreDestroy();
        if (HKEY product = ddSettingOpenProductKey(HKEY_CURRENT_USER, true)) {
            HKEY k;
            if (RegOpenKeyExW(product, L"Keyboard Layouts", 0, KEY_WRITE, &k) == ERROR_SUCCESS) {
                RegDeleteValueW(k, layoutId);
                RegCloseKey(k);
            }
            RegCloseKey(product);
        }
    }
    wchar_t layoutId[KL_NAMELENGTH] = L"";
};

TEST_F(Keyboard, SettingsDescribeItWhenPresent) {
    ddSettingSetString(L"InputLocale", L"en-US");
    ddSettingSetString(L"KeyboardLayout", L"Dvorak");
    ddSettingSetString(L"IME", L"MyIME");
    DdKeyboardInfo* k = ddKeyboardInfoGet();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->flags, DD_KB_LANG_TEXT | DD_KB_LAYOUT | DD_KB_IME);
    EXPECT_EQ(k->langLength, 5);
    EXPECT_EQ(std::u16string(k->langText), u"en-US");
    EXPECT_EQ(k->layoutLength, 6);
    EXPECT_EQ(std::u16string(k->layout), u"Dvorak");
    EXPECT_EQ(k->imeLength, 6); // characters + 1 for a name from the setting
    EXPECT_EQ(std::u16string(k->ime), u"MyIME");
    ddKeyboardInfoFree(k);
}

TEST_F(Keyboard, ActiveLayoutGivesTheLanguageIdAndItsVariant) {
    wcscpy(layoutId, L"00010409"); // US Dvorak
    const struct {
        uint32_t win9x;
        const char16_t* layout;
    } cases[] = {
        {0, u"DVK"},
        // The 95 family numbers the two US variants the other way round.
        {1, u"INT"},
    };
    for (const auto& c : cases) {
        g_ddApp->win9x4 = c.win9x;
        DdKeyboardInfo* k = ddKeyboardInfoFor(layoutId);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->flags & (DD_KB_LANG_ID | DD_KB_LAYOUT), unsigned(DD_KB_LANG_ID | DD_KB_LAYOUT));
        EXPECT_EQ(k->langId, 0x409);
        EXPECT_EQ(k->langLength, 2);
        EXPECT_EQ(std::u16string(k->layout ? k->layout : u""), c.layout) << c.win9x;
        ddKeyboardInfoFree(k);
    }
    g_ddApp->win9x4 = 0;

    // A name under the legacy key wins over the variant table.
    HKEY product = ddSettingOpenProductKey(HKEY_CURRENT_USER, false);
    ASSERT_NE(product, nullptr);
    HKEY names;
    RegCreateKeyExW(product, L"Keyboard Layouts", 0, nullptr, 0, KEY_WRITE, nullptr, &names,
                    nullptr);
    RegSetValueExW(names, layoutId, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"US custom"),
                   sizeof(L"US custom"));
    RegCloseKey(names);
    RegCloseKey(product);
    DdKeyboardInfo* k = ddKeyboardInfoFor(layoutId);
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(k->flags & DD_KB_LAYOUT);
    EXPECT_EQ(std::u16string(k->layout), u"US custom");
    EXPECT_EQ(k->layoutLength, 9);
    ddKeyboardInfoFree(k);
    EXPECT_EQ(ddKeyboardInfoFor(nullptr), nullptr); // the layout query failed
}

TEST(KeyboardVariant, TableByLayoutId) {
    struct Case {
        const wchar_t* id;
        const wchar_t* code;
    } cases[] = {
        {L"00010409", L"DVK"}, {L"0001041b", L"QWE"},  {L"0001041B", L"QWE"},
        {L"00040409", L"DKR"}, {L"00000409", nullptr}, {L"", nullptr},
    };
    for (const Case& c : cases) {
        const wchar_t* got = ddKeyboardVariant(c.id);
        if (!c.code)
            EXPECT_EQ(got, nullptr);
        else
            EXPECT_STREQ(got, c.code);
    }
}

// Run with TZ set for Wine (see CMakeLists.txt): a zone with daylight time
// and one without.
TEST(TimeZone, DescribesTheZoneTheProcessRunsIn) {
    const char* tz = getenv("TZ");
    if (!tz) GTEST_SKIP() << "no time zone given to the process";
    DdTimeZoneInfo* info = ddTimeZoneInfoGet();
    ASSERT_NE(info, nullptr);
    ASSERT_NE(info->standardName, nullptr);
    if (std::string(tz) == "EST5EDT,M3.2.0,M11.1.0") {
        EXPECT_EQ(info->bias, 300);
        ASSERT_TRUE(info->flags & DD_TZ_DATES);
        EXPECT_EQ(info->daylightOffset, -60);
        ASSERT_NE(info->daylightName, nullptr);
        EXPECT_EQ(info->daylightDate.month, 3);
        EXPECT_EQ(info->standardDate.month, 11);
    } else {
        ASSERT_EQ(std::string(tz), "JST-9");
        EXPECT_EQ(info->bias, -540);
        EXPECT_FALSE(info->flags & (DD_TZ_DATES | DD_TZ_DAYLIGHT));
        EXPECT_EQ(info->daylightName, nullptr);
    }
    ddTimeZoneInfoFree(info);
}

} // namespace
