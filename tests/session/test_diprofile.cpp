// The profile store: its file, the choice of the current profile, logins,
// imports, local settings; and the settings file of the start-up paths.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "session/diprofile.h"
#include "session/disettings.h"
#include "support/mem_profile_store.h"
#include "xml/qvlxml.h"

#include <limits.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string kBom = "\xEF\xBB\xBF";

// A profile element with an "id" key that tells which one was chosen.
std::string profile(const char* name, const char* id, const std::string& more = "") {
    return std::string("<profile name=\"") + name + "\"><id>" + id + "</id>" + more + "</profile>";
}
std::string user(const char* ens, const std::string& body) {
    return std::string("<user ens=\"") + ens + "\">" + body + "</user>";
}
std::string host(const char* name, const std::string& body) {
    return std::string("<host name=\"") + name + "\">" + body + "</host>";
}
std::string cache(const std::string& profiles, const std::string& rest = "") {
    return kBom + "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<cache><profiles>" + profiles +
           "</profiles>" + rest + "</cache>\r\n";
}

std::u16string value(CProfileStore& store, const char16_t* key) {
    DiChar buf[256];
    if (!store.GetProfileValue(key, buf, 256, nullptr)) return u"<none>";
    return buf;
}
std::u16string setting(const char16_t* key) {
    DiChar buf[256];
    if (!diSOGetLocalSetting(key, buf, 256)) return u"<none>";
    return buf;
}

TEST(ProfileFile, ANewDocumentWithOneSettingIsWrittenLineByLine) {
    CMemProfileStore store;
    store.Load(nullptr);
    EXPECT_TRUE(diSOSetLocalSetting(u"X", u"1"));
    ASSERT_EQ(store.saved.size(), 1u);
    EXPECT_EQ(store.saved[0], kBom + "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                                     "<cache>\r\n"
                                     "  <profiles>\r\n"
                                     "    <version>1.0</version>\r\n"
                                     "  </profiles>\r\n"
                                     "  <localsettings>\r\n"
                                     "    <x>1</x>\r\n"
                                     "  </localsettings>\r\n"
                                     "</cache>\r\n");
}

TEST(ProfileFile, ValuesReadBackAsTheyWereSetExceptTrailingSpace) {
    struct Case {
        const char16_t* set;
        const char16_t* readBack;
    } cases[] = {
        {u"<a href=\"x&y\">'\u00e9\u4e2d\U0001F600'</a>", nullptr},
        {u"line\r\nbreak\ttab", nullptr},
        {u"  leading", nullptr},
        {u"trailing  ", u"trailing"},
        {u"a & b \t", u"a & b"}, // space before a reference stays
        {u"", nullptr},
    };
    for (const Case& c : cases) {
        CMemProfileStore store;
        store.Load(nullptr);
        ASSERT_TRUE(diSOSetLocalSetting(u"k", c.set));
        CMemProfileStore again(store.file);
        again.Load(nullptr);
        EXPECT_EQ(setting(u"k"), c.readBack ? c.readBack : c.set);
        EXPECT_TRUE(again.asideFiles.empty());
    }
}

