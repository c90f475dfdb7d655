/* Regions: sets of pixels held as lists of non-overlapping boxes in y-x
 * bands, combined by union, intersection and subtraction; and the damage
 * areas of X windows built on them.
 *
 * Band invariant of every region these operations produce (RegionMergeVertical
 * alone gives it up): boxes are sorted by y1, then x1; boxes with the same y1
 * form a band and share y1 and y2; bands do not overlap vertically; boxes in
 * one band neither overlap nor touch; two vertically adjacent bands with
 * identical x spans are coalesced into one. The extents are the bounding box
 * of all boxes. This form is canonical: a set of pixels has exactly one. */
#ifndef HV_DIREGION_H
#define HV_DIREGION_H

#include "didep.h"

/* x2 and y2 are exclusive. */
struct DiBox {
    int16_t x1, y1, x2, y2;
};

/* A box block: `size` boxes allocated, `numRects` used; the boxes follow the
 * header. A block with size 0 is never freed (the shared empty block). */
struct DiRegionData {
    int32_t size;
    int32_t numRects;
};

/* No data block: the region is exactly its extents (one box). The shared
 * empty block: no box, extents with x2 = x1 and y2 = y1. */
struct DiRegion {
    DiBox extents;
    DiRegionData* data;
};

extern DiRegionData diRegionEmptyData;

/* Sets up a region in place (its old contents are not freed): the box (data
 * none), or, without one, empty with room for `size` boxes when size is 2 or
 * more. A box with x2 <= x1 or y2 <= y1 gives the empty region. When the box
 * block cannot be allocated the region gets the shared empty block. */
void RegionInit(DiRegion* r, const DiBox* box, int size);
/* Frees the box block only. */
void RegionUninit(DiRegion* r);

/* The combining operations return 1; 0 when memory ran out, in which case
 * the destination keeps its old, valid value and the failure is logged. The
 * destination may be one of the inputs. */
int RegionCopy(DiRegion* dst, const DiRegion* src);
int RegionUnion(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2);
int RegionIntersect(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2);
int RegionSubtract(DiRegion* newReg, const DiRegion* reg1, const DiRegion* reg2);

/* The region becomes exactly the box (an empty box: the empty region). */
void RegionReset(DiRegion* r, const DiBox* box);
/* Frees the data; the region is empty at its extents' origin. */
void RegionEmpty(DiRegion* r);
int RegionNotEmpty(const DiRegion* r);
int RegionNumRects(const DiRegion* r);
/* The boxes: the extents when there is no data block. */
const DiBox* RegionRects(const DiRegion* r);

/* Makes room for n more boxes by the allocation rule: without a data block
 * one of n + 1 boxes holding the extents first; from the shared empty block
 * one of n; otherwise the used count plus an increment: for n = 1 the used
 * count (250 once more than 500 are in use), for larger n, n. 0 or -1. */
int RegionReserve(DiRegion* r, int n);

/* Merges boxes of equal x span that follow each other vertically, for
 * painting: each box absorbs the later boxes with its x1 and x2, examined in
 * order until one starts below its current y2. The result is no longer
 * banded. Returns the number of comparisons made. */
int RegionMergeVertical(DiRegion* r);

/* A rectangle as windows report damage: x + width and y + height may pass
 * 32767 and are clamped. */
struct DiXRect {
    int16_t x, y;
    uint16_t width, height;
};

/* A window's damage area: the extents and box count mirror the region
 * (count 0 empty, 1 a single box, else the region's box count). */
struct DiXRegionArea {
    int32_t x, y, width, height;
    int32_t count;
    DiRegion region;
    DiRegion scratch; /* one box, used to add boxes */
};

void diXAreaInit(DiXRegionArea* a);
void diXAreaFree(DiXRegionArea* a);
void diXAreaClear(DiXRegionArea* a);
/* Unites the rectangles (empty ones dropped) into the area: 1, or 0 when
 * memory ran out (the area keeps its old value). */
int diXAreaAddBoxes(DiXRegionArea* a, int count, const DiXRect* rects);
/* As diXAreaAddBoxes, for an area kept short: when the result would hold
 * more than maxBoxes boxes the area becomes its extents, and the boxes
 * past maxBoxes are never built (a request's damage costs about what
 * walking its boxes costs, however many boxes their union would have). */
int diXAreaAddBoxesUpTo(DiXRegionArea* a, int count, const DiXRect* rects, int maxBoxes);
/* Boxes written into the results of region operations since the process
 * started (each operation's result counted once, a sweep stopped at its
 * limit too): what building regions has cost. */
uint64_t diRegionBoxesBuilt();
/* True when the boxes cover the whole extents. */
bool diXAreaCoversExtents(const DiXRegionArea* a);
int diXAreaSubtract(DiXRegionArea* dst, const DiXRegionArea* a1, const DiXRegionArea* a2);
bool diXAreaIsEmpty(const DiXRegionArea* a);

#endif
