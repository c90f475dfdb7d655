/* The frame-buffer renderer: pixel buffers, the graphics-context fields it
 * reads and writes, the thirteen-slot operation vector, and the damage sink
 * through which the X engine learns what was drawn.
 *
 * fb knows nothing of X ids or windows. A drawable is a pixel buffer
 * (FbBuffer); the engine embeds one in each drawable record and maps a
 * buffer back to its drawable in the damage sink. Every routine here clips
 * to the buffers it touches and reads outside data only within its length,
 * so a slot left stale by a caller draws nothing wrong. */
#ifndef HV_FB_H
#define HV_FB_H

#include <stddef.h>
#include <stdint.h>

/* Largest side of a pixmap or glyph, and the largest pixel buffer this
 * renderer allocates. Sides are refused before any size is multiplied. */
enum : uint32_t { FB_MAX_SIDE = 32767, FB_MAX_BUFFER_BYTES = 128u << 20 };

/* A pixel buffer, shared by pixmaps, glyphs and the windows' screen
 * buffers. Depth 1 rows are top-down (row y at y * stride, column x in byte
 * x / 8, least significant bit leftmost); every other depth is bottom-up
 * (row y at (height - y - 1) * stride). Depth 24 has 3 or 4 bytes per
 * pixel; 4 is the 32-bit layout. */
struct FbBuffer {
    int32_t width;
    int32_t height;
    uint32_t depth;         /* 1, 8, 16 or 24 */
    uint32_t stride;        /* bytes per row */
    uint32_t bytesPerPixel; /* 1, 2, 3 or 4; not set for depth 1 */
    uint8_t* bits;          /* owned by whoever created the buffer */
    void* dibBits;          /* windows only: the DIB bits; 0 for pixmaps */
    uint32_t dibStride;     /* the row stride again for pixmaps; the DIB's for windows */
};

/* Pixel formats, the index of every per-depth table. */
enum FbFormat : int {
    FB_FMT_NONE = -1,
    FB_FMT_1 = 0,
    FB_FMT_8 = 1,
    FB_FMT_16 = 2,
    FB_FMT_24 = 3, /* depth 24, 3 bytes per pixel */
    FB_FMT_32 = 4, /* depth 24, 4 bytes per pixel */
};

/* The buffer's format, or FB_FMT_NONE when its fields do not describe a
 * buffer this renderer can touch (no bits, a side out of range, a stride
 * too short for its width). */
FbFormat fbBufferFormat(const FbBuffer* buffer);

struct FbPoint {
    int32_t x, y;
};
struct FbSegment {
    int32_t x1, y1, x2, y2;
};
struct FbRect {
    int32_t x, y;
    uint32_t width, height;
};

/* A glyph of a bitmap font: its depth-1 bitmap and metrics. The bitmap's
 * top-left pixel lands at (x + xOffset, y - yOffset) of the text origin. */
struct FbGlyph {
    FbBuffer bitmap;
    int32_t xOffset;
    int32_t yOffset; /* from the baseline up to the bitmap's top row */
    int32_t advance;
};

struct FbGCOps;

/* Change-mask bits that validation reacts to. */
enum : uint32_t {
    FB_GC_FOREGROUND = 0x0001,
    FB_GC_BACKGROUND = 0x0002,
    FB_GC_FUNCTION = 0x0004,
    FB_GC_FILL_STYLE = 0x0008,
    FB_GC_PLANE_MASK = 0x0100,
    FB_GC_DRAWABLE = 0x0400,
    FB_GC_VALIDATE = 0x8000,
};

enum : uint32_t { FB_FILL_SOLID = 0, FB_FILL_TILED = 1, FB_FILL_STIPPLED = 2, FB_FILL_OPAQUE = 3 };

/* Raster-function classes: how a pixel (old AND and) XOR xor simplifies. */
enum : uint32_t { FB_CLASS_AND = 1, FB_CLASS_COPY = 3, FB_CLASS_XOR = 6, FB_CLASS_OR = 7, FB_CLASS_GENERAL = 15 };

