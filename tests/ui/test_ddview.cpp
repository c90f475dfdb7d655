// View windows: keys (AltGr, both Shift keys, dead keys, lock keys), the
// Ctrl+Space hook, pointer, wheel and focus sequences, exposes under a
// scroll origin, the rubber-band selection and a screenshot of the screen.
#include "frame_fixture.h"
#include "support/winshot.h"

#include <algorithm>
#include <stdio.h>
#include <string>

namespace {

TEST_F(View, KeyPressCarriesItsCharacterAndTheMask) {
    post(WM_KEYDOWN, 'A', keyLParam(0x1E, false));
    post(WM_CHAR, 'a', keyLParam(0x1E, false));
    post(WM_KEYUP, 'A', keyLParam(0x1E, true));
    pumpMessages();
    auto ev = eventsOf(f.engine, {P, R});
    ASSERT_EQ(2u, ev.size());
    EXPECT_EQ(uint32_t('A'), ev[0].w[1]);
    EXPECT_EQ(uint32_t('a'), ev[0].w[2]);
    EXPECT_EQ(0u, ev[0].w[4]);
    EXPECT_EQ(uint32_t('a'), ev[1].w[2]) << "the release carries the look-ahead character";
}

TEST_F(View, AltGrIsOneRightAltPressAndOneRelease) {
    post(WM_KEYDOWN, VK_CONTROL, keyLParam(0x1D, false));
    post(WM_KEYDOWN, VK_MENU, keyLParam(0x38, false, true));
    pumpMessages();
    EXPECT_EQ((Keys{{P, 165}}), keys());
    EXPECT_EQ(uint32_t(DD_MASK_RALT), g_ddUIModMask & (DD_MASK_RALT | DD_MASK_CTRL));
    f.engine.events.clear();
    post(WM_KEYUP, VK_CONTROL, keyLParam(0x1D, true));
    post(WM_SYSKEYUP, VK_MENU, keyLParam(0x38, true, true));
    pumpMessages();
    EXPECT_EQ((Keys{{R, 165}}), keys());
    EXPECT_EQ(0u, g_ddUIModMask & (DD_MASK_RALT | DD_MASK_CTRL));
}

TEST_F(View, PlainCtrlAndRightCtrlAreTheirOwnKeys) {
    post(WM_KEYDOWN, VK_CONTROL, keyLParam(0x1D, false));
    post(WM_KEYUP, VK_CONTROL, keyLParam(0x1D, true));
    post(WM_KEYDOWN, VK_CONTROL, keyLParam(0x1D, false, true));
    post(WM_KEYUP, VK_CONTROL, keyLParam(0x1D, true, true));
    post(WM_KEYDOWN, VK_RETURN, keyLParam(0x1C, false, true));
    pumpMessages();
    EXPECT_EQ((Keys{{P, 17}, {R, 17}, {P, 163}, {R, 163}, {P, 176}}), keys());
}

TEST_F(View, ReleasingOneShiftWhileBothAreHeldReleasesTheOtherFirst) {
    UINT rightScan = MapVirtualKeyW(VK_RSHIFT, 0);
    post(WM_KEYDOWN, VK_SHIFT, keyLParam(0x2A, false));
    post(WM_KEYDOWN, VK_SHIFT, keyLParam(rightScan, false));
    post(WM_KEYUP, VK_SHIFT, keyLParam(0x2A, true));
    pumpMessages();
    EXPECT_EQ((Keys{{P, 16}, {P, 161}, {R, 161}, {R, 16}}), keys());
    EXPECT_EQ(0u, g_ddUIModMask & (DD_MASK_SHIFT | DD_MASK_RSHIFT));
}

TEST_F(View, DeadKeyPressDeliversNothingAndLockKeysOnlyPress) {
    post(WM_KEYDOWN, VK_OEM_7, keyLParam(0x28, false));
    post(WM_DEADCHAR, 0xB4, keyLParam(0x28, false));
    post(WM_KEYDOWN, VK_CAPITAL, keyLParam(0x3A, false));
    post(WM_KEYUP, VK_CAPITAL, keyLParam(0x3A, true));
    post(WM_KEYDOWN, VK_NUMLOCK, keyLParam(0x45, false, true));
    post(WM_KEYUP, VK_NUMLOCK, keyLParam(0x45, true, true));
    pumpMessages();
    EXPECT_EQ((Keys{{P, VK_CAPITAL}, {P, VK_NUMLOCK}}), keys());
}

TEST_F(View, SystemKeysTakeTheirCharacterFromSysChar) {
    post(WM_SYSKEYDOWN, 'F', keyLParam(0x21, false) | (LPARAM(1) << 29));
    post(WM_SYSCHAR, 'f', keyLParam(0x21, false) | (LPARAM(1) << 29));
    post(WM_SYSKEYUP, 'F', keyLParam(0x21, true) | (LPARAM(1) << 29));
    pumpMessages();
    auto ev = eventsOf(f.engine, {P, R});
    ASSERT_EQ(2u, ev.size());
    EXPECT_EQ(uint32_t('f'), ev[0].w[2]);
    EXPECT_EQ(uint32_t('f'), ev[1].w[2]);
}

TEST(ViewHook, WantedForConfigurationTwoOrChineseUnlessOne) {
    const struct {
        int32_t config;
        const DiChar* language;
        int want;
    } cases[] = {
        {2, u"en", 1}, {1, u"zh", 0}, {0, u"zh_CN", 1}, {12, u"zh", 1},
        {0, u"ZH", 0}, {0, u"z", 0},  {0, nullptr, 0},
    };
    for (auto c : cases)
        EXPECT_EQ(c.want, ddUIHookWanted(c.config, c.language));
}

TEST_F(View, PointerWheelAndCaptureSequence) {
    f.engine.hdr.scrollX = 10;
    f.engine.hdr.scrollY = 20;
    post(WM_MOUSEMOVE, 0, MAKELPARAM(5, 6));
    post(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 8));
    pumpMessages();
    EXPECT_EQ(f.engineView(), GetCapture());
    post(WM_RBUTTONUP, 0, MAKELPARAM(9, 10));
    post(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(1, 2));
    post(WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON2), MAKELPARAM(3, 4));
    post(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-240)), MAKELPARAM(300, 400));
    post(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-100)), MAKELPARAM(300, 400));
    pumpMessages();
    auto ev = eventsOf(f.engine, {5, 6, 7, 16, 19});
    // Taking the capture makes the window system send a motion of the real
    // pointer of its own, earlier or later on a busy machine: only the
    // posted motion is the sequence's.
    auto systemMotion = [](const RecordedEvent& e) { return e.w[0] == 5 && e.w[3] != 15; };
    ev.erase(std::remove_if(ev.begin(), ev.end(), systemMotion), ev.end());
    ASSERT_EQ(7u, ev.size());
    struct {
        uint32_t type, button, x, y;
    } want[] = {{5, 0, 15, 26}, {6, 2, 17, 28}, {7, 2, 19, 30}, {16, 0, 11, 22}, {6, 4, 13, 24}};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(want[i].type, ev[i].w[0]) << i;
        EXPECT_EQ(want[i].button, ev[i].w[2]) << i;
        EXPECT_EQ(want[i].x, ev[i].w[3]) << i;
        EXPECT_EQ(want[i].y, ev[i].w[4]) << i;
    }
    EXPECT_EQ(uint32_t(DD_MASK_RBUTTON), ev[1].w[7] & DD_MASK_RBUTTON);
    EXPECT_EQ(0u, ev[2].w[7] & DD_MASK_RBUTTON);
    // The wheel keeps its screen position, unshifted by the scroll offset.
    EXPECT_EQ(300u, ev[5].w[3]);
    EXPECT_EQ(400u, ev[5].w[4]);
    EXPECT_EQ(-240, int32_t(ev[5].w[5]));
    EXPECT_EQ(-2, int32_t(ev[5].w[6]));
    EXPECT_EQ(-100, int32_t(ev[6].w[5]));
    EXPECT_EQ(0, int32_t(ev[6].w[6]));
    ddUIEndCapture(0, 0);
    post(WM_LBUTTONUP, 0, 0);
    post(WM_XBUTTONUP, MAKEWPARAM(0, XBUTTON2), 0);
    pumpMessages();
    EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(View, FocusInCarriesTheMaskAndFocusOutFollows) {
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, f.window(),
                                 nullptr, nullptr, nullptr);
    // Only the focus moves made here count: activation by the desktop may
    // add its own pair before them.
    pumpMessages();
    f.engine.events.clear();
    SetFocus(other);
    SetFocus(f.engineView());
    pumpMessages();
    // The display may move the activation on its own afterwards (a window
    // of an earlier case going away): look for the pair these two calls
    // make rather than for the last two events.
    auto ev = eventsOf(f.engine, {DI_EV_FOCUS_IN, DI_EV_FOCUS_OUT});
    size_t pair = ev.size();
    for (size_t i = 0; i + 1 < ev.size(); i++)
        if (ev[i].w[0] == DI_EV_FOCUS_OUT && ev[i + 1].w[0] == DI_EV_FOCUS_IN) pair = i;
    ASSERT_LT(pair, ev.size()) << "no focus out followed by focus in";
    EXPECT_EQ(g_ddUIModMask, ev[pair + 1].w[1]);
    DestroyWindow(other);
}

