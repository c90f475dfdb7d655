// Multi-window frames under Wine: the engine maps, moves and restacks real
// Windows frames, and what is done to those frames (moved, minimised,
// closed, brought forward) reaches the server as the protocol's messages.
// The messages are read from the display's output buffer.
#include <gtest/gtest.h>

#include "core/dide.h"
#include "core/ditimer.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "ui/diui.h"
#include "xde/ddxmulti.h"

#include <string.h>
#include <vector>

namespace {

using Msg = std::pair<uint8_t, std::vector<uint8_t>>;

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

int freeGdiHandles() {
    std::vector<HBRUSH> v;
    while (v.size() < 100000) {
        HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
        if (!b) break;
        v.push_back(b);
    }
    for (HBRUSH b : v)
        DeleteObject(b);
    return int(v.size());
}

void pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        diTimerDispatch(GetTickCount());
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

struct Multi : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;

    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXMultiTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
        // Once per process: the frame and view classes stay registered.
        WNDCLASSW probe{};
        if (!GetClassInfoW(GetModuleHandleW(nullptr), L"QVLViewClass", &probe)) {
            ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
        }
        ddXDEInstallHooks();
    }
    void SetUp() override {
        window = CreateWindowW(L"HvXMultiTest", L"x multi", WS_POPUP, 0, 0, 320, 240, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, 320, 240, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        d->sessionFlags |= DI_XSESSION_MULTI;
        d->windowLimit = DI_XWINDOWS;
        d->screenWidth = 320, d->screenHeight = 240, d->depth = 24;
        d->sizeMoveDelay = 60;
        ASSERT_EQ(diXDECreateScreen(d), 0);
    }
    void TearDown() override {
        if (ch) {
            diXDestroyAllWindows(d);
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (window) DestroyWindow(window);
    }

    // The client messages buffered since the last call (there is no socket).
    std::vector<Msg> take() {
        std::vector<Msg> v;
        const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
        const uint8_t* end = d->ch.out.data + d->ch.out.used;
        while (end - p >= 3) {
            uint32_t n = p[1] | uint32_t(p[2]) << 8;
            if (uint32_t(end - p - 3) < n) break;
            v.push_back({p[0], std::vector<uint8_t>(p + 3, p + 3 + n)});
            p += 3 + n;
        }
        d->ch.out.used = d->ch.out.consumed = 0;
        return v;
    }
    // Pumps until `count` messages of `type` are buffered (the timers that
    // send them may run late on a busy machine), then takes everything.
    std::vector<Msg> takeAfter(uint8_t type, size_t count) {
        DWORD start = GetTickCount();
        for (;;) {
            size_t n = 0;
            const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
            const uint8_t* end = d->ch.out.data + d->ch.out.used;
            while (end - p >= 3) {
                uint32_t len = p[1] | uint32_t(p[2]) << 8;
                if (uint32_t(end - p - 3) < len) break;
                if (p[0] == type) n++;
                p += 3 + len;
            }
            if (n >= count || GetTickCount() - start > 5000) break;
            pump(10);
        }
        pump(50);
        return take();
    }
    static std::vector<std::vector<uint8_t>> only(const std::vector<Msg>& v, uint8_t type) {
        std::vector<std::vector<uint8_t>> r;
        for (auto& m : v)
            if (m.first == type) r.push_back(m.second);
        return r;
    }
    static uint16_t u16(const std::vector<uint8_t>& p, size_t at) {
        return uint16_t(p[at] | p[at + 1] << 8);
    }

    HWND frameOf(uint32_t id) {
        DiXWindow* w = d->windows[id];
        return w && w->frame && w->frame->hdr.gc
                   ? GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT)
                   : nullptr;
    }
    HWND viewOf(uint32_t id) { return ddGDIGetWindow(d->windows[id]->frame->hdr.gc); }
    // The display's frames as the z-order has them, bottom first.
    std::vector<uint32_t> order() {
        std::vector<uint32_t> ids;
        HWND top = GetTopWindow(nullptr);
        for (HWND h = GetWindow(top, GW_HWNDLAST); h; h = GetWindow(h, GW_HWNDPREV))
            for (uint32_t id = 1; id < 16; id++)
                if (d->windows[id] && frameOf(id) == h) ids.push_back(id);
        return ids;
    }
    void decorated(uint32_t id, int32_t x, int32_t y, int32_t w, int32_t h) {
        diXCreateWindow(d, id, x, y, w, h, 4 | 8 | 16, 0, 0, 0);
        ASSERT_NE(frameOf(id), nullptr);
    }
};

