// The serial class under any order of requests, worker runs, completions,
// purges, closes, session ends and channel destruction. The input is a list
// of steps: an opcode byte, then for requests a length byte and a level-2
// request body (device 0, the file id and session taken from the input).
#include "devices/diserial.h"
#include "fakes/chan_fakes.h"
#include "fakes/device_fakes.h"

#include <stdlib.h>
#include <string.h>

namespace {

DiIOChannel* makeChannel() {
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDeviceChannelInit(io, 0, 0);
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    diDeviceAdd(io, diDeviceMake(&diSerialDeviceMake(u"COM5", fakePortOpen)->ops, 512, 1, u"COM5"));
    diDeviceOpenSession(io, 1);
    diDeviceOpenSession(io, 2);
    return io;
}

void destroy(DiIOChannel* io) {
    diDeviceChannelTeardown(io);
    diDeviceChannelRelease(io);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    deviceFakesReset();
    DiIOChannel* io = makeChannel();
    size_t at = 0;
    while (at < size) {
        uint8_t op = data[at++];
        g_fakePort.controlError = op & 0x80 ? 31 : 0;
        g_fakePort.input.assign(op & 0x3F, 'x');
        switch (op & 7) {
        case 0:
        case 1: {
            if (at + 2 > size) break;
            uint16_t session = uint16_t(1 + (data[at] & 1));
            size_t n = data[at + 1];
            at += 2;
            if (n > size - at) n = size - at;
            uint8_t req[288] = {};
            req[8] = uint8_t(at); // CompletionId
            memcpy(req + 4, data + at, n < 4 ? n : 4);
            if (n > 4) memcpy(req + 12, data + at + 4, n - 4);
            diDeviceSubmitRequest(io, req, uint32_t(n + 12 > 20 ? n + 12 : 21), session);
            at += n;
            break;
        }
        case 2:
            runOneWorker();
            break;
        case 3:
            runCompletions();
            break;
        case 4:
            diDeviceCloseSession(io, uint16_t(1 + (op >> 3 & 1)));
            break;
        case 5:
            diDeviceOpenSession(io, uint16_t(1 + (op >> 3 & 1)));
            break;
        case 6:
            destroy(io);
            io = makeChannel();
            break;
        default:
            g_fakeThreads.startFails = !g_fakeThreads.startFails;
            break;
        }
        g_fakeNet.sent.clear();
    }
    destroy(io);
    g_fakeThreads.startFails = false;
    runDeviceThreads();
    return 0;
}
