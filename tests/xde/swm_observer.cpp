// A second local process looking at another's windows, as the shell does:
// swm_observer PID OUTPUT writes one line per top-level window of process
// PID: "visible owned tool title", the title in UTF-8.
// swm_observer top TITLE MS [active]: another application's window, shown at
// the top of the z-order for MS milliseconds (and made the foreground).
// swm_observer drive HWND ACTION [A B]: does to another process's window
// what the user or the shell would: "move" to A,B, "size" to A by B,
// "minimise", "restore" and "menu" at A,B as the taskbar asks, "close".
// swm_observer info HWND: exits with 16 plus 1 when the window has an owner
// and 2 when it is a tool window.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

DWORD g_pid;
FILE* g_out;

BOOL CALLBACK onWindow(HWND h, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != g_pid) return TRUE;
    wchar_t title[256] = L"";
    GetWindowTextW(h, title, 256);
    char utf8[1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, title, -1, utf8, sizeof utf8, nullptr, nullptr);
    LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
    fprintf(g_out, "%d %d %d %s\n", IsWindowVisible(h) ? 1 : 0,
            GetWindow(h, GW_OWNER) ? 1 : 0, (ex & WS_EX_TOOLWINDOW) ? 1 : 0, utf8);
    return TRUE;
}

int showOnTop(const char* title, DWORD ms, bool active) {
    HWND h = CreateWindowExA(0, "STATIC", title, WS_POPUP | WS_VISIBLE, 500, 400, 200, 150,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!h) return 4;
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (active) SetForegroundWindow(h);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(h);
    return 0;
}

int drive(HWND h, const char* action, int a, int b) {
    if (!IsWindow(h)) return 5;
    const UINT still = SWP_NOZORDER | SWP_NOACTIVATE;
    if (strcmp(action, "move") == 0)
        return SetWindowPos(h, nullptr, a, b, 0, 0, still | SWP_NOSIZE) ? 0 : 6;
    if (strcmp(action, "size") == 0)
        return SetWindowPos(h, nullptr, 0, 0, a, b, still | SWP_NOMOVE) ? 0 : 6;
    if (strcmp(action, "minimise") == 0) {
        ShowWindow(h, SW_MINIMIZE);
        return 0;
    }
    if (strcmp(action, "restore") == 0)
        return PostMessageW(h, WM_SYSCOMMAND, SC_RESTORE, 0) ? 0 : 6;
    if (strcmp(action, "menu") == 0)
        return PostMessageW(h, 0x0313, 0, MAKELPARAM(a, b)) ? 0 : 6;
    if (strcmp(action, "close") == 0) return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 6;
    return 2;
}

int info(HWND h) {
    if (!IsWindow(h)) return 5;
    return 16 + (GetWindow(h, GW_OWNER) ? 1 : 0) +
           ((GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) ? 2 : 0);
}

} // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "top") == 0)
        return showOnTop(argv[2], DWORD(strtoul(argv[3], nullptr, 10)),
                         argc == 5 && strcmp(argv[4], "active") == 0);
    if (argc >= 4 && strcmp(argv[1], "drive") == 0)
        return drive(reinterpret_cast<HWND>(strtoull(argv[2], nullptr, 0)), argv[3],
                     argc > 4 ? atoi(argv[4]) : 0, argc > 5 ? atoi(argv[5]) : 0);
    if (argc == 3 && strcmp(argv[1], "info") == 0)
        return info(reinterpret_cast<HWND>(strtoull(argv[2], nullptr, 0)));
    if (argc != 3) return 2;
    g_pid = DWORD(strtoul(argv[1], nullptr, 10));
    g_out = fopen(argv[2], "w");
    if (!g_out) return 3;
    EnumWindows(onWindow, 0);
    fclose(g_out);
    return 0;
}
