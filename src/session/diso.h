/* The server outpost: the one object that owns a client session. It opens
 * the SOAP connection to the server, sends the client's greeting, answers the
 * server's requests, keeps the helper connections of the local listener and
 * re-establishes a lost connection by the user's policy. The portable class
 * holds the logic; the Windows subclass (ddso.cpp) supplies timers, files,
 * windows and message boxes. Everything runs on the GUI thread. */
#ifndef HV_DISO_H
#define HV_DISO_H

#include "core/diutil.h"
#include "di.h"
#include "xml/qvlsoap.h"

struct DdApp;
struct DdSocket;
struct DiChannel;
struct DiHTTPClient;
struct DiRouteChain;
class CServerConnection;
class CHelperConnection;
class CVAIPConnection;
class CProfileStore;
class CQVLXMLTag;
class CLaunch;
class CLaunchRequest;
class CPrintJobQueue;
class CCapability;
class CQVLXMLContentTag;
struct DiFrame;
struct DiTimer;
struct DiDeviceList;
struct DdTimeZoneInfo;
struct DdKeyboardInfo;

enum DiSOState : int32_t {
    DI_SO_NOT_CONNECTED = 0,
    DI_SO_CONNECTING = 1,
    DI_SO_CONNECTED = 2,
    DI_SO_WAITING = 3,
    DI_SO_FAILED = -1,
    DI_SO_LISTENER_FAILED = -2,
};

enum DiSOReconnectMode : int32_t { DI_SO_ALWAYS = 0, DI_SO_PROMPT = 1, DI_SO_NEVER = 2 };

/* A connection lost sooner than this after it was made is "just connected". */
enum : uint32_t { DI_SO_JUST_CONNECTED_MS = 2000 };

/* The user information the server sends with ns1:userinfo. */
enum { DI_SO_SHORTNAME, DI_SO_FULLNAME, DI_SO_LOCALE, DI_SO_SERVER, DI_SO_CERTS, DI_SO_USERINFO };

/* Where the server asked the next reconnect to go (ns1:restartData). */
struct DiSORestartData {
    DiChar* helperId = nullptr;
    DiChar* url = nullptr;
    DiChar* frame = nullptr;
    DiChar* cookie = nullptr;
    DiChar* server = nullptr;
    int32_t port = 0;
    uint8_t secure = 0;
    uint8_t use = 0;
};

/* The helper page to load when the connection is lost for good
 * (ns1:registerConnectionLost). */
struct DiSOConnectionLostHandler {
    DiChar* helperId = nullptr;
    DiChar* url = nullptr;
    DiChar* frame = nullptr;
};

/* A webserver event kept for a helper that has not connected yet. */
struct DiSOWebserverEvent {
    DiChar* url = nullptr;
    DiChar* frame = nullptr;
    DiChar* helperId = nullptr;
};

/* What the platform tells about the client for the capability lists; the
 * Windows outpost fills it, tests inject their own. Owned texts and
 * descriptions are freed by the outpost after use. */
struct DiSOPlatform {
    int32_t screenWidth = 0, screenHeight = 0;
    int32_t maxWidth = 0, maxHeight = 0;
    int32_t virtualWidth = 0, virtualHeight = 0;
    int32_t colorDepth = 0;
    const DiChar* localXDisplay = nullptr; /* none: no local X server */
    const DiClientInfo* client = nullptr;
    const DiChar* logFile = nullptr;
    DdTimeZoneInfo* timeZone = nullptr; /* owned */
    DdKeyboardInfo* keyboard = nullptr; /* owned */
    DiChar* computerName = nullptr;     /* owned */
    bool seamless = false;
};

/* Time-zone description flags: a daylight rule exists, and it has dates.
 * The two are separate facts (a rule may have an offset and no dates). */
enum : uint32_t { DI_SO_TZ_RULE = 1, DI_SO_TZ_RULE_DATES = 2 };

/* Launch requests waiting for their parameters or their helper at once. Each
 * may hold a progress window; the webtop starts a handful together and each
 * completes within seconds, so a server asking for more is refused. */
enum : uint32_t { DI_SO_MAX_LAUNCH_REQUESTS = 64 };

/* Launches in the launch list at once, whatever their state. Each holds a
 * frame, a view, a progress window, a socket and an engine whose display
 * draws from the process's one pixel total; a user works in a few
 * applications at a time, so a server asking for more is refused. */
enum : uint32_t { DI_SO_MAX_LAUNCHES = 16 };

