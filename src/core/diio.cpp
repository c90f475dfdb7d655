/* Message buffers and AIP framing (see diio.h). */
#include "core/diio.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/dinet.h"
#include "ui/diui.h"

#include <chrono>
#include <stdlib.h>
#include <string.h>

uint32_t diIOWriteTimeoutMs = 30000;

/* Moves the buffered bytes to the start of the block, turning the space
 * before them into room. */
static void diIOCompact(DiBuffer* b) {
    uint32_t gap = uint32_t(b->data - b->base);
    if (gap == 0) return;
    if (b->used) memmove(b->base, b->data, b->used);
    b->data = b->base;
    b->allocated += gap;
}

/* Takes n bytes off the front. An emptied buffer starts again at the block's
 * start, which is free. */
static void diIODrop(DiBuffer* b, uint32_t n) {
    b->data += n;
    b->used -= n;
    b->allocated -= n;
    if (b->used == 0) diIOCompact(b);
}

int diIOReserve(DiBuffer* b, uint32_t size) {
    /* A message that cannot fit under the ceiling must fail here: rounding it
     * down to the limit would report success without the room asked for. */
    if (b->limit != 0 && size > b->limit) return -1;
    /* Small limits are allocated whole so that the buffer grows at most once. */
    uint32_t want = (b->limit >= 1 && b->limit <= DI_IO_FIRST_ALLOC) ? b->limit : size;
    if (want == 0) want = DI_IO_FIRST_ALLOC;
    if (want <= b->allocated) return 0;
    diIOCompact(b);
    if (want <= b->allocated) return 0;
    if (b->limit != 0 && want > b->limit) return -1;
    /* On failure realloc leaves the old block intact; keep it and its bytes. */
    uint8_t* p = static_cast<uint8_t*>(realloc(b->base, want));
    if (!p) return -1;
    b->base = b->data = p;
    b->allocated = want;
    return 0;
}

int diIOFill(DiBuffer* b, DdSocket* s) {
    if (!s) return -1;
    /* Moving the bytes costs no more than the bytes taken off since the last
     * move, so each byte is moved at most once on average. A message handed
     * out stays where it is until it is done. */
    uint32_t gap = uint32_t(b->data - b->base);
    if (gap && b->consumed == 0 && (gap >= b->used || b->used == b->allocated)) diIOCompact(b);
    uint32_t block = uint32_t(b->data - b->base) + b->allocated;
    if (block == 0 || (b->used == b->allocated && block < b->limit)) {
        /* Without a ceiling the first room holds two of the longest
         * messages: each receive is a system call (costly under emulation),
         * and a room of one message takes two of them for most messages. */
        uint64_t twice = b->limit == 0 ? uint64_t(DI_IO_RECV_ROOM) : uint64_t(block) * 2;
        if (b->limit != 0 && twice > b->limit) twice = b->limit;
        if (diIOReserve(b, uint32_t(twice)) < 0) return -1;
    }
    if (b->used == b->allocated) return 0;
    uint32_t room = b->allocated - b->used;
    if (room > 0x7fffffff) room = 0x7fffffff;
    int n = ddNetRecv(s, b->data + b->used, int(room));
    if (n > 0) {
        if (uint32_t(n) > room) return -1; /* a lying transport must not overrun */
        b->used += uint32_t(n);
        return n;
    }
    if (n == 0) return -1;
    return s->error == DD_NET_ERR_WOULD_BLOCK ? 0 : -1;
}

/* Drops the message handed out last. */
static void diIODiscard(DiBuffer* b) {
    if (b->consumed == 0) return;
    uint32_t n = b->consumed;
    b->consumed = 0;
    diIODrop(b, n);
}

void diIOReadDone(DiBuffer* b) {
    diIODiscard(b);
}

int diIOReadMessageFill(DiBuffer* b, DdSocket* s, const uint8_t** msg) {
    *msg = nullptr;
    diIODiscard(b);
    bool filled = false;
    if (b->used < DI_IO_HEADER) {
        if (diIOFill(b, s) < 0) return -1;
        filled = true;
        if (b->used < DI_IO_HEADER) return 0;
    }
    uint32_t total = (uint32_t(b->data[1]) | uint32_t(b->data[2]) << 8) + DI_IO_HEADER;
    if (b->limit != 0 && total > b->limit) {
        /* Such a message can never become whole; waiting for it would hang
         * the channel silently. */
        diLogErrorText(u"Message longer than the channel's buffer limit; closing the connection.");
        return -1;
    }
    if (b->used < total) {
        if (total > b->allocated && diIOReserve(b, total) < 0) return -1;
        if (!filled && diIOFill(b, s) < 0) return -1;
        if (b->used < total) return 0;
    }
    b->consumed = total;
    *msg = b->data;
    return int(total);
}

/* Sends what the socket takes of p[0, len): the count sent (0 when it takes
 * nothing now), or -1 when the socket failed. */
static int diIOSendSome(DdSocket* s, const uint8_t* p, uint32_t len) {
    if (len > 0x7fffffff) len = 0x7fffffff;
    int n = ddNetSend(s, p, int(len));
    if (n > 0) return uint32_t(n) > len ? int(len) : n;
    if (n == 0 || s->error == DD_NET_ERR_WOULD_BLOCK) return 0;
    return -1;
}

