/* The X resources other than windows: the GC with its change mask and
 * validation, the eleven drawing calls, pixmaps, fonts and glyphs,
 * cursors and the colormap; the operations table of the wire and the
 * damage sink of the frame buffer. */
#include "xde/dixde.h"

#include "core/dilog.h"
#include "core/ditimer.h"
#include "ui/diprog.h"
#include "xde/dixclip.h"
#include "xde/dixscreen.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

void refused(const DiChar* what) {
    diLogErrorText(what);
}

DiXGC* gcOf(FbGC* gc) {
    return reinterpret_cast<DiXGC*>(gc);
}

/* Pixel bytes of a buffer of this size (an upper bound: 4 bytes a pixel at
 * depth 24), in 64 bits. */
uint64_t pixelBytes(int32_t width, int32_t height, uint32_t depth) {
    uint64_t w = uint64_t(width), h = uint64_t(height);
    switch (depth) {
    case 1: return (w + 7) / 8 * h;
    case 8: return (w + 3) / 4 * 4 * h;
    case 16: return (w * 2 + 3) / 4 * 4 * h;
    default: return w * 4 * h;
    }
}

/* Every reference the GC holds to a record that is going is cleared; the
 * next drawing re-validates and draws nothing without a drawable. */
void forgetInGC(DiXDisplay* d, const void* record) {
    DiXGC* gc = d->gc;
    if (!gc || !record) return;
    if (gc->drawable == record) gc->drawable = nullptr;
    if (gc->tilePixmap == record) gc->tilePixmap = nullptr, gc->fb.tile = nullptr;
    if (gc->stipplePixmap == record) gc->stipplePixmap = nullptr, gc->fb.stipple = nullptr;
    if (gc->font == record) gc->font = nullptr, gc->fb.glyphs = nullptr;
    gc->fb.changeMask |= FB_GC_VALIDATE;
}

void change(DiXGC* gc, uint32_t bits) {
    gc->fb.changeMask |= bits | FB_GC_VALIDATE;
}

/* The GC made ready for a drawing call on its drawable: validated when
 * asked, tile, stipple and glyphs resolved. None when nothing can draw. */
DiXDrawable* prepare(DiXDisplay* d, DiXGC* gc) {
    if (!gc || !gc->drawable) return nullptr;
    if (gc->fb.changeMask & FB_GC_VALIDATE) diXValidateGC(d, gc->drawable, gc);
    if (!gc->drawable) return nullptr;
    gc->fb.tile = gc->tilePixmap ? &gc->tilePixmap->head.fb : nullptr;
    gc->fb.stipple = gc->stipplePixmap ? &gc->stipplePixmap->head.fb : nullptr;
    gc->fb.glyphs = gc->font ? gc->font->fbGlyphs : nullptr;
    return gc->drawable;
}

void after(DiXDisplay* d, DiXGC* gc, DiXDrawable* dst) {
    if ((gc->fb.damageFlags & 4) && dst->kind == 0)
        diXPaintExposures(d, reinterpret_cast<DiXWindow*>(dst));
}

/* Sink: the drawable of a buffer embedded in a drawable record. */
DiXWindow* windowOfBuffer(FbBuffer* b) {
    DiXDrawable* dr = reinterpret_cast<DiXDrawable*>(reinterpret_cast<char*>(b) -
                                                     offsetof(DiXDrawable, fb));
    return dr->kind == 0 ? reinterpret_cast<DiXWindow*>(dr) : nullptr;
}

void sinkRect(void*, FbBuffer* b, FbGC* gc, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (DiXWindow* win = windowOfBuffer(b)) diXDamageRect(win, gcOf(gc), x, y, w, h);
}
void sinkLine(void*, FbBuffer* b, FbGC* gc, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    if (DiXWindow* win = windowOfBuffer(b)) diXDamageLine(win, gcOf(gc), x1, y1, x2, y2);
}
void sinkBoxes(void*, FbBuffer* b, FbGC* gc, uint32_t count, const FbRect* boxes) {
    if (DiXWindow* win = windowOfBuffer(b))
        diXDamageBoxes(win, gcOf(gc), int32_t(count > INT32_MAX ? INT32_MAX : count), boxes);
}

/* Request handlers. */
void opPutImage(DiXDisplay* d, int32_t x, int32_t y, const DiXImage* im) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PutImage(d, &dst->fb, &gc->fb, x, y, im->width, im->height, im->depth,
                         im->compression, im->length, im->data);
    after(d, gc, dst);
}

