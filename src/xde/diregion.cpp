/* Banded regions: union, intersection and subtraction walk both inputs band
 * by band; where bands overlap vertically an overlap function combines their
 * x spans, where only one input has a band it is copied or dropped, and each
 * new band is coalesced with the one above when their spans are identical.
 * Results are built in a fresh block and replace the destination only when
 * complete, so a failed allocation leaves the destination as it was. */
#include "xde/diregion.h"

#include "core/dilog.h"

#include <algorithm>
#include <atomic>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

DiRegionData diRegionEmptyData = {0, 0};

namespace {

/* A box block never holds more than this; 128 MiB of boxes. */
const int64_t kMaxBoxes = int64_t(1) << 24;

DiBox* boxesOf(DiRegionData* d) {
    return reinterpret_cast<DiBox*>(d + 1);
}

DiRegionData* allocData(int64_t n) {
    if (n < 1 || n > kMaxBoxes) return nullptr;
    DiRegionData* d = static_cast<DiRegionData*>(
        malloc(sizeof(DiRegionData) + size_t(n) * sizeof(DiBox)));
    if (!d) return nullptr;
    d->size = int32_t(n);
    d->numRects = 0;
    return d;
}

void freeData(DiRegionData* d) {
    if (d && d->size) free(d);
}

bool boxEmpty(const DiBox* b) {
    return b->x2 <= b->x1 || b->y2 <= b->y1;
}

bool regionEmpty(const DiRegion* r) {
    return r->data && r->data->numRects == 0;
}

void setEmpty(DiRegion* r, int16_t x, int16_t y) {
    freeData(r->data);
    r->extents = {x, y, x, y};
    r->data = &diRegionEmptyData;
}

bool contains(const DiBox* outer, const DiBox* inner) {
    return outer->x1 <= inner->x1 && outer->x2 >= inner->x2 && outer->y1 <= inner->y1 &&
           outer->y2 >= inner->y2;
}

bool overlaps(const DiBox* a, const DiBox* b) {
    return a->x1 < b->x2 && b->x1 < a->x2 && a->y1 < b->y2 && b->y1 < a->y2;
}

void logNoMemory() {
    diLogErrorText(u"Out of memory while combining regions; the region keeps its old value.");
}

} // namespace

int RegionNumRects(const DiRegion* r) {
    return r->data ? r->data->numRects : 1;
}

const DiBox* RegionRects(const DiRegion* r) {
    return r->data ? boxesOf(r->data) : &r->extents;
}

int RegionNotEmpty(const DiRegion* r) {
    return !regionEmpty(r);
}

void RegionInit(DiRegion* r, const DiBox* box, int size) {
    if (box) {
        if (boxEmpty(box)) {
            r->data = nullptr;
            setEmpty(r, box->x1, box->y1);
            return;
        }
        r->extents = *box;
        r->data = nullptr;
        return;
    }
    r->extents = {0, 0, 0, 0};
    r->data = &diRegionEmptyData;
    if (size > 1) {
        DiRegionData* d = allocData(size);
        if (d) r->data = d;
    }
}

void RegionUninit(DiRegion* r) {
    freeData(r->data);
    r->data = nullptr;
}

void RegionReset(DiRegion* r, const DiBox* box) {
    if (boxEmpty(box)) {
        setEmpty(r, box->x1, box->y1);
        return;
    }
    freeData(r->data);
    r->extents = *box;
    r->data = nullptr;
}

void RegionEmpty(DiRegion* r) {
    setEmpty(r, r->extents.x1, r->extents.y1);
}

int RegionReserve(DiRegion* r, int n) {
    if (n < 1) return 0;
    DiRegionData* d = r->data;
    if (!d) {
        DiRegionData* nd = allocData(int64_t(n) + 1);
        if (!nd) return -1;
        boxesOf(nd)[0] = r->extents;
        nd->numRects = 1;
        r->data = nd;
        return 0;
    }
    if (d->size == 0) {
        DiRegionData* nd = allocData(n);
        if (!nd) return -1;
        r->data = nd;
        return 0;
    }
    if (int64_t(d->numRects) + n <= d->size) return 0;
    int64_t inc = n;
    if (n == 1) inc = d->numRects > 500 ? 250 : d->numRects;
    if (inc < n) inc = n;
    int64_t want = int64_t(d->numRects) + inc;
    if (want > kMaxBoxes) return -1;
    DiRegionData* nd = static_cast<DiRegionData*>(
        realloc(d, sizeof(DiRegionData) + size_t(want) * sizeof(DiBox)));
    if (!nd) return -1;
    nd->size = int32_t(want);
    r->data = nd;
    return 0;
}

