/* File access of the certificate stores on Windows: UTF-8 paths become
 * UTF-16 for the wide file functions. */
#include "net/dicertcache.h"

#include "core/ddutil.h"
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
    return !w.empty() && ddFileReplaceDurably(w.c_str(), bytes);
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
    std::wstring w = ddCertPath(path), aside;
    if (w.empty()) return -1;
    int r = ddFileSetAside(w.c_str(), &aside);
    /* The suffix is ASCII: the name kept is the path with it. */
    if (r > 0 && kept) *kept = path + std::string(aside.begin() + w.size(), aside.end());
    return r;
}

/* Held across a read and a write of a few kilobytes: a holder that keeps it
 * longer than the wait is stuck, and the save goes on without it. */
void* diCertFileLock(const std::string& path) {
    std::wstring w = ddCertPath(path);
    return w.empty() ? nullptr : ddFileLock(w.c_str(), 5000);
}

void diCertFileUnlock(void* lock) {
    ddFileUnlock(HANDLE(lock));
}
