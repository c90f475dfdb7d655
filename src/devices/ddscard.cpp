/* The PC/SC service for the smart-card class: winscard through the
 * function table of discard.h, its five optional entry points, the
 * emulation of the service's start event, and the reader probe of the
 * authentication dialog. */
#include "devices/ddscard.h"

#include "core/diapp.h"
#include "devices/discard.h"

#include <winscard.h>

#include <stdlib.h>

static_assert(sizeof(SCARD_READERSTATEA) == sizeof(DiSCardReaderState), "reader state");
static_assert(sizeof(SCARD_ATRMASK) == sizeof(DiSCardAtrMask), "ATR mask");

/* The optional entry points, looked up in the loaded library. */
struct DdSCardEntries {
    HMODULE module;
    LONG(WINAPI* isValidContext)(SCARDCONTEXT);
    LONG(WINAPI* locateByAtrA)(SCARDCONTEXT, LPSCARD_ATRMASK, DWORD, LPSCARD_READERSTATEA, DWORD);
    LONG(WINAPI* locateByAtrW)(SCARDCONTEXT, LPSCARD_ATRMASK, DWORD, LPSCARD_READERSTATEW, DWORD);
    HANDLE(WINAPI* accessStartedEvent)(void);
    void(WINAPI* releaseStartedEvent)(void);
};

struct DdSCardStartEvent {
    HANDLE started;
    HANDLE stop; /* manual reset */
    CRITICAL_SECTION lock;
    HANDLE idle; /* manual reset, signalled while nobody waits */
    uint32_t waiters;
    bool stopped; /* under the lock: no wait begins any more */
    /* Kept here: the record may outlive the entry table at shut-down. */
    void(WINAPI* releaseStartedEvent)(void);
};

