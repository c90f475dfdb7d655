// The ordered dither against a transcription of its rule, at cube sizes 6
// (8-bit screens) and 2 (4-bit screens).
#include "fb/fbdither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "ui/dicolor.h"

namespace {

const int kMatrix[8][8] = {
    {0, 38, 9, 47, 2, 40, 11, 50},  {25, 12, 35, 22, 27, 15, 37, 24},
    {6, 44, 3, 41, 8, 47, 5, 43},   {31, 19, 28, 15, 34, 21, 31, 18},
    {1, 39, 11, 49, 0, 39, 10, 48}, {27, 14, 36, 23, 26, 13, 35, 23},
    {7, 46, 4, 43, 7, 45, 3, 42},   {33, 20, 30, 17, 32, 19, 29, 16},
};

// The cube level of each channel and the palette index, pixel by pixel.
int level(int c, int n, int x, int y) {
    int q = 255 / (n - 1), t = kMatrix[x % 8][y % 8] * q / 51;
    return c / q + (c % q > t ? 1 : 0);
}

struct Map {
    std::vector<DdColorCell> cells = std::vector<DdColorCell>(256);
    DdColorMap map{};
    explicit Map(int n, int depth = 8) {
        map.cells = cells.data();
        map.cubeSize = n;
        map.depth = depth;
        map.changed = 1;
        for (int i = 0; i < n * n * n; i++)
            map.cube[i] = uint32_t(0x300 + 20 + i); // low byte used
    }
    uint8_t cubeIndex(int r, int g, int b, int n, int x, int y) const {
        int n1 = level(r, n, x, y), n2 = level(g, n, x, y), n3 = level(b, n, x, y);
        return uint8_t(map.cube[n1 + n * n2 + n * n * n3]);
    }
};

struct Buffer {
    uint32_t w, h, bpp;
    std::vector<uint8_t> pixels, dib;
    FbDitherImage im;
    Buffer(uint32_t width, uint32_t height, uint32_t b)
        : w(width), h(height), bpp(b), pixels(size_t(width) * b * height + 1),
          dib(size_t(width + 3) * height, 0xEE) {
        im = {w, h, pixels.data(), w * b + 0, dib.data(), w + 3};
        pixels.resize(size_t(im.stride) * h);
    }
    uint8_t* px(uint32_t x, uint32_t y) { return &pixels[size_t(h - 1 - y) * im.stride + x * bpp]; }
    uint8_t out(uint32_t x, uint32_t y) const { return dib[size_t(h - 1 - y) * im.dibStride + x]; }
};

TEST(FbDither, RefusesCubesItCannotIndex) {
    EXPECT_EQ(-1, fbDitherInit(1)); // would divide by zero
    EXPECT_EQ(-1, fbDitherInit(0));
    EXPECT_EQ(-1, fbDitherInit(7)); // past the cube index table
    EXPECT_EQ(0, fbDitherInit(6));
}

TEST(FbDither, TrueColourPixelsFollowTheMatrix) {
    std::mt19937 rng(5141);
    for (int n : {6, 2}) {
        ASSERT_EQ(0, fbDitherInit(n));
        Map m(n);
        for (uint32_t bpp : {2u, 3u, 4u}) {
            Buffer b(21, 11, bpp);
            for (auto& v : b.pixels)
                v = uint8_t(rng());
            // Runs of equal pixels, and cube colours among them.
            for (uint32_t y = 0; y < b.h; y += 2)
                for (uint32_t x = 1; x < b.w; x++)
                    memcpy(b.px(x, y), b.px(0, y), bpp);
            uint32_t grey = bpp == 2 ? 0x8410 : 0x666666; // 16-bit: (132,130,132); else 102
            memcpy(b.px(3, 1), &grey, bpp);
            auto fn = bpp == 2 ? fbDither16 : bpp == 3 ? fbDither24 : fbDither32;
            fn(&m.map, &b.im, 2, 1, 17, 9); // x 2-18, y 1-9
            for (uint32_t y = 0; y < b.h; y++)
                for (uint32_t x = 0; x < b.w; x++) {
                    const uint8_t* p = b.px(x, y);
                    int r, g, bl;
                    if (bpp == 2) {
                        int v = p[0] | p[1] << 8, r5 = v >> 11, g6 = v >> 5 & 63, b5 = v & 31;
                        r = r5 << 3 | r5 >> 2, g = g6 << 2 | g6 >> 4, bl = b5 << 3 | b5 >> 2;
                    } else {
                        bl = p[0], g = p[1], r = p[2];
                    }
                    bool inside = x >= 2 && x < 19 && y >= 1 && y < 10;
                    ASSERT_EQ(inside ? m.cubeIndex(r, g, bl, n, int(x), int(y)) : 0xEE, b.out(x, y))
                        << "n " << n << " bpp " << bpp << " at " << x << "," << y;
                }
        }
    }
}

TEST(FbDither, CubeColoursAndGreys) {
    ASSERT_EQ(0, fbDitherInit(6));
    Map m(6);
    Buffer b(16, 16, 3);
    uint8_t c[3] = {255, 102, 51}; // blue, green, red: (51, 102, 255)
    for (uint32_t y = 0; y < 16; y++)
        for (uint32_t x = 0; x < 16; x++)
            memcpy(b.px(x, y), c, 3);
    fbDitherRGB24(&m.map, &b.im, 0, 0, 16, 16);
    for (uint32_t y = 0; y < 16; y++)
        for (uint32_t x = 0; x < 16; x++)
            ASSERT_EQ(uint8_t(20 + 1 + 6 * 2 + 36 * 5), b.out(x, y));
    // Grey 128 is 2 levels and 26/51 of a third: (1, 0) has threshold 25
    // and rounds up, (0, 1) has 38 and does not.
    memset(b.pixels.data(), 128, b.pixels.size());
    fbDitherRGB24(&m.map, &b.im, 0, 0, 16, 16);
    EXPECT_EQ(uint8_t(20 + 3 * 43), b.out(0, 0));
    EXPECT_EQ(uint8_t(20 + 3 * 43), b.out(1, 0));
    EXPECT_EQ(uint8_t(20 + 2 * 43), b.out(0, 1));
}

// Over each 8x8 block the levels average to the grey within one level; at
// two levels greys between the cube colours are not solid black.
TEST(FbDither, BlockMeansFollowTheGrey) {
    for (int n : {6, 2}) {
        ASSERT_EQ(0, fbDitherInit(n));
        Map m(n);
        int q = 255 / (n - 1);
        for (int grey = 0; grey < 256; grey += 3) {
            Buffer b(8, 8, 3);
            memset(b.pixels.data(), grey, b.pixels.size());
            fbDither24(&m.map, &b.im, 0, 0, 8, 8);
            int sum = 0;
            for (uint32_t y = 0; y < 8; y++)
                for (uint32_t x = 0; x < 8; x++) {
                    int idx = b.out(x, y) - 20, lr = idx % n;
                    ASSERT_EQ(idx, lr * (1 + n + n * n)) << "grey stays grey";
                    sum += lr * q;
                }
            EXPECT_NEAR(grey, sum / 64.0, q) << "n " << n << " grey " << grey;
            if (n == 2 && grey >= 51 && grey <= 204) {
                EXPECT_GT(sum, 0) << grey;
            }
        }
    }
}

TEST(FbDither, EightBitCellsAreCopiedOrDithered) {
    ASSERT_EQ(0, fbDitherInit(6));
    Map m(6);
    for (int i = 0; i < 256; i++) {
        DdColorCell& c = m.cells[size_t(i)];
        c.red = uint8_t(i * 7), c.green = uint8_t(i * 13), c.blue = uint8_t(255 - i);
        c.flags = i % 3 == 0 ? DI_COLOR_FAILED : DI_COLOR_PRIVATE;
        c.index = uint32_t(0x100 | (i ^ 0x5A));
    }
    std::mt19937 rng(8);
    Buffer b(19, 9, 1);
    for (auto& v : b.pixels)
        v = uint8_t(rng() % 5 == 0 ? rng() : 7); // long runs of cell 7
    fbDither8(&m.map, &b.im, 1, 1, 16, 7);       // x 1-16, y 1-7
    auto check = [&]() {
        for (uint32_t y = 0; y < b.h; y++)
            for (uint32_t x = 0; x < b.w; x++) {
                const DdColorCell& c = m.cells[*b.px(x, y)];
                bool inside = x >= 1 && x < 17 && y >= 1 && y < 8;
                uint8_t want = !inside ? 0xEE
                               : c.flags == DI_COLOR_FAILED
                                   ? m.cubeIndex(c.red, c.green, c.blue, 6, int(x), int(y))
                                   : uint8_t(c.index);
                ASSERT_EQ(want, b.out(x, y)) << x << "," << y;
            }
    };
    check();
    // A cell that changes colour is dithered from its new colour once the
    // map is marked, and after the tables are rebuilt.
    m.cells[0].red = 200, m.cells[0].green = 100, m.cells[0].blue = 50;
    m.map.changed = 1;
    memset(b.pixels.data(), 0, b.pixels.size());
    fbDither8(&m.map, &b.im, 1, 1, 16, 7);
    check();
    m.cells[0].red = 10;
    ASSERT_EQ(0, fbDitherInit(6));
    fbDither8(&m.map, &b.im, 1, 1, 16, 7);
    check();
}

// Large screen-like rectangles at odd offsets, every source depth: runs of
// equal pixels (cube colours and others), noise between them, and cells of
// every kind, pixel by pixel against the rule.
TEST(FbDither, LargeRectanglesEqualTheRule) {
    uint32_t seed = std::random_device{}();
    std::mt19937 rng(seed);
    for (int n : {6, 2}) {
        ASSERT_EQ(0, fbDitherInit(n));
        Map m(n);
        for (int i = 0; i < 256; i++) {
            DdColorCell& c = m.cells[size_t(i)];
            c.red = uint8_t(rng()), c.green = uint8_t(rng()), c.blue = uint8_t(rng());
            c.flags = rng() % 3 == 0 ? DI_COLOR_FAILED : DI_COLOR_PRIVATE;
            c.index = uint32_t(rng());
        }
        for (uint32_t bpp : {1u, 2u, 3u, 4u}) {
            Buffer b(200 + rng() % 120, 40 + rng() % 9, bpp);
            uint32_t q = 255 / uint32_t(n - 1);
            for (size_t i = 0; i < b.pixels.size();) {
                uint8_t px[4];
                for (auto& v : px)
                    v = uint8_t(rng() % 2 ? rng() % uint32_t(n) * q : rng());
                size_t run = rng() % 4 == 0 ? 1 : rng() % 40;
                for (; run > 0 && i + bpp <= b.pixels.size(); run--, i += bpp)
                    memcpy(&b.pixels[i], px, bpp);
                if (i + bpp > b.pixels.size()) break;
            }
            int32_t x = int32_t(rng() % 8), y = int32_t(rng() % 4);
            int32_t w = int32_t(b.w) - x - int32_t(rng() % 8), h = int32_t(b.h) - y - 1;
            auto fn = bpp == 1   ? fbDither8
                      : bpp == 2 ? fbDither16
                      : bpp == 3 ? fbDither24
                                 : fbDither32;
            fn(&m.map, &b.im, x, y, w, h);
            for (uint32_t py = 0; py < b.h; py++)
                for (uint32_t px = 0; px < b.w; px++) {
                    const uint8_t* p = b.px(px, py);
                    int r, g, bl;
                    if (bpp == 1) {
                        r = m.cells[*p].red, g = m.cells[*p].green, bl = m.cells[*p].blue;
                    } else if (bpp == 2) {
                        int v = p[0] | p[1] << 8, r5 = v >> 11, g6 = v >> 5 & 63, b5 = v & 31;
                        r = r5 << 3 | r5 >> 2, g = g6 << 2 | g6 >> 4, bl = b5 << 3 | b5 >> 2;
                    } else {
                        bl = p[0], g = p[1], r = p[2];
                    }
                    bool inside = int32_t(px) >= x && int32_t(px) < x + w && int32_t(py) >= y &&
                                  int32_t(py) < y + h;
                    uint8_t want = !inside ? 0xEE
                                   : bpp == 1 && m.cells[*p].flags != DI_COLOR_FAILED
                                       ? uint8_t(m.cells[*p].index)
                                       : m.cubeIndex(r, g, bl, n, int(px), int(py));
                    ASSERT_EQ(want, b.out(px, py)) << "seed " << seed << " n " << n << " bpp "
                                                   << bpp << " at " << px << "," << py;
                }
        }
    }
}

// The vector routines (16 pixels a step, 64 bytes a lookup, rows in chunks
// of 1024) give the rule's pixels at every instruction level: widths that
// are not multiples of a step, starts at every column phase, the last
// pixels of the buffer (allocated exactly, so a load past it is caught).
TEST(FbDither, EveryInstructionLevelGivesTheRulesPixels) {
    uint32_t seed = std::random_device{}();
    std::mt19937 rng(seed);
    for (int n : {6, 2}) {
        ASSERT_EQ(0, fbDitherInit(n));
        Map m(n);
        for (int i = 0; i < 256; i++) {
            DdColorCell& c = m.cells[size_t(i)];
            c.red = uint8_t(rng()), c.green = uint8_t(rng()), c.blue = uint8_t(rng());
            c.flags = rng() % 3 == 0 ? DI_COLOR_FAILED : DI_COLOR_PRIVATE;
            c.index = uint32_t(rng());
        }
        for (uint32_t w : {1u, 15u, 16u, 17u, 18u, 19u, 33u, 63u, 64u, 65u, 127u, 600u, 1041u}) {
            for (uint32_t bpp : {1u, 2u, 3u, 4u}) {
                // 8-bit rectangles take the per-call tables only when large.
                uint32_t h = bpp == 1 ? 8192 / w + 9 : 9;
                uint32_t stride = w * bpp;
                std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(stride) * h]);
                // Noise, cube colours, and runs of up to 60 equal pixels
                // (a run of 16 after another of the same colour repeats its
                // outputs; one of another colour must not).
                for (size_t i = 0; i < size_t(stride) * h;) {
                    uint8_t px[4];
                    for (auto& v : px)
                        v = uint8_t(rng() % 3 ? rng() : rng() % uint32_t(n) * (255 / (n - 1)));
                    size_t run = rng() % 2 ? 1 : 1 + rng() % 60;
                    for (; run > 0 && i < size_t(stride) * h; run--)
                        for (uint32_t k = 0; k < bpp; k++, i++)
                            pixels[i] = rng() % 4 == 0 && run == 1 ? uint8_t(rng()) : px[k];
                }
                std::vector<uint8_t> dib(size_t(w) * h);
                FbDitherImage im = {w, h, pixels.get(), stride, dib.data(), w};
                auto fn = bpp == 1   ? fbDither8
                          : bpp == 2 ? fbDither16
                          : bpp == 3 ? fbDither24
                                     : fbDither32;
                for (int level = 0; level <= 2; level++) {
                    fbDitherSetSimdLevel(level);
                    // Row 0 ends the buffer; half the rectangles stop short of
                    // the right edge.
                    int32_t x = int32_t(rng() % 8), y = int32_t(rng() % 2);
                    if (x >= int32_t(w)) x = 0;
                    int32_t rw = int32_t(w) - x - int32_t(rng() % 2);
                    std::fill(dib.begin(), dib.end(), 0xEE);
                    fn(&m.map, &im, x, y, rw, int32_t(h));
                    for (uint32_t py = 0; py < h; py++)
                        for (uint32_t px = 0; px < w; px++) {
                            const uint8_t* p = &pixels[size_t(h - 1 - py) * stride + px * bpp];
                            const uint8_t got = dib[size_t(h - 1 - py) * w + px];
                            uint8_t want;
                            if (int32_t(px) < x || int32_t(px) >= x + rw || py < uint32_t(y)) {
                                want = 0xEE;
                            } else if (bpp == 1) {
                                const DdColorCell& c = m.cells[*p];
                                want =
                                    c.flags != DI_COLOR_FAILED
                                        ? uint8_t(c.index)
                                        : m.cubeIndex(c.red, c.green, c.blue, n, int(px), int(py));
                            } else if (bpp == 2) {
                                int v = p[0] | p[1] << 8, r5 = v >> 11, g6 = v >> 5 & 63,
                                    b5 = v & 31;
                                want = m.cubeIndex(r5 << 3 | r5 >> 2, g6 << 2 | g6 >> 4,
                                                   b5 << 3 | b5 >> 2, n, int(px), int(py));
                            } else {
                                want = m.cubeIndex(p[2], p[1], p[0], n, int(px), int(py));
                            }
                            ASSERT_EQ(want, got)
                                << "seed " << seed << " n " << n << " bpp " << bpp << " width " << w
                                << " level " << level << " from " << x << " at " << px << "," << py;
                        }
                }
            }
        }
    }
    fbDitherSetSimdLevel(2);
}

TEST(FbDither, LeavesTheDibAloneWhenItCannotWork) {
    ASSERT_EQ(0, fbDitherInit(6));
    Buffer b(8, 4, 1);
    Map wide(6, 16); // a colour map of a 16-bit screen
    fbDither8(&wide.map, &b.im, 0, 0, 8, 4);
    Map other(2); // a cube the tables were not made for
    fbDither8(&other.map, &b.im, 0, 0, 8, 4);
    Map m(6);
    fbDither8(&m.map, &b.im, 8, 0, 8, 4);
    fbDither8(&m.map, &b.im, 0, 0, 0, 4);
    fbDither8(&m.map, &b.im, -9, 0, 9, 4);
    for (uint8_t v : b.dib)
        ASSERT_EQ(0xEE, v);
}

} // namespace
