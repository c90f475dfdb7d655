// The X display's Edit menu on a real window: the session clipboard asked
// for only while there is one, a rectangle dragged with the real pointer
// (xdotool on a private X server under Wine) copied to the clipboard and a
// cancelled drag copying nothing, the window printed through the printing
// options (tests/ui/print-dib.sh runs the DibPrinter case against a PDF
// printer), and the services the engine reaches through its table.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddui.h"
#include "xde/ddxde.h"
#include "xde/ddxedit.h"
#include "support/host_command.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const int kClientW = 160, kClientH = 80;

// Runs a shell command on the host, detached; the returned Windows path
// exists once the command has ended.
void waitEnded(const std::string& mark) {
    for (int i = 0; i < 1000 && !hvHostEnded(mark); i++) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        Sleep(10);
    }
}

// Ends a selection that input never finishes: losing the capture cancels it.
void CALLBACK giveUp(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    ReleaseCapture();
}

struct Edit : ::testing::Test {
    HWND window = nullptr;
    DdGC* gc = nullptr;
    DiChannel* ch = nullptr;
    DiXDisplay* d = nullptr;
    std::wstring title;

    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvXEditTest";
        wc.style = CS_OWNDC;
        RegisterClassW(&wc);
    }
    void SetUp() override {
        RECT r{0, 0, kClientW, kClientH};
        AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
        title = L"hv xedit " + std::to_wstring(GetCurrentProcessId());
        window = CreateWindowW(L"HvXEditTest", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                               40, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        gc = ddGDICreateGC();
        ddGDIAttach(gc, window, GetDC(window));
        ch = ddXDECreate(nullptr, kClientW, kClientH, gc, nullptr);
        ASSERT_NE(ch, nullptr);
        d = reinterpret_cast<DiXDisplay*>(ch);
        // Up and in front before anything reads its pixels (another program
        // may keep the foreground: then the guard ends the wait).
        DWORD start = GetTickCount();
        for (;;) {
            MSG m;
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&m);
            if (GetForegroundWindow() == window || GetTickCount() - start >= 5000) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    void TearDown() override {
        ddDlgResetHooks();
        if (ch) {
            ch->hdr.gc = nullptr;
            ddXDEDestroy(ch);
        }
        if (gc) ddGDIFreeGC(gc);
        if (window) DestroyWindow(window);
    }
    void command(uint32_t id) {
        DiEvent ev{};
        ev.w[0] = 17, ev.w[1] = id;
        ch->hdr.handler(&ch->hdr, &ev);
    }
    // Four quadrants: red, green / blue, black.
    void paintQuadrants() {
        HDC dc = GetDC(window);
        const COLORREF colours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(0, 0, 0)};
        for (int q = 0; q < 4; q++) {
            RECT r{(q % 2) * kClientW / 2, (q / 2) * kClientH / 2, (q % 2 + 1) * kClientW / 2,
                   (q / 2 + 1) * kClientH / 2};
            HBRUSH b = CreateSolidBrush(colours[q]);
            FillRect(dc, &r, b);
            DeleteObject(b);
        }
        GdiFlush();
        ReleaseDC(window, dc);
    }
    POINT screenPoint(int x, int y) {
        POINT p{x, y};
        ClientToScreen(window, &p);
        return p;
    }
    // The X window of our window, focused, for keys typed by xdotool.
    std::string focusCommand() {
        std::string name(title.begin(), title.end());
        return "W=$(xdotool search --name '" + name + "' | head -n 1); [ -n \\\"$W\\\" ] && "
               "xdotool windowfocus --sync $W";
    }
    bool clipboardText(std::wstring* out) {
        if (!OpenClipboard(nullptr)) return false;
        HANDLE h = GetClipboardData(CF_UNICODETEXT);
        const wchar_t* p = h ? static_cast<const wchar_t*>(GlobalLock(h)) : nullptr;
        if (p) *out = p;
        if (p) GlobalUnlock(h);
        CloseClipboard();
        return p != nullptr;
    }
    void putText(const wchar_t* text) {
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        size_t n = (wcslen(text) + 1) * sizeof(wchar_t);
        HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, n);
        memcpy(GlobalLock(g), text, n);
        GlobalUnlock(g);
        SetClipboardData(CF_UNICODETEXT, g);
        CloseClipboard();
    }
};

