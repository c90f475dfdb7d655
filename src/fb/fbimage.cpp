/* Image put: raw rows, row run-length, 16x16 tiles and the entry to the
 * interleaved run-length decoder, per pixel format; interlaced rows; the
 * GC-less put into pixmaps and glyphs; pixmap and glyph allocation.
 *
 * All image data is read through one cursor that stops at the data's
 * length; every write is clipped to the image's own rows and to the
 * buffer. */
#include "fb/fbpriv.h"
#include "fb/fbrle.h"

#include <stdlib.h>
#if defined(__i386__) || defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace {

/* Bounds-checked reader over one image's data: after the first short read
 * every getter fails and the image ends there. */
struct Cursor {
    const uint8_t* p;
    size_t left;
    size_t start;
    bool failed;

    Cursor(const uint8_t* data, uint32_t length) : p(data), left(data ? length : 0), start(left), failed(false) {}
    /* Sizes come in 64 bits: a row of 2^31 3-byte pixels must not wrap to
     * a few bytes in the 32-bit build. */
    bool need(uint64_t n) {
        if (failed || left < n) {
            failed = true;
            return false;
        }
        return true;
    }
    const uint8_t* take(uint64_t n) {
        if (!need(n))
            return nullptr;
        const uint8_t* r = p;
        p += size_t(n);
        left -= size_t(n);
        return r;
    }
    bool u8(uint32_t& v) {
        const uint8_t* b = take(1);
        if (b)
            v = b[0];
        return b != nullptr;
    }
    bool u16(uint32_t& v) {
        const uint8_t* b = take(2);
        if (b)
            v = uint32_t(b[0]) | uint32_t(b[1]) << 8;
        return b != nullptr;
    }
    template <class P> bool pixel(uint32_t& v) {
        const uint8_t* b = take(P::DataB);
        if (b)
            v = fbDataPixel<P>(b);
        return b != nullptr;
    }
    size_t consumed() const { return start - left; }
};

/* Four 3-byte pixels (12 bytes) to four 32-bit pixels with a zero top
 * byte, by whole-word moves: the raw put into 32 bpp runs at memory speed
 * only without a per-byte loop. */
inline void expand4(uint8_t* dst, const uint8_t* src) {
    uint32_t w0 = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 | uint32_t(src[3]) << 24;
    uint32_t w1 = uint32_t(src[4]) | uint32_t(src[5]) << 8 | uint32_t(src[6]) << 16 | uint32_t(src[7]) << 24;
    uint32_t w2 = uint32_t(src[8]) | uint32_t(src[9]) << 8 | uint32_t(src[10]) << 16 | uint32_t(src[11]) << 24;
    uint32_t p[4] = {w0 & 0xFFFFFF, (w0 >> 24) | (w1 & 0xFFFF) << 8, (w1 >> 16) | (w2 & 0xFF) << 16, w2 >> 8};
    for (int i = 0; i < 4; i++)
        FbPix32::store(dst + 4 * i, p[i]);
}

#if defined(__i386__) || defined(__x86_64__)
/* The same, four pixels per byte shuffle where the processor has one
 * (chosen at run time: the 32-bit build assumes no more than i686). Loads
 * are 16 bytes of which 12 are used, so 6 pixels must remain; returns the
 * pixels done. */
__attribute__((target("ssse3"))) size_t expandShuffle(uint8_t* dst, const uint8_t* src, size_t n) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    size_t i = 0;
    for (; n - i >= 6; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i)), order));
    return i;
}
bool HaveShuffle() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

/* One row of an image in units: pixels, or at depth 1 bytes of 8 pixels.
 * Writes are clipped to the image's own row (`units` wide from `u0`) and
 * to the buffer's row. */
