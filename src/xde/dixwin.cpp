/* X windows: records, frames, show/hide, configure, restack, titles, size
 * hints, icons, grabs, cursors; damage with its exposure, update and
 * activity timers, and painting through device slot 16. */
#include "xde/dixde.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "ui/diui.h"
#include "xde/dixscreen.h"
#include "xde/dixseamless.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void stopTimer(DiTimer** t) {
    if (*t) {
        DiTimer* x = *t;
        *t = nullptr;
        diTimerRemove(x);
    }
}

bool multiWindow(const DiXDisplay* d) {
    return d->sessionFlags & DI_XSESSION_MULTI;
}
bool seamless(const DiXDisplay* d) {
    return d->sessionFlags2 & DI_XSESSION2_SEAMLESS;
}
bool scaled(const DiXDisplay* d) {
    return d->ch.hdr.scaler != nullptr;
}

void desktopOrigin(DiXDisplay* d, int32_t* x, int32_t* y) {
    *x = *y = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, x, y);
}

uint32_t exposureFired(void* arg) {
    DiXWindow* w = static_cast<DiXWindow*>(arg);
    w->exposureTimer = nullptr;
    diXPaintExposures(w->display, w);
    return 0;
}

uint32_t updateFired(void* arg) {
    DiXWindow* w = static_cast<DiXWindow*>(arg);
    DiXDisplay* d = w->display;
    uint32_t limit = scaled(d) ? d->scaleMaxUpdateInterval : 2000;
    uint32_t again = scaled(d) ? d->scaleUpdateInterval : 1000;
    if ((w->activity & 1) && diDEClock() - w->updateStart < limit) {
        w->activity &= ~1u;
        return again ? again : 1;
    }
    w->updateTimer = nullptr;
    diXPaintUpdates(d, w);
    return 0;
}

uint32_t activityFired(void* arg) {
    DiXWindow* w = static_cast<DiXWindow*>(arg);
    uint32_t now = diDEClock();
    if (now - w->lastKey >= 500) w->activity &= ~2u;
    if (now - w->lastPointer >= 500) w->activity &= ~4u;
    if (w->activity & 6) return 500;
    w->activityTimer = nullptr;
    if (w->display->gc) w->display->gc->fb.changeMask |= FB_GC_VALIDATE;
    return 0;
}

/* Paints an area's boxes through slot 16: one call for the extents when
 * the boxes cover them. Clears the area. */
void paintArea(DiXDisplay* d, DiXWindow* w, DiXRegionArea* a) {
    if (!diXAreaIsEmpty(a) && d->dev->paint) {
        if (diXAreaCoversExtents(a)) {
            DiBox b{int16_t(a->x), int16_t(a->y), int16_t(a->x + a->width),
                    int16_t(a->y + a->height)};
            d->dev->paint(d, w, 1, &b);
        } else {
            RegionMergeVertical(&a->region);
            int n = RegionNumRects(&a->region);
            const DiBox* boxes = RegionRects(&a->region);
            for (int i = 0; i < n; i++) d->dev->paint(d, w, 1, &boxes[i]);
        }
    }
    diXAreaClear(a);
}

/* The window's rectangle in the buffer it draws into: the root's own
 * size; other windows share the root's buffer at their position. */
void bufferRect(const DiXWindow* w, int32_t* x, int32_t* y, int32_t* r, int32_t* b) {
    if (w->head.id == 0) {
        *x = 0, *y = 0;
    } else {
        *x = w->head.x, *y = w->head.y;
    }
    int64_t rr = int64_t(*x) + w->head.width, bb = int64_t(*y) + w->head.height;
    *r = int32_t(rr > int64_t(DI_XMAX_SIDE) ? int64_t(DI_XMAX_SIDE) : rr);
    *b = int32_t(bb > int64_t(DI_XMAX_SIDE) ? int64_t(DI_XMAX_SIDE) : bb);
}

