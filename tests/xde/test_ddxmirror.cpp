// The GDI mirror on a real window: a fill in an exact colour reaches the
// window at once, equal to the buffer, with no damage left to repaint; a
// partial plane mask recolours from the drawn pixel and still damages; a
// read-back point outside the buffer keeps the colour; depth-8 XOR on a
// true-colour screen and tiled fills stay with the buffer. Also the
// screen's pixel colours (asked once per value) and the scaled repaint.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddscale.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "ui/discale.h"
#include "xde/ddxde.h"
#include "xde/ddxmirror.h"
#include "xde/dixmirror.h"

#include <vector>

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_PAINT) { // the test paints: keep the system from erasing
        ValidateRect(h, nullptr);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

const int W = 160, H = 120;

// Pixels of a device context as 0x00RRGGBB, top row first.
std::vector<uint32_t> readDC(HDC src, int w, int h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC mem = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> v(p, p + size_t(w) * size_t(h));
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    return v;
}

struct Mirror : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    const DiXRequestOps& ops = diXEngineOps;

    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXMirrorTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
        ddXDEInstallHooks();
        ddScaleInstallHooks();
        // The screen depth start-up records, which the scaler reads.
        HDC dc = GetDC(nullptr);
        g_ddApp->depth = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        ReleaseDC(nullptr, dc);
    }
    void open(uint32_t depth, uint32_t sessionFlags = 0) {
        window = CreateWindowExW(WS_EX_TOPMOST, L"HvXMirrorTest", L"x mirror",
                                 WS_POPUP | WS_VISIBLE, 0, 0, W, H, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, W, H, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        d->screenWidth = W, d->screenHeight = H, d->depth = depth;
        d->sessionFlags = sessionFlags;
        ASSERT_EQ(diXDECreateScreen(d), 0);
        // The window shows the (black) buffer, as after the view's paint.
        DiEvent expose = {{DI_EV_EXPOSE, 0, 0, 0, uint32_t(W), uint32_t(H)}, nullptr};
        ch->hdr.handler(&ch->hdr, &expose);
        ops.setGCMode(d, 2);          // the server lets this GC be mirrored
    }
    void TearDown() override {
        if (ch) {
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (window) DestroyWindow(window);
    }
    DiXWindow* root() {
        return d->windows[0];
    }
    std::vector<uint32_t> windowPixels() {
        HDC dc = GetDC(window);
        std::vector<uint32_t> v = readDC(dc, W, H);
        ReleaseDC(window, dc);
        return v;
    }
    uint32_t at(const std::vector<uint32_t>& v, int x, int y) {
        return v[size_t(y) * W + size_t(x)] & 0xFFFFFF;
    }
    // The buffer's pixel as 0x00RRGGBB, 5-6-5 widened by its top bits.
    uint32_t bufferRgb(int x, int y) {
        uint32_t px = 0;
        diXBufferPixel(&root()->head.fb, x, y, &px);
        if (d->depth == 24) return px;
        uint32_t c = ddXGetPixelColor(d, px); // 0x00BBGGRR
        return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    }
    int differing(const std::vector<uint32_t>& v) {
        int n = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                if (at(v, x, y) != bufferRgb(x, y)) n++;
        return n;
    }
    bool damaged() {
        return root()->exposure.count || root()->update.count || root()->exposureTimer ||
               root()->updateTimer;
    }
    void fill(int32_t x, int32_t y, int32_t w, int32_t h) {
        const int32_t r[4] = {x, y, w, h};
        ops.polyFillRectangle(d, 1, r);
    }
};

TEST_F(Mirror, ExactColoursReachTheWindowWithoutDamage) {
    for (uint32_t depth : {24u, 16u}) {
        SCOPED_TRACE(depth);
        open(depth);
        ops.setForeground(d, depth == 24 ? 0xFF0000u : 0xF800u); // red
        fill(10, 10, 50, 40);
        const int32_t line[4] = {5, 100, 150, 100};
        ops.polySegment(d, 1, line);
        EXPECT_TRUE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
        EXPECT_FALSE(damaged());
        std::vector<uint32_t> v = windowPixels();
        EXPECT_EQ(at(v, 30, 30), 0xFF0000u);
        EXPECT_EQ(at(v, 60, 100), 0xFF0000u);
        EXPECT_EQ(differing(v), 0) << "window pixels that differ from the buffer";

        // Without the server's leave to mirror, the same fill only damages.
        ops.setGCMode(d, 0);
        ops.setForeground(d, depth == 24 ? 0x0000FFu : 0x001Fu);
        fill(70, 10, 20, 20);
        EXPECT_FALSE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
        EXPECT_TRUE(damaged());
        EXPECT_EQ(at(windowPixels(), 75, 15), 0u);
        TearDown();
        ch = nullptr, gc = nullptr, window = nullptr;
    }
}

TEST_F(Mirror, PartialPlaneMaskRecoloursFromTheDrawnPixelAndDamages) {
    for (uint32_t depth : {24u, 16u}) {
        SCOPED_TRACE(depth);
        open(depth);
        d->sessionFlags |= DI_XSESSION_MIRROR;
        // White through a green-only mask onto black draws green, not white.
        ops.setForeground(d, depth == 24 ? 0xFFFFFFu : 0xFFFFu);
        ops.setPlaneMask(d, depth == 24 ? 0x00FF00u : 0x07E0u);
        fill(20, 20, 30, 30);
        EXPECT_EQ(d->gc->fb.damageFlags & (DI_XDAMAGE_MIRRORED | DI_XDAMAGE_RECOLOUR),
                  uint32_t(DI_XDAMAGE_MIRRORED | DI_XDAMAGE_RECOLOUR));
        std::vector<uint32_t> v = windowPixels();
        EXPECT_EQ(at(v, 30, 30), 0x00FF00u);
        EXPECT_EQ(differing(v), 0);
        EXPECT_TRUE(root()->update.count || root()->updateTimer) << "no late repaint asked";

        // A request whose first point lies outside the buffer keeps the
        // colour it had; one without points draws nothing.
        ops.setForeground(d, depth == 24 ? 0xFF00FFu : 0xF81Fu);
        ops.setPlaneMask(d, depth == 24 ? 0xFF0000u : 0xF800u);
        fill(-20, -20, 30, 30); // red over black inside
        ops.polyFillRectangle(d, 0, nullptr);
        v = windowPixels();
        EXPECT_EQ(at(v, 5, 5), 0xFF00FFu) << "the foreground's colour is kept";
        EXPECT_EQ(bufferRgb(5, 5), 0xFF0000u);
        TearDown();
        ch = nullptr, gc = nullptr, window = nullptr;
    }
}

TEST_F(Mirror, DepthEightXorAndTiledFillsStayWithTheBuffer) {
    open(8);
    d->sessionFlags |= DI_XSESSION_MIRROR;
    ops.setFunction(d, 6);
    ops.setForeground(d, 0x0F);
    fill(10, 10, 20, 20);
    EXPECT_FALSE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    EXPECT_TRUE(damaged());
    EXPECT_EQ(at(windowPixels(), 15, 15), 0u);
    TearDown();
    ch = nullptr, gc = nullptr, window = nullptr;

    open(24);
    ops.createPixmap(d, 1, 4, 4, 24);
    ops.setTile(d, 1);
    ops.setFillStyle(d, FB_FILL_TILED);
    ops.setForeground(d, 0xFFFFFF);
    const int32_t line[4] = {0, 100, 100, 100};
    ops.polySegment(d, 1, line); // lines are mirrored whatever the fill
    EXPECT_TRUE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    EXPECT_EQ(at(windowPixels(), 50, 100), 0xFFFFFFu);
    // The fill is not: the window stays black until the repaint.
    ASSERT_NE(d->pixmaps[1], nullptr);
    memset(d->pixmaps[1]->head.fb.bits, 0x80, size_t(d->pixmaps[1]->head.fb.stride) * 4);
    fill(10, 10, 20, 20);
    EXPECT_EQ(at(windowPixels(), 15, 15), 0u);
    EXPECT_EQ(bufferRgb(15, 15), 0x808080u);
    EXPECT_TRUE(damaged());
}

// Multi-window mode: a window's frame view shows its part of the shared
// buffer; GDI repeats the drawing there only once the view's origin is the
// window's place, and never for the root.
TEST_F(Mirror, FramedWindowsAreMirroredOnceTheirViewShowsTheirPlace) {
    ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
    open(24, DI_XSESSION_MULTI);
    fill(0, 0, 8, 8); // the root itself: never mirrored
    EXPECT_FALSE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    diXCreateWindow(d, 1, 10, 20, 120, 80, 4 | 8 | 16, 0, 0, 0);
    ASSERT_NE(d->windows[1], nullptr);
    ASSERT_NE(d->windows[1]->frame, nullptr);
    DdGC* viewGC = d->windows[1]->frame->hdr.gc;
    HDC dc = ddGDIGetDC(viewGC);
    ASSERT_NE(dc, nullptr);
    ops.setDrawable(d, 0, 1);
    ops.setForeground(d, 0xFF0000);
    SetWindowOrgEx(dc, 0, 0, nullptr);
    fill(30, 40, 20, 20);
    EXPECT_FALSE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED) << "the view's origin is elsewhere";
    // Shown, the frame may move the window to where its client area landed;
    // once the view's origin is the window's place, fills are mirrored.
    ShowWindow(GetAncestor(ddGDIGetWindow(viewGC), GA_ROOT), SW_SHOWNA);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const int32_t wx = d->windows[1]->head.x, wy = d->windows[1]->head.y;
    SetWindowOrgEx(dc, wx, wy, nullptr);
    ops.setForeground(d, 0x0000FF);
    fill(wx + 50, wy + 30, 10, 10);
    EXPECT_TRUE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    GdiFlush();
    EXPECT_EQ(GetPixel(dc, wx + 55, wy + 35), RGB(0, 0, 255)); // client (55, 35)
    diXDestroyAllWindows(d);
}

