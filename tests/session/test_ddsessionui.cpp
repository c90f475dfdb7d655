// The session's windows under Wine: the table window's sorting, remembered
// size and Copy All; the log file and event-log window made by the real
// outpost (with the print jobs the session's end leaves), a full disk, a
// missing folder, and logging after the outpost.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <prsht.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "devices/diprintq.h"
#include "resources/ddres.h"
#include "session/ddlog.h"
#include "session/ddso.h"
#include "session/ddtable.h"
#include "session/diso.h"

#include <string>
#include <vector>

namespace {

std::wstring tempDir(const wchar_t* tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + tag + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

/* Runs the GUI thread's messages until `done` holds (at most ~10 s). */
template <class F> bool pumpUntil(F done) {
    for (int i = 0; i < 1000; i++) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (done()) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}

struct NumberRow : IDiTableRow {
    int value;
    DiChar text[8];
    explicit NumberRow(int v) : value(v) {
        text[0] = DiChar('0' + v);
        text[1] = 0;
    }
    const DiChar* GetColumnText(int) override { return text; }
    int Compare(IDiTableRow* o, int column) override {
        int d = value - static_cast<NumberRow*>(o)->value;
        return column == 0 ? d : -d; /* column 1 orders the other way */
    }
};

struct TextSource : IQVLPackable {
    void Pack(CQVLPackBuffer* b) override { b->WriteAscii(b->encoding, "abc"); }
};

std::vector<int> order(CTableWindow& w) {
    std::vector<int> v;
    int n = static_cast<int>(SendMessageW(w.list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; i++) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        SendMessageW(w.list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        v.push_back(reinterpret_cast<NumberRow*>(item.lParam)->value);
    }
    return v;
}

void clickHeader(CTableWindow& w, int column) {
    NMLISTVIEW nm = {};
    nm.hdr.hwndFrom = w.list;
    nm.hdr.idFrom = 2072;
    nm.hdr.code = LVN_COLUMNCLICK;
    nm.iSubItem = column;
    SendMessageW(w.dialog, WM_NOTIFY, 2072, reinterpret_cast<LPARAM>(&nm));
}

class SessionWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        ddProfStoreSetPath(L"");
        ddProfStoreCreate();
    }
    void TearDown() override { ddProfStoreDestroy(); }
};

TEST_F(SessionWindows, TableSortsByTheRowsOperandsAndKeepsItsSize) {
    TextSource source;
    NumberRow rows[] = {NumberRow(2), NumberRow(3), NumberRow(1)};
    {
        CTableWindow w(&source, 2, L"tw", L"th", 940);
        w.SetColumn(0, L"A", L"twa");
        w.SetColumn(1, L"B", L"twb");
        w.Show(true);
        ASSERT_NE(w.list, nullptr);
        for (int i = 0; i < 3; i++)
            w.AddRow(&rows[i], i, -1);
        /* Ascending compares the second row with the first. */
        struct Step {
            int column;
            std::vector<int> expect;
        } steps[] = {{0, {3, 2, 1}}, {0, {1, 2, 3}}, {0, {3, 2, 1}}, {1, {1, 2, 3}}};
        for (const Step& s : steps) {
            clickHeader(w, s.column);
            EXPECT_EQ(order(w), s.expect) << s.column;
        }
        EXPECT_EQ(w.columns[0].sortState, 0);
        EXPECT_EQ(w.columns[1].sortState, int(CTableWindow::kAscending));
        /* Without saved sizes the last column fills the list. */
        RECT client;
        GetClientRect(w.list, &client);
        EXPECT_EQ(SendMessageW(w.list, LVM_GETCOLUMNWIDTH, 0, 0), 100);
        EXPECT_EQ(SendMessageW(w.list, LVM_GETCOLUMNWIDTH, 1, 0), client.right - 100);
        SetWindowPos(w.dialog, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
        SendMessageW(w.dialog, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindowVisible(w.dialog)) << "closing only hides";
    }
    EXPECT_EQ(ddSettingGetInt(L"tw", 0), 500);
    EXPECT_EQ(ddSettingGetInt(L"th", 0), 400);
    CTableWindow again(&source, 2, L"tw", L"th", 940);
    again.Show(true);
    RECT r;
    GetWindowRect(again.dialog, &r);
    EXPECT_EQ(r.right - r.left, 500);
    EXPECT_EQ(r.bottom - r.top, 400);
}

TEST_F(SessionWindows, CopyAllEndsWithAWholeUtf16Terminator) {
    TextSource source;
    CTableWindow w(&source, 1, nullptr, nullptr, 940);
    w.Show(true);
    ASSERT_TRUE(w.CopyToClipboard());
    ASSERT_TRUE(OpenClipboard(nullptr));
    HGLOBAL h = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(h, nullptr);
    ASSERT_GE(GlobalSize(h), 8u);
    const unsigned char* p = static_cast<const unsigned char*>(GlobalLock(h));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p)), L"abc");
    EXPECT_EQ(p[6] | p[7], 0);
    GlobalUnlock(h);
    CloseClipboard();
}

