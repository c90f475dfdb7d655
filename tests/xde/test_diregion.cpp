// Regions: random runs of every operation against a brute-force bitmap
// (and pixman's regions in the host tree), the allocation rule, the shared
// empty block, vertical merging and the damage-area head.
#include <gtest/gtest.h>

#include "region_model.h"

#include <random>

namespace {

struct Run {
    std::mt19937 rng;
    GridModel grid;
    explicit Run(uint32_t seed, bool extreme)
        : rng(seed), grid(axis(extreme, seed), axis(extreme, seed * 7 + 1)) {}

    static std::vector<int> axis(bool extreme, uint32_t seed) {
        if (extreme) return {-32768, -32767, -300, -1, 0, 1, 2, 77, 32765, 32766, 32767};
        std::vector<int> v;
        int n = 12 + int(seed % 20);
        for (int i = 0; i <= n; i++) v.push_back(i * 3 - 5);
        return v;
    }
    DiBox randomBox() {
        auto pick = [&](const std::vector<int>& a) { return a[rng() % a.size()]; };
        DiBox b = {int16_t(pick(grid.xs)), int16_t(pick(grid.ys)), int16_t(pick(grid.xs)),
                   int16_t(pick(grid.ys))};
        // Mostly well-formed boxes, some inverted or empty ones.
        if (rng() % 8 && b.x1 > b.x2) std::swap(b.x1, b.x2);
        if (rng() % 8 && b.y1 > b.y2) std::swap(b.y1, b.y2);
        return b;
    }
};

using Cells = std::vector<std::vector<uint8_t>>;

Cells combine(const Cells& a, const Cells& b, int op) {
    Cells c = a;
    for (size_t j = 0; j < c.size(); j++)
        for (size_t i = 0; i < c[j].size(); i++)
            c[j][i] = op == 0 ? (a[j][i] | b[j][i]) : op == 1 ? (a[j][i] & b[j][i])
                                                              : (a[j][i] & !b[j][i]);
    return c;
}

int apply(int op, DiRegion* d, const DiRegion* a, const DiRegion* b) {
    return op == 0 ? RegionUnion(d, a, b) : op == 1 ? RegionIntersect(d, a, b)
                                                    : RegionSubtract(d, a, b);
}

#ifdef HV_HAVE_PIXMAN
void pixmanFromBox(pixman_region16_t* p, const DiBox& b) {
    if (b.x2 <= b.x1 || b.y2 <= b.y1)
        pixman_region_init(p);
    else
        pixman_region_init_rect(p, b.x1, b.y1, unsigned(b.x2 - b.x1), unsigned(b.y2 - b.y1));
}
void pixmanApply(int op, pixman_region16_t* d, pixman_region16_t* a, pixman_region16_t* b) {
    if (op == 0) pixman_region_union(d, a, b);
    if (op == 1) pixman_region_intersect(d, a, b);
    if (op == 2) pixman_region_subtract(d, a, b);
}
#endif

// One random run: an accumulator combined with random regions (themselves
// unions of random boxes) by every operation, with the destination aliasing
// either input or neither; after each step the result must be the canonical
// box list of the bitmap, keep the band invariant, and equal pixman's.
void randomRun(uint32_t seed, bool extreme) {
    Run run(seed, extreme);
    DiRegion acc;
    RegionInit(&acc, nullptr, 0);
    Cells accCells = run.grid.boxCells({0, 0, 0, 0});
#ifdef HV_HAVE_PIXMAN
    pixman_region16_t pacc;
    pixman_region_init(&pacc);
#endif
    for (int step = 0; step < 60; step++) {
        DiRegion other;
        DiBox first = run.randomBox();
        RegionInit(&other, &first, 0);
        Cells otherCells = run.grid.boxCells(first);
#ifdef HV_HAVE_PIXMAN
        pixman_region16_t pother;
        pixmanFromBox(&pother, first);
#endif
        int pieces = int(run.rng() % 5);
        for (int k = 0; k < pieces; k++) {
            DiBox b = run.randomBox();
            DiRegion one;
            RegionInit(&one, &b, 0);
            ASSERT_EQ(RegionUnion(&other, &other, &one), 1);
            RegionUninit(&one);
            otherCells = combine(otherCells, run.grid.boxCells(b), 0);
#ifdef HV_HAVE_PIXMAN
            pixman_region16_t pone;
            pixmanFromBox(&pone, b);
            pixman_region_union(&pother, &pother, &pone);
            pixman_region_fini(&pone);
#endif
        }
        int op = int(run.rng() % 3);
        int alias = int(run.rng() % 3);
        bool swapped = run.rng() % 4 == 0; // other op acc instead of acc op other
        Cells want = swapped ? combine(otherCells, accCells, op) : combine(accCells, otherCells, op);
        DiRegion fresh;
        RegionInit(&fresh, nullptr, 0);
        DiRegion* dst = alias == 0 ? &acc : alias == 1 ? &other : &fresh;
        ASSERT_EQ(swapped ? apply(op, dst, &other, &acc) : apply(op, dst, &acc, &other), 1);
        if (dst != &acc) {
            RegionCopy(&acc, dst);
        }
        accCells = want;
        std::string where = "seed " + std::to_string(seed) + (extreme ? " extreme" : "") +
                            " step " + std::to_string(step) + " op " + std::to_string(op);
        ASSERT_EQ(bandProblem(&acc), "") << where;
        std::vector<DiBox> expect = run.grid.canonical(want);
        std::vector<DiBox> got = RegionNotEmpty(&acc) ? regionBoxes(&acc) : std::vector<DiBox>();
        ASSERT_TRUE(sameBoxes(got, expect))
            << where << "\n got    " << boxesText(got) << "\n expect " << boxesText(expect);
#ifdef HV_HAVE_PIXMAN
        pixman_region16_t pres;
        pixman_region_init(&pres);
        if (swapped)
            pixmanApply(op, &pres, &pother, &pacc);
        else
            pixmanApply(op, &pres, &pacc, &pother);
        pixman_region_copy(&pacc, &pres);
        pixman_region_fini(&pres);
        pixman_region_fini(&pother);
        ASSERT_TRUE(sameBoxes(got, pixmanBoxes(&pacc))) << where << " (pixman)";
#endif
        RegionUninit(&other);
        RegionUninit(&fresh);
    }
    RegionUninit(&acc);
#ifdef HV_HAVE_PIXMAN
    pixman_region_fini(&pacc);
#endif
}

TEST(Region, RandomOperationsMatchTheBitmapAndPixman) {
    for (uint32_t seed = 1; seed <= 80; seed++) {
        randomRun(seed, false);
        if (HasFatalFailure()) return;
        randomRun(seed, true);
        if (HasFatalFailure()) return;
    }
}

TEST(Region, EmptyAndInvertedBoxesGiveTheEmptyRegion) {
    const DiBox bad[] = {{5, 5, 5, 9}, {5, 5, 9, 5}, {9, 5, 5, 9}, {5, 9, 9, 5},
                         {32767, -32768, -32768, 32767}};
    for (const DiBox& b : bad) {
        DiRegion in;
        RegionInit(&in, &b, 0);
        EXPECT_FALSE(RegionNotEmpty(&in));
        DiBox good = {0, 0, 4, 4};
        RegionReset(&in, &good);
        RegionReset(&in, &b);
        EXPECT_FALSE(RegionNotEmpty(&in)) << boxText(b);
        EXPECT_EQ(bandProblem(&in), "");
        // An empty region unites as nothing.
        DiRegion u;
        RegionInit(&u, &b, 0);
        RegionUnion(&u, &u, &in);
        EXPECT_FALSE(RegionNotEmpty(&u));
        RegionUninit(&u);
        RegionUninit(&in);
    }
}

TEST(Region, SubtractingARegionFromItselfGivesTheSharedEmptyBlock) {
    DiBox a = {0, 0, 10, 10}, b = {20, 0, 30, 10};
    DiRegion r, s;
    RegionInit(&r, &a, 0);
    RegionInit(&s, &b, 0);
    RegionUnion(&r, &r, &s);
    ASSERT_EQ(RegionNumRects(&r), 2);
    RegionSubtract(&r, &r, &r);
    EXPECT_EQ(r.data, &diRegionEmptyData);
    // Freeing and emptying never touch the shared block (ASan would see it).
    RegionUninit(&r);
    RegionInit(&r, nullptr, 0);
    EXPECT_EQ(r.data, &diRegionEmptyData);
    RegionEmpty(&r);
    EXPECT_EQ(diRegionEmptyData.size, 0);
    EXPECT_EQ(diRegionEmptyData.numRects, 0);
    RegionUninit(&s);
}

TEST(Region, GrowthDoublesUpTo500BoxesThenAdds250) {
    struct Case {
        int used, n, wantSize;
    } cases[] = {{2, 1, 4}, {500, 1, 1000}, {501, 1, 751}, {40, 7, 47}};
    for (const Case& c : cases) {
        DiRegion r;
        RegionInit(&r, nullptr, c.used);
        for (int i = 0; i < c.used; i++) {
            DiBox* b = reinterpret_cast<DiBox*>(r.data + 1) + i;
            *b = {int16_t(2 * i), 0, int16_t(2 * i + 1), 1};
        }
        r.data->numRects = c.used;
        ASSERT_EQ(RegionReserve(&r, c.n), 0);
        EXPECT_EQ(r.data->size, c.wantSize) << c.used << " + " << c.n;
        EXPECT_EQ(reinterpret_cast<DiBox*>(r.data + 1)[c.used - 1].x1, 2 * (c.used - 1));
        RegionUninit(&r);
    }
    // Without a block the extents become the first of n + 1 boxes; from the
    // shared empty block, n.
    DiBox e = {1, 2, 3, 4};
    DiRegion one;
    RegionInit(&one, &e, 0);
    ASSERT_EQ(RegionReserve(&one, 3), 0);
    EXPECT_EQ(one.data->size, 4);
    EXPECT_EQ(one.data->numRects, 1);
    EXPECT_EQ(boxText(reinterpret_cast<DiBox*>(one.data + 1)[0]), "(1,2)-(3,4)");
    RegionUninit(&one);
    DiRegion none;
    RegionInit(&none, nullptr, 0);
    ASSERT_EQ(RegionReserve(&none, 3), 0);
    EXPECT_EQ(none.data->size, 3);
    // A size past the cap is refused before anything is allocated, and the
    // region keeps its block.
    DiRegionData* before = none.data;
    EXPECT_EQ(RegionReserve(&none, 1 << 30), -1);
    EXPECT_EQ(none.data, before);
    EXPECT_EQ(none.data->size, 3);
    RegionUninit(&none);
}

TEST(Region, MergeVerticalJoinsEqualSpansAndStopsBelowTheBox) {
    struct Case {
        std::vector<DiBox> in;
        std::vector<DiBox> out;
    } cases[] = {
        {{{0, 0, 10, 5}, {0, 5, 10, 9}}, {{0, 0, 10, 9}}},
        // Two boxes in the first band; the matching one below joins the right one.
        {{{0, 0, 4, 5}, {6, 0, 10, 5}, {6, 5, 10, 9}}, {{0, 0, 4, 5}, {6, 0, 10, 9}}},
        // A gap: the next box starts below y2, so nothing is examined past it.
        {{{0, 0, 10, 5}, {0, 6, 10, 9}}, {{0, 0, 10, 5}, {0, 6, 10, 9}}},
        // Chains grow y2, which lets the box absorb the next one too.
        {{{0, 0, 10, 2}, {0, 2, 10, 4}, {0, 4, 10, 6}}, {{0, 0, 10, 6}}},
    };
    for (const Case& c : cases) {
        DiRegion r;
        RegionInit(&r, nullptr, int(c.in.size()) + 1);
        memcpy(r.data + 1, c.in.data(), c.in.size() * sizeof(DiBox));
        r.data->numRects = int32_t(c.in.size());
        EXPECT_GT(RegionMergeVertical(&r), 0);
        std::vector<DiBox> got(reinterpret_cast<DiBox*>(r.data + 1),
                               reinterpret_cast<DiBox*>(r.data + 1) + r.data->numRects);
        EXPECT_TRUE(sameBoxes(got, c.out)) << boxesText(got);
        RegionUninit(&r);
    }
}

TEST(Region, AreaHeadFollowsTheRegion) {
    DiXRegionArea a;
    diXAreaInit(&a);
    EXPECT_TRUE(diXAreaIsEmpty(&a));
    DiXRect one[] = {{10, 20, 30, 40}};
    diXAreaAddBoxes(&a, 1, one);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.x, 10);
    EXPECT_EQ(a.y, 20);
    EXPECT_EQ(a.width, 30);
    EXPECT_EQ(a.height, 40);
    EXPECT_TRUE(diXAreaCoversExtents(&a));
    // An L shape: two boxes over three bands' worth of extents, not covered.
    DiXRect more[] = {{10, 60, 5, 5}, {0, 0, 0, 9}, {3, 3, 9, 0}};
    diXAreaAddBoxes(&a, 3, more);
    EXPECT_EQ(a.count, 2);
    EXPECT_EQ(a.height, 45);
    EXPECT_FALSE(diXAreaCoversExtents(&a));
    // Exactly filling the hole covers the extents again.
    DiXRect fill[] = {{15, 60, 25, 5}};
    diXAreaAddBoxes(&a, 1, fill);
    EXPECT_TRUE(diXAreaCoversExtents(&a));
    EXPECT_EQ(a.count, 1);
    diXAreaClear(&a);
    EXPECT_TRUE(diXAreaIsEmpty(&a));
    EXPECT_FALSE(RegionNotEmpty(&a.region));
    diXAreaFree(&a);
}

