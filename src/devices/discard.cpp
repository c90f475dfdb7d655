/* Smart-card device class (see discard.h). */
#include "devices/discard.h"

#include "core/dilog.h"

#include <new>
#include <stdlib.h>
#include <string.h>

const DiSCardApi* g_diSCardApi;

namespace {

const uint32_t BAD = DI_STATUS_INVALID_PARAMETER_SC;
const uint32_t kReaderStateWire = 52; /* referent, three u32 and the 36-byte ATR */
const uint32_t kAtrMaskWire = 76;

/* Decoding. */

uint32_t get32(DiSCardStream* s) {
    if (s->status || s->end - s->position < 4) {
        s->status = BAD;
        return 0;
    }
    const uint8_t* p = s->position;
    s->position += 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t getPtr(DiSCardStream* s) {
    uint32_t r = get32(s);
    if (r) s->referent = r;
    return r;
}

void align4(DiSCardStream* s) {
    size_t pad = (4 - size_t(s->position - s->data) % 4) % 4;
    if (s->status) return;
    if (size_t(s->end - s->position) < pad) {
        s->status = BAD;
        return;
    }
    s->position += pad;
}

size_t remaining(const DiSCardStream* s) {
    return s->status ? 0 : size_t(s->end - s->position);
}

/* Decoded copies belong to one call and go with it. */
struct Owned {
    void* items[32] = {};
    int count = 0;
    ~Owned() {
        for (int i = 0; i < count; i++)
            free(items[i]);
    }
    void* alloc(size_t n) {
        if (count == 32) return nullptr;
        void* p = malloc(n ? n : 1);
        if (p) items[count++] = p;
        return p;
    }
};

/* A deferred conformant byte array of `expected` bytes (the call's own size
 * field: an array that disagrees with it would let the service read or write
 * past the copy). */
uint8_t* getArray(DiSCardStream* s, Owned* own, uint32_t expected) {
    align4(s);
    uint32_t n = get32(s);
    if (s->status) return nullptr;
    if (n != expected || n > remaining(s)) {
        s->status = BAD;
        return nullptr;
    }
    uint8_t* copy = static_cast<uint8_t*>(own->alloc(n));
    if (!copy) {
        s->status = DI_STATUS_NO_MEMORY;
        return nullptr;
    }
    memcpy(copy, s->position, n);
    s->position += n;
    return copy;
}

/* A NUL-terminated conformant varying string of 1- or 2-byte units. */
void* getString(DiSCardStream* s, Owned* own, bool wide) {
    align4(s);
    get32(s); /* maximum count */
    get32(s); /* offset */
    uint32_t n = get32(s);
    uint64_t bytes = uint64_t(n) * (wide ? 2 : 1);
    if (s->status) return nullptr;
    if (n == 0 || bytes > remaining(s)) {
        s->status = BAD;
        return nullptr;
    }
    const uint8_t* last = s->position + bytes - (wide ? 2 : 1);
    if (last[0] || (wide && last[1])) {
        s->status = BAD;
        return nullptr;
    }
    void* copy = own->alloc(size_t(bytes));
    if (!copy) {
        s->status = DI_STATUS_NO_MEMORY;
        return nullptr;
    }
    memcpy(copy, s->position, size_t(bytes));
    s->position += bytes;
    return copy;
}

/* A multi-string of `bytes` bytes ending in two NUL characters. */
uint8_t* getMultiString(DiSCardStream* s, Owned* own, uint32_t bytes, bool wide) {
    uint8_t* p = getArray(s, own, bytes);
    if (!p) return nullptr;
    uint32_t unit = wide ? 2 : 1;
    if (bytes < 2 * unit || bytes % unit) {
        s->status = BAD;
        return nullptr;
    }
    for (uint32_t i = bytes - 2 * unit; i < bytes; i++)
        if (p[i]) {
            s->status = BAD;
            return nullptr;
        }
    return p;
}

struct Context {
    uint32_t referent, value;
};

void getContextHead(DiSCardStream* s, Context* c) {
    uint32_t len = get32(s);
    c->referent = getPtr(s);
    if (!s->status && (len != 4 || !c->referent)) s->status = BAD;
}

uint32_t getHandleBytes(DiSCardStream* s) {
    align4(s);
    if (get32(s) != 4 && !s->status) s->status = BAD;
    uint32_t v = get32(s);
    return v;
}

struct Card {
    uint32_t context, handle;
};

void getCardHead(DiSCardStream* s) {
    get32(s);
    uint32_t a = getPtr(s);
    get32(s);
    uint32_t b = getPtr(s);
    if (!s->status && (!a || !b)) s->status = BAD;
}

void getCardBytes(DiSCardStream* s, Card* c) {
    c->context = getHandleBytes(s);
    c->handle = getHandleBytes(s);
}

const char kEmptyName[2] = {0, 0};

/* Reader states: `count` is the call's cReaders; the array must hold as
 * many, at most `max`, and fit in the input before anything is allocated. */
DiSCardReaderState* getReaderStates(DiSCardStream* s, Owned* own, uint32_t count, uint32_t max,
                                    bool wide) {
    align4(s);
    uint32_t n = get32(s);
    if (s->status) return nullptr;
    if (n != count || n > max || uint64_t(n) * kReaderStateWire > remaining(s)) {
        s->status = BAD;
        return nullptr;
    }
    DiSCardReaderState* st = static_cast<DiSCardReaderState*>(own->alloc(n * sizeof(*st)));
    if (!st) {
        s->status = BAD;
        return nullptr;
    }
    memset(st, 0, n * sizeof(*st));
    bool named[16] = {};
    for (uint32_t i = 0; i < n; i++) {
        named[i] = get32(s) != 0;
        st[i].currentState = get32(s);
        st[i].eventState = get32(s);
        st[i].cbAtr = get32(s);
        if (st[i].cbAtr > 36) s->status = BAD;
        if (s->status) return nullptr;
        memcpy(st[i].atr, s->position, 36);
        s->position += 36;
        /* The service dereferences every name: an absent one is empty. */
        st[i].reader = kEmptyName;
    }
    for (uint32_t i = 0; i < n; i++)
        if (named[i] && !(st[i].reader = getString(s, own, wide))) return nullptr;
    return st;
}

/* Encoding. */

void put32(DiSCardStream* s, uint32_t v) {
    if (s->status || s->end - s->position < 4) {
        s->status = BAD;
        return;
    }
    diIOPut32(s->position, v);
    s->position += 4;
}

void putPtr(DiSCardStream* s, bool present) {
    if (!present) return put32(s, 0);
    put32(s, s->referent);
    s->referent += 4;
}

void putBytes(DiSCardStream* s, const void* p, uint32_t n) {
    if (s->status || size_t(s->end - s->position) < n) {
        s->status = BAD;
        return;
    }
    if (n) memcpy(s->position, p, n);
    s->position += n;
}

void putArray(DiSCardStream* s, const void* p, uint32_t n) {
    align4(s);
    put32(s, n);
    putBytes(s, p, n);
}

} // namespace

uint32_t diSCardDecodeOpen(DiSCardStream* s, const uint8_t* buf, uint32_t len) {
    memset(s, 0, sizeof(*s));
    if (!buf || len < 16) return s->status = DI_STATUS_BUFFER_TOO_SMALL;
    s->start = const_cast<uint8_t*>(buf);
    s->data = s->start + 16;
    s->end = s->start + len;
    s->position = s->data;
    uint32_t object = uint32_t(buf[8]) | uint32_t(buf[9]) << 8 | uint32_t(buf[10]) << 16 |
                      uint32_t(buf[11]) << 24;
    if (object > len - 16) return s->status = DI_STATUS_BUFFER_TOO_SMALL;
    return 0;
}

uint32_t diSCardEncodeOpen(DiSCardStream* s, uint8_t* buf, uint32_t len) {
    memset(s, 0, sizeof(*s));
    if (!buf || len < 16) return s->status = DI_STATUS_BUFFER_TOO_SMALL;
    s->start = buf;
    s->data = buf + 16;
    s->end = buf + len;
    s->position = s->data;
    s->referent = 0x00020000;
    memset(s->data, 0, len - 16);
    return 0;
}

uint32_t diSCardEncodeFinish(DiSCardStream* s, uint32_t* total) {
    *total = 0;
    size_t size = size_t(s->position - s->data);
    size_t rounded = (size + 7) & ~size_t(7);
    if (!s->status && size_t(s->end - s->data) < rounded) s->status = BAD;
    if (s->status) return s->status;
    static const uint8_t kHeader[8] = {0x01, 0x10, 0x08, 0x00, 0xCC, 0xCC, 0xCC, 0xCC};
    memcpy(s->start, kHeader, 8);
    diIOPut32(s->start + 8, uint32_t(rounded));
    diIOPut32(s->start + 12, 0);
    *total = uint32_t(16 + rounded);
    return 0;
}

/* Sessions. */

namespace {

bool listHas(const uint32_t* list, uint32_t count, uint32_t v) {
    for (uint32_t i = 0; i < count; i++)
        if (list[i] == v) return true;
    return false;
}

void listAdd(uint32_t** list, uint32_t* count, uint32_t* capacity, uint32_t v) {
    if (*count == *capacity) {
        uint32_t* grown = static_cast<uint32_t*>(malloc((size_t(*capacity) + 64) * 4));
        if (!grown) return;
        if (*count) memcpy(grown, *list, size_t(*count) * 4);
        free(*list);
        *list = grown;
        *capacity += 64;
    }
    (*list)[(*count)++] = v;
}

void listRemove(uint32_t* list, uint32_t* count, uint32_t v) {
    for (uint32_t i = 0; i < *count; i++)
        if (list[i] == v) {
            list[i] = list[--*count];
            return;
        }
}

void sessionRelease(DiSCardSession* s) {
    if (--s->refs) return;
    /* Without the service (shut down first) the record is left, not freed
     * through a missing table. */
    if (s->startEvent && g_diSCardApi) g_diSCardApi->startEventDestroy(s->startEvent);
    free(s->contexts);
    free(s->cards);
    delete s;
}

bool hasContext(DiSCardSession* s, uint32_t context) {
    std::lock_guard<DiMutex> g(s->lock);
    return listHas(s->contexts, s->contextCount, context);
}

bool hasCard(DiSCardSession* s, uint32_t card) {
    std::lock_guard<DiMutex> g(s->lock);
    return listHas(s->cards, s->cardCount, card);
}

void forgetCard(DiSCardSession* s, uint32_t card) {
    std::lock_guard<DiMutex> g(s->lock);
    listRemove(s->cards, &s->cardCount, card);
}

/* One request's decode, call and reply. */
struct Call {
    DiDeviceRequest* req;
    DiSCardSession* ses;
    uint32_t fn;
    bool wide; /* the UTF-16 form */
    DiSCardStream in;
    Owned own;
    const DiSCardApi* api;
};

void fail(Call& c, uint32_t status) {
    c.req->Returned = 0;
    diDeviceComplete(c.req, status);
}

/* Encodes ReturnCode and what `body` writes (told whether the call failed,
 * so variable-length results are left empty) and completes the request. */
template <class F> void reply(Call& c, int32_t rc, F&& body) {
    DiSCardStream o;
    uint32_t total = 0;
    uint32_t st = diSCardEncodeOpen(&o, c.req->OutputBuffer, c.req->OutputBufferLength);
    if (!st) {
        put32(&o, uint32_t(rc));
        body(&o, rc < 0);
        st = diSCardEncodeFinish(&o, &total);
    }
    c.req->Returned = st ? 0 : total;
    diDeviceComplete(c.req, st);
}

void replyLong(Call& c, int32_t rc) {
    reply(c, rc, [](DiSCardStream*, bool) {});
}

const int32_t kInvalidHandle = int32_t(DI_SCARD_E_INVALID_HANDLE);
const int32_t kInternal = int32_t(DI_SCARD_F_INTERNAL_ERROR);
const int32_t kBusy = int32_t(DI_SCARD_E_SERVER_TOO_BUSY);

/* The service as a call refused for want of a worker sees it: every call
 * that runs on a worker answers busy at once, so that the reply has the
 * shape of its call's failure. */
const DiSCardApi kBusyApi = [] {
    DiSCardApi a = {};
    a.getStatusChange = [](bool, uint32_t, uint32_t, DiSCardReaderState*, uint32_t) {
        return kBusy;
    };
    a.cancel = [](uint32_t) { return kBusy; };
    a.connect = [](bool, uint32_t, const void*, uint32_t, uint32_t, uint32_t*, uint32_t*) {
        return kBusy;
    };
    a.reconnect = [](uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*) { return kBusy; };
    a.disconnect = [](uint32_t, uint32_t) { return kBusy; };
    a.beginTransaction = [](uint32_t) { return kBusy; };
    a.endTransaction = [](uint32_t, uint32_t) { return kBusy; };
    a.status = [](bool, uint32_t, void*, uint32_t*, uint32_t*, uint32_t*, uint8_t*, uint32_t*) {
        return kBusy;
    };
    a.transmit = [](uint32_t, const void*, const uint8_t*, uint32_t, void*, uint8_t*, uint32_t*) {
        return kBusy;
    };
    a.control = [](uint32_t, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
        return kBusy;
    };
    a.getAttrib = [](uint32_t, uint32_t, void*, uint32_t*) { return kBusy; };
    a.setAttrib = [](uint32_t, uint32_t, const void*, uint32_t) { return kBusy; };
    return a;
}();

/* A refused call leaves the session's cards as they were. */
bool refused(const Call& c) {
    return c.api == &kBusyApi;
}

/* A result buffer the server sized: never more than the reply could carry. */
uint32_t capToOutput(const Call& c, uint32_t n) {
    return n < c.req->OutputBufferLength ? n : c.req->OutputBufferLength;
}

/* Decodes a Context_Call-shaped head; the bytes follow later. */
bool decodeContextOnly(Call& c, uint32_t* context) {
    Context h;
    getContextHead(&c.in, &h);
    *context = getHandleBytes(&c.in);
    if (c.in.status) fail(c, c.in.status);
    return !c.in.status;
}

bool decodeCardOnly(Call& c, Card* card) {
    getCardBytes(&c.in, card);
    if (c.in.status) fail(c, c.in.status);
    return !c.in.status;
}

/* Handlers. */

void onEstablish(Call& c) {
    uint32_t scope = get32(&c.in);
    if (c.in.status) return fail(c, c.in.status);
    uint32_t ctx = 0;
    int32_t rc = c.api->establish(scope, &ctx);
    if (rc >= 0) {
        std::lock_guard<DiMutex> g(c.ses->lock);
        listAdd(&c.ses->contexts, &c.ses->contextCount, &c.ses->contextCapacity, ctx);
    }
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        put32(o, failed ? 0 : 4);
        putPtr(o, !failed);
        if (!failed) putArray(o, &ctx, 4);
    });
}

