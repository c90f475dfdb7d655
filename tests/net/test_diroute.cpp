// Route strings, descriptions, chain building and running with the
// HTTP-proxy, SOCKS 5 and tunnel hops, over a scripted socket.
#include "fakes/route_fakes.h"
#include "net/dicrypt.h"
#include "net/disocks.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

std::u16string describe(const DiRoute* r) {
    DiChar d[300];
    diRouteDescribe(r, d, 300);
    return d;
}

struct Owned {
    DiRoute r;
    Owned(uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls = 0) {
        diRouteInit(&r, kind, host, port, tls);
    }
    ~Owned() { diRouteFree(&r); }
};

class Routes : public ::testing::Test {
  protected:
    DdSocket* sock = nullptr;
    void SetUp() override {
        routeFakesReset();
        sock = ddNetSocketCreate();
        ddNetSocketOpen(sock, 1, 1);
    }
    void TearDown() override {
        ddNetSocketDestroy(sock);
        diAppFreeRoutesForTest();
    }
    void useHttpProxy(const DiChar* host, uint32_t port) {
        http = new Owned(DI_ROUTE_HTTP, host, port);
        g_fakeApp.opt.httpProxyRoute = &http->r;
        g_fakeApp.httpProxyInUse = 1;
    }
    void useSocks(const DiChar* host, uint32_t port) {
        socks = new Owned(DI_ROUTE_SOCKS, host, port);
        g_fakeApp.opt.socksRoute = &socks->r;
        g_fakeApp.socksInUse = 1;
    }
    void diAppFreeRoutesForTest() {
        delete http;
        delete socks;
        http = socks = nullptr;
    }
    // Builds and runs a chain to the target the way diNetConnect does.
    int connect(DiRoute* target, uint32_t flags) {
        DiRouteChain chain;
        diRouteChainInit(&chain, sock, flags);
        int r = diRouteChainBuild(&chain, target) ? diRouteChainRun(&chain) : -7;
        diRouteChainFree(&chain, 0);
        return r;
    }
    Owned* http = nullptr;
    Owned* socks = nullptr;
};

TEST_F(Routes, RouteStringsAndTheirLimits) {
    DiRouteChain chain;
    diRouteChainInit(&chain, nullptr, 0);
    ASSERT_EQ(diRouteChainParse(&chain, u"CTSOCKS:s.example:1080@CTQVLP:t.example:443:ssl"), 1);
    ASSERT_EQ(diRouteChainCount(&chain), 2);
    EXPECT_EQ(chain.first->route->kind, DI_ROUTE_SOCKS);
    EXPECT_EQ(chain.first->route->tls, 0u);
    EXPECT_EQ(chain.last->route->kind, DI_ROUTE_TUNNEL);
    EXPECT_EQ(chain.last->route->tls, 1u);
    EXPECT_EQ(chain.last->route->port, 443u);
    diRouteChainFree(&chain, 1);

    // Parsing stops at the first bad route string.
    diRouteChainInit(&chain, nullptr, 0);
    EXPECT_EQ(diRouteChainParse(&chain, u"CTSOCKS:a:1@CTHTTP:b:2@CTSOCKS:c:3"), 0);
    EXPECT_EQ(diRouteChainCount(&chain), 1);
    diRouteChainFree(&chain, 1);

    for (const char16_t* bad : {u"CTSOCKS:h:70000", u"CTSOCKS:h:1080x", u"CTSOCKS:h:0",
                                u"CTSOCKS:h:", u"CTSOCKS::1080", u"CTSOCKS:h:1080:tls",
                                u"CTSOCKS:h:1080:ssl:x", u"CTSOCKS:h", u"ctsocks:h:1"}) {
        DiRoute* r = diRouteParseOne(bad, std::u16string(bad).size());
        EXPECT_EQ(r, nullptr) << std::string(bad, bad + std::u16string(bad).size());
        if (r) {
            diRouteFree(r);
            free(r);
        }
    }
}

