#include <gtest/gtest.h>

#include "core/ddthread.h"

namespace {

struct Handoff {
    HANDLE gui;
    DWORD completionThread = 0;
    volatile LONG completions = 0;
};

void CALLBACK completion(ULONG_PTR arg) {
    Handoff* h = reinterpret_cast<Handoff*>(arg);
    h->completionThread = GetCurrentThreadId();
    InterlockedIncrement(&h->completions);
}

// Hands a completion back to the GUI thread through its real handle, as the
// device workers do.
uintptr_t worker(uintptr_t arg) {
    Handoff* h = reinterpret_cast<Handoff*>(arg);
    return QueueUserAPC(completion, h->gui, arg) ? 7 : 1;
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

TEST(Thread, FailuresAreReportedAsValues) {
    EXPECT_EQ(nullptr, ddThreadCreate(nullptr, 0));
    ddThreadCloseHandle(nullptr);
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

// The address space the calling thread's stack reserves.
uintptr_t stackReserve(uintptr_t) {
    MEMORY_BASIC_INFORMATION m = {};
    VirtualQuery(&m, &m, sizeof m);
    char *base = static_cast<char*>(m.AllocationBase), *at = base;
    while (VirtualQuery(at, &m, sizeof m) && m.AllocationBase == base)
        at += m.RegionSize;
    return uintptr_t(at - base);
}

// Less than the program's 2 MiB; Wine never reserves less than 1 MiB.
TEST(Thread, StackReservesWhatItWasGiven) {
    HANDLE t = ddThreadCreate(stackReserve, 0, 256 * 1024);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
    DWORD got = 0;
    GetExitCodeThread(t, &got);
    EXPECT_GE(got, 256u * 1024);
    EXPECT_LE(got, 1024u * 1024);
    ddThreadCloseHandle(t);
}

} // namespace
