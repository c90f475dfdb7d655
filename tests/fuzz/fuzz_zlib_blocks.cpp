// Compressed blocks: the input announces the block's compressed and
// uncompressed sizes, chooses the output room and the inflate entry, and
// then gives the compressed bytes. Nothing may be written outside the room
// and no result may claim more than was given.
#include "core/dide.h"
#include "fakes/chan_fakes.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    uint32_t announceIn = uint32_t(data[0]) << 8 | data[1];
    uint32_t announceOut = uint32_t(data[2]) << 8 | data[3];
    uint32_t room = 1 + (data[4] % 64) * 64;
    bool more = data[5] & 1;
    size_t split = 1 + (data[5] >> 1);
    data += 6, size -= 6;
    DiChannel ch{};
    if (diDEInflateBegin(&ch, announceIn, announceOut) < 0) return 0;
    std::vector<uint8_t> out(room);
    size_t at = 0;
    uint64_t produced = 0;
    for (int rounds = 0; rounds < 100000; rounds++) {
        uint32_t len = uint32_t(size - at < split ? size - at : split);
        uint32_t r = room;
        uint32_t given = len;
        int res = more ? diDEInflateBlockMore(&ch, out.data(), data + at, &r, &len, 0)
                       : diDEInflateBlock(&ch, out.data(), data + at, &r, &len);
        if (r > room || len > given) abort();
        produced += r;
        at += len;
        if (res != 0 && res != 2) break;
        if (at >= size && r == 0) break;
        if (!ch.inflate) break;
    }
    // An over-long block is refused in the call that passes its size.
    if (produced > uint64_t(announceOut) + room) abort();
    diDEInflateEnd(&ch);
    if (ch.inflate) abort();
    return 0;
}
