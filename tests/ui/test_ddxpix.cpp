// The X display's bitmap headers make DIB sections whose pixels mean what
// the frame buffer writes: 5-6-5 at depth 16, bottom-up rows, blue first.
#include <gtest/gtest.h>

#include "ui/ddxpix.h"

namespace {

TEST(XBitmapInfo, DibSectionsReadAsTheFrameBufferWrites) {
    const struct {
        int32_t depth;
        uint32_t bytesPerPixel;
        uint32_t pixel; // little-endian bytes of one pixel
        COLORREF want;
    } cases[] = {
        {16, 2, 0xF800, RGB(255, 0, 0)},   {16, 2, 0x07E0, RGB(0, 255, 0)},
        {16, 2, 0x001F, RGB(0, 0, 255)},   {24, 3, 0x0000FF, RGB(0, 0, 255)},
        {24, 3, 0xFF0000, RGB(255, 0, 0)}, {32, 4, 0x00FF00, RGB(0, 255, 0)},
    };
    HDC screen = GetDC(nullptr);
    for (auto c : cases) {
        DdXBitmapInfo info;
        ASSERT_EQ(0, ddXPixmapSetBitmapInfo(&info, 3, 2, c.depth));
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(screen, info.get(), DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(nullptr, dib) << c.depth;
        // The pixel goes to x 1 of the first row in memory: the bottom row.
        uint8_t* p = static_cast<uint8_t*>(bits) + c.bytesPerPixel;
        for (uint32_t i = 0; i < c.bytesPerPixel; i++)
            p[i] = uint8_t(c.pixel >> (8 * i));
        HDC dc = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(dc, dib);
        GdiFlush();
        EXPECT_EQ(c.want, GetPixel(dc, 1, 1)) << c.depth << " " << c.pixel;
        EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 1, 0)) << c.depth;
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(dib);
    }
    ReleaseDC(nullptr, screen);
    DdXBitmapInfo info;
    EXPECT_EQ(-1, ddXPixmapSetBitmapInfo(&info, 3, 2, 15));
    EXPECT_EQ(-1, ddXPixmapSetBitmapInfo(&info, 3, 2, 1));
}

} // namespace
