// Seamless frames over the recording device: the border and caption hit
// test, client-side drags with their outline and grab, the area a drag
// uncovers, and the focus hand-over and geometry timelines on the stepped
// clock.
#include <gtest/gtest.h>

#include "core/diapp.h"
#include "engine_harness.h"
#include "xde/dixseamless.h"

#include <algorithm>
#include <array>

namespace {

using Lines = std::vector<std::string>;

// Frame styles as the server's window information gives them.
const uint32_t kThick = 0x40000, kCaption = 0xC00000, kSysMenu = 0x80000, kMin = 0x20000,
               kMax = 0x10000;

struct Prop {
    std::string window, name, value;
};

std::string lowText(const SentMessage& m, size_t* at) {
    size_t n = m.u16(*at);
    std::string s = m.payload.substr(*at + 2, n);
    *at += 2 + n;
    return s;
}

struct Swm : ::testing::Test, EngineRig {
    std::vector<SentMessage> kept; // messages read by props() and not yet taken
    void SetUp() override {
        open();
        g_ddApp->monitors = nullptr;
        g_ddApp->monitorCount = 0;
        g_ddApp->primaryMonitor = DdMonitor{0, 0, 640, 480, 0, 0, 640, 450};
    }
    void TearDown() override {
        g_rdev.onSlot = nullptr;
        close();
        EXPECT_FALSE(diXSWMDragging());
    }
    // A seamless multi-window session of 640 x 480 with extended geometry
    // (a frame's rectangle is its requested one), the server's metrics:
    // borders 4 x 3, caption 20, buttons 18, corners 16.
    void session(uint32_t flags = 0x2 | 0x4) {
        startSession(flags, 0, 640, 480, 24, 0x1);
        const int32_t metrics[5] = {4, 3, 20, 18, 16};
        std::copy(metrics, metrics + 5, d->swmMetrics);
        sent();
        g_rdev.log.clear();
    }
    void window(uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t style = 2,
                uint32_t ownerMode = 0, uint32_t owner = 0, uint32_t frameFlags = 0,
                uint32_t styles = kThick | kCaption | kSysMenu | kMin | kMax) {
        request(15, Bytes().u8(id).u16(uint32_t(x)).u16(uint32_t(y)).u16(uint32_t(w)).u16(
                        uint32_t(h)).u8(style).u8(ownerMode).u8(owner).u8(0).u32(frameFlags));
        if (DiXFrame* f = frame(id)) f->styles[0] = styles;
    }
    DiXFrame* frame(uint32_t id) { return d->windows[id] ? d->windows[id]->frame : nullptr; }
    int frameEvent(uint32_t id, uint32_t type, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0,
                   uint32_t w4 = 0, uint32_t w5 = 0, uint32_t w6 = 0, uint32_t w7 = 0) {
        DiEvent ev{};
        ev.w[0] = type, ev.w[1] = w1, ev.w[2] = w2, ev.w[3] = w3, ev.w[4] = w4;
        ev.w[5] = w5, ev.w[6] = w6, ev.w[7] = w7;
        return diXDEHandleWindowEvent(frame(id), &ev);
    }
    void press(uint32_t id, int32_t x, int32_t y) { frameEvent(id, 6, 0, 0, x, y); }
    void release(uint32_t id, int32_t x, int32_t y) { frameEvent(id, 7, 0, 0, x, y); }
    void motion(uint32_t id, int32_t x, int32_t y) { frameEvent(id, 5, 0, 0, x, y, 0, 0, 0x10); }
    void show(uint32_t id, uint32_t mode) { request(17, Bytes().u8(id).u8(mode)); }
    // The "qvl-swm-syscommand" values sent since the last call, as
    // "window:value".
    std::vector<std::string> syscommands() {
        std::vector<std::string> out;
        for (const SentMessage& m : sent()) {
            if (m.type != 17) continue;
            size_t at = 0;
            Prop p;
            p.window = lowText(m, &at);
            p.name = lowText(m, &at);
            at++;
            p.value = lowText(m, &at);
            if (p.name == "qvl-swm-syscommand") out.push_back(p.window + ":" + p.value);
        }
        return out;
    }
    Lines log(size_t mark) {
        Lines out;
        for (const std::string& l : g_rdev.since(mark))
            if (l.rfind("stdcursor", 0) != 0) out.push_back(l);
        return out;
    }
};

// Pixels of the display's exposure region, as rows of '#' and '.'.
std::vector<std::string> regionPicture(const DiXDisplay* d, int32_t w, int32_t h) {
    std::vector<std::string> rows(size_t(h), std::string(size_t(w), '.'));
    const DiRegion* r = &d->exposureRegion.region;
    if (diXAreaIsEmpty(&d->exposureRegion)) return rows;
    for (int i = 0; i < RegionNumRects(r); i++) {
        const DiBox& b = RegionRects(r)[i];
        for (int y = b.y1; y < b.y2 && y < h; y++)
            for (int x = b.x1; x < b.x2 && x < w; x++) rows[size_t(y)][size_t(x)] = '#';
    }
    return rows;
}

std::vector<std::string> picture(int32_t w, int32_t h, std::vector<std::array<int32_t, 4>> rects) {
    std::vector<std::string> rows(size_t(h), std::string(size_t(w), '.'));
    for (const auto& r : rects)
        for (int y = std::max(0, r[1]); y < r[1] + r[3] && y < h; y++)
            for (int x = std::max(0, r[0]); x < r[0] + r[2] && x < w; x++)
                rows[size_t(y)][size_t(x)] = '#';
    return rows;
}

TEST_F(Swm, HitTestBandsIncludeTheirStartAndExcludeTheirEnd) {
    session();
    // Frame 100..300 x 50..200; right - bw - bx = 278, bottom - cs - by =
    // 181, caption rows 53..73, three caption buttons from 300 - 54 - 4.
    window(1, 100, 50, 200, 150);
    DiXFrame* f = frame(1);
    struct Case {
        int32_t x, y;
        int code;
    };
    const Case full[] = {
        {100, 50, 2},  {103, 72, 2},  {103, 73, 9},  {100, 180, 9}, {100, 181, 8}, {103, 199, 8},
        {100, 200, 0}, {99, 100, 0},  {104, 50, 2},  {121, 52, 2},  {104, 53, 0},  {110, 100, 0},
        {121, 199, 8}, {122, 50, 3},  {277, 52, 3},  {122, 53, 1},  {241, 72, 1},  {242, 60, 0},
        {150, 197, 7}, {150, 196, 0}, {278, 50, 4},  {295, 52, 4},  {278, 53, 0},  {278, 199, 6},
        {296, 50, 4},  {299, 72, 4},  {296, 73, 5},  {299, 180, 5}, {296, 181, 6}, {299, 199, 6},
        {300, 100, 0}, {200, 200, 0},
    };
    for (const Case& c : full)
        EXPECT_EQ(diXHitTestFrame(f, c.x, c.y), c.code) << c.x << "," << c.y;
    // Without a system menu the caption's left end moves the frame; a
    // context-help button takes a fourth button's width off the caption.
    f->styles[0] = kThick | kCaption | kMin | kMax;
    f->styles[1] = 0x400;
    EXPECT_EQ(diXHitTestFrame(f, 104, 53), 1);
    EXPECT_EQ(diXHitTestFrame(f, 223, 60), 1);
    EXPECT_EQ(diXHitTestFrame(f, 224, 60), 0);
    // No caption: nothing inside the frame but its sizing borders.
    f->styles[0] = kThick | kSysMenu;
    f->styles[1] = 0;
    for (const Case& c : {Case{150, 55, 0}, Case{150, 100, 0}, Case{200, 60, 0},
                          Case{100, 60, 9}, Case{150, 50, 3}, Case{299, 60, 5}})
        EXPECT_EQ(diXHitTestFrame(f, c.x, c.y), c.code) << "no caption " << c.x << "," << c.y;
    // No sizing border: the borders count nothing and the caption starts at
    // the frame's edge; one button.
    f->styles[0] = kCaption;
    for (const Case& c : {Case{100, 50, 1}, Case{281, 69, 1}, Case{282, 60, 0},
                          Case{150, 70, 0}, Case{150, 199, 0}, Case{299, 100, 0}})
        EXPECT_EQ(diXHitTestFrame(f, c.x, c.y), c.code) << "no border " << c.x << "," << c.y;
}

TEST_F(Swm, ABorderDragDrawsTheOutlineAndLeavesTheMoveToTheServer) {
    session();
    window(1, 100, 50, 200, 150);
    sent();
    size_t m = g_rdev.mark();
    press(1, 299, 100); // right border: code 5
    motion(1, 299, 100);  // no movement: taken, nothing drawn
    motion(1, 309, 104);
    motion(1, 329, 90);
    release(1, 329, 90);
    EXPECT_EQ(log(m), (Lines{"25 1 11", "dragwin", "outline 100 50 210 150", "outline 100 50 210 150",
                             "outline 100 50 230 150", "25 1 10", "outline 100 50 230 150",
                             "undragwin"}));
    // The server saw the press and the release only.
    EXPECT_EQ(sentTypes(), (std::vector<int>{3, 4}));
    EXPECT_TRUE(d->flags & 0x2000);
    EXPECT_EQ(d->draggedWindow, 1u);
    // Nothing on our side moved the window (no slot 19 above): the server's
    // configure does, and it ends the drag; direct drawing stops a second
    // after the release.
    request(18, Bytes().u8(1).u16(100).u16(50).u16(230).u16(150));
    EXPECT_EQ(d->draggedWindow, 0u);
    m = g_rdev.mark();
    advance(999);
    EXPECT_TRUE(d->flags & 0x2000);
    advance(1);
    EXPECT_FALSE(d->flags & 0x2000);
    EXPECT_EQ(log(m), (Lines{"23 0", "23 1"}));

    // A caption drag moves the whole outline; a drag that never moves sends
    // press and release and draws nothing.
    m = g_rdev.mark();
    press(1, 150, 60);
    motion(1, 140, 70);
    release(1, 140, 70);
    Lines caption = log(m);
    ASSERT_GE(caption.size(), 3u);
    EXPECT_EQ(caption[2], "outline 90 60 200 150");
    m = g_rdev.mark();
    press(1, 150, 60);
    release(1, 150, 60);
    EXPECT_EQ(log(m), (Lines{"25 1 11", "25 1 10"}));
    EXPECT_EQ(sentTypes(), (std::vector<int>{3, 4, 3, 4}));
    // A press inside the frame starts nothing: later motions reach the server.
    press(1, 200, 120);
    motion(1, 210, 120);
    release(1, 210, 120);
    EXPECT_EQ(sentTypes(), (std::vector<int>{3, 5, 4}));
}

TEST_F(Swm, AMotionHeldByTheThrottleDoesNotReachTheServerMidDrag) {
    session();
    window(1, 100, 50, 200, 150);
    sent();
    // Every motion without a button waits for the throttle's timer.
    d->throttleThreshold[0] = 0;
    frameEvent(1, 5, 0, 0, 150, 120);
    press(1, 299, 100); // right border
    advance(2000);
    release(1, 299, 100);
    EXPECT_EQ(sentTypes(), (std::vector<int>{3, 4}));
}

TEST_F(Swm, SizingStopsAtOnePixelAndTheDraggedFrameMayGoMidDrag) {
    session();
    window(1, 100, 50, 200, 150);
    window(2, 400, 300, 100, 100);
    sent();
    // The left border dragged far past the right one: the outline keeps one
    // column, and follows the pointer again when it comes back.
    press(1, 101, 100);
    motion(1, 900, 100);
    EXPECT_EQ(g_rdev.with("outline ").back(), "outline 299 50 1 150");
    motion(1, 120, 100);
    EXPECT_EQ(g_rdev.with("outline ").back(), "outline 119 50 181 150");
    // A release lost elsewhere: the next press ends that drag first.
    size_t lost = g_rdev.mark();
    press(1, 101, 100);
    EXPECT_EQ(log(lost), (Lines{"25 1 10", "outline 119 50 181 150", "undragwin", "25 1 11"}));
    motion(1, 120, 100);
    // The window goes while dragged: grab released, outline erased with its
    // window (the teardown checks the drag window was freed), and later
    // motions of other frames reach the server.
    size_t m = g_rdev.mark();
    request(16, Bytes().u8(1));
    Lines l = log(m);
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(Lines(l.begin(), l.begin() + 3),
              (Lines{"25 1 10", "outline 119 50 181 150", "undragwin"}));
    EXPECT_FALSE(diXSWMDragging());
    sent();
    motion(2, 420, 320);
    release(2, 420, 320);
    EXPECT_EQ(sentTypes(), (std::vector<int>{5, 4}));
    advance(1000);
    EXPECT_FALSE(d->flags & 0x2000);
}

TEST_F(Swm, TheCloseEndsADragAndLeavesNoSeamlessTimer) {
    session();
    window(1, 100, 50, 200, 150);
    window(2, 400, 50, 100, 100);
    show(2, 1);
    frameEvent(2, 12);
    press(1, 150, 60);
    motion(1, 160, 70);
    size_t m = g_rdev.mark();
    event(11);
    Lines l = log(m);
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(Lines(l.begin(), l.begin() + 3),
              (Lines{"25 1 10", "outline 110 60 200 150", "undragwin"}));
    EXPECT_TRUE(diXEngineTimersIdle(d));
    EXPECT_FALSE(d->flags & 0x2000);
}

TEST_F(Swm, ADragExposesTheStripsItChangedCutToTheDisplay) {
    session();
    window(1, 10, 10, 20, 10);
    DiXFrame* f = frame(1);
    const int32_t W = 64, H = 40;
    d->screenWidth = W, d->screenHeight = H; // a small display for pictures
    struct Case {
        const char* what;
        std::array<int32_t, 4> rect;
        std::vector<std::array<int32_t, 4>> exposed;
    };
    const Case cases[] = {
        {"moved", {12, 15, 20, 10}, {{10, 10, 20, 10}, {12, 15, 20, 10}}},
        {"wider", {10, 10, 25, 10}, {{30, 10, 5, 10}}},
        {"narrower", {10, 10, 15, 10}, {{25, 10, 5, 10}}},
        {"taller", {10, 10, 20, 14}, {{10, 20, 20, 4}}},
        {"shorter", {10, 10, 20, 6}, {{10, 16, 20, 4}}},
        {"grown", {10, 10, 23, 13}, {{30, 10, 3, 13}, {10, 20, 23, 3}}},
        {"past the edge", {50, 30, 30, 30}, {{10, 10, 20, 10}, {50, 30, 14, 10}}},
    };
    for (const Case& c : cases) {
        diXAreaClear(&d->exposureRegion);
        diXExposeDraggedArea(d, f, c.rect.data());
        EXPECT_EQ(regionPicture(d, W, H), picture(W, H, c.exposed)) << c.what;
    }
    diXAreaClear(&d->exposureRegion);
    diXExposeDraggedArea(d, f, nullptr);
    EXPECT_EQ(regionPicture(d, W, H), picture(W, H, {{10, 10, 20, 10}}));
    // Repainting every part of the area ends direct drawing at once.
    diXSetDirectDrawing(d, 1);
    diXSetDirectDrawing(d, 0);
    DiXRect part{10, 10, 20, 10};
    diXAreaAddBoxes(&d->windows[1]->exposure, 1, &part);
    diXPaintExposures(d, d->windows[1]);
    EXPECT_FALSE(d->flags & 0x2000);
    EXPECT_TRUE(diXAreaIsEmpty(&d->exposureRegion));
}

TEST_F(Swm, FocusHandOverReportsOnlyTheChangesTheEngineDidNotExpect) {
    session();
    window(1, 10, 10, 50, 50);
    window(2, 100, 10, 50, 50);
    window(3, 200, 10, 50, 50, 2, 1, 1); // disables its owner 1 while shown
    sent();
    // Shown 1, but the focus went to 2 within 250 ms.
    show(1, 1);
    advance(100);
    frameEvent(2, 12);
    advance(249);
    EXPECT_TRUE(syscommands().empty());
    advance(1);
    EXPECT_EQ(syscommands(), (std::vector<std::string>{"2:63488"}));
    // The expected frame gaining it is quiet; so is any frame after the
    // expectation's 500 ms are over.
    show(1, 1);
    frameEvent(1, 12);
    advance(300);
    show(2, 1);
    advance(500);
    frameEvent(1, 12);
    advance(300);
    EXPECT_TRUE(syscommands().empty());
    // Focus lost by a frame nobody expected to lose it: 63504; a hidden
    // frame losing it is expected.
    frameEvent(1, 13);
    advance(250);
    EXPECT_EQ(syscommands(), (std::vector<std::string>{"1:63504"}));
    frameEvent(2, 12);
    advance(300);
    show(2, 0);
    frameEvent(2, 13);
    advance(300);
    EXPECT_TRUE(syscommands().empty());
    // A frame the engine disabled (3 is modal over 1) is not reported.
    show(3, 1);
    frameEvent(1, 12);
    advance(300);
    EXPECT_TRUE(syscommands().empty());
    // A frame destroyed before the timer fires is forgotten with it.
    show(3, 0);
    show(2, 1);
    frameEvent(1, 12);
    request(16, Bytes().u8(1));
    advance(300);
    EXPECT_TRUE(syscommands().empty());
    EXPECT_EQ(d->focusLast, nullptr);
    // A click on another frame while the shown one takes the focus is the
    // user's choice; a click from outside the session is not reported.
    show(3, 1);
    show(3, 0);
    show(2, 1);
    frameEvent(2, 12);
    advance(50);
    press(3, 225, 45);
    release(3, 225, 45);
    frameEvent(3, 12);
    advance(250);
    EXPECT_EQ(syscommands(), (std::vector<std::string>{"3:63488"}));
    show(2, 1);
    frameEvent(3, 13);
    advance(300);
    syscommands();
    press(3, 225, 45);
    release(3, 225, 45);
    frameEvent(3, 12);
    advance(300);
    EXPECT_TRUE(syscommands().empty());
    // The engine's own change, told by the Windows side, is expected too.
    frameEvent(3, 13);
    advance(300);
    syscommands();
    diXSWMExpectGain(d, frame(3));
    frameEvent(3, 12);
    advance(300);
    EXPECT_TRUE(syscommands().empty());
}

TEST_F(Swm, GeometryTimelineSendsEachMoveAtOnceAndTheFrameAfterQuiet) {
    session(0x2);
    window(1, 30, 20, 60, 40);
    window(2, 130, 20, 60, 40, 0); // override: no decoration, no reports
    frameEvent(1, 15, 1, 30, 20, 60, 40);
    sent();
    // Borders 4, 4, 24, 4: the frame is the client area grown by them.
    frameEvent(1, 15, 1, 35, 20, 60, 40);
    advance(200);
    frameEvent(1, 15, 1, 40, 25, 60, 40);
    EXPECT_EQ(syscommands(), (std::vector<std::string>{"1:61440,31,-4,68,68",
                                                       "1:61440,36,1,68,68"}));
    advance(299);
    EXPECT_TRUE(sent().empty());
    advance(1);
    EXPECT_EQ(sentTypes(), (std::vector<int>{35}));
    // The engine's own moves and override windows report nothing.
    g_rdev.onSlot = [&](int slot, DiXWindow* w) {
        if (slot == 19) frameEvent(w->head.id, 15, 1, 70, 70, 60, 40);
    };
    request(18, Bytes().u8(1).u16(70).u16(70).u16(60).u16(40));
    frameEvent(2, 15, 1, 130, 20, 60, 40);
    sent();
    frameEvent(2, 15, 1, 140, 20, 60, 40);
    advance(400);
    EXPECT_EQ(sentTypes(), (std::vector<int>{}));
    g_rdev.onSlot = nullptr;
    // Minimised, then restored from the taskbar: the frame's area is
    // redrawn once direct drawing ends and the server hears of the focus.
    frameEvent(1, 15, 2, 70, 70, 60, 40);
    EXPECT_EQ(sentTypes(), (std::vector<int>{34}));
    frameEvent(1, 15, 1, 70, 70, 60, 40);
    std::vector<SentMessage> m = sent();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].type, 34);
    EXPECT_EQ(m[1].type, 36);
    EXPECT_EQ(m[2].type, 17);
    EXPECT_TRUE(d->flags & 0x2000);
    EXPECT_FALSE(diXAreaIsEmpty(&d->exposureRegion));
    EXPECT_EQ(d->expectGain, frame(1));
    size_t mark = g_rdev.mark();
    advance(1000);
    EXPECT_FALSE(d->flags & 0x2000);
    EXPECT_EQ(log(mark), (Lines{"23 0", "23 1", "23 2"}));
}

