/* Routes, credentials and the hop chain (see diroute.h). */
#include "net/diroute.h"

#include "core/diapp.h"
#include "core/diutil.h"
#include "net/dicrypt.h"
#include "net/dinet.h"
#include "net/disocks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

uint32_t diRouteWaitMs = 30000;

namespace {

void wipeFree(DiChar* s) {
    if (!s) return;
    memset(s, 0, diAppStrLen(s) * sizeof(DiChar));
    free(s);
}

/* 8-bit form: the low byte of each unit. */
char* lowBytes(const DiChar* s) {
    size_t n = diAppStrLen(s);
    char* d = static_cast<char*>(malloc(n + 1));
    if (!d) return nullptr;
    for (size_t i = 0; i < n; ++i) d[i] = char(s[i] & 0xFF);
    d[n] = 0;
    return d;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ciCompare(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

void diRouteInit(DiRoute* route, uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls) {
    memset(route, 0, sizeof *route);
    route->kind = kind;
    route->host = diAppStrDup(host ? host : u"");
    route->port = port & 0xFFFF;
    route->tls = tls;
}

void diRouteDropCredentials(DiRoute* route) {
    DiRouteCredentials* c = route->credentials;
    if (!c) return;
    wipeFree(c->user);
    wipeFree(c->password);
    if (c->base64) {
        memset(c->base64, 0, strlen(c->base64));
        free(c->base64);
    }
    free(c);
    route->credentials = nullptr;
}

void diRouteFree(DiRoute* route) {
    if (!route) return;
    free(route->host);
    free(route->proxyReply);
    route->host = route->proxyReply = nullptr;
    diRouteDropCredentials(route);
}

char* diRouteBase64Credentials(const DiChar* user, const DiChar* password) {
    size_t a = diAppStrLen(user), b = diAppStrLen(password), n = a + 1 + b;
    uint8_t* raw = static_cast<uint8_t*>(malloc(n));
    char* out = static_cast<char*>(malloc((n + 2) / 3 * 4 + 1));
    if (!raw || !out) {
        free(raw);
        free(out);
        return nullptr;
    }
    for (size_t i = 0; i < a; ++i) raw[i] = uint8_t(user[i]);
    raw[a] = ':';
    for (size_t i = 0; i < b; ++i) raw[a + 1 + i] = uint8_t(password[i]);
    size_t o = 0;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = uint32_t(raw[i]) << 16;
        if (i + 1 < n) v |= uint32_t(raw[i + 1]) << 8;
        if (i + 2 < n) v |= raw[i + 2];
        out[o++] = kBase64[(v >> 18) & 63];
        out[o++] = kBase64[(v >> 12) & 63];
        out[o++] = i + 1 < n ? kBase64[(v >> 6) & 63] : '=';
        out[o++] = i + 2 < n ? kBase64[v & 63] : '=';
    }
    out[o] = 0;
    memset(raw, 0, n);
    free(raw);
    return out;
}

void diRouteSetCredentials(DiRoute* route, const DiChar* user, const DiChar* password) {
    if (!route || route->credentialKind != 1) return;
    diRouteDropCredentials(route);
    DiRouteCredentials* c = static_cast<DiRouteCredentials*>(calloc(1, sizeof *c));
    if (!c) return;
    c->userEmpty = !user || !user[0];
    c->passwordEmpty = !password || !password[0];
    c->user = diAppStrDup(user ? user : u"");
    c->password = diAppStrDup(password ? password : u"");
    if (route->kind == DI_ROUTE_HTTP && c->user && c->password)
        c->base64 = diRouteBase64Credentials(c->user, c->password);
    if (!c->user || !c->password || (route->kind == DI_ROUTE_HTTP && !c->base64)) {
        route->credentials = c;
        diRouteDropCredentials(route);
        return;
    }
    route->credentials = c;
}

static int describe(const DiRoute* route, DiChar* out, size_t size, bool withLabel) {
    if (!out || !size) return 0;
    out[0] = 0;
    if (!route) return 0;
    static const DiChar* const plain[] = {u"server %s:%d", u"server %s:%d", u"HTTP proxy %s:%d",
                                          u"SOCKS proxy %s:%d", u"QVLP proxy %s:%d"};
    static const DiChar* const labelled[] = {u"(%s) server %s:%d", u"(%s) server %s:%d",
                                             u"HTTP proxy %s at %s:%d", u"SOCKS proxy %s at %s:%d",
                                             u"QVLP proxy %s at %s:%d"};
    uint32_t k = route->kind <= 4 ? route->kind : 1;
    DiChar buf[DI_ROUTE_DESCRIPTION + 1];
    const DiChar* host = route->host ? route->host : u"";
    int port = int(route->port & 0xFFFF);
    if (withLabel && route->label[0])
        diFormatPositional(buf, DI_COUNTOF(buf), labelled[k], {route->label, host, port});
    else
        diFormatPositional(buf, DI_COUNTOF(buf), plain[k], {host, port});
    size_t n = diAppStrLen(buf);
    if (n > size - 1) n = size - 1;
    memcpy(out, buf, n * sizeof(DiChar));
    out[n] = 0;
    return int(n);
}

int diRouteDescribe(const DiRoute* route, DiChar* out, size_t size) {
    return describe(route, out, size, true);
}

int diRouteDescribeKey(const DiRoute* route, DiChar* out, size_t size) {
    return describe(route, out, size, false);
}

void diRouteLoadCachedCredentials(DiRoute* route) {
    DiChar key[DI_ROUTE_DESCRIPTION + 1];
    diRouteDescribeKey(route, key, DI_COUNTOF(key));
    DiChar* user = nullptr;
    DiChar* password = nullptr;
    if (!diCryptLookupCredentials(key, &user, &password)) return;
    route->credentialKind = 1;
    route->cached = 1;
    diRouteSetCredentials(route, user, password);
    wipeFree(user);
    wipeFree(password);
}

int diRouteSaveCachedCredentials(DiRoute* route) {
    DiRouteCredentials* c = route->credentials;
    if (route->credentialKind != 1 || !route->cached || !c || !c->user || !c->user[0]) return 1;
    DiChar key[DI_ROUTE_DESCRIPTION + 1];
    diRouteDescribeKey(route, key, DI_COUNTOF(key));
    return diCryptStoreCredentials(key, c->user, c->password);
}

int diRouteForgetCachedCredentials(DiRoute* route) {
    DiChar key[DI_ROUTE_DESCRIPTION + 1];
    diRouteDescribeKey(route, key, DI_COUNTOF(key));
    return diCryptStorePassword(key, u"", nullptr, 0);
}

int diRouteAskCredentials(DiRoute* route, DiObject* owner) {
    route->credentialKind = 1;
    if (!ddDlgServerAuthentication(owner, route, 1)) return 0;
    if (route->cached) {
        int stored = diRouteSaveCachedCredentials(route);
        if (stored != 1) ddDlgPasswordNotRemembered(owner, stored);
        route->cached = 0;
    } else {
        diRouteForgetCachedCredentials(route);
    }
    return 1;
}

int diRouteGetCredentials(DiRoute* route, DiChar** user, DiChar** password, int useCache) {
    *user = *password = nullptr;
    diRouteDropCredentials(route);
    if (useCache) diRouteLoadCachedCredentials(route);
    if (!route->credentials && !diRouteAskCredentials(route, nullptr)) return 0;
    if (!route->credentials) return 0;
    *user = diAppStrDup(route->credentials->user);
    *password = diAppStrDup(route->credentials->password);
    if (*user && *password) return 1;
    free(*user);
    free(*password);
    *user = *password = nullptr;
    return 0;
}

int diRouteProxyCredentials(const DiChar* host, uint32_t port, DiChar** user, DiChar** password,
                            int ask) {
    DiRoute r;
    diRouteInit(&r, DI_ROUTE_HTTP, host, port, 0);
    diRouteLoadCachedCredentials(&r);
    int ok = 0;
    if (!r.credentials && ask) diRouteAskCredentials(&r, nullptr);
    if (r.credentials) {
        *user = diAppStrDup(r.credentials->user);
        *password = diAppStrDup(r.credentials->password);
        ok = *user && *password;
    }
    diRouteFree(&r);
    return ok;
}

/* --- Route strings ------------------------------------------------------- */

DiRoute* diRouteParseOne(const DiChar* spec, size_t len) {
    /* Split into at most four ':' parts; a fifth makes it invalid. */
    size_t start[5], end[5], parts = 0, s = 0;
    for (size_t i = 0; i <= len; ++i) {
        if (i < len && spec[i] != u':') continue;
        if (parts == 4) return nullptr;
        start[parts] = s;
        end[parts++] = i;
        s = i + 1;
    }
    if (parts < 3) return nullptr;
    auto is = [&](size_t p, const char* word) {
        size_t n = strlen(word);
        if (end[p] - start[p] != n) return false;
        for (size_t i = 0; i < n; ++i)
            if (spec[start[p] + i] != DiChar(word[i])) return false;
        return true;
    };
    uint32_t kind;
    if (is(0, "CTSOCKS"))
        kind = DI_ROUTE_SOCKS;
    else if (is(0, "CTQVLP"))
        kind = DI_ROUTE_TUNNEL;
    else
        return nullptr;
    if (end[1] == start[1]) return nullptr;
    /* Digits only, 1-65535: "70000" and "1080x" are not ports. */
    uint32_t port = 0;
    if (end[2] == start[2] || end[2] - start[2] > 5) return nullptr;
    for (size_t i = start[2]; i < end[2]; ++i) {
        if (spec[i] < u'0' || spec[i] > u'9') return nullptr;
        port = port * 10 + uint32_t(spec[i] - u'0');
    }
    if (port < 1 || port > 65535) return nullptr;
    uint32_t tls = 0;
    if (parts == 4) {
        if (!is(3, "ssl")) return nullptr;
        tls = 1;
    }
    DiChar* host = static_cast<DiChar*>(malloc((end[1] - start[1] + 1) * sizeof(DiChar)));
    DiRoute* r = static_cast<DiRoute*>(calloc(1, sizeof(DiRoute)));
    if (!host || !r) {
        free(host);
        free(r);
        return nullptr;
    }
    memcpy(host, spec + start[1], (end[1] - start[1]) * sizeof(DiChar));
    host[end[1] - start[1]] = 0;
    diRouteInit(r, kind, host, port, tls);
    free(host);
    if (!r->host) {
        free(r);
        return nullptr;
    }
    return r;
}

int diRouteParseSpec(DiRouteChain* chain, const DiChar* spec, size_t len) {
    DiRoute* r = diRouteParseOne(spec, len);
    if (!r) return 0;
    diRouteLoadCachedCredentials(r);
    if (!diRouteChainAdd(chain, r)) {
        diRouteFree(r);
        free(r);
        return 0;
    }
    return 1;
}

int diRouteChainParse(DiRouteChain* chain, const DiChar* text) {
    size_t len = diAppStrLen(text), s = 0;
    for (size_t i = 0; i <= len; ++i) {
        if (i < len && text[i] != u'@') continue;
        if (!diRouteParseSpec(chain, text + s, i - s)) return 0;
        s = i + 1;
    }
    return 1;
}

/* --- Chains -------------------------------------------------------------- */

void diRouteChainInit(DiRouteChain* chain, DdSocket* socket, uint32_t flags) {
    memset(chain, 0, sizeof *chain);
    chain->socket = socket;
    chain->flags = flags;
}

void diRouteChainFree(DiRouteChain* chain, uint32_t flags) {
    DiRouteNode* n = chain->first;
    while (n) {
        DiRouteNode* next = n->next;
        if (n->route && (flags & 2)) {
            diRouteSaveCachedCredentials(n->route);
            n->route->cached = 0;
        }
        if (n->route && (flags & 1)) {
            diRouteFree(n->route);
            free(n->route);
        }
        free(n);
        n = next;
    }
    chain->first = chain->last = nullptr;
}

int diRouteChainAdd(DiRouteChain* chain, DiRoute* route) {
    if (!route) return 0;
    if (chain->last && (!chain->last->route || chain->last->route->kind <= DI_ROUTE_SERVER))
        return 0;
    DiRouteNode* n = static_cast<DiRouteNode*>(calloc(1, sizeof *n));
    if (!n) return 0;
    n->route = route;
    n->prev = chain->last;
    if (chain->last)
        chain->last->next = n;
    else
        chain->first = n;
    chain->last = n;
    return 1;
}

int diRouteChainCount(const DiRouteChain* chain) {
    int n = 0;
    for (DiRouteNode* p = chain->first; p; p = p->next) ++n;
    return n;
}

static bool routeInUse(const DiRoute* r, uint32_t flag) {
    return flag && r && r->host && r->host[0];
}

static bool isException(const DiRoute* target) {
    return g_ddApp && g_ddApp->proxyExceptions &&
           diWildcardMatchList(target->host, g_ddApp->proxyExceptions, u';', 0);
}

int diRouteNeedsProxy(const DiRoute* target, uint32_t baseRoutes) {
    if (g_ddApp && !isException(target) &&
        (routeInUse(g_ddApp->opt.httpProxyRoute, g_ddApp->httpProxyInUse) ||
         routeInUse(g_ddApp->opt.socksRoute, g_ddApp->socksInUse)))
        return 1;
    if (baseRoutes) {
        DiRouteChain* base = diSOGetBaseRoute();
        if (base && base->first) return 1;
    }
    return 0;
}

int diRouteChainBuild(DiRouteChain* chain, DiRoute* target) {
    DiRoute* proxy = nullptr;
    if (g_ddApp && !isException(target)) {
        DiRoute* http = routeInUse(g_ddApp->opt.httpProxyRoute, g_ddApp->httpProxyInUse)
                            ? g_ddApp->opt.httpProxyRoute
                            : nullptr;
        DiRoute* socks =
            routeInUse(g_ddApp->opt.socksRoute, g_ddApp->socksInUse) ? g_ddApp->opt.socksRoute
                                                                      : nullptr;
        proxy = diSOIsFirewallTraversal() ? (http ? http : socks) : (socks ? socks : http);
    }
    bool ok = true;
    if (proxy) ok = diRouteChainAdd(chain, proxy) != 0;
    if (ok && (chain->flags & 1)) {
        DiRouteChain* base = diSOGetBaseRoute();
        for (DiRouteNode* n = base ? base->first : nullptr; n && ok; n = n->next)
            ok = diRouteChainAdd(chain, n->route) != 0;
    }
    if (ok) ok = diRouteChainAdd(chain, target) != 0;
    if (!ok) diRouteReportError(nullptr, DI_HOP_MISCONFIGURED, nullptr);
    return ok ? 1 : 0;
}

void diRouteChainDropTargetTls(DiRouteChain* chain) {
    DiRoute* target = chain->last ? chain->last->route : nullptr;
    if (!target || !target->tls) return;
    for (DiRouteNode* n = chain->first; n && n != chain->last; n = n->next) {
        if (n->route && n->route->tls) {
            target->tls = 0;
            chain->droppedTls = 1;
            return;
        }
    }
}

/* --- Reports ------------------------------------------------------------- */

void diRouteReportError(const DiRoute* route, int code, const DiRoute* next) {
    int message;
    bool withNext = false, withReply = false;
    switch (code) {
    case DI_HOP_UNREACHABLE:
        message = 257;
        break;
    case DI_HOP_NETWORK:
        message = 258;
        break;
    case DI_HOP_METHOD:
    case DI_HOP_UNSUPPORTED:
        message = 263;
        break;
    case DI_HOP_REFUSED:
        message = 260;
        withNext = true;
        break;
    case DI_HOP_FAILED:
        withReply = route && route->proxyReply && route->proxyReply[0];
        message = withReply ? 266 : 259;
        withNext = true;
        break;
    case DI_HOP_MULTI_TLS:
        message = 272;
        break;
    case DI_HOP_TLS:
        message = 273;
        break;
    case DI_HOP_MISCONFIGURED:
        message = 274;
        break;
    default:
        message = 265;
        break;
    }
    DiChar format[1024], a[DI_ROUTE_DESCRIPTION + 1], b[DI_ROUTE_DESCRIPTION + 1], text[2048];
    if (ddResLoadMessage(message, format, int(DI_COUNTOF(format))) <= 0) format[0] = 0;
    diRouteDescribe(route, a, DI_COUNTOF(a));
    diRouteDescribe(next, b, DI_COUNTOF(b));
    if (withReply)
        diFormatPositional(text, DI_COUNTOF(text), format, {a, b, route->proxyReply});
    else if (withNext)
        diFormatPositional(text, DI_COUNTOF(text), format, {a, b});
    else
        diFormatPositional(text, DI_COUNTOF(text), format, {a});
    diSOSetLastError(text);
}

/* --- Blocking exchange ---------------------------------------------------- */

int diRouteSendAll(DdSocket* s, const void* bytes, size_t n) {
    const char* p = static_cast<const char*>(bytes);
    while (n > 0) {
        int chunk = n > 0x10000 ? 0x10000 : int(n);
        int w = ddNetSend(s, p, chunk);
        if (w <= 0) return DI_HOP_NETWORK;
        p += w;
        n -= size_t(w);
    }
    return 0;
}

int diRouteRecvSome(DdSocket* s, void* buf, size_t n) {
    /* The chain's socket blocks with a bounded receive (diRouteWaitMs), so a
     * read normally waits by itself; a socket that reports it would block is
     * waited for here, once, within the same bound. */
    int len = n > 0x10000 ? 0x10000 : int(n);
    int r = ddNetRecv(s, buf, len);
    if (r >= 0) return r;
    if (s->error != DD_NET_ERR_WOULD_BLOCK) return -1;
    int w = ddNetWaitReadable(s, diRouteWaitMs);
    if (w == 0) return -2;
    if (w < 0) return -1;
    r = ddNetRecv(s, buf, len);
    return r < 0 ? -1 : r;
}

int diRouteRecvExact(DdSocket* s, void* buf, size_t n) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        int r = diRouteRecvSome(s, p, n);
        if (r <= 0) return DI_HOP_NETWORK;
        p += r;
        n -= size_t(r);
    }
    return 0;
}

