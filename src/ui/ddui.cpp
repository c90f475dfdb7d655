/* Frame windows: classes, creation of main, full-screen, owned and X frames,
 * layout, fit, raise, palettes, scroll bars and view origin, and the frame
 * and X frame window procedures. The main frame window is the process's
 * message sink: socket messages, the outpost messages and launch records
 * from other local processes arrive there. */
#include "ui/ddui.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "net/ddnet.h"
#include "session/ddso.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddprog.h"
#include "ui/ddscale.h"
#include "ui/ddxhooks.h"
#include "ui/diuirecord.h"
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
#include "xde/ddxde.h"

#include <commctrl.h>
#include <imm.h>
#include <mmsystem.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

DdXHooks g_ddXHooks;
DdUIOutpostCalls g_ddUIOutpost = {ddSOCreate, ddSODestroy, diSOUIExit};

static const wchar_t k_frameClass[] = L"QVLFrameClass";
static const wchar_t k_frameXClass[] = L"QVLFrameXClass";
static const wchar_t k_viewClass[] = L"QVLViewClass";

enum {
    DD_ICON_DEFAULT = 103,
    DD_MENU_MAIN = 101,
    DD_MENU_EDIT = 199,
    DD_STR_TITLE = 1,
    DD_STR_NO_SCALING = 741,
};
enum : UINT {
    DD_CMD_ABOUT = 40003,
    DD_CMD_PRINT_RESUME = 40008,
    DD_CMD_PRINT_PAUSE = 40009,
    DD_CMD_CONSOLE_LOG = 40011,
    DD_MSG_TASKBAR_MENU = 0x0313,
};
static const int32_t k_defaultPos = INT32_MIN; /* 0x80000000: Windows chooses */

DdUIGeometry g_ddUIMainGeometry = {k_defaultPos, k_defaultPos, k_defaultPos, k_defaultPos};
int g_ddUIRealizing;

static HICON s_defaultIcon;
static int s_scrollGuard;     /* set while scroll bars are recomputed */
static int s_outpostStarting; /* set while 0x8003 is handled */
static int s_endDuringStart;  /* an end its loops delivered meanwhile */
static int s_settingTimerArmed;
static int s_cxVScroll, s_cyHScroll, s_cxBorder, s_cyBorder;
static int32_t s_printScale, s_printScaleX = 1, s_printScaleY = 1;
static HWND s_launchSender;

static HINSTANCE ddUIInstance() {
    return g_ddApp->instance ? g_ddApp->instance : GetModuleHandleW(nullptr);
}

static DiObject* ddUIChannelObject(DiChannel* ch) {
    /* Every channel begins with its display-object header. */
    return reinterpret_cast<DiObject*>(ch);
}

/* ---- Start and end ---- */

void ddUIClampAxis(int32_t* pos, int32_t* size, int32_t screen) {
    if (*pos == k_defaultPos && *size == k_defaultPos) return;
    int64_t p = *pos, s = *size;
    if (s > screen) s = screen;
    /* A default or negative size takes no room when the position is pulled
     * back onto the screen; 64-bit math keeps screen - size from wrapping. */
    if (p > screen) p = int64_t(screen) - (s > 0 ? s : 0);
    if (int64_t(screen) + p < 0) p = 0;
    *pos = int32_t(p);
    *size = int32_t(s);
}

void ddUILoadSettings(void) {
    g_ddApp->opt.socksRoute = nullptr;
    g_ddApp->opt.httpProxyRoute = nullptr;
    diAppLoadSettings(g_ddApp);
    g_ddUIButtonKey[0] = g_ddUIButtonKey[1] = 0;
    DdUIGeometry* g = &g_ddUIMainGeometry;
    ddUIClampAxis(&g->x, &g->width, GetSystemMetrics(SM_CXSCREEN));
    ddUIClampAxis(&g->y, &g->height, GetSystemMetrics(SM_CYSCREEN));
    s_cxVScroll = GetSystemMetrics(SM_CXVSCROLL);
    s_cyHScroll = GetSystemMetrics(SM_CYHSCROLL);
    s_cxBorder = GetSystemMetrics(SM_CXBORDER);
    s_cyBorder = GetSystemMetrics(SM_CYBORDER);
    s_printScale = ddSettingGetInt(L"printscale", 0);
    s_printScaleX = ddSettingGetInt(L"printscalex", 1);
    s_printScaleY = ddSettingGetInt(L"printscaley", 1);
}

void ddUISaveSettings(int saveAll) {
    if (saveAll) diAppSaveSettings(g_ddApp);
    ddSettingSetInt(L"printscale", s_printScale);
    ddSettingSetInt(L"printscalex", s_printScaleX);
    ddSettingSetInt(L"printscaley", s_printScaleY);
}

static HWND ddUIObjectFrameWindow(DiObject* obj);

int ddUIInit(HINSTANCE alreadyRegistered, HINSTANCE instance) {
    if (!instance) instance = ddUIInstance();
    s_defaultIcon = LoadIconW(instance, MAKEINTRESOURCEW(DD_ICON_DEFAULT));
    if (!s_cxVScroll) {
        s_cxVScroll = GetSystemMetrics(SM_CXVSCROLL);
        s_cyHScroll = GetSystemMetrics(SM_CYHSCROLL);
        s_cxBorder = GetSystemMetrics(SM_CXBORDER);
        s_cyBorder = GetSystemMetrics(SM_CYBORDER);
    }
    if (!alreadyRegistered) {
        WNDCLASSW wc = {};
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpfnWndProc = ddUIFrameWindowProc;
        wc.cbClsExtra = 8;
        wc.hIcon = s_defaultIcon;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = k_frameClass;
        if (!RegisterClassW(&wc)) return 0;

        wc.lpfnWndProc = ddUIFrameXWindowProc;
        wc.hIcon = nullptr;
        wc.hbrBackground = nullptr;
        wc.lpszClassName = k_frameXClass;
        if (!RegisterClassW(&wc)) return 0;

        wc.lpfnWndProc = ddUIViewWindowProc;
        wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
        wc.cbClsExtra = 0;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = k_viewClass;
        if (!RegisterClassW(&wc)) return 0;
    }
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    ddScaleInstallHooks();
    ddXDEInstallHooks();
    /* Dialogs opened for an object are owned by its frame's window, and the
     * tray menu waits while such a dialog is up. */
    g_ddDlgHooks.objectWindow = ddUIObjectFrameWindow;
    g_ddDlgHooks.beginModal = ddSOTrayBeginModal;
    g_ddDlgHooks.endModal = ddSOTrayEndModal;
    /* The default frame's client leaves room for a vertical scroll bar. */
    g_ddApp->layoutFlag = 0;
    g_ddApp->sideWidth = s_cxVScroll;
    if (g_ddXHooks.swmInit) g_ddXHooks.swmInit();
    if (ddUIHookWanted(g_ddApp->opt.imeConfig, g_ddApp->opt.preferredLanguage)) ddUIInstallHook();
    return 1;
}

