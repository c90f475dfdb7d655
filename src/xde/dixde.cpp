/* The X display engine's channel: initialisation and teardown, the event
 * handler (socket, keys, pointer with the motion throttle and middle-button
 * emulation, focus, expose, open, activate, close), session start and
 * status. */
#include "xde/dixde.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "ui/diui.h"
#include "xde/dixclip.h"
#include "xde/dixseamless.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kDerivedFlags = 0x2 | 0x4 | 0x10 | 0x20 | 0x40 | 0x100 | 0x200 | 0x400 | 0x800 |
                               0x8000 | 0x10000;

DiXDisplay* displayOf(DiObject* obj) {
    return reinterpret_cast<DiXDisplay*>(obj);
}

void stopTimer(DiTimer** t) {
    if (*t) {
        DiTimer* x = *t;
        *t = nullptr;
        diTimerRemove(x);
    }
}

int caseOf(uint32_t buttons) {
    return (buttons & 0x70) ? 1 : 0;
}

void sendMotionNow(DiXDisplay* d) {
    if (d->motionWindow >= 0)
        diXAIPSendMotion(d, uint32_t(d->motionWindow), d->motionX, d->motionY);
}

uint32_t motionFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    d->motionTimer = nullptr;
    sendMotionNow(d);
    for (int c = 0; c < 2; c++)
        if (d->throttleCount[c] != -1) d->throttleCount[c] = 0;
    return 0;
}

void startMotionTimer(DiXDisplay* d, uint32_t delay) {
    d->motionTimer = diTimerAdd(delay, motionFired, d);
}

void sendMotionThrottled(DiXDisplay* d, uint32_t window, int32_t x, int32_t y,
                         uint32_t buttons) {
    d->motionWindow = int32_t(window);
    d->motionX = x;
    d->motionY = y;
    int c = caseOf(buttons);
    if (d->emulationTimer) {
        if (!d->motionTimer) startMotionTimer(d, d->throttleDelay[c]);
        return;
    }
    if (d->throttleCount[c] == -1) {
        stopTimer(&d->motionTimer);
        sendMotionNow(d);
        return;
    }
    if (d->throttleCount[c] < INT32_MAX) d->throttleCount[c]++;
    if (d->throttleCount[c] <= d->throttleThreshold[c]) {
        stopTimer(&d->motionTimer);
        sendMotionNow(d);
        return;
    }
    if (!d->motionTimer) startMotionTimer(d, d->throttleDelay[c]);
}

/* The pending press goes out as button 1 (left down) or 3. */
void fireEmulation(DiXDisplay* d) {
    stopTimer(&d->emulationTimer);
    uint32_t left = d->buttonMask & 0x10;
    diXAIPSendButtonPress(d, d->pendingWindow, left ? 1 : 3, d->pendingX, d->pendingY);
    d->buttonMask &= ~uint32_t(left ? 0x10 : 0x40);
    if (d->motionWindow >= 0 &&
        (uint32_t(d->motionWindow) != d->pendingWindow || d->motionX != d->pendingX ||
         d->motionY != d->pendingY))
        sendMotionThrottled(d, uint32_t(d->motionWindow), d->motionX, d->motionY,
                            left ? 0x10 : 0x40);
}

uint32_t emulationFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    d->emulationTimer = nullptr;
    fireEmulation(d);
    return 0;
}

void sendButton(DiXDisplay* d, uint32_t type, uint32_t window, uint32_t index, int32_t x,
                int32_t y) {
    if (index > 4) return;
    d->motionWindow = int32_t(window);
    d->motionX = x;
    d->motionY = y;
    uint32_t wire = index + 1;
    if (type == 16) {
        diXAIPSendPointerEvent16(d, window, wire, x, y);
        return;
    }
    bool emulate = d->emulationDelay && (index == 0 || index == 2);
    if (!emulate) {
        if (type == 6)
            diXAIPSendButtonPress(d, window, wire, x, y);
        else
            diXAIPSendButtonRelease(d, window, wire, x, y);
        return;
    }
    uint32_t mask = index == 0 ? 0x10 : 0x40;
    if (type == 6) {
        d->buttonMask |= mask;
        if ((d->buttonMask & 0x50) == 0x50 && !(d->buttonMask & 0x20)) {
            stopTimer(&d->emulationTimer);
            diXAIPSendButtonPress(d, window, 2, x, y);
            d->buttonMask |= 0x20;
        } else if (!(d->buttonMask & 0x20)) {
            d->pendingWindow = window;
            d->pendingX = x;
            d->pendingY = y;
            stopTimer(&d->emulationTimer);
            d->emulationTimer = diTimerAdd(d->emulationDelay, emulationFired, d);
        }
        return;
    }
    if (d->buttonMask & 0x20) {
        d->buttonMask &= ~mask;
        if (d->buttonMask == 0x20) {
            diXAIPSendButtonRelease(d, window, 2, x, y);
            d->buttonMask = 0;
        }
        return;
    }
    if (d->emulationTimer) fireEmulation(d);
    d->buttonMask &= ~mask;
    diXAIPSendButtonRelease(d, window, wire, x, y);
}

