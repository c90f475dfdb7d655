// Display scaling on a real frame: a fake X engine hands its image, depth
// and root device context to the scaler through the engine-surface hook,
// and the scaler's DIB section, its memory context and the window are read
// back. Each run has an Xvfb of its own (8, 16 or 24 bits), so the window
// read back is not covered by other tests' windows.
#include "fb/fb.h"
#include "frame_fixture.h"
#include "ui/ddcolor.h"
#include "ui/ddscale.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>

namespace {

struct FakeX {
    DiObject* engine = nullptr;
    int32_t depth = 0;
    uint32_t bpp = 0;
    HDC rootDC = nullptr;
};
FakeX g_fake;

int fakeSurface(DiObject* engine, DdXEngineSurface* out) {
    if (!g_fake.engine || engine != g_fake.engine) return 0;
    out->depth = g_fake.depth;
    out->bytesPerPixel = g_fake.bpp;
    out->rootDC = g_fake.rootDC;
    return 1;
}

int screenDepth() {
    HDC dc = GetDC(nullptr);
    int d = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
    ReleaseDC(nullptr, dc);
    return d;
}

// The pixels of `dc` in (0, 0, w, h) as 0x00RRGGBB, through a 32-bit DIB.
std::vector<uint32_t> readBack(HDC dc, int32_t w, int32_t h) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bm);
    BitBlt(mem, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> out(static_cast<uint32_t*>(bits),
                              static_cast<uint32_t*>(bits) + size_t(w) * h);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bm);
    for (uint32_t& v : out)
        v &= 0xFFFFFF;
    return out;
}

struct EngineFormat {
    int32_t depth;
    uint32_t bpp;
};
const EngineFormat kEngineFormats[] = {{8, 1}, {16, 2}, {24, 3}, {24, 4}};
const int kCells = 16;

class Scaled : public ::testing::Test {
  protected:
    std::unique_ptr<TestFrame> fr;
    DdColorMap* map = nullptr;
    HDC root = nullptr;
    int depth = 0;
    FbBuffer image{};

    DiObject* engine() { return &fr->engine.hdr; }
    DiScaler* scaler() { return fr->engine.hdr.scaler; }
    void dropFrame() {
        if (!fr) return;
        diScaleFree(scaler());
        fr->engine.hdr.scaler = nullptr;
        fr->destroy();
        fr.reset();
    }
    DdScaleResources* res() { return static_cast<DdScaleResources*>(scaler()->resources); }

    void SetUp() override {
        depth = screenDepth();
        g_ddApp->depth = depth;
        map = ddColorMapCreate(depth, -1, -1);
        ASSERT_NE(nullptr, map);
        std::mt19937 rng(5);
        for (int i = 0; i < kCells; i++)
            ddColorAllocXColor(map, ddColorMapCell(map, uint32_t(i)), rng() & 0xFFFFFF);
        if (depth <= 8) {
            ASSERT_EQ(0, fbDitherInit(map->cubeSize));
            ddColorUpdatePalette(map);
        }
    }
    void TearDown() override {
        freeImage();
        dropFrame();
        g_fake = FakeX();
        g_ddXHooks.engineSurface = nullptr;
        if (map) ddColorMapDestroy(map);
    }
    void freeImage() {
        if (image.bits) fbDestroyPixmap(nullptr, &image);
        image = FbBuffer();
    }

    // A frame over an X engine of virtual size vw x vh whose client area is
    // cw x ch, with a scaler attached; the engine takes its size from the
    // geometry its view reports, as the X engine does.
    void makeFrame(int32_t vw, int32_t vh, int32_t cw, int32_t ch, EngineFormat fmt) {
        dropFrame();
        fr.reset(new TestFrame);
        fr->create(1, DI_OBJ_XDE, vw, vh);
        fr->engine.onEvent = [](TestEngine* e, DiEvent* ev) {
            if (ev->w[0] == DI_EV_GEOMETRY) {
                e->hdr.width = int32_t(ev->w[4]);
                e->hdr.height = int32_t(ev->w[5]);
            } else if (ev->w[0] == DI_EV_EXPOSE && e->hdr.scaler) {
                HDC mem = ddScaleDC(e->hdr.scaler);
                if (mem)
                    BitBlt(g_fake.rootDC, 0, 0, e->hdr.scaler->dstWidth, e->hdr.scaler->dstHeight,
                           mem, 0, 0, SRCCOPY);
            }
            return 1;
        };
        root = GetDC(fr->engineView()); // the view class keeps its own context
        if (depth <= 8) {
            // As the engine installs its colour map: the frame realises it.
            ddUISetFramePalette(fr->frame, ddColorMapPalette(map));
            SelectPalette(root, ddColorMapPalette(map), FALSE);
            RealizePalette(root);
        }
        g_fake.engine = engine();
        g_fake.depth = fmt.depth;
        g_fake.bpp = fmt.bpp;
        g_fake.rootDC = root;
        g_ddXHooks.engineSurface = fakeSurface;
        resizeClient(cw, ch);
        fr->show();
        diScaleAttach(diScaleCreate(), engine());
        ddUIAddScalingMenu(fr->frame, 0);
    }

