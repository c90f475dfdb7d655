/* The integrated webtop client: signs in to the Halvanet web server through
 * its session web service, hands the protocol engine's address and cookie to
 * the outpost, signs in with the stored login token and reads the webtop.
 * The portable class holds the logic; the Windows subclass runs programs,
 * finds the executable and places the session settings file. Every call of
 * the web service goes through g_diWsService, which makes one proxy per
 * call. Everything runs on the GUI thread. */
#ifndef HV_DIINTCLIENT_H
#define HV_DIINTCLIENT_H

#include "di.h"

#include <string>
#include <vector>

class CServerOutpost;
class CSettingsFile;

/* Where one web-service call goes: the web server, the service path and the
 * HTTP proxy with its credentials (8-bit UTF-8 texts). */
struct DiWsEndpoint {
    std::string protocol, host, portText, path;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUser, proxyPassword;
    std::string proxyType; /* "HTTP", "SOCKS" or empty */
};

/* The outcome of one call: the caller's code (0 success, HTTP statuses such
 * as 407 as themselves), the return text when the reply had one, and the
 * fault's code and string. */
struct DiWsReply {
    int code = 0;
    bool hasResult = false;
    std::string result;
    std::string faultCode, faultString;
};

/* Makes a proxy for the endpoint, runs the named operation with its
 * parameters (booleans as "true"/"false") and deletes the proxy. */
class DiWsService {
  public:
    virtual ~DiWsService() {}
    virtual DiWsReply Call(const DiWsEndpoint& endpoint, const char* operation,
                           const std::vector<std::string>& args) = 0;
};

/* The service start-up installs; none before. */
extern DiWsService* g_diWsService;

/* The service path on the web server. */
extern const char* const kDiWsPath;

/* Text for a command line as one argument by the rules that split Windows
 * command lines: quoted, inner quotes escaped and the backslashes before
 * them doubled. */
std::u16string diQuoteArgument(const std::u16string& text);

/* "url" + "&" or "?" + "cid=<id>&sid=<cookie>", both values percent-encoded
 * (everything but letters, digits and "-._~"). */
std::u16string diWebtopSessionUrl(const std::u16string& url, const std::u16string& clientId,
                                  const std::u16string& cookie);

/* The help language part for a location under "/usertocs/" or
 * "/admintocs/", from the preferred language ("zh_TW" gives "zh-tw"). */
std::u16string diHelpUrl(const std::u16string& url, const std::u16string& location,
                         const std::u16string& language);

/* A port text from a server or the user: digits only, 1-65535; else 0. */
int32_t diParsePort(const DiChar* text);

/* One profile as the Login and Startup shortcuts see it. */
struct DiProfileEntry {
    std::u16string name;      /* the profile's host: the shortcut name */
    std::u16string arguments; /* "-profile" and the quoted key */
    std::u16string language;  /* preferred language, may be empty */
    bool autostart = false;
};

/* Bounds of one icon download: the longest silence of the server while the
 * icon is read, and the largest icon file taken. */
enum : uint32_t {
    DI_ICON_IDLE_MS = 30000,
    DI_ICON_MAX_BYTES = 1u << 20,
};

/* An icon name the web server may be asked for: one plain file-name
 * component (no blank, control character, \ / : ? #, not "." or "..", no
 * device name). */
bool diIconNameIsPlain(const std::u16string& name);

class CIntegratedClient {
  public:
    explicit CIntegratedClient(CServerOutpost* owner);
    virtual ~CIntegratedClient();
    CIntegratedClient(const CIntegratedClient&) = delete;
    CIntegratedClient& operator=(const CIntegratedClient&) = delete;

    virtual bool GetExePath() { return false; }
    virtual bool IsBrowserMode();
    virtual bool UpdateStartupShortcut() { return false; }
    virtual bool BuildStartMenu(const char* /*webtop*/) { return false; }
    virtual void SaveSessionSettings();
    virtual void DeleteSettingsFile() {}
    virtual void MakeSettingsFileWritable() {}
    virtual void RefreshStartMenu() {}
    /* Writes the bytes as the file at `path` (UTF-16): under a temporary
     * name first, renamed over the path only when all of it was written. */
    virtual bool WriteFile(const std::u16string& path, const std::string& bytes);
    /* Runs the client's own executable through the shell with parameters. */
    virtual void RunSelf(const std::u16string& /*parameters*/) {}

    bool Login();
    bool IsActive();
    bool Restart(const DiChar* reconnectToken);
    void OnUserInfo();
    void OnReconnectData();
    /* The URL waiting for the webtop page (still owned here), or none. */
    const DiChar* TakeWebtopUrl();
    void ReadProfileSettings();
    void LogoutOnExit();

    bool StartSession(const std::string& clientId, bool join);
    bool RestartSession(const DiChar* reconnectToken);
    bool ConfigureDRX();
    bool Authenticate(const std::string& token, DiWsReply* last);
    bool AutoLogin();
    bool EndSession();
    bool GetWebtop(bool hierarchical, bool lookupSessions);
    bool RegisterEventListener(const char* eventName);
    bool StartLaunchConfig();
    bool AskProxyCredentials(bool useCache);

    /* Takes the web server when the URL is one diHTTPParseURL accepts;
     * the scheme is its canonical name, so TLS follows "HTTPS" too. */
    bool SetServer(const DiChar* url);
    bool HasServer(bool cookieNeeded);
    bool ReadSessionDocument(const std::string& text);
    std::u16string BuildDocumentUrl(const std::u16string& location);
    /* Downloads the icon `iconName` from the web server into `gifPath`. The
     * file is written only after the server ended the reply cleanly within
     * the bounds above; false (and no file) otherwise. */
    bool FetchIcon(const std::u16string& gifPath, const std::u16string& iconName);
    /* The current profile's entry when its "url" is a web address (none
     * otherwise); false without a current profile. */
    bool GetProfileEntries(std::vector<DiProfileEntry>* list);
    /* host:user:profile of the current profile; empty without one. */
    std::u16string ProfileKey();

    CServerOutpost* outpost;
    CSettingsFile* settingsFile = nullptr; /* owned by the subclass */
    std::u16string protocol, sessionCookie, host;
    int32_t port = 0;
    int32_t proxyPort = 0;
    std::string protocol8, sessionCookie8, host8, proxyHost8, proxyType8;
    std::string proxyUser8, proxyPassword8;
    std::string portText, proxyPortText;
    std::u16string pendingUrl;
    int32_t pendingKind = 0;
    std::u16string exePath;
    uint8_t autostart = 0;
    uint8_t integrated = 0;
    /* The object the option named was started for this process already. */
    bool objectStarted = false;

  protected:
    DiWsEndpoint Endpoint();
    /* One exchange; fails (false) without a server, or by the operation's
     * own rule. */
    bool Exchange(const char* operation, const std::vector<std::string>& args, DiWsReply* reply);
    std::string ClientId();
    bool LoginUrl(std::u16string* url);
    void AddSessionParameters(std::u16string* url, const std::string& clientId);
};

/* The one integrated client (owned by the outpost's start), or none. */
extern CIntegratedClient* g_diIntegratedClient;

#endif
