/* Certificate warnings and details, About, console log, printing options
 * and print set-up. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include "core/ddtrace.h"
#include "core/dide.h"
#include "session/ddso.h"
#include "support/wintemp.h"
#include "ui/diui.h"
#include "ui/dlg_script.h"

namespace {

enum {
    CHANGED_TEXT = 1134,
    FIRST_TEXT = 1161,
    PROBLEMS = 1159,
    EXAMINE = 1160,
    VIEW = 1157,
    TEMPORARY = 1155,
    PERMANENT = 1145,
    CHAIN = 1146,
    FIELDS = 1031,
    DETAILS = 1030,
    LOGO = 1036,
    PRODUCT = 1023,
    CONSOLE = 1047,
    ACTUAL = 1109,
    CUSTOM = 1112,
    SCALE_X = 1113,
    SCALE_Y = 1114,
    X_LABEL = 1116,
    Y_LABEL = 1117,
};

const DiChar* const kNames[] = {u"Subject", u"Issuer", u"SHA1 fingerprint", nullptr};
const DiChar* const kTexts[] = {u"CN=server", u"CN=Test CA", u"AB:CD", nullptr};

TEST(CertificateWarnings, TemplatesNameServerAndClientInTheirOwnOrder) {
    DlgScript s;
    ScriptScope scope(&s);
    std::u16string changed, first;
    int button = IDOK;
    s.onInit = [&](HWND dlg, int id) {
        if (id == DD_DLG_CERT_CHANGED) changed = text(dlg, CHANGED_TEXT);
        if (id == DD_DLG_UNTRUSTED) first = text(dlg, FIRST_TEXT);
        press(dlg, button);
    };
    EXPECT_EQ(ddDlgCertificateChanged(nullptr, u"srv.example.com", kNames, kTexts), 1);
    EXPECT_EQ(ddDlgUntrustedFirstConnection(nullptr, u"srv.example.com", kNames, kTexts), 1);
    EXPECT_EQ(changed, u"While trying to connect to the server srv.example.com the Vek Halvanet "
                       u"Client has found the server certificate has changed.");
    EXPECT_EQ(first, u"The Vek Halvanet Client is connecting to the server srv.example.com for "
                     u"the first time.");
    button = IDCANCEL;
    EXPECT_EQ(ddDlgCertificateChanged(nullptr, u"s", kNames, kTexts), 0);
    EXPECT_EQ(ddDlgUntrustedFirstConnection(nullptr, u"s", kNames, kTexts), 0);
    EXPECT_EQ(ddDlgSecurityWarning(nullptr, u"s", kNames, kTexts, 1), 0);
    EXPECT_EQ(ddDlgSecurityWarningList(nullptr, u"s", kNames, kTexts, 1), 0);
}

TEST(CertificateWarnings, ForAnObjectTheWarningIsOwnedByItsFramesWindow) {
    // The client as it starts, with its own profile and trace file.
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring temp = std::wstring(base) + L"hvowner" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    ddProfStoreSetPath((temp + L"\\profile.xml").c_str());
    DlgScript s;
    ScriptScope scope(&s);
    ASSERT_EQ(ddAppInitWith(g_ddApp, GetModuleHandleW(nullptr), nullptr,
                            L"prog.exe -nostartimmediate", 1),
              1);
    DiFrame* root = reinterpret_cast<DiFrame*>(g_ddApp->root);
    ASSERT_TRUE(root && root->manager && g_ddApp->mainWindow);
    HWND owner = nullptr;
    s.onInit = [&](HWND dlg, int) {
        owner = GetWindow(dlg, GW_OWNER);
        press(dlg, IDCANCEL);
    };
    // The manager sits inside the main frame; an object outside every frame
    // gets no owner.
    EXPECT_EQ(ddDlgCertificateChanged(&root->manager->hdr, u"srv", kNames, kTexts), 0);
    EXPECT_EQ(owner, g_ddApp->mainWindow);
    DiObject outside;
    diUIObjectInit(&outside, DI_OBJ_DEMANAGER, 1, 1);
    owner = g_ddApp->mainWindow;
    EXPECT_EQ(ddDlgUntrustedFirstConnection(&outside, u"srv", kNames, kTexts), 0);
    EXPECT_EQ(owner, nullptr);
    ddAppShutdown(g_ddApp);
    removeTree(temp);
}

TEST(CertificateWarnings, ProblemListHasOneLinePerBitInBitOrder) {
    ddResSelectLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    struct Case {
        uint32_t bits;
        const DiChar* list;
    } cases[] = {
        {0, u""},
        {1, u"- The certificate hostname is incorrect."},
        {8 | 2,
         u"- The certificate is not yet valid.\n- The issuer of the certificate is unknown."},
        {0xF0 | 4, u"- The certificate has expired."},
        {15, u"- The certificate hostname is incorrect.\n- The certificate is not yet valid.\n"
             u"- The certificate has expired.\n- The issuer of the certificate is unknown."},
    };
    for (const Case& c : cases) {
        DiChar out[512];
        int n = ddDlgFormatProblems(c.bits, out, 512);
        EXPECT_EQ(std::u16string(out), c.list) << c.bits;
        EXPECT_EQ(n, static_cast<int>(std::u16string(c.list).size()));
    }
    /* A small buffer holds only the lines that fit whole. */
    DiChar small[45];
    ddDlgFormatProblems(3, small, 45);
    EXPECT_EQ(std::u16string(small), u"- The certificate hostname is incorrect.");
}

