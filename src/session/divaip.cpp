/* SOAP endpoints over the V-AIP channel (see divaip.h). */
#include "session/divaip.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/dihttp.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "session/diso.h"
#include "ui/diui.h"
#include "xml/qvlxmlglobals.h"
#include "xml/qvlxmlparser.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

/* ---- framing ---- */

/* Length of the line end at i (CR LF, LF CR, CR, LF), 0 when none or not
 * decided yet: a CR or LF that ends the bytes received so far may be the
 * first half of a pair, so only the next byte tells how long the line end is.
 * Deciding early would make the packet's extent depend on where the network
 * cut the stream. */
static size_t lineEnd(const uint8_t* p, size_t n, size_t i) {
    if (i >= n || (p[i] != '\r' && p[i] != '\n')) return 0;
    if (i + 1 == n) return 0;
    if ((p[i + 1] == '\r' || p[i + 1] == '\n') && p[i + 1] != p[i]) return 2;
    return 1;
}

static const char kLengthHeader[] = "Content-Length:";

/* The decimal number after "Content-Length:" and blanks, saturated. */
static int64_t lengthValue(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\t'))
        i++;
    int64_t v = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; i++) {
        v = v * 10 + (p[i] - '0');
        if (v > INT64_C(1) << 40) return INT64_C(1) << 40;
    }
    return v;
}

int64_t diVAIPPacketSize(const uint8_t* p, size_t n, uint8_t* openEnd) {
    if (openEnd) *openEnd = 0;
    size_t i = 0;
    int64_t body = 0;
    bool first = true, haveLength = false;
    while (i < n) {
        size_t start = i;
        bool blank = true;
        while (i < n && p[i] != '\r' && p[i] != '\n') {
            if (p[i] != ' ' && p[i] != '\t') blank = false;
            i++;
        }
        size_t end = lineEnd(p, n, i);
        if (end == 0) {
            /* A blank line that ends a block without a body ends the packet
             * whatever comes next: waiting for the byte that would pair with
             * its line end would hold it until the peer sends again. */
            if (i < n && !first && blank && body == 0) {
                if (openEnd) *openEnd = p[i];
                return int64_t(n);
            }
            return 0; /* the line has not ended yet, or its end is open */
        }
        size_t len = i - start;
        i += end;
        if (!first && blank) return int64_t(i) + body;
        size_t hl = sizeof kLengthHeader - 1;
        if (!first && !haveLength && len >= hl && memcmp(p + start, kLengthHeader, hl) == 0) {
            body = lengthValue(p + start + hl, len - hl);
            haveLength = true;
        }
        first = false;
    }
    return 0;
}

/* ---- the channel ---- */

static bool s_busy;
static bool s_anyRefused;
static DiTimer* s_rerunTimer;

DiChannel* diVAIPChannelNew(DdSocket* socket) {
    DiSOAPChannel* vc = static_cast<DiSOAPChannel*>(calloc(1, sizeof(DiSOAPChannel)));
    if (!vc) return nullptr;
    diDEChannelInit(&vc->base, DI_OBJ_SOAP, 0, 0);
    vc->base.hdr.handler = diVAIPHandleEvent;
    vc->base.in.limit = DI_VAIP_BUFFER_LIMIT;
    vc->base.out.limit = DI_VAIP_BUFFER_LIMIT;
    diChannelAttachConnection(&vc->base, socket);
    return &vc->base;
}

void diVAIPChannelDelete(DiChannel* channel) {
    if (!channel) return;
    DiSOAPChannel* vc = reinterpret_cast<DiSOAPChannel*>(channel);
    CVAIPConnection* owner = vc->owner;
    vc->owner = nullptr;
    if (owner) owner->ChannelClosed();
    diDEChannelFree(channel);
    free(vc);
}

struct ListedSearch {
    DiChannel* wanted;
    bool found;
};

static bool isListed(DiChannel* ch) {
    ListedSearch s = {ch, false};
    diDEForEachChannel(
        [](DiChannel* c, void* arg) {
            ListedSearch* s = static_cast<ListedSearch*>(arg);
            if (c == s->wanted) s->found = true;
        },
        &s);
    return s.found;
}

/* Reads the channels refused while a packet was handled: their sockets
 * announced those bytes once and will not do so again. */
