/* The drawing families: variants against each other, against independent
 * pixel rules, and at the edges of their buffers. */
#include "fb/fbpriv.h"
#include "fbtest.h"

namespace {

/* A glyph whose rows are given as strings of '#' and '.'. */
struct TestGlyph {
    FbGlyph g{};
    TestGlyph(std::vector<std::string> rows, int32_t xOffset, int32_t yOffset, int32_t advance) {
        g.bitmap.width = rows.empty() ? 0 : int32_t(rows[0].size());
        g.bitmap.height = int32_t(rows.size());
        g.bitmap.depth = 1;
        EXPECT_EQ(fbCreateGlyph(nullptr, nullptr, &g), 0);
        for (size_t y = 0; y < rows.size(); y++)
            for (size_t x = 0; x < rows[y].size(); x++)
                if (rows[y][x] == '#')
                    g.bitmap.bits[y * g.bitmap.stride + x / 8] |= uint8_t(1u << (x % 8));
        g.xOffset = xOffset;
        g.yOffset = yOffset;
        g.advance = advance;
    }
    ~TestGlyph() { fbFreeGlyph(nullptr, nullptr, &g); }
};

int FormatOf(const TestFormat& f) {
    return f.depth == 8 ? FB_FMT_8 : f.depth == 16 ? FB_FMT_16 : f.bpp4 ? FB_FMT_32 : FB_FMT_24;
}

FbGC ReducedGC(uint32_t function, uint32_t fg, uint32_t bg, uint32_t pm) {
    FbGC gc = FreshGC();
    gc.function = function;
    gc.foreground = fg;
    gc.background = bg;
    gc.planeMask = pm;
    gc.fgClass = fbReduceRasterOp(function, fg, pm, &gc.fgAnd, &gc.fgXor);
    gc.bgClass = fbReduceRasterOp(function, bg, pm, &gc.bgAnd, &gc.bgXor);
    return gc;
}

std::vector<FbRect> RandomRects(std::mt19937& rng, int n, int32_t w, int32_t h) {
    std::vector<FbRect> r;
    for (int i = 0; i < n; i++)
        r.push_back({int32_t(rng() % (w + 10)) - 5, int32_t(rng() % (h + 10)) - 5, uint32_t(rng() % 20), uint32_t(rng() % 20)});
    return r;
}

TEST(FbDraw, CopyVariantsEqualGeneralOnesUnderCopy) {
    std::mt19937 rng(77);
    for (const TestFormat& tf : DrawingFormats()) {
        SCOPED_TRACE(tf.name);
        const FbFamily& f = fbFamilies[FormatOf(tf)];
        TestBuffer a(37, 29, tf.depth, tf.bpp4), b(37, 29, tf.depth, tf.bpp4);
        TestBuffer tile(5, 3, tf.depth, tf.bpp4), stipple(7, 5, 1);
        tile.randomize(rng);
        stipple.randomize(rng);
        uint32_t mask = a.mask();
        FbGC gc = ReducedGC(3, rng() & mask, rng() & mask, ~0u);
        FbGCOps ops = fbNoOps;
        gc.ops = &ops;
        gc.tile = &tile;
        gc.stipple = &stipple;
        gc.originX = -4;
        gc.originY = -7;
        TestGlyph g1({"#..#.##.#", ".##..#..#", "#.#.#.#.."}, 1, 2, 10), g2({"##", "#."}, -1, 0, 3);
        FbGlyph* glyphs[256] = {};
        glyphs[uint8_t('a')] = &g1.g;
        glyphs[uint8_t('b')] = &g2.g;
        gc.glyphs = glyphs;
        auto fresh = [&] {
            a.randomize(rng);
            b.copyFrom(a);
        };
        auto check = [&](const char* what) { ASSERT_EQ(a.diff(b), "") << what; };

        const int pairs[][2] = {{FB_FILL_SOLID_COPY, FB_FILL_SOLID_GENERAL},
                                {FB_FILL_TILED_COPY, FB_FILL_TILED_GENERAL},
                                {FB_FILL_STIPPLED_COPY, FB_FILL_STIPPLED_GENERAL},
                                {FB_FILL_OPAQUE_COPY, FB_FILL_OPAQUE_GENERAL}};
        const int spanPairs[][2] = {{FB_SPANS_SOLID_COPY, FB_SPANS_SOLID_GENERAL},
                                    {FB_SPANS_TILED_COPY, FB_SPANS_TILED_GENERAL},
                                    {FB_SPANS_STIPPLED_COPY, FB_SPANS_STIPPLED_GENERAL},
                                    {FB_SPANS_OPAQUE_COPY, FB_SPANS_OPAQUE_GENERAL}};
        for (int i = 0; i < 4; i++) {
            std::vector<FbRect> rects = RandomRects(rng, 8, 37, 29);
            fresh();
            f.polyFillRect[pairs[i][0]](nullptr, &a, &gc, uint32_t(rects.size()), rects.data());
            f.polyFillRect[pairs[i][1]](nullptr, &b, &gc, uint32_t(rects.size()), rects.data());
            check("PolyFillRect");
            std::vector<FbPoint> pts;
            std::vector<int32_t> widths;
            for (int k = 0; k < 12; k++) {
                pts.push_back({int32_t(rng() % 50) - 6, int32_t(rng() % 35) - 3});
                widths.push_back(int32_t(rng() % 30) - 2);
            }
            fresh();
            f.fillSpans[spanPairs[i][0]](nullptr, &a, &gc, 12, pts.data(), widths.data());
            f.fillSpans[spanPairs[i][1]](nullptr, &b, &gc, 12, pts.data(), widths.data());
            check("FillSpans");
        }
        std::vector<FbPoint> line;
        std::vector<FbSegment> segs;
        for (int k = 0; k < 15; k++) {
            line.push_back({int32_t(rng() % 60) - 10, int32_t(rng() % 50) - 10});
            segs.push_back({int32_t(rng() % 60) - 10, int32_t(rng() % 50) - 10, int32_t(rng() % 60) - 10,
                            int32_t(rng() % 50) - 10});
        }
        segs.push_back({3, 3, 3, 20});
        segs.push_back({30, 2, 1, 2});
        fresh();
        f.polyLine[0](nullptr, &a, &gc, 15, line.data());
        f.polyLine[1](nullptr, &b, &gc, 15, line.data());
        check("PolyLine");
        fresh();
        f.polySegment[0](nullptr, &a, &gc, uint32_t(segs.size()), segs.data());
        f.polySegment[1](nullptr, &b, &gc, uint32_t(segs.size()), segs.data());
        check("PolySegment");
        TestBuffer src(20, 20, tf.depth, tf.bpp4);
        src.randomize(rng);
        fresh();
        f.copyArea[0](nullptr, &a, &gc, 25, -3, 20, 20, &src, 0, 0);
        f.copyArea[1](nullptr, &b, &gc, 25, -3, 20, 20, &src, 0, 0);
        check("CopyArea");
        const uint8_t text[] = "abxab";
        fresh();
        for (int32_t x : {30, -5}) { /* clipped right, then left */
            f.polyText8[0](nullptr, &a, &gc, x, 5, 5, text);
            f.polyText8[1](nullptr, &b, &gc, x, 5, 5, text);
        }
        check("PolyText8");
        fresh();
        f.imageText8[0](nullptr, &a, &gc, -2, 28, 5, text);
        f.imageText8[1](nullptr, &b, &gc, -2, 28, 5, text);
        check("ImageText8");
    }
}

TEST(FbDraw, SolidRunsOfEveryWidthAndStartSetThemAndNothingElse) {
    std::mt19937 rng(5);
    for (const TestFormat& tf : DrawingFormats()) {
        SCOPED_TRACE(tf.name);
        const FbFamily& f = fbFamilies[FormatOf(tf)];
        TestBuffer a(90, 3, tf.depth, tf.bpp4), b(90, 3, tf.depth, tf.bpp4);
        for (int32_t w = 0; w <= 75; w++)
            for (int32_t x = 0; x < 4; x++) {
                FbGC gc = ReducedGC(3, rng() & a.mask(), 0, ~0u);
                a.randomize(rng);
                b.copyFrom(a);
                FbRect r{x, 1, uint32_t(w), 1};
                f.polyFillRect[FB_FILL_SOLID_COPY](nullptr, &a, &gc, 1, &r);
                f.polyFillRect[FB_FILL_SOLID_GENERAL](nullptr, &b, &gc, 1, &r);
                ASSERT_EQ(a.diff(b), "") << "width " << w << " at " << x;
            }
    }
}

TEST(FbDraw, SegmentsCoverTheSamePixelsBothWaysAndClipPerPixel) {
    TestBuffer d(8, 4, 8);
    FbGC gc = ReducedGC(3, 1, 0, ~0u);
    const FbFamily& f = fbFamilies[FB_FMT_8];
    FbSegment s = {0, 0, 4, 2};
    f.polySegment[0](nullptr, &d, &gc, 1, &s);
    std::string got;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            if (d.get(x, y))
                got += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    EXPECT_EQ(got, "(0,0)(1,1)(2,1)(3,2)");
    TestBuffer r(8, 4, 8);
    FbSegment back = {4, 2, 0, 0};
    f.polySegment[0](nullptr, &r, &gc, 1, &back);
    got.clear();
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            if (r.get(x, y))
                got += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    EXPECT_EQ(got, "(1,1)(2,1)(3,2)(4,2)");

    /* A clipped line is the unclipped one restricted to the buffer. */
    std::mt19937 rng(5);
    for (int i = 0; i < 300; i++) {
        TestBuffer big(80, 80, 16), small(20, 20, 16);
        FbSegment seg = {int32_t(rng() % 80) - 30, int32_t(rng() % 80) - 30, int32_t(rng() % 80) - 30,
                         int32_t(rng() % 80) - 30};
        FbSegment shifted = {seg.x1 + 30, seg.y1 + 30, seg.x2 + 30, seg.y2 + 30};
        FbGC g16 = ReducedGC(6, 0x1234, 0, ~0u);
        fbFamilies[FB_FMT_16].polySegment[1](nullptr, &small, &g16, 1, &seg);
        fbFamilies[FB_FMT_16].polySegment[1](nullptr, &big, &g16, 1, &shifted);
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 20; x++)
                ASSERT_EQ(small.get(x, y), big.get(x + 30, y + 30))
                    << seg.x1 << "," << seg.y1 << " " << seg.x2 << "," << seg.y2 << " at " << x << "," << y;
    }
    /* Far-off coordinates draw nothing and end at once. */
    TestBuffer e(8, 8, 8);
    FbSegment far = {-2000000000, 3, 2000000000, 4};
    f.polySegment[0](nullptr, &e, &gc, 1, &far);
}

