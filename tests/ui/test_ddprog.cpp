/* The progress window's dialog under Wine: the states open and close it,
 * the controls are read back, buttons are pressed through the dialog, the
 * bar is drawn into a bitmap and its timer driven by a test clock. */
#include "core/ddapp.h"
#include "core/dide.h"
#include "ui/ddprog.h"
#include "ui/ddui.h"
#include "ui/digdi.h"
#include "ui/diui.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

uint32_t s_now;
uint32_t TestClock() {
    return s_now;
}

std::vector<RECT> s_bands; /* a zero rectangle stands for the whole bar */
void RecordBand(HWND, const RECT* band) {
    s_bands.push_back(band ? *band : RECT{0, 0, 0, 0});
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[4096];
    GetDlgItemTextW(dialog, id, text, 4096);
    return text;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (g_ddApp->modelessDialog && IsDialogMessageW(g_ddApp->modelessDialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

struct DialogTest : ::testing::Test {
    DiDEManager manager = {};
    DiObject* obj = nullptr;
    DdProgress* p = nullptr;

    void SetUp() override {
        static int classes = ddUIInit(nullptr, GetModuleHandleW(nullptr));
        ASSERT_NE(classes, 0);
        s_now = 1000;
        s_bands.clear();
        g_ddProgClock = TestClock;
        g_ddProgInvalidateHook = RecordBand;
        diUIObjectInit(&manager.hdr, DI_OBJ_DEMANAGER, 400, 300);
        DdGC* gc = ddGDICreateGC();
        obj = ddProgCreate(&manager.hdr, 400, 300, gc);
        ASSERT_NE(obj, nullptr);
        obj->gc = gc;
        manager.progress = obj;
        p = reinterpret_cast<DdProgress*>(obj);
    }
    void TearDown() override {
        if (manager.progress) diUIObjectRelease(manager.progress);
        g_ddProgClock = nullptr;
        g_ddProgInvalidateHook = nullptr;
        Pump();
    }
    HWND Dialog() { return ddProgDialog(obj); }
    int Height() {
        RECT r;
        GetWindowRect(Dialog(), &r);
        return r.bottom - r.top;
    }
    void Press(int id) { SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
};

TEST_F(DialogTest, OpeningStateShowsACollapsedDialogWithItsTexts) {
    diProgSetState(obj, 1, 0);
    HWND d = Dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(IsWindowVisible(d));
    EXPECT_EQ(g_ddApp->modelessDialog, d);
    EXPECT_EQ(ItemText(d, DD_PROG_STATUS), L"Starting the application...");
    EXPECT_EQ(ItemText(d, DD_PROG_CANCEL), L"Cancel");
    EXPECT_EQ(ItemText(d, DD_PROG_TOGGLE), L"&Details >>");
    EXPECT_EQ(ItemText(d, DD_PROG_LABEL), L"Details:");
    EXPECT_EQ(ItemText(d, DD_PROG_DETAILS), L"Starting the application...\r\n");
    wchar_t title[64];
    GetWindowTextW(d, title, 64);
    EXPECT_STREQ(title, L"Connection Progress");
    EXPECT_FALSE(ddProgIsExpanded(obj));
    EXPECT_EQ(Height(), p->collapsedHeight);
    EXPECT_LT(p->collapsedHeight, p->expandedHeight);
    /* The collapsed dialog ends where the marker begins: the buttons stay
     * inside, the details log falls outside. */
    RECT client, button, edit;
    GetClientRect(d, &client);
    GetWindowRect(GetDlgItem(d, DD_PROG_CANCEL), &button);
    GetWindowRect(GetDlgItem(d, DD_PROG_DETAILS), &edit);
    MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&button), 2);
    MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&edit), 2);
    EXPECT_LE(button.bottom, client.bottom);
    EXPECT_GE(edit.top, client.bottom);
    EXPECT_NE(p->timer, 0u);
}

