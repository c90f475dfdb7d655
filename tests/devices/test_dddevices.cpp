// The clipboard owner-window thread: started with its window, and stopped
// by that thread itself (a window can only be destroyed by its own thread).
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/dide.h"
#include "devices/dddevices.h"
#include "session/ddso.h"
#include "session/diprofile.h"

namespace {

TEST(ClipboardThread, StartsWithItsWindowAndStopsCleanly) {
    ddProfStoreSetPath(L"");
    ddProfStoreCreate();
    diSOSetLocalSetting(u"ClipboardTimeout", u"0");
    for (int round = 0; round < 2; round++) { // a second start after a stop works too
        ASSERT_TRUE(ddClipStart());
        HWND owner = ddClipOwnerWindow();
        ASSERT_NE(owner, nullptr);
        EXPECT_TRUE(IsWindow(owner));
        EXPECT_NE(GetWindowThreadProcessId(owner, nullptr), GetCurrentThreadId());
        EXPECT_EQ(ddClipTimeout(), INFINITE); // 0 seconds waits for ever
        // The owner window can take the clipboard.
        ASSERT_TRUE(OpenClipboard(owner));
        EXPECT_TRUE(EmptyClipboard());
        CloseClipboard();
        ddClipStop();
        EXPECT_FALSE(IsWindow(owner));
        EXPECT_EQ(ddClipOwnerWindow(), nullptr);
        ddClipStop(); // stopping twice is harmless
    }
    diSOSetLocalSetting(u"ClipboardTimeout", u"5");
    ASSERT_TRUE(ddClipStart());
    EXPECT_EQ(ddClipTimeout(), 5000u);
    ddClipStop();
    ddProfStoreDestroy();
}

TEST(Probes, AnswerFromTheSystem) {
    EXPECT_EQ(ddCDMPresent(), GetLogicalDrives() != 0);
    g_ddApp->canMapDrives = 1, g_ddApp->driveMapping = 0; // drive mapping switched off
    EXPECT_EQ(diDECreateChannel(nullptr, DI_OBJ_CDM, 0, 0), nullptr);
    // winscard is imported, so loaded with the program.
    EXPECT_TRUE(ddSCardIsAvailable());
    EXPECT_TRUE(ddSCardIsAvailable()); // made once, answered again
    ddSCardUnload();
}

} // namespace
