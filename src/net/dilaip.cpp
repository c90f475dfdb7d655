/* The login-dialog frames ("LAIP") that run on a channel's connection before
 * its own protocol (see dilaip.h).
 *
 * Re-entry: dialogs and questions are modal, and their message loops keep
 * delivering the channel's socket events, timers and the frame window's end
 * message. While one is open the exchange does not read (the frames wait in
 * the socket and the input buffer), an end that arrives meanwhile is kept
 * and carried out when the dialog returns, and the answer goes out only when
 * the same exchange is still running on a channel that still exists. */
#include "net/dilaip.h"

#include "core/diapp.h"
#include "core/diio.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

namespace {

void wipeFree(DiChar* s) {
    if (!s) return;
    memset(s, 0, diAppStrLen(s) * sizeof(DiChar));
    free(s);
}

/* --- Writer and reader ---------------------------------------------------- */

struct Writer {
    uint8_t* data = nullptr;
    size_t len = 0, cap = 0;
    bool bad = false;
    void put(const void* p, size_t n) {
        if (bad) return;
        if (len + n > DI_LAIP_HEADER + DI_LAIP_MAX_PAYLOAD) {
            bad = true;
            return;
        }
        if (len + n > cap) {
            size_t want = (len + n) * 2;
            uint8_t* q = static_cast<uint8_t*>(realloc(data, want));
            if (!q) {
                bad = true;
                return;
            }
            data = q;
            cap = want;
        }
        if (n) memcpy(data + len, p, n);
        len += n;
    }
    void u8(uint8_t v) { put(&v, 1); }
    void u16(uint16_t v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        put(b, 2);
    }
    void u32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        put(b, 4);
    }
    void bytesText(const char* s, size_t n) {
        u32(uint32_t(n));
        put(s, n);
    }
    void text(const DiChar* s) {
        size_t n = diAppStrLen(s);
        char* u = diTextToUtf8Dup(s ? s : u"", n);
        if (!u) {
            bad = true;
            return;
        }
        bytesText(u, strlen(u));
        memset(u, 0, strlen(u));
        free(u);
    }
    void scrambled(const DiChar* s) {
        size_t n = 0;
        char* b = diLAIPScramble(s, &n);
        if (!b) {
            bad = true;
            return;
        }
        bytesText(b, n);
        memset(b, 0, n);
        free(b);
    }
    /* Frames the payload written after begin(); -1 (and nothing) when it
     * does not fit or memory ran short. */
    void begin(uint16_t type) {
        put("LAIP", 4);
        u32(0);
        u16(type);
        u16(0);
    }
    int finish(uint8_t** frame, size_t* length) {
        if (bad || len < DI_LAIP_HEADER || len - DI_LAIP_HEADER > DI_LAIP_MAX_PAYLOAD) {
            if (data) memset(data, 0, len);
            free(data);
            return -1;
        }
        uint32_t total = uint32_t(len);
        uint16_t payload = uint16_t(len - DI_LAIP_HEADER);
        uint8_t t[4] = {uint8_t(total), uint8_t(total >> 8), uint8_t(total >> 16), uint8_t(total >> 24)};
        memcpy(data + 4, t, 4);
        data[10] = uint8_t(payload);
        data[11] = uint8_t(payload >> 8);
        *frame = data;
        *length = len;
        return int(len);
    }
};

/* One bounds-checked cursor per frame: every read past the payload marks the
 * frame bad and yields zeros. */
struct Reader {
    const uint8_t* p;
    size_t n, pos = 0;
    bool bad = false;
    Reader(const uint8_t* data, size_t len) : p(data), n(len) {}
    bool take(size_t k) {
        if (bad || n - pos < k) {
            bad = true;
            return false;
        }
        return true;
    }
    uint8_t u8() { return take(1) ? p[pos++] : 0; }
    uint16_t u16() {
        if (!take(2)) return 0;
        uint16_t v = uint16_t(p[pos] | p[pos + 1] << 8);
        pos += 2;
        return v;
    }
    uint32_t u32() {
        if (!take(4)) return 0;
        uint32_t v = uint32_t(p[pos]) | uint32_t(p[pos + 1]) << 8 | uint32_t(p[pos + 2]) << 16 |
                     uint32_t(p[pos + 3]) << 24;
        pos += 4;
        return v;
    }
    void skip(size_t k) {
        if (take(k)) pos += k;
    }
    /* A new text, or none (and bad) when its length runs past the payload. */
    DiChar* text() {
        uint32_t len = u32();
        if (bad || !take(len)) return nullptr;
        DiChar* t = diTextFromUtf8Dup(reinterpret_cast<const char*>(p + pos), len);
        pos += len;
        if (!t) bad = true;
        return t;
    }
};

