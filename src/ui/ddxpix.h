/* Bitmap headers for the X display's pixel buffers on Windows: window
 * buffers, the scaler's DIB section and icon images are all described the
 * same way. */
#ifndef HV_DDXPIX_H
#define HV_DDXPIX_H

#include "dd.h"

/* A BITMAPINFO with room for any colour-table form that follows the
 * header: 256 palette-relative indexes or 256 colours (8 bits), or three
 * masks (16 bits). */
struct DdXBitmapInfo {
    BITMAPINFOHEADER header;
    union {
        WORD indexes[256];
        RGBQUAD colours[256];
        DWORD masks[3];
    };
    BITMAPINFO* get() { return reinterpret_cast<BITMAPINFO*>(this); }
};

/* Fills the header for width x height (positive height: bottom-up) at
 * depth 8 (a palette-relative table of the indexes 0-255: create the DIB
 * with DIB_PAL_COLORS), 16 (5-6-5 masks), 24 or 32. Returns 0, or -1 for
 * another depth (nothing filled). */
int ddXPixmapSetBitmapInfo(DdXBitmapInfo* info, int32_t width, int32_t height, int32_t depth);

#endif
