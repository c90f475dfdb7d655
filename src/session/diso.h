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
struct DiChannel;
struct DiHTTPClient;
struct DiRouteChain;
class CServerConnection;
class CHelperConnection;
class CVAIPConnection;
class CProfileStore;
class CQVLXMLTag;

enum DiSOState : int32_t {
    DI_SO_NOT_CONNECTED = 0,
    DI_SO_CONNECTING = 1,
    DI_SO_CONNECTED = 2,
    DI_SO_WAITING = 3,
    DI_SO_FAILED = -1,
    DI_SO_LISTENER_FAILED = -2,
};

enum DiSOReconnectMode : int32_t { DI_SO_ALWAYS = 0, DI_SO_PROMPT = 1, DI_SO_NEVER = 2 };

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
 * the string or the script element. */
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
    int32_t firstConnection = 1;
    int64_t connectedAt = 0;
    DiSORestartData restartData;
    DiSOConnectionLostHandler connectionLostHandler;
    /* Whether the application's start-immediately flag is still set. */
    bool startImmediately = true;

    explicit CServerOutpost(const DiSOOptions& options);
    virtual ~CServerOutpost();

    /* ---- session ---- */
    virtual void AcceptHelper(DiChannel* channel);
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
    void EndSessionSoon();
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
    bool RequireInt(CQVLSOAPRequest* request, const DiChar* name, const DiChar* messageId,
                    int32_t* value);

    /* ---- server requests ---- */
    void OnLogout(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnSecurity(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRestartData(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnSetState(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnGetState(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnUserinfo(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnKeepAlive(CQVLSOAPRequest* request, const DiChar* messageId);
    void OnRegisterConnectionLost(CQVLSOAPRequest* request, const DiChar* messageId);

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
    /* Opens the listener (type 13); the port, or -1. */
    virtual int32_t OpenListener();
    /* Opens a URL in the user's browser. */
    virtual void OpenBrowser(const DiChar* /*url*/) {}
    virtual bool AskConnectionSettings(DiChar** url);
    virtual void ShowError(const DiChar* caption, const DiChar* text);
    virtual void ShowWarning(const DiChar* caption, const DiChar* text);
    virtual bool AskYesNo(const DiChar* caption, const DiChar* text);
    virtual bool AskYesNoOwned(const DiChar* caption, const DiChar* text);
    /* Seconds since 1970. */
    virtual int64_t Now();

    /* Message boxes by message number (captions 455, 457, 459...). */
    void ShowErrorMessage(uint32_t message, std::initializer_list<DiFmtArg> args);
    void ShowWarningMessage(uint32_t caption, uint32_t message,
                            std::initializer_list<DiFmtArg> args);
    bool AskYesNoMessage(uint32_t message, bool owned);
};

/* The one outpost, or none. */
extern CServerOutpost* g_diOutpost;

/* The program-wide stand-ins of the integrated webtop client, the
 * connection settings dialog and the launch-object handler until those are
 * built: never active, always cancelled, always succeeding. */
bool diSOIntegratedClientIsActive(void);
bool diSOIntegratedClientLogin(void);

#endif
