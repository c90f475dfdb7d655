/* T-AIP: the reader (reassembly and decompression), the dispatcher with its
 * acknowledgements, the server message handlers and the client messages.
 * Every payload is read through one checked cursor; a message shorter than
 * its type needs is logged and ignored, but still consumed and counted. */
#include "tde/ditde.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/dinet.h"
#include "ui/digdi.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum : uint8_t {
    kEnd = 5,
    kStart = 6,
    kBlock = 0x80,
    kAck = 44,
    kPong = 52,
    kResized = 10,
};

enum : uint32_t {
    kHeadType,
    kHeadLow,
    kHeadHigh,
    kBlockLow,
    kBlockHigh,
    kInflate,
    kPayload,
};

/* A bounded reader over one payload; after the first short read every
 * getter returns 0 and `bad` stays set. */
struct Cursor {
    const uint8_t* p;
    uint32_t left;
    bool bad;
    bool need(uint32_t n) {
        if (bad || left < n) {
            bad = true;
            return false;
        }
        return true;
    }
    uint32_t u8() {
        if (!need(1)) return 0;
        left--;
        return *p++;
    }
    uint32_t u16() {
        if (!need(2)) return 0;
        uint32_t v = uint32_t(p[0] | (p[1] << 8));
        p += 2;
        left -= 2;
        return v;
    }
    int32_t i16() { return int16_t(u16()); }
    /* A text: count i16 and that many bytes; a negative or overlong count
     * fails the message. */
    const uint8_t* text(int32_t* count) {
        int32_t n = i16();
        if (n < 0 || !need(uint32_t(n))) {
            bad = true;
            *count = 0;
            return nullptr;
        }
        const uint8_t* t = p;
        p += n;
        left -= uint32_t(n);
        *count = n;
        return t;
    }
};

void logShort(uint32_t type) {
    DiChar msg[80];
    diUtilSPrintf(msg, DI_COUNTOF(msg), u"T-AIP message %1$d is too short; ignored.",
                  {int32_t(type)});
    diLogErrorText(msg);
}

int send(DiTDisplay* t, uint8_t type, const uint8_t* payload, uint32_t len) {
    uint8_t buf[3 + 260];
    if (len > sizeof buf - 3) return -1;
    buf[0] = type;
    buf[1] = uint8_t(len);
    buf[2] = uint8_t(len >> 8);
    if (len) memcpy(buf + 3, payload, len);
    return diIOWriteMessage(&t->ch.out, t->ch.socket, buf, len + 3);
}

uint32_t keepAliveTick(void* arg) {
    DiTDisplay* t = static_cast<DiTDisplay*>(arg);
    diTAIPSendKeepAlive(&t->ch);
    return t->keepAliveMs;
}

void stopKeepAlive(DiTDisplay* t) {
    if (t->keepAliveTimer) diTimerRemove(t->keepAliveTimer);
    t->keepAliveTimer = nullptr;
}

/* The session start: every field in order, the last two optional. */
void sessionStart(DiTDisplay* t, Cursor& c) {
    c.need(4);
    if (!c.bad) {
        c.p += 4;
        c.left -= 4;
    }
    int32_t rows = int32_t(c.u8()), columns = int32_t(c.u8());
    int32_t n;
    c.text(&n);
    uint32_t caretStart = c.u8(), caretEnd = c.u8();
    uint32_t caretFlags = c.u16();
    const uint8_t* setting = c.text(&n);
    int32_t nameLen = n;
    int32_t size = c.i16();
    uint32_t fixed = c.u8();
    c.text(&n);
    c.text(&n);
    if (c.bad) {
        logShort(kStart);
        return;
    }
    uint32_t flags = c.left >= 2 ? c.u16() : 0;
    /* The interval is unsigned: a negative one would make a timer that is
     * always due. */
    uint32_t keepAlive = c.left >= 2 ? c.u16() * 1000u : 300000u;
    DiChar* name = static_cast<DiChar*>(calloc(size_t(nameLen) + 1, sizeof(DiChar)));
    if (!name) return;
    for (int32_t i = 0; i < nameLen; i++)
        name[i] = setting[i];
    /* A second start replaces the screen and the timer of the first. */
    stopKeepAlive(t);
    diTDDestroy(t);
    int rc = diTDCreate(t, rows, columns, caretStart, caretEnd, caretFlags, name, size, fixed);
    free(name);
    if (rc < 0) diLogErrorText(u"The terminal screen could not be made; drawing is ignored.");
    diTDSelectFont(t, 0);
    t->sessionFlags = flags;
    t->keepAliveMs = keepAlive;
    diDEReportConnected(&t->ch);
    if (keepAlive) t->keepAliveTimer = diTimerAdd(keepAlive, keepAliveTick, t);
}

