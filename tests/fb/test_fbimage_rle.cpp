/* Image put of interleaved run-length images (compression 3) through the
 * real decoder: the image fills the drawable's bottom rows from column 0,
 * and puts that do not fit decode nothing. */
#include "fb/fbpriv.h"
#include "fbtest.h"
#include "rle_model.h"

#include <string.h>

namespace {

struct RleFormat {
    FbFormat format;
    uint32_t depth; /* the image's and the drawable's depth */
    bool bpp4;
    int pixelBytes, colourBytes;
};
const RleFormat kRleFormats[] = {{FB_FMT_8, 8, false, 1, 1},
                                 {FB_FMT_16, 16, false, 2, 2},
                                 {FB_FMT_24, 24, false, 3, 3},
                                 {FB_FMT_32, 24, true, 4, 3}};

std::vector<uint8_t> bytesOf(TestBuffer& d) {
    return std::vector<uint8_t>(d.b.bits, d.b.bits + size_t(d.b.stride) * d.b.height);
}

/* Random streams of every order kind, cut short, run over and broken ones
 * included, put at random positions: the drawable equals the reference
 * model run on its first rows in memory, bytes past each row untouched. */
TEST(FbImageRLE, PutFillsTheBottomRowsLikeTheModel) {
    std::mt19937 rng(20261207);
    for (const RleFormat& f : kRleFormats) {
        for (int round = 0; round < 150; round++) {
            SCOPED_TRACE(std::string("format ") + std::to_string(f.format) + " round " +
                         std::to_string(round));
            int32_t W = int32_t(1 + rng() % 23), H = int32_t(1 + rng() % 11);
            int32_t w = int32_t(1 + rng() % W), h = int32_t(1 + rng() % H);
            if (round % 3 == 0) w = W, h = H;
            TestBuffer d(W, H, f.depth, f.bpp4);
            d.randomize(rng);
            for (uint32_t i = 0; i < d.b.stride * uint32_t(H); i++)
                if ((i % d.b.stride) >= uint32_t(W) * d.b.bytesPerPixel) d.b.bits[i] = 0xA5;
            std::vector<uint8_t> want = bytesOf(d);
            rlemodel::StreamWriter sw(rng, f.colourBytes, uint32_t(w), uint32_t(h), false);
            std::vector<uint8_t> stream = sw.stream();
            rlemodel::decode(f.pixelBytes, f.colourBytes, uint32_t(w), uint32_t(h), stream.data(),
                             uint32_t(stream.size()), want.data(), int32_t(d.b.stride));
            /* Two leading bytes that are not part of the stream. */
            std::vector<uint8_t> data = {0xFF, 0xFB};
            data.insert(data.end(), stream.begin(), stream.end());
            FbGC gc = FreshGC();
            int32_t x = int32_t(rng() % 5), y = int32_t(rng() % 5);
            fbFamilies[f.format].putImage(nullptr, &d, &gc, x, y, w, h, f.depth, 3,
                                          uint32_t(data.size()), data.data());
            ASSERT_EQ(bytesOf(d), want);
        }
    }
}

/* Puts that cannot be decoded into the drawable leave every byte as it
 * was: fewer than two data bytes (the stream length would wrap), an image
 * taller or wider than the drawable, an image depth of another pixel size.
 * The data is allocated exactly, so a read past it is caught. */
TEST(FbImageRLE, PutsThatDoNotFitWriteNothing) {
    std::mt19937 rng(7);
    for (const RleFormat& f : kRleFormats) {
        SCOPED_TRACE(std::string("format ") + std::to_string(f.format));
        TestBuffer d(9, 6, f.depth, f.bpp4);
        d.randomize(rng);
        const std::vector<uint8_t> before = bytesOf(d);
        FbGC gc = FreshGC();
        const FbFamily& fam = fbFamilies[f.format];
        for (uint32_t n : {0u, 1u}) {
            std::vector<uint8_t> data(n, 0x60);
            fam.putImage(nullptr, &d, &gc, 0, 0, 9, 6, f.depth, 3, n, data.data());
            EXPECT_EQ(bytesOf(d), before) << n << " data bytes";
        }
        /* A white pixel order for every pixel of the image. */
        auto whites = [](int32_t w, int32_t h) {
            return std::vector<uint8_t>(2 + size_t(w) * h, 0xFD);
        };
        std::vector<uint8_t> tall = whites(9, 7);
        fam.putImage(nullptr, &d, &gc, 0, 0, 9, 7, f.depth, 3, uint32_t(tall.size()), tall.data());
        EXPECT_EQ(bytesOf(d), before) << "taller than the drawable";
        std::vector<uint8_t> wide = whites(10, 1);
        fam.putImage(nullptr, &d, &gc, 0, 0, 10, 1, f.depth, 3, uint32_t(wide.size()), wide.data());
        EXPECT_EQ(bytesOf(d), before) << "wider than the drawable";
        uint32_t other = f.depth == 16 ? 8 : 16;
        std::vector<uint8_t> fits = whites(9, 6);
        fam.putImage(nullptr, &d, &gc, 0, 0, 9, 6, other, 3, uint32_t(fits.size()), fits.data());
        EXPECT_EQ(bytesOf(d), before) << "image depth " << other;
        /* The same image at the drawable's own depth does draw. */
        fam.putImage(nullptr, &d, &gc, 0, 0, 9, 6, f.depth, 3, uint32_t(fits.size()), fits.data());
        EXPECT_EQ(d.get(0, 5), d.mask()) << "white at the bottom left";
        EXPECT_EQ(d.get(8, 0), d.mask()) << "white at the top right";
    }
}

} // namespace
