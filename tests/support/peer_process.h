// Starts a scripted peer of tests/peers (a Python process on the host) from a
// Wine test program and learns the port it listens on.
#pragma once

#include <windows.h>

#include "core/ddapp.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"

#include <stdio.h>
#include <string>

// The peer process: started with a scenario, it reports its port through a
// file and ends by itself.
struct Peer {
    PROCESS_INFORMATION pi{};
    int port = 0;
    std::string portFile;

    // The port file lives in the host's /tmp, which every Wine prefix on
    // the machine shares, while process ids are numbered per wineserver:
    // two test runs of different prefixes hand out the same ids at the same
    // time, so a name made of the process id alone let one run read the
    // other's port and connect to the wrong peer. The name is reserved by
    // creating the file exclusively; the peer replaces it with its port.
    bool reservePortFile() {
        static unsigned serial;
        for (int attempt = 0; attempt < 100; attempt++) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            char name[128];
            snprintf(name, sizeof name, "/tmp/hv_aip_port_%lu_%u_%08lx%08lx", GetCurrentProcessId(),
                     serial++, static_cast<unsigned long>(now.HighPart),
                     static_cast<unsigned long>(now.LowPart));
            HANDLE h = CreateFileA(("Z:" + std::string(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
                portFile = name;
                return true;
            }
            DWORD e = GetLastError();
            if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) return false;
        }
        return false;
    }

    // script: a file of tests/peers followed by its arguments.
    bool start(const std::string& script, const std::string& extra = " --lifetime 60") {
        if (portFile.empty() && !reservePortFile()) return false;
        return launch(script + extra + " --port-file " + portFile);
    }

    // The other calling form: tests/peers/<script> with its lifetime (0: the
    // peer's own) and the port file before the scenario's own arguments (some
    // scenarios hand everything after their name to another program).
    bool start(const char* script, const std::string& args, int lifetime = 0) {
        if (portFile.empty() && !reservePortFile()) return false;
        std::string life = lifetime > 0 ? " --lifetime " + std::to_string(lifetime) : "";
        return launch(std::string(script) + life + " --port-file " + portFile + " " + args);
    }

    bool launch(const std::string& scriptAndArgs) {
        std::string cmd = "/usr/bin/python3 " HV_PEERS_DIR "/" + scriptAndArgs;
        std::wstring wcmd(cmd.begin(), cmd.end());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return false;
        std::string winPath = "Z:" + portFile;
        for (int i = 0; i < 1500 && port == 0; i++) {
            FILE* f = fopen(winPath.c_str(), "r");
            if (f) {
                if (fscanf(f, "%d", &port) != 1) port = 0;
                fclose(f);
            }
            if (!port) Sleep(10);
        }
        return port != 0;
    }
    // Deleting the port file first tells a peer that watches it to stop what
    // it started (proxies, servers); the others end by their lifetime.
    ~Peer() {
        if (!portFile.empty()) DeleteFileA(("Z:" + portFile).c_str());
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0)
                TerminateProcess(pi.hProcess, 1);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

// A hidden window that receives the socket messages, as the client's main
// window does; made once per test program.
inline LRESULT CALLBACK hvSocketSinkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == g_ddApp->winsockMessage && msg != 0) {
        ddNetHandleSocketMessage(wp, lp);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

inline bool hvSocketSinkInit() {
    if (ddNetInit() != 0) return false;
    WNDCLASSW wc{};
    wc.lpfnWndProc = hvSocketSinkProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvChanSocketSink";
    RegisterClassW(&wc);
    g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
    g_ddApp->mainWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr);
    return g_ddApp->mainWindow != nullptr;
}

// Runs the application thread's loop until done() holds (or a generous
// guard passes, so that a broken build fails instead of hanging).
template <class F> void hvPumpUntil(F done, DWORD guardMs = 60000) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < guardMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        diTimerDispatch(diDEClock());
        ddNetPoll();
    }
}
