// The X engine over the recording device: session start and status, input
// timelines (throttle, middle-button emulation, focus), windows with owner
// modes, damage and its timers, resources with their lifetimes and the
// faults a hostile server could exploit, properties and the probe.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "engine_harness.h"
#include "xde/dixscreen.h"

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

struct Engine : ::testing::Test, EngineRig {
    void SetUp() override { open(); }
    void TearDown() override { close(); }
    // A session of 200 x 100 at the depth, the log and messages cleared.
    void session(uint32_t depth = 24, uint32_t flags = 0, uint32_t delay = 0,
                 uint32_t flags2 = 0) {
        startSession(flags, delay, 200, 100, depth, flags2);
        sent();
        g_rdev.log.clear();
    }
    void window(uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t style = 2,
                uint32_t ownerMode = 0, uint32_t owner = 0) {
        request(15, Bytes().u8(id).u16(uint32_t(x)).u16(uint32_t(y)).u16(uint32_t(w)).u16(
                        uint32_t(h)).u8(style).u8(ownerMode).u8(owner).u8(0).u32(0));
    }
    void fill(int32_t x, int32_t y, int32_t w, int32_t h) {
        request(10, Bytes().u16(1).u16(uint32_t(x)).u16(uint32_t(y)).u16(uint32_t(w)).u16(
                        uint32_t(h)));
    }
    Lines paints() { return g_rdev.with("16 "); }
};

bool frenchMessages(uint32_t message, DiChar* buf, size_t size) {
    std::u16string text = message == 9 ? u"Connect\u00e9" : u"";
    buf[text.copy(buf, size - 1)] = 0;
    return message == 9;
}

TEST_F(Engine, SessionStartBuildsTheScreenAndAnnouncesThePropertiesInOrder) {
    d->flags |= 0x80 | 0x1000; // bits the session does not derive stay
    diLogSetMessageLoader(frenchMessages);
    startSession(0x20 | 0x80 | 0x400, 0, 300, 200, 16, 0x4);
    diLogSetMessageLoader(nullptr);
    // Titled "Connected" in the user's language.
    ASSERT_NE(d->ch.hdr.title, nullptr);
    EXPECT_EQ(std::u16string(d->ch.hdr.title), u"Connect\u00e9");
    EXPECT_EQ(g_rdev.log, (Lines{"0", "14 0", "6", "2", "started"}));
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 8u);
    EXPECT_EQ(m[0].type, 29);
    EXPECT_EQ(m[0].u32(0), 8192u);
    const char* names[] = {"mrkqvlloadurl",       "QVL_LAUNCHPROP",        "qvl-cwm-oldtransient",
                           "qvlplaysound",        "qvl_call_client_cmd",   "qvl_call_client_reply",
                           "qvl-swm-serverinfo"};
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(m[1 + i].type, 39);
        EXPECT_NE(m[1 + i].payload.find(names[i]), std::string::npos) << names[i];
    }
    // Derived bits replaced: 0x2 and 0x4 and 0x20 and 0x800 on; 0x8 off
    // because of 0x2; 0x80 and 0x1000 kept.
    EXPECT_EQ(d->flags & (0x2 | 0x4 | 0x8 | 0x20 | 0x80 | 0x800 | 0x1000 | 0x10),
              0x2u | 0x4 | 0x20 | 0x80 | 0x800 | 0x1000);
    EXPECT_EQ(d->depth, 16u);
    EXPECT_EQ(d->windowLimit, 1u);

    // A second session start would build a screen over the first.
    startSession(0x2, 0, 100, 100, 8);
    EXPECT_TRUE(g_rdev.with("14").size() == 1 && sent().empty());
    EXPECT_EQ(d->depth, 16u);
}

TEST_F(Engine, ScreensTheRegionsCannotHoldAreRefused) {
    startSession(0, 0, 40000, 100, 24);
    EXPECT_EQ(d->windows[0], nullptr);
    startSession(0, 0, 100, 100, 12);
    EXPECT_EQ(d->windows[0], nullptr);
    startSession(0, 0, 100, 100, 8);
    EXPECT_NE(d->windows[0], nullptr);
}

TEST_F(Engine, SessionStatusesReportOrCloseAndTheCloseStillFreesEverything) {
    session();
    DiDEManager mgr{};
    DiObject progress{};
    mgr.hdr.type = DI_OBJ_DEMANAGER;
    mgr.progress = &progress;
    d->ch.hdr.parent = &mgr.hdr;
    request(5, Bytes().u16(4).u16(0));
    EXPECT_EQ(d->ch.stopReading, 0u);
    // Kind 4 reports message 145 plus its code; codes past 17 message 190.
    request(5, Bytes().u16(4).u16(3));
    request(5, Bytes().u16(4).u16(40));
    EXPECT_EQ(d->ch.stopReading, 0u);
    EXPECT_EQ(g_fakeUI.states, (std::vector<int32_t>{14, 14}));
    EXPECT_EQ(g_fakeUI.details, (std::vector<int32_t>{148, 190}));
    d->ch.hdr.parent = nullptr;
    window(3, 0, 0, 10, 10);
    request(5, Bytes().u16(1).u16(1));
    // The connection stops reading; the open flag stays so that the close
    // event frees the screen; the readable event drops the windows.
    EXPECT_EQ(d->ch.stopReading, 1u);
    EXPECT_EQ(d->ch.open, 1u);
    event(0);
    EXPECT_EQ(d->windows[3], nullptr);
    EXPECT_NE(d->windows[0], nullptr);
    event(11);
    EXPECT_EQ(d->windows[0], nullptr);
    EXPECT_EQ(d->gc, nullptr);
    EXPECT_EQ(d->colormap, nullptr);
}

