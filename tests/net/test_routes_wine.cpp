// Connections through real proxies on loopback: tinyproxy (Basic
// authentication, ConnectPort), microsocks (with and without a password),
// dante (a block rule), a scripted HTTP proxy and the tunnel peer, one hop and
// two; credentials come from dialog 188, scripted.
#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "net/dihttp.h"
#include "net/dilaip.h"
#include "core/dide.h"
#include "net/dicrypt.h"
#include "net/ddroute.h"
#include "net/diroute.h"
#include "session/ddso.h"
#include "net/dicertcache.h"
#include "net/ddtls.h"
#include "support/peer_process.h"
#include "support/test_pki.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

enum { CTL_USER = 1001, CTL_PASSWORD = 1002, CTL_SAVE_DETAILS = 1102 };

struct Answer {
    bool ok;
    std::u16string user, password;
    bool save = false;
};

std::u16string lastError() {
    const DiChar* e = diSOGetLastError();
    return e ? e : u"";
}

std::string narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

// Answers the yes/no box of the chain from another thread: the box runs its
// own modal loop on the test's thread.
struct BoxAnswerer {
    HANDLE thread = nullptr;
    int button;
    const wchar_t* caption;
    volatile LONG answered = 0;
    explicit BoxAnswerer(int b, const wchar_t* c = L"Reauthenticate") : button(b), caption(c) {
        thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    static DWORD WINAPI run(void* arg) {
        BoxAnswerer* self = static_cast<BoxAnswerer*>(arg);
        for (int i = 0; i < 600; ++i) {
            HWND box = FindWindowW(L"#32770", nullptr);
            wchar_t title[256] = {};
            if (box) GetWindowTextW(box, title, 256);
            if (box && wcsstr(title, self->caption)) {
                PostMessageW(box, WM_COMMAND, self->button, 0);
                InterlockedIncrement(&self->answered);
                return 0;
            }
            Sleep(50);
        }
        return 0;
    }
    ~BoxAnswerer() {
        WaitForSingleObject(thread, 35000);
        CloseHandle(thread);
    }
};

class RealProxies : public ::testing::Test {
  protected:
    DlgScript script;
    ScriptScope* scope = nullptr;
    std::vector<Answer> answers;
    std::vector<std::u16string> prompts;
    std::vector<DiRoute*> routes;
    DdSocket* sock = nullptr;

    void SetUp() override {
        static bool started = false;
        if (!started) ddNetInit();
        started = true;
        scope = new ScriptScope(&script);
        ddRouteInstallDialogHooks();
        script.onInit = [this](HWND dlg, int id) {
            if (id != DD_DLG_SERVER_AUTH) return;
            wchar_t prompt[512] = {};
            GetDlgItemTextW(dlg, 1101, prompt, 512);
            prompts.push_back(ddD(prompt));
            if (answers.empty()) {
                press(dlg, IDCANCEL);
                return;
            }
            Answer a = answers.front();
            answers.erase(answers.begin());
            setText(dlg, CTL_USER, a.user);
            setText(dlg, CTL_PASSWORD, a.password);
            if (a.save) toggle(dlg, CTL_SAVE_DETAILS, true);
            press(dlg, a.ok ? IDOK : IDCANCEL);
        };
        g_ddApp->httpProxyInUse = g_ddApp->socksInUse = 0;
        g_ddApp->opt.baseRoute = nullptr;
        g_ddApp->proxyFailed = 0;
        diSOSetLastError(nullptr);
        diRouteWaitMs = 30000;
    }
    void TearDown() override {
        if (sock) ddNetSocketDestroy(sock);
        g_ddApp->opt.httpProxyRoute = nullptr;
        g_ddApp->opt.socksRoute = nullptr;
        free(g_ddApp->opt.baseRoute);
        g_ddApp->opt.baseRoute = nullptr;
        for (DiRoute* r : routes) {
            diRouteFree(r);
            delete r;
        }
        delete scope;
    }
    DiRoute* route(uint32_t kind, int port) {
        DiRoute* r = new DiRoute;
        diRouteInit(r, kind, u"127.0.0.1", uint32_t(port), 0);
        routes.push_back(r);
        return r;
    }
    void useHttpProxy(int port) {
        g_ddApp->opt.httpProxyRoute = route(DI_ROUTE_HTTP, port);
        g_ddApp->httpProxyInUse = 1;
    }
    void useSocks(int port) {
        g_ddApp->opt.socksRoute = route(DI_ROUTE_SOCKS, port);
        g_ddApp->socksInUse = 1;
    }
    void baseRoute(const std::string& spec) {
        std::u16string w(spec.begin(), spec.end());
        g_ddApp->opt.baseRoute = static_cast<DiChar*>(malloc((w.size() + 1) * 2));
        memcpy(g_ddApp->opt.baseRoute, w.c_str(), (w.size() + 1) * 2);
    }
    int connect(int port, uint32_t flags = 0) {
        if (sock) ddNetSocketDestroy(sock);
        sock = ddNetSocketCreate();
        ddNetSocketOpen(sock, 1, 1);
        return diNetConnect(sock, u"127.0.0.1", uint16_t(port), flags);
    }
    // The connection reaches the echoing target through every hop. Under
    // TLS the socket may turn readable for a record that holds no data (a
    // session ticket): a read that would block waits again.
    bool echoes() {
        const char ping[] = "through the chain";
        if (ddNetSend(sock, ping, int(sizeof ping)) != int(sizeof ping)) return false;
        std::string got;
        DWORD t0 = GetTickCount();
        while (got.size() < sizeof ping && GetTickCount() - t0 < 5000) {
            if (ddNetWaitReadable(sock, 5000) != 1) return false;
            char buf[64];
            int n = ddNetRecv(sock, buf, sizeof buf);
            if (n < 0 && sock->error == DD_NET_ERR_WOULD_BLOCK) continue;
            if (n <= 0) return false;
            got.append(buf, size_t(n));
        }
        return got == std::string(ping, sizeof ping);
    }
};

TEST_F(RealProxies, TinyproxyBasicAuthentication) {
    Peer target, proxy;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(proxy.start("proxy_launcher.py", "tinyproxy --user alice --password s3cret"));
    useHttpProxy(proxy.port);
    ddTraceLogOpen();
    // No credentials, then empty ones, then the dialog's.
    answers = {{true, u"alice", u"s3cret"}};
    ASSERT_EQ(connect(target.port), 0) << narrow(lastError());
    // Nothing written to the trace holds the password or its Base64 form.
    diRouteReportError(g_ddApp->opt.httpProxyRoute, DI_HOP_FAILED, g_ddApp->opt.httpProxyRoute);
    FILE* trace = _wfopen(ddTraceLogPath(), L"rb");
    ASSERT_NE(trace, nullptr);
    std::string bytes;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, trace)) > 0;)
        bytes.append(chunk, n);
    fclose(trace);
    EXPECT_NE(bytes.find("HTTP proxy"), std::string::npos);
    EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
    EXPECT_EQ(bytes.find("YWxpY2U6czNjcmV0"), std::string::npos);
    EXPECT_TRUE(echoes());
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_NE(prompts[0].find(u"HTTP proxy \"Tinyproxy\" at 127.0.0.1"), std::u16string::npos);

    // The route keeps its credentials: the next connection asks nothing.
    ASSERT_EQ(connect(target.port), 0);
    EXPECT_EQ(prompts.size(), 1u);
}