template <class P> struct RowWriter {
    uint8_t* row; /* 0 when the row lies outside the buffer */
    int64_t u0;   /* buffer unit of the image's left edge */
    int64_t units;
    int64_t limit; /* units in a buffer row */

    RowWriter(FbBuffer* d, int64_t x, int64_t y, int64_t w) {
        if (P::Format == FB_FMT_1) {
            u0 = x >> 3; /* x is taken as a multiple of 8 */
            units = (w + 7) / 8;
            limit = (int64_t(d->width) + 7) / 8;
        } else {
            u0 = x;
            units = w;
            limit = d->width;
        }
        row = y >= 0 && y < d->height ? fbRow(d, int32_t(y)) : nullptr;
    }
    /* The clipped part [a, b) of image units [from, from + n). */
    bool clip(int64_t from, int64_t n, int64_t& a, int64_t& b) const {
        a = from;
        b = from + n;
        if (b > units)
            b = units;
        if (a < -u0)
            a = -u0;
        if (b > limit - u0)
            b = limit - u0;
        return row && a < b;
    }
    uint8_t* at(int64_t u) const { return row + size_t(u0 + u) * P::B; }
    void fill(int64_t from, int64_t n, uint32_t v) const {
        int64_t a, b;
        if (!clip(from, n, a, b))
            return;
        for (uint8_t* q = at(a); a < b; a++, q += P::B)
            P::store(q, v);
    }
    /* n data pixels starting at src. */
    void literal(int64_t from, int64_t n, const uint8_t* src) const {
        int64_t a, b;
        if (!clip(from, n, a, b))
            return;
        src += size_t(a - from) * P::DataB;
        if (P::B == P::DataB) {
            memcpy(at(a), src, size_t(b - a) * P::B);
            return;
        }
        uint8_t* q = at(a);
        if (P::B == 4) {
#if defined(__i386__) || defined(__x86_64__)
            if (HaveShuffle()) {
                size_t done = expandShuffle(q, src, size_t(b - a));
                a += int64_t(done);
                q += 4 * done;
                src += 3 * done;
            }
#endif
            for (; b - a >= 4; a += 4, q += 16, src += 12)
                expand4(q, src);
        }
        for (; a < b; a++, q += P::B, src += P::DataB)
            P::store(q, fbDataPixel<P>(src));
    }
    /* The kind-pixel pattern at src, repeated over [from, from + n). */
    void pattern(int64_t from, int64_t n, const uint8_t* src, uint32_t kind) const {
        int64_t a, b;
        if (!clip(from, n, a, b))
            return;
        uint32_t k = uint32_t((a - from) % kind);
        for (uint8_t* q = at(a); a < b; a++, q += P::B) {
            P::store(q, fbDataPixel<P>(src + size_t(k) * P::DataB));
            if (++k == kind)
                k = 0;
        }
    }
};

/* Compression 0: height rows of width units, top row first. False when
 * the data ended early. */
template <class P> bool putRawRows(FbBuffer* d, int64_t x, int64_t y, int64_t w, int64_t h, Cursor& c) {
    for (int64_t i = 0; i < h; i++) {
        RowWriter<P> rw(d, x, y + i, w);
        const uint8_t* src = c.take(uint64_t(rw.units) * P::DataB);
        if (!src)
            return false;
        rw.literal(0, rw.units, src);
    }
    return true;
}

/* Compression 1: each row a sequence of 16-bit codes (count, kind) until
 * the row's total reaches or passes its width; the next row starts again
 * at its left edge. */
template <class P> bool putRLERows(FbBuffer* d, int64_t x, int64_t y, int64_t w, int64_t h, Cursor& c) {
    for (int64_t i = 0; i < h; i++) {
        RowWriter<P> rw(d, x, y + i, w);
        int64_t total = 0;
        while (total < rw.units) {
            uint32_t word;
            if (!c.u16(word))
                return false;
            uint32_t count = word & 0x0FFF, kind = word >> 12;
            if (kind == 0) {
                const uint8_t* src = c.take(size_t(count) * P::DataB);
                if (!src)
                    return false;
                rw.literal(total, count, src);
                total += count;
            } else if (kind == 1) {
                uint32_t v;
                if (!c.pixel<P>(v))
                    return false;
                rw.fill(total, count, v);
                total += count;
            } else {
                /* A pattern of count 0 still consumes its bytes. */
                const uint8_t* src = c.take(size_t(kind) * P::DataB);
                if (!src)
                    return false;
                rw.pattern(total, int64_t(count) * kind, src, kind);
                total += int64_t(count) * kind;
            }
        }
    }
    return true;
}

/* Compression 4: 16x16 tiles with colours, palette and reference that last
 * for the one image. */
