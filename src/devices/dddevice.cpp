/* The device channel's Windows side: its constructor and destroy routine,
 * the threads of the device layer and the device list's build. */
#include "dd.h"

#include "core/ddsetting.h"
#include "core/ddthread.h"
#include "core/diapp.h"
#include "devices/diserial.h"

#include <stdlib.h>

DiChannel* ddDevListCreate(DdSocket* s) {
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    if (!io) return nullptr;
    diDeviceChannelInit(io, 0, 0);
    diChannelAttachConnection(&io->ch, s);
    return &io->ch;
}

void ddDevListDestroy(DiChannel* ch) {
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(ch);
    diDeviceChannelTeardown(io);
    diDeviceChannelRelease(io);
}

void* ddDeviceCurrentThread(void) {
    HANDLE h = ddThreadCurrentHandle();
    /* The pseudo-handle names whichever thread uses it: queued to it from a
     * worker, a completion would run on the worker itself. */
    return h == GetCurrentThread() ? nullptr : h;
}

int ddDeviceStartWorker(DiDeviceRequest* req) {
    /* A worker makes one PC/SC or serial call, for which 256 KiB of stack
     * is ample; a channel's full set of workers then reserves 16 MiB of
     * the address space, an eighth of what the program's default takes. */
    enum : unsigned { STACK = 256 * 1024 };
    HANDLE t = ddThreadCreate(diDeviceWorkerThread, reinterpret_cast<uintptr_t>(req), STACK);
    if (!t) return 0;
    ddThreadCloseHandle(t); /* never joined */
    return 1;
}

static void CALLBACK completeOnOwner(ULONG_PTR req) {
    diDeviceCompleteOnOwner(reinterpret_cast<DiDeviceRequest*>(req));
}

int ddDeviceQueueCompletion(void* thread, DiDeviceRequest* req) {
    /* The request itself is the call's argument: nothing is allocated on the
     * worker, so a completion cannot be lost to a failed allocation. */
    return QueueUserAPC(completeOnOwner, static_cast<HANDLE>(thread),
                        reinterpret_cast<ULONG_PTR>(req))
               ? 1
               : 0;
}

void ddDeviceCloseThread(void* thread) {
    ddThreadCloseHandle(static_cast<HANDLE>(thread));
}

/* The error of opening the port, 0 when it opened. */
static uint32_t probePort(const DiChar* name) {
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(name), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
}

static DiDeviceClass* makeSCard() {
    DiDeviceClass* cls = static_cast<DiDeviceClass*>(calloc(1, sizeof(DiDeviceClass)));
    if (cls) diSCardRegisterClass(cls);
    return cls;
}

void ddDevListBuildFor(DiIOChannel* io) {
    if (!g_ddApp || !io || io->ch.hdr.type != DI_OBJ_DEVLIST) return;
    wchar_t ports[1024];
    ddSettingGetString(L"SerialPorts", L"", ports, 1024);
    diDeviceListBuild(io, reinterpret_cast<const DiChar*>(ports), probePort, ddSerialCreateDevice,
                      g_ddApp->hasSmartCards ? makeSCard : nullptr);
}
