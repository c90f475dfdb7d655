/* Portable half of the device-independent bitmap helpers: reading and
 * checking a packed DIB (header, colour table, pixel rows bottom-up), and
 * the geometry of printing one. A packed DIB may come from the session, so
 * every size is checked against the bytes actually present. */
#ifndef HV_DIBUTIL_H
#define HV_DIBUTIL_H

#include "di.h"

/* Widths and heights beyond this are refused before any size is computed. */
#define DI_DIB_MAX_SIDE 32767

/* What a checked packed DIB holds. */
struct DiDIBInfo {
    uint32_t headerSize; /* 12 (core header) or 40 and more */
    int32_t width;
    int32_t height;       /* as stored: negative for top-down rows */
    uint32_t bitCount;    /* 1, 4, 8, 16, 24 or 32 */
    uint32_t compression; /* 0 plain rows, 3 bit fields (16 and 32 bits) */
    uint32_t colourEntries;
    uint32_t colourBytes; /* colour table and bit-field masks */
    uint32_t bitsOffset;  /* header + colourBytes */
    uint32_t imageSize;   /* stride * rows */
};

/* Entries of the colour table: `clrUsed` when non-zero, else 2, 16 or 256
 * for 1, 4 and 8 bits, none above. */
uint32_t diDIBColourEntries(uint32_t bitCount, uint32_t clrUsed);
/* Bytes of the rows of an image; 0 when a side is out of range. */
uint64_t diDIBImageBytes(uint32_t bitCount, int64_t width, int64_t height);
/* Depth of the DIB made from a device bitmap of planes * bits per pixel. */
uint32_t diDIBDepthFor(uint32_t planesTimesBits);

/* Checks a packed DIB of `length` bytes and describes it: 0, or -1 when the
 * header is unknown, a side or the depth is out of range, or the bytes end
 * before the colour table or the rows do. */
int diDIBParse(const uint8_t* bytes, uint64_t length, DiDIBInfo* out);

/* Printing scale modes. */
enum DiDIBPrintMode : uint32_t {
    DI_DIB_PRINT_ACTUAL = 0,
    DI_DIB_PRINT_BEST_FIT = 1,
    DI_DIB_PRINT_STRETCH = 2,
    DI_DIB_PRINT_CUSTOM = 3,
};

/* Resolutions and page of the printer, and the screen the DIB was seen on. */
struct DiDIBPrintDevice {
    int32_t printerDpiX, printerDpiY;
    int32_t screenDpiX, screenDpiY;
    int32_t pageWidth, pageHeight; /* printable area in printer pixels */
};

/* Size of the printed picture at the page's top-left corner: 0, or -1 when
 * a value is not positive or the result does not fit in 32 bits. Best fit
 * keeps the aspect ratio and fits both sides on the page. */
int diDIBPrintSize(uint32_t mode, int32_t dibWidth, int32_t dibHeight, const DiDIBPrintDevice* dev,
                   int32_t factorX, int32_t factorY, int32_t* outWidth, int32_t* outHeight);

struct DiDIBRect {
    int32_t left, top, right, bottom;
};

/* The part of a picture (the DIB stretched onto `picture`) that falls into
 * `band`: the visible destination and its source rectangle in DIB pixels,
 * counted from the top. False when nothing is visible. */
bool diDIBBandSource(const DiDIBRect* picture, const DiDIBRect* band, int32_t dibWidth,
                     int32_t dibHeight, DiDIBRect* dest, DiDIBRect* source);

#endif
