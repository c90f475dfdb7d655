/* Application start-up and shut-down. */
#include "core/ddapp.h"

#include <openssl/crypto.h>
#include <stdlib.h>

static DdApp s_app;
DdApp* g_ddApp = &s_app;

UINT g_ddMsgWebtopLaunch;
UINT g_ddMsgWebtopLoggedIn;

/* OpenSSL allocates from the same C runtime heap as the rest of the client. */
static void* ddAppSslMalloc(size_t n, const char*, int) {
    return malloc(n);
}
static void* ddAppSslRealloc(void* p, size_t n, const char*, int) {
    return realloc(p, n);
}
static void ddAppSslFree(void* p, const char*, int) {
    free(p);
}

int ddAppMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    g_ddMsgWebtopLaunch = RegisterWindowMessageW(L"QVLWebtopLaunch");
    g_ddMsgWebtopLoggedIn = RegisterWindowMessageW(L"QVLWebtopLoggedIn");
    CRYPTO_set_mem_functions(ddAppSslMalloc, ddAppSslRealloc, ddAppSslFree);
    return 0;
}
