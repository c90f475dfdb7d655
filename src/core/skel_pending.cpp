/* Stand-ins for functions whose modules are being written on other
 * branches (graphics, colour maps, monitors, dialogs, routes, the password
 * cache). Each does the least its
 * callers in start-up and shut-down rely on; the real modules replace them. */
#include "core/ddapp.h"
#include "net/dicrypt.h"
#include "net/diroute.h"
#include "ui/ddcolor.h"
#include "ui/dicolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"

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

/* A colour map needs only to exist for start-up to go on. */
DdColorMap* ddColorMapCreate(int, int, int) {
    return static_cast<DdColorMap*>(calloc(1, sizeof(DdColorMap)));
}

void ddColorMapDestroy(DdColorMap* map) {
    free(map);
}

void ddMultiMonEnumerate(void) {}
void ddGDILoadCursors(void) {}
void ddGDIShutdown(void) {}
void ddGDIPurgeObjectCaches(void) {}

void ddDlgConsoleAppend(const wchar_t*) {}
int ddDlgPasswordCache(DiChar**, DiChar**, DiChar**) {
    return 0;
}

bool diCryptLookupCachedLogin(const DiChar*, DiChar**, DiChar**) {
    return false;
}
bool diCryptStoreCachedLogin(const DiChar*, const DiChar*, const DiChar*) {
    return false;
}
