/* Inside the frame-buffer renderer: pixel storage per format, row
 * addressing, clipping and the per-format routine tables. */
#ifndef HV_FBPRIV_H
#define HV_FBPRIV_H

#include "fb/fb.h"

#include <string.h>

/* Pixel storage. B is the bytes of a pixel in the buffer, DataB in image
 * data (the 32-bit layout carries 3-byte pixels in every encoding). Values
 * are little-endian; stores keep the low B bytes. */
struct FbPix8 {
    enum { B = 1, DataB = 1, Depth = 8, Bpp = 8 };
    static constexpr int Format = FB_FMT_8;
    static uint32_t load(const uint8_t* p) { return p[0]; }
    static void store(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); }
};
struct FbPix16 {
    enum { B = 2, DataB = 2, Depth = 16, Bpp = 16 };
    static constexpr int Format = FB_FMT_16;
    static uint32_t load(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
    static void store(uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
    }
};
struct FbPix24 {
    enum { B = 3, DataB = 3, Depth = 24, Bpp = 24 };
    static constexpr int Format = FB_FMT_24;
    static uint32_t load(const uint8_t* p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    static void store(uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
    }
};
struct FbPix32 {
    enum { B = 4, DataB = 3, Depth = 24, Bpp = 32 };
    static constexpr int Format = FB_FMT_32;
    static uint32_t load(const uint8_t* p) {
        uint32_t v;
        memcpy(&v, p, 4);
        return v;
    }
    static void store(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
};
/* Depth 1 as an image-put destination: the unit is one byte of 8 pixels. */
struct FbPix1 {
    enum { B = 1, DataB = 1, Depth = 1, Bpp = 1 };
    static constexpr int Format = FB_FMT_1;
    static uint32_t load(const uint8_t* p) { return p[0]; }
    static void store(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); }
};

/* Reads one pixel of image data (DataB bytes, little-endian). */
template <class P> inline uint32_t fbDataPixel(const uint8_t* p) {
    if (P::DataB == 1)
        return p[0];
    if (P::DataB == 2)
        return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

/* Start of row y (the caller has checked 0 <= y < height). */
inline uint8_t* fbRow(const FbBuffer* b, int32_t y) {
    size_t row = b->depth == 1 ? size_t(y) : size_t(b->height - 1 - y);
    return b->bits + row * b->stride;
}

inline bool fbBufferIs(const FbBuffer* b, int format) {
    return b && fbBufferFormat(b) == format;
}

/* A clipped box, ends exclusive; empty when x1 >= x2 or y1 >= y2. */
struct FbBox {
    int32_t x1, y1, x2, y2;
    bool empty() const { return x1 >= x2 || y1 >= y2; }
};
/* (x, y, w, h) in 64 bits, intersected with the buffer. */
inline FbBox fbClip(const FbBuffer* b, int64_t x, int64_t y, int64_t w, int64_t h) {
    int64_t x2 = x + w, y2 = y + h;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    if (x2 > b->width)
        x2 = b->width;
    if (y2 > b->height)
        y2 = b->height;
    if (w <= 0 || h <= 0 || x >= x2 || y >= y2)
        return FbBox{0, 0, 0, 0};
    return FbBox{int32_t(x), int32_t(y), int32_t(x2), int32_t(y2)};
}

/* Floor modulo: the tile or stipple column of a pixel, also left of or
 * above the origin. n > 0. */
inline int32_t fbMod(int64_t v, int32_t n) {
    int64_t r = v % n;
    return int32_t(r < 0 ? r + n : r);
}

inline bool fbWantsDamage(const FbGC* gc) { return (gc->damageFlags & 3) != 0; }
void fbDamageRect(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y, int32_t w,
                  int32_t h);
void fbDamageLine(void* display, FbBuffer* dst, FbGC* gc, int32_t x1, int32_t y1, int32_t x2,
                  int32_t y2);
void fbDamageBoxes(void* display, FbBuffer* dst, FbGC* gc, uint32_t count, const FbRect* boxes);

/* Reports that bad outside data was refused or cut (the log, once per kind
 * and run, so a hostile stream cannot flood it). */
void fbNoteBadInput(const char* what);

/* The routines of one format, by slot and variant (order as installed). */
enum { FB_FILL_SOLID_COPY, FB_FILL_SOLID_XOR, FB_FILL_SOLID_GENERAL, FB_FILL_TILED_COPY,
       FB_FILL_TILED_GENERAL, FB_FILL_STIPPLED_COPY, FB_FILL_STIPPLED_GENERAL,
       FB_FILL_OPAQUE_COPY, FB_FILL_OPAQUE_GENERAL, FB_FILL_VARIANTS };
enum { FB_SPANS_SOLID_COPY, FB_SPANS_SOLID_GENERAL, FB_SPANS_TILED_COPY, FB_SPANS_TILED_GENERAL,
       FB_SPANS_STIPPLED_COPY, FB_SPANS_STIPPLED_GENERAL, FB_SPANS_OPAQUE_COPY,
       FB_SPANS_OPAQUE_GENERAL, FB_SPANS_VARIANTS };
struct FbFamily {
    decltype(FbGCOps::PutImage) putImage;
    decltype(FbGCOps::PutSubImage) putSubImage;
    decltype(FbGCOps::CopyPlane) copyPlane;
    decltype(FbGCOps::PolyLine) polyLine[2]; /* copy, general */
    decltype(FbGCOps::PolySegment) polySegment[2];
    decltype(FbGCOps::PolyRectangle) polyRectangle;
    decltype(FbGCOps::PolyFillRect) polyFillRect[FB_FILL_VARIANTS];
    decltype(FbGCOps::FillSpans) fillSpans[FB_SPANS_VARIANTS];
    decltype(FbGCOps::CopyArea) copyArea[2];
    decltype(FbGCOps::PolyText8) polyText8[2];
    decltype(FbGCOps::ImageText8) imageText8[2];
};
/* Indexed by FbFormat; the depth-1 row has only the two image puts. */
extern const FbFamily fbFamilies[5];

/* Image put per format (fbimage.cpp). */
template <class P>
void fbPutImage(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y, int32_t width,
                int32_t height, uint32_t depth, uint32_t compression, uint32_t length,
                const uint8_t* data);
template <class P>
void fbPutSubImage(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y, int32_t width,
                   int32_t height, int32_t rowCount, int32_t firstRow, int32_t rowStep,
                   uint32_t depth, uint32_t compression, uint32_t length, const uint8_t* data);

/* The shared no-ops of every slot shape. */
void fbNoopPutImage(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, uint32_t,
                    uint32_t, uint32_t, const uint8_t*);
void fbNoopPutSubImage(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, int32_t,
                       int32_t, int32_t, uint32_t, uint32_t, uint32_t, const uint8_t*);

#endif
