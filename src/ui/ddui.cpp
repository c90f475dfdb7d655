/* Window classes and the main frame window, as far as start-up, the event
 * loop and the outpost messages need them. */
#include "ui/ddui.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "net/ddnet.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "session/ddso.h"

#include <stdlib.h>

static const wchar_t k_frameClass[] = L"QVLFrameClass";
static const wchar_t k_frameXClass[] = L"QVLFrameXClass";
static const wchar_t k_viewClass[] = L"QVLViewClass";

enum { DD_ICON_DEFAULT = 103, DD_MENU_MAIN = 101, DD_STR_TITLE = 1 };

static HICON s_defaultIcon;
/* Set while 0x8003 is handled: a nested loop may deliver 0x8004 then, which
 * is dropped so that the window is not destroyed under the outpost start. */
static int s_outpostStarting;

void ddUILoadSettings(void) {
    g_ddApp->opt.socksRoute = nullptr;
    g_ddApp->opt.httpProxyRoute = nullptr;
    diAppLoadSettings(g_ddApp);
}

void ddUISaveSettings(int saveAll) {
    if (saveAll) diAppSaveSettings(g_ddApp);
}

int ddUIInit(HINSTANCE alreadyRegistered, HINSTANCE instance) {
    s_defaultIcon = LoadIconW(instance, MAKEINTRESOURCEW(DD_ICON_DEFAULT));
    if (alreadyRegistered) return 1;
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
    return 1;
}

void ddUIShutdown(void) {
    ddDlgConsoleDestroy();
    ddUISaveSettings(1);
    HINSTANCE instance = g_ddApp->instance;
    UnregisterClassW(k_viewClass, instance);
    UnregisterClassW(k_frameXClass, instance);
    UnregisterClassW(k_frameClass, instance);
}

int ddUICreateFrameWindow(DdFrame* frame, uint32_t mode) {
    wchar_t title[256] = L"";
    HWND owner = nullptr;
    if (mode == 1) {
        if (LoadStringW(g_ddApp->instance, DD_STR_TITLE, title, 256) <= 0) title[0] = 0;
    } else if (mode == 3 && g_ddApp->mainWindow) {
        owner = GetLastActivePopup(g_ddApp->mainWindow);
    }
    HMENU menu = mode == 1 ? LoadMenuW(g_ddApp->instance, MAKEINTRESOURCEW(DD_MENU_MAIN)) : nullptr;
    HWND hwnd = CreateWindowExW(0, k_frameClass, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                                menu, g_ddApp->instance, nullptr);
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
    frame->base.hdr.gc = gc;
    frame->base.mode = mode;
    if (ddUICreateFrameWindow(frame, mode) != 0) {
        free(frame);
        return nullptr;
    }
    /* The frame's context draws into its window; views are made in it. */
    if (gc) ddGDIAttach(gc, frame->window, nullptr);
    if (mode == 1) g_ddApp->mainWindow = frame->window;
    return &frame->base;
}

void ddUIFrameFree(DiFrame* base) {
    if (!base) return;
    DdFrame* frame = reinterpret_cast<DdFrame*>(base);
    if (frame->base.hdr.gc) ddGDIDetach(frame->base.hdr.gc);
    HWND hwnd = frame->window;
    frame->window = nullptr;
    /* The window's menu goes with the window. */
    if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    if (frame->iconLarge) DestroyIcon(frame->iconLarge);
    if (frame->iconSmall) DestroyIcon(frame->iconSmall);
    diUIObjectFreeTitle(&frame->base.hdr);
    free(frame);
}

LRESULT CALLBACK ddUIFrameWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == g_ddApp->winsockMessage && msg != 0) {
        ddNetHandleSocketMessage(wp, lp);
        return 0;
    }
    switch (msg) {
    case WM_CREATE:
        return 0;
    case DD_MSG_OUTPOST_CREATE:
        s_outpostStarting = 1;
        if (!ddSOCreate()) diSOUIExit();
        s_outpostStarting = 0;
        return 0;
    case DD_MSG_OUTPOST_END:
        if (!s_outpostStarting) {
            ddSODestroy();
            if (g_ddApp->mainWindow) DestroyWindow(g_ddApp->mainWindow);
        }
        return 0;
    case DD_MSG_OUTPOST_START:
        ddSOOnStartRequest();
        return 0;
    case WM_CLOSE:
        /* The main window closed from outside (a sent WM_CLOSE never reaches
         * the event loop): end the session as the loop would. */
        if (hwnd == g_ddApp->mainWindow) {
            ddSODestroy();
            DestroyWindow(hwnd);
            return 0;
        }
        break;
    case WM_DESTROY:
        if (hwnd == g_ddApp->mainWindow) {
            PostQuitMessage(0);
            g_ddApp->mainWindow = nullptr;
            return 0;
        }
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ddUIFrameXWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ddUIViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(hwnd, msg, wp, lp);
}