    void resizeClient(int32_t cw, int32_t ch) {
        RECT r = {0, 0, cw, ch};
        AdjustWindowRectEx(&r, DWORD(GetWindowLongW(fr->window(), GWL_STYLE)), FALSE,
                           DWORD(GetWindowLongW(fr->window(), GWL_EXSTYLE)));
        SetWindowPos(fr->window(), HWND_TOP, 10, 10, r.right - r.left, r.bottom - r.top, 0);
        pumpMessages();
    }

    // The engine's image: bands of flat colour, a gradient and noise.
    void makeImage(EngineFormat fmt, uint32_t seed) {
        freeImage();
        image.width = engine()->vwidth;
        image.height = engine()->vheight;
        image.depth = uint32_t(fmt.depth);
        image.bytesPerPixel = fmt.bpp == 4 ? 4 : 0;
        ASSERT_EQ(0, fbCreatePixmap(nullptr, &image));
        std::mt19937 rng(seed);
        for (int32_t y = 0; y < image.height; y++) {
            uint8_t* row = image.bits + size_t(image.height - 1 - y) * image.stride;
            for (int32_t x = 0; x < image.width; x++) {
                uint32_t v;
                if (fmt.bpp == 1)
                    v = y < image.height / 3 ? uint32_t(x / 8) % kCells : rng() % kCells;
                else if (y < image.height / 3)
                    v = (x / 16) % 2 ? 0xFFFFFFFF : 0x00336699;
                else if (y < 2 * image.height / 3)
                    v = uint32_t(x * 255 / image.width) * 0x010101u;
                else
                    v = rng();
                if (fmt.bpp == 2) v = (v >> 8 & 0xF800) | (v >> 5 & 0x07E0) | (v >> 3 & 0x1F);
                if (fmt.bpp == 4) v &= 0xFFFFFF;
                memcpy(row + size_t(x) * fmt.bpp, &v, fmt.bpp);
            }
        }
    }

    // What the DIB must hold after the whole image is rendered: the scaler
    // of the mode for the source and output pixel sizes, then on palette
    // screens the dither of the intermediate's kind.
    std::vector<uint8_t> expectedDIB(EngineFormat fmt, int mode, uint32_t* rowBytes) {
        const DiScaler* s = scaler();
        bool palette = depth <= 8;
        uint32_t outBpp = !palette                ? uint32_t(depth / 8)
                          : fmt.bpp != 1          ? fmt.bpp
                          : mode == DI_SCALE_FAST ? 1
                                                  : 3;
        FbScaleFn fn =
            (mode == DI_SCALE_FAST ? g_fbScaleNearest : g_fbScaleAverage)[fmt.bpp - 1][outBpp - 1];
        EXPECT_NE(nullptr, fn);
        if (!fn) return {};
        uint32_t tw = uint32_t(s->dstWidth), th = uint32_t(s->dstHeight);
        uint32_t stride = fbScaleStride(tw, outBpp);
        std::vector<uint8_t> out(size_t(stride) * th);
        FbScaleSize size = {uint32_t(s->srcWidth), uint32_t(s->srcHeight), tw, th};
        fn(&size, map, image.bits, out.data(), 0, 0, int32_t(tw), int32_t(th), s->srcHeight - 1,
           s->dstHeight - 1);
        *rowBytes = tw * outBpp;
        if (!palette) return out;
        uint32_t dibStride = (tw + 3) & ~3u;
        std::vector<uint8_t> dib(size_t(dibStride) * th);
        FbDitherImage im = {tw, th, out.data(), stride, dib.data(), dibStride};
        DiScaleConvertFn convert = outBpp == 1                   ? fbDither8
                                   : outBpp == 3 && fmt.bpp == 1 ? fbDitherRGB24
                                   : outBpp == 2                 ? fbDither16
                                   : outBpp == 3                 ? fbDither24
                                                                 : fbDither32;
        convert(map, &im, 0, 0, int32_t(tw), int32_t(th));
        *rowBytes = tw;
        return dib;
    }