TEST_F(Routes, DescriptionsAndTheCacheKey) {
    Owned p(DI_ROUTE_HTTP, u"proxy", 3128);
    EXPECT_EQ(describe(&p.r), u"HTTP proxy proxy:3128");
    std::u16string realm = u"\"Corp\"";
    memcpy(p.r.label, realm.c_str(), (realm.size() + 1) * 2);
    EXPECT_EQ(describe(&p.r), u"HTTP proxy \"Corp\" at proxy:3128");
    DiChar key[300];
    diRouteDescribeKey(&p.r, key, 300);
    EXPECT_EQ(std::u16string(key), u"HTTP proxy proxy:3128");
    Owned s(DI_ROUTE_SERVER, std::u16string(400, u'h').c_str(), 1);
    EXPECT_EQ(describe(&s.r).size(), size_t(DI_ROUTE_DESCRIPTION));
}

TEST_F(Routes, BuildingPicksOneProxyAndHonoursExceptions) {
    useHttpProxy(u"hp", 3128);
    useSocks(u"sp", 1080);
    Owned base(DI_ROUTE_TUNNEL, u"tun", 9000);
    DiRouteChain baseChain;
    diRouteChainInit(&baseChain, nullptr, 0);
    diRouteChainAdd(&baseChain, &base.r);
    g_fakeRoutes.baseRoutes = &baseChain;
    Owned target(DI_ROUTE_SERVER, u"srv.example", 443);

    auto hops = [&](uint32_t flags) {
        DiRouteChain c;
        diRouteChainInit(&c, sock, flags);
        std::string out;
        if (diRouteChainBuild(&c, &target.r))
            for (DiRouteNode* n = c.first; n; n = n->next)
                out += char('0' + n->route->kind);
        diRouteChainFree(&c, 0);
        return out;
    };
    EXPECT_EQ(hops(0), "31");  // SOCKS preferred
    EXPECT_EQ(hops(1), "341"); // base routes only with flag 1
    g_fakeRoutes.firewallTraversal = true;
    EXPECT_EQ(hops(1), "241"); // traversal prefers the HTTP proxy
    std::u16string ex = u"*.example";
    g_fakeApp.proxyExceptions = const_cast<DiChar*>(ex.c_str());
    EXPECT_EQ(hops(1), "41"); // the exception drops only the configured proxy
    EXPECT_EQ(diRouteNeedsProxy(&target.r, 0), 0);
    EXPECT_EQ(diRouteNeedsProxy(&target.r, 1), 1);
    g_fakeApp.proxyExceptions = nullptr;
    diRouteChainFree(&baseChain, 0);

    // Nothing goes after a target: the build fails with message 274.
    DiRouteChain c;
    diRouteChainInit(&c, sock, 0);
    Owned other(DI_ROUTE_SERVER, u"x", 1);
    ASSERT_EQ(diRouteChainAdd(&c, &other.r), 1);
    EXPECT_EQ(diRouteChainAdd(&c, &target.r), 0);
    diRouteChainFree(&c, 0);
}

