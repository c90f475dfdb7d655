/* Graphics wrappers on the Windows graphics interface. GUI thread only: the
 * context list, the caches and the caret owner are unsynchronised. */
#include "ui/ddgdi.h"

#include "core/ddapp.h"

#include <stdlib.h>
#include <string.h>

/* Every colour handed to GDI is palette-relative, so that on a palette
 * screen it maps to the nearest entry of the selected logical palette. */
static const uint32_t kPaletteRelative = 0x02000000;
/* A colour not set yet: no pen or brush is made for it. */
static const uint32_t kNoColour = 0xFFFFFFFF;

const int g_ddGDILineRop[16] = {
    R2_BLACK,      R2_MASKPEN,     R2_MASKPENNOT,  R2_COPYPEN,   R2_MASKNOTPEN, R2_NOP,
    R2_XORPEN,     R2_MERGEPEN,    R2_NOTMERGEPEN, R2_NOTXORPEN, R2_NOT,        R2_MERGEPENNOT,
    R2_NOTCOPYPEN, R2_MERGENOTPEN, R2_NOTMASKPEN,  R2_WHITE,
};

const DWORD g_ddGDIPatternRop[16] = {
    0x00000042, 0x00A000C9, 0x00500325, 0x00F00021, 0x000A0329, 0x00AA0029, 0x005A0049, 0x00FA0089,
    0x000500A9, 0x00A50065, 0x00550009, 0x00F50225, 0x000F0001, 0x00AF0229, 0x005F00E9, 0x00FF0062,
};

/* A pen or brush cache passing this many entries drops its unused ones. */
static const int32_t kCachePurgeLimit = 256;
/* Counts one drawing call accepts; keeps every size computation far from
 * overflowing in this 32-bit process. */
static const int32_t kMaxDrawCount = 1 << 20;

struct DdGDICache {
    DdPenBrushCacheEntry* head;
    DdPenBrushCacheEntry* tail;
    int32_t count;
};

static DdGC* s_gcHead;
static DdGC* s_gcTail;
static DdGDICache s_pens;
static DdGDICache s_brushes;
static HWND s_caretOwner;
static HGDIOBJ s_nullPen;
static HGDIOBJ s_nullBrush;
static DWORD* s_polyCounts;
static int32_t s_polyCountsCap;
static POINT* s_rectPoints;
static int32_t s_rectPointsCap;
static HCURSOR s_cursors[DD_GDI_CURSOR_COUNT];
static HCURSOR s_builtHand;

static HGDIOBJ ddGDINullPen() {
    if (!s_nullPen) s_nullPen = GetStockObject(NULL_PEN);
    return s_nullPen;
}

static HGDIOBJ ddGDINullBrush() {
    if (!s_nullBrush) s_nullBrush = GetStockObject(NULL_BRUSH);
    return s_nullBrush;
}

/* ---- contexts ---- */

void diGDIInitGC(DdGC* gc) {
    gc->next = gc->prev = nullptr;
    gc->foreground = kNoColour;
    gc->background = kNoColour;
    gc->function = 3;
    gc->cursorShape = 0;
    gc->cursor = ddGDICursor(0);
}

DdGC* ddGDICreateGC() {
    DdGC* gc = static_cast<DdGC*>(calloc(1, sizeof(DdGC)));
    if (!gc) return nullptr;
    diGDIInitGC(gc);
    gc->prev = s_gcTail;
    if (s_gcTail)
        s_gcTail->next = gc;
    else
        s_gcHead = gc;
    s_gcTail = gc;
    return gc;
}

int32_t ddGDILiveContexts() {
    int32_t n = 0;
    for (DdGC* gc = s_gcHead; gc; gc = gc->next) n++;
    return n;
}

void ddGDIFreeGC(DdGC* gc) {
    if (!gc) return;
    ddGDIDetach(gc);
    if (gc->owned) DeleteObject(gc->owned);
    if (gc->prev)
        gc->prev->next = gc->next;
    else if (s_gcHead == gc)
        s_gcHead = gc->next;
    if (gc->next)
        gc->next->prev = gc->prev;
    else if (s_gcTail == gc)
        s_gcTail = gc->prev;
    free(gc);
}