/* The fields of the engine's graphics context that the renderer reads and
 * writes. The engine's GC record holds these; tile, stipple and glyph table
 * are resolved by the engine before each drawing call, and are read at call
 * time (their changes refill no slot). */
struct FbGC {
    FbGCOps* ops;        /* the active vector */
    uint32_t changeMask; /* FB_GC_* bits since the last validation */
    uint32_t function;   /* 0 clear ... 3 copy ... 6 xor ... 15 set */
    uint32_t foreground;
    uint32_t background;
    uint32_t fillStyle; /* FB_FILL_* */
    int32_t originX;    /* tile and stipple origin */
    int32_t originY;
    uint32_t planeMask;
    FbBuffer* tile;         /* of the destination's format, or skipped */
    FbBuffer* stipple;      /* depth 1, or skipped */
    FbGlyph* const* glyphs; /* 256 entries, a missing glyph is 0; or 0 */
    /* Written by validation: the reductions of (function, foreground, plane
     * mask) and (function, background, plane mask). */
    uint32_t fgClass, fgAnd, fgXor;
    uint32_t bgClass, bgAnd, bgXor;
    uint32_t damageFlags; /* bit values 1 and 2 ask for damage reports */
};

/* The operation vector. Every slot takes the display (opaque here), the
 * destination buffer and the GC, then the request's own arguments. Sizes
 * and counts come with the bytes they describe. */
struct FbGCOps {
    /* 0: an image of compression 0, 1, 3 or 4 at (x, y). */
    void (*PutImage)(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t depth, uint32_t compression, uint32_t length,
                     const uint8_t* data);
    /* 1: connected zero-width lines, each excluding its end point. */
    void (*PolyLine)(void* display, FbBuffer* dst, FbGC* gc, uint32_t count, const FbPoint* points);
    /* 2: independent zero-width segments. */
    void (*PolySegment)(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                        const FbSegment* segments);
    /* 3: rectangle outlines through slot 1. */
    void (*PolyRectangle)(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                          const FbRect* rects);
    /* 4: filled rectangles in the GC's fill style. */
    void (*PolyFillRect)(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                         const FbRect* rects);
    /* 5: a polygon; only shape 2 (convex) draws. */
    void (*FillPolygon)(void* display, FbBuffer* dst, FbGC* gc, uint32_t shape, uint32_t count,
                        const FbPoint* points);
    /* 6: width x height from (srcX, srcY) of src to (dstX, dstY). */
    void (*CopyArea)(void* display, FbBuffer* dst, FbGC* gc, int32_t dstX, int32_t dstY,
                     int32_t width, int32_t height, FbBuffer* src, int32_t srcX, int32_t srcY);
    /* 7: as CopyArea, one bit plane of src as foreground/background. */
    void (*CopyPlane)(void* display, FbBuffer* dst, FbGC* gc, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height, FbBuffer* src, int32_t srcX, int32_t srcY,
                      uint32_t plane);
    /* 8: glyphs' set bits in the fill. */
    void (*PolyText8)(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y,
                      uint32_t count, const uint8_t* chars);
    /* 9: glyph boxes, set bits foreground and clear bits background. */
    void (*ImageText8)(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y,
                       uint32_t count, const uint8_t* chars);
    /* 10: never called; the shared no-op. */
    void (*Unused10)(void* display, FbBuffer* dst, FbGC* gc);
    /* 11: spans (points[i], widths[i]) in the fill style; reports no damage. */
    void (*FillSpans)(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                      const FbPoint* points, const int32_t* widths);
    /* 12: rowCount interlaced rows of a compression 0 or 1 image. */
    void (*PutSubImage)(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y,
                        int32_t width, int32_t height, int32_t rowCount, int32_t firstRow,
                        int32_t rowStep, uint32_t depth, uint32_t compression, uint32_t length,
                        const uint8_t* data);
};

