/* Stand-ins for the TLS layer until it is built: no socket carries a TLS
 * session, and starting one fails. */
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

/* TLS towards a hop or a web server: no session can be started yet. */
int ddNetStartTlsClient(DdSocket* s, uint32_t, const DiChar*) {
    s->error = DD_NET_ERR_FAILED;
    return -1;
}

int ddNetStartTls(DdSocket* s, uint32_t, const DiChar*, int) {
    s->error = DD_NET_ERR_FAILED;
    return -1;
}