/* Selects the cached pen of the foreground colour unless one is selected. */
static void ddGDIEnsurePen(DdGC* gc) {
    if (gc->pen || !gc->hdc || gc->foreground == kNoColour) return;
    DdPenBrushCacheEntry* e = ddGDIFindPen(gc->foreground);
    if (!e) return;
    ddGDISelectPen(gc, e);
    /* A pen Windows could not make stays unselected: give back the
     * reference the lookup took, or the entry could never be purged. */
    if (gc->pen != e) e->refCount--;
}

static void ddGDIEnsureBrush(DdGC* gc) {
    if (gc->brush || !gc->hdc || gc->foreground == kNoColour) return;
    DdPenBrushCacheEntry* e = ddGDIFindBrush(gc->foreground);
    if (!e) return;
    ddGDISelectBrush(gc, e);
    if (gc->brush != e) e->refCount--;
}

void ddGDIAttach(DdGC* gc, HWND hwnd, HDC hdc) {
    /* The pen and brush held belong to the old device context: let go of
     * them there, or the new one would draw with whatever it has. */
    if (gc->hdc && gc->hdc != hdc) ddGDIDetach(gc);
    gc->hwnd = hwnd;
    gc->hdc = hdc;
    if (!hdc) return;
    /* A context whose state was set before it had a device context carries
     * it over, so the first drawing call already uses it. */
    if (gc->function != 3) SetROP2(hdc, g_ddGDILineRop[gc->function]);
    if (gc->foreground != kNoColour) SetTextColor(hdc, gc->foreground | kPaletteRelative);
    if (gc->background != kNoColour) SetBkColor(hdc, gc->background | kPaletteRelative);
    ddGDIEnsurePen(gc);
    ddGDIEnsureBrush(gc);
}

void ddGDIDetach(DdGC* gc) {
    if (gc->hdc) {
        ddGDISelectBrush(gc, nullptr);
        ddGDISelectPen(gc, nullptr);
        if (gc->originalPalette) SelectPalette(gc->hdc, gc->originalPalette, FALSE);
        if (gc->originalFont) SelectObject(gc->hdc, gc->originalFont);
    }
    gc->originalPalette = nullptr;
    gc->palette = nullptr;
    gc->originalFont = nullptr;
    gc->font = nullptr;
    if (gc->hwnd && s_caretOwner == gc->hwnd) {
        HideCaret(gc->hwnd);
        s_caretOwner = nullptr;
    }
    gc->hwnd = nullptr;
    gc->hdc = nullptr;
}

void ddGDISetFunction(DdGC* gc, uint32_t function) {
    if (function > 15 || function == gc->function) return;
    if (gc->hdc) SetROP2(gc->hdc, g_ddGDILineRop[function]);
    gc->function = function;
}

void ddGDISetForeground(DdGC* gc, uint32_t colour) {
    if (gc->brush && gc->brush->colour != colour) ddGDISelectBrush(gc, nullptr);
    if (gc->pen && gc->pen->colour != colour) ddGDISelectPen(gc, nullptr);
    if (colour == gc->foreground) return;
    if (gc->hdc) SetTextColor(gc->hdc, colour | kPaletteRelative);
    gc->foreground = colour;
}

void ddGDISetBackground(DdGC* gc, uint32_t colour) {
    if (colour == gc->background) return;
    if (gc->hdc) SetBkColor(gc->hdc, colour | kPaletteRelative);
    gc->background = colour;
}

HPALETTE ddGDISelectPalette(DdGC* gc, HPALETTE palette, BOOL background) {
    if (palette == gc->palette) return nullptr;
    HPALETTE replaced = gc->palette;
    if (!palette) {
        if (gc->hdc && gc->originalPalette) SelectPalette(gc->hdc, gc->originalPalette, background);
        gc->originalPalette = nullptr;
        gc->palette = nullptr;
        return replaced;
    }
    HPALETTE previous = gc->hdc ? SelectPalette(gc->hdc, palette, background) : nullptr;
    if (!gc->originalPalette) gc->originalPalette = previous;
    gc->palette = palette;
    return previous;
}

