// Keys from xdotool to the wire: a burst of key presses typed on the X
// server reaches the X display's output buffer through Wine, the view of an
// X top-level window's frame, key translation and the engine; the anchor is
// a plain Win32 window that forwards each key message it gets as a record of
// the same size. Both rates are keys per second from the first key's
// arrival to the last one's, so the per-key work of the whole path is what
// is compared (xdotool's start-up is outside both).
#include "core/ddapp.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "bench/bench_ratio.h"
#include "support/host_command.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const int KEYS = 1000, ROUNDS = 3;

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// The anchor's forwarded key records.
std::vector<uint8_t> g_forwarded;
int g_forwardedKeys;

LRESULT CALLBACK forwardProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_KEYDOWN || m == WM_KEYUP) {
        uint8_t rec[7] = {uint8_t(m == WM_KEYDOWN ? 23 : 24), 4, 0, uint8_t(w), 0, 0, 0};
        MSG c;
        if (m == WM_KEYDOWN && PeekMessageW(&c, h, WM_CHAR, WM_CHAR, PM_REMOVE))
            rec[5] = uint8_t(c.wParam), rec[6] = uint8_t(c.wParam >> 8);
        g_forwarded.insert(g_forwarded.end(), rec, rec + 7);
        if (m == WM_KEYDOWN) g_forwardedKeys++;
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

// Types KEYS presses into the named window; keys/s between the first and
// the last arrival that `count` reports.
template <class Count> double burst(const std::string& title, Count count) {
    std::string keys;
    for (int i = 0; i < KEYS; i++)
        keys += " a";
    std::string mark = hvHostStart("W=$(xdotool search --name '^" + title +
                                 "$' | head -n 1); xdotool windowfocus --sync $W; sleep 0.3; "
                                 "xdotool key --delay 0" + keys);
    int start = count();
    double first = 0, last = 0, t0 = now();
    while (now() - t0 < 30) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
            int n = count() - start;
            if (n > 0 && first == 0) first = now();
            if (n > 0) last = now();
            if (n >= KEYS) break;
        }
        if (count() - start >= KEYS) break;
        if (hvHostEnded(mark) && now() - last > 2) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    for (int i = 0; i < 200 && !hvHostEnded(mark); i++)
        Sleep(10);
    int n = count() - start;
    if (n < KEYS) fprintf(stderr, "%s: %d of %d keys arrived\n", title.c_str(), n, KEYS);
    return last > first && n > 1 ? (n - 1) / (last - first) : 0;
}

// Presses (message 23) in the display's output buffer.
int pressesOnTheWire(DiXDisplay* d) {
    int n = 0;
    const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
    const uint8_t* end = d->ch.out.data + d->ch.out.used;
    while (end - p >= 3) {
        uint32_t len = p[1] | uint32_t(p[2]) << 8;
        if (uint32_t(end - p - 3) < len) break;
        if (p[0] == 23) n++;
        p += 3 + len;
    }
    return n;
}

} // namespace

int main() {
    if (ddUIInit(nullptr, GetModuleHandleW(nullptr)) != 1) return 1;
    WNDCLASSW wc{};
    wc.lpfnWndProc = forwardProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvKeyForward";
    RegisterClassW(&wc);
    std::string pid = std::to_string(GetCurrentProcessId());
    std::string anchorTitle = "hv keylat anchor " + pid, oursTitle = "hv keylat ours " + pid;
    HWND plain = CreateWindowA("HvKeyForward", anchorTitle.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               100, 100, 200, 120, nullptr, nullptr, GetModuleHandleW(nullptr),
                               nullptr);

    HWND host = CreateWindowA("HvKeyForward", "host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, host, GetDC(host));
    DiChannel* ch = ddXDECreate(nullptr, 400, 300, gc, nullptr);
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    d->sessionFlags |= DI_XSESSION_MULTI;
    d->screenWidth = 400, d->screenHeight = 300, d->depth = 24;
    if (!plain || diXDECreateScreen(d) < 0) return 1;
    diXCreateWindow(d, 1, 400, 100, 200, 120, 4 | 8 | 16, 0, 0, 0);
    if (!d->windows[1] || !d->windows[1]->frame) return 1;
    HWND view = ddGDIGetWindow(d->windows[1]->frame->hdr.gc);
    HWND frame = GetAncestor(view, GA_ROOT);
    SetWindowTextA(frame, oursTitle.c_str());
    ShowWindow(frame, SW_SHOW);

    double bestOurs = 0, bestAnchor = 0;
    for (int r = 0; r < ROUNDS; r++) {
        SetForegroundWindow(plain);
        SetFocus(plain);
        double a = burst(anchorTitle, [] { return g_forwardedKeys; });
        SetForegroundWindow(frame);
        SetFocus(view);
        d->ch.out.used = d->ch.out.consumed = 0;
        double o = burst(oursTitle, [&] { return pressesOnTheWire(d); });
        if (a > bestAnchor) bestAnchor = a;
        if (o > bestOurs) bestOurs = o;
    }
    hvBenchRatio("keys xdotool to the wire (keys/s)", bestOurs, bestAnchor, "keys/s");
    diXDestroyAllWindows(d);
    ch->hdr.gc = nullptr;
    ddXDEDestroy(ch);
    ddGDIFreeGC(gc);
    return bestOurs > 0 && bestAnchor > 0 ? 0 : 1;
}
