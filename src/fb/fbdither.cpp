/* Ordered dither (see fbdither.h).
 *
 * A channel value v at threshold t takes level quot[v] + 1 when rem[v] > t,
 * else quot[v]. A colour on the cube (all three remainders 0) therefore maps
 * to its own cube colour at every position.
 *
 * The output of a pixel depends only on its colour and on (x mod 8, y mod 8),
 * so the work per pixel is reduced to table lookups: per row of the matrix
 * and column within it, one table per channel already holds the level times
 * 1, N and N x N (three lookups, two adds, then the cube), 16-bit pixels index
 * tables of their 5- and 6-bit fields directly, and 8-bit pixels one table of
 * the final index per cell and column, made per call. Output is written in
 * aligned groups of 8 columns: a group of 8 equal pixels equal to the last
 * such group repeats its 8 outputs.
 *
 * On x86 processors with AVX2 the true-colour routines compute 16 cube
 * indexes per step without tables: a channel v at threshold t takes level
 * (v + q - 1 - t) / q (the same as quot + (rem > t), as t < q), the
 * division being one 16-bit multiplication by a factor checked exact for
 * every sum at build time. With AVX-512 byte permutes the cube and the
 * 8-bit routine's per-call tables are looked up 64 bytes at a time. */
#include "fb/fbdither.h"

#include <string.h>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HV_FBDITHER_X86 1
#include <immintrin.h>
/* GCC 12 takes the undefined pass-through of the unmasked AVX-512
 * intrinsics for an uninitialised variable. */
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#else
#define HV_FBDITHER_X86 0
#endif

#include "ui/dicolor.h"