TEST(FbDraw, RectangleOutlinesGoThroughTheLineSlot) {
    TestBuffer d(10, 10, 8);
    FbGC gc = ReducedGC(3, 9, 0, ~0u);
    FbGCOps ops = fbNoOps;
    static int calls;
    calls = 0;
    ops.PolyLine = [](void* dpy, FbBuffer* b, FbGC* g, uint32_t n, const FbPoint* p) {
        calls++;
        EXPECT_EQ(n, 5u);
        fbFamilies[FB_FMT_8].polyLine[0](dpy, b, g, n, p);
    };
    gc.ops = &ops;
    FbRect rects[] = {{1, 1, 3, 2}, {7, 7, 0, 0}};
    fbFamilies[FB_FMT_8].polyRectangle(nullptr, &d, &gc, 2, rects);
    EXPECT_EQ(calls, 2);
    int count = 0;
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++)
            count += d.get(x, y) != 0;
    EXPECT_EQ(count, 10); /* the outline of a 4 x 3 box; the empty one draws nothing */
    EXPECT_EQ(d.get(4, 3), 9u);
    EXPECT_EQ(d.get(7, 7), 0u);
}

TEST(FbDraw, TilesAndStipplesWrapLeftOfAndAboveTheOrigin) {
    const FbFamily& f = fbFamilies[FB_FMT_8];
    TestBuffer tile(3, 5, 8), d(12, 12, 8);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 3; x++)
            tile.set(x, y, uint32_t(10 * y + x));
    FbGC gc = ReducedGC(3, 0, 0, ~0u);
    gc.tile = &tile;
    gc.originX = 4;
    gc.originY = 6;
    FbRect all = {0, 0, 12, 12};
    f.polyFillRect[FB_FILL_TILED_COPY](nullptr, &d, &gc, 1, &all);
    /* Column 3 is one left of the origin: tile column 2, not 0. */
    EXPECT_EQ(d.get(3, 6), 2u);
    EXPECT_EQ(d.get(4, 5), 40u);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 12; x++)
            ASSERT_EQ(d.get(x, y), uint32_t(10 * (((y - 6) % 5 + 5) % 5) + ((x - 4) % 3 + 3) % 3));
    /* A tile of another format, or a stipple that is not a bitmap, is skipped. */
    TestBuffer t16(3, 3, 16), d2(4, 4, 8);
    gc.tile = &t16;
    f.polyFillRect[FB_FILL_TILED_COPY](nullptr, &d2, &gc, 1, &all);
    gc.stipple = &tile;
    gc.fgXor = 5;
    f.polyFillRect[FB_FILL_OPAQUE_COPY](nullptr, &d2, &gc, 1, &all);
    EXPECT_EQ(d2.get(3, 3), 0u);
}

