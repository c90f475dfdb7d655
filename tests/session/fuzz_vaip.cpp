// The V-AIP reader on arbitrary bytes in arbitrary pieces: every packet it
// assembles goes through the server connection's dispatch (handlers and
// faults included) and a helper connection's (GET paths), and every request
// is also read as launch parameters. The first byte picks the piece size.
#include "core/dilog.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/route_fakes.h"
#include "session/dilaunchparams.h"
#include "session/diso.h"
#include "session/divaip.h"
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

// Boxes and questions answer at once; time stands still.
struct FuzzOutpost : CServerOutpost {
    explicit FuzzOutpost(const DiSOOptions& o) : CServerOutpost(o) {}
    int64_t Now() override { return 100; }
    int32_t OpenListener() override { return 1; }
};

void feed(DiChannel* (*channel)(), const std::string& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece)
        g_fakeNet.incoming.push_back(bytes.substr(at, piece));
    for (int i = 0; i < 100000 && channel() && !g_fakeNet.incoming.empty(); i++) {
        DiEvent ev = {};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&channel()->hdr, &ev);
        diTimerDispatch(g_now);
    }
    g_fakeNet.incoming.clear();
    g_fakeNet.offset = 0;
}

FuzzOutpost* g_so;
CHelperConnection* g_helper;
DiChannel* serverChannel() {
    return g_so->serverConnection ? g_so->serverConnection->channel : nullptr;
}
DiChannel* helperChannel() {
    return g_so->helpers.head ? g_helper->channel : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fakesReset();
    routeFakesReset();
    g_fakeChannels.soapCtor = diVAIPChannelNew;
    g_fakeChannels.soapDtor = diVAIPChannelDelete;
    diDEClock = fuzzClock;
    size_t piece = size_t(data[0] % 64) + 1;
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    DiSOOptions o;
    o.server = u"srv";
    o.port = 1;
    o.connectionCookie = u"ck";
    FuzzOutpost so(o);
    g_so = &so;
    so.userInfo[DI_SO_FULLNAME] = qvlStrDup(u"F");
    if (so.ConnectOnce()) feed(serverChannel, bytes, piece);

    g_helper = new CHelperConnection(ddNetSocketCreate());
    so.helpers.Append(g_helper, false);
    feed(helperChannel, bytes, piece);

    CQVLParser p(bytes.data(), bytes.size());
    CQVLHTTPPacket* http = CQVLXMLParser::ParseHTTPPacket(&p);
    CQVLSOAPPacket* soap = http ? CQVLSOAPPacket::FromHTTP(http) : nullptr;
    if (soap && soap->IsRequest()) DiLaunchParams params(static_cast<CQVLSOAPRequest*>(soap));
    delete soap;
    delete http;
    return 0;
}
