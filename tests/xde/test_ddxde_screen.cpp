// The display's Windows side end to end: a channel made by the factory,
// painted into a real window, fed by the fake X-AIP server over loopback.
// The window's pixels, read back through GDI, must equal both the root
// buffer and the picture the server drew (fills, an outline, a glyph and a
// 64x64 image); the ping must be answered.
#include <gtest/gtest.h>

#include "recording_device.h"
#include "support/peer_process.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddxhooks.h"
#include "xde/ddxde.h"

#include <fstream>

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

struct Rgb {
    int r, g, b;
};

// The image the server puts at (90, 50), as 8-bit channels.
Rgb imagePixel(int x, int y) {
    return {(x * 4) & 255, (y * 4) & 255, ((x + y) * 2) & 255};
}

struct Screen : ::testing::TestWithParam<int> {
    static void SetUpTestSuite() {
        ASSERT_TRUE(hvSocketSinkInit());
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXScreenTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
        ddXDEInstallHooks();
        // The application's colour map, as start-up makes it: a palette
        // screen dithers onto its cube.
        HDC dc = GetDC(nullptr);
        screenBits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        ReleaseDC(nullptr, dc);
        if (!g_ddApp) g_ddApp = &app;
        if (!g_ddApp->colorMap) g_ddApp->colorMap = ddColorMapCreate(screenBits, -1, -1);
    }
    static DdApp app;
    static int screenBits;
    HWND window = nullptr;
    DiChannel* ch = nullptr;
    Peer peer;
    std::string result;
    std::vector<uint32_t> capture; // 0x00RRGGBB, top-down

    void TearDown() override {
        if (ch) {
            DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
            // The display being destroyed stops counting as focused.
            g_ddXFocusedDisplay = d;
            diDEDestroyChannel(ch);
            EXPECT_EQ(g_ddXFocusedDisplay, nullptr);
        }
        if (window) DestroyWindow(window);
        DeleteFileA(("Z:" + result).c_str());
    }

    void readWindow(int w, int h) {
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
        HDC wdc = GetDC(window);
        BitBlt(mem, 0, 0, w, h, wdc, 0, 0, SRCCOPY);
        ReleaseDC(window, wdc);
        GdiFlush();
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        capture.assign(p, p + size_t(w) * size_t(h));
        SelectObject(mem, old);
        DeleteObject(dib);
        DeleteDC(mem);
    }
};

// The buffer's pixel at (x, y) as 8-bit channels.
Rgb bufferPixel(const FbBuffer& b, int x, int y) {
    const uint8_t* p = b.bits + size_t(b.height - y - 1) * b.stride + size_t(x) * b.bytesPerPixel;
    if (b.depth == 24) return {p[2], p[1], p[0]};
    uint32_t v = p[0] | p[1] << 8;
    return {int((v >> 11) << 3), int(((v >> 5) & 63) << 2), int((v & 31) << 3)};
}

// Channels compared at the depth's precision (5-6-5 keeps the top bits).
bool same(int depth, Rgb a, Rgb b) {
    if (depth == 24) return a.r == b.r && a.g == b.g && a.b == b.b;
    return (a.r >> 3) == (b.r >> 3) && (a.g >> 2) == (b.g >> 2) && (a.b >> 3) == (b.b >> 3);
}

