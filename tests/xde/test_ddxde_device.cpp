// The Windows side's slots called as the engine calls them, on a display
// painted into a real window: palettes, cursors going away while contexts
// hold them, icons replaced without a dead handle, and GDI objects given
// back over many cycles.
#include <gtest/gtest.h>

#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

HICON g_lastSetIcon;
int g_iconValidWhenSet = -1;

LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_SETICON && w == ICON_BIG) {
        g_lastSetIcon = reinterpret_cast<HICON>(l);
        ICONINFO ii{};
        g_iconValidWhenSet = GetIconInfo(g_lastSetIcon, &ii) ? 1 : 0;
        if (ii.hbmMask) DeleteObject(ii.hbmMask);
        if (ii.hbmColor) DeleteObject(ii.hbmColor);
    }
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

struct Device : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    const DdXDeviceVector* v = ddXDeviceVector();

    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXDeviceTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
    }
    void SetUp() override {
        window = CreateWindowW(L"HvXDeviceTest", L"x device", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                               0, 200, 150, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, 200, 150, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
    }
    void TearDown() override {
        if (ch) {
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (window) DestroyWindow(window);
    }
    template <class T> T* record(uint32_t size) {
        return static_cast<T*>(calloc(1, size));
    }
};

TEST_F(Device, StoredColoursReachTheInstalledPalette) {
    auto* c = static_cast<DiXColormap*>(calloc(1, ddXRecordSizes()->colormap));
    ASSERT_EQ(v->createColormap(d, c), 0);
    v->installColormap(d, c);
    c->entries[10][0] = 1, c->entries[10][1] = 2, c->entries[10][2] = 3;
    c->entries[255][0] = 250, c->entries[255][1] = 251, c->entries[255][2] = 252;
    v->storeColors(d, c, 10, 1);
    v->storeColors(d, c, 255, 9); // a count past the end stops at 256
    HPALETTE pal = ddColorMapPalette(reinterpret_cast<DdXColormapRecord*>(c)->map);
    PALETTEENTRY e[256];
    ASSERT_EQ(GetPaletteEntries(pal, 0, 256, e), 256u);
    EXPECT_EQ(e[10].peRed, 1);
    EXPECT_EQ(e[10].peGreen, 2);
    EXPECT_EQ(e[10].peBlue, 3);
    EXPECT_EQ(e[255].peBlue, 252);
    EXPECT_EQ(e[11].peRed, 0);
    // Freeing the installed colormap takes its palette out of use first.
    v->freeColormap(d, c);
    EXPECT_EQ(GetObjectType(pal), 0u);
    EXPECT_NE(ddGDIGetPalette(gc), pal);
    free(c);
}

TEST_F(Device, FreedCursorLeavesNoContextHoldingIt) {
    auto* c = static_cast<DdXCursorRecord*>(calloc(1, ddXRecordSizes()->cursor));
    uint8_t andPlane[128], xorPlane[128];
    memset(andPlane, 0xF0, sizeof andPlane);
    memset(xorPlane, 0x0F, sizeof xorPlane);
    c->handle = CreateCursor(GetModuleHandleW(nullptr), 1, 1, 32, 32, andPlane, xorPlane);
    ASSERT_NE(c->handle, nullptr);
    ddGDISetCursor(gc, 3);
    v->setCursor(d, gc, &c->c);
    EXPECT_EQ(ddGDIGetCursor(gc), c->handle);
    HCURSOR dead = c->handle;
    v->freeCursor(d, &c->c);
    EXPECT_EQ(c->handle, nullptr);
    EXPECT_NE(ddGDIGetCursor(gc), dead);
    EXPECT_EQ(ddGDIGetCursor(gc), ddGDICursor(3));
    free(c);
}

// A 1-bit cursor shows its source in the request's two colours (GDI order:
// red in the low byte) and is black where hidden, which its AND plane (the
// cursor tests read it) leaves to the screen.
TEST_F(Device, CursorsShowTheirSourceInTheirOwnColours) {
    auto* c = static_cast<DdXCursorRecord*>(calloc(1, ddXRecordSizes()->cursor));
    c->c = DiXCursor{7, 16, 16, 1, 3, 4, RGB(255, 0, 0), RGB(0, 0, 255)};
    uint8_t mask[32] = {}, source[32] = {};
    for (int row = 0; row < 16; row++)
        mask[2 * row] = 0xFF, source[2 * row] = 0xAA; // left half shown, every other pixel set
    ASSERT_EQ(v->createCursor(d, &c->c, mask, source), 0);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(c->handle, &ii));
    ASSERT_NE(ii.hbmColor, nullptr);
    const int cx = GetSystemMetrics(SM_CXCURSOR), cy = GetSystemMetrics(SM_CYCURSOR);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> px(size_t(cx) * size_t(cy));
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(screen, ii.hbmColor, 0, UINT(cy), px.data(), &bi, DIB_RGB_COLORS), cy);
    ReleaseDC(nullptr, screen);
    const uint32_t R = 0xFF0000, B = 0x0000FF;
    EXPECT_EQ(std::vector<uint32_t>(px.begin() + 5 * cx, px.begin() + 5 * cx + 10),
              (std::vector<uint32_t>{R, B, R, B, R, B, R, B, 0, 0}));
    DeleteObject(ii.hbmMask);
    DeleteObject(ii.hbmColor);
    v->freeCursor(d, &c->c);
    free(c);
}

