/* The progress window of a launch, as the portable layer sees it. */
#ifndef HV_DIPROG_H
#define HV_DIPROG_H

#include "di.h"

DiObject* ddProgCreate(DiObject* parent, int32_t w, int32_t h, DdGC* gc);
void ddProgDestroy(DiObject* progress);
int ddProgIsExpanded(DiObject* progress);
void diProgSetState(DiObject* progress, int32_t state, const DiChar* detail);

#endif
