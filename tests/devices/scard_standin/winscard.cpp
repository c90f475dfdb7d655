// A winscard.dll for smart-card test programs under Wine: the scripted
// service of fake_pcsc behind the real entry points, so the client's
// forwarders and start-event emulation run against recorded calls. Built
// twice: with and without the five optional entry points.
#define WINSCARDAPI __declspec(dllexport)
#include <windows.h>
#include <winscard.h>

#include "devices/fake_pcsc.h"

#include <map>

const DiSCardApi* g_diSCardApi;

namespace {

std::string s_script;
std::map<SCARDCONTEXT, DWORD> s_scopes;
HANDLE s_started;
std::string s_taken;

DWORD WINAPI watchFolder(void*);

const DiSCardApi* api() {
    if (!g_diSCardApi) {
        fakePcscReset(), g_pcsc.blockInfinite = true;
        // A program that cannot call the controls below (the client itself)
        // is driven through a folder named by HV_SCARD_STANDIN_DIR.
        static char dir[MAX_PATH];
        char script[64];
        DWORD k = GetEnvironmentVariableA("HV_SCARD_STANDIN_SCRIPT", script, sizeof script);
        if (k > 0 && k < sizeof script) s_script = script; // the controls' words below
        DWORD n = GetEnvironmentVariableA("HV_SCARD_STANDIN_DIR", dir, MAX_PATH);
        if (n > 0 && n < MAX_PATH - 16)
            CloseHandle(CreateThread(nullptr, 0, watchFolder, dir, 0, nullptr));
    }
    return g_diSCardApi;
}

// Takes a control file: true when it was there (it is removed).
bool take(const std::string& dir, const char* name) {
    return DeleteFileA((dir + "\\" + name).c_str()) != 0;
}

// The folder's controls: the file "insert" inserts a card into every
// waiting status change, "started" starts the service and "stopped" stops
// it again (logged as "stopped"); every call is
// appended to the file "log" as it is made, so a peer can tell a call that
// waits from one not yet made.
DWORD WINAPI watchFolder(void* arg) {
    std::string dir = static_cast<const char*>(arg);
    for (;;) {
        if (take(dir, "insert")) fakePcscInsert();
        if (take(dir, "started") && s_started) SetEvent(s_started);
        if (take(dir, "stopped")) {
            if (s_started) ResetEvent(s_started);
            fakePcscLog("stopped");
        }
        std::string calls = fakePcscTakeLog();
        if (!calls.empty()) {
            HANDLE f = CreateFileA((dir + "\\log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, 0, nullptr);
            DWORD wrote;
            if (f != INVALID_HANDLE_VALUE)
                WriteFile(f, calls.data(), DWORD(calls.size()), &wrote, nullptr), CloseHandle(f);
        }
        Sleep(10);
    }
}

bool scripted(const char* word) {
    return s_script.find(word) != std::string::npos;
}

// Takes the value by address: it is read after the call has run.
LONG copyOut(int32_t rc, const uint32_t* v, DWORD* out) {
    *out = *v;
    return rc;
}

} // namespace

// Test controls: "nouser" (user scope cannot be established), "userempty"
// (the user scope lists no reader), "empty" (no scope does).
extern "C" __declspec(dllexport) void WINAPI HvStandinScript(const char* script) {
    fakePcscReset();
    g_pcsc.blockInfinite = true; // a server's wait without a time limit
    s_script = script;
    if (s_started) ResetEvent(s_started);
}
extern "C" __declspec(dllexport) const char* WINAPI HvStandinTakeLog() {
    s_taken = fakePcscTakeLog();
    return s_taken.c_str();
}
extern "C" __declspec(dllexport) void WINAPI HvStandinServiceStarted() {
    if (s_started) SetEvent(s_started);
}

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (scope == SCARD_SCOPE_USER && scripted("nouser")) return LONG(0x8010001D);
    uint32_t c = 0;
    LONG rc = api()->establish(scope, &c);
    *context = c;
    s_scopes[c] = scope;
    return rc;
}
LONG WINAPI SCardReleaseContext(SCARDCONTEXT c) {
    return api()->release(uint32_t(c));
}
LONG WINAPI SCardListReaderGroupsA(SCARDCONTEXT c, LPSTR buf, LPDWORD n) {
    uint32_t v = *n;
    return copyOut(api()->listGroups(false, uint32_t(c), buf, &v), &v, n);
}
LONG WINAPI SCardListReaderGroupsW(SCARDCONTEXT c, LPWSTR buf, LPDWORD n) {
    uint32_t v = *n;
    return copyOut(api()->listGroups(true, uint32_t(c), buf, &v), &v, n);
}
LONG WINAPI SCardListReadersA(SCARDCONTEXT c, LPCSTR groups, LPSTR buf, LPDWORD n) {
    uint32_t v = *n;
    LONG rc = api()->listReaders(false, uint32_t(c), groups, buf, &v);
    bool none = scripted("userempty") ? s_scopes[c] == SCARD_SCOPE_USER : scripted("empty");
    if (!buf && none) v = 2; // two NULs: an empty list
    return copyOut(rc, &v, n);
}
LONG WINAPI SCardListReadersW(SCARDCONTEXT c, LPCWSTR groups, LPWSTR buf, LPDWORD n) {
    uint32_t v = *n;
    return copyOut(api()->listReaders(true, uint32_t(c), groups, buf, &v), &v, n);
}
#define ADMIN1(name, fn, T)                                                                        \
    LONG WINAPI name(SCARDCONTEXT c, T a) {                                                        \
        return api()->admin(fn, uint32_t(c), a, nullptr);                                          \
    }
#define ADMIN2(name, fn, T)                                                                        \
    LONG WINAPI name(SCARDCONTEXT c, T a, T b) {                                                   \
        return api()->admin(fn, uint32_t(c), a, b);                                                \
    }
ADMIN1(SCardIntroduceReaderGroupA, 20, LPCSTR)
ADMIN1(SCardIntroduceReaderGroupW, 21, LPCWSTR)
ADMIN1(SCardForgetReaderGroupA, 22, LPCSTR)
ADMIN1(SCardForgetReaderGroupW, 23, LPCWSTR)
ADMIN2(SCardIntroduceReaderA, 24, LPCSTR)
ADMIN2(SCardIntroduceReaderW, 25, LPCWSTR)
ADMIN1(SCardForgetReaderA, 26, LPCSTR)
ADMIN1(SCardForgetReaderW, 27, LPCWSTR)
ADMIN2(SCardAddReaderToGroupA, 28, LPCSTR)
ADMIN2(SCardAddReaderToGroupW, 29, LPCWSTR)
ADMIN2(SCardRemoveReaderFromGroupA, 30, LPCSTR)
ADMIN2(SCardRemoveReaderFromGroupW, 31, LPCWSTR)
LONG WINAPI SCardLocateCardsA(SCARDCONTEXT c, LPCSTR cards, LPSCARD_READERSTATEA st, DWORD n) {
    return api()->locate(false, uint32_t(c), cards, reinterpret_cast<DiSCardReaderState*>(st), n);
}
LONG WINAPI SCardLocateCardsW(SCARDCONTEXT c, LPCWSTR cards, LPSCARD_READERSTATEW st, DWORD n) {
    return api()->locate(true, uint32_t(c), cards, reinterpret_cast<DiSCardReaderState*>(st), n);
}
LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT c, DWORD t, LPSCARD_READERSTATEA st, DWORD n) {
    return api()->getStatusChange(false, uint32_t(c), t, reinterpret_cast<DiSCardReaderState*>(st),
                                  n);
}
LONG WINAPI SCardGetStatusChangeW(SCARDCONTEXT c, DWORD t, LPSCARD_READERSTATEW st, DWORD n) {
    return api()->getStatusChange(true, uint32_t(c), t, reinterpret_cast<DiSCardReaderState*>(st),
                                  n);
}
LONG WINAPI SCardCancel(SCARDCONTEXT c) {
    return api()->cancel(uint32_t(c));
}
static LONG connect(bool wide, SCARDCONTEXT c, const void* r, DWORD share, DWORD p, LPSCARDHANDLE h,
                    LPDWORD active) {
    uint32_t card = 0, a = 0;
    LONG rc = api()->connect(wide, uint32_t(c), r, share, p, &card, &a);
    *h = card;
    *active = a;
    return rc;
}
LONG WINAPI SCardConnectA(SCARDCONTEXT c, LPCSTR r, DWORD s, DWORD p, LPSCARDHANDLE h, LPDWORD a) {
    return connect(false, c, r, s, p, h, a);
}
LONG WINAPI SCardConnectW(SCARDCONTEXT c, LPCWSTR r, DWORD s, DWORD p, LPSCARDHANDLE h, LPDWORD a) {
    return connect(true, c, r, s, p, h, a);
}
LONG WINAPI SCardReconnect(SCARDHANDLE h, DWORD s, DWORD p, DWORD i, LPDWORD a) {
    uint32_t v = 0;
    return copyOut(api()->reconnect(uint32_t(h), s, p, i, &v), &v, a);
}
LONG WINAPI SCardDisconnect(SCARDHANDLE h, DWORD d) {
    return api()->disconnect(uint32_t(h), d);
}
LONG WINAPI SCardBeginTransaction(SCARDHANDLE h) {
    return api()->beginTransaction(uint32_t(h));
}
LONG WINAPI SCardEndTransaction(SCARDHANDLE h, DWORD d) {
    return api()->endTransaction(uint32_t(h), d);
}
static LONG status(bool wide, SCARDHANDLE h, void* names, LPDWORD n, LPDWORD st, LPDWORD p,
                   LPBYTE atr, LPDWORD atrLen) {
    uint32_t cn = *n, s = 0, pr = 0, al = *atrLen;
    LONG rc = api()->status(wide, uint32_t(h), names, &cn, &s, &pr, atr, &al);
    *n = cn, *st = s, *p = pr, *atrLen = al;
    return rc;
}
LONG WINAPI SCardStatusA(SCARDHANDLE h, LPSTR names, LPDWORD n, LPDWORD s, LPDWORD p, LPBYTE atr,
                         LPDWORD al) {
    return status(false, h, names, n, s, p, atr, al);
}
LONG WINAPI SCardStatusW(SCARDHANDLE h, LPWSTR names, LPDWORD n, LPDWORD s, LPDWORD p, LPBYTE atr,
                         LPDWORD al) {
    return status(true, h, names, n, s, p, atr, al);
}
LONG WINAPI SCardTransmit(SCARDHANDLE h, LPCSCARD_IO_REQUEST sendPci, LPCBYTE send, DWORD sendLen,
                          LPSCARD_IO_REQUEST recvPci, LPBYTE recv, LPDWORD recvLen) {
    uint32_t n = *recvLen;
    return copyOut(api()->transmit(uint32_t(h), sendPci, send, sendLen, recvPci, recv, &n), &n,
                   recvLen);
}
LONG WINAPI SCardControl(SCARDHANDLE h, DWORD code, LPCVOID in, DWORD inLen, LPVOID out,
                         DWORD outLen, LPDWORD returned) {
    uint32_t n = 0;
    return copyOut(api()->control(uint32_t(h), code, in, inLen, out, outLen, &n), &n, returned);
}
LONG WINAPI SCardGetAttrib(SCARDHANDLE h, DWORD id, LPBYTE buf, LPDWORD len) {
    uint32_t n = *len;
    return copyOut(api()->getAttrib(uint32_t(h), id, buf, &n), &n, len);
}
LONG WINAPI SCardSetAttrib(SCARDHANDLE h, DWORD id, LPCBYTE buf, DWORD len) {
    return api()->setAttrib(uint32_t(h), id, buf, len);
}
LONG WINAPI SCardFreeMemory(SCARDCONTEXT c, LPCVOID mem) {
    return api()->freeMemory(uint32_t(c), mem);
}

