/* Packed DIB checks and print geometry (portable). */
#include "ui/dibutil.h"

#include <string.h>

namespace {

/* Little-endian reads through one bounds-checked cursor with a sticky
 * error: after the first short read every read gives 0. */
struct DibCursor {
    const uint8_t* p;
    uint64_t left;
    bool failed;

    uint32_t u(int n) {
        if (failed || left < static_cast<uint64_t>(n)) {
            failed = true;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < n; i++)
            v |= static_cast<uint32_t>(p[i]) << (8 * i);
        p += n;
        left -= n;
        return v;
    }
};

} // namespace

uint32_t diDIBColourEntries(uint32_t bitCount, uint32_t clrUsed) {
    if (clrUsed) return clrUsed;
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

uint64_t diDIBImageBytes(uint32_t bitCount, int64_t width, int64_t height) {
    if (width <= 0 || width > DI_DIB_MAX_SIDE || height <= 0 || height > DI_DIB_MAX_SIDE ||
        bitCount == 0 || bitCount > 32)
        return 0;
    uint64_t stride = (static_cast<uint64_t>(bitCount) * width + 31) / 32 * 4;
    return stride * static_cast<uint64_t>(height);
}

uint32_t diDIBDepthFor(uint32_t planesTimesBits) {
    if (planesTimesBits <= 1) return 1;
    if (planesTimesBits <= 4) return 4;
    if (planesTimesBits <= 8) return 8;
    return 24;
}

int diDIBParse(const uint8_t* bytes, uint64_t length, DiDIBInfo* out) {
    memset(out, 0, sizeof(*out));
    if (!bytes) return -1;
    DibCursor c = {bytes, length, false};
    uint32_t headerSize = c.u(4);
    int32_t width, height;
    uint32_t planes, bitCount, compression = 0, clrUsed = 0;
    uint32_t entryBytes = 4;
    if (headerSize == 12) {
        width = static_cast<int32_t>(c.u(2)); /* unsigned in this header */
        height = static_cast<int32_t>(c.u(2));
        planes = c.u(2);
        bitCount = c.u(2);
        entryBytes = 3;
    } else if (headerSize >= 40 && headerSize <= 124) {
        width = static_cast<int32_t>(c.u(4));
        height = static_cast<int32_t>(c.u(4));
        planes = c.u(2);
        bitCount = c.u(2);
        compression = c.u(4);
        c.u(4); /* image size: recomputed, never trusted */
        c.u(4);
        c.u(4);
        clrUsed = c.u(4);
    } else {
        return -1;
    }
    if (c.failed || planes != 1) return -1;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return -1;
    if (compression != 0 && !(compression == 3 && (bitCount == 16 || bitCount == 32))) return -1;
    if (clrUsed > 256 || (bitCount <= 8 && clrUsed > (1u << bitCount))) return -1;
    int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    uint64_t image = diDIBImageBytes(bitCount, width, rows);
    if (image == 0) return -1;
    uint64_t colours = static_cast<uint64_t>(diDIBColourEntries(bitCount, clrUsed)) * entryBytes;
    /* Bit-field masks follow a 40-byte header; larger headers hold them. */
    if (compression == 3 && headerSize == 40) colours += 12;
    uint64_t total = headerSize + colours + image;
    if (total > length) return -1;
    out->headerSize = headerSize;
    out->width = width;
    out->height = height;
    out->bitCount = bitCount;
    out->compression = compression;
    out->colourEntries = diDIBColourEntries(bitCount, clrUsed);
    out->colourBytes = static_cast<uint32_t>(colours);
    out->bitsOffset = static_cast<uint32_t>(headerSize + colours);
    out->imageSize = static_cast<uint32_t>(image);
    return 0;
}

static bool diDIBFits(double v) {
    return v >= 1.0 && v <= 2147483647.0;
}

int diDIBPrintSize(uint32_t mode, int32_t dibWidth, int32_t dibHeight, const DiDIBPrintDevice* dev,
                   int32_t factorX, int32_t factorY, int32_t* outWidth, int32_t* outHeight) {
    *outWidth = *outHeight = 0;
    if (dibWidth <= 0 || dibHeight <= 0) return -1;
    double w, h;
    switch (mode) {
    case DI_DIB_PRINT_ACTUAL:
        if (dev->screenDpiX <= 0 || dev->screenDpiY <= 0) return -1;
        w = static_cast<double>(static_cast<int64_t>(dev->printerDpiX) * dibWidth /
                                dev->screenDpiX);
        h = static_cast<double>(static_cast<int64_t>(dev->printerDpiY) * dibHeight /
                                dev->screenDpiY);
        break;
    case DI_DIB_PRINT_BEST_FIT: {
        if (dev->printerDpiX <= 0 || dev->printerDpiY <= 0 || dev->pageWidth <= 0 ||
            dev->pageHeight <= 0)
            return -1;
        /* A page-wide picture keeps its shape on a printer whose pixels may
         * not be square; when that is taller than the page, the page height
         * decides instead. */
        double num = static_cast<double>(dibHeight) * dev->printerDpiY;
        double den = static_cast<double>(dibWidth) * dev->printerDpiX;
        w = dev->pageWidth;
        h = static_cast<double>(static_cast<int64_t>(w * num / den));
        if (h > dev->pageHeight) {
            h = dev->pageHeight;
            w = static_cast<double>(static_cast<int64_t>(h * den / num));
        }
        break;
    }
    case DI_DIB_PRINT_STRETCH:
        w = dev->pageWidth;
        h = dev->pageHeight;
        break;
    case DI_DIB_PRINT_CUSTOM:
        w = static_cast<double>(static_cast<int64_t>(factorX) * dibWidth);
        h = static_cast<double>(static_cast<int64_t>(factorY) * dibHeight);
        break;
    default:
        return -1;
    }
    if (!diDIBFits(w) || !diDIBFits(h)) return -1;
    *outWidth = static_cast<int32_t>(w);
    *outHeight = static_cast<int32_t>(h);
    return 0;
}

bool diDIBBandSource(const DiDIBRect* picture, const DiDIBRect* band, int32_t dibWidth,
                     int32_t dibHeight, DiDIBRect* dest, DiDIBRect* source) {
    int64_t pw = static_cast<int64_t>(picture->right) - picture->left;
    int64_t ph = static_cast<int64_t>(picture->bottom) - picture->top;
    if (pw <= 0 || ph <= 0 || dibWidth <= 0 || dibHeight <= 0) return false;
    DiDIBRect v;
    v.left = picture->left > band->left ? picture->left : band->left;
    v.top = picture->top > band->top ? picture->top : band->top;
    v.right = picture->right < band->right ? picture->right : band->right;
    v.bottom = picture->bottom < band->bottom ? picture->bottom : band->bottom;
    if (v.left >= v.right || v.top >= v.bottom) return false;
    double sx = static_cast<double>(pw) / dibWidth;
    double sy = static_cast<double>(ph) / dibHeight;
    double x0 = (static_cast<double>(v.left) - picture->left) / sx + 0.5;
    double y0 = (static_cast<double>(v.top) - picture->top) / sy + 0.5;
    *dest = v;
    source->left = static_cast<int32_t>(x0);
    source->top = static_cast<int32_t>(y0);
    source->right =
        static_cast<int32_t>(source->left + (static_cast<double>(v.right) - v.left) / sx + 0.5);
    source->bottom =
        static_cast<int32_t>(source->top + (static_cast<double>(v.bottom) - v.top) / sy + 0.5);
    return true;
}
