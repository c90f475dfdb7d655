/* Certificate checks of the TLS layer (see dicert.h). */
#include "net/dicert.h"

#include "core/diutil.h"
#include "net/dicertcache.h"
#include "net/diroots.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdio.h>
#include <string.h>

DiTlsVerify::~DiTlsVerify() {
    Reset(0, nullptr);
}

void DiTlsVerify::Reset(uint32_t setupFlags, const char* expectedHost) {
    for (DiCertProblem& p : problems)
        X509_free(p.cert);
    problems.clear();
    flags = setupFlags;
    result = 0;
    combined = 0;
    expectedAddress = 0;
    fingerprint.clear();
    host = expectedHost ? expectedHost : "";
    if (!(flags & DI_TLS_NO_HOST_CHECK))
        for (char& c : host)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
}

/* The ex_data slots through which the callback finds its context. */
static int diTlsSslIndex() {
    static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

static int diTlsStoreIndex() {
    static int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

void diTlsVerifyAttach(SSL* ssl, DiTlsVerify* v) {
    SSL_set_ex_data(ssl, diTlsSslIndex(), v);
}

void diTlsVerifyAttachStore(X509_STORE_CTX* ctx, DiTlsVerify* v) {
    X509_STORE_CTX_set_ex_data(ctx, diTlsStoreIndex(), v);
}

static DiTlsVerify* diTlsVerifyOf(X509_STORE_CTX* ctx) {
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl) return static_cast<DiTlsVerify*>(SSL_get_ex_data(ssl, diTlsSslIndex()));
    return static_cast<DiTlsVerify*>(X509_STORE_CTX_get_ex_data(ctx, diTlsStoreIndex()));
}

/* ---- texts ---- */

static std::u16string diWiden(const char* utf8, size_t n) {
    DiChar* w = diTextFromUtf8Dup(utf8, n);
    std::u16string out = w ? std::u16string(w) : std::u16string();
    free(w);
    return out;
}

/* Cuts UTF-8 text to at most max bytes without splitting a character. */
static size_t diUtf8Cut(const unsigned char* s, size_t n, size_t max) {
    if (n <= max) return n;
    size_t cut = max;
    while (cut > 0 && (s[cut] & 0xC0) == 0x80)
        cut--;
    return cut;
}

std::u16string diCertNameText(const X509_NAME* name) {
    static const int kOrder[] = {NID_countryName,      NID_stateOrProvinceName,    NID_localityName,
                                 NID_organizationName, NID_organizationalUnitName, NID_commonName};
    std::u16string out;
    if (!name) return out;
    for (int nid : kOrder) {
        for (int i = X509_NAME_get_index_by_NID(name, nid, -1); i >= 0;
             i = X509_NAME_get_index_by_NID(name, nid, i)) {
            const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
            unsigned char* utf8 = nullptr;
            int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
            if (!out.empty()) out += u"\r\n";
            if (n > 0) {
                /* A NUL inside a value would end the dialog's text early. */
                size_t len = diUtf8Cut(utf8, size_t(n), 511);
                std::string v(reinterpret_cast<char*>(utf8), len);
                for (char& c : v)
                    if (c == 0) c = '?';
                out += diWiden(v.data(), v.size());
            }
            OPENSSL_free(utf8);
        }
    }
    return out;
}

std::string diCertDigestText(X509* cert, const EVP_MD* md) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    std::string out;
    if (!cert || !X509_digest(cert, md, d, &n)) return out;
    char hex[4];
    for (unsigned int i = 0; i < n; i++) {
        snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", d[i]);
        out += hex;
    }
    return out;
}

std::u16string diCertTimeText(const ASN1_TIME* t) {
    std::u16string out;
    BIO* b = BIO_new(BIO_s_mem());
    if (!b) return out;
    if (t && ASN1_TIME_print(b, t)) {
        char* data = nullptr;
        long n = BIO_get_mem_data(b, &data);
        if (n > 0) out = diWiden(data, size_t(n));
    }
    BIO_free(b);
    ERR_clear_error();
    return out;
}

bool diCertInfoFill(DiCertInfo* info, X509* cert) {
    diCertInfoFree(info);
    if (!cert) return false;
    info->values[0] = diCertNameText(X509_get_subject_name(cert));
    info->values[1] = diCertNameText(X509_get_issuer_name(cert));
    info->values[2] = diCertTimeText(X509_get0_notBefore(cert));
    info->values[3] = diCertTimeText(X509_get0_notAfter(cert));
    info->md5 = diCertDigestText(cert, EVP_md5());
    std::string sha1 = diCertDigestText(cert, EVP_sha1());
    info->values[4] = diWiden(info->md5.data(), info->md5.size());
    info->values[5] = diWiden(sha1.data(), sha1.size());
    X509_up_ref(cert);
    info->cert = cert;
    return true;
}

