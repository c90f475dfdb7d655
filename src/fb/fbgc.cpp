/* Graphics-context operation vectors: creation, validation and the
 * installer that picks each slot's routine; the raster-function reduction,
 * the damage sink and the other small helpers every family uses. */
#include "fb/fbpriv.h"

#include "core/dilog.h"

#include <stdlib.h>

/* ---- no-ops ---- */

void fbNoopPutImage(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, uint32_t,
                    uint32_t, uint32_t, const uint8_t*) {}
void fbNoopPutSubImage(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, int32_t,
                       int32_t, int32_t, uint32_t, uint32_t, uint32_t, const uint8_t*) {}
static void noopPolyLine(void*, FbBuffer*, FbGC*, uint32_t, const FbPoint*) {}
static void noopPolySegment(void*, FbBuffer*, FbGC*, uint32_t, const FbSegment*) {}
static void noopRects(void*, FbBuffer*, FbGC*, uint32_t, const FbRect*) {}
static void noopFillPolygon(void*, FbBuffer*, FbGC*, uint32_t, uint32_t, const FbPoint*) {}
static void noopCopyArea(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, FbBuffer*,
                         int32_t, int32_t) {}
static void noopCopyPlane(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t,
                          FbBuffer*, int32_t, int32_t, uint32_t) {}
static void noopText(void*, FbBuffer*, FbGC*, int32_t, int32_t, uint32_t, const uint8_t*) {}
static void noopUnused(void*, FbBuffer*, FbGC*) {}
static void noopFillSpans(void*, FbBuffer*, FbGC*, uint32_t, const FbPoint*, const int32_t*) {}

FbGCOps fbNoOps = {fbNoopPutImage, noopPolyLine,  noopPolySegment, noopRects,   noopRects,
                   noopFillPolygon, noopCopyArea, noopCopyPlane,   noopText,    noopText,
                   noopUnused,     noopFillSpans, fbNoopPutSubImage};

/* ---- buffers and damage ---- */

FbFormat fbBufferFormat(const FbBuffer* b) {
    if (!b || !b->bits || b->width <= 0 || b->height <= 0 || uint32_t(b->width) > FB_MAX_SIDE ||
        uint32_t(b->height) > FB_MAX_SIDE)
        return FB_FMT_NONE;
    uint64_t rowBytes;
    FbFormat f;
    switch (b->depth) {
    case 1:
        rowBytes = (uint64_t(b->width) + 7) / 8;
        f = FB_FMT_1;
        break;
    case 8:
        if (b->bytesPerPixel != 1)
            return FB_FMT_NONE;
        rowBytes = uint64_t(b->width);
        f = FB_FMT_8;
        break;
    case 16:
        if (b->bytesPerPixel != 2)
            return FB_FMT_NONE;
        rowBytes = uint64_t(b->width) * 2;
        f = FB_FMT_16;
        break;
    case 24:
        if (b->bytesPerPixel != 3 && b->bytesPerPixel != 4)
            return FB_FMT_NONE;
        rowBytes = uint64_t(b->width) * b->bytesPerPixel;
        f = b->bytesPerPixel == 4 ? FB_FMT_32 : FB_FMT_24;
        break;
    default:
        return FB_FMT_NONE;
    }
    if (b->stride < rowBytes)
        return FB_FMT_NONE;
    return f;
}

static const FbDamageSink* g_sink;

void fbSetDamageSink(const FbDamageSink* sink) { g_sink = sink; }

void fbDamageRect(void* display, FbBuffer* dst, FbGC* gc, int32_t x, int32_t y, int32_t w,
                  int32_t h) {
    if (g_sink && g_sink->rect && fbWantsDamage(gc))
        g_sink->rect(display, dst, gc, x, y, w, h);
}
void fbDamageLine(void* display, FbBuffer* dst, FbGC* gc, int32_t x1, int32_t y1, int32_t x2,
                  int32_t y2) {
    if (g_sink && g_sink->line && fbWantsDamage(gc))
        g_sink->line(display, dst, gc, x1, y1, x2, y2);
}
void fbDamageBoxes(void* display, FbBuffer* dst, FbGC* gc, uint32_t count, const FbRect* boxes) {
    if (g_sink && g_sink->boxes && fbWantsDamage(gc) && count)
        g_sink->boxes(display, dst, gc, count, boxes);
}

void fbNoteBadInput(const char* what) {
    /* One entry per distinct kind: a hostile stream repeats the same fault
     * thousands of times a second. */
    static const char* seen[8];
    for (const char* s : seen)
        if (s == what)
            return;
    for (const char*& s : seen)
        if (!s) {
            s = what;
            break;
        }
    DiChar text[160];
    size_t n = 0;
    for (const char* p = "Drawing: "; *p && n < 159; p++)
        text[n++] = DiChar(*p);
    for (const char* p = what; *p && n < 159; p++)
        text[n++] = DiChar(*p);
    text[n] = 0;
    diLogErrorText(text);
}