TEST_F(Device, ColourCursorKeepsItsTransparentPixelsInTheMask) {
    auto* c = static_cast<DdXCursorRecord*>(calloc(1, ddXRecordSizes()->cursor));
    c->c = DiXCursor{8, 16, 16, 32, 5, 6, 0, 0};
    // The left half opaque red, the right half and the top row transparent
    // though coloured; one spare byte in front so the pixels sit unaligned
    // as in a request.
    std::vector<uint8_t> bytes(1 + 16 * 16 * 4);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            uint32_t p = x < 8 && y > 0 ? 0xFFFF0000u : 0x0000FF00u;
            memcpy(&bytes[1 + size_t(y * 16 + x) * 4], &p, 4);
        }
    ASSERT_EQ(v->createCursor(d, &c->c, nullptr, bytes.data() + 1), 0);
    ASSERT_NE(c->handle, nullptr);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(c->handle, &ii));
    EXPECT_FALSE(ii.fIcon);
    EXPECT_EQ(ii.xHotspot, 5u);
    EXPECT_EQ(ii.yHotspot, 6u);
    ASSERT_NE(ii.hbmColor, nullptr);
    BITMAP bm{};
    GetObjectW(ii.hbmMask, sizeof bm, &bm);
    ASSERT_EQ(bm.bmWidth, 16);
    ASSERT_EQ(bm.bmHeight, 16); // a colour cursor's mask holds the AND plane only
    std::vector<uint8_t> bits(size_t(bm.bmWidthBytes) * size_t(bm.bmHeight));
    GetBitmapBits(ii.hbmMask, LONG(bits.size()), bits.data());
    EXPECT_EQ(bits[0], 0xFF); // the top row stays on top
    EXPECT_EQ(bits[1], 0xFF);
    for (int y = 1; y < 16; y++) {
        EXPECT_EQ(bits[size_t(y * bm.bmWidthBytes)], 0x00) << y;     // opaque
        EXPECT_EQ(bits[size_t(y * bm.bmWidthBytes) + 1], 0xFF) << y; // transparent
    }
    DeleteObject(ii.hbmMask);
    DeleteObject(ii.hbmColor);
    v->freeCursor(d, &c->c);
    // Short pixels never reach here (the engine refuses them); no pixels fail.
    EXPECT_EQ(v->createCursor(d, &c->c, nullptr, nullptr), -1);
    free(c);
}

