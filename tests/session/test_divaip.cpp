// The V-AIP channel and the outpost over it, on the faked socket layer: the
// framing rule, the packet reader, the server requests and faults, the
// reconnect policy on a manual clock, and the texts the outpost builds for
// the browser.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/route_fakes.h"
#include "net/dihttp.h"
#include "support/mem_profile_store.h"
#include "support/split_delivery.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "xml/qvlxmlglobals.h"

#include <functional>
#include <string>
#include <vector>

// The listener is opened by the Windows side; these tests never open one.
int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

uint32_t g_now = 5000;
uint32_t fakeClock() {
    return g_now;
}

// Message N reads as its number, so boxes and logs can be told apart.
bool numberLoader(uint32_t message, DiChar* out, size_t size) {
    std::string n = std::to_string(message);
    if (n.size() + 1 > size) return false;
    for (size_t i = 0; i <= n.size(); i++)
        out[i] = DiChar(i < n.size() ? n[i] : 0);
    return true;
}

std::string narrow(const DiChar* s) {
    std::string r;
    for (; s && *s; s++)
        r += char(*s);
    return r;
}

struct RecordingOutpost : CServerOutpost {
    std::vector<std::string> events;
    std::vector<bool> answers;
    std::function<void()> duringBox;
    explicit RecordingOutpost(const DiSOOptions& o) : CServerOutpost(o) {}
    int32_t OpenListener() override { return 4321; }
    void PostStartRequest() override { events.push_back("start-request"); }
    void ArmReconnectTimer() override { events.push_back("arm"); }
    void ArmKeepAliveTimer(int32_t s) override {
        events.push_back("keepalive " + std::to_string(s));
    }
    void EndSession() override {
        ending = 1;
        events.push_back("end");
    }
    void ShowError(const DiChar*, const DiChar* text) override {
        events.push_back("error " + narrow(text));
        if (duringBox) duringBox();
    }
    void EndHeldSession() override { events.push_back("held end"); }
    bool OpenBrowser(const DiChar* url) override {
        events.push_back("browser " + narrow(url));
        return true;
    }
    void ShowWarning(const DiChar*, const DiChar* text) override {
        events.push_back("warning " + narrow(text));
        if (duringBox) duringBox();
    }
    bool AskConnectionSettings(DiChar** url) override {
        events.push_back("settings");
        if (duringBox) duringBox();
        return (*url = nullptr);
    }
    bool AskYesNoOwned(const DiChar*, const DiChar* text) override {
        events.push_back("ask " + narrow(text));
        bool a = !answers.empty() && answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return a;
    }
};

const char kEnvelopeHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                             "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                             "xmlns:xsi=\"http://www.w3.org/1999/XMLSchema-instance\" "
                             "xmlns:xsd=\"http://www.w3.org/1999/XMLSchema\"><SOAP-ENV:Body>";
const char kEnvelopeTail[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string packet(const std::string& start, const std::string& inner, const std::string& id) {
    std::string body = kEnvelopeHead + inner + kEnvelopeTail;
    return start + "\r\nMessage-Id: " + id + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}
std::string request(const std::string& method, const std::string& params, const std::string& id) {
    return packet("POST /quorvellan/soap HTTP:/1.1",
                  "<ns1:" + method + " xmlns:ns1=\"urn:quorvellan-serveroutpost\">" + params +
                      "</ns1:" + method + ">",
                  id);
}
std::string fault(const std::string& code, const std::string& text) {
    return packet("HTTP/1.1 200 OK",
                  "<SOAP-ENV:Fault><faultcode>" + code + "</faultcode><faultstring>" + text +
                      "</faultstring></SOAP-ENV:Fault>",
                  "0");
}
std::string str(const std::string& name, const std::string& v) {
    return "<" + name + " xsi:type=\"xsd:string\">" + v + "</" + name + ">";
}
std::string num(const std::string& name, long v) {
    return "<" + name + " xsi:type=\"xsd:int\">" + std::to_string(v) + "</" + name + ">";
}

// A reply value, as markup or escaped inside the return element.
bool hasValue(const std::string& sent, const std::string& v) {
    return sent.find(">" + v + "<") != std::string::npos ||
           sent.find("&gt;" + v + "&lt;") != std::string::npos;
}

size_t count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        n++;
    return n;
}

