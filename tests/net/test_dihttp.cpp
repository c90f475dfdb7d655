// The server-information fetch over a scripted socket: request bytes, page
// retries, reply lines and their limits, the proxy forms, one callback.
#include "core/ditimer.h"
#include "fakes/route_fakes.h"
#include "net/dihttp.h"
#include "support/split_delivery.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

struct Outcome {
    int calls = 0;
    int status = 0;
    DiHTTPResults results{};
};
Outcome g_out;

void callback(DiHTTPClient* c, void*, DiHTTPResults* r) {
    g_out.calls++;
    g_out.status = c->status;
    g_out.results = *r;
}

class Fetch : public ::testing::Test {
  protected:
    DiHTTPClient* c = nullptr;
    void SetUp() override {
        routeFakesReset();
        g_out = Outcome();
        c = diHTTPClientAlloc();
        diHTTPClientInit(c);
    }
    void TearDown() override {
        diHTTPClientFree(c);
        if (proxy) diRouteFree(proxy);
        delete proxy;
    }
    // One readable event: the handler reads to the end of what the peer
    // sent, and the fake then reports the close.
    void pump() {
        DiEvent ev{};
        ev.w[0] = DI_EV_READABLE;
        diHTTPEvent(&c->obj, &ev);
    }
    void reply(std::initializer_list<std::string> chunks) {
        g_fakeNet.incoming.assign(chunks.begin(), chunks.end());
        g_fakeNet.closed = true;
    }
    void useHttpProxy() {
        proxy = new DiRoute;
        diRouteInit(proxy, DI_ROUTE_HTTP, u"hp", 3128, 0);
        g_fakeApp.opt.httpProxyRoute = proxy;
        g_fakeApp.httpProxyInUse = 1;
    }
    DiRoute* proxy = nullptr;
};

const char kHeaders[] = "HOST: web\r\nFrom: nobody\r\nConnection: close\r\n\r\n";

TEST_F(Fetch, RequestBytesAndThreePagesOn404) {
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, u"px", callback, nullptr), 0);
    EXPECT_EQ(g_fakeNet.sent, std::string("GET /px/cgi-bin/qvlwebtop.cgi/px/resources/login/mrk/qvl/"
                                          "boot/serverinfo.html HTTP/1.0\r\nUser-agent: "
                                          "Quorvellan/4.31.953 Win32\r\n") +
                                  kHeaders);
    EXPECT_EQ(g_fakeRoutes.connectFlags, 4u);
    for (int attempt = 0; attempt < 3; ++attempt) {
        g_fakeNet.incoming = {"HTTP/1.0 404 Not Found\r\n\r\n"};
        g_fakeNet.closed = true;
        pump();
    }
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, 404);
    EXPECT_EQ(g_fakeRoutes.connectCalls, 3);
    EXPECT_NE(g_fakeNet.sent.find("GET /px/cgi-bin/qvlwebtop/px/login/boot/serverinfo.html"),
              std::string::npos);
}

TEST_F(Fetch, ReplyLinesAndTheirLimits) {
    std::string longRoute = "CTSOCKS:" + std::string(300, 'h') + ":1080";
    reply({"HTTP/1.1 200 OK\r\nAsadPort=5000 NonSecurePort=5001\r\n",
           "Version=4.31.953\nFirewallTraversal=on\r\nUtf8Strings=yes\n",
           "ProxyServer=PROXY proxy.example 8080\n", "WebtopKeepAlive=99999999999\n",
           "x=" + std::string(5000, 'x') + " AIPKeepAlive=7\n", "BaseRoute=" + longRoute + "\n",
           "FullScreen=1"});
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    pump();
    ASSERT_EQ(g_out.calls, 1);
    const DiHTTPResults& r = g_out.results;
    EXPECT_EQ(g_out.status, 200);
    EXPECT_EQ(r.asadPort, 5000);
    EXPECT_EQ(r.nonSecurePort, 5001);
    EXPECT_EQ(r.versionMajor, 4);
    EXPECT_EQ(r.versionMinor, 3);
    EXPECT_EQ(r.versionSub, 1);
    EXPECT_EQ(r.versionBuild, 953);
    EXPECT_EQ(r.firewallTraversal, 1);
    EXPECT_EQ(r.utf8Strings, 1);
    EXPECT_EQ(r.proxyRequested, 1);
    EXPECT_EQ(r.webtopKeepAlive, 300); // does not fit: not given
    EXPECT_EQ(r.aipKeepAlive, 300);    // its line was too long to keep
    EXPECT_EQ(r.fullScreen, 1);        // last line without a line break
    ASSERT_NE(r.baseRoute, nullptr);
    EXPECT_EQ(std::u16string(r.baseRoute), std::u16string(longRoute.begin(), longRoute.end()));
}