TEST(CertificateWarnings, SecurityWarningShowsProblemsAndServer) {
    DlgScript s;
    ScriptScope scope(&s);
    std::u16string problems, examine;
    s.onInit = [&](HWND dlg, int) {
        problems = text(dlg, PROBLEMS);
        examine = text(dlg, EXAMINE);
        press(dlg, IDOK);
    };
    EXPECT_EQ(ddDlgSecurityWarning(nullptr, u"srv", kNames, kTexts, 15), 1);
    size_t lines = 0;
    for (size_t at = 0; (at = problems.find(u"- ", at)) != std::u16string::npos; at += 2)
        ++lines;
    EXPECT_EQ(lines, 4u);
    EXPECT_EQ(examine, u"You should examine the certificate and ensure you are willing to trust "
                       u"it for the purpose of identifying the server srv.");
    std::u16string longName(300, u'a');
    EXPECT_EQ(ddDlgSecurityWarning(nullptr, longName.c_str(), kNames, kTexts, 0), 1);
    EXPECT_NE(examine.find(u"%s"), std::u16string::npos) << "a long name leaves the marker";
}

TEST(CertificateWarnings, ListVariantReturnsTheChosenRemembering) {
    struct Case {
        int radio;
        int result;
    } cases[] = {{0, 1}, {TEMPORARY, 1}, {PERMANENT, 2}, {CHAIN, 3}};
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int id) {
            EXPECT_EQ(id, DD_DLG_SECURITY_LIST);
            EXPECT_TRUE(isChecked(dlg, TEMPORARY));
            EXPECT_FALSE(isChecked(dlg, PERMANENT));
            if (c.radio) {
                for (int r : {TEMPORARY, PERMANENT, CHAIN})
                    CheckDlgButton(dlg, r, r == c.radio ? BST_CHECKED : BST_UNCHECKED);
            }
            press(dlg, IDOK);
        };
        EXPECT_EQ(ddDlgSecurityWarningList(nullptr, u"srv", kNames, kTexts, 8), c.result);
    }
}

TEST(CertificateDetails, ViewCertificateListsFieldsAndFollowsTheSelection) {
    DlgScript s;
    ScriptScope scope(&s);
    std::vector<std::u16string> seen;
    s.onInit = [&](HWND dlg, int id) {
        if (id == DD_DLG_CERT_CHANGED) {
            press(dlg, VIEW);
            return;
        }
        if (id != DD_DLG_CERT_DETAILS) return;
        EXPECT_EQ(SendDlgItemMessageW(dlg, FIELDS, LB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SendDlgItemMessageW(dlg, FIELDS, LB_GETCURSEL, 0, 0), 0);
        seen.push_back(text(dlg, DETAILS));
        SendDlgItemMessageW(dlg, FIELDS, LB_SETCURSEL, 2, 0);
        SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(FIELDS, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, FIELDS)));
        seen.push_back(text(dlg, DETAILS));
        press(dlg, IDOK);
        /* Back in the warning, reject. */
        press(GetParent(dlg) ? GetParent(dlg) : GetWindow(dlg, GW_OWNER), IDCANCEL);
    };
    EXPECT_EQ(ddDlgCertificateChanged(nullptr, u"srv", kNames, kTexts), 0);
    EXPECT_EQ(s.inits, (std::vector<int>{DD_DLG_CERT_CHANGED, DD_DLG_CERT_DETAILS}));
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"CN=server", u"AB:CD"}));

    /* No fields: an empty list and empty details. */
    seen.clear();
    const DiChar* const none[] = {nullptr};
    s.onInit = [&](HWND dlg, int) {
        EXPECT_EQ(SendDlgItemMessageW(dlg, FIELDS, LB_GETCOUNT, 0, 0), 0);
        seen.push_back(text(dlg, DETAILS));
        press(dlg, IDOK);
    };
    ddDlgCertificateDetails(nullptr, none, none);
    EXPECT_EQ(seen, std::vector<std::u16string>{u""});
}