void ddUIShutdown(void) {
    ddUIRemoveHook();
    ddDlgConsoleDestroy();
    ddUISaveSettings(1);
    if (g_ddXHooks.swmShutdown) g_ddXHooks.swmShutdown();
    /* A later start in the same process registers the classes again. */
    HINSTANCE instance = ddUIInstance();
    UnregisterClassW(k_viewClass, instance);
    UnregisterClassW(k_frameXClass, instance);
    UnregisterClassW(k_frameClass, instance);
}

/* ---- Lookups ---- */

/* A frame's context names the frame window (views are made in it); frames
 * do not draw, so no device context is held for them. */
static void ddUIAttachWindow(DdGC* gc, HWND hwnd) {
    if (gc && hwnd) ddGDIAttach(gc, hwnd, nullptr);
}

static void ddUIDetachWindow(DdGC* gc) {
    if (!gc) return;
    HWND hwnd = ddGDIGetWindow(gc);
    HDC dc = ddGDIGetDC(gc);
    ddGDIDetach(gc);
    if (hwnd && dc) ReleaseDC(hwnd, dc);
}

static DdFrame* ddUIFrameOf(DiFrame* f) {
    return reinterpret_cast<DdFrame*>(f);
}

HWND ddUIObjectWindow(DiObject* obj) {
    return obj && obj->gc ? ddGDIGetWindow(obj->gc) : nullptr;
}

DiObject* ddUIFrameEngine(DdFrame* frame) {
    if (!frame || !frame->base.manager || !frame->base.manager->channel) return nullptr;
    return ddUIChannelObject(frame->base.manager->channel);
}

DdFrame* ddUIFindFrame(HWND hwnd) {
    if (!hwnd) return nullptr;
    for (DiFrame* f = diUIFrameListHead(); f; f = f->next)
        if (ddUIFrameOf(f)->window == hwnd) return ddUIFrameOf(f);
    return nullptr;
}

/* The window of the frame an object sits in, while that frame is still in
 * the frame list; none for an object outside every frame. */
static HWND ddUIObjectFrameWindow(DiObject* obj) {
    DiObject* top = diUIFindTopFrame(obj);
    if (!top) return nullptr;
    HWND window = ddUIFrameOf(reinterpret_cast<DiFrame*>(top))->window;
    return ddUIFindFrame(window) ? window : nullptr;
}

DiObject* ddUIFindEngineByWindow(HWND hwnd) {
    if (!hwnd) return nullptr;
    for (DiFrame* f = diUIFrameListHead(); f; f = f->next) {
        DdFrame* df = ddUIFrameOf(f);
        DiDEManager* m = f->manager;
        if (m) {
            if (ddUIObjectWindow(&m->hdr) == hwnd) return &m->hdr;
            DiObject* engine = ddUIFrameEngine(df);
            if (engine && ddUIObjectWindow(engine) == hwnd) return engine;
            if (m->progress && ddUIObjectWindow(m->progress) == hwnd) return m->progress;
        }
        if (df->xwindow && ddUIObjectWindow(df->xwindow) == hwnd) return df->xwindow;
    }
    return nullptr;
}

int ddUIIsXView(HWND hwnd) {
    DiObject* obj = ddUIFindEngineByWindow(hwnd);
    return obj && obj->type == DI_OBJ_XDE;
}

/* ---- Views ---- */

HWND ddUICreateView(DiObject* parent, int id, int32_t width, int32_t height) {
    HWND parentWindow = parent ? ddUIObjectWindow(parent) : nullptr;
    /* Without a parent window the view cannot be a child: it is made as a
     * hidden pop-up (and carries no control id) instead. */
    DWORD style = parentWindow ? WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN : WS_POPUP;
    HMENU idOrMenu = parentWindow ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : nullptr;
    return CreateWindowExW(0, k_viewClass, L"", style, 0, 0, width, height, parentWindow, idOrMenu,
                           ddUIInstance(), nullptr);
}

void ddUIShowObjectWindow(DiObject* obj, int show) {
    /* A progress object shows itself as its dialog, not its view. */
    HWND hwnd = obj && obj->type == DI_OBJ_PROGRESS ? ddProgDialog(obj) : ddUIObjectWindow(obj);
    if (!hwnd) return;
    if (show) {
        ShowWindow(hwnd, SW_SHOWNORMAL);
        return;
    }
    ShowWindow(hwnd, SW_HIDE);
    /* A seamless X engine's top frame: give the desktop time to take the
     * hidden window off the taskbar before anything is shown in its place.
     * Sleeping rather than spinning keeps the CPU free meanwhile. */
    if (obj->type == DI_OBJ_XDE && (ddXEngineFlags(obj) & DD_XF_SEAMLESS)) Sleep(500);
}

void ddUIDisableIME(DiObject* obj) {
    HWND hwnd = ddUIObjectWindow(obj);
    if (hwnd) ImmAssociateContext(hwnd, nullptr);
}

void ddUIInvalidateTree(HWND hwnd) {
    if (!hwnd) return;
    InvalidateRect(hwnd, nullptr, FALSE);
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ddUIInvalidateTree(c);
}

/* ---- Sounds and the webtop ---- */

void ddUIPlaySound(const wchar_t* alias) {
    if (!g_ddApp->soundEffects) return;
    if (!PlaySoundW(alias, nullptr, SND_ALIAS | SND_ASYNC | SND_APPLICATION | SND_NODEFAULT))
        MessageBeep(0);
}

void ddUIGetPrintScale(int* mode, uint32_t* scaleX, uint32_t* scaleY) {
    *mode = s_printScale;
    *scaleX = uint32_t(s_printScaleX);
    *scaleY = uint32_t(s_printScaleY);
}

void ddUISetPrintScale(int mode, uint32_t scaleX, uint32_t scaleY) {
    s_printScale = mode;
    s_printScaleX = int32_t(scaleX);
    s_printScaleY = int32_t(scaleY);
}

void ddUIPlayMessageSound(int messageNumber) {
    wchar_t text[257] = L"";
    if (LoadStringW(ddUIInstance(), UINT(messageNumber + 500), text, 257) <= 0) text[0] = 0;
    ddUIPlaySound(text);
}

void ddUINotifyWebtop(WPARAM code) {
    if (s_launchSender) {
        UINT msg =
            g_ddMsgWebtopLaunch ? g_ddMsgWebtopLaunch : RegisterWindowMessageW(L"QVLWebtopLaunch");
        PostMessageW(s_launchSender, msg, code, 0);
    } else {
        UINT msg = g_ddMsgWebtopLoggedIn ? g_ddMsgWebtopLoggedIn
                                         : RegisterWindowMessageW(L"QVLWebtopLoggedIn");
        PostMessageW(HWND_BROADCAST, msg, code, reinterpret_cast<LPARAM>(g_ddApp->mainWindow));
    }
}

/* ---- Socket messages and launch records ---- */

/* The socket layer owns the mapping from a socket and its Windows Sockets
 * event to the owner's event. */
void ddUIOnSocketMessage(HWND, WPARAM socket, UINT event) {
    ddNetHandleSocketMessage(socket, LPARAM(event));
}

