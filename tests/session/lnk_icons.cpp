// Draws the shell icon of each shortcut named on the command line on white
// in a window of its own, writes the window as a BMP and prints, per
// shortcut, the colours of the icon's upper half and of its lower half
// (away from the corner where the shell may put its link arrow).
// Usage: lnk_icons.exe OUT.bmp LINK...
#include <windows.h>
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
    std::vector<HICON> icons;
    for (int i = 0; i < n; i++) {
        SHFILEINFOW info = {};
        SHGetFileInfoW(argv[i + 2], 0, &info, sizeof info, SHGFI_ICON);
        icons.push_back(info.hIcon);
    }
    /* Drawn until the screen shows it: the window may be mapped late. */
    std::vector<uint32_t> pixels;
    RECT area = {0, 0, cell * n + 16, cell + 16};
    int width = area.right;
    for (int attempt = 0; attempt < 50; attempt++) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        HDC dc = GetDC(wnd);
        RECT all = {0, 0, area.right, area.bottom};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        for (int i = 0; i < n; i++)
            if (icons[i]) DrawIconEx(dc, 8 + cell * i, 8, icons[i], 32, 32, 0, nullptr, DI_NORMAL);
        GdiFlush();
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
