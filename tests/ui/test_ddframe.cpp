// Frame windows: saved geometry, layout (full screen, owned, fitted,
// centred), scroll bars, the main window's socket, launch-record and outpost
// messages, and closing frames.
#include "frame_fixture.h"

#include <string>
#include <winsock2.h>

namespace {

const int32_t kDefault = INT32_MIN;

struct AxisCase {
    int32_t pos, size, screen;
    int32_t wantPos, wantSize;
};

TEST(FrameGeometry, SavedAxisIsKeptOnScreen) {
    const AxisCase cases[] = {
        {kDefault, kDefault, 1024, kDefault, kDefault}, // both default: untouched
        {10, 2000, 1024, 10, 1024},                     // size capped
        {1500, 300, 1024, 724, 300},                    // past the right edge
        {1500, 3000, 1024, 0, 1024},                    // both
        {-5000, 300, 1024, 0, 300},                     // far off the left
        {-100, 300, 1024, -100, 300},                   // partly off: kept
        {INT32_MAX, kDefault, 1024, 1024, kDefault},    // default size: no wrap
        {INT32_MAX, 500, 1024, 524, 500},
        {kDefault, 500, 1024, 0, 500}, // default position alone
    };
    for (const AxisCase& c : cases) {
        int32_t pos = c.pos, size = c.size;
        ddUIClampAxis(&pos, &size, c.screen);
        EXPECT_EQ(c.wantPos, pos) << c.pos << "," << c.size;
        EXPECT_EQ(c.wantSize, size) << c.pos << "," << c.size;
    }
}

TEST(FrameLayout, FullScreenViewIsCentredOnlyWhenNarrowerThanTheScreen) {
    const int32_t sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    struct {
        int32_t vw, vh;
    } cases[] = {{800, 600}, {sw + 200, 600}, {800, sh + 100}};
    for (auto c : cases) {
        TestFrame f;
        f.create(2, DI_OBJ_XDE, c.vw, c.vh);
        EXPECT_EQ(LONG(WS_SYSMENU | WS_MINIMIZEBOX),
                  GetWindowLongW(f.window(), GWL_STYLE) &
                      ~LONG(WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS));
        ddUIFitFrameToContent(f.frame);
        ddUILayoutFrame(f.frame);
        RECT r = childRect(f.engineView());
        int32_t w = r.right - r.left, h = r.bottom - r.top;
        EXPECT_EQ(c.vw < sw ? (sw - w) / 2 : 0, r.left) << c.vw;
        EXPECT_EQ(c.vh < sh ? (sh - h) / 2 : 0, r.top) << c.vh;
        if (c.vw == 800 && c.vh == 600 && sw == 1024 && sh == 768) {
            EXPECT_EQ(112, r.left);
            EXPECT_EQ(84, r.top);
        }
        f.destroy();
    }
}

TEST(FrameLayout, FullScreenCentringOnA1024By768Screen) {
    // The same rule the layout applies, at the screen size the product
    // documents: an 800 x 600 engine sits at (112, 84).
    EXPECT_EQ(112, ddUICentreOffset(1024, 800, 800));
    EXPECT_EQ(84, ddUICentreOffset(768, 600, 600));
    EXPECT_EQ(0, ddUICentreOffset(1024, 1024, 1024));
    EXPECT_EQ(0, ddUICentreOffset(1024, 2000, 1024));
}

TEST(FrameLayout, OwnedFrameBelongsToTheMainWindow) {
    TestFrame main, owned;
    main.create(1, DI_OBJ_TDE, 300, 200);
    EXPECT_EQ(main.window(), g_ddApp->mainWindow);
    owned.create(3, DI_OBJ_TDE, 300, 200);
    EXPECT_EQ(main.window(), GetWindow(owned.window(), GW_OWNER));
    wchar_t title[16] = L"x";
    GetWindowTextW(owned.window(), title, 16);
    EXPECT_STREQ(L"", title);
    owned.destroy();
    main.destroy();
    EXPECT_EQ(nullptr, g_ddApp->mainWindow);
}

TEST(FrameLayout, FittedFrameShowsTheWholeEngineAndStaysOnScreen) {
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 320, 240);
    f.show();
    ddUIFitFrameToContent(f.frame);
    RECT rc;
    GetClientRect(f.window(), &rc);
    EXPECT_EQ(320, rc.right);
    EXPECT_EQ(240, rc.bottom);
    ddUILayoutFrame(f.frame);
    RECT ev = childRect(f.engineView());
    EXPECT_EQ(320, ev.right - ev.left);
    EXPECT_EQ(240, ev.bottom - ev.top);

