/* The terminal engine under Windows: its view window, and the drawing
 * operations it paints with (GDI text, fills and scrolls through the
 * graphics wrappers; soft-font strips as 1-bit bitmaps in memory DCs). */
#include "tde/ddtde.h"

#include "core/ddsetting.h"
#include "devices/ddclip.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct Strip {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ original;
};

void* createStrip(DdGC* gc, int32_t width, int32_t height) {
    HDC ref = ddGDIGetDC(gc);
    Strip* s = static_cast<Strip*>(calloc(1, sizeof(Strip)));
    if (!s) return nullptr;
    s->dc = CreateCompatibleDC(ref);
    s->bitmap = CreateBitmap(width, height, 1, 1, nullptr);
    if (!s->dc || !s->bitmap) {
        if (s->dc) DeleteDC(s->dc);
        if (s->bitmap) DeleteObject(s->bitmap);
        free(s);
        return nullptr;
    }
    s->original = SelectObject(s->dc, s->bitmap);
    PatBlt(s->dc, 0, 0, width, height, WHITENESS);
    return s;
}

void freeStrip(void* p) {
    Strip* s = static_cast<Strip*>(p);
    SelectObject(s->dc, s->original);
    DeleteDC(s->dc);
    DeleteObject(s->bitmap);
    free(s);
}

void putGlyph(void* p, int32_t cw, int32_t ch, uint32_t code, int32_t width, int32_t height,
              const uint8_t* bits) {
    Strip* s = static_cast<Strip*>(p);
    HBITMAP glyph = CreateBitmap(width, height, 1, 1, bits);
    if (!glyph) return;
    HDC src = CreateCompatibleDC(s->dc);
    HGDIOBJ old = SelectObject(src, glyph);
    /* A code defined again replaces its glyph: the cell is cleared before
     * the new bits are combined into it. */
    int32_t x = int32_t(code) * cw;
    PatBlt(s->dc, x, 0, cw, ch, WHITENESS);
    SetStretchBltMode(s->dc, COLORONCOLOR);
    StretchBlt(s->dc, x, 0, cw, ch, src, 0, 0, width, height, SRCINVERT);
    SelectObject(src, old);
    DeleteDC(src);
    DeleteObject(glyph);
}

void copyGlyph(DdGC* gc, void* p, int32_t cw, int32_t ch, uint32_t code, int32_t x, int32_t y,
               uint32_t half, uint32_t fg, uint32_t bg) {
    Strip* s = static_cast<Strip*>(p);
    HDC dc = ddGDIGetDC(gc);
    if (!dc) return;
    ddGDISetForeground(gc, fg);
    ddGDISetBackground(gc, bg);
    int32_t sy = 0, h = ch;
    if (half == DI_TD_UPPER_HALF) h = ch / 2;
    if (half == DI_TD_LOWER_HALF) {
        sy = ch / 2;
        h = ch / 2;
    }
    /* Glyph pixels are 0 in the strip: they take the text colour. */
    BitBlt(dc, x, y, cw, h, s->dc, int32_t(code) * cw, sy, SRCCOPY);
}

/* True when the font the system gives for `face` draws every character at
 * one width. A missing face is replaced by whatever the system substitutes,
 * which may be proportional: cells would then clip wide letters and leave
 * gaps after narrow ones. Both the metrics flag (set for variable pitch)
 * and the advances of a narrow and a wide letter must agree. */
bool faceIsFixedPitch(HDC dc, const wchar_t* face) {
    LOGFONTW lf = {};
    lf.lfHeight = -16;
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    HFONT font = CreateFontIndirectW(&lf);
    if (!font) return false;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm;
    INT narrow = 0, wide = 0;
    bool fixed = GetTextMetricsW(dc, &tm) && !(tm.tmPitchAndFamily & TMPF_FIXED_PITCH) &&
                 GetCharWidth32W(dc, L'i', L'i', &narrow) &&
                 GetCharWidth32W(dc, L'm', L'm', &wide) && narrow == wide && narrow > 0;
    SelectObject(dc, old);
    DeleteObject(font);
    return fixed;
}

struct FixedSearch {
    HDC dc;
    wchar_t* out;
};