/* ---- About ---------------------------------------------------------- */

std::vector<BYTE> g_dib;
const BITMAPINFO* wideLogo() {
    const int w = 800, h = 20;
    g_dib.assign(sizeof(BITMAPINFOHEADER) + w * h * 4, 0x80);
    BITMAPINFOHEADER* bh = reinterpret_cast<BITMAPINFOHEADER*>(g_dib.data());
    *bh = {};
    bh->biSize = sizeof *bh;
    bh->biWidth = w;
    bh->biHeight = h;
    bh->biPlanes = 1;
    bh->biBitCount = 32;
    bh->biCompression = BI_RGB;
    return reinterpret_cast<const BITMAPINFO*>(g_dib.data());
}

TEST(AboutDialog, ShowsProductVersionAndSizesToTheLogo) {
    struct Shot {
        std::u16string product;
        RECT logo, ok;
        int width;
    } normal = {}, wide = {};
    Shot* into = &normal;
    DlgScript s;
    ScriptScope scope(&s);
    s.onInit = [&](HWND dlg, int id) {
        EXPECT_EQ(id, DD_DLG_ABOUT);
        into->product = text(dlg, PRODUCT);
        into->logo = rectIn(dlg, LOGO);
        into->ok = rectIn(dlg, IDOK);
        RECT r;
        GetWindowRect(dlg, &r);
        into->width = r.right - r.left;
        press(dlg, IDOK);
    };
    ddDlgAbout(nullptr);
    EXPECT_EQ(normal.product, u"Vek Halvanet Client 4.31.953");
    EXPECT_EQ(s.titles, std::vector<int>{941});
    const BITMAPINFOHEADER& bh = g_ddDlgHooks.logo()->bmiHeader;
    EXPECT_EQ(normal.logo.right - normal.logo.left, bh.biWidth);
    EXPECT_EQ(normal.logo.bottom - normal.logo.top, bh.biHeight);

    into = &wide;
    /* Without a session layer the title joins "About" and the caption. */
    ddDlgResetHooks();
    g_ddDlgHooks.initDialog = [](HWND dlg, int id) {
        g_script->onInit(dlg, id);
        wchar_t t[128] = {};
        GetWindowTextW(dlg, t, 128);
        g_script->titles.push_back(!wcscmp(t, L"About - Halvanet Client") ? 1 : 0);
    };
    g_ddDlgHooks.logo = wideLogo;
    ddDlgAbout(nullptr);
    EXPECT_EQ(wide.logo.left, normal.logo.left) << "the logo keeps its position";
    EXPECT_EQ(wide.logo.right - wide.logo.left, 800);
    int grow = wide.width - normal.width;
    EXPECT_GT(grow, 0);
    EXPECT_EQ(wide.ok.left - normal.ok.left, grow) << "OK moves right as the dialog widens";
    EXPECT_EQ(s.titles, (std::vector<int>{941, 1})) << "default title \"About - Halvanet Client\"";
}

/* ---- Console log ------------------------------------------------------ */