template <class P> bool putTiles(FbBuffer* d, int64_t x, int64_t y, int64_t w, int64_t h, Cursor& c) {
    uint32_t bg = 0, fg = 0;
    uint32_t palette[256];
    memset(palette, 0, sizeof palette); /* never another image's colours */
    int64_t refX = 0, refY = 0;
    auto fillRect = [&](int64_t rx, int64_t ry, int64_t rw, int64_t rh, uint32_t v) {
        for (int64_t j = 0; j < rh; j++)
            RowWriter<P>(d, rx, ry + j, rw).fill(0, rw, v);
    };
    for (int64_t ty = 0; ty < h; ty += 16) {
        int64_t th = h - ty < 16 ? h - ty : 16;
        for (int64_t tx = 0; tx < w; tx += 16) {
            int64_t tw = w - tx < 16 ? w - tx : 16;
            int64_t ox = x + tx, oy = y + ty;
            uint32_t head;
            if (!c.u8(head))
                return false;
            if ((head & 0x40) && !c.pixel<P>(bg))
                return false;
            if ((head & 0x80) && !c.pixel<P>(fg))
                return false;
            if (head & 0x20) {
                uint32_t n, index, v;
                if (!c.u8(n))
                    return false;
                for (uint32_t k = 0; k < n; k++) {
                    if (!c.u8(index) || !c.pixel<P>(v))
                        return false;
                    palette[index] = v;
                }
            }
            uint32_t type = head & 0x1F;
            bool becomesRef = true;
            switch (type) {
            case 0:
                fillRect(ox, oy, tw, th, bg);
                becomesRef = false;
                break;
            case 1:
                for (int64_t j = 0; j < th; j++) {
                    const uint8_t* src = c.take(size_t(tw) * P::DataB);
                    if (!src)
                        return false;
                    RowWriter<P>(d, ox, oy + j, tw).literal(0, tw, src);
                }
                break;
            case 2:
            case 5: {
                if (type == 2)
                    fillRect(ox, oy, tw, th, bg);
                uint32_t n;
                if (!c.u8(n))
                    return false;
                for (uint32_t k = 0; k < n; k++) {
                    uint32_t v = fg, pos, size;
                    if ((type == 5 && !c.pixel<P>(v)) || !c.u8(pos) || !c.u8(size))
                        return false;
                    /* Subrectangles may reach past the tile; the writers
                     * clip them to the image and the buffer. */
                    int64_t sx = ox + (pos >> 4), sy = oy + (pos & 15);
                    int64_t sw = (size >> 4) + 1, sh = (size & 15) + 1;
                    for (int64_t j = 0; j < sh; j++) {
                        RowWriter<P> rw(d, x, sy + j, w);
                        if (sy + j < y + h)
                            rw.fill(sx - x, sw, v);
                    }
                }
                break;
            }
            case 3:
            case 7: {
                int64_t k = 0, all = tw * th;
                while (k < all) {
                    uint32_t code, v, count;
                    if (!c.u8(code))
                        return false;
                    count = code & 0x7F;
                    if (code < 0x80) {
                        for (uint32_t m = 0; m < count; m++, k++) {
                            if (type == 7) {
                                if (!c.u8(v))
                                    return false;
                                v = palette[v];
                            } else if (!c.pixel<P>(v)) {
                                return false;
                            }
                            if (k < all)
                                RowWriter<P>(d, ox, oy + k / tw, tw).fill(k % tw, 1, v);
                        }
                    } else {
                        if (type == 7) {
                            if (!c.u8(v))
                                return false;
                            v = palette[v];
                        } else if (!c.pixel<P>(v)) {
                            return false;
                        }
                        /* Runs continue from one tile row to the next. */
                        for (uint32_t m = 0; m < count && k < all; m++, k++)
                            RowWriter<P>(d, ox, oy + k / tw, tw).fill(k % tw, 1, v);
                    }
                }
                break;
            }
            case 4:
                /* Pixel by pixel forward from the reference: an overlapping
                 * reference repeats what this copy has just written. */
                for (int64_t j = 0; j < th; j++) {
                    int64_t sy = refY + j, dy = oy + j;
                    RowWriter<P> rw(d, ox, dy, tw);
                    for (int64_t i = 0; i < tw; i++) {
                        int64_t sx = refX + i;
                        if (sx < 0 || sx >= d->width || sy < 0 || sy >= d->height)
                            continue;
                        rw.fill(i, 1, P::load(fbRow(d, int32_t(sy)) + size_t(sx) * P::B));
                    }
                }
                becomesRef = false;
                break;
            case 6:
                fillRect(ox, oy, tw, th, bg);
                for (int64_t j = 0; j < th; j++) {
                    uint32_t mask;
                    if (!(tw <= 8 ? c.u8(mask) : c.u16(mask)))
                        return false;
                    RowWriter<P> rw(d, ox, oy + j, tw);
                    for (int64_t i = 0; i < tw; i++)
                        if ((mask >> i) & 1)
                            rw.fill(i, 1, fg);
                }
                break;
            case 8:
                for (int64_t j = 0; j < th; j++) {
                    const uint8_t* src = c.take(size_t(tw));
                    if (!src)
                        return false;
                    RowWriter<P> rw(d, ox, oy + j, tw);
                    for (int64_t i = 0; i < tw; i++)
                        rw.fill(i, 1, palette[src[i]]);
                }
                break;
            default:
                becomesRef = false; /* 9 to 31: nothing is drawn */
                break;
            }
            if (becomesRef) {
                refX = ox;
                refY = oy;
            }
        }
    }
    return true;
}