TEST_F(SessionWindows, OutpostLoggerFileWindowAndLogsAfterIt) {
    std::wstring dir = tempDir(L"hvlog");
    std::u16string dir16(dir.begin(), dir.end());
    struct Case {
        const char* name;
        std::u16string logDir;
        int logging;
        bool file;
    } cases[] = {
        {"errors only", dir16, 1, true},
        {"all", dir16, 3, true},
        {"clamped", dir16, 9, true},
        {"missing folder", dir16 + u"\\missing", 3, false},
    };
    for (const Case& c : cases) {
        g_ddApp->opt.logDir = const_cast<DiChar*>(c.logDir.c_str());
        g_ddApp->opt.startImmediately = 0;
        ddSettingSetInt(L"logging", c.logging);
        ASSERT_EQ(ddSOCreate(), 1) << c.name;
        CLog* log = diLogGet();
        ASSERT_NE(log, nullptr);
        log->AddText(DI_LOG_ERROR, u"before the window");
        ddSOShowEventLog();
        log->AddText(DI_LOG_ERROR, u"after the window");
        /* The outpost's own Info lines pass only at level 3. */
        diLogErrorText(u"through the call");
        uint32_t rows = log->GetCount();
        ASSERT_TRUE(pumpUntil([&] {
            return SendMessageW(ddLogWindowList(), LVM_GETITEMCOUNT, 0, 0) == LRESULT(rows);
        })) << c.name;
        std::wstring file = dir + L"\\drx.txt";
        /* A print job the session leaves is named in the file. */
        g_diOutpost->printJobs = new CPrintJobQueue();
        g_diOutpost->printJobs->AddJob(u"http://srv/a/_service/left", u"m1");
        ddSODestroy();
        EXPECT_EQ(diLogGet(), nullptr) << c.name;
        diLogErrorText(u"after the outpost"); /* shut-down logs late */
        std::string bytes = readFileBytes(c.file ? file : dir + L"\\missing\\drx.txt");
        if (!c.file) {
            EXPECT_EQ(bytes, "<missing>");
            continue;
        }
        std::u16string text(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
        EXPECT_EQ(text.compare(text.find(u'\t'), 3, u"\t1\t"), 0) << c.name;
        /* The level decides what reaches the file. */
        EXPECT_EQ(text.find(u"Info\t") != std::u16string::npos, c.logging >= 3) << c.name;
        EXPECT_NE(text.find(u"through the call\r\n"), std::u16string::npos) << c.name;
        EXPECT_NE(
            text.find(u"Print job not printed, the session ended: http://srv/a/_service/left"),
            std::u16string::npos)
            << c.name;
        EXPECT_EQ(text.find(u"after the outpost"), std::u16string::npos) << c.name;
        DeleteFileW(file.c_str());
    }
    g_ddApp->opt.logDir = nullptr;
    removeTree(dir);
}

TEST_F(SessionWindows, FullDiskStopsTheFileWithOneErrorEntry) {
    std::wstring dir = tempDir(L"hvfull");
    /* drx.txt made a link to the Linux device that is always full. */
    typedef char*(CDECL * UnixName)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    ASSERT_NE(unixName, nullptr);
    char* unixDir = unixName(dir.c_str());
    ASSERT_NE(unixDir, nullptr);
    std::string args = std::string("ln -sf /dev/full ") + unixDir + "/drx.txt";
    HeapFree(GetProcessHeap(), 0, unixDir);
    std::wstring cmd(args.begin(), args.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\ln", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    /* Wine's handle of a host program cannot be waited on: wait for the link. */
    std::wstring link = dir + L"\\drx.txt";
    ASSERT_TRUE(pumpUntil([&] {
        HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }));
    std::u16string dir16(dir.begin(), dir.end());
    g_ddApp->opt.logDir = const_cast<DiChar*>(dir16.c_str());
    CLogFile* log = new CLogFile();
    log->AddText(DI_LOG_ERROR, u"one");
    ASSERT_TRUE(log->Flush(10000));
    log->AddText(DI_LOG_ERROR, u"two");
    ASSERT_TRUE(pumpUntil([&] { return log->GetCount() >= 3; }));
    EXPECT_EQ(log->GetCount(), 3u);
    delete log;
    g_ddApp->opt.logDir = nullptr;
    removeTree(dir);
}

TEST(LaunchFrames, EmbeddingChecksTheHelpersWindow) {
    auto make = [](HWND parent, DWORD style) {
        return CreateWindowExW(0, L"STATIC", L"", style, 0, 0, 50, 50, parent, nullptr, nullptr,
                               nullptr);
    };
    HWND helper = make(nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    /* Any number could name another program's window: the refused ones are
     * made here (a made-up number may be a live window of a test running
     * beside this one). */
    HWND closed = make(nullptr, WS_OVERLAPPEDWINDOW);
    DestroyWindow(closed);
    HWND frame = make(nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND inner = make(frame, WS_CHILD);
    LONG frameStyle = GetWindowLongW(frame, GWL_STYLE);
    struct Case {
        const char* name;
        HWND target;
        bool embeds;
    } cases[] = {{"closed", closed, false},

                 {"the frame", frame, false},
                 {"inside the frame", inner, false},
                 {"a live window", helper, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(ddSOEmbedWindow(c.target, frame), c.embeds) << c.name;
        if (c.embeds) {
            EXPECT_EQ(GetParent(frame), helper);
            EXPECT_EQ(GetWindowLongW(frame, GWL_STYLE) & (WS_CHILD | WS_CAPTION), WS_CHILD);
        } else {
            EXPECT_EQ(GetWindowLongW(frame, GWL_STYLE), frameStyle) << c.name << ": styles kept";
            EXPECT_EQ(GetParent(frame), nullptr) << c.name;
        }
    }
    DestroyWindow(frame);
    DestroyWindow(helper);
}

TEST_F(SessionWindows, ResourceLibraryIsSearchedFirstWhileTheOutpostLives) {
    /* The library sits beside the test program. */
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll = path;
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"" HV_RESDLL;
    std::u16string dll16(dll.begin(), dll.end());
    g_ddApp->opt.resource = const_cast<DiChar*>(dll16.c_str());
    g_ddApp->opt.startImmediately = 0;
    const int small = GetSystemMetrics(SM_CXSMICON);
    HICON programIcon = ddResLoadIcon(176, small, small);
    ASSERT_EQ(ddSOCreate(), 1);
    DiChar text[64];
    EXPECT_GT(ddResLoadString(936, text, 64), 0);
    EXPECT_EQ(std::u16string(text), u"Other Client");
    EXPECT_GT(ddResLoadString(917, text, 64), 0) << "the rest comes from the program";
    HWND w = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    ddSOSetWindowTitle(w, 940);
    wchar_t title[128];
    GetWindowTextW(w, title, 128);
    EXPECT_EQ(std::wstring(title), L"Event Log - Other Client");
    EXPECT_NE(ddResLoadIcon(176, small, small), programIcon);
    EXPECT_NE(ddResLoadIcon(177, small, small), nullptr);
    ddSODestroy();
    g_ddApp->closing = 0;
    g_ddApp->opt.resource = nullptr;
    ddResLoadString(936, text, 64);
    EXPECT_NE(std::u16string(text), u"Other Client");
    DestroyWindow(w);
}

TEST_F(SessionWindows, OptionsSheetGreysAppliesAndGoesAfterItsLastPage) {
    g_ddApp->opt.startImmediately = 0;
    ASSERT_EQ(ddSOCreate(), 1);
    ASSERT_TRUE(ddSOTriggerUIComponent(u"options"));
    HWND sheet = ddSOOptionsSheet();
    ASSERT_NE(sheet, nullptr);
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    auto click = [&](int id) { SendMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0); };
    /* "Never" greys both numbers; the other two enable them. */
    struct Step {
        int radio;
        bool enabled;
    } steps[] = {{2079, false}, {2078, true}, {2079, false}, {2077, true}};
    for (const Step& s : steps) {
        click(s.radio);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, 2083)) != 0, s.enabled) << s.radio;
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, 2084)) != 0, s.enabled) << s.radio;
    }
    click(2076);
    click(2078);
    SetDlgItemInt(page, 2083, 99, FALSE);
    SetDlgItemInt(page, 2084, 7, FALSE);
    PropSheet_Apply(sheet);
    EXPECT_EQ(diLogGet()->level, 3u);
    EXPECT_EQ(g_diOutpost->reconnectMode, 1);
    EXPECT_EQ(g_diOutpost->reconnectAttempts, 50) << "kept within the spin's range";
    EXPECT_EQ(g_diOutpost->reconnectWait, 7);
    /* OK closes the last page: the next message destroys the sheet. */
    PropSheet_PressButton(sheet, PSBTN_OK);
    EXPECT_TRUE(pumpUntil([] {
        /* The event loop's order: the sheet sees every message first. */
        MSG m = {};
        PostMessageW(nullptr, WM_NULL, 0, 0);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            if (!ddSOIsPropertySheetMessage(&m)) DispatchMessageW(&m);
        return ddSOOptionsSheet() == nullptr;
    }));
    EXPECT_FALSE(IsWindow(sheet));
    ddSOShowOptions();
    EXPECT_NE(ddSOOptionsSheet(), nullptr) << "a new sheet";
    ddSODestroy();
    EXPECT_EQ(ddSOOptionsSheet(), nullptr) << "the sheet ends with the outpost";
    g_ddApp->closing = 0;
}

