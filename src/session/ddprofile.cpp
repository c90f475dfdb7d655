/* The profile file on disk and the saved-session early paths. */
#include "session/ddso.h"

#include "session/diprofile.h"

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

/* Writes the file through a temporary beside it so that a failed write
 * never leaves a truncated profile behind. */
static int ddProfStoreSave(DiProfileStore*, const std::string& bytes) {
    std::wstring path = ddProfStorePath();
    if (path.empty()) return -1;
    makeParentFolders(path);
    /* One temporary per process: two clients may save at once. */
    std::wstring tmp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -1;
    DWORD put = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size();
    ok = CloseHandle(f) && ok;
    if (!ok || !MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(tmp.c_str());
        return -1;
    }
    return 0;
}

void ddProfStoreCreate(void) {
    ddProfStoreDestroy();
    DiProfileStore* store = new DiProfileStore();
    store->save = ddProfStoreSave;
    char* text = nullptr;
    size_t length = 0;
    const wchar_t* path = ddProfStorePath();
    if (*path && diProfReadWholeFile(path, &text, &length, true)) {
        diProfileParse(store, text, length);
        free(text);
    }
    g_diProfileStore = store;
}

void ddProfStoreDestroy(void) {
    delete g_diProfileStore;
    g_diProfileStore = nullptr;
}

int ddProfLaunchConfig(const DiChar* file, const DiChar*) {
    /* The listener's request handler that would dispatch the items comes
     * with the session subsystem; the file is only checked for being
     * readable. */
    char* text = nullptr;
    if (!file || !diProfReadWholeFile(ddW(file), &text, nullptr, true)) return -1;
    free(text);
    return -1;
}

int ddProfLaunchObject(const DiChar* profile, const DiChar*) {
    char* text = nullptr;
    size_t length = 0;
    if (!profile || !diProfReadWholeFile(ddW(profile), &text, &length, true)) return 3;
    std::string body(text, length);
    free(text);
    size_t open = body.find("<sessioncookie>");
    size_t close = open == std::string::npos ? open : body.find("</sessioncookie>", open);
    if (close == std::string::npos || close == open + strlen("<sessioncookie>")) return 2;
    /* A session cookie is present, but no request dispatcher exists yet to
     * take the object: the request fails. */
    return 1;
}