TEST_F(DialogTest, StatesOpenCloseAndTurnCancelIntoClose) {
    static const struct {
        std::vector<int32_t> states;
        bool expand; /* press Details after the first state */
        bool open;   /* dialog open at the end */
        const wchar_t* button;
        const wchar_t* status;
    } rows[] = {
        {{1, 10, 4, 5}, false, false, nullptr, nullptr},
        {{1, 10, 4, 5}, true, true, L"&Close", L"Connected"},
        {{2, 6}, false, true, L"&Close", L"Session suspended."},
        {{13, 7}, false, true, L"&Close", L"Session ended."},
        {{1, 8}, false, true, L"&Close", L"Starting the application..."},
        {{1, 9, 4}, false, true, L"Cancel", L"Waiting for the server to respond..."},
        {{1, 0}, false, false, nullptr, nullptr},
        {{4, 10, 12}, false, false, nullptr, nullptr}, /* no opening state */
        {{6}, false, false, nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.states.size() * 100 + row.states.back());
        TearDown();
        SetUp();
        for (size_t i = 0; i < row.states.size(); i++) {
            diProgSetState(obj, row.states[i], 0);
            if (i == 0 && row.expand) {
                EnableWindow(GetDlgItem(Dialog(), DD_PROG_TOGGLE), TRUE);
                Press(DD_PROG_TOGGLE);
            }
        }
        ASSERT_EQ(Dialog() != nullptr, row.open);
        if (!row.open) continue;
        EXPECT_EQ(ItemText(Dialog(), DD_PROG_CANCEL), row.button);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Dialog(), DD_PROG_CANCEL)));
        EXPECT_EQ(ItemText(Dialog(), DD_PROG_STATUS), row.status);
    }
}

TEST_F(DialogTest, StoppingStatesFillTheBarAndAnsweringStopsIt) {
    diProgSetDuration(obj, 10000);
    diProgSetState(obj, 1, 0);
    EXPECT_NE(p->timer, 0u);
    diProgSetState(obj, 9, 0);
    EXPECT_EQ(p->timer, 0u);
    EXPECT_EQ(p->percent, 0);
    s_now += 5000;
    diProgSetState(obj, 11, 0); /* starts again from 0 */
    EXPECT_NE(p->timer, 0u);
    EXPECT_EQ(p->startTick, s_now);
    diProgSetState(obj, 6, 0);
    EXPECT_EQ(p->timer, 0u);
    EXPECT_EQ(p->percent, 100);
}

TEST_F(DialogTest, FailureWithDetailOpensExpandsAndLogs) {
    diProgSetAutoDetails(obj, 1);
    diProgSetState(obj, 10, 0);
    ASSERT_EQ(Dialog(), nullptr);
    diProgSetState(obj, 14, 12);
    HWND d = Dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(ItemText(d, DD_PROG_STATUS), L"Session failed: Session ended.");
    EXPECT_EQ(ItemText(d, DD_PROG_CANCEL), L"&Close");
    EXPECT_TRUE(ddProgIsExpanded(obj));
    EXPECT_EQ(Height(), p->expandedHeight);
    EXPECT_EQ(ItemText(d, DD_PROG_TOGGLE), L"<< &Details");
    EXPECT_EQ(p->percent, 100);
    EXPECT_EQ(ItemText(d, DD_PROG_DETAILS),
              L"Connecting to Protocol Engine...\r\nSession failed: Session ended.\r\n");
    /* State 8 afterwards keeps the text and logs nothing more. */
    diProgSetState(obj, 8, 0);
    EXPECT_EQ(ItemText(d, DD_PROG_STATUS), L"Session failed: Session ended.");
    EXPECT_EQ(ItemText(d, DD_PROG_DETAILS),
              L"Connecting to Protocol Engine...\r\nSession failed: Session ended.\r\n");
}

TEST_F(DialogTest, DetailsControlBreaksLongLinesAndEveryLineEnd) {
    diProgSetState(obj, 13, 0);
    EXPECT_EQ(p->timer, 0u); /* 13 opens without starting the bar */
    std::u16string text(300, u'q');
    text += u"\rA\nB\n\rC";
    diProgAppendDetails(obj, -1, text.c_str());
    std::wstring expected = L"About to start the application...\r\n" + std::wstring(253, L'q') +
                            L"\r\n" + std::wstring(47, L'q') + L"\r\nA\r\nB\r\nC\r\n";
    EXPECT_EQ(ItemText(Dialog(), DD_PROG_DETAILS), expected);
    DWORD start = 1, end = 1;
    SendDlgItemMessageW(Dialog(), DD_PROG_DETAILS, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 0u);
}

TEST_F(DialogTest, AppendedLinesMatchAWholeRefill) {
    diProgSetState(obj, 13, 0);
    const std::u16string entries[] = {u"a\n", u"\rb",   u"c\r", u"\nd", std::u16string(600, u'e'),
                                      u"",    u"f\n\r", u"\r\r"};
    for (const std::u16string& e : entries)
        diProgAppendDetails(obj, -1, e.c_str());
    std::wstring appended = ItemText(Dialog(), DD_PROG_DETAILS);
    ddProgUpdate(obj, 3); /* refills the whole control */
    EXPECT_EQ(ItemText(Dialog(), DD_PROG_DETAILS), appended);
    EXPECT_NE(appended.find(L"\r\nb\r\n"), std::wstring::npos);
}

