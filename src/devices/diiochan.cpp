/* The IO request channel (see diiochan.h). */
#include "devices/diiochan.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "net/dinet.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

DiIORequestHandler diIOFileHandlers[26];
DiIORequestHandler diIOAudioHandlers[7];

namespace {

enum : uint8_t {
    MSG_ACK = 1,
    MSG_HELLO = 3,
    MSG_ACK_REQUEST = 4,
    MSG_START = 5,
    MSG_DATA = 7,
    MSG_KEEPALIVE = 8,
    MSG_SESSION_OPEN = 9,
    MSG_SESSION_CLOSE = 10,
};

enum : uint8_t {
    FLAG_ACK = 1,
    FLAG_COMPRESSED = 2,
    FLAG_STREAM = 4,
};

const uint32_t kStreamStep = 16384;

} // namespace

/* One request being assembled on one stream of one channel. */
struct DiIOStream {
    uint16_t id;
    uint32_t total, kind, code;
    uint8_t* buffer;
    uint32_t capacity;
    uint32_t missing, fill;
    uint32_t discard; /* bytes of a refused request still to count off */
    uint32_t begun;   /* the channel's request count when this one began */
};

/* A channel's reassembly records. Every record that exists has had a
 * request; one whose request is whole keeps its buffer for the next. The
 * records and the bytes of their buffers are capped: a server that begins
 * requests without finishing them costs the oldest of them, never more
 * memory. */
struct DiIOStreams {
    DiIOStream records[DI_IO_MAX_STREAMS];
    uint32_t count;
    uint32_t held;  /* bytes of all buffers */
    uint32_t begun; /* requests begun on the channel */
};

