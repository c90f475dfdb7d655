// The integrated client's icon download through real sockets against the
// web side of the fake server (tests/peers/halvanet_web.py): a stalled,
// reset or endless reply ends within its bounds and leaves no file; a
// self-signed server is asked about first (a refusal sends nothing), for
// "https" in any case.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/ddtls.h"
#include "net/dicertcache.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/diximage.h"
#include "support/peer_process.h"
#include "support/test_pki.h"
#include "support/web_peer.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

#include <string>
#include <vector>

namespace {

std::string g_pki;

struct IconsWine : ::testing::Test {
    std::wstring dir, cacheDir;
    std::u16string gif;
    static void SetUpTestSuite() {
        ASSERT_EQ(ddNetInit(), 0);
        g_pki = makeTestPki("hv-icons-pki");
        ASSERT_FALSE(g_pki.empty());
    }
    static void TearDownTestSuite() { runWait("/bin/rm -rf " + g_pki, L""); }
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = std::wstring(tmp) + L"hv-icons-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount());
        CreateDirectoryW(dir.c_str(), nullptr);
        cacheDir = dir + L"\\certs";
        CreateDirectoryW(cacheDir.c_str(), nullptr);
        ddConfigSetCertFolder(cacheDir.c_str());
        diCertCacheReset();
        std::wstring path = dir + L"\\cc2211.gif";
        gif.assign(path.begin(), path.end());
    }
    void TearDown() override {
        diCertCacheReset();
        ddConfigSetCertFolder(nullptr);
        removeTree(dir);
    }
    bool fetch(const std::string& url) {
        CIntegratedClient ic(nullptr);
        std::u16string u(url.begin(), url.end());
        return ic.SetServer(u.c_str()) && ic.FetchIcon(gif, u"cc2211.gif");
    }
    // The file's bytes, or "(none)".
    std::string file() const {
        FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(gif.c_str()), L"rb");
        if (!f) return "(none)";
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        fclose(f);
        return out;
    }
    // Nothing but the certificate folder is left in the scratch folder.
    int leftovers() const {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        int n = 0;
        if (h == INVALID_HANDLE_VALUE) return n;
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L".." && name != L"certs") n++;
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return n;
    }
};

std::string url(const char* scheme, int port) {
    return std::string(scheme) + "://localhost:" + std::to_string(port) + "/hvn/";
}

// The whole GIF arrives; the request is the bare version-less GET. A
// stall ends after the idle bound and an endless reply at 1 MiB, neither
// leaving a file or a temporary behind. Wine reports a reset as an orderly
// close, so the cut GIF may be written; it never makes an icon.
TEST_F(IconsWine, OnlyAWholeReplyBecomesTheFile) {
    struct Row {
        const char* script;
        int ok; /* -1: either */
        bool icon;
    } rows[] = {{"gif", 1, true}, {"reset", -1, false}, {"endless", 0, false}, {"stall", 0, false}};
    for (const Row& r : rows) {
        WebPeer web;
        ASSERT_TRUE(web.start(std::string("--script GET=") + r.script, false, g_pki));
        bool ok = fetch(url("http", web.port));
        if (r.ok >= 0) {
            EXPECT_EQ(ok, r.ok == 1) << r.script;
            EXPECT_EQ(leftovers(), r.ok) << r.script;
        }
        CxImage image(diProfileToUtf8(gif.c_str()), CXIMAGE_FORMAT_GIF);
        EXPECT_EQ(image.IsValid(), r.icon) << r.script;
        DeleteFileW(reinterpret_cast<const wchar_t*>(gif.c_str()));
        std::string t = web.text();
        EXPECT_NE(t.find("\"path\": \"/hvn/resources/images/icons/cc2211.gif\""), std::string::npos)
            << t;
        EXPECT_NE(t.find("\"errors\": []"), std::string::npos) << t;
    }
}

// A self-signed server: the user is asked before anything is sent, for
// "https" and "HTTPS" alike; refused, no request reaches the server and
// no file is made; accepted, the icon arrives.
TEST_F(IconsWine, SelfSignedServerAsksAndARefusalSendsNothing) {
    WebPeer web;
    ASSERT_TRUE(web.start("--script GET=gif", true, g_pki));
    for (const char* scheme : {"https", "HTTPS"}) {
        CertAnswer refuse(false);
        ScriptScope scope(&refuse.script);
        EXPECT_FALSE(fetch(url(scheme, web.port))) << scheme;
        EXPECT_EQ(refuse.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST}) << scheme;
    }
    EXPECT_EQ(web.text(), "");
    EXPECT_EQ(file(), "(none)");

    CertAnswer accept(true);
    ScriptScope scope(&accept.script);
    EXPECT_TRUE(fetch(url("HTTPS", web.port)));
    EXPECT_EQ(file().compare(0, 6, "GIF89a"), 0);
    EXPECT_NE(web.text().find("\"errors\": []"), std::string::npos);
}

} // namespace
