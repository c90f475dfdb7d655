/* Monitors. */
#ifndef HV_DDMULTIMON_H
#define HV_DDMULTIMON_H

#include "dd.h"

/* Refreshes the monitor data of the application. */
void ddMultiMonEnumerate(void);

#endif
