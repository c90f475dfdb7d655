// Seamless windows on real Windows windows: taskbar buttons and styles as
// the engine maps, hides, restyles and destroys them; the drag outline read
// back from the screen; where a raised window lands among other windows;
// which maps may take the activation; the server's focus.
#include <gtest/gtest.h>

#include "support/peer_process.h"
#include "support/zorder.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "xde/ddxmulti.h"
#include "xde/ddxswm.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

std::vector<std::pair<uint8_t, std::vector<uint8_t>>> sentMessages(DiXDisplay* d);

namespace {

std::vector<std::pair<HWND, int>> g_taskbar;

void recordTaskbar(HWND h, int show) {
    g_taskbar.push_back({h, show});
}

// Answers the messages already queued; waits for nothing.
void drain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Answers messages until the condition holds, or a guard passes so that a
// broken build fails instead of hanging; true when it holds.
template <class F> bool waitFor(F done, DWORD guardMs = 10000) {
    DWORD start = GetTickCount();
    for (;;) {
        drain();
        if (done()) return true;
        if (GetTickCount() - start >= guardMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// The top-level windows among `of`, top first.
std::vector<HWND> zOrder(const std::vector<HWND>& of) {
    std::vector<HWND> v;
    for (HWND h : hvTopLevelOrder())
        for (HWND o : of)
            if (o == h) v.push_back(h);
    return v;
}

struct Seamless : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;

    static void SetUpTestSuite() {
        ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvSWMTest";
        RegisterClassW(&wc);
    }
    void SetUp() override {
        g_taskbar.clear();
        ddSWMSetTaskbarRecorder(recordTaskbar);
        window = CreateWindowW(L"HvSWMTest", L"session", WS_OVERLAPPEDWINDOW, 0, 0, 200, 150,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, 640, 480, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        d->sessionFlags |= DI_XSESSION_MULTI;
        d->sessionFlags2 |= DI_XSESSION2_SEAMLESS;
        d->windowLimit = DI_XWINDOWS;
        d->screenWidth = 640, d->screenHeight = 480, d->depth = 24;
        ddXSWMSessionStarted(d);
        ASSERT_EQ(d->dev, ddXSWMDeviceVector());
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
        ddSWMSetTaskbarRecorder(nullptr);
        g_ddXFocusedDisplay = nullptr;
    }
    // A decorated window (caption, sizing border, system menu, minimise and
    // maximise boxes) or, with decorations 0, an override window.
    HWND make(uint32_t id, int32_t x, int32_t y, uint32_t decorations = 4 | 8 | 16 | 32 | 64,
              uint32_t frameFlags = 0) {
        diXCreateWindow(d, id, x, y, 120, 80, decorations, 0, 0, frameFlags);
        DiXWindow* w = d->windows[id];
        if (!w || !w->frame) return nullptr;
        return GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT);
    }
    DiXFrame* frame(uint32_t id) { return d->windows[id] ? d->windows[id]->frame : nullptr; }
};

// The taskbar button follows the window: a hide or a destroy deletes it;
// a style update re-creates it only for the caption-button bits, only on a
// visible window that keeps a button; the styles read back are the wanted
// ones either way.
TEST_F(Seamless, TaskbarButtonsAndStylesFollowTheServer) {
    HWND h = make(1, 10, 10);
    ASSERT_NE(h, nullptr);
    DiXFrame* f = frame(1);
    diXShowWindow(d, 1, 1);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_TRUE(g_taskbar.empty());

    diXShowWindow(d, 1, 0);
    EXPECT_FALSE(IsWindowVisible(h));
    ASSERT_EQ(g_taskbar, (std::vector<std::pair<HWND, int>>{{h, 0}}));

    // Hidden: the style changes, the taskbar is left alone.
    g_taskbar.clear();
    f->styles[0] = DWORD(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME);
    ddSWMUpdateStyle(f);
    EXPECT_EQ(GetWindowLongW(h, GWL_STYLE) & 0x000B0000, LONG(WS_SYSMENU));
    EXPECT_TRUE(g_taskbar.empty());

    // Visible: deleted at once and added again by a timer; a stream of
    // changes meanwhile is one re-creation, and the last style stands.
    diXShowWindow(d, 1, 1);
    g_taskbar.clear();
    for (int i = 0; i < 20; i++) {
        f->styles[0] ^= WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
        ddSWMUpdateStyle(f);
    }
    f->styles[0] = DWORD(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX);
    ddSWMUpdateStyle(f);
    EXPECT_EQ(GetWindowLongW(h, GWL_STYLE) & 0x000B0000, LONG(WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(g_taskbar, (std::vector<std::pair<HWND, int>>{{h, 0}}));
    hvPumpUntil([] { return g_taskbar.size() >= 2; }, 10000);
    EXPECT_EQ(g_taskbar, (std::vector<std::pair<HWND, int>>{{h, 0}, {h, 1}}));

    // Topmost and application-window bits alone: no new button.
    g_taskbar.clear();
    f->styles[1] = WS_EX_TOPMOST | WS_EX_APPWINDOW;
    ddSWMUpdateStyle(f);
    LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    EXPECT_TRUE(ex & WS_EX_APPWINDOW);
    f->styles[1] = 0;
    ddSWMUpdateStyle(f);
    ex = GetWindowLongW(h, GWL_EXSTYLE);
    EXPECT_FALSE(ex & WS_EX_TOPMOST);
    EXPECT_FALSE(ex & WS_EX_APPWINDOW);
    EXPECT_TRUE(g_taskbar.empty());

    // A window kept off the taskbar (frame flag 2) gets no button back.
    HWND tool = make(2, 200, 10, 4 | 8 | 16 | 32 | 64, 2);
    ASSERT_NE(tool, nullptr);
    diXShowWindow(d, 2, 1);
    EXPECT_TRUE(GetWindowLongW(tool, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    g_taskbar.clear();
    frame(2)->styles[0] = DWORD(WS_CAPTION);
    ddSWMUpdateStyle(frame(2));
    EXPECT_EQ(GetWindowLongW(tool, GWL_STYLE) & 0x000B0000, 0);
    EXPECT_TRUE(g_taskbar.empty());

    diXDestroyWindow(d, 1);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(g_taskbar, (std::vector<std::pair<HWND, int>>{{h, 0}}));
}

// The screen inside `r`, as pixels.
std::vector<COLORREF> grab(const RECT& r) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    int w = r.right - r.left, h = r.bottom - r.top;
    HBITMAP bm = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bm);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::vector<COLORREF> v;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            v.push_back(GetPixel(mem, x, y));
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return v;
}

// The outline shows over the screen without hiding it: only the strips (or
// the focus rectangle) change, and drawing the same rectangle again gives
// the screen back; a frame destroyed mid-drag takes the outline and the
// capture with it.
TEST_F(Seamless, OutlineShowsOnlyItselfAndErasesWhenDrawnAgain) {
    // Something to look at beneath: a red window.
    // Topmost, so that other programs running meanwhile stay out of the way.
    HWND under =
        CreateWindowExW(WS_EX_TOPMOST, L"HvSWMTest", L"under", WS_POPUP | WS_VISIBLE, 300, 300, 200,
                        160, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(under, nullptr);
    HDC udc = GetDC(under);
    RECT all{0, 0, 200, 160};
    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    FillRect(udc, &all, red);
    DeleteObject(red);
    ReleaseDC(under, udc);
    GdiFlush();
    RECT area{300, 300, 500, 460};
    ASSERT_TRUE(waitFor([&] {
        for (COLORREF c : grab(area))
            if (c != RGB(200, 0, 0)) return false;
        return true;
    }));

    HWND h = make(1, 10, 10);
    ASSERT_NE(h, nullptr);
    DiXFrame* f = frame(1);
    f->styles[0] = DWORD(WS_CAPTION | WS_THICKFRAME);
    // The server's frame metrics: the strips are as thick as its borders.
    const char16_t info[] = u"4,5,20,18,16";
    diXDEPropertyChanged(d, 1, u"", 0, u"qvl-swm-serverinfo", 18, info, 12);
    // Only the backdrop is looked at: other programs' windows may come and
    // go elsewhere meanwhile.
    auto before = grab(area);

    ASSERT_EQ(ddSWMCreateDragWindow(), 1);
    HWND drag = ddSWMDragWindow();
    ASSERT_NE(drag, nullptr);
    wchar_t cls[64] = L"", name[64] = L"";
    GetClassNameW(drag, cls, 64);
    GetWindowTextW(drag, name, 64);
    EXPECT_STREQ(cls, L"QVLFrameSWMClass");
    EXPECT_STREQ(name, L"QVLSWMDrag");
    EXPECT_EQ(GetWindowLongW(drag, GWL_STYLE) & (WS_POPUP | WS_CLIPSIBLINGS),
              LONG(WS_POPUP | WS_CLIPSIBLINGS));
    EXPECT_EQ(GetWindowLongW(drag, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_LAYERED),
              LONG(WS_EX_TOPMOST | WS_EX_LAYERED));

    const int32_t rect[4] = {320, 320, 140, 100};
    ddSWMDrawDragOutline(f, rect);
    ASSERT_TRUE(waitFor([&] { return grab(area) != before; }));
    auto once = grab(area);
    int32_t t = 0, v = 0;
    ddXSWMBorderSize(d, &t, &v);
    ASSERT_GT(t, 0);
    ASSERT_GT(v, 0);
    auto at = [&](const std::vector<COLORREF>& px, int x, int y) {
        return px[size_t(y - area.top) * size_t(area.right - area.left) + size_t(x - area.left)];
    };
    // Inside the strips something changed; off them nothing did.
    int changedInStrip = 0, changedElsewhere = 0;
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) {
            bool inRect =
                x >= rect[0] && x < rect[0] + rect[2] && y >= rect[1] && y < rect[1] + rect[3];
            bool inner = x >= rect[0] + t && x < rect[0] + rect[2] - t && y >= rect[1] + v &&
                         y < rect[1] + rect[3] - v;
            bool differs = at(once, x, y) != at(before, x, y);
            if (inRect && !inner)
                changedInStrip += differs;
            else
                changedElsewhere += differs;
        }
    EXPECT_GT(changedInStrip, 0);
    EXPECT_EQ(changedElsewhere, 0);

    ddSWMDrawDragOutline(f, rect);
    EXPECT_TRUE(waitFor([&] { return grab(area) == before; }));

    // Without a sizing border: a focus rectangle, erased the same way.
    f->styles[0] = DWORD(WS_CAPTION);
    ddSWMDrawDragOutline(f, rect);
    ASSERT_TRUE(waitFor([&] { return grab(area) != before; }));
    auto focus = grab(area);
    EXPECT_NE(focus, before);
    EXPECT_EQ(at(focus, rect[0] + 20, rect[1] + 20), at(before, rect[0] + 20, rect[1] + 20));
    ddSWMDrawDragOutline(f, rect);
    EXPECT_TRUE(waitFor([&] { return grab(area) == before; }));

    // Mid-drag, the frame goes.
    ddSWMDrawDragOutline(f, rect);
    SetCapture(ddGDIGetWindow(f->hdr.gc));
    diXDestroyWindow(d, 1);
    EXPECT_FALSE(IsWindow(drag));
    EXPECT_EQ(ddSWMDragWindow(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(waitFor([&] { return grab(area) == before; }));
    DestroyWindow(under);
}

// A raised window of a display without the focus goes no higher than just
// above the display's highest window, so another application's window lying
// above stays there; new frames land the same way. With the focus it goes
// to the top.
TEST_F(Seamless, RaiseStopsBelowAnotherApplicationsWindow) {
    HWND a = make(1, 10, 10);
    HWND b = make(2, 60, 60);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    diXShowWindow(d, 1, 1);
    diXShowWindow(d, 2, 1);
    HWND other = CreateWindowExW(0, L"HvSWMTest", L"other", WS_POPUP | WS_VISIBLE, 30, 30, 100, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(b, HWND_BOTTOM, 0, 0, 0, 0, still);
    SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, still);
    SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, still);
    ASSERT_EQ(zOrder({a, b, other}), (std::vector<HWND>{other, a, b}));

    g_ddXFocusedDisplay = nullptr;
    diXRestackWindow(d, 2, 255, 0);
    EXPECT_EQ(zOrder({a, b, other}), (std::vector<HWND>{other, b, a}));

    // Raising the display's highest window again changes nothing, nor does
    // a hidden window of the display lying above everything.
    HWND hidden = make(4, 20, 20);
    ASSERT_NE(hidden, nullptr);
    SetWindowPos(hidden, HWND_TOP, 0, 0, 0, 0, still);
    diXRestackWindow(d, 2, 255, 0);
    EXPECT_EQ(zOrder({a, b, other}), (std::vector<HWND>{other, b, a}));
    diXDestroyWindow(d, 4);

    // A new frame goes where a raise would put it.
    HWND c = make(3, 90, 90);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(zOrder({a, b, c, other}), (std::vector<HWND>{other, c, b, a}));

    // Mode 0 to the bottom, mode 1 puts the sibling right below.
    diXRestackWindow(d, 1, 0, 0);
    EXPECT_EQ(zOrder({a, b, other}).back(), a);
    diXRestackWindow(d, 2, 1, 1);
    EXPECT_EQ(zOrder({a, b}), (std::vector<HWND>{b, a}));

    // The display holding the focus raises to the very top.
    g_ddXFocusedDisplay = d;
    diXRestackWindow(d, 1, 255, 0);
    EXPECT_EQ(zOrder({a, b, c, other}).front(), a);
    DestroyWindow(other);
}

// An override window is never activated, not even on its first map; nor is
// a window mapped while another display holds the focus, also when it comes
// back from the taskbar. The windows still come up.
TEST_F(Seamless, MapsLeaveTheActivationWhereItIs) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    waitFor([&] { return GetForegroundWindow() == window; });

    HWND menu = make(1, 10, 10, 0);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(frame(1)->styleFlags & 0x80);
    diXShowWindow(d, 1, 1);
    drain();
    EXPECT_TRUE(IsWindowVisible(menu));
    EXPECT_NE(GetForegroundWindow(), menu);

    DiChannel* other = ddXDECreate(nullptr, 100, 100, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    g_ddXFocusedDisplay = reinterpret_cast<DiXDisplay*>(other);
    HWND app = make(2, 60, 60);
    ASSERT_NE(app, nullptr);
    diXShowWindow(d, 2, 1);
    drain();
    EXPECT_TRUE(IsWindowVisible(app));
    EXPECT_NE(GetForegroundWindow(), app);
    // Mapped again from the taskbar it comes back, still without the
    // activation; once no other display holds the focus the map takes it.
    for (bool otherHasFocus : {true, false}) {
        g_ddXFocusedDisplay = otherHasFocus ? reinterpret_cast<DiXDisplay*>(other) : nullptr;
        diXShowWindow(d, 2, 2);
        drain();
        ASSERT_TRUE(IsIconic(app));
        SetActiveWindow(window);
        diXShowWindow(d, 2, 1);
        drain();
        EXPECT_FALSE(IsIconic(app));
        EXPECT_EQ(GetActiveWindow() == app, !otherHasFocus);
    }
    ddXDEDestroy(other);
}

// The server's focus: the window is brought to the foreground unless
// another display holds the focus, in which case the frame is told it lost
// it (the server hears a focus-out) and does not take the foreground.
// (Other programs may take the foreground meanwhile: only this display's
// windows are checked.)
TEST_F(Seamless, ServerFocusRespectsAnotherDisplaysFocus) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    HWND h = make(1, 10, 10);
    ASSERT_NE(h, nullptr);
    diXShowWindow(d, 1, 1);
    drain();
    ASSERT_NE(d->dev->swmFocus, nullptr);

    DiChannel* other = ddXDECreate(nullptr, 100, 100, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    g_ddXFocusedDisplay = reinterpret_cast<DiXDisplay*>(other);
    SetForegroundWindow(window);
    waitFor([&] { return GetForegroundWindow() == window; });
    d->ch.out.used = d->ch.out.consumed = 0;
    d->dev->swmFocus(d, d->windows[1]);
    auto focusOut = [&] {
        for (auto& m : sentMessages(d))
            if (m.first == 28) return true;
        return false;
    };
    EXPECT_TRUE(waitFor(focusOut));
    EXPECT_NE(GetForegroundWindow(), h);

    // Without another display holding it the window takes the foreground,
    // unless another program has just taken it (tests run side by side).
    g_ddXFocusedDisplay = nullptr;
    SetForegroundWindow(window);
    waitFor([&] { return GetForegroundWindow() == window; });
    DWORD owner = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &owner);
    d->dev->swmFocus(d, d->windows[1]);
    if (owner == GetCurrentProcessId()) {
        EXPECT_TRUE(waitFor([&] { return GetForegroundWindow() == h; }));
    }
    ddXDEDestroy(other);

    // A focus change under the engine's own call is one it expects; the
    // user's is not.
    DiXFrame* f = frame(1);
    auto focusEvent = [&](uint32_t type, bool own) {
        d->expectGain = d->expectLoss = nullptr;
        DiEvent ev{};
        ev.w[0] = type;
        std::optional<DdXOwnChange> change;
        if (own) change.emplace(d);
        f->hdr.handler(&f->hdr, &ev);
    };
    focusEvent(12, false);
    EXPECT_EQ(d->expectGain, nullptr);
    focusEvent(12, true);
    EXPECT_EQ(d->expectGain, f);
    focusEvent(13, false);
    EXPECT_EQ(d->expectLoss, nullptr);
    focusEvent(13, true);
    EXPECT_EQ(d->expectLoss, f);
}

// Another program's foreground window keeps the foreground and the keyboard
// against the server's focus requests, seamless and multi-window alike.
TEST_F(Seamless, ServerFocusNeverTakesAnotherProgramsForeground) {
    HWND h = make(1, 10, 10);
    ASSERT_NE(h, nullptr);
    diXShowWindow(d, 1, 1);
    waitFor([&] { return IsWindowVisible(h) != FALSE; });
    ASSERT_TRUE(IsWindowVisible(h));
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"swm_observer.exe";
    std::wstring cmd = L"\"" + path + L"\" top intruder 20000 active";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    auto otherHasIt = [] {
        DWORD pid = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &pid);
        return pid && pid != GetCurrentProcessId();
    };
    hvPumpUntil(otherHasIt, 20000);
    ASSERT_TRUE(otherHasIt());
    // Read at once: the frame's own activation handling moves on later.
    d->dev->swmFocus(d, d->windows[1]);
    EXPECT_NE(GetForegroundWindow(), h);
    ddXSetFocus(d, frame(1));
    EXPECT_NE(GetForegroundWindow(), h);
    EXPECT_TRUE(otherHasIt());
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

// A configured iconic window stays iconic and comes back at the new place;
// a shown one moves at once.
TEST_F(Seamless, ConfigureKeepsAnIconicWindowIconic) {
    HWND h = make(1, 10, 10);
    ASSERT_NE(h, nullptr);
    diXShowWindow(d, 1, 1);
    d->dev->configureWindow(d, d->windows[1], 40, 50, 200, 150);
    RECT r{};
    GetWindowRect(h, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(r.bottom - r.top, 150);

    diXShowWindow(d, 1, 2);
    ASSERT_TRUE(IsIconic(h));
    d->dev->configureWindow(d, d->windows[1], 70, 80, 220, 160);
    EXPECT_TRUE(IsIconic(h));
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    ASSERT_TRUE(GetWindowPlacement(h, &wp));
    EXPECT_EQ(wp.rcNormalPosition.left, 70);
    EXPECT_EQ(wp.rcNormalPosition.top, 80);
    EXPECT_EQ(wp.rcNormalPosition.right, 290);
    EXPECT_EQ(wp.rcNormalPosition.bottom, 240);
}

// Under display flag 0x40 a window the user brings to the top alone gives
// the server one restack notice, for that window; a check with nothing
// changed since gives none.
TEST_F(Seamless, ATopOnlyChangeGivesOneRestackNotice) {
    HWND frames[3];
    for (uint32_t id = 1; id <= 3; id++) {
        frames[id - 1] = make(id, 30 * int(id), 30 * int(id));
        ASSERT_NE(frames[id - 1], nullptr);
        diXShowWindow(d, id, 1);
    }
    drain();
    ddXStackCheck(d);
    auto restacks = [&] {
        std::vector<std::vector<uint8_t>> v;
        for (auto& m : sentMessages(d))
            if (m.first == 36) v.push_back(m.second);
        return v;
    };
    size_t before = restacks().size();
    d->flags |= 0x40;
    HWND bottom = zOrder({frames[0], frames[1], frames[2]}).back();
    uint32_t raisedId = 0;
    for (uint32_t id = 1; id <= 3; id++)
        if (frames[id - 1] == bottom) raisedId = id;
    SetWindowPos(bottom, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    waitFor([&] { return zOrder({frames[0], frames[1], frames[2]}).front() == bottom; });
    ddXStackCheck(d);
    ddXStackCheck(d);
    auto after = restacks();
    ASSERT_EQ(after.size(), before + 1);
    ASSERT_FALSE(after.back().empty());
    EXPECT_EQ(after.back()[0], raisedId);
}

} // namespace

// The client messages buffered on a display without a socket.
std::vector<std::pair<uint8_t, std::vector<uint8_t>>> sentMessages(DiXDisplay* d) {
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> v;
    const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
    const uint8_t* end = d->ch.out.data + d->ch.out.used;
    while (end - p >= 3) {
        uint32_t n = p[1] | uint32_t(p[2]) << 8;
        if (uint32_t(end - p - 3) < n) break;
        v.push_back({p[0], std::vector<uint8_t>(p + 3, p + 3 + n)});
        p += 3 + n;
    }
    return v;
}
