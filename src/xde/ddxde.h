/* The Windows side of an X display: the device record behind the engine's
 * DdXDeviceVector and the points where the key and bit-plane helpers join. */
#ifndef HV_DDXDE_H
#define HV_DDXDE_H

#include "dd.h"

#include "fb/fbdither.h"
#include "xde/dixde.h"

/* Display flag: the session clipboard is available. */
enum : uint32_t { DI_XFLAG_SESSION_CLIPBOARD = 0x200 };

/* The display record: the engine's, then the Windows side's. */
struct DdXDisplay {
    DiXDisplay x;
    uint32_t ownChange; /* seamless: the engine's own Windows calls under way */
    HBITMAP rootBitmap;  /* the DIB section of the root's buffer, or none */
    HDC rootDC;          /* memory DC holding it */
    HGDIOBJ rootOldBitmap;
    HPALETTE rootOldPalette;
    HPALETTE palette;    /* the installed colormap's, or none */
    /* Dither mode (screens of 8 bits or fewer): the X pixels live in their
     * own buffer and the routine converts painted boxes into the 8-bit DIB
     * through the colormap's device map. */
    uint8_t* ditherPixels;
    void (*dither)(DdColorMap* map, const FbDitherImage* im, int32_t x, int32_t y, int32_t w,
                   int32_t h);
    DdColorMap* ditherMap;
    struct DdXMirror* mirror; /* pixel colours (ddxmirror), or none */
    HWND view; /* the view this side made for the display, or none */
    /* The session clipboard asked for by "Print Session Clipboard": its
     * contents are to be printed when they arrive, not copied. */
    uint32_t printOnArrival;
    /* Multi-window frames: their X ids bottom to top as last seen (0 past
     * the end), the pending stacking check, and whether the user is moving
     * or sizing one of them. */
    uint32_t stack[256];
    DiTimer* stackTimer;
    int32_t sizeMove;
};

struct DdXColormapRecord {
    DiXColormap c;
    DdColorMap* map; /* the device colour map with its palette, owned */
};

struct DdXCursorRecord {
    DiXCursor c;
    HCURSOR handle;
};

struct DdXWindowRecord {
    DiXWindow w;
    HICON icon; /* the frame's icon, or none */
    uint32_t mapped;  /* shown at least once (the first show raises it) */
    int32_t sizeMove; /* the user is moving or sizing its frame */
};

/* The device table every display uses (filled once, below the engine). */
const DdXDeviceVector* ddXDeviceVector();
/* The record sizes that table wants. */
const DdXRecordSizes* ddXRecordSizes();

/* The display whose view or frame has the keyboard focus, or none. */
extern DiXDisplay* g_ddXFocusedDisplay;

/* Installs the X slots of g_ddXHooks (engineSurface); start-up calls it. */
void ddXDEInstallHooks();

/* Cursor bit planes: fills the AND and XOR planes (cx x cy, 1 bit per
 * pixel, rows padded to 16 bits) from a 1-bit cursor's mask and source bits.
 * Returns 0, or -1 when the cursor cannot be shown (32-bit cursors among
 * them): the standard shape then stays. */
int ddXCursorPlanes(const DiXCursor* cursor, const uint8_t* mask, const uint8_t* source,
                    int32_t cx, int32_t cy, uint8_t* andPlane, uint8_t* xorPlane);
/* A 1-bit cursor in its foreground and background colours (the request's
 * values as GDI colours, red in the low byte) from the planes
 * ddXCursorPlanes filled: a shown source bit takes the foreground, a shown
 * clear one the background, and hidden pixels leave the screen as it is.
 * Null when a bitmap or the cursor cannot be made. */
HCURSOR ddXCursorFromPlanes(const DiXCursor* cursor, int32_t cx, int32_t cy,
                            const uint8_t* andPlane, const uint8_t* xorPlane);
/* A 32-bit cursor from its width x height ARGB pixels (top row first, as
 * bytes in memory order, alpha in the high byte), at its own size with its
 * hot spot. Null when a bitmap or the cursor cannot be made. */
HCURSOR ddXCursorFromARGB(const DiXCursor* cursor, const uint8_t* pixels);

#endif
