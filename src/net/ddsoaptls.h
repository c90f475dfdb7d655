/* Transport security of the web-service runtime: its TLS context set-up,
 * key password and verify callbacks are the client's own, so web-service
 * connections trust what every other connection trusts and ask the user
 * through the same warning. The runtime's connect step is wrapped: the
 * runtime makes the connection and the handshake, and the decision after
 * the handshake (including the host-name check) is ours. */
#ifndef HV_DDSOAPTLS_H
#define HV_DDSOAPTLS_H

#include "dd.h"

#include <openssl/ssl.h>

struct soap;

/* Installs the hooks on a runtime context (before its TLS client context is
 * set up). */
void ddSoapTlsInstall(struct soap* soap);

/* The runtime's hooks: context set-up (0 or the runtime's TLS error), the
 * key password and the verify callback (always accepts, collecting the
 * problem bits of the handshake). */
int SoapTlsContextInit(struct soap* soap);
int SoapTlsPasswordCallback(char* buf, int size, int flag, void* password);
int SoapTlsVerifyCallback(int ok, X509_STORE_CTX* ctx);

/* Shows the list warning (211) for the server's certificate: 0 refuse, 1
 * accept for this process, 2 or 3 accept and remember. */
int SoapTlsAskCertificate(uint32_t problems, const DiChar* host, X509* cert);

#endif
