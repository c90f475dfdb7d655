// The X engine over the recording device. Input: first byte the depth and
// mode of the session; then commands: a request (type, length, bytes),
// a Windows event, a clock step with timer runs, or the end of the
// connection. Afterwards no engine timer is left and every device create
// has been freed.
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "xde/recording_device.h"
#include "xde/dixscreen.h"

#include <stdlib.h>
#include <string.h>

/* Session flags 2 of the run (1: seamless frames). */
#ifndef HV_FUZZ_FLAGS2
#define HV_FUZZ_FLAGS2 0
#endif

namespace {

uint32_t s_now;
uint32_t fuzzClock() {
    return ++s_now; /* every reading advances: timing loops end */
}

struct Cursor {
    const uint8_t* p;
    size_t n;
    uint32_t u8() { return n ? (n--, *p++) : 0; }
    uint32_t u16() { return u8() | u8() << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fakesReset();
    g_rdev = RecordingDevice();
    diDEClock = fuzzClock;
    s_now = 0xFFFFFFFFu - 5000;
    fbSetDamageSink(&diXDamageSink);
    DiXDisplay* d = new DiXDisplay{};
    if (diXDEInit(d, recordingDevice(), nullptr, 640, 480) < 0) {
        delete d;
        return 0;
    }
    DdSocket sock{};
    sock.handle = 1;
    d->ch.socket = &sock;
    d->ch.open = 1;
    Cursor c{data + 1, size - 1};
    uint32_t mode = data[0];
    static const uint32_t depths[4] = {8, 16, 24, 24};
    uint32_t flags = (mode & 4 ? 0x2 : 0) | (mode & 8 ? 0x4 : 0) | (mode & 16 ? 0x20 : 0) |
                     (mode & 32 ? 0x100 : 0) | (mode & 64 ? 0x10 : 0);
    uint8_t start[11] = {uint8_t(flags), uint8_t(flags >> 8), uint8_t(mode & 128 ? 40 : 0), 0,
                         160, 0, 120, 0, uint8_t(depths[mode & 3]), HV_FUZZ_FLAGS2, 0};
    diXAIPHandleRequest(d, 48, start, sizeof start);
    if (HV_FUZZ_FLAGS2 & 1) {
        /* Seamless frames with borders, a caption and buttons to drag. */
        const int32_t metrics[5] = {4, 3, 20, 18, 16};
        memcpy(d->swmMetrics, metrics, sizeof metrics);
        g_rdev.frameStyle = 0xCF0000;
    }
    if (mode & 128) g_rdev.addDamageFlags = 1;
    std::vector<uint8_t> payload;
    while (c.n && d->ch.open) {
        uint32_t cmd = c.u8();
        if (cmd < 200) {
            uint32_t len = c.u8();
            if (len == 255) len = c.u16() & 0x3FFF;
            if (len > c.n) len = uint32_t(c.n);
            /* A heap copy of exactly the request's length. */
            payload.assign(c.p, c.p + len);
            c.p += len, c.n -= len;
            uint8_t* copy = static_cast<uint8_t*>(malloc(len ? len : 1));
            if (len) memcpy(copy, payload.data(), len);
            diXAIPHandleRequest(d, cmd % 71, copy, len);
            free(copy);
        } else if (cmd < 230) {
            DiEvent ev{};
            ev.w[0] = c.u8() % 24;
            if (ev.w[0] == 8 || ev.w[0] == 11 || ev.w[0] == 0 || ev.w[0] == 2)
                ev.w[0] = 5; /* the open, close and socket events have their own commands */
            for (int i = 1; i < 8; i++) ev.w[i] = c.u16();
            if (cmd & 1 && d->windows[ev.w[1] & 255] && d->windows[ev.w[1] & 255]->frame) {
                diXDEHandleWindowEvent(d->windows[ev.w[1] & 255]->frame, &ev);
            } else {
                diXDEHandleEvent(&d->ch.hdr, &ev);
            }
        } else if (cmd < 250) {
            uint32_t step = c.u16() % 3000;
            for (uint32_t i = 0; i < step; i += 7) {
                s_now += 7;
                diTimerDispatch(s_now);
            }
        } else {
            /* The end of the connection: a lost socket or a close. */
            if (cmd & 1) {
                d->ch.stopReading = 1;
                DiEvent ev{};
                ev.w[0] = 2;
                diXDEHandleEvent(&d->ch.hdr, &ev);
            }
            DiEvent ev{};
            ev.w[0] = 11;
            diXDEHandleEvent(&d->ch.hdr, &ev);
            d->ch.open = 0;
        }
    }
    if (d->ch.open) {
        DiEvent ev{};
        ev.w[0] = 11;
        diXDEHandleEvent(&d->ch.hdr, &ev);
    }
    if (!diXEngineTimersIdle(d)) __builtin_trap();
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    fbSetDamageSink(nullptr);
    if (!g_rdev.live.empty()) __builtin_trap();
    if (diXProcessPixelBytes() != 0) __builtin_trap(); /* every charge given back */
    if (diTimerHead()) __builtin_trap();
    return 0;
}
