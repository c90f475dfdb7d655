/* The profile file on disk and the saved-session early paths. */
#include "session/ddso.h"

#include "session/ddprofile.h"

#include "core/ddapp.h"
#include "core/ddutil.h"
#include "net/dicertcache.h"
#include "session/ddintclient.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

static std::wstring s_path;
static bool s_pathSet; /* set by ddProfStoreSetPath: an empty path means no file */

/* Profiles larger than this are not ours: they are refused unread. */
static const DWORD k_maxProfileBytes = 16u << 20;

bool diProfReadWholeFile(const wchar_t* path, char** text, size_t* length, bool skipBom) {
    *text = nullptr;
    if (length) *length = 0;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart <= k_maxProfileBytes;
    char* buf = ok ? static_cast<char*>(malloc(static_cast<size_t>(size.QuadPart) + 1)) : nullptr;
    DWORD got = 0;
    ok = buf && ReadFile(f, buf, static_cast<DWORD>(size.QuadPart), &got, nullptr) &&
         got == size.QuadPart;
    CloseHandle(f);
    if (!ok) {
        free(buf);
        return false;
    }
    buf[got] = 0;
    size_t skip = skipBom && got >= 3 && memcmp(buf, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    if (skip) memmove(buf, buf + skip, got - skip + 1);
    *text = buf;
    if (length) *length = got - skip;
    return true;
}

static void makeParentFolders(const std::wstring& path) {
    for (size_t i = 3; i < path.size(); i++) {
        if (path[i] == L'\\' || path[i] == L'/')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

static bool replaceFile(const std::wstring& path, const std::string& bytes) {
    if (path.empty()) return false;
    makeParentFolders(path);
    return ddFileReplaceDurably(path.c_str(), bytes);
}

/* A file that is there but cannot be read now (a backup or a scanner holds
 * it, no access) is told apart from a missing one: it must not be taken
 * for an empty store and overwritten. */
static CProfileStore::FileState readBytes(const std::wstring& path, std::string* bytes) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        DWORD error = path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? CProfileStore::kFileMissing
                   : CProfileStore::kFileHeld;
    }
    if (data.nFileSizeHigh || data.nFileSizeLow > k_maxProfileBytes)
        return CProfileStore::kFileForeign;
    char* text = nullptr;
    size_t length = 0;
    if (!diProfReadWholeFile(path.c_str(), &text, &length, true)) return CProfileStore::kFileHeld;
    bytes->assign(text, length);
    free(text);
    return CProfileStore::kFileRead;
}

/* Local application data, then "\Vek" and "\VHVN"; each folder is made
 * when create is set. False when the shell folder is unknown or a folder
 * cannot be made. */
static bool storeFolder(std::wstring* out, bool create) {
    wchar_t base[MAX_PATH];
    int flags = CSIDL_LOCAL_APPDATA | (create ? CSIDL_FLAG_CREATE : 0);
    if (FAILED(SHGetFolderPathW(nullptr, flags, nullptr, 0, base))) return false;
    std::wstring folder = base;
    for (const wchar_t* part : {L"\\Vek", L"\\VHVN"}) {
        folder += part;
        if (create && !CreateDirectoryW(folder.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    *out = folder;
    return true;
}

bool ddProfGetFolder(wchar_t* buffer, size_t size) {
    std::wstring folder;
    if (!buffer || !size) return false;
    buffer[0] = 0;
    if (!storeFolder(&folder, false) || folder.size() + 1 > size) return false;
    memcpy(buffer, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
    return true;
}

/* "hv<hex id>.tmp.pem" */
static bool certsOwner(const wchar_t* name, DWORD* pid) {
    size_t n = wcslen(name), tail = 8;
    return n > 2 + tail && _wcsnicmp(name, L"hv", 2) == 0 &&
           _wcsicmp(name + n - tail, L".tmp.pem") == 0 &&
           ddParseProcessId(name + 2, n - 2 - tail, 16, pid);
}

/* "s<id>-<n>.dat" */
static bool settingsOwner(const wchar_t* name, DWORD* pid) {
    size_t n = wcslen(name);
    const wchar_t* dash = wcschr(name, L'-');
    DWORD count = 0;
    return n > 4 && (name[0] == L's' || name[0] == L'S') && dash &&
           _wcsicmp(name + n - 4, L".dat") == 0 && dash < name + n - 4 &&
           ddParseProcessId(name + 1, size_t(dash - name - 1), 10, pid) &&
           ddParseProcessId(dash + 1, size_t(name + n - 4 - dash - 1), 10, &count);
}

std::wstring ddProfSessionCertsPath(const std::wstring& folder) {
    wchar_t name[32];
    _snwprintf(name, DI_COUNTOF(name), L"\\hv%lx.tmp.pem",
               static_cast<unsigned long>(GetCurrentProcessId()));
    name[DI_COUNTOF(name) - 1] = 0;
    return folder + name;
}

bool ddProfSessionCertsOfLiveRun(const wchar_t* path) {
    std::wstring p = path ? path : L"", folder;
    size_t slash = p.rfind(L'\\');
    DWORD pid = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return slash != std::wstring::npos && storeFolder(&folder, false) &&
           _wcsicmp(p.substr(0, slash).c_str(), folder.c_str()) == 0 &&
           certsOwner(p.c_str() + slash + 1, &pid) &&
           GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data) &&
           ddProcessMayHaveWritten(pid, data.ftLastWriteTime);
}

void ddProfRemoveEndedRuns(void) {
    std::wstring folder;
    if (!storeFolder(&folder, false)) return;
    auto temporary = [](const wchar_t* name, DWORD* pid) {
        return ddFileTemporaryOwner(name, nullptr, pid);
    };
    ddFileRemoveOrphans(folder, L"s*.dat", settingsOwner);
    ddFileRemoveOrphans(folder, L"hv*.pem", certsOwner);
    ddFileRemoveOrphans(folder, L"*.new", temporary);
    ddFileRemoveOrphans(folder + L"\\icons", L"*.new", temporary);
}

const wchar_t* ddProfStorePath(void) {
    if (s_path.empty() && !s_pathSet) {
        std::wstring folder;
        if (storeFolder(&folder, true)) s_path = folder + L"\\profile.xml";
    }
    return s_path.c_str();
}

void ddProfStoreSetPath(const wchar_t* path) {
    s_path = path ? path : L"";
    s_pathSet = true;
}

/* ---- the store ---- */

CWinProfileStore::CWinProfileStore() {
    options.profile = g_ddApp->opt.profile;
    options.server = g_ddApp->opt.server;
    options.earlyPath = g_ddApp->opt.objectName || g_ddApp->opt.launchConfig;
    BuildFilePath();
    Load(nullptr);
}

void CWinProfileStore::BuildFilePath() {
    filePath[0] = 0;
    const wchar_t* path = ddProfStorePath();
    size_t n = wcslen(path);
    if (n < DI_COUNTOF(filePath)) memcpy(filePath, path, (n + 1) * sizeof(wchar_t));
}

CWinProfileStore::~CWinProfileStore() {
    ddFileUnlock(lock);
}

CProfileStore::FileState CWinProfileStore::ReadFileBytes(std::string* bytes) {
    return readBytes(ddW(filePath), bytes);
}

bool CWinProfileStore::WriteFileBytes(const std::string& bytes) {
    /* No path: kept in memory when that was asked for, else the folder
     * could not be made and nothing is saved. */
    if (!filePath[0]) return s_pathSet && s_path.empty();
    return replaceFile(ddW(filePath), bytes);
}

bool CWinProfileStore::SetAsideBadFile(std::u16string* kept) {
    /* A file gone meanwhile leaves nothing to keep. */
    std::wstring aside;
    if (!filePath[0]) return true;
    int r = ddFileSetAside(ddW(filePath), &aside);
    if (r > 0) *kept = ddD(aside.c_str());
    return r >= 0;
}

bool CWinProfileStore::LockFile() {
    lock = ddFileLock(ddW(filePath), 10000);
    return lock != nullptr;
}

void CWinProfileStore::UnlockFile() {
    ddFileUnlock(lock);
    lock = nullptr;
}

void CWinProfileStore::UsePreferredLanguage(const DiChar* language) {
    diAppSetText(&g_ddApp->opt.preferredLanguage, language);
}

void CWinProfileStore::UseCertsFile(const DiChar* path) {
    /* Certificates accepted in a session that has ended are not trusted. */
    if (path && *path && !ddProfSessionCertsOfLiveRun(ddW(path))) return;
    diCertCacheSetSessionCertsFile(diProfileToUtf8(path));
}

void ddProfStoreCreate(void) {
    ddProfStoreDestroy();
    new CWinProfileStore();
}

void ddProfStoreDestroy(void) {
    delete g_diProfileStore;
}

/* ---- settings files ---- */

bool CWinSettingsFile::CreateUniqueFile() {
    std::wstring folder;
    if (!storeFolder(&folder, true)) return false;
    static unsigned s_made;
    for (int attempt = 0; attempt < 16; attempt++) {
        std::wstring name = L"s" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++s_made) + L".dat";
        std::wstring path = folder + L"\\" + name;
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) continue;
        CloseHandle(f);
        diAppSetText(&filePath, ddD(path.c_str()));
        diAppSetText(&fileName, ddD(name.c_str()));
        return true;
    }
    return false;
}

/* A name that stays inside the folder: no separators, drive or stream
 * colons, and not "." or "..". */
static bool isPlainName(const DiChar* name) {
    if (!name || !*name) return false;
    std::u16string s = name;
    if (s == u"." || s == u"..") return false;
    return s.find_first_of(u"\\/:") == std::u16string::npos;
}

bool CWinSettingsFile::Open(const DiChar* name) {
    std::wstring folder;
    if (!isPlainName(name) || !storeFolder(&folder, false)) return false;
    std::wstring path = folder + L"\\" + ddW(name);
    diAppSetText(&filePath, ddD(path.c_str()));
    diAppSetText(&fileName, name);
    return Load();
}

bool CWinSettingsFile::ReadFileBytes(std::string* bytes) {
    return filePath && readBytes(ddW(filePath), bytes) == CProfileStore::kFileRead;
}

bool CWinSettingsFile::WriteFileBytes(const std::string& bytes) {
    return filePath && replaceFile(ddW(filePath), bytes);
}

/* ---- the early start-up paths ---- */

int ddProfLaunchConfig(const DiChar* file, const DiChar* objectName) {
    CWinSettingsFile settings;
    if (!settings.Open(file)) return -1;
    CWinLaunchObjectHandler handler;
    return objectName ? handler.HandleObject(objectName, &settings)
                      : handler.HandleAllItems(&settings);
}

int ddProfLaunchObject(const DiChar* objectName) {
    CWinSettingsFile settings;
    if (!g_diProfileStore || settings.FillFromProfile(g_diProfileStore, g_ddApp->opt.loginUrl) != 0)
        return 3;
    DiChar cookie[260], certs[260];
    if (!settings.GetValue(u"sessioncookie", cookie, 260, nullptr) || !cookie[0]) return 2;
    /* The run that saved the cookie saved its certificate file with it: the
     * cookie of a run that has ended is no session to join. */
    size_t length = 0;
    bool whole = g_diProfileStore->GetProfileValue(u"certsfile", certs, 260, &length);
    if (length && !(whole && ddProfSessionCertsOfLiveRun(ddW(certs)))) return 2;
    CWinLaunchObjectHandler handler;
    return handler.HandleObject(objectName, &settings);
}