#ifndef HV_STANDIN_MINIMAL
LONG WINAPI SCardIsValidContext(SCARDCONTEXT c) {
    return api()->isValid(uint32_t(c));
}
LONG WINAPI SCardLocateCardsByATRA(SCARDCONTEXT c, LPSCARD_ATRMASK m, DWORD nm,
                                   LPSCARD_READERSTATEA st, DWORD n) {
    return api()->locateByAtr(false, uint32_t(c), reinterpret_cast<DiSCardAtrMask*>(m), nm,
                              reinterpret_cast<DiSCardReaderState*>(st), n);
}
LONG WINAPI SCardLocateCardsByATRW(SCARDCONTEXT c, LPSCARD_ATRMASK m, DWORD nm,
                                   LPSCARD_READERSTATEW st, DWORD n) {
    return api()->locateByAtr(true, uint32_t(c), reinterpret_cast<DiSCardAtrMask*>(m), nm,
                              reinterpret_cast<DiSCardReaderState*>(st), n);
}
HANDLE WINAPI SCardAccessStartedEvent(void) {
    fakePcscLog("SCardAccessStartedEvent");
    if (!s_started) s_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return s_started;
}
void WINAPI SCardReleaseStartedEvent(void) {
    fakePcscLog("SCardReleaseStartedEvent");
}
#endif
