/* Display scaling, Windows half (see ddscale.h). */
#include "ui/ddscale.h"

#include "core/ddapp.h"
#include "ui/ddgdi.h"
#include "ui/ddxhooks.h"
#include "ui/ddxpix.h"

#include <stdlib.h>

static DdScaleResources* ddScaleResourcesOf(const DiScaler* scaler) {
    return scaler ? static_cast<DdScaleResources*>(scaler->resources) : nullptr;
}

void ddScaleRelease(DiScaler* scaler) {
    DdScaleResources* r = ddScaleResourcesOf(scaler);
    if (!r) return;
    scaler->resources = nullptr;
    if (r->gc) {
        HDC mem = ddGDIGetDC(r->gc);
        /* The DIB must leave the context before either can be deleted. */
        ddGDISelectBitmap(r->gc, nullptr);
        ddGDIFreeGC(r->gc);
        if (mem) DeleteDC(mem);
    }
    if (r->dib) DeleteObject(r->dib);
    free(r->inter.bits);
    free(r);
}

void ddScaleResize(DiScaler* scaler, DiObject* engine, int force) {
    if (!scaler || !engine) return;
    /* A new virtual size counts as much as a new window size: the scalers
     * read the image by the source size. */
    if (!force && !diScaleNeedsGeometry(scaler, engine)) return;
    diScaleSetGeometry(scaler, engine);
    ddScaleRebuild(scaler, engine);
}

/* The frame-buffer depth of an intermediate of `bpp` bytes per pixel. */
static uint32_t ddScaleInterDepth(uint32_t bpp) {
    return bpp == 1 ? 8 : bpp == 2 ? 16 : 24;
}

