/* The X display's Windows side: channel creation and destruction, the root
 * screen buffer (a bottom-up DIB section shared by every window), painting,
 * colormaps as palettes, cursors, icons and the hooks the frame and view
 * windows read. */
#include "xde/ddxde.h"
#include "xde/ddxint.h"
#include "xde/ddxplugin.h"
#include "xde/ddxmirror.h"
#include "xde/ddxedit.h"
#include "xde/ddxmulti.h"

#include "fb/fb.h"
#include "core/ddapp.h"
#include "devices/dddevices.h"
#include "tde/ditde.h"
#include "ui/ddui.h"
#include "ui/ddcolor.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/ddxhooks.h"
#include "ui/ddxkeys.h"
#include "ui/ddxpix.h"
#include "xde/ddxclip.h"
#include "xde/ddxswm.h"
#include "xde/dixbits.h"
#include "xde/dixframe.h"
#include "xde/dixscreen.h"
#include "xde/dixseamless.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

DiXDisplay* g_ddXFocusedDisplay;

namespace {

DdXDisplay* dev(DiXDisplay* d) {
    return ddXDev(d);
}

HDC viewDC(DiXDisplay* d) {
    return ddXViewDC(d);
}

/* Colormaps: each has a device colour map (its cells, entries and logical
 * palette). The colormap's palette is the screen's while it is installed. */
DdColorMap* mapOf(DiXColormap* cmap) {
    return reinterpret_cast<DdXColormapRecord*>(cmap)->map;
}

int screenBits(HDC dc) {
    return dc ? GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) : 24;
}

int createColormap(DiXDisplay* d, DiXColormap* cmap) {
    DdXColormapRecord* r = reinterpret_cast<DdXColormapRecord*>(cmap);
    r->map = ddColorMapCreate(screenBits(viewDC(d)), -1, -1);
    return r->map ? 0 : -1;
}

/* Every GDI context showing the display with the frame around it: the
 * root's view, then each window 1-255 that has a frame of its own. */
template <class F> void eachView(DiXDisplay* d, F f) {
    if (d->ch.hdr.gc) f(d->ch.hdr.gc, reinterpret_cast<DiFrame*>(diUIFindTopFrame(&d->ch.hdr)));
    for (uint32_t id = 1; id < DI_XWINDOWS; id++) {
        DiXWindow* w = d->windows[id];
        if (w && w->frame && w->frame->windowId == id && w->frame->hdr.gc)
            f(w->frame->hdr.gc, reinterpret_cast<DiFrame*>(w->frame->frame));
    }
}

/* The installed palette's entries changed: windows drawn, pens and brushes
 * made with the old colours are stale, so all of them are redone. */
void updatePalette(DiXDisplay* d, DdColorMap* map) {
    HPALETTE pal = ddColorMapPalette(map);
    if (dev(d)->palette != pal) return;
    ddColorUpdatePalette(map);
    ddGDIPurgeObjectCaches();
    UnrealizeObject(pal);
    if (DdGC* gc = d->ch.hdr.gc) {
        ddGDISelectPalette(gc, pal, FALSE);
        if (HDC dc = ddGDIGetDC(gc)) RealizePalette(dc);
    }
    eachView(d, [](DdGC* gc, DiFrame*) {
        if (HWND h = ddGDIGetWindow(gc)) InvalidateRect(h, nullptr, FALSE);
    });
}

/* A palette screen shares its entries among the colormap's cells (a cell
 * without one of its own is dithered). Elsewhere cell i owns entry i, as
 * the 8-bit buffer's colour table shows pixel i through entry i. */
void storeCell(DdColorMap* map, uint32_t i, uint32_t colour) {
    DdColorCell* cell = ddColorMapCell(map, i);
    if (map->depth <= 8) {
        ddColorAllocXColor(map, cell, colour);
        return;
    }
    diColorFreeEntry(map, i);
    if (ddColorAlloc(map, colour, i, -1, DI_COLOR_PRIVATE) != int(i)) return;
    cell->reqRed = cell->red = uint8_t(colour);
    cell->reqGreen = cell->green = uint8_t(colour >> 8);
    cell->reqBlue = cell->blue = uint8_t(colour >> 16);
    cell->index = i;
    cell->flags = DI_COLOR_PRIVATE;
    map->changed = 1;
}