// Key events reach the engine as the view made them (virtual-key code and
// character) and leave it as the protocol's key code and character.
TEST_F(Device, KeysAreTranslatedBeforeTheEngineSendsThem) {
    auto press = [&](uint32_t vk, uint32_t character) {
        ch->out.used = 0;
        DiEvent ev{};
        ev.w[0] = 3, ev.w[1] = vk, ev.w[2] = character;
        ch->hdr.handler(&ch->hdr, &ev);
        std::vector<uint32_t> sent; // type, key code, character
        if (ch->out.used == 7)
            sent = {ch->out.data[0], uint32_t(ch->out.data[3] | ch->out.data[4] << 8),
                    uint32_t(ch->out.data[5] | ch->out.data[6] << 8)};
        return sent;
    };
    EXPECT_EQ(press(13, 13), (std::vector<uint32_t>{23, 10, 0}));   // Return
    EXPECT_EQ(press(176, 13), (std::vector<uint32_t>{23, 10, 13})); // keypad Enter folds
    EXPECT_EQ(press(161, 0), (std::vector<uint32_t>{23, 16, 0}));   // right Shift folds
    EXPECT_EQ(press(32, 32), (std::vector<uint32_t>{23, 32, 32}));
    EXPECT_EQ(press('A', 'a'), (std::vector<uint32_t>{23, 0, 'a'}));
    d->flags |= DI_XFLAG_MODMAP; // keep the right-hand keys apart
    EXPECT_EQ(press(176, 13), (std::vector<uint32_t>{23, 176, 13}));
    EXPECT_EQ(press(161, 0), (std::vector<uint32_t>{23, 161, 0}));
    // A release is translated too.
    ch->out.used = 0;
    DiEvent up{};
    up.w[0] = 4, up.w[1] = 13, up.w[2] = 13;
    ch->hdr.handler(&ch->hdr, &up);
    ASSERT_EQ(ch->out.used, 7u);
    EXPECT_EQ(ch->out.data[0], 24);
    EXPECT_EQ(ch->out.data[3], 10);
    EXPECT_EQ(ch->out.data[5], 0);
}

// The view closing (SC_CLOSE, sent as its window goes) leaves the display
// drawing nowhere: an expose that comes later paints nothing.
TEST_F(Device, ClosedViewIsNotPaintedAgain) {
    d->screenWidth = 200, d->screenHeight = 150, d->depth = 24;
    ASSERT_EQ(diXDECreateScreen(d), 0);
    HDC dc = GetDC(window);
    PatBlt(dc, 0, 0, 200, 150, WHITENESS);
    DiEvent ev{};
    ev.w[0] = 17, ev.w[1] = SC_CLOSE;
    ch->hdr.handler(&ch->hdr, &ev);
    ev = DiEvent{};
    ev.w[0] = 14, ev.w[4] = 200, ev.w[5] = 150; // expose of the root
    ch->hdr.handler(&ch->hdr, &ev);
    GdiFlush();
    EXPECT_EQ(GetPixel(dc, 3, 3), RGB(255, 255, 255)); // not the buffer's black
    ReleaseDC(window, dc);
}

TEST_F(Device, ConnectValuesCarryTheWindowsSidesBits) {
    EXPECT_EQ(d->connectByte, 3);
    EXPECT_EQ(d->featureBits, 0xF7B7);
    EXPECT_EQ(d->engineFlags, 7u);
}

TEST_F(Device, FocusFollowsTheViewAndEndsWithTheDisplay) {
    DiEvent ev{};
    ev.w[0] = 12;
    ch->hdr.handler(&ch->hdr, &ev);
    EXPECT_EQ(g_ddXFocusedDisplay, d);
    ev.w[0] = 13;
    ch->hdr.handler(&ch->hdr, &ev);
    EXPECT_EQ(g_ddXFocusedDisplay, nullptr);
    ev.w[0] = 12;
    ch->hdr.handler(&ch->hdr, &ev);
    ch->hdr.gc = nullptr;
    ddXDEDestroy(ch);
    ch = nullptr;
    // A later display at the same address must not count as focused.
    EXPECT_EQ(g_ddXFocusedDisplay, nullptr);
}

TEST_F(Device, EditMenuCopiesTheWindowAndAsksForTheSessionClipboardOnlyWhenAvailable) {
    DiEvent ev{};
    ev.w[0] = 17, ev.w[1] = 40061;
    ch->hdr.handler(&ch->hdr, &ev);
    EXPECT_EQ(ch->out.used, 0u); // no session clipboard: nothing asked
    d->flags |= DI_XFLAG_SESSION_CLIPBOARD;
    ch->hdr.handler(&ch->hdr, &ev);
    ASSERT_EQ(ch->out.used, 3u);
    EXPECT_EQ(ch->out.data[0], 45);

    // Copy window: the window's pixels reach CF_BITMAP.
    HDC dc = GetDC(window);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT all{0, 0, 400, 400};
    FillRect(dc, &all, red);
    DeleteObject(red);
    ReleaseDC(window, dc);
    ev.w[1] = 40063;
    ch->hdr.handler(&ch->hdr, &ev);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HBITMAP bmp = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    ASSERT_NE(bmp, nullptr);
    BITMAP info{};
    GetObject(bmp, sizeof info, &info);
    RECT rc;
    GetClientRect(window, &rc);
    EXPECT_EQ(info.bmWidth, rc.right);
    EXPECT_EQ(info.bmHeight, rc.bottom);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    EXPECT_EQ(GetPixel(mem, 3, 3), RGB(255, 0, 0));
    SelectObject(mem, old);
    DeleteDC(mem);
    CloseClipboard();
}

