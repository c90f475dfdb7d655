// Start-up and shut-down: the order of their steps, the early exits, the
// instance mutex and the shared launch records, in this process and with
// the real client started as a second process.
#include <gtest/gtest.h>

#include "support/wintemp.h"

#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "devices/dddevices.h"
#include "devices/diprintq.h"
#include "session/ddso.h"
#include "session/diso.h"
#include "ui/ddui.h"
#include "ui/ddxhooks.h"
#include "xml/qvlpackable.h"

#include <process.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_steps;
void recordStep(const char* step) {
    g_steps.push_back(step);
}

/* A private temporary folder per test process: the trace file and the
 * profile of parallel tests must not meet. */
std::wstring privateTemp() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"hvtest" + std::to_wstring(GetCurrentProcessId()) +
                       L"_" + std::to_wstring(GetTickCount());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\";
}


void writeFile(const std::wstring& path, const char* bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fputs(bytes, f);
    fclose(f);
}

std::string readFile(const std::wstring& path) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        temp = privateTemp();
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        ddProfStoreSetPath((temp + L"profile.xml").c_str());
        g_steps.clear();
        g_ddAppStepHook = recordStep;
    }
    void TearDown() override {
        g_ddAppStepHook = nullptr;
        ddProfStoreDestroy();
        removeTree(temp);
    }
    int init(const wchar_t* cmdLine, int crtArgc) {
        return ddAppInitWith(g_ddApp, GetModuleHandleW(nullptr), nullptr, cmdLine, crtArgc);
    }
    std::wstring temp;
};

const std::vector<std::string> k_startSteps = {
    "command line", "profile store",      "settings", "command line again", "winsock",
    "trace file",   "client description", "probes",   "socket message",     "display",
    "colour map",   "monitors",           "cursors",  "clipboard",          "user interface",
    "root",         "work area",
};
const std::vector<std::string> k_shutdownSteps = {
    "shutdown: outpost",  "shutdown: display objects", "shutdown: smart cards",
    "shutdown: winsock",  "shutdown: user interface",  "shutdown: clipboard",
    "shutdown: graphics", "shutdown: colour map",      "shutdown: trace file",
    "shutdown: texts",    "shutdown: profile store",
};

