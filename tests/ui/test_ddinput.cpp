// Real input through the system's input queue: both Shift keys, Caps Lock,
// the Ctrl+Space hook, and pointer, buttons and wheel. These run alone (the
// input goes to whichever window has the focus on the shared display).
#include "frame_fixture.h"

namespace {

// Real keyboard input through the system's input queue.
void sendKey(WORD vk, WORD scan, bool up, bool extended = false) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    SendInput(1, &in, sizeof in);
}

void settle() {
    for (int i = 0; i < 5; i++) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        pumpMessages(true);
    }
}

TEST_F(View, RealShiftKeysAndCapsLock) {
    if (GetFocus() != f.engineView()) GTEST_SKIP() << "the view could not take the focus";
    sendKey(VK_LSHIFT, 0x2A, false);
    sendKey(VK_RSHIFT, 0x36, false);
    sendKey(VK_LSHIFT, 0x2A, true);
    sendKey(VK_CAPITAL, 0x3A, false);
    sendKey(VK_CAPITAL, 0x3A, true);
    sendKey(VK_CAPITAL, 0x3A, false); // back to the first state
    sendKey(VK_CAPITAL, 0x3A, true);
    settle();
    EXPECT_EQ((Keys{{P, 16}, {P, 161}, {R, 161}, {R, 16}, {P, VK_CAPITAL}, {P, VK_CAPITAL}}),
              keys());
}

// The Space presses that reach the view window, by their lParam.
std::vector<LPARAM> g_spaceDowns;
WNDPROC g_viewProc;
LRESULT CALLBACK recordSpaceDowns(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_KEYDOWN && wp == VK_SPACE) g_spaceDowns.push_back(lp);
    return CallWindowProcW(g_viewProc, hwnd, msg, wp, lp);
}

TEST_F(View, CtrlSpaceHookBringsTheKeyToTheXView) {
    if (GetFocus() != f.engineView()) GTEST_SKIP() << "the view could not take the focus";
    g_spaceDowns.clear();
    g_viewProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        f.engineView(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recordSpaceDowns)));
    ddUIInstallHook();
    sendKey(VK_LCONTROL, 0x1D, false);
    sendKey(VK_SPACE, 0x39, false);
    sendKey(VK_SPACE, 0x39, true);
    sendKey(VK_LCONTROL, 0x1D, true);
    settle();
    ddUIRemoveHook();
    SetWindowLongPtrW(f.engineView(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_viewProc));
    // Only the hook's own press (lParam 0) arrives: the real one, which
    // carries its scan code, is held back before any window sees it.
    EXPECT_EQ(g_spaceDowns, std::vector<LPARAM>{0});
    auto presses = eventsOf(f.engine, {P});
    int spaces = 0;
    for (const RecordedEvent& r : presses)
        if (r.w[1] == VK_SPACE) spaces++;
    EXPECT_EQ(1, spaces);
}

void sendMouse(DWORD flags, LONG x = 0, LONG y = 0, DWORD data = 0) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.dx = x;
    in.mi.dy = y;
    in.mi.mouseData = data;
    SendInput(1, &in, sizeof in);
}

TEST_F(View, RealPointerButtonsAndWheel) {
    if (GetFocus() != f.engineView()) GTEST_SKIP() << "the view could not take the focus";
    POINT at = {30, 40};
    ClientToScreen(f.engineView(), &at);
    // Absolute coordinates run from 0 to 65535 over the primary screen.
    LONG ax = LONG((int64_t(at.x) * 65536 + GetSystemMetrics(SM_CXSCREEN) - 1) /
                   GetSystemMetrics(SM_CXSCREEN));
    LONG ay = LONG((int64_t(at.y) * 65536 + GetSystemMetrics(SM_CYSCREEN) - 1) /
                   GetSystemMetrics(SM_CYSCREEN));
    sendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ax, ay);
    settle();
    POINT cursor;
    GetCursorPos(&cursor);
    if (cursor.x != at.x || cursor.y != at.y) GTEST_SKIP() << "the pointer could not be placed";
    f.engine.events.clear();
    sendMouse(MOUSEEVENTF_LEFTDOWN);
    sendMouse(MOUSEEVENTF_LEFTUP);
    sendMouse(MOUSEEVENTF_WHEEL, 0, 0, DWORD(-WHEEL_DELTA));
    settle();
    auto ev = eventsOf(f.engine, {DI_EV_BUTTON_PRESS, DI_EV_BUTTON_RELEASE, DI_EV_WHEEL});
    ASSERT_EQ(3u, ev.size());
    EXPECT_EQ(uint32_t(DI_EV_BUTTON_PRESS), ev[0].w[0]);
    EXPECT_EQ(0u, ev[0].w[2]);
    EXPECT_EQ(30u, ev[0].w[3]);
    EXPECT_EQ(40u, ev[0].w[4]);
    EXPECT_EQ(uint32_t(DD_MASK_LBUTTON), ev[0].w[7] & DD_MASK_LBUTTON);
    EXPECT_EQ(uint32_t(DI_EV_BUTTON_RELEASE), ev[1].w[0]);
    EXPECT_EQ(0u, ev[1].w[7] & DD_MASK_LBUTTON);
    EXPECT_EQ(uint32_t(DI_EV_WHEEL), ev[2].w[0]);
    EXPECT_EQ(uint32_t(at.x), ev[2].w[3]) << "the wheel reports the screen position";
    EXPECT_EQ(-120, int32_t(ev[2].w[5]));
    EXPECT_EQ(-1, int32_t(ev[2].w[6]));
    EXPECT_EQ(nullptr, GetCapture());
}

} // namespace
