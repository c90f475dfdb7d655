/* Where the pure bit helpers join the Windows side. */
#include "xde/ddxde.h"
#include "xde/dixbits.h"
#include "xde/dixde.h"

#include <string.h>
#include <vector>

/* A 1-bit cursor's planes at the system cursor size. The request carried
 * the mask and the source as height rows of (width + 7) / 8 bytes each.
 * 32-bit cursors are not made here: they keep the standard shape. */
int ddXCursorPlanes(const DiXCursor* cursor, const uint8_t* mask, const uint8_t* source,
                    int32_t cx, int32_t cy, uint8_t* andPlane, uint8_t* xorPlane) {
    if (!cursor || cursor->depth == 32 || cx <= 0 || cy <= 0) return -1;
    size_t length = size_t((uint64_t(cursor->width) + 7) / 8 * cursor->height);
    std::vector<uint8_t> a, x;
    if (diXCursorPlanes(mask, source, length, cursor->width, cursor->height, uint32_t(cx),
                        uint32_t(cy), &a, &x) != 0)
        return -1;
    size_t plane = size_t(diXMonoStride(uint32_t(cx))) * size_t(cy);
    if (a.size() != plane || x.size() != plane) return -1;
    memcpy(andPlane, a.data(), plane);
    memcpy(xorPlane, x.data(), plane);
    return 0;
}