TEST_F(RealProxies, TinyproxyWrongPasswordAsksAgainAndCancelEnds) {
    Peer target, proxy;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(proxy.start("proxy_launcher.py", "tinyproxy --user alice --password s3cret"));
    useHttpProxy(proxy.port);
    answers = {{true, u"alice", u"wrong"}, {true, u"alice", u"s3cret"}};
    ASSERT_EQ(connect(target.port), 0);
    EXPECT_EQ(prompts.size(), 2u);
    EXPECT_TRUE(echoes());

    diRouteDropCredentials(g_ddApp->opt.httpProxyRoute);
    answers = {{false, u"", u""}};
    EXPECT_EQ(connect(target.port), -8);
}

TEST_F(RealProxies, TinyproxyConnectPortRefusal) {
    Peer target, proxy;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(proxy.start("proxy_launcher.py", "tinyproxy --connect-port 443"));
    useHttpProxy(proxy.port);
    EXPECT_EQ(connect(target.port), -7);
    std::u16string e = lastError();
    EXPECT_NE(e.find(u"failed to connect to the server 127.0.0.1"), std::u16string::npos)
        << narrow(e);
    EXPECT_NE(e.find(u"HTTP/1.0 403"), std::u16string::npos) << narrow(e);
    EXPECT_EQ(g_ddApp->proxyFailed, 1u);
}

TEST_F(RealProxies, ScriptedProxyChallengesAndSilence) {
    Peer ntlm, split, multi, silent;
    ASSERT_TRUE(ntlm.start("http_proxy_peer.py", "--scenario ntlm"));
    ASSERT_TRUE(split.start("http_proxy_peer.py", "--scenario split"));
    ASSERT_TRUE(multi.start("http_proxy_peer.py", "--scenario multi --user bob --password pw"));
    ASSERT_TRUE(silent.start("http_proxy_peer.py", "--scenario silent"));

    useHttpProxy(ntlm.port);
    EXPECT_EQ(connect(4000), -7);
    EXPECT_NE(lastError().find(u"requires an authentication method not supported"),
              std::u16string::npos);

    useHttpProxy(split.port);
    ASSERT_EQ(connect(4000), 0) << narrow(lastError());
    EXPECT_TRUE(echoes()); // the peer's tunnel echoes

    useHttpProxy(multi.port);
    answers = {{true, u"bob", u"pw"}};
    ASSERT_EQ(connect(4000), 0) << narrow(lastError());
    EXPECT_EQ(prompts, std::vector<std::u16string>{prompts.empty() ? u"" : prompts[0]});
    EXPECT_NE(prompts[0].find(u"\"peer\""), std::u16string::npos);
    EXPECT_TRUE(echoes());

    useHttpProxy(silent.port);
    diRouteWaitMs = 1500;
    DWORD t0 = GetTickCount();
    EXPECT_EQ(connect(4000), -7);
    EXPECT_LT(GetTickCount() - t0, 20000u);
    EXPECT_NE(lastError().find(u"A network error while connected to the HTTP proxy"),
              std::u16string::npos);
}

