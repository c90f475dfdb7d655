// End to end on Xvfb: a terminal channel of a display-engine manager (with
// its progress window) connects through tinyproxy to the LAIP peer. xdotool
// types the proxy credentials into dialog 188 and tinyproxy accepts them; the
// authentication dialog (107) is answered beside the progress window in state
// 9, and both are kept as screenshots with the test output; the peer
// unscrambles the password, result 0 puts the progress window in state 5 and
// the channel's own handler gets the open event.
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "net/ddroute.h"
#include "net/dilaip.h"
#include "net/diroute.h"
#include "support/peer_process.h"
#include "support/host_command.h"
#include "ui/ddgdi.h"
#include "ui/ddprog.h"
#include "ui/ddui.h"
#include "ui/diprog.h"
#include "ui/dlg_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

LRESULT CALLBACK frameProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == g_ddApp->winsockMessage && m) {
        ddNetHandleSocketMessage(w, l);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

// Dialog 107 is answered once its screenshot has been taken.
std::string g_shotMark;
bool g_shot;
void CALLBACK answerLogin(HWND dlg, UINT, UINT_PTR id, DWORD) {
    if (!hvHostEnded(g_shotMark)) return;
    KillTimer(dlg, id);
    g_shot = true;
    setText(dlg, 1001, u"bob");
    setText(dlg, 1002, u"kelp.word");
    press(dlg, IDOK);
}

std::vector<uint32_t> g_events;
int ownHandler(DiObject*, DiEvent* ev) {
    g_events.push_back(ev->w[0]);
    return 1;
}

TEST(EndToEnd, ProxyDialogLoginDialogAndOpen) {
    ddNetInit();
    DlgScript script;
    ScriptScope scope(&script);
    ddRouteInstallDialogHooks();
    ddUIInit(nullptr, GetModuleHandleW(nullptr));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = frameProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvE2EFrame";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"HvE2EFrame", L"Halvanet", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                640, 480, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_ddApp->mainWindow = window;
    g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
    DiFrame frame = {};
    diUIFrameInit(&frame, 640, 480);
    frame.mode = 1;
    frame.hdr.gc = ddGDICreateGC();
    ddGDIAttach(frame.hdr.gc, window, GetDC(window));

    std::string log = "/tmp/hv_e2e_laip_" + std::to_string(GetCurrentProcessId()) + ".log";
    Peer proxy, peer;
    ASSERT_TRUE(proxy.start("proxy_launcher.py", "tinyproxy --user alice --password s3cret"));
    ASSERT_TRUE(peer.start("laip_peer.py", "--scenario auth --user bob --password kelp.word --log " + log));
    DiRoute http;
    diRouteInit(&http, DI_ROUTE_HTTP, u"127.0.0.1", uint32_t(proxy.port), 0);
    g_ddApp->opt.httpProxyRoute = &http;
    g_ddApp->httpProxyInUse = 1;

    DiDEManager* m = diDEManagerCreate(&frame.hdr, DI_OBJ_TDE, 640, 480);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->progress, nullptr);
    DiChannel* ch = m->channel;
    ASSERT_NE(ch, nullptr);
    // The launch starts: the progress window opens.
    diDEReportState(ch, DI_PROG_STARTING, 0);

    std::string shots = HV_SHOT_DIR;
    std::string typing;
    script.onInit = [&](HWND dlg, int id) {
        if (id == DD_DLG_SERVER_AUTH) {
            // Typed as a user would, once the dialog is up: the focus starts
            // in the user name.
            // A title of its own, so that the keys go to this dialog and to
            // no other window on the display.
            std::wstring title = L"Authentication Required e2e" + std::to_wstring(GetCurrentProcessId());
            SetWindowTextW(dlg, title.c_str());
            std::string name(title.begin(), title.end());
            typing = hvHostStart("sleep 1; W=$(xdotool search --name '" + name + "' | head -n 1); "
                               "[ -n \\\"$W\\\" ] || exit; xdotool windowfocus --sync $W; "
                               "xdotool type --delay 40 alice; xdotool key Tab; "
                               "xdotool type --delay 40 s3cret; xdotool key Return");
        } else if (id == 107) {
            DiProgress* p = reinterpret_cast<DiProgress*>(m->progress);
            EXPECT_NE(p, nullptr);
            EXPECT_EQ(p ? p->state : -1, DI_PROG_AUTHENTICATING);
            // Beside the progress window, so that one picture shows both.
            RECT pr = {0, 0, 0, 0};
            if (HWND pd = ddProgDialog(m->progress)) GetWindowRect(pd, &pr);
            SetWindowPos(dlg, nullptr, pr.right + 10, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            g_shotMark = hvHostStart("sleep 1; import -window root " + shots + "/e2e_login_dialog.png");
            SetTimer(dlg, 77, 100, answerLogin);
        }
    };

    ASSERT_EQ(ddNetSocketOpen(ch->socket, 1, 1), 0);
    ASSERT_EQ(diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    EXPECT_FALSE(typing.empty());
    ch->hdr.handler = ownHandler;
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    ASSERT_EQ(diLAIPSendRequest(ch, 0, 2, nullptr, 0, nullptr, nullptr, u"srv.example", nullptr), 0);
    DWORD t0 = GetTickCount();
    while (diLAIPActive(ch) && GetTickCount() - t0 < 30000) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        diTimerDispatch(ddTimerNow());
        Sleep(5);
    }
    EXPECT_FALSE(diLAIPActive(ch));
    EXPECT_TRUE(g_shot);
    EXPECT_EQ(script.inits, (std::vector<int>{DD_DLG_SERVER_AUTH, 107}));
    ASSERT_NE(m->progress, nullptr);
    EXPECT_EQ(reinterpret_cast<DiProgress*>(m->progress)->state, DI_PROG_CONNECTED);
    ASSERT_FALSE(g_events.empty());
    EXPECT_EQ(g_events[0], uint32_t(DI_EV_OPEN));
    std::string last = hvHostStart("import -window root " + shots + "/e2e_connected.png");
    for (int i = 0; i < 1500 && !hvHostEnded(last); ++i) Sleep(10);

    std::string got;
    if (FILE* f = fopen(("Z:" + log).c_str(), "rb")) {
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) got.append(chunk, n);
        fclose(f);
    }
    DeleteFileA(("Z:" + log).c_str());
    EXPECT_NE(got.find("\"user\": \"bob\", \"password\": \"kelp.word\""), std::string::npos) << got;

    diUIObjectRelease(&m->hdr);
    g_ddApp->opt.httpProxyRoute = nullptr;
    g_ddApp->httpProxyInUse = 0;
    diRouteFree(&http);
    g_ddApp->mainWindow = nullptr;
    ddGDIFreeGC(frame.hdr.gc);
    DestroyWindow(window);
}

} // namespace
