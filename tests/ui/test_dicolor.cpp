// The colour allocator: the cube, tolerant sharing with ties, private
// cells and exhaustion.
#include <gtest/gtest.h>

#include "ui/dicolor.h"

#include <stdlib.h>

namespace {

struct DiColor : ::testing::Test {
    DdColorMap map{};
    void SetUp() override {
        map.cells = static_cast<DdColorCell*>(calloc(256, sizeof(DdColorCell)));
        map.entries = static_cast<DiColorEntry*>(calloc(256, sizeof(DiColorEntry)));
    }
    void TearDown() override { diColorMapFree(&map); }
};

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r | g << 8 | b << 16;
}

TEST_F(DiColor, DepthDefaults) {
    struct Case {
        int32_t depth, result, free, cube, tolerance;
    } cases[] = {{4, 0, 16 - 8, 2, 25}, {8, 0, 256 - 216, 6, 11}, {16, 0, 256, 0, 0},
                 {24, 0, 256, 0, 0},    {32, 0, 256, 0, 0},       {7, -1, 0, 0, 0}};
    for (const Case& c : cases) {
        TearDown();
        map = DdColorMap();
        SetUp();
        EXPECT_EQ(diColorMapInit(&map, c.depth, -1, -1), c.result) << c.depth;
        if (c.result < 0) continue;
        EXPECT_EQ(map.freeCount, c.free) << c.depth;
        EXPECT_EQ(map.cubeSize, c.cube) << c.depth;
        EXPECT_EQ(map.tolerance, c.tolerance) << c.depth;
    }
}

TEST_F(DiColor, CubeOfSixLevelsIsIndexedBlueGreenRed) {
    ASSERT_EQ(diColorMapInit(&map, 8, -1, -1), 0);
    const int levels[6] = {0, 51, 102, 153, 204, 255};
    for (int b = 0; b < 6; b++)
        for (int g = 0; g < 6; g++)
            for (int r = 0; r < 6; r++) {
                const DiColorEntry& e = map.entries[map.cube[(b * 6 + g) * 6 + r]];
                ASSERT_EQ(e.red, levels[r]);
                ASSERT_EQ(e.green, levels[g]);
                ASSERT_EQ(e.blue, levels[b]);
                ASSERT_EQ(e.flags, uint32_t(DI_COLOR_SHARED));
            }
}

TEST_F(DiColor, CubeSizesBelowTwoAndAboveTheTableAreGuarded) {
    EXPECT_EQ(diColorMapInit(&map, 8, 1, 11), 0); // no division by zero
    EXPECT_EQ(map.cubeSize, 0);
    EXPECT_EQ(map.freeCount, 256);
    EXPECT_EQ(diColorMapInit(&map, 8, 7, 11), -1);
}

TEST_F(DiColor, TolerantMatchPrefersTheSmallestDifference) {
    ASSERT_EQ(diColorMapInit(&map, 8, -1, -1), 0);
    int free = map.freeCount;
    int i = diColorAllocEntry(&map, rgb(100, 100, 100), 0, 11, DI_COLOR_SHARED);
    ASSERT_GE(i, 0);
    EXPECT_EQ(map.entries[i].red, 102); // sum 6: shared, no new entry
    EXPECT_EQ(map.freeCount, free);
    // Outside the tolerance on one axis: a new entry.
    int j = diColorAllocEntry(&map, rgb(120, 102, 102), 0, 11, DI_COLOR_SHARED);
    EXPECT_EQ(map.entries[j].red, 120);
    EXPECT_EQ(map.freeCount, free - 1);
}

TEST_F(DiColor, TiesGoToTheFirstEntryAndMinusOneNeverShares) {
    ASSERT_EQ(diColorMapInit(&map, 16, 0, 0), 0);
    int a = diColorAllocEntry(&map, rgb(10, 10, 10), 0, -1, DI_COLOR_SHARED);
    int b = diColorAllocEntry(&map, rgb(14, 10, 10), 0, -1, DI_COLOR_SHARED);
    EXPECT_NE(a, b); // tolerance -1 enters both
    EXPECT_EQ(diColorAllocEntry(&map, rgb(12, 10, 10), 0, 5, DI_COLOR_SHARED), a);
    // A start after the first match finds the second.
    EXPECT_EQ(diColorAllocEntry(&map, rgb(12, 10, 10), uint32_t(a + 1), 5, DI_COLOR_SHARED), b);
    EXPECT_EQ(diColorAllocEntry(&map, rgb(1, 2, 3), 256, 5, DI_COLOR_SHARED), -1);
}

TEST_F(DiColor, PrivateCellsAreNeverSharedAndAreReplaced) {
    ASSERT_EQ(diColorMapInit(&map, 8, -1, -1), 0);
    DdColorCell cell{};
    int free = map.freeCount;
    // A cube colour within tolerance is shared: not private.
    EXPECT_EQ(diColorAllocCell(&map, &cell, rgb(50, 50, 50)), 0);
    EXPECT_EQ(cell.flags, uint32_t(DI_COLOR_SHARED));
    EXPECT_EQ(cell.red, 51);
    EXPECT_EQ(cell.reqRed, 50);
    // Far from the cube: a private entry.
    DdColorCell p{};
    EXPECT_EQ(diColorAllocCell(&map, &p, rgb(25, 77, 130)), 1);
    EXPECT_EQ(p.flags, uint32_t(DI_COLOR_PRIVATE));
    EXPECT_EQ(map.freeCount, free - 1);
    // Nobody else shares a private entry.
    EXPECT_NE(diColorAllocEntry(&map, rgb(25, 77, 130), 0, 11, DI_COLOR_SHARED), int(p.index));
    // Re-allocating the cell frees its private entry first.
    uint32_t old = p.index;
    EXPECT_EQ(diColorAllocCell(&map, &p, rgb(26, 180, 130)), 1);
    EXPECT_EQ(p.index, old);
}

TEST_F(DiColor, ExhaustionFailsCleanly) {
    ASSERT_EQ(diColorMapInit(&map, 8, -1, 0), 0);
    int n = 0;
    while (diColorAllocEntry(&map, rgb(1 + n % 250, 1 + n / 250, 7), 0, 0, DI_COLOR_SHARED) >= 0)
        n++;
    EXPECT_EQ(n, 40);
    EXPECT_EQ(map.freeCount, 0);
    DdColorCell cell{};
    EXPECT_EQ(diColorAllocCell(&map, &cell, rgb(9, 8, 7)), 0);
    EXPECT_EQ(cell.flags, uint32_t(DI_COLOR_FAILED));
    EXPECT_EQ(cell.index, 0u);
    EXPECT_EQ(cell.red, 9);
    // Freeing gives the entry back once; freeing it again changes nothing.
    diColorFreeEntry(&map, 255);
    diColorFreeEntry(&map, 255);
    EXPECT_EQ(map.freeCount, 1);
    diColorFreeEntry(&map, 1000); // out of range: ignored
}

} // namespace

namespace {

// The dither caches per-cell quotients; every change to cells or entries
// must mark the map so that the cache is made again.
TEST_F(DiColor, ChangesMarkTheMapForTheDitherCache) {
    ASSERT_EQ(0, diColorMapInit(&map, 8, -1, -1));
    EXPECT_EQ(1, map.changed);
    map.changed = 0;
    DdColorCell cell{};
    diColorAllocCell(&map, &cell, rgb(1, 2, 3));
    EXPECT_EQ(1, map.changed);
    map.changed = 0;
    diColorFreeEntry(&map, cell.index);
    EXPECT_EQ(1, map.changed);
}

} // namespace