void onContextCall(Call& c) {
    uint32_t ctx;
    if (!decodeContextOnly(c, &ctx)) return;
    int32_t rc;
    if (c.fn == 6) {
        std::unique_lock<DiMutex> g(c.ses->lock);
        listRemove(c.ses->contexts, &c.ses->contextCount, ctx);
        g.unlock();
        rc = c.api->release(ctx);
    } else if (!hasContext(c.ses, ctx)) {
        rc = kInvalidHandle;
    } else if (c.fn == 7) {
        rc = c.api->isValid ? c.api->isValid(ctx) : kInternal;
    } else {
        rc = c.api->cancel(ctx);
    }
    replyLong(c, rc);
}

/* A list result: the service's own allocation, a buffer of the server's
 * size, or a size query. Counts are characters; W replies count bytes. */
struct ListResult {
    void* buf = nullptr;
    void* autoList = nullptr;
    uint32_t chars = 0;
    uint32_t capacity = 0; /* characters at buf */
    bool query = false;
    bool autoAlloc = false;
};

bool prepareList(Call& c, ListResult* r, int32_t isNull, uint32_t count) {
    uint32_t unit = c.wide ? 2 : 1;
    r->query = isNull != 0;
    if (r->query) return true;
    if (count == DI_SCARD_AUTOALLOCATE) {
        r->autoAlloc = true;
        r->chars = count;
        r->buf = &r->autoList;
        return true;
    }
    r->chars = r->capacity = capToOutput(c, c.wide ? count / 2 : count);
    r->buf = c.own.alloc(size_t(r->chars) * unit);
    if (!r->buf) fail(c, DI_STATUS_NO_MEMORY);
    return r->buf != nullptr;
}

