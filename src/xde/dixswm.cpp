/* Seamless frames of the X engine: focus hand-over, system commands, the
 * client information, client-side move and size with its outline, and
 * direct drawing while a frame is dragged. */
#include "xde/dixprop.h"
#include "xde/dixseamless.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "ui/diui.h"

#include <stdio.h>
#include <string.h>

namespace {

enum : uint32_t {
    kFocusDelay = 250,
    kExpectDelay = 500,
    kDirectEndDelay = 1000,
};

/* One drag for the whole program: only one pointer drag can run at a
 * time. The outline follows the pointer's total movement from the press,
 * so a size cut at its minimum catches up when the pointer comes back. */
struct Drag {
    int state; /* 0 idle, 1 moving, 2 sizing */
    int code;  /* diXHitTestFrame's */
    DiXDisplay* display;
    DiXFrame* frame;
    int32_t start[4]; /* the frame rectangle at the press */
    int32_t startX, startY;
    int32_t rect[4]; /* the outline drawn */
    int32_t lastX, lastY;
    int moved;
};
Drag s_drag;

void stopTimer(DiTimer** t) {
    if (*t) {
        DiTimer* x = *t;
        *t = nullptr;
        diTimerRemove(x);
    }
}

void desktopOrigin(DiXDisplay* d, int32_t* x, int32_t* y) {
    *x = *y = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, x, y);
}

void widen(const char* s, DiChar* out, uint32_t* n) {
    uint32_t i = 0;
    for (; s[i]; i++) out[i] = DiChar(uint8_t(s[i]));
    *n = i;
}

uint32_t expectFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    d->expectTimer = nullptr;
    d->expectGain = nullptr;
    d->expectGainAny = 0;
    d->expectLoss = nullptr;
    return 0;
}

void armExpectation(DiXDisplay* d) {
    stopTimer(&d->expectTimer);
    d->expectTimer = diTimerAdd(kExpectDelay, expectFired, d);
}

uint32_t focusFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    d->focusTimer = nullptr;
    DiXFrame* f = d->focusLast;
    if (d->flags & DI_XFLAG_FOCUS_IN) {
        /* The user (or another program) moved the focus somewhere the
         * engine did not expect: the server hears of it. */
        if (f && f != d->expectGain && !f->disabled && d->expectGain && !d->expectGainAny)
            SWMSysCommand(f, 63488, 0, 0);
        d->expectGain = nullptr;
        d->expectGainAny = 0;
        d->expectLoss = nullptr;
        stopTimer(&d->expectTimer);
    } else {
        if (f && f != d->expectLoss) SWMSysCommand(f, 63504, 0, 0);
        d->expectLoss = nullptr;
    }
    return 0;
}

DiXWindow* windowOf(const DiXFrame* f) {
    DiXDisplay* d = f->display;
    if (!d || f->windowId >= DI_XWINDOWS) return nullptr;
    DiXWindow* w = d->windows[f->windowId];
    return w && w->frame == f ? w : nullptr;
}

void grab(DiXDisplay* d, DiXFrame* f, uint32_t flags) {
    DiXWindow* w = windowOf(f);
    if (w && d->dev->grabPointer) d->dev->grabPointer(d, w, flags);
}

void drawOutline(DiXDisplay* d, DiXFrame* f, const int32_t rect[4]) {
    if (d->dev->swmDrawDragOutline) d->dev->swmDrawDragOutline(d, f, rect);
}

int32_t clamp32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

/* The outline for the pointer's movement (dx, dy) since the press, by the
 * hit code; an edge that would cross the opposite one stops one pixel
 * short of it. */
