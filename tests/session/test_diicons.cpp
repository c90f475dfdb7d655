// The integrated client's icon download over the scripted socket and its
// profile entries over an in-memory profile store: what goes on the wire,
// which replies leave a file (only a cleanly ended one within its bounds)
// and which icon names are never asked for.
#include <gtest/gtest.h>

#include "core/diutil.h"
#include "fakes/route_fakes.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/diso.h"
#include "support/device_names.h"
#include "support/mem_profile_store.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

std::string readFile(const std::string& path, bool* exists) {
    FILE* f = fopen(path.c_str(), "rb");
    *exists = f != nullptr;
    std::string out;
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

struct Icons : ::testing::Test {
    char dir[64] = "/tmp/hv-icons-XXXXXX";
    std::string gif;
    CIntegratedClient* ic = nullptr;
    void SetUp() override {
        routeFakesReset();
        ASSERT_NE(mkdtemp(dir), nullptr);
        gif = std::string(dir) + "/a.gif";
        ic = new CIntegratedClient(nullptr);
        ASSERT_TRUE(ic->SetServer(u"http://web.example:8080/hvn/"));
    }
    void TearDown() override {
        delete ic;
        std::string cmd = std::string("rm -rf ") + dir;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    bool fetch(const std::u16string& name = u"a.gif") {
        return ic->FetchIcon(diProfileFromUtf8(gif), name);
    }
};

// Each reply the server may give: only a cleanly closed one within 1 MiB
// becomes the file; a stall, a reset or an endless reply leave none (and
// no temporary), and the socket is freed on every way out.
TEST_F(Icons, OnlyACleanlyEndedReplyWithinItsBoundsIsWritten) {
    const std::string mib(DI_ICON_MAX_BYTES, 'g');
    struct Row {
        const char* what;
        std::vector<std::string> chunks;
        bool closed, resets, ok;
    } rows[] = {
        {"whole", {"GIF89a", "-rest"}, true, false, true},
        {"empty", {}, true, false, true},
        {"exactly 1 MiB", {mib}, true, false, true},
        {"stalled", {"GIF89a"}, false, false, false},
        {"reset", {"GIF89a"}, false, true, false},
        {"one byte past 1 MiB", {mib, "x"}, true, false, false},
    };
    for (const Row& r : rows) {
        fakesReset();
        for (const std::string& c : r.chunks)
            g_fakeNet.incoming.push_back(c);
        g_fakeNet.closed = r.closed;
        g_fakeNet.recvFails = r.resets;
        remove(gif.c_str());
        bool ok = fetch();
        bool exists = false;
        std::string written = readFile(gif, &exists);
        EXPECT_EQ(ok, r.ok) << r.what;
        EXPECT_EQ(exists, r.ok) << r.what;
        std::string whole;
        for (const std::string& c : r.chunks)
            whole += c;
        if (r.ok) {
            EXPECT_TRUE(written == whole) << r.what;
        }
        EXPECT_EQ(g_fakeNet.created, g_fakeNet.destroyed) << r.what;
        std::string cmd = std::string("ls ") + dir + " | grep -q new";
        EXPECT_NE(system(cmd.c_str()), 0) << r.what << ": a temporary file stayed";
    }
    EXPECT_EQ(g_fakeNet.sent, "GET /hvn/resources/images/icons/a.gif \r\n\r\n");
    EXPECT_EQ(g_fakeRoutes.connectFlags, uint32_t(DI_NET_BASE_ROUTES));
}

// Names that are not one plain file-name component are never sent: they
// would add lines to the request or ask for another file.
TEST_F(Icons, NamesThatAreNotOnePlainComponentAreNeverAskedFor) {
    for (const char16_t* name :
         {u"", u".", u"..", u"a b.gif", u"a.gif\r\nHost: x", u"a\tb.gif", u"..\\..\\x.gif",
          u"x/../y.gif", u"c:x.gif", u"a.gif?x=1", u"a.gif#x", u"a\x7F.gif"}) {
        g_fakeNet.closed = true;
        EXPECT_FALSE(fetch(name)) << diProfileToUtf8(name);
    }
    EXPECT_EQ(g_fakeRoutes.connectCalls, 0);
    EXPECT_TRUE(g_fakeNet.sent.empty());
    EXPECT_TRUE(diIconNameIsPlain(u"Gr\u00FC\u00DFe.gif"));
    for (const std::u16string& name : deviceNames())
        EXPECT_FALSE(diIconNameIsPlain(name + u".gif")) << deviceNameUtf8(name);
    for (const std::u16string& name : nearDeviceNames())
        EXPECT_TRUE(diIconNameIsPlain(name + u".gif")) << deviceNameUtf8(name);
}

// "https" in any case secures the download before anything is sent; a
// refused certificate or a failed connection sends nothing.
TEST_F(Icons, HttpsInAnyCaseSecuresTheDownloadFirst) {
    struct Row {
        const char16_t* url;
        int connect;
        bool tlsFails;
        int tlsStarts;
        bool ok;
    } rows[] = {
        {u"https://web.example/hvn/", 0, false, 1, true},
        {u"HTTPS://web.example/hvn/", 0, false, 1, true},
        {u"https://web.example/hvn/", 0, true, 1, false},
        {u"http://web.example/hvn/", -1, false, 0, false},
    };
    for (const Row& r : rows) {
        routeFakesReset();
        g_fakeRoutes.connectResult = r.connect;
        g_fakeRoutes.tlsFails = r.tlsFails;
        g_fakeNet.incoming.push_back("GIF89a");
        g_fakeNet.closed = true;
        ASSERT_TRUE(ic->SetServer(r.url));
        EXPECT_EQ(fetch(), r.ok) << diProfileToUtf8(r.url);
        EXPECT_EQ(g_fakeRoutes.tlsStarts, r.tlsStarts) << diProfileToUtf8(r.url);
        EXPECT_EQ(g_fakeNet.sent.empty(), !r.ok) << diProfileToUtf8(r.url);
        EXPECT_EQ(g_fakeNet.created, g_fakeNet.destroyed);
    }
}

// The current profile as one entry for the Login and Startup shortcuts:
// only with a web address; autostart only for "true".
TEST(ProfileEntries, OneEntryForAProfileWithAWebAddress) {
    routeFakesReset();
    struct Row {
        const char16_t* profile;
        size_t entries;
        const char16_t* language;
        bool autostart;
    } rows[] = {
        {u"<url>http://web.example/hvn/</url><preferredlang>fr</preferredlang>"
         u"<autostart>true</autostart>",
         1, u"fr", true},
        {u"<url>https://web.example/</url><autostart>TRUE</autostart>", 1, u"", false},
        {u"<url>not a url</url><autostart>true</autostart>", 0, u"", false},
        {u"<autostart>true</autostart>", 0, u"", false},
    };
    for (const Row& r : rows) {
        CMemProfileStore store;
        store.Load(nullptr);
        std::u16string profile =
            u"<profile name=\"Default\">" + std::u16string(r.profile) + u"</profile>";
        store.SaveLogin(u"web.example", u"ann", u"tok", nullptr, 0, nullptr, profile.c_str(),
                        nullptr);
        CIntegratedClient ic(nullptr);
        std::vector<DiProfileEntry> list;
        EXPECT_TRUE(ic.GetProfileEntries(&list));
        ASSERT_EQ(list.size(), r.entries) << diProfileToUtf8(r.profile);
        if (!r.entries) continue;
        EXPECT_TRUE(list[0].name == u"web.example");
        EXPECT_TRUE(list[0].language == r.language) << diProfileToUtf8(r.profile);
        EXPECT_EQ(list[0].autostart, r.autostart) << diProfileToUtf8(r.profile);
        EXPECT_TRUE(list[0].arguments == u"-profile \"web.example:ann:Default\"")
            << diProfileToUtf8(list[0].arguments.c_str());
    }
    CIntegratedClient none(nullptr);
    std::vector<DiProfileEntry> list;
    EXPECT_FALSE(none.GetProfileEntries(&list));
    EXPECT_TRUE(list.empty());
}

} // namespace
