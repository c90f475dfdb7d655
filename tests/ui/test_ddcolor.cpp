// Device colour maps: the logical palette follows the entry table, and the
// static colours keep their system positions (read back with
// GetPaletteEntries; the program also runs on an 8-bit palette screen).
#include <gtest/gtest.h>

#include "ui/ddcolor.h"

#include <vector>

namespace {

uint32_t rgbOf(const PALETTEENTRY& e) {
    return e.peRed | e.peGreen << 8 | e.peBlue << 16;
}

std::vector<PALETTEENTRY> paletteOf(const DdColorMap* map) {
    std::vector<PALETTEENTRY> e(256);
    EXPECT_EQ(GetPaletteEntries(ddColorMapPalette(map), 0, 256, e.data()), 256u);
    return e;
}

// The static colours the screen reserves: its system palette on a palette
// screen, else the stock default palette's twenty.
std::vector<PALETTEENTRY> screenStatics(int* reserved) {
    std::vector<PALETTEENTRY> sys(256);
    HDC dc = GetDC(nullptr);
    bool palette = (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0;
    *reserved = GetDeviceCaps(dc, NUMRESERVED);
    if (palette) {
        EXPECT_EQ(GetSystemPaletteEntries(dc, 0, 256, sys.data()), 256u);
    } else {
        PALETTEENTRY stock[20];
        GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, stock);
        for (int i = 0; i < 10; i++) {
            sys[i] = stock[i];
            sys[246 + i] = stock[10 + i];
        }
        *reserved = 20;
    }
    ReleaseDC(nullptr, dc);
    return sys;
}

TEST(ColorMap, DepthEightReservesTheScreensStaticColoursBeforeTheCube) {
    int reserved = 0;
    std::vector<PALETTEENTRY> sys = screenStatics(&reserved);
    ASSERT_GT(reserved, 0);
    int half = reserved / 2;
    DdColorMap* map = ddColorMapCreate(8, -1, -1);
    ASSERT_NE(map, nullptr);
    std::vector<PALETTEENTRY> pal = paletteOf(map);
    // The entry index goes with each message rather than through
    // SCOPED_TRACE: under Wine the first trace of a thread starts a helper
    // thread of the test framework, and a process that exits while such a
    // thread is still starting dies with a segmentation fault.
    for (int i = 0; i < 256; i++) {
        bool fixed = i < half || i >= 256 - half;
        if (fixed) {
            EXPECT_EQ(rgbOf(pal[i]), rgbOf(sys[i])) << i;
            EXPECT_EQ(pal[i].peFlags, 0) << i;
            EXPECT_EQ(map->entries[i].flags, 9u) << i;
        } else {
            EXPECT_EQ(pal[i].peFlags, PC_NOCOLLAPSE) << i;
        }
    }
    // The cube shares the static colours it finds exactly: black and white.
    EXPECT_EQ(map->cubeSize, 6);
    EXPECT_EQ(map->tolerance, 11);
    EXPECT_EQ(map->cube[0], 0u);
    EXPECT_EQ(map->cube[215], 255u);
    EXPECT_EQ(rgbOf(pal[map->cube[1]]), 51u); // red 51
    ddColorMapDestroy(map);
}

TEST(ColorMap, StaticColoursComeFromBothEndsOfTheSystemPalette) {
    struct {
        int32_t reserved;
        int atStart;
    } cases[] = {{20, 10}, {2, 1}, {1, 0}, {0, 0}, {-4, 0}, {300, 128}};
    for (auto& c : cases) {
        static int32_t s_reserved;
        s_reserved = c.reserved;
        ddColorSetSystemPaletteSource([](PALETTEENTRY e[256], int32_t* reserved) {
            for (int i = 0; i < 256; i++)
                e[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, 0};
            *reserved = s_reserved;
            return 0;
        });
        DdColorMap* map = ddColorMapCreate(8, 0, -1);
        ddColorSetSystemPaletteSource(nullptr);
        ASSERT_NE(map, nullptr);
        std::vector<PALETTEENTRY> pal = paletteOf(map);
        int h = c.atStart;
        for (int i = 0; i < 256; i++) {
            bool fixed = i < h || i >= 256 - h;
            EXPECT_EQ(map->entries[i].flags, fixed ? 9u : 0u) << c.reserved << " " << i;
            if (fixed) {
                EXPECT_EQ(rgbOf(pal[i]), static_cast<uint32_t>(i | (255 - i) << 8 | 7 << 16));
            }
        }
        EXPECT_EQ(map->freeCount, 256 - 2 * h);
        ddColorMapDestroy(map);
    }
}

TEST(ColorMap, SixteenColourScreensUseTheFixedTable) {
    DdColorMap* map = ddColorMapCreate(4, -1, -1);
    ASSERT_NE(map, nullptr);
    const uint32_t want[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                               0x808000, 0x808080, 0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF,
                               0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    std::vector<PALETTEENTRY> pal = paletteOf(map);
    for (int i = 0; i < 16; i++) {
        int at = i < 8 ? i : 240 + i;
        EXPECT_EQ(rgbOf(pal[at]), want[i]) << at;
        EXPECT_EQ(pal[at].peFlags, 0) << at;
    }
    EXPECT_EQ(map->freeCount, 0);
    ddColorMapDestroy(map);
}

TEST(ColorMap, TrueColourMapsHaveNoReservedEntriesAndNoCube) {
    DdColorMap* map = ddColorMapCreate(24, -1, -1);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->freeCount, 256);
    EXPECT_EQ(map->cubeSize, 0);
    EXPECT_EQ(map->tolerance, 0);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(map->entries[i].flags, 0u);
    EXPECT_EQ(ddColorMapCell(map, 255), &map->cells[255]);
    EXPECT_EQ(ddColorMapCell(map, 256), nullptr);
    EXPECT_EQ(ddColorPixel(77), 77u);
    ddColorMapDestroy(map);
    EXPECT_EQ(ddColorMapCreate(7, -1, -1), nullptr);
}

TEST(ColorMap, PaletteAndDibColourTableFollowAllocations) {
    DdColorMap* map = ddColorMapCreate(24, -1, -1);
    ASSERT_NE(map, nullptr);
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[256];
    } bi = {};
    bi.h.biSize = sizeof(bi.h);
    bi.h.biWidth = 4;
    bi.h.biHeight = 4;
    bi.h.biPlanes = 1;
    bi.h.biBitCount = 8;
    void* bits;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib =
        CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, dib);
    ddColorMapSetDIBTarget(map, dc);

    int a = ddColorAlloc(map, 0x123456, 0, 0, DI_COLOR_SHARED);
    int b = ddColorAlloc(map, 0x654321, 5, 0, DI_COLOR_SHARED);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 5);
    DdColorCell* cell = ddColorMapCell(map, 3);
    EXPECT_EQ(ddColorAllocXColor(map, cell, 0xABCDEF), 1);
    ddColorUpdatePalette(map);

    std::vector<PALETTEENTRY> pal = paletteOf(map);
    EXPECT_EQ(rgbOf(pal[0]), 0x123456u);
    EXPECT_EQ(rgbOf(pal[5]), 0x654321u);
    EXPECT_EQ(rgbOf(pal[cell->index]), 0xABCDEFu);
    EXPECT_EQ(pal[cell->index].peFlags, PC_NOCOLLAPSE);
    RGBQUAD table[256];
    ASSERT_EQ(GetDIBColorTable(dc, 0, 256, table), 256u);
    EXPECT_EQ(table[5].rgbRed, 0x21);
    EXPECT_EQ(table[5].rgbGreen, 0x43);
    EXPECT_EQ(table[5].rgbBlue, 0x65);
    EXPECT_EQ(table[5].rgbReserved, 0);

    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
    ddColorMapDestroy(map);
}

} // namespace