TEST(Region, AreaBoxesPastTheCoordinateRangeAreClamped) {
    DiXRegionArea a;
    diXAreaInit(&a);
    // x + width is 32767 + 65535 in 32 bits; in 16 bits it would wrap to a
    // box with x2 < x1 that breaks the bands.
    DiXRect r[] = {{32000, 0, 65535, 10}, {-32768, 5, 65535, 10}, {32767, 0, 5, 5}};
    diXAreaAddBoxes(&a, 3, r);
    EXPECT_EQ(bandProblem(&a.region), "");
    std::vector<DiBox> got = regionBoxes(&a.region);
    std::vector<DiBox> want = {{32000, 0, 32767, 5}, {-32768, 5, 32767, 15}};
    EXPECT_TRUE(sameBoxes(got, want)) << boxesText(got);
    EXPECT_EQ(a.width, 65535);
    diXAreaFree(&a);
}

TEST(Region, AreaOperationsMatchOneByOneUnion) {
    std::mt19937 rng(99);
    for (int round = 0; round < 40; round++) {
        DiXRegionArea a, b, m;
        diXAreaInit(&a), diXAreaInit(&b), diXAreaInit(&m);
        std::vector<DiXRect> rects;
        int n = 1 + int(rng() % 60);
        for (int i = 0; i < n; i++)
            rects.push_back({int16_t(rng() % 200 - 20), int16_t(rng() % 200 - 20),
                             uint16_t(rng() % 40), uint16_t(rng() % 40)});
        diXAreaAddBoxes(&a, n, rects.data());
        for (const DiXRect& r : rects) diXAreaAddBoxes(&b, 1, &r);
        EXPECT_TRUE(sameBoxes(regionBoxes(&a.region), regionBoxes(&b.region))) << round;
        EXPECT_EQ(a.count, b.count);
        diXAreaSubtract(&m, &a, &b);
        EXPECT_TRUE(diXAreaIsEmpty(&m));
        diXAreaFree(&a), diXAreaFree(&b), diXAreaFree(&m);
    }
}

