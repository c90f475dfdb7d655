// Packed DIB checks and print geometry.
#include <gtest/gtest.h>

#include "ui/dibutil.h"

#include <vector>

namespace {

void put(std::vector<uint8_t>& b, uint32_t v, int n) {
    for (int i = 0; i < n; i++)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> infoHeader(int32_t w, int32_t h, uint16_t bits, uint32_t compression = 0,
                                uint32_t clrUsed = 0, uint16_t planes = 1) {
    std::vector<uint8_t> b;
    put(b, 40, 4);
    put(b, static_cast<uint32_t>(w), 4);
    put(b, static_cast<uint32_t>(h), 4);
    put(b, planes, 2);
    put(b, bits, 2);
    put(b, compression, 4);
    put(b, 0xFFFFFFFF, 4); // a stored image size is never trusted
    put(b, 0, 4);
    put(b, 0, 4);
    put(b, clrUsed, 4);
    put(b, 0, 4);
    return b;
}

TEST(DibSizes, ColourTablesDepthsAndRowBytes) {
    struct {
        uint32_t bits, clrUsed, entries;
    } tables[] = {{1, 0, 2},  {4, 0, 16}, {8, 0, 256}, {8, 10, 10},
                  {16, 0, 0}, {24, 0, 0}, {32, 0, 0}};
    for (auto& t : tables)
        EXPECT_EQ(diDIBColourEntries(t.bits, t.clrUsed), t.entries) << t.bits;

    struct {
        uint32_t in, out;
    } depths[] = {{0, 1}, {1, 1}, {2, 4}, {4, 4}, {5, 8}, {8, 8}, {15, 24}, {16, 24}, {32, 24}};
    for (auto& d : depths)
        EXPECT_EQ(diDIBDepthFor(d.in), d.out) << d.in;

    struct {
        uint32_t bits;
        int64_t w, h;
        uint64_t bytes;
    } images[] = {
        {24, 3, 2, 24},
        {1, 33, 1, 8},
        {8, 1, 1, 4},
        {4, 9, 3, 24},
        {32, 32767, 32767, 4294705156ull}, // beyond 32 bits, computed without wrapping
        {8, 32768, 1, 0},
        {8, 1, 0, 0},
        {8, -1, 1, 0},
        {0, 1, 1, 0},
    };
    for (auto& i : images)
        EXPECT_EQ(diDIBImageBytes(i.bits, i.w, i.h), i.bytes) << i.w << "x" << i.h;
}

TEST(DibParse, AcceptsWholeDibsAndDescribesThem) {
    std::vector<uint8_t> d = infoHeader(2, -2, 8);
    d.resize(40 + 1024 + 8);
    DiDIBInfo info;
    ASSERT_EQ(diDIBParse(d.data(), d.size(), &info), 0);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, -2);
    EXPECT_EQ(info.colourEntries, 256u);
    EXPECT_EQ(info.bitsOffset, 40u + 1024);
    EXPECT_EQ(info.imageSize, 8u);

    std::vector<uint8_t> bf = infoHeader(3, 1, 16, 3);
    bf.resize(40 + 12 + 8);
    ASSERT_EQ(diDIBParse(bf.data(), bf.size(), &info), 0);
    EXPECT_EQ(info.bitsOffset, 52u);

    std::vector<uint8_t> core;
    put(core, 12, 4);
    put(core, 5, 2);
    put(core, 2, 2);
    put(core, 1, 2);
    put(core, 1, 2);
    core.resize(12 + 2 * 3 + 2 * 4);
    ASSERT_EQ(diDIBParse(core.data(), core.size(), &info), 0);
    EXPECT_EQ(info.colourBytes, 6u);
    EXPECT_EQ(info.bitsOffset, 18u);
}

TEST(DibParse, RefusesWhatIsNotAWholeDib) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    auto sized = [](std::vector<uint8_t> b, size_t n) {
        b.resize(n);
        return b;
    };
    Case cases[] = {
        {"one byte short of the rows", sized(infoHeader(2, 2, 8), 40 + 1024 + 7)},
        {"rows but no colour table", sized(infoHeader(2, 2, 8), 40 + 8)},
        {"masks missing", sized(infoHeader(3, 1, 16, 3), 40 + 8)},
        {"more colours than the depth has", sized(infoHeader(2, 2, 1, 0, 3), 4096)},
        {"more than 256 colours", sized(infoHeader(2, 2, 24, 0, 257), 8192)},
        {"two planes", sized(infoHeader(2, 2, 24, 0, 0, 2), 4096)},
        {"depth 2", sized(infoHeader(2, 2, 2), 4096)},
        {"run-length compressed", sized(infoHeader(2, 2, 8, 1), 4096)},
        {"bit fields on 24 bits", sized(infoHeader(2, 2, 24, 3), 4096)},
        {"zero width", sized(infoHeader(0, 2, 24), 4096)},
        {"zero height", sized(infoHeader(2, 0, 24), 4096)},
        {"side too large", sized(infoHeader(40000, 1, 24), 1 << 20)},
        // Sizes whose 32-bit sum wraps to something small.
        {"wrapping size", sized(infoHeader(32767, 32767, 32), 4096)},
        {"unknown header", sized({7, 0, 0, 0}, 4096)},
        {"truncated header", sized(infoHeader(2, 2, 24), 20)},
        {"empty", {}},
    };
    for (auto& c : cases) {
        DiDIBInfo info;
        EXPECT_EQ(diDIBParse(c.bytes.data(), c.bytes.size(), &info), -1) << c.what;
    }
    DiDIBInfo info;
    EXPECT_EQ(diDIBParse(nullptr, 100, &info), -1);
}