void ddScaleRebuild(DiScaler* scaler, DiObject* engine) {
    if (!scaler) return;
    ddScaleRelease(scaler);
    scaler->release = ddScaleRelease;
    if (!engine || !scaler->active) return;
    DdXEngineSurface surface = {};
    if (!g_ddXHooks.engineSurface || !g_ddXHooks.engineSurface(engine, &surface) || !surface.rootDC)
        return;
    DiScaleLayout layout;
    if (diScaleChooseLayout(g_ddApp->depth, surface.depth, surface.bytesPerPixel, scaler->mode,
                            &layout) != 0)
        return;
    const int32_t tw = scaler->dstWidth, th = scaler->dstHeight;
    DdXBitmapInfo info;
    if (ddXPixmapSetBitmapInfo(&info, tw, th, layout.dibDepth) != 0) return;
    /* Sizes are checked before anything is made: a DIB or intermediate of
     * more than the renderer's largest buffer is refused. */
    uint32_t dibStride = 0, interStride = 0;
    uint64_t dibBytes =
        diScaleImageBytes(uint32_t(tw), uint32_t(th), uint32_t(layout.dibDepth / 8), &dibStride);
    uint64_t interBytes = layout.interBpp ? diScaleImageBytes(uint32_t(tw), uint32_t(th),
                                                              layout.interBpp, &interStride)
                                          : 0;
    if (dibBytes > FB_MAX_BUFFER_BYTES || interBytes > FB_MAX_BUFFER_BYTES) return;

    DdScaleResources* r = static_cast<DdScaleResources*>(calloc(1, sizeof(DdScaleResources)));
    if (!r) return;
    scaler->resources = r;
    void* bits = nullptr;
    r->dib =
        CreateDIBSection(surface.rootDC, info.get(),
                         layout.dibDepth == 8 ? DIB_PAL_COLORS : DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = r->dib && bits ? CreateCompatibleDC(surface.rootDC) : nullptr;
    r->gc = mem ? ddGDICreateGC() : nullptr;
    if (!r->gc) {
        if (mem) DeleteDC(mem);
        ddScaleRelease(scaler);
        return;
    }
    ddGDIAttach(r->gc, nullptr, mem);
    ddGDISetForeground(r->gc, 255);
    ddGDISelectBitmap(r->gc, r->dib);
    if (layout.dibDepth == 8) {
        /* The indexes are palette-relative: the context shows them through
         * the palette the DIB was made with. */
        HPALETTE palette = static_cast<HPALETTE>(GetCurrentObject(surface.rootDC, OBJ_PAL));
        if (palette) ddGDISelectPalette(r->gc, palette, FALSE);
    }
    r->dibBits = bits;
    r->dibStride = dibStride;
    r->dibDepth = layout.dibDepth;
    r->srcBpp = surface.bytesPerPixel;
    r->resample = layout.resample;
    r->convert = layout.convert;
    r->out = static_cast<uint8_t*>(bits);
    if (layout.interBpp) {
        FbBuffer& in = r->inter;
        in.bits = static_cast<uint8_t*>(calloc(1, size_t(interBytes)));
        if (!in.bits) {
            ddScaleRelease(scaler);
            return;
        }
        in.width = tw;
        in.height = th;
        in.bytesPerPixel = layout.interBpp;
        in.depth = ddScaleInterDepth(layout.interBpp);
        in.stride = interStride;
        in.dibBits = bits;
        in.dibStride = dibStride;
        r->usesInter = 1;
        r->out = in.bits;
    }
}

int ddScaleRenderRect(DiObject* engine, DdColorMap* map, const FbBuffer* image, int32_t x,
                      int32_t y, int32_t width, int32_t height, int32_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    DiScaler* s = engine ? engine->scaler : nullptr;
    DdScaleResources* r = ddScaleResourcesOf(s);
    if (!r || !s->active || !r->resample || !image || !image->bits) return 0;
    /* Only an image of the source size in the layout the routine was
     * chosen for: the scalers index it by the source size alone. */
    if (image->width != s->srcWidth || image->height != s->srcHeight ||
        image->bytesPerPixel != r->srcBpp ||
        image->stride != fbScaleStride(uint32_t(image->width), r->srcBpp))
        return 0;
    int32_t t[4];
    if (!diScaleTargetRect(s, x, y, width, height, t)) return 0;
    /* GDI may still be drawing into the DIB section. */
    GdiFlush();
    const FbScaleSize size = {uint32_t(s->srcWidth), uint32_t(s->srcHeight), uint32_t(s->dstWidth),
                              uint32_t(s->dstHeight)};
    r->resample(&size, map, image->bits, r->out, t[0], t[1], t[0] + t[2], t[1] + t[3],
                s->srcHeight - 1, s->dstHeight - 1);
    if (r->convert) {
        FbDitherImage im = fbDitherImageOf(&r->inter);
        r->convert(map, &im, t[0], t[1], t[2], t[3]);
    }
    for (int i = 0; i < 4; i++)
        out[i] = t[i];
    return 1;
}

HDC ddScaleDC(const DiScaler* scaler) {
    DdScaleResources* r = ddScaleResourcesOf(scaler);
    return r && r->gc ? ddGDIGetDC(r->gc) : nullptr;
}

/* ---- the hooks through which the frames reach the scaler ---- */

static int ddScaleHookActive(DiObject* obj) {
    return diScaleIsScaling(obj);
}

static void ddScaleHookSizes(DiObject* obj, int32_t* srcW, int32_t* srcH, int32_t* dstW,
                             int32_t* dstH) {
    const DiScaler* s = obj ? obj->scaler : nullptr;
    *srcW = s ? s->srcWidth : 0;
    *srcH = s ? s->srcHeight : 0;
    *dstW = s ? s->dstWidth : 0;
    *dstH = s ? s->dstHeight : 0;
}

static void ddScaleHookRect(DiObject* obj, int32_t rect[4]) {
    if (obj) diScaleRect(obj->scaler, rect);
}

static void ddScaleHookResize(DiObject* engine, int force) {
    if (engine) ddScaleResize(engine->scaler, engine, force);
}

static void ddScaleHookSetMode(DiObject* obj, int mode) {
    if (obj) diScaleSetMode(obj->scaler, mode);
}

static int ddScaleHookRestoreMode(DiObject* obj) {
    return obj ? diScaleRestoreMode(obj->scaler) : 0;
}

void ddScaleInstallHooks(void) {
    g_ddXHooks.scaleActive = ddScaleHookActive;
    g_ddXHooks.scaleSizes = ddScaleHookSizes;
    g_ddXHooks.scaleRect = ddScaleHookRect;
    g_ddXHooks.scaleResize = ddScaleHookResize;
    g_ddXHooks.scaleSetMode = ddScaleHookSetMode;
    g_ddXHooks.scaleRestoreMode = ddScaleHookRestoreMode;
}
