/* Points where the pure bit helpers join the Windows side. */
#include "xde/ddxde.h"

/* Joined with the cursor-plane conversion: until then no X cursor is
 * shown and the standard shape stays. */
int ddXCursorPlanes(const DiXCursor*, const uint8_t*, const uint8_t*, int32_t, int32_t, uint8_t*,
                    uint8_t*) {
    return -1;
}
