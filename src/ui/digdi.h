/* Portable half of the graphics wrappers: the process-wide font cache.
 * A font is shared by every context that asks for the same face, size,
 * weight and character set; the Windows layer makes and deletes the
 * platform object behind it. */
#ifndef HV_DIGDI_H
#define HV_DIGDI_H

#include "core/diutil.h"
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

/* What the portable layer calls of the graphics contexts (Windows layer). */
DdGC* ddGDICreateGC();
void ddGDIFreeGC(DdGC* gc);
void ddGDISetFunction(DdGC* gc, uint32_t function);
void ddGDISetForeground(DdGC* gc, uint32_t colour);
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h);

/* Formats with "%N$" markers into `buffer` of `size` units. Texts from the
 * server are formatted here, so the output is bounded: it is cut to the
 * buffer and always NUL-terminated (size > 0). Returns the units written, or
 * -1 when the text was cut. */
int diUtilSPrintf(DiChar* buffer, size_t size, const DiChar* format, const DiFmtArg* args,
                  size_t count);
inline int diUtilSPrintf(DiChar* buffer, size_t size, const DiChar* format,
                         std::initializer_list<DiFmtArg> args) {
    return diUtilSPrintf(buffer, size, format, args.begin(), args.size());
}

#endif
