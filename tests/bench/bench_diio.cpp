// Framed messages per second and bytes per second through the message
// buffer layer: reading (reassembly from 64 KB receives) and writing
// (framing into the output buffer and flushing), for 8-byte and 60 KB
// messages. The anchor is the least any such layer does with the same
// bytes: one copy in 64 KB pieces.
#include "bench/bench_main.h"

#include <benchmark/benchmark.h>

#include "core/diio.h"
#include "fakes/chan_fakes.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string framedStream(size_t messageSize, size_t total) {
    std::string one(messageSize, 'p');
    one[0] = 1;
    one[1] = char((messageSize - 3) & 0xFF);
    one[2] = char((messageSize - 3) >> 8);
    std::string s;
    while (s.size() + messageSize <= total)
        s += one;
    return s;
}

void BM_ReadMessages(benchmark::State& state) {
    size_t size = size_t(state.range(0));
    std::string stream = framedStream(size, 8 << 20);
    size_t perStream = stream.size() / size;
    DdSocket sock{};
    DiBuffer b{};
    b.limit = 0;
    int64_t messages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fakesReset();
        for (size_t at = 0; at < stream.size(); at += 65536)
            g_fakeNet.incoming.push_back(stream.substr(at, 65536));
        state.ResumeTiming();
        const uint8_t* m;
        size_t got = 0;
        while (got < perStream) {
            int n = diIOReadMessage(&b, &sock, &m);
            if (n < 0) break;
            if (n > 0) {
                benchmark::DoNotOptimize(m[n - 1]);
                got++;
            }
        }
        messages += int64_t(got);
    }
    diIOBufferFree(&b);
    state.SetItemsProcessed(messages);
    state.SetBytesProcessed(messages * int64_t(size));
}

void BM_WriteMessages(benchmark::State& state) {
    size_t size = size_t(state.range(0));
    std::string one = framedStream(size, size);
    DdSocket sock{};
    DiBuffer b{};
    b.limit = 65538;
    fakesReset();
    // The socket takes the bytes without keeping them: what is timed is the
    // layer, not the fake's records.
    g_fakeNet.keepSent = false;
    int64_t messages = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; i++)
            diIOWriteMessage(&b, &sock, one.data(), uint32_t(one.size()));
        messages += 1000;
        state.PauseTiming();
        g_fakeNet.selects.clear();
        state.ResumeTiming();
    }
    diIOBufferFree(&b);
    state.SetItemsProcessed(messages);
    state.SetBytesProcessed(messages * int64_t(size));
}

void BM_CopyStream(benchmark::State& state) {
    std::string stream = framedStream(size_t(state.range(0)), 8 << 20);
    std::vector<char> to(65536);
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += 65536) {
            size_t n = std::min<size_t>(65536, stream.size() - at);
            memcpy(to.data(), stream.data() + at, n);
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

BENCHMARK(BM_ReadMessages)->Arg(8)->Arg(60 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMessages)->Arg(8)->Arg(60 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyStream)->Arg(8)->Arg(60 * 1024)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return hvBenchMain(argc, argv,
                       {{"buffer layer read, 8-byte messages (ours/memcpy)", "BM_ReadMessages/8",
                         "BM_CopyStream/8"},
                        {"buffer layer read, 60 KB messages (ours/memcpy)",
                         "BM_ReadMessages/61440", "BM_CopyStream/61440"},
                        {"buffer layer write, 8-byte messages (ours/memcpy)",
                         "BM_WriteMessages/8", "BM_CopyStream/8"},
                        {"buffer layer write, 60 KB messages (ours/memcpy)",
                         "BM_WriteMessages/61440", "BM_CopyStream/61440"}});
}
