// The store's files on a real file system: a profile file that cannot be
// parsed survives as profile.xml.bad, one held by another program or saved
// by another copy of the client is written onto, and settings files stay
// in the store's folder.
#include <gtest/gtest.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/dilog.h"
#include "net/dicertcache.h"
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
        CLog log;
        diLogSet(&log);
        ddProfStoreSetPath(path.c_str());
        ddProfStoreCreate();
        EXPECT_TRUE(diSOSetLocalSetting(u"New", u"2")) << c.name;
        EXPECT_TRUE(readFileBytes(c.earlier ? bad + L"1" : bad) == c.badAfter) << c.name;
        EXPECT_EQ(readFileBytes(bad), c.earlier ? c.earlier : c.badAfter) << c.name;
        // One line names the copy kept.
        bool kept = c.badAfter != "<missing>";
        ASSERT_EQ(log.GetCount(), kept ? 1u : 0u) << c.name;
        if (kept)
            EXPECT_NE(std::u16string(log.GetEntries()->head->item->text)
                          .find(u"kept as " + std::u16string(ddD((c.earlier ? bad + L"1" : bad).c_str()))),
                      std::u16string::npos)
                << c.name;
        diLogSet(nullptr);
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

// What runs that ended left in the store's folder goes at start-up, and
// nothing of a run that still runs (the process id in a name is the run's;
// one that started after the file was written only got the id again). The
// cookie and certificate file a profile names are those of their run.
TEST(SettingsFilesOnDisk, WhatEndedRunsLeftIsRemovedAtStartUpAndNeverUsed) {
    CWinSettingsFile own;
    ASSERT_TRUE(own.CreateUniqueFile());
    wchar_t folderText[MAX_PATH];
    ASSERT_TRUE(ddProfGetFolder(folderText, MAX_PATH));
    const std::wstring folder = folderText;
    CreateDirectoryW((folder + L"\\icons").c_str(), nullptr);
    HeldProcess live, ended;
    ASSERT_NE(live.Id(), 0u);
    ASSERT_NE(ended.Id(), 0u);
    auto hex = [](DWORD id) {
        wchar_t t[16];
        _snwprintf(t, 16, L"%lx", static_cast<unsigned long>(id));
        t[15] = 0;
        return std::wstring(t);
    };
    const std::wstring liveId = std::to_wstring(live.Id()), endedId = std::to_wstring(ended.Id());
    const std::wstring endedCerts = folder + L"\\hv" + hex(ended.Id()) + L".tmp.pem";
    struct Row {
        std::wstring name;
        uint64_t written; // 0: now
        bool kept;
    } rows[] = {
        {L"s" + endedId + L"-1.dat", 0, false},
        {L"s" + liveId + L"-1.dat", 0, true},
        {L"s" + liveId + L"-2.dat", kLongAgo, false},
        {std::wstring(ddW(own.fileName)), 0, true},
        {L"s1.dat", 0, true},
        {L"hv" + hex(ended.Id()) + L".tmp.pem", 0, false},
        {L"hv" + hex(live.Id()) + L".tmp.pem", 0, true},
        {L"profile.xml." + endedId + L".new", 0, false},
        {L"icons\\x.ico." + endedId + L".new", 0, false},
        {L"icons\\x.ico." + liveId + L".new", 0, true},
    };
    ended.End();
    for (const Row& r : rows)
        if (r.name != ddW(own.fileName))
            ASSERT_TRUE(writeFileAt(folder + L"\\" + r.name, "cookie", r.written));
    ddProfRemoveEndedRuns();
    for (const Row& r : rows) {
        EXPECT_EQ(GetFileAttributesW((folder + L"\\" + r.name).c_str()) != INVALID_FILE_ATTRIBUTES,
                  r.kept)
            << r.name.c_str();
        DeleteFileW((folder + L"\\" + r.name).c_str());
    }

    // A profile saved by the run that ended, then one of this run (beside
    // the certificate files, as the store's own file is).
    std::wstring path = folder + L"\\test" + std::to_wstring(GetCurrentProcessId()) + L".xml";
    const std::wstring ownCerts = ddProfSessionCertsPath(folder);
    for (const std::wstring& certs : {endedCerts, ownCerts}) {
        ASSERT_TRUE(writeFileAt(certs, ""));
        std::string text = "\xEF\xBB\xBF<cache><profiles><host name=\"h\"><user ens=\"u\">"
                           "<profile name=\"Default\"><url>http://127.0.0.1:1/</url>"
                           "<sessioncookie>C1</sessioncookie><certsfile>" +
                           std::string(certs.begin(), certs.end()) +
                           "</certsfile></profile></user></host></profiles></cache>";
        ASSERT_TRUE(writeFileBytes(path, text));
        ddProfStoreSetPath(path.c_str());
        ddProfStoreCreate();
        g_diProfileStore->options.earlyPath = true;
        g_diProfileStore->Load(u"h:u:Default");
        bool ours = certs == ownCerts;
        EXPECT_EQ(diCertCacheGetSessionCertsFile(),
                  ours ? std::string(certs.begin(), certs.end()) : std::string());
        if (!ours) EXPECT_EQ(ddProfLaunchObject(u"app"), 2);
        ddProfStoreDestroy();
        DeleteFileW(certs.c_str());
    }
    ddProfStoreSetPath(L"");
    DeleteFileW(path.c_str());
    DeleteFileW(ddW(own.filePath));
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
