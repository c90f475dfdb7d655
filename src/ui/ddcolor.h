/* Device colour maps. */
#ifndef HV_DDCOLOR_H
#define HV_DDCOLOR_H

#include "dd.h"

/* The colour map for a depth (-1: default cube size and tolerance); none on
 * failure. */
DdColorMap* ddColorMapCreate(int depth, int cubeSize, int tolerance);
void ddColorMapDestroy(DdColorMap* map);

#endif