void opPutSubImage(DiXDisplay* d, int32_t x, int32_t y, int32_t rowCount, int32_t firstRow,
                   int32_t rowStep, const DiXImage* im) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PutSubImage(d, &dst->fb, &gc->fb, x, y, im->width, im->height, rowCount,
                            firstRow, rowStep, im->depth, im->compression, im->length, im->data);
    after(d, gc, dst);
}

uint32_t count32(int32_t n) {
    return n < 0 ? 0 : uint32_t(n);
}

void opPolyLine(DiXDisplay* d, int32_t n, const int32_t* xy) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PolyLine(d, &dst->fb, &gc->fb, count32(n), reinterpret_cast<const FbPoint*>(xy));
    after(d, gc, dst);
}
void opPolySegment(DiXDisplay* d, int32_t n, const int32_t* xy) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PolySegment(d, &dst->fb, &gc->fb, count32(n),
                            reinterpret_cast<const FbSegment*>(xy));
    after(d, gc, dst);
}
void opPolyRectangle(DiXDisplay* d, int32_t n, const int32_t* xy) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PolyRectangle(d, &dst->fb, &gc->fb, count32(n),
                              reinterpret_cast<const FbRect*>(xy));
    after(d, gc, dst);
}
void opPolyFillRectangle(DiXDisplay* d, int32_t n, const int32_t* xy) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->PolyFillRect(d, &dst->fb, &gc->fb, count32(n),
                             reinterpret_cast<const FbRect*>(xy));
    after(d, gc, dst);
}
void opFillPolygon(DiXDisplay* d, uint32_t shape, int32_t n, const int32_t* xy) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    gc->fb.ops->FillPolygon(d, &dst->fb, &gc->fb, shape, count32(n),
                            reinterpret_cast<const FbPoint*>(xy));
    after(d, gc, dst);
}

void copy(DiXDisplay* d, uint32_t srcKind, uint32_t srcId, int32_t sx, int32_t sy, int32_t dx,
          int32_t dy, int32_t w, int32_t h, bool plane, uint32_t mask) {
    DiXGC* gc = d->gc;
    if (!gc) return;
    /* An unknown source neither draws nor validates. */
    DiXDrawable* src = diXLookupDrawable(d, srcKind, srcId);
    if (!src) return;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    if (plane)
        gc->fb.ops->CopyPlane(d, &dst->fb, &gc->fb, dx, dy, w, h, &src->fb, sx, sy, mask);
    else
        gc->fb.ops->CopyArea(d, &dst->fb, &gc->fb, dx, dy, w, h, &src->fb, sx, sy);
    after(d, gc, dst);
}
void opCopyArea(DiXDisplay* d, uint32_t k, uint32_t id, int32_t sx, int32_t sy, int32_t dx,
                int32_t dy, int32_t w, int32_t h) {
    copy(d, k, id, sx, sy, dx, dy, w, h, false, 0);
}
void opCopyPlane(DiXDisplay* d, uint32_t k, uint32_t id, int32_t sx, int32_t sy, int32_t dx,
                 int32_t dy, int32_t w, int32_t h, uint32_t mask) {
    copy(d, k, id, sx, sy, dx, dy, w, h, true, mask);
}
void opText(DiXDisplay* d, int32_t x, int32_t y, int32_t n, const uint8_t* g, bool image) {
    DiXGC* gc = d->gc;
    DiXDrawable* dst = prepare(d, gc);
    if (!dst) return;
    if (image)
        gc->fb.ops->ImageText8(d, &dst->fb, &gc->fb, x, y, count32(n), g);
    else
        gc->fb.ops->PolyText8(d, &dst->fb, &gc->fb, x, y, count32(n), g);
    after(d, gc, dst);
}
void opPolyText8(DiXDisplay* d, int32_t x, int32_t y, int32_t n, const uint8_t* g) {
    opText(d, x, y, n, g, false);
}
void opImageText8(DiXDisplay* d, int32_t x, int32_t y, int32_t n, const uint8_t* g) {
    opText(d, x, y, n, g, true);
}