void fillConsole(HWND edit) {
    SetWindowTextW(edit, L"trace line\r\n");
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

TEST(ConsoleLog, OneWindowFilledAppendedClearedAndClosed) {
    DlgScript s;
    ScriptScope scope(&s);
    g_ddDlgHooks.fillConsole = fillConsole;
    ddDlgConsoleAppend(u"dropped while closed");
    EXPECT_EQ(ddDlgConsoleLog(nullptr), 0);
    HWND dlg = g_ddApp->consoleLog;
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(GetWindow(dlg, GW_OWNER), nullptr) << "owned by the desktop";
    EXPECT_EQ(ddDlgConsoleLog(nullptr), 0);
    EXPECT_EQ(g_ddApp->consoleLog, dlg) << "asking again shows the same window";
    EXPECT_EQ(s.inits, std::vector<int>{DD_DLG_CONSOLE});
    EXPECT_EQ(text(dlg, CONSOLE), u"trace line\r\n");
    ddDlgConsoleAppend(u"more");
    EXPECT_EQ(text(dlg, CONSOLE), u"trace line\r\nmore");

    /* Growing the window grows the edit control and moves the buttons
     * right and down with its edges. */
    RECT edit0 = rectIn(dlg, CONSOLE), close0 = rectIn(dlg, IDOK), clear0 = rectIn(dlg, IDCANCEL);
    RECT w;
    GetWindowRect(dlg, &w);
    SetWindowPos(dlg, nullptr, 0, 0, w.right - w.left + 40, w.bottom - w.top + 30,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT edit1 = rectIn(dlg, CONSOLE), close1 = rectIn(dlg, IDOK), clear1 = rectIn(dlg, IDCANCEL);
    EXPECT_EQ(edit1.right - edit0.right, 40);
    EXPECT_EQ(edit1.bottom - edit0.bottom, 30);
    EXPECT_EQ(close1.left - close0.left, 40);
    EXPECT_EQ(close1.top - close0.top, 30);
    EXPECT_EQ(clear1.left - clear0.left, 40);
    EXPECT_GE(close1.top, edit1.bottom) << "the buttons stay below the text";
    ShowWindow(dlg, SW_MINIMIZE);
    ShowWindow(dlg, SW_RESTORE);
    EXPECT_EQ(rectIn(dlg, IDOK).left, close1.left) << "minimising changes nothing";

    SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0); /* Clear */
    EXPECT_EQ(text(dlg, CONSOLE), u"");
    SendMessageW(dlg, WM_COMMAND, IDOK, 0); /* Close posts WM_CLOSE */
    EXPECT_TRUE(IsWindow(dlg));
    pump();
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_EQ(g_ddApp->consoleLog, nullptr);
    ddDlgConsoleDestroy();
}

TEST(ConsoleLog, ShowsTheTraceFileByDefault) {
    /* A trace file of this process's own: other tests write theirs. */
    wchar_t dir[MAX_PATH], old[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
    GetTempPathW(MAX_PATH, dir);
    wsprintfW(dir + wcslen(dir), L"hvdlg%lu", GetCurrentProcessId());
    CreateDirectoryW(dir, nullptr);
    SetEnvironmentVariableW(L"TMP", dir);
    ddTraceLogOpen();
    ddTraceLogWrite(u"first line\r\n");
    ddTraceLogWrite(u"caf\u00e9 \u65e5\u672c\r\n"); /* whole characters across pieces */
    DlgScript s;
    ScriptScope scope(&s);
    ddDlgResetHooks();
    ddDlgConsoleLog(nullptr);
    HWND dlg = g_ddApp->consoleLog;
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(text(dlg, CONSOLE), u"first line\r\ncaf\u00e9 \u65e5\u672c\r\n");
    ddDlgConsoleDestroy();
    EXPECT_EQ(g_ddApp->consoleLog, nullptr);
    std::wstring path = ddTraceLogPath();
    ddTraceLogClose();
    DeleteFileW(path.c_str());
    RemoveDirectoryW(dir);
    SetEnvironmentVariableW(L"TMP", old[0] ? old : nullptr);
}

/* ---- Printing options ------------------------------------------------- */

TEST(PrintingOptions, ModesScalesAndThePrintButton) {
    struct Case {
        const char* name;
        int mode;
        int choose;            /* radio to pick, 0 none */
        const char16_t *x, *y; /* texts to type, none to keep */
        bool printEnabled;
        int result, outMode;
        uint32_t outX, outY;
    } cases[] = {
        {"keep best fit", 1, 0, nullptr, nullptr, true, 1, 1, 7, 9},
        {"custom typed", 0, CUSTOM, u"150", u"75", true, 1, 3, 150, 75},
        {"custom empty X", 3, 0, u"", nullptr, false, 0, 3, 7, 9},
        {"custom as given", 3, 0, nullptr, nullptr, true, 1, 3, 7, 9},
        {"stretch", 3, ACTUAL + 2, u"1", u"1", true, 1, 2, 7, 9},
        {"unknown mode", 9, 0, nullptr, nullptr, false, 0, 9, 7, 9},
        {"unknown mode, then a choice", 9, ACTUAL, nullptr, nullptr, true, 1, 0, 7, 9},
    };
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int id) {
            EXPECT_EQ(id, DD_DLG_PRINT_OPTIONS);
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(isChecked(dlg, ACTUAL + i), i == c.mode) << c.name;
            EXPECT_EQ(text(dlg, SCALE_X), u"7") << c.name;
            EXPECT_EQ(text(dlg, SCALE_Y), u"9") << c.name;
            bool custom = c.mode == 3;
            for (int ctl : {SCALE_X, SCALE_Y, X_LABEL, Y_LABEL})
                EXPECT_EQ(enabled(dlg, ctl), custom) << c.name;
            if (c.choose) choose(dlg, ACTUAL, CUSTOM, c.choose);
            if (c.x) setText(dlg, SCALE_X, c.x);
            if (c.y) setText(dlg, SCALE_Y, c.y);
            EXPECT_EQ(enabled(dlg, IDOK), c.printEnabled) << c.name;
            press(dlg, c.printEnabled ? IDOK : IDCANCEL);
        };
        int mode = c.mode;
        uint32_t x = 7, y = 9;
        EXPECT_EQ(ddDlgPrintingOptions(nullptr, &mode, &x, &y), c.result) << c.name;
        EXPECT_EQ(mode, c.outMode) << c.name;
        EXPECT_EQ(x, c.outX) << c.name;
        EXPECT_EQ(y, c.outY) << c.name;
    }
}

