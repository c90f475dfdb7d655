/* The profile file on disk and the saved-session early paths. */
#include "session/ddso.h"

#include "session/ddprofile.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static std::wstring s_path;
static bool s_pathSet; /* set by ddProfStoreSetPath: an empty path means no file */

/* Profiles larger than this are not ours: they are refused unread. */
static const DWORD k_maxProfileBytes = 16u << 20;

const wchar_t* ddProfStorePath(void) {
    if (s_path.empty() && !s_pathSet) {
        wchar_t folder[MAX_PATH];
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                       folder)))
            s_path = std::wstring(folder) + L"\\Vek\\VHVN\\profile.xml";
    }
    return s_path.c_str();
}

void ddProfStoreSetPath(const wchar_t* path) {
    s_path = path ? path : L"";
    s_pathSet = true;
}

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

CWinProfileStore::CWinProfileStore() {
    BuildFilePath();
    Load(nullptr);
}
void CWinProfileStore::BuildFilePath() {
    filePath[0] = 0;
}
bool CWinProfileStore::ReadFileBytes(std::string*) {
    return false;
}
bool CWinProfileStore::WriteFileBytes(const std::string&) {
    return false;
}
bool CWinProfileStore::SetAsideBadFile() {
    return false;
}
bool CWinProfileStore::FileExists() {
    return false;
}
bool CWinSettingsFile::CreateUniqueFile() {
    return false;
}
bool CWinSettingsFile::Open(const DiChar*) {
    return false;
}
bool CWinSettingsFile::ReadFileBytes(std::string*) {
    return false;
}
bool CWinSettingsFile::WriteFileBytes(const std::string&) {
    return false;
}
bool ddProfGetFolder(wchar_t* buffer, size_t size) {
    if (size) buffer[0] = 0;
    (void)makeParentFolders;
    return false;
}

void ddProfStoreCreate(void) {
    ddProfStoreDestroy();
    new CWinProfileStore();
}

void ddProfStoreDestroy(void) {
    delete g_diProfileStore;
}

int ddProfLaunchConfig(const DiChar*, const DiChar*) {
    return -1;
}

int ddProfLaunchObject(const DiChar*) {
    return 3;
}