int CALLBACK takeFixedFace(const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM arg) {
    FixedSearch* s = reinterpret_cast<FixedSearch*>(arg);
    /* "@" faces are the vertical forms of East Asian fonts. */
    if ((lf->lfPitchAndFamily & 3) != FIXED_PITCH || lf->lfFaceName[0] == L'@') return 1;
    if (!faceIsFixedPitch(s->dc, lf->lfFaceName)) return 1;
    wcsncpy(s->out, lf->lfFaceName, LF_FACESIZE - 1);
    s->out[LF_FACESIZE - 1] = 0;
    return 0;
}

/* Replaces `face` (room for LF_FACESIZE characters) by a fixed-pitch face
 * when the one asked for is not: first the usual terminal faces, then any
 * fixed-pitch family the system lists. Nothing found: the face stays. */
void ensureFixedPitch(wchar_t* face) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    if (!faceIsFixedPitch(dc, face)) {
        static const wchar_t* const kUsual[] = {L"Courier New",     L"Lucida Console",
                                                L"Consolas",        L"DejaVu Sans Mono",
                                                L"Liberation Mono", L"Nimbus Mono PS"};
        bool found = false;
        for (const wchar_t* usual : kUsual) {
            if (!faceIsFixedPitch(dc, usual)) continue;
            wcscpy(face, usual);
            found = true;
            break;
        }
        if (!found) {
            wchar_t any[LF_FACESIZE] = L"";
            FixedSearch search = {dc, any};
            LOGFONTW lf = {};
            lf.lfCharSet = DEFAULT_CHARSET;
            EnumFontFamiliesExW(dc, &lf, takeFixedFace, reinterpret_cast<LPARAM>(&search), 0);
            if (any[0]) wcscpy(face, any);
        }
    }
    DeleteDC(dc);
}

DiChar* fontFace(const DiChar* setting, uint32_t slot) {
    if (slot) return nullptr;
    wchar_t face[261] = L"";
    if (setting && setting[0])
        ddSettingGetString(reinterpret_cast<const wchar_t*>(setting), L"", face, 261);
    if (!face[0]) wcscpy(face, L"Courier New");
    face[LF_FACESIZE - 1] = 0;
    ensureFixedPitch(face);
    size_t n = wcslen(face);
    DiChar* out = static_cast<DiChar*>(calloc(n + 1, sizeof(DiChar)));
    if (out) memcpy(out, face, n * sizeof(DiChar));
    return out;
}

int32_t pointsToPixels(DdGC* gc, int32_t points) {
    HDC dc = ddGDIGetDC(gc);
    HDC screen = dc ? dc : GetDC(nullptr);
    int32_t dpi = GetDeviceCaps(screen, LOGPIXELSY);
    if (!dc) ReleaseDC(nullptr, screen);
    return int32_t(int64_t(dpi) * points / 72);
}

void textOut(DdGC* gc, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t cw, int32_t chh,
             const DiChar* text, int32_t count, const int32_t* advances, DiGDIFont* font,
             uint32_t fg, uint32_t bg) {
    if (font) ddGDISelectFont(gc, font);
    ddGDISetForeground(gc, fg);
    ddGDISetBackground(gc, bg);
    DdGCRect clip{cx, cy, cw, chh};
    ddGDITextOut(gc, x, y, &clip, text, count, advances);
}

void moveWindow(DiObject* obj, int32_t x, int32_t y, int32_t w, int32_t h) {
    DdTDisplay* d = reinterpret_cast<DdTDisplay*>(obj);
    if (d->view) MoveWindow(d->view, x, y, w, h, FALSE);
}

int fontMetrics(DdGC* gc, DiGDIFont* font, int32_t* w, int32_t* h, int32_t* a) {
    DdFontMetrics m;
    if (ddGDIGetFontMetrics(gc, font, &m) < 0 || m.height <= 0) return -1;
    *w = m.averageWidth;
    *h = m.height;
    *a = m.ascent;
    return 0;
}

void fill(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
    ddGDIFillSolid(gc, x, y, w, h, colour);
}

void scroll(DdGC* gc, int32_t dx, int32_t dy, int32_t x, int32_t y, int32_t w, int32_t h) {
    ddGDIScrollArea(gc, dx, dy, x, y, w, h);
}

void caretCreate(DdGC* gc, int32_t w, int32_t h) {
    HWND hwnd = ddGDIGetWindow(gc);
    if (!w) {
        ddGDIShowCaret(gc, 0);
        if (hwnd && GetFocus() == hwnd) DestroyCaret();
        return;
    }
    ddGDICreateCaret(gc, w, h);
}