struct Outpost : ::testing::Test {
    RecordingOutpost* so = nullptr;
    void SetUp() override {
        fakesReset();
        routeFakesReset();
        g_fakeChannels.soapCtor = diVAIPChannelNew;
        g_fakeChannels.soapDtor = diVAIPChannelDelete;
        diDEClock = fakeClock;
        diLogSetMessageLoader(numberLoader);
        DiSOOptions o;
        o.server = u"srv";
        o.port = 4000;
        o.connectionCookie = u"ck";
        so = new RecordingOutpost(o);
        so->listeningPort = 4321;
    }
    void TearDown() override {
        delete so;
        EXPECT_EQ(diDEChannelCount(), 0);
        diLogSetMessageLoader(nullptr);
    }
    DiChannel* channel() { return so->serverConnection ? so->serverConnection->channel : nullptr; }
    void connect() {
        ASSERT_TRUE(so->ConnectOnce());
        ASSERT_NE(channel(), nullptr);
        g_fakeNet.sent.clear();
    }
    // Bytes arrive; the socket announces them once.
    void arrive(const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        readable();
    }
    void readable() {
        if (!channel()) return;
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&channel()->hdr, &ev);
    }
    void signIn() { so->userInfo[DI_SO_FULLNAME] = qvlStrDup(u"Ann Example"); }
};

TEST(VAIPFraming, PacketSizeFollowsTheHeaderRule) {
    struct Row {
        const char* bytes;
        int64_t size;
    } rows[] = {
        {"POST / HTTP:/1.1\r\nContent-Length: 3\r\n\r\nabc", 42},
        {"POST / HTTP:/1.1\nContent-Length: 3\n\nabc", 39},
        {"POST / HTTP:/1.1\n\rContent-Length: 3\n\r\n\rabc", 42},
        {"POST / HTTP:/1.1\rContent-Length: 3\r\rabc", 39},
        {"POST / HTTP:/1.1\r\nContent-Length:\t 2\r\n \t\r\nab", 44},
        // Only the exact spelling at a line start counts: else no body.
        {"POST / HTTP:/1.1\r\ncontent-length: 3\r\n\r\nabc", 39},
        {"POST / HTTP:/1.1\r\nX-Content-Length: 3\r\n\r\nabc", 41},
        {"POST / HTTP:/1.1\r\nContent-Length: x\r\n\r\n", 39},
        // The header block is not complete yet.
        {"POST / HTTP:/1.1\r\nContent-Length: 3\r\n", 0},
        {"POST / HTTP:/1.1\r\nContent-Len", 0},
        {"", 0},
        // A huge length saturates instead of wrapping to something small.
        {"POST / HTTP:/1.1\r\nContent-Length: 18446744073709551617\r\n\r\n",
         58 + (INT64_C(1) << 40)},
    };
    for (const Row& r : rows) {
        std::string b = r.bytes;
        EXPECT_EQ(diVAIPPacketSize(reinterpret_cast<const uint8_t*>(b.data()), b.size()), r.size)
            << b;
    }
}

TEST_F(Outpost, ReaderAssemblesSplitAndBatchedPackets) {
    signIn();
    connect();
    std::string a = request("getState", str("reconnect", ""), "7");
    std::string b = request("getState", str("reconnectwait", ""), "8");
    // A header split over two reads completes on the second event, even
    // though bytes are still buffered from the first.
    arrive(a.substr(0, 20));
    arrive(a.substr(20, 40));
    EXPECT_EQ(count(g_fakeNet.sent, "getStateResponse"), 0u);
    arrive(a.substr(60) + b);
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 7"), 1u);
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 8"), 1u);
    EXPECT_TRUE(hasValue(g_fakeNet.sent, "always"));
    EXPECT_TRUE(hasValue(g_fakeNet.sent, "10"));
}

