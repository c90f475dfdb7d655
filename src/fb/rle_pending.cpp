/* The interleaved run-length decoder is not built yet: every compression 3
 * image is refused and draws nothing. */
#include "fb/fb.h"

int fbRLEDecompress(uint32_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint8_t*, int32_t,
                    uint32_t) {
    return -1;
}
