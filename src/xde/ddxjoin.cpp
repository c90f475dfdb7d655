/* Where the pure bit helpers join the Windows side. */
#include "xde/ddxde.h"
#include "xde/dixbits.h"
#include "xde/dixde.h"

#include <string.h>
#include <vector>

/* A 1-bit cursor's planes at the system cursor size. The request carried
 * the mask and the source as height rows of (width + 7) / 8 bytes each.
 * 32-bit cursors are made by ddXCursorFromARGB. */
int ddXCursorPlanes(const DiXCursor* cursor, const uint8_t* mask, const uint8_t* source,
                    int32_t cx, int32_t cy, uint8_t* andPlane, uint8_t* xorPlane) {
    if (!cursor || cursor->depth == 32 || cx <= 0 || cy <= 0) return -1;
    size_t length = size_t((uint64_t(cursor->width) + 7) / 8 * cursor->height);
    std::vector<uint8_t> a, x;
    if (diXCursorPlanes(mask, source, length, cursor->width, cursor->height, uint32_t(cx),
                        uint32_t(cy), &a, &x) != 0)
        return -1;
    size_t plane = size_t(diXMonoStride(uint32_t(cx))) * size_t(cy);
    if (a.size() != plane || x.size() != plane) return -1;
    memcpy(andPlane, a.data(), plane);
    memcpy(xorPlane, x.data(), plane);
    return 0;
}

HCURSOR ddXCursorFromPlanes(const DiXCursor* cursor, int32_t cx, int32_t cy,
                            const uint8_t* andPlane, const uint8_t* xorPlane) {
    HBITMAP andBits = CreateBitmap(cx, cy, 1, 1, andPlane);
    HBITMAP xorBits = CreateBitmap(cx, cy, 1, 1, xorPlane);
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateCompatibleBitmap(screen, cx, cy);
    HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
    HCURSOR made = nullptr;
    if (andBits && xorBits && colour && src && dst) {
        /* A monochrome source turns into the destination's text colour
         * where its bit is clear and its background colour where set. */
        HGDIOBJ oldSrc = SelectObject(src, xorBits), oldDst = SelectObject(dst, colour);
        SetTextColor(dst, cursor->foreground & 0xFFFFFF);
        SetBkColor(dst, cursor->background & 0xFFFFFF);
        BitBlt(dst, 0, 0, cx, cy, src, 0, 0, SRCCOPY);
        SelectObject(src, andBits);
        SetTextColor(dst, RGB(255, 255, 255));
        SetBkColor(dst, RGB(0, 0, 0));
        BitBlt(dst, 0, 0, cx, cy, src, 0, 0, SRCAND);
        SelectObject(src, oldSrc);
        SelectObject(dst, oldDst);
        ICONINFO ii{};
        ii.fIcon = FALSE;
        ii.xHotspot = cursor->hotX < uint32_t(cx) ? cursor->hotX : uint32_t(cx - 1);
        ii.yHotspot = cursor->hotY < uint32_t(cy) ? cursor->hotY : uint32_t(cy - 1);
        ii.hbmMask = andBits;
        ii.hbmColor = colour;
        made = reinterpret_cast<HCURSOR>(CreateIconIndirect(&ii));
    }
    if (src) DeleteDC(src);
    if (dst) DeleteDC(dst);
    ReleaseDC(nullptr, screen);
    /* CreateIconIndirect copies the bitmaps. */
    for (HBITMAP b : {andBits, xorBits, colour})
        if (b) DeleteObject(b);
    return made;
}

HCURSOR ddXCursorFromARGB(const DiXCursor* cursor, const uint8_t* pixels) {
    if (!cursor || !pixels) return nullptr;
    const uint32_t w = cursor->width, h = cursor->height;
    const size_t count = size_t(uint64_t(w) * h);
    if (count == 0 || count > DI_XBITS_MAX_PIXELS) return nullptr;
    std::vector<uint32_t> argb(count), bottomUp;
    std::vector<uint8_t> mask;
    memcpy(argb.data(), pixels, count * 4); // the request's bytes need not be aligned
    if (diXArgbCursorBits(argb.data(), count, w, h, &bottomUp, &mask) != 0) return nullptr;

    BITMAPV5HEADER bi{};
    bi.bV5Size = sizeof bi;
    bi.bV5Width = LONG(w);
    bi.bV5Height = LONG(h); // positive: bottom-up rows, as diXArgbCursorBits turned them
    bi.bV5Planes = 1;
    bi.bV5BitCount = 32;
    bi.bV5Compression = BI_BITFIELDS;
    bi.bV5RedMask = 0x00FF0000;
    bi.bV5GreenMask = 0x0000FF00;
    bi.bV5BlueMask = 0x000000FF;
    bi.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS,
                                     &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    /* The mask rows are padded to 16 bits, as monochrome bitmaps want them
     * whatever the width. */
    HBITMAP maskBitmap = CreateBitmap(int(w), int(h), 1, 1, mask.data());
    HCURSOR made = nullptr;
    if (color && bits && maskBitmap) {
        memcpy(bits, bottomUp.data(), count * 4);
        GdiFlush();
        ICONINFO ii{};
        ii.fIcon = FALSE;
        ii.xHotspot = cursor->hotX < w ? cursor->hotX : w - 1;
        ii.yHotspot = cursor->hotY < h ? cursor->hotY : h - 1;
        ii.hbmMask = maskBitmap;
        ii.hbmColor = color;
        made = reinterpret_cast<HCURSOR>(CreateIconIndirect(&ii));
    }
    /* CreateIconIndirect copies both bitmaps. */
    if (color) DeleteObject(color);
    if (maskBitmap) DeleteObject(maskBitmap);
    return made;
}