/* ---- raster helpers ---- */

uint32_t fbReduceRasterOp(uint32_t function, uint32_t fg, uint32_t pm, uint32_t* andMask,
                          uint32_t* xorMask) {
    uint32_t a, x;
    switch (function) {
    case 0: a = 0; x = 0; break;
    case 1: a = fg; x = 0; break;
    case 2: a = fg; x = fg; break;
    case 3: a = 0; x = fg; break;
    case 4: a = ~fg; x = 0; break;
    case 5: a = ~0u; x = 0; break;
    case 6: a = ~0u; x = fg; break;
    case 7: a = ~fg; x = fg; break;
    case 8: a = ~fg; x = ~fg; break;
    case 9: a = ~0u; x = ~fg; break;
    case 10: a = ~0u; x = ~0u; break;
    case 11: a = ~fg; x = ~0u; break;
    case 12: a = 0; x = ~fg; break;
    case 13: a = fg; x = ~fg; break;
    case 14: a = fg; x = ~0u; break;
    case 15: a = 0; x = ~0u; break;
    default: a = fg; x = fg; break;
    }
    a |= ~pm;
    x &= pm;
    *andMask = a;
    *xorMask = x;
    if (a == 0)
        return FB_CLASS_COPY;
    if (a == ~0u)
        return FB_CLASS_XOR;
    if (x == 0)
        return FB_CLASS_AND;
    if (x == ~a)
        return FB_CLASS_OR;
    return FB_CLASS_GENERAL;
}

uint32_t fbApplyRasterOp(uint32_t function, uint32_t s, uint32_t d) {
    switch (function & 15) {
    case 0: return 0;
    case 1: return s & d;
    case 2: return s & ~d;
    case 3: return s;
    case 4: return ~s & d;
    case 5: return d;
    case 6: return s ^ d;
    case 7: return s | d;
    case 8: return ~(s | d);
    case 9: return ~s ^ d;
    case 10: return ~d;
    case 11: return s | ~d;
    case 12: return ~s;
    case 13: return ~s | d;
    case 14: return ~(s & d);
    default: return ~0u;
    }
}

/* Built for one (foreground, background) pair at a time; the 8-bit
 * ImageText8 rebuilds it when its pair differs. */
static uint8_t g_nibbles[16][4];

void fbSetOpaqueNibbles(uint8_t fg, uint8_t bg) {
    for (int i = 0; i < 16; i++)
        for (int j = 0; j < 4; j++)
            g_nibbles[i][j] = (i >> j) & 1 ? fg : bg;
}
const uint8_t* fbOpaqueNibbles() { return &g_nibbles[0][0]; }

/* ---- vectors and validation ---- */

int fbCreateGC(void*, FbGC* gc) {
    FbGCOps* ops = static_cast<FbGCOps*>(malloc(sizeof(FbGCOps)));
    if (!ops)
        return -1;
    *ops = fbNoOps;
    ops->FillPolygon = fbFillPolygon;
    gc->ops = ops;
    return 0;
}

void fbDestroyGC(void*, FbGC* gc) {
    if (gc->ops && gc->ops != &fbNoOps)
        free(gc->ops);
    gc->ops = &fbNoOps;
}

/* The drawing slots for a format that has none: depth 1, an unknown depth,
 * or a fill style out of range. Leaving the previous format's routines in
 * place would let them write pixels of the wrong size. */
static void installDrawingNoops(FbGCOps* ops) {
    ops->PolyLine = fbNoOps.PolyLine;
    ops->PolySegment = fbNoOps.PolySegment;
    ops->PolyRectangle = fbNoOps.PolyRectangle;
    ops->PolyFillRect = fbNoOps.PolyFillRect;
    ops->CopyArea = fbNoOps.CopyArea;
    ops->CopyPlane = fbNoOps.CopyPlane;
    ops->PolyText8 = fbNoOps.PolyText8;
    ops->ImageText8 = fbNoOps.ImageText8;
    ops->FillSpans = fbNoOps.FillSpans;
}

