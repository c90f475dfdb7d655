/* Graphics contexts as the portable layer sees them. */
#ifndef HV_DIGDI_H
#define HV_DIGDI_H

#include "di.h"

DdGC* ddGDICreateGC();
void ddGDIFreeGC(DdGC* gc);
void ddGDISetFunction(DdGC* gc, uint32_t function);
void ddGDISetForeground(DdGC* gc, uint32_t colour);
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h);

#endif
