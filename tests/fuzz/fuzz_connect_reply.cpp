// An HTTP proxy's answer to CONNECT, split anywhere: the hop reads at most to
// its blank line, never past 2047 bytes, and reports one outcome.
#include "fakes/route_fakes.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    routeFakesReset();
    DiRoute proxy, target;
    diRouteInit(&proxy, DI_ROUTE_HTTP, u"hp", 3128, 0);
    diRouteInit(&target, DI_ROUTE_SERVER, u"srv", 5000, 0);
    size_t chunk = size ? size_t(data[0] % 32) + 1 : 1;
    for (size_t i = 1; i < size; i += chunk)
        g_fakeNet.incoming.push_back(
            std::string(reinterpret_cast<const char*>(data) + i, i + chunk < size ? chunk : size - i));
    DdSocket* s = ddNetSocketCreate();
    DiRouteChain chain;
    diRouteChainInit(&chain, s, 0);
    diRouteChainAdd(&chain, &proxy);
    diRouteChainAdd(&chain, &target);
    size_t before = size ? size - 1 : 0;
    int r = diRouteNegotiateHop(&chain, &proxy, &target);
    size_t left = 0;
    for (auto& c : g_fakeNet.incoming) left += c.size();
    left -= g_fakeNet.offset;
    if (before - left > 2047) abort();
    if (r != 0 && r != -2 && r != -5 && r != -7 && r != -8) abort();
    if (r != -7 && g_fakeRoutes.errors.size() != 1 && r != 0) abort();
    // Parse the whole input as one reply too.
    int32_t err = 0;
    diRouteParseConnectReply(&proxy, reinterpret_cast<const char*>(data), size, &err);
    diRouteChainFree(&chain, 0);
    ddNetSocketDestroy(s);
    diRouteFree(&proxy);
    diRouteFree(&target);
    return 0;
}