void dragRect(const int32_t start[4], int code, int64_t dx, int64_t dy, int32_t out[4]) {
    int64_t x1 = start[0], y1 = start[1];
    int64_t x2 = x1 + start[2], y2 = y1 + start[3];
    if (code == 1) {
        x1 += dx, x2 += dx, y1 += dy, y2 += dy;
    } else {
        bool left = code == 2 || code == 8 || code == 9;
        bool right = code == 4 || code == 5 || code == 6;
        bool top = code == 2 || code == 3 || code == 4;
        bool bottom = code == 6 || code == 7 || code == 8;
        if (left) x1 = x1 + dx < x2 - 1 ? x1 + dx : x2 - 1;
        if (right) x2 = x2 + dx > x1 + 1 ? x2 + dx : x1 + 1;
        if (top) y1 = y1 + dy < y2 - 1 ? y1 + dy : y2 - 1;
        if (bottom) y2 = y2 + dy > y1 + 1 ? y2 + dy : y1 + 1;
    }
    out[0] = clamp32(x1), out[1] = clamp32(y1);
    out[2] = clamp32(x2 - x1), out[3] = clamp32(y2 - y1);
}

/* Ends the running drag: the grab goes, and when an outline was drawn it
 * is erased with its window. */
void endDrag() {
    Drag g = s_drag;
    s_drag = Drag{};
    if (!g.state) return;
    DiXDisplay* d = g.display;
    grab(d, g.frame, 10);
    if (g.moved) {
        drawOutline(d, g.frame, g.rect);
        if (d->dev->swmDestroyDragWindow) d->dev->swmDestroyDragWindow(d);
    }
}

/* Adds a rectangle (X coordinates, 64-bit) cut to the display. */
void addExposure(DiXDisplay* d, int64_t x, int64_t y, int64_t w, int64_t h) {
    int64_t x1 = x < 0 ? 0 : x, y1 = y < 0 ? 0 : y;
    int64_t x2 = x + w, y2 = y + h;
    if (x2 > d->screenWidth) x2 = d->screenWidth;
    if (y2 > d->screenHeight) y2 = d->screenHeight;
    if (x2 <= x1 || y2 <= y1) return;
    DiXRect r{int16_t(x1), int16_t(y1), uint16_t(x2 - x1), uint16_t(y2 - y1)};
    diXAreaAddBoxes(&d->exposureRegion, 1, &r);
}

uint32_t directEndFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    d->exposureRegionTimer = nullptr;
    diXEndDirectDrawing(d);
    return 0;
}

bool named(const DiChar* s, uint32_t n, const char* lit) {
    uint32_t i = 0;
    for (; i < n && lit[i]; i++)
        if (s[i] != DiChar(uint8_t(lit[i]))) return false;
    return i == n && !lit[i];
}

/* The window a property's window text names, when it has a frame. */
DiXWindow* namedWindow(DiXDisplay* d, const DiChar* text, uint32_t n) {
    int32_t id;
    if (!diXPropParseInts(text, n, 1, DI_XWINDOWS - 1, &id, 1)) return nullptr;
    DiXWindow* w = d->windows[id];
    return w && w->frame ? w : nullptr;
}

} // namespace

void diXSWMPropertyChanged(DiXDisplay* d, const DiChar* window, uint32_t windowLength,
                           const DiChar* name, uint32_t nameLength, const DiChar* value,
                           uint32_t valueLength) {
    int32_t v[5];
    if (named(name, nameLength, "qvl-swm-serverinfo")) {
        /* Sizes in pixels: a negative one or one past any screen is a
         * broken value, not a frame. */
        if (!diXPropParseInts(value, valueLength, 0, DI_XMAX_SIDE, v, 5)) {
            diLogErrorText(u"The X server's seamless frame metrics do not parse; ignored.");
            return;
        }
        for (int i = 0; i < 5; i++) d->swmMetrics[i] = v[i];
    } else if (named(name, nameLength, "qvl-swm-windowinfo")) {
        DiXWindow* w = namedWindow(d, window, windowLength);
        if (!w) return;
        /* Styles are 32-bit words the server writes signed. */
        if (!diXPropParseInts(value, valueLength, INT32_MIN, UINT32_MAX, v, 3)) {
            diLogErrorText(u"The X server's seamless window styles do not parse; ignored.");
            return;
        }
        for (int i = 0; i < 3; i++) w->frame->styles[i] = uint32_t(v[i]);
        if (d->dev->swmUpdateStyle) d->dev->swmUpdateStyle(d, w);
    } else if (named(name, nameLength, "qvl-swm-focusinfo")) {
        DiXWindow* w = namedWindow(d, window, windowLength);
        if (w && d->dev->swmFocus) d->dev->swmFocus(d, w);
    }
}