void sessionEnd(DiTDisplay* t, uint32_t status) {
    t->sessionActive = 0;
    stopKeepAlive(t);
    diDEReportState(&t->ch, status == 0 ? 6 : 7, 0);
    if (t->ch.socket) ddNetSocketClose(t->ch.socket);
    t->ch.stopReading = 1;
}

/* Minimum payload of the handled types; -1 marks a type without handler. */
int32_t minimumPayload(uint32_t type) {
    switch (type) {
    case 5:
    case 17:
    case 19:
    case 24:
    case 35:
        return 1;
    case 16:
    case 22:
    case 34:
    case 42:
    case 43:
    case 50:
        return 2;
    case 30:
    case 31:
    case 33:
    case 41:
    case 48:
        return 4;
    case 32:
        return 6;
    case 6:
        return 0; /* checked field by field */
    case 40:
    case 46:
    case 51:
        return 0;
    default:
        return -1;
    }
}

bool needsScreen(uint32_t type) {
    switch (type) {
    case 16:
    case 17:
    case 19:
    case 22:
    case 24:
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 35:
    case 41:
    case 42:
    case 48:
    case 50:
        return true;
    default:
        return false;
    }
}

/* Handles one message whose payload lies at p. */
void handle(DiTDisplay* t, uint32_t type, const uint8_t* p, uint32_t len) {
    Cursor c{p, len, false};
    if (len < uint32_t(minimumPayload(type))) {
        logShort(type);
        return;
    }
    if (needsScreen(type) && !t->screen.exists) return;
    switch (type) {
    case 5:
        sessionEnd(t, c.u8());
        break;
    case 6:
        sessionStart(t, c);
        break;
    case 16: {
        uint32_t flags = c.u8();
        diTDSetLineAttributes(t, flags, int32_t(c.u8()));
        break;
    }
    case 17:
        diTDSelectColour(t, c.u8(), 1);
        break;
    case 19:
        diTDSelectColour(t, c.u8(), 0);
        break;
    case 22: {
        int32_t rows = int32_t(c.u8());
        if (diTDResize(t, rows, int32_t(c.u8())) == 0) diTAIPSendEmpty(t, kResized);
        break;
    }
    case 24:
        diTDSelectFont(t, c.u8());
        break;
    case 30: {
        uint32_t slot = c.u8(), code = c.u8(), width = c.u8(), height = c.u8();
        diTDDefineGlyph(t, slot, code, int32_t(width * 8), int32_t(height), len - 4, p + 4);
        break;
    }
    case 31: {
        uint32_t low = c.u16();
        diTDSetRendition(t, low | (c.u16() << 16));
        break;
    }
    case 32: {
        int32_t dx = int8_t(c.u8()), dy = int8_t(c.u8());
        int32_t l = int32_t(c.u8()), tp = int32_t(c.u8()), r = int32_t(c.u8());
        diTDScrollRect(t, dx, dy, l, tp, r, int32_t(c.u8()));
        break;
    }
    case 33: {
        uint32_t s = c.u8(), e = c.u8();
        diTDSetCursorShape(t, s, e, c.u16());
        break;
    }
    case 34: {
        int32_t col = int32_t(c.u8());
        diTDMoveCursor(t, col, int32_t(c.u8()));
        break;
    }
    case 35:
        diTDShowCursor(t, c.u8() != 0);
        break;
    case 40:
        if (t->ops && t->ops->beep) t->ops->beep();
        break;
    case 41: {
        int32_t l = int32_t(c.u8()), tp = int32_t(c.u8()), r = int32_t(c.u8());
        diTDEraseRect(t, l, tp, r, int32_t(c.u8()));
        break;
    }
    case 42: {
        int32_t col = int32_t(c.u8()), row = int32_t(c.u8());
        uint32_t n = len - 2;
        if (n > DI_TD_CELLS) n = DI_TD_CELLS; /* no row holds more */
        diTDWriteText8(t, col, row, p + 2, int32_t(n));
        break;
    }
    case 50: {
        int32_t col = int32_t(c.u8()), row = int32_t(c.u8());
        uint32_t n = (len - 2) / 2;
        if (n > DI_TD_CELLS) n = DI_TD_CELLS;
        DiChar text[DI_TD_CELLS];
        for (uint32_t i = 0; i < n; i++)
            text[i] = DiChar(p[2 + 2 * i] | (p[3 + 2 * i] << 8));
        diTDWriteText(t, col, row, text, int32_t(n));
        break;
    }
    case 43: {
        int32_t n;
        if (!c.text(&n)) logShort(type);
        break;
    }
    case 48: {
        uint32_t i = c.u8(), r = c.u8(), g = c.u8();
        diTDSetPaletteEntry(t, i, uint8_t(r), uint8_t(g), uint8_t(c.u8()));
        break;
    }
    case 51:
        diTAIPSendEmpty(t, kPong);
        break;
    default:
        break;
    }
}

