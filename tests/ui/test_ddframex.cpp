// Frames of X top-level windows: styles from the decorations, placement in
// the monitor's work area, owners, size limits from the size hints,
// geometry events, and the calls into the X engine through its hooks.
#include "frame_fixture.h"
#include "support/zorder.h"

#include <algorithm>
#include <string>

namespace {

// What the X engine's hooks were asked, and what they answer.
struct XEngineFake {
    uint32_t flags = 0;
    DdXWindowInfo info{};
    RECT root = {0, 0, 1280, 1024};
    std::vector<std::string> calls;
};
XEngineFake g_x;

void installHooks() {
    g_ddXHooks = DdXHooks();
    g_ddXHooks.engineFlags = [](DiObject*) { return g_x.flags; };
    g_ddXHooks.xwindowInfo = [](DiObject*, DdXWindowInfo* info) {
        *info = g_x.info;
        return 1;
    };
    g_ddXHooks.xwindowForgetFrame = [](DiObject*) { g_x.calls.push_back("forget"); };
    g_ddXHooks.setSizeMove = [](DiObject*, int on) {
        g_x.info.sizeMove = on;
        g_x.calls.push_back(on ? "sizemove on" : "sizemove off");
    };
    g_ddXHooks.redrawDisplay = [](DiObject*) { g_x.calls.push_back("redraw"); };
    g_ddXHooks.scheduleStackCheck = [](DiObject*) { g_x.calls.push_back("stack"); };
    g_ddXHooks.swmSysCommand = [](DiObject*, uint32_t cmd, int32_t x, int32_t y) {
        g_x.calls.push_back("syscommand " + std::to_string(cmd) + " " + std::to_string(x) + " " +
                            std::to_string(y));
    };
    g_ddXHooks.rootRect = [](DiObject*, RECT* r) {
        *r = g_x.root;
        return 1;
    };
}

class XFrame : public ::testing::Test {
  protected:
    TestEngine engine, xwin;
    std::vector<DdFrame*> frames;

