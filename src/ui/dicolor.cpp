/* Colour allocation (see dicolor.h). */
#include "ui/dicolor.h"

#include <stdlib.h>

static uint32_t diColorRGB(uint32_t r, uint32_t g, uint32_t b) {
    return r | g << 8 | b << 16;
}

int diColorMapInit(DdColorMap* map, int32_t depth, int32_t cubeSize, int32_t tolerance) {
    int32_t entries = 256, defCube = 0, defTol = 0;
    switch (depth) {
    case 4:
        entries = 16, defCube = 2, defTol = 25;
        break;
    case 8:
        defCube = 6, defTol = 11;
        break;
    case 12:
    case 15:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return -1;
    }
    if (cubeSize == -1) cubeSize = defCube;
    if (tolerance == -1) tolerance = defTol;
    /* A cube of fewer than two levels has no step between levels. */
    if (cubeSize < 2) cubeSize = 0;
    if (cubeSize > int32_t(DI_COLOR_MAX_CUBE)) return -1;
    map->freeCount = entries;
    map->changed = 1;
    map->cubeSize = cubeSize;
    map->depth = depth;
    map->tolerance = tolerance;
    if (depth < 9) ddColorReserveSystemColors(map);
    if (cubeSize == 0) return 0;
    uint32_t step = 255 / uint32_t(cubeSize - 1);
    for (int32_t b = 0; b < cubeSize; b++)
        for (int32_t g = 0; g < cubeSize; g++)
            for (int32_t r = 0; r < cubeSize; r++) {
                int idx = diColorAllocEntry(map, diColorRGB(r * step, g * step, b * step), 0, 0,
                                            DI_COLOR_SHARED);
                map->cube[(b * cubeSize + g) * cubeSize + r] = idx < 0 ? 0 : uint32_t(idx);
            }
    return 0;
}

void diColorMapFree(DdColorMap* map) {
    free(map->cells);
    map->cells = nullptr;
    free(map->entries);
    map->entries = nullptr;
}

static int32_t diColorDiff(uint8_t a, uint32_t b) {
    return abs(int32_t(a) - int32_t(b & 0xFF));
}

int diColorAllocEntry(DdColorMap* map, uint32_t colour, uint32_t start, int32_t tolerance,
                      uint32_t flags) {
    if (start >= DI_COLOR_ENTRIES) return -1;
    int best = -1, firstFree = -1;
    int32_t bestSum = 0;
    for (uint32_t i = start; i < DI_COLOR_ENTRIES; i++) {
        DiColorEntry* e = &map->entries[i];
        if (e->flags == 0) {
            if (firstFree < 0) firstFree = int(i);
            continue;
        }
        if (tolerance < 0 || !(e->flags & DI_COLOR_SHARED)) continue;
        int32_t dr = diColorDiff(e->red, colour), dg = diColorDiff(e->green, colour >> 8),
                db = diColorDiff(e->blue, colour >> 16);
        if (dr > tolerance || dg > tolerance || db > tolerance) continue;
        int32_t sum = dr + dg + db;
        if (best < 0 || sum < bestSum) best = int(i), bestSum = sum;
    }
    if (best >= 0) return best;
    if (map->freeCount <= 0 || firstFree < 0) return -1;
    DiColorEntry* e = &map->entries[firstFree];
    e->red = uint8_t(colour);
    e->green = uint8_t(colour >> 8);
    e->blue = uint8_t(colour >> 16);
    e->flags = flags;
    map->freeCount--;
    return firstFree;
}

void diColorFreeEntry(DdColorMap* map, uint32_t index) {
    if (index >= DI_COLOR_ENTRIES) return;
    /* Freeing a free entry twice must not make the count claim room that is
     * not there. */
    if (map->entries[index].flags == 0) return;
    map->entries[index].flags = 0;
    map->freeCount++;
    map->changed = 1;
}

int diColorAllocCell(DdColorMap* map, DdColorCell* cell, uint32_t colour) {
    if (cell->flags & DI_COLOR_PRIVATE) diColorFreeEntry(map, cell->index);
    int idx = diColorAllocEntry(map, colour, 0, map->tolerance, DI_COLOR_PRIVATE);
    map->changed = 1;
    cell->reqRed = uint8_t(colour);
    cell->reqGreen = uint8_t(colour >> 8);
    cell->reqBlue = uint8_t(colour >> 16);
    if (idx < 0) {
        cell->red = cell->reqRed;
        cell->green = cell->reqGreen;
        cell->blue = cell->reqBlue;
        cell->flags = DI_COLOR_FAILED;
        cell->index = 0;
        return 0;
    }
    const DiColorEntry* e = &map->entries[idx];
    cell->red = e->red;
    cell->green = e->green;
    cell->blue = e->blue;
    cell->index = uint32_t(idx);
    cell->flags = e->flags & 3;
    return (e->flags & DI_COLOR_PRIVATE) ? 1 : 0;
}
