// Graphics wrappers against the real GDI (under Wine on Xvfb; the program is
// run at screen depths 8, 16 and 24). Pixels are read back from a 32-bit DIB
// section, whose layout does not depend on the screen.
#include <gtest/gtest.h>

#include "ui/ddgdi.h"

#include <vector>

namespace {

void line(DdGC* gc, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const DdGCPoint pts[2] = {{x1, y1}, {x2, y2}};
    ddGDIPolyline(gc, 2, pts);
}

// A memory device context over a top-down 32-bit DIB section.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int width, height;

    Surface(int w, int h) : width(w), height(h) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* p = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<uint32_t*>(p);
        old = SelectObject(dc, bitmap);
    }
    ~Surface() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    void fill(uint32_t pixel) {
        GdiFlush();
        for (int i = 0; i < width * height; i++)
            bits[i] = pixel;
    }
    uint32_t at(int x, int y) {
        GdiFlush();
        return bits[y * width + x] & 0xFFFFFF;
    }
};

// The X function f on one bit pair: bit (3 - (2 * source + destination)).
uint32_t xFunction(uint32_t f, uint32_t src, uint32_t dst) {
    uint32_t out = 0;
    for (int bit = 0; bit < 24; bit++) {
        uint32_t s = (src >> bit) & 1, d = (dst >> bit) & 1;
        out |= ((f >> (3 - (2 * s + d))) & 1) << bit;
    }
    return out;
}

uint32_t pixelOf(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

class GdiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ddGDILoadCursors();
        ddGDIPurgeObjectCaches();
    }
    void TearDown() override { ddGDIPurgeObjectCaches(); }
};

TEST_F(GdiTest, RasterFunctionsOfFillsAndLinesFollowTheXTruthTable) {
    const COLORREF fg = RGB(0x3C, 0xA5, 0x0F);
    const uint32_t dst = 0x55C3F0;
    Surface s(16, 8);
    DdGC* gc = ddGDICreateGC();
    ASSERT_NE(gc, nullptr);
    ddGDIAttach(gc, nullptr, s.dc);
    ddGDISetForeground(gc, fg);
    for (uint32_t f = 0; f < 16; f++) {
        SCOPED_TRACE(f);
        s.fill(dst);
        ddGDISetFunction(gc, f);
        ddGDIFillRect(gc, 2, 1, 4, 3);
        uint32_t want = xFunction(f, pixelOf(fg), dst);
        EXPECT_EQ(s.at(2, 1), want);
        EXPECT_EQ(s.at(5, 3), want);
        EXPECT_EQ(s.at(6, 1), dst); // width and height are exclusive
        EXPECT_EQ(s.at(2, 4), dst);

        s.fill(dst);
        line(gc, 0, 6, 10, 6);
        EXPECT_EQ(s.at(0, 6), want);
        EXPECT_EQ(s.at(9, 6), want);
        EXPECT_EQ(s.at(10, 6), dst); // the last point is not drawn
        EXPECT_EQ(s.at(0, 5), dst);
    }
    ddGDIFreeGC(gc);
}

TEST_F(GdiTest, StateSetBeforeAttachingReachesTheDeviceContext) {
    Surface s(8, 8);
    s.fill(0xFFFFFF);
    DdGC* gc = ddGDICreateGC();
    ddGDISetForeground(gc, RGB(0, 0, 0xFF));
    ddGDISetFunction(gc, 6);
    ddGDIAttach(gc, nullptr, s.dc);
    line(gc, 0, 0, 8, 0);
    EXPECT_EQ(s.at(3, 0), 0xFFFFFFu ^ 0x0000FFu);

    // Moving to another device context takes the pen along.
    Surface other(8, 8);
    other.fill(0xFFFFFF);
    ddGDIAttach(gc, nullptr, other.dc);
    line(gc, 0, 2, 8, 2);
    EXPECT_EQ(other.at(3, 2), 0xFFFFFFu ^ 0x0000FFu);
    EXPECT_EQ(gc->pen->refCount, 1);
    ddGDIFreeGC(gc);
}

