// Draws the shell icon of each shortcut named on the command line on white
// in a window of its own, writes the window as a BMP and prints, per
// shortcut, the colours of the icon's upper half and of its lower half
// (away from the corner where the shell may put its link arrow).
// Usage: lnk_icons.exe OUT.bmp LINK...
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "support/winshot.h"

#include <stdio.h>

#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    CoInitialize(nullptr);
    const int cell = 48, n = argc - 2;
    HWND wnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"icons", WS_POPUP | WS_VISIBLE, 0, 0,
                               cell * n + 16, cell + 16, nullptr, nullptr, nullptr, nullptr);
    if (!wnd) return 3;
    /* The shell's icon of each link, drawn from the shell's own image list
     * as the shell draws it (Wine hands the SHGFI_ICON copy out as 32 bits
     * with every alpha 0, which its DrawIconEx takes as fully transparent). */
    std::vector<HIMAGELIST> lists;
    std::vector<int> indexes;
    for (int i = 0; i < n; i++) {
        SHFILEINFOW info = {};
        lists.push_back(reinterpret_cast<HIMAGELIST>(
            SHGetFileInfoW(argv[i + 2], 0, &info, sizeof info, SHGFI_SYSICONINDEX)));
        indexes.push_back(info.iIcon);
    }
    /* Drawn until the screen shows it: the window may be mapped late. */
    std::vector<uint32_t> pixels;
    RECT area = {0, 0, cell * n + 16, cell + 16};
    int width = area.right;
    for (int attempt = 0; attempt < 50; attempt++) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        /* Drawn off screen, then shown: Wine blends the list's 32-bit
         * images only into device-independent bitmaps. */
        HDC dc = GetDC(wnd);
        HDC mem = CreateCompatibleDC(dc);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = area.right;
        bi.bmiHeader.biHeight = area.bottom;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, dib);
        RECT all = {0, 0, area.right, area.bottom};
        FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        for (int i = 0; i < n; i++)
            if (lists[i] && indexes[i] >= 0)
                ImageList_Draw(lists[i], indexes[i], mem, 8 + cell * i, 8, ILD_NORMAL);
        BitBlt(dc, 0, 0, area.right, area.bottom, mem, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(mem, old);
        DeleteObject(dib);
        DeleteDC(mem);
        ReleaseDC(wnd, dc);
        writeScreenshot(argv[1], area, &pixels);
        /* Rows are bottom-up: the frame's corner pixel is white once drawn. */
        if (pixels[size_t(area.bottom - 1) * size_t(width)] == 0xFFFFFF) break;
        Sleep(100);
    }
    auto at = [&](int x, int y) { return pixels[size_t(area.bottom - 1 - y) * size_t(width) + x]; };
    for (int i = 0; i < n; i++)
        printf("%06x %06x\n", unsigned(at(8 + cell * i + 24, 8 + 6)),
               unsigned(at(8 + cell * i + 24, 8 + 26)));
    DestroyWindow(wnd);
    return 0;
}