void diCertInfoFree(DiCertInfo* info) {
    for (std::u16string& v : info->values)
        v.clear();
    info->md5.clear();
    X509_free(info->cert);
    info->cert = nullptr;
}

/* ---- checks ---- */

int diCertCheckValidity(DiTlsVerify* v, X509* cert) {
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
        v->result = DI_CERT_RESULT_NOT_YET_VALID;
        return 0;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
        v->result = DI_CERT_RESULT_EXPIRED;
        return 0;
    }
    return 1;
}

/* The name a certificate is known by: its first DNS name, else its common
 * name; empty when it has none or the name holds a NUL. */
static std::string diCertPrimaryName(X509* cert) {
    std::string out;
    GENERAL_NAMES* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); i++) {
        const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
        if (g->type != GEN_DNS) continue;
        const ASN1_STRING* s = g->d.dNSName;
        out.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                   size_t(ASN1_STRING_length(s)));
        break;
    }
    GENERAL_NAMES_free(names);
    if (out.empty()) {
        const X509_NAME* subject = X509_get_subject_name(cert);
        int i = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
        if (i >= 0) {
            unsigned char* utf8 = nullptr;
            int n = ASN1_STRING_to_UTF8(&utf8,
                                        X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i)));
            if (n > 0 && n <= 256) out.assign(reinterpret_cast<char*>(utf8), size_t(n));
            OPENSSL_free(utf8);
        }
    }
    if (out.find('\0') != std::string::npos) out.clear();
    return out;
}

int diCertCheckHost(DiTlsVerify* v, X509* leaf) {
    int ok;
    if (v->flags & DI_TLS_HOST_BY_ADDRESS) {
        std::string name = diCertPrimaryName(leaf);
        uint32_t address = 0;
        ok = !name.empty() && v->resolve && v->resolve(name.c_str(), &address) == 0 &&
             address == v->expectedAddress;
    } else if (v->host.empty() || v->host.find('\0') != std::string::npos) {
        ok = 0;
    } else {
        /* Subject alternative DNS names first; the common name only when
         * there are none. Embedded NULs are refused by the library. */
        ok = X509_check_host(leaf, v->host.data(), v->host.size(), X509_CHECK_FLAG_NO_WILDCARDS,
                             nullptr) == 1;
    }
    if (!ok) v->result = DI_CERT_RESULT_HOST;
    return ok;
}

/* ---- verify callback ---- */

/* The record for this call: the head record when it is for the same depth
 * (its bits only grow), else a new one. */
static DiCertProblem* diTlsRecord(DiTlsVerify* v, int depth, X509* cert) {
    if (!v->problems.empty() && v->problems.back().depth == depth) return &v->problems.back();
    X509_up_ref(cert);
    v->problems.push_back(DiCertProblem{0, depth, cert});
    return &v->problems.back();
}

static bool diTlsStoreHasSubject(X509_STORE_CTX* ctx, X509* cert) {
    X509_OBJECT* o =
        X509_STORE_CTX_get_obj_by_subject(ctx, X509_LU_X509, X509_get_subject_name(cert));
    if (!o) return false;
    X509_OBJECT_free(o);
    return true;
}

/* The certificate of the store that issued this one (by the issuer name): a
 * new reference or none. Issuers that came with the chain are judged by the
 * library, which reports an unfit one at its own depth. */
static X509* diTlsFindIssuer(X509_STORE_CTX* ctx, X509* cert) {
    X509_OBJECT* o =
        X509_STORE_CTX_get_obj_by_subject(ctx, X509_LU_X509, X509_get_issuer_name(cert));
    if (!o) return nullptr;
    X509* found = X509_OBJECT_get0_X509(o);
    if (found) X509_up_ref(found);
    X509_OBJECT_free(o);
    return found;
}

/* An issuer of version 3 or later must say it is a CA: 0 when it does (or is
 * older), else the result code. */
static int32_t diTlsIssuerFault(X509* issuer) {
    if (X509_get_version(issuer) < 2) return 0;
    uint32_t ext = X509_get_extension_flags(issuer);
    if (!(ext & EXFLAG_BCONS)) return DI_CERT_RESULT_NO_CONSTRAINTS;
    if (!(ext & EXFLAG_CA)) return DI_CERT_RESULT_NOT_CA;
    return 0;
}

uint32_t diCertErrorProblem(int err) {
    switch (err) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        return DI_CERT_NOT_YET_VALID;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return DI_CERT_EXPIRED;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return DI_CERT_UNTRUSTED;
    default:
        return 0;
    }
}

