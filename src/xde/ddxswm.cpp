/* Seamless windows: taskbar buttons, window styles, the drag outline and the
 * seamless forms of the window slots. GUI thread only. */
#include "xde/ddxswm.h"
#include "xde/ddxint.h"
#include "xde/ddxmulti.h"

#include "core/ddapp.h"
#include "core/ditimer.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "ui/diui.h"
#include "xde/dixseamless.h"

#include <objbase.h>
#include <shobjidl.h>

#include <vector>

namespace {

ITaskbarList* s_taskbar;
void (*s_taskbarRecorder)(HWND, int);
HBITMAP s_patternBitmap;
HBRUSH s_patternBrush;
HWND s_dragWindow;
DiXFrame* s_dragFrame; /* the frame whose outline is up */
int s_classRegistered;
int s_comStarted;

const wchar_t k_dragClass[] = L"QVLFrameSWMClass";
const wchar_t k_dragName[] = L"QVLSWMDrag";
/* Set on a frame window once it has been mapped (the raise-on-first-map
 * flag is its absence). */
const wchar_t k_mappedProp[] = L"HvSWMMapped";

const DWORD k_buttonBits = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX; /* 0x000B0000 */

/* Taskbar buttons deleted for a style change, each waiting for its timer to
 * add it again: the shell needs time to let go of the old button, and the
 * GUI thread must not wait for it, or a stream of style changes from the
 * server would stall every session. */
std::vector<std::pair<HWND, DiTimer*>> s_buttonsDue;

uint32_t taskbarAddAgain(void* arg) {
    HWND h = static_cast<HWND>(arg);
    for (size_t i = 0; i < s_buttonsDue.size(); i++)
        if (s_buttonsDue[i].first == h) {
            s_buttonsDue.erase(s_buttonsDue.begin() + long(i));
            /* Hidden or gone meanwhile: its button stays deleted. */
            if (IsWindow(h) && IsWindowVisible(h)) ddSWMTaskbarShow(h, 1);
            break;
        }
    return 0;
}

/* Deletes the button now and adds it again 500 ms later; changes made while
 * it waits are merged into that one re-creation. */
void taskbarRecreate(HWND h) {
    for (const auto& due : s_buttonsDue)
        if (due.first == h) return;
    DiTimer* t = diTimerAdd(500, taskbarAddAgain, h);
    if (!t) return; /* the button keeps its old menu */
    s_buttonsDue.push_back({h, t});
    ddSWMTaskbarShow(h, 0);
}

/* A frame going: its pending re-creation goes with it. */
void taskbarForget(HWND h) {
    for (size_t i = 0; i < s_buttonsDue.size(); i++)
        if (s_buttonsDue[i].first == h) {
            diTimerRemove(s_buttonsDue[i].second);
            s_buttonsDue.erase(s_buttonsDue.begin() + long(i));
            return;
        }
}

DiXFrame* frameOfWindow(DiXWindow* w) {
    return w ? w->frame : nullptr;
}

HWND frameHwnd(DiXFrame* f) {
    if (!f || !f->hdr.gc) return nullptr;
    HWND h = ddGDIGetWindow(f->hdr.gc);
    return h ? GetAncestor(h, GA_ROOT) : nullptr;
}

/* The display a top-level window shows a frame of, checked against the
 * display's own window table (a handle alone could be any window). */
bool belongsTo(DiXDisplay* d, HWND h) {
    for (DiXWindow* w : d->windows)
        if (w && w->frame && ddXFrameWindow(w) == h) return true;
    return false;
}

/* The drag window paints nothing of its own: its background is the key
 * colour, which the screen shows through, and the outline is drawn on its
 * device context by the drag. */
LRESULT CALLBACK dragWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH key = CreateSolidBrush(COLORREF(DD_SWM_KEY_COLOUR));
        if (key) {
            FillRect(reinterpret_cast<HDC>(wp), &rc, key);
            DeleteObject(key);
        }
        return 1;
    }
    default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

/* ---- Seamless window slots ---- */

const DdXDeviceVector* base() {
    return ddXDeviceVector();
}