/* Uniting a box costs time in the boxes already held: an area of many
 * boxes becomes its extents, which paints a few more pixels but keeps
 * every union short. */
const int32_t kMaxDamageBoxes = 64;

void addToArea(DiXRegionArea* a, int32_t n, const DiXRect* rects) {
    diXAreaAddBoxesUpTo(a, n, rects, kMaxDamageBoxes);
}

/* Damage already cut to the window, as boxes in root coordinates. */
void addDamage(DiXWindow* w, uint32_t flags, int32_t n, const DiXRect* rects) {
    DiXDisplay* d = w->display;
    if (n <= 0) return;
    if (flags & 2) {
        addToArea(&w->exposure, n, rects);
        if (!(flags & 4) && !w->exposureTimer) {
            w->exposureStart = diDEClock();
            w->exposureTimer = diTimerAdd(d->updateInterval, exposureFired, w);
        }
    }
    if (flags & 1) {
        addToArea(&w->update, n, rects);
        if (!w->updateTimer) {
            w->updateStart = diDEClock();
            w->activity &= ~1u;
            w->updateTimer =
                diTimerAdd(scaled(d) ? d->scaleUpdateInterval : 1000, updateFired, w);
        } else {
            w->activity |= 1;
        }
    }
}

/* A damage box placed in the root: a negative start raised to 0 with the
 * size kept; the far edges capped at INT32_MAX, past every window. */
struct Placed {
    int32_t x1, y1, x2, y2;
};

int32_t capEdge(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
}

/* Places boxes (x, y, width, height); returns their bounds. */
Placed placeBoxes(int32_t count, const FbRect* boxes, Placed* out) {
    Placed all{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int32_t i = 0; i < count; i++) {
        int64_t x1 = boxes[i].x, y1 = boxes[i].y;
        int64_t x2 = x1 + boxes[i].width, y2 = y1 + boxes[i].height;
        if (x1 < 0) x2 = boxes[i].width, x1 = 0;
        if (y1 < 0) y2 = boxes[i].height, y1 = 0;
        Placed p{int32_t(x1), int32_t(y1), capEdge(x2), capEdge(y2)};
        out[i] = p;
        if (p.x1 < all.x1) all.x1 = p.x1;
        if (p.y1 < all.y1) all.y1 = p.y1;
        if (p.x2 > all.x2) all.x2 = p.x2;
        if (p.y2 > all.y2) all.y2 = p.y2;
    }
    return all;
}

/* Cuts placed boxes to the window's rectangle. */
int32_t cutBoxes(const DiXWindow* w, int32_t count, const Placed* boxes, DiXRect* out) {
    int32_t wx, wy, wr, wb, n = 0;
    bufferRect(w, &wx, &wy, &wr, &wb);
    for (int32_t i = 0; i < count; i++) {
        const Placed& p = boxes[i];
        int32_t x1 = p.x1 > wx ? p.x1 : wx, y1 = p.y1 > wy ? p.y1 : wy;
        int32_t x2 = p.x2 < wr ? p.x2 : wr, y2 = p.y2 < wb ? p.y2 : wb;
        if (x2 <= x1 || y2 <= y1) continue;
        out[n++] = DiXRect{int16_t(x1), int16_t(y1), uint16_t(x2 - x1), uint16_t(y2 - y1)};
    }
    return n;
}

/* True when the window's rectangle meets the bounds: a window clear of
 * them keeps nothing of the boxes. */
bool meets(const DiXWindow* w, const Placed& all) {
    int32_t wx, wy, wr, wb;
    bufferRect(w, &wx, &wy, &wr, &wb);
    return all.x1 < wr && all.x2 > wx && all.y1 < wb && all.y2 > wy;
}

/* cut: room for count rectangles. */
void damageOne(DiXWindow* w, uint32_t flags, int32_t count, const Placed* boxes, DiXRect* cut) {
    int32_t n = cutBoxes(w, count, boxes, cut);
    addDamage(w, flags, n, cut);
}

