// The outpost's requests with arbitrary parameters: the first byte picks
// the method (and whether a helper or the server sends it), then each
// parameter is a name from the requests' and launches' names, a type and a
// value. Launches really start (frames, engine channels, the connect
// request) on the faked layers, and every timer runs. Every packet the
// client sends back must parse again. A helper request also carries
// arbitrary Host, Origin and Message-Id headers. A server packet without a
// Message-Id may be sent 80 times with new ones. The target runs with a
// memory limit (see CMakeLists.txt): what a packet may leave behind is
// capped.
#include "core/dilog.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/route_fakes.h"
#include "net/diroute.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "ui/diui.h"
#include "xml/qvlxmlglobals.h"
#include "xml/qvlxmlparser.h"

#include <string>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

uint32_t g_now = 1;
uint32_t fuzzClock() {
    return g_now;
}

struct FuzzOutpost : CServerOutpost {
    explicit FuzzOutpost(const DiSOOptions& o) : CServerOutpost(o) {}
    int32_t OpenListener() override { return 1; }
    bool RunLocal(const DiChar*, const DiChar*, const DiChar* line) override { return !line; }
};

const char* const kServerMethods[] = {"clientCapabilities",
                                      "webserver",
                                      "requestLaunch",
                                      "doLaunch",
                                      "startCdm",
                                      "doCdm",
                                      "print",
                                      "doprint",
                                      "logout",
                                      "security",
                                      "cancelLaunch",
                                      "restartData",
                                      "restartEvent",
                                      "reconnectData",
                                      "document",
                                      "setState",
                                      "getState",
                                      "token",
                                      "setuicomponent",
                                      "triggeruicomponent",
                                      "userinfo",
                                      "keepAlive",
                                      "automaticLogin",
                                      "profileUpdate",
                                      "doAudio",
                                      "doSCard",
                                      "doIO",
                                      "registerConnectionLost",
                                      "notifyApplicationsEnded"};
const char* const kHelperMethods[] = {"helperInit", "helperLaunchReady", "helperAgedPassword"};

const char* const kNames[] = {"all",
                              "print",
                              "audio",
                              "cdm",
                              "smartcard",
                              "io",
                              "clientcaps",
                              "launch",
                              "profile",
                              "helperid",
                              "url",
                              "frame",
                              "jobname",
                              "name",
                              "securitylevel",
                              "server",
                              "connectioncookie",
                              "port",
                              "transactionid",
                              "sessionid",
                              "newsessionid",
                              "security",
                              "connectiontoken",
                              "logging",
                              "reconnect",
                              "reconnectattempts",
                              "reconnectwait",
                              "printstate",
                              "component",
                              "state",
                              "shortname",
                              "fullname",
                              "array",
                              "timeout",
                              "token",
                              "drxclientid",
                              "profiles",
                              "notify",
                              "mrkqvlwebtopsessionname",
                              "cn",
                              "helperrequestid",
                              "window",
                              "inplace",
                              "text",
                              "objectclass",
                              "mrkqvlapplicationplacement",
                              "mrkqvlsessionid",
                              "mrkqvlsessioncookie",
                              "mrkqvlsessionexternaldnsname",
                              "mrkqvlsessionpeerdnsname",
                              "mrkqvlsessionowner",
                              "mrkqvlsessionport",
                              "mrkqvlsessionappname",
                              "mrkqvlsessionwidth",
                              "mrkqvlsessionheight",
                              "mrkqvlshowlaunchdialogafter",
                              "mrkqvllaunchdetailsshowonerror",
                              "requesttransactionid",
                              "locallaunchcommand",
                              "locallauncharguments",
                              "override",
                              "mrkqvlscalable",
                              "mrkqvlsessionsecurity",
                              "connectionid",
                              "proxyserver",
                              "proxyport",
                              "proxytype",
                              "baseroute"};
const char* const kWords[] = {"mrkqvlxapplication",
                              "mrkqvlcharacterapplication",
                              "awtwindow",
                              "kiosk",
                              "localx",
                              "multiplewindows",
                              "mainbrowser",
                              "mrkqvltrylocalwindowsapplication",
                              "javascript:f",
                              "true",
                              "hosts",
                              "runs",
                              "ssl",
                              "logging_all",
                              "127.0.0.1"};
const char* const kTypes[] = {"xsd:string", "xsd:int", "xsd:boolean", "xsd:short", "xsd:float"};

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t byte() {
        if (!n) return 0;
        n--;
        return *p++;
    }
};

std::string escaped(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '&')
            out += "&amp;";
        else if (c >= 0x20 || c == '\t')
            out += char(c);
        else
            out += "&#" + std::to_string(c ? c : 1) + ";";
    }
    return out;
}

std::string value(Input& in, uint8_t type) {
    uint8_t kind = in.byte();
    if (type == 1 || type == 3) {
        int32_t v = int32_t(uint32_t(in.byte()) << 24 | uint32_t(in.byte()) << 16 |
                            uint32_t(in.byte()) << 8 | in.byte());
        return std::to_string(kind & 1 ? v : v % 70000);
    }
    if (kind < 96) return kWords[kind % (sizeof kWords / sizeof *kWords)];
    std::string s;
    for (size_t len = in.byte() % 80; len && in.n; len--)
        s += char(in.byte());
    return escaped(s);
}

