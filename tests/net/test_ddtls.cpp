// The TLS layer under Wine against `openssl s_server` and a Python echo peer
// on loopback, with certificates of the test PKI (tests/peers/make_pki.py):
// the warnings each case shows with scripted answers, what "remember" keeps
// for the next process, the overrides, the Windows "CA" store, old servers,
// bulk data through the socket layer, and records read ahead with the
// handshake.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/ddtls.h"
#include "net/dicert.h"
#include "net/dicertcache.h"
#include "session/ddso.h"
#include "session/diprofile.h"
#include "support/peer_process.h"
#include "support/test_pki.h"
#include "support/winshot.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <wincrypt.h>

#include <map>
#include <string>
#include <vector>

namespace {

enum { CTL_PROBLEMS = 1159, CTL_PERMANENT = 1145, CTL_TEMPORARY = 1155, CTL_CHAIN = 1146 };

std::string g_pki;     // host path of the test PKI
std::wstring g_pkiWin; // the same through Wine's Z: drive
std::wstring g_caFile; // root.pem, the session's CA file when set

LRESULT CALLBACK sinkProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == g_ddApp->winsockMessage && m != 0) {
        ddNetHandleSocketMessage(w, l);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

std::string slurp(const std::wstring& path) {
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

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// A TLS server of the PKI: `openssl s_server` with the certificate (and
// chain) named, ending after `accepts` connections.
bool serve(Peer* peer, const std::string& cert, int accepts = 1, const std::string& extra = "") {
    std::string args = "s_server -naccept " + std::to_string(accepts) + " -cert " + g_pki + "/" +
                       cert + ".pem -key " + g_pki + "/" + cert + ".key";
    if (cert == "good") args += " -cert_chain " + g_pki + "/inter.pem";
    return peer->start("tls_peer.py", args + " " + extra, 30);
}

struct Tls : ::testing::Test {
    std::wstring cacheDir;
    std::vector<DdSocket*> sockets;

    static void SetUpTestSuite() {
        ASSERT_EQ(ddNetInit(), 0);
        WNDCLASSW wc{};
        wc.lpfnWndProc = sinkProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HvTlsSocketSink";
        RegisterClassW(&wc);
        g_ddApp->winsockMessage = RegisterWindowMessageW(L"QVLWinSockMessage");
        g_ddApp->mainWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                              nullptr, wc.hInstance, nullptr);
        char name[64];
        snprintf(name, sizeof name, "/tmp/hv-tls-pki-%lu-%lu", GetCurrentProcessId(),
                 GetTickCount());
        g_pki = name;
        g_pkiWin = winPath(g_pki);
        ASSERT_TRUE(runWait("/usr/bin/python3 " HV_PEERS_DIR "/tls_peer.py make-pki " + g_pki,
                            g_pkiWin + L"\\chain-good.pem"));
        g_caFile = g_pkiWin + L"\\root.pem";
    }
    static void TearDownTestSuite() {
        runWait("/bin/rm -rf " + g_pki, L"");
        DestroyWindow(g_ddApp->mainWindow);
        g_ddApp->mainWindow = nullptr;
    }
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        cacheDir = std::wstring(tmp) + L"hv-tls-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(GetTickCount());
        CreateDirectoryW(cacheDir.c_str(), nullptr);
        ddConfigSetCertFolder(cacheDir.c_str());
        diCertCacheReset();
        trustRoot(true);
    }
    // Closes every connection, so that the peers end.
    void closeAll() {
        for (DdSocket* s : sockets)
            ddNetSocketDestroy(s);
        sockets.clear();
    }
    void TearDown() override {
        closeAll();
        diCertCacheReset();
        trustRoot(false);
        ddConfigSetCertFolder(nullptr);
        removeTree(cacheDir);
    }
    // The test root as the session's CA file.
    void trustRoot(bool on) {
        free(g_ddApp->opt.caFile);
        g_ddApp->opt.caFile = nullptr;
        if (on) {
            g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(g_caFile.size() + 1, sizeof(DiChar)));
            memcpy(g_ddApp->opt.caFile, g_caFile.c_str(), g_caFile.size() * sizeof(DiChar));
        }
    }
    // A new process: the cache is loaded again from the files.
    void nextProcess() { diCertCacheReset(); }
    std::wstring certStore() { return cacheDir + L"\\certstore.pem"; }
    std::wstring hostsVisited() { return cacheDir + L"\\hostsvisited"; }

    // Connects to the peer on loopback and starts TLS naming `host`.
    int connect(const Peer& peer, const DiChar* host, uint32_t flags, int list,
                DdSocket** out = nullptr) {
        DdSocket* s = ddNetSocketCreate();
        sockets.push_back(s);
        if (ddNetSocketOpen(s, 1, 1) != 0) return -100;
        if (ddNetConnectDirect(s, u"127.0.0.1", uint16_t(peer.port)) != 0) return -101;
        int r = ddNetStartTls(s, flags, host, list);
        if (out) *out = s;
        return r;
    }
};

