/* The server outpost (see diso.h). */
#include "session/diso.h"

#include "core/diapp.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "devices/diprintq.h"
#include "net/dihttp.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "session/dicapability.h"
#include "session/diintclient.h"
#include "session/dilaunch.h"
#include "session/diprofile.h"
#include "session/diurlparam.h"
#include "session/divaip.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

CServerOutpost* g_diOutpost;

static const DiChar kVersion[] = u"4.31.953";

/* ---- small helpers ---- */

static DiChar* dup(const DiChar* s) {
    return s ? qvlStrDup(s) : nullptr;
}

static void setText(DiChar** slot, const DiChar* text) {
    DiChar* copy = dup(text);
    free(*slot);
    *slot = copy;
}

static const DiChar* orEmpty(const DiChar* s) {
    return s ? s : u"";
}

uint32_t diSOSecondsToMs(int64_t seconds) {
    if (seconds <= 0) return 0;
    const int64_t kMax = 0x7fffffff; /* the longest delay a timer accepts */
    return seconds > kMax / 1000 ? uint32_t(kMax) : uint32_t(seconds * 1000);
}

bool diSOPortInRange(int32_t port) {
    return port >= 1 && port <= 65535;
}

/* Appends text as the contents of a JavaScript string in double quotes. */
static void appendJsString(std::u16string* out, const DiChar* text) {
    static const char kHex[] = "0123456789abcdef";
    for (const DiChar* p = text; p && *p; p++) {
        DiChar c = *p;
        if (c == '\\' || c == '"' || c == '\'' || c == '<' || c == '>' || c < 0x20 || c == 0x2028 ||
            c == 0x2029) {
            *out += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                *out += DiChar(kHex[(c >> shift) & 15]);
        } else {
            *out += c;
        }
    }
}

DiChar* diSOReloadFrameScript(const DiChar* url, const DiChar* frame) {
    if (!diHTTPIsWebAddress(url)) return nullptr;
    std::u16string s = u"function ReloadFrame()\n{\n\twindow.open(\"";
    appendJsString(&s, url);
    s += u"\", \"";
    appendJsString(&s, frame);
    s += u"\")\n}";
    return qvlStrDup(s.c_str());
}

/* ---- life ---- */

CServerOutpost::CServerOutpost(const DiSOOptions& o) {
    g_diOutpost = this;
    diSOInstallLaunchHooks(true);
    server = dup(o.server);
    portFile = dup(o.portFile);
    port = int32_t(o.port);
    connectionCookie = dup(o.connectionCookie);
    startImmediately = o.startImmediately;
    secure = o.secure ? 1 : 0;
    code = dup(o.code);
    caFile = dup(o.caFile);
    firewallTraversal = o.firewallTraversal ? 1 : 0;
    noJava = o.noJava ? 2 : 0;
    if (!o.startImmediately)
        startMode = 1;
    else if (o.server)
        startMode = 2;
    SetBaseRoute(o.baseRoute);
}

void CServerOutpost::SetBaseRoute(const DiChar* text) {
    if (!text || !text[0] || baseRoute) return;
    DiRouteChain* chain = static_cast<DiRouteChain*>(calloc(1, sizeof(DiRouteChain)));
    if (!chain) return;
    diRouteChainInit(chain, nullptr, 0);
    if (diRouteChainParse(chain, text) && chain->first) {
        baseRoute = chain;
        diLogInfoArgs(468, {text});
    } else {
        diRouteChainFree(chain, 1);
        free(chain);
        diLogErrorArgs(469, {text});
    }
}

CServerOutpost::~CServerOutpost() {
    delete printJobs;
    printJobs = nullptr;
    launches.Clear();
    launchRequests.Clear();
    CancelLaunchDialogTimer();
    if (helperWaitTimer) diTimerRemove(helperWaitTimer);
    helperWaitTimer = nullptr;
    for (int32_t i = 0; i < pendingEventCount; i++) {
        DiSOWebserverEvent& e = pendingEvents[i];
        free(e.url);
        free(e.frame);
        free(e.helperId);
    }
    delete[] pendingEvents;
    diVAIPDelete(serverConnection);
    serverConnection = nullptr;
    while (helpers.head) {
        CHelperConnection* h = helpers.head->item;
        helpers.Remove(h, false);
        diVAIPDelete(h);
    }
    if (httpClient) {
        diHTTPClientCleanup(httpClient);
        diHTTPClientFree(httpClient);
    }
    if (baseRoute) {
        diRouteChainFree(baseRoute, 1);
        free(baseRoute);
    }
    DiChar** texts[] = {&connectionCookie,
                        &portFile,
                        &server,
                        &code,
                        &lastError,
                        &localHost,
                        &caFile,
                        &keepAliveId,
                        &proxyHost,
                        &proxyType,
                        &webtopUrl,
                        &restartData.helperId,
                        &restartData.url,
                        &restartData.frame,
                        &restartData.cookie,
                        &restartData.server,
                        &connectionLostHandler.helperId,
                        &connectionLostHandler.url,
                        &connectionLostHandler.frame};
    for (DiChar** t : texts)
        setText(t, nullptr);
    for (DiChar*& t : userInfo)
        setText(&t, nullptr);
    if (g_diOutpost == this) {
        g_diOutpost = nullptr;
        diSOInstallLaunchHooks(false);
    }
}

void CServerOutpost::SetConnectionState(int32_t state) {
    connectionState = state;
}

void CServerOutpost::LogStatus() {
    int outOfPlace = 0;
    for (auto* n = launches.head; n; n = n->next)
        if (!n->item->IsBrowser()) outOfPlace++;
    diLogInfoArgs(463, {connectionState == DI_SO_CONNECTED ? u"up" : u"down", int(helpers.count),
                        outOfPlace});
}

