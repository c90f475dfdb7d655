/* The X-AIP input pump, dispatch and acknowledgements (see dixaip.h).
 *
 * The pump walks the input through eight states, copying ordinary messages
 * into the assembly buffer and inflating compressed blocks into it, and
 * dispatches the complete messages there whenever the buffer runs short of
 * room and at the end of a read. Every step either takes input, produces
 * output or ends the call: a message that can never fit, a block that stops
 * inflating, or a socket that has nothing more all return instead of
 * spinning. */
#include "xde/dixaip.h"

#include "core/dilog.h"
#include "net/dinet.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum PumpState : uint32_t {
    kType = 0,
    kLenLow = 1,
    kLenHigh = 2,
    kSizeLow = 3,
    kSizeHigh = 4,
    kInflate = 5,
    kSkipSync = 6,
    kPayload = 7,
};

const uint32_t kNeedBetween = 1024;
const uint8_t kTypeSync = 43;
const uint8_t kTypeBlock = 0x80;

int32_t* s_scratch;
int s_scratchUses;
uint32_t s_nextDisplayId = 1;

uint32_t freeRoom(const DiBuffer* b) {
    return b->allocated - b->used;
}

void logPump(const DiChar* text) {
    diLogErrorText(text);
}

} // namespace

int diXAIPScratchRef() {
    if (!s_scratch) {
        s_scratch = static_cast<int32_t*>(calloc(1, DI_XAIP_SCRATCH_BYTES));
        if (!s_scratch) return -1;
    }
    s_scratchUses++;
    return 0;
}

void diXAIPScratchUnref() {
    if (s_scratchUses > 0 && --s_scratchUses == 0) {
        free(s_scratch);
        s_scratch = nullptr;
    }
}

int32_t* diXAIPScratch() {
    return s_scratch;
}

int diXAIPInit(DiXDisplay* d) {
    if (diXAIPScratchRef() < 0) return -1;
    d->ch.in.limit = 16384;
    d->ch.out.limit = 32767;
    d->assembly = DiBuffer{};
    d->assembly.limit = DI_XAIP_ASSEMBLY_LIMIT;
    d->pumpState = kType;
    d->pumpRemaining = 0;
    d->pumpNeed = kNeedBetween;
    d->pumpSkip = 0;
    d->received = d->dispatched = 0;
    d->acknowledged = 0;
    d->flags = (d->flags & ~DI_XFLAG_UTF8) | DI_XFLAG_ACK_NOW;
    d->connectByte = 3;
    d->colormapKind = 0;
    d->featureBits = 0xF7B7;
    d->engineFlags = 7;
    d->frameValue = 0;
    d->serverName = nullptr;
    d->serverNameLength = 0;
    d->ownerBlock = nullptr;
    d->ownerBlockLength = 0;
    d->id = s_nextDisplayId++;
    return 0;
}

void diXAIPFree(DiXDisplay* d) {
    diXAIPFreeInflateStream(&d->ch);
    diIOBufferFree(&d->assembly);
    free(d->serverName);
    d->serverName = nullptr;
    d->serverNameLength = 0;
    free(d->ownerBlock);
    d->ownerBlock = nullptr;
    d->ownerBlockLength = 0;
    diXAIPScratchUnref();
}

void diXAIPFreeInflateStream(DiChannel* ch) {
    diDEInflateEnd(ch);
}

/* Acknowledgements. Both counters are signed: acknowledging one counter
 * subtracts the same bytes from the other, which may then run negative. */
static void ackCounter(DiXDisplay* d, int32_t* counter, int32_t* other) {
    if (*counter > int32_t(DI_XAIP_ACK_THRESHOLD) || ((d->flags & DI_XFLAG_ACK_NOW) && *counter > 0)) {
        int32_t n = *counter;
        diXAIPSendAck(d, uint32_t(n));
        d->acknowledged += uint32_t(n);
        *counter = 0;
        *other -= n;
        if (d->flags & DI_XFLAG_ACK_ONCE) d->flags &= ~DI_XFLAG_ACK_NOW;
    }
}

void diXAIPCountConsumed(DiXDisplay* d, int32_t bytes) {
    d->dispatched += bytes;
    ackCounter(d, &d->dispatched, &d->received);
}

void diXAIPAckConsumed(DiXDisplay* d) {
    ackCounter(d, &d->received, &d->dispatched);
}

namespace {

/* One call of the pump. `sync` is set once a sync message was read: from then
 * on neither dispatch nor reading stops at the end of the time slice. */
struct Pump {
    DiXDisplay* d;
    bool sync;
    uint32_t syncDeadline;

    void dispatch() { diXAIPDispatch(d, &d->assembly, !sync); }

    void markSync() {
        sync = true;
        syncDeadline = diDEClock() + DI_XAIP_SYNC_WAIT_MS;
    }