// Line ends of each kind the channel allows (CR LF, a lone CR, LF CR), cut
// anywhere by the network: the same requests are answered in the same order.
TEST_F(Outpost, StreamsAreAnsweredAlikeHoweverSplit) {
    auto lineEnds = [](std::string p, const char* end) {
        size_t head = p.find("\r\n\r\n") + 4;
        std::string out;
        for (size_t i = 0; i < head; i++)
            out += p.compare(i, 2, "\r\n") == 0 ? (i++, std::string(end)) : p.substr(i, 1);
        return out + p.substr(head);
    };
    auto server = [this](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        signIn();
        connect();
        for (const std::string& p : pieces)
            arrive(p);
        return g_fakeNet.sent;
    };
    auto helper = [this](const SplitPieces& pieces) {
        TearDown();
        SetUp();
        CHelperConnection* h = new CHelperConnection(ddNetSocketCreate());
        so->helpers.Append(h, false);
        for (const std::string& p : pieces) {
            g_fakeNet.incoming.push_back(p);
            DiEvent ev = {};
            ev.w[0] = DI_EV_READABLE;
            diUIDeliverEvent(&h->channel->hdr, &ev);
        }
        if (so->helpers.count) h->Close();
        return g_fakeNet.sent;
    };
    expectSameHoweverSplit({
        {"control channel",
         request("getState", str("reconnect", ""), "7") +
             lineEnds(request("getState", str("reconnectwait", ""), "8"), "\r") +
             lineEnds(request("getState", str("reconnectattempts", ""), "9"), "\n\r"),
         server},
        {"helper connection",
         "GET /poll?ID=h1 HTTP/1.1\n\rHost: 127.0.0.1\n\r\n\rGET /index.html HTTP/1.1\r\r"
         "GET /poll?ID=h2 HTTP/1.1\r\n\r\n",
         helper},
        // A lone line end closes a packet without a body: nothing follows.
        {"helper connection, last line end a lone LF",
         "GET /poll?ID=h1 HTTP/1.1\nHost: 127.0.0.1\n\n", helper},
        {"helper connection, last line end a lone CR", "GET /poll?ID=h1 HTTP/1.1\r\r", helper},
    });
}

TEST_F(Outpost, ReadRefusedDuringABoxRunsOnceTheBoxCloses) {
    signIn();
    connect();
    std::string later = request("getState", str("reconnect", ""), "9");
    so->duringBox = [&] { arrive(later); };
    arrive(fault("Client.Other", "boom"));
    ASSERT_EQ(so->events.size(), 1u);
    EXPECT_EQ(so->events[0], "warning 312");
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 9"), 0u) << "handled inside the box";
    diTimerDispatch(g_now);
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 9"), 1u) << "never read again";
}

TEST_F(Outpost, OversizedOrEndlessPacketsCloseTheChannel) {
    const std::string rows[] = {
        "POST / HTTP:/1.1\r\nContent-Length: 4294967296\r\n\r\n",
        "POST / HTTP:/1.1\r\nContent-Length: 600000\r\n\r\n",
        "POST / HTTP:/1.1\r\nX: " + std::string(DI_VAIP_BUFFER_LIMIT, 'a'),
    };
    signIn();
    for (const std::string& bytes : rows) {
        connect();
        g_fakeNet.incoming.clear();
        g_fakeNet.incoming.push_back(bytes);
        // Winsock announces again while unread bytes are left.
        for (int i = 0; i < 100 && channel() && !g_fakeNet.incoming.empty(); i++)
            readable();
        EXPECT_EQ(channel(), nullptr) << bytes.substr(0, 50);
        so->events.clear();
    }
}

TEST_F(Outpost, FaultsWarnThenActByCodeWithoutCase) {
    struct Row {
        const char* code;
        const char* text;
        const char* box;
        bool ends, closes;
    } rows[] = {
        {"SOAPENV:CLIENT.INVALIDCOOKIE", "x", "warning 312", true, false},
        {"soapenv:Client.CookieExpired", "", "warning 312", true, false},
        {"soapenv:Client.AlreadyConnected", "x", "warning 312", false, true},
        {"Client.Other", "x", "warning 312", false, false},
    };
    signIn();
    so->reconnectMode = DI_SO_NEVER;
    for (const Row& r : rows) {
        connect();
        so->events.clear();
        so->ending = 0;
        arrive(fault(r.code, r.text));
        ASSERT_FALSE(so->events.empty()) << r.code;
        EXPECT_EQ(so->events[0], r.box);
        bool ended = std::find(so->events.begin(), so->events.end(), "end") != so->events.end();
        EXPECT_EQ(ended, r.ends || r.closes) << r.code; // a closed channel is a loss: mode never
        EXPECT_EQ(channel() == nullptr, r.closes) << r.code;
    }
}

TEST_F(Outpost, HandlerThatClosesItsChannelSurvivesTheReconnect) {
    signIn();
    connect();
    g_now += 10000;
    arrive(fault("soapenv:Client.AlreadyConnected", "again"));
    // The loss ran after the handler and connected anew at once.
    EXPECT_EQ(g_fakeRoutes.connectCalls, 2);
    EXPECT_EQ(so->connectionState, DI_SO_CONNECTED);
    EXPECT_NE(g_fakeNet.sent.find("reconnecting=true"), std::string::npos);
}