TEST_F(Fetch, ReplyReadsAlikeHoweverSplit) {
    SplitReader values = [this](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        reply({});
        g_fakeNet.incoming.assign(pieces.begin(), pieces.end());
        EXPECT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
        pump();
        const DiHTTPResults& r = g_out.results;
        std::string out;
        for (int64_t v :
             {int64_t(g_out.calls), int64_t(g_out.status), int64_t(r.asadPort),
              int64_t(r.nonSecurePort), int64_t(r.versionBuild), int64_t(r.firewallTraversal),
              int64_t(r.utf8Strings), int64_t(r.proxyRequested), int64_t(r.aipKeepAlive),
              int64_t(r.fullScreen)})
            out += std::to_string(v) + " ";
        return out;
    };
    expectSameHoweverSplit({{"HTTP client",
                             "HTTP/1.1 200 OK\r\nAsadPort=5000 NonSecurePort=5001\r\n"
                             "Version=4.31.953\nFirewallTraversal=on\r\rUtf8Strings=yes\n\r"
                             "ProxyServer=PROXY p 8080\nAIPKeepAlive=7\r\nFullScreen=1",
                             values}});
}

TEST_F(Fetch, EndlessReplyStopsAtItsCap) {
    g_fakeNet.incoming = {"HTTP/1.0 200 OK\r\n"};
    for (int i = 0; i < 300; ++i) g_fakeNet.incoming.push_back(std::string(4096, 'z'));
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    pump();
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.results.asadPort, -1);
}

TEST_F(Fetch, ProxyFormsOnlyWhenTheProxyIsTheFirstHop) {
    useHttpProxy();
    proxy->credentialKind = 1;
    diRouteSetCredentials(proxy, u"alice", u"pw");
    reply({"HTTP/1.0 200 OK\r\n\r\n"});
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 0, 0, nullptr, callback, nullptr), 0);
    EXPECT_EQ(g_fakeNet.sent.substr(0, 145),
              "GET http://web:80/cgi-bin/qvlwebtop.cgi/resources/login/mrk/qvl/boot/"
              "serverinfo.html?px=PROXY+hp%3A3128 HTTP/1.0\r\nProxy-Authorization: Basic YWxp");
    pump();

    // Bypassed by an exception: a plain request, no header, and a 407 is
    // just a failed status, never a password prompt.
    std::u16string ex = u"web";
    g_fakeApp.proxyExceptions = const_cast<DiChar*>(ex.c_str());
    g_fakeNet = FakeNet();
    g_out = Outcome();
    reply({"HTTP/1.0 407 Auth\r\nProxy-Authenticate: Basic realm=\"x\"\r\n\r\n"});
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    EXPECT_EQ(g_fakeNet.sent.find("Proxy-Authorization"), std::string::npos);
    EXPECT_EQ(g_fakeNet.sent.substr(0, 8), "GET /cgi");
    pump();
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, 407);
    EXPECT_TRUE(g_fakeRoutes.dialogPrompts.empty());
}

TEST_F(Fetch, ChallengeOnThePlainGetRetriesThenAsks) {
    useHttpProxy();
    const char* challenge = "HTTP/1.0 407 Auth\r\nProxy-Authenticate: Basic realm=\"R\"\r\n\r\n";
    reply({challenge});
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    pump(); // empty credentials are tried first
    EXPECT_NE(g_fakeNet.sent.find("Proxy-Authorization: Basic Og=="), std::string::npos);
    g_fakeNet.incoming = {challenge};
    g_fakeNet.closed = true;
    pump(); // then the user is asked, and cancels
    EXPECT_EQ(g_fakeRoutes.dialogPrompts, std::vector<std::u16string>{u"HTTP proxy \"R\" at hp:3128"});
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, -1);
}

// The credentials dialog runs a modal loop in which timers fire and the
// owner may free the client. The attempt's time-out never ends the fetch
// under the dialog, and a client freed meanwhile is never touched again.
TEST_F(Fetch, CredentialsDialogOutlivesTimersAndTheClient) {
    useHttpProxy();
    diDEClock = [] { return uint32_t(1000); };
    struct Case {
        bool freeClient, ok;
        int calls, status;
    } cases[] = {{false, true, 1, 200}, {false, false, 1, -1}, {true, true, 0, 0}};
    for (const Case& k : cases) {
        diHTTPClientFree(c);
        c = diHTTPClientAlloc();
        diHTTPClientInit(c);
        g_out = Outcome();
        proxy->credentialKind = 1;
        diRouteSetCredentials(proxy, u"old", u"pw");
        g_fakeRoutes.dialogs = {{k.ok, u"alice", u"pw", false}};
        g_fakeRoutes.whileAsking = [&] {
            diTimerDispatch(1000 + 2 * DI_HTTP_TIMEOUT_MS);
            if (k.freeClient) {
                diHTTPClientFree(c);
                c = nullptr;
            }
        };
        reply({"HTTP/1.0 407 Auth\r\nProxy-Authenticate: Basic realm=\"R\"\r\n\r\n"});
        ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
        pump();
        if (c && c->active) {
            reply({"HTTP/1.0 200 OK\r\n\r\n"});
            pump();
        }
        EXPECT_EQ(g_out.calls, k.calls) << k.freeClient << k.ok;
        EXPECT_EQ(g_out.status, k.status) << k.freeClient << k.ok;
    }
}