TEST_F(Engine, EveryBellRequestRingsTheDevicesBell) {
    session();
    request(4, Bytes());
    request(4, Bytes());
    EXPECT_EQ(g_rdev.with("bell").size(), 2u);
}

TEST_F(Engine, ModifiersMapInTheirThreeVariants) {
    EXPECT_EQ(diXMapModifiers(d, 0x1 | 0x4 | 0x80 | 0x200 | 0x1000), 0x1u | 0x8);
    EXPECT_EQ(diXMapModifiers(d, 0x100), 0x2u); // the right Control key
    d->flags |= 0x10;
    EXPECT_EQ(diXMapModifiers(d, 0x2 | 0x8 | 0x80 | 0x100), 0x2u | 0x4 | 0x80 | 0x100);
    d->flags |= 0x10000;
    EXPECT_EQ(diXMapModifiers(d, 0x3000), 0x3000u);
}

TEST_F(Engine, FocusInSendsFocusThenModifiersAcrossTheClockWrap) {
    session();
    event(12, 0x4);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, 27);
    EXPECT_EQ(m[1].type, 9);
    EXPECT_EQ(m[1].u16(0), 0x8u);
    event(13);
    EXPECT_EQ(sentTypes(), (std::vector<int>{28}));
}

TEST_F(Engine, MotionThrottleHoldsTheLastMotionUntilTheTimerFires) {
    session();
    // No button: threshold 0, so the first motion already waits 100 ms,
    // even across the wrap of the tick counter.
    event(5, 0, 0, 10, 10);
    event(5, 0, 0, 11, 12);
    EXPECT_TRUE(sent().empty());
    advance(99);
    EXPECT_TRUE(sent().empty());
    advance(1);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 5);
    EXPECT_EQ(m[0].u16(1), 11u);
    EXPECT_EQ(m[0].u16(3), 12u);
    // With a button: one at once (threshold 1), then held.
    event(5, 0, 0, 20, 20, 0, 0, 0x10);
    EXPECT_EQ(sentTypes(), (std::vector<int>{5}));
    event(5, 0, 0, 21, 20, 0, 0, 0x10);
    EXPECT_TRUE(sent().empty());
    advance(100);
    EXPECT_EQ(sentTypes(), (std::vector<int>{5}));
    // The firing reset the counts: the next with-button motion goes at once.
    event(5, 0, 0, 22, 20, 0, 0, 0x10);
    EXPECT_EQ(sentTypes(), (std::vector<int>{5}));
    advance(200);
    // Held motion dies with the close: nothing follows message 13.
    event(5, 0, 0, 1, 1);
    event(11);
    advance(200);
    EXPECT_EQ(sentTypes(), (std::vector<int>{13}));
    EXPECT_TRUE(diXEngineTimersIdle(d));
}

TEST_F(Engine, SettingsDefaultAndAZeroDelayTurnsItsCountOff) {
    EXPECT_EQ(d->throttleDelay[0], 100u);
    EXPECT_EQ(d->throttleThreshold[1], 1);
    EXPECT_EQ(d->updateInterval, 20u);
    EXPECT_EQ(d->sizeMoveDelay, 300u);
    EXPECT_EQ(d->flags & 0xC, 0x8u);
    close();
    g_engineSettings[u"MouseThrottleDelayNoButton"] = u"0";
    g_engineSettings[u"MouseThrottleNoButton"] = u"5";
    open();
    g_engineSettings.clear();
    EXPECT_EQ(d->throttleCount[0], -1);
    EXPECT_EQ(d->throttleCount[1], 0);
    session();
    for (int i = 0; i < 5; i++) event(5, 0, 0, uint32_t(i), 0);
    EXPECT_EQ(sent().size(), 5u);
    advance(500);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(d->throttleCount[0], -1);
}

TEST_F(Engine, MiddleButtonEmulation) {
    session(24, 0, 50);
    // Left and right within the delay: one press of 2, one release of 2.
    event(6, 0, 0, 5, 5);
    advance(10);
    event(6, 0, 2, 5, 5);
    event(7, 0, 0, 5, 5);
    EXPECT_EQ(sentTypes(), (std::vector<int>{3}));
    event(7, 0, 2, 5, 5);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 4);
    EXPECT_EQ(m[0].u8(1), 2u);
    // Left released before the delay: press and release of 1 at release.
    event(6, 0, 0, 7, 7);
    advance(20);
    EXPECT_TRUE(sent().empty());
    event(7, 0, 0, 7, 7);
    m = sent();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, 3);
    EXPECT_EQ(m[0].u8(1), 1u);
    EXPECT_EQ(m[1].type, 4);
    EXPECT_EQ(m[1].u8(1), 1u);
    // Right held past the delay: press of 3 when the timer fires, with
    // the motion that came meanwhile.
    event(6, 0, 2, 9, 9);
    event(5, 0, 0, 30, 30, 0, 0, 0x40);
    advance(50);
    m = sent();
    ASSERT_GE(m.size(), 1u);
    EXPECT_EQ(m[0].type, 3);
    EXPECT_EQ(m[0].u8(1), 3u);
    EXPECT_EQ(m[0].u16(2), 9u);
    advance(200);
    event(7, 0, 2, 30, 30);
    m = sent();
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.back().type, 4);
    EXPECT_EQ(m.back().u8(1), 3u);
    // The middle button passes at once.
    event(6, 0, 1, 1, 1);
    EXPECT_EQ(sentTypes(), (std::vector<int>{3}));
}

