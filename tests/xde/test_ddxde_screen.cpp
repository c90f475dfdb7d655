// The display's Windows side end to end: a channel made by the factory,
// painted into a real window, fed by the fake X-AIP server over loopback.
// The window's pixels, read back through GDI, must equal both the root
// buffer and the picture the server drew (fills, an outline, a glyph and a
// 64x64 image), and so must the X server's own pixels under the window
// (read with python3-xlib); the ping must be answered.
#include <gtest/gtest.h>

#include "recording_device.h"
#include "support/peer_process.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/diui.h"
#include "ui/ddxhooks.h"
#include "xde/ddxde.h"
#include "xde_place.h"

#include <fstream>
#include <string.h>
#include <vector>

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

struct Rgb {
    int r, g, b;
};

// The image the server puts at (90, 50), as 8-bit channels; at depth 8
// cell 16 + (3x + 7y) mod 240 of the colormap it stores.
Rgb imagePixel(int depth, int x, int y) {
    if (depth == 8) {
        int i = 16 + (3 * x + 7 * y) % 240;
        return {(i * 5) & 255, (i * 11) & 255, (i * 17) & 255};
    }
    return {(x * 4) & 255, (y * 4) & 255, ((x + y) * 2) & 255};
}

// Runs the loop for a while.
void hvPumpFor(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    hvPumpUntil([&] { return int32_t(GetTickCount() - end) >= 0; });
}