// Showing a frame: the server learns the client area (34 normal, then 35
// once the geometry settled), the view fills the client area before the
// report, and the frame takes the focus; an override window comes to the
// top without being activated, even on its first show.
TEST_F(Multi, ShowReportsTheClientAreaAndOverrideWindowsStayInactive) {
    decorated(1, 30, 40, 120, 80);
    diXCreateWindow(d, 2, 60, 70, 50, 40, 0, 0, 0, 0);
    HWND f1 = frameOf(1), f2 = frameOf(2);
    ASSERT_NE(f2, nullptr);
    take();

    diXShowWindow(d, 1, 1);
    EXPECT_TRUE(IsWindowVisible(f1));
    EXPECT_EQ(GetForegroundWindow(), f1);
    EXPECT_EQ(GetFocus(), viewOf(1));
    RECT vr;
    GetClientRect(viewOf(1), &vr);
    EXPECT_EQ(vr.right, 120);
    EXPECT_EQ(vr.bottom, 80);
    auto sent = takeAfter(35, 1);
    auto states = only(sent, 34);
    ASSERT_GE(states.size(), 1u);
    EXPECT_EQ(states[0], (std::vector<uint8_t>{1, 5, 0}));
    auto moved = only(sent, 35);
    ASSERT_EQ(moved.size(), 1u);
    RECT wr;
    GetWindowRect(f1, &wr);
    EXPECT_EQ(u16(moved[0], 9), uint16_t(wr.left));
    EXPECT_EQ(u16(moved[0], 11), uint16_t(wr.top));
    EXPECT_EQ(u16(moved[0], 13), uint16_t(wr.right - wr.left));
    EXPECT_EQ(u16(moved[0], 15), uint16_t(wr.bottom - wr.top));

    diXShowWindow(d, 2, 1);
    EXPECT_TRUE(IsWindowVisible(f2));
    EXPECT_EQ(GetForegroundWindow(), f1);
    EXPECT_EQ(order(), (std::vector<uint32_t>{1, 2}));
    // No size-move report for an override window.
    pump(150);
    EXPECT_TRUE(only(take(), 35).empty());

    // The frame's view holds the focus: this display is the focused one,
    // and while another display is, the frames do not take the focus.
    EXPECT_EQ(g_ddXFocusedDisplay, d);
    SetFocus(viewOf(2));
    ASSERT_EQ(GetFocus(), viewOf(2));
    DiXDisplay other{};
    g_ddXFocusedDisplay = &other;
    ddXSetFocus(d, d->windows[1]->frame);
    EXPECT_EQ(GetFocus(), viewOf(2));
    g_ddXFocusedDisplay = nullptr;
    ddXSetFocus(d, d->windows[1]->frame);
    EXPECT_EQ(GetFocus(), viewOf(1));

    diXShowWindow(d, 1, 0);
    EXPECT_FALSE(IsWindowVisible(f1));
}

