// Web-service calls through real sockets against the web side of the fake
// server (tests/peers/halvanet_web.py): a stalled server ends the call, a
// self-signed server is asked about (a refusal sends nothing), and through
// tinyproxy's CONNECT tunnel the proxy password never reaches the web
// server.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/dicertcache.h"
#include "net/ddtls.h"
#include "net/wsclient.h"
#include "support/peer_process.h"
#include "support/test_pki.h"
#include "support/web_peer.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

#include <memory>
#include <string>
#include <vector>

namespace {

std::string g_pki;

struct WsWine : ::testing::Test {
    std::wstring cacheDir;
    static void SetUpTestSuite() {
        ASSERT_EQ(ddNetInit(), 0);
        g_pki = makeTestPki("hv-ws-pki");
        ASSERT_FALSE(g_pki.empty());
    }
    static void TearDownTestSuite() { runWait("/bin/rm -rf " + g_pki, L""); }
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        cacheDir = std::wstring(tmp) + L"hv-ws-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(GetTickCount());
        CreateDirectoryW(cacheDir.c_str(), nullptr);
        ddConfigSetCertFolder(cacheDir.c_str());
        diCertCacheReset();
    }
    void TearDown() override {
        diCertCacheReset();
        ddConfigSetCertFolder(nullptr);
        removeTree(cacheDir);
    }
};

int getWebtop(SessionServiceProxy& proxy, std::string* result = nullptr) {
    char* out = nullptr;
    int code = proxy.getWebtop("cookie", false, true, &out);
    if (result) *result = out ? out : "(null)";
    return code;
}

std::string portText(int port) {
    return std::to_string(port);
}

// A server that never accepts the connection, one that reads the request
// and never answers, one that answers with a truncated reply: each call
// ends (they used to wait for ever), with 21 or -1.
TEST_F(WsWine, StalledAndShortRepliesEnd) {
    for (const char* answer : {"stall", "short"}) {
        WebPeer web;
        ASSERT_TRUE(web.start(std::string("--script getWebtop=") + answer, false, g_pki));
        SessionServiceProxy proxy("http", "127.0.0.1", portText(web.port).c_str(), "axis/HVNWS.jws",
                                  nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(getWebtop(proxy), -1) << answer;
        EXPECT_EQ(web.lines().size(), 1u) << answer;
    }
    WebPeer silent;
    ASSERT_TRUE(silent.start("--no-accept", false, g_pki));
    SessionServiceProxy proxy("http", "127.0.0.1", portText(silent.port).c_str(), "axis/HVNWS.jws",
                              nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(getWebtop(proxy), 21);
}

// A self-signed server: the user is asked; refused, the request is never
// sent; accepted, the call goes through and the request reads cleanly.
TEST_F(WsWine, SelfSignedServerAsksAndARefusalSendsNothing) {
    WebPeer web;
    ASSERT_TRUE(web.start("--script getWebtop=doc:webtop", true, g_pki));
    for (const char* scheme : {"https", "HTTPS"}) {
        CertAnswer refuse(false);
        ScriptScope scope(&refuse.script);
        SessionServiceProxy proxy(scheme, "localhost", portText(web.port).c_str(), "axis/HVNWS.jws",
                                  nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(getWebtop(proxy), 23) << scheme;
        EXPECT_EQ(refuse.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST}) << scheme;
    }
    EXPECT_TRUE(web.lines().empty());

    CertAnswer accept(true);
    ScriptScope scope(&accept.script);
    SessionServiceProxy proxy("https", "localhost", portText(web.port).c_str(), "axis/HVNWS.jws",
                              nullptr, 0, nullptr, nullptr);
    std::string result;
    EXPECT_EQ(getWebtop(proxy, &result), 0);
    EXPECT_EQ(result, "webtop");
    std::vector<std::string> posts = web.lines();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_NE(posts[0].find("\"errors\": []"), std::string::npos) << posts[0];
}

// Through tinyproxy to an https server: the credentials open the tunnel,
// and the request inside names the path only, without Proxy-Authorization.
// Wrong credentials end in the proxy's status (tinyproxy refuses a CONNECT
// with 401) with nothing sent to the server.
TEST_F(WsWine, ThroughTinyproxyNoProxyPasswordReachesTheServer) {
    WebPeer web;
    ASSERT_TRUE(web.start("--script getWebtop=doc:tunnelled", true, g_pki));
    Peer tinyproxy;
    ASSERT_TRUE(tinyproxy.start("proxy_launcher.py", "tinyproxy --user alice --password s3cret"));
    CertAnswer accept(true);
    ScriptScope scope(&accept.script);
    {
        SessionServiceProxy proxy("https", "localhost", portText(web.port).c_str(),
                                  "axis/HVNWS.jws", "127.0.0.1", tinyproxy.port, "alice", "wrong");
        EXPECT_EQ(getWebtop(proxy), 401);
    }
    EXPECT_TRUE(web.lines().empty());
    SessionServiceProxy proxy("https", "localhost", portText(web.port).c_str(), "axis/HVNWS.jws",
                              "127.0.0.1", tinyproxy.port, "alice", "s3cret");
    std::string result;
    EXPECT_EQ(getWebtop(proxy, &result), 0);
    EXPECT_EQ(result, "tunnelled");
    std::vector<std::string> posts = web.lines();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].find("Proxy-Authorization"), std::string::npos) << posts[0];
    EXPECT_NE(posts[0].find("\"line\": \"POST /axis/HVNWS.jws HTTP/1.1\""), std::string::npos)
        << posts[0];
    EXPECT_NE(posts[0].find("\"errors\": []"), std::string::npos) << posts[0];
}

} // namespace
