// Throughput of the UTF-8 conversions on mixed text.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/diutil.h"

namespace {

std::u16string sample(size_t units) {
    const std::u16string piece = u"Halvanet h\u00f4te \u20ac \U0001F600 ascii text ";
    std::u16string s;
    while (s.size() < units)
        s += piece;
    s.resize(units);
    if (s.back() >= 0xD800 && s.back() <= 0xDBFF) s.back() = u'x';
    return s;
}

void Utf16ToUtf8(benchmark::State& state) {
    std::u16string in = sample(static_cast<size_t>(state.range(0)));
    std::vector<char> out(in.size() * 3);
    for (auto _ : state) {
        const DiChar* s = in.data();
        benchmark::DoNotOptimize(
            diTextToUtf8(out.data(), out.data() + out.size(), &s, in.data() + in.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size() * 2));
}

void Utf8ToUtf16(benchmark::State& state) {
    std::u16string wide = sample(static_cast<size_t>(state.range(0)));
    std::vector<char> utf8(wide.size() * 3);
    const DiChar* ws = wide.data();
    int n = diTextToUtf8(utf8.data(), utf8.data() + utf8.size(), &ws, wide.data() + wide.size());
    std::vector<DiChar> out(wide.size() + 1);
    for (auto _ : state) {
        const char* s = utf8.data();
        benchmark::DoNotOptimize(
            diTextFromUtf8(out.data(), out.data() + out.size(), &s, utf8.data() + n));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

BENCHMARK(Utf16ToUtf8)->Arg(64)->Arg(4096)->Arg(1 << 16);
BENCHMARK(Utf8ToUtf16)->Arg(64)->Arg(4096)->Arg(1 << 16);

} // namespace

BENCHMARK_MAIN();
