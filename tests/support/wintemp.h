// Private temporary folders for Windows tests.
#ifndef HV_TESTS_WINTEMP_H
#define HV_TESTS_WINTEMP_H

#include <windows.h>

#include <stdio.h>

#include <string>

/* Removes a private temporary folder and the files in it. */
inline void removeTree(std::wstring dir) {
    if (!dir.empty() && dir.back() != L'\\') dir += L'\\';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + fd.cFileName).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    dir.pop_back();
    RemoveDirectoryW(dir.c_str());
}

/* A whole file's bytes, or "<missing>" when it cannot be opened. */
inline std::string readFileBytes(const std::wstring& path) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

/* Replaces a file by bytes; false when it cannot be written. */
inline bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

/* A suspended copy of this test program: its id is that of a process that
 * runs until End, and of one that no longer does after. */
struct HeldProcess {
    PROCESS_INFORMATION pi = {};
    HeldProcess() {
        wchar_t exe[MAX_PATH];
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (!GetModuleFileNameW(nullptr, exe, MAX_PATH) ||
            !CreateProcessW(exe, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                            nullptr, &si, &pi))
            pi = PROCESS_INFORMATION{};
    }
    ~HeldProcess() { End(); }
    HeldProcess(const HeldProcess&) = delete;
    HeldProcess& operator=(const HeldProcess&) = delete;
    DWORD Id() const { return pi.dwProcessId; }
    void End() {
        if (!pi.hProcess) return;
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        pi.hProcess = nullptr;
    }
};

/* Writes a file and sets when it was last written (100 ns since 1601; 0
 * leaves it at now). */
inline bool writeFileAt(const std::wstring& path, const std::string& bytes, uint64_t when = 0) {
    if (!writeFileBytes(path, bytes)) return false;
    if (!when) return true;
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    FILETIME t = {DWORD(when), DWORD(when >> 32)};
    bool ok = f != INVALID_HANDLE_VALUE && SetFileTime(f, nullptr, nullptr, &t);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return ok;
}

/* 2001-01-01, long before any process of a test started. */
const uint64_t kLongAgo = 126227808000000000ull;

#endif
