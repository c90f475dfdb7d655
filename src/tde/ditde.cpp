/* Terminal engine: binding and keep-alive (see ditde.h). */
#include "tde/ditde.h"

void diTDEBindChannel(DiChannel* ch, DiObject* owner, DdGC* gc, DdSocket* s) {
    diDEChannelSetContext(ch, owner, gc, s);
}

int diTAIPSendKeepAlive(DiChannel* ch) {
    static const uint8_t msg[3] = {DI_TAIP_KEEPALIVE, 0, 0};
    return diIOWriteMessage(&ch->out, ch->socket, msg, sizeof msg);
}