    void SetUp() override {
        ensureWindowClasses();
        g_x = XEngineFake();
        installHooks();
        diUIObjectInit(&engine.hdr, DI_OBJ_XDE, 1280, 1024);
        engine.hdr.handler = testEngineHandler;
        diUIObjectInit(&xwin.hdr, DI_OBJ_XDE, 0, 0);
        xwin.hdr.handler = testEngineHandler;
        g_x.info.engine = &engine.hdr;
        g_x.info.maxWidth = g_x.info.maxHeight = 65535;
    }
    void TearDown() override {
        for (DdFrame* f : frames)
            diUIDestroyFrame(&f->base);
        pumpMessages();
        g_ddXHooks = DdXHooks();
    }
    // An X frame for `xwin`, in the frame list.
    DdFrame* make(uint32_t decorations, int32_t x, int32_t y, int32_t w, int32_t h,
                  uint32_t extra = 0, DiObject* ownerX = nullptr, DiObject* shows = nullptr) {
        DdFrame* f = ddUICreateFrameX(&engine.hdr, ddGDICreateGC(), decorations, ownerX, &x, &y, &w,
                                      &h, extra);
        if (!f) return nullptr;
        f->xwindow = shows ? shows : &xwin.hdr;
        diUIFrameListAppend(&f->base);
        frames.push_back(f);
        return f;
    }
};

TEST_F(XFrame, StylesFollowTheDecorationsAndFlags) {
    const struct {
        uint32_t decorations, extra, engineFlags;
        LONG style;
        bool tool, topmost;
    } cases[] = {
        {0, 0, 0, 0, true, false},
        {8 | 16, 0, 0, WS_CAPTION | WS_SYSMENU, false, false},
        {4 | 32 | 64, 0, 0, WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, false, false},
        {8, 2, 0, WS_CAPTION, true, false},
        {8, 4, 0, WS_CAPTION, false, true},
        {0, 0, DD_XF_SEAMLESS, 0, false, false},
        {0, 2, DD_XF_SEAMLESS, 0, true, false},
    };
    for (auto c : cases) {
        g_x.flags = c.engineFlags;
        DdFrame* f = make(c.decorations, 50, 50, 200, 100, c.extra);
        ASSERT_NE(nullptr, f);
        LONG style = GetWindowLongW(f->window, GWL_STYLE);
        LONG ex = GetWindowLongW(f->window, GWL_EXSTYLE);
        const LONG deco = WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
        EXPECT_EQ(c.style, style & deco) << c.decorations << "/" << c.extra;
        EXPECT_TRUE(style & WS_POPUP);
        EXPECT_EQ(c.tool, (ex & WS_EX_TOOLWINDOW) != 0) << c.decorations << "/" << c.extra;
        EXPECT_EQ(c.topmost, (ex & WS_EX_TOPMOST) != 0) << c.decorations << "/" << c.extra;
    }
}

TEST_F(XFrame, DecoratedFramesAreKeptInTheWorkArea) {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int32_t ww = work.right - work.left, wh = work.bottom - work.top;
    const struct {
        const char* name;
        uint32_t decorations, flags;
        int32_t x, y, w, h;
        int32_t wantX, wantY; // -1: not checked
        bool capped;
    } cases[] = {
        {"off the top left", 8, 0, -500, -400, 200, 100, int32_t(work.left), int32_t(work.top),
         false},
        {"past the bottom right", 8, 0, ww + 100, wh + 100, 200, 100, -1, -1, false},
        {"larger than the work area", 8, 0, 10, 10, ww * 2, wh * 2, int32_t(work.left),
         int32_t(work.top), true},
        {"oversize allowed", 8, DD_XF_OVERSIZE, 10, 10, ww * 2, wh * 2, -1, -1, false},
        {"undecorated stays put", 0, 0, -500, -400, 200, 100, -500, -400, false},
        {"seamless keeps its place", 8, DD_XF_SEAMLESS, -500, -400, 200, 100, -1, -1, false},
    };
    for (auto c : cases) {
        g_x.flags = c.flags;
        int32_t x = c.x, y = c.y, w = c.w, h = c.h;
        DdFrame* f = ddUICreateFrameX(&engine.hdr, ddGDICreateGC(), c.decorations, nullptr, &x, &y,
                                      &w, &h, 0);
        ASSERT_NE(nullptr, f) << c.name;
        diUIFrameListAppend(&f->base);
        frames.push_back(f);
        RECT wr;
        GetWindowRect(f->window, &wr);
        EXPECT_EQ(wr.left, x) << c.name;
        EXPECT_EQ(wr.top, y) << c.name;
        EXPECT_EQ(wr.right - wr.left, w) << c.name;
        if (c.wantX != -1) {
            EXPECT_EQ(c.wantX, x) << c.name;
        }
        if (c.wantY != -1) {
            EXPECT_EQ(c.wantY, y) << c.name;
        }
        if (c.decorations && !(c.flags & DD_XF_SEAMLESS)) {
            EXPECT_GE(x, work.left) << c.name;
            EXPECT_GE(y, work.top) << c.name;
        }
        if (c.capped) {
            EXPECT_EQ(ww, w) << c.name;
            EXPECT_EQ(wh, h) << c.name;
        }
        if (c.flags & DD_XF_OVERSIZE) {
            EXPECT_GT(w, ww) << c.name;
        }
    }
}

TEST(XFrameMonitors, WorkAreaOfTheMonitorWithTheLargestShare) {
    // Injected layouts: Wine shows one monitor whatever the display has.
    const DdUIMonitorArea two[] = {
        {{0, 0, 1024, 768}, {0, 0, 1024, 740}},
        {{1024, 0, 2944, 1080}, {1024, 0, 2944, 1040}},
    };
    const DdUIMonitorArea stacked[] = {
        {{0, 0, 800, 600}, {0, 0, 800, 570}},
        {{0, -1024, 1280, 0}, {0, -1024, 1280, -30}},
        {{-1280, 0, 0, 1024}, {-1280, 0, 0, 1000}},
    };
    const RECT primary = {0, 0, 1024, 740};
    const struct {
        const DdUIMonitorArea* monitors;
        int count;
        RECT window;
        LONG wantLeft, wantBottom;
    } cases[] = {
        {two, 2, {100, 100, 300, 300}, 0, 740},
        {two, 2, {900, 100, 1300, 300}, 1024, 1040}, // mostly on the second
        {two, 2, {1000, 100, 1040, 300}, 0, 740},    // mostly on the first
        {two, 2, {5000, 5000, 5100, 5100}, 0, 740},  // on none: the primary
        {stacked, 3, {10, -500, 300, 50}, 0, -30},   // above the primary
        {stacked, 3, {-900, 10, 100, 500}, -1280, 1000},
        {nullptr, 0, {10, 10, 20, 20}, 0, 740}, // no records
    };
    for (auto c : cases) {
        const RECT* w = ddUIPickWorkArea(&c.window, c.monitors, c.count, &primary);
        EXPECT_EQ(c.wantLeft, w->left) << c.window.left << "," << c.window.top;
        EXPECT_EQ(c.wantBottom, w->bottom) << c.window.left << "," << c.window.top;
    }
}

TEST_F(XFrame, TransientIsOwnedOnlyByATopmostFrame) {
    TestEngine parentX;
    diUIObjectInit(&parentX.hdr, DI_OBJ_XDE, 0, 0);
    DdFrame* top = make(8, 10, 10, 100, 100, 4, nullptr, &parentX.hdr);
    DdFrame* owned = make(8, 20, 20, 100, 100, 0, &parentX.hdr);
    EXPECT_EQ(top->window, GetWindow(owned->window, GW_OWNER));
    EXPECT_TRUE(GetWindowLongW(owned->window, GWL_EXSTYLE) & WS_EX_TOPMOST);

    g_x.flags = DD_XF_NO_OWNER;
    DdFrame* free1 = make(8, 20, 20, 100, 100, 0, &parentX.hdr);
    EXPECT_EQ(nullptr, GetWindow(free1->window, GW_OWNER));

    g_x.flags = 0;
    TestEngine plainX;
    diUIObjectInit(&plainX.hdr, DI_OBJ_XDE, 0, 0);
    make(8, 10, 10, 100, 100, 0, nullptr, &plainX.hdr);
    DdFrame* free2 = make(8, 20, 20, 100, 100, 0, &plainX.hdr);
    EXPECT_EQ(nullptr, GetWindow(free2->window, GW_OWNER));

    // Freeing the owner leaves the X window's frame alive, without owner.
    diUIDestroyFrame(&top->base);
    frames.erase(frames.begin());
    EXPECT_TRUE(IsWindow(owned->window));
    EXPECT_EQ(nullptr, GetWindow(owned->window, GW_OWNER));
}

TEST_F(XFrame, SizeLimitsComeFromTheSizeHints) {
    DdFrame* f = make(8 | 4, 10, 10, 200, 100);
    g_x.info.borderLeft = g_x.info.borderRight = 2;
    g_x.info.borderTop = g_x.info.borderBottom = 3;
    g_x.info.minWidth = 50;
    g_x.info.minHeight = 40;
    const LONG vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const struct {
        int32_t maxW, maxH;
        uint32_t flags;
        LONG wantW, wantH; // -1: as Windows proposed
    } cases[] = {
        {300, 200, 0, 304, 206},   {65535, 65535, DD_XF_OVERSIZE, 65535, 65535},
        {65535, 65535, 0, -1, -1}, {65535, 200, DD_XF_OVERSIZE, 65535, 206},
        {65535, 200, 0, vw, 206},  {300, 65535, 0, 304, vh},
    };
    for (auto c : cases) {
        g_x.info.maxWidth = c.maxW;
        g_x.info.maxHeight = c.maxH;
        g_x.flags = c.flags;
        MINMAXINFO mm = {};
        mm.ptMaxSize = {1111, 2222};
        mm.ptMaxTrackSize = {3333, 4444};
        SendMessageW(f->window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mm));
        EXPECT_EQ(c.wantW == -1 ? 3333 : c.wantW, mm.ptMaxTrackSize.x) << c.maxW << "x" << c.maxH;
        EXPECT_EQ(c.wantH == -1 ? 4444 : c.wantH, mm.ptMaxTrackSize.y) << c.maxW << "x" << c.maxH;
        EXPECT_EQ(c.wantW == -1 ? 1111 : c.wantW, mm.ptMaxSize.x);
        EXPECT_EQ(54, mm.ptMinTrackSize.x);
        EXPECT_EQ(46, mm.ptMinTrackSize.y);
    }
}

