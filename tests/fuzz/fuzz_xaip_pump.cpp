// The X-AIP input pump on hostile streams: the input is a flags byte (display
// flags 0x2, 0x4, 0x8, 0x800), a chunking seed and the stream itself, fed
// through the chunking fake socket into the recording operations table. A
// pump call that makes no progress shows as the abort below (or a timeout).
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "xde/xaip_recorder.h"

#include <stdlib.h>

namespace {
uint32_t g_clock;
uint32_t slowClock() {
    return g_clock += 3;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fakesReset();
    g_xrec = XRecorder();
    diDEClock = slowClock;
    DiXDisplay d{};
    if (diXAIPInit(&d) < 0) return 0;
    DdSocket sock{};
    sock.handle = 1;
    d.ch.socket = &sock;
    d.ch.open = 1;
    d.ops = xaipRecordingOps();
    uint32_t f = data[0];
    d.flags = (f & 1 ? DI_XFLAG_ACK_ONCE : 0) | (f & 2 ? DI_XFLAG_UTF8 : 0) |
              (f & 4 ? 0 : DI_XFLAG_ACK_NOW) | (f & 8 ? DI_XFLAG_CLIP_EX : 0);
    if (f & 16) g_xrec.closeOn = "Bell";
    uint32_t seed = data[1] | 1u;
    size_t chunks = 0;
    for (size_t at = 2; at < size; chunks++) {
        seed = seed * 1103515245u + 12345u;
        size_t n = (seed >> 16) % (f & 32 ? 9 : 3000) + 1;
        if (n > size - at) n = size - at;
        g_fakeNet.incoming.push_back(std::string(reinterpret_cast<const char*>(data + at), n));
        at += n;
    }
    g_fakeNet.closed = (f & 64) != 0;
    size_t calls = 0;
    for (;;) {
        size_t before = g_fakeNet.incoming.size();
        int r = diXAIPReadInput(&d);
        if (d.ch.resumeTimer) diTimerRemove(d.ch.resumeTimer);
        d.ch.resumeTimer = nullptr;
        d.ch.sliceDeadline = 0;
        if (r < 0 || !d.ch.open) break;
        if (g_fakeNet.incoming.empty() && before == 0) break;
        if (++calls > chunks * 4 + 100) abort(); /* the pump is not getting on */
    }
    diXAIPFree(&d);
    diIOBufferFree(&d.ch.in);
    diIOBufferFree(&d.ch.out);
    return 0;
}
