/* The X display engine: the resources of one remote X display (windows,
 * the GC, pixmaps, fonts, cursors, the colormap), its event handler with
 * the motion throttle and middle-button emulation, the session start and
 * status, damage with its exposure, update and activity timers, the
 * properties the server sets and the drawing-speed probe. It fills the
 * wire's DiXRequestOps and src/fb's damage sink, draws only through
 * src/fb and reaches Windows only through DdXDeviceVector. */
#ifndef HV_DIXDE_H
#define HV_DIXDE_H

#include "fb/fb.h"
#include "xde/diregion.h"
#include "xde/dixaip.h"
#include "xde/dixdevice.h"

struct DiTimer;

enum : uint32_t {
    DI_XWINDOWS = 256,
    DI_XPIXMAPS = 1024,
    DI_XFONTS = 16,
    DI_XCURSORS = 32,
    DI_XGLYPHS = 256,
    DI_XMAX_SIDE = 32767, /* region boxes are 16-bit */
    /* Ceiling on the pixel bytes a server makes one display hold. */
    DI_XPIXEL_CEILING = 256u << 20,
    /* Ceiling on what all displays of the process hold together, screen
     * buffers included: a 32-bit client dies near 2 GiB, however many
     * launches are live. */
    DI_XPROCESS_PIXEL_CEILING = 768u << 20,
};

/* More display flags (the wire's are in dixaip.h). */
enum : uint32_t {
    DI_XFLAG_DITHER = 0x1,
    DI_XFLAG_MODMAP = 0x10,
    DI_XFLAG_NO_ACTIVATE = 0x20,
    DI_XFLAG_OLDTRANSIENT = 0x80,
    DI_XFLAG_KBNOTICE = 0x400,
    DI_XFLAG_PROBED = 0x1000,
    DI_XFLAG_DIRECT = 0x2000,
    DI_XFLAG_FOCUS_IN = 0x4000, /* the last focus event of a seamless frame was a focus-in */
    DI_XFLAG_MODEX = 0x10000,
};

/* Session switches (request 48's flags and flags 2). */
enum : uint32_t {
    DI_XSESSION_MULTI = 0x2,
    DI_XSESSION_EXTGEOM = 0x4,
    DI_XSESSION_OVERRIDE_FOCUS = 0x10,
    DI_XSESSION_DAMAGE_MODE = 0x100,
    DI_XSESSION2_SEAMLESS = 0x1,
    DI_XSESSION2_CLOSE34 = 0x10,
};

/* GC change bits beyond fb's. */
enum : uint32_t {
    DI_XGC_VALUE6 = 0x0010,
    DI_XGC_TILE = 0x0020,
    DI_XGC_STIPPLE = 0x0040,
    DI_XGC_ORIGIN = 0x0080,
    DI_XGC_FONT = 0x0200,
    DI_XGC_MODE = 0x0800,
    DI_XGC_NO_DAMAGE = 0x40, /* mode bit: no damage tracking */
};

/* The head shared by windows and pixmaps, followed at once by the pixel
 * buffer that the frame-buffer routines read. */
struct DiXDrawable {
    uint32_t kind; /* 0 window, 1 pixmap */
    uint32_t id;
    int32_t x, y, width, height;
    uint32_t depth;
    FbBuffer fb;
};

struct DiXFrame {
    DiObject hdr; /* its graphics context is the frame's */
    DiXDisplay* display;
    DiObject* frame;   /* the Windows side's frame object */
    uint32_t windowId; /* the X window, or DI_XWINDOWS when detached */
    uint32_t styleFlags; /* 0x80: override window */
    uint32_t ownerMode;  /* 1: owner disabled while shown; 2: every other window */
    uint32_t ownerId;
    uint32_t frameFlags;
    int32_t borders[4]; /* left, right, top, bottom */
    uint32_t showState;
    int32_t rect[4]; /* frame rectangle, screen coordinates */
    uint32_t styles[3];
    uint32_t hints[4];
    DiChar* title;
    DiChar* iconTitle;
    DiTimer* sizeMoveTimer;
    int32_t prevRect[4], newRect[4];
    uint32_t reported; /* message 35 (or 38) sent */
    uint32_t disabled; /* the engine disabled its window (owner modes) */
    uint32_t disablers; /* shown windows whose owner modes disable this one */
    uint32_t disabling; /* its owner modes hold their windows disabled */
};

struct DiXWindow {
    DiXDrawable head;
    DiXDisplay* display;
    DiXFrame* frame;
    DiXRegionArea exposure;
    DiXRegionArea update;
    DiTimer* exposureTimer;
    DiTimer* updateTimer;
    uint32_t updateStart;
    uint32_t activity; /* 1 damage while the update timer ran, 2 typing, 4 pointer */
    uint32_t exposureStart;
    DiTimer* activityTimer;
    uint32_t lastKey, lastPointer;
};

struct DiXPixmap {
    DiXDrawable head;
};

struct DiXGlyph {
    uint32_t index;
    int32_t width, height;
    uint32_t depth;
    int32_t metrics[3];
    FbGlyph fb;
};

struct DiXFont {
    uint32_t id;
    uint32_t size1, size2;
    DiXGlyph* glyphs[DI_XGLYPHS];
    FbGlyph* fbGlyphs[DI_XGLYPHS]; /* what the text routines read */
};

struct DiXCursor {
    uint32_t id;
    uint32_t width, height, depth;
    uint32_t hotX, hotY;
    uint32_t foreground, background;
};

struct DiXColormap {
    uint32_t first, kind, count;
    uint8_t entries[256][3];
};

