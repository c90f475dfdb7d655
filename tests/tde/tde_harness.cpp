// A terminal display as the session layer makes it - a frame, its manager
// and the terminal channel in a view of its own - connected to the T-AIP
// server on 127.0.0.1 at the port given, running the application's event
// loop (tde_display.h).
//
// usage: tde_harness PORT X Y   (X, Y: where the view goes on the screen)
// A driver asks one line at a time on standard input; each answer is one
// line on standard output:
//   state       "state EXISTS CELLW CELLH LAUNCHSTATE"
//   view        "view X Y WIDTH HEIGHT", the view's rectangle on the screen
//   pixel X Y   "pixel RRGGBB", the view's pixel as GDI reads it back
//   focus       "focus": the view's frame in front, the view has the focus
//   expose      "expose": the whole view repainted by the engine
//   quit        "bye", and the program ends.
#include "support/peer_process.h"
#include "tde/ditde.h"
#include "tde/tde_display.h"
#include "ui/ddui.h"
#include "ui/diprog.h"
#include "xde/xde_place.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int W = 640, H = 400;
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

bool answer(DiFrame* frame, DiChannel* ch, const char* line) {
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(ch);
    HWND view = ddGDIGetWindow(ch->hdr.gc);
    int x = 0, y = 0;
    if (!strncmp(line, "state", 5)) {
        DiProgress* p = reinterpret_cast<DiProgress*>(frame->manager->progress);
        printf("state %u %d %d %d\n", t->screen.exists, t->screen.cellWidth, t->screen.cellHeight,
               p ? p->state : -1);
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
    } else if (!strncmp(line, "focus", 5)) {
        SetForegroundWindow(GetAncestor(view, GA_ROOT));
        SetFocus(view);
        printf("focus\n");
    } else if (!strncmp(line, "expose", 6)) {
        RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        printf("expose\n");
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
    if (argc < 4) {
        fprintf(stderr, "usage: tde_harness PORT X Y\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    g_mainThread = GetCurrentThreadId();
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit() || ddUIInit(nullptr, GetModuleHandleW(nullptr)) != 1) return 1;
    DiFrame* frame = hvMakeTerminal(W, H, port);
    if (!frame) return 1;
    DiChannel* ch = frame->manager->channel;
    hvPlaceDisplayView(ddGDIGetWindow(ch->hdr.gc), atoi(argv[2]), atoi(argv[3]));
    CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr);
    printf("ready\n");
    fflush(stdout);

    bool running = true;
    while (running) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (!m.hwnd && m.message == WM_APP) {
                char* line = reinterpret_cast<char*>(m.lParam);
                running = answer(frame, ch, line) && running;
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
