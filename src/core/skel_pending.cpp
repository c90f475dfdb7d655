/* Stand-ins for functions whose modules are being written on other
 * branches (routes, the password cache). Each does the least its
 * callers in start-up and shut-down rely on; the real modules replace them. */
#include "core/ddapp.h"
#include "net/dicrypt.h"
#include "net/diroute.h"

#include <stdlib.h>

void diRouteInit(DiRoute* route, uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls) {
    route->kind = kind;
    route->host = diAppStrDup(host ? host : u"");
    route->port = port & 0xFFFF;
    route->tls = tls;
    route->credentialKind = 0;
    route->credentials = nullptr;
}

void diRouteFree(DiRoute* route) {
    free(route->host);
    free(route->proxyReply);
    route->host = route->proxyReply = nullptr;
}

bool diCryptLookupCachedLogin(const DiChar*, DiChar**, DiChar**) {
    return false;
}
bool diCryptStoreCachedLogin(const DiChar*, const DiChar*, const DiChar*) {
    return false;
}
