/* The login-dialog protocol that runs on a channel's connection before the
 * channel's own protocol. */
#ifndef HV_DILAIP_H
#define HV_DILAIP_H

#include "di.h"

/* Ends the channel's pending login-dialog exchange. */
void diLAIPFreeDialogState(DiChannel* ch);

#endif
