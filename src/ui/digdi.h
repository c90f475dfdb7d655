/* Portable half of the graphics wrappers: the process-wide font cache, and
 * the drawing calls that portable display objects make on their contexts
 * (the Windows layer implements them). */
#ifndef HV_DIGDI_H
#define HV_DIGDI_H

#include "di.h"

/* One shared font. `handle` is the platform font (HFONT on Windows). */
struct DiGDIFont {
    DiGDIFont* next;
    DiGDIFont* prev;
    uint32_t useCount;
    DiChar* face; /* owned copy */
    int32_t width;
    int32_t height; /* character height in pixels */
    uint32_t bold;
    uint32_t eastEuropean;
    void* handle;
};

/* The cached font of that description with its use count raised, or a new
 * one; NULL when none can be made. */
DiGDIFont* diGDIFindFont(DdGC* gc, const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                         uint32_t eastEuropean);
/* Lowers the use count; at zero the font is unlinked and destroyed. */
void diGDIReleaseFont(DdGC* gc, DiGDIFont* font);

DdGC* ddGDICreateGC();
void ddGDIFreeGC(DdGC* gc);
void ddGDISetFunction(DdGC* gc, uint32_t function);
/* Colours are 0x00BBGGRR. */
void ddGDISetForeground(DdGC* gc, uint32_t colour);
void ddGDISetBackground(DdGC* gc, uint32_t colour);
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h);
/* Returns the font selected before. */
DiGDIFont* ddGDISelectFont(DdGC* gc, DiGDIFont* font);
/* Options: bit 0 single line, bit 1 vertical centring, bit 2 word break. */
void ddGDIDrawText(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height,
                   const DiChar* text, uint32_t options);

#endif
