/* Channel framework. */
#ifndef HV_DIDE_H
#define HV_DIDE_H

#include "di.h"

/* Destroys a channel; returns the channel count after removal. */
int diDEDestroyChannel(DiChannel* channel);

#endif
