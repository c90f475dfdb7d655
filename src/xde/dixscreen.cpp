#include "xde/dixscreen.h"

#include "fb/fb.h"

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