/* Clears a window's table entry; windowEnd drops past the free ids below. */
void forgetWindow(DiXDisplay* d, uint32_t id) {
    d->windows[id] = nullptr;
    while (d->windowEnd > 0 && !d->windows[d->windowEnd - 1]) d->windowEnd--;
}

/* The end of the ids that windows in use (below the limit) hold. */
uint32_t windowsEnd(const DiXDisplay* d) {
    return d->windowEnd < d->windowLimit ? d->windowEnd : d->windowLimit;
}

/* A window stays disabled while any shown window's owner modes disable it:
 * its frame counts them, and only the first and the last reach Windows. A
 * window made after its disabler showed was never counted and stays as it
 * is when that one hides. */
void countDisabler(DiXDisplay* d, uint32_t id, bool add) {
    DiXWindow* w = id < DI_XWINDOWS ? d->windows[id] : nullptr;
    DiXFrame* f = w ? w->frame : nullptr;
    if (!f || (!add && f->disablers == 0)) return;
    f->disablers += add ? 1 : uint32_t(-1);
    if (f->disablers > (add ? 1u : 0u)) return;
    f->disabled = add;
    if (d->dev->enableWindow) d->dev->enableWindow(d, w, !add);
}

/* Takes (or gives back) the disables of a window's owner modes, once for
 * as long as it shows: hiding and destroying it give them back alike. */
void holdOwnerModes(DiXDisplay* d, uint32_t id, DiXFrame* f, bool hold) {
    if (bool(f->disabling) == hold) return;
    f->disabling = hold;
    if (f->ownerMode & 1) countDisabler(d, f->ownerId, hold);
    if (f->ownerMode & 2)
        for (uint32_t i = 1; i < d->windowLimit; i++)
            if (i != id) countDisabler(d, i, hold);
}

/* A device call that moves, shows or stacks seamless frames: the frame
 * events it causes are the engine's own, not the user's. */
struct OwnChange {
    DiXDisplay* d;
    bool on;
    explicit OwnChange(DiXDisplay* display) : d(display), on(seamless(display)) {
        if (on) d->reentrancy++;
    }
    ~OwnChange() {
        if (on) d->reentrancy--;
    }
};

void sendPropertyNotify(DiXDisplay* d, uint32_t id, const char* name) {
    DiChar window[12], n[32];
    char text[12];
    snprintf(text, sizeof text, "%u", id);
    uint32_t wl = 0, nl = 0;
    for (; text[wl]; wl++) window[wl] = DiChar(text[wl]);
    for (; name[nl]; nl++) n[nl] = DiChar(name[nl]);
    diXAIPSendPropertyNotify(d, window, wl, n, nl);
}

} // namespace

DiXWindow* diXLookupWindow(DiXDisplay* d, uint32_t id) {
    return id < DI_XWINDOWS ? d->windows[id] : nullptr;
}

DiXWindow* diXAllocWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                          int32_t height, uint32_t depth) {
    if (id >= DI_XWINDOWS || width < 0 || height < 0 || uint32_t(width) > DI_XMAX_SIDE ||
        uint32_t(height) > DI_XMAX_SIDE)
        return nullptr;
    /* Only the root holds pixels: every other window draws into its buffer. */
    if (id == 0 && diXChargeScreen(d, width, height, depth) < 0) return nullptr;
    DiXWindow* w = static_cast<DiXWindow*>(calloc(1, d->windowSize));
    if (!w) {
        if (id == 0) diXReleaseScreen(d);
        return nullptr;
    }
    w->head = DiXDrawable{0, id, x, y, width, height, depth, FbBuffer{}};
    w->display = d;
    diXAreaInit(&w->exposure);
    diXAreaInit(&w->update);
    d->windows[id] = w;
    if (id >= d->windowEnd) d->windowEnd = id + 1;
    if (!d->dev->createWindow || d->dev->createWindow(d, w) < 0) {
        forgetWindow(d, id);
        diXAreaFree(&w->exposure);
        diXAreaFree(&w->update);
        free(w);
        if (id == 0) diXReleaseScreen(d);
        return nullptr;
    }
    return w;
}