void replyList(Call& c, int32_t rc, ListResult* r, uint32_t context) {
    uint32_t unit = c.wide ? 2 : 1;
    const void* list = r->autoAlloc ? r->autoList : r->buf;
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        uint64_t bytes = failed ? 0 : uint64_t(r->chars) * unit;
        bool carried = !failed && !r->query && list;
        /* A length past our own buffer is never copied from it. */
        if (bytes > 0xFFFFFFFFu || (carried && !r->autoAlloc && r->chars > r->capacity))
            o->status = BAD;
        put32(o, uint32_t(bytes));
        putPtr(o, carried);
        if (carried) putArray(o, list, uint32_t(bytes));
    });
    if (r->autoAlloc && r->autoList) c.api->freeMemory(context, r->autoList);
}

void onListGroups(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    int32_t isNull = int32_t(get32(&c.in));
    uint32_t count = get32(&c.in);
    uint32_t ctx = getHandleBytes(&c.in);
    if (c.in.status) return fail(c, c.in.status);
    ListResult r;
    if (!prepareList(c, &r, isNull, count)) return;
    int32_t rc =
        hasContext(c.ses, ctx) ? c.api->listGroups(c.wide, ctx, r.buf, &r.chars) : kInvalidHandle;
    replyList(c, rc, &r, ctx);
}