// Scripted answers by dialog; the problem list of each warning is kept.
struct Answers {
    DlgScript script;
    std::map<int, int> radio; // 211: the radio button to choose; missing: refuse
    std::map<int, bool> accept;
    std::vector<std::u16string> problems;
    Answers() {
        script.onInit = [this](HWND dlg, int id) {
            if (id == DD_DLG_SECURITY || id == DD_DLG_SECURITY_LIST)
                problems.push_back(text(dlg, CTL_PROBLEMS));
            if (id == DD_DLG_SECURITY_LIST && radio.count(id)) {
                for (int r : {CTL_TEMPORARY, CTL_PERMANENT, CTL_CHAIN})
                    CheckDlgButton(dlg, r, r == radio[id] ? BST_CHECKED : BST_UNCHECKED);
                press(dlg, IDOK);
                return;
            }
            press(dlg, accept[id] ? IDOK : IDCANCEL);
        };
    }
};

TEST_F(Tls, EachCertificateCaseShowsTheWarningsOfTheDecisionTable) {
    struct Case {
        const char* what;
        const char* cert;
        const DiChar* host;
        uint32_t flags;
        int list;
        bool acceptFirst; // 206
        int listRadio;    // 211, 0 refuse
        bool acceptWarn;  // 209
        int result;
        int error;
        std::vector<int> dialogs;
        const char* problem; // expected in the warning's problem list
    };
    // clang-format off
    const Case cases[] = {
        {"trusted chain, new host", "good", u"good.test", 1, 1, true, 0, false, 0, 0, {206}, ""},
        {"trusted chain, new host refused", "good", u"good.test", 1, 1, false, 0, false, -1, 1,
         {206}, ""},
        {"self-signed, list", "self", u"self.test", 1, 1, true, CTL_TEMPORARY, false, 0, 0,
         {211, 206}, "issuer of the certificate is unknown"},
        {"self-signed, list refused", "self", u"self.test", 1, 1, true, 0, false, -1, 5, {211},
         "issuer"},
        {"self-signed, not acceptable", "self", u"self.test", 0, 1, true, 0, false, -1, 19, {},
         ""},
        {"wrong host, plain warning", "wronghost", u"good.test", 1, 0, true, 0, true, 0, 8,
         {209, 206}, "hostname is incorrect"},
        {"expired", "expired", u"good.test", 1, 1, true, CTL_TEMPORARY, false, 0, 0, {211, 206},
         "has expired"},
        {"not yet valid, refused", "future", u"good.test", 1, 1, true, 0, false, -1, 6, {211},
         "not yet valid"},
        {"issuer not a CA", "notcaleaf", u"good.test", 1, 1, true, 0, false, -1, 21, {}, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextProcess();
        DeleteFileW(hostsVisited().c_str());
        Peer peer;
        std::string extra =
            std::string(c.cert) == "notcaleaf" ? "-cert_chain " + g_pki + "/notca.pem" : "";
        ASSERT_TRUE(serve(&peer, c.cert, 1, extra));
        Answers a;
        a.accept[DD_DLG_UNTRUSTED] = c.acceptFirst;
        a.accept[DD_DLG_SECURITY] = c.acceptWarn;
        if (c.listRadio) a.radio[DD_DLG_SECURITY_LIST] = c.listRadio;
        ScriptScope scope(&a.script);
        DdSocket* s = nullptr;
        EXPECT_EQ(connect(peer, c.host, c.flags, c.list, &s), c.result);
        EXPECT_EQ(a.script.inits, c.dialogs);
        if (c.result != 0) {
            EXPECT_EQ(s->error, c.error);
        }
        if (*c.problem) {
            ASSERT_FALSE(a.problems.empty());
            std::u16string p = a.problems.front();
            EXPECT_NE(std::string(p.begin(), p.end()).find(c.problem), std::string::npos);
        }
        EXPECT_EQ(s->handshake, nullptr);
        closeAll();
    }
}

// A CA file in DER is used, but only a PEM file counts as a loaded CA file:
// an untrusted server is then refused with 5, not 19.
TEST_F(Tls, CAFileInDerIsTrustedButDoesNotCountAsLoaded) {
    std::wstring der = g_pkiWin + L"\\root.der";
    free(g_ddApp->opt.caFile);
    g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(der.size() + 1, sizeof(DiChar)));
    memcpy(g_ddApp->opt.caFile, der.c_str(), der.size() * sizeof(DiChar));
    Peer good, self;
    ASSERT_TRUE(serve(&good, "good"));
    ASSERT_TRUE(serve(&self, "self"));
    Answers a;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    EXPECT_EQ(connect(good, u"good.test", 1, 1), 0);
    EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_UNTRUSTED}); // the chain is trusted
    DdSocket* s = nullptr;
    EXPECT_EQ(connect(self, u"self.test", 0, 1, &s), -1);
    EXPECT_EQ(s->error, 5);
    closeAll();
}