/* GC setters. */
void opSetDrawable(DiXDisplay* d, uint32_t kind, uint32_t id) {
    if (d->gc) diXSetDrawable(d, d->gc, kind, id);
}
void opSetForeground(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->fb.foreground = v, change(d->gc, FB_GC_FOREGROUND);
}
void opSetBackground(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->fb.background = v, change(d->gc, FB_GC_BACKGROUND);
}
void opSetFunction(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->fb.function = v & 15, change(d->gc, FB_GC_FUNCTION);
}
void opSetFillStyle(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->fb.fillStyle = v, change(d->gc, FB_GC_FILL_STYLE);
}
void opSetGCField6(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->value6 = v, change(d->gc, DI_XGC_VALUE6);
}
void opSetTile(DiXDisplay* d, uint32_t id) {
    if (!d->gc) return;
    d->gc->tileId = id;
    d->gc->tilePixmap = id < DI_XPIXMAPS ? d->pixmaps[id] : nullptr;
    change(d->gc, DI_XGC_TILE);
}
void opSetStipple(DiXDisplay* d, uint32_t id) {
    if (!d->gc) return;
    d->gc->stippleId = id;
    d->gc->stipplePixmap = id < DI_XPIXMAPS ? d->pixmaps[id] : nullptr;
    change(d->gc, DI_XGC_STIPPLE);
}
void opSetTSOrigin(DiXDisplay* d, int32_t x, int32_t y) {
    if (d->gc) d->gc->fb.originX = x, d->gc->fb.originY = y, change(d->gc, DI_XGC_ORIGIN);
}
void opSetPlaneMask(DiXDisplay* d, uint32_t v) {
    if (d->gc) d->gc->fb.planeMask = v, change(d->gc, FB_GC_PLANE_MASK);
}
void opSetFont(DiXDisplay* d, uint32_t id) {
    if (!d->gc) return;
    d->gc->fontId = id;
    d->gc->font = id < DI_XFONTS ? d->fonts[id] : nullptr;
    change(d->gc, DI_XGC_FONT);
}
void opSetGCMode(DiXDisplay* d, uint32_t mode) {
    if (d->gc && d->gc->mode != mode) diXSetGCMode(d, d->gc, mode);
}

void opCreatePixmap(DiXDisplay* d, uint32_t id, int32_t w, int32_t h, uint32_t depth) {
    diXCreatePixmap(d, id, w, h, depth);
}
void opFreePixmap(DiXDisplay* d, uint32_t id) {
    if (id >= DI_XPIXMAPS || !d->pixmaps[id]) {
        refused(u"An X request frees a pixmap that does not exist; it is ignored.");
        return;
    }
    diXFreePixmap(d, id);
}

void opOpenFont(DiXDisplay* d, uint32_t id) {
    if (id >= DI_XFONTS) {
        refused(u"An X request names a font beyond the table; it is ignored.");
        return;
    }
    if (d->fonts[id]) diXCloseFont(d, id);
    DiXFont* f = static_cast<DiXFont*>(calloc(1, d->fontSize));
    if (!f) return;
    f->id = id;
    f->size1 = f->size2 = 32;
    d->fonts[id] = f;
    if (d->dev->createFont && d->dev->createFont(d, f) < 0) {
        d->fonts[id] = nullptr;
        free(f);
    }
}
void opCloseFont(DiXDisplay* d, uint32_t id) {
    if (id >= DI_XFONTS || !d->fonts[id]) {
        refused(u"An X request closes a font that does not exist; it is ignored.");
        return;
    }
    diXCloseFont(d, id);
}

void opDefineGlyph(DiXDisplay* d, uint32_t fontId, uint32_t index, int32_t w, int32_t h,
                   int32_t m1, int32_t m2, int32_t m3) {
    DiXFont* f = fontId < DI_XFONTS ? d->fonts[fontId] : nullptr;
    if (!f || index >= DI_XGLYPHS || w < 0 || h < 0 || uint32_t(w) > FB_MAX_SIDE ||
        uint32_t(h) > FB_MAX_SIDE) {
        refused(u"An X glyph names no font or is out of range; it is ignored.");
        return;
    }
    if (f->glyphs[index]) diXFreeGlyph(d, fontId, index);
    uint64_t bytes = pixelBytes(w, h, 1);
    if (diXChargePixels(d, bytes) < 0) return;
    DiXGlyph* g = static_cast<DiXGlyph*>(calloc(1, d->glyphSize));
    if (!g) {
        diXReleasePixels(d, bytes);
        return;
    }
    g->index = index;
    g->width = w, g->height = h, g->depth = 1;
    g->metrics[0] = m1, g->metrics[1] = m2, g->metrics[2] = m3;
    g->fb.bitmap.width = w, g->fb.bitmap.height = h, g->fb.bitmap.depth = 1;
    g->fb.xOffset = m1, g->fb.yOffset = m2, g->fb.advance = m3;
    if (!d->dev->createGlyph || d->dev->createGlyph(d, f, g) < 0) {
        free(g);
        diXReleasePixels(d, bytes);
        return;
    }
    f->glyphs[index] = g;
    f->fbGlyphs[index] = &g->fb;
}

