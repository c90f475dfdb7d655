// A brute-force model of regions for the region tests and the region fuzz
// target: a bitmap over the cells of a coordinate grid, its canonical banded
// box list, and an independent check of the band invariant.
#pragma once

#include "xde/diregion.h"

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

#ifdef HV_HAVE_PIXMAN
#include <pixman.h>
#endif

// Every box coordinate is one of the grid lines xs / ys; cell (i, j) is the
// pixel block [xs[i], xs[i+1]) x [ys[j], ys[j+1]).
struct GridModel {
    std::vector<int> xs, ys;
    std::vector<std::vector<uint8_t>> cells; // [row j][column i]

    GridModel(std::vector<int> x, std::vector<int> y) : xs(std::move(x)), ys(std::move(y)) {
        cells.assign(ys.size() - 1, std::vector<uint8_t>(xs.size() - 1, 0));
    }
    int ix(int v) const { return int(std::lower_bound(xs.begin(), xs.end(), v) - xs.begin()); }
    int iy(int v) const { return int(std::lower_bound(ys.begin(), ys.end(), v) - ys.begin()); }

    // Bitmap of a box (empty and inverted boxes cover nothing).
    std::vector<std::vector<uint8_t>> boxCells(const DiBox& b) const {
        std::vector<std::vector<uint8_t>> c(ys.size() - 1, std::vector<uint8_t>(xs.size() - 1, 0));
        if (b.x2 <= b.x1 || b.y2 <= b.y1) return c;
        for (int j = iy(b.y1); j < iy(b.y2); j++)
            for (int i = ix(b.x1); i < ix(b.x2); i++)
                c[j][i] = 1;
        return c;
    }

    // The canonical banded box list of a bitmap.
    std::vector<DiBox> canonical(const std::vector<std::vector<uint8_t>>& c) const {
        std::vector<DiBox> out;
        size_t prevStart = 0, prevCount = 0;
        int prevBottom = INT32_MIN;
        for (size_t j = 0; j + 1 < ys.size(); j++) {
            std::vector<DiBox> band;
            for (size_t i = 0; i + 1 < xs.size();) {
                if (!c[j][i]) {
                    i++;
                    continue;
                }
                size_t k = i;
                while (k + 1 < xs.size() && c[j][k]) k++;
                band.push_back({int16_t(xs[i]), int16_t(ys[j]), int16_t(xs[k]), int16_t(ys[j + 1])});
                i = k;
            }
            if (band.empty()) continue;
            bool same = prevBottom == ys[j] && prevCount == band.size();
            for (size_t k = 0; same && k < band.size(); k++)
                same = out[prevStart + k].x1 == band[k].x1 && out[prevStart + k].x2 == band[k].x2;
            if (same) {
                for (size_t k = 0; k < band.size(); k++) out[prevStart + k].y2 = int16_t(ys[j + 1]);
            } else {
                prevStart = out.size();
                prevCount = band.size();
                out.insert(out.end(), band.begin(), band.end());
            }
            prevBottom = ys[j + 1];
        }
        return out;
    }
};

inline std::string boxText(const DiBox& b) {
    char t[64];
    snprintf(t, sizeof t, "(%d,%d)-(%d,%d)", b.x1, b.y1, b.x2, b.y2);
    return t;
}

inline std::vector<DiBox> regionBoxes(const DiRegion* r) {
    const DiBox* b = RegionRects(r);
    return std::vector<DiBox>(b, b + RegionNumRects(r));
}

inline bool sameBoxes(const std::vector<DiBox>& a, const std::vector<DiBox>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].x1 != b[i].x1 || a[i].y1 != b[i].y1 || a[i].x2 != b[i].x2 || a[i].y2 != b[i].y2)
            return false;
    return true;
}

inline std::string boxesText(const std::vector<DiBox>& v) {
    std::string s;
    for (const DiBox& b : v) s += boxText(b) + " ";
    return s;
}

// "" when the region keeps the band invariant and its extents and block
// agree with its boxes; otherwise what is wrong.
inline std::string bandProblem(const DiRegion* r) {
    if (r->data && r->data->numRects == 0) {
        if (r->data != &diRegionEmptyData) return "empty region with a private block";
        if (r->extents.x2 != r->extents.x1 || r->extents.y2 != r->extents.y1)
            return "empty region with non-empty extents";
        return "";
    }
    if (r->data && r->data->numRects == 1) return "one box held in a block";
    if (r->data && r->data->numRects > r->data->size) return "more boxes than allocated";
    std::vector<DiBox> v = regionBoxes(r);
    DiBox e = v[0];
    size_t bandStart = 0;
    for (size_t i = 0; i < v.size(); i++) {
        const DiBox& b = v[i];
        if (b.x2 <= b.x1 || b.y2 <= b.y1) return "empty box " + boxText(b);
        e.x1 = std::min(e.x1, b.x1), e.y1 = std::min(e.y1, b.y1);
        e.x2 = std::max(e.x2, b.x2), e.y2 = std::max(e.y2, b.y2);
        if (i == bandStart) continue;
        const DiBox& p = v[i - 1];
        if (b.y1 == p.y1) {
            if (b.y2 != p.y2) return "band with two heights at " + boxText(b);
            if (b.x1 <= p.x2) return "boxes overlap or touch in a band at " + boxText(b);
            continue;
        }
        if (b.y1 < p.y2) return "bands overlap or are out of order at " + boxText(b);
        // A new band starts at i: compare it with the band [bandStart, i).
        size_t n = i - bandStart, k = i;
        while (k < v.size() && v[k].y1 == b.y1) k++;
        if (k - i == n && b.y1 == p.y2) {
            bool same = true;
            for (size_t m = 0; m < n && same; m++)
                same = v[bandStart + m].x1 == v[i + m].x1 && v[bandStart + m].x2 == v[i + m].x2;
            if (same) return "uncoalesced bands at " + boxText(b);
        }
        bandStart = i;
    }
    if (e.x1 != r->extents.x1 || e.y1 != r->extents.y1 || e.x2 != r->extents.x2 ||
        e.y2 != r->extents.y2)
        return "extents " + boxText(r->extents) + " but boxes span " + boxText(e);
    return "";
}

#ifdef HV_HAVE_PIXMAN
inline std::vector<DiBox> pixmanBoxes(pixman_region16_t* p) {
    int n = 0;
    pixman_box16_t* b = pixman_region_rectangles(p, &n);
    std::vector<DiBox> v;
    for (int i = 0; i < n; i++) v.push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
    return v;
}
#endif