bool assemblyReady(DiTDisplay* t) {
    DiBuffer* a = &t->assembly;
    if (a->allocated >= DI_TDE_BUFFER_LIMIT) return true;
    a->limit = DI_TDE_BUFFER_LIMIT;
    return diIOReserve(a, DI_TDE_BUFFER_LIMIT) == 0;
}

uint32_t freeRoom(const DiBuffer* a) {
    return a->allocated - a->used;
}

/* The first message held can never complete: longer than the buffer. */
bool frontTooLong(const DiBuffer* a) {
    if (a->used < 3) return false;
    int32_t len = int16_t(a->data[1] | (a->data[2] << 8));
    return len < 0 || uint32_t(len) + 3 > DI_TDE_BUFFER_LIMIT;
}

/* Dispatches what is complete; false when dispatch stopped early (slice
 * over or session ended), so that more room may come on a later pass. */
bool dispatchAll(DiTDisplay* t) {
    diTAIPDispatch(t, &t->assembly);
    const DiBuffer* a = &t->assembly;
    if (!t->sessionActive) return false;
    if (a->used < 3) return true;
    int32_t len = int16_t(a->data[1] | (a->data[2] << 8));
    bool frontComplete = len >= 0 && uint32_t(len) <= a->used - 3;
    return !frontComplete;
}

/* The reader's walk over the waiting bytes. */
struct Walk {
    DiTDisplay* t;
    const uint8_t* in;
    uint32_t avail;
    uint32_t pos;
    bool waitForRoom; /* stopped: the room comes after a later dispatch */

    /* Makes `n` bytes of room: 1 made, 0 wait for a later pass, -1 never. */
    int room(uint32_t n) {
        DiBuffer* a = &t->assembly;
        if (!assemblyReady(t)) return -1;
        if (freeRoom(a) >= n) return 1;
        if (diDEChannelSliceOver(&t->ch)) return 0;
        bool whole = dispatchAll(t);
        if (freeRoom(a) >= n) return 1;
        return whole ? -1 : 0;
    }

    int head() {
        uint32_t type = t->head[0];
        uint32_t len = uint32_t(t->head[1] | (t->head[2] << 8));
        if (type == kBlock) {
            /* The length counts the size field: anything shorter would take
             * the next message's bytes as this block's. */
            if (len < 2) {
                diLogErrorText(u"A compressed T-AIP block is too short; closing the "
                               u"connection.");
                return -1;
            }
            t->readState = kBlockLow;
            return 0;
        }
        int r = room(3 + len);
        if (r < 0) {
            diLogErrorText(u"A T-AIP message does not fit in the reassembly buffer; closing "
                           u"the connection.");
            return -1;
        }
        if (r == 0) {
            waitForRoom = true;
            return 0;
        }
        DiBuffer* a = &t->assembly;
        memcpy(a->data + a->used, t->head, 3);
        a->used += 3;
        t->remaining = int32_t(len);
        t->needed = int32_t(len);
        t->readState = len ? kPayload : kHeadType;
        if (!len) t->needed = 1024;
        return 0;
    }

