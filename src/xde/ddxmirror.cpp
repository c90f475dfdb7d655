/* The X display's GDI mirror, pixel colours and scaled repaint (see
 * ddxmirror.h). */
#include "xde/ddxmirror.h"
#include "xde/ddxint.h"
#include "xde/dixbits.h"
#include "xde/dixmirror.h"

#include "core/ddapp.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddscale.h"
#include "ui/discale.h"

#include <stdlib.h>
#include <string.h>

/* Per display: the screen's answers for pixel values. */
struct DdXMirror {
    struct Entry {
        uint32_t pixel, colour, valid;
    };
    Entry cache[4096];
};

namespace {

DdXMirror* mirrorOf(DiXDisplay* d) {
    DdXDisplay* x = ddXDev(d);
    if (!x->mirror) x->mirror = static_cast<DdXMirror*>(calloc(1, sizeof(DdXMirror)));
    return x->mirror;
}

uint32_t cellColour(const DiXDisplay* d, uint32_t pixel) {
    if (!d->colormap) return 0;
    const uint8_t* e = d->colormap->entries[pixel & 0xFF];
    return uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16;
}

int screenBitsOf(HDC dc) {
    return dc ? GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) : 24;
}

/* The screen's colour for a pixel: written into the top-left pixel of the
 * root's DIB, copied 1x1 into a screen-compatible bitmap and read back;
 * the buffer's pixel is put back. 0 with *ok false when there is no
 * buffer to try it in. */
uint32_t probeScreenPixel(DiXDisplay* d, uint32_t pixel, bool* ok) {
    *ok = false;
    DdXDisplay* x = ddXDev(d);
    DiXWindow* root = d->windows[0];
    if (!x->rootDC || !root || !root->head.fb.dibBits || root->head.fb.height <= 0) return 0;
    const FbBuffer& b = root->head.fb;
    uint32_t bpp = b.bytesPerPixel;
    if (bpp < 1 || bpp > 4) return 0;
    uint8_t* p = static_cast<uint8_t*>(b.dibBits) + size_t(b.height - 1) * b.dibStride;
    uint8_t saved[4];
    GdiFlush();
    memcpy(saved, p, bpp);
    for (uint32_t i = 0; i < bpp; i++)
        p[i] = uint8_t(pixel >> (8 * i));
    HDC screen = GetDC(nullptr);
    HDC mem = screen ? CreateCompatibleDC(screen) : nullptr;
    HBITMAP one = screen ? CreateCompatibleBitmap(screen, 1, 1) : nullptr;
    COLORREF c = CLR_INVALID;
    if (mem && one) {
        HGDIOBJ old = SelectObject(mem, one);
        if (BitBlt(mem, 0, 0, 1, 1, x->rootDC, 0, 0, SRCCOPY)) c = GetPixel(mem, 0, 0);
        SelectObject(mem, old);
    }
    if (one) DeleteObject(one);
    if (mem) DeleteDC(mem);
    if (screen) ReleaseDC(nullptr, screen);
    GdiFlush();
    memcpy(p, saved, bpp);
    if (c == CLR_INVALID) return 0;
    *ok = true;
    return uint32_t(c) & 0xFFFFFF;
}

/* The GDI colour of a pixel drawn by the GC: the colormap cell at depth 8,
 * else the screen's colour. */
uint32_t gdiColour(DiXDisplay* d, uint32_t pixel) {
    return d->depth == 8 ? cellColour(d, pixel) : ddXGetPixelColor(d, pixel);
}

DdXGCRecord* recordOf(FbGC* g) {
    return reinterpret_cast<DdXGCRecord*>(reinterpret_cast<DiXGC*>(g));
}

/* The GDI context showing the window: the display's view, or in
 * multi-window mode the window's own frame (none for windows without). */
DdGC* targetOf(DiXDisplay* d, DiXWindow* w) {
    if (d->sessionFlags & DI_XSESSION_MULTI) return w->frame ? w->frame->hdr.gc : nullptr;
    return d->ch.hdr.gc;
}

/* Scaling switched on since the GC was validated: the screen shows the
 * buffer resampled, so the drawing goes the ordinary way until the next
 * validation. */
