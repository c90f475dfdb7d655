/* Connection route hops (the record the default routes use). */
#ifndef HV_DIROUTE_H
#define HV_DIROUTE_H

#include "di.h"

struct DiRouteCredentials;

struct DiRoute {
    uint32_t kind; /* 0/1 target server, 2 HTTP proxy, 3 SOCKS 5, 4 tunnel */
    DiChar* host;  /* owned; empty text when none */
    uint32_t port;
    uint32_t credentialKind;
    DiRouteCredentials* credentials; /* owned */
    DiChar* proxyReply;              /* owned */
    uint32_t cached;
    uint32_t tls;
    DiChar label[256];
};

/* Fills a route record; the host is copied (empty text when none). */
void diRouteInit(DiRoute* route, uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls);
/* Frees host, proxy reply and credentials (not the record). */
void diRouteFree(DiRoute* route);

#endif