void fbInstallGCOps(FbGC* gc, int format, bool lines, bool fills, bool copyText, bool images,
                    bool full) {
    if (format < FB_FMT_8 || format > FB_FMT_32 || !gc->ops || gc->ops == &fbNoOps)
        return;
    const FbFamily& f = fbFamilies[format];
    FbGCOps* ops = gc->ops;
    if (images) {
        ops->PutImage = f.putImage;
        ops->PutSubImage = f.putSubImage;
        ops->CopyPlane = f.copyPlane;
    }
    if (lines) {
        int v = gc->fgClass == FB_CLASS_COPY ? 0 : 1;
        ops->PolyLine = f.polyLine[v];
        ops->PolySegment = f.polySegment[v];
        ops->PolyRectangle = f.polyRectangle;
    }
    if (fills) {
        int rect = -1, span = -1;
        bool fgCopy = gc->fgClass == FB_CLASS_COPY;
        switch (gc->fillStyle) {
        case FB_FILL_SOLID:
            if (full && fgCopy) {
                rect = FB_FILL_SOLID_COPY;
                span = FB_SPANS_SOLID_COPY;
            } else {
                rect = full && gc->fgClass == FB_CLASS_XOR ? FB_FILL_SOLID_XOR : FB_FILL_SOLID_GENERAL;
                span = FB_SPANS_SOLID_GENERAL;
            }
            break;
        case FB_FILL_TILED: {
            bool c = gc->function == 3 && full;
            rect = c ? FB_FILL_TILED_COPY : FB_FILL_TILED_GENERAL;
            span = c ? FB_SPANS_TILED_COPY : FB_SPANS_TILED_GENERAL;
            break;
        }
        case FB_FILL_STIPPLED: {
            bool c = fgCopy && full;
            rect = c ? FB_FILL_STIPPLED_COPY : FB_FILL_STIPPLED_GENERAL;
            span = c ? FB_SPANS_STIPPLED_COPY : FB_SPANS_STIPPLED_GENERAL;
            break;
        }
        case FB_FILL_OPAQUE: {
            bool c = fgCopy && gc->bgClass == gc->fgClass && full;
            rect = c ? FB_FILL_OPAQUE_COPY : FB_FILL_OPAQUE_GENERAL;
            span = c ? FB_SPANS_OPAQUE_COPY : FB_SPANS_OPAQUE_GENERAL;
            break;
        }
        }
        ops->PolyFillRect = rect < 0 ? fbNoOps.PolyFillRect : f.polyFillRect[rect];
        ops->FillSpans = span < 0 ? fbNoOps.FillSpans : f.fillSpans[span];
    }
    if (copyText) {
        int v = gc->function == 3 && full ? 0 : 1;
        ops->CopyArea = f.copyArea[v];
        ops->PolyText8 = f.polyText8[v];
        /* ImageText8 ignores the raster function: only the mask matters. */
        ops->ImageText8 = f.imageText8[full ? 0 : 1];
    }
}

void fbValidateGC(void*, FbBuffer* drawable, FbGC* gc) {
    uint32_t m = gc->changeMask;
    if (m & (FB_GC_FOREGROUND | FB_GC_FUNCTION | FB_GC_PLANE_MASK))
        gc->fgClass = fbReduceRasterOp(gc->function, gc->foreground, gc->planeMask, &gc->fgAnd,
                                       &gc->fgXor);
    if (m & (FB_GC_BACKGROUND | FB_GC_FUNCTION | FB_GC_PLANE_MASK))
        gc->bgClass = fbReduceRasterOp(gc->function, gc->background, gc->planeMask, &gc->bgAnd,
                                       &gc->bgXor);
    bool lines = false, fills = false, copyText = false, images = false;
    if (m & FB_GC_DRAWABLE)
        lines = fills = copyText = images = true;
    else if (m & (FB_GC_FUNCTION | FB_GC_PLANE_MASK))
        lines = fills = copyText = true;
    else if (m & FB_GC_FOREGROUND)
        lines = fills = true;
    else if (m & (FB_GC_BACKGROUND | FB_GC_FILL_STYLE))
        fills = true;

    FbGCOps* ops = gc->ops;
    if (!ops || ops == &fbNoOps || !drawable)
        return;
    uint32_t pm = gc->planeMask;
    int format;
    bool full;
    switch (drawable->depth) {
    case 8:
        format = FB_FMT_8;
        full = (pm & 0xFF) == 0xFF;
        break;
    case 16:
        format = FB_FMT_16;
        full = (pm & 0xFFFF) == 0xFFFF;
        break;
    case 24:
        format = drawable->bytesPerPixel == 4 ? FB_FMT_32 : FB_FMT_24;
        full = (pm & 0xFFFFFF) == 0xFFFFFF;
        break;
    case 1:
        if (images) {
            ops->PutImage = fbFamilies[FB_FMT_1].putImage;
            ops->PutSubImage = fbFamilies[FB_FMT_1].putSubImage;
        }
        installDrawingNoops(ops);
        return;
    default:
        installDrawingNoops(ops);
        ops->PutImage = fbNoOps.PutImage;
        ops->PutSubImage = fbNoOps.PutSubImage;
        return;
    }
    fbInstallGCOps(gc, format, lines, fills, copyText, images, full);
}
