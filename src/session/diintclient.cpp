/* The integrated webtop client's sign-in logic. */
#include "session/diintclient.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/diutil.h"
#include "net/dicert.h"
#include "net/dihttp.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "session/diprofile.h"
#include "session/disettings.h"
#include "session/diso.h"
#include "session/diurlparam.h"
#include "session/diwebmenu.h"
#include "session/diximage.h"
#include "xml/qvlxml.h"
#include "xml/qvlxmlglobals.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <chrono>

DiWsService* g_diWsService = nullptr;
CIntegratedClient* g_diIntegratedClient = nullptr;
const char* const kDiWsPath = "axis/HVNWS.jws";

static void setText(DiChar** slot, const DiChar* text) {
    size_t n = 0;
    while (text[n])
        n++;
    DiChar* copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!copy) return;
    memcpy(copy, text, (n + 1) * sizeof(DiChar));
    free(*slot);
    *slot = copy;
}

static std::string utf8(const std::u16string& s) {
    return diProfileToUtf8(s.c_str());
}

static bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

/* A text from the server that goes on to a connection or a file: control
 * characters would split a header or a line. */
static bool hasControl(const std::u16string& s) {
    for (DiChar c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

int32_t diParsePort(const DiChar* text) {
    if (!text || !*text) return 0;
    int32_t value = 0;
    for (const DiChar* p = text; *p; ++p) {
        if (*p < u'0' || *p > u'9') return 0;
        value = value * 10 + (*p - u'0');
        if (value > 65535) return 0;
    }
    return value;
}

std::u16string diQuoteArgument(const std::u16string& text) {
    std::u16string out = u"\"";
    size_t slashes = 0;
    for (DiChar c : text) {
        if (c == u'\\') {
            slashes++;
            continue;
        }
        /* Backslashes before a quote are escapes: double them, then escape
         * the quote itself. */
        out.append(c == u'"' ? slashes * 2 + 1 : slashes, u'\\');
        slashes = 0;
        out += c;
    }
    /* Before the closing quote as well. */
    out.append(slashes * 2, u'\\');
    out += u'"';
    return out;
}

static std::u16string percentEncode(const std::u16string& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::u16string out;
    for (unsigned char c : utf8(value)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            strchr("-._~", c)) {
            out += DiChar(c);
        } else {
            out += u'%';
            out += DiChar(kHex[c >> 4]);
            out += DiChar(kHex[c & 15]);
        }
    }
    return out;
}

std::u16string diWebtopSessionUrl(const std::u16string& url, const std::u16string& clientId,
                                  const std::u16string& cookie) {
    std::u16string out = url;
    out += url.find(u'?') == std::u16string::npos ? u"?" : u"&";
    out += u"cid=" + percentEncode(clientId) + u"&sid=" + percentEncode(cookie);
    return out;
}

std::u16string diHelpUrl(const std::u16string& url, const std::u16string& location,
                         const std::u16string& language) {
    /* At most five characters; the third becomes "-" only when there is
     * one. */
    std::u16string lang5 = language.substr(0, 5);
    if (lang5.size() > 2) lang5[2] = u'-';
    for (DiChar& c : lang5)
        if (c >= u'A' && c <= u'Z') c = DiChar(c + 32);
    std::u16string lang2 = lang5.substr(0, 2);
    std::u16string out = url + u"help/";
    size_t user = location.find(u"/usertocs/");
    if (user != std::u16string::npos) {
        if (lang2 == u"en" || lang2 == u"fr" || lang2 == u"ja" || lang2 == u"ko")
            out += lang2;
        else
            out += lang2 == u"zh" ? lang5 : u"en";
        return out + location.substr(user);
    }
    size_t admin = location.find(u"/admintocs/");
    out += lang2 == u"ja" ? u"ja" : u"en";
    return out + (admin == std::u16string::npos ? location : location.substr(admin));
}

/* ---- the client ---- */

static CQVLXMLTag* currentProfile() {
    CProfileStore* store = g_diProfileStore;
    return store && store->current ? store->current->profileElement : nullptr;
}

static bool profileValue(const DiChar* key, std::u16string* out) {
    CProfileStore* store = g_diProfileStore;
    DiChar buffer[1024];
    size_t length = 0;
    if (!store || !store->GetProfileValue(key, buffer, 1024, &length)) return false;
    *out = buffer;
    return true;
}

static const DiChar* option(DiChar* DdLaunchOptions::*field) {
    const DiChar* v = g_ddApp ? g_ddApp->opt.*field : nullptr;
    return v && v[0] ? v : nullptr;
}

bool diSOIntegratedClientIsActive(void) {
    return g_diIntegratedClient && g_diIntegratedClient->IsActive();
}

bool diSOIntegratedClientLogin(void) {
    return g_diIntegratedClient && g_diIntegratedClient->Login();
}

CIntegratedClient::CIntegratedClient(CServerOutpost* owner) : outpost(owner) {}

CIntegratedClient::~CIntegratedClient() {
    LogoutOnExit();
    if (g_diIntegratedClient == this) g_diIntegratedClient = nullptr;
}

bool CIntegratedClient::IsBrowserMode() {
    std::u16string mode;
    return profileValue(u"mode", &mode) && mode == u"browser";
}

static bool integratedMode() {
    std::u16string mode;
    return profileValue(u"mode", &mode) && (mode == u"both" || mode == u"integrated");
}

bool CIntegratedClient::IsActive() {
    if (!integratedMode() && !option(&DdLaunchOptions::objectName)) return false;
    return outpost && outpost->startMode != 1 && outpost->startMode != 2;
}

bool CIntegratedClient::SetServer(const DiChar* url) {
    int scheme = 0, p = 0;
    DiChar* h = nullptr;
    if (!url || diHTTPParseURL(url, &scheme, &h, &p) != 0 || !h) {
        free(h);
        return false;
    }
    protocol = scheme ? u"https" : u"http";
    host = h;
    free(h);
    protocol8 = utf8(protocol);
    host8 = utf8(host);
    port = p;
    portText = std::to_string(p);
    proxyHost8.clear();
    proxyType8.clear();
    proxyPort = 0;
    if (outpost && outpost->proxyHost && outpost->proxyHost[0]) {
        proxyHost8 = diProfileToUtf8(outpost->proxyHost);
        proxyPort = outpost->proxyPort;
        if (outpost->proxyType) proxyType8 = diProfileToUtf8(outpost->proxyType);
        if (proxyType8 == "SOCKS") {
            /* The web service speaks only to HTTP proxies: taking a SOCKS
             * proxy for one would fail every call. */
            diLogErrorText(u"Web service: a SOCKS proxy is not used for web-service calls");
            proxyHost8.clear();
            proxyPort = 0;
        }
    }
    proxyPortText = std::to_string(proxyPort);
    return true;
}

bool CIntegratedClient::HasServer(bool cookieNeeded) {
    return !protocol8.empty() && !host8.empty() && (!cookieNeeded || !sessionCookie8.empty());
}

DiWsEndpoint CIntegratedClient::Endpoint() {
    DiWsEndpoint e;
    e.protocol = protocol8;
    e.host = host8;
    e.portText = portText;
    e.path = kDiWsPath;
    e.proxyHost = proxyHost8;
    e.proxyPort = proxyPort;
    e.proxyUser = proxyUser8;
    e.proxyPassword = proxyPassword8;
    e.proxyType = proxyType8;
    return e;
}

bool CIntegratedClient::Exchange(const char* operation, const std::vector<std::string>& args,
                                 DiWsReply* reply) {
    if (!g_diWsService) return false;
    *reply = g_diWsService->Call(Endpoint(), operation, args);
    bool endv = reply->hasResult && startsWith(reply->result, "soap_endv");
    if (!strcmp(operation, "getWebtop")) return !endv;
    if (!strcmp(operation, "startDRX") || !strcmp(operation, "endSession")) return reply->code == 0;
    if (reply->code != 0 || endv) return false;
    if (!strcmp(operation, "startSession") || !strcmp(operation, "restartSession"))
        return reply->hasResult;
    return true;
}

std::string CIntegratedClient::ClientId() {
    DiChar id[256];
    if (diSOGetLocalSetting(u"drxclientid", id, 256) && id[0]) return diProfileToUtf8(id);
    char text[48];
    snprintf(text, sizeof text, "%lld:%lld", (long long)time(nullptr),
             (long long)std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count());
    return text;
}

bool CIntegratedClient::LoginUrl(std::u16string* url) {
    if (const DiChar* u = option(&DdLaunchOptions::loginUrl)) {
        *url = u;
        return true;
    }
    return profileValue(u"url", url);
}

void CIntegratedClient::AddSessionParameters(std::u16string* url, const std::string& clientId) {
    /* Room for any cookie: a parameter that does not fit would be dropped. */
    std::vector<DiChar> buffer(url->size() + 8192 + 6 * (sessionCookie.size() + clientId.size()));
    memcpy(buffer.data(), url->c_str(), (url->size() + 1) * sizeof(DiChar));
    std::u16string portValue = diProfileFromUtf8(std::to_string(outpost->listeningPort));
    AddUrlParameter(u"drxport", portValue.c_str(), buffer.data(), buffer.size());
    if (const DiChar* lang = option(&DdLaunchOptions::preferredLanguage))
        AddUrlParameter(u"langSelected", lang, buffer.data(), buffer.size());
    CProfileStore* store = g_diProfileStore;
    const DiChar* name = store && store->current ? store->current->profileName : nullptr;
    AddUrlParameter(u"profilename", name ? name : u"", buffer.data(), buffer.size());
    AddUrlParameter(u"cid", diProfileFromUtf8(clientId).c_str(), buffer.data(), buffer.size());
    AddUrlParameter(u"sid", sessionCookie.c_str(), buffer.data(), buffer.size());
    *url = buffer.data();
}

bool CIntegratedClient::Login() {
    if (!sessionCookie.empty()) return true;
    if (!GetExePath()) return false;
    integrated = integratedMode() ? 1 : 0;
    std::u16string url;
    if (!LoginUrl(&url)) return false;
    if (url.find(u':') != std::u16string::npos && !SetServer(url.c_str()))
        diLogErrorText(u"Web service: the login URL is not usable");
    if (!IsActive() && outpost->noJava != 2) return true;
    std::string clientId = ClientId();
    if (!StartSession(clientId, false) || !ConfigureDRX()) {
        if (!host.empty()) setText(&outpost->server, host.c_str());
        outpost->port = atoi(portText.c_str());
        return false;
    }
    if (outpost->startMode != 1 && outpost->noJava != 2) outpost->Connect(1);
    bool autoLogin = AutoLogin();
    AddSessionParameters(&url, clientId);
    const DiChar* object = option(&DdLaunchOptions::objectName);
    if (!autoLogin) {
        if (object && qvlStrEq(object, u"ic_logout")) {
            EndSession();
            return true;
        }
    } else if (outpost->startMode != 1) {
        std::u16string mode;
        if (profileValue(u"mode", &mode) && mode == u"both") {
            pendingUrl = url;
            pendingKind = 2;
        }
        return true;
    }
    pendingUrl = url;
    if (outpost->noJava == 2) {
        pendingKind = 3;
        if (g_ddApp && g_ddApp->opt.noJava)
            if (const DiChar* u = TakeWebtopUrl()) outpost->OpenBrowser(u);
    } else {
        pendingKind = 1;
    }
    return true;
}

bool CIntegratedClient::AskProxyCredentials(bool useCache) {
    DiRoute* route = g_ddApp ? g_ddApp->opt.httpProxyRoute : nullptr;
    DiRoute local;
    bool own = !route;
    if (own) {
        std::u16string h = diProfileFromUtf8(proxyHost8);
        diRouteInit(&local, DI_ROUTE_HTTP, h.c_str(), uint32_t(proxyPort), 0);
        route = &local;
    }
    DiChar *user = nullptr, *password = nullptr;
    int ok = diRouteGetCredentials(route, &user, &password, useCache ? 1 : 0);
    if (ok) {
        proxyUser8 = diProfileToUtf8(user);
        proxyPassword8 = diProfileToUtf8(password);
    }
    free(user);
    free(password);
    if (own) diRouteFree(&local);
    return ok != 0;
}

bool CIntegratedClient::StartSession(const std::string& clientId, bool join) {
    if (!HasServer(false)) return false;
    DiWsReply reply;
    bool ok = Exchange("startSession", {clientId, join ? "true" : "false"}, &reply);
    /* The cache answers once; a refused answer goes to the user, or the
     * same wrong password would come back for ever. */
    bool useCache = true;
    while (!ok && reply.code == 407) {
        if (!AskProxyCredentials(useCache)) return false;
        useCache = false;
        ok = Exchange("startSession", {clientId, join ? "true" : "false"}, &reply);
    }
    return ok && ReadSessionDocument(reply.result);
}

bool CIntegratedClient::RestartSession(const DiChar* reconnectToken) {
    DiChar id[256];
    if (!diSOGetLocalSetting(u"drxclientid", id, 256)) id[0] = 0;
    DiWsReply reply;
    if (!Exchange("restartSession",
                  {diProfileToUtf8(id), diProfileToUtf8(reconnectToken ? reconnectToken : u"")},
                  &reply))
        return false;
    return ReadSessionDocument(reply.result);
}

static CQVLXMLDoc* parse(const std::string& text) {
    return diProfParseDocument(text.data(), text.size());
}

/* The direct child <tag name="name"> of parent, or none: documents of the
 * service hold their values as <attr name="X">text</attr> and their groups
 * as <obj name="X">. */
static CQVLXMLElement* namedChild(CQVLXMLElement* parent, const char* tag, const char* name) {
    CQVLXMLElementList* kids = parent ? parent->GetChildren() : nullptr;
    CQVLXMLString tagName(tag);
    for (auto* n = kids ? kids->head : nullptr; n; n = n->next) {
        if (!n->item->IsTag()) continue;
        CQVLXMLTag* t = static_cast<CQVLXMLTag*>(n->item);
        const CQVLXMLString* a = t->GetAttribute("name");
        if (t->HasName(&tagName) && a && a->Equals(name)) return t;
    }
    return nullptr;
}

/* The text of the attr named name, or false when there is none. */
static bool attr(CQVLXMLElement* parent, const char* name, std::u16string* out) {
    CQVLXMLElement* e = namedChild(parent, "attr", name);
    if (!e) return false;
    DiChar* text = e->GetText();
    *out = text ? text : u"";
    free(text);
    return true;
}

bool CIntegratedClient::ReadSessionDocument(const std::string& text) {
    CQVLXMLDoc* doc = parse(text);
    if (!doc) return false;
    bool ok = false;
    std::u16string cookie, v;
    CQVLXMLElement* conn = namedChild(doc->root, "obj", "connectionattributes");
    if (attr(doc->root, "mrkqvlsessioncookie", &cookie) && !hasControl(cookie)) {
        sessionCookie = cookie;
        sessionCookie8 = utf8(sessionCookie);
        SaveSessionSettings();
        if (conn) {
            ok = true;
            if (attr(conn, "server", &v)) setText(&outpost->server, v.c_str());
            if (attr(conn, "port", &v)) {
                int32_t value = diParsePort(v.c_str());
                if (value)
                    outpost->port = value;
                else
                    diLogErrorText(u"Web service: session port out of range ignored");
            }
            if (attr(conn, "firewalltraversal", &v)) outpost->firewallTraversal = v == u"true";
            if (attr(conn, "security", &v)) outpost->secure = v == u"SSL";
        }
    }
    delete doc;
    return ok;
}

bool CIntegratedClient::ConfigureDRX() {
    if (!HasServer(true)) return false;
    DiWsReply reply;
    if (!Exchange("setDRXConfiguration", {sessionCookie8}, &reply)) return false;
    if (!Exchange("startDRX", {sessionCookie8}, &reply)) return false;
    CQVLXMLDoc* doc = parse(reply.result);
    bool ok = true;
    if (doc) {
        std::u16string cookie;
        if (attr(doc->root, "connectioncookie", &cookie)) {
            if (hasControl(cookie))
                ok = false; /* it would reach the server's headers */
            else
                setText(&outpost->connectionCookie, cookie.c_str());
        }
        delete doc;
    }
    return ok;
}

bool CIntegratedClient::Authenticate(const std::string& token, DiWsReply* last) {
    if (!HasServer(true)) return false;
    DiWsReply& reply = *last;
    if (const DiChar* lang = option(&DdLaunchOptions::preferredLanguage))
        if (!Exchange("modifySession", {sessionCookie8, "preferredlanguage", diProfileToUtf8(lang)},
                      &reply))
            return false;
    return Exchange("authenticateSession", {sessionCookie8, "", token}, &reply);
}

bool CIntegratedClient::AutoLogin() {
    CProfileStore* store = g_diProfileStore;
    CQVLXMLTag* profile = currentProfile();
    CQVLXMLTag* user = store && store->current ? store->current->userElement : nullptr;
    bool flag = false;
    DiChar token[257];
    size_t length = 0;
    if (!profile || !user || !store->GetBool(profile, u"autologin", &flag) || !flag ||
        !store->GetValue(user, u"AT", token, 257, &length))
        return false;
    DiWsReply reply;
    if (Authenticate(diProfileToUtf8(token), &reply)) return true;
    /* Only a server that refused the token makes it useless; a call that
     * never reached it (time-out, a proxy's page) keeps it. */
    bool refused =
        !reply.faultCode.empty() || (reply.hasResult && startsWith(reply.result, "soap_endv"));
    if (refused) {
        /* The user's token and the profile's flag, the keys read above; a
         * key of the same name inside a profile or a group is not them. */
        CProfileStore::RemoveKeys(user, u"AT");
        CProfileStore::RemoveKeys(profile, u"autologin");
        store->Save();
    }
    return false;
}

bool CIntegratedClient::EndSession() {
    if (!HasServer(true)) return false;
    DiWsReply reply;
    return Exchange("endSession", {sessionCookie8}, &reply);
}

bool CIntegratedClient::GetWebtop(bool hierarchical, bool lookupSessions) {
    if (!HasServer(true)) return false;
    DiWsReply reply;
    if (!Exchange(
            "getWebtop",
            {sessionCookie8, hierarchical ? "true" : "false", lookupSessions ? "true" : "false"},
            &reply))
        return false;
    return BuildStartMenu(reply.hasResult ? reply.result.c_str() : nullptr);
}

bool CIntegratedClient::RegisterEventListener(const char* eventName) {
    if (!HasServer(true)) return false;
    DiWsReply reply;
    return Exchange("registerDRXEventListener", {sessionCookie8, eventName}, &reply);
}

bool CIntegratedClient::Restart(const DiChar* reconnectToken) {
    if (!RestartSession(reconnectToken)) return false;
    if (AutoLogin()) return true;
    std::string clientId = ClientId();
    std::u16string url;
    if (!LoginUrl(&url)) return false;
    AddSessionParameters(&url, clientId);
    outpost->OpenBrowser(url.c_str());
    return true;
}

static std::u16string settingsName(CSettingsFile* file) {
    return file && file->fileName ? std::u16string(file->fileName) : std::u16string();
}

bool CIntegratedClient::StartLaunchConfig() {
    if (!GetExePath()) return false;
    RunSelf(u"-launchconfig " + diQuoteArgument(settingsName(settingsFile)));
    return true;
}

void CIntegratedClient::OnUserInfo() {
    if (const DiChar* object = option(&DdLaunchOptions::objectName)) {
        /* Every reconnect brings ns1:userinfo again: the object starts once. */
        if (!objectStarted) {
            objectStarted = true;
            if (exePath.empty()) GetExePath();
            RunSelf(u" -launchconfig " + diQuoteArgument(settingsName(settingsFile)) +
                    u" -application " + diQuoteArgument(object));
        }
    } else {
        RegisterEventListener("Print");
        RegisterEventListener("Restart");
        GetWebtop(false, true);
        StartLaunchConfig();
    }
    if (pendingKind == 2 && !pendingUrl.empty()) {
        outpost->OpenBrowser(pendingUrl.c_str());
        pendingUrl.clear();
        pendingKind = 0;
    }
}

void CIntegratedClient::OnReconnectData() {
    if (pendingKind != 1) return;
    if (!pendingUrl.empty()) outpost->OpenBrowser(pendingUrl.c_str());
    pendingUrl.clear();
    pendingKind = 0;
}

const DiChar* CIntegratedClient::TakeWebtopUrl() {
    if (pendingKind != 3 || pendingUrl.empty()) return nullptr;
    pendingKind = 0;
    return pendingUrl.c_str();
}

void CIntegratedClient::ReadProfileSettings() {
    CProfileStore* store = g_diProfileStore;
    bool flag = false;
    autostart =
        store && currentProfile() && store->GetBool(currentProfile(), u"autostart", &flag) && flag;
    integrated = integratedMode() ? 1 : 0;
    UpdateStartupShortcut();
    if (!integrated) RefreshStartMenu();
}

/* Replaces key: a session that restarted must not leave the dead cookie. */
static void replaceKey(CSettingsFile* file, const DiChar* key, const std::u16string& value) {
    if (file->document) CProfileStore::RemoveKeys(file->document->root, key);
    file->AddKey(key, value.c_str());
}

void CIntegratedClient::SaveSessionSettings() {
    CSettingsFile* file = settingsFile;
    if (!file) return;
    replaceKey(file, u"sessioncookie", sessionCookie);
    replaceKey(file, u"protocol", protocol);
    replaceKey(file, u"server", host);
    replaceKey(file, u"port", diProfileFromUtf8(portText));
    replaceKey(file, u"jwslocation", diProfileFromUtf8(kDiWsPath));
    replaceKey(file, u"proxyserver", diProfileFromUtf8(proxyHost8));
    replaceKey(file, u"proxyport", diProfileFromUtf8(proxyPortText));
    file->Save();
    MakeSettingsFileWritable();
}

void CIntegratedClient::LogoutOnExit() {
    if (IsActive() && !sessionCookie.empty()) EndSession();
    CProfileStore* store = g_diProfileStore;
    if (store && currentProfile()) {
        store->SetSessionCookie(u"");
        store->SetCertsFile(u"");
        store->Save();
    }
}

std::u16string CIntegratedClient::BuildDocumentUrl(const std::u16string& location) {
    if (location.compare(0, 4, u"http") == 0) return location;
    std::u16string url = protocol + u"://" + host;
    if (port) url += u":" + diProfileFromUtf8(std::to_string(port));
    if (location.compare(0, 4, u"hvn/") != 0 && location.compare(0, 5, u"/hvn/") != 0)
        url += u"/quorvellan";
    if (location.compare(0, 1, u"/") != 0) url += u"/";
    const DiChar* lang = option(&DdLaunchOptions::preferredLanguage);
    bool tocs = location.find(u"/admintocs/") != std::u16string::npos ||
                location.find(u"/usertocs/") != std::u16string::npos;
    if (location.compare(0, 5, u"help/") != 0 && tocs && lang &&
        !(lang[0] == u'e' && lang[1] == u'n'))
        return diHelpUrl(url, location, lang);
    return url + location;
}

/* ---- icons and profile entries for the Start menu ---- */

bool diIconNameIsPlain(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (DiChar c : name)
        if (c <= 0x20 || c == 0x7F || c == u'\\' || c == u'/' || c == u':' || c == u'?' ||
            c == u'#')
            return false;
    return !diIsDeviceName(name.data(), name.size());
}

namespace {

struct Bytes {
    const std::string* data;
};

bool writeBytes(CImageFile* file, void* context) {
    const std::string& b = *static_cast<Bytes*>(context)->data;
    return b.empty() || file->Write(b.data(), 1, b.size()) == b.size();
}

/* The socket of one icon download, held so that a timer run while the
 * sender waits cannot free it, and closed and freed on every way out. */
struct IconSocket {
    DdSocket* s = ddNetSocketCreate();
    IconSocket() {
        if (s) diNetHold(s);
    }
    ~IconSocket() {
        if (!s) return;
        ddNetSocketClose(s);
        ddNetSocketDestroy(s);
        diNetRelease(s);
    }
};

bool iconFailed(const char16_t* why) {
    diLogErrorText((std::u16string(u"Start menu: icon download ") + why).c_str());
    return false;
}

} // namespace

bool CIntegratedClient::WriteFile(const std::u16string& path, const std::string& bytes) {
    Bytes context{&bytes};
    return diImageFileReplace(utf8(path), writeBytes, &context);
}

bool CIntegratedClient::FetchIcon(const std::u16string& gifPath, const std::u16string& iconName) {
    /* The name goes into the request line and the path names a file of
     * ours: a blank or line break would end the request early, a path part
     * would ask for (and cache) some other file. */
    if (!diIconNameIsPlain(iconName)) return iconFailed(u"refused: not a plain file name");
    if (host.empty() || port <= 0 || port > 65535) return iconFailed(u"without a web server");
    IconSocket sock;
    DdSocket* s = sock.s;
    if (!s || ddNetSocketOpen(s, 1, 1) < 0 ||
        diNetConnect(s, host.c_str(), uint16_t(port), DI_NET_BASE_ROUTES) != 0)
        return iconFailed(u"failed: no connection");
    /* The scheme was made canonical when the server was set: "HTTPS" in
     * the URL secures the download too. */
    if (protocol == u"https" &&
        ddNetStartTlsClient(s, DI_TLS_USER_MAY_ACCEPT | DI_TLS_PLAIN_SUITES, host.c_str()) < 0)
        return iconFailed(u"failed: TLS");

    /* No HTTP version: the server answers with the bare file and closes. */
    std::string request = "GET /hvn/resources/images/icons/" + utf8(iconName) + " \r\n\r\n";
    for (size_t sent = 0; sent < request.size();) {
        int n = ddNetSend(s, request.data() + sent, int(request.size() - sent));
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && s->error != DD_NET_ERR_WOULD_BLOCK) return iconFailed(u"failed: send");
        if (ddNetWaitWritable(s, DI_ICON_IDLE_MS) != 1) return iconFailed(u"failed: send stalled");
    }

    std::string bytes;
    bytes.reserve(4096);
    char buffer[2048];
    for (;;) {
        int n = ddNetRecv(s, buffer, sizeof buffer);
        if (n > 0) {
            if (bytes.size() + size_t(n) > DI_ICON_MAX_BYTES)
                return iconFailed(u"failed: the icon is larger than 1 MiB");
            bytes.append(buffer, size_t(n));
            continue;
        }
        if (n == 0) break; /* the server's close ends the file */
        if (s->error != DD_NET_ERR_WOULD_BLOCK) return iconFailed(u"failed: connection lost");
        /* Data the TLS layer already holds was taken above: only the
         * socket itself can bring more. */
        int ready = ddNetWaitReadable(s, DI_ICON_IDLE_MS);
        if (ready == 0) return iconFailed(u"failed: the server stopped sending");
        if (ready < 0) return iconFailed(u"failed: connection lost");
    }
    if (!WriteFile(gifPath, bytes)) return iconFailed(u"failed: the file could not be written");
    return true;
}

