/* File access of the certificate stores on Windows: UTF-8 paths become
 * UTF-16 for the wide file functions. */
#include "net/dicertcache.h"

#include "core/diutil.h"
#include "dd.h"

#include <io.h>
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
    /* The bytes reach the disk before the new name does: after a power cut
     * the file is the old one or the new one, never an empty one. */
    ok = ok && FlushFileBuffers(f);
    ok = CloseHandle(f) && ok;
    if (!ok ||
        !MoveFileExW(tmp.c_str(), w.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
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
    /* A certificate kept for good is on the disk once this says so. */
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && fflush(f) == 0 &&
              _commit(_fileno(f)) == 0;
    return fclose(f) == 0 && ok;
}

int diCertFileSetAside(const std::string& path, std::string* kept) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return -1;
    for (int i = 0; i < 100; i++) {
        std::wstring suffix = i ? L".bad" + std::to_wstring(i) : std::wstring(L".bad");
        if (MoveFileExW(w.c_str(), (w + suffix).c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (kept) *kept = path + std::string(suffix.begin(), suffix.end());
            return 1;
        }
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return 0;
        if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS) return -1;
    }
    return -1;
}

/* A named mutex per file, named after the file's path (compared without
 * regard to case, as the file system does); held across a read and a
 * write of a few kilobytes, so a holder that keeps it longer than the wait
 * is stuck, and the save goes on without it. */
void* diCertFileLock(const std::string& path) {
    std::wstring w = ddCertPath(path);
    if (w.empty()) return nullptr;
    CharLowerBuffW(&w[0], DWORD(w.size()));
    uint64_t hash = 14695981039346656037ull; /* FNV-1a */
    for (wchar_t c : w)
        hash = (hash ^ uint16_t(c)) * 1099511628211ull;
    std::wstring name = L"HalvanetCertFile-";
    for (int shift = 60; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(hash >> shift) & 15];
    HANDLE m = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m) return nullptr;
    /* Abandoned: its holder ended between a read and a rename, which
     * leaves the file whole; the wait made this thread the owner. */
    DWORD r = WaitForSingleObject(m, 5000);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return m;
    CloseHandle(m);
    return nullptr;
}

void diCertFileUnlock(void* lock) {
    if (!lock) return;
    ReleaseMutex(HANDLE(lock));
    CloseHandle(HANDLE(lock));
}
