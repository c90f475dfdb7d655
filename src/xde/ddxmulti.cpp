/* Multi-window frames of the X display: each X top-level window is a
 * Windows frame with a view child. The engine maps, moves and restacks
 * them through the device slots here; what the user does to them (moves,
 * sizes, minimises, closes, restacks) comes back as frame events. */
#include "xde/ddxmulti.h"
#include "xde/ddxint.h"

#include "core/ditimer.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "ui/diui.h"
#include "xde/dixframe.h"

#include <string.h>

namespace {

/* Display flag: tell the engine only of a window raised to the top when
 * that is all that moved. */
constexpr uint32_t kFlagTopOnly = 0x40;
constexpr uint32_t kStackCheckDelay = 100;

DdXWindowRecord* record(DiXWindow* w) {
    return reinterpret_cast<DdXWindowRecord*>(w);
}

bool seamless(const DiXDisplay* d) {
    return (d->sessionFlags2 & DI_XSESSION2_SEAMLESS) != 0;
}

/* The view child that shows the frame's X window, or none. */
HWND frameView(const DiXFrame* f) {
    return f && f->hdr.gc ? ddGDIGetWindow(f->hdr.gc) : nullptr;
}

/* The frame of a live X window, or none. */
DiXFrame* frameOf(DiXWindow* w) {
    return w && w->frame && w->frame->windowId == w->head.id ? w->frame : nullptr;
}

/* The view's device context maps root coordinates onto the view: the
 * buffer's rectangles are blitted where the engine names them. */
void syncViewOrigin(DiXWindow* w) {
    DiXFrame* f = frameOf(w);
    if (!f || !f->hdr.gc) return;
    if (HDC dc = ddGDIGetDC(f->hdr.gc)) SetWindowOrgEx(dc, w->head.x, w->head.y, nullptr);
}

void fitView(DiXFrame* f, HWND frame) {
    HWND view = frameView(f);
    RECT rc;
    if (!view || !GetClientRect(frame, &rc)) return;
    SetWindowPos(view, nullptr, 0, 0, rc.right, rc.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

/* Event 15 with the client rectangle the frame now has (its window
 * rectangle less the borders), the view fitted to it first. */
void sendGeometry(DiXFrame* f, HWND frame, uint32_t state) {
    RECT wr;
    if (!GetWindowRect(frame, &wr)) return;
    fitView(f, frame);
    const int32_t* b = f->borders;
    DiEvent ev{};
    ev.w[0] = DI_EV_GEOMETRY;
    ev.w[1] = state;
    ev.w[2] = uint32_t(int32_t(wr.left) + b[0]);
    ev.w[3] = uint32_t(int32_t(wr.top) + b[2]);
    ev.w[4] = uint32_t(int32_t(wr.right - wr.left) - b[0] - b[1]);
    ev.w[5] = uint32_t(int32_t(wr.bottom - wr.top) - b[2] - b[3]);
    diUIDeliverEvent(&f->hdr, &ev);
}

bool otherDisplayHasFocus(const DiXDisplay* d) {
    return g_ddXFocusedDisplay && g_ddXFocusedDisplay != d;
}

uint32_t stackCheckFired(void* arg) {
    DiXDisplay* d = static_cast<DiXDisplay*>(arg);
    ddXDev(d)->stackTimer = nullptr;
    ddXStackCheck(d);
    return 0;
}

/* Hooks the frame windows read. The frame layer passes only the frame
 * records it was given as X windows. */
DiXFrame* asFrame(DiObject* xwindow) {
    if (!xwindow || xwindow->type != DI_OBJ_XDE) return nullptr;
    DiXFrame* f = reinterpret_cast<DiXFrame*>(xwindow);
    return f->display ? f : nullptr;
}

int xwindowInfo(DiObject* xwindow, DdXWindowInfo* info) {
    DiXFrame* f = asFrame(xwindow);
    if (!f) return 0;
    DiXWindow* w = f->windowId < DI_XWINDOWS ? f->display->windows[f->windowId] : nullptr;
    *info = DdXWindowInfo{};
    info->engine = &f->display->ch.hdr;
    info->borderLeft = f->borders[0];
    info->borderRight = f->borders[1];
    info->borderTop = f->borders[2];
    info->borderBottom = f->borders[3];
    info->minWidth = int32_t(f->hints[0] & 0xFFFF);
    info->minHeight = int32_t(f->hints[1] & 0xFFFF);
    info->maxWidth = int32_t(f->hints[2] & 0xFFFF);
    info->maxHeight = int32_t(f->hints[3] & 0xFFFF);
    if (w && w->frame == f) {
        info->icon = record(w)->icon;
        info->sizeMove = record(w)->sizeMove;
    }
    return 1;
}

void setSizeMove(DiObject* xwindow, int on) {
    DiXFrame* f = asFrame(xwindow);
    if (!f) return;
    ddXDev(f->display)->sizeMove = on ? 1 : 0;
    DiXWindow* w = f->windowId < DI_XWINDOWS ? f->display->windows[f->windowId] : nullptr;
    if (w && w->frame == f) record(w)->sizeMove = on ? 1 : 0;
}

/* The frame window is going without the engine asking (the user or the
 * application closing it): the view's graphics context goes with it, and
 * the window leaves the order last seen. The frame record stays with its
 * X window until the engine destroys that. */
void forgetFrame(DiObject* xwindow) {
    DiXFrame* f = asFrame(xwindow);
    if (!f) return;
    if (DdGC* gc = f->hdr.gc) {
        f->hdr.gc = nullptr;
        ddGDIFreeGC(gc);
    }
    if (f->windowId < DI_XWINDOWS) ddXStackForget(f->display, f->windowId);
}

/* After the user moved or sized a frame the whole display is painted again
 * from the buffer: pending update batches are dropped and the root is
 * damaged over the screen into the update areas only. */
void redrawDisplay(DiObject* engine) {
    if (!engine || engine->type != DI_OBJ_XDE) return;
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(engine);
    if (!d->gc || !d->windows[0]) return;
    for (uint32_t id = 1; id < DI_XWINDOWS; id++) {
        DiXWindow* w = d->windows[id];
        if (w && w->updateTimer) {
            diTimerRemove(w->updateTimer);
            w->updateTimer = nullptr;
        }
    }
    const uint32_t saved = d->gc->fb.damageFlags;
    d->gc->fb.damageFlags = (saved | 1u) & ~2u;
    diXDamageRect(d->windows[0], d->gc, 0, 0, d->screenWidth, d->screenHeight);
    d->gc->fb.damageFlags = saved;
}

void scheduleStackCheckHook(DiObject* xwindow) {
    ddXScheduleStackCheck(asFrame(xwindow));
}

} // namespace

bool ddXTakeForeground(HWND frame) {
    HWND fg = GetForegroundWindow();
    DWORD owner = 0;
    if (fg) GetWindowThreadProcessId(fg, &owner);
    if (fg && owner != GetCurrentProcessId()) {
        FLASHWINFO flash = {sizeof flash, frame, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
        return false;
    }
    SetForegroundWindow(frame);
    fg = GetForegroundWindow();
    if (fg && fg != frame) {
        /* Another thread of this process keeps the foreground: join its
         * input for the one call that may take it. */
        DWORD self = GetCurrentThreadId(), other = GetWindowThreadProcessId(fg, nullptr);
        if (other && other != self && AttachThreadInput(self, other, TRUE)) {
            SetForegroundWindow(frame);
            AttachThreadInput(self, other, FALSE);
        }
    }
    return true;
}

void ddXSetFocus(DiXDisplay* d, DiXFrame* f) {
    if (!d || !f || otherDisplayHasFocus(d)) return;
    DiXWindow* w = f->windowId < DI_XWINDOWS ? d->windows[f->windowId] : nullptr;
    HWND frame = w && w->frame == f ? ddXFrameWindow(w) : nullptr;
    if (!frame) return;
    if (!ddXTakeForeground(frame)) return;
    HWND view = frameView(f);
    SetFocus(view ? view : frame);
}

void ddXDEShowFramedWindows(DiChannel* engine) {
    if (!engine || engine->hdr.type != DI_OBJ_XDE) return;
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(engine);
    for (uint32_t id = 0; id < DI_XWINDOWS; id++) {
        DiXWindow* w = diXLookupWindow(d, id);
        /* A window its application has not mapped, or has unmapped, stays
         * out of sight: only minimised frames come back. */
        HWND h = w && frameOf(w) ? ddXFrameWindow(w) : nullptr;
        if (h && IsIconic(h))
            ShowWindow(h, SW_RESTORE);
        else if (h && IsWindowVisible(h))
            ShowWindow(h, SW_SHOWNA);
    }
}

void ddXMapWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode) {
    DiXFrame* f = frameOf(w);
    HWND h = f ? ddXFrameWindow(w) : nullptr;
    if (!h) return;
    const bool wasVisible = IsWindowVisible(h) != 0;
    if (mode == 0) {
        ShowWindow(h, SW_HIDE);
    } else if (mode == 2) {
        ShowWindow(h, SW_MINIMIZE);
    } else {
        bool mayActivate;
        const bool wasTopmost = (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        if (f->styleFlags & 0x80) {
            /* Override windows come to the top but are never activated. */
            ShowWindow(h, SW_SHOWNOACTIVATE);
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            mayActivate = false;
        } else if (seamless(d)) {
            mayActivate = !otherDisplayHasFocus(d);
            ShowWindow(h, IsIconic(h) ? SW_RESTORE : SW_SHOWNA);
        } else {
            mayActivate = true;
            ShowWindow(h, IsIconic(h) ? SW_RESTORE : SW_SHOW);
            ddXSetFocus(d, f);
        }
        DdXWindowRecord* r = record(w);
        if (!r->mapped) {
            r->mapped = 1;
            if (mayActivate) {
                /* The first map puts the frame in front of every other
                 * window without taking the activation. */
                SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                ShowWindow(h, SW_SHOWNOACTIVATE);
                HWND owner = GetWindow(h, GW_OWNER);
                bool ownerTopmost = owner && (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
                if (!wasTopmost && !ownerTopmost)
                    SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0,
                                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            }
        }
        UpdateWindow(h);
    }
    /* A frame that just appeared tells the engine where its client area
     * is; a frame iconified out of sight in seamless mode says so. */
    if (!wasVisible && IsWindowVisible(h) && !IsIconic(h)) {
        syncViewOrigin(w);
        sendGeometry(f, h, 1);
    } else if (seamless(d) && mode == 2 && !IsWindowVisible(h)) {
        sendGeometry(f, h, 2);
    }
    ddXScheduleStackCheck(frameOf(w));
}

void ddXConfigureWindow(DiXDisplay* d, DiXWindow* w, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
    DiXFrame* f = frameOf(w);
    HWND h = f ? ddXFrameWindow(w) : nullptr;
    if (!h) return;
    int32_t ox = 0, oy = 0;
    if (d->dev->desktopOrigin) d->dev->desktopOrigin(d, &ox, &oy);
    w->head.x = int32_t(int64_t(x) - ox + f->borders[0]);
    w->head.y = int32_t(int64_t(y) - oy + f->borders[2]);
    syncViewOrigin(w);
    if (IsIconic(h)) {
        /* An iconic frame only changes where it comes back. */
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        if (!GetWindowPlacement(h, &wp)) return;
        wp.showCmd = SW_SHOWNA;
        wp.rcNormalPosition = RECT{x, y, x + width, y + height};
        SetWindowPlacement(h, &wp);
        return;
    }
    /* Outside seamless mode an override window comes to the top. */
    UINT flags = SWP_NOACTIVATE;
    if (seamless(d) || !(f->styleFlags & 0x80)) flags |= SWP_NOZORDER;
    SetWindowPos(h, HWND_TOP, x, y, width, height, flags);
    RECT wr;
    GetWindowRect(h, &wr);
    if (wr.left == x && wr.top == y && wr.right - wr.left == width &&
        wr.bottom - wr.top == height && f->reported) {
        /* The server's own request: nothing to tell it back. */
        if (f->sizeMoveTimer) {
            diTimerRemove(f->sizeMoveTimer);
            f->sizeMoveTimer = nullptr;
        }
        return;
    }
    if (!seamless(d)) {
        if (IsWindowVisible(h)) sendGeometry(f, h, IsIconic(h) ? 2 : 1);
    } else {
        ddUIInvalidateTree(h);
        UpdateWindow(h);
    }
}

void ddXRedrawWindow(DiXDisplay* d, DiXWindow* w) {
    HWND h = frameOf(w) ? ddXFrameWindow(w) : ddGDIGetWindow(d->ch.hdr.gc);
    if (!h) return;
    ddUIInvalidateTree(h);
    UpdateWindow(h);
}

void ddXGrabPointer(DiXDisplay*, DiXWindow* w, uint32_t flags) {
    if (!(flags & 2)) return;
    DiXFrame* f = frameOf(w);
    HWND view = frameView(f);
    if (flags & 1) {
        if (view) ddUIBeginCapture(view, 1);
    } else {
        ddUIEndCapture(1, 0);
    }
}

void ddXRestackWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode, DiXWindow* sibling) {
    HWND h = frameOf(w) ? ddXFrameWindow(w) : nullptr;
    if (!h) return;
    const UINT keep = SWP_NOMOVE | SWP_NOSIZE;
    switch (mode) {
    case 0:
        SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, keep | SWP_NOACTIVATE);
        break;
    case 1: {
        /* The sibling goes directly below this window. */
        HWND s = frameOf(sibling) ? ddXFrameWindow(sibling) : nullptr;
        if (s && s != h) SetWindowPos(s, h, 0, 0, 0, 0, keep | SWP_NOACTIVATE);
        break;
    }
    case 255:
        if (seamless(d))
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, keep | SWP_NOACTIVATE);
        else
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, keep);
        break;
    default:
        break;
    }
}

