/* The TLS layer on Windows sockets (see ddtls.h). The certificate checks and
 * the decisions are portable (net/dicert.*); this file makes the TLS
 * contexts, loads the trust stores, runs the handshake and shows the
 * warnings. */
#include "net/ddtls.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/dilog.h"
#include "core/diutil.h"
#include "net/ddnet.h"
#include "net/dicert.h"
#include "net/dicertcache.h"
#include "net/diroots.h"
#include "resources/ddres.h"
#include "session/ddso.h"
#include "ui/dddlg.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

uint32_t g_ddTlsHandshakeTimeoutMs = 30000;

namespace {

std::string utf8Of(const DiChar* text) {
    if (!text) return std::string();
    size_t n = 0;
    while (text[n])
        n++;
    char* s = diTextToUtf8Dup(text, n);
    std::string out = s ? s : "";
    free(s);
    return out;
}

/* ---- paths ---- */

struct CertPaths {
    bool built = false;
    std::wstring folder; /* set by tests, else the local application data */
    std::string store, hosts;
};

CertPaths& certPaths() {
    static CertPaths p;
    return p;
}

void buildCertPaths() {
    CertPaths& p = certPaths();
    if (p.built) return;
    p.built = true;
    std::wstring dir = p.folder;
    if (dir.empty()) {
        wchar_t base[MAX_PATH];
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                    base)))
            return;
        dir = std::wstring(base) + L"\\Vek\\VHVN";
    }
    /* The folder is made when missing, one level at a time. */
    for (size_t i = 3; i <= dir.size(); i++)
        if (i == dir.size() || dir[i] == L'\\' || dir[i] == L'/')
            CreateDirectoryW(dir.substr(0, i).c_str(), nullptr);
    std::wstring store = dir + L"\\certstore.pem", hosts = dir + L"\\hostsvisited";
    if (store.size() < MAX_PATH) p.store = utf8Of(ddD(store.c_str()));
    if (hosts.size() < MAX_PATH) p.hosts = utf8Of(ddD(hosts.c_str()));
}

/* ---- set-up state ---- */

/* Warnings shown by a set-up still open: another set-up started from their
 * modal loop is refused. */
int s_dialogsOpen;

void initCache() {
    if (!diCertCacheIsInitialised())
        diCertCacheInit(ddConfigCertStorePath(), ddConfigHostsVisitedPath());
}

bool isDottedAddress(const std::string& host) {
    return !host.empty() && inet_addr(host.c_str()) != INADDR_NONE;
}

int resolveName(const char* name, uint32_t* address) {
    unsigned long a = inet_addr(name);
    if (a != INADDR_NONE) {
        *address = a;
        return 0;
    }
    hostent* he = gethostbyname(name);
    if (!he || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0]) return -1;
    memcpy(address, he->h_addr_list[0], 4);
    return 0;
}

struct AskContext {
    DdSocket* socket;
    const DiChar* server;
};

int askUser(void* c, int dialog, X509* cert, uint32_t problems) {
    AskContext* ctx = static_cast<AskContext*>(c);
    DiCertInfo info;
    diCertInfoFill(&info, cert);
    DdCertInfo shown;
    ddNetCertInfoFill(&shown, &info);
    DiObject* owner = ctx->socket->owner;
    int answer = 0;
    s_dialogsOpen++;
    switch (dialog) {
    case DI_TLS_DLG_CHANGED:
        answer = ddDlgCertificateChanged(owner, ctx->server, shown.names, shown.texts);
        break;
    case DI_TLS_DLG_FIRST:
        answer = ddDlgUntrustedFirstConnection(owner, ctx->server, shown.names, shown.texts);
        break;
    case DI_TLS_DLG_WARNING:
        answer = ddDlgSecurityWarning(owner, ctx->server, shown.names, shown.texts, problems);
        break;
    case DI_TLS_DLG_LIST:
        answer = ddDlgSecurityWarningList(owner, ctx->server, shown.names, shown.texts, problems);
        break;
    }
    s_dialogsOpen--;
    diCertInfoFree(&info);
    return answer;
}

