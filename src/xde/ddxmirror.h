/* The X display's GDI mirror and pixel colours on Windows: a window's
 * drawing in one exact colour is repeated through GDI straight onto the
 * screen instead of being repainted from the buffer later; the colour of an
 * X pixel as the screen shows it; and the scaled repaint of the screen
 * buffer through the display scaler. */
#ifndef HV_DDXMIRROR_H
#define HV_DDXMIRROR_H

#include "xde/ddxde.h"

/* The GC record of the Windows side: the frame-buffer vector fbCreateGC
 * made (the engine's active vector points at it, or at the mirror copy),
 * and the copy whose line and fill slots also draw through GDI. */
struct DdXGCRecord {
    DiXGC gc;
    FbGCOps* fbOps;
    FbGCOps mirrorOps;
    uint32_t colour; /* the GDI colour of the foreground, 0x00BBGGRR */
};

/* The colour (0x00BBGGRR) the screen shows for an X pixel of the display's
 * depth; depths below 8 or above 32 give 0. True-colour screens are asked
 * once per pixel value and cache the answer. */
uint32_t ddXGetPixelColor(DiXDisplay* d, uint32_t pixel);

/* Device slots 6-8: the frame-buffer vector, with the mirror installed at
 * validation when the GC, the window and the colour allow it. */
int ddXCreateGC(DiXDisplay* d, DiXGC* gc);
void ddXValidateGC(DiXDisplay* d, DiXDrawable* drawable, DiXGC* gc);
void ddXFreeGC(DiXDisplay* d, DiXGC* gc);

/* Slot 16 while the display's scaler is on: each box, widened by a pixel,
 * resampled into the scaler's bitmap and copied from there. Returns 0
 * when the display is not scaled (the plain repaint applies). */
int ddXPaintScaled(DiXDisplay* d, int32_t count, const DiBox* boxes);

/* The colour map the repaint converts the screen buffer with: for 8-bit
 * X pixels the device map of the display's colormap (a cell without an
 * entry of its own is dithered onto its cube on palette screens), else the
 * dither's map or the application's. */
DdColorMap* ddXPaintMap(DiXDisplay* d);

/* Releases the display's colour cache. */
void ddXMirrorFree(DdXDisplay* x);

#endif
