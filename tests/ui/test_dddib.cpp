// Packed DIBs made from bitmaps, and the refusals of the print path.
#include <gtest/gtest.h>

#include "ui/dddib.h"
#include "ui/dibutil.h"

namespace {

TEST(Dib, BitmapBecomesAPackedDibOfTheMappedDepth) {
    // A 32-bit bitmap becomes 24 bits; a monochrome one keeps 1 bit and two
    // colours.
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 5;
    bi.bmiHeader.biHeight = -3;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(colour, nullptr);
    uint32_t* px = static_cast<uint32_t*>(bits);
    for (int i = 0; i < 15; i++)
        px[i] = 0x102030;
    px[0] = 0xFF0000; // top-left

    HGLOBAL dib = ddDIBFromBitmap(colour, nullptr);
    ASSERT_NE(dib, nullptr);
    const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(dib));
    DiDIBInfo info;
    ASSERT_EQ(diDIBParse(p, GlobalSize(dib), &info), 0);
    EXPECT_EQ(info.bitCount, 24u);
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.bitsOffset, 40u);
    // Rows are bottom-up: the top-left pixel starts the last row.
    const uint8_t* top = p + info.bitsOffset + 2 * 16;
    EXPECT_EQ(top[0], 0x00);
    EXPECT_EQ(top[2], 0xFF);
    EXPECT_EQ(p[info.bitsOffset + 0], 0x30);
    GlobalUnlock(dib);
    EXPECT_EQ(ddDIBFree(dib), 0);
    DeleteObject(colour);

    uint8_t mono[4] = {0x80, 0, 0, 0};
    HBITMAP m = CreateBitmap(9, 2, 1, 1, mono);
    dib = ddDIBFromBitmap(m, nullptr);
    ASSERT_NE(dib, nullptr);
    p = static_cast<const uint8_t*>(GlobalLock(dib));
    ASSERT_EQ(diDIBParse(p, GlobalSize(dib), &info), 0);
    EXPECT_EQ(info.bitCount, 1u);
    EXPECT_EQ(info.colourEntries, 2u);
    EXPECT_EQ(info.bitsOffset, 48u);
    GlobalUnlock(dib);
    ddDIBFree(dib);
    DeleteObject(m);

    EXPECT_EQ(ddDIBFromBitmap(nullptr, nullptr), nullptr);
}

TEST(Dib, PrintRefusesBlocksThatHoldNoWholeDib) {
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(ddDIBPrint(dc, nullptr, 1, 0, 0), DD_DIB_PRINT_NO_DIB);

    // A header that claims more rows than the block holds.
    HGLOBAL small = GlobalAlloc(GHND, 64);
    BITMAPINFOHEADER* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(small));
    h->biSize = 40;
    h->biWidth = 30000;
    h->biHeight = 30000;
    h->biPlanes = 1;
    h->biBitCount = 32;
    GlobalUnlock(small);
    EXPECT_EQ(ddDIBPrint(dc, small, 1, 0, 0), DD_DIB_PRINT_NO_DIB);
    GlobalFree(small);

    // A good DIB on a device that is no printer fails at the document start.
    HGLOBAL good = GlobalAlloc(GHND, 40 + 8);
    h = static_cast<BITMAPINFOHEADER*>(GlobalLock(good));
    h->biSize = 40;
    h->biWidth = 2;
    h->biHeight = 1;
    h->biPlanes = 1;
    h->biBitCount = 24;
    GlobalUnlock(good);
    EXPECT_EQ(ddDIBPrint(dc, good, 1, 0, 0), DD_DIB_PRINT_STARTDOC_FAILED);
    EXPECT_EQ(ddDIBPrint(dc, good, 3, 0, 1), DD_DIB_PRINT_STRETCH_FAILED);
    GlobalFree(good);
    DeleteDC(dc);
}

} // namespace
