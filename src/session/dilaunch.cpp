/* Launch requests and launches (see dilaunch.h). */
#include "session/dilaunch.h"

#include "core/diapp.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "net/dihttp.h"
#include "xml/qvlxmlglobals.h"
#include "net/dilaip.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>
#include <string>

static const DiChar* orEmpty(const DiChar* s) {
    return s ? s : u"";
}

static void replaceText(DiChar** slot, const DiChar* text) {
    DiChar* copy = text ? qvlStrDup(text) : nullptr;
    free(*slot);
    *slot = copy;
}

/* ---- the common base ---- */

CLaunchInfo::~CLaunchInfo() {
    free(id);
    free(altId);
}

bool CLaunchInfo::MatchesId(const DiChar* text) const {
    if (!text) return false;
    return (id && qvlStrEq(id, text)) || (altId && qvlStrEq(altId, text));
}

void CLaunchInfo::SetId(const DiChar* text) {
    replaceText(&id, text);
}

bool CLaunchInfo::MatchesTransaction(const DiChar* transactionId, const DiChar* sessionId) const {
    if (transactionId && MatchesId(transactionId)) return true;
    return sessionId && params.sessionId && qvlStrEq(params.sessionId, sessionId);
}

/* ---- requests ---- */

static bool hasSession(const DiLaunchParams& p) {
    return p.sessionId && p.sessionCookie && p.externalDnsName && p.port != 0;
}

bool CLaunchRequest::IsComplete() const {
    switch (params.placement) {
    case 0:
        return false;
    case 1:
        if (!helper || !hasSession(params)) return false;
        return helper->kind != 0 || helperWindow != 0;
    case 6:
        /* The command wins over the URL when both are given; either one
         * can be started. */
        return params.localLaunchCommand || params.url;
    default:
        return hasSession(params);
    }
}

CLaunchRequest::~CLaunchRequest() {
    DiObject* p = progressWindow;
    progressWindow = nullptr;
    if (p) diUIObjectRelease(p);
}

void CLaunchRequest::CreateProgressWindow(bool show) {
    if (progressWindow || ddDENoProgress()) return;
    DiObject* root = g_ddApp ? g_ddApp->root : nullptr;
    int32_t w = params.width > 0 ? params.width : 640;
    int32_t h = params.height > 0 ? params.height : 480;
    progressWindow = diUICreateProgressWindow(root, DI_OBJ_PROGRESS, w, h);
    if (show) ShowProgressWindow();
}

/* Shows a launch dialog in the state, its details as the launch
 * parameters ask. */
static void showDialog(DiObject* p, int32_t state, const DiLaunchParams& params) {
    diProgSetState(p, state, 0);
    if (g_diOutpost) g_diOutpost->ShowObject(p);
    ddProgStopTimer(p);
    ddProgShowDetails(p, params.detailsHidden ? 0 : 1);
    ddProgEnableDetails(p, params.detailsDisabled ? 0 : 1);
    diProgSetAutoDetails(p, params.showOnError ? 1u : 0u);
}

void CLaunchRequest::ShowProgressWindow() {
    if (progressWindow) showDialog(progressWindow, DI_PROG_ABOUT_TO_START, params);
}

DiObject* CLaunchRequest::TakeProgressWindow() {
    DiObject* p = progressWindow;
    progressWindow = nullptr;
    return p;
}

/* ---- the factory ---- */

CLaunch* diLaunchCreate(const CLaunchRequest* request) {
    if (!request) return nullptr;
    CLaunch* launch = nullptr;
    switch (request->params.placement) {
    case 1:
        if (!request->helper) return nullptr;
        if (request->helper->kind == 2) {
            launch = new (std::nothrow) CWindowLaunch();
        } else {
            CBrowserLaunch* b = new (std::nothrow) CBrowserLaunch();
            if (b) {
                b->helper = request->helper;
                b->helperWindow = request->helperWindow;
            }
            launch = b;
        }
        break;
    case 2:
        launch = new (std::nothrow) CWindowLaunch();
        break;
    case 3:
    case 7:
        launch = new (std::nothrow) CMultiWindowLaunch();
        break;
    case 4:
        launch = new (std::nothrow) CKioskLaunch();
        break;
    case 5:
        launch = new (std::nothrow) CLocalXLaunch();
        break;
    case 6:
        launch = new (std::nothrow) CLocalWindowsLaunch();
        break;
    default:
        return nullptr;
    }
    if (!launch) return nullptr;
    launch->params.Merge(request->params);
    launch->SetId(request->EffectiveId());
    return launch;
}