// The server's own configure is not reported back; the user's move is,
// once the frame has been still for the size-move delay. An iconic frame
// that is configured stays iconic and comes back at the new rectangle.
TEST_F(Multi, OnlyTheUsersMovesComeBackAsConfigureNotices) {
    decorated(1, 30, 40, 120, 80);
    HWND f1 = frameOf(1);
    diXShowWindow(d, 1, 1);
    pump(300);
    take();

    RECT wr;
    GetWindowRect(f1, &wr);
    const int fw = wr.right - wr.left, fh = wr.bottom - wr.top;
    diXConfigureWindow(d, 1, 100, 90, fw, fh + 10);
    GetWindowRect(f1, &wr);
    EXPECT_EQ(wr.left, 100);
    EXPECT_EQ(wr.bottom - wr.top, fh + 10);
    pump(150);
    EXPECT_TRUE(only(take(), 35).empty());
    // The engine's window follows the client area.
    POINT origin{0, 0};
    ClientToScreen(f1, &origin);
    EXPECT_EQ(d->windows[1]->head.x, origin.x);
    EXPECT_EQ(d->windows[1]->head.y, origin.y);

    // A drag: nothing while it lasts, one notice after it.
    SendMessageW(f1, WM_ENTERSIZEMOVE, 0, 0);
    SetWindowPos(f1, nullptr, 130, 110, fw + 20, fh + 10, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(f1, nullptr, 140, 120, fw + 20, fh + 10, SWP_NOZORDER | SWP_NOACTIVATE);
    pump(150);
    EXPECT_TRUE(only(take(), 35).empty());
    ASSERT_EQ(d->windows[1]->updateTimer, nullptr);
    SendMessageW(f1, WM_EXITSIZEMOVE, 0, 0);
    // The whole display is painted again from the buffer, batched.
    EXPECT_NE(d->windows[1]->updateTimer, nullptr);
    EXPECT_GT(d->windows[1]->update.count, 0);
    auto moved = only(takeAfter(35, 1), 35);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0][0], 1);
    EXPECT_EQ(u16(moved[0], 1), 100); // where the server put it
    EXPECT_EQ(u16(moved[0], 9), 140);
    EXPECT_EQ(u16(moved[0], 11), 120);
    EXPECT_EQ(u16(moved[0], 13), fw + 20);
    RECT vr;
    GetClientRect(viewOf(1), &vr);
    RECT cr;
    GetClientRect(f1, &cr);
    EXPECT_EQ(vr.right, cr.right);
    EXPECT_EQ(vr.bottom, cr.bottom);

    ShowWindow(f1, SW_MINIMIZE);
    diXConfigureWindow(d, 1, 10, 20, 200, 150);
    EXPECT_TRUE(IsIconic(f1));
    ShowWindow(f1, SW_RESTORE);
    GetWindowRect(f1, &wr);
    EXPECT_EQ(wr.left, 10);
    EXPECT_EQ(wr.top, 20);
    EXPECT_EQ(wr.right - wr.left, 200);
}

// Minimise and restore give 34 (5, 1) and (5, 0); closing the frame asks
// the server (34 (2, 2)) and leaves the frame in place.
TEST_F(Multi, MinimiseRestoreAndCloseReachTheServer) {
    decorated(1, 30, 40, 120, 80);
    HWND f1 = frameOf(1);
    diXShowWindow(d, 1, 1);
    pump(300);
    take();
    ShowWindow(f1, SW_MINIMIZE);
    auto states = only(take(), 34);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0], (std::vector<uint8_t>{1, 5, 1}));
    ShowWindow(f1, SW_RESTORE);
    states = only(take(), 34);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0], (std::vector<uint8_t>{1, 5, 0}));
    SendMessageW(f1, WM_CLOSE, 0, 0);
    states = only(take(), 34);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0], (std::vector<uint8_t>{1, 2, 2}));
    EXPECT_TRUE(IsWindow(f1));
}

// A multi-window launch's raise brings back the minimised frames and leaves
// a frame its application never showed hidden.
TEST_F(Multi, RaiseRestoresMinimisedFramesAndKeepsUnshownOnesHidden) {
    decorated(1, 30, 40, 120, 80);
    decorated(2, 60, 70, 120, 80);
    diXShowWindow(d, 1, 1);
    pump(300);
    ShowWindow(frameOf(1), SW_MINIMIZE);
    ddXDEShowFramedWindows(ch);
    pump(50);
    EXPECT_FALSE(IsIconic(frameOf(1)));
    EXPECT_TRUE(IsWindowVisible(frameOf(1)));
    EXPECT_FALSE(IsWindowVisible(frameOf(2)));
}