HBITMAP ddGDISelectBitmap(DdGC* gc, HBITMAP bitmap) {
    if (bitmap == gc->bitmap) return nullptr;
    HBITMAP replaced = gc->bitmap;
    if (!bitmap) {
        if (gc->hdc && gc->originalBitmap) SelectObject(gc->hdc, gc->originalBitmap);
        gc->originalBitmap = nullptr;
        gc->bitmap = nullptr;
        return replaced;
    }
    HBITMAP previous = gc->hdc ? static_cast<HBITMAP>(SelectObject(gc->hdc, bitmap)) : nullptr;
    if (!gc->originalBitmap) gc->originalBitmap = previous;
    gc->bitmap = bitmap;
    return previous;
}

DiGDIFont* ddGDISelectFont(DdGC* gc, DiGDIFont* font) {
    if (font == gc->font) return font;
    DiGDIFont* previous = gc->font;
    if (!font) {
        if (gc->hdc && gc->originalFont) SelectObject(gc->hdc, gc->originalFont);
        gc->originalFont = nullptr;
        gc->font = nullptr;
        return previous;
    }
    if (gc->hdc) {
        HFONT old = static_cast<HFONT>(SelectObject(gc->hdc, static_cast<HFONT>(font->handle)));
        if (!gc->originalFont) gc->originalFont = old;
    }
    gc->font = font;
    return previous;
}

int ddGDIGetFontMetrics(DdGC* gc, DiGDIFont* font, DdFontMetrics* out) {
    memset(out, 0, sizeof(*out));
    if (!gc->hdc) return 0;
    HGDIOBJ old = nullptr;
    bool swapped = font && font != gc->font;
    if (swapped) old = SelectObject(gc->hdc, static_cast<HFONT>(font->handle));
    TEXTMETRICW tm;
    if (GetTextMetricsW(gc->hdc, &tm)) {
        out->averageWidth = tm.tmAveCharWidth;
        out->height = tm.tmHeight;
        out->ascent = tm.tmAscent;
        out->descent = tm.tmDescent;
    }
    if (swapped && old) SelectObject(gc->hdc, old);
    return 0;
}

void ddGDISetCursor(DdGC* gc, uint32_t index) {
    gc->cursorShape = index;
    gc->cursor = ddGDICursor(index);
    POINT pt;
    if (gc->hwnd && GetCursorPos(&pt) && WindowFromPoint(pt) == gc->hwnd) SetCursor(gc->cursor);
}

HWND ddGDIGetWindow(const DdGC* gc) {
    return gc ? gc->hwnd : nullptr;
}
HDC ddGDIGetDC(const DdGC* gc) {
    return gc ? gc->hdc : nullptr;
}
HPALETTE ddGDIGetPalette(const DdGC* gc) {
    return gc ? gc->palette : nullptr;
}
HCURSOR ddGDIGetCursor(const DdGC* gc) {
    return gc ? gc->cursor : nullptr;
}

/* ---- drawing ---- */

void ddGDIFillRect(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!gc->hdc) return;
    ddGDIEnsureBrush(gc);
    PatBlt(gc->hdc, x, y, width, height, g_ddGDIPatternRop[gc->function & 15]);
}

void ddGDIFillRectangles(DdGC* gc, int32_t count, const DdGCRect* rects) {
    if (!gc->hdc || count <= 0 || !rects) return;
    ddGDIEnsureBrush(gc);
    DWORD rop = g_ddGDIPatternRop[gc->function & 15];
    for (int32_t i = 0; i < count; i++)
        PatBlt(gc->hdc, rects[i].x, rects[i].y, rects[i].width, rects[i].height, rop);
}

void ddGDIPolyline(DdGC* gc, int32_t count, const DdGCPoint* points) {
    if (!gc->hdc || count < 2 || count > kMaxDrawCount || !points) return;
    ddGDIEnsurePen(gc);
    Polyline(gc->hdc, reinterpret_cast<const POINT*>(points), count);
}