/* Runs the handshake in blocking mode. A socket registered for window
 * messages cannot be made blocking: its registration is cleared for the
 * handshake and restored after it. */
int handshake(DdSocket* s, SSL* ssl) {
    SOCKET h = SOCKET(s->handle);
    HWND window = g_ddApp ? g_ddApp->mainWindow : nullptr;
    bool registered = s->eventMask != 0 && window;
    if (registered) WSAAsyncSelect(h, window, 0, 0);
    ddNetSetBlocking(s, 1);
    /* A server that accepts and then says nothing must not hold the
     * application thread for ever. The socket's own bounds come back after
     * the handshake: a hop chain keeps bounding its waits on the hops
     * behind this one. */
    DWORD limit = g_ddTlsHandshakeTimeoutMs, oldRecv = 0, oldSend = 0;
    int size = sizeof oldRecv;
    if (getsockopt(h, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&oldRecv), &size) != 0)
        oldRecv = 0;
    size = sizeof oldSend;
    if (getsockopt(h, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&oldSend), &size) != 0)
        oldSend = 0;
    setsockopt(h, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    setsockopt(h, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    ERR_clear_error();
    int r = SSL_connect(ssl);
    int ok = r == 1;
    if (!ok) SSL_get_error(ssl, r); /* any error here fails the set-up */
    setsockopt(h, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&oldRecv), sizeof oldRecv);
    setsockopt(h, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&oldSend), sizeof oldSend);
    ddNetSetBlocking(s, 0);
    if (registered) WSAAsyncSelect(h, window, g_ddApp->winsockMessage, long(s->eventMask));
    return ok;
}

SSL_CTX* newContext() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return nullptr;
    /* TLS 1.2 and 1.3 only, the library's default suites at security level
     * 1 and its interoperability workarounds; servers that offer only older
     * protocols, RC4 or no secure renegotiation fail the handshake. */
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_security_level(ctx, 1);
    SSL_CTX_set_options(ctx, SSL_OP_ALL | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, diTlsVerifyCallback);
    /* A socket call costs far more than the bytes it moves (under Wine each
     * one is a round trip to the server process): read ahead into a buffer
     * of several records, so that one recv takes in what arrived instead of
     * two per record (header, then body). What is read ahead waits in the
     * session; the ready bit and the check after the handshake hand it out. */
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, 128 * 1024);
    return ctx;
}

} // namespace

void ddTlsLibraryInit() {
    /* The first call decides for the whole process: the settings file is
     * read once or never, whoever asks first. */
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

int ddTlsLoadDefaultRoots(SSL_CTX* ctx) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    X509_LOOKUP* file = X509_STORE_add_lookup(store, X509_LOOKUP_file());
    X509_LOOKUP* dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (!file || !dir) return 0;
    /* Never a fixed drive path: where a folder of that name does not
     * belong to the system (32-bit Windows has no "Program Files (x86)"),
     * any user may create it. */
    wchar_t common[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common)))
        return 1;
    std::wstring ssl = std::wstring(common) + L"\\SSL";
    std::string pem = utf8Of(ddD((ssl + L"\\cert.pem").c_str()));
    std::string certs = utf8Of(ddD((ssl + L"\\certs").c_str()));
    X509_LOOKUP_load_file(file, pem.c_str(), X509_FILETYPE_PEM);
    X509_LOOKUP_add_dir(dir, certs.c_str(), X509_FILETYPE_PEM);
    ERR_clear_error();
    return 1;
}

const std::string& ddConfigCertStorePath() {
    buildCertPaths();
    return certPaths().store;
}

const std::string& ddConfigHostsVisitedPath() {
    buildCertPaths();
    return certPaths().hosts;
}

void ddConfigSetCertFolder(const wchar_t* folder) {
    CertPaths& p = certPaths();
    p.folder = folder ? folder : L"";
    p.built = false;
    p.store.clear();
    p.hosts.clear();
}