// n boxes one pixel wide in separate columns, each starting a row lower:
// their union holds about n * n boxes.
std::vector<DiXRect> staircase(int n) {
    std::vector<DiXRect> rects;
    for (int i = 0; i < n; i++)
        rects.push_back({int16_t(i * 2), int16_t(i), 1, uint16_t(n)});
    return rects;
}

// A request whose damage becomes its extents builds about as many boxes as
// the limit, not its union's n * n. (That the result is the union or its
// extents, exactly, the region fuzzer checks against pixman.) The sizes
// grow: past the first that builds too much, a larger one would only show
// the same fault, longer.
TEST(Region, DamagePastTheLimitBuildsNoBoxesItThrowsAway) {
    for (int n : {64, 512, 2048}) {
        std::vector<DiXRect> rects = staircase(n);
        DiXRegionArea a;
        diXAreaInit(&a);
        uint64_t before = diRegionBoxesBuilt();
        EXPECT_EQ(diXAreaAddBoxesUpTo(&a, n, rects.data(), 64), 1);
        uint64_t built = diRegionBoxesBuilt() - before;
        EXPECT_LE(built, 64u + 64u) << n;
        EXPECT_EQ(std::vector<int32_t>({a.x, a.y, a.width, a.height, a.count}),
                  std::vector<int32_t>({0, 0, 2 * n - 1, 2 * n - 1, 1}))
            << n;
        diXAreaFree(&a);
        if (built > 64u + 64u) break;
    }
}

} // namespace
