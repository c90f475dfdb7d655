// The event loop on the GUI thread: timers run from it and from the shared
// Windows timer, worker completions run inside its wait, a message box holds
// the timers, and WM_CLOSE and WM_QUIT end it.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/ddevent.h"
#include "core/dilog.h"
#include "net/ddnet.h"
#include "core/ddmessage.h"
#include "core/ddthread.h"
#include "core/ditimer.h"
#include "session/ddso.h"

#include <string>
#include <vector>

namespace {

class EventLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        g_ddApp->instance = GetModuleHandleW(nullptr);
        g_ddApp->mainWindow = nullptr;
        g_ddApp->modelessDialog = nullptr;
        settle();
    }
    void TearDown() override { settle(); }

    // Each row starts from what a fresh process has: no timers in the list
    // and no shared Windows timer (one tied to a window an earlier row
    // destroyed would never tick), no completions waiting, and an empty
    // queue (a WM_QUIT or WM_CLOSE left behind would end the next loop, and
    // an old message's time would be its "now").
    static void settle() {
        while (DiTimer* t = diTimerHead())
            diTimerRemove(t);
        if (UINT_PTR id = ddTimerSharedId())
            ddTimerProc(nullptr, WM_TIMER, id, GetTickCount()); // the list is empty: it stops
        while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

struct Counter {
    int runs = 0;
    std::vector<uint32_t> results;
    DiTimer* removes = nullptr;
    int quitAt = -1;
    int quitCode = 0;
};

uint32_t countingTimer(void* arg) {
    Counter* c = static_cast<Counter*>(arg);
    int run = c->runs++;
    if (c->removes) {
        diTimerRemove(c->removes);
        c->removes = nullptr;
    }
    if (run == c->quitAt) PostQuitMessage(c->quitCode);
    return static_cast<size_t>(run) < c->results.size() ? c->results[run] : 0;
}

TEST_F(EventLoop, TimersRunRearmAndEndFromTheLoop) {
    Counter rearming, victim, remover, quitter;
    rearming.results = {1, 1, 0}; // three runs, then ends
    quitter.results = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    quitter.quitAt = 8;
    quitter.quitCode = 7;
    diTimerAdd(0, countingTimer, &rearming);
    remover.removes = diTimerAdd(60000, countingTimer, &victim);
    diTimerAdd(0, countingTimer, &remover);
    diTimerAdd(0, countingTimer, &quitter);
    EXPECT_NE(ddTimerSharedId(), 0u);
    EXPECT_EQ(ddEventLoop(), 7);
    EXPECT_EQ(rearming.runs, 3);
    EXPECT_EQ(remover.runs, 1);
    EXPECT_EQ(victim.runs, 0);
    EXPECT_EQ(quitter.runs, 9);
}

TEST_F(EventLoop, SharedTimerStopsWhenTheListIsEmptyAndRestarts) {
    Counter once;
    diTimerAdd(0, countingTimer, &once);
    UINT_PTR id = ddTimerSharedId();
    ASSERT_NE(id, 0u);
    ddTimerProc(nullptr, WM_TIMER, id, GetTickCount()); // runs it; the list empties
    EXPECT_EQ(once.runs, 1);
    EXPECT_EQ(diTimerHead(), nullptr);
    EXPECT_EQ(ddTimerSharedId(), 0u);
    DiTimer* again = diTimerAdd(1000, countingTimer, &once);
    EXPECT_NE(ddTimerSharedId(), 0u);
    diTimerRemove(again);
}

HANDLE g_guiThread;

void CALLBACK quitOnGuiThread(ULONG_PTR code) {
    PostQuitMessage(static_cast<int>(code));
}

uintptr_t worker(uintptr_t) {
    // A completion handed back to the GUI thread, as device workers do.
    return QueueUserAPC(quitOnGuiThread, g_guiThread, 5) ? 0 : 1;
}

TEST_F(EventLoop, WorkerCompletionRunsInsideTheWait) {
    g_guiThread = ddThreadCurrentHandle();
    HANDLE t = ddThreadCreate(worker, 0);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE); // queued before the loop waits
    DWORD queued = 1;
    GetExitCodeThread(t, &queued);
    ddThreadCloseHandle(t);
    ASSERT_EQ(queued, 0u);
    // The wait returns WAIT_IO_COMPLETION after the call: the loop goes on
    // and finds the WM_QUIT the completion posted.
    EXPECT_EQ(ddEventLoop(), 5);
    ddThreadCloseHandle(g_guiThread);
}

