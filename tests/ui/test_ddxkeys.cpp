// The X display's key translation with the real keyboard layout under Wine:
// a key with no code gets the character of the layout with Shift alone,
// whatever else the real keyboard state holds, and that state survives.
#include <gtest/gtest.h>

#include "ui/ddxkeys.h"

#include <string.h>

namespace {

DiEvent key(uint32_t type, uint32_t vk, uint32_t mods) {
    DiEvent ev = {};
    ev.w[0] = type;
    ev.w[1] = vk;
    ev.w[3] = mods;
    return ev;
}

TEST(XKeysWindows, ShiftOnlyCharacterFromTheLayout) {
    // The real state holds Ctrl and Caps Lock: ToAscii in it would make no
    // character (Ctrl) or the wrong case.
    BYTE real[256] = {};
    real[VK_CONTROL] = real[VK_LCONTROL] = 0x80;
    real[VK_CAPITAL] = 0x01;
    ASSERT_TRUE(SetKeyboardState(real));

    // The US layout of the test server: VK_OEM_1 is ";" and ":" with Shift.
    DiEvent ev = key(DI_EV_KEY_PRESS, VK_OEM_1, 1);
    EXPECT_EQ(1, ddXKeyTranslate(0, &ev));
    EXPECT_EQ(0u, ev.w[1]);
    EXPECT_EQ(uint32_t(':'), ev.w[2]);
    ev = key(DI_EV_KEY_PRESS, VK_OEM_1, 0);
    ddXKeyTranslate(0, &ev);
    EXPECT_EQ(uint32_t(';'), ev.w[2]);
    ev = key(DI_EV_KEY_RELEASE, VK_OEM_1, 1);
    ddXKeyTranslate(0, &ev);
    EXPECT_EQ(0u, ev.w[2]);

    BYTE after[256];
    ASSERT_TRUE(GetKeyboardState(after));
    EXPECT_EQ(0x80, after[VK_CONTROL] & 0x80);
    EXPECT_EQ(0x01, after[VK_CAPITAL] & 0x01);
    EXPECT_EQ(0, after[VK_SHIFT] & 0x80);
    memset(real, 0, sizeof real);
    SetKeyboardState(real);
}

} // namespace