// The CA file is read again when it changes between two set-ups (rewritten,
// then removed): what was trusted goes with the text that said so.
TEST_F(Tls, ACAFileChangedBetweenSetUpsIsReadAgain) {
    std::wstring path = cacheDir + L"\\ca-changing.pem";
    free(g_ddApp->opt.caFile);
    g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(path.size() + 1, sizeof(DiChar)));
    memcpy(g_ddApp->opt.caFile, path.c_str(), path.size() * sizeof(DiChar));
    struct Row {
        const char* what;
        const wchar_t* content; // the file the CA file is written from; null: removed
        int result;
        int error;
    };
    const Row rows[] = {
        {"the test root", L"\\root.pem", 0, 0},
        {"another certificate: the chain is untrusted", L"\\self.pem", -1, 19},
        {"the test root again", L"\\root.pem", 0, 0},
        {"removed: no CA file", nullptr, -1, 5},
    };
    Peer peer;
    ASSERT_TRUE(serve(&peer, "good", int(sizeof rows / sizeof rows[0])));
    Answers a;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        DeleteFileW(path.c_str());
        if (r.content) {
            std::string text = slurp(g_pkiWin + r.content);
            ASSERT_FALSE(text.empty());
            FILE* f = _wfopen(path.c_str(), L"wb");
            ASSERT_NE(f, nullptr);
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        DdSocket* s = nullptr;
        // Flags 0: an untrusted chain is refused without asking.
        EXPECT_EQ(connect(peer, u"good.test", r.result ? 0 : 1, 1, &s), r.result);
        if (r.result) {
            EXPECT_EQ(s->error, r.error);
        }
        closeAll();
    }
}

