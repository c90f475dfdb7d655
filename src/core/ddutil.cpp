#include "core/ddutil.h"

#include <io.h>
#include <wchar.h>

#include "core/diutil.h"

FILE* ddFileOpen(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    return _wfopen(path, mode);
}

void ddFileClose(FILE* stream) {
    if (stream) fclose(stream);
}

wchar_t* ddFileReadLine(wchar_t* buffer, int size, FILE* stream) {
    if (!buffer || size <= 0 || !stream) return nullptr;
    int n = 0;
    while (n < size - 1) {
        wint_t c = fgetwc(stream);
        if (c == WEOF) break;
        buffer[n++] = static_cast<wchar_t>(c);
        if (c == L'\n') break;
    }
    buffer[n] = 0;
    /* Size 1 reads nothing and gives an empty text, not the end of file. */
    if (n == 0 && size > 1) return nullptr;
    return buffer;
}

bool ddFileExists(const wchar_t* path) {
    return path && _waccess(path, 0) == 0;
}

int ddFileDelete(const wchar_t* path) {
    return path ? _wremove(path) : -1;
}

bool ddFileReplaceDurably(const wchar_t* path, const std::string& bytes) {
    if (!path || !*path) return false;
    std::wstring tmp = std::wstring(path) + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
    ok = ok && FlushFileBuffers(f);
    ok = CloseHandle(f) && ok;
    if (!ok ||
        !MoveFileExW(tmp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

int ddFileSetAside(const wchar_t* path, std::wstring* kept) {
    if (!path || !*path) return -1;
    for (int n = 0; n < 100; n++) {
        std::wstring aside = std::wstring(path) + L".bad" + (n ? std::to_wstring(n) : L"");
        if (MoveFileExW(path, aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (kept) *kept = aside;
            return 1;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return -1;
    }
    return -1;
}

HANDLE ddFileLock(const wchar_t* path, DWORD waitMs) {
    if (!path) return nullptr;
    /* A mutex name holds no backslash: the path, lower-cased as the file
     * system compares it, is hashed (FNV-1a). */
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t* p = path; *p; p++) {
        wchar_t c = *p >= L'A' && *p <= L'Z' ? wchar_t(*p + 32) : *p;
        hash = (hash ^ uint16_t(c)) * 1099511628211ull;
    }
    wchar_t name[48];
    _snwprintf(name, DI_COUNTOF(name), L"HalvanetStateFile-%016llx",
               static_cast<unsigned long long>(hash));
    name[DI_COUNTOF(name) - 1] = 0;
    HANDLE m = CreateMutexW(nullptr, FALSE, name);
    if (!m) return nullptr;
    DWORD r = WaitForSingleObject(m, waitMs);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return m;
    CloseHandle(m);
    return nullptr;
}

void ddFileUnlock(HANDLE lock) {
    if (!lock) return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}