    int blockHead() {
        uint32_t len = uint32_t(t->head[1] | (t->head[2] << 8));
        uint32_t size = uint32_t(t->head[3] | (t->head[4] << 8));
        t->remaining = int32_t(len - 2);
        t->needed = int32_t(size);
        if (len == 2 && size == 0) {
            t->readState = kHeadType;
            t->needed = 1024;
            return 0;
        }
        if (diDEInflateBegin(&t->ch, len - 2, size) < 0) return -1;
        t->readState = kInflate;
        return 0;
    }

    int inflateStep() {
        DiBuffer* a = &t->assembly;
        int r = room(1);
        if (r < 0) {
            diLogErrorText(u"T-AIP content inflates past the reassembly buffer; closing the "
                           u"connection.");
            return -1;
        }
        if (r == 0) {
            waitForRoom = true;
            return 0;
        }
        uint32_t give = avail - pos;
        if (give > uint32_t(t->remaining)) give = uint32_t(t->remaining);
        uint32_t roomBefore = freeRoom(a), out = roomBefore, used = give;
        int z = diDEInflateBlock(&t->ch, a->data + a->used, in + pos, &out, &used);
        if (z < 0) {
            diLogErrorText(u"A compressed T-AIP block is damaged; closing the connection.");
            return -1;
        }
        a->used += out;
        pos += used;
        t->remaining -= int32_t(used);
        if (frontTooLong(a)) {
            diLogErrorText(u"An inflated T-AIP message does not fit in the reassembly buffer; "
                           u"closing the connection.");
            return -1;
        }
        if (z == 1) {
            t->readState = kHeadType;
            t->remaining = 0;
            t->needed = 1024;
            return 0;
        }
        t->needed = t->needed > int32_t(out) ? t->needed - int32_t(out) : 0;
        /* With room to spare and nothing made from all the block's bytes,
         * another step would do the same: the block ended early. */
        if (out < roomBefore && (t->remaining == 0 || (used == 0 && out == 0))) {
            diLogErrorText(u"A compressed T-AIP block ends early; closing the connection.");
            return -1;
        }
        return 0;
    }

    /* -1 on failure; otherwise the walk stops when the bytes are used up,
     * the slice ended or room must wait for a dispatch. */
    int run() {
        while (!waitForRoom) {
            bool pendingOutput = t->readState == kInflate && t->remaining == 0;
            if (pos >= avail && !pendingOutput) break;
            int rc = 0;
            switch (t->readState) {
            case kHeadType:
            case kHeadLow:
            case kBlockLow:
                t->head[t->readState == kBlockLow ? 3 : t->readState] = in[pos++];
                t->readState++;
                break;
            case kHeadHigh:
                t->head[2] = in[pos++];
                rc = head();
                if (waitForRoom) pos--; /* taken again on the next pass */
                break;
            case kBlockHigh:
                t->head[4] = in[pos++];
                rc = blockHead();
                break;
            case kInflate:
                rc = inflateStep();
                break;
            case kPayload: {
                DiBuffer* a = &t->assembly;
                uint32_t n = avail - pos;
                if (n > uint32_t(t->remaining)) n = uint32_t(t->remaining);
                memcpy(a->data + a->used, in + pos, n);
                a->used += n;
                pos += n;
                t->remaining -= int32_t(n);
                t->needed = t->remaining;
                if (t->remaining == 0) {
                    t->readState = kHeadType;
                    t->needed = 1024;
                }
                break;
            }
            default:
                return -1;
            }
            if (rc < 0) return -1;
        }
        return 0;
    }
};

