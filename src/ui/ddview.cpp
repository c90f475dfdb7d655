/* View windows: every display engine shows itself in a view, and the view
 * turns keyboard, pointer, focus, paint and size messages into events for
 * the engine. The modifier and button mask carried by every key and pointer
 * event is process-wide, as is the low-level hook that brings Ctrl+Space to
 * X views and the mouse capture shared by views and X pointer grabs. */
#include "ui/ddui.h"

#include "core/ddapp.h"
#include "ui/ddxhooks.h"
#include "core/ddsetting.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "devices/dipaip.h"
#include "net/ddnet.h"
#include "session/ddso.h"
#include "session/disoaccess.h"
#include "ui/ddcolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/diui.h"
#include "xde/ddxclip.h"

#include <stdlib.h>

uint32_t g_ddUIModMask;
uint32_t g_ddUIButtonKey[2];

/* The character each key produced last, by virtual-key code. */
static uint32_t s_lookAhead[256];
static HHOOK s_hook;
static HWND s_captureWindow;
/* The window of a running rubber-band selection, and whether it lost the
 * mouse capture meanwhile. */
static HWND s_bandWindow;
static int s_bandCaptureLost;
static uint32_t s_captureMask; /* bit 1: non-zero holders, bit 2: views */

enum : uint32_t {
    VK_RSHIFT_CODE = 161,
    VK_RCTRL_CODE = 163,
    VK_RALT_CODE = 165,
    VK_KEYPAD_ENTER = 176,
    DD_CURSOR_SELECT = 200,
    DD_CURSOR_SELECTING = 201,
};

/* Codes of keys whose extended-key bit names the right-hand or keypad key. */
static uint32_t ddUIExtendedCode(uint32_t vk) {
    switch (vk) {
    case VK_RETURN:
        return VK_KEYPAD_ENTER;
    case VK_CONTROL:
        return VK_RCTRL_CODE;
    case VK_MENU:
        return VK_RALT_CODE;
    default:
        return 0;
    }
}

/* Codes of keys told apart by their scan code. */
static uint32_t ddUIScanCodeRow(uint32_t vk) {
    return vk == VK_SHIFT ? uint32_t(VK_RSHIFT_CODE) : 0u;
}

void ddUIReadModMask(void) {
    uint32_t m = 0;
    if (GetKeyState(VK_CAPITAL) & 1) m |= DD_MASK_CAPS;
    if (GetKeyState(VK_NUMLOCK) & 1) m |= DD_MASK_NUM;
    if (GetKeyState(VK_SCROLL) & 1) m |= DD_MASK_SCROLL;
    if (GetKeyState(VK_KANA) & 1) m |= DD_MASK_KANA;
    if (GetAsyncKeyState(VK_SHIFT) < 0) m |= DD_MASK_SHIFT;
    if (GetAsyncKeyState(VK_LCONTROL) < 0) m |= DD_MASK_CTRL;
    if (GetAsyncKeyState(VK_LMENU) < 0) m |= DD_MASK_ALT;
    if (GetAsyncKeyState(VK_RSHIFT) < 0) m |= DD_MASK_RSHIFT;
    if (GetAsyncKeyState(VK_RCONTROL) < 0) m |= DD_MASK_RCTRL;
    if (GetAsyncKeyState(VK_RMENU) < 0) m |= DD_MASK_RALT_FOCUS;
    if (GetAsyncKeyState(VK_LBUTTON) < 0) m |= DD_MASK_LBUTTON;
    if (GetAsyncKeyState(VK_MBUTTON) < 0) m |= DD_MASK_MBUTTON;
    if (GetAsyncKeyState(VK_RBUTTON) < 0) m |= DD_MASK_RBUTTON;
    g_ddUIModMask = m;
}