TEST_F(DialogTest, DetailsButtonTogglesSizeAndText) {
    diProgSetState(obj, 1, 0);
    ddProgEnableDetails(obj, 1);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Dialog(), DD_PROG_TOGGLE)));
    Press(DD_PROG_TOGGLE);
    EXPECT_TRUE(ddProgIsExpanded(obj));
    EXPECT_EQ(Height(), p->expandedHeight);
    EXPECT_EQ(ItemText(Dialog(), DD_PROG_TOGGLE), L"<< &Details");
    Press(DD_PROG_TOGGLE);
    EXPECT_FALSE(ddProgIsExpanded(obj));
    EXPECT_EQ(Height(), p->collapsedHeight);
    EXPECT_EQ(ItemText(Dialog(), DD_PROG_TOGGLE), L"&Details >>");
    ddProgEnableDetails(obj, 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Dialog(), DD_PROG_TOGGLE)));
}

TEST_F(DialogTest, EnterClosesTheDialogOnly) {
    diProgSetState(obj, 1, 0);
    HWND d = Dialog();
    SetFocus(GetDlgItem(d, DD_PROG_CANCEL));
    Press(IDOK);
    EXPECT_FALSE(IsWindow(d));
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(g_ddApp->modelessDialog, nullptr);
    EXPECT_EQ(manager.progress, obj);
    EXPECT_EQ(obj->refCount, 1);
    /* Another opening state opens it again. */
    diProgSetState(obj, 2, 0);
    EXPECT_NE(Dialog(), nullptr);
}

TEST_F(DialogTest, DialogDestroyedFromOutsideIsForgotten) {
    diProgSetDuration(obj, 1000);
    diProgSetState(obj, 1, 0);
    DestroyWindow(Dialog());
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(p->timer, 0u);
    EXPECT_EQ(p->dialogGC, nullptr);
    EXPECT_EQ(g_ddApp->modelessDialog, nullptr);
    diProgSetState(obj, 7, 0); /* no dialog to update */
    diProgSetState(obj, 2, 0);
    EXPECT_NE(Dialog(), nullptr);
}

TEST_F(DialogTest, ManagerActivationHidesTheDialogUnlessItsDetailsAreOpen) {
    diProgSetState(obj, 1, 0);
    HWND d = Dialog();
    diDEManagerActivate(&manager, 1);
    EXPECT_FALSE(IsWindowVisible(d));
    diDEManagerActivate(&manager, 0);
    EXPECT_TRUE(IsWindowVisible(d));
    ddProgShowDetails(obj, 1);
    diDEManagerActivate(&manager, 1);
    EXPECT_TRUE(IsWindowVisible(d));
}

TEST_F(DialogTest, EscapeAndCancelCloseTheDialogThenFreeTheObject) {
    for (int viaEscape = 0; viaEscape < 2; viaEscape++) {
        SCOPED_TRACE(viaEscape);
        TearDown();
        SetUp();
        diProgSetState(obj, 4, 0);
        diProgSetState(obj, 1, 0);
        HWND d = Dialog();
        HWND view = p->view;
        ASSERT_TRUE(IsWindow(view));
        if (viaEscape) {
            MSG msg = {GetDlgItem(d, DD_PROG_CANCEL), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
            EXPECT_TRUE(IsDialogMessageW(d, &msg));
        } else {
            Press(IDCANCEL);
        }
        EXPECT_FALSE(IsWindow(d));
        EXPECT_EQ(g_ddApp->modelessDialog, nullptr);
        EXPECT_EQ(manager.progress, nullptr);
        EXPECT_FALSE(IsWindow(view)) << "the object was not destroyed";
        obj = nullptr;
        p = nullptr;
    }
}

TEST_F(DialogTest, CancelKeepsAnObjectThatOthersStillHold) {
    diUIObjectRef(obj);
    diProgSetState(obj, 1, 0);
    Press(IDCANCEL);
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(manager.progress, nullptr);
    EXPECT_EQ(obj->refCount, 1);
    EXPECT_TRUE(IsWindow(p->view));
    diUIObjectRelease(obj);
}

TEST_F(DialogTest, BarTimerInvalidatesOnlyTheNewBand) {
    diProgSetDuration(obj, 1000);
    diProgSetState(obj, 1, 0);
    HWND bar = GetDlgItem(Dialog(), DD_PROG_BAR);
    RECT r;
    GetClientRect(bar, &r);
    int32_t w = r.right, h = r.bottom;
    ASSERT_GT(w, 100);
    s_bands.clear();
    s_now += 250;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    s_now += 250;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0); /* no change: nothing */
    ASSERT_EQ(s_bands.size(), 2u);
    EXPECT_EQ(s_bands[0].left, 2);
    EXPECT_EQ(s_bands[0].right, 2 + (w - 4) * 25 / 100);
    EXPECT_EQ(s_bands[1].left, 2 + (w - 4) * 25 / 100);
    EXPECT_EQ(s_bands[1].right, 2 + (w - 4) * 50 / 100);
    for (const RECT& b : s_bands) {
        EXPECT_EQ(b.top, 2);
        EXPECT_EQ(b.bottom, h - 2);
    }
    EXPECT_EQ(p->percent, 50);
    /* A step back repaints the whole bar; the end holds at 100 and stops. */
    p->startTick += 400;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    EXPECT_EQ(p->percent, 10);
    s_now += 5000;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    ASSERT_EQ(s_bands.size(), 4u);
    EXPECT_EQ(s_bands[2].right, 0);
    EXPECT_EQ(s_bands[3].right, 0);
    EXPECT_EQ(p->percent, 100);
    EXPECT_EQ(p->timer, 0u);
}

