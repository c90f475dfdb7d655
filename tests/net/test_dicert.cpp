// Certificate checks and the certificate cache on certificates of a test PKI
// made at test time by tests/peers/make_pki.py with the openssl command.
#include <gtest/gtest.h>

#include "core/dilog.h"
#include "net/dicert.h"
#include "net/dicertcache.h"
#include "net/diroots.h"
#include "session/diprofile.h"
#include "xml/qvlxml.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string g_dir;

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string slurp(const std::string& path) {
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

void spit(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

struct X509Free {
    void operator()(X509* x) { X509_free(x); }
};
typedef std::unique_ptr<X509, X509Free> Cert;

Cert load(const std::string& name) {
    FILE* f = fopen((g_dir + "/" + name + ".pem").c_str(), "r");
    if (!f) return Cert();
    X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    return Cert(x);
}

EVP_PKEY* loadKey(const std::string& name) {
    FILE* f = fopen((g_dir + "/" + name + ".key").c_str(), "r");
    if (!f) return nullptr;
    EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return k;
}

// A leaf made here for what the openssl command cannot write: a common
// name holding a NUL, no name at all, a self-signed leaf that expired, or a
// leaf naming the intermediate as issuer but signed with another key.
Cert makeLeaf(const std::string& cn, bool selfSigned, long notAfterDays,
              const char* signer = "inter") {
    EVP_PKEY* key = loadKey("good");
    EVP_PKEY* issuerKey = selfSigned ? key : loadKey(signer);
    Cert issuer = load("inter");
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 4242);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_NID(name, NID_organizationName, MBSTRING_ASC,
                               (const unsigned char*)"Made Here", -1, -1, 0);
    if (!cn.empty())
        X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_IA5STRING,
                                   (const unsigned char*)cn.data(), int(cn.size()), -1, 0);
    X509_set_issuer_name(x, selfSigned ? name : X509_get_subject_name(issuer.get()));
    X509_gmtime_adj(X509_getm_notBefore(x), -86400L * 400);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * notAfterDays);
    X509_set_pubkey(x, key);
    X509_sign(x, issuerKey, EVP_sha256());
    if (issuerKey != key) EVP_PKEY_free(issuerKey);
    EVP_PKEY_free(key);
    return Cert(x);
}

class Pki : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/hv-pki-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        g_dir = tmpl;
        std::string cmd = "python3 " HV_PEERS_DIR "/make_pki.py " + g_dir;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        if (!g_dir.empty()) run("rm -rf '" + g_dir + "'");
    }
    void SetUp() override {
        diCertCacheReset();
        char tmpl[] = "/tmp/hv-cache-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        cacheDir = tmpl;
    }
    void TearDown() override {
        diCertCacheReset();
        run("rm -rf '" + cacheDir + "'");
    }
    std::string storePath() { return cacheDir + "/certstore.pem"; }
    std::string hostsPath() { return cacheDir + "/hostsvisited"; }
    void initCache() { diCertCacheInit(storePath(), hostsPath()); }

    std::string cacheDir;
};

// Verifies `leaf` (with the untrusted intermediates) against a store of the
// trusted certificates, through the verify callback.
struct Verification {
    DiTlsVerify v;
    int ok = 0;
};

void verify(Verification* out, X509* leaf, std::vector<X509*> chain, std::vector<X509*> trusted,
            uint32_t flags, const char* host, bool caFile = false) {
    X509_STORE* store = X509_STORE_new();
    for (X509* t : trusted)
        X509_STORE_add_cert(store, t);
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (X509* c : chain)
        sk_X509_push(untrusted, c);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, leaf, untrusted);
    X509_STORE_CTX_set_verify_cb(ctx, diTlsVerifyCallback);
    out->v.Reset(flags, host);
    out->v.caFileLoaded = caFile;
    diTlsVerifyAttachStore(ctx, &out->v);
    out->ok = X509_verify_cert(ctx);
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    ERR_clear_error();
}

