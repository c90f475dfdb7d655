// The outpost's requests from raw packets (reply, fault, what changes), the
// capability lists from injected platform descriptions, the listener's
// admission rule, and the escaping of server tokens for helper pages.
#include "outpost_fixture.h"

#include "core/disysinfo.h"
#include "devices/didevice.h"
#include "devices/diiochan.h"
#include "devices/dipaip.h"
#include "devices/diprintq.h"
#include "session/disoaccess.h"
#include "fakes/laip_fakes.h"
#include "net/diroute.h"
#include "session/dilaunch.h"
#include "session/dilistener.h"
#include "support/mem_profile_store.h"
#include "xml/qvlxmlparser.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace outpost_fixture;

namespace {

// The service a device or print request names.
std::string serviceParams() {
    return str("mrkqvlsessionid", "s") + str("mrkqvlsessioncookie", "c") +
           str("mrkqvlsessionexternaldnsname", "pe") + num("mrkqvlsessionport", 6000);
}

struct Requests : OutpostTest {
    void TearDown() override {
        so->Stop();
        OutpostTest::TearDown();
    }
};

TEST_F(Requests, EachHandlerFromItsRawPacket) {
    struct Row {
        const char* name;
        std::string packet;
        std::vector<std::string> sent; // in the bytes to the server
        std::vector<std::string> notSent;
        const char* event;  // what the outpost did, or none
        const char* logged; // a log line that begins so, or none
    } rows[] = {
        {"capabilities, launch only",
         request("clientCapabilities", str("launch", ""), "1"),
         {"clientCapabilitiesResponse", "Message-Id: 1", "localxserver", "&lt;devices"},
         {"screenwidth", "&lt;print", "&lt;cdm"},
         nullptr,
         nullptr},
        {"capabilities, all",
         request("clientCapabilities", num("all", 0), "2"),
         {"screenwidth", "&lt;print", "&lt;audio", "&lt;cdm", "&lt;smartcard", "&lt;io"},
         {},
         nullptr,
         nullptr},
        {"webserver to every helper",
         request("webserver", str("url", "u") + str("frame", "f"), "3"),
         {},
         {"Fault"},
         nullptr,
         "364 u f ALL"},
        {"webserver kept for a later helper",
         request("webserver", str("url", "u") + str("frame", "f") + str("helperid", "h9"), "4"),
         {},
         {"Fault"},
         nullptr,
         "305"},
        {"webserver without url",
         request("webserver", str("frame", "f"), "5"),
         {"Client.MissingParameter", "Message-Id: 5"},
         {},
         nullptr,
         "363"},
        {"incomplete launch is answered and kept",
         request("requestLaunch", str("mrkqvlapplicationplacement", "awtwindow"), "6"),
         {"requestLaunchResponse", "Message-Id: 6"},
         {"Fault"},
         nullptr,
         nullptr},
        {"doLaunch waits for its launch",
         request("doLaunch", str("url", "x"), "7"),
         {},
         {"doLaunchResponse", "Fault"},
         nullptr,
         nullptr},
        {"startCdm", request("startCdm", "", "8"), {"startCdmResponse"}, {}, nullptr, nullptr},
        {"doCdm fails",
         request("doCdm", "", "9"),
         {"Client.CDM.Failed", "Cannot start CDM"},
         {},
         nullptr,
         "369"},
        {"doAudio fails", request("doAudio", "", "10"), {"Client.ADM.Failed"}, {}, nullptr, "486"},
        {"doSCard fails", request("doSCard", "", "11"), {"Client.SDM.Failed"}, {}, nullptr, "489"},
        {"doIO fails",
         request("doIO", "", "12"),
         {"Client.IO.Failed", "Cannot start IODM"},
         {},
         nullptr,
         "489"},
        {"print needs a job name",
         request("print", "", "13"),
         {"Client.MissingParameter"},
         {},
         nullptr,
         nullptr},
        {"doprint without a queue",
         request("doprint", str("name", "p"), "14"),
         {},
         {"Fault"},
         nullptr,
         nullptr},
        {"restartEvent needs a token",
         request("restartEvent", "", "15"),
         {"Client.MissingParameter"},
         {},
         nullptr,
         nullptr},
        {"reconnectData",
         request("reconnectData", str("connectioncookie", "new"), "16"),
         {"reconnectDataResponse", "Message-Id: 16"},
         {},
         nullptr,
         "405"},
        {"document",
         request("document", str("url", "http://d/x"), "17"),
         {},
         {"Fault"},
         "browser http://d/x",
         "406"},
        {"token without a webtop URL",
         request("token", str("connectiontoken", "t"), "18"),
         {},
         {"Fault"},
         "ui _root enabled",
         "449"},
        {"setuicomponent",
         request("setuicomponent", str("component", "c") + str("state", "s"), "19"),
         {},
         {"Fault"},
         "ui c s",
         nullptr},
        {"triggeruicomponent needs a component",
         request("triggeruicomponent", "", "20"),
         {"Client.MissingParameter"},
         {},
         nullptr,
         nullptr},
        {"automaticLogin without a store",
         request("automaticLogin", str("token", "t"), "21"),
         {},
         {"Fault"},
         nullptr,
         nullptr},
        {"profileUpdate without profiles",
         request("profileUpdate", "", "22"),
         {},
         {"Fault"},
         nullptr,
         nullptr},
        {"cancelLaunch of nothing",
         request("cancelLaunch", "", "23"),
         {},
         {"Fault"},
         nullptr,
         nullptr},
        {"notifyApplicationsEnded",
         request("notifyApplicationsEnded", "<notify xsi:type=\"xsd:boolean\">false</notify>",
                 "24"),
         {},
         {"Fault"},
         nullptr,
         nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        so->events.clear();
        log.lines.clear();
        arrive(r.packet);
        std::string sent = toServer();
        for (const std::string& s : r.sent)
            EXPECT_NE(sent.find(s), std::string::npos) << s << "\n" << sent;
        for (const std::string& s : r.notSent)
            EXPECT_EQ(sent.find(s), std::string::npos) << s;
        if (r.event) {
            EXPECT_NE(std::find(so->events.begin(), so->events.end(), r.event), so->events.end())
                << r.event;
        }
        if (r.logged) {
            EXPECT_GE(log.Count(r.logged), 1u) << r.logged;
        }
    }
    EXPECT_EQ(narrow(so->connectionCookie), "new");
    EXPECT_EQ(so->notifyApplicationsEnded, 0);
    EXPECT_EQ(so->pendingEventCount, 1);
}

// ns1:document opens only web addresses (the first three, XML text); every
// other scheme, a local or share path, a control character, and an
// address the browser could not open log error 407.
TEST_F(Requests, DocumentsOpenOnlyWebAddresses) {
    const std::string urls[] = {
        "http://d/x",      "HTTPS://d:8443/x?a=1", "HtTp://d",        " http://d/x",
        "file:///C:/x.exe", "FILE://h/s/x.exe",    "\\\\h\\s\\x.exe", "C:\\x.exe",
        "x.exe",           "javascript:alert(1)",  "http:\\\\h\\x",   "http:/d/x",
        "http://",         "ftp://d/x",            "mailto:a@d",      "http://d/&#10;x",
        "http://d/&#9;x",  "&#1;http://d/x",       "http://d/&#133;"};
    int id = 0;
    for (bool opens : {true, false}) {
        so->browserOpens = opens;
        for (const std::string& url : urls) {
            SCOPED_TRACE(url);
            bool web = &url < urls + 3;
            so->events.clear();
            log.lines.clear();
            arrive(request("document", str("url", url), std::to_string(++id)));
            EXPECT_EQ(!so->events.empty() && so->events[0].rfind("browser ", 0) == 0, web);
            EXPECT_EQ(log.Count("407"), web && opens ? 0u : 1u);
        }
    }
}

// With start-up's queue maker, the device channels bring the print queue:
// its channel's hello names the default printer's type, a print job is
// queued and answered with its name, the print state is the channel's, and
// the queue goes with the outpost.
TEST_F(Requests, PrintJobsGoToTheQueueTheDeviceChannelsMake) {
    static const DiPrintSpoolOps kNoSpool = {};
    g_fakeChannels.printCtor = [](DdSocket* s) -> DiChannel* {
        DiPrintChannel* pc = diPrintChannelNew(&kNoSpool, true);
        diChannelAttachConnection(&pc->ch, s);
        pc->client.description = u"os=Windows2000&driver=PSCRIPT5.DLL";
        return &pc->ch;
    };
    g_ddApp->clientInfo.osCode = 0x207;
    g_fakeChannels.printDtor = [](DiChannel* ch) {
        diPrintChannelTeardown(reinterpret_cast<DiPrintChannel*>(ch));
        diPrintChannelDelete(reinterpret_cast<DiPrintChannel*>(ch));
    };
    g_diSOMakePrintQueue = [] { return new CPrintJobQueue(); };
    arrive(request("clientCapabilities", str("print", ""), "1"));
    ASSERT_NE(so->printJobs, nullptr);
    EXPECT_EQ(diSOGetPrintChannel(), so->printJobs->channel);
    toServer();
    diPAIPSendHello(reinterpret_cast<DiPrintChannel*>(so->printJobs->channel), 1);
    EXPECT_NE(g_fakeNet.sentBy[so->printJobs->channel->socket].find("\npt=PostScript\n"),
              std::string::npos);
    g_ddApp->clientInfo.osCode = 0;
    arrive(request("print", str("jobname", "http://s/a/_service/j1"), "2"));
    std::string sent = toServer();
    EXPECT_NE(sent.find("printResponse"), std::string::npos) << sent;
    EXPECT_NE(sent.find("http://s/a/_service/j1"), std::string::npos) << sent;
    arrive(request("getState", str("printstate", ""), "3"));
    sent = toServer();
    EXPECT_NE(sent.find("&gt;initializing&lt;"), std::string::npos) << sent;
    // A doprint that cannot connect gives up the job it was for: the next
    // one is answered.
    arrive(request("print", str("jobname", "http://s/a/_service/j2"), "6"));
    arrive(request("doprint", num("mrkqvlsessionport", 0), "7"));
    sent = toServer();
    EXPECT_NE(sent.find("http://s/a/_service/j2"), std::string::npos) << sent;
    // A second doprint while the first connection stands ends that one
    // first: its socket is closed, not left open behind the new one.
    const std::string service = serviceParams();
    arrive(request("doprint", service, "4"));
    int closes = g_fakeNet.closes;
    arrive(request("doprint", service, "5"));
    EXPECT_EQ(g_fakeNet.closes, closes + 1);
    EXPECT_EQ(log.Count("382"), 2u);
    delete so->printJobs; // while the channel's maker is still the real one
    so->printJobs = nullptr;
    g_diSOMakePrintQueue = nullptr;
    g_fakeChannels.printCtor = nullptr;
    g_fakeChannels.printDtor = nullptr;
}

TEST_F(Requests, DeviceChannelsStartOnceAndStayTheOutpostsUntilStop) {
    arrive(request("clientCapabilities", str("cdm", ""), "1"));
    ASSERT_NE(so->driveChannel, nullptr);
    DiChannel* drive = so->driveChannel;
    int channels = diDEChannelCount();
    arrive(request("clientCapabilities", str("cdm", ""), "2"));
    EXPECT_EQ(so->driveChannel, drive) << "started once";
    arrive(request("doCdm",
                   serviceParams() + str("mrkqvlwebtopsessionname", "web 1") +
                       str("mrkqvlsessionowner", "ann") + str("cn", "Mail"),
                   "3"));
    EXPECT_EQ(log.Count("368"), 1u);
    // The drive list answers these three texts.
    DiChar** texts = reinterpret_cast<DiIOChannel*>(drive)->texts;
    EXPECT_EQ(narrow(texts[0]) + "|" + narrow(texts[1]) + "|" + narrow(texts[2]), "web 1|ann|Mail");
    EXPECT_EQ(diDEChannelCount(), channels) << "the service left the channel alone";
    so->Stop(); // destroys it once (ASan would see a second destroy)
    EXPECT_EQ(so->driveChannel, nullptr);
}

// A device connection's certificate question runs under its request's
// handler: an end of the session delivered in it waits until the handler
// returned, which goes on with the outpost.
TEST_F(Requests, EndUnderADeviceConnectionsQuestionWaitsForTheHandler) {
    arrive(request("clientCapabilities", str("cdm", ""), "1"));
    g_fakeRoutes.tlsFails = false;
    g_fakeRoutes.whileTlsAsks = [] { EXPECT_EQ(diSODestroy(), 0); };
    arrive(request("doCdm", serviceParams() + str("mrkqvlsessionsecurity", "ssl"), "2"));
    EXPECT_EQ(g_fakeRoutes.tlsStarts, 1);
    EXPECT_EQ(log.Count("368"), 1u);
    EXPECT_EQ(so->events.back(), "held end");
}

// The device requests set the level the device channel reads requests at
// before the channel starts: 1 for smart cards, 2 for IO requests.
// The "smartcard" element holds the service record's item only when the
// record leads the list; "io" holds every announced record with its index.
TEST_F(Requests, DeviceElementsAnnounceTheDeviceList) {
    auto make = [](uint16_t code, uint8_t type, const DiChar* name) {
        DiDevice d{};
        d.classCode = code, d.deviceType = type, d.name = const_cast<DiChar*>(name);
        d.valueA = 32, d.valueB = 2, d.valueD = 1, d.valueE = 5;
        return d;
    };
    DiDevice service = make(128, 1, nullptr), card = make(512, 0x20, u"SCARD"),
             com1 = make(512, 1, u"COM1"), com2 = make(512, 1, u"COM2");
    const std::string tag = "&lt;attribute&gt;";
    struct Row {
        std::vector<DiDevice*> list;
        std::vector<std::string> smartcard, io;
    } rows[] = {
        {{}, {}, {}},
        {{&service, &card, &com1},
         {"1;32;1;5;0;=128"},
         {"32;32;1;5;0;2;0;1;SCARD;=512", "1;32;1;5;0;2;0;2;COM1;=512"}},
        {{&com1, &com2}, {}, {"1;32;1;5;0;2;0;0;COM1;=512", "1;32;1;5;0;2;0;1;COM2;=512"}},
        {{&com1, &service}, {}, {"1;32;1;5;0;2;0;0;COM1;=512"}},
    };
    int id = 1;
    for (auto& r : rows) {
        DiDeviceList list{};
        list.count = uint8_t(r.list.size());
        list.devices = r.list.data();
        so->devices = r.list.empty() ? nullptr : &list;
        arrive(request("clientCapabilities", str("smartcard", "") + str("io", ""),
                       std::to_string(id++)));
        std::string sent = toServer();
        size_t sc = sent.find("&lt;smartcard"), io = sent.find("&lt;io");
        ASSERT_NE(sc, std::string::npos) << sent;
        ASSERT_NE(io, std::string::npos) << sent;
        std::string inSC = sent.substr(sc, io - sc), inIO = sent.substr(io);
        EXPECT_EQ(count(sent, tag), r.smartcard.size() + r.io.size()) << sent;
        for (auto& t : r.smartcard)
            EXPECT_NE(inSC.find(tag + t + "&lt;/attribute"), std::string::npos) << t << sent;
        for (auto& t : r.io)
            EXPECT_NE(inIO.find(tag + t + "&lt;/attribute"), std::string::npos) << t << sent;
    }
    so->devices = nullptr;
}

TEST_F(Requests, DeviceRequestsSetTheirRequestLevel) {
    g_fakeLaip.calls.clear();
    arrive(request("doIO", str("mrkqvlsessionid", "s"), "1"));
    arrive(request("doSCard", str("mrkqvlsessionid", "s"), "2"));
    std::vector<std::string> levels;
    for (const std::string& c : g_fakeLaip.calls)
        if (c.rfind("iaip-level", 0) == 0) levels.push_back(c);
    EXPECT_EQ(levels, (std::vector<std::string>{"iaip-level 2", "iaip-level 1"}));
}

TEST_F(Requests, KeptWebserverEventsGoToTheirHelperOnly) {
    for (int i = 0; i < 18; i++)
        arrive(request("webserver",
                       str("url", "u" + std::to_string(i)) + str("frame", "f") +
                           str("helperid", i % 2 ? "odd" : "even"),
                       std::to_string(i)));
    EXPECT_EQ(so->pendingEventCount, 16);
    EXPECT_EQ(log.Count("304"), 2u) << "the oldest two were dropped";
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    helper->helperId = qvlStrDup(u"odd");
    so->helpers.Append(helper, false);
    EXPECT_TRUE(so->DeliverWebserverEvents(helper));
    EXPECT_EQ(so->pendingEventCount, 8);
    std::string toHelper = g_fakeNet.sentBy[helper->channel->socket];
    EXPECT_EQ(count(toHelper, "<ns1:webserver"), 8u);
    EXPECT_EQ(toHelper.find("u2<"), std::string::npos);
}

TEST_F(Requests, DrxClientIdFallsBackToTheLocalSetting) {
    CMemProfileStore store;
    store.EnsureDocument();
    store.SetLocalSetting(u"drxclientid", u"cid7");
    ASSERT_TRUE(so->SendInit());
    EXPECT_NE(toServer().find("drxclientid=cid7"), std::string::npos);
}

// ---- capabilities ----

std::string capsOf(LaunchOutpost* so, const DiSOCapFlags& f) {
    DiSOPlatform p;
    so->DescribePlatform(&p);
    CQVLList<CCapability> list;
    so->AddDisplayItems(&list, f, p);
    so->AddTimeZoneItems(&list, p);
    so->AddProxyItems(&list);
    so->AddComputerItems(&list, p);
    so->FreePlatform(&p);
    std::string out;
    for (auto* n = list.head; n; n = n->next) {
        DiChar* t = n->item->ToText();
        out += narrow(t) + ";";
        free(t);
    }
    return out;
}

TEST_F(Requests, CapabilitiesFromInjectedDescriptions) {
    DiClientInfo client = {};
    client.platform = const_cast<DiChar*>(u"Win32");
    client.processor = const_cast<DiChar*>(u"x86");
    client.osMajor = 5;
    client.osMinor = 1;
    DdTimeZoneInfo tz = {};
    tz.bias = 60;
    tz.standardName = const_cast<char*>("Std");
    tz.daylightName = const_cast<char*>("Dst");
    tz.daylightOffset = -60;
    tz.daylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    tz.standardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    so->platform.client = &client;
    so->platform.timeZone = &tz;
    so->computerName = "PC1";
    DiSOCapFlags caps;
    caps.clientcaps = true;
    struct Row {
        uint32_t tzFlags;
        uint16_t os;
        std::vector<std::string> has, lacks;
    } rows[] = {
        {0,
         519,
         {"timezoneindst=false;timezonestd=Std;timezonestdoffset=60;", "osversion=WindowsXP;"},
         {"timezonedst", "timezonedaylightyear"}},
        {1,
         521,
         {"timezonedstoffset=-60;timezonedst=Dst;", "osversion=WindowsVista;"},
         {"timezonedaylightmonth"}},
        {3,
         523,
         {"timezonedaylightmonth=3;", "timezonestanarddayofweek=0;", "osversion=Windows;"},
         {"timezonestandarddayofweek"}},
        {7, 513, {"timezoneindst=true;", "osversion=Windows95;", "clientname=PC1;"}, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tzFlags);
        tz.flags = r.tzFlags;
        client.osCode = r.os;
        std::string list = capsOf(so, caps);
        for (const std::string& h : r.has)
            EXPECT_NE(list.find(h), std::string::npos) << h << "\n" << list;
        for (const std::string& l : r.lacks)
            EXPECT_EQ(list.find(l), std::string::npos) << l;
    }
    // Only a proxy route the outpost applied is announced.
    so->proxyHost = qvlStrDup(u"px");
    so->proxyPort = 3128;
    EXPECT_EQ(capsOf(so, caps).find("proxy"), std::string::npos) << "not applied yet";
    so->ApplyProxy();
    EXPECT_NE(capsOf(so, caps).find("proxyprotocol=http;proxyport=3128;proxyhost=px;"),
              std::string::npos);
    g_ddApp->proxyExceptions = qvlStrDup(u"other; S?V ");
    EXPECT_EQ(capsOf(so, caps).find("proxy"), std::string::npos) << "an excepted server";
    client.platform = const_cast<DiChar*>(u"Other");
    EXPECT_EQ(capsOf(so, caps).find("os="), std::string::npos);
    so->platform = DiSOPlatform();
    free(g_ddApp->proxyExceptions);
    g_ddApp->proxyExceptions = nullptr;
    diRouteFree(g_ddApp->opt.httpProxyRoute);
    free(g_ddApp->opt.httpProxyRoute);
    g_ddApp->opt.httpProxyRoute = nullptr;
}

// ---- the listener ----

CQVLHTTPPacket* parse(const std::string& bytes) {
    CQVLParser p(bytes.data(), bytes.size());
    return CQVLXMLParser::ParseHTTPPacket(&p);
}

TEST(ListenerAdmission, HostAndOriginDecideBeforeAnyHandler) {
    std::string body = std::string(kEnvelopeHead) + "<ns1:helperInit/>" + kEnvelopeTail;
    struct Row {
        const char* headers;
        bool get;
        bool allowed;
    } rows[] = {
        {"", false, true}, // helpers send neither
        {"Host: 127.0.0.1:4321\r\n", false, true},
        {"Host: LOCALHOST\r\n", false, true},
        {"host: [::1]:80\r\n", false, true},
        {"Host: evil.example\r\n", false, false},
        {"Host: 127.0.0.1.evil.example\r\n", false, false},
        {"Host: localhost:99999999\r\n", false, false},
        {"Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n", false, false},
        {"Origin: https://webtop.example:8443\r\n", false, true},
        {"Origin: HTTPS://WEBTOP.example:8443\r\n", false, true},
        {"Origin: https://evil.example\r\n", false, false},
        {"Origin: null\r\n", false, false},
        {"Origin: https://evil.example\r\n", true, true}, // a GET keeps only the Host rule
        {"Host: evil.example\r\n", true, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.headers);
        std::string bytes = r.get ? std::string("GET /poll?ID=1 HTTP/1.1\r\n") + r.headers + "\r\n"
                                  : std::string("POST / HTTP/1.1\r\n") + r.headers +
                                        "Content-Length: " + std::to_string(body.size()) +
                                        "\r\n\r\n" + body;
        CQVLHTTPPacket* h = parse(bytes);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(diListenerRequestAllowed(h, u"https://webtop.example:8443/hvn/x"), r.allowed);
        delete h;
    }
}

// The owner of an accepted connection is found in the system's TCP table:
// only the row of the peer's own end names it. Addresses and ports are in
// network byte order as the system gives them (x86: the low byte first).
TEST(ListenerOwner, OnlyThePeersOwnEndNamesItsProcess) {
    auto be16 = [](uint16_t v) { return uint16_t((v >> 8) | (v << 8)); };
    auto addr = [](uint8_t last) { return uint32_t(127) | uint32_t(last) << 24; };
    const DiTcpEnd ours = {addr(1), be16(4321)}, peer = {addr(1), be16(50000)};
    const DiTcpRow listening = {addr(1), be16(4321), 0, 0, 100};
    const DiTcpRow ourEnd = {addr(1), be16(4321), addr(1), be16(50000), 100};
    const DiTcpRow peerEnd = {addr(1), be16(50000), addr(1), be16(4321), 200};
    DiTcpRow garbageHigh = peerEnd, hostOrder = peerEnd, unnamed = peerEnd, other = peerEnd,
             otherAddr = peerEnd, otherListener = peerEnd;
    garbageHigh.localPort |= 0xABCD0000u;
    garbageHigh.remotePort |= 0x12340000u;
    hostOrder.localPort = 50000;
    hostOrder.remotePort = 4321;
    unnamed.pid = 0;
    other.pid = 300;
    otherAddr.localAddr = addr(2);
    otherAddr.pid = 300;
    otherListener.remotePort = be16(9999);
    otherListener.pid = 300;
    struct Row {
        const char* name;
        std::vector<DiTcpRow> table;
        uint32_t pid;
    } rows[] = {
        {"the peer's end among ours", {listening, ourEnd, peerEnd}, 200},
        {"undefined upper bits of the port words", {ourEnd, garbageHigh}, 200},
        {"ports in host byte order are other ports", {ourEnd, hostOrder}, 0},
        {"an end the system names no owner for; ours is no answer",
         {listening, ourEnd, unnamed},
         0},
        {"the same port on another address", {ourEnd, otherAddr}, 0},
        {"the peer's port towards another listener", {otherListener, peerEnd}, 200},
        {"the same end named twice alike", {peerEnd, unnamed, peerEnd}, 200},
        {"the same end named with two owners", {peerEnd, other}, 0},
        {"an empty table", {}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(diListenerPeerPid(r.table.data(), r.table.size(), ours, peer), r.pid);
    }
}

// Only the client's own user in its own session is served; an owner not
// named yet is waited for until the peer sends or closes; every refusal has
// a line for the event log naming the process when it is known.
TEST(ListenerOwner, OwnUserAndSessionServedEveryOtherRefusedAndSaid) {
    struct Row {
        DiPeerOwner owner;
        DiPeerVerdict early, final;
        const char16_t* says;
    } rows[] = {
        {{200, 1, 1}, DI_PEER_SERVE, DI_PEER_SERVE, nullptr},
        {{0, -1, -1},
         DI_PEER_WAIT,
         DI_PEER_REFUSE,
         u"the program at its other end could not be told."},
        {{200, 0, 1}, DI_PEER_REFUSE, DI_PEER_REFUSE, u"process 200 belongs to another user."},
        {{200, -1, 1},
         DI_PEER_REFUSE,
         DI_PEER_REFUSE,
         u"process 200 is of a user that could not be told."},
        {{200, 1, 0},
         DI_PEER_REFUSE,
         DI_PEER_REFUSE,
         u"process 200 runs in another Windows session."},
        {{4294967295u, 1, -1},
         DI_PEER_REFUSE,
         DI_PEER_REFUSE,
         u"process 4294967295 is in a Windows session that could not be told."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.owner.pid);
        EXPECT_EQ(diListenerJudgePeer(r.owner, false), r.early);
        EXPECT_EQ(diListenerJudgePeer(r.owner, true), r.final);
        if (r.says) {
            EXPECT_EQ(diListenerRefusalText(r.owner),
                      std::u16string(u"A connection to the local listener was refused: ") + r.says);
        }
    }
}

// What Windows would answer about processes, for the owner check: the
// successive reads of the table, each process's user and session.
struct FakeOwners : DiOwnerSystem {
    std::vector<std::vector<DiTcpRow>> reads; // the last one repeats
    std::map<uint32_t, std::string> users;    // processes that can be opened
    std::map<uint32_t, uint32_t> sessions;
    size_t tableReads = 0;
    int held = 0;
    bool TcpTable(std::vector<DiTcpRow>* rows) override {
        if (reads.empty()) return false;
        *rows = reads[std::min(tableReads++, reads.size() - 1)];
        return true;
    }
    uintptr_t OpenProcess(uint32_t pid) override {
        if (!users.count(pid)) return 0;
        held++;
        return pid;
    }
    void CloseProcess(uintptr_t) override {
        held--;
    }
    std::string ProcessUser(uintptr_t process) override {
        return users[uint32_t(process)];
    }
    std::string OwnUser() override {
        return "S-1-5-21-me";
    }
    bool ProcessSession(uint32_t pid, uint32_t* session) override {
        auto s = sessions.find(pid);
        if (s == sessions.end()) return false;
        *session = s->second;
        return true;
    }
    bool OwnSession(uint32_t* session) override {
        *session = 1;
        return true;
    }
};

// The Windows half of the decision with the system's answers as inputs:
// the token's user and the session decide, and the id found in the first
// read of the table must still own the peer's end in a second read made
// while the process is held open.
TEST(ListenerOwner, TheTokensUserAndTheSessionDecideWhileTheIdStillOwnsTheEnd) {
    auto be16 = [](uint16_t v) { return uint16_t((v >> 8) | (v << 8)); };
    const uint32_t lo = 127 | 1u << 24;
    const DiTcpConn conn = {{lo, be16(4321)}, {lo, be16(50000)}};
    auto peerEnd = [&](uint32_t pid) {
        return DiTcpRow{lo, be16(50000), lo, be16(4321), pid};
    };
    struct Row {
        const char* name;
        std::vector<std::vector<DiTcpRow>> reads;
        std::string user;
        int session; // -1: not told
        DiPeerOwner owner;
        size_t tableReads;
    } rows[] = {
        {"the client's user in its session", {{peerEnd(200)}}, "S-1-5-21-me", 1, {200, 1, 1}, 2},
        {"another user", {{peerEnd(200)}}, "S-1-5-21-other", 1, {200, 0, 1}, 2},
        {"another session", {{peerEnd(200)}}, "S-1-5-21-me", 2, {200, 1, 0}, 2},
        {"a user that cannot be read", {{peerEnd(200)}}, "", 1, {200, -1, 1}, 2},
        {"a session that cannot be told", {{peerEnd(200)}}, "S-1-5-21-me", -1, {200, 1, -1}, 2},
        {"the id passed to another process between the reads",
         {{peerEnd(200)}, {peerEnd(300)}},
         "S-1-5-21-me",
         1,
         {200, -1, -1},
         2},
        {"the end gone at the second read", {{peerEnd(200)}, {}}, "S-1-5-21-me", 1, {200, -1, -1}, 2},
        {"no owner named: one read", {{peerEnd(0)}}, "S-1-5-21-me", 1, {0, -1, -1}, 1},
        {"a table that cannot be read", {}, "S-1-5-21-me", 1, {0, -1, -1}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FakeOwners sys;
        sys.reads = r.reads;
        sys.users[200] = r.user;
        if (r.session >= 0) sys.sessions[200] = uint32_t(r.session);
        sys.users[300] = "S-1-5-21-me";
        sys.sessions[300] = 1;
        DiPeerOwner owner = {};
        diListenerFindOwners(&sys, &conn, 1, &owner);
        EXPECT_EQ(owner.pid, r.owner.pid);
        EXPECT_EQ(owner.sameUser, r.owner.sameUser);
        EXPECT_EQ(owner.sameSession, r.owner.sameSession);
        EXPECT_EQ(sys.tableReads, r.tableReads);
        EXPECT_EQ(sys.held, 0) << "every process opened is closed";
    }
}

// Two reads of the table serve a whole batch, however many connections it
// holds and however large the table is.
TEST(ListenerOwner, OneBatchTwoReadsOfTheTable) {
    auto be16 = [](uint16_t v) { return uint16_t((v >> 8) | (v << 8)); };
    const uint32_t lo = 127 | 1u << 24;
    FakeOwners sys;
    std::vector<DiTcpRow> table;
    std::vector<DiTcpConn> conns;
    for (uint32_t i = 0; i < 3000; i++) { // strangers' connections elsewhere
        table.push_back({lo, be16(uint16_t(20000 + i)), lo, be16(80), 900 + i});
        table.push_back({lo, be16(80), lo, be16(uint16_t(20000 + i)), 901 + i});
    }
    for (uint32_t i = 0; i < 100; i++) {
        uint16_t port = uint16_t(50000 + i);
        table.push_back({lo, be16(port), lo, be16(4321), i % 2 ? 200u : 300u});
        conns.push_back({{lo, be16(4321)}, {lo, be16(port)}});
    }
    conns.push_back({{lo, be16(4321)}, {lo, be16(60000)}}); // owner not named
    sys.reads = {table};
    sys.users = {{200, "S-1-5-21-me"}, {300, "S-1-5-21-other"}};
    sys.sessions = {{200, 1}, {300, 1}};
    std::vector<DiPeerOwner> owners(conns.size());
    diListenerFindOwners(&sys, conns.data(), conns.size(), owners.data());
    EXPECT_EQ(sys.tableReads, 2u);
    for (size_t i = 0; i < 100; i++) {
        EXPECT_EQ(owners[i].pid, i % 2 ? 200u : 300u);
        EXPECT_EQ(owners[i].sameUser, i % 2 ? 1 : 0);
    }
    EXPECT_EQ(owners[100].pid, 0u);
    EXPECT_EQ(sys.held, 0);
}

// Silent strangers hold at most the gate's places, for at most its time;
// when all are taken, the newcomer takes the place of the one that waited
// longest, so a program that speaks after a while still gets its turn.
TEST(ListenerGate, SixteenPlacesForAFewSecondsTheLongestWaitingGivesWay) {
    DiListenerGate gate;
    int conns[40];
    for (size_t i = 0; i < DiListenerGate::kPlaces; i++)
        EXPECT_EQ(gate.Hold(&conns[i], 1000 + uint32_t(i)), nullptr);
    EXPECT_EQ(gate.Count(), DiListenerGate::kPlaces);
    EXPECT_EQ(gate.Hold(&conns[16], 2000), &conns[0]);
    EXPECT_EQ(gate.Hold(&conns[17], 2001), &conns[1]);
    EXPECT_EQ(gate.Count(), DiListenerGate::kPlaces);
    EXPECT_TRUE(gate.Release(&conns[5]));
    EXPECT_FALSE(gate.Release(&conns[5]));
    EXPECT_EQ(gate.Hold(&conns[18], 2002), nullptr) << "a freed place is taken without refusing";
    EXPECT_TRUE(gate.Expired(1000 + DiListenerGate::kWaitMs - 1).empty());
    std::vector<void*> out = gate.Expired(1003 + DiListenerGate::kWaitMs);
    EXPECT_EQ(out, (std::vector<void*>{&conns[2], &conns[3]}));
    EXPECT_EQ(gate.Count(), DiListenerGate::kPlaces - 2);
    // Across the wrap of the millisecond counter.
    DiListenerGate wrap;
    wrap.Hold(&conns[30], 0xFFFFFF00u);
    EXPECT_TRUE(wrap.Expired(0x10u).empty());
    EXPECT_EQ(wrap.Expired(0xFFFFFF00u + DiListenerGate::kWaitMs).size(), 1u);
}

// A flood of refusals writes a line per reason and process at most once a
// minute; the next line says how many refusals it stands for, and refusals
// counted quietly are said once their minute has passed.
TEST(ListenerRefusals, OncePerReasonAndProcessAMinuteWithACount) {
    const DiPeerOwner unknown = {0, -1, -1}, other = {200, 0, 1}, session = {200, 1, 0},
                      third = {300, 0, 1};
    const std::u16string head = u"A connection to the local listener was refused: ";
    DiRefusalLog log;
    EXPECT_EQ(log.Refused(unknown, 0), head + u"the program at its other end could not be told.");
    EXPECT_EQ(log.Refused(other, 1), head + u"process 200 belongs to another user.");
    EXPECT_EQ(log.Refused(session, 2), head + u"process 200 runs in another Windows session.");
    EXPECT_EQ(log.Refused(third, 3), head + u"process 300 belongs to another user.");
    for (uint32_t t = 10; t < 3010; t++)
        EXPECT_EQ(log.Refused(unknown, t), u"");
    EXPECT_EQ(log.Refused(other, 50), u"");
    EXPECT_TRUE(log.Pending());
    EXPECT_TRUE(log.Due(DiRefusalLog::kQuietMs - 1).empty());
    EXPECT_EQ(log.Refused(unknown, DiRefusalLog::kQuietMs),
              head + u"the program at its other end could not be told. This line stands for "
                     u"3001 refused connections.");
    EXPECT_EQ(log.Due(DiRefusalLog::kQuietMs + 1),
              std::vector<std::u16string>{head + u"process 200 belongs to another user."});
    EXPECT_FALSE(log.Pending());
    // Past the kinds it keeps apart, further processes share one line.
    DiRefusalLog many;
    for (uint32_t pid = 1; pid <= DiRefusalLog::kKinds; pid++)
        EXPECT_NE(many.Refused({pid, 0, 1}, 0), u"");
    EXPECT_EQ(many.Refused({9001, 0, 1}, 1),
              u"Connections to the local listener were refused: 1 of further processes since "
              u"the last such line.");
    EXPECT_EQ(many.Refused({9002, 0, 1}, 2), u"");
    EXPECT_EQ(many.Due(DiRefusalLog::kQuietMs + 1).size(), 1u);
}

TEST_F(Requests, ForeignPagesGet403AndChangeNothing) {
    so->connectionState = DI_SO_NOT_CONNECTED;
    free(so->server);
    so->server = nullptr;
    const char* foreign[] = {"Host: evil.example\r\n", "Origin: https://evil.example\r\n",
                             "Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n"};
    for (const char* headers : foreign) {
        SCOPED_TRACE(headers);
        CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
        so->helpers.Append(helper, false);
        DdSocket* s = helper->channel->socket;
        int connects = g_fakeRoutes.connectCalls;
        g_fakeNet.incoming.push_back(request(
            "helperInit", str("server", "evil") + num("port", 9) + str("proxyserver", "evil"), "1",
            headers));
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&helper->channel->hdr, &ev);
        EXPECT_EQ(g_fakeNet.sentBy[s].compare(0, 24, "HTTP/1.1 403 Forbidden\r\n"), 0)
            << g_fakeNet.sentBy[s];
        EXPECT_NE(g_fakeNet.sentBy[s].find("Content-Length: 0"), std::string::npos);
        EXPECT_EQ(so->server, nullptr) << "no handler ran";
        EXPECT_EQ(g_fakeRoutes.connectCalls, connects);
        EXPECT_EQ(so->helpers.count, 0u) << "closed";
    }
}

// ---- tokens for helper pages ----

TEST(LaunchTexts, TokensStayInsideTheirScriptStringAndQuery) {
    struct Row {
        const char16_t* token;
        const char* js;
        const char* query;
    } rows[] = {
        {u"abc-9", "abc-9", "abc-9"},
        {u"a\"b", "a\\u0022b", "a%22b"},
        {u"x');alert(1)//", "x\\u0027);alert(1)//", "x%27%29%3Balert%281%29%2F%2F"},
        {u"</script>", "\\u003c/script\\u003e", "%3C%2Fscript%3E"},
        {u"a\\b", "a\\u005cb", "a%5Cb"},
        {u"50%", "50%25", "50%25"},
        {u"t\nu", "t\\u000au", "t%0Au"},
        {u"&x=1", "&x=1", "%26x%3D1"},
        {u"\u00e9", "\xc3\xa9", "%C3%A9"},
    };
    for (const Row& r : rows) {
        DiChar* js = diLaunchJsToken(r.token);
        DiChar* q = diLaunchUrlToken(r.token);
        std::string jsText;
        for (const DiChar* p = js; *p; p++)
            jsText += *p < 0x80 ? std::string(1, char(*p)) : std::string("\xc3\xa9");
        EXPECT_EQ(jsText, r.js);
        EXPECT_EQ(narrow(q), r.query);
        free(js);
        free(q);
    }
}

TEST_F(Requests, RestartEventSendsTheEscapedTokenToTheRestartHelper) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    helper->helperId = qvlStrDup(u"h1");
    so->helpers.Append(helper, false);
    struct Row {
        const char* url;
        const char* sent;
        const char* logged; // the 364 line: the token's value masked
    } rows[] = {
        {"javascript:Go", "javascript:Go(4321, &quot;&quot;, &quot;a\\u0022;b%25&quot;);",
         "364 javascript:Go(4321, \"\", \"***\");"},
        {"http://w/p?x=1",
         "http://w/p?x=1&amp;soport=4321&amp;clientip=&amp;connectiontoken=a%22%3Bb%25",
         "364 http://w/p?x=1&soport=4321&clientip=&connectiontoken=***"},
    };
    for (const Row& r : rows) {
        free(so->restartData.url);
        so->restartData.url = qvlStrDup(wide(r.url).c_str());
        free(so->restartData.helperId);
        so->restartData.helperId = qvlStrDup(u"h1");
        g_fakeNet.sentBy[helper->channel->socket].clear();
        arrive(request("restartEvent", str("connectiontoken", "a&quot;;b%"), "5"));
        std::string sent = g_fakeNet.sentBy[helper->channel->socket];
        EXPECT_NE(sent.find(r.sent), std::string::npos) << sent;
        EXPECT_EQ(log.Count(r.logged), 1u) << r.logged;
        EXPECT_EQ(log.Count("364", "b%"), 0u);
        log.lines.clear();
    }
}

// Without the restart helper only a session the start opened in the browser
// answers the fault; any other start reports the lost connection (here no
// integrated client takes the restart).
TEST_F(Requests, RestartEventWithoutItsHelperFaultsOnlyForABrowserStart) {
    struct Row {
        int32_t startMode;
        bool browserOpened;
    } rows[] = {{3, false}, {2, false}, {4, true}};
    g_ddApp->opt.loginUrl = qvlStrDup(u"http://w/hvn/");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.startMode);
        so->startMode = r.startMode;
        so->launchBrowser = r.browserOpened;
        so->ending = 0;
        so->events.clear();
        ASSERT_TRUE(so->Start());
        arrive(request("restartEvent", str("connectiontoken", "t"), "5"));
        EXPECT_EQ(count(toServer(), "Client.NoHelperConnection"), r.browserOpened ? 1u : 0u);
        EXPECT_EQ(std::count(so->events.begin(), so->events.end(), "end"), r.browserOpened ? 0 : 1);
    }
    free(g_ddApp->opt.loginUrl);
    g_ddApp->opt.loginUrl = nullptr;
}

} // namespace