void ddNetCertInfoFill(DdCertInfo* out, const DiCertInfo* info) {
    for (int i = 0; i < DI_CERT_INFO_FIELDS; i++) {
        if (ddResLoadString(UINT(11 + i), out->labels[i], 64) <= 0) out->labels[i][0] = 0;
        out->names[i] = out->labels[i];
        out->texts[i] = info->values[i].c_str();
    }
    out->names[DI_CERT_INFO_FIELDS] = nullptr;
    out->texts[DI_CERT_INFO_FIELDS] = nullptr;
}

/* The certificates of one CA file as last read, kept while the file has the
 * same size and time of last change: parsing it again costs more than the
 * rest of a set-up's stores. */
struct CAFileCache {
    std::wstring path;
    FILETIME written{};
    DWORD sizeLow = 0, sizeHigh = 0;
    int pem = 0;
    std::vector<X509*> certs;
};

static CAFileCache s_caFiles[2]; /* the option's file and the setting's */

/* Reads one CA file: PEM first; DER when that fails. 1 when PEM worked. */
static int ddTlsReadCAFile(const DiChar* path, std::vector<X509*>* certs) {
    X509_STORE* read = X509_STORE_new();
    if (!read) return 0;
    std::string name = utf8Of(path);
    int pem = X509_STORE_load_file(read, name.c_str()) == 1;
    if (!pem) {
        ERR_clear_error();
        X509_LOOKUP* lookup = X509_STORE_add_lookup(read, X509_LOOKUP_file());
        if (lookup) X509_LOOKUP_load_file(lookup, name.c_str(), X509_FILETYPE_ASN1);
    }
    STACK_OF(X509)* all = X509_STORE_get1_all_certs(read);
    for (int i = 0; all && i < sk_X509_num(all); i++) {
        X509* x = sk_X509_value(all, i);
        X509_up_ref(x);
        certs->push_back(x);
    }
    sk_X509_pop_free(all, X509_free);
    X509_STORE_free(read);
    ERR_clear_error();
    return pem;
}

/* Loads one CA file into the store: PEM first; DER when that fails (logged
 * as a failure to load). 1 when PEM loading worked. */
static int ddTlsLoadCAFile(X509_STORE* store, const DiChar* path, CAFileCache* cache) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(ddW(path), GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    bool same = cache->path == ddW(path) && cache->sizeLow == a.nFileSizeLow &&
                cache->sizeHigh == a.nFileSizeHigh &&
                CompareFileTime(&cache->written, &a.ftLastWriteTime) == 0;
    if (!same) {
        FILE* f = _wfopen(ddW(path), L"rb");
        if (!f) return 0;
        fclose(f);
        for (X509* x : cache->certs)
            X509_free(x);
        cache->certs.clear();
        cache->pem = ddTlsReadCAFile(path, &cache->certs);
        cache->path = ddW(path);
        cache->written = a.ftLastWriteTime;
        cache->sizeLow = a.nFileSizeLow;
        cache->sizeHigh = a.nFileSizeHigh;
    }
    for (X509* x : cache->certs)
        X509_STORE_add_cert(store, x);
    ERR_clear_error();
    if (!cache->pem) diLogErrorArgs(322, {path});
    return cache->pem;
}

/* A relative "CertsFile" names a file in the program's folder, never in the
 * current one: a browser starts the client in its downloads folder. Empty
 * when the program's path is unknown. */
