/* Layout of the root window's screen buffer: the one pixel buffer every
 * window of a display draws into, held by a bottom-up DIB section. */
#ifndef HV_DIXSCREEN_H
#define HV_DIXSCREEN_H

#include <stdint.h>

struct DiXScreenLayout {
    uint32_t bytesPerPixel; /* 1, 2 or 3 */
    uint32_t stride;        /* bytes per row, a multiple of 4 */
    uint64_t bytes;         /* stride x height */
    uint32_t dibDepth;      /* the DIB's bits per pixel: the X depth, or 8 when dithered */
    uint32_t dibStride;     /* the DIB's bytes per row */
};

/* The buffer of a width x height screen at X depth 8, 16 or 24; with
 * dither the frame buffer keeps the X pixels and a separate 8-bit DIB shows
 * them. Sizes are computed in 64 bits. Returns 0, or -1 for sides outside
 * 1..32767, another depth or a buffer above the frame buffer's cap. */
int diXScreenLayout(int32_t width, int32_t height, uint32_t depth, int dither,
                    DiXScreenLayout* out);

struct DiXDisplay;

/* The pixel bytes every display of the process holds together - pixmaps,
 * glyphs and screen buffers - against DI_XPROCESS_PIXEL_CEILING. Take
 * returns 0, or -1 with nothing taken past the ceiling. GUI thread only. */
int diXProcessTake(uint64_t bytes);
void diXProcessGive(uint64_t bytes);
uint64_t diXProcessPixelBytes();
/* Logs the refusal of pixels past a ceiling; returns -1. */
int diXRefusePixels();
/* The root's buffer and its dithered copy held against the process's
 * ceiling until released: 0, or -1 refused. */
int diXChargeScreen(DiXDisplay* d, int32_t width, int32_t height, uint32_t depth);
void diXReleaseScreen(DiXDisplay* d);

#endif
