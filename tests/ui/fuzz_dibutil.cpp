// A packed DIB from the session: whatever the header claims, an accepted
// DIB's colour table and rows lie inside the bytes given.
#include "ui/dibutil.h"

#include <stddef.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiDIBInfo info;
    if (diDIBParse(data, size, &info) != 0) return 0;
    if (static_cast<uint64_t>(info.bitsOffset) + info.imageSize > size) __builtin_trap();
    volatile uint8_t last = data[info.bitsOffset + info.imageSize - 1];
    (void)last;
    return 0;
}
