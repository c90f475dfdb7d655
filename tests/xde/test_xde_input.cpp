// Keys and the pointer end to end: xdotool drives the X server under Wine,
// Wine delivers its messages to the view of an X top-level window's frame,
// and the client messages the display then buffers for the server are
// compared with what the protocol gives for those messages. tools/wine-with-
// keymap runs the program on a private X server whose keymap (us, fr, de)
// it names in HV_KEYMAP; without it the cases are skipped.
//
// Wire notation: K+code,char / K-code,char key press / release (23, 24);
// B+n / B-n button press / release (3, 4) and D n double click (30) at x,y;
// M x,y motion (5); W delta,notches wheel (40); FI w / FO w focus in / out
// (27, 28); MOD m modifier state (9, hexadecimal); A w,v activation (36).
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "core/ditimer.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "support/host_command.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// Runs messages (translated, as the client's loop does) and due timers for
// `ms` milliseconds, or until the mark exists and `ms` more have passed.
void pump(const std::string& mark, DWORD ms) {
    DWORD start = GetTickCount(), endAt = 0;
    while (true) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            // HV_KEYLOG: the keyboard messages Wine delivered, for a new table.
            if (m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST && getenv("HV_KEYLOG"))
                printf("    msg %04x vk %02x lp %08lx\n", m.message, unsigned(m.wParam),
                       static_cast<unsigned long>(m.lParam));
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        diTimerDispatch(ddTimerNow());
        DWORD now = GetTickCount();
        if (!endAt && (mark.empty() || hvHostEnded(mark) || now - start > 20000)) endAt = now + ms;
        if (endAt && int32_t(now - endAt) >= 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

uint32_t u16(const std::vector<uint8_t>& p, size_t i) {
    return i + 1 < p.size() ? p[i] | uint32_t(p[i + 1]) << 8 : 0xFFFFFFFF;
}

// The buffered client messages in wire notation; the buffer is emptied.
std::string takeWire(DiXDisplay* d) {
    std::string out;
    const uint8_t* p = d->ch.out.data + d->ch.out.consumed;
    const uint8_t* end = d->ch.out.data + d->ch.out.used;
    while (end - p >= 3) {
        uint32_t n = p[1] | uint32_t(p[2]) << 8;
        if (uint32_t(end - p - 3) < n) break;
        std::vector<uint8_t> v(p + 3, p + 3 + n);
        char s[64];
        switch (p[0]) {
        case 23:
        case 24:
            snprintf(s, sizeof s, "K%c%u,%u", p[0] == 23 ? '+' : '-', u16(v, 0), u16(v, 2));
            break;
        case 3:
        case 4:
        case 30:
            snprintf(s, sizeof s, "%s%u@%u,%u", p[0] == 3 ? "B+" : p[0] == 4 ? "B-" : "D ",
                     v.size() > 1 ? v[1] : 0, u16(v, 2), u16(v, 4));
            break;
        case 5:
            snprintf(s, sizeof s, "M %u,%u", u16(v, 1), u16(v, 3));
            break;
        case 40:
            snprintf(s, sizeof s, "W %d,%d", int16_t(u16(v, 1)), int16_t(u16(v, 3)));
            break;
        case 27:
        case 28:
            snprintf(s, sizeof s, "%s %u", p[0] == 27 ? "FI" : "FO", v.empty() ? 0 : v[0]);
            break;
        case 9:
            snprintf(s, sizeof s, "MOD %x", u16(v, 0));
            break;
        case 36:
            snprintf(s, sizeof s, "A %u,%d", v.size() > 0 ? v[0] : 0,
                     v.size() > 1 ? int8_t(v[1]) : 0);
            break;
        default:
            snprintf(s, sizeof s, "#%u", p[0]);
            break;
        }
        if (!out.empty()) out += ' ';
        out += s;
        p += 3 + n;
    }
    d->ch.out.used = d->ch.out.consumed = 0;
    return out;
}

std::string keymap() {
    const char* k = getenv("HV_KEYMAP");
    return k ? k : "";
}

// One X top-level window in multi-window mode: its frame and view are real
// Windows windows on the X server; a second plain window takes the focus
// away when a case needs it.
struct Input : ::testing::Test {
    HWND host = nullptr, other = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    HWND view = nullptr, frame = nullptr;
    std::string title;

    void SetUp() override {
        if (keymap().empty()) GTEST_SKIP() << "no keymap named (tools/wine-with-keymap)";
        static bool init = ddUIInit(nullptr, GetModuleHandleW(nullptr)) == 1;
        ASSERT_TRUE(init);
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXInputHost";
        RegisterClassW(&wc);
        host = CreateWindowW(L"HvXInputHost", L"host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host, nullptr);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, host, GetDC(host));
        ch = ddXDECreate(nullptr, 400, 300, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        d->sessionFlags |= DI_XSESSION_MULTI;
        d->screenWidth = 400, d->screenHeight = 300, d->depth = 24;
        ASSERT_EQ(diXDECreateScreen(d), 0);
        diXCreateWindow(d, 1, 100, 100, 200, 120, 4 | 8 | 16, 0, 0, 0);
        ASSERT_NE(d->windows[1], nullptr);
        ASSERT_NE(d->windows[1]->frame, nullptr);
        view = ddGDIGetWindow(d->windows[1]->frame->hdr.gc);
        frame = GetAncestor(view, GA_ROOT);
        title = "hv xinput " + std::to_string(GetCurrentProcessId());
        // The title goes through the engine, which keeps the caption.
        std::u16string title16(title.begin(), title.end());
        diXSetWindowTitleText(d, 1, title16.data(), uint32_t(title16.size()), 0);
        ShowWindow(frame, SW_SHOW);
        SetWindowPos(frame, HWND_TOP, 100, 100, 0, 0, SWP_NOSIZE);
        other = CreateWindowA("HvXInputHost", (title + " other").c_str(),
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 100, 200, 120, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
        // Every case starts with the view focused and nothing held.
        run("");
        SetForegroundWindow(frame);
        SetFocus(view);
        pump("", 300);
        takeWire(d);
    }
    void TearDown() override {
        if (d) diXDestroyAllWindows(d);
        if (ch) {
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (other) DestroyWindow(other);
        if (host) DestroyWindow(host);
    }
    std::string focusOn(const std::string& name) {
        return "W=$(xdotool search --name '^" + name + "$' | head -n 1); [ -n \\\"$W\\\" ] && "
               "xdotool windowactivate --sync $W 2>/dev/null; xdotool windowfocus --sync $W";
    }
    // Runs xdotool commands with the frame focused; the wire they caused.
    std::string run(const std::string& commands, DWORD settle = 300) {
        std::string mark =
            hvHostStart(focusOn(title) + (commands.empty() ? "" : "; sleep 0.3; " + commands));
        EXPECT_FALSE(mark.empty());
        pump(mark, settle);
        return takeWire(d);
    }
    POINT screen(int x, int y) {
        POINT p{x, y};
        ClientToScreen(view, &p);
        return p;
    }
    std::string at(int x, int y) {
        POINT p = screen(x, y);
        return "xdotool mousemove " + std::to_string(p.x) + " " + std::to_string(p.y) +
               "; sleep 0.2";
    }
};

// The wire without the messages of one kind (their notation's prefix).
std::string without(const std::string& wire, const std::string& prefix) {
    std::string out;
    size_t i = 0;
    while (i < wire.size()) {
        size_t j = wire.find(' ', i);
        // Two-part tokens ("M x,y", "FI w", ...) are joined back first.
        std::string tok = wire.substr(i, j == std::string::npos ? std::string::npos : j - i);
        size_t next = j == std::string::npos ? wire.size() : j + 1;
        if (!tok.empty() && tok[0] != 'K' && tok[0] != 'B' && next < wire.size()) {
            size_t k = wire.find(' ', next);
            tok += ' ' + wire.substr(next, k == std::string::npos ? std::string::npos : k - next);
            next = k == std::string::npos ? wire.size() : k + 1;
        }
        if (tok.rfind(prefix, 0) != 0) out += (out.empty() ? "" : " ") + tok;
        i = next;
    }
    return out;
}

// Only the key messages: focus and activation of the frame are not part of
// a key case.
std::string keysOnly(const std::string& wire) {
    std::string out;
    size_t i = 0;
    while (i < wire.size()) {
        size_t j = wire.find(' ', i);
        std::string tok = wire.substr(i, j == std::string::npos ? std::string::npos : j - i);
        if (tok.rfind("K", 0) == 0) out += (out.empty() ? "" : " ") + tok;
        i = j == std::string::npos ? wire.size() : j + 1;
    }
    return out;
}

struct KeyCase {
    const char* name;
    const char* keys; // xdotool arguments of "key"
    uint32_t flags;   // display flags for the case
    const char* us;
    const char* fr;
    const char* de;
};

// What the protocol gives for the messages Wine delivers for each key, by
// keymap (null: the keymap has no such key).
const KeyCase kKeyCases[] = {
    {"letter", "a", 0, "K+0,97 K-0,97", "K+0,97 K-0,97", "K+0,97 K-0,97"},
    {"shift letter", "shift+a", 0, "K+16,0 K+0,65 K-16,0 K-0,65", "K+16,0 K+0,65 K-16,0 K-0,65",
     "K+16,0 K+0,65 K-16,0 K-0,65"},
    // Ctrl+C brings the control character; Ctrl+2 none, so its fallback code.
    {"ctrl letter", "ctrl+c", 0, "K+17,0 K+0,3 K-17,0 K-0,3", "K+17,0 K+0,3 K-17,0 K-0,3",
     "K+17,0 K+0,3 K-17,0 K-0,3"},
    {"ctrl digit", "ctrl+2", 0, "K+17,0 K+50,0 K-17,0 K-50,0", nullptr,
     "K+17,0 K+50,0 K-17,0 K-50,0"},
    {"return", "Return", 0, "K+10,0 K-10,0", "K+10,0 K-10,0", "K+10,0 K-10,0"},
    {"keypad enter", "KP_Enter", 0, "K+10,13 K-10,13", "K+10,13 K-10,13", "K+10,13 K-10,13"},
    {"f1", "F1", 0, "K+112,0 K-112,0", "K+112,0 K-112,0", "K+112,0 K-112,0"},
    // Wine presses the left key as well; with both Shifts down the release
    // of one releases the other first.
    {"right shift", "Shift_R", 0, "K+16,0 K+16,0 K-16,0 K-16,0 K-16,0",
     "K+16,0 K+16,0 K-16,0 K-16,0 K-16,0", "K+16,0 K+16,0 K-16,0 K-16,0 K-16,0"},
    {"right ctrl", "Control_R", 0, "K+17,0 K+17,0 K-17,0 K-17,0", "K+17,0 K+17,0 K-17,0 K-17,0",
     "K+17,0 K+17,0 K-17,0 K-17,0"},
    {"right shift kept", "Shift_R", DI_XFLAG_MODMAP, "K+16,0 K+161,0 K-161,0 K-16,0 K-161,0",
     "K+16,0 K+161,0 K-161,0 K-16,0 K-161,0", "K+16,0 K+161,0 K-161,0 K-16,0 K-161,0"},
    {"right ctrl kept", "Control_R", DI_XFLAG_MODMAP, "K+17,0 K+163,0 K-17,0 K-163,0",
     "K+17,0 K+163,0 K-17,0 K-163,0", "K+17,0 K+163,0 K-17,0 K-163,0"},
    {"keypad enter kept", "KP_Enter", DI_XFLAG_MODMAP, "K+176,13 K-176,13", "K+176,13 K-176,13",
     "K+176,13 K-176,13"},
    // AltGr comes as an OEM key: 222 on fr (fallback 192), 223 on de (no
    // code, no character); the character comes with the letter.
    {"at sign", "at", 0, "K+16,0 K+0,64 K-16,0 K-0,64", "K+192,0 K+0,64 K-192,0 K-0,64",
     "K+0,0 K+0,64 K-0,0 K-0,64"},
    {"euro sign", "EuroSign", 0, "K+8364,0 K-8364,0", "K+192,0 K+8364,0 K-192,0 K-8364,0",
     "K+0,0 K+8364,0 K-0,0 K-8364,0"},
    // After the euro sign, whose base key is e: the dead key's press never
    // comes, its release does; the composition is a key of its own, and the
    // e's release must not carry the euro sign it made before.
    {"dead circumflex", "dead_circumflex e", 0, nullptr, "K-0,0 K+0,234 K-69,0",
     "K+0,0 K-0,0 K-192,0 K+0,234 K-69,0"},
};

TEST_F(Input, KeysArriveAsTheProtocolGivesThem) {
    std::string map = keymap();
    for (const KeyCase& c : kKeyCases) {
        const char* want = map == "us" ? c.us : map == "fr" ? c.fr : c.de;
        if (!want) continue;
        d->flags = (d->flags & ~uint32_t(DI_XFLAG_MODMAP)) | c.flags;
        std::string got = keysOnly(run(std::string("xdotool key --delay 60 ") + c.keys));
        EXPECT_EQ(got, want) << map << ", " << c.name;
    }
}

// A held key repeats as presses of the same bytes and ends with one release.
TEST_F(Input, HeldKeyRepeatsItsPress) {
    std::string got = keysOnly(run("xdotool keydown a; sleep 1.2; xdotool keyup a"));
    size_t presses = 0, pos = 0;
    while ((pos = got.find("K+0,97", pos)) != std::string::npos)
        presses++, pos++;
    EXPECT_GE(presses, 3u) << got;
    std::string last = got.substr(got.rfind(' ') + 1);
    EXPECT_EQ(last, "K-0,97");
    EXPECT_EQ(got.find("K-"), got.rfind("K-")) << got; // one release only
}

// Alt held (on the X server) while the focus goes to another window and
// comes back: focus out, then focus in with the modifier state that holds
// at that moment. The focus moves in-process: without a window manager the
// X server's focus does not activate Wine's windows.
TEST_F(Input, FocusComesBackWithTheLiveModifiers) {
    std::string wire = run("xdotool keydown alt");
    SetForegroundWindow(other);
    SetFocus(other);
    pump("", 200);
    wire += " " + takeWire(d);
    SetForegroundWindow(frame);
    SetFocus(view);
    pump("", 200);
    wire += " " + takeWire(d);
    wire += " " + run("xdotool keyup alt");
    EXPECT_EQ(wire, "K+18,0 FO 1 FI 1 MOD 8 A 1,-1 K-18,0");
}

// Messages posted in-process: Ctrl followed by an extended Alt (AltGr) gives
// only the right Alt, folded; a dead key's press gives nothing and the
// composed character comes with the next key.
TEST_F(Input, AltGrAndDeadCharMessagesPostedInProcess) {
    auto posted = [&](std::initializer_list<MSG> msgs) {
        for (const MSG& m : msgs)
            PostMessageW(view, m.message, m.wParam, m.lParam);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        return takeWire(d);
    };
    auto msg = [&](UINT message, WPARAM wp, LPARAM lp) {
        MSG m{};
        m.message = message, m.wParam = wp, m.lParam = lp;
        return m;
    };
    EXPECT_EQ(posted({msg(WM_KEYDOWN, VK_CONTROL, 0x001D0001), msg(WM_KEYDOWN, VK_MENU, 0x01380001)}),
              "K+18,0");
    EXPECT_EQ(posted({msg(WM_KEYUP, VK_CONTROL, 0xC01D0001), msg(WM_KEYUP, VK_MENU, 0xC1380001)}),
              "K-18,0");
    d->flags |= DI_XFLAG_MODMAP;
    EXPECT_EQ(posted({msg(WM_KEYDOWN, VK_CONTROL, 0x001D0001), msg(WM_KEYDOWN, VK_MENU, 0x01380001)}),
              "K+165,0");
    EXPECT_EQ(posted({msg(WM_KEYUP, VK_CONTROL, 0xC01D0001), msg(WM_KEYUP, VK_MENU, 0xC1380001)}),
              "K-165,0");
    EXPECT_EQ(posted({msg(WM_KEYDOWN, 0xDD, 0x001A0001), msg(WM_DEADCHAR, '^', 0x001A0001)}), "");
    EXPECT_EQ(posted({msg(WM_KEYUP, 0xDD, 0xC01A0001)}), "K-0,0");
    EXPECT_EQ(posted({msg(WM_KEYDOWN, 'E', 0x00120001), msg(WM_CHAR, 0xEA, 0x00120001)}),
              "K+0,234");
    EXPECT_EQ(posted({msg(WM_KEYUP, 'E', 0xC0120001)}), "K-0,234");
}

// The pointer: buttons 1-3, a double click, the wheel both ways, motion
// held back past the throttle's count, and the middle button made of left
// and right pressed together. Positions are the view's.
TEST_F(Input, PointerEventsReachTheServer) {
    if (keymap() != "us") GTEST_SKIP() << "the pointer runs once, under us";
    run(at(50, 40));
    // Wine follows a release with a motion to the same place: left out here.
    auto buttons = [&](const std::string& commands) { return without(run(commands), "M "); };
    EXPECT_EQ(buttons("xdotool click 1; sleep 0.2; xdotool click 2; sleep 0.2; xdotool click 3"),
              "B+1@50,40 B-1@50,40 B+2@50,40 B-2@50,40 B+3@50,40 B-3@50,40");
    EXPECT_EQ(buttons("xdotool click --repeat 2 --delay 80 1"),
              "B+1@50,40 B-1@50,40 D 1@50,40 B-1@50,40");
    EXPECT_EQ(run("xdotool click 4; sleep 0.2; xdotool click 5"), "W 120,1 W -120,-1");
    // Two motions go at once, the rest wait for the timer, which sends the
    // last position.
    // The moves are spaced so that Wine does not merge them in the queue,
    // and all come well within the timer's delay.
    d->throttleCount[0] = 0, d->throttleThreshold[0] = 2, d->throttleDelay[0] = 1500;
    std::string moves;
    for (int i = 1; i <= 6; i++)
        moves += "xdotool mousemove_relative 3 2; sleep 0.05; ";
    EXPECT_EQ(run(moves + "sleep 0.05", 2000), "M 53,42 M 56,44 M 68,52");
    d->emulationDelay = 300;
    EXPECT_EQ(buttons("xdotool mousedown 1; xdotool mousedown 3; sleep 0.1; xdotool mouseup 1; "
                      "xdotool mouseup 3"),
              "B+2@68,52 B-2@68,52");
}

} // namespace
