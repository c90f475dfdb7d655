/* Display scaling, Windows half: the DIB section of the window's size and
 * its memory device context, the intermediate image on palette screens,
 * and rendering a damaged part of the engine's image into them. */
#ifndef HV_DDSCALE_H
#define HV_DDSCALE_H

#include "dd.h"
#include "fb/fb.h"
#include "ui/discale.h"

struct DdGC;

/* A scaler's Windows resources (DiScaler::resources). */
struct DdScaleResources {
    /* The intermediate image (palette screens): a frame buffer of the
     * target size whose DIB word and second stride are the DIB section's,
     * so the dither routines convert it in place. */
    FbBuffer inter;
    uint32_t usesInter;
    uint8_t* out;       /* what the resampling writes: inter.bits or dibBits */
    void* dibBits;      /* the DIB section's bits */
    uint32_t dibStride; /* its row stride */
    HBITMAP dib;
    DdGC* gc; /* on the memory device context holding the DIB */
    int32_t dibDepth;
    uint32_t srcBpp; /* bytes per pixel of the images it renders */
    FbScaleFn resample;
    DiScaleConvertFn convert;
};

/* Frees the memory device context, the DIB section and the intermediate.
 * A rebuild installs it as the scaler's release, so diScaleFree of a scaler
 * made by diScaleCreate frees whatever Windows resources it was given. */
void ddScaleRelease(DiScaler* scaler);
/* Takes the geometry and rebuilds when forced, or when the engine's size
 * or virtual size differs from the scaler's. */
void ddScaleResize(DiScaler* scaler, DiObject* engine, int force);
/* Releases and builds the resources for the engine's depth (through the
 * engine-surface hook), the screen depth and the mode. Without them (no
 * such engine, an inactive scaler, no DIB) the scaler renders nothing. */
void ddScaleRebuild(DiScaler* scaler, DiObject* engine);
/* Resamples the damaged source rectangle {x, y, width, height} of the
 * engine's image (its virtual size, bottom-up, the scalers' strides) into
 * the DIB section; `map` gives 8-bit colours and the palette indexes.
 * Returns 1 with the target rectangle {x, y, width, height} to copy from
 * ddScaleDC to the window, or 0 (out empty) when nothing was rendered: no
 * resources, an inactive scaler, or an image not of the source size. */
int ddScaleRenderRect(DiObject* engine, DdColorMap* map, const FbBuffer* image, int32_t x,
                      int32_t y, int32_t width, int32_t height, int32_t out[4]);
/* The memory device context holding the scaler's DIB section, or 0. */
HDC ddScaleDC(const DiScaler* scaler);

/* Fills the scale slots of g_ddXHooks (called by the window start-up). */
void ddScaleInstallHooks(void);

#endif