/* Request flags of ns1:clientCapabilities. */
struct DiSOCapFlags {
    bool all = false, print = false, audio = false, cdm = false, clientcaps = false;
    bool launch = false, smartcard = false, io = false, profile = false;
};

/* Makes the print queue the first time it is needed; none until the print
 * channel is built. */
extern CPrintJobQueue* (*g_diSOMakePrintQueue)(void);

struct DiAudioDeviceRecord;
struct DiCDMDrive;
/* What the device channels report of themselves, for the capability items
 * and ns1:startCdm; start-up fills it (an empty slot reports nothing). */
struct DiSODeviceHooks {
    /* The audio channel's format records, probed when it has none. */
    uint32_t (*audioRecords)(DiChannel* audio, const DiAudioDeviceRecord** records);
    /* The drive-mapping channel's drives, listed again first. */
    uint32_t (*listDrives)(DiChannel* cdm, const DiCDMDrive** drives);
};
extern DiSODeviceHooks g_diSODeviceHooks;

/* Fills the lower layers' launch services with the outpost's (on) or
 * empties them (see core/disohooks.h). */
void diSOInstallLaunchHooks(bool on);

/* The launch that owns a display object (frame, manager or engine channel)
 * fits its frame to the display's size. */
void diSOFitLaunchFrame(DiObject* obj);

/* Launch options the outpost copies at construction. */
struct DiSOOptions {
    const DiChar* server = nullptr;
    const DiChar* portFile = nullptr;
    uint32_t port = 0;
    const DiChar* connectionCookie = nullptr;
    bool startImmediately = true;
    bool secure = false;
    const DiChar* code = nullptr;
    const DiChar* baseRoute = nullptr;
    const DiChar* caFile = nullptr;
    bool firewallTraversal = false;
    bool noJava = false;
    const DiChar* loginUrl = nullptr;
};

/* The ceiling of a timer delay in milliseconds (the system refuses longer
 * ones): seconds from the server are multiplied in 64 bits and capped. */
uint32_t diSOSecondsToMs(int64_t seconds);

/* "function ReloadFrame()\n{\n\twindow.open("url", "frame")\n}" with both
 * texts escaped as JavaScript string contents, so that no server text ends
 * the string or the script element; none unless the url is http or https
 * (a "javascript:" address would run in the listener's origin). */
DiChar* diSOReloadFrameScript(const DiChar* url, const DiChar* frame);

/* The printer type ("PostScript", "PCL") of a printer description's
 * "driver=" item by the operating-system code (low byte the Windows
 * version); none without a driver or for other systems. */
const char* diSOPrinterType(const DiChar* description, uint16_t osCode);

/* Opens the listener channel on 127.0.0.1 (any port): the port, or -1. */
int32_t diListenerOpen(DiChannel* channel);

/* A "port" value from the server or a helper: outside 1-65535 is absent. */
bool diSOPortInRange(int32_t port);