int diTlsVerifyCallback(int ok, X509_STORE_CTX* ctx) {
    DiTlsVerify* v = diTlsVerifyOf(ctx);
    X509* cert = X509_STORE_CTX_get_current_cert(ctx);
    if (!v || !cert) return 0;
    int depth = X509_STORE_CTX_get_error_depth(ctx);
    int err = X509_STORE_CTX_get_error(ctx);
    DiCertProblem* rec = diTlsRecord(v, depth, cert);
    bool accept = ok != 0;
    bool issuerCheck = true;

    if (!ok) {
        bool trustStep = false, acceptedByStore = false;
        switch (diCertErrorProblem(err)) {
        case DI_CERT_NOT_YET_VALID:
            rec->bits |= DI_CERT_NOT_YET_VALID;
            v->result = DI_CERT_RESULT_NOT_YET_VALID;
            accept = true;
            break;
        case DI_CERT_EXPIRED:
            rec->bits |= DI_CERT_EXPIRED;
            v->result = DI_CERT_RESULT_EXPIRED;
            accept = true;
            break;
        case DI_CERT_UNTRUSTED:
            /* A root the CA file holds, though the library saw it only in
             * the chain, is trusted by the store. */
            acceptedByStore = err != X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT &&
                              err != X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY &&
                              err != X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE &&
                              v->caFileLoaded && diTlsStoreHasSubject(ctx, cert);
            trustStep = true;
            break;
        default:
            if (err != X509_V_ERR_INVALID_CA) {
                if (!v->result) v->result = DI_CERT_RESULT_OTHER;
                v->combined |= rec->bits;
                return 0;
            }
            /* The library found this certificate unfit to issue the one
             * below it: say why as the issuer check does. */
            int32_t fault = diTlsIssuerFault(cert);
            v->result = fault ? fault : (v->result ? v->result : DI_CERT_RESULT_OTHER);
            v->combined |= rec->bits;
            return 0;
        }
        if (trustStep) {
            accept = acceptedByStore;
            if (diCertCacheFind(cert) != 0) {
                rec->bits |= DI_CERT_UNTRUSTED;
                if (!acceptedByStore) {
                    if (!(v->flags & DI_TLS_USER_MAY_ACCEPT)) {
                        /* A refusal here stands whatever follows. */
                        v->result = v->caFileLoaded ? DI_CERT_RESULT_UNTRUSTED_CA
                                                    : DI_CERT_RESULT_UNTRUSTED;
                        v->combined |= rec->bits;
                        return 0;
                    }
                    v->result = DI_CERT_RESULT_UNTRUSTED;
                    accept = true;
                }
                if (!diCertCheckValidity(v, cert)) {
                    rec->bits |= v->result == DI_CERT_RESULT_EXPIRED ? DI_CERT_EXPIRED
                                                                     : DI_CERT_NOT_YET_VALID;
                    accept = true;
                } else {
                    X509_STORE_CTX_set_error(ctx, X509_V_OK);
                }
            } else {
                /* Accepted by the user before. */
                accept = true;
                X509_STORE_CTX_set_error(ctx, X509_V_OK);
            }
        }
        if (err == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
            err == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)
            issuerCheck = false;
    }

    if (depth == 0 && (!(v->flags & DI_TLS_NO_HOST_CHECK) || (v->flags & DI_TLS_HOST_BY_ADDRESS))) {
        if (!diCertCheckHost(v, cert)) rec->bits |= DI_CERT_BAD_HOST;
    }

    if (issuerCheck &&
        X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(cert)) != 0) {
        X509* issuer = diTlsFindIssuer(ctx, cert);
        if (!issuer) {
            if (err == X509_V_ERR_CERT_UNTRUSTED) accept = true;
        } else {
            int32_t fault = diTlsIssuerFault(issuer);
            X509_free(issuer);
            if (fault) {
                v->result = fault;
                accept = false;
            }
        }
    }

    if (depth == 0) v->fingerprint = diCertDigestText(cert, EVP_md5());
    v->combined |= rec->bits;
    if (accept) {
        X509_STORE* store = X509_STORE_CTX_get0_store(ctx);
        if (store && !ok) X509_STORE_add_cert(store, cert);
        ERR_clear_error();
    }
    return accept ? 1 : 0;
}

/* ---- decisions ---- */

namespace {

struct Decider {
    DiTlsVerify* v;
    const char* host;
    int list;
    const DiTlsAsker* asker;