/* Event 15 to the frame: state 1 with the client rectangle in screen
 * coordinates, or state 2 (iconic). */
void sendGeometry(DiXFrame* f, uint32_t state, const RECT* client) {
    DiEvent ev = {};
    ev.w[0] = DI_EV_GEOMETRY;
    ev.w[1] = state;
    if (client) {
        ev.w[2] = uint32_t(client->left);
        ev.w[3] = uint32_t(client->top);
        ev.w[4] = uint32_t(client->right - client->left);
        ev.w[5] = uint32_t(client->bottom - client->top);
    }
    diUIDeliverEvent(&f->hdr, &ev);
}

void scheduleStackCheck(DiXFrame* f) {
    if (g_ddXHooks.scheduleStackCheck) g_ddXHooks.scheduleStackCheck(&f->hdr);
}

bool hasTopmost(HWND h) {
    return h && (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

/* The frame flags arrive after the frame was made: a window kept off the
 * taskbar (flag 2) becomes a tool window before it is first shown, any
 * other loses the tool-window style the frame may have been made with. */
void syncToolWindow(DiXFrame* f, HWND h) {
    if (IsWindowVisible(h)) return;
    DWORD ex = DWORD(GetWindowLongW(h, GWL_EXSTYLE));
    DWORD want = (f->frameFlags & 2) ? (ex | WS_EX_TOOLWINDOW) : (ex & ~DWORD(WS_EX_TOOLWINDOW));
    if (want != ex) SetWindowLongW(h, GWL_EXSTYLE, LONG(want));
}

void swmShowWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode) {
    DiXFrame* f = frameOfWindow(w);
    HWND h = ddXFrameWindow(w);
    if (!f || !h) return;
    DdXOwnChange own(d);
    syncToolWindow(f, h);
    bool wasVisible = IsWindowVisible(h) != 0;
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    if (mode == 0) {
        ShowWindow(h, SW_HIDE);
        ddSWMTaskbarShow(h, 0);
    } else if (mode == 1) {
        bool mayActivate;
        if (f->styleFlags & 0x80) {
            ShowWindow(h, SW_SHOWNOACTIVATE);
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, still);
            mayActivate = false;
        } else {
            mayActivate = !g_ddXFocusedDisplay || g_ddXFocusedDisplay == d;
            /* A restore activates: while another display holds the focus
             * the window comes back without it. The system gives a window
             * restored from the taskbar the focus even so: it goes back. */
            bool iconic = IsIconic(h) != 0;
            HWND active = GetActiveWindow();
            ShowWindow(h, iconic ? (mayActivate ? SW_RESTORE : SW_SHOWNOACTIVATE) : SW_SHOWNA);
            if (iconic && !mayActivate && active && active != h && GetActiveWindow() == h)
                SetActiveWindow(active);
        }
        bool first = !GetPropW(h, k_mappedProp);
        if (first && mayActivate) {
            /* Through the topmost band to the front of the ordinary windows,
             * without taking the activation. */
            bool keepTopmost = hasTopmost(h) || hasTopmost(GetParent(h));
            SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, still);
            ShowWindow(h, SW_SHOWNOACTIVATE);
            if (!keepTopmost) SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, still | SWP_SHOWWINDOW);
        }
        SetPropW(h, k_mappedProp, reinterpret_cast<HANDLE>(1));
        UpdateWindow(h);
    } else if (mode == 2) {
        ShowWindow(h, SW_MINIMIZE);
    }
    if (!wasVisible && IsWindowVisible(h) && !IsIconic(h)) {
        RECT wr;
        GetWindowRect(h, &wr);
        RECT client{wr.left + f->borders[0], wr.top + f->borders[2], wr.right - f->borders[1],
                    wr.bottom - f->borders[3]};
        if (HWND view = ddGDIGetWindow(f->hdr.gc))
            SetWindowPos(view, nullptr, 0, 0, client.right - client.left,
                         client.bottom - client.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        sendGeometry(f, 1, &client);
    } else if (mode == 2 && !IsWindowVisible(h)) {
        sendGeometry(f, 2, nullptr);
    }
    scheduleStackCheck(f);
}