namespace {

void logText(const DiChar* format, std::initializer_list<DiFmtArg> args) {
    DiChar line[160];
    if (diFormatPositional(line, DI_COUNTOF(line), format, args) >= 0) diLogErrorText(line);
}

bool unfinished(const DiIOStream* r) {
    return r->missing || r->discard;
}

void resetStream(DiIOStream* r) {
    r->missing = r->fill = r->total = r->kind = r->discard = 0;
    r->code = 0xFFFF;
}

/* Sends the 24-byte failure reply without compression, so that a deflate
 * that keeps failing cannot recurse. */
void sendFailure(DiIOChannel* io, uint16_t stream) {
    uint8_t reply[24] = {};
    diIOPut32(reply, sizeof reply);
    diIOPut16(reply + 4, DI_IO_KIND_FILE);
    diIOPut32(reply + 12, 200);
    diIOPut32(reply + 20, 5);
    diIOWriteFrame(io, MSG_DATA, sizeof reply, reply, 0, stream);
}

void freeBuffer(DiIOStreams* set, DiIOStream* r) {
    set->held -= r->capacity;
    free(r->buffer);
    r->buffer = nullptr;
    r->capacity = 0;
}

/* The unfinished request that began first, other than `keep`; none when
 * there is no other. */
DiIOStream* oldestUnfinished(DiIOStreams* set, const DiIOStream* keep) {
    DiIOStream* oldest = nullptr;
    for (uint32_t i = 0; i < set->count; i++) {
        DiIOStream* r = &set->records[i];
        if (r == keep || !unfinished(r)) continue;
        if (!oldest || set->begun - r->begun > set->begun - oldest->begun) oldest = r;
    }
    return oldest;
}

/* Ends the request with the failure reply its server waits for. */
void dropRequest(DiIOChannel* io, DiIOStream* r, const DiChar* why) {
    logText(u"IO channel: %s; the request on stream %d dropped", {why, int(r->id)});
    resetStream(r);
    sendFailure(io, r->id);
}

/* The record of the stream, or a record taken for it: a free one, one whose
 * request is whole, else the oldest unfinished one, whose request ends. */
DiIOStream* findStream(DiIOChannel* io, uint16_t id) {
    DiIOStreams* set = io->streams;
    if (!set) {
        set = io->streams = static_cast<DiIOStreams*>(calloc(1, sizeof(DiIOStreams)));
        if (!set) return nullptr;
    }
    DiIOStream* idle = nullptr;
    for (uint32_t i = 0; i < set->count; i++) {
        DiIOStream* r = &set->records[i];
        if (r->id == id) return r;
        if (!idle && !unfinished(r)) idle = r;
    }
    DiIOStream* r = set->count < DI_IO_MAX_STREAMS ? &set->records[set->count++] : idle;
    if (!r) {
        r = oldestUnfinished(set, nullptr);
        dropRequest(io, r, u"too many unfinished requests");
    }
    /* A taken record keeps its buffer for the next request. */
    r->id = id;
    resetStream(r);
    return r;
}

/* Makes room for `need` bytes in the record, within the channel's budget:
 * the buffers of whole requests go first, then the oldest unfinished
 * requests. False when memory ran out. */
bool reserve(DiIOChannel* io, DiIOStream* r, uint32_t need) {
    if (need <= r->capacity) return true;
    DiIOStreams* set = io->streams;
    uint32_t cap = (need + kStreamStep - 1) / kStreamStep * kStreamStep;
    for (uint32_t i = 0; i < set->count && set->held - r->capacity + cap > DI_IO_MAX_HELD; i++)
        if (&set->records[i] != r && !unfinished(&set->records[i]))
            freeBuffer(set, &set->records[i]);
    while (set->held - r->capacity + cap > DI_IO_MAX_HELD) {
        DiIOStream* victim = oldestUnfinished(set, r);
        if (!victim) return false;
        dropRequest(io, victim, u"unfinished requests hold too many bytes");
        freeBuffer(set, victim);
    }
    uint8_t* grown = static_cast<uint8_t*>(realloc(r->buffer, cap));
    if (!grown) return false;
    set->held += cap - r->capacity;
    r->buffer = grown;
    r->capacity = cap;
    return true;
}

/* The kind each channel type serves: a request of another kind would be
 * read as the wrong type's state. */
uint32_t kindOfType(uint32_t type) {
    switch (type) {
    case DI_OBJ_CDM:
        return DI_IO_KIND_FILE;
    case DI_OBJ_AUDIO:
        return DI_IO_KIND_AUDIO;
    case DI_OBJ_DEVLIST:
        return DI_IO_KIND_DEVICE;
    default:
        return 0;
    }
}

void dispatch(DiIOChannel* io, uint32_t kind, uint32_t code, const uint8_t* payload,
              uint32_t length, uint16_t stream) {
    if (kind != kindOfType(io->ch.hdr.type)) {
        logText(u"IO channel: request of kind %d on a channel of type %d dropped",
                {int(kind), int(io->ch.hdr.type)});
        return;
    }
    DiIORequestHandler h = nullptr;
    if (kind == DI_IO_KIND_DEVICE) {
        diIAIPHandleRequest(io, payload, length, stream);
        return;
    }
    if (kind == DI_IO_KIND_AUDIO && code < DI_COUNTOF(diIOAudioHandlers))
        h = diIOAudioHandlers[code];
    if (kind == DI_IO_KIND_FILE && code < DI_COUNTOF(diIOFileHandlers)) h = diIOFileHandlers[code];
    if (h) h(io, payload, length, stream);
}

/* Stores one fragment; true when it completed a request, which the record
 * then describes. A fragment that does not fit its request resets the
 * record: its bytes are never copied past the buffer nor read as a header.
 * The buffer grows with the bytes that arrived, never ahead of them to the
 * length the header announces. */
bool storeFragment(DiIOChannel* io, DiIOStream* r, const uint8_t* data, uint32_t n) {
    if (r->discard) {
        if (n > r->discard) {
            diLogErrorText(u"IO channel: a fragment longer than the refused request; reset");
            resetStream(r);
        } else if ((r->discard -= n) == 0) {
            resetStream(r);
        }
        return false;
    }
    if (r->missing == 0) {
        DiIOCursor c(data, n);
        uint32_t total = c.u32(), kind = c.u32();
        c.u32();
        uint32_t code = c.u32();
        c.u32();
        if (!c.ok) {
            logText(u"IO channel: request of %d bytes shorter than its header dropped", {int(n)});
            return false;
        }
        if (total == 0) total = DI_IO_REQ_HEADER;
        uint32_t body = n - DI_IO_REQ_HEADER;
        if (total < DI_IO_REQ_HEADER || total > DI_IO_MAX_REQUEST ||
            body > total - DI_IO_REQ_HEADER) {
            logText(u"IO channel: request length %u does not fit its fragment of %u bytes; dropped",
                    {total, n});
            return false;
        }
        r->total = total, r->kind = kind, r->code = code;
        r->missing = total - DI_IO_REQ_HEADER;
        r->begun = io->streams->begun++;
        data = c.p, n = body;
    } else if (n > r->missing) {
        logText(u"IO channel: fragment of %u bytes for %u missing; request dropped",
                {n, r->missing});
        resetStream(r);
        return false;
    }
    if (!reserve(io, r, r->fill + n)) {
        diLogErrorText(u"IO channel: no memory for a request; its rest is skipped");
        uint32_t rest = r->missing - n;
        resetStream(r);
        r->discard = rest;
        return false;
    }
    if (n) memcpy(r->buffer + r->fill, data, n);
    r->fill += n;
    r->missing -= n;
    return r->missing == 0;
}

void onData(DiIOChannel* io, const uint8_t* msg, uint32_t len) {
    DiIOCursor c(msg, len);
    c.u8();
    c.u16();
    uint8_t flags = c.u8();
    c.u16();
    uint16_t stream = c.u16();
    if (!(flags & FLAG_STREAM)) stream = 0;
    uint32_t rawLength = (flags & FLAG_COMPRESSED) ? c.u16() : 0;
    if (!c.ok) {
        diLogErrorText(u"IO channel: data message shorter than its header dropped");
        return;
    }
    DiIOStream* r = findStream(io, stream);
    if (!r) return;
    const uint8_t* data = c.p;
    uint32_t n = c.left;
    uint8_t* inflated = nullptr;
    bool failed = false;
    if (flags & FLAG_COMPRESSED) {
        inflated = static_cast<uint8_t*>(malloc(rawLength ? rawLength : 1));
        uint32_t room = rawLength, used = n;
        failed = !inflated || diDEInflateBegin(&io->ch, n, rawLength) < 0 ||
                 diDEInflateBlock(&io->ch, inflated, data, &room, &used) != 1 || room != rawLength;
        data = inflated, n = rawLength;
        if (failed) {
            /* The stream's state is unknown now: the next block starts anew,
             * and a request this fragment belonged to cannot be whole. */
            diDEInflateEnd(&io->ch);
            resetStream(r);
            diLogErrorText(u"IO channel: a compressed message did not inflate");
        }
    }
    bool complete = !failed && storeFragment(io, r, data, n);
    free(inflated);
    /* The server may hold the next fragment until it hears the ack. */
    if (flags & FLAG_ACK) diIOSendAck(io);
    if (failed) {
        sendFailure(io, stream);
        return;
    }
    if (!complete) return;
    uint32_t kind = r->kind, code = r->code, length = r->total - DI_IO_REQ_HEADER;
    const uint8_t* payload = r->buffer;
    resetStream(r);
    /* The buffer stays the record's until a later message on this channel. */
    dispatch(io, kind, code, payload, length, stream);
}

void onHello(DiIOChannel* io, const uint8_t* msg, uint32_t len) {
    DiIOCursor c(msg, len);
    c.bytes(3);
    uint8_t flags = c.u8();
    c.bytes(4);
    uint8_t count = c.u8();
    c.u32();
    uint8_t compression = c.u8();
    if (!c.ok) {
        diLogErrorText(u"IO channel: hello shorter than its fields ignored");
        return;
    }
    if (count >= 9) {
        uint32_t threshold = c.u32();
        if (c.ok) io->compressThreshold = threshold;
    }
    if (count >= 13) {
        uint32_t seconds = c.u32();
        if (c.ok) {
            /* Seconds in 64 bits: the timer list orders delays below 2^31 ms
             * only, and a wrapped product would be a shorter interval. */
            uint64_t ms = uint64_t(seconds) * 1000;
            io->keepAliveMs = ms > 0x7FFFFFFF ? 0x7FFFFFFFu : uint32_t(ms);
            if (io->keepAlive) diTimerRemove(io->keepAlive);
            io->keepAlive = nullptr;
            if (io->keepAliveMs) {
                io->keepAlive = diTimerAdd(
                    io->keepAliveMs,
                    [](void* arg) -> uint32_t {
                        DiIOChannel* ch = static_cast<DiIOChannel*>(arg);
                        diIOSendKeepAlive(ch);
                        return ch->keepAliveMs;
                    },
                    io);
            }
        }
    }
    io->compressOn = compression == 1;
    diIOSendHello(io);
    if (flags & FLAG_ACK) diIOSendAck(io);
}

} // namespace