/* --- The HTTP proxy hop -------------------------------------------------- */

bool diRouteHostIsSafe(const DiChar* host) {
    size_t n = diAppStrLen(host);
    if (n == 0 || n > DI_ROUTE_MAX_FIELD) return false;
    for (size_t i = 0; i < n; ++i)
        if (host[i] <= 0x20 || host[i] == 0x7F || host[i] > 0xFF) return false;
    return true;
}

bool diRouteBasicRealm(const char* value, size_t len, DiChar* out, size_t size) {
    size_t i = 0;
    while (i < len && (value[i] == ' ' || value[i] == '\t')) ++i;
    if (len - i < 5 || ciCompare(value + i, "basic", 5) != 0) return false;
    i += 5;
    if (i < len && value[i] != ' ' && value[i] != '\t') return false;
    while (i < len && (value[i] == ' ' || value[i] == '\t')) ++i;
    /* The token up to the first quote must be "realm=". */
    if (len - i < 7 || ciCompare(value + i, "realm=\"", 7) != 0) {
        if (size) out[0] = 0;
        return true; /* Basic without a realm: no label */
    }
    size_t q = i + 6, e = q + 1;
    while (e < len && value[e] != '"') ++e;
    size_t n = e < len ? e - q + 1 : len - q;
    if (n > 255) n = 255;
    if (n > size - 1) n = size - 1;
    for (size_t k = 0; k < n; ++k) out[k] = DiChar(uint8_t(value[q + k]));
    out[n] = 0;
    return true;
}

