/* The settings file of the start-up paths. */
#include "session/disettings.h"

#include "core/diapp.h"
#include "core/diutil.h"
#include "net/dihttp.h"
#include "session/diprofile.h"
#include "xml/qvlxml.h"

#include <stdlib.h>

static const char k_defaultText[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                                    "<settings><emulatorcookies></emulatorcookies></settings>\n";

CSettingsFile::CSettingsFile() {
    document = diProfParseDocument(k_defaultText, sizeof k_defaultText - 1);
    changed = true;
}

CSettingsFile::~CSettingsFile() {
    delete document;
    free(filePath);
    free(fileName);
}

bool CSettingsFile::ParseBytes(const char* bytes, size_t length) {
    CQVLXMLDoc* doc = diProfParseDocument(bytes, length);
    CQVLXMLTag* root = doc ? static_cast<CQVLXMLTag*>(doc->root) : nullptr;
    if (!root || !root->name || !root->name->Equals(u"settings")) {
        delete doc;
        return false;
    }
    delete document;
    document = doc;
    return true;
}

bool CSettingsFile::Load() {
    std::string bytes;
    if (!ReadFileBytes(&bytes)) return false;
    return bytes.empty() || ParseBytes(bytes.data(), bytes.size());
}

bool CSettingsFile::GetValue(const DiChar* key, DiChar* buffer, size_t size, size_t* length) {
    return diProfGetValue(document ? document->root : nullptr, key, buffer, size, length);
}

bool CSettingsFile::AddKey(const DiChar* key, const DiChar* value) {
    if (!document || !diProfIsXmlName(key)) return false;
    int count = 0;
    CProfileStore::FindChild(document->root, key, &count, nullptr, nullptr, nullptr, false);
    if (count) return false;
    static_cast<CQVLXMLTag*>(document->root)
        ->AddChild(new CQVLXMLContentTag(key, value ? value : u""), true);
    changed = true;
    return true;
}

CQVLXMLTag* CSettingsFile::GetCookies() {
    return document ? CProfileStore::FindChild(document->root, u"emulatorcookies", nullptr, nullptr,
                                               nullptr, nullptr, false)
                    : nullptr;
}

bool CSettingsFile::AddCookie(const DiChar* cookie) {
    CQVLXMLTag* cookies = GetCookies();
    if (!cookies || !cookie) return false;
    cookies->AddChild(new CQVLXMLContentTag(u"cookie", cookie), true);
    changed = true;
    return true;
}

std::string CSettingsFile::Serialize() {
    std::string out = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    if (document) CProfileStore::WriteElement(&out, document->root, 0, "\r\n");
    out += "\r\n";
    return out;
}

bool CSettingsFile::Save() {
    if (!WriteFileBytes(Serialize())) {
        diProfLogFileError(u"Settings file", filePath, u"could not be saved");
        return false;
    }
    changed = true;
    return true;
}

int CSettingsFile::FillFromProfile(CProfileStore* store, const DiChar* loginUrl) {
    DiChar cookie[260], proxyHost[260], proxyPort[260], url[1024];
    store->GetProfileValue(u"sessioncookie", cookie, 260, nullptr);
    store->GetProfileValue(u"lastproxyhost", proxyHost, 260, nullptr);
    store->GetProfileValue(u"lastproxyport", proxyPort, 260, nullptr);
    if (loginUrl && *loginUrl) {
        if (diFormatPositional(url, 1024, u"%s", {loginUrl}) < 0) return 3;
    } else if (!store->GetProfileValue(u"url", url, 1024, nullptr) || !url[0]) {
        return 3;
    }
    int scheme = 0, port = 0;
    DiChar* host = nullptr;
    if (diHTTPParseURL(url, &scheme, &host, &port) < 0) {
        free(host);
        return 3;
    }
    DiChar portText[16];
    diFormatPositional(portText, 16, u"%d", {port});
    AddKey(u"sessioncookie", cookie);
    AddKey(u"protocol", scheme == 1 ? u"https" : u"http");
    AddKey(u"server", host);
    AddKey(u"port", portText);
    AddKey(u"jwslocation", u"axis/HVNWS.jws");
    AddKey(u"proxyserver", proxyHost);
    AddKey(u"proxyport", proxyPort);
    free(host);
    return 0;
}