TEST_F(Startup, StepsRunInOrderAndTheLoopEndsOnWmClose) {
    ASSERT_EQ(init(L"prog.exe -nostartimmediate", 1), 1);
    EXPECT_EQ(g_steps, k_startSteps);
    ASSERT_NE(g_ddApp->mainWindow, nullptr);
    wchar_t cls[32];
    GetClassNameW(g_ddApp->mainWindow, cls, 32);
    EXPECT_STREQ(cls, L"QVLFrameClass");
    EXPECT_EQ(g_ddApp->clientInfo.osCode, 519); // Wine reports 6.1
    EXPECT_EQ(std::u16string(g_ddApp->clientInfo.osVersion), u"6.1");
    EXPECT_EQ(std::u16string(g_ddApp->clientInfo.clientVersion), u"4.31.953");
    EXPECT_EQ(std::u16string(g_ddApp->clientInfo.processor), u"x86");
    EXPECT_EQ(g_ddApp->clientInfo.value8192, 8192u);
    EXPECT_EQ(g_ddApp->probeOne, 1u);
    // The audio probe runs beside start-up; its answer is in before the end.
    EXPECT_EQ(g_ddApp->hasAudio, ddAudioPresent() ? 1u : 0u);
    EXPECT_TRUE(g_ddApp->opt.socksRoute && g_ddApp->opt.httpProxyRoute);
    // Start-up fills every slot through which the frame and view windows
    // reach the X engine, the seamless layer and the scaler: the window
    // tests that fill these slots themselves stand for what runs here.
    const struct {
        const char* name;
        bool set;
    } slots[] = {
        {"swmInit", g_ddXHooks.swmInit != nullptr},
        {"swmShutdown", g_ddXHooks.swmShutdown != nullptr},
        {"swmSendClientInfo", g_ddXHooks.swmSendClientInfo != nullptr},
        {"swmSysCommand", g_ddXHooks.swmSysCommand != nullptr},
        {"engineFlags", g_ddXHooks.engineFlags != nullptr},
        {"xwindowInfo", g_ddXHooks.xwindowInfo != nullptr},
        {"xwindowForgetFrame", g_ddXHooks.xwindowForgetFrame != nullptr},
        {"setSizeMove", g_ddXHooks.setSizeMove != nullptr},
        {"redrawDisplay", g_ddXHooks.redrawDisplay != nullptr},
        {"findInsertAfter", g_ddXHooks.findInsertAfter != nullptr},
        {"scheduleStackCheck", g_ddXHooks.scheduleStackCheck != nullptr},
        {"enginePalette", g_ddXHooks.enginePalette != nullptr},
        {"notifyDisplayChange", g_ddXHooks.notifyDisplayChange != nullptr},
        {"rootRect", g_ddXHooks.rootRect != nullptr},
        {"scaleActive", g_ddXHooks.scaleActive != nullptr},
        {"scaleSizes", g_ddXHooks.scaleSizes != nullptr},
        {"scaleRect", g_ddXHooks.scaleRect != nullptr},
        {"scaleResize", g_ddXHooks.scaleResize != nullptr},
        {"scaleSetMode", g_ddXHooks.scaleSetMode != nullptr},
        {"scaleRestoreMode", g_ddXHooks.scaleRestoreMode != nullptr},
        {"engineSurface", g_ddXHooks.engineSurface != nullptr},
    };
    for (const auto& s : slots)
        EXPECT_TRUE(s.set) << s.name;

    // The entry posts 0x8003 (the outpost is made but not started), then
    // the window is closed from outside.
    PostMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_CREATE, 0, 0);
    PostMessageW(g_ddApp->mainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(diAppRunEventLoop(), 0);
    EXPECT_FALSE(ddSOExists());
    g_steps.clear();
    std::wstring trace = ddTraceLogPath();
    ddAppShutdown(g_ddApp);
    EXPECT_EQ(g_steps, k_shutdownSteps);

    // The trace file holds every step from its own opening on.
    std::string text = readFile(trace);
    size_t at = 0;
    for (size_t i = 5; i < k_startSteps.size(); i++) {
        at = text.find("step: " + k_startSteps[i] + "\r\n", at);
        EXPECT_NE(at, std::string::npos) << k_startSteps[i];
    }
    for (size_t i = 0; i < 9; i++) {
        at = text.find("step: " + k_shutdownSteps[i] + "\r\n", at);
        EXPECT_NE(at, std::string::npos) << k_shutdownSteps[i];
    }
}

TEST_F(Startup, FailedOutpostStartRunsTheExitCommand) {
    ASSERT_EQ(init(L"prog.exe", 1), 1);
    PostMessageW(g_ddApp->mainWindow, DD_MSG_OUTPOST_CREATE, 0, 0);
    // The outpost cannot connect: 0x8004 follows, destroying the window.
    EXPECT_EQ(diAppRunEventLoop(), 0);
    EXPECT_EQ(g_ddApp->mainWindow, nullptr);
    ddAppShutdown(g_ddApp);
}

