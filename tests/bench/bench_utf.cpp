// Throughput of the UTF-8 conversions on mixed text, next to iconv doing
// the same conversions of the same text.
#include "bench/bench_main.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

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

/* The same conversion through iconv, with the same buffers. */
void iconvRun(benchmark::State& state, const char* to, const char* from, const char* in,
              size_t inBytes, char* out, size_t outBytes) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    for (auto _ : state) {
        char* src = const_cast<char*>(in);
        size_t srcLeft = inBytes;
        char* dst = out;
        size_t dstLeft = outBytes;
        benchmark::DoNotOptimize(iconv(cd, &src, &srcLeft, &dst, &dstLeft));
    }
    iconv_close(cd);
}

void IconvUtf16ToUtf8(benchmark::State& state) {
    std::u16string in = sample(static_cast<size_t>(state.range(0)));
    std::vector<char> out(in.size() * 3);
    iconvRun(state, "UTF-8", "UTF-16LE", reinterpret_cast<const char*>(in.data()), in.size() * 2,
             out.data(), out.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size() * 2));
}

void IconvUtf8ToUtf16(benchmark::State& state) {
    std::u16string wide = sample(static_cast<size_t>(state.range(0)));
    std::vector<char> utf8(wide.size() * 3);
    const DiChar* ws = wide.data();
    int n = diTextToUtf8(utf8.data(), utf8.data() + utf8.size(), &ws, wide.data() + wide.size());
    std::vector<DiChar> out(wide.size() + 1);
    iconvRun(state, "UTF-16LE", "UTF-8", utf8.data(), size_t(n),
             reinterpret_cast<char*>(out.data()), out.size() * 2);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

BENCHMARK(Utf16ToUtf8)->Arg(64)->Arg(4096)->Arg(1 << 16);
BENCHMARK(IconvUtf16ToUtf8)->Arg(64)->Arg(4096)->Arg(1 << 16);
BENCHMARK(Utf8ToUtf16)->Arg(64)->Arg(4096)->Arg(1 << 16);
BENCHMARK(IconvUtf8ToUtf16)->Arg(64)->Arg(4096)->Arg(1 << 16);

} // namespace

int main(int argc, char** argv) {
    std::vector<HvBenchPair> pairs;
    for (const char* size : {"64", "4096", "65536"}) {
        pairs.push_back({std::string("utf-16 to utf-8, ") + size + " units (ours/iconv)",
                         std::string("Utf16ToUtf8/") + size,
                         std::string("IconvUtf16ToUtf8/") + size});
        pairs.push_back({std::string("utf-8 to utf-16, ") + size + " units (ours/iconv)",
                         std::string("Utf8ToUtf16/") + size,
                         std::string("IconvUtf8ToUtf16/") + size});
    }
    return hvBenchMain(argc, argv, pairs);
}