    X509* top() { return v->problems.front().cert; }
    X509* leaf() { return v->problems.back().cert; }
    /* The most recent record with problems, or none. */
    X509* firstWithProblems() {
        for (size_t i = v->problems.size(); i-- > 0;)
            if (v->problems[i].bits) return v->problems[i].cert;
        return nullptr;
    }
    /* Dialogs 204 and 206 only while host overrides are allowed, 209 and
     * 211 only while certificate overrides are; otherwise refused. */
    int ask(int dialog, X509* cert) {
        bool allowed = dialog == DI_TLS_DLG_CHANGED || dialog == DI_TLS_DLG_FIRST
                           ? diCertCacheAllowHostOverride() != 0
                           : diCertCacheAllowCertOverride() != 0;
        if (!allowed || !asker || !asker->ask) return 0;
        return asker->ask(asker->ctx, dialog, cert, v->combined);
    }
    int warn(X509* cert) { return ask(list ? DI_TLS_DLG_LIST : DI_TLS_DLG_WARNING, cert); }
    void acceptForSession(X509* cert, bool storeFile) {
        diCertCacheRemember(cert, DI_CERT_KEEP | (storeFile ? uint32_t(DI_CERT_STORE_FILE) : 0u), 1);
    }
    /* 1 accepts for this process, 2 and 3 also in the store file. */
    int apply(int choice, X509* cert) {
        if (choice <= 0) return -1;
        acceptForSession(cert, choice >= 2);
        diCertCacheMarkConfirmed(cert, host);
        return 0;
    }
    /* Certificate problems other than "untrusted only". */
    int otherProblems(bool firstConnection) {
        X509* cert = firstWithProblems();
        if (!cert) cert = leaf();
        if (diCertCacheIsConfirmed(cert, host)) return 0;
        int choice = warn(cert);
        if (choice == 0) return -1;
        if (firstConnection && !ask(DI_TLS_DLG_FIRST, leaf())) return -1;
        if (apply(choice, cert) < 0) return -1;
        if (firstConnection) diCertCacheRememberHost(top(), host);
        return 0;
    }
};

} // namespace

int diTlsDecide(DiTlsVerify* v, const char* host, int listVariant, const DiTlsAsker* asker) {
    if (!v || v->problems.empty()) return -1;
    Decider d{v, host ? host : "", listVariant, asker};
    /* The host is looked up and remembered with the top of the chain, so
     * the next connection finds the same fingerprint. */
    int known = diCertCacheLookupHost(d.top(), d.host);
    uint32_t bits = v->combined;
    bool untrustedOnly = bits == DI_CERT_UNTRUSTED;

    if (known == 2) {
        if (!d.ask(DI_TLS_DLG_CHANGED, d.leaf())) return -1;
        if (untrustedOnly) {
            d.acceptForSession(d.top(), listVariant != 0);
        } else {
            X509* cert = d.firstWithProblems();
            d.acceptForSession(cert ? cert : d.leaf(), false);
        }
        diCertCacheRememberHost(d.top(), d.host);
        return 0;
    }
    if (known == 0) {
        if (bits == 0) {
            if (!d.ask(DI_TLS_DLG_FIRST, d.leaf())) return -1;
            diCertCacheRememberHost(d.top(), d.host);
            return 0;
        }
        if (untrustedOnly && listVariant) {
            int choice = d.ask(DI_TLS_DLG_LIST, d.leaf());
            if (choice == 0) return -1;
            if (!d.ask(DI_TLS_DLG_FIRST, d.leaf())) return -1;
            if (d.apply(choice, d.leaf()) < 0) return -1;
            diCertCacheRememberHost(d.top(), d.host);
            return 0;
        }
        if (untrustedOnly) {
            if (!d.ask(DI_TLS_DLG_FIRST, d.leaf())) return -1;
            d.acceptForSession(d.top(), false);
            diCertCacheRememberHost(d.top(), d.host);
            return 0;
        }
        return d.otherProblems(true);
    }
    /* The host is known with this fingerprint. */
    if (bits == 0) return 0;
    if (untrustedOnly) {
        if (!listVariant) {
            d.acceptForSession(d.top(), false);
            return 0;
        }
        return d.apply(d.ask(DI_TLS_DLG_LIST, d.leaf()), d.leaf());
    }
    return d.otherProblems(false);
}

int diTlsAddBuiltinRoots(X509_STORE* store) {
    int added = 0;
    for (size_t i = 0; g_diBuiltinRoots[i]; i++) {
        BIO* bio = BIO_new_mem_buf(g_diBuiltinRoots[i], -1);
        X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(bio);
        if (!cert) continue;
        if (X509_STORE_add_cert(store, cert) == 1) added++;
        X509_free(cert);
    }
    /* A root already in the store is no failure. */
    ERR_clear_error();
    return added;
}
