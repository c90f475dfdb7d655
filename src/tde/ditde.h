/* The terminal display engine as the rest of the client sees it: its channel
 * constructor, binding and keep-alive. The engine itself is built later; the
 * channel carries no terminal state yet. */
#ifndef HV_DITDE_H
#define HV_DITDE_H

#include "core/dide.h"

/* The terminal engine's input and output buffer limit. */
enum : uint32_t { DI_TDE_BUFFER_LIMIT = 16384, DI_TAIP_KEEPALIVE = 45 };

struct DiTDE {
    DiChannel ch;
};

void diTDEBindChannel(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s);
/* Writes one keep-alive message (type 45, empty payload): 0 or -1. */
int diTAIPSendKeepAlive(DiChannel* ch);

#endif
