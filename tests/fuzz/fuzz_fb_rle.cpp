// The interleaved run-length decoder on any stream, size, pixel size and
// stride (slack and sign from the input), into a destination of exactly the
// rows it may write: a read above the first row or a write past the last
// hits the address checker. The result and pixels must equal the
// pixel-at-a-time model's.
#include "fb/fbrle.h"

#include <stdlib.h>

#include <vector>

#include "fb/rle_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const int variants[4][4] = {
        {1, 1, 8, 8}, {2, 2, 16, 16}, {3, 3, 24, 24}, {4, 3, 24, 32}};
    const int* v = variants[data[0] & 3];
    uint32_t slack = (data[0] >> 2) & 7;
    bool up = data[0] & 0x20;
    uint32_t w = (data[1] | (data[2] & 0x07) << 8) + 1; // 1-2048
    uint32_t h = (data[3] & 0x3F) + 1;                  // 1-64
    const uint8_t* s = data + 4;
    uint32_t len = uint32_t(size - 4 > 0xFFFF ? 0xFFFF : size - 4);
    uint32_t abs = w * uint32_t(v[0]) + slack;
    std::vector<uint8_t> ours(size_t(abs) * h, 0x5A), model(ours);
    // The stream and destination live in their own blocks so that overruns
    // of either are caught.
    std::vector<uint8_t> stream(s, s + len);
    int32_t stride = up ? -int32_t(abs) : int32_t(abs);
    int32_t got = fbRLEDecompress(w, h, stream.data(), len, uint8_t(v[2]), ours.data(), stride,
                                  uint8_t(v[3]), h);
    int32_t want = rlemodel::decode(v[0], v[1], w, h, stream.data(), len, model.data(), stride);
    if (got != want || ours != model) abort();
    // A buffer one row short is refused untouched.
    if (h > 1) {
        std::vector<uint8_t> small(size_t(abs) * (h - 1), 0x5A);
        if (fbRLEDecompress(w, h, stream.data(), len, uint8_t(v[2]), small.data(), stride,
                            uint8_t(v[3]), h - 1) != FB_RLE_BAD_DEST)
            abort();
        for (uint8_t b : small)
            if (b != 0x5A) abort();
    }
    return 0;
}
