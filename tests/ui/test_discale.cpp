// Display scaling, portable half: modes and toggles, when scaling is in
// effect, the mapping of rectangles both ways, the layout per screen depth
// and the release of the Windows half.
#include "ui/discale.h"

#include <gtest/gtest.h>

#include "ui/diui.h"

namespace {

struct Scaler {
    DiScaler* s = diScaleCreate();
    ~Scaler() { diScaleFree(s); }
    void sizes(int32_t sw, int32_t sh, int32_t tw, int32_t th) {
        s->srcWidth = sw, s->srcHeight = sh, s->dstWidth = tw, s->dstHeight = th;
        diScaleSetMode(s, s->mode);
    }
};

TEST(DiScale, TogglesReturnToTheLastScalingMode) {
    Scaler sc;
    sc.sizes(1024, 768, 800, 600);
    diScaleSetMode(sc.s, DI_SCALE_SMOOTH);
    EXPECT_EQ(DI_SCALE_NONE, diScaleRestoreMode(sc.s));
    EXPECT_EQ(DI_SCALE_SMOOTH, diScaleRestoreMode(sc.s));
    // Fast chosen directly, then two toggles: fast again.
    diScaleSetMode(sc.s, DI_SCALE_FAST);
    EXPECT_EQ(DI_SCALE_NONE, diScaleRestoreMode(sc.s));
    EXPECT_EQ(DI_SCALE_FAST, diScaleRestoreMode(sc.s));
    EXPECT_TRUE(sc.s->active);
}

TEST(DiScale, ActiveNeedsAModeDifferentSizesAndNoZeroSide) {
    struct Case {
        int32_t sw, sh, tw, th, mode;
        bool active;
    } cases[] = {
        {1024, 768, 800, 600, DI_SCALE_FAST, true},  {1024, 768, 1024, 768, DI_SCALE_SMOOTH, false},
        {1024, 768, 800, 600, DI_SCALE_NONE, false}, {1024, 768, 0, 600, DI_SCALE_FAST, false},
        {0, 768, 800, 600, DI_SCALE_FAST, false},    {1024, 0, 800, 600, DI_SCALE_SMOOTH, false},
        {1024, 768, 1024, 767, DI_SCALE_FAST, true},
    };
    for (const Case& c : cases) {
        Scaler sc;
        sc.s->mode = c.mode;
        sc.sizes(c.sw, c.sh, c.tw, c.th);
        EXPECT_EQ(c.active, bool(sc.s->active))
            << c.sw << "x" << c.sh << " " << c.tw << "x" << c.th;
        int32_t out[4];
        if (!c.active) {
            EXPECT_EQ(0, diScaleTargetRect(sc.s, 0, 0, 10, 10, out));
        }
    }
}

TEST(DiScale, AttachAndGeometryFollowTheEngine) {
    // A plain display object: its type runs no destroy routine.
    DiObject engine;
    diUIObjectInit(&engine, DI_OBJ_FRAME, 800, 600);
    engine.vwidth = 1280, engine.vheight = 1024;
    static int released;
    released = 0;
    DiScaler* first = diScaleCreate();
    first->release = [](DiScaler*) { released++; };
    diScaleAttach(first, &engine);
    EXPECT_EQ(DI_SCALE_SMOOTH, first->mode);
    EXPECT_TRUE(engine.scalingAllowed);
    EXPECT_TRUE(diScaleIsScaling(&engine));
    EXPECT_TRUE(diScaleNeedsGeometry(first, &engine));
    diScaleSetGeometry(first, &engine);
    EXPECT_FALSE(diScaleNeedsGeometry(first, &engine));
    EXPECT_TRUE(first->active);
    // A new virtual size alone (the session restarted smaller) must be
    // taken again, or the scalers would read past the smaller image.
    engine.vwidth = 640;
    EXPECT_TRUE(diScaleNeedsGeometry(first, &engine));
    // Attaching another frees the first with its Windows half.
    DiScaler* second = diScaleCreate();
    diScaleAttach(second, &engine);
    EXPECT_EQ(1, released);
    EXPECT_EQ(second, engine.scaler);
    // The object's destruction frees the scaler the same way.
    second->release = [](DiScaler*) { released++; };
    diUIObjectDestroy(&engine);
    EXPECT_EQ(2, released);
    EXPECT_EQ(nullptr, engine.scaler);
}

TEST(DiScale, RectanglesMapBothWays) {
    Scaler sc;
    sc.sizes(1000, 700, 640, 480);
    sc.s->mode = DI_SCALE_FAST;
    sc.sizes(1000, 700, 640, 480);
    int32_t r[4] = {64, 48, 64, 48};
    diScaleRect(sc.s, r);
    EXPECT_EQ(100, r[0]);
    EXPECT_EQ(70, r[1]);
    EXPECT_EQ(200 - 100, r[2]);
    EXPECT_EQ(140 - 70, r[3]);
    int32_t out[4];
    // The right edge ends exactly at the target width.
    ASSERT_EQ(1, diScaleTargetRect(sc.s, 990, 0, 10, 7, out));
    EXPECT_EQ(640, out[0] + out[2]);
    EXPECT_EQ(990 * 640 / 1000 - 1, out[0]);
    EXPECT_EQ(0, out[1]);
    EXPECT_EQ(7 * 480 / 700 + 1, out[3]);
    // Damage beyond the source gives nothing.
    EXPECT_EQ(0, diScaleTargetRect(sc.s, 1200, 0, 10, 10, out));
    EXPECT_EQ(0, out[2]);
    // A zero target leaves a rectangle unchanged.
    sc.sizes(1000, 700, 0, 480);
    int32_t same[4] = {1, 2, 3, 4};
    diScaleRect(sc.s, same);
    EXPECT_EQ(1, same[0]);
    EXPECT_EQ(4, same[3]);
}

TEST(DiScale, LargeCoordinatesDoNotOverflow) {
    Scaler sc;
    sc.s->mode = DI_SCALE_SMOOTH;
    sc.sizes(65535, 65535, 60000, 60000);
    int32_t out[4];
    ASSERT_EQ(1, diScaleTargetRect(sc.s, 65000, 65000, 535, 535, out));
    EXPECT_EQ(int32_t(int64_t(65000) * 60000 / 65535 - 1), out[0]);
    EXPECT_EQ(60000, out[0] + out[2]);
    int32_t r[4] = {59000, 0, 1000, 10};
    diScaleRect(sc.s, r);
    EXPECT_EQ(int32_t(int64_t(59000) * 65535 / 60000), r[0]);
    EXPECT_EQ(int32_t(int64_t(60000) * 65535 / 60000 - r[0]), r[2]);
}

TEST(DiScale, LayoutPerScreenAndEngineDepth) {
    struct Case {
        int32_t screen, engine;
        uint32_t bpp;
        int32_t mode;
        int32_t dib;
        uint32_t inter;
        DiScaleConvertFn convert;
        FbScaleFn resample;
    } cases[] = {
        {8, 8, 1, DI_SCALE_FAST, 8, 1, fbDither8, g_fbScaleNearest[0][0]},
        {8, 8, 1, DI_SCALE_SMOOTH, 8, 3, fbDitherRGB24, g_fbScaleAverage[0][2]},
        {8, 16, 2, DI_SCALE_SMOOTH, 8, 2, fbDither16, g_fbScaleAverage[1][1]},
        {8, 24, 3, DI_SCALE_FAST, 8, 3, fbDither24, g_fbScaleNearest[2][2]},
        {8, 24, 4, DI_SCALE_SMOOTH, 8, 4, fbDither32, g_fbScaleAverage[3][3]},
        // A 4-bit screen takes the 8-bit path too (its own depth has no DIB).
        {4, 8, 1, DI_SCALE_SMOOTH, 8, 3, fbDitherRGB24, g_fbScaleAverage[0][2]},
        {4, 16, 2, DI_SCALE_FAST, 8, 2, fbDither16, g_fbScaleNearest[1][1]},
        {16, 8, 1, DI_SCALE_SMOOTH, 16, 0, nullptr, g_fbScaleAverage[0][1]},
        {24, 24, 4, DI_SCALE_FAST, 24, 0, nullptr, g_fbScaleNearest[3][2]},
        {32, 16, 2, DI_SCALE_SMOOTH, 32, 0, nullptr, g_fbScaleAverage[1][3]},
    };
    for (const Case& c : cases) {
        DiScaleLayout l;
        ASSERT_EQ(0, diScaleChooseLayout(c.screen, c.engine, c.bpp, c.mode, &l))
            << c.screen << " " << c.engine;
        EXPECT_EQ(c.dib, l.dibDepth);
        EXPECT_EQ(c.inter, l.interBpp);
        EXPECT_EQ(c.convert, l.convert);
        EXPECT_EQ(c.resample, l.resample) << c.screen << " " << c.engine << " " << c.mode;
        EXPECT_NE(nullptr, l.resample);
    }
    DiScaleLayout l;
    EXPECT_EQ(-1, diScaleChooseLayout(15, 16, 2, DI_SCALE_FAST, &l));
    EXPECT_EQ(-1, diScaleChooseLayout(8, 12, 2, DI_SCALE_FAST, &l));
    EXPECT_EQ(-1, diScaleChooseLayout(8, 16, 4, DI_SCALE_FAST, &l));
    uint32_t stride;
    EXPECT_EQ(uint64_t(65535) * 4 * 65535, diScaleImageBytes(65535, 65535, 4, &stride));
    EXPECT_EQ(uint64_t(8) * 3, diScaleImageBytes(7, 3, 1, &stride));
    EXPECT_EQ(8u, stride);
    diScaleImageBytes(5, 1, 3, &stride);
    EXPECT_EQ(16u, stride);
}

} // namespace
