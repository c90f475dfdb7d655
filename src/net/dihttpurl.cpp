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