void opPutGlyphBits(DiXDisplay* d, uint32_t index, int32_t x, int32_t y, const DiXImage* bits) {
    /* The font of the GC's current font id; no GC, font or glyph: nothing. */
    if (!d->gc || d->gc->fontId >= DI_XFONTS || index >= DI_XGLYPHS) return;
    DiXFont* f = d->fonts[d->gc->fontId];
    if (!f || !f->glyphs[index]) return;
    if (d->dev->putGlyphBits)
        d->dev->putGlyphBits(d, f, f->glyphs[index], x, y, bits->width, bits->height,
                             bits->compression, bits->length, bits->data);
}

void opFreeGlyph(DiXDisplay* d, uint32_t fontId, uint32_t index) {
    if (fontId >= DI_XFONTS || !d->fonts[fontId] || index >= DI_XGLYPHS ||
        !d->fonts[fontId]->glyphs[index]) {
        refused(u"An X request frees a glyph that does not exist; it is ignored.");
        return;
    }
    diXFreeGlyph(d, fontId, index);
}

void makeCursor(DiXDisplay* d, uint32_t id, uint32_t w, uint32_t h, uint32_t depth,
                uint32_t hotX, uint32_t hotY, uint32_t fg, uint32_t bg, const uint8_t* mask,
                const uint8_t* source) {
    if (d->cursors[id]) diXFreeCursor(d, id);
    DiXCursor* c = static_cast<DiXCursor*>(calloc(1, d->cursorSize));
    if (!c) return;
    *c = DiXCursor{id, w, h, depth, hotX, hotY, fg & 0xFFFFFF, bg & 0xFFFFFF};
    if (!d->dev->createCursor || d->dev->createCursor(d, c, mask, source) < 0) {
        free(c);
        return;
    }
    d->cursors[id] = c;
}

void opCreateCursor(DiXDisplay* d, uint32_t id, uint32_t w, uint32_t h, uint32_t depth,
                    uint32_t hotX, uint32_t hotY, uint32_t fg, uint32_t bg, const uint8_t* mask,
                    const uint8_t* source, uint32_t length) {
    if (id >= DI_XCURSORS || w > 256 || h > 256 ||
        uint64_t(length) < (uint64_t(w) + 7) / 8 * h) {
        refused(u"An X cursor is out of range or its bits are short; it is ignored.");
        return;
    }
    /* The request carries two 1-bit planes whatever its depth byte says, and
     * the length checked is theirs: its cursors are bitmap cursors. Colour
     * cursors come only from request 70, whose length covers the pixels. */
    (void)depth;
    makeCursor(d, id, w, h, 1, hotX, hotY, fg, bg, mask, source);
}

void opCreateColorCursor(DiXDisplay* d, uint32_t id, uint32_t w, uint32_t h, uint32_t hotX,
                         uint32_t hotY, const uint8_t* pixels, uint32_t length) {
    if (id >= DI_XCURSORS || w > 256 || h > 256 || uint64_t(length) < uint64_t(w) * h * 4) {
        refused(u"An X colour cursor is out of range or its pixels are short; it is ignored.");
        return;
    }
    makeCursor(d, id, w, h, 32, hotX, hotY, 0, 0, nullptr, pixels);
}

void opSetCursor(DiXDisplay* d, uint32_t id) {
    DiXCursor* c = id < DI_XCURSORS ? d->cursors[id] : nullptr;
    if (!c) {
        refused(u"An X request sets a cursor that does not exist; it is ignored.");
        return;
    }
    if (!d->dev->setCursor) return;
    d->dev->setCursor(d, d->ch.hdr.gc, c);
    for (uint32_t i = 0; i < d->windowLimit; i++)
        if (d->windows[i] && d->windows[i]->frame)
            d->dev->setCursor(d, d->windows[i]->frame->hdr.gc, c);
}