static uint32_t rerunRefused(void*) {
    s_rerunTimer = nullptr;
    s_anyRefused = false;
    std::vector<DiChannel*> refused;
    diDEForEachChannel(
        [](DiChannel* c, void* arg) {
            if (c->hdr.type != DI_OBJ_SOAP) return;
            DiSOAPChannel* vc = reinterpret_cast<DiSOAPChannel*>(c);
            if (!vc->refused) return;
            vc->refused = 0;
            c->hdr.refCount++;
            static_cast<std::vector<DiChannel*>*>(arg)->push_back(c);
        },
        &refused);
    for (DiChannel* c : refused) {
        if (isListed(c)) {
            DiEvent ev;
            memset(&ev, 0, sizeof ev);
            ev.w[0] = DI_EV_READABLE;
            diUIDeliverEvent(&c->hdr, &ev);
        }
        diUIObjectRelease(&c->hdr);
    }
    return 0;
}

static void endBusy() {
    s_busy = false;
    if (s_anyRefused && !s_rerunTimer) s_rerunTimer = diTimerAdd(0, rerunRefused, nullptr);
}

/* Hands one whole packet to the owning connection; false when the channel
 * went away meanwhile. The channel and the connection are held across the
 * handler: a handler may close its own channel, and the loss that follows
 * may replace the connection. */
static bool dispatchPacket(DiSOAPChannel* vc, uint32_t size) {
    DiChannel* ch = &vc->base;
    ch->in.consumed = size;
    ch->hdr.refCount++;
    CVAIPConnection* conn = vc->owner;
    s_busy = true;
    CQVLParser parser(ch->in.data, size);
    CQVLHTTPPacket* packet = CQVLXMLParser::ParseHTTPPacket(&parser);
    if (!packet)
        diLogErrorText(u"V-AIP packet dropped: its start line is not a request or a response, "
                       u"or its headers or body cannot be read.");
    if (packet && conn) {
        diVAIPHold(conn);
        conn->ReceivePacket(packet);
        diVAIPRelease(conn);
    }
    delete packet;
    endBusy();
    bool listed = isListed(ch);
    diUIObjectRelease(&ch->hdr);
    if (!listed) return false;
    diIOReadDone(&ch->in);
    vc->packetSize = 0;
    return true;
}

int diVAIPRead(DiSOAPChannel* vc) {
    if (s_busy) {
        vc->refused = 1;
        s_anyRefused = true;
        return 0;
    }
    vc->refused = 0;
    DiChannel* ch = &vc->base;
    DiBuffer* in = &ch->in;
    /* Read on every readable event: the socket announces new bytes once,
     * whether or not older ones are still buffered. */
    if (diIOFill(in, ch->socket) < 0) return -1;
    for (;;) {
        if (in->used == 0) return 0;
        if (vc->packetSize <= 0 && vc->openLineEnd) {
            /* The second half of the line end that closed the last packet. */
            uint8_t first = in->data[0];
            bool pairs = (first == '\r' || first == '\n') && first != vc->openLineEnd;
            vc->openLineEnd = 0;
            if (pairs) {
                in->consumed = 1;
                diIOReadDone(in);
                continue;
            }
        }
        if (vc->packetSize <= 0) {
            int64_t size = diVAIPPacketSize(in->data, in->used, &vc->openLineEnd);
            if (size == 0) {
                if (in->used < in->limit) return 0;
                diLogErrorText(u"V-AIP packet header longer than the channel's buffer; closing.");
                return -1;
            }
            if (size > int64_t(in->limit)) {
                diLogErrorArgs(399, {int(size > 0x7fffffff ? 0x7fffffff : size)});
                return -1;
            }
            vc->packetSize = size;
        }
        uint32_t size = uint32_t(vc->packetSize);
        if (in->used < size) {
            if (size > in->allocated && diIOReserve(in, size) < 0) {
                diLogErrorArgs(399, {int(size)});
                return -1;
            }
            if (diIOFill(in, ch->socket) < 0) {
                diLogErrorArgs(399, {int(size)});
                return -1;
            }
            if (in->used < size) return 0;
        }
        if (!dispatchPacket(vc, size)) return 1;
        if (s_busy) return 0;
    }
}

int diVAIPHandleEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    DiSOAPChannel* vc = reinterpret_cast<DiSOAPChannel*>(obj);
    switch (ev->w[0]) {
    case DI_EV_WRITABLE:
        if (diIOFlush(&ch->out, ch->socket) < 0) {
            diDEChannelDisconnected(ch);
            diDEDestroyChannel(ch);
        }
        return 1;
    case DI_EV_CLOSED:
        /* What the peer sent before it closed is still handled. */
        if (!s_busy && diVAIPRead(vc) > 0) return 1;
        diDEDestroyChannel(ch);
        return 1;
    case DI_EV_READABLE:
        if (diVAIPRead(vc) < 0) {
            diDEChannelDisconnected(ch);
            diDEDestroyChannel(ch);
        }
        return 1;
    default:
        return 0;
    }
}

/* ---- connections ---- */

void diVAIPHold(CVAIPConnection* conn) {
    conn->holds++;
}

void diVAIPRelease(CVAIPConnection* conn) {
    if (--conn->holds == 0 && conn->deleteWhenFree) delete conn;
}

void diVAIPDelete(CVAIPConnection* conn) {
    if (!conn) return;
    if (conn->holds > 0) {
        conn->Detach();
        conn->deleteWhenFree = true;
        return;
    }
    delete conn;
}

CVAIPConnection::CVAIPConnection() {
    channel = diDECreateChannel(nullptr, DI_OBJ_SOAP, 0, 0);
    if (channel) reinterpret_cast<DiSOAPChannel*>(channel)->owner = this;
}

CVAIPConnection::~CVAIPConnection() {
    Close();
}

void CVAIPConnection::Detach() {
    if (channel) reinterpret_cast<DiSOAPChannel*>(channel)->owner = nullptr;
    Close();
}

void CVAIPConnection::ChannelClosed() {
    channel = nullptr;
}

void CVAIPConnection::Close() {
    DiChannel* ch = channel;
    channel = nullptr;
    if (ch) diDEDestroyChannel(ch);
}

static DiChar* dupText(const DiChar* s) {
    return s ? qvlStrDup(s) : nullptr;
}

static const DiChar* orEmpty(const DiChar* s) {
    return s ? s : u"";
}

void CVAIPConnection::ReceivePacket(CQVLHTTPPacket* http) {
    DiChar* messageId = dupText(http->GetHeaderValue(u"Message-Id"));
    CQVLSOAPPacket* soap = CQVLSOAPPacket::FromHTTP(http);
    if (!soap) {
        const DiChar* path = http->GetHeaderValue("GET");
        if (path) OnHttpGet(path);
        free(messageId);
        return;
    }
    const DiChar* peer = orEmpty(GetPeerName());
    const DiChar* shownId = messageId ? messageId : u"N/A";
    if (soap->IsFault()) {
        CQVLSOAPFault* fault = static_cast<CQVLSOAPFault*>(soap);
        diLogInfoArgs(475, {orEmpty(fault->faultcode), shownId, peer});
        OnFault(fault, messageId);
    } else if (soap->IsResponse()) {
        CQVLSOAPResponse* response = static_cast<CQVLSOAPResponse*>(soap);
        diLogInfoArgs(473, {orEmpty(response->method), shownId, peer});
        OnResponse(response, messageId);
    } else if (soap->IsRequest()) {
        CQVLSOAPRequest* request = static_cast<CQVLSOAPRequest*>(soap);
        diLogInfoArgs(471, {orEmpty(request->method), shownId, peer});
        OnRequest(request, messageId);
    }
    delete soap;
    free(messageId);
}

bool CVAIPConnection::Send(CQVLSOAPPacket* packet, const DiChar* messageId) {
    if (!channel || !packet) return false;
    const DiChar* shownId = messageId ? messageId : u"N/A";
    const DiChar* peer = orEmpty(GetPeerName());
    if (packet->IsRequest())
        diLogInfoArgs(470, {orEmpty(static_cast<CQVLSOAPMessage*>(packet)->method), shownId, peer});
    else if (packet->IsResponse())
        diLogInfoArgs(472, {orEmpty(static_cast<CQVLSOAPMessage*>(packet)->method), shownId, peer});
    else if (packet->IsFault())
        diLogInfoArgs(472,
                      {orEmpty(static_cast<CQVLSOAPFault*>(packet)->faultcode), shownId, peer});
    CQVLHTTPPacket* http = MakeHTTPPacket(packet, messageId);
    if (!http) return false;
    bool ok = SendHTTP(http);
    delete http;
    return ok;
}

