// An icon written from a GIF file, as the shell loads and draws it: where
// the mask hides a pixel, the background stays whatever it was.
#include <gtest/gtest.h>

#include "session/diximage.h"
#include "session/gif_encoder.h"

#include <windows.h>

#include <stdio.h>

#include <string>

namespace {

TEST(GifIconDrawn, MaskedPixelsKeepTheBackground) {
    char dir[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, dir));
    const std::string base = std::string(dir) + "hv_icon_" + std::to_string(GetCurrentProcessId());
    const std::string gif = base + ".gif", ico = base + ".ico";

    // Transparent index 1 is bright red: drawn unmasked it would tint the
    // background.
    GifTestFile file;
    file.width = 4;
    file.height = 2;
    file.global = {0x0000FF, 0xFF0000, 0x00FF00, 0xFFFF00};
    GifTestFrame f;
    f.width = 4;
    f.height = 2;
    f.pixels = {0, 1, 2, 3, 1, 1, 0, 2};
    f.trans = 1;
    file.frames.push_back(f);
    const std::string bytes = gifEncode(file);
    FILE* out = fopen(gif.c_str(), "wb");
    ASSERT_TRUE(out);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    CxImage img(gif, CXIMAGE_FORMAT_GIF);
    ASSERT_TRUE(img.Save(ico, CXIMAGE_FORMAT_ICO)) << img.GetLastError();

    HICON icon =
        static_cast<HICON>(LoadImageA(nullptr, ico.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    ASSERT_TRUE(icon);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 4;
    bi.bmiHeader.biHeight = -2;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_TRUE(bmp && bits);
    HGDIOBJ old = SelectObject(dc, bmp);
    const uint32_t palette[4] = {0x0000FF, 0xFF0000, 0x00FF00, 0xFFFF00};
    for (uint32_t background : {0x000000u, 0xFFFFFFu, 0x336699u}) {
        SCOPED_TRACE(background);
        uint32_t* px = static_cast<uint32_t*>(bits);
        for (int i = 0; i < 8; i++)
            px[i] = background;
        ASSERT_TRUE(DrawIconEx(dc, 0, 0, icon, 4, 2, 0, nullptr, DI_NORMAL));
        GdiFlush();
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(f.pixels[i] == 1 ? background : palette[f.pixels[i]], px[i] & 0xFFFFFF)
                << "pixel " << i;
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    DestroyIcon(icon);
    DeleteFileA(gif.c_str());
    DeleteFileA(ico.c_str());
}

} // namespace
