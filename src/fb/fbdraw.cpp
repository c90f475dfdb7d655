/* The drawing families: one template over pixel storage gives the routines
 * of the 8, 16, 24 (3-byte) and 32-bit formats. Every routine first checks
 * that the destination is of its own format (a stale slot then draws
 * nothing) and clips every write to the destination, every read to its
 * source. */
#include "fb/fbpriv.h"

#include <stdlib.h>

namespace {

/* Largest coordinate magnitude a line may have; the wire's are 16-bit, so
 * anything beyond is damaged input, and it bounds the Bresenham walk. */
const int64_t kMaxLineCoord = 1 << 20;

inline uint32_t applyClass(uint32_t cls, uint32_t old, uint32_t a, uint32_t x) {
    switch (cls) {
    case FB_CLASS_AND: return old & a;
    case FB_CLASS_COPY: return x;
    case FB_CLASS_XOR: return old ^ x;
    case FB_CLASS_OR: return old | x;
    default: return (old & a) ^ x;
    }
}

inline bool stippleBit(const FbBuffer* s, int32_t x, int32_t y) {
    return (fbRow(s, y)[x >> 3] >> (x & 7)) & 1;
}

template <class P> struct Family {
    enum { B = P::B };

    static bool ok(const FbBuffer* d) { return fbBufferIs(d, P::Format); }
    static uint8_t* at(const FbBuffer* d, int32_t x, int32_t y) { return fbRow(d, y) + size_t(x) * B; }

    /* ---- runs and boxes (boxes already clipped) ---- */

    /* Wider pixels are written from a pattern of the pixel repeated over
     * 48 bytes, a whole number of 2-, 3- and 4-byte pixels: a run takes it
     * 48 bytes at a time, then its tail in a few stores of 16, 8 or 4
     * bytes, the last of which may overlap the one before. Every store
     * copies the pattern at its own offset from the run's start, so an
     * overlap writes the same bytes again and the run stays whole pixels. */
    struct Pattern {
        uint8_t bytes[48];
        explicit Pattern(uint32_t v) {
            for (int i = 0; i < 48; i += B)
                P::store(bytes + i, v);
        }
    };
    static void runPattern(uint8_t* p, size_t n, const Pattern& pat) {
        const uint8_t* s = pat.bytes;
        for (; n >= 48; n -= 48, p += 48)
            memcpy(p, s, 48);
        if (n >= 16) {
            memcpy(p, s, 16);
            if (n > 32)
                memcpy(p + 16, s + 16, 16);
            memcpy(p + n - 16, s + n - 16, 16);
        } else if (n >= 8) {
            memcpy(p, s, 8);
            memcpy(p + n - 8, s + n - 8, 8);
        } else if (n >= 4) {
            memcpy(p, s, 4);
            memcpy(p + n - 4, s + n - 4, 4);
        } else {
            for (size_t i = 0; i < n; i++)
                p[i] = s[i];
        }
    }
    static void runMasks(uint8_t* p, int32_t n, uint32_t a, uint32_t x) {
        for (int32_t i = 0; i < n; i++, p += B)
            P::store(p, (P::load(p) & a) ^ x);
    }
    static void solidBox(FbBuffer* d, FbBox b, uint32_t v) {
        if (b.empty())
            return;
        size_t n = size_t(b.x2 - b.x1) * B;
        if (B == 1) {
            for (int32_t y = b.y1; y < b.y2; y++)
                memset(at(d, b.x1, y), int(v & 0xFF), n);
            return;
        }
        Pattern pat(v);
        /* Row to row by the stride: up the bits unless rows run top down. */
        ptrdiff_t step = d->depth == 1 ? ptrdiff_t(d->stride) : -ptrdiff_t(d->stride);
        uint8_t* p = at(d, b.x1, b.y1);
        for (int32_t y = b.y1;;) {
            runPattern(p, n, pat);
            if (++y == b.y2)
                break;
            p += step;
        }
    }
    static void maskBox(FbBuffer* d, FbBox b, uint32_t a, uint32_t x) {
        for (int32_t y = b.y1; y < b.y2; y++)
            runMasks(at(d, b.x1, y), b.x2 - b.x1, a, x);
    }
    /* The tile pixel of (x, y) is tile[(x - ox) mod tw, (y - oy) mod th],
     * with the floor modulo, also left of and above the origin. */
    static void tileBox(FbBuffer* d, FbBox b, const FbBuffer* t, int32_t ox, int32_t oy,
                        bool copy, uint32_t function, uint32_t pm) {
        int32_t tw = t->width, th = t->height;
        for (int32_t y = b.y1; y < b.y2; y++) {
            const uint8_t* trow = fbRow(t, fbMod(int64_t(y) - oy, th));
            int32_t tx = fbMod(int64_t(b.x1) - ox, tw);
            uint8_t* p = at(d, b.x1, y);
            int32_t left = b.x2 - b.x1;
            if (copy) {
                while (left > 0) {
                    int32_t n = tw - tx < left ? tw - tx : left;
                    /* memmove: a drawable may be its own tile. */
                    memmove(p, trow + size_t(tx) * B, size_t(n) * B);
                    p += size_t(n) * B;
                    left -= n;
                    tx = 0;
                }
            } else {
                for (; left > 0; left--, p += B) {
                    uint32_t o = P::load(p);
                    uint32_t s = P::load(trow + size_t(tx) * B);
                    P::store(p, (o & ~pm) | (fbApplyRasterOp(function, s, o) & pm));
                    if (++tx == tw)
                        tx = 0;
                }
            }
        }
    }
    /* Set stipple bits take (fa, fx); clear bits (ba, bx) when opaque. */
    static void stippleBox(FbBuffer* d, FbBox b, const FbBuffer* s, int32_t ox, int32_t oy,
                           bool opaque, uint32_t fa, uint32_t fx, uint32_t ba, uint32_t bx) {
        int32_t sw = s->width, sh = s->height;
        for (int32_t y = b.y1; y < b.y2; y++) {
            const uint8_t* srow = fbRow(s, fbMod(int64_t(y) - oy, sh));
            int32_t sx = fbMod(int64_t(b.x1) - ox, sw);
            uint8_t* p = at(d, b.x1, y);
            for (int32_t x = b.x1; x < b.x2; x++, p += B) {
                if ((srow[sx >> 3] >> (sx & 7)) & 1)
                    P::store(p, (P::load(p) & fa) ^ fx);
                else if (opaque)
                    P::store(p, (P::load(p) & ba) ^ bx);
                if (++sx == sw)
                    sx = 0;
            }
        }
    }

    /* One clipped box in fill variant V (FB_FILL_*). */
    template <int V> static void fillBox(FbBuffer* d, FbGC* gc, FbBox b) {
        switch (V) {
        case FB_FILL_SOLID_COPY:
            solidBox(d, b, gc->fgXor);
            break;
        case FB_FILL_SOLID_XOR:
            maskBox(d, b, ~0u, gc->fgXor);
            break;
        case FB_FILL_SOLID_GENERAL:
            maskBox(d, b, gc->fgAnd, gc->fgXor);
            break;
        case FB_FILL_TILED_COPY:
        case FB_FILL_TILED_GENERAL:
            /* A tile of another format would be read with the wrong pixel size. */
            if (ok(gc->tile))
                tileBox(d, b, gc->tile, gc->originX, gc->originY, V == FB_FILL_TILED_COPY,
                        gc->function, gc->planeMask);
            break;
        case FB_FILL_STIPPLED_COPY:
        case FB_FILL_STIPPLED_GENERAL:
        case FB_FILL_OPAQUE_COPY:
        case FB_FILL_OPAQUE_GENERAL: {
            if (!fbBufferIs(gc->stipple, FB_FMT_1))
                break;
            bool copy = V == FB_FILL_STIPPLED_COPY || V == FB_FILL_OPAQUE_COPY;
            bool opaque = V == FB_FILL_OPAQUE_COPY || V == FB_FILL_OPAQUE_GENERAL;
            stippleBox(d, b, gc->stipple, gc->originX, gc->originY, opaque,
                       copy ? 0 : gc->fgAnd, gc->fgXor, copy ? 0 : gc->bgAnd, gc->bgXor);
            break;
        }
        }
    }

    /* ---- slot 4 and slot 11 ---- */

    template <int V>
    static void polyFillRect(void* display, FbBuffer* d, FbGC* gc, uint32_t count,
                             const FbRect* rects) {
        if (!ok(d) || !rects)
            return;
        for (uint32_t i = 0; i < count; i++) {
            FbBox b = fbClip(d, rects[i].x, rects[i].y, rects[i].width, rects[i].height);
            if (!b.empty())
                fillBox<V>(d, gc, b);
        }
        fbDamageBoxes(display, d, gc, count, rects);
    }

    template <int V>
    static void fillSpans(void*, FbBuffer* d, FbGC* gc, uint32_t count, const FbPoint* pts,
                          const int32_t* widths) {
        if (!ok(d) || !pts || !widths)
            return;
        for (uint32_t i = 0; i < count; i++) {
            FbBox b = fbClip(d, pts[i].x, pts[i].y, widths[i], 1);
            if (!b.empty())
                fillBox<V>(d, gc, b);
        }
    }

    /* ---- lines ---- */

    /* One segment from (x1, y1), included, to (x2, y2), excluded. Pixels
     * outside the buffer are skipped one by one, which leaves exactly the
     * pixels of the unclipped line that lie inside. */
    template <bool Copy> static void segment(FbBuffer* d, FbGC* gc, int64_t x1, int64_t y1,
                                             int64_t x2, int64_t y2) {
        if (x1 < -kMaxLineCoord || x1 > kMaxLineCoord || y1 < -kMaxLineCoord ||
            y1 > kMaxLineCoord || x2 < -kMaxLineCoord || x2 > kMaxLineCoord ||
            y2 < -kMaxLineCoord || y2 > kMaxLineCoord) {
            fbNoteBadInput("line coordinates out of range were not drawn.");
            return;
        }
        uint32_t cls = Copy ? FB_CLASS_COPY : gc->fgClass, a = gc->fgAnd, xm = gc->fgXor;
        if (x1 == x2 || y1 == y2) {
            /* Straight runs as a one-pixel-thick box. */
            int64_t bx, by, bw, bh;
            if (x1 == x2) {
                bx = x1;
                bw = 1;
                by = y2 > y1 ? y1 : y2 + 1;
                bh = y2 > y1 ? y2 - y1 : y1 - y2;
            } else {
                by = y1;
                bh = 1;
                bx = x2 > x1 ? x1 : x2 + 1;
                bw = x2 > x1 ? x2 - x1 : x1 - x2;
            }
            FbBox b = fbClip(d, bx, by, bw, bh);
            if (b.empty())
                return;
            if (Copy)
                solidBox(d, b, xm);
            else
                for (int32_t y = b.y1; y < b.y2; y++) {
                    uint8_t* p = at(d, b.x1, y);
                    for (int32_t x = b.x1; x < b.x2; x++, p += B)
                        P::store(p, applyClass(cls, P::load(p), a, xm));
                }
            return;
        }
        int64_t dx = x2 - x1, dy = y2 - y1;
        int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
        bool yMajor = adx <= ady;
        int octant = (dx < 0 ? 4 : 0) + (dy < 0 ? 2 : 0) + (yMajor ? 1 : 0);
        int64_t bias = (0xD8 >> octant) & 1;
        int64_t major = yMajor ? ady : adx, minor = yMajor ? adx : ady;
        int64_t e = 2 * minor - major - bias;
        int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
        int64_t x = x1, y = y1;
        int32_t w = d->width, h = d->height;
        if (x1 >= 0 && x1 < w && x2 >= 0 && x2 < w && y1 >= 0 && y1 < h && y2 >= 0 && y2 < h) {
            /* Every pixel lies between the end points: no per-pixel check.
             * One row down is one stride towards the start of the bits. */
            uint8_t* p = at(d, int32_t(x1), int32_t(y1));
            ptrdiff_t xStep = ptrdiff_t(sx) * B, yStep = -ptrdiff_t(sy) * ptrdiff_t(d->stride);
            ptrdiff_t majorStep = yMajor ? yStep : xStep, minorStep = yMajor ? xStep : yStep;
            for (int64_t i = 0; i < major; i++) {
                P::store(p, Copy ? xm : applyClass(cls, P::load(p), a, xm));
                if (e >= 0) {
                    p += minorStep;
                    e -= 2 * major;
                }
                e += 2 * minor;
                p += majorStep;
            }
            return;
        }
        for (int64_t i = 0; i < major; i++) {
            if (x >= 0 && x < w && y >= 0 && y < h) {
                uint8_t* p = at(d, int32_t(x), int32_t(y));
                P::store(p, Copy ? xm : applyClass(cls, P::load(p), a, xm));
            } else if (yMajor ? (sy > 0 ? y >= h : y < 0) : (sx > 0 ? x >= w : x < 0)) {
                break; /* moving away along the major axis: nothing more to draw */
            }
            if (e >= 0) {
                if (yMajor)
                    x += sx;
                else
                    y += sy;
                e -= 2 * major;
            }
            e += 2 * minor;
            if (yMajor)
                y += sy;
            else
                x += sx;
        }
    }

    template <bool Copy>
    static void polyLine(void* display, FbBuffer* d, FbGC* gc, uint32_t count, const FbPoint* pts) {
        if (!ok(d) || !pts || count < 2)
            return;
        for (uint32_t i = 0; i + 1 < count; i++) {
            segment<Copy>(d, gc, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y);
            fbDamageLine(display, d, gc, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y);
        }
    }

    template <bool Copy>
    static void polySegment(void* display, FbBuffer* d, FbGC* gc, uint32_t count,
                            const FbSegment* segs) {
        if (!ok(d) || !segs)
            return;
        for (uint32_t i = 0; i < count; i++) {
            const FbSegment& s = segs[i];
            segment<Copy>(d, gc, s.x1, s.y1, s.x2, s.y2);
            fbDamageLine(display, d, gc, s.x1, s.y1, s.x2, s.y2);
        }
    }

    /* ---- copies ---- */

    /* Clips a copy to both buffers; false when nothing is left. */
    static bool clipCopy(const FbBuffer* d, const FbBuffer* s, int32_t& dx, int32_t& dy,
                         int32_t& w, int32_t& h, int32_t& sx, int32_t& sy) {
        if (w <= 0 || h <= 0)
            return false;
        int64_t x1 = dx, y1 = dy, x2 = int64_t(dx) + w, y2 = int64_t(dy) + h;
        int64_t ox = int64_t(sx) - dx, oy = int64_t(sy) - dy; /* source = dest + offset */
        if (x1 < 0) x1 = 0;
        if (y1 < 0) y1 = 0;
        if (x1 < -ox) x1 = -ox;
        if (y1 < -oy) y1 = -oy;
        if (x2 > d->width) x2 = d->width;
        if (y2 > d->height) y2 = d->height;
        if (x2 > s->width - ox) x2 = s->width - ox;
        if (y2 > s->height - oy) y2 = s->height - oy;
        if (x1 >= x2 || y1 >= y2)
            return false;
        dx = int32_t(x1);
        dy = int32_t(y1);
        w = int32_t(x2 - x1);
        h = int32_t(y2 - y1);
        sx = int32_t(x1 + ox);
        sy = int32_t(y1 + oy);
        return true;
    }

    static void copyAreaCopy(void* display, FbBuffer* d, FbGC* gc, int32_t dx, int32_t dy,
                             int32_t w, int32_t h, FbBuffer* s, int32_t sx, int32_t sy) {
        if (!ok(d) || !ok(s) || !clipCopy(d, s, dx, dy, w, h, sx, sy))
            return;
        size_t bytes = size_t(w) * B;
        /* Rows move bottom first when they move down within one buffer, so
         * no source row is overwritten before it is read. */
        bool up = s->bits == d->bits && dy > sy;
        for (int32_t i = 0; i < h; i++) {
            int32_t r = up ? h - 1 - i : i;
            memmove(at(d, dx, dy + r), at(s, sx, sy + r), bytes);
        }
        fbDamageRect(display, d, gc, dx, dy, w, h);
    }

    static void copyAreaGeneral(void* display, FbBuffer* d, FbGC* gc, int32_t dx, int32_t dy,
                                int32_t w, int32_t h, FbBuffer* s, int32_t sx, int32_t sy) {
        if (!ok(d) || !ok(s) || !clipCopy(d, s, dx, dy, w, h, sx, sy))
            return;
        bool same = s->bits == d->bits;
        bool bottomFirst = same && dy > sy, rightFirst = same && dx > sx;
        uint32_t pm = gc->planeMask, fn = gc->function;
        for (int32_t i = 0; i < h; i++) {
            int32_t r = bottomFirst ? h - 1 - i : i;
            uint8_t* dp = at(d, dx, dy + r);
            const uint8_t* sp = at(s, sx, sy + r);
            for (int32_t j = 0; j < w; j++) {
                int32_t c = rightFirst ? w - 1 - j : j;
                uint8_t* p = dp + size_t(c) * B;
                uint32_t o = P::load(p);
                P::store(p, (o & ~pm) | (fbApplyRasterOp(fn, P::load(sp + size_t(c) * B), o) & pm));
            }
        }
        fbDamageRect(display, d, gc, dx, dy, w, h);
    }

    static void copyPlane(void* display, FbBuffer* d, FbGC* gc, int32_t dx, int32_t dy,
                          int32_t w, int32_t h, FbBuffer* s, int32_t sx, int32_t sy,
                          uint32_t plane) {
        if (!ok(d))
            return;
        int32_t rdx = dx, rdy = dy, rw = w, rh = h;
        bool bitmap = fbBufferIs(s, FB_FMT_1), same = ok(s);
        if ((bitmap || same) && clipCopy(d, s, dx, dy, w, h, sx, sy)) {
            /* Foreground where the plane is set, background elsewhere, through
             * the reduced masks: under clear, set or copyInverted the plain
             * pixels would be wrong. */
            uint32_t fa = gc->fgAnd, fx = gc->fgXor, ba = gc->bgAnd, bx = gc->bgXor;
            /* Within one buffer, walk away from the source as a copy does, so
             * that no source pixel is read after it was written. */
            bool within = !bitmap && s->bits == d->bits;
            bool bottomFirst = within && dy > sy, rightFirst = within && dx > sx;
            for (int32_t i = 0; i < h; i++) {
                int32_t r = bottomFirst ? h - 1 - i : i;
                uint8_t* row = at(d, dx, dy + r);
                for (int32_t j = 0; j < w; j++) {
                    int32_t c = rightFirst ? w - 1 - j : j;
                    uint8_t* p = row + size_t(c) * B;
                    bool set = bitmap ? stippleBit(s, sx + c, sy + r)
                                      : (P::load(at(s, sx + c, sy + r)) & plane) != 0;
                    P::store(p, (P::load(p) & (set ? fa : ba)) ^ (set ? fx : bx));
                }
            }
        }
        if (rw > 0 && rh > 0)
            fbDamageRect(display, d, gc, rdx, rdy, rw, rh);
    }

    /* ---- text ---- */

    static const FbGlyph* glyph(const FbGC* gc, uint8_t c) {
        if (!gc->glyphs)
            return nullptr;
        const FbGlyph* g = gc->glyphs[c];
        return g;
    }

    /* Walks the characters: each present glyph with a bitmap is handed to
     * draw(box clipped, glyph, left, top); the union of the glyph boxes is
     * reported as damage. */
    template <class Draw>
    static void walkText(void* display, FbBuffer* d, FbGC* gc, int32_t x, int32_t y,
                         uint32_t count, const uint8_t* chars, Draw draw) {
        if (!ok(d) || !chars)
            return;
        int64_t pen = x;
        int64_t ux1 = INT64_MAX, uy1 = INT64_MAX, ux2 = INT64_MIN, uy2 = INT64_MIN;
        for (uint32_t i = 0; i < count; i++) {
            const FbGlyph* g = glyph(gc, chars[i]);
            if (!g)
                continue; /* missing in the font: nothing drawn, no advance */
            int64_t gx = pen + g->xOffset, gy = int64_t(y) - g->yOffset;
            pen += g->advance;
            if (pen < INT32_MIN || pen > INT32_MAX)
                break;
            if (!fbBufferIs(&g->bitmap, FB_FMT_1))
                continue; /* an empty glyph paints nothing */
            int64_t gw = g->bitmap.width, gh = g->bitmap.height;
            FbBox b = fbClip(d, gx, gy, gw, gh);
            if (!b.empty())
                draw(b, g, int32_t(gx), int32_t(gy));
            if (gx < ux1) ux1 = gx;
            if (gy < uy1) uy1 = gy;
            if (gx + gw > ux2) ux2 = gx + gw;
            if (gy + gh > uy2) uy2 = gy + gh;
        }
        if (ux1 < ux2 && ux1 >= INT32_MIN && uy1 >= INT32_MIN && ux2 - ux1 <= INT32_MAX &&
            uy2 - uy1 <= INT32_MAX)
            fbDamageRect(display, d, gc, int32_t(ux1), int32_t(uy1), int32_t(ux2 - ux1),
                         int32_t(uy2 - uy1));
    }

    /* Glyph pixels of box b: set bits (fa, fx), clear bits (ba, bx) when opaque. */
    static void glyphBox(FbBuffer* d, FbBox b, const FbGlyph* g, int32_t gx, int32_t gy,
                         bool opaque, uint32_t fa, uint32_t fx, uint32_t ba, uint32_t bx) {
        for (int32_t y = b.y1; y < b.y2; y++) {
            const uint8_t* grow = fbRow(&g->bitmap, y - gy);
            uint8_t* p = at(d, b.x1, y);
            for (int32_t x = b.x1; x < b.x2; x++, p += B) {
                int32_t c = x - gx;
                if ((grow[c >> 3] >> (c & 7)) & 1)
                    P::store(p, (P::load(p) & fa) ^ fx);
                else if (opaque)
                    P::store(p, (P::load(p) & ba) ^ bx);
            }
        }
    }

    /* Set glyph bits become v, one byte of the bitmap at a time. */
    static void glyphSet(FbBuffer* d, FbBox b, const FbGlyph* g, int32_t gx, int32_t gy, uint32_t v) {
        int32_t c1 = b.x1 - gx, c2 = b.x2 - gx;
        for (int32_t y = b.y1; y < b.y2; y++) {
            const uint8_t* grow = fbRow(&g->bitmap, y - gy);
            uint8_t* row = fbRow(d, y);
            for (int32_t c = c1 & ~7; c < c2; c += 8) {
                uint32_t bits = grow[c >> 3];
                if (c < c1)
                    bits &= 0xFFu << (c1 - c);
                if (c2 - c < 8)
                    bits &= (1u << (c2 - c)) - 1;
                for (; bits; bits &= bits - 1) {
                    int32_t k = c + __builtin_ctz(bits); /* c1 <= k < c2: inside the box */
                    P::store(row + size_t(gx + k) * B, v);
                }
            }
        }
    }

    template <bool Copy>
    static void polyText8(void* display, FbBuffer* d, FbGC* gc, int32_t x, int32_t y,
                          uint32_t count, const uint8_t* chars) {
        uint32_t fa = gc->fgAnd, fx = gc->fgXor;
        walkText(display, d, gc, x, y, count, chars,
                 [&](FbBox b, const FbGlyph* g, int32_t gx, int32_t gy) {
                     if (Copy)
                         glyphSet(d, b, g, gx, gy, fx);
                     else
                         glyphBox(d, b, g, gx, gy, false, fa, fx, 0, 0);
                 });
    }

    /* Image text is drawn with copy whatever the GC's function; only the
     * plane mask applies. */
    template <bool Copy>
    static void imageText8(void* display, FbBuffer* d, FbGC* gc, int32_t x, int32_t y,
                           uint32_t count, const uint8_t* chars) {
        uint32_t fa = 0, fx = gc->foreground, ba = 0, bx = gc->background;
        if (!Copy) {
            fbReduceRasterOp(3, gc->foreground, gc->planeMask, &fa, &fx);
            fbReduceRasterOp(3, gc->background, gc->planeMask, &ba, &bx);
        }
        walkText(display, d, gc, x, y, count, chars,
                 [&](FbBox b, const FbGlyph* g, int32_t gx, int32_t gy) {
                     if (Copy && B == 1)
                         nibbleBox(d, b, g, gx, gy, uint8_t(fx), uint8_t(bx));
                     else
                         glyphBox(d, b, g, gx, gy, true, fa, fx, ba, bx);
                 });
    }

    /* 8 bpp opaque glyphs, four pixels per look-up in the nibble table. */
    static void nibbleBox(FbBuffer* d, FbBox b, const FbGlyph* g, int32_t gx, int32_t gy,
                          uint8_t fg, uint8_t bg) {
        static bool built;
        static uint8_t builtFg, builtBg;
        if (!built || builtFg != fg || builtBg != bg) {
            fbSetOpaqueNibbles(fg, bg);
            built = true;
            builtFg = fg;
            builtBg = bg;
        }
        const uint8_t* table = fbOpaqueNibbles();
        int32_t c1 = b.x1 - gx, c2 = b.x2 - gx; /* glyph columns drawn */
        for (int32_t y = b.y1; y < b.y2; y++) {
            const uint8_t* grow = fbRow(&g->bitmap, y - gy);
            uint8_t* p = at(d, b.x1, y);
            for (int32_t c = c1; c < c2;) {
                uint8_t eight[8];
                uint8_t bits = grow[c >> 3];
                memcpy(eight, table + (bits & 15) * 4, 4);
                memcpy(eight + 4, table + (bits >> 4) * 4, 4);
                int32_t from = c & 7, n = 8 - from < c2 - c ? 8 - from : c2 - c;
                memcpy(p, eight + from, size_t(n));
                p += n;
                c += n;
            }
        }
    }

    /* ---- rectangle outlines ---- */

    static void polyRectangle(void* display, FbBuffer* d, FbGC* gc, uint32_t count,
                              const FbRect* rects) {
        if (!ok(d) || !rects)
            return;
        for (uint32_t i = 0; i < count; i++) {
            const FbRect& r = rects[i];
            int64_t x2 = int64_t(r.x) + r.width, y2 = int64_t(r.y) + r.height;
            if (x2 > INT32_MAX || y2 > INT32_MAX)
                continue;
            FbPoint pts[5] = {{r.x, r.y}, {int32_t(x2), r.y}, {int32_t(x2), int32_t(y2)},
                              {r.x, int32_t(y2)}, {r.x, r.y}};
            /* Through the current line slot, whatever routine it holds. */
            gc->ops->PolyLine(display, d, gc, 5, pts);
        }
    }

    static FbFamily table() {
        FbFamily f;
        f.putImage = fbPutImage<P>;
        f.putSubImage = fbPutSubImage<P>;
        f.copyPlane = copyPlane;
        f.polyLine[0] = polyLine<true>;
        f.polyLine[1] = polyLine<false>;
        f.polySegment[0] = polySegment<true>;
        f.polySegment[1] = polySegment<false>;
        f.polyRectangle = polyRectangle;
        f.polyFillRect[FB_FILL_SOLID_COPY] = polyFillRect<FB_FILL_SOLID_COPY>;
        /* Only 8 bpp has its own xor fill; wider pixels use the general one. */
        f.polyFillRect[FB_FILL_SOLID_XOR] =
            B == 1 ? polyFillRect<FB_FILL_SOLID_XOR> : polyFillRect<FB_FILL_SOLID_GENERAL>;
        f.polyFillRect[FB_FILL_SOLID_GENERAL] = polyFillRect<FB_FILL_SOLID_GENERAL>;
        f.polyFillRect[FB_FILL_TILED_COPY] = polyFillRect<FB_FILL_TILED_COPY>;
        f.polyFillRect[FB_FILL_TILED_GENERAL] = polyFillRect<FB_FILL_TILED_GENERAL>;
        f.polyFillRect[FB_FILL_STIPPLED_COPY] = polyFillRect<FB_FILL_STIPPLED_COPY>;
        f.polyFillRect[FB_FILL_STIPPLED_GENERAL] = polyFillRect<FB_FILL_STIPPLED_GENERAL>;
        f.polyFillRect[FB_FILL_OPAQUE_COPY] = polyFillRect<FB_FILL_OPAQUE_COPY>;
        f.polyFillRect[FB_FILL_OPAQUE_GENERAL] = polyFillRect<FB_FILL_OPAQUE_GENERAL>;
        f.fillSpans[FB_SPANS_SOLID_COPY] = fillSpans<FB_FILL_SOLID_COPY>;
        f.fillSpans[FB_SPANS_SOLID_GENERAL] = fillSpans<FB_FILL_SOLID_GENERAL>;
        f.fillSpans[FB_SPANS_TILED_COPY] = fillSpans<FB_FILL_TILED_COPY>;
        f.fillSpans[FB_SPANS_TILED_GENERAL] = fillSpans<FB_FILL_TILED_GENERAL>;
        f.fillSpans[FB_SPANS_STIPPLED_COPY] = fillSpans<FB_FILL_STIPPLED_COPY>;
        f.fillSpans[FB_SPANS_STIPPLED_GENERAL] = fillSpans<FB_FILL_STIPPLED_GENERAL>;
        f.fillSpans[FB_SPANS_OPAQUE_COPY] = fillSpans<FB_FILL_OPAQUE_COPY>;
        f.fillSpans[FB_SPANS_OPAQUE_GENERAL] = fillSpans<FB_FILL_OPAQUE_GENERAL>;
        f.copyArea[0] = copyAreaCopy;
        f.copyArea[1] = copyAreaGeneral;
        f.polyText8[0] = polyText8<true>;
        f.polyText8[1] = polyText8<false>;
        f.imageText8[0] = imageText8<true>;
        f.imageText8[1] = imageText8<false>;
        return f;
    }
};

FbFamily bitmapTable() {
    FbFamily f = {};
    f.putImage = fbPutImage<FbPix1>;
    f.putSubImage = fbPutSubImage<FbPix1>;
    return f;
}

} // namespace

const FbFamily fbFamilies[5] = {bitmapTable(), Family<FbPix8>::table(), Family<FbPix16>::table(),
                                Family<FbPix24>::table(), Family<FbPix32>::table()};