    // Near the right edge the frame moves to x 0 rather than run off.
    const int32_t sw = GetSystemMetrics(SM_CXSCREEN);
    SetWindowPos(f.window(), nullptr, sw - 50, 10, 100, 100, SWP_NOZORDER | SWP_NOACTIVATE);
    ddUIFitFrameToContent(f.frame);
    RECT wr;
    GetWindowRect(f.window(), &wr);
    EXPECT_EQ(0, wr.left);
    EXPECT_EQ(10, wr.top);

    // An engine wider than the screen: the frame is capped at the screen.
    f.engine.hdr.vwidth = sw + 500;
    ddUIFitFrameToContent(f.frame);
    GetWindowRect(f.window(), &wr);
    EXPECT_EQ(sw, wr.right - wr.left);
}

struct ScrollCase {
    const char* name;
    int32_t vw, vh; // engine's virtual size
    int32_t scrollX, scrollY;
    bool wantH, wantV;
};

TEST(FrameScrollBars, DecidedHorizontalThenVerticalThenHorizontalAgain) {
    SIZE bar = {GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYHSCROLL)};
    const int32_t W = 400, H = 300; // the view's size before any bar
    const ScrollCase cases[] = {
        {"fits", 200, 100, 0, 0, false, false},
        {"wide", 1000, 100, 0, 0, true, false},
        {"tall", 100, 1000, 0, 0, false, true},
        {"both", 1000, 1000, 0, 0, true, true},
        // Fits across until the vertical bar takes its width.
        {"vertical brings horizontal", W - bar.cx / 2, 1000, 0, 0, true, true},
        // Fits down until the horizontal bar takes its height.
        {"horizontal brings vertical", 1000, H - bar.cy / 2, 0, 0, true, true},
        {"offset clamped", 1000, 1000, 5000, 5000, true, true},
        {"offset dropped without bar", 200, 1000, 50, 50, false, true},
    };
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 100, 100);
    for (const ScrollCase& c : cases) {
        // Start each case from a bare view of W x H.
        ShowScrollBar(f.engineView(), SB_BOTH, FALSE);
        SetWindowPos(f.engineView(), nullptr, 0, 0, W, H, SWP_NOZORDER | SWP_NOMOVE);
        f.engine.hdr.vwidth = c.vw;
        f.engine.hdr.vheight = c.vh;
        f.engine.hdr.scrollX = c.scrollX;
        f.engine.hdr.scrollY = c.scrollY;
        ddUIUpdateScrollRange(&f.engine.hdr);
        LONG style = GetWindowLongW(f.engineView(), GWL_STYLE);
        EXPECT_EQ(c.wantH, (style & WS_HSCROLL) != 0) << c.name;
        EXPECT_EQ(c.wantV, (style & WS_VSCROLL) != 0) << c.name;
        RECT vc;
        GetClientRect(f.engineView(), &vc);
        EXPECT_EQ(W - (c.wantV ? bar.cx : 0), vc.right) << c.name;
        EXPECT_EQ(H - (c.wantH ? bar.cy : 0), vc.bottom) << c.name;
        int32_t overX = c.vw - vc.right, overY = c.vh - vc.bottom;
        EXPECT_EQ(c.wantH ? std::min(c.scrollX, overX) : 0, f.engine.hdr.scrollX) << c.name;
        EXPECT_EQ(c.wantV ? std::min(c.scrollY, overY) : 0, f.engine.hdr.scrollY) << c.name;
        if (c.wantH) {
            SCROLLINFO si = {};
            si.cbSize = sizeof si;
            si.fMask = SIF_ALL;
            GetScrollInfo(f.engineView(), SB_HORZ, &si);
            EXPECT_EQ(c.vw, si.nMax) << c.name;
            EXPECT_EQ(UINT(vc.right), si.nPage) << c.name;
            EXPECT_EQ(f.engine.hdr.scrollX, si.nPos) << c.name;
        }
    }
}

TEST(FrameScrollBars, LayoutCapsTheViewAtTheEngineSize) {
    // A wide, low engine gets a view exactly its height: the horizontal bar
    // then hides part of it, so both bars are shown.
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 1000, 100);
    f.show();
    ddUILayoutFrame(f.frame);
    RECT r = childRect(f.engineView());
    EXPECT_EQ(100, r.bottom - r.top);
    LONG style = GetWindowLongW(f.engineView(), GWL_STYLE);
    EXPECT_TRUE(style & WS_HSCROLL);
    EXPECT_TRUE(style & WS_VSCROLL);
}

