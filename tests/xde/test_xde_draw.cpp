// Random drawing at depths 8, 16 and 24, single- and multi-window: once
// the timers ran, the recording device's screen equals the frame buffer,
// so every drawn pixel was damaged and painted.
#include <gtest/gtest.h>

#include "engine_harness.h"

#include <random>

namespace {

struct DrawCase {
    uint32_t depth;
    bool multi;
};

struct Draw : ::testing::TestWithParam<DrawCase>, EngineRig {
    std::mt19937 rng{12345};
    void SetUp() override { open(); }
    void TearDown() override { close(); }
    int32_t r(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
    uint32_t pixel() { return uint32_t(rng()) & (GetParam().depth == 24 ? 0xFFFFFF : GetParam().depth == 16 ? 0xFFFF : 0xFF); }

    void randomOp() {
        int32_t W = 160, H = 120;
        switch (r(0, 9)) {
        case 0: {
            uint32_t p = pixel();
            request(20, Bytes().u8(p).u8(p >> 8).u8(p >> 16));
            break;
        }
        case 1:
            request(22, Bytes().u8(uint32_t(r(0, 15))));
            break;
        case 2:
            request(10, Bytes().u16(2).u16(uint32_t(r(-20, W))).u16(uint32_t(r(-20, H))).u16(
                            uint32_t(r(0, 60))).u16(uint32_t(r(0, 60))).u16(uint32_t(r(0, W)))
                            .u16(uint32_t(r(0, H))).u16(uint32_t(r(0, 30))).u16(uint32_t(r(0, 30))));
            break;
        case 3:
            request(7, Bytes().u16(3).u16(uint32_t(r(-10, W + 10))).u16(uint32_t(r(-10, H + 10)))
                           .u16(uint32_t(r(-10, W + 10))).u16(uint32_t(r(-10, H + 10)))
                           .u16(uint32_t(r(0, W))).u16(uint32_t(r(0, H))));
            break;
        case 4:
            request(8, Bytes().u16(1).u16(uint32_t(r(0, W))).u16(uint32_t(r(0, H))).u16(
                           uint32_t(r(0, W))).u16(uint32_t(r(0, H))));
            break;
        case 5:
            request(9, Bytes().u16(1).u16(uint32_t(r(0, W))).u16(uint32_t(r(0, H))).u16(
                           uint32_t(r(0, 50))).u16(uint32_t(r(0, 50))));
            break;
        case 6:
            request(11, Bytes().u8(2).u16(3).u16(uint32_t(r(0, W))).u16(uint32_t(r(0, H))).u16(
                            uint32_t(r(0, W))).u16(uint32_t(r(0, H))).u16(uint32_t(r(0, W))).u16(
                            uint32_t(r(0, H))));
            break;
        case 7:
            request(12, Bytes().u16(uint32_t(r(-10, W))).u16(uint32_t(r(-10, H))).u16(
                            uint32_t(r(1, 50))).u16(uint32_t(r(1, 50))).u8(0).u8(0).u16(
                            uint32_t(r(0, W))).u16(uint32_t(r(0, H))).u8(0));
            break;
        case 8: {
            int32_t w = r(1, 12), h = r(1, 12);
            uint32_t bpp = GetParam().depth == 24 ? 3 : GetParam().depth / 8;
            uint32_t stride = (uint32_t(w) * bpp + 3) & ~3u;
            std::string data(size_t(stride) * uint32_t(h), '\0');
            for (char& c : data) c = char(rng());
            request(2, Bytes().u16(uint32_t(r(-5, W))).u16(uint32_t(r(-5, H))).u16(uint32_t(w))
                           .u16(uint32_t(h)).u8(GetParam().depth).u8(0).raw(data));
            break;
        }
        default:
            request(34, Bytes().u16(uint32_t(r(-5, W))).u16(uint32_t(r(0, H + 5))).u16(3).u8(65)
                            .u8(66).u8(65));
            break;
        }
    }
};

TEST_P(Draw, ScreenEqualsTheFrameBufferOnceTheTimersRan) {
    uint32_t depth = GetParam().depth;
    startSession(GetParam().multi ? 0x2 : 0, 0, 160, 120, depth);
    ASSERT_NE(d->windows[0], nullptr);
    if (GetParam().multi) {
        // Windows tiling the screen, one away from the origin overlapping.
        const int32_t rects[][4] = {{0, 0, 80, 60}, {80, 0, 80, 60}, {0, 60, 80, 60},
                                    {80, 60, 80, 60}, {30, 20, 90, 70}};
        for (uint32_t i = 0; i < 5; i++)
            request(15, Bytes().u8(i + 1).u16(uint32_t(rects[i][0])).u16(uint32_t(rects[i][1]))
                            .u16(uint32_t(rects[i][2])).u16(uint32_t(rects[i][3])).u8(2).u8(0)
                            .u8(0));
    }
    // A font of two glyphs for the text requests.
    request(36, Bytes().u8(1));
    for (uint32_t g = 65; g <= 66; g++) {
        request(38, Bytes().u8(1).u8(g).u16(6).u16(8).u16(0).u16(7).u16(7));
        request(30, Bytes().u8(1));
        request(39, Bytes().u8(g).u16(0).u16(0).u16(6).u16(8).u8(0).raw(std::string(8, g == 65 ? '\x2a' : '\x15')));
    }
    for (int i = 0; i < 400; i++) {
        randomOp();
        if (i % 37 == 0) advance(uint32_t(r(0, 30)));
    }
    advance(2100);
    EXPECT_TRUE(g_rdev.screenMatchesBuffer());
    if (depth == 24 && !GetParam().multi) {
        EXPECT_TRUE(g_rdev.writeScreenPng("xde_demo_screen.png", d));
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, Draw,
                         ::testing::Values(DrawCase{8, false}, DrawCase{16, false},
                                           DrawCase{24, false}, DrawCase{8, true},
                                           DrawCase{16, true}, DrawCase{24, true}),
                         [](const ::testing::TestParamInfo<DrawCase>& i) {
                             return std::to_string(i.param.depth) +
                                    (i.param.multi ? "_multi" : "_single");
                         });

} // namespace