void swmConfigureWindow(DiXDisplay* d, DiXWindow* w, int32_t x, int32_t y, int32_t width,
                        int32_t height) {
    DiXFrame* f = frameOfWindow(w);
    HWND h = ddXFrameWindow(w);
    if (!f || !h) return;
    DdXOwnChange own(d);
    /* Where the X window's origin lies on the screen, for pointer positions. */
    f->hdr.scrollX = int32_t(int64_t(x) - GetSystemMetrics(SM_XVIRTUALSCREEN) + f->borders[0]);
    f->hdr.scrollY = int32_t(int64_t(y) - GetSystemMetrics(SM_YVIRTUALSCREEN) + f->borders[2]);
    if (IsIconic(h)) {
        /* An iconic window stays iconic and comes back at the new place. */
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        if (!GetWindowPlacement(h, &wp)) return;
        wp.showCmd = SW_SHOWNA;
        wp.rcNormalPosition =
            RECT{x, y, LONG(int64_t(x) + width), LONG(int64_t(y) + height)};
        SetWindowPlacement(h, &wp);
        return;
    }
    SetWindowPos(h, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT wr;
    if (GetWindowRect(h, &wr) && wr.left == x && wr.top == y && wr.right - wr.left == width &&
        wr.bottom - wr.top == height && f->reported) {
        /* The server confirmed where the user put the window: nothing more
         * to report of this move. */
        if (f->sizeMoveTimer) {
            diTimerRemove(f->sizeMoveTimer);
            f->sizeMoveTimer = nullptr;
        }
        return;
    }
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void swmRestackWindow(DiXDisplay* d, DiXWindow* w, uint32_t mode, DiXWindow* sibling) {
    DiXFrame* f = frameOfWindow(w);
    HWND h = ddXFrameWindow(w);
    if (!f || !h) return;
    DdXOwnChange own(d);
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    switch (mode) {
    case 0:
        SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, still);
        break;
    case 1: {
        HWND s = sibling ? ddXFrameWindow(sibling) : nullptr;
        if (!s || s == h) break;
        SetWindowPos(s, h, 0, 0, 0, 0, still);
        ddSWMUpdateStyle(sibling->frame);
        break;
    }
    case 255: {
        /* A display without the focus raises its window only as high as
         * its own highest window: the application the user works in stays
         * above. */
        HWND after = g_ddXFocusedDisplay != d ? ddXFindInsertAfterWindow(d, h) : nullptr;
        if (after) {
            if (after != h) SetWindowPos(h, after, 0, 0, 0, 0, still);
            ddSWMUpdateStyle(f);
        } else {
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, still);
        }
        break;
    }
    default:
        break;
    }
}

void swmRaiseAndRedraw(DiXDisplay* d, DiXWindow* w) {
    DdXOwnChange own(d);
    if (base()->raiseAndRedraw) base()->raiseAndRedraw(d, w);
}

/* Focus events of seamless frames: which display holds the focus, and
 * whether the engine's own calls caused the change. */
int (*s_baseFrameHandler)(DiObject*, DiEvent*);

int swmFrameHandler(DiObject* obj, DiEvent* ev) {
    DiXFrame* f = reinterpret_cast<DiXFrame*>(obj);
    DiXDisplay* d = f->display;
    if (d && (ev->w[0] == 12 || ev->w[0] == 13)) {
        if (ev->w[0] == 12)
            g_ddXFocusedDisplay = d;
        else if (g_ddXFocusedDisplay == d)
            g_ddXFocusedDisplay = nullptr;
        /* A change the engine's own calls caused is an expected one. */
        if (ddXOwnChangeCount(d)) {
            if (ev->w[0] == 12)
                diXSWMExpectGain(d, f);
            else
                diXSWMExpectLoss(d, f);
        }
    }
    return s_baseFrameHandler ? s_baseFrameHandler(obj, ev) : 0;
}

