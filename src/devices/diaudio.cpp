/* Audio output requests over the device calls of DiAudioOps. */
#include "devices/diaudio.h"

#include <stdlib.h>
#include <string.h>

namespace {

DiAudioState* stateOf(DiIOChannel* io) {
    return static_cast<DiAudioState*>(io->priv);
}

void valueReply(DiIOChannel* io, uint32_t code, uint32_t value, uint16_t stream) {
    diIOAudioReply(io, code, value, 0, nullptr, stream);
}

/* The stream a request of this id reaches: the newest open one. */
DiAudioStream* findStream(DiAudioState* st, uint16_t id) {
    for (DiAudioStream* s = st->streams; s; s = s->next)
        if (s->id == id && !s->closePending) return s;
    return nullptr;
}

bool hasQueued(DiAudioState* st, const DiAudioStream* s) {
    for (DiAudioBuffer* b = st->queue; b; b = b->next)
        if (b->owner == s) return true;
    return false;
}

void unlinkStream(DiAudioState* st, DiAudioStream* s) {
    for (DiAudioStream** l = &st->streams; *l; l = &(*l)->next)
        if (*l == s) {
            *l = s->next;
            break;
        }
    free(s);
}

void complete(DiIOChannel* io, DiAudioBuffer* b, uint32_t value) {
    uint8_t out[11];
    out[0] = b->tag8;
    diIOPut16(out + 1, b->tag16);
    diIOPut32(out + 3, b->tag32);
    diIOPut32(out + 7, value ? 0 : b->played);
    diIOAudioReply(io, 103, value, sizeof out, out, b->stream);
}

/* 0: closed or waiting for its buffers; 1: the device refused. */
uint32_t closeStream(DiIOChannel* io, uint16_t id) {
    DiAudioState* st = stateOf(io);
    DiAudioStream* s = findStream(st, id);
    if (!s) return 0;
    /* Closing a device with buffers queued loses them (or is refused):
     * wait for the last one instead. */
    if (hasQueued(st, s)) {
        s->closePending = 1;
        return 0;
    }
    if (st->ops->close(s->device)) return 1;
    unlinkStream(st, s);
    return 0;
}

void echo(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiIOCursor c(payload, length);
    c.u16();
    uint32_t n = c.u16();
    if (!c.bytes(n)) return valueReply(io, 100, 1, stream);
    diIOAudioReply(io, 100, 0, 4 + n, payload, stream);
}

void sessionClose(DiIOChannel* io, uint16_t session) {
    if (closeStream(io, session) == 0) stateOf(io)->openStreams--;
}

void open(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiAudioState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiAudioFormat f;
    f.tag = c.u16(), f.channels = c.u16(), f.rate = c.u32(), f.avgBytes = c.u32();
    f.blockAlign = c.u16(), f.bits = c.u16();
    io->sessionClose = sessionClose;
    void* dev = nullptr;
    uint32_t listed = 0;
    for (DiAudioStream* o = st->streams; o; o = o->next)
        listed++;
    DiAudioStream* s = c.ok && listed < DI_AUDIO_MAX_STREAMS
                           ? static_cast<DiAudioStream*>(calloc(1, sizeof *s))
                           : nullptr;
    if (!s || st->ops->open(io, &f, &dev)) {
        free(s);
        return valueReply(io, 101, 1, stream);
    }
    *s = DiAudioStream{stream, dev, f, 0, st->streams};
    st->streams = s;
    st->openStreams++;
    valueReply(io, 101, 0, stream);
}

void close(DiIOChannel* io, const uint8_t*, uint32_t, uint16_t stream) {
    uint32_t r = closeStream(io, stream);
    if (r == 0) stateOf(io)->openStreams--;
    valueReply(io, 102, r, stream);
}

void write(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiAudioState* st = stateOf(io);
    DiIOCursor c(payload, length);
    DiAudioBuffer* b = static_cast<DiAudioBuffer*>(calloc(1, sizeof(DiAudioBuffer)));
    if (!b) return;
    b->tag8 = c.u8(), b->tag16 = c.u16(), b->tag32 = c.u32();
    b->length = c.u32();
    b->stream = stream;
    const uint8_t* samples = c.bytes(b->length);
    DiAudioStream* s = findStream(st, stream);
    bool room = st->queuedCount < DI_AUDIO_MAX_QUEUED &&
                b->length <= DI_AUDIO_MAX_QUEUED_BYTES - st->queuedBytes;
    b->data = samples && room ? static_cast<uint8_t*>(malloc(b->length ? b->length : 1)) : nullptr;
    if (!s || !b->data) {
        complete(io, b, 1);
        free(b->data);
        free(b);
        return;
    }
    memcpy(b->data, samples, b->length);
    b->owner = s;
    if (st->ops->write(s->device, b)) {
        complete(io, b, 1);
        free(b->data);
        free(b);
        return;
    }
    DiAudioBuffer** tail = &st->queue;
    while (*tail)
        tail = &(*tail)->next;
    *tail = b;
    st->queuedCount++;
    st->queuedBytes += b->length;
}

void setVolume(DiIOChannel* io, const uint8_t* payload, uint32_t length, uint16_t stream) {
    DiAudioState* st = stateOf(io);
    DiIOCursor c(payload, length);
    uint32_t v = c.u32();
    DiAudioStream* s = findStream(st, stream);
    uint32_t r = !c.ok || !s || st->ops->setVolume(s->device, v) ? 1 : 0;
    valueReply(io, 105, r, stream);
}

} // namespace