TEST(ProfileFile, WhatCannotBeReadIsSetAsideBeforeTheNextSave) {
    struct Case {
        const char* name;
        std::string file;
        bool exists, setAside;
    } cases[] = {
        {"missing", "", false, false},
        {"empty", "", true, false},
        {"byte-order mark only", kBom, true, false},
        {"not XML", kBom + "profile of someone else", true, true},
        {"cut short", cache(host("h", "")).substr(0, 40), true, true},
        {"no byte-order mark", cache("").substr(3), true, false},
        {"empty elements", "<cache><profiles/><localsettings/></cache>", true, false},
    };
    for (const Case& c : cases) {
        CLog log;
        diLogSet(&log);
        CMemProfileStore store(c.file);
        store.exists = c.exists;
        store.Load(nullptr);
        EXPECT_TRUE(diSOSetLocalSetting(u"a", u"1")) << c.name;
        EXPECT_EQ(store.asideFiles,
                  c.setAside ? std::vector<std::string>{c.file} : std::vector<std::string>{})
            << c.name;
        EXPECT_NE(store.file.find("<a>1</a>"), std::string::npos) << c.name;
        // Set aside once: the next save writes in place.
        EXPECT_TRUE(diSOSetLocalSetting(u"a", u"2"));
        EXPECT_EQ(store.asideFiles.size(), c.setAside ? 1u : 0u) << c.name;
        // The one line that says where the user's profiles went.
        ASSERT_EQ(log.GetCount(), c.setAside ? 1u : 0u) << c.name;
        if (c.setAside)
            EXPECT_NE(std::u16string(log.GetEntries()->head->item->text).find(u"kept as aside0"),
                      std::u16string::npos);
        diLogSet(nullptr);
    }
    // When the file cannot be set aside nothing overwrites it.
    CMemProfileStore locked(kBom + "garbage");
    locked.Load(nullptr);
    locked.writable = false;
    EXPECT_FALSE(diSOSetLocalSetting(u"a", u"1"));
    EXPECT_EQ(locked.file, kBom + "garbage");
    EXPECT_EQ(setting(u"a"), u"1"); // kept in memory
    // A file another program holds at load is neither set aside nor
    // overwritten; the first save that can read it writes onto it.
    CMemProfileStore held(cache("", "<localsettings><old>1</old></localsettings>"));
    held.held = true;
    held.Load(nullptr);
    EXPECT_FALSE(diSOSetLocalSetting(u"a", u"1"));
    held.held = false;
    EXPECT_TRUE(held.Save());
    EXPECT_TRUE(held.asideFiles.empty());
    CMemProfileStore after(held.file);
    after.Load(nullptr);
    EXPECT_EQ(setting(u"old") + setting(u"a"), u"11");
}

// Two copies of the client on one file: a saves, then b; b and a fresh
// load see both copies' changes.
TEST(ProfileFile, EachCopyWritesItsChangesOntoWhatTheOtherSaved) {
    std::string logged = user("u", "<AT>tok</AT>" + profile("Default", "1") + profile("Old", "2"));
    auto setA = [](CProfileStore& s) { s.SetLocalSetting(u"a", u"1"); };
    auto takeToken = [](CProfileStore& s) {
        s.current->userElement->RemoveChild(s.current->userElement->Find(u"AT"));
    };
    struct Case {
        const char* name;
        std::string file;
        void (*a)(CProfileStore&);
        bool aFailsFirst; // a's save fails, and a saves again after b
        const char* has;  // in the file at the end
        const char* lacks;
        void (*b)(CProfileStore&) = nullptr; // b's own change, merged onto a's save
    } cases[] = {
        {"a password and a width", cache(""),
         [](CProfileStore& s) { s.SetLocalSetting(u"cachepass0", u"k:u:pw"); }, false,
         "<cachepass0>k:u:pw</cachepass0>", nullptr},
        {"a forget", cache("", "<localsettings><cachepass0>k:u:pw</cachepass0></localsettings>"),
         [](CProfileStore& s) { s.SetLocalSetting(u"cachepass0", u"k::"); }, false,
         "<cachepass0>k::</cachepass0>", "k:u:pw"},
        {"a forget saved after the other copy",
         cache("", "<localsettings><cachepass0>k:u:pw</cachepass0></localsettings>"),
         [](CProfileStore& s) { s.SetLocalSetting(u"cachepass0", u"k::"); }, true,
         "<cachepass0>k::</cachepass0>", "k:u:pw"},
        {"a token taken away", cache(host("h", logged)),
         [](CProfileStore& s) {
             s.current->userElement->RemoveChild(s.current->userElement->Find(u"AT"));
         },
         false, "<id>1</id>", "<AT>"},
        // A removal alone is a change: the merge writes it.
        {"a token taken away, saved after the other copy", cache(host("h", logged)), takeToken,
         true, "<id>1</id>", "<AT>"},
        {"a login that drops a profile", cache(host("h", logged)),
         [](CProfileStore& s) {
             s.SaveLogin(u"h", u"u", nullptr, nullptr, 0, nullptr,
                         u"<profile name=\"Default\"><id>3</id></profile>", nullptr);
         },
         false, "<id>3</id>", "name=\"Old\""},
        {"b takes a token away", cache(host("h", logged)), setA, false, "<a>1</a>", "<AT>",
         takeToken},
        {"b logs in without a profile", cache(host("h", logged)), setA, false, "<id>3</id>",
         "name=\"Old\"",
         [](CProfileStore& s) {
             s.SaveLogin(u"h", u"u", nullptr, nullptr, 0, nullptr,
                         u"<profile name=\"Default\"><id>3</id></profile>", nullptr);
         }},
        {"b removes keys of one name",
         cache(host("h", user("u", profile("Default", "1", "<x>1</x><x>2</x><x>3</x>")))), setA,
         false, "<a>1</a>", "<x>",
         [](CProfileStore& s) {
             while (CQVLXMLElement* x = s.current->profileElement->Find(u"x"))
                 s.current->profileElement->RemoveChild(x);
         }},
    };
    for (const Case& c : cases) {
        CLog log;
        diLogSet(&log);
        CMemProfileStore a(c.file), b;
        b.of = &a;
        a.Load(u"h:u:Default");
        b.Load(u"h:u:Default");
        c.a(a);
        a.writable = !c.aFailsFirst;
        EXPECT_EQ(a.Save(), !c.aFailsFirst) << c.name;
        // b changes a key of its current profile (when it has one) and a
        // local setting.
        if (c.b) c.b(b);
        b.SetSessionCookie(u"bc");
        b.SetLocalSetting(u"width", u"640");
        EXPECT_TRUE(b.Save()) << c.name;
        a.writable = true;
        EXPECT_TRUE(!c.aFailsFirst || a.Save()) << c.name;
        EXPECT_EQ(log.GetCount(), c.aFailsFirst ? 1u : 0u) << c.name;
        diLogSet(nullptr);
        EXPECT_NE(a.file.find(c.has), std::string::npos) << c.name << a.file;
        EXPECT_NE(a.file.find("<width>640</width>"), std::string::npos) << c.name << a.file;
        EXPECT_EQ(a.file.find(c.lacks ? c.lacks : "\x01"), std::string::npos) << c.name << a.file;
        // b took up a's document: its current profile is the one on file.
        CMemProfileStore fresh(a.file);
        fresh.Load(u"h:u:Default");
        EXPECT_EQ(value(b, u"id"), value(fresh, u"id")) << c.name;
        EXPECT_EQ(value(fresh, u"sessioncookie"),
                  c.file.find("<id>") == std::string::npos ? u"<none>" : u"bc")
            << c.name;
    }
}