void noteRootActivity(DiXDisplay* d, uint32_t event) {
    if (d->windows[0]) diXNoteActivity(d->windows[0], event);
}

void sendFocusIn(DiXDisplay* d, uint32_t window, uint32_t modifiers) {
    if (d->emulationTimer) fireEmulation(d);
    d->buttonMask = 0;
    diXAnnounceLocalClipboard(d, 0);
    diXAIPSendFocusIn(d, window);
    diXAIPSendModifiers(d, diXMapModifiers(d, modifiers));
    d->modifiers = modifiers;
}

/* Expose painting of an area of a window, in the window's coordinates:
 * windows share the root's buffer and paint at their place in it. */
void paintWindowArea(DiXDisplay* d, DiXWindow* w, int32_t x, int32_t y, int32_t wd, int32_t h) {
    if ((d->flags & DI_XFLAG_DIRECT) || !d->gc || !w || !d->dev->paint) return;
    int64_t ox = w->head.id ? w->head.x : 0, oy = w->head.id ? w->head.y : 0;
    int64_t x1 = int64_t(x) + ox, y1 = int64_t(y) + oy;
    int64_t x2 = x1 + wd, y2 = y1 + h;
    if (!d->ch.hdr.scaler || w->head.id) {
        if (x1 < ox) x1 = ox;
        if (y1 < oy) y1 = oy;
        if (x2 > ox + w->head.width) x2 = ox + w->head.width;
        if (y2 > oy + w->head.height) y2 = oy + w->head.height;
    }
    /* Region boxes are 16-bit. */
    if (x1 < 0) x1 = 0;
    if (y1 < 0) y1 = 0;
    if (x2 > DI_XMAX_SIDE) x2 = DI_XMAX_SIDE;
    if (y2 > DI_XMAX_SIDE) y2 = DI_XMAX_SIDE;
    if (x2 <= x1 || y2 <= y1) return;
    DiBox b{int16_t(x1), int16_t(y1), int16_t(x2), int16_t(y2)};
    d->dev->paint(d, w, 1, &b);
}

/* The connection is over: no more reading; windows above the root go. */
void closedCleanup(DiXDisplay* d) {
    diXClipDisplayLost(d);
    diXDestroyAllWindows(d);
    diXAIPFreeInflateStream(&d->ch);
    diIOBufferFree(&d->assembly);
}

void markClosed(DiXDisplay* d) {
    diDEChannelDisconnected(&d->ch);
    /* The stop-reading flag: the open flag stays, so that the close event
     * still runs and frees the screen and every resource. */
    d->ch.stopReading = 1;
}

bool sameText(const DiChar* a, uint32_t an, const DiChar* b, uint32_t bn) {
    if (an != bn || (!a) != (!b)) return false;
    return !a || memcmp(a, b, an * sizeof(DiChar)) == 0;
}

uint32_t units(const DiChar* s) {
    uint32_t n = 0;
    while (s && s[n]) n++;
    return n;
}

bool sameKeyboard(const DdKeyboardInfo* a, const DdKeyboardInfo* b) {
    if (!a || !b) return a == b;
    return a->flags == b->flags && a->langId == b->langId &&
           sameText(a->langText, units(a->langText), b->langText, units(b->langText)) &&
           sameText(a->ime, units(a->ime), b->ime, units(b->ime)) &&
           sameText(a->layout, units(a->layout), b->layout, units(b->layout));
}

