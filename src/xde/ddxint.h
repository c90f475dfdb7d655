/* Shared by the source files of the X display's Windows side: the record
 * behind an engine display and the windows that show it. Not for use
 * outside src/xde. */
#ifndef HV_DDXINT_H
#define HV_DDXINT_H

#include "xde/ddxde.h"

#include "ui/ddgdi.h"

/* The Windows side's record of a display. */
inline DdXDisplay* ddXDev(DiXDisplay* d) {
    return reinterpret_cast<DdXDisplay*>(d);
}

/* The device context of the display's own view. */
inline HDC ddXViewDC(DiXDisplay* d) {
    return ddGDIGetDC(d->ch.hdr.gc);
}

/* The top-level Windows window showing an X window's frame, or none. */
inline HWND ddXFrameWindow(DiXWindow* w) {
    if (!w->frame || !w->frame->hdr.gc) return nullptr;
    HWND h = ddGDIGetWindow(w->frame->hdr.gc);
    return h ? GetAncestor(h, GA_ROOT) : nullptr;
}

/* The graphics context a window's pixels are copied through: its frame's
 * view in multi-window mode, else the display's own view. */
inline DdGC* ddXWindowGC(DiXDisplay* d, DiXWindow* w) {
    if (w && w->head.id && w->frame && w->frame->windowId == w->head.id) return w->frame->hdr.gc;
    return d->ch.hdr.gc;
}

/* The device context of that graphics context, or none. */
inline HDC ddXWindowDC(DiXDisplay* d, DiXWindow* w) {
    return ddGDIGetDC(ddXWindowGC(d, w));
}

#endif