TEST_F(Outpost, ReconnectTimelines) {
    // Times are milliseconds of the tick count, the only clock the rule
    // reads; the reconnect interval is 10 s.
    struct Row {
        const char* name;
        bool signedIn;
        int32_t mode, attempts;
        uint32_t lostAfter;
        int ticks;          // reconnect timer expiries that follow
        int connects, okAt; // connection attempts made; the one that succeeds (-1 none)
        std::vector<std::string> events;
        int32_t state;
        uint32_t connectedAt = 0; // tick of the connect (0: where the clock stands)
    } rows[] = {
        {"drop within 2 s waits and spends nothing",
         true,
         DI_SO_ALWAYS,
         2,
         1999,
         0,
         0,
         -1,
         {"arm"},
         3},
        {"drop within 2 s tries after one interval with every attempt left",
         true,
         DI_SO_ALWAYS,
         1,
         1999,
         2,
         1,
         -1,
         {"arm", "arm", "error 307", "end"},
         3},
        {"later drop reconnects at once", true, DI_SO_ALWAYS, 2, 2000, 0, 1, 0, {}, 2},
        // Past 2^31 ms a signed difference turns negative: "just connected".
        {"drop after 25 days connected reconnects at once",
         true,
         DI_SO_ALWAYS,
         2,
         25u * 24 * 3600 * 1000,
         0,
         1,
         0,
         {},
         2},
        {"drop across the wrap of the tick count reconnects at once",
         true,
         DI_SO_ALWAYS,
         2,
         10000,
         0,
         1,
         0,
         {},
         2,
         0xFFFFF000u},
        {"no full name never reconnects", false, DI_SO_ALWAYS, 2, 5000, 0, 0, -1, {"end"}, 0},
        {"prompt answered no", true, DI_SO_PROMPT, 2, 5000, 0, 0, -1, {"ask 317", "end"}, 0},
        {"no attempts reports and ends",
         true,
         DI_SO_ALWAYS,
         0,
         5000,
         0,
         0,
         -1,
         {"error 307", "end"},
         3},
        {"failed attempts count down",
         true,
         DI_SO_ALWAYS,
         2,
         5000,
         2,
         2,
         -1,
         {"arm", "arm", "error 307", "end"},
         3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        free(so->userInfo[DI_SO_FULLNAME]);
        so->userInfo[DI_SO_FULLNAME] = nullptr;
        if (r.signedIn) signIn();
        g_fakeRoutes.connectResult = 0;
        so->ending = 0;
        so->reconnectMode = r.mode;
        so->reconnectAttempts = r.attempts;
        if (r.connectedAt) g_now = r.connectedAt;
        connect();
        so->events.clear();
        int before = g_fakeRoutes.connectCalls;
        g_now += r.lostAfter;
        g_fakeRoutes.connectResult = r.okAt == 0 ? 0 : -1;
        so->serverConnection->Close();
        for (int tick = 0; tick < r.ticks; tick++) {
            g_now += 10000;
            so->ReconnectStep();
        }
        EXPECT_EQ(so->events, r.events);
        EXPECT_EQ(g_fakeRoutes.connectCalls - before, r.connects);
        EXPECT_EQ(so->connectionState, r.state);
    }
}

TEST_F(Outpost, StateRequestsReadAndWriteThePolicy) {
    signIn();
    connect();
    CLog log;
    diLogSet(&log);
    struct Row {
        std::string set;
        std::string get;
        const char* value; // none: no reply
    } rows[] = {
        // The first of the known parameters wins.
        {num("reconnectattempts", 3) + num("reconnectwait", 9), str("reconnectwait", ""), "10"},
        {num("reconnectattempts", -4), str("reconnectattempts", ""), "0"},
        {num("reconnectwait", -1), str("reconnectwait", ""), "0"},
        {str("reconnect", "prompt") + num("reconnectattempts", 7), str("reconnect", ""), "prompt"},
        {str("reconnect", "sometimes"), str("reconnect", ""), "prompt"},
        // The order of the table decides, not the order of the request.
        {"", str("reconnectwait", "") + str("reconnect", ""), "prompt"},
        {"", str("printstate", "") + str("reconnect", ""), "noprinter"},
        {"", str("unknown", ""), nullptr},
        {str("logging", "logging_errorsandwarningsonly"), str("logging", ""), "warnings"},
        {str("logging", "logging_everything"), str("logging", ""), "warnings"},
    };
    for (const Row& r : rows) {
        g_fakeNet.sent.clear();
        if (!r.set.empty()) arrive(request("setState", r.set, "1"));
        arrive(request("getState", r.get, "2"));
        if (r.value)
            EXPECT_TRUE(hasValue(g_fakeNet.sent, r.value)) << r.set << r.get;
        else
            EXPECT_EQ(g_fakeNet.sent, "") << r.get;
    }
    diLogSet(nullptr);
}

TEST_F(Outpost, SecurityAndRestartRefusePortsOutOfRange) {
    g_fakeRoutes.tlsFails = false;
    signIn();
    connect();
    struct Row {
        long port;
        int32_t expect;
    } rows[] = {{70000, 4000}, {0, 4000}, {-1, 4000}, {65535, 65535}};
    for (const Row& r : rows) {
        so->port = 4000;
        so->restartData.port = 4000;
        std::string params = str("server", "srv2") + str("connectioncookie", "ck2") +
                             str("securitylevel", "ssl") + num("port", r.port);
        arrive(request("restartData",
                       params + str("url", "u") + str("frame", "f") + str("helperid", "h") +
                           str("security", "ssl"),
                       "3"));
        EXPECT_EQ(so->restartData.port, r.expect) << r.port;
        arrive(request("security", params, "4"));
        EXPECT_EQ(so->port, r.expect) << r.port;
        EXPECT_EQ(so->secure, 1);
        // The security change closed the channel; its loss asks for a start.
        EXPECT_EQ(so->events.back(), "start-request");
        EXPECT_EQ(channel(), nullptr);
        connect();
    }
    EXPECT_EQ(narrow(so->connectionCookie), "ck2");
}

TEST_F(Outpost, KeepAliveAnswersOnlyTheLastRequestAfterItsTimeout) {
    connect();
    arrive(request("keepAlive", num("timeout", 0), "1"));
    arrive(request("keepAlive", num("timeout", -5), "2"));
    EXPECT_TRUE(so->events.empty());
    arrive(request("keepAlive", num("timeout", 30), "3"));
    arrive(request("keepAlive", num("timeout", 20), "4"));
    EXPECT_EQ(so->events, (std::vector<std::string>{"keepalive 30", "keepalive 20"}));
    so->SendKeepAliveReply();
    so->SendKeepAliveReply();
    EXPECT_EQ(count(g_fakeNet.sent, "keepAliveResponse"), 2u); // open and close tag
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 4"), 1u);
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 3"), 0u);
}

TEST_F(Outpost, TlsOnlyWhenTheTargetAsksForIt) {
    struct Row {
        bool secure, first;
        int connectResult;
        uint32_t flags;
        int tlsStarts;
    } rows[] = {
        {false, true, 0, 8, 0},  // a plain server on the first connection
        {true, true, 0, 10, 1},  // "-secure"
        {true, false, -9, 2, 0}, // a TLS hop carries the connection already
        {false, false, 0, 0, 0},
    };
    for (const Row& r : rows) {
        g_fakeRoutes.tlsStarts = 0;
        g_fakeRoutes.tlsFails = false;
        g_fakeRoutes.connectResult = r.connectResult;
        so->secure = r.secure;
        so->firstConnection = r.first;
        connect();
        EXPECT_EQ(g_fakeRoutes.connectFlags, r.flags);
        EXPECT_EQ(g_fakeRoutes.tlsStarts, r.tlsStarts);
    }
}

TEST_F(Outpost, InitAndRepliesCarryTheIdsOfTheirExchange) {
    so->connectionLost = 1;
    ASSERT_TRUE(so->ConnectOnce());
    const std::string& init = g_fakeNet.sent;
    EXPECT_EQ(init.rfind("POST /quorvellan/soap HTTP:/1.1\r\nSO-Id: ck\r\nMessage-Id: 0\r\n", 0),
              0u)
        << init;
    EXPECT_NE(init.find("reconnecting=true"), std::string::npos);
    EXPECT_NE(init.find("soapclientversion=4.31.953"), std::string::npos);
    g_fakeNet.sent.clear();
    // A request without an id is answered with id 0; a missing parameter
    // is a fault to the request's id.
    std::string noId = request("getState", str("logging", ""), "0");
    noId.erase(noId.find("Message-Id: 0\r\n"), 15);
    arrive(noId);
    arrive(request("registerConnectionLost", str("url", "u"), "12"));
    EXPECT_EQ(g_fakeNet.sent.rfind("HTTP/1.1 200 OK\r\nSO-Id: ck\r\nMessage-Id: 0\r\n", 0), 0u);
    EXPECT_EQ(count(g_fakeNet.sent, "Client.MissingParameter"), 2u); // frame, helperid
    EXPECT_EQ(count(g_fakeNet.sent, "Message-Id: 12"), 2u);
}

TEST_F(Outpost, BrowserPathsOfAHelperConnection) {
    struct Row {
        const char* request;
        const char* startLine;
        const char* body; // a part of the answer, or none
        int32_t noJava;
    } rows[] = {
        {"GET /index.html HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n", nullptr, 0},
        {"GET /poll?ID=h1 HTTP/1.1\r\n\r\n", "HTTP/1.1 204 No Content\r\n", nullptr, 0},
        {"GET /java?true HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n",
         "window.open(\"http://w/?a=\\u0022);x(\\u0022\", \"_self\")", 1},
        {"GET /java HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n", nullptr, 2},
    };
    for (const Row& r : rows) {
        DdSocket* s = ddNetSocketCreate();
        g_fakeNet.sentBy.erase(s); // a freed socket's address comes back
        CHelperConnection* helper = new CHelperConnection(s);
        so->helpers.Append(helper, false);
        so->webtopUrl = qvlStrDup(u"http://w/?a=\");x(\"");
        g_fakeNet.incoming.push_back(r.request);
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&helper->channel->hdr, &ev);
        const std::string& sent = g_fakeNet.sentBy[s];
        EXPECT_EQ(sent.rfind(r.startLine, 0), 0u) << sent;
        if (r.body) {
            EXPECT_NE(sent.find(r.body), std::string::npos) << sent;
        }
        if (r.noJava) {
            EXPECT_EQ(so->noJava, r.noJava);
        }
        helper->Close(); // the helper goes with its channel
        EXPECT_EQ(so->helpers.count, 0u);
        free(so->webtopUrl);
        so->webtopUrl = nullptr;
    }
}

