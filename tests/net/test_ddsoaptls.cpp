// Web-service calls over HTTPS through the runtime with the client's
// transport security hooks, against tests/peers/soap_stub.py serving
// certificates of the test PKI: trusted chains go through silently,
// self-signed servers are asked about and remembered, a wrong host or a
// forged chain fails, and an accepted server never vouches for a later one.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/ddsoaptls.h"
#include "net/ddtls.h"
#include "net/dicertcache.h"
#include "support/peer_process.h"
#include "support/test_pki.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

#include "echoH.h"
#include "echo.nsmap"

#include <openssl/crypto.h>
#include <shlobj.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

enum { CTL_PERMANENT = 1145, CTL_TEMPORARY = 1155, CTL_CHAIN = 1146 };

std::string g_pki;
std::wstring g_pkiWin;

struct Stub : Peer {
    bool start(const std::string& cert, int count = 1) {
        std::string args = "--cert " + g_pki + "/" + cert + ".pem --key " + g_pki + "/" + cert +
                           ".key --count " + std::to_string(count);
        if (cert == "local" || cert == "good" || cert == "forgedlocal")
            args += " --chain " + g_pki + "/inter.pem";
        if (cert == "notcalocal") args += " --chain " + g_pki + "/notca.pem";
        return Peer::start("soap_stub.py", args, 20);
    }
};

struct SoapTls : ::testing::Test {
    std::wstring cacheDir;
    static void SetUpTestSuite() {
        ASSERT_EQ(ddNetInit(), 0);
        char name[64];
        snprintf(name, sizeof name, "/tmp/hv-soap-pki-%lu-%lu", GetCurrentProcessId(),
                 GetTickCount());
        g_pki = name;
        g_pkiWin = winPath(g_pki);
        ASSERT_TRUE(runWait("/usr/bin/python3 " HV_PEERS_DIR "/tls_peer.py make-pki " + g_pki,
                            g_pkiWin + L"\\chain-good.pem"));
        // The test root is the session's CA file.
        std::wstring ca = g_pkiWin + L"\\root.pem";
        g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(ca.size() + 1, sizeof(DiChar)));
        memcpy(g_ddApp->opt.caFile, ca.c_str(), ca.size() * sizeof(DiChar));
    }
    static void TearDownTestSuite() {
        runWait("/bin/rm -rf " + g_pki, L"");
        free(g_ddApp->opt.caFile);
        g_ddApp->opt.caFile = nullptr;
    }
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        cacheDir = std::wstring(tmp) + L"hv-soaptls-" + std::to_wstring(GetCurrentProcessId()) +
                   L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(cacheDir.c_str(), nullptr);
        ddConfigSetCertFolder(cacheDir.c_str());
        diCertCacheReset();
    }
    void TearDown() override {
        diCertCacheReset();
        ddConfigSetCertFolder(nullptr);
        removeTree(cacheDir);
    }

    // One call in a new runtime context: SOAP_OK or the runtime's error.
    int call(const Stub& stub, std::string* reply = nullptr, const char* host = "localhost") {
        struct soap* soap = soap_new();
        soap_set_namespaces(soap, namespaces);
        ddSoapTlsInstall(soap);
        int r = soap_ssl_client_context(soap, SOAP_SSL_DEFAULT, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
        std::string endpoint =
            "https://" + std::string(host) + ":" + std::to_string(stub.port) + "/";
        char* answer = nullptr;
        char text[] = "over TLS";
        if (r == SOAP_OK)
            r = echo::soap_call_ns__ping(soap, endpoint.c_str(), nullptr, text, &answer);
        if (reply && answer) *reply = answer;
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap);
        return r;
    }
};

// Answers the list warning with a radio button, or refuses (0).
struct Answer {
    DlgScript script;
    int radio = 0;
    Answer() {
        script.onInit = [this](HWND dlg, int) {
            if (!radio) {
                press(dlg, IDCANCEL);
                return;
            }
            for (int r : {CTL_TEMPORARY, CTL_PERMANENT, CTL_CHAIN})
                CheckDlgButton(dlg, r, r == radio ? BST_CHECKED : BST_UNCHECKED);
            press(dlg, IDOK);
        };
    }
};