int ddUIOnCopyData(HWND, HWND sender, const COPYDATASTRUCT* data) {
    /* The record comes from any local process: it must be a whole record,
     * it is read only within cbData, and its text ends inside its field. */
    DiChar args[DI_LAUNCH_ARGS_UNITS + 1];
    if (!data || diUIReadLaunchArgs(data->lpData, data->cbData, args) != 0) return 0;
    s_launchSender = sender;
    if (args[0]) {
        size_t n = 0;
        while (args[n])
            n++;
        DiChar* copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
        if (copy) {
            memcpy(copy, args, (n + 1) * sizeof(DiChar));
            free(g_ddApp->opt.objectArgs);
            g_ddApp->opt.objectArgs = copy;
        }
    }
    ddUINotifyWebtop(103);
    return 1;
}

/* ---- Frames ---- */

int ddUICreateFrameWindow(DdFrame* frame, uint32_t mode) {
    HINSTANCE instance = ddUIInstance();
    wchar_t title[256] = L"";
    HWND owner = nullptr;
    HMENU menu = nullptr;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, w = CW_USEDEFAULT, h = CW_USEDEFAULT;
    if (mode == 1) {
        if (LoadStringW(instance, DD_STR_TITLE, title, 256) <= 0) title[0] = 0;
        menu = LoadMenuW(instance, MAKEINTRESOURCEW(DD_MENU_MAIN));
        x = g_ddUIMainGeometry.x;
        y = g_ddUIMainGeometry.y;
        w = g_ddUIMainGeometry.width;
        h = g_ddUIMainGeometry.height;
    } else if (mode == 3) {
        /* Owned by the main window itself, never by whatever window of the
         * client was active last (another launch's frame or its dialog):
         * the end of that window must not take this one with it. */
        owner = g_ddApp->mainWindow;
    }
    HWND hwnd = CreateWindowExW(0, k_frameClass, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y,
                                w, h, owner, menu, instance, nullptr);
    if (!hwnd) {
        if (menu) DestroyMenu(menu);
        return -1;
    }
    if (mode == 2) SetWindowLongW(hwnd, GWL_STYLE, WS_SYSMENU | WS_MINIMIZEBOX);
    frame->window = hwnd;
    frame->menu = menu;
    ddSOSetWindowIcons(hwnd);
    return 0;
}

DiFrame* ddUIFrameCreate(uint32_t mode, DdGC* gc) {
    DdFrame* frame = static_cast<DdFrame*>(calloc(1, sizeof(DdFrame)));
    if (!frame) return nullptr;
    diUIFrameInit(&frame->base, 0, 0);
    frame->base.mode = mode;
    if (ddUICreateFrameWindow(frame, mode) != 0) {
        free(frame);
        return nullptr;
    }
    ddUIAttachWindow(gc, frame->window);
    diUIObjectSetGC(&frame->base.hdr, gc);
    if (mode == 1) g_ddApp->mainWindow = frame->window;
    return &frame->base;
}

void ddUIFrameFree(DiFrame* f) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame) return;
    HWND hwnd = frame->window;
    /* Frames of X windows owned by this one survive it: they lose their owner
     * rather than being destroyed with it. Launch frames are owned by the
     * main window alone, which goes after every other frame: no launch's end
     * re-owns another launch's window. */
    if (hwnd) {
        for (DiFrame* o = diUIFrameListHead(); o; o = o->next) {
            DdFrame* other = ddUIFrameOf(o);
            if (other != frame && other->window && other->xwindow &&
                GetWindow(other->window, GW_OWNER) == hwnd)
                SetWindowLongPtrW(other->window, GWLP_HWNDPARENT, 0);
        }
    }
    /* The frame has left the frame list: its window procedure can no longer
     * find it, so the X window forgets the frame here. */
    if (frame->xwindow && g_ddXHooks.xwindowForgetFrame)
        g_ddXHooks.xwindowForgetFrame(frame->xwindow);
    frame->xwindow = nullptr;
    if (frame->menu) DestroyMenu(frame->menu);
    frame->menu = nullptr;
    frame->window = nullptr;
    /* The context outlives the frame (its owner frees it afterwards): it
     * lets go of the window first. */
    ddUIDetachWindow(frame->base.hdr.gc);
    if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    if (frame->iconLarge) DestroyIcon(frame->iconLarge);
    if (frame->iconSmall) DestroyIcon(frame->iconSmall);
    diUIObjectFreeTitle(&frame->base.hdr);
    free(frame);
}

int32_t ddUICentreOffset(int32_t screen, int32_t virtualSize, int32_t viewSize) {
    return virtualSize < screen ? int32_t((int64_t(screen) - viewSize) / 2) : 0;
}

static int ddUIEngineScaling(DiObject* engine) {
    return ddUIScaleActive(engine);
}

static void ddUIPlace(HWND hwnd, int x, int y, int w, int h) {
    if (hwnd) SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ddUILayoutFrame(DiFrame* f) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame || !frame->window) return;
    RECT rc;
    GetClientRect(frame->window, &rc);
    int32_t width = rc.right - rc.left;
    int32_t barHeight = frame->bottomBar ? frame->bottomBar->height : 0;
    int32_t paneWidth = frame->leftPane ? frame->leftPane->width : 0;
    int32_t height = rc.bottom - rc.top - barHeight;
    int32_t restWidth = width - paneWidth;
    if (frame->leftPane) ddUIPlace(ddUIObjectWindow(frame->leftPane), 0, 0, width, height);
    DiDEManager* m = frame->base.manager;
    if (m) ddUIPlace(ddUIObjectWindow(&m->hdr), paneWidth, 0, restWidth, height);
    DiObject* engine = ddUIFrameEngine(frame);
    if (engine) {
        int scaling = ddUIEngineScaling(engine);
        int32_t vw = restWidth, vh = height;
        if (!scaling) {
            if (vw > engine->vwidth) vw = engine->vwidth;
            if (vh > engine->vheight) vh = engine->vheight;
        }
        int32_t x = 0, y = 0;
        if (frame->base.mode == 2) {
            int32_t sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
            x = ddUICentreOffset(sw, engine->vwidth, vw);
            y = ddUICentreOffset(sh, engine->vheight, vh);
        }
        ddUIPlace(ddUIObjectWindow(engine), x, y, vw, vh);
        if (engine->type == DI_OBJ_XDE && scaling && g_ddXHooks.scaleResize)
            g_ddXHooks.scaleResize(engine, 0);
    }
    if (frame->bottomBar)
        ddUIPlace(ddUIObjectWindow(frame->bottomBar), 0, height, width, barHeight);
    if (engine) ddUIUpdateScrollRange(engine);
}