TEST_F(Pki, VerifyCallbackGivesTheProblemBitsAndResultCodes) {
    initCache();
    Cert root = load("root"), inter = load("inter"), other = load("otherroot");
    Cert nobc = load("nobc"), notca = load("notca");
    Cert self = load("self");
    Cert nulName = makeLeaf(std::string("good.test\0.evil", 15), false, 300);
    Cert noName = makeLeaf("", false, 300);
    Cert oldSelf = makeLeaf("good.test", true, -10);
    Cert forged = makeLeaf("good.test", false, 300, "self");
    struct Case {
        const char* what;
        X509* leaf;
        std::vector<X509*> chain;
        std::vector<X509*> trusted;
        uint32_t flags;
        const char* host;
        bool caFile;
        int ok;
        uint32_t bits;
        int32_t result;
    };
    Cert good = load("good"), upper = load("upper"), wrong = load("wronghost");
    Cert expired = load("expired"), future = load("future"), untrusted = load("untrusted");
    Cert nobcleaf = load("nobcleaf"), notcaleaf = load("notcaleaf"), san = load("sanonly");
    std::vector<X509*> viaInter = {inter.get()};
    std::vector<X509*> trustRoot = {root.get()};
    // clang-format off
    const Case cases[] = {
        {"trusted chain", good.get(), viaInter, trustRoot, 1, "good.test", false, 1, 0, 0},
        {"host given in capitals", good.get(), viaInter, trustRoot, 1, "GOOD.Test", false, 1, 0, 0},
        {"CN in other case", upper.get(), viaInter, trustRoot, 1, "good.test", false, 1, 0, 0},
        {"wrong host", wrong.get(), viaInter, trustRoot, 1, "good.test", false, 1, 1, 8},
        {"wrong host unchecked", wrong.get(), viaInter, trustRoot, 3, "good.test", false, 1, 0, 0},
        {"SAN without CN", san.get(), viaInter, trustRoot, 1, "san.test", false, 1, 0, 0},
        {"SAN without CN elsewhere", san.get(), viaInter, trustRoot, 1, "good.test", false, 1, 1, 8},
        {"CN with a NUL", nulName.get(), viaInter, trustRoot, 1, "good.test", false, 1, 1, 8},
        {"no name at all", noName.get(), viaInter, trustRoot, 1, "good.test", false, 1, 1, 8},
        {"expired", expired.get(), viaInter, trustRoot, 1, "good.test", false, 1, 4, 7},
        {"not yet valid", future.get(), viaInter, trustRoot, 1, "good.test", false, 1, 2, 6},
        {"self-signed, user may accept", self.get(), {}, trustRoot, 1, "self.test", false, 1, 8, 5},
        {"self-signed refused", self.get(), {}, trustRoot, 0, "self.test", false, 0, 8, 5},
        {"self-signed refused, CA file", self.get(), {}, trustRoot, 0, "self.test", true, 0, 8, 19},
        {"untrusted root", untrusted.get(), {}, trustRoot, 1, "good.test", false, 1, 8, 5},
        {"expired self-signed refused stays refused", oldSelf.get(), {}, trustRoot, 0, "good.test",
         false, 0, 8, 5},
        {"issuer without constraints", nobcleaf.get(), {nobc.get()}, trustRoot, 1, "good.test",
         false, 0, 0, 20},
        {"issuer not a CA", notcaleaf.get(), {notca.get()}, trustRoot, 1, "good.test", false, 0, 0,
         21},
        {"bad signature", forged.get(), viaInter, trustRoot, 1, "good.test", false, 0, 0, 1},
    };
    // clang-format on
    (void)other;
    for (const Case& c : cases) {
        Verification r;
        verify(&r, c.leaf, c.chain, c.trusted, c.flags, c.host, c.caFile);
        EXPECT_EQ(r.ok, c.ok) << c.what;
        EXPECT_EQ(r.v.combined, c.bits) << c.what;
        EXPECT_EQ(r.v.result, c.result) << c.what;
        if (c.ok) {
            EXPECT_EQ(r.v.problems.back().depth, 0) << c.what;
            EXPECT_EQ(r.v.fingerprint, diCertDigestText(c.leaf, EVP_md5())) << c.what;
        }
    }
}