bool scaledNow(void* display) {
    return diScaleIsScaling(&static_cast<DiXDisplay*>(display)->ch.hdr);
}

/* Runs the frame-buffer operation with the GC's ordinary damage report
 * off (the mirror shows the change) and its own vector active. */
template <class F> void runFb(void* display, FbGC* g, DdXGCRecord* r, F op) {
    uint32_t flags = g->damageFlags;
    FbGCOps* active = g->ops;
    if (!scaledNow(display)) g->damageFlags = flags & ~DI_XDAMAGE_EXPOSE;
    g->ops = r->fbOps;
    op(r->fbOps);
    g->damageFlags = flags;
    g->ops = active;
}

/* The context to repeat the request on, its colour and function set, or
 * none. With a partial plane mask the colour is read back from the pixel
 * the request drew first, when that lies in the buffer. */
DdGC* beginGdi(void* display, FbBuffer* dst, FbGC* g, DdXGCRecord* r, const int32_t* first) {
    DiXDisplay* d = static_cast<DiXDisplay*>(display);
    DiXDrawable* dr = r->gc.drawable;
    if (!d || !dr || dr->kind != 0 || &dr->fb != dst || scaledNow(display)) return nullptr;
    DdGC* t = targetOf(d, reinterpret_cast<DiXWindow*>(dr));
    if (!t || !ddGDIGetDC(t)) return nullptr;
    uint32_t px;
    if ((g->damageFlags & DI_XDAMAGE_RECOLOUR) && first &&
        diXBufferPixel(dst, first[0], first[1], &px))
        r->colour = gdiColour(d, (px & ~g->planeMask) | (g->foreground & g->planeMask));
    ddGDISetForeground(t, r->colour);
    ddGDISetFunction(t, g->function);
    return t;
}

int32_t gdiCount(uint32_t count) {
    return count > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(count);
}

int32_t side(uint32_t v) {
    return v > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(v);
}

/* Rectangles for GDI: sides past INT32_MAX would turn negative there. */
const DdGCRect* gdiRects(uint32_t count, const FbRect* rects) {
    static DdGCRect* scratch;
    static uint32_t cap;
    if (count > cap) {
        if (count > (1u << 20)) return nullptr;
        DdGCRect* grown = static_cast<DdGCRect*>(realloc(scratch, sizeof(DdGCRect) * count));
        if (!grown) return nullptr;
        scratch = grown;
        cap = count;
    }
    for (uint32_t i = 0; i < count; i++)
        scratch[i] = DdGCRect{rects[i].x, rects[i].y, side(rects[i].width), side(rects[i].height)};
    return scratch;
}

static_assert(sizeof(FbPoint) == sizeof(DdGCPoint), "points pass to GDI as they are");
static_assert(sizeof(FbSegment) == 2 * sizeof(DdGCPoint), "a segment is two points");

void mPolyLine(void* display, FbBuffer* dst, FbGC* g, uint32_t count, const FbPoint* points) {
    DdXGCRecord* r = recordOf(g);
    runFb(display, g, r, [&](FbGCOps* o) { o->PolyLine(display, dst, g, count, points); });
    if (!count || !points) return;
    int32_t first[2] = {points[0].x, points[0].y};
    if (DdGC* t = beginGdi(display, dst, g, r, first))
        ddGDIPolyline(t, gdiCount(count), reinterpret_cast<const DdGCPoint*>(points));
}

void mPolySegment(void* display, FbBuffer* dst, FbGC* g, uint32_t count,
                  const FbSegment* segments) {
    DdXGCRecord* r = recordOf(g);
    runFb(display, g, r, [&](FbGCOps* o) { o->PolySegment(display, dst, g, count, segments); });
    if (!count || !segments) return;
    int32_t first[2] = {segments[0].x1, segments[0].y1};
    if (DdGC* t = beginGdi(display, dst, g, r, first))
        ddGDIPolySegment(t, gdiCount(count), reinterpret_cast<const DdGCPoint*>(segments));
}