namespace {

/* Pixel (x, y) takes row x mod 8, column y mod 8. */
const uint8_t kDitherMatrix[64] = {
    0,  38, 9,  47, 2,  40, 11, 50, 25, 12, 35, 22, 27, 15, 37, 24, 6,  44, 3,  41, 8,  47,
    5,  43, 31, 19, 28, 15, 34, 21, 31, 18, 1,  39, 11, 49, 0,  39, 10, 48, 27, 14, 36, 23,
    26, 13, 35, 23, 7,  46, 4,  43, 7,  45, 3,  42, 33, 20, 30, 17, 32, 19, 29, 16,
};

/* Below this many pixels fbDither8 dithers cell by cell rather than making
 * its per-call tables (8 x 2 KiB at most). */
const uint64_t kDither8TableArea = 8192;

struct FbDitherTables {
    int32_t n;           /* levels per channel; 0 until built */
    uint32_t generation; /* grows at every build */
    uint8_t quot[256], rem[256];
    uint8_t threshold[64];
    uint8_t mulN[8], mulN2[8]; /* level x N, level x N x N */
    /* [y mod 8][x mod 8]: 256 values each of red level, green level x N,
     * blue level x N x N */
    uint8_t rgb[8][8][3 * 256];
    /* The same for 5-6-5 pixels indexed by their fields: 32 red, 64 green,
     * 32 blue */
    uint8_t rgb16[8][8][128];
    /* fbDither8's per-call table: [y mod 8][cell][x mod 8] palette index */
    uint8_t cells8[8][256][8];
    /* The same as [y mod 8][x mod 8][cell], for the byte-permute routine */
    uint8_t cells8t[8][8][256];
    /* [y mod 8][x mod 8]: q - 1 - threshold; a channel v takes level
     * (v + offset) / q */
    uint16_t offset[8][8];
    /* (v + offset) / q == (v + offset) x divMul >> 16 for every such sum;
     * 0 when no 16-bit factor is exact (the vector routines stand aside) */
    uint32_t divMul;
};

/* The widest instructions the routines use: 0 plain C, 1 AVX2, 2 AVX-512
 * byte permutes; -1 until the processor is asked. */
int g_fbDitherLevel = -1;
int g_fbDitherCap = 2;

int fbDitherProcessorLevel() {
#if HV_FBDITHER_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx2"))
        return 2;
    if (__builtin_cpu_supports("avx2")) return 1;
#endif
    return 0;
}

int fbDitherLevel() {
    if (g_fbDitherLevel < 0) g_fbDitherLevel = fbDitherProcessorLevel();
    return g_fbDitherLevel < g_fbDitherCap ? g_fbDitherLevel : g_fbDitherCap;
}

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

/* The bytes of an X pixel of B bytes as one number; equal numbers are
 * equal colours. */
template <int B> inline uint32_t fbDitherKey(const uint8_t* p) {
    if constexpr (B == 2) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    if constexpr (B == 3) return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

/* The cube index of one pixel from the tables of its matrix position. A
 * 16-bit pixel expands exactly (r5 x 8 + r5 / 4 ...) inside its tables;
 * 3- and 4-byte pixels are blue, green, red in memory, like the smooth
 * scalers' output. */
template <int B> struct FbDitherPixel {
    const uint8_t (*tab)[B == 2 ? 128 : 768]; /* [x mod 8] of one matrix row */
    const uint8_t* cube;
    uint32_t operator()(const uint8_t* p, uint32_t k) const {
        const uint8_t* t = tab[k];
        if constexpr (B == 2) {
            uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8;
            return cube[t[v >> 11] + t[32 + (v >> 5 & 63)] + t[96 + (v & 31)]];
        } else {
            return cube[t[p[2]] + t[256 + p[1]] + t[512 + p[0]]];
        }
    }
};

#if HV_FBDITHER_X86
#define HV_AVX2 __attribute__((target("avx2")))
#define HV_VBMI __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

/* 4 + 4 pixels of 3 bytes at q (reads 28 bytes from q). */
HV_AVX2 inline __m256i fbDitherLoad3(const uint8_t* q) {
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 12));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

/* Palette indexes of up to n pixels of B bytes from p, 16 at a time: the
 * cube indexes in a vector, then the cube entry of each. Returns how many
 * were done (a multiple of 16; 3-byte pixels keep two pixels in hand, as
 * their loads read 4 bytes past the 16th). `offsets` are those of the 16
 * pixels' columns, for 3- and 4-byte pixels in the order their channels
 * are packed below (columns 0-3, 8-11, 4-7, 12-15). Steps keep the column
 * phase, so 16 equal pixels equal to the last such group repeat its
 * outputs. */
template <int B>
HV_AVX2 uint32_t fbDitherRowAVX2(const uint8_t* p, uint32_t n, uint8_t* out,
                                 const uint16_t* offsets, uint32_t divMul, uint32_t cube,
                                 const uint8_t* cube256) {
    const __m256i off = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets));
    const __m256i mul = _mm256_set1_epi16(int16_t(divMul));
    const __m256i n1 = _mm256_set1_epi16(int16_t(cube)),
                  n2 = _mm256_set1_epi16(int16_t(cube * cube));
    const uint32_t need = B == 3 ? 18 : 16;
    bool haveRun = false;
    uint32_t runKey = 0;
    alignas(16) uint8_t runOut[16], idx[16];
    uint32_t i = 0;
    for (; n - i >= need; i += 16, p += 16 * B) {
        __m256i r, g, b;
        bool same;
        uint32_t key;
        if constexpr (B == 2) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            key = uint32_t(p[0]) | uint32_t(p[1]) << 8;
            same =
                _mm256_movemask_epi8(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(int16_t(key)))) == -1;
            if (same && haveRun && key == runKey) {
                memcpy(out + i, runOut, 16);
                continue;
            }
            __m256i r5 = _mm256_srli_epi16(v, 11);
            __m256i g6 = _mm256_and_si256(_mm256_srli_epi16(v, 5), _mm256_set1_epi16(63));
            __m256i b5 = _mm256_and_si256(v, _mm256_set1_epi16(31));
            r = _mm256_or_si256(_mm256_slli_epi16(r5, 3), _mm256_srli_epi16(r5, 2));
            g = _mm256_or_si256(_mm256_slli_epi16(g6, 2), _mm256_srli_epi16(g6, 4));
            b = _mm256_or_si256(_mm256_slli_epi16(b5, 3), _mm256_srli_epi16(b5, 2));
        } else {
            __m256i a, c;
            if constexpr (B == 4) {
                a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
            } else {
                const __m256i spread =
                    _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2,
                                     -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
                a = _mm256_shuffle_epi8(fbDitherLoad3(p), spread);
                c = _mm256_shuffle_epi8(fbDitherLoad3(p + 24), spread);
            }
            key = uint32_t(_mm256_cvtsi256_si32(a));
            __m256i all = _mm256_set1_epi32(int32_t(key));
            same = _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi32(a, all),
                                                         _mm256_cmpeq_epi32(c, all))) == -1;
            if (same && haveRun && key == runKey) {
                memcpy(out + i, runOut, 16);
                continue;
            }
            const __m256i low = _mm256_set1_epi32(0xFF);
            b = _mm256_packus_epi32(_mm256_and_si256(a, low), _mm256_and_si256(c, low));
            g = _mm256_packus_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 8), low),
                                    _mm256_and_si256(_mm256_srli_epi32(c, 8), low));
            r = _mm256_packus_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 16), low),
                                    _mm256_and_si256(_mm256_srli_epi32(c, 16), low));
        }
        __m256i lr = _mm256_mulhi_epu16(_mm256_add_epi16(r, off), mul);
        __m256i lg = _mm256_mulhi_epu16(_mm256_add_epi16(g, off), mul);
        __m256i lb = _mm256_mulhi_epu16(_mm256_add_epi16(b, off), mul);
        __m256i id = _mm256_add_epi16(
            lr, _mm256_add_epi16(_mm256_mullo_epi16(lg, n1), _mm256_mullo_epi16(lb, n2)));
        if constexpr (B != 2) id = _mm256_permute4x64_epi64(id, 0xD8);
        __m128i bytes =
            _mm_packus_epi16(_mm256_castsi256_si128(id), _mm256_extracti128_si256(id, 1));
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), bytes);
        for (int k = 0; k < 16; k++)
            out[i + uint32_t(k)] = cube256[idx[k]];
        if (same) {
            haveRun = true, runKey = key;
            memcpy(runOut, out + i, 16);
        }
    }
    return i;
}