TEST_F(Routes, MultipleTlsHopsCountTheTarget) {
    Owned tun(DI_ROUTE_TUNNEL, u"tun", 443, 1);
    DiRouteChain base;
    diRouteChainInit(&base, nullptr, 0);
    diRouteChainAdd(&base, &tun.r);
    g_fakeRoutes.baseRoutes = &base;
    Owned target(DI_ROUTE_SERVER, u"srv", 443, 1);
    EXPECT_EQ(connect(&target.r, 1 | 2), -7);
    ASSERT_EQ(g_fakeRoutes.errors.size(), 1u);
    EXPECT_EQ(g_fakeRoutes.errors[0], u"This client cannot connect to multiple secure servers");
    EXPECT_TRUE(g_fakeRoutes.connects.empty());

    // With flag 8 the hop's TLS stands in for the target's.
    DiRouteChain c;
    diRouteChainInit(&c, sock, 1 | 2 | 8);
    ASSERT_EQ(diRouteChainBuild(&c, &target.r), 1);
    diRouteChainDropTargetTls(&c);
    EXPECT_EQ(c.droppedTls, 1u);
    EXPECT_EQ(target.r.tls, 0u);
    // The hop's own TLS fails here: message 273 for the tunnel.
    EXPECT_EQ(diRouteChainRun(&c), -7);
    EXPECT_EQ(g_fakeRoutes.errors.back(), u"Failed to establish an SSL connection with the QVLP proxy tun:443");
    diRouteChainFree(&c, 0);
    diRouteChainFree(&base, 0);
}

TEST_F(Routes, ConnectAsksForEmptyCredentialsFirstThenTheUser) {
    useHttpProxy(u"hp", 3128);
    Owned target(DI_ROUTE_SERVER, u"srv", 5000);
    const char* challenge =
        "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Negotiate\r\n"
        "Proxy-Authenticate: Basic realm=\"Corp\"\r\n\r\n";
    g_fakeNet.incoming = {challenge, challenge, "HTTP/1.0 200 OK\r\n\r\nTARGET"};
    g_fakeRoutes.dialogs = {{true, u"alice", u"s3cret", false}};
    ASSERT_EQ(connect(&target.r, 0), 0);
    EXPECT_EQ(g_fakeRoutes.connects.size(), 3u);
    EXPECT_EQ(g_fakeRoutes.dialogPrompts, std::vector<std::u16string>{u"HTTP proxy \"Corp\" at hp:3128"});
    std::string expect = "CONNECT srv:5000 HTTP/1.0\r\n\r\n"
                         "CONNECT srv:5000 HTTP/1.0\r\nProxy-Authorization: Basic Og==\r\n\r\n"
                         "CONNECT srv:5000 HTTP/1.0\r\nProxy-Authorization: Basic "
                         "YWxpY2U6czNjcmV0\r\n\r\n";
    EXPECT_EQ(g_fakeNet.sent, expect);
    // The reply is read up to its blank line: the target's bytes stay.
    char rest[16] = {};
    EXPECT_EQ(ddNetRecv(sock, rest, sizeof rest), 6);
    EXPECT_STREQ(rest, "TARGET");
    EXPECT_TRUE(g_fakeRoutes.errors.empty());
}

TEST_F(Routes, ProxyRepliesGiveTheirMessages) {
    useHttpProxy(u"hp", 3128);
    Owned target(DI_ROUTE_SERVER, u"srv", 5000);
    struct Case {
        std::vector<std::string> reply;
        int result;
        std::u16string message;
    } cases[] = {
        {{"HTTP/1.0 407 No\r\nProxy-Authenticate: NTLM\r\n\r\n"}, -7,
         u"The HTTP proxy hp:3128 requires an authentication method not supported"},
        {{"HTTP/1.0 403 Forbidden\r\n\r\n"}, -7,
         u"The HTTP proxy hp:3128 failed to connect to the server srv:5000: HTTP/1.0 403 Forbidden"},
        {{}, -7, u"A network error while connected to the HTTP proxy hp:3128"},
        // Split replies are read whole, with the challenge in a later piece.
        {{"HTTP/1.0 200 Connection", " established\r\nVia: x\r\n", "\r\n"}, 0, u""},
    };
    for (auto& c : cases) {
        g_fakeNet = FakeNet();
        g_fakeRoutes.errors.clear();
        g_fakeNet.incoming.assign(c.reply.begin(), c.reply.end());
        EXPECT_EQ(connect(&target.r, 0), c.result);
        if (c.message.empty())
            EXPECT_TRUE(g_fakeRoutes.errors.empty());
        else
            EXPECT_EQ(g_fakeRoutes.errors, std::vector<std::u16string>{c.message});
    }
    // The silent proxy fails with "no reply" (error 11), not a hang.
    EXPECT_EQ(sock->error, 11);
}