int RegionCopy(DiRegion* dst, const DiRegion* src) {
    if (dst == src) return 1;
    if (!src->data || src->data->size == 0) {
        freeData(dst->data);
        dst->extents = src->extents;
        dst->data = src->data;
        return 1;
    }
    int n = src->data->numRects;
    if (!dst->data || dst->data->size < n) {
        DiRegionData* nd = allocData(n);
        if (!nd) {
            logNoMemory();
            return 0;
        }
        freeData(dst->data);
        dst->data = nd;
    }
    memcpy(boxesOf(dst->data), boxesOf(src->data), size_t(n) * sizeof(DiBox));
    dst->data->numRects = n;
    dst->extents = src->extents;
    return 1;
}

namespace {

/* The result under construction: a region that always has its own block. */
struct Builder {
    DiRegion r;
    bool failed;

    DiBox* boxes() { return boxesOf(r.data); }
    int count() const { return r.data->numRects; }

    bool add(int x1, int y1, int x2, int y2) {
        if (failed) return false;
        if (r.data->numRects == r.data->size && RegionReserve(&r, 1) < 0) {
            failed = true;
            return false;
        }
        boxesOf(r.data)[r.data->numRects++] = {int16_t(x1), int16_t(y1), int16_t(x2), int16_t(y2)};
        return true;
    }

