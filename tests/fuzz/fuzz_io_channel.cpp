// IO request channel messages from a hostile server, on two channels that
// share stream ids (a drive channel and a device channel with a smart-card
// and a serial device). Each record of the input is a channel selector, a
// 16-bit length and that many bytes of one whole message (the selector may
// first drop the channel's connection); worker threads and completions run
// between messages.
#include "core/diapp.h"
#include "devices/diserial.h"
#include "fakes/chan_fakes.h"
#include "fakes/device_fakes.h"

#include <stdlib.h>

namespace {

void sink(DiIOChannel* io, const uint8_t* p, uint32_t n, uint16_t stream) {
    if (n) diIOFileReply(io, 1, p[0], n < 64 ? n : 64, p, stream);
}

DiDeviceClass* makeSCard() {
    DiDeviceClass* c = static_cast<DiDeviceClass*>(calloc(1, sizeof(DiDeviceClass)));
    diSCardRegisterClass(c);
    return c;
}

DiDeviceClass* makeSerial(const DiChar* name) {
    return &diSerialDeviceMake(name, fakePortOpen)->ops;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    deviceFakesReset();
    g_fakePort.input = std::string(100, 'i');
    diIOFileHandlers[3] = sink;
    DiIOChannel* drive = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDEChannelInit(&drive->ch, DI_OBJ_CDM, 0, 0);
    diIOChannelInit(drive);
    diChannelAttachConnection(&drive->ch, ddNetSocketCreate());
    DiIOChannel* devs = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDeviceChannelInit(devs, 0, 0);
    diChannelAttachConnection(&devs->ch, ddNetSocketCreate());
    diDeviceListBuild(devs, u"COM5", nullptr, makeSerial, makeSCard);
    size_t at = 0;
    while (at + 3 <= size) {
        DiIOChannel* io = (data[at] & 1) ? devs : drive;
        diIAIPSetLevel(data[at] & 2 ? 1 : 2);
        if (data[at] & 4) diIOChannelConnectionLost(io); // and connected again

        size_t n = size_t(data[at + 1] | data[at + 2] << 8);
        at += 3;
        if (n > size - at) n = size - at;
        diIOHandleMessage(io, data + at, uint32_t(n));
        at += n;
        runDeviceThreads();
        g_fakeNet.sent.clear();
    }
    diIOChannelTeardown(drive);
    diDEChannelFree(&drive->ch);
    free(drive);
    diDeviceChannelTeardown(devs);
    diDeviceChannelRelease(devs);
    runDeviceThreads();
    diIOFileHandlers[3] = nullptr;
    return 0;
}
