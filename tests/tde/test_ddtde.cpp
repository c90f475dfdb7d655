// The terminal engine's Windows drawing operations on a real device
// context: soft-font strips.
#include <gtest/gtest.h>

#include "tde/ddtde.h"
#include "ui/ddgdi.h"

#include <stdlib.h>

namespace {

struct MemoryDC {
    HDC dc = CreateCompatibleDC(nullptr);
    uint32_t* px = nullptr;
    HBITMAP bmp;
    DdGC* gc = ddGDICreateGC();
    MemoryDC() {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&px), nullptr, 0);
        SelectObject(dc, bmp);
        PatBlt(dc, 0, 0, 64, 32, BLACKNESS);
        ddGDIAttach(gc, nullptr, dc);
    }
    ~MemoryDC() {
        ddGDIDetach(gc);
        ddGDIFreeGC(gc);
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    uint32_t at(int x, int y) {
        GdiFlush();
        return px[y * 64 + x] & 0xFFFFFF; // 0x00RRGGBB
    }
};

void define(void* strip, uint32_t code, uint8_t row, int height) {
    std::vector<uint8_t> rows(size_t(height), row);
    uint32_t stride = 0;
    uint8_t* bits = diTDGlyphRowsToBits(8, height, rows.data(), &stride);
    g_ddTDOps.putGlyph(strip, 8, 16, code, 8, height, bits);
    free(bits);
}

TEST(DdTDStrips, ARedefinedGlyphReplacesTheOldOneAndHalvesCopyTheirHalf) {
    MemoryDC m;
    void* strip = g_ddTDOps.createStrip(m.gc, 256 * 8, 16);
    ASSERT_NE(strip, nullptr);
    define(strip, 65, 0x01, 16); // leftmost pixel of every row
    define(strip, 65, 0x80, 16); // the same code again: rightmost pixel only
    define(strip, 66, 0xFF, 8);  // 8 rows stretched over the 16 of the cell
    const uint32_t red = 0x0000FF, white = 0xFFFFFF;
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 65, 0, 0, 0, red, white);
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 66, 16, 0, DI_TD_UPPER_HALF, red, white);
    g_ddTDOps.copyGlyph(m.gc, strip, 8, 16, 66, 32, 0, DI_TD_LOWER_HALF, red, white);
    struct Px {
        int x, y;
        uint32_t want;
    };
    const Px table[] = {
        {0, 0, 0xFFFFFF},  {0, 15, 0xFFFFFF}, {7, 0, 0xFF0000}, {7, 15, 0xFF0000}, {3, 8, 0xFFFFFF},
        {16, 0, 0xFF0000}, {23, 7, 0xFF0000}, {16, 8, 0},       {32, 0, 0xFF0000}, {32, 8, 0},
    };
    for (const Px& p : table)
        EXPECT_EQ(m.at(p.x, p.y), p.want) << p.x << "," << p.y;
    g_ddTDOps.freeStrip(strip);
}

} // namespace
