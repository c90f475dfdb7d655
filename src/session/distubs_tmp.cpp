/* Interim bodies. */
#include "session/dicapability.h"
#include "session/dilaunchparams.h"
#include "session/diprofile.h"
#include "session/disettings.h"
#include "session/diurlparam.h"

#include "core/diapp.h"

#include <stdlib.h>

CProfileStore* g_diProfileStore;

void CCurrentProfile::Set(const DiChar*) {}
void CCurrentProfile::Set(const DiChar*, const DiChar*, const DiChar*) {}
void CCurrentProfile::Clear() {
    free(text);
    text = nullptr;
}
CProfileStore::CProfileStore() {
    filePath[0] = 0;
    g_diProfileStore = this;
}
CProfileStore::~CProfileStore() {
    if (g_diProfileStore == this) g_diProfileStore = nullptr;
}
void CProfileStore::Load(const DiChar*) {}
bool CProfileStore::Save() {
    return false;
}
std::string CProfileStore::Serialize() {
    return std::string();
}
bool CProfileStore::ParseBytes(const char*, size_t) {
    return false;
}
void CProfileStore::EnsureDocument() {}
bool CProfileStore::GetValue(CQVLXMLElement*, const DiChar*, DiChar*, size_t, size_t*) {
    return false;
}
bool CProfileStore::GetProfileValue(const DiChar*, DiChar*, size_t, size_t*) {
    return false;
}
bool CProfileStore::GetLocalSetting(const DiChar*, DiChar*, size_t, size_t*) {
    return false;
}
bool CProfileStore::GetBool(CQVLXMLElement*, const DiChar*, bool*) {
    return false;
}
bool CProfileStore::GetInt(CQVLXMLElement*, const DiChar*, int32_t*) {
    return false;
}
bool CProfileStore::SetLocalSetting(const DiChar*, const DiChar*) {
    return false;
}
void CProfileStore::SetSessionCookie(const DiChar*) {}
void CProfileStore::SetLastProxy(const DiChar*, int32_t, const DiChar*) {}
void CProfileStore::SetCertsFile(const DiChar*) {}
void CProfileStore::SaveLogin(const DiChar*, const DiChar*, const DiChar*, const DiChar*, int32_t,
                              const DiChar*, const DiChar*, const DiChar*) {}
void CProfileStore::ImportProfiles(const DiChar*, const DiChar*, const DiChar*) {}
CQVLXMLTag* CProfileStore::FindChild(CQVLXMLElement*, const DiChar*, int* count,
                                     CQVLXMLElement** parentOut, const DiChar*, const DiChar*,
                                     bool) {
    if (count) *count = 0;
    if (parentOut) *parentOut = nullptr;
    return nullptr;
}
bool CProfileStore::MergeElement(CQVLXMLElement*, CQVLXMLElement*, const DiChar* const*, bool,
                                 bool) {
    return false;
}
bool diSOGetLocalSetting(const DiChar*, DiChar* buffer, size_t size) {
    if (size) buffer[0] = 0;
    return false;
}
bool diSOSetLocalSetting(const DiChar*, const DiChar*) {
    return false;
}
bool diProfIsXmlName(const DiChar*) {
    return false;
}

CSettingsFile::CSettingsFile() {}
CSettingsFile::~CSettingsFile() {
    free(filePath);
    free(fileName);
}
bool CSettingsFile::Load() {
    return false;
}
bool CSettingsFile::ParseBytes(const char*, size_t) {
    return false;
}
bool CSettingsFile::GetValue(const DiChar*, DiChar*, size_t, size_t*) {
    return false;
}
bool CSettingsFile::AddKey(const DiChar*, const DiChar*) {
    return false;
}
bool CSettingsFile::AddCookie(const DiChar*) {
    return false;
}
CQVLXMLTag* CSettingsFile::GetCookies() {
    return nullptr;
}
bool CSettingsFile::Save() {
    return false;
}
std::string CSettingsFile::Serialize() {
    return std::string();
}
int CSettingsFile::FillFromProfile(CProfileStore*, const DiChar*) {
    return 3;
}

CCapability::CCapability(const DiChar* n, bool f) : name(n ? diAppStrDup(n) : nullptr), flag(f) {}
CCapability::~CCapability() {
    free(name);
}
CStringCapability::CStringCapability(const DiChar* n, const DiChar* v, bool f)
    : CCapability(n, f), value(v ? diAppStrDup(v) : nullptr) {}
CStringCapability::~CStringCapability() {
    free(value);
}
CQVLXMLElement* CStringCapability::ToSOAPParameter() {
    return nullptr;
}
DiChar* CStringCapability::ToText() {
    return nullptr;
}
void CStringCapability::Log() {}
CQVLXMLElement* CIntCapability::ToSOAPParameter() {
    return nullptr;
}
DiChar* CIntCapability::ToText() {
    return nullptr;
}
void CIntCapability::Log() {}
CQVLXMLElement* CBoolCapability::ToSOAPParameter() {
    return nullptr;
}
DiChar* CBoolCapability::ToText() {
    return nullptr;
}
void CBoolCapability::Log() {}

DiLaunchParams::DiLaunchParams(CQVLSOAPRequest* request) {
    Parse(request);
}
DiLaunchParams::~DiLaunchParams() {}
void DiLaunchParams::Parse(CQVLSOAPRequest*) {}
void DiLaunchParams::Merge(const DiLaunchParams&) {}
void DiLaunchParams::ReplaceSessionId(const DiChar*) {}
void DiLaunchParams::ClearTransactionId() {}
void DiLaunchParams::RecomputeShortName() {}
int32_t diLaunchScanNumber(const DiChar*) {
    return 0;
}

bool AddUrlParameter(const DiChar*, const DiChar*, DiChar*, size_t) {
    return false;
}