void opSetStandardCursor(DiXDisplay* d, uint32_t index) {
    if (index > 13) return;
    d->standardCursor = index;
    if (!d->dev->setStandardCursor) return;
    d->dev->setStandardCursor(d, d->ch.hdr.gc, index);
    for (uint32_t i = 0; i < DI_XWINDOWS; i++)
        if (d->windows[i] && d->windows[i]->frame)
            d->dev->setStandardCursor(d, d->windows[i]->frame->hdr.gc, index);
}

void opStoreColors(DiXDisplay* d, int32_t count, const uint8_t* e) {
    diXStoreColors(d, count, e);
}

void opBell(DiXDisplay* d) {
    if (d->dev->bell) d->dev->bell(d);
}

void opSessionStatus(DiXDisplay* d, int32_t kind, int32_t code) {
    diXDESessionStatus(d, kind, code);
}

void opStartSession(DiXDisplay* d, uint32_t flags, uint32_t delay, int32_t w, int32_t h,
                    uint32_t depth, uint32_t flags2) {
    diXDEStartSession(d, flags, delay, w, h, depth, flags2);
}

void opCreateWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t style, uint32_t ownerMode, uint32_t ownerId, uint32_t frameFlags) {
    diXCreateWindow(d, id, x, y, w, h, style, ownerMode, ownerId, frameFlags);
}
void opDestroyWindow(DiXDisplay* d, uint32_t id) {
    /* The root holds the buffer every window shares: it goes only with the
     * screen. */
    if (id == 0 || id >= DI_XWINDOWS || !d->windows[id]) {
        refused(u"An X request destroys a window this client refuses; it is ignored.");
        return;
    }
    diXDestroyWindow(d, id);
}
void opShowWindow(DiXDisplay* d, uint32_t id, uint32_t mode) {
    diXShowWindow(d, id, mode);
}
void opConfigureWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h) {
    diXConfigureWindow(d, id, x, y, w, h);
}
void opRestackWindow(DiXDisplay* d, uint32_t id, uint32_t mode, uint32_t sibling) {
    diXRestackWindow(d, id, mode, sibling);
}

} // namespace

void diXSetSizeHintsOf(DiXDisplay* d, uint32_t id, const uint32_t hints[4]);

namespace {

void opSetWindowTitle(DiXDisplay* d, uint32_t id, const DiChar* t, uint32_t n) {
    diXSetWindowTitleText(d, id, t, n, 0);
}
void opSetIconTitle(DiXDisplay* d, uint32_t id, const DiChar* t, uint32_t n) {
    diXSetWindowTitleText(d, id, t, n, 1);
}
void opSetSizeHints(DiXDisplay* d, uint32_t id, uint32_t a, uint32_t b, uint32_t c, uint32_t e) {
    const uint32_t h[4] = {a, b, c, e};
    diXSetSizeHintsOf(d, id, h);
}
void opUpdateWindow(DiXDisplay* d, uint32_t id) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (w && !(d->flags & DI_XFLAG_DIRECT) && d->dev->updateWindow) d->dev->updateWindow(d, w);
}
void opSetPointerGrab(DiXDisplay* d, uint32_t id, uint32_t flags) {
    DiXWindow* w = diXLookupWindow(d, id);
    if (w && d->dev->grabPointer) d->dev->grabPointer(d, w, flags);
}

/* A temporary pixmap of an icon: not in the table. */
DiXPixmap* iconPixmap(DiXDisplay* d, int32_t w, int32_t h, uint32_t depth, const DiXImage* im) {
    if (w < 1 || h < 1 || uint32_t(w) > FB_MAX_SIDE || uint32_t(h) > FB_MAX_SIDE ||
        pixelBytes(w, h, depth) > (64u << 20))
        return nullptr;
    DiXPixmap* p = static_cast<DiXPixmap*>(calloc(1, d->pixmapSize));
    if (!p) return nullptr;
    p->head = DiXDrawable{1, DI_XPIXMAPS, 0, 0, w, h, depth, FbBuffer{}};
    if (!d->dev->createPixmap || d->dev->createPixmap(d, p) < 0) {
        free(p);
        return nullptr;
    }
    fbPutPixmapImage(&p->head.fb, 0, 0, im->width, im->height, im->depth, im->compression,
                     im->length, im->data);
    return p;
}
void dropIconPixmap(DiXDisplay* d, DiXPixmap* p) {
    if (!p) return;
    if (d->dev->freePixmap) d->dev->freePixmap(d, p);
    free(p);
}
void opSetWindowIconImage(DiXDisplay* d, uint32_t id, const DiXImage* image,
                          const DiXImage* mask) {
    if (!image) return;
    DiXPixmap* ip = iconPixmap(d, image->width, image->height, image->depth, image);
    if (!ip) return;
    DiXPixmap* mp = nullptr;
    if (mask && mask->length) mp = iconPixmap(d, image->width, image->height, 1, mask);
    DiXWindow* w = diXLookupWindow(d, id);
    if (w && d->dev->setIcon) d->dev->setIcon(d, w, ip, mp);
    dropIconPixmap(d, mp);
    dropIconPixmap(d, ip);
}