// The X server's own pixels of the screen rectangle {x, y, w, h} as
// 0x00RRGGBB, top row first (read by tests/xde/xcapture.py, which also
// keeps a PNG under `name`); empty when they cannot be had.
std::vector<uint32_t> xCapture(int x, int y, int w, int h, const std::string& name) {
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string dir = cwd;
    if (dir.size() < 2 || dir[1] != ':') return {};
    dir = dir.substr(2);
    for (char& c : dir)
        if (c == '\\') c = '/';
    std::string prefix = dir + "/" + name;
    std::string cmd = "/usr/bin/python3 " HV_TEST_DATA_DIR "/xde/xcapture.py " + std::to_string(x) + " " +
                      std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h) + " " + prefix;
    std::wstring wcmd(cmd.begin(), cmd.end());
    const std::string done = "Z:" + prefix + ".txt";
    DeleteFileA(done.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return {};
    // A Unix program's handle does not tell when it ends: its last file does.
    for (int i = 0; i < 6000 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(10);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::ifstream f("Z:" + prefix + ".ppm", std::ios::binary);
    std::string magic;
    int pw = 0, ph = 0, max = 0;
    f >> magic >> pw >> ph >> max;
    f.get();
    if (magic != "P6" || pw != w || ph != h) return {};
    std::vector<uint32_t> v(size_t(w) * size_t(h));
    for (uint32_t& p : v) {
        unsigned char c[3];
        if (!f.read(reinterpret_cast<char*>(c), 3)) return {};
        p = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
    }
    DeleteFileA(("Z:" + prefix + ".ppm").c_str());
    DeleteFileA(("Z:" + prefix + ".txt").c_str());
    return v;
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
        ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
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
    HWND window = nullptr; // the display's own view
    DiFrame* frame = nullptr;
    DiChannel* ch = nullptr;
    Peer peer;
    std::string result;
    std::vector<uint32_t> capture; // 0x00RRGGBB, top-down

    void TearDown() override {
        if (ch) {
            DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
            // The display being destroyed stops counting as focused.
            g_ddXFocusedDisplay = d;
        }
        // The frame takes its manager, the display and the view with it.
        if (frame) diUIDestroyFrame(frame);
        if (ch) {
            EXPECT_EQ(g_ddXFocusedDisplay, nullptr);
        }
        EXPECT_FALSE(window && IsWindow(window));
        DeleteFileA(("Z:" + result).c_str());
    }

    // A palette screen: the DIB holds the application cube's indexes of the
    // fills' colours, its palette is the application's map, and the X
    // server shows the window as it shows a plain window given the same
    // indexes and palette (Wine shows some entries as static colours).
    void checkPaletteScreen(DiXDisplay* d, int x0, int y0, const std::vector<uint32_t>& shown,
                            const std::string& name) {
        const int W = 160, H = 120;
        DdXDisplay* xd = reinterpret_cast<DdXDisplay*>(d);
        const DdColorMap* map = g_ddApp->colorMap;
        struct {
            BITMAPINFOHEADER h;
            WORD table[256];
        } bi{};
        bi.h.biSize = sizeof bi.h;
        bi.h.biWidth = W;
        bi.h.biHeight = -H;
        bi.h.biPlanes = 1;
        bi.h.biBitCount = 8;
        std::vector<uint8_t> idx(size_t(W) * H);
        ASSERT_EQ(GetDIBits(xd->rootDC, xd->rootBitmap, 0, H, idx.data(),
                            reinterpret_cast<BITMAPINFO*>(&bi), DIB_PAL_COLORS),
                  H);
        HPALETTE pal = static_cast<HPALETTE>(GetCurrentObject(xd->rootDC, OBJ_PAL));
        PALETTEENTRY pe[256] = {};
        ASSERT_EQ(GetPaletteEntries(pal, 0, 256, pe), 256u);
        for (int i = 0; i < 256; i++)
            if (map->entries[i].flags) {
                EXPECT_EQ(pe[i].peRed, map->entries[i].red) << i;
                EXPECT_EQ(pe[i].peGreen, map->entries[i].green) << i;
                EXPECT_EQ(pe[i].peBlue, map->entries[i].blue) << i;
            }
        // Pure red and white sit on the cube's corners: no dither pattern.
        const int n = map->cubeSize;
        const uint8_t red = uint8_t(map->cube[n - 1]);
        const uint8_t white = uint8_t(map->cube[(n - 1) * (1 + n + n * n)]);
        EXPECT_EQ(idx[size_t(20) * W + 20], red);
        EXPECT_EQ(idx[size_t(34) * W + 44], red);
        EXPECT_EQ(idx[size_t(115) * W + 155], white);
        EXPECT_EQ(pe[red].peRed, 255);
        EXPECT_EQ(pe[red].peGreen | pe[red].peBlue, 0);
        EXPECT_EQ(pe[white].peRed & pe[white].peGreen & pe[white].peBlue, 255);

        HWND plain = CreateWindowExW(WS_EX_TOPMOST, L"HvXScreenTest", L"plain",
                                     WS_POPUP | WS_VISIBLE, x0, y0 - H - 20, W, H, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(plain, nullptr);
        HDC dc = GetDC(plain);
        std::vector<WORD> lp(2 + 256 * 2); // a LOGPALETTE of 256 entries
        lp[0] = 0x300, lp[1] = 256;
        memcpy(&lp[2], pe, sizeof pe);
        HPALETTE copy = CreatePalette(reinterpret_cast<LOGPALETTE*>(lp.data()));
        HPALETTE old = SelectPalette(dc, copy, FALSE);
        RealizePalette(dc);
        for (int i = 0; i < 256; i++) bi.table[i] = WORD(i);
        SetDIBitsToDevice(dc, 0, 0, W, H, 0, 0, 0, H, idx.data(),
                          reinterpret_cast<BITMAPINFO*>(&bi), DIB_PAL_COLORS);
        GdiFlush();
        // The window's surface reaches the X server as messages are handled.
        hvPumpFor(500);
        std::vector<uint32_t> want = xCapture(x0, y0 - H - 20, W, H, "xserver_plain_" + name);
        SelectPalette(dc, old, FALSE);
        ReleaseDC(plain, dc);
        DestroyWindow(plain);
        DeleteObject(copy);
        ASSERT_EQ(want.size(), shown.size()) << "no X capture of the plain window";
        int wrong = 0;
        for (size_t i = 0; i < want.size(); i++)
            if (want[i] != shown[i]) wrong++;
        EXPECT_EQ(wrong, 0) << "X server pixels that differ from the plain blit";
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

// The buffer's pixel at (x, y) as 8-bit channels (depth 8 through the
// display's colormap).
Rgb bufferPixel(const DiXDisplay* d, const FbBuffer& b, int x, int y) {
    const uint8_t* p = b.bits + size_t(b.height - y - 1) * b.stride + size_t(x) * b.bytesPerPixel;
    if (b.depth == 24) return {p[2], p[1], p[0]};
    if (b.depth == 8) {
        const uint8_t* e = d->colormap->entries[p[0]];
        return {e[0], e[1], e[2]};
    }
    uint32_t v = p[0] | p[1] << 8;
    return {int((v >> 11) << 3), int(((v >> 5) & 63) << 2), int((v & 31) << 3)};
}

// Channels compared at the depth's precision (5-6-5 keeps the top bits).
bool same(int depth, Rgb a, Rgb b) {
    if (depth != 16) return a.r == b.r && a.g == b.g && a.b == b.b;
    return (a.r >> 3) == (b.r >> 3) && (a.g >> 2) == (b.g >> 2) && (a.b >> 3) == (b.b >> 3);
}

TEST_P(Screen, ServerPictureReachesTheWindowPixelExact) {
    const int depth = GetParam(), W = 160, H = 120;
    // A place of its own on the screen, away from the windows of the tests
    // that run beside it: the X server's pixels there must be this window's.
    const int X0 = 700 + 180 * (depth / 8 - 1), Y0 = 800;
    // The display as the session layer makes it: a frame, its manager and
    // the channel, which shows itself in a view of its own in the manager's.
    frame = diUICreateFrame(3, DI_OBJ_XDE, W, H);
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(frame->manager, nullptr);
    ch = frame->manager->channel;
    ASSERT_NE(ch, nullptr);
    window = ddGDIGetWindow(ch->hdr.gc);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), ddGDIGetWindow(frame->manager->hdr.gc));
    EXPECT_EQ(ddUIFindEngineByWindow(window), &ch->hdr);
    // Shown as the session shows a connected display.
    HWND top = GetAncestor(window, GA_ROOT);
    ShowWindow(top, SW_SHOWNA);
    diDEManagerActivate(frame->manager, 1);
    EXPECT_TRUE(IsWindowVisible(window));
    // The view lands at (X0, Y0), above the other tests' windows.
    hvPlaceDisplayView(window, X0, Y0);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, X0);
    EXPECT_EQ(origin.y, Y0);
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);

    ASSERT_TRUE(peer.reservePortFile());
    result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve picture-" + std::to_string(depth) +
                               " --result-file " + result,
                           ""));
    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    diDEChannelOpen(ch); // the connect message goes out, as after a launch's login
    hvPumpUntil([&] {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    std::ifstream f("Z:" + result);
    std::string verdict, hello;
    std::getline(f, verdict);
    EXPECT_EQ(verdict, "ok"); // the client description and the ping's answer came
    // The connect message announces the whole desktop (the X screen Wine
    // shows), not the display's own 160 x 120 window.
    for (std::string line; std::getline(f, line);)
        if (line.rfind("10 ", 0) == 0) hello = line;
    const std::string desktop = " " + std::to_string(GetSystemMetrics(SM_CXVIRTUALSCREEN)) + "x" +
                                std::to_string(GetSystemMetrics(SM_CYVIRTUALSCREEN)) + " blocks=";
    EXPECT_NE(hello.find(desktop), std::string::npos) << hello;

    ASSERT_EQ(d->depth, uint32_t(depth));
    ASSERT_NE(d->windows[0], nullptr);
    const FbBuffer& b = d->windows[0]->head.fb;
    ASSERT_NE(b.bits, nullptr);
    // The engine's own surface as the scaler reads it.
    DdXEngineSurface s{};
    ASSERT_EQ(g_ddXHooks.engineSurface(&ch->hdr, &s), 1);
    EXPECT_EQ(s.depth, depth);
    EXPECT_EQ(s.bytesPerPixel, uint32_t(depth == 24 ? 3 : depth / 8));
    EXPECT_NE(s.rootDC, nullptr);

    DiEvent expose = {{DI_EV_EXPOSE, 0, 0, 0, uint32_t(W), uint32_t(H)}, nullptr};
    ch->hdr.handler(&ch->hdr, &expose);
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
            if (!same(depth, got, bufferPixel(d, b, x, y))) wrongBuffer++;
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
            if (!same(depth, at(90 + x, 50 + y), imagePixel(depth, x, y))) wrongImage++;
    if (!dithered) {
        EXPECT_EQ(wrongImage, 0) << "image pixels wrong";
    }
    // The glyph left black pixels near its origin (60, 100).
    int black = 0;
    for (int y = 85; y < 110; y++)
        for (int x = 55; x < 75; x++)
            if (same(cmp, at(x, y), {0, 0, 0})) black++;
    EXPECT_GT(black, 0);

    // The X server holds what GDI reads back: the pixels the user sees.
    std::string name = "xde_screen_" + std::to_string(depth) + "_on_" + std::to_string(screenBits);
    // Wine hands a window's pixels to the X server as it handles messages,
    // later under load: a few tries, each after a while of the loop.
    std::vector<uint32_t> x;
    int wrongX = -1;
    for (int attempt = 0; attempt < 5 && wrongX != 0; attempt++) {
        hvPumpFor(300);
        x = xCapture(X0, Y0, W, H, "xserver_" + name);
        ASSERT_EQ(x.size(), capture.size()) << "no X capture";
        wrongX = 0;
        for (size_t i = 0; i < x.size(); i++)
            if (x[i] != (capture[i] & 0xFFFFFF)) wrongX++;
        if (dithered) break;
    }
    if (!dithered) {
        EXPECT_EQ(wrongX, 0) << "X server pixels that differ from the window";
    } else {
        checkPaletteScreen(d, X0, Y0, x, name);
    }

    // A colour stored into the cell the red fill shows reaches the screen
    // without any other repaint (cyan is a static colour: exact everywhere).
    if (depth == 8) {
        const uint8_t cyan[4] = {1, 0, 255, 255};
        d->ops->storeColors(d, 1, cyan);
        std::vector<uint32_t> px;
        hvPumpUntil(
            [&] {
                px = xCapture(X0 + 20, Y0 + 20, 1, 1, "xserver_recolour_" + name);
                return px.size() == 1 && px[0] == 0x00FFFF;
            },
            10000);
        ASSERT_EQ(px.size(), 1u);
        EXPECT_EQ(px[0], 0x00FFFFu) << "the stored colour never reached the screen";
    }

    // The picture is kept for the run.
    g_rdev.root = b;
    g_rdev.screen.assign(b.bits, b.bits + size_t(b.stride) * size_t(b.height));
    if (!dithered) {
        EXPECT_TRUE(g_rdev.writeScreenPng(name + ".png", d));
    }
    g_rdev.root = FbBuffer{};
}

DdApp Screen::app;
int Screen::screenBits;

INSTANTIATE_TEST_SUITE_P(Depths, Screen, ::testing::Values(24, 16, 8));

} // namespace
