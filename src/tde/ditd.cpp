/* The terminal screen: rows of cells with their attributes, the palette,
 * renditions, fonts and soft-font strips, the caret, blinking, and the
 * painter that draws damaged cells from the model.
 *
 * Invariant: after diTDPaint every cell of the grid shows what a repaint
 * of the model would draw. Operations change the model and mark damage;
 * full-width vertical scrolls move row records (damage moves with them) and
 * leave one merged pixel scroll pending, applied before damage is drawn. */
#include "tde/ditde.h"

#include "core/ditimer.h"
#include "ui/digdi.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

const uint32_t g_diTDDefaultPalette[DI_TD_PALETTE] = {
    0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF, 0x7F7F7F,
    0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0, 0xC0C0C0, 0x7F7F7F,
};

namespace {

/* Largest strip, in bytes of its 1-bit bitmap: beyond it the glyphs of a
 * slot are not drawn. */
const int64_t kStripBytesCap = 4 << 20;

DiTDRow* rowAt(DiTDScreen* s, int32_t row) {
    if (!s->rowList || row < 0 || row >= s->rows) return nullptr;
    return s->rowList[row];
}

void clearRow(DiTDRow* r) {
    r->used = 0;
    for (int32_t i = 0; i < DI_TD_CELLS; i++) {
        r->chars[i] = u' ';
        r->attrs[i] = DiTDCell{0, 0, 0, 0};
    }
}

void damage(DiTDScreen* s, DiTDRow* r, int32_t lo, int32_t hi) {
    if (lo < 0) lo = 0;
    if (hi > s->storage) hi = s->storage;
    if (lo >= hi) return;
    if (r->damageLo >= r->damageHi) {
        r->damageLo = lo;
        r->damageHi = hi;
    } else {
        if (lo < r->damageLo) r->damageLo = lo;
        if (hi > r->damageHi) r->damageHi = hi;
    }
    s->damaged = 1;
}

void damageAll(DiTDScreen* s) {
    for (int32_t i = 0; i < s->rows; i++)
        damage(s, s->rowList[i], 0, s->storage);
}

int32_t rowCellWidth(const DiTDScreen* s, const DiTDRow* r) {
    return r->lineFlags & DI_TD_DOUBLE_WIDTH ? s->cellWidth * 2 : s->cellWidth;
}

/* Columns of a row that lie on the grid. */
int32_t visibleColumns(const DiTDScreen* s, const DiTDRow* r) {
    return r->lineFlags & DI_TD_DOUBLE_WIDTH ? s->columns / 2 : s->columns;
}

const DiTDOps* ops(DiTDisplay* t) {
    return t->ops;
}

DdGC* gcOf(DiTDisplay* t) {
    return t->ch.hdr.gc;
}

uint32_t variantOf(uint32_t lineFlags) {
    return (lineFlags & DI_TD_DOUBLE_WIDTH ? 1 : 0) + (lineFlags & DI_TD_DOUBLE_HEIGHT ? 2 : 0);
}

/* ---- caret ---- */

void caretHide(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (s->caretShown && ops(t)) ops(t)->caretShow(gcOf(t), 0);
    s->caretShown = 0;
}

void caretPlace(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (!s->focused || !s->caretMade || !ops(t)) return;
    int32_t col = s->cursorColumn, cw = s->cellWidth;
    DiTDRow* r = rowAt(s, s->cursorRow);
    if (r && (r->lineFlags & DI_TD_DOUBLE_WIDTH)) {
        cw *= 2;
        if (col > s->columns / 2) col = s->columns / 2;
    }
    ops(t)->caretMove(gcOf(t), col * cw, s->cursorRow * s->cellHeight + s->caretTop);
}

void caretShowIfVisible(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (!s->cursorVisible || !s->focused || !s->caretMade || s->caretShown || !ops(t)) return;
    ops(t)->caretShow(gcOf(t), 1);
    s->caretShown = 1;
}

void caretDestroy(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    caretHide(t);
    if (s->caretMade && ops(t)) ops(t)->caretCreate(gcOf(t), 0, 0);
    s->caretMade = 0;
}

/* The caret has the shape's height and the cell's width (doubled on a
 * double-width row); made only while the window has the focus. */
void caretMake(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    caretDestroy(t);
    if (!s->focused || !ops(t)) return;
    int32_t h = s->caretBottom - s->caretTop;
    ops(t)->caretCreate(gcOf(t), s->cellWidth * int32_t(s->caretFactor), h > 0 ? h : 1);
    s->caretMade = 1;
    caretPlace(t);
    caretShowIfVisible(t);
}

/* ---- fonts and strips ---- */

void releaseFonts(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    for (DiGDIFont*& f : s->fonts) {
        if (f) diGDIReleaseFont(gcOf(t), f);
        f = nullptr;
    }
}

void freeStrips(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    for (auto& slot : s->strips)
        for (DiTDStrip*& st : slot) {
            if (st && st->handle && ops(t)) ops(t)->freeStrip(st->handle);
            free(st);
            st = nullptr;
        }
}

void chooseFonts(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    releaseFonts(t);
    int32_t tw = t->ch.hdr.width / s->columns, th = t->ch.hdr.height / s->rows;
    if (tw < 1) tw = 1;
    if (th < 1) th = 1;
    const DiTDOps* o = ops(t);
    if (o && s->fixedSize && o->pointsToPixels) {
        /* The size comes from the server: a font taller than any screen
         * would only make every cell a screen of its own. */
        int32_t px = o->pointsToPixels(gcOf(t), s->fontSize < 0      ? 0
                                                : s->fontSize > 1000 ? 1000
                                                                     : s->fontSize);
        if (px >= 1) th = px;
    }
    DiChar* face = o && o->fontFace ? o->fontFace(s->fontSetting, 0) : nullptr;
    int32_t w = s->fixedSize ? 0 : tw, h = th;
    int32_t mw = tw, mh = th, ma = th * 3 / 4;
    DiGDIFont* font = nullptr;
    uint32_t charset = t->ch.codePageKind;
    if (face && o->fontMetrics) {
        for (;;) {
            if (font) diGDIReleaseFont(gcOf(t), font);
            font = diGDIFindFont(gcOf(t), face, w, h, 0, charset);
            if (!font || o->fontMetrics(gcOf(t), font, &mw, &mh, &ma) < 0) break;
            if (mh <= th) {
                if ((w == 0 && s->fixedSize) || mw <= tw) break;
                if (w == 0) break;
            } else {
                h--;
            }
            if (w >= 1 && mw > tw) w--;
            if (w < 2 || h < 2) break;
        }
    }
    /* A zero cell size would divide by zero when the pointer or an expose
     * is mapped to cells. */
    s->cellWidth = mw >= 1 ? mw : 1;
    s->cellHeight = mh >= 1 ? mh : 1;
    s->ascent = ma;
    s->fonts[0] = font;
    if (font && face) {
        s->fonts[1] = diGDIFindFont(gcOf(t), face, w * 2, h, 0, charset);
        s->fonts[2] = diGDIFindFont(gcOf(t), face, w, h * 2, 0, charset);
        s->fonts[3] = diGDIFindFont(gcOf(t), face, w * 2, h * 2, 0, charset);
    }
    free(face);
    for (int32_t i = 0; i < DI_TD_CELLS; i++) {
        s->advances[i] = s->cellWidth;
        s->advances2[i] = s->cellWidth * 2;
    }
}

void fitView(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    DiObject* top = diUIFindTopFrame(&t->ch.hdr);
    bool fullScreen =
        top && top->type == DI_OBJ_FRAME && reinterpret_cast<DiFrame*>(top)->mode == 2;
    if (!fullScreen)
        diUISetVirtualSize(&t->ch.hdr, s->columns * s->cellWidth, s->rows * s->cellHeight);
    diSOFitLaunchFrame(&t->ch.hdr);
}

int makeRows(DiTDScreen* s) {
    s->storage = s->columns > 80 ? s->columns : 80;
    s->rowList = static_cast<DiTDRow**>(calloc(size_t(s->rows), sizeof(DiTDRow*)));
    if (!s->rowList) return -1;
    for (int32_t i = 0; i < s->rows; i++) {
        DiTDRow* r = static_cast<DiTDRow*>(calloc(1, sizeof(DiTDRow)));
        if (!r) return -1;
        clearRow(r);
        r->eraseColour = s->palette[0];
        r->secondColour = s->palette[15];
        s->rowList[i] = r;
    }
    return 0;
}

void freeRows(DiTDScreen* s) {
    if (s->rowList)
        for (int32_t i = 0; i < s->rows; i++)
            free(s->rowList[i]);
    free(s->rowList);
    s->rowList = nullptr;
}

int32_t clampGrid(int32_t v) {
    return v < 1 ? 1 : v > 255 ? 255 : v;
}

uint32_t blinkTick(void* arg) {
    DiTDisplay* t = static_cast<DiTDisplay*>(arg);
    DiTDScreen* s = &t->screen;
    /* A repaint would undo the inversion of a selection's cells (and its
     * clear would then invert them for good): blinking waits for it. */
    if (t->selectionHeld) return 500;
    s->blinkPhase ^= 1;
    bool any = false;
    for (int32_t i = 0; i < s->rows; i++) {
        DiTDRow* r = s->rowList[i];
        for (int32_t c = 0; c < r->used; c++)
            if (r->attrs[c].flags & DI_TD_BLINK) {
                damage(s, r, c, c + 1);
                any = true;
            }
    }
    if (!any) {
        s->blinkTimer = nullptr;
        s->blinkPhase = 0;
        return 0;
    }
    diTDPaint(t);
    return 500;
}

uint32_t followTick(void* arg) {
    DiTDisplay* t = static_cast<DiTDisplay*>(arg);
    DiTDScreen* s = &t->screen;
    s->followTimer = nullptr;
    DiObject* o = &t->ch.hdr;
    if (!ops(t) || !ops(t)->scrollToPoint) return 0;
    /* The cell's near corner, or its far one on the side where the cell
     * lies past the view's offset, so that scrolling there shows it all. */
    int32_t x = s->cursorColumn * s->cellWidth, y = s->cursorRow * s->cellHeight;
    if (x > o->scrollX) x += s->cellWidth - 1;
    if (y > o->scrollY) y += s->cellHeight - 1;
    caretHide(t);
    ops(t)->scrollToPoint(o, x, y);
    caretShowIfVisible(t);
    return 0;
}

/* ---- painting ---- */

/* Line-drawing shapes of codes 179-218: up, down, left, right arms, each
 * 0 none, 1 single, 2 double, two bits apiece. */
#define ARMS(u, d, l, r) uint8_t((u) | ((d) << 2) | ((l) << 4) | ((r) << 6))
const uint8_t kBoxArms[40] = {
    ARMS(1, 1, 0, 0), ARMS(1, 1, 1, 0), ARMS(1, 1, 2, 0), ARMS(2, 2, 1, 0), ARMS(0, 2, 1, 0),
    ARMS(0, 1, 2, 0), ARMS(2, 2, 2, 0), ARMS(2, 2, 0, 0), ARMS(0, 2, 2, 0), ARMS(2, 0, 2, 0),
    ARMS(2, 0, 1, 0), ARMS(1, 0, 2, 0), ARMS(0, 1, 1, 0), ARMS(1, 0, 0, 1), ARMS(1, 0, 1, 1),
    ARMS(0, 1, 1, 1), ARMS(1, 1, 0, 1), ARMS(0, 0, 1, 1), ARMS(1, 1, 1, 1), ARMS(1, 1, 0, 2),
    ARMS(2, 2, 0, 1), ARMS(2, 0, 0, 2), ARMS(0, 2, 0, 2), ARMS(2, 0, 2, 2), ARMS(0, 2, 2, 2),
    ARMS(2, 2, 0, 2), ARMS(0, 0, 2, 2), ARMS(2, 2, 2, 2), ARMS(1, 0, 2, 2), ARMS(2, 0, 1, 1),
    ARMS(0, 1, 2, 2), ARMS(0, 2, 1, 1), ARMS(2, 0, 0, 1), ARMS(1, 0, 0, 2), ARMS(0, 1, 0, 2),
    ARMS(0, 2, 0, 1), ARMS(2, 2, 1, 1), ARMS(1, 1, 2, 2), ARMS(1, 0, 1, 0), ARMS(0, 1, 0, 1),
};
#undef ARMS

struct Clip {
    int32_t top, bottom; /* pixel rows the cell may touch */
};

void fillClipped(DiTDisplay* t, const Clip& c, int32_t x, int32_t y, int32_t w, int32_t h,
                 uint32_t colour) {
    if (y < c.top) {
        h -= c.top - y;
        y = c.top;
    }
    if (y + h > c.bottom) h = c.bottom - y;
    if (w <= 0 || h <= 0) return;
    ops(t)->fill(gcOf(t), x, y, w, h, colour);
}

/* One line-drawing character in a cell whose full (possibly double-height)
 * box is x, y, W, H; only the pixel rows of the clip are touched. */
void drawLineChar(DiTDisplay* t, uint32_t code, int32_t x, int32_t y, int32_t W, int32_t H,
                  const Clip& clip, uint32_t fg) {
    if (code >= 219) {
        int32_t hw = W / 2, hh = H / 2;
        switch (code) {
        case 219:
            fillClipped(t, clip, x, y, W, H, fg);
            break;
        case 220:
            fillClipped(t, clip, x, y + hh, W, H - hh, fg);
            break;
        case 221:
            fillClipped(t, clip, x, y, hw, H, fg);
            break;
        case 222:
            fillClipped(t, clip, x + hw, y, W - hw, H, fg);
            break;
        default:
            fillClipped(t, clip, x, y, W, hh, fg);
            break;
        }
        return;
    }
    uint8_t arms = kBoxArms[code - 179];
    int32_t cx = x + W / 2, cy = y + H / 2;
    int up = arms & 3, down = (arms >> 2) & 3, left = (arms >> 4) & 3, right = (arms >> 6) & 3;
    bool dblV = up == 2 || down == 2, dblH = left == 2 || right == 2;
    /* Vertical arms: a single line at cx, a double one at cx - 1 and cx + 1;
     * each runs from the centre (extended over the crossing) to the edge. */
    auto vertical = [&](int kind, bool isUp) {
        if (!kind) return;
        int32_t reach = dblH ? 1 : 0;
        int32_t y0 = isUp ? y : cy - reach, y1 = isUp ? cy + reach + 1 : y + H;
        if (kind == 1) {
            fillClipped(t, clip, cx, y0, 1, y1 - y0, fg);
        } else {
            fillClipped(t, clip, cx - 1, y0, 1, y1 - y0, fg);
            fillClipped(t, clip, cx + 1, y0, 1, y1 - y0, fg);
        }
    };
    auto horizontal = [&](int kind, bool isLeft) {
        if (!kind) return;
        int32_t reach = dblV ? 1 : 0;
        int32_t x0 = isLeft ? x : cx - reach, x1 = isLeft ? cx + reach + 1 : x + W;
        if (kind == 1) {
            fillClipped(t, clip, x0, cy, x1 - x0, 1, fg);
        } else {
            fillClipped(t, clip, x0, cy - 1, x1 - x0, 1, fg);
            fillClipped(t, clip, x0, cy + 1, x1 - x0, 1, fg);
        }
    };
    vertical(up, true);
    vertical(down, false);
    horizontal(left, true);
    horizontal(right, false);
}

/* Draws cells c0..c1-1 of a row, all below its used length and with one
 * attribute. */
void drawRun(DiTDisplay* t, int32_t rowIndex, DiTDRow* r, int32_t c0, int32_t c1) {
    DiTDScreen* s = &t->screen;
    const DiTDCell& a = r->attrs[c0];
    int32_t cw = rowCellWidth(s, r), ch = s->cellHeight;
    int32_t x = c0 * cw, y = rowIndex * ch, w = (c1 - c0) * cw;
    uint32_t bg = diTDEffectiveBackground(s, &a), fg = diTDEffectiveForeground(s, &a);
    Clip clip{y, y + ch};
    bool blinkOff = (a.flags & DI_TD_BLINK) && s->blinkPhase;
    if ((a.flags & DI_TD_CONCEALED) || blinkOff) {
        ops(t)->fill(gcOf(t), x, y, w, ch, blinkOff ? s->background : bg);
        return;
    }
    uint32_t lf = r->lineFlags;
    /* The upper half of a tall pair shows the top of the characters drawn
     * at the row; any other double-height row the bottom of characters
     * drawn one row higher. */
    int32_t glyphY = y, glyphH = ch;
    if (lf & DI_TD_DOUBLE_HEIGHT) {
        glyphH = ch * 2;
        if (!(lf & DI_TD_UPPER_HALF)) glyphY = y - ch;
    }
    if (a.slot == 0) {
        uint32_t v = variantOf(lf);
        ops(t)->textOut(gcOf(t), x, glyphY, x, y, w, ch, r->chars + c0, c1 - c0,
                        lf & DI_TD_DOUBLE_WIDTH ? s->advances2 : s->advances, s->fonts[v], fg, bg);
    } else {
        ops(t)->fill(gcOf(t), x, y, w, ch, bg);
        uint32_t v = variantOf(lf);
        DiTDStrip* st = a.slot < DI_TD_SLOTS ? s->strips[a.slot][v] : nullptr;
        for (int32_t c = c0; c < c1; c++) {
            uint32_t code = r->chars[c];
            int32_t cx = c * cw;
            if (a.slot == 1 && code >= 179 && code <= 223) {
                drawLineChar(t, code, cx, glyphY, cw, glyphH, clip, fg);
            } else if (st && st->handle && code < 256 &&
                       (st->defined[code / 8] & (1 << (code % 8)))) {
                /* A tall cell shows one half: the upper on the upper row of
                 * a pair, the lower otherwise. */
                uint32_t half = 0;
                if (lf & DI_TD_DOUBLE_HEIGHT)
                    half = lf & DI_TD_UPPER_HALF ? uint32_t(DI_TD_UPPER_HALF)
                                                 : uint32_t(DI_TD_LOWER_HALF);
                ops(t)->copyGlyph(gcOf(t), st->handle, st->cellWidth, st->cellHeight, code, cx, y,
                                  half, fg, bg);
            }
        }
    }
    if ((a.flags & DI_TD_UNDERLINE) && !(lf & DI_TD_UPPER_HALF))
        ops(t)->fill(gcOf(t), x, y + ch - 1, w, 1, fg);
}

void paintRow(DiTDisplay* t, int32_t rowIndex, DiTDRow* r) {
    DiTDScreen* s = &t->screen;
    int32_t lo = r->damageLo, hi = r->damageHi;
    r->damageLo = r->damageHi = 0;
    int32_t vis = visibleColumns(s, r);
    int32_t cw = rowCellWidth(s, r), y = rowIndex * s->cellHeight;
    /* An odd grid leaves half a double-width cell at the right edge. */
    int32_t edge = vis * cw, gridWidth = s->columns * s->cellWidth;
    if (hi >= vis && edge < gridWidth)
        ops(t)->fill(gcOf(t), edge, y, gridWidth - edge, s->cellHeight, r->eraseColour);
    if (hi > vis) hi = vis;
    if (lo >= hi) return;
    int32_t used = r->used < hi ? r->used : hi;
    if (used < hi) {
        int32_t from = used > lo ? used : lo;
        ops(t)->fill(gcOf(t), from * cw, y, (hi - from) * cw, s->cellHeight, r->eraseColour);
    }
    int32_t c = lo;
    while (c < used) {
        int32_t e = c + 1;
        while (e < used && !memcmp(&r->attrs[e], &r->attrs[c], sizeof(DiTDCell)))
            e++;
        drawRun(t, rowIndex, r, c, e);
        c = e;
    }
}

void applyPendingScroll(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (!s->scrollPending) return;
    s->scrollPending = 0;
    int32_t height = s->scrollBottom - s->scrollTop, dy = s->scrollDy;
    /* Rows pushed wholly off the grid leave nothing to move. */
    if (s->scrollTop + dy >= s->rows || s->scrollBottom + dy <= 0 || t->paintingOff || !ops(t))
        return;
    ops(t)->scroll(gcOf(t), 0, dy * s->cellHeight, 0, s->scrollTop * s->cellHeight,
                   s->columns * s->cellWidth, height * s->cellHeight);
}

} // namespace

