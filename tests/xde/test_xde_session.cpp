// Whole sessions the fake X-AIP server plays (tests/peers/xaip_peer.py
// "script"), replayed through the fake socket and the input pump into the
// engine and the recording device: the client's answers, the device's
// lifetimes, and (under the sanitizers) no fault and no leak.
#include <gtest/gtest.h>

#include "engine_harness.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

std::string fileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Session : ::testing::Test, EngineRig {
    void SetUp() override { open(); }
    void TearDown() override { close(); }
    // Feeds the script in uneven chunks and runs the pump until it is read.
    void play(const std::string& bytes) {
        size_t at = 0, n = 1;
        while (at < bytes.size()) {
            g_fakeNet.incoming.push_back(bytes.substr(at, n));
            at += n;
            n = n * 7 % 3001 + 1;
        }
        g_engineTick = 1; // the probe's timing loops end
        for (int i = 0; i < 200 && !g_fakeNet.incoming.empty(); i++) event(0);
        g_engineTick = 0;
        ASSERT_TRUE(g_fakeNet.incoming.empty());
    }
    static bool has(const std::vector<int>& v, int t) {
        return std::find(v.begin(), v.end(), t) != v.end();
    }
};

TEST_F(Session, WholeSessionIsAnsweredAndEveryResourceLivesItsLifetime) {
    play(fileBytes(HV_XAIP_SESSION ".session"));
    std::vector<int> t = sentTypes();
    for (int want : {29, 39, 38, 36, 17, 19, 20, 31}) EXPECT_TRUE(has(t, want)) << want;
    // Destroyed windows took their frames; pixmap 3 and font 2 are gone,
    // the cursors stay until the close.
    EXPECT_EQ(d->windows[2], nullptr);
    EXPECT_EQ(d->windows[3], nullptr);
    ASSERT_NE(d->windows[1], nullptr);
    EXPECT_EQ(d->pixmaps[3], nullptr);
    EXPECT_EQ(d->fonts[2], nullptr);
    EXPECT_NE(d->cursors[5], nullptr);
    EXPECT_EQ(g_rdev.with("unframe").size(), 2u);
    // Window 3 was modal: hiding it enabled the others again.
    EXPECT_FALSE(g_rdev.with("22 1 1").empty());
    // The user moves window 1's frame and focuses the display.
    event(12, 0);
    DiEvent ev{};
    ev.w[0] = 15, ev.w[1] = 1, ev.w[2] = 5, ev.w[3] = 6, ev.w[4] = 200, ev.w[5] = 150;
    diXDEHandleWindowEvent(d->windows[1]->frame, &ev);
    advance(300);
    t = sentTypes();
    for (int want : {27, 9, 34, 35}) EXPECT_TRUE(has(t, want)) << want;
    advance(2100);
    EXPECT_TRUE(g_rdev.screenMatchesBuffer() || d->windowLimit > 1);
}

TEST_F(Session, BadIdsAreRefusedAndThePingStillAnswers) {
    play(fileBytes(HV_XAIP_SESSION ".badids"));
    std::vector<SentMessage> m = sent();
    auto ping = std::find_if(m.begin(), m.end(), [](const SentMessage& s) { return s.type == 31; });
    ASSERT_NE(ping, m.end());
    EXPECT_EQ(ping->u16(0), 9u);
    EXPECT_NE(d->windows[0], nullptr);
    EXPECT_EQ(d->windows[1], nullptr);
    EXPECT_EQ(g_rdev.with("14").size(), 3u); // the root and window 1 twice
    EXPECT_EQ(g_rdev.with("15 1").size(), 2u);
    EXPECT_EQ(g_rdev.with("5 7").size(), 2u); // replaced once, freed once
    EXPECT_TRUE(g_rdev.with("9").empty());
    EXPECT_TRUE(g_rdev.with("27").empty());
}

} // namespace