void ddUIUpdateModMask(uint32_t vk, int down) {
    uint32_t m = g_ddUIModMask;
    /* The lock toggles change only by their own keys while a view has the
     * focus (the whole mask is re-read when the focus arrives): read them
     * then, not on every key and button, since each read is a round trip
     * to the window server under Wine and costs more than the rest of a
     * key's way to the wire. */
    if (vk == VK_CAPITAL || vk == VK_NUMLOCK) {
        m &= ~uint32_t(DD_MASK_CAPS | DD_MASK_NUM);
        if (GetKeyState(VK_CAPITAL) & 1) m |= DD_MASK_CAPS;
        if (GetKeyState(VK_NUMLOCK) & 1) m |= DD_MASK_NUM;
    }
    uint32_t bit = 0;
    switch (vk) {
    case VK_LBUTTON:
        bit = DD_MASK_LBUTTON;
        break;
    case VK_RBUTTON:
        bit = DD_MASK_RBUTTON;
        break;
    case VK_MBUTTON:
        bit = DD_MASK_MBUTTON;
        break;
    case VK_SHIFT:
        bit = DD_MASK_SHIFT;
        break;
    case VK_CONTROL:
        bit = DD_MASK_CTRL;
        break;
    case VK_MENU:
        bit = DD_MASK_ALT;
        break;
    case VK_RSHIFT_CODE:
        bit = DD_MASK_RSHIFT;
        break;
    case VK_RCTRL_CODE:
        bit = DD_MASK_RCTRL;
        break;
    case VK_RALT_CODE:
        bit = DD_MASK_RALT;
        break;
    default:
        if (vk && vk == g_ddUIButtonKey[0])
            bit = DD_MASK_MBUTTON;
        else if (vk && vk == g_ddUIButtonKey[1])
            bit = DD_MASK_RBUTTON;
        break;
    }
    if (down)
        m |= bit;
    else
        m &= ~bit;
    g_ddUIModMask = m;
}

/* Pointer positions go to the engine in source coordinates when a scaler
 * stands between the engine and its window. */
static void ddUIUnscalePoint(DiObject* obj, int32_t* x, int32_t* y) {
    if (!ddUIScaleActive(obj) || !g_ddXHooks.scaleSizes) return;
    int32_t sw = 0, sh = 0, tw = 0, th = 0;
    g_ddXHooks.scaleSizes(obj, &sw, &sh, &tw, &th);
    if (tw > 0) *x = int32_t(int64_t(*x) * sw / tw);
    if (th > 0) *y = int32_t(int64_t(*y) * sh / th);
}

static void ddUIWidenExpose(DiObject* obj, int32_t r[4]) {
    if (!ddUIScaleActive(obj)) return;
    if (g_ddXHooks.scaleRect) g_ddXHooks.scaleRect(obj, r);
    if (!g_ddXHooks.scaleSizes) return;
    int32_t sw = 0, sh = 0, tw = 0, th = 0;
    g_ddXHooks.scaleSizes(obj, &sw, &sh, &tw, &th);
    int32_t rx = sw > 0 ? tw / sw : 0, ry = sh > 0 ? th / sh : 0;
    if (rx) {
        r[0] -= rx;
        r[2] += 2 * rx;
    }
    if (ry) {
        r[1] -= ry;
        r[3] += 2 * ry;
    }
}

/* Every event of a view passes here: pointer positions get the scroll
 * offset, and an expose realises the context's palette first. */
static void ddUIRouteEvent(DiObject* obj, DiEvent* ev) {
    if (!obj) return;
    switch (ev->w[0]) {
    case DI_EV_MOTION:
    case DI_EV_BUTTON_PRESS:
    case DI_EV_BUTTON_RELEASE:
    case DI_EV_DOUBLE_CLICK:
        ev->w[3] += uint32_t(obj->scrollX);
        ev->w[4] += uint32_t(obj->scrollY);
        break;
    case DI_EV_EXPOSE:
        if (!g_ddUIRealizing && obj->gc) {
            HPALETTE pal = ddGDIGetPalette(obj->gc);
            HDC dc = ddGDIGetDC(obj->gc);
            if (pal && dc) {
                UnrealizeObject(pal);
                RealizePalette(dc);
            }
        }
        break;
    default:
        break;
    }
    diUIDeliverEvent(obj, ev);
}

static void ddUISendSimple(DiObject* obj, uint32_t type, uint32_t w1) {
    DiEvent ev = {};
    ev.w[0] = type;
    ev.w[1] = w1;
    ddUIRouteEvent(obj, &ev);
}

static void ddUISendKey(DiObject* obj, uint32_t code, int down) {
    DiEvent ev = {};
    ev.w[0] = down ? DI_EV_KEY_PRESS : DI_EV_KEY_RELEASE;
    ev.w[1] = code;
    ev.w[2] = s_lookAhead[code & 0xFF];
    ev.w[3] = g_ddUIModMask;
    ddUIRouteEvent(obj, &ev);
}