// A relative "CertsFile" is read from the program's folder, never from the
// folder the client was started in.
TEST_F(Tls, ARelativeCertsFileIsTheProgramsNotTheCurrentFolders) {
    trustRoot(false);
    ddProfStoreSetPath(L"");
    ddProfStoreCreate();
    const std::wstring name = L"hv-ca-" + std::to_wstring(GetCurrentProcessId()) + L".pem";
    diSOSetLocalSetting(u"CertsFile", ddD(name.c_str()));
    wchar_t program[MAX_PATH], cwd[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    *wcsrchr(program, L'\\') = 0;
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SetCurrentDirectoryW(cacheDir.c_str());
    Peer peer;
    ASSERT_TRUE(serve(&peer, "good", 2));
    Answers a;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    for (const std::wstring& folder : {cacheDir, std::wstring(program)}) {
        const std::wstring file = folder + L"\\" + name;
        ASSERT_TRUE(CopyFileW((g_pkiWin + L"\\root.pem").c_str(), file.c_str(), FALSE));
        int want = folder == cacheDir ? -1 : 0;
        EXPECT_EQ(connect(peer, u"good.test", want ? 0 : 1, 1), want);
        DeleteFileW(file.c_str());
        closeAll();
    }
    SetCurrentDirectoryW(cwd);
    ddProfStoreDestroy();
}

TEST_F(Tls, RememberedCertificateIsTrustedByTheNextProcessAndAChangeShows204) {
    Peer peer;
    ASSERT_TRUE(serve(&peer, "self", 2));
    {
        Answers a;
        a.radio[DD_DLG_SECURITY_LIST] = CTL_PERMANENT;
        a.accept[DD_DLG_UNTRUSTED] = true;
        ScriptScope scope(&a.script);
        ASSERT_EQ(connect(peer, u"self.test", 1, 1), 0);
        EXPECT_EQ(a.script.inits, (std::vector<int>{DD_DLG_SECURITY_LIST, DD_DLG_UNTRUSTED}));
    }
    closeAll(); // the server serves one connection at a time
    EXPECT_EQ(count(slurp(certStore()), "BEGIN CERTIFICATE"), 1u);
    nextProcess();
    {
        Answers a; // nothing may be asked
        ScriptScope scope(&a.script);
        EXPECT_EQ(connect(peer, u"self.test", 1, 1), 0);
        EXPECT_TRUE(a.script.inits.empty());
    }
    closeAll();
    // The same host name, another certificate: 204, and both are kept.
    Peer other;
    ASSERT_TRUE(serve(&other, "good"));
    {
        Answers a;
        a.accept[DD_DLG_CERT_CHANGED] = true;
        ScriptScope scope(&a.script);
        EXPECT_EQ(connect(other, u"self.test", 1, 1), 0);
        EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_CERT_CHANGED});
    }
    std::string hosts = slurp(hostsVisited());
    EXPECT_EQ(count(hosts, "<certfingerprint>"), 2u) << hosts;
    closeAll();
}

TEST_F(Tls, OverridesSetToZeroRefuseWithoutADialog) {
    FILE* f = _wfopen(hostsVisited().c_str(), L"wb");
    ASSERT_TRUE(f);
    fputs("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<array>\n"
          "  <allowcertoverride>0</allowcertoverride>\n"
          "  <allowhostoverride>0</allowhostoverride>\n</array>\n",
          f);
    fclose(f);
    Peer self, good;
    ASSERT_TRUE(serve(&self, "self"));
    ASSERT_TRUE(serve(&good, "good"));
    Answers a;
    a.radio[DD_DLG_SECURITY_LIST] = CTL_TEMPORARY;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    EXPECT_EQ(connect(self, u"self.test", 1, 1), -1);
    EXPECT_EQ(connect(good, u"good.test", 1, 1), -1); // a new host is refused as well
    EXPECT_TRUE(a.script.inits.empty());
    closeAll();
}

// Certificates planted in the user's "CA" store are trusted only when they
// say they are CAs.
struct PlantedCert {
    std::vector<BYTE> der;
    bool added = false;
    // Wine writes a system store back to the registry when it is closed.
    explicit PlantedCert(const std::wstring& pemPath) {
        std::string pem = slurp(pemPath);
        der.resize(8192);
        DWORD n = DWORD(der.size());
        if (!CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                                  der.data(), &n, nullptr, nullptr))
            return;
        der.resize(n);
        HCERTSTORE store = CertOpenSystemStoreW(0, L"CA");
        if (!store) return;
        added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), n,
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        CertCloseStore(store, 0);
    }
    ~PlantedCert() {
        HCERTSTORE store = CertOpenSystemStoreW(0, L"CA");
        PCCERT_CONTEXT mine =
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), DWORD(der.size()));
        if (store && mine) {
            PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                              CERT_FIND_EXISTING, mine, nullptr);
            if (found) CertDeleteCertificateFromStore(found);
        }
        if (mine) CertFreeCertificateContext(mine);
        if (store) CertCloseStore(store, 0);
    }
};