/* ---- texts ---- */

bool diLaunchCookieBlock(const DiChar* cookie, uint8_t block[64]) {
    memset(block, 0, 64);
    if (!cookie) return true;
    char* utf8 = diTextToUtf8Dup(cookie, qvlStrLen(cookie));
    if (!utf8) return false;
    size_t n = strlen(utf8);
    bool fits = n <= 63; /* room for the terminating zero */
    if (fits) memcpy(block, utf8, n);
    memset(utf8, 0, n);
    free(utf8);
    return fits;
}

DiChar* diLaunchJsToken(const DiChar* token) {
    static const char kHex[] = "0123456789abcdef";
    std::u16string out;
    for (const DiChar* p = token; p && *p; p++) {
        DiChar c = *p;
        if (c == '\\' || c == '"' || c == '\'' || c == '<' || c == '>' || c < 0x20 || c == 0x7f ||
            c == 0x2028 || c == 0x2029) {
            out += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += DiChar(kHex[(c >> shift) & 15]);
        } else if (c == '%') {
            out += u"%25"; /* a javascript: URL is percent-decoded before it runs */
        } else {
            out += c;
        }
    }
    return qvlStrDup(out.c_str());
}

DiChar* diLaunchUrlToken(const DiChar* token) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string bytes;
    if (token) {
        char* utf8 = diTextToUtf8Dup(token, qvlStrLen(token));
        if (utf8) bytes = utf8;
        free(utf8);
    }
    std::u16string out;
    for (unsigned char c : bytes) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += DiChar(c);
        } else {
            out += u'%';
            out += DiChar(kHex[c >> 4]);
            out += DiChar(kHex[c & 15]);
        }
    }
    return qvlStrDup(out.c_str());
}

/* ---- launches ---- */

CLaunch::~CLaunch() {
    if (removeTimer) diTimerRemove(removeTimer);
    removeTimer = nullptr;
    DestroyFrame();
    if (pendingDialog) {
        diLAIPDialogFree(pendingDialog);
        free(pendingDialog);
    }
    free(pendingMessageId);
}

DiDEManager* CLaunch::GetEngineManager() const {
    return frame ? frame->manager : nullptr;
}

DiChannel* CLaunch::GetEngineChannel() const {
    DiDEManager* m = GetEngineManager();
    return m ? m->channel : nullptr;
}

bool CLaunch::CreateFrame(uint32_t mode) {
    int32_t w = params.width > 0 ? params.width : 640;
    int32_t h = params.height > 0 ? params.height : 480;
    if (g_diOutpost && mode == 2) g_diOutpost->ScreenSize(&w, &h);
    frame = diUICreateFrame(mode == 2 ? 2 : 3, uint32_t(params.engineType), w, h);
    return frame != nullptr;
}

void CLaunch::FitFrame() {
    if (g_diOutpost && frame) g_diOutpost->FitFrame(frame);
}

void CLaunch::Raise() {
    if (g_diOutpost && frame) g_diOutpost->RaiseFrame(frame);
}

bool CLaunch::Fail(int32_t message, std::initializer_list<DiFmtArg> args) {
    diLogErrorArgs(uint32_t(message), args);
    SwitchState(DI_LAUNCH_FAILED);
    return false;
}

bool CLaunch::Start(bool secure, DiObject* progress) {
    return StartEngine(secure, 0, progress);
}