TEST_F(View, ExposeUnderAScrollOriginIsInVirtualCoordinates) {
    f.engine.hdr.vwidth = 2000;
    f.engine.hdr.vheight = 2000;
    ddUILayoutFrame(f.frame);
    diUISetScrollPos(&f.engine.hdr, 40, 30);
    pumpMessages();
    f.engine.events.clear();
    RedrawWindow(f.engineView(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    auto ev = eventsOf(f.engine, {DI_EV_EXPOSE});
    ASSERT_EQ(2u, ev.size());
    RECT vc;
    GetClientRect(f.engineView(), &vc);
    // The erase: client rectangle plus the offset.
    EXPECT_EQ(1u, ev[0].w[1]);
    EXPECT_EQ(40u, ev[0].w[2]);
    EXPECT_EQ(30u, ev[0].w[3]);
    EXPECT_EQ(uint32_t(vc.right), ev[0].w[4]);
    // The paint: the owned context's rectangle is already logical.
    EXPECT_EQ(0u, ev[1].w[1]);
    EXPECT_EQ(40u, ev[1].w[2]);
    EXPECT_EQ(30u, ev[1].w[3]);
}

TEST_F(View, GeometryAndDestroyEvents) {
    SetWindowPos(f.engineView(), nullptr, 0, 0, 123, 45, SWP_NOZORDER | SWP_NOMOVE);
    auto ev = eventsOf(f.engine, {DI_EV_GEOMETRY});
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(1u, ev.back().w[1]);
    EXPECT_EQ(123u, ev.back().w[4]);
    EXPECT_EQ(45u, ev.back().w[5]);
}

// ---- Rubber band ----

LRESULT CALLBACK thiefProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_USER) {
        SetCapture(hwnd);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(View, RubberBandSelectsCancelsAndEndsWhenCaptureIsLost) {
    f.engine.hdr.scrollX = 100;
    post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 45));
    post(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, 20));
    post(WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    int32_t r[4] = {};
    EXPECT_EQ(0, ddUIRubberBandSelect(&f.engine.hdr, r));
    EXPECT_EQ(110, r[0]);
    EXPECT_EQ(10, r[1]);
    EXPECT_EQ(50, r[2]);
    EXPECT_EQ(35, r[3]);
    EXPECT_EQ(nullptr, GetCapture());

    post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    post(WM_KEYUP, VK_ESCAPE, keyLParam(1, true));
    EXPECT_EQ(-1, ddUIRubberBandSelect(&f.engine.hdr, r));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = thiefProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CaptureThief";
    RegisterClassW(&wc);
    HWND thief = CreateWindowExW(0, L"CaptureThief", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(thief, WM_USER, 0, 0);
    EXPECT_EQ(-1, ddUIRubberBandSelect(&f.engine.hdr, r));
    ReleaseCapture();
    DestroyWindow(thief);
}

// ---- Screenshot ----

// The frames as the client shows them, kept as a screenshot of the whole
// screen next to the test program.
TEST(Screenshot, FramesAsTheClientShowsThem) {
    // The test display has no window manager, and Wine leaves title bars and
    // borders to one. A copy of this program, which Wine is told to decorate
    // itself (a setting per program name, so no other test run sees it),
    // takes the picture.
    // Runs at several screen depths go on at once: each copy has its own name.
    static const wchar_t kShot[] = L"hv_frames_shot_";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self);
    std::wstring dir = exe.substr(0, exe.find_last_of(L"\\/") + 1);
    if (exe.compare(dir.size(), wcslen(kShot), kShot) != 0) {
        std::wstring name = kShot + std::to_wstring(GetCurrentProcessId()) + L".exe";
        std::wstring copy = dir + name;
        ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
        std::wstring app = L"Software\\Wine\\AppDefaults\\" + name;
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (app + L"\\X11 Driver").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"),
                       2 * sizeof(wchar_t));
        RegCloseKey(key);
        std::wstring cmd = L"\"" + copy + L"\" --gtest_filter=Screenshot.FramesAsTheClientShowsThem";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &si, &pi));
        DWORD code = 99;
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        EXPECT_EQ(code, 0u);
        DeleteFileW(copy.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, (app + L"\\X11 Driver").c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, app.c_str());
        return;
    }
    TestFrame main, owned;
    main.create(1, DI_OBJ_TDE, 500, 350);
    owned.create(3, DI_OBJ_XDE, 300, 200);
    SetWindowTextW(main.window(), L"Halvanet");
    main.show();
    owned.show();
    ddUIFitFrameToContent(main.frame);
    ddUIFitFrameToContent(owned.frame);
    ddUILayoutFrame(main.frame);
    ddUILayoutFrame(owned.frame);
    SetWindowPos(owned.window(), nullptr, 600, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    pumpMessages();
    // The colours below are those of a true-colour screen; the runs on 8-
    // and 16-bit screens (at the same time) only keep their own picture.
    HDC display = GetDC(nullptr);
    int depth = GetDeviceCaps(display, BITSPIXEL) * GetDeviceCaps(display, PLANES);
    ReleaseDC(nullptr, display);
    std::vector<uint32_t> screen;
    std::wstring file = depth < 24 ? L"frames_screenshot_" + std::to_wstring(depth) + L".bmp"
                                   : std::wstring(L"frames_screenshot.bmp");
    ASSERT_TRUE(writeScreenshot(dir + file, &screen));
    if (depth < 24) GTEST_SKIP() << "colours of a " << depth << "-bit screen";
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    auto at = [&](POINT p) -> uint32_t {
        if (p.x < 0 || p.y < 0 || p.x >= sw || p.y >= sh) return 0x1000000; // off screen
        return screen[size_t(sh - 1 - p.y) * size_t(sw) + size_t(p.x)];
    };
    for (HWND frame : {main.window(), owned.window()}) {
        RECT window, client;
        GetWindowRect(frame, &window);
        GetClientRect(frame, &client);
        POINT inside = {client.right / 2, client.bottom / 2};
        ClientToScreen(frame, &inside);
        POINT origin = {0, 0};
        ClientToScreen(frame, &origin);
        // The client area shows the white view; the band above it, between
        // the frame's border and its client, is the title bar in the
        // caption colour of an active or inactive frame.
        EXPECT_EQ(at(inside), 0xFFFFFFu) << "client of frame " << (frame == owned.window());
        // Just below the caption's top edge, half way across (above the
        // title text, between the icon and the buttons); a caption may run
        // as a gradient from its colour to its gradient colour.
        POINT caption = {(window.left + window.right) / 2,
                         window.top + GetSystemMetrics(SM_CYFRAME) + 1};
        uint32_t title = at(caption);
        auto between = [title](int from, int to) {
            COLORREF a = GetSysColor(from), b = GetSysColor(to);
            const int got[3] = {int(title >> 16 & 0xFF), int(title >> 8 & 0xFF), int(title & 0xFF)};
            const int lo[3] = {GetRValue(a), GetGValue(a), GetBValue(a)};
            const int hi[3] = {GetRValue(b), GetGValue(b), GetBValue(b)};
            for (int i = 0; i < 3; i++)
                if (got[i] < std::min(lo[i], hi[i]) || got[i] > std::max(lo[i], hi[i])) return false;
            return true;
        };
        EXPECT_TRUE(between(COLOR_ACTIVECAPTION, COLOR_GRADIENTACTIVECAPTION) ||
                    between(COLOR_INACTIVECAPTION, COLOR_GRADIENTINACTIVECAPTION))
            << std::hex << title << " in the title bar of frame " << (frame == owned.window());
    }
}

} // namespace