    /* Makes room for the current step. 1 go on, 0 stop reading (slice over
     * or channel closed), -1 fail. */
    int makeRoom() {
        DiBuffer* a = &d->assembly;
        if (d->pumpNeed <= freeRoom(a)) return 1;
        if (a->allocated < a->limit) {
            uint64_t want = uint64_t(a->allocated) * 2;
            uint64_t sum = uint64_t(a->used) + d->pumpNeed;
            if (sum > want) want = sum;
            if (want > a->limit) want = a->limit; /* the reserve refuses more */
            if (diIOReserve(a, uint32_t(want)) < 0) {
                logPump(u"Out of memory for the X display's message assembly.");
                return -1;
            }
        }
        dispatch();
        if (!d->ch.open) return 0;
        if (!sync && diDEChannelSliceOver(&d->ch)) return 0;
        return 1;
    }

    /* Walks the input; returns the input bytes used, or -1. *stopped is set
     * when reading stopped before the input was used up. */
    int64_t walk(const uint8_t* in, uint32_t n, bool* stopped) {
        DiBuffer* a = &d->assembly;
        uint32_t pos = 0;
        *stopped = false;
        for (;;) {
            /* A block whose input is all taken may still have output to give. */
            bool inflating = d->pumpState == kInflate && d->pumpRemaining == 0;
            if (pos == n && !inflating) break;
            int r = makeRoom();
            if (r < 0) return -1;
            if (r == 0) {
                *stopped = true;
                break;
            }
            /* A run of whole ordinary messages in the input, each of which
             * would find its need free before it and fit: copied in one
             * go, with the same counts as message by message. */
            if (d->pumpState == kType) {
                uint32_t end = wholeRun(in, pos, n, freeRoom(a));
                if (end != pos) {
                    memcpy(a->data + a->used, in + pos, end - pos);
                    a->used += end - pos;
                    d->received += int32_t(end - pos);
                    pos = end;
                    continue;
                }
            }
            switch (d->pumpState) {
            case kType:
            case kLenLow:
            case kLenHigh:
            case kSizeLow:
            case kSizeHigh:
                /* Heads are gathered apart from the assembly buffer: a
                 * partial head there could be read by dispatch as part of
                 * a message. */
                d->pumpHead[d->pumpState] = in[pos++];
                if (d->pumpState == kLenHigh) {
                    if (header() < 0) return -1;
                } else if (d->pumpState == kSizeHigh) {
                    if (blockStart() < 0) return -1;
                } else {
                    d->pumpState++;
                }
                break;
            case kInflate:
                if (inflate(in + pos, n - pos, &pos) < 0) return -1;
                break;
            case kSkipSync: {
                uint32_t k = n - pos < d->pumpSkip ? n - pos : d->pumpSkip;
                pos += k;
                d->pumpSkip -= k;
                if (d->pumpSkip == 0) {
                    diXAIPSendSyncReply(d);
                    d->pumpState = kType;
                    d->pumpNeed = kNeedBetween;
                }
                break;
            }
            case kPayload: {
                /* The need is the rest of the payload; it must fit now that
                 * everything before it has been dispatched. */
                if (uint64_t(a->used) + d->pumpNeed > a->allocated) {
                    logPump(u"An X-AIP message is larger than the assembly buffer; closing the "
                            u"connection.");
                    return -1;
                }
                uint32_t k = n - pos < d->pumpRemaining ? n - pos : d->pumpRemaining;
                memcpy(a->data + a->used, in + pos, k);
                a->used += k;
                pos += k;
                d->received += int32_t(k);
                d->pumpRemaining -= k;
                d->pumpNeed = d->pumpRemaining;
                if (d->pumpRemaining == 0) {
                    d->pumpState = kType;
                    d->pumpNeed = kNeedBetween;
                }
                break;
            }
            default:
                return -1;
            }
        }
        return pos;
    }

    /* The end of the longest run of whole ordinary messages from `pos` that
     * the per-message steps would copy without dispatching: before each,
     * the free room left covers the need between messages (checked by the
     * caller for the first), and the message fits. Syncs and blocks end
     * the run. */
    uint32_t wholeRun(const uint8_t* in, uint32_t pos, uint32_t n, uint32_t room) const {
        uint32_t need = d->pumpNeed;
        while (n - pos >= 3) {
            const uint8_t* h = in + pos;
            uint32_t total = 3 + uint32_t(h[1] | (h[2] << 8));
            if (h[0] == kTypeSync || h[0] == kTypeBlock || total > n - pos || total > room) break;
            pos += total;
            room -= total;
            if (need > room) break;
        }
        return pos;
    }