    bool addMany(const DiBox* b, int n) {
        if (failed || n <= 0) return !failed;
        if (RegionReserve(&r, n) < 0) {
            failed = true;
            return false;
        }
        memcpy(boxesOf(r.data) + r.data->numRects, b, size_t(n) * sizeof(DiBox));
        r.data->numRects += n;
        return true;
    }
};

/* Coalesces the band starting at curStart with the one starting at
 * prevStart when both have the same spans and touch; returns the start of
 * the band the next one is compared with. */
int coalesce(Builder& b, int prevStart, int curStart) {
    int n = curStart - prevStart;
    if (n == 0 || n != b.count() - curStart) return curStart;
    DiBox* prev = b.boxes() + prevStart;
    DiBox* cur = b.boxes() + curStart;
    if (prev->y2 != cur->y1) return curStart;
    for (int i = 0; i < n; i++)
        if (prev[i].x1 != cur[i].x1 || prev[i].x2 != cur[i].x2) return curStart;
    int16_t y2 = cur->y2;
    for (int i = 0; i < n; i++)
        prev[i].y2 = y2;
    b.r.data->numRects -= n;
    return prevStart;
}

void appendBand(Builder& b, const DiBox* r, const DiBox* rEnd, int y1, int y2) {
    for (; r != rEnd; r++)
        b.add(r->x1, y1, r->x2, y2);
}

const DiBox* bandEnd(const DiBox* r, const DiBox* rEnd) {
    int16_t y1 = r->y1;
    while (r != rEnd && r->y1 == y1)
        r++;
    return r;
}

typedef void (*OverlapFn)(Builder& b, const DiBox* r1, const DiBox* r1End, const DiBox* r2,
                          const DiBox* r2End, int y1, int y2);

void unionO(Builder& b, const DiBox* r1, const DiBox* r1End, const DiBox* r2, const DiBox* r2End,
            int y1, int y2) {
    int x1, x2;
    if (r1->x1 < r2->x1) {
        x1 = r1->x1, x2 = r1->x2, r1++;
    } else {
        x1 = r2->x1, x2 = r2->x2, r2++;
    }
    for (;;) {
        const DiBox* next;
        if (r1 != r1End && (r2 == r2End || r1->x1 < r2->x1))
            next = r1++;
        else if (r2 != r2End)
            next = r2++;
        else
            break;
        if (next->x1 <= x2) {
            if (next->x2 > x2) x2 = next->x2;
        } else {
            b.add(x1, y1, x2, y2);
            x1 = next->x1, x2 = next->x2;
        }
    }
    b.add(x1, y1, x2, y2);
}

void intersectO(Builder& b, const DiBox* r1, const DiBox* r1End, const DiBox* r2,
                const DiBox* r2End, int y1, int y2) {
    while (r1 != r1End && r2 != r2End) {
        int x1 = r1->x1 > r2->x1 ? r1->x1 : r2->x1;
        int x2 = r1->x2 < r2->x2 ? r1->x2 : r2->x2;
        if (x1 < x2) b.add(x1, y1, x2, y2);
        if (r1->x2 == x2) r1++;
        if (r2->x2 == x2) r2++;
    }
}

void subtractO(Builder& b, const DiBox* r1, const DiBox* r1End, const DiBox* r2,
               const DiBox* r2End, int y1, int y2) {
    int x1 = r1->x1;
    while (r1 != r1End && r2 != r2End) {
        if (r2->x2 <= x1) {
            r2++; /* subtrahend entirely to the left */
        } else if (r2->x1 <= x1) {
            x1 = r2->x2; /* subtrahend covers the left part */
            if (x1 >= r1->x2) {
                if (++r1 != r1End) x1 = r1->x1;
            } else {
                r2++;
            }
        } else if (r2->x1 < r1->x2) {
            b.add(x1, y1, r2->x1, y2); /* the part left of the subtrahend */
            x1 = r2->x2;
            if (x1 >= r1->x2) {
                if (++r1 != r1End) x1 = r1->x1;
            } else {
                r2++;
            }
        } else {
            if (r1->x2 > x1) b.add(x1, y1, r1->x2, y2);
            if (++r1 != r1End) x1 = r1->x1;
        }
    }
    while (r1 != r1End) {
        b.add(x1, y1, r1->x2, y2);
        if (++r1 != r1End) x1 = r1->x1;
    }
}

void setExtentsFromBoxes(DiRegion* r) {
    const DiBox* box = boxesOf(r->data);
    int n = r->data->numRects;
    DiBox e = {box[0].x1, box[0].y1, box[0].x2, box[n - 1].y2};
    for (int i = 1; i < n; i++) {
        if (box[i].x1 < e.x1) e.x1 = box[i].x1;
        if (box[i].x2 > e.x2) e.x2 = box[i].x2;
    }
    r->extents = e;
}

/* Replaces dst's contents with the finished result: the shared empty block,
 * a single box without a block, or the block with its extents. */
std::atomic<uint64_t> g_boxesBuilt{0};

void adopt(DiRegion* dst, Builder& b) {
    int n = b.count();
    g_boxesBuilt.fetch_add(uint64_t(n), std::memory_order_relaxed);
    if (n == 0) {
        freeData(b.r.data);
        setEmpty(dst, 0, 0);
    } else if (n == 1) {
        DiBox only = b.boxes()[0];
        freeData(b.r.data);
        freeData(dst->data);
        dst->extents = only;
        dst->data = nullptr;
    } else {
        freeData(dst->data);
        dst->data = b.r.data;
        setExtentsFromBoxes(dst);
    }
}

/* Walks both regions band by band into a new block; on success it replaces
 * newReg's contents (extents set from the boxes). */
bool regionOp(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2, OverlapFn overlap,
              bool appendNon1, bool appendNon2) {
    const DiBox* r1 = RegionRects(reg1);
    const DiBox* r1End = r1 + RegionNumRects(reg1);
    const DiBox* r2 = RegionRects(reg2);
    const DiBox* r2End = r2 + RegionNumRects(reg2);

    int64_t n1 = RegionNumRects(reg1), n2 = RegionNumRects(reg2);
    Builder b{{{0, 0, 0, 0}, allocData((n1 > n2 ? n1 : n2) * 2)}, false};
    if (!b.r.data) return false;

    int ybot = r1->y1 < r2->y1 ? r1->y1 : r2->y1;
    int prevBand = 0;
    do {
        const DiBox* r1BandEnd = bandEnd(r1, r1End);
        const DiBox* r2BandEnd = bandEnd(r2, r2End);
        int ytop;
        if (r1->y1 < r2->y1) {
            if (appendNon1) {
                int top = r1->y1 > ybot ? r1->y1 : ybot;
                int bot = r1->y2 < r2->y1 ? r1->y2 : r2->y1;
                if (top != bot) {
                    int curBand = b.count();
                    appendBand(b, r1, r1BandEnd, top, bot);
                    prevBand = coalesce(b, prevBand, curBand);
                }
            }
            ytop = r2->y1;
        } else if (r2->y1 < r1->y1) {
            if (appendNon2) {
                int top = r2->y1 > ybot ? r2->y1 : ybot;
                int bot = r2->y2 < r1->y1 ? r2->y2 : r1->y1;
                if (top != bot) {
                    int curBand = b.count();
                    appendBand(b, r2, r2BandEnd, top, bot);
                    prevBand = coalesce(b, prevBand, curBand);
                }
            }
            ytop = r1->y1;
        } else {
            ytop = r1->y1;
        }
        ybot = r1->y2 < r2->y2 ? r1->y2 : r2->y2;
        if (ybot > ytop) {
            int curBand = b.count();
            overlap(b, r1, r1BandEnd, r2, r2BandEnd, ytop, ybot);
            prevBand = coalesce(b, prevBand, curBand);
        }
        if (r1->y2 == ybot) r1 = r1BandEnd;
        if (r2->y2 == ybot) r2 = r2BandEnd;
    } while (r1 != r1End && r2 != r2End && !b.failed);

    /* What is left of one region below the other: its first band may have
     * been partly used; the bands after it are copied whole. */
    if (r1 != r1End && appendNon1 && !b.failed) {
        const DiBox* r1BandEnd = bandEnd(r1, r1End);
        int curBand = b.count();
        appendBand(b, r1, r1BandEnd, r1->y1 > ybot ? r1->y1 : ybot, r1->y2);
        prevBand = coalesce(b, prevBand, curBand);
        b.addMany(r1BandEnd, int(r1End - r1BandEnd));
    } else if (r2 != r2End && appendNon2 && !b.failed) {
        const DiBox* r2BandEnd = bandEnd(r2, r2End);
        int curBand = b.count();
        appendBand(b, r2, r2BandEnd, r2->y1 > ybot ? r2->y1 : ybot, r2->y2);
        prevBand = coalesce(b, prevBand, curBand);
        b.addMany(r2BandEnd, int(r2End - r2BandEnd));
    }
    if (b.failed) {
        freeData(b.r.data);
        return false;
    }

    adopt(newReg, b);
    return true;
}

} // namespace