int diRouteParseConnectReply(DiRoute* hop, const char* reply, size_t len, int32_t* socketError) {
    int status = -1;
    if (len >= 4 && memcmp(reply, "HTTP", 4) == 0) {
        size_t i = 0;
        while (i < len && reply[i] != ' ' && reply[i] != '\r' && reply[i] != '\n') ++i;
        if (i < len && reply[i] == ' ') {
            ++i;
            int v = 0, digits = 0;
            while (i < len && reply[i] >= '0' && reply[i] <= '9' && digits < 4) {
                v = v * 10 + (reply[i++] - '0');
                ++digits;
            }
            if (digits) status = v;
        }
    }
    size_t lineEnd = 0;
    while (lineEnd < len && reply[lineEnd] != '\r' && reply[lineEnd] != '\n') ++lineEnd;
    /* Some proxies answer refused credentials with 401 and a
     * "WWW-Authenticate:" challenge instead of 407: from the proxy that was
     * asked to CONNECT, it is the same request for credentials. */
    if (status == 407 || status == 401) {
        const char* header = status == 407 ? "Proxy-Authenticate:" : "WWW-Authenticate:";
        const size_t h = strlen(header);
        bool other = false;
        for (size_t p = lineEnd; p < len;) {
            while (p < len && (reply[p] == '\r' || reply[p] == '\n')) ++p;
            size_t e = p;
            while (e < len && reply[e] != '\r' && reply[e] != '\n') ++e;
            if (e - p > h && ciCompare(reply + p, header, h) == 0) {
                DiChar label[256];
                if (diRouteBasicRealm(reply + p + h, e - p - h, label, DI_COUNTOF(label))) {
                    memcpy(hop->label, label, sizeof label);
                    return DI_HOP_CREDENTIALS;
                }
                other = true;
            }
            p = e;
        }
        (void)other;
        if (status == 407) {
            if (socketError) *socketError = DD_NET_ERR_PROXY_SCHEME;
            return DI_HOP_UNSUPPORTED;
        }
    }
    if (status >= 200 && status <= 299) return 0;
    free(hop->proxyReply);
    hop->proxyReply = nullptr;
    if (lineEnd > 0) {
        DiChar* line = static_cast<DiChar*>(malloc((lineEnd + 1) * sizeof(DiChar)));
        if (line) {
            for (size_t k = 0; k < lineEnd; ++k) line[k] = DiChar(uint8_t(reply[k]));
            line[lineEnd] = 0;
        }
        hop->proxyReply = line;
    }
    return DI_HOP_FAILED;
}

