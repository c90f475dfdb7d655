#include "fakes/audio_fakes.h"

#include <algorithm>

FakeAudio g_fakeAudio;

namespace {

struct Device {
    int id;
};

uint32_t open(DiIOChannel*, const DiAudioFormat*, void** device) {
    if (g_fakeAudio.openFails) return 1;
    *device = new Device{g_fakeAudio.devicesOpen++};
    return 0;
}
uint32_t write(void*, DiAudioBuffer* b) {
    if (g_fakeAudio.writeFails) return 1;
    b->header = new int(0);
    g_fakeAudio.headersHeld++;
    g_fakeAudio.queued.push_back(b->header);
    return 0;
}
void unprepare(void*, DiAudioBuffer* b) {
    g_fakeAudio.log += "u";
    auto& q = g_fakeAudio.queued;
    // A header still queued on the device must not be released.
    if (std::find(q.begin(), q.end(), b->header) != q.end()) g_fakeAudio.log += "!";
    delete static_cast<int*>(b->header);
    b->header = nullptr;
    g_fakeAudio.headersHeld--;
}
void reset(void*) {
    g_fakeAudio.log += "r";
    g_fakeAudio.queued.clear();
}
uint32_t closeDevice(void* d) {
    g_fakeAudio.log += "c";
    if (g_fakeAudio.closeFails) return 1;
    delete static_cast<Device*>(d);
    g_fakeAudio.devicesOpen--;
    return 0;
}
uint32_t setVolume(void*, uint32_t v) {
    if (g_fakeAudio.volumeFails) return 1;
    g_fakeAudio.volume = v;
    return 0;
}

} // namespace

const DiAudioOps g_fakeAudioOps = {open, write, unprepare, reset, closeDevice, setVolume, nullptr};

void fakeAudioReset() {
    g_fakeAudio = FakeAudio{};
}