/* Grows a scratch array kept between calls; false when it cannot. */
template <typename T> static bool ddGDIGrow(T** array, int32_t* cap, int32_t need) {
    if (need <= *cap) return true;
    if (need > kMaxDrawCount * 5) return false;
    T* grown = static_cast<T*>(realloc(*array, static_cast<size_t>(need) * sizeof(T)));
    if (!grown) return false;
    *array = grown;
    *cap = need;
    return true;
}

static bool ddGDIPairCounts(int32_t count) {
    if (!ddGDIGrow(&s_polyCounts, &s_polyCountsCap, count)) return false;
    return true;
}

void ddGDIPolySegment(DdGC* gc, int32_t count, const DdGCPoint* points) {
    if (!gc->hdc || count <= 0 || count > kMaxDrawCount || !points || !ddGDIPairCounts(count))
        return;
    for (int32_t i = 0; i < count; i++)
        s_polyCounts[i] = 2;
    ddGDIEnsurePen(gc);
    PolyPolyline(gc->hdc, reinterpret_cast<const POINT*>(points), s_polyCounts, count);
}

void ddGDIPolyRectangle(DdGC* gc, int32_t count, const DdGCRect* rects) {
    if (!gc->hdc || count <= 0 || count > kMaxDrawCount || !rects) return;
    if (!ddGDIPairCounts(count) || !ddGDIGrow(&s_rectPoints, &s_rectPointsCap, count * 5)) return;
    for (int32_t i = 0; i < count; i++) {
        const DdGCRect& r = rects[i];
        POINT* p = s_rectPoints + i * 5;
        p[0] = {r.x, r.y};
        p[1] = {r.x + r.width, r.y};
        p[2] = {r.x + r.width, r.y + r.height};
        p[3] = {r.x, r.y + r.height};
        p[4] = {r.x, r.y};
        s_polyCounts[i] = 5;
    }
    ddGDIEnsurePen(gc);
    PolyPolyline(gc->hdc, s_rectPoints, s_polyCounts, count);
}

void ddGDIFillPolygon(DdGC* gc, int32_t count, const DdGCPoint* points) {
    if (!gc->hdc || count < 3 || count > kMaxDrawCount || !points) return;
    ddGDIEnsureBrush(gc);
    ddGDISelectPen(gc, nullptr);
    Polygon(gc->hdc, reinterpret_cast<const POINT*>(points), count);
}

