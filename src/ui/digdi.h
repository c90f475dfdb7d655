/* Graphics contexts and fonts as the portable layer sees them. */
#ifndef HV_DIGDI_H
#define HV_DIGDI_H

#include "di.h"

struct DdFont;

struct DdFontMetrics {
    int32_t averageWidth;
    int32_t height;
    int32_t ascent;
    int32_t descent;
};

DdGC* ddGDICreateGC();
void ddGDIFreeGC(DdGC* gc);
void ddGDISetFunction(DdGC* gc, uint32_t function);
void ddGDISetForeground(DdGC* gc, uint32_t colour);
void ddGDISetBackground(DdGC* gc, uint32_t colour);
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h);
/* Returns the font object selected before. */
DdFont* ddGDISelectFont(DdGC* gc, DdFont* font);
int ddGDIGetFontMetrics(DdGC* gc, DdFont* font, DdFontMetrics* metrics);
/* Options: bit 0 single line, bit 1 vertical centring, bit 2 word break. */
void ddGDIDrawText(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h, const DiChar* text,
                   uint32_t options);
/* A use of the cached font of these properties, or none. */
DdFont* diGDIFindFont(DdGC* gc, const DiChar* face, int32_t width, int32_t height, int bold,
                      int eastEuropean);
void diGDIReleaseFont(DdGC* gc, DdFont* font);

#endif