TEST(FrameScrollBars, ScrollToPointCentresAnOutsidePoint) {
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 2000, 2000);
    f.show();
    ddUILayoutFrame(f.frame);
    RECT vc;
    GetClientRect(f.engineView(), &vc);
    ddUIScrollToPoint(&f.engine.hdr, 1000, 10);
    EXPECT_EQ(1000 - vc.right / 2, f.engine.hdr.scrollX);
    EXPECT_EQ(0, f.engine.hdr.scrollY);
    ddUIScrollToPoint(&f.engine.hdr, 1999, 1999);
    EXPECT_EQ(2000 - vc.right, f.engine.hdr.scrollX);
    EXPECT_EQ(2000 - vc.bottom, f.engine.hdr.scrollY);
    POINT org;
    GetWindowOrgEx(GetDC(f.engineView()), &org);
    EXPECT_EQ(f.engine.hdr.scrollX, org.x);
    EXPECT_EQ(f.engine.hdr.scrollY, org.y);
}

// ---- The main window as message sink ----

// A socket object in the connection list, owned by `owner`.
struct LinkedSocket {
    DdSocket s{};
    LinkedSocket(uintptr_t handle, DiObject* owner) {
        s.handle = handle;
        diNetLink(&s);
        diNetSetOwner(&s, owner);
    }
    ~LinkedSocket() { diNetUnlink(&s); }
};

class MainWindow : public ::testing::Test {
  protected:
    TestFrame main;
    DdUIOutpostCalls saved = g_ddUIOutpost;
    void SetUp() override {
        g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
        main.create(1, DI_OBJ_TDE, 300, 200);
    }
    void TearDown() override {
        main.destroy();
        pumpMessages();
        g_ddUIOutpost = saved;
    }
};

TEST_F(MainWindow, SocketEventsBecomeEngineEvents) {
    TestEngine owner;
    diUIObjectInit(&owner.hdr, DI_OBJ_SOAP, 0, 0);
    owner.hdr.handler = testEngineHandler;
    LinkedSocket linked(4321, &owner.hdr);
    const struct {
        UINT fd;
        int want; // -1: ignored
    } cases[] = {{FD_READ, 0}, {FD_WRITE, 1},    {FD_ACCEPT, 23}, {FD_CLOSE, 2},
                 {FD_OOB, -1}, {FD_CONNECT, -1}, {0x40, -1}};
    for (auto c : cases) {
        owner.events.clear();
        SendMessageW(main.window(), g_ddApp->winsockMessage, 4321, MAKELPARAM(c.fd, 10061));
        if (c.want < 0) {
            EXPECT_TRUE(owner.events.empty()) << c.fd;
        } else {
            ASSERT_EQ(1u, owner.events.size()) << c.fd;
            EXPECT_EQ(uint32_t(c.want), owner.events[0].w[0]);
            for (int i = 1; i < 8; i++)
                EXPECT_EQ(0u, owner.events[0].w[i]) << "the error half is not passed";
        }
    }
    owner.events.clear();
    SendMessageW(main.window(), g_ddApp->winsockMessage, 9999, MAKELPARAM(FD_READ, 0));
    EXPECT_TRUE(owner.events.empty());
}

TEST_F(MainWindow, ARealSocketsDataReachesItsOwner) {
    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    listen(listener, 1);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(0, connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a));
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, server);

    TestEngine owner;
    diUIObjectInit(&owner.hdr, DI_OBJ_SOAP, 0, 0);
    owner.hdr.handler = testEngineHandler;
    LinkedSocket linked(server, &owner.hdr);
    ASSERT_EQ(0,
              WSAAsyncSelect(server, main.window(), g_ddApp->winsockMessage, FD_READ | FD_CLOSE));
    send(client, "ping", 4, 0);
    closesocket(client);
    // Wait (bounded) for the readable and closed events to come through.
    for (int i = 0; i < 100 && eventsOf(owner, {DI_EV_CLOSED}).empty(); i++) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        pumpMessages();
        if (!eventsOf(owner, {DI_EV_READABLE}).empty()) {
            char buf[8];
            recv(server, buf, sizeof buf, 0); // re-arms FD_READ and lets FD_CLOSE come
        }
    }
    EXPECT_FALSE(eventsOf(owner, {DI_EV_READABLE}).empty());
    EXPECT_FALSE(eventsOf(owner, {DI_EV_CLOSED}).empty());
    WSAAsyncSelect(server, main.window(), 0, 0);
    closesocket(server);
    closesocket(listener);
    WSACleanup();
}

