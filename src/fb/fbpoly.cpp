/* Convex polygons as spans, handed to the GC's span filler in one batch. */
#include "fb/fbpriv.h"

#include <stdlib.h>

namespace {

/* Rows a polygon may span: the wire's coordinates are 16-bit. */
const int64_t kMaxPolygonRows = 1 << 17;

/* The x of one edge, stepped a row at a time without division. */
struct Edge {
    int64_t x, d, m, m1, incr1, incr2;

    void init(int64_t dy, int64_t x1, int64_t x2) {
        if (dy == 0)
            return; /* a horizontal edge keeps the stepping state */
        x = x1;
        int64_t dx = x2 - x1;
        m = dx / dy;
        if (dx < 0) {
            m1 = m - 1;
            incr1 = -2 * dx + 2 * dy * m1;
            incr2 = -2 * dx + 2 * dy * m;
            d = 2 * m * dy - 2 * dx - 2 * dy;
        } else {
            m1 = m + 1;
            incr1 = 2 * dx - 2 * dy * m1;
            incr2 = 2 * dx - 2 * dy * m;
            d = -2 * m * dy + 2 * dx;
        }
    }
    void step() {
        if (m1 > 0 ? d > 0 : d >= 0) {
            x += m1;
            d += incr1;
        } else {
            x += m;
            d += incr2;
        }
    }
};

} // namespace

uint32_t fbPolygonBounds(const FbPoint* pts, uint32_t count, int32_t* xmin, int32_t* xmax,
                         int32_t* ymin, int32_t* ymax) {
    uint32_t top = 0;
    *xmin = *xmax = pts[0].x;
    *ymin = *ymax = pts[0].y;
    for (uint32_t i = 1; i < count; i++) {
        if (pts[i].x < *xmin) *xmin = pts[i].x;
        if (pts[i].x > *xmax) *xmax = pts[i].x;
        if (pts[i].y < *ymin) {
            *ymin = pts[i].y;
            top = i;
        }
        if (pts[i].y > *ymax) *ymax = pts[i].y;
    }
    return top;
}

void fbFillPolygon(void* display, FbBuffer* dst, FbGC* gc, uint32_t shape, uint32_t count,
                   const FbPoint* points) {
    if (shape == 2)
        fbFillConvexPolygon(display, dst, gc, count, points);
}

void fbFillConvexPolygon(void* display, FbBuffer* dst, FbGC* gc, uint32_t count,
                         const FbPoint* pts) {
    if (count < 3 || !pts)
        return;
    int32_t xmin, xmax, ymin, ymax;
    uint32_t top = fbPolygonBounds(pts, count, &xmin, &xmax, &ymin, &ymax);
    int64_t dw = int64_t(xmax) - xmin, dh = int64_t(ymax) - ymin;
    if (dw <= INT32_MAX && dh <= INT32_MAX)
        fbDamageRect(display, dst, gc, xmin, ymin, int32_t(dw), int32_t(dh));
    if (dh == 0)
        return; /* no row lies above the bottom one */
    if (dh >= kMaxPolygonRows) {
        fbNoteBadInput("a polygon taller than any drawable was not drawn.");
        return;
    }
    size_t rows = size_t(dh + 1);
    FbPoint* spans = static_cast<FbPoint*>(malloc(rows * sizeof(FbPoint)));
    int32_t* widths = static_cast<int32_t*>(malloc(rows * sizeof(int32_t)));
    size_t n = 0;
    if (spans && widths) {
        Edge l{}, r{};
        uint32_t nextLeft = top, nextRight = top;
        int64_t y = ymin;
        bool turned = false;
        do {
            /* Each vertex is passed at most once per walker per row. */
            for (uint32_t k = 0; k < count && pts[nextLeft].y == y; k++) {
                uint32_t left = nextLeft;
                nextLeft = left + 1 == count ? 0 : left + 1;
                l.init(int64_t(pts[nextLeft].y) - pts[left].y, pts[left].x, pts[nextLeft].x);
            }
            for (uint32_t k = 0; k < count && pts[nextRight].y == y; k++) {
                uint32_t right = nextRight;
                nextRight = right == 0 ? count - 1 : right - 1;
                r.init(int64_t(pts[nextRight].y) - pts[right].y, pts[right].x, pts[nextRight].x);
            }
            int64_t rowsLeft = (pts[nextLeft].y < pts[nextRight].y ? pts[nextLeft].y : pts[nextRight].y) - y;
            if (rowsLeft < 0 || n + size_t(rowsLeft) > rows) {
                turned = true; /* not convex: the outline turns back upwards */
                break;
            }
            for (; rowsLeft > 0; rowsLeft--) {
                int64_t a = l.x < r.x ? l.x : r.x, w = l.x < r.x ? r.x - l.x : l.x - r.x;
                if (a < INT32_MIN || a > INT32_MAX || w > INT32_MAX) {
                    turned = true;
                    break;
                }
                spans[n] = FbPoint{int32_t(a), int32_t(y)};
                widths[n] = int32_t(w);
                n++;
                y++;
                l.step();
                r.step();
            }
        } while (!turned && y != ymax);
        if (!turned && n)
            gc->ops->FillSpans(display, dst, gc, uint32_t(n), spans, widths);
    }
    free(spans);
    free(widths);
}
