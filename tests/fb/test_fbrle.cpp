// The interleaved run-length decoder: hand-made streams for each rule, the
// entry's checks, and random streams against the pixel-at-a-time model.
#include "fb/fbrle.h"

#include <gtest/gtest.h>

#include <vector>

#include "fb/rle_model.h"

namespace {

const uint8_t kOld = 0xAA; // what the destination held before

// A destination of exactly rows x stride bytes, filled with kOld.
struct Dest {
    uint32_t width, rows, pixel;
    int32_t stride;
    std::vector<uint8_t> bits;
    Dest(uint32_t w, uint32_t r, uint32_t p, uint32_t slack = 0, bool up = false)
        : width(w), rows(r), pixel(p), stride(int32_t(w * p + slack)),
          bits(size_t(r) * (w * p + slack), kOld) {
        if (up) stride = -stride;
    }
    // Pixel (row of the stream, column), low byte first.
    uint32_t at(uint32_t row, uint32_t col) const {
        uint32_t abs = stride < 0 ? uint32_t(-stride) : uint32_t(stride);
        size_t rowAt = stride < 0 ? size_t(rows - 1 - row) * abs : size_t(row) * abs;
        uint32_t v = 0;
        for (uint32_t b = 0; b < pixel; b++)
            v |= uint32_t(bits[rowAt + col * pixel + b]) << (8 * b);
        return v;
    }
    std::vector<uint32_t> row(uint32_t r) const {
        std::vector<uint32_t> v;
        for (uint32_t c = 0; c < width; c++)
            v.push_back(at(r, c));
        return v;
    }
    int32_t decode(uint32_t w, uint32_t h, const std::vector<uint8_t>& s, uint8_t srcDepth,
                   uint8_t dstDepth) {
        return fbRLEDecompress(w, h, s.data(), uint32_t(s.size()), srcDepth, bits.data(), stride,
                               dstDepth, rows);
    }
    bool untouched() const {
        for (uint8_t b : bits)
            if (b != kOld) return false;
        return true;
    }
};

using Row = std::vector<uint32_t>;
const uint32_t O = 0xAAu; // an 8-bit pixel the stream did not reach

TEST(FbRLE, RunsTakeTheFirstRowFormPerPixel) {
    // Colour image of 4, then set-fg 0x0F with a run of 10: 4 pixels of fg
    // on row 0, then 6 of above XOR fg on row 1 although the order began on
    // row 0.
    Dest d(8, 3, 1);
    ASSERT_EQ(0, d.decode(8, 3, {0x84, 1, 2, 3, 4, 0xCA, 0x0F}, 8, 8));
    EXPECT_EQ(Row({1, 2, 3, 4, 0x0F, 0x0F, 0x0F, 0x0F}), d.row(0));
    EXPECT_EQ(Row({1 ^ 0x0F, 2 ^ 0x0F, 3 ^ 0x0F, 4 ^ 0x0F, 0, 0, O, O}), d.row(1));
}

TEST(FbRLE, BackgroundRunAfterARunInsertsOneForegroundPixel) {
    struct Case {
        const char* what;
        uint32_t w, h;
        std::vector<uint8_t> stream;
        std::vector<Row> rows;
    } cases[] = {
        {"row 0, column 3: the foreground itself",
         8,
         2,
         {0x83, 1, 2, 3, 0x02, 0x02},
         {{1, 2, 3, 0, 0, 0xFF, 0, O}, {O, O, O, O, O, O, O, O}}},
        {"run ends with row 0: none", 4, 3, {0x04, 0x02}, {{0, 0, 0, 0}, {0, 0, O, O}}},
        {"run ends at column 5 of row 1: above XOR fg",
         8,
         3,
         {0x82, 1, 2, 0x0B, 0x02},
         {{1, 2, 0, 0, 0, 0, 0, 0}, {1, 2, 0, 0, 0, 0xFF, 0, O}}},
        {"column 0 of row 2: inserted",
         4,
         4,
         {0x84, 1, 2, 3, 4, 0x04, 0x02},
         {{1, 2, 3, 4}, {1, 2, 3, 4}, {1 ^ 0xFF, 2, O, O}}},
        {"code 5 between the runs clears the flag",
         4,
         2,
         {0x84, 1, 2, 3, 4, 0x01, 0xA0, 0x05, 0x02},
         {{1, 2, 3, 4}, {1, 2, 3, O}}},
        {"16-bit count 0 after a run writes the inserted pixel only",
         4,
         2,
         {0x82, 1, 2, 0x01, 0xF0, 0x00, 0x00, 0xFD},
         {{1, 2, 0, 0xFF}, {0xFF, O, O, O}}},
        {"WHITE between the runs clears the flag", 4, 2, {0x01, 0xFD, 0x01}, {{0, 0xFF, 0, O}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dest d(c.w, c.h, 1);
        ASSERT_EQ(0, d.decode(c.w, c.h, c.stream, 8, 8));
        for (size_t r = 0; r < c.rows.size(); r++)
            EXPECT_EQ(c.rows[r], d.row(uint32_t(r)));
    }
}

TEST(FbRLE, CountFormsAndOperands) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        Row row0;
    } cases[] = {
        {"regular zero count: next byte + 32 (colour run of 33)", {0x60, 0x01, 0x07}, Row(33, 7)},
        {"lite zero count: next byte + 16", {0xC0, 0x01, 0x05}, Row(17, 5)},
        {"image zero count: next byte + 1 pixels, one mask byte",
         {0x40, 0x02, 0x05, 0xFD},
         {0xFF, 0, 0xFF, 0xFF}},
        {"image count x 8", {0x41, 0x81, 0xFE}, {0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
        {"lite image: count x 8 and the fg after the count",
         {0xD1, 0x33, 0x03},
         {0x33, 0x33, 0, 0, 0, 0, 0, 0}},
        {"16-bit image of 12 pixels reads two mask bytes",
         {0xF2, 12, 0, 0x01, 0xF0, 0xFD},
         {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}},
        {"special images use 0x03 and 0x05",
         {0xF9, 0xFA},
         {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0}},
        {"dithered count is in pairs", {0xE2, 7, 9}, {7, 9, 7, 9}},
        {"16-bit dithered", {0xF8, 2, 0, 7, 9, 0xFE}, {7, 9, 7, 9, 0}},
        {"16-bit runs of 0 consume their operands",
         {0xF3, 0, 0, 9, 0xF4, 0, 0, 0xF2, 0, 0, 0xFD},
         {0xFF}},
        {"code 5 forms skip 2, 1 and 3 bytes", {0xA0, 0xFD, 0xB7, 0xF5, 0xFD, 0xFD, 0xFE}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t w = uint32_t(c.row0.size()) + 3;
        Dest d(w, 1, 1);
        ASSERT_EQ(0, d.decode(w, 1, c.stream, 8, 8));
        Row got = d.row(0);
        got.resize(c.row0.size());
        EXPECT_EQ(c.row0, got);
        EXPECT_EQ(O, d.at(0, uint32_t(c.row0.size())));
    }
}

TEST(FbRLE, DitherAlternationRunsOnAcrossRows) {
    Dest d(5, 2, 1);
    ASSERT_EQ(0, d.decode(5, 2, {0xE3, 0x0A, 0x0B}, 8, 8));
    EXPECT_EQ(Row({0x0A, 0x0B, 0x0A, 0x0B, 0x0A}), d.row(0));
    EXPECT_EQ(Row({0x0B, O, O, O, O}), d.row(1));
}

TEST(FbRLE, ImageMaskIndexRunsOnAcrossRows) {
    // 12 pixels over rows of 5: bits 5-9 land on row 1 (above XOR fg where set).
    Dest d(5, 3, 1);
    ASSERT_EQ(0, d.decode(5, 3, {0xF2, 12, 0, 0xE1, 0x0F}, 8, 8));
    EXPECT_EQ(Row({0xFF, 0, 0, 0, 0}), d.row(0));
    EXPECT_EQ(Row({0, 0xFF, 0xFF, 0xFF, 0xFF}), d.row(1));
    EXPECT_EQ(Row({0xFF, 0, O, O, O}), d.row(2));
}

TEST(FbRLE, EndsAndFailures) {
    {
        SCOPED_TRACE("unknown code: -3, earlier pixels kept, nothing after");
        for (uint8_t bad : {0xFB, 0xFC, 0xFF}) {
            Dest d(4, 1, 1);
            EXPECT_EQ(-3, d.decode(4, 1, {0x62, 5, bad, 0xFD}, 8, 8));
            EXPECT_EQ(Row({5, 5, O, O}), d.row(0));
        }
    }
    {
        SCOPED_TRACE("a short stream keeps the old pixels");
        Dest d(4, 2, 1);
        EXPECT_EQ(0, d.decode(4, 2, {0x63, 5}, 8, 8));
        EXPECT_EQ(Row({5, 5, 5, O}), d.row(0));
        EXPECT_EQ(Row({O, O, O, O}), d.row(1));
    }
    {
        SCOPED_TRACE("an over-long stream stops at the end of the last row");
        Dest d(3, 2, 1, 1); // one slack byte per row, never written
        EXPECT_EQ(0, d.decode(3, 2, {0x6F, 5, 0xFD, 0xFD, 0xE4, 1, 2}, 8, 8));
        EXPECT_EQ(Row({5, 5, 5}), d.row(0));
        EXPECT_EQ(Row({5, 5, 5}), d.row(1));
        EXPECT_EQ(kOld, d.bits[3]);
        EXPECT_EQ(kOld, d.bits[7]);
    }
    {
        SCOPED_TRACE("an order cut short writes nothing");
        for (auto s : std::vector<std::vector<uint8_t>>{{0x62, 5, 0x84, 1, 2, 3},
                                                        {0x62, 5, 0x60},
                                                        {0x62, 5, 0xF3, 9},
                                                        {0x62, 5, 0x60, 1},
                                                        {0x62, 5, 0xE1, 1},
                                                        {0x62, 5, 0x4F},
                                                        {0x62, 5, 0xC1}}) {
            Dest d(4, 1, 1);
            EXPECT_EQ(0, d.decode(4, 1, s, 8, 8));
            EXPECT_EQ(Row({5, 5, O, O}), d.row(0));
        }
    }
    {
        SCOPED_TRACE("empty stream, zero sides: 0, nothing written");
        Dest d(4, 2, 1);
        EXPECT_EQ(0, d.decode(4, 2, {}, 8, 8));
        EXPECT_EQ(0, d.decode(0, 2, {0xFD}, 8, 8));
        EXPECT_EQ(0, d.decode(4, 0, {0xFD}, 8, 8));
        EXPECT_TRUE(d.untouched());
    }
}

TEST(FbRLE, EntryRefusesWhatDoesNotFitAndWritesNothing) {
    // An empty image is decoded (0) before its depths are looked at.
    struct Case {
        const char* what;
        uint8_t src, dst;
        uint32_t w, h;              // the image
        uint32_t bufW, rows, pixel; // the buffer
        int32_t result;
    } cases[] = {
        {"source depth 32", 32, 32, 2, 2, 2, 2, 4, -1},
        {"source depth 15", 15, 16, 2, 2, 2, 2, 2, -1},
        {"source depth 1", 1, 8, 2, 2, 2, 2, 1, -1},
        {"24 bits into 16", 24, 16, 2, 2, 2, 2, 2, -2},
        {"8 bits into 16", 8, 16, 2, 2, 2, 2, 2, -2},
        {"16 bits into 32", 16, 32, 2, 2, 2, 2, 4, -2},
        {"taller than the buffer", 8, 8, 2, 3, 2, 2, 1, -2},
        {"wider than a row", 16, 16, 3, 2, 2, 2, 2, -2},
        {"zero width, source depth 32", 32, 32, 0, 2, 2, 2, 4, 0},
        {"zero height, 24 bits into 16", 24, 16, 2, 0, 2, 2, 2, 0},
        {"zero width, 8 bits into 16", 8, 16, 0, 2, 2, 2, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool up : {false, true}) {
            Dest d(c.bufW, c.rows, c.pixel, 1, up);
            EXPECT_EQ(c.result, d.decode(c.w, c.h, {0x6F, 1, 2, 3}, c.src, c.dst));
            EXPECT_TRUE(d.untouched());
        }
    }
}

TEST(FbRLE, PixelValuesBySize) {
    {
        SCOPED_TRACE("24-bit colour run into 3- and 4-byte pixels");
        Dest d3(2, 1, 3), d4(2, 1, 4);
        ASSERT_EQ(0, d3.decode(2, 1, {0x62, 0x10, 0x20, 0x30}, 24, 24));
        ASSERT_EQ(0, d4.decode(2, 1, {0x62, 0x10, 0x20, 0x30}, 24, 32));
        EXPECT_EQ(Row({0x302010, 0x302010}), d3.row(0));
        EXPECT_EQ(Row({0x00302010, 0x00302010}), d4.row(0));
    }
    {
        SCOPED_TRACE("4-byte WHITE and starting fg are all ones; fg XOR inverts the 4th byte");
        Dest d(2, 2, 4);
        ASSERT_EQ(0, d.decode(2, 2, {0xFD, 0x21, 0x62, 0x10, 0x20, 0x30}, 24, 32));
        EXPECT_EQ(Row({0xFFFFFFFF, 0xFFFFFFFF}), d.row(0));
        Dest e(1, 2, 4);
        ASSERT_EQ(0, e.decode(1, 2, {0x61, 0x10, 0x20, 0x30, 0x21}, 24, 32));
        EXPECT_EQ(0xFFCFDFEFu, e.at(1, 0));
        Dest f(1, 2, 4); // a set foreground has fourth byte 0
        ASSERT_EQ(0, f.decode(1, 2, {0x61, 0x10, 0x20, 0x30, 0xC1, 1, 2, 3}, 24, 32));
        EXPECT_EQ(0x00302010u ^ 0x00030201u, f.at(1, 0));
    }
    {
        SCOPED_TRACE("16-bit colours pass unchanged");
        Dest d(3, 1, 2);
        ASSERT_EQ(0, d.decode(3, 1, {0x62, 0x1F, 0xF8, 0xFD}, 16, 16));
        EXPECT_EQ(Row({0xF81F, 0xF81F, 0xFFFF}), d.row(0));
    }
    {
        SCOPED_TRACE("fg is all ones again at every call");
        Dest d(2, 1, 2);
        ASSERT_EQ(0, d.decode(2, 1, {0xC1, 0x34, 0x12}, 16, 16));
        ASSERT_EQ(0, d.decode(2, 1, {0x22}, 16, 16));
        EXPECT_EQ(Row({0xFFFF, 0xFFFF}), d.row(0));
    }
}

TEST(FbRLE, NegativeStrideStartsAtTheTopAndWalksDown) {
    // An image of 2 rows in a buffer of 3 rows of 4 bytes: it takes the
    // first two rows in memory, stream row 0 the higher of them.
    Dest d(2, 3, 1, 2, true);
    ASSERT_EQ(0, d.decode(2, 2, {0x82, 1, 2, 0x21}, 8, 8));
    std::vector<uint8_t> want = {0xFE, O, O, O, 1, 2, O, O, O, O, O, O};
    EXPECT_EQ(want, d.bits);
}

// Random streams of every order kind, form and misuse, all four pixel sizes
// and both stride signs, against the pixel-at-a-time model.
TEST(FbRLE, MatchesTheModelOnRandomStreams) {
    const uint32_t seed = 20261207;
    std::mt19937 rng(seed);
    const int sizes[][3] = {{1, 1, 8}, {2, 2, 16}, {3, 3, 24}, {4, 3, 32}};
    for (int i = 0; i < 3000; i++) {
        const int* v = sizes[i % 4];
        int P = v[0], S = v[1];
        uint32_t w = std::uniform_int_distribution<uint32_t>(1, i % 10 == 0 ? 1100 : 40)(rng);
        uint32_t h = std::uniform_int_distribution<uint32_t>(1, i % 10 == 0 ? 4 : 12)(rng);
        uint32_t slack = rng() % 4;
        bool up = rng() & 1;
        rlemodel::StreamWriter sw(rng, S, w, h, (rng() % 3) == 0);
        std::vector<uint8_t> s = sw.stream();
        Dest ours(w, h, uint32_t(P), slack, up), model(w, h, uint32_t(P), slack, up);
        int32_t got = ours.decode(w, h, s, uint8_t(S * 8), uint8_t(v[2]));
        int32_t want = rlemodel::decode(P, S, w, h, s.data(), uint32_t(s.size()), model.bits.data(),
                                        model.stride);
        ASSERT_EQ(want, got) << "seed " << seed << " stream " << i;
        ASSERT_EQ(model.bits, ours.bits)
            << "seed " << seed << " stream " << i << " " << w << "x" << h << " P" << P;
    }
}

} // namespace
