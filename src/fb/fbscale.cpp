/* Image scalers (see fbscale.h).
 *
 * Positions are computed in 64 bits: source height x y x 16 passes 2^31 at
 * large sizes. The area average is separable: for each destination row the
 * weighted source rows are summed per column first (exact integers), then
 * each destination pixel sums its weighted columns and divides once, which
 * gives the same integer quotient as summing the whole box pixel by pixel.
 *
 * On x86 processors with AVX2, 4-byte to 4-byte averages of small boxes
 * run in vectors: the column sums in 16-bit lanes (below 255 x 48), each
 * box as two 16-bit pair multiply-adds, and the quotient as
 * trunc((sum + 1/2) x float(1 / W)): for sum <= 255 W and W < 8192 the
 * true value lies at least 1/(2W) from an integer and the float error is
 * below 2^-15, so the quotient is exact. */
#include "fb/fbscale.h"

#include <string.h>

#include <vector>

#include "ui/dicolor.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HV_FBSCALE_X86 1
#include <immintrin.h>
#else
#define HV_FBSCALE_X86 0
#endif

namespace {
int g_fbScaleCap = 2;

int fbScaleLevel() {
#if HV_FBSCALE_X86
    static const int level = [] {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("avx2")) return 0;
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") ? 2 : 1;
    }();
    return level < g_fbScaleCap ? level : g_fbScaleCap;
#else
    return 0;
#endif
}
} // namespace

int fbScaleSetSimdLevel(int level) {
    g_fbScaleCap = level < 0 ? 0 : level;
    return fbScaleLevel();
}

uint32_t fbScaleStride(uint32_t width, uint32_t bpp) {
    switch (bpp) {
    case 1:
        return (width + 3) & ~3u;
    case 2:
        return (2 * width + 3) & ~3u;
    case 3:
        return ((width + 1) * 3) & ~3u;
    default:
        return 4 * width;
    }
}

