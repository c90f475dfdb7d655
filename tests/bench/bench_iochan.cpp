// MB/s of device-channel replies of 61,432 data bytes (the largest read a
// reply carries) whose data deflate well: framing, deflating and writing to
// the socket. The anchor is zlib at level 3 deflating the same buffers on
// their own, the least a deflated reply costs.
#include "bench/bench_main.h"

#include <benchmark/benchmark.h>

#include "devices/didevice.h"
#include "fakes/chan_fakes.h"

#include <stdlib.h>
#include <zlib.h>

#include <string>

namespace {

const uint32_t kReply = 61432 + 32;

std::string replyBytes() {
    std::string s(kReply, '\0');
    for (size_t i = 0; i < s.size(); i++)
        s[i] = char("serial line text, "[i % 18] + (i / 4096) % 3);
    return s;
}

void BM_DeviceReplies(benchmark::State& state) {
    fakesReset();
    std::string reply = replyBytes();
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDeviceChannelInit(io, 0, 0);
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    for (auto _ : state) {
        diIOSendData(io, kReply, reinterpret_cast<const uint8_t*>(reply.data()), 1);
        g_fakeNet.sent.clear();
        g_fakeNet.sentBy.clear();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kReply);
    diDeviceChannelTeardown(io);
    diDeviceChannelRelease(io);
}

void BM_ZlibLevel3(benchmark::State& state) {
    std::string reply = replyBytes();
    std::string out(compressBound(kReply), '\0');
    for (auto _ : state) {
        uLongf n = uLongf(out.size());
        compress2(reinterpret_cast<Bytef*>(&out[0]), &n,
                  reinterpret_cast<const Bytef*>(reply.data()), kReply, 3);
        benchmark::DoNotOptimize(out[0]);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kReply);
}

} // namespace

BENCHMARK(BM_DeviceReplies)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZlibLevel3)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    return hvBenchMain(
        argc, argv,
        {{"device replies deflated / zlib level 3", "BM_DeviceReplies", "BM_ZlibLevel3"}});
}
