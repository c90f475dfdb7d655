// The store's files on a real file system: a profile file that cannot be
// read survives as profile.xml.bad, and settings files stay in the store's
// folder.
#include <gtest/gtest.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "session/ddprofile.h"
#include "session/ddso.h"

#include <string>

namespace {

TEST(ProfileFileOnDisk, AFileThatCannotBeReadIsKeptAsProfileXmlBad) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"hvprof" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring path = dir + L"\\profile.xml", bad = path + L".bad";
    const std::string good =
        "\xEF\xBB\xBF<cache><localsettings><old>1</old></localsettings></cache>";
    struct Case {
        const char* name;
        std::string file; // empty: no file
        std::string badAfter;
        const char16_t* old; // the old setting after the save
    } cases[] = {
        {"not a profile", "\xEF\xBB\xBFwhat someone else wrote",
         "\xEF\xBB\xBFwhat someone else wrote", u""},
        {"too large", std::string(17 << 20, 'x'), std::string(17 << 20, 'x'), u""},
        {"readable", good, "<missing>", u"1"},
        {"missing", "", "<missing>", u""},
    };
    for (const Case& c : cases) {
        DeleteFileW(path.c_str());
        DeleteFileW(bad.c_str());
        if (!c.file.empty()) {
            ASSERT_TRUE(writeFileBytes(path, c.file));
        }
        ddProfStoreSetPath(path.c_str());
        ddProfStoreCreate();
        EXPECT_TRUE(diSOSetLocalSetting(u"New", u"2")) << c.name;
        EXPECT_TRUE(readFileBytes(bad) == c.badAfter) << c.name;
        ddProfStoreDestroy();
        ddProfStoreCreate(); // read back from disk
        DiChar buf[8] = {0};
        diSOGetLocalSetting(u"old", buf, 8);
        EXPECT_EQ(std::u16string(buf), c.old) << c.name;
        EXPECT_TRUE(diSOGetLocalSetting(u"new", buf, 8)) << c.name;
        ddProfStoreDestroy();
    }
    ddProfStoreSetPath(L"");
    removeTree(dir);
}

TEST(SettingsFilesOnDisk, OpenTakesOnlyNamesInTheStoreFolder) {
    wchar_t folder[MAX_PATH];
    ASSERT_TRUE(ddProfGetFolder(folder, MAX_PATH));
    EXPECT_EQ(std::wstring(folder).rfind(L"\\Vek\\VHVN"), wcslen(folder) - 9);
    wchar_t tiny[4];
    EXPECT_FALSE(ddProfGetFolder(tiny, 4));

    CWinSettingsFile made;
    ASSERT_TRUE(made.CreateUniqueFile());
    ASSERT_TRUE(made.AddKey(u"server", u"s"));
    ASSERT_TRUE(made.Save());
    std::wstring path = ddW(made.filePath);
    EXPECT_EQ(path, std::wstring(folder) + L"\\" + ddW(made.fileName));
    CWinSettingsFile opened;
    ASSERT_TRUE(opened.Open(made.fileName));
    DiChar buf[8];
    EXPECT_TRUE(opened.GetValue(u"server", buf, 8, nullptr));
    // A copy outside the folder is not reached through a path.
    std::wstring outside = std::wstring(folder) + L"\\..\\" + ddW(made.fileName);
    MoveFileW(path.c_str(), outside.c_str());
    std::u16string name = made.fileName;
    for (std::u16string bad : {u"..\\" + name, u"../" + name, std::u16string(ddD(outside.c_str())),
                               std::u16string(u"C:x"), std::u16string(u".."), std::u16string()})
        EXPECT_FALSE(CWinSettingsFile().Open(bad.c_str())) << bad.size();
    DeleteFileW(outside.c_str());
}

} // namespace
