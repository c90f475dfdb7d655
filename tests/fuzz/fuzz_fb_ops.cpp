// GC changes, validation and drawing calls over pixmaps of mixed formats:
// whatever order the calls come in, no slot may write outside its buffer
// (a slot left from another format would).
#include "fb/fb.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint32_t u8() { return n ? (n--, *p++) : 0; }
    uint32_t u16() { return u8() | u8() << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    int32_t s16() { return int16_t(u16()); }
};

/* A pixmap whose bits are allocated to their exact size. */
bool MakeBuffer(FbBuffer& b, uint32_t depth, bool bpp4, int32_t w, int32_t h) {
    b = FbBuffer{};
    b.width = w;
    b.height = h;
    b.depth = depth;
    b.bytesPerPixel = bpp4 ? 4 : 0;
    if (fbCreatePixmap(nullptr, &b) != 0)
        return false;
    size_t bytes = size_t(b.stride) * b.height;
    uint8_t* exact = static_cast<uint8_t*>(malloc(bytes));
    memcpy(exact, b.bits, bytes);
    free(b.bits);
    b.bits = exact;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    static const uint32_t depths[] = {1, 8, 16, 24, 24, 12};
    FbBuffer bufs[6];
    for (int i = 0; i < 6; i++)
        if (!MakeBuffer(bufs[i], depths[i] == 12 ? 8 : depths[i], i == 4, 1 + int32_t(r.u8() % 40),
                        1 + int32_t(r.u8() % 40)))
            return 0;
    bufs[5].depth = 12; /* a depth this renderer does not know */
    FbGlyph glyphs[4];
    FbGlyph* table[256] = {};
    for (int i = 0; i < 4; i++) {
        glyphs[i] = FbGlyph{};
        glyphs[i].bitmap.width = int32_t(r.u8() % 20);
        glyphs[i].bitmap.height = int32_t(r.u8() % 20);
        glyphs[i].bitmap.depth = 1;
        fbCreateGlyph(nullptr, nullptr, &glyphs[i]);
        if (glyphs[i].bitmap.bits)
            memset(glyphs[i].bitmap.bits, int(r.u8()), size_t(glyphs[i].bitmap.stride) * glyphs[i].bitmap.height);
        glyphs[i].xOffset = r.s16() % 40;
        glyphs[i].yOffset = r.s16() % 40;
        glyphs[i].advance = r.s16();
        table['a' + i] = &glyphs[i];
    }
    FbGC gc{};
    gc.ops = &fbNoOps;
    gc.changeMask = 0xFFFFFFFF;
    gc.function = 3;
    gc.planeMask = ~0u;
    gc.glyphs = table;
    gc.damageFlags = 3;
    if (fbCreateGC(nullptr, &gc) != 0)
        return 0;
    FbBuffer* dst = &bufs[1];
    std::vector<FbPoint> pts;
    std::vector<int32_t> widths;
    std::vector<FbRect> rects;
    int steps = 0;
    while (r.n && steps++ < 64) {
        uint32_t op = r.u8() % 20;
        FbBuffer* other = &bufs[r.u8() % 6];
        uint32_t count = r.u8() % 8;
        pts.clear();
        widths.clear();
        rects.clear();
        for (uint32_t i = 0; i < count; i++) {
            pts.push_back({r.s16() % 60, r.s16() % 60});
            widths.push_back(r.s16() % 70);
            rects.push_back({r.s16() % 60, r.s16() % 60, r.u16() % 70, r.u16() % 70});
        }
        switch (op) {
        case 0: gc.function = r.u8() % 17; gc.changeMask |= 0x8004; break;
        case 1: gc.foreground = r.u32(); gc.changeMask |= 0x8001; break;
        case 2: gc.background = r.u32(); gc.changeMask |= 0x8002; break;
        case 3: gc.fillStyle = r.u8() % 6; gc.changeMask |= 0x8008; break;
        case 4: gc.planeMask = r.u32(); gc.changeMask |= 0x8100; break;
        case 5: gc.tile = other; gc.stipple = &bufs[r.u8() % 6]; gc.originX = r.s16(); gc.originY = r.s16(); break;
        case 6: dst = other; gc.changeMask |= r.u8() & 1 ? 0x8400 : 0x8000; break;
        case 7: gc.ops->PolyLine(nullptr, dst, &gc, count, pts.data()); break;
        case 8: gc.ops->PolySegment(nullptr, dst, &gc, count / 2, reinterpret_cast<FbSegment*>(pts.data())); break;
        case 9: gc.ops->PolyRectangle(nullptr, dst, &gc, count, rects.data()); break;
        case 10: gc.ops->PolyFillRect(nullptr, dst, &gc, count, rects.data()); break;
        case 11: gc.ops->FillPolygon(nullptr, dst, &gc, r.u8() % 4, count, pts.data()); break;
        case 12:
            gc.ops->CopyArea(nullptr, dst, &gc, r.s16() % 60, r.s16() % 60, r.s16() % 70, r.s16() % 70, other,
                             r.s16() % 60, r.s16() % 60);
            break;
        case 13:
            gc.ops->CopyPlane(nullptr, dst, &gc, r.s16() % 60, r.s16() % 60, r.s16() % 70, r.s16() % 70, other,
                              r.s16() % 60, r.s16() % 60, r.u32());
            break;
        case 14:
        case 15: {
            uint8_t chars[8];
            for (uint32_t i = 0; i < count; i++)
                chars[i] = uint8_t('a' + r.u8() % 5);
            if (op == 14)
                gc.ops->PolyText8(nullptr, dst, &gc, r.s16() % 60, r.s16() % 60, count, chars);
            else
                gc.ops->ImageText8(nullptr, dst, &gc, r.s16() % 60, r.s16() % 60, count, chars);
            break;
        }
        case 16: gc.ops->FillSpans(nullptr, dst, &gc, count, pts.data(), widths.data()); break;
        case 17: {
            uint8_t img[64];
            uint32_t len = r.u8() % 65;
            for (uint32_t i = 0; i < len; i++)
                img[i] = uint8_t(r.u8());
            gc.ops->PutImage(nullptr, dst, &gc, r.s16() % 60, r.s16() % 60, r.s16() % 70, r.s16() % 70,
                             dst->depth, r.u8() % 6, len, img);
            break;
        }
        default:
            break;
        }
        /* The engine validates before each drawing call whose GC changed. */
        if (gc.changeMask & 0x8000) {
            fbValidateGC(nullptr, dst, &gc);
            gc.changeMask = 0;
        }
    }
    fbDestroyGC(nullptr, &gc);
    for (FbGlyph& g : glyphs)
        fbFreeGlyph(nullptr, nullptr, &g);
    for (FbBuffer& b : bufs)
        fbDestroyPixmap(nullptr, &b);
    return 0;
}
