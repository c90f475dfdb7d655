// A seamless session against the fake server playing the server's window
// manager (tests/peers/xaip_swm.py, "swm-wm"), with a second local process
// doing to the client's windows what the user and the shell do: moves,
// sizes, minimise, the taskbar's restore, close and window menu. What each
// of those sends the server is read back in the order the server got it.
// A border drag with the real pointer reaches the server as press and
// release only, with the outline on the screen meanwhile. A disconnect in
// the middle of another drag, with the server's clipboard formats offered,
// leaves no window, no outline and an empty clipboard at once.
#include <gtest/gtest.h>

#include "devices/dddevices.h"
#include "session/ddso.h"
#include "session/diprofile.h"
#include "support/host_command.h"
#include "support/peer_process.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "xde/ddxswm.h"
#include "xde/dixseamless.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<HWND, int>> g_taskbar;

void recordTaskbar(HWND h, int show) {
    g_taskbar.push_back({h, show});
}

// Runs swm_observer with the arguments, pumping messages meanwhile; its
// exit code.
DWORD observer(const std::string& args) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"swm_observer.exe";
    std::wstring cmd = L"\"" + path + L"\" " + std::wstring(args.begin(), args.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 1000;
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 30000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1) {
            TerminateProcess(pi.hProcess, 999);
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DWORD code = 1001;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

DWORD drive(HWND h, const char* action, int a = 0, int b = 0) {
    char args[128];
    snprintf(args, sizeof args, "drive 0x%lx %s %d %d", static_cast<unsigned long>(
                                                            reinterpret_cast<uintptr_t>(h)),
             action, a, b);
    return observer(args);
}

void settle(DWORD ms) {
    hvPumpUntil([] { return false; }, ms);
}

COLORREF screenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return c;
}

// The X server's pointer, driven by xdotool as a user's hand would: moved
// to x, y (screen), then the button action ("mousedown 1", "mouseup 1" or
// none). Messages are pumped until it ends.
void pointer(const char* action, int x, int y) {
    std::string mark = hvHostStart("/usr/bin/xdotool mousemove " + std::to_string(x) + " " +
                                   std::to_string(y) + " " + action);
    ASSERT_FALSE(mark.empty());
    hvPumpUntil([&] { return hvHostEnded(mark); }, 10000);
    ASSERT_TRUE(DeleteFileA(mark.c_str()));
}

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

// The server's lines of the kinds that matter here, for one window: its
// property sets as "P value", pointer presses, releases and motions as
// "3", "4", "5", and messages 34 to 36 as "34 kind value", "35", "36".
std::vector<std::string> linesOf(const std::vector<std::string>& all, int window) {
    auto unhex = [](const std::string& h) {
        std::string s;
        for (size_t i = 0; h != "-" && i + 1 < h.size(); i += 2)
            s += char(std::stoi(h.substr(i, 2), nullptr, 16));
        return s;
    };
    std::vector<std::string> v;
    for (auto& line : all) {
        std::vector<std::string> f;
        for (size_t at = 0; at < line.size();) {
            size_t sp = line.find(' ', at);
            if (sp == std::string::npos) sp = line.size();
            f.push_back(line.substr(at, sp - at));
            at = sp + 1;
        }
        if (f.size() < 2) continue;
        const std::string& t = f[0];
        if (t == "17" && f.size() == 4 && unhex(f[1]) == std::to_string(window) &&
            unhex(f[2]) == "qvl-swm-syscommand")
            v.push_back("P " + unhex(f[3]));
        else if ((t == "3" || t == "4" || t == "5" || t == "35") && std::stoi(f[1]) == window)
            v.push_back(t);
        else if (t == "34" && f.size() == 4 && std::stoi(f[1]) == window)
            v.push_back("34 " + f[2] + " " + f[3]);
        else if (t == "36" && std::stoi(f[1]) == window)
            v.push_back("36");
    }
    return v;
}

// Whether the wanted lines appear in this order (others may lie between).
bool inOrder(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    size_t i = 0;
    for (auto& g : got)
        if (i < want.size() && g == want[i]) i++;
    return i == want.size();
}

