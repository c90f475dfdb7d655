// A scripted output device behind the audio requests: devices and headers
// that count themselves, forced failures per call, and the order of the
// calls that stop, release and close.
#ifndef HV_TESTS_AUDIO_FAKES_H
#define HV_TESTS_AUDIO_FAKES_H

#include "devices/diaudio.h"

#include <string>
#include <vector>

struct FakeAudio {
    bool openFails = false, writeFails = false, closeFails = false, volumeFails = false;
    int devicesOpen = 0, headersHeld = 0;
    std::vector<void*> queued; // headers the device holds, in write order
    std::string log;           // "r" reset, "u" unprepare, "c" close, per call
    uint32_t volume = 0;
};
extern FakeAudio g_fakeAudio;
extern const DiAudioOps g_fakeAudioOps;

void fakeAudioReset();

#endif