    /* The three head bytes are in. */
    int header() {
        DiBuffer* a = &d->assembly;
        const uint8_t* h = d->pumpHead;
        uint32_t type = h[0], len = uint32_t(h[1] | (h[2] << 8));
        if (type == kTypeSync) {
            markSync();
            d->pumpNeed = kNeedBetween;
            if (len == 0) {
                /* Answered before the messages already assembled run. */
                diXAIPSendSyncReply(d);
                d->pumpState = kType;
            } else {
                d->pumpSkip = len;
                d->pumpState = kSkipSync;
            }
            return 0;
        }
        if (type == kTypeBlock) {
            d->pumpRemaining = len;
            d->pumpState = kSizeLow;
            return 0;
        }
        /* Only a message cut off inside a block can hold the room the head
         * needs, and it can never complete. */
        if (freeRoom(a) < 3) {
            logPump(u"An X-AIP message does not fit in the assembly buffer; closing the "
                    u"connection.");
            return -1;
        }
        memcpy(a->data + a->used, h, 3);
        a->used += 3;
        d->received += 3;
        if (len == 0) {
            d->pumpState = kType;
            d->pumpNeed = kNeedBetween;
        } else {
            d->pumpState = kPayload;
            d->pumpRemaining = len;
            d->pumpNeed = len;
        }
        return 0;
    }

    /* The five head bytes of a compressed block are in. */
    int blockStart() {
        const uint8_t* h = d->pumpHead;
        uint32_t len = uint32_t(h[1] | (h[2] << 8));
        uint32_t size = uint32_t(h[3] | (h[4] << 8));
        /* A block shorter than its size field would take the next message's
         * bytes as its own. */
        if (len < 2) {
            logPump(u"A compressed X-AIP block is too short; closing the connection.");
            return -1;
        }
        if (diDEInflateBegin(&d->ch, len - 2, size) < 0) return -1;
        d->pumpRemaining = len - 2;
        d->pumpNeed = size;
        d->pumpState = kInflate;
        if (size == 0 && len - 2 == 0) {
            d->pumpState = kType;
            d->pumpNeed = kNeedBetween;
        }
        return 0;
    }

    /* One inflate step into the free room. Only the block's own compressed
     * bytes are given, so a stream that continues across blocks never runs
     * into the next message. */
    int inflate(const uint8_t* in, uint32_t avail, uint32_t* pos) {
        DiBuffer* a = &d->assembly;
        uint32_t room = freeRoom(a);
        uint32_t inLen = avail < d->pumpRemaining ? avail : d->pumpRemaining;
        if (room == 0) {
            logPump(u"An X-AIP message inflates past the assembly buffer; closing the "
                    u"connection.");
            return -1;
        }
        uint32_t out = room, used = inLen;
        int r = diDEInflateBlock(&d->ch, a->data + a->used, in, &out, &used);
        if (r < 0) {
            logPump(u"A compressed X-AIP block is damaged; closing the connection.");
            return -1;
        }
        a->used += out;
        d->received += int32_t(out);
        *pos += used;
        d->pumpRemaining -= used;
        if (r == 1) {
            d->pumpState = kType;
            d->pumpNeed = kNeedBetween;
            return 0;
        }
        d->pumpNeed = d->pumpNeed > out ? d->pumpNeed - out : 0;
        /* Nothing taken and nothing made with room to spare: with no input
         * left the block's data ended before its announced size; with input
         * the stream is stuck. Either way another step would do the same. */
        if (out == 0 && used == 0) {
            logPump(u"A compressed X-AIP block ends early; closing the connection.");
            return -1;
        }
        return 0;
    }
};

} // namespace

int diXAIPReadInput(DiXDisplay* d) {
    DiChannel* ch = &d->ch;
    diDEChannelSliceStart(ch);
    Pump p = {d, false, 0};
    for (;;) {
        int got = diIOFill(&ch->in, ch->socket);
        if (got < 0 && ch->in.used == 0) {
            diXAIPDispatch(d, &d->assembly, 0);
            return -1;
        }
        bool stopped = false;
        int64_t used = p.walk(ch->in.data, ch->in.used, &stopped);
        if (used < 0) return -1;
        uint32_t rest = ch->in.used - uint32_t(used);
        if (rest && used) memmove(ch->in.data, ch->in.data + used, rest);
        ch->in.used = rest;
        if (!ch->open) return 0;
        if (!p.sync && diDEChannelSliceOver(ch)) {
            diXAIPAckConsumed(d);
            return 0;
        }
        diXAIPDispatch(d, &d->assembly, !p.sync);
        if (!ch->open) return 0;
        diXAIPAckConsumed(d);
        /* The end of the stream counts once the bytes before it are handled:
         * the socket may announce it no more, and this read took it. The next
         * pass finds it again with nothing left; a rest that made no progress
         * is a message the end cut short. */
        if (got < 0) {
            if (used == 0) {
                diXAIPDispatch(d, &d->assembly, 0);
                return -1;
            }
            continue;
        }
        if (!p.sync) return 0;
        /* After a sync the server waits for the answers: keep reading while
         * bytes arrive, for at most the sync wait. */
        if (got <= 0 && !stopped) return 0;
        if (int32_t(diDEClock() - p.syncDeadline) >= 0) return 0;
    }
}