TEST_F(GdiTest, OutlinesSegmentsPolygonsAndSolidFills) {
    Surface s(32, 32);
    s.fill(0xFFFFFF);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, nullptr, s.dc);
    ddGDISetForeground(gc, RGB(255, 0, 0));

    DdGCRect rects[2] = {{1, 1, 4, 3}, {10, 10, 5, 5}};
    ddGDIPolyRectangle(gc, 2, rects);
    struct {
        int x, y;
        uint32_t want;
    } outline[] = {
        {1, 1, 0xFF0000}, {5, 1, 0xFF0000},   {5, 4, 0xFF0000},   {1, 4, 0xFF0000},
        {3, 2, 0xFFFFFF}, {10, 15, 0xFF0000}, {15, 10, 0xFF0000}, {12, 12, 0xFFFFFF},
    };
    for (auto& p : outline)
        EXPECT_EQ(s.at(p.x, p.y), p.want) << p.x << "," << p.y;

    s.fill(0xFFFFFF);
    DdGCPoint segs[4] = {{0, 20}, {5, 20}, {0, 22}, {5, 22}};
    ddGDIPolySegment(gc, 2, segs);
    EXPECT_EQ(s.at(2, 20), 0xFF0000u);
    EXPECT_EQ(s.at(2, 22), 0xFF0000u);
    EXPECT_EQ(s.at(2, 21), 0xFFFFFFu); // separate segments, no join

    s.fill(0xFFFFFF);
    DdGCPoint tri[3] = {{0, 0}, {20, 0}, {0, 20}};
    ddGDIFillPolygon(gc, 3, tri);
    EXPECT_EQ(s.at(3, 3), 0xFF0000u);
    EXPECT_EQ(s.at(18, 18), 0xFFFFFFu);
    EXPECT_EQ(gc->pen, nullptr); // filled without an outline

    // Counts that cannot be drawn are refused without touching anything.
    s.fill(0xFFFFFF);
    ddGDIPolyRectangle(gc, -1, rects);
    ddGDIPolySegment(gc, 0x7FFFFFFF, segs);
    ddGDIPolyline(gc, 1, segs);
    ddGDIFillPolygon(gc, 2, tri);
    EXPECT_EQ(s.at(1, 1), 0xFFFFFFu);
    EXPECT_EQ(s.at(2, 20), 0xFFFFFFu);
    ddGDIFreeGC(gc);
}

TEST_F(GdiTest, ContextsOfOneColourShareAPenThatOutlivesEitherReference) {
    Surface s1(4, 4), s2(4, 4);
    DdGC* a = ddGDICreateGC();
    DdGC* b = ddGDICreateGC();
    ddGDIAttach(a, nullptr, s1.dc);
    ddGDIAttach(b, nullptr, s2.dc);
    ddGDISetForeground(a, RGB(1, 2, 3));
    ddGDISetForeground(b, RGB(1, 2, 3));
    line(a, 0, 0, 2, 0);
    line(b, 0, 0, 2, 0);
    ASSERT_NE(a->pen, nullptr);
    EXPECT_EQ(a->pen, b->pen);
    DdPenBrushCacheEntry* shared = a->pen;
    EXPECT_EQ(shared->refCount, 2);
    EXPECT_EQ(shared->holder, b);

    ddGDISetForeground(b, RGB(9, 9, 9));
    EXPECT_EQ(b->pen, nullptr);
    EXPECT_EQ(shared->refCount, 1);
    ddGDIPurgeUnused();
    EXPECT_EQ(ddGDICacheHead(0), shared);
    EXPECT_EQ(GetObjectType(shared->handle), static_cast<DWORD>(OBJ_PEN));
    LOGPEN lp;
    ASSERT_EQ(GetObjectW(shared->handle, sizeof(lp), &lp), static_cast<int>(sizeof(lp)));
    EXPECT_EQ(lp.lopnStyle, static_cast<UINT>(PS_SOLID));
    EXPECT_EQ(lp.lopnWidth.x, 0);
    EXPECT_EQ(lp.lopnColor, RGB(1, 2, 3) | 0x02000000u);

    ddGDIFreeGC(a);
    EXPECT_EQ(shared->refCount, 0);
    ddGDIFreeGC(b);
}

// Each colour is used and dropped in turn; one context keeps a first colour.
void cycleColours(DdGC* keeper, DdGC* cycler, bool brushes, int colours) {
    ddGDISetForeground(keeper, RGB(200, 0, 0));
    if (brushes)
        ddGDIFillRect(keeper, 0, 0, 1, 1);
    else
        line(keeper, 0, 0, 1, 0);
    for (int i = 1; i <= colours; i++) {
        ddGDISetForeground(cycler, RGB(0, i & 0xFF, i >> 8));
        if (brushes)
            ddGDIFillRect(cycler, 0, 0, 1, 1);
        else
            line(cycler, 0, 0, 1, 0);
    }
}