TEST_F(Pki, AcceptedCertificatesPassAndEachRecordKeepsItsDepth) {
    initCache();
    Cert self = load("self"), root = load("root"), inter = load("inter"), good = load("good");
    diCertCacheRemember(self.get(), DI_CERT_KEEP, 1);
    Verification r;
    verify(&r, self.get(), {}, {}, 0, "self.test");
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.v.combined, 0u);
    EXPECT_EQ(r.v.result, 0);

    // A full chain: the top comes first, the leaf last; one record a depth.
    Verification chain;
    verify(&chain, good.get(), {inter.get()}, {root.get()}, 1, "good.test");
    ASSERT_EQ(chain.v.problems.size(), 3u);
    EXPECT_EQ(chain.v.problems.front().depth, 2);
    EXPECT_EQ(X509_cmp(chain.v.problems.front().cert, root.get()), 0);
    EXPECT_EQ(X509_cmp(chain.v.problems.back().cert, good.get()), 0);
}

// The user's answers for one decision, and the dialogs shown.
struct Script {
    std::map<int, int> answers; // dialog -> answer (missing: refuse)
    std::vector<int> shown;
    std::vector<X509*> certs;
    static int ask(void* ctx, int dialog, X509* cert, uint32_t) {
        Script* s = static_cast<Script*>(ctx);
        s->shown.push_back(dialog);
        s->certs.push_back(cert);
        auto it = s->answers.find(dialog);
        return it == s->answers.end() ? 0 : it->second;
    }
};

// Runs the decisions over a problem list given as (bits, certificate) from
// the top of the chain down to the leaf.
int decide(Script* s, std::vector<std::pair<uint32_t, X509*>> records, int listVariant,
           const char* host = "host.test") {
    DiTlsVerify v;
    v.Reset(1, host);
    int depth = int(records.size());
    for (auto& r : records) {
        X509_up_ref(r.second);
        v.problems.push_back(DiCertProblem{r.first, --depth, r.second});
        v.combined |= r.first;
    }
    DiTlsAsker asker = {Script::ask, s};
    return diTlsDecide(&v, host, listVariant, &asker);
}