TEST_F(Routes, CancelledCredentialsAndHostileHosts) {
    useHttpProxy(u"hp", 3128);
    Owned target(DI_ROUTE_SERVER, u"srv", 5000);
    const char* challenge = "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic realm=\"R\"\r\n\r\n";
    g_fakeNet.incoming = {challenge, challenge};
    EXPECT_EQ(connect(&target.r, 0), -8);

    g_fakeNet = FakeNet();
    Owned evil(DI_ROUTE_SERVER, u"srv\r\nX-Injected: 1", 5000);
    EXPECT_EQ(connect(&evil.r, 0), -7);
    EXPECT_EQ(g_fakeNet.sent, "");
}

// The socket's owner destroys it while the credentials dialog is open: the
// run stops as cancelled and never touches the socket again.
TEST_F(Routes, SocketDestroyedUnderTheDialogEndsTheRun) {
    useHttpProxy(u"hp", 3128);
    Owned target(DI_ROUTE_SERVER, u"srv", 5000);
    const char* challenge = "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic realm=\"R\"\r\n\r\n";
    g_fakeNet.incoming = {challenge, challenge};
    g_fakeRoutes.dialogs = {{true, u"alice", u"pw", false}};
    g_fakeRoutes.whileAsking = [&] {
        ddNetSocketDestroy(sock);
        sock = nullptr;
    };
    EXPECT_EQ(connect(&target.r, 0), -8);
    EXPECT_EQ(g_fakeRoutes.dialogPrompts.size(), 1u);
    EXPECT_EQ(g_fakeRoutes.connects.size(), 2u);
}

TEST_F(Routes, PlainFetchTalksToTheProxyButEncryptedOnesConnect) {
    useHttpProxy(u"hp", 3128);
    Owned web(DI_ROUTE_WEB_SERVER, u"web", 80);
    EXPECT_EQ(connect(&web.r, 4), 0);
    EXPECT_EQ(g_fakeNet.sent, "");
    // The outpost's own connection (flags 2|8, no base routes) announces itself.
    Owned server(DI_ROUTE_SERVER, u"srv", 443, 1);
    g_fakeNet.incoming = {"HTTP/1.0 200 OK\r\n\r\n"};
    EXPECT_EQ(connect(&server.r, 2 | 8), 0);
    EXPECT_EQ(g_fakeNet.sent, "CONNECT srv:443 HTTP/1.0\r\n\r\n");
}

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += char(c);
    return s;
}

TEST_F(Routes, SocksBytesAndReplies) {
    useSocks(u"sp", 1080);
    Owned target(DI_ROUTE_SERVER, u"srv", 0x1234);
    // Method 2 with cached credentials, then a type-3 bound address of length 0.
    socks->r.credentialKind = 1;
    diRouteSetCredentials(&socks->r, u"u\u0141", u"pw");
    g_fakeNet.incoming = {bytes({5, 2}), bytes({1, 0}), bytes({5, 0, 0, 3}), bytes({0}),
                          bytes({0x12, 0x34})};
    ASSERT_EQ(connect(&target.r, 0), 0);
    EXPECT_EQ(g_fakeNet.sent, bytes({5, 2, 0, 2, 1, 2, 'u', 0x41, 2, 'p', 'w', 5, 1, 0, 3, 3, 's',
                                     'r', 'v', 0x12, 0x34}));

    // Method 0 leaves the route without credential use, cached or not.
    g_fakeNet = FakeNet();
    g_fakeNet.incoming = {bytes({5, 0}), bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 80})};
    ASSERT_EQ(connect(&target.r, 0), 0);
    EXPECT_EQ(socks->r.credentialKind, 0u);

    struct Case {
        std::string reply;
        int result;
        std::u16string message;
    } cases[] = {
        {bytes({5, 0xFF}), -7,
         u"The SOCKS proxy sp:1080 requires an authentication method not supported"},
        {bytes({5, 0, 5, 4, 0, 1, 0, 0, 0, 0, 0, 0}), -7,
         u"The SOCKS proxy sp:1080 failed to connect to the server srv:4660"},
        {bytes({5, 0, 5, 2, 0, 1, 0, 0, 0, 0, 0, 0}), -7,
         u"The SOCKS proxy sp:1080 refused to connect to the server srv:4660"},
        {bytes({5, 0, 5, 0, 0}), -7, u"A network error while connected to the SOCKS proxy sp:1080"},
    };
    for (auto& c : cases) {
        g_fakeNet = FakeNet();
        g_fakeRoutes.errors.clear();
        g_fakeNet.incoming = {c.reply};
        EXPECT_EQ(connect(&target.r, 0), c.result);
        EXPECT_EQ(g_fakeRoutes.errors, std::vector<std::u16string>{c.message});
    }
}

