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

/* Invariants: consumed <= used <= allocated; allocated <= limit when the
 * limit is not 0. A limit of 0 means no ceiling for reading and refuses
 * every write. */
struct DiBuffer {
    uint8_t* data;
    uint32_t limit;
    uint32_t allocated;
    uint32_t used;
    uint32_t consumed; /* length of the message last handed out, 0 none */
};

enum : uint32_t {
    DI_IO_FIRST_ALLOC = 16384,
    DI_IO_HEADER = 3,
    DI_IO_MAX_MESSAGE = 65535 + 3,
};

/* Grows the data block: 0, or -1 leaving the buffer (and its bytes) as it
 * was. A size above a non-zero limit is refused. */
int diIOReserve(DiBuffer* b, uint32_t size);
/* Bytes received, 0 when nothing could be read, -1 at end of stream or on
 * error. */
int diIOFill(DiBuffer* b, DdSocket* s);
/* Length of the whole message (payload + 3) with *msg at its type byte, 0
 * when no whole message is present yet, -1 on error (including a message
 * longer than a non-zero limit). *msg stays valid until the next read or
 * diIOReadDone on this buffer. */
int diIOReadMessage(DiBuffer* b, DdSocket* s, const uint8_t** msg);
void diIOReadDone(DiBuffer* b);
/* Appends one complete, already framed message and starts sending: 0 or -1.
 * When the buffer has no room the writer waits for the socket to take bytes,
 * at most diIOWriteTimeoutMs in all. */
int diIOWriteMessage(DiBuffer* b, DdSocket* s, const void* bytes, uint32_t len);
/* Sends what the socket takes: 0 or -1. */
int diIOFlush(DiBuffer* b, DdSocket* s);
/* Frees the data; the limit stays. */
void diIOBufferFree(DiBuffer* b);

/* Longest total wait of a writer for room in its output buffer. */
extern uint32_t diIOWriteTimeoutMs;

#endif
