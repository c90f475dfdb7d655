/* Stand-ins for the services declared in frame_pending.h and ui/diui.h that
 * other modules provide. Each is the least the frame and view windows need;
 * the owners' modules replace this file. */
#include "ui/frame_pending.h"

#include "core/ddapp.h"
#include "ui/ddframe.h"

#include <stdlib.h>

/* ---- Session, print, dialogs, clipboard ---- */

int (*g_framePendingSOCreate)(void);
void (*g_framePendingSODestroy)(void);
void (*g_framePendingSOUIExit)(void);

int ddSOCreate(void) {
    return g_framePendingSOCreate ? g_framePendingSOCreate() : 1;
}
void ddSODestroy(void) {
    if (g_framePendingSODestroy) g_framePendingSODestroy();
}
void ddSOOnStartRequest(void) {}
void diSOUIExit(void) {
    if (g_framePendingSOUIExit) {
        g_framePendingSOUIExit();
        return;
    }
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_END, 0, 0);
}
void ddSOSetWindowIcons(HWND) {}
void ddSOTrayNotify(HWND, WPARAM, LPARAM) {}
DiChannel* diSOGetPrintChannel(void) {
    return nullptr;
}
void diPrintResume(DiChannel*) {}
void diPrintPause(DiChannel*) {}
void ddDlgAbout(HWND) {}
void ddDlgConsoleLog(HWND) {}
void ddDlgConsoleLogClose(void) {}
void ddClipRequestRemote(DiObject*, UINT) {}

/* ---- Settings ---- */

void diAppLoadSettings(DdApp*) {}
void diAppSaveSettings(DdApp*) {}
void ddSettingSetInt(const wchar_t*, int32_t) {}
