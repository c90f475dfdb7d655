// The GDI mirror's choice for a graphics context (exact colours mirrored
// without damage, inexact ones only with the server's leave and an idle
// window, XOR of colormap indexes never on a true-colour screen, fills only
// when solid) and the read-back pixel, which must lie in the buffer.
#include <gtest/gtest.h>

#include "xde/dixmirror.h"

#include <vector>

namespace {

DiXMirrorFacts facts(uint32_t depth) {
    DiXMirrorFacts f{};
    f.xDepth = depth;
    f.screenBits = 24;
    f.planeMask = 0xFFFFFFFFu;
    f.fgClass = FB_CLASS_COPY;
    f.function = 3;
    f.fillStyle = FB_FILL_SOLID;
    f.sessionFlags = DI_XSESSION_MIRROR;
    return f;
}

TEST(XMirror, ExactColoursAreMirroredWithoutDamage) {
    for (uint32_t depth : {8u, 16u, 24u}) {
        DiXMirrorFacts f = facts(depth);
        // Only the depth's own plane bits count, and no leave is needed.
        f.planeMask = depth == 8 ? 0xFFu : depth == 16 ? 0xFFFFu : 0xFFFFFFu;
        f.sessionFlags = 0;
        f.activity = 6;
        DiXMirrorChoice c = diXMirrorChoose(f);
        EXPECT_TRUE(c.install) << depth;
        EXPECT_TRUE(c.fills) << depth;
        EXPECT_EQ(c.setFlags, uint32_t(DI_XDAMAGE_MIRRORED)) << depth;
        EXPECT_EQ(c.clearFlags, uint32_t(DI_XDAMAGE_UPDATE | DI_XDAMAGE_RECOLOUR)) << depth;
    }
    // Depths GDI is not asked to draw for.
    for (uint32_t depth : {1u, 4u, 32u})
        EXPECT_FALSE(diXMirrorChoose(facts(depth)).install) << depth;
}

TEST(XMirror, InexactColoursKeepDamageAndNeedLeaveAndAnIdleWindow) {
    // A partial plane mask: mirrored, read back, and repainted later.
    DiXMirrorFacts partial = facts(16);
    partial.planeMask = 0xFFF0;
    partial.fgClass = FB_CLASS_GENERAL;
    DiXMirrorChoice c = diXMirrorChoose(partial);
    EXPECT_TRUE(c.install);
    EXPECT_EQ(c.setFlags,
              uint32_t(DI_XDAMAGE_MIRRORED | DI_XDAMAGE_UPDATE | DI_XDAMAGE_RECOLOUR));
    EXPECT_EQ(c.clearFlags, 0u);
    // A full mask with another function, and dithered colours: not read back.
    DiXMirrorFacts xorFull = facts(24);
    xorFull.fgClass = FB_CLASS_XOR;
    xorFull.function = 6;
    EXPECT_EQ(diXMirrorChoose(xorFull).setFlags,
              uint32_t(DI_XDAMAGE_MIRRORED | DI_XDAMAGE_UPDATE));
    DiXMirrorFacts dithered = facts(24);
    dithered.dither = 1;
    EXPECT_EQ(diXMirrorChoose(dithered).setFlags,
              uint32_t(DI_XDAMAGE_MIRRORED | DI_XDAMAGE_UPDATE));
    // Without the server's leave, or while the user types or points: nothing.
    for (uint32_t activity : {2u, 4u}) {
        DiXMirrorFacts busy = partial;
        busy.activity = activity;
        c = diXMirrorChoose(busy);
        EXPECT_FALSE(c.install) << activity;
        EXPECT_EQ(c.setFlags | c.clearFlags, 0u) << activity;
    }
    DiXMirrorFacts refused = partial;
    refused.sessionFlags = 0;
    EXPECT_FALSE(diXMirrorChoose(refused).install);
}

TEST(XMirror, DepthEightXorIsNotMirroredOnATrueColourScreen) {
    DiXMirrorFacts f = facts(8);
    f.function = 6;
    f.fgClass = FB_CLASS_XOR;
    DiXMirrorChoice c = diXMirrorChoose(f);
    EXPECT_FALSE(c.install);
    EXPECT_EQ(c.setFlags, 0u);
    // Exposures painted after every request are asked for by the GC's mode.
    f.gcMode = 1;
    c = diXMirrorChoose(f);
    EXPECT_FALSE(c.install);
    EXPECT_EQ(c.setFlags, uint32_t(DI_XDAMAGE_PAINT));
    // On a palette screen the indexes are the screen's: mirrored inexactly.
    f.screenBits = 8;
    EXPECT_TRUE(diXMirrorChoose(f).install);
}

TEST(XMirror, TiledAndStippledFillsStayWithTheBuffer) {
    for (uint32_t style : {uint32_t(FB_FILL_TILED), uint32_t(FB_FILL_STIPPLED),
                           uint32_t(FB_FILL_OPAQUE)}) {
        DiXMirrorFacts f = facts(24);
        f.fillStyle = style;
        DiXMirrorChoice c = diXMirrorChoose(f);
        EXPECT_TRUE(c.install) << style; // lines and outlines still are
        EXPECT_FALSE(c.fills) << style;
    }
}

TEST(XMirror, ReadBackPixelMustLieInTheBuffer) {
    // 3 x 2 at 24 bits, bottom-up, rows of 12 bytes.
    std::vector<uint8_t> bits(24, 0);
    FbBuffer b{};
    b.width = 3, b.height = 2, b.depth = 24, b.bytesPerPixel = 3, b.stride = 12;
    b.bits = bits.data();
    bits[0 * 12 + 2 * 3 + 0] = 0x33, bits[2 * 3 + 1] = 0x22, bits[2 * 3 + 2] = 0x11; // (2, 1)
    bits[12 + 0] = 0x66, bits[12 + 1] = 0x55, bits[12 + 2] = 0x44;                  // (0, 0)
    uint32_t px = 0xDEAD;
    ASSERT_TRUE(diXBufferPixel(&b, 2, 1, &px));
    EXPECT_EQ(px, 0x112233u);
    ASSERT_TRUE(diXBufferPixel(&b, 0, 0, &px));
    EXPECT_EQ(px, 0x445566u);
    // Outside, on either side, keeps what the caller had.
    px = 0xDEAD;
    for (auto p : {std::pair<int, int>{-1, 0}, {0, -1}, {3, 0}, {0, 2}, {INT32_MIN, INT32_MAX}})
        EXPECT_FALSE(diXBufferPixel(&b, p.first, p.second, &px)) << p.first << "," << p.second;
    EXPECT_EQ(px, 0xDEADu);
    // A 5-6-5 buffer reads two bytes; a buffer without pixels reads none.
    std::vector<uint8_t> b16 = {0x1F, 0xF8, 0, 0};
    FbBuffer s{};
    s.width = 2, s.height = 1, s.depth = 16, s.bytesPerPixel = 2, s.stride = 4;
    s.bits = b16.data();
    ASSERT_TRUE(diXBufferPixel(&s, 0, 0, &px));
    EXPECT_EQ(px, 0xF81Fu);
    s.bits = nullptr;
    EXPECT_FALSE(diXBufferPixel(&s, 0, 0, &px));
}

} // namespace
