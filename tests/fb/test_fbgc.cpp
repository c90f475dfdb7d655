/* Slot choice by validation, the raster-function reduction, and pixmap and
 * glyph allocation. */
#include "fb/fbpriv.h"
#include "fbtest.h"

namespace {

struct GCFixture {
    FbGC gc = FreshGC();
    GCFixture() { EXPECT_EQ(fbCreateGC(nullptr, &gc), 0); }
    ~GCFixture() { fbDestroyGC(nullptr, &gc); }
    void validate(FbBuffer* d, uint32_t changes) {
        gc.changeMask = changes | FB_GC_VALIDATE;
        fbValidateGC(nullptr, d, &gc);
        gc.changeMask = 0;
    }
};

const FbFamily& F(int format) { return fbFamilies[format]; }

TEST(FbValidate, FreshGCGetsTheCopyVariants) {
    TestBuffer d(4, 4, 8);
    GCFixture g;
    EXPECT_EQ(g.gc.ops->FillPolygon, fbFillPolygon);
    g.validate(&d, 0xFFFFFFFF);
    const FbGCOps& o = *g.gc.ops;
    EXPECT_EQ(o.PolyLine, F(FB_FMT_8).polyLine[0]);
    EXPECT_EQ(o.PolySegment, F(FB_FMT_8).polySegment[0]);
    EXPECT_EQ(o.PolyFillRect, F(FB_FMT_8).polyFillRect[FB_FILL_SOLID_COPY]);
    EXPECT_EQ(o.FillSpans, F(FB_FMT_8).fillSpans[FB_SPANS_SOLID_COPY]);
    EXPECT_EQ(o.CopyArea, F(FB_FMT_8).copyArea[0]);
    EXPECT_EQ(o.PolyText8, F(FB_FMT_8).polyText8[0]);
    EXPECT_EQ(o.ImageText8, F(FB_FMT_8).imageText8[0]);
    EXPECT_EQ(o.PutImage, F(FB_FMT_8).putImage);
    EXPECT_EQ(o.Unused10, fbNoOps.Unused10);
}

TEST(FbValidate, ChangesRefillOnlyTheirGroups) {
    TestBuffer d8(4, 4, 8), d16(4, 4, 16);
    GCFixture g;
    g.validate(&d8, 0xFFFFFFFF);
    /* A background change refills only the fills, which stay solid. */
    FbGCOps before = *g.gc.ops;
    g.gc.ops->PolyLine = nullptr;
    g.gc.ops->CopyArea = nullptr;
    g.gc.ops->PolyFillRect = nullptr;
    g.gc.ops->FillSpans = nullptr;
    g.gc.background = 7;
    g.validate(&d8, FB_GC_BACKGROUND);
    EXPECT_EQ(g.gc.ops->PolyLine, nullptr);
    EXPECT_EQ(g.gc.ops->CopyArea, nullptr);
    EXPECT_EQ(g.gc.ops->PolyFillRect, before.PolyFillRect);
    EXPECT_EQ(g.gc.ops->FillSpans, before.FillSpans);
    /* A tile or font change (no validation bit of ours) refills nothing. */
    g.gc.ops->PolyFillRect = nullptr;
    g.validate(&d8, 0x0020 | 0x0200);
    EXPECT_EQ(g.gc.ops->PolyFillRect, nullptr);
    /* Another drawable refills every group for its depth. */
    g.validate(&d16, FB_GC_DRAWABLE);
    EXPECT_EQ(g.gc.ops->PolyLine, F(FB_FMT_16).polyLine[0]);
    EXPECT_EQ(g.gc.ops->CopyArea, F(FB_FMT_16).copyArea[0]);
    EXPECT_EQ(g.gc.ops->PutSubImage, F(FB_FMT_16).putSubImage);
    EXPECT_EQ(g.gc.ops->CopyPlane, F(FB_FMT_16).copyPlane);
}

TEST(FbValidate, PlaneMaskAndFunctionPickVariants) {
    TestBuffer d24(4, 4, 24), d32(4, 4, 24, true), d8(4, 4, 8);
    GCFixture g;
    /* 0x00FFFFFF is full at depth 24, yet the foreground class is general. */
    g.gc.planeMask = 0x00FFFFFF;
    g.gc.fillStyle = FB_FILL_TILED;
    g.validate(&d32, 0xFFFFFFFF);
    EXPECT_NE(g.gc.fgClass, FB_CLASS_COPY);
    EXPECT_EQ(g.gc.ops->PolyFillRect, F(FB_FMT_32).polyFillRect[FB_FILL_TILED_COPY]);
    EXPECT_EQ(g.gc.ops->CopyArea, F(FB_FMT_32).copyArea[0]);
    EXPECT_EQ(g.gc.ops->PolyText8, F(FB_FMT_32).polyText8[0]);
    EXPECT_EQ(g.gc.ops->ImageText8, F(FB_FMT_32).imageText8[0]);
    EXPECT_EQ(g.gc.ops->PolyLine, F(FB_FMT_32).polyLine[1]);
    g.gc.fillStyle = FB_FILL_SOLID;
    g.validate(&d24, 0xFFFFFFFF);
    EXPECT_EQ(g.gc.ops->PolyFillRect, F(FB_FMT_24).polyFillRect[FB_FILL_SOLID_GENERAL]);
    g.gc.planeMask = 0x00FFFFFE;
    g.validate(&d24, FB_GC_PLANE_MASK);
    EXPECT_EQ(g.gc.ops->CopyArea, F(FB_FMT_24).copyArea[1]);
    EXPECT_EQ(g.gc.ops->ImageText8, F(FB_FMT_24).imageText8[1]);

    /* Xor: the xor fill (8 bpp only), general lines and copies, copy image text. */
    g.gc.planeMask = ~0u;
    g.gc.function = 6;
    g.validate(&d8, 0xFFFFFFFF);
    EXPECT_EQ(g.gc.ops->PolyFillRect, F(FB_FMT_8).polyFillRect[FB_FILL_SOLID_XOR]);
    EXPECT_NE(F(FB_FMT_8).polyFillRect[FB_FILL_SOLID_XOR], F(FB_FMT_8).polyFillRect[FB_FILL_SOLID_GENERAL]);
    EXPECT_EQ(F(FB_FMT_16).polyFillRect[FB_FILL_SOLID_XOR], F(FB_FMT_16).polyFillRect[FB_FILL_SOLID_GENERAL]);
    EXPECT_EQ(g.gc.ops->PolyLine, F(FB_FMT_8).polyLine[1]);
    EXPECT_EQ(g.gc.ops->CopyArea, F(FB_FMT_8).copyArea[1]);
    EXPECT_EQ(g.gc.ops->PolyText8, F(FB_FMT_8).polyText8[1]);
    EXPECT_EQ(g.gc.ops->ImageText8, F(FB_FMT_8).imageText8[0]);

    /* Opaque stipples compare classes, not pixels. */
    g.gc.function = 3;
    g.gc.fillStyle = FB_FILL_OPAQUE;
    g.gc.foreground = 1;
    g.gc.background = 2;
    g.validate(&d8, 0xFFFFFFFF);
    EXPECT_EQ(g.gc.ops->PolyFillRect, F(FB_FMT_8).polyFillRect[FB_FILL_OPAQUE_COPY]);
    EXPECT_EQ(g.gc.ops->FillSpans, F(FB_FMT_8).fillSpans[FB_SPANS_OPAQUE_COPY]);
}

TEST(FbValidate, FormatsWithoutDrawingGetNoOps) {
    TestBuffer d8(4, 4, 8), d1(16, 4, 1);
    GCFixture g;
    g.validate(&d8, 0xFFFFFFFF);
    /* Depth 1: the bitmap image puts, and no 8 bpp routine left behind. */
    g.validate(&d1, 0xFFFFFFFF);
    const FbGCOps& o = *g.gc.ops;
    EXPECT_EQ(o.PutImage, F(FB_FMT_1).putImage);
    EXPECT_EQ(o.PutSubImage, F(FB_FMT_1).putSubImage);
    EXPECT_EQ(o.PolyLine, fbNoOps.PolyLine);
    EXPECT_EQ(o.PolySegment, fbNoOps.PolySegment);
    EXPECT_EQ(o.PolyRectangle, fbNoOps.PolyRectangle);
    EXPECT_EQ(o.PolyFillRect, fbNoOps.PolyFillRect);
    EXPECT_EQ(o.CopyArea, fbNoOps.CopyArea);
    EXPECT_EQ(o.CopyPlane, fbNoOps.CopyPlane);
    EXPECT_EQ(o.PolyText8, fbNoOps.PolyText8);
    EXPECT_EQ(o.ImageText8, fbNoOps.ImageText8);
    EXPECT_EQ(o.FillSpans, fbNoOps.FillSpans);
    EXPECT_EQ(o.FillPolygon, fbFillPolygon);
    /* An unknown depth loses the image puts too. */
    g.validate(&d8, 0xFFFFFFFF);
    FbBuffer odd = d8.b;
    odd.depth = 12;
    g.validate(&odd, 0xFFFFFFFF);
    EXPECT_EQ(g.gc.ops->PutImage, fbNoOps.PutImage);
    EXPECT_EQ(g.gc.ops->PolyLine, fbNoOps.PolyLine);
    /* A fill style out of range: no fill at all, not the previous one. */
    g.validate(&d8, 0xFFFFFFFF);
    g.gc.fillStyle = 9;
    g.validate(&d8, FB_GC_FILL_STYLE);
    EXPECT_EQ(g.gc.ops->PolyFillRect, fbNoOps.PolyFillRect);
    EXPECT_EQ(g.gc.ops->FillSpans, fbNoOps.FillSpans);
}

/* Bit (s, d) of an X function: bit 3 - (2s + d) of its number. */
uint32_t TruthTable(uint32_t function, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (int bit = 0; bit < 32; bit++) {
        uint32_t sb = (s >> bit) & 1, db = (d >> bit) & 1;
        r |= ((function >> (3 - (2 * sb + db))) & 1) << bit;
    }
    return r;
}

TEST(FbRaster, ReductionMatchesTheFunctionUnderThePlaneMask) {
    std::mt19937 rng(1234);
    for (uint32_t f = 0; f < 16; f++)
        for (int i = 0; i < 200; i++) {
            uint32_t fg = rng(), pm = i % 3 == 0 ? ~0u : rng(), d = rng(), a, x;
            uint32_t cls = fbReduceRasterOp(f, fg, pm, &a, &x);
            uint32_t want = (TruthTable(f, fg, d) & pm) | (d & ~pm);
            ASSERT_EQ((d & a) ^ x, want) << "function " << f;
            ASSERT_EQ(fbApplyRasterOp(f, fg, d), TruthTable(f, fg, d)) << "function " << f;
            /* Each short form must give the same pixel as the full rule. */
            uint32_t shortForm = cls == FB_CLASS_COPY  ? x
                                 : cls == FB_CLASS_XOR ? d ^ x
                                 : cls == FB_CLASS_AND ? d & a
                                 : cls == FB_CLASS_OR  ? d | x
                                                       : (d & a) ^ x;
            ASSERT_EQ(shortForm, want) << "function " << f << " class " << cls;
        }
    uint32_t a, x;
    EXPECT_EQ(fbReduceRasterOp(3, 0x12, ~0u, &a, &x), FB_CLASS_COPY);
    EXPECT_EQ(fbReduceRasterOp(6, 0x12, ~0u, &a, &x), FB_CLASS_XOR);
    EXPECT_EQ(fbReduceRasterOp(3, 0x0F, 0xFF, &a, &x), FB_CLASS_GENERAL);
}

TEST(FbRaster, NibblesAndReplication) {
    fbSetOpaqueNibbles(0xAA, 0x55);
    const uint8_t* t = fbOpaqueNibbles();
    EXPECT_EQ(t[5 * 4 + 0], 0xAA); /* 0101: pixels 0 and 2 foreground */
    EXPECT_EQ(t[5 * 4 + 1], 0x55);
    EXPECT_EQ(t[5 * 4 + 2], 0xAA);
    EXPECT_EQ(t[5 * 4 + 3], 0x55);
}

TEST(FbPixmap, StridesAndRefusals) {
    struct Case {
        int32_t w, h;
        uint32_t depth, bpp;
        int result;
        uint32_t stride, bppAfter;
    } cases[] = {
        {9, 2, 1, 0, 0, 2, 0},      {9, 2, 8, 0, 0, 12, 1},     {9, 2, 16, 0, 0, 20, 2},
        {9, 2, 24, 0, 0, 28, 3},    {9, 2, 24, 4, 0, 36, 4},    {1, 1, 24, 0, 0, 4, 3},
        {9, 2, 32, 0, -1, 0, 0},    {9, 2, 4, 0, -1, 0, 0},     {32768, 1, 8, 0, -1, 0, 0},
        {1, 32768, 8, 0, -1, 0, 0}, {0, 5, 8, 0, -1, 0, 0},     {-3, 5, 8, 0, -1, 0, 0},
        /* 65535 x 21846 x 3 wraps to 128 KiB in 32 bits. */
        {65535, 21846, 24, 0, -1, 0, 0},
        /* Sides in range, bytes above the cap. */
        {32767, 32767, 24, 4, -1, 0, 0},
    };
    for (const Case& c : cases) {
        FbBuffer b{};
        b.width = c.w;
        b.height = c.h;
        b.depth = c.depth;
        b.bytesPerPixel = c.bpp;
        ASSERT_EQ(fbCreatePixmap(nullptr, &b), c.result) << c.w << "x" << c.h << " depth " << c.depth;
        if (c.result == 0) {
            EXPECT_EQ(b.stride, c.stride) << c.w << " depth " << c.depth;
            EXPECT_EQ(b.dibStride, c.stride);
            if (c.depth != 1) {
                EXPECT_EQ(b.bytesPerPixel, c.bppAfter);
            }
            EXPECT_NE(fbBufferFormat(&b), FB_FMT_NONE);
            b.bits[size_t(b.stride) * b.height - 1] = 1; /* the whole buffer is ours */
        } else {
            EXPECT_EQ(b.bits, nullptr);
        }
        fbDestroyPixmap(nullptr, &b);
    }
}

TEST(FbPixmap, GlyphsAndPixmapImageDispatch) {
    FbGlyph g{};
    g.bitmap = {9, 3, 1, 0, 0, nullptr, nullptr, 0};
    ASSERT_EQ(fbCreateGlyph(nullptr, nullptr, &g), 0);
    EXPECT_EQ(g.bitmap.stride, 2u);
    const uint8_t rows[] = {0xFF, 0x01, 0x00, 0x00, 0x81, 0x00};
    EXPECT_EQ(fbPutGlyphImage(nullptr, nullptr, &g, 0, 0, 9, 3, 0, sizeof rows, rows), 6);
    EXPECT_EQ(g.bitmap.bits[1], 0x01);
    EXPECT_EQ(g.bitmap.bits[4], 0x81);
    /* Tiles into a bitmap: nothing drawn, 0. */
    EXPECT_EQ(fbPutGlyphImage(nullptr, nullptr, &g, 0, 0, 9, 3, 4, sizeof rows, rows), 0);
    fbFreeGlyph(nullptr, nullptr, &g);
    FbGlyph g8{};
    g8.bitmap = {4, 4, 8, 0, 0, nullptr, nullptr, 0};
    EXPECT_EQ(fbCreateGlyph(nullptr, nullptr, &g8), -1);
    FbGlyph huge{};
    huge.bitmap = {65535, 65535, 1, 0, 0, nullptr, nullptr, 0};
    EXPECT_EQ(fbCreateGlyph(nullptr, nullptr, &huge), -1);

    /* The decoder is chosen by the buffer: 24-bit data into an 8 bpp
     * pixmap is refused, not written with 3-byte pixels. */
    TestBuffer p8(4, 2, 8);
    std::vector<uint8_t> data(4 * 2 * 3, 0xCC);
    EXPECT_EQ(fbPutPixmapImage(&p8, 0, 0, 4, 2, 24, 0, uint32_t(data.size()), data.data()), 0);
    EXPECT_EQ(p8.get(3, 1), 0u);
    EXPECT_EQ(fbPutPixmapImage(&p8, 0, 0, 4, 2, 8, 0, uint32_t(data.size()), data.data()), 8);
    EXPECT_EQ(p8.get(3, 1), 0xCCu);
    EXPECT_EQ(fbPutPixmapImage(&p8, 0, 0, 4, 2, 8, 3, uint32_t(data.size()), data.data()), 0);
}

} // namespace