DiXFrame* swmCreateFrame(DiXDisplay* d, int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                         uint32_t styleFlags) {
    DdXOwnChange own(d);
    DiXFrame* f = base()->createFrame(d, x, y, width, height, styleFlags);
    if (f) {
        s_baseFrameHandler = f->hdr.handler;
        f->hdr.handler = swmFrameHandler;
    }
    return f;
}

void swmDestroyFrame(DiXDisplay* d, DiXFrame* f) {
    DdXOwnChange own(d);
    if (HWND h = frameHwnd(f)) {
        taskbarForget(h);
        ddSWMTaskbarShow(h, 0);
        /* A frame going mid-drag takes its outline and the pointer capture
         * with it. */
        HWND cap = GetCapture();
        if (cap && GetAncestor(cap, GA_ROOT) == h) ReleaseCapture();
        RemovePropW(h, k_mappedProp);
    }
    if (s_dragFrame == f) ddSWMDestroyDragWindow();
    base()->destroyFrame(d, f);
}

void swmUpdateStyleSlot(DiXDisplay*, DiXWindow* w) {
    if (w && w->frame) ddSWMUpdateStyle(w->frame);
}

void setFocus(DiXDisplay* d, HWND h) {
    DdXOwnChange own(d);
    if (ddXTakeForeground(h)) SetFocus(h);
}

void swmFocusSlot(DiXDisplay* d, DiXWindow* w) {
    DiXFrame* f = frameOfWindow(w);
    HWND h = ddXFrameWindow(w);
    if (!f || !h) return;
    if (g_ddXFocusedDisplay && g_ddXFocusedDisplay != d) {
        DiEvent ev = {};
        ev.w[0] = 13;
        diUIDeliverEvent(&f->hdr, &ev);
        return;
    }
    setFocus(d, h);
}

/* The session's own frame (the root of a seamless session) shown: it gets
 * the focus. */
void swmSetFocusSlot(DiXDisplay* d, DiObject* obj) {
    HWND h = obj ? ddUIObjectWindow(obj) : nullptr;
    if (h) h = GetAncestor(h, GA_ROOT);
    if (h) setFocus(d, h);
}

void swmCreateDragWindowSlot(DiXDisplay*) {
    ddSWMCreateDragWindow();
}
void swmDrawDragOutlineSlot(DiXDisplay*, DiXFrame* f, const int32_t rect[4]) {
    ddSWMDrawDragOutline(f, rect);
}
void swmDestroyDragWindowSlot(DiXDisplay*) {
    ddSWMDestroyDragWindow();
}

DdXDeviceVector makeVector() {
    DdXDeviceVector v = *base();
    v.showWindow = swmShowWindow;
    v.configureWindow = swmConfigureWindow;
    v.restackWindow = swmRestackWindow;
    if (v.raiseAndRedraw) v.raiseAndRedraw = swmRaiseAndRedraw;
    v.createFrame = swmCreateFrame;
    v.destroyFrame = swmDestroyFrame;
    v.swmUpdateStyle = swmUpdateStyleSlot;
    v.swmFocus = swmFocusSlot;
    v.swmCreateDragWindow = swmCreateDragWindowSlot;
    v.swmDrawDragOutline = swmDrawDragOutlineSlot;
    v.swmDestroyDragWindow = swmDestroyDragWindowSlot;
    v.setFocus = swmSetFocusSlot;
    return v;
}

/* ---- Hooks ---- */

uint32_t (*s_baseEngineFlags)(DiObject*);

uint32_t swmEngineFlags(DiObject* engine) {
    uint32_t flags = s_baseEngineFlags ? s_baseEngineFlags(engine) : 0;
    if (engine && engine->type == DI_OBJ_XDE &&
        ddXSWMActive(reinterpret_cast<DiXDisplay*>(engine)))
        flags |= DD_XF_SEAMLESS;
    return flags;
}

HWND swmFindInsertAfter(DiObject* engine, HWND frame) {
    if (!engine || engine->type != DI_OBJ_XDE) return nullptr;
    return ddXFindInsertAfterWindow(reinterpret_cast<DiXDisplay*>(engine), frame);
}

/* What the frame window reads of a seamless frame: its display, borders,
 * size hints and icon. Filled only where no other part of the display has
 * filled the slot. */