namespace {

/* Colours travel as 0x00RRGGBB. */
struct FbScaleSource {
    const uint8_t* bits;
    uint32_t stride;
    int32_t top;
    uint32_t palette[256]; /* 8-bit sources: the cells' actual colours */
};

inline uint32_t fbScaleExpand16(uint32_t v) {
    uint32_t r5 = v >> 11 & 31, g6 = v >> 5 & 63, b5 = v & 31;
    return (r5 * 8 + r5 / 4) << 16 | (g6 * 4 + g6 / 16) << 8 | (b5 * 8 + b5 / 4);
}

template <int SB> inline uint32_t fbScaleRead(const FbScaleSource& s, const uint8_t* p) {
    if constexpr (SB == 1)
        return s.palette[*p];
    else if constexpr (SB == 2)
        return fbScaleExpand16(uint32_t(p[0]) | uint32_t(p[1]) << 8);
    else if constexpr (SB == 4) {
        uint32_t v;
        memcpy(&v, p, 4);
        return v & 0xFFFFFF;
    } else
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

template <int DB> inline void fbScaleWrite(uint8_t* p, uint32_t rgb) {
    uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if constexpr (DB == 2) {
        uint16_t v = uint16_t((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
        memcpy(p, &v, 2);
    } else if constexpr (DB == 3) {
        p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r);
    } else {
        uint32_t v = r << 16 | g << 8 | b;
        memcpy(p, &v, 4);
    }
}

/* The clipped rectangle and buffers of one call; false when nothing is to
 * be done. */
struct FbScaleCall {
    int32_t x0, y0, x1, y1;
    uint32_t dstStride;
    int32_t dstTop;
};

template <int SB>
bool fbScaleSetUp(const FbScaleSize* size, const DdColorMap* map, const uint8_t* src, int32_t x0,
                  int32_t y0, int32_t x1, int32_t y1, int32_t srcTop, int32_t dstTop, int DB,
                  FbScaleSource& s, FbScaleCall& c) {
    if (!size || size->srcWidth == 0 || size->srcHeight == 0 || size->dstWidth == 0 ||
        size->dstHeight == 0)
        return false;
    /* X sides are 16-bit; the column sums below rely on it. */
    if (size->srcWidth > 65535 || size->srcHeight > 65535 || size->dstWidth > 65535 ||
        size->dstHeight > 65535)
        return false;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (int64_t(x1) > int64_t(size->dstWidth)) x1 = int32_t(size->dstWidth);
    if (int64_t(y1) > int64_t(size->dstHeight)) y1 = int32_t(size->dstHeight);
    if (x1 <= x0 || y1 <= y0) return false;
    int64_t sTop = int64_t(size->srcHeight) - 1, dTop = int64_t(size->dstHeight) - 1;
    if (srcTop < 0 || srcTop > sTop) srcTop = int32_t(sTop);
    if (dstTop < 0 || dstTop > dTop) dstTop = int32_t(dTop);
    /* Rows below 0 do not exist: a short top cuts the rectangle. */
    if (int64_t(y1) - 1 > dstTop) y1 = dstTop + 1;
    if (y1 <= y0) return false;
    s.bits = src;
    s.stride = fbScaleStride(size->srcWidth, SB);
    s.top = srcTop;
    if constexpr (SB == 1) {
        for (int i = 0; i < 256; i++) {
            const DdColorCell* cell = map && map->cells ? &map->cells[i] : nullptr;
            s.palette[i] =
                cell ? uint32_t(cell->red) << 16 | uint32_t(cell->green) << 8 | cell->blue : 0;
        }
    }
    c = {x0, y0, x1, y1, fbScaleStride(size->dstWidth, uint32_t(DB)), dstTop};
    return true;
}

/* The source row of y, or null when the given top row leaves it out. */
inline const uint8_t* fbScaleSourceRow(const FbScaleSource& s, uint32_t sy) {
    if (int64_t(sy) > s.top) return nullptr;
    return s.bits + size_t(s.top - int32_t(sy)) * s.stride;
}

template <int SB, int DB>
void fbScaleNearest(const FbScaleSize* size, const DdColorMap* map, const uint8_t* src,
                    uint8_t* dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t srcTop,
                    int32_t dstTop) {
    FbScaleSource s;
    FbScaleCall c;
    if (!fbScaleSetUp<SB>(size, map, src, x0, y0, x1, y1, srcTop, dstTop, DB, s, c)) return;
    const uint64_t sw = size->srcWidth, dw = size->dstWidth, sh = size->srcHeight,
                   dh = size->dstHeight;
    std::vector<uint32_t> sx(size_t(c.x1 - c.x0));
    for (int32_t x = c.x0; x < c.x1; x++)
        sx[size_t(x - c.x0)] = uint32_t(uint64_t(x) * sw / dw) * SB;
    const uint8_t* prevRow = nullptr;
    uint8_t* prevOut = nullptr;
    for (int32_t y = c.y0; y < c.y1; y++) {
        const uint8_t* srow = fbScaleSourceRow(s, uint32_t(uint64_t(y) * sh / dh));
        if (!srow) continue;
        uint8_t* d = dst + size_t(c.dstTop - y) * c.dstStride + size_t(c.x0) * DB;
        /* Enlarged rows repeat: the same source row gives the same pixels. */
        if (srow == prevRow) {
            memcpy(d, prevOut, sx.size() * DB);
            continue;
        }
        prevRow = srow, prevOut = d;
        const uint32_t* xs = sx.data();
        size_t n = sx.size();
        if constexpr (SB == DB && SB <= 2) {
            /* Same index or 5-6-5 layout: the pixel as it stands. */
            for (size_t i = 0; i < n; i++, d += DB)
                memcpy(d, srow + xs[i], DB);
        } else if constexpr (SB == 4 && DB == 4) {
            for (size_t i = 0; i < n; i++, d += 4) {
                uint32_t v;
                memcpy(&v, srow + xs[i], 4);
                v &= 0xFFFFFF;
                memcpy(d, &v, 4);
            }
        } else if constexpr (SB == 3 && DB == 4) {
            for (size_t i = 0; i < n; i++, d += 4) {
                uint32_t v = 0;
                memcpy(&v, srow + xs[i], 3);
                memcpy(d, &v, 4);
            }
        } else {
            for (size_t i = 0; i < n; i++, d += DB)
                fbScaleWrite<DB>(d, fbScaleRead<SB>(s, srow + xs[i]));
        }
    }
}

/* One axis of the area average: the source span of destination position
 * i and its end weights (positions between weigh 16). */
struct FbScaleSpan {
    uint32_t first, last;
    uint32_t wFirst, wLast; /* wLast unused when last == first */
    uint32_t total;
};

FbScaleSpan fbScaleSpan(uint64_t srcSize, uint64_t dstSize, uint64_t step, uint64_t i) {
    FbScaleSpan sp;
    uint64_t s0 = srcSize * i / dstSize;
    uint64_t f = srcSize * i * 16 / dstSize - 16 * s0;
    uint64_t s1 = s0 + (f + step) / 16;
    if (s1 > srcSize - 1) s1 = srcSize - 1;
    sp.first = uint32_t(s0);
    sp.last = uint32_t(s1);
    sp.wFirst = uint32_t(16 - f);
    sp.wLast = s1 != s0 ? uint32_t(f + step - (s1 - s0) * 16) : 0;
    sp.total = s1 != s0 ? uint32_t(sp.wFirst + sp.wLast + 16 * (s1 - s0 - 1)) : sp.wFirst;
    return sp;
}

inline uint32_t fbScaleWeight(const FbScaleSpan& sp, uint32_t s) {
    return s == sp.first ? sp.wFirst : s == sp.last ? sp.wLast : 16;
}

/* Exact floor(n / d) through a reciprocal and one correction step. */
inline uint32_t fbScaleDivide(uint64_t n, uint64_t d, double inv) {
    uint64_t q = uint64_t(double(n) * inv);
    if (q * d > n)
        q--;
    else if ((q + 1) * d <= n)
        q++;
    return uint32_t(q);
}

/* floor(n / d) for n * d < 2^40 by a multiplication: m = 2^40 / d + 1 errs
 * by less than one part in n. */
inline uint64_t fbScaleReciprocal(uint64_t d) {
    return (uint64_t(1) << 40) / d + 1;
}

/* Red, green and blue of 0x00RRGGBB in 21-bit fields of one word (red
 * highest): weighted sums of such words add the channels separately while
 * every channel sum stays below 2^21. */
inline uint64_t fbScaleSpread(uint32_t rgb) {
    return uint64_t(rgb >> 16 & 0xFF) << 42 | uint64_t(rgb >> 8 & 0xFF) << 21 | (rgb & 0xFF);
}

/* The taps of one destination pixel of the vector path: weights of its
 * first two columns as two 16-bit halves, of the third, and the first
 * column's offset in the column sums (4 lanes a column). */
struct FbScaleTap {
    uint32_t w01, w2, at;
};

#if HV_FBSCALE_X86
#define HV_AVX2 __attribute__((target("avx2")))

/* Column sums of `span` 4-byte source pixels over nrows rows: blue, green,
 * red and 0 of each column in v[4k..4k+3]. */
HV_AVX2 void fbScaleColumnsAVX2(const uint8_t* const* rows, const uint32_t* rw, uint32_t nrows,
                                size_t span, uint16_t* v) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    size_t k = 0;
    for (; k + 8 <= span; k += 8) {
        __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
        for (uint32_t j = 0; j < nrows; j++) {
            __m256i p = _mm256_and_si256(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j] + 4 * k)), colour);
            __m256i w = _mm256_set1_epi16(int16_t(rw[j]));
            lo = _mm256_add_epi16(
                lo, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(p)), w));
            hi = _mm256_add_epi16(
                hi, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(p, 1)), w));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + 4 * k), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + 4 * k + 16), hi);
    }
    for (; k < span; k++)
        for (int c = 0; c < 4; c++) {
            uint32_t sum = 0;
            for (uint32_t j = 0; j < nrows; j++)
                sum += c == 3 ? 0 : rw[j] * rows[j][4 * k + size_t(c)];
            v[4 * k + size_t(c)] = uint16_t(sum);
        }
}