TEST_F(Tls, RootsOfTheWindowsCAStoreAreTrustedWhenTheyAreCAs) {
    trustRoot(false);
    Peer good, loose;
    ASSERT_TRUE(serve(&good, "good"));
    ASSERT_TRUE(serve(&loose, "nobcrootleaf", 1, "-cert_chain " + g_pki + "/nobcroot.pem"));
    // The stores are read once before the planting: the set-ups after it
    // must see the change all the same.
    SSL_CTX* before = SSL_CTX_new(TLS_client_method());
    ddNetLoadSystemStores(before);
    SSL_CTX_free(before);
    PlantedCert root(g_pkiWin + L"\\root.pem");
    PlantedCert nobc(g_pkiWin + L"\\nobcroot.pem");
    ASSERT_TRUE(root.added && nobc.added);
    Answers a;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    EXPECT_EQ(connect(good, u"good.test", 1, 1), 0);
    EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_UNTRUSTED}); // trusted: no warning
    a.script.inits.clear();
    // Not taken from the store, the root the server sends along is an
    // issuer without Basic Constraints: refused without asking.
    DdSocket* s = nullptr;
    EXPECT_EQ(connect(loose, u"good.test", 1, 1, &s), -1);
    EXPECT_EQ(s->error, 20);
    EXPECT_TRUE(a.script.inits.empty());
    closeAll();
}

