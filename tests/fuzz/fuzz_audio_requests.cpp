// Audio requests in any order over the scripted output device, with the
// device finishing queued buffers in any order and channel tear-down at the
// end. The input is a list of steps: a code byte (codes 0-6 are requests,
// 7 finishes a queued buffer, 8 closes a session), a stream byte, a u16
// payload length, the payload. Every header and device must be given back.
#include "devices/diaudio.h"
#include "fakes/audio_fakes.h"
#include "fakes/chan_fakes.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    fakeAudioReset();
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDEChannelInit(&io->ch, DI_OBJ_AUDIO, 0, 0);
    if (!diAudioChannelInit(io, &g_fakeAudioOps)) abort();
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    size_t at = 0;
    while (at + 4 <= size) {
        uint8_t op = data[at] % 9;
        uint16_t stream = data[at + 1] % 4;
        size_t n = data[at + 2] | data[at + 3] << 8;
        at += 4;
        if (n > size - at) n = size - at;
        g_fakeAudio.writeFails = data[at - 4] & 0x80;
        g_fakeAudio.closeFails = data[at - 4] & 0x40;
        if (op < 7) {
            // A copy of exactly the payload, so that a read past it is caught.
            uint8_t* payload = static_cast<uint8_t*>(malloc(n ? n : 1));
            memcpy(payload, data + at, n);
            if (diIOAudioHandlers[op]) diIOAudioHandlers[op](io, payload, uint32_t(n), stream);
            free(payload);
        } else if (op == 7 && !g_fakeAudio.queued.empty()) {
            size_t i = n % g_fakeAudio.queued.size();
            void* h = g_fakeAudio.queued[i];
            g_fakeAudio.queued.erase(g_fakeAudio.queued.begin() + long(i));
            diAudioBufferDone(io, h);
        } else if (op == 8 && io->sessionClose) {
            io->sessionClose(io, stream);
        }
        at += n;
        g_fakeNet.sent.clear();
    }
    g_fakeAudio.closeFails = false;
    diAudioChannelTeardown(io);
    diDEChannelFree(&io->ch);
    free(io);
    if (g_fakeAudio.headersHeld || g_fakeAudio.devicesOpen ||
        g_fakeAudio.log.find('!') != std::string::npos)
        abort();
    return 0;
}