/* table[v] for the 64 bytes v (their top bit picks the upper half). */
HV_VBMI inline __m512i fbDitherLookup64(__m512i v, __mmask64 high, const uint8_t* table) {
    const __m512i* t = reinterpret_cast<const __m512i*>(table);
    __m512i a = _mm512_permutex2var_epi8(_mm512_loadu_si512(t), v, _mm512_loadu_si512(t + 1));
    __m512i b = _mm512_permutex2var_epi8(_mm512_loadu_si512(t + 2), v, _mm512_loadu_si512(t + 3));
    return _mm512_mask_blend_epi8(high, a, b);
}

/* Transposes the 8 x 8 matrix of 64-bit words r[k] word m. */
HV_VBMI inline void fbDitherTranspose(__m512i* r) {
    __m512i a[8], b[8];
    for (int k = 0; k < 8; k += 2) {
        a[k] = _mm512_unpacklo_epi64(r[k], r[k + 1]);
        a[k + 1] = _mm512_unpackhi_epi64(r[k], r[k + 1]);
    }
    const __m512i lo = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i hi = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    static const int kFirst[4] = {0, 1, 4, 5};
    for (int k : kFirst) {
        b[k] = _mm512_permutex2var_epi64(a[k], lo, a[k + 2]);
        b[k + 2] = _mm512_permutex2var_epi64(a[k], hi, a[k + 2]);
    }
    for (int k = 0; k < 4; k++) {
        r[k] = _mm512_shuffle_i64x2(b[k], b[k + 4], 0x44);
        r[k + 4] = _mm512_shuffle_i64x2(b[k], b[k + 4], 0xEE);
    }
}

/* One row of fbDither8: out[i] = tab[(col0 + i) mod 8][src[i]], i < n.
 * 512 bytes at a time are regrouped by column (an 8 x 8 byte transpose in
 * each register, then an 8 x 8 word transpose across the eight), so that
 * each register meets one column's table; the rest in blocks of 4 x 64
 * bytes that share each column's table loads. */