// Start-up lets the outpost make its print queue; the queue's channel
// deletes the spool files an earlier run left, in the spool folder and the
// temporary folder it falls back to, and nothing else: not a spool young
// enough to be another client's, its reader still to read it.
TEST_F(Startup, PrintQueueHookMakesTheChannelThatSweepsOldSpools) {
    CreateDirectoryW((temp + L"QVLWinPrint").c_str(), nullptr);
    const wchar_t* files[] = {L"QVLWinPrint\\QVL1.tmp", L"QVL2.tmp", L"QVLWinPrint\\keep.txt",
                              L"keep.tmp", L"QVLWinPrint\\QVL3.tmp"};
    for (size_t i = 0; i < 5; i++) {
        HANDLE h = CreateFileW((temp + files[i]).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               0, nullptr);
        FILETIME t;
        GetSystemTimeAsFileTime(&t);
        t.dwHighDateTime -= i < 4 ? 2 : 0; /* about 14 minutes ago */
        SetFileTime(h, nullptr, nullptr, &t);
        CloseHandle(h);
    }
    ASSERT_EQ(init(L"prog.exe -nostartimmediate", 1), 1);
    ASSERT_NE(g_diSOMakePrintQueue, nullptr);
    CPrintJobQueue* q = g_diSOMakePrintQueue();
    ASSERT_NE(q, nullptr);
    EXPECT_NE(q->channel, nullptr);
    for (size_t i = 0; i < 5; i++)
        EXPECT_EQ(GetFileAttributesW((temp + files[i]).c_str()) != INVALID_FILE_ATTRIBUTES, i >= 2)
            << i;
    DeleteFileW((temp + files[4]).c_str());
    delete q;
    PostMessageW(g_ddApp->mainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(diAppRunEventLoop(), 0);
    ddAppShutdown(g_ddApp);
}

TEST_F(Startup, LanguageAndPasswordCacheStepsComeBetween) {
    ASSERT_EQ(init(L"prog.exe -preferredlanguage ja -nostartimmediate", 4), 1);
    std::vector<std::string> expect = k_startSteps;
    expect.insert(expect.begin() + 4, {"language", "password cache modes"});
    EXPECT_EQ(g_steps, expect);
    EXPECT_EQ(GetThreadLocale(), 0x411u);
    EXPECT_EQ(g_ddApp->opt.windowMode, 1u); // no URL: show the webtop
    SetThreadLocale(0x409);
    ddAppShutdown(g_ddApp);
}

TEST_F(Startup, OptionsOnTheCommandLineWinOverSettings) {
    std::wstring profile = temp + L"profile.xml";
    writeFile(profile, "<cache><localsettings><enablecdm>0</enablecdm></localsettings></cache>");
    std::wstring opts = temp + L"opts.txt";
    writeFile(opts, "url=http://from-file/\n");
    std::wstring cmd = L"prog.exe -nostartimmediate -file " + opts;
    ASSERT_EQ(init(cmd.c_str(), 1), 1);
    EXPECT_EQ(g_ddApp->driveMapping, 0u);
    EXPECT_EQ(std::u16string(g_ddApp->url), u"http://from-file/");
    ddAppShutdown(g_ddApp);
}

TEST_F(Startup, TheProfileOfTheServerSetsTheLanguageUnlessTheCommandLineDoes) {
    writeFile(temp + L"profile.xml",
              "<cache><profiles><host name=\"srv\"><user ens=\"u\"><profile name=\"Default\">"
              "<preferredlang>fr</preferredlang></profile></user></host></profiles></cache>");
    struct Case {
        const wchar_t* cmd;
        const char16_t* language;
    } cases[] = {
        {L"p -nostartimmediate -server SRV", u"fr"},
        {L"p -nostartimmediate -server SRV -preferredlanguage de", u"de"},
        {L"p -nostartimmediate -server other", nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(init(c.cmd, 1), 1);
        const DiChar* got = g_ddApp->opt.preferredLanguage;
        EXPECT_EQ(std::u16string(got ? got : u"<none>"), c.language ? c.language : u"<none>");
        ddAppShutdown(g_ddApp);
    }
}

TEST_F(Startup, EarlyPathsEndBeforeWinsock) {
    std::wstring config = temp + L"launch.xml";
    writeFile(config, "<launch/>");
    // "-profile" names a profile of the store: its session cookie and URL
    // make the saved session.
    writeFile(temp + L"profile.xml",
              "<cache><profiles><host name=\"h\"><user ens=\"u\">"
              "<profile name=\"cookie\"><sessioncookie>abc</sessioncookie>"
              "<url>http://127.0.0.1:1/</url></profile>"
              "<profile name=\"nocookie\"><sessioncookie></sessioncookie>"
              "<url>http://127.0.0.1:1/</url></profile>"
              "<profile name=\"nourl\"><sessioncookie>abc</sessioncookie></profile>"
              "</user></host></profiles></cache>");
    struct Case {
        std::wstring cmd;
        int run, exitCode;
        std::string last;
    } cases[] = {
        {L"p -launchconfig " + config, 0, 0, "launch configuration"},
        {L"p -launchconfig missing.xml", 0, 0, "launch configuration"},
        // The saved session's web call cannot be made: start-up goes on.
        {L"p -application calc -profile h:u:cookie -nostartimmediate", 1, 0, "work area"},
        {L"p -application calc -profile h:u:nocookie -nostartimmediate", 1, 0, "work area"},
        {L"p -application calc -profile h:u:nourl -nostartimmediate", 1, 0, "work area"},
        {L"p -application calc -profile h:u:nourl -loginurl http://127.0.0.1:1/ -nostartimmediate",
         1, 0, "work area"},
        {L"p -application calc -profile " + temp + L"profile.xml -nostartimmediate", 1, 0,
         "work area"},
    };
    // Browser pages an earlier run left: gone once their minute is over.
    const std::pair<const wchar_t*, bool> pages[] = {
        {L"QVL1A2B.htm", false}, {L"QVL3.html", true}, {L"keep.htm", true}, {L"QVL4.htm", true}};
    FILETIME old = {0x256D4000, 0x01BF53EB}; // 2000: long over
    for (const auto& p : pages) {
        writeFile(temp + p.first, "cid sid");
        HANDLE f = CreateFileW((temp + p.first).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (p.first != pages[3].first) SetFileTime(f, nullptr, nullptr, &old);
        CloseHandle(f);
    }
    for (const Case& c : cases) {
        g_steps.clear();
        EXPECT_EQ(init(c.cmd.c_str(), 1), c.run);
        EXPECT_EQ(g_ddApp->exitCode, c.exitCode);
        ASSERT_FALSE(g_steps.empty());
        EXPECT_EQ(g_steps.back(), c.last);
        if (c.run) ddAppShutdown(g_ddApp);
        if (&c != cases) continue; // the first path ends within the fresh page's minute
        for (const auto& p : pages)
            EXPECT_EQ(GetFileAttributesW((temp + p.first).c_str()) != INVALID_FILE_ATTRIBUTES,
                      p.second)
                << p.first;
    }
}

// ---- What start-up sets up for the layers above it ----

LRESULT CALLBACK plainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(Startup, FailedWindowLayerStopsTheClipboardThread) {
    // The frame class is taken, so the window layer cannot start.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = plainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QVLFrameClass";
    ASSERT_TRUE(RegisterClassW(&wc));
    EXPECT_EQ(init(L"prog.exe -nostartimmediate", 1), 0);
    EXPECT_EQ(g_steps.back(), "user interface");
    // Nothing of start-up runs on into the process's exit.
    EXPECT_EQ(ddClipOwnerWindow(), nullptr);
    UnregisterClassW(L"QVLFrameClass", wc.hInstance);
    ddClipStop();
}

TEST_F(Startup, WorkAreaComesFromTheFullScreenUnlessADisplaySizeIsSet) {
    ASSERT_EQ(init(L"prog.exe -nostartimmediate", 1), 1);
    const int borderX = GetSystemMetrics(SM_CXFRAME), borderY = GetSystemMetrics(SM_CYFRAME);
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    // The default client leaves room for a vertical scroll bar and a line.
    const int side = GetSystemMetrics(SM_CXVSCROLL) + 1;
    const DdWorkArea& w = g_ddApp->workArea;
    struct Case {
        int32_t width, height; // configured display size
        int expectW, expectH;  // the size the frame is made for
    } cases[] = {
        {0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)},
        {800, 600, 800, 600},
        {800, 31, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)},
    };
    for (const Case& c : cases) {
        g_ddApp->displayWidth = c.width;
        g_ddApp->displayHeight = c.height;
        if (c.width) ddAppComputeWorkArea(g_ddApp); // the first row is start-up's own
        EXPECT_EQ(w.frameWidth, c.expectW - 2 * borderX) << c.width;
        EXPECT_EQ(w.frameHeight, c.expectH - 2 * borderY) << c.width;
        EXPECT_EQ(w.clientHeight, w.frameHeight - caption) << c.width;
        EXPECT_EQ(w.clientWidth, w.frameWidth - side) << c.width;
    }
    ddAppShutdown(g_ddApp);
}

// The XML writer's ANSI encoding is the process's code page, which Wine
// takes from the locale the process starts in (tools/wine-in-locale runs
// this test in a Western and in a Japanese locale).
TEST_F(Startup, AnsiOutputIsTheProcessCodePage) {
    const struct {
        UINT codePage;
        const DiChar* text;
        const char* bytes;
    } cases[] = {
        {1252, u"\u20AC\u00E9", "\x80\xE9"},
        {932, u"\u65E5\u672C", "\x93\xFA\x96\x7B"},
    };
    wchar_t expect[16] = {};
    if (GetEnvironmentVariableW(L"HV_EXPECT_ACP", expect, 16)) {
        ASSERT_EQ(GetACP(), UINT(_wtoi(expect))) << "the locale did not reach Wine";
    }
    for (const auto& c : cases) {
        if (c.codePage != GetACP()) continue;
        ASSERT_EQ(init(L"prog.exe -nostartimmediate", 1), 1);
        CQVLPackBuffer out(QVL_ENC_ANSI, QVL_MODE_TEXT);
        out.WriteString(out.encoding, c.text);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), c.bytes);
        ddAppShutdown(g_ddApp);
        return;
    }
    GTEST_SKIP() << "no case for code page " << GetACP();
}

