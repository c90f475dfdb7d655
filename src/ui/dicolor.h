/* The portable half of the device colour map: allocation of its 256 entries
 * by exact or tolerant match, private entries behind X colour cells, and the
 * colour cube used for matching. The Windows half (palette, DIB colour
 * table, system colours) adds to the same record. */
#ifndef HV_DICOLOR_H
#define HV_DICOLOR_H

#include "didep.h"

enum : uint32_t {
    DI_COLOR_SHARED = 1,  /* shareable entry in use */
    DI_COLOR_PRIVATE = 2, /* entry private to an X colour cell */
    DI_COLOR_FAILED = 4,  /* cell flag: no entry could be had */
    DI_COLOR_SYSTEM = 8,  /* reserved system colour */
    DI_COLOR_ENTRIES = 256,
    DI_COLOR_MAX_CUBE = 6, /* the cube index table holds 6 x 6 x 6 */
};

struct DiColorEntry {
    uint8_t red, green, blue;
    uint32_t flags; /* 0 free */
};

/* An X colour cell: what was asked for, what the entry holds. */
struct DdColorCell {
    uint8_t reqRed, reqGreen, reqBlue;
    uint8_t red, green, blue;
    uint32_t index;
    uint32_t flags;
    /* The ordered dither's cache of the actual colour: quotient and
     * remainder of each channel by the cube step (valid while the map's
     * changed flag is clear). */
    uint8_t quotRed, remRed, quotGreen, remGreen, quotBlue, remBlue;
};

struct DdColorMap {
    DdColorCell* cells;    /* 256, owned */
    DiColorEntry* entries; /* 256, owned */
    int32_t freeCount;
    int32_t cubeSize;
    int32_t depth;
    int32_t tolerance;
    uint32_t cube[DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE * DI_COLOR_MAX_CUBE];
    void* palette;   /* Windows half: logical palette, owned */
    void* dibTarget; /* Windows half: device context, not owned */
    /* Set whenever a cell or entry changes: the dither's cell cache is
     * stale. `ditherTables` names the dither tables the cache was made
     * with (a rebuild of the tables makes it stale too). */
    uint8_t changed;
    uint32_t ditherTables;
};

/* The tables must be allocated (zeroed) before; -1 arguments ask for the
 * defaults of the depth. Returns 0, or -1 for an unknown depth or a cube that
 * does not fit the index table. */
int diColorMapInit(DdColorMap* map, int32_t depth, int32_t cubeSize, int32_t tolerance);
void diColorMapFree(DdColorMap* map);
/* colour is 0x00BBGGRR. Returns the entry index or -1. */
int diColorAllocEntry(DdColorMap* map, uint32_t colour, uint32_t start, int32_t tolerance,
                      uint32_t flags);
void diColorFreeEntry(DdColorMap* map, uint32_t index);
/* 1 when the cell got a private entry, else 0 (flags tell whether it failed). */
int diColorAllocCell(DdColorMap* map, DdColorCell* cell, uint32_t colour);

/* Windows half: reserves the system's static colours (depths below 9). */
void ddColorReserveSystemColors(DdColorMap* map);

#endif
