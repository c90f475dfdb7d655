/* The Windows outpost: the server outpost's operations that touch the
 * desktop (timers on the main window, the port file, message boxes with the
 * product caption, the browser), its lifetime as the frame window and the
 * event loop see it, the channel factory's entry for type 14, and the
 * accessors that read the outpost for the rest of the client. */
#include "session/ddso.h"

#include "core/ddapp.h"
#include "core/ddevent.h"
#include "core/ddmessage.h"
#include "core/ddtrace.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "devices/didevice.h"
#include "net/ddnet.h"
#include "net/ddtls.h"
#include "net/dihttp.h"
#include "net/dicertcache.h"
#include "net/diroute.h"
#include "resources/ddres.h"
#include "session/ddconnset.h"
#include "session/ddintclient.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/ddlog.h"
#include "session/diso.h"
#include "session/dilaunch.h"
#include "session/divaip.h"
#include "ui/ddscale.h"
#include "ui/ddui.h"
#include "ui/diui.h"
#include "core/ddsysinfo.h"
#include "xml/qvlxmlglobals.h"
#include "xml/qvlxmlparser.h"

#include <stdlib.h>
#include <string.h>
#include <string>

enum : UINT_PTR { DD_SO_TIMER_RECONNECT = 1804, DD_SO_TIMER_KEEPALIVE = 1805 };

class CWinServerOutpost : public CServerOutpost {
  public:
    int32_t localXDecided = 0;
    DiChar* localXDisplay = nullptr;
    DiChar* caption = nullptr;
    CLogFile* log = nullptr;
    HMODULE resourceLibrary = nullptr;
    UINT_PTR reconnectTimer = 0, keepAliveTimer = 0;

    explicit CWinServerOutpost(const DiSOOptions& o);
    ~CWinServerOutpost() override;
    const DiChar* Caption();
    void ProbeLocalX();

    void PostStartRequest() override;
    void ArmReconnectTimer() override;
    void CancelReconnectTimer() override;
    void ArmKeepAliveTimer(int32_t seconds) override;
    void CancelKeepAliveTimer() override;
    bool WritePortFile() override;
    bool RemovePortFile() override;
    void EndSession() override;
    void EndHeldSession() override;
    bool OpenBrowser(const DiChar* url) override;
    bool AskConnectionSettings(DiChar** url) override;
    void ShowError(const DiChar* caption, const DiChar* text) override;
    void ShowWarning(const DiChar* caption, const DiChar* text) override;
    bool AskYesNo(const DiChar* caption, const DiChar* text) override;
    bool AskYesNoOwned(const DiChar* caption, const DiChar* text) override;
    void RememberServerCertificates(const DiChar* array) override;
    void SaveSessionToProfile() override;
    /* ---- launches and capabilities ---- */
    void DescribePlatform(DiSOPlatform* platform) override;
    const DiDeviceList* DeviceList() override;
    bool RunLocal(const DiChar* command, const DiChar* arguments,
                  const DiChar* commandLine) override;
    void ScreenSize(int32_t* w, int32_t* h) override;
    void FitFrame(DiFrame* frame) override;
    bool AttachScaler(DiFrame* frame, DiObject* engine) override;
    void RaiseFrame(DiFrame* frame) override;
    void ShowEngineWindows(DiChannel* engine) override { ddXDEShowFramedWindows(engine); }
    void SetFrameTitle(DiFrame* frame, const DiChar* title) override;
    void ShowObject(DiObject* obj) override;
    void HideObject(DiObject* obj) override;
    /* ---- the session menu and embedded frames ---- */
    void SetUIComponent(const DiChar* component, const DiChar* state) override {
        ddSOSetUIComponent(component, state);
    }
    void TriggerUIComponent(const DiChar* component) override { ddSOTriggerUIComponent(component); }
    void EmbedInHelperWindow(CLaunch* launch) override {
        if (!launch || !launch->frame) return;
        HWND frame = ddUIObjectWindow(&launch->frame->hdr);
        if (frame) frame = GetAncestor(frame, GA_ROOT);
        ddSOEmbedWindow(reinterpret_cast<HWND>(uintptr_t(launch->GetHelperWindow())), frame);
    }
    bool Start() override;
    void Stop() override;
    void SetConnectionState(int32_t state) override;
    void RefreshTray() override { ddSOTrayRefresh(); }
};

static CWinServerOutpost* winOutpost() {
    return static_cast<CWinServerOutpost*>(g_diOutpost);
}