TEST_F(Engine, KeysGoOutAsTheirUtf16CharactersAndOnlyExposeReturnsOne) {
    session();
    event(3, 0x45, 0x00E8, 0);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 23);
    EXPECT_NE(m[0].payload.find(std::string("\xE8\x00", 2)), std::string::npos);
    DiEvent ev{};
    ev.w[0] = 14;
    ev.w[4] = ev.w[5] = 10;
    EXPECT_EQ(diXDEHandleEvent(&d->ch.hdr, &ev), 1);
    ev.w[0] = 22;
    EXPECT_EQ(diXDEHandleEvent(&d->ch.hdr, &ev), 0);
    EXPECT_EQ(paints(), (Lines{"16 0 0 0 10 10"}));
}

TEST_F(Engine, WindowLifecycleWithOwnerModes) {
    session(24, 0x2);
    window(1, 10, 10, 50, 40);
    window(2, 20, 20, 30, 30, 2, 1, 1);
    window(3, 0, 0, 20, 20, 2, 2, 1);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].type, 38);
    g_rdev.log.clear();
    request(17, Bytes().u8(2).u8(1));
    EXPECT_EQ(g_rdev.log, (Lines{"22 1 0", "18 2 1"}));
    EXPECT_EQ(sentTypes(), (std::vector<int>{36}));
    g_rdev.log.clear();
    request(17, Bytes().u8(3).u8(0)); // a modal window that never showed hides: no change
    EXPECT_EQ(g_rdev.log, (Lines{"18 3 0"}));
    // Restack: a sibling counts for mode 1 only; unknown ones do nothing.
    g_rdev.log.clear();
    request(65, Bytes().u8(1).u8(1).u8(2));
    request(65, Bytes().u8(1).u8(1).u8(9));
    request(65, Bytes().u8(1).u8(0).u8(9));
    request(65, Bytes().u8(9).u8(0).u8(0));
    EXPECT_EQ(g_rdev.log, (Lines{"30 1 1 2", "30 1 0 -1"}));
    // Destroying the shown window gives its owner back, then goes: frame
    // first, then the window.
    g_rdev.log.clear();
    request(16, Bytes().u8(2));
    EXPECT_EQ(g_rdev.log, (Lines{"22 1 1", "unframe", "15 2"}));
}

TEST_F(Engine, TitlesHintsIconsGrabsAndUpdatesReachTheDeviceOnlyForKnownWindows) {
    session(24, 0x2);
    window(1, 0, 0, 50, 50);
    g_rdev.log.clear();
    request(53, Bytes().u8(1).text("abc"));
    request(56, Bytes().u8(1).text("i"));
    request(55, Bytes().u8(1).u16(1).u16(2).u16(3).u16(4));
    std::string image(4 * 2, '\x11'); // 2 x 2 at depth 8, rows of 4 bytes
    request(54, Bytes().u8(1).u16(2).u16(2).u8(8).u8(0).raw(image));
    request(67, Bytes().u8(1).u8(2).u16(2).u16(2).u8(8).u8(0).u16(8).raw(image).u16(2).u16(2)
                    .u8(0).u16(2).raw("\x03\x03"));
    request(60, Bytes().u8(1).u8(11));
    request(57, Bytes().u8(1));
    for (uint32_t t : {53u, 55u, 60u, 57u}) request(t, Bytes().u8(9).u16(0).u16(0).u16(0).u16(0));
    EXPECT_EQ(g_rdev.log, (Lines{"20 1", "20 1", "21 1 1 2 3 4", "4 1024 2 2 8", "24 1 0",
                                 "5 1024", "4 1024 2 2 8", "4 1024 2 2 1", "24 1 1", "5 1024",
                                 "5 1024", "25 1 11", "23 1"}));
    EXPECT_EQ(std::u16string(d->windows[1]->frame->title), u"abc");
    EXPECT_EQ(std::u16string(d->windows[1]->frame->iconTitle), u"i");
}

TEST_F(Engine, WindowIdZeroAndReusedIdsDoNotLoseTheScreenOrLeak) {
    session(24, 0x2);
    window(0, 0, 0, 10, 10);
    request(16, Bytes().u8(0));
    request(18, Bytes().u8(0).u16(5).u16(5).u16(30000).u16(30000));
    EXPECT_NE(d->windows[0], nullptr);
    EXPECT_EQ(d->windows[0]->head.width, 200);
    EXPECT_EQ(d->windows[0]->head.x, 0);
    EXPECT_TRUE(g_rdev.with("15").empty());
    window(5, 0, 0, 10, 10);
    fill(0, 0, 5, 5); // exposure timer on window 5 (multi-window root damage)
    window(5, 1, 1, 20, 20);
    EXPECT_EQ(g_rdev.with("15 5").size(), 1u);
    EXPECT_EQ(d->windows[5]->head.width, 20);
}