// Dialog 211 for a real self-signed handshake, kept as
// dialog211_selfsigned.bmp beside the test program once it has painted.
void CALLBACK shootAndRefuse(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    RECT r;
    GetWindowRect(dlg, &r);
    writeScreenshot(testProgramFolder() + L"dialog211_selfsigned.bmp", r);
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(Tls, ScreenshotOfTheSelfSignedWarning) {
    Peer peer;
    ASSERT_TRUE(serve(&peer, "self"));
    std::wstring shot = testProgramFolder() + L"dialog211_selfsigned.bmp";
    DeleteFileW(shot.c_str());
    DlgScript script;
    std::u16string examine;
    script.onInit = [&](HWND dlg, int id) {
        if (id != DD_DLG_SECURITY_LIST) return;
        examine = text(dlg, 1160);
        SetWindowPos(dlg, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        SetTimer(dlg, 0x5407, 700, shootAndRefuse);
    };
    ScriptScope scope(&script);
    EXPECT_EQ(connect(peer, u"self.test", 1, 1), -1);
    EXPECT_NE(std::string(examine.begin(), examine.end()).find("self.test"), std::string::npos);
    EXPECT_GT(slurp(shot).size(), 10000u);
    closeAll();
}

// The warning's "View Certificate" shows the server's certificate: the six
// labelled fields with the texts of the certificate the server sent.
TEST_F(Tls, WarningShowsTheServersCertificate) {
    Peer peer;
    ASSERT_TRUE(serve(&peer, "self"));
    DlgScript script;
    std::vector<std::u16string> labels, texts;
    script.onInit = [&](HWND dlg, int id) {
        if (id == DD_DLG_SECURITY_LIST) {
            press(dlg, 1157); // View Certificate
            return;
        }
        if (id != DD_DLG_CERT_DETAILS) return;
        int n = int(SendDlgItemMessageW(dlg, 1031, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; i++) {
            wchar_t label[128] = {};
            SendDlgItemMessageW(dlg, 1031, LB_GETTEXT, i, reinterpret_cast<LPARAM>(label));
            labels.push_back(std::u16string(ddD(label)));
            SendDlgItemMessageW(dlg, 1031, LB_SETCURSEL, i, 0);
            SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(1031, LBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(GetDlgItem(dlg, 1031)));
            texts.push_back(text(dlg, 1030));
        }
        press(dlg, IDOK);
        press(GetWindow(dlg, GW_OWNER), IDCANCEL); // then refuse
    };
    ScriptScope scope(&script);
    EXPECT_EQ(connect(peer, u"self.test", 1, 1), -1);
    ASSERT_EQ(labels.size(), 6u);
    EXPECT_EQ(labels[0], u"Subject");
    EXPECT_EQ(labels[4], u"MD5 fingerprint");
    EXPECT_EQ(texts[0], u"Self\r\nself.test");
    EXPECT_EQ(texts[1], u"Self\r\nself.test");
    // The fingerprint of the file the server was given.
    std::string pem = slurp(g_pkiWin + L"\\self.pem");
    BIO* b = BIO_new_mem_buf(pem.data(), int(pem.size()));
    X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    ASSERT_TRUE(x);
    std::string md5 = diCertDigestText(x, EVP_md5());
    X509_free(x);
    EXPECT_EQ(texts[4], std::u16string(md5.begin(), md5.end()));
    closeAll();
}

// A set-up started from the modal loop of another's warning is refused at
// once; the first one goes on undisturbed.
TEST_F(Tls, SetUpInsideAnotherSetUpsWarningIsRefused) {
    Peer outer, inner;
    ASSERT_TRUE(serve(&outer, "self"));
    ASSERT_TRUE(serve(&inner, "good"));
    DlgScript script;
    int nested = 1;
    script.onInit = [&](HWND dlg, int id) {
        if (id == DD_DLG_SECURITY_LIST) {
            DdSocket* s = ddNetSocketCreate();
            sockets.push_back(s);
            if (ddNetSocketOpen(s, 1, 1) == 0 &&
                ddNetConnectDirect(s, u"127.0.0.1", uint16_t(inner.port)) == 0)
                nested = ddNetStartTls(s, 1, u"good.test", 1);
            ddNetSocketClose(s);
        }
        press(dlg, IDOK);
    };
    ScriptScope scope(&script);
    EXPECT_EQ(connect(outer, u"self.test", 1, 1), 0);
    EXPECT_EQ(nested, -1);
    EXPECT_EQ(script.inits, (std::vector<int>{DD_DLG_SECURITY_LIST, DD_DLG_UNTRUSTED}));
    closeAll();
}

// The socket's owner destroys it while a warning is open (as a timer in
// the warning's modal loop may): the set-up fails, whatever the user
// answers, and touches neither the socket nor its session afterwards.
TEST_F(Tls, SocketDestroyedUnderTheWarningFailsTheSetUp) {
    Peer peer;
    ASSERT_TRUE(serve(&peer, "self"));
    DlgScript script;
    script.onInit = [&](HWND dlg, int) {
        if (!sockets.empty()) {
            ddNetSocketDestroy(sockets.back());
            sockets.pop_back();
        }
        press(dlg, IDOK);
    };
    ScriptScope scope(&script);
    EXPECT_EQ(connect(peer, u"self.test", 1, 1), -1);
    EXPECT_FALSE(script.inits.empty());
}

TEST_F(Tls, ServerThatNeverAnswersFailsTheHandshakeInTime) {
    Peer peer;
    ASSERT_TRUE(peer.start("tls_peer.py", "silent --hold 60", 70));
    uint32_t saved = g_ddTlsHandshakeTimeoutMs;
    g_ddTlsHandshakeTimeoutMs = 500;
    DWORD start = GetTickCount();
    DdSocket* s = nullptr;
    EXPECT_EQ(connect(peer, u"good.test", 1, 1, &s), -1);
    EXPECT_LT(GetTickCount() - start, 30000u); // not held until the server lets go
    EXPECT_EQ(s->error, 1);
    g_ddTlsHandshakeTimeoutMs = saved;
    closeAll();
}

TEST_F(Tls, ServersOfOldProtocolsAreRefused) {
    Peer old;
    ASSERT_TRUE(serve(&old, "good", 1, "-tls1 -cipher DEFAULT@SECLEVEL=0"));
    Answers a;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    DdSocket* s = nullptr;
    EXPECT_EQ(connect(old, u"good.test", 1, 1, &s), -1);
    EXPECT_EQ(s->error, 1);
    EXPECT_TRUE(a.script.inits.empty());
    closeAll();
}

// Reads what arrives through the socket window message and the poll.
struct Reader : DiObject {
    DdSocket* s = nullptr;
    std::string got;
    bool ended = false;
};

int readerHandler(DiObject* o, DiEvent* ev) {
    Reader* r = static_cast<Reader*>(o);
    if (ev->w[0] != DI_EV_READABLE && ev->w[0] != DI_EV_CLOSED) return 1;
    // Odd sizes: the TLS layer holds the rest of a record for the poll.
    static const int kSizes[] = {1, 7, 1000, 4093, 16385, 3};
    static int next;
    char buf[16385];
    int n = ddNetRecv(r->s, buf, kSizes[next++ % 6]);
    if (n > 0) r->got.append(buf, size_t(n));
    if (n == 0) r->ended = true;
    return 1;
}

// The reader owns the socket and is told of reads and the close.
void own(Reader* r, DdSocket* s) {
    r->handler = readerHandler;
    r->refCount = 1;
    r->s = s;
    diNetSetOwner(s, r);
    ddNetSelectEvents(s, DD_NET_READ | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
}

// Runs the socket layer's events until done() holds, for ten seconds at most.
template <class F> void pumpUntil(F done) {
    for (int i = 0; i < 2000 && !done(); i++) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        ddNetPoll();
        Sleep(5);
    }
}

TEST_F(Tls, AMegabyteEachWayInOddChunksAndTheEndWithoutCloseNotice) {
    Peer peer;
    std::string args = "echo --cert " + g_pki + "/good.pem --key " + g_pki + "/good.key";
    ASSERT_TRUE(peer.start("tls_peer.py", args + " --until END", 60));
    Answers a;
    a.radio[DD_DLG_SECURITY_LIST] = CTL_TEMPORARY;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    DdSocket* s = nullptr;
    ASSERT_EQ(connect(peer, u"good.test", 1, 1, &s), 0);

    Reader reader{};
    own(&reader, s);

    std::string sent;
    for (uint32_t i = 0; sent.size() < (1u << 20); i++)
        sent += char('a' + (i * 7 + i / 26) % 26);
    sent += "END";
    size_t at = 0;
    static const int kChunks[] = {1, 4099, 333, 16384, 77777};
    DWORD start = GetTickCount();
    for (int k = 0; (at < sent.size() || (!reader.ended && reader.got.size() < sent.size())) &&
                    GetTickCount() - start < 60000;
         k++) {
        if (at < sent.size()) {
            int len = int(std::min<size_t>(size_t(kChunks[k % 5]), sent.size() - at));
            int n = ddNetSend(s, sent.data() + at, len);
            if (n > 0)
                at += size_t(n);
            else
                ASSERT_EQ(s->error, DD_NET_ERR_WOULD_BLOCK);
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        ddNetPoll();
        if (at >= sent.size()) Sleep(1);
    }
    EXPECT_EQ(at, sent.size());
    EXPECT_EQ(reader.got.size(), sent.size());
    EXPECT_TRUE(reader.got == sent);
    // The peer closed without a close notice: read as the end, not an error.
    pumpUntil([&] { return reader.ended; });
    EXPECT_TRUE(reader.ended);
    closeAll();
}

// A server that speaks first, its records in the segment of its last
// handshake flight: the set-up reads them ahead with the handshake, so the
// socket never says readable for them; the owner must get them anyway, in
// reads of any size.
TEST_F(Tls, RecordsThatCameWithTheHandshakeReachTheOwner) {
    Peer peer;
    std::string args = "greet --cert " + g_pki + "/chain-good.pem --key " + g_pki + "/good.key";
    ASSERT_TRUE(peer.start("tls_peer.py", args + " --records 100,5000,20000,3", 30));
    Answers a;
    a.radio[DD_DLG_SECURITY_LIST] = CTL_TEMPORARY;
    a.accept[DD_DLG_UNTRUSTED] = true;
    ScriptScope scope(&a.script);
    DdSocket* s = ddNetSocketCreate();
    sockets.push_back(s);
    ASSERT_EQ(ddNetSocketOpen(s, 1, 1), 0);
    ASSERT_EQ(ddNetConnectDirect(s, u"127.0.0.1", uint16_t(peer.port)), 0);
    Reader reader{};
    own(&reader, s);
    ASSERT_EQ(ddNetStartTls(s, 1, u"good.test", 1), 0);

    std::string words;
    for (int i = 0; i < 25103; i++)
        words += char('a' + i % 26);
    pumpUntil([&] { return reader.got.size() >= words.size(); });
    EXPECT_TRUE(reader.got == words) << reader.got.size() << " of " << words.size() << " bytes";
    closeAll();
}

} // namespace