TEST_F(Mirror, ScreenColoursAreAskedOncePerPixelValue) {
    open(24);
    EXPECT_EQ(ddXGetPixelColor(d, 0x123456), 0x563412u);
    // With no buffer to probe the screen through, only the cache answers.
    DdXDisplay* x = reinterpret_cast<DdXDisplay*>(d);
    HDC rootDC = x->rootDC;
    x->rootDC = nullptr;
    EXPECT_EQ(ddXGetPixelColor(d, 0x123456), 0x563412u);
    EXPECT_EQ(ddXGetPixelColor(d, 0x123457), 0u) << "same cache entry, another pixel";
    x->rootDC = rootDC;
    EXPECT_EQ(ddXGetPixelColor(d, 0x123457), 0x573412u);
    // The probe puts the buffer's own pixel back.
    uint32_t px = 1;
    ASSERT_TRUE(diXBufferPixel(&root()->head.fb, 0, 0, &px));
    EXPECT_EQ(px, 0u);
    // Depth 8 reads the colormap's cell of the low 8 bits.
    d->depth = 8;
    d->colormap->entries[0x34][0] = 1, d->colormap->entries[0x34][1] = 2;
    d->colormap->entries[0x34][2] = 3;
    EXPECT_EQ(ddXGetPixelColor(d, 0xAB1234), 0x030201u);
    d->depth = 24;
}