TEST(PasswordCacheModes, WhichOnesEndStartUp) {
    // Without a password-cache entry and with the cache dialog cancelled.
    struct Case {
        const char* what;
        uint32_t anonymous, setPassword, cache;
        const char16_t* url;
        const char16_t* password;
        int end;
        uint32_t windowMode;
    } cases[] = {
        {"anonymous goes on at once", 1, 1, 1, nullptr, nullptr, 0, 0},
        {"set-password with cache asks and ends", 0, 1, 1, u"http://h/", nullptr, 1, 0},
        {"set-password alone does nothing here", 0, 1, 0, nullptr, nullptr, 0, 1},
        {"cache without a password ends when the dialog is cancelled", 0, 0, 1, u"http://h/",
         nullptr, 1, 0},
        {"cache with a password stores it and goes on", 0, 0, 1, nullptr, u"pw", 0, 1},
        {"no URL shows the webtop", 0, 0, 0, nullptr, nullptr, 0, 1},
    };
    for (const Case& c : cases) {
        DdApp app;
        memset(&app, 0, sizeof app);
        app.anonymous = c.anonymous;
        app.opt.setPassword = c.setPassword;
        app.opt.cache = c.cache;
        app.url = diAppStrDup(c.url);
        app.password = diAppStrDup(c.password);
        EXPECT_EQ(ddAppPasswordCacheMode(&app), c.end) << c.what;
        EXPECT_EQ(app.opt.windowMode, c.windowMode) << c.what;
        free(app.url);
        free(app.user);
        free(app.password);
    }
}