void opShowStatusText(DiXDisplay* d, const DiChar* text, uint32_t length) {
    DiObject* parent = d->ch.hdr.parent;
    if (!parent || parent->type != DI_OBJ_DEMANAGER) return;
    DiDEManager* m = reinterpret_cast<DiDEManager*>(parent);
    if (m->progress && length <= INT32_MAX) diProgAppendDetails(m->progress, int32_t(length), text);
}

void opMeasureDrawing(DiXDisplay* d) {
    diXRunDrawingProbe(d);
}
void opPropertyChanged(DiXDisplay* d, uint32_t op, const DiChar* w, uint32_t wl, const DiChar* n,
                       uint32_t nl, const DiChar* v, uint32_t vl) {
    diXDEPropertyChanged(d, op, w, wl, n, nl, v, vl);
}
void opFlushDueUpdates(DiXDisplay* d) {
    diXFlushDueUpdates(d);
}

} // namespace

const DiXRequestOps diXEngineOps = {
    /* putImage */ opPutImage,
    /* storeColors */ opStoreColors,
    /* bell */ opBell,
    /* sessionStatus */ opSessionStatus,
    /* polyLine */ opPolyLine,
    /* polySegment */ opPolySegment,
    /* polyRectangle */ opPolyRectangle,
    /* polyFillRectangle */ opPolyFillRectangle,
    /* fillPolygon */ opFillPolygon,
    /* copyArea */ opCopyArea,
    /* setStandardCursor */ opSetStandardCursor,
    /* createWindow */ opCreateWindow,
    /* destroyWindow */ opDestroyWindow,
    /* showWindow */ opShowWindow,
    /* configureWindow */ opConfigureWindow,
    /* setDrawable */ opSetDrawable,
    /* setForeground */ opSetForeground,
    /* setBackground */ opSetBackground,
    /* setFunction */ opSetFunction,
    /* setTile */ opSetTile,
    /* setStipple */ opSetStipple,
    /* setTSOrigin */ opSetTSOrigin,
    /* setFillStyle */ opSetFillStyle,
    /* createPixmap */ opCreatePixmap,
    /* freePixmap */ opFreePixmap,
    /* setGCField6 */ opSetGCField6,
    /* setFont */ opSetFont,
    /* setPlaneMask */ opSetPlaneMask,
    /* polyText8 */ opPolyText8,
    /* imageText8 */ opImageText8,
    /* openFont */ opOpenFont,
    /* closeFont */ opCloseFont,
    /* defineGlyph */ opDefineGlyph,
    /* putGlyphBits */ opPutGlyphBits,
    /* freeGlyph */ opFreeGlyph,
    /* setGCMode */ opSetGCMode,
    /* measureDrawing */ opMeasureDrawing,
    /* copyPlane */ opCopyPlane,
    /* startSession */ opStartSession,
    /* showStatusText */ opShowStatusText,
    /* clipboardData */ diXClipboardChunk,
    /* setWindowTitle */ opSetWindowTitle,
    /* setIconTitle */ opSetIconTitle,
    /* setWindowIconImage */ opSetWindowIconImage,
    /* setSizeHints */ opSetSizeHints,
    /* updateWindow */ opUpdateWindow,
    /* putSubImage */ opPutSubImage,
    /* propertyChanged */ opPropertyChanged,
    /* setPointerGrab */ opSetPointerGrab,
    /* createCursor */ opCreateCursor,
    /* setCursor */ opSetCursor,
    /* selectionTargets */ diXSelectionTargets,
    /* requestSelection */ diXRequestSelection,
    /* restackWindow */ opRestackWindow,
    /* createColorCursor */ opCreateColorCursor,
    /* flushDueUpdates */ opFlushDueUpdates,
};

const FbDamageSink diXDamageSink = {sinkRect, sinkLine, sinkBoxes};