static DiSOOptions optionsOf(const DdApp* app) {
    DiSOOptions o;
    o.server = app->opt.server;
    o.portFile = app->opt.portFile;
    o.port = app->opt.port;
    o.connectionCookie = app->opt.connectionCookie;
    o.startImmediately = app->opt.startImmediately != 0;
    o.secure = app->opt.secure != 0;
    o.code = app->opt.code;
    o.baseRoute = app->opt.baseRoute;
    o.caFile = app->opt.caFile;
    o.firewallTraversal = app->opt.firewallTraversal != 0;
    o.noJava = app->opt.noJava != 0;
    o.loginUrl = app->opt.loginUrl;
    return o;
}

CWinServerOutpost::CWinServerOutpost(const DiSOOptions& o) : CServerOutpost(o) {
    /* Every text and icon, the caption included, comes from "-resource"
     * first; data only: nothing of it runs. */
    const DiChar* library = g_ddApp->opt.resource;
    if (library && library[0]) {
        resourceLibrary = LoadLibraryExW(ddW(library), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ddResSetLibrary(resourceLibrary);
    }
    diCertCacheInit(ddConfigCertStorePath(), ddConfigHostsVisitedPath());
    DiChar* name = nullptr;
    DiChar* address = nullptr;
    if (ddNetGetLocalHost(&name, &address) == 0) {
        free(localHost);
        localHost = address;
        address = nullptr;
    }
    free(name);
    free(address);
    log = new (std::nothrow) CLogFile();
    ddSOUICreate();
    diLogInfoArgs(394, {Caption(), u"4.31.953"});
    ddIntClientCreate(this);
}

CWinServerOutpost::~CWinServerOutpost() {
    /* The timers go first: the integrated client's sign-out may ask a
     * question, and a reconnect or keep-alive handled in its message loop
     * would work on an outpost that is being freed. */
    CancelReconnectTimer();
    CancelKeepAliveTimer();
    delete g_diIntegratedClient;
    free(localXDisplay);
    free(caption);
    ddSOUIDestroy();
    delete log; /* no longer the program's logger */
    if (resourceLibrary) {
        ddResSetLibrary(nullptr);
        FreeLibrary(resourceLibrary);
    }
}

const DiChar* CWinServerOutpost::Caption() {
    if (!caption) {
        DiChar text[256];
        if (ddResLoadString(936, text, 256) > 0) caption = qvlStrDup(text);
    }
    return caption ? caption : u"";
}

/* "text - caption", or either alone when the other is empty. */
static std::wstring boxCaption(const DiChar* text, const DiChar* product) {
    std::wstring t = ddW(text ? text : u""), p = ddW(product ? product : u"");
    if (t.empty()) return p;
    if (p.empty()) return t;
    return t + L" - " + p;
}

void CWinServerOutpost::ProbeLocalX() {
    if (localXDecided) return;
    localXDecided = 1;
    DiChar value[64];
    if (!ProfileValue(u"trylocalx", value, 64)) return;
    std::u16string v = value;
    diStrLowerAscii(&v[0], v.size());
    if (v != u"true") return;
    DiChar* name = nullptr;
    DiChar* address = nullptr;
    if (ddNetGetLocalHost(&name, &address) == 0 && address) {
        DdSocket* s = ddNetSocketCreate();
        if (s && ddNetSocketOpen(s, 1, 1) == 0 && ddNetConnectDirect(s, address, 6000) == 0) {
            DiChar text[300];
            diFormatPositional(text, 300, u"%s:0", {name ? name : u""});
            localXDisplay = qvlStrDup(text);
        }
        if (s) {
            ddNetSocketClose(s);
            ddNetSocketDestroy(s);
        }
    }
    free(name);
    free(address);
}

void CWinServerOutpost::PostStartRequest() {
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, 0x8005, 0, 0);
}

static void CALLBACK reconnectTick(HWND, UINT, UINT_PTR, DWORD) {
    /* SetTimer repeats: the step cancels it first and re-arms as needed. */
    CWinServerOutpost* so = winOutpost();
    if (so)
        so->ReconnectStep();
    else if (g_ddApp->mainWindow)
        KillTimer(g_ddApp->mainWindow, DD_SO_TIMER_RECONNECT);
}