/* ---- colours and maps ---- */

uint32_t diTDEffectiveBackground(const DiTDScreen* s, const DiTDCell* c) {
    uint32_t b = c->flags & DI_TD_REVERSE ? c->foreground : c->background;
    if ((c->flags & DI_TD_DIM) && b == s->palette[15]) b = s->palette[8];
    return b;
}

uint32_t diTDEffectiveForeground(const DiTDScreen* s, const DiTDCell* c) {
    uint32_t f = c->flags & (DI_TD_REVERSE | DI_TD_CONCEALED) ? c->background : c->foreground;
    if (c->flags & DI_TD_BOLD) {
        for (int k = 0; k < 8; k++)
            if (f == s->palette[8 + k]) return s->palette[k];
    } else if ((c->flags & DI_TD_DIM) && f == s->palette[15]) {
        f = s->palette[8];
    }
    return f;
}

/* ---- the screen's life ---- */

int diTDCreate(DiTDisplay* t, int32_t rows, int32_t columns, uint32_t caretStart, uint32_t caretEnd,
               uint32_t caretFlags, const DiChar* fontSetting, int32_t fontSize, uint32_t fixed) {
    diTDDestroy(t);
    DiTDScreen* s = &t->screen;
    if (gcOf(t)) ddGDISetFunction(gcOf(t), DI_ROP_COPY);
    s->rows = clampGrid(rows);
    s->columns = clampGrid(columns);
    memcpy(s->palette, g_diTDDefaultPalette, sizeof s->palette);
    s->flags = 0;
    s->slot = 0;
    s->foreground = 0;
    s->background = 0xFFFFFF;
    if (makeRows(s) < 0) {
        freeRows(s);
        return -1;
    }
    size_t n = 0;
    while (fontSetting && fontSetting[n])
        n++;
    s->fontSetting = static_cast<DiChar*>(calloc(n + 1, sizeof(DiChar)));
    if (s->fontSetting && n) memcpy(s->fontSetting, fontSetting, n * sizeof(DiChar));
    s->fontSize = fontSize;
    s->fixedSize = fixed;
    chooseFonts(t);
    s->caretFactor = 1;
    s->cursorColumn = s->cursorRow = 0;
    s->cursorVisible = 0;
    s->exists = 1;
    s->focused = 0;
    diTDSetCursorShape(t, caretStart, caretEnd, caretFlags);
    fitView(t);
    s->blinkTimer = diTimerAdd(500, blinkTick, t);
    damageAll(s);
    return 0;
}

