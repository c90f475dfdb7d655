// The device channel as a session makes it: made by the channel factory,
// its list built from the "SerialPorts" setting and the start-up smart-card
// probe, connected to the IO request server at 127.0.0.1:PORT and started.
// It prints each announced device as "announce TEXT=CLASSCODE", then runs
// the event loop (completions of device workers included) until the server
// closes the connection, and prints "closed".
//
// usage: iochan_harness PORT SERIALPORTS
#include "core/ddapp.h"
#include "core/dide.h"
#include "harness_loop.h"
#include "core/ddsetting.h"
#include "devices/dddevices.h"
#include "devices/didevice.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
#include "support/peer_process.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: iochan_harness PORT SERIALPORTS\n");
        return 2;
    }
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit()) return 1;
    static CMemProfileStore store;
    g_diProfileStore = &store;
    wchar_t ports[256];
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, ports, 256);
    ddSettingSetString(L"SerialPorts", ports);
    g_ddApp->hasSmartCards = ddSCardIsAvailable();
    g_ddApp->probeOne = 1;
    diIAIPSetLevel(2); /* as the server's IO request sets it before the channel starts */

    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_DEVLIST, 0, 0);
    if (!ch) return 1;
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(ch);
    ddDevListBuildFor(io);
    DiDeviceList* list = diDeviceListOf(io);
    for (uint32_t i = 0; list && i < list->count; i++) {
        DiChar text[128];
        if (diDeviceAnnouncement(list->devices[i], i, text, 128) > 0)
            printf("announce %ls=%d\n", reinterpret_cast<wchar_t*>(text),
                   list->devices[i]->classCode);
    }
    fflush(stdout);
    if (!hvHarnessConnect(ch, argv[1])) return 1;
    diIOSendStart(ch);

    bool closed = hvHarnessServeUntilClosed(ch);
    diDEDestroyChannel(ch);
    printf(closed ? "closed\n" : "timeout\n");
#ifdef HV_SCARD_STANDIN
    // The calls the stand-in winscard.dll beside this program received.
    typedef const char*(WINAPI * LogFn)();
    FARPROC log = GetProcAddress(GetModuleHandleW(L"winscard.dll"), "HvStandinTakeLog");
    if (log) printf("pcsc %s\n", reinterpret_cast<LogFn>(reinterpret_cast<void*>(log))());
#endif
    fflush(stdout);
    return closed ? 0 : 1;
}