    // Renders the whole image and checks the DIB, then the window against
    // the memory context.
    void renderAndCheck(EngineFormat fmt, int mode) {
        const DiScaler* s = scaler();
        ASSERT_TRUE(s->active) << "mode " << s->mode << " source " << s->srcWidth << "x"
                               << s->srcHeight << " target " << s->dstWidth << "x" << s->dstHeight;
        ASSERT_NE(nullptr, res()) << "no DIB section";
        RECT client;
        GetClientRect(fr->engineView(), &client);
        EXPECT_EQ(s->dstWidth, client.right) << "the view is the target size";
        EXPECT_EQ(s->dstHeight, client.bottom);
        EXPECT_EQ(depth <= 8 ? 8 : depth, res()->dibDepth);
        int32_t out[4];
        ASSERT_EQ(1,
                  ddScaleRenderRect(engine(), map, &image, 0, 0, image.width, image.height, out));
        EXPECT_EQ(0, out[0]);
        EXPECT_EQ(0, out[1]);
        EXPECT_EQ(s->dstWidth, out[2]);
        EXPECT_EQ(s->dstHeight, out[3]);
        uint32_t rowBytes = 0;
        std::vector<uint8_t> want = expectedDIB(fmt, mode, &rowBytes);
        ASSERT_FALSE(want.empty());
        const uint8_t* bits = static_cast<const uint8_t*>(res()->dibBits);
        size_t stride = want.size() / size_t(s->dstHeight);
        EXPECT_EQ(stride, res()->dibStride);
        for (int32_t r = 0; r < s->dstHeight; r++)
            ASSERT_EQ(0, memcmp(bits + r * stride, want.data() + r * stride, rowBytes))
                << "DIB row " << r;
        pumpMessages();
        HDC mem = ddScaleDC(scaler());
        ASSERT_NE(nullptr, mem);
        BitBlt(root, 0, 0, s->dstWidth, s->dstHeight, mem, 0, 0, SRCCOPY);
        GdiFlush();
        std::vector<uint32_t> onScreen = readBack(root, s->dstWidth, s->dstHeight);
        std::vector<uint32_t> inMemory = readBack(mem, s->dstWidth, s->dstHeight);
        if (depth <= 8) {
            // The X server shows the palette's colours as near as its own
            // colour map allows: compare with the memory context as copied
            // into a bitmap of the screen's format.
            HBITMAP ddb = CreateCompatibleBitmap(root, s->dstWidth, s->dstHeight);
            HDC screenMem = CreateCompatibleDC(root);
            HGDIOBJ old = SelectObject(screenMem, ddb);
            HPALETTE oldPal = SelectPalette(screenMem, ddColorMapPalette(map), FALSE);
            RealizePalette(screenMem);
            BitBlt(screenMem, 0, 0, s->dstWidth, s->dstHeight, mem, 0, 0, SRCCOPY);
            inMemory = readBack(screenMem, s->dstWidth, s->dstHeight);
            SelectPalette(screenMem, oldPal, FALSE);
            SelectObject(screenMem, old);
            DeleteDC(screenMem);
            DeleteObject(ddb);
        }
        if (depth > 8 && fmt.bpp != 1) {
            // The flat band at the top left: channels and masks in place.
            int32_t tx = 8 * s->dstWidth / s->srcWidth, ty = 5 * s->dstHeight / s->srcHeight;
            uint32_t got = inMemory[size_t(ty) * s->dstWidth + tx];
            for (int shift : {16, 8, 0})
                EXPECT_NEAR(int(0x336699 >> shift & 0xFF), int(got >> shift & 0xFF), 12)
                    << std::hex << got;
        }
        size_t differ = 0;
        for (size_t i = 0; i < onScreen.size(); i++)
            differ += onScreen[i] != inMemory[i];
        EXPECT_EQ(0u, differ) << "pixels of the window unlike the memory context";
    }
};

