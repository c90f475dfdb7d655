// An outpost on the faked socket and window layers for the tests of its
// requests and launches: server packets built from parts, a log that keeps
// every entry's text, messages that read as their number (with their
// arguments for the few whose texts the tests read), and an outpost that
// records what it asks of the platform.
#ifndef HV_TESTS_OUTPOST_FIXTURE_H
#define HV_TESTS_OUTPOST_FIXTURE_H

#include <gtest/gtest.h>

#include "core/dilog.h"
#include "core/disysinfo.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/route_fakes.h"
#include "session/dicapability.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "xml/qvlxmlglobals.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace outpost_fixture {

inline std::string narrow(const DiChar* s) {
    std::string r;
    for (; s && *s; s++)
        r += *s < 0x80 ? char(*s) : '?';
    return r;
}

inline std::u16string wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// Message N reads "N", followed by its arguments for those listed here.
inline bool messageLoader(uint32_t message, DiChar* out, size_t size) {
    static const std::map<uint32_t, std::string> formats = {{386, "386 %1$s: %2$s > %3$s"},
                                                            {354, "354 %1$s:%2$d"},
                                                            {384, "384 %1$s"},
                                                            {376, "376 %s"},
                                                            {377, "377 %s"},
                                                            {370, "370 %s"},
                                                            {371, "371 %s"},
                                                            {364, "364 %1$s %2$s %3$s"},
                                                            {452, "452 %1$s %2$s"},
                                                            {463, "463 %1$s %2$d %3$d"}};
    auto it = formats.find(message);
    std::string n = it != formats.end() ? it->second : std::to_string(message);
    if (n.size() + 1 > size) return false;
    for (size_t i = 0; i <= n.size(); i++)
        out[i] = DiChar(i < n.size() ? n[i] : 0);
    return true;
}