TEST_F(RealProxies, MicrosocksAndDante) {
    Peer target, closed, open, locked, dante;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(closed.start("proxy_launcher.py", "closed"));
    ASSERT_TRUE(open.start("proxy_launcher.py", "microsocks"));
    ASSERT_TRUE(locked.start("proxy_launcher.py", "microsocks --user carol --password pw"));
    ASSERT_TRUE(
        dante.start("proxy_launcher.py", "dante --block-port " + std::to_string(closed.port)));

    useSocks(open.port);
    ASSERT_EQ(connect(target.port), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    EXPECT_EQ(connect(closed.port), -7);
    EXPECT_NE(lastError().find(u"failed to connect to the server"), std::u16string::npos)
        << narrow(lastError());

    useSocks(locked.port);
    answers = {{true, u"carol", u"pw"}};
    ASSERT_EQ(connect(target.port), 0) << narrow(lastError());
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_TRUE(echoes());

    useSocks(dante.port);
    EXPECT_EQ(connect(closed.port), -7);
    EXPECT_NE(lastError().find(u"refused to connect to the server"), std::u16string::npos)
        << narrow(lastError());
    ASSERT_EQ(connect(target.port), 0);
    EXPECT_TRUE(echoes());
}

// Replies that arrive a byte at a time over a real socket are read whole.
TEST_F(RealProxies, SplitSocksReplies) {
    Peer split, auth, gssapi;
    ASSERT_TRUE(split.start("socks_peer.py", "--scenario split"));
    ASSERT_TRUE(auth.start("socks_peer.py", "--scenario auth --user erin --password pw"));
    ASSERT_TRUE(gssapi.start("socks_peer.py", "--scenario gssapi"));
    useSocks(split.port);
    ASSERT_EQ(connect(4000), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    useSocks(auth.port);
    answers = {{true, u"erin", u"pw"}};
    ASSERT_EQ(connect(4000), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    useSocks(gssapi.port);
    EXPECT_EQ(connect(4000), -7);
    EXPECT_NE(lastError().find(u"requires an authentication method not supported"),
              std::u16string::npos);
}

TEST_F(RealProxies, WrongSocksPasswordAsksTheQuestion) {
    Peer target, locked;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(locked.start("proxy_launcher.py", "microsocks --user carol --password pw"));
    useSocks(locked.port);
    DiRoute* r = g_ddApp->opt.socksRoute;
    r->credentialKind = 1;
    diRouteSetCredentials(r, u"carol", u"wrong");
    answers = {{true, u"carol", u"pw"}};
    {
        BoxAnswerer yes(IDYES);
        ASSERT_EQ(connect(target.port), 0) << narrow(lastError());
    }
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_TRUE(echoes());
}

TEST_F(RealProxies, TwoHops) {
    Peer target, tiny, socks, locked, dante, tunnel;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(tiny.start("proxy_launcher.py", "tinyproxy"));
    ASSERT_TRUE(socks.start("proxy_launcher.py", "microsocks"));
    ASSERT_TRUE(locked.start("proxy_launcher.py", "microsocks --user dan --password pw"));
    ASSERT_TRUE(dante.start("proxy_launcher.py", "dante"));
    ASSERT_TRUE(tunnel.start("qvlp_peer.py", ""));

    useHttpProxy(tiny.port);
    baseRoute("CTSOCKS:127.0.0.1:" + std::to_string(socks.port));
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());

    baseRoute("CTQVLP:127.0.0.1:" + std::to_string(tunnel.port));
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());

    g_ddApp->httpProxyInUse = 0;
    useSocks(dante.port);
    baseRoute("CTSOCKS:127.0.0.1:" + std::to_string(locked.port));
    answers = {{true, u"dan", u"pw"}};
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
}

// Credentials saved from the dialog in one process are found by the next,
// for a route made the way the outpost makes it, without a dialog.
TEST_F(RealProxies, SavedCredentialsServeTheNextProcess) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring profile = std::wstring(temp) + L"hv_route_profile_" +
                           std::to_wstring(GetCurrentProcessId()) + L".xml";
    DeleteFileW(profile.c_str());
    ddProfStoreSetPath(profile.c_str());
    ddProfStoreCreate();
    Peer target, proxy;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(proxy.start("proxy_launcher.py", "tinyproxy --user alice --password s3cret"));
    useHttpProxy(proxy.port);
    Answer a{true, u"alice", u"s3cret"};
    a.save = true;
    answers = {a};
    ASSERT_EQ(connect(target.port), 0) << narrow(lastError());
    ASSERT_EQ(prompts.size(), 1u);

    SetEnvironmentVariableW(L"HV_ROUTE_PROFILE", profile.c_str());
    SetEnvironmentVariableW(L"HV_ROUTE_PROXY", std::to_wstring(proxy.port).c_str());
    SetEnvironmentVariableW(L"HV_ROUTE_TARGET", std::to_wstring(target.port).c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd =
        std::wstring(L"\"") + self + L"\" --gtest_filter=RealProxies.SecondProcessUsesTheCache";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(
        CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);
    // The second process leaves this mark only when its connection worked.
    std::wstring mark = profile + L".ok";
    EXPECT_NE(GetFileAttributesW(mark.c_str()), INVALID_FILE_ATTRIBUTES);
    SetEnvironmentVariableW(L"HV_ROUTE_PROFILE", nullptr);
    DeleteFileW(mark.c_str());
    DeleteFileW(profile.c_str());
}

TEST_F(RealProxies, SecondProcessUsesTheCache) {
    wchar_t profile[MAX_PATH], proxyPort[16], targetPort[16];
    if (!GetEnvironmentVariableW(L"HV_ROUTE_PROFILE", profile, MAX_PATH))
        GTEST_SKIP() << "runs as the second process of SavedCredentialsServeTheNextProcess";
    GetEnvironmentVariableW(L"HV_ROUTE_PROXY", proxyPort, 16);
    GetEnvironmentVariableW(L"HV_ROUTE_TARGET", targetPort, 16);
    ddProfStoreSetPath(profile);
    ddProfStoreCreate();
    useHttpProxy(_wtoi(proxyPort));
    diRouteLoadCachedCredentials(g_ddApp->opt.httpProxyRoute);
    ASSERT_EQ(connect(_wtoi(targetPort)), 0) << narrow(lastError());
    EXPECT_TRUE(prompts.empty());
    EXPECT_TRUE(echoes());
    if (prompts.empty() && !HasFailure()) {
        std::wstring mark = std::wstring(profile) + L".ok";
        CloseHandle(
            CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
}

// The server-information fetch over real sockets: the socket events come
// through a window as in the client.
LRESULT CALLBACK socketWindow(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == g_ddApp->winsockMessage && m) {
        ddNetHandleSocketMessage(w, l);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

struct FetchOutcome {
    int calls = 0;
    int status = 0;
    int asad = 0;
    std::u16string baseRoute;
};

void fetched(DiHTTPClient* c, void* arg, DiHTTPResults* r) {
    FetchOutcome* o = static_cast<FetchOutcome*>(arg);
    o->calls++;
    o->status = c->status;
    o->asad = r->asadPort;
    o->baseRoute = r->baseRoute ? r->baseRoute : u"";
}

class Fetch : public RealProxies {
  protected:
    HWND window = nullptr;
    DiHTTPClient* client = nullptr;
    std::string root;
    void SetUp() override {
        RealProxies::SetUp();
        WNDCLASSW wc{};
        wc.lpfnWndProc = socketWindow;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvRouteTestSockets";
        RegisterClassW(&wc);
        window = CreateWindowW(L"HvRouteTestSockets", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               wc.hInstance, nullptr);
        g_ddApp->mainWindow = window;
        g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
        client = diHTTPClientAlloc();
        diHTTPClientInit(client);
        char dir[128];
        snprintf(dir, sizeof dir, "/tmp/hv_route_web_%lu_%lu", GetCurrentProcessId(),
                 GetTickCount());
        root = dir;
    }
    void TearDown() override {
        diHTTPClientFree(client);
        g_ddApp->mainWindow = nullptr;
        DestroyWindow(window);
        std::string page = "Z:" + root + "/cgi-bin/qvlwebtop/login/boot/serverinfo.html";
        DeleteFileA(page.c_str());
        for (const char* d : {"/cgi-bin/qvlwebtop/login/boot", "/cgi-bin/qvlwebtop/login",
                              "/cgi-bin/qvlwebtop", "/cgi-bin", ""})
            RemoveDirectoryA(("Z:" + root + d).c_str());
        RealProxies::TearDown();
    }
    // Only the third page pair exists: the first two answer 404.
    void writePage(const std::string& text) {
        std::string path = "Z:" + root;
        for (const char* d : {"", "/cgi-bin", "/cgi-bin/qvlwebtop", "/cgi-bin/qvlwebtop/login",
                              "/cgi-bin/qvlwebtop/login/boot"})
            CreateDirectoryA((path + d).c_str(), nullptr);
        FILE* f = fopen((path + "/cgi-bin/qvlwebtop/login/boot/serverinfo.html").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    FetchOutcome fetch(int port, const DiChar* host = u"127.0.0.1", uint32_t scheme = 0) {
        FetchOutcome o;
        if (diHTTPFetchServerInfo(client, host, uint32_t(port), scheme, nullptr, fetched, &o) !=
                0 &&
            !o.calls)
            return o;
        DWORD start = GetTickCount();
        while (!o.calls && GetTickCount() - start < 30000) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            diTimerDispatch(ddTimerNow());
            Sleep(5);
        }
        // Whatever is still under way must not call back a second time.
        for (DWORD settle = GetTickCount(); GetTickCount() - settle < 300;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            diTimerDispatch(ddTimerNow());
            Sleep(5);
        }
        EXPECT_LE(o.calls, 1);
        return o;
    }
};

TEST_F(Fetch, ThirdPageLongLinesAndNoFinalLineBreak) {
    std::string longRoute = "CTSOCKS:" + std::string(300, 'h') + ":1080";
    writePage("AsadPort=5000 NonSecurePort=5001\nBaseRoute=" + longRoute + "\nFullScreen=1");
    Peer web;
    ASSERT_TRUE(web.start("proxy_launcher.py", "web --root " + root));
    FetchOutcome o = fetch(web.port);
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, 5000);
    EXPECT_EQ(narrow(o.baseRoute), longRoute);
    EXPECT_EQ(client->attempt, 2);

    // The same through tinyproxy, which gets the absolute URL.
    Peer tiny;
    ASSERT_TRUE(tiny.start("proxy_launcher.py", "tinyproxy"));
    useHttpProxy(tiny.port);
    client->attempt = 2;
    o = fetch(web.port);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, 5000);
}

TEST_F(Fetch, EndlessReplyEndsAtItsCap) {
    Peer endless;
    ASSERT_TRUE(endless.start("proxy_launcher.py", "endless"));
    FetchOutcome o = fetch(endless.port);
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, -1);
}

TEST_F(Fetch, ProxyAuthorizationOnlyOnThePlainGetToTheProxy) {
    std::string log = root + ".log";
    Peer recorder, challenger;
    ASSERT_TRUE(recorder.start("http_proxy_peer.py", "--scenario record --log " + log));
    ASSERT_TRUE(challenger.start("http_proxy_peer.py", "--scenario multi --user x --password y"));
    useHttpProxy(recorder.port);
    g_ddApp->opt.httpProxyRoute->credentialKind = 1;
    diRouteSetCredentials(g_ddApp->opt.httpProxyRoute, u"alice", u"pw");
    FetchOutcome o = fetch(12345);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, 4321);
    // A web server bypassing the proxy (an exception) that answers 407 gets
    // neither the credentials nor a dialog: the fetch just fails.
    std::u16string ex = u"127.0.0.1";
    g_ddApp->proxyExceptions = const_cast<DiChar*>(ex.c_str());
    o = fetch(challenger.port);
    g_ddApp->proxyExceptions = nullptr;
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.status, 407);
    EXPECT_TRUE(prompts.empty());
    FILE* f = fopen(("Z:" + log).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string bytes;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes.append(chunk, n);
    fclose(f);
    DeleteFileA(("Z:" + log).c_str());
    EXPECT_EQ(bytes.find("GET http://127.0.0.1:12345/cgi-bin/qvlwebtop.cgi/"), 0u) << bytes;
    EXPECT_NE(bytes.find("Proxy-Authorization: Basic YWxpY2U6cHc=\r\n"), std::string::npos);
}

// The login-dialog exchange on a channel's real connection to the LAIP peer,
// with the authentication dialog (107) scripted.
std::vector<uint32_t> g_ownEvents;
int ownHandler(DiObject* obj, DiEvent* ev) {
    g_ownEvents.push_back(ev->w[0]);
    if (ev->w[0] == DI_EV_READABLE || ev->w[0] == DI_EV_CLOSED) {
        DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
        diIOFill(&ch->in, ch->socket);
    }
    return 1;
}

class Laip : public Fetch {
  protected:
    DiChannel* ch = nullptr;
    std::string log;
    void SetUp() override {
        Fetch::SetUp();
        g_ownEvents.clear();
        log = root + ".laip.log";
        script.onInit = [this](HWND dlg, int id) {
            if (id != 107 || answers.empty()) {
                press(dlg, IDCANCEL);
                return;
            }
            Answer a = answers.front();
            answers.erase(answers.begin());
            setText(dlg, CTL_USER, a.user);
            setText(dlg, CTL_PASSWORD, a.password);
            press(dlg, a.ok ? IDOK : IDCANCEL);
        };
    }
    void TearDown() override {
        if (ch) diDEDestroyChannel(ch);
        DeleteFileA(("Z:" + log).c_str());
        Fetch::TearDown();
    }
    bool start(Peer& peer, const std::string& scenario) {
        if (!peer.start("laip_peer.py", scenario + " --log " + log)) return false;
        ch = diDECreateChannel(nullptr, DI_OBJ_TDE, 0, 0);
        if (!ch || ddNetSocketOpen(ch->socket, 1, 1) != 0) return false;
        if (diNetConnect(ch->socket, u"127.0.0.1", uint16_t(peer.port), 0) != 0) return false;
        ch->hdr.handler = ownHandler;
        ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                          DD_NET_READ | DD_NET_CLOSE);
        uint8_t block[64] = {'b', 'l', 'o', 'c', 'k'};
        return diLAIPSendRequest(ch, 0, 2, nullptr, 0, nullptr, block, u"srv.example", nullptr) ==
               0;
    }
    void pumpWhile(const std::function<bool()>& more, DWORD ms = 20000) {
        DWORD t0 = GetTickCount();
        while (more() && GetTickCount() - t0 < ms) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            diTimerDispatch(ddTimerNow());
            Sleep(5);
        }
    }
    std::string peerLog() {
        std::string bytes;
        FILE* f = fopen(("Z:" + log).c_str(), "rb");
        if (!f) return bytes;
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.append(chunk, n);
        fclose(f);
        return bytes;
    }
    std::string input() const {
        return std::string(reinterpret_cast<char*>(ch->in.data), ch->in.used);
    }
};

