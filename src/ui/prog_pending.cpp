/* Stand-ins for what the progress window calls in modules that are being
 * written elsewhere: display objects, graphics contexts and fonts, the view
 * window, numbered messages, the login-dialog protocol and two session
 * services. Each does the least the progress window relies on; the real
 * modules replace this file. */
#include "dd.h"

#include "core/ddmessage.h"
#include "core/dide.h"
#include "net/dilaip.h"
#include "session/ddso.h"
#include "ui/ddgdi.h"
#include "ui/ddframe.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

/* Display objects. */
void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h) {
    memset(obj, 0, sizeof(*obj));
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

void diUIObjectRef(DiObject* obj) {
    if (obj) obj->refCount++;
}

void diUIObjectDestroy(DiObject* obj) {
    DdGC* gc = obj->gc;
    obj->gc = nullptr;
    if (gc) ddGDIFreeGC(gc);
    if (obj->type == DI_OBJ_PROGRESS) ddProgDestroy(obj);
}

void diUIObjectRelease(DiObject* obj) {
    if (!obj || obj->refCount <= 0) return;
    if (--obj->refCount == 0) diUIObjectDestroy(obj);
}

void diUIDeliverEvent(DiObject* obj, DiEvent* ev) {
    /* An object whose last reference is gone is being destroyed. */
    if (!obj || !ev || obj->refCount <= 0) return;
    obj->refCount++;
    if (obj->handler) obj->handler(obj, ev);
    diUIObjectRelease(obj);
}

/* Graphics contexts and fonts: records without drawing. */
struct DdGC {
    HWND window;
    HDC dc;
};

DdGC* ddGDICreateGC() {
    return static_cast<DdGC*>(calloc(1, sizeof(DdGC)));
}
void ddGDIFreeGC(DdGC* gc) {
    free(gc);
}
void ddGDIAttach(DdGC* gc, HWND hwnd, HDC hdc) {
    if (!gc) return;
    gc->window = hwnd;
    gc->dc = hdc;
}
void ddGDIDetach(DdGC* gc) {
    if (gc) gc->window = nullptr, gc->dc = nullptr;
}
void ddGDISetFunction(DdGC*, uint32_t) {}
void ddGDISetForeground(DdGC*, uint32_t) {}
void ddGDISetBackground(DdGC*, uint32_t) {}
void ddGDIFillRect(DdGC*, int32_t, int32_t, int32_t, int32_t) {}
DiGDIFont* ddGDISelectFont(DdGC*, DiGDIFont*) {
    return nullptr;
}
int ddGDIGetFontMetrics(DdGC*, DiGDIFont* font, DdFontMetrics* metrics) {
    memset(metrics, 0, sizeof(*metrics));
    metrics->height = font ? font->height : 0;
    return 0;
}
void ddGDIDrawText(DdGC*, int32_t, int32_t, int32_t, int32_t, const DiChar*, uint32_t) {}
DiGDIFont* diGDIFindFont(DdGC*, const DiChar*, int32_t, int32_t height, uint32_t, uint32_t) {
    DiGDIFont* f = static_cast<DiGDIFont*>(calloc(1, sizeof(DiGDIFont)));
    if (f) f->height = height;
    return f;
}
void diGDIReleaseFont(DdGC*, DiGDIFont* font) {
    free(font);
}

/* A view: a hidden pop-up window, since the frame windows are not built. */
HWND ddUICreateView(DiObject*, int, int32_t width, int32_t height) {
    return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

int ddLoadMessage(int message, wchar_t* buffer, int size) {
    if (size <= 0) return 0;
    int n = LoadStringW(GetModuleHandleW(nullptr), UINT(message + 500), buffer, size);
    if (n <= 0) buffer[0] = 0;
    return n > 0 ? n : 0;
}

void ddSOSetWindowTitle(HWND window, int stringId) {
    wchar_t text[256];
    if (LoadStringW(GetModuleHandleW(nullptr), UINT(stringId), text, 256) > 0)
        SetWindowTextW(window, text);
}

int diSOIsLaunchDialogPending() {
    return 0;
}

void diLAIPFreeDialogState(DiChannel*) {}