TEST_F(GdiTest, TheCachePassing256EntriesDropsEveryUnreferencedPenAndBrush) {
    for (int brushes = 0; brushes < 2; brushes++) {
        SCOPED_TRACE(brushes);
        Surface s1(4, 4), s2(4, 4);
        DdGC* keeper = ddGDICreateGC();
        DdGC* cycler = ddGDICreateGC();
        ddGDIAttach(keeper, nullptr, s1.dc);
        ddGDIAttach(cycler, nullptr, s2.dc);
        // An unreferenced entry in the other list goes as well.
        DdPenBrushCacheEntry* other =
            brushes ? ddGDIFindPen(RGB(7, 7, 7)) : ddGDIFindBrush(RGB(7, 7, 7));
        other->refCount = 0;

        cycleColours(keeper, cycler, brushes, 255);
        EXPECT_EQ(ddGDICacheCount(brushes), 256);
        EXPECT_EQ(ddGDICacheCount(!brushes), 1);
        cycleColours(keeper, cycler, brushes, 256);
        EXPECT_EQ(ddGDICacheCount(brushes), 2);
        EXPECT_EQ(ddGDICacheCount(!brushes), 0);

        DdPenBrushCacheEntry* kept = brushes ? keeper->brush : keeper->pen;
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(ddGDICacheHead(brushes), kept);
        EXPECT_EQ(kept->colour, RGB(200, 0, 0));
        EXPECT_NE(GetObjectType(kept->handle), 0u);
        // The keeper still draws in its colour.
        s1.fill(0);
        ddGDISetFunction(keeper, 3);
        if (brushes)
            ddGDIFillRect(keeper, 1, 1, 2, 2);
        else
            line(keeper, 1, 1, 3, 1);
        EXPECT_EQ(s1.at(1, 1), 0xC80000u);

        ddGDIPurgeObjectCaches();
        EXPECT_EQ(ddGDICacheCount(0), 0);
        EXPECT_EQ(ddGDICacheCount(1), 0);
        EXPECT_EQ(keeper->pen, nullptr);
        EXPECT_EQ(keeper->brush, nullptr);
        ddGDIFreeGC(keeper);
        ddGDIFreeGC(cycler);
    }
}

TEST_F(GdiTest, ShutdownEmptiesTheCachesAndDrawingStillWorksAfterwards) {
    Surface s(16, 16);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, nullptr, s.dc);
    ddGDISetForeground(gc, RGB(0, 0, 255));
    DdGCRect r = {1, 1, 4, 4};
    ddGDIPolyRectangle(gc, 1, &r);
    ddGDIFillRect(gc, 8, 8, 2, 2);
    ddGDIShutdown();
    EXPECT_EQ(ddGDICacheCount(0), 0);
    EXPECT_EQ(ddGDICacheCount(1), 0);
    EXPECT_EQ(gc->pen, nullptr);
    s.fill(0xFFFFFF);
    ddGDIPolyRectangle(gc, 1, &r);
    EXPECT_EQ(s.at(1, 1), 0x0000FFu);
    ddGDIFreeGC(gc);
}

TEST_F(GdiTest, IdentityPaletteLeavesOnlyTheEndsCollapsible) {
    HPALETTE pal = ddGDICreateIdentityPalette();
    ASSERT_NE(pal, nullptr);
    PALETTEENTRY e[256];
    ASSERT_EQ(GetPaletteEntries(pal, 0, 256, e), 256u);
    EXPECT_EQ(e[0].peFlags, 0);
    EXPECT_EQ(e[0].peRed | e[0].peGreen | e[0].peBlue, 0);
    EXPECT_EQ(e[255].peFlags, 0);
    EXPECT_EQ(e[255].peRed & e[255].peGreen & e[255].peBlue, 255);
    for (int i = 1; i < 255; i++)
        ASSERT_EQ(e[i].peFlags, PC_NOCOLLAPSE) << i;
    DeleteObject(pal);
}