void diXFreeWindow(DiXDisplay* d, uint32_t id) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w) return;
    stopTimer(&w->exposureTimer);
    stopTimer(&w->updateTimer);
    stopTimer(&w->activityTimer);
    diXAreaFree(&w->exposure);
    diXAreaFree(&w->update);
    if (d->dev->freeWindow) d->dev->freeWindow(d, w);
    if (id == 0) diXReleaseScreen(d);
    forgetWindow(d, id);
    /* The GC must not keep drawing into a freed window. */
    if (d->gc && d->gc->drawable == &w->head) {
        d->gc->drawable = nullptr;
        d->gc->fb.changeMask |= FB_GC_VALIDATE;
    }
    free(w);
}

void diXDestroyWindow(DiXDisplay* d, uint32_t id) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w) return;
    if (DiXFrame* f = w->frame) {
        /* An X server unmaps the window it destroys. */
        holdOwnerModes(d, id, f, false);
        diXSWMForgetFrame(f);
        w->frame = nullptr;
        f->windowId = DI_XWINDOWS;
        if (d->dev->destroyFrame)
            d->dev->destroyFrame(d, f);
        else
            diXDestroyFrameWindow(f);
    }
    diXFreeWindow(d, id);
}

void diXDestroyAllWindows(DiXDisplay* d) {
    /* The whole table: ids past the limit may hold windows too. */
    for (uint32_t id = 1; id < DI_XWINDOWS; id++) diXDestroyWindow(d, id);
}

DiXFrame* diXCreateFrameWindow(DiXDisplay* d, DdGC* gc) {
    DiXFrame* f = static_cast<DiXFrame*>(calloc(1, sizeof(DiXFrame)));
    if (!f) return nullptr;
    f->hdr.type = DiObjectType(5);
    f->hdr.gc = gc;
    f->hdr.refCount = 1;
    f->hdr.background = 0xFFFFFF;
    f->display = d;
    f->windowId = DI_XWINDOWS;
    f->hints[2] = f->hints[3] = 0xFFFF;
    return f;
}

void diXDestroyFrameWindow(DiXFrame* f) {
    if (!f) return;
    free(f->title);
    free(f->iconTitle);
    stopTimer(&f->sizeMoveTimer);
    diXSWMForgetFrame(f);
    DiXDisplay* d = f->display;
    if (d && f->windowId < DI_XWINDOWS && d->windows[f->windowId] &&
        d->windows[f->windowId]->frame == f)
        d->windows[f->windowId]->frame = nullptr;
    /* The graphics context belongs to the Windows side's frame object. */
    free(f);
}

void diXCreateWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t style, uint32_t ownerMode, uint32_t ownerId,
                     uint32_t frameFlags) {
    if (id == 0 || id >= DI_XWINDOWS || !d->windows[0]) {
        diLogErrorText(u"An X window request names an id this client refuses; it is ignored.");
        return;
    }
    if (width < 0 || height < 0 || uint32_t(width) > DI_XMAX_SIDE ||
        uint32_t(height) > DI_XMAX_SIDE) {
        diLogErrorText(u"An X window is larger than this client can hold; it is ignored.");
        return;
    }
    /* An id in use: the old window goes first, with its frame and timers. */
    if (d->windows[id]) diXDestroyWindow(d, id);
    style &= ~1u;
    if (!(d->sessionFlags & DI_XSESSION_OVERRIDE_FOCUS)) {
        if (!(style & 0x7E))
            style |= 0x80;
        else
            style &= ~0x80u;
    }
    int32_t ox, oy;
    desktopOrigin(d, &ox, &oy);
    int32_t fx = x + ox, fy = y + oy, fw = width, fh = height;
    DiXFrame* f = d->dev->createFrame ? d->dev->createFrame(d, &fx, &fy, &fw, &fh, style)
                                      : nullptr;
    if (!f) return;
    f->styleFlags = style;
    f->ownerMode = ownerMode;
    f->ownerId = ownerId;
    f->frameFlags = frameFlags;
    f->display = d;
    DiXWindow* w = diXAllocWindow(d, id, x, y, width, height, d->depth);
    if (!w) {
        if (d->dev->destroyFrame)
            d->dev->destroyFrame(d, f);
        else
            diXDestroyFrameWindow(f);
        return;
    }
    w->frame = f;
    f->windowId = id;
    if (!(d->sessionFlags & DI_XSESSION_EXTGEOM)) {
        diXAIPSendWindowCreated(d, id, f->borders);
        f->reported = 1;
    } else {
        f->rect[0] = fx, f->rect[1] = fy, f->rect[2] = fw, f->rect[3] = fh;
    }
    if (d->dev->configureWindow) d->dev->configureWindow(d, w, fx, fy, fw, fh);
    if (d->dev->setStandardCursor) d->dev->setStandardCursor(d, f->hdr.gc, d->standardCursor);
    if (seamless(d)) {
        sendPropertyNotify(d, id, "qvl-swm-windowinfo");
        sendPropertyNotify(d, id, "qvl-swm-focusinfo");
    }
}

void diXShowWindow(DiXDisplay* d, uint32_t id, uint32_t mode) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w || !w->frame) return;
    DiXFrame* f = w->frame;
    if (seamless(d)) {
        bool lastIn = d->flags & DI_XFLAG_FOCUS_IN;
        if (mode == 1) {
            diXSWMExpectGain(d, f);
            if (lastIn && d->focusLast && d->focusLast != f) diXSWMExpectLoss(d, d->focusLast);
        } else if (mode == 0) {
            diXSWMExpectLoss(d, f);
            DiXWindow* owner = f->ownerId != id ? diXLookupWindow(d, f->ownerId) : nullptr;
            if (lastIn && d->focusLast == f && owner && owner->frame)
                diXSWMExpectGain(d, owner->frame);
        }
        if (f->frameFlags & 1) {
            /* The session's own frame stands for the root of the session. */
            if (mode == 0) diXSWMExpectAny(d);
            ddUIShowObjectWindow(&d->ch.hdr, int(mode));
            if (mode == 1 && d->dev->setFocus) d->dev->setFocus(d, &d->ch.hdr);
            return;
        }
    }
    holdOwnerModes(d, id, f, mode != 0);
    if (d->dev->showWindow) {
        OwnChange own(d);
        d->dev->showWindow(d, w, mode);
    }
    /* The device may have destroyed the window meanwhile. */
    if (diXLookupWindow(d, id) != w || !w->frame) return;
    if ((!(w->frame->styleFlags & 0x80) && !(d->flags & DI_XFLAG_NO_ACTIVATE)) ||
        (d->flags & DI_XFLAG_OLDTRANSIENT))
        diXAIPSendActivate(d, id, -1);
}

void diXConfigureWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
    DiXWindow* w = diXLookupWindow(d, id);
    /* The root is the screen: its size is the session's, and its buffer
     * is every window's. */
    if (!w || id == 0) return;
    if (width < 0 || height < 0 || uint32_t(width) > DI_XMAX_SIDE ||
        uint32_t(height) > DI_XMAX_SIDE)
        return;
    /* The window keeps its place in the root's buffer for damage. */
    w->head.x = x, w->head.y = y, w->head.width = width, w->head.height = height;
    int32_t ox, oy;
    desktopOrigin(d, &ox, &oy);
    if (d->dev->configureWindow) {
        OwnChange own(d);
        d->dev->configureWindow(d, w, x + ox, y + oy, width, height);
    }
    /* The server placed the window the user dragged: the drag is over. */
    if (d->draggedWindow == id && diXLookupWindow(d, id) == w) {
        d->draggedWindow = 0;
        if (d->flags & DI_XFLAG_DIRECT) diXPaintExposures(d, w);
    }
}