// Every engine format, fast and smooth, enlarging and shrinking, the mode
// chosen from the system menu.
TEST_F(Scaled, DIBHoldsTheScaledImageAndTheWindowShowsIt) {
    struct Size {
        int32_t vw, vh, cw, ch;
    };
    const Size sizes[] = {{160, 120, 403, 301}, {640, 480, 297, 223}};
    for (const EngineFormat& fmt : kEngineFormats) {
        for (const Size& sz : sizes) {
            for (int mode : {DI_SCALE_FAST, DI_SCALE_SMOOTH}) {
                SCOPED_TRACE("engine " + std::to_string(fmt.depth) + "/" + std::to_string(fmt.bpp) +
                             " source " + std::to_string(sz.vw) + " mode " + std::to_string(mode));
                makeFrame(sz.vw, sz.vh, sz.cw, sz.ch, fmt);
                SendMessageW(fr->window(), WM_SYSCOMMAND, UINT(mode + 1), 0);
                pumpMessages();
                ASSERT_EQ(mode, scaler()->mode);
                makeImage(fmt, uint32_t(sz.vw + mode));
                renderAndCheck(fmt, mode);
            }
        }
    }
}

// A damaged source rectangle repaints its part of the target and nothing
// else: inside the returned rectangle the DIB is that of the new image,
// outside it that of the old.
TEST_F(Scaled, DamageRendersOnlyItsTargetRectangle) {
    const EngineFormat formats[] = {{8, 1}, {16, 2}};
    for (const EngineFormat& fmt : formats) {
        for (int mode : {DI_SCALE_FAST, DI_SCALE_SMOOTH}) {
            SCOPED_TRACE("engine " + std::to_string(fmt.depth) + " mode " + std::to_string(mode));
            makeFrame(200, 150, 333, 251, fmt);
            SendMessageW(fr->window(), WM_SYSCOMMAND, UINT(mode + 1), 0);
            pumpMessages();
            makeImage(fmt, 10);
            renderAndCheck(fmt, mode);
            uint32_t rowBytes = 0;
            std::vector<uint8_t> before = expectedDIB(fmt, mode, &rowBytes);
            makeImage(fmt, 11);
            std::vector<uint8_t> after = expectedDIB(fmt, mode, &rowBytes);
            int32_t out[4];
            ASSERT_EQ(1, ddScaleRenderRect(engine(), map, &image, 101, 37, 50, 40, out));
            const DiScaler* s = scaler();
            EXPECT_GT(out[0], 0);
            EXPECT_GT(out[1], 0);
            EXPECT_LT(out[0] + out[2], s->dstWidth);
            EXPECT_LT(out[1] + out[3], s->dstHeight);
            // The damage's own pixels are inside.
            EXPECT_LE(out[0], 101 * s->dstWidth / 200);
            EXPECT_GE(out[0] + out[2], 151 * s->dstWidth / 200);
            const uint8_t* bits = static_cast<const uint8_t*>(res()->dibBits);
            size_t stride = res()->dibStride, px = rowBytes / size_t(s->dstWidth);
            size_t wrong = 0;
            for (int32_t y = 0; y < s->dstHeight; y++) {
                size_t row = size_t(s->dstHeight - 1 - y) * stride;
                for (int32_t x = 0; x < s->dstWidth; x++) {
                    bool inside =
                        x >= out[0] && x < out[0] + out[2] && y >= out[1] && y < out[1] + out[3];
                    const std::vector<uint8_t>& want = inside ? after : before;
                    wrong += memcmp(bits + row + x * px, want.data() + row + x * px, px) != 0;
                }
            }
            EXPECT_EQ(0u, wrong);
        }
    }
}