void freeField(DiLAIPField* f) {
    free(f->label);
    free(f->second);
    f->label = f->second = nullptr;
}

} // namespace

/* --- Records -------------------------------------------------------------- */

DiLAIPField* diLAIPFindField(DiLAIPDialog* dialog, uint16_t id) {
    if (!dialog || !dialog->fields) return nullptr;
    for (uint32_t i = 0; i < dialog->fieldCount; ++i)
        if (dialog->fields[i].id == id) return &dialog->fields[i];
    return nullptr;
}

void diLAIPDialogFree(DiLAIPDialog* d) {
    if (!d) return;
    free(d->host);
    free(d->message);
    free(d->title);
    free(d->userLabel);
    free(d->passwordLabel);
    for (uint32_t i = 0; d->fields && i < d->fieldCount; ++i) freeField(&d->fields[i]);
    free(d->fields);
    memset(d, 0, sizeof *d);
}

DiLAIPDialog* diLAIPDialogCopy(const DiLAIPDialog* d) {
    if (!d) return nullptr;
    DiLAIPDialog* c = static_cast<DiLAIPDialog*>(calloc(1, sizeof *c));
    if (!c) return nullptr;
    *c = *d;
    c->host = diAppStrDup(d->host);
    c->message = diAppStrDup(d->message);
    c->title = diAppStrDup(d->title);
    c->userLabel = diAppStrDup(d->userLabel);
    c->passwordLabel = diAppStrDup(d->passwordLabel);
    c->fields = nullptr;
    if (d->fieldCount) {
        c->fields = static_cast<DiLAIPField*>(calloc(d->fieldCount, sizeof(DiLAIPField)));
        if (!c->fields) c->fieldCount = 0;
        for (uint32_t i = 0; c->fields && i < d->fieldCount; ++i) {
            c->fields[i] = d->fields[i];
            c->fields[i].label = diAppStrDup(d->fields[i].label);
            c->fields[i].second = diAppStrDup(d->fields[i].second);
        }
    }
    return c;
}

void diLAIPReplyFree(DiLAIPReply* r) {
    if (!r) return;
    if (r->method == 0) {
        wipeFree(r->user);
        wipeFree(r->password);
        wipeFree(r->password2);
        wipeFree(r->domain);
    }
    memset(r, 0, sizeof *r);
}

/* --- Encoders ------------------------------------------------------------- */

char* diLAIPScramble(const DiChar* password, size_t* length) {
    static const char kKey[] = "kelp.mint.stroll";
    size_t n = diAppStrLen(password);
    char* utf8 = diTextToUtf8Dup(password ? password : u"", n);
    if (!utf8) return nullptr;
    size_t bytes = strlen(utf8);
    /* Each scrambled byte is one character; from 0x80 it takes two bytes.
     * Zero bytes are characters too ("kelp" scrambles to four), so the
     * length is counted, never found by a terminator. */
    char* out = static_cast<char*>(malloc(bytes * 2 + 1));
    if (!out) {
        memset(utf8, 0, bytes);
        free(utf8);
        return nullptr;
    }
    size_t o = 0;
    for (size_t i = 0; i < bytes; ++i) {
        uint8_t b = uint8_t(uint8_t(utf8[i]) ^ uint8_t(kKey[i % 16]));
        if (b < 0x80) {
            out[o++] = char(b);
        } else {
            out[o++] = char(0xC0 | (b >> 6));
            out[o++] = char(0x80 | (b & 0x3F));
        }
    }
    out[o] = 0;
    memset(utf8, 0, bytes);
    free(utf8);
    *length = o;
    return out;
}

int diLAIPEncodeLaunchRequest(uint8_t a, uint8_t b, const DiChar* text1, uint32_t value,
                              const DiChar* text2, const uint8_t block[64], const DiChar* text3,
                              const DiChar* text4, uint8_t** frame, size_t* length) {
    Writer w;
    w.begin(1);
    w.u8(a);
    w.u8(b);
    w.text(text1);
    w.u32(value);
    w.text(text2);
    w.u32(64);
    uint8_t zero[64] = {};
    w.put(block ? block : zero, 64);
    w.text(text3);
    w.text(text4);
    w.u32(0);
    return w.finish(frame, length);
}

