// Region operations on hostile boxes: the input is a sequence of steps
// (operation byte, then a box of four little-endian i16), applied to an
// accumulator; after each step the result must keep the band invariant and
// equal both the canonical box list of a bitmap model and pixman's region.
#include "../xde/region_model.h"

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct Step {
        int op;
        DiBox box;
    };
    std::vector<Step> steps;
    std::set<int> xs = {-32768, 32767}, ys = {-32768, 32767};
    for (size_t at = 0; at + 9 <= size && steps.size() < 48; at += 9) {
        auto i16 = [&](size_t k) { return int16_t(data[at + k] | data[at + k + 1] << 8); };
        Step s = {data[at] % 4, {i16(1), i16(3), i16(5), i16(7)}};
        steps.push_back(s);
        xs.insert(s.box.x1), xs.insert(s.box.x2), ys.insert(s.box.y1), ys.insert(s.box.y2);
    }
    GridModel grid(std::vector<int>(xs.begin(), xs.end()), std::vector<int>(ys.begin(), ys.end()));
    auto cells = grid.boxCells({0, 0, 0, 0});
    DiRegion acc;
    RegionInit(&acc, nullptr, 0);
    pixman_region16_t pacc;
    pixman_region_init(&pacc);
    for (const Step& s : steps) {
        DiRegion one;
        RegionInit(&one, &s.box, 0);
        auto boxCells = grid.boxCells(s.box);
        pixman_region16_t pone;
        if (s.box.x2 <= s.box.x1 || s.box.y2 <= s.box.y1)
            pixman_region_init(&pone);
        else
            pixman_region_init_rect(&pone, s.box.x1, s.box.y1, unsigned(s.box.x2 - s.box.x1),
                                    unsigned(s.box.y2 - s.box.y1));
        for (size_t j = 0; j < cells.size(); j++)
            for (size_t i = 0; i < cells[j].size(); i++) {
                uint8_t a = cells[j][i], b = boxCells[j][i];
                cells[j][i] = s.op == 0 ? (a | b) : s.op == 1 ? (a & b) : s.op == 2 ? (a & !b) : b;
            }
        switch (s.op) {
        case 0:
            RegionUnion(&acc, &acc, &one);
            pixman_region_union(&pacc, &pacc, &pone);
            break;
        case 1:
            RegionIntersect(&acc, &one, &acc);
            pixman_region_intersect(&pacc, &pacc, &pone);
            break;
        case 2:
            RegionSubtract(&acc, &acc, &one);
            pixman_region_subtract(&pacc, &pacc, &pone);
            break;
        default:
            RegionCopy(&acc, &one);
            pixman_region_copy(&pacc, &pone);
            break;
        }
        RegionUninit(&one);
        pixman_region_fini(&pone);
        std::string problem = bandProblem(&acc);
        if (!problem.empty()) {
            fprintf(stderr, "band invariant: %s\n", problem.c_str());
            abort();
        }
        std::vector<DiBox> got = RegionNotEmpty(&acc) ? regionBoxes(&acc) : std::vector<DiBox>();
        if (!sameBoxes(got, grid.canonical(cells)) || !sameBoxes(got, pixmanBoxes(&pacc))) {
            fprintf(stderr, "got %s\nmodel %s\n", boxesText(got).c_str(),
                    boxesText(grid.canonical(cells)).c_str());
            abort();
        }
    }
    // The same boxes read as damage rectangles (x, y, width, height), added
    // at once, against pixman adding them one by one.
    std::vector<DiXRect> rects;
    pixman_region16_t pd;
    pixman_region_init(&pd);
    for (const Step& s : steps) {
        DiXRect r = {s.box.x1, s.box.y1, uint16_t(s.box.x2), uint16_t(s.box.y2)};
        rects.push_back(r);
        int32_t x2 = std::min<int32_t>(int32_t(r.x) + r.width, 32767);
        int32_t y2 = std::min<int32_t>(int32_t(r.y) + r.height, 32767);
        if (x2 > r.x && y2 > r.y)
            pixman_region_union_rect(&pd, &pd, r.x, r.y, unsigned(x2 - r.x), unsigned(y2 - r.y));
    }
    DiXRegionArea area;
    diXAreaInit(&area);
    diXAreaAddBoxes(&area, int(rects.size()), rects.data());
    std::vector<DiBox> got =
        RegionNotEmpty(&area.region) ? regionBoxes(&area.region) : std::vector<DiBox>();
    if (!bandProblem(&area.region).empty() || !sameBoxes(got, pixmanBoxes(&pd)) ||
        area.count != int32_t(got.size()))
        abort();
    diXAreaFree(&area);
    pixman_region_fini(&pd);
    // Damage kept short, added in two halves: each time the union, or its
    // extents once it holds more than the limit.
    for (int limit : {1, 8}) {
        DiXRegionArea kept;
        diXAreaInit(&kept);
        pixman_region16_t pk;
        pixman_region_init(&pk);
        size_t half = rects.size() / 2;
        for (size_t from : {size_t(0), half}) {
            size_t to = from ? rects.size() : half;
            for (size_t i = from; i < to; i++) {
                const DiXRect& r = rects[i];
                int32_t x2 = std::min<int32_t>(int32_t(r.x) + r.width, 32767);
                int32_t y2 = std::min<int32_t>(int32_t(r.y) + r.height, 32767);
                if (x2 > r.x && y2 > r.y)
                    pixman_region_union_rect(&pk, &pk, r.x, r.y, unsigned(x2 - r.x),
                                             unsigned(y2 - r.y));
            }
            if (pixman_region_n_rects(&pk) > limit) {
                pixman_box16_t e = *pixman_region_extents(&pk);
                pixman_region_reset(&pk, &e);
            }
            if (!diXAreaAddBoxesUpTo(&kept, int(to - from), rects.data() + from, limit)) abort();
            std::vector<DiBox> have =
                RegionNotEmpty(&kept.region) ? regionBoxes(&kept.region) : std::vector<DiBox>();
            if (!bandProblem(&kept.region).empty() || !sameBoxes(have, pixmanBoxes(&pk)) ||
                kept.count != int32_t(have.size()))
                abort();
        }
        diXAreaFree(&kept);
        pixman_region_fini(&pk);
    }
    // The merge for painting keeps every pixel and never grows the list.
    int before = RegionNumRects(&acc);
    RegionMergeVertical(&acc);
    if (RegionNumRects(&acc) > before) abort();
    RegionUninit(&acc);
    pixman_region_fini(&pacc);
    return 0;
}