void onListReaders(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    uint32_t cBytes = get32(&c.in);
    uint32_t groupsRef = getPtr(&c.in);
    int32_t isNull = int32_t(get32(&c.in));
    uint32_t count = get32(&c.in);
    uint32_t ctx = getHandleBytes(&c.in);
    if (!c.in.status && cBytes > 65536) c.in.status = BAD;
    const void* groups = groupsRef ? getMultiString(&c.in, &c.own, cBytes, c.wide) : nullptr;
    if (c.in.status) return fail(c, c.in.status);
    ListResult r;
    if (!prepareList(c, &r, isNull, count)) return;
    int32_t rc = hasContext(c.ses, ctx) ? c.api->listReaders(c.wide, ctx, groups, r.buf, &r.chars)
                                        : kInvalidHandle;
    replyList(c, rc, &r, ctx);
}

void onAdmin(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    bool two = (c.fn >= 24 && c.fn <= 25) || c.fn >= 28;
    uint32_t ref1 = getPtr(&c.in);
    uint32_t ref2 = two ? getPtr(&c.in) : 0;
    uint32_t ctx = getHandleBytes(&c.in);
    const void* s1 = ref1 ? getString(&c.in, &c.own, c.wide) : nullptr;
    const void* s2 = ref2 ? getString(&c.in, &c.own, c.wide) : nullptr;
    if (c.in.status) return fail(c, c.in.status);
    int32_t rc = hasContext(c.ses, ctx) ? c.api->admin(c.fn, ctx, s1, s2) : kInvalidHandle;
    replyLong(c, rc);
}

void replyStates(Call& c, int32_t rc, const DiSCardReaderState* st, uint32_t n) {
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        uint32_t count = failed ? 0 : n;
        put32(o, count);
        putPtr(o, !failed);
        if (failed) return;
        align4(o);
        put32(o, count);
        for (uint32_t i = 0; i < count; i++) {
            put32(o, st[i].currentState);
            put32(o, st[i].eventState);
            put32(o, st[i].cbAtr > 36 ? 36 : st[i].cbAtr);
            putBytes(o, st[i].atr, 36);
        }
    });
}

void onLocate(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    uint32_t cBytes = get32(&c.in);
    uint32_t cardsRef = getPtr(&c.in);
    uint32_t cReaders = get32(&c.in);
    uint32_t statesRef = getPtr(&c.in);
    uint32_t ctx = getHandleBytes(&c.in);
    if (!c.in.status && cBytes > 65536) c.in.status = BAD;
    const void* cards = cardsRef ? getMultiString(&c.in, &c.own, cBytes, c.wide) : nullptr;
    DiSCardReaderState* st =
        statesRef ? getReaderStates(&c.in, &c.own, cReaders, 10, c.wide) : nullptr;
    if (!statesRef) cReaders = 0;
    if (c.in.status) return fail(c, c.in.status);
    int32_t rc =
        hasContext(c.ses, ctx) ? c.api->locate(c.wide, ctx, cards, st, cReaders) : kInvalidHandle;
    replyStates(c, rc, st, cReaders);
}

void onLocateByAtr(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    uint32_t cAtrs = get32(&c.in);
    uint32_t masksRef = getPtr(&c.in);
    uint32_t cReaders = get32(&c.in);
    uint32_t statesRef = getPtr(&c.in);
    uint32_t ctx = getHandleBytes(&c.in);
    DiSCardAtrMask* masks = nullptr;
    if (masksRef) {
        align4(&c.in);
        uint32_t n = get32(&c.in);
        if (!c.in.status &&
            (n != cAtrs || n > 1000 || uint64_t(n) * kAtrMaskWire > remaining(&c.in)))
            c.in.status = BAD;
        if (!c.in.status) {
            masks = static_cast<DiSCardAtrMask*>(c.own.alloc(n * sizeof(DiSCardAtrMask)));
            if (!masks) c.in.status = DI_STATUS_NO_MEMORY;
        }
        for (uint32_t i = 0; !c.in.status && i < n; i++) {
            masks[i].cbAtr = get32(&c.in);
            /* The service compares cbAtr bytes of the 36-byte fields. */
            if (masks[i].cbAtr > 36) c.in.status = BAD;
            if (c.in.status) break;
            memcpy(masks[i].atr, c.in.position, 36);
            memcpy(masks[i].mask, c.in.position + 36, 36);
            c.in.position += 72;
        }
    } else {
        cAtrs = 0;
    }
    DiSCardReaderState* st =
        statesRef ? getReaderStates(&c.in, &c.own, cReaders, 10, c.wide) : nullptr;
    if (!statesRef) cReaders = 0;
    if (c.in.status) return fail(c, c.in.status);
    int32_t rc;
    if (!hasContext(c.ses, ctx))
        rc = kInvalidHandle;
    else if (!c.api->locateByAtr)
        rc = kInternal;
    else
        rc = c.api->locateByAtr(c.wide, ctx, masks, cAtrs, st, cReaders);
    replyStates(c, rc, st, cReaders);
}