static void CALLBACK keepAliveTick(HWND, UINT, UINT_PTR, DWORD) {
    CWinServerOutpost* so = winOutpost();
    if (so)
        so->SendKeepAliveReply(); /* kills the timer: one reply per request */
    else if (g_ddApp->mainWindow)
        KillTimer(g_ddApp->mainWindow, DD_SO_TIMER_KEEPALIVE);
}

static UINT_PTR armTimer(UINT_PTR id, int64_t seconds, TIMERPROC proc) {
    UINT ms = diSOSecondsToMs(seconds);
    UINT_PTR r = SetTimer(g_ddApp->mainWindow, id, ms, proc);
    return g_ddApp->mainWindow ? (r ? id : 0) : r;
}

static void killTimer(UINT_PTR* id) {
    if (*id) KillTimer(g_ddApp->mainWindow, *id);
    *id = 0;
}

void CWinServerOutpost::ArmReconnectTimer() {
    killTimer(&reconnectTimer);
    reconnectTimer = armTimer(DD_SO_TIMER_RECONNECT, reconnectWait, reconnectTick);
}

void CWinServerOutpost::CancelReconnectTimer() {
    killTimer(&reconnectTimer);
}

void CWinServerOutpost::ArmKeepAliveTimer(int32_t seconds) {
    killTimer(&keepAliveTimer);
    keepAliveTimer = armTimer(DD_SO_TIMER_KEEPALIVE, seconds, keepAliveTick);
}

void CWinServerOutpost::CancelKeepAliveTimer() {
    killTimer(&keepAliveTimer);
}

bool CWinServerOutpost::WritePortFile() {
    if (!portFile) return false;
    HANDLE h = CreateFileW(ddW(portFile), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        diLogErrorArgs(389, {portFile});
        return false;
    }
    char text[16];
    int n = snprintf(text, sizeof text, "%d", int(listeningPort));
    DWORD written = 0;
    bool ok = WriteFile(h, text, DWORD(n), &written, nullptr) && written == DWORD(n);
    CloseHandle(h);
    return ok;
}

bool CWinServerOutpost::RemovePortFile() {
    if (!portFile || !DeleteFileW(ddW(portFile))) return false;
    free(portFile);
    portFile = nullptr;
    return true;
}

void CWinServerOutpost::EndSession() {
    ending = 1;
    if (g_ddApp->proxyFailed || g_ddApp->closing) return;
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, 0x8004, 0, 0);
}

void CWinServerOutpost::EndHeldSession() {
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, 0x8004, 0, 0);
}

bool CWinServerOutpost::OpenBrowser(const DiChar* url) {
    /* The opener may hand the text to the shell, which would run a program
     * named by a local or share path: web addresses only, whoever asks. */
    return diHTTPIsWebAddress(url) && ddShellRun(0, ddW(url), 0) == 0;
}

/* The user's server URL; a chosen proxy becomes the default route of its
 * kind. */
bool CWinServerOutpost::AskConnectionSettings(DiChar** url) {
    *url = nullptr;
    DiConnSettingsDialog dialog;
    dialog.Run();
    if (!diConnSettingsGetResult(&dialog) || !diConnSettingsGetURL(&dialog)) return false;
    *url = qvlStrDup(diConnSettingsGetURL(&dialog));
    if (diConnSettingsUsesProxy(&dialog) && diConnSettingsGetProxyHost(&dialog)) {
        free(proxyHost);
        proxyHost = qvlStrDup(diConnSettingsGetProxyHost(&dialog));
        proxyPort = dialog.proxyPort;
        free(proxyType);
        proxyType = qvlStrDup(diConnSettingsGetProxyKindName(&dialog));
        ApplyProxy();
    }
    return *url != nullptr;
}
/* No tray menu while a box is up: its choices could end the session under
 * the box's caller; an end that arrives anyway is held until it returned. */
struct TrayBracket {
    CServerOutpost::BoxScope box;
    explicit TrayBracket(CServerOutpost* so) : box(so) { ddSOTrayBeginModal(nullptr); }
    ~TrayBracket() { ddSOTrayEndModal(); }
};

void CWinServerOutpost::ShowError(const DiChar* cap, const DiChar* text) {
    TrayBracket bracket(this);
    std::wstring c = boxCaption(cap, Caption());
    g_ddMessageBoxUp++;
    MessageBoxW(g_ddApp->mainWindow, ddW(text), c.c_str(), MB_OK | MB_ICONERROR);
    g_ddMessageBoxUp--;
}

