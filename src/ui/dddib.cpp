/* Device-independent bitmaps on Windows. */
#include "ui/dddib.h"

#include "ui/dibutil.h"

#include <string.h>

/* A packed DIB made here stays below this size (header, colours, rows). */
static const uint64_t kMaxDIBBytes = 256u * 1024 * 1024;

HGLOBAL ddDIBFromBitmap(HBITMAP bitmap, HPALETTE palette) {
    BITMAP bm;
    if (!bitmap || GetObjectW(bitmap, sizeof(bm), &bm) != sizeof(bm)) return nullptr;
    uint32_t depth = diDIBDepthFor(static_cast<uint32_t>(bm.bmPlanes) * bm.bmBitsPixel);
    uint64_t computed = diDIBImageBytes(depth, bm.bmWidth, bm.bmHeight);
    if (computed == 0) return nullptr;
    uint32_t colourBytes = diDIBColourEntries(depth, 0) * sizeof(RGBQUAD);

    BITMAPINFOHEADER bi;
    memset(&bi, 0, sizeof(bi));
    bi.biSize = sizeof(bi);
    bi.biWidth = bm.bmWidth;
    bi.biHeight = bm.bmHeight;
    bi.biPlanes = 1;
    bi.biBitCount = static_cast<WORD>(depth);
    bi.biCompression = BI_RGB;

    if (!palette) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    HDC screen = GetDC(nullptr);
    if (!screen) return nullptr;
    HPALETTE oldPalette = SelectPalette(screen, palette, FALSE);
    RealizePalette(screen);

    HGLOBAL block = GlobalAlloc(GHND, sizeof(bi) + colourBytes);
    bool ok = false;
    if (block) {
        BITMAPINFOHEADER* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
        if (h) {
            *h = bi;
            ok = GetDIBits(screen, bitmap, 0, bm.bmHeight, nullptr,
                           reinterpret_cast<BITMAPINFO*>(h), DIB_RGB_COLORS) != 0;
            /* The rows must fit what GetDIBits writes, whatever it reports. */
            uint64_t image = h->biSizeImage > computed ? h->biSizeImage : computed;
            h->biSizeImage = static_cast<DWORD>(computed);
            GlobalUnlock(block);
            uint64_t total = sizeof(bi) + colourBytes + image;
            if (ok && total > kMaxDIBBytes) ok = false;
            HGLOBAL grown =
                ok ? GlobalReAlloc(block, static_cast<SIZE_T>(total), GMEM_MOVEABLE) : nullptr;
            ok = grown != nullptr;
            if (grown) block = grown;
        }
    }
    if (ok) {
        BYTE* p = static_cast<BYTE*>(GlobalLock(block));
        ok = p && GetDIBits(screen, bitmap, 0, bm.bmHeight, p + sizeof(bi) + colourBytes,
                            reinterpret_cast<BITMAPINFO*>(p), DIB_RGB_COLORS) != 0;
        if (p) GlobalUnlock(block);
    }
    if (!ok && block) {
        GlobalFree(block);
        block = nullptr;
    }
    if (oldPalette) SelectPalette(screen, oldPalette, TRUE);
    RealizePalette(screen);
    ReleaseDC(nullptr, screen);
    return block;
}

int ddDIBFree(HGLOBAL dib) {
    if (dib) GlobalFree(dib);
    return 0;
}

/* Copies the part of the picture that falls into `band`. */
static bool ddDIBDrawBand(HDC printer, const DiDIBRect& picture, const DiDIBRect& band,
                          const DiDIBInfo& info, const BYTE* dib) {
    int32_t rows = info.height < 0 ? -info.height : info.height;
    DiDIBRect dest, src;
    if (!diDIBBandSource(&picture, &band, info.width, rows, &dest, &src)) return true;
    /* Rows of a bottom-up DIB are counted from the bottom. */
    int srcY = info.height > 0 ? rows - src.bottom : src.top;
    return StretchDIBits(printer, dest.left, dest.top, dest.right - dest.left,
                         dest.bottom - dest.top, src.left, srcY, src.right - src.left,
                         src.bottom - src.top, dib + info.bitsOffset,
                         reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY) > 0;
}

int ddDIBPrint(HDC printer, HGLOBAL dib, uint32_t mode, int32_t factorX, int32_t factorY,
               const wchar_t* docName) {
    if (!dib) return DD_DIB_PRINT_NO_DIB;
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(dib));
    if (!p) return DD_DIB_PRINT_LOCK_FAILED;
    DiDIBInfo info;
    if (diDIBParse(p, GlobalSize(dib), &info) != 0) {
        GlobalUnlock(dib);
        return DD_DIB_PRINT_NO_DIB;
    }
    int32_t rows = info.height < 0 ? -info.height : info.height;

    DiDIBPrintDevice dev;
    dev.printerDpiX = GetDeviceCaps(printer, LOGPIXELSX);
    dev.printerDpiY = GetDeviceCaps(printer, LOGPIXELSY);
    dev.pageWidth = GetDeviceCaps(printer, HORZRES);
    dev.pageHeight = GetDeviceCaps(printer, VERTRES);
    HDC screen = GetDC(nullptr);
    dev.screenDpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    dev.screenDpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    int32_t width, height;
    if (diDIBPrintSize(mode, info.width, rows, &dev, factorX, factorY, &width, &height) != 0) {
        GlobalUnlock(dib);
        return DD_DIB_PRINT_STRETCH_FAILED;
    }
    SetStretchBltMode(printer, COLORONCOLOR);

    DOCINFOW doc;
    memset(&doc, 0, sizeof(doc));
    doc.cbSize = sizeof(doc);
    doc.lpszDocName = docName ? docName : L"Bitmap";
    int result = DD_DIB_PRINT_OK;
    if (StartDocW(printer, &doc) <= 0) {
        result = DD_DIB_PRINT_STARTDOC_FAILED;
    } else if (StartPage(printer) <= 0) {
        result = DD_DIB_PRINT_STARTPAGE_FAILED;
        AbortDoc(printer);
    } else {
        /* The whole page is one band; the picture may be larger than it. */
        DiDIBRect picture = {0, 0, width, height};
        DiDIBRect page = {0, 0, dev.pageWidth > 0 ? dev.pageWidth : width,
                          dev.pageHeight > 0 ? dev.pageHeight : height};
        if (!ddDIBDrawBand(printer, picture, page, info, p)) {
            result = DD_DIB_PRINT_STRETCH_FAILED;
            AbortDoc(printer);
        } else if (EndPage(printer) <= 0) {
            result = DD_DIB_PRINT_ENDPAGE_FAILED;
            AbortDoc(printer);
        } else if (EndDoc(printer) <= 0) {
            result = DD_DIB_PRINT_ENDDOC_FAILED;
        }
    }
    GlobalUnlock(dib);
    return result;
}