TEST(FbDraw, CopyAreaWithinOneBufferEqualsCopyThroughATemporary) {
    std::mt19937 rng(99);
    for (const TestFormat& tf : DrawingFormats()) {
        SCOPED_TRACE(tf.name);
        const FbFamily& f = fbFamilies[FormatOf(tf)];
        for (int i = 0; i < 60; i++) {
            TestBuffer d(24, 20, tf.depth, tf.bpp4), temp(24, 20, tf.depth, tf.bpp4);
            d.randomize(rng);
            temp.copyFrom(d);
            int32_t sx = int32_t(rng() % 12), sy = int32_t(rng() % 10), w = 1 + int32_t(rng() % 12),
                    h = 1 + int32_t(rng() % 10);
            int32_t dx = sx + int32_t(rng() % 5) - 2, dy = sy + int32_t(rng() % 5) - 2;
            uint32_t function = i % 3 == 0 ? 3 : rng() % 16, pm = i % 2 ? ~0u : rng();
            FbGC gc = ReducedGC(function, 0, 0, pm);
            int v = function == 3 && pm == ~0u && i % 4 ? 0 : 1;
            f.copyArea[v](nullptr, &d, &gc, dx, dy, w, h, &d, sx, sy);
            TestBuffer want(24, 20, tf.depth, tf.bpp4);
            want.copyFrom(temp);
            uint32_t m = d.mask();
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++) {
                    if (dx + x < 0 || dy + y < 0 || dx + x >= 24 || dy + y >= 20 || sx + x >= 24 || sy + y >= 20)
                        continue; /* clipped to both */
                    uint32_t o = temp.get(dx + x, dy + y), s = temp.get(sx + x, sy + y);
                    want.set(dx + x, dy + y, ((o & ~pm) | (fbApplyRasterOp(function, s, o) & pm)) & m);
                }
            ASSERT_EQ(d.diff(want), "") << "function " << function << " variant " << v;
        }
    }
}

