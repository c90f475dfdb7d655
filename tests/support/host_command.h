// Runs shell commands of the host (xdotool, xclip, curl...) from a Wine test
// program. Wine neither waits for a host process nor reports its end: the
// shell writes a mark file last, and that file is the end.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <string>

// Starts `command` under /bin/sh; the Windows path of the mark file that
// appears once it has ended, or "" when it could not start. Marks are named
// by process, serial and tick so that runs of other Wine prefixes (which
// number processes alike) never share one.
inline std::string hvHostStart(const std::string& command) {
    static unsigned serial;
    char mark[128];
    snprintf(mark, sizeof mark, "/tmp/hv_host_mark_%lu_%u_%lu", GetCurrentProcessId(), serial++,
             GetTickCount());
    DeleteFileA((std::string("Z:") + mark).c_str());
    std::string cmd = "/bin/sh -c \"" + command + "; : >" + mark + "\"";
    std::wstring w(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return "";
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return std::string("Z:") + mark;
}

// Whether the command behind the mark has ended.
inline bool hvHostEnded(const std::string& mark) {
    return !mark.empty() && GetFileAttributesA(mark.c_str()) != INVALID_FILE_ATTRIBUTES;
}