std::u16string CIntegratedClient::ProfileKey() {
    CProfileStore* store = g_diProfileStore;
    CCurrentProfile* cur = store ? store->current : nullptr;
    if (!cur || !cur->profileElement) return std::u16string();
    return std::u16string(cur->host ? cur->host : u"") + u":" + (cur->user ? cur->user : u"") +
           u":" + (cur->profileName ? cur->profileName : u"");
}

bool CIntegratedClient::GetProfileEntries(std::vector<DiProfileEntry>* list) {
    std::u16string key = ProfileKey();
    CProfileStore* store = g_diProfileStore;
    if (key.empty()) return false;
    std::u16string url, value;
    int scheme = 0, p = 0;
    DiChar* h = nullptr;
    bool web = profileValue(u"url", &url) && diHTTPParseURL(url.c_str(), &scheme, &h, &p) == 0 && h;
    free(h);
    if (!web) return true;
    DiProfileEntry entry;
    entry.name = store->current->host ? store->current->host : u"";
    /* Quoted by the command-line rules: a quote in a profile name stays
     * part of the key instead of starting another option. */
    entry.arguments = diMenuProfileArguments(key.c_str());
    if (profileValue(u"preferredlang", &value)) entry.language = value;
    entry.autostart = profileValue(u"autostart", &value) && value == u"true";
    list->push_back(entry);
    return true;
}