HWND g_box = nullptr;
BOOL CALLBACK findBox(HWND w, LPARAM) {
    wchar_t cls[16];
    GetClassNameW(w, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    g_box = w;
    return FALSE;
}

/* What a server's sign-out does while a nested loop runs: the outpost ends
 * (0x8004), then the loop is left as the user would leave it. */
int g_ends = 0;
void CALLBACK signOutInLoop(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_ends++;
    ddSODestroy();
    EndMenu();
    g_box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findBox, 0);
    if (g_box) PostMessageW(g_box, WM_COMMAND, IDYES, 0);
}

TEST_F(SessionWindows, TrayIconMenuAndExitAcrossTheOutpostsEnd) {
    HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
    g_ddApp->mainWindow = main;
    g_ddApp->opt.startImmediately = 0;
    /* The icon follows "_root"; a word it does not know changes nothing. */
    ASSERT_EQ(ddSOCreate(), 1);
    EXPECT_TRUE(ddSOTrayIconShown());
    struct Step {
        const DiChar *verb, *word;
        bool accepted, shown;
    } steps[] = {{u"_root", u"hidden", true, false},
                 {u"_root", u"bogus", false, false},
                 {u"_root", u"enabled", true, true},
                 {u"nothing", u"hidden", false, true}};
    for (const Step& s : steps) {
        EXPECT_EQ(ddSOSetUIComponent(s.verb, s.word), s.accepted);
        EXPECT_EQ(ddSOTrayIconShown(), s.shown);
    }
    /* A dialog over a dialog: closing the upper one keeps the menu closed
     * and a click brings the lower one's owner forward instead. */
    HWND lower = CreateWindowExW(0, L"STATIC", L"lower", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 10, 10,
                                 nullptr, nullptr, nullptr, nullptr);
    ddSOTrayBeginModal(lower);
    ddSOTrayBeginModal(main);
    ddSOTrayEndModal();
    g_ends = 0;
    UINT_PTR guard =
        SetTimer(nullptr, 0, 3000, signOutInLoop); /* ends a menu that should not open */
    ddSOTrayShowMenu();
    KillTimer(nullptr, guard);
    EXPECT_EQ(g_ends, 0) << "the menu opened under an open dialog";
    ddSOTrayEndModal();
    DestroyWindow(lower);
    /* Signed out while the menu is open, and while the exit question is
     * asked: neither loop returns to an outpost that is gone. */
    for (int round = 0; round < 2; round++) {
        if (!g_diOutpost) {
            ASSERT_EQ(ddSOCreate(), 1);
        }
        g_diOutpost->connectionState = DI_SO_CONNECTED;
        g_ends = 0;
        SetTimer(nullptr, 0, 100, signOutInLoop);
        if (round == 0) {
            ddSOTrayShowMenu();
        } else {
            /* The exit question is a box: the end it delivered was held and
             * comes back to the main window once the box returned. */
            diSOUIExit();
            MSG m;
            EXPECT_TRUE(PeekMessageW(&m, main, 0x8004, 0x8004, PM_REMOVE));
            EXPECT_NE(g_diOutpost, nullptr) << "ended under the box";
            ddSODestroy();
        }
        pumpUntil([] { return g_ends > 0; });
        EXPECT_EQ(g_diOutpost, nullptr) << round;
        EXPECT_FALSE(ddSOTrayIconShown()) << round;
    }
    /* WM_CLOSE's path and a plain end leave no icon either. */
    ASSERT_EQ(ddSOCreate(), 1);
    ddSODestroy();
    EXPECT_FALSE(ddSOTrayIconShown());
    g_ddApp->mainWindow = nullptr;
    g_ddApp->closing = 0;
    DestroyWindow(main);
}

} // namespace