int32_t CServerOutpost::OpenListener() {
    listenerChannel = diDECreateChannel(nullptr, DI_OBJ_LISTENER, 0, 0);
    return listenerChannel ? diListenerOpen(listenerChannel) : -1;
}

bool CServerOutpost::AskConnectionSettings(DiChar** url) {
    *url = nullptr;
    return false; /* the connection settings dialog is not built: cancelled */
}

bool CServerOutpost::Start() {
    bool good = false;
    int32_t p = OpenListener();
    if (p >= 0) {
        listeningPort = p;
        if (!portFile) {
            diLogInfo(448);
            good = true;
        } else {
            good = WritePortFile();
        }
        if (launchBrowser) {
            DiChar setting[512];
            const DiChar* url = g_ddApp ? g_ddApp->webtopUrl : nullptr;
            if (!url && g_ddApp) url = g_ddApp->opt.loginUrl;
            if (!url && ProfileValue(u"url", setting, 512)) url = setting;
            DiChar* asked = nullptr;
            if (!url && startMode == 4) {
                BoxScope hold(this); /* the dialog's loop may end the session */
                if (!AskConnectionSettings(&asked)) return false;
                url = asked;
            }
            if (url) {
                /* Room for the whole URL and every parameter added below: a
                 * cut URL, or a page without its "drxport", never finds the
                 * client. A value grows at most ninefold when encoded. */
                const DiChar* language = g_ddApp ? g_ddApp->opt.preferredLanguage : nullptr;
                size_t n = qvlStrLen(url);
                size_t size = n + 128 + (language ? 9 * qvlStrLen(language) : 0);
                std::vector<DiChar> room(size);
                DiChar* buffer = room.data();
                memcpy(buffer, url, (n + 1) * sizeof(DiChar));
                DiChar portText[16];
                diFormatPositional(portText, 16, u"%d", {int(listeningPort)});
                AddUrlParameter(u"drxport", portText, buffer, size);
                if (language && language[0])
                    AddUrlParameter(u"langSelected", language, buffer, size);
                free(asked);
                if (noJava == 2) {
                    /* Without the applet the integrated client signs in and
                     * the browser is not opened. */
                    launchBrowser = 0;
                    AddUrlParameter(u"IC_JOIN", u"true", buffer, size);
                    if (g_ddApp) setText(&g_ddApp->webtopUrl, buffer);
                    bool ok;
                    {
                        BoxScope hold(this); /* the sign-in shows dialogs */
                        ok = diSOIntegratedClientLogin();
                    }
                    if (!ok) ReportConnectFailure();
                    return ok;
                }
                if (startMode != 1 && !noJava) {
                    setText(&webtopUrl, buffer);
                    AddUrlParameter(u"javaprobe", u"true", buffer, size);
                }
                browserStart = OpenBrowser(buffer);
            } else {
                free(asked);
            }
        }
        if (good) return true;
    }
    diLogError(356);
    ShowErrorMessage(458, {});
    SetConnectionState(DI_SO_LISTENER_FAILED);
    return false;
}

bool CServerOutpost::ContinueStart() {
    bool ok;
    {
        BoxScope hold(this); /* the sign-in shows dialogs */
        ok = diSOIntegratedClientLogin();
    }
    if (!diSOIntegratedClientIsActive()) return Connect(1);
    if (!ok) ReportConnectFailure();
    return ok;
}

bool CServerOutpost::Connect(int /*reason*/) {
    diLogInfo(352);
    SetConnectionState(DI_SO_CONNECTING);
    if (!httpClient) {
        httpClient = diHTTPClientAlloc();
        if (httpClient) diHTTPClientInit(httpClient);
    }
    bool ok = ConnectOnce();
    LogStatus();
    if (!ok) ReportConnectFailure();
    return ok;
}

bool CServerOutpost::ConnectOnce() {
    SetConnectionState(DI_SO_CONNECTING);
    diVAIPDelete(serverConnection);
    serverConnection = new (std::nothrow) CServerConnection();
    uint32_t flags = (secure ? DI_NET_TARGET_TLS : 0u) | (firstConnection ? 8u : 0u);
    bool connected;
    {
        BoxScope hold(this); /* the certificate questions of the connection */
        connected = serverConnection && serverConnection->channel &&
                    serverConnection->Connect(server, port, flags);
    }
    if (connected) {
        SetConnectionState(DI_SO_CONNECTED);
        LogStatus();
        connectedAt = ddTimerNow();
        firstConnection = 0;
        return SendInit();
    }
    SetConnectionState(DI_SO_FAILED);
    diVAIPDelete(serverConnection);
    serverConnection = nullptr;
    return false;
}

void CServerOutpost::ReportConnectFailure() {
    if (lastError) diLogErrorText(lastError);
    ShowErrorMessage(307, {orEmpty(server), int(port), orEmpty(lastError)});
    EndSessionSoon();
}

static uint32_t helperWaitFired(void*) {
    if (g_diOutpost) g_diOutpost->HelperWaitExpired();
    return 0;
}

void CServerOutpost::HelperWaitExpired() {
    helperWaitTimer = nullptr; /* the record goes with the 0 returned */
    EndSession();
}

void CServerOutpost::EndSessionSoon() {
    bool pending = false;
    for (int32_t i = 0; i < pendingEventCount; i++)
        pending = pending || pendingEvents[i].helperId;
    if (helperWaitTimer) diTimerRemove(helperWaitTimer);
    helperWaitTimer = nullptr;
    /* A helper that has not fetched its page yet gets a moment to do so. */
    if (pending) helperWaitTimer = diTimerAdd(5000, helperWaitFired, nullptr);
    if (!helperWaitTimer) EndSession();
}