TEST_F(Edit, SessionClipboardIsAskedForOnlyWhileAvailableAndPrintedOnlyWhenAsked) {
    DdXDisplay* x = reinterpret_cast<DdXDisplay*>(d);
    command(40064);
    EXPECT_EQ(ch->out.used, 0u);
    // A refused print request must not leave the next copy marked for print.
    EXPECT_EQ(x->printOnArrival, 0u);
    d->flags |= DI_XFLAG_SESSION_CLIPBOARD;
    command(40061);
    ASSERT_EQ(ch->out.used, 3u);
    EXPECT_EQ(ch->out.data[0], 45);
    EXPECT_EQ(x->printOnArrival, 0u);
    ch->out.used = 0;
    command(40064);
    ASSERT_EQ(ch->out.used, 3u);
    EXPECT_EQ(ch->out.data[0], 45);
    EXPECT_EQ(x->printOnArrival, 1u);
}

// The rubber band follows the real pointer: the dragged rectangle (from the
// red quadrant into the black one) reaches CF_BITMAP at its size with the
// window's pixels; a drag ended by a key leaves the clipboard as it was.
TEST_F(Edit, DraggedRectangleIsCopiedAndACancelledDragCopiesNothing) {
    // The pointer is driven only on a private X server: on the shared one
    // it would land in other tests' windows.
    if (!getenv("HV_KEYMAP")) GTEST_SKIP() << "no private X server (tools/wine-with-keymap)";
    paintQuadrants();
    POINT a = screenPoint(20, 10), b = screenPoint(120, 60);
    char drag[512];
    snprintf(drag, sizeof drag,
             "sleep 1; xdotool mousemove %ld %ld; sleep 0.2; xdotool mousedown 1; sleep 0.2; "
             "xdotool mousemove %ld %ld; sleep 0.2; xdotool mousemove %ld %ld; sleep 0.2; "
             "xdotool mouseup 1",
             a.x, a.y, (a.x + b.x) / 2, (a.y + b.y) / 2, b.x, b.y);
    std::string mark = hvHostStart(drag);
    ASSERT_FALSE(mark.empty());
    SetTimer(nullptr, 0, 20000, giveUp);
    command(40062);
    waitEnded(mark);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HBITMAP bmp = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    ASSERT_NE(bmp, nullptr);
    BITMAP info{};
    GetObject(bmp, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 100);
    EXPECT_EQ(info.bmHeight, 50);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    EXPECT_EQ(GetPixel(mem, 10, 10), RGB(255, 0, 0)); // window (30, 20)
    EXPECT_EQ(GetPixel(mem, 90, 10), RGB(0, 255, 0)); // window (110, 20)
    EXPECT_EQ(GetPixel(mem, 10, 40), RGB(0, 0, 255)); // window (30, 50)
    EXPECT_EQ(GetPixel(mem, 90, 40), RGB(0, 0, 0));   // window (110, 50)
    SelectObject(mem, old);
    DeleteDC(mem);
    CloseClipboard();

    putText(L"kept");
    snprintf(drag, sizeof drag,
             "sleep 1; %s; xdotool mousemove %ld %ld; sleep 0.2; xdotool mousedown 1; sleep 0.2; "
             "xdotool mousemove %ld %ld; sleep 0.2; xdotool key Escape; sleep 0.2; "
             "xdotool mouseup 1",
             focusCommand().c_str(), a.x, a.y, b.x, b.y);
    mark = hvHostStart(drag);
    SetTimer(nullptr, 0, 20000, giveUp);
    command(40062);
    waitEnded(mark);
    std::wstring text;
    EXPECT_TRUE(clipboardText(&text));
    EXPECT_EQ(text, L"kept");
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_BITMAP));
}

// Free GDI handles: brushes made until creation fails, then given back.
int freeGdiHandles() {
    std::vector<HBRUSH> v;
    while (v.size() < 100000) {
        HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
        if (!b) break;
        v.push_back(b);
    }
    for (HBRUSH b : v) DeleteObject(b);
    return int(v.size());
}