bool CLaunch::StartEngine(bool secure, uint32_t frameMode, DiObject* progress) {
    const DiChar* name = orEmpty(params.appName);
    /* The request's dialog goes on as the frame's progress window: the
     * frame is made without one of its own. */
    uint32_t* noProgress = g_ddApp ? &g_ddApp->opt.noProgress : nullptr;
    uint32_t saved = noProgress ? *noProgress : 0;
    if (progress && noProgress) *noProgress = 1;
    bool made = params.engineType != 2 && CreateFrame(frameMode);
    DiDEManager* m = GetEngineManager();
    DiChannel* ch = GetEngineChannel();
    if (progress && ch && !m->progress) {
        m->progress = progress;
        progress->parent = &m->hdr;
        progress = nullptr;
    }
    if (noProgress) *noProgress = saved;
    if (progress) diUIObjectRelease(progress); /* not taken: the launch fails */
    if (!made || !ch || !ch->socket) return Fail(384, {name});
    const DiChar* host = orEmpty(params.externalDnsName);
    /* A port outside 1-65535 would be cut to 16 bits and reach another
     * service: it fails like a connection that could not be made. */
    if (!diSOPortInRange(params.port)) return Fail(354, {host, int(params.port)});
    uint32_t flags = DI_NET_BASE_ROUTES | (secure ? DI_NET_TARGET_TLS : 0u);
    int r = -1;
    if (ddNetSocketOpen(ch->socket, 1, 1) == 0)
        r = diNetConnect(ch->socket, host, uint16_t(params.port), flags);
    if (r != 0 && r != -9) return Fail(354, {host, int(params.port)});
    /* With the list warning the user may keep the application server's
     * certificate, and a known host's untrusted one is asked about, not
     * taken without a word. Service connections start TLS the same way. */
    if (r == 0 && secure) {
        int tls = ddNetStartTlsClient(ch->socket, 1, host);
        /* The questions' loop may have cancelled the launch, frame and all. */
        if (GetEngineChannel() != ch) return false;
        if (tls < 0) return Fail(388, {host, int(params.port)});
    }
    diLogInfoArgs(353, {host, int(params.port)});
    SwitchState(DI_LAUNCH_STARTING);
    diIOBufferFree(&ch->in);
    diIOBufferFree(&ch->out);
    uint8_t block[64];
    /* A cookie that does not fit the block, or a request too large for one
     * frame, fails the launch: nothing was sent. */
    if (!diLaunchCookieBlock(params.sessionCookie, block) ||
        diLAIPSendRequest(ch, 0, 2, orEmpty(params.sessionId), 0, orEmpty(params.owner), block,
                          host, orEmpty(params.peerDnsName)) < 0) {
        memset(block, 0, sizeof block);
        return Fail(384, {name});
    }
    memset(block, 0, sizeof block);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    OnConnecting();
    /* Only the X engine draws into an image that can be scaled; the
     * channel scales only once a scaler was attached. */
    ch->hdr.scalingAllowed = 0;
    if (params.scalable && params.engineType == DI_OBJ_XDE && g_diOutpost && frame)
        g_diOutpost->AttachScaler(frame, &ch->hdr);
    return true;
}

static uint32_t finishSoon(void* arg) {
    CLaunch* launch = static_cast<CLaunch*>(arg);
    launch->removeTimer = nullptr; /* the record goes with the 0 returned */
    launch->Finish();
    return 0;
}

/* The progress text of a launch state (message number by state). */
static void stateText(int32_t state, DiChar* out, size_t size) {
    static const uint16_t kMessages[14] = {8, 10, 31, 32, 62, 9, 11, 12, 19, 21, 23, 26, 320, 319};
    out[0] = 0;
    if (state >= 0 && state < 14) diLogLoadMessage(kMessages[state], out, size);
}

void CLaunch::SwitchState(int32_t newState) {
    /* A launch that reached a final state is on its way out: later reports
     * (the engine's pump and its disconnect both report the end) change
     * nothing. */
    if (finishing) return;
    DiChar from[256], to[256];
    stateText(state, from, 256);
    stateText(newState, to, 256);
    diLogInfoArgs(386, {orEmpty(params.appName), from, to});
    state = newState;
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    switch (newState) {
    case DI_LAUNCH_DISCONNECTED:
    case DI_LAUNCH_SUSPENDED:
    case DI_LAUNCH_ENDED:
    case DI_LAUNCH_FAILED:
        finishing = true;
        if (newState == DI_LAUNCH_DISCONNECTED) frame = nullptr;
        removeTimer = diTimerAdd(0, finishSoon, this);
        if (!removeTimer) {
            /* No timer record: the launch stays listed but finished; the
             * outpost deletes it at the end of the session. */
        }
        break;
    case DI_LAUNCH_CONNECTED:
    case DI_LAUNCH_WAIT_HELPER:
        OnReady();
        break;
    default:
        break;
    }
    if (g_diOutpost == so) so->LogStatus();
}