// A numbered list saved at once (the password cache) whose save failed:
// the next save of anything else writes a forget (retry), never a password
// the caller was told is not kept.
TEST(ProfileFile, AListThatWasNotSavedIsWrittenLaterOnlyWhenRetried) {
    struct Write {
        std::vector<const char16_t*> items;
        bool retry;
    };
    struct Case {
        const char* name;
        std::vector<Write> failed; // in order, each on a file that cannot be written
        const char* has;           // in the file after a width is saved
        const char* lacks;
    } cases[] = {
        {"a store", {{{u"k:u:new"}, false}}, "<cachepass0>k:u:old</cachepass0>", "k:u:new"},
        {"a store that appends", {{{u"k:u:old", u"j:u:pw"}, false}}, "k:u:old", "cachepass1"},
        {"a forget", {{{u"k::"}, true}}, "<cachepass0>k::</cachepass0>", "k:u:old"},
        {"a store over a forget",
         {{{u"k::"}, true}, {{u"k:u:new"}, false}},
         "<cachepass0>k::</cachepass0>",
         "k:u:"},
    };
    for (const Case& c : cases) {
        CMemProfileStore store(
            cache("", "<localsettings><cachepass0>k:u:old</cachepass0></localsettings>"));
        store.Load(nullptr);
        store.writable = false;
        for (const Write& w : c.failed)
            EXPECT_FALSE(
                diSOSetLocalList(u"CachePass", w.items.data(), int(w.items.size()), w.retry))
                << c.name;
        store.writable = true;
        EXPECT_TRUE(diSOSetLocalSetting(u"width", u"640")) << c.name;
        EXPECT_NE(store.file.find(c.has), std::string::npos) << c.name << store.file;
        EXPECT_EQ(store.file.find(c.lacks), std::string::npos) << c.name << store.file;
    }
}