void storeColors(DiXDisplay* d, DiXColormap* cmap, uint32_t first, uint32_t count) {
    DdColorMap* map = mapOf(cmap);
    if (!map || first >= 256) return;
    if (count > 256 - first) count = 256 - first;
    for (uint32_t i = first; i < first + count; i++) {
        const uint8_t* e = cmap->entries[i];
        storeCell(map, i, uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16);
    }
    updatePalette(d, map);
}

void installColormap(DiXDisplay* d, DiXColormap* cmap) {
    DdColorMap* map = mapOf(cmap);
    DdXDisplay* x = dev(d);
    if (!map) return;
    HPALETTE pal = ddColorMapPalette(map);
    x->palette = pal;
    if (x->rootDC) {
        ddColorMapSetDIBTarget(map, x->rootDC);
        HPALETTE old = SelectPalette(x->rootDC, pal, FALSE);
        if (!x->rootOldPalette) x->rootOldPalette = old;
    }
    eachView(d, [pal](DdGC* gc, DiFrame* frame) {
        ddGDISelectPalette(gc, pal, FALSE);
        if (frame) ddUISetFramePalette(frame, pal);
    });
    /* Dithered pixels of a deeper X screen name the map's cube entries. */
    if (d->depth > 8 && screenBits(viewDC(d)) <= 8) updatePalette(d, map);
}

void freeColormap(DiXDisplay* d, DiXColormap* cmap) {
    DdXColormapRecord* r = reinterpret_cast<DdXColormapRecord*>(cmap);
    DdXDisplay* x = dev(d);
    if (!r->map) return;
    /* A palette selected into a DC cannot be deleted: take it out first. */
    HPALETTE pal = ddColorMapPalette(r->map);
    if (x->rootDC && x->rootOldPalette &&
        GetCurrentObject(x->rootDC, OBJ_PAL) == static_cast<HGDIOBJ>(pal)) {
        SelectPalette(x->rootDC, x->rootOldPalette, FALSE);
        x->rootOldPalette = nullptr;
    }
    eachView(d, [pal](DdGC* gc, DiFrame* frame) {
        if (ddGDIGetPalette(gc) == pal) ddGDISelectPalette(gc, nullptr, FALSE);
        if (frame && reinterpret_cast<DdFrame*>(frame)->palette == pal)
            ddUISetFramePalette(frame, ddColorDefaultPalette());
    });
    if (x->palette == pal) x->palette = nullptr;
    /* The dither falls back to the application's map, whose cube is the same. */
    if (x->ditherMap == r->map) x->ditherMap = g_ddApp ? g_ddApp->colorMap : nullptr;
    ddColorMapDestroy(r->map);
    r->map = nullptr;
}

/* Pixmaps, fonts and glyphs live in src/fb; GCs too, with the GDI mirror
 * (ddxmirror). */
int createPixmap(DiXDisplay* d, DiXPixmap* p) {
    FbBuffer& b = p->head.fb;
    b.width = p->head.width;
    b.height = p->head.height;
    b.depth = p->head.depth;
    b.bytesPerPixel = p->head.depth == 24 ? 3 : p->head.depth / 8;
    return fbCreatePixmap(d, &b) < 0 ? -1 : 0;
}
void freePixmap(DiXDisplay* d, DiXPixmap* p) {
    fbDestroyPixmap(d, &p->head.fb);
}
int createFont(DiXDisplay*, DiXFont*) {
    return 0;
}
void freeFont(DiXDisplay*, DiXFont*) {}
int createGlyph(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph) {
    return fbCreateGlyph(d, font, &glyph->fb) < 0 ? -1 : 0;
}
void putGlyphBits(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t compression, uint32_t length,
                  const uint8_t* data) {
    fbPutGlyphImage(d, font, &glyph->fb, x, y, width, height, compression, length, data);
}
void freeGlyph(DiXDisplay* d, DiXFont* font, DiXGlyph* glyph) {
    fbFreeGlyph(d, font, &glyph->fb);
}

/* The root's buffer is a DIB section selected into a memory DC; every
 * other window borrows both. */
void freeRootBuffer(DdXDisplay* x) {
    if (x->rootDC) {
        if (x->rootOldPalette) SelectPalette(x->rootDC, x->rootOldPalette, FALSE);
        if (x->rootOldBitmap) SelectObject(x->rootDC, x->rootOldBitmap);
        DeleteDC(x->rootDC);
    }
    if (x->rootBitmap) DeleteObject(x->rootBitmap);
    free(x->ditherPixels);
    x->ditherPixels = nullptr;
    x->dither = nullptr;
    x->ditherMap = nullptr;
    x->rootDC = nullptr;
    x->rootBitmap = nullptr;
    x->rootOldBitmap = nullptr;
    x->rootOldPalette = nullptr;
}