TEST_F(Engine, WindowsBeyondTheSingleWindowLimitAreFreedWithTheDisplay) {
    session(24);
    window(200, 0, 0, 30, 30);
    ASSERT_NE(d->windows[200], nullptr);
    d->gc->drawable = &d->windows[200]->head;
    fill(0, 0, 5, 5); // arms its exposure timer
    event(11);
    EXPECT_EQ(d->windows[200], nullptr);
}

TEST_F(Engine, CreationStyleRuleAndExtendedGeometry) {
    session(24, 0x2 | 0x4);
    window(1, 10, 20, 30, 40, 0);
    EXPECT_TRUE(sent().empty()); // no 38 with extended geometry
    EXPECT_EQ(d->windows[1]->frame->styleFlags, 0x80u);
    EXPECT_EQ(d->windows[1]->frame->rect[2], 30);
    window(2, 10, 20, 30, 40, 0x3);
    EXPECT_EQ(d->windows[2]->frame->styleFlags, 0x2u);
    // Override windows activate nothing unless the old-transient switch;
    // with the no-activate switch no window does, mapped or focused.
    request(17, Bytes().u8(1).u8(1));
    EXPECT_TRUE(sent().empty());
    d->flags |= 0x20;
    request(17, Bytes().u8(2).u8(1));
    DiEvent focus{};
    focus.w[0] = 12;
    diXDEHandleWindowEvent(d->windows[2]->frame, &focus);
    EXPECT_EQ(sentTypes(), (std::vector<int>{27, 9}));
    d->flags |= 0x80;
    request(17, Bytes().u8(1).u8(1));
    EXPECT_EQ(sentTypes(), (std::vector<int>{36}));
}

TEST_F(Engine, FrameEventsReportGeometryAfterQuietAndStateChangesAtOnce) {
    session(24, 0x2);
    window(1, 30, 20, 60, 40);
    sent();
    DiXFrame* f = d->windows[1]->frame;
    auto frameEvent = [&](uint32_t type, uint32_t a, uint32_t b = 0, uint32_t c = 0,
                          uint32_t e = 0, uint32_t g = 0) {
        DiEvent ev{};
        ev.w[0] = type, ev.w[1] = a, ev.w[2] = b, ev.w[3] = c, ev.w[4] = e, ev.w[5] = g;
        return diXDEHandleWindowEvent(f, &ev);
    };
    frameEvent(15, 1, 30, 20, 60, 40);
    EXPECT_EQ(sentTypes(), (std::vector<int>{34, 36})); // the state became normal
    frameEvent(15, 1, 35, 20, 60, 40);
    advance(200);
    frameEvent(15, 1, 40, 25, 60, 40);
    advance(299);
    EXPECT_TRUE(sent().empty());
    advance(1);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 35);
    EXPECT_EQ(d->windows[1]->head.x, 40);
    // Minimised: 34 at once, no geometry.
    frameEvent(15, 2, 40, 25, 60, 40);
    m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 34);
    frameEvent(15, 2, 0, 0, 60, 40);
    advance(400);
    EXPECT_TRUE(sent().empty());
    // Focus, exposure at the window's place in the shared buffer.
    frameEvent(12, 0);
    EXPECT_EQ(sentTypes(), (std::vector<int>{27, 9, 36}));
    g_rdev.log.clear();
    EXPECT_EQ(frameEvent(14, 0, 5, 5, 100, 100), 1);
    EXPECT_EQ(paints(), (Lines{"16 1 45 30 55 35"}));
    frameEvent(18, 0);
    EXPECT_EQ(sentTypes(), (std::vector<int>{34}));
    // A frame whose window is destroyed while its timer runs takes it along.
    frameEvent(15, 1, 50, 50, 60, 40);
    request(16, Bytes().u8(1));
    sent();
    advance(400);
    EXPECT_TRUE(sent().empty());
}

TEST_F(Engine, ExtendedGeometryCarriesTheBorders) {
    session(24, 0x2 | 0x4);
    window(1, 30, 20, 60, 40);
    DiXFrame* f = d->windows[1]->frame;
    DiEvent ev{};
    ev.w[0] = 15, ev.w[1] = 0, ev.w[2] = 30, ev.w[3] = 20, ev.w[4] = 60, ev.w[5] = 40;
    diXDEHandleWindowEvent(f, &ev);
    sent();
    ev.w[2] = 31;
    diXDEHandleWindowEvent(f, &ev);
    advance(300);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, 35);
    EXPECT_GT(m[0].payload.size(), 17u); // borders and frame value follow
}

