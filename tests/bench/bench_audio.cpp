// Audio output latency: 20 buffers of 50 ms written at once through the
// channel made by the channel factory (write requests decoded, headers
// prepared and queued on the wave mapper, completions found by their header
// and answered with 103) against a plain waveOut program that queues the
// same buffers and waits for MM_WOM_DONE. The channel's replies go to the
// fake connection. The figure is the mean time from a
// buffer's write to its completion, as a rate (1/s, more is better). Needs a
// sound device (tools/bench starts a private sound server when it can).
#include "dd.h"

#include "bench/bench_ratio.h"
#include "devices/ddaudio.h"
#include "devices/io_wire.h"
#include "fakes/chan_fakes.h"

#include <mmsystem.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

using iowire::le16;
using iowire::le32;

const uint32_t RATE = 44100, BUFFERS = 20, SAMPLES = RATE / 20; // 50 ms of mono 16-bit

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// One message, or a short wait for the next.
void pump() {
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
    else
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
}

std::string samples() {
    std::string s(SAMPLES * 2, '\0');
    for (uint32_t i = 0; i < SAMPLES; i++) {
        int16_t v = int16_t((i % 100 < 50 ? 1 : -1) * 3000);
        s[2 * i] = char(v), s[2 * i + 1] = char(v >> 8);
    }
    return s;
}

struct Plain {
    double done[BUFFERS] = {};
    uint32_t count = 0;
};

LRESULT CALLBACK plainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == MM_WOM_DONE) {
        Plain* p = reinterpret_cast<Plain*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        p->done[reinterpret_cast<WAVEHDR*>(lp)->dwUser] = now();
        p->count++;
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// Mean seconds from waveOutWrite to MM_WOM_DONE; negative without a device.
double plainRound(const std::string& data) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvBenchWave";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                           nullptr);
    Plain p;
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&p));
    WAVEFORMATEX fx = {WAVE_FORMAT_PCM, 1, RATE, RATE * 2, 2, 16, 0};
    HWAVEOUT h;
    if (waveOutOpen(&h, WAVE_MAPPER, &fx, reinterpret_cast<DWORD_PTR>(w), 0, CALLBACK_WINDOW)) {
        DestroyWindow(w);
        return -1;
    }
    std::vector<WAVEHDR> hdr(BUFFERS);
    double written[BUFFERS];
    for (uint32_t i = 0; i < BUFFERS; i++) {
        hdr[i] = WAVEHDR();
        hdr[i].lpData = const_cast<char*>(data.data());
        hdr[i].dwBufferLength = DWORD(data.size());
        hdr[i].dwUser = i;
        waveOutPrepareHeader(h, &hdr[i], sizeof hdr[i]);
        written[i] = now();
        waveOutWrite(h, &hdr[i], sizeof hdr[i]);
    }
    while (p.count < BUFFERS)
        pump();
    for (WAVEHDR& x : hdr)
        waveOutUnprepareHeader(h, &x, sizeof x);
    waveOutClose(h);
    DestroyWindow(w);
    double sum = 0;
    for (uint32_t i = 0; i < BUFFERS; i++)
        sum += p.done[i] - written[i];
    return sum / BUFFERS;
}

void call(DiIOChannel* io, uint32_t code, const std::string& p) {
    diIOAudioHandlers[code](io, reinterpret_cast<const uint8_t*>(p.data()), uint32_t(p.size()), 1);
}

// The same through the channel: write request to its 103 reply.
double channelRound(const std::string& data) {
    g_fakeNet.sent.clear();
    DdAudioChannel a = {};
    DiIOChannel* io = &a.io;
    diDEChannelInit(&io->ch, DI_OBJ_AUDIO, 0, 0);
    if (!ddAudioChannelSetUp(&a)) return -1;
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    call(io, 1, le16(1) + le16(1) + le32(RATE) + le32(RATE * 2) + le16(2) + le16(16) + le16(0));
    std::vector<iowire::Frame> f = iowire::sentFrames(g_fakeNet.sent);
    if (f.empty() || iowire::rd32(f[0].data, 16) != 0) {
        ddAudioChannelTearDown(&a);
        diDEChannelFree(&io->ch);
        return -1;
    }
    double written[BUFFERS], done[BUFFERS] = {};
    for (uint32_t i = 0; i < BUFFERS; i++) {
        written[i] = now();
        call(io, 3, std::string(1, '\0') + le16(0) + le32(i) + le32(uint32_t(data.size())) + data);
    }
    uint32_t count = 0;
    while (count < BUFFERS) {
        pump();
        for (const iowire::Frame& r : iowire::sentFrames(g_fakeNet.sent))
            if (iowire::rd32(r.data, 12) == 103 && count < BUFFERS) {
                uint32_t i = iowire::rd32(r.data, 23); // the u32 tag
                if (i < BUFFERS) done[i] = now();
                count++;
            }
    }
    call(io, 2, "");
    ddAudioChannelTearDown(&a);
    diDEChannelFree(&io->ch);
    double sum = 0;
    for (uint32_t i = 0; i < BUFFERS; i++)
        sum += done[i] - written[i];
    return sum / BUFFERS;
}

} // namespace

int main() {
    std::string data = samples();
    double ours = 1e9, anchor = 1e9;
    for (int r = 0; r < 3; r++) {
        double a = plainRound(data), o = channelRound(data);
        if (a < 0 || o < 0) {
            printf("bench_audio: no sound device; nothing measured\n");
            return 0;
        }
        anchor = a < anchor ? a : anchor;
        ours = o < ours ? o : ours;
    }
    printf("bench_audio: mean write-to-done delay %.1f ms, plain waveOut %.1f ms\n", ours * 1e3,
           anchor * 1e3);
    hvBenchRatio("audio 20 x 50 ms buffers, write to 103 (1/delay)", 1 / ours, 1 / anchor, "1/s");
    return 0;
}