/* Without a printer the system dialog reports that in a box of its own
 * instead of opening: answer whatever window it activates. */
LRESULT CALLBACK closeActivated(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        wchar_t cls[64] = {};
        GetClassNameW(reinterpret_cast<HWND>(wp), cls, 64);
        if (!wcscmp(cls, L"#32770"))
            PostMessageW(reinterpret_cast<HWND>(wp), WM_COMMAND, IDCANCEL, 0);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

TEST(PrintSetup, CancelOrFailureKeepsThePreviousSettings) {
    /* Loading the spooler re-reads the print server's queues into Wine's
     * registry: it runs only as its own ctest entry, which holds the
     * spooler lock that the printing tests share. */
    if (!GetEnvironmentVariableW(L"HV_TEST_SPOOLER", nullptr, 0))
        GTEST_SKIP() << "runs as test_ui_dlg.print_setup";
    DlgScript s;
    ScriptScope scope(&s);
    s.onInit = [&](HWND dlg, int id) {
        EXPECT_EQ(id, DD_DLG_PRINT_SETUP);
        PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    };
    HHOOK hook = SetWindowsHookExW(WH_CBT, closeActivated, nullptr, GetCurrentThreadId());
    HGLOBAL mode = g_ddApp->printDevMode, names = g_ddApp->printDevNames;
    EXPECT_EQ(ddDlgPrintSetup(nullptr), 0);
    EXPECT_EQ(g_ddApp->printDevMode, mode);
    EXPECT_EQ(g_ddApp->printDevNames, names);
    UnhookWindowsHookEx(hook);
}

/* ---- Modal loops -------------------------------------------------------- */

int g_ends;
bool g_endWhileOpen;
HWND g_openDialog;

LRESULT CALLBACK frameProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == 0x8004) {
        ++g_ends;
        g_endWhileOpen = g_openDialog && IsWindow(g_openDialog);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

int g_modalRuns, g_trayBegins, g_trayEnds;
HWND g_trayOwner;
void trayBegin(HWND owner) {
    ++g_trayBegins;
    g_trayOwner = owner;
}
void trayEnd() {
    ++g_trayEnds;
}

INT_PTR countingRunModal(HWND owner, int id, DLGPROC proc, LPARAM param) {
    ++g_modalRuns;
    return DialogBoxParamW(ddResModule(), MAKEINTRESOURCEW(id), owner, proc, param);
}

TEST(ModalLoop, TheFrameWindowKeepsGettingItsMessages) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = frameProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvTestFrame";
    RegisterClassW(&wc);
    HWND frame = CreateWindowW(L"HvTestFrame", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               wc.hInstance, nullptr);
    ASSERT_NE(frame, nullptr);
    DlgScript s;
    ScriptScope scope(&s);
    g_modalRuns = 0;
    g_ddDlgHooks.runModal = countingRunModal;
    g_ddDlgHooks.beginModal = trayBegin;
    g_ddDlgHooks.endModal = trayEnd;
    s.onInit = [&](HWND dlg, int) {
        g_openDialog = dlg;
        PostMessageW(frame, 0x8004, 0, 0); /* the end message arrives mid-dialog */
        press(dlg, IDCANCEL);
    };
    int mode = 0;
    uint32_t x = 1, y = 1;
    EXPECT_EQ(ddDlgPrintingOptions(frame, &mode, &x, &y), 0);
    EXPECT_EQ(g_ends, 1);
    EXPECT_TRUE(g_endWhileOpen) << "dispatched by the dialog's own loop";
    EXPECT_EQ(g_modalRuns, 1) << "the installed loop ran the dialog";
    EXPECT_EQ(g_trayBegins, 1);
    EXPECT_EQ(g_trayEnds, 1);
    EXPECT_EQ(g_trayOwner, frame);
    /* A dialog without an owner leaves the tray menu alone. */
    ddDlgPrintingOptions(nullptr, &mode, &x, &y);
    EXPECT_EQ(g_trayBegins, 1);
    g_openDialog = nullptr;
    DestroyWindow(frame);
}

} // namespace
