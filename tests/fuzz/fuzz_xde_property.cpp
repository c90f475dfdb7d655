// Request 59 into the engine's property handling, over the recording
// device: any bytes as the three texts (first byte: display flags).
#include "fakes/chan_fakes.h"
#include "xde/recording_device.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 0x3FFF) return 0;
    fakesReset();
    g_rdev = RecordingDevice();
    DiXDisplay* d = new DiXDisplay{};
    if (diXDEInit(d, recordingDevice(), nullptr, 640, 480) < 0) {
        delete d;
        return 0;
    }
    DdSocket sock{};
    sock.handle = 1;
    d->ch.socket = &sock;
    d->ch.open = 1;
    d->flags |= data[0] & 0x84;
    size_t n = size - 1;
    uint8_t* payload = static_cast<uint8_t*>(malloc(n ? n : 1));
    if (n) memcpy(payload, data + 1, n);
    diXAIPHandleRequest(d, 59, payload, uint32_t(n));
    free(payload);
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    return 0;
}