/* The code the engines see for a key message. */
static uint32_t ddUIKeyCode(uint32_t vk, LPARAM lp) {
    vk &= 0xFF;
    uint32_t ext = ddUIExtendedCode(vk);
    if ((lp & (1 << 24)) && ext) return ext;
    uint32_t row = ddUIScanCodeRow(vk);
    if (row && MapVirtualKeyW(row, 0) == ((uint32_t(lp) >> 16) & 0xFF)) return row;
    return vk;
}

/* AltGr arrives as a left Ctrl followed by an extended Alt: the Ctrl half
 * is not a key of its own. */
static int ddUINextIsAltGr(HWND hwnd, UINT first, UINT second) {
    MSG m;
    if (PeekMessageW(&m, hwnd, first, first, PM_NOREMOVE))
        return m.wParam == VK_MENU && (m.lParam & (1 << 24));
    if (second && PeekMessageW(&m, hwnd, second, second, PM_NOREMOVE))
        return m.wParam == VK_MENU && (m.lParam & (1 << 24));
    return 0;
}

void ddUIViewKeyEvent(HWND hwnd, uint32_t vk, int down, LPARAM lp) {
    DiObject* obj = ddUIFindEngineByWindow(hwnd);
    vk &= 0xFF;
    if (!down && (vk == VK_CAPITAL || vk == VK_KANA || vk == VK_NUMLOCK || vk == VK_SCROLL))
        return; /* lock keys report presses only */
    uint32_t code = ddUIKeyCode(vk, lp);
    if (down) {
        if (code == VK_CONTROL && ddUINextIsAltGr(hwnd, WM_KEYDOWN, 0)) return;
        MSG m;
        if (PeekMessageW(&m, hwnd, WM_CHAR, WM_DEADCHAR, PM_REMOVE)) {
            if (m.message == WM_DEADCHAR) return;
            s_lookAhead[code] = uint32_t(m.wParam);
        } else {
            s_lookAhead[code] = 0;
        }
        if (code == VK_SCROLL && obj) ddUIToggleScaling(nullptr, obj);
    } else {
        if (code == VK_CONTROL && ddUINextIsAltGr(hwnd, WM_KEYUP, WM_SYSKEYUP)) return;
        const uint32_t both = DD_MASK_SHIFT | DD_MASK_RSHIFT;
        if ((code == VK_SHIFT || code == VK_RSHIFT_CODE) && (g_ddUIModMask & both) == both) {
            uint32_t other = code == VK_SHIFT ? uint32_t(VK_RSHIFT_CODE) : uint32_t(VK_SHIFT);
            ddUIUpdateModMask(other, 0);
            if (obj) ddUISendKey(obj, other, 0);
        }
    }
    ddUIUpdateModMask(code, down);
    if (!obj) return;
    DiEvent ev = {};
    ev.w[0] = down ? DI_EV_KEY_PRESS : DI_EV_KEY_RELEASE;
    ev.w[1] = code;
    ev.w[2] = s_lookAhead[code];
    ev.w[3] = g_ddUIModMask;
    ddUIRouteEvent(obj, &ev);
    /* A press's character belongs to that press and its release: a key
     * whose press never came (the base key of a dead-key composition,
     * which Windows delivers as a key of its own) must not release with a
     * character it made long before. */
    if (!down)
        s_lookAhead[code] = 0;
    else if (ev.w[2])
        s_lookAhead[code] = ev.w[2];
}

void ddUIViewSysKeyEvent(HWND hwnd, uint32_t vk, int down, LPARAM lp) {
    DiObject* obj = ddUIFindEngineByWindow(hwnd);
    uint32_t code = ddUIKeyCode(vk, lp);
    if (down) {
        MSG m;
        if (PeekMessageW(&m, hwnd, WM_SYSCHAR, WM_SYSCHAR, PM_REMOVE))
            s_lookAhead[code] = uint32_t(m.wParam);
    } else if (code == VK_CONTROL && ddUINextIsAltGr(hwnd, WM_KEYUP, WM_SYSKEYUP)) {
        return;
    }
    ddUIUpdateModMask(code, down);
    if (obj) ddUISendKey(obj, code, down);
}

/* ---- Low-level keyboard hook ---- */

