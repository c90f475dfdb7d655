/* Display objects and events (see diui.h). */
#include "ui/diui.h"

#include "core/dide.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/discale.h"

#include <stdlib.h>
#include <string.h>

static DiFrame* s_frameHead;

/* Handles nothing: every event gets its default handling. */
static int diUIDefaultHandler(DiObject*, DiEvent*) {
    return 0;
}

void diUIObjectInit(DiObject* obj, uint32_t type, int32_t w, int32_t h) {
    memset(obj, 0, sizeof *obj);
    obj->type = DiObjectType(type);
    obj->handler = diUIDefaultHandler;
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

void diUIObjectRef(DiObject* obj) {
    if (obj) obj->refCount++;
}

void diUIObjectRelease(DiObject* obj) {
    if (!obj) return;
    if (--obj->refCount == 0) diUIObjectDestroy(obj);
}

void diUIObjectDestroy(DiObject* obj) {
    if (!obj) return;
    /* Clear each owned pointer before freeing it, so that the type's destroy
     * routine can neither use nor free it again. */
    DdGC* gc = obj->gc;
    obj->gc = nullptr;
    if (gc) ddGDIFreeGC(gc);
    DiScaler* scaler = obj->scaler;
    obj->scaler = nullptr;
    diScaleFree(scaler); /* with its Windows resources */
    switch (obj->type) {
    case DI_OBJ_PROGRESS:
        ddProgDestroy(obj);
        break;
    case DI_OBJ_DEMANAGER:
        ddDEMgrDestroy(reinterpret_cast<DiDEManager*>(obj));
        break;
    default:
        diDERunDestroyRoutine(obj);
        break;
    }
}

void diUIDeliverEvent(DiObject* obj, DiEvent* ev) {
    /* An object whose last reference is gone is being destroyed: an event
     * that reaches it now (a window message sent during the destruction)
     * must not take and drop a reference and destroy it a second time. */
    if (!obj || !ev || obj->refCount <= 0) return;
    obj->refCount++;
    int handled = obj->handler ? obj->handler(obj, ev) : 0;
    if (!handled) {
        if (ev->w[0] == DI_EV_EXPOSE) {
            diUIClearArea(obj, int32_t(ev->w[2]), int32_t(ev->w[3]), int32_t(ev->w[4]),
                          int32_t(ev->w[5]));
        } else if (ev->w[0] == DI_EV_GEOMETRY) {
            obj->width = int32_t(ev->w[4]);
            obj->height = int32_t(ev->w[5]);
        }
    }
    diUIObjectRelease(obj);
}

void diUIClearArea(DiObject* obj, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!obj->gc) return;
    ddGDISetFunction(obj->gc, DI_ROP_COPY);
    ddGDISetForeground(obj->gc, obj->background);
    ddGDIFillRect(obj->gc, x, y, w, h);
}

void diUISetVirtualSize(DiObject* obj, int32_t w, int32_t h) {
    obj->vwidth = w;
    obj->vheight = h;
    ddUIUpdateScrollRange(obj);
}

void diUISetScrollPos(DiObject* obj, int32_t x, int32_t y) {
    obj->scrollX = x;
    obj->scrollY = y;
    ddUIUpdateScrollPos(obj);
}

int diUISetTitle(DiObject* obj, const DiChar* text) {
    DiChar* copy = nullptr;
    if (text) {
        size_t n = 0;
        while (text[n])
            n++;
        copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
        if (!copy) return -1;
        memcpy(copy, text, (n + 1) * sizeof(DiChar));
    }
    free(obj->title);
    obj->title = copy;
    return 0;
}

void diUIObjectFreeTitle(DiObject* obj) {
    free(obj->title);
    obj->title = nullptr;
}

DiObject* diUIFindTopFrame(DiObject* obj) {
    while (obj && obj->type != DI_OBJ_FRAME)
        obj = obj->parent;
    return obj;
}

void diUIFrameListAppend(DiFrame* frame) {
    frame->next = nullptr;
    frame->prev = nullptr;
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

uint32_t diUIKeptErrorFrames() {
    uint32_t n = 0;
    for (DiFrame* f = s_frameHead; f; f = f->next)
        n += f->keptForError;
    return n;
}

DiFrame* diUICreateFrame(uint32_t mode, uint32_t engineType, int32_t w, int32_t h) {
    DdGC* gc = ddGDICreateGC();
    if (!gc) return nullptr;
    DiFrame* frame = ddUIFrameCreate(mode, gc);
    if (!frame) {
        ddGDIFreeGC(gc);
        return nullptr;
    }
    frame->mode = mode;
    DiDEManager* m = diDEManagerCreate(&frame->hdr, engineType, w, h);
    if (!m) {
        ddUIFrameFree(frame);
        ddGDIFreeGC(gc);
        return nullptr;
    }
    frame->manager = m;
    diUIFrameListAppend(frame);
    ddUILayoutFrame(frame);
    ddUIShowObjectWindow(&m->hdr, 1);
    diDEManagerActivate(m, 0);
    return frame;
}

void diUIDestroyFrame(DiFrame* frame) {
    if (!frame) return;
    diUIFrameListRemove(frame);
    DiDEManager* m = frame->manager;
    frame->manager = nullptr;
    if (m) diDEManagerDestroy(m);
    DiXFrame* xf = frame->xframe;
    frame->xframe = nullptr;
    diSODisplayObjectClosed(&frame->hdr);
    DdGC* gc = frame->hdr.gc;
    frame->hdr.gc = nullptr;
    ddUIForgetRoot(&frame->hdr);
    /* The frame's window tells its X window it is going: the frame record
     * must still be there to hear it. */
    ddUIFrameFree(frame);
    if (xf) diXDestroyFrameWindow(xf);
    if (gc) ddGDIFreeGC(gc);
}

DiObject* diUICreateProgressWindow(DiObject* manager, uint32_t type, int32_t w, int32_t h) {
    if (type != DI_OBJ_PROGRESS) return nullptr;
    DdGC* gc = ddGDICreateGC();
    if (!gc) return nullptr;
    DiObject* p = ddProgCreate(manager, w, h, gc);
    if (!p) {
        ddGDIFreeGC(gc);
        return nullptr;
    }
    diUIObjectSetParent(p, manager, gc);
    return p;
}