DiXFrame* diXFindSeamlessRoot(DiXDisplay* d) {
    for (uint32_t id = 1; id < DI_XWINDOWS; id++) {
        DiXWindow* w = d->windows[id];
        if (w && w->frame && (w->frame->frameFlags & 1)) return w->frame;
    }
    return nullptr;
}

void SWMSysCommand(DiXFrame* f, uint32_t command, int32_t a, int32_t b) {
    if (!f || !f->display || f->windowId >= DI_XWINDOWS) return;
    DiXDisplay* d = f->display;
    char text[80], id[12];
    if (command == 61440)
        snprintf(text, sizeof text, "%d,%d,%d,%d,%d", 61440, f->rect[0], f->rect[1], f->rect[2],
                 f->rect[3]);
    else if (command == 63520)
        snprintf(text, sizeof text, "%d,%d,%d", 63520, a, b);
    else
        snprintf(text, sizeof text, "%d", int32_t(command));
    snprintf(id, sizeof id, "%u", f->windowId);
    DiChar value[80], window[12], name[32];
    uint32_t valueLength, windowLength, nameLength;
    widen(text, value, &valueLength);
    widen(id, window, &windowLength);
    widen("qvl-swm-syscommand", name, &nameLength);
    diXAIPSendProperty(d, window, windowLength, name, nameLength, value, valueLength);
}

void diXSWMExpectGain(DiXDisplay* d, DiXFrame* f) {
    d->expectGain = f;
    d->expectGainAny = 0;
    if (f) armExpectation(d);
}

void diXSWMExpectAny(DiXDisplay* d) {
    d->expectGain = nullptr;
    d->expectGainAny = 1;
    armExpectation(d);
}

void diXSWMExpectLoss(DiXDisplay* d, DiXFrame* f) {
    d->expectLoss = f;
    if (f) armExpectation(d);
}

void diXSWMFocusEvent(DiXDisplay* d, DiXFrame* f, int in) {
    d->focusLast = f;
    if (in) {
        d->flags |= DI_XFLAG_FOCUS_IN;
        /* The focus timer now judges the expectation. */
        stopTimer(&d->expectTimer);
    } else {
        d->flags &= ~DI_XFLAG_FOCUS_IN;
    }
    stopTimer(&d->focusTimer);
    d->focusTimer = diTimerAdd(kFocusDelay, focusFired, d);
}

void diXSWMPress(DiXDisplay* d, DiXFrame* f) {
    bool lastIn = d->flags & DI_XFLAG_FOCUS_IN;
    if (lastIn && (d->focusLast != f || !d->focusTimer)) return;
    diXSWMExpectGain(d, f);
}

void diXSWMForgetFrame(DiXFrame* f) {
    if (!f) return;
    DiXDisplay* d = f->display;
    if (s_drag.frame == f) {
        /* Nothing will configure the window: direct drawing ends by its
         * timer. */
        bool moved = s_drag.moved;
        endDrag();
        if (moved && d) diXSetDirectDrawing(d, 0);
    }
    if (!d) return;
    if (d->focusLast == f) {
        d->focusLast = nullptr;
        stopTimer(&d->focusTimer);
    }
    if (d->expectGain == f) d->expectGain = nullptr;
    if (d->expectLoss == f) d->expectLoss = nullptr;
    if (f->windowId < DI_XWINDOWS && d->draggedWindow == f->windowId) d->draggedWindow = 0;
}