void ddXScheduleStackCheck(DiXFrame* f) {
    if (!f || !f->display) return;
    DdXDisplay* x = ddXDev(f->display);
    if (x->stackTimer) return;
    x->stackTimer = diTimerAdd(kStackCheckDelay, stackCheckFired, f->display);
}

void ddXStackCheck(DiXDisplay* d) {
    DdXDisplay* x = ddXDev(d);
    if (x->stackTimer) {
        diTimerRemove(x->stackTimer);
        x->stackTimer = nullptr;
    }
    uint32_t walked[DI_XSTACK_MAX];
    size_t count = 0;
    HWND top = GetTopWindow(nullptr);
    for (HWND h = top ? GetWindow(top, GW_HWNDLAST) : nullptr; h && count < DI_XSTACK_MAX;
         h = GetWindow(h, GW_HWNDPREV)) {
        for (uint32_t id = 1; id < DI_XWINDOWS; id++) {
            DiXWindow* w = d->windows[id];
            if (w && frameOf(w) && ddXFrameWindow(w) == h) {
                walked[count++] = id;
                break;
            }
        }
    }
    std::vector<DiXRaise> raises =
        diXStackRaises(x->stack, DI_XSTACK_MAX, walked, count, (d->flags & kFlagTopOnly) != 0);
    memset(x->stack, 0, sizeof x->stack);
    memcpy(x->stack, walked, count * sizeof walked[0]);
    for (const DiXRaise& r : raises) {
        DiXWindow* w = r.window < DI_XWINDOWS ? d->windows[r.window] : nullptr;
        DiXFrame* f = frameOf(w);
        if (!f) continue;
        DiEvent ev{};
        ev.w[0] = DI_EV_RESTACK;
        ev.w[1] = r.value;
        diUIDeliverEvent(&f->hdr, &ev);
    }
}