class CServerOutpost {
  public:
    CQVLList<CHelperConnection> helpers;
    CServerConnection* serverConnection = nullptr;
    DiChannel* listenerChannel = nullptr;
    DiChannel* driveChannel = nullptr;      /* type 12, made by the device start */
    DiChannel* audioChannel = nullptr;      /* type 15 */
    DiChannel* deviceListChannel = nullptr; /* type 16 */
    DiChar* connectionCookie = nullptr;
    DiChar* portFile = nullptr;
    DiChar* server = nullptr;
    int32_t port = 0;
    int32_t listeningPort = 0;
    int32_t connectionState = DI_SO_NOT_CONNECTED;
    uint8_t secure = 0;
    uint8_t securityChangePending = 0;
    uint8_t ending = 0;
    /* A box's, a dialog's or any nested message loop may deliver the end of
     * the session (a logout, an outside close) while the outpost's code
     * waits under it: the end is held until the outermost scope returned,
     * and then ended anew. A scope may also hold a launch whose method runs
     * the loop: cancelled meanwhile, it leaves the list at once and is
     * freed when its outermost scope returned. */
    int32_t boxesUp = 0;
    uint8_t endHeld = 0;
    struct BoxScope {
        CServerOutpost* so;
        CLaunch* launch;
        explicit BoxScope(CServerOutpost* o, CLaunch* l = nullptr);
        ~BoxScope();
        BoxScope(const BoxScope&) = delete;
        BoxScope& operator=(const BoxScope&) = delete;
    };
    int32_t reconnectMode = DI_SO_ALWAYS;
    int32_t reconnectAttempts = 6;
    int32_t attemptsLeft = 0;
    int32_t reconnectWait = 10;
    DiHTTPClient* httpClient = nullptr;
    DiChar* userInfo[DI_SO_USERINFO] = {};
    DiChar* code = nullptr;
    DiChar* lastError = nullptr;
    DiRouteChain* baseRoute = nullptr;
    DiChar* localHost = nullptr;
    DiChar* caFile = nullptr;
    DiChar* keepAliveId = nullptr;
    uint8_t firewallTraversal = 0;
    DiChar* proxyHost = nullptr;
    int32_t proxyPort = 0;
    uint8_t launchBrowser = 0;
    DiChar* proxyType = nullptr;
    uint8_t connectionLost = 0;
    uint8_t notifyApplicationsEnded = 1;
    int32_t noJava = 0;
    int32_t startMode = 0;
    DiChar* webtopUrl = nullptr;
    /* The start opened the webtop in the user's browser: the session is
     * the browser's, and only its helper can restart it. */
    bool browserStart = false;
    int32_t firstConnection = 1;
    /* The timer list's tick count (ms) at the last successful connect: it
     * never goes back, as the wall clock may, and wraps every 49.7 days. */
    uint32_t connectedAt = 0;
    DiSORestartData restartData;
    DiSOConnectionLostHandler connectionLostHandler;
    /* Whether the application's start-immediately flag is still set. */
    bool startImmediately = true;
    /* ---- launches (direquests.cpp) ---- */
    CQVLList<CLaunch> launches;
    CQVLList<CLaunchRequest> launchRequests;
    CPrintJobQueue* printJobs = nullptr;
    uint8_t deviceChannelsStarted = 0;
    DiTimer* launchDialogTimer = nullptr;
    DiChar* launchDialogId = nullptr;
    /* Armed while the session's end waits for helpers to fetch their
     * pending webserver events. */
    DiTimer* helperWaitTimer = nullptr;
    DiSOWebserverEvent* pendingEvents = nullptr;
    int32_t pendingEventCount = 0;

    explicit CServerOutpost(const DiSOOptions& options);
    virtual ~CServerOutpost();

    /* ---- session ---- */
    /* A connection the listener accepted becomes a helper connection. */
    virtual void AcceptHelper(DdSocket* accepted);
    virtual bool ContinueStart();
    virtual bool Connect(int reason);
    virtual void Stop();
    /* The policy of the current profile (reconnect, logging, proxy, whether
     * to open the webtop in the browser). */
    virtual void ReadProfile();
    virtual void SetConnectionState(int32_t state);
    virtual bool Start();
    bool ConnectOnce();
    void ConnectionLost();
    void ReconnectStep();
    void ReportConnectFailure();
    /* Ends the session, after up to 5 s while a helper still has a
     * webserver event to fetch. */
    void EndSessionSoon();
    void HelperWaitExpired();
    void ReloadHelperFrame();
    void HelperGone(CHelperConnection* helper);
    int32_t EffectiveReconnectMode();
    void LogStatus();
    void SendKeepAliveReply();
    bool SendInit();

    /* ---- messages ---- */
    bool Send(CQVLSOAPPacket* packet, const DiChar* messageId);
    static CQVLSOAPRequest* MakeRequest(const DiChar* method);
    static CQVLSOAPResponse* MakeResponse(const DiChar* method, const DiChar* element);
    void SendFault(const DiChar* code, const DiChar* text, const DiChar* messageId);
    /* The string parameter, or none with "Client.MissingParameter" or
     * "Client.ParameterType" answered. */
    const DiChar* RequireString(CQVLSOAPRequest* request, const DiChar* name,
                                const DiChar* messageId);