static std::wstring ddTlsCertsFilePath(const wchar_t* name) {
    if (name[0] == L'\\' || name[0] == L'/' ||
        (name[0] && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/')))
        return name;
    wchar_t self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    std::wstring path(self, n <= MAX_PATH ? n : 0);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1) + name;
}

int ddNetLoadCACertificates(SSL_CTX* ctx) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    diTlsAddBuiltinRoots(store);
    int loaded = 0;
    const DiChar* caFile = diSOGetCAFile();
    if (caFile && *caFile) {
        diLogInfoArgs(321, {caFile});
        loaded |= ddTlsLoadCAFile(store, caFile, &s_caFiles[0]);
    }
    wchar_t certsFile[MAX_PATH + 1];
    ddSettingGetString(L"CertsFile", L"CA.PEM", certsFile, MAX_PATH + 1);
    certsFile[MAX_PATH] = 0;
    std::wstring certsPath = certsFile[0] ? ddTlsCertsFilePath(certsFile) : std::wstring();
    if (!certsPath.empty()) loaded |= ddTlsLoadCAFile(store, ddD(certsPath.c_str()), &s_caFiles[1]);
    ddNetLoadSystemStores(ctx);
    return loaded;
}

/* The certificates of the Windows "ROOT" and "CA" stores, parsed once and
 * kept while the stores hold the same certificates (the same encoded bytes
 * in the same order). Reading the stores costs more than a handshake, so
 * they are read again only after the registry under them changed. Entries
 * that are not to be trusted as issuers are kept as none. */
struct SystemStoreCache {
    bool loaded = false;
    uint64_t key = 0;
    std::vector<X509*> certs;
};

static SystemStoreCache s_systemStores;

/* The stores' certificates in order, and a key of their encoded bytes. */
struct SystemCert {
    std::vector<unsigned char> der;
};

static void ddTlsReadSystemStore(const wchar_t* name, std::vector<SystemCert>* out, uint64_t* key) {
    HCERTSTORE h = CertOpenSystemStoreW(0, name);
    if (!h) return;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(h, c)) != nullptr) {
        SystemCert sc;
        sc.der.assign(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        /* FNV-1a over the length and the bytes of every certificate. */
        uint64_t k = *key ^ c->cbCertEncoded;
        k *= 1099511628211ull;
        for (unsigned char b : sc.der) {
            k ^= b;
            k *= 1099511628211ull;
        }
        *key = k;
        out->push_back(std::move(sc));
    }
    CertCloseStore(h, 0);
}

/* A version 3 certificate is an issuer only when its Basic Constraints say
 * it is a CA; older ones are taken as they are. */
static X509* ddTlsParseSystemCert(const SystemCert& sc) {
    const unsigned char* p = sc.der.data();
    X509* x = d2i_X509(nullptr, &p, long(sc.der.size()));
    if (!x) return nullptr;
    uint32_t ext = X509_get_extension_flags(x);
    if (X509_get_version(x) < 2 || ((ext & EXFLAG_BCONS) && (ext & EXFLAG_CA))) return x;
    X509_free(x);
    return nullptr;
}

/* Within its validity period at this moment. */
static bool ddTlsValidNow(X509* x) {
    return X509_cmp_current_time(X509_get0_notBefore(x)) < 0 &&
           X509_cmp_current_time(X509_get0_notAfter(x)) > 0;
}

/* The registry keys that hold the system stores (the user's and the
 * machine's, their policy and enterprise stores), each with an event that a
 * change anywhere below it sets. */
struct StoreWatch {
    HKEY key;
    HANDLE event;
};
static std::vector<StoreWatch> s_storeWatches;
static bool s_storeWatchesComplete;

static bool ddTlsArmWatch(const StoreWatch& w) {
    return RegNotifyChangeKeyValue(w.key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   w.event, TRUE) == ERROR_SUCCESS;
}

/* Watches a key, or the nearest existing key above it (a store made later
 * is made below that one). */
static bool ddTlsWatchKey(HKEY root, std::wstring path) {
    for (;;) {
        HKEY k;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY, &k) == ERROR_SUCCESS) {
            StoreWatch w = {k, CreateEventW(nullptr, FALSE, FALSE, nullptr)};
            if (w.event && ddTlsArmWatch(w)) {
                s_storeWatches.push_back(w);
                return true;
            }
            if (w.event) CloseHandle(w.event);
            RegCloseKey(k);
            return false;
        }
        size_t cut = path.rfind(L'\\');
        if (cut == std::wstring::npos) return false;
        path.resize(cut);
    }
}

