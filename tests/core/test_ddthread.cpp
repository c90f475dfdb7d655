#include <gtest/gtest.h>

#include "core/ddthread.h"

namespace {

struct Handoff {
    HANDLE gui;
    DWORD completionThread = 0;
    volatile LONG completions = 0;
};

uintptr_t completion(uintptr_t arg) {
    Handoff* h = reinterpret_cast<Handoff*>(arg);
    h->completionThread = GetCurrentThreadId();
    InterlockedIncrement(&h->completions);
    return 0;
}

uintptr_t worker(uintptr_t arg) {
    Handoff* h = reinterpret_cast<Handoff*>(arg);
    return ddThreadQueueCall(h->gui, completion, arg) ? 7 : 1;
}

/* Waits alertably, as the event loop does, until a completion has run. */
bool pumpUntil(volatile LONG* counter, LONG want) {
    for (int i = 0; i < 50 && *counter < want; i++) {
        DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_ALERTABLE);
        if (r == WAIT_FAILED) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    return *counter >= want;
}

TEST(Thread, WorkerCompletionRunsOnTheGuiThreadInsideAnAlertableWait) {
    Handoff h;
    h.gui = ddThreadCurrentHandle();
    ASSERT_NE(GetCurrentThread(), h.gui);
    HANDLE t = ddThreadCreate(worker, reinterpret_cast<uintptr_t>(&h));
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(7u, code);
    ddThreadCloseHandle(t);
    // The call is queued but a non-alertable wait does not run it.
    EXPECT_EQ(0, h.completions);
    DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, 5000, QS_ALLINPUT, MWMO_ALERTABLE);
    EXPECT_EQ(static_cast<DWORD>(WAIT_IO_COMPLETION), r);
    EXPECT_TRUE(pumpUntil(&h.completions, 1));
    EXPECT_EQ(GetCurrentThreadId(), h.completionThread);
    ddThreadCloseHandle(h.gui);
}

struct Sleeper {
    HANDLE started;
    HANDLE go;
    volatile LONG ran = 0;
};

uintptr_t markRan(uintptr_t arg) {
    InterlockedIncrement(&reinterpret_cast<Sleeper*>(arg)->ran);
    return 0;
}

uintptr_t waitNonAlertably(uintptr_t arg) {
    SetEvent(reinterpret_cast<Sleeper*>(arg)->started);
    WaitForSingleObject(reinterpret_cast<Sleeper*>(arg)->go, INFINITE);
    return 0;
}

TEST(Thread, QueuedCallToAThreadThatNeverWaitsAlertablyNeverRuns) {
    Sleeper s;
    s.started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE t = ddThreadCreate(waitNonAlertably, reinterpret_cast<uintptr_t>(&s));
    ASSERT_NE(nullptr, t);
    // A thread runs the calls queued before it started; queue after that.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(s.started, 10000));
    EXPECT_EQ(1, ddThreadQueueCall(t, markRan, reinterpret_cast<uintptr_t>(&s)));
    SetEvent(s.go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
    EXPECT_EQ(0, s.ran);
    ddThreadCloseHandle(t);
    CloseHandle(s.go);
    CloseHandle(s.started);
}

TEST(Thread, FailuresAreReportedAsValues) {
    EXPECT_EQ(0, ddThreadQueueCall(nullptr, markRan, 0));
    EXPECT_EQ(0, ddThreadQueueCall(INVALID_HANDLE_VALUE, markRan, 0));
    HANDLE self = ddThreadCurrentHandle();
    EXPECT_EQ(0, ddThreadQueueCall(self, nullptr, 0));
    EXPECT_EQ(nullptr, ddThreadCreate(nullptr, 0));
    ddThreadCloseHandle(self);
}

uintptr_t identify(uintptr_t arg) {
    return GetThreadId(reinterpret_cast<HANDLE>(arg));
}

TEST(Thread, CurrentHandleIsARealHandleOtherThreadsCanUse) {
    HANDLE self = ddThreadCurrentHandle();
    HANDLE t = ddThreadCreate(identify, reinterpret_cast<uintptr_t>(self));
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(GetCurrentThreadId(), code);
    ddThreadCloseHandle(t);
    ddThreadCloseHandle(self);
}

} // namespace