void diIOChannelInit(DiIOChannel* io) {
    io->ch.in.limit = DI_IO_IN_LIMIT;
    io->ch.out.limit = DI_IO_OUT_LIMIT;
    io->compressThreshold = DI_IO_THRESHOLD;
    io->compressOn = 0;
    io->compressOffer = 1;
    io->keepAliveMs = 0;
    io->keepAlive = nullptr;
    io->ch.hdr.handler = diIOChannelEvent;
}

static void dropStreams(DiIOChannel* io) {
    DiIOStreams* set = io->streams;
    io->streams = nullptr;
    for (uint32_t i = 0; set && i < set->count; i++)
        free(set->records[i].buffer);
    free(set);
}

void diIOChannelTeardown(DiIOChannel* io) {
    if (io->keepAlive) diTimerRemove(io->keepAlive);
    io->keepAlive = nullptr;
    for (DiChar*& t : io->texts) {
        free(t);
        t = nullptr;
    }
    dropStreams(io);
    free(io->deflated);
    io->deflated = nullptr;
    diDEDeflateEnd(&io->ch);
}

void diIOChannelConnectionLost(DiIOChannel* io) {
    if (io->keepAlive) diTimerRemove(io->keepAlive);
    io->keepAlive = nullptr;
    /* The channel outlives its connection and may be connected again: what
     * the server set up over this one ends with it, or the next connection
     * would find its first request appended to a stale fragment, its first
     * deflated message read as the old stream's continuation, replies of
     * the old sessions' requests arriving under CompletionIds it reuses,
     * and the old server's files held open, locked against the user's own
     * programs and reachable through the slot numbers it reuses. */
    for (uint32_t s = 0; io->sessionClose && s <= 0xFFFF; s++)
        io->sessionClose(io, uint16_t(s));
    if (io->connectionEnded) io->connectionEnded(io);
    dropStreams(io);
    diDEInflateEnd(&io->ch);
}

