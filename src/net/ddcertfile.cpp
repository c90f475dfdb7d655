/* File access of the certificate stores on Windows: UTF-8 paths become
 * UTF-16 for the wide file functions. */
#include "net/dicertcache.h"

#include "core/diutil.h"
#include "dd.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static std::wstring ddCertPath(const std::string& path) {
    DiChar* w = diTextFromUtf8Dup(path.data(), path.size());
    std::wstring out = w ? std::wstring(ddW(w)) : std::wstring();
    free(w);
    return out;
}

bool diCertFileRead(const std::string& path, std::string* bytes, size_t limit) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return false;
    HANDLE f = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && uint64_t(size.QuadPart) <= limit;
    if (ok) {
        bytes->resize(size_t(size.QuadPart));
        DWORD got = 0;
        ok = bytes->empty() || (ReadFile(f, &(*bytes)[0], DWORD(bytes->size()), &got, nullptr) &&
                                got == bytes->size());
    }
    CloseHandle(f);
    return ok;
}

bool diCertFileReplace(const std::string& path, const std::string& bytes) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return false;
    /* One temporary per process: two clients may write at once. */
    std::wstring tmp = w + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
    ok = CloseHandle(f) && ok;
    if (!ok || !MoveFileExW(tmp.c_str(), w.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

bool diCertFileAppend(const std::string& path, const std::string& bytes) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return false;
    FILE* f = _wfopen(w.c_str(), L"ab");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

int diCertFileSetAside(const std::string& path) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return -1;
    if (MoveFileExW(w.c_str(), (w + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? 0 : -1;
}