/* Tests that provide the one "QVLMappingObject" run one at a time, across
 * the parallel test processes. */
struct MappingTurn {
    HANDLE lock = CreateMutexW(nullptr, FALSE, L"HvTestSharedMappingTurn");
    MappingTurn() { WaitForSingleObject(lock, INFINITE); }
    ~MappingTurn() {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
};

/* The shared mapping as another process writes it. */
struct SharedMapping {
    HANDLE handle = nullptr;
    unsigned char* view = nullptr;
    bool fresh = false;
    explicit SharedMapping(DWORD size) {
        handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                    L"QVLMappingObject");
        fresh = handle && GetLastError() != ERROR_ALREADY_EXISTS;
        view = static_cast<unsigned char*>(MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    ~SharedMapping() {
        UnmapViewOfFile(view);
        CloseHandle(handle);
    }
    void record(int i, HWND window, const std::u16string& url, const std::u16string& user) {
        unsigned char* r = view + 2 + i * 3592;
        uint32_t h = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
        memcpy(r + 4, &h, 4);
        memcpy(r + 8, url.c_str(), (url.size() + 1) * 2);
        memcpy(r + 2056, user.c_str(), (user.size() + 1) * 2);
    }
};

void forgetMapping(DdApp* app) {
    if (app->sharedMapping) CloseHandle(app->sharedMapping);
    app->sharedMapping = nullptr;
}

HWND fake(uintptr_t v) {
    return reinterpret_cast<HWND>(v);
}

TEST(SharedRecords, MatchUrlAndUserWithinTheMappedRecords) {
    MappingTurn turn;
    DdApp app;
    memset(&app, 0, sizeof app);
    app.url = const_cast<DiChar*>(u"http://h/");
    {
        SharedMapping m(2 + 4 * 3592);
        ASSERT_TRUE(m.fresh);
        m.view[0] = 3;
        m.record(0, fake(0x11), u"http://h/", u"ann");
        m.record(1, fake(0x22), u"http://other/", u"ann");
        m.record(2, fake(0x33), u"http://h/", u"bob");
        m.record(3, fake(0x55), u"http://h/", u"ann"); // beyond the count: never read
        struct Case {
            const char16_t* user;
            HWND expect;
            const char16_t* userAfter;
        } cases[] = {
            {u"ann", fake(0x11), u"ann"},
            {u"Ann", nullptr, u"Ann"}, // exact comparison
            {u"bob", fake(0x33), u"bob"},
            {u"carl", nullptr, u"carl"},
            // An empty user takes the first match's user, which the later
            // records must then match.
            {u"", fake(0x11), u"ann"},
        };
        for (const Case& c : cases) {
            app.user = static_cast<DiChar*>(malloc(64));
            memcpy(app.user, c.user, (std::char_traits<char16_t>::length(c.user) + 1) * 2);
            EXPECT_EQ(ddAppReadSharedRecords(&app), c.expect);
            EXPECT_EQ(std::u16string(app.user), c.userAfter);
            free(app.user);
        }
        forgetMapping(&app);
    }
    {
        // A count far beyond the mapping: only the records inside are read,
        // and a URL without terminator stays inside its field.
        SharedMapping m(2 + 3592);
        ASSERT_TRUE(m.fresh);
        m.view[0] = 255;
        std::u16string longUrl(1024, u'u');
        m.record(0, fake(0x44), u"", u"zed");
        memcpy(m.view + 2 + 8, longUrl.data(), 2048);
        app.url = const_cast<DiChar*>(longUrl.c_str());
        app.user = nullptr;
        EXPECT_EQ(ddAppReadSharedRecords(&app), fake(0x44));
        EXPECT_EQ(std::u16string(app.user), u"zed");
        free(app.user);
        forgetMapping(&app);
    }
    app.user = nullptr;
    EXPECT_EQ(ddAppReadSharedRecords(&app), nullptr); // no mapping
}

struct FindMain {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK findMainWindow(HWND h, LPARAM lp) {
    FindMain* f = reinterpret_cast<FindMain*>(lp);
    DWORD pid = 0;
    wchar_t cls[32];
    GetWindowThreadProcessId(h, &pid);
    GetClassNameW(h, cls, 32);
    if (pid == f->pid && wcscmp(cls, L"QVLFrameClass") == 0) f->found = h;
    return TRUE;
}

unsigned __stdcall holdMutexAndDie(void* arg) {
    *static_cast<HANDLE*>(arg) = CreateMutexW(nullptr, TRUE, L"QVLSemaphore");
    return 0; // ends owning it
}

/* The client started as a second process, with its own temporary folder. */
struct Client {
    PROCESS_INFORMATION pi = {};
    bool started = false;
    Client(const std::wstring& args, const std::wstring& temp) {
        std::string exe = HV_APP_EXE;
        std::wstring path = L"Z:" + std::wstring(exe.begin(), exe.end());
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        std::wstring cmd = L"\"" + path + L"\" " + args;
        std::wstring env = L"TMP=" + temp + L'\0' + L"TEMP=" + temp + L'\0';
        for (wchar_t *e = GetEnvironmentStringsW(), *p = e; *p; p += wcslen(p) + 1) {
            if (_wcsnicmp(p, L"TMP=", 4) && _wcsnicmp(p, L"TEMP=", 5))
                env += std::wstring(p) + L'\0';
        }
        env += L'\0';
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE,
                                 CREATE_UNICODE_ENVIRONMENT, &env[0], nullptr, &si, &pi);
    }
    ~Client() {
        if (!started) return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    /* Waits for the end while answering messages sent to this thread's
     * windows; the exit code, or -1 when it is still running. */
    int wait(DWORD ms = 60000) {
        DWORD start = GetTickCount();
        for (;;) {
            DWORD left = ms - (GetTickCount() - start);
            if (static_cast<int>(left) <= 0) return -1;
            DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, left, QS_ALLINPUT);
            if (r == WAIT_OBJECT_0) {
                DWORD code = 0;
                GetExitCodeProcess(pi.hProcess, &code);
                return static_cast<int>(code);
            }
            if (r != WAIT_OBJECT_0 + 1) return -1;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
    }
    /* Its main frame window once the event loop is near, or none. */
    HWND mainWindow(DWORD ms = 60000) {
        FindMain f = {pi.dwProcessId, nullptr};
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&f));
            if (f.found || WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) return f.found;
        }
        return nullptr;
    }
};