void onGetStatusChange(Call& c) {
    Context h;
    getContextHead(&c.in, &h);
    uint32_t timeout = get32(&c.in);
    uint32_t cReaders = get32(&c.in);
    uint32_t statesRef = getPtr(&c.in);
    uint32_t ctx = getHandleBytes(&c.in);
    DiSCardReaderState* st =
        statesRef ? getReaderStates(&c.in, &c.own, cReaders, 11, c.wide) : nullptr;
    if (!statesRef) cReaders = 0;
    if (c.in.status) return fail(c, c.in.status);
    int32_t rc = kInvalidHandle;
    std::unique_lock<DiMutex> g(c.ses->lock);
    if (listHas(c.ses->contexts, c.ses->contextCount, ctx)) {
        /* Counted from here, so that the session's end sees this call
         * before the call can reach the service. */
        c.ses->statusWaits++;
        g.unlock();
        rc = c.api->getStatusChange(c.wide, ctx, timeout, st, cReaders);
        g.lock();
        c.ses->statusWaits--;
        c.ses->waitsEnded.notifyAll();
    }
    g.unlock();
    replyStates(c, rc, st, cReaders);
}

/* A card handle's fixed part; its bytes follow with the deferred data. */
void putCard(DiSCardStream* o, bool present) {
    put32(o, present ? 4 : 0);
    putPtr(o, present);
    put32(o, present ? 4 : 0);
    putPtr(o, present);
}

void onConnect(Call& c) {
    uint32_t nameRef = getPtr(&c.in);
    Context h;
    getContextHead(&c.in, &h);
    uint32_t share = get32(&c.in);
    uint32_t protocols = get32(&c.in);
    const void* name = nameRef ? getString(&c.in, &c.own, c.wide) : nullptr;
    uint32_t ctx = getHandleBytes(&c.in);
    if (!c.in.status && !name) c.in.status = BAD;
    if (c.in.status) return fail(c, c.in.status);
    uint32_t card = 0, active = 0;
    int32_t rc = kInvalidHandle;
    if (hasContext(c.ses, ctx))
        rc = c.api->connect(c.wide, ctx, name, share, protocols, &card, &active);
    if (rc >= 0) {
        std::unique_lock<DiMutex> g(c.ses->lock);
        if (!c.ses->closed) {
            listAdd(&c.ses->cards, &c.ses->cardCount, &c.ses->cardCapacity, card);
        } else {
            /* The session ended while the card was being connected: nobody
             * could ever disconnect it. */
            g.unlock();
            c.api->disconnect(card, 0);
        }
    }
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        putCard(o, !failed);
        put32(o, active);
        if (failed) return;
        putArray(o, &ctx, 4);
        putArray(o, &card, 4);
    });
}

void onReconnect(Call& c) {
    getCardHead(&c.in);
    uint32_t share = get32(&c.in);
    uint32_t protocols = get32(&c.in);
    uint32_t init = get32(&c.in);
    Card card;
    if (!decodeCardOnly(c, &card)) return;
    uint32_t active = 0;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle)) {
        rc = c.api->reconnect(card.handle, share, protocols, init, &active);
        if (rc < 0 && !refused(c)) forgetCard(c.ses, card.handle);
    }
    reply(c, rc, [&](DiSCardStream* o, bool) { put32(o, active); });
}

void onCardAndDisposition(Call& c) {
    getCardHead(&c.in);
    uint32_t disposition = get32(&c.in);
    Card card;
    if (!decodeCardOnly(c, &card)) return;
    int32_t rc = kInvalidHandle;
    if (refused(c)) {
        rc = kBusy;
    } else if (c.fn == 46) {
        std::unique_lock<DiMutex> g(c.ses->lock);
        bool known = listHas(c.ses->cards, c.ses->cardCount, card.handle);
        listRemove(c.ses->cards, &c.ses->cardCount, card.handle);
        g.unlock();
        if (known) rc = c.api->disconnect(card.handle, disposition);
    } else if (hasCard(c.ses, card.handle)) {
        rc = c.fn == 47 ? c.api->beginTransaction(card.handle)
                        : c.api->endTransaction(card.handle, disposition);
    }
    replyLong(c, rc);
}

void onState(Call& c) {
    getCardHead(&c.in);
    int32_t atrIsNull = int32_t(get32(&c.in));
    uint32_t atrLen = get32(&c.in);
    Card card;
    if (!decodeCardOnly(c, &card)) return;
    char names[256];
    uint32_t chars = 256, state = 0, protocol = 0;
    uint8_t atr[36] = {};
    atrLen = atrLen < 36 ? atrLen : 36;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle))
        rc = c.api->status(false, card.handle, names, &chars, &state, &protocol,
                           atrIsNull ? nullptr : atr, &atrLen);
    if (atrLen > 36) atrLen = 36;
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        put32(o, state);
        put32(o, protocol);
        put32(o, failed ? 0 : atrLen);
        bool carried = !failed && !atrIsNull;
        putPtr(o, carried);
        if (carried) putArray(o, atr, atrLen);
    });
}

