/* The device seam of the X display engine: the table through which the
 * portable engine reaches its Windows side. The Windows side fills one
 * table per display and the record sizes it wants; tests install a
 * recording device that draws for real through src/fb.
 *
 * "Fails" below means a negative result; the engine then frees the record
 * it was making and leaves no table entry. Records passed in are the
 * engine's (portable fields first, the device's own after them, zeroed at
 * creation). */
#ifndef HV_DIXDEVICE_H
#define HV_DIXDEVICE_H

#include "core/disysinfo.h"

struct DiXDisplay;
struct DiXColormap;
struct DiXPixmap;
struct DiXGC;
struct DiXFont;
struct DiXGlyph;
struct DiXWindow;
struct DiXCursor;
struct DiXDrawable;
struct DiXFrame;
struct DiBox;

struct DdXDeviceVector {
    /* 0: make the device colour map of a new colormap; fails. */
    int (*createColormap)(DiXDisplay* d, DiXColormap* cmap);
    /* 1: entries first .. first + count - 1 changed (count >= 1). */
    void (*storeColors)(DiXDisplay* d, DiXColormap* cmap, uint32_t first, uint32_t count);
    /* 2: the colormap becomes the screen's palette. */
    void (*installColormap)(DiXDisplay* d, DiXColormap* cmap);
    /* 3: release the device colour map. */
    void (*freeColormap)(DiXDisplay* d, DiXColormap* cmap);
    /* 4: give the pixmap its pixel buffer (head filled); fails. */
    int (*createPixmap)(DiXDisplay* d, DiXPixmap* pixmap);
    /* 5: release the pixmap's buffer. */
    void (*freePixmap)(DiXDisplay* d, DiXPixmap* pixmap);
    /* 6: set up the GC's operation vector; fails. */
    int (*createGC)(DiXDisplay* d, DiXGC* gc);
    /* 7: validate the GC for the drawable (installs per-depth operations,
     *    may add damage flags). */
    void (*validateGC)(DiXDisplay* d, DiXDrawable* drawable, DiXGC* gc);
    /* 8: release what slot 6 made. */
    void (*freeGC)(DiXDisplay* d, DiXGC* gc);
    /* 9: a font opened; fails. */
    int (*createFont)(DiXDisplay* d, DiXFont* font);
    /* 10: a font closed (its glyphs are already freed). */
    void (*freeFont)(DiXDisplay* d, DiXFont* font);
    /* 11: give the glyph its bitmap (size and metrics filled); fails. */
    int (*createGlyph)(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph);
    /* 12: bits into the glyph's bitmap; data holds length bytes. */
    void (*putGlyphBits)(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph, int32_t x, int32_t y,
                         int32_t width, int32_t height, uint32_t compression, uint32_t length,
                         const uint8_t* data);
    /* 13: release the glyph's bitmap. */
    void (*freeGlyph)(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph);
    /* 14: make the window's Windows counterpart and fill its frame-buffer
     *     part (the root's buffer for every window); fails. */
    int (*createWindow)(DiXDisplay* d, DiXWindow* window);
    /* 15: release what slot 14 made. */
    void (*freeWindow)(DiXDisplay* d, DiXWindow* window);
    /* 16: copy the window's pixels in the boxes (root coordinates) to the
     *     screen; count >= 1. */
    void (*paint)(DiXDisplay* d, DiXWindow* window, int32_t count, const DiBox* boxes);
    /* 17: the GC's mode changed. */
    void (*gcModeChanged)(DiXDisplay* d, DiXGC* gc, uint32_t mode);
    /* 18: show (1), hide (0) or iconify (2) the window's frame. */
    void (*showWindow)(DiXDisplay* d, DiXWindow* window, uint32_t mode);
    /* 19: move or size the window's frame (desktop coordinates). */
    void (*configureWindow)(DiXDisplay* d, DiXWindow* window, int32_t x, int32_t y,
                            int32_t width, int32_t height);
    /* 20: the frame's title, icon title or state changed. */
    void (*frameChanged)(DiXDisplay* d, DiXWindow* window);
    /* 21: the frame's size hints changed. */
    void (*sizeHints)(DiXDisplay* d, DiXWindow* window, const uint32_t hints[4]);
    /* 22: enable (1) or disable (0) the window's frame. */
    void (*enableWindow)(DiXDisplay* d, DiXWindow* window, int enable);
    /* 23: redraw the window now. */
    void (*updateWindow)(DiXDisplay* d, DiXWindow* window);
    /* 24: the frame's icon from an image pixmap and a mask pixmap or none. */
    void (*setIcon)(DiXDisplay* d, DiXWindow* window, DiXPixmap* image, DiXPixmap* mask);
    /* 25: begin or end a pointer grab on the window. */
    void (*grabPointer)(DiXDisplay* d, DiXWindow* window, uint32_t flags);
    /* 26: used by the Windows side only; the engine never calls it. */
    void (*raiseAndRedraw)(DiXDisplay* d, DiXWindow* window);
    /* 27: make the Windows cursor: mask then source bits, or for depth 32
     *     no mask and the pixels as source; fails. */
    int (*createCursor)(DiXDisplay* d, DiXCursor* cursor, const uint8_t* mask,
                        const uint8_t* source);
    /* 28: release the Windows cursor. */
    void (*freeCursor)(DiXDisplay* d, DiXCursor* cursor);
    /* 29: the cursor of a window's graphics context (the display's own, or
     *     a frame's). */
    void (*setCursor)(DiXDisplay* d, DdGC* gc, DiXCursor* cursor);
    /* 30: restack the window (mode; sibling only for mode 1, else none). */
    void (*restackWindow)(DiXDisplay* d, DiXWindow* window, uint32_t mode, DiXWindow* sibling);
    /* 31: non-zero when {x, y, width, height} of the window is wholly
     *     visible on the screen (the drawing-speed probe only). */
    int (*probeTargetVisible)(DiXDisplay* d, DiXWindow* window, const int32_t rect[4]);

