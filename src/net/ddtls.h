/* The TLS session a socket may carry. */
#ifndef HV_DDTLS_H
#define HV_DDTLS_H

#include "net/dinet.h"

/* Read and write through the socket's TLS session: bytes, or -1 with the
 * socket's error set (2 when it would block). */
int ddTLSRead(DdSocket* s, void* buf, int len);
int ddTLSWrite(DdSocket* s, const void* buf, int len);
/* Shuts the session down and frees it. */
void ddTLSShutdown(DdSocket* s);

#endif