void onStatus(Call& c) {
    getCardHead(&c.in);
    int32_t namesIsNull = int32_t(get32(&c.in));
    uint32_t cch = get32(&c.in);
    uint32_t atrLen = get32(&c.in);
    Card card;
    if (!decodeCardOnly(c, &card)) return;
    if (c.wide && cch % 2) return fail(c, BAD);
    uint32_t unit = c.wide ? 2 : 1;
    uint32_t chars = 0;
    void* names = nullptr;
    if (!namesIsNull) {
        chars = capToOutput(c, c.wide ? cch / 2 : cch);
        if (!(names = c.own.alloc(size_t(chars) * unit))) return fail(c, DI_STATUS_NO_MEMORY);
    }
    uint32_t capacity = chars;
    uint32_t state = 0, protocol = 0;
    uint8_t atr[36] = {};
    atrLen = atrLen < 36 ? atrLen : 36;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle))
        rc = c.api->status(c.wide, card.handle, names, &chars, &state, &protocol, atr, &atrLen);
    /* The reply's ATR field holds 32 bytes whatever the service left. */
    if (atrLen > 32) atrLen = 32;
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        uint64_t bytes = failed ? 0 : uint64_t(chars) * unit;
        bool carried = !failed && names;
        if (bytes > c.req->OutputBufferLength || (carried && chars > capacity)) o->status = BAD;
        put32(o, uint32_t(bytes));
        putPtr(o, carried);
        put32(o, state);
        put32(o, protocol);
        putBytes(o, atr, 32);
        put32(o, atrLen);
        if (carried) putArray(o, names, uint32_t(bytes));
    });
}

/* A protocol block as the service takes it: protocol, 8 + extra, extra. */
uint8_t* nativePci(Call& c, uint32_t protocol, const uint8_t* extra, uint32_t n) {
    uint8_t* b = static_cast<uint8_t*>(c.own.alloc(8 + size_t(n)));
    if (!b) return nullptr;
    diIOPut32(b, protocol);
    diIOPut32(b + 4, 8 + n);
    if (n) memcpy(b + 8, extra, n);
    return b;
}

void onTransmit(Call& c) {
    getCardHead(&c.in);
    uint32_t sendProtocol = get32(&c.in);
    uint32_t sendExtraLen = get32(&c.in);
    uint32_t sendExtraRef = getPtr(&c.in);
    uint32_t sendLen = get32(&c.in);
    uint32_t sendRef = getPtr(&c.in);
    uint32_t recvPciRef = getPtr(&c.in);
    int32_t recvIsNull = int32_t(get32(&c.in));
    uint32_t recvLen = get32(&c.in);
    Card card;
    getCardBytes(&c.in, &card);
    if (!sendExtraRef) sendExtraLen = 0;
    if (!sendRef) sendLen = 0;
    const uint8_t* sendExtra = sendExtraRef ? getArray(&c.in, &c.own, sendExtraLen) : nullptr;
    const uint8_t* send = sendRef ? getArray(&c.in, &c.own, sendLen) : nullptr;
    uint32_t recvProtocol = 0, recvExtraLen = 0;
    const uint8_t* recvExtra = nullptr;
    if (recvPciRef) {
        align4(&c.in);
        recvProtocol = get32(&c.in);
        recvExtraLen = get32(&c.in);
        uint32_t ref = getPtr(&c.in);
        if (!ref) recvExtraLen = 0;
        if (ref) recvExtra = getArray(&c.in, &c.own, recvExtraLen);
    }
    if (c.in.status) return fail(c, c.in.status);
    uint8_t* sendPci = nativePci(c, sendProtocol, sendExtra, sendExtraLen);
    uint8_t* recvPci = recvPciRef ? nativePci(c, recvProtocol, recvExtra, recvExtraLen) : nullptr;
    uint8_t* recv = nullptr;
    if (!recvIsNull) {
        recvLen = capToOutput(c, recvLen);
        recv = static_cast<uint8_t*>(c.own.alloc(recvLen));
    } else {
        recvLen = 0; /* no buffer: the service must not be told of one */
    }
    if (!sendPci || (recvPciRef && !recvPci) || (!recvIsNull && !recv))
        return fail(c, DI_STATUS_NO_MEMORY);
    uint32_t recvCap = recvLen;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle))
        rc = c.api->transmit(card.handle, sendPci, send, sendLen, recvPci, recv, &recvLen);
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        putPtr(o, recvPci != nullptr);
        uint32_t n = failed ? 0 : recvLen;
        if (recv && n > recvCap) o->status = BAD;
        put32(o, n);
        putPtr(o, !failed && recv);
        if (recvPci) {
            /* The block as the service left it, never past what was made. */
            uint32_t total = uint32_t(recvPci[4]) | uint32_t(recvPci[5]) << 8 |
                             uint32_t(recvPci[6]) << 16 | uint32_t(recvPci[7]) << 24;
            uint32_t extra = total > 8 ? total - 8 : 0;
            if (failed || extra > recvExtraLen) extra = failed ? 0 : recvExtraLen;
            put32(o, uint32_t(recvPci[0]) | uint32_t(recvPci[1]) << 8 | uint32_t(recvPci[2]) << 16 |
                         uint32_t(recvPci[3]) << 24);
            put32(o, extra);
            putPtr(o, extra != 0);
            if (extra) putArray(o, recvPci + 8, extra);
        }
        if (!failed && recv) putArray(o, recv, n);
    });
}