namespace {

// A scaler between the engine (source) and its window (target), as the
// scaler module reports it through the hooks.
struct ScalerFake {
    int mode = 0, previous = 0;
    int32_t srcW = 400, srcH = 300, dstW = 800, dstH = 600;
    int resizes = 0, forcedResizes = 0;
};
ScalerFake g_scaler;

void installScaler() {
    g_scaler = ScalerFake();
    g_ddXHooks = DdXHooks();
    g_ddXHooks.scaleActive = [](DiObject*) { return g_scaler.mode != 0 ? 1 : 0; };
    g_ddXHooks.scaleSizes = [](DiObject*, int32_t* sw, int32_t* sh, int32_t* dw, int32_t* dh) {
        *sw = g_scaler.srcW;
        *sh = g_scaler.srcH;
        *dw = g_scaler.dstW;
        *dh = g_scaler.dstH;
    };
    g_ddXHooks.scaleRect = [](DiObject*, int32_t r[4]) {
        for (int i = 0; i < 4; i++)
            r[i] /= 2;
    };
    g_ddXHooks.scaleResize = [](DiObject*, int force) {
        g_scaler.resizes++;
        g_scaler.forcedResizes += force;
    };
    g_ddXHooks.scaleSetMode = [](DiObject*, int mode) {
        g_scaler.previous = g_scaler.mode;
        g_scaler.mode = mode;
    };
    g_ddXHooks.scaleRestoreMode = [](DiObject*) {
        std::swap(g_scaler.mode, g_scaler.previous);
        return g_scaler.mode;
    };
}

class ScaledView : public View {
  protected:
    void SetUp() override {
        View::SetUp();
        installScaler();
        f.engine.hdr.scalingAllowed = 1;
    }
    void TearDown() override { g_ddXHooks = DdXHooks(); }
    UINT checkedItem() {
        HMENU sys = GetSystemMenu(f.window(), FALSE);
        for (UINT id = 1; id <= 3; id++)
            if (GetMenuState(sys, id, MF_BYCOMMAND) & MF_CHECKED) return id;
        return 0;
    }
};

TEST_F(ScaledView, ScrollLockTogglesBetweenTheCurrentAndThePreviousMode) {
    ddUIAddScalingMenu(f.frame, 0);
    EXPECT_EQ(1u, checkedItem());
    SendMessageW(f.window(), WM_SYSCOMMAND, 3, 0); // smooth scaling
    EXPECT_EQ(2, g_scaler.mode);
    EXPECT_EQ(3u, checkedItem());
    EXPECT_EQ(1, g_scaler.forcedResizes);
    // Scaling fills the area and shows no scroll bars.
    RECT mv, ev;
    GetClientRect(f.managerView(), &mv);
    ev = childRect(f.engineView());
    EXPECT_EQ(mv.right, ev.right - ev.left);
    EXPECT_EQ(0, GetWindowLongW(f.engineView(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL));
    post(WM_KEYDOWN, VK_SCROLL, keyLParam(0x46, false));
    pumpMessages();
    EXPECT_EQ(0, g_scaler.mode);
    EXPECT_EQ(1u, checkedItem());
    post(WM_KEYDOWN, VK_SCROLL, keyLParam(0x46, false));
    pumpMessages();
    EXPECT_EQ(2, g_scaler.mode);
    EXPECT_EQ(3u, checkedItem());
}

TEST_F(ScaledView, PointerGoesToSourceCoordinatesAndExposesAreWidened) {
    g_scaler.mode = 1;
    post(WM_MOUSEMOVE, 0, MAKELPARAM(101, 51));
    post(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(300, 200));
    pumpMessages();
    auto ev = eventsOf(f.engine, {DI_EV_MOTION, DI_EV_WHEEL});
    ASSERT_EQ(2u, ev.size());
    EXPECT_EQ(50u, ev[0].w[3]);
    EXPECT_EQ(25u, ev[0].w[4]);
    EXPECT_EQ(150u, ev[1].w[3]);
    EXPECT_EQ(100u, ev[1].w[4]);
    f.engine.events.clear();
    RECT r = {20, 40, 60, 100};
    InvalidateRect(f.engineView(), &r, FALSE);
    UpdateWindow(f.engineView());
    auto ex = eventsOf(f.engine, {DI_EV_EXPOSE});
    ASSERT_EQ(1u, ex.size());
    // Halved to source coordinates, then grown by the ratio 2 on each side.
    EXPECT_EQ(8u, ex[0].w[2]);
    EXPECT_EQ(18u, ex[0].w[3]);
    EXPECT_EQ(24u, ex[0].w[4]);
    EXPECT_EQ(34u, ex[0].w[5]);
}

TEST_F(View, DestroyingTheViewSendsCloseAndFreesTheContext) {
    HWND view = f.engineView();
    f.engine.hdr.handler = testEngineHandler;
    DestroyWindow(view);
    auto ev = eventsOf(f.engine, {DI_EV_COMMAND});
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(uint32_t(SC_CLOSE), ev[0].w[1]);
    EXPECT_EQ(nullptr, f.engine.hdr.gc);
}

TEST_F(View, MinimisingTheFrameDeactivatesTheEngine) {
    f.engine.ch.open = 1;
    f.engine.ch.active = 1;
    ShowWindow(f.window(), SW_MINIMIZE);
    ShowWindow(f.window(), SW_RESTORE);
    auto ev = eventsOf(f.engine, {DI_EV_ACTIVATE, DI_EV_DEACTIVATE});
    ASSERT_GE(ev.size(), 2u);
    EXPECT_EQ(uint32_t(DI_EV_DEACTIVATE), ev[ev.size() - 2].w[0]);
    EXPECT_EQ(uint32_t(DI_EV_ACTIVATE), ev.back().w[0]);
}

TEST_F(View, FrameLimitedToItsEngineCannotGrowPastIt) {
    g_ddXHooks = DdXHooks();
    g_ddXHooks.engineFlags = [](DiObject*) { return uint32_t(DD_XF_LIMIT_SIZE); };
    MINMAXINFO mm = {};
    mm.ptMaxSize = {5000, 5000};
    mm.ptMaxTrackSize = {5000, 5000};
    SendMessageW(f.window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mm));
    RECT wr, cr;
    GetWindowRect(f.window(), &wr);
    GetClientRect(f.window(), &cr);
    EXPECT_EQ(400 + (wr.right - wr.left - cr.right), mm.ptMaxTrackSize.x);
    EXPECT_EQ(300 + (wr.bottom - wr.top - cr.bottom), mm.ptMaxTrackSize.y);
    EXPECT_EQ(mm.ptMaxTrackSize.x, mm.ptMaxSize.x);
    g_ddXHooks = DdXHooks();
}

} // namespace

