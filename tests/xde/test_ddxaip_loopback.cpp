// An X display's wire on a real loopback socket against the fake X-AIP
// server (tests/peers/xaip_peer.py): the server's seeded runs in every block
// style with syncs and pings, the acknowledgement rules, senders decoded by
// the server, and the connection failures that end the pump with -1.
#include <gtest/gtest.h>

#include "support/peer_process.h"
#include "xaip_recorder.h"

#include <fstream>
#include <sstream>
#include <stdlib.h>

namespace {

struct State {
    DiXDisplay* d = nullptr;
    int ended = 0;
} g;

int xHandler(DiObject*, DiEvent* ev) {
    switch (ev->w[0]) {
    case DI_EV_READABLE:
    case DI_EV_CLOSED:
        if (g.ended) return 1;
        if (diXAIPReadInput(g.d) < 0) {
            g.ended = 1;
            ddNetSocketClose(g.d->ch.socket);
        }
        return 1;
    case DI_EV_WRITABLE:
        diIOFlush(&g.d->ch.out, g.d->ch.socket);
        return 1;
    }
    return 0;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream f("Z:" + path);
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);)
        if (!l.empty()) v.push_back(l);
    return v;
}

struct XLoop : ::testing::Test {
    Peer peer;
    std::string result;
    static void SetUpTestSuite() { ASSERT_TRUE(hvSocketSinkInit()); }
    void SetUp() override {
        g = State();
        g_xrec = XRecorder();
        g.d = static_cast<DiXDisplay*>(calloc(1, sizeof(DiXDisplay)));
        diDEChannelInit(&g.d->ch, DI_OBJ_XDE, 640, 480);
        ASSERT_EQ(diXAIPInit(g.d), 0);
        g.d->ops = xaipRecordingOps();
        g.d->ch.hdr.handler = xHandler;
        g.d->ch.hdr.refCount = 2; // never released by a resume timer
        ASSERT_TRUE(peer.reservePortFile());
        result = peer.portFile + ".result";
    }
    void TearDown() override {
        if (g.d->ch.resumeTimer) diTimerRemove(g.d->ch.resumeTimer);
        if (g.d->ch.socket) ddNetSocketClose(g.d->ch.socket);
        diXAIPFree(g.d);
        diDEChannelFree(&g.d->ch);
        free(g.d);
        DeleteFileA(("Z:" + result).c_str());
        DeleteFileA(("Z:" + result + ".txt").c_str());
    }
    void connect(const std::string& scenario) {
        ASSERT_TRUE(peer.start("xaip_peer.py serve " + scenario + " --result-file " + result, ""));
        DdSocket* s = ddNetSocketCreate();
        ASSERT_NE(s, nullptr);
        diDEChannelSetContext(&g.d->ch, nullptr, nullptr, s);
        diNetSetOwner(s, &g.d->ch.hdr);
        g.d->ch.open = 1;
        ASSERT_EQ(ddNetSocketOpen(s, 1, 1), 0);
        ASSERT_EQ(diNetConnect(s, u"127.0.0.1", uint16_t(peer.port), 0), 0);
        ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    }
    // A seeded run of every request (with syncs and pings, in random
    // chunkings); the recorded operations must be the server's transcript.
    void runStyle(const char* style, int seed, bool hostile = false) {
        connect(std::string("run --seed ") + std::to_string(seed) + " --style " + style +
                (hostile ? " --hostile 1" : ""));
        std::vector<std::string> v = verdict();
        ASSERT_FALSE(v.empty());
        EXPECT_EQ(v[0], "ok");
        std::vector<std::string> want = fileLines(result + ".txt");
        ASSERT_GT(want.size(), 50u);
        EXPECT_EQ(g_xrec.lines, want);
    }
    bool peerDone() {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Runs until the server has written its verdict.
    std::vector<std::string> verdict() {
        hvPumpUntil([&] { return peerDone(); });
        return fileLines(result);
    }
};

TEST_F(XLoop, SeededRunAsPlainMessagesMatchesTheServersTranscript) {
    runStyle("plain", 11);
}
TEST_F(XLoop, SeededRunInBlocksOfTheirOwnMatchesTheServersTranscript) {
    runStyle("zblock", 12);
}
TEST_F(XLoop, SeededRunInOneSyncFlushedStreamMatchesTheServersTranscript) {
    runStyle("zsync", 13);
}
TEST_F(XLoop, ShortAndDamagedRequestsAreSkippedAndStillAcknowledged) {
    runStyle("zblock", 14, true);
}

TEST_F(XLoop, AcknowledgementsWithFlag2ThenPastTheThresholdThenAfterRequest42) {
    g.d->flags |= DI_XFLAG_ACK_ONCE;
    connect("acks");
    std::vector<std::string> v = verdict();
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], "ok");
}

TEST_F(XLoop, OversizeMessageEndsThePumpWithAnError) {
    connect("oversize");
    std::vector<std::string> v = verdict();
    EXPECT_EQ(g.ended, 1);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], "ok"); // the server saw the connection close
    EXPECT_EQ(g_xrec.lines, (std::vector<std::string>{"Bell"}));
}

TEST_F(XLoop, CloseMidMessageEndsThePumpAfterTheWholeMessages) {
    connect("midclose");
    hvPumpUntil([] { return g.ended != 0; });
    EXPECT_EQ(g.ended, 1);
    EXPECT_EQ(g_xrec.lines, (std::vector<std::string>{"Bell", "Bell", "Bell"}));
}

TEST_F(XLoop, SendersAreDecodedByTheServer) {
    connect("decode");
    diXAIPSendButtonPress(g.d, 3, 1, -1, 70000);
    diXAIPSendKeyPress(g.d, 65, 0x263A);
    const int32_t prev[4] = {-5, 0, 640, 480}, next[4] = {10, 20, 800, 600},
                  borders[4] = {4, 4, 24, 4};
    g.d->frameValue = 0xABCD;
    diXAIPSendConfigureNotifyEx(g.d, 3, prev, next, borders);
    diXAIPSendClipboardOffer(g.d, u"TEXT", 4, 7);
    std::string data(16385, 'a');
    diXAIPSendClipboardData(g.d, u"S", 1, reinterpret_cast<const uint8_t*>(data.data()), 16385, 0);
    hvPumpUntil([] { return g.d->ch.out.used == 0; }, 10000);
    ddNetSocketClose(g.d->ch.socket);
    std::vector<std::string> v = verdict();
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[0], "ok");
    EXPECT_EQ(v[1], "3 3 1 65535 4464");
    EXPECT_EQ(v[2], "23 65 9786");
    EXPECT_EQ(v[3], "35 3 65531 0 640 480 10 20 800 600 4 4 24 4 43981");
    EXPECT_EQ(v[4], "41 7 54455854 0 -");
    EXPECT_EQ(v[5].substr(0, 22), "32 1 16385 53 16384 61");
    EXPECT_EQ(v[6], "32 2 1 61");
}

} // namespace
