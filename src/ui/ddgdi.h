/* Graphics wrappers, Windows side. */
#ifndef HV_DDGDI_H
#define HV_DDGDI_H

#include "dd.h"

/* Binds a context to a window and its device context. */
void ddGDIAttach(DdGC* gc, HWND hwnd, HDC hdc);
void ddGDIDetach(DdGC* gc);

#endif
