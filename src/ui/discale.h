/* The portable half of display scaling: the scaler's modes and geometry,
 * the mapping of rectangles between window (target) and remote (source)
 * coordinates, and the choice of bitmap, intermediate image and routines
 * for a screen and engine depth. The Windows half owns the DIB section,
 * its memory device context and the intermediate image, and renders. */
#ifndef HV_DISCALE_H
#define HV_DISCALE_H

#include "di.h"
#include "fb/fbdither.h"
#include "fb/fbscale.h"

enum : int32_t {
    DI_SCALE_NONE = 0,
    DI_SCALE_FAST = 1,
    DI_SCALE_SMOOTH = 2,
};

typedef void (*DiScaleConvertFn)(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y,
                                 int32_t w, int32_t h);

struct DiScaler {
    int32_t mode;
    int32_t prevMode;            /* the mode a toggle returns to */
    uint32_t active;             /* scaling is in effect for rendering */
    int32_t srcWidth, srcHeight; /* the engine's virtual size */
    int32_t dstWidth, dstHeight; /* the engine's window size */
    /* Windows half: its resources and the routine that frees them (called
     * by diScaleFree; may be null). */
    void* resources;
    void (*release)(DiScaler* scaler);
};

/* How a scaled view is built on a screen: the DIB section's depth, the
 * intermediate image (bytes per pixel, 0 for none), the resampling routine
 * and the conversion from the intermediate into the 8-bit DIB. */
struct DiScaleLayout {
    int32_t dibDepth;
    uint32_t dstBpp;   /* bytes per pixel the resampler writes */
    uint32_t interBpp; /* 0: the resampler writes the DIB itself */
    FbScaleFn resample;
    DiScaleConvertFn convert;
};

/* A zeroed scaler in mode 0, or null. */
DiScaler* diScaleCreate(void);
/* Frees the scaler and, through its release routine, its Windows resources. */
void diScaleFree(DiScaler* scaler);
/* Frees the engine's previous scaler, attaches this one, allows scaling
 * and sets smooth mode. */
void diScaleAttach(DiScaler* scaler, DiObject* engine);
/* Source size from the engine's virtual size, target from its size; the
 * current mode is applied again. */
void diScaleSetGeometry(DiScaler* scaler, DiObject* engine);
/* Non-zero when the geometry must be taken again: the engine's size or its
 * virtual size differs from the scaler's. */
int diScaleNeedsGeometry(const DiScaler* scaler, const DiObject* engine);
void diScaleSetMode(DiScaler* scaler, int32_t mode);
/* Switches to the previous mode; returns the mode now in force. */
int32_t diScaleRestoreMode(DiScaler* scaler);
/* "Scaling" of an object, which drives layout: allowed, a scaler, mode not 0. */
int diScaleIsScaling(const DiObject* obj);
/* rect {x, y, width, height} from target to source coordinates; unchanged
 * when a target side is 0. */
void diScaleRect(const DiScaler* scaler, int32_t rect[4]);
/* The target rectangle {x, y, width, height} to repaint for a damaged
 * source rectangle: grown by one pixel each side and cut to the target.
 * Returns 0 with an empty rectangle when nothing of it is in the target
 * or the scaler is not active. */
int diScaleTargetRect(const DiScaler* scaler, int32_t x, int32_t y, int32_t w, int32_t h,
                      int32_t out[4]);
/* The layout for a screen depth, an engine depth with its bytes per pixel
 * and a mode; -1 when there is none (an unknown depth or pair). Screens of
 * 8 bits or fewer show an 8-bit DIB through an intermediate image. */
int diScaleChooseLayout(int32_t screenDepth, int32_t engineDepth, uint32_t engineBpp, int32_t mode,
                        DiScaleLayout* out);
/* Bytes of an intermediate image of width x height pixels of bpp bytes
 * (rows of the frame-buffer stride); its row stride in *stride. */
uint64_t diScaleImageBytes(uint32_t width, uint32_t height, uint32_t bpp, uint32_t* stride);

#endif
