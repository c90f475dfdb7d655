/* The server-information fetch and the URL helpers (see dihttp.h). */
#include "net/dihttp.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "core/diutil.h"
#include "net/dinet.h"
#include "net/diroute.h"
#include "ui/diui.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

DiChar* widen(const char* s, size_t n) {
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    for (size_t i = 0; i < n; ++i) d[i] = DiChar(uint8_t(s[i]));
    d[n] = 0;
    return d;
}

char* narrow(const DiChar* s) {
    size_t n = diAppStrLen(s);
    char* d = static_cast<char*>(malloc(n + 1));
    if (!d) return nullptr;
    for (size_t i = 0; i < n; ++i) d[i] = char(s[i] & 0xFF);
    d[n] = 0;
    return d;
}

const char* const kCgi[3] = {"cgi-bin/qvlwebtop.cgi", "cgi-bin/qvlwebtop.cgi", "cgi-bin/qvlwebtop"};
const char* const kPage[3] = {"resources/login/mrk/qvl/boot/serverinfo.html",
                              "login/boot/serverinfo.html", "login/boot/serverinfo.html"};

void setDefaults(DiHTTPResults* r) {
    free(r->serverDns);
    free(r->connectionHost);
    free(r->baseRoute);
    memset(r, 0, sizeof *r);
    r->asadPort = r->nonSecurePort = -1;
    r->versionMajor = 1;
    r->versionMinor = 1;
    r->versionSub = 0;
    r->versionBuild = 875;
    r->webtopKeepAlive = r->aipKeepAlive = 300;
    r->notifyPendingJobs = 1;
}

/* "%d" that refuses what does not fit: false leaves the result as it was. */
bool readInt(const char* s, size_t n, int32_t* out) {
    size_t i = 0;
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < n && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    int64_t v = 0;
    size_t digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i++] - '0');
        if (++digits > 10 || v > int64_t(INT32_MAX) + 1) return false;
    }
    if (!digits) return false;
    if (neg) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *out = int32_t(v);
    return true;
}