void diAudioBufferDone(DiIOChannel* io, const void* header) {
    DiAudioState* st = io ? stateOf(io) : nullptr;
    if (!st || !header) return;
    DiAudioBuffer** l = &st->queue;
    while (*l && (*l)->header != header)
        l = &(*l)->next;
    DiAudioBuffer* b = *l;
    if (!b) return;
    *l = b->next;
    st->queuedCount--;
    st->queuedBytes -= b->length;
    DiAudioStream* s = b->owner;
    st->ops->unprepare(s->device, b);
    b->played = b->length;
    complete(io, b, 0);
    free(b->data);
    free(b);
    /* A device that refuses to close stays listed, so tear-down closes it. */
    if (s->closePending && !hasQueued(st, s) && st->ops->close(s->device) == 0) unlinkStream(st, s);
}

bool diAudioChannelInit(DiIOChannel* io, const DiAudioOps* ops) {
    diIOChannelInit(io);
    DiAudioState* st = static_cast<DiAudioState*>(calloc(1, sizeof(DiAudioState)));
    if (!st) return false;
    st->ops = ops;
    io->priv = st;
    static const DiIORequestHandler table[7] = {echo,    open,      close,  write,
                                                nullptr, setVolume, nullptr};
    memcpy(diIOAudioHandlers, table, sizeof table);
    return true;
}

void diAudioChannelTeardown(DiIOChannel* io) {
    DiAudioState* st = stateOf(io);
    if (st) {
        /* The device reads the samples until it is reset: stop every stream
         * first, then give back the headers, close, and only then free. */
        for (DiAudioStream* s = st->streams; s; s = s->next)
            st->ops->reset(s->device);
        for (DiAudioBuffer* b = st->queue; b; b = b->next)
            st->ops->unprepare(b->owner->device, b);
        while (DiAudioStream* s = st->streams) {
            st->ops->close(s->device);
            st->streams = s->next;
            free(s);
        }
        while (DiAudioBuffer* b = st->queue) {
            st->queue = b->next;
            free(b->data);
            free(b);
        }
        free(st);
    }
    io->priv = nullptr;
    diIOChannelTeardown(io);
}

const DiAudioProbeRow kDiAudioProbeRows[12] = {
    {0x1, 11025, 1, 8},   {0x4, 11025, 1, 16},   {0x2, 11025, 2, 8},   {0x8, 11025, 2, 16},
    {0x10, 22050, 1, 8},  {0x40, 22050, 1, 16},  {0x20, 22050, 2, 8},  {0x80, 22050, 2, 16},
    {0x100, 44100, 1, 8}, {0x400, 44100, 1, 16}, {0x200, 44100, 2, 8}, {0x800, 44100, 2, 16},
};

namespace {
DiAudioFormat waveFormat(uint16_t tag, uint32_t rate, uint16_t channels, uint16_t bits) {
    DiAudioFormat f;
    f.tag = tag, f.channels = channels, f.rate = rate, f.bits = bits;
    f.blockAlign = uint16_t(channels * bits / 8);
    f.avgBytes = f.blockAlign * rate;
    return f;
}
} // namespace

bool diAudioAddFormat(DiAudioDeviceRecord* r, const DiAudioFormat* f, bool preferred) {
    if (r->count >= DI_AUDIO_MAX_FORMATS) return false;
    r->entries[r->count++] = DiAudioFormatEntry{*f, preferred ? 1u : 0u};
    return true;
}

void diAudioProbe(uint32_t capBits, bool (*accepts)(void*, const DiAudioFormat*), void* ctx,
                  DiAudioDeviceRecord* out) {
    *out = DiAudioDeviceRecord();
    out->kind = DI_AUDIO_RECORD_KIND;
    for (int i = 11; i >= 0; i--) {
        const DiAudioProbeRow& row = kDiAudioProbeRows[i];
        if (!(capBits & row.capBit)) continue;
        DiAudioFormat f = waveFormat(1, row.rate, row.channels, row.bits);
        if (accepts(ctx, &f)) {
            diAudioAddFormat(out, &f, true);
            break;
        }
    }
    static const uint16_t kCompanded[] = {7, 6}; /* mu-law, then A-law */
    for (uint16_t tag : kCompanded) {
        DiAudioFormat f = waveFormat(tag, 8000, 2, 8);
        if (accepts(ctx, &f)) diAudioAddFormat(out, &f, false);
    }
}

bool diAudioAddCaps(DiIOChannel* io, const DiAudioDeviceRecord* r) {
    DiAudioState* st = stateOf(io);
    if (!st || st->recordCount >= DI_AUDIO_MAX_RECORDS) return false;
    st->records[st->recordCount++] = *r;
    return true;
}

uint32_t diAudioDeviceRecords(DiIOChannel* io, const DiAudioDeviceRecord** records) {
    DiAudioState* st = stateOf(io);
    *records = nullptr;
    if (!st) return 0;
    if (!st->recordCount && st->ops->reportFormats) st->ops->reportFormats(io);
    *records = st->records;
    return st->recordCount;
}
