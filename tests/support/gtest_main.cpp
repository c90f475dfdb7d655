// Entry point of every test program.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

namespace {

// On Windows the test framework starts a helper thread the first time a
// thread uses its per-thread state (SCOPED_TRACE, a failure). A process
// that ends while such a thread is still attaching dies under Wine with a
// segmentation fault after its tests passed, and a short test program can
// end within a few milliseconds. So the helper is started here and the
// program waits until its attach is over.
HANDLE g_threadAttached;

void NTAPI onThreadAttach(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH && g_threadAttached) SetEvent(g_threadAttached);
}

} // namespace

// Run by the loader for every thread of the program, inside its attach.
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK hvOnThreadAttach =
    onThreadAttach;

static void startTheFrameworksThread() {
    g_threadAttached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    { SCOPED_TRACE("start"); }
    // The attach runs under the loader lock, which loading a module takes
    // too: once the new thread has signalled from inside its attach, the
    // load returns only after that attach has ended.
    if (g_threadAttached && WaitForSingleObject(g_threadAttached, 10000) == WAIT_OBJECT_0)
        FreeLibrary(LoadLibraryW(L"kernel32.dll"));
}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
    startTheFrameworksThread();
#endif
    return RUN_ALL_TESTS();
}