TEST_F(Swm, SessionRootFrameStandsForTheSessionWindow) {
    DdMonitor mons[2] = {{0, 0, 1280, 1024, 0, 0, 1280, 984},
                         {1280, 0, 1024, 768, 1280, 10, 1024, 758}};
    g_ddApp->monitors = mons;
    g_ddApp->monitorCount = 2;
    startSession(0x2 | 0x4, 0, 640, 480, 24, 0x1);
    std::string info;
    for (const SentMessage& m : sent())
        if (m.type == 17) {
            size_t at = 0;
            lowText(m, &at);
            if (lowText(m, &at) == "qvl-swm-clientinfo") info = lowText(m, &++at);
        }
    EXPECT_EQ(info, "2,0,0,1280,984,1280,10,1024,758");
    g_ddApp->monitors = nullptr;
    g_ddApp->monitorCount = 0;
    diXSendClientInfo(d);
    std::vector<SentMessage> one = sent();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_NE(one[0].payload.find("1,0,0,640,450"), std::string::npos);

    // Creation asks for the window's seamless properties.
    window(1, 0, 0, 640, 480, 2, 0, 0, 1);
    window(2, 10, 10, 50, 50);
    std::vector<SentMessage> m = sent();
    int asked = 0;
    for (const SentMessage& s : m)
        if (s.type == 39) {
            size_t at = 0;
            std::string w = lowText(s, &at);
            std::string n = lowText(s, &at);
            EXPECT_TRUE(n == "qvl-swm-windowinfo" || n == "qvl-swm-focusinfo") << n;
            EXPECT_TRUE(w == "1" || w == "2") << w;
            asked++;
        }
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(diXFindSeamlessRoot(d), frame(1));
    // The root frame is shown and focused as the session's window, never
    // mapped or restacked through the device.
    g_fakeUI.shows.clear();
    g_rdev.log.clear();
    show(1, 1);
    request(65, Bytes().u8(1).u8(255).u8(0));
    EXPECT_EQ(g_rdev.log, (Lines{"focus"}));
    ASSERT_EQ(g_fakeUI.shows.size(), 1u);
    EXPECT_EQ(g_fakeUI.shows[0].second, 1);
    show(1, 0);
    EXPECT_TRUE(d->expectGainAny);
    // The display's own focus events go to the root frame's window.
    sent();
    event(12, 0);
    std::vector<SentMessage> f = sent();
    ASSERT_GE(f.size(), 1u);
    EXPECT_EQ(f[0].type, 27);
    EXPECT_EQ(f[0].u8(0), 1u);
    EXPECT_EQ(d->focusLast, frame(1));
    // The Windows side's system commands: the window menu at a point, and
    // any other command alone.
    SWMSysCommand(frame(2), 63520, 5, -7);
    SWMSysCommand(frame(2), 61728, 1, 2);
    EXPECT_EQ(syscommands(), (std::vector<std::string>{"2:63520,5,-7", "2:61728"}));
}

