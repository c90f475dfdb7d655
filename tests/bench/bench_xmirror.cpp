// Mirrored fills of the X display in Mpixel/s at X depths 24 and 16: the
// engine's fill request with the GDI mirror on, against the frame-buffer
// fill alone followed by a plain PatBlt of the same rectangle.
#include "core/ddapp.h"
#include "ui/ddgdi.h"
#include "xde/ddxde.h"
#include "xde/ddxmirror.h"
#include "xde/dixmirror.h"
#include "bench/bench_ratio.h"

#include <stdio.h>
#include <string>
#include <vector>

namespace {

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

const int W = 640, H = 480, RUNS = 20000, SIDE = 32;

std::vector<FbRect> rects() {
    std::vector<FbRect> v;
    uint32_t s = 4321;
    auto next = [&](uint32_t n) {
        s = s * 1103515245u + 12345u;
        return int32_t((s >> 8) % n);
    };
    for (int i = 0; i < RUNS; i++) v.push_back(FbRect{next(W - SIDE), next(H - SIDE), SIDE, SIDE});
    return v;
}

double rate(double seconds) {
    return double(RUNS) * SIDE * SIDE / seconds / 1e6;
}

void measure(HWND window, int depth, const std::vector<FbRect>& r) {
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, window, GetDC(window));
    DiChannel* ch = ddXDECreate(nullptr, W, H, gc, nullptr);
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    d->screenWidth = W, d->screenHeight = H, d->depth = uint32_t(depth);
    if (diXDECreateScreen(d) < 0) return;
    const DiXRequestOps& ops = diXEngineOps;
    ops.setGCMode(d, 2);
    ops.setForeground(d, depth == 24 ? 0x3366CCu : 0x3333u);
    const int32_t warm[4] = {0, 0, 8, 8};
    ops.polyFillRectangle(d, 1, warm);
    if (!(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED)) {
        printf("mirror not installed at depth %d\n", depth);
        return;
    }

    double t0 = now();
    for (const FbRect& x : r) {
        const int32_t xy[4] = {x.x, x.y, int32_t(x.width), int32_t(x.height)};
        ops.polyFillRectangle(d, 1, xy);
    }
    GdiFlush();
    double ours = rate(now() - t0);

    // The same fill straight into the buffer with no damage, then PatBlt.
    FbGC* g = &d->gc->fb;
    FbGCOps* fb = reinterpret_cast<DdXGCRecord*>(d->gc)->fbOps;
    FbBuffer* dst = &d->windows[0]->head.fb;
    uint32_t flags = g->damageFlags;
    g->damageFlags = 0;
    HDC wdc = GetDC(window);
    HBRUSH brush = CreateSolidBrush(ddXGetPixelColor(d, g->foreground));
    HGDIOBJ old = SelectObject(wdc, brush);
    t0 = now();
    for (const FbRect& x : r) {
        fb->PolyFillRect(d, dst, g, 1, &x);
        PatBlt(wdc, x.x, x.y, int(x.width), int(x.height), PATCOPY);
    }
    GdiFlush();
    double anchor = rate(now() - t0);
    SelectObject(wdc, old);
    DeleteObject(brush);
    ReleaseDC(window, wdc);
    g->damageFlags = flags;

    std::string label = "xwin/mirrorfill" + std::to_string(depth) + " vs fb+PatBlt";
    hvBenchRatio(label.c_str(), ours, anchor, "Mpixel/s");
    ch->hdr.gc = nullptr;
    ddXDEDestroy(ch);
    ddGDIFreeGC(gc);
}

} // namespace

int main() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvXMirrorBench";
    wc.style = CS_OWNDC;
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"HvXMirrorBench", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, W, H,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    std::vector<FbRect> r = rects();
    for (int depth : {24, 16}) measure(window, depth, r);
    DestroyWindow(window);
    return 0;
}
