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

TEST_F(Keyboard, ActiveLayoutGivesTheLanguageIdAndTheLegacyName) {
    unsigned long layout = wcstoul(layoutId, nullptr, 16);
    ASSERT_NE(layout & 0xFFFF, 0u);
    DdKeyboardInfo* k = ddKeyboardInfoGet();
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(k->flags & DD_KB_LANG_ID);
    EXPECT_EQ(k->langId, layout & 0xFFFF);
    EXPECT_EQ(k->langLength, 2);
    EXPECT_EQ(k->layout != nullptr, ddKeyboardVariant(layoutId) != nullptr);
    ddKeyboardInfoFree(k);

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
    k = ddKeyboardInfoGet();
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(k->flags & DD_KB_LAYOUT);
    EXPECT_EQ(std::u16string(k->layout), u"US custom");
    EXPECT_EQ(k->layoutLength, 9);
    ddKeyboardInfoFree(k);
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

TEST(TimeZone, DatesOnlyWhenBothTransitionsAreDefined) {
    TIME_ZONE_INFORMATION tz;
    GetTimeZoneInformation(&tz);
    DdTimeZoneInfo* info = ddTimeZoneInfoGet();
    ASSERT_NE(info, nullptr);
    bool dates = tz.StandardDate.wMonth && tz.DaylightDate.wMonth;
    EXPECT_EQ((info->flags & DD_TZ_DATES) != 0, dates);
    EXPECT_EQ(info->daylightName != nullptr, dates);
    EXPECT_EQ(info->bias, tz.Bias + tz.StandardBias);
    ASSERT_NE(info->standardName, nullptr);
    ddTimeZoneInfoFree(info);
}

} // namespace