class SecondProcess : public ::testing::Test {
  protected:
    void SetUp() override { temp = privateTemp(); }
    void TearDown() override { removeTree(temp); }
    std::wstring temp;
};

TEST_F(SecondProcess, EarlyExitsGiveTheirExitCodes) {
    std::wstring config = temp + L"launch.xml";
    writeFile(config, "<launch/>");
    Client a(L"-launchconfig " + config, temp);
    ASSERT_TRUE(a.started);
    EXPECT_EQ(a.wait(), 0);
    // The saved session's exit code comes through start-up's table above:
    // a second process would read the user's own profile store.
}

TEST_F(SecondProcess, ClosingTheMainWindowEndsWithZeroAndTracesTheSteps) {
    Client c(L"-nostartimmediate", temp);
    ASSERT_TRUE(c.started);
    HWND main = c.mainWindow();
    ASSERT_NE(main, nullptr);
    SendMessageW(main, WM_CLOSE, 0, 0); // from outside: never seen by the loop
    EXPECT_EQ(c.wait(), 0);
    std::string trace = readFile(temp + L"KLV.TXT");
    EXPECT_NE(trace.find("step: event loop\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("step: shutdown: trace file\r\n"), std::string::npos) << trace;
}

TEST_F(SecondProcess, InstanceMutexSerialisesAndAnAbandonedOneEndsTheWaiter) {
    std::wstring args = L"-application calc -profile " + temp +
                        L"none.xml -url http://h/ "
                        L"-nostartimmediate";
    Client first(args, temp);
    ASSERT_TRUE(first.started);
    HWND firstWindow = first.mainWindow();
    ASSERT_NE(firstWindow, nullptr); // holds "QVLSemaphore" from here on
    Client second(args, temp);
    ASSERT_TRUE(second.started);
    EXPECT_EQ(second.wait(1500), -1); // still waiting for the mutex
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.wait(), 0);
    HWND secondWindow = second.mainWindow();
    ASSERT_NE(secondWindow, nullptr); // got the mutex once the first ended
    PostMessageW(secondWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(second.wait(), 0);

    // A holder that dies without releasing leaves the mutex abandoned.
    HANDLE held = nullptr;
    HANDLE t =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, holdMutexAndDie, &held, 0, nullptr));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    ASSERT_NE(held, nullptr);
    Client third(args, temp);
    ASSERT_TRUE(third.started);
    EXPECT_EQ(third.wait(), 0); // ended by itself, without a window
    CloseHandle(held);
}

