// GIF files come from the web server. Input: the frame to select, then the
// file. Whatever is read is written as an icon, and the icon is checked by a
// reader of its own: its layout follows from the image, every pixel has the
// image's colour, and what the mask hides carries colour 0.
#include "session/diximage.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

uint32_t le(const std::string& b, size_t at, int n) {
    check(at + n <= b.size());
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
}

bool same(CxRGBQuad a, uint32_t bgr) {
    return a.blue == (bgr & 0xFF) && a.green == ((bgr >> 8) & 0xFF) &&
           a.red == ((bgr >> 16) & 0xFF);
}

void checkIcon(const CxImage& img, const std::string& ico) {
    const uint32_t w = uint32_t(img.GetWidth()), h = uint32_t(img.GetHeight());
    const uint32_t bpp = img.GetBpp();
    check(w >= 1 && w <= 255 && h >= 1 && h <= 255);
    check(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24);
    const uint32_t entries = bpp <= 8 ? 1u << bpp : 0;
    const uint32_t stride = (w * bpp + 31) / 32 * 4, maskRow = (w + 31) / 32 * 4;
    const uint32_t total = 22 + 40 + entries * 4 + stride * h + maskRow * h;
    check(ico.size() == total);
    check(le(ico, 0, 4) == 0x00010000 && le(ico, 4, 2) == 1);
    check(le(ico, 6, 4) == (w | h << 8 | (entries & 0xFF) << 16));
    check(le(ico, 10, 4) == bpp << 16 && le(ico, 14, 4) == total - 22 && le(ico, 18, 4) == 22);
    check(le(ico, 22, 4) == 40 && le(ico, 26, 4) == w && le(ico, 30, 4) == 2 * h);
    check(le(ico, 34, 4) == (1 | bpp << 16) && le(ico, 38, 4) == 0);
    check(le(ico, 42, 4) == stride * h);
    const size_t rows = 62 + size_t(entries) * 4, mask = rows + size_t(stride) * h;
    const bool masked = img.GetTransIndex() >= 0;
    const CxRGBQuad trans = img.GetTransColor();
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t colour;
            if (bpp == 24) {
                colour = le(ico, rows + y * stride + x * 3, 3);
            } else {
                uint32_t bit = x * bpp;
                uint32_t index =
                    (uint8_t(ico[rows + y * stride + bit / 8]) >> (8 - bpp - bit % 8)) &
                    (entries - 1);
                colour = le(ico, 62 + index * 4, 3);
            }
            CxRGBQuad c = img.GetPixelColor(int32_t(x), int32_t(y));
            bool hidden = (uint8_t(ico[mask + y * maskRow + x / 8]) >> (7 - x % 8)) & 1;
            bool transparent =
                masked && c.red == trans.red && c.green == trans.green && c.blue == trans.blue;
            check(hidden == transparent);
            check(hidden ? colour == 0 : same(c, colour));
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string gif(reinterpret_cast<const char*>(data + 1), size - 1);
    FILE* in = fmemopen(gif.empty() ? nullptr : &gif[0], gif.size(), "rb");
    if (!in) return 0;
    CxImage img;
    img.SetFrame(data[0] % 8);
    bool read;
    {
        CImageFile file(in, true);
        read = img.Decode(&file, CXIMAGE_FORMAT_GIF);
    }
    check(read == img.IsValid());
    if (!read) return 0;
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    bool written;
    {
        CImageFile file(out, true);
        written = img.Encode(&file, CXIMAGE_FORMAT_ICO);
    }
    std::string ico(buf ? buf : "", len);
    free(buf);
    check(written);
    checkIcon(img, ico);
    return 0;
}