    /* ---- server requests ---- */
    void OnLogout(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnSecurity(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRestartData(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnSetState(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnGetState(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnUserinfo(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnKeepAlive(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRegisterConnectionLost(CQVLSOAPRequest* request, const DiChar* messageId);

    /* ---- the other server requests (direquests.cpp) ---- */
    void OnClientCapabilities(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnWebserver(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRequestLaunch(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoLaunch(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnStartCdm(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoCdm(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnPrint(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoprint(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnCancelLaunch(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRestartEvent(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnReconnectData(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDocument(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnToken(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnSetuicomponent(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnTriggeruicomponent(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnAutomaticLogin(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnProfileUpdate(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoAudio(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoSCard(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnDoIO(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnNotifyApplicationsEnded(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnHelperLaunchReady(CHelperConnection* helper, CQVLSOAPRequest* request,
                             const DiChar* messageId);
    void OnHelperAgedPassword(CHelperConnection* helper, const DiChar* messageId);

    /* ---- launches ---- */
    void AddLaunch(CLaunch* launch);
    /* Deletes the launch; the last one gone tells the server. */
    void RemoveLaunch(CLaunch* launch);
    CLaunch* FindLaunchById(const DiChar* id);
    /* The launch whose frame, manager or engine channel is obj. */
    CLaunch* FindLaunchByEngine(DiObject* obj);
    CLaunch* FindLaunchByTransaction(const DiChar* transactionId, const DiChar* sessionId);
    CLaunch* FindLaunchByHelper(CHelperConnection* helper);
    CLaunchRequest* FindLaunchRequestById(const DiChar* id);
    CLaunchRequest* FindLaunchRequestByTransaction(const DiChar* transactionId,
                                                   const DiChar* sessionId);
    void RemoveLaunchRequest(CLaunchRequest* request);
    void CompleteLaunchRequest(CLaunchRequest* request, const DiChar* messageId);
    void LaunchFailed(CLaunch* launch, int32_t code, const DiChar* text);
    void SendDoLaunchResponse(CLaunch* launch);
    void ArmLaunchDialogTimer(CLaunchRequest* request);
    void CancelLaunchDialogTimer();
    void LaunchDialogTimerFired();
    void StartDeviceChannels();
    /* Removes every launch and request of a helper that went: none may keep
     * pointing at it. */
    void ForgetHelper(CHelperConnection* helper);
    /* Destroys what a cancelled launch shows and removes it. */
    void CancelLaunch(CLaunch* launch);
    bool KeepWebserverEvent(const DiChar* url, const DiChar* frame, const DiChar* helperId);
    /* Sends the kept events of that helper to it; true when one was sent. */
    bool DeliverWebserverEvents(CHelperConnection* helper);

    /* ---- capabilities (dicaps.cpp) ---- */
    void AddDisplayItems(CQVLList<CCapability>* list, const DiSOCapFlags& flags,
                         const DiSOPlatform& platform);
    void AddClientCapabilities(CQVLList<CCapability>* list, const DiSOPlatform& platform);
    void AddDeviceElements(CQVLXMLContentTag* devices, const DiSOCapFlags& flags);
    void AddKeyboardItems(CQVLList<CCapability>* list, const DiSOPlatform& platform);
    void AddTimeZoneItems(CQVLList<CCapability>* list, const DiSOPlatform& platform);
    void AddComputerItems(CQVLList<CCapability>* list, const DiSOPlatform& platform);
    void AddProxyItems(CQVLList<CCapability>* list);
    /* The smart-card service record's item, and one item per announced
     * device, from the device channel's list; nothing without it. */
    void AddSmartCardItems(CQVLList<CCapability>* list);
    void AddSerialItems(CQVLList<CCapability>* list);
    /* The device channel's list, built on first use from the local
     * settings and probes; none without the channel (base: none). */
    virtual const DiDeviceList* DeviceList() { return nullptr; }
    void AddDriveItems(CQVLList<CCapability>* list);
    void AddAudioItems(CQVLList<CCapability>* list);
    /* Fills the platform record (base: nothing known). */
    virtual void DescribePlatform(DiSOPlatform* /*platform*/) {}
    void FreePlatform(DiSOPlatform* platform);
    /* The proxy route the outpost set (ApplyProxy), for the proxy items: its
     * kind (2 HTTP, 3 SOCKS), host and port; false when it set none. */
    bool ProxyRouteSet(int32_t* kind, const DiChar** host, int32_t* port);
    /* True when the server matches the user's proxy exceptions. */
    bool ServerIsProxyException();

    /* ---- the platform's side of launches ---- */
    /* Runs a local program: the command with its arguments through the
     * shell, else the command line; true when it started. */
    virtual bool RunLocal(const DiChar* /*command*/, const DiChar* /*arguments*/,
                          const DiChar* /*commandLine*/) {
        return false;
    }
    virtual void ScreenSize(int32_t* /*w*/, int32_t* /*h*/) {}
    virtual void FitFrame(DiFrame* /*frame*/) {}
    /* Makes a scaler, attaches it to the engine (allowing scaling) and adds
     * the scaling items to the frame's system menu; false when none. */
    virtual bool AttachScaler(DiFrame* /*frame*/, DiObject* /*engine*/) { return false; }
    virtual void RaiseFrame(DiFrame* /*frame*/) {}
    /* Shows the X windows of an X engine that have frames of their own. */
    virtual void ShowEngineWindows(DiChannel* /*engine*/) {}
    /* The title the user sees on the frame's window (and the frame keeps). */
    virtual void SetFrameTitle(DiFrame* /*frame*/, const DiChar* /*title*/) {}
    virtual void ShowObject(DiObject* /*obj*/) {}
    virtual void HideObject(DiObject* /*obj*/) {}
    virtual void EmbedInHelperWindow(CLaunch* /*launch*/) {}
    virtual void SetUIComponent(const DiChar* /*component*/, const DiChar* /*state*/) {}
    virtual void TriggerUIComponent(const DiChar* /*component*/) {}

    /* ---- helper requests and browser pages ---- */
    void OnHelperInit(CHelperConnection* helper, CQVLSOAPRequest* request, const DiChar* messageId);
    void ServePoll(CHelperConnection* helper, const DiChar* id);
    void ServeWebtopPage(CHelperConnection* helper, int runsApplet);
    bool OpenUrlInHelper(const DiChar* url);
    CHelperConnection* FindHelperById(const DiChar* id);

    /* The server's root certificates (the "array" of ns1:userinfo) and
     * the session's cookie and certificates into the profile store. */
    virtual void RememberServerCertificates(const DiChar* /*array*/) {}
    virtual void SaveSessionToProfile();
    /* The tray's tip and icon follow the connection and the user
     * information. */
    virtual void RefreshTray() {}
    /* The current profile's value of key; false when absent. */
    bool ProfileValue(const DiChar* key, DiChar* out, size_t size);
    void ClearStartImmediately();
    void ReadProfileProxy(CProfileStore* store, CQVLXMLTag* profile, const DiChar* kind);
    /* The proxy of proxyHost/proxyPort/proxyType becomes the application's
     * default route of its kind, marked as set by the outpost. */
    void ApplyProxy();
    /* A proxy a helper reports, unless the profile chose its own: stored,
     * applied and remembered as the last proxy when it changed. */
    void SetProxy(const DiChar* host, int32_t port, const DiChar* type);
    /* "-baseroute" or a helper's "baseroute": kept when it parses. */
    void SetBaseRoute(const DiChar* text);
    /* The profile's "pdfviewer" setting changed (nothing to do here). */
    virtual void PdfViewerChanged() {}
    void DrxClientId(DiChar* out, size_t size);

    /* ---- the Windows side ---- */
    virtual void PostStartRequest() {}
    virtual void ArmReconnectTimer() {}
    virtual void CancelReconnectTimer() {}
    virtual void ArmKeepAliveTimer(int32_t /*seconds*/) {}
    virtual void CancelKeepAliveTimer() {}
    virtual bool WritePortFile() { return true; }
    virtual bool RemovePortFile() { return true; }
    virtual void EndSession() { ending = 1; }
    /* Ends the session whose end a box held, once the box returned. */
    virtual void EndHeldSession() {}
    /* Opens the listener (type 13); the port, or -1. */
    virtual int32_t OpenListener();
    /* Opens a URL in the user's browser; false when it could not. */
    virtual bool OpenBrowser(const DiChar* /*url*/) { return false; }
    virtual bool AskConnectionSettings(DiChar** url);
    virtual void ShowError(const DiChar* caption, const DiChar* text);
    virtual void ShowWarning(const DiChar* caption, const DiChar* text);
    virtual bool AskYesNo(const DiChar* caption, const DiChar* text);
    virtual bool AskYesNoOwned(const DiChar* caption, const DiChar* text);

    /* Message boxes by message number (captions 455, 457, 459...). */
    void ShowErrorMessage(uint32_t message, std::initializer_list<DiFmtArg> args);
    void ShowWarningMessage(uint32_t caption, uint32_t message,
                            std::initializer_list<DiFmtArg> args);
    bool AskYesNoMessage(uint32_t message, bool owned);
};

/* The one outpost, or none. */
extern CServerOutpost* g_diOutpost;

/* Stops and frees the outpost; 0 when one of its boxes is up, which holds
 * the end until it returned, or while it is being freed, which is the end
 * already. */
int diSODestroy(void);

/* The session's integrated webtop client: whether one is made and signed
 * in, and its sign-in (false when there is none). */
bool diSOIntegratedClientIsActive(void);
bool diSOIntegratedClientLogin(void);

#endif