int swmXWindowInfo(DiObject* xwindow, DdXWindowInfo* info) {
    if (!xwindow || xwindow->type != DI_OBJ_XDE) return 0;
    DiXFrame* f = reinterpret_cast<DiXFrame*>(xwindow);
    if (!f->display || &f->display->ch.hdr == xwindow) return 0;
    *info = DdXWindowInfo{};
    info->engine = &f->display->ch.hdr;
    info->borderLeft = f->borders[0];
    info->borderRight = f->borders[1];
    info->borderTop = f->borders[2];
    info->borderBottom = f->borders[3];
    info->minWidth = int32_t(f->hints[0]);
    info->minHeight = int32_t(f->hints[1]);
    info->maxWidth = int32_t(f->hints[2]);
    info->maxHeight = int32_t(f->hints[3]);
    DiXDisplay* d = f->display;
    if (f->windowId < DI_XWINDOWS && d->windows[f->windowId])
        info->icon = reinterpret_cast<DdXWindowRecord*>(d->windows[f->windowId])->icon;
    return 1;
}

void swmInitHook() {
    ddSWMInit();
}

/* Every seamless display showing a frame gets the new work areas. */
void swmSendClientInfoHook() {
    std::vector<DiXDisplay*> sent;
    for (DiFrame* fr = diUIFrameListHead(); fr; fr = fr->next) {
        DiObject* xw = reinterpret_cast<DdFrame*>(fr)->xwindow;
        if (!xw || xw->type != DI_OBJ_XDE) continue;
        DiXDisplay* d = reinterpret_cast<DiXFrame*>(xw)->display;
        if (!d || !ddXSWMActive(d)) continue;
        bool seen = false;
        for (DiXDisplay* s : sent) seen = seen || s == d;
        if (seen) continue;
        sent.push_back(d);
        ddSWMSendClientInfo(d);
    }
}

void swmSysCommandHook(DiObject* xwindow, uint32_t command, int32_t x, int32_t y) {
    if (!xwindow || xwindow->type != DI_OBJ_XDE) return;
    DiXFrame* f = reinterpret_cast<DiXFrame*>(xwindow);
    if (!f->display) return;
    SWMSysCommand(f, command, x, y);
}

} // namespace

/* ---- Own-change counter ---- */

DdXOwnChange::DdXOwnChange(DiXDisplay* d) : d_(d && ddXSWMActive(d) ? d : nullptr) {
    if (d_) ddXDev(d_)->ownChange++;
}
DdXOwnChange::~DdXOwnChange() {
    if (d_) ddXDev(d_)->ownChange--;
}
uint32_t ddXOwnChangeCount(const DiXDisplay* d) {
    return d ? reinterpret_cast<const DdXDisplay*>(d)->ownChange : 0;
}

int ddXSWMActive(const DiXDisplay* d) {
    return d && (d->sessionFlags2 & DI_XSESSION2_SEAMLESS) ? 1 : 0;
}

HWND ddXFindInsertAfterWindow(DiXDisplay* d, HWND skip) {
    if (!d) return nullptr;
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT)) {
        /* A hidden window keeps its place in the z-order but is nobody's
         * highest window: going above it could cover what the user sees. */
        if (h == skip || !IsWindowVisible(h) || !belongsTo(d, h)) continue;
        HWND above = GetWindow(h, GW_HWNDPREV);
        /* The skipped window itself lying just above: look past it. */
        if (above == skip && above) above = GetWindow(above, GW_HWNDPREV);
        return above;
    }
    return nullptr;
}

/* ---- Process-wide state ---- */

