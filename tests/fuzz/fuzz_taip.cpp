// The terminal engine on hostile streams: a flags byte, a chunking seed and
// the stream, fed through the chunking fake socket into the engine, which
// draws onto the recording canvas. A reader that makes no progress shows as
// the abort below (or a time-out).
#include "core/ditimer.h"
#include "tde/td_recorder.h"

#include <stdlib.h>

namespace {
uint32_t g_clock;
uint32_t slowClock() {
    return g_clock += 3;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    diDEClock = slowClock;
    {
        TDRig rig(200, 120);
        uint32_t f = data[0], seed = data[1] | 1u;
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
            size_t before = g_fakeNet.incoming.size() + rig.t->ch.in.used;
            int r = diTAIPReadInput(rig.t.get());
            if (rig.t->ch.resumeTimer) diTimerRemove(rig.t->ch.resumeTimer);
            rig.t->ch.resumeTimer = nullptr;
            rig.t->ch.sliceDeadline = 0;
            if (r < 0 || rig.t->ch.stopReading) break;
            if (g_fakeNet.incoming.empty() && before == 0) break;
            if (++calls > chunks * 4 + 100) abort(); /* the reader is not getting on */
        }
        if (f & 1) rig.fullRepaint();
        if (f & 2) diTimerDispatch(diDEClock() + 10000);
        diIOBufferFree(&rig.t->ch.in);
        diIOBufferFree(&rig.t->ch.out);
    }
    diTimerDispatch(diDEClock() + 100000000);
    return 0;
}