void diXSWMFree(DiXDisplay* d) {
    if (s_drag.display == d) endDrag();
    stopTimer(&d->focusTimer);
    stopTimer(&d->expectTimer);
    d->focusLast = d->expectGain = d->expectLoss = nullptr;
    d->expectGainAny = 0;
    stopTimer(&d->exposureRegionTimer);
    diXAreaClear(&d->exposureRegion);
    d->draggedWindow = 0;
    d->flags &= ~DI_XFLAG_DIRECT;
}

int diXHitTestFrame(const DiXFrame* f, int32_t px, int32_t py) {
    const DiXDisplay* d = f->display;
    if (!d) return 0;
    const int32_t* m = d->swmMetrics;
    uint32_t style = f->styles[0], exStyle = f->styles[1];
    int64_t bx = (style & 0x40000) ? m[0] : 0, by = (style & 0x40000) ? m[1] : 0;
    int64_t ch = (style & 0xC00000) == 0xC00000 ? m[2] : 0;
    int64_t bw = m[3], cs = m[4];
    int64_t n = 1 + ((style & 0x20000) ? 1 : 0) + ((style & 0x10000) ? 1 : 0) +
                ((exStyle & 0x400) ? 1 : 0);
    int64_t x = px, y = py;
    int64_t fx = f->rect[0], fy = f->rect[1];
    int64_t right = fx + f->rect[2], bottom = fy + f->rect[3];
    auto in = [](int64_t v, int64_t a, int64_t b) { return a <= v && v < b; };
    /* Rows are tried in order: the first whose bands hold the point wins. */
    if (in(x, fx, fx + bx)) {
        if (in(y, fy, fy + ch + by)) return 2;
        if (in(y, fy + ch + by, bottom - cs - by)) return 9;
        if (in(y, bottom - cs - by, bottom)) return 8;
    }
    if (in(x, fx + bx, fx + bx + bw)) {
        if (in(y, fy, fy + by)) return 2;
        if (in(y, fy + by, fy + ch + by)) return (style & 0x80000) ? 0 : 1;
        if (in(y, bottom - by, bottom)) return 8;
    }
    if (in(x, fx + bx + bw, right - bw - bx)) {
        if (in(y, fy, fy + by)) return 3;
        if (in(y, fy + by, fy + ch + by)) return x < right - n * bw - bx ? 1 : 0;
        if (in(y, bottom - by, bottom)) return 7;
    }
    if (in(x, right - bw - bx, right - bx)) {
        if (in(y, fy, fy + by)) return 4;
        if (in(y, bottom - by, bottom)) return 6;
    }
    if (in(x, right - bx, right)) {
        if (in(y, fy, fy + ch + by)) return 4;
        if (in(y, fy + ch + by, bottom - cs - by)) return 5;
        if (in(y, bottom - cs - by, bottom)) return 6;
    }
    return 0;
}