TEST_F(Laip, CredentialsGoScrambledAndTheChannelOpens) {
    Peer peer;
    ASSERT_TRUE(start(peer, "--scenario auth --user alice --password kelp.s3cret"));
    answers = {{true, u"alice", u"kelp.s3cret"}};
    pumpWhile([&] { return diLAIPActive(ch); });
    EXPECT_FALSE(diLAIPActive(ch));
    pumpWhile([&] { return input().find("OWN") == std::string::npos; }, 3000);
    ASSERT_FALSE(g_ownEvents.empty());
    EXPECT_EQ(g_ownEvents[0], uint32_t(DI_EV_OPEN));
    EXPECT_EQ(input(), "OWN");
    std::string got = peerLog();
    EXPECT_NE(got.find("\"host\": \"srv.example\", \"block\": \"block\""), std::string::npos)
        << got;
    EXPECT_NE(
        got.find("\"type\": 2, \"kind\": 1, \"user\": \"alice\", \"password\": \"kelp.s3cret\""),
        std::string::npos)
        << got;
    EXPECT_EQ(script.inits, std::vector<int>{107});
}

TEST_F(Laip, QuestionTimeOutAndHostileFrames) {
    {
        Peer peer;
        ASSERT_TRUE(start(peer, "--scenario question"));
        {
            BoxAnswerer yes(IDYES, L"Question");
            pumpWhile([&] { return diLAIPActive(ch); });
        }
        EXPECT_FALSE(diLAIPActive(ch));
        EXPECT_NE(peerLog().find("\"type\": 8, \"id\": 7, \"answer\": 1"), std::string::npos)
            << peerLog();
        diDEDestroyChannel(ch);
        ch = nullptr;
        DeleteFileA(("Z:" + log).c_str());
    }
    {
        Peer peer;
        ASSERT_TRUE(start(peer, "--scenario timeout"));
        pumpWhile([&] { return diLAIPActive(ch); });
        EXPECT_FALSE(diLAIPActive(ch));
        pumpWhile([&] { return peerLog().find("\"type\": 7") == std::string::npos; }, 5000);
        EXPECT_NE(peerLog().find("\"type\": 7"), std::string::npos) << peerLog();
        EXPECT_EQ(g_ownEvents.empty() ? 0u : g_ownEvents[0], uint32_t(DI_EV_OPEN));
        diDEDestroyChannel(ch);
        ch = nullptr;
        DeleteFileA(("Z:" + log).c_str());
    }
    {
        g_ownEvents.clear();
        Peer peer;
        ASSERT_TRUE(start(peer, "--scenario hostile"));
        pumpWhile([&] { return diLAIPActive(ch); });
        EXPECT_FALSE(diLAIPActive(ch));
        pumpWhile([&] { return input().find("OWN") == std::string::npos; }, 3000);
        EXPECT_EQ(input(), "OWN");
    }
}