// The browser's sign-in page gets the whole URL and the listener's port,
// however long the URL (it used to be cut at 511 characters, "drxport"
// and all).
// The end of the session that a box's message loop delivers (a logout, an
// outside close) is held until the box returned: its caller goes on with
// the outpost, and the end comes anew after.
TEST_F(Outpost, EndDeliveredUnderABoxIsHeldUntilItReturns) {
    so->duringBox = [] { EXPECT_EQ(diSODestroy(), 0); };
    g_fakeRoutes.connectResult = -1;
    EXPECT_FALSE(so->Connect(1));
    EXPECT_EQ(so->events, (std::vector<std::string>{"error 307", "held end", "end"}));
    // The webtop page after a failed sign-in.
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    so->helpers.Append(helper, false);
    so->webtopUrl = qvlStrDup(u"http://w/hvn/x");
    so->events.clear();
    so->ServeWebtopPage(helper, 0);
    helper->Close();
    EXPECT_EQ(so->events, (std::vector<std::string>{"error 307", "end", "held end", "end"}));
}

// The start's and a connection's dialogs (the connection settings, a
// certificate question) hold the end their loops deliver, as boxes do.
TEST_F(Outpost, EndDeliveredUnderTheStartsDialogsIsHeldUntilTheyReturn) {
    so->duringBox = g_fakeRoutes.whileTlsAsks = [] { EXPECT_EQ(diSODestroy(), 0); };
    so->launchBrowser = 1;
    so->startMode = 4;
    EXPECT_FALSE(so->Start());
    g_fakeRoutes.tlsFails = false;
    so->secure = 1;
    EXPECT_TRUE(so->Connect(1));
    EXPECT_EQ(so->events, (std::vector<std::string>{"settings", "held end", "held end"}));
}

