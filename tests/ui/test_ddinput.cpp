// Real keyboard input through the system's input queue: both Shift keys,
// Caps Lock and the Ctrl+Space hook. These run alone (the input goes to
// whichever window has the focus on the shared display).
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

TEST_F(View, CtrlSpaceHookBringsTheKeyToTheXView) {
    if (GetFocus() != f.engineView()) GTEST_SKIP() << "the view could not take the focus";
    ddUIInstallHook();
    sendKey(VK_LCONTROL, 0x1D, false);
    sendKey(VK_SPACE, 0x39, false);
    sendKey(VK_SPACE, 0x39, true);
    sendKey(VK_LCONTROL, 0x1D, true);
    settle();
    ddUIRemoveHook();
    // The hook's own press (lParam 0) arrives; the real press does not.
    auto presses = eventsOf(f.engine, {P});
    int spaces = 0;
    for (const RecordedEvent& r : presses)
        if (r.w[1] == VK_SPACE) spaces++;
    EXPECT_EQ(1, spaces);
}

} // namespace