void CServerOutpost::Stop() {
    diVAIPDelete(serverConnection);
    serverConnection = nullptr;
    if (httpClient) {
        diHTTPClientCleanup(httpClient);
        diHTTPClientFree(httpClient);
        httpClient = nullptr;
    }
    for (DiChannel** device : {&driveChannel, &audioChannel, &deviceListChannel}) {
        DiChannel* ch = *device;
        *device = nullptr;
        if (ch) diDEDestroyChannel(ch);
    }
    /* The print queue names the jobs it leaves in the event log, which the
     * Windows outpost closes before this base part is destroyed. */
    delete printJobs;
    printJobs = nullptr;
    if (listenerChannel) {
        if (portFile) RemovePortFile();
        DiChannel* ch = listenerChannel;
        listenerChannel = nullptr;
        diDEDestroyChannel(ch);
    }
    diLogInfo(355);
}

int32_t CServerOutpost::EffectiveReconnectMode() {
    const DiChar* full = userInfo[DI_SO_FULLNAME];
    return full && full[0] ? reconnectMode : int32_t(DI_SO_NEVER);
}

void CServerOutpost::ConnectionLost() {
    diLogInfo(362);
    SetConnectionState(DI_SO_NOT_CONNECTED);
    LogStatus();
    CancelKeepAliveTimer();
    connectionLost = 1;
    if (securityChangePending) {
        securityChangePending = 0;
        PostStartRequest();
        return;
    }
    if (ending) return;
    int32_t mode = EffectiveReconnectMode();
    bool reconnect = mode == DI_SO_ALWAYS || (mode == DI_SO_PROMPT && AskYesNoMessage(317, true));
    if (g_diOutpost != this) return; /* the question's message loop ended the session */
    if (!reconnect) {
        ReloadHelperFrame();
        EndSession();
        return;
    }
    if (restartData.use && restartData.server) {
        setText(&server, restartData.server);
        if (restartData.port) port = restartData.port;
        secure = restartData.secure;
    }
    SetConnectionState(DI_SO_WAITING);
    attemptsLeft = reconnectAttempts > 0 ? reconnectAttempts : 0;
    ReconnectStep();
}

void CServerOutpost::ReconnectStep() {
    CancelReconnectTimer();
    /* A connection that dropped right after it was made waits a whole
     * interval and spends no attempt. Elapsed time is read on the tick
     * count, never the wall clock: a clock set back would hold the
     * reconnect for as long as it went back. The unsigned difference holds
     * across the counter's wrap. */
    if (uint32_t(ddTimerNow() - connectedAt) < DI_SO_JUST_CONNECTED_MS) {
        SetConnectionState(DI_SO_WAITING);
        ArmReconnectTimer();
        return;
    }
    if (attemptsLeft <= 0) {
        ReloadHelperFrame();
        ReportConnectFailure();
        return;
    }
    if (!ConnectOnce()) {
        attemptsLeft--;
        SetConnectionState(DI_SO_WAITING);
        ArmReconnectTimer();
    }
}

void CServerOutpost::ReloadHelperFrame() {
    const DiSOConnectionLostHandler& h = connectionLostHandler;
    if (!h.url) return;
    CHelperConnection* helper = FindHelperById(h.helperId);
    if (!helper) {
        diLogWarningArgs(365, {orEmpty(h.helperId)});
        return;
    }
    diLogInfoArgs(364, {h.url, orEmpty(h.frame), orEmpty(h.helperId)});
    CQVLSOAPRequest* r = MakeRequest(u"ns1:webserver");
    if (!r) return;
    r->AddParameter(u"url", h.url);
    r->AddParameter(u"frame", orEmpty(h.frame));
    helper->Send(r, nullptr);
    delete r;
}

CHelperConnection* CServerOutpost::FindHelperById(const DiChar* id) {
    for (auto* n = helpers.head; n; n = n->next)
        if (n->item->HasId(id)) return n->item;
    return nullptr;
}

void CServerOutpost::AcceptHelper(DdSocket* accepted) {
    CHelperConnection* helper = new (std::nothrow) CHelperConnection(accepted);
    if (!helper) {
        if (accepted) ddNetSocketDestroy(accepted);
        return;
    }
    if (!helper->channel) {
        delete helper;
        return;
    }
    helpers.Append(helper, false);
    LogStatus();
}

void CServerOutpost::HelperGone(CHelperConnection* helper) {
    diLogInfoArgs(358, {orEmpty(helper->GetPeerName())});
    ForgetHelper(helper);
    helpers.Remove(helper, false);
    diVAIPDelete(helper);
    LogStatus();
}

bool CServerOutpost::OpenUrlInHelper(const DiChar* url) {
    for (auto* n = helpers.head; n; n = n->next) {
        if (n->item->kind != 2) continue;
        CQVLSOAPRequest* r = MakeRequest(u"ns1:webserver");
        if (!r) return false;
        r->AddParameter(u"url", orEmpty(url));
        r->AddParameter(u"frame", u"_blank");
        n->item->Send(r, nullptr);
        delete r;
        return true;
    }
    return false;
}

/* ---- messages ---- */

bool CServerOutpost::Send(CQVLSOAPPacket* packet, const DiChar* messageId) {
    return serverConnection && serverConnection->Send(packet, messageId);
}

static const DiChar kNamespace[] = u"urn:quorvellan-serveroutpost";
static const DiChar kReplyNamespace[] = u"http://www.quorvellan.com/2001/soapreply.xsd";