TEST_F(Outpost, BrowserStartKeepsTheWholeLoginUrl) {
    for (size_t length : {20, 600, 4000}) {
        std::string url = "http://w/" + std::string(length, 'a');
        std::u16string wideUrl(url.begin(), url.end());
        g_fakeApp.opt.loginUrl = qvlStrDup(wideUrl.c_str());
        so->launchBrowser = 1;
        so->events.clear();
        EXPECT_TRUE(so->Start());
        EXPECT_EQ(so->events,
                  std::vector<std::string>{"browser " + url + "?drxport=4321&javaprobe=true"});
        EXPECT_EQ(narrow(so->webtopUrl), url + "?drxport=4321");
        free(g_fakeApp.opt.loginUrl);
        g_fakeApp.opt.loginUrl = nullptr;
        free(so->webtopUrl);
        so->webtopUrl = nullptr;
    }
}

TEST_F(Outpost, ProfilePolicyAndProxy) {
    struct Row {
        const char* keys; // of the profile; none: no profile
        int32_t mode, attempts;
        const char* httpProxy; // the application's HTTP proxy route afterwards
        bool launchBrowser;
        const char* socksProxy; // the SOCKS route afterwards, when given
    } rows[] = {
        {"<reconnect_mode>reconnect_never</reconnect_mode><reconnect_attempts>-2"
         "</reconnect_attempts><proxy>specify</proxy><usehttp>TRUE</usehttp>"
         "<httphost>proxy.test</httphost><httpport>3128</httpport><mode>x</mode>",
         DI_SO_NEVER, 0, "proxy.test:3128", false, nullptr},
        {"<reconnect_mode>reconnect_ask</reconnect_mode><proxy>browser</proxy><lastproxyhost>"
         "last.test</lastproxyhost><lastproxyport>8080</lastproxyport><lastproxytype>HTTP"
         "</lastproxytype><mode>x</mode>",
         DI_SO_PROMPT, 6, "last.test:8080", false, nullptr},
        // The last proxy's kind comes along (it used to become an HTTP proxy).
        {"<proxy>browser</proxy><lastproxyhost>s.test</lastproxyhost><lastproxyport>1080"
         "</lastproxyport><lastproxytype>SOCKS</lastproxytype><mode>x</mode>",
         DI_SO_ALWAYS, 6, "", false, "s.test:1080"},
        {"<proxy>browser</proxy><mode>x</mode>", DI_SO_ALWAYS, 6, "", true, nullptr},
        {nullptr, DI_SO_ALWAYS, 6, "", true, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.keys ? r.keys : "no profile");
        delete so;
        routeFakesReset();
        g_fakeApp.opt.startImmediately = 1;
        std::string file = "<cache><profiles><host name=\"h\"><user ens=\"u\"><profile name="
                           "\"Default\">" +
                           std::string(r.keys ? r.keys : "") +
                           "</profile></user></host></profiles></cache>";
        CMemProfileStore store(file);
        store.Load(r.keys ? u"h:u:Default" : u"h:u:Other");
        so = new RecordingOutpost(DiSOOptions());
        so->ReadProfile();
        EXPECT_EQ(so->reconnectMode, r.mode);
        EXPECT_EQ(so->reconnectAttempts, r.attempts);
        DiRoute* http = g_fakeApp.opt.httpProxyRoute;
        std::string route = http && http->host && http->host[0]
                                ? narrow(http->host) + ":" + std::to_string(http->port)
                                : "";
        EXPECT_EQ(route, r.httpProxy);
        EXPECT_EQ(g_fakeApp.httpProxyInUse != 0, route != "");
        EXPECT_EQ(so->launchBrowser != 0, r.launchBrowser);
        EXPECT_EQ(g_fakeApp.opt.startImmediately == 0, r.launchBrowser);
        DiRoute* socks = g_fakeApp.opt.socksRoute;
        if (r.socksProxy) {
            ASSERT_TRUE(socks && socks->host);
            EXPECT_EQ(narrow(socks->host) + ":" + std::to_string(socks->port), r.socksProxy);
        }
        for (DiRoute** slot : {&g_fakeApp.opt.httpProxyRoute, &g_fakeApp.opt.socksRoute}) {
            if (!*slot) continue;
            diRouteFree(*slot);
            free(*slot);
            *slot = nullptr;
        }
        g_fakeApp.socksInUse = 0;
    }
}

