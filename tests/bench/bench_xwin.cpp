// Slot-16 repaints of the X display's Windows side in Mpixel/s at X depths
// 24, 16 and 8, against a plain BitBlt loop of the same rectangles from a
// DIB section of the same depth into the same window.
#include "core/ddapp.h"
#include "ui/ddgdi.h"
#include "ui/ddxpix.h"
#include "xde/ddxde.h"
#include "bench/bench_ratio.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

const int W = 640, H = 480, RUNS = 4000;

std::vector<DiBox> boxes() {
    std::vector<DiBox> v;
    uint32_t s = 12345;
    auto next = [&](uint32_t n) {
        s = s * 1103515245u + 12345u;
        return int32_t((s >> 8) % n);
    };
    for (int i = 0; i < RUNS; i++) {
        int32_t x = next(W - 64), y = next(H - 64);
        v.push_back(DiBox{int16_t(x), int16_t(y), int16_t(x + 64), int16_t(y + 64)});
    }
    return v;
}

// Mpixel/s of the engine's paint slot.
double ours(HWND window, int depth, const std::vector<DiBox>& b) {
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, window, GetDC(window));
    DiChannel* ch = ddXDECreate(nullptr, W, H, gc, nullptr);
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    d->screenWidth = W, d->screenHeight = H, d->depth = uint32_t(depth);
    if (diXDECreateScreen(d) < 0) return 0;
    const DdXDeviceVector* v = ddXDeviceVector();
    double t0 = now();
    for (const DiBox& x : b) v->paint(d, d->windows[0], 1, &x);
    GdiFlush();
    double t = now() - t0;
    ch->hdr.gc = nullptr;
    ddXDEDestroy(ch);
    ddGDIFreeGC(gc);
    return double(b.size()) * 64 * 64 / t / 1e6;
}

// Mpixel/s of BitBlt alone from a DIB section of the depth.
double anchor(HWND window, int depth, const std::vector<DiBox>& b) {
    HDC wdc = GetDC(window);
    HDC mem = CreateCompatibleDC(wdc);
    DdXBitmapInfo info;
    ddXPixmapSetBitmapInfo(&info, W, H, depth);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, info.get(), depth == 8 ? DIB_PAL_COLORS : DIB_RGB_COLORS,
                                   &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    double t0 = now();
    for (const DiBox& x : b) BitBlt(wdc, x.x1, x.y1, 64, 64, mem, x.x1, x.y1, SRCCOPY);
    GdiFlush();
    double t = now() - t0;
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(window, wdc);
    return double(b.size()) * 64 * 64 / t / 1e6;
}

} // namespace

int main() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvXWinBench";
    wc.style = CS_OWNDC;
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"HvXWinBench", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, W, H,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    std::vector<DiBox> b = boxes();
    for (int depth : {24, 16, 8}) {
        anchor(window, depth, b); // warm-up
        double o = ours(window, depth, b), a = anchor(window, depth, b);
        std::string label = "xwin/paint" + std::to_string(depth) + " vs BitBlt";
        hvBenchRatio(label.c_str(), o, a, "Mpixel/s");
    }
    DestroyWindow(window);
    return 0;
}