HV_VBMI void fbDither8RowVBMI(const uint8_t* src, uint8_t* out, uint32_t col0, uint32_t n,
                              const uint8_t (*tab)[256]) {
    uint32_t i = 0;
    if (n >= 512) {
        alignas(64) uint8_t order[64];
        for (int m = 0; m < 8; m++)
            for (int t = 0; t < 8; t++)
                order[8 * m + t] = uint8_t(8 * t + m);
        const __m512i bytes = _mm512_load_si512(order);
        for (; n - i >= 512; i += 512) {
            __m512i r[8];
            for (int k = 0; k < 8; k++)
                r[k] = _mm512_permutexvar_epi8(bytes, _mm512_loadu_si512(src + i + 64 * k));
            fbDitherTranspose(r);
            uint32_t phase = (col0 + i) & 7;
            for (uint32_t m = 0; m < 8; m++)
                r[m] = fbDitherLookup64(r[m], _mm512_movepi8_mask(r[m]), tab[(phase + m) & 7]);
            fbDitherTranspose(r);
            for (int k = 0; k < 8; k++)
                _mm512_storeu_si512(out + i + 64 * k, _mm512_permutexvar_epi8(bytes, r[k]));
        }
    }
    const int kBlocks = 4;
    for (; i < n; i += 64 * kBlocks) {
        __m512i v[kBlocks], r[kBlocks];
        __mmask64 live[kBlocks], high[kBlocks];
        for (int k = 0; k < kBlocks; k++) {
            uint32_t at = i + 64 * uint32_t(k);
            live[k] = at >= n ? 0 : n - at >= 64 ? ~__mmask64(0) : (__mmask64(1) << (n - at)) - 1;
            v[k] = _mm512_maskz_loadu_epi8(live[k], src + at);
            high[k] = _mm512_movepi8_mask(v[k]);
            r[k] = _mm512_setzero_si512();
        }
        uint32_t phase = (col0 + i) & 7;
        for (uint32_t xm = 0; xm < 8; xm++) {
            __mmask64 at = __mmask64(0x0101010101010101ull) << ((xm - phase) & 7);
            const __m512i* t = reinterpret_cast<const __m512i*>(tab[xm]);
            __m512i t0 = _mm512_loadu_si512(t), t1 = _mm512_loadu_si512(t + 1),
                    t2 = _mm512_loadu_si512(t + 2), t3 = _mm512_loadu_si512(t + 3);
            for (int k = 0; k < kBlocks; k++) {
                __m512i a = _mm512_permutex2var_epi8(t0, v[k], t1);
                __m512i b = _mm512_permutex2var_epi8(t2, v[k], t3);
                r[k] = _mm512_mask_mov_epi8(r[k], at & ~high[k], a);
                r[k] = _mm512_mask_mov_epi8(r[k], at & high[k], b);
            }
        }
        for (int k = 0; k < kBlocks; k++)
            _mm512_mask_storeu_epi8(out + i + 64 * uint32_t(k), live[k], r[k]);
    }
}

/* Cube indexes of 64 pixels of B bytes at p into one vector: the channels
 * picked into 16-bit lanes by byte permutes (natural order), each level
 * (v + offset) x divMul >> 16. */
struct FbDitherPicks {
    __m512i blue, green, red; /* byte of each channel of pixel j in lane j */
};