int RegionIntersect(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2) {
    if (regionEmpty(reg1) || regionEmpty(reg2) || !overlaps(&reg1->extents, &reg2->extents)) {
        setEmpty(newReg, 0, 0);
        return 1;
    }
    if (!reg1->data && !reg2->data) {
        DiBox e = {reg1->extents.x1 > reg2->extents.x1 ? reg1->extents.x1 : reg2->extents.x1,
                   reg1->extents.y1 > reg2->extents.y1 ? reg1->extents.y1 : reg2->extents.y1,
                   reg1->extents.x2 < reg2->extents.x2 ? reg1->extents.x2 : reg2->extents.x2,
                   reg1->extents.y2 < reg2->extents.y2 ? reg1->extents.y2 : reg2->extents.y2};
        RegionReset(newReg, &e);
        return 1;
    }
    if (!reg2->data && contains(&reg2->extents, &reg1->extents)) return RegionCopy(newReg, reg1);
    if (!reg1->data && contains(&reg1->extents, &reg2->extents)) return RegionCopy(newReg, reg2);
    if (reg1 == reg2) return RegionCopy(newReg, reg1);
    if (!regionOp(newReg, reg1, reg2, intersectO, false, false)) {
        logNoMemory();
        return 0;
    }
    return 1;
}

