// One comparison of a benchmark: ours against an anchor measured in the same
// run, printed as one "ratio" line that tools/bench collects. Both figures
// are rates (more is better), so a ratio above 1 means ours is faster.
#pragma once
#include <stdio.h>

inline void hvBenchRatio(const char* label, double ours, double anchor, const char* unit) {
    printf("ratio %-44s %8.3f  (ours %.4g %s, anchor %.4g %s)\n", label,
           anchor > 0 ? ours / anchor : 0.0, ours, unit, anchor, unit);
    fflush(stdout);
}
