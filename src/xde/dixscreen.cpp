#include "xde/dixscreen.h"

#include "core/dilog.h"
#include "fb/fb.h"
#include "xde/dixde.h"

int diXScreenLayout(int32_t width, int32_t height, uint32_t depth, int dither,
                    DiXScreenLayout* out) {
    if (width < 1 || height < 1 || uint32_t(width) > FB_MAX_SIDE ||
        uint32_t(height) > FB_MAX_SIDE)
        return -1;
    if (depth != 8 && depth != 16 && depth != 24) return -1;
    uint32_t bpp = depth == 24 ? 3 : depth / 8;
    uint64_t stride = (uint64_t(uint32_t(width)) * bpp + 3) & ~uint64_t(3);
    uint64_t bytes = stride * uint64_t(uint32_t(height));
    /* The dithered DIB is a second, 8-bit buffer of the same size. */
    uint64_t dibStride = dither ? (uint64_t(uint32_t(width)) + 3) & ~uint64_t(3) : stride;
    uint64_t dibBytes = dibStride * uint32_t(height);
    if (bytes > FB_MAX_BUFFER_BYTES || dibBytes > FB_MAX_BUFFER_BYTES) return -1;
    out->bytesPerPixel = bpp;
    out->stride = uint32_t(stride);
    out->bytes = bytes;
    out->dibDepth = dither ? 8 : depth;
    out->dibStride = uint32_t(dibStride);
    return 0;
}

/* The sum of every display's pixel and screen bytes. */
static uint64_t s_processPixelBytes;

int diXProcessTake(uint64_t bytes) {
    if (bytes > DI_XPROCESS_PIXEL_CEILING ||
        s_processPixelBytes + bytes > DI_XPROCESS_PIXEL_CEILING)
        return -1;
    s_processPixelBytes += bytes;
    return 0;
}

void diXProcessGive(uint64_t bytes) {
    s_processPixelBytes = bytes > s_processPixelBytes ? 0 : s_processPixelBytes - bytes;
}

uint64_t diXProcessPixelBytes() {
    return s_processPixelBytes;
}

int diXRefusePixels() {
    diLogErrorText(u"The X server asks this client to hold more pixels than allowed; refused.");
    return -1;
}

int diXChargeScreen(DiXDisplay* d, int32_t width, int32_t height, uint32_t depth) {
    diXReleaseScreen(d);
    /* A screen the layout refuses is refused by the device as well. */
    DiXScreenLayout l;
    if (diXScreenLayout(width, height, depth, 1, &l) < 0) return 0;
    uint64_t bytes = l.bytes + uint64_t(l.dibStride) * uint32_t(height);
    if (diXProcessTake(bytes) < 0) return diXRefusePixels();
    d->screenBytes = bytes;
    return 0;
}

void diXReleaseScreen(DiXDisplay* d) {
    diXProcessGive(d->screenBytes);
    d->screenBytes = 0;
}