TEST(FbDraw, CopyPlaneAppliesTheFunctionToForegroundAndBackground) {
    const FbFamily& f = fbFamilies[FB_FMT_16];
    TestBuffer bitmap(8, 1, 1), src(8, 1, 16);
    bitmap.b.bits[0] = 0x0F;
    for (int x = 0; x < 8; x++)
        src.set(x, 0, x < 4 ? 0x4 : 0x3);
    for (uint32_t function : {0u, 3u, 12u, 15u, 6u}) {
        for (FbBuffer* s : {&bitmap.b, &src.b}) {
            TestBuffer d(8, 1, 16);
            for (int x = 0; x < 8; x++)
                d.set(x, 0, 0x0F0F);
            FbGC gc = ReducedGC(function, 0x1234, 0x00F0, ~0u);
            f.copyPlane(nullptr, &d, &gc, 0, 0, 8, 1, s, 0, 0, 4);
            EXPECT_EQ(d.get(0, 0), fbApplyRasterOp(function, 0x1234, 0x0F0F) & 0xFFFF) << function;
            EXPECT_EQ(d.get(7, 0), fbApplyRasterOp(function, 0x00F0, 0x0F0F) & 0xFFFF) << function;
        }
    }
}

// Within one buffer the plane copy reads each source pixel before it
// writes over it, as the X server does.
TEST(FbDraw, CopyPlaneOntoItselfReadsBeforeItWrites) {
    for (const TestFormat& tf : DrawingFormats()) {
        const FbFamily& f = fbFamilies[FormatOf(tf)];
        for (bool right : {true, false}) {
            TestBuffer d(3, 1, tf.depth, tf.bpp4);
            d.set(right ? 0 : 2, 0, 1);
            FbGC gc = ReducedGC(3, 0xFF, 0, ~0u);
            f.copyPlane(nullptr, &d, &gc, right ? 1 : 0, 0, 2, 1, &d, right ? 0 : 1, 0, 1);
            EXPECT_EQ(d.get(1, 0), 0xFFu) << tf.name;
            EXPECT_EQ(d.get(right ? 2 : 0, 0), 0u) << tf.name << (right ? " right" : " left");
        }
    }
}