CQVLSOAPRequest* CServerOutpost::MakeRequest(const DiChar* method) {
    CQVLSOAPRequest* r = new (std::nothrow) CQVLSOAPRequest(method);
    if (!r) return nullptr;
    r->AddAttribute(u"xmlns:ns1", kNamespace);
    r->AddAttribute(u"SOAP-ENV:encodingStyle", u"" QVL_NS_SOAP_ENC);
    return r;
}

CQVLSOAPResponse* CServerOutpost::MakeResponse(const DiChar* method, const DiChar* element) {
    CQVLSOAPResponse* r = new (std::nothrow) CQVLSOAPResponse(method);
    if (!r) return nullptr;
    r->AddAttribute(u"xmlns:ns1", kNamespace);
    r->AddAttribute(u"SOAP-ENV:encodingStyle", u"" QVL_NS_SOAP_ENC);
    CQVLXMLContentTag* ret = new (std::nothrow) CQVLXMLContentTag(element);
    if (ret) ret->AddAttribute(u"xmlns:qvl", kReplyNamespace);
    r->SetReturn(ret);
    return r;
}

void CServerOutpost::SendFault(const DiChar* faultCode, const DiChar* text,
                               const DiChar* messageId) {
    CQVLSOAPFault fault;
    fault.SetFaultCode(faultCode);
    fault.SetFaultString(text);
    Send(&fault, messageId);
}

static void missing(CServerOutpost* so, CQVLSOAPRequest* request, const DiChar* name,
                    const DiChar* messageId) {
    diLogErrorArgs(363, {name, orEmpty(request->method)});
    DiChar text[1024];
    diFormatPositional(text, 1024, u"Missing parameter (%s) from request", {name});
    so->SendFault(u"Client.MissingParameter", text, messageId);
}

/* The parameter of that name and type; a fault is answered when it is
 * absent or of another type. */
static CQVLSOAPParameter* require(CServerOutpost* so, CQVLSOAPRequest* request, const DiChar* name,
                                  const DiChar* type, const DiChar* messageId) {
    CQVLSOAPParameter* p = request->FindParameter(name);
    if (!p) {
        missing(so, request, name, messageId);
        return nullptr;
    }
    if (!p->IsType(type)) {
        DiChar text[1024];
        const DiChar* actual = p->value ? p->value->GetTypeName() : nullptr;
        diFormatPositional(text, 1024, u"%s should be type %s not %s",
                           {name, type, orEmpty(actual)});
        so->SendFault(u"Client.ParameterType", text, messageId);
        return nullptr;
    }
    return p;
}

const DiChar* CServerOutpost::RequireString(CQVLSOAPRequest* request, const DiChar* name,
                                            const DiChar* messageId) {
    CQVLSOAPParameter* p = require(this, request, name, u"xsd:string", messageId);
    return p ? p->GetString() : nullptr;
}

/* An optional integer: its value when present as xsd:int. */
static bool optionalInt(CQVLSOAPRequest* request, const DiChar* name, int32_t* value) {
    if (!request->HasParameter(name, u"xsd:int")) return false;
    *value = request->GetIntParameter(name);
    return true;
}

/* An optional port: outside 1-65535 it counts as absent. */
static bool optionalPort(CQVLSOAPRequest* request, int32_t* value) {
    int32_t v = 0;
    if (!optionalInt(request, u"port", &v)) return false;
    if (!diSOPortInRange(v)) {
        diLogWarningArgs(360, {u"port (out of range)"});
        return false;
    }
    *value = v;
    return true;
}

bool CServerOutpost::SendInit() {
    CQVLSOAPRequest* r = MakeRequest(u"ns1:init");
    if (!r) return false;
    r->AddParameter(u"connectioncookie", orEmpty(connectionCookie));
    r->AddParameter(u"port", int32_t(listeningPort));
    CQVLNS2Array* caps = new (std::nothrow) CQVLNS2Array("cap", "xsd:string");
    if (caps) {
        CProfileStore* store = g_diProfileStore;
        bool haveProfile = store && store->current && store->current->profileElement;
        DiChar clientId[256];
        DrxClientId(clientId, 256);
        CStringCapability id(u"drxclientid", clientId, false);
        CStringCapability version(u"soapclientversion", kVersion, false);
        CBoolCapability profile(u"haveprofile", false);
        profile.value = haveProfile;
        CBoolCapability reconnecting(u"reconnecting", false);
        reconnecting.value = 1;
        DiSOPlatform platform;
        DescribePlatform(&platform);
        CQVLList<CCapability> provided;
        AddClientCapabilities(&provided, platform);
        AddKeyboardItems(&provided, platform);
        AddTimeZoneItems(&provided, platform);
        AddProxyItems(&provided);
        AddComputerItems(&provided, platform);
        FreePlatform(&platform);
        CCapability* own[] = {&id, &version, &profile, connectionLost ? &reconnecting : nullptr};
        for (CCapability* c : own)
            if (c) provided.Append(c, false);
        for (auto* n = provided.head; n; n = n->next) {
            DiChar* text = n->item->ToText();
            if (text) caps->AddItem(new (std::nothrow) CQVLXSDString(text));
            free(text);
        }
        r->AddParameter(u"clientcapabilities", caps);
    }
    CQVLNS2Array* devices = new (std::nothrow) CQVLNS2Array("drive", "xsd:string");
    if (devices) r->AddParameter(u"devices", devices);
    bool ok = Send(r, nullptr);
    delete r;
    return ok;
}

/* The client id stored for the outpost's server in the profile store, or
 * the empty text. */