struct CaptureLog : CLog {
    std::vector<std::string> lines;
    CaptureLog() { level = DI_LOG_INFO; }
    void WriteEntry(CLogEntry* e) override { lines.push_back(narrow(e->text)); }
    // Lines that begin with prefix and hold part.
    size_t Count(const std::string& prefix, const std::string& part) const {
        size_t n = 0;
        for (const std::string& l : lines)
            n += l.compare(0, prefix.size(), prefix) == 0 && l.find(part) != std::string::npos;
        return n;
    }
    size_t Count(const std::string& prefix) const {
        size_t n = 0;
        for (const std::string& l : lines)
            n += l.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
};

struct LaunchOutpost : CServerOutpost {
    std::vector<std::string> events;
    DiSOPlatform platform; // copied into every description (texts not owned)
    std::string computerName;
    bool runs = true;
    explicit LaunchOutpost(const DiSOOptions& o) : CServerOutpost(o) {}
    int32_t OpenListener() override { return 4321; }
    void EndSession() override {
        ending = 1;
        events.push_back("end");
    }
    bool browserOpens = true;
    bool OpenBrowser(const DiChar* url) override {
        events.push_back("browser " + narrow(url));
        return browserOpens;
    }
    std::function<void()> duringBox;
    void ShowWarning(const DiChar*, const DiChar* text) override {
        events.push_back("warning " + narrow(text));
        if (duringBox) duringBox();
    }
    void EndHeldSession() override { events.push_back("held end"); }
    void DescribePlatform(DiSOPlatform* p) override {
        *p = platform;
        p->timeZone = nullptr;
        p->keyboard = nullptr;
        if (platform.timeZone) {
            p->timeZone = static_cast<DdTimeZoneInfo*>(calloc(1, sizeof(DdTimeZoneInfo)));
            *p->timeZone = *platform.timeZone;
            p->timeZone->standardName =
                platform.timeZone->standardName ? strdup(platform.timeZone->standardName) : nullptr;
            p->timeZone->daylightName =
                platform.timeZone->daylightName ? strdup(platform.timeZone->daylightName) : nullptr;
        }
        if (!computerName.empty()) p->computerName = qvlStrDup(wide(computerName).c_str());
    }
    bool RunLocal(const DiChar* command, const DiChar* arguments,
                  const DiChar* commandLine) override {
        events.push_back("run " + narrow(command) + "|" + narrow(arguments) + "|" +
                         narrow(commandLine));
        return runs;
    }
    void RaiseFrame(DiFrame*) override { events.push_back("raise frame"); }
    void ShowEngineWindows(DiChannel*) override { events.push_back("show engine windows"); }
    void SetFrameTitle(DiFrame*, const DiChar* title) override {
        events.push_back("title " + narrow(title));
    }
    void ShowObject(DiObject* obj) override {
        events.push_back(obj->type == DI_OBJ_PROGRESS ? "show progress" : "show frame");
    }
    bool AttachScaler(DiFrame*, DiObject* engine) override {
        events.push_back("scaler");
        engine->scalingAllowed = 1;
        return true;
    }
    void SetUIComponent(const DiChar* c, const DiChar* s) override {
        events.push_back("ui " + narrow(c) + " " + narrow(s));
    }
    const DiDeviceList* devices = nullptr; // what the device channel announces
    const DiDeviceList* DeviceList() override { return devices; }
};

const char kEnvelopeHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                             "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                             "xmlns:xsi=\"http://www.w3.org/1999/XMLSchema-instance\" "
                             "xmlns:xsd=\"http://www.w3.org/1999/XMLSchema\"><SOAP-ENV:Body>";
const char kEnvelopeTail[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

// A server request; an empty id sends no Message-Id header.
inline std::string request(const std::string& method, const std::string& params,
                           const std::string& id, const std::string& extraHeaders = "") {
    std::string body = kEnvelopeHead +
                       ("<ns1:" + method + " xmlns:ns1=\"urn:quorvellan-serveroutpost\">" + params +
                        "</ns1:" + method + ">") +
                       kEnvelopeTail;
    return "POST /quorvellan/soap HTTP:/1.1\r\n" + extraHeaders +
           (id.empty() ? "" : "Message-Id: " + id + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
inline std::string str(const std::string& name, const std::string& v) {
    return "<" + name + " xsi:type=\"xsd:string\">" + v + "</" + name + ">";
}
inline std::string num(const std::string& name, long v) {
    return "<" + name + " xsi:type=\"xsd:int\">" + std::to_string(v) + "</" + name + ">";
}
inline size_t count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        n++;
    return n;
}

inline uint32_t& clockNow() {
    static uint32_t now = 5000;
    return now;
}
inline uint32_t readClock() {
    return clockNow();
}

// The outpost connected to its server, a log, a manual timer clock.
struct OutpostTest : ::testing::Test {
    LaunchOutpost* so = nullptr;
    CaptureLog log;
    uint32_t (*savedClock)() = nullptr;
    void SetUp() override {
        savedClock = diDEClock;
        diDEClock = readClock;
        fakesReset();
        routeFakesReset();
        g_fakeChannels.soapCtor = diVAIPChannelNew;
        g_fakeChannels.soapDtor = diVAIPChannelDelete;
        g_fakeChannels.ctorSucceeds = true;
        g_fakeChannels.bufferLimit = 0x10000;
        diLogSetMessageLoader(messageLoader);
        diLogSet(&log);
        DiSOOptions o;
        o.server = u"srv";
        o.port = 4000;
        o.connectionCookie = u"ck";
        so = new LaunchOutpost(o);
        so->listeningPort = 4321;
        so->userInfo[DI_SO_FULLNAME] = qvlStrDup(u"Ann Example");
        ASSERT_TRUE(so->ConnectOnce());
        g_fakeNet.sent.clear();
        g_fakeNet.sentBy.clear();
    }
    void TearDown() override {
        delete so;
        diLogSet(nullptr);
        diLogSetMessageLoader(nullptr);
        EXPECT_EQ(diDEChannelCount(), 0);
        diDEClock = savedClock;
    }
    DiChannel* server() { return so->serverConnection ? so->serverConnection->channel : nullptr; }
    // The server sends bytes; the socket announces them once.
    void arrive(const std::string& bytes) {
        g_fakeNet.incoming.push_back(bytes);
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        if (server()) diUIDeliverEvent(&server()->hdr, &ev);
    }
    // What went to the server since the last call.
    std::string toServer() {
        std::string s = server() ? g_fakeNet.sentBy[server()->socket] : std::string();
        if (server()) g_fakeNet.sentBy[server()->socket].clear();
        return s;
    }
    void runTimers(uint32_t ms = 0) {
        clockNow() += ms;
        diTimerDispatch(clockNow());
    }
};

} // namespace outpost_fixture

#endif