TEST_F(GdiTest, PaletteAndBitmapSelectionPutsTheOriginalBack) {
    Surface s(4, 4);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, nullptr, s.dc);
    HPALETTE stock = static_cast<HPALETTE>(GetCurrentObject(s.dc, OBJ_PAL));
    HPALETTE pal = ddGDICreateIdentityPalette();
    EXPECT_EQ(ddGDISelectPalette(gc, pal, FALSE), stock);
    EXPECT_EQ(ddGDISelectPalette(gc, pal, FALSE), nullptr);
    EXPECT_EQ(ddGDISelectPalette(gc, nullptr, FALSE), pal);
    EXPECT_EQ(GetCurrentObject(s.dc, OBJ_PAL), stock);
    // Selecting the same palette after deselecting it selects it again.
    EXPECT_EQ(ddGDISelectPalette(gc, pal, FALSE), stock);
    EXPECT_EQ(GetCurrentObject(s.dc, OBJ_PAL), pal);
    ddGDIDetach(gc);
    EXPECT_EQ(GetCurrentObject(s.dc, OBJ_PAL), stock);

    ddGDIAttach(gc, nullptr, s.dc);
    HBITMAP other = CreateCompatibleBitmap(s.dc, 2, 2);
    EXPECT_EQ(ddGDISelectBitmap(gc, other), s.bitmap);
    EXPECT_EQ(ddGDISelectBitmap(gc, other), nullptr);
    EXPECT_EQ(ddGDISelectBitmap(gc, nullptr), other);
    EXPECT_EQ(GetCurrentObject(s.dc, OBJ_BITMAP), s.bitmap);
    ddGDIFreeGC(gc);
    DeleteObject(other);
    DeleteObject(pal);
}

TEST_F(GdiTest, FontsAreMadeFromTheirDescriptionAndSelectedWithTheOriginalKept) {
    Surface s(4, 4);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, nullptr, s.dc);
    HGDIOBJ stock = GetCurrentObject(s.dc, OBJ_FONT);
    struct {
        int32_t width, height;
        uint32_t bold, east;
        LONG weight;
        BYTE charset;
    } cases[] = {{0, 13, 0, 0, 400, 1}, {6, 20, 1, 1, 700, 238}};
    for (auto& c : cases) {
        DiGDIFont* f = diGDIFindFont(gc, u"Tahoma", c.width, c.height, c.bold, c.east);
        ASSERT_NE(f, nullptr);
        LOGFONTW lf;
        ASSERT_EQ(GetObjectW(static_cast<HFONT>(f->handle), sizeof(lf), &lf),
                  static_cast<int>(sizeof(lf)));
        EXPECT_EQ(lf.lfHeight, -c.height);
        EXPECT_EQ(lf.lfWidth, c.width);
        EXPECT_EQ(lf.lfWeight, c.weight);
        EXPECT_EQ(lf.lfCharSet, c.charset);
        EXPECT_STREQ(lf.lfFaceName, L"Tahoma");

        EXPECT_EQ(ddGDISelectFont(gc, f), nullptr);
        EXPECT_EQ(ddGDISelectFont(gc, f), f);
        DdFontMetrics m;
        EXPECT_EQ(ddGDIGetFontMetrics(gc, f, &m), 0);
        EXPECT_GT(m.height, 0);
        EXPECT_EQ(m.ascent + m.descent, m.height);
        EXPECT_EQ(ddGDISelectFont(gc, nullptr), f);
        EXPECT_EQ(GetCurrentObject(s.dc, OBJ_FONT), stock);
        diGDIReleaseFont(gc, f);
    }
    EXPECT_EQ(diGDIFontList(), nullptr);
    // A face longer than a font description holds is cut, not overrun.
    std::u16string longFace(100, u'x');
    DiGDIFont* f = diGDIFindFont(gc, longFace.c_str(), 0, 10, 0, 0);
    ASSERT_NE(f, nullptr);
    diGDIReleaseFont(gc, f);
    ddGDIFreeGC(gc);
}

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

