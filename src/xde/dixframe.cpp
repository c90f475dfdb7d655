#include "xde/dixframe.h"

#include <algorithm>

namespace {

int32_t saturate(int64_t v) {
    return int32_t(std::min<int64_t>(INT32_MAX, std::max<int64_t>(INT32_MIN, v)));
}

uint32_t at(const uint32_t* order, size_t count, size_t i) {
    return i < count ? order[i] : 0;
}

} // namespace

DiXBorders diXFrameBorders(int32_t windowLeft, int32_t windowTop, int32_t windowRight,
                           int32_t windowBottom, int32_t clientX, int32_t clientY,
                           int32_t clientWidth, int32_t clientHeight) {
    return {saturate(int64_t(clientX) - windowLeft), saturate(int64_t(clientY) - windowTop),
            saturate(int64_t(windowRight) - clientWidth - clientX),
            saturate(int64_t(windowBottom) - clientHeight - clientY)};
}

int diXStackFirstDifference(const uint32_t* recorded, size_t recordedCount, const uint32_t* walked,
                            size_t walkedCount) {
    recordedCount = std::min<size_t>(recordedCount, DI_XSTACK_MAX);
    walkedCount = std::min<size_t>(walkedCount, DI_XSTACK_MAX);
    for (size_t i = 0; i < std::max(recordedCount, walkedCount); i++)
        if (at(recorded, recordedCount, i) != at(walked, walkedCount, i)) return int(i);
    return -1;
}

int diXStackIsTopOnlyChange(const uint32_t* recorded, size_t recordedCount, const uint32_t* walked,
                            size_t walkedCount) {
    recordedCount = std::min<size_t>(recordedCount, DI_XSTACK_MAX);
    walkedCount = std::min<size_t>(walkedCount, DI_XSTACK_MAX);
    if (!walkedCount) return 0;
    const uint32_t top = walked[walkedCount - 1];
    std::vector<uint32_t> moved;
    for (size_t i = 0; i < recordedCount; i++)
        if (recorded[i] && recorded[i] != top) moved.push_back(recorded[i]);
    moved.push_back(top);
    return diXStackFirstDifference(moved.data(), moved.size(), walked, walkedCount) < 0;
}

std::vector<DiXRaise> diXStackRaises(const uint32_t* recorded, size_t recordedCount,
                                     const uint32_t* walked, size_t walkedCount, int topOnly) {
    std::vector<DiXRaise> raises;
    walkedCount = std::min<size_t>(walkedCount, DI_XSTACK_MAX);
    int first = diXStackFirstDifference(recorded, recordedCount, walked, walkedCount);
    if (first < 0) return raises;
    if (topOnly && diXStackIsTopOnlyChange(recorded, recordedCount, walked, walkedCount)) {
        raises.push_back({walked[walkedCount - 1], 255});
        return raises;
    }
    for (size_t i = size_t(first); i < walkedCount; i++) {
        uint32_t value;
        if (!topOnly)
            value = i ? walked[i - 1] : 255;
        else
            value = i + 1 == walkedCount ? 255 : i ? walked[i - 1] : 0;
        raises.push_back({walked[i], value});
    }
    return raises;
}

void diXStackRemove(uint32_t* record, uint32_t window) {
    if (!window) return;
    uint32_t* end = std::remove(record, record + DI_XSTACK_MAX, window);
    std::fill(end, record + DI_XSTACK_MAX, 0u);
}