/* Where drawing into a buffer is reported, when the GC's damage flags have
 * bit value 1 or 2. The engine installs it; coordinates are unclipped. A
 * line covers (x1, y1) and excludes (x2, y2). */
struct FbDamageSink {
    void (*rect)(void* display, FbBuffer* drawable, FbGC* gc, int32_t x, int32_t y,
                 int32_t width, int32_t height);
    void (*line)(void* display, FbBuffer* drawable, FbGC* gc, int32_t x1, int32_t y1,
                 int32_t x2, int32_t y2);
    void (*boxes)(void* display, FbBuffer* drawable, FbGC* gc, uint32_t count,
                  const FbRect* boxes);
};
/* Installs the sink (0: no reports). */
void fbSetDamageSink(const FbDamageSink* sink);

/* The vector every new GC shares: thirteen no-ops. */
extern FbGCOps fbNoOps;

/* Gives the GC a vector of its own (slot 5 the polygon filler, the others
 * no-ops until validation); 0, or -1 when it cannot be allocated. */
int fbCreateGC(void* display, FbGC* gc);
/* Frees the GC's own vector (the one fbCreateGC made: a caller that
 * swapped in a vector of its own puts ours back first) and points the GC
 * at fbNoOps. */
void fbDestroyGC(void* display, FbGC* gc);
/* Recomputes the reductions and refills the slots that the changed fields
 * affect, for the drawable's format. The caller clears the change mask. */
void fbValidateGC(void* display, FbBuffer* drawable, FbGC* gc);
/* Fills the chosen slot groups with format `format`'s routines. */
void fbInstallGCOps(FbGC* gc, int format, bool lines, bool fills, bool copyText, bool images,
                    bool fullPlaneMask);

/* Raster helpers. */
uint32_t fbReduceRasterOp(uint32_t function, uint32_t foreground, uint32_t planeMask,
                          uint32_t* andMask, uint32_t* xorMask);
/* The X result of function applied to (source, destination), all 32 bits. */
uint32_t fbApplyRasterOp(uint32_t function, uint32_t source, uint32_t destination);
/* The opaque nibble table: entry i, byte j is fg when bit j of i is set. */
void fbSetOpaqueNibbles(uint8_t foreground, uint8_t background);
const uint8_t* fbOpaqueNibbles(); /* 16 x 4 bytes */

/* Polygons (slot 5). */
void fbFillPolygon(void* display, FbBuffer* dst, FbGC* gc, uint32_t shape, uint32_t count,
                   const FbPoint* points);
void fbFillConvexPolygon(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                         const FbPoint* points);
/* Index of the first vertex of smallest y, and the bounds. */
uint32_t fbPolygonBounds(const FbPoint* points, uint32_t count, int32_t* xmin, int32_t* xmax,
                         int32_t* ymin, int32_t* ymax);

/* Pixmaps and glyphs. The caller sets width, height and depth (and
 * bytesPerPixel 4 for the 32-bit layout of depth 24); creation sets the
 * stride and allocates zeroed bits. 0, or -1 for an unsupported depth, a
 * side outside 1..FB_MAX_SIDE, a size above the cap or no memory. */
int fbCreatePixmap(void* display, FbBuffer* buffer);
void fbDestroyPixmap(void* display, FbBuffer* buffer);
int fbCreateGlyph(void* display, void* font, FbGlyph* glyph);
int fbPutGlyphImage(void* display, void* font, FbGlyph* glyph, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t compression, uint32_t length,
                    const uint8_t* data);
void fbFreeGlyph(void* display, void* font, FbGlyph* glyph);

/* Puts an image into the buffer without a GC or damage: raw rows (0), row
 * run-length (1) or tiles (4, not at depth 1). Returns the data bytes
 * consumed, or 0 when the depth is not the buffer's or the compression is
 * not supported for it. */
int fbPutPixmapImage(FbBuffer* buffer, int32_t x, int32_t y, int32_t width, int32_t height,
                     uint32_t depth, uint32_t compression, uint32_t length, const uint8_t* data);

#endif
