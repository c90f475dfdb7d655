// Cursors the server makes (requests 61 and 70) show over the display's
// window as the planes and pixels it sent, and making them again and again
// gives every GDI handle back.
#include <gtest/gtest.h>

#include "ui/ddgdi.h"
#include "xde/ddxde.h"

#include <vector>

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

// Free GDI handles: brushes made until creation fails, then given back.
int freeGdiHandles() {
    std::vector<HBRUSH> v;
    while (v.size() < 100000) {
        HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
        if (!b) break;
        v.push_back(b);
    }
    for (HBRUSH b : v) DeleteObject(b);
    return int(v.size());
}

struct Cursors : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    const DiXRequestOps& ops = diXEngineOps;

    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXCursorTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
        ddGDILoadCursors(); // the standard shapes, as start-up loads them
        window = CreateWindowExW(WS_EX_TOPMOST, L"HvXCursorTest", L"x cursor",
                                 WS_POPUP | WS_VISIBLE, 0, 0, 200, 150, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, 200, 150, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        d->screenWidth = 200, d->screenHeight = 150, d->depth = 24;
        ASSERT_EQ(diXDECreateScreen(d), 0);
        SetCursorPos(60, 60);
    }
    void TearDown() override {
        if (ch) {
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (window) DestroyWindow(window);
    }
    HCURSOR handleOf(uint32_t id) {
        return d->cursors[id] ? reinterpret_cast<DdXCursorRecord*>(d->cursors[id])->handle
                              : nullptr;
    }
    HCURSOR shown() {
        CURSORINFO ci{};
        ci.cbSize = sizeof ci;
        return GetCursorInfo(&ci) ? ci.hCursor : nullptr;
    }
    // A 16 x 16 cursor: the left half shown, its source every other pixel.
    void makeMono(uint32_t id) {
        uint8_t mask[32] = {}, source[32] = {};
        for (int row = 0; row < 16; row++) mask[2 * row] = 0xFF, source[2 * row] = 0xAA;
        ops.createCursor(d, id, 16, 16, 1, 2, 3, 0xFFFFFF, 0, mask, source, 32);
    }
    // An 8 x 8 colour cursor: opaque red but for a transparent top row.
    void makeColour(uint32_t id) {
        std::vector<uint8_t> px(8 * 8 * 4);
        for (int i = 0; i < 64; i++) {
            uint32_t v = i < 8 ? 0x00FF0000u : 0xFFFF0000u;
            memcpy(&px[size_t(i) * 4], &v, 4);
        }
        ops.createColorCursor(d, id, 8, 8, 1, 1, px.data(), uint32_t(px.size()));
    }
};

TEST_F(Cursors, ServerCursorsShowOverTheWindow) {
    ASSERT_EQ(WindowFromPoint(POINT{60, 60}), window);
    makeMono(3);
    ASSERT_NE(handleOf(3), nullptr);
    ops.setCursor(d, 3);
    HCURSOR now = shown();
    ASSERT_EQ(now, handleOf(3));
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(now, &ii));
    EXPECT_EQ(ii.xHotspot, 2u);
    EXPECT_EQ(ii.yHotspot, 3u);
    BITMAP bm{};
    GetObjectW(ii.hbmMask, sizeof bm, &bm);
    const int cy = GetSystemMetrics(SM_CYCURSOR);
    std::vector<uint8_t> bits(size_t(bm.bmWidthBytes) * size_t(bm.bmHeight));
    GetBitmapBits(ii.hbmMask, LONG(bits.size()), bits.data());
    if (ii.hbmColor) {
        EXPECT_EQ(bm.bmHeight, cy); // AND plane alone, the colour apart
    } else {
        ASSERT_EQ(bm.bmHeight, 2 * cy);
        EXPECT_EQ(bits[size_t(bm.bmWidthBytes) * size_t(cy)], 0x55); // inverted source
    }
    EXPECT_EQ(bits[0], 0x00); // shown
    EXPECT_EQ(bits[1], 0xFF); // transparent
    DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);

    makeColour(4);
    ASSERT_NE(handleOf(4), nullptr);
    ops.setCursor(d, 4);
    now = shown();
    ASSERT_EQ(now, handleOf(4));
    ii = ICONINFO{};
    ASSERT_TRUE(GetIconInfo(now, &ii));
    EXPECT_FALSE(ii.fIcon);
    EXPECT_EQ(ii.xHotspot, 1u);
    ASSERT_NE(ii.hbmColor, nullptr);
    bm = BITMAP{};
    GetObjectW(ii.hbmMask, sizeof bm, &bm);
    bits.assign(size_t(bm.bmWidthBytes) * size_t(bm.bmHeight), 0);
    GetBitmapBits(ii.hbmMask, LONG(bits.size()), bits.data());
    EXPECT_EQ(bits[0], 0xFF) << "the transparent top row";
    EXPECT_EQ(bits[size_t(bm.bmWidthBytes)], 0x00);
    DeleteObject(ii.hbmMask);
    DeleteObject(ii.hbmColor);

    // Freeing the shown cursor leaves the window on a live shape.
    ops.setCursor(d, 3);
    HCURSOR dead = handleOf(3);
    diXFreeCursor(d, 3);
    EXPECT_NE(shown(), nullptr);
    EXPECT_NE(shown(), dead);
}

TEST_F(Cursors, RemadeCursorsGiveEveryHandleBack) {
    auto cycle = [&](int n) {
        for (int i = 0; i < n; i++) {
            if (i & 1)
                makeColour(5);
            else
                makeMono(5);
            ops.setCursor(d, 5);
        }
    };
    cycle(20); // warm-up: caches settle
    int before = freeGdiHandles();
    cycle(5000);
    EXPECT_GE(freeGdiHandles(), before);
}

} // namespace
