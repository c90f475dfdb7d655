// A helper process of the tests (a Python peer, or a proxy started by
// tests/peers/proxy_launcher.py): started with its arguments, it reports its
// port through a file and ends when the file is deleted (or its lifetime runs
// out). Windows programs under Wine start the host's programs directly.
#ifndef HV_TESTS_PEER_PROCESS_H
#define HV_TESTS_PEER_PROCESS_H

#include <windows.h>

#include <stdio.h>
#include <string>

struct PeerProcess {
    PROCESS_INFORMATION pi{};
    int port = 0;
    std::string portFile;

    // The port file lives in the host's /tmp, shared by every Wine prefix:
    // its name is reserved by creating it exclusively.
    bool reservePortFile() {
        static unsigned serial;
        for (int attempt = 0; attempt < 100; attempt++) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            char name[128];
            snprintf(name, sizeof name, "/tmp/hv_route_port_%lu_%u_%08lx%08lx",
                     GetCurrentProcessId(), serial++, static_cast<unsigned long>(now.HighPart),
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

    // script: a file of tests/peers; args: its arguments.
    bool start(const std::string& script, const std::string& args) {
        if (!reservePortFile()) return false;
        // The reserved (empty) file must not be taken for the report.
        DeleteFileA(("Z:" + portFile).c_str());
        std::string cmd = "/usr/bin/python3 " HV_PEERS_DIR "/" + script + " " + args +
                          " --port-file " + portFile;
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

    // Deleting the port file tells the peer to stop what it started.
    ~PeerProcess() {
        if (!portFile.empty()) DeleteFileA(("Z:" + portFile).c_str());
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
                TerminateProcess(pi.hProcess, 1);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

#endif
