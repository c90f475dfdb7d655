// The least a Win32 program does before its first window is up: register a
// class, create and show one window, run the message loop until WM_CLOSE.
// Built twice: plain, and (HV_IMPORT_CLIENT_DLLS) importing the same system
// libraries as the client without ever calling them, so that the loader's
// share of the client's start-up can be told from the client's own.
#include <windows.h>

#ifdef HV_IMPORT_CLIENT_DLLS
#include <commctrl.h>
#include <imm.h>
#include <mmsystem.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <winsock2.h>
#include <winspool.h>

/* One function of each library the client imports. The caller's condition
 * never holds at run time, but the compiler cannot know it, so every
 * library stays in the import table. */
static void importEach() {
    CoInitialize(nullptr);
    DragAcceptFiles(nullptr, FALSE);
    ClosePrinter(nullptr);
    CertCloseStore(nullptr, 0);
    timeGetTime();
    InitCommonControls();
    WSACleanup();
    ImmGetContext(nullptr);
    RegCloseKey(nullptr);
    GetStockObject(0);
}
#endif

static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
#ifdef HV_IMPORT_CLIENT_DLLS
    if (cmdLine[0] == '\x01') importEach();
#else
    (void)cmdLine;
#endif
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"HvBenchEmptyWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