// A frame brought forward by the user: the stacking check tells the server
// of every window from the first change up (36 with the window below, or
// -1 for the lowest), or with display flag 0x40 of the raised one alone.
// The engine's own restacks reach Windows as asked.
TEST_F(Multi, RestackingTellsTheServerWhatMoved) {
    for (uint32_t id = 1; id <= 3; id++) {
        decorated(id, 20 * int(id), 20 * int(id), 100, 60);
        diXShowWindow(d, id, 1);
    }
    ASSERT_EQ(order(), (std::vector<uint32_t>{1, 2, 3}));
    pump(300);
    take();

    SetWindowPos(frameOf(1), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    auto raised = only(takeAfter(36, 3), 36);
    EXPECT_EQ(raised, (std::vector<std::vector<uint8_t>>{{2, 0xFF}, {3, 2}, {1, 3}}));

    d->flags |= 0x40;
    SetWindowPos(frameOf(2), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    raised = only(takeAfter(36, 1), 36);
    EXPECT_EQ(raised, (std::vector<std::vector<uint8_t>>{{2, 0xFF}}));

    // The engine's own requests: 2 to the bottom, then 2 directly below
    // 1, then 3 to the top with the activation.
    diXRestackWindow(d, 2, 0, 0);
    EXPECT_EQ(order(), (std::vector<uint32_t>{2, 3, 1}));
    diXRestackWindow(d, 1, 1, 2);
    EXPECT_EQ(order(), (std::vector<uint32_t>{3, 2, 1}));
    diXRestackWindow(d, 3, 255, 0);
    EXPECT_EQ(order(), (std::vector<uint32_t>{2, 1, 3}));
    EXPECT_EQ(GetForegroundWindow(), frameOf(3));
    diXRestackWindow(d, 3, 7, 0); // an unknown mode does nothing
    EXPECT_EQ(order(), (std::vector<uint32_t>{2, 1, 3}));

    // A destroyed frame leaves the order last seen: the next check sees
    // no change for the windows below it.
    pump(300);
    take();
    diXDestroyWindow(d, 2);
    ddXStackCheck(d);
    EXPECT_TRUE(only(take(), 36).empty());
}

// Size hints bound what the user may size the frame to (borders added);
// a grab with flag 2 captures the pointer on the view and releases it.
TEST_F(Multi, HintsBoundTheFrameAndGrabsCaptureThePointer) {
    decorated(1, 30, 40, 120, 80);
    HWND f1 = frameOf(1);
    DiXFrame* f = d->windows[1]->frame;
    const int bx = f->borders[0] + f->borders[1], by = f->borders[2] + f->borders[3];
    diXEngineOps.setSizeHints(d, 1, 100, 60, 300, 200);
    MINMAXINFO mm{};
    mm.ptMaxTrackSize = {5000, 5000};
    SendMessageW(f1, WM_GETMINMAXINFO, 0, LPARAM(&mm));
    EXPECT_EQ(mm.ptMinTrackSize.x, 100 + bx);
    EXPECT_EQ(mm.ptMinTrackSize.y, 60 + by);
    EXPECT_EQ(mm.ptMaxTrackSize.x, 300 + bx);
    EXPECT_EQ(mm.ptMaxTrackSize.y, 200 + by);

    diXShowWindow(d, 1, 1);
    ddXGrabPointer(d, d->windows[1], 1); // without flag 2: nothing
    EXPECT_EQ(GetCapture(), nullptr);
    ddXGrabPointer(d, d->windows[1], 3);
    EXPECT_EQ(GetCapture(), viewOf(1));
    ddXGrabPointer(d, d->windows[1], 2);
    EXPECT_EQ(GetCapture(), nullptr);
}

// Owner modes disable the owner (1) or every other window (2) while their
// window shows: destroying it shown gives them back as hiding does (an X
// server unmaps what it destroys), and of two mode-1 windows on one owner,
// hiding one leaves the owner disabled. A real click into window 1 reaches
// the server only while nothing disables it.
TEST_F(Multi, OwnerModesHoldTheirWindowsOnlyWhileTheyShow) {
    decorated(1, 30, 40, 120, 80);
    diXShowWindow(d, 1, 1);
    pump(300);
    int n = 0; // clicks apart, never a double click
    auto clicked = [&] {
        POINT at{10 + 20 * (n++ % 4), 10};
        ClientToScreen(viewOf(1), &at);
        SetCursorPos(at.x, at.y);
        pump(50);
        take();
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_MOUSE;
        in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, in, sizeof(INPUT));
        pump(150);
        return !only(take(), 3).empty();
    };
    ASSERT_TRUE(clicked()) << "a click does not reach the view at all";
    for (uint32_t mode : {1u, 2u}) {
        diXCreateWindow(d, 5, 200, 150, 50, 40, 0, mode, 1, 0);
        diXShowWindow(d, 5, 1);
        EXPECT_FALSE(IsWindowEnabled(frameOf(1))) << "owner mode " << mode;
        diXDestroyWindow(d, 5);
        EXPECT_TRUE(clicked()) << "owner mode " << mode;
    }
    diXCreateWindow(d, 5, 200, 150, 50, 40, 0, 1, 1, 0);
    diXCreateWindow(d, 6, 250, 150, 50, 40, 0, 1, 1, 0);
    diXShowWindow(d, 5, 1);
    diXShowWindow(d, 6, 1);
    diXShowWindow(d, 5, 0);
    EXPECT_FALSE(clicked());
    diXShowWindow(d, 6, 0);
    EXPECT_TRUE(clicked());
}

// A frame window destroyed behind the engine's back gives back its view's
// graphics context; the engine's later destroy of the window frees the
// rest without touching what is gone. Frames destroyed by the frame layer
// (as at shutdown) do the same.
TEST_F(Multi, FramesDestroyedFromOutsideLeaveNothingBehind) {
    const int32_t before = ddGDILiveContexts();
    decorated(1, 30, 40, 120, 80);
    decorated(2, 60, 40, 120, 80);
    diXShowWindow(d, 1, 1);
    EXPECT_EQ(ddGDILiveContexts(), before + 4); // frame and view, twice
    HWND f1 = frameOf(1), v1 = viewOf(1);
    DestroyWindow(f1);
    EXPECT_FALSE(IsWindow(v1));
    EXPECT_EQ(ddGDILiveContexts(), before + 3);
    // The engine's slots on the window whose frame is gone do nothing.
    diXShowWindow(d, 1, 1);
    diXConfigureWindow(d, 1, 0, 0, 50, 50);
    diXRestackWindow(d, 1, 255, 0);
    ddXStackCheck(d);
    diXDestroyWindow(d, 1);
    EXPECT_EQ(ddGDILiveContexts(), before + 2);

    // The frame layer tears the other frame down itself.
    DiFrame* frame = reinterpret_cast<DiFrame*>(d->windows[2]->frame->frame);
    HWND f2 = frameOf(2);
    diUIDestroyFrame(frame);
    EXPECT_FALSE(IsWindow(f2));
    EXPECT_EQ(d->windows[2]->frame, nullptr);
    EXPECT_EQ(ddGDILiveContexts(), before);
    diXDestroyWindow(d, 2);
    EXPECT_EQ(ddGDILiveContexts(), before);
}

// A frame shows its part of the shared buffer: the rectangles the engine
// paints (root coordinates) land on the frame's own view, shifted by the
// window's position, and nothing is drawn on the display's own window.
TEST_F(Multi, FramesPaintTheirPartOfTheBuffer) {
    decorated(1, 30, 40, 120, 80);
    diXShowWindow(d, 1, 1);
    SetWindowPos(frameOf(1), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    pump(100);
    DiXWindow* w = d->windows[1];
    const FbBuffer& b = d->windows[0]->head.fb;
    ASSERT_NE(b.bits, nullptr);
    // Root (50, 60) in the bottom-up 24-bit buffer: pure green.
    uint8_t* p = b.bits + size_t(b.height - 60 - 1) * b.stride + 50 * 3;
    p[0] = 0, p[1] = 255, p[2] = 0;
    DiBox box{50, 60, 51, 61};
    d->dev->paint(d, w, 1, &box);
    GdiFlush();
    pump(100); // Wine hands window surfaces to the X server from its loop
    POINT at{50 - w->head.x, 60 - w->head.y};
    ASSERT_EQ(at.x, 20); // the client area starts where the server put it
    ClientToScreen(ddGDIGetWindow(w->frame->hdr.gc), &at);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, at.x, at.y), RGB(0, 255, 0));
    ReleaseDC(nullptr, screen);
    HDC own = GetDC(window);
    EXPECT_NE(GetPixel(own, 50, 60), RGB(0, 255, 0));
    ReleaseDC(window, own);
}