void diTDDestroy(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (s->blinkTimer) diTimerRemove(s->blinkTimer);
    if (s->followTimer) diTimerRemove(s->followTimer);
    if (s->paintTimer) diTimerRemove(s->paintTimer);
    s->blinkTimer = s->followTimer = s->paintTimer = nullptr;
    diTDSelStopTimer(t);
    if (!s->exists && !s->rowList) return;
    caretDestroy(t);
    s->exists = 0;
    free(s->fontSetting);
    s->fontSetting = nullptr;
    releaseFonts(t);
    freeStrips(t);
    freeRows(s);
    s->scrollPending = 0;
    s->damaged = 0;
}

int diTDResize(DiTDisplay* t, int32_t rows, int32_t columns) {
    DiTDScreen* s = &t->screen;
    caretDestroy(t);
    freeRows(s);
    s->scrollPending = 0;
    s->rows = clampGrid(rows);
    s->columns = clampGrid(columns);
    if (makeRows(s) < 0) {
        freeRows(s);
        s->rows = 0;
        s->exists = 0;
        return -1;
    }
    if (!s->fixedSize) chooseFonts(t);
    caretMake(t);
    fitView(t);
    damageAll(s);
    return 0;
}

/* ---- state ---- */

void diTDSetPaletteEntry(DiTDisplay* t, uint32_t index, uint8_t r, uint8_t g, uint8_t b) {
    DiTDScreen* s = &t->screen;
    if (index < DI_TD_PALETTE)
        s->palette[index] = uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
    /* Every row follows, also after an index out of range. */
    for (int32_t i = 0; i < s->rows; i++) {
        DiTDRow* row = s->rowList[i];
        if (row->eraseColour != s->palette[0]) damage(s, row, row->used, s->storage);
        row->eraseColour = s->palette[0];
        row->secondColour = s->palette[15];
    }
    /* Bold and dim compare against palette values. */
    if (index < DI_TD_PALETTE) damageAll(s);
}