namespace {

DdSCardEntries* entries() {
    return g_ddApp ? g_ddApp->scardEntries : nullptr;
}

int32_t establish(uint32_t scope, uint32_t* context) {
    SCARDCONTEXT c = 0;
    LONG rc = SCardEstablishContext(scope, nullptr, nullptr, &c);
    *context = uint32_t(c);
    return rc;
}

int32_t release(uint32_t context) {
    return SCardReleaseContext(context);
}

int32_t listGroups(bool wide, uint32_t context, void* buf, uint32_t* chars) {
    DWORD n = *chars;
    LONG rc = wide ? SCardListReaderGroupsW(context, static_cast<LPWSTR>(buf), &n)
                   : SCardListReaderGroupsA(context, static_cast<LPSTR>(buf), &n);
    *chars = n;
    return rc;
}

int32_t listReaders(bool wide, uint32_t context, const void* groups, void* buf, uint32_t* chars) {
    DWORD n = *chars;
    LONG rc =
        wide
            ? SCardListReadersW(context, static_cast<LPCWSTR>(groups), static_cast<LPWSTR>(buf), &n)
            : SCardListReadersA(context, static_cast<LPCSTR>(groups), static_cast<LPSTR>(buf), &n);
    *chars = n;
    return rc;
}

int32_t admin(uint32_t function, uint32_t context, const void* first, const void* second) {
    LPCSTR a1 = static_cast<LPCSTR>(first), a2 = static_cast<LPCSTR>(second);
    LPCWSTR w1 = static_cast<LPCWSTR>(first), w2 = static_cast<LPCWSTR>(second);
    switch (function) {
    case 20:
        return SCardIntroduceReaderGroupA(context, a1);
    case 21:
        return SCardIntroduceReaderGroupW(context, w1);
    case 22:
        return SCardForgetReaderGroupA(context, a1);
    case 23:
        return SCardForgetReaderGroupW(context, w1);
    case 24:
        return SCardIntroduceReaderA(context, a1, a2);
    case 25:
        return SCardIntroduceReaderW(context, w1, w2);
    case 26:
        return SCardForgetReaderA(context, a1);
    case 27:
        return SCardForgetReaderW(context, w1);
    case 28:
        return SCardAddReaderToGroupA(context, a1, a2);
    case 29:
        return SCardAddReaderToGroupW(context, w1, w2);
    case 30:
        return SCardRemoveReaderFromGroupA(context, a1, a2);
    case 31:
        return SCardRemoveReaderFromGroupW(context, w1, w2);
    default:
        return LONG(DI_SCARD_F_INTERNAL_ERROR);
    }
}

int32_t locate(bool wide, uint32_t context, const void* cards, DiSCardReaderState* states,
               uint32_t count) {
    return wide ? SCardLocateCardsW(context, static_cast<LPCWSTR>(cards),
                                    reinterpret_cast<LPSCARD_READERSTATEW>(states), count)
                : SCardLocateCardsA(context, static_cast<LPCSTR>(cards),
                                    reinterpret_cast<LPSCARD_READERSTATEA>(states), count);
}

int32_t getStatusChange(bool wide, uint32_t context, uint32_t timeout, DiSCardReaderState* states,
                        uint32_t count) {
    return wide ? SCardGetStatusChangeW(context, timeout,
                                        reinterpret_cast<LPSCARD_READERSTATEW>(states), count)
                : SCardGetStatusChangeA(context, timeout,
                                        reinterpret_cast<LPSCARD_READERSTATEA>(states), count);
}

int32_t cancel(uint32_t context) {
    return SCardCancel(context);
}

int32_t connect(bool wide, uint32_t context, const void* reader, uint32_t share, uint32_t protocols,
                uint32_t* card, uint32_t* active) {
    SCARDHANDLE h = 0;
    DWORD p = 0;
    LONG rc = wide ? SCardConnectW(context, static_cast<LPCWSTR>(reader), share, protocols, &h, &p)
                   : SCardConnectA(context, static_cast<LPCSTR>(reader), share, protocols, &h, &p);
    *card = uint32_t(h);
    *active = p;
    return rc;
}

int32_t reconnect(uint32_t card, uint32_t share, uint32_t protocols, uint32_t init,
                  uint32_t* active) {
    DWORD p = 0;
    LONG rc = SCardReconnect(card, share, protocols, init, &p);
    *active = p;
    return rc;
}

int32_t disconnect(uint32_t card, uint32_t disposition) {
    return SCardDisconnect(card, disposition);
}

int32_t beginTransaction(uint32_t card) {
    return SCardBeginTransaction(card);
}

int32_t endTransaction(uint32_t card, uint32_t disposition) {
    return SCardEndTransaction(card, disposition);
}

int32_t status(bool wide, uint32_t card, void* names, uint32_t* chars, uint32_t* state,
               uint32_t* protocol, uint8_t* atr, uint32_t* atrLen) {
    DWORD n = *chars, st = 0, p = 0, a = *atrLen;
    LONG rc = wide ? SCardStatusW(card, static_cast<LPWSTR>(names), &n, &st, &p, atr, &a)
                   : SCardStatusA(card, static_cast<LPSTR>(names), &n, &st, &p, atr, &a);
    *chars = n;
    *state = st;
    *protocol = p;
    *atrLen = a;
    return rc;
}

int32_t transmit(uint32_t card, const void* sendPci, const uint8_t* send, uint32_t sendLen,
                 void* recvPci, uint8_t* recv, uint32_t* recvLen) {
    DWORD n = *recvLen;
    LONG rc = SCardTransmit(card, static_cast<LPCSCARD_IO_REQUEST>(sendPci), send, sendLen,
                            static_cast<LPSCARD_IO_REQUEST>(recvPci), recv, &n);
    *recvLen = n;
    return rc;
}

int32_t control(uint32_t card, uint32_t code, const void* in, uint32_t inLen, void* out,
                uint32_t outLen, uint32_t* returned) {
    DWORD n = 0;
    LONG rc = SCardControl(card, code, in, inLen, out, outLen, &n);
    *returned = n;
    return rc;
}

int32_t getAttrib(uint32_t card, uint32_t id, void* buf, uint32_t* len) {
    DWORD n = *len;
    LONG rc = SCardGetAttrib(card, id, static_cast<LPBYTE>(buf), &n);
    *len = n;
    return rc;
}

int32_t setAttrib(uint32_t card, uint32_t id, const void* buf, uint32_t len) {
    return SCardSetAttrib(card, id, static_cast<LPCBYTE>(buf), len);
}

int32_t freeMemory(uint32_t context, const void* mem) {
    return SCardFreeMemory(context, mem);
}

void* startEventCreate() {
    return ddSCardStartEventCreate();
}
void startEventWait(void* r) {
    ddSCardStartEventWait(static_cast<DdSCardStartEvent*>(r));
}
void startEventStop(void* r) {
    ddSCardStartEventStop(static_cast<DdSCardStartEvent*>(r));
}
void startEventDestroy(void* r) {
    ddSCardStartEventDestroy(static_cast<DdSCardStartEvent*>(r));
}

const DiSCardApi kApi = {
    establish,
    release,
    ddSCardIsValidContext,
    listGroups,
    listReaders,
    admin,
    locate,
    ddSCardLocateByAtr,
    getStatusChange,
    cancel,
    connect,
    reconnect,
    disconnect,
    beginTransaction,
    endTransaction,
    status,
    transmit,
    control,
    getAttrib,
    setAttrib,
    freeMemory,
    startEventCreate,
    startEventWait,
    startEventStop,
    startEventDestroy,
};

} // namespace

int ddSCardLoad(void) {
    if (!g_ddApp) return 0;
    if (g_ddApp->scardEntries) return 1;
    /* The library is imported: it is loaded whenever this program runs. */
    HMODULE module = GetModuleHandleW(L"winscard.dll");
    if (!module) return 0;
    DdSCardEntries* e = static_cast<DdSCardEntries*>(calloc(1, sizeof(DdSCardEntries)));
    if (!e) return 0;
    e->module = module;
    e->isValidContext = reinterpret_cast<decltype(e->isValidContext)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SCardIsValidContext")));
    e->locateByAtrA = reinterpret_cast<decltype(e->locateByAtrA)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SCardLocateCardsByATRA")));
    e->locateByAtrW = reinterpret_cast<decltype(e->locateByAtrW)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SCardLocateCardsByATRW")));
    e->accessStartedEvent = reinterpret_cast<decltype(e->accessStartedEvent)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SCardAccessStartedEvent")));
    e->releaseStartedEvent = reinterpret_cast<decltype(e->releaseStartedEvent)>(
        reinterpret_cast<void*>(GetProcAddress(module, "SCardReleaseStartedEvent")));
    g_ddApp->scardEntries = e;
    g_diSCardApi = &kApi;
    return 1;
}

