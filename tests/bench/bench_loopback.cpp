// Framed messages per second and MB/s over loopback: the scripted peer
// sends a stream of equal messages as fast as it can; the channel reads
// them through its socket, window message and time slices as the client
// does. The anchor is a plain blocking socket reading the same stream from
// the same peer. Prints one ratio line per message size.
#include "core/ddapp.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"

#include "bench/bench_ratio.h"

#include <stdio.h>
#include <string>

static int64_t s_messages;
static int s_ended;

static int onEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    if (ev->w[0] != DI_EV_READABLE && ev->w[0] != DI_EV_CLOSED) return 0;
    diDEChannelSliceStart(ch);
    for (;;) {
        const uint8_t* m;
        int n = diIOReadMessage(&ch->in, ch->socket, &m);
        if (n < 0) {
            s_ended = 1;
            break;
        }
        if (n == 0) break;
        s_messages++;
        if (diDEChannelSliceOver(ch)) break;
    }
    return 1;
}

static LRESULT CALLBACK sinkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == g_ddApp->winsockMessage) {
        ddNetHandleSocketMessage(wp, lp);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

/* Starts the blast peer for count messages of size bytes: its process and
 * port (0 when it did not start). */
static int startPeer(int size, int count, PROCESS_INFORMATION* pi) {
    static int serial;
    char portFile[128];
    snprintf(portFile, sizeof portFile, "/tmp/hv_bench_peer_%lu_%d_%d", GetCurrentProcessId(),
             size, serial++);
    std::string cmd = std::string("/usr/bin/python3 " HV_PEERS_DIR "/aip_peer.py blast") +
                      " --size " + std::to_string(size - 3) + " --count " + std::to_string(count) +
                      " --port-file " + portFile;
    std::wstring wcmd(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    *pi = PROCESS_INFORMATION{};
    if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, pi))
        return 0;
    int port = 0;
    std::string winPath = std::string("Z:") + portFile;
    for (int i = 0; i < 1000 && !port; i++) {
        FILE* f = fopen(winPath.c_str(), "r");
        if (f) {
            if (fscanf(f, "%d", &port) != 1) port = 0;
            fclose(f);
        }
        if (!port) Sleep(10);
    }
    DeleteFileA(winPath.c_str());
    return port;
}

static void endPeer(PROCESS_INFORMATION* pi) {
    WaitForSingleObject(pi->hProcess, 10000);
    CloseHandle(pi->hProcess);
    CloseHandle(pi->hThread);
}

static double seconds(const LARGE_INTEGER& t0) {
    LARGE_INTEGER freq, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
}

/* MB/s of the channel reading the blast, or a negative value on failure. */
static double channelOnce(int size, int count) {
    PROCESS_INFORMATION pi;
    int port = startPeer(size, count, &pi);
    if (!port) return -1;
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_TDE, 80, 25);
    if (!ch) return -1;
    ch->hdr.handler = onEvent;
    ch->in.limit = 0;
    ddNetSocketOpen(ch->socket, 1, 1);
    if (diNetConnect(ch->socket, u"127.0.0.1", uint16_t(port), 0) != 0) return -1;
    s_messages = 0;
    s_ended = 0;
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    while (!s_ended) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        diTimerDispatch(GetTickCount());
    }
    double secs = seconds(t0);
    printf("loopback %6d-byte messages: %lld received, %.0f messages/s, %.1f MB/s\n", size,
           (long long)s_messages, double(s_messages) / secs, double(s_messages) * size / secs / 1e6);
    diDEDestroyChannel(ch);
    endPeer(&pi);
    return double(s_messages) * size / secs / 1e6;
}

/* MB/s of a plain blocking socket reading the same blast into 64 KB pieces:
 * what the operating system's loopback gives without the channel. */
static double plainOnce(int size, int count) {
    PROCESS_INFORMATION pi;
    int port = startPeer(size, count, &pi);
    if (!port) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    std::string buf(65536, 0);
    long long bytes = 0;
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    for (;;) {
        int n = recv(s, &buf[0], int(buf.size()), 0);
        if (n <= 0) break;
        bytes += n;
    }
    double secs = seconds(t0);
    closesocket(s);
    endPeer(&pi);
    printf("plain socket %6d-byte messages: %lld bytes, %.1f MB/s\n", size, bytes,
           double(bytes) / secs / 1e6);
    return double(bytes) / secs / 1e6;
}

int main() {
    if (ddNetInit() != 0) return 1;
    WNDCLASSW wc{};
    wc.lpfnWndProc = sinkProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvBenchSocketSink";
    RegisterClassW(&wc);
    g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
    g_ddApp->mainWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr);
    const struct {
        int size, count;
        const char* label;
    } runs[] = {
        {8, 2000000, "loopback read, 8-byte messages (channel/plain socket)"},
        {60 * 1024, 10000, "loopback read, 60 KB messages (channel/plain socket)"},
    };
    for (const auto& r : runs) {
        double ours = channelOnce(r.size, r.count);
        double plain = plainOnce(r.size, r.count);
        if (ours < 0 || plain < 0) return 1;
        hvBenchRatio(r.label, ours, plain, "MB/s");
    }
    return 0;
}
