/* "scheme://host/path" apart, on its own so that modules that only read
 * URLs do not pull in the HTTP client. */
#include "net/dihttp.h"

#include <stdlib.h>
#include <string.h>

DiChar* diHTTPCopyRange(const DiChar* s, size_t n) {
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    if (n) memcpy(d, s, n * sizeof(DiChar));
    d[n] = 0;
    return d;
}

namespace {

size_t length(const DiChar* s) {
    size_t n = 0;
    while (s[n]) n++;
    return n;
}

} // namespace

int diHTTPSplitURL(const DiChar* url, DiChar** scheme, DiChar** host, DiChar** path) {
    if (!url) return 0;
    size_t s = 0;
    while (url[s] && url[s] != u':') ++s;
    if (!url[s] || s == 0 || url[s + 1] != u'/' || url[s + 2] != u'/') return 0;
    size_t h = s + 3, e = h;
    while (url[e] && url[e] != u'/') ++e;
    if (e == h) return 0;
    size_t rest = e + (url[e] ? 1 : 0);
    DiChar* a = diHTTPCopyRange(url, s);
    DiChar* b = diHTTPCopyRange(url + h, e - h);
    DiChar* c = diHTTPCopyRange(url + rest, length(url + rest));
    if (!a || !b || !c) {
        free(a);
        free(b);
        free(c);
        return 0;
    }
    *scheme = a;
    *host = b;
    *path = c;
    return 1;
}

static size_t schemeLength(const DiChar* url, int* index) {
    static const char* const names[] = {"http", "https"};
    for (int k = 1; k >= 0; --k) {
        size_t n = strlen(names[k]), i = 0;
        for (; i < n; ++i) {
            DiChar ch = url[i];
            if (ch >= u'A' && ch <= u'Z') ch = DiChar(ch - u'A' + u'a');
            if (ch != DiChar(names[k][i])) break;
        }
        if (i == n && url[n] == u':' && url[n + 1] == u'/' && url[n + 2] == u'/') {
            *index = k;
            return n + 3;
        }
    }
    return 0;
}

int diHTTPParseURL(const DiChar* url, int* scheme, DiChar** host, int* port) {
    if (!url) return -1;
    int index;
    size_t p = schemeLength(url, &index);
    if (!p) return -1;
    size_t h = p;
    while (url[h] && url[h] != u'/' && url[h] != u':') ++h;
    if (h == p) return -1;
    int value = index == 1 ? 443 : 80;
    if (url[h] == u':') {
        size_t d = h + 1;
        uint32_t v = 0;
        while (url[d] >= u'0' && url[d] <= u'9' && d - h <= 5) v = v * 10 + uint32_t(url[d++] - u'0');
        if (d == h + 1 || d - h > 6 || v < 1 || v > 65535 || (url[d] && url[d] != u'/'))
            return -1;
        value = int(v);
    }
    DiChar* name = diHTTPCopyRange(url + p, h - p);
    if (!name) return -1;
    *scheme = index;
    *host = name;
    *port = value;
    return 0;
}

bool diHTTPIsWebAddress(const DiChar* url) {
    if (!url) return false;
    /* C0 and C1 controls: a line break could end the page the address is
     * written into, and a browser drops tabs and breaks before it reads. */
    for (const DiChar* c = url; *c; c++)
        if (*c < 0x20 || (*c >= 0x7f && *c <= 0x9f)) return false;
    int scheme = 0, port = 0;
    DiChar* host = nullptr;
    if (diHTTPParseURL(url, &scheme, &host, &port) != 0) return false;
    free(host);
    return true;
}