int ddUIHookWanted(int32_t imeConfig, const DiChar* preferredLanguage) {
    if (imeConfig == 2) return 1;
    if (imeConfig == 1) return 0;
    return preferredLanguage && preferredLanguage[0] == u'z' && preferredLanguage[1] == u'h';
}

LRESULT CALLBACK ddUIKeyboardHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == WM_KEYDOWN) {
        const KBDLLHOOKSTRUCT* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
        HWND focus = GetFocus();
        if (k->vkCode == VK_SPACE && GetAsyncKeyState(VK_CONTROL) < 0 && ddUIIsXView(focus)) {
            PostMessageW(focus, WM_KEYDOWN, VK_SPACE, 0);
            return 1;
        }
    }
    return CallNextHookEx(s_hook, code, wp, lp);
}

void ddUIInstallHook(void) {
    if (!s_hook)
        s_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ddUIKeyboardHook, GetModuleHandleW(nullptr), 0);
}

void ddUIRemoveHook(void) {
    if (s_hook) UnhookWindowsHookEx(s_hook);
    s_hook = nullptr;
}

/* ---- Mouse capture ---- */

void ddUIBeginCapture(HWND hwnd, int holder) {
    uint32_t bit = holder ? 1u : 2u;
    if (s_captureWindow && GetCapture() != s_captureWindow) {
        s_captureMask = 0;
        s_captureWindow = nullptr;
    }
    if (s_captureMask) {
        s_captureMask |= bit;
        return;
    }
    if (!GetCapture()) {
        s_captureWindow = hwnd;
        SetCapture(hwnd);
        s_captureMask |= bit;
    }
}

