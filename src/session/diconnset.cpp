/* The connection settings value. */
#include "session/diconnset.h"

#include "core/diutil.h"
#include "net/dihttp.h"
#include "session/diintclient.h"

#include <stdlib.h>
#include <string.h>

static DiChar* copy(const DiChar* s) {
    size_t n = 0;
    while (s && s[n])
        n++;
    DiChar* c = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!c) return nullptr;
    if (n) memcpy(c, s, n * sizeof(DiChar));
    c[n] = 0;
    return c;
}

DiConnSettings::~DiConnSettings() {
    free(url);
    free(proxyHost);
}

const DiChar* diConnSettingsGetURL(const DiConnSettings* s) {
    return s->url;
}

bool diConnSettingsUsesProxy(const DiConnSettings* s) {
    return s->usesProxy != 0;
}

const DiChar* diConnSettingsGetProxyHost(const DiConnSettings* s) {
    return s->proxyHost;
}

const DiChar* diConnSettingsGetProxyKindName(const DiConnSettings* s) {
    if (s->proxyKind == DI_CONN_PROXY_HTTP) return u"HTTP";
    if (s->proxyKind == DI_CONN_PROXY_SOCKS) return u"SOCKS";
    return nullptr;
}

int32_t diConnSettingsGetResult(const DiConnSettings* s) {
    return s->result;
}

bool diConnSettingsCheckUrl(DiChar* url) {
    diStrTrimLeft(url);
    diStrTrimRight(url);
    int scheme = 0, port = 0;
    DiChar* host = nullptr;
    bool ok = url && diHTTPParseURL(url, &scheme, &host, &port) == 0;
    free(host);
    return ok;
}

int32_t diConnSettingsFill(DiConnSettings* s, int dialogResult, const DiChar* url, int32_t kind,
                           const DiChar* host, const DiChar* portText) {
    free(s->url);
    free(s->proxyHost);
    s->url = s->proxyHost = nullptr;
    s->usesProxy = 0;
    s->proxyPort = 0;
    s->proxyKind = DI_CONN_PROXY_BROWSER;
    if (dialogResult != 1) return s->result = 0;
    s->result = 1;
    s->url = copy(url);
    s->proxyKind = kind == DI_CONN_PROXY_HTTP || kind == DI_CONN_PROXY_SOCKS ? kind : 0;
    s->usesProxy = s->proxyKind != DI_CONN_PROXY_BROWSER;
    if (s->usesProxy) {
        s->proxyHost = copy(host);
        /* "70000" or a long digit string is no port. */
        s->proxyPort = diParsePort(portText);
    }
    return 1;
}
