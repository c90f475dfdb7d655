/* Event loop and the Windows side of the timer list. */
#include "core/ddevent.h"

#include "core/ddapp.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "session/ddso.h"

#include <stdlib.h>

int g_ddMessageBoxUp;

static UINT_PTR s_sharedTimer;
static HWND s_sharedWindow; /* the window it was set on, none for a thread timer */
static DWORD s_lastTick;    /* when the shared timer last ticked or was set */
static int s_inTimerProc;

enum { DD_SHARED_TIMER_ID = 10, DD_SHARED_TIMER_MS = 100, DD_ACCELERATORS = 174 };

UINT_PTR ddTimerSharedId(void) {
    return s_sharedTimer;
}

uint32_t ddTimerNow(void) {
    return GetTickCount();
}

/* On a window the shared timer keeps the id asked for; without one SetTimer
 * makes up its own id: keep what it returns. It is killed on the window it
 * was set on. */
static void ddTimerSetShared(void) {
    HWND window = g_ddApp->mainWindow;
    UINT_PTR id = SetTimer(window, DD_SHARED_TIMER_ID, DD_SHARED_TIMER_MS, ddTimerProc);
    s_sharedTimer = id && window ? UINT_PTR(DD_SHARED_TIMER_ID) : id;
    s_sharedWindow = window;
    s_lastTick = GetTickCount();
}

static void ddTimerKillShared(void) {
    if (s_sharedTimer) KillTimer(s_sharedWindow, s_sharedTimer);
    s_sharedTimer = 0;
    s_sharedWindow = nullptr;
}

DiTimer* ddTimerAlloc(uint32_t) {
    DiTimer* t = static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
    if (!t) return nullptr;
    if (!s_sharedTimer) ddTimerSetShared();
    return t;
}

void ddTimerFree(DiTimer* timer) {
    if (!timer) return;
    if (timer->winTimerId) KillTimer(nullptr, timer->winTimerId);
    free(timer);
}

void CALLBACK ddTimerProc(HWND, UINT, UINT_PTR, DWORD tick) {
    s_lastTick = GetTickCount();
    if (s_inTimerProc || g_ddMessageBoxUp) return;
    s_inTimerProc = 1;
    diTimerDispatch(tick);
    if (!diTimerHead()) ddTimerKillShared();
    s_inTimerProc = 0;
}

/* The loop waited a whole shared period with records listed and no input
 * came. A tick late by the system's timer granularity is no loss; silence
 * for two periods is: the timer is set anew, and the log says so. */
static void ddTimerCheckShared(DWORD now) {
    if (now - s_lastTick < 2 * DD_SHARED_TIMER_MS) return;
    DiChar text[160];
    diFormatPositional(text, 160,
                       u"Timers: the shared timer gave no tick for %u ms with records listed; "
                       u"the event loop ran them and set the timer anew",
                       {unsigned(now - s_lastTick)});
    diLogErrorText(text);
    ddTimerKillShared();
    ddTimerSetShared();
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
         * wait then returns WAIT_IO_COMPLETION, which is not a failure.
         *
         * Input already queued ends the wait even when a PeekMessage has seen
         * it since (closing a socket peeks for the socket's notices, maybe in
         * this round's walk): a peek takes the "new" mark of all that is
         * queued, and an expired shared timer ticks again only once its
         * WM_TIMER is taken, so the loop would sleep with records due until
         * some other input came.
         *
         * While records are listed the wait lasts at most one shared period,
         * after which the list is run with the current tick: a due record
         * waits no longer than that even when the shared timer was lost
         * (which ddTimerCheckShared then mends). */
        DWORD limit = diTimerHead() ? DWORD(DD_SHARED_TIMER_MS) : INFINITE;
        DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, limit, QS_ALLINPUT,
                                              MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        if (r == WAIT_FAILED) return 0;
        if (r == WAIT_TIMEOUT && diTimerHead()) {
            msg.time = GetTickCount();
            ddTimerCheckShared(msg.time);
        }
        int result = 0;
        if (ddEventPump(&msg, &result)) return result;
    }
}