void diTDSelectColour(DiTDisplay* t, uint32_t index, int background) {
    DiTDScreen* s = &t->screen;
    if (index >= DI_TD_PALETTE) return;
    if (background) {
        s->background = s->palette[index];
        t->ch.hdr.background = s->background;
    } else {
        s->foreground = s->palette[index];
    }
}

void diTDSelectFont(DiTDisplay* t, uint32_t slot) {
    if (slot < DI_TD_SLOTS) t->screen.slot = slot;
}

void diTDSetRendition(DiTDisplay* t, uint32_t wire) {
    DiTDScreen* s = &t->screen;
    uint32_t f = 0;
    if (wire & 1) f |= DI_TD_BOLD;
    if (wire & 2) f |= DI_TD_DIM;
    if (wire & 4) f |= DI_TD_BLINK;
    if (wire & 8) f |= DI_TD_UNDERLINE;
    if (wire & 64) f |= DI_TD_REVERSE;
    if (wire & 128) f |= DI_TD_CONCEALED;
    s->flags = f;
    if ((f & DI_TD_BLINK) && !s->blinkTimer) s->blinkTimer = diTimerAdd(500, blinkTick, t);
}

void diTDSetCursorShape(DiTDisplay* t, uint32_t start, uint32_t end, uint32_t flags) {
    DiTDScreen* s = &t->screen;
    int32_t top = int32_t(((start * 100) / 16 * uint32_t(s->cellHeight)) / 100);
    int32_t bottom = int32_t(((end * 100) / 16 * uint32_t(s->cellHeight)) / 100);
    s->caretTop = top < bottom ? top : bottom;
    s->caretBottom = bottom;
    s->caretFlags = flags;
    if (s->caretMade || s->focused) caretMake(t);
}

