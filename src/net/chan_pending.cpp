/* Stand-ins for the TLS layer and the route hop chains until they are
 * built: no socket carries a TLS session, and every target is direct. */
#include "net/ddtls.h"

int ddTLSRead(DdSocket* s, void*, int) {
    s->error = DD_NET_ERR_FAILED;
    return -1;
}

int ddTLSWrite(DdSocket* s, const void*, int) {
    s->error = DD_NET_ERR_FAILED;
    return -1;
}

void ddTLSShutdown(DdSocket*) {}

int diRouteNeedsProxy(const DiChar*, uint16_t, uint32_t) {
    return 0;
}