HWND makeWindow(int x) {
    static bool registered;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvGdiTest";
        RegisterClassW(&wc);
        registered = true;
    }
    return CreateWindowW(L"HvGdiTest", L"t", WS_POPUP | WS_VISIBLE, x, 0, 100, 100, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

TEST_F(GdiTest, OnlyOneWindowShowsTheCaret) {
    HWND w1 = makeWindow(0), w2 = makeWindow(200);
    DdGC* a = ddGDICreateGC();
    DdGC* b = ddGDICreateGC();
    ddGDIAttach(a, w1, GetDC(w1));
    ddGDIAttach(b, w2, GetDC(w2));
    ddGDICreateCaret(a, 2, 10);
    ddGDISetCaretPos(a, 5, 6);
    ddGDIShowCaret(a, 1);
    EXPECT_EQ(ddGDICaretOwner(), w1);
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof(gi);
    ASSERT_TRUE(GetGUIThreadInfo(GetCurrentThreadId(), &gi));
    EXPECT_EQ(gi.hwndCaret, w1);
    EXPECT_EQ(gi.rcCaret.left, 5);
    EXPECT_EQ(gi.rcCaret.top, 6);

    ddGDIShowCaret(b, 1); // another window owns it: nothing happens
    EXPECT_EQ(ddGDICaretOwner(), w1);
    ddGDIShowCaret(b, 0); // not the owner: nothing happens
    EXPECT_EQ(ddGDICaretOwner(), w1);
    ddGDIShowCaret(a, 0);
    EXPECT_EQ(ddGDICaretOwner(), nullptr);

    ddGDIShowCaret(a, 1);
    HDC dcA = a->hdc;
    ddGDIDetach(a); // detaching the owner hides the caret and frees it
    EXPECT_EQ(ddGDICaretOwner(), nullptr);
    ddGDIShowCaret(b, 1);
    EXPECT_EQ(ddGDICaretOwner(), w2);
    ddGDIShowCaret(b, 0);
    ReleaseDC(w1, dcA);
    HDC dcB = b->hdc;
    ddGDIFreeGC(a);
    ddGDIFreeGC(b);
    ReleaseDC(w2, dcB);
    DestroyCaret();
    DestroyWindow(w1);
    DestroyWindow(w2);
}

TEST_F(GdiTest, CursorShapesComeFromTheTableAndUnknownOnesGiveTheArrow) {
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    struct {
        uint32_t index;
        LPCWSTR id;
    } cases[] = {{0, IDC_ARROW},  {2, IDC_IBEAM},         {6, IDC_SIZENWSE}, {7, IDC_SIZENESW},
                 {9, IDC_SIZENS}, {11, IDC_SIZEWE},       {12, IDC_HAND},    {13, IDC_SIZEALL},
                 {14, IDC_ARROW}, {0xFFFFFFFF, IDC_ARROW}};
    DdGC* gc = ddGDICreateGC();
    EXPECT_EQ(gc->cursor, arrow);
    for (auto& c : cases) {
        ddGDISetCursor(gc, c.index);
        EXPECT_EQ(gc->cursorShape, c.index);
        EXPECT_EQ(gc->cursor, LoadCursorW(nullptr, c.id)) << c.index;
    }
    ddGDIFreeGC(gc);
}

TEST_F(GdiTest, BuiltHandCursorsHaveTheirSizeAndHotSpot) {
    struct {
        int size;
        DWORD hotX, hotY;
    } cases[] = {{32, 8, 1}, {16, 4, 0}};
    for (auto& c : cases) {
        HCURSOR h = ddGDIBuildHandCursor(c.size);
        ASSERT_NE(h, nullptr);
        ICONINFO ii;
        ASSERT_TRUE(GetIconInfo(h, &ii));
        EXPECT_FALSE(ii.fIcon);
        EXPECT_EQ(ii.xHotspot, c.hotX);
        EXPECT_EQ(ii.yHotspot, c.hotY);
        BITMAP bm;
        GetObjectW(ii.hbmMask, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, c.size);
        DeleteObject(ii.hbmMask);
        if (ii.hbmColor) DeleteObject(ii.hbmColor);
        DestroyCursor(h);
    }
    EXPECT_EQ(ddGDIBuildHandCursor(24), nullptr);
}

TEST_F(GdiTest, MultiLineTextTallerThanItsBoxStartsAtTheTop) {
    Surface s(60, 60);
    DdGC* gc = ddGDICreateGC();
    ddGDIAttach(gc, nullptr, s.dc);
    ddGDISetForeground(gc, RGB(0, 0, 0));
    SetBkMode(s.dc, TRANSPARENT);
    auto inkRows = [&](int top, int bottom) {
        int rows = 0;
        for (int y = top; y < bottom; y++)
            for (int x = 0; x < 60; x++)
                if (s.at(x, y) != 0xFFFFFF) {
                    rows++;
                    break;
                }
        return rows;
    };
    const DiChar* text = u"WWW\nWWW\nWWW\nWWW\nWWW\nWWW\nWWW\nWWW";
    s.fill(0xFFFFFF);
    ddGDIDrawText(gc, 0, 20, 60, 10, text, DD_GDI_TEXT_VCENTER);
    EXPECT_GT(inkRows(20, 30), 0);
    EXPECT_EQ(inkRows(0, 20), 0);
    // A short text is centred in a tall box.
    s.fill(0xFFFFFF);
    ddGDIDrawText(gc, 0, 0, 60, 60, u"W", DD_GDI_TEXT_VCENTER);
    EXPECT_EQ(inkRows(0, 15), 0);
    EXPECT_GT(inkRows(15, 45), 0);
    ddGDIFreeGC(gc);
}

} // namespace
