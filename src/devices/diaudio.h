/* Audio output: the requests of kind 0x10 on a channel of type 15, its
 * streams (keyed by the 16-bit id of the request's stream) and the queue of
 * buffers handed to the output device. The Windows half (ddaudio.cpp)
 * supplies the device calls and reports each finished buffer by its device
 * header; tests supply fakes.
 *
 * A buffer is completed only for the header the device returned, so a
 * second open of an id never completes a buffer still playing on the first.
 * Streams belong to their channel: tear-down stops and closes its devices
 * before any header or sample memory is freed. */
#ifndef HV_DIAUDIO_H
#define HV_DIAUDIO_H

#include "devices/diiochan.h"

#include <stdio.h>

struct DiAudioFormat {
    uint16_t tag, channels;
    uint32_t rate, avgBytes;
    uint16_t blockAlign, bits;
};

struct DiAudioStream {
    uint16_t id;
    void* device;
    DiAudioFormat format;
    uint32_t closePending;
    DiAudioStream* next;
};

struct DiAudioBuffer {
    DiAudioBuffer* next;
    uint8_t tag8;
    uint16_t tag16;
    uint32_t tag32;
    uint16_t stream;
    uint32_t length;
    uint8_t* data; /* owned */
    uint32_t played;
    void* header; /* the device's record of the buffer while it is queued */
    DiAudioStream* owner;
};

/* One format a device accepts; preferred marks the PCM format the probe
 * settled on (the companded ones are 0). */
struct DiAudioFormatEntry {
    DiAudioFormat format;
    uint32_t preferred;
};

enum : uint32_t {
    DI_AUDIO_MAX_FORMATS = 10,
    DI_AUDIO_MAX_RECORDS = 5,
    DI_AUDIO_RECORD_KIND = 0x40
};

/* The formats one output device accepts, as the capability items report
 * them (kind 0x40). */
struct DiAudioDeviceRecord {
    uint8_t kind;
    uint8_t count;
    DiAudioFormatEntry entries[DI_AUDIO_MAX_FORMATS];
};

/* Device calls. Results are 0 or an error. */
struct DiAudioOps {
    uint32_t (*open)(DiIOChannel* io, const DiAudioFormat* format, void** device);
    /* Prepares a header for the buffer's samples and queues it; on success
     * b->header is set, on failure nothing stays prepared. */
    uint32_t (*write)(void* device, DiAudioBuffer* b);
    /* Releases b->header (the device no longer holds it). */
    void (*unprepare)(void* device, DiAudioBuffer* b);
    /* Stops playing and gives every queued header back. */
    void (*reset)(void* device);
    uint32_t (*close)(void* device);
    uint32_t (*setVolume)(void* device, uint32_t volume);
    /* Probes the formats the output device accepts and adds their record
     * to the channel (diAudioAddCaps); adds nothing without a device. */
    void (*reportFormats)(DiIOChannel* io);
};

struct DiAudioState {
    const DiAudioOps* ops;
    int32_t openStreams;
    DiAudioStream* streams; /* newest first */
    DiAudioBuffer* queue;   /* arrival order */
    uint32_t queuedCount, queuedBytes;
    uint8_t recordCount;
    DiAudioDeviceRecord records[DI_AUDIO_MAX_RECORDS];
};

/* What a server may hold on the device at once: writes and opens beyond
 * these fail (value 1) instead of growing the process without bound. A
 * player keeps a few buffers in flight; 16 MiB is a minute and a half of
 * 44100 Hz stereo 16-bit. */
enum : uint32_t {
    DI_AUDIO_MAX_QUEUED = 1024,
    DI_AUDIO_MAX_QUEUED_BYTES = 16u << 20,
    DI_AUDIO_MAX_STREAMS = 32,
};

/* Sets up a channel of type 15 (after the base initialiser); false when out
 * of memory. Fills diIOAudioHandlers. */
bool diAudioChannelInit(DiIOChannel* io, const DiAudioOps* ops);
/* Resets, unprepares and closes every stream of the channel, then frees
 * buffers, streams and the IO channel state. */
void diAudioChannelTeardown(DiIOChannel* io);
/* The device finished the buffer with this header: answers 103 and frees
 * it; closes its stream when a close waits for it. A header the channel
 * does not know is ignored. */
void diAudioBufferDone(DiIOChannel* io, const void* header);

/* The PCM formats worth asking a device about, most preferred first: the
 * rows from 44100 Hz stereo 16-bit down to 11025 Hz mono 8-bit, each with
 * the capability bit (WAVE_FORMAT_*) that says the device may take it. */
struct DiAudioProbeRow {
    uint32_t capBit;
    uint32_t rate;
    uint16_t channels, bits;
};
extern const DiAudioProbeRow kDiAudioProbeRows[12];

/* Fills a device record from what the device accepts: the first PCM row
 * whose bit is in capBits and that accepts() takes (preferred), then
 * mu-law and A-law at 8000 Hz stereo 8-bit when taken. */
void diAudioProbe(uint32_t capBits, bool (*accepts)(void* ctx, const DiAudioFormat* f), void* ctx,
                  DiAudioDeviceRecord* out);
/* Adds a format to a record; false when the record is full. */
bool diAudioAddFormat(DiAudioDeviceRecord* r, const DiAudioFormat* f, bool preferred);
/* Adds a device record to the channel; false when it holds five. */
bool diAudioAddCaps(DiIOChannel* io, const DiAudioDeviceRecord* r);
/* The channel's device records, probed first when there are none yet. */
uint32_t diAudioDeviceRecords(DiIOChannel* io, const DiAudioDeviceRecord** records);
/* The capability name of a record: one "tag,channels,rate,bits,preferred;"
 * group per format, never a cut one; n includes the terminator. Inline:
 * the outpost formats records without linking the channel code. */
inline void diAudioRecordText(const DiAudioDeviceRecord* r, char* out, size_t n) {
    size_t at = 0;
    if (n) out[0] = 0;
    for (uint32_t i = 0; i < r->count && at < n; i++) {
        const DiAudioFormatEntry& e = r->entries[i];
        int w = snprintf(out + at, n - at, "%u,%u,%u,%u,%u;", unsigned(e.format.tag),
                         unsigned(e.format.channels), unsigned(e.format.rate),
                         unsigned(e.format.bits), unsigned(e.preferred));
        if (w < 0 || size_t(w) >= n - at) {
            out[at] = 0;
            break;
        }
        at += size_t(w);
    }
}

#endif