int ddSWMInit(void) {
    if (SUCCEEDED(CoInitialize(nullptr))) s_comStarted = 1;
    if (!s_taskbar) {
        void* p = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ITaskbarList, &p)) &&
            p) {
            s_taskbar = static_cast<ITaskbarList*>(p);
            if (FAILED(s_taskbar->HrInit())) {
                s_taskbar->Release();
                s_taskbar = nullptr;
            }
        }
    }
    if (!s_patternBrush) {
        static const WORD rows[8] = {0xAAAA, 0x5555, 0xAAAA, 0x5555,
                                     0xAAAA, 0x5555, 0xAAAA, 0x5555};
        s_patternBitmap = CreateBitmap(8, 8, 1, 1, rows);
        s_patternBrush = s_patternBitmap ? CreatePatternBrush(s_patternBitmap) : nullptr;
    }
    if (!s_classRegistered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = dragWindowProc;
        wc.cbWndExtra = 0;
        wc.cbClsExtra = 8;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = nullptr;
        wc.lpszClassName = k_dragClass;
        s_classRegistered = RegisterClassW(&wc) != 0;
    }
    return s_classRegistered;
}

void ddSWMTerm(void) {
    ddSWMDestroyDragWindow();
    if (s_patternBrush) DeleteObject(s_patternBrush);
    if (s_patternBitmap) DeleteObject(s_patternBitmap);
    s_patternBrush = nullptr;
    s_patternBitmap = nullptr;
    if (s_taskbar) s_taskbar->Release();
    s_taskbar = nullptr;
    /* A later start in the same process registers the class again. */
    if (s_classRegistered) UnregisterClassW(k_dragClass, GetModuleHandleW(nullptr));
    s_classRegistered = 0;
    if (s_comStarted) CoUninitialize();
    s_comStarted = 0;
}

void ddSWMSetTaskbarRecorder(void (*recorder)(HWND, int)) {
    s_taskbarRecorder = recorder;
}

void ddSWMTaskbarShow(HWND window, int show) {
    if (!window) return;
    if (s_taskbarRecorder) {
        s_taskbarRecorder(window, show);
        return;
    }
    if (!s_taskbar) return;
    if (show)
        s_taskbar->AddTab(window);
    else
        s_taskbar->DeleteTab(window);
}

void ddSWMUpdateStyle(DiXFrame* f) {
    HWND h = frameHwnd(f);
    if (!h) return;
    DdXOwnChange own(f->display);
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    DWORD style = DWORD(GetWindowLongW(h, GWL_STYLE));
    DWORD ex = DWORD(GetWindowLongW(h, GWL_EXSTYLE));
    DWORD wanted = f->styles[0], wantedEx = f->styles[1];
    if ((style ^ wanted) & k_buttonBits) {
        SetWindowLongW(h, GWL_STYLE, LONG((style & ~k_buttonBits) | (wanted & k_buttonBits)));
        /* The taskbar shows a button's menu as it was made: make it again.
         * The shell needs time to let go of the old one. */
        if (!(f->frameFlags & 2) && IsWindowVisible(h)) taskbarRecreate(h);
    }
    if ((wantedEx & WS_EX_TOPMOST) && !(ex & WS_EX_TOPMOST)) {
        SetWindowLongW(h, GWL_EXSTYLE, LONG(ex | WS_EX_TOPMOST));
        SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, still);
    } else if (!(wantedEx & WS_EX_TOPMOST) && (ex & WS_EX_TOPMOST)) {
        SetWindowLongW(h, GWL_EXSTYLE, LONG(ex & ~DWORD(WS_EX_TOPMOST)));
        SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, still);
    }
    ex = DWORD(GetWindowLongW(h, GWL_EXSTYLE));
    if ((ex ^ wantedEx) & WS_EX_APPWINDOW)
        SetWindowLongW(h, GWL_EXSTYLE,
                       LONG((ex & ~DWORD(WS_EX_APPWINDOW)) | (wantedEx & WS_EX_APPWINDOW)));
}

int ddSWMCreateDragWindow(void) {
    if (s_dragWindow) return 1;
    if (!s_classRegistered) return 0;
    /* Layered with a colour key: the background lets the screen show
     * through, so only the outline is seen. The window lies over the whole
     * virtual screen, wherever its origin is. */
    int vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    s_dragWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_LAYERED, k_dragClass, k_dragName,
                                   WS_POPUP | WS_CLIPSIBLINGS, vx, vy, vw, vh, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    if (!s_dragWindow) return 0;
    SetLayeredWindowAttributes(s_dragWindow, COLORREF(DD_SWM_KEY_COLOUR), 255, LWA_COLORKEY);
    return 1;
}

