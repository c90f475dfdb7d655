/* The start-up request handler over the session web service. */
#include "session/diobjhandler.h"

#include "net/diroute.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/disettings.h"
#include "xml/qvlxml.h"

#include <stdlib.h>
#include <string.h>

static bool fileValue(CSettingsFile* file, const DiChar* key, std::string* out) {
    DiChar buffer[1024];
    if (!file->GetValue(key, buffer, 1024, nullptr)) return false;
    *out = diProfileToUtf8(buffer);
    return true;
}

bool CLaunchObjectHandler::ReadSessionSettings(CSettingsFile* file) {
    if (!file || !fileValue(file, u"sessioncookie", &sessionCookie) ||
        !fileValue(file, u"protocol", &protocol) || !fileValue(file, u"server", &server) ||
        !fileValue(file, u"port", &port) || !fileValue(file, u"jwslocation", &jwsLocation))
        return false;
    if (fileValue(file, u"proxyport", &proxyPortText)) proxyPort = atoi(proxyPortText.c_str());
    if (fileValue(file, u"proxyserver", &proxyServer) && !proxyServer.empty()) {
        proxyServerW = diProfileFromUtf8(proxyServer);
        ProxyCredentials(false, true);
    } else {
        proxyServer.clear();
        proxyServerW.clear();
    }
    return true;
}

bool CLaunchObjectHandler::ProxyCredentials(bool ask, bool useCache) {
    if (proxyServerW.empty()) return false;
    DiRoute route;
    diRouteInit(&route, DI_ROUTE_HTTP, proxyServerW.c_str(), uint32_t(proxyPort), 0);
    DiChar *user = nullptr, *password = nullptr;
    int ok;
    if (!ask)
        ok =
            diRouteProxyCredentials(proxyServerW.c_str(), uint32_t(proxyPort), &user, &password, 0);
    else
        ok = diRouteGetCredentials(&route, &user, &password, useCache ? 1 : 0);
    if (ok) {
        proxyUser = diProfileToUtf8(user);
        proxyPassword = diProfileToUtf8(password);
    }
    free(user);
    free(password);
    diRouteFree(&route);
    return ok != 0;
}

DiWsReply CLaunchObjectHandler::Call(const char* operation, const std::vector<std::string>& args) {
    DiWsReply reply;
    reply.code = 11;
    if (!g_diWsService) return reply;
    DiWsEndpoint e;
    e.protocol = protocol;
    e.host = server;
    e.portText = port;
    e.path = jwsLocation;
    auto load = [&] {
        e.proxyHost = proxyServer;
        e.proxyPort = proxyPort;
        e.proxyUser = proxyUser;
        e.proxyPassword = proxyPassword;
    };
    load();
    reply = g_diWsService->Call(e, operation, args);
    /* The cache answers once: a wrong cached password would otherwise come
     * back for ever. */
    bool useCache = true;
    while (reply.code == 407 && ProxyCredentials(true, useCache)) {
        useCache = false;
        load();
        reply = g_diWsService->Call(e, operation, args);
    }
    return reply;
}

static bool endv(const DiWsReply& r) {
    return r.hasResult && r.result.compare(0, 9, "soap_endv") == 0;
}

int CLaunchObjectHandler::StartEmulatorSession(const DiChar* objectName, CSettingsFile* file) {
    /* Nothing was started: reporting success would end the start-up. */
    if (!ReadSessionSettings(file)) return DI_LAUNCH_NO_SETTINGS;
    DiWsReply r = Call("startEmulatorSession", {sessionCookie, diProfileToUtf8(objectName)});
    if (r.code == 0) return endv(r) ? DI_LAUNCH_FAILED : 0;
    if (r.faultCode == "SOAP-ENV:Server.userException") {
        const std::string& s = r.faultString;
        if (s == "java.rmi.RemoteException: Server.NoWrite" ||
            s == "java.rmi.RemoteException: Server.NoDRXResponse")
            return DI_LAUNCH_NO_SERVER;
        if (s == "java.rmi.RemoteException: Client.InvalidSessionCookie")
            return DI_LAUNCH_BAD_COOKIE;
        if (s == "java.rmi.RemoteException: Server.LaunchFailed") {
            ShowMessage(495);
            return DI_LAUNCH_FAILED;
        }
    }
    return r.code;
}

bool CLaunchObjectHandler::SuspendEmulatorSession(const std::string& item, CSettingsFile* file) {
    if (!ReadSessionSettings(file)) return false;
    DiWsReply r = Call("suspendSession", {sessionCookie, item});
    return r.code == 0 && !endv(r);
}

bool CLaunchObjectHandler::ResumeEmulatorSession(const std::string& item, CSettingsFile* file) {
    if (!ReadSessionSettings(file)) return false;
    DiWsReply r = Call("resumeSession", {sessionCookie, item});
    return r.code == 0 && !endv(r);
}

bool CLaunchObjectHandler::EndWebtopSession(CSettingsFile* file) {
    if (!ReadSessionSettings(file)) return false;
    DiWsReply r = Call("endSession", {sessionCookie});
    if (r.code != 0 || endv(r)) return false;
    for (int i = 0; i < 5 && !RecreateProfileStore(); i++) {
    }
    return true;
}

bool CLaunchObjectHandler::OpenWebtopUrl(const DiChar* url, CSettingsFile* file) {
    std::string proto, host, portValue;
    fileValue(file, u"protocol", &proto);
    fileValue(file, u"server", &host);
    fileValue(file, u"port", &portValue);
    std::string base = proto + "://" + host;
    if (!portValue.empty()) base += ":" + portValue;
    base += "/hvn/";
    std::u16string u = url;
    if (u.compare(0, base.size(), diProfileFromUtf8(base)) != 0) return OpenBrowser(url);
    std::string cookie;
    fileValue(file, u"sessioncookie", &cookie);
    DiChar id[256];
    if (!diSOGetLocalSetting(u"drxclientid", id, 256) || !id[0]) return false;
    return OpenBrowser(diWebtopSessionUrl(u, id, diProfileFromUtf8(cookie)).c_str());
}

int CLaunchObjectHandler::HandleObject(const DiChar* objectName, CSettingsFile* sessionFile) {
    if (!objectName) return DI_LAUNCH_FAILED;
    std::u16string name = objectName;
    if (name.compare(0, 4, u"http") == 0) return OpenWebtopUrl(objectName, sessionFile) ? 0 : 1;
    if (name == u"ic_logout") return EndWebtopSession(sessionFile) ? 0 : 2;
    return StartEmulatorSession(objectName, sessionFile);
}

int CLaunchObjectHandler::HandleAllItems(CSettingsFile* sessionFile) {
    CQVLXMLTag* cookies = sessionFile ? sessionFile->GetCookies() : nullptr;
    std::vector<std::string> items;
    CQVLXMLElementList* kids = cookies ? cookies->GetChildren() : nullptr;
    for (auto* n = kids ? kids->head : nullptr; n; n = n->next) {
        if (!n->item->IsTag()) continue;
        DiChar* text = n->item->GetText();
        items.push_back(diProfileToUtf8(text ? text : u""));
        free(text);
    }
    bool ok = true;
    for (const std::string& item : items)
        ok = SuspendEmulatorSession(item, sessionFile) && ok;
    uint32_t pause = 3000;
    for (const std::string& item : items) {
        ok = ResumeEmulatorSession(item, sessionFile) && ok;
        Pause(pause);
        if (pause > 1000) pause -= 1000;
    }
    return ok ? 0 : 1;
}
