// A second local process looking at another's windows, as the shell does:
// swm_observer PID OUTPUT writes one line per top-level window of process
// PID: "visible owned tool title", the title in UTF-8.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    g_pid = DWORD(strtoul(argv[1], nullptr, 10));
    g_out = fopen(argv[2], "w");
    if (!g_out) return 3;
    EnumWindows(onWindow, 0);
    fclose(g_out);
    return 0;
}