void connectionFailed(DiTDisplay* t) {
    diDEReportState(&t->ch, 6, 0);
    if (t->ch.socket) ddNetSocketClose(t->ch.socket);
    t->ch.stopReading = 1;
    t->sessionActive = 0;
    stopKeepAlive(t);
    diDEInflateEnd(&t->ch);
    diIOBufferFree(&t->assembly);
}

} // namespace

int diTAIPDispatch(DiTDisplay* t, DiBuffer* b, bool sliced) {
    uint32_t pos = 0;
    while (b->used - pos >= 3) {
        const uint8_t* m = b->data + pos;
        uint32_t type = m[0];
        int32_t len = int16_t(m[1] | (m[2] << 8));
        if (len < 0 || uint32_t(len) > b->used - pos - 3) break;
        while (t->ackCounter >= 4096) {
            diTAIPSendEmpty(t, kAck);
            t->ackCounter -= 4096;
        }
        if (type < 54 && minimumPayload(type) >= 0) {
            handle(t, type, m + 3, uint32_t(len));
            t->ackCounter += len + 3;
        }
        pos += uint32_t(len) + 3;
        if (!t->sessionActive || (sliced && diDEChannelSliceOver(&t->ch))) break;
    }
    if (pos) {
        memmove(b->data, b->data + pos, b->used - pos);
        b->used -= pos;
    }
    return 0;
}

int diTAIPReadInput(DiTDisplay* t) {
    DiChannel* ch = &t->ch;
    if (t->selectionHeld || ch->stopReading) return 0;
    diDEChannelSliceStart(ch);
    int got = diIOFill(&ch->in, ch->socket);
    Walk w{t, ch->in.data, ch->in.used, 0, false};
    if (w.run() < 0) return -1;
    uint32_t rest = ch->in.used - w.pos;
    if (rest && w.pos) memmove(ch->in.data, ch->in.data + w.pos, rest);
    ch->in.used = rest;
    if (!diDEChannelSliceOver(ch) && t->assembly.data) {
        diTAIPDispatch(t, &t->assembly);
        if (t->sessionActive && frontTooLong(&t->assembly)) return -1;
    }
    /* The end of the stream counts once everything before it is handled:
     * what the time slice held back is handled now, since no later read
     * comes for it (the server's own end may be among it, sent before its
     * close while this client was busy). */
    bool ended = got < 0 && rest == 0;
    if (ended && t->sessionActive && t->assembly.data) diTAIPDispatch(t, &t->assembly, false);
    diTDPaintSoon(t);
    return ended ? -1 : 0;
}

int diTAIPSendKeepAlive(DiChannel* ch) {
    static const uint8_t msg[3] = {DI_TAIP_KEEPALIVE, 0, 0};
    return diIOWriteMessage(&ch->out, ch->socket, msg, sizeof msg);
}

int diTAIPSendEmpty(DiTDisplay* t, uint8_t type) {
    return send(t, type, nullptr, 0);
}

uint8_t diTAIPModifiers(uint32_t s) {
    uint32_t m = s & 0xF;
    if (s & 0x80) m |= 1;
    if (s & 0x100) m |= 2;
    if (s & 0x200) m |= 4;
    return uint8_t(m);
}

int diTAIPSendKey(DiTDisplay* t, uint8_t type, uint32_t character, uint32_t key,
                  uint32_t modifiers) {
    uint8_t p[5] = {uint8_t(character), uint8_t(character >> 8), uint8_t(key), uint8_t(key >> 8),
                    diTAIPModifiers(modifiers)};
    return send(t, type, p, sizeof p);
}

int diTAIPSendHello(DiTDisplay* t, const DiClientInfo* info) {
    uint8_t p[260];
    uint32_t n = 0;
    p[n++] = uint8_t(t->helloValue);
    p[n++] = uint8_t(t->helloValue >> 8);
    const DiChar* texts[2] = {info ? info->platform : nullptr, info ? info->osVersion : nullptr};
    for (const DiChar* s : texts) {
        uint32_t len = 0;
        while (s && s[len] && len < 100)
            len++;
        p[n++] = uint8_t(len);
        p[n++] = 0;
        for (uint32_t i = 0; i < len; i++)
            p[n++] = uint8_t(s[i]);
    }
    uint32_t cls = t->ch.codePageClass ? t->ch.codePageClass : 2;
    p[n++] = uint8_t(cls);
    p[n++] = uint8_t(cls >> 8);
    p[n++] = uint8_t(t->helloValue);
    p[n++] = uint8_t(t->helloValue >> 8);
    return send(t, 4, p, n);
}

