// The scalers and the dither on sides up to 65535 (within a pixel budget),
// any rectangle, every routine of both tables, into buffers of exactly the
// size their strides give: a read past the source or a write past the
// destination hits the address checker. The scaled image then goes through
// the dither routine of its pixel size.
#include "fb/fbdither.h"
#include "fb/fbscale.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "ui/dicolor.h"
#include "ui/discale.h"

namespace {

uint32_t take16(const uint8_t*& p, const uint8_t* end) {
    uint32_t v = 0;
    if (p < end) v |= *p++;
    if (p < end) v |= uint32_t(*p++) << 8;
    return v;
}

void fit(uint32_t& w, uint32_t& h, uint64_t budget) {
    if (w > budget) w = uint32_t(budget);
    if (uint64_t(w) * h > budget) h = uint32_t(budget / (w ? w : 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 13) return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    uint8_t sel = *p++;
    uint32_t sb = (sel & 3) + 1, db = (sel >> 2 & 3) + 1;
    bool avg = sel & 0x10;
    int32_t cube = sel & 0x20 ? 2 : 6;
    uint32_t sw = take16(p, end), sh = take16(p, end), dw = take16(p, end), dh = take16(p, end);
    fit(sw, sh, 1 << 16);
    fit(dw, dh, 1 << 16);
    int32_t x0 = int16_t(take16(p, end)), y0 = int16_t(take16(p, end));
    int32_t x1 = int32_t(take16(p, end)), y1 = int32_t(take16(p, end));

    // The scaler's mappings between window and remote coordinates, from the
    // raw sides (before the budget), including 0.
    {
        DiScaler sc{};
        sc.srcWidth = int32_t(take16(p, end)), sc.srcHeight = int32_t(take16(p, end));
        sc.dstWidth = int32_t(take16(p, end)), sc.dstHeight = int32_t(take16(p, end));
        diScaleSetMode(&sc, avg ? DI_SCALE_SMOOTH : DI_SCALE_FAST);
        int32_t r[4] = {x0 * 3, y0 * 5, x1 * 7, y1}, out[4];
        diScaleRect(&sc, r);
        if (diScaleTargetRect(&sc, x0, y0, x1, y1, out) &&
            (out[0] < 0 || out[1] < 0 || out[2] <= 0 || out[3] <= 0 ||
             int64_t(out[0]) + out[2] > sc.dstWidth || int64_t(out[1]) + out[3] > sc.dstHeight))
            __builtin_trap();
    }
    FbScaleFn fn = (avg ? g_fbScaleAverage : g_fbScaleNearest)[sb - 1][db - 1];
    if (!fn) return 0;
    // The average sums each destination row's box over the source width:
    // keep its work, destination rows x source width, within budget too.
    if (avg && uint64_t(dh) * sw > (1u << 22)) return 0;
    std::vector<uint8_t> src(size_t(fbScaleStride(sw, sb)) * sh);
    for (size_t i = 0; i < src.size(); i++)
        src[i] = p < end ? *p++ : uint8_t(i * 131);
    std::vector<uint8_t> dst(size_t(fbScaleStride(dw, db)) * dh);
    std::vector<DdColorCell> cells(256);
    for (size_t i = 0; i < 256; i++) {
        cells[i].red = uint8_t(i), cells[i].green = uint8_t(i * 3), cells[i].blue = uint8_t(~i);
        cells[i].flags = i % 2 ? DI_COLOR_FAILED : DI_COLOR_SHARED;
        cells[i].index = uint32_t(i);
    }
    DdColorMap map{};
    map.cells = cells.data();
    map.cubeSize = cube;
    map.depth = 8;
    map.changed = 1;
    for (uint32_t i = 0; i < 216; i++)
        map.cube[i] = i;
    FbScaleSize sz = {sw, sh, dw, dh};
    // Plain C first, then the widest instructions the processor has: the
    // same pixels.
    fbScaleSetSimdLevel(0);
    fn(&sz, &map, src.empty() ? nullptr : src.data(), dst.empty() ? nullptr : dst.data(), x0, y0,
       x1, y1, int32_t(sh) - 1, int32_t(dh) - 1);
    std::vector<uint8_t> plain = dst;
    fbScaleSetSimdLevel(9);
    fn(&sz, &map, src.empty() ? nullptr : src.data(), dst.empty() ? nullptr : dst.data(), x0, y0,
       x1, y1, int32_t(sh) - 1, int32_t(dh) - 1);
    if (plain != dst) __builtin_trap();

    if (fbDitherInit(cube) != 0) __builtin_trap();
    std::vector<uint8_t> dib(size_t(fbScaleStride(dw, 1)) * dh);
    FbDitherImage im = {
        dw, dh, dst.data(), fbScaleStride(dw, db), dib.data(), fbScaleStride(dw, 1)};
    if (dst.empty()) return 0;
    void (*dither[])(DdColorMap*, const FbDitherImage*, int32_t, int32_t, int32_t,
                     int32_t) = {fbDither8, fbDither16, fbDitherRGB24, fbDither32};
    fbDitherSetSimdLevel(0);
    dither[db - 1](&map, &im, x0, y0, x1 - x0, y1 - y0);
    std::vector<uint8_t> plainDib = dib;
    std::fill(dib.begin(), dib.end(), 0);
    fbDitherSetSimdLevel(9);
    dither[db - 1](&map, &im, x0, y0, x1 - x0, y1 - y0);
    if (plainDib != dib) __builtin_trap();
    return 0;
}