void ddUIEndCapture(int holder, WPARAM buttonFlags) {
    if (!s_captureMask) return;
    if (!holder && (buttonFlags & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) return;
    s_captureMask &= ~(holder ? 1u : 2u);
    if (!s_captureMask) {
        s_captureWindow = nullptr;
        ReleaseCapture();
    }
}

/* ---- Scrolling by the user ---- */

void ddUIViewScroll(HWND hwnd, DiObject* obj, int bar, WPARAM wp) {
    if (!obj) return;
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    if (!GetScrollInfo(hwnd, bar, &si)) return;
    RECT rc;
    GetClientRect(hwnd, &rc);
    int horz = bar == SB_HORZ;
    int64_t step = horz ? obj->scrollStepX : obj->scrollStepY;
    int64_t page = horz ? rc.right : rc.bottom;
    int64_t pos = si.nPos;
    int64_t maxPos = int64_t(si.nMax) - int64_t(si.nPage);
    switch (LOWORD(wp)) {
    case SB_LINELEFT:
        pos -= step;
        break;
    case SB_LINERIGHT:
        pos += step;
        break;
    case SB_PAGELEFT:
        pos -= page;
        break;
    case SB_PAGERIGHT:
        pos += page;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        pos = si.nTrackPos;
        break;
    case SB_LEFT:
        pos = si.nMin;
        break;
    case SB_RIGHT:
        pos = maxPos;
        break;
    default:
        return;
    }
    if (pos > maxPos) pos = maxPos;
    if (LOWORD(wp) != SB_LEFT && pos < si.nMin) pos = si.nMin;
    if (pos == si.nPos) return;
    SetScrollPos(hwnd, bar, int(pos), TRUE);
    if (horz)
        diUISetScrollPos(obj, int32_t(pos), obj->scrollY);
    else
        diUISetScrollPos(obj, obj->scrollX, int32_t(pos));
}

/* ---- View window procedure ---- */

static void ddUISendGeometry(HWND hwnd, DiObject* obj) {
    RECT wr;
    GetWindowRect(hwnd, &wr);
    DiEvent ev = {};
    ev.w[0] = DI_EV_GEOMETRY;
    ev.w[1] = IsIconic(hwnd) ? 2 : 1;
    ev.w[2] = uint32_t(wr.left);
    ev.w[3] = uint32_t(wr.top);
    ev.w[4] = uint32_t(wr.right - wr.left);
    ev.w[5] = uint32_t(wr.bottom - wr.top);
    ddUIRouteEvent(obj, &ev);
}

static void ddUISendExpose(DiObject* obj, uint32_t more, int32_t x, int32_t y, int32_t w,
                           int32_t h) {
    int32_t r[4] = {x, y, w, h};
    ddUIWidenExpose(obj, r);
    DiEvent ev = {};
    ev.w[0] = DI_EV_EXPOSE;
    ev.w[1] = more;
    for (int i = 0; i < 4; i++)
        ev.w[2 + i] = uint32_t(r[i]);
    ddUIRouteEvent(obj, &ev);
}

static void ddUISendPointer(DiObject* obj, uint32_t type, uint32_t button, LPARAM lp) {
    int32_t x = int16_t(LOWORD(lp)), y = int16_t(HIWORD(lp));
    ddUIUnscalePoint(obj, &x, &y);
    DiEvent ev = {};
    ev.w[0] = type;
    ev.w[2] = button;
    ev.w[3] = uint32_t(x);
    ev.w[4] = uint32_t(y);
    ev.w[7] = g_ddUIModMask;
    ddUIRouteEvent(obj, &ev);
}

static uint32_t ddUIButtonOf(UINT msg) {
    switch (msg) {
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
        return 1;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
        return 2;
    default:
        return 0;
    }
}

static const uint32_t k_buttonVk[3] = {VK_LBUTTON, VK_MBUTTON, VK_RBUTTON};

LRESULT CALLBACK ddUIViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != 0 && msg == g_ddApp->winsockMessage) {
        ddUIOnSocketMessage(hwnd, wp, LOWORD(lp));
        return 0;
    }
    DiObject* obj = ddUIFindEngineByWindow(hwnd);
    switch (msg) {
    case WM_DESTROY:
        if (obj) {
            ddUISendSimple(obj, DI_EV_COMMAND, SC_CLOSE);
            /* The handler may have dropped the object: look it up again. */
            obj = ddUIFindEngineByWindow(hwnd);
            if (obj && obj->gc) {
                DdGC* gc = obj->gc;
                obj->gc = nullptr;
                ddGDIFreeGC(gc);
            }
        }
        break;
    case WM_MOVE:
    case WM_SIZE:
        if (obj) ddUISendGeometry(hwnd, obj);
        return 0;
    case WM_SETFOCUS:
        ddUIReadModMask();
        if (obj && reinterpret_cast<HWND>(wp) != hwnd)
            ddUISendSimple(obj, DI_EV_FOCUS_IN, g_ddUIModMask);
        return 0;
    case WM_KILLFOCUS:
        if (obj && reinterpret_cast<HWND>(wp) != hwnd) ddUISendSimple(obj, DI_EV_FOCUS_OUT, 0);
        return 0;
    case WM_ERASEBKGND: {
        if (!obj) return 1;
        /* The view's own device context keeps the scroll origin, but the
         * erase is reported in client coordinates: add the offset here.
         * BeginPaint's rectangle is already logical. */
        RECT rc;
        GetClientRect(hwnd, &rc);
        ddUISendExpose(obj, 1, rc.left + obj->scrollX, rc.top + obj->scrollY, rc.right - rc.left,
                       rc.bottom - rc.top);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        if (obj)
            ddUISendExpose(obj, 0, ps.rcPaint.left, ps.rcPaint.top,
                           ps.rcPaint.right - ps.rcPaint.left, ps.rcPaint.bottom - ps.rcPaint.top);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (obj && LOWORD(lp) == HTCLIENT && obj->gc) {
            HCURSOR cur = ddGDIGetCursor(obj->gc);
            if (cur) {
                SetCursor(cur);
                return 1;
            }
        }
        break;
    case WM_MOUSEACTIVATE:
        if (obj && (obj->type == DI_OBJ_XDE || obj->type == DI_OBJ_TDE) && GetFocus() != hwnd) {
            SetFocus(hwnd);
            return MA_ACTIVATE;
        }
        break;
    case WM_INPUTLANGCHANGE:
        if (obj && obj->type == DI_OBJ_XDE && g_ddXHooks.notifyDisplayChange)
            g_ddXHooks.notifyDisplayChange(obj);
        for (uint32_t& c : s_lookAhead)
            c = 0;
        return 1;
    case WM_KEYDOWN:
    case WM_KEYUP:
        ddUIViewKeyEvent(hwnd, uint32_t(wp), msg == WM_KEYDOWN, lp);
        return 0;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        ddUIViewSysKeyEvent(hwnd, uint32_t(wp), msg == WM_SYSKEYDOWN, lp);
        return 0;
    case WM_COMMAND:
        if (obj) ddUISendSimple(obj, DI_EV_COMMAND, LOWORD(wp));
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        ddUIViewScroll(hwnd, obj, msg == WM_HSCROLL ? SB_HORZ : SB_VERT, wp);
        return 0;
    case WM_MOUSEMOVE:
        if (obj) ddUISendPointer(obj, DI_EV_MOTION, 0, lp);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK: {
        uint32_t button = ddUIButtonOf(msg);
        ddUIUpdateModMask(k_buttonVk[button], 1);
        int dbl = msg == WM_LBUTTONDBLCLK || msg == WM_MBUTTONDBLCLK || msg == WM_RBUTTONDBLCLK;
        if (obj) ddUISendPointer(obj, dbl ? DI_EV_DOUBLE_CLICK : DI_EV_BUTTON_PRESS, button, lp);
        ddUIBeginCapture(hwnd, 0);
        return 0;
    }
    case WM_LBUTTONUP:
    case WM_MBUTTONUP:
    case WM_RBUTTONUP: {
        uint32_t button = ddUIButtonOf(msg);
        if (msg == WM_LBUTTONUP)
            ddUIReadModMask();
        else
            ddUIUpdateModMask(k_buttonVk[button], 0);
        if (obj) ddUISendPointer(obj, DI_EV_BUTTON_RELEASE, button, lp);
        ddUIEndCapture(0, wp);
        return 0;
    }
    case WM_XBUTTONDOWN:
        if (obj) ddUISendPointer(obj, DI_EV_BUTTON_PRESS, HIWORD(wp) == XBUTTON1 ? 3 : 4, lp);
        ddUIBeginCapture(hwnd, 0);
        return TRUE;
    case WM_XBUTTONUP:
        ddUIReadModMask();
        if (obj) ddUISendPointer(obj, DI_EV_BUTTON_RELEASE, HIWORD(wp) == XBUTTON1 ? 3 : 4, lp);
        ddUIEndCapture(0, LOWORD(wp));
        return TRUE;
    case WM_MOUSEWHEEL: {
        if (!obj) return 0;
        int32_t x = int16_t(LOWORD(lp)), y = int16_t(HIWORD(lp));
        ddUIUnscalePoint(obj, &x, &y);
        int32_t delta = int16_t(HIWORD(wp));
        DiEvent ev = {};
        ev.w[0] = DI_EV_WHEEL;
        ev.w[3] = uint32_t(x);
        ev.w[4] = uint32_t(y);
        ev.w[5] = uint32_t(delta);
        ev.w[6] = uint32_t(delta / 120);
        ddUIRouteEvent(obj, &ev);
        return 0;
    }
    case WM_RENDERFORMAT:
        if (obj) ddClipRequestRemote(obj, UINT(wp));
        return 0;
    case WM_HOTKEY:
        ddUIReadModMask();
        return 0;
    case WM_CAPTURECHANGED:
        if (hwnd == s_bandWindow) s_bandCaptureLost = 1;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

/* ---- Rubber-band selection and screen capture ---- */

/* The selection cursors are resources of the client; the cross stands in
 * where they are missing. */
static HCURSOR ddUISelectionCursor(int id) {
    HCURSOR c = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
    return c ? c : LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_CROSS));
}