void CServerOutpost::DrxClientId(DiChar* out, size_t size) {
    out[0] = 0;
    CProfileStore* store = g_diProfileStore;
    CQVLXMLElement* root = store && store->document ? store->document->root : nullptr;
    if (!root || !server) {
        if (!diSOGetLocalSetting(u"drxclientid", out, size)) out[0] = 0;
        return;
    }
    CQVLXMLElement* profiles = root->Find(u"profiles");
    std::u16string host = server;
    diStrLowerAscii(&host[0], host.size());
    int count = 0;
    CQVLXMLElement* parent = nullptr;
    CQVLXMLTag* hostElement = profiles
                                  ? CProfileStore::FindChild(profiles, u"host", &count, &parent,
                                                             u"name", host.c_str(), false)
                                  : nullptr;
    size_t length = 0;
    if (hostElement && store->GetValue(hostElement, u"drxclientid", out, size, &length)) return;
    /* The automatic login keeps the id in the local settings. */
    if (!diSOGetLocalSetting(u"drxclientid", out, size)) out[0] = 0;
}

void CServerOutpost::SendKeepAliveReply() {
    CancelKeepAliveTimer();
    if (!keepAliveId) return;
    CQVLSOAPResponse* r = MakeResponse(u"ns1:keepAliveResponse", u"qvl:keepAlive");
    if (r) Send(r, keepAliveId);
    delete r;
    setText(&keepAliveId, nullptr);
}

/* ---- message boxes ---- */

CServerOutpost::BoxScope::BoxScope(CServerOutpost* o, CLaunch* l) : so(o), launch(l) {
    if (so) so->boxesUp++;
    if (launch) launch->boxesUp++;
}

CServerOutpost::BoxScope::~BoxScope() {
    if (launch && --launch->boxesUp == 0 && launch->removalHeld) delete launch;
    if (!so || --so->boxesUp > 0 || !so->endHeld) return;
    so->endHeld = 0;
    so->EndHeldSession();
}

int diSODestroy(void) {
    CServerOutpost* so = g_diOutpost;
    if (!so) return 1;
    if (so->boxesUp) {
        so->endHeld = 1;
        return 0;
    }
    /* The destruction runs message loops of its own (the integrated
     * client's sign-out may ask a certificate question): an end delivered in
     * them is this one. It is held as under a box, and the held end goes
     * with the outpost, so nothing is stopped or freed twice. */
    so->boxesUp++;
    so->Stop();
    delete so;
    return 1;
}

static void loadMessage(uint32_t message, DiChar* out, size_t size) {
    if (!diLogLoadMessage(message, out, size)) out[0] = 0;
}

void CServerOutpost::ShowErrorMessage(uint32_t message, std::initializer_list<DiFmtArg> args) {
    BoxScope box(this);
    DiChar format[1024], text[1024], caption[256];
    loadMessage(message, format, 1024);
    if (diFormatPositional(text, 1024, format, args) < 0) text[1023] = 0;
    loadMessage(455, caption, 256);
    ShowError(caption, text);
}

void CServerOutpost::ShowWarningMessage(uint32_t captionMessage, uint32_t message,
                                        std::initializer_list<DiFmtArg> args) {
    BoxScope box(this);
    DiChar format[1024], text[1024], caption[256];
    loadMessage(message, format, 1024);
    if (diFormatPositional(text, 1024, format, args) < 0) text[1023] = 0;
    loadMessage(captionMessage, caption, 256);
    ShowWarning(caption, text);
}

bool CServerOutpost::AskYesNoMessage(uint32_t message, bool owned) {
    BoxScope box(this);
    DiChar text[1024], caption[256];
    loadMessage(message, text, 1024);
    loadMessage(457, caption, 256);
    return owned ? AskYesNoOwned(caption, text) : AskYesNo(caption, text);
}

void CServerOutpost::ShowError(const DiChar*, const DiChar*) {}
void CServerOutpost::ShowWarning(const DiChar*, const DiChar*) {}
bool CServerOutpost::AskYesNo(const DiChar*, const DiChar*) {
    return false;
}
bool CServerOutpost::AskYesNoOwned(const DiChar*, const DiChar*) {
    return false;
}

/* ---- server requests ---- */

void CServerOutpost::OnLogout(CQVLSOAPRequest*, const DiChar*) {
    EndSessionSoon();
}

void CServerOutpost::OnSecurity(CQVLSOAPRequest* request, const DiChar* messageId) {
    optionalPort(request, &port);
    const DiChar* level = request->GetStringParameter(u"securitylevel");
    const DiChar* newServer = RequireString(request, u"server", messageId);
    const DiChar* cookie = RequireString(request, u"connectioncookie", messageId);
    if (!newServer || !cookie) return;
    diLogInfoArgs(367, {orEmpty(level), newServer, int(port)});
    setText(&server, newServer);
    setText(&connectionCookie, cookie);
    secure = qvlStrEqAscii(level, "ssl") ? 1 : 0;
    securityChangePending = 1;
    /* The loss of this connection posts the start request, which connects
     * with the new settings. */
    if (serverConnection) serverConnection->Close();
}

void CServerOutpost::OnRestartData(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* url = RequireString(request, u"url", messageId);
    const DiChar* frame = RequireString(request, u"frame", messageId);
    const DiChar* helperId = RequireString(request, u"helperid", messageId);
    const DiChar* cookie = RequireString(request, u"connectioncookie", messageId);
    const DiChar* newServer = RequireString(request, u"server", messageId);
    const DiChar* security = RequireString(request, u"security", messageId);
    int32_t p = restartData.port;
    if (!request->FindParameter(u"port")) missing(this, request, u"port", messageId);
    optionalPort(request, &p);
    if (!url || !helperId) return;
    setText(&restartData.url, url);
    setText(&restartData.frame, frame);
    setText(&restartData.helperId, helperId);
    restartData.port = p;
    if (!cookie || !newServer || !p) return;
    setText(&restartData.cookie, cookie);
    setText(&restartData.server, newServer);
    if (security) restartData.secure = qvlStrEqAscii(security, "ssl") ? 1 : 0;
    restartData.use = 1;
    CQVLSOAPResponse* r = MakeResponse(u"ns1:restartDataResponse", u"qvl:restartData");
    if (r) Send(r, messageId);
    delete r;
}