bool CVAIPConnection::SendHTTP(CQVLHTTPPacket* http) {
    if (!channel) return false;
    CQVLPackBuffer* bytes = http->Serialize();
    if (!bytes) return false;
    bool ok = diIOWriteMessage(&channel->out, channel->socket, bytes->data, bytes->length) == 0;
    delete bytes;
    return ok;
}

CQVLHTTPPacket* CVAIPConnection::WrapPacket(CQVLSOAPPacket* packet, int encoding) {
    CQVLHTTPPacket* http = nullptr;
    if (packet->IsRequest())
        http = new (std::nothrow) CQVLHTTPRequest();
    else if (packet->IsResponse() || packet->IsFault())
        http = new (std::nothrow) CQVLHTTPResponse();
    if (!http) return nullptr;
    CQVLXMLDoc* doc = packet->ToXMLDoc(encoding);
    if (!doc) {
        delete http;
        return nullptr;
    }
    http->SetDocument(doc);
    return http;
}

/* ---- the server connection ---- */

CServerConnection::~CServerConnection() {
    if (channel) reinterpret_cast<DiSOAPChannel*>(channel)->owner = nullptr;
}

void CServerConnection::ChannelClosed() {
    CVAIPConnection::ChannelClosed();
    if (g_diOutpost) g_diOutpost->ConnectionLost();
}

CQVLHTTPPacket* CServerConnection::MakeHTTPPacket(CQVLSOAPPacket* packet, const DiChar* messageId) {
    CQVLHTTPPacket* http = WrapPacket(packet, 3);
    if (!http) return nullptr;
    if (g_diOutpost) http->AddHeader(u"SO-Id", orEmpty(g_diOutpost->connectionCookie));
    http->AddHeader(u"Message-Id", messageId ? messageId : u"0");
    return http;
}

static const uint16_t kErrorMessages[25] = {0,   54,  0,   83,  84,  78,  80,  81, 79,
                                            86,  218, 219, 0,   221, 223, 225, 0,  142,
                                            143, 229, 244, 245, 246, 247, 248};

int diVAIPErrorMessage(int32_t code) {
    return code >= 0 && code < 25 ? kErrorMessages[code] : 0;
}

bool CServerConnection::Connect(const DiChar* host, int32_t port, uint32_t flags) {
    DdSocket* s = channel ? channel->socket : nullptr;
    int r = -1;
    if (s && host && diSOPortInRange(port) && ddNetSocketOpen(s, 1, 1) == 0)
        r = diNetConnect(s, host, uint16_t(port), flags);
    if (r != 0 && r != -9) {
        diLogErrorArgs(354, {orEmpty(host), int(port)});
        return false;
    }
    /* TLS to the target only when it was asked for and no hop of the route
     * secures the connection already. */
    if (r == 0 && (flags & DI_NET_TARGET_TLS) && ddNetStartTls(s, 1, host, 0) < 0) {
        int message = diVAIPErrorMessage(s->error);
        DiChar text[1024];
        if (message && g_diOutpost && diLogLoadMessage(uint32_t(message), text, 1024))
            diAppSetText(&g_diOutpost->lastError, text);
        diLogErrorArgs(388, {host, int(port)});
        return false;
    }
    ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    return true;
}

/* The handlers of this connection's requests, in the order names are
 * compared; requests of the table without a handler yet are logged. */
typedef void (CServerOutpost::*DiSOHandler)(CQVLSOAPRequest*, const DiChar*);
struct DiSOMethod {
    const DiChar* name;
    DiSOHandler handler;
};