// A cancelled print keeps the scale and gives back the captured bitmap.
TEST_F(Edit, PrintingOptionsCancelledPrintsNothingAndKeepsTheScale) {
    ddUISetPrintScale(3, 2, 5);
    g_ddDlgHooks.initDialog = [](HWND dlg, int id) {
        if (id != DD_DLG_PRINT_OPTIONS) return;
        SendMessageW(GetDlgItem(dlg, 1110), BM_CLICK, 0, 0);
        PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    };
    command(40066);
    int before = freeGdiHandles();
    for (int i = 0; i < 20; i++)
        command(40066);
    EXPECT_EQ(freeGdiHandles(), before);
    int mode;
    uint32_t sx, sy;
    ddUIGetPrintScale(&mode, &sx, &sy);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(sx, 2u);
    EXPECT_EQ(sy, 5u);
}

// The session start puts the Edit pop-up into the system menu of the
// display's own frame, greyed as the session allows.
TEST_F(Edit, SessionStartAddsTheEditMenuToTheDisplaysFrame) {
    DdFrame* frame = static_cast<DdFrame*>(calloc(1, sizeof(DdFrame)));
    frame->base.hdr.type = DI_OBJ_FRAME;
    frame->window = window;
    ch->hdr.parent = &frame->base.hdr;
    d->flags = (d->flags & ~DI_XFLAG_SESSION_CLIPBOARD) | 0x8000;
    ddXDeviceVector()->sessionStarted(d);
    HMENU sys = GetSystemMenu(window, FALSE);
    ASSERT_NE(sys, nullptr);
    HMENU edit = GetSubMenu(sys, GetMenuItemCount(sys) - 1);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(GetMenuState(edit, 40060, MF_BYCOMMAND) & MF_GRAYED); // no session clipboard
    EXPECT_TRUE(GetMenuState(edit, 40063, MF_BYCOMMAND) & MF_GRAYED); // copying refused
    GetSystemMenu(window, TRUE);
    d->flags = (d->flags | DI_XFLAG_SESSION_CLIPBOARD) & ~0x8000u;
    ddXDeviceVector()->sessionStarted(d);
    sys = GetSystemMenu(window, FALSE);
    edit = GetSubMenu(sys, GetMenuItemCount(sys) - 1);
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(GetMenuState(edit, 40060, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(edit, 40063, MF_BYCOMMAND) & MF_GRAYED);
    ch->hdr.parent = nullptr;
    free(frame);
}

// The open event's connect message describes the time zone and the
// keyboard through the table; the keyboard is kept for change notices.
TEST_F(Edit, OpenSendsTheTimeZoneAndKeepsTheKeyboard) {
    DiClientInfo info{};
    DiEvent ev{};
    ev.w[0] = 8;
    ev.ptr = &info;
    ch->hdr.handler(&ch->hdr, &ev);
    EXPECT_GT(ch->out.used, 0u);
    EXPECT_NE(d->keyboard, nullptr);
}

// Print Window through the printing options (best fit) on the default
// printer: tests/ui/print-dib.sh names the printer and checks the page.
struct DibPrinter : Edit {};

TEST_F(DibPrinter, PrintWindowCommandPrintsTheWindowBestFit) {
    wchar_t printer[128] = {};
    if (!GetEnvironmentVariableW(L"HV_TEST_PRINTER", printer, 128))
        GTEST_SKIP() << "no test printer";
    // Listing the printers makes the spooler take over the print server's
    // queues; the printer then becomes the default one.
    DWORD needed = 0, count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    ASSERT_TRUE(SetDefaultPrinterW(printer));
    paintQuadrants();
    g_ddDlgHooks.initDialog = [](HWND dlg, int id) {
        if (id != DD_DLG_PRINT_OPTIONS) return;
        SendMessageW(GetDlgItem(dlg, 1110), BM_CLICK, 0, 0); // best fit
        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    };
    ddUISetPrintScale(0, 1, 1);
    command(40066);
    int mode;
    uint32_t sx, sy;
    ddUIGetPrintScale(&mode, &sx, &sy);
    EXPECT_EQ(mode, 1); // kept for the next print
}

} // namespace