void diXRestackWindow(DiXDisplay* d, uint32_t id, uint32_t mode, uint32_t sibling) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w) return;
    DiXWindow* s = nullptr;
    if (mode == 1) {
        s = diXLookupWindow(d, sibling);
        if (!s) return;
    }
    if (seamless(d) && w->frame && (w->frame->frameFlags & 1)) return;
    if (d->dev->restackWindow) {
        OwnChange own(d);
        d->dev->restackWindow(d, w, mode, s);
    }
}

void diXDamageBoxes(DiXWindow* w, DiXGC* gc, int32_t count, const FbRect* boxes) {
    if (!w || !gc || count <= 0) return;
    DiXDisplay* d = w->display;
    uint32_t flags = gc->fb.damageFlags;
    /* Boxes are placed once, then cut for each window that takes them. */
    Placed placedStack[64];
    DiXRect cutStack[64];
    Placed* placed = placedStack;
    DiXRect* cut = cutStack;
    if (count > 64) {
        placed = static_cast<Placed*>(malloc(sizeof(Placed) * size_t(count)));
        cut = static_cast<DiXRect*>(malloc(sizeof(DiXRect) * size_t(count)));
        if (!placed || !cut) {
            free(placed);
            free(cut);
            return;
        }
    }
    Placed all = placeBoxes(count, boxes, placed);
    bool own = true;
    if (w->head.id == 0 && multiWindow(d)) {
        /* Windows share the root's buffer: each takes its part. */
        for (uint32_t id = 1, end = windowsEnd(d); id < end; id++) {
            DiXWindow* c = d->windows[id];
            if (c && meets(c, all)) damageOne(c, flags, count, placed, cut);
        }
        own = seamless(d);
    }
    if (own) damageOne(w, flags, count, placed, cut);
    if (placed != placedStack) {
        free(placed);
        free(cut);
    }
}

void diXDamageRect(DiXWindow* w, DiXGC* gc, int32_t x, int32_t y, int32_t width,
                   int32_t height) {
    if (width <= 0 || height <= 0) return;
    FbRect r{x, y, uint32_t(width), uint32_t(height)};
    diXDamageBoxes(w, gc, 1, &r);
}

void diXDamageLine(DiXWindow* w, DiXGC* gc, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    if (x1 == x2 && y1 == y2) return;
    /* Along the major axis the line covers its first end and stops short
     * of its second. Across it the drawn pixels step to the second end's
     * row (or column) half way along a shallow line, so the minor axis
     * spans both ends: cutting it short would lose pixels that were drawn
     * from ever being painted. */
    int64_t adx = x2 > x1 ? int64_t(x2) - x1 : int64_t(x1) - x2;
    int64_t ady = y2 > y1 ? int64_t(y2) - y1 : int64_t(y1) - y2;
    bool yMajor = adx <= ady;
    auto span = [](int64_t a, int64_t b, bool major, int64_t* lo, int64_t* hi) {
        if (a == b) {
            *lo = a, *hi = a + 1;
        } else if (!major) {
            *lo = a < b ? a : b, *hi = (a < b ? b : a) + 1;
        } else if (a < b) {
            *lo = a, *hi = b;
        } else {
            *lo = b + 1, *hi = a + 1;
        }
    };
    int64_t a, b, c, e;
    span(x1, x2, !yMajor, &a, &b);
    span(y1, y2, yMajor, &c, &e);
    if (a < INT32_MIN || c < INT32_MIN || b - a > UINT32_MAX || e - c > UINT32_MAX) return;
    FbRect r{int32_t(a), int32_t(c), uint32_t(b - a), uint32_t(e - c)};
    diXDamageBoxes(w, gc, 1, &r);
}