struct IconFixture : Device {
    DiXFrame frame{};
    DiXWindow* w = nullptr;
    DiXPixmap* image = nullptr;
    void SetUp() override {
        Device::SetUp();
        frame.hdr.gc = gc;
        w = static_cast<DiXWindow*>(calloc(1, ddXRecordSizes()->window));
        w->head.id = 1;
        w->frame = &frame;
        image = static_cast<DiXPixmap*>(calloc(1, sizeof(DiXPixmap)));
        image->head.kind = 1, image->head.width = 21, image->head.height = 13;
        image->head.depth = 24;
        ASSERT_EQ(v->createPixmap(d, image), 0);
    }
    void TearDown() override {
        if (w) v->freeWindow(d, w); // destroys the icon it holds
        free(w);
        if (image) v->freePixmap(d, image), free(image);
        Device::TearDown();
    }
};

TEST_F(IconFixture, NewIconIsSetBeforeTheOldOneDies) {
    auto* r = reinterpret_cast<DdXWindowRecord*>(w);
    v->setIcon(d, w, image, nullptr);
    HICON first = r->icon;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(g_lastSetIcon, first);
    v->setIcon(d, w, image, nullptr);
    EXPECT_NE(r->icon, first);
    EXPECT_EQ(g_lastSetIcon, r->icon);
    EXPECT_EQ(g_iconValidWhenSet, 1);
    ICONINFO ii{};
    EXPECT_FALSE(GetIconInfo(first, &ii)); // the old one is gone
    // An icon that cannot be made leaves the frame's icon alive.
    HICON kept = r->icon;
    DiXPixmap bad{};
    bad.head.depth = 1, bad.head.width = 4, bad.head.height = 4;
    v->setIcon(d, w, &bad, nullptr);
    EXPECT_EQ(r->icon, kept);
    EXPECT_TRUE(GetIconInfo(kept, &ii));
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
}

// The icon as the frame draws it over red: pixels the mask hides show the
// red, shown ones the image (depth 1: black where its bit is set, white
// where clear; depth 8: the colour of the display colormap's cell).
TEST_F(IconFixture, IconShowsTheImageOnlyWhereTheMaskDoes) {
    auto pixmap = [&](uint32_t depth) {
        auto* p = static_cast<DiXPixmap*>(calloc(1, sizeof(DiXPixmap)));
        p->head.kind = 1, p->head.width = 8, p->head.height = 2, p->head.depth = depth;
        EXPECT_EQ(v->createPixmap(d, p), 0);
        return p;
    };
    auto fillBits = [](DiXPixmap* p, uint8_t rowByte) {
        FbBuffer& b = p->head.fb;
        for (int32_t y = 0; y < b.height; y++)
            memset(b.bits + size_t(y) * b.stride, rowByte, size_t(b.stride));
    };
    const uint32_t kRed = 0xFF0000, kBlack = 0, kWhite = 0xFFFFFF, kGrey = 0x404040,
                   kCell = 0x0AC81E;
    ASSERT_EQ(diXCreateColormap(d, 0, 0, 256), 0);
    d->colormap->entries[0x40][0] = 10, d->colormap->entries[0x40][1] = 200,
    d->colormap->entries[0x40][2] = 30;
    v->storeColors(d, d->colormap, 0x40, 1);
    struct Case {
        uint32_t depth;
        uint8_t imageByte;
        std::vector<uint32_t> want; // columns 0-7
    } cases[] = {
        {1, 0x07, {kBlack, kBlack, kBlack, kWhite, kWhite, kWhite, kRed, kRed}},
        {24, 0x40, {kGrey, kGrey, kGrey, kGrey, kGrey, kGrey, kRed, kRed}},
        {8, 0x40, {kCell, kCell, kCell, kCell, kCell, kCell, kRed, kRed}},
    };
    for (const Case& c : cases) {
        DiXPixmap* img = pixmap(c.depth);
        DiXPixmap* mask = pixmap(1);
        fillBits(img, c.imageByte);
        fillBits(mask, 0x3F); // columns 0-5 shown
        auto* r = reinterpret_cast<DdXWindowRecord*>(w);
        v->setIcon(d, w, img, mask);
        ASSERT_NE(r->icon, nullptr) << c.depth;
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        uint32_t* px = nullptr;
        HDC mem = CreateCompatibleDC(nullptr);
        HBITMAP dib =
            CreateDIBSection(mem, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&px), nullptr, 0);
        HGDIOBJ old = SelectObject(mem, dib);
        for (int i = 0; i < 16; i++)
            px[i] = kRed;
        DrawIconEx(mem, 0, 0, r->icon, 8, 2, 0, nullptr, DI_NORMAL);
        GdiFlush();
        EXPECT_EQ(std::vector<uint32_t>(px, px + 8), c.want) << "depth " << c.depth;
        SelectObject(mem, old);
        DeleteObject(dib);
        DeleteDC(mem);
        for (DiXPixmap* p : {img, mask}) {
            v->freePixmap(d, p);
            free(p);
        }
    }
}