static const char* const kModeWords[] = {"always", "prompt", "never"};

void CServerOutpost::OnSetState(CQVLSOAPRequest* request, const DiChar*) {
    int32_t v = 0;
    if (request->HasParameter(u"logging", nullptr)) {
        diLogSetLevelByName(request->GetStringParameter(u"logging"));
    } else if (request->HasParameter(u"reconnect", nullptr)) {
        const DiChar* word = request->GetStringParameter(u"reconnect");
        for (int32_t i = 0; i < 3; i++)
            if (qvlStrEqAscii(word, kModeWords[i])) reconnectMode = i;
    } else if (request->HasParameter(u"reconnectattempts", nullptr)) {
        /* A negative count would never reach 0: it reads as none. */
        if (optionalInt(request, u"reconnectattempts", &v)) reconnectAttempts = v > 0 ? v : 0;
    } else if (request->HasParameter(u"reconnectwait", nullptr)) {
        if (optionalInt(request, u"reconnectwait", &v)) reconnectWait = v > 0 ? v : 0;
    }
}

void CServerOutpost::OnGetState(CQVLSOAPRequest* request, const DiChar* messageId) {
    DiChar text[32];
    const DiChar* value = nullptr;
    if (request->HasParameter(u"printstate", nullptr)) {
        value = printJobs ? printJobs->GetStateName() : u"noprinter";
    } else if (request->HasParameter(u"logging", nullptr)) {
        value = diLogLevelName();
    } else if (request->HasParameter(u"reconnect", nullptr)) {
        static const DiChar* const kWords[] = {u"always", u"prompt", u"never"};
        int32_t mode = EffectiveReconnectMode();
        value = mode >= 0 && mode <= 2 ? kWords[mode] : u"";
    } else if (request->HasParameter(u"reconnectattempts", nullptr)) {
        diFormatPositional(text, 32, u"%d", {int(reconnectAttempts)});
        value = text;
    } else if (request->HasParameter(u"reconnectwait", nullptr)) {
        diFormatPositional(text, 32, u"%d", {int(reconnectWait)});
        value = text;
    }
    if (!value) return;
    CQVLSOAPResponse* r = MakeResponse(u"ns1:getStateResponse", u"qvl:getState");
    if (!r) return;
    CQVLSOAPParameter p(u"value", value);
    r->AddReturnParameter(&p);
    Send(r, messageId);
    delete r;
}

void CServerOutpost::OnUserinfo(CQVLSOAPRequest* request, const DiChar*) {
    static const DiChar* const kNames[DI_SO_USERINFO] = {u"shortname", u"fullname", u"locale",
                                                         u"server", u"array"};
    for (int i = 0; i < DI_SO_USERINFO; i++) {
        const DiChar* v = request->GetStringParameter(kNames[i]);
        if (v && v[0]) setText(&userInfo[i], v);
    }
    if (request->GetStringParameter(u"array")) RememberServerCertificates(userInfo[DI_SO_CERTS]);
    SaveSessionToProfile();
    if (diSOIntegratedClientIsActive()) g_diIntegratedClient->OnUserInfo();
    RefreshTray();
}

void CServerOutpost::SaveSessionToProfile() {
    if (g_diProfileStore) g_diProfileStore->Save();
}

/* ---- the profile's policy ---- */

bool CServerOutpost::ProfileValue(const DiChar* key, DiChar* out, size_t size) {
    size_t length = 0;
    out[0] = 0;
    return g_diProfileStore && g_diProfileStore->GetProfileValue(key, out, size, &length);
}

void CServerOutpost::ClearStartImmediately() {
    startImmediately = false;
    if (g_ddApp) g_ddApp->opt.startImmediately = 0;
}

/* The profile's "proxy": "browser" takes the proxy last used (unless the
 * client is the mobile one) or leaves the choice to the browser's webtop;
 * "specify" takes the HTTP or SOCKS proxy the profile names. */
void CServerOutpost::ReadProfileProxy(CProfileStore* store, CQVLXMLTag* profile,
                                      const DiChar* kind) {
    DiChar host[512], type[64];
    int32_t p = 0;
    bool flag = false;
    if (qvlStrEqAscii(kind, "browser")) {
        if (store->GetBool(profile, u"mobile_client", &flag) && flag) return;
        if (ProfileValue(u"lastproxyhost", host, 512) &&
            store->GetInt(profile, u"lastproxyport", &p) &&
            ProfileValue(u"lastproxytype", type, 64)) {
            setText(&proxyHost, host);
            proxyPort = p;
            /* The kind comes along: a SOCKS proxy spoken to as an HTTP one
             * fails every connection. */
            if (type[0]) setText(&proxyType, type);
            ApplyProxy();
        } else {
            ClearStartImmediately();
            launchBrowser = 1;
        }
    } else if (qvlStrEqAscii(kind, "specify")) {
        bool http = store->GetBool(profile, u"usehttp", &flag) && flag;
        bool socks = !http && store->GetBool(profile, u"usesocks", &flag) && flag;
        if (!http && !socks) return;
        setText(&proxyType, http ? u"HTTP" : u"SOCKS");
        if (ProfileValue(http ? u"httphost" : u"sockshost", host, 512) &&
            store->GetInt(profile, http ? u"httpport" : u"socksport", &p)) {
            setText(&proxyHost, host);
            proxyPort = p;
            ApplyProxy();
        }
    }
}