TEST(SeamlessWindowManager, UserAndShellActionsReachTheServerInOrder) {
    ASSERT_TRUE(hvSocketSinkInit());
    ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
    ddProfStoreSetPath(L"");
    ddProfStoreCreate();
    ASSERT_TRUE(ddClipStart());
    ddSWMSetTaskbarRecorder(recordTaskbar);
    WNDCLASSW wc{};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvSWMWmTest";
    wc.style = CS_OWNDC;
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, L"HvSWMWmTest", L"session", WS_POPUP, 0, 0, 640, 480,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 640, 480);
    ASSERT_NE(ch, nullptr);
    ddGDIAttach(ch->hdr.gc, window, GetDC(window));
    DiXDisplay* d = reinterpret_cast<DiXDisplay*>(ch);

    Peer peer;
    ASSERT_TRUE(peer.reservePortFile());
    std::string result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve swm-wm --result-file " + result, ""));
    ch->open = 1;
    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    std::vector<HWND> frames;
    auto allMapped = [&] {
        frames.clear();
        for (uint32_t id = 1; id <= 4; id++) {
            DiXWindow* w = d->windows[id];
            HWND h = w && w->frame ? GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT)
                                   : nullptr;
            if (!h || !IsWindowVisible(h)) return false;
            frames.push_back(h);
        }
        return true;
    };
    hvPumpUntil(allMapped, 30000);
    ASSERT_TRUE(allMapped());
    DiXFrame* main = d->windows[1]->frame;
    hvPumpUntil([&] { return (main->styles[0] & WS_THICKFRAME) && d->swmMetrics[0] == 4; },
                10000);
    ASSERT_TRUE(main->styles[0] & WS_THICKFRAME);
    // The icon and the clipboard's formats come last.
    hvPumpUntil([] { return IsClipboardFormatAvailable(CF_TEXT) != 0; }, 10000);
    settle(300);

    // As the second process sees them: the transient is owned only under a
    // topmost owner (the main window is not), the window kept off the
    // taskbar is a tool window. The main window carries the server's icon.
    auto info = [&](HWND h) {
        char b[48];
        snprintf(b, sizeof b, "info 0x%lx",
                 static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
        return observer(b);
    };
    EXPECT_EQ(info(frames[0]), 16u);
    EXPECT_EQ(info(frames[1]), 16u);
    EXPECT_EQ(info(frames[2]), 18u);
    // Its mask: a ring shown on rows 0 and 1 at columns 2-5 and 1-6; the
    // icon's AND mask is set where the icon is transparent.
    HICON icon = reinterpret_cast<HICON>(SendMessageW(frames[0], WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(icon, reinterpret_cast<HICON>(SendMessageW(frames[1], WM_GETICON, ICON_SMALL, 0)));
    ICONINFO ii{};
    ASSERT_TRUE(icon && GetIconInfo(icon, &ii));
    uint8_t andBits[4] = {};
    EXPECT_EQ(GetBitmapBits(ii.hbmMask, 4, andBits), 4);
    EXPECT_EQ(andBits[0], 0xC3);
    EXPECT_EQ(andBits[1], 0xFF);
    EXPECT_EQ(andBits[2], 0x81);
    EXPECT_EQ(andBits[3], 0xFF);
    DeleteObject(ii.hbmMask);
    DeleteObject(ii.hbmColor);

    // Move and size from the other process: each reaches the server as
    // 61440 at once and 35 once the moves rest.
    ASSERT_EQ(drive(frames[0], "move", 130, 120), 0u);
    settle(700);
    ASSERT_EQ(drive(frames[0], "size", 320, 220), 0u);
    settle(700);
    // Minimise, then the taskbar's restore: the server's window manager
    // answers "61728" with a show.
    ASSERT_EQ(drive(frames[0], "minimise"), 0u);
    hvPumpUntil([&] { return IsIconic(frames[0]) != 0; }, 5000);
    ASSERT_TRUE(IsIconic(frames[0]));
    settle(300);
    ASSERT_EQ(drive(frames[0], "restore"), 0u);
    hvPumpUntil([&] { return !IsIconic(frames[0]); }, 10000);
    ASSERT_FALSE(IsIconic(frames[0]));
    // A click on another window just after that show: the server is told
    // to focus that one.
    SetForegroundWindow(frames[2]);
    SetFocus(frames[2]);
    settle(800);
    ASSERT_EQ(drive(frames[0], "menu", 30, 40), 0u);
    settle(200);

    // A drag on the left border with the X server's pointer.
    RECT r{};
    GetWindowRect(frames[0], &r);
    const int px = r.left + 1, py = (r.top + r.bottom) / 2;
    const int farX = r.right + 60 < GetSystemMetrics(SM_CXSCREEN) ? r.right + 60 : r.left - 60;
    COLORREF farBefore = screenPixel(farX, py);
    COLORREF stripBefore = screenPixel(r.left - 20, py);
    pointer("mousedown 1", px, py);
    settle(200);
    for (int step = 1; step <= 4; step++) {
        pointer("", px - 5 * step, py);
        settle(60);
    }
    settle(200);
    EXPECT_NE(ddSWMDragWindow(), nullptr);
    EXPECT_TRUE(IsWindowVisible(ddSWMDragWindow()));
    // The outline's left strip lies on the dragged edge; far off it the
    // screen is as it was.
    EXPECT_NE(screenPixel(r.left - 20, py), stripBefore);
    EXPECT_EQ(screenPixel(farX, py), farBefore);
    pointer("mouseup 1", px - 20, py);
    settle(300);
    EXPECT_EQ(ddSWMDragWindow(), nullptr);
    EXPECT_EQ(screenPixel(farX, py), farBefore);
    // The window manager's configure answers the drag: the left edge went
    // where the pointer was released.
    RECT want{r.left - 20, r.top, r.right, r.bottom}, now{};
    hvPumpUntil([&] { return GetWindowRect(frames[0], &now) && EqualRect(&now, &want); }, 5000);
    EXPECT_TRUE(EqualRect(&now, &want)) << now.left << "," << now.top << " " << now.right << ","
                                        << now.bottom;
    settle(1200);

    // The close button: message 34 (2, 2) only; the server decides.
    ASSERT_EQ(drive(frames[1], "close"), 0u);
    settle(300);
    EXPECT_TRUE(IsWindow(frames[1]));

    // The server's clipboard formats are offered and another drag runs
    // when the connection goes.
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
    GetWindowRect(frames[0], &r);
    pointer("mousedown 1", r.left + 1, (r.top + r.bottom) / 2);
    settle(200);
    pointer("", r.left - 15, (r.top + r.bottom) / 2);
    settle(200);
    EXPECT_NE(ddSWMDragWindow(), nullptr);
    g_taskbar.clear();
    diDEDestroyChannel(ch);
    for (HWND h : frames) EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(ddSWMDragWindow(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_EQ(CountClipboardFormats(), 0);
    std::set<HWND> deleted;
    for (auto& t : g_taskbar)
        if (t.second == 0) deleted.insert(t.first);
    EXPECT_EQ(deleted, std::set<HWND>(frames.begin(), frames.end()));
    pointer("mouseup 1", r.left - 15, (r.top + r.bottom) / 2);

    hvPumpUntil([&] {
        return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    std::ifstream f("Z:" + result);
    std::string verdict;
    std::getline(f, verdict);
    std::vector<std::string> all;
    for (std::string line; std::getline(f, line);) all.push_back(line);
    f.close();
    DeleteFileA(("Z:" + result).c_str());
    EXPECT_EQ(verdict, "ok") << verdict;

    auto main1 = linesOf(all, 1);
    std::string shown;
    for (auto& l : main1) shown += l + "; ";
    const std::string moved = "P 61440,";
    auto nth = [&](const std::string& prefix, int n) {
        for (size_t i = 0; i < main1.size(); i++)
            if (main1[i].rfind(prefix, 0) == 0 && n-- == 0) return main1[i];
        return std::string();
    };
    // The move, then the size, each 61440 then 35.
    EXPECT_EQ(nth(moved, 0).rfind("P 61440,130,120,", 0), 0u) << shown;
    EXPECT_NE(nth(moved, 1).find(",320,220"), std::string::npos) << shown;
    EXPECT_TRUE(inOrder(main1, {nth(moved, 0), "35", nth(moved, 1), "35", "34 5 1", "P 61728",
                                "34 5 0", "36", "P 63520,30,40", "3", "4"}))
        << shown;
    // No motion between the drag's press and release.
    auto press = std::find(main1.begin(), main1.end(), "3");
    auto release = std::find(main1.begin(), main1.end(), "4");
    ASSERT_TRUE(press != main1.end() && release != main1.end());
    EXPECT_EQ(std::find(press, release, "5"), release) << shown;
    // The click on the tool window after the show.
    EXPECT_TRUE(inOrder(linesOf(all, 3), {"P 63488"}));
    EXPECT_TRUE(inOrder(linesOf(all, 2), {"34 2 2"}));

    ddSWMSetTaskbarRecorder(nullptr);
    DestroyWindow(window);
    ddClipStop();
    ddProfStoreDestroy();
}

} // namespace