void diTDMoveCursor(DiTDisplay* t, int32_t column, int32_t row) {
    DiTDScreen* s = &t->screen;
    s->cursorColumn = column;
    s->cursorRow = row;
    caretPlace(t);
    DiObject* o = &t->ch.hdr;
    bool scrolled = o->vwidth > o->width || o->vheight > o->height;
    if (scrolled && !s->followTimer) s->followTimer = diTimerAdd(1000, followTick, t);
}

void diTDShowCursor(DiTDisplay* t, int visible) {
    DiTDScreen* s = &t->screen;
    if (!visible) {
        s->cursorVisible = 0;
        caretHide(t);
        if (!s->focused) caretDestroy(t);
        return;
    }
    s->cursorVisible = 1;
    DiTDRow* r = rowAt(s, s->cursorRow);
    uint32_t factor = r && (r->lineFlags & DI_TD_DOUBLE_WIDTH) ? 2 : 1;
    if (factor != s->caretFactor || (s->focused && !s->caretMade)) {
        s->caretFactor = factor;
        if (s->focused) caretMake(t);
    }
    if (!s->focused) {
        caretDestroy(t);
        return;
    }
    caretPlace(t);
    caretShowIfVisible(t);
}

void diTDSetLineAttributes(DiTDisplay* t, uint32_t flags, int32_t row) {
    DiTDScreen* s = &t->screen;
    DiTDRow* r = rowAt(s, row);
    if (!r) return;
    r->lineFlags = flags;
    s->variant = variantOf(flags);
    damage(s, r, 0, s->storage);
    caretPlace(t);
}