void ddUIFitFrameToContent(DiFrame* f) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame || !frame->window) return;
    DiObject* engine = ddUIFrameEngine(frame);
    DiObject* content =
        engine ? engine : (frame->base.manager ? &frame->base.manager->hdr : nullptr);
    int64_t cw = 0, ch = 0;
    if (content) {
        cw = engine ? content->vwidth : content->width;
        ch = engine ? content->vheight : content->height;
    }
    RECT wr, cr;
    GetWindowRect(frame->window, &wr);
    GetClientRect(frame->window, &cr);
    int32_t sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int64_t w = (int64_t(wr.right) - wr.left - cr.right) + cw;
    int64_t h = (int64_t(wr.bottom) - wr.top - cr.bottom) + ch +
                (frame->bottomBar ? frame->bottomBar->height : 0);
    if (frame->base.mode == 2) {
        w = sw;
        h = sh;
    }
    int64_t x = wr.left, y = wr.top;
    if (x + w > sw) {
        x = 0;
        if (w > sw) w = sw;
    }
    if (y + h > sh) {
        y = 0;
        if (h > sh) h = sh;
    }
    SetWindowPos(frame->window, nullptr, int(x), int(y), int(w), int(h),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void ddUISetFrameTitle(DiObject* obj, const DiChar* title) {
    diUISetTitle(obj, title);
    HWND hwnd = ddUIObjectWindow(obj);
    if (hwnd) SetWindowTextW(hwnd, title ? ddW(title) : L"");
}

void ddUIRaiseFrame(DiFrame* f) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame || !frame->window || !IsWindowVisible(frame->window)) return;
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof wp;
    GetWindowPlacement(frame->window, &wp);
    if (wp.showCmd == SW_SHOWMINIMIZED || wp.showCmd == SW_MINIMIZE ||
        wp.showCmd == SW_SHOWMINNOACTIVE) {
        ShowWindow(frame->window, SW_RESTORE);
        return;
    }
    SetForegroundWindow(frame->window);
    SetWindowPos(frame->window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(frame->window, HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

/* Selects and realises `palette` in the window's device context, then puts
 * the previous palette back. Another window's palette change repaints the
 * tree only when it moved entries of this palette: a repaint realises the
 * views' palettes again, and a view realising this same palette would
 * otherwise set the frames repainting each other without end. */
static void ddUIRealizeIn(HWND hwnd, HPALETTE palette, int unrealize, BOOL background) {
    HDC dc = GetDC(hwnd);
    if (!dc) return;
    g_ddUIRealizing = 1;
    if (unrealize) UnrealizeObject(palette);
    HPALETTE old = SelectPalette(dc, palette, background);
    UINT moved = RealizePalette(dc);
    if (unrealize || (moved != 0 && moved != GDI_ERROR)) ddUIInvalidateTree(hwnd);
    if (old) SelectPalette(dc, old, background);
    g_ddUIRealizing = 0;
    ReleaseDC(hwnd, dc);
}

void ddUISetFramePalette(DiFrame* f, HPALETTE palette) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame) return;
    if (!palette) {
        frame->palette = nullptr;
        return;
    }
    if (palette == frame->palette) return;
    if (frame->window) ddUIRealizeIn(frame->window, palette, 1, FALSE);
    frame->palette = palette;
}

/* ---- Scroll bars and origin ---- */

void ddUIGetScrollBarSize(HWND hwnd, SIZE* size) {
    int border = (GetWindowLongW(hwnd, GWL_STYLE) & WS_BORDER) != 0;
    int cx = s_cxVScroll ? s_cxVScroll : GetSystemMetrics(SM_CXVSCROLL);
    int cy = s_cyHScroll ? s_cyHScroll : GetSystemMetrics(SM_CYHSCROLL);
    size->cx = cx - (border ? (s_cxBorder ? s_cxBorder : GetSystemMetrics(SM_CXBORDER)) : 0);
    size->cy = cy - (border ? (s_cyBorder ? s_cyBorder : GetSystemMetrics(SM_CYBORDER)) : 0);
}

void ddUIUpdateScrollRange(DiObject* obj) {
    HWND hwnd = ddUIObjectWindow(obj);
    if (!hwnd || s_scrollGuard) return;
    /* Scroll bars belong to engine views: frames, managers and progress
     * windows keep their windows as they are. */
    if (obj->type == DI_OBJ_FRAME || obj->type == DI_OBJ_DEMANAGER || obj->type == DI_OBJ_PROGRESS)
        return;
    s_scrollGuard = 1;
    RECT rc;
    GetClientRect(hwnd, &rc);
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    SIZE bar;
    ddUIGetScrollBarSize(hwnd, &bar);
    int64_t availW = rc.right + ((style & WS_VSCROLL) ? bar.cx : 0);
    int64_t availH = rc.bottom + ((style & WS_HSCROLL) ? bar.cy : 0);
    if (availW <= bar.cx || availH <= bar.cy) {
        s_scrollGuard = 0;
        return;
    }
    int needH = 0, needV = 0;
    int64_t sx = obj->scrollX, sy = obj->scrollY;
    if (ddUIScaleActive(obj)) {
        sx = sy = 0;
    } else {
        /* The horizontal bar is decided first; the vertical bar's width can
         * then make a horizontal bar necessary after all. */
        int64_t ox = int64_t(obj->vwidth) - availW, oy = int64_t(obj->vheight) - availH;
        if (ox > 0) {
            needH = 1;
            oy += bar.cy;
        }
        if (oy > 0) {
            needV = 1;
            ox += bar.cx;
            if (ox > 0 && !needH) {
                needH = 1;
                oy += bar.cy;
            }
        }
        if (!needH) sx = 0;
        if (!needV) sy = 0;
        if (needH && sx > ox) sx = ox;
        if (needV && sy > oy) sy = oy;
        if (sx < 0) sx = 0;
        if (sy < 0) sy = 0;
    }
    int64_t visW = availW - (needV ? bar.cx : 0), visH = availH - (needH ? bar.cy : 0);
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE;
    if (needH) {
        si.nMin = 0;
        si.nMax = obj->vwidth;
        si.nPage = UINT(visW);
        SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
    }
    if (needV) {
        si.nMin = 0;
        si.nMax = obj->vheight;
        si.nPage = UINT(visH);
        SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
    }
    ShowScrollBar(hwnd, SB_HORZ, needH);
    ShowScrollBar(hwnd, SB_VERT, needV);
    diUISetScrollPos(obj, int32_t(sx), int32_t(sy));
    s_scrollGuard = 0;
}