namespace {

// ---- the end of a session and helpers' pages ----

// The end of a session waits up to 5 s for a helper to fetch its pending
// page; a fetch that leaves none pending ends it at once, another re-arms.
TEST_F(Requests, SessionEndWaitsForHelpersToFetchTheirPages) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    so->helpers.Append(helper, false);
    struct Row {
        int kept, polls;
        uint32_t endsAfter; // ms after the logout
    } rows[] = {{0, 0, 0}, {1, 0, 5000}, {1, 1, 0}, {2, 1, 5000}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.kept) + " kept, " + std::to_string(r.polls) + " polls");
        so->ending = 0;
        so->events.clear();
        for (int i = 0; i < r.kept; i++)
            arrive(request("webserver",
                           str("url", "http://u/") + str("frame", "f") + str("helperid", "h9"),
                           "4"));
        arrive(request("logout", "", "5"));
        for (int i = 0; i < r.polls; i++)
            so->ServePoll(helper, u"h9");
        auto ends = [&] { return std::count(so->events.begin(), so->events.end(), "end"); };
        if (r.endsAfter) {
            EXPECT_EQ(ends(), 0);
            runTimers(r.endsAfter - 1);
            EXPECT_EQ(ends(), 0);
            runTimers(1);
        }
        EXPECT_EQ(ends(), 1);
        EXPECT_EQ(so->helperWaitTimer, nullptr);
        while (so->pendingEventCount)
            so->ServePoll(helper, u"h9");
    }
}