/* Compression 3: the image fills the buffer's first rows from column 0
 * (the bottom rows of the drawable), whatever x and y say. The first two
 * data bytes are not part of the order stream. The decoder checks the rows
 * it is given again; refusing here too names the fault in the log. True
 * when the image went to the drawable's bottom left. */
template <class P> bool putInterleaved(FbBuffer* d, int32_t x, int32_t y, int32_t w, int32_t h,
                                       uint32_t srcDepth, uint32_t length, const uint8_t* data) {
    if (!data || length < 2)
        return false;
    uint32_t srcBytes = srcDepth == 8 ? 1 : srcDepth == 16 ? 2 : srcDepth == 24 ? P::B : 0;
    if (srcBytes != uint32_t(P::B) || w > d->width || h > d->height) {
        fbNoteBadInput("a run-length image that does not fit its drawable was not drawn.");
        return false;
    }
    if (x != 0 || int64_t(y) + h != d->height)
        fbNoteBadInput("a run-length image was placed at the drawable's bottom left, not at its position.");
    fbRLEDecompress(uint32_t(w), uint32_t(h), data + 2, length - 2, uint8_t(srcDepth), d->bits,
                    int32_t(d->stride), uint8_t(P::Bpp), uint32_t(d->height));
    return true;
}

template <class P> bool decode(FbBuffer* d, int32_t x, int32_t y, int32_t w, int32_t h,
                               uint32_t compression, Cursor& c) {
    switch (compression) {
    case 0: return putRawRows<P>(d, x, y, w, h, c);
    case 1: return putRLERows<P>(d, x, y, w, h, c);
    case 4: return P::Format != FB_FMT_1 && putTiles<P>(d, x, y, w, h, c);
    default: return false;
    }
}

} // namespace

template <class P>
void fbPutImage(void* display, FbBuffer* d, FbGC* gc, int32_t x, int32_t y, int32_t w, int32_t h,
                uint32_t depth, uint32_t compression, uint32_t length, const uint8_t* data) {
    if (!fbBufferIs(d, P::Format) || w <= 0 || h <= 0)
        return;
    if (compression == 3) {
        /* The damage is where the rows went, not where they were asked for. */
        if (P::Format == FB_FMT_1 || !putInterleaved<P>(d, x, y, w, h, depth, length, data))
            return;
        x = 0;
        y = d->height - h;
    } else if (compression == 0 || compression == 1 || (compression == 4 && P::Format != FB_FMT_1)) {
        Cursor c(data, length);
        if (!decode<P>(d, x, y, w, h, compression, c))
            fbNoteBadInput("an image ended before its last pixel.");
    } else {
        return;
    }
    fbDamageRect(display, d, gc, x, y, w, h);
}

template <class P>
void fbPutSubImage(void* display, FbBuffer* d, FbGC* gc, int32_t x, int32_t y, int32_t w,
                   int32_t h, int32_t rowCount, int32_t firstRow, int32_t rowStep, uint32_t,
                   uint32_t compression, uint32_t length, const uint8_t* data) {
    if (!fbBufferIs(d, P::Format) || w <= 0 || rowCount <= 0 || (compression != 0 && compression != 1))
        return;
    Cursor c(data, length);
    int32_t row = firstRow, step = rowStep;
    int32_t lowest = INT32_MAX, highest = INT32_MIN;
    uint32_t end = uint32_t(y) + uint32_t(h);
    for (int32_t n = 0; n < rowCount; n++) {
        bool ok = compression == 0 ? putRawRows<P>(d, x, row, w, 1, c) : putRLERows<P>(d, x, row, w, 1, c);
        if (!ok) {
            fbNoteBadInput("an interlaced image ended before its last row.");
            break;
        }
        if (row < lowest)
            lowest = row;
        if (row > highest)
            highest = row;
        row = int32_t(uint32_t(row) + uint32_t(step));
        if (uint32_t(row) >= end) {
            step /= 2;
            row = int32_t(uint32_t(y) + uint32_t(step / 2));
        }
    }
    if (lowest <= highest)
        fbDamageRect(display, d, gc, x, lowest, w, int32_t(int64_t(highest) - lowest + 1));
}

