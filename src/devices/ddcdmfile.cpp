/* Client drive mapping's file calls over Win32. */
#include "dd.h"

#include "devices/ddcdm.h"

#include <stdlib.h>
#include <string.h>

namespace {

const wchar_t* W(const DiChar* s) {
    return reinterpret_cast<const wchar_t*>(s);
}

uint64_t ft64(const FILETIME& f) {
    return uint64_t(f.dwHighDateTime) << 32 | f.dwLowDateTime;
}

/* Critical-error boxes would stop the GUI thread on an empty drive. */
struct QuietErrors {
    UINT saved = SetErrorMode(SEM_FAILCRITICALERRORS);
    ~QuietErrors() { SetErrorMode(saved); }
};

uint32_t lastError() {
    DWORD e = GetLastError();
    return e ? e : ERROR_ACCESS_DENIED;
}

uint32_t getAttributes(const DiChar* path, uint32_t* attributes) {
    QuietErrors q;
    DWORD a = GetFileAttributesW(W(path));
    if (a == INVALID_FILE_ATTRIBUTES) return lastError();
    *attributes = a;
    return 0;
}

uint32_t setAttributes(const DiChar* path, uint32_t attributes) {
    return SetFileAttributesW(W(path), attributes) ? 0 : lastError();
}

void fromFind(const WIN32_FIND_DATAW& f, DiCDMInfo* info) {
    info->size = uint64_t(f.nFileSizeHigh) << 32 | f.nFileSizeLow;
    info->attributes = f.dwFileAttributes;
    info->creation = ft64(f.ftCreationTime);
    info->access = ft64(f.ftLastAccessTime);
    info->write = ft64(f.ftLastWriteTime);
    memcpy(info->name, f.cFileName, sizeof info->name - sizeof(DiChar));
    info->name[259] = 0;
}

uint32_t handleInfo(void* handle, DiCDMInfo* out) {
    BY_HANDLE_FILE_INFORMATION b;
    if (!GetFileInformationByHandle(static_cast<HANDLE>(handle), &b)) return lastError();
    out->size = uint64_t(b.nFileSizeHigh) << 32 | b.nFileSizeLow;
    out->attributes = b.dwFileAttributes;
    out->creation = ft64(b.ftCreationTime);
    out->access = ft64(b.ftLastAccessTime);
    out->write = ft64(b.ftLastWriteTime);
    return 0;
}

/* Opens only disk objects: anything else is closed again. */
HANDLE openDisk(const DiChar* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    HANDLE h = CreateFileW(W(path), access, share, nullptr, disposition, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

uint32_t statPath(const DiChar* path, DiCDMInfo* out) {
    QuietErrors q;
    HANDLE h = openDisk(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS);
    if (h != INVALID_HANDLE_VALUE) {
        uint32_t r = handleInfo(h, out);
        CloseHandle(h);
        if (!r) return 0;
    }
    WIN32_FIND_DATAW f;
    HANDLE s = FindFirstFileW(W(path), &f);
    if (s == INVALID_HANDLE_VALUE) return lastError();
    FindClose(s);
    fromFind(f, out);
    return 0;
}

uint32_t openFile(const DiChar* path, bool forWrite, bool create, void** handle) {
    QuietErrors q;
    HANDLE h = openDisk(path, GENERIC_READ | (forWrite ? GENERIC_WRITE : 0),
                        FILE_SHARE_READ | FILE_SHARE_WRITE, create ? OPEN_ALWAYS : OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    *handle = h;
    return 0;
}

uint32_t closeHandle(void* handle) {
    return CloseHandle(static_cast<HANDLE>(handle)) ? 0 : lastError();
}

uint32_t readFile(void* handle, uint8_t* buf, uint32_t n, uint32_t* done) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle), buf, n, &got, nullptr)) return lastError();
    *done = got;
    return 0;
}

