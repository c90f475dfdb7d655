// The X engine over a real loopback socket against the fake X-AIP server:
// whole sessions (owner trees, drawing, every resource's lifetime,
// properties, the probe) checked by the server from the client's messages
// and here from the recording device's log.
#include <gtest/gtest.h>

#include "recording_device.h"
#include "support/peer_process.h"

#include <fstream>

namespace {

DiXDisplay* g_d;

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream f("Z:" + path);
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);)
        if (!l.empty()) v.push_back(l);
    return v;
}

struct XEngineLoop : ::testing::Test {
    Peer peer;
    std::string result;
    static void SetUpTestSuite() { ASSERT_TRUE(hvSocketSinkInit()); }
    void SetUp() override {
        g_rdev = RecordingDevice();
        fbSetDamageSink(&diXDamageSink);
        g_d = static_cast<DiXDisplay*>(calloc(1, sizeof(DiXDisplay)));
        ASSERT_EQ(diXDEInit(g_d, recordingDevice(), nullptr, 640, 480), 0);
        g_d->ch.hdr.refCount = 2; // never released by a resume timer
        ASSERT_TRUE(peer.reservePortFile());
        result = peer.portFile + ".result";
    }
    void TearDown() override {
        DiEvent ev{};
        ev.w[0] = 11;
        if (g_d->ch.open) diXDEHandleEvent(&g_d->ch.hdr, &ev);
        g_d->ch.open = 0;
        if (g_d->ch.resumeTimer) diTimerRemove(g_d->ch.resumeTimer);
        if (g_d->ch.socket) ddNetSocketClose(g_d->ch.socket);
        EXPECT_TRUE(diXEngineTimersIdle(g_d));
        diXDEFree(g_d);
        free(g_d);
        fbSetDamageSink(nullptr);
        EXPECT_TRUE(g_rdev.live.empty());
        DeleteFileA(("Z:" + result).c_str());
    }
    void connect(const std::string& scenario) {
        ASSERT_TRUE(peer.start("xaip_peer.py serve " + scenario + " --result-file " + result, ""));
        DdSocket* s = ddNetSocketCreate();
        ASSERT_NE(s, nullptr);
        diDEChannelSetContext(&g_d->ch, nullptr, nullptr, s);
        diNetSetOwner(s, &g_d->ch.hdr);
        g_d->ch.open = 1;
        ASSERT_EQ(ddNetSocketOpen(s, 1, 1), 0);
        ASSERT_EQ(diNetConnect(s, u"127.0.0.1", uint16_t(peer.port), 0), 0);
        ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    }
    bool peerDone() {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::vector<std::string> verdict() {
        hvPumpUntil([&] { return peerDone(); });
        return fileLines(result);
    }
};

TEST_F(XEngineLoop, WholeSessionSatisfiesTheServer) {
    connect("session");
    // The script ends by destroying windows 2 and 3 and pinging.
    hvPumpUntil([] {
        return g_d->windows[1] && !g_d->windows[2] && !g_d->windows[3] &&
               !g_rdev.with("unframe").empty();
    });
    ASSERT_NE(g_d->windows[1], nullptr);
    DiEvent ev{};
    ev.w[0] = 12;
    diXDEHandleEvent(&g_d->ch.hdr, &ev);
    ev = DiEvent{};
    ev.w[0] = 15, ev.w[1] = 1, ev.w[2] = 5, ev.w[3] = 6, ev.w[4] = 200, ev.w[5] = 150;
    diXDEHandleWindowEvent(g_d->windows[1]->frame, &ev);
    diIOFlush(&g_d->ch.out, g_d->ch.socket);
    std::vector<std::string> v = verdict();
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], "ok");
    // The server's close destroyed the two windows left (its verdict may
    // come before the close is read).
    hvPumpUntil([] { return g_rdev.with("unframe").size() >= 4; }, 10000);
    EXPECT_EQ(g_rdev.with("unframe").size(), 4u);
    EXPECT_FALSE(g_rdev.with("16 ").empty());
}

TEST_F(XEngineLoop, BadIdsEndWithThePingAnswered) {
    connect("badids");
    std::vector<std::string> v = verdict();
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], "ok");
    EXPECT_EQ(g_rdev.with("15 1").size(), 2u);
}

} // namespace