HV_AVX2 inline __m256i fbScaleTwo(const uint16_t* a, const uint16_t* b) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

/* n destination pixels from the column sums v: each box's channel sums
 * divided by its weight (rcp[i] = float(1 / W)), 4 pixels a step. */
HV_AVX2 void fbScaleBoxesAVX2(const uint16_t* v, const FbScaleTap* taps, const float* rcp,
                              const uint32_t* weight, size_t n, uint8_t* d) {
    /* Columns t and t + 1 as (blue t, blue t + 1), (green ...) pairs. */
    const __m256i pairs = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0,
                                           1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m256i q[2];
        for (int h = 0; h < 2; h++) {
            const FbScaleTap& a = taps[i + 2 * size_t(h)];
            const FbScaleTap& b = taps[i + 2 * size_t(h) + 1];
            __m256i c01 = _mm256_shuffle_epi8(fbScaleTwo(v + a.at, v + b.at), pairs);
            __m256i c23 = _mm256_shuffle_epi8(fbScaleTwo(v + a.at + 8, v + b.at + 8), pairs);
            __m256i w01 =
                _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi32(int32_t(a.w01))),
                                        _mm_set1_epi32(int32_t(b.w01)), 1);
            __m256i w2 =
                _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi32(int32_t(a.w2))),
                                        _mm_set1_epi32(int32_t(b.w2)), 1);
            __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(c01, w01), _mm256_madd_epi16(c23, w2));
            __m256 r =
                _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_set1_ps(rcp[i + 2 * size_t(h)])),
                                     _mm_set1_ps(rcp[i + 2 * size_t(h) + 1]), 1);
            q[h] =
                _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(sum), half), r));
        }
        __m256i p16 = _mm256_packus_epi32(q[0], q[1]);
        __m256i p8 = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p16, p16), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), _mm256_castsi256_si128(p8));
    }
    for (; i < n; i++) {
        const FbScaleTap& t = taps[i];
        uint32_t w0 = t.w01 & 0xFFFF, w1 = t.w01 >> 16;
        uint32_t out = 0;
        for (int c = 0; c < 3; c++) {
            const uint16_t* p = v + t.at + c;
            out |= (w0 * p[0] + w1 * p[4] + t.w2 * p[8]) / weight[i] << (8 * c);
        }
        memcpy(d + 4 * i, &out, 4);
    }
}
/* 16 destination pixels of the AVX-512 path: for each, word pairs picking
 * its first two columns and its third (relative to the group's first
 * column) from a window of 64 column sums, and the matching weights. */