TEST(ProfileStore, LoadChoosesTheProfileByHostUserAndName) {
    std::string twoDefaults = cache(host("h1", user("u1", profile("Default", "h1u1"))) +
                                    host("h2", user("u2", profile("Default", "h2u2"))) +
                                    "<lastloginhost>h2</lastloginhost>"
                                    "<lastloginuser>u2</lastloginuser>");
    std::string mixed =
        cache(host("srv", user("Ann", profile("Default", "ann") + profile("work", "annwork")) +
                              user("bob", profile("Default", "bob"))));
    struct Case {
        std::string file;
        const char16_t* name;
        const char16_t* server;
        const char16_t* id;
    } cases[] = {
        {mixed, u"srv:Ann:work", nullptr, u"annwork"},
        {mixed, u"SRV:Ann:work", nullptr, u"annwork"}, // hosts in lower case
        {mixed, u"srv:ann:work", nullptr, u"<none>"},  // users compared exactly
        {mixed, u"srv:bob:Default", nullptr, u"bob"},
        {mixed, u"Ann:work", nullptr, u"<none>"}, // no host: users directly under profiles
        {mixed, u"work", nullptr, u"annwork"},    // only the name: found deep
        {mixed, u"Ann:work", u"SRV", u"annwork"}, // the server option as host
        {mixed, u"Ann:work", u"other", u"<none>"},
        {mixed, u"srv:carl:Default", nullptr, u"<none>"},
        {mixed, nullptr, nullptr, u"<none>"},     // "Default" twice under srv, no last login
        {twoDefaults, nullptr, nullptr, u"h2u2"}, // several: the last login decides
        {twoDefaults, u"h1:u1:Default", nullptr, u"h1u1"},
        {cache(host("h", user("u", profile("Default", "x")) + user("u", ""))), u"h:u:Default",
         nullptr, u"<none>"}, // two users of one name: neither
    };
    for (const Case& c : cases) {
        CMemProfileStore store(c.file);
        store.options.server = c.server;
        store.Load(c.name);
        EXPECT_EQ(value(store, u"id"), c.id) << std::string(c.name ? "named" : "default") << " "
                                             << (c.name ? std::u16string(c.name).size() : 0);
    }
}

TEST(ProfileStore, CurrentProfileTextSplitsAtTheLastColons) {
    struct Case {
        const char16_t *text, *host, *user, *name;
    } cases[] = {
        {u"h:u:p", u"h", u"u", u"p"},   {u"u:p", nullptr, u"u", u"p"},
        {u"p", nullptr, nullptr, u"p"}, {u"a:b:c:d", u"a:b", u"c", u"d"},
        {u"::", u"", u"", u""},
    };
    for (const Case& c : cases) {
        CCurrentProfile p;
        p.Set(c.text);
        auto str = [](const DiChar* s) { return s ? std::u16string(s) : u"<null>"; };
        EXPECT_EQ(str(p.host), str(c.host));
        EXPECT_EQ(str(p.user), str(c.user));
        EXPECT_EQ(str(p.profileName), str(c.name));
    }
}

