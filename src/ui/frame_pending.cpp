/* Stand-ins for the services declared in frame_pending.h and ui/diui.h that
 * other modules provide. Each is the least the frame and view windows need;
 * the owners' modules replace this file. */
#include "ui/frame_pending.h"

#include "core/ddapp.h"
#include "ui/ddframe.h"

#include <stdlib.h>

/* ---- Display objects and the frame list ---- */

static DiFrame* s_frameHead;

void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h) {
    *obj = DiObject();
    obj->type = DiObjectType(type);
    obj->width = obj->vwidth = w;
    obj->height = obj->vheight = h;
    obj->background = 0xFFFFFF;
    obj->refCount = 1;
    obj->scrollStepX = obj->scrollStepY = 4;
}
void diUIObjectSetParent(DiObject* obj, DiObject* parent, DdGC* gc) {
    obj->parent = parent;
    obj->gc = gc;
}
void diUIObjectSetGC(DiObject* obj, DdGC* gc) {
    diUIObjectSetParent(obj, nullptr, gc);
}
void diUIFrameInit(DiFrame* frame, int32_t w, int32_t h) {
    diUIObjectInit(&frame->hdr, DI_OBJ_FRAME, w, h);
}
void diUIObjectFreeTitle(DiObject* obj) {
    free(obj->title);
    obj->title = nullptr;
}
void diUIDeliverEvent(DiObject* obj, DiEvent* ev) {
    if (!obj || !ev) return;
    obj->refCount++;
    int handled = obj->handler ? obj->handler(obj, ev) : 0;
    if (!handled && ev->w[0] == DI_EV_GEOMETRY) {
        obj->width = int32_t(ev->w[4]);
        obj->height = int32_t(ev->w[5]);
    }
    obj->refCount--;
}
void diUISetScrollPos(DiObject* obj, int32_t x, int32_t y) {
    obj->scrollX = x;
    obj->scrollY = y;
    ddUIUpdateScrollPos(obj);
}
void diUISetVirtualSize(DiObject* obj, int32_t w, int32_t h) {
    obj->vwidth = w;
    obj->vheight = h;
    ddUIUpdateScrollRange(obj);
}
DiObject* diUIFindTopFrame(DiObject* obj) {
    while (obj && obj->type != DI_OBJ_FRAME)
        obj = obj->parent;
    return obj;
}
void diUIFrameListAppend(DiFrame* frame) {
    frame->next = frame->prev = nullptr;
    if (!s_frameHead) {
        s_frameHead = frame;
        return;
    }
    DiFrame* last = s_frameHead;
    while (last->next)
        last = last->next;
    last->next = frame;
    frame->prev = last;
}
void diUIFrameListRemove(DiFrame* frame) {
    if (frame->prev)
        frame->prev->next = frame->next;
    else if (s_frameHead == frame)
        s_frameHead = frame->next;
    if (frame->next) frame->next->prev = frame->prev;
    frame->next = frame->prev = nullptr;
}
DiFrame* diUIFrameListHead() {
    return s_frameHead;
}
void diUIDestroyFrame(DiFrame* frame) {
    if (!frame) return;
    diUIFrameListRemove(frame);
    DiDEManager* m = frame->manager;
    frame->manager = nullptr;
    if (m) diDEManagerDestroy(m);
    DdGC* gc = frame->hdr.gc;
    frame->hdr.gc = nullptr;
    ddUIForgetRoot(&frame->hdr);
    ddUIFrameFree(frame);
    if (gc) ddGDIFreeGC(gc);
}

/* ---- Channel framework ---- */

void diDEChannelSendActivate(DiChannel* ch) {
    DiEvent ev = {};
    ev.w[0] = DI_EV_ACTIVATE;
    diUIDeliverEvent(reinterpret_cast<DiObject*>(ch), &ev);
}
void diDEChannelSendDeactivate(DiChannel* ch) {
    DiEvent ev = {};
    ev.w[0] = DI_EV_DEACTIVATE;
    diUIDeliverEvent(reinterpret_cast<DiObject*>(ch), &ev);
}
/* The manager's view and the engine stay with their creator here. */
void diDEManagerDestroy(DiDEManager*) {}

/* ---- Sockets ---- */

struct FramePendingSocket {
    SOCKET handle;
    DiObject* owner;
};
static FramePendingSocket s_sockets[16];

void framePendingSetSocketOwner(SOCKET handle, DiObject* owner) {
    for (FramePendingSocket& s : s_sockets)
        if (s.owner && s.handle == handle) {
            s.owner = owner;
            return;
        }
    for (FramePendingSocket& s : s_sockets)
        if (!s.owner) {
            s.handle = handle;
            s.owner = owner;
            return;
        }
}
DiObject* ddNetFindOwnerBySocket(SOCKET handle) {
    for (FramePendingSocket& s : s_sockets)
        if (s.owner && s.handle == handle) return s.owner;
    return nullptr;
}

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

/* ---- Settings, monitors, timers ---- */

void diAppLoadSettings(DdApp*) {}
void diAppSaveSettings(DdApp*) {}
int32_t ddSettingGetInt(const wchar_t*, int32_t def) {
    return def;
}
void ddSettingSetInt(const wchar_t*, int32_t) {}
void ddMultiMonEnumerate(void) {}
DiTimer* diTimerAdd(uint32_t, DiTimerCallback, void*) {
    return nullptr;
}
