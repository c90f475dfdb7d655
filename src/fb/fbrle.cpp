/* Interleaved run-length decoder (see fbrle.h).
 *
 * One template serves the four pixel sizes. Every writer covers its count
 * row segment by row segment, choosing the first-row or later-row form per
 * segment, so the row end is tested once per segment and a pixel of an order
 * that falls past row 0 takes the later-row form. An order whose operands
 * are cut short by the end of the stream writes nothing; every write stops
 * at the end of the image's last row. */
#include "fb/fbrle.h"

#include <string.h>

namespace {

struct FbRLEState {
    uint32_t width, height;
    const uint8_t* in;  /* next unread byte */
    const uint8_t* end; /* one past the stream */
    int32_t prevOffset; /* from a pixel to the pixel above it: -stride */
    uint8_t* base;      /* the destination */
    ptrdiff_t out;      /* offset of the next pixel from base */
    uint32_t row, col;
    uint32_t fg;
    int32_t rowSkip; /* stride - width * P, added after a row's last pixel */
};

/* S: bytes of a colour in the stream; P: bytes of a destination pixel.
 * Pixel values are little-endian in memory; the hosts we run on are too. */
template <int P> struct FbRLEPixel {
    static constexpr uint32_t ones = P == 4 ? 0xFFFFFFFFu : (1u << (8 * P)) - 1;
    static inline uint32_t get(const uint8_t* p) {
        uint32_t v = 0;
        memcpy(&v, p, P);
        return v;
    }
    static inline void put(uint8_t* p, uint32_t v) { memcpy(p, &v, P); }
};

/* A stream colour of S bytes; for 4-byte pixels the fourth byte is 0. */
template <int S> inline uint32_t fbRLEColour(const uint8_t* s) {
    uint32_t v = s[0];
    if (S > 1) v |= uint32_t(s[1]) << 8;
    if (S > 2) v |= uint32_t(s[2]) << 16;
    return v;
}

void fbFillPixels16(uint8_t* d, uint32_t n, uint32_t v) {
    uint16_t w = uint16_t(v);
    for (uint32_t i = 0; i < n; i++)
        memcpy(d + 2 * i, &w, 2);
}

void fbFillPixels24(uint8_t* d, uint32_t n, uint32_t v) {
    /* Four pixels make three whole words. */
    uint8_t pat[12];
    for (int j = 0; j < 12; j += 3) {
        pat[j] = uint8_t(v), pat[j + 1] = uint8_t(v >> 8), pat[j + 2] = uint8_t(v >> 16);
    }
    for (; n >= 4; n -= 4, d += 12)
        memcpy(d, pat, 12);
    for (; n > 0; n--, d += 3)
        memcpy(d, pat, 3);
}

void fbFillPixels32(uint8_t* d, uint32_t n, uint32_t v) {
    for (uint32_t i = 0; i < n; i++)
        memcpy(d + 4 * i, &v, 4);
}

/* Copies of a few pixels, the common case in text, stay inline rather than
 * calling the library. */
inline void fbRLECopy(uint8_t* d, const uint8_t* from, size_t bytes) {
    if (bytes <= 16) {
        for (size_t i = 0; i < bytes; i++) d[i] = from[i];
    } else {
        memcpy(d, from, bytes);
    }
}

template <int P> inline void fbRLEFill(uint8_t* d, uint32_t n, uint32_t v) {
    if constexpr (P == 1)
        memset(d, int(v & 0xFF), n);
    else if constexpr (P == 2)
        fbFillPixels16(d, n, v);
    else if constexpr (P == 3)
        fbFillPixels24(d, n, v);
    else
        fbFillPixels32(d, n, v);
}

/* d[i] = above[i] XOR fg over n pixels; rows never overlap (|stride| holds a
 * whole row). */
template <int P>
inline void fbRLEXorAbove(uint8_t* d, const uint8_t* above, uint32_t n, uint32_t fg) {
    if constexpr (P == 1) {
        for (uint32_t i = 0; i < n; i++)
            d[i] = uint8_t(above[i] ^ fg);
    } else if constexpr (P == 3) {
        uint8_t f0 = uint8_t(fg), f1 = uint8_t(fg >> 8), f2 = uint8_t(fg >> 16);
        for (uint32_t i = 0; i < 3 * n; i += 3) {
            d[i] = above[i] ^ f0, d[i + 1] = above[i + 1] ^ f1, d[i + 2] = above[i + 2] ^ f2;
        }
    } else {
        for (uint32_t i = 0; i < n; i++)
            FbRLEPixel<P>::put(d + P * i, FbRLEPixel<P>::get(above + P * i) ^ fg);
    }
}

/* Walks n pixels from the output position, one row segment at a time:
 * seg(pixel, count, on row 0, pixels of the order already written). */
template <int P, class Seg> inline void fbRLEWalk(FbRLEState& s, uint32_t n, Seg seg) {
    uint32_t done = 0;
    while (n > 0 && s.row < s.height) {
        uint32_t k = s.width - s.col;
        if (k > n) k = n;
        seg(s.base + s.out, k, s.row == 0, done);
        done += k;
        n -= k;
        s.col += k;
        s.out += ptrdiff_t(k) * P;
        if (s.col == s.width) {
            s.col = 0;
            s.row++;
            s.out += s.rowSkip;
        }
    }
}

template <int P> void fbRLEBackgroundRun(FbRLEState& s, uint32_t n) {
    fbRLEWalk<P>(s, n, [&](uint8_t* d, uint32_t k, bool first, uint32_t) {
        if (first)
            memset(d, 0, size_t(k) * P);
        else
            fbRLECopy(d, d + s.prevOffset, size_t(k) * P);
    });
}

template <int P> void fbRLEForegroundRun(FbRLEState& s, uint32_t n) {
    fbRLEWalk<P>(s, n, [&](uint8_t* d, uint32_t k, bool first, uint32_t) {
        if (first)
            fbRLEFill<P>(d, k, s.fg);
        else
            fbRLEXorAbove<P>(d, d + s.prevOffset, k, s.fg);
    });
}

/* Pixel k of the order takes bit (k mod 8) of mask byte k / 8. */
template <int P> void fbRLEFgBgMasks(FbRLEState& s, uint32_t n, const uint8_t* masks) {
    fbRLEWalk<P>(s, n, [&](uint8_t* d, uint32_t k, bool first, uint32_t done) {
        for (uint32_t i = 0; i < k; i++, d += P) {
            uint32_t idx = done + i;
            uint32_t v = (masks[idx >> 3] >> (idx & 7)) & 1 ? s.fg : 0;
            if (!first) v ^= FbRLEPixel<P>::get(d + s.prevOffset);
            FbRLEPixel<P>::put(d, v);
        }
    });
}

template <int P> void fbRLEFgBgImage(FbRLEState& s, uint32_t n) {
    const uint8_t* masks = s.in;
    s.in += (size_t(n) + 7) / 8;
    fbRLEFgBgMasks<P>(s, n, masks);
}

template <int P> void fbRLESpecialFgBg(FbRLEState& s, uint8_t mask) {
    fbRLEFgBgMasks<P>(s, 8, &mask);
}

template <int P, int S> void fbRLEColorRun(FbRLEState& s, uint32_t n) {
    uint32_t c = fbRLEColour<S>(s.in);
    s.in += S;
    fbRLEWalk<P>(s, n, [&](uint8_t* d, uint32_t k, bool, uint32_t) { fbRLEFill<P>(d, k, c); });
}

template <int P, int S> void fbRLEColorImage(FbRLEState& s, uint32_t n) {
    const uint8_t* src = s.in;
    s.in += size_t(n) * S;
    fbRLEWalk<P>(s, n, [&](uint8_t* d, uint32_t k, bool, uint32_t done) {
        const uint8_t* c = src + size_t(done) * S;
        if constexpr (P == S) {
            fbRLECopy(d, c, size_t(k) * P);
        } else {
            for (uint32_t i = 0; i < k; i++)
                FbRLEPixel<P>::put(d + P * i, fbRLEColour<S>(c + S * i));
        }
    });
}

/* n pairs A, B; the alternation runs on across rows. */
template <int P, int S> void fbRLEDitheredRun(FbRLEState& s, uint32_t n) {
    uint32_t ab[2] = {fbRLEColour<S>(s.in), fbRLEColour<S>(s.in + S)};
    s.in += 2 * S;
    fbRLEWalk<P>(s, 2 * n, [&](uint8_t* d, uint32_t k, bool, uint32_t done) {
        for (uint32_t i = 0; i < k; i++)
            FbRLEPixel<P>::put(d + P * i, ab[(done + i) & 1]);
    });
}

template <int P> void fbRLEOnePixel(FbRLEState& s, uint32_t v) {
    fbRLEWalk<P>(s, 1, [&](uint8_t* d, uint32_t, bool, uint32_t) { FbRLEPixel<P>::put(d, v); });
}

enum FbRLEOrder {
    FB_RLE_BG_RUN,
    FB_RLE_FG_RUN,
    FB_RLE_FGBG_IMAGE,
    FB_RLE_COLOR_RUN,
    FB_RLE_COLOR_IMAGE,
    FB_RLE_IGNORED, /* code 5: consumed, nothing written */
    FB_RLE_SET_FG_FG_RUN,
    FB_RLE_SET_FG_FGBG_IMAGE,
    FB_RLE_DITHERED_RUN,
    FB_RLE_SPECIAL_1,
    FB_RLE_SPECIAL_2,
    FB_RLE_WHITE,
    FB_RLE_BLACK,
    FB_RLE_UNKNOWN,
};

/* MEGA_MEGA codes 0xF0-0xFF. */
const uint8_t fbRLEHighOrders[16] = {
    FB_RLE_BG_RUN,       FB_RLE_FG_RUN,    FB_RLE_FGBG_IMAGE,    FB_RLE_COLOR_RUN,
    FB_RLE_COLOR_IMAGE,  FB_RLE_IGNORED,   FB_RLE_SET_FG_FG_RUN, FB_RLE_SET_FG_FGBG_IMAGE,
    FB_RLE_DITHERED_RUN, FB_RLE_SPECIAL_1, FB_RLE_SPECIAL_2,     FB_RLE_UNKNOWN,
    FB_RLE_UNKNOWN,      FB_RLE_WHITE,     FB_RLE_BLACK,         FB_RLE_UNKNOWN,
};

template <int P, int S>
int32_t fbDecodeRLE(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                    uint8_t* dst, int32_t stride) {
    width &= 0xFFFF, height &= 0xFFFF, length &= 0xFFFF;
    if (width == 0 || height == 0 || length == 0) return FB_RLE_OK;
    if (stride == INT32_MIN) return FB_RLE_OK; /* no buffer has it; -stride would overflow */
    FbRLEState s;
    s.width = width;
    s.height = height;
    s.in = data;
    s.end = data + length;
    s.prevOffset = -stride;
    s.base = dst;
    s.out = stride >= 0 ? 0 : ptrdiff_t(height - 1) * -ptrdiff_t(stride);
    s.row = s.col = 0;
    s.fg = FbRLEPixel<P>::ones;
    s.rowSkip = stride - int32_t(width * P);
    bool afterBgRun = false;

    while (s.in < s.end) {
        if (s.row >= s.height) return FB_RLE_OK; /* the image is full */
        const uint8_t* o = s.in;
        size_t avail = size_t(s.end - o);
        uint8_t code = o[0];
        int order;
        uint32_t count = 0;
        size_t head = 1; /* code and count bytes */
        if (code >= 0xF0) {
            order = fbRLEHighOrders[code & 0x0F];
            if (order == FB_RLE_UNKNOWN) return FB_RLE_BAD_ORDER;
            if (code <= 0xF8) {
                head = 3;
                if (avail >= 3) count = o[1] | uint32_t(o[2]) << 8;
            }
        } else if (code >= 0xC0) {
            order = code < 0xD0   ? FB_RLE_SET_FG_FG_RUN
                    : code < 0xE0 ? FB_RLE_SET_FG_FGBG_IMAGE
                                  : FB_RLE_DITHERED_RUN;
            count = code & 0x0F;
            if (count == 0) {
                head = 2;
                if (avail >= 2) count = o[1] + (order == FB_RLE_SET_FG_FGBG_IMAGE ? 1u : 16u);
            } else if (order == FB_RLE_SET_FG_FGBG_IMAGE) {
                count *= 8;
            }
        } else {
            order = code >> 5;
            count = code & 0x1F;
            if (order == FB_RLE_IGNORED) {
                head = code == 0xA0 ? 2 : 1;
            } else if (count == 0) {
                head = 2;
                if (avail >= 2) count = o[1] + (order == FB_RLE_FGBG_IMAGE ? 1u : 32u);
            } else if (order == FB_RLE_FGBG_IMAGE) {
                count *= 8;
            }
        }
        if (order == FB_RLE_IGNORED) {
            s.in = avail > head ? o + head : s.end;
            afterBgRun = false;
            continue;
        }
        /* The whole order must be present before anything is written. */
        size_t need = head;
        if (order == FB_RLE_SET_FG_FG_RUN || order == FB_RLE_SET_FG_FGBG_IMAGE) need += S;
        switch (order) {
        case FB_RLE_FGBG_IMAGE:
        case FB_RLE_SET_FG_FGBG_IMAGE:
            need += (size_t(count) + 7) / 8;
            break;
        case FB_RLE_COLOR_RUN:
            need += S;
            break;
        case FB_RLE_COLOR_IMAGE:
            need += size_t(count) * S;
            break;
        case FB_RLE_DITHERED_RUN:
            need += 2 * S;
            break;
        default:
            break;
        }
        if (need > avail) return FB_RLE_OK;
        s.in = o + head;
        if (order == FB_RLE_SET_FG_FG_RUN || order == FB_RLE_SET_FG_FGBG_IMAGE) {
            s.fg = fbRLEColour<S>(s.in);
            s.in += S;
        }
        switch (order) {
        case FB_RLE_BG_RUN:
            /* A run after a run starts with one foreground pixel, except at
             * the start of row 0 or row 1. */
            if (afterBgRun && (s.col != 0 || s.row > 1)) {
                fbRLEForegroundRun<P>(s, 1);
                count = count > 0 ? count - 1 : 0;
            }
            fbRLEBackgroundRun<P>(s, count);
            break;
        case FB_RLE_FG_RUN:
        case FB_RLE_SET_FG_FG_RUN:
            fbRLEForegroundRun<P>(s, count);
            break;
        case FB_RLE_FGBG_IMAGE:
        case FB_RLE_SET_FG_FGBG_IMAGE:
            fbRLEFgBgImage<P>(s, count);
            break;
        case FB_RLE_COLOR_RUN:
            fbRLEColorRun<P, S>(s, count);
            break;
        case FB_RLE_COLOR_IMAGE:
            fbRLEColorImage<P, S>(s, count);
            break;
        case FB_RLE_DITHERED_RUN:
            fbRLEDitheredRun<P, S>(s, count);
            break;
        case FB_RLE_SPECIAL_1:
            fbRLESpecialFgBg<P>(s, 0x03);
            break;
        case FB_RLE_SPECIAL_2:
            fbRLESpecialFgBg<P>(s, 0x05);
            break;
        case FB_RLE_WHITE:
            fbRLEOnePixel<P>(s, FbRLEPixel<P>::ones);
            break;
        case FB_RLE_BLACK:
            fbRLEOnePixel<P>(s, 0);
            break;
        }
        afterBgRun = order == FB_RLE_BG_RUN;
    }
    return FB_RLE_OK;
}

} // namespace

