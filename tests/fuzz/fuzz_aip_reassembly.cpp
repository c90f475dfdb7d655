// Message reassembly: the input is a buffer limit choice, a chunking
// pattern and the byte stream a peer sends. Every message handed out must
// lie inside the buffer and carry the length its header announces; the
// stream must end in an error, or with fewer than a whole message left.
#include "core/diio.h"
#include "fakes/chan_fakes.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const uint32_t limits[] = {0, 16, 4096, 16384, 32767, 61472, 0x80000, 100};
    fakesReset();
    uint32_t limit = limits[data[0] & 7];
    uint8_t chunkSeed = data[1] | 1;
    bool closeAtEnd = data[2] & 1;
    data += 3, size -= 3;
    // Chunk sizes cycle through a pattern derived from the seed: 1 byte to
    // 4 KB, so that headers and payloads split at every position.
    size_t at = 0, k = 0;
    while (at < size) {
        size_t n = 1 + ((chunkSeed * (k + 1) * 37) % ((k % 3 == 0) ? 7 : 4096));
        if (n > size - at) n = size - at;
        g_fakeNet.incoming.emplace_back(reinterpret_cast<const char*>(data + at), n);
        at += n;
        k++;
    }
    g_fakeNet.closed = closeAtEnd;
    DiBuffer b{};
    b.limit = limit;
    DdSocket sock{};
    for (int rounds = 0; rounds < 200000; rounds++) {
        const uint8_t* m = nullptr;
        int n = diIOReadMessage(&b, &sock, &m);
        if (n < 0) break;
        if (n == 0) {
            if (g_fakeNet.incoming.empty() && !closeAtEnd) break;
            continue;
        }
        if (m < b.data || m + n > b.data + b.used) abort();
        if (uint32_t(n) != (uint32_t(m[1]) | uint32_t(m[2]) << 8) + 3u) abort();
        if (limit && uint32_t(n) > limit) abort();
        volatile uint8_t sink = m[n - 1]; // the whole message is readable
        (void)sink;
    }
    if (b.consumed > b.used || b.used > b.allocated) abort();
    diIOBufferFree(&b);
    return 0;
}