static void ddUIDrawOutline(HDC dc, POINT a, POINT c) {
    MoveToEx(dc, a.x, a.y, nullptr);
    LineTo(dc, a.x, c.y);
    LineTo(dc, c.x, c.y);
    LineTo(dc, c.x, a.y);
    LineTo(dc, a.x, a.y);
}

static POINT ddUIClampPoint(LPARAM lp, const RECT* bounds, const DiObject* obj) {
    POINT p = {int16_t(LOWORD(lp)), int16_t(HIWORD(lp))};
    if (p.x < bounds->left) p.x = bounds->left;
    if (p.x > bounds->right) p.x = bounds->right;
    if (p.y < bounds->top) p.y = bounds->top;
    if (p.y > bounds->bottom) p.y = bounds->bottom;
    p.x += obj->scrollX;
    p.y += obj->scrollY;
    return p;
}

int ddUIRubberBandSelect(DiObject* obj, int32_t rect[4]) {
    HWND hwnd = obj && obj->gc ? ddGDIGetWindow(obj->gc) : nullptr;
    HDC dc = obj && obj->gc ? ddGDIGetDC(obj->gc) : nullptr;
    if (!hwnd || !dc) return -1;
    HCURSOR oldCursor = SetCursor(ddUISelectionCursor(DD_CURSOR_SELECT));
    SetCapture(hwnd);
    RECT bounds;
    GetClientRect(hwnd, &bounds);
    int oldRop = SetROP2(dc, R2_NOT);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    POINT anchor = {0, 0}, corner = {0, 0};
    int pressed = 0, shown = 0, result = 0, done = 0;
    s_bandWindow = hwnd;
    s_bandCaptureLost = 0;
    while (!done) {
        MSG m;
        /* Wait for input rather than polling. Losing the capture (another
         * window took it, or the window went) ends the selection: the window
         * is told by a sent WM_CAPTURECHANGED, which the view records. */
        if (s_bandCaptureLost || !IsWindow(hwnd)) {
            result = -1;
            break;
        }
        if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
            continue;
        }
        if (m.message == WM_QUIT) {
            PostQuitMessage(int(m.wParam));
            result = -1;
            break;
        }
        if (m.hwnd != hwnd) {
            /* Input for other windows is swallowed while the band is up. */
            if (m.message < WM_KEYFIRST || m.message > WM_MOUSELAST) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
            continue;
        }
        switch (m.message) {
        case WM_LBUTTONDOWN:
            if (!pressed) {
                pressed = 1;
                anchor = corner = ddUIClampPoint(m.lParam, &bounds, obj);
                SetCursor(ddUISelectionCursor(DD_CURSOR_SELECTING));
            }
            break;
        case WM_MOUSEMOVE:
            if (pressed) {
                POINT p = ddUIClampPoint(m.lParam, &bounds, obj);
                if (p.x != corner.x || p.y != corner.y) {
                    if (shown) ddUIDrawOutline(dc, anchor, corner);
                    corner = p;
                    ddUIDrawOutline(dc, anchor, corner);
                    shown = 1;
                }
            }
            break;
        case WM_LBUTTONUP:
            if (pressed) {
                POINT p = ddUIClampPoint(m.lParam, &bounds, obj);
                if (shown) ddUIDrawOutline(dc, anchor, corner);
                corner = p;
                shown = 0;
                done = 1;
            }
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            result = -1;
            done = 1;
            break;
        default:
            if (m.message < WM_KEYFIRST || m.message > WM_MOUSELAST) DispatchMessageW(&m);
            break;
        }
    }
    if (shown) ddUIDrawOutline(dc, anchor, corner);
    s_bandWindow = nullptr;
    if (GetCapture() == hwnd) ReleaseCapture();
    HCURSOR own = ddGDIGetCursor(obj->gc);
    SetCursor(own ? own : oldCursor);
    SetROP2(dc, oldRop);
    SelectObject(dc, oldPen);
    rect[0] = anchor.x < corner.x ? anchor.x : corner.x;
    rect[1] = anchor.y < corner.y ? anchor.y : corner.y;
    rect[2] = abs(corner.x - anchor.x);
    rect[3] = abs(corner.y - anchor.y);
    return result;
}

HBITMAP ddUICaptureScreenBitmap(DiObject* obj, const int32_t rect[4], HPALETTE* palette) {
    *palette = nullptr;
    HDC dc = obj && obj->gc ? ddGDIGetDC(obj->gc) : nullptr;
    if (!dc || rect[2] <= 0 || rect[3] <= 0) return nullptr;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = mem ? CreateCompatibleBitmap(dc, rect[2], rect[3]) : nullptr;
    if (!bmp) {
        if (mem) DeleteDC(mem);
        return nullptr;
    }
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, rect[2], rect[3], dc, rect[0], rect[1], SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    if (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) {
        int n = GetDeviceCaps(dc, SIZEPALETTE);
        if (n > 0 && n <= 256) {
            LOGPALETTE* lp = static_cast<LOGPALETTE*>(
                calloc(1, sizeof(LOGPALETTE) + size_t(n) * sizeof(PALETTEENTRY)));
            if (lp) {
                lp->palVersion = 0x300;
                lp->palNumEntries = WORD(n);
                GetSystemPaletteEntries(dc, 0, UINT(n), lp->palPalEntry);
                *palette = CreatePalette(lp);
                free(lp);
            }
        }
    }
    return bmp;
}