void mPolyRectangle(void* display, FbBuffer* dst, FbGC* g, uint32_t count, const FbRect* rects) {
    DdXGCRecord* r = recordOf(g);
    runFb(display, g, r, [&](FbGCOps* o) { o->PolyRectangle(display, dst, g, count, rects); });
    if (!count || !rects) return;
    int32_t first[2] = {rects[0].x, rects[0].y};
    DdGC* t = beginGdi(display, dst, g, r, first);
    const DdGCRect* gr = t ? gdiRects(count, rects) : nullptr;
    if (gr) ddGDIPolyRectangle(t, gdiCount(count), gr);
}

void mPolyFillRect(void* display, FbBuffer* dst, FbGC* g, uint32_t count, const FbRect* rects) {
    DdXGCRecord* r = recordOf(g);
    runFb(display, g, r, [&](FbGCOps* o) { o->PolyFillRect(display, dst, g, count, rects); });
    if (!count || !rects) return;
    int32_t first[2] = {rects[0].x, rects[0].y};
    DdGC* t = beginGdi(display, dst, g, r, first);
    const DdGCRect* gr = t ? gdiRects(count, rects) : nullptr;
    if (gr) ddGDIFillRectangles(t, gdiCount(count), gr);
}

void mFillPolygon(void* display, FbBuffer* dst, FbGC* g, uint32_t shape, uint32_t count,
                  const FbPoint* points) {
    DdXGCRecord* r = recordOf(g);
    runFb(display, g, r, [&](FbGCOps* o) { o->FillPolygon(display, dst, g, shape, count, points); });
    /* The buffer holds convex polygons only: GDI repeats just those. */
    if (shape != 2 || !count || !points) return;
    int32_t first[2] = {points[0].x, points[0].y};
    if (DdGC* t = beginGdi(display, dst, g, r, first))
        ddGDIFillPolygon(t, gdiCount(count), reinterpret_cast<const DdGCPoint*>(points));
}

} // namespace

uint32_t ddXGetPixelColor(DiXDisplay* d, uint32_t pixel) {
    const uint32_t depth = d->depth;
    if (depth < 8 || depth > 32) return 0;
    if (depth == 8) return cellColour(d, pixel);
    uint32_t colour;
    if (diXPixelColorLocal(depth, pixel, (d->flags & DI_XFLAG_DITHER) != 0, nullptr, &colour))
        return colour;
    if (depth != 16 && depth != 24 && depth != 32) return 0;
    DdXMirror* m = mirrorOf(d);
    DdXMirror::Entry* e = m ? &m->cache[diXColorCacheIndex(depth, pixel)] : nullptr;
    if (e && e->valid && e->pixel == pixel) return e->colour;
    bool ok;
    colour = probeScreenPixel(d, pixel, &ok);
    if (ok && e) *e = DdXMirror::Entry{pixel, colour, 1};
    return colour;
}

int ddXCreateGC(DiXDisplay* d, DiXGC* gc) {
    if (fbCreateGC(d, &gc->fb) < 0) return -1;
    reinterpret_cast<DdXGCRecord*>(gc)->fbOps = gc->fb.ops;
    return 0;
}

void ddXFreeGC(DiXDisplay* d, DiXGC* gc) {
    DdXGCRecord* r = reinterpret_cast<DdXGCRecord*>(gc);
    if (r->fbOps) gc->fb.ops = r->fbOps;
    r->fbOps = nullptr;
    fbDestroyGC(d, &gc->fb);
}

