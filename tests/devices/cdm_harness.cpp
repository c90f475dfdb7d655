// The drive-mapping channel as a session makes it: made by the channel
// factory (drives listed then), connected to the file server at
// 127.0.0.1:PORT and started. When the server closes the connection the
// channel is destroyed and the file the server left open is deleted: prints
// "deleted" when that works (no handle of ours holds it), else "held ERROR".
//
// usage: cdm_harness PORT FILE
#include "core/ddapp.h"
#include "core/dide.h"
#include "harness_loop.h"
#include "devices/dddevices.h"
#include "devices/diiochan.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
#include "support/peer_process.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: cdm_harness PORT FILE\n");
        return 2;
    }
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit()) return 1;
    static CMemProfileStore store;
    g_diProfileStore = &store;
    g_ddApp->canMapDrives = ddCDMPresent(); /* as start-up sets it */
    g_ddApp->driveMapping = 1;              /* the setting's default */
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_CDM, 0, 0);
    if (!ch) return 1;
    if (!hvHarnessConnect(ch, argv[1])) return 1;
    diIOSendStart(ch);
    bool closed = hvHarnessServeUntilClosed(ch);
    diDEDestroyChannel(ch);
    wchar_t file[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, file, MAX_PATH);
    if (DeleteFileW(file))
        printf("deleted\n");
    else
        printf("held %lu\n", GetLastError());
    printf(closed ? "closed\n" : "timeout\n");
    fflush(stdout);
    return closed ? 0 : 1;
}
