/* The certificate cache (portable): the certificates accepted in this
 * process, the certificate store file (PEM, appended), the session
 * certificate file and the visited-hosts document that keeps, per host,
 * the MD5 fingerprints of the certificates seen there.
 *
 * Paths are UTF-8; the platform's file access is diCertFile*. The visited-
 * hosts document is always replaced whole through a new file renamed over
 * the old one, so a crash while writing never loses the hosts already
 * remembered. Several copies of the client share the files: each save reads
 * the file again under the file lock and writes this process's changes onto
 * what another copy saved meanwhile. */
#ifndef HV_DICERTCACHE_H
#define HV_DICERTCACHE_H

#include "di.h"

#include <openssl/x509.h>

#include <string>

class CQVLXMLDoc;

/* Files larger than this are not read. */
enum : size_t { DI_CERT_FILE_MAX = 4u << 20 };

/* Platform file access (UTF-8 paths). Read: false when the file cannot be
 * read or is larger than `limit`. Replace: writes a new file beside the old
 * one, flushes it to the disk and renames it over, so that a power cut
 * leaves the old file or the new one; false leaves the old one as it was.
 * Append: false when the bytes did not all reach the file (a full disk). */
bool diCertFileRead(const std::string& path, std::string* bytes, size_t limit);
bool diCertFileReplace(const std::string& path, const std::string& bytes);
bool diCertFileAppend(const std::string& path, const std::string& bytes);
/* Renames the file to a free name beside it (path + ".bad", ".bad1", ...),
 * never over a file set aside earlier: 1 done (`kept` gets the name), 0
 * there is no file, -1 it could not be renamed. */
int diCertFileSetAside(const std::string& path, std::string* kept = nullptr);
/* The lock that the copies of the client take on a file across a read and
 * the write that follows it. Null when it could not be had in time: the
 * caller saves without it. Unlock takes null too. */
void* diCertFileLock(const std::string& path);
void diCertFileUnlock(void* lock);

/* Once per process: loads the store file into the accepted list, keeps the
 * hosts path and loads the document, and loads the session certificate file
 * when one is set. Either path may be empty. */
void diCertCacheInit(const std::string& storePath, const std::string& hostsPath);
bool diCertCacheIsInitialised();
/* Forgets everything (the next init loads again). */
void diCertCacheReset();

/* 2 not in the list, 0 in the list and accepted, 1 in the list and not
 * accepted. */
int diCertCacheFind(X509* cert);
/* The user's confirmation of a listed certificate for one host (compared
 * without regard to ASCII case): 1 when it was confirmed for that host. */
void diCertCacheMarkConfirmed(X509* cert, const char* host);
int diCertCacheIsConfirmed(X509* cert, const char* host);

/* how: 1 accept for this process, 4 also append to the store file (when
 * accepted is non-zero); 2 list as not accepted (when accepted is zero). A
 * certificate already listed gets the new flags, and is appended to the
 * store file when asked and the file does not hold it yet. */
enum : uint32_t { DI_CERT_KEEP = 1, DI_CERT_KEEP_REFUSED = 2, DI_CERT_STORE_FILE = 4 };
/* False when the store file could not be appended to: the certificate is
 * then accepted for this process only, and the failure is in the event log
 * naming the file. */
bool diCertCacheRemember(X509* cert, uint32_t how, int accepted);

/* What the visited-hosts document holds at most: fingerprints in all, the
 * length of a host name, and new fingerprints one server message may add.
 * Beyond them a host is refused (and logged), never the file's hosts. */
enum : size_t {
    DI_CERT_HOSTS_MAX = 2048,
    DI_CERT_HOST_NAME_MAX = 255,
    DI_CERT_HOSTS_PER_MESSAGE = 64
};

/* Records the certificate's MD5 fingerprint for the host and writes the
 * document. False when the host was refused or the file could not be
 * written (both logged); the host is then remembered for this process, and
 * the next save writes it again. */
bool diCertCacheRememberHost(X509* cert, const char* host);
/* The server's list of hosts and their certificates (UTF-8 XML without a
 * prolog: <x><server peername="host"><rootcert>PEM</rootcert>...</server>
 * ...</x>): each certificate is recorded for its host, and the document is
 * written once. Returns how many fingerprints were added, or -1 when they
 * could not be written (logged). */
int diCertCacheRememberServers(const std::string& array);
/* 0 host unknown, 1 known with this fingerprint, 2 known with others only.
 * Host names compare without regard to ASCII case. */
int diCertCacheLookupHost(X509* cert, const char* host);

/* 1 unless the document's element holds the text "0". */
int diCertCacheAllowCertOverride();
int diCertCacheAllowHostOverride();

void diCertCacheSetSessionCertsFile(const std::string& path);
const std::string& diCertCacheGetSessionCertsFile();
/* Appends every accepted certificate in list order; returns the path (empty
 * when none is set). */
const std::string& diCertCacheSaveSessionCerts();

/* PEM certificates one after another: each is added to the accepted list.
 * Returns how many were read. Text between blocks is skipped. */
int diCertCacheLoadPem(const char* bytes, size_t length);

/* The visited-hosts document: parsed from the file's bytes, a leading
 * byte-order mark skipped (none when they do not hold a document with an
 * "array" root; the cache then keeps the file as ".bad" and starts an empty
 * one), and serialised as written. */
CQVLXMLDoc* diCertHostsParse(const char* bytes, size_t length);
std::string diCertHostsSerialize(CQVLXMLDoc* doc);
/* Same operations as the cache's, on a given document. Add: 1 added, 0
 * held already, -1 refused (no document, or past the bounds above). */
int diCertHostsLookup(CQVLXMLDoc* doc, const char* host, const std::string& fingerprint);
int diCertHostsAdd(CQVLXMLDoc* doc, const char* host, const std::string& fingerprint);

#endif