/* ---- cell operations ---- */

void diTDWriteText(DiTDisplay* t, int32_t column, int32_t row, const DiChar* text, int32_t count) {
    DiTDScreen* s = &t->screen;
    DiTDRow* r = rowAt(s, row);
    if (!r || column < 0 || count <= 0) return;
    int32_t limit = r->lineFlags & DI_TD_DOUBLE_WIDTH ? s->columns / 2 : s->storage;
    if (column >= limit) return;
    if (count > limit - column) count = limit - column;
    DiTDCell a{s->flags, s->slot, s->background, s->foreground};
    for (int32_t i = 0; i < count; i++) {
        r->chars[column + i] = text[i];
        r->attrs[column + i] = a;
    }
    /* Cells between the old used length and the text change from the
     * row's erase colour to their own attributes. */
    int32_t from = r->used < column ? r->used : column;
    if (column + count > r->used) r->used = column + count;
    damage(s, r, from, column + count);
}

void diTDWriteText8(DiTDisplay* t, int32_t column, int32_t row, const uint8_t* bytes,
                    int32_t count) {
    DiChar text[DI_TD_CELLS];
    if (count > DI_TD_CELLS) count = DI_TD_CELLS;
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = bytes[i];
        /* Slot 0 shows text: a byte means the character of the code page
         * the channel announced, and the cell holds that character, so the
         * screen and Copy read one value. The other slots draw by code
         * (their own maps, soft-font glyphs) and keep the byte. A byte the
         * code page leaves undefined shows as a space. */
        if (t->screen.slot == 0 && c >= 0x80) {
            c = diDECharToUnicode(&t->ch, c);
            if (!c) c = u' ';
        }
        text[i] = DiChar(c);
    }
    diTDWriteText(t, column, row, text, count);
}

void diTDEraseRect(DiTDisplay* t, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    DiTDScreen* s = &t->screen;
    DiTDCell cur{s->flags, s->slot, s->background, s->foreground};
    bool fullWidth = left == 0 && right == s->columns;
    uint32_t erase = diTDEffectiveBackground(s, &cur);
    if (left < 0) left = 0;
    if (right > s->storage) right = s->storage;
    if (top < 0) top = 0;
    if (bottom > s->rows) bottom = s->rows;
    DiTDCell blank{0, 0, s->background, s->foreground};
    for (int32_t y = top; y < bottom; y++) {
        DiTDRow* r = s->rowList[y];
        /* Every row of a full-width erase takes the colour, so that the
         * unused part of each repaints in it. */
        if (fullWidth) {
            r->eraseColour = erase;
            damage(s, r, 0, s->storage);
        }
        for (int32_t x = left; x < right; x++) {
            r->chars[x] = u' ';
            r->attrs[x] = blank;
        }
        damage(s, r, left, right);
    }
}

void diTDScrollRect(DiTDisplay* t, int32_t dx, int32_t dy, int32_t left, int32_t top, int32_t right,
                    int32_t bottom) {
    DiTDScreen* s = &t->screen;
    if (right > s->storage) right = s->storage;
    if (bottom > s->rows) bottom = s->rows;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right <= left || bottom <= top || (dx == 0 && dy == 0)) return;
    int32_t height = bottom - top;
    if (left == 0 && right >= s->columns && dx == 0) {
        /* Whole rows move as records to the rows the move lands on (cut at
         * the grid); the records left over (overwritten, or pushed off the
         * grid) are reused, emptied, for the rows the move leaves. */
        DiTDRow* next[256];
        bool spare[256] = {};
        for (int32_t y = 0; y < s->rows; y++)
            next[y] = s->rowList[y];
        auto inSource = [&](int32_t y) { return y >= top && y < bottom; };
        auto inDest = [&](int32_t y) { return y - dy >= top && y - dy < bottom; };
        for (int32_t y = 0; y < s->rows; y++)
            if ((inDest(y) && !inSource(y)) || (inSource(y) && (y + dy < 0 || y + dy >= s->rows)))
                spare[y] = true;
        int32_t from = 0;
        for (int32_t y = 0; y < s->rows; y++) {
            if (inDest(y)) {
                next[y] = s->rowList[y - dy];
            } else if (inSource(y)) {
                while (!spare[from])
                    from++;
                DiTDRow* r = s->rowList[from++];
                clearRow(r);
                r->lineFlags = 0;
                next[y] = r;
                damage(s, r, 0, s->storage);
            }
        }
        for (int32_t y = 0; y < s->rows; y++)
            s->rowList[y] = next[y];
        /* One pixel scroll stands for a run of scrolls of the same rows as
         * long as what the run pushes out lies beyond the grid. */
        bool mergeable = s->scrollPending && s->scrollTop == top && s->scrollBottom == bottom &&
                         ((dy < 0 && s->scrollDy < 0 && top <= -dy) ||
                          (dy > 0 && s->scrollDy > 0 && bottom + dy >= s->rows));
        if (mergeable) {
            s->scrollDy += dy;
            if (s->scrollDy < -512) s->scrollDy = -512;
            if (s->scrollDy > 512) s->scrollDy = 512;
        } else {
            applyPendingScroll(t);
            s->scrollPending = 1;
            s->scrollTop = top;
            s->scrollBottom = bottom;
            s->scrollDy = dy;
        }
        s->damaged = 1;
        return;
    }
    /* A part of the rows, or a sideways move: the cells of the rectangle
     * move by (dx, dy), cut at the storage and the grid; the cells they
     * leave turn blank in their row's erase colour. Pixels are repainted
     * from the model. */
    int32_t w = right - left;
    static DiChar chars[256][DI_TD_CELLS];
    static DiTDCell attrs[256][DI_TD_CELLS];
    for (int32_t y = 0; y < height; y++) {
        DiTDRow* r = s->rowList[top + y];
        for (int32_t x = 0; x < w; x++) {
            int32_t c = left + x;
            bool live = c < r->used;
            chars[y][x] = live ? r->chars[c] : u' ';
            attrs[y][x] = live ? r->attrs[c] : DiTDCell{0, 0, r->eraseColour, r->eraseColour};
        }
        int32_t vacateTo = right < r->used ? right : r->used;
        for (int32_t c = left; c < vacateTo; c++) {
            r->chars[c] = u' ';
            r->attrs[c] = DiTDCell{0, 0, r->eraseColour, r->eraseColour};
        }
        damage(s, r, left, right);
    }
    for (int32_t y = 0; y < height; y++) {
        int32_t d = top + y + dy;
        if (d < 0 || d >= s->rows) continue;
        DiTDRow* r = s->rowList[d];
        int32_t hiCol = 0, usedBefore = r->used;
        for (int32_t x = 0; x < w; x++) {
            int32_t c = left + x + dx;
            if (c < 0 || c >= s->storage) continue;
            /* Cells beyond the used length show the erase colour: fill the
             * gap so the moved cells count as used. */
            for (int32_t g = r->used; g < c; g++) {
                r->chars[g] = u' ';
                r->attrs[g] = DiTDCell{0, 0, r->eraseColour, r->eraseColour};
            }
            if (c >= r->used) r->used = c + 1;
            r->chars[c] = chars[y][x];
            r->attrs[c] = attrs[y][x];
            hiCol = c + 1;
        }
        int32_t lo = left + dx < usedBefore ? left + dx : usedBefore;
        damage(s, r, lo, hiCol);
    }
}