static BOOL CALLBACK ddUIMoveChild(HWND child, LPARAM lp) {
    const POINT* to = reinterpret_cast<const POINT*>(lp);
    /* Only direct children move; their own children follow them. */
    if (GetParent(child) == reinterpret_cast<HWND>(to[1].x))
        SetWindowPos(child, nullptr, to->x, to->y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void ddUIUpdateScrollPos(DiObject* obj) {
    HWND hwnd = ddUIObjectWindow(obj);
    if (!hwnd) return;
    SetScrollPos(hwnd, SB_HORZ, obj->scrollX, TRUE);
    SetScrollPos(hwnd, SB_VERT, obj->scrollY, TRUE);
    if (GetDlgCtrlID(hwnd) == DD_VIEW_ID_MANAGER) {
        POINT to[2] = {{-obj->scrollX, -obj->scrollY}, {LONG(reinterpret_cast<INT_PTR>(hwnd)), 0}};
        EnumChildWindows(hwnd, ddUIMoveChild, reinterpret_cast<LPARAM>(to));
        return;
    }
    /* The view class owns its device context, so the origin persists. */
    HDC dc = GetDC(hwnd);
    if (!dc) return;
    POINT old;
    GetWindowOrgEx(dc, &old);
    if (old.x != obj->scrollX || old.y != obj->scrollY) {
        SetWindowOrgEx(dc, obj->scrollX, obj->scrollY, nullptr);
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
    }
    ReleaseDC(hwnd, dc);
}

void ddUIScrollToPoint(DiObject* obj, int32_t x, int32_t y) {
    HWND hwnd = ddUIObjectWindow(obj);
    if (!hwnd) return;
    RECT rc;
    GetClientRect(hwnd, &rc);
    int64_t nx = obj->scrollX, ny = obj->scrollY;
    if (x < obj->scrollX || int64_t(x) > int64_t(obj->scrollX) + rc.right) {
        nx = int64_t(x) - rc.right / 2;
        if (nx > int64_t(obj->vwidth) - rc.right) nx = int64_t(obj->vwidth) - rc.right;
        if (nx < 0) nx = 0;
    }
    if (y < obj->scrollY || int64_t(y) > int64_t(obj->scrollY) + rc.bottom) {
        ny = int64_t(y) - rc.bottom / 2;
        if (ny > int64_t(obj->vheight) - rc.bottom) ny = int64_t(obj->vheight) - rc.bottom;
        if (ny < 0) ny = 0;
    }
    if (nx != obj->scrollX || ny != obj->scrollY) diUISetScrollPos(obj, int32_t(nx), int32_t(ny));
}

/* ---- Scaling menu ---- */

static void ddUICheckScalingItems(HWND hwnd, int mode) {
    HMENU sys = GetSystemMenu(hwnd, FALSE);
    if (!sys) return;
    for (int i = 0; i < 3; i++)
        CheckMenuItem(sys, UINT(i + 1), MF_BYCOMMAND | (i == mode ? MF_CHECKED : MF_UNCHECKED));
}

void ddUIAddScalingMenu(DiFrame* f, int mode) {
    DdFrame* frame = ddUIFrameOf(f);
    if (!frame || !frame->window) return;
    HMENU sys = GetSystemMenu(frame->window, FALSE);
    if (!sys) return;
    AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
    for (int i = 0; i < 3; i++) {
        wchar_t text[128] = L"";
        if (LoadStringW(ddUIInstance(), UINT(DD_STR_NO_SCALING + i), text, 128) <= 0) text[0] = 0;
        AppendMenuW(sys, MF_STRING, UINT_PTR(i + 1), text);
    }
    ddUICheckScalingItems(frame->window, mode);
}

static void ddUIRelayoutForScaling(DiFrame* f, DiObject* engine, int mode) {
    DdFrame* frame = ddUIFrameOf(f);
    if (mode != 0) {
        if (engine->type == DI_OBJ_XDE && g_ddXHooks.scaleResize) g_ddXHooks.scaleResize(engine, 1);
        ddUILayoutFrame(f);
        ddUIInvalidateTree(frame->window);
    } else {
        ddUILayoutFrame(f);
        if (f->mode != 2) ddUIFitFrameToContent(f);
    }
    ddUICheckScalingItems(frame->window, mode);
}

void ddUISetScalingMode(DiFrame* f, DiObject* engine, int mode) {
    if (!engine || !engine->scalingAllowed) return;
    if (!f) f = reinterpret_cast<DiFrame*>(diUIFindTopFrame(engine));
    if (!f) return;
    if (g_ddXHooks.scaleSetMode) g_ddXHooks.scaleSetMode(engine, mode);
    ddUIRelayoutForScaling(f, engine, mode);
}

void ddUIToggleScaling(DiFrame* f, DiObject* engine) {
    if (!engine || !engine->scalingAllowed) return;
    if (!f) f = reinterpret_cast<DiFrame*>(diUIFindTopFrame(engine));
    if (!f || !g_ddXHooks.scaleRestoreMode) return;
    ddUIRelayoutForScaling(f, engine, g_ddXHooks.scaleRestoreMode(engine));
}

void ddUIAddFrameXSystemMenu(HWND hwnd, int clipboardAllowed, int copyPrintDenied) {
    HMENU sys = GetSystemMenu(hwnd, FALSE);
    HMENU bar = LoadMenuW(ddUIInstance(), MAKEINTRESOURCEW(DD_MENU_EDIT));
    if (!sys || !bar) {
        if (bar) DestroyMenu(bar);
        return;
    }
    HMENU edit = GetSubMenu(bar, 0);
    wchar_t name[64] = L"Edit";
    GetMenuStringW(bar, 0, name, 64, MF_BYPOSITION);
    /* The pop-up moves into the system menu, which then owns it. */
    RemoveMenu(bar, 0, MF_BYPOSITION);
    DestroyMenu(bar);
    if (!edit) return;
    static const UINT k_clipboardItems[] = {0, 4, 6};
    static const UINT k_copyPrintItems[] = {0, 1, 2, 6, 7, 8};
    if (!clipboardAllowed)
        for (UINT pos : k_clipboardItems)
            EnableMenuItem(edit, pos, MF_BYPOSITION | MF_GRAYED);
    if (copyPrintDenied)
        for (UINT pos : k_copyPrintItems)
            EnableMenuItem(edit, pos, MF_BYPOSITION | MF_GRAYED);
    AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(sys, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), name);
}

/* ---- Frame window procedure ---- */

void ddUIFrameSysCommand(DdFrame* frame, DiObject* engine, UINT id) {
    if (id >= 1 && id <= 3) {
        ddUISetScalingMode(frame ? &frame->base : nullptr, engine, int(id) - 1);
        return;
    }
    if ((id & 0xFFF0) == SC_CLOSE || !engine) return;
    DiEvent ev = {};
    ev.w[0] = DI_EV_COMMAND;
    ev.w[1] = id;
    ev.w[2] = 1;
    diUIDeliverEvent(engine, &ev);
}

static void ddUIFrameDestroyed(HWND hwnd, DdFrame* frame) {
    if (!frame) return;
    frame->window = nullptr;
    if (frame->menu) DestroyMenu(frame->menu);
    frame->menu = nullptr;
    ddUISetFramePalette(&frame->base, ddColorDefaultPalette());
    (void)hwnd;
    ddUIDetachWindow(frame->base.hdr.gc);
    DiDEManager* m = frame->base.manager;
    frame->base.manager = nullptr;
    if (m) diDEManagerDestroy(m);
}

static void ddUIFrameMinMax(DdFrame* frame, HWND hwnd, MINMAXINFO* mm) {
    if (!frame || &frame->base.hdr == g_ddApp->root || frame->base.mode == 2) return;
    DiObject* engine = ddUIFrameEngine(frame);
    if (!engine || !(ddXEngineFlags(engine) & DD_XF_LIMIT_SIZE) || ddUIScaleActive(engine)) return;
    RECT rc = {0, 0, 0, 0};
    GetClientRect(hwnd, &rc);
    RECT adj = rc;
    AdjustWindowRect(&adj, DWORD(GetWindowLongW(hwnd, GWL_STYLE)), FALSE);
    int64_t ncx = (int64_t(adj.right) - adj.left) - (rc.right - rc.left);
    int64_t ncy = (int64_t(adj.bottom) - adj.top) - (rc.bottom - rc.top);
    int64_t w = engine->vwidth + ncx;
    int64_t h = engine->vheight + ncy + (frame->bottomBar ? frame->bottomBar->height : 0);
    if (w < mm->ptMaxSize.x) mm->ptMaxSize.x = LONG(w);
    if (h < mm->ptMaxSize.y) mm->ptMaxSize.y = LONG(h);
    if (w < mm->ptMaxTrackSize.x) mm->ptMaxTrackSize.x = LONG(w);
    if (h < mm->ptMaxTrackSize.y) mm->ptMaxTrackSize.y = LONG(h);
}

static LRESULT ddUIPaletteMessage(HWND hwnd, UINT msg, WPARAM wp, DdFrame* frame) {
    if (g_ddUIRealizing || !frame || !frame->palette) return 0;
    if (msg == WM_PALETTECHANGED) {
        if (reinterpret_cast<HWND>(wp) != hwnd) ddUIRealizeIn(hwnd, frame->palette, 0, FALSE);
        return 0;
    }
    ddUIRealizeIn(hwnd, frame->palette, 1, FALSE);
    return 1;
}

/* Messages the frame and X frame procedures handle alike; 1 when handled. */
static int ddUIFrameCommon(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    *result = 0;
    if (msg != 0 && msg == g_ddApp->winsockMessage) {
        ddUIOnSocketMessage(hwnd, wp, LOWORD(lp));
        return 1;
    }
    DdFrame* frame = ddUIFindFrame(hwnd);
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case DD_CMD_ABOUT:
            ddDlgAbout(hwnd);
            break;
        case DD_CMD_PRINT_RESUME:
            diPrintResume(diSOGetPrintChannel());
            break;
        case DD_CMD_PRINT_PAUSE:
            diPrintPause(diSOGetPrintChannel());
            break;
        case DD_CMD_CONSOLE_LOG:
            ddDlgConsoleLog(hwnd);
            break;
        default:
            break;
        }
        return 1;
    case WM_INITMENUPOPUP:
    case WM_MENUSELECT:
        return 1;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        *result = ddUIPaletteMessage(hwnd, msg, wp, frame);
        return 1;
    case WM_SETFOCUS: {
        ddUIReadModMask();
        if (!frame) return 1;
        HWND view = frame->xwindow ? ddUIObjectWindow(frame->xwindow) : nullptr;
        if (!view) view = ddUIObjectWindow(ddUIFrameEngine(frame));
        if (view && IsWindowVisible(view)) SetFocus(view);
        return 1;
    }
    default:
        return 0;
    }
}