// A launch record: 3592 bytes with the argument text at byte 3080.
std::vector<uint8_t> launchRecord(const std::u16string& args, size_t size = 3592) {
    std::vector<uint8_t> r(size, 0);
    for (size_t i = 0; i < args.size() && 3080 + 2 * i + 1 < size; i++) {
        r[3080 + 2 * i] = uint8_t(args[i]);
        r[3080 + 2 * i + 1] = uint8_t(args[i] >> 8);
    }
    return r;
}

std::u16string currentArgs() {
    const DiChar* a = g_ddApp->opt.objectArgs;
    return a ? std::u16string(a) : std::u16string();
}

TEST_F(MainWindow, LaunchRecordsInThisProcess) {
    free(g_ddApp->opt.objectArgs);
    g_ddApp->opt.objectArgs = nullptr;
    struct {
        const char* name;
        std::vector<uint8_t> record;
        bool nullData;
        LRESULT want;
        std::u16string wantArgs;
    } cases[] = {
        {"whole record", launchRecord(u"-app one"), false, 1, u"-app one"},
        {"empty text keeps the old value", launchRecord(u""), false, 1, u"-app one"},
        {"short record refused", launchRecord(u"-app two", 3200), false, 0, u"-app one"},
        {"null data refused", launchRecord(u"-app three"), true, 0, u"-app one"},
        // A text that fills its field without a terminator ends at the field.
        {"unterminated text", launchRecord(std::u16string(300, u'x')), false, 1,
         std::u16string(256, u'x')},
        {"longer record read as a whole one", launchRecord(u"-app four", 5000), false, 1,
         u"-app four"},
    };
    for (auto& c : cases) {
        COPYDATASTRUCT cds = {};
        cds.cbData = DWORD(c.record.size());
        cds.lpData = c.nullData ? nullptr : c.record.data();
        EXPECT_EQ(c.want,
                  SendMessageW(main.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)))
            << c.name;
        EXPECT_EQ(c.wantArgs, currentArgs()) << c.name;
    }
    pumpMessages();
}

// Runs the sender program against the main window, pumping messages until it
// ends; returns its exit code.
DWORD runSender(HWND target, const wchar_t* size, const wchar_t* text) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"copydata_sender.exe";
    std::wstring cmd = L"\"" + path + L"\" " +
                       std::to_wstring(reinterpret_cast<uintptr_t>(target)) + L" " + size + L" " +
                       text;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return DWORD(-1);
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 30000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1) {
            TerminateProcess(pi.hProcess, 99);
            break;
        }
        pumpMessages();
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

TEST_F(MainWindow, LaunchRecordFromASecondProcessIsAnsweredAndAShortOneRefused) {
    free(g_ddApp->opt.objectArgs);
    g_ddApp->opt.objectArgs = nullptr;
    // The sender exits 103 when its window got "QVLWebtopLaunch" with 103.
    EXPECT_EQ(103u, runSender(main.window(), L"3592", L"-objectname=calc"));
    EXPECT_EQ(u"-objectname=calc", currentArgs());
    EXPECT_EQ(1u, runSender(main.window(), L"100", L"-objectname=other"));
    EXPECT_EQ(u"-objectname=calc", currentArgs());
}

struct OutpostLog {
    int creates = 0, destroys = 0, exits = 0;
    bool windowAliveAfterNestedEnd = false;
};
OutpostLog g_outpost;

TEST_F(MainWindow, EndArrivingWhileTheOutpostStartsIsDropped) {
    g_outpost = OutpostLog();
    g_ddUIOutpost.create = [] {
        g_outpost.creates++;
        // A nested loop delivers the end message during the start.
        SendMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_END, 0, 0);
        SendMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_END, 0, 0);
        g_outpost.windowAliveAfterNestedEnd = IsWindow(g_ddApp->mainWindow) != 0;
        return 0; // the start fails
    };
    g_ddUIOutpost.destroy = [] { return ++g_outpost.destroys; };
    HWND w = main.window();
    SendMessageW(w, DD_MSG_OUTPOST_CREATE, 0, 0);
    EXPECT_EQ(1, g_outpost.creates);
    EXPECT_TRUE(g_outpost.windowAliveAfterNestedEnd);
    EXPECT_EQ(0, g_outpost.destroys);
    // The failed start posted the end: now it is handled, once.
    EXPECT_TRUE(pumpMessages());
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(1, g_outpost.destroys);
    EXPECT_EQ(nullptr, g_ddApp->mainWindow);
}

