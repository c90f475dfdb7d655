/* Image scalers: nearest-pixel and area-average resampling between pixel
 * formats of 1 (colormap index), 2 (5-6-5), 3 (blue, green, red) and 4 bytes
 * (blue, green, red, 0). Buffers are bottom-up with the row strides of the
 * frame buffer: 1 byte: width rounded up to 4; 2 bytes: 2 x width rounded up
 * to 4; 3 bytes: (width + 1) x 3 with the low two bits cleared; 4 bytes:
 * 4 x width. The row of y lies at (top - y) x stride. */
#ifndef HV_FBSCALE_H
#define HV_FBSCALE_H

#include "didep.h"

struct DdColorMap;

/* The sizes a routine scales between (the scaler's source and target). */
struct FbScaleSize {
    uint32_t srcWidth, srcHeight;
    uint32_t dstWidth, dstHeight;
};

/* Fills destination pixels x0 <= x < x1, y0 <= y < y1 (clipped to the
 * destination; nothing when a side of either image is 0 or above 65535).
 * `map` gives the
 * colours of 8-bit sources (the cells' actual colours). srcTop and dstTop
 * are the buffers' top rows (height - 1; larger values are cut to that). */
typedef void (*FbScaleFn)(const FbScaleSize* size, const DdColorMap* map, const uint8_t* src,
                          uint8_t* dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                          int32_t srcTop, int32_t dstTop);

/* Indexed [source bytes per pixel - 1][destination bytes per pixel - 1];
 * null where no routine exists (to 1 byte from anything but 1 byte, and
 * the area average 1 to 1). */
extern const FbScaleFn g_fbScaleNearest[4][4];
extern const FbScaleFn g_fbScaleAverage[4][4];

/* Caps the instructions the scalers use at `level` (0 plain C, 1 AVX2,
 * 2 AVX-512; the processor may allow less) and returns the level in use.
 * Every level gives the same pixels. */
int fbScaleSetSimdLevel(int level);

/* Row stride in bytes of a buffer of `width` pixels of `bpp` bytes. */
uint32_t fbScaleStride(uint32_t width, uint32_t bpp);

#endif
