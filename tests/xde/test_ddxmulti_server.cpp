// Multi-window mode end to end: a display made by the channel factory,
// fed by the fake X-AIP server over loopback ("serve multi"). The server's
// windows become real frames with their titles, hints, icon and stacking;
// what the user does to them (a drag, minimise and restore, close, bringing
// a lower frame forward) reaches the server, whose verdict the test reads;
// grabs capture the pointer, and the destroyed windows are gone.
#include <gtest/gtest.h>

#include "support/peer_process.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "xde/ddxde.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, m, w, l);
}

struct MultiServer : ::testing::Test {
    static void SetUpTestSuite() {
        ASSERT_TRUE(hvSocketSinkInit());
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXMultiServerTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
        // Once per process: the frame and view classes stay registered.
        WNDCLASSW probe{};
        if (!GetClassInfoW(GetModuleHandleW(nullptr), L"QVLViewClass", &probe)) {
            ASSERT_EQ(1, ddUIInit(nullptr, GetModuleHandleW(nullptr)));
        }
        ddXDEInstallHooks();
    }
    HWND window = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    Peer peer;
    std::string result;

    void TearDown() override {
        if (ch) diDEDestroyChannel(ch);
        if (window) DestroyWindow(window);
        DeleteFileA(("Z:" + result).c_str());
    }
    HWND frameOf(uint32_t id) {
        DiXWindow* w = d->windows[id];
        return w && w->frame && w->frame->hdr.gc
                   ? GetAncestor(ddGDIGetWindow(w->frame->hdr.gc), GA_ROOT)
                   : nullptr;
    }
    // Left, right, top, bottom: the window rectangle less the client area.
    std::vector<int> borders(HWND h) {
        RECT wr, cr;
        POINT o{0, 0};
        GetWindowRect(h, &wr);
        GetClientRect(h, &cr);
        ClientToScreen(h, &o);
        return {int(o.x - wr.left), int(wr.right - o.x - cr.right), int(o.y - wr.top),
                int(wr.bottom - o.y - cr.bottom)};
    }
};

TEST_F(MultiServer, FramesFollowTheServerAndTheUserReachesIt) {
    window = CreateWindowW(L"HvXMultiServerTest", L"x multi", WS_POPUP, 0, 0, 64, 48, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ch = diDECreateChannel(nullptr, DI_OBJ_XDE, 640, 480);
    ASSERT_NE(ch, nullptr);
    ddGDIAttach(ch->hdr.gc, window, GetDC(window));
    d = reinterpret_cast<DiXDisplay*>(ch);
    ASSERT_TRUE(peer.reservePortFile());
    result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve multi --result-file " + result, ""));
    ch->open = 1;
    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);

    // The server's part: three frames shown, 2 directly below 1.
    hvPumpUntil([&] {
        return d->windows[3] && frameOf(3) && IsWindowVisible(frameOf(3)) && d->windows[1] &&
               d->windows[1]->frame && d->windows[1]->frame->hints[2] == 400;
    });
    DWORD settle = GetTickCount();
    hvPumpUntil([&] { return GetTickCount() - settle > 500; });
    HWND f1 = frameOf(1), f2 = frameOf(2), f3 = frameOf(3);
    ASSERT_TRUE(f1 && f2 && f3);
    EXPECT_EQ(GetWindow(f1, GW_HWNDNEXT), f2);
    wchar_t text[16] = L"?";
    GetWindowTextW(f1, text, 16);
    EXPECT_STREQ(text, L"first");
    GetWindowTextW(f2, text, 16);
    EXPECT_STREQ(text, L"second");
    EXPECT_NE(SendMessageW(f1, WM_GETICON, ICON_BIG, 0), 0);
    const std::vector<int> b1 = borders(f1), b2 = borders(f2), b3 = borders(f3);
    EXPECT_GT(b1[2], b1[3]); // a caption
    EXPECT_EQ(b3, (std::vector<int>{0, 0, 0, 0}));
    MINMAXINFO mm{};
    SendMessageW(f1, WM_GETMINMAXINFO, 0, LPARAM(&mm));
    EXPECT_EQ(mm.ptMinTrackSize.x, 100 + b1[0] + b1[1]);
    EXPECT_EQ(mm.ptMaxTrackSize.y, 300 + b1[2] + b1[3]);

    // The engine's hooks as start-up installs them: the root's rectangle
    // for the frames' off-screen test, and an input language change in a
    // frame's view, which sends the keyboard again (message 44).
    RECT root{};
    ASSERT_TRUE(g_ddXHooks.rootRect && g_ddXHooks.rootRect(&ch->hdr, &root));
    EXPECT_EQ(root.right - root.left, d->windows[0]->head.width);
    EXPECT_EQ(root.bottom - root.top, d->windows[0]->head.height);
    d->flags |= DI_XFLAG_KBNOTICE;
    if (d->keyboard) d->dev->freeKeyboard(d->keyboard);
    d->keyboard = nullptr; // as if the layout had been another
    SendMessageW(ddGDIGetWindow(d->windows[1]->frame->hdr.gc), WM_INPUTLANGCHANGE, 0,
                 LPARAM(GetKeyboardLayout(0)));
    EXPECT_NE(d->keyboard, nullptr);

    // The user: drags frame 1, minimises and restores 2, closes 2, brings 2
    // in front of 1.
    RECT wr;
    GetWindowRect(f1, &wr);
    SendMessageW(f1, WM_ENTERSIZEMOVE, 0, 0);
    SetWindowPos(f1, nullptr, wr.left + 30, wr.top + 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(f1, WM_EXITSIZEMOVE, 0, 0);
    ShowWindow(f2, SW_MINIMIZE);
    ShowWindow(f2, SW_RESTORE);
    SendMessageW(f2, WM_CLOSE, 0, 0);
    SetWindowPos(f2, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    // The server grabs the pointer on window 1, then lets it go.
    HWND view1 = ddGDIGetWindow(d->windows[1]->frame->hdr.gc);
    hvPumpUntil([&] { return GetCapture() == view1; }, 40000);
    EXPECT_EQ(GetCapture(), view1);
    hvPumpUntil([&] { return GetCapture() == nullptr; }, 20000);
    EXPECT_EQ(GetCapture(), nullptr);

    hvPumpUntil(
        [&] { return GetFileAttributesA(("Z:" + result).c_str()) != INVALID_FILE_ATTRIBUTES; });
    std::ifstream f("Z:" + result);
    std::string verdict, line;
    std::getline(f, verdict);
    std::vector<std::string> lines;
    while (std::getline(f, line))
        lines.push_back(line);
    EXPECT_EQ(verdict, "ok");
    // The borders the server learned are the frames' real ones.
    auto told = [&](int id) {
        for (auto& l : lines) {
            std::istringstream in(l);
            int type, window;
            std::vector<int> v(4);
            if (in >> type >> window >> v[0] >> v[1] >> v[2] >> v[3] && type == 38 && window == id)
                return v;
        }
        return std::vector<int>{};
    };
    EXPECT_EQ(told(1), b1);
    EXPECT_EQ(told(2), b2);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("44 ", 0) == 0; }));
    EXPECT_FALSE(IsWindow(f1));
    EXPECT_FALSE(IsWindow(f2));
    EXPECT_FALSE(IsWindow(f3));
    if (verdict != "ok")
        for (auto& l : lines)
            ADD_FAILURE() << l;
}

} // namespace
