// Login-dialog frames from the server, split anywhere: every frame is
// decoded with bounds, dialogs answered, and the exchange ends cleanly or
// waits; nothing is read past the buffer or leaked.
#include "core/dide.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "fakes/laip_fakes.h"

#include <string>

static int ownHandler(DiObject*, DiEvent*) {
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    laipFakesReset();
    diDEClock = [] { return uint32_t(1000); };
    g_fakeChannels.ctorSucceeds = true;
    g_fakeChannels.handler = ownHandler;
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 0, 0);
    if (!ch) return 0;
    ch->in.limit = 16384;
    ch->out.limit = 65538;
    for (int i = 0; i < 4; ++i) {
        FakeLaipDialog d;
        d.ok = i != 2;
        d.user = u"user";
        d.password = u"pass\u00e9word";
        d.password2 = u"new";
        g_fakeLaip.dialogs.push_back(d);
    }
    diLAIPSendRequest(ch, 0, 2, nullptr, 0, nullptr, nullptr, u"srv", nullptr);
    size_t chunk = size ? size_t(data[0]) * 4 + 1 : 1;
    for (size_t i = 1; i < size; i += chunk)
        g_fakeNet.incoming.push_back(
            std::string(reinterpret_cast<const char*>(data) + i, i + chunk < size ? chunk : size - i));
    g_fakeNet.closed = true;
    for (int round = 0; round < 64 && diLAIPActive(ch); ++round) {
        DiEvent ev{};
        ev.w[0] = DI_EV_READABLE;
        diUIDeliverEvent(&ch->hdr, &ev);
        diTimerDispatch(1000 + 70000u * uint32_t(round + 1));
    }
    diLAIPFreeDialogState(ch);
    diDEDestroyChannel(ch);
    // Timers left by the exchange are gone with it.
    diTimerDispatch(0xF0000000u);
    return 0;
}