int diIOChannelEvent(DiObject* obj, DiEvent* ev) {
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(obj);
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        if (diIOReadMessages(io) < 0) {
            diDEChannelDisconnected(&io->ch);
            diIOChannelConnectionLost(io);
        }
        break;
    case DI_EV_WRITABLE:
        diIOFlush(&io->ch.out, io->ch.socket);
        break;
    default:
        break;
    }
    return 0;
}

void diIOHandleMessage(DiIOChannel* io, const uint8_t* msg, uint32_t len) {
    if (len < DI_IO_HEADER) return;
    switch (msg[0]) {
    case MSG_HELLO:
        onHello(io, msg, len);
        break;
    case MSG_ACK_REQUEST:
        diIOSendAck(io);
        break;
    case MSG_DATA:
        onData(io, msg, len);
        break;
    case MSG_SESSION_OPEN:
    case MSG_SESSION_CLOSE: {
        DiIOCursor c(msg, len);
        c.bytes(6);
        uint8_t session = c.u8();
        if (!c.ok) break;
        DiIOSessionHook hook = msg[0] == MSG_SESSION_OPEN ? io->sessionOpen : io->sessionClose;
        if (hook) hook(io, session);
        break;
    }
    default:
        break;
    }
}

int diIOReadMessages(DiIOChannel* io) {
    DiChannel* ch = &io->ch;
    diDEChannelSliceStart(ch);
    diUIObjectRef(&ch->hdr);
    int result = 0;
    for (;;) {
        const uint8_t* msg = nullptr;
        int n = diIOReadMessage(&ch->in, ch->socket, &msg);
        if (n <= 0) {
            result = n < 0 ? -1 : 0;
            break;
        }
        /* Handlers send replies but never read: the message stays in place. */
        diIOHandleMessage(io, msg, uint32_t(n));
        diIOReadDone(&ch->in);
        if (diDEChannelSliceOver(ch)) break;
    }
    diUIObjectRelease(&ch->hdr);
    return result;
}