struct FbScaleGroup {
    uint16_t idx01[32], idx2[32];
    uint16_t w01[32], w2[32];
};

#define HV_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))

/* Column sums of `span` 4-byte source pixels over nrows rows, 16 columns
 * a step, as three planes of blue, green and red (columns past span are 0
 * up to the next multiple of 16). */
HV_AVX512 void fbScalePlanesAVX512(const uint8_t* const* rows, const uint32_t* rw, uint32_t nrows,
                                   size_t span, uint16_t* const* planes) {
    alignas(64) uint16_t pick[3][32] = {};
    for (int c = 0; c < 3; c++)
        for (int m = 0; m < 16; m++)
            pick[c][m] = uint16_t(4 * m + c);
    const __m512i pickB = _mm512_load_si512(pick[0]), pickG = _mm512_load_si512(pick[1]),
                  pickR = _mm512_load_si512(pick[2]);
    for (size_t k = 0; k < span; k += 16) {
        __mmask16 live = span - k >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (span - k)) - 1);
        __m512i lo = _mm512_setzero_si512(), hi = _mm512_setzero_si512();
        for (uint32_t j = 0; j < nrows; j++) {
            __m512i p = _mm512_maskz_loadu_epi32(live, rows[j] + 4 * k);
            __m512i w = _mm512_set1_epi16(int16_t(rw[j]));
            lo = _mm512_add_epi16(
                lo, _mm512_mullo_epi16(
                        _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xFF, p, 0)), w));
            hi = _mm512_add_epi16(
                hi, _mm512_mullo_epi16(
                        _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xFF, p, 1)), w));
        }
        _mm512_mask_storeu_epi16(planes[0] + k, 0xFFFF, _mm512_permutex2var_epi16(lo, pickB, hi));
        _mm512_mask_storeu_epi16(planes[1] + k, 0xFFFF, _mm512_permutex2var_epi16(lo, pickG, hi));
        _mm512_mask_storeu_epi16(planes[2] + k, 0xFFFF, _mm512_permutex2var_epi16(lo, pickR, hi));
    }
}

/* n destination pixels, 16 a step, from the column-sum planes: the box
 * sums of each channel by two word-pair multiply-adds on the picked
 * columns, then trunc((sum + 1/2) x rcp). rcp holds a multiple of 16
 * entries (0 past n). */
HV_AVX512 void fbScaleBoxesAVX512(uint16_t* const* planes, const FbScaleGroup* groups,
                                  const uint32_t* bases, const float* rcp, size_t n, uint8_t* d) {
    const __m512 half = _mm512_set1_ps(0.5f);
    for (size_t i = 0, g = 0; i < n; i += 16, g++) {
        __mmask16 live = n - i >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - i)) - 1);
        const FbScaleGroup& gr = groups[g];
        __m512i idx01 = _mm512_loadu_si512(gr.idx01), idx2 = _mm512_loadu_si512(gr.idx2);
        __m512i w01 = _mm512_loadu_si512(gr.w01), w2 = _mm512_loadu_si512(gr.w2);
        __m512 r = _mm512_loadu_ps(rcp + i);
        __m512i out = _mm512_setzero_si512();
        for (int c = 0; c < 3; c++) {
            const uint16_t* plane = planes[c] + bases[g];
            __m512i lo = _mm512_loadu_si512(plane), hi = _mm512_loadu_si512(plane + 32);
            __m512i sum =
                _mm512_add_epi32(_mm512_madd_epi16(_mm512_permutex2var_epi16(lo, idx01, hi), w01),
                                 _mm512_madd_epi16(_mm512_permutex2var_epi16(lo, idx2, hi), w2));
            /* (The mask forms keep one compiler from warning about the
             * plain forms' undefined pass-through.) */
            __m512i q = _mm512_maskz_cvttps_epi32(
                0xFFFF,
                _mm512_mul_ps(_mm512_add_ps(_mm512_maskz_cvtepi32_ps(0xFFFF, sum), half), r));
            out = _mm512_or_si512(out, _mm512_maskz_slli_epi32(0xFFFF, q, unsigned(8 * c)));
        }
        _mm512_mask_storeu_epi32(d + 4 * i, live, out);
    }
}
#endif

/* Boxes of at most 1008 sixteenths a side (63 pixels): per-channel sums stay
 * below 2^32, so red and blue share one 64-bit word (blue in the low half).
 * The quotient by the box weight W = R x C is one multiplication by the
 * reciprocal of W when 255 x W x W < 2^40, else two exact steps,
 * floor(floor(n / C) / R) (255 x R x C x C < 2^40). Column boxes of at most
 * three pixels (the usual case) are summed without a loop. */