void CLaunch::DestroyFrame() {
    DiFrame* f = frame;
    frame = nullptr;
    if (!f) return;
    DiChannel* ch = f->manager ? f->manager->channel : nullptr;
    if (ch && diLAIPActive(ch)) diLAIPFreeDialogState(ch);
    diUIDestroyFrame(f);
}

void CLaunch::Finish() {
    /* The frame stays with its error for its user to close; a server that
     * fails launch after launch leaves no more of them standing than it may
     * have launches, and the rest go with their launch (the log keeps the
     * error). */
    if (state == DI_LAUNCH_FAILED && params.showOnError && frame &&
        diUIKeptErrorFrames() < DI_SO_MAX_LAUNCHES) {
        frame->keptForError = 1;
        frame = nullptr;
    } else {
        DestroyFrame();
    }
    CServerOutpost* so = g_diOutpost;
    if (!so) return;
    if (params.transactionId) {
        std::u16string stoodFor = params.transactionId;
        params.ClearTransactionId();
        CLaunch* original = so->FindLaunchById(stoodFor.c_str());
        /* Its box or login dialog may deliver the session's end or cancel
         * this launch: held, this one is freed once they returned. */
        CServerOutpost::BoxScope hold(so, this);
        if (original && original != this) original->ResumeLoginDialog();
        so->RemoveLaunch(this);
        return;
    }
    so->RemoveLaunch(this);
}

void CLaunch::ShowProgress(bool show) {
    DiDEManager* m = GetEngineManager();
    if (show && m && m->progress) showDialog(m->progress, DI_PROG_STARTING, params);
}

void CLaunch::SetPendingDialog(const DiLAIPDialog* dialog) {
    if (dialog == pendingDialog) return;
    DiLAIPDialog* copy = dialog ? diLAIPDialogCopy(dialog) : nullptr;
    if (pendingDialog) {
        diLAIPDialogFree(pendingDialog);
        free(pendingDialog);
    }
    pendingDialog = copy;
}

const DiChar* CLaunch::GetPendingUserName() const {
    if (!pendingDialog) return nullptr;
    DiLAIPField* f = diLAIPFindField(pendingDialog, 0);
    return f && (f->flags & 2) ? f->label : nullptr;
}

void CLaunch::SetPendingMessageId(const DiChar* text) {
    replaceText(&pendingMessageId, text);
}

void CLaunch::ResumeLoginDialog() {
    diLogInfo(385);
    if (!pendingDialog) return;
    /* The dialog's or the box's loop may cancel this launch: it goes once
     * they returned. */
    CServerOutpost::BoxScope hold(g_diOutpost, this);
    DiChannel* ch = GetEngineChannel();
    if (ch && diLAIPActive(ch)) {
        if (DiLAIPField* f = diLAIPFindField(pendingDialog, 0)) f->value = 1;
        diLAIPRunDialog(ch, pendingDialog);
        return;
    }
    if (g_diOutpost) g_diOutpost->ShowWarningMessage(456, 316, {});
    SetPendingDialog(nullptr);
}

/* ---- the kinds ---- */

void CWindowLaunch::OnReady() {
    diDEManagerActivate(GetEngineManager(), 1);
    if (g_diOutpost && frame) g_diOutpost->ShowObject(&frame->hdr);
    Raise();
}

void CLaunch::TitleFrame() {
    if (g_diOutpost && frame && params.appShortName)
        g_diOutpost->SetFrameTitle(frame, params.appShortName);
}

void CWindowLaunch::OnConnecting() {
    diDEManagerActivate(GetEngineManager(), 0);
    FitFrame();
    TitleFrame();
}

void CMultiWindowLaunch::Raise() {
    DiChannel* ch = GetEngineChannel();
    if (g_diOutpost && ch) g_diOutpost->ShowEngineWindows(ch);
}

void CMultiWindowLaunch::OnReady() {
    diDEManagerActivate(GetEngineManager(), 1);
    Raise();
}

void CMultiWindowLaunch::OnConnecting() {
    diDEManagerActivate(GetEngineManager(), 0);
    if (g_diOutpost && frame) g_diOutpost->HideObject(&frame->hdr);
    TitleFrame();
}

