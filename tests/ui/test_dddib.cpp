// Packed DIBs made from bitmaps, and the refusals of the print path.
#include <gtest/gtest.h>

#include "ui/dddib.h"
#include "ui/dibutil.h"

#include <winspool.h>

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

namespace {

// Prints a four-colour bitmap, best fit, on the printer named by
// HV_TEST_PRINTER; tests/ui/print-dib.sh starts a CUPS server with a PDF
// printer for it and checks the page. Skipped in ordinary runs.
TEST(DibPrinter, BitmapPrintedBestFitOnThePrinter) {
    wchar_t printer[128] = {};
    if (!GetEnvironmentVariableW(L"HV_TEST_PRINTER", printer, 128))
        GTEST_SKIP() << "no test printer";
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 64;
    bi.bmiHeader.biHeight = -32;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bm, nullptr);
    uint32_t* px = static_cast<uint32_t*>(bits);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++)
            px[y * 64 + x] = y < 16 ? (x < 32 ? 0xFF0000 : 0x00FF00) : (x < 32 ? 0x0000FF : 0);
    HGLOBAL dib = ddDIBFromBitmap(bm, nullptr);
    ASSERT_NE(dib, nullptr);
    // Listing the printers makes the spooler take over the system's queues.
    // The spooler is loaded here only: a process that loads it without the
    // test's print server would drop that server's printer again.
    HMODULE spooler = LoadLibraryW(L"winspool.drv");
    ASSERT_NE(spooler, nullptr);
    auto enumPrinters = reinterpret_cast<decltype(&EnumPrintersW)>(
        reinterpret_cast<void*>(GetProcAddress(spooler, "EnumPrintersW")));
    ASSERT_NE(enumPrinters, nullptr);
    DWORD needed = 0, count = 0;
    enumPrinters(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    HDC dc = CreateDCW(nullptr, printer, nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(ddDIBPrint(dc, dib, 1, 0, 0), DD_DIB_PRINT_OK);
    DeleteDC(dc);
    ddDIBFree(dib);
    DeleteObject(bm);
}

} // namespace
