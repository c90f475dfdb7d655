// A display as the session layer makes it - a frame, its manager and the X
// display channel in a view of its own - connected to the X-AIP server on
// 127.0.0.1 at the port given, running the application's event loop.
//
// usage: xde_harness PORT [X Y]   (X, Y: where the display's view goes)
// A driver asks one line at a time on standard input; each answer is one
// line on standard output:
//   state       "state DEPTH STARTED CONNECTED" (STARTED: the X screen exists)
//   view        "view X Y WIDTH HEIGHT", the view's rectangle on the screen
//   pixel X Y   "pixel RRGGBB", the view's pixel as GDI reads it back
//   quit        "bye", and the program ends.
#include "core/ddapp.h"
#include "core/dide.h"
#include "support/peer_process.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/diui.h"
#include "xde/ddxde.h"
#include "xde_place.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int W = 160, H = 120;
DWORD g_mainThread;

DWORD WINAPI readCommands(void*) {
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        char* copy = _strdup(line);
        if (!copy || !PostThreadMessageW(g_mainThread, WM_APP, 0, LPARAM(copy))) free(copy);
    }
    PostThreadMessageW(g_mainThread, WM_APP, 0, LPARAM(_strdup("quit")));
    return 0;
}

// Answers one command; false when the harness is to end.
bool answer(DiChannel* ch, const char* line) {
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    HWND view = ddGDIGetWindow(ch->hdr.gc);
    int x = 0, y = 0;
    if (!strncmp(line, "state", 5)) {
        printf("state %u %d %d\n", d->depth, d->windows[0] != nullptr, ch->open ? 1 : 0);
    } else if (!strncmp(line, "view", 4)) {
        RECT r{};
        GetClientRect(view, &r);
        POINT o{0, 0};
        ClientToScreen(view, &o);
        printf("view %ld %ld %ld %ld\n", o.x, o.y, r.right, r.bottom);
    } else if (sscanf(line, "pixel %d %d", &x, &y) == 2) {
        HDC dc = GetDC(view);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(view, dc);
        printf("pixel %02X%02X%02X\n", GetRValue(c), GetGValue(c), GetBValue(c));
    } else if (!strncmp(line, "quit", 4)) {
        printf("bye\n");
        fflush(stdout);
        return false;
    } else {
        printf("unknown\n");
    }
    fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: xde_harness PORT [X Y]\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    const int x0 = argc >= 4 ? atoi(argv[2]) : 0, y0 = argc >= 4 ? atoi(argv[3]) : 0;
    g_mainThread = GetCurrentThreadId();
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists
    if (!hvSocketSinkInit() || ddUIInit(nullptr, GetModuleHandleW(nullptr)) != 1) return 1;
    HDC screen = GetDC(nullptr);
    g_ddApp->depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    if (!g_ddApp->colorMap) g_ddApp->colorMap = ddColorMapCreate(g_ddApp->depth, -1, -1);
    ddGDILoadCursors();

    DiFrame* frame = diUICreateFrame(3, DI_OBJ_XDE, W, H);
    DiChannel* ch = frame && frame->manager ? frame->manager->channel : nullptr;
    if (!ch) return 1;
    HWND view = ddGDIGetWindow(ch->hdr.gc);
    HWND top = GetAncestor(view, GA_ROOT);
    ShowWindow(top, SW_SHOW);
    diDEManagerActivate(frame->manager, 1);
    hvPlaceDisplayView(view, x0, y0);
    ch->open = 1;
    if (ddNetSocketOpen(ch->socket, 1, 1) != 0 ||
        diNetConnect(ch->socket, u"127.0.0.1", uint16_t(port), 0) != 0)
        return 1;
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr);
    printf("ready\n");
    fflush(stdout);

    bool running = true;
    while (running) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (!m.hwnd && m.message == WM_APP) {
                char* line = reinterpret_cast<char*>(m.lParam);
                running = answer(ch, line) && running;
                free(line);
                continue;
            }
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        diTimerDispatch(diDEClock());
        ddNetPoll();
    }
    diUIDestroyFrame(frame);
    return 0;
}
