/* The print channel's Windows side: its constructor and destroy routine,
 * spool files in the temporary folder and the prints of a finished job. */
#include "dd.h"

#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "devices/ddprint.h"
#include "devices/ddpaip.h"
#include "devices/dipaip.h"
#include "devices/diprintq.h"
#include "session/diso.h"

#include <string>

namespace {

const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

/* The temporary folder with a trailing backslash, and its spool folder. */
std::wstring tempFolder() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    std::wstring t(buf, n);
    if (t.back() != L'\\') t += L'\\';
    return t;
}

std::wstring spoolFolder() {
    std::wstring t = tempFolder();
    return t.empty() ? t : t + L"QVLWinPrint\\";
}

void* openIn(const std::wstring& dir, std::u16string* path) {
    if (dir.empty()) return nullptr;
    wchar_t name[MAX_PATH + 1];
    if (!GetTempFileNameW(dir.c_str(), L"QVL", 0, name)) return nullptr;
    /* Without FILE_SHARE_DELETE: while the channel holds the spool open, the
     * stale-spool sweep of another client cannot delete it. */
    HANDLE h = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileW(name); /* GetTempFileNameW made it */
        return nullptr;
    }
    *path = std::u16string(reinterpret_cast<const char16_t*>(name));
    return h;
}

void* spoolOpen(std::u16string* path) {
    std::wstring dir = spoolFolder();
    if (!dir.empty()) CreateDirectoryW(dir.c_str(), nullptr);
    void* h = openIn(dir, path);
    return h ? h : openIn(tempFolder(), path);
}

bool spoolWrite(void* file, const uint8_t* data, uint32_t n) {
    while (n) {
        DWORD done = 0;
        if (!WriteFile(static_cast<HANDLE>(file), data, n, &done, nullptr) || done == 0)
            return false;
        data += done;
        n -= done;
    }
    return true;
}

void spoolClose(void* file) {
    CloseHandle(static_cast<HANDLE>(file));
}

void spoolRemove(const std::u16string& path) {
    if (!path.empty()) DeleteFileW(wide(path));
}

std::u16string systemText(DWORD code) {
    wchar_t buf[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buf, 256, nullptr);
    while (n && (buf[n - 1] == L'\n' || buf[n - 1] == L'\r'))
        n--;
    return std::u16string(reinterpret_cast<const char16_t*>(buf), n);
}

int spoolPrint(DiPrintChannel* pc, const std::u16string& path, uint32_t* error,
               std::u16string* text) {
    if (pc->kind == 0) {
        DWORD code = 0;
        int r = ddPrintRaw(wide(path), pc->printer, pc->client, &code);
        if (r != 0) {
            *error = code;
            *text = pc->errorText.empty() ? systemText(code) : pc->errorText;
        }
        return r;
    }
    int r = ddPrintPdf(wide(path), pc->pdfDialog != 0, pc->kind, pc->client);
    if (r != 0) *text = u"the PDF reader could not be started";
    return r;
}

void spoolTrace(const std::u16string& line) {
    ddTraceLogWrite((line + u"\r\n").c_str());
}

const DiPrintSpoolOps kSpoolOps = {spoolOpen,   spoolWrite, spoolClose,
                                   spoolRemove, spoolPrint, spoolTrace};

uint64_t fileTime(const FILETIME& t) {
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

/* Deletes the "QVL*" files of a folder by their full paths, those last
 * written longer ago than the deferred deletion waits: a younger one may be
 * the spool of another client running at once, its reader still to read
 * it. An older one that client holds for the user's resume is open, and its
 * deletion fails. */
void deleteStale(const std::wstring& dir, const wchar_t* pattern) {
    if (dir.empty()) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t age = uint64_t(diPrintSweepDelays.dueMs) * 10000; /* 100 ns units */
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            fileTime(fd.ftLastWriteTime) + age < fileTime(now))
            DeleteFileW((dir + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

} // namespace

static CPrintJobQueue* makeQueue(void) {
    return new (std::nothrow) CPrintJobQueue();
}

void ddPrintInstallQueueHook(void) {
    g_diSOMakePrintQueue = makeQueue;
}

DiChannel* ddPrintCreate(DdSocket* s) {
    bool hasDefault = g_ddApp && g_ddApp->hasDefaultPrinter;
    DiPrintChannel* pc = diPrintChannelNew(&kSpoolOps, hasDefault);
    if (!pc) return nullptr;
    diChannelAttachConnection(&pc->ch, s);
    if (hasDefault && !ddPrintDescribeClient(&pc->client)) pc->client = DiPrintClient();
    /* Spools of an earlier run that ended before deleting them, in the
     * spool folder and in the temporary folder it falls back to. */
    deleteStale(spoolFolder(), L"QVL*");
    deleteStale(tempFolder(), L"QVL*.tmp");
    return &pc->ch;
}

void ddPrintDestroy(DiChannel* ch) {
    DiPrintChannel* pc = reinterpret_cast<DiPrintChannel*>(ch);
    diPrintChannelTeardown(pc);
    diPrintChannelDelete(pc);
}
