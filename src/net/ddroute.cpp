/* The platform side of routes: bounded waits on a blocking socket, and the
 * route and URL services that the dialogs reach through their hooks. */
#include "net/ddroute.h"

#include "net/ddnet.h"
#include "net/dihttp.h"
#include "net/diroute.h"
#include "ui/dddlg.h"

#include <stdlib.h>
#include <string.h>

int ddNetWaitReadable(DdSocket* s, uint32_t timeoutMs) {
    if (!ddNetIsOpen(s)) return -1;
    fd_set rd, ex;
    FD_ZERO(&rd);
    FD_ZERO(&ex);
    FD_SET(SOCKET(s->handle), &rd);
    FD_SET(SOCKET(s->handle), &ex);
    timeval tv = {long(timeoutMs / 1000), long(timeoutMs % 1000) * 1000};
    int r = select(0, &rd, nullptr, &ex, &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r == 0) return 0;
    /* An exceptional condition alone is an error; readable includes a close. */
    return FD_ISSET(SOCKET(s->handle), &rd) ? 1 : -1;
}

int ddNetPeek(DdSocket* s, void* buf, int len) {
    if (!ddNetIsOpen(s) || s->tls) return -1;
    int n = recv(SOCKET(s->handle), static_cast<char*>(buf), len, MSG_PEEK);
    if (n != SOCKET_ERROR) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

void ddNetSetRecvTimeout(DdSocket* s, uint32_t timeoutMs) {
    if (!ddNetIsOpen(s)) return;
    DWORD ms = timeoutMs;
    setsockopt(SOCKET(s->handle), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
               sizeof ms);
}

namespace {

bool hookDescribe(DiRoute* route, DiChar* out, size_t size) {
    return diRouteDescribe(route, out, size) > 0;
}

const DiChar* hookUser(DiRoute* route) {
    return route && route->credentials ? route->credentials->user : nullptr;
}

bool hookCached(DiRoute* route) {
    return route && route->cached;
}

void hookSetCredentials(DiRoute* route, const DiChar* user, const DiChar* password) {
    diRouteSetCredentials(route, user, password);
}

void hookSetCached(DiRoute* route, bool cached) {
    if (route) route->cached = cached ? 1 : 0;
}

bool hookIsWebUrl(const DiChar* url) {
    int scheme = 0;
    DiChar* host = nullptr;
    int port = 0;
    bool ok = diHTTPParseURL(url, &scheme, &host, &port) == 0;
    free(host);
    return ok;
}

} // namespace

void ddRouteInstallDialogHooks() {
    g_ddDlgHooks.routeDescribe = hookDescribe;
    g_ddDlgHooks.routeUser = hookUser;
    g_ddDlgHooks.routeCached = hookCached;
    g_ddDlgHooks.routeSetCredentials = hookSetCredentials;
    g_ddDlgHooks.routeSetCached = hookSetCached;
    g_ddDlgHooks.isWebUrl = hookIsWebUrl;
}
