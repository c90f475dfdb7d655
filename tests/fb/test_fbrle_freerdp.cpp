// The decoder against an independent one (FreeRDP's), on streams its encoder
// makes from images and on streams of every order form from our writer, and
// against the pixel-at-a-time model on the same streams. FreeRDP decodes
// into its own buffer and flips it: its row h - 1 - r is our row r.
#include "fb/fbrle.h"

#include <gtest/gtest.h>

#include <freerdp/codec/interleaved.h>

#include <vector>

#include "fb/rle_model.h"

namespace {

struct Variant {
    int P, S;
    uint8_t srcDepth, dstDepth;
    UINT32 format; // FreeRDP's pixel format of the same bytes
};
const Variant k8 = {1, 1, 8, 8, PIXEL_FORMAT_RGB8};
const Variant k16 = {2, 2, 16, 16, PIXEL_FORMAT_RGB16};
const Variant k24 = {3, 3, 24, 24, PIXEL_FORMAT_BGR24};
const Variant k24To32 = {4, 3, 24, 32, PIXEL_FORMAT_BGR24};

class FreeRDP {
  public:
    FreeRDP()
        : dec(bitmap_interleaved_context_new(FALSE)), enc(bitmap_interleaved_context_new(TRUE)) {
        memset(&palette, 0, sizeof palette);
        palette.format = PIXEL_FORMAT_BGRX32;
    }
    ~FreeRDP() {
        bitmap_interleaved_context_free(dec);
        bitmap_interleaved_context_free(enc);
    }
    bool decode(const std::vector<uint8_t>& s, uint32_t w, uint32_t h, int bytes, UINT32 format,
                std::vector<uint8_t>& out) {
        out.assign(size_t(w) * h * bytes, 0x55);
        return interleaved_decompress(dec, s.data(), UINT32(s.size()), w, h, bytes * 8, out.data(),
                                      format, w * bytes, 0, 0, w, h, &palette);
    }
    bool encode(const std::vector<uint8_t>& image, uint32_t w, uint32_t h, int bytes, UINT32 format,
                std::vector<uint8_t>& s) {
        s.assign(65536, 0);
        UINT32 size = UINT32(s.size());
        if (!interleaved_compress(enc, s.data(), &size, w, h, image.data(), format, w * bytes, 0, 0,
                                  &palette, bytes * 8))
            return false;
        s.resize(size);
        return true;
    }