bool activates(const DiXDisplay* d) {
    return !(d->flags & DI_XFLAG_NO_ACTIVATE) || (d->flags & DI_XFLAG_OLDTRANSIENT);
}

uint32_t sizeMoveFired(void* arg) {
    DiXFrame* f = static_cast<DiXFrame*>(arg);
    DiXDisplay* d = f->display;
    f->sizeMoveTimer = nullptr;
    int32_t ox = 0, oy = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, &ox, &oy);
    int32_t prev[4] = {f->prevRect[0] - ox, f->prevRect[1] - oy, f->prevRect[2], f->prevRect[3]};
    int32_t next[4] = {f->newRect[0] - ox, f->newRect[1] - oy, f->newRect[2], f->newRect[3]};
    if (d->sessionFlags & DI_XSESSION_EXTGEOM) {
        diXAIPSendConfigureNotifyEx(d, f->windowId, prev, next, f->borders);
        f->reported = 1;
    } else {
        diXAIPSendConfigureNotify(d, f->windowId, prev, next);
    }
    return 0;
}

/* A frame moved, sized or changed its show state. */
void frameGeometry(DiXDisplay* d, DiXFrame* f, DiXWindow* w, const DiEvent* ev) {
    uint32_t state = ev->w[1], id = f->windowId;
    if (state != f->showState) {
        uint32_t previous = f->showState;
        f->showState = state;
        if (d->dev->frameChanged) d->dev->frameChanged(d, w);
        if (state == 2) {
            diXAIPSendWindowState(d, id, 5, 1);
            return;
        }
        if (state == 4) {
            diXAIPSendWindowState(d, id, 4, 4);
            return;
        }
        diXAIPSendWindowState(d, id, 5, 0);
        if (activates(d)) diXAIPSendActivate(d, id, -1);
        if (previous == 2 && (d->sessionFlags2 & DI_XSESSION2_SEAMLESS)) {
            /* Restored from the taskbar: what the frame covers is redrawn
             * and the server is told it has the focus. */
            diXSetDirectDrawing(d, 1);
            diXExposeDraggedArea(d, f, nullptr);
            diXSetDirectDrawing(d, 0);
            diXSWMExpectGain(d, f);
            SWMSysCommand(f, 63488, 0, 0);
        }
    } else if (state == 2 || state == 4) {
        return;
    }
    int32_t ox = 0, oy = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, &ox, &oy);
    int32_t x = int32_t(ev->w[2]), y = int32_t(ev->w[3]);
    int32_t width = int32_t(ev->w[4]), height = int32_t(ev->w[5]);
    w->head.x = x - ox;
    w->head.y = y - oy;
    const int32_t* b = f->borders;
    int32_t rect[4] = {x - b[0], y - b[2], width + b[0] + b[1], height + b[2] + b[3]};
    if (memcmp(rect, f->rect, sizeof rect) == 0) return;
    memcpy(f->prevRect, f->rect, sizeof rect);
    memcpy(f->rect, rect, sizeof rect);
    memcpy(f->newRect, rect, sizeof rect);
    if ((f->styleFlags & 0x80) || d->reentrancy) return;
    stopTimer(&f->sizeMoveTimer);
    f->sizeMoveTimer = diTimerAdd(d->sizeMoveDelay, sizeMoveFired, f);
    if (d->sessionFlags2 & DI_XSESSION2_SEAMLESS) SWMSysCommand(f, 61440, 0, 0);
}

uint32_t clampDelay(int v) {
    return v < 0 ? 0 : uint32_t(v);
}

} // namespace

uint32_t diXMapModifiers(const DiXDisplay* d, uint32_t m) {
    uint32_t r = m & 0x3;
    if (m & 0x4) r |= 0x8;
    if (m & 0x8) r |= 0x4;
    if (d->flags & DI_XFLAG_MODMAP) {
        r |= m & 0x380;
    } else {
        if (m & 0x80) r |= 0x1;
        if (m & 0x100) r |= 0x2;
        if (m & 0x200) r |= 0x8;
    }
    if (d->flags & DI_XFLAG_MODEX) r |= m & 0xF000;
    return r;
}

