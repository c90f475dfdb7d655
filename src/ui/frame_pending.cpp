/* Stand-ins for the services declared in frame_pending.h and ui/diui.h that
 * other modules provide. Each is the least the frame and view windows need;
 * the owners' modules replace this file. */
#include "ui/frame_pending.h"

#include "core/ddapp.h"
#include "ui/ddframe.h"

#include <stdlib.h>

/* ---- Graphics contexts ---- */

struct DdGC {
    HWND window;
    HDC dc;
    HPALETTE palette;
    HCURSOR cursor;
};
DdGC* ddGDICreateGC() {
    return static_cast<DdGC*>(calloc(1, sizeof(DdGC)));
}
void ddGDIFreeGC(DdGC* gc) {
    if (!gc) return;
    ddGDIDetach(gc);
    free(gc);
}
void ddGDIAttach(DdGC* gc, HWND hwnd) {
    ddGDIDetach(gc);
    gc->window = hwnd;
    gc->dc = hwnd ? GetDC(hwnd) : nullptr;
}
void ddGDIDetach(DdGC* gc) {
    if (gc->dc && gc->window && IsWindow(gc->window)) ReleaseDC(gc->window, gc->dc);
    gc->dc = nullptr;
    gc->window = nullptr;
}
HWND ddGDIGetWindow(DdGC* gc) {
    return gc ? gc->window : nullptr;
}
HDC ddGDIGetDC(DdGC* gc) {
    return gc ? gc->dc : nullptr;
}
HPALETTE ddGDIGetPalette(DdGC* gc) {
    return gc ? gc->palette : nullptr;
}
HCURSOR ddGDIGetCursor(DdGC* gc) {
    return gc ? gc->cursor : nullptr;
}
HCURSOR ddGDILoadCursor(int) {
    return LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_CROSS));
}
HPALETTE ddColorDefaultPalette() {
    return nullptr;
}

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

/* ---- Settings and monitors ---- */

void diAppLoadSettings(DdApp*) {}
void diAppSaveSettings(DdApp*) {}
void ddSettingSetInt(const wchar_t*, int32_t) {}
void ddMultiMonEnumerate(void) {}