// Scroll Lock and the menu through the hooks the window start-up installs:
// off and back to the last mode, the view following each time.
TEST_F(Scaled, ScrollLockAndMenuSwitchModesThroughTheStartUpHooks) {
    const EngineFormat fmt = {16, 2};
    makeFrame(320, 240, 500, 380, fmt);
    makeImage(fmt, 1);
    SendMessageW(fr->window(), WM_SYSCOMMAND, 2, 0); // fast
    pumpMessages();
    EXPECT_EQ(DI_SCALE_FAST, scaler()->mode);
    renderAndCheck(fmt, DI_SCALE_FAST);
    SetFocus(fr->engineView());
    PostMessageW(fr->engineView(), WM_KEYDOWN, VK_SCROLL, keyLParam(0x46, false));
    pumpMessages();
    EXPECT_EQ(DI_SCALE_NONE, scaler()->mode);
    EXPECT_FALSE(scaler()->active);
    RECT client;
    GetClientRect(fr->engineView(), &client);
    EXPECT_LE(client.right, 320) << "unscaled, the view is at most the engine's size";
    PostMessageW(fr->engineView(), WM_KEYDOWN, VK_SCROLL, keyLParam(0x46, false));
    pumpMessages();
    EXPECT_EQ(DI_SCALE_FAST, scaler()->mode);
    // Unscaled, the frame fitted itself to the engine: at equal sizes the
    // scaler stays inactive until the frame is made larger again.
    EXPECT_FALSE(scaler()->active);
    resizeClient(520, 390);
    renderAndCheck(fmt, DI_SCALE_FAST);
    SendMessageW(fr->window(), WM_SYSCOMMAND, 3, 0); // smooth
    pumpMessages();
    renderAndCheck(fmt, DI_SCALE_SMOOTH);
}

// A new virtual size is taken even when the window keeps its size, and an
// image of the old size is then not read.
TEST_F(Scaled, NewVirtualSizeIsTakenAndOldImagesAreRefused) {
    const EngineFormat fmt = {24, 4};
    makeFrame(320, 240, 400, 300, fmt);
    SendMessageW(fr->window(), WM_SYSCOMMAND, 3, 0);
    pumpMessages();
    makeImage(fmt, 2);
    engine()->vwidth = 200;
    engine()->vheight = 100;
    g_ddXHooks.scaleResize(engine(), 0);
    EXPECT_EQ(200, scaler()->srcWidth);
    EXPECT_EQ(100, scaler()->srcHeight);
    int32_t out[4] = {1, 1, 1, 1};
    EXPECT_EQ(0, ddScaleRenderRect(engine(), map, &image, 0, 0, 320, 240, out));
    EXPECT_EQ(0, out[2]);
    makeImage(fmt, 3);
    renderAndCheck(fmt, DI_SCALE_SMOOTH);
}

// Screens of 4 bits take the 8-bit path (a 4-bit header is refused by
// the bitmap functions, which would leave the view blank).
TEST_F(Scaled, FourBitScreensUseAnEightBitDIB) {
    const EngineFormat fmt = {16, 2};
    makeFrame(160, 120, 320, 240, fmt);
    g_ddApp->depth = 4;
    SendMessageW(fr->window(), WM_SYSCOMMAND, 2, 0);
    pumpMessages();
    ASSERT_NE(nullptr, res());
    EXPECT_EQ(8, res()->dibDepth);
    EXPECT_EQ(1u, res()->usesInter);
    EXPECT_NE(nullptr, res()->dib);
    makeImage(fmt, 4);
    int32_t out[4];
    EXPECT_EQ(1, ddScaleRenderRect(engine(), map, &image, 0, 0, 160, 120, out));
}

// Kept on screen for a screenshot when HV_SCALE_HOLD gives seconds; also
// the case run at another LogPixels (HV_EXPECT_LOGPIXELS): the view still
// fills the frame's client area pixel for pixel.
TEST_F(Scaled, ScaledViewFillsTheClientArea) {
    const EngineFormat fmt = {24, 4};
    makeFrame(320, 200, 640, 400, fmt);
    SetWindowTextW(fr->window(), L"Scaled view");
    SendMessageW(fr->window(), WM_SYSCOMMAND, 3, 0);
    pumpMessages();
    if (const char* dpi = getenv("HV_EXPECT_LOGPIXELS")) {
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(atoi(dpi), GetDeviceCaps(dc, LOGPIXELSX)) << "the setting did not take";
        ReleaseDC(nullptr, dc);
    }
    RECT frameClient, view;
    GetClientRect(fr->window(), &frameClient);
    GetClientRect(fr->engineView(), &view);
    EXPECT_EQ(640, frameClient.right);
    EXPECT_EQ(400, frameClient.bottom);
    EXPECT_EQ(frameClient.right, view.right);
    EXPECT_EQ(frameClient.bottom, view.bottom);
    makeImage(fmt, 6);
    renderAndCheck(fmt, DI_SCALE_SMOOTH);
    if (const char* hold = getenv("HV_SCALE_HOLD")) {
        DWORD end = GetTickCount() + DWORD(atoi(hold)) * 1000;
        while (GetTickCount() < end) {
            pumpMessages();
            Sleep(50);
        }
    }
}

} // namespace