template <int B>
HV_VBMI inline __m512i fbDitherIndexes64(const uint8_t* p, const FbDitherPicks& pick, __m512i off,
                                         __m512i mul, __m512i n1, __m512i n2) {
    __m256i half[2];
    for (int h = 0; h < 2; h++) {
        const uint8_t* q = p + 32 * B * h;
        __m512i r, g, b;
        if constexpr (B == 2) {
            __m512i v = _mm512_loadu_si512(q);
            __m512i r5 = _mm512_srli_epi16(v, 11);
            __m512i g6 = _mm512_and_si512(_mm512_srli_epi16(v, 5), _mm512_set1_epi16(63));
            __m512i b5 = _mm512_and_si512(v, _mm512_set1_epi16(31));
            r = _mm512_or_si512(_mm512_slli_epi16(r5, 3), _mm512_srli_epi16(r5, 2));
            g = _mm512_or_si512(_mm512_slli_epi16(g6, 2), _mm512_srli_epi16(g6, 4));
            b = _mm512_or_si512(_mm512_slli_epi16(b5, 3), _mm512_srli_epi16(b5, 2));
        } else {
            /* 32 pixels are 96 or 128 bytes: two registers, the second
             * loaded only as far as the pixels go. */
            __m512i a = _mm512_loadu_si512(q);
            __m512i c = B == 4 ? _mm512_loadu_si512(q + 64)
                               : _mm512_maskz_loadu_epi8(0xFFFFFFFFull, q + 64);
            const __mmask64 even = 0x5555555555555555ull;
            b = _mm512_maskz_permutex2var_epi8(even, a, pick.blue, c);
            g = _mm512_maskz_permutex2var_epi8(even, a, pick.green, c);
            r = _mm512_maskz_permutex2var_epi8(even, a, pick.red, c);
        }
        __m512i lr = _mm512_mulhi_epu16(_mm512_add_epi16(r, off), mul);
        __m512i lg = _mm512_mulhi_epu16(_mm512_add_epi16(g, off), mul);
        __m512i lb = _mm512_mulhi_epu16(_mm512_add_epi16(b, off), mul);
        __m512i id = _mm512_add_epi16(
            lr, _mm512_add_epi16(_mm512_mullo_epi16(lg, n1), _mm512_mullo_epi16(lb, n2)));
        half[h] = _mm512_maskz_cvtepi16_epi8(0xFFFFFFFFu, id);
    }
    __m512i low = _mm512_castsi256_si512(half[0]);
    return _mm512_mask_inserti64x4(low, 0xFF, low, half[1], 1);
}

/* One row of a true-colour routine, n pixels from column col0: the cube
 * palette index of each, 64 at a time; a last part of under 64 pixels
 * goes through a zeroed copy. */
template <int B>
HV_VBMI void fbDitherRowVBMI(const uint8_t* src, uint8_t* out, uint32_t col0, uint32_t n,
                             const uint16_t* offsets8, uint32_t divMul, uint32_t cube,
                             const uint8_t* cube256) {
    alignas(64) uint16_t offs[32];
    for (int j = 0; j < 32; j++)
        offs[j] = offsets8[(col0 + uint32_t(j)) & 7];
    const __m512i off = _mm512_load_si512(offs), mul = _mm512_set1_epi16(int16_t(divMul));
    const __m512i n1 = _mm512_set1_epi16(int16_t(cube)),
                  n2 = _mm512_set1_epi16(int16_t(cube * cube));
    alignas(64) uint8_t bytes[3][64] = {};
    for (int j = 0; j < 32; j++)
        for (int ch = 0; ch < 3; ch++)
            bytes[ch][2 * j] = uint8_t(j * B + ch);
    const FbDitherPicks pick = {_mm512_load_si512(bytes[0]), _mm512_load_si512(bytes[1]),
                                _mm512_load_si512(bytes[2])};
    uint32_t i = 0;
    for (; n - i >= 64; i += 64) {
        __m512i id = fbDitherIndexes64<B>(src + size_t(i) * B, pick, off, mul, n1, n2);
        _mm512_storeu_si512(out + i, fbDitherLookup64(id, _mm512_movepi8_mask(id), cube256));
    }
    if (i < n) {
        alignas(64) uint8_t last[64 * B] = {};
        memcpy(last, src + size_t(i) * B, size_t(n - i) * B);
        __m512i id = fbDitherIndexes64<B>(last, pick, off, mul, n1, n2);
        _mm512_mask_storeu_epi8(out + i, (__mmask64(1) << (n - i)) - 1,
                                fbDitherLookup64(id, _mm512_movepi8_mask(id), cube256));
    }
}
#endif

/* Pixels of one row from column col (n of them, the rectangle's width
 * left) through the widest vector routine the processor has. Returns how
 * many were done; the caller does the rest. */
