// A helper program of the tests: a Windows program of the user, as the
// browser's helpers are, that connects to the client's listener on the port
// given and relays bytes both ways: its standard input to the connection
// (its end closes the sending half), the connection to its standard output.
// It says "connected" on its standard error once connected, and ends when
// the client closes the connection. A scripted peer drives it through its
// pipes. Usage: helper_relay PORT
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

// The connection to standard output, until the client closes it.
static DWORD WINAPI fromListener(void* arg) {
    SOCKET s = SOCKET(reinterpret_cast<uintptr_t>(arg));
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char buf[4096];
    int n;
    while ((n = recv(s, buf, sizeof buf, 0)) > 0) {
        DWORD written = 0;
        if (!WriteFile(out, buf, DWORD(n), &written, nullptr) || written != DWORD(n)) break;
    }
    // The relay ends with the connection, whatever its input still holds.
    ExitProcess(0);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: helper_relay PORT\n");
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(u_short(atoi(argv[1])));
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        fprintf(stderr, "helper_relay: cannot connect to port %s\n", argv[1]);
        return 1;
    }
    // The driver waits for this before it sends.
    fprintf(stderr, "connected\n");
    fflush(stderr);
    // The socket is used first by sending, as a helper that speaks first
    // does: reading starts after the first bytes went out (or none will).
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE reader = nullptr;
    char buf[4096];
    DWORD n = 0;
    bool ok = true;
    while (ok && ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0) {
        for (DWORD done = 0; ok && done < n;) {
            int sent = send(s, buf + done, int(n - done), 0);
            ok = sent > 0;
            if (ok) done += DWORD(sent);
        }
        if (!reader)
            reader = CreateThread(nullptr, 0, fromListener, reinterpret_cast<void*>(uintptr_t(s)),
                                  0, nullptr);
    }
    shutdown(s, SD_SEND);
    if (reader) WaitForSingleObject(reader, INFINITE);
    return int(fromListener(reinterpret_cast<void*>(uintptr_t(s))));
}