void caretMove(DdGC* gc, int32_t x, int32_t y) {
    ddGDISetCaretPos(gc, x, y);
}

void caretShow(DdGC* gc, int show) {
    ddGDIShowCaret(gc, show);
}

void beep() {
    ddGDIBeep();
}

void invert(DdGC* gc, int32_t x, int32_t y, int32_t w, int32_t h) {
    HDC dc = ddGDIGetDC(gc);
    RECT r = {x, y, x + w, y + h};
    if (dc) InvertRect(dc, &r);
}

/* The client area: the part of the object the view shows. */
bool clientSize(DiObject* obj, int32_t* w, int32_t* h) {
    HWND view = ddGDIGetWindow(obj->gc);
    RECT rc;
    if (!view || !GetClientRect(view, &rc)) return false;
    *w = rc.right;
    *h = rc.bottom;
    return true;
}

int32_t virtualWidth(const DiObject* obj) {
    return obj->vwidth > obj->width ? obj->vwidth : obj->width;
}
int32_t virtualHeight(const DiObject* obj) {
    return obj->vheight > obj->height ? obj->vheight : obj->height;
}

int viewScrolled(DiObject* obj) {
    int32_t w, h;
    if (!clientSize(obj, &w, &h)) return 0;
    return virtualWidth(obj) > w || virtualHeight(obj) > h;
}

int32_t clampScroll(int64_t pos, int64_t virtualSize, int64_t view) {
    if (pos > virtualSize - view) pos = virtualSize - view;
    return int32_t(pos < 0 ? 0 : pos);
}

void scrollView(DiObject* obj, int32_t dx, int32_t dy) {
    int32_t w, h;
    if (!clientSize(obj, &w, &h)) return;
    int32_t x = clampScroll(int64_t(obj->scrollX) + dx, virtualWidth(obj), w);
    int32_t y = clampScroll(int64_t(obj->scrollY) + dy, virtualHeight(obj), h);
    if (x != obj->scrollX || y != obj->scrollY) diUISetScrollPos(obj, x, y);
}

void viewArea(DiObject* obj, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    *x = obj->scrollX;
    *y = obj->scrollY;
    if (!clientSize(obj, w, h)) *w = *h = 0;
}

} // namespace

const DiTDOps g_ddTDOps = {
    createStrip, freeStrip, putGlyph,         copyGlyph,   fontFace, pointsToPixels,
    textOut,     nullptr,   moveWindow,       fontMetrics, fill,     scroll,
    caretCreate, caretMove, caretShow,        beep,        invert,   viewScrolled,
    scrollView,  viewArea,  ddUIScrollToPoint};

DiChannel* ddTDECreate(DiObject* owner, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    DdTDisplay* d = static_cast<DdTDisplay*>(calloc(1, sizeof(DdTDisplay)));
    if (!d) return nullptr;
    diTDEInit(&d->t, v1, v2);
    /* The engine shows itself in a view of its own inside its parent's
     * window; a context already bound to a window keeps it. */
    if (owner && gc && !ddGDIGetWindow(gc)) {
        d->view = ddUICreateView(owner, DI_OBJ_TDE, v1, v2);
        if (!d->view) {
            diTDEReset(&d->t);
            free(d);
            return nullptr;
        }
        ddGDIAttach(gc, d->view, GetDC(d->view));
    }
    diTDEBindChannel(&d->t.ch, owner, gc, s);
    d->t.ops = &g_ddTDOps;
    d->t.ch.hdr.handler = TerminalEngineEvent;
    return &d->t.ch;
}

void ddTDEDestroy(DiChannel* ch) {
    DdTDisplay* d = reinterpret_cast<DdTDisplay*>(ch);
    HWND window = ddGDIGetWindow(ch->hdr.gc);
    /* The screen lets go of fonts, strips and the caret while its window
     * is still there. */
    diTDDestroy(&d->t);
    if (d->view) {
        if (ch->hdr.gc && ddGDIGetWindow(ch->hdr.gc) == d->view) ddGDIDetach(ch->hdr.gc);
        if (IsWindow(d->view)) DestroyWindow(d->view);
    }
    /* A paste fetched for the view and not yet taken dies with it. Once
     * the view is gone the fetch's worker cannot post to it and drops its
     * text itself, so nothing is left behind either way. */
    if (window) ddClipDropText(window);
    if (d->view && d->view != window) ddClipDropText(d->view);
    diTDEReset(&d->t);
    free(d);
}
