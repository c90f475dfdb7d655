/* Ordered dither (see fbdither.h).
 *
 * A channel value v at threshold t takes level quot[v] + 1 when rem[v] > t,
 * else quot[v]. A colour on the cube (all three remainders 0) therefore maps
 * to its own cube colour at every position; that is the exact case, which
 * only lets runs be filled at once. For speed the tables also hold, per
 * threshold and value, the level already multiplied by 1, N and N * N. */
#include "fb/fbdither.h"

#include <string.h>

#include "ui/dicolor.h"

namespace {

/* Pixel (x, y) takes row x mod 8, column y mod 8. */
const uint8_t kDitherMatrix[64] = {
    0,  38, 9,  47, 2,  40, 11, 50, 25, 12, 35, 22, 27, 15, 37, 24, 6,  44, 3,  41, 8,  47,
    5,  43, 31, 19, 28, 15, 34, 21, 31, 18, 1,  39, 11, 49, 0,  39, 10, 48, 27, 14, 36, 23,
    26, 13, 35, 23, 7,  46, 4,  43, 7,  45, 3,  42, 33, 20, 30, 17, 32, 19, 29, 16,
};

struct FbDitherTables {
    int32_t n;           /* levels per channel; 0 until built */
    uint32_t generation; /* grows at every build */
    uint8_t quot[256], rem[256];
    uint8_t threshold[64];
    uint8_t mulN[8], mulN2[8]; /* level x N, level x N x N */
    /* [threshold index][value]: level, level x N, level x N x N */
    uint8_t red[64][256], green[64][256], blue[64][256];
};

FbDitherTables g_fbDither;

inline uint32_t fbDitherThresholdIndex(uint32_t x, uint32_t y) {
    return (x & 7) << 3 | (y & 7);
}

/* The rectangle clipped to the image; false when empty or not ready. */
struct FbDitherRect {
    uint32_t x0, y0, x1, y1;
};

bool fbDitherClip(const DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                  int32_t h, FbDitherRect& r) {
    if (g_fbDither.n == 0 || !map || map->cubeSize != g_fbDither.n || !im || !im->pixels ||
        !im->dib)
        return false;
    int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int64_t x1 = int64_t(x) + w, y1 = int64_t(y) + h;
    if (x1 > int64_t(im->width)) x1 = im->width;
    if (y1 > int64_t(im->height)) y1 = im->height;
    if (x1 <= x0 || y1 <= y0) return false;
    r = {uint32_t(x0), uint32_t(y0), uint32_t(x1), uint32_t(y1)};
    return true;
}

inline const uint8_t* fbDitherPixelRow(const FbDitherImage* im, uint32_t y) {
    return im->pixels + size_t(im->height - y - 1) * im->stride;
}

inline uint8_t* fbDitherDibRow(const FbDitherImage* im, uint32_t y) {
    return im->dib + size_t(im->height - y - 1) * im->dibStride;
}

/* Colours of X pixels of 2, 3 and 4 bytes, expanded exactly; 3-byte
 * pixels are blue, green, red in memory, like the smooth scalers' output. */
template <int B>
inline void fbDitherColour(const uint8_t* p, uint32_t& r, uint32_t& g, uint32_t& b) {
    if constexpr (B == 2) {
        uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8;
        uint32_t r5 = v >> 11, g6 = v >> 5 & 63, b5 = v & 31;
        r = r5 << 3 | r5 >> 2, g = g6 << 2 | g6 >> 4, b = b5 << 3 | b5 >> 2;
    } else {
        b = p[0], g = p[1], r = p[2];
    }
}

template <int B>
void fbDitherTrueColour(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                        int32_t h) {
    FbDitherRect rc;
    if (!fbDitherClip(map, im, x, y, w, h, rc)) return;
    const FbDitherTables& t = g_fbDither;
    uint8_t cube[DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE];
    for (size_t i = 0; i < sizeof cube; i++)
        cube[i] = uint8_t(map->cube[i]);
    for (uint32_t row = rc.y0; row < rc.y1; row++) {
        const uint8_t* src = fbDitherPixelRow(im, row);
        uint8_t* out = fbDitherDibRow(im, row);
        const uint8_t* lr[8];
        const uint8_t* lg[8];
        const uint8_t* lb[8];
        for (uint32_t k = 0; k < 8; k++) {
            uint32_t ti = fbDitherThresholdIndex(k, row);
            lr[k] = t.red[ti], lg[k] = t.green[ti], lb[k] = t.blue[ti];
        }
        for (uint32_t col = rc.x0; col < rc.x1;) {
            const uint8_t* p = src + size_t(col) * B;
            uint32_t r, g, b;
            fbDitherColour<B>(p, r, g, b);
            uint32_t k = col & 7;
            uint8_t index = cube[lr[k][r] + lg[k][g] + lb[k][b]];
            out[col++] = index;
            if (B == 2 && (t.rem[r] | t.rem[g] | t.rem[b]) == 0) {
                /* An exact colour: its run of equal pixels takes the same
                 * index, up to the rectangle's edge. */
                while (col < rc.x1 && memcmp(src + size_t(col) * B, p, B) == 0)
                    out[col++] = index;
            }
        }
    }
}

} // namespace