int diLAIPEncodeAnswer(uint16_t requestType, const DiLAIPReply* r, uint8_t** frame,
                       size_t* length) {
    Writer w;
    if (requestType == 3) {
        w.begin(2);
        w.u16(r->kind);
        w.text(r->user);
        w.scrambled(r->password);
        w.u8(r->save);
        w.text(r->password2); /* the new password goes out as it is */
    } else if (r->method == 1) {
        w.begin(21);
        static const uint8_t head[20] = {0x00, 0x80};
        w.put(head, 20);
        w.u16(1);
        w.u16(0);
        w.u16(1);
        w.u8(uint8_t(r->kind));
    } else {
        w.begin(21);
        w.u16(r->kind);
        w.text(r->user);
        w.scrambled(r->password);
        w.u8(r->save);
        w.scrambled(r->password2);
        w.text(r->domain);
    }
    return w.finish(frame, length);
}

int diLAIPEncodeYesNo(uint16_t id, uint8_t yes, uint8_t** frame, size_t* length) {
    Writer w;
    w.begin(8);
    w.u16(id);
    w.u8(yes ? 1 : 0);
    return w.finish(frame, length);
}

int diLAIPEncodeClose(uint8_t** frame, size_t* length) {
    Writer w;
    w.begin(7);
    return w.finish(frame, length);
}

/* --- Decoders ------------------------------------------------------------- */

int diLAIPParseDialog(uint16_t type, const uint8_t* payload, size_t length, DiLAIPDialog* d) {
    memset(d, 0, sizeof *d);
    Reader r(payload, length);
    d->requestType = type;
    if (type == 3 || type == 20) {
        d->flags = 0x100;
        d->fields = static_cast<DiLAIPField*>(calloc(1, sizeof(DiLAIPField)));
        if (!d->fields) return -1;
        d->fieldCount = 1;
        DiLAIPField* f = &d->fields[0];
        f->flags = 7;
        f->value = r.u16();
        d->host = r.text();
        f->label = r.text();
        f->byte = r.u8();
        if (type == 20) {
            if (r.u8()) f->flags = 31;
            f->second = r.text();
        }
    } else if (type == 23) {
        uint16_t a = r.u16();
        uint8_t b = r.u8();
        uint16_t flags = r.u16();
        d->flags = flags;
        d->host = r.text();
        DiChar* label = (flags & 2) ? r.text() : nullptr;
        DiChar* second = (flags & 16) ? r.text() : nullptr;
        if (flags & 32) d->message = r.text();
        if (flags & 64) d->title = r.text();
        if (flags & 0x200) d->userLabel = r.text();
        if (flags & 0x400) d->passwordLabel = r.text();
        uint32_t count = 0;
        if (flags & 0x100) {
            d->lastMethod = r.u16();
            count = r.u16();
            r.skip(2);
        }
        /* Room for the field 0 made in front: counted in 32 bits, so a full
         * u16 count does not wrap to an empty array. */
        uint32_t total = count + ((flags & 0x80) ? 0 : 1);
        if (r.bad || total > DI_LAIP_MAX_PAYLOAD) {
            free(label);
            free(second);
            diLAIPDialogFree(d);
            return -1;
        }
        d->fields = total ? static_cast<DiLAIPField*>(calloc(total, sizeof(DiLAIPField))) : nullptr;
        if (total && !d->fields) {
            free(label);
            free(second);
            diLAIPDialogFree(d);
            return -1;
        }
        uint32_t at = 0;
        if (!(flags & 0x80)) {
            DiLAIPField* f = &d->fields[at++];
            f->value = a;
            f->byte = b;
            f->flags = uint8_t(flags & 0x1F);
            f->label = label;
            f->second = second;
            label = second = nullptr;
            d->flags |= 0x100;
        }
        free(label);
        free(second);
        d->fieldCount = uint16_t(at);
        for (uint32_t i = 0; i < count && !r.bad; ++i) {
            DiLAIPField* f = &d->fields[at];
            f->id = r.u16();
            f->kind = r.u16();
            f->length = r.u16();
            if (f->kind == 1) {
                f->byte = r.u8();
            } else if (f->kind == 0) {
                f->value = r.u16();
                f->byte = r.u8();
                f->flags = r.u8();
                if (f->flags & 2) f->label = r.text();
                if (f->flags & 16) f->second = r.text();
            } else {
                r.skip(f->length);
            }
            if (r.bad) {
                freeField(f);
                break;
            }
            d->fieldCount = uint16_t(++at);
        }
        /* The fieldCount stays within the u16: total was checked above. */
        if (total > 0xFFFF) r.bad = true;
    } else {
        return -1;
    }
    if (r.bad) {
        diLAIPDialogFree(d);
        return -1;
    }
    return 0;
}