    /* Windows calls outside the numbered slots. */
    /* Make the frame of a top-level window with its graphics context and
     * frame record (diXCreateFrameWindow); may adjust the position and
     * size. None on failure. */
    DiXFrame* (*createFrame)(DiXDisplay* d, int32_t* x, int32_t* y, int32_t* width,
                             int32_t* height, uint32_t styleFlags);
    /* Destroy the frame with its Windows window; its record is freed
     * through diXDestroyFrameWindow. */
    void (*destroyFrame)(DiXDisplay* d, DiXFrame* frame);
    /* The standard cursor (0-13) on a graphics context (none: the
     * display's own). */
    void (*setStandardCursor)(DiXDisplay* d, DdGC* gc, uint32_t index);
    /* After the session start's messages. */
    void (*sessionStarted)(DiXDisplay* d);
    /* Shell and sound services of the properties. */
    void (*openUrl)(DiXDisplay* d, const DiChar* url);
    void (*launchSelf)(DiXDisplay* d, const DiChar* parameters);
    void (*playSound)(DiXDisplay* d, const DiChar* alias);
    /* The system beep (the server's bell request). */
    void (*bell)(DiXDisplay* d);
    /* Plug-in commands: results as the library gives them. */
    int32_t (*pluginInitialize)(DiXDisplay* d, const DiChar* instance, const DiChar* library);
    int32_t (*pluginTerminate)(DiXDisplay* d, const DiChar* instance);
    int32_t (*pluginCall)(DiXDisplay* d, const DiChar* instance, int32_t argc,
                          const DiChar* const* argv);
    /* The time-zone and keyboard descriptions of the connect message, or
     * none; each is released with its free call. */
    DdTimeZoneInfo* (*timeZone)(DiXDisplay* d);
    void (*freeTimeZone)(DdTimeZoneInfo* info);
    DdKeyboardInfo* (*keyboard)(DiXDisplay* d);
    void (*freeKeyboard)(DdKeyboardInfo* info);
    /* The desktop origin added to window positions (0, 0 on one monitor). */
    void (*desktopOrigin)(DiXDisplay* d, int32_t* x, int32_t* y);
    /* The size of the user's whole desktop (all monitors), which the
     * connect message announces; none: the display's own size. */
    void (*desktopSize)(DiXDisplay* d, int32_t* width, int32_t* height);
    /* Seamless move and size, which the client draws: the outline window
     * is made at a drag's first motion and destroyed at its end. Drawing
     * an outline {x, y, width, height} inverts the screen, so drawing the
     * same rectangle again erases it. */
    void (*swmCreateDragWindow)(DiXDisplay* d);
    void (*swmDrawDragOutline)(DiXDisplay* d, DiXFrame* frame, const int32_t rect[4]);
    void (*swmDestroyDragWindow)(DiXDisplay* d);
    /* Seamless frames: apply the frame's wanted styles (set from the
     * server's window information); give the window's frame the focus
     * (the server's focus property). */
    void (*swmUpdateStyle)(DiXDisplay* d, DiXWindow* window);
    void (*swmFocus)(DiXDisplay* d, DiXWindow* window);
    /* Gives a display object the Windows focus (a seamless session's own
     * frame when its root window is shown). */
    void (*setFocus)(DiXDisplay* d, DiObject* obj);
};

/* Sizes of the records the device wants; a size below the portable
 * record's is raised to it. */
struct DdXRecordSizes {
    uint32_t window, pixmap, gc, font, glyph, cursor, colormap;
};

#endif