TEST_F(SoapTls, ChainToATrustedRootCallsWithoutAsking) {
    Stub stub;
    ASSERT_TRUE(stub.start("local"));
    Answer a;
    ScriptScope scope(&a.script);
    std::string reply;
    EXPECT_EQ(call(stub, &reply), SOAP_OK);
    EXPECT_EQ(reply, "over TLS");
    EXPECT_TRUE(a.script.inits.empty());
}

TEST_F(SoapTls, SelfSignedServerIsAskedAboutAndRememberedForTheNextProcess) {
    Stub stub;
    ASSERT_TRUE(stub.start("selflocal", 3));
    {
        Answer a; // refused: the call fails
        ScriptScope scope(&a.script);
        EXPECT_EQ(call(stub), SOAP_SSL_ERROR);
        EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST});
    }
    {
        Answer a;
        a.radio = CTL_PERMANENT;
        ScriptScope scope(&a.script);
        EXPECT_EQ(call(stub), SOAP_OK);
        EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST});
    }
    diCertCacheReset(); // the next process
    Answer quiet;
    ScriptScope scope(&quiet.script);
    EXPECT_EQ(call(stub), SOAP_OK);
    EXPECT_TRUE(quiet.script.inits.empty());
}

TEST_F(SoapTls, WrongHostFails) {
    Stub stub;
    ASSERT_TRUE(stub.start("good")); // named good.test, called as localhost
    Answer a;
    a.radio = CTL_TEMPORARY;
    ScriptScope scope(&a.script);
    EXPECT_EQ(call(stub), SOAP_SSL_ERROR);
    EXPECT_TRUE(a.script.inits.empty());
}

// Errors no answer may overlook fail the call as on every other connection,
// before any dialog: the user is never shown a forged chain to accept.
TEST_F(SoapTls, ForgedChainsFailWithoutAsking) {
    for (const char* cert : {"forgedlocal", "notcalocal"}) {
        Stub stub;
        ASSERT_TRUE(stub.start(cert));
        Answer a;
        a.radio = CTL_TEMPORARY;
        ScriptScope scope(&a.script);
        EXPECT_EQ(call(stub), SOAP_SSL_ERROR) << cert;
        EXPECT_TRUE(a.script.inits.empty()) << cert;
    }
}

// The answer holds for the host it was given for, also in the next process;
// the same certificate reached under another of its names is asked about.
TEST_F(SoapTls, AnAcceptedCertificateIsAskedAboutAgainForAnotherHost) {
    Stub stub;
    ASSERT_TRUE(stub.start("selftwonames", 4));
    Answer a;
    a.radio = CTL_PERMANENT;
    ScriptScope scope(&a.script);
    EXPECT_EQ(call(stub), SOAP_OK);
    diCertCacheReset(); // the next process
    EXPECT_EQ(call(stub), SOAP_OK);
    EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST});
    EXPECT_EQ(call(stub, nullptr, "127.0.0.1"), SOAP_OK);
    EXPECT_EQ(call(stub, nullptr, "127.0.0.1"), SOAP_OK);
    EXPECT_EQ(a.script.inits, (std::vector<int>{DD_DLG_SECURITY_LIST, DD_DLG_SECURITY_LIST}));
}

TEST_F(SoapTls, AnAcceptedServerDoesNotVouchForTheNextOne) {
    Stub first, second;
    ASSERT_TRUE(first.start("selflocal"));
    ASSERT_TRUE(second.start("selflocal2"));
    Answer a;
    a.radio = CTL_TEMPORARY;
    ScriptScope scope(&a.script);
    EXPECT_EQ(call(first), SOAP_OK);
    EXPECT_EQ(call(second), SOAP_OK);
    EXPECT_EQ(a.script.inits, (std::vector<int>{DD_DLG_SECURITY_LIST, DD_DLG_SECURITY_LIST}));
}

