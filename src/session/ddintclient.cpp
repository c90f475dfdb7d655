/* The Windows integrated webtop client: the web service over the SOAP
 * runtime, the client's own executable and its settings file. The Start
 * menu and the Startup shortcut are made by the shortcuts module. */
#include "session/ddintclient.h"

#include "core/ddapp.h"
#include "core/ddmessage.h"
#include "net/wsclient.h"
#include "core/dilog.h"
#include "net/dihttp.h"
#include "session/ddprofile.h"
#include "session/ddso.h"
#include "session/ddstartmenu.h"
#include "session/diintclient.h"
#include "session/diprofile.h"
#include "session/diurlparam.h"

#include <stdlib.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

/* One proxy per call, its texts copied before it goes. */
class DdWsService : public DiWsService {
  public:
    DiWsReply Call(const DiWsEndpoint& e, const char* op,
                   const std::vector<std::string>& args) override {
        SessionServiceProxy p(e.protocol.c_str(), e.host.c_str(), e.portText.c_str(),
                              e.path.c_str(), e.proxyHost.c_str(), e.proxyPort, e.proxyUser.c_str(),
                              e.proxyPassword.c_str(),
                              e.proxyType.empty() ? nullptr : e.proxyType.c_str());
        auto a = [&](size_t i) { return i < args.size() ? args[i].c_str() : ""; };
        auto b = [&](size_t i) { return i < args.size() && args[i] == "true"; };
        char* result = nullptr;
        int code = WS_NO_ENDPOINT;
        std::string name = op;
        if (name == "startSession")
            code = p.startSession(a(0), b(1), &result);
        else if (name == "restartSession")
            code = p.restartSession(a(0), a(1), &result);
        else if (name == "setDRXConfiguration")
            code = p.setDRXConfiguration(a(0), &result);
        else if (name == "startDRX")
            code = p.startDRX(a(0), &result);
        else if (name == "modifySession")
            code = p.modifySession(a(0), a(1), a(2), &result);
        else if (name == "authenticateSession")
            code = p.authenticateSession(a(0), a(1), a(2), &result);
        else if (name == "registerDRXEventListener")
            code = p.registerDRXEventListener(a(0), a(1), &result);
        else if (name == "getWebtop")
            code = p.getWebtop(a(0), b(1), b(2), &result);
        else if (name == "endSession")
            code = p.endSession(a(0), &result);
        else if (name == "startEmulatorSession")
            code = p.startEmulatorSession(a(0), a(1), &result);
        else if (name == "suspendSession")
            code = p.suspendSession(a(0), a(1), &result);
        else if (name == "resumeSession")
            code = p.resumeSession(a(0), a(1), &result);
        DiWsReply r;
        r.code = code;
        if (result) {
            r.hasResult = true;
            r.result = result;
        }
        /* Only a fault the server sent (client, server or other fault)
         * carries its code and string. */
        if (p.soap && (code == 1 || code == 2 || code == 8 || code == 12)) {
            const char** fc = soap_faultcode(p.soap);
            const char** fs = soap_faultstring(p.soap);
            if (fc && *fc) r.faultCode = *fc;
            if (fs && *fs) r.faultString = *fs;
            if (r.faultCode.empty()) r.faultCode = "SOAP-ENV:Server";
        }
        return r;
    }
};

DdWsService s_service;

const wchar_t* w(const DiChar* s) {
    return reinterpret_cast<const wchar_t*>(s);
}

class CWinIntegratedClient : public CIntegratedClient {
  public:
    CWinSettingsFile file;
    /* COM for this thread, the icons folder and the session certificate
     * file live as long as the client. */
    CWinStartMenu menu;