/* False only when every watch is in place and none has fired since the
 * last call: then the stores hold what they held. */
static bool ddTlsSystemStoresMayHaveChanged() {
    if (!s_storeWatchesComplete) {
        static const wchar_t* const paths[] = {L"Software\\Microsoft\\SystemCertificates",
                                               L"Software\\Policies\\Microsoft\\SystemCertificates",
                                               L"Software\\Microsoft\\EnterpriseCertificates"};
        bool all = true;
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (const wchar_t* path : paths)
                all = ddTlsWatchKey(root, path) && all;
        s_storeWatchesComplete = all;
        return true;
    }
    bool changed = false;
    for (StoreWatch& w : s_storeWatches) {
        if (WaitForSingleObject(w.event, 0) != WAIT_OBJECT_0) continue;
        changed = true;
        /* Re-armed before the stores are read again, so that a change made
         * while they are read is seen next time. */
        if (!ddTlsArmWatch(w)) s_storeWatchesComplete = false;
    }
    return changed || !s_storeWatchesComplete;
}

/* Hands the store the system certificates of one subject: all of them go
 * into the asking store, those not valid now first, so that a valid one of
 * the same name is found after them; the one handed back is valid when one
 * is. The store is the set-up's own, so what a set-up adds to it (a
 * certificate the user accepted) stays with that set-up. */
static int ddTlsSystemLookup(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_name_st* name,
                             X509_OBJECT* ret) {
    if (type != X509_LU_X509 || !name) return 0;
    X509_STORE* store = X509_LOOKUP_get_store(lookup);
    X509* found = nullptr;
    /* The names are compared first: a store asks for several names per
     * chain, and the time check costs far more than the comparison. */
    for (bool valid : {false, true})
        for (X509* x : s_systemStores.certs)
            if (x && X509_NAME_cmp(X509_get_subject_name(x), name) == 0 &&
                ddTlsValidNow(x) == valid) {
                if (store) X509_STORE_add_cert(store, x);
                found = x;
            }
    return found ? X509_OBJECT_set1_X509(ret, found) : 0;
}

void ddNetLoadSystemStores(SSL_CTX* ctx) {
    SystemStoreCache& cache = s_systemStores;
    bool changed = ddTlsSystemStoresMayHaveChanged();
    if (!cache.loaded || changed) {
        std::vector<SystemCert> all;
        uint64_t key = 14695981039346656037ull;
        ddTlsReadSystemStore(L"ROOT", &all, &key);
        ddTlsReadSystemStore(L"CA", &all, &key);
        if (!cache.loaded || cache.key != key || cache.certs.size() != all.size()) {
            for (X509* x : cache.certs)
                X509_free(x);
            cache.certs.clear();
            for (const SystemCert& sc : all)
                cache.certs.push_back(ddTlsParseSystemCert(sc));
            cache.key = key;
            cache.loaded = true;
        }
    }
    /* Adding every certificate to each set-up's store would cost more than
     * the handshake: the store asks for the names it needs instead. */
    static X509_LOOKUP_METHOD* method = [] {
        X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("Windows system stores");
        if (m) X509_LOOKUP_meth_set_get_by_subject(m, ddTlsSystemLookup);
        return m;
    }();
    if (method) X509_STORE_add_lookup(SSL_CTX_get_cert_store(ctx), method);
    ERR_clear_error();
}