TEST_F(Mirror, ScaledRepaintShowsTheScalersPicture) {
    open(24);
    if (g_ddApp->depth <= 8) GTEST_SKIP() << "true-colour screens only";
    // Left half red, right half blue (mirrored: no damage).
    ops.setForeground(d, 0xFF0000);
    fill(0, 0, W / 2, H);
    ops.setForeground(d, 0x0000FF);
    fill(W / 2, 0, W / 2, H);
    // The window is half the remote screen: scaled fast into 80 x 60.
    DiObject* engine = &ch->hdr;
    engine->vwidth = W, engine->vheight = H, engine->width = W / 2, engine->height = H / 2;
    DiScaler* s = diScaleCreate();
    ASSERT_NE(s, nullptr);
    diScaleAttach(s, engine);
    diScaleSetMode(s, DI_SCALE_FAST);
    ddScaleResize(s, engine, 1);
    ASSERT_TRUE(s->active);
    HDC scaled = ddScaleDC(s);
    ASSERT_NE(scaled, nullptr);
    // Black window, then a repaint of two boxes.
    HDC wdc = GetDC(window);
    PatBlt(wdc, 0, 0, W, H, BLACKNESS);
    ReleaseDC(window, wdc);
    const DiBox boxes[2] = {{10, 10, 30, 30}, {100, 80, 140, 110}};
    d->dev->paint(d, root(), 2, boxes);
    std::vector<uint32_t> v = windowPixels();
    EXPECT_EQ(at(v, 10, 10), 0xFF0000u); // from (20, 20)
    EXPECT_EQ(at(v, 60, 47), 0x0000FFu); // from (120, 94)
    EXPECT_EQ(at(v, 40, 20), 0u) << "outside the boxes nothing is painted";
    EXPECT_EQ(at(v, 100, 100), 0u) << "nothing at unscaled coordinates";
    // The boxes' target rectangles equal the scaler's picture.
    std::vector<uint32_t> mem = readDC(scaled, W / 2, H / 2);
    for (int y = 6; y < 15; y++)
        for (int x = 6; x < 15; x++)
            EXPECT_EQ(at(v, x, y), mem[size_t(y) * (W / 2) + size_t(x)] & 0xFFFFFF);
    // The mirror made before scaling came on draws the ordinary way now:
    // nothing lands unscaled on the window, the change is damage.
    EXPECT_TRUE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    EXPECT_FALSE(damaged());
    fill(150, 4, 4, 4);
    EXPECT_EQ(at(windowPixels(), 151, 5), 0u);
    EXPECT_TRUE(damaged());
    // Validated while scaled: no mirror.
    ops.setGCMode(d, 2);
    ops.setForeground(d, 0x00FF00);
    fill(0, 0, 4, 4);
    EXPECT_FALSE(d->gc->fb.damageFlags & DI_XDAMAGE_MIRRORED);
    engine->scaler = nullptr;
    diScaleFree(s);
}

} // namespace
