// Throughput of the image codecs next to independent anchors measured in
// the same run: the run-length decoder against FreeRDP's on the same 64x64
// streams (made by FreeRDP's encoder), the scalers against pixman's nearest
// and bilinear scaling, and the dither against a copy of the source pixels.
#include "fb/fbdither.h"
#include "fb/fbrle.h"
#include "fb/fbscale.h"

#include <freerdp/codec/interleaved.h>
#include <pixman.h>

#include <chrono>
#include <random>
#include <string.h>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "ui/dicolor.h"

namespace {

// Calls fn until at least 0.3 s have passed; returns calls per second.
template <class F> double rate(F fn) {
    using clock = std::chrono::steady_clock;
    fn(); // warm up
    uint64_t calls = 0;
    auto start = clock::now();
    double secs = 0;
    do {
        for (int i = 0; i < 8; i++)
            fn();
        calls += 8;
        secs = std::chrono::duration<double>(clock::now() - start).count();
    } while (secs < 0.3);
    return calls / secs;
}

std::vector<uint8_t> picture(std::mt19937& rng, int kind, uint32_t w, uint32_t h, int bytes) {
    std::vector<uint8_t> img(size_t(w) * h * bytes);
    uint32_t bg = rng(), fg = rng();
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t c;
            switch (kind) {
            case 0:
                c = (x / 16 + y / 16) % 3 == 0 ? fg : bg;
                break;
            case 1:
                c = (rng() % 5 == 0 && (y % 12) < 9) ? fg : bg;
                break;
            case 2:
                c = (x * 4) | (y * 4) << 8 | ((x + y) * 2) << 16;
                break;
            default:
                c = rng();
                break;
            }
            for (int b = 0; b < bytes; b++)
                img[(size_t(y) * w + x) * bytes + b] = uint8_t(c >> (8 * b));
        }
    return img;
}

void benchRLE() {
    const char* kinds[] = {"flat", "text", "gradient", "noise"};
    BITMAP_INTERLEAVED_CONTEXT* enc = bitmap_interleaved_context_new(TRUE);
    BITMAP_INTERLEAVED_CONTEXT* dec = bitmap_interleaved_context_new(FALSE);
    gdiPalette palette;
    memset(&palette, 0, sizeof palette);
    std::mt19937 rng(1);
    const uint32_t w = 64, h = 64;
    double oursAll = 0, theirsAll = 0;
    for (int bytes : {2, 3}) {
        UINT32 format = bytes == 2 ? PIXEL_FORMAT_RGB16 : PIXEL_FORMAT_BGR24;
        for (int k = 0; k < 4; k++) {
            std::vector<uint8_t> img = picture(rng, k, w, h, bytes), s(65536);
            UINT32 size = UINT32(s.size());
            if (!interleaved_compress(enc, s.data(), &size, w, h, img.data(), format, w * bytes, 0,
                                      0, &palette, bytes * 8)) {
                printf("FreeRDP could not encode %s\n", kinds[k]);
                continue;
            }
            s.resize(size);
            std::vector<uint8_t> out(size_t(w) * h * bytes);
            double mb = double(out.size()) / 1e6;
            double ours =
                mb * rate([&] {
                    fbRLEDecompress(w, h, s.data(), uint32_t(s.size()), uint8_t(bytes * 8),
                                    out.data(), int32_t(w * bytes), uint8_t(bytes * 8), h);
                });
            double theirs =
                mb * rate([&] {
                    interleaved_decompress(dec, s.data(), UINT32(s.size()), w, h, bytes * 8,
                                           out.data(), format, w * bytes, 0, 0, w, h, &palette);
                });
            std::string label = "rle/freerdp " + std::to_string(bytes * 8) + " " + kinds[k];
            hvBenchRatio(label.c_str(), ours, theirs, "MB/s");
            oursAll += 1 / ours, theirsAll += 1 / theirs; // time per MB
        }
    }
    hvBenchRatio("rle/freerdp", 1 / oursAll, 1 / theirsAll, "MB/s");
    bitmap_interleaved_context_free(enc);
    bitmap_interleaved_context_free(dec);
}