  private:
    BITMAP_INTERLEAVED_CONTEXT* dec;
    BITMAP_INTERLEAVED_CONTEXT* enc;
    gdiPalette palette;
};

// Decodes with ours (both stride signs, slack bytes), the model and FreeRDP
// and reports the first difference; "" when all agree.
std::string compare(FreeRDP& rdp, const Variant& v, uint32_t w, uint32_t h,
                    const std::vector<uint8_t>& s, bool withFreeRDP) {
    const int slack = 3;
    uint32_t abs = w * v.P + slack;
    std::vector<uint8_t> model(size_t(abs) * h, 0xAA);
    int32_t want =
        rlemodel::decode(v.P, v.S, w, h, s.data(), uint32_t(s.size()), model.data(), int32_t(abs));
    for (int32_t stride : {int32_t(abs), -int32_t(abs)}) {
        std::vector<uint8_t> ours(size_t(abs) * h, 0xAA);
        int32_t got = fbRLEDecompress(w, h, s.data(), uint32_t(s.size()), v.srcDepth, ours.data(),
                                      stride, v.dstDepth, h);
        if (got != want) return "result differs from the model";
        for (uint32_t r = 0; r < h; r++) {
            const uint8_t* o = ours.data() + (stride > 0 ? r : h - 1 - r) * size_t(abs);
            if (memcmp(o, model.data() + r * size_t(abs), abs) != 0)
                return "row " + std::to_string(r) + " differs from the model";
        }
    }
    if (!withFreeRDP) return "";
    std::vector<uint8_t> theirs;
    int bytes = v.S;
    if (!rdp.decode(s, w, h, bytes, v.format, theirs)) return "FreeRDP refused the stream";
    if (want != 0) return "FreeRDP accepted a stream with an unknown order";
    for (uint32_t r = 0; r < h; r++) {
        const uint8_t* t = theirs.data() + size_t(h - 1 - r) * w * bytes;
        const uint8_t* o = model.data() + r * size_t(abs);
        for (uint32_t x = 0; x < w; x++)
            if (memcmp(t + x * bytes, o + x * v.P, bytes) != 0)
                return "pixel " + std::to_string(x) + "," + std::to_string(r) +
                       " differs from FreeRDP";
    }
    return "";
}

std::string hex(const std::vector<uint8_t>& s) {
    std::string t;
    char b[4];
    for (size_t i = 0; i < s.size() && i < 400; i++)
        snprintf(b, sizeof b, "%02X ", s[i]), t += b;
    return t;
}

// Images of the kinds remote screens show, 16 bits (5-6-5) or 24 (b, g, r).
std::vector<uint8_t> picture(std::mt19937& rng, int kind, uint32_t w, uint32_t h, int bytes) {
    std::vector<uint8_t> img(size_t(w) * h * bytes);
    auto put = [&](uint32_t x, uint32_t y, uint32_t c) {
        for (int b = 0; b < bytes; b++)
            img[(size_t(y) * w + x) * bytes + b] = uint8_t(c >> (8 * b));
    };
    uint32_t bg = rng(), fg = rng();
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t c;
            switch (kind) {
            case 0:
                c = (x / 16 + y / 16) % 3 == 0 ? fg : bg;
                break; // flat areas
            case 1:
                c = (rng() % 5 == 0 && (y % 12) < 9) ? fg : bg;
                break; // text-like
            case 2:
                c = (x * 4) | (y * 4) << 8 | ((x + y) * 2) << 16;
                break; // gradient
            default:
                c = rng();
                break; // noise
            }
            put(x, y, c);
        }
    return img;
}

TEST(FbRLEFreeRDP, AgreesOnStreamsOfFreeRDPsEncoder) {
    const uint32_t seed = 7;
    std::mt19937 rng(seed);
    FreeRDP rdp;
    int encoded = 0;
    for (int i = 0; i < 4000; i++) {
        const Variant& v = i % 3 == 0 ? k16 : i % 3 == 1 ? k24 : k24To32;
        uint32_t w = 4 * std::uniform_int_distribution<uint32_t>(1, 16)(rng);
        uint32_t h = std::uniform_int_distribution<uint32_t>(1, 64)(rng);
        std::vector<uint8_t> img = picture(rng, i % 4, w, h, v.S), s;
        if (!rdp.encode(img, w, h, v.S, v.format, s)) continue;
        encoded++;
        std::string diff = compare(rdp, v, w, h, s, true);
        ASSERT_EQ("", diff) << "seed " << seed << " image " << i << " " << w << "x" << h;
    }
    EXPECT_GT(encoded, 3000);
}

TEST(FbRLEFreeRDP, AgreesOnStreamsOfEveryOrderForm) {
    const uint32_t seed = 11;
    std::mt19937 rng(seed);
    FreeRDP rdp;
    const Variant* variants[] = {&k8, &k16, &k24, &k24To32};
    for (int i = 0; i < 100000; i++) {
        const Variant& v = *variants[i % 4];
        bool wide = i % 16 == 0;
        uint32_t w = std::uniform_int_distribution<uint32_t>(1, wide ? 1024 : 64)(rng);
        uint32_t h = std::uniform_int_distribution<uint32_t>(1, wide ? 4 : 24)(rng);
        // Every fourth stream breaks the rules on which the two decoders
        // part: only the model judges those.
        bool strict = i % 4 != 3;
        rlemodel::StreamWriter sw(rng, v.S, w, h, strict);
        std::vector<uint8_t> s = sw.stream();
        std::string diff = compare(rdp, v, w, h, s, strict);
        ASSERT_EQ("", diff) << "seed " << seed << " stream " << i << " " << w << "x" << h << " bpp "
                            << v.S * 8 << ": " << hex(s);
    }
}

} // namespace