void CLocalXLaunch::OnReady() {
    SwitchState(DI_LAUNCH_ENDED);
}

void CLocalXLaunch::OnConnecting() {
    diDEManagerActivate(GetEngineManager(), 0);
    if (g_diOutpost && frame) g_diOutpost->HideObject(&frame->hdr);
}

bool CBrowserLaunch::Start(bool secure, DiObject* progress) {
    if (helper && helper->kind == 0) return StartEngine(secure, 0, progress);
    if (progress) diUIObjectRelease(progress); /* the helper shows the application */
    if (!helper) return false;
    if (helper->kind != 1 || !g_diOutpost) return false;
    CQVLSOAPRequest* r = CServerOutpost::MakeRequest(u"ns1:doLaunch");
    if (!r) return false;
    const DiLaunchParams& p = params;
    const DiChar* texts[][2] = {{u"transactionid", EffectiveId()},
                                {u"mrkqvlsessionid", p.sessionId},
                                {u"mrkqvlsessionowner", p.owner},
                                {u"mrkqvlsessioncookie", p.sessionCookie},
                                {u"mrkqvlsessionexternaldnsname", p.externalDnsName},
                                {u"mrkqvlsessionpeerdnsname", p.peerDnsName}};
    for (auto& t : texts)
        if (t[1]) r->AddParameter(t[0], t[1]);
    if (p.port) r->AddParameter(u"mrkqvlsessionport", int32_t(p.port));
    if (p.appName) r->AddParameter(u"mrkqvlsessionappname", p.appName);
    if (const DiChar* language = g_ddApp ? g_ddApp->opt.preferredLanguage : nullptr)
        r->AddParameter(u"preferredlanguage", language);
    bool sent = helper->Send(r, nullptr);
    delete r;
    return sent;
}

void CBrowserLaunch::ResumeLoginDialog() {
    if (!helper || helper->kind != 1 || !g_diOutpost) {
        CLaunch::ResumeLoginDialog();
        return;
    }
    CQVLSOAPResponse* r =
        CServerOutpost::MakeResponse(u"ns1:helperAgedPasswordResponse", u"qvl:helperAgedPassword");
    if (r) helper->Send(r, pendingMessageId);
    delete r;
}

void CBrowserLaunch::Raise() {
    if (helperWindow && state == DI_LAUNCH_CONNECTED) CLaunch::Raise();
}

void CBrowserLaunch::OnReady() {
    if (!frame || !helperWindow) return;
    diLogInfoArgs(387, {orEmpty(params.appName)});
    if (g_diOutpost) g_diOutpost->EmbedInHelperWindow(this);
    diDEManagerActivate(GetEngineManager(), 1);
    if (g_diOutpost) g_diOutpost->ShowObject(&frame->hdr);
    Raise();
}

void CBrowserLaunch::OnConnecting() {
    diDEManagerActivate(GetEngineManager(), 0);
    if (helperWindow && g_diOutpost) g_diOutpost->EmbedInHelperWindow(this);
}

bool CLocalWindowsLaunch::Start(bool, DiObject* progress) {
    if (progress) diUIObjectRelease(progress); /* nothing to follow */
    CServerOutpost* so = g_diOutpost;
    const DiChar* what = params.localLaunchCommand ? params.localLaunchCommand : params.url;
    bool started = so && what &&
                   so->RunLocal(params.localLaunchCommand, params.localLaunchArguments,
                                params.localLaunchCommand ? nullptr : params.url);
    if (started)
        diLogInfoArgs(370, {orEmpty(what)});
    else
        diLogErrorArgs(371, {orEmpty(what)});
    if (so) {
        CQVLSOAPResponse* r =
            CServerOutpost::MakeResponse(u"ns1:requestLaunchResponse", u"qvl:requestLaunch");
        if (r) {
            CQVLSOAPParameter t(u"transactionid", orEmpty(EffectiveId()));
            r->AddReturnParameter(&t);
            CQVLSOAPParameter s(u"status", started);
            r->AddReturnParameter(&s);
            so->Send(r, EffectiveId());
        }
        delete r;
    }
    /* The program runs on its own from here: the launch has nothing left
     * to follow and leaves the list like an ended (or failed) session. */
    SwitchState(started ? DI_LAUNCH_ENDED : DI_LAUNCH_FAILED);
    return true;
}