void CServerOutpost::ApplyProxy() {
    launchBrowser = 0;
    if (!proxyHost || !proxyHost[0] || !g_ddApp) return;
    bool socks = proxyType && qvlStrEqAscii(proxyType, "SOCKS");
    DiRoute** slot = socks ? &g_ddApp->opt.socksRoute : &g_ddApp->opt.httpProxyRoute;
    if (*slot && (*slot)->host && qvlStrEq((*slot)->host, proxyHost)) return;
    DiRoute* route = static_cast<DiRoute*>(calloc(1, sizeof(DiRoute)));
    if (!route) return;
    diRouteInit(route, socks ? 3 : 2, proxyHost, uint32_t(proxyPort), 0);
    diRouteLoadCachedCredentials(route);
    DiRoute* old = *slot;
    *slot = route;
    if (old) {
        diRouteFree(old);
        free(old);
    }
    (socks ? g_ddApp->socksInUse : g_ddApp->httpProxyInUse) = 1;
}

void CServerOutpost::SetProxy(const DiChar* host, int32_t newPort, const DiChar* type) {
    DiChar setting[64];
    if (ProfileValue(u"proxy", setting, 64) && !qvlStrEqAscii(setting, "browser")) return;
    auto same = [](const DiChar* a, const DiChar* b) {
        return (!a && !b) || (a && b && qvlStrEq(a, b));
    };
    if (same(host, proxyHost) && newPort == proxyPort && same(type, proxyType)) return;
    setText(&proxyHost, host);
    proxyPort = newPort;
    setText(&proxyType, type);
    ApplyProxy();
    if (CProfileStore* store = g_diProfileStore) {
        store->SetLastProxy(proxyHost, proxyPort, proxyType);
        store->Save();
    }
}

const char* diSOPrinterType(const DiChar* description, uint16_t osCode) {
    std::u16string d = description ? description : u"";
    size_t at = d.find(u"driver=");
    if (at == std::u16string::npos) return nullptr;
    std::u16string driver = d.substr(at + 7, d.find(u'&', at) - (at + 7));
    diStrLowerAscii(&driver[0], driver.size());
    uint16_t os = osCode & 0xff;
    if (os >= 1 && os <= 3) return driver == u"pscript.drv" ? "PostScript" : "PCL";
    if (os == 5) return driver == u"rasdd.dll" ? "PCL" : "PostScript";
    if (os >= 6 && os <= 9) return driver == u"unidrv.dll" ? "PCL" : "PostScript";
    return nullptr;
}

void CServerOutpost::ReadProfile() {
    CProfileStore* store = g_diProfileStore;
    CQVLXMLTag* profile = store && store->current ? store->current->profileElement : nullptr;
    if (startMode == 0) startMode = profile ? 3 : 4;
    if (!profile) {
        reconnectMode = DI_SO_ALWAYS;
        reconnectAttempts = 6;
        reconnectWait = 10;
        diLogSetLevelByName(u"logging_errorsonly");
        if (startMode != 1 && startMode != 2) {
            ClearStartImmediately();
            launchBrowser = 1;
        }
        return;
    }
    DiChar text[512];
    static const char* const kModes[] = {"reconnect_always", "reconnect_ask", "reconnect_never"};
    if (ProfileValue(u"reconnect_mode", text, 512))
        for (int32_t i = 0; i < 3; i++)
            if (qvlStrEqAscii(text, kModes[i])) reconnectMode = i;
    int32_t n = 0;
    /* Negative counts and waits read as 0: a count below 0 never runs out. */
    if (store->GetInt(profile, u"reconnect_attempts", &n)) reconnectAttempts = n > 0 ? n : 0;
    if (store->GetInt(profile, u"reconnect_interval", &n)) reconnectWait = n > 0 ? n : 0;
    if (ProfileValue(u"logging", text, 512)) diLogSetLevelByName(text);
    if (ProfileValue(u"proxy", text, 512)) ReadProfileProxy(store, profile, text);
    bool mode = ProfileValue(u"mode", text, 512) && !qvlStrEqAscii(text, "browser");
    if (mode || server) return;
    if (startImmediately) {
        ClearStartImmediately();
        launchBrowser = 1;
    }
}

void CServerOutpost::OnKeepAlive(CQVLSOAPRequest* request, const DiChar* messageId) {
    int32_t timeout = -1;
    optionalInt(request, u"timeout", &timeout);
    if (timeout < 1) return;
    CancelKeepAliveTimer();
    setText(&keepAliveId, messageId ? messageId : u"0");
    ArmKeepAliveTimer(timeout);
}

void CServerOutpost::OnRegisterConnectionLost(CQVLSOAPRequest* request, const DiChar* messageId) {
    const DiChar* url = RequireString(request, u"url", messageId);
    const DiChar* frame = RequireString(request, u"frame", messageId);
    const DiChar* helperId = RequireString(request, u"helperid", messageId);
    if (!url || !helperId) return;
    setText(&connectionLostHandler.url, url);
    setText(&connectionLostHandler.frame, frame);
    setText(&connectionLostHandler.helperId, helperId);
    CQVLSOAPResponse* r =
        MakeResponse(u"ns1:registerConnectionLostResponse", u"qvl:connectionLost");
    if (r) Send(r, messageId);
    delete r;
}

/* ---- helpers and the browser ---- */