struct DiXGC {
    FbGC fb; /* operation vector, change mask, function, colours, ... */
    uint32_t value6;
    uint32_t tileId, stippleId;
    uint32_t fontId;
    DiXFont* font;
    DiXPixmap* tilePixmap;
    DiXPixmap* stipplePixmap;
    uint32_t drawableKind, drawableId;
    uint32_t mode;
    DiXDrawable* drawable;
    uint32_t standardCursor;
};

/* Initialisation with the device and its record sizes; 0 or -1. Free:
 * teardown of everything the display still holds. */
int diXDEInit(DiXDisplay* d, const DdXDeviceVector* dev, const DdXRecordSizes* sizes,
              int32_t v1, int32_t v2);
void diXDEFree(DiXDisplay* d);
int diXDEHandleEvent(DiObject* obj, DiEvent* ev);
/* Events 3 to 22 of a frame's Windows window (multi-window mode). */
int diXDEHandleWindowEvent(DiXFrame* frame, DiEvent* ev);
/* The input language changed: with display flag 0x400 a changed keyboard
 * description is sent (message 44) and stored. */
void diXDENotifyDisplayChange(DiXDisplay* d);
/* The operations table the engine installs in every display. */
extern const DiXRequestOps diXEngineOps;
/* The damage sink the engine installs in src/fb. */
extern const FbDamageSink diXDamageSink;

void diXDEStartSession(DiXDisplay* d, uint32_t flags, uint32_t delay, int32_t width,
                       int32_t height, uint32_t depth, uint32_t flags2);
int diXDECreateScreen(DiXDisplay* d);
void diXDESessionStatus(DiXDisplay* d, int32_t kind, int32_t code);
void diXDEFreeResources(DiXDisplay* d);
uint32_t diXMapModifiers(const DiXDisplay* d, uint32_t modifiers);

/* Resources. */
DiXDrawable* diXLookupDrawable(DiXDisplay* d, uint32_t kind, uint32_t id);
DiXWindow* diXLookupWindow(DiXDisplay* d, uint32_t id);
DiXGC* diXCreateGC(DiXDisplay* d);
void diXFreeGC(DiXDisplay* d, DiXGC* gc);
void diXValidateGC(DiXDisplay* d, DiXDrawable* drawable, DiXGC* gc);
void diXSetDrawable(DiXDisplay* d, DiXGC* gc, uint32_t kind, uint32_t id);
void diXSetGCMode(DiXDisplay* d, DiXGC* gc, uint32_t mode);
int diXCreatePixmap(DiXDisplay* d, uint32_t id, int32_t width, int32_t height, uint32_t depth);
void diXFreePixmap(DiXDisplay* d, uint32_t id);
int diXCreateColormap(DiXDisplay* d, uint32_t first, uint32_t kind, uint32_t count);
void diXFreeColormap(DiXDisplay* d);
void diXStoreColors(DiXDisplay* d, int32_t count, const uint8_t* entries);
void diXFreeCursor(DiXDisplay* d, uint32_t id);
void diXCloseFont(DiXDisplay* d, uint32_t id);
void diXFreeGlyph(DiXDisplay* d, uint32_t font, uint32_t index);
/* Pixel bytes held against the display's ceiling and the process's: 0, or
 * -1 when past either. */
int diXChargePixels(DiXDisplay* d, uint64_t bytes);
void diXReleasePixels(DiXDisplay* d, uint64_t bytes);

/* Windows. */
DiXWindow* diXAllocWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                          int32_t height, uint32_t depth);
void diXCreateWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t styleFlags, uint32_t ownerMode, uint32_t ownerId,
                     uint32_t frameFlags);
void diXDestroyWindow(DiXDisplay* d, uint32_t id);
void diXFreeWindow(DiXDisplay* d, uint32_t id);
void diXDestroyAllWindows(DiXDisplay* d);
void diXShowWindow(DiXDisplay* d, uint32_t id, uint32_t mode);
void diXConfigureWindow(DiXDisplay* d, uint32_t id, int32_t x, int32_t y, int32_t width,
                        int32_t height);
void diXRestackWindow(DiXDisplay* d, uint32_t id, uint32_t mode, uint32_t sibling);
/* A framed window's title (icon 0) or icon title (icon 1); the frame shows
 * the one that fits its state. */
void diXSetWindowTitleText(DiXDisplay* d, uint32_t id, const DiChar* text, uint32_t length,
                           int icon);
DiXFrame* diXCreateFrameWindow(DiXDisplay* d, DdGC* gc);
void diXDestroyFrameWindow(DiXFrame* frame);
void diXDamageBoxes(DiXWindow* w, DiXGC* gc, int32_t count, const FbRect* boxes);
void diXDamageRect(DiXWindow* w, DiXGC* gc, int32_t x, int32_t y, int32_t width,
                   int32_t height);
void diXDamageLine(DiXWindow* w, DiXGC* gc, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void diXPaintExposures(DiXDisplay* d, DiXWindow* w);
void diXPaintUpdates(DiXDisplay* d, DiXWindow* w);
void diXFlushDueUpdates(DiXDisplay* d);
/* event: 3/4 keys, others pointer. */
void diXNoteActivity(DiXWindow* w, uint32_t event);
/* Every timer field of the display and its windows is clear (tests). */
int diXEngineTimersIdle(const DiXDisplay* d);

/* Properties and the probe. */
void diXDEPropertyChanged(DiXDisplay* d, uint32_t operation, const DiChar* window,
                          uint32_t windowLength, const DiChar* name, uint32_t nameLength,
                          const DiChar* value, uint32_t valueLength);
void diXRunDrawingProbe(DiXDisplay* d);

#endif