LRESULT CALLBACK ddUIFrameWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result;
    if (ddUIFrameCommon(hwnd, msg, wp, lp, &result)) return result;
    DdFrame* frame = ddUIFindFrame(hwnd);
    switch (msg) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        if (hwnd == g_ddApp->mainWindow) {
            ddUIFrameDestroyed(hwnd, frame);
            PostQuitMessage(0);
            g_ddApp->mainWindow = nullptr;
            return 0;
        }
        /* A frame still listed goes by a path other than its own end (its
         * owner's destruction, a close from outside): it ends as a close
         * does, its launch told and its record freed. */
        if (frame && &frame->base.hdr != g_ddApp->root) {
            frame->window = nullptr;
            diUIDestroyFrame(&frame->base);
        } else {
            ddUIFrameDestroyed(hwnd, frame);
        }
        break;
    case WM_SIZE: {
        if (!frame) break;
        ddUILayoutFrame(&frame->base);
        DiChannel* ch = frame->base.manager ? frame->base.manager->channel : nullptr;
        if (ch) {
            if (wp == SIZE_MINIMIZED)
                diDEChannelSendDeactivate(ch);
            else
                diDEChannelSendActivate(ch);
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        if (frame->toolbar) SendMessageW(frame->toolbar, TB_AUTOSIZE, 0, 0);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_CLOSE:
        if (hwnd == g_ddApp->mainWindow) {
            /* A WM_CLOSE sent to the main window never reaches the event
             * loop: end the session here as the loop would. */
            if (g_ddUIOutpost.destroy()) DestroyWindow(hwnd);
            return 0;
        }
        if (frame && &frame->base.hdr != g_ddApp->root) {
            DiEvent ev = {};
            ev.w[0] = DI_EV_WINDOW_CLOSED;
            diUIDeliverEvent(ddUIFrameEngine(frame), &ev);
            /* The engine may have destroyed the frame while handling the
             * event: only a frame still in the list is destroyed here. */
            frame = ddUIFindFrame(hwnd);
            if (frame) diUIDestroyFrame(&frame->base);
        }
        return 0;
    case WM_GETMINMAXINFO:
        ddUIFrameMinMax(frame, hwnd, reinterpret_cast<MINMAXINFO*>(lp));
        return 0;
    case WM_COPYDATA:
        if (!frame) return 0;
        return ddUIOnCopyData(hwnd, reinterpret_cast<HWND>(wp),
                              reinterpret_cast<const COPYDATASTRUCT*>(lp));
    case WM_SYSCOMMAND:
        ddUIFrameSysCommand(frame, ddUIFrameEngine(frame), UINT(wp));
        break;
    case DD_MSG_TRAY:
        ddSOTrayNotify(hwnd, wp, lp);
        return 0;
    case DD_MSG_OUTPOST_CREATE:
        s_outpostStarting = 1;
        s_endDuringStart = 0;
        if (g_ddUIOutpost.create() == 0) g_ddUIOutpost.exit();
        s_outpostStarting = 0;
        if (s_endDuringStart) PostMessageW(hwnd, DD_MSG_OUTPOST_END, 0, 0);
        return 0;
    case DD_MSG_OUTPOST_END:
        /* While the outpost starts, a nested message loop may deliver this:
         * destroying the window under the start would end everything twice,
         * so the end comes anew once the start returned. */
        if (s_outpostStarting) {
            s_endDuringStart = 1;
            return 0;
        }
        if (g_ddUIOutpost.destroy() && g_ddApp->mainWindow) DestroyWindow(g_ddApp->mainWindow);
        return 0;
    case DD_MSG_OUTPOST_START:
        ddSOOnStartRequest();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

/* ---- X frames ---- */

const RECT* ddUIPickWorkArea(const RECT* window, const DdUIMonitorArea* monitors, int count,
                             const RECT* primaryWork) {
    const RECT* best = nullptr;
    int64_t bestArea = 0;
    for (int i = 0; i < count; i++) {
        const RECT& m = monitors[i].monitor;
        int64_t w = int64_t(std::min(window->right, m.right)) - std::max(window->left, m.left);
        int64_t h = int64_t(std::min(window->bottom, m.bottom)) - std::max(window->top, m.top);
        if (w <= 0 || h <= 0) continue;
        if (w * h > bestArea) {
            bestArea = w * h;
            best = &monitors[i].work;
        }
    }
    return best ? best : primaryWork;
}

static RECT ddUIRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    RECT r = {LONG(x), LONG(y), LONG(int64_t(x) + w), LONG(int64_t(y) + h)};
    return r;
}

/* From the application's monitor records (ddMultiMonEnumerate). */
void ddUIFrameXWorkArea(const RECT* window, RECT* work) {
    std::vector<DdUIMonitorArea> monitors;
    for (int32_t i = 0; g_ddApp->monitors && i < g_ddApp->monitorCount; i++) {
        const DdMonitor& m = g_ddApp->monitors[i];
        monitors.push_back({ddUIRect(m.x, m.y, m.width, m.height),
                            ddUIRect(m.workX, m.workY, m.workWidth, m.workHeight)});
    }
    const DdMonitor& p = g_ddApp->primaryMonitor;
    RECT primary = ddUIRect(p.workX, p.workY, p.workWidth, p.workHeight);
    if (p.workWidth <= 0 || p.workHeight <= 0)
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &primary, 0);
    *work = *ddUIPickWorkArea(window, monitors.data(), int(monitors.size()), &primary);
}