/* The end of the blank line that ends a reply head in buf[0..n), searching
 * from `from`; 0 when there is none yet. */
static size_t headEnd(const char* buf, size_t n, size_t from) {
    for (size_t i = from; i < n; ++i) {
        if (buf[i] != '\n') continue;
        if (i >= 1 && buf[i - 1] == '\n') return i + 1;
        if (i >= 3 && buf[i - 1] == '\r' && buf[i - 2] == '\n' && buf[i - 3] == '\r') return i + 1;
    }
    return 0;
}

/* Reads a reply head up to its blank line and not beyond (what follows
 * belongs to the next hop), at most max bytes: true when the blank line was
 * read. Where the socket can be looked into, the head is taken in a few
 * reads; otherwise one byte at a time. */
static bool readReplyHead(DdSocket* s, char* reply, size_t max, size_t* got) {
    size_t n = 0;
    while (n < max) {
        if (!s->tls) {
            int k = ddNetPeek(s, reply + n, int(max - n));
            if (k == -2) {
                if (ddNetWaitReadable(s, diRouteWaitMs) != 1) break;
                k = ddNetPeek(s, reply + n, int(max - n));
            }
            if (k < 0) break;
            if (k > 0) {
                size_t end = headEnd(reply, n + size_t(k), n > 3 ? n - 3 : 0);
                size_t take = end ? end - n : size_t(k);
                if (diRouteRecvExact(s, reply + n, take) != 0) break;
                n += take;
                if (end) {
                    *got = n;
                    return true;
                }
                continue;
            }
            break; /* closed */
        }
        int k = diRouteRecvSome(s, reply + n, 1);
        if (k <= 0) break;
        n++;
        if (headEnd(reply, n, n - 1)) {
            *got = n;
            return true;
        }
    }
    *got = n;
    return false;
}

