/* The built-in roots of the TLS layer: PEM texts of public certification
 * authorities, loaded into every TLS context's store before any other
 * trust. */
#ifndef HV_DIROOTS_H
#define HV_DIROOTS_H

#include <openssl/x509.h>

/* The PEM texts, one certificate each, ending with a null entry. */
extern const char* const g_diBuiltinRoots[];

/* Adds every built-in root to the store: the number added. */
int diTlsAddBuiltinRoots(X509_STORE* store);

#endif