namespace {

TEST_F(View, CaptureIsSharedBetweenTheViewAndPointerGrabs) {
    HWND v = f.engineView();
    ddUIBeginCapture(v, 0); // a button went down in the view
    EXPECT_EQ(v, GetCapture());
    ddUIBeginCapture(v, 1); // the X engine grabs the pointer too
    ddUIEndCapture(0, MK_RBUTTON);
    EXPECT_EQ(v, GetCapture()) << "a button is still down";
    ddUIEndCapture(0, 0);
    EXPECT_EQ(v, GetCapture()) << "the grab still holds it";
    ddUIEndCapture(1, 0);
    EXPECT_EQ(nullptr, GetCapture());
    // Capture lost behind the layer's back: the next holder starts afresh.
    ddUIBeginCapture(v, 1);
    ReleaseCapture();
    ddUIBeginCapture(v, 0);
    EXPECT_EQ(v, GetCapture());
    ddUIEndCapture(0, 0);
    EXPECT_EQ(nullptr, GetCapture());
}

int g_layoutChanges;

TEST_F(View, KeyboardLayoutChangeIsToldAndForgetsTheLookAhead) {
    g_ddXHooks = DdXHooks();
    g_layoutChanges = 0;
    g_ddXHooks.notifyDisplayChange = [](DiObject*) { g_layoutChanges++; };
    post(WM_KEYDOWN, 'Q', keyLParam(0x10, false));
    post(WM_CHAR, 'q', keyLParam(0x10, false));
    pumpMessages();
    EXPECT_EQ(1, SendMessageW(f.engineView(), WM_INPUTLANGCHANGE, 0, 0));
    EXPECT_EQ(1, g_layoutChanges);
    f.engine.events.clear();
    post(WM_KEYUP, 'Q', keyLParam(0x10, true));
    pumpMessages();
    auto ev = eventsOf(f.engine, {DI_EV_KEY_RELEASE});
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(0u, ev[0].w[2]);
    g_ddXHooks = DdXHooks();
}

} // namespace
