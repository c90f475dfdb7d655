/* Message buffers and AIP framing.
 *
 * An input buffer accumulates received bytes until one whole message is
 * present; an output buffer collects whole messages and drains to the socket
 * as fast as it takes them. A message is a type byte, a 16-bit little-endian
 * payload length n and n payload bytes (n + 3 bytes in all). */
#ifndef HV_DIIO_H
#define HV_DIIO_H

#include "didep.h"

struct DdSocket;

/* The buffered bytes are data[0, used) and data[used, allocated) is free
 * room; data may sit past the start of the block (base) after messages were
 * read or sent, so that taking bytes off the front moves nothing. The bytes
 * are moved back to base only when the room behind them runs short.
 * Invariants: consumed <= used <= allocated; data - base + allocated <= limit
 * when the limit is not 0. A limit of 0 means no ceiling for reading and
 * refuses every write. */
struct DiBuffer {
    uint8_t* data;
    uint32_t limit;
    uint32_t allocated; /* room from data to the end of the block */
    uint32_t used;
    uint32_t consumed; /* length of the message last handed out, 0 none */
    uint8_t* base;     /* the allocated block, owned by the buffer */
};

enum : uint32_t {
    DI_IO_FIRST_ALLOC = 16384,
    DI_IO_HEADER = 3,
    DI_IO_MAX_MESSAGE = 65535 + 3,
    /* The receive room of a buffer without a limit. */
    DI_IO_RECV_ROOM = 2 * DI_IO_MAX_MESSAGE,
};

/* Makes allocated at least size (moving the bytes to the block's start or
 * growing it): 0, or -1 leaving the bytes as they were. A size above a
 * non-zero limit is refused. */
int diIOReserve(DiBuffer* b, uint32_t size);
/* Bytes received, 0 when nothing could be read, -1 at end of stream or on
 * error. */
int diIOFill(DiBuffer* b, DdSocket* s);
/* Length of the whole message (payload + 3) with *msg at its type byte, 0
 * when no whole message is present yet, -1 on error (including a message
 * longer than a non-zero limit). *msg stays valid until the next read or
 * diIOReadDone on this buffer. */
inline int diIOReadMessage(DiBuffer* b, DdSocket* s, const uint8_t** msg);
/* diIOReadMessage when the next message is not already whole behind the one
 * handed out last. */
int diIOReadMessageFill(DiBuffer* b, DdSocket* s, const uint8_t** msg);
void diIOReadDone(DiBuffer* b);
/* Appends one complete, already framed message and starts sending: 0 or -1.
 * When the buffer has no room the writer waits for the socket to take bytes,
 * at most diIOWriteTimeoutMs in all; then the socket is closed and its owner
 * gets DI_EV_CLOSED from a 0 ms timer, as when the peer drops. */
int diIOWriteMessage(DiBuffer* b, DdSocket* s, const void* bytes, uint32_t len);
/* diIOWriteMessage of the message made of head[0, headLen) followed by
 * body[0, bodyLen): a framing header goes in front of a payload without
 * first joining the two in a block of their own. */
int diIOWriteParts(DiBuffer* b, DdSocket* s, const void* head, uint32_t headLen, const void* body,
                   uint32_t bodyLen);
/* Sends what the socket takes: 0 or -1. */
int diIOFlush(DiBuffer* b, DdSocket* s);
/* Frees the data; the limit stays. */
void diIOBufferFree(DiBuffer* b);

/* Small messages arrive many to a receive: taking the next one off the
 * front needs no call. */
inline int diIOReadMessage(DiBuffer* b, DdSocket* s, const uint8_t** msg) {
    uint32_t done = b->consumed, rest = b->used - done;
    if (done && rest >= DI_IO_HEADER) {
        const uint8_t* m = b->data + done;
        uint32_t total = (uint32_t(m[1]) | uint32_t(m[2]) << 8) + DI_IO_HEADER;
        if (total <= rest && (b->limit == 0 || total <= b->limit)) {
            b->data += done;
            b->allocated -= done;
            b->used = rest;
            b->consumed = total;
            *msg = m;
            return int(total);
        }
    }
    return diIOReadMessageFill(b, s, msg);
}

/* Longest total wait of a writer for room in its output buffer. */
extern uint32_t diIOWriteTimeoutMs;

#endif