TEST_F(Engine, DamageIsRaisedToZeroCutAtTheEdgesAndPaintedAfterTheInterval) {
    session();
    fill(-5, -3, 10, 6);
    advance(19);
    EXPECT_TRUE(paints().empty());
    advance(1);
    EXPECT_EQ(paints(), (Lines{"16 0 0 0 10 6"}));
    g_rdev.log.clear();
    fill(190, 95, 50, 50);
    advance(20);
    EXPECT_EQ(paints(), (Lines{"16 0 190 95 10 5"}));
    EXPECT_TRUE(g_rdev.screenMatchesBuffer());
}

TEST_F(Engine, LineDamageIncludesTheFirstPointOnly) {
    session();
    DiXWindow* root = d->windows[0];
    d->gc->fb.damageFlags = 2;
    diXDamageLine(root, d->gc, 5, 5, 5, 5);
    EXPECT_TRUE(diXAreaIsEmpty(&root->exposure));
    diXDamageLine(root, d->gc, 10, 7, 4, 7);
    EXPECT_EQ(root->exposure.x, 5);
    EXPECT_EQ(root->exposure.width, 6);
    EXPECT_EQ(root->exposure.height, 1);
    diXAreaClear(&root->exposure);
    diXDamageLine(root, d->gc, 3, 2, 3, 9);
    EXPECT_EQ(root->exposure.y, 2);
    EXPECT_EQ(root->exposure.height, 7);
    EXPECT_EQ(root->exposure.width, 1);
    diXAreaClear(&root->exposure);
    // A shallow line reaches its second end's row half way: that row is
    // damaged, the second end's column is not.
    diXDamageLine(root, d->gc, 0, 0, 10, 1);
    EXPECT_EQ(root->exposure.width, 10);
    EXPECT_EQ(root->exposure.height, 2);
    diXAreaClear(&root->exposure);
    advance(100);
}

TEST_F(Engine, MultiWindowRootDamageReachesWindowsAwayFromTheOriginInRootCoordinates) {
    session(24, 0x2);
    window(1, 100, 50, 40, 30);
    window(2, 0, 0, 20, 20);
    g_rdev.log.clear();
    fill(110, 60, 10, 10);
    advance(20);
    // Only window 1 covers it; the root itself paints nothing.
    EXPECT_EQ(paints(), (Lines{"16 1 110 60 10 10"}));
    g_rdev.log.clear();
    fill(90, 40, 100, 100);
    advance(20);
    EXPECT_EQ(paints(), (Lines{"16 1 100 50 40 30"}));
}

TEST_F(Engine, RootDamageReachesEveryWindowInUseAsHighIdsComeAndGo) {
    session(24, 0x2);
    window(1, 0, 0, 20, 20);
    window(5, 40, 0, 20, 20);
    window(9, 80, 0, 20, 20);
    window(11, 200, 0, 20, 20);
    request(16, Bytes().u8(11)); // the highest, then one below another
    request(16, Bytes().u8(5));
    window(7, 120, 0, 20, 20);
    window(3, 160, 0, 20, 20);
    g_rdev.log.clear();
    // One request: one box for each place, two boxes meeting window 1.
    request(10, Bytes().u16(6).u16(0).u16(0).u16(5).u16(5).u16(10).u16(10).u16(5).u16(5)
                    .u16(40).u16(0).u16(200).u16(5).u16(80).u16(0).u16(5).u16(5)
                    .u16(120).u16(10).u16(5).u16(5).u16(170).u16(15).u16(50).u16(50));
    advance(20);
    Lines p = paints();
    std::sort(p.begin(), p.end());
    EXPECT_EQ(p, (Lines{"16 1 0 0 5 5", "16 1 10 10 5 5", "16 3 160 0 20 5", "16 3 170 15 10 5",
                        "16 7 120 0 20 5", "16 7 120 10 5 5", "16 9 80 0 20 5"}));
}

TEST_F(Engine, UpdateAreaBatchesForOneSecondStretchedToTwo) {
    g_rdev.addDamageFlags = 1;
    session();
    d->gc->fb.changeMask |= FB_GC_VALIDATE;
    fill(0, 0, 10, 10);
    advance(20);
    g_rdev.log.clear();
    advance(980);
    EXPECT_EQ(paints(), (Lines{"16 0 0 0 10 10"})); // no later damage: painted at 1000
    g_rdev.log.clear();
    fill(0, 0, 10, 10);
    advance(600);
    fill(20, 0, 10, 10); // more damage while it runs: another second
    advance(400);
    EXPECT_EQ(paints().size(), 2u); // the two exposures only
    fill(40, 0, 10, 10);
    advance(600);
    g_rdev.log.clear();
    advance(400); // 2000 since the start: painted now whatever came
    Lines p = paints();
    EXPECT_FALSE(p.empty());
    EXPECT_TRUE(g_rdev.screenMatchesBuffer());
}

TEST_F(Engine, ManyScatteredBoxesBecomeTheirExtentsAndAllArePainted) {
    session();
    Bytes b;
    b.u16(100);
    for (uint32_t i = 0; i < 100; i++) b.u16(i * 2 % 200).u16(i * 7 % 100).u16(1).u16(1);
    request(10, b);
    EXPECT_LE(d->windows[0]->exposure.count, 64);
    advance(20);
    EXPECT_EQ(paints().size(), 1u);
    EXPECT_TRUE(g_rdev.screenMatchesBuffer());
    // Columns each a row lower, whose union would hold about 40 * 40 boxes:
    // the request builds about as many boxes as the area keeps.
    Bytes stairs;
    stairs.u16(40);
    for (uint32_t i = 0; i < 40; i++) stairs.u16(i * 2).u16(i).u16(1).u16(50);
    uint64_t before = diRegionBoxesBuilt();
    request(10, stairs);
    EXPECT_LE(diRegionBoxesBuilt() - before, 2 * 64u);
    EXPECT_EQ(d->windows[0]->exposure.count, 1);
    advance(20);
}