static int httpHop(DiRouteChain* chain, DiRoute* hop, DiRoute* next) {
    /* Only the plain-HTTP fetch talks to the proxy itself (an absolute URL
     * in its GET); every other connection is announced with CONNECT. */
    if (!(chain->flags & 1) && next->kind == DI_ROUTE_WEB_SERVER && !next->tls) return 0;
    if (!diRouteHostIsSafe(next->host)) return DI_HOP_NETWORK;
    char* host = lowBytes(next->host);
    if (!host) return DI_HOP_NETWORK;
    const char* auth = hop->credentialKind == 1 && hop->credentials ? hop->credentials->base64 : nullptr;
    size_t size = strlen(host) + (auth ? strlen(auth) : 0) + 96;
    char* request = static_cast<char*>(malloc(size));
    if (!request) {
        free(host);
        return DI_HOP_NETWORK;
    }
    int n = auth ? snprintf(request, size,
                            "CONNECT %s:%d HTTP/1.0\r\nProxy-Authorization: Basic %s\r\n\r\n", host,
                            int(next->port & 0xFFFF), auth)
                 : snprintf(request, size, "CONNECT %s:%d HTTP/1.0\r\n\r\n", host,
                            int(next->port & 0xFFFF));
    free(host);
    int r = diRouteSendAll(chain->socket, request, size_t(n));
    memset(request, 0, size);
    free(request);
    if (r != 0) return DI_HOP_NETWORK;
    char reply[2048];
    size_t got = 0;
    bool complete = readReplyHead(chain->socket, reply, sizeof reply - 1, &got);
    if (got == 0) {
        chain->socket->error = DD_NET_ERR_PROXY_NO_REPLY;
        return DI_HOP_NETWORK;
    }
    int code = diRouteParseConnectReply(hop, reply, got, &chain->socket->error);
    /* A success whose headers did not end would leave them for the next hop. */
    if (code == 0 && !complete) return DI_HOP_NETWORK;
    return code;
}