int RegionUnion(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2) {
    if (reg1 == reg2 || regionEmpty(reg2)) return RegionCopy(newReg, reg1);
    if (regionEmpty(reg1)) return RegionCopy(newReg, reg2);
    if (!reg1->data && contains(&reg1->extents, &reg2->extents)) return RegionCopy(newReg, reg1);
    if (!reg2->data && contains(&reg2->extents, &reg1->extents)) return RegionCopy(newReg, reg2);
    DiBox e = {reg1->extents.x1 < reg2->extents.x1 ? reg1->extents.x1 : reg2->extents.x1,
               reg1->extents.y1 < reg2->extents.y1 ? reg1->extents.y1 : reg2->extents.y1,
               reg1->extents.x2 > reg2->extents.x2 ? reg1->extents.x2 : reg2->extents.x2,
               reg1->extents.y2 > reg2->extents.y2 ? reg1->extents.y2 : reg2->extents.y2};
    if (!regionOp(newReg, reg1, reg2, unionO, true, true)) {
        logNoMemory();
        return 0;
    }
    newReg->extents = e;
    return 1;
}

int RegionSubtract(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2) {
    if (regionEmpty(reg1) || regionEmpty(reg2) || !overlaps(&reg1->extents, &reg2->extents))
        return RegionCopy(newReg, reg1);
    if (reg1 == reg2) {
        setEmpty(newReg, 0, 0);
        return 1;
    }
    if (!regionOp(newReg, reg1, reg2, subtractO, true, false)) {
        logNoMemory();
        return 0;
    }
    return 1;
}

int RegionMergeVertical(DiRegion* r) {
    if (!r->data) return 0;
    DiBox* box = boxesOf(r->data);
    int n = r->data->numRects;
    int comparisons = 0;
    for (int i = 0; i < n; i++) {
        int j = i + 1;
        while (j < n) {
            comparisons++;
            if (box[j].y1 > box[i].y2) break;
            if (box[j].x1 == box[i].x1 && box[j].x2 == box[i].x2) {
                box[i].y2 = box[j].y2;
                memmove(box + j, box + j + 1, size_t(n - j - 1) * sizeof(DiBox));
                n--;
            } else {
                j++;
            }
        }
    }
    r->data->numRects = n;
    return comparisons;
}

/* Damage areas. */

