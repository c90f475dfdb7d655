#include "xde/dixbits.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16;
}

/* width x height within the cap, both non-zero. */
bool sizeAllowed(uint32_t width, uint32_t height) {
    return width && height && uint64_t(width) * height <= DI_XBITS_MAX_PIXELS;
}

void setMsb(std::vector<uint8_t>& plane, uint32_t stride, uint32_t x, uint32_t y, bool on) {
    uint8_t bit = uint8_t(0x80 >> (x & 7));
    uint8_t& b = plane[size_t(y) * stride + x / 8];
    b = on ? uint8_t(b | bit) : uint8_t(b & ~bit);
}

/* A depth-1 buffer's pixel; false outside it or when it is not depth 1. */
bool depth1Pixel(const FbBuffer* buf, uint32_t x, uint32_t y) {
    if (x >= uint32_t(buf->width) || y >= uint32_t(buf->height)) return false;
    return (buf->bits[size_t(y) * buf->stride + x / 8] >> (x & 7)) & 1;
}

/* A buffer this code may read: a format fb knows and rows that fit the
 * frame buffer's cap, so no offset wraps in 32 bits. */
bool readable(const FbBuffer* buf) {
    return fbBufferFormat(buf) != FB_FMT_NONE &&
           uint64_t(buf->stride) * uint32_t(buf->height) <= FB_MAX_BUFFER_BYTES;
}

bool isDepth1(const FbBuffer* buf) {
    return buf && readable(buf) && fbBufferFormat(buf) == FB_FMT_1;
}

} // namespace

uint32_t diXColorFrom565(uint32_t pixel) {
    uint32_t r5 = (pixel >> 11) & 0x1F, g6 = (pixel >> 5) & 0x3F, b5 = pixel & 0x1F;
    return rgb(r5 << 3 | r5 >> 2, g6 << 2 | g6 >> 4, b5 << 3 | b5 >> 2);
}

uint32_t diXColorFrom888(uint32_t pixel) {
    return rgb(pixel >> 16, pixel >> 8, pixel);
}

uint32_t diXColorCacheIndex(uint32_t depth, uint32_t pixel) {
    if (depth == 16)
        return ((pixel >> 12) & 0xF) << 8 | ((pixel >> 7) & 0xF) << 4 | ((pixel >> 1) & 0xF);
    if (depth == 24 || depth == 32)
        return ((pixel >> 20) & 0xF) << 8 | ((pixel >> 12) & 0xF) << 4 | ((pixel >> 4) & 0xF);
    return 0;
}

int diXPixelColorLocal(uint32_t depth, uint32_t pixel, int dither, const uint32_t* cells,
                       uint32_t* color) {
    if (depth < 8 || depth > 32) {
        *color = 0;
        return 1;
    }
    if (depth == 8) {
        /* A pixel may carry up to 24 bits; the colormap has 256 cells and,
         * as X does, only the low 8 bits select one. */
        *color = cells ? cells[pixel & 0xFF] : 0;
        return 1;
    }
    if (!dither) return 0;
    *color = depth == 16 ? diXColorFrom565(pixel) : diXColorFrom888(pixel);
    return 1;
}

uint32_t diXMonoStride(uint32_t width) {
    return uint32_t((uint64_t(width) + 15) / 16 * 2);
}

int diXCursorPlanes(const uint8_t* mask, const uint8_t* source, size_t length, uint32_t width,
                    uint32_t height, uint32_t sysWidth, uint32_t sysHeight,
                    std::vector<uint8_t>* andPlane, std::vector<uint8_t>* xorPlane) {
    andPlane->clear();
    xorPlane->clear();
    if (!sizeAllowed(sysWidth, sysHeight)) return -1;
    const uint64_t rowBytes = (uint64_t(width) + 7) / 8;
    if (rowBytes * height > length || (height && rowBytes && (!mask || !source))) return -1;
    const uint32_t stride = diXMonoStride(sysWidth);
    andPlane->assign(size_t(stride) * sysHeight, 0xFF);
    xorPlane->assign(size_t(stride) * sysHeight, 0);
    const uint32_t rows = std::min(height, sysHeight), cols = std::min(width, sysWidth);
    for (uint32_t y = 0; y < rows; y++) {
        const uint8_t* m = mask + size_t(y) * rowBytes;
        const uint8_t* s = source + size_t(y) * rowBytes;
        for (uint32_t x = 0; x < cols; x++) {
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            if (!(m[x / 8] & bit)) continue;
            setMsb(*andPlane, stride, x, y, false);
            setMsb(*xorPlane, stride, x, y, !(s[x / 8] & bit));
        }
    }
    return 0;
}

int diXArgbCursorBits(const uint32_t* pixels, size_t count, uint32_t width, uint32_t height,
                      std::vector<uint32_t>* bottomUp, std::vector<uint8_t>* mask) {
    bottomUp->clear();
    mask->clear();
    if (!sizeAllowed(width, height) || uint64_t(width) * height > count || !pixels) return -1;
    const uint32_t stride = diXMonoStride(width);
    bottomUp->resize(size_t(width) * height);
    mask->assign(size_t(stride) * height, 0);
    for (uint32_t y = 0; y < height; y++) {
        const uint32_t* row = pixels + size_t(y) * width;
        std::memcpy(bottomUp->data() + size_t(height - 1 - y) * width, row, width * 4u);
        for (uint32_t x = 0; x < width; x++)
            if (row[x] <= 0x00FFFFFF) setMsb(*mask, stride, x, y, true);
    }
    return 0;
}

int diXIconAndMask(const FbBuffer* mask, uint32_t width, uint32_t height,
                   std::vector<uint8_t>* andPlane) {
    andPlane->clear();
    if (!sizeAllowed(width, height) || (mask && !isDepth1(mask))) return -1;
    const uint32_t stride = diXMonoStride(width);
    andPlane->assign(size_t(stride) * height, 0);
    if (!mask) return 0;
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            if (!depth1Pixel(mask, x, y)) setMsb(*andPlane, stride, x, y, true);
    return 0;
}

int diXIconMonoColor(const FbBuffer* image, const FbBuffer* mask, std::vector<uint8_t>* plane) {
    plane->clear();
    if (!isDepth1(image) || (mask && !isDepth1(mask))) return -1;
    const uint32_t width = uint32_t(image->width), height = uint32_t(image->height);
    if (!sizeAllowed(width, height)) return -1;
    const uint32_t stride = diXMonoStride(width);
    plane->assign(size_t(stride) * height, 0);
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            if ((!mask || depth1Pixel(mask, x, y)) && !depth1Pixel(image, x, y))
                setMsb(*plane, stride, x, y, true);
    return 0;
}

int diXIconMaskedColor(const FbBuffer* image, const FbBuffer* mask, std::vector<uint8_t>* bits) {
    bits->clear();
    if (!image || !readable(image) || fbBufferFormat(image) == FB_FMT_1 ||
        (mask && !isDepth1(mask)))
        return -1;
    const uint32_t width = uint32_t(image->width), height = uint32_t(image->height);
    if (!sizeAllowed(width, height)) return -1;
    const size_t bpp = image->bytesPerPixel;
    bits->assign(image->bits, image->bits + size_t(image->stride) * height);
    if (!mask) return 0;
    for (uint32_t y = 0; y < height; y++) {
        uint8_t* row = bits->data() + size_t(height - 1 - y) * image->stride;
        for (uint32_t x = 0; x < width; x++)
            if (!depth1Pixel(mask, x, y)) std::memset(row + x * bpp, 0, bpp);
    }
    return 0;
}