TEST_F(XFrame, GeometryEventsCarryTheBordersAndTheOffScreenState) {
    g_x.info.borderLeft = g_x.info.borderRight = 1;
    g_x.info.borderTop = g_x.info.borderBottom = 2;
    DdFrame* f = make(0, 100, 100, 200, 100);
    xwin.events.clear();
    SetWindowPos(f->window, nullptr, 120, 130, 300, 150, SWP_NOZORDER | SWP_NOACTIVATE);
    auto ev = eventsOf(xwin, {DI_EV_GEOMETRY});
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(1u, ev.back().w[1]);
    EXPECT_EQ(121u, ev.back().w[2]);
    EXPECT_EQ(132u, ev.back().w[3]);
    EXPECT_EQ(298u, ev.back().w[4]);
    EXPECT_EQ(146u, ev.back().w[5]);

    // Off the virtual screen and beside the root window: state 4, when the
    // engine asks for it.
    const int32_t vw = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    for (uint32_t flags : {0u, uint32_t(DD_XF_OFFSCREEN)}) {
        g_x.flags = flags;
        xwin.events.clear();
        SetWindowPos(f->window, nullptr, vw + 500 + int32_t(flags), 100, 0, 0,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
        ev = eventsOf(xwin, {DI_EV_GEOMETRY});
        ASSERT_FALSE(ev.empty());
        EXPECT_EQ(flags ? 4u : 1u, ev.back().w[1]);
    }

    // While the user drags, nothing is sent.
    g_x.info.sizeMove = 1;
    xwin.events.clear();
    SetWindowPos(f->window, nullptr, 10, 10, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    EXPECT_TRUE(eventsOf(xwin, {DI_EV_GEOMETRY}).empty());
}

TEST_F(XFrame, MessagesReachTheXEngineThroughItsHooks) {
    g_x.flags = DD_XF_SEAMLESS;
    DdFrame* f = make(8 | 16, 100, 100, 200, 100);
    HWND w = f->window;
    g_x.calls.clear();
    SendMessageW(w, WM_ENTERSIZEMOVE, 0, 0);
    SendMessageW(w, WM_EXITSIZEMOVE, 0, 0);
    SendMessageW(w, WM_SYSCOMMAND, SC_RESTORE, 0);
    SendMessageW(w, 0x0313, 0, MAKELPARAM(40, 50));
    ShowWindow(w, SW_SHOWNOACTIVATE);
    SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    std::vector<std::string> want = {"sizemove on", "sizemove off", "redraw",
                                     "syscommand 61728 0 0", "syscommand 63520 40 50"};
    ASSERT_GE(g_x.calls.size(), want.size());
    EXPECT_EQ(want, std::vector<std::string>(g_x.calls.begin(), g_x.calls.begin() + 5));
    EXPECT_NE(g_x.calls.end(), std::find(g_x.calls.begin() + 5, g_x.calls.end(), "stack"));

    xwin.events.clear();
    SendMessageW(w, WM_CLOSE, 0, 0);
    ASSERT_EQ(1u, eventsOf(xwin, {DI_EV_WINDOW_CLOSED}).size());
    EXPECT_TRUE(IsWindow(w)) << "the X engine decides what closing means";

    g_x.calls.clear();
    diUIDestroyFrame(&f->base);
    frames.clear();
    EXPECT_EQ(std::vector<std::string>{"forget"}, g_x.calls);
}

} // namespace

namespace {

TEST_F(XFrame, PlacedInTheWorkAreaOfTheApplicationsMonitorRecords) {
    // Two monitors side by side, as the monitor module records them.
    DdMonitor records[2] = {{0, 0, 640, 480, 0, 0, 640, 450},
                            {640, 0, 640, 480, 640, 20, 640, 430}};
    DdMonitor* saved = g_ddApp->monitors;
    int32_t savedCount = g_ddApp->monitorCount;
    DdMonitor savedPrimary = g_ddApp->primaryMonitor;
    g_ddApp->monitors = records;
    g_ddApp->monitorCount = 2;
    g_ddApp->primaryMonitor = records[0];
    int32_t x = 1200, y = 0, w = 200, h = 100;
    DdFrame* f = ddUICreateFrameX(&engine.hdr, ddGDICreateGC(), 8, nullptr, &x, &y, &w, &h, 0);
    g_ddApp->monitors = saved;
    g_ddApp->monitorCount = savedCount;
    g_ddApp->primaryMonitor = savedPrimary;
    ASSERT_NE(nullptr, f);
    diUIFrameListAppend(&f->base);
    frames.push_back(f);
    // Mostly on the second monitor: kept inside its work area.
    EXPECT_EQ(1280 - w, x);
    EXPECT_EQ(20, y);
}

} // namespace

namespace {

TEST_F(XFrame, GrownToTheOuterRectangleOnlyForClientGeometry) {
    // Inside the work area and smaller than it: no placement rule moves it.
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int32_t x0 = work.left + 100, y0 = work.top + 100;
    for (uint32_t flags : {0u, uint32_t(DD_XF_CLIENT_GEOMETRY)}) {
        g_x.flags = flags;
        int32_t x = x0, y = y0, w = 200, h = 100;
        DdFrame* f =
            ddUICreateFrameX(&engine.hdr, ddGDICreateGC(), 8 | 4, nullptr, &x, &y, &w, &h, 0);
        ASSERT_NE(nullptr, f);
        diUIFrameListAppend(&f->base);
        frames.push_back(f);
        RECT wr, cr;
        GetWindowRect(f->window, &wr);
        GetClientRect(f->window, &cr);
        EXPECT_EQ(x, wr.left) << flags;
        EXPECT_EQ(y, wr.top) << flags;
        EXPECT_EQ(w, wr.right - wr.left) << flags;
        EXPECT_EQ(h, wr.bottom - wr.top) << flags;
        if (flags) {
            // The client area is what was asked; the outer rectangle grew.
            EXPECT_EQ(200, cr.right) << "client width";
            EXPECT_EQ(100, cr.bottom) << "client height";
            EXPECT_LT(x, x0);
            EXPECT_GT(h, 100);
        } else {
            // A frame rectangle is kept as given.
            EXPECT_EQ(x0, x);
            EXPECT_EQ(y0, y);
            EXPECT_EQ(200, w);
            EXPECT_EQ(100, h);
            EXPECT_LT(cr.bottom, 100) << "the caption comes out of the frame's own height";
        }
    }
}

// The window the seamless search names, and what it was asked.
struct InsertAfterFake {
    HWND answer = nullptr;
    std::vector<std::pair<DiObject*, HWND>> asked;
};
InsertAfterFake g_after;

// True when `a` stands above `b` (other test programs share the desktop, so
// their windows may stand between ours).
bool isAbove(HWND a, HWND b) {
    std::vector<HWND> order = hvTopLevelOrder();
    auto ia = std::find(order.begin(), order.end(), a),
         ib = std::find(order.begin(), order.end(), b);
    return ia != order.end() && ib != order.end() && ia < ib;
}

TEST_F(XFrame, SeamlessFrameGoesBehindTheWindowTheEngineNames) {
    g_x.flags = DD_XF_SEAMLESS;
    g_after = InsertAfterFake();
    g_ddXHooks.findInsertAfter = [](DiObject* engine, HWND frame) {
        g_after.asked.push_back({engine, frame});
        return g_after.answer;
    };
    DdFrame* lower = make(8, 10, 10, 100, 100);
    DdFrame* upper = make(8, 20, 20, 100, 100);
    ASSERT_TRUE(lower && upper);
    // An unowned window is placed too, just below the named one.
    g_after.asked.clear();
    g_after.answer = lower->window;
    DdFrame* f = make(8, 30, 30, 100, 100);
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(1u, g_after.asked.size());
    EXPECT_EQ(&engine.hdr, g_after.asked[0].first);
    EXPECT_EQ(f->window, g_after.asked[0].second);
    EXPECT_EQ(f->window, GetWindow(lower->window, GW_HWNDNEXT));

    // No place named: to the top.
    g_after.answer = nullptr;
    DdFrame* top = make(8, 40, 40, 100, 100);
    ASSERT_NE(nullptr, top);
    EXPECT_TRUE(isAbove(top->window, upper->window));
    EXPECT_TRUE(isAbove(top->window, f->window));
}

} // namespace