// The "-cache" start-up loop: a confirmed dialog ends it, and an entry of
// another user is not taken.
class CacheLoop : public ::testing::Test {
  protected:
    DlgScript script;
    ScriptScope* scope = nullptr;
    DdApp app{};
    std::u16string location, user, password;
    void SetUp() override {
        static bool store = false;
        if (!store) {
            ddProfStoreSetPath(L"");
            ddProfStoreCreate();
        }
        store = true;
        scope = new ScriptScope(&script);
        ddRouteInstallDialogHooks();
        script.onInit = [this](HWND dlg, int id) {
            if (id != DD_DLG_PASSWORD_CACHE || password.empty()) {
                press(dlg, IDCANCEL);
                return;
            }
            if (!location.empty()) setText(dlg, 1000, location);
            setText(dlg, CTL_USER, user);
            setText(dlg, CTL_PASSWORD, password);
            setText(dlg, 1004, password);
            press(dlg, IDOK);
        };
        memset(&app, 0, sizeof app);
        app.opt.cache = 1;
    }
    void TearDown() override {
        free(app.url);
        free(app.user);
        free(app.password);
        delete scope;
    }
};

// The user is told why the password is not remembered, and the entry kept
// before under the location (another user's, so the dialog comes) is not
// sent at the next start.
TEST_F(CacheLoop, LongPasswordGoesOnWithoutALoop) {
    ASSERT_TRUE(diCryptStoreCachedLogin(u"http://one.example/", u"bob", u"bobs"));
    app.url = diAppStrDup(u"http://one.example/");
    app.user = diAppStrDup(u"alice");
    user = u"alice";
    password = u"twenty-byte-password";
    EXPECT_EQ(ddAppPasswordCacheMode(&app), 0);
    EXPECT_EQ(script.inits.size(), 1u);
    EXPECT_EQ(script.warnings, std::vector<int>{22});
    DiChar *u = nullptr, *p = nullptr;
    EXPECT_FALSE(diCryptLookupCachedLogin(u"http://one.example/", &u, &p));
    free(u);
    free(p);
    ASSERT_NE(app.password, nullptr);
    EXPECT_EQ(std::u16string(app.password), password);
    EXPECT_EQ(std::u16string(app.user), u"alice");
}