int createRootBuffer(DiXDisplay* d, DiXWindow* w) {
    DdXDisplay* x = dev(d);
    DiXScreenLayout l;
    /* Screens of 8 bits or fewer show the X pixels dithered onto the cube
     * of the colormap's device map (the application's before there is one). */
    DdColorMap* cmapMap = d->colormap ? mapOf(d->colormap) : nullptr;
    DdColorMap* map = cmapMap ? cmapMap : g_ddApp ? g_ddApp->colorMap : nullptr;
    int dither =
        screenBits(viewDC(d)) <= 8 && map && map->depth <= 8 && fbDitherInit(map->cubeSize) == 0;
    if (diXScreenLayout(w->head.width, w->head.height, w->head.depth, dither, &l) < 0) return -1;
    DdXBitmapInfo info;
    if (ddXPixmapSetBitmapInfo(&info, w->head.width, w->head.height, int32_t(l.dibDepth)) < 0)
        return -1;
    x->rootDC = CreateCompatibleDC(viewDC(d));
    if (!x->rootDC) return -1;
    HPALETTE shown = dither || cmapMap ? ddColorMapPalette(map) : nullptr;
    if (shown) x->rootOldPalette = SelectPalette(x->rootDC, shown, FALSE);
    void* bits = nullptr;
    x->rootBitmap = CreateDIBSection(x->rootDC, info.get(),
                                     l.dibDepth == 8 ? DIB_PAL_COLORS : DIB_RGB_COLORS, &bits,
                                     nullptr, 0);
    if (!x->rootBitmap || !bits) {
        freeRootBuffer(x);
        return -1;
    }
    x->rootOldBitmap = SelectObject(x->rootDC, x->rootBitmap);
    if (dither) {
        x->ditherPixels = static_cast<uint8_t*>(calloc(size_t(l.bytes), 1));
        if (!x->ditherPixels) {
            freeRootBuffer(x);
            return -1;
        }
        x->ditherMap = map;
        x->dither = w->head.depth == 8 ? fbDither8 : w->head.depth == 16 ? fbDither16 : fbDither24;
        d->flags |= DI_XFLAG_DITHER;
    } else {
        d->flags &= ~DI_XFLAG_DITHER;
    }
    if (cmapMap && x->palette == ddColorMapPalette(cmapMap)) {
        ddColorMapSetDIBTarget(cmapMap, x->rootDC);
        ddColorUpdatePalette(cmapMap);
    }
    FbBuffer& b = w->head.fb;
    b.width = w->head.width;
    b.height = w->head.height;
    b.depth = w->head.depth;
    b.bytesPerPixel = l.bytesPerPixel;
    b.stride = l.stride;
    b.bits = dither ? x->ditherPixels : static_cast<uint8_t*>(bits);
    b.dibBits = bits;
    b.dibStride = l.dibStride;
    return 0;
}

int createWindow(DiXDisplay* d, DiXWindow* w) {
    if (w->head.id == 0) return createRootBuffer(d, w);
    /* Close frees the root first: a window never reaches the buffer through
     * a freed root. */
    DiXWindow* root = d->windows[0];
    if (!root || !root->head.fb.bits) return -1;
    w->head.fb = root->head.fb;
    return 0;
}

void destroyIcon(DdXWindowRecord* r) {
    if (r->icon) DestroyIcon(r->icon);
    r->icon = nullptr;
}

void freeWindow(DiXDisplay* d, DiXWindow* w) {
    destroyIcon(reinterpret_cast<DdXWindowRecord*>(w));
    ddXStackForget(d, w->head.id);
    if (w->head.id == 0) {
        if (d->colormap && mapOf(d->colormap)) ddColorMapSetDIBTarget(mapOf(d->colormap), nullptr);
        freeRootBuffer(dev(d));
        /* The other windows' copies of the buffer die with it. */
        for (DiXWindow* o : d->windows)
            if (o && o != w) o->head.fb.bits = nullptr, o->head.fb.dibBits = nullptr;
    }
    w->head.fb = FbBuffer{};
}

