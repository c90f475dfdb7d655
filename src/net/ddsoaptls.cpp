/* Transport security of the web-service runtime (see ddsoaptls.h). */
#include "net/ddsoaptls.h"

#include "core/diutil.h"
#include "net/ddtls.h"
#include "net/dicert.h"
#include "net/dicertcache.h"
#include "ui/dddlg.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <stdsoap2.h>

#include <string.h>

namespace {

/* The problem bits the verify callback found in the handshake under way.
 * Connections are made one at a time on the application thread; each
 * starts afresh, so no earlier handshake's findings reach a later one. */
uint32_t s_problems;
/* An error no answer of the user may overlook (a bad signature, an issuer
 * that is no CA...) was found: the connection fails without asking. */
bool s_refused;
SOAP_SOCKET (*s_runtimeOpen)(struct soap*, const char*, const char*, int);

int fail(struct soap* soap, const char* message) {
    return soap_set_receiver_error(soap, "SSL error", message, SOAP_SSL_ERROR);
}

std::u16string widen(const char* text) {
    DiChar* w = diTextFromUtf8Dup(text, strlen(text));
    std::u16string out = w ? std::u16string(w) : std::u16string();
    free(w);
    return out;
}

/* The decision after the runtime's handshake: go on when the chain was
 * verified for this host, or when the server's own certificate was
 * accepted before; otherwise ask. A name that does not match the host
 * fails whatever the user would answer. */
bool decide(struct soap* soap, const char* host) {
    X509* peer = SSL_get_peer_certificate(soap->ssl);
    if (!peer) {
        soap_set_sender_error(soap, "SSL/TLS error",
                              "No SSL/TLS certificate was presented by the peer in tcp_connect()",
                              SOAP_SSL_ERROR);
        return false;
    }
    bool ok;
    DiTlsVerify v;
    v.Reset(0, host);
    if (s_refused) {
        soap_set_sender_error(
            soap, "SSL/TLS error",
            "SSL certificate presented by peer cannot be verified in tcp_connect()",
            SOAP_SSL_ERROR);
        ok = false;
    } else if (!(soap->ssl_flags & SOAP_SSL_SKIP_HOST_CHECK) && !diCertCheckHost(&v, peer)) {
        soap_set_sender_error(soap, "SSL/TLS error",
                              "SSL/TLS certificate host name mismatch in tcp_connect()",
                              SOAP_SSL_ERROR);
        ok = false;
    } else if (SSL_get_verify_result(soap->ssl) == X509_V_OK) {
        ok = true;
    } else if (diCertCacheFind(peer) == 0 &&
               (diCertCacheIsConfirmed(peer, host) || diCertCacheLookupHost(peer, host) == 1)) {
        /* Accepted before, for this host: an answer given for one host
         * says nothing about another that the certificate also names. */
        ok = true;
    } else {
        int choice = SoapTlsAskCertificate(s_problems, widen(host).c_str(), peer);
        ok = choice != 0;
        if (ok) {
            uint32_t how = DI_CERT_KEEP | (choice >= 2 ? uint32_t(DI_CERT_STORE_FILE) : 0u);
            diCertCacheRemember(peer, how, 1);
            diCertCacheMarkConfirmed(peer, host);
            diCertCacheRememberHost(peer, host);
        } else {
            soap_set_sender_error(
                soap, "SSL/TLS error",
                "SSL certificate presented by peer cannot be verified in tcp_connect()",
                SOAP_SSL_ERROR);
        }
    }
    X509_free(peer);
    return ok;
}

/* The runtime's connect with our decision after its handshake. The
 * runtime's own check is off meanwhile: it would refuse what the user may
 * still accept. */
SOAP_SOCKET openConnection(struct soap* soap, const char* endpoint, const char* host, int port) {
    s_problems = 0;
    s_refused = false;
    bool secure = endpoint && strncmp(endpoint, "https:", 6) == 0;
    unsigned short flags = soap->ssl_flags;
    soap->ssl_flags &= ~SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION;
    SOAP_SOCKET sk = s_runtimeOpen(soap, endpoint, host, port);
    soap->ssl_flags = flags;
    if (!soap_valid_socket(sk) || !secure || !soap->ssl) return sk;
    if (!(flags & SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION) || decide(soap, host ? host : ""))
        return sk;
    soap->fclosesocket(soap, sk);
    return soap->socket = SOAP_INVALID_SOCKET;
}

} // namespace