DiXDrawable* diXLookupDrawable(DiXDisplay* d, uint32_t kind, uint32_t id) {
    if (kind == 0) {
        DiXWindow* w = diXLookupWindow(d, id);
        return w ? &w->head : nullptr;
    }
    if (kind == 1 && id < DI_XPIXMAPS && d->pixmaps[id]) return &d->pixmaps[id]->head;
    return nullptr;
}

int diXChargePixels(DiXDisplay* d, uint64_t bytes) {
    if (bytes > DI_XPIXEL_CEILING || d->pixelBytes + bytes > DI_XPIXEL_CEILING ||
        diXProcessTake(bytes) < 0)
        return diXRefusePixels();
    d->pixelBytes += bytes;
    return 0;
}

void diXReleasePixels(DiXDisplay* d, uint64_t bytes) {
    uint64_t held = bytes < d->pixelBytes ? bytes : d->pixelBytes;
    d->pixelBytes -= held;
    diXProcessGive(held);
}

DiXGC* diXCreateGC(DiXDisplay* d) {
    DiXGC* gc = static_cast<DiXGC*>(calloc(1, d->gcSize));
    if (!gc) return nullptr;
    gc->fb.ops = &fbNoOps;
    gc->fb.changeMask = 0xFFFFFFFFu;
    gc->fb.function = 3;
    gc->fb.planeMask = 0xFFFFFFFFu;
    gc->drawableId = DI_XWINDOWS;
    if (!d->dev->createGC || d->dev->createGC(d, gc) < 0) {
        free(gc);
        return nullptr;
    }
    return gc;
}

void diXFreeGC(DiXDisplay* d, DiXGC* gc) {
    if (!gc) return;
    if (d->dev->freeGC) d->dev->freeGC(d, gc);
    free(gc);
}

void diXValidateGC(DiXDisplay* d, DiXDrawable* drawable, DiXGC* gc) {
    if (!drawable || !gc) return;
    if (gc->fb.changeMask & DI_XGC_TILE)
        gc->tilePixmap = gc->tileId < DI_XPIXMAPS ? d->pixmaps[gc->tileId] : nullptr;
    if (gc->fb.changeMask & DI_XGC_STIPPLE)
        gc->stipplePixmap = gc->stippleId < DI_XPIXMAPS ? d->pixmaps[gc->stippleId] : nullptr;
    uint32_t flags = 0;
    if (!(gc->mode & DI_XGC_NO_DAMAGE) && drawable->kind == 0) {
        flags = 2;
        if (!(d->sessionFlags & DI_XSESSION_DAMAGE_MODE) && (gc->mode & 1)) flags = 6;
        if (gc->mode & 2) flags |= 8;
    }
    gc->fb.damageFlags = flags;
    if ((d->flags & DI_XFLAG_DIRECT) && drawable->kind == 0)
        fbValidateGC(d, &drawable->fb, &gc->fb);
    else if (d->dev->validateGC)
        d->dev->validateGC(d, drawable, gc);
    gc->fb.changeMask = 0;
}

void diXSetDrawable(DiXDisplay* d, DiXGC* gc, uint32_t kind, uint32_t id) {
    gc->drawableKind = kind;
    gc->drawableId = id;
    gc->drawable = diXLookupDrawable(d, kind, id);
    change(gc, FB_GC_DRAWABLE);
}

void diXSetGCMode(DiXDisplay* d, DiXGC* gc, uint32_t mode) {
    uint32_t old = gc->mode;
    gc->mode = mode;
    change(gc, DI_XGC_MODE);
    if (d->dev->gcModeChanged) d->dev->gcModeChanged(d, gc, mode);
    if ((mode & 1) && !(old & 1) && d->windows[0]) diXPaintExposures(d, d->windows[0]);
}

