// One smart-card call on a session holding context 0x100 and card 0x101:
// a function number byte, a u16 OutputBufferLength, then the call's input;
// decoded, run on the scripted PC/SC service and encoded. The top bit of the
// number makes every service call fail.
#include "devices/fake_pcsc.h"
#include "devices/scard_ndr.h"

using namespace scardndr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    deviceFakesReset();
    fakePcscReset();
    g_pcsc.noStartEvent = true; // a start-event wait would block the run
    fakePcscInstall();
    DiDeviceClass cls = {};
    diSCardRegisterClass(&cls);
    DiSCardSession* s = static_cast<DiSCardSession*>(cls.createSession(&cls));
    call(cls, s, 5, Ndr().u32(0));
    call(cls, s, 43, connectA(0x100, "Reader A"));
    if (data[0] & 0x80) g_pcsc.failAll = int32_t(0x80100069); // every call fails
    uint32_t outLen = uint32_t(data[1]) | uint32_t(data[2]) << 8;
    call(cls, s, data[0] & 0x7F,
         Ndr::raw(std::string(reinterpret_cast<const char*>(data) + 3, size - 3)), outLen);
    cls.destroySession(&cls, s);
    runDeviceThreads();
    if (g_pcsc.autoAllocated || !g_pcsc.cards.empty()) abort();
    return 0;
}