static const DiSOMethod kMethods[] = {
    {u"ns1:clientCapabilities", &CServerOutpost::OnClientCapabilities},
    {u"ns1:webserver", &CServerOutpost::OnWebserver},
    {u"ns1:requestLaunch", &CServerOutpost::OnRequestLaunch},
    {u"ns1:doLaunch", &CServerOutpost::OnDoLaunch},
    {u"ns1:startCdm", &CServerOutpost::OnStartCdm},
    {u"ns1:doCdm", &CServerOutpost::OnDoCdm},
    {u"ns1:print", &CServerOutpost::OnPrint},
    {u"ns1:doprint", &CServerOutpost::OnDoprint},
    {u"ns1:logout", &CServerOutpost::OnLogout},
    {u"ns1:security", &CServerOutpost::OnSecurity},
    {u"ns1:cancelLaunch", &CServerOutpost::OnCancelLaunch},
    {u"ns1:restartData", &CServerOutpost::OnRestartData},
    {u"ns1:restartEvent", &CServerOutpost::OnRestartEvent},
    {u"ns1:reconnectData", &CServerOutpost::OnReconnectData},
    {u"ns1:document", &CServerOutpost::OnDocument},
    {u"ns1:setState", &CServerOutpost::OnSetState},
    {u"ns1:getState", &CServerOutpost::OnGetState},
    {u"ns1:token", &CServerOutpost::OnToken},
    {u"ns1:setuicomponent", &CServerOutpost::OnSetuicomponent},
    {u"ns1:triggeruicomponent", &CServerOutpost::OnTriggeruicomponent},
    {u"ns1:userinfo", &CServerOutpost::OnUserinfo},
    {u"ns1:keepAlive", &CServerOutpost::OnKeepAlive},
    {u"ns1:automaticLogin", &CServerOutpost::OnAutomaticLogin},
    {u"ns1:profileUpdate", &CServerOutpost::OnProfileUpdate},
    {u"ns1:doAudio", &CServerOutpost::OnDoAudio},
    {u"ns1:doSCard", &CServerOutpost::OnDoSCard},
    {u"ns1:doIO", &CServerOutpost::OnDoIO},
    {u"ns1:registerConnectionLost", &CServerOutpost::OnRegisterConnectionLost},
    {u"ns1:notifyApplicationsEnded", &CServerOutpost::OnNotifyApplicationsEnded},
};

void CServerConnection::OnRequest(CQVLSOAPRequest* request, const DiChar* messageId) {
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    /* A handler's dialogs (a device's certificate question) may deliver the
     * end of the session: held until it returned. */
    CServerOutpost::BoxScope hold(so);
    for (const DiSOMethod& m : kMethods) {
        if (!request->IsMethod(m.name)) continue;
        if (m.handler)
            (so->*m.handler)(request, messageId);
        else
            diLogInfoArgs(360, {orEmpty(request->method)});
        return;
    }
    diLogInfoArgs(360, {orEmpty(request->method)});
}

static bool equalsNoCase(const DiChar* a, const char* b) {
    if (!a) return false;
    for (; *a && *b; a++, b++) {
        DiChar x = *a, y = DiChar(uint8_t(*b));
        if (x >= 'A' && x <= 'Z') x = DiChar(x + 32);
        if (y >= 'A' && y <= 'Z') y = DiChar(y + 32);
        if (x != y) return false;
    }
    return *a == 0 && *b == 0;
}

void CServerConnection::OnFault(CQVLSOAPFault* fault, const DiChar* /*messageId*/) {
    diLogSoapFault(fault);
    if (!g_diOutpost) return;
    const DiChar* text = fault->faultstring ? fault->faultstring : fault->faultcode;
    if (text)
        g_diOutpost->ShowWarningMessage(459, 312, {text});
    else
        g_diOutpost->ShowWarningMessage(459, 313, {});
    /* The box ran a message loop: the outpost may have ended meanwhile. */
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    const DiChar* code = fault->faultcode;
    if (equalsNoCase(code, "soapenv:Client.CookieExpired")) {
        so->ReloadHelperFrame();
        so->EndSessionSoon();
    } else if (equalsNoCase(code, "soapenv:Client.InvalidCookie")) {
        so->EndSessionSoon();
    } else if (equalsNoCase(code, "soapenv:Client.AlreadyConnected")) {
        Close();
    }
}

/* ---- helper connections ---- */

CHelperConnection::CHelperConnection(DdSocket* accepted) {
    if (!channel) {
        if (accepted) ddNetSocketDestroy(accepted);
        return;
    }
    DdSocket* own = channel->socket;
    channel->socket = accepted;
    if (own) ddNetSocketDestroy(own);
    if (!accepted) return;
    diNetSetOwner(accepted, &channel->hdr);
    channel->in.used = channel->in.consumed = 0;
    channel->out.used = channel->out.consumed = 0;
    ddNetSelectEvents(accepted, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE);
}

