/* Ordered dither: X pixels of a frame buffer become palette indexes of an
 * 8-bit DIB. Colours a cell holds exactly are copied as its palette index;
 * all others are dithered with an 8x8 ordered matrix onto the colour cube
 * of N levels per channel that the device colour map reserves.
 * GUI thread only: the tables are process-wide. */
#ifndef HV_FBDITHER_H
#define HV_FBDITHER_H

#include "didep.h"
#include "fb/fb.h"

struct DdColorMap;

/* The two views of one buffer: its X pixels and the 8-bit DIB they are
 * shown through. Both are bottom-up: the row of y lies at
 * (height - y - 1) x stride of its own view. */
struct FbDitherImage {
    uint32_t width, height;
    const uint8_t* pixels;
    uint32_t stride;
    uint8_t* dib;
    uint32_t dibStride;
};

/* The dither's view of a frame buffer whose DIB word and second stride
 * are those of the 8-bit DIB it is shown through. */
FbDitherImage fbDitherImageOf(const FbBuffer* buffer);

/* Builds the tables for a cube of n levels per channel (2 to 6). Returns
 * 0, or -1 for another n (tables unchanged). */
int fbDitherInit(int32_t n);

/* Caps the instructions the routines use at `level` (0 plain C, 1 AVX2,
 * 2 AVX-512 byte permutes; the processor may allow less) and returns the
 * level in use. Every level gives the same pixels. */
int fbDitherSetSimdLevel(int level);

/* Refreshes the cells' cached quotients and remainders when the map is
 * marked changed or the tables were rebuilt since. */
void fbDitherUpdateCells(DdColorMap* map);

/* Convert the rectangle (clipped to the image) of X pixels of 1, 2, 3 and 4
 * bytes. fbDither8 does nothing for a map of a screen above 8 bits; none
 * does anything before fbDitherInit or for a map whose cube is not the
 * tables'. fbDitherRGB24 takes blue, green, red bytes without a colormap. */
void fbDither8(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
               int32_t h);
void fbDither16(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h);
void fbDither24(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h);
void fbDither32(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                int32_t h);
void fbDitherRGB24(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                   int32_t h);

#endif