void onControl(Call& c) {
    getCardHead(&c.in);
    uint32_t code = get32(&c.in);
    uint32_t inLen = get32(&c.in);
    uint32_t inRef = getPtr(&c.in);
    int32_t outIsNull = int32_t(get32(&c.in));
    uint32_t outLen = get32(&c.in);
    Card card;
    getCardBytes(&c.in, &card);
    if (!inRef) inLen = 0;
    const uint8_t* in = inRef ? getArray(&c.in, &c.own, inLen) : nullptr;
    if (c.in.status) return fail(c, c.in.status);
    uint8_t* out = nullptr;
    if (!outIsNull) {
        outLen = capToOutput(c, outLen);
        if (!(out = static_cast<uint8_t*>(c.own.alloc(outLen))))
            return fail(c, DI_STATUS_NO_MEMORY);
    } else {
        outLen = 0;
    }
    uint32_t returned = 0;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle))
        rc = c.api->control(card.handle, code, in, inLen, out, outLen, &returned);
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        uint32_t n = failed ? 0 : returned;
        if (n > outLen) o->status = BAD;
        put32(o, n);
        putPtr(o, !failed && out);
        if (!failed && out) putArray(o, out, n);
    });
}

void onGetAttrib(Call& c) {
    getCardHead(&c.in);
    uint32_t id = get32(&c.in);
    int32_t isNull = int32_t(get32(&c.in));
    uint32_t len = get32(&c.in);
    Card card;
    if (!decodeCardOnly(c, &card)) return;
    uint8_t* buf = nullptr;
    void* autoBuf = nullptr;
    bool autoAlloc = !isNull && len == DI_SCARD_AUTOALLOCATE;
    if (!isNull && !autoAlloc) {
        len = capToOutput(c, len);
        if (!(buf = static_cast<uint8_t*>(c.own.alloc(len)))) return fail(c, DI_STATUS_NO_MEMORY);
    }
    uint32_t cap = len;
    int32_t rc = kInvalidHandle;
    if (hasCard(c.ses, card.handle))
        rc =
            c.api->getAttrib(card.handle, id, autoAlloc ? static_cast<void*>(&autoBuf) : buf, &len);
    const uint8_t* attr = autoAlloc ? static_cast<uint8_t*>(autoBuf) : buf;
    reply(c, rc, [&](DiSCardStream* o, bool failed) {
        uint32_t n = failed ? 0 : len;
        if (buf && n > cap) o->status = BAD;
        put32(o, n);
        bool carried = !failed && attr;
        putPtr(o, carried);
        if (carried) putArray(o, attr, n);
    });
    if (autoBuf) c.api->freeMemory(card.context, autoBuf);
}

void onSetAttrib(Call& c) {
    getCardHead(&c.in);
    uint32_t id = get32(&c.in);
    uint32_t len = get32(&c.in);
    uint32_t ref = getPtr(&c.in);
    Card card;
    getCardBytes(&c.in, &card);
    if (!ref) len = 0;
    const uint8_t* attr = ref ? getArray(&c.in, &c.own, len) : nullptr;
    if (c.in.status) return fail(c, c.in.status);
    int32_t rc =
        hasCard(c.ses, card.handle) ? c.api->setAttrib(card.handle, id, attr, len) : kInvalidHandle;
    replyLong(c, rc);
}

void onAccessStartedEvent(Call& c) {
    if (refused(c)) return replyLong(c, kBusy);
    if (c.ses->startEvent) c.api->startEventWait(c.ses->startEvent);
    replyLong(c, 0);
}

void onReleaseStartedEvent(Call& c) {
    replyLong(c, 0);
}

typedef void (*Handler)(Call& c);

enum Run : uint8_t { NONE, NOW, THREAD };

struct Entry {
    Run run;
    Handler handler;
};

const Entry kRequests[64] = {
    {},
    {},
    {},
    {},
    {},                   /* 0-4 */
    {NOW, onEstablish},   /* 5 */
    {NOW, onContextCall}, /* 6 release */
    {NOW, onContextCall}, /* 7 is valid */
    {NOW, onListGroups},
    {NOW, onListGroups}, /* 8, 9 */
    {NOW, onListReaders},
    {NOW, onListReaders}, /* 10, 11 */
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {}, /* 12-19 */
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin}, /* 20-23 */
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin}, /* 24-27 */
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin},
    {NOW, onAdmin}, /* 28-31 */
    {},
    {},
    {},
    {},
    {},
    {}, /* 32-37 */
    {NOW, onLocate},
    {NOW, onLocate}, /* 38, 39 */
    {THREAD, onGetStatusChange},
    {THREAD, onGetStatusChange}, /* 40, 41 */
    {THREAD, onContextCall},     /* 42 cancel */
    {THREAD, onConnect},
    {THREAD, onConnect},            /* 43, 44 */
    {THREAD, onReconnect},          /* 45 */
    {THREAD, onCardAndDisposition}, /* 46 disconnect */
    {THREAD, onCardAndDisposition}, /* 47 begin */
    {THREAD, onCardAndDisposition}, /* 48 end */
    {THREAD, onState},              /* 49 */
    {THREAD, onStatus},
    {THREAD, onStatus},             /* 50, 51 */
    {THREAD, onTransmit},           /* 52 */
    {THREAD, onControl},            /* 53 */
    {THREAD, onGetAttrib},          /* 54 */
    {THREAD, onSetAttrib},          /* 55 */
    {THREAD, onAccessStartedEvent}, /* 56 */
    {NOW, onReleaseStartedEvent},   /* 57 */
    {NOW, onLocateByAtr},
    {NOW, onLocateByAtr}, /* 58, 59 */
    {},
    {},
    {},
    {}, /* 60-63 */
};

uint32_t functionOf(const DiDeviceRequest* req) {
    return (req->IoControlCode >> 2) & 0xFFF;
}

