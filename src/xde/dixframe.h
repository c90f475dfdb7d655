/* Frame geometry and stacking of the X display's Windows frames, as plain
 * values: the Windows side measures and walks the z-order, these decide. */
#ifndef HV_DIXFRAME_H
#define HV_DIXFRAME_H

#include <cstddef>
#include <cstdint>
#include <vector>

/* Most frames one display stacks; the stacking record has this many entries,
 * 0 marking the unused ones. */
enum : uint32_t { DI_XSTACK_MAX = 256 };

struct DiXBorders {
    int32_t left, top, right, bottom;
};
/* The frame's borders from its window rectangle and its client area (origin
 * in screen coordinates and size). Sums in 64 bits, saturated to 32. */
DiXBorders diXFrameBorders(int32_t windowLeft, int32_t windowTop, int32_t windowRight,
                           int32_t windowBottom, int32_t clientX, int32_t clientY,
                           int32_t clientWidth, int32_t clientHeight);

/* One restack event (22) to send: the X window and its value (255 the top,
 * 0 the bottom, else the X id of the window just below). */
struct DiXRaise {
    uint32_t window;
    uint32_t value;
};

/* The first position, from the bottom, where the recorded and the walked
 * order differ (an absent entry counts as 0); -1 when they agree. Orders
 * are bottom first, at most DI_XSTACK_MAX entries of each are read. */
int diXStackFirstDifference(const uint32_t* recorded, size_t recordedCount, const uint32_t* walked,
                            size_t walkedCount);
/* Non-zero when the walked order is the recorded one with only its topmost
 * window moved to the top. */
int diXStackIsTopOnlyChange(const uint32_t* recorded, size_t recordedCount, const uint32_t* walked,
                            size_t walkedCount);
/* The restack events the check sends, lowest first. `topOnly` is display
 * flag 0x40: the engine is told only of the top window when that is all
 * that moved, and of precise neighbours otherwise. */
std::vector<DiXRaise> diXStackRaises(const uint32_t* recorded, size_t recordedCount,
                                     const uint32_t* walked, size_t walkedCount, int topOnly);
/* Removes a destroyed frame's window from the record (DI_XSTACK_MAX
 * entries), shifting the rest down. */
void diXStackRemove(uint32_t* record, uint32_t window);

#endif