TEST_F(CacheLoop, AnotherLocationEndsAsACancel) {
    app.url = diAppStrDup(u"http://two.example/");
    location = u"http://elsewhere.example/";
    user = u"alice";
    password = u"pw";
    EXPECT_EQ(ddAppPasswordCacheMode(&app), 1);
    EXPECT_EQ(script.inits.size(), 1u);
    DiChar *u = nullptr, *p = nullptr;
    ASSERT_TRUE(diCryptLookupCachedLogin(u"http://elsewhere.example/", &u, &p));
    free(u);
    free(p);
}

TEST_F(CacheLoop, OnlyTheLaunchUsersEntry) {
    ASSERT_TRUE(diCryptStoreCachedLogin(u"http://three.example/", u"alice", u"alices"));
    app.url = diAppStrDup(u"http://three.example/");
    app.user = diAppStrDup(u"bob");
    EXPECT_EQ(ddAppPasswordCacheMode(&app), 1); // asked, cancelled
    EXPECT_EQ(script.inits.size(), 1u);
    EXPECT_EQ(app.password, nullptr);
    free(app.user);
    app.user = diAppStrDup(u"alice");
    EXPECT_EQ(ddAppPasswordCacheMode(&app), 0);
    ASSERT_NE(app.password, nullptr);
    EXPECT_EQ(std::u16string(app.password), u"alices");
}

