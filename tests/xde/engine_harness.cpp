#include "engine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

uint32_t g_engineNow;
uint32_t g_engineTick;

namespace {
uint32_t engineClock() {
    g_engineNow += g_engineTick;
    return g_engineNow;
}
} // namespace

void EngineRig::open() {
    fakesReset();
    g_rdev = RecordingDevice();
    g_engineNow = 0xFFFFFFFFu - 2500;
    g_engineTick = 0;
    diDEClock = engineClock;
    fbSetDamageSink(&diXDamageSink);
    d = new DiXDisplay{};
    ASSERT_EQ(diXDEInit(d, recordingDevice(), nullptr, 640, 480), 0);
    sock = DdSocket{};
    sock.handle = 1;
    d->ch.socket = &sock;
    d->ch.open = 1;
}

void EngineRig::close() {
    if (!d) return;
    if (d->ch.open) {
        event(11);
        d->ch.open = 0;
    }
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    d = nullptr;
    fbSetDamageSink(nullptr);
    EXPECT_TRUE(g_rdev.live.empty()) << g_rdev.live.size() << " device records not freed, e.g. "
                                     << (g_rdev.live.empty() ? "" : g_rdev.live.begin()->second);
    // Every engine timer is gone: the list holds nothing of ours.
    for (int i = 0; i < 10 && diTimerHead(); i++) advance(3000);
    EXPECT_EQ(diTimerHead(), nullptr);
}

void EngineRig::request(uint32_t type, const Bytes& b) {
    // A heap copy of exactly the request's length: a read past it is seen.
    std::vector<uint8_t> exact(b.s.begin(), b.s.end());
    diXAIPHandleRequest(d, type, exact.empty() ? nullptr : exact.data(), uint32_t(exact.size()));
}

void EngineRig::startSession(uint32_t flags, uint32_t delay, int32_t w, int32_t h,
                             uint32_t depth, uint32_t flags2) {
    request(48, Bytes().u16(flags).u16(delay).u16(uint32_t(w)).u16(uint32_t(h)).u8(depth).u16(
                    flags2));
}

void EngineRig::event(uint32_t type, uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4,
                      uint32_t w5, uint32_t w6, uint32_t w7) {
    DiEvent ev{};
    ev.w[0] = type, ev.w[1] = w1, ev.w[2] = w2, ev.w[3] = w3, ev.w[4] = w4;
    ev.w[5] = w5, ev.w[6] = w6, ev.w[7] = w7;
    diXDEHandleEvent(&d->ch.hdr, &ev);
}

void EngineRig::advance(uint32_t ms) {
    for (uint32_t i = 0; i < ms; i++) {
        g_engineNow++;
        diTimerDispatch(g_engineNow);
    }
}

std::vector<SentMessage> EngineRig::sent() {
    std::vector<SentMessage> out;
    const std::string& b = g_fakeNet.sent;
    for (size_t at = 0; at + 3 <= b.size();) {
        size_t n = uint8_t(b[at + 1]) | uint8_t(b[at + 2]) << 8;
        out.push_back({uint8_t(b[at]), b.substr(at + 3, n)});
        at += 3 + n;
    }
    g_fakeNet.sent.clear();
    return out;
}

std::vector<int> EngineRig::sentTypes() {
    std::vector<int> t;
    for (const SentMessage& m : sent()) t.push_back(m.type);
    return t;
}

