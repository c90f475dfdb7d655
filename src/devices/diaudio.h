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
};

struct DiAudioState {
    const DiAudioOps* ops;
    int32_t openStreams;
    DiAudioStream* streams; /* newest first */
    DiAudioBuffer* queue;   /* arrival order */
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

#endif
