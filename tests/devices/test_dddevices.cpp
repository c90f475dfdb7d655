// The clipboard owner-window thread: started with its window, and stopped
// by that thread itself (a window can only be destroyed by its own thread).
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/dide.h"
#include "devices/ddclip.h"
#include "devices/dddevices.h"
#include "session/ddso.h"
#include "session/diprofile.h"

namespace {

// Points this program's import of `name` at `hook`; returns what it held, or
// none when the program does not import it by that name.
void* replaceImport(const char* name, void* hook) {
    uint8_t* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         d++) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(by->Name), name) != 0) continue;
            DWORD was;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was);
            void* old = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
            return old;
        }
    }
    return nullptr;
}

// Watches the stop's release of a waiting render: a render that starts at
// that moment and still finds the server's formats waits for the GUI
// thread, which is busy stopping.
int g_owner;
int g_releases, g_offeredAtRelease;
BOOL(WINAPI* g_setEvent)(HANDLE);
BOOL WINAPI setEventWatched(HANDLE event) {
    uint32_t id = 0, length = 0;
    const DiChar* name = nullptr;
    g_releases++;
    g_offeredAtRelease += ddClipFindRemote(&g_owner, CF_TEXT, &id, &name, &length);
    return g_setEvent(event);
}

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
        // The server's formats are gone before a waiting render is let go.
        const DiChar* text = u"STRING";
        uint32_t id = 7, length = 6;
        ASSERT_TRUE(ddClipAnnounceRemote(&g_owner, nullptr, &id, &text, &length, 1, 0));
        g_releases = g_offeredAtRelease = 0;
        g_setEvent = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
            replaceImport("SetEvent", reinterpret_cast<void*>(setEventWatched)));
        ASSERT_NE(g_setEvent, nullptr);
        ddClipStop();
        replaceImport("SetEvent", reinterpret_cast<void*>(g_setEvent));
        EXPECT_GT(g_releases, 0);
        EXPECT_EQ(g_offeredAtRelease, 0);
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
