// Image put at every format and compression with hostile sizes, positions
// and lengths: nothing may be read past the data or written past the
// buffer (ASan watches both; the buffer is allocated to its exact size).
#include "fb/fb.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint32_t u8() { return n ? (n--, *p++) : 0; }
    uint32_t u16() { return u8() | u8() << 8; }
    int32_t s16() { return int16_t(u16()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    static const uint32_t depths[] = {1, 8, 16, 24, 24};
    uint32_t fmt = r.u8() % 5;
    FbBuffer b{};
    b.width = int32_t(1 + r.u8() % 64);
    b.height = int32_t(1 + r.u8() % 64);
    b.depth = depths[fmt];
    b.bytesPerPixel = fmt == 4 ? 4 : 0;
    if (fbCreatePixmap(nullptr, &b) != 0)
        return 0;
    /* Exactly the buffer's bytes, so any overrun is caught. */
    size_t bytes = size_t(b.stride) * b.height;
    uint8_t* exact = static_cast<uint8_t*>(malloc(bytes));
    memcpy(exact, b.bits, bytes);
    free(b.bits);
    b.bits = exact;

    FbGC gc{};
    gc.ops = &fbNoOps;
    gc.changeMask = 0xFFFFFFFF;
    gc.function = 3;
    gc.planeMask = ~0u;
    gc.damageFlags = 3;
    if (fbCreateGC(nullptr, &gc) != 0)
        return 0;
    fbValidateGC(nullptr, &b, &gc);

    uint32_t mode = r.u8();
    uint32_t compression = r.u8() % 6;
    uint32_t depth = mode & 0x80 ? r.u8() : depths[fmt];
    int32_t x = r.s16() % 80, y = r.s16() % 80;
    int32_t w = r.s16(), h = r.s16();
    /* The rest is the image; its stated length may claim less. */
    uint32_t length = uint32_t(r.n);
    if (mode & 0x40 && length)
        length = r.u8() % length;
    uint8_t* copy = static_cast<uint8_t*>(malloc(r.n ? r.n : 1));
    memcpy(copy, r.p, r.n);
    switch (mode & 3) {
    case 0:
        gc.ops->PutImage(nullptr, &b, &gc, x, y, w, h, depth, compression, length, copy);
        break;
    case 1: {
        int32_t rows = int32_t(mode >> 2 & 15) - 2, first = y + int32_t(mode >> 4 & 3);
        gc.ops->PutSubImage(nullptr, &b, &gc, x, y, w, h, rows, first, int32_t(mode >> 3 & 15) - 4,
                            depth, compression, length, copy);
        break;
    }
    default:
        fbPutPixmapImage(&b, x, y, w, h, depth, compression, length, copy);
        break;
    }
    free(copy);
    fbDestroyGC(nullptr, &gc);
    fbDestroyPixmap(nullptr, &b);
    return 0;
}
