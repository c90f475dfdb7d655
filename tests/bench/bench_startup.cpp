// Start-up: how long after CreateProcess the first window is up and
// answering messages, for the client against a program that only shows one
// window (the anchor), and for that program importing the client's system
// libraries. Runs the programs in turn, 20 rounds, and compares medians:
// the rates are starts per second, so a ratio of 0.8 means 1.25x the
// anchor's time.
#include "bench/bench_ratio.h"

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Program {
    const char* path; // the build tree's path on the host
    const wchar_t* args;
    const wchar_t* windowClass;
    std::vector<double> ms;
};

struct Search {
    DWORD pid;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK findWindow(HWND hwnd, LPARAM lp) {
    Search* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64];
    if (pid == s->pid && GetClassNameW(hwnd, cls, 64) && wcscmp(cls, s->windowClass) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

double now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(f.QuadPart);
}

/* Milliseconds until the program's window exists and its thread answers a
 * sent message, or a negative value when it never did. The program is
 * closed through its window and waited for, so that the next start finds
 * no instance of it running. */
double startOnce(const Program& p) {
    std::string host = p.path;
    std::wstring cmd = L"\"Z:" + std::wstring(host.begin(), host.end()) + L"\" " + p.args;
    std::replace(cmd.begin(), cmd.end(), L'/', L'\\');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    double t0 = now();
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    Search s = {pi.dwProcessId, p.windowClass, nullptr};
    double result = -1;
    while (now() - t0 < 30000) {
        EnumWindows(findWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found) {
            DWORD_PTR r;
            if (SendMessageTimeoutW(s.found, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &r))
                result = now() - t0;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (s.found) PostMessageW(s.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    Program empty = {HV_EMPTY_EXE, L"", L"HvBenchEmptyWindow", {}};
    Program imports = {HV_IMPORTS_EXE, L"", L"HvBenchEmptyWindow", {}};
    Program client = {HV_APP_EXE, L"-nostartimmediate", L"QVLFrameClass", {}};
    Program* all[] = {&empty, &imports, &client};
    for (Program* p : all) // once each unmeasured: the files into the cache
        startOnce(*p);
    for (int round = 0; round < 20; round++) {
        for (Program* p : all) {
            double ms = startOnce(*p);
            if (ms < 0) {
                printf("%s: no window\n", p->path);
                return 1;
            }
            p->ms.push_back(ms);
        }
    }
    for (Program* p : all)
        printf("%-60s median %.1f ms\n", p->path, median(p->ms));
    double e = median(empty.ms);
    hvBenchRatio("start-up, client's DLLs (imports-only/empty)", 1000 / median(imports.ms),
                 1000 / e, "starts/s");
    hvBenchRatio("start-up, first window (client/empty program)", 1000 / median(client.ms),
                 1000 / e, "starts/s");
    return 0;
}