bool isWide(uint32_t fn) {
    switch (fn) {
    case 9:
    case 11:
    case 21:
    case 23:
    case 25:
    case 27:
    case 29:
    case 31:
    case 39:
    case 41:
    case 44:
    case 51:
    case 59:
        return true;
    default:
        return false;
    }
}

/* Put in front of every request that reaches a handler: it holds the
 * session until the completion is back on the GUI thread. */
struct SCardCont {
    DiDeviceCompletion base;
    DiDeviceCompletion* saved;
    DiSCardSession* session;
};

void contDone(DiDeviceRequest* req, void* arg) {
    SCardCont* k = static_cast<SCardCont*>(arg);
    req->completion = k->saved;
    sessionRelease(k->session);
    free(k);
    if (req->completion && req->completion->function)
        req->completion->function(req, req->completion->arg);
}

/* Decodes, calls `api` and answers. */
void runCall(DiDeviceRequest* req, const DiSCardApi* api) {
    uint32_t fn = functionOf(req);
    DiSCardSession* ses = static_cast<DiSCardSession*>(req->sessionContext);
    if (fn >= 64 || !kRequests[fn].handler || !ses || !api) return diDeviceInvalidRequest(req);
    Call c;
    c.req = req;
    c.ses = ses;
    c.fn = fn;
    c.wide = isWide(fn);
    c.api = api;
    if (fn != 56 && fn != 57) {
        uint32_t st = diSCardDecodeOpen(&c.in, req->InputBuffer, req->InputBufferLength);
        if (st) return fail(c, st);
    }
    kRequests[fn].handler(c);
}

} // namespace

void diSCardDispatch(DiDeviceClass*, DiDeviceRequest* req) {
    runCall(req, g_diSCardApi);
}

void* diSCardCreateSession(DiDeviceClass*) {
    DiSCardSession* s = new (std::nothrow) DiSCardSession();
    if (!s) return nullptr;
    s->contexts = static_cast<uint32_t*>(malloc(64 * 4));
    s->contextCapacity = s->contexts ? 64 : 0;
    s->cards = static_cast<uint32_t*>(malloc(64 * 4));
    s->cardCapacity = s->cards ? 64 : 0;
    s->refs = 1;
    if (g_diSCardApi && g_diSCardApi->startEventCreate)
        s->startEvent = g_diSCardApi->startEventCreate();
    return s;
}

void diSCardDestroySession(DiDeviceClass*, void* session) {
    DiSCardSession* s = static_cast<DiSCardSession*>(session);
    if (!s) return;
    const DiSCardApi* api = g_diSCardApi;
    /* The start-event waits go first; the record itself stays until the
     * last request of the session is done, so a waiter that had not yet
     * begun returns at once instead of touching freed events. */
    if (s->startEvent && api) api->startEventStop(s->startEvent);
    std::unique_lock<DiMutex> g(s->lock);
    s->closed = true;
    uint32_t* cards = s->cards;
    uint32_t cardCount = s->cardCount;
    uint32_t* contexts = s->contexts;
    uint32_t contextCount = s->contextCount;
    s->cards = s->contexts = nullptr;
    s->cardCount = s->cardCapacity = s->contextCount = s->contextCapacity = 0;
    g.unlock();
    for (uint32_t i = 0; api && i < cardCount; i++)
        api->disconnect(cards[i], 0);
    /* The service's cancel reaches only a call that already waits in it: a
     * status change still on its way in would wait on with no time limit,
     * and the host service's release blocks behind it. So the cancel is
     * repeated until every status change of the session has returned. */
    g.lock();
    for (bool first = true; api && (first || s->statusWaits); first = false) {
        g.unlock();
        for (uint32_t i = 0; i < contextCount; i++)
            api->cancel(contexts[i]);
        g.lock();
        s->waitsEnded.waitFor(g, 20, [s] { return s->statusWaits == 0; });
    }
    g.unlock();
    for (uint32_t i = 0; api && i < contextCount; i++)
        api->release(contexts[i]);
    free(cards);
    free(contexts);
    sessionRelease(s);
}

void diSCardRunRequest(DiDeviceRequest* req) {
    uint32_t fn = functionOf(req);
    if (req->MajorFunction != DI_DEV_CONTROL || fn >= 64 || kRequests[fn].run == NONE) {
        req->Returned = 0;
        return diDeviceInvalidRequest(req);
    }
    DiSCardSession* ses = static_cast<DiSCardSession*>(req->sessionContext);
    SCardCont* k = static_cast<SCardCont*>(calloc(1, sizeof(SCardCont)));
    if (!ses || !k) {
        free(k);
        return diDeviceComplete(req, DI_STATUS_NO_MEMORY);
    }
    ses->refs++;
    k->session = ses;
    k->saved = req->completion;
    k->base.function = contDone;
    k->base.arg = k;
    req->completion = &k->base;
    if (kRequests[fn].run == NOW) {
        diDeviceRunNow(req);
    } else if (!diDeviceWorkerFree(req)) {
        /* Answered here and now: a waiting call would hold its worker
         * for as long as its timeout, or for ever. */
        diLogErrorText(u"Smart card: the channel's workers are all taken; a call answered busy");
        req->ownerThread = nullptr;
        runCall(req, &kBusyApi);
    } else {
        diDeviceRunOnThread(req);
    }
}

void diSCardRegisterClass(DiDeviceClass* cls) {
    cls->dispatch = diSCardDispatch;
    cls->createSession = diSCardCreateSession;
    cls->destroySession = diSCardDestroySession;
    cls->run = diSCardRunRequest;
}