TEST_F(Pki, DecisionTableRows) {
    initCache();
    Cert self = load("self"), root = load("root"), good = load("good"), wrong = load("wronghost");
    Cert untrusted = load("untrusted"), other = load("otherroot");
    struct Row {
        const char* what;
        int known; // 0 unknown, 1 same, 2 changed (set up before)
        std::vector<std::pair<uint32_t, X509*>> records;
        int list;
        std::map<int, int> answers;
        int result;
        std::vector<int> shown;
        bool hostRemembered; // the top's fingerprint afterwards
        X509* acceptedCert;  // accepted for the process afterwards, or none
        bool inStoreFile;
    };
    // what, known, records (top first), list, answers, result, dialogs shown,
    // host remembered, accepted certificate, in the store file
    // clang-format off
    std::vector<Row> rows = {
        {"unknown, none, accepted", 0, {{0, root.get()}, {0, good.get()}}, 1, {{206, 1}}, 0,
         {206}, true, nullptr, false},
        {"unknown, none, refused", 0, {{0, root.get()}, {0, good.get()}}, 1, {}, -1, {206}, false,
         nullptr, false},
        {"unknown, untrusted only, list, remember", 0, {{8, self.get()}}, 1, {{211, 2}, {206, 1}},
         0, {211, 206}, true, self.get(), true},
        {"unknown, untrusted only, list, 211 refused", 0, {{8, self.get()}}, 1, {}, -1, {211},
         false, nullptr, false},
        {"unknown, untrusted only, list, 206 refused", 0, {{8, self.get()}}, 1, {{211, 1}}, -1,
         {211, 206}, false, nullptr, false},
        {"unknown, untrusted only, no list", 0, {{8, other.get()}, {0, untrusted.get()}}, 0,
         {{206, 1}}, 0, {206}, true, other.get(), false},
        {"unknown, other problems", 0, {{0, root.get()}, {1, wrong.get()}}, 0,
         {{209, 1}, {206, 1}}, 0, {209, 206}, true, wrong.get(), false},
        {"unknown, other problems, list, refused", 0, {{0, root.get()}, {1, wrong.get()}}, 1, {},
         -1, {211}, false, nullptr, false},
        {"same, none", 1, {{0, root.get()}, {0, good.get()}}, 1, {}, 0, {}, true, nullptr, false},
        {"same, untrusted only, no list", 1, {{8, self.get()}}, 0, {}, 0, {}, true, self.get(),
         false},
        {"same, untrusted only, list", 1, {{8, self.get()}}, 1, {{211, 3}}, 0, {211}, true,
         self.get(), true},
        {"same, untrusted only, list, refused", 1, {{8, self.get()}}, 1, {}, -1, {211}, true,
         nullptr, false},
        {"same, other problems", 1, {{0, root.get()}, {4, good.get()}}, 0, {{209, 1}}, 0, {209},
         true, good.get(), false},
        {"changed, accepted, untrusted only, list", 2, {{8, self.get()}}, 1, {{204, 1}}, 0, {204},
         true, self.get(), true},
        {"changed, accepted, other", 2, {{0, root.get()}, {1, wrong.get()}}, 1, {{204, 1}}, 0,
         {204}, true, wrong.get(), false},
        {"changed, refused", 2, {{8, self.get()}}, 1, {}, -1, {204}, false, nullptr, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        diCertCacheReset();
        unlink(storePath().c_str());
        unlink(hostsPath().c_str());
        initCache();
        X509* top = row.records.front().second;
        if (row.known == 1) diCertCacheRememberHost(top, "host.test");
        if (row.known == 2)
            diCertCacheRememberHost(other.get() == top ? root.get() : other.get(), "host.test");
        Script s;
        s.answers = row.answers;
        EXPECT_EQ(decide(&s, row.records, row.list), row.result) << row.what;
        EXPECT_EQ(s.shown, row.shown) << row.what;
        EXPECT_EQ(diCertCacheLookupHost(top, "HOST.test") == 1, row.hostRemembered) << row.what;
        if (row.acceptedCert) EXPECT_EQ(diCertCacheFind(row.acceptedCert), 0) << row.what;
        if (!row.acceptedCert)
            for (auto& r : row.records)
                EXPECT_EQ(diCertCacheFind(r.second), 2) << row.what;
        bool inFile = slurp(storePath()).find("BEGIN CERTIFICATE") != std::string::npos;
        EXPECT_EQ(inFile, row.inStoreFile) << row.what;
    }
}

TEST_F(Pki, ConfirmedCertificateIsNotAskedAgainForItsHostOnlyAndOverridesCanBeForbidden) {
    initCache();
    Cert root = load("root"), wrong = load("wronghost");
    Script first;
    first.answers = {{209, 1}, {206, 1}};
    ASSERT_EQ(decide(&first, {{0, root.get()}, {1, wrong.get()}}, 0, "a.test"), 0);
    Script again; // the same host: not asked again
    EXPECT_EQ(decide(&again, {{0, root.get()}, {1, wrong.get()}}, 0, "A.test"), 0);
    EXPECT_TRUE(again.shown.empty());
    Script other; // another host: the confirmation says nothing about it
    EXPECT_EQ(decide(&other, {{0, root.get()}, {1, wrong.get()}}, 0, "b.test"), -1);
    EXPECT_EQ(other.shown, std::vector<int>{209});

    diCertCacheReset();
    // Saved by an editor, with a byte-order mark.
    spit(hostsPath(), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<array>\n"
                      "  <allowcertoverride>0</allowcertoverride>\n"
                      "  <allowhostoverride> 0 </allowhostoverride>\n</array>\n");
    initCache();
    EXPECT_EQ(diCertCacheAllowCertOverride(), 0);
    EXPECT_EQ(diCertCacheAllowHostOverride(), 0);
    Cert self = load("self"), good = load("good");
    Script none;
    none.answers = {{211, 2}, {206, 1}, {209, 1}};
    EXPECT_EQ(decide(&none, {{8, self.get()}}, 1), -1);
    EXPECT_EQ(decide(&none, {{0, root.get()}, {0, good.get()}}, 1), -1);
    EXPECT_TRUE(none.shown.empty());
}

std::u16string u16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

TEST_F(Pki, CertificateInformationMatchesTheOpensslCommand) {
    for (const char* name : {"good", "bmp", "expired", "self"}) {
        Cert c = load(name);
        DiCertInfo info;
        ASSERT_TRUE(diCertInfoFill(&info, c.get()));
        std::string pem = g_dir + "/" + name + ".pem";
        std::string md5 = run("openssl x509 -noout -fingerprint -md5 -in " + pem);
        std::string sha1 = run("openssl x509 -noout -fingerprint -sha1 -in " + pem);
        std::string start = run("openssl x509 -noout -startdate -in " + pem);
        std::string end = run("openssl x509 -noout -enddate -in " + pem);
        auto value = [](const std::string& line) {
            std::string v = line.substr(line.find('=') + 1);
            while (!v.empty() && v.back() == '\n')
                v.pop_back();
            return v;
        };
        EXPECT_EQ(info.md5, value(md5)) << name;
        EXPECT_EQ(info.values[4], u16(value(md5))) << name;
        EXPECT_EQ(info.values[5], u16(value(sha1))) << name;
        EXPECT_EQ(info.values[2], u16(value(start))) << name;
        EXPECT_EQ(info.values[3], u16(value(end))) << name;
        diCertInfoFree(&info);
        EXPECT_EQ(info.cert, nullptr);
    }
    Cert good = load("good"), bmp = load("bmp");
    DiCertInfo info;
    diCertInfoFill(&info, good.get());
    EXPECT_EQ(info.values[0], u"XX\r\nSomewhere\r\nTown\r\nTest PKI\r\nServers\r\ngood.test");
    EXPECT_EQ(info.values[1], u"XX\r\nTest PKI\r\nIssuing\r\nTest Intermediate");
    diCertInfoFill(&info, bmp.get()); // BMPString values, not byte by byte
    EXPECT_EQ(info.values[0], u"Pr\u00fcfung \u6e2c\u8a66\r\nbmp.test");
    diCertInfoFree(&info);
}

// Every built-in root is one whole CA certificate, loading puts exactly
// those into a store (and nothing twice), and a chain that ends at one of
// them is trusted by the verify callback without any problem bit.
TEST_F(Pki, BuiltinRootsLoadWholeAndAreTrusted) {
    initCache();
    std::vector<Cert> roots;
    for (size_t i = 0; g_diBuiltinRoots[i]; i++) {
        BIO* bio = BIO_new_mem_buf(g_diBuiltinRoots[i], -1);
        X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        ASSERT_NE(x, nullptr) << "entry " << i;
        X509* more = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        EXPECT_EQ(more, nullptr) << "entry " << i << " holds a second certificate";
        X509_free(more);
        BIO_free(bio);
        ERR_clear_error();
        EXPECT_GE(X509_check_ca(x), 1) << "entry " << i;
        EXPECT_EQ(X509_check_issued(x, x), X509_V_OK) << "entry " << i << " is not a root";
        for (const Cert& seen : roots)
            EXPECT_NE(X509_cmp(seen.get(), x), 0) << "entry " << i << " repeats another";
        roots.emplace_back(x);
    }
    ASSERT_FALSE(roots.empty());

    X509_STORE* store = X509_STORE_new();
    EXPECT_EQ(diTlsAddBuiltinRoots(store), int(roots.size()));
    diTlsAddBuiltinRoots(store); // a second loading adds nothing
    STACK_OF(X509)* held = X509_STORE_get1_all_certs(store);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(sk_X509_num(held), int(roots.size()));
    for (const Cert& r : roots) {
        bool found = false;
        for (int i = 0; i < sk_X509_num(held); i++)
            found = found || X509_cmp(sk_X509_value(held, i), r.get()) == 0;
        EXPECT_TRUE(found);
    }
    sk_X509_pop_free(held, X509_free);
    X509_STORE_free(store);

    int checked = 0;
    for (const Cert& r : roots) {
        if (X509_cmp_current_time(X509_get0_notAfter(r.get())) <= 0) continue; // expired
        X509_STORE* s = X509_STORE_new();
        diTlsAddBuiltinRoots(s);
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, s, r.get(), nullptr);
        X509_STORE_CTX_set_verify_cb(ctx, diTlsVerifyCallback);
        DiTlsVerify v;
        v.Reset(DI_TLS_NO_HOST_CHECK, "");
        diTlsVerifyAttachStore(ctx, &v);
        EXPECT_EQ(X509_verify_cert(ctx), 1);
        EXPECT_EQ(v.combined, 0u);
        EXPECT_EQ(v.result, 0);
        X509_STORE_CTX_free(ctx);
        X509_STORE_free(s);
        ERR_clear_error();
        checked++;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(Pki, StoreFileLoadsAroundGarbageAndRememberingAppendsOnce) {
    std::string good = slurp(g_dir + "/good.pem"), self = slurp(g_dir + "/self.pem");
    std::string cut = slurp(g_dir + "/inter.pem").substr(0, 200) + "\n"; // a full disk
    std::string bad = "-----BEGIN CERTIFICATE-----\nno base64!\n-----END CERTIFICATE-----\n";
    spit(storePath(),
         "junk before\n" + good + cut + "\nnot a certificate\n" + bad + self + "trailing");
    initCache();
    Cert g = load("good"), s = load("self"), root = load("root"), inter = load("inter");
    EXPECT_EQ(diCertCacheFind(g.get()), 0);
    EXPECT_EQ(diCertCacheFind(s.get()), 0); // after the broken blocks
    EXPECT_EQ(diCertCacheFind(root.get()), 2);
    EXPECT_EQ(diCertCacheFind(inter.get()), 2);
    EXPECT_EQ(ERR_peek_error(), 0u); // the loader leaves no error behind

    // Held for this process first, then accepted with "remember": the file
    // gets it once (after a line feed, as the file's last line had none),
    // and a second "remember" does not add it again.
    diCertCacheRemember(root.get(), DI_CERT_KEEP, 1);
    std::string before = slurp(storePath());
    diCertCacheRemember(root.get(), DI_CERT_KEEP | DI_CERT_STORE_FILE, 1);
    diCertCacheRemember(root.get(), DI_CERT_KEEP | DI_CERT_STORE_FILE, 1);
    std::string after = slurp(storePath());
    EXPECT_EQ(after, before + "\n" + slurp(g_dir + "/root.pem"));

    // Refused certificates are listed as not accepted, and an accept wins.
    Cert other = load("otherroot");
    diCertCacheRemember(other.get(), DI_CERT_KEEP_REFUSED, 0);
    EXPECT_EQ(diCertCacheFind(other.get()), 1);
    diCertCacheRemember(other.get(), DI_CERT_KEEP, 1);
    EXPECT_EQ(diCertCacheFind(other.get()), 0);

    // The next process trusts what the file holds.
    diCertCacheReset();
    initCache();
    EXPECT_EQ(diCertCacheFind(root.get()), 0);
    EXPECT_EQ(diCertCacheFind(other.get()), 2);
}

TEST_F(Pki, SessionCertificateFileCarriesAcceptedCertificates) {
    std::string session = cacheDir + "/session.pem";
    diCertCacheSetSessionCertsFile(session);
    diCertCacheSetSessionCertsFile(""); // ignored
    EXPECT_EQ(diCertCacheGetSessionCertsFile(), session);
    initCache();
    Cert self = load("self"), other = load("otherroot");
    diCertCacheRemember(self.get(), DI_CERT_KEEP, 1);
    diCertCacheRemember(other.get(), DI_CERT_KEEP_REFUSED, 0);
    EXPECT_EQ(diCertCacheSaveSessionCerts(), session);
    // Every user-information request saves again: the file keeps one copy.
    EXPECT_EQ(diCertCacheSaveSessionCerts(), session);
    diCertCacheReset();
    diCertCacheSetSessionCertsFile(session);
    initCache();
    EXPECT_EQ(diCertCacheFind(self.get()), 0);
    EXPECT_EQ(diCertCacheFind(other.get()), 2);
    diCertCacheSaveSessionCerts(); // read back from the file, still one copy
    EXPECT_EQ(run("grep -c 'BEGIN CERTIFICATE' '" + session + "'"), "1\n");
}

TEST_F(Pki, HostsVisitedIsWrittenWholeEscapedAndReadBack) {
    // A missing file becomes the empty document at once.
    initCache();
    EXPECT_EQ(slurp(hostsPath()), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<array>\n"
                                  "  <version>1.0</version>\n</array>\n");
    Cert a = load("good"), b = load("self");
    std::string fa = diCertDigestText(a.get(), EVP_md5());
    std::string fb = diCertDigestText(b.get(), EVP_md5());
    const char* odd = "we&<\"ird>.test";
    diCertCacheRememberHost(a.get(), odd);
    diCertCacheRememberHost(a.get(), "Plain.Test");
    diCertCacheRememberHost(b.get(), "plain.test"); // the same server, a new certificate
    std::string text = slurp(hostsPath());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("peername=\"we&amp;&lt;&quot;ird&gt;.test\""), std::string::npos) << text;
    EXPECT_NE(text.find("<certfingerprint>" + fa + "</certfingerprint>"), std::string::npos);
    EXPECT_EQ(run("ls '" + cacheDir + "' | grep -c new"), "0\n"); // no temporary left

    diCertCacheReset();
    initCache();
    EXPECT_EQ(diCertCacheLookupHost(a.get(), odd), 1);
    EXPECT_EQ(diCertCacheLookupHost(a.get(), "PLAIN.test"), 1);
    EXPECT_EQ(diCertCacheLookupHost(b.get(), "plain.test"), 1); // both fingerprints kept
    EXPECT_EQ(diCertCacheLookupHost(b.get(), odd), 2);
    EXPECT_EQ(diCertCacheLookupHost(a.get(), "new.test"), 0);
    // Reading and writing again changes nothing: no indentation creeps in.
    diCertCacheRememberHost(a.get(), "x.test");
    diCertCacheReset();
    initCache();
    diCertCacheRememberHost(a.get(), "x.test"); // already there: not rewritten
    std::string again = slurp(hostsPath());
    diCertCacheRememberHost(b.get(), "x.test");
    diCertCacheReset();
    initCache();
    EXPECT_EQ(diCertCacheLookupHost(b.get(), "x.test"), 1);
    EXPECT_EQ(again.find("    \n"), std::string::npos);
    EXPECT_EQ(again.find("\n\n"), std::string::npos);

    // A file that does not hold the document is kept aside, then starts over.
    diCertCacheReset();
    spit(hostsPath(), "<notarray/>");
    initCache();
    EXPECT_EQ(diCertCacheLookupHost(a.get(), odd), 0);
    EXPECT_NE(slurp(hostsPath()).find("<array>"), std::string::npos);
    EXPECT_EQ(slurp(hostsPath() + ".bad"), "<notarray/>");
    diCertCacheReset(); // and the next one is kept beside it
    spit(hostsPath(), "<array>cut short");
    initCache();
    EXPECT_EQ(slurp(hostsPath() + ".bad"), "<notarray/>");
    EXPECT_EQ(slurp(hostsPath() + ".bad1"), "<array>cut short");
}

// Two copies of the client on one file: each save goes onto what the other
// saved meanwhile, and the switches stay as the file has them.
TEST_F(Pki, CopiesOfTheClientKeepEachOthersHosts) {
    initCache();
    Cert a = load("good"), b = load("self");
    pid_t other = fork();
    if (other == 0) { // started with this one, saves first
        diCertCacheReset();
        initCache();
        _exit(diCertCacheRememberHost(b.get(), "beta.test") ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    ASSERT_EQ(status, 0);
    std::string text = slurp(hostsPath()); // the administrator forbids overrides
    spit(hostsPath(),
         text.replace(text.find("<array>") + 7, 0, "<allowcertoverride>0</allowcertoverride>"));
    EXPECT_TRUE(diCertCacheRememberHost(a.get(), "alpha.test"));
    EXPECT_EQ(diCertCacheLookupHost(b.get(), "beta.test"), 1);
    diCertCacheReset();
    initCache();
    EXPECT_EQ(diCertCacheLookupHost(a.get(), "alpha.test"), 1);
    EXPECT_EQ(diCertCacheLookupHost(b.get(), "beta.test"), 1);
    EXPECT_EQ(diCertCacheAllowCertOverride(), 0);
}

// A save that does not reach the disk is reported to its caller and logged
// once naming the file; what it held stays for this process, and the hosts
// go out with the next save that is written.
TEST_F(Pki, FailedSavesAreReportedAndLoggedNamingTheFile) {
    struct Errors : CLog {
        std::vector<std::string> lines;
        void WriteEntry(CLogEntry* e) override { lines.push_back(diProfileToUtf8(e->text)); }
    } log;
    diLogSet(&log);
    const std::string gone = cacheDir + "/gone", hosts = gone + "/hostsvisited";
    diCertCacheInit("/dev/full", hosts); // a full disk, and a folder removed
    Cert a = load("good"), b = load("self");
    const std::string list = "<a><server peername=\"c.test\"><rootcert>" +
                             slurp(g_dir + "/root.pem") + "</rootcert></server></a>";
    const struct {
        std::function<bool()> save;
        std::string file;
    } rows[] = {
        {[&] { return diCertCacheRemember(a.get(), DI_CERT_KEEP | DI_CERT_STORE_FILE, 1); },
         "/dev/full"},
        {[&] { return diCertCacheRememberHost(b.get(), "b.test"); }, hosts},
        {[&] { return diCertCacheRememberServers(list) >= 0; }, hosts},
    };
    for (const auto& row : rows) {
        log.lines.clear();
        EXPECT_FALSE(row.save()) << row.file;
        EXPECT_EQ(log.lines,
                  std::vector<std::string>{"Certificates: " + row.file + " could not be saved"});
    }
    diLogSet(nullptr);
    EXPECT_EQ(diCertCacheFind(a.get()), 0);
    mkdir(gone.c_str(), 0700);
    EXPECT_TRUE(diCertCacheRememberHost(a.get(), "a.test"));
    diCertCacheReset();
    diCertCacheInit("", hosts);
    Cert root = load("root");
    EXPECT_EQ(diCertCacheLookupHost(b.get(), "b.test"), 1);
    EXPECT_EQ(diCertCacheLookupHost(root.get(), "c.test"), 1);
    EXPECT_EQ(diCertCacheLookupHost(a.get(), "a.test"), 1);
}

TEST_F(Pki, ServersListedByTheServerAreRememberedWithinBounds) {
    initCache();
    Cert good = load("good");
    auto servers = [](const std::string& prefix, int count, const std::string& inside) {
        std::string text;
        for (int i = 0; i < count; i++)
            text +=
                "<server peername=\"" + prefix + std::to_string(i) + "\">" + inside + "</server>";
        return text;
    };
    // A name longer than a host's, then one host more than a message may add.
    const int perMessage = int(DI_CERT_HOSTS_PER_MESSAGE);
    const std::string cert = "<rootcert>" + slurp(g_dir + "/good.pem") + "</rootcert>";
    const std::string message = "<array>" +
                                servers(std::string(DI_CERT_HOST_NAME_MAX, 'x'), 1, cert) +
                                servers("h", perMessage + 1, cert) + "</array>";
    // One write of the file per message. Each write closes a new file and
    // renames it onto the file; watched alone, renames may be merged.
    int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(watch, cacheDir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO), 0);
    EXPECT_EQ(diCertCacheRememberServers(message), perMessage);
    alignas(inotify_event) char events[4096];
    ssize_t got = read(watch, events, sizeof events);
    int writes = 0;
    for (ssize_t at = 0; at < got;) {
        const inotify_event* e = reinterpret_cast<const inotify_event*>(events + at);
        writes += (e->mask & IN_MOVED_TO) && e->len && strcmp(e->name, "hostsvisited") == 0;
        at += ssize_t(sizeof *e + e->len);
    }
    close(watch);
    EXPECT_EQ(writes, 1);
    diCertCacheReset();
    initCache();
    EXPECT_EQ(diCertCacheLookupHost(good.get(), "h0"), 1);
    std::string tooLong = std::string(DI_CERT_HOST_NAME_MAX, 'x') + "0";
    EXPECT_EQ(diCertCacheLookupHost(good.get(), tooLong.c_str()), 0);
    EXPECT_EQ(diCertCacheLookupHost(good.get(), ("h" + std::to_string(perMessage)).c_str()), 0);

    // A full file refuses more hosts and stays as it was.
    diCertCacheReset();
    std::string full =
        "<array>" + servers("f", int(DI_CERT_HOSTS_MAX), "<certfingerprint>0</certfingerprint>") +
        "</array>";
    spit(hostsPath(), full);
    initCache();
    EXPECT_EQ(diCertCacheRememberServers(message), 0);
    EXPECT_TRUE(slurp(hostsPath()) == full); // not rewritten
}

} // namespace
