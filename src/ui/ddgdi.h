/* Graphics wrappers: cursors and the pen and brush caches. */
#ifndef HV_DDGDI_H
#define HV_DDGDI_H

#include "dd.h"

void ddGDILoadCursors(void);
void ddGDIShutdown(void);
void ddGDIPurgeObjectCaches(void);

#endif
