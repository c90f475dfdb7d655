/* Stand-in for the local listener until it accepts helpers: the channel of
 * type 13 is a bare channel whose socket listens on 127.0.0.1, so that the
 * port file and the "drxport" parameter carry a real port, and nothing is
 * accepted. The listener's own module replaces this file. */
#include "core/dide.h"
#include "net/ddnet.h"
#include "session/diso.h"

#include <stdlib.h>

DiChannel* ddListenerChannelCreate(DdSocket* s) {
    DiChannel* ch = static_cast<DiChannel*>(calloc(1, sizeof(DiChannel)));
    if (!ch) return nullptr;
    diDEChannelInit(ch, DI_OBJ_LISTENER, 0, 0);
    diChannelAttachConnection(ch, s);
    return ch;
}

void ddListenerChannelDestroy(DiChannel* ch) {
    diDEChannelFree(ch);
    free(ch);
}

int32_t diListenerOpen(DiChannel* ch) {
    if (!ch || !ch->socket || ddNetSocketOpen(ch->socket, 1, 0) != 0) return -1;
    return ddNetListenLocal(ch->socket, 0);
}