void CServerOutpost::OnHelperInit(CHelperConnection* helper, CQVLSOAPRequest* request,
                                  const DiChar*) {
    static const DiChar* const kKinds[] = {u"Can host in-place apps", u"Can run in-place apps",
                                           u"Cannot handle in-place apps"};
    int32_t kind = helper->kind >= 0 && helper->kind <= 2 ? helper->kind : 2;
    diLogInfoArgs(357, {orEmpty(helper->GetPeerName()), kKinds[kind]});
    if (request->GetBoolParameter(u"toldlisteningport") && portFile) RemovePortFile();
    const DiChar* cookie = request->GetStringParameter(u"connectioncookie");
    if (cookie) {
        if (!connectionCookie)
            diLogInfoArgs(405, {u"N/A", u"new one"});
        else if (!qvlStrEq(connectionCookie, cookie))
            diLogInfoArgs(405, {u"(expired)", u"new one"});
        setText(&connectionCookie, cookie);
    }
    const DiChar* helperCode = request->GetStringParameter(u"code");
    if (helperCode && !code) setText(&code, helperCode);
    int32_t proxyPortValue = 0;
    if (optionalInt(request, u"proxyport", &proxyPortValue) && !diSOPortInRange(proxyPortValue))
        proxyPortValue = 0;
    SetProxy(request->GetStringParameter(u"proxyserver"), proxyPortValue,
             request->GetStringParameter(u"proxytype"));
    if (connectionState == DI_SO_NOT_CONNECTED) {
        const DiChar* s = request->GetStringParameter(u"server");
        if (s && !server) setText(&server, s);
        int32_t p = 0;
        if (!port && optionalPort(request, &p)) port = p;
        SetBaseRoute(request->GetStringParameter(u"baseroute"));
        if (request->FindParameter(u"secure")) secure = request->GetBoolParameter(u"secure");
        if (request->FindParameter(u"firewalltraversal"))
            firewallTraversal = request->GetBoolParameter(u"firewalltraversal");
        const DiChar* ca = request->GetStringParameter(u"ca");
        if (ca && !caFile) setText(&caFile, ca);
        if (!ContinueStart()) LogStatus();
    } else {
        DeliverWebserverEvents(helper);
        LogStatus();
    }
}

void CServerOutpost::ServePoll(CHelperConnection* helper, const DiChar* id) {
    for (int32_t i = 0; id && i < pendingEventCount;) {
        DiSOWebserverEvent e = pendingEvents[i];
        if (!e.helperId || !qvlStrEq(e.helperId, id)) {
            i++;
            continue;
        }
        memmove(&pendingEvents[i], &pendingEvents[i + 1],
                size_t(pendingEventCount - i - 1) * sizeof *pendingEvents);
        pendingEvents[--pendingEventCount] = DiSOWebserverEvent();
        /* An event that is no web address is dropped, and the helper's next
         * one, if any, served instead. */
        DiChar* script = diSOReloadFrameScript(orEmpty(e.url), orEmpty(e.frame));
        if (script) {
            CQVLHTTPResponse page;
            CQVLHTMLDoc* doc = new (std::nothrow) CQVLHTMLDoc();
            if (doc) {
                doc->SetScript(script);
                doc->SetOnLoad(u"ReloadFrame()");
            }
            page.SetDocument(doc);
            helper->SendHTTP(&page);
        } else {
            diLogErrorArgs(304, {orEmpty(e.helperId), orEmpty(e.url), orEmpty(e.frame)});
        }
        free(e.url);
        free(e.frame);
        free(e.helperId);
        if (!script) continue;
        free(script);
        if (helperWaitTimer) EndSessionSoon();
        return;
    }
    CQVLHTTPStatusResponse none("HTTP/1.1 204 No Content\r\n");
    helper->SendHTTP(&none);
}

void CServerOutpost::ServeWebtopPage(CHelperConnection* helper, int runsApplet) {
    noJava = runsApplet ? 1 : 2;
    CQVLHTTPResponse page;
    CQVLHTMLDoc* doc = new (std::nothrow) CQVLHTMLDoc();
    std::u16string load;
    bool endAfter = false;
    if (webtopUrl && noJava == 2) {
        /* Without the applet the integrated client signs in and the page
         * loads the URL it prepared, or the server's "disabled" page. */
        DiChar buffer[512];
        size_t n = qvlStrLen(webtopUrl);
        if (n >= 512) n = 511;
        memcpy(buffer, webtopUrl, n * sizeof(DiChar));
        buffer[n] = 0;
        AddUrlParameter(u"IC_JOIN", u"true", buffer, 512);
        if (g_ddApp) setText(&g_ddApp->webtopUrl, buffer);
        {
            BoxScope hold(this); /* the sign-in shows dialogs */
            if (!diSOIntegratedClientLogin()) ReportConnectFailure();
        }
        const DiChar* taken =
            g_diIntegratedClient ? g_diIntegratedClient->TakeWebtopUrl() : nullptr;
        if (taken) {
            load = taken;
        } else {
            std::u16string u = buffer;
            size_t at = u.find(u"/hvn");
            if (at != std::u16string::npos)
                load = u.substr(0, at) + u"/hvn/resources/jsp/errordisabled.jsp";
            endAfter = true;
        }
    } else if (webtopUrl) {
        load = webtopUrl;
    }
    DiChar* script = doc && !load.empty() ? diSOReloadFrameScript(load.c_str(), u"_self") : nullptr;
    if (script) {
        doc->SetScript(script);
        doc->SetOnLoad(u"ReloadFrame()");
        free(script);
    }
    page.SetDocument(doc);
    helper->SendHTTP(&page);
    setText(&webtopUrl, nullptr);
    if (endAfter) EndSessionSoon();
}
