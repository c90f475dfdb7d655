/* Display scaling, portable half (see discale.h). All size arithmetic is in
 * 64 bits: coordinates times sizes pass 2^31 for large screens. */
#include "ui/discale.h"

#include <stdlib.h>

static int32_t diScaleClamp(int64_t v) {
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : int32_t(v);
}

/* Rendering divides by the source size and writes the target: all four
 * sides must be there, and the sizes must differ. */
static void diScaleUpdateActive(DiScaler* s) {
    s->active = s->mode != DI_SCALE_NONE && s->dstWidth > 0 && s->dstHeight > 0 &&
                s->srcWidth > 0 && s->srcHeight > 0 &&
                (s->srcWidth != s->dstWidth || s->srcHeight != s->dstHeight);
}

DiScaler* diScaleCreate(void) {
    return static_cast<DiScaler*>(calloc(1, sizeof(DiScaler)));
}

void diScaleFree(DiScaler* scaler) {
    if (!scaler) return;
    if (scaler->release) scaler->release(scaler);
    free(scaler);
}

void diScaleAttach(DiScaler* scaler, DiObject* engine) {
    if (!scaler || !engine) return;
    if (engine->scaler != scaler) {
        DiScaler* old = engine->scaler;
        engine->scaler = scaler;
        diScaleFree(old);
    }
    engine->scalingAllowed = 1;
    diScaleSetMode(scaler, DI_SCALE_SMOOTH);
}

void diScaleSetGeometry(DiScaler* scaler, DiObject* engine) {
    if (!scaler || !engine) return;
    scaler->srcWidth = engine->vwidth;
    scaler->srcHeight = engine->vheight;
    scaler->dstWidth = engine->width;
    scaler->dstHeight = engine->height;
    diScaleSetMode(scaler, scaler->mode);
}

int diScaleNeedsGeometry(const DiScaler* scaler, const DiObject* engine) {
    return scaler->dstWidth != engine->width || scaler->dstHeight != engine->height ||
           scaler->srcWidth != engine->vwidth || scaler->srcHeight != engine->vheight;
}

void diScaleSetMode(DiScaler* scaler, int32_t mode) {
    if (!scaler) return;
    /* The previous mode changes only when scaling is switched on or off. */
    if ((scaler->mode == DI_SCALE_NONE) != (mode == DI_SCALE_NONE)) scaler->prevMode = scaler->mode;
    scaler->mode = mode;
    diScaleUpdateActive(scaler);
}

int32_t diScaleRestoreMode(DiScaler* scaler) {
    if (!scaler) return DI_SCALE_NONE;
    diScaleSetMode(scaler, scaler->prevMode);
    return scaler->mode;
}

int diScaleIsScaling(const DiObject* obj) {
    return obj && obj->scalingAllowed && obj->scaler && obj->scaler->mode != DI_SCALE_NONE;
}

void diScaleRect(const DiScaler* scaler, int32_t rect[4]) {
    if (!scaler || scaler->dstWidth == 0 || scaler->dstHeight == 0) return;
    int64_t sw = scaler->srcWidth, sh = scaler->srcHeight, tw = scaler->dstWidth,
            th = scaler->dstHeight;
    int64_t x = rect[0], y = rect[1];
    int64_t nx = x * sw / tw, ny = y * sh / th;
    int64_t nw = (x + rect[2]) * sw / tw - nx, nh = (y + rect[3]) * sh / th - ny;
    rect[0] = diScaleClamp(nx), rect[1] = diScaleClamp(ny);
    rect[2] = diScaleClamp(nw), rect[3] = diScaleClamp(nh);
}

int diScaleTargetRect(const DiScaler* scaler, int32_t x, int32_t y, int32_t w, int32_t h,
                      int32_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    if (!scaler || !scaler->active) return 0;
    int64_t sw = scaler->srcWidth, sh = scaler->srcHeight, tw = scaler->dstWidth,
            th = scaler->dstHeight;
    int64_t x0 = int64_t(x) * tw / sw - 1, y0 = int64_t(y) * th / sh - 1;
    int64_t x1 = (int64_t(x) + w) * tw / sw + 1, y1 = (int64_t(y) + h) * th / sh + 1;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x0 > tw) x0 = tw;
    if (y0 > th) y0 = th;
    if (x1 > tw) x1 = tw;
    if (y1 > th) y1 = th;
    /* Damage outside the source maps outside the target. */
    if (x1 <= x0 || y1 <= y0) return 0;
    out[0] = int32_t(x0), out[1] = int32_t(y0);
    out[2] = int32_t(x1 - x0), out[3] = int32_t(y1 - y0);
    return 1;
}

int diScaleChooseLayout(int32_t screenDepth, int32_t engineDepth, uint32_t engineBpp, int32_t mode,
                        DiScaleLayout* out) {
    *out = DiScaleLayout();
    bool known = (engineDepth == 8 && engineBpp == 1) || (engineDepth == 16 && engineBpp == 2) ||
                 (engineDepth == 24 && (engineBpp == 3 || engineBpp == 4)) ||
                 (engineDepth == 32 && engineBpp == 4);
    if (!known) return -1;
    if (screenDepth >= 1 && screenDepth <= 8) {
        /* Palette screens (4-bit ones too: their DIB takes 8 bits, as in
         * dither mode) show indexes through an intermediate image. */
        out->dibDepth = 8;
        if (engineBpp == 1 && mode == DI_SCALE_FAST) {
            out->interBpp = 1, out->convert = fbDither8;
        } else if (engineBpp == 1) {
            out->interBpp = 3, out->convert = fbDitherRGB24;
        } else {
            out->interBpp = engineBpp;
            out->convert = engineBpp == 2 ? fbDither16 : engineBpp == 3 ? fbDither24 : fbDither32;
        }
        out->dstBpp = out->interBpp;
    } else if (screenDepth == 16 || screenDepth == 24 || screenDepth == 32) {
        out->dibDepth = screenDepth;
        out->dstBpp = uint32_t(screenDepth / 8);
    } else {
        return -1;
    }
    const FbScaleFn(*table)[4] = mode == DI_SCALE_FAST ? g_fbScaleNearest : g_fbScaleAverage;
    out->resample = table[engineBpp - 1][out->dstBpp - 1];
    return out->resample ? 0 : -1;
}

uint64_t diScaleImageBytes(uint32_t width, uint32_t height, uint32_t bpp, uint32_t* stride) {
    uint64_t s = bpp == 4 ? uint64_t(width) * 4 : (uint64_t(width) * bpp + 3) & ~uint64_t(3);
    if (stride) *stride = s > UINT32_MAX ? UINT32_MAX : uint32_t(s);
    return s * height;
}