TEST(ProfileStore, ValuesAreCutToTheBufferAndNumbersSaturate) {
    CMemProfileStore store(cache(host("h", user("u", profile("Default", "abcdef",
                                                             "<n>99999999999</n><neg>-7x</neg>"
                                                             "<e></e><b>TRUE</b><w>abc</w>")))));
    store.Load(u"h:u:Default");
    CQVLXMLElement* p = store.current->profileElement;
    ASSERT_NE(p, nullptr);
    struct Case {
        size_t size;
        bool whole;
        const char16_t* text;
    } sizes[] = {{7, true, u"abcdef"}, {6, false, u"abcde"}, {1, false, u""}};
    for (const Case& c : sizes) {
        DiChar buf[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
        size_t length = 0;
        EXPECT_EQ(store.GetValue(p, u"id", buf, c.size, &length), c.whole);
        EXPECT_EQ(std::u16string(buf), c.text);
        EXPECT_EQ(length, 6u);
    }
    int32_t n = 5;
    EXPECT_TRUE(store.GetInt(p, u"n", &n));
    EXPECT_EQ(n, INT_MAX);
    EXPECT_TRUE(store.GetInt(p, u"neg", &n));
    EXPECT_EQ(n, -7);
    n = 5;
    EXPECT_FALSE(store.GetInt(p, u"e", &n));
    EXPECT_FALSE(store.GetInt(p, u"w", &n));
    EXPECT_EQ(n, 5); // the reader's default stays
    bool flag = false;
    EXPECT_TRUE(store.GetBool(p, u"b", &flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(store.GetBool(p, u"id", &flag));
    EXPECT_FALSE(flag);
}

TEST(ProfileStore, ACertsFileIsTakenOnlyFromTheStoresOwnFolder) {
    struct Store : CMemProfileStore {
        using CMemProfileStore::CMemProfileStore;
        std::u16string certs;
        void UseCertsFile(const DiChar* path) override { certs = path; }
    };
    const std::string folder = "C:\\Users\\ann\\Local\\Vek\\VHVN\\";
    const std::pair<std::string, bool> rows[] = {
        {folder + "hv1.pem", true},        {"c:\\users\\ANN\\local\\vek\\vhvn\\hv1.pem", true},
        {"\\\\host\\share\\x.pem", false}, {"C:\\Users\\ann\\x.pem", false},
        {folder + "..\\x.pem", false},     {"hv1.pem", false},
        {folder + "hvA3f0.tmp.pem", true}, {folder + "certstore.pem", false},
        {folder + "hostsvisited", false},  {folder + "profile.xml", false},
        {folder + "COM1", false},          {folder + "hv123456789.pem", false},
        {folder + "hv12345678.tmp.pem", true},
    };
    const std::string file = folder + "profile.xml";
    for (const auto& r : rows) {
        Store store(cache(host(
            "h", user("u", profile("Default", "1", "<certsfile>" + r.first + "</certsfile>")))));
        std::copy(file.c_str(), file.c_str() + file.size() + 1, store.filePath);
        store.options.earlyPath = true;
        store.Load(u"h:u:Default");
        EXPECT_EQ(!store.certs.empty(), r.second) << r.first;
    }
}

TEST(LocalSettings, NamesAreLoweredSetTwiceLeavesOneAndBadNamesAreRefused) {
    CMemProfileStore store(cache(host("h", user("u", profile("Default", "1",
                                                             "<localsettings>"
                                                             "<a>hijack</a>"
                                                             "</localsettings>")))));
    store.Load(u"h:u:Default");
    EXPECT_TRUE(diSOSetLocalSetting(u"ClipboardTimeout", u"5"));
    EXPECT_TRUE(diSOSetLocalSetting(u"b", u"x"));
    EXPECT_TRUE(diSOSetLocalSetting(u"clipboardTIMEOUT", u"7"));
    EXPECT_EQ(setting(u"CLIPBOARDtimeout"), u"7");
    // One element, now the last one; a profile key of that name is not it.
    EXPECT_NE(store.file.find("<localsettings>\r\n    <b>x</b>\r\n    <clipboardtimeout>7"
                              "</clipboardtimeout>\r\n  </localsettings>"),
              std::string::npos);
    EXPECT_TRUE(diSOSetLocalSetting(u"a", u"mine"));
    EXPECT_EQ(setting(u"a"), u"mine");
    EXPECT_EQ(value(store, u"id"), u"1");
    // Names the file could not carry: refused, nothing saved.
    size_t saves = store.saved.size();
    for (const char16_t* bad :
         {u"", u"a b", u"1x", u"-x", u"x<y", u"x\"y", u"\u00e9t\u00e9", u"x/y", u"x=y"})
        EXPECT_FALSE(diSOSetLocalSetting(bad, u"1")) << std::u16string(bad).size();
    EXPECT_EQ(store.saved.size(), saves);
    EXPECT_TRUE(diSOSetLocalSetting(u"_a-b.c:d9", u"1"));
    // A value longer than the buffer is still found, cut and ended.
    diSOSetLocalSetting(u"k", u"abcdef");
    DiChar buf[4];
    EXPECT_TRUE(diSOGetLocalSetting(u"k", buf, 4));
    EXPECT_EQ(std::u16string(buf), u"abc");
    // Read whole, it is all there; an empty value is found, an absent not.
    diSOSetLocalSetting(u"e", u"");
    for (auto [name, want] : {std::pair<const char16_t*, const char16_t*>{u"K", u"abcdef"},
                              {u"e", u""}, {u"absent", nullptr}}) {
        DiChar* whole = diSOGetLocalSettingWhole(name);
        EXPECT_EQ(whole ? std::u16string(whole) : u"<none>", want ? want : u"<none>");
        free(whole);
    }
}

TEST(LocalSettings, NoStoreMeansAbsentAndUnsaved) {
    DiChar buf[8];
    EXPECT_FALSE(diSOGetLocalSetting(u"a", buf, 8));
    EXPECT_FALSE(diSOSetLocalSetting(u"a", u"1"));
}

// ---- logins and imports ----

class Logins : public ::testing::Test {
  protected:
    void load(const std::string& file, const char16_t* name = u"Default") {
        store.file = file;
        store.exists = true;
        store.Load(name);
    }
    std::string saved() {
        store.Save();
        return store.file;
    }
    CMemProfileStore store;
};

TEST_F(Logins, ALoginStoresProfilesTokenProxyAndCookieAndSelectsTheProfile) {
    load("");
    store.SaveLogin(u"SRV.example", u"ann", u"tok", u"proxy", 8080, u"http",
                    u"<profile name=\"Default\"><url>https://srv/</url></profile>"
                    u"<profile name=\"b\"/>",
                    u"cookie1");
    EXPECT_EQ(value(store, u"url"), u"https://srv/");
    EXPECT_EQ(value(store, u"sessioncookie"), u"cookie1");
    EXPECT_EQ(value(store, u"lastproxyport"), u"8080");
    EXPECT_EQ(std::u16string(store.current->host), u"srv.example");
    std::string file = saved();
    EXPECT_NE(file.find("<host name=\"srv.example\">\r\n      <user ens=\"ann\">\r\n"
                        "        <profile name=\"Default\">"),
              std::string::npos);
    EXPECT_NE(file.find("<AT>tok</AT>"), std::string::npos);
    EXPECT_NE(file.find("<lastloginhost>srv.example</lastloginhost>\r\n"
                        "    <lastloginuser>ann</lastloginuser>\r\n  </profiles>"),
              std::string::npos);

    // A later login without a token keeps the user's token, replaces the
    // profiles and moves the last login to the end again.
    store.SaveLogin(u"srv.example", u"ann", nullptr, nullptr, 0, nullptr,
                    u"<profile name=\"Default\"><url>https://new/</url></profile>", u"cookie2");
    EXPECT_EQ(value(store, u"url"), u"https://new/");
    EXPECT_EQ(value(store, u"lastproxyhost"), u"");
    file = saved();
    EXPECT_NE(file.find("<AT>tok</AT>"), std::string::npos);
    EXPECT_EQ(file.find("name=\"b\""), std::string::npos);
    EXPECT_EQ(file.find("<lastloginhost>"), file.rfind("<lastloginhost>"));
}

TEST_F(Logins, AFaultyLoginLosesNoStoredProfiles) {
    std::string stored = cache(
        host("h", user("ann", profile("Default", "ann")) + user("", profile("Default", "anon"))));
    struct Case {
        const char* name;
        const char16_t* user;
        const char16_t* profiles;
        const char16_t* annAfter;
    } cases[] = {
        // Profiles text that does not parse counts as none.
        {"broken profiles", u"ann", u"<profile name=\"Default\"><id>new", u"ann"},
        // A login without a user name is its own user, not any user.
        {"empty user", u"", u"<profile name=\"Default\"><id>anon2</id></profile>", u"ann"},
        {"sound login", u"ann", u"<profile name=\"Default\"><id>ann2</id></profile>", u"ann2"},
    };
    for (const Case& c : cases) {
        load(stored);
        store.SaveLogin(u"h", c.user, nullptr, nullptr, 0, nullptr, c.profiles, u"c");
        load(saved(), u"h:ann:Default");
        EXPECT_EQ(value(store, u"id"), c.annAfter) << c.name;
    }
}

TEST_F(Logins, AnImportKeepsTheKeepListAndTakesEveryOtherKey) {
    std::string keep = "<sessioncookie>c</sessioncookie><certsfile>f.pem</certsfile>"
                       "<lastproxyhost>p</lastproxyhost><lastproxyport>1</lastproxyport>"
                       "<lastproxytype>http</lastproxytype><url>old</url><mode>browser</mode>";
    load(cache(host("h", user("u", profile("Default", "1", keep)))), u"h:u:Default");
    store.ImportProfiles(u"H", u"u",
                         u"<profile name=\"Default\">\n  <sessioncookie>X</sessioncookie>\n"
                         u"  <certsfile>X</certsfile><lastproxyhost>X</lastproxyhost>"
                         u"<lastproxyport>X</lastproxyport><lastproxytype>X</lastproxytype>\n"
                         u"  <url>new</url>\n  <profile>nested key</profile>\n</profile>"
                         u"<profile name=\"other\"><url>o</url></profile><profile><x/></profile>");
    struct Row {
        const char16_t *key, *expect;
    } rows[] = {
        {u"sessioncookie", u"c"}, {u"certsfile", u"f.pem"},    {u"lastproxyhost", u"p"},
        {u"lastproxyport", u"1"}, {u"lastproxytype", u"http"}, {u"url", u"new"},
        {u"mode", u"browser"},    {u"profile", u"nested key"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(value(store, r.key), r.expect) << std::u16string(r.key).size();
    // The destination survived its own key name and the file reads back.
    load(saved(), u"h:u:Default");
    EXPECT_EQ(value(store, u"url"), u"new");
    load(store.file, u"h:u:other");
    EXPECT_EQ(value(store, u"url"), u"o");
}

TEST_F(Logins, AnImportThatReplacesTheCurrentProfileLeavesNoneSelected) {
    load(cache(host("h", user("u", profile("A", "a", profile("Default", "nested"))))),
         u"h:u:Default");
    EXPECT_EQ(value(store, u"id"), u"nested");
    store.ImportProfiles(u"h", u"u", u"<profile name=\"A\"><profile>key</profile></profile>");
    EXPECT_EQ(value(store, u"id"), u"<none>");
    store.SetSessionCookie(u"s"); // nothing to write into
    load(saved(), u"h:u:A");
    EXPECT_EQ(value(store, u"profile"), u"key");
}

TEST_F(Logins, AnImportIntoAStoreWithoutProfileMakesTheFirstNewOneCurrent) {
    load("", u"nobody");
    store.ImportProfiles(u"h", u"u",
                         u"<profile name=\"a\"><url>A</url></profile>"
                         u"<profile name=\"b\"><url>B</url></profile>");
    EXPECT_EQ(value(store, u"url"), u"A");
    store.SetSessionCookie(u"s");
    EXPECT_EQ(value(store, u"sessioncookie"), u"s");
}

// An update merges each profile into the one stored profile of its name;
// a name held by none or by several is added. A merge that took the
// current profile away leaves the next added profile current. Each name is
// looked up about once, not once for every stored profile.
TEST_F(Logins, AnImportMergesIntoTheOneProfileOfItsName) {
    std::string many = profile("Default", "d");
    std::u16string manyUpdate;
    for (int i = 0; i < 300; i++) {
        many += profile(("p" + std::to_string(i)).c_str(), "s");
        manyUpdate += u"<profile name=\"p" + diProfileFromUtf8(std::to_string(299 - i)) +
                      u"\"><url>u</url></profile>";
    }
    struct Case {
        const char* name;
        std::string stored;
        const char16_t* update;
        const char16_t* id; // the current profile's after the import
        std::vector<const char*> has, lacks;
    } cases[] = {
        {"the current taken away, then a new one",
         profile("A", "a", profile("Default", "nested")),
         u"<profile name=\"A\"><profile>key</profile></profile>"
         u"<profile name=\"N\"><id>n</id></profile>",
         u"n",
         {"<profile>key</profile>"},
         {"nested"}},
        {"a name held twice",
         profile("A", "a1") + profile("A", "a2") + profile("Default", "d"),
         u"<profile name=\"A\"><id>x</id></profile>",
         u"d",
         {"<id>a1</id>", "<id>a2</id>", "<id>x</id>"},
         {}},
        {"a new name twice",
         profile("Default", "d"),
         u"<profile name=\"B\"><id>b1</id><url>u</url></profile>\n"
         u"<profile name=\"B\"><id>b2</id></profile>",
         u"d",
         {"<id>b2</id>", "<url>u</url>"},
         {"b1"}},
        {"text, unnamed profiles and other elements between",
         profile("Default", "d"),
         u"\n  <profile><id>unnamed</id></profile><other/>\n"
         u"<profile name=\"Default\"><id>new</id></profile>\n",
         u"new",
         {},
         {"unnamed", "<other"}},
        {"three hundred names in reverse order", many, manyUpdate.c_str(), u"d",
         {"<url>u</url>"}, {}},
    };
    for (const Case& c : cases) {
        load(cache(host("h", user("u", c.stored))), u"h:u:Default");
        uint32_t lookups = CQVLXMLTag::AttributeLookups();
        store.ImportProfiles(u"h", u"u", c.update);
        size_t profiles = 0;
        for (size_t at = 0; (at = c.stored.find("<profile", at)) != std::string::npos; at++)
            profiles++;
        for (size_t at = 0; (at = std::u16string(c.update).find(u"<profile", at)) !=
                            std::u16string::npos;
             at++)
            profiles++;
        EXPECT_LE(CQVLXMLTag::AttributeLookups() - lookups, 4 * profiles + 16) << c.name;
        EXPECT_EQ(value(store, u"id"), c.id) << c.name;
        std::string file = saved();
        for (const char* text : c.has)
            EXPECT_NE(file.find(text), std::string::npos) << c.name << ": " << text;
        for (const char* text : c.lacks)
            EXPECT_EQ(file.find(text), std::string::npos) << c.name << ": " << text;
    }
}

// ---- settings files ----

class MemSettingsFile : public CSettingsFile {
  public:
    std::string file;
    bool exists = false;
    bool CreateUniqueFile() override { return exists = true; }
    bool Open(const DiChar*) override { return Load(); }
    bool ReadFileBytes(std::string* bytes) override {
        if (exists) *bytes = file.compare(0, 3, kBom) ? file : file.substr(3);
        return exists;
    }
    bool WriteFileBytes(const std::string& bytes) override {
        file = bytes;
        return exists = true;
    }
};

TEST(SettingsFile, FilledFromTheProfileItReadsBackInOrder) {
    CMemProfileStore store(cache(host(
        "h",
        user("u", profile("Default", "1",
                          "<sessioncookie>sc</sessioncookie><lastproxyhost>ph</lastproxyhost>"
                          "<lastproxyport>3128</lastproxyport><url>https://web:8443/x</url>")))));
    store.Load(u"h:u:Default");
    struct Case {
        const char16_t* loginUrl;
        int result;
        const char* keys;
    } cases[] = {
        {nullptr, 0,
         "<sessioncookie>sc</sessioncookie>\r\n  <protocol>https</protocol>\r\n"
         "  <server>web</server>\r\n  <port>8443</port>\r\n"
         "  <jwslocation>axis/HVNWS.jws</jwslocation>\r\n  <proxyserver>ph</proxyserver>\r\n"
         "  <proxyport>3128</proxyport>"},
        {u"http://login/", 0, "<server>login</server>\r\n  <port>80</port>"},
        {u"ftp://login/", 3, ""},
    };
    for (const Case& c : cases) {
        MemSettingsFile settings;
        ASSERT_EQ(settings.FillFromProfile(&store, c.loginUrl), c.result);
        ASSERT_TRUE(settings.Save());
        EXPECT_NE(settings.file.find(c.keys), std::string::npos) << settings.file;
        MemSettingsFile again;
        again.file = settings.file;
        again.exists = true;
        ASSERT_TRUE(again.Open(u"x"));
        EXPECT_EQ(again.Serialize(), settings.file);
    }
    store.Load(u"nobody"); // no profile, no URL
    MemSettingsFile none;
    EXPECT_EQ(none.FillFromProfile(&store, nullptr), 3);
}

TEST(SettingsFile, KeysAreAddedOnceCookiesGoIntoTheirElementAndBadFilesFail) {
    MemSettingsFile settings;
    EXPECT_TRUE(settings.AddKey(u"server", u"a"));
    EXPECT_FALSE(settings.AddKey(u"server", u"b")); // never replaced
    EXPECT_FALSE(settings.AddKey(u"bad name", u"b"));
    EXPECT_TRUE(settings.AddCookie(u"c1=v; path=/"));
    EXPECT_TRUE(settings.AddCookie(u"c2"));
    DiChar buf[16];
    EXPECT_TRUE(settings.GetValue(u"server", buf, 16, nullptr));
    EXPECT_EQ(std::u16string(buf), u"a");
    ASSERT_NE(settings.GetCookies(), nullptr);
    EXPECT_EQ(settings.GetCookies()->GetChildren()->count, 2u);
    struct Case {
        std::string file;
        bool exists, loads;
    } files[] = {
        {"", false, false},
        {"", true, true}, // empty: the default document
        {kBom + "<other/>", true, false},
        {kBom + "<settings><server>s</server>", true, false},
        {kBom + "<settings><server>s</server></settings>", true, true},
    };
    for (const Case& c : files) {
        MemSettingsFile f;
        f.file = c.file;
        f.exists = c.exists;
        EXPECT_EQ(f.Open(u"x"), c.loads) << c.file;
        if (!c.loads) {
            EXPECT_NE(f.GetCookies(), nullptr); // the default document stays
        }
    }
}

} // namespace
