/* The TLS layer on Windows sockets: TLS set-up on a connected socket with
 * the client's own trust (the Windows "ROOT" and "CA" stores, the session's
 * CA file, "CertsFile" and the certificates the user accepted), the
 * certificate warnings after the handshake, and reading and writing through
 * the session. */
#ifndef HV_DDTLS_H
#define HV_DDTLS_H

#include "net/dinet.h"

#include <string>

struct ssl_ctx_st;
struct x509_st;
struct DiCertInfo;

/* Secures a connected socket: 0, or -1 with the socket's error set (a
 * certificate result code, or 1). The socket keeps its TLS session either
 * way; the caller closes it on failure. flags: DI_TLS_* of net/dicert.h.
 * listVariant 1 shows the problem list with the remember choices (dialog
 * 211) rather than the plain warning (209). */
int ddNetStartTls(DdSocket* s, uint32_t flags, const DiChar* host, int listVariant);
/* The longest wait for the server during the handshake (each read or
 * write), in milliseconds. */
extern uint32_t g_ddTlsHandshakeTimeoutMs;
int ddNetStartTlsClient(DdSocket* s, uint32_t flags, const DiChar* host);

/* Readies the TLS library before anything else uses it: it reads no
 * settings file, so it loads no module (engine or provider) either; the
 * folders it names when built are never consulted. The first use of the
 * library decides (the web-service runtime seeds it when a call context is
 * made): ddAppMain calls this first, and ddNetInit for programs that start
 * there. Later calls do nothing. */
void ddTlsLibraryInit();
/* Adds the library's default roots to a context: cert.pem and certs\ of the
 * SSL folder under the common program files folder the system reports for
 * programs of this kind, which only administrators may write. 0 when the
 * context's store cannot take them (a missing folder or file is no error). */
int ddTlsLoadDefaultRoots(ssl_ctx_st* ctx);

/* Trust loading into a TLS context: returns 1 when a CA file was loaded as
 * PEM. ddNetLoadSystemStores adds the Windows "ROOT" and "CA" stores. */
int ddNetLoadCACertificates(ssl_ctx_st* ctx);
void ddNetLoadSystemStores(ssl_ctx_st* ctx);

/* The certificate information with its labels (string resources 11-16):
 * names and texts are parallel arrays ending with a none entry. */
struct DdCertInfo {
    DiChar labels[6][64];
    const DiChar* names[7];
    const DiChar* texts[7];
};
void ddNetCertInfoFill(DdCertInfo* out, const DiCertInfo* info);

/* The certificate store and visited-hosts paths under the local
 * application-data folder (UTF-8, empty when the folder is unknown or the
 * path would reach 260 characters); the folder is created. */
const std::string& ddConfigCertStorePath();
const std::string& ddConfigHostsVisitedPath();
/* Puts both files in another folder (tests). */
void ddConfigSetCertFolder(const wchar_t* folder);

/* Read and write through the socket's TLS session: bytes, 0 at the end of
 * the connection, or -1 with the socket's error set (2 when it would
 * block). */
int ddTLSRead(DdSocket* s, void* buf, int len);
int ddTLSWrite(DdSocket* s, const void* buf, int len);
/* Shuts the session down and frees it. */
void ddTLSShutdown(DdSocket* s);

#endif