TEST_F(EventLoop, WmCloseEndsTheSessionWithZero) {
    g_ddApp->opt.startImmediately = 0;
    ASSERT_EQ(ddNetInit(), 0); // the outpost opens its listener, as after start-up
    ASSERT_EQ(ddSOCreate(), 1);
    ASSERT_TRUE(ddSOExists());
    PostThreadMessageW(GetCurrentThreadId(), WM_CLOSE, 0, 0);
    EXPECT_EQ(ddEventLoop(), 0);
    EXPECT_FALSE(ddSOExists());
}

// A row that goes wrong ends with 99 from a watch thread instead of hanging.
HANDLE g_stopWatch;
DWORD g_loopThread;

uintptr_t quitLate(uintptr_t) {
    if (WaitForSingleObject(g_stopWatch, 3000) == WAIT_TIMEOUT)
        PostThreadMessageW(g_loopThread, WM_QUIT, 99, 0);
    return 0;
}

struct Stall {
    const char* name;
    void (*inWalk)(); // what the loop's own walk does before it arms the last record
    uint32_t lastMs;  // when the last record is due
    bool logged;      // the loop had to set the shared timer anew
} const* g_stall;

uint32_t quitNow(void*) {
    PostQuitMessage(3);
    return 0;
}

uint32_t stallingTimer(void*) {
    g_ddMessageBoxUp = 0;
    g_stall->inWalk();
    // Not due in this walk: a later round or tick runs it.
    diTimerAdd(g_stall->lastMs, quitNow, nullptr);
    return 0;
}

TEST_F(EventLoop, ARecordDueWhileTheLoopWaitsRunsWithinAPeriod) {
    const Stall rows[] = {
        // Closing a socket peeks for its notices; a peek takes the "new" mark
        // of every input queued, the expired shared timer's too, and that
        // timer ticks again only once its WM_TIMER is taken.
        {"a peek in the loop's walk after the shared timer expired",
         [] {
             Sleep(250);
             MSG m;
             PeekMessageW(&m, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE);
         },
         10, false},
        // Silent for more than two periods: set anew, and said.
        {"the shared timer lost behind the list's back",
         [] { KillTimer(nullptr, ddTimerSharedId()); }, 500, true},
    };
    for (const Stall& row : rows) {
        SCOPED_TRACE(row.name);
        CLog log;
        diLogSet(&log);
        g_stall = &row;
        // The box flag keeps the shared timer off the list, so that the first
        // record runs in the loop's own walk, after the queue was emptied.
        g_ddMessageBoxUp = 1;
        diTimerAdd(0, stallingTimer, nullptr);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0); // the loop's first round
        g_loopThread = GetCurrentThreadId();
        g_stopWatch = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE watch = ddThreadCreate(quitLate, 0);
        ASSERT_NE(watch, nullptr);
        EXPECT_EQ(ddEventLoop(), 3);
        SetEvent(g_stopWatch);
        WaitForSingleObject(watch, INFINITE);
        ddThreadCloseHandle(watch);
        CloseHandle(g_stopWatch);
        g_ddMessageBoxUp = 0;
        diLogSet(nullptr);
        EXPECT_EQ(log.GetCount() > 0, row.logged);
        settle();
    }
}

struct BoxWatch {
    Counter* held = nullptr;
    int ticks = 0;
    int heldRunsWhileUp = -1;
    bool closed = false;
} g_watch;

BOOL CALLBACK closeBox(HWND hwnd, LPARAM) {
    wchar_t cls[16];
    GetClassNameW(hwnd, cls, 16);
    if (wcscmp(cls, L"#32770") == 0) {
        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
        g_watch.closed = true;
    }
    return TRUE;
}

void CALLBACK watchTick(HWND, UINT, UINT_PTR id, DWORD) {
    // Runs inside the message box's own loop, beside the shared timer.
    if (++g_watch.ticks < 5 || g_watch.closed) return;
    g_watch.heldRunsWhileUp = g_watch.held->runs;
    EnumThreadWindows(GetCurrentThreadId(), closeBox, 0);
    if (g_watch.closed) KillTimer(nullptr, id);
}

TEST_F(EventLoop, NoTimerRunsWhileAMessageBoxIsUp) {
    Counter held;
    held.quitAt = 0;
    held.quitCode = 3;
    g_watch = BoxWatch{}; // a repeat starts from no ticks and no box closed
    g_watch.held = &held;
    diTimerAdd(0, countingTimer, &held); // due at once
    UINT_PTR watch = SetTimer(nullptr, 0, 100, watchTick);
    ASSERT_NE(watch, 0u);
    ddMessageBox(nullptr, L"timers are held", L"hvtest");
    EXPECT_TRUE(g_watch.closed);
    EXPECT_EQ(g_watch.heldRunsWhileUp, 0);
    EXPECT_EQ(g_ddMessageBoxUp, 0);
    // After the box the timer runs at the first round.
    EXPECT_EQ(ddEventLoop(), 3);
    EXPECT_EQ(held.runs, 1);
}

} // namespace