// Hops and fetches under TLS through the real TLS layer, with the test PKI
// (tests/peers/make_pki.py): the root is the session's CA file, servers
// present "localhost" certificates, and the certificate warnings are
// answered by the script (refused unless an answer is given).
enum { CTL_PERMANENT = 1145, CTL_TEMPORARY = 1155, CTL_CHAIN = 1146 };
std::string g_pki;

class TlsRoutes : public Fetch {
  protected:
    std::wstring cacheDir;
    std::vector<int> shown;       // certificate warnings in the order shown
    std::map<int, int> tlsAnswer; // by dialog: 0 refuse, 1 accept, 2 remember

    static void SetUpTestSuite() {
        g_pki = makeTestPki("hv-route-pki");
        ASSERT_FALSE(g_pki.empty());
    }
    static void TearDownTestSuite() { removeTestPki(g_pki); }
    void SetUp() override {
        Fetch::SetUp();
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        cacheDir = std::wstring(tmp) + L"hv-route-tls-" + std::to_wstring(GetCurrentProcessId()) +
                   L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(cacheDir.c_str(), nullptr);
        ddConfigSetCertFolder(cacheDir.c_str());
        diCertCacheReset();
        std::wstring ca = winPath(g_pki) + L"\\root.pem";
        g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(ca.size() + 1, sizeof(DiChar)));
        memcpy(g_ddApp->opt.caFile, ca.c_str(), ca.size() * sizeof(DiChar));
        auto proxyDialog = script.onInit;
        script.onInit = [this, proxyDialog](HWND dlg, int id) {
            if (id == DD_DLG_SERVER_AUTH) {
                proxyDialog(dlg, id);
                return;
            }
            shown.push_back(id);
            int answer = tlsAnswer.count(id) ? tlsAnswer[id] : 0;
            if (id == DD_DLG_SECURITY_LIST && answer) {
                int pick = answer == 2 ? CTL_PERMANENT : CTL_TEMPORARY;
                for (int r : {CTL_TEMPORARY, CTL_PERMANENT, CTL_CHAIN})
                    CheckDlgButton(dlg, r, r == pick ? BST_CHECKED : BST_UNCHECKED);
            }
            press(dlg, answer ? IDOK : IDCANCEL);
        };
    }
    void TearDown() override {
        Fetch::TearDown();
        free(g_ddApp->opt.caFile);
        g_ddApp->opt.caFile = nullptr;
        diCertCacheReset();
        ddConfigSetCertFolder(nullptr);
        removeTree(cacheDir);
    }
    std::string cert(const std::string& name) {
        return " --cert " + g_pki + "/" + name + ".pem --key " + g_pki + "/" +
               (name == "chain-local" ? std::string("local") : name) + ".key";
    }
    // The "localhost" leaf and its intermediate for openssl s_server.
    std::string serverCert() {
        return " -cert " + g_pki + "/local.pem -key " + g_pki + "/local.key -cert_chain " + g_pki +
               "/inter.pem";
    }
    std::u16string message(int n) {
        DiChar text[1024];
        return ddResLoadMessage(n, text, 1024) > 0 ? std::u16string(text) : std::u16string();
    }
    // A client's fetches go on from the page pair it reached: a new one
    // starts from the first.
    void freshClient() {
        diHTTPClientFree(client);
        client = diHTTPClientAlloc();
        diHTTPClientInit(client);
    }
    bool says(const std::u16string& part) { return lastError().find(part) != std::u16string::npos; }
};

// The fetch under TLS: two pages answer 404 over their own connections, the
// third is read to a close without a close notice, and only the first
// connection to the host asks. A retry whose connection fails its TLS ends
// the fetch through its one callback with -1.
TEST_F(TlsRoutes, HttpsFetchRetriesAndEndsThroughTheCallback) {
    writePage("AsadPort=5000 NonSecurePort=5001\nFullScreen=1");
    Peer web, once;
    ASSERT_TRUE(web.start("proxy_launcher.py", "web --root " + root + cert("chain-local")));
    tlsAnswer[DD_DLG_UNTRUSTED] = 1;
    FetchOutcome o = fetch(web.port, u"localhost", 1);
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, 5000);
    EXPECT_EQ(shown, std::vector<int>{DD_DLG_UNTRUSTED});

    // Through the HTTP proxy the encrypted fetch is announced with CONNECT.
    Peer tiny;
    ASSERT_TRUE(tiny.start("proxy_launcher.py", "tinyproxy"));
    useHttpProxy(tiny.port);
    freshClient();
    o = fetch(web.port, u"localhost", 1);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.asad, 5000);
    EXPECT_EQ(shown.size(), 1u);
    g_ddApp->httpProxyInUse = 0;

    ASSERT_TRUE(once.start("proxy_launcher.py",
                           "web --tls-once --root " + root + "/none" + cert("chain-local")));
    freshClient();
    o = fetch(once.port, u"localhost", 1);
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.status, -1);
}