int diXDEInit(DiXDisplay* d, const DdXDeviceVector* dev, const DdXRecordSizes* sizes,
              int32_t v1, int32_t v2) {
    diDEChannelInit(&d->ch, 5, v1, v2);
    if (diXAIPInit(d) < 0) return -1;
    diXClipAttach(d);
    d->ch.hdr.handler = diXDEHandleEvent;
    d->ops = &diXEngineOps;
    /* One sink serves every display: it finds the window from the buffer. */
    fbSetDamageSink(&diXDamageSink);
    d->dev = dev;
    DdXRecordSizes s = sizes ? *sizes : DdXRecordSizes{};
    auto atLeast = [](uint32_t v, size_t min) { return v < min ? uint32_t(min) : v; };
    d->windowSize = atLeast(s.window, sizeof(DiXWindow));
    d->pixmapSize = atLeast(s.pixmap, sizeof(DiXPixmap));
    d->gcSize = atLeast(s.gc, sizeof(DiXGC));
    d->fontSize = atLeast(s.font, sizeof(DiXFont));
    d->glyphSize = atLeast(s.glyph, sizeof(DiXGlyph));
    d->cursorSize = atLeast(s.cursor, sizeof(DiXCursor));
    d->colormapRecordSize = atLeast(s.colormap, sizeof(DiXColormap));
    d->depth = 8;
    d->colormapKind = 0;
    d->colormapSize = 256;
    d->connectByte = 0;
    d->featureBits = 0x0637;
    d->engineFlags |= 0x5;
    d->motionWindow = -1;
    d->clientValue = 8192;
    d->throttleDelay[0] = clampDelay(diAppSettingInt(u"MouseThrottleDelayNoButton", 100));
    d->throttleCount[0] = diAppSettingInt(u"MouseThrottleNoButton", 0);
    d->throttleThreshold[0] = diAppSettingInt(u"MouseThrottleThresholdNoButton", 0);
    d->throttleDelay[1] = clampDelay(diAppSettingInt(u"MouseThrottleDelayWithButton", 100));
    d->throttleCount[1] = diAppSettingInt(u"MouseThrottleWithButton", 0);
    d->throttleThreshold[1] = diAppSettingInt(u"MouseThrottleThresholdWithButton", 1);
    for (int c = 0; c < 2; c++)
        if (d->throttleDelay[c] == 0) d->throttleCount[c] = -1;
    d->sizeMoveDelay = clampDelay(diAppSettingInt(u"SizeMoveDelay", 300));
    d->updateInterval = clampDelay(diAppSettingInt(u"XUpdateInterval", 20));
    d->scaleUpdateInterval = clampDelay(diAppSettingInt(u"ScaleUpdateInterval", 100));
    d->scaleMaxUpdateInterval = clampDelay(diAppSettingInt(u"ScaleMaxUpdateInterval", 500));
    d->windowLimit = 1;
    d->windowEnd = 0;
    d->flags = (d->flags & ~DI_XFLAG_UTF8) | DI_XFLAG_ACK_NOW;
    diXAreaInit(&d->exposureRegion);
    return 0;
}

void diXDEFree(DiXDisplay* d) {
    diXForgetClipboardOwner(d);
    diXDEFreeResources(d);
    diXSWMFree(d);
    diXFreeGC(d, d->gc);
    d->gc = nullptr;
    diXFreeColormap(d);
    stopTimer(&d->emulationTimer);
    stopTimer(&d->motionTimer);
    stopTimer(&d->settingsTimer);
    stopTimer(&d->exposureRegionTimer);
    if (d->keyboard && d->dev->freeKeyboard) d->dev->freeKeyboard(d->keyboard);
    d->keyboard = nullptr;
    diXAreaFree(&d->exposureRegion);
    diXAIPFree(d);
    diDEChannelFree(&d->ch);
}

void diXDEFreeResources(DiXDisplay* d) {
    /* Every id of every table: windows beyond the limit included. */
    for (uint32_t id = DI_XWINDOWS; id-- > 1;) diXDestroyWindow(d, id);
    if (d->windows[0]) diXFreeWindow(d, 0);
    for (uint32_t id = 0; id < DI_XPIXMAPS; id++)
        if (d->pixmaps[id]) diXFreePixmap(d, id);
    for (uint32_t id = 0; id < DI_XFONTS; id++)
        if (d->fonts[id]) diXCloseFont(d, id);
    for (uint32_t id = 0; id < DI_XCURSORS; id++)
        if (d->cursors[id]) diXFreeCursor(d, id);
}