void ddSoapTlsInstall(struct soap* soap) {
    soap->fsslauth = SoapTlsContextInit;
    soap->fsslverify = SoapTlsVerifyCallback;
    if (soap->fopen != openConnection) {
        s_runtimeOpen = soap->fopen;
        soap->fopen = openConnection;
    }
}

int SoapTlsPasswordCallback(char* buf, int size, int, void* password) {
    const char* p = static_cast<const char*>(password);
    if (!p || !buf || size <= 0) return 0;
    size_t n = strlen(p);
    if (n + 1 > size_t(size)) return 0;
    memcpy(buf, p, n + 1);
    return int(n);
}

int SoapTlsVerifyCallback(int ok, X509_STORE_CTX* ctx) {
    if (!ok) {
        uint32_t problem = diCertErrorProblem(X509_STORE_CTX_get_error(ctx));
        s_problems |= problem;
        if (!problem) s_refused = true;
    }
    /* Whether to go on is decided after the handshake. */
    return 1;
}

int SoapTlsAskCertificate(uint32_t problems, const DiChar* host, X509* cert) {
    DiCertInfo info;
    diCertInfoFill(&info, cert);
    DdCertInfo shown;
    ddNetCertInfoFill(&shown, &info);
    int choice = ddDlgSecurityWarningList(nullptr, host, shown.names, shown.texts, problems);
    diCertInfoFree(&info);
    return choice;
}

int SoapTlsContextInit(struct soap* soap) {
    if (!soap->ctx) {
        soap->ctx = SSL_CTX_new(TLS_client_method());
        if (!soap->ctx) return fail(soap, "Can't setup context");
        ddNetLoadCACertificates(soap->ctx);
        if (!diCertCacheIsInitialised())
            diCertCacheInit(ddConfigCertStorePath(), ddConfigHostsVisitedPath());
    }
    SSL_CTX* ctx = soap->ctx;
    if (soap->randfile && !RAND_load_file(soap->randfile, -1))
        return fail(soap, "Can't load randomness");
    if (soap->cafile || soap->capath) {
        if (!SSL_CTX_load_verify_locations(ctx, soap->cafile, soap->capath))
            return fail(soap, "Can't read CA file and directory");
        if (soap->cafile && (soap->ssl_flags & SOAP_SSL_REQUIRE_CLIENT_AUTHENTICATION))
            SSL_CTX_set_client_CA_list(ctx, SSL_load_client_CA_file(soap->cafile));
    }
    if (!ddTlsLoadDefaultRoots(ctx))
        return fail(soap, "Can't read default CA file and/or directory");
    if (soap->keyfile) {
        if (!SSL_CTX_use_certificate_chain_file(ctx, soap->keyfile))
            return fail(soap, "Can't read certificate key file");
        if (soap->password) {
            SSL_CTX_set_default_passwd_cb_userdata(ctx, const_cast<char*>(soap->password));
            SSL_CTX_set_default_passwd_cb(ctx, SoapTlsPasswordCallback);
        }
        if (!SSL_CTX_use_PrivateKey_file(ctx, soap->keyfile, SSL_FILETYPE_PEM))
            return fail(soap, "Can't read key file");
    }
    /* Temporary RSA keys do not exist in TLS 1.2 and later; DH parameters
     * only matter to servers. */
    if (soap->dhfile) {
        BIO* bio = BIO_new_file(soap->dhfile, "r");
        EVP_PKEY* dh = bio ? PEM_read_bio_Parameters(bio, nullptr) : nullptr;
        BIO_free(bio);
        if (!dh) return fail(soap, "Can't read DH file");
        if (!SSL_CTX_set0_tmp_dh_pkey(ctx, dh)) {
            EVP_PKEY_free(dh);
            return fail(soap, "Can't set DH parameters");
        }
    }
    /* The same protocol floor as every other connection. */
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_ALL | SSL_OP_IGNORE_UNEXPECTED_EOF);
    int mode = SSL_VERIFY_NONE;
    if (soap->ssl_flags & SOAP_SSL_REQUIRE_CLIENT_AUTHENTICATION)
        mode = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    else if (soap->ssl_flags & SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION)
        mode = SSL_VERIFY_PEER;
    SSL_CTX_set_verify(ctx, mode, soap->fsslverify);
    SSL_CTX_set_verify_depth(ctx, 9);
    ERR_clear_error();
    return SOAP_OK;
}
