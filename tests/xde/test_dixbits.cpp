// Pixel colours without the screen (5-6-5 expansion, the cache index, the
// 8-bit colormap), cursor planes cut to the system size, 32-bit cursor masks
// and window-icon masks.
#include <gtest/gtest.h>

#include "xde/dixbits.h"

namespace {

bool msbBit(const std::vector<uint8_t>& plane, uint32_t stride, uint32_t x, uint32_t y) {
    return (plane.at(size_t(y) * stride + x / 8) >> (7 - (x & 7))) & 1;
}

TEST(XPixelColor, FiveSixFiveExpandsExactly) {
    EXPECT_EQ(0x0000FFu, diXColorFrom565(0xF800));
    EXPECT_EQ(0x00FF00u, diXColorFrom565(0x07E0));
    EXPECT_EQ(0xFF0000u, diXColorFrom565(0x001F));
    EXPECT_EQ(0x848284u, diXColorFrom565(0x8410));
    EXPECT_EQ(0x563412u, diXColorFrom888(0xAB123456));
    // Every channel value keeps its own top bits and the range ends at 255.
    for (uint32_t r5 = 0; r5 < 32; r5++) {
        uint32_t c = diXColorFrom565(r5 << 11 | 0x07FF);
        EXPECT_EQ(r5, (c & 0xFF) >> 3);
        EXPECT_EQ(0xFFu, (c >> 8) & 0xFF);
    }
    for (uint32_t g6 = 0; g6 < 64; g6++)
        EXPECT_EQ(g6, ((diXColorFrom565(g6 << 5) >> 8) & 0xFF) >> 2);
}

TEST(XPixelColor, CacheIndexIsTheTopFourBitsOfEachChannel) {
    const struct {
        uint32_t depth, pixel, want;
    } cases[] = {
        {16, 0xF800, 0xF00},     {16, 0x07E0, 0x0F0},   {16, 0x001F, 0x00F},
        {16, 0x0861, 0x000},     {16, 0x8410, 0x888},   {24, 0xFF0000, 0xF00},
        {24, 0x00FF00, 0x0F0},   {24, 0x0000FF, 0x00F}, {24, 0x0F0F0F, 0x000},
        {32, 0xFF123456, 0x135}, {8, 0xFF, 0},          {15, 0xFFFF, 0},
    };
    for (auto c : cases)
        EXPECT_EQ(c.want, diXColorCacheIndex(c.depth, c.pixel)) << c.depth << " " << c.pixel;
}

TEST(XPixelColor, LocalAnswersByDepth) {
    uint32_t cells[256];
    for (uint32_t i = 0; i < 256; i++)
        cells[i] = i * 0x010101;
    uint32_t color = 7;
    // A wide pixel at depth 8 picks its low byte, never a cell past 255.
    ASSERT_EQ(1, diXPixelColorLocal(8, 0x123456, 0, cells, &color));
    EXPECT_EQ(0x565656u, color);
    ASSERT_EQ(1, diXPixelColorLocal(16, 0xF800, 1, cells, &color));
    EXPECT_EQ(0xFFu, color);
    ASSERT_EQ(1, diXPixelColorLocal(24, 0x0000FF, 1, cells, &color));
    EXPECT_EQ(0xFF0000u, color);
    for (uint32_t depth : {4u, 33u}) {
        color = 7;
        ASSERT_EQ(1, diXPixelColorLocal(depth, 0xFFFFFF, 1, cells, &color));
        EXPECT_EQ(0u, color);
    }
    // True colour without dither: the screen decides.
    EXPECT_EQ(0, diXPixelColorLocal(16, 0xF800, 0, cells, &color));
    EXPECT_EQ(0, diXPixelColorLocal(24, 0xF800, 0, cells, &color));
}

TEST(XCursorPlanes, ShownHiddenAndOutsidePixels) {
    // 10 x 2: two bytes per row. Row 0: mask on for x 0-2 and 9, source on
    // for x 1 and 9; row 1: mask off everywhere, source on everywhere. The
    // padding bits past x 9 are set and must not count.
    const uint8_t mask[] = {0xE0, 0x7F, 0x00, 0x00};
    const uint8_t source[] = {0x40, 0x7F, 0xFF, 0xFF};
    std::vector<uint8_t> andPlane, xorPlane;
    ASSERT_EQ(0, diXCursorPlanes(mask, source, sizeof mask, 10, 2, 32, 32, &andPlane, &xorPlane));
    ASSERT_EQ(4u * 32, andPlane.size());
    ASSERT_EQ(andPlane.size(), xorPlane.size());
    for (uint32_t y = 0; y < 32; y++)
        for (uint32_t x = 0; x < 32; x++) {
            bool shown = y == 0 && (x <= 2 || x == 9);
            bool source1 = y == 0 && (x == 1 || x == 9);
            EXPECT_EQ(!shown, msbBit(andPlane, 4, x, y)) << x << "," << y;
            EXPECT_EQ(shown && !source1, msbBit(xorPlane, 4, x, y)) << x << "," << y;
        }
}

TEST(XCursorPlanes, CutToTheSystemSizeAndRefusedWhenShort) {
    // 40 x 40, every pixel shown, source on in column 33 only: the planes are
    // 32 x 32 and every row is read at its own offset of five bytes.
    std::vector<uint8_t> mask(5 * 40, 0xFF), source(5 * 40, 0);
    for (uint32_t y = 0; y < 40; y++)
        source[y * 5 + 4] = 0x40;
    source[31 * 5] = 0x80; // column 0 of the last row inside
    std::vector<uint8_t> andPlane, xorPlane;
    ASSERT_EQ(0, diXCursorPlanes(mask.data(), source.data(), mask.size(), 40, 40, 32, 32, &andPlane,
                                 &xorPlane));
    ASSERT_EQ(4u * 32, andPlane.size());
    for (uint8_t b : andPlane)
        EXPECT_EQ(0, b);
    for (uint32_t y = 0; y < 32; y++)
        for (uint32_t x = 0; x < 32; x++)
            EXPECT_EQ(!(y == 31 && x == 0), msbBit(xorPlane, 4, x, y)) << x << "," << y;

    // An odd system width pads the plane's rows to 16 bits.
    ASSERT_EQ(0, diXCursorPlanes(mask.data(), source.data(), mask.size(), 40, 40, 17, 3, &andPlane,
                                 &xorPlane));
    EXPECT_EQ(4u * 3, andPlane.size());
    EXPECT_TRUE(msbBit(andPlane, 4, 17, 0)) << "past the system width stays transparent";

    EXPECT_EQ(-1, diXCursorPlanes(mask.data(), source.data(), mask.size() - 1, 40, 40, 32, 32,
                                  &andPlane, &xorPlane));
    EXPECT_TRUE(andPlane.empty());
    EXPECT_EQ(-1, diXCursorPlanes(mask.data(), source.data(), mask.size(), 40, 40, 0, 32, &andPlane,
                                  &xorPlane));
    EXPECT_EQ(-1, diXCursorPlanes(mask.data(), source.data(), mask.size(), 40, 40, 65536, 65536,
                                  &andPlane, &xorPlane));
}

TEST(XCursorArgb, RowsTurnedAndMaskPaddedPerRow) {
    // 17 x 2: a width that is not a multiple of 16; an unpadded mask would
    // put row 1 at bit 17 and shear it.
    const uint32_t w = 17, h = 2;
    std::vector<uint32_t> px(w * h, 0xFF000000);
    px[0] = 0x00FFFFFF;      // transparent white, row 0
    px[w + 16] = 0x00000000; // transparent, row 1 last column
    px[w + 3] = 0x01000000;  // barely opaque
    std::vector<uint32_t> dib;
    std::vector<uint8_t> mask;
    ASSERT_EQ(0, diXArgbCursorBits(px.data(), px.size(), w, h, &dib, &mask));
    ASSERT_EQ(4u * h, mask.size());
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            EXPECT_EQ((y == 0 && x == 0) || (y == 1 && x == 16), msbBit(mask, 4, x, y))
                << x << "," << y;
    ASSERT_EQ(px.size(), dib.size());
    EXPECT_EQ(px[w + 16], dib[16]) << "the bottom DIB row is the image's last";
    EXPECT_EQ(px[0], dib[w]);

    EXPECT_EQ(-1, diXArgbCursorBits(px.data(), px.size() - 1, w, h, &dib, &mask));
    EXPECT_TRUE(dib.empty() && mask.empty());
    // 65536 x 65536 wraps to 0 in 32 bits; above the cap either way.
    EXPECT_EQ(-1, diXArgbCursorBits(px.data(), px.size(), 65536, 65536, &dib, &mask));
    EXPECT_EQ(-1, diXArgbCursorBits(px.data(), size_t(-1), 2048, 2048, &dib, &mask));
    EXPECT_EQ(-1, diXArgbCursorBits(px.data(), px.size(), 0, 2, &dib, &mask));
}

// A depth-1 buffer (least significant bit leftmost) from rows of '#'/'.'.
struct Depth1 {
    std::vector<uint8_t> bits;
    FbBuffer buf{};
    explicit Depth1(std::vector<const char*> rows) {
        uint32_t w = uint32_t(strlen(rows[0])), stride = (w + 7) / 8 + 1; // spare byte per row
        bits.assign(stride * rows.size(), 0);
        for (size_t y = 0; y < rows.size(); y++)
            for (uint32_t x = 0; x < w; x++)
                if (rows[y][x] == '#') bits[y * stride + x / 8] |= uint8_t(1 << (x & 7));
        buf.width = int32_t(w);
        buf.height = int32_t(rows.size());
        buf.depth = 1;
        buf.stride = stride;
        buf.bits = bits.data();
    }
};

TEST(XIconMasks, MonochromePlanesFromDepthOneBitmaps) {
    Depth1 mask({"##.......#", ".#########"});
    std::vector<uint8_t> andPlane;
    ASSERT_EQ(0, diXIconAndMask(&mask.buf, 10, 3, &andPlane));
    ASSERT_EQ(2u * 3, andPlane.size());
    const char* wantAnd[] = {"..#######.", "#.........", "##########"};
    for (uint32_t y = 0; y < 3; y++)
        for (uint32_t x = 0; x < 10; x++)
            EXPECT_EQ(wantAnd[y][x] == '#', msbBit(andPlane, 2, x, y)) << x << "," << y;
    ASSERT_EQ(0, diXIconAndMask(nullptr, 10, 3, &andPlane));
    EXPECT_EQ(std::vector<uint8_t>(6, 0), andPlane);

    Depth1 image({
        "#.#.#.#.#.",
        "..........",
    });
    std::vector<uint8_t> color;
    ASSERT_EQ(0, diXIconMonoColor(&image.buf, &mask.buf, &color));
    const char* wantColor[] = {".#.......#", ".#########"};
    for (uint32_t y = 0; y < 2; y++)
        for (uint32_t x = 0; x < 10; x++)
            EXPECT_EQ(wantColor[y][x] == '#', msbBit(color, 2, x, y)) << x << "," << y;

    // A buffer whose stride is too short for its width is refused.
    mask.buf.stride = 1;
    EXPECT_EQ(-1, diXIconAndMask(&mask.buf, 10, 3, &andPlane));
    EXPECT_EQ(-1, diXIconAndMask(nullptr, 4096, 4096, &andPlane));
}

TEST(XIconMasks, ColourImageKeepsOnlyMaskedPixels) {
    // Depth 16, 3 x 2, bottom-up: image row 0 (top) is the second in memory.
    std::vector<uint8_t> bits(8 * 2);
    for (size_t i = 0; i < bits.size(); i++)
        bits[i] = uint8_t(i + 1);
    FbBuffer image{3, 2, 16, 8, 2, bits.data(), nullptr, 8};
    Depth1 mask({"#..", ".##"});
    std::vector<uint8_t> out;
    ASSERT_EQ(0, diXIconMaskedColor(&image, &mask.buf, &out));
    ASSERT_EQ(bits.size(), out.size());
    // Top row (memory row 1): only x 0 kept.
    EXPECT_EQ(std::vector<uint8_t>({9, 10, 0, 0, 0, 0}),
              std::vector<uint8_t>(out.begin() + 8, out.begin() + 14));
    EXPECT_EQ(std::vector<uint8_t>({0, 0, 3, 4, 5, 6}),
              std::vector<uint8_t>(out.begin(), out.begin() + 6));
    ASSERT_EQ(0, diXIconMaskedColor(&image, nullptr, &out));
    EXPECT_EQ(bits, out);
    EXPECT_EQ(-1, diXIconMaskedColor(&mask.buf, nullptr, &out));
    // Rows whose span passes the frame buffer's cap are refused unread: their
    // offsets would wrap in 32 bits.
    image.stride = 0x80000000u;
    EXPECT_EQ(-1, diXIconMaskedColor(&image, nullptr, &out));
    mask.buf.stride = 0x80000000u;
    EXPECT_EQ(-1, diXIconMaskedColor(&image, &mask.buf, &out));
    EXPECT_EQ(-1, diXIconAndMask(&mask.buf, 3, 2, &out));
}

} // namespace
