/* Graphics wrappers, Windows side. */
#ifndef HV_DDGDI_H
#define HV_DDGDI_H

#include "dd.h"
#include "ui/digdi.h"

struct DdFontMetrics {
    int32_t averageWidth;
    int32_t height;
    int32_t ascent;
    int32_t descent;
};

/* Binds a context to a window and its device context. */
void ddGDIAttach(DdGC* gc, HWND hwnd, HDC hdc);
void ddGDIDetach(DdGC* gc);
int ddGDIGetFontMetrics(DdGC* gc, DiGDIFont* font, DdFontMetrics* out);

#endif
