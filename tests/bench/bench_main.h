// The entry point of a Google Benchmark program that compares: it runs the
// benchmarks as usual, then prints one "ratio" line (bench_ratio.h) for each
// pair of runs given, ours against its anchor, by their bytes per second.
// A pair whose runs were filtered out prints nothing.
#pragma once
#include <benchmark/benchmark.h>

#include "bench/bench_ratio.h"

#include <map>
#include <string>
#include <vector>

struct HvBenchPair {
    std::string label;
    std::string ours;   // run names as Google Benchmark prints them
    std::string anchor;
};

class HvRateReporter : public benchmark::ConsoleReporter {
  public:
    /* Plain text: the ratio lines are read back from the output. */
    HvRateReporter() : ConsoleReporter(OO_Tabular) {}
    std::map<std::string, double> megabytesPerSecond;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto rate = r.counters.find("bytes_per_second");
            if (rate != r.counters.end())
                megabytesPerSecond[r.benchmark_name()] = rate->second.value / 1e6;
        }
    }
};

inline int hvBenchMain(int argc, char** argv, const std::vector<HvBenchPair>& pairs) {
    benchmark::Initialize(&argc, argv);
    HvRateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const HvBenchPair& p : pairs) {
        auto ours = reporter.megabytesPerSecond.find(p.ours);
        auto anchor = reporter.megabytesPerSecond.find(p.anchor);
        if (ours == reporter.megabytesPerSecond.end() ||
            anchor == reporter.megabytesPerSecond.end())
            continue;
        hvBenchRatio(p.label.c_str(), ours->second, anchor->second, "MB/s");
    }
    return 0;
}