int32_t fbDecodeRLE8(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                     uint8_t* dst, int32_t stride) {
    return fbDecodeRLE<1, 1>(width, height, data, length, dst, stride);
}

int32_t fbDecodeRLE16(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                      uint8_t* dst, int32_t stride) {
    return fbDecodeRLE<2, 2>(width, height, data, length, dst, stride);
}

int32_t fbDecodeRLE24(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                      uint8_t* dst, int32_t stride) {
    return fbDecodeRLE<3, 3>(width, height, data, length, dst, stride);
}

int32_t fbDecodeRLE24To32(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                          uint8_t* dst, int32_t stride) {
    return fbDecodeRLE<4, 3>(width, height, data, length, dst, stride);
}

int32_t fbDecodeInterleavedRLE(uint32_t width, uint32_t height, const uint8_t* data,
                               uint32_t length, uint8_t srcDepth, uint8_t* dst, int32_t stride,
                               uint8_t dstDepth, uint32_t dstRows) {
    int32_t (*decode)(uint32_t, uint32_t, const uint8_t*, uint32_t, uint8_t*, int32_t);
    uint32_t pixel;
    /* An empty image is decoded whatever its depths say: nothing to write. */
    width &= 0xFFFF, height &= 0xFFFF;
    if (width == 0 || height == 0) return FB_RLE_OK;
    switch (srcDepth) {
    case 8:
        decode = fbDecodeRLE8, pixel = 1;
        break;
    case 16:
        decode = fbDecodeRLE16, pixel = 2;
        break;
    case 24:
        if (dstDepth == 24)
            decode = fbDecodeRLE24, pixel = 3;
        else if (dstDepth == 32)
            decode = fbDecodeRLE24To32, pixel = 4;
        else
            return FB_RLE_BAD_DEST;
        break;
    default:
        return FB_RLE_BAD_DEPTH;
    }
    /* The decoders write pixels of the image's size whatever the buffer
     * holds: a buffer of another pixel size would be overrun. */
    if (dstDepth != srcDepth && srcDepth != 24) return FB_RLE_BAD_DEST;
    /* The image fills its first height rows: they must exist and hold it. */
    uint64_t rowBytes = stride < 0 ? uint64_t(-int64_t(stride)) : uint64_t(stride);
    if (height > dstRows || uint64_t(width) * pixel > rowBytes || stride == INT32_MIN)
        return FB_RLE_BAD_DEST;
    return decode(width, height, data, length, dst, stride);
}

int32_t fbRLEDecompress(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                        uint8_t srcDepth, uint8_t* dst, int32_t stride, uint8_t dstDepth,
                        uint32_t dstRows) {
    return fbDecodeInterleavedRLE(width, height, data, length, srcDepth, dst, stride, dstDepth,
                                  dstRows);
}