std::string packetOf(Input& in, bool helper, std::string* headers, uint8_t* flags) {
    uint8_t m = in.byte();
    const char* method = helper ? kHelperMethods[m % 3] : kServerMethods[m % 29];
    std::string params;
    for (int count = in.byte() % 12; count > 0 && in.n; count--) {
        const char* name = kNames[in.byte() % (sizeof kNames / sizeof *kNames)];
        uint8_t type = in.byte() % 5;
        params += std::string("<") + name + " xsi:type=\"" + kTypes[type] + "\">" +
                  value(in, type) + "</" + name + ">";
    }
    uint8_t h = *flags = in.byte();
    if (h & 1) *headers += "Message-Id: " + std::to_string(in.byte() % 8) + "\r\n";
    if (helper && (h & 2))
        *headers += std::string("Host: ") + (h & 4 ? "127.0.0.1:1" : "evil") + "\r\n";
    if (helper && (h & 8)) *headers += "Host: localhost\r\n";
    if (helper && (h & 16)) *headers += "Origin: http://x\r\n";
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                       "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "xmlns:xsi=\"http://www.w3.org/1999/XMLSchema-instance\" "
                       "xmlns:xsd=\"http://www.w3.org/1999/XMLSchema\"><SOAP-ENV:Body><ns1:" +
                       std::string(method) + " xmlns:ns1=\"urn:quorvellan-serveroutpost\">" +
                       params + "</ns1:" + method + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return "POST /quorvellan/soap HTTP:/1.1\r\n" + *headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void deliver(DiChannel* ch, const std::string& bytes) {
    g_fakeNet.incoming.push_back(bytes);
    DiEvent ev = {};
    ev.w[0] = DI_EV_READABLE;
    diUIDeliverEvent(&ch->hdr, &ev);
    g_fakeNet.incoming.clear();
    g_fakeNet.offset = 0;
}

// Every SOAP packet the client wrote parses back as HTTP and SOAP.
void parsesBack(const std::string& sent) {
    size_t at = 0;
    while (at < sent.size()) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(sent.data()) + at;
        int64_t size = diVAIPPacketSize(bytes, sent.size() - at);
        if (size <= 0 || uint64_t(size) > sent.size() - at) __builtin_trap();
        std::string one = sent.substr(at, size_t(size));
        at += size_t(size);
        if (one.find("SOAP-ENV:Envelope") == std::string::npos) continue;
        CQVLParser p(one.data(), one.size());
        CQVLHTTPPacket* http = CQVLXMLParser::ParseHTTPPacket(&p);
        CQVLSOAPPacket* soap = http ? CQVLSOAPPacket::FromHTTP(http) : nullptr;
        if (!soap) __builtin_trap();
        delete soap;
        delete http;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fakesReset();
    routeFakesReset();
    g_fakeChannels.soapCtor = diVAIPChannelNew;
    g_fakeChannels.soapDtor = diVAIPChannelDelete;
    g_fakeChannels.ctorSucceeds = true;
    g_fakeChannels.bufferLimit = 0x10000;
    diDEClock = fuzzClock;
    Input in{data, size};
    {
        DiSOOptions o;
        o.server = u"srv";
        o.port = 1;
        o.connectionCookie = u"ck";
        FuzzOutpost so(o);
        so.userInfo[DI_SO_FULLNAME] = qvlStrDup(u"F");
        so.listeningPort = 4321;
        if (!so.ConnectOnce()) return 0;
        CHelperConnection* helper = new CHelperConnection(ddNetSocketCreate());
        so.helpers.Append(helper, false);
        DdSocket* helperSocket = helper->channel->socket;
        for (int packets = 0; packets < 8 && in.n; packets++) {
            bool fromHelper = in.byte() & 1;
            std::string headers;
            uint8_t flags = 0;
            std::string bytes = packetOf(in, fromHelper, &headers, &flags);
            DiChannel* ch = fromHelper
                                ? (so.helpers.head ? helper->channel : nullptr)
                                : (so.serverConnection ? so.serverConnection->channel : nullptr);
            /* A server packet without a message id may come again and
             * again, each time with a new one: enough launch requests to
             * pass the cap of those that wait. */
            int copies = !fromHelper && (flags & 32) && !(flags & 1) ? 80 : 1;
            for (int k = 0; ch && k < copies; k++) {
                std::string copy = bytes;
                if (k)
                    copy.insert(copy.find("\r\n") + 2,
                                "Message-Id: c" + std::to_string(k) + "\r\n");
                deliver(ch, copy);
            }
            g_now += 1 + in.byte() * 1000u;
            diTimerDispatch(g_now);
            if (so.launchRequests.count > DI_SO_MAX_LAUNCH_REQUESTS ||
                so.launches.count > DI_SO_MAX_LAUNCHES)
                __builtin_trap();
        }
        DiChannel* server = so.serverConnection ? so.serverConnection->channel : nullptr;
        if (server) parsesBack(g_fakeNet.sentBy[server->socket]);
        if (so.helpers.head) parsesBack(g_fakeNet.sentBy[helperSocket]);
        so.Stop();
    }
    /* A proxy a helper reported became a default route of the application. */
    for (DiRoute** r : {&g_ddApp->opt.socksRoute, &g_ddApp->opt.httpProxyRoute}) {
        if (!*r) continue;
        diRouteFree(*r);
        free(*r);
        *r = nullptr;
    }
    while (DiFrame* f = diUIFrameListHead())
        diUIDestroyFrame(f);
    return 0;
}