TEST_F(Engine, CoveringBoxesPaintOnceAndTheFlushPaintsDueExposures) {
    session();
    request(10, Bytes().u16(2).u16(0).u16(0).u16(10).u16(5).u16(0).u16(5).u16(10).u16(5));
    advance(20);
    EXPECT_EQ(paints(), (Lines{"16 0 0 0 10 10"}));
    g_rdev.log.clear();
    request(10, Bytes().u16(2).u16(0).u16(0).u16(10).u16(5).u16(50).u16(50).u16(10).u16(5));
    g_engineNow += 25; // the timer has not run yet, but is due
    diXFlushDueUpdates(d);
    EXPECT_EQ(paints().size(), 2u);
    advance(50);
}

TEST_F(Engine, ActivityPaintsAtOnceAndRevalidatesTheGC) {
    session();
    fill(0, 0, 10, 10);
    ASSERT_TRUE(d->windows[0]->exposureTimer);
    event(3, 30, 'a', 0);
    EXPECT_EQ(paints().size(), 1u);
    EXPECT_TRUE(d->gc->fb.changeMask & FB_GC_VALIDATE);
    advance(499);
    EXPECT_TRUE(d->windows[0]->activityTimer);
    advance(1);
    EXPECT_FALSE(d->windows[0]->activityTimer);
}

TEST_F(Engine, GCChangesValidateOnceAndAnUnknownSourceNeitherDrawsNorValidates) {
    session();
    fill(0, 0, 1, 1);
    g_rdev.log.clear();
    request(20, Bytes().u8(1).u8(2).u8(3));
    request(20, Bytes().u8(4).u8(5).u8(6));
    EXPECT_EQ(d->gc->fb.changeMask, 0x8001u);
    fill(0, 0, 1, 1);
    fill(1, 0, 1, 1);
    EXPECT_EQ(g_rdev.with("7").size(), 1u);
    request(22, Bytes().u8(6));
    request(12, Bytes().u16(0).u16(0).u16(5).u16(5).u8(1).u8(77).u16(0).u16(0).u8(0));
    EXPECT_EQ(g_rdev.with("7").size(), 1u);
    advance(50);
}

TEST_F(Engine, FreeingWhatTheGCNamesLeavesNothingDangling) {
    session();
    request(27, Bytes().u8(4).u16(20).u16(20).u8(24).u8(0));
    request(27, Bytes().u8(5).u16(8).u16(8).u8(24).u8(0));
    request(23, Bytes().u8(5));
    request(26, Bytes().u8(1)); // tiled
    request(19, Bytes().u8(1).u8(4).u8(0));
    fill(0, 0, 5, 5);
    request(28, Bytes().u8(4)); // the drawable
    request(28, Bytes().u8(5)); // the tile
    fill(0, 0, 5, 5); // must draw nothing, through no freed record
    request(12, Bytes().u16(0).u16(0).u16(5).u16(5).u8(1).u8(4).u16(0).u16(0).u8(0));
    EXPECT_EQ(d->gc->drawable, nullptr);
    EXPECT_EQ(d->gc->tilePixmap, nullptr);
    // A font closed under the GC: text and glyph bits do nothing.
    request(36, Bytes().u8(2));
    request(38, Bytes().u8(2).u8(65).u16(8).u16(8).u16(0).u16(8).u16(9));
    request(30, Bytes().u8(2));
    request(19, Bytes().u8(0).u8(0).u8(0));
    request(34, Bytes().u16(10).u16(20).u16(1).u8(65));
    request(37, Bytes().u8(2));
    request(34, Bytes().u16(10).u16(20).u16(1).u8(65));
    size_t m = g_rdev.mark();
    request(39, Bytes().u8(65).u16(0).u16(0).u16(8).u16(8).u8(0).raw(std::string(8, '\xff')));
    EXPECT_TRUE(g_rdev.since(m).empty());
    EXPECT_EQ(d->gc->font, nullptr);
    advance(50);
}

TEST_F(Engine, StoreColorsSendsTheRangeAndNeverAnEmptyOne) {
    session(8);
    request(3, Bytes().u16(2).u8(10).u8(1).u8(2).u8(3).u8(3).u8(4).u8(5).u8(6));
    EXPECT_EQ(g_rdev.with("1 "), (Lines{"1 3 8"}));
    EXPECT_EQ(d->gc->fb.changeMask & 0x8001u, 0x8001u);
    request(3, Bytes().u16(0));
    EXPECT_EQ(g_rdev.with("1 ").size(), 1u);
}

