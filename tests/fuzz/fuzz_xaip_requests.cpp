// One X-AIP request on a heap copy of exactly its length, so that any read
// past the payload is seen; the recording table reads every byte it is
// given. Input: type, display flags selector, payload.
#include "fakes/chan_fakes.h"
#include "xde/xaip_recorder.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 > 0xFFFF) return 0;
    static bool ready = diXAIPScratchRef() == 0;
    if (!ready) return 0;
    fakesReset();
    g_xrec = XRecorder();
    DiXDisplay d{};
    if (diXAIPInit(&d) < 0) return 0;
    DdSocket sock{};
    sock.handle = 1;
    d.ch.socket = &sock;
    d.ch.open = 1;
    d.ops = xaipRecordingOps();
    d.flags |= (data[1] & 1 ? DI_XFLAG_UTF8 : 0) | (data[1] & 2 ? DI_XFLAG_CLIP_EX : 0);
    size_t n = size - 2;
    uint8_t* payload = static_cast<uint8_t*>(malloc(n ? n : 1));
    memcpy(payload, data + 2, n);
    diXAIPHandleRequest(&d, data[0], payload, uint32_t(n));
    free(payload);
    diXAIPFree(&d);
    diIOBufferFree(&d.ch.out);
    return 0;
}