TEST_P(Screen, ServerPictureReachesTheWindowPixelExact) {
    const int depth = GetParam(), W = 160, H = 120;
    window = CreateWindowExW(WS_EX_TOPMOST, L"HvXScreenTest", L"x screen", WS_POPUP | WS_VISIBLE,
                             0, 0, W, H, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ch = diDECreateChannel(nullptr, DI_OBJ_XDE, W, H);
    ASSERT_NE(ch, nullptr);
    ddGDIAttach(ch->hdr.gc, window, GetDC(window));
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);

    ASSERT_TRUE(peer.reservePortFile());
    result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve picture-" + std::to_string(depth) +
                               " --result-file " + result,
                           ""));
    ch->open = 1;
    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    hvPumpUntil([&] {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    std::ifstream f("Z:" + result);
    std::string verdict;
    std::getline(f, verdict);
    EXPECT_EQ(verdict, "ok"); // the client description and the ping's answer came

    ASSERT_EQ(d->depth, uint32_t(depth));
    ASSERT_NE(d->windows[0], nullptr);
    const FbBuffer& b = d->windows[0]->head.fb;
    ASSERT_NE(b.bits, nullptr);
    // The engine's own surface as the scaler reads it.
    DdXEngineSurface s{};
    ASSERT_EQ(g_ddXHooks.engineSurface(&ch->hdr, &s), 1);
    EXPECT_EQ(s.depth, depth);
    EXPECT_EQ(s.bytesPerPixel, depth == 24 ? 3u : 2u);
    EXPECT_NE(s.rootDC, nullptr);

    diXExposeArea(d, 0, 0, W, H);
    readWindow(W, H);
    // Palette screens show the X pixels dithered into an 8-bit DIB; the
    // fills below are cube colours and come out exact, the image does not.
    const bool dithered = (d->flags & DI_XFLAG_DITHER) != 0;
    EXPECT_EQ(dithered, screenBits <= 8);
    const int cmp = dithered ? 24 : depth;
    int wrongBuffer = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            uint32_t c = capture[size_t(y) * W + size_t(x)];
            Rgb got{int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
            if (!same(depth, got, bufferPixel(b, x, y))) wrongBuffer++;
        }
    if (!dithered) {
        EXPECT_EQ(wrongBuffer, 0) << "window pixels that differ from the buffer";
    }

    auto at = [&](int x, int y) {
        uint32_t c = capture[size_t(y) * W + size_t(x)];
        return Rgb{int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
    };
    EXPECT_TRUE(same(cmp, at(155, 115), {255, 255, 255}));
    EXPECT_TRUE(same(cmp, at(5, 5), {255, 0, 0}));
    EXPECT_TRUE(same(cmp, at(44, 34), {255, 0, 0}));
    EXPECT_TRUE(same(cmp, at(45, 35), {255, 255, 255}));
    EXPECT_TRUE(same(cmp, at(50, 5), {0, 0, 255}));
    EXPECT_TRUE(same(cmp, at(79, 44), {0, 0, 255}));
    // The outline's corner and edges, with its inside left white.
    EXPECT_TRUE(same(cmp, at(5, 60), {0, 255, 0}));
    EXPECT_TRUE(same(cmp, at(25, 60), {0, 255, 0}));
    EXPECT_TRUE(same(cmp, at(5, 80), {0, 255, 0}));
    EXPECT_TRUE(same(cmp, at(25, 75), {255, 255, 255}));
    int wrongImage = 0;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            if (!same(depth, at(90 + x, 50 + y), imagePixel(x, y))) wrongImage++;
    if (!dithered) {
        EXPECT_EQ(wrongImage, 0) << "image pixels wrong";
    }
    // The glyph left black pixels near its origin (60, 100).
    int black = 0;
    for (int y = 85; y < 110; y++)
        for (int x = 55; x < 75; x++)
            if (same(cmp, at(x, y), {0, 0, 0})) black++;
    EXPECT_GT(black, 0);

    // The picture is kept for the run.
    g_rdev.root = b;
    g_rdev.screen.assign(b.bits, b.bits + size_t(b.stride) * size_t(b.height));
    std::string name = "xde_screen_" + std::to_string(depth) + "_on_" + std::to_string(screenBits);
    if (!dithered) {
        EXPECT_TRUE(g_rdev.writeScreenPng(name + ".png", d));
    }
    g_rdev.root = FbBuffer{};
}

DdApp Screen::app;
int Screen::screenBits;

INSTANTIATE_TEST_SUITE_P(Depths, Screen, ::testing::Values(24, 16));

} // namespace