TEST_F(Routes, SocksAuthenticationFailureAsksAgain) {
    useSocks(u"sp", 1080);
    Owned target(DI_ROUTE_SERVER, u"srv", 80);
    socks->r.credentialKind = 1;
    diRouteSetCredentials(&socks->r, u"u", u"wrong");
    g_fakeNet.incoming = {bytes({5, 2}), bytes({1, 1}), bytes({5, 2}), bytes({1, 0}),
                          bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0})};
    g_fakeRoutes.yesNo = {true};
    g_fakeRoutes.dialogs = {{true, u"u", u"right", false}};
    ASSERT_EQ(connect(&target.r, 0), 0);
    ASSERT_EQ(g_fakeRoutes.questions.size(), 1u);
    EXPECT_EQ(g_fakeRoutes.questions[0],
              u"The SOCKS proxy sp:1080 refused to connect to the server srv:80 (SOCKS proxy sp:1080)");
    EXPECT_EQ(std::u16string(socks->r.credentials->password), u"right");

    // Declining ends as a cancel.
    g_fakeNet = FakeNet();
    g_fakeNet.incoming = {bytes({5, 2}), bytes({1, 1})};
    g_fakeRoutes.yesNo = {false};
    EXPECT_EQ(connect(&target.r, 0), -8);
}

TEST_F(Routes, SocksRefusesFieldsOverOneByteAndAsksWithoutCredentials) {
    uint8_t out[600];
    std::u16string longUser(256, u'u');
    EXPECT_EQ(diSOCKSBuildAuth(longUser.c_str(), u"p", out), -2);
    EXPECT_EQ(diSOCKSBuildAuth(longUser.substr(1).c_str(), u"p", out), 1 + 1 + 255 + 1 + 1);
    EXPECT_EQ(diSOCKSBuildConnect(std::u16string(256, u'h').c_str(), 1, out), -2);
    EXPECT_EQ(diSOCKSBuildConnect(u"a b", 1, out), -2);

    useSocks(u"sp", 1080);
    Owned target(DI_ROUTE_SERVER, u"srv", 80);
    g_fakeNet.incoming = {bytes({5, 2}), bytes({5, 2}), bytes({1, 0}),
                          bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0})};
    g_fakeRoutes.dialogs = {{true, u"u", u"p", false}};
    ASSERT_EQ(connect(&target.r, 0), 0);
    EXPECT_EQ(g_fakeRoutes.dialogPrompts.size(), 1u);
}

