/* The local listener (channel type 13) on Windows sockets: it listens on
 * 127.0.0.1 and hands every connection from this computer to the outpost,
 * which makes a helper connection of it. The listener never reads or
 * writes data of its own. */
#include "core/dide.h"
#include "core/dilog.h"
#include "net/ddnet.h"
#include "session/diso.h"

#include <stdlib.h>

static int listenerEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    if (ev->w[0] != DI_EV_ACCEPTED) return 0;
    uint32_t peer = 0;
    DdSocket* s = ddNetAccept(ch->socket, &peer);
    if (!s) return 1;
    const uint8_t* a = reinterpret_cast<const uint8_t*>(&peer); /* network order */
    if (peer == 0 || (a[0] != 127 && !ddNetIsLocalAddress(peer))) {
        ddNetSocketDestroy(s);
        return 1;
    }
    if (g_diOutpost)
        g_diOutpost->AcceptHelper(s);
    else
        ddNetSocketDestroy(s);
    return 1;
}

DiChannel* ddListenerChannelCreate(DdSocket* s) {
    DiChannel* ch = static_cast<DiChannel*>(calloc(1, sizeof(DiChannel)));
    if (!ch) return nullptr;
    diDEChannelInit(ch, DI_OBJ_LISTENER, 0, 0);
    ch->hdr.handler = listenerEvent;
    diChannelAttachConnection(ch, s);
    return ch;
}

void ddListenerChannelDestroy(DiChannel* ch) {
    diDEChannelFree(ch);
    free(ch);
}

int32_t diListenerOpen(DiChannel* ch) {
    if (!ch || !ch->socket || ddNetSocketOpen(ch->socket, 1, 0) != 0) return -1;
    int32_t port = ddNetListenLocal(ch->socket, 0);
    if (port < 0) return -1;
    diNetSetOwner(ch->socket, &ch->hdr);
    ddNetSelectEvents(ch->socket, DD_NET_ACCEPT | DD_NET_CLOSE, DD_NET_ACCEPT | DD_NET_CLOSE);
    return port;
}