int diTAIPSendPaste(DiTDisplay* t, const DiChar* text, uint32_t count) {
    if (count > 128) return -1;
    uint8_t p[2 + 256];
    p[0] = uint8_t(count);
    p[1] = uint8_t(count >> 8);
    for (uint32_t i = 0; i < count; i++) {
        p[2 + 2 * i] = uint8_t(text[i]);
        p[3 + 2 * i] = uint8_t(text[i] >> 8);
    }
    return send(t, 49, p, 2 + 2 * count);
}

void diTDEInit(DiTDisplay* t, int32_t width, int32_t height) {
    diDEChannelInit(&t->ch, DI_OBJ_TDE, width, height);
    t->ch.hdr.handler = diTDEHandleEvent;
    t->ch.in.limit = DI_TDE_BUFFER_LIMIT;
    t->ch.out.limit = DI_TDE_OUTPUT_LIMIT;
    t->assembly.limit = DI_TDE_BUFFER_LIMIT;
    t->readState = kHeadType;
    t->remaining = 0;
    t->needed = 1024;
    t->helloValue = 1;
}

void diTDEBindChannel(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s) {
    diDEChannelSetContext(ch, owner, gc, s);
}

void diTDEReset(DiTDisplay* t) {
    stopKeepAlive(t);
    diTDDestroy(t);
    t->sessionActive = 0;
    diDEChannelFree(&t->ch);
    diDEInflateEnd(&t->ch);
    diIOBufferFree(&t->assembly);
}

int diTDEHandleEvent(DiObject* obj, DiEvent* ev) {
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(obj);
    DiTDScreen* s = &t->screen;
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        if (diTAIPReadInput(t) < 0 && t->sessionActive) connectionFailed(t);
        return 1;
    case DI_EV_WRITABLE:
        diIOFlush(&t->ch.out, t->ch.socket);
        return 1;
    case DI_EV_KEY_PRESS:
    case DI_EV_KEY_RELEASE:
        /* The view hands the character over as UTF-16 already: it goes out
         * as it came, on press and release alike. */
        diTAIPSendKey(t, ev->w[0] == DI_EV_KEY_PRESS ? 9 : 15, ev->w[2], ev->w[1], ev->w[3]);
        return 1;
    case DI_EV_OPEN:
        t->sessionActive = 1;
        diTAIPSendHello(t, static_cast<const DiClientInfo*>(ev->ptr));
        return 1;
    case DI_EV_ACTIVATE:
        diTAIPSendEmpty(t, 2);
        return 1;
    case DI_EV_DEACTIVATE:
        diTAIPSendEmpty(t, 7);
        return 1;
    case DI_EV_CLOSE: {
        stopKeepAlive(t);
        diTDDestroy(t);
        static const uint8_t zero[2] = {0, 0};
        send(t, 3, zero, 2);
        return 1;
    }
    case DI_EV_FOCUS_IN:
    case DI_EV_FOCUS_OUT:
        if (!s->exists) return 1;
        s->focused = ev->w[0] == DI_EV_FOCUS_IN;
        diTDShowCursor(t, int(s->cursorVisible));
        return 1;
    case DI_EV_EXPOSE:
        if (ev->w[1] == 0 && s->exists) {
            diTDDamagePixels(t, int32_t(ev->w[2]), int32_t(ev->w[3]), int32_t(ev->w[4]),
                             int32_t(ev->w[5]));
            diTDPaint(t);
        }
        return 1;
    case DI_EV_WINDOW_CLOSED:
        if (t->sessionFlags & 2) diTAIPSendEmpty(t, 53);
        return 1;
    default:
        return 0;
    }
}