TEST(OutpostTexts, PrinterTypeByDriverAndSystem) {
    struct Row {
        const DiChar* description;
        uint16_t os;
        const char* type;
    } rows[] = {
        {u"name=P&driver=PSCRIPT.DRV&port=x", 0x202, "PostScript"},
        {u"driver=hppcl.drv", 0x203, "PCL"},
        {u"driver=rasdd.dll", 0x205, "PCL"},
        {u"driver=pscript5.dll", 0x205, "PostScript"},
        {u"a&driver=UNIDRV.DLL", 0x207, "PCL"},
        {u"driver=pscript5.dll&", 0x209, "PostScript"},
        {u"driver=unidrv.dll", 0x20a, nullptr},
        {u"name=P", 0x207, nullptr},
    };
    for (const Row& r : rows) {
        const char* t = diSOPrinterType(r.description, r.os);
        EXPECT_EQ(std::string(t ? t : "(none)"), r.type ? r.type : "(none)")
            << narrow(r.description);
    }
}

// Undoes the JavaScript string escapes the script uses.
std::u16string unescapeJs(const std::u16string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 5 < s.size() + 0 && s[i + 1] == 'u') {
            out +=
                DiChar(std::stoi(std::string(s.begin() + i + 2, s.begin() + i + 6), nullptr, 16));
            i += 5;
        } else {
            out += s[i];
        }
    }
    return out;
}