// The user's Exit during a start that goes well comes once it returned.
TEST_F(MainWindow, EndArrivingWhileTheOutpostStartsComesAfterASuccessfulStart) {
    g_outpost = OutpostLog();
    g_ddUIOutpost.create = [] {
        SendMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_END, 0, 0);
        return 1;
    };
    g_ddUIOutpost.destroy = [] { return ++g_outpost.destroys; };
    HWND w = main.window();
    SendMessageW(w, DD_MSG_OUTPOST_CREATE, 0, 0);
    EXPECT_EQ(0, g_outpost.destroys);
    pumpMessages();
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(1, g_outpost.destroys);
}

TEST(FrameClose, EngineThatDestroysItsFrameOnCloseIsNotDestroyedTwice) {
    for (bool engineDestroys : {false, true}) {
        TestFrame f;
        f.create(3, DI_OBJ_TDE, 100, 100);
        HWND w = f.window();
        // The engine's views are destroyed with the frame window.
        f.engine.arg = &f;
        if (engineDestroys)
            f.engine.onEvent = [](TestEngine* e, DiEvent* ev) {
                if (ev->w[0] == DI_EV_WINDOW_CLOSED) {
                    TestFrame* tf = static_cast<TestFrame*>(e->arg);
                    diUIDestroyFrame(tf->frame);
                }
                return 1;
            };
        SendMessageW(w, WM_CLOSE, 0, 0);
        ASSERT_FALSE(eventsOf(f.engine, {DI_EV_WINDOW_CLOSED}).empty());
        EXPECT_FALSE(IsWindow(w)) << engineDestroys;
        EXPECT_EQ(nullptr, ddUIFindFrame(w));
        EXPECT_EQ(nullptr, diUIFrameListHead());
        // Everything is gone already; the fixture has nothing left to free.
        f.engine.hdr.gc = f.manager.hdr.gc = nullptr;
        f.frame = nullptr;
        pumpMessages();
    }
}

TEST(FrameSysCommand, ScalingIdsAndOtherCommandsReachTheEngine) {
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 100, 100);
    SendMessageW(f.window(), WM_SYSCOMMAND, 0x1230, 0);
    auto cmds = eventsOf(f.engine, {DI_EV_COMMAND});
    ASSERT_EQ(1u, cmds.size());
    EXPECT_EQ(0x1230u, cmds[0].w[1]);
    EXPECT_EQ(1u, cmds[0].w[2]);
}

} // namespace

namespace {

TEST(FramePalette, KeptRealisedAndOfferedWhenTheFrameGetsTheFocus) {
    TestFrame f;
    f.create(3, DI_OBJ_TDE, 100, 100);
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[3];
    } lp = {};
    lp.head.palVersion = 0x300;
    lp.head.palNumEntries = 4;
    HPALETTE pal = CreatePalette(&lp.head);
    ASSERT_NE(nullptr, pal);
    EXPECT_EQ(0, SendMessageW(f.window(), WM_QUERYNEWPALETTE, 0, 0)) << "no palette yet";
    ddUISetFramePalette(f.frame, pal);
    EXPECT_EQ(pal, f.dd()->palette);
    EXPECT_EQ(1, SendMessageW(f.window(), WM_QUERYNEWPALETTE, 0, 0));
    // While this layer realises a palette, palette messages are left alone.
    g_ddUIRealizing = 1;
    EXPECT_EQ(0, SendMessageW(f.window(), WM_QUERYNEWPALETTE, 0, 0));
    g_ddUIRealizing = 0;
    // The realisation puts the window's previous palette back.
    HDC dc = GetDC(f.window());
    EXPECT_NE(pal, GetCurrentObject(dc, OBJ_PAL));
    ReleaseDC(f.window(), dc);
    ddUISetFramePalette(f.frame, nullptr);
    EXPECT_EQ(nullptr, f.dd()->palette);
    f.destroy();
    DeleteObject(pal);
}

} // namespace
