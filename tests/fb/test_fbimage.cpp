/* Image put: random images through encoders written from the format
 * description, decoded back and compared with their source. */
#include "fb/fbpriv.h"
#include "fbtest.h"

#include <array>
#include <map>

namespace {

/* An image in units: pixels, or at depth 1 bytes of 8 pixels. */
struct Image {
    int32_t units, rows;
    std::vector<uint32_t> px;
    uint32_t at(int32_t u, int32_t r) const { return px[size_t(r) * units + u]; }
};

struct Encoder {
    std::mt19937& rng;
    uint32_t dataBytes;
    std::vector<uint8_t> out;

    void pixel(uint32_t v) {
        for (uint32_t i = 0; i < dataBytes; i++)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    void u16(uint32_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void raw(const Image& img) {
        for (uint32_t v : img.px)
            pixel(v);
    }
    /* One row of the row run-length code, kinds chosen at random where
     * they fit; the last code may overshoot the row. */
    void rleRow(const Image& img, int32_t r) {
        int32_t n = img.units, i = 0;
        while (i < n) {
            int choice = int(rng() % 5);
            int32_t left = n - i;
            if (choice == 1) {
                int32_t run = 1;
                while (i + run < n && img.at(i + run, r) == img.at(i, r) && run < 4095)
                    run++;
                int32_t len = 1 + int32_t(rng() % run);
                if (len == left && rng() % 2)
                    len += int32_t(rng() % 5); /* past the row: clipped */
                u16(0x1000u | uint32_t(len));
                pixel(img.at(i, r));
                i += len;
                continue;
            }
            if (choice == 2) {
                uint32_t kind = 2 + rng() % 14;
                int32_t reps = 0;
                while (i + (reps + 1) * int32_t(kind) <= n && reps < 4095) {
                    bool same = true;
                    for (uint32_t k = 0; k < kind && same; k++)
                        same = img.at(i + reps * int32_t(kind) + int32_t(k), r) == img.at(i + int32_t(k), r);
                    if (!same)
                        break;
                    reps++;
                }
                if (reps > 0) {
                    u16(kind << 12 | uint32_t(reps));
                    for (uint32_t k = 0; k < kind; k++)
                        pixel(img.at(i + int32_t(k), r));
                    i += reps * int32_t(kind);
                    continue;
                }
            }
            if (choice == 3) {
                /* A pattern of count 0: its bytes are read, nothing written. */
                uint32_t kind = 2 + rng() % 14;
                u16(kind << 12);
                for (uint32_t k = 0; k < kind; k++)
                    pixel(rng());
                continue;
            }
            int32_t len = 1 + int32_t(rng() % (left < 40 ? left : 40));
            u16(uint32_t(len));
            for (int32_t k = 0; k < len; k++)
                pixel(img.at(i + k, r));
            i += len;
        }
    }
    void rle(const Image& img) {
        for (int32_t r = 0; r < img.rows; r++)
            rleRow(img, r);
    }
};

/* The 16x16 tile code, with a model of the destination so that a type-4
 * tile is used only where copying from the reference reproduces the
 * source, exactly as the decoder will copy it. */
struct TileEncoder : Encoder {
    TestBuffer& model; /* what the destination holds as tiles are decoded */
    uint32_t bg = 0, fg = 0;
    std::map<uint32_t, uint32_t> palette; /* colour -> index */
    int32_t refX = 0, refY = 0;
    std::map<int, int> used;

    TileEncoder(std::mt19937& r, uint32_t db, TestBuffer& m) : Encoder{r, db, {}}, model(m) {}

    void encode(const Image& img, int32_t x, int32_t y) {
        for (int32_t ty = 0; ty < img.rows; ty += 16)
            for (int32_t tx = 0; tx < img.units; tx += 16)
                tile(img, x, y, tx, ty, std::min(16, img.units - tx), std::min(16, img.rows - ty));
    }

    void tile(const Image& img, int32_t x, int32_t y, int32_t tx, int32_t ty, int32_t tw, int32_t th) {
        int32_t ox = x + tx, oy = y + ty;
        auto src = [&](int32_t i, int32_t j) { return img.at(tx + i, ty + j); };
        std::map<uint32_t, int> colours;
        for (int32_t j = 0; j < th; j++)
            for (int32_t i = 0; i < tw; i++)
                colours[src(i, j)]++;
        /* Would a copy from the reference give the source? */
        bool copyFits = true;
        {
            TestBuffer& m = model;
            std::vector<uint32_t> sim;
            for (int32_t j = 0; j < th && copyFits; j++)
                for (int32_t i = 0; i < tw; i++) {
                    int32_t sx = refX + i, sy = refY + j;
                    if (!m.inside(ox + i, oy + j))
                        continue; /* not in the drawable: never compared */
                    if (!m.inside(sx, sy)) {
                        copyFits = false; /* the destination keeps its pixel */
                        break;
                    }
                    uint32_t v = m.get(sx, sy);
                    m.set(ox + i, oy + j, v); /* forward, pixel by pixel */
                    if (v != src(i, j)) {
                        copyFits = false;
                        break;
                    }
                }
        }
        std::vector<int> types = {1, 3};
        if (colours.size() == 1)
            types.push_back(0);
        if (colours.size() <= 2)
            types.insert(types.end(), {2, 6});
        if (colours.size() <= 40) /* a palette header carries at most 255 */
            types.insert(types.end(), {7, 8});
        types.push_back(5);
        int type = copyFits && rng() % 5 ? 4 : types[rng() % types.size()];
        if (colours.size() == 1 && rng() % 2)
            type = 0;
        else if (type != 4 && colours.size() <= 2 && rng() % 2)
            type = rng() % 2 ? 2 : 6;

        uint8_t head = uint8_t(type);
        size_t headAt = out.size();
        out.push_back(0);
        /* Colours: what the type needs, and now and then a change it does not. */
        uint32_t wantBg = bg, wantFg = fg;
        if (type == 0)
            wantBg = colours.begin()->first;
        if (type == 2 || type == 6) {
            wantBg = colours.begin()->first;
            wantFg = colours.rbegin()->first;
        }
        if (wantBg != bg || rng() % 6 == 0) {
            head |= 0x40;
            bg = wantBg != bg ? wantBg : uint32_t(rng() & model.mask() & 0xFFFFFF);
            if (type == 0 || type == 2 || type == 6)
                bg = wantBg;
            pixel(bg);
        }
        if (wantFg != fg || rng() % 6 == 0) {
            head |= 0x80;
            fg = (type == 2 || type == 6) ? wantFg : uint32_t(rng() & model.mask() & 0xFFFFFF);
            pixel(fg);
        }
        if (type == 7 || type == 8) {
            std::vector<uint32_t> missing;
            for (int pass = 0; pass < 2; pass++) {
                missing.clear();
                for (auto& c : colours)
                    if (!palette.count(c.first))
                        missing.push_back(c.first);
                if (palette.size() + missing.size() <= 256)
                    break;
                palette.clear(); /* the decoder keeps them; we re-send what we use */
            }
            if (!missing.empty() || rng() % 4 == 0) {
                head |= 0x20;
                out.push_back(uint8_t(missing.size()));
                for (uint32_t c : missing) {
                    uint32_t index;
                    do
                        index = rng() % 256;
                    while ([&] {
                        for (auto& p : palette)
                            if (p.second == index)
                                return true;
                        return false;
                    }());
                    palette[c] = index;
                    out.push_back(uint8_t(index));
                    pixel(c);
                }
            }
        }
        out[headAt] = head;
        used[type]++;
        switch (type) {
        case 1:
            for (int32_t j = 0; j < th; j++)
                for (int32_t i = 0; i < tw; i++)
                    pixel(src(i, j));
            break;
        case 2:
        case 5: {
            std::vector<std::array<uint32_t, 4>> rects; /* x, y, w, colour */
            for (int32_t j = 0; j < th; j++)
                for (int32_t i = 0; i < tw;) {
                    int32_t n = 1;
                    while (i + n < tw && src(i + n, j) == src(i, j))
                        n++;
                    if (type == 5 || src(i, j) == fg)
                        if (!(type == 2 && src(i, j) == bg && bg != fg))
                            rects.push_back({uint32_t(i), uint32_t(j), uint32_t(n), src(i, j)});
                    i += n;
                }
            if (rects.size() > 255) { /* too many: fall back to raw */
                out[headAt] = uint8_t((head & 0xE0) | 1);
                for (int32_t j = 0; j < th; j++)
                    for (int32_t i = 0; i < tw; i++)
                        pixel(src(i, j));
                break;
            }
            out.push_back(uint8_t(rects.size()));
            for (auto& r : rects) {
                if (type == 5)
                    pixel(r[3]);
                out.push_back(uint8_t(r[0] << 4 | r[1]));
                out.push_back(uint8_t((r[2] - 1) << 4));
            }
            break;
        }
        case 3:
        case 7: {
            auto value = [&](uint32_t v) {
                if (type == 7)
                    out.push_back(uint8_t(palette[v]));
                else
                    pixel(v);
            };
            int32_t all = tw * th, k = 0;
            auto at = [&](int32_t n) { return src(n % tw, n / tw); };
            while (k < all) {
                int32_t run = 1;
                while (k + run < all && at(k + run) == at(k) && run < 127)
                    run++;
                if (run >= 2) {
                    out.push_back(uint8_t(0x80 | run));
                    value(at(k));
                    k += run;
                } else {
                    int32_t n = 1 + int32_t(rng() % 20);
                    if (n > all - k)
                        n = all - k;
                    out.push_back(uint8_t(n));
                    for (int32_t m = 0; m < n; m++)
                        value(at(k + m));
                    k += n;
                }
            }
            break;
        }
        case 6:
            for (int32_t j = 0; j < th; j++) {
                uint32_t mask = 0;
                for (int32_t i = 0; i < tw; i++)
                    if (src(i, j) == fg && src(i, j) != bg)
                        mask |= 1u << i;
                out.push_back(uint8_t(mask));
                if (tw > 8)
                    out.push_back(uint8_t(mask >> 8));
            }
            break;
        case 8:
            for (int32_t j = 0; j < th; j++)
                for (int32_t i = 0; i < tw; i++)
                    out.push_back(uint8_t(palette[src(i, j)]));
            break;
        }
        if (type != 0 && type != 4) {
            refX = ox;
            refY = oy;
        }
        for (int32_t j = 0; j < th; j++)
            for (int32_t i = 0; i < tw; i++)
                if (model.inside(ox + i, oy + j))
                    model.set(ox + i, oy + j, src(i, j));
    }
};

/* Random pictures with runs, few-colour tiles and repeated tiles. */
Image RandomImage(std::mt19937& rng, int32_t units, int32_t rows, uint32_t mask) {
    Image img{units, rows, std::vector<uint32_t>(size_t(units) * rows)};
    uint32_t palette[4];
    for (uint32_t& p : palette)
        p = uint32_t(rng()) & mask;
    for (int32_t ty = 0; ty < rows; ty += 16)
        for (int32_t tx = 0; tx < units; tx += 16) {
            int style = int(rng() % 5);
            for (int32_t j = ty; j < std::min(rows, ty + 16); j++)
                for (int32_t i = tx; i < std::min(units, tx + 16); i++) {
                    uint32_t v;
                    switch (style) {
                    case 0: v = palette[0]; break;
                    case 1: v = palette[rng() % 2]; break;
                    case 2: v = palette[(i / 3 + j) % 4]; break;
                    case 3: v = tx >= 16 ? img.px[size_t(j) * units + i - 16] : rng() & mask; break;
                    default: v = rng() % 3 ? rng() & mask : palette[3]; break;
                    }
                    img.px[size_t(j) * units + i] = v;
                }
        }
    return img;
}

struct ImageFormat {
    uint32_t depth;
    bool bpp4;
    int format;
    uint32_t dataBytes, dataMask;
};
const ImageFormat kImageFormats[] = {{1, false, FB_FMT_1, 1, 0xFF},        {8, false, FB_FMT_8, 1, 0xFF},
                                     {16, false, FB_FMT_16, 2, 0xFFFF},    {24, false, FB_FMT_24, 3, 0xFFFFFF},
                                     {24, true, FB_FMT_32, 3, 0xFFFFFF}};

/* The source unit at buffer position (u, r) of an image put at (x, y). */
uint32_t BufferUnit(const TestBuffer& b, const ImageFormat& f, int32_t u, int32_t r) {
    if (f.depth == 1)
        return b.b.bits[size_t(r) * b.b.stride + size_t(u)];
    return b.get(u, r);
}

TEST(FbImage, RandomImagesRoundTripAtEveryFormat) {
    std::mt19937 rng(2024);
    for (const ImageFormat& f : kImageFormats) {
        for (uint32_t compression : {0u, 1u, 4u}) {
            if (f.depth == 1 && compression == 4)
                continue;
            std::map<int, int> tileTypes;
            for (int round = 0; round < 12; round++) {
                SCOPED_TRACE("depth " + std::to_string(f.depth) + (f.bpp4 ? "/32" : "") + " compression " +
                             std::to_string(compression) + " round " + std::to_string(round));
                int32_t bw = 70, bh = 50;
                TestBuffer d(bw, bh, f.depth, f.bpp4), before(bw, bh, f.depth, f.bpp4);
                d.randomize(rng);
                before.copyFrom(d);
                int32_t w = 1 + int32_t(rng() % 60), h = 1 + int32_t(rng() % 45);
                int32_t x = int32_t(rng() % 20) - 5, y = int32_t(rng() % 20) - 5;
                if (f.depth == 1)
                    x &= ~7;
                int32_t units = f.depth == 1 ? (w + 7) / 8 : w;
                int32_t u0 = f.depth == 1 ? x / 8 : x;
                Image img = RandomImage(rng, units, h, f.dataMask);
                std::vector<uint8_t> data;
                if (compression == 4) {
                    TestBuffer model(bw, bh, f.depth, f.bpp4);
                    model.copyFrom(d);
                    TileEncoder e(rng, f.dataBytes, model);
                    e.encode(img, x, y);
                    data = e.out;
                    for (auto& t : e.used)
                        tileTypes[t.first] += t.second;
                } else {
                    Encoder e{rng, f.dataBytes, {}};
                    if (compression == 0)
                        e.raw(img);
                    else
                        e.rle(img);
                    data = e.out;
                }
                FbGC gc = FreshGC();
                fbFamilies[f.format].putImage(nullptr, &d, &gc, x, y, w, h, f.depth, compression,
                                              uint32_t(data.size()), data.data());
                int32_t limit = f.depth == 1 ? (bw + 7) / 8 : bw;
                for (int32_t r = 0; r < bh; r++)
                    for (int32_t u = 0; u < limit; u++) {
                        bool inImage = u >= u0 && u < u0 + units && r >= y && r < y + h;
                        uint32_t want = inImage ? img.at(u - u0, r - y) : BufferUnit(before, f, u, r);
                        ASSERT_EQ(BufferUnit(d, f, u, r), want) << "at " << u << "," << r;
                    }
                /* The same bytes through the pixmap entry consume all of them. */
                EXPECT_EQ(fbPutPixmapImage(&d, x, y, w, h, f.depth, compression, uint32_t(data.size()), data.data()),
                          int(data.size()));
            }
            for (int t : {0, 1, 2, 3, 4, 5, 6, 7, 8}) {
                if (compression == 4) {
                    EXPECT_GT(tileTypes[t], 0) << "tile type " << t << " never chosen at depth " << f.depth;
                }
            }
        }
    }
}

TEST(FbImage, InterlacedRowsHalveTheirStep) {
    std::mt19937 rng(8);
    for (uint32_t compression : {0u, 1u}) {
        TestBuffer d(10, 20, 16);
        int32_t y = 2, h = 16;
        /* Rows 4, 12, then the step halves to 4 from y + 2. */
        int32_t order[] = {6, 14, 4, 8, 12, 16};
        Image img = RandomImage(rng, 7, 6, 0xFFFF);
        Encoder e{rng, 2, {}};
        for (int32_t r = 0; r < 6; r++)
            compression ? e.rleRow(img, r) : [&] {
                for (int32_t u = 0; u < 7; u++)
                    e.pixel(img.at(u, r));
            }();
        DamageLog log;
        FbGC gc = FreshGC();
        gc.damageFlags = 1;
        fbFamilies[FB_FMT_16].putSubImage(nullptr, &d, &gc, 1, y, 7, h, 6, 6, 8, 16, compression,
                                          uint32_t(e.out.size()), e.out.data());
        for (int32_t r = 0; r < 6; r++)
            for (int32_t u = 0; u < 7; u++)
                ASSERT_EQ(d.get(1 + u, order[r]), img.at(u, r)) << "row " << order[r];
        for (int32_t row : {2, 3, 5, 7, 9, 11, 13, 15, 17})
            for (int32_t u = 0; u < 10; u++)
                ASSERT_EQ(d.get(u, row), 0u) << "row " << row;
        ASSERT_EQ(DamageLog::entries().size(), 1u);
        EXPECT_EQ(DamageLog::entries()[0], "rect 1 4 7 13");
    }
}

TEST(FbImage, TileStateAndReferenceEdgeCases) {
    TestBuffer d(80, 20, 8);
    d.set(0, 0, 0x11);
    d.set(1, 0, 0x22);
    FbGC gc = FreshGC();
    /* Four tiles at x 10, 26, 42, 58: a first type-4 tile copies from (0, 0)
     * of the drawable; a type-4 tile after a solid one copies from the tile
     * before the solid one. */
    std::vector<uint8_t> data = {0x04,                         /* copy of (0, 0) */
                                 0x42, 0x33, 0x01, 0x00, 0x10, /* bg 0x33, a 2 x 1 subrect in fg 0 */
                                 0x40, 0x44,                   /* solid 0x44 */
                                 0x04};                        /* copy of the second tile */
    fbFamilies[FB_FMT_8].putImage(nullptr, &d, &gc, 10, 2, 64, 16, 8, 4, uint32_t(data.size()), data.data());
    EXPECT_EQ(d.get(10, 2), 0x11u);
    EXPECT_EQ(d.get(11, 2), 0x22u);
    EXPECT_EQ(d.get(26, 2), 0x00u);
    EXPECT_EQ(d.get(27, 2), 0x00u);
    EXPECT_EQ(d.get(28, 2), 0x33u);
    EXPECT_EQ(d.get(42, 2), 0x44u);
    EXPECT_EQ(d.get(58, 2), 0x00u);
    EXPECT_EQ(d.get(60, 2), 0x33u);
    EXPECT_EQ(d.get(60, 17), 0x33u);
    /* Header bits carry over within an image (0x42, then 0x02), not to the next. */
    TestBuffer e(32, 16, 8);
    std::vector<uint8_t> carry = {0x42, 0x33, 0x00, 0x02, 0x00};
    fbFamilies[FB_FMT_8].putImage(nullptr, &e, &gc, 0, 0, 32, 16, 8, 4, uint32_t(carry.size()), carry.data());
    EXPECT_EQ(e.get(5, 5), 0x33u);
    EXPECT_EQ(e.get(17, 5), 0x33u);
    std::vector<uint8_t> fresh = {0x02, 0x00, 0x09};
    fbFamilies[FB_FMT_8].putImage(nullptr, &e, &gc, 0, 0, 32, 16, 8, 4, uint32_t(fresh.size()), fresh.data());
    EXPECT_EQ(e.get(5, 5), 0u);
    EXPECT_EQ(e.get(17, 5), 0x33u); /* type 9: nothing drawn */
    /* A 17 x 17 type-6 image: one mask byte per row of the 1-wide tiles. */
    TestBuffer g(17, 17, 8);
    std::vector<uint8_t> masks = {0xC6, 0x05, 0x09}; /* bg 5, fg 9, type 6 */
    for (int r = 0; r < 16; r++) {
        masks.push_back(uint8_t(r));
        masks.push_back(0x80);
    }
    masks.push_back(0x06);
    for (int r = 0; r < 16; r++)
        masks.push_back(1);
    masks.push_back(0x06);
    masks.push_back(0);
    masks.push_back(0);
    masks.push_back(0x06);
    masks.push_back(1);
    fbFamilies[FB_FMT_8].putImage(nullptr, &g, &gc, 0, 0, 17, 17, 8, 4, uint32_t(masks.size()), masks.data());
    EXPECT_EQ(g.get(0, 1), 9u);
    EXPECT_EQ(g.get(1, 1), 5u);
    EXPECT_EQ(g.get(15, 0), 9u);
    EXPECT_EQ(g.get(16, 7), 9u);
    EXPECT_EQ(g.get(3, 16), 5u);
    EXPECT_EQ(g.get(16, 16), 9u);
}

TEST(FbImage, RowSizesDoNotWrapIn32Bits) {
    /* 0x55555556 pixels of 3 bytes are 2 bytes modulo 2^32: the row must
     * be found short, not read 2 bytes and draw from what follows. */
    TestBuffer d(8, 2, 24);
    std::vector<uint8_t> data(200, 0xEE);
    const uint32_t stated = 2;
    FbGC gc = FreshGC();
    fbFamilies[FB_FMT_24].putImage(nullptr, &d, &gc, 0, 0, 0x55555556, 1, 24, 0, stated, data.data());
    for (int x = 0; x < 8; x++)
        ASSERT_EQ(d.get(x, 0), 0u) << x;
}

TEST(FbImage, OddCompressionsAndRunLengthStandIn) {
    DamageLog log;
    TestBuffer d(8, 8, 24, true);
    FbGC gc = FreshGC();
    gc.damageFlags = 1;
    const uint8_t data[16] = {};
    const FbFamily& f = fbFamilies[FB_FMT_32];
    f.putImage(nullptr, &d, &gc, 0, 0, 2, 2, 24, 2, sizeof data, data);
    f.putImage(nullptr, &d, &gc, 0, 0, 2, 2, 24, 5, sizeof data, data);
    f.putImage(nullptr, &d, &gc, 0, 0, -2, 2, 24, 0, sizeof data, data);
    f.putSubImage(nullptr, &d, &gc, 0, 0, 2, 2, 0, 0, 1, 24, 0, sizeof data, data);
    EXPECT_TRUE(DamageLog::entries().empty());
    /* Compression 3 reports the rows it placed at the bottom left, whatever
     * the decoder did; an image it refuses reports nothing. */
    f.putImage(nullptr, &d, &gc, 3, 1, 2, 2, 24, 3, sizeof data, data);
    f.putImage(nullptr, &d, &gc, 0, 0, 2, 9, 24, 3, sizeof data, data);
    ASSERT_EQ(DamageLog::entries().size(), 1u);
    EXPECT_EQ(DamageLog::entries()[0], "rect 0 6 2 2");
    /* Bitmaps: compression 3 and 4 are ignored. */
    TestBuffer b(16, 2, 1);
    fbFamilies[FB_FMT_1].putImage(nullptr, &b, &gc, 0, 0, 16, 2, 1, 4, sizeof data, data);
    fbFamilies[FB_FMT_1].putImage(nullptr, &b, &gc, 0, 0, 16, 2, 1, 3, sizeof data, data);
    EXPECT_EQ(DamageLog::entries().size(), 1u);
}

} // namespace
