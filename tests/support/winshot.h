// Screenshots kept with the test output (Windows tests under Xvfb).
#ifndef HV_TESTS_WINSHOT_H
#define HV_TESTS_WINSHOT_H

#include <windows.h>

#include <stdio.h>
#include <stdint.h>
#include <string>
#include <vector>

/* Writes the screen's area (the whole screen when empty) as a 24-bit BMP; with
 * `pixels`, also keeps its rows there (bottom-up, 0xRRGGBB per pixel). */
inline bool writeScreenshot(const std::wstring& path, RECT area = RECT{0, 0, 0, 0},
                            std::vector<uint32_t>* pixels = nullptr) {
    if (area.right <= area.left || area.bottom <= area.top)
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    int w = area.right - area.left, h = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    DWORD stride = (DWORD(w) * 3 + 3) & ~3u;
    if (pixels) {
        pixels->assign(size_t(w) * size_t(h), 0);
        for (int y = 0; y < h; y++) {
            const uint8_t* row = static_cast<const uint8_t*>(bits) + size_t(stride) * size_t(y);
            for (int x = 0; x < w; x++)
                (*pixels)[size_t(y) * size_t(w) + size_t(x)] =
                    uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
        }
    }
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * DWORD(h);
    bool ok = false;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out) {
        ok = fwrite(&fh, sizeof fh, 1, out) == 1 &&
             fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, out) == 1 &&
             fwrite(bits, stride, size_t(h), out) == size_t(h);
        fclose(out);
    }
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return ok;
}

inline bool writeScreenshot(const std::wstring& path, std::vector<uint32_t>* pixels) {
    return writeScreenshot(path, RECT{0, 0, 0, 0}, pixels);
}

/* The folder of the running test program, with a final separator. */
inline std::wstring testProgramFolder() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

#endif
