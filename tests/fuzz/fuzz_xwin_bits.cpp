// Cursor planes, 32-bit cursor masks and window-icon masks from hostile
// sizes and bytes: every output stays inside its plane, and a plane has the
// size its dimensions give.
#include "xde/dixbits.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint32_t u(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes && n; i++, p++, n--)
            v = v << 8 | *p;
        return v;
    }
};

void check(bool ok) {
    if (!ok) abort();
}

/* A depth-1 buffer over the remaining bytes; the fields are hostile too. */
FbBuffer depth1(Reader& r, uint32_t depth) {
    FbBuffer b{};
    b.width = int32_t(r.u(2));
    b.height = int32_t(r.u(2));
    b.stride = r.u(2);
    b.depth = depth;
    b.bytesPerPixel = r.u(1) & 7;
    return b;
}

/* The buffer may only be read if its bytes are really there. */
bool backed(const FbBuffer& b, size_t available) {
    if (fbBufferFormat(&b) == FB_FMT_NONE) return true; // refused before reading
    return uint64_t(b.stride) * uint64_t(b.height) <= available;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    uint32_t which = r.u(1) % 3;
    std::vector<uint8_t> a, b;
    if (which == 0) {
        uint32_t w = r.u(1), h = r.u(1), sw = r.u(1), sh = r.u(1);
        size_t half = r.n / 2;
        std::vector<uint8_t> mask(r.p, r.p + half), source(r.p + half, r.p + 2 * half);
        if (diXCursorPlanes(mask.data(), source.data(), half, w, h, sw, sh, &a, &b) == 0) {
            check(a.size() == size_t(diXMonoStride(sw)) * sh && b.size() == a.size());
            // A pixel is never both transparent (AND 1) and inverted (XOR 1).
            for (size_t i = 0; i < a.size(); i++)
                check(!(a[i] & b[i]));
        }
    } else if (which == 1) {
        uint32_t w = r.u(2), h = r.u(2);
        std::vector<uint32_t> px(r.n / 4);
        if (!px.empty()) memcpy(px.data(), r.p, px.size() * 4);
        std::vector<uint32_t> dib;
        if (diXArgbCursorBits(px.data(), px.size(), w, h, &dib, &a) == 0) {
            check(dib.size() == size_t(w) * h && a.size() == size_t(diXMonoStride(w)) * h);
            check(uint64_t(w) * h <= px.size());
        }
    } else {
        bool withMask = r.u(1) & 1;
        FbBuffer image = depth1(r, (r.u(1) & 1) ? 1 : 16);
        FbBuffer mask = depth1(r, 1);
        uint32_t w = r.u(2), h = r.u(2);
        std::vector<uint8_t> bytes(r.p, r.p + r.n);
        bytes.push_back(0);
        image.bits = mask.bits = bytes.data();
        if (!backed(image, r.n) || !backed(mask, r.n)) return 0;
        const FbBuffer* m = withMask ? &mask : nullptr;
        if (diXIconAndMask(m, w, h, &a) == 0) check(a.size() == size_t(diXMonoStride(w)) * h);
        diXIconMonoColor(&image, m, &a);
        diXIconMaskedColor(&image, m, &a);
    }
    return 0;
}