int diXDEHandleEvent(DiObject* obj, DiEvent* ev) {
    DiXDisplay* d = displayOf(obj);
    switch (ev->w[0]) {
    case 0:
    case 2:
        if (!d->ch.stopReading && diXAIPReadInput(d) < 0) {
            diDEReportState(&d->ch, 6, 0);
            markClosed(d);
        }
        if (d->ch.stopReading) closedCleanup(d);
        break;
    case 1:
        diIOFlush(&d->ch.out, d->ch.socket);
        break;
    case 3:
    case 4:
        /* The view delivers UTF-16: the character goes out as it came. */
        if (ev->w[0] == 3)
            diXAIPSendKeyPress(d, ev->w[1], ev->w[2] & 0xFFFF);
        else
            diXAIPSendKeyRelease(d, ev->w[1], ev->w[2] & 0xFFFF);
        noteRootActivity(d, ev->w[0]);
        d->modifiers = ev->w[3];
        if (ev->w[0] == 4 && ev->w[1] == 154) diXAnnounceLocalClipboard(d, 1);
        break;
    case 5:
        sendMotionThrottled(d, 0, int32_t(ev->w[3]), int32_t(ev->w[4]), ev->w[7]);
        noteRootActivity(d, 5);
        break;
    case 6:
    case 7:
    case 16:
        sendButton(d, ev->w[0], 0, ev->w[2], int32_t(ev->w[3]), int32_t(ev->w[4]));
        noteRootActivity(d, ev->w[0]);
        break;
    case 8: {
        const DiClientInfo* info = static_cast<const DiClientInfo*>(ev->ptr);
        if (info) d->clientValue = info->value8192;
        DdTimeZoneInfo* tz = d->dev->timeZone ? d->dev->timeZone(d) : nullptr;
        DdKeyboardInfo* kb = d->dev->keyboard ? d->dev->keyboard(d) : nullptr;
        /* The server sizes its screen by the whole desktop, not by the
         * window the launch happens to open first. */
        int32_t width = d->ch.value1, height = d->ch.value2;
        if (d->dev->desktopSize) d->dev->desktopSize(d, &width, &height);
        if (info) diXAIPSendHello(d, info, uint16_t(width), uint16_t(height), tz, kb);
        if (tz && d->dev->freeTimeZone) d->dev->freeTimeZone(tz);
        if (d->keyboard && d->dev->freeKeyboard) d->dev->freeKeyboard(d->keyboard);
        d->keyboard = kb;
        break;
    }
    case 9:
        diXAIPSendEvent9(d);
        if (d->colormap && d->dev->installColormap) d->dev->installColormap(d, d->colormap);
        break;
    case 10:
        diXAIPSendEvent10(d);
        break;
    case 11:
        diXAIPSendClose(d);
        diXClipDisplayLost(d); /* the session gives up its clipboard */
        /* Nothing is sent after the close: held input goes with it. */
        stopTimer(&d->motionTimer);
        stopTimer(&d->emulationTimer);
        diXSWMFree(d);
        diXFreeGC(d, d->gc);
        d->gc = nullptr;
        diXFreeColormap(d);
        diXDestroyAllWindows(d);
        diXDEFreeResources(d);
        break;
    case 12:
    case 13:
        if (d->sessionFlags2 & DI_XSESSION2_SEAMLESS) {
            /* The session's own frame stands for its root window. */
            if (DiXFrame* root = diXFindSeamlessRoot(d)) diXDEHandleWindowEvent(root, ev);
            break;
        }
        if (ev->w[0] == 12)
            sendFocusIn(d, 0, ev->w[1]);
        else
            diXAIPSendFocusOut(d, 0);
        break;
    case 14:
        if (ev->w[1] == 0)
            paintWindowArea(d, d->windows[0], int32_t(ev->w[2]), int32_t(ev->w[3]),
                            int32_t(ev->w[4]), int32_t(ev->w[5]));
        return 1;
    case 18:
        if (d->sessionFlags2 & DI_XSESSION2_CLOSE34) diXAIPSendWindowState(d, 0, 2, 2);
        break;
    case 19:
        diXAIPSendWheel(d, 0, int32_t(ev->w[5]), int32_t(ev->w[6]), int32_t(ev->w[3]),
                        int32_t(ev->w[4]));
        noteRootActivity(d, 19);
        break;
    default:
        break;
    }
    return 0;
}

