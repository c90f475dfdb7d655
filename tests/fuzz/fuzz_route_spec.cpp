// Route strings and URLs from outside (options, the server's page):
// parsed hops have a host, a port 1-65535, and nothing leaks.
#include "fakes/route_fakes.h"
#include "net/dihttp.h"

#include <stdlib.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    routeFakesReset();
    std::vector<DiChar> text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(DiChar(data[i] | data[i + 1] << 8));
    // Also read the bytes one to one, the way the fetch widens a line.
    std::vector<DiChar> wide(data, data + size);
    for (auto* t : {&text, &wide}) {
        t->push_back(0);
        DiRouteChain chain;
        diRouteChainInit(&chain, nullptr, 0);
        diRouteChainParse(&chain, t->data());
        for (DiRouteNode* n = chain.first; n; n = n->next)
            if (!n->route->host[0] || n->route->port < 1 || n->route->port > 65535) abort();
        diRouteChainFree(&chain, 1);
        int scheme, port;
        DiChar* host = nullptr;
        if (diHTTPParseURL(t->data(), &scheme, &host, &port) == 0) {
            if (!host || !host[0] || port < 1 || port > 65535) abort();
            free(host);
        }
        DiChar *a, *b, *c;
        if (diHTTPSplitURL(t->data(), &a, &b, &c)) {
            free(a);
            free(b);
            free(c);
        }
    }
    return 0;
}
