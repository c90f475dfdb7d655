/* Graphics wrappers: the drawing context every display object, window and
 * dialog draws through, with shared pens, brushes and fonts, the X raster
 * functions mapped onto the Windows ones, the caret and the cursor shapes. */
#ifndef HV_DDGDI_H
#define HV_DDGDI_H

#include "dd.h"
#include "ui/digdi.h"

/* A shared solid pen or brush of one colour. The platform object is made on
 * first selection. `holder` is the context that selected it last (cleared
 * when that context deselects it). */
struct DdPenBrushCacheEntry {
    DdPenBrushCacheEntry* next;
    DdPenBrushCacheEntry* prev;
    int32_t refCount;
    uint32_t colour;
    HGDIOBJ handle;
    DdGC* holder;
};

struct DdGC {
    DdGC* next;
    DdGC* prev;
    uint32_t foreground; /* 0xFFFFFFFF until set */
    uint32_t background; /* 0xFFFFFFFF until set */
    uint32_t function;   /* X raster function 0-15 */
    DiGDIFont* font;
    uint32_t cursorShape; /* 0-13 */
    HWND hwnd;
    HDC hdc;
    HGDIOBJ owned; /* deleted with the context */
    HPALETTE palette;
    HBITMAP bitmap;
    HPEN originalPen;
    HBITMAP originalBitmap;
    HPALETTE originalPalette;
    HFONT originalFont;
    HCURSOR cursor;
    DdPenBrushCacheEntry* pen;
    DdPenBrushCacheEntry* brush;
};

/* A rectangle as the engines give them; a point has the layout of POINT. */
struct DdGCRect {
    int32_t x, y, width, height;
};
struct DdGCPoint {
    int32_t x, y;
};
static_assert(sizeof(DdGCPoint) == sizeof(POINT), "points are passed to GDI as they are");

struct DdFontMetrics {
    int32_t averageWidth;
    int32_t height;
    int32_t ascent;
    int32_t descent;
};

enum : uint32_t {
    DD_GDI_CURSOR_COUNT = 14,
    DD_GDI_TEXT_SINGLELINE = 1,
    DD_GDI_TEXT_VCENTER = 2,
    DD_GDI_TEXT_WORDBREAK = 4,
    DD_GDI_TEXT_ELLIPSIS = 16,
    DD_GDI_TEXT_EDITCONTROL = 32,
};

/* Raster operations of the X functions 0-15: for lines (SetROP2) and for
 * solid fills (PatBlt). */
extern const int g_ddGDILineRop[16];
extern const DWORD g_ddGDIPatternRop[16];

/* Contexts. */
DdGC* ddGDICreateGC();
void diGDIInitGC(DdGC* gc);
void ddGDIFreeGC(DdGC* gc);
/* The contexts made and not yet freed. */
int32_t ddGDILiveContexts();
void ddGDIAttach(DdGC* gc, HWND hwnd, HDC hdc);
void ddGDIDetach(DdGC* gc);
void ddGDISetFunction(DdGC* gc, uint32_t function);
void ddGDISetForeground(DdGC* gc, uint32_t colour);
void ddGDISetBackground(DdGC* gc, uint32_t colour);
HPALETTE ddGDISelectPalette(DdGC* gc, HPALETTE palette, BOOL background);
HBITMAP ddGDISelectBitmap(DdGC* gc, HBITMAP bitmap);
DiGDIFont* ddGDISelectFont(DdGC* gc, DiGDIFont* font);
int ddGDIGetFontMetrics(DdGC* gc, DiGDIFont* font, DdFontMetrics* out);
void ddGDISetCursor(DdGC* gc, uint32_t index);
/* The bound window, device context, selected palette and cursor (NULL for
 * no context). */
HWND ddGDIGetWindow(const DdGC* gc);
HDC ddGDIGetDC(const DdGC* gc);
HPALETTE ddGDIGetPalette(const DdGC* gc);
HCURSOR ddGDIGetCursor(const DdGC* gc);

/* Drawing on the bound device context with the pen and brush of the
 * foreground colour. Counts are refused when negative or beyond what one
 * call can pass to the system. */
void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height);
void ddGDIFillRectangles(DdGC* gc, int32_t count, const DdGCRect* rects);
void ddGDIPolyline(DdGC* gc, int32_t count, const DdGCPoint* points);
void ddGDIPolySegment(DdGC* gc, int32_t count, const DdGCPoint* points);
void ddGDIPolyRectangle(DdGC* gc, int32_t count, const DdGCRect* rects);
void ddGDIFillPolygon(DdGC* gc, int32_t count, const DdGCPoint* points);
void ddGDIFillSolid(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
void ddGDITextOut(DdGC* gc, int32_t x, int32_t y, const DdGCRect* rect, const DiChar* text,
                  int32_t count, const int32_t* advances);
void ddGDIDrawText(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height,
                   const DiChar* text, uint32_t options);
void ddGDIScrollArea(DdGC* gc, int32_t dx, int32_t dy, int32_t x, int32_t y, int32_t width,
                     int32_t height);
void ddGDIBeep();

/* The one caret of the process. */
void ddGDICreateCaret(DdGC* gc, int32_t width, int32_t height);
void ddGDISetCaretPos(DdGC* gc, int32_t x, int32_t y);
void ddGDIShowCaret(DdGC* gc, int show);
HWND ddGDICaretOwner();

/* Pen and brush caches. Find raises the reference count (a new entry starts
 * at 1); select returns the previous holder of the entry. */
DdPenBrushCacheEntry* ddGDIFindPen(uint32_t colour);
DdPenBrushCacheEntry* ddGDIFindBrush(uint32_t colour);
DdGC* ddGDISelectPen(DdGC* gc, DdPenBrushCacheEntry* entry);
DdGC* ddGDISelectBrush(DdGC* gc, DdPenBrushCacheEntry* entry);
void ddGDIPurgeUnused();
void ddGDIPurgeObjectCaches();
/* Entries in the pen (0) or brush (1) list. */
int32_t ddGDICacheCount(int brushes);
DdPenBrushCacheEntry* ddGDICacheHead(int brushes);

HPALETTE ddGDICreateIdentityPalette();

/* Cursor shapes 0-13; ddGDICursor gives the arrow for any other index. */
void ddGDILoadCursors();
HCURSOR ddGDICursor(uint32_t index);
/* A hand cursor of the given system cursor size (32 or 16), NULL for others. */
HCURSOR ddGDIBuildHandCursor(int size);
void ddGDIShutdown();

#endif