TEST_F(Swm, SeamlessPropertiesTakeOnlyValuesThatParseWhole) {
    session();
    window(1, 10, 10, 50, 50);
    auto set = [&](const std::u16string& window, const std::u16string& name,
                   const std::u16string& value) {
        diXDEPropertyChanged(d, 1, window.data(), uint32_t(window.size()), name.data(),
                             uint32_t(name.size()), value.data(), uint32_t(value.size()));
    };
    auto metrics = [&] { return std::vector<int32_t>(d->swmMetrics, d->swmMetrics + 5); };
    set(u"", u"qvl-swm-serverinfo", u"5,6,21,19,17");
    EXPECT_EQ(metrics(), (std::vector<int32_t>{5, 6, 21, 19, 17}));
    for (const char16_t* bad : {u"1,2,3,4", u"1,2,3,4,5,6", u"1,2,x,4,5", u"1,2,3,4,5,",
                                u"1,,3,4,5", u"1,2,3,4,-5", u"1,2,3,4,99999999999", u""})
        set(u"", u"qvl-swm-serverinfo", bad);
    EXPECT_EQ(metrics(), (std::vector<int32_t>{5, 6, 21, 19, 17}));
    // Styles: 32-bit words written signed; the frame's style is applied.
    g_rdev.log.clear();
    set(u"1", u"qvl-swm-windowinfo", u"-2147483648,262144,7");
    set(u"1", u"qvl-swm-windowinfo", u"1,2");
    set(u"1", u"qvl-swm-windowinfo", u"1,2,3x");
    set(u"2", u"qvl-swm-windowinfo", u"1,2,3");  // no such window
    set(u"1x", u"qvl-swm-windowinfo", u"1,2,3"); // no such name
    set(u"1", u"qvl-swm-focusinfo", u"");
    set(u"256", u"qvl-swm-focusinfo", u"");
    set(u"1", u"qvl-swm-other", u"1,2,3");
    EXPECT_EQ(g_rdev.log, (Lines{"style 1 80000000 00040000 7", "swmfocus 1"}));
}

} // namespace