int diLAIPResultMessage(uint16_t code) {
    static const uint16_t table[][2] = {
        {2, 112},  {4, 113},  {5, 114},  {6, 115},  {7, 116},  {8, 117},  {9, 118},
        {10, 119}, {11, 120}, {12, 121}, {13, 122}, {21, 123}, {23, 124}, {24, 125},
        {25, 126}, {26, 127}, {30, 128}, {35, 129}, {37, 130}, {44, 132}, {45, 131},
        {46, 133}, {66, 134}, {67, 135},
    };
    for (const auto& e : table)
        if (e[0] == code) return e[1];
    return 111;
}

/* --- The exchange --------------------------------------------------------- */

namespace {

enum EndKind { END_NONE = 0, END_RESULT, END_TIMEOUT, END_CANCEL, END_FREE, END_CLOSED };

struct LaipState {
    LaipState* next;
    DiChannel* ch;
    DiTimer* timer;
    DiEventHandler saved;
    int done;
    uint32_t waitMs;
    uint16_t mode;
    DiChar* status;
    DiChar* second;
    int modal;      /* dialogs or questions of this exchange now open */
    int pendingEnd; /* an end that arrived while one was open */
    int orphan;     /* replaced while a dialog was open: freed when it returns */
    uint32_t handled; /* bytes of the frame handled last, at the buffer's front */
    int started;      /* the end was a result of success: the channel's start follows */
};

LaipState* s_states;

LaipState* findState(DiChannel* ch) {
    for (LaipState* s = s_states; s; s = s->next)
        if (s->ch == ch) return s;
    return nullptr;
}

void unlinkState(LaipState* st) {
    for (LaipState** p = &s_states; *p; p = &(*p)->next)
        if (*p == st) {
            *p = st->next;
            return;
        }
}

struct FindArg {
    DiChannel* ch;
    bool found;
};

bool channelAlive(DiChannel* ch) {
    FindArg a = {ch, false};
    diDEForEachChannel([](DiChannel* c, void* arg) {
        FindArg* f = static_cast<FindArg*>(arg);
        if (c == f->ch) f->found = true;
    }, &a);
    return a.found;
}

DiObject* progressOf(DiChannel* ch) {
    DiObject* parent = ch->hdr.parent;
    if (parent && parent->type == DI_OBJ_DEMANAGER)
        return reinterpret_cast<DiDEManager*>(parent)->progress;
    return nullptr;
}

void showStatus(DiChannel* ch, const DiChar* text) {
    DiObject* p = progressOf(ch);
    if (!p || !text) return;
    diProgAppendDetails(p, -1, text);
    diProgSetText(reinterpret_cast<DiProgress*>(p), text);
}

void sendFrame(DiChannel* ch, uint8_t* frame, size_t len, int r) {
    if (r < 0) {
        diLogErrorText(u"Login dialog: an answer could not be built");
        return;
    }
    if (diIOWriteMessage(&ch->out, ch->socket, frame, uint32_t(len)) < 0)
        diLogErrorText(u"Login dialog: an answer could not be sent");
    memset(frame, 0, len);
    free(frame);
}

void sendClose(DiChannel* ch) {
    uint8_t* f;
    size_t n;
    int r = diLAIPEncodeClose(&f, &n);
    sendFrame(ch, f, n, r);
}

void freeState(LaipState* st) {
    unlinkState(st);
    if (st->timer) diTimerRemove(st->timer);
    st->timer = nullptr;
    wipeFree(st->status);
    wipeFree(st->second);
    free(st);
}

/* Drops the frame handled last from the input buffer: what follows it stays
 * for the channel's own protocol. */
void dropHandled(DiChannel* ch, LaipState* st) {
    uint32_t k = st->handled;
    st->handled = 0;
    if (!k || k > ch->in.used) return;
    memmove(ch->in.data, ch->in.data + k, ch->in.used - k);
    ch->in.used -= k;
}

/* Restores the channel's handler and frees the state. */
void releaseExchange(DiChannel* ch, LaipState* st) {
    dropHandled(ch, st);
    ch->hdr.handler = st->saved;
    if (ch->hdr.type == DI_OBJ_PRINT) diPAIPExchangeEnded(ch, st->started);
    freeState(st);
}

void endExchange(DiChannel* ch, int kind) {
    LaipState* st = findState(ch);
    if (!st) return;
    st->done = 1;
    if (st->modal) {
        if (!st->pendingEnd || kind == END_FREE || kind == END_CLOSED) st->pendingEnd = kind;
        return;
    }
    if (kind == END_FREE) {
        releaseExchange(ch, st);
        return;
    }
    dropHandled(ch, st);
    diIOFlush(&ch->out, ch->socket);
    if (kind == END_TIMEOUT) sendClose(ch);
    releaseExchange(ch, st);
    if (kind == END_CLOSED) {
        /* The connection ended during the exchange: the channel's own
         * handler learns it as its own close. */
        DiEvent ev;
        memset(&ev, 0, sizeof ev);
        ev.w[0] = DI_EV_CLOSED;
        diUIDeliverEvent(&ch->hdr, &ev);
        return;
    }
    diDEChannelOpen(ch);
    if (kind == END_CANCEL) {
        sendClose(ch);
        return;
    }
    /* Bytes read together with the end belong to the channel's own protocol,
     * and no socket notice announces them again: without the resume timer
     * they would wait for the peer's next write, which may never come (an
     * application that draws its screen at once and then waits for input
     * would stay unshown). */
    if (ch->in.used) diDEChannelYield(ch);
}

uint32_t onWait(void* arg) {
    LaipState* st = static_cast<LaipState*>(arg);
    DiChannel* ch = st->ch;
    if (st->mode == 2) {
        showStatus(ch, st->status);
        return st->waitMs;
    }
    st->timer = nullptr; /* the record goes with the 0 returned */
    if (st->mode != 4) endExchange(ch, END_TIMEOUT);
    return 0;
}

int laipEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    LaipState* st = findState(ch);
    if (!st) return 0;
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        /* While a dialog is open the frames wait; the dialog's return goes
         * on reading. */
        if (!st->modal) diLAIPReceive(ch);
        return 1;
    case DI_EV_WRITABLE:
        diIOFlush(&ch->out, ch->socket);
        return 1;
    default:
        return 0;
    }
}