FbDitherImage fbDitherImageOf(const FbBuffer* b) {
    FbDitherImage im = {};
    if (!b || b->width <= 0 || b->height <= 0) return im;
    im.width = uint32_t(b->width);
    im.height = uint32_t(b->height);
    im.pixels = b->bits;
    im.stride = b->stride;
    im.dib = static_cast<uint8_t*>(b->dibBits);
    im.dibStride = b->dibStride;
    return im;
}

int fbDitherInit(int32_t n) {
    if (n < 2 || n > int32_t(DI_COLOR_MAX_CUBE)) return -1;
    FbDitherTables& t = g_fbDither;
    uint32_t q = 255 / uint32_t(n - 1);
    for (uint32_t v = 0; v < 256; v++)
        t.quot[v] = uint8_t(v / q), t.rem[v] = uint8_t(v % q);
    for (int i = 0; i < 64; i++)
        t.threshold[i] = uint8_t(kDitherMatrix[i] * q / 51);
    for (uint32_t level = 0; level < 8; level++)
        t.mulN[level] = uint8_t(n * level), t.mulN2[level] = uint8_t(n * n * level);
    for (int i = 0; i < 64; i++)
        for (uint32_t v = 0; v < 256; v++) {
            uint32_t level = t.quot[v] + (t.rem[v] > t.threshold[i] ? 1 : 0);
            t.red[i][v] = uint8_t(level);
            t.green[i][v] = t.mulN[level];
            t.blue[i][v] = t.mulN2[level];
        }
    t.n = n;
    t.generation++;
    return 0;
}

void fbDitherUpdateCells(DdColorMap* map) {
    const FbDitherTables& t = g_fbDither;
    if (!map || !map->cells || t.n == 0) return;
    if (!map->changed && map->ditherTables == t.generation) return;
    for (uint32_t i = 0; i < DI_COLOR_ENTRIES; i++) {
        DdColorCell& c = map->cells[i];
        c.quotRed = t.quot[c.red], c.remRed = t.rem[c.red];
        c.quotGreen = t.quot[c.green], c.remGreen = t.rem[c.green];
        c.quotBlue = t.quot[c.blue], c.remBlue = t.rem[c.blue];
    }
    map->changed = 0;
    map->ditherTables = t.generation;
}

void fbDither8(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
               int32_t h) {
    FbDitherRect rc;
    if (!map || map->depth > 8 || !map->cells) return;
    if (!fbDitherClip(map, im, x, y, w, h, rc)) return;
    fbDitherUpdateCells(map);
    const FbDitherTables& t = g_fbDither;
    const DdColorCell* cells = map->cells;
    for (uint32_t row = rc.y0; row < rc.y1; row++) {
        const uint8_t* src = fbDitherPixelRow(im, row);
        uint8_t* out = fbDitherDibRow(im, row);
        for (uint32_t col = rc.x0; col < rc.x1;) {
            uint8_t v = src[col];
            const DdColorCell& c = cells[v];
            if (c.flags == DI_COLOR_FAILED) {
                /* No entry of its own: dithered from the cached quotients. */
                uint32_t th = t.threshold[fbDitherThresholdIndex(col, row)];
                uint32_t r = c.quotRed + (c.remRed > th), g = c.quotGreen + (c.remGreen > th),
                         b = c.quotBlue + (c.remBlue > th);
                out[col++] = uint8_t(map->cube[r + t.mulN[g] + t.mulN2[b]]);
                continue;
            }
            uint32_t end = col + 1;
            while (end < rc.x1 && src[end] == v)
                end++;
            memset(out + col, int(c.index & 0xFF), end - col);
            col = end;
        }
    }
}

void fbDither16(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h) {
    fbDitherTrueColour<2>(map, im, x, y, w, h);
}

void fbDither24(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h) {
    fbDitherTrueColour<3>(map, im, x, y, w, h);
}

void fbDither32(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h) {
    fbDitherTrueColour<4>(map, im, x, y, w, h);
}

void fbDitherRGB24(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                   int32_t h) {
    fbDitherTrueColour<3>(map, im, x, y, w, h);
}