CHelperConnection::~CHelperConnection() {
    free(helperId);
    free(note);
    free(peerName);
}

void CHelperConnection::ChannelClosed() {
    CVAIPConnection::ChannelClosed();
    if (g_diOutpost) g_diOutpost->HelperGone(this);
}

bool CHelperConnection::HasId(const DiChar* id) const {
    return id && helperId && qvlStrEq(id, helperId);
}

const DiChar* CHelperConnection::GetPeerName() {
    if (!peerNameStale && peerName) return peerName;
    DiChar text[1024];
    diFormatPositional(text, 1024, u"Helper %s", {helperId ? helperId : u"unknown"});
    free(peerName);
    peerName = qvlStrDup(text);
    if (helperId) peerNameStale = 0;
    return peerName ? peerName : u"";
}

CQVLHTTPPacket* CHelperConnection::MakeHTTPPacket(CQVLSOAPPacket* packet, const DiChar* messageId) {
    CQVLHTTPPacket* http = WrapPacket(packet, 2);
    if (http) http->AddHeader(u"Message-Id", messageId ? messageId : u"0");
    return http;
}

void CHelperConnection::OnRequest(CQVLSOAPRequest* request, const DiChar* messageId) {
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    CServerOutpost::BoxScope hold(so); /* as for the server's requests */
    if (qvlStrEqAscii(request->method, "ns1:helperInit")) {
        const DiChar* id = request->GetStringParameter(u"helperid");
        if (id) {
            free(helperId);
            helperId = qvlStrDup(id);
        }
        const DiChar* inplace = request->GetStringParameter(u"inplace");
        if (equalsNoCase(inplace, "hosts"))
            kind = 0;
        else if (equalsNoCase(inplace, "runs"))
            kind = 1;
        so->OnHelperInit(this, request, messageId);
    } else if (qvlStrEqAscii(request->method, "ns1:helperLaunchReady")) {
        so->OnHelperLaunchReady(this, request, messageId);
    } else if (qvlStrEqAscii(request->method, "ns1:helperAgedPassword")) {
        so->OnHelperAgedPassword(this, messageId);
    } else {
        diLogWarningArgs(360, {orEmpty(request->method)});
    }
}

void CHelperConnection::OnResponse(CQVLSOAPResponse* response, const DiChar*) {
    if (!qvlStrEqAscii(response->method, "ns1:doLaunchResponse"))
        diLogWarningArgs(360, {orEmpty(response->method)});
}

static bool startsWith(const DiChar* s, const char* prefix) {
    for (; *prefix; s++, prefix++)
        if (*s != DiChar(uint8_t(*prefix))) return false;
    return true;
}

DiChar* diVAIPPollId(const DiChar* path) {
    if (!path || !startsWith(path, "/poll") || path[5] != '?') return nullptr;
    const DiChar* best = nullptr;
    size_t bestLength = 0;
    for (const DiChar* item = path + 6; *item;) {
        const DiChar* end = item;
        while (*end && *end != '&')
            end++;
        if (end - item > 3 && startsWith(item, "ID=")) {
            best = item + 3;
            bestLength = size_t(end - best);
        }
        item = *end ? end + 1 : end;
    }
    if (!best) return nullptr;
    DiChar* id = static_cast<DiChar*>(malloc((bestLength + 1) * sizeof(DiChar)));
    if (!id) return nullptr;
    memcpy(id, best, bestLength * sizeof(DiChar));
    id[bestLength] = 0;
    return id;
}

static bool containsTrue(const DiChar* s) {
    for (; *s; s++)
        if (startsWith(s, "true")) return true;
    return false;
}

void CHelperConnection::OnHttpGet(const DiChar* path) {
    CServerOutpost* so = g_diOutpost;
    if (so && path && startsWith(path, "/poll")) {
        DiChar* id = diVAIPPollId(path);
        so->ServePoll(this, id);
        free(id);
    } else if (so && path && startsWith(path, "/java")) {
        so->ServeWebtopPage(this, containsTrue(path) ? 1 : 0);
    } else {
        CQVLHTTPStatusResponse notFound("HTTP/1.1 404 Not Found\r\n");
        SendHTTP(&notFound);
    }
}