/* --- Running ------------------------------------------------------------- */

int diRouteNegotiateHop(DiRouteChain* chain, DiRoute* current, DiRoute* next) {
    if (!current || !next) {
        diRouteReportError(current, DI_HOP_NETWORK, next);
        return DI_HOP_NETWORK;
    }
    if (current->tls) {
        if (ddNetStartTlsClient(chain->socket, 1, current->host) != 0) {
            diRouteReportError(current, DI_HOP_TLS, next);
            return DI_HOP_TLS;
        }
        ddNetSetBlocking(chain->socket, 1);
    }
    int r;
    switch (current->kind) {
    case DI_ROUTE_HTTP:
        r = httpHop(chain, current, next);
        break;
    case DI_ROUTE_SOCKS: {
        DiSocksContext ctx;
        diSOCKSInit(&ctx, current, chain->socket);
        diSOCKSNegotiate(&ctx, next);
        r = ctx.result;
        diSOCKSFree(&ctx);
        break;
    }
    case DI_ROUTE_TUNNEL: {
        DiSocksContext ctx;
        diSOCKSInit(&ctx, current, chain->socket);
        r = diSOCKSSendTunnelRequest(&ctx, next);
        diSOCKSFree(&ctx);
        break;
    }
    default:
        diRouteReportError(current, DI_HOP_KIND, next);
        return DI_HOP_KIND;
    }
    if (r == 0 || r == DI_HOP_CREDENTIALS) return r;
    /* A refusal or a failed authentication with credentials may be the
     * credentials' fault: ask again (placeholders are simply replaced). */
    if ((r == DI_HOP_REFUSED || r == DI_HOP_AUTH_FAILED) && current->credentialKind == 1 &&
        current->credentials) {
        DiRouteCredentials* c = current->credentials;
        if (c->userEmpty || c->passwordEmpty) return DI_HOP_CREDENTIALS;
        DiChar a[DI_ROUTE_DESCRIPTION + 1], b[DI_ROUTE_DESCRIPTION + 1];
        diRouteDescribe(current, a, DI_COUNTOF(a));
        diRouteDescribe(next, b, DI_COUNTOF(b));
        DiChar format[1024], caption[1024], text[2048];
        if (ddResLoadMessage(269, format, int(DI_COUNTOF(format))) <= 0) format[0] = 0;
        diFormatPositional(caption, DI_COUNTOF(caption), format, {a});
        if (ddResLoadMessage(270, format, int(DI_COUNTOF(format))) <= 0) format[0] = 0;
        diFormatPositional(text, DI_COUNTOF(text), format, {a, b, a});
        return diSOAskYesNo(chain->socket->owner, caption, text) ? DI_HOP_CREDENTIALS
                                                                  : DI_HOP_DECLINED;
    }
    diRouteReportError(current, r, next);
    return r;
}

