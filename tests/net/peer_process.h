// A peer process of tests/peers/ for Windows tests: started with a scenario,
// it reports its port through a file and ends by itself.
#ifndef HV_TESTS_PEER_PROCESS_H
#define HV_TESTS_PEER_PROCESS_H

#include <windows.h>

#include <stdio.h>
#include <string>

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

    // Runs tests/peers/<script> with the port-file option before args.
    bool start(const char* script, const std::string& args, int lifetime = 60) {
        if (!reservePortFile()) return false;
        std::string cmd = "/usr/bin/python3 " HV_PEERS_DIR "/" + std::string(script) +
                          " --lifetime " + std::to_string(lifetime) + " --port-file " + portFile +
                          " " + args;
        std::wstring wcmd(cmd.begin(), cmd.end());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return false;
        std::string winPath = "Z:" + portFile;
        for (int i = 0; i < 1000 && port == 0; i++) {
            FILE* f = fopen(winPath.c_str(), "r");
            if (f) {
                if (fscanf(f, "%d", &port) != 1) port = 0;
                fclose(f);
            }
            if (!port) Sleep(10);
        }
        return port != 0;
    }
    ~Peer() {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0)
                TerminateProcess(pi.hProcess, 1);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        if (!portFile.empty()) DeleteFileA(("Z:" + portFile).c_str());
    }
};

#endif