TEST(FbDraw, ImageTextIgnoresTheFunction) {
    TestGlyph g({"#.", ".#"}, 0, 2, 2);
    FbGlyph* glyphs[256] = {};
    glyphs[uint8_t('x')] = &g.g;
    for (const TestFormat& tf : DrawingFormats()) {
        const FbFamily& f = fbFamilies[FormatOf(tf)];
        TestBuffer a(4, 4, tf.depth, tf.bpp4), b(4, 4, tf.depth, tf.bpp4);
        FbGC xorGC = ReducedGC(6, 0x0F, 0xF0, 0xFF), copyGC = ReducedGC(3, 0x0F, 0xF0, 0xFF);
        xorGC.glyphs = copyGC.glyphs = glyphs;
        for (int i = 0; i < 2; i++) {
            f.imageText8[1](nullptr, &a, &xorGC, 1, 3, 1, reinterpret_cast<const uint8_t*>("x"));
            f.imageText8[1](nullptr, &b, &copyGC, 1, 3, 1, reinterpret_cast<const uint8_t*>("x"));
        }
        EXPECT_EQ(a.diff(b), "") << tf.name;
        EXPECT_EQ(a.get(1, 1), 0x0Fu);
        EXPECT_EQ(a.get(2, 1), 0xF0u);
    }
}

TEST(FbDraw, TextSkipsMissingGlyphsAndReportsItsBox) {
    DamageLog log;
    TestGlyph g({"###", "#.#"}, 0, 1, 4), empty({}, 0, 0, 5);
    FbGlyph* glyphs[256] = {};
    glyphs[uint8_t('a')] = &g.g;
    glyphs[uint8_t(' ')] = &empty.g;
    TestBuffer d(20, 6, 8);
    FbGC gc = ReducedGC(3, 7, 1, ~0u);
    gc.glyphs = glyphs;
    gc.damageFlags = 1;
    fbFamilies[FB_FMT_8].imageText8[0](nullptr, &d, &gc, 2, 3, 4, reinterpret_cast<const uint8_t*>("a? a"));
    /* '?' is missing: no advance; ' ' paints nothing but advances 5. */
    EXPECT_EQ(d.get(2, 2), 7u);
    EXPECT_EQ(d.get(3, 3), 1u);
    EXPECT_EQ(d.get(6, 2), 0u);
    EXPECT_EQ(d.get(11, 2), 7u);
    ASSERT_EQ(DamageLog::entries().size(), 1u);
    EXPECT_EQ(DamageLog::entries()[0], "rect 2 2 12 2");
}

