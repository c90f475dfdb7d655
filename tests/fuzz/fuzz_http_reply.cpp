// Server-information replies: any bytes, in any split, end in one callback
// with bounded work, whatever the status line, keys and line lengths.
#include "fakes/route_fakes.h"
#include "net/dihttp.h"

#include <stdlib.h>

static int s_calls;
static void callback(DiHTTPClient*, void*, DiHTTPResults*) {
    s_calls++;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    routeFakesReset();
    s_calls = 0;
    DiHTTPClient* c = diHTTPClientAlloc();
    diHTTPClientInit(c);
    if (diHTTPFetchServerInfo(c, u"web", 80, 0, u"p", callback, nullptr) == 0) {
        // The first byte picks the chunk size; the rest is the reply.
        size_t chunk = size ? size_t(data[0] % 64) + 1 : 1;
        for (size_t i = 1; i < size; i += chunk)
            g_fakeNet.incoming.push_back(
                std::string(reinterpret_cast<const char*>(data) + i, i + chunk < size ? chunk : size - i));
        g_fakeNet.closed = true;
        for (int round = 0; round < 4 && c->socket; ++round) {
            DiEvent ev{};
            ev.w[0] = DI_EV_READABLE;
            diHTTPEvent(&c->obj, &ev);
        }
        if (!c->socket && s_calls != 1 && c->attempt < 3 && c->status != 404) abort();
    }
    diHTTPClientFree(c);
    return 0;
}