int diXDEHandleWindowEvent(DiXFrame* f, DiEvent* ev) {
    DiXDisplay* d = f ? f->display : nullptr;
    if (!d || f->windowId >= DI_XWINDOWS) return 0;
    DiXWindow* w = d->windows[f->windowId];
    if (!w || w->frame != f) return 0;
    uint32_t id = f->windowId;
    int32_t ox = 0, oy = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, &ox, &oy);
    bool overrideQuiet = !(d->sessionFlags & DI_XSESSION_OVERRIDE_FOCUS) && (f->styleFlags & 0x80);
    bool swm = d->sessionFlags2 & DI_XSESSION2_SEAMLESS;
    switch (ev->w[0]) {
    case 3:
    case 4:
        if (ev->w[0] == 3)
            diXAIPSendKeyPress(d, ev->w[1], ev->w[2] & 0xFFFF);
        else
            diXAIPSendKeyRelease(d, ev->w[1], ev->w[2] & 0xFFFF);
        diXNoteActivity(w, ev->w[0]);
        d->modifiers = ev->w[3];
        if (ev->w[0] == 4 && ev->w[1] == 154) diXAnnounceLocalClipboard(d, 1);
        break;
    case 5:
        if (swm && SWMHitTest(d, f, ev)) break;
        sendMotionThrottled(d, id, int32_t(ev->w[3]) - ox, int32_t(ev->w[4]) - oy, ev->w[7]);
        diXNoteActivity(w, 5);
        break;
    case 6:
    case 7:
    case 16:
        if (swm && ev->w[0] == 6) diXSWMPress(d, f);
        /* The hit test takes no press or release: both reach the server. */
        if (swm && ev->w[0] != 16) SWMHitTest(d, f, ev);
        if (d->windows[id] != w || w->frame != f) break;
        sendButton(d, ev->w[0], id, ev->w[2], int32_t(ev->w[3]) - ox, int32_t(ev->w[4]) - oy);
        /* The device may have destroyed the window meanwhile. */
        if (d->windows[id] == w) diXNoteActivity(w, ev->w[0]);
        break;
    case 12:
        if (swm) diXSWMFocusEvent(d, f, 1);
        if (overrideQuiet) break;
        sendFocusIn(d, id, ev->w[1]);
        if (activates(d)) diXAIPSendActivate(d, id, -1);
        break;
    case 13:
        if (swm) diXSWMFocusEvent(d, f, 0);
        if (!overrideQuiet) diXAIPSendFocusOut(d, id);
        break;
    case 14:
        if (ev->w[1] == 0) {
            paintWindowArea(d, w, int32_t(ev->w[2]), int32_t(ev->w[3]), int32_t(ev->w[4]),
                            int32_t(ev->w[5]));
        }
        return 1;
    case 15:
        frameGeometry(d, f, w, ev);
        break;
    case 18:
        diXAIPSendWindowState(d, id, 2, 2);
        break;
    case 19:
        diXAIPSendWheel(d, id, int32_t(ev->w[5]), int32_t(ev->w[6]), int32_t(ev->w[3]) - ox,
                        int32_t(ev->w[4]) - oy);
        diXNoteActivity(w, 19);
        break;
    case 22:
        if (!d->reentrancy) diXAIPSendActivate(d, id, int32_t(ev->w[1]));
        break;
    default:
        break;
    }
    return 0;
}

void diXDENotifyDisplayChange(DiXDisplay* d) {
    if (!(d->flags & DI_XFLAG_KBNOTICE) || !d->dev->keyboard) return;
    DdKeyboardInfo* kb = d->dev->keyboard(d);
    if (sameKeyboard(kb, d->keyboard)) {
        if (kb && d->dev->freeKeyboard) d->dev->freeKeyboard(kb);
        return;
    }
    if (kb) diXAIPSendDisplayLayout(d, kb);
    if (d->keyboard && d->dev->freeKeyboard) d->dev->freeKeyboard(d->keyboard);
    d->keyboard = kb;
}