template <int SB, int DB>
void fbScaleAverageSmallBoxes(const FbScaleSource& s, const FbScaleCall& c, const FbScaleSize* size,
                              uint64_t stepX, uint64_t stepY, uint8_t* dst) {
    const uint64_t sw = size->srcWidth, dw = size->dstWidth, sh = size->srcHeight,
                   dh = size->dstHeight;
    size_t n = size_t(c.x1 - c.x0);
    std::vector<FbScaleSpan> cols(n);
    for (size_t i = 0; i < n; i++)
        cols[i] = fbScaleSpan(sw, dw, stepX, uint64_t(c.x0) + i);
    uint32_t cFirst = cols[0].first, cLast = cols[n - 1].last;
    size_t span = cLast - cFirst + 1;
    /* Per column: its first source column, three weights (the third 0 for
     * boxes of two), its total and the two-step reciprocal. */
    bool threeTaps = true;
    uint32_t maxTotal = 0;
    std::vector<uint32_t> tapAt(n), taps(3 * n), colTotal(n);
    std::vector<uint64_t> colInv(n);
    for (size_t i = 0; i < n; i++) {
        const FbScaleSpan& col = cols[i];
        tapAt[i] = col.first - cFirst;
        taps[3 * i] = col.wFirst;
        taps[3 * i + 1] = col.last > col.first ? (col.last - col.first == 1 ? col.wLast : 16) : 0;
        taps[3 * i + 2] = col.last - col.first == 2 ? col.wLast : 0;
        threeTaps = threeTaps && col.last - col.first <= 2;
        colTotal[i] = col.total;
        colInv[i] = fbScaleReciprocal(col.total);
        if (col.total > maxTotal) maxTotal = col.total;
    }
    /* Two spare columns let the three-tap sum read past the last box. */
    std::vector<uint64_t> vrb(span + 2);
    std::vector<uint32_t> vg(span + 2);
    /* Reciprocals of R x C for this row's R, indexed by C; the distinct
     * column totals are few. */
    std::vector<uint64_t> boxInv(size_t(maxTotal) + 1);
    std::vector<uint32_t> totals;
    for (size_t i = 0; i < n; i++) {
        if (boxInv[colTotal[i]]) continue;
        boxInv[colTotal[i]] = 1;
        totals.push_back(colTotal[i]);
    }
#if HV_FBSCALE_X86
    /* The AVX2 path's taps and column sums (two spare columns and a spare
     * load's width, all zero); both paths' box weights and their float
     * reciprocals, made for the first row they take and remade when the row
     * weight changes. */
    const bool vector = SB == 4 && DB == 4 && threeTaps && fbScaleLevel() >= 1;
    std::vector<FbScaleTap> vtaps;
    std::vector<uint16_t> vsum;
    std::vector<float> vrcp;
    std::vector<uint32_t> vweight;
    uint32_t vRowTotal = 0;
    /* The AVX-512 path: per group of 16 pixels its first column, picks
     * and weights, when every group's columns lie in its 64-column window;
     * the planes have room for the last window. */
    const bool wide = vector && fbScaleLevel() >= 2;
    std::vector<FbScaleGroup> groups;
    std::vector<uint32_t> bases;
    std::vector<uint16_t> planeSums;
    uint16_t* planes[3] = {};
    bool windows = wide;
    if (wide) {
        size_t ng = (n + 15) / 16;
        groups.assign(ng, FbScaleGroup{});
        bases.resize(ng);
        for (size_t g = 0; g < ng; g++) {
            bases[g] = tapAt[16 * g];
            for (size_t j = 0; j < 16 && 16 * g + j < n; j++) {
                size_t i = 16 * g + j;
                uint32_t rel = tapAt[i] - bases[g];
                if (rel + 2 > 63) windows = false;
                FbScaleGroup& gr = groups[g];
                gr.idx01[2 * j] = uint16_t(rel), gr.idx01[2 * j + 1] = uint16_t(rel + 1);
                gr.idx2[2 * j] = gr.idx2[2 * j + 1] = uint16_t(rel + 2);
                gr.w01[2 * j] = uint16_t(taps[3 * i]);
                gr.w01[2 * j + 1] = uint16_t(taps[3 * i + 1]);
                gr.w2[2 * j] = uint16_t(taps[3 * i + 2]);
            }
        }
        size_t planeSize = span + 80;
        planeSums.assign(3 * planeSize, 0);
        for (int c = 0; c < 3; c++)
            planes[c] = planeSums.data() + size_t(c) * planeSize;
    }
    if (vector) {
        vrcp.assign((n + 15) / 16 * 16, 0.0f);
        vweight.resize(n);
    }
    if (vector && !windows) {
        vtaps.resize(n);
        for (size_t i = 0; i < n; i++)
            vtaps[i] = {taps[3 * i] | taps[3 * i + 1] << 16, taps[3 * i + 2], 4 * tapAt[i]};
        vsum.assign(4 * (span + 2) + 16, 0);
    }
#endif
    for (int32_t y = c.y0; y < c.y1; y++) {
        FbScaleSpan row = fbScaleSpan(sh, dh, stepY, uint64_t(y));
        const uint8_t* rows[3];
        uint32_t rw[3] = {0, 0, 0}, nrows = 0;
        bool fused = row.last - row.first <= 2;
        for (uint32_t sy = row.first; fused && sy <= row.last; sy++) {
            const uint8_t* srow = fbScaleSourceRow(s, sy);
            if (!srow) continue;
            rows[nrows] = srow + size_t(cFirst) * SB;
            rw[nrows++] = fbScaleWeight(row, sy);
        }
        uint8_t* d = dst + size_t(c.dstTop - y) * c.dstStride + size_t(c.x0) * DB;
        /* Boxes of three columns whose weight R x C keeps 255 x R x C below
         * 2^21: all channels in one word, divided in one step. */
        if (fused && threeTaps && uint64_t(row.total) * maxTotal < 8192) {
#if HV_FBSCALE_X86
            if (vector) {
                if (row.total != vRowTotal) {
                    vRowTotal = row.total;
                    for (size_t i = 0; i < n; i++) {
                        vweight[i] = row.total * colTotal[i];
                        vrcp[i] = 1.0f / float(vweight[i]);
                    }
                }
                if (windows) {
                    fbScalePlanesAVX512(rows, rw, nrows, span, planes);
                    fbScaleBoxesAVX512(planes, groups.data(), bases.data(), vrcp.data(), n, d);
                    continue;
                }
                fbScaleColumnsAVX2(rows, rw, nrows, span, vsum.data());
                fbScaleBoxesAVX2(vsum.data(), vtaps.data(), vrcp.data(), vweight.data(), n, d);
                continue;
            }
#endif
            uint64_t* vp = vrb.data();
            const size_t stepS = SB;
            if (nrows == 0) {
                memset(vp, 0, span * sizeof(uint64_t));
            } else if (nrows == 1) {
                for (size_t k = 0; k < span; k++)
                    vp[k] = rw[0] * fbScaleSpread(fbScaleRead<SB>(s, rows[0] + k * stepS));
            } else if (nrows == 2) {
                for (size_t k = 0; k < span; k++)
                    vp[k] = rw[0] * fbScaleSpread(fbScaleRead<SB>(s, rows[0] + k * stepS)) +
                            rw[1] * fbScaleSpread(fbScaleRead<SB>(s, rows[1] + k * stepS));
            } else {
                for (size_t k = 0; k < span; k++)
                    vp[k] = rw[0] * fbScaleSpread(fbScaleRead<SB>(s, rows[0] + k * stepS)) +
                            rw[1] * fbScaleSpread(fbScaleRead<SB>(s, rows[1] + k * stepS)) +
                            rw[2] * fbScaleSpread(fbScaleRead<SB>(s, rows[2] + k * stepS));
            }
            for (uint32_t t : totals)
                boxInv[t] = fbScaleReciprocal(uint64_t(row.total) * t);
            const uint32_t* w = taps.data();
            for (size_t i = 0; i < n; i++, d += DB, w += 3) {
                const uint64_t* v = vp + tapAt[i];
                uint64_t sum = w[0] * v[0] + w[1] * v[1] + w[2] * v[2];
                uint64_t m = boxInv[colTotal[i]];
                uint64_t r = (sum >> 42) * m >> 40, g = (sum >> 21 & 0x1FFFFF) * m >> 40,
                         b = (sum & 0x1FFFFF) * m >> 40;
                fbScaleWrite<DB>(d, uint32_t(r << 16 | g << 8 | b));
            }
            continue;
        }
        if (fused) {
            for (uint32_t j = nrows; j < 3; j++)
                rows[j] = nrows ? rows[0] : nullptr, rw[j] = 0;
            for (size_t k = 0; nrows && k < span; k++) {
                uint32_t a = fbScaleRead<SB>(s, rows[0] + k * SB),
                         b = fbScaleRead<SB>(s, rows[1] + k * SB),
                         d = fbScaleRead<SB>(s, rows[2] + k * SB);
                vrb[k] = uint64_t(rw[0]) * ((a & 0xFF) | uint64_t(a & 0xFF0000) << 16) +
                         uint64_t(rw[1]) * ((b & 0xFF) | uint64_t(b & 0xFF0000) << 16) +
                         uint64_t(rw[2]) * ((d & 0xFF) | uint64_t(d & 0xFF0000) << 16);
                vg[k] = rw[0] * (a >> 8 & 0xFF) + rw[1] * (b >> 8 & 0xFF) + rw[2] * (d >> 8 & 0xFF);
            }
            if (!nrows) {
                memset(vrb.data(), 0, span * sizeof(uint64_t));
                memset(vg.data(), 0, span * sizeof(uint32_t));
            }
        } else {
            memset(vrb.data(), 0, span * sizeof(uint64_t));
            memset(vg.data(), 0, span * sizeof(uint32_t));
            for (uint32_t sy = row.first; sy <= row.last; sy++) {
                const uint8_t* srow = fbScaleSourceRow(s, sy);
                if (!srow) continue;
                uint64_t w = fbScaleWeight(row, sy);
                const uint8_t* p = srow + size_t(cFirst) * SB;
                for (size_t k = 0; k < span; k++, p += SB) {
                    uint32_t rgb = fbScaleRead<SB>(s, p);
                    vrb[k] += w * ((rgb & 0xFF) | uint64_t(rgb & 0xFF0000) << 16);
                    vg[k] += uint32_t(w) * (rgb >> 8 & 0xFF);
                }
            }
        }
        uint64_t rowInv = fbScaleReciprocal(row.total);
        bool oneStep = uint64_t(row.total) * maxTotal < 65536;
        if (oneStep)
            for (uint32_t t : totals)
                boxInv[t] = fbScaleReciprocal(uint64_t(row.total) * t);
        for (size_t i = 0; i < n; i++, d += DB) {
            uint64_t rb, g;
            size_t k = tapAt[i];
            if (threeTaps) {
                const uint32_t* w = &taps[3 * i];
                rb = w[0] * vrb[k] + w[1] * vrb[k + 1] + w[2] * vrb[k + 2];
                g = uint64_t(w[0]) * vg[k] + uint64_t(w[1]) * vg[k + 1] +
                    uint64_t(w[2]) * vg[k + 2];
            } else {
                const FbScaleSpan& col = cols[i];
                size_t last = col.last - cFirst;
                rb = col.wFirst * vrb[k], g = uint64_t(col.wFirst) * vg[k];
                for (size_t j = k + 1; j < last; j++)
                    rb += 16 * vrb[j], g += 16 * uint64_t(vg[j]);
                if (last != k) rb += col.wLast * vrb[last], g += uint64_t(col.wLast) * vg[last];
            }
            uint64_t r, b;
            if (oneStep) {
                uint64_t m = boxInv[colTotal[i]];
                r = (rb >> 32) * m >> 40, b = (rb & 0xFFFFFFFF) * m >> 40, g = g * m >> 40;
            } else {
                uint64_t ci = colInv[i];
                r = ((rb >> 32) * ci >> 40) * rowInv >> 40;
                b = ((rb & 0xFFFFFFFF) * ci >> 40) * rowInv >> 40;
                g = (g * ci >> 40) * rowInv >> 40;
            }
            fbScaleWrite<DB>(d, uint32_t(r << 16 | g << 8 | b));
        }
    }
}