/* A modal step opens: a print channel's waiting job holds its bound while
 * the user answers. */
void modalOpen(DiChannel* ch, LaipState* st) {
    st->modal++;
    if (ch->hdr.type == DI_OBJ_PRINT) diPAIPQuestionOpen(ch, 1);
}

/* Runs after a modal step: false when the exchange that opened it is gone
 * (the channel destroyed, the exchange ended or replaced), after carrying
 * out an end that arrived meanwhile. */
bool modalReturn(DiChannel* ch, LaipState* st) {
    st->modal--;
    bool alive = channelAlive(ch);
    if (alive && ch->hdr.type == DI_OBJ_PRINT) diPAIPQuestionOpen(ch, 0);
    if (st->orphan || !alive) {
        if (st->modal == 0) {
            if (!st->orphan) unlinkState(st);
            st->next = nullptr;
            if (st->timer) diTimerRemove(st->timer);
            st->timer = nullptr;
            wipeFree(st->status);
            wipeFree(st->second);
            free(st);
        }
        return false;
    }
    if (st->pendingEnd && st->modal == 0) {
        int kind = st->pendingEnd;
        st->pendingEnd = 0;
        endExchange(ch, kind);
        return false;
    }
    return st->pendingEnd == 0;
}

void handleResult(DiChannel* ch, Reader& r) {
    uint16_t code = r.u16();
    DiChar* text = r.text();
    if (r.bad) {
        free(text);
        diLogErrorText(u"Login dialog: a malformed end of exchange was skipped");
        return;
    }
    if (LaipState* st = findState(ch)) st->started = code == 0;
    endExchange(ch, END_RESULT);
    if (code == 0) {
        switch (ch->hdr.type) {
        case DI_OBJ_PRINT:
            diPAIPSendStart(ch, 1);
            break;
        case DI_OBJ_CDM:
        case DI_OBJ_AUDIO:
        case DI_OBJ_DEVLIST:
            diIOSendStart(ch);
            break;
        default:
            if (DiObject* p = progressOf(ch)) diProgSetState(p, DI_PROG_CONNECTED, 0);
            diSOCancelLaunchDialogTimer();
            break;
        }
    } else {
        diSOLaunchFailed(ch, diLAIPResultMessage(code), text);
    }
    free(text);
}

} // namespace

