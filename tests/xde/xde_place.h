// Puts the frame of a display's view on top of the other windows, no
// bigger than the view needs, with the view's client area at (x, y): tests
// that read the X server's pixels there must find this view's alone.
#pragma once
#include <windows.h>

inline void hvPlaceDisplayView(HWND view, int x, int y) {
    HWND top = GetAncestor(view, GA_ROOT);
    RECT wr, cr, vr;
    GetWindowRect(top, &wr);
    GetClientRect(top, &cr);
    GetClientRect(view, &vr);
    int w = (wr.right - wr.left) - cr.right + vr.right;
    int h = (wr.bottom - wr.top) - cr.bottom + vr.bottom;
    SetWindowPos(top, HWND_TOPMOST, 0, 0, w, h, SWP_NOMOVE | SWP_NOACTIVATE);
    POINT o{0, 0};
    GetWindowRect(top, &wr);
    ClientToScreen(view, &o);
    SetWindowPos(top, HWND_TOPMOST, x - (o.x - wr.left), y - (o.y - wr.top), 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
}
