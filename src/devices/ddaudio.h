/* Audio output's Windows side: the channel record and its hidden window. */
#ifndef HV_DDAUDIO_H
#define HV_DDAUDIO_H

#include "dd.h"
#include "devices/diaudio.h"

struct DdAudioChannel {
    DiIOChannel io; /* first: the channel pointer is this record */
    HWND window;    /* "QVLAudioWin": receives the finished buffers */
};

/* Sets up an initialised channel record for waveOut on the wave mapper
 * (the window, the request handlers); false when it cannot. */
bool ddAudioChannelSetUp(DdAudioChannel* a);
/* Detaches the window, stops and closes every device, frees the channel's
 * audio state and destroys the window; the record stays the caller's. */
void ddAudioChannelTearDown(DdAudioChannel* a);
/* Lets the outpost read the audio channel's format records (start-up). */
void ddAudioInstallHook(void);

#endif
