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

bool ddProcessMayHaveWritten(DWORD pid, const FILETIME& written) {
    if (pid == GetCurrentProcessId()) return true;
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    /* No such process; any other refusal (another user's) keeps the file. */
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;
    bool runs = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    FILETIME created, exited, kernel, user;
    if (runs && GetProcessTimes(h, &created, &exited, &kernel, &user))
        runs = CompareFileTime(&created, &written) <= 0;
    CloseHandle(h);
    return runs;
}

bool ddParseProcessId(const wchar_t* text, size_t length, int base, DWORD* pid) {
    if (length == 0 || length > (base == 16 ? 8u : 10u)) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; i++) {
        wchar_t c = text[i];
        int digit = c >= L'0' && c <= L'9'                 ? c - L'0'
                    : base == 16 && c >= L'a' && c <= L'f' ? c - L'a' + 10
                    : base == 16 && c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                           : -1;
        if (digit < 0) return false;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    *pid = DWORD(value);
    return value <= 0xFFFFFFFFu;
}

bool ddFileTemporaryOwner(const wchar_t* name, const wchar_t* prefix, DWORD* pid) {
    std::wstring n = name;
    const size_t tail = 4; /* ".new" */
    if (n.size() <= tail || n.compare(n.size() - tail, tail, L".new") != 0) return false;
    n.resize(n.size() - tail);
    size_t dot = n.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || (prefix && n.compare(0, dot, prefix) != 0))
        return false;
    return ddParseProcessId(n.c_str() + dot + 1, n.size() - dot - 1, 10, pid);
}

void ddFileRemoveOrphans(const std::wstring& folder, const wchar_t* pattern,
                         const std::function<bool(const wchar_t* name, DWORD* pid)>& owner) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        DWORD pid = 0;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && owner(fd.cFileName, &pid) &&
            !ddProcessMayHaveWritten(pid, fd.ftLastWriteTime))
            DeleteFileW((folder + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

bool ddFileReplaceDurably(const wchar_t* path, const std::string& bytes) {
    if (!path || !*path) return false;
    std::wstring whole = path;
    size_t slash = whole.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        std::wstring name = whole.substr(slash + 1);
        ddFileRemoveOrphans(whole.substr(0, slash), (name + L".*.new").c_str(),
                            [&](const wchar_t* n, DWORD* pid) {
                                return ddFileTemporaryOwner(n, name.c_str(), pid);
                            });
    }
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