TEST(DibPrint, PictureSizeFollowsTheScaleMode) {
    DiDIBPrintDevice equal = {600, 600, 96, 96, 4800, 6600};
    DiDIBPrintDevice wide = {300, 600, 96, 96, 1000, 5000};
    struct {
        const char* what;
        uint32_t mode;
        int32_t w, h;
        const DiDIBPrintDevice* dev;
        int32_t fx, fy;
        int rc;
        int32_t outW, outH;
    } cases[] = {
        {"actual size", 0, 96, 48, &equal, 0, 0, 0, 600, 300},
        {"best fit, twice as wide as tall", 1, 200, 100, &equal, 0, 0, 0, 4800, 2400},
        // A tall picture is fitted to the page height, not cut off.
        {"best fit, tall", 1, 100, 400, &equal, 0, 0, 0, 1650, 6600},
        {"best fit, unequal resolutions", 1, 100, 100, &wide, 0, 0, 0, 1000, 2000},
        {"stretch", 2, 7, 9, &equal, 0, 0, 0, 4800, 6600},
        {"custom", 3, 100, 50, &equal, 2, 3, 0, 200, 150},
        {"custom beyond 32 bits", 3, 30000, 10, &equal, 100000, 1, -1, 0, 0},
        {"custom zero factor", 3, 10, 10, &equal, 0, 1, -1, 0, 0},
        {"unknown mode", 4, 10, 10, &equal, 1, 1, -1, 0, 0},
        {"empty dib", 1, 0, 10, &equal, 1, 1, -1, 0, 0},
    };
    for (auto& c : cases) {
        int32_t w = -5, h = -5;
        EXPECT_EQ(diDIBPrintSize(c.mode, c.w, c.h, c.dev, c.fx, c.fy, &w, &h), c.rc) << c.what;
        EXPECT_EQ(w, c.outW) << c.what;
        EXPECT_EQ(h, c.outH) << c.what;
    }
    DiDIBPrintDevice noScreen = {600, 600, 0, 96, 100, 100};
    int32_t w, h;
    EXPECT_EQ(diDIBPrintSize(0, 10, 10, &noScreen, 0, 0, &w, &h), -1);
}

TEST(DibPrint, BandSourceIsTheVisiblePartInDibPixels) {
    DiDIBRect picture = {0, 0, 200, 100}; // a 100 x 50 DIB at twice its size
    struct {
        DiDIBRect band;
        bool visible;
        DiDIBRect dest, src;
    } cases[] = {
        {{0, 0, 1000, 1000}, true, {0, 0, 200, 100}, {0, 0, 100, 50}},
        {{0, 50, 1000, 100}, true, {0, 50, 200, 100}, {0, 25, 100, 50}},
        {{101, 0, 151, 10}, true, {101, 0, 151, 10}, {51, 0, 76, 5}},
        {{200, 0, 300, 100}, false, {}, {}},
        {{0, 100, 200, 300}, false, {}, {}},
    };
    for (auto& c : cases) {
        DiDIBRect dest = {}, src = {};
        ASSERT_EQ(diDIBBandSource(&picture, &c.band, 100, 50, &dest, &src), c.visible);
        if (!c.visible) continue;
        EXPECT_EQ(dest.left, c.dest.left);
        EXPECT_EQ(dest.top, c.dest.top);
        EXPECT_EQ(dest.right, c.dest.right);
        EXPECT_EQ(dest.bottom, c.dest.bottom);
        EXPECT_EQ(src.left, c.src.left);
        EXPECT_EQ(src.top, c.src.top);
        EXPECT_EQ(src.right, c.src.right);
        EXPECT_EQ(src.bottom, c.src.bottom);
    }
}

} // namespace