template <int SB, int DB>
void fbScaleAverage(const FbScaleSize* size, const DdColorMap* map, const uint8_t* src,
                    uint8_t* dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t srcTop,
                    int32_t dstTop) {
    FbScaleSource s;
    FbScaleCall c;
    if (!fbScaleSetUp<SB>(size, map, src, x0, y0, x1, y1, srcTop, dstTop, DB, s, c)) return;
    const uint64_t sw = size->srcWidth, dw = size->dstWidth, sh = size->srcHeight,
                   dh = size->dstHeight;
    uint64_t stepX = sw * 16 / dw, stepY = sh * 16 / dh;
    if (stepX < 17) stepX = 17;
    if (stepY < 17) stepY = 17;
    if (stepX + 16 <= 1024 && stepY + 16 <= 1024) {
        fbScaleAverageSmallBoxes<SB, DB>(s, c, size, stepX, stepY, dst);
        return;
    }
    size_t n = size_t(c.x1 - c.x0);
    std::vector<FbScaleSpan> cols(n);
    for (size_t i = 0; i < n; i++)
        cols[i] = fbScaleSpan(sw, dw, stepX, uint64_t(c.x0) + i);
    uint32_t cFirst = cols[0].first, cLast = cols[n - 1].last;
    size_t span = cLast - cFirst + 1;
    /* Per source column of the rectangle: row-weighted sums of red, green
     * and blue (16 x rows x 255 stays below 2^32 for 65535 rows). */
    std::vector<uint32_t> vsum(3 * span);
    for (int32_t y = c.y0; y < c.y1; y++) {
        FbScaleSpan row = fbScaleSpan(sh, dh, stepY, uint64_t(y));
        memset(vsum.data(), 0, vsum.size() * sizeof(uint32_t));
        for (uint32_t sy = row.first; sy <= row.last; sy++) {
            const uint8_t* srow = fbScaleSourceRow(s, sy);
            if (!srow) continue;
            uint32_t rw = fbScaleWeight(row, sy);
            const uint8_t* p = srow + size_t(cFirst) * SB;
            uint32_t* v = vsum.data();
            for (size_t k = 0; k < span; k++, p += SB, v += 3) {
                uint32_t rgb = fbScaleRead<SB>(s, p);
                v[0] += rw * (rgb >> 16 & 0xFF);
                v[1] += rw * (rgb >> 8 & 0xFF);
                v[2] += rw * (rgb & 0xFF);
            }
        }
        double rowInv = 1.0 / row.total;
        uint8_t* d = dst + size_t(c.dstTop - y) * c.dstStride + size_t(c.x0) * DB;
        for (size_t i = 0; i < n; i++, d += DB) {
            const FbScaleSpan& col = cols[i];
            const uint32_t* v = vsum.data() + 3 * (col.first - cFirst);
            uint64_t r = uint64_t(col.wFirst) * v[0], g = uint64_t(col.wFirst) * v[1],
                     b = uint64_t(col.wFirst) * v[2];
            for (uint32_t sx = col.first + 1; sx <= col.last; sx++) {
                v += 3;
                uint64_t cw = sx == col.last ? col.wLast : 16;
                r += cw * v[0], g += cw * v[1], b += cw * v[2];
            }
            uint64_t total = uint64_t(row.total) * col.total;
            if (total == 0) {
                fbScaleWrite<DB>(d, 0);
                continue;
            }
            double inv = rowInv / col.total;
            fbScaleWrite<DB>(d, fbScaleDivide(r, total, inv) << 16 |
                                    fbScaleDivide(g, total, inv) << 8 |
                                    fbScaleDivide(b, total, inv));
        }
    }
}

} // namespace

