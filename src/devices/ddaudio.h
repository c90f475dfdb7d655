/* Audio output's Windows side. */
#ifndef HV_DDAUDIO_H
#define HV_DDAUDIO_H

/* Lets the outpost read the audio channel's format records (start-up). */
void ddAudioInstallHook(void);

#endif