int SWMHitTest(DiXDisplay* d, DiXFrame* f, const DiEvent* ev) {
    uint32_t type = ev->w[0];
    int32_t x = int32_t(ev->w[3]), y = int32_t(ev->w[4]);
    if (s_drag.state && type == 6 && ev->w[2] == 0) {
        /* A left press while dragging: the release went elsewhere (the
         * capture was lost). That drag ends here, or its frame would
         * swallow every later motion. */
        DiXDisplay* dd = s_drag.display;
        bool moved = s_drag.moved;
        endDrag();
        if (moved) diXSetDirectDrawing(dd, 0);
    }
    if (!s_drag.state) {
        if (type != 6 || ev->w[2] != 0) return 0;
        int code = diXHitTestFrame(f, x, y);
        if (!code) return 0;
        s_drag = Drag{};
        s_drag.state = code == 1 ? 1 : 2;
        s_drag.code = code;
        s_drag.display = d;
        s_drag.frame = f;
        memcpy(s_drag.start, f->rect, sizeof s_drag.start);
        memcpy(s_drag.rect, f->rect, sizeof s_drag.rect);
        s_drag.startX = s_drag.lastX = x;
        s_drag.startY = s_drag.lastY = y;
        /* A motion the throttle still holds would reach the server between
         * the press and the release; the press carries the latest position. */
        stopTimer(&d->motionTimer);
        grab(d, f, 11);
        return 0; /* the press reaches the server */
    }
    if (s_drag.frame != f) return 0;
    if (type == 5) {
        if (x == s_drag.lastX && y == s_drag.lastY) return 1;
        if (!s_drag.moved) {
            if (d->dev->swmCreateDragWindow) d->dev->swmCreateDragWindow(d);
            diXSetDirectDrawing(d, 1);
            d->draggedWindow = 0;
        } else {
            drawOutline(d, f, s_drag.rect);
        }
        dragRect(s_drag.start, s_drag.code, int64_t(x) - s_drag.startX,
                 int64_t(y) - s_drag.startY, s_drag.rect);
        drawOutline(d, f, s_drag.rect);
        s_drag.lastX = x;
        s_drag.lastY = y;
        s_drag.moved = 1;
        return 1;
    }
    if (type == 7 && ev->w[2] == 0) {
        Drag g = s_drag;
        endDrag();
        if (g.moved) {
            /* The server moves the window: its configure ends the drag. */
            diXExposeDraggedArea(d, f, g.rect);
            diXSetDirectDrawing(d, 0);
            d->draggedWindow = f->windowId < DI_XWINDOWS ? f->windowId : 0;
        }
        return 0; /* the release reaches the server */
    }
    return 0;
}

int diXSWMDragging() {
    return s_drag.state != 0;
}

void diXSetDirectDrawing(DiXDisplay* d, int on) {
    if (on) {
        d->flags |= DI_XFLAG_DIRECT;
        if (d->gc) d->gc->fb.changeMask |= FB_GC_VALIDATE;
        stopTimer(&d->exposureRegionTimer);
        return;
    }
    stopTimer(&d->exposureRegionTimer);
    d->exposureRegionTimer = diTimerAdd(kDirectEndDelay, directEndFired, d);
}

void diXEndDirectDrawing(DiXDisplay* d) {
    stopTimer(&d->exposureRegionTimer);
    diXAreaClear(&d->exposureRegion);
    d->draggedWindow = 0;
    d->flags &= ~DI_XFLAG_DIRECT;
    if (d->gc) d->gc->fb.changeMask |= FB_GC_VALIDATE;
    for (uint32_t id = 0; id < DI_XWINDOWS; id++) {
        DiXWindow* w = d->windows[id];
        if (w && d->dev->updateWindow) d->dev->updateWindow(d, w);
    }
}

void diXExposeDraggedArea(DiXDisplay* d, DiXFrame* f, const int32_t* r) {
    int32_t ox, oy;
    desktopOrigin(d, &ox, &oy);
    const int32_t* o = f->rect;
    int64_t x = int64_t(o[0]) - ox, y = int64_t(o[1]) - oy, w = o[2], h = o[3];
    if (!r) {
        addExposure(d, x, y, w, h);
        return;
    }
    int64_t nx = int64_t(r[0]) - ox, ny = int64_t(r[1]) - oy, nw = r[2], nh = r[3];
    if (nx != x || ny != y) {
        addExposure(d, x, y, w, h);
        addExposure(d, nx, ny, nw, nh);
        return;
    }
    if (nw > w) addExposure(d, x + w, y, nw - w, h);
    if (nw < w) addExposure(d, x + nw, y, w - nw, h);
    if (nh > h) addExposure(d, x, y + h, w, nh - h);
    if (nh < h) addExposure(d, x, y + nh, w, h - nh);
    if (nw > w && nh > h) addExposure(d, x + w, y + h, nw - w, nh - h);
}