template <int B>
uint32_t fbDitherRowVector(const uint8_t* src, uint8_t* out, uint32_t row, uint32_t col, uint32_t n,
                           const uint8_t* cube256, int level) {
#if HV_FBDITHER_X86
    const FbDitherTables& t = g_fbDither;
    if (level < 1 || t.divMul == 0) return 0;
    if (level >= 2) {
        fbDitherRowVBMI<B>(src + size_t(col) * B, out + col, col, n, t.offset[row & 7], t.divMul,
                           uint32_t(t.n), cube256);
        return n;
    }
    /* Column order of the 16 pixels of a step (see above). */
    static const uint8_t kOrder[2][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7},
                                          {0, 1, 2, 3, 0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7}};
    uint16_t offsets[16];
    for (int k = 0; k < 16; k++)
        offsets[k] = t.offset[row & 7][(col + kOrder[B != 2][k]) & 7];
    return fbDitherRowAVX2<B>(src + size_t(col) * B, n, out + col, offsets, t.divMul, uint32_t(t.n),
                              cube256);
#else
    (void)src, (void)out, (void)row, (void)col, (void)n, (void)cube256, (void)level;
    return 0;
#endif
}

template <int B>
void fbDitherTrueColour(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                        int32_t h) {
    FbDitherRect rc;
    if (!fbDitherClip(map, im, x, y, w, h, rc)) return;
    const FbDitherTables& t = g_fbDither;
    /* The byte-permute lookup reads 256 entries. */
    uint8_t cube[256] = {};
    for (size_t i = 0; i < DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE; i++)
        cube[i] = uint8_t(map->cube[i]);
    int level = fbDitherLevel();
    for (uint32_t row = rc.y0; row < rc.y1; row++) {
        const uint8_t* src = fbDitherPixelRow(im, row);
        uint8_t* out = fbDitherDibRow(im, row);
        FbDitherPixel<B> pixel;
        if constexpr (B == 2)
            pixel.tab = t.rgb16[row & 7];
        else
            pixel.tab = t.rgb[row & 7];
        pixel.cube = cube;
        uint32_t col = rc.x0;
        col += fbDitherRowVector<B>(src, out, row, col, rc.x1 - col, cube, level);
        for (; col < rc.x1 && (col & 7) != 0; col++)
            out[col] = uint8_t(pixel(src + size_t(col) * B, col & 7));
        /* The last group of 8 equal pixels: their key and outputs. */
        bool haveRun = false;
        uint32_t runKey = 0;
        uint8_t runOut[8];
        for (; rc.x1 - col >= 8; col += 8) {
            const uint8_t* p = src + size_t(col) * B;
            uint32_t key = fbDitherKey<B>(p), diff = 0;
            for (uint32_t k = 1; k < 8; k++)
                diff |= fbDitherKey<B>(p + k * B) ^ key;
            if (diff == 0 && haveRun && key == runKey) {
                memcpy(out + col, runOut, 8);
                continue;
            }
            for (uint32_t k = 0; k < 8; k++)
                out[col + k] = uint8_t(pixel(p + k * B, k));
            if (diff == 0) {
                haveRun = true, runKey = key;
                memcpy(runOut, out + col, 8);
            }
        }
        for (; col < rc.x1; col++)
            out[col] = uint8_t(pixel(src + size_t(col) * B, col & 7));
    }
}

/* One 8-bit pixel without tables: a cell's own entry, or its cached
 * quotients dithered. */