#define FB_SCALE_PAIR(S, D, SB, DB)                                                                \
    static void fbScale##S##To##D##Near(const FbScaleSize* size, const DdColorMap* map,            \
                                        const uint8_t* src, uint8_t* dst, int32_t x0, int32_t y0,  \
                                        int32_t x1, int32_t y1, int32_t srcTop, int32_t dstTop) {  \
        fbScaleNearest<SB, DB>(size, map, src, dst, x0, y0, x1, y1, srcTop, dstTop);               \
    }                                                                                              \
    static void fbScale##S##To##D##Avg(const FbScaleSize* size, const DdColorMap* map,             \
                                       const uint8_t* src, uint8_t* dst, int32_t x0, int32_t y0,   \
                                       int32_t x1, int32_t y1, int32_t srcTop, int32_t dstTop) {   \
        fbScaleAverage<SB, DB>(size, map, src, dst, x0, y0, x1, y1, srcTop, dstTop);               \
    }

FB_SCALE_PAIR(8, 16, 1, 2)
FB_SCALE_PAIR(8, 24, 1, 3)
FB_SCALE_PAIR(8, 32, 1, 4)
FB_SCALE_PAIR(16, 16, 2, 2)
FB_SCALE_PAIR(16, 24, 2, 3)
FB_SCALE_PAIR(16, 32, 2, 4)
FB_SCALE_PAIR(24, 16, 3, 2)
FB_SCALE_PAIR(24, 24, 3, 3)
FB_SCALE_PAIR(24, 32, 3, 4)
FB_SCALE_PAIR(32, 16, 4, 2)
FB_SCALE_PAIR(32, 24, 4, 3)
FB_SCALE_PAIR(32, 32, 4, 4)

