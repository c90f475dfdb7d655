// A SOCKS 5 proxy's replies, split anywhere: the negotiation ends with a hop
// code and reads no more than its messages announce.
#include "fakes/route_fakes.h"
#include "net/disocks.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    routeFakesReset();
    DiRoute proxy, target;
    diRouteInit(&proxy, DI_ROUTE_SOCKS, u"sp", 1080, 0);
    diRouteInit(&target, DI_ROUTE_SERVER, u"srv", 5000, 0);
    if (size && (data[0] & 0x80)) {
        proxy.credentialKind = 1;
        diRouteSetCredentials(&proxy, u"user", u"password");
    }
    size_t chunk = size ? size_t(data[0] % 8) + 1 : 1;
    for (size_t i = 1; i < size; i += chunk)
        g_fakeNet.incoming.push_back(
            std::string(reinterpret_cast<const char*>(data) + i, i + chunk < size ? chunk : size - i));
    DdSocket* s = ddNetSocketCreate();
    DiSocksContext ctx;
    diSOCKSInit(&ctx, &proxy, s);
    diSOCKSNegotiate(&ctx, &target);
    // Greeting 2 + auth 2 + reply 4 + at most 1 + 255 + 2.
    size_t left = 0;
    for (auto& c : g_fakeNet.incoming) left += c.size();
    left -= g_fakeNet.offset;
    if ((size ? size - 1 : 0) - left > 266) abort();
    if (ctx.state != 0 && ctx.state != -1) abort();
    if (ctx.state == 0 && ctx.result != 0) abort();
    diSOCKSFree(&ctx);
    ddNetSocketDestroy(s);
    diRouteFree(&proxy);
    diRouteFree(&target);
    return 0;
}
