/* Device colour maps on Windows. GUI thread only. */
#include "ui/ddcolor.h"

#include "core/ddapp.h"
#include "ui/ddgdi.h"

#include <stdlib.h>
#include <string.h>

/* The static colours of a 16-colour screen, red, green, blue. */
static const uint8_t kFixed16[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

static DdColorSystemPaletteFn s_systemPalette;

void ddColorSetSystemPaletteSource(DdColorSystemPaletteFn fn) {
    s_systemPalette = fn;
}

/* Reads the screen's system palette and reserved count. A screen without a
 * palette has no system palette to read; its static colours are those of
 * the stock default palette (half at the start, half at the end). */
static int ddColorScreenPalette(PALETTEENTRY entries[256], int32_t* reserved) {
    memset(entries, 0, 256 * sizeof(PALETTEENTRY));
    HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (!dc) return -1;
    *reserved = GetDeviceCaps(dc, NUMRESERVED);
    UINT got = GetSystemPaletteEntries(dc, 0, 256, entries);
    DeleteDC(dc);
    if (got == 256) return 0;
    PALETTEENTRY stock[20];
    UINT n =
        GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, stock);
    if (n != 20) return -1;
    memcpy(entries, stock, 10 * sizeof(PALETTEENTRY));
    memcpy(entries + 246, stock + 10, 10 * sizeof(PALETTEENTRY));
    if (*reserved > 20) *reserved = 20;
    return 0;
}

static uint32_t ddColorOf(const PALETTEENTRY& e) {
    return e.peRed | (e.peGreen << 8) | (e.peBlue << 16);
}

void ddColorReserveSystemColors(DdColorMap* map) {
    PALETTEENTRY system[256];
    int32_t reserved = 0;
    if (map->depth == 4) {
        memset(system, 0, sizeof(system));
        for (int i = 0; i < 8; i++) {
            system[i] = {kFixed16[i][0], kFixed16[i][1], kFixed16[i][2], 0};
            system[248 + i] = {kFixed16[8 + i][0], kFixed16[8 + i][1], kFixed16[8 + i][2], 0};
        }
        reserved = 16;
    } else {
        int rc = s_systemPalette ? s_systemPalette(system, &reserved)
                                 : ddColorScreenPalette(system, &reserved);
        if (rc != 0) return;
    }
    if (reserved <= 0) return;
    if (reserved > 256) reserved = 256;
    int32_t half = reserved / 2;
    const uint32_t flags = DI_COLOR_SHARED | DI_COLOR_SYSTEM;
    for (int32_t i = 0; i < half; i++)
        diColorAllocEntry(map, ddColorOf(system[i]), 0, -1, flags);
    for (int32_t i = 0; i < half; i++)
        diColorAllocEntry(map, ddColorOf(system[256 - half + i]), 256 - half, -1, flags);
}

DdColorMap* ddColorMapCreate(int32_t depth, int32_t cubeSize, int32_t tolerance) {
    HPALETTE palette = ddGDICreateIdentityPalette();
    if (!palette) return nullptr;
    DdColorMap* map = static_cast<DdColorMap*>(calloc(1, sizeof(DdColorMap)));
    if (map) {
        map->palette = palette;
        map->cells = static_cast<DdColorCell*>(calloc(DI_COLOR_ENTRIES, sizeof(DdColorCell)));
        map->entries = static_cast<DiColorEntry*>(calloc(DI_COLOR_ENTRIES, sizeof(DiColorEntry)));
        if (map->cells && map->entries && diColorMapInit(map, depth, cubeSize, tolerance) == 0) {
            ddColorUpdatePalette(map);
            return map;
        }
        diColorMapFree(map);
        free(map);
    }
    DeleteObject(palette);
    return nullptr;
}

void ddColorMapDestroy(DdColorMap* map) {
    if (!map) return;
    diColorMapFree(map);
    if (map->palette) DeleteObject(static_cast<HPALETTE>(map->palette));
    free(map);
}

void ddColorMapSetDIBTarget(DdColorMap* map, HDC dc) {
    map->dibTarget = dc;
}

void ddColorUpdatePalette(DdColorMap* map) {
    PALETTEENTRY pal[DI_COLOR_ENTRIES];
    RGBQUAD dib[DI_COLOR_ENTRIES];
    for (uint32_t i = 0; i < DI_COLOR_ENTRIES; i++) {
        const DiColorEntry& e = map->entries[i];
        pal[i].peRed = e.red;
        pal[i].peGreen = e.green;
        pal[i].peBlue = e.blue;
        /* Static colours may collapse onto the system's; every other entry
         * needs its own system slot for the palette to be an identity. */
        pal[i].peFlags = (e.flags & DI_COLOR_SYSTEM) ? 0 : PC_NOCOLLAPSE;
        dib[i].rgbBlue = e.blue;
        dib[i].rgbGreen = e.green;
        dib[i].rgbRed = e.red;
        dib[i].rgbReserved = 0;
    }
    SetPaletteEntries(static_cast<HPALETTE>(map->palette), 0, DI_COLOR_ENTRIES, pal);
    if (map->dibTarget)
        SetDIBColorTable(static_cast<HDC>(map->dibTarget), 0, DI_COLOR_ENTRIES, dib);
}

int ddColorAlloc(DdColorMap* map, uint32_t colour, uint32_t start, int32_t tolerance,
                 uint32_t flags) {
    return diColorAllocEntry(map, colour, start, tolerance, flags);
}

int ddColorAllocXColor(DdColorMap* map, DdColorCell* cell, uint32_t colour) {
    return diColorAllocCell(map, cell, colour);
}

DdColorCell* ddColorMapCell(DdColorMap* map, uint32_t index) {
    return index < DI_COLOR_ENTRIES ? &map->cells[index] : nullptr;
}

HPALETTE ddColorDefaultPalette() {
    return g_ddApp && g_ddApp->colorMap ? ddColorMapPalette(g_ddApp->colorMap) : nullptr;
}