#define FB_INSTANTIATE(P)                                                                       \
    template void fbPutImage<P>(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t,    \
                                uint32_t, uint32_t, uint32_t, const uint8_t*);                  \
    template void fbPutSubImage<P>(void*, FbBuffer*, FbGC*, int32_t, int32_t, int32_t, int32_t, \
                                   int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t,     \
                                   const uint8_t*);
FB_INSTANTIATE(FbPix1)
FB_INSTANTIATE(FbPix8)
FB_INSTANTIATE(FbPix16)
FB_INSTANTIATE(FbPix24)
FB_INSTANTIATE(FbPix32)

int fbPutPixmapImage(FbBuffer* b, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t depth,
                     uint32_t compression, uint32_t length, const uint8_t* data) {
    /* Chosen by the buffer, never by the caller's depth: a decoder of
     * another pixel size would write past the buffer's rows. */
    FbFormat f = fbBufferFormat(b);
    if (f == FB_FMT_NONE || depth != b->depth || w <= 0 || h <= 0)
        return 0;
    if (compression != 0 && compression != 1 && compression != 4)
        return 0;
    if (compression == 4 && f == FB_FMT_1)
        return 0;
    Cursor c(data, length);
    switch (f) {
    case FB_FMT_1: decode<FbPix1>(b, x, y, w, h, compression, c); break;
    case FB_FMT_8: decode<FbPix8>(b, x, y, w, h, compression, c); break;
    case FB_FMT_16: decode<FbPix16>(b, x, y, w, h, compression, c); break;
    case FB_FMT_24: decode<FbPix24>(b, x, y, w, h, compression, c); break;
    default: decode<FbPix32>(b, x, y, w, h, compression, c); break;
    }
    return int(c.consumed());
}

/* ---- pixmaps and glyphs ---- */

int fbCreatePixmap(void*, FbBuffer* b) {
    if (b->width <= 0 || b->height <= 0 || uint32_t(b->width) > FB_MAX_SIDE ||
        uint32_t(b->height) > FB_MAX_SIDE)
        return -1;
    uint64_t w = uint64_t(b->width), stride;
    switch (b->depth) {
    case 1: stride = (w + 7) / 8; break;
    case 8: b->bytesPerPixel = 1; stride = (w + 3) & ~uint64_t(3); break;
    case 16: b->bytesPerPixel = 2; stride = (2 * w + 3) & ~uint64_t(3); break;
    case 24:
        if (b->bytesPerPixel == 4) {
            stride = 4 * w;
        } else {
            b->bytesPerPixel = 3;
            stride = ((w + 1) * 3) & ~uint64_t(3);
        }
        break;
    default: return -1;
    }
    uint64_t bytes = stride * uint64_t(b->height);
    if (bytes > FB_MAX_BUFFER_BYTES)
        return -1;
    uint8_t* bits = static_cast<uint8_t*>(calloc(size_t(bytes), 1));
    if (!bits)
        return -1;
    b->stride = uint32_t(stride);
    b->dibStride = uint32_t(stride);
    b->dibBits = nullptr;
    b->bits = bits;
    return 0;
}

void fbDestroyPixmap(void*, FbBuffer* b) {
    free(b->bits);
    b->bits = nullptr;
}

int fbCreateGlyph(void*, void*, FbGlyph* g) {
    FbBuffer* b = &g->bitmap;
    if (b->depth != 1 || b->width < 0 || b->height < 0 || uint32_t(b->width) > FB_MAX_SIDE ||
        uint32_t(b->height) > FB_MAX_SIDE)
        return -1;
    uint64_t stride = (uint64_t(b->width) + 7) / 8, bytes = stride * uint64_t(b->height);
    b->stride = uint32_t(stride);
    b->dibStride = uint32_t(stride);
    b->bits = nullptr;
    if (!bytes)
        return 0; /* an empty glyph has no bits and paints nothing */
    if (bytes > FB_MAX_BUFFER_BYTES)
        return -1;
    b->bits = static_cast<uint8_t*>(calloc(size_t(bytes), 1));
    return b->bits ? 0 : -1;
}

int fbPutGlyphImage(void*, void*, FbGlyph* g, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t compression, uint32_t length, const uint8_t* data) {
    return fbPutPixmapImage(&g->bitmap, x, y, w, h, 1, compression, length, data);
}

void fbFreeGlyph(void*, void*, FbGlyph* g) {
    free(g->bitmap.bits);
    g->bitmap.bits = nullptr;
}