TEST(OutpostTexts, ReloadScriptKeepsServerTextInsideItsStrings) {
    const std::u16string rows[] = {
        u"http://h/p?a=1&b=2",
        u"http://h/x\"); alert(1); (\"",
        u"http://h/</script><script>alert(1)</script>",
        u"http://h/a\\\"b",
        u"http://h/line\u2028break\u2029'single'",
    };
    for (const std::u16string& url : rows) {
        DiChar* script = diSOReloadFrameScript(url.c_str(), u"_self");
        std::u16string s = script;
        free(script);
        const std::u16string head = u"function ReloadFrame()\n{\n\twindow.open(\"";
        ASSERT_EQ(s.compare(0, head.size(), head), 0);
        size_t end = s.find(u'"', head.size());
        ASSERT_NE(end, std::u16string::npos);
        EXPECT_EQ(unescapeJs(s.substr(head.size(), end - head.size())), url);
        EXPECT_EQ(s.substr(end), u"\", \"_self\")\n}");
        EXPECT_EQ(s.find(u'<'), std::u16string::npos);
    }
}

// The page opens web addresses only: any other scheme would run in the
// listener's origin or reach a local file or program.
TEST(OutpostTexts, ReloadScriptOnlyForWebAddresses) {
    struct Row {
        const char16_t* url;
        bool web;
    } rows[] = {
        {u"http://h/p", true},
        {u"HTTPS://h:8443", true},
        {u"javascript:alert(1)", false},
        {u"JaVaScRiPt:alert(1)", false},
        {u"  javascript:alert(1)", false},
        {u"\x01\tjavascript:alert(1)", false},
        {u" http://h/", false},
        {u"data:text/html,<script>alert(1)</script>", false},
        {u"file:///C:/Windows/x.exe", false},
        {u"vbscript:msgbox(1)", false},
        {u"\\\\host\\share\\x.exe", false},
        {u"C:\\Windows\\x.exe", false},
        {u"http://", false},
        {u"https:///h", false},
        {u"http://h/a\r\n<script>", false},
    };
    for (const Row& r : rows) {
        DiChar* script = diSOReloadFrameScript(r.url, u"_self");
        EXPECT_EQ(script != nullptr, r.web) << narrow(r.url);
        EXPECT_EQ(diHTTPIsWebAddress(r.url), r.web) << narrow(r.url);
        free(script);
    }
}

TEST(OutpostTexts, TimerDelaysAndPollIds) {
    struct Delay {
        int64_t seconds;
        uint32_t ms;
    } delays[] = {{-5, 0},
                  {0, 0},
                  {1, 1000},
                  {2147483, 2147483000u},
                  {2147484, 0x7fffffff},
                  {INT64_C(1) << 40, 0x7fffffff}};
    for (const Delay& d : delays)
        EXPECT_EQ(diSOSecondsToMs(d.seconds), d.ms) << d.seconds;
    struct Poll {
        const DiChar* path;
        const char* id;
    } polls[] = {{u"/poll?x=1&ID=&ID=abc", "abc"},
                 {u"/poll?ID=a&ID=", "a"},
                 {u"/poll", nullptr},
                 {u"/pollx", nullptr},
                 {u"/poll?", nullptr},
                 {u"/poll?id=abc", nullptr}};
    for (const Poll& p : polls) {
        DiChar* id = diVAIPPollId(p.path);
        EXPECT_EQ(id ? narrow(id) : std::string("(none)"), p.id ? p.id : "(none)");
        free(id);
    }
}

} // namespace