bool diLAIPActive(DiChannel* ch) {
    return findState(ch) != nullptr;
}

int diLAIPSendRequest(DiChannel* ch, uint8_t a, uint8_t b, const DiChar* text1, uint32_t value,
                      const DiChar* text2, const uint8_t block[64], const DiChar* text3,
                      const DiChar* text4) {
    if (!ch) return -1;
    DiEventHandler saved = ch->hdr.handler;
    if (LaipState* old = findState(ch)) {
        saved = old->saved;
        if (old->modal) {
            unlinkState(old);
            old->orphan = 1;
        } else {
            freeState(old);
        }
    }
    LaipState* st = static_cast<LaipState*>(calloc(1, sizeof(LaipState)));
    if (!st) return -1;
    st->ch = ch;
    st->saved = saved;
    st->next = s_states;
    s_states = st;
    ch->hdr.handler = laipEvent;
    uint8_t* frame;
    size_t len;
    int r = diLAIPEncodeLaunchRequest(a, b, text1, value, text2, block, text3, text4, &frame, &len);
    if (r < 0) return -1;
    int w = diIOWriteMessage(&ch->out, ch->socket, frame, uint32_t(len));
    free(frame);
    return w;
}

void diLAIPHandleFrame(DiChannel* ch, uint16_t type, const uint8_t* payload, size_t length) {
    LaipState* st = findState(ch);
    if (!st) return;
    Reader r(payload, length);
    switch (type) {
    case 3:
    case 20:
    case 23: {
        DiLAIPDialog d;
        if (diLAIPParseDialog(type, payload, length, &d) != 0) {
            diLogErrorText(u"Login dialog: a malformed dialog request was skipped");
            return;
        }
        diLAIPRunDialog(ch, &d);
        diLAIPDialogFree(&d);
        return;
    }
    case 4: {
        r.u8();
        DiChar* text = r.text();
        if (!r.bad) showStatus(ch, text);
        free(text);
        break;
    }
    case 5: {
        uint16_t seconds = r.u16();
        uint16_t mode = r.u16();
        r.skip(4);
        DiChar* status = r.text();
        DiChar* second = r.text();
        if (r.bad) {
            free(status);
            free(second);
            break;
        }
        wipeFree(st->status);
        wipeFree(st->second);
        st->status = status;
        st->second = second;
        st->mode = mode;
        showStatus(ch, status);
        if (seconds > 0) {
            st->waitMs = uint32_t(seconds) * 1000;
            if (DiObject* p = progressOf(ch)) diProgSetDuration(p, st->waitMs);
            if (st->timer) diTimerRemove(st->timer);
            st->timer = diTimerAdd(st->waitMs, onWait, st);
        }
        break;
    }
    case 6:
        handleResult(ch, r);
        return;
    case 9: {
        uint16_t id = r.u16();
        DiChar* text = r.text();
        if (r.bad) {
            free(text);
            break;
        }
        modalOpen(ch, st);
        int yes = diSOAskYesNo(&ch->hdr, nullptr, text);
        free(text);
        if (!modalReturn(ch, st)) return;
        uint8_t* f;
        size_t n;
        int e = diLAIPEncodeYesNo(id, uint8_t(yes ? 1 : 0), &f, &n);
        sendFrame(ch, f, n, e);
        return;
    }
    case 13: {
        DiChar* text = r.text();
        free(text);
        if (!r.bad && st->timer) {
            diTimerRemove(st->timer);
            st->timer = nullptr;
        }
        break;
    }
    default:
        return; /* no handler: skipped */
    }
    if (r.bad) diLogErrorText(u"Login dialog: a malformed frame was skipped");
}

