/* The GDI mirror's decisions (see dixmirror.h). */
#include "xde/dixmirror.h"

DiXMirrorChoice diXMirrorChoose(const DiXMirrorFacts& f) {
    DiXMirrorChoice c{};
    uint32_t low;
    switch (f.xDepth) {
    case 8: low = 0xFFu; break;
    case 16: low = 0xFFFFu; break;
    case 24: low = 0xFFFFFFu; break;
    default: return c;
    }
    const bool full = (f.planeMask & low) == low;
    /* GDI draws the colour exactly only for a plain copy of the whole pixel
     * in a colour the screen shows undithered. */
    const bool exact = full && f.fgClass == FB_CLASS_COPY && !f.dither;
    if (exact) {
        c.clearFlags = DI_XDAMAGE_UPDATE | DI_XDAMAGE_RECOLOUR;
    } else {
        /* XOR of colormap indexes means nothing to a true-colour screen. */
        if (f.xDepth == 8 && f.screenBits > 8 && f.function == 6) {
            if (f.gcMode & 1) c.setFlags = DI_XDAMAGE_PAINT;
            return c;
        }
        /* An approximate colour on the screen is only shown with the
         * server's leave and while the user is not typing or pointing into
         * the window; the update area repaints it right later. */
        if (!(f.sessionFlags & DI_XSESSION_MIRROR) || (f.activity & 6)) return c;
        c.setFlags = full ? DI_XDAMAGE_UPDATE : DI_XDAMAGE_UPDATE | DI_XDAMAGE_RECOLOUR;
    }
    c.install = 1;
    c.setFlags |= DI_XDAMAGE_MIRRORED;
    /* GDI fills in one colour: tiles and stipples stay with the buffer. */
    c.fills = f.fillStyle == FB_FILL_SOLID;
    return c;
}

int diXBufferPixel(const FbBuffer* b, int32_t x, int32_t y, uint32_t* pixel) {
    if (!b || !b->bits || x < 0 || y < 0 || x >= b->width || y >= b->height) return 0;
    const uint32_t bpp = b->bytesPerPixel;
    if (bpp < 1 || bpp > 4 || uint64_t(b->stride) < uint64_t(uint32_t(b->width)) * bpp) return 0;
    const uint8_t* p =
        b->bits + size_t(b->height - 1 - y) * b->stride + size_t(uint32_t(x)) * bpp;
    uint32_t v = 0;
    for (uint32_t i = 0; i < bpp; i++)
        v |= uint32_t(p[i]) << (8 * i);
    *pixel = v;
    return 1;
}