int diIOFlush(DiBuffer* b, DdSocket* s) {
    if (b->used == 0) return 0;
    if (!s) return -1;
    int n = diIOSendSome(s, b->data, b->used);
    if (n < 0) {
        ddNetSelectEvents(s, DD_NET_WRITE, 0);
        return -1;
    }
    diIODrop(b, uint32_t(n));
    /* Write events are wanted exactly while bytes wait. Asking again for
     * what is already registered would cost a call for every message. */
    bool waiting = b->used != 0, registered = (s->eventMask & DD_FD_WRITE) != 0;
    if (waiting != registered)
        ddNetSelectEvents(s, DD_NET_WRITE, waiting ? uint32_t(DD_NET_WRITE) : 0u);
    return 0;
}

static uint32_t diIOClockMs() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

/* The writers waiting for room, innermost first (they live on the stack). */
struct DiIOWaiter {
    const DiBuffer* buffer;
    DiIOWaiter* outer;
};
static DiIOWaiter* s_waiters;

static bool diIOIsWaiting(const DiBuffer* b) {
    for (const DiIOWaiter* w = s_waiters; w; w = w->outer)
        if (w->buffer == b) return true;
    return false;
}

/* Tells the owner of a socket closed for a stalled peer that its connection
 * is gone, from the event loop rather than inside the writer (which may run
 * in that owner's own handler). A socket opened again meanwhile belongs to a
 * new connection and is left alone. */
static uint32_t diIOReportStalled(void* arg) {
    DdSocket* s = static_cast<DdSocket*>(arg);
    if (!s->destroyed && s->owner && s->handle == DD_NET_NO_HANDLE) {
        DiEvent ev;
        memset(&ev, 0, sizeof ev);
        ev.w[0] = DI_EV_CLOSED;
        diUIDeliverEvent(s->owner, &ev);
    }
    diNetRelease(s);
    return 0;
}

/* A peer that took nothing for the whole time-out has stopped reading: its
 * connection is closed and its owner learns it as if the peer had dropped,
 * so that the next message to it fails at once instead of waiting again. */
static void diIOCloseStalled(DdSocket* s) {
    diLogErrorText(u"The peer has not read for too long; its connection is closed.");
    ddNetSocketClose(s);
    diNetHold(s);
    if (!diTimerAdd(0, diIOReportStalled, s)) diNetRelease(s);
}

/* Flushes until len more bytes fit under the limit. Between attempts the
 * writer waits for the socket to become writable instead of spinning, and
 * gives up after diIOWriteTimeoutMs in all, closing the connection.
 *
 * Timers run during the wait and may close or destroy the channel, freeing
 * the buffer with it. The hold keeps the socket object readable across the
 * wait; a socket destroyed, closed or re-opened meanwhile means the buffer
 * may be gone, so the writer fails without touching it again. */
static int diIOMakeRoom(DiBuffer* b, DdSocket* s, uint32_t len) {
    if (!s) return -1;
    uint32_t start = diIOClockMs();
    uintptr_t handle = s->handle;
    DiIOWaiter self = {b, s_waiters};
    s_waiters = &self;
    diNetHold(s);
    int result = -1;
    for (;;) {
        if (diIOFlush(b, s) < 0) break;
        if (uint64_t(b->used) + len <= b->limit) {
            result = 0;
            break;
        }
        uint32_t spent = diIOClockMs() - start; /* wrap-safe */
        if (spent >= diIOWriteTimeoutMs) {
            diIOCloseStalled(s);
            break;
        }
        int r = ddNetWaitWritable(s, diIOWriteTimeoutMs - spent);
        if (r < 0 || s->destroyed || s->handle != handle) break;
    }
    s_waiters = self.outer;
    diNetRelease(s);
    return result;
}

int diIOWriteParts(DiBuffer* b, DdSocket* s, const void* head, uint32_t headLen, const void* body,
                   uint32_t bodyLen) {
    uint64_t whole = uint64_t(headLen) + bodyLen;
    if (b->limit == 0 || whole > b->limit) return -1;
    uint32_t len = uint32_t(whole);
    /* A write from a timer that runs while this buffer's writer waits for
     * room would slip its message in ahead of the waiting one. */
    if (diIOIsWaiting(b)) return -1;
    if (uint64_t(b->used) + len > b->limit && diIOMakeRoom(b, s, len) < 0) return -1;
    if (b->used + len > b->allocated && diIOReserve(b, b->used + len) < 0) return -1;
    if (headLen) memcpy(b->data + b->used, head, headLen);
    if (bodyLen) memcpy(b->data + b->used + headLen, body, bodyLen);
    b->used += len;
    diIOFlush(b, s);
    return 0;
}

int diIOWriteMessage(DiBuffer* b, DdSocket* s, const void* bytes, uint32_t len) {
    return diIOWriteParts(b, s, bytes, len, nullptr, 0);
}

void diIOBufferFree(DiBuffer* b) {
    free(b->base);
    b->data = b->base = nullptr;
    b->allocated = b->used = b->consumed = 0;
}
