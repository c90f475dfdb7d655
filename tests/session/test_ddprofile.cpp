// The store's files on a real file system: a profile file that cannot be
// parsed survives as profile.xml.bad, one held by another program or saved
// by another copy of the client is written onto, and settings files stay
// in the store's folder.
#include <gtest/gtest.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/dilog.h"
#include "net/dicrypt.h"
#include "session/ddprofile.h"
#include "session/ddso.h"

#include <stdlib.h>

#include <string>

namespace {

std::wstring tempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"hvprof" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

TEST(ProfileFileOnDisk, AFileThatCannotBeReadIsKeptAsProfileXmlBad) {
    std::wstring dir = tempFolder();
    std::wstring path = dir + L"\\profile.xml", bad = path + L".bad";
    const std::string good =
        "\xEF\xBB\xBF<cache><localsettings><old>1</old></localsettings></cache>";
    struct Case {
        const char* name;
        std::string file; // empty: no file
        std::string badAfter;
        const char16_t* old;     // the old setting after the save
        const char* earlier = 0; // a file set aside before: kept, badAfter goes beside it
    } cases[] = {
        {"not a profile", "\xEF\xBB\xBFwhat someone else wrote",
         "\xEF\xBB\xBFwhat someone else wrote", u""},
        {"not a profile, one set aside before", "not ours", "not ours", u"", "earlier"},
        {"too large", std::string(17 << 20, 'x'), std::string(17 << 20, 'x'), u""},
        {"readable", good, "<missing>", u"1"},
        {"missing", "", "<missing>", u""},
    };
    for (const Case& c : cases) {
        for (const std::wstring& p : {path, bad, bad + L"1"})
            DeleteFileW(p.c_str());
        if (!c.file.empty()) {
            ASSERT_TRUE(writeFileBytes(path, c.file));
        }
        ASSERT_TRUE(!c.earlier || writeFileBytes(bad, c.earlier));
        ddProfStoreSetPath(path.c_str());
        ddProfStoreCreate();
        EXPECT_TRUE(diSOSetLocalSetting(u"New", u"2")) << c.name;
        EXPECT_TRUE(readFileBytes(c.earlier ? bad + L"1" : bad) == c.badAfter) << c.name;
        EXPECT_EQ(readFileBytes(bad), c.earlier ? c.earlier : c.badAfter) << c.name;
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

// The state files through the client's own settings calls: a file held at
// load, a write that fails (a full disk), two copies of the client on one
// file. Copy a stores or forgets a password, then copy b (when there is
// one) saves a window width or stores another password, or a itself saves
// a width once the disk has room; a fresh load sees what both saved.
TEST(ProfileFileOnDisk, ABusyFileAFullDiskAndTwoCopiesLoseNothing) {
    std::wstring dir = tempFolder();
    std::wstring path = dir + L"\\profile.xml";
    const DiChar *url = u"http://srv.example/", *url2 = u"http://two.example/";
    const std::string old =
        "\xEF\xBB\xBF<cache><localsettings><old>1</old></localsettings></cache>";
    struct Case {
        const char* name;
        bool hadPassword, heldAtLoad, writeFails, twoCopies;
        bool forget;    // a forgets the password, else stores it
        bool bPassword; // b stores a password for url2, else a width
        bool aSaved, passwordAfter;
        uint32_t errors;
        bool aWidth = false; // a saves a width after the write that failed
    } cases[] = {
        {"held at load", false, true, false, false, false, false, true, true, 1},
        {"full disk", false, false, true, false, false, false, false, false, 1},
        {"full disk, then a width", false, false, true, false, false, false, false, false, 1, true},
        {"a forget on a full disk, then a width", true, false, true, false, true, false, false,
         false, 1, true},
        {"two copies", false, false, false, true, false, false, true, true, 0},
        {"two copies, two passwords", false, false, false, true, false, true, true, true, 0},
        {"a forget in one of two copies", true, false, false, true, true, false, true, false, 0},
        // a forgets a key it never stored while its saves fail; b then
        // stores another password as the first entry; a saves a width.
        {"a forget of no entry on a full disk, b's password, then a width", false, false, true,
         true, true, true, true, false, 0, true},
    };
    ddProfStoreSetPath(path.c_str());
    for (const Case& c : cases) {
        DeleteFileW((path + L".bad").c_str());
        ASSERT_TRUE(writeFileBytes(path, old));
        if (c.hadPassword) {
            ddProfStoreCreate();
            ASSERT_TRUE(diCryptStoreCachedLogin(url, u"ann", u"pw"));
            ddProfStoreDestroy();
        }
        CLog log;
        diLogSet(&log);
        HANDLE held = c.heldAtLoad ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr)
                                   : INVALID_HANDLE_VALUE;
        CWinProfileStore* a = new CWinProfileStore();
        CWinProfileStore* b = c.twoCopies ? new CWinProfileStore() : nullptr;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        // Readable, but not to be replaced while this handle is open.
        HANDLE reader = c.writeFails ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE;
        g_diProfileStore = a;
        EXPECT_EQ(c.forget ? diCryptStorePassword(url, u"", nullptr, 0) == 1
                           : diCryptStoreCachedLogin(url, u"ann", u"pw"),
                  c.aSaved)
            << c.name;
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        g_diProfileStore = b;
        EXPECT_TRUE(!b || (c.bPassword ? diCryptStoreCachedLogin(url2, u"bob", u"pw2")
                                       : ddSettingSetInt(L"width", 640)))
            << c.name;
        g_diProfileStore = a;
        EXPECT_TRUE(!c.aWidth || ddSettingSetInt(L"width", 640)) << c.name;
        EXPECT_EQ(log.GetCount(), c.errors) << c.name;
        for (CQVLListNode<CLogEntry>* n = log.GetEntries()->head; n; n = n->next)
            EXPECT_NE(std::u16string(n->item->text).find(ddD(path.c_str())), std::u16string::npos);
        diLogSet(nullptr);
        delete b;
        delete a;

        ddProfStoreCreate();
        DiChar *user = nullptr, *password = nullptr;
        EXPECT_EQ(diCryptLookupCachedLogin(url, &user, &password), c.passwordAfter) << c.name;
        free(user);
        free(password);
        user = password = nullptr;
        EXPECT_EQ(diCryptLookupCachedLogin(url2, &user, &password), c.bPassword) << c.name;
        free(user);
        free(password);
        EXPECT_EQ(ddSettingGetInt(L"width", 0), (b && !c.bPassword) || c.aWidth ? 640 : 0)
            << c.name;
        EXPECT_EQ(ddSettingGetInt(L"old", 0), 1) << c.name;
        EXPECT_EQ(GetFileAttributesW((path + L".bad").c_str()), INVALID_FILE_ATTRIBUTES) << c.name;
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