void paint(DiXDisplay* d, DiXWindow* w, int32_t count, const DiBox* boxes) {
    DdXDisplay* x = dev(d);
    HDC dc = ddXWindowDC(d, w);
    if (!x->rootDC || !dc) return;
    if (ddXPaintScaled(d, count, boxes)) return;
    GdiFlush();
    const DiXWindow* root = d->windows[0];
    FbDitherImage im{};
    if (x->dither && root) im = fbDitherImageOf(&root->head.fb);
    DdColorMap* map = x->dither ? ddXPaintMap(d) : nullptr;
    for (int32_t i = 0; i < count; i++) {
        const DiBox& b = boxes[i];
        if (b.x2 <= b.x1 || b.y2 <= b.y1) continue;
        if (x->dither && root) {
            x->dither(map, &im, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
            GdiFlush();
        }
        BitBlt(dc, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1, x->rootDC, b.x1, b.y1, SRCCOPY);
    }
}

HWND frameWindow(DiXWindow* w) {
    return ddXFrameWindow(w);
}

/* The frame's caption: the title, or while iconic the icon title; an
 * absent string shows as an empty caption. */
void frameChanged(DiXDisplay*, DiXWindow* w) {
    HWND h = frameWindow(w);
    if (!h) return;
    const DiChar* text = w->frame->showState == 2 ? w->frame->iconTitle : w->frame->title;
    SetWindowTextW(h, text ? reinterpret_cast<const wchar_t*>(text) : L"");
}

void enableWindow(DiXDisplay*, DiXWindow* w, int enable) {
    if (HWND h = frameWindow(w)) EnableWindow(h, enable ? TRUE : FALSE);
}

/* The icon: made from the image pixmap (and its depth-1 mask, opaque
 * without one), given to the frame, and only then is the old one destroyed,
 * so the frame never holds a dead handle and a failed creation keeps the old
 * icon. A depth-1 image gives a monochrome colour plane; depths 8, 16 and 24
 * a copy with the pixels the mask hides cleared, as an icon draws its colour
 * over what the AND mask leaves. An 8-bit pixel names a cell of the
 * display's colormap: the bitmap carries those colours itself, since no
 * device context it is made for has that palette selected. */
void setIcon(DiXDisplay* d, DiXWindow* w, DiXPixmap* image, DiXPixmap* mask) {
    DdXWindowRecord* r = reinterpret_cast<DdXWindowRecord*>(w);
    if (!image || !image->head.fb.bits) return;
    const FbBuffer& b = image->head.fb;
    const FbBuffer* m =
        mask && mask->head.fb.bits && mask->head.depth == 1 ? &mask->head.fb : nullptr;
    std::vector<uint8_t> andPlane, colourBits;
    if (diXIconAndMask(m, uint32_t(b.width), uint32_t(b.height), &andPlane) < 0) return;
    HBITMAP colour = nullptr;
    if (image->head.depth == 1) {
        if (diXIconMonoColor(&b, m, &colourBits) == 0)
            colour = CreateBitmap(b.width, b.height, 1, 1, colourBits.data());
    } else if (image->head.depth == 8 || image->head.depth == 16 || image->head.depth == 24) {
        DdXBitmapInfo info;
        int32_t depth = int32_t(b.depth);
        if (ddXPixmapSetBitmapInfo(&info, b.width, b.height, depth) == 0 &&
            diXIconMaskedColor(&b, m, &colourBits) == 0) {
            if (depth == 8) {
                for (int i = 0; i < 256; i++) {
                    const uint8_t* e = d->colormap ? d->colormap->entries[i] : nullptr;
                    info.colours[i] = e ? RGBQUAD{e[2], e[1], e[0], 0} : RGBQUAD{};
                }
            }
            HDC screen = GetDC(nullptr);
            colour = CreateDIBitmap(screen, &info.header, CBM_INIT, colourBits.data(), info.get(),
                                    DIB_RGB_COLORS);
            ReleaseDC(nullptr, screen);
        }
    }
    HBITMAP andMask = colour ? CreateBitmap(b.width, b.height, 1, 1, andPlane.data()) : nullptr;
    HICON icon = nullptr;
    if (colour && andMask) {
        ICONINFO ii{};
        ii.fIcon = TRUE;
        ii.hbmMask = andMask;
        ii.hbmColor = colour;
        icon = CreateIconIndirect(&ii);
    }
    /* CreateIconIndirect copies the bitmaps. */
    if (colour) DeleteObject(colour);
    if (andMask) DeleteObject(andMask);
    if (!icon) return;
    if (HWND h = frameWindow(w)) {
        SendMessageW(h, WM_SETICON, ICON_BIG, LPARAM(icon));
        SendMessageW(h, WM_SETICON, ICON_SMALL, LPARAM(icon));
    }
    destroyIcon(r);
    r->icon = icon;
}

/* Cursors. */
int createCursor(DiXDisplay*, DiXCursor* cursor, const uint8_t* mask, const uint8_t* source) {
    DdXCursorRecord* r = reinterpret_cast<DdXCursorRecord*>(cursor);
    if (cursor->depth == 32) {
        /* Colour cursors keep their own size; the pixels come as the source. */
        r->handle = ddXCursorFromARGB(cursor, source);
        return r->handle ? 0 : -1;
    }
    int32_t cx = GetSystemMetrics(SM_CXCURSOR), cy = GetSystemMetrics(SM_CYCURSOR);
    if (cx <= 0 || cy <= 0 || cx > 256 || cy > 256) return -1;
    size_t plane = size_t((cx + 15) / 16) * 2 * size_t(cy);
    uint8_t* planes = static_cast<uint8_t*>(malloc(plane * 2));
    if (!planes) return -1;
    int rc = ddXCursorPlanes(cursor, mask, source, cx, cy, planes, planes + plane);
    if (rc == 0) r->handle = ddXCursorFromPlanes(cursor, cx, cy, planes, planes + plane);
    free(planes);
    return r->handle ? 0 : -1;
}

/* Every graphics context that may show the display's cursors: the view's
 * and each frame's. */
template <class F> void forEachContext(DiXDisplay* d, F f) {
    if (d->ch.hdr.gc) f(d->ch.hdr.gc);
    for (DiXWindow* w : d->windows)
        if (w && w->frame && w->frame->hdr.gc) f(w->frame->hdr.gc);
}

void freeCursor(DiXDisplay* d, DiXCursor* cursor) {
    DdXCursorRecord* r = reinterpret_cast<DdXCursorRecord*>(cursor);
    if (!r->handle) return;
    /* Contexts keep the handle and set it on every WM_SETCURSOR: put them
     * back on their standard shape before it goes. */
    forEachContext(d, [&](DdGC* gc) {
        if (gc->cursor == r->handle) ddGDISetCursor(gc, gc->cursorShape);
    });
    if (GetCursor() == r->handle) SetCursor(LoadCursor(nullptr, IDC_ARROW));
    DestroyCursor(r->handle);
    r->handle = nullptr;
}

void setCursor(DiXDisplay*, DdGC* gc, DiXCursor* cursor) {
    DdXCursorRecord* r = reinterpret_cast<DdXCursorRecord*>(cursor);
    if (!gc || !r->handle) return;
    gc->cursor = r->handle;
    POINT pt;
    if (gc->hwnd && GetCursorPos(&pt) && WindowFromPoint(pt) == gc->hwnd) SetCursor(r->handle);
}

void setStandardCursor(DiXDisplay*, DdGC* gc, uint32_t index) {
    if (gc) ddGDISetCursor(gc, index);
}

/* Slot 31: the rectangle (in the coordinates of the window's device
 * context) shows wholly on the screen, asked of the view the window's
 * pixels are copied to; a hidden view or a minimised frame shows nothing.
 * Other windows may cover the rest of the view: only the rectangle's part
 * of the clip counts. */
int probeTargetVisible(DiXDisplay* d, DiXWindow* w, const int32_t rect[4]) {
    DdGC* gc = ddXWindowGC(d, w);
    HWND view = ddGDIGetWindow(gc);
    HDC dc = ddGDIGetDC(gc);
    if (!view || !dc || !IsWindowVisible(view) || IsIconic(GetAncestor(view, GA_ROOT))) return 0;
    RECT want{rect[0], rect[1], rect[0] + rect[2], rect[1] + rect[3]}, clip;
    int saved = SaveDC(dc);
    if (!saved) return 0;
    IntersectClipRect(dc, want.left, want.top, want.right, want.bottom);
    int kind = GetClipBox(dc, &clip);
    RestoreDC(dc, saved);
    return kind == SIMPLEREGION && EqualRect(&clip, &want);
}

/* The virtual screen's origin as the monitor enumeration keeps it: the
 * engine asks on every event of a frame, and asking the system each time
 * costs more than the rest of a key's way to the wire. */
void desktopOrigin(DiXDisplay*, int32_t* x, int32_t* y) {
    *x = g_ddApp ? g_ddApp->virtualScreen.x : 0;
    *y = g_ddApp ? g_ddApp->virtualScreen.y : 0;
}

/* The virtual screen as the monitor enumeration keeps it; asked of the
 * system while nothing has been enumerated yet. */
void desktopSize(DiXDisplay*, int32_t* width, int32_t* height) {
    const bool known =
        g_ddApp && g_ddApp->virtualScreen.width > 0 && g_ddApp->virtualScreen.height > 0;
    *width = known ? g_ddApp->virtualScreen.width : ddMultiMonVirtualWidth();
    *height = known ? g_ddApp->virtualScreen.height : ddMultiMonVirtualHeight();
}

/* Multi-window mode: each X top-level window gets its own Windows frame
 * with a view child; the view's events reach the engine through the frame
 * record, key events translated first as on the display's own view. */
int frameHandler(DiObject* obj, DiEvent* ev) {
    DiXFrame* f = reinterpret_cast<DiXFrame*>(obj);
    if ((ev->w[0] == 3 || ev->w[0] == 4) && f->display) ddXKeyTranslate(f->display->flags, ev);
    /* A frame's Edit menu acts on that frame; its other commands go on. */
    if (ev->w[0] == 17 && ev->w[1] >= 40060 && ev->w[1] <= 40067 && f->display)
        return ddXDEMenuCommand(f->display, &f->hdr, ev);
    if (ddXMultiFrameEvent(f, ev)) return 1;
    return diXDEHandleWindowEvent(f, ev);
}

/* The borders the frame adds around its client area (left, right, top,
 * bottom, as the engine keeps them). */
void measureBorders(HWND frame, int32_t out[4]) {
    RECT wr, cr;
    POINT origin{0, 0};
    if (!GetWindowRect(frame, &wr) || !GetClientRect(frame, &cr) || !ClientToScreen(frame, &origin))
        return;
    DiXBorders b = diXFrameBorders(wr.left, wr.top, wr.right, wr.bottom, origin.x, origin.y,
                                   cr.right - cr.left, cr.bottom - cr.top);
    out[0] = b.left, out[1] = b.right, out[2] = b.top, out[3] = b.bottom;
}

DiXFrame* createFrame(DiXDisplay* d, int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                      uint32_t styleFlags) {
    DdGC* frameGC = ddGDICreateGC();
    DdGC* viewGC = ddGDICreateGC();
    DiXFrame* f = diXCreateFrameWindow(d, viewGC);
    DdFrame* fr = frameGC && viewGC && f
                      ? ddUICreateFrameX(&d->ch.hdr, frameGC, styleFlags & 0x7E, nullptr, x, y,
                                         width, height, 0)
                      : nullptr;
    if (!fr) {
        if (f) diXDestroyFrameWindow(f);
        if (viewGC) ddGDIFreeGC(viewGC);
        if (frameGC) ddGDIFreeGC(frameGC);
        return nullptr;
    }
    fr->xwindow = &f->hdr;
    fr->base.xframe = f;
    diUIFrameListAppend(&fr->base);
    f->frame = &fr->base.hdr;
    f->hdr.handler = frameHandler;
    RECT cr{};
    GetClientRect(fr->window, &cr);
    HWND view = ddUICreateView(&fr->base.hdr, 1, cr.right - cr.left, cr.bottom - cr.top);
    if (!view) {
        /* The frame's teardown frees the record (xframe) with it. */
        fr->xwindow = nullptr;
        diUIDestroyFrame(&fr->base);
        ddGDIFreeGC(viewGC);
        return nullptr;
    }
    ddGDIAttach(viewGC, view, GetDC(view));
    /* The frame took the installed colormap's palette; the view, which
     * blits the pixels, needs it too, or they map through the default one. */
    if (HPALETTE pal = dev(d)->palette) {
        ddGDISelectPalette(viewGC, pal, FALSE);
        RealizePalette(ddGDIGetDC(viewGC));
    }
    ShowWindow(view, SW_SHOWNA);
    measureBorders(fr->window, f->borders);
    return f;
}

void destroyFrame(DiXDisplay*, DiXFrame* f) {
    DdFrame* fr = reinterpret_cast<DdFrame*>(f->frame);
    DdGC* viewGC = f->hdr.gc;
    if (!fr) {
        diXDestroyFrameWindow(f);
        if (viewGC) ddGDIFreeGC(viewGC);
        return;
    }
    HWND view = viewGC ? ddGDIGetWindow(viewGC) : nullptr;
    f->hdr.gc = nullptr;
    fr->xwindow = nullptr;
    /* Frees the record (xframe) and destroys the frame window. */
    diUIDestroyFrame(&fr->base);
    if (view && IsWindow(view)) DestroyWindow(view);
    if (viewGC) ddGDIFreeGC(viewGC);
}

const DdXDeviceVector kVector = {
    /* createColormap */ createColormap,
    /* storeColors */ storeColors,
    /* installColormap */ installColormap,
    /* freeColormap */ freeColormap,
    /* createPixmap */ createPixmap,
    /* freePixmap */ freePixmap,
    /* createGC */ ddXCreateGC,
    /* validateGC */ ddXValidateGC,
    /* freeGC */ ddXFreeGC,
    /* createFont */ createFont,
    /* freeFont */ freeFont,
    /* createGlyph */ createGlyph,
    /* putGlyphBits */ putGlyphBits,
    /* freeGlyph */ freeGlyph,
    /* createWindow */ createWindow,
    /* freeWindow */ freeWindow,
    /* paint */ paint,
    /* gcModeChanged */ nullptr,
    /* showWindow */ ddXMapWindow,
    /* configureWindow */ ddXConfigureWindow,
    /* frameChanged */ frameChanged,
    /* sizeHints */ nullptr,
    /* enableWindow */ enableWindow,
    /* updateWindow */ ddXRedrawWindow,
    /* setIcon */ setIcon,
    /* grabPointer */ ddXGrabPointer,
    /* raiseAndRedraw */ nullptr,
    /* createCursor */ createCursor,
    /* freeCursor */ freeCursor,
    /* setCursor */ setCursor,
    /* restackWindow */ ddXRestackWindow,
    /* probeTargetVisible */ probeTargetVisible,
    /* createFrame */ createFrame,
    /* destroyFrame */ destroyFrame,
    /* setStandardCursor */ setStandardCursor,
    /* sessionStarted */ ddXSessionStarted,
    /* openUrl */ ddXOpenUrl,
    /* launchSelf */ ddXLaunchSelf,
    /* playSound */ ddXPlaySound,
    /* bell */ ddXBell,
    /* pluginInitialize */ ddXPluginInitialize,
    /* pluginTerminate */ ddXPluginTerminate,
    /* pluginCall */ ddXPluginCall,
    /* timeZone */ ddXTimeZone,
    /* freeTimeZone */ ddXFreeTimeZone,
    /* keyboard */ ddXKeyboard,
    /* freeKeyboard */ ddXFreeKeyboard,
    /* desktopOrigin */ desktopOrigin,
    /* desktopSize */ desktopSize,
    /* swmCreateDragWindow */ nullptr,
    /* swmDrawDragOutline */ nullptr,
    /* swmDestroyDragWindow */ nullptr,
    /* swmUpdateStyle */ nullptr,
    /* swmFocus */ nullptr,
    /* setFocus */ nullptr,
};

const DdXRecordSizes kSizes = {sizeof(DdXWindowRecord), 0, sizeof(DdXGCRecord), 0, 0,
                               sizeof(DdXCursorRecord), sizeof(DdXColormapRecord)};

int engineSurface(DiObject* engine, DdXEngineSurface* out) {
    if (!engine || engine->type != DI_OBJ_XDE) return 0;
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(engine);
    DdXDisplay* x = dev(d);
    out->depth = int32_t(d->depth);
    out->bytesPerPixel = d->depth == 24 ? 3 : d->depth / 8;
    out->rootDC = x->rootDC;
    return 1;
}

/* Frames take the engine's sizes as client geometry while the session
 * leaves the frame rectangle to this side (the borders then travel to the
 * server); with extended geometry the request is the frame rectangle. */
uint32_t engineFlags(DiObject* engine) {
    if (!engine || engine->type != DI_OBJ_XDE) return 0;
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(engine);
    return (d->sessionFlags & DI_XSESSION_EXTGEOM) ? 0u : uint32_t(DD_XF_CLIENT_GEOMETRY);
}

HPALETTE enginePalette(DiObject* engine) {
    if (!engine || engine->type != DI_OBJ_XDE) return nullptr;
    return dev(reinterpret_cast<DiXDisplay*>(engine))->palette;
}

/* The display's events: key presses and releases (3, 4) are rewritten from
 * the view's virtual-key code and character into the protocol's key code and
 * character, focus in (12) and out (13) of its view decide which display
 * holds the keyboard focus, and Edit menu commands (17) run here; then the
 * engine handles the event. */
int handleEvent(DiObject* obj, DiEvent* ev) {
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(obj);
    if (ev->w[0] == 3 || ev->w[0] == 4) ddXKeyTranslate(d->flags, ev);
    if (ev->w[0] == 17) {
        /* Menu commands end here; the view's close goes on to the engine. */
        if (ev->w[1] != SC_CLOSE) return ddXDEMenuCommand(d, nullptr, ev);
        ddXDEForgetRootWindow(d);
    }
    if (ev->w[0] == 12)
        g_ddXFocusedDisplay = d;
    else if (ev->w[0] == 13 && g_ddXFocusedDisplay == d)
        g_ddXFocusedDisplay = nullptr;
    return diXDEHandleEvent(obj, ev);
}

/* The display behind an object of an X engine: the display itself, or
 * one of its frames (multi-window and seamless frames keep their display). */
DiXDisplay* displayOf(DiObject* obj) {
    if (!obj || obj->type != DI_OBJ_XDE) return nullptr;
    if (obj->handler == handleEvent) return reinterpret_cast<DiXDisplay*>(obj);
    return reinterpret_cast<DiXFrame*>(obj)->display;
}

/* The input language changed under one of the display's views. */
void notifyDisplayChange(DiObject* obj) {
    if (DiXDisplay* d = displayOf(obj)) diXDENotifyDisplayChange(d);
}

/* The root window's rectangle; the root lies at the virtual screen's
 * origin, so its own coordinates are virtual-screen ones. */
int rootRect(DiObject* engine, RECT* rect) {
    DiXDisplay* d = displayOf(engine);
    const DiXWindow* root = d ? d->windows[0] : nullptr;
    if (!root) return 0;
    *rect = RECT{root->head.x, root->head.y, root->head.x + root->head.width,
                 root->head.y + root->head.height};
    return 1;
}

} // namespace