bool ddSCardIsAvailable(void) {
    return ddSCardLoad() != 0;
}

void ddSCardUnload(void) {
    if (!g_ddApp || !g_ddApp->scardEntries) return;
    g_diSCardApi = nullptr;
    free(g_ddApp->scardEntries);
    g_ddApp->scardEntries = nullptr;
}

int ddSCardReadersPresent(void) {
    if (!ddSCardIsAvailable()) return 0;
    static const DWORD kScopes[] = {SCARD_SCOPE_USER, SCARD_SCOPE_SYSTEM};
    for (DWORD scope : kScopes) {
        SCARDCONTEXT c = 0;
        if (SCardEstablishContext(scope, nullptr, nullptr, &c) != SCARD_S_SUCCESS) continue;
        DWORD n = 0;
        /* An empty list is one or two NULs: a name needs three characters. */
        bool present = SCardListReadersA(c, nullptr, nullptr, &n) == SCARD_S_SUCCESS && n >= 3;
        SCardReleaseContext(c);
        if (present) return 1;
    }
    return 0;
}

int32_t ddSCardIsValidContext(uint32_t context) {
    DdSCardEntries* e = entries();
    if (!e || !e->isValidContext) return int32_t(DI_SCARD_F_INTERNAL_ERROR);
    return e->isValidContext(context);
}

int32_t ddSCardLocateByAtr(bool wide, uint32_t context, const DiSCardAtrMask* masks,
                           uint32_t maskCount, DiSCardReaderState* states, uint32_t count) {
    DdSCardEntries* e = entries();
    LPSCARD_ATRMASK m = reinterpret_cast<LPSCARD_ATRMASK>(const_cast<DiSCardAtrMask*>(masks));
    if (e && wide && e->locateByAtrW)
        return e->locateByAtrW(context, m, maskCount,
                               reinterpret_cast<LPSCARD_READERSTATEW>(states), count);
    if (e && !wide && e->locateByAtrA)
        return e->locateByAtrA(context, m, maskCount,
                               reinterpret_cast<LPSCARD_READERSTATEA>(states), count);
    return int32_t(DI_SCARD_F_INTERNAL_ERROR);
}

DdSCardStartEvent* ddSCardStartEventCreate(void) {
    DdSCardEntries* e = entries();
    if (!e || !e->accessStartedEvent || !e->releaseStartedEvent) return nullptr;
    DdSCardStartEvent* r = static_cast<DdSCardStartEvent*>(calloc(1, sizeof(DdSCardStartEvent)));
    if (!r) return nullptr;
    r->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    r->idle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    r->started = r->stop && r->idle ? e->accessStartedEvent() : nullptr;
    if (!r->started) {
        if (r->stop) CloseHandle(r->stop);
        if (r->idle) CloseHandle(r->idle);
        free(r);
        return nullptr;
    }
    InitializeCriticalSection(&r->lock);
    r->releaseStartedEvent = e->releaseStartedEvent;
    return r;
}

void ddSCardStartEventWait(DdSCardStartEvent* r) {
    EnterCriticalSection(&r->lock);
    if (r->stopped) { /* the service's event may be released already */
        LeaveCriticalSection(&r->lock);
        return;
    }
    if (r->waiters++ == 0) ResetEvent(r->idle);
    LeaveCriticalSection(&r->lock);
    HANDLE events[2] = {r->stop, r->started};
    WaitForMultipleObjects(2, events, FALSE, INFINITE);
    EnterCriticalSection(&r->lock);
    if (--r->waiters == 0) SetEvent(r->idle);
    LeaveCriticalSection(&r->lock);
}

void ddSCardStartEventStop(DdSCardStartEvent* r) {
    /* A wait that starts later returns at once; the ones under way end. */
    EnterCriticalSection(&r->lock);
    bool first = !r->stopped;
    r->stopped = true;
    LeaveCriticalSection(&r->lock);
    if (!first) return;
    SignalObjectAndWait(r->stop, r->idle, INFINITE, FALSE);
    /* Nobody waits on the service's event now, and nobody will: it is
     * released before the session's cards and contexts, as the service
     * expects; the record's own events stay until the last request. */
    r->releaseStartedEvent();
}

void ddSCardStartEventDestroy(DdSCardStartEvent* r) {
    ddSCardStartEventStop(r);
    EnterCriticalSection(&r->lock);
    CloseHandle(r->idle);
    LeaveCriticalSection(&r->lock);
    DeleteCriticalSection(&r->lock);
    CloseHandle(r->stop);
    free(r);
}