void ddGDIFillSolid(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
    if (!gc->hdc) return;
    ddGDISetBackground(gc, colour);
    RECT r = {x, y, x + width, y + height};
    ExtTextOutW(gc->hdc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void ddGDITextOut(DdGC* gc, int32_t x, int32_t y, const DdGCRect* rect, const DiChar* text,
                  int32_t count, const int32_t* advances) {
    if (!gc->hdc || count < 0 || (count > 0 && !text)) return;
    RECT r;
    UINT options = 0;
    if (rect) {
        r = {rect->x, rect->y, rect->x + rect->width, rect->y + rect->height};
        options = ETO_OPAQUE | ETO_CLIPPED;
    }
    ExtTextOutW(gc->hdc, x, y, options, rect ? &r : nullptr, ddW(text), static_cast<UINT>(count),
                reinterpret_cast<const INT*>(advances));
}

void ddGDIDrawText(DdGC* gc, int32_t x, int32_t y, int32_t width, int32_t height,
                   const DiChar* text, uint32_t options) {
    if (!gc->hdc || !text) return;
    UINT format = DT_NOPREFIX;
    if (options & DD_GDI_TEXT_WORDBREAK) format |= DT_WORDBREAK;
    if (g_ddApp && g_ddApp->major4) {
        if (options & DD_GDI_TEXT_ELLIPSIS) format |= DT_END_ELLIPSIS;
        if (options & DD_GDI_TEXT_EDITCONTROL) format |= DT_EDITCONTROL;
    }
    RECT box = {x, y, x + width, y + height};
    if (options & DD_GDI_TEXT_SINGLELINE) {
        format |= DT_SINGLELINE;
        if (options & DD_GDI_TEXT_VCENTER) format |= DT_VCENTER;
        DrawTextW(gc->hdc, ddW(text), -1, &box, format);
        return;
    }
    RECT measured = box;
    int textHeight = DrawTextW(gc->hdc, ddW(text), -1, &measured, format | DT_CALCRECT);
    if (textHeight < 1) return;
    if ((options & DD_GDI_TEXT_VCENTER) && textHeight < height) {
        box.top = y + (height - textHeight) / 2;
        box.bottom = box.top + textHeight;
    }
    DrawTextW(gc->hdc, ddW(text), -1, &box, format);
}

void ddGDIScrollArea(DdGC* gc, int32_t dx, int32_t dy, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
    if (!gc->hwnd) return;
    RECT r = {x, y, x + width, y + height};
    ScrollWindow(gc->hwnd, dx, dy, &r, nullptr);
    UpdateWindow(gc->hwnd);
}

void ddGDIBeep() {
    MessageBeep(1);
}

/* ---- caret ---- */

void ddGDICreateCaret(DdGC* gc, int32_t width, int32_t height) {
    if (gc->hwnd) CreateCaret(gc->hwnd, nullptr, width, height);
}

void ddGDISetCaretPos(DdGC*, int32_t x, int32_t y) {
    SetCaretPos(x, y);
}

void ddGDIShowCaret(DdGC* gc, int show) {
    if (!gc->hwnd) return;
    if (show) {
        if (s_caretOwner) return;
        ShowCaret(gc->hwnd);
        s_caretOwner = gc->hwnd;
    } else if (s_caretOwner == gc->hwnd) {
        HideCaret(gc->hwnd);
        s_caretOwner = nullptr;
    }
}

HWND ddGDICaretOwner() {
    return s_caretOwner;
}

/* ---- pen and brush caches ---- */

static void ddGDICacheUnlink(DdGDICache* cache, DdPenBrushCacheEntry* e) {
    if (e->prev)
        e->prev->next = e->next;
    else
        cache->head = e->next;
    if (e->next)
        e->next->prev = e->prev;
    else
        cache->tail = e->prev;
    cache->count--;
}

/* Deletes the entries of one cache, all of them or only the unreferenced. */
static void ddGDICachePurge(DdGDICache* cache, bool brushes, bool all) {
    DdPenBrushCacheEntry* e = cache->head;
    while (e) {
        DdPenBrushCacheEntry* next = e->next;
        if (all || e->refCount < 1) {
            DdGC* holder = e->holder;
            if (holder && (brushes ? holder->brush : holder->pen) == e) {
                if (brushes)
                    ddGDISelectBrush(holder, nullptr);
                else
                    ddGDISelectPen(holder, nullptr);
            }
            /* A holder that moved on to another entry has that one in its
             * device context, not this. */
            e->holder = nullptr;
            if (e->handle) DeleteObject(e->handle);
            ddGDICacheUnlink(cache, e);
            free(e);
        }
        e = next;
    }
}

void ddGDIPurgeUnused() {
    ddGDICachePurge(&s_pens, false, false);
    ddGDICachePurge(&s_brushes, true, false);
}

void ddGDIPurgeObjectCaches() {
    for (DdGC* gc = s_gcHead; gc; gc = gc->next) {
        ddGDISelectPen(gc, nullptr);
        ddGDISelectBrush(gc, nullptr);
    }
    ddGDICachePurge(&s_pens, false, true);
    ddGDICachePurge(&s_brushes, true, true);
}

static DdPenBrushCacheEntry* ddGDICacheFind(DdGDICache* cache, uint32_t colour) {
    for (DdPenBrushCacheEntry* e = cache->head; e; e = e->next) {
        if (e->colour == colour) {
            e->refCount++;
            return e;
        }
    }
    DdPenBrushCacheEntry* e =
        static_cast<DdPenBrushCacheEntry*>(calloc(1, sizeof(DdPenBrushCacheEntry)));
    if (!e) return nullptr;
    e->refCount = 1;
    e->colour = colour;
    e->prev = cache->tail;
    if (cache->tail)
        cache->tail->next = e;
    else
        cache->head = e;
    cache->tail = e;
    if (++cache->count > kCachePurgeLimit) ddGDIPurgeUnused();
    return e;
}

DdPenBrushCacheEntry* ddGDIFindPen(uint32_t colour) {
    return ddGDICacheFind(&s_pens, colour);
}

DdPenBrushCacheEntry* ddGDIFindBrush(uint32_t colour) {
    return ddGDICacheFind(&s_brushes, colour);
}

int32_t ddGDICacheCount(int brushes) {
    return brushes ? s_brushes.count : s_pens.count;
}

DdPenBrushCacheEntry* ddGDICacheHead(int brushes) {
    return brushes ? s_brushes.head : s_pens.head;
}

DdGC* ddGDISelectPen(DdGC* gc, DdPenBrushCacheEntry* entry) {
    if (entry == gc->pen) return nullptr;
    if (!entry) {
        DdPenBrushCacheEntry* current = gc->pen;
        if (gc->hdc) SelectObject(gc->hdc, ddGDINullPen());
        gc->originalPen = nullptr;
        if (current->holder == gc) current->holder = nullptr;
        current->refCount--;
        gc->pen = nullptr;
        return nullptr;
    }
    if (!entry->handle) {
        entry->handle = CreatePen(PS_SOLID, 0, entry->colour | kPaletteRelative);
        if (!entry->handle) return nullptr;
    }
    if (gc->hdc) {
        HPEN previous = static_cast<HPEN>(SelectObject(gc->hdc, entry->handle));
        if (!gc->originalPen) gc->originalPen = previous;
    }
    if (gc->pen && gc->pen->holder == gc) gc->pen->holder = nullptr;
    DdGC* previousHolder = entry->holder;
    entry->holder = gc;
    gc->pen = entry;
    return previousHolder;
}

DdGC* ddGDISelectBrush(DdGC* gc, DdPenBrushCacheEntry* entry) {
    if (entry == gc->brush) return nullptr;
    if (!entry) {
        DdPenBrushCacheEntry* current = gc->brush;
        if (gc->hdc) SelectObject(gc->hdc, ddGDINullBrush());
        if (current->holder == gc) current->holder = nullptr;
        current->refCount--;
        gc->brush = nullptr;
        return nullptr;
    }
    if (!entry->handle) {
        entry->handle = CreateSolidBrush(entry->colour | kPaletteRelative);
        if (!entry->handle) return nullptr;
    }
    if (gc->hdc) SelectObject(gc->hdc, entry->handle);
    if (gc->brush && gc->brush->holder == gc) gc->brush->holder = nullptr;
    DdGC* previousHolder = entry->holder;
    entry->holder = gc;
    gc->brush = entry;
    return previousHolder;
}

/* ---- fonts ---- */

DiGDIFont* ddGDICreateFont(DdGC*, const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                           uint32_t eastEuropean) {
    DiGDIFont* font = diGDIFontNew(face, width, height, bold, eastEuropean);
    if (!font) return nullptr;
    LOGFONTW lf;
    memset(&lf, 0, sizeof(lf));
    lf.lfHeight = -height;
    lf.lfWidth = width;
    lf.lfWeight = bold ? 700 : 400;
    lf.lfCharSet = eastEuropean ? 238 : 1;
    /* The face is cut to the room LOGFONT has, keeping the terminator. */
    const DiChar* src = font->face;
    for (size_t i = 0; i + 1 < DI_COUNTOF(lf.lfFaceName) && src[i]; i++)
        lf.lfFaceName[i] = static_cast<wchar_t>(src[i]);
    HFONT handle = CreateFontIndirectW(&lf);
    if (!handle) {
        diGDIFontFreeRecord(font);
        return nullptr;
    }
    font->handle = handle;
    diGDIFontAppend(font);
    return font;
}

void ddGDIDeleteFont(DdGC*, DiGDIFont* font) {
    if (!font) return;
    diGDIFontUnlink(font);
    if (font->handle) DeleteObject(static_cast<HFONT>(font->handle));
    diGDIFontFreeRecord(font);
}

/* ---- palette ---- */

HPALETTE ddGDICreateIdentityPalette() {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } pal;
    memset(&pal, 0, sizeof(pal));
    pal.version = 0x300;
    pal.count = 256;
    for (int i = 1; i < 255; i++)
        pal.entries[i].peFlags = PC_NOCOLLAPSE;
    pal.entries[255].peRed = pal.entries[255].peGreen = pal.entries[255].peBlue = 255;
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&pal));
}

