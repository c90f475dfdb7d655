/* The channel framework and the display-engine manager. */
#ifndef HV_DIDE_H
#define HV_DIDE_H

#include "di.h"

/* The display-engine manager: hosts one engine channel and the progress
 * window of its launch. The Windows half adds its view. */
struct DiDEManager {
    DiObject hdr;
    DiChannel* channel;
    DiObject* progress;
};

/* Services of the session layer. */
int diSOIsLaunchDialogPending();

#endif