TEST_F(IconFixture, ManyIconsAndPalettesGiveEveryHandleBack) {
    auto* c = static_cast<DiXColormap*>(calloc(1, ddXRecordSizes()->colormap));
    auto cycle = [&](int n) {
        for (int i = 0; i < n; i++) {
            v->setIcon(d, w, image, nullptr);
            ASSERT_EQ(v->createColormap(d, c), 0);
            v->installColormap(d, c);
            v->storeColors(d, c, uint32_t(i % 256), 1);
            v->freeColormap(d, c);
        }
    };
    cycle(20); // warm-up: caches settle
    int before = freeGdiHandles();
    cycle(1000);
    EXPECT_GE(freeGdiHandles(), before);
    free(c);
}

} // namespace

// The client messages buffered on a display without a socket, as (type,
// payload) pairs.
std::vector<std::pair<uint8_t, std::vector<uint8_t>>> sentMessages(DiXDisplay* d) {
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> v;
    const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
    const uint8_t* end = d->ch.out.data + d->ch.out.used;
    while (end - p >= 3) {
        uint32_t n = p[1] | uint32_t(p[2]) << 8;
        if (uint32_t(end - p - 3) < n) break;
        v.push_back({p[0], std::vector<uint8_t>(p + 3, p + 3 + n)});
        p += 3 + n;
    }
    return v;
}