TEST_F(Routes, TunnelRequestIsOneBlock) {
    Owned tun(DI_ROUTE_TUNNEL, u"tun", 9000);
    DiRouteChain base;
    diRouteChainInit(&base, nullptr, 0);
    diRouteChainAdd(&base, &tun.r);
    g_fakeRoutes.baseRoutes = &base;
    Owned target(DI_ROUTE_SERVER, u"srv.example", 5003);
    ASSERT_EQ(connect(&target.r, 1), 0);
    ASSERT_EQ(g_fakeNet.sent.size(), 512u);
    std::string head = "QVLP:srv.example:5003:";
    EXPECT_EQ(g_fakeNet.sent.substr(0, head.size()), head);
    EXPECT_EQ(g_fakeNet.sent.find_first_not_of('\0', head.size()), std::string::npos);
    EXPECT_EQ(g_fakeRoutes.connects, std::vector<std::string>{"tun:9000"});
    diRouteChainFree(&base, 0);
}

TEST_F(Routes, CachedCredentialsKeyedWithoutTheRealm) {
    Owned p(DI_ROUTE_HTTP, u"hp", 3128);
    std::u16string realm = u"\"Corp\"";
    memcpy(p.r.label, realm.c_str(), (realm.size() + 1) * 2);
    p.r.credentialKind = 1;
    diRouteSetCredentials(&p.r, u"alice", u"pw");
    p.r.cached = 1;
    diRouteSaveCachedCredentials(&p.r);
    // A fresh route, as another process makes it, finds them.
    Owned q(DI_ROUTE_HTTP, u"hp", 3128);
    diRouteLoadCachedCredentials(&q.r);
    ASSERT_NE(q.r.credentials, nullptr);
    EXPECT_EQ(std::u16string(q.r.credentials->user), u"alice");
    EXPECT_STREQ(q.r.credentials->base64, "YWxpY2U6cHc=");
    EXPECT_EQ(q.r.cached, 1u);
    // A password the cache refuses: the one cached before is forgotten, and
    // the user hears why this one is not remembered.
    g_fakeRoutes.dialogs = {{true, u"alice", u"seventeen-bytes!!", true}};
    ASSERT_EQ(diRouteAskCredentials(&q.r, nullptr), 1);
    EXPECT_EQ(g_fakeRoutes.notRemembered, std::vector<int>{DI_CRYPT_TOO_LONG});
    Owned fresh(DI_ROUTE_HTTP, u"hp", 3128);
    diRouteLoadCachedCredentials(&fresh.r);
    EXPECT_EQ(fresh.r.credentials, nullptr);
}

} // namespace

namespace {

// A proxy that answers refused credentials with 401 and a Basic
// "WWW-Authenticate:" challenge asks for credentials like a 407.
TEST(ConnectReply, StatusesAndChallenges) {
    DiRoute hop;
    diRouteInit(&hop, DI_ROUTE_HTTP, u"hp", 1, 0);
    int32_t err = 0;
    auto parse = [&](const std::string& r) { return diRouteParseConnectReply(&hop, r.data(), r.size(), &err); };
    EXPECT_EQ(parse("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"T\"\r\n\r\n"), -7);
    EXPECT_EQ(std::u16string(hop.label), u"\"T\"");
    EXPECT_EQ(parse("HTTP/1.0 401 Unauthorized\r\nProxy-Authenticate: Basic realm=\"T\"\r\n\r\n"), -5);
    EXPECT_EQ(parse("HTTP/1.1 407 x\r\nproxy-authenticate:   basic   realm=\"a b\"\r\n\r\n"), -7);
    EXPECT_EQ(std::u16string(hop.label), u"\"a b\"");
    EXPECT_EQ(parse("HTTP/1.1 407 x\r\nProxy-Authenticate: Basicrealm=\"x\"\r\n\r\n"), -8);
    EXPECT_EQ(err, 15);
    EXPECT_EQ(parse("HTTP/1.0 299 odd\r\n\r\n"), 0);
    EXPECT_EQ(parse("FTP 200 no\r\n\r\n"), -5);
    EXPECT_EQ(std::u16string(hop.proxyReply), u"FTP 200 no");
    diRouteFree(&hop);
}

} // namespace
