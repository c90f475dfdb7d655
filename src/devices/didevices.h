/* Device redirection services the core calls (portable side). */
#ifndef HV_DIDEVICES_H
#define HV_DIDEVICES_H

#include "di.h"

/* Frees the IO request channel's reassembly table and its buffers. */
void diIOFreeStreams(void);

#endif