int diXCreatePixmap(DiXDisplay* d, uint32_t id, int32_t w, int32_t h, uint32_t depth) {
    if (id >= DI_XPIXMAPS) {
        refused(u"An X request names a pixmap beyond the table; it is ignored.");
        return -1;
    }
    if (w < 1 || h < 1 || uint32_t(w) > FB_MAX_SIDE || uint32_t(h) > FB_MAX_SIDE ||
        (depth != 1 && depth != 8 && depth != 16 && depth != 24)) {
        refused(u"An X pixmap has a size or depth this client cannot hold; it is ignored.");
        return -1;
    }
    /* An id in use: the old pixmap goes first. */
    if (d->pixmaps[id]) diXFreePixmap(d, id);
    uint64_t bytes = pixelBytes(w, h, depth);
    if (diXChargePixels(d, bytes) < 0) return -1;
    DiXPixmap* p = static_cast<DiXPixmap*>(calloc(1, d->pixmapSize));
    if (!p) {
        diXReleasePixels(d, bytes);
        return -1;
    }
    p->head = DiXDrawable{1, id, 0, 0, w, h, depth, FbBuffer{}};
    d->pixmaps[id] = p;
    if (!d->dev->createPixmap || d->dev->createPixmap(d, p) < 0) {
        d->pixmaps[id] = nullptr;
        free(p);
        diXReleasePixels(d, bytes);
        return -1;
    }
    /* A GC naming this id resolves it at its next validation. */
    if (d->gc && d->gc->drawableKind == 1 && d->gc->drawableId == id)
        diXSetDrawable(d, d->gc, 1, id);
    return 0;
}

void diXFreePixmap(DiXDisplay* d, uint32_t id) {
    DiXPixmap* p = id < DI_XPIXMAPS ? d->pixmaps[id] : nullptr;
    if (!p) return;
    forgetInGC(d, &p->head);
    forgetInGC(d, p);
    if (d->dev->freePixmap) d->dev->freePixmap(d, p);
    d->pixmaps[id] = nullptr;
    diXReleasePixels(d, pixelBytes(p->head.width, p->head.height, p->head.depth));
    free(p);
}

void diXFreeGlyph(DiXDisplay* d, uint32_t fontId, uint32_t index) {
    DiXFont* f = fontId < DI_XFONTS ? d->fonts[fontId] : nullptr;
    if (!f || index >= DI_XGLYPHS || !f->glyphs[index]) return;
    DiXGlyph* g = f->glyphs[index];
    if (d->dev->freeGlyph) d->dev->freeGlyph(d, f, g);
    f->glyphs[index] = nullptr;
    f->fbGlyphs[index] = nullptr;
    diXReleasePixels(d, pixelBytes(g->width, g->height, 1));
    free(g);
}

void diXCloseFont(DiXDisplay* d, uint32_t id) {
    DiXFont* f = id < DI_XFONTS ? d->fonts[id] : nullptr;
    if (!f) return;
    for (uint32_t i = 0; i < DI_XGLYPHS; i++)
        if (f->glyphs[i]) diXFreeGlyph(d, id, i);
    forgetInGC(d, f);
    if (d->dev->freeFont) d->dev->freeFont(d, f);
    d->fonts[id] = nullptr;
    free(f);
}

void diXFreeCursor(DiXDisplay* d, uint32_t id) {
    DiXCursor* c = id < DI_XCURSORS ? d->cursors[id] : nullptr;
    if (!c) return;
    if (d->dev->freeCursor) d->dev->freeCursor(d, c);
    d->cursors[id] = nullptr;
    free(c);
}

int diXCreateColormap(DiXDisplay* d, uint32_t first, uint32_t kind, uint32_t count) {
    if (kind != 0 || d->colormap) return -1;
    DiXColormap* c = static_cast<DiXColormap*>(calloc(1, d->colormapRecordSize));
    if (!c) return -1;
    c->first = first;
    c->kind = kind;
    c->count = count > 256 ? 256 : count;
    if (!d->dev->createColormap || d->dev->createColormap(d, c) < 0) {
        free(c);
        return -1;
    }
    d->colormap = c;
    return 0;
}

void diXFreeColormap(DiXDisplay* d) {
    DiXColormap* c = d->colormap;
    if (!c) return;
    if (d->dev->freeColormap) d->dev->freeColormap(d, c);
    d->colormap = nullptr;
    free(c);
}

void diXStoreColors(DiXDisplay* d, int32_t count, const uint8_t* e) {
    DiXColormap* c = d->colormap;
    if (!c || count <= 0 || !e) return;
    if (d->gc) d->gc->fb.changeMask |= FB_GC_FOREGROUND | FB_GC_VALIDATE;
    uint32_t lo = 255, hi = 0;
    for (int32_t i = 0; i < count; i++, e += 4) {
        c->entries[e[0]][0] = e[1];
        c->entries[e[0]][1] = e[2];
        c->entries[e[0]][2] = e[3];
        if (e[0] < lo) lo = e[0];
        if (e[0] > hi) hi = e[0];
    }
    if (d->dev->storeColors) d->dev->storeColors(d, c, lo, hi - lo + 1);
}