void benchScale() {
    // 0 plain C, 1 AVX2, 2 AVX-512: the vector paths this processor takes.
    printf("scaler instructions: level %d\n", fbScaleSetSimdLevel(2));
    const uint32_t sizes[][4] = {
        {1920, 1080, 1280, 720}, {1280, 720, 1920, 1080}, {1024, 768, 1000, 750}};
    double fastOurs = 0, fastPix = 0, smoothOurs = 0, smoothPix = 0;
    std::mt19937 rng(2);
    for (uint32_t bpp : {4u, 2u}) {
        for (auto& z : sizes) {
            uint32_t sw = z[0], sh = z[1], dw = z[2], dh = z[3];
            uint32_t ss = fbScaleStride(sw, bpp), ds = fbScaleStride(dw, bpp);
            std::vector<uint32_t> src(size_t(ss) * sh / 4), dst(size_t(ds) * dh / 4);
            for (auto& v : src)
                v = rng() & (bpp == 4 ? 0x00FFFFFF : 0xFFFFFFFF);
            pixman_format_code_t fmt = bpp == 4 ? PIXMAN_x8r8g8b8 : PIXMAN_r5g6b5;
            pixman_image_t* ps =
                pixman_image_create_bits(fmt, int(sw), int(sh), src.data(), int(ss));
            pixman_image_t* pd =
                pixman_image_create_bits(fmt, int(dw), int(dh), dst.data(), int(ds));
            pixman_transform_t t;
            pixman_transform_init_scale(&t, pixman_double_to_fixed(double(sw) / dw),
                                        pixman_double_to_fixed(double(sh) / dh));
            pixman_image_set_transform(ps, &t);
            FbScaleSize size = {sw, sh, dw, dh};
            double mp = double(dw) * dh / 1e6;
            for (bool avg : {false, true}) {
                FbScaleFn fn = (avg ? g_fbScaleAverage : g_fbScaleNearest)[bpp - 1][bpp - 1];
                double ours = mp * rate([&] {
                                  fn(&size, nullptr, reinterpret_cast<uint8_t*>(src.data()),
                                     reinterpret_cast<uint8_t*>(dst.data()), 0, 0, int32_t(dw),
                                     int32_t(dh), int32_t(sh) - 1, int32_t(dh) - 1);
                              });
                pixman_image_set_filter(ps, avg ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST,
                                        nullptr, 0);
                double pix = mp * rate([&] {
                                 pixman_image_composite32(PIXMAN_OP_SRC, ps, nullptr, pd, 0, 0, 0,
                                                          0, 0, 0, int32_t(dw), int32_t(dh));
                             });
                std::string label =
                    std::string(avg ? "smooth/pixman-bilinear " : "fast/pixman-nearest ") +
                    std::to_string(bpp * 8) + " " + std::to_string(sw) + "x" + std::to_string(sh) +
                    ">" + std::to_string(dw) + "x" + std::to_string(dh);
                hvBenchRatio(label.c_str(), ours, pix, "Mpixel/s");
                (avg ? smoothOurs : fastOurs) += 1 / ours;
                (avg ? smoothPix : fastPix) += 1 / pix;
            }
            pixman_image_unref(ps);
            pixman_image_unref(pd);
        }
    }
    hvBenchRatio("fast/pixman-nearest", 1 / fastOurs, 1 / fastPix, "Mpixel/s");
    hvBenchRatio("smooth/pixman-bilinear", 1 / smoothOurs, 1 / smoothPix, "Mpixel/s");
}

void benchDither() {
    const uint32_t w = 1024, h = 768;
    std::vector<DdColorCell> cells(256);
    DdColorMap map{};
    map.cells = cells.data();
    map.cubeSize = 6;
    map.depth = 8;
    map.changed = 1;
    for (uint32_t i = 0; i < 216; i++)
        map.cube[i] = i + 20;
    for (uint32_t i = 0; i < 256; i++) {
        cells[i].red = uint8_t(i * 5), cells[i].green = uint8_t(i * 11), cells[i].blue = uint8_t(i);
        cells[i].flags = i % 4 ? DI_COLOR_PRIVATE : DI_COLOR_FAILED;
        cells[i].index = i;
    }
    fbDitherInit(6);
    printf("dither instructions: level %d\n", fbDitherSetSimdLevel(2));
    std::mt19937 rng(3);
    double oursAll = 0, copyAll = 0;
    for (uint32_t bpp : {1u, 2u, 3u, 4u}) {
        uint32_t stride = fbScaleStride(w, bpp);
        std::vector<uint8_t> pixels(size_t(stride) * h), copy(pixels.size()), dib(size_t(w) * h);
        // Screen-like content: runs of a few colours with some noise.
        for (size_t i = 0; i < pixels.size(); i++)
            pixels[i] = uint8_t(rng() % 8 ? (i / 64) * 37 : rng());
        FbDitherImage im = {w, h, pixels.data(), stride, dib.data(), w};
        auto fn = bpp == 1 ? fbDither8 : bpp == 2 ? fbDither16 : bpp == 3 ? fbDither24 : fbDither32;
        double mp = double(w) * h / 1e6;
        double ours = mp * rate([&] { fn(&map, &im, 0, 0, int32_t(w), int32_t(h)); });
        double cp = mp * rate([&] {
                        memcpy(copy.data(), pixels.data(), pixels.size());
                        asm volatile("" : : "r"(copy.data()) : "memory"); // the copy is used
                    });
        std::string label = "dither/memcpy " + std::to_string(bpp * 8);
        hvBenchRatio(label.c_str(), ours, cp, "Mpixel/s");
        oursAll += 1 / ours, copyAll += 1 / cp;
    }
    hvBenchRatio("dither/memcpy", 1 / oursAll, 1 / copyAll, "Mpixel/s");
}

} // namespace

int main() {
    benchRLE();
    benchScale();
    benchDither();
    return 0;
}