// Folders made one level at a time, removed with what was put in them.
struct Planted {
    std::vector<std::wstring> made, files;
    bool folder(const std::wstring& path) {
        for (size_t at = 3; at <= path.size(); at++) {
            if (at < path.size() && path[at] != L'\\') continue;
            if (CreateDirectoryW(path.substr(0, at).c_str(), nullptr))
                made.push_back(path.substr(0, at));
        }
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool file(const std::wstring& path, const std::string& bytes) {
        files.push_back(path);
        return writeFileBytes(path, bytes);
    }
    ~Planted() {
        for (const std::wstring& f : files)
            DeleteFileW(f.c_str());
        for (auto dir = made.rbegin(); dir != made.rend(); ++dir)
            RemoveDirectoryW(dir->c_str());
    }
};

std::wstring systemSslFolder() {
    wchar_t common[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common)))
        return L"";
    return std::wstring(common) + L"\\SSL";
}

// A settings file that loads the marker module.
const char kMarkerSettings[] =
    "openssl_conf = planted\n[planted]\nproviders = planted_providers\n"
    "[planted_providers]\nmarker = marker_provider\n"
    "[marker_provider]\nmodule = Z:" HV_MARKER_MODULE "\nactivate = 1\n";

// The library reads no settings file and loads no module, wherever one is
// put: in a folder named after the building machine (read from the root of
// the current drive, where any user of the computer may create folders;
// under Wine a path of that shape is the host's own), in the folder the
// library was built to name (on 32-bit Windows no "Program Files (x86)"
// exists, so any user may create it) or in the system's own. A root
// planted where the system's folder is not is never trusted: its server is
// asked about.
TEST_F(SoapTls, FoldersPlantedWhereTheBuildMachineKeptTheLibraryAreNotUsed) {
    wchar_t cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 2u);
    std::wstring machine(cwd, 2); // the drive
    for (const char* c = HV_DEPS_DIR "/openssl/ssl"; *c; c++)
        machine += *c == '/' ? L'\\' : wchar_t(*c);
    std::wstring built; // OPENSSLDIR: "C:/..."
    for (const char* c = strchr(OpenSSL_version(OPENSSL_DIR), '"'); c && *++c && *c != '"';)
        built += *c == '/' ? L'\\' : wchar_t(*c);
    std::wstring system = systemSslFolder();
    std::wstring marker = winPath(HV_MARKER_MODULE) + L".ran";
    DeleteFileW(marker.c_str());
    Planted planted;
    int rootsPlanted = 0;
    for (const std::wstring& dir : {machine, built, system}) {
        if (dir.empty() || !planted.folder(dir)) continue;
        ASSERT_TRUE(planted.file(dir + L"\\openssl.cnf", kMarkerSettings));
        if (_wcsicmp(dir.c_str(), system.c_str()) == 0) continue;
        ASSERT_TRUE(planted.file(dir + L"\\cert.pem",
                                 readFileBytes(g_pkiWin + L"\\selflocal.pem")));
        rootsPlanted++;
    }
    if (!rootsPlanted) GTEST_SKIP() << "cannot create the library's folders on this drive";

    Stub stub;
    ASSERT_TRUE(stub.start("selflocal"));
    Answer a; // refused
    ScriptScope scope(&a.script);
    EXPECT_EQ(call(stub), SOAP_SSL_ERROR);
    EXPECT_EQ(a.script.inits, std::vector<int>{DD_DLG_SECURITY_LIST});
    EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the module ran";
    DeleteFileW(marker.c_str());
}

// The library's default roots are cert.pem of the SSL folder under the
// common program files folder that the system names for this program.
TEST_F(SoapTls, DefaultRootsAreThoseOfTheFolderTheSystemNames) {
    std::wstring system = systemSslFolder();
    ASSERT_FALSE(system.empty());
    Planted planted;
    ASSERT_TRUE(planted.folder(system));
    ASSERT_TRUE(
        planted.file(system + L"\\cert.pem", readFileBytes(g_pkiWin + L"\\selflocal.pem")));
    Stub stub;
    ASSERT_TRUE(stub.start("selflocal"));
    Answer a;
    ScriptScope scope(&a.script);
    EXPECT_EQ(call(stub), SOAP_OK);
    EXPECT_TRUE(a.script.inits.empty());
}

} // namespace