TEST_F(DialogTest, BarWithoutDurationStandsStillUntilAStoppingState) {
    diProgSetState(obj, 1, 0);
    s_now += 100000;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    EXPECT_EQ(p->percent, 0);
    diProgSetDuration(obj, 65535000); /* the longest wait */
    s_now += 60000000;
    SendMessageW(Dialog(), WM_TIMER, DD_PROG_TIMER_ID, 0);
    EXPECT_EQ(p->percent, 91);
}

TEST(ProgThroughChannels, EngineReportsReachTheDialogWithTheirDetailMessage) {
    ddUIInit(nullptr, GetModuleHandleW(nullptr));
    DiDEManager m = {};
    diUIObjectInit(&m.hdr, DI_OBJ_DEMANAGER, 300, 200);
    EXPECT_EQ(diUICreateProgressWindow(&m.hdr, DI_OBJ_FRAME, 300, 200), nullptr);
    m.progress = diUICreateProgressWindow(&m.hdr, DI_OBJ_PROGRESS, 300, 200);
    ASSERT_NE(m.progress, nullptr);
    EXPECT_EQ(m.progress->parent, &m.hdr);
    DiChannel ch = {};
    ch.hdr.parent = &m.hdr;
    diDEReportState(&ch, 1, 0);
    diDEReportState(&ch, 14, 12); /* "Session ended." as the detail */
    HWND d = ddProgDialog(m.progress);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(ItemText(d, DD_PROG_STATUS), L"Session failed: Session ended.");
    DiObject* progress = m.progress;
    HWND view = reinterpret_cast<DdProgress*>(progress)->view;
    SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(m.progress, nullptr);
    EXPECT_FALSE(IsWindow(d));
    EXPECT_FALSE(IsWindow(view));
}

TEST(ProgBarDrawing, FillsFourLessThanTheWidthTimesPercent) {
    const int w = 104, h = 12;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bmp, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    auto px = [&](int x, int y) {
        uint32_t v = static_cast<uint32_t*>(bits)[y * w + x];
        return COLORREF(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
    };
    const COLORREF blue = RGB(0, 0, 128), face = GetSysColor(COLOR_BTNFACE);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    for (int percent : {0, 1, 33, 50, 99, 100}) {
        SCOPED_TRACE(percent);
        ddProgDrawBar(dc, w, h, percent);
        GdiFlush();
        int fill = (w - 4) * percent / 100;
        for (int y = 2; y < h - 2; y++) {
            if (fill > 0) {
                EXPECT_EQ(px(2, y), blue);
                EXPECT_EQ(px(1 + fill, y), blue);
            }
            if (fill < w - 4) {
                EXPECT_EQ(px(2 + fill, y), face);
                EXPECT_EQ(px(w - 3, y), face);
            }
        }
        EXPECT_EQ(px(0, 0), shadow);
        EXPECT_EQ(px(0, h - 2), shadow);
        EXPECT_EQ(px(w - 1, 0), light);
        EXPECT_EQ(px(5, h - 1), light);
        EXPECT_EQ(px(1, 1), shadow);
        EXPECT_EQ(px(w - 2, 5), face);
        EXPECT_EQ(px(5, h - 2), face);
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

} // namespace