void diXPaintExposures(DiXDisplay* d, DiXWindow* w) {
    if (!w) return;
    if (!diXAreaIsEmpty(&d->exposureRegion)) {
        /* A drag's area waits for its repaint: once every part of it came
         * back, direct drawing ends without waiting for its timer. */
        diXAreaSubtract(&d->exposureRegion, &d->exposureRegion, &w->exposure);
        if (diXAreaIsEmpty(&d->exposureRegion) && !d->draggedWindow &&
            (d->flags & DI_XFLAG_DIRECT)) {
            diXEndDirectDrawing(d);
            diXAreaClear(&w->exposure);
            stopTimer(&w->exposureTimer);
            return;
        }
    }
    if (w->head.id == 0 && multiWindow(d) && !(d->flags & DI_XFLAG_DIRECT)) {
        for (uint32_t id = 1; id < windowsEnd(d); id++)
            if (d->windows[id]) diXPaintExposures(d, d->windows[id]);
        if (!seamless(d)) {
            diXAreaClear(&w->exposure);
            stopTimer(&w->exposureTimer);
            return;
        }
    }
    if (d->flags & DI_XFLAG_DIRECT)
        diXAreaClear(&w->exposure);
    else
        paintArea(d, w, &w->exposure);
    stopTimer(&w->exposureTimer);
}

void diXPaintUpdates(DiXDisplay* d, DiXWindow* w) {
    if (!w) return;
    paintArea(d, w, &w->update);
    stopTimer(&w->updateTimer);
}

void diXFlushDueUpdates(DiXDisplay* d) {
    uint32_t now = diDEClock();
    for (uint32_t id = 0; id < windowsEnd(d); id++) {
        DiXWindow* w = d->windows[id];
        if (w && w->exposureTimer && now - w->exposureStart >= d->updateInterval)
            diXPaintExposures(d, w);
    }
}

void diXNoteActivity(DiXWindow* w, uint32_t event) {
    if (!w) return;
    uint32_t now = diDEClock();
    if (event == 3 || event == 4) {
        w->lastKey = now;
        w->activity |= 2;
    } else {
        w->lastPointer = now;
        w->activity |= 4;
    }
    if ((w->activity & 6) && !w->activityTimer) {
        w->activityTimer = diTimerAdd(500, activityFired, w);
        DiXDisplay* d = w->display;
        if (d->gc) d->gc->fb.changeMask |= FB_GC_VALIDATE;
        diXPaintExposures(d, w);
        diXPaintUpdates(d, w);
    }
}

int diXEngineTimersIdle(const DiXDisplay* d) {
    if (d->motionTimer || d->emulationTimer || d->exposureRegionTimer || d->settingsTimer ||
        d->focusTimer || d->expectTimer)
        return 0;
    for (uint32_t id = 0; id < DI_XWINDOWS; id++) {
        const DiXWindow* w = d->windows[id];
        if (w && (w->exposureTimer || w->updateTimer || w->activityTimer ||
                  (w->frame && w->frame->sizeMoveTimer)))
            return 0;
    }
    return 1;
}

/* Request handlers on windows that only pass values to the device. */
void diXSetWindowTitleText(DiXDisplay* d, uint32_t id, const DiChar* text, uint32_t length,
                           int icon) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w || !w->frame) return;
    DiChar* copy = static_cast<DiChar*>(malloc((size_t(length) + 1) * sizeof(DiChar)));
    if (!copy) return;
    if (length) memcpy(copy, text, length * sizeof(DiChar));
    copy[length] = 0;
    DiChar** slot = icon ? &w->frame->iconTitle : &w->frame->title;
    free(*slot);
    *slot = copy;
    if (d->dev->frameChanged) d->dev->frameChanged(d, w);
}

void diXSetSizeHintsOf(DiXDisplay* d, uint32_t id, const uint32_t hints[4]) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (!w || !w->frame) return;
    memcpy(w->frame->hints, hints, sizeof w->frame->hints);
    if (d->dev->sizeHints) d->dev->sizeHints(d, w, hints);
}