void ddXValidateGC(DiXDisplay* d, DiXDrawable* drawable, DiXGC* gc) {
    DdXGCRecord* r = reinterpret_cast<DdXGCRecord*>(gc);
    if (r->fbOps) gc->fb.ops = r->fbOps;
    fbValidateGC(d, &drawable->fb, &gc->fb);
    FbGC& g = gc->fb;
    if (!r->fbOps || !(g.damageFlags & DI_XDAMAGE_MIRROR_OK) || drawable->kind != 0 ||
        diScaleIsScaling(&d->ch.hdr))
        return;
    DiXWindow* w = reinterpret_cast<DiXWindow*>(drawable);
    if ((d->sessionFlags & DI_XSESSION_MULTI) && w->head.id == 0) return;
    DdGC* target = targetOf(d, w);
    if (!target || !ddGDIGetDC(target)) return;
    /* A frame's view shows its window's part of the shared buffer: GDI
     * draws in buffer coordinates only once the view's origin is there. */
    POINT org{0, 0};
    if ((d->sessionFlags & DI_XSESSION_MULTI) &&
        (!GetWindowOrgEx(ddGDIGetDC(target), &org) || org.x != w->head.x || org.y != w->head.y))
        return;
    DiXMirrorFacts f{};
    f.xDepth = d->depth;
    f.screenBits = uint32_t(screenBitsOf(ddGDIGetDC(target)));
    f.planeMask = g.planeMask;
    f.fgClass = g.fgClass;
    f.function = g.function;
    f.fillStyle = g.fillStyle;
    f.gcMode = gc->mode;
    f.sessionFlags = d->sessionFlags;
    f.activity = w->activity;
    f.dither = (d->flags & DI_XFLAG_DITHER) != 0;
    DiXMirrorChoice c = diXMirrorChoose(f);
    g.damageFlags = (g.damageFlags & ~c.clearFlags) | c.setFlags;
    if (!c.install) return;
    r->colour = gdiColour(d, g.foreground);
    r->mirrorOps = *r->fbOps;
    r->mirrorOps.PolyLine = mPolyLine;
    r->mirrorOps.PolySegment = mPolySegment;
    r->mirrorOps.PolyRectangle = mPolyRectangle;
    if (c.fills) {
        r->mirrorOps.PolyFillRect = mPolyFillRect;
        r->mirrorOps.FillPolygon = mFillPolygon;
    }
    g.ops = &r->mirrorOps;
}

int ddXPaintScaled(DiXDisplay* d, int32_t count, const DiBox* boxes) {
    DiObject* engine = &d->ch.hdr;
    DiScaler* s = engine->scaler;
    if (!diScaleIsScaling(engine) || !s->active) return 0;
    DdXDisplay* x = ddXDev(d);
    HDC dc = ddXViewDC(d);
    HDC scaled = ddScaleDC(s);
    const DiXWindow* root = d->windows[0];
    /* Scaling on and no scaler bitmap: nothing to show. */
    if (!dc || !scaled || !root || !root->head.fb.bits) return 1;
    DdColorMap* map = ddXPaintMap(d);
    /* A palette scaler shows its indexes through the buffer's colour table. */
    DdScaleResources* res = static_cast<DdScaleResources*>(s->resources);
    if (res && res->dibDepth == 8 && x->rootDC) {
        RGBQUAD table[256];
        UINT n = GetDIBColorTable(x->rootDC, 0, 256, table);
        if (n) SetDIBColorTable(scaled, 0, n, table);
    }
    for (int32_t i = 0; i < count; i++) {
        const DiBox& b = boxes[i];
        if (b.x2 <= b.x1 || b.y2 <= b.y1) continue;
        /* A pixel more each side: the smooth scaler blends neighbours. */
        int32_t x1 = b.x1 > 0 ? b.x1 - 1 : 0, y1 = b.y1 > 0 ? b.y1 - 1 : 0;
        int32_t x2 = b.x2 < s->srcWidth ? b.x2 + 1 : s->srcWidth;
        int32_t y2 = b.y2 < s->srcHeight ? b.y2 + 1 : s->srcHeight;
        if (x2 <= x1 || y2 <= y1) continue;
        int32_t t[4];
        if (!ddScaleRenderRect(engine, map, &root->head.fb, x1, y1, x2 - x1, y2 - y1, t)) continue;
        BitBlt(dc, t[0], t[1], t[2], t[3], scaled, t[0], t[1], SRCCOPY);
    }
    GdiFlush();
    return 1;
}

DdColorMap* ddXPaintMap(DiXDisplay* d) {
    DdXDisplay* x = ddXDev(d);
    /* An 8-bit X pixel names a cell of the display's colormap: its device
     * map gives the cell's entry, or its colour to dither. */
    DdXColormapRecord* r = reinterpret_cast<DdXColormapRecord*>(d->colormap);
    if (d->depth == 8 && r && r->map) return r->map;
    return x->ditherMap ? x->ditherMap : g_ddApp ? g_ddApp->colorMap : nullptr;
}

void ddXMirrorFree(DdXDisplay* x) {
    free(x->mirror);
    x->mirror = nullptr;
}
