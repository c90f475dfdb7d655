/* The GDI mirror's decisions, as plain values: whether a graphics context's
 * drawing on a window is repeated through GDI straight onto the screen, with
 * which damage flags, and the pixel its colour is read back from. The
 * Windows side (ddxmirror) acts on them. */
#ifndef HV_DIXMIRROR_H
#define HV_DIXMIRROR_H

#include "fb/fb.h"

#include <cstdint>

/* GC damage flags the mirror reads and writes (the engine sets 2, 4, 8). */
enum : uint32_t {
    DI_XDAMAGE_UPDATE = 0x1,   /* report damage to the update area (late repaint) */
    DI_XDAMAGE_EXPOSE = 0x2,   /* report damage to the exposure area */
    DI_XDAMAGE_PAINT = 0x4,    /* paint exposures after every request */
    DI_XDAMAGE_MIRROR_OK = 0x8, /* the GC may be mirrored */
    DI_XDAMAGE_MIRRORED = 0x10, /* the mirror vector is active */
    DI_XDAMAGE_RECOLOUR = 0x20, /* read the colour back after every request */
};

/* Session flag: the server allows inexact mirroring. */
enum : uint32_t { DI_XSESSION_MIRROR = 0x1 };

/* What the choice depends on, as the Windows side finds it. */
struct DiXMirrorFacts {
    uint32_t xDepth;      /* the display's X depth */
    uint32_t screenBits;  /* bits per pixel of the screen */
    uint32_t planeMask, fgClass, function, fillStyle;
    uint32_t gcMode;      /* bit 0: paint exposures */
    uint32_t sessionFlags;
    uint32_t activity;    /* the window's: 2 typing, 4 pointer */
    int dither;           /* the display shows dithered colours */
};

struct DiXMirrorChoice {
    int install;          /* put the mirror vector in */
    int fills;            /* also mirror filled rectangles and polygons */
    uint32_t setFlags;    /* damage flags added */
    uint32_t clearFlags;  /* damage flags removed */
};

/* The choice for a GC that may be mirrored (flag 8 set, no scaling, a
 * window that is not the root in multi-window mode). */
DiXMirrorChoice diXMirrorChoose(const DiXMirrorFacts& f);

/* The pixel at (x, y) of a bottom-up buffer of 1 to 4 bytes per pixel.
 * Returns 0, leaving *pixel alone, when the point lies outside it or the
 * buffer has no pixels to read. */
int diXBufferPixel(const FbBuffer* b, int32_t x, int32_t y, uint32_t* pixel);

#endif
