// The V-AIP reader on arbitrary bytes: every packet it assembles goes through
// the server connection's dispatch (handlers and faults included) and a
// helper connection's (GET paths), and every request is also read as launch
// parameters. The bytes arrive whole, then cut where the input says: what
// both connections answer must not depend on the cuts. The first byte gives
// the number of cuts (0-7), each then a 16-bit position; the rest is the
// stream.
#include "core/dilog.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/route_fakes.h"
#include "session/dilaunchparams.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "xml/qvlxmlglobals.h"
#include "xml/qvlxmlparser.h"

#include <algorithm>
#include <stdlib.h>
#include <string>
#include <vector>

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
    int32_t OpenListener() override { return 1; }
};

// One readable event per piece, as the socket announces each arrival once.
void feed(DiChannel* (*channel)(), const std::vector<std::string>& pieces) {
    for (const std::string& p : pieces)
        g_fakeNet.incoming.push_back(p);
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

// What the server connection and then a helper connection sent back.
std::string answers(const std::vector<std::string>& pieces) {
    fakesReset();
    routeFakesReset();
    g_fakeChannels.soapCtor = diVAIPChannelNew;
    g_fakeChannels.soapDtor = diVAIPChannelDelete;
    diDEClock = fuzzClock;
    DiSOOptions o;
    o.server = u"srv";
    o.port = 1;
    o.connectionCookie = u"ck";
    FuzzOutpost so(o);
    g_so = &so;
    so.userInfo[DI_SO_FULLNAME] = qvlStrDup(u"F");
    if (so.ConnectOnce()) feed(serverChannel, pieces);
    std::string sent = g_fakeNet.sent + "\n--\n";
    g_fakeNet.sent.clear();
    g_helper = new CHelperConnection(ddNetSocketCreate());
    so.helpers.Append(g_helper, false);
    feed(helperChannel, pieces);
    return sent + g_fakeNet.sent;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t cutCount = data[0] % 8, at = 1;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < cutCount && at + 2 <= size; i++, at += 2)
        cuts.push_back(size_t(data[at] | data[at + 1] << 8));
    std::string bytes(reinterpret_cast<const char*>(data) + at, size - at);
    if (bytes.empty()) return 0;
    for (size_t& c : cuts)
        c = c % bytes.size();
    cuts.push_back(0);
    cuts.push_back(bytes.size());
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<std::string> pieces;
    for (size_t i = 0; i + 1 < cuts.size(); i++)
        pieces.push_back(bytes.substr(cuts[i], cuts[i + 1] - cuts[i]));

    std::string whole = answers({bytes});
    if (pieces.size() > 1 && answers(pieces) != whole) abort();

    CQVLParser p(bytes.data(), bytes.size());
    CQVLHTTPPacket* http = CQVLXMLParser::ParseHTTPPacket(&p);
    CQVLSOAPPacket* soap = http ? CQVLSOAPPacket::FromHTTP(http) : nullptr;
    if (soap && soap->IsRequest()) DiLaunchParams params(static_cast<CQVLSOAPRequest*>(soap));
    delete soap;
    delete http;
    return 0;
}