void ddXStackForget(DiXDisplay* d, uint32_t id) {
    diXStackRemove(ddXDev(d)->stack, id);
}

int ddXMultiFrameEvent(DiXFrame* f, DiEvent* ev) {
    DiXDisplay* d = f ? f->display : nullptr;
    if (!d) return 0;
    DiXWindow* w = f->windowId < DI_XWINDOWS ? d->windows[f->windowId] : nullptr;
    switch (ev->w[0]) {
    case DI_EV_FOCUS_IN:
        g_ddXFocusedDisplay = d;
        return 0;
    case DI_EV_FOCUS_OUT:
        if (g_ddXFocusedDisplay == d) g_ddXFocusedDisplay = nullptr;
        return 0;
    case DI_EV_EXPOSE: {
        /* The engine paints what the buffer holds; what lies beyond the X
         * screen is never drawn and shows the background. The rectangle
         * is in the window's coordinates, the view's context in root
         * coordinates. */
        diXDEHandleWindowEvent(f, ev);
        if (!w || d->windows[f->windowId] != w) return 1;
        int64_t x = int64_t(int32_t(ev->w[2])) + w->head.x;
        int64_t y = int64_t(int32_t(ev->w[3])) + w->head.y;
        int64_t wd = int32_t(ev->w[4]), ht = int32_t(ev->w[5]);
        if (wd <= 0 || ht <= 0) return 1;
        const int64_t right = d->screenWidth, bottom = d->screenHeight;
        if (x + wd > right) {
            int64_t from = x > right ? x : right;
            diUIClearArea(&f->hdr, int32_t(from), int32_t(y), int32_t(x + wd - from), int32_t(ht));
        }
        if (y + ht > bottom) {
            int64_t from = y > bottom ? y : bottom;
            diUIClearArea(&f->hdr, int32_t(x), int32_t(from), int32_t(wd), int32_t(y + ht - from));
        }
        return 1;
    }
    case DI_EV_GEOMETRY:
        diXDEHandleWindowEvent(f, ev);
        /* The engine moved the window to its new client origin. */
        if (w && d->windows[w->head.id] == w) syncViewOrigin(w);
        return 1;
    default:
        return 0;
    }
}

void ddXMultiInstallHooks() {
    g_ddXHooks.xwindowInfo = xwindowInfo;
    g_ddXHooks.setSizeMove = setSizeMove;
    g_ddXHooks.xwindowForgetFrame = forgetFrame;
    g_ddXHooks.scheduleStackCheck = scheduleStackCheckHook;
    g_ddXHooks.redrawDisplay = redrawDisplay;
}

void ddXMultiRelease(DiXDisplay* d) {
    DdXDisplay* x = ddXDev(d);
    if (x->stackTimer) diTimerRemove(x->stackTimer);
    x->stackTimer = nullptr;
}
