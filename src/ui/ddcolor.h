/* Device colour maps on Windows: the logical palette behind the portable
 * entry table, the colour table of a DIB section kept equal to it, and the
 * system's static colours reserved at their system positions. */
#ifndef HV_DDCOLOR_H
#define HV_DDCOLOR_H

#include "dd.h"
#include "ui/dicolor.h"

/* A map of the depth (4, 8, 12, 15, 16, 24 or 32) with its identity palette;
 * -1 asks for the depth's default cube size or tolerance. NULL, with nothing
 * left allocated, on any failure. */
DdColorMap* ddColorMapCreate(int32_t depth, int32_t cubeSize, int32_t tolerance);
void ddColorMapDestroy(DdColorMap* map);
/* The device context whose DIB colour table follows the map (NULL none). */
void ddColorMapSetDIBTarget(DdColorMap* map, HDC dc);
/* Copies the entries into the palette and the DIB colour table; static
 * colours stay collapsible, every other entry is PC_NOCOLLAPSE. */
void ddColorUpdatePalette(DdColorMap* map);
int ddColorAlloc(DdColorMap* map, uint32_t colour, uint32_t start, int32_t tolerance,
                 uint32_t flags);
int ddColorAllocXColor(DdColorMap* map, DdColorCell* cell, uint32_t colour);
/* The cell at `index`, NULL beyond the table. */
DdColorCell* ddColorMapCell(DdColorMap* map, uint32_t index);
inline uint32_t ddColorPixel(uint32_t pixel) {
    return pixel;
}

inline HPALETTE ddColorMapPalette(const DdColorMap* map) {
    return static_cast<HPALETTE>(map->palette);
}

/* The palette of the application's default colour map (NULL when there is
 * none, as on true-colour screens). */
HPALETTE ddColorDefaultPalette();

/* Where the static colours come from: the system palette and the reserved
 * count of the screen. Tests replace it (NULL goes back to the screen). */
typedef int (*DdColorSystemPaletteFn)(PALETTEENTRY entries[256], int32_t* reserved);
void ddColorSetSystemPaletteSource(DdColorSystemPaletteFn fn);

#endif
