// The top-level windows of the desktop, top first, read in one snapshot.
// Other test programs share the desktop: a walk of GW_HWNDNEXT ends early
// when the window it stands on is destroyed meanwhile.
#ifndef HV_TESTS_ZORDER_H
#define HV_TESTS_ZORDER_H

#include <windows.h>

#include <vector>

inline BOOL CALLBACK hvCollectTopLevel(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

inline std::vector<HWND> hvTopLevelOrder() {
    std::vector<HWND> order;
    EnumWindows(hvCollectTopLevel, reinterpret_cast<LPARAM>(&order));
    return order;
}

#endif