void diTDDefineGlyph(DiTDisplay* t, uint32_t slot, uint32_t code, int32_t width, int32_t height,
                     uint32_t length, const uint8_t* data) {
    DiTDScreen* s = &t->screen;
    if (slot >= DI_TD_SLOTS || code > 255 || width <= 0 || height <= 0 || !ops(t)) return;
    /* One byte per pixel row: a glyph with rows missing is dropped. */
    if (length < uint32_t(height)) return;
    for (uint32_t v = 0; v < DI_TD_VARIANTS; v++) {
        DiTDStrip*& st = s->strips[slot][v];
        if (!st) {
            st = static_cast<DiTDStrip*>(calloc(1, sizeof(DiTDStrip)));
            if (!st) return;
            st->cellWidth = s->cellWidth * (v & 1 ? 2 : 1);
            st->cellHeight = s->cellHeight * (v & 2 ? 2 : 1);
            int64_t w = int64_t(st->cellWidth) * 256;
            int64_t bytes = (w + 15) / 16 * 2 * st->cellHeight;
            if (w <= 32767 && st->cellHeight <= 32767 && bytes <= kStripBytesCap)
                st->handle = ops(t)->createStrip(gcOf(t), int32_t(w), st->cellHeight);
        }
        if (!st->handle) continue; /* a strip that cannot be made draws nothing */
        uint32_t stride = 0;
        uint8_t* bits = diTDGlyphRowsToBits(width, height, data, &stride);
        if (!bits) return;
        ops(t)->putGlyph(st->handle, st->cellWidth, st->cellHeight, code, width, height, bits);
        free(bits);
        st->defined[code / 8] |= uint8_t(1 << (code % 8));
    }
    /* Cells of this slot showing the code are redrawn. */
    for (int32_t y = 0; y < s->rows; y++) {
        DiTDRow* r = s->rowList[y];
        for (int32_t c = 0; c < r->used; c++)
            if (r->attrs[c].slot == slot && r->chars[c] == code) damage(s, r, c, c + 1);
    }
}

uint8_t* diTDGlyphRowsToBits(int32_t width, int32_t height, const uint8_t* rows, uint32_t* stride) {
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return nullptr;
    uint32_t st = uint32_t((width + 15) / 16) * 2;
    uint8_t* out = static_cast<uint8_t*>(calloc(size_t(st) * size_t(height), 1));
    if (!out) return nullptr;
    for (int32_t y = 0; y < height; y++) {
        uint8_t b = rows[y], rev = 0;
        for (int i = 0; i < 8; i++)
            if (b & (1 << i)) rev |= uint8_t(0x80 >> i);
        out[size_t(y) * st] = rev;
    }
    *stride = st;
    return out;
}

/* ---- painting ---- */

void diTDDamagePixels(DiTDisplay* t, int32_t x, int32_t y, int32_t width, int32_t height) {
    DiTDScreen* s = &t->screen;
    if (!s->exists || width <= 0 || height <= 0) return;
    /* Pixels exposed before a pending scroll move with it: repaint all. */
    if (s->scrollPending) {
        x = y = 0;
        width = s->columns * s->cellWidth;
        height = s->rows * s->cellHeight;
    }
    int64_t r0 = y / s->cellHeight, r1 = (int64_t(y) + height + s->cellHeight - 1) / s->cellHeight;
    if (r0 < 0) r0 = 0;
    if (r1 > s->rows) r1 = s->rows;
    for (int64_t i = r0; i < r1; i++) {
        DiTDRow* r = s->rowList[i];
        int32_t cw = rowCellWidth(s, r);
        int64_t c0 = x / cw, c1 = (int64_t(x) + width + cw - 1) / cw;
        damage(s, r, int32_t(c0 < 0 ? 0 : c0), int32_t(c1 > s->storage ? s->storage : c1));
    }
    /* What lies beyond the grid shows the background. */
    int32_t gw = s->columns * s->cellWidth, gh = s->rows * s->cellHeight;
    if (!ops(t) || t->paintingOff) return;
    if (x + width > gw) {
        int32_t x0 = x > gw ? x : gw;
        ops(t)->fill(gcOf(t), x0, y, x + width - x0, height, t->ch.hdr.background);
    }
    if (y + height > gh) {
        int32_t y0 = y > gh ? y : gh;
        ops(t)->fill(gcOf(t), x, y0, width, y + height - y0, t->ch.hdr.background);
    }
}

