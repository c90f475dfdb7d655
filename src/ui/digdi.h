/* Portable half of the graphics wrappers: the process-wide font cache.
 * A font is shared by every context that asks for the same face, size,
 * weight and character set; the Windows layer makes and deletes the
 * platform object behind it. */
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
 * one made by ddGDICreateFont; NULL when none can be made. */
DiGDIFont* diGDIFindFont(DdGC* gc, const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                         uint32_t eastEuropean);
/* Lowers the use count; at zero the font is unlinked and destroyed. */
void diGDIReleaseFont(DdGC* gc, DiGDIFont* font);

/* Building blocks for the platform layer: a new unlinked font record with
 * use count 1 and a copy of the face (NULL when out of memory), appending it
 * to the cache, and freeing an unlinked record. */
DiGDIFont* diGDIFontNew(const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                        uint32_t eastEuropean);
void diGDIFontAppend(DiGDIFont* font);
void diGDIFontFreeRecord(DiGDIFont* font);
/* Head of the cache (tests and shut-down). */
DiGDIFont* diGDIFontList();

/* Implemented by the platform layer. ddGDICreateFont makes the platform font
 * for a new record and appends it to the cache; ddGDIDeleteFont unlinks the
 * record, deletes the platform font and frees the record. */
DiGDIFont* ddGDICreateFont(DdGC* gc, const DiChar* face, int32_t width, int32_t height,
                           uint32_t bold, uint32_t eastEuropean);
void ddGDIDeleteFont(DdGC* gc, DiGDIFont* font);
void diGDIFontUnlink(DiGDIFont* font);

#endif