TEST_F(Engine, CursorsAndFontsReplaceTheirIdAndRefuseIdsBeyondTheTables) {
    session();
    Bytes cur = Bytes().u8(5).u8(8).u8(8).u8(1).u8(0).u8(0).u8(0).u16(0).u8(0).u16(0).raw(
        std::string(16, '\x0f'));
    request(61, cur);
    request(61, cur);
    EXPECT_EQ(g_rdev.with("2"), (Lines{"27 5", "28 5", "27 5"}));
    request(70, Bytes().u32(0x100000005u & 0xFFFFFFFF).u32(1).u32(1).u32(0).u32(0).u32(0));
    request(70, Bytes().u32(40).u32(1).u32(1).u32(0).u32(0).u32(0));
    EXPECT_EQ(g_rdev.with("27").size(), 3u);
    request(36, Bytes().u8(16));
    request(27, Bytes().u8(0).u16(8).u16(8).u8(8).u8(4)); // id 1024
    EXPECT_TRUE(g_rdev.with("9").empty() && g_rdev.with("4").empty());
    request(62, Bytes().u8(5));
    EXPECT_EQ(g_rdev.with("29"), (Lines{"29 5"}));
}

// Request 61 carries two 1-bit planes whatever its depth byte says.
TEST_F(Engine, BitmapCursorsStayBitmapsWhateverTheirDepthByte) {
    session();
    for (uint32_t depth : {0u, 1u, 8u, 24u, 32u}) {
        request(61, Bytes().u8(3).u8(255).u8(255).u8(depth).u32(0).u32(0).raw(
                        std::string(2 * 32 * 255, 'Z')));
        ASSERT_NE(d->cursors[3], nullptr) << depth;
        EXPECT_NE(d->cursors[3]->depth, 32u) << depth;
    }
}

// A display's own ceiling, then the total of all: with three displays full
// a fourth holds nothing until one gives pixels back.
TEST_F(Engine, PixelBytesPastTheCeilingFailLikeAnAllocation) {
    session();
    // 32767 x 1000 at depth 24 counts 131 MB: two fit under 256 MiB.
    auto big = [](EngineRig& r, uint32_t id) {
        r.request(27, Bytes().u8(id).u16(32767).u16(1000).u8(24).u8(0));
        return r.d->pixmaps[id] != nullptr;
    };
    for (uint32_t id = 0; id < 3; id++)
        big(*this, id);
    EXPECT_NE(d->pixmaps[1], nullptr);
    EXPECT_EQ(d->pixmaps[2], nullptr);
    request(28, Bytes().u8(0));
    EXPECT_TRUE(big(*this, 2));
    EngineRig more[3];
    std::vector<int> held;
    for (EngineRig& r : more) {
        r.open();
        r.startSession(0, 0, 200, 100, 24);
        held.push_back(big(r, 0) + big(r, 1));
    }
    EXPECT_EQ(held, (std::vector<int>{2, 2, 0}));
    request(28, Bytes().u8(1));
    EXPECT_TRUE(big(more[2], 0));
    for (int i = 2; i >= 0; i--)
        more[i].close(); // each checks its own records
    EXPECT_EQ(diXProcessPixelBytes(), d->pixelBytes + d->screenBytes);
}

// A root's buffer counts in the total of all displays: with the others
// holding nearly all of it, the next root is refused, and closing every
// display gives its share back.
TEST_F(Engine, RootsCountInThePixelTotalOfAllDisplays) {
    startSession(0, 0, 2000, 2000, 24);
    uint64_t root = diXProcessPixelBytes();
    uint64_t others = DI_XPROCESS_PIXEL_CEILING - root - root / 2;
    ASSERT_EQ(diXProcessTake(others), 0);
    EngineRig next;
    next.open();
    next.startSession(0, 0, 2000, 2000, 24);
    EXPECT_EQ(next.d->windows[0], nullptr);
    next.close();
    diXProcessGive(others);
    close();
    EXPECT_EQ(diXProcessPixelBytes(), 0u);
}

TEST_F(Engine, PropertiesActThroughTheDeviceAndRefuseUnsafeTexts) {
    session();
    auto prop = [&](uint32_t op, const std::string& name, const std::string& value) {
        request(59, Bytes().u16(0).u8(op).text("").text(name).text(value));
    };
    prop(1, "qvl-cwm-oldtransient", "TrUe");
    EXPECT_TRUE(d->flags & 0x80);
    prop(0, "qvlplaysound", "");
    EXPECT_TRUE(d->flags & 0x80);
    prop(0, "qvl-cwm-oldtransient", "");
    EXPECT_FALSE(d->flags & 0x80);
    prop(1, "qvlplaysound", "SystemAsterisk");
    prop(1, "qvlplaysound", "");
    EXPECT_EQ(g_rdev.sounds, (std::vector<std::u16string>{u"SystemAsterisk"}));
    prop(1, "QVL_LAUNCHPROP", std::string("http://h/x\0obj\0user\0pw", 22));
    ASSERT_EQ(g_rdev.launches.size(), 1u);
    EXPECT_EQ(g_rdev.launches[0], std::u16string(u"-url http://h/x -objectname \"obj\" -username "
                                                 u"\"user\" -epassword \"pw\" -login -minimized"));
    prop(1, "QVL_LAUNCHPROP", std::string("http://h/x\0o\" -evil \"\0u\0p", 25));
    prop(1, "QVL_LAUNCHPROP", std::string("http://h/x -evil\0o\0u\0p", 23));
    prop(1, "QVL_LAUNCHPROP", std::string("http://h/x\0") + std::string(1100, 'a'));
    EXPECT_EQ(g_rdev.launches.size(), 1u);
    prop(1, "mrkqvlloadurl", "docroot/a.html");
    prop(1, "mrkqvlloadurl", "docroot/a b");
    prop(1, "mrkqvlloadurl", "not a url");
    EXPECT_EQ(g_rdev.urls, (std::vector<std::u16string>{u"docroot/a.html"}));
    prop(1, "qvl_call_client_cmd", "CALL inst");
    prop(1, "qvl_call_client_cmd", "CALL inst a+b %41%2a");
    prop(1, "qvl_call_client_cmd", "BOGUS x");
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, 17);
    EXPECT_NE(m[0].payload.find("qvl_call_client_reply"), std::string::npos);
    EXPECT_EQ(m[0].payload.substr(m[0].payload.size() - 2), "-1");
    EXPECT_EQ(m[1].payload.back(), '7');
    EXPECT_EQ(g_rdev.plugin, (std::vector<std::string>{"call inst [a b] [A*]"}));
}