uint32_t writeFile(void* handle, const uint8_t* buf, uint32_t n, uint32_t* done) {
    DWORD put = 0;
    if (!WriteFile(static_cast<HANDLE>(handle), buf, n, &put, nullptr)) return lastError();
    *done = put;
    return 0;
}

uint32_t seekFile(void* handle, int64_t offset, uint32_t origin, uint64_t* position) {
    LARGE_INTEGER d, to;
    d.QuadPart = offset;
    if (!SetFilePointerEx(static_cast<HANDLE>(handle), d, &to, origin)) return lastError();
    *position = uint64_t(to.QuadPart);
    return 0;
}

uint32_t setEnd(void* handle) {
    return SetEndOfFile(static_cast<HANDLE>(handle)) ? 0 : lastError();
}

uint32_t setTimes(void* handle, uint64_t creation, uint64_t access, uint64_t write) {
    FILETIME f[3];
    const uint64_t t[3] = {creation, access, write};
    for (int i = 0; i < 3; i++)
        f[i].dwLowDateTime = DWORD(t[i]), f[i].dwHighDateTime = DWORD(t[i] >> 32);
    return SetFileTime(static_cast<HANDLE>(handle), &f[0], &f[1], &f[2]) ? 0 : lastError();
}

uint32_t findFirst(const DiChar* pattern, void** search, DiCDMInfo* entry) {
    QuietErrors q;
    WIN32_FIND_DATAW f;
    HANDLE s = FindFirstFileW(W(pattern), &f);
    if (s == INVALID_HANDLE_VALUE) return lastError();
    *search = s;
    fromFind(f, entry);
    return 0;
}

uint32_t findNext(void* search, DiCDMInfo* entry) {
    WIN32_FIND_DATAW f;
    if (!FindNextFileW(static_cast<HANDLE>(search), &f)) return lastError();
    fromFind(f, entry);
    return 0;
}

void findClose(void* search) {
    FindClose(static_cast<HANDLE>(search));
}

uint32_t removeFile(const DiChar* path) {
    QuietErrors q;
    return DeleteFileW(W(path)) ? 0 : lastError();
}

uint32_t makeDir(const DiChar* path) {
    QuietErrors q;
    return CreateDirectoryW(W(path), nullptr) ? 0 : lastError();
}

uint32_t removeDir(const DiChar* path) {
    QuietErrors q;
    return RemoveDirectoryW(W(path)) ? 0 : lastError();
}

uint32_t renameFile(const DiChar* from, const DiChar* to) {
    QuietErrors q;
    return MoveFileW(W(from), W(to)) ? 0 : lastError();
}

uint32_t diskFree(const DiChar* path, uint64_t* total, uint64_t* free, uint64_t* avail) {
    QuietErrors q;
    typedef BOOL(WINAPI * Ex)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    HMODULE k = GetModuleHandleW(L"kernel32.dll");
    Ex ex =
        k ? reinterpret_cast<Ex>(reinterpret_cast<void*>(GetProcAddress(k, "GetDiskFreeSpaceExW")))
          : nullptr;
    ULARGE_INTEGER a, t, f;
    if (ex && ex(W(path), &a, &t, &f)) {
        *total = t.QuadPart, *free = f.QuadPart, *avail = a.QuadPart;
        return 0;
    }
    DWORD spc, bps, freeClusters, clusters;
    if (!GetDiskFreeSpaceW(W(path), &spc, &bps, &freeClusters, &clusters)) return lastError();
    uint64_t cluster = uint64_t(spc) * bps;
    *total = cluster * clusters;
    *free = *avail = uint32_t(cluster * freeClusters);
    return 0;
}

} // namespace

const DiCDMFileOps g_ddCDMFileOps = {
    getAttributes, setAttributes, statPath,  openFile,   handleInfo, closeHandle, readFile,
    writeFile,     seekFile,      setEnd,    setTimes,   findFirst,  findNext,    findClose,
    removeFile,    makeDir,       removeDir, renameFile, diskFree,
};