int diIOWriteFrame(DiIOChannel* io, uint8_t type, uint32_t length, const uint8_t* data,
                   uint32_t rawLength, uint16_t stream) {
    uint32_t head = rawLength ? 10 : 8;
    if (length > DI_IO_OUT_LIMIT - head) {
        logText(u"IO channel: reply of %u bytes cannot be framed; not sent", {length});
        return -1;
    }
    uint8_t frame[10];
    frame[0] = type;
    diIOPut16(frame + 1, length + head - 3);
    frame[3] = uint8_t((stream ? FLAG_STREAM : 0) | (rawLength ? FLAG_COMPRESSED : 0));
    frame[4] = frame[5] = 0;
    diIOPut16(frame + 6, stream);
    if (rawLength) diIOPut16(frame + 8, rawLength);
    int r = diIOWriteParts(&io->ch.out, io->ch.socket, frame, head, data, length);
    return r < 0 ? -1 : 0;
}

int diIOSendStart(DiChannel* ch) {
    return diIOWriteFrame(reinterpret_cast<DiIOChannel*>(ch), MSG_START, 0, nullptr, 0, 0);
}

int diIOSendHello(DiIOChannel* io) {
    uint8_t hello[6] = {5};
    diIOPut32(hello + 1, DI_IO_CLIENT_VERSION);
    hello[5] = io->compressOffer;
    return diIOWriteFrame(io, MSG_HELLO, sizeof hello, hello, 0, 0);
}

int diIOSendAck(DiIOChannel* io) {
    return diIOWriteFrame(io, MSG_ACK, 0, nullptr, 0, 0);
}

int diIOSendKeepAlive(DiIOChannel* io) {
    return diIOWriteFrame(io, MSG_KEEPALIVE, 0, nullptr, 0, 0);
}

int diIOSendData(DiIOChannel* io, uint32_t length, const uint8_t* data, uint16_t stream) {
    if (io->compressOn && int32_t(length) > int32_t(io->compressThreshold)) {
        /* Worth sending deflated only when smaller and framed within the
         * output limit: the deflated size may not reach either bound. The
         * room is the channel's, kept from reply to reply. Data that do not
         * deflate (already compressed or encrypted) would pay a whole
         * deflate for nothing: a long reply goes on only when its first
         * bytes shrink. */
        enum : uint32_t { ROOM = DI_IO_OUT_LIMIT - 10, HEAD = 2048 };
        uint32_t room = length < ROOM ? length : ROOM;
        if (!io->deflated) io->deflated = static_cast<uint8_t*>(malloc(ROOM));
        uint32_t used = length;
        int r = io->deflated ? diDEDeflateWhole(&io->ch, io->deflated, data, &room, &used,
                                                length > 4 * HEAD ? uint32_t(HEAD) : 0u)
                             : -1;
        if (r < 0) {
            diLogErrorText(u"IO channel: a reply did not deflate");
            sendFailure(io, stream);
            return -1;
        }
        if (r == 1 && used == length && room < length)
            return diIOWriteFrame(io, MSG_DATA, room, io->deflated, length, stream);
    }
    return diIOWriteFrame(io, MSG_DATA, length, data, 0, stream);
}

static int diIOKindReply(DiIOChannel* io, uint32_t kind, uint32_t code, uint32_t value,
                         uint32_t length, const uint8_t* payload, uint16_t stream) {
    if (length > DI_IO_MAX_REPLY) return -1;
    uint32_t total = length + DI_IO_REQ_HEADER;
    uint8_t* reply = static_cast<uint8_t*>(calloc(1, total));
    if (!reply) return -1;
    diIOPut32(reply, total);
    diIOPut16(reply + 4, kind);
    diIOPut32(reply + 12, code);
    diIOPut32(reply + 16, value);
    if (length) memcpy(reply + DI_IO_REQ_HEADER, payload, length);
    int r = diIOSendData(io, total, reply, stream);
    free(reply);
    return r;
}

int diIOFileReply(DiIOChannel* io, uint32_t code, uint32_t value, uint32_t length,
                  const uint8_t* payload, uint16_t stream) {
    return diIOKindReply(io, DI_IO_KIND_FILE, code, value, length, payload, stream);
}

int diIOAudioReply(DiIOChannel* io, uint32_t code, uint32_t value, uint32_t length,
                   const uint8_t* payload, uint16_t stream) {
    return diIOKindReply(io, DI_IO_KIND_AUDIO, code, value, length, payload, stream);
}