void CWinServerOutpost::ShowWarning(const DiChar* cap, const DiChar* text) {
    TrayBracket bracket(this);
    std::wstring c = boxCaption(cap, Caption());
    ddMessageBox(g_ddApp->mainWindow, ddW(text), c.c_str());
}

bool CWinServerOutpost::AskYesNo(const DiChar* cap, const DiChar* text) {
    TrayBracket bracket(this);
    std::wstring c = boxCaption(cap, Caption());
    return ddAskYesNoHwnd(GetActiveWindow(), ddW(text), c.c_str());
}

bool CWinServerOutpost::AskYesNoOwned(const DiChar* cap, const DiChar* text) {
    TrayBracket bracket(this);
    std::wstring c = boxCaption(cap, Caption());
    return ddAskYesNoHwnd(nullptr, ddW(text), c.c_str());
}

/* The "array" of ns1:userinfo: each server's certificates are remembered
 * for its host. */
void CWinServerOutpost::RememberServerCertificates(const DiChar* array) {
    if (array) diCertCacheRememberServers(diProfileToUtf8(array));
}

void CWinServerOutpost::SaveSessionToProfile() {
    CProfileStore* store = g_diProfileStore;
    if (!store) return;
    if (g_diIntegratedClient) store->SetSessionCookie(g_diIntegratedClient->sessionCookie.c_str());
    /* The certificates accepted so far go to the session's file, which
     * the processes of later launches read. */
    const std::string& certs = diCertCacheSaveSessionCerts();
    if (!certs.empty()) store->SetCertsFile(diProfileFromUtf8(certs).c_str());
    store->Save();
}

/* ---- lifetime ---- */

bool ddSOExists(void) {
    return g_diOutpost != nullptr;
}

bool CWinServerOutpost::Start() {
    if (!CServerOutpost::Start()) return false;
    ddSOTrayStart();
    return true;
}

void CWinServerOutpost::Stop() {
    ddSOTrayStop();
    CServerOutpost::Stop();
}

void CWinServerOutpost::SetConnectionState(int32_t state) {
    CServerOutpost::SetConnectionState(state);
    ddSOTrayRefresh();
}

int ddSOCreate(void) {
    if (g_diOutpost) return 1;
    CWinServerOutpost* so = new (std::nothrow) CWinServerOutpost(optionsOf(g_ddApp));
    if (!so) return 0;
    /* The start's dialogs and boxes run message loops that may deliver the
     * end of the session: it comes once the start returned. */
    CServerOutpost::BoxScope hold(so);
    so->ReadProfile();
    so->ProbeLocalX();
    if (!so->Start()) return 0;
    if (!so->startImmediately || !g_ddApp->opt.startImmediately) return 1;
    return so->ContinueStart() ? 1 : 0;
}

int ddSODestroy(void) {
    if (g_diOutpost && !g_diOutpost->boxesUp) g_ddApp->closing = 1;
    return diSODestroy();
}

void ddSOOnStartRequest(void) {
    if (g_diOutpost) g_diOutpost->Connect(1);
}

/* ---- the channel factory's entry for type 14 ---- */

DiChannel* ddSOAPChannelCreate(DdSocket* s) {
    return diVAIPChannelNew(s);
}

void ddSOAPChannelDestroy(DiChannel* ch) {
    diVAIPChannelDelete(ch);
}

/* ---- accessors ---- */

const DiChar* ddSOLocalXDisplay(void) {
    return winOutpost() ? winOutpost()->localXDisplay : nullptr;
}

/* Before the outpost exists (and for callers that run without one), the
 * launch options answer as they always did. */
const DiChar* diSOGetCAFile(void) {
    if (g_diOutpost) return g_diOutpost->caFile;
    return g_ddApp ? g_ddApp->opt.caFile : nullptr;
}

static DiChar* s_lastError;
static DiRouteChain s_baseRoutes;
static DiChar* s_baseRouteText;
static bool s_baseRoutesValid;

void diSOSetLastError(const DiChar* text) {
    DiChar** slot = g_diOutpost ? &g_diOutpost->lastError : &s_lastError;
    DiChar* copy = text ? qvlStrDup(text) : nullptr;
    free(*slot);
    *slot = copy;
    if (text) {
        ddTraceLogWrite(text);
        ddTraceLogWrite(u"\r\n");
    }
}

const DiChar* diSOGetLastError(void) {
    return g_diOutpost ? g_diOutpost->lastError : s_lastError;
}