TEST(FbDraw, DamageIsReportedPerOperation) {
    DamageLog log;
    TestBuffer d(10, 10, 24, true);
    FbGC gc = ReducedGC(3, 7, 1, ~0u);
    const FbFamily& f = fbFamilies[FB_FMT_32];
    FbRect r[2] = {{1, 1, 2, 2}, {20, 20, 3, 3}};
    FbPoint pts[3] = {{0, 0}, {5, 0}, {5, 5}};
    int32_t widths[3] = {3, 3, 3};
    f.polyFillRect[FB_FILL_SOLID_COPY](nullptr, &d, &gc, 2, r);
    EXPECT_TRUE(DamageLog::entries().empty()); /* flags 0: nothing asked */
    gc.damageFlags = 2;
    f.polyFillRect[FB_FILL_SOLID_COPY](nullptr, &d, &gc, 2, r);
    f.polyLine[0](nullptr, &d, &gc, 3, pts);
    f.fillSpans[FB_SPANS_SOLID_COPY](nullptr, &d, &gc, 3, pts, widths);
    f.copyArea[0](nullptr, &d, &gc, 2, 2, 3, 3, &d, 0, 0);
    std::vector<std::string> want = {"boxes 2", "line 0 0 5 0", "line 5 0 5 5", "rect 2 2 3 3"};
    EXPECT_EQ(DamageLog::entries(), want);
    /* A routine given a buffer of another format draws nothing (a stale slot). */
    TestBuffer other(10, 10, 8);
    fbFamilies[FB_FMT_32].polyFillRect[FB_FILL_SOLID_COPY](nullptr, &other, &gc, 2, r);
    EXPECT_EQ(other.get(1, 1), 0u);
}

TEST(FbPolygon, ConvexFillLeavesBottomRowAndRightEdge) {
    DamageLog log;
    TestBuffer d(12, 12, 8);
    FbGC gc = FreshGC();
    ASSERT_EQ(fbCreateGC(nullptr, &gc), 0);
    gc.foreground = 1;
    gc.damageFlags = 1;
    fbValidateGC(nullptr, &d, &gc);
    FbPoint tri[3] = {{2, 1}, {8, 1}, {2, 7}};
    gc.ops->FillPolygon(nullptr, &d, &gc, 2, 3, tri);
    EXPECT_EQ(d.get(2, 1), 1u);
    EXPECT_EQ(d.get(7, 1), 1u);
    EXPECT_EQ(d.get(8, 1), 0u); /* right edge */
    EXPECT_EQ(d.get(2, 6), 1u);
    EXPECT_EQ(d.get(2, 7), 0u); /* bottom row */
    ASSERT_EQ(DamageLog::entries().size(), 1u);
    EXPECT_EQ(DamageLog::entries()[0], "rect 2 1 6 6");
    int count = 0;
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 12; x++)
            count += d.get(x, y) != 0;
    EXPECT_EQ(count, 6 + 5 + 4 + 3 + 2 + 1);

    /* Shapes 0 and 1 draw nothing; a self-crossing list stops when an edge
     * turns upwards. */
    TestBuffer e(12, 12, 8);
    fbValidateGC(nullptr, &e, &gc);
    gc.ops->FillPolygon(nullptr, &e, &gc, 0, 3, tri);
    gc.ops->FillPolygon(nullptr, &e, &gc, 1, 3, tri);
    FbPoint bow[4] = {{1, 1}, {9, 5}, {3, 3}, {5, 9}};
    gc.ops->FillPolygon(nullptr, &e, &gc, 2, 4, bow);
    FbPoint flat[3] = {{1, 4}, {5, 4}, {9, 4}};
    gc.ops->FillPolygon(nullptr, &e, &gc, 2, 3, flat);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 12; x++)
            ASSERT_EQ(e.get(x, y), 0u);
    int32_t x0, x1, y0, y1;
    FbPoint twoTops[4] = {{5, 3}, {1, 1}, {9, 1}, {5, 8}};
    EXPECT_EQ(fbPolygonBounds(twoTops, 4, &x0, &x1, &y0, &y1), 1u);
    fbDestroyGC(nullptr, &gc);
}

} // namespace
