/* The HTTP client that fetches the server information (a page of key=value
 * lines) over HTTP/1.0, directly, through the HTTP proxy or under TLS, with
 * the other page paths after a 404 and the proxy's credentials after a 407;
 * and the URL helpers. */
#ifndef HV_DIHTTP_H
#define HV_DIHTTP_H

#include "di.h"

struct DdSocket;
struct DiTimer;
struct DiHTTPClient;

struct DiHTTPResults {
    int32_t asadPort, nonSecurePort;
    int32_t versionMajor, versionMinor, versionSub, versionBuild;
    int32_t fullScreen;
    DiChar* serverDns;      /* owned */
    DiChar* connectionHost; /* owned */
    int32_t firewallTraversal, proxyRequested;
    int32_t webtopKeepAlive, aipKeepAlive;
    int32_t utf8Strings, notifyPendingJobs;
    DiChar* baseRoute; /* owned */
    int32_t printerSearchMode;
};

/* Called exactly once per fetch; client->status holds the HTTP status, or
 * -1, -5, -7, -8 for a fetch that did not get a usable reply. */
typedef void (*DiHTTPCallback)(DiHTTPClient* client, void* arg, DiHTTPResults* results);

enum : uint32_t {
    DI_HTTP_TIMEOUT_MS = 60000,
    DI_HTTP_MAX_LINE = 4096,         /* longer lines are skipped */
    DI_HTTP_MAX_REPLY = 1024 * 1024, /* then the reply ends as on a close */
};

struct DiHTTPClient {
    DiObject obj; /* owner of the socket; its handler is diHTTPEvent */
    DdSocket* socket;
    uint32_t lineCount;
    DiHTTPCallback callback;
    DiHTTPResults results;
    DiChar* host;
    DiChar* prefix;
    void* arg;
    uint32_t port;
    int attempt; /* page pair 0, 1 or 2 */
    int status;
    int scheme; /* 0 http, 1 https */
    DiTimer* timer;
    DiChar* requestPath;
    /* This fetch's state. */
    int active;     /* between start and the callback */
    int viaProxy;   /* the first hop is the HTTP proxy (plain GET to it) */
    int challenge;  /* a Basic "Proxy-Authenticate:" line was seen */
    int otherChallenge;
    uint32_t replyBytes;
    char* line; /* DI_HTTP_MAX_LINE + 1 bytes */
    uint32_t lineLength;
    int lineTooLong;
    char* pending; /* request bytes not yet taken by the socket */
    uint32_t pendingLength;
    /* Dialogs of the fetch run modal loops in which timers and the owner
     * still run. While such a call holds the client, freeing it is only
     * recorded, and the holder frees it when the call returns. */
    uint32_t holds;
    int freed;
    uint32_t fetchCount; /* fetches started: tells a restarted one apart */
};

DiHTTPClient* diHTTPClientAlloc(void);
void diHTTPClientInit(DiHTTPClient* client);
void diHTTPClientCleanup(DiHTTPClient* client);
void diHTTPClientFree(DiHTTPClient* client);
/* 0 started; otherwise a negative code (the callback has been called for a
 * failed connection, not for one that could not start). */
int diHTTPFetchServerInfo(DiHTTPClient* client, const DiChar* host, uint32_t port, int scheme,
                          const DiChar* prefix, DiHTTPCallback callback, void* arg);
int diHTTPEvent(DiObject* obj, DiEvent* ev);

/* Takes one reply line (no line break) into the client: the status line
 * first, then the key table. Exposed for the fuzz target. */
void diHTTPTakeLine(DiHTTPClient* client, const char* line, size_t len);
/* Feeds reply bytes; end: the connection is over. Returns 1 when the reply
 * is complete (end, or the size cap reached). */
int diHTTPTakeBytes(DiHTTPClient* client, const char* bytes, size_t len, int end);
/* The request text of the current attempt (malloc'ed), none when a host
 * cannot be sent. */
char* diHTTPBuildRequest(DiHTTPClient* client);

/* "http://host[:port][/...]" or "https://...": 0 with scheme index, host
 * (new text) and port (80 / 443 when not given); -1 when the scheme, "://",
 * the host or a valid port (digits, 1-65535) is missing. */
int diHTTPParseURL(const DiChar* url, int* scheme, DiChar** host, int* port);
/* True for an address that diHTTPParseURL reads (so http or https, in any
 * case, with a host and from its first character) holding no control
 * character: the only addresses the client hands to the browser opener or writes
 * into a page. */
bool diHTTPIsWebAddress(const DiChar* url);
/* Three new texts from "scheme://host/path"; 0 on failure, 1 on success. */
int diHTTPSplitURL(const DiChar* url, DiChar** scheme, DiChar** host, DiChar** path);

/* A new text of the first n characters of s; none when out of memory. */
DiChar* diHTTPCopyRange(const DiChar* s, size_t n);

/* Platform services the client calls. */
int diNetConnect(DdSocket* s, const DiChar* host, uint16_t port, uint32_t flags);
int ddNetStartTls(DdSocket* s, uint32_t flags, const DiChar* host, int variant);

#endif