TEST_F(Engine, ProbeTimesTheDeviceWithAClockEachPaintAdvances) {
    session(24);
    g_engineNow = 0xFFFFFFFFu - 100; // the timing loops cross the wrap
    // Each paint takes 1 ms for a pixel, 5 ms for 100 x 100.
    g_rdev.onPaint = [] {
        g_engineNow += g_rdev.log.back().find(" 1 1") != std::string::npos ? 1 : 5;
    };
    request(45, Bytes());
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    ASSERT_EQ(m[0].type, 20);
    size_t n = m[0].payload.size();
    ASSERT_GE(n, 16u);
    EXPECT_EQ(m[0].u32(n - 16), 1000u);    // t1 = 1 ms
    EXPECT_EQ(m[0].u32(n - 12), 2500000u); // 10^7 / (5000 - 1000) x 1000
    EXPECT_EQ(m[0].u32(n - 8), 0u);
    EXPECT_FALSE(d->flags & 0x1000); // only both timings mark the device probed
    EXPECT_EQ(g_rdev.with("31"), (Lines{"31 0 0 0 100 100"}));
}

TEST_F(Engine, MultiWindowProbeTargetsTheFirstWindowWithRoomOnTheDisplay) {
    session(24, 0x2);
    window(1, 0, 0, 90, 200);   // too narrow
    window(2, 150, 0, 100, 100); // leaves only 50 columns of the display
    window(3, -20, 0, 100, 100); // clipped to 0: fits
    window(4, 0, 0, 120, 100);
    g_rdev.log.clear();
    request(45, Bytes());
    EXPECT_EQ(g_rdev.with("31"), (Lines{"31 3 0 0 100 100"}));
    sent();
}

TEST_F(Engine, ProbeRateClampsWhenThePaintsDifferByMicroseconds) {
    session(24);
    bool first = true;
    g_rdev.onPaint = [&] {
        bool large = g_rdev.log.back().find(" 1 1") == std::string::npos;
        g_engineNow += 1 + (large && first ? 1 : 0);
        if (large) first = false;
    };
    request(45, Bytes());
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    ASSERT_GE(m[0].payload.size(), 16u);
    EXPECT_EQ(m[0].u32(m[0].payload.size() - 12), 0x7FFFFD78u);
}

TEST_F(Engine, ProbeXorRunsLeaveThePixelsAndAnswerZerosWithoutResults) {
    session(24, 0x20); // display flag 0x2: the frame buffer is timed too
    fill(0, 0, 200, 100);
    request(20, Bytes().u8(0x12).u8(0x34).u8(0x56));
    fill(10, 10, 50, 50);
    advance(20);
    std::vector<uint8_t> before(g_rdev.root.bits,
                                g_rdev.root.bits + g_rdev.root.stride * g_rdev.root.height);
    // 2 ms a reading: 125 runs (odd) in 250 ms, made even by one more fill.
    g_engineTick = 2;
    request(45, Bytes());
    g_engineTick = 0;
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    ASSERT_GE(m[0].payload.size(), 16u);
    for (int i = 4; i >= 1; i--) EXPECT_EQ(m[0].u32(m[0].payload.size() - 4 * size_t(i)), 0u);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), g_rdev.root.bits));
}

TEST_F(Engine, ProbeWithoutATargetAnswersTheDefaults) {
    session(24);
    g_rdev.probeAnswer = 0;
    request(45, Bytes());
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 1u);
    ASSERT_GE(m[0].payload.size(), 8u);
    EXPECT_EQ(m[0].u32(m[0].payload.size() - 8), 1000u);
    EXPECT_EQ(m[0].u32(m[0].payload.size() - 4), 1000000u);
    // Once probed, the device part is not run again.
    d->flags |= 0x1000;
    g_rdev.probeAnswer = 1;
    g_rdev.log.clear();
    request(45, Bytes());
    EXPECT_TRUE(g_rdev.with("31").empty());
    EXPECT_EQ(sent().size(), 1u);
}

} // namespace
