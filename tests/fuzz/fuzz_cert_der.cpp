// Certificate information and the host-name check on arbitrary DER.
#include "net/dicert.h"

#include <openssl/err.h>
#include <openssl/x509.h>

static int resolveSelf(const char* name, uint32_t* address) {
    *address = 0x0100007f;
    return name[0] ? 0 : -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    X509* cert = d2i_X509(nullptr, &p, long(size));
    if (cert) {
        DiCertInfo info;
        diCertInfoFill(&info, cert);
        diCertInfoFree(&info);
        DiTlsVerify v;
        for (const char* host : {"good.test", "GOOD.TEST", ""}) {
            v.Reset(DI_TLS_USER_MAY_ACCEPT, host);
            diCertCheckHost(&v, cert);
            diCertCheckValidity(&v, cert);
        }
        v.Reset(DI_TLS_HOST_BY_ADDRESS, "127.0.0.1");
        v.resolve = resolveSelf;
        v.expectedAddress = 0x0100007f;
        diCertCheckHost(&v, cert);
        X509_free(cert);
    }
    ERR_clear_error();
    return 0;
}
