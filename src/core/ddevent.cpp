/* Event loop and the Windows side of the timer list. */
#include "core/ddevent.h"

#include "core/ddapp.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "session/ddso.h"

#include <stdlib.h>

int g_ddMessageBoxUp;

static UINT_PTR s_sharedTimer;
static int s_inTimerProc;

enum { DD_SHARED_TIMER_ID = 10, DD_SHARED_TIMER_MS = 100, DD_ACCELERATORS = 174 };

UINT_PTR ddTimerSharedId(void) {
    return s_sharedTimer;
}

uint32_t ddTimerNow(void) {
    return GetTickCount();
}

DiTimer* ddTimerAlloc(uint32_t) {
    DiTimer* t = static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
    if (!t) return nullptr;
    if (!s_sharedTimer) {
        /* Without a window SetTimer makes up its own id: keep what it
         * returns, not the id asked for. */
        s_sharedTimer =
            SetTimer(g_ddApp->mainWindow, DD_SHARED_TIMER_ID, DD_SHARED_TIMER_MS, ddTimerProc);
    }
    return t;
}

void ddTimerFree(DiTimer* timer) {
    if (!timer) return;
    if (timer->winTimerId) KillTimer(nullptr, timer->winTimerId);
    free(timer);
}

void CALLBACK ddTimerProc(HWND window, UINT, UINT_PTR, DWORD tick) {
    if (s_inTimerProc || g_ddMessageBoxUp) return;
    s_inTimerProc = 1;
    diTimerDispatch(tick);
    if (!diTimerHead() && s_sharedTimer) {
        KillTimer(window, s_sharedTimer);
        s_sharedTimer = 0;
    }
    s_inTimerProc = 0;
}

/* One batch: every queued message, then the timers with the time of the
 * last message. Returns 1 and sets *result when the loop is to end. */
static int ddEventPump(MSG* msg, int* result) {
    while (PeekMessageW(msg, nullptr, 0, 0, PM_REMOVE)) {
        if (ddSOIsPropertySheetMessage(msg)) continue;
        HWND dialog = g_ddApp->modelessDialog;
        if (dialog && IsDialogMessageW(dialog, msg)) continue;
        TranslateMessage(msg);
        DispatchMessageW(msg);
        if (msg->message == WM_QUIT) {
            *result = static_cast<int>(msg->wParam);
            return 1;
        }
        if (msg->message == WM_CLOSE) {
            ddSODestroy();
            *result = 0;
            return 1;
        }
    }
    /* "Now" is the time of the last message taken, not refreshed when the
     * queue was empty, so every timer of one round sees the same now. */
    diTimerDispatch(msg->time);
    ddNetPoll();
    return 0;
}

int ddEventLoop(void) {
    LoadAcceleratorsW(g_ddApp->instance, MAKEINTRESOURCEW(DD_ACCELERATORS));
    MSG msg = {};
    msg.time = GetTickCount(); /* before the first message, now is the tick count */
    for (;;) {
        /* Alertable: completions queued by worker threads run here and the
         * wait then returns WAIT_IO_COMPLETION, which is not a failure. */
        DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_ALERTABLE);
        if (r == WAIT_FAILED) return 0;
        int result = 0;
        if (ddEventPump(&msg, &result)) return result;
    }
}
