/* The IO request channel shared by drive mapping (type 12), audio (15) and
 * the device channel (16): the hello that switches compression and the
 * keep-alive, reassembly of requests that span several data messages,
 * inflation, acknowledgements, dispatch of complete requests by kind, and
 * replies, deflated when that pays. GUI thread only. */
#ifndef HV_DIIOCHAN_H
#define HV_DIIOCHAN_H

#include "core/dide.h"

struct DiTimer;
struct DiIOChannel;
struct DiIOStreams;

typedef void (*DiIOSessionHook)(DiIOChannel* io, uint16_t session);
/* A complete request of kind 1 or 0x10: its payload (the bytes after the
 * 20-byte header) and the payload length. */
typedef void (*DiIORequestHandler)(DiIOChannel* io, const uint8_t* payload, uint32_t length,
                                   uint16_t stream);

struct DiIOChannel {
    DiChannel ch;
    uint32_t compressThreshold; /* replies longer than this are deflated */
    uint8_t compressOn;         /* set by the server hello */
    uint8_t compressOffer;      /* last byte of the client hello */
    uint32_t keepAliveMs;       /* 0: none */
    DiTimer* keepAlive;
    DiIOSessionHook sessionOpen;  /* message 9, or none */
    DiIOSessionHook sessionClose; /* message 10, or none */
    DiChar* texts[3];             /* owned */
    void* priv;                   /* the type's state */
    uint32_t pending;             /* references held by requests in flight */
    uint8_t* deflated;            /* room for one deflated reply, made on first use */
    DiIOStreams* streams;         /* requests being reassembled, made on first use */
    uint32_t workers;             /* device requests running on worker threads */
    /* The connection ended: the type lets go of what the server opened
     * over it. None: nothing to let go. */
    void (*connectionEnded)(DiIOChannel* io);
};

enum : uint32_t {
    DI_IO_IN_LIMIT = 65535,
    DI_IO_OUT_LIMIT = 61472,
    DI_IO_THRESHOLD = 256,
    DI_IO_REQ_HEADER = 20,
    /* Largest reply data that fits one frame of the output limit. */
    DI_IO_MAX_REPLY = DI_IO_OUT_LIMIT - 8,
    /* Largest read or output buffer a request may ask for: its reply (20
     * header bytes and 12 body bytes in front) must fit one frame. */
    DI_IO_MAX_TRANSFER = DI_IO_MAX_REPLY - 32,
    /* Largest request the reassembly accepts. */
    DI_IO_MAX_REQUEST = 1u << 20,
    /* Per channel: the streams with a request being reassembled, and the
     * bytes their buffers hold. A server sends a request's fragments one
     * after another, interleaving only the streams of concurrent sessions;
     * eight requests of the largest size fit at once. */
    DI_IO_MAX_STREAMS = 64,
    DI_IO_MAX_HELD = 8u << 20,
    DI_IO_CLIENT_VERSION = 431953,
};

enum : uint32_t {
    DI_IO_KIND_FILE = 1,
    DI_IO_KIND_AUDIO = 0x10,
    DI_IO_KIND_DEVICE = 0x20,
};

/* Request tables of drive mapping (codes 0-25) and audio (0-6); an empty
 * entry gets no answer. Filled by their subsystems. */
extern DiIORequestHandler diIOFileHandlers[26];
extern DiIORequestHandler diIOAudioHandlers[7];
/* The device channel's entry for complete kind-0x20 requests. */
void diIAIPHandleRequest(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream);

/* Sets the fields of a fresh channel of type 12, 15 or 16 (after the base
 * initialiser): buffer limits, threshold 256, compression off, offer 1. */
void diIOChannelInit(DiIOChannel* io);
/* Removes the keep-alive timer, frees the texts and the channel's
 * reassembly records. */
void diIOChannelTeardown(DiIOChannel* io);
/* The connection ended (the channel stays): ends every session and what
 * the type holds for the server, drops the channel's reassembly records,
 * the inflate stream and the keep-alive. */
void diIOChannelConnectionLost(DiIOChannel* io);
/* Event handler shape shared by the three types: 0 and 2 read (a failure
 * marks the channel disconnected), 1 flushes. Always 0. */
int diIOChannelEvent(DiObject* obj, DiEvent* ev);

/* The read loop: negative when the connection failed, else 0. */
int diIOReadMessages(DiIOChannel* io);
/* Handles one whole framed message (type byte first). */
void diIOHandleMessage(DiIOChannel* io, const uint8_t* msg, uint32_t len);

int diIOSendStart(DiChannel* ch);
int diIOSendHello(DiIOChannel* io);
int diIOSendAck(DiIOChannel* io);
int diIOSendKeepAlive(DiIOChannel* io);
/* One reply as message 7, deflated when worthwhile: 0, or -1 when it was
 * not sent (it cannot be framed, or the buffer refused it). */
int diIOSendData(DiIOChannel* io, uint32_t length, const uint8_t* data, uint16_t stream);
/* rawLength 0: the data are not compressed. */
int diIOWriteFrame(DiIOChannel* io, uint8_t type, uint32_t length, const uint8_t* data,
                   uint32_t rawLength, uint16_t stream);
/* A 20-byte header of kind 1 or 0x10 in front of the payload. */
int diIOFileReply(DiIOChannel* io, uint32_t code, uint32_t value, uint32_t length,
                  const uint8_t* payload, uint16_t stream);
int diIOAudioReply(DiIOChannel* io, uint32_t code, uint32_t value, uint32_t length,
                   const uint8_t* payload, uint16_t stream);

/* Little-endian reads through one checked cursor: after the first short read
 * every getter returns 0 and `ok` stays false. */
struct DiIOCursor {
    const uint8_t* p;
    uint32_t left;
    bool ok;

    DiIOCursor(const uint8_t* data, uint32_t length) : p(data), left(length), ok(true) {}
    bool need(uint32_t n) {
        if (!ok || left < n) ok = false;
        return ok;
    }
    uint8_t u8() {
        if (!need(1)) return 0;
        left--;
        return *p++;
    }
    uint16_t u16() {
        if (!need(2)) return 0;
        uint16_t v = uint16_t(p[0] | p[1] << 8);
        p += 2, left -= 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4, left -= 4;
        return v;
    }
    uint64_t u64() {
        uint64_t lo = u32();
        return lo | uint64_t(u32()) << 32;
    }
    const uint8_t* bytes(uint32_t n) {
        if (!need(n)) return nullptr;
        const uint8_t* at = p;
        p += n, left -= n;
        return at;
    }
};

inline void diIOPut16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
}
inline void diIOPut32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

#endif