/* ---- cursors ---- */

static LPCWSTR const kCursorIds[DD_GDI_CURSOR_COUNT] = {
    IDC_ARROW,    IDC_CROSS,  IDC_IBEAM,  IDC_WAIT,   IDC_SIZENESW, IDC_SIZENWSE, IDC_SIZENWSE,
    IDC_SIZENESW, IDC_SIZENS, IDC_SIZENS, IDC_SIZEWE, IDC_SIZEWE,   IDC_HAND,     IDC_SIZEALL,
};

/* A pointing hand drawn on a 16 by 16 grid ('#' black, '.' white, ' '
 * transparent), scaled by whole pixels to the cursor size. */
static const char* const kHandShape[16] = {
    "   ##           ", "  #..#          ", "  #..#          ", "  #..#          ",
    "  #..###        ", "  #..#..###     ", "  #..#..#..##   ", "###..#..#..#.#  ",
    "#.#.........#.# ", "#.#...........# ", " #............# ", " #...........#  ",
    "  #..........#  ", "   #........#   ", "    #.......#   ", "    #########   ",
};

HCURSOR ddGDIBuildHandCursor(int size) {
    if (size != 32 && size != 16) return nullptr;
    int scale = size / 16;
    int stride = size / 8;
    BYTE andMask[32 * 4];
    BYTE xorMask[32 * 4];
    memset(andMask, 0xFF, sizeof(andMask));
    memset(xorMask, 0, sizeof(xorMask));
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            char c = kHandShape[y / scale][x / scale];
            if (c == ' ') continue;
            BYTE bit = static_cast<BYTE>(0x80 >> (x & 7));
            andMask[y * stride + x / 8] &= static_cast<BYTE>(~bit);
            if (c == '.') xorMask[y * stride + x / 8] |= bit;
        }
    }
    int hotX = size == 32 ? 8 : 4;
    int hotY = size == 32 ? 1 : 0;
    return CreateCursor(GetModuleHandleW(nullptr), hotX, hotY, size, size, andMask, xorMask);
}