/* Index to index: the colormap index as it stands. */
static void fbScale8To8Near(const FbScaleSize* size, const DdColorMap* map, const uint8_t* src,
                            uint8_t* dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                            int32_t srcTop, int32_t dstTop) {
    fbScaleNearest<1, 1>(size, map, src, dst, x0, y0, x1, y1, srcTop, dstTop);
}

const FbScaleFn g_fbScaleNearest[4][4] = {
    {fbScale8To8Near, fbScale8To16Near, fbScale8To24Near, fbScale8To32Near},
    {nullptr, fbScale16To16Near, fbScale16To24Near, fbScale16To32Near},
    {nullptr, fbScale24To16Near, fbScale24To24Near, fbScale24To32Near},
    {nullptr, fbScale32To16Near, fbScale32To24Near, fbScale32To32Near},
};

const FbScaleFn g_fbScaleAverage[4][4] = {
    {nullptr, fbScale8To16Avg, fbScale8To24Avg, fbScale8To32Avg},
    {nullptr, fbScale16To16Avg, fbScale16To24Avg, fbScale16To32Avg},
    {nullptr, fbScale24To16Avg, fbScale24To24Avg, fbScale24To32Avg},
    {nullptr, fbScale32To16Avg, fbScale32To24Avg, fbScale32To32Avg},
};
