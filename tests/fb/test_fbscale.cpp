// The image scalers against a pixel-by-pixel transcription of their rules:
// every routine of both tables, random images, odd and thin sizes, partial
// and clipped rectangles.
#include "fb/fbscale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "ui/dicolor.h"

namespace {

struct Image {
    uint32_t w, h, bpp, stride;
    std::vector<uint8_t> bits;
    Image(uint32_t width, uint32_t height, uint32_t b, uint8_t fill = 0)
        : w(width), h(height), bpp(b), stride(fbScaleStride(width, b)),
          bits(size_t(stride) * height, fill) {}
    uint8_t* px(uint32_t x, uint32_t y) { return &bits[size_t(h - 1 - y) * stride + x * bpp]; }
    uint32_t raw(uint32_t x, uint32_t y) {
        uint32_t v = 0;
        memcpy(&v, px(x, y), bpp);
        return v;
    }
};

// Colour (r, g, b) of a source pixel, written out from the format rules.
void channels(Image& im, const DdColorMap& map, uint32_t x, uint32_t y, int64_t c[3]) {
    uint32_t v = im.raw(x, y);
    switch (im.bpp) {
    case 1: {
        const DdColorCell& cell = map.cells[v];
        c[0] = cell.red, c[1] = cell.green, c[2] = cell.blue;
        break;
    }
    case 2: {
        int64_t r5 = v >> 11 & 31, g6 = v >> 5 & 63, b5 = v & 31;
        c[0] = r5 * 8 + r5 / 4, c[1] = g6 * 4 + g6 / 16, c[2] = b5 * 8 + b5 / 4;
        break;
    }
    default:
        c[0] = v >> 16 & 0xFF, c[1] = v >> 8 & 0xFF, c[2] = v & 0xFF;
    }
}

uint32_t pack(uint32_t bpp, const int64_t c[3]) {
    uint32_t r = uint32_t(c[0]), g = uint32_t(c[1]), b = uint32_t(c[2]);
    if (bpp == 2) return (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3;
    return r << 16 | g << 8 | b;
}

// One destination pixel by the rules, sums over the whole box in 64 bits.
uint32_t reference(bool avg, Image& src, uint32_t dw, uint32_t dh, uint32_t dbpp,
                   const DdColorMap& map, uint32_t x, uint32_t y) {
    int64_t sw = src.w, sh = src.h;
    if (!avg) {
        uint32_t sx = uint32_t(int64_t(x) * sw / dw), sy = uint32_t(int64_t(y) * sh / dh);
        if (src.bpp == dbpp && dbpp <= 2) return src.raw(sx, sy);
        int64_t c[3];
        channels(src, map, sx, sy, c);
        return pack(dbpp, c);
    }
    int64_t X = sw * 16 / dw, Y = sh * 16 / dh;
    if (X < 17) X = 17;
    if (Y < 17) Y = 17;
    int64_t sy0 = sh * y / dh, fy = sh * y * 16 / dh - 16 * sy0, sy1 = sy0 + (fy + Y) / 16;
    if (sy1 > sh - 1) sy1 = sh - 1;
    int64_t sx0 = sw * x / dw, fx = sw * x * 16 / dw - 16 * sx0, sx1 = sx0 + (fx + X) / 16;
    if (sx1 > sw - 1) sx1 = sw - 1;
    int64_t sum[3] = {0, 0, 0}, weights = 0;
    for (int64_t sy = sy0; sy <= sy1; sy++) {
        int64_t rw = sy == sy0 ? 16 - fy : sy == sy1 ? (sy0 - sy1) * 16 + fy + Y : 16;
        for (int64_t sx = sx0; sx <= sx1; sx++) {
            int64_t cw = sx == sx0 ? 16 - fx : sx == sx1 ? (sx0 - sx1) * 16 + fx + X : 16;
            int64_t c[3];
            channels(src, map, uint32_t(sx), uint32_t(sy), c);
            for (int k = 0; k < 3; k++)
                sum[k] += rw * cw * c[k];
            weights += rw * cw;
        }
    }
    int64_t c[3] = {sum[0] / weights, sum[1] / weights, sum[2] / weights};
    return pack(dbpp, c);
}

struct ColourMap {
    std::vector<DdColorCell> cells = std::vector<DdColorCell>(256);
    DdColorMap map{};
    explicit ColourMap(std::mt19937& rng) {
        for (auto& c : cells)
            c.red = uint8_t(rng()), c.green = uint8_t(rng()), c.blue = uint8_t(rng());
        map.cells = cells.data();
    }
};

void randomise(Image& im, std::mt19937& rng) {
    for (auto& b : im.bits)
        b = uint8_t(rng());
    // Some flat areas, where rounding of equal neighbours shows.
    for (uint32_t y = 0; y < im.h; y += 3)
        for (uint32_t x = 0; x + 1 < im.w; x += 2)
            memcpy(im.px(x + 1, y), im.px(x, y), im.bpp);
}

// Runs a routine on a rectangle and checks every destination pixel: inside
// against the reference, outside untouched.
void check(bool avg, uint32_t sb, uint32_t db, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
           int32_t x0, int32_t y0, int32_t x1, int32_t y1, std::mt19937& rng, bool white = false) {
    FbScaleFn fn = (avg ? g_fbScaleAverage : g_fbScaleNearest)[sb - 1][db - 1];
    ASSERT_NE(nullptr, fn);
    ColourMap cm(rng);
    Image src(sw, sh, sb), dst(dw, dh, db, 0x5C), want(dw, dh, db, 0x5C);
    if (white)
        std::fill(src.bits.begin(), src.bits.end(), 0xFF);
    else
        randomise(src, rng);
    FbScaleSize size = {sw, sh, dw, dh};
    fn(&size, &cm.map, src.bits.data(), dst.bits.data(), x0, y0, x1, y1, int32_t(sh) - 1,
       int32_t(dh) - 1);
    for (int32_t y = std::max(y0, 0); y < std::min(y1, int32_t(dh)); y++)
        for (int32_t x = std::max(x0, 0); x < std::min(x1, int32_t(dw)); x++) {
            uint32_t v = reference(avg, src, dw, dh, db, cm.map, uint32_t(x), uint32_t(y));
            memcpy(want.px(uint32_t(x), uint32_t(y)), &v, db);
        }
    for (uint32_t y = 0; y < dh; y++)
        for (uint32_t x = 0; x < dw; x++)
            ASSERT_EQ(want.raw(x, y), dst.raw(x, y))
                << (avg ? "average " : "nearest ") << sb << "->" << db << " " << sw << "x" << sh
                << " to " << dw << "x" << dh << " at " << x << "," << y;
}

TEST(FbScale, EveryRoutineMatchesTheRules) {
    std::mt19937 rng(5140);
    const uint32_t sizes[][4] = {{7, 5, 13, 11}, {13, 11, 7, 5},   {1, 9, 5, 3},   {9, 1, 4, 6},
                                 {5, 5, 5, 5},   {33, 17, 16, 40}, {3, 2, 1, 1},   {1, 1, 6, 3},
                                 {50, 3, 7, 29}, {41, 45, 2, 2},   {300, 7, 11, 2}};
    for (bool avg : {false, true})
        for (uint32_t sb = 1; sb <= 4; sb++)
            for (uint32_t db = 1; db <= 4; db++) {
                if ((avg ? g_fbScaleAverage : g_fbScaleNearest)[sb - 1][db - 1] == nullptr) {
                    EXPECT_TRUE(db == 1 && (sb != 1 || avg)) << sb << "->" << db;
                    continue;
                }
                for (auto& z : sizes) {
                    check(avg, sb, db, z[0], z[1], z[2], z[3], 0, 0, int32_t(z[2]), int32_t(z[3]),
                          rng);
                    // A part, and one reaching outside the destination.
                    check(avg, sb, db, z[0], z[1], z[2], z[3], int32_t(z[2] / 3), 1,
                          int32_t(z[2] * 2 / 3 + 1), int32_t(z[3]), rng);
                    check(avg, sb, db, z[0], z[1], z[2], z[3], -4, -2, int32_t(z[2]) + 9, 1000,
                          rng);
                    if (HasFatalFailure()) return;
                }
            }
}

// The vector average (4 or 16 pixels a step, column sums 8 or 16 at a
// time, float quotients) against the rules at every instruction level: widths around
// those steps, odd starts, box weights that change at the edges, and white,
// whose every quotient is an exact 255.
TEST(FbScale, AverageGivesTheRulesPixelsAtEveryLevel) {
    std::mt19937 rng(5171);
    const uint32_t sizes[][4] = {{61, 23, 40, 15}, {40, 15, 61, 23}, {33, 9, 32, 9},
                                 {8, 3, 5, 2},     {17, 5, 16, 5},   {64, 4, 43, 3},
                                 {100, 10, 99, 7}, {3, 3, 9, 9},     {97, 6, 13, 4}};
    for (int level = 0; level <= 2; level++) {
        fbScaleSetSimdLevel(level);
        for (uint32_t db : {4u, 3u})
            for (auto& z : sizes)
                for (bool white : {false, true}) {
                    int32_t dw = int32_t(z[2]), dh = int32_t(z[3]);
                    check(true, 4, db, z[0], z[1], z[2], z[3], 0, 0, dw, dh, rng, white);
                    for (int32_t x0 = 1; x0 < 4; x0++)
                        check(true, 4, db, z[0], z[1], z[2], z[3], x0, 1, dw - x0 + 1, dh, rng,
                              white);
                    if (HasFatalFailure()) {
                        fbScaleSetSimdLevel(2);
                        FAIL() << "level " << level;
                    }
                }
    }
    fbScaleSetSimdLevel(2);
}

TEST(FbScale, AverageAtEqualSizeBlendsRightAndLowerNeighbours) {
    // One red pixel right of (0, 0) and one below it: each weighs 16 x 1
    // against 16 x 16 for the pixel itself, out of 17 x 17.
    Image src(3, 3, 4), dst(3, 3, 4);
    uint32_t red = 0xFF0000, blue = 0x0000FF;
    memcpy(src.px(1, 0), &red, 4);
    memcpy(src.px(0, 1), &blue, 4);
    FbScaleSize size = {3, 3, 3, 3};
    g_fbScaleAverage[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 0, 0, 3, 3, 2, 2);
    EXPECT_EQ(uint32_t(16 * 255 / 289) << 16 | 16 * 255 / 289, dst.raw(0, 0));
    EXPECT_EQ(uint32_t(256 * 255 / 289) << 16, dst.raw(1, 0));
    EXPECT_EQ(uint32_t(256 * 255 / 289), dst.raw(0, 1));
    // The last row has no lower neighbour: the box is cut there.
    memcpy(src.px(0, 2), &blue, 4);
    g_fbScaleAverage[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 0, 2, 3, 3, 2, 2);
    EXPECT_EQ(uint32_t(256 * 255 / 272), dst.raw(0, 2));
}

TEST(FbScale, SixteenBitPixelsRoundTrip) {
    std::mt19937 rng(565);
    Image src(9, 4, 2), wide(9, 4, 4), back(9, 4, 2), same(9, 4, 2);
    randomise(src, rng);
    FbScaleSize size = {9, 4, 9, 4};
    g_fbScaleNearest[1][1](&size, nullptr, src.bits.data(), same.bits.data(), 0, 0, 9, 4, 3, 3);
    g_fbScaleNearest[1][3](&size, nullptr, src.bits.data(), wide.bits.data(), 0, 0, 9, 4, 3, 3);
    g_fbScaleNearest[3][1](&size, nullptr, wide.bits.data(), back.bits.data(), 0, 0, 9, 4, 3, 3);
    for (uint32_t y = 0; y < 4; y++)
        for (uint32_t x = 0; x < 9; x++) {
            EXPECT_EQ(src.raw(x, y), same.raw(x, y));
            EXPECT_EQ(src.raw(x, y), back.raw(x, y));
        }
    // White and black stay exact through the expansion.
    uint16_t white = 0xFFFF;
    memcpy(src.px(0, 0), &white, 2);
    g_fbScaleNearest[1][3](&size, nullptr, src.bits.data(), wide.bits.data(), 0, 0, 1, 1, 3, 3);
    EXPECT_EQ(0xFFFFFFu, wide.raw(0, 0));
}

TEST(FbScale, LargeSidesNeedWidePositions) {
    // 65535 rows: source height x y x 16 passes 2^32 on the last rows.
    std::mt19937 rng(65535);
    for (bool avg : {false, true}) {
        check(avg, 4, 4, 1, 65535, 2, 65535, 0, 65530, 2, 65535, rng);
        check(avg, 2, 2, 65535, 1, 65534, 2, 65500, 0, 65534, 2, rng);
        check(avg, 3, 4, 3, 65535, 1, 3, 0, 0, 1, 3, rng); // boxes of 21845 rows
    }
}

TEST(FbScale, EmptyAndZeroSizesDoNothing) {
    Image src(4, 4, 4, 0x11), dst(4, 4, 4, 0x5C);
    std::vector<uint8_t> before = dst.bits;
    for (FbScaleSize size : {FbScaleSize{0, 4, 4, 4}, FbScaleSize{4, 0, 4, 4},
                             FbScaleSize{4, 4, 0, 4}, FbScaleSize{4, 4, 4, 0}}) {
        g_fbScaleAverage[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 0, 0, 4, 4, 3, 3);
        g_fbScaleNearest[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 0, 0, 4, 4, 3, 3);
    }
    FbScaleSize size = {4, 4, 4, 4};
    g_fbScaleNearest[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 2, 0, 2, 4, 3, 3);
    g_fbScaleNearest[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 3, 3, 1, 1, 3, 3);
    g_fbScaleNearest[3][3](&size, nullptr, src.bits.data(), dst.bits.data(), 4, 0, 9, 4, 3, 3);
    EXPECT_EQ(before, dst.bits);
}

} // namespace
