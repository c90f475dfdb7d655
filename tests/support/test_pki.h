// The test PKI of tests/peers/make_pki.py for Wine test programs: host
// programs are started through Wine, and their files read through the Z:
// drive.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <string>

// The host path as Wine's Z: drive shows it.
inline std::wstring winPath(const std::string& hostPath) {
    std::wstring w = L"Z:" + std::wstring(hostPath.begin(), hostPath.end());
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

// Runs a host program; `done` is a file whose appearance says it finished
// (Wine reports neither when a Unix process ends nor its exit code). With
// no `done` the program is only started.
inline bool runWait(const std::string& cmd, const std::wstring& done) {
    std::wstring w(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (done.empty()) return true;
    for (int i = 0; i < 6000; i++) {
        if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(10);
    }
    return false;
}

// Makes the PKI in a new host folder named after `prefix`: the folder, or
// empty when the PKI was not made in time.
inline std::string makeTestPki(const char* prefix) {
    char name[96];
    snprintf(name, sizeof name, "/tmp/%s-%lu-%lu", prefix, GetCurrentProcessId(), GetTickCount());
    std::string dir = name;
    if (!runWait("/usr/bin/python3 " HV_PEERS_DIR "/tls_peer.py make-pki " + dir,
                 winPath(dir) + L"\\chain-good.pem"))
        return std::string();
    return dir;
}

inline void removeTestPki(const std::string& dir) {
    if (!dir.empty()) runWait("/bin/rm -rf " + dir, L"");
}
