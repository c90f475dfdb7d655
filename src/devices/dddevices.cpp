/* Start-up probes, the optional smart-card library and the clipboard
 * owner-window thread. */
#include "devices/dddevices.h"

#include "core/ddsetting.h"
#include "core/ddthread.h"
#include "core/ddtrace.h"
#include "devices/ddclip.h"
#include "devices/ddprint.h"

#include <mmsystem.h>
#include <winspool.h>

#include <string>

bool ddPrintCheckDefault(void) {
    std::u16string name = ddPrintDefaultName();
    HANDLE h = nullptr;
    bool none = name == kDiPrintNoDefault;
    if (none || OpenPrinterW(const_cast<wchar_t*>(ddW(name.c_str())), &h, nullptr)) {
        ddTraceLogWrite((u"Default printer: " + name + u"\r\n").c_str());
    } else {
        ddTraceLogPrintf(207, {});
    }
    if (h) ClosePrinter(h);
    /* A default that exists but does not open still counts: printing to it
     * fails job by job, which tells the user more than no printing at all. */
    return !none;
}

bool ddAudioPresent(void) {
    return waveOutGetNumDevs() > 0;
}

bool ddCDMPresent(void) {
    return GetLogicalDrives() != 0;
}

/* Clipboard thread. The owner window belongs to the thread that created
 * it, so only that thread can destroy it: ddClipStop asks it to. */
static HANDLE s_clipThread;
static HANDLE s_clipEvent; /* signalled when the thread runs */
static HWND s_clipWindow;
static DWORD s_clipTimeout = 20000;
static const UINT k_clipStopMessage = WM_APP + 1;

HWND ddClipOwnerWindow(void) {
    return s_clipWindow;
}
DWORD ddClipTimeout(void) {
    return s_clipTimeout;
}

static LRESULT CALLBACK ddClipWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case k_clipStopMessage:
        DestroyWindow(hwnd);
        return 0;
    case WM_RENDERFORMAT:
        ddClipRender(UINT(wp));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

static uintptr_t ddClipThreadMain(uintptr_t) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ddClipWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"QVLClipboardWin";
    RegisterClassW(&wc); /* fails harmlessly when a previous thread registered it */
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"QVLClipboard", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, wc.hInstance, nullptr);
    s_clipWindow = hwnd;
    SetEvent(s_clipEvent);
    if (!hwnd) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

bool ddClipStart(void) {
    if (s_clipThread) return s_clipWindow != nullptr;
    int seconds = ddSettingGetInt(L"ClipboardTimeout", 20);
    s_clipTimeout = seconds <= 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000u;
    s_clipEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!s_clipEvent) return false;
    s_clipThread = ddThreadCreate(ddClipThreadMain, 0);
    if (!s_clipThread) {
        CloseHandle(s_clipEvent);
        s_clipEvent = nullptr;
        return false;
    }
    WaitForSingleObject(s_clipEvent, INFINITE);
    return s_clipWindow != nullptr;
}

void ddClipStop(void) {
    if (!s_clipThread) return;
    ddClipBridgeStop(); /* releases a render still waiting */
    if (s_clipWindow) PostMessageW(s_clipWindow, k_clipStopMessage, 0, 0);
    WaitForSingleObject(s_clipThread, INFINITE);
    ddThreadCloseHandle(s_clipThread);
    s_clipThread = nullptr;
    if (s_clipEvent) CloseHandle(s_clipEvent);
    s_clipEvent = nullptr;
    s_clipWindow = nullptr;
}

bool ddClipSetBitmap(HBITMAP bitmap, HPALETTE palette) {
    if (!bitmap || !OpenClipboard(ddClipOwnerWindow())) return false;
    bool ok = EmptyClipboard() && SetClipboardData(CF_BITMAP, bitmap);
    /* The palette goes only with the bitmap: once the bitmap is the
     * clipboard's, a palette it refuses is the caller's again. */
    if (ok && palette && !SetClipboardData(CF_PALETTE, palette)) DeleteObject(palette);
    CloseClipboard();
    return ok;
}