void ddSWMDestroyDragWindow(void) {
    if (s_dragWindow) DestroyWindow(s_dragWindow);
    s_dragWindow = nullptr;
    s_dragFrame = nullptr;
}

HWND ddSWMDragWindow(void) {
    return s_dragWindow;
}

void ddSWMDrawDragOutline(DiXFrame* f, const int32_t rect[4]) {
    if (!f || !f->display || (!s_dragWindow && !ddSWMCreateDragWindow())) return;
    s_dragFrame = f;
    if (!IsWindowVisible(s_dragWindow)) {
        ShowWindow(s_dragWindow, SW_SHOWNA);
        UpdateWindow(s_dragWindow);
    }
    HDC dc = GetDC(s_dragWindow);
    if (!dc) return;
    /* Screen coordinates to the window's, which starts at the virtual
     * screen's origin. */
    int32_t x = rect[0] - GetSystemMetrics(SM_XVIRTUALSCREEN);
    int32_t y = rect[1] - GetSystemMetrics(SM_YVIRTUALSCREEN);
    int32_t w = rect[2], h = rect[3];
    if (f->styles[0] & WS_THICKFRAME) {
        /* Strips as thick as the server's sizing border. */
        int32_t t = 0, v = 0;
        ddXSWMBorderSize(f->display, &t, &v);
        /* A frame lower than its two strips gets no side strips. */
        int32_t side = h - 2 * v > 0 ? h - 2 * v : 0;
        HGDIOBJ old = SelectObject(dc, s_patternBrush);
        PatBlt(dc, x, y, w, v, PATINVERT);
        PatBlt(dc, x, y + h - v, w, v, PATINVERT);
        if (side) {
            PatBlt(dc, x, y + v, t, side, PATINVERT);
            PatBlt(dc, x + w - t, y + v, t, side, PATINVERT);
        }
        SelectObject(dc, old);
    } else {
        RECT r{x, y, LONG(int64_t(x) + w), LONG(int64_t(y) + h)};
        DrawFocusRect(dc, &r);
    }
    ReleaseDC(s_dragWindow, dc);
    GdiFlush();
}

void ddSWMSendClientInfo(DiXDisplay* d) {
    if (d && ddXSWMActive(d)) diXSendClientInfo(d);
}

const DdXDeviceVector* ddXSWMDeviceVector(void) {
    static const DdXDeviceVector v = makeVector();
    return &v;
}

void ddXSWMSessionStarted(DiXDisplay* d) {
    if (d->dev != ddXDeviceVector() && d->dev != ddXSWMDeviceVector()) return;
    d->dev = ddXSWMActive(d) ? ddXSWMDeviceVector() : ddXDeviceVector();
}

void ddXSWMInstallHooks(void) {
    if (g_ddXHooks.engineFlags != swmEngineFlags) {
        s_baseEngineFlags = g_ddXHooks.engineFlags;
        g_ddXHooks.engineFlags = swmEngineFlags;
    }
    if (!g_ddXHooks.xwindowInfo) g_ddXHooks.xwindowInfo = swmXWindowInfo;
    g_ddXHooks.findInsertAfter = swmFindInsertAfter;
    g_ddXHooks.swmInit = swmInitHook;
    g_ddXHooks.swmShutdown = ddSWMTerm;
    g_ddXHooks.swmSendClientInfo = swmSendClientInfoHook;
    g_ddXHooks.swmSysCommand = swmSysCommandHook;
}

/* The server's sizing border, once it has said; the system's until then. */
void ddXSWMBorderSize(const DiXDisplay* d, int32_t* horizontal, int32_t* vertical) {
    *horizontal = d->swmMetrics[0] > 0 ? d->swmMetrics[0] : GetSystemMetrics(SM_CXSIZEFRAME);
    *vertical = d->swmMetrics[1] > 0 ? d->swmMetrics[1] : GetSystemMetrics(SM_CYSIZEFRAME);
}
