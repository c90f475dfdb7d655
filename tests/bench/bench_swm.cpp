// Seamless windows created, mapped and destroyed through the fake server
// (cycles/s, session start included), against the same done directly by
// Windows calls: a bare popup window with a child, made, shown, destroyed.
#include "bench/bench_ratio.h"
#include "support/peer_process.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"

#include <stdio.h>
#include <string>

namespace {

const int CYCLES = 200;

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

double ours(HWND window) {
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 640, 480);
    if (!ch) return 0;
    ddGDIAttach(ch->hdr.gc, window, GetDC(window));
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    double rate = 0;
    Peer peer;
    std::string result;
    if (peer.reservePortFile()) {
        result = peer.portFile + ".result";
        peer.start("xaip_peer.py serve swm-cycles --count " + std::to_string(CYCLES) +
                       " --result-file " + result,
                   " --lifetime 300");
    }
    ch->open = 1;
    if (peer.port && ddNetSocketOpen(ch->socket, 1, 1) == 0 &&
        diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0) == 0) {
        ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                          DD_NET_READ | DD_NET_CLOSE);
        double t0 = now();
        auto done = [&] {
            DiXWindow* w = d->windows[2];
            return w && w->frame &&
                   IsWindowVisible(GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT));
        };
        hvPumpUntil(done, 240000);
        if (done()) rate = CYCLES / (now() - t0);
    }
    diDEDestroyChannel(ch);
    if (!result.empty()) {
        hvPumpUntil([&] {
            return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
        });
        DeleteFileA(("Z:" + result).c_str());
    }
    return rate;
}

double anchor() {
    double t0 = now();
    for (int i = 0; i < CYCLES; i++) {
        HWND popup = CreateWindowExW(0, L"HvSWMBench", L"", WS_POPUP, 100, 100, 300, 200,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        HWND child = CreateWindowExW(0, L"HvSWMBench", L"", WS_CHILD, 0, 0, 300, 200, popup,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(child, SW_SHOWNA);
        ShowWindow(popup, SW_SHOWNOACTIVATE);
        DestroyWindow(popup);
    }
    return CYCLES / (now() - t0);
}

} // namespace

int main() {
    if (!hvSocketSinkInit() || ddUIInit(nullptr, GetModuleHandleW(nullptr)) != 1) return 1;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvSWMBench";
    wc.style = CS_OWNDC;
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, L"HvSWMBench", L"bench", WS_POPUP, 0, 0, 640, 480, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    anchor(); // warm-up
    double o = ours(window), a = anchor();
    hvBenchRatio("swm/create+map+destroy vs popup child", o, a, "cycles/s");
    DestroyWindow(window);
    return 0;
}
