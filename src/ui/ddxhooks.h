/* The one narrow interface through which the frame and view windows reach
 * the X display engine, the seamless-window layer and the display scaler.
 * Those modules fill g_ddXHooks at start-up; every slot may be empty, and an
 * empty slot means "no such engine feature" (the inline wrappers give the
 * neutral answer), so the windows work before those modules exist and tests
 * can record the calls. */
#ifndef HV_DDXHOOKS_H
#define HV_DDXHOOKS_H

#include "dd.h"

/* Facts about an engine, as a bit set (engineFlags). */
enum : uint32_t {
    DD_XF_SEAMLESS = 0x0001,     /* seamless mode: one local window per X top level */
    DD_XF_LIMIT_SIZE = 0x0002,   /* the frame may not grow past the engine's size */
    DD_XF_OVERSIZE = 0x0004,     /* frames may be larger than the screen */
    DD_XF_NO_OWNER = 0x0080,     /* X transients are not owned by their parent's frame */
    DD_XF_OFFSCREEN = 0x0100,    /* report frames off the virtual screen (state 4) */
    DD_XF_CLIPBOARD = 0x0200,    /* the session clipboard is allowed */
    DD_XF_NO_COPYPRINT = 0x8000, /* copying and printing are denied */
    /* Frame requests give the client area, to be grown to the frame's outer
     * rectangle; clear when they already give the frame rectangle. */
    DD_XF_CLIENT_GEOMETRY = 0x00010000,
};

/* What the frame layer reads of an X window object. */
struct DdXWindowInfo {
    DiObject* engine; /* the X display engine that owns the window */
    int32_t borderLeft, borderTop, borderRight, borderBottom;
    int32_t maxWidth, maxHeight; /* size hints; 65535 means no maximum */
    int32_t minWidth, minHeight;
    HICON icon;       /* or 0 */
    int32_t sizeMove; /* non-zero while the user drags the frame */
};

/* What the display scaler reads of an X engine. */
struct DdXEngineSurface {
    int32_t depth;          /* the engine's X depth: 8, 16, 24 or 32 */
    uint32_t bytesPerPixel; /* of its frame buffers: 1, 2, 3 or 4 */
    HDC rootDC;             /* its root window's device context */
};

struct DdXHooks {
    /* Seamless layer: set up at ddUIInit, shut down at ddUIShutdown. */
    void (*swmInit)(void);
    void (*swmShutdown)(void);
    /* Sends the client description again (work area changed). */
    void (*swmSendClientInfo)(void);
    /* A system command for an X window (restore, window menu at x, y). */
    void (*swmSysCommand)(DiObject* xwindow, uint32_t command, int32_t x, int32_t y);

    /* DD_XF_* facts of an engine (X or terminal). */
    uint32_t (*engineFlags)(DiObject* engine);
    /* The X window's data; 0 when the object is not an X window. */
    int (*xwindowInfo)(DiObject* xwindow, DdXWindowInfo* info);
    /* The X window forgets the frame it was shown in (the frame is going). */
    void (*xwindowForgetFrame)(DiObject* xwindow);
    /* Sets or clears the size-move flags of the engine and the window. */
    void (*setSizeMove)(DiObject* xwindow, int on);
    /* Drops the pending updates and damages the whole root window. */
    void (*redrawDisplay)(DiObject* engine);
    /* The window a new seamless frame of the engine goes behind (0: top).
     * The frame's X window does not exist yet: the search is keyed on the
     * engine and skips the new frame's own window. */
    HWND (*findInsertAfter)(DiObject* engine, HWND frame);
    /* Arms the stacking-order check for a frame whose z-order changed. */
    void (*scheduleStackCheck)(DiObject* xwindow);
    /* The engine's colour map palette (0 none). */
    HPALETTE (*enginePalette)(DiObject* engine);
    /* Keyboard layout changed: the engine re-reads and sends it. */
    void (*notifyDisplayChange)(DiObject* engine);
    /* The X root window's rectangle in virtual-screen coordinates. */
    int (*rootRect)(DiObject* engine, RECT* rect);

    /* Display scaling of an object (filled by the scaler module). */
    /* Non-zero when the object's scaler is installed and its mode non-zero. */
    int (*scaleActive)(DiObject* obj);
    /* Source (engine) and target (window) sizes of the active scaler. */
    void (*scaleSizes)(DiObject* obj, int32_t* srcW, int32_t* srcH, int32_t* dstW, int32_t* dstH);
    /* Maps a window rectangle {x, y, w, h} to source coordinates. */
    void (*scaleRect)(DiObject* obj, int32_t rect[4]);
    void (*scaleResize)(DiObject* engine, int force);
    void (*scaleSetMode)(DiObject* obj, int mode);
    /* Switches back to the previous mode; returns the mode now in force. */
    int (*scaleRestoreMode)(DiObject* obj);
    /* The X engine's depth, pixel size and root device context; 0 when the
     * object is not an X engine (filled by the X display engine). */
    int (*engineSurface)(DiObject* engine, DdXEngineSurface* out);
};

extern DdXHooks g_ddXHooks;

inline uint32_t ddXEngineFlags(DiObject* engine) {
    return engine && g_ddXHooks.engineFlags ? g_ddXHooks.engineFlags(engine) : 0;
}
inline int ddXWindowInfo(DiObject* xwindow, DdXWindowInfo* info) {
    return xwindow && g_ddXHooks.xwindowInfo ? g_ddXHooks.xwindowInfo(xwindow, info) : 0;
}
inline int ddUIScaleActive(DiObject* obj) {
    return obj && obj->scalingAllowed && g_ddXHooks.scaleActive ? g_ddXHooks.scaleActive(obj) : 0;
}

#endif