// Multi-window mode through the engine: each top-level window gets its own
// frame, the borders the server learns are the frame's real ones, a key on
// the frame's view reaches the server translated, and the frame is gone for
// good with its window.
TEST_F(Device, MultiWindowFramesCarryTheirWindows) {
    ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
    d->sessionFlags |= DI_XSESSION_MULTI;
    d->screenWidth = 200, d->screenHeight = 150, d->depth = 24;
    ASSERT_EQ(diXDECreateScreen(d), 0);
    diXCreateWindow(d, 1, 10, 20, 120, 80, 4 | 8 | 16, 0, 0, 0);
    diXCreateWindow(d, 2, 40, 50, 60, 30, 0, 0, 0, 0);
    ASSERT_NE(d->windows[1], nullptr);
    ASSERT_NE(d->windows[2], nullptr);
    DiXFrame* f1 = d->windows[1]->frame;
    DiXFrame* f2 = d->windows[2]->frame;
    ASSERT_NE(f1, nullptr);
    ASSERT_NE(f2, nullptr);
    HWND view1 = ddGDIGetWindow(f1->hdr.gc);
    HWND frame1 = GetAncestor(view1, GA_ROOT),
         frame2 = GetAncestor(ddGDIGetWindow(f2->hdr.gc), GA_ROOT);
    ASSERT_NE(frame1, view1);
    ASSERT_NE(frame1, frame2);
    ASSERT_NE(frame1, window);

    // Client geometry: the X size is the frame's client area.
    RECT wr, cr;
    ASSERT_TRUE(GetWindowRect(frame1, &wr));
    ASSERT_TRUE(GetClientRect(frame1, &cr));
    EXPECT_EQ(cr.right, 120);
    EXPECT_EQ(cr.bottom, 80);
    POINT origin{0, 0};
    ClientToScreen(frame1, &origin);
    int want1[4] = {origin.x - wr.left, wr.right - origin.x - cr.right, origin.y - wr.top,
                    wr.bottom - origin.y - cr.bottom};
    EXPECT_GT(want1[2], want1[3]); // the caption is on top

    // Return on the first frame's view: the protocol's code 10, no character.
    SendMessageW(view1, WM_KEYDOWN, VK_RETURN, 0x001C0001);

    auto sent = sentMessages(d);
    std::vector<std::vector<uint8_t>> created, keys;
    for (auto& m : sent) {
        if (m.first == 38) created.push_back(m.second);
        if (m.first == 23) keys.push_back(m.second);
    }
    ASSERT_EQ(created.size(), 2u);
    ASSERT_EQ(created[0].size(), 9u);
    EXPECT_EQ(created[0][0], 1);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(created[0][1 + 2 * i] | created[0][2 + 2 * i] << 8, want1[i]) << i;
    // An undecorated window has no borders.
    EXPECT_EQ(created[1], (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], (std::vector<uint8_t>{10, 0, 0, 0}));

    // Titles: the icon title only while iconic, an absent one empty.
    auto text = [](const char16_t* t) {
        size_t n = std::char_traits<char16_t>::length(t) + 1;
        auto* p = static_cast<DiChar*>(malloc(n * sizeof(DiChar)));
        memcpy(p, t, n * sizeof(DiChar));
        return p;
    };
    f1->title = text(u"edit");
    f1->iconTitle = text(u"ed");
    d->dev->frameChanged(d, d->windows[1]);
    wchar_t caption[16] = L"?";
    GetWindowTextW(frame1, caption, 16);
    EXPECT_STREQ(caption, L"edit");
    f1->showState = 2;
    d->dev->frameChanged(d, d->windows[1]);
    GetWindowTextW(frame1, caption, 16);
    EXPECT_STREQ(caption, L"ed");
    d->dev->frameChanged(d, d->windows[2]);
    GetWindowTextW(frame2, caption, 16);
    EXPECT_STREQ(caption, L"");

    diXDestroyWindow(d, 1);
    EXPECT_FALSE(IsWindow(frame1));
    EXPECT_FALSE(IsWindow(view1));
    EXPECT_TRUE(IsWindow(frame2));
    diXDestroyAllWindows(d);
    EXPECT_FALSE(IsWindow(frame2));
}

// A multi-window frame made after colours were stored blits the buffer's
// palette indexes through the colormap's palette, not the default one.
TEST_F(Device, FrameMadeAfterStoreColorsBlitsThroughTheColormapsPalette) {
    ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
    d->sessionFlags |= DI_XSESSION_MULTI;
    d->screenWidth = 200, d->screenHeight = 150, d->depth = 8;
    ASSERT_EQ(diXDECreateScreen(d), 0);
    const uint8_t cell[4] = {7, 0x33, 0x66, 0x99};
    d->ops->storeColors(d, 1, cell);
    diXCreateWindow(d, 1, 10, 20, 120, 80, 0, 0, 0, 0);
    ASSERT_TRUE(d->windows[1] && d->windows[1]->frame);
    d->ops->setForeground(d, 7);
    const int32_t area[4] = {10, 20, 120, 80};
    d->ops->polyFillRectangle(d, 1, area);
    const DiBox box{10, 20, 130, 100};
    v->paint(d, d->windows[1], 1, &box);
    const FbBuffer& b = d->windows[0]->head.fb; // the DIB's index at (60, 50)
    const uint8_t i =
        static_cast<const uint8_t*>(b.dibBits)[size_t(b.height - 51) * b.dibStride + 60];
    HDC view = ddGDIGetDC(d->windows[1]->frame->hdr.gc);
    PALETTEENTRY e{};
    EXPECT_EQ(GetPaletteEntries(static_cast<HPALETTE>(GetCurrentObject(view, OBJ_PAL)), i, 1, &e),
              1u);
    EXPECT_EQ(RGB(e.peRed, e.peGreen, e.peBlue), RGB(0x33, 0x66, 0x99));
    diXDestroyAllWindows(d);
}