int ddNetStartTls(DdSocket* s, uint32_t flags, const DiChar* host, int listVariant) {
    if (!ddNetIsOpen(s)) return -1;
    if (s_dialogsOpen > 0) {
        /* Started from the modal loop of another set-up's warning. */
        s->error = DD_NET_ERR_FAILED;
        return -1;
    }
    /* The warnings run modal loops in which timers and the socket's owner
     * still run: held, the socket stays readable if its owner destroys it
     * meanwhile, and the set-up checks that before it goes on. */
    diNetHold(s);
    DiTlsVerify v;
    s->handshake = &v;
    initCache();
    std::string name = utf8Of(host);
    int result = -1;
    SSL_CTX* ctx = newContext();
    SSL* ssl = nullptr;
    if (ctx) {
        v.caFileLoaded = ddNetLoadCACertificates(ctx) != 0;
        ssl = SSL_new(ctx);
        SSL_CTX_free(ctx); /* the session holds the context */
    }
    if (ssl && SSL_set_fd(ssl, int(s->handle)) == 1) {
        SSL_set_connect_state(ssl);
        if (s->tls) ddTLSShutdown(s);
        s->tls = ssl;
        /* Name the server for servers with several names. */
        if (!name.empty() && !isDottedAddress(name)) SSL_set_tlsext_host_name(ssl, name.c_str());
        v.Reset(flags, name.c_str());
        if (flags & DI_TLS_HOST_BY_ADDRESS) {
            v.resolve = resolveName;
            resolveName(name.c_str(), &v.expectedAddress);
        }
        diTlsVerifyAttach(ssl, &v);
        if (handshake(s, ssl)) {
            AskContext ask = {s, host};
            DiTlsAsker asker = {askUser, &ask};
            result = diTlsDecide(&v, name.c_str(), listVariant, &asker);
        }
        if (s->destroyed || s->tls != ssl) {
            /* Closed or destroyed meanwhile: the session went with it. */
            result = -1;
        } else {
            diTlsVerifyAttach(ssl, nullptr);
            /* Data the server sent with its last handshake flight was read
             * ahead with it: the socket will not say readable for it. */
            if (result == 0 && SSL_has_pending(ssl)) s->ready |= 1;
        }
    } else if (ssl) {
        SSL_free(ssl);
    }
    ERR_clear_error();
    if (result != 0) s->error = v.result ? v.result : DD_NET_ERR_FAILED;
    s->handshake = nullptr;
    diNetRelease(s);
    return result;
}

int ddNetStartTlsClient(DdSocket* s, uint32_t flags, const DiChar* host) {
    return ddNetStartTls(s, flags, host, 1);
}

/* A failed read or write: 2 when it would block, else 1. */
static int ddTlsFail(DdSocket* s, SSL* ssl, int r) {
    int e = SSL_get_error(ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        s->error = DD_NET_ERR_WOULD_BLOCK;
    else if (e == SSL_ERROR_SYSCALL &&
             (WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINPROGRESS))
        s->error = DD_NET_ERR_WOULD_BLOCK;
    else
        s->error = DD_NET_ERR_FAILED;
    ERR_clear_error();
    return -1;
}

int ddTLSRead(DdSocket* s, void* buf, int len) {
    SSL* ssl = static_cast<SSL*>(s->tls);
    if (len <= 0) return 0;
    ERR_clear_error();
    int n = SSL_read(ssl, buf, len);
    if (n > 0) return n;
    /* The end of the connection, with or without the peer's close notice
     * (servers of plain HTTPS replies often send none). */
    if (SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN) return 0;
    return ddTlsFail(s, ssl, n);
}

int ddTLSWrite(DdSocket* s, const void* buf, int len) {
    SSL* ssl = static_cast<SSL*>(s->tls);
    if (len <= 0) return 0;
    ERR_clear_error();
    int n = SSL_write(ssl, buf, len);
    if (n > 0) return n;
    return ddTlsFail(s, ssl, n);
}

void ddTLSShutdown(DdSocket* s) {
    SSL* ssl = static_cast<SSL*>(s->tls);
    if (!ssl) return;
    /* One attempt at the close notice; a non-blocking socket may refuse. */
    if (s->handle != DD_NET_NO_HANDLE && SSL_is_init_finished(ssl)) SSL_shutdown(ssl);
    SSL_free(ssl);
    s->tls = nullptr;
    ERR_clear_error();
}
