/* Client drive mapping's Windows side: the drive list and the channel's
 * constructor and destroy routine (the file calls are in ddcdmfile.cpp). */
#include "dd.h"

#include "core/diapp.h"
#include "devices/ddcdm.h"

#include <stdlib.h>
#include <wchar.h>

uint32_t ddCDMListDrives(DiCDMDrive* out) {
    if (!g_ddApp || !g_ddApp->canMapDrives || !GetLogicalDrives()) {
        if (g_ddApp) g_ddApp->canMapDrives = 0;
        return 0;
    }
    wchar_t small[128];
    wchar_t* roots = small;
    DWORD n = GetLogicalDriveStringsW(128, small);
    if (n >= 128) {
        roots = static_cast<wchar_t*>(calloc(n + 1, sizeof(wchar_t)));
        if (!roots || GetLogicalDriveStringsW(n + 1, roots) > n) n = 0;
    }
    uint32_t count = 0;
    for (const wchar_t* r = roots; n && *r && count < 26; r += wcslen(r) + 1) {
        uint16_t kind = 0;
        switch (GetDriveTypeW(r)) {
        case DRIVE_REMOVABLE:
            kind = 2;
            break;
        case DRIVE_FIXED:
            kind = 1;
            break;
        case DRIVE_REMOTE:
            kind = 8;
            break;
        case DRIVE_CDROM:
            kind = 4;
            break;
        }
        if (!kind || !r[0] || r[1] != L':') continue;
        out[count].kind = kind;
        out[count].root[0] = DiChar(r[0] >= L'a' && r[0] <= L'z' ? r[0] - 32 : r[0]);
        out[count].root[1] = ':', out[count].root[2] = '\\', out[count].root[3] = 0;
        count++;
    }
    if (roots != small) free(roots);
    return count;
}

DiChannel* ddCDMCreate(DdSocket* s) {
    /* The user's "EnableCDM" 0: no drive reaches the server. */
    if (!g_ddApp || !g_ddApp->canMapDrives || !g_ddApp->driveMapping) return nullptr;
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    if (!io) return nullptr;
    DiCDMDrive drives[26];
    uint32_t n = ddCDMListDrives(drives);
    diDEChannelInit(&io->ch, DI_OBJ_CDM, 0, 0);
    if (!diCDMChannelInit(io, &g_ddCDMFileOps, drives, n)) {
        diDEChannelFree(&io->ch);
        free(io);
        return nullptr;
    }
    diChannelAttachConnection(&io->ch, s);
    return &io->ch;
}

void ddCDMDestroy(DiChannel* ch) {
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(ch);
    diCDMChannelTeardown(io);
    diDEChannelFree(&io->ch);
    free(io);
}
