/* The terminal window's portable half: the key table, the mouse selection
 * (stream or block) with its inversion and autoscroll, the text a copy
 * takes, and the pieces a paste is sent in.
 *
 * A selection holds the engine's output from the press until it is
 * cleared: the server is told with message 7 at the press and message 2 at
 * the clear, socket reads are off meanwhile, and the reader takes nothing.
 * Every path that ends a selection goes through diTDSelClear, so 7 and 2
 * always pair and no inverted cell is left behind. */
#include "net/dinet.h"
#include "tde/ditde.h"

#include "core/ditimer.h"

namespace {

const uint32_t kShiftMask = 0x0001 | 0x0080; /* left or right Shift */
const uint32_t kAutoscrollMs = 200;
const uint32_t kPieceMax = 80;
const uint8_t kMsgHold = 7, kMsgRelease = 2;

constexpr uint32_t keyTableEntry(uint32_t vk) {
    return (vk == 19 || vk == 20 || (vk >= 33 && vk <= 40) || (vk >= 96 && vk <= 107) ||
            (vk >= 109 && vk <= 123) || vk == 144 || vk == 145 || vk == 176)
               ? vk
           : vk == 45 ? 0x9B
           : vk == 46 ? 0x7F
                      : 0;
}

struct KeyTable {
    uint32_t v[256];
    constexpr KeyTable() : v() {
        for (uint32_t i = 0; i < 256; i++)
            v[i] = keyTableEntry(i);
    }
};
constexpr KeyTable kKeys;

int32_t minOf(int32_t a, int32_t b) {
    return a < b ? a : b;
}
int32_t maxOf(int32_t a, int32_t b) {
    return a > b ? a : b;
}

/* The same span computation for any two ends (the stream range between
 * an old and a new end is inverted with it too). */
bool spanOf(int32_t c1, int32_t r1, int32_t c2, int32_t r2, bool block, int32_t columns,
            int32_t row, int32_t* lo, int32_t* hi) {
    if (block) {
        if (row < minOf(r1, r2) || row > maxOf(r1, r2)) return false;
        *lo = minOf(c1, c2);
        *hi = maxOf(c1, c2);
        return *lo < *hi;
    }
    if (r2 < r1 || (r2 == r1 && c2 < c1)) {
        int32_t c = c1, r = r1;
        c1 = c2, r1 = r2, c2 = c, r2 = r;
    }
    if (row < r1 || row > r2) return false;
    *lo = row == r1 ? c1 : 0;
    *hi = row == r2 ? c2 : columns;
    return *lo < *hi;
}

/* Inverts the cells of the area between two ends, only where they meet
 * the clip rectangle (object pixels; width 0: no clip). */
void invertSpan(DiTDisplay* t, int32_t c1, int32_t r1, int32_t c2, int32_t r2, bool block,
                const int32_t* clip) {
    DiTDScreen* s = &t->screen;
    if (!s->exists || !t->ops || !t->ops->invert || t->paintingOff) return;
    int32_t top = block ? minOf(r1, r2) : (r2 < r1 ? r2 : r1);
    int32_t bottom = block ? maxOf(r1, r2) : (r2 < r1 ? r1 : r2);
    for (int32_t row = top; row <= bottom; row++) {
        int32_t lo, hi;
        if (!spanOf(c1, r1, c2, r2, block, s->columns, row, &lo, &hi)) continue;
        int32_t x = lo * s->cellWidth, y = row * s->cellHeight;
        int32_t x2 = hi * s->cellWidth, y2 = y + s->cellHeight;
        if (clip && clip[2] > 0) {
            x = maxOf(x, clip[0]);
            y = maxOf(y, clip[1]);
            x2 = minOf(x2, clip[0] + clip[2]);
            y2 = minOf(y2, clip[1] + clip[3]);
        }
        if (x < x2 && y < y2) t->ops->invert(t->ch.hdr.gc, x, y, x2 - x, y2 - y);
    }
}

void invertArea(DiTDisplay* t, const int32_t* clip) {
    const DiTDSelection* sel = &t->sel;
    invertSpan(t, sel->anchorColumn, sel->anchorRow, sel->endColumn, sel->endRow, sel->block != 0,
               clip);
}

void setReads(DiTDisplay* t, bool on) {
    if (!t->ch.socket) return;
    uint32_t which = DD_NET_READ | DD_NET_CLOSE;
    ddNetSelectEvents(t->ch.socket, which, on ? which : 0);
}

/* Near an edge of the visible part, the view moves two cell widths (or
 * one cell height) towards it. */
void autoscroll(DiTDisplay* t, int32_t x, int32_t y) {
    const DiTDOps* ops = t->ops;
    DiObject* obj = &t->ch.hdr;
    if (!ops || !ops->viewArea || !ops->scrollView) return;
    int32_t vx = 0, vy = 0, vw = 0, vh = 0;
    ops->viewArea(obj, &vx, &vy, &vw, &vh);
    int32_t stepX = 2 * t->screen.cellWidth, stepY = t->screen.cellHeight, dx = 0, dy = 0;
    if (x - vx < stepX)
        dx = -stepX;
    else if (vx + vw - x < stepX)
        dx = stepX;
    if (y - vy < stepY)
        dy = -stepY;
    else if (vy + vh - y < stepY)
        dy = stepY;
    if (dx || dy) ops->scrollView(obj, dx, dy);
}

uint32_t autoscrollTick(void* arg) {
    DiTDisplay* t = static_cast<DiTDisplay*>(arg);
    if (!t->sel.selecting || !t->screen.exists) {
        t->sel.autoscroll = nullptr; /* returning 0 frees the record */
        return 0;
    }
    diTDSelMotion(t, t->sel.lastX, t->sel.lastY);
    return kAutoscrollMs;
}

/* Slot 0 cells hold the character they show (8-bit text took its code
 * page's when it was written). Slots 1 and 2 draw their codes through
 * their own maps; a soft-font glyph of slots 3 and 4 has no character of
 * its own and copies as its code in the channel's code page. */
DiChar cellText(const DiTDisplay* t, const DiTDRow* r, int32_t i) {
    uint32_t slot = r->attrs[i].slot, c = r->chars[i];
    DiChar out;
    if (slot == 0)
        out = DiChar(c);
    else if (slot == 1 || slot == 2)
        out = diTDMapCharacter(slot, c);
    else
        out = DiChar(diDECharToUnicode(const_cast<DiChannel*>(&t->ch), c));
    /* A character no table knows would end the clipboard's text early. */
    return out ? out : DiChar(u' ');
}

bool isHigh(DiChar c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

const uint32_t TerminalKeyLookup[256] = {
#define K4(n) kKeys.v[n], kKeys.v[n + 1], kKeys.v[n + 2], kKeys.v[n + 3]
#define K16(n) K4(n), K4(n + 4), K4(n + 8), K4(n + 12)
    K16(0),   K16(16),  K16(32),  K16(48),  K16(64),  K16(80),  K16(96),  K16(112),
    K16(128), K16(144), K16(160), K16(176), K16(192), K16(208), K16(224), K16(240),
#undef K16
#undef K4
};

void diTDSelCell(const DiTDisplay* t, int32_t x, int32_t y, int32_t* column, int32_t* row) {
    const DiTDScreen* s = &t->screen;
    int32_t c = s->cellWidth > 0 ? x / s->cellWidth : 0;
    int32_t r = s->cellHeight > 0 ? y / s->cellHeight : 0;
    *column = maxOf(0, minOf(c, s->columns));
    *row = maxOf(0, minOf(r, s->rows));
}

bool diTDSelRowSpan(const DiTDSelection* sel, int32_t columns, int32_t row, int32_t* lo,
                    int32_t* hi) {
    return spanOf(sel->anchorColumn, sel->anchorRow, sel->endColumn, sel->endRow, sel->block != 0,
                  columns, row, lo, hi);
}

void diTDSelStopTimer(DiTDisplay* t) {
    if (t->sel.autoscroll) diTimerRemove(t->sel.autoscroll);
    t->sel.autoscroll = nullptr;
}

void diTDSelClear(DiTDisplay* t) {
    DiTDSelection* sel = &t->sel;
    if (!sel->selecting && !sel->shown) return;
    invertArea(t, nullptr);
    sel->selecting = sel->shown = 0;
    diTDSelStopTimer(t);
    t->selectionHeld = 0;
    diTAIPSendEmpty(t, kMsgRelease);
    setReads(t, true);
    /* Bytes already taken from the socket, or a resume swallowed while
     * the output was held, get no notice from the socket: read once now. */
    DiEvent ev{};
    ev.w[0] = DI_EV_READABLE;
    diTDEHandleEvent(&t->ch.hdr, &ev);
}

void diTDSelPress(DiTDisplay* t, int32_t x, int32_t y, int block) {
    diTDSelClear(t); /* also a selection whose release was lost */
    DiTDSelection* sel = &t->sel;
    if (!t->screen.exists) return;
    /* Cells the painter still owes are drawn before any is inverted. */
    if (!t->paintingOff) diTDPaint(t);
    diTAIPSendEmpty(t, kMsgHold);
    setReads(t, false);
    t->selectionHeld = 1;
    diTDSelCell(t, x, y, &sel->anchorColumn, &sel->anchorRow);
    sel->endColumn = sel->anchorColumn;
    sel->endRow = sel->anchorRow;
    sel->lastX = x;
    sel->lastY = y;
    sel->selecting = 1;
    sel->block = block ? 1 : 0;
    if (t->ops && t->ops->viewScrolled && t->ops->viewScrolled(&t->ch.hdr))
        sel->autoscroll = diTimerAdd(kAutoscrollMs, autoscrollTick, t);
}

void diTDSelMotion(DiTDisplay* t, int32_t x, int32_t y) {
    DiTDSelection* sel = &t->sel;
    if (!sel->selecting || !t->screen.exists) return;
    sel->lastX = x;
    sel->lastY = y;
    int32_t c, r;
    diTDSelCell(t, x, y, &c, &r);
    if (c != sel->endColumn || r != sel->endRow) {
        if (sel->block) {
            invertArea(t, nullptr);
            sel->endColumn = c, sel->endRow = r;
            invertArea(t, nullptr);
        } else {
            invertSpan(t, sel->endColumn, sel->endRow, c, r, false, nullptr);
            sel->endColumn = c, sel->endRow = r;
        }
    }
    autoscroll(t, x, y);
}

void diTDSelRelease(DiTDisplay* t) {
    DiTDSelection* sel = &t->sel;
    if (!sel->selecting) return;
    diTDSelStopTimer(t);
    if (sel->anchorColumn == sel->endColumn && sel->anchorRow == sel->endRow) {
        diTDSelClear(t);
        return;
    }
    sel->selecting = 0;
    sel->shown = 1;
}

std::u16string diTDSelText(const DiTDisplay* t) {
    std::u16string out;
    const DiTDSelection* sel = &t->sel;
    const DiTDScreen* s = &t->screen;
    if (!sel->shown || !s->exists) return out;
    int32_t top = minOf(sel->anchorRow, sel->endRow), bottom = maxOf(sel->anchorRow, sel->endRow);
    for (int32_t row = top; row <= bottom; row++) {
        int32_t lo, hi;
        /* The row below the last one (a drag past the grid) has no record:
         * it is empty. */
        const DiTDRow* r = s->rowList && row < s->rows ? s->rowList[row] : nullptr;
        if (r && diTDSelRowSpan(sel, s->columns, row, &lo, &hi)) {
            hi = minOf(hi, minOf(r->used, DI_TD_CELLS));
            for (int32_t i = lo; i < hi; i++)
                out.push_back(cellText(t, r, i));
        }
        if (row < bottom) out.push_back(u'\n');
    }
    return out;
}

uint32_t diTDPastePiece(const DiChar* text, uint32_t n) {
    uint32_t k = 0;
    while (k < n && k < kPieceMax) {
        if (text[k++] == u'\n') return k;
    }
    /* Never end between the halves of a pair: the last unit goes with the
     * next piece. */
    if (k == kPieceMax && k < n && isHigh(text[k - 1])) k--;
    return k;
}

bool diTDPasteIsLong(const DiTDisplay* t, uint32_t n) {
    return int64_t(n) > int64_t(t->screen.rows) * t->screen.columns;
}

int diTDSendPasted(DiTDisplay* t, const DiChar* text, uint32_t n) {
    if (!n) return 0;
    bool bracket = diTDPasteIsLong(t, n);
    int rc = 0;
    if (bracket) diTAIPSendEmpty(t, kMsgHold);
    for (uint32_t pos = 0; pos < n;) {
        uint32_t k = diTDPastePiece(text + pos, n - pos);
        if (diTAIPSendPaste(t, text + pos, k) < 0) {
            rc = -1;
            break;
        }
        pos += k;
    }
    if (bracket) diTAIPSendEmpty(t, kMsgRelease);
    return rc;
}

int diTDWindowEvent(DiObject* obj, DiEvent* ev) {
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(obj);
    DiTDSelection* sel = &t->sel;
    switch (ev->w[0]) {
    case DI_EV_KEY_PRESS:
        if (sel->selecting || sel->shown) {
            if (ev->w[2] == 27) diTDSelClear(t);
            return 1;
        }
        ev->w[1] = ev->w[1] < 256 ? TerminalKeyLookup[ev->w[1]] : 0;
        break;
    case DI_EV_KEY_RELEASE:
        ev->w[1] = ev->w[1] < 256 ? TerminalKeyLookup[ev->w[1]] : 0;
        break;
    case DI_EV_MOTION:
        diTDSelMotion(t, int32_t(ev->w[3]), int32_t(ev->w[4]));
        break;
    case DI_EV_BUTTON_PRESS:
        if (ev->w[2] == 0)
            diTDSelPress(t, int32_t(ev->w[3]), int32_t(ev->w[4]), (ev->w[7] & kShiftMask) != 0);
        break;
    case DI_EV_BUTTON_RELEASE:
        if (ev->w[2] == 0) diTDSelRelease(t);
        break;
    case DI_EV_EXPOSE: {
        int rc = diTDEHandleEvent(obj, ev);
        if (ev->w[1] == 0 && (sel->selecting || sel->shown)) {
            int32_t clip[4] = {int32_t(ev->w[2]), int32_t(ev->w[3]), int32_t(ev->w[4]),
                               int32_t(ev->w[5])};
            if (clip[2] > 0 && clip[3] > 0) invertArea(t, clip);
        }
        return rc;
    }
    default:
        break;
    }
    return diTDEHandleEvent(obj, ev);
}