DdFrame* ddUICreateFrameX(DiObject* engine, DdGC* gc, uint32_t decorations, DiObject* ownerX,
                          int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                          uint32_t extraFlags) {
    uint32_t flags = ddXEngineFlags(engine);
    int seamless = (flags & DD_XF_SEAMLESS) != 0;
    DWORD style = WS_POPUP | WS_CLIPCHILDREN;
    if (decorations & 8) style |= WS_CAPTION;
    if (decorations & 4) style |= WS_THICKFRAME;
    if (decorations & 16) style |= WS_SYSMENU;
    if (decorations & 32) style |= WS_MINIMIZEBOX;
    if (decorations & 64) style |= WS_MAXIMIZEBOX;
    uint32_t decorated = decorations & (4 | 8 | 16 | 32 | 64);
    DWORD exStyle = 0;
    if (!decorated || (extraFlags & 2)) exStyle |= WS_EX_TOOLWINDOW;
    if (seamless && !(extraFlags & 2)) exStyle &= ~DWORD(WS_EX_TOOLWINDOW);
    if (extraFlags & 4) exStyle |= WS_EX_TOPMOST;

    /* Grow client geometry to the outer rectangle, in 64 bits: the
     * engine's sizes come from the server. A frame rectangle stays as given. */
    RECT r = {*x, *y, LONG(int64_t(*x) + *width), LONG(int64_t(*y) + *height)};
    if (flags & DD_XF_CLIENT_GEOMETRY) AdjustWindowRectEx(&r, style, FALSE, exStyle);
    int64_t wx = r.left, wy = r.top, ww = int64_t(r.right) - r.left, wh = int64_t(r.bottom) - r.top;

    RECT work;
    ddUIFrameXWorkArea(&r, &work);
    if (decorated && !(flags & DD_XF_OVERSIZE)) {
        if (ww > work.right - work.left) ww = work.right - work.left;
        if (wh > work.bottom - work.top) wh = work.bottom - work.top;
    }
    if (decorated && !seamless) {
        if (wx < work.left) wx = work.left;
        if (wy < work.top) wy = work.top;
        if (wx + ww > work.right) wx = work.right - ww;
        if (wy + wh > work.bottom) wy = work.bottom - wh;
        if (wx < work.left) wx = work.left;
        if (wy < work.top) wy = work.top;
    }

    HWND owner = nullptr;
    if (ownerX && !(flags & DD_XF_NO_OWNER)) {
        for (DiFrame* o = diUIFrameListHead(); o; o = o->next) {
            DdFrame* of = ddUIFrameOf(o);
            if (of->xwindow == ownerX && of->window &&
                (GetWindowLongW(of->window, GWL_EXSTYLE) & WS_EX_TOPMOST)) {
                owner = of->window;
                exStyle |= WS_EX_TOPMOST;
                break;
            }
        }
    }

    DdFrame* frame = static_cast<DdFrame*>(calloc(1, sizeof(DdFrame)));
    if (!frame) return nullptr;
    diUIFrameInit(&frame->base, 0, 0);
    frame->base.mode = 0;
    HWND hwnd = CreateWindowExW(exStyle, k_frameXClass, L"", style, int(wx), int(wy), int(ww),
                                int(wh), owner, nullptr, ddUIInstance(), nullptr);
    if (!hwnd) {
        free(frame);
        return nullptr;
    }
    frame->window = hwnd;
    ddUIAttachWindow(gc, hwnd);
    diUIObjectSetGC(&frame->base.hdr, gc);
    ddSOSetWindowIcons(hwnd);
    HPALETTE pal = g_ddXHooks.enginePalette ? g_ddXHooks.enginePalette(engine) : nullptr;
    if (pal) ddUISetFramePalette(&frame->base, pal);
    if (!seamless) {
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else {
        HWND after =
            g_ddXHooks.findInsertAfter ? g_ddXHooks.findInsertAfter(engine, hwnd) : nullptr;
        SetWindowPos(hwnd, after ? after : HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ddUIAddFrameXSystemMenu(hwnd, (flags & DD_XF_CLIPBOARD) != 0,
                            (flags & DD_XF_NO_COPYPRINT) != 0);
    *x = int32_t(wx);
    *y = int32_t(wy);
    *width = int32_t(ww);
    *height = int32_t(wh);
    return frame;
}

/* Off the virtual screen: not one vertical edge inside its horizontal span
 * together with one horizontal edge inside its vertical span. */
static int ddUIFrameOffScreen(const RECT* wr, DiObject* engine) {
    const DdMonitor& v = g_ddApp->virtualScreen;
    RECT vs = ddUIRect(v.x, v.y, v.width, v.height);
    if (v.width <= 0 || v.height <= 0) {
        vs = ddUIRect(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                      GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    }
    int hIn = (wr->left >= vs.left && wr->left < vs.right) ||
              (wr->right > vs.left && wr->right <= vs.right);
    int vIn = (wr->top >= vs.top && wr->top < vs.bottom) ||
              (wr->bottom > vs.top && wr->bottom <= vs.bottom);
    if (hIn && vIn) return 0;
    RECT root;
    if (!g_ddXHooks.rootRect || !g_ddXHooks.rootRect(engine, &root)) return 0;
    int64_t l = int64_t(wr->left) - vs.left, rgt = int64_t(wr->right) - vs.left;
    int64_t t = int64_t(wr->top) - vs.top, b = int64_t(wr->bottom) - vs.top;
    return l > root.right || rgt < root.left || t > root.bottom || b < root.top;
}

static void ddUIFrameXSendGeometry(HWND hwnd, DdFrame* frame) {
    DdXWindowInfo info = {};
    if (!ddXWindowInfo(frame->xwindow, &info) || info.sizeMove) return;
    RECT wr;
    GetWindowRect(hwnd, &wr);
    DiEvent ev = {};
    ev.w[0] = DI_EV_GEOMETRY;
    if (IsIconic(hwnd))
        ev.w[1] = 2;
    else if ((ddXEngineFlags(info.engine) & DD_XF_OFFSCREEN) &&
             ddUIFrameOffScreen(&wr, info.engine))
        ev.w[1] = 4;
    else
        ev.w[1] = 1;
    ev.w[2] = uint32_t(wr.left + info.borderLeft);
    ev.w[3] = uint32_t(wr.top + info.borderTop);
    ev.w[4] = uint32_t(wr.right - wr.left - info.borderLeft - info.borderRight);
    ev.w[5] = uint32_t(wr.bottom - wr.top - info.borderTop - info.borderBottom);
    diUIDeliverEvent(frame->xwindow, &ev);
}

static void ddUIFrameXFitView(HWND hwnd, DdFrame* frame) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    ddUIPlace(ddUIObjectWindow(frame->xwindow), 0, 0, rc.right, rc.bottom);
}

static void ddUIFrameXMinMax(DdFrame* frame, MINMAXINFO* mm) {
    DdXWindowInfo info = {};
    if (!ddXWindowInfo(frame->xwindow, &info)) return;
    int oversize = (ddXEngineFlags(info.engine) & DD_XF_OVERSIZE) != 0;
    int64_t bx = int64_t(info.borderLeft) + info.borderRight;
    int64_t by = int64_t(info.borderTop) + info.borderBottom;
    int hasW = info.maxWidth != 65535, hasH = info.maxHeight != 65535;
    /* An axis without a maximum is unlimited when oversized frames are
     * allowed, else as large as the virtual screen. */
    LONG freeW = oversize ? 65535 : ddMultiMonVirtualWidth();
    LONG freeH = oversize ? 65535 : ddMultiMonVirtualHeight();
    if (hasW) mm->ptMaxSize.x = mm->ptMaxTrackSize.x = LONG(info.maxWidth + bx);
    if (hasH) mm->ptMaxSize.y = mm->ptMaxTrackSize.y = LONG(info.maxHeight + by);
    if (!hasW && !hasH) {
        if (oversize) {
            mm->ptMaxSize.x = mm->ptMaxTrackSize.x = 65535;
            mm->ptMaxSize.y = mm->ptMaxTrackSize.y = 65535;
        }
    } else if (!hasW) {
        mm->ptMaxSize.x = mm->ptMaxTrackSize.x = freeW;
    } else if (!hasH) {
        mm->ptMaxSize.y = mm->ptMaxTrackSize.y = freeH;
    }
    mm->ptMinTrackSize.x = LONG(info.minWidth + bx);
    mm->ptMinTrackSize.y = LONG(info.minHeight + by);
}

static uint32_t ddUISettingTimerFired(void*) {
    s_settingTimerArmed = 0;
    ddMultiMonEnumerate();
    for (DiFrame* f = diUIFrameListHead(); f; f = f->next) {
        DdXWindowInfo info = {};
        if (ddXWindowInfo(ddUIFrameOf(f)->xwindow, &info) &&
            (ddXEngineFlags(info.engine) & DD_XF_SEAMLESS)) {
            if (g_ddXHooks.swmSendClientInfo) g_ddXHooks.swmSendClientInfo();
            break;
        }
    }
    return 0; /* one shot */
}

LRESULT CALLBACK ddUIFrameXWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result;
    if (ddUIFrameCommon(hwnd, msg, wp, lp, &result)) return result;
    DdFrame* frame = ddUIFindFrame(hwnd);
    DiObject* xwin = frame ? frame->xwindow : nullptr;
    DdXWindowInfo info = {};
    int haveInfo = ddXWindowInfo(xwin, &info);
    int seamless = haveInfo && (ddXEngineFlags(info.engine) & DD_XF_SEAMLESS);
    switch (msg) {
    case WM_DESTROY:
        if (xwin && g_ddXHooks.xwindowForgetFrame) g_ddXHooks.xwindowForgetFrame(xwin);
        if (frame) frame->xwindow = nullptr;
        ddUIFrameDestroyed(hwnd, frame);
        if (hwnd == g_ddApp->mainWindow) {
            PostQuitMessage(0);
            g_ddApp->mainWindow = nullptr;
            return 0;
        }
        break;
    case WM_MOVE:
        if (frame && !IsIconic(hwnd)) ddUIFrameXSendGeometry(hwnd, frame);
        return 0;
    case WM_SIZE:
        if (!frame) break;
        ddUIFrameXSendGeometry(hwnd, frame);
        if (haveInfo && !info.sizeMove && wp != SIZE_MINIMIZED) ddUIFrameXFitView(hwnd, frame);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (IsIconic(hwnd)) DrawIcon(dc, 0, 0, info.icon ? info.icon : s_defaultIcon);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_CLOSE:
        if (xwin) {
            DiEvent ev = {};
            ev.w[0] = DI_EV_WINDOW_CLOSED;
            diUIDeliverEvent(xwin, &ev);
        }
        return 0;
    case WM_ERASEBKGND:
        if (info.sizeMove) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            FillRect(reinterpret_cast<HDC>(wp), &rc,
                     static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        }
        return 1;
    case WM_SETTINGCHANGE:
        if (!s_settingTimerArmed) {
            s_settingTimerArmed = 1;
            if (!diTimerAdd(500, ddUISettingTimerFired, nullptr)) s_settingTimerArmed = 0;
        }
        return 0;
    case WM_SETCURSOR:
        if (seamless && !IsWindowEnabled(hwnd)) {
            HWND view = ddUIObjectWindow(xwin);
            if (view) {
                WPARAM keys = 0;
                if (GetKeyState(VK_LBUTTON) < 0) keys |= MK_LBUTTON;
                if (GetKeyState(VK_MBUTTON) < 0) keys |= MK_MBUTTON;
                if (GetKeyState(VK_RBUTTON) < 0) keys |= MK_RBUTTON;
                POINT pt;
                GetCursorPos(&pt);
                pt.x -= xwin->scrollX;
                pt.y -= xwin->scrollY;
                PostMessageW(view, HIWORD(lp), keys, MAKELPARAM(pt.x, pt.y));
                HCURSOR cur = xwin->gc ? ddGDIGetCursor(xwin->gc) : nullptr;
                if (cur) SetCursor(cur);
                return 1;
            }
        }
        break;
    case WM_GETMINMAXINFO:
        if (frame) ddUIFrameXMinMax(frame, reinterpret_cast<MINMAXINFO*>(lp));
        return 0;
    case WM_WINDOWPOSCHANGED: {
        const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lp);
        if (!(pos->flags & SWP_NOZORDER) && xwin && g_ddXHooks.scheduleStackCheck)
            g_ddXHooks.scheduleStackCheck(xwin);
        break;
    }
    case WM_SYSCOMMAND:
        if (seamless && (wp & 0xFFF0) == SC_RESTORE && g_ddXHooks.swmSysCommand) {
            g_ddXHooks.swmSysCommand(xwin, SC_RESTORE, 0, 0);
            return 0;
        }
        ddUIFrameSysCommand(frame, haveInfo ? info.engine : nullptr, UINT(wp));
        break;
    case WM_ENTERSIZEMOVE:
        if (xwin && g_ddXHooks.setSizeMove) g_ddXHooks.setSizeMove(xwin, 1);
        return 0;
    case WM_EXITSIZEMOVE:
        if (xwin && g_ddXHooks.setSizeMove) g_ddXHooks.setSizeMove(xwin, 0);
        if (frame) {
            ddUIFrameXSendGeometry(hwnd, frame);
            ddUIFrameXFitView(hwnd, frame);
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
        if (haveInfo && g_ddXHooks.redrawDisplay) g_ddXHooks.redrawDisplay(info.engine);
        return 0;
    case DD_MSG_TASKBAR_MENU:
        if (seamless && g_ddXHooks.swmSysCommand) {
            g_ddXHooks.swmSysCommand(xwin, 0xF820, int16_t(LOWORD(lp)), int16_t(HIWORD(lp)));
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