const DdXDeviceVector* ddXDeviceVector() {
    return &kVector;
}
const DdXRecordSizes* ddXRecordSizes() {
    return &kSizes;
}

void ddXDEInstallHooks() {
    g_ddXHooks.engineSurface = engineSurface;
    g_ddXHooks.enginePalette = enginePalette;
    g_ddXHooks.notifyDisplayChange = notifyDisplayChange;
    g_ddXHooks.rootRect = rootRect;
    ddXMultiInstallHooks();
    if (!g_ddXHooks.engineFlags) g_ddXHooks.engineFlags = engineFlags;
    ddXClipInstall();
    ddXSWMInstallHooks();
}

DiChannel* ddXDECreate(DiObject* owner, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    DdXDisplay* x = static_cast<DdXDisplay*>(calloc(1, sizeof(DdXDisplay)));
    if (!x) return nullptr;
    if (diXDEInit(&x->x, &kVector, &kSizes, v1, v2) < 0) {
        diXDEFree(&x->x);
        free(x);
        return nullptr;
    }
    x->x.ch.hdr.handler = handleEvent;
    /* What this side adds to the connect message: the one-byte field, the
     * feature bits 0x8000 and 0x7180 (0xF7B7 in all) and engine flag 2 (7 in all). */
    x->x.connectByte = 3;
    x->x.featureBits |= 0x8000 | 0x7180;
    x->x.engineFlags |= 0x2;
    /* The display shows itself in a view of its own inside its parent's
     * window; a context the caller already bound to a window keeps it, and
     * a display made without a parent is shown by whoever made it. */
    if (owner && gc && !ddGDIGetWindow(gc)) {
        x->view = ddUICreateView(owner, DI_OBJ_XDE, v1, v2);
        if (!x->view) {
            diXDEFree(&x->x);
            free(x);
            return nullptr;
        }
        ddGDIAttach(gc, x->view, GetDC(x->view));
    }
    diDEChannelSetContext(&x->x.ch, owner, gc, s);
    /* Only palette screens get the application's palette. */
    if (gc && screenBits(ddGDIGetDC(gc)) <= 8)
        if (HPALETTE pal = ddColorDefaultPalette()) ddGDISelectPalette(gc, pal, FALSE);
    return &x->x.ch;
}

void ddXDEDestroy(DiChannel* ch) {
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);
    /* A later display at the same address must not count as focused. */
    if (g_ddXFocusedDisplay == d) g_ddXFocusedDisplay = nullptr;
    ddXMultiRelease(d);
    diXDEFree(d);
    DdXDisplay* x = reinterpret_cast<DdXDisplay*>(d);
    ddXMirrorFree(x);
    if (x->view) {
        /* The context lets go of the view's device context before the view
         * goes; the channel's teardown frees the context. */
        if (d->ch.hdr.gc && ddGDIGetWindow(d->ch.hdr.gc) == x->view) ddGDIDetach(d->ch.hdr.gc);
        if (IsWindow(x->view)) DestroyWindow(x->view);
    }
    free(x);
}