TEST_F(Fetch, OneCallbackWhateverEndsIt) {
    // A connect failure through the chain: status -7, one callback.
    g_fakeRoutes.connectResult = -7;
    EXPECT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), -7);
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, -7);
    // The timer ends a silent fetch; a late close changes nothing.
    g_fakeRoutes.connectResult = 0;
    g_out = Outcome();
    uint32_t now = 1000;
    diDEClock = [] { return uint32_t(1000); };
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    diTimerDispatch(now + DI_HTTP_TIMEOUT_MS - 1);
    EXPECT_EQ(g_out.calls, 0);
    diTimerDispatch(now + DI_HTTP_TIMEOUT_MS);
    EXPECT_EQ(g_out.calls, 1);
    DiEvent ev{};
    ev.w[0] = DI_EV_CLOSED;
    diHTTPEvent(&c->obj, &ev);
    EXPECT_EQ(g_out.calls, 1);
    // A host that would inject header lines is not sent.
    EXPECT_EQ(diHTTPFetchServerInfo(c, u"web\r\nX: 1", 80, 0, nullptr, callback, nullptr), -1);
}

// A close notice that belongs to the handle's previous socket (the read
// still would block) does not end the reply; a reply without any line is a
// failure, not status 0.
TEST_F(Fetch, LateCloseNoticeAndEmptyReply) {
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 80, 0, nullptr, callback, nullptr), 0);
    DiEvent ev{};
    ev.w[0] = DI_EV_CLOSED;
    diHTTPEvent(&c->obj, &ev);
    EXPECT_EQ(g_out.calls, 0);
    g_fakeNet.closed = true;
    diHTTPEvent(&c->obj, &ev);
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, -1);
}

// https through the proxy: the proxy is asked to CONNECT (by the chain), the
// GET to the web server names the proxy in its query and carries no proxy
// credentials; a retry whose TLS fails still ends in the one callback.
TEST_F(Fetch, EncryptedFetchThroughTheProxy) {
    useHttpProxy();
    proxy->credentialKind = 1;
    diRouteSetCredentials(proxy, u"alice", u"pw");
    g_fakeRoutes.tlsFails = false;
    ASSERT_EQ(diHTTPFetchServerInfo(c, u"web", 443, 1, nullptr, callback, nullptr), 0);
    EXPECT_EQ(g_fakeRoutes.connectFlags, 7u);
    EXPECT_EQ(g_fakeNet.sent.substr(0, 102),
              "GET /cgi-bin/qvlwebtop.cgi/resources/login/mrk/qvl/boot/serverinfo.html?px=PROXY+hp%3A3128 HTTP/1.0\r\nU");
    EXPECT_EQ(g_fakeNet.sent.find("Proxy-Authorization"), std::string::npos);
    reply({"HTTP/1.0 404 Not Found\r\n\r\n"});
    g_fakeRoutes.tlsFails = true;
    pump();
    EXPECT_EQ(g_out.calls, 1);
    EXPECT_EQ(g_out.status, -1);
    EXPECT_EQ(c->attempt, 1);
}

TEST_F(Fetch, UrlHelpers) {
    struct {
        const char16_t* url;
        int result, scheme, port;
        std::u16string host;
    } cases[] = {
        {u"HTTPS://h.example/x", 0, 1, 443, u"h.example"},
        {u"http://h:8080/", 0, 0, 8080, u"h"},
        {u"http://h:8080", 0, 0, 8080, u"h"},
        {u"http://h", 0, 0, 80, u"h"},
        {u"http://h:70000/", -1, 0, 0, u""},
        {u"http://h:80x/", -1, 0, 0, u""},
        {u"http://h:/", -1, 0, 0, u""},
        {u"ftp://h/", -1, 0, 0, u""},
        {u"http:/h", -1, 0, 0, u""},
        {u"http:///x", -1, 0, 0, u""},
    };
    for (auto& k : cases) {
        int scheme = -5, port = -5;
        DiChar* host = nullptr;
        EXPECT_EQ(diHTTPParseURL(k.url, &scheme, &host, &port), k.result);
        if (k.result == 0) {
            EXPECT_EQ(scheme, k.scheme);
            EXPECT_EQ(port, k.port);
            EXPECT_EQ(std::u16string(host), k.host);
        }
        free(host);
    }
    DiChar *s, *h, *p;
    ASSERT_EQ(diHTTPSplitURL(u"https://host/a/b", &s, &h, &p), 1);
    EXPECT_EQ(std::u16string(s) + u"|" + h + u"|" + p, u"https|host|a/b");
    free(s);
    free(h);
    free(p);
    EXPECT_EQ(diHTTPSplitURL(u"nohost:///x", &s, &h, &p), 0);
}

} // namespace