TEST_F(SecondProcess, SharedRecordRaisesTheProvidersWindowOrIsLeftAlone) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HvTestWebtop";
    RegisterClassW(&wc);
    HWND webtop = CreateWindowExW(0, wc.lpszClassName, L"webtop", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(webtop, nullptr);
    MappingTurn turn;
    SharedMapping m(2 + 3592);
    ASSERT_TRUE(m.fresh);
    m.view[0] = 1;
    m.record(0, webtop, u"http://h/", u"ann");

    Client other(L"-url http://h/ -username bob -nostartimmediate", temp);
    ASSERT_TRUE(other.started);
    HWND w = other.mainWindow(); // no match: start-up goes on
    ASSERT_NE(w, nullptr);
    PostMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(other.wait(), 0);
    EXPECT_FALSE(IsWindowVisible(webtop));

    Client leave(L"-url http://h/ -username ann", temp); // window mode 0: left alone
    ASSERT_TRUE(leave.started);
    EXPECT_EQ(leave.wait(), 0);
    EXPECT_FALSE(IsWindowVisible(webtop));

    Client raise(L"-url http://h/ -showwebtop", temp); // empty user matches any
    ASSERT_TRUE(raise.started);
    EXPECT_EQ(raise.wait(), 0);
    EXPECT_TRUE(IsWindowVisible(webtop));
    DestroyWindow(webtop);
}

} // namespace
