/* Certificate checks of the TLS layer (portable): the verification context
 * of one TLS set-up with its problem list, the verify callback, the host-name
 * and validity checks, the certificate-information texts shown in the
 * certificate warnings, and the decisions taken after a handshake.
 *
 * Every TLS set-up owns its own DiTlsVerify; the verify callback finds it
 * through the TLS session (or, outside a session, through the verification
 * context), so a set-up started from inside another's warning dialog can
 * never overwrite the first one's state. */
#ifndef HV_DICERT_H
#define HV_DICERT_H

#include "di.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

/* Flags of a TLS set-up. */
enum : uint32_t {
    DI_TLS_USER_MAY_ACCEPT = 1, /* the user may accept untrusted certificates */
    DI_TLS_NO_HOST_CHECK = 2,
    DI_TLS_HOST_BY_ADDRESS = 4,
    DI_TLS_PLAIN_SUITES = 16, /* no effect: one suite list for every caller */
};

/* Problem bits. */
enum : uint32_t {
    DI_CERT_BAD_HOST = 1,
    DI_CERT_NOT_YET_VALID = 2,
    DI_CERT_EXPIRED = 4,
    DI_CERT_UNTRUSTED = 8,
};

/* Result codes left in the socket's error field. */
enum : int32_t {
    DI_CERT_RESULT_OTHER = 1,
    DI_CERT_RESULT_UNTRUSTED = 5,
    DI_CERT_RESULT_NOT_YET_VALID = 6,
    DI_CERT_RESULT_EXPIRED = 7,
    DI_CERT_RESULT_HOST = 8,
    DI_CERT_RESULT_UNTRUSTED_CA = 19,
    DI_CERT_RESULT_NO_CONSTRAINTS = 20,
    DI_CERT_RESULT_NOT_CA = 21,
};

/* Warning dialogs of the decisions. */
enum {
    DI_TLS_DLG_CHANGED = 204,
    DI_TLS_DLG_FIRST = 206,
    DI_TLS_DLG_WARNING = 209,
    DI_TLS_DLG_LIST = 211,
};

/* One verify-callback call: the chain depth, the bits found there and a
 * reference to the certificate. */
struct DiCertProblem {
    uint32_t bits;
    int depth;
    X509* cert;
};

struct DiTlsVerify {
    uint32_t flags = 0;
    int32_t result = 0;           /* result code, 0 none */
    uint32_t expectedAddress = 0; /* network order, DI_TLS_HOST_BY_ADDRESS */
    std::string host;             /* expected host (UTF-8, A-Z lower-cased) */
    bool caFileLoaded = false;    /* a CA file was loaded as PEM */
    /* In call order: front() is the top of the chain, back() the most
     * recent record (the leaf after a full verification). */
    std::vector<DiCertProblem> problems;
    uint32_t combined = 0;   /* all records' bits */
    std::string fingerprint; /* MD5 text of the leaf */
    /* Resolves a name to its first IPv4 address (network order): 0 or -1. */
    int (*resolve)(const char* name, uint32_t* address) = nullptr;

    DiTlsVerify() = default;
    DiTlsVerify(const DiTlsVerify&) = delete;
    DiTlsVerify& operator=(const DiTlsVerify&) = delete;
    ~DiTlsVerify();
    /* Starts a set-up: flags, the expected host (lower-cased unless the host
     * is not checked), no problems, no result. */
    void Reset(uint32_t setupFlags, const char* expectedHost);
};

/* Binds a verification context to a TLS session or a verification run, for
 * the callback to find. */
void diTlsVerifyAttach(SSL* ssl, DiTlsVerify* v);
void diTlsVerifyAttachStore(X509_STORE_CTX* ctx, DiTlsVerify* v);

/* How every TLS path takes a verification error of the library: the
 * problem bit the user may be asked to accept (untrusted, not yet valid,
 * expired), or 0 for an error that fails the connection whatever the user
 * would answer (a bad signature, an issuer that is no CA, a wrong purpose
 * and every error not named here). */
uint32_t diCertErrorProblem(int err);

/* The verify callback of every client session (SSL_CTX_set_verify). */
int diTlsVerifyCallback(int ok, X509_STORE_CTX* ctx);

/* 1 when the leaf names the expected host (or address); 0 otherwise with
 * result code 8. DNS names of the subject alternative names are compared
 * first, the common name only when there are none; no wildcards; names
 * with an embedded NUL never match; a certificate without any name fails. */
int diCertCheckHost(DiTlsVerify* v, X509* leaf);

/* 1 when the certificate is valid now; 0 with result code 6 (not yet) or 7
 * (expired). */
int diCertCheckValidity(DiTlsVerify* v, X509* cert);

/* Certificate information: subject, issuer, effective date, expiration
 * date, MD5 and SHA-1 fingerprints, in that order. */
enum { DI_CERT_INFO_FIELDS = 6 };
struct DiCertInfo {
    std::u16string values[DI_CERT_INFO_FIELDS];
    X509* cert = nullptr; /* a reference */
    std::string md5;
};
bool diCertInfoFill(DiCertInfo* info, X509* cert);
void diCertInfoFree(DiCertInfo* info);

/* A name as the dialogs show it: the values of country, state, locality,
 * organisation, organisational unit and common name in that order, one
 * entry per line ("\r\n" between), each value converted from its string
 * type and cut to at most 511 UTF-8 bytes. */
std::u16string diCertNameText(const X509_NAME* name);
/* Digest bytes as "%02X" separated by ':'. */
std::string diCertDigestText(X509* cert, const EVP_MD* md);
/* The time as the library's printer prints it ("Jan  1 00:00:00 2001 GMT"). */
std::u16string diCertTimeText(const ASN1_TIME* t);

/* The user's side of the decisions: shows warning dialog `dialog` for the
 * certificate and the problem bits. For 209 and 211 the answer is the
 * choice (0 refuse, 1 accept for this process, 2 or 3 accept and remember
 * in the certificate store file); for 204 and 206, 0 refused, else
 * accepted. */
struct DiTlsAsker {
    int (*ask)(void* ctx, int dialog, X509* cert, uint32_t problems);
    void* ctx;
};

/* The decisions after a successful handshake, from the problem list and the
 * host's remembered fingerprints. 0 go on, -1 fail. listVariant selects
 * dialog 211 rather than 209 for certificate problems. */
int diTlsDecide(DiTlsVerify* v, const char* host, int listVariant, const DiTlsAsker* asker);

#endif