namespace {

void refreshHead(DiXRegionArea* a) {
    if (regionEmpty(&a->region)) {
        a->x = a->y = a->width = a->height = 0;
        a->count = 0;
        return;
    }
    const DiBox& e = a->region.extents;
    a->x = e.x1;
    a->y = e.y1;
    a->width = int32_t(e.x2) - e.x1;
    a->height = int32_t(e.y2) - e.y1;
    a->count = RegionNumRects(&a->region);
}

int16_t clampI16(int32_t v) {
    return int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

/* The banded region of n boxes, built directly: between each two
 * consecutive horizontal edges, the boxes crossing that stretch give the
 * band's spans (merged where they overlap or touch), and each band is
 * coalesced with the one above. The boxes crossing the stretch are kept in
 * x order: those that start at an edge (sorted by y1, then x1) are merged in,
 * those that ended are dropped. Sorts boxes.
 *
 * A band never leaves fewer boxes than there were before it (coalescing
 * only takes back the band just added), so once more than maxBoxes are
 * built the region will hold more: the sweep stops there, *over is set
 * and out is left as it was. */
bool sweepBoxes(DiRegion* out, DiBox* boxes, int n, int maxBoxes = INT_MAX, bool* over = nullptr) {
    /* Work space: the edges (2n), the active boxes, a second list and the
     * bottom edges (n each). */
    int32_t* ys = static_cast<int32_t*>(malloc(size_t(n) * 5 * sizeof(int32_t)));
    if (!ys) return false;
    int32_t* active = ys + 2 * n;
    int32_t* merged = active + n;
    int32_t* bottoms = merged + n;
    /* Damage often arrives in this order already (rows of tiles). */
    auto yx = [](const DiBox& p, const DiBox& q) {
        return p.y1 != q.y1 ? p.y1 < q.y1 : p.x1 < q.x1;
    };
    if (!std::is_sorted(boxes, boxes + n, yx)) std::sort(boxes, boxes + n, yx);
    for (int i = 0; i < n; i++) {
        active[i] = boxes[i].y1;
        bottoms[i] = boxes[i].y2;
    }
    if (!std::is_sorted(bottoms, bottoms + n)) std::sort(bottoms, bottoms + n);
    std::merge(active, active + n, bottoms, bottoms + n, ys);
    int edges = int(std::unique(ys, ys + 2 * n) - ys);
    Builder b{{{0, 0, 0, 0}, allocData(n)}, false};
    int next = 0, live = 0, prevBand = 0;
    for (int e = 0; b.r.data && !b.failed && e + 1 < edges; e++) {
        int32_t y = ys[e], y2 = ys[e + 1];
        int starts = next;
        while (next < n && boxes[next].y1 == y) next++;
        /* Merge the boxes still crossing (in x order) with those starting. */
        int k = 0, i = 0, j = starts;
        while (i < live || j < next) {
            if (i < live && boxes[active[i]].y2 <= y) {
                i++;
            } else if (j < next && (i == live || boxes[j].x1 < boxes[active[i]].x1)) {
                merged[k++] = j++;
            } else {
                merged[k++] = active[i++];
            }
        }
        live = k;
        int32_t* swap = active;
        active = merged;
        merged = swap;
        if (live == 0) continue;
        int curBand = b.count();
        int x1 = boxes[active[0]].x1, x2 = boxes[active[0]].x2;
        for (int m = 1; m < live; m++) {
            const DiBox& bx = boxes[active[m]];
            if (bx.x1 <= x2) {
                if (bx.x2 > x2) x2 = bx.x2;
            } else {
                b.add(x1, y, x2, y2);
                x1 = bx.x1, x2 = bx.x2;
            }
        }
        b.add(x1, y, x2, y2);
        prevBand = coalesce(b, prevBand, curBand);
        if (b.count() > maxBoxes) {
            *over = true;
            break;
        }
    }
    free(ys);
    if (!b.r.data || b.failed) {
        freeData(b.r.data);
        return false;
    }
    if (over && *over) {
        g_boxesBuilt.fetch_add(uint64_t(b.count()), std::memory_order_relaxed);
        freeData(b.r.data);
    } else {
        adopt(out, b);
    }
    return true;
}

/* The boxes of rects worth adding to a: not empty, and not inside an area
 * of one box. Written to boxes (count of them); their bounds are united
 * into *bounds. */
int usefulBoxes(const DiXRegionArea* a, int count, const DiXRect* rects, DiBox* boxes,
                DiBox* bounds) {
    /* Boxes inside an area of one box change nothing: a busy window's area
     * soon becomes its extents and takes most new damage so. */
    const DiBox* whole = !regionEmpty(&a->region) && !a->region.data ? &a->region.extents : nullptr;
    int n = 0;
    for (int i = 0; i < count; i++) {
        /* Window sizes are u16: the sum is taken in 32 bits, then clamped. */
        DiBox b = {rects[i].x, rects[i].y, clampI16(int32_t(rects[i].x) + rects[i].width),
                   clampI16(int32_t(rects[i].y) + rects[i].height)};
        if (boxEmpty(&b) || (whole && contains(whole, &b))) continue;
        boxes[n++] = b;
        if (boxEmpty(bounds)) {
            *bounds = b;
        } else {
            bounds->x1 = std::min(bounds->x1, b.x1), bounds->y1 = std::min(bounds->y1, b.y1);
            bounds->x2 = std::max(bounds->x2, b.x2), bounds->y2 = std::max(bounds->y2, b.y2);
        }
    }
    return n;
}

} // namespace

void diXAreaInit(DiXRegionArea* a) {
    a->x = a->y = a->width = a->height = 0;
    a->count = 0;
    RegionInit(&a->region, nullptr, 0);
    DiBox none = {0, 0, 0, 0};
    RegionInit(&a->scratch, &none, 0);
}

void diXAreaFree(DiXRegionArea* a) {
    RegionUninit(&a->region);
    RegionUninit(&a->scratch);
    a->count = 0;
}

void diXAreaClear(DiXRegionArea* a) {
    RegionEmpty(&a->region);
    refreshHead(a);
}

int diXAreaAddBoxes(DiXRegionArea* a, int count, const DiXRect* rects) {
    if (count <= 0) return 1;
    DiBox stack[64];
    DiBox* boxes = stack;
    if (count > 64) {
        boxes = static_cast<DiBox*>(malloc(size_t(count) * sizeof(DiBox)));
        if (!boxes) {
            logNoMemory();
            return 0;
        }
    }
    DiBox bounds = {0, 0, 0, 0};
    int n = usefulBoxes(a, count, rects, boxes, &bounds);
    int ok = 1;
    if (n > 0) {
        /* The banded form is canonical, so uniting the whole list once gives
         * the region that adding the boxes one by one would. */
        if (n == 1)
            RegionReset(&a->scratch, &boxes[0]);
        else if (!sweepBoxes(&a->scratch, boxes, n))
            ok = 0;
        if (ok) ok = RegionUnion(&a->region, &a->region, &a->scratch);
        else logNoMemory();
        DiBox none = {0, 0, 0, 0};
        RegionReset(&a->scratch, &none);
    }
    if (boxes != stack) free(boxes);
    refreshHead(a);
    return ok;
}

int diXAreaAddBoxesUpTo(DiXRegionArea* a, int count, const DiXRect* rects, int maxBoxes) {
    int ok = 1;
    DiBox bounds = {0, 0, 0, 0};
    if (count > 0) {
        /* The area's own boxes join the sweep: the union's box count is
         * known only once both are banded together. */
        int held = regionEmpty(&a->region) ? 0 : RegionNumRects(&a->region);
        DiBox* boxes = static_cast<DiBox*>(malloc((size_t(count) + size_t(held)) * sizeof(DiBox)));
        int n = boxes ? usefulBoxes(a, count, rects, boxes, &bounds) : 0;
        bool over = false;
        if (!boxes) {
            ok = 0;
        } else if (n > 0) {
            if (held) memcpy(boxes + n, RegionRects(&a->region), size_t(held) * sizeof(DiBox));
            ok = sweepBoxes(&a->scratch, boxes, n + held, maxBoxes, &over);
            if (ok && !over) {
                /* The sweep's banded form is the union's. */
                DiRegion swap = a->region;
                a->region = a->scratch;
                a->scratch = swap;
            }
        }
        if (!ok) logNoMemory();
        DiBox none = {0, 0, 0, 0};
        RegionReset(&a->scratch, &none);
        free(boxes);
        if (over) {
            const DiBox& e = a->region.extents;
            if (!regionEmpty(&a->region)) {
                bounds.x1 = std::min(bounds.x1, e.x1), bounds.y1 = std::min(bounds.y1, e.y1);
                bounds.x2 = std::max(bounds.x2, e.x2), bounds.y2 = std::max(bounds.y2, e.y2);
            }
            RegionReset(&a->region, &bounds);
        }
    }
    refreshHead(a);
    if (a->count > maxBoxes) {
        DiBox e = a->region.extents;
        RegionReset(&a->region, &e);
        refreshHead(a);
    }
    return ok;
}

uint64_t diRegionBoxesBuilt() {
    return g_boxesBuilt.load(std::memory_order_relaxed);
}

bool diXAreaCoversExtents(const DiXRegionArea* a) {
    if (regionEmpty(&a->region)) return false;
    const DiBox* b = RegionRects(&a->region);
    int n = RegionNumRects(&a->region);
    int64_t sum = 0;
    for (int i = 0; i < n; i++)
        sum += int64_t(int32_t(b[i].x2) - b[i].x1) * (int32_t(b[i].y2) - b[i].y1);
    const DiBox& e = a->region.extents;
    return sum >= int64_t(int32_t(e.x2) - e.x1) * (int32_t(e.y2) - e.y1);
}

int diXAreaSubtract(DiXRegionArea* dst, const DiXRegionArea* a1, const DiXRegionArea* a2) {
    int r = RegionSubtract(&dst->region, &a1->region, &a2->region);
    refreshHead(dst);
    return r;
}

bool diXAreaIsEmpty(const DiXRegionArea* a) {
    return a->count == 0;
}