namespace {
uint32_t paintTick(void* arg) {
    DiTDisplay* t = static_cast<DiTDisplay*>(arg);
    t->screen.paintTimer = nullptr;
    diTDPaint(t);
    return 0;
}
} // namespace

void diTDPaintSoon(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (!s->exists || !s->damaged || s->paintTimer) return;
    uint32_t since = diDEClock() - s->lastPaint;
    if (since >= uint32_t(DI_TD_PAINT_PACE)) {
        diTDPaint(t);
        return;
    }
    s->paintTimer = diTimerAdd(uint32_t(DI_TD_PAINT_PACE) - since, paintTick, t);
    if (!s->paintTimer) diTDPaint(t);
}

void diTDPaint(DiTDisplay* t) {
    DiTDScreen* s = &t->screen;
    if (!s->exists || !s->damaged || t->paintingOff || !ops(t)) return;
    if (s->paintTimer) diTimerRemove(s->paintTimer);
    s->paintTimer = nullptr;
    s->lastPaint = diDEClock();
    caretHide(t);
    applyPendingScroll(t);
    s->damaged = 0;
    for (int32_t i = 0; i < s->rows; i++) {
        DiTDRow* r = s->rowList[i];
        if (r->damageLo < r->damageHi) paintRow(t, i, r);
    }
    caretShowIfVisible(t);
}

DiChar diTDMapCharacter(uint32_t set, uint32_t code) {
    static const uint16_t cp437High[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
        0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
        0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
        0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
        0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
        0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
        0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
        0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
        0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
        0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
        0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
        0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
    };
    /* Set 2 as (first code, value, step) ranges: each code from `first` up
     * to the next range maps to value + step x offset. */
    struct Range {
        uint8_t first;
        uint16_t value;
        uint8_t step;
    };
    static const Range set2[] = {
        {0, 0x20, 0},     {33, 0x2D, 0},    {38, 0x263A, 1},  {40, 0x2660, 0},  {41, 0x2663, 0},
        {42, 0x2665, 1},  {44, 0x20, 0},    {46, 0x25E6, 0},  {47, 0x25D8, 0},  {48, 0x2640, 0},
        {49, 0x2642, 0},  {50, 0x266A, 1},  {52, 0x263C, 0},  {53, 0x25BA, 0},  {54, 0x25C4, 0},
        {55, 0x2195, 0},  {56, 0x25BC, 0},  {57, 0x25B2, 0},  {58, 0x203C, 0},  {59, 0x20, 0},
        {62, 0x21A8, 0},  {63, 0x2190, 1},  {67, 0x20, 0},    {68, 0x221F, 0},  {69, 0x2194, 0},
        {70, 0x20, 0},    {102, 0x2400, 1}, {110, 0x2409, 1}, {127, 0x2408, 0}, {128, 0x241A, 1},
        {134, 0x20, 0},   {139, 0x20AC, 0}, {140, 0x02D8, 0}, {141, 0x0141, 0}, {142, 0x013D, 0},
        {143, 0x015A, 0}, {144, 0x0160, 0}, {145, 0x015E, 0}, {146, 0x0164, 0}, {147, 0x0179, 0},
        {148, 0x017D, 0}, {149, 0x017B, 0}, {150, 0x0105, 0}, {151, 0x20, 0},   {152, 0x0142, 0},
        {153, 0x013E, 0}, {154, 0x015B, 0}, {155, 0x02C7, 0}, {156, 0x0161, 0}, {157, 0x015F, 0},
        {158, 0x0165, 0}, {159, 0x017A, 0}, {160, 0x02DD, 0}, {161, 0x017E, 0}, {162, 0x017C, 0},
        {163, 0x0154, 0}, {164, 0x0102, 0}, {165, 0x0139, 0}, {166, 0x0106, 0}, {167, 0x010C, 0},
        {168, 0x0118, 0}, {169, 0x011A, 0}, {170, 0x010E, 0}, {171, 0x0143, 0}, {172, 0x0147, 0},
        {173, 0x0158, 0}, {174, 0x016E, 0}, {175, 0x0162, 0}, {176, 0x0155, 0}, {177, 0x013A, 0},
        {178, 0x0107, 0}, {179, 0x0119, 0}, {180, 0x011B, 0}, {181, 0x010F, 0}, {182, 0x0144, 0},
        {183, 0x0148, 0}, {184, 0x0159, 0}, {185, 0x016F, 0}, {186, 0x0163, 0}, {187, 0x02D9, 0},
        {188, 0x0103, 1}, {190, 0x0150, 1}, {192, 0x20, 0},   {235, 0x0170, 1}, {237, 0x20, 0},
        {243, 0x00A2, 0}, {244, 0x00A5, 0}, {245, 0x00BF, 0}, {246, 0x00A1, 0}, {247, 0x00BD, 0},
        {248, 0x00BC, 0}, {249, 0x20, 0},
    };
    if (code > 255) return 0;
    if (set == 1) return code < 128 ? DiChar(code) : DiChar(cp437High[code - 128]);
    if (set != 2) return u' ';
    size_t i = DI_COUNTOF(set2) - 1;
    while (set2[i].first > code)
        i--;
    return DiChar(set2[i].value + set2[i].step * (code - set2[i].first));
}