    explicit CWinIntegratedClient(CServerOutpost* owner) : CIntegratedClient(owner) {
        if (file.CreateUniqueFile()) settingsFile = &file;
        menu.addCookie = [this](const DiChar* cookie) { file.AddCookie(cookie); };
        menu.documentUrl = [this](const DiChar* location) { return BuildDocumentUrl(location); };
        menu.fetchIcon = [this](const std::u16string& gif, const std::u16string& iconName) {
            return FetchIcon(gif, iconName);
        };
    }
    /* The settings file lives as long as the client that made it. */
    ~CWinIntegratedClient() override {
        RefreshStartMenu();
        DeleteSettingsFile();
        settingsFile = nullptr;
    }
    bool GetExePath() override {
        wchar_t path[MAX_PATH + 1];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
        if (n == 0 || n > MAX_PATH) return false;
        exePath.assign(reinterpret_cast<const DiChar*>(path), n);
        return true;
    }
    /* The web server's host names the folder; without one, the profile's. */
    std::u16string MenuHost() {
        CProfileStore* store = g_diProfileStore;
        if (!host.empty()) return host;
        return store && store->current && store->current->host ? store->current->host : u"";
    }
    bool UpdateStartupShortcut() override {
        std::vector<DiProfileEntry> profiles;
        if (exePath.empty()) GetExePath();
        return GetProfileEntries(&profiles) && menu.UpdateStartup(profiles, exePath);
    }
    bool BuildStartMenu(const char* webtop) override {
        std::u16string key = ProfileKey();
        if (exePath.empty()) GetExePath();
        if (!menu.PrepareFolder(MenuHost().c_str()) || !webtop ||
            !menu.Fill(webtop, strlen(webtop), exePath, key.c_str()))
            return false;
        if (file.changed && file.Save()) MakeSettingsFileWritable();
        DiChar url[1024] = u"";
        size_t length = 0;
        if (g_diProfileStore && g_diProfileStore->GetProfileValue(u"url", url, 1024, &length)) {
            const DiChar* lang = g_ddApp ? g_ddApp->opt.preferredLanguage : nullptr;
            if (lang && *lang) AddUrlParameter(u"langSelected", lang, url, 1024);
        }
        return menu.AddFixedShortcuts(exePath, key.c_str(), url);
    }
    void RefreshStartMenu() override {
        std::vector<DiProfileEntry> profiles;
        GetProfileEntries(&profiles);
        if (exePath.empty()) GetExePath();
        menu.Refresh(integrated != 0, MenuHost().c_str(), exePath,
                     profiles.empty() ? nullptr : &profiles[0]);
    }
    void DeleteSettingsFile() override {
        if (file.filePath) DeleteFileW(w(file.filePath));
    }
    void MakeSettingsFileWritable() override {
        if (file.filePath) SetFileAttributesW(w(file.filePath), FILE_ATTRIBUTE_NORMAL);
    }
    void RunSelf(const std::u16string& parameters) override {
        if (exePath.empty() && !GetExePath()) return;
        ddShellOpen(nullptr, w(exePath.c_str()), w(parameters.c_str()), SW_SHOWNORMAL);
    }
};

} // namespace

void ddIntClientInstallService(void) {
    g_diWsService = &s_service;
}

CIntegratedClient* ddIntClientCreate(CServerOutpost* outpost) {
    ddIntClientInstallService();
    CIntegratedClient* client = new (std::nothrow) CWinIntegratedClient(outpost);
    if (client) g_diIntegratedClient = client;
    return client;
}

CWinLaunchObjectHandler::CWinLaunchObjectHandler() {
    ddIntClientInstallService();
}

bool CWinLaunchObjectHandler::OpenBrowser(const DiChar* url) {
    return ddShellRun(0, w(url), 0) == 0;
}

void CWinLaunchObjectHandler::ShowMessage(uint32_t message) {
    DiChar text[1024], caption[256];
    if (!diLogLoadMessage(message, text, 1024)) text[0] = 0;
    if (!diLogLoadMessage(455, caption, 256)) caption[0] = 0;
    ddMessageBox(nullptr, w(text), w(caption));
}

void CWinLaunchObjectHandler::Pause(uint32_t ms) {
    Sleep(ms);
}

bool CWinLaunchObjectHandler::RecreateProfileStore() {
    ddProfStoreCreate();
    if (!g_diProfileStore) return false;
    DiChar cookie[260];
    g_diProfileStore->GetProfileValue(u"sessioncookie", cookie, 260, nullptr);
    return true;
}