inline uint8_t fbDitherCell(const DdColorMap* map, const DdColorCell& c, uint32_t col,
                            uint32_t row) {
    if (c.flags != DI_COLOR_FAILED) return uint8_t(c.index & 0xFF);
    const FbDitherTables& t = g_fbDither;
    uint32_t th = t.threshold[fbDitherThresholdIndex(col, row)];
    uint32_t r = c.quotRed + (c.remRed > th), g = c.quotGreen + (c.remGreen > th),
             b = c.quotBlue + (c.remBlue > th);
    return uint8_t(map->cube[r + t.mulN[g] + t.mulN2[b]]);
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
    auto levelAt = [&](uint32_t i, uint32_t v) {
        return uint32_t(t.quot[v] + (t.rem[v] > t.threshold[i] ? 1 : 0));
    };
    for (uint32_t ym = 0; ym < 8; ym++)
        for (uint32_t xm = 0; xm < 8; xm++) {
            uint32_t i = fbDitherThresholdIndex(xm, ym);
            uint8_t* c = t.rgb[ym][xm];
            for (uint32_t v = 0; v < 256; v++) {
                uint32_t level = levelAt(i, v);
                c[v] = uint8_t(level), c[256 + v] = t.mulN[level], c[512 + v] = t.mulN2[level];
            }
            uint8_t* c16 = t.rgb16[ym][xm];
            for (uint32_t f = 0; f < 32; f++) {
                uint32_t v5 = f << 3 | f >> 2;
                c16[f] = uint8_t(levelAt(i, v5));
                c16[96 + f] = t.mulN2[levelAt(i, v5)];
            }
            for (uint32_t f = 0; f < 64; f++)
                c16[32 + f] = t.mulN[levelAt(i, f << 2 | f >> 4)];
        }
    for (uint32_t ym = 0; ym < 8; ym++)
        for (uint32_t xm = 0; xm < 8; xm++)
            t.offset[ym][xm] = uint16_t(q - 1 - t.threshold[fbDitherThresholdIndex(xm, ym)]);
    t.divMul = 65536 / q + 1;
    for (uint32_t sum = 0; sum <= 255 + q - 1; sum++)
        if ((sum * t.divMul) >> 16 != sum / q) t.divMul = 0;
    t.n = n;
    t.generation++;
    return 0;
}

int fbDitherSetSimdLevel(int level) {
    g_fbDitherCap = level < 0 ? 0 : level;
    return fbDitherLevel();
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
    const DdColorCell* cells = map->cells;
    uint32_t rows = rc.y1 - rc.y0;
    if (uint64_t(rc.x1 - rc.x0) * rows < kDither8TableArea) {
        for (uint32_t row = rc.y0; row < rc.y1; row++) {
            const uint8_t* src = fbDitherPixelRow(im, row);
            uint8_t* out = fbDitherDibRow(im, row);
            for (uint32_t col = rc.x0; col < rc.x1; col++)
                out[col] = fbDitherCell(map, cells[src[col]], col, row);
        }
        return;
    }
    /* Each matrix row the rectangle meets: every cell's index per column. */
    FbDitherTables& t = g_fbDither;
#if HV_FBDITHER_X86
    if (fbDitherLevel() >= 2) {
        for (uint32_t k = 0; k < 8 && k < rows; k++) {
            uint32_t ym = (rc.y0 + k) & 7;
            for (uint32_t xm = 0; xm < 8; xm++)
                for (uint32_t v = 0; v < 256; v++)
                    t.cells8t[ym][xm][v] = fbDitherCell(map, cells[v], xm, ym);
        }
        for (uint32_t row = rc.y0; row < rc.y1; row++)
            fbDither8RowVBMI(fbDitherPixelRow(im, row) + rc.x0, fbDitherDibRow(im, row) + rc.x0,
                             rc.x0, rc.x1 - rc.x0, t.cells8t[row & 7]);
        return;
    }
#endif
    for (uint32_t k = 0; k < 8 && k < rows; k++) {
        uint32_t ym = (rc.y0 + k) & 7;
        for (uint32_t v = 0; v < 256; v++)
            for (uint32_t xm = 0; xm < 8; xm++)
                t.cells8[ym][v][xm] = fbDitherCell(map, cells[v], xm, ym);
    }
    for (uint32_t row = rc.y0; row < rc.y1; row++) {
        const uint8_t* src = fbDitherPixelRow(im, row);
        uint8_t* out = fbDitherDibRow(im, row);
        const uint8_t(*tab)[8] = t.cells8[row & 7];
        uint32_t col = rc.x0;
        for (; col < rc.x1 && (col & 7) != 0; col++)
            out[col] = tab[src[col]][col & 7];
        for (; rc.x1 - col >= 8; col += 8) {
            const uint8_t* p = src + col;
            uint64_t group, same = 0x0101010101010101ull * p[0];
            memcpy(&group, p, 8);
            if (group == same) {
                memcpy(out + col, tab[p[0]], 8); /* a run: the cell's 8 columns */
                continue;
            }
            for (uint32_t k = 0; k < 8; k++)
                out[col + k] = tab[p[k]][k];
        }
        for (; col < rc.x1; col++)
            out[col] = tab[src[col]][col & 7];
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