// A tunnel hop under TLS (the peer's ssl form): the hop's host is checked,
// its first connection asks, and the target is reached through it. With
// flag 8 the hop's TLS stands in for the target's (-9, the target's TLS is
// not started); without it two secure hops are refused with 272.
TEST_F(TlsRoutes, TunnelHopUnderTls) {
    Peer target, tunnel;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(tunnel.start("qvlp_peer.py", cert("chain-local")));
    baseRoute("CTQVLP:localhost:" + std::to_string(tunnel.port) + ":ssl");
    tlsAnswer[DD_DLG_UNTRUSTED] = 1;
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    EXPECT_EQ(shown, std::vector<int>{DD_DLG_UNTRUSTED});
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    EXPECT_EQ(shown.size(), 1u); // the host is known now

    EXPECT_EQ(connect(target.port, 1 | 2 | 8), -9) << narrow(lastError());
    EXPECT_TRUE(echoes());
    EXPECT_EQ(connect(target.port, 1 | 2), -7);
    EXPECT_EQ(lastError(), message(272));
    EXPECT_EQ(g_ddApp->proxyFailed, 1);
}

// A hop's certificate follows the warnings of a client connection: a
// self-signed tunnel asks with the problem list, a refusal fails the hop
// (273), and "remember" makes the next process connect without asking. A
// hop reached by an address its certificate does not name is asked about.
TEST_F(TlsRoutes, HopCertificateWarningsFollowTheDecisions) {
    Peer target, tunnel;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(tunnel.start("qvlp_peer.py", cert("selflocal")));
    std::string hop = "localhost:" + std::to_string(tunnel.port);
    baseRoute("CTQVLP:" + hop + ":ssl");
    EXPECT_EQ(connect(target.port, 1), -7);
    EXPECT_EQ(shown, std::vector<int>{DD_DLG_SECURITY_LIST});
    EXPECT_TRUE(says(u"SSL")) << narrow(lastError());
    EXPECT_TRUE(says(u"QVLP proxy " + std::u16string(hop.begin(), hop.end())))
        << narrow(lastError());

    shown.clear();
    tlsAnswer[DD_DLG_SECURITY_LIST] = 2;
    tlsAnswer[DD_DLG_UNTRUSTED] = 1;
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(echoes());
    EXPECT_EQ(shown, (std::vector<int>{DD_DLG_SECURITY_LIST, DD_DLG_UNTRUSTED}));
    diCertCacheReset(); // the next process
    shown.clear();
    ASSERT_EQ(connect(target.port, 1), 0) << narrow(lastError());
    EXPECT_TRUE(shown.empty());

    Peer trusted;
    ASSERT_TRUE(trusted.start("qvlp_peer.py", cert("chain-local")));
    baseRoute("CTQVLP:127.0.0.1:" + std::to_string(trusted.port) + ":ssl");
    tlsAnswer.clear();
    EXPECT_EQ(connect(target.port, 1), -7);
    EXPECT_EQ(shown, std::vector<int>{DD_DLG_SECURITY_LIST});
}

// Against openssl s_server: a SOCKS hop under TLS whose server never
// answers the greeting fails within the chain's bound (the handshake's own
// bound must not replace it), and a hop that speaks only TLS 1.0 fails its
// TLS (273).
TEST_F(TlsRoutes, SecureHopsAgainstTheOpensslServer) {
    Peer target, quiet, old;
    ASSERT_TRUE(target.start("proxy_launcher.py", "echo"));
    ASSERT_TRUE(quiet.start("tls_peer.py", "s_server -naccept 1" + serverCert(), 40));
    baseRoute("CTSOCKS:localhost:" + std::to_string(quiet.port) + ":ssl");
    tlsAnswer[DD_DLG_UNTRUSTED] = 1;
    diRouteWaitMs = 1000;
    DWORD t0 = GetTickCount();
    EXPECT_EQ(connect(target.port, 1), -7);
    EXPECT_LT(GetTickCount() - t0, 20000u); // the peer would hold it 40 s
    EXPECT_TRUE(says(u"network error")) << narrow(lastError());

    ASSERT_TRUE(old.start("tls_peer.py",
                          "s_server -naccept 1 -tls1 -cipher ALL@SECLEVEL=0" + serverCert(), 30));
    baseRoute("CTSOCKS:localhost:" + std::to_string(old.port) + ":ssl");
    EXPECT_EQ(connect(target.port, 1), -7);
    EXPECT_TRUE(says(u"SSL")) << narrow(lastError());
}

} // namespace