size_t cutAtBlank(const char* s, size_t n) {
    size_t i = 0;
    while (i < n && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n') ++i;
    return i;
}

bool ciEqual(const char* s, size_t n, const char* word) {
    size_t m = strlen(word);
    if (n != m) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

const char* findKey(const char* line, size_t len, const char* key) {
    size_t k = strlen(key);
    for (size_t i = 0; i + k <= len; ++i)
        if (memcmp(line + i, key, k) == 0) return line + i + k;
    return nullptr;
}

void setText(DiChar** slot, const char* v, size_t n) {
    free(*slot);
    *slot = widen(v, cutAtBlank(v, n));
}

bool readBool(const char* v, size_t n) {
    n = cutAtBlank(v, n);
    return ciEqual(v, n, "true") || ciEqual(v, n, "yes") || ciEqual(v, n, "1") ||
           ciEqual(v, n, "on");
}

void closeSocket(DiHTTPClient* c) {
    if (!c->socket) return;
    ddNetSocketDestroy(c->socket);
    c->socket = nullptr;
}

void cancelTimer(DiHTTPClient* c) {
    if (c->timer) diTimerRemove(c->timer);
    c->timer = nullptr;
}

void finish(DiHTTPClient* c) {
    cancelTimer(c);
    closeSocket(c);
    free(c->pending);
    c->pending = nullptr;
    c->pendingLength = 0;
    if (!c->active) return;
    c->active = 0;
    if (c->callback) c->callback(c, c->arg, &c->results);
}

uint32_t onTimer(void* arg) {
    DiHTTPClient* c = static_cast<DiHTTPClient*>(arg);
    c->timer = nullptr; /* the list frees the record when we return 0 */
    finish(c);
    return 0;
}

void resetAttempt(DiHTTPClient* c) {
    cancelTimer(c);
    closeSocket(c);
    free(c->pending);
    c->pending = nullptr;
    c->pendingLength = 0;
    c->lineCount = 0;
    c->lineLength = 0;
    c->lineTooLong = 0;
    c->replyBytes = 0;
    c->status = 0;
    c->challenge = c->otherChallenge = 0;
}

void hold(DiHTTPClient* c) {
    c->holds++;
}

/* Ends one hold: false when the fetch that took it is over, because the
 * client was freed (and now is) or because the fetch ended or another began
 * meanwhile. */
bool release(DiHTTPClient* c, uint32_t fetch) {
    if (--c->holds == 0 && c->freed) {
        free(c);
        return false;
    }
    return !c->freed && c->active && c->fetchCount == fetch;
}

DiRoute* httpProxy() {
    return g_ddApp && g_ddApp->httpProxyInUse ? g_ddApp->opt.httpProxyRoute : nullptr;
}

/* The request goes to the HTTP proxy itself only when the connection's first
 * hop is that proxy: not when the target is an exception and not when the
 * SOCKS proxy is preferred. */
bool firstHopIsHttpProxy(const DiChar* host) {
    DiRoute* http = httpProxy();
    if (!http || !http->host || !http->host[0]) return false;
    if (g_ddApp->proxyExceptions && diWildcardMatchList(host, g_ddApp->proxyExceptions, u';', 0))
        return false;
    DiRoute* socks = g_ddApp->socksInUse ? g_ddApp->opt.socksRoute : nullptr;
    bool socksUsable = socks && socks->host && socks->host[0];
    return diSOIsFirewallTraversal() || !socksUsable;
}

int startAttempt(DiHTTPClient* c, bool retry);

void sendPending(DiHTTPClient* c) {
    while (c->pendingLength && c->socket) {
        int n = ddNetSend(c->socket, c->pending, int(c->pendingLength));
        if (n <= 0) return; /* the writable event goes on */
        memmove(c->pending, c->pending + n, c->pendingLength - uint32_t(n));
        c->pendingLength -= uint32_t(n);
    }
}

void replyEnded(DiHTTPClient* c) {
    closeSocket(c);
    if (c->lineCount == 0) c->status = -1; /* no status line at all */
    if (c->status == 404) {
        if (++c->attempt < 3) {
            resetAttempt(c);
            startAttempt(c, true);
            return;
        }
    } else if (c->status == 407 && c->viaProxy && c->scheme == 0) {
        if (c->challenge) {
            DiRoute* proxy = httpProxy();
            proxy->credentialKind = 1;
            bool ok;
            if (!proxy->credentials) {
                diRouteSetCredentials(proxy, nullptr, nullptr);
                ok = proxy->credentials != nullptr;
            } else {
                /* The attempt's time-out must not end the fetch under the
                 * dialog; the user takes as long as they like. */
                cancelTimer(c);
                uint32_t fetch = c->fetchCount;
                hold(c);
                ok = diRouteAskCredentials(proxy, &c->obj) != 0;
                if (!release(c, fetch)) return;
            }
            if (ok) {
                resetAttempt(c);
                startAttempt(c, true);
                return;
            }
            c->status = -1; /* the user cancelled (socket error 12) */
        } else {
            c->status = -5; /* not Basic (socket error 15) */
        }
    } else {
        if (c->results.asadPort == 0) c->results.asadPort = 3144;
        if (c->results.nonSecurePort == 0) c->results.nonSecurePort = 3144;
    }
    finish(c);
}

int startAttempt(DiHTTPClient* c, bool retry) {
    c->active = 1;
    c->viaProxy = firstHopIsHttpProxy(c->host);
    char* request = diHTTPBuildRequest(c);
    if (!request) {
        c->status = -1;
        /* The callback may free the client: nothing touches it after. */
        if (retry)
            finish(c);
        else
            c->active = 0;
        return -1;
    }
    DdSocket* s = ddNetSocketCreate();
    if (!s || ddNetSocketOpen(s, 1, 1) != 0) {
        if (s) ddNetSocketDestroy(s);
        free(request);
        c->status = -1;
        /* The callback may free the client: nothing touches it after. */
        if (retry)
            finish(c);
        else
            c->active = 0;
        return -1;
    }
    c->socket = s;
    diNetSetOwner(s, &c->obj);
    /* Connecting and the TLS set-up may ask the user. */
    uint32_t fetch = c->fetchCount;
    hold(c);
    int r = diNetConnect(s, c->host, uint16_t(c->port), c->scheme == 1 ? 7u : 4u);
    if (!release(c, fetch)) {
        free(request);
        return -8;
    }
    if (r != 0) {
        free(request);
        int code = (r == -7 || r == -8 || r == -5 || r == -4 || r == -3) ? r : -1;
        c->status = (r == -7 || r == -8) ? r : -1;
        finish(c);
        return code;
    }
    int tls = 0;
    if (c->scheme == 1) {
        hold(c);
        tls = ddNetStartTls(s, 17, c->host, 0);
        if (!release(c, fetch)) {
            free(request);
            return -8;
        }
    }
    if (tls != 0) {
        free(request);
        diLogErrorArgs(209, {c->host});
        c->status = -1;
        if (retry) {
            finish(c);
        } else {
            closeSocket(c);
            c->active = 0;
        }
        return -1;
    }
    c->timer = diTimerAdd(DI_HTTP_TIMEOUT_MS, onTimer, c);
    c->pending = request;
    c->pendingLength = uint32_t(strlen(request));
    ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    sendPending(c);
    if (c->pendingLength)
        ddNetSelectEvents(s, DD_NET_WRITE, DD_NET_WRITE);
    return 0;
}

} // namespace

DiHTTPClient* diHTTPClientAlloc(void) {
    return static_cast<DiHTTPClient*>(calloc(1, sizeof(DiHTTPClient)));
}

void diHTTPClientInit(DiHTTPClient* c) {
    diUIObjectInit(&c->obj, 0, 0, 0);
    c->obj.handler = diHTTPEvent;
    setDefaults(&c->results);
    c->line = static_cast<char*>(malloc(DI_HTTP_MAX_LINE + 1));
}

void diHTTPClientCleanup(DiHTTPClient* c) {
    cancelTimer(c);
    closeSocket(c);
    c->active = 0;
    free(c->pending);
    free(c->host);
    free(c->prefix);
    free(c->requestPath);
    free(c->line);
    c->pending = nullptr;
    c->host = c->prefix = c->requestPath = nullptr;
    c->line = nullptr;
    setDefaults(&c->results);
    free(c->results.serverDns);
    c->results.serverDns = nullptr;
}

void diHTTPClientFree(DiHTTPClient* c) {
    if (!c || c->freed) return;
    diHTTPClientCleanup(c);
    if (c->holds)
        c->freed = 1;
    else
        free(c);
}

char* diHTTPBuildRequest(DiHTTPClient* c) {
    if (!diRouteHostIsSafe(c->host)) return nullptr;
    for (size_t i = 0; c->prefix && c->prefix[i]; ++i)
        if (c->prefix[i] <= 0x20 || c->prefix[i] > 0x7E) return nullptr;
    char* host = narrow(c->host);
    char* prefix = narrow(c->prefix ? c->prefix : u"");
    char* auth = nullptr;
    char query[300] = "";
    DiRoute* proxy = httpProxy();
    if (c->viaProxy && proxy) {
        char* ph = narrow(proxy->host);
        if (ph && diRouteHostIsSafe(proxy->host))
            snprintf(query, sizeof query, "?px=PROXY+%s%%3A%d", ph, int(proxy->port & 0xFFFF));
        free(ph);
        /* Proxy credentials go only to the proxy itself: on the plain GET. */
        if (c->scheme == 0 && proxy->credentialKind == 1 && proxy->credentials)
            auth = proxy->credentials->base64;
    }
    const char* cgi = kCgi[c->attempt];
    const char* page = kPage[c->attempt];
    size_t size = strlen(host) * 2 + strlen(prefix) * 2 + strlen(cgi) + strlen(page) +
                  strlen(query) + (auth ? strlen(auth) : 0) + 256;
    char* path = static_cast<char*>(malloc(size));
    char* request = static_cast<char*>(malloc(size * 2));
    if (!host || !prefix || !path || !request) {
        free(host);
        free(prefix);
        free(path);
        free(request);
        return nullptr;
    }
    bool absolute = c->viaProxy && c->scheme == 0;
    int port = c->port ? int(c->port & 0xFFFF) : 80;
    if (absolute) {
        if (prefix[0])
            snprintf(path, size, "%s://%s:%d/%s/%s/%s/%s%s", "http", host, port, prefix, cgi,
                     prefix, page, query);
        else
            snprintf(path, size, "%s://%s:%d/%s/%s%s", "http", host, port, cgi, page, query);
    } else if (prefix[0]) {
        snprintf(path, size, "/%s/%s/%s/%s%s", prefix, cgi, prefix, page, query);
    } else {
        snprintf(path, size, "/%s/%s%s", cgi, page, query);
    }
    if (auth)
        snprintf(request, size * 2,
                 "GET %s HTTP/1.0\r\nProxy-Authorization: Basic %s\r\nUser-agent: "
                 "Quorvellan/%s %s\r\nHOST: %s\r\nFrom: nobody\r\nConnection: close\r\n\r\n",
                 path, auth, "4.31.953", "Win32", host);
    else
        snprintf(request, size * 2,
                 "GET %s HTTP/1.0\r\nUser-agent: Quorvellan/%s %s\r\nHOST: %s\r\nFrom: "
                 "nobody\r\nConnection: close\r\n\r\n",
                 path, "4.31.953", "Win32", host);
    free(c->requestPath);
    c->requestPath = widen(path, strlen(path));
    free(host);
    free(prefix);
    free(path);
    return request;
}

void diHTTPTakeLine(DiHTTPClient* c, const char* line, size_t len) {
    c->lineCount++;
    if (c->lineCount == 1) {
        c->status = -1;
        if (len >= 4 && memcmp(line, "HTTP", 4) == 0) {
            const char* sp = static_cast<const char*>(memchr(line, ' ', len));
            int32_t v;
            if (sp && readInt(sp + 1, len - size_t(sp + 1 - line), &v)) c->status = v;
        }
        return;
    }
    static const size_t kAuth = 19;
    if (len > kAuth && memcmp(line, "Proxy-Authenticate:", kAuth) == 0) {
        DiChar realm[256];
        if (diRouteBasicRealm(line + kAuth, len - kAuth, realm, DI_COUNTOF(realm))) {
            c->challenge = 1;
            if (DiRoute* proxy = httpProxy()) memcpy(proxy->label, realm, sizeof realm);
        } else {
            c->otherChallenge = 1;
        }
    }
    DiHTTPResults* r = &c->results;
    const char* end = line + len;
    struct IntKey {
        const char* key;
        int32_t* slot;
    } ints[] = {{"AsadPort=", &r->asadPort},
                {"NonSecurePort=", &r->nonSecurePort},
                {"FullScreen=", &r->fullScreen},
                {"WebtopKeepAlive=", &r->webtopKeepAlive},
                {"AIPKeepAlive=", &r->aipKeepAlive},
                {"PrinterSearchMode=", &r->printerSearchMode}};
    for (const IntKey& k : ints)
        if (const char* v = findKey(line, len, k.key)) readInt(v, size_t(end - v), k.slot);
    struct BoolKey {
        const char* key;
        int32_t* slot;
    } bools[] = {{"FirewallTraversal=", &r->firewallTraversal},
                 {"Utf8Strings=", &r->utf8Strings},
                 {"NotifyPendingJobs=", &r->notifyPendingJobs}};
    for (const BoolKey& k : bools)
        if (const char* v = findKey(line, len, k.key)) *k.slot = readBool(v, size_t(end - v));
    if (const char* v = findKey(line, len, "ServerDNS=")) setText(&r->serverDns, v, size_t(end - v));
    if (const char* v = findKey(line, len, "ConnectionHost="))
        setText(&r->connectionHost, v, size_t(end - v));
    if (const char* v = findKey(line, len, "BaseRoute=")) setText(&r->baseRoute, v, size_t(end - v));
    if (const char* v = findKey(line, len, "Version=")) {
        int32_t a, b, cc;
        size_t n = size_t(end - v);
        const char* d1 = static_cast<const char*>(memchr(v, '.', n));
        const char* d2 = d1 ? static_cast<const char*>(memchr(d1 + 1, '.', size_t(end - d1 - 1)))
                            : nullptr;
        if (d1 && d2 && readInt(v, size_t(d1 - v), &a) && readInt(d1 + 1, size_t(d2 - d1 - 1), &b) &&
            readInt(d2 + 1, size_t(end - d2 - 1), &cc)) {
            r->versionMajor = a;
            r->versionMinor = b / 10;
            r->versionSub = b % 10;
            r->versionBuild = cc;
        }
    }
    if (const char* v = findKey(line, len, "ProxyServer=")) {
        /* The whole rest of the line: the pattern has blanks of its own. */
        DiChar* text = widen(v, size_t(end - v));
        if (text && diWildcardMatch(text, u"PROXY * *", 0)) r->proxyRequested = 1;
        free(text);
    }
}

int diHTTPTakeBytes(DiHTTPClient* c, const char* bytes, size_t len, int end) {
    if (!c->line) return 1;
    for (size_t i = 0; i < len; ++i) {
        if (c->replyBytes >= DI_HTTP_MAX_REPLY) {
            end = 1;
            break;
        }
        c->replyBytes++;
        char b = bytes[i];
        if (b == '\r' || b == '\n') {
            if (c->lineTooLong)
                diLogErrorText(u"Server information: a reply line over 4096 bytes was skipped");
            else if (c->lineLength)
                diHTTPTakeLine(c, c->line, c->lineLength);
            c->lineLength = 0;
            c->lineTooLong = 0;
            continue;
        }
        if (c->lineLength < DI_HTTP_MAX_LINE)
            c->line[c->lineLength++] = b;
        else
            c->lineTooLong = 1;
    }
    if (!end) return 0;
    /* The last line counts without a line break. */
    if (!c->lineTooLong && c->lineLength) diHTTPTakeLine(c, c->line, c->lineLength);
    c->lineLength = 0;
    c->lineTooLong = 0;
    return 1;
}

int diHTTPEvent(DiObject* obj, DiEvent* ev) {
    DiHTTPClient* c = reinterpret_cast<DiHTTPClient*>(obj);
    if (!c->socket) return 1;
    switch (ev->w[0]) {
    case DI_EV_WRITABLE:
        sendPending(c);
        if (!c->pendingLength) ddNetSelectEvents(c->socket, DD_NET_WRITE, 0);
        return 1;
    case DI_EV_READABLE:
    case DI_EV_CLOSED: {
        char buf[4096];
        for (;;) {
            int n = ddNetRecv(c->socket, buf, sizeof buf);
            /* A close that still would block is not this connection's: a
             * closed socket's late notice can reach the handle's next user.
             * The real end reads as 0 (or an error). */
            if (n < 0 && c->socket->error == DD_NET_ERR_WOULD_BLOCK) return 1;
            bool end = n <= 0;
            if (diHTTPTakeBytes(c, buf, end ? 0 : size_t(n), end)) {
                replyEnded(c);
                return 1;
            }
        }
    }
    default:
        return 0;
    }
}

int diHTTPFetchServerInfo(DiHTTPClient* c, const DiChar* host, uint32_t port, int scheme,
                          const DiChar* prefix, DiHTTPCallback callback, void* arg) {
    if (c->active) return -1;
    c->callback = callback;
    c->arg = arg;
    free(c->host);
    free(c->prefix);
    c->host = diHTTPCopyRange(host ? host : u"", diAppStrLen(host));
    c->prefix = diHTTPCopyRange(prefix ? prefix : u"", diAppStrLen(prefix));
    c->port = port & 0xFFFF;
    c->scheme = scheme == 1 ? 1 : 0;
    if (!c->host || !c->prefix || !c->line) return -1;
    c->fetchCount++;
    resetAttempt(c);
    return startAttempt(c, false);
}