DiRouteChain* diSOGetBaseRoute(void) {
    if (g_diOutpost) return g_diOutpost->baseRoute;
    const DiChar* text = g_ddApp->opt.baseRoute;
    bool same = (!text && !s_baseRouteText) ||
                (text && s_baseRouteText && wcscmp(ddW(text), ddW(s_baseRouteText)) == 0);
    if (!same) {
        diRouteChainFree(&s_baseRoutes, 1);
        free(s_baseRouteText);
        s_baseRouteText = text ? qvlStrDup(text) : nullptr;
        diRouteChainInit(&s_baseRoutes, nullptr, 0);
        s_baseRoutesValid = text && text[0] && diRouteChainParse(&s_baseRoutes, text);
        if (!s_baseRoutesValid) diRouteChainFree(&s_baseRoutes, 1);
    }
    return s_baseRoutesValid && s_baseRoutes.first ? &s_baseRoutes : nullptr;
}

int diSOIsFirewallTraversal(void) {
    if (g_diOutpost) return g_diOutpost->firewallTraversal ? 1 : 0;
    return g_ddApp->opt.firewallTraversal ? 1 : 0;
}

int diSOAskYesNo(DiObject*, const DiChar* caption, const DiChar* text) {
    wchar_t fallback[256];
    if (!caption && ddLoadMessage(457, fallback, 256) > 0) caption = ddD(fallback);
    if (g_diOutpost) return g_diOutpost->AskYesNo(caption, text ? text : u"") ? 1 : 0;
    /* The route and login code also asks before any session exists. */
    return ddAskYesNoHwnd(GetActiveWindow(), ddW(text ? text : u""), ddW(caption)) ? 1 : 0;
}

/* ---- launches and capabilities ---- */

const DiDeviceList* CWinServerOutpost::DeviceList() {
    if (!deviceListChannel) return nullptr;
    ddDevListBuild();
    return diDeviceListOf(reinterpret_cast<DiIOChannel*>(deviceListChannel));
}

void CWinServerOutpost::DescribePlatform(DiSOPlatform* p) {
    p->screenWidth = GetSystemMetrics(SM_CXSCREEN);
    p->screenHeight = GetSystemMetrics(SM_CYSCREEN);
    p->maxWidth = GetSystemMetrics(SM_CXMAXIMIZED);
    p->maxHeight = GetSystemMetrics(SM_CYMAXIMIZED);
    p->virtualWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    p->virtualHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    p->colorDepth = int32_t(g_ddApp->depth);
    p->localXDisplay = localXDisplay;
    p->client = &g_ddApp->clientInfo;
    const DiChar* logFile = diLogGetFileName();
    if (logFile && logFile[0]) p->logFile = logFile;
    p->timeZone = ddTimeZoneInfoGet();
    p->keyboard = ddKeyboardInfoGet();
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size)) p->computerName = qvlStrDup(reinterpret_cast<DiChar*>(name));
    p->seamless = true;
}

bool CWinServerOutpost::RunLocal(const DiChar* command, const DiChar* arguments,
                                 const DiChar* commandLine) {
    if (command)
        return ddShellOpenDefault(ddW(command), arguments ? ddW(arguments) : nullptr, 0) == 0;
    return commandLine && ddShellRun(1, ddW(commandLine), SW_SHOWNORMAL) == 0;
}

void CWinServerOutpost::ScreenSize(int32_t* w, int32_t* h) {
    *w = GetSystemMetrics(SM_CXSCREEN);
    *h = GetSystemMetrics(SM_CYSCREEN);
}

void CWinServerOutpost::FitFrame(DiFrame* frame) {
    ddUIFitFrameToContent(frame);
}

bool CWinServerOutpost::AttachScaler(DiFrame* frame, DiObject* engine) {
    DiScaler* scaler = diScaleCreate();
    if (!scaler) return false;
    diScaleAttach(scaler, engine); /* smooth scaling from the start */
    ddUIAddScalingMenu(frame, DI_SCALE_SMOOTH);
    return true;
}

void CWinServerOutpost::RaiseFrame(DiFrame* frame) {
    ddUIRaiseFrame(frame);
}

void CWinServerOutpost::SetFrameTitle(DiFrame* frame, const DiChar* title) {
    ddUISetFrameTitle(&frame->hdr, title);
}

void CWinServerOutpost::ShowObject(DiObject* obj) {
    ddUIShowObjectWindow(obj, 1);
}

void CWinServerOutpost::HideObject(DiObject* obj) {
    ddUIShowObjectWindow(obj, 0);
}