void diLAIPRunDialog(DiChannel* ch, DiLAIPDialog* d) {
    LaipState* st = findState(ch);
    if (!st) return;
    DiLAIPReply reply;
    memset(&reply, 0, sizeof reply);
    diDEReportState(ch, DI_PROG_AUTHENTICATING, 0);
    DiLAIPField* f0 = diLAIPFindField(d, 0);
    uint16_t kind = f0 ? (f0->value ? f0->value : 1) : 1;
    if (f0 && (kind == 1 || kind == 2) && diSOIsLaunchDialogPending()) {
        diSOCancelLaunchDialogTimer();
        if (DiObject* p = progressOf(ch)) {
            diProgSetState(p, DI_PROG_STARTING, 0);
            ddUIShowObjectWindow(p, 1);
        }
    }
    bool ownDialog = d->lastMethod == 0 && f0 && kind != 1;
    if (ownDialog && kind == 3) {
        diSOContinueLaunchOnRoute(ch, d);
        return;
    }
    int ok = 0;
    modalOpen(ch, st);
    if (ownDialog) {
        if (kind == 2) ok = ddDlgChangePasswordForObject(&ch->hdr, d, &reply);
    } else {
        ok = ddDlgAuthenticateForObject(&ch->hdr, d, &reply);
    }
    if (!modalReturn(ch, st)) {
        diLAIPReplyFree(&reply);
        return;
    }
    if (!ok) {
        diLAIPReplyFree(&reply);
        endExchange(ch, END_CANCEL);
        return;
    }
    if (reply.method == 0 && f0) reply.kind = kind;
    diSOSetLaunchState(&ch->hdr, DI_PROG_WAITING);
    diSOSetLaunchRoute(ch, d);
    if (DiObject* p = progressOf(ch)) diProgSetState(p, DI_PROG_WAITING, 0);
    uint8_t* frame;
    size_t n;
    int e = diLAIPEncodeAnswer(d->requestType == 3 ? 3 : 21, &reply, &frame, &n);
    diLAIPReplyFree(&reply);
    sendFrame(ch, frame, n, e);
}

void diLAIPFreeDialogState(DiChannel* ch) {
    if (ch) endExchange(ch, END_FREE);
}

int diLAIPReceive(DiChannel* ch) {
    LaipState* st = findState(ch);
    if (!st) return 0;
    st->done = 0;
    diDEChannelSliceStart(ch);
    diUIObjectRef(&ch->hdr);
    int result = 0;
    for (;;) {
        st = findState(ch);
        if (!st || st->modal) break;
        dropHandled(ch, st);
        DiBuffer* b = &ch->in;
        bool ended = false;
        while (b->used < DI_LAIP_HEADER) {
            int r = diIOFill(b, ch->socket);
            if (r < 0) ended = true;
            if (r <= 0) break;
        }
        if (b->used < DI_LAIP_HEADER) {
            if (ended) {
                endExchange(ch, END_CLOSED);
                result = -1;
            }
            break;
        }
        uint32_t need = DI_LAIP_HEADER + uint32_t(b->data[10] | b->data[11] << 8);
        if (b->limit && need > b->limit) {
            /* It could never become whole: waiting would wait for ever. */
            diLogErrorText(u"Login dialog: a frame larger than the channel's input limit; "
                           u"the channel is closed");
            endExchange(ch, END_FREE);
            diDEChannelDisconnected(ch);
            result = -1;
            break;
        }
        if (diIOReserve(b, need) < 0) {
            result = -1;
            break;
        }
        while (b->used < need) {
            int r = diIOFill(b, ch->socket);
            if (r < 0) ended = true;
            if (r <= 0) break;
        }
        if (b->used < need) {
            if (ended) {
                endExchange(ch, END_CLOSED);
                result = -1;
            }
            break;
        }
        uint16_t type = uint16_t(b->data[8] | b->data[9] << 8);
        /* The handlers may run dialogs whose loops touch the buffer: they
         * get their own copy of the payload. */
        size_t n = need - DI_LAIP_HEADER;
        uint8_t* payload = static_cast<uint8_t*>(malloc(n ? n : 1));
        if (!payload) {
            result = -1;
            break;
        }
        memcpy(payload, b->data + DI_LAIP_HEADER, n);
        st->handled = need;
        if (type < 24) diLAIPHandleFrame(ch, type, payload, n);
        memset(payload, 0, n);
        free(payload);
        st = findState(ch);
        if (!st || st->done) break;
        if (diDEChannelSliceOver(ch)) break;
    }
    diUIObjectRelease(&ch->hdr);
    return result;
}
