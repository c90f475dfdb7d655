// Settings over the profile store (a file in the temporary folder) and the
// numbered lists with their legacy registry entries under HKCU.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "net/dicrypt.h"
#include "session/ddso.h"
#include "session/diprofile.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        path = std::wstring(dir) + L"hvtest_profile_" + std::to_wstring(GetCurrentProcessId()) +
               L".xml";
        DeleteFileW(path.c_str());
        ddProfStoreSetPath(path.c_str());
        ddProfStoreCreate();
        subKey = L"Test" + std::to_wstring(GetCurrentProcessId());
    }
    void TearDown() override {
        ddProfStoreDestroy();
        DeleteFileW(path.c_str());
        if (HKEY product = ddSettingOpenProductKey(HKEY_CURRENT_USER, true)) {
            RegDeleteTreeW(product, subKey.c_str());
            RegCloseKey(product);
        }
    }
    /* A legacy list entry, written as an installer would. With
     * `terminated` false the stored bytes carry no NUL. */
    void legacy(const std::wstring& name, const std::wstring& value, bool terminated = true) {
        HKEY key = ddSettingOpenLegacyKey(subKey.c_str(), name.c_str(), HKEY_CURRENT_USER, false);
        ASSERT_NE(key, nullptr);
        DWORD bytes = static_cast<DWORD>((value.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       bytes);
        RegCloseKey(key);
    }
    std::vector<std::wstring> readList(int count) {
        std::vector<wchar_t*> arr(count, nullptr);
        int n = ddSettingReadList(subKey.c_str(), L"List", arr.data(), count);
        std::vector<std::wstring> out;
        for (int i = 0; i < n; i++) {
            out.push_back(arr[i]);
            free(arr[i]);
        }
        return out;
    }
    std::wstring path, subKey;
};

TEST_F(Settings, IntegersReadAsPercentD) {
    struct Case {
        const wchar_t* stored;
        int def, expect;
    } cases[] = {
        {L"12", 0, 12}, {L"12abc", 0, 12}, {L"abc", 7, 7},  {L"-3", 0, -3},
        {L" 4", 0, 4},  {L"", 9, 9},       {nullptr, 5, 5},
    };
    for (const Case& c : cases) {
        ddProfStoreCreate();
        if (c.stored) ddSettingSetString(L"Value", c.stored);
        EXPECT_EQ(ddSettingGetInt(L"value", c.def), c.expect);
    }
    ddSettingSetInt(L"N", -42);
    wchar_t buf[16];
    ddSettingGetString(L"n", L"", buf, 16);
    EXPECT_STREQ(buf, L"-42");
}

TEST_F(Settings, StringsFallBackToTheDefaultCutToTheBuffer) {
    wchar_t buf[4];
    EXPECT_EQ(ddSettingGetString(L"Absent", L"default", buf, 4), 4);
    EXPECT_STREQ(buf, L"def");
    ddSettingSetString(L"Present", L"xy");
    EXPECT_EQ(ddSettingGetString(L"present", L"default", buf, 4), 3);
    EXPECT_STREQ(buf, L"xy");
}

TEST_F(Settings, EveryWriteReachesTheProfileFile) {
    ddSettingSetString(L"CertsFile", L"my.pem");
    ddProfStoreDestroy();
    ddProfStoreCreate(); // read back from disk
    wchar_t buf[32];
    ddSettingGetString(L"certsfile", L"CA.PEM", buf, 32);
    EXPECT_STREQ(buf, L"my.pem");
}

TEST_F(Settings, ListsReadSettingsThenRegistryEntries) {
    ddSettingSetString(L"List0", L"s0");
    ddSettingSetString(L"List1", L"s1");
    ddSettingSetString(L"List3", L"s3"); // after the gap: never read
    legacy(L"List0", L"r0");
    legacy(L"List1", L"r1");
    legacy(L"List3", L"r3"); // after the first missing key: never read
    EXPECT_EQ(readList(8), (std::vector<std::wstring>{L"s0", L"s1", L"r0", L"r1"}));
    EXPECT_EQ(readList(3), (std::vector<std::wstring>{L"s0", L"s1", L"r0"}));
}

// A login kept under a long launch URL (its entry far over 2,047
// characters): every run finds the one entry rather than adding another.
TEST_F(Settings, ListEntriesAreReadWhole) {
    std::u16string url = u"http://srv.example/?" + std::u16string(807, u'q');
    for (int run = 0; run < 3; run++) {
        DiChar *user = nullptr, *password = nullptr;
        EXPECT_EQ(diCryptLookupCachedLogin(url.c_str(), &user, &password), run > 0) << run;
        free(user);
        free(password);
        ASSERT_TRUE(diCryptStoreCachedLogin(url.c_str(), u"ann", u"pw")) << run;
    }
    wchar_t* items[DI_CRYPT_MAX_ENTRIES] = {};
    int n = ddSettingReadList(L"CachePass List", L"CachePass", items, DI_CRYPT_MAX_ENTRIES);
    EXPECT_EQ(n, 1);
    for (int i = 0; i < n; i++)
        free(items[i]);
}

TEST_F(Settings, WrittenBackListsDoNotCollectRegistryDuplicates) {
    legacy(L"List0", L"r0");
    legacy(L"List1", L"r1");
    for (int round = 0; round < 3; round++) {
        std::vector<std::wstring> got = readList(32);
        ASSERT_EQ(got, (std::vector<std::wstring>{L"r0", L"r1"})) << "round " << round;
        // The caller saves what it read, as the password cache does.
        std::vector<wchar_t*> arr;
        for (auto& s : got)
            arr.push_back(&s[0]);
        ddSettingWriteList(subKey.c_str(), L"List", arr.data(), static_cast<int>(arr.size()), true);
    }
    // A new entry after the write-back is read back.
    ddSettingSetString(L"List2", L"new");
    EXPECT_EQ(readList(32), (std::vector<std::wstring>{L"r0", L"r1", L"new"}));
}

TEST_F(Settings, UnterminatedRegistryTextIsTerminated) {
    legacy(L"List0", L"abc", false);
    EXPECT_EQ(readList(4), (std::vector<std::wstring>{L"abc"}));
    legacy(L"List0", std::wstring(300, L'x')); // over 512 bytes: not taken
    EXPECT_TRUE(readList(4).empty());
}

TEST_F(Settings, LegacyKeysAreOnlyCreatedWhenAsked) {
    EXPECT_EQ(ddSettingOpenLegacyKey(subKey.c_str(), L"Nope0", HKEY_CURRENT_USER, true), nullptr);
    HKEY made = ddSettingOpenLegacyKey(subKey.c_str(), L"Nope0", HKEY_CURRENT_USER, false);
    ASSERT_NE(made, nullptr);
    RegCloseKey(made);
    HKEY again = ddSettingOpenLegacyKey(subKey.c_str(), L"Nope0", HKEY_CURRENT_USER, true);
    EXPECT_NE(again, nullptr);
    RegCloseKey(again);
}

} // namespace
