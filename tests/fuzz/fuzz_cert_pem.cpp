// The certificate store and session-file loader on arbitrary bytes: PEM
// blocks with anything between, broken blocks and truncated files; and the
// same bytes as the server's list of hosts and their certificates.
#include "net/dicertcache.h"

#include <openssl/err.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    diCertCacheLoadPem(reinterpret_cast<const char*>(data), size);
    diCertCacheRememberServers(std::string(reinterpret_cast<const char*>(data), size));
    if (ERR_peek_error() != 0) __builtin_trap(); // the loader leaves no error queued
    diCertCacheReset();
    return 0;
}