// A kept event that is no web address is dropped with a log line when its
// helper polls; the helper's next event is served in its place.
TEST_F(Requests, PollServesOnlyWebAddresses) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    so->helpers.Append(helper, false);
    for (const char* url : {"javascript:alert(1)", "http://web/next"})
        arrive(
            request("webserver", str("url", url) + str("frame", "f") + str("helperid", "h9"), "4"));
    std::string& sent = g_fakeNet.sentBy[helper->channel->socket];
    sent.clear();
    so->ServePoll(helper, u"h9");
    EXPECT_NE(sent.find("http://web/next"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("javascript"), std::string::npos) << sent;
    EXPECT_EQ(log.Count("304"), 1u);
    EXPECT_EQ(so->pendingEventCount, 0);
}

// ---- helper init: proxy and base route ----

TEST_F(Requests, HelperProxyIsTakenUnlessTheProfileChoseOne) {
    CMemProfileStore store;
    store.exists = true;
    store.Load(u"Default");
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    so->helpers.Append(helper, false);
    struct Row {
        const char* profileProxy; // the profile's "proxy", or none
        std::string params;
        const char* host; // the outpost's proxy afterwards
        int32_t port;
        bool saved;
    } rows[] = {
        {nullptr, str("proxyserver", "p1") + num("proxyport", 8080) + str("proxytype", "HTTP"),
         "p1", 8080, true},
        {nullptr, str("proxyserver", "p1") + num("proxyport", 8080) + str("proxytype", "HTTP"),
         "p1", 8080, false}, // unchanged: nothing stored
        {"browser", str("proxyserver", "p2") + num("proxyport", 70000), "p2", 0, true},
        {"browser", "", "", 0, true}, // an absent proxy clears it
        {"specify", str("proxyserver", "evil") + num("proxyport", 1), "", 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.params);
        std::u16string profile = u"<profile name=\"Default\">";
        if (r.profileProxy) profile += u"<proxy>" + wide(r.profileProxy) + u"</proxy>";
        store.SaveLogin(u"srv", u"", nullptr, nullptr, 0, nullptr,
                        (profile + u"</profile>").c_str(), nullptr);
        size_t saves = store.saved.size();
        g_fakeNet.incoming.push_back(request("helperInit", r.params, "1"));
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&helper->channel->hdr, &ev);
        EXPECT_EQ(narrow(so->proxyHost), r.host);
        EXPECT_EQ(so->proxyPort, r.port);
        EXPECT_EQ(store.saved.size() > saves, r.saved);
        DiChar last[64];
        if (r.saved) {
            EXPECT_TRUE(so->ProfileValue(u"lastproxyhost", last, 64));
            EXPECT_EQ(narrow(last), r.host);
        }
    }
    for (DiRoute** route : {&g_ddApp->opt.socksRoute, &g_ddApp->opt.httpProxyRoute}) {
        if (*route) diRouteFree(*route);
        free(*route);
        *route = nullptr;
    }
}

TEST_F(Requests, HelperBaseRouteOnlyBeforeTheFirstConnection) {
    CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
    so->helpers.Append(helper, false);
    struct Row {
        int32_t state;
        const char* route;
        bool kept;
        const char* logged;
    } rows[] = {
        {DI_SO_CONNECTED, "CTSOCKS:h:1080", false, nullptr},
        {DI_SO_NOT_CONNECTED, "CTSOCKS:a:1@CTHTTP:b:2@CTSOCKS:c:3", false, "469"},
        {DI_SO_NOT_CONNECTED, "CTSOCKS:h:1080", true, "468"},
        {DI_SO_NOT_CONNECTED, "CTSOCKS:other:1080", true, nullptr}, // the first one stays
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.route);
        so->connectionState = r.state;
        log.lines.clear();
        g_fakeNet.incoming.push_back(request("helperInit", str("baseroute", r.route), "1"));
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&helper->channel->hdr, &ev);
        EXPECT_EQ(so->baseRoute != nullptr, r.kept);
        if (r.logged) {
            EXPECT_EQ(log.Count(r.logged), 1u);
        }
        if (r.kept) {
            EXPECT_EQ(narrow(so->baseRoute->first->route->host), "h");
        }
    }
}

} // namespace