/* Runs the chain over its socket; the caller holds the socket. */
static int runChain(DiRouteChain* chain) {
    DdSocket* s = chain->socket;
    int tlsHops = 0;
    for (DiRouteNode* n = chain->first; n; n = n->next)
        if (n->route && n->route->tls) tlsHops++;
    if (tlsHops >= 2) {
        diRouteReportError(nullptr, DI_HOP_MULTI_TLS, nullptr);
        return -7;
    }
    if (!chain->first || !chain->first->route) return -7;
    for (;;) {
        DiRoute* first = chain->first->route;
        if (ddNetConnectDirect(s, first->host, uint16_t(first->port)) != 0) {
            diRouteReportError(first, DI_HOP_UNREACHABLE, nullptr);
            ddNetSocketClose(s);
            return -7;
        }
        ddNetSetBlocking(s, 1);
        ddNetSetRecvTimeout(s, diRouteWaitMs);
        int r = 0;
        DiRoute* asking = nullptr;
        for (DiRouteNode* n = chain->first; n->next; n = n->next) {
            r = diRouteNegotiateHop(chain, n->route, n->next->route);
            if (r != 0) {
                asking = n->route;
                break;
            }
        }
        /* A hop may have asked the user: its owner may have given the
         * socket up meanwhile. */
        if (s->destroyed) return -8;
        if (r == 0) {
            ddNetSetRecvTimeout(s, 0);
            ddNetSetBlocking(s, 0);
            return 0;
        }
        ddNetSocketClose(s);
        if (r == DI_HOP_DECLINED) return -8;
        if (r != DI_HOP_CREDENTIALS) return -7;
        asking->credentialKind = 1;
        if (!asking->credentials) {
            /* First try without asking: many proxies accept empty ones. */
            diRouteSetCredentials(asking, nullptr, nullptr);
            if (!asking->credentials) return -7;
        } else if (!diRouteAskCredentials(asking, s->owner) || s->destroyed) {
            s->error = DD_NET_ERR_PROXY_CANCELLED;
            return -8;
        }
        if (ddNetSocketOpen(s, int(s->flags & 1), int((s->flags >> 1) & 1)) != 0) {
            diRouteReportError(first, DI_HOP_UNREACHABLE, nullptr);
            return -7;
        }
    }
}

/* The hops' dialogs run modal loops in which timers and the socket's owner
 * still run. The socket is held for the whole run, so that an owner that
 * destroys it meanwhile leaves it readable until the run has seen that and
 * stopped. */
int diRouteChainRun(DiRouteChain* chain) {
    diNetHold(chain->socket);
    int r = runChain(chain);
    diNetRelease(chain->socket);
    return r;
}