static HCURSOR ddGDILoadHandFallback() {
    wchar_t path[MAX_PATH + 16];
    UINT n = GetWindowsDirectoryW(path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        wcscat(path, L"\\winhlp32.exe");
        HMODULE help = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (help) {
            HCURSOR c = LoadCursorW(help, MAKEINTRESOURCEW(106));
            HCURSOR copy = c ? CopyCursor(c) : nullptr;
            FreeLibrary(help);
            if (copy) return copy;
        }
    }
    return ddGDIBuildHandCursor(GetSystemMetrics(SM_CXCURSOR));
}

void ddGDILoadCursors() {
    for (uint32_t i = 0; i < DD_GDI_CURSOR_COUNT; i++)
        s_cursors[i] = LoadCursorW(nullptr, kCursorIds[i]);
    if (!s_cursors[12]) {
        s_builtHand = ddGDILoadHandFallback();
        s_cursors[12] = s_builtHand ? s_builtHand : s_cursors[0];
    }
}

HCURSOR ddGDICursor(uint32_t index) {
    return s_cursors[index < DD_GDI_CURSOR_COUNT ? index : 0];
}

void ddGDIShutdown() {
    free(s_polyCounts);
    s_polyCounts = nullptr;
    s_polyCountsCap = 0;
    free(s_rectPoints);
    s_rectPoints = nullptr;
    s_rectPointsCap = 0;
    ddGDIPurgeObjectCaches();
    if (s_builtHand) {
        if (s_cursors[12] == s_builtHand) s_cursors[12] = s_cursors[0];
        DestroyCursor(s_builtHand);
        s_builtHand = nullptr;
    }
}