int diXDECreateScreen(DiXDisplay* d) {
    if (diXCreateColormap(d, 0, 0, 256) < 0) return -1;
    if (!diXAllocWindow(d, 0, 0, 0, d->screenWidth, d->screenHeight, d->depth)) {
        diXFreeColormap(d);
        return -1;
    }
    d->gc = diXCreateGC(d);
    if (!d->gc) {
        diXFreeWindow(d, 0);
        diXFreeColormap(d);
        return -1;
    }
    if (d->dev->installColormap) d->dev->installColormap(d, d->colormap);
    diXSetDrawable(d, d->gc, 0, 0);
    return 0;
}

void diXDEStartSession(DiXDisplay* d, uint32_t flags, uint32_t delay, int32_t width,
                       int32_t height, uint32_t depth, uint32_t flags2) {
    if (d->sessionStarted) {
        /* A second screen over the first would orphan every window. */
        diLogErrorText(u"The X server started the session twice; the repeat is ignored.");
        return;
    }
    if (width < 1 || height < 1 || uint32_t(width) > DI_XMAX_SIDE ||
        uint32_t(height) > DI_XMAX_SIDE || (depth != 8 && depth != 16 && depth != 24)) {
        diLogErrorText(u"The X server asked for a screen this client cannot hold; it is refused.");
        return;
    }
    d->sessionStarted = 1;
    d->screenWidth = width;
    d->screenHeight = height;
    diUISetVirtualSize(&d->ch.hdr, width, height);
    d->depth = depth;
    if (diXDECreateScreen(d) < 0)
        diLogErrorText(u"The X screen could not be made; drawing is ignored.");
    uint32_t derived = 0;
    if (flags & 0x20) derived |= 0x2;
    if (flags & 0x80) derived |= 0x4;
    if (flags & 0x200) derived |= 0x10;
    if (flags & 0x400) derived |= 0x20;
    if (flags & 0x8000) derived |= 0x40;
    if (flags & 0x800) derived |= 0x100;
    if (flags & 0x4000) derived |= 0x200;
    if (flags & 0x1000) derived |= 0x400;
    if (flags2 & 0x4) derived |= 0x800;
    if (flags2 & 0x8) derived |= 0x8000;
    if (flags2 & 0x20) derived |= 0x10000;
    d->flags = (d->flags & ~kDerivedFlags) | derived;
    d->sessionFlags = flags;
    d->sessionFlags2 = flags2;
    d->emulationDelay = delay;
    if (d->flags & DI_XFLAG_ACK_ONCE) d->flags &= ~DI_XFLAG_ACK_NOW;
    if (flags & DI_XSESSION_MULTI) d->windowLimit = DI_XWINDOWS;
    diDEReportConnected(&d->ch);
    diXAIPSendScreenInfo(d, d->clientValue);
    static const char16_t* const names[] = {u"mrkqvlloadurl",        u"QVL_LAUNCHPROP",
                                            u"qvl-cwm-oldtransient", u"qvlplaysound",
                                            u"qvl_call_client_cmd",  u"qvl_call_client_reply",
                                            u"qvl-swm-serverinfo"};
    for (const char16_t* n : names) {
        uint32_t len = 0;
        while (n[len]) len++;
        diXAIPSendPropertyNotify(d, u"", 0, n, len);
    }
    if (d->dev->sessionStarted) d->dev->sessionStarted(d);
    if (flags2 & DI_XSESSION2_SEAMLESS) diXSWMSessionStarted(d);
}

void diXDESessionStatus(DiXDisplay* d, int32_t kind, int32_t code) {
    switch (kind) {
    case 1:
        if (code == 7)
            diDEReportState(&d->ch, 7, 0);
        else
            diDEReportState(&d->ch, 8, code == 1 ? 29 : code == 9 ? 28 : 0);
        markClosed(d);
        break;
    case 2:
        diDEReportState(&d->ch, code == 8 ? 6 : 7, 0);
        markClosed(d);
        break;
    case 4:
        if (code == 0) break;
        diDEReportState(&d->ch, 14, code >= 1 && code <= 17 ? 145 + code : 190);
        break;
    default:
        markClosed(d);
        break;
    }
}