// The drawing-speed probe asks of each window the frame that shows it: the
// display's own window is hidden, the shown frame's view holds the test
// area, a frame never shown or minimised shows nothing.
TEST_F(Multi, ProbeAsksTheFrameThatShowsTheWindow) {
    decorated(1, 30, 40, 150, 120);
    decorated(2, 200, 40, 100, 100);
    diXShowWindow(d, 1, 1);
    auto probe = [&](uint32_t id) {
        const DiXWindow* w = d->windows[id];
        const int32_t area[4] = {w->head.x, w->head.y, 100, 100};
        return d->dev->probeTargetVisible(d, d->windows[id], area);
    };
    EXPECT_EQ(probe(1), 1);
    EXPECT_EQ(probe(2), 0);
    ShowWindow(frameOf(1), SW_MINIMIZE);
    EXPECT_EQ(probe(1), 0);
}

// An expose of a frame reaching past the X screen: the buffer's part is
// painted, the rest shows the background.
TEST_F(Multi, ExposesPastTheScreenShowTheBackground) {
    decorated(1, 250, 200, 120, 80); // 50 x 40 of it past the 320 x 240 screen
    diXShowWindow(d, 1, 1);
    DiXWindow* w = d->windows[1];
    ASSERT_EQ(w->head.x, 250);
    const FbBuffer& b = d->windows[0]->head.fb;
    uint8_t* p = b.bits + size_t(b.height - 210 - 1) * b.stride + 260 * 3;
    p[0] = 0, p[1] = 255, p[2] = 0;
    HDC dc = ddGDIGetDC(w->frame->hdr.gc);
    RECT all{250, 200, 370, 280}; // the view in root coordinates
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DiEvent ev{};
    ev.w[0] = DI_EV_EXPOSE;
    ev.w[4] = 120, ev.w[5] = 80;
    diUIDeliverEvent(&w->frame->hdr, &ev);
    GdiFlush();
    EXPECT_EQ(GetPixel(dc, 260, 210), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(dc, 330, 210), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 260, 250), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 369, 279), RGB(255, 255, 255));
}

// Many windows created, shown and destroyed give back every handle and
// context, and each destroyed frame is gone for good. (Undecorated windows:
// without a window manager Wine waits two seconds for each decorated
// window it unmaps.)
TEST_F(Multi, ThousandsOfWindowsGiveEverythingBack) {
    auto cycle = [&](int n) {
        for (int i = 0; i < n; i++) {
            uint32_t id = 1 + uint32_t(i % 200);
            diXCreateWindow(d, id, i % 200, i % 150, 80, 60, 0, 0, 0, 0);
            HWND f = frameOf(id);
            ASSERT_NE(f, nullptr);
            diXShowWindow(d, id, 1);
            ASSERT_TRUE(IsWindowVisible(f));
            diXDestroyWindow(d, id);
            ASSERT_FALSE(IsWindow(f));
            if (i % 50 == 49) {
                pump(0);
                take();
            }
        }
        pump(150);
        take();
    };
    // Warm-up: Wine's own caches settle within a few hundred windows.
    cycle(600);
    const int handles = freeGdiHandles();
    const int32_t contexts = ddGDILiveContexts();
    cycle(2000);
    EXPECT_GE(freeGdiHandles(), handles);
    EXPECT_EQ(ddGDILiveContexts(), contexts);
}

} // namespace
