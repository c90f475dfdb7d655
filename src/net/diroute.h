/* Connection routes: the hops a connection passes (configured proxy, the
 * session's base routes, the target), their credentials, and the hop chain
 * that connects through them. Negotiation is blocking; every wait for a
 * hop's reply is bounded by diRouteWaitMs. */
#ifndef HV_DIROUTE_H
#define HV_DIROUTE_H

#include "di.h"

struct DdSocket;
struct DiObject;

/* Hop kinds. */
enum : uint32_t {
    DI_ROUTE_WEB_SERVER = 0, /* target of the server-information fetch */
    DI_ROUTE_SERVER = 1,     /* target of every other connection */
    DI_ROUTE_HTTP = 2,
    DI_ROUTE_SOCKS = 3,
    DI_ROUTE_TUNNEL = 4,
};

enum : size_t {
    DI_ROUTE_DESCRIPTION = 272, /* characters of a description, NUL excluded */
    DI_ROUTE_MAX_FIELD = 255,   /* bytes of a user, password or host in a request */
};

struct DiRouteCredentials {
    DiChar* user;      /* owned */
    DiChar* password;  /* owned */
    char* base64;      /* HTTP proxies: Base64 of "user:password" (8-bit) */
    uint32_t userEmpty; /* the user was not given; an empty text stands in */
    uint32_t passwordEmpty;
};

struct DiRoute {
    uint32_t kind;
    DiChar* host; /* owned; empty text when none */
    uint32_t port;
    uint32_t credentialKind; /* 0 none needed, 1 user and password */
    DiRouteCredentials* credentials; /* owned */
    DiChar* proxyReply;              /* owned: a refused CONNECT's status line */
    uint32_t cached; /* credentials from, and to be saved to, the password cache */
    uint32_t tls;
    DiChar label[256]; /* an HTTP proxy's Basic realm, quotes included */
};

struct DiRouteNode {
    DiRoute* route;
    DiRouteNode* next;
    DiRouteNode* prev;
};

struct DiRouteChain {
    DiRouteNode* first;
    DiRouteNode* last;
    DdSocket* socket;
    uint32_t flags;      /* diNetConnect flags */
    uint32_t droppedTls; /* diRouteChainDropTargetTls cleared the target's TLS */
};

/* Hop codes. */
enum : int {
    DI_HOP_UNREACHABLE = -1,
    DI_HOP_NETWORK = -2,
    DI_HOP_METHOD = -3,
    DI_HOP_REFUSED = -4,
    DI_HOP_FAILED = -5,
    DI_HOP_AUTH_FAILED = -6,
    DI_HOP_CREDENTIALS = -7,
    DI_HOP_UNSUPPORTED = -8,
    DI_HOP_KIND = -9,
    DI_HOP_DECLINED = -10,
    DI_HOP_MULTI_TLS = -11,
    DI_HOP_TLS = -12,
    DI_HOP_MISCONFIGURED = -13,
};

/* Longest wait for one reply of a hop (milliseconds). */
extern uint32_t diRouteWaitMs;

void diRouteInit(DiRoute* route, uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls);
void diRouteFree(DiRoute* route);
/* Replaces the credentials (credential kind 1 only); null texts become empty
 * placeholders, marked as such. */
void diRouteSetCredentials(DiRoute* route, const DiChar* user, const DiChar* password);
void diRouteDropCredentials(DiRoute* route);
/* The description, cut to size - 1 (and DI_ROUTE_DESCRIPTION) characters.
 * withLabel 0 gives the cache key: the realm never enters the key. */
int diRouteDescribe(const DiRoute* route, DiChar* out, size_t size);
int diRouteDescribeKey(const DiRoute* route, DiChar* out, size_t size);

void diRouteLoadCachedCredentials(DiRoute* route);
/* 1 when the password cache was written (nothing to save counts too); a
 * failed write is in the event log and the profile store tries it again at
 * its next save. */
int diRouteSaveCachedCredentials(DiRoute* route);
int diRouteForgetCachedCredentials(DiRoute* route);
/* Shows the proxy credentials dialog for the route (owner: the object of
 * the socket, or none). 1 with new credentials, 0 when cancelled. */
int diRouteAskCredentials(DiRoute* route, DiObject* owner);
/* Drops the route's credentials; with useCache tries the password cache,
 * else (or when it has none) asks the user. 1 with two new texts, 0 when
 * the user cancelled. */
int diRouteGetCredentials(DiRoute* route, DiChar** user, DiChar** password, int useCache);
/* An HTTP proxy's cached credentials (1 with two new texts); asks the user
 * when there are none and ask is set. */
int diRouteProxyCredentials(const DiChar* host, uint32_t port, DiChar** user, DiChar** password,
                            int ask);

/* Route strings: "CTSOCKS:host:port[:ssl]" or "CTQVLP:host:port[:ssl]",
 * a list joined by '@'. A port is 1-65535 in digits only. ParseSpec: 1 with
 * a new route appended, 0 invalid. ChainParse: 1 when every route string was
 * valid (parsing stops at the first that is not). */
DiRoute* diRouteParseOne(const DiChar* spec, size_t len);
int diRouteParseSpec(DiRouteChain* chain, const DiChar* spec, size_t len);
int diRouteChainParse(DiRouteChain* chain, const DiChar* text);

void diRouteChainInit(DiRouteChain* chain, DdSocket* socket, uint32_t flags);
/* Flag 2 saves the cached credentials of every hop, flag 1 frees the routes. */
void diRouteChainFree(DiRouteChain* chain, uint32_t flags);
int diRouteChainAdd(DiRouteChain* chain, DiRoute* route);
int diRouteChainCount(const DiRouteChain* chain);

/* What the chain reads of the application: the configured proxies, their
 * exceptions, firewall traversal and the base routes. */
int diRouteNeedsProxy(const DiRoute* target, uint32_t baseRoutes);
int diRouteChainBuild(DiRouteChain* chain, DiRoute* target);
/* With more than one TLS hop, clears the target's TLS (remembered). */
void diRouteChainDropTargetTls(DiRouteChain* chain);
/* 0, -7 failed (reported) or -8 cancelled. */
int diRouteChainRun(DiRouteChain* chain);
int diRouteNegotiateHop(DiRouteChain* chain, DiRoute* current, DiRoute* next);
/* Hands the hop's message to the outpost as the last connection error. */
void diRouteReportError(const DiRoute* route, int code, const DiRoute* next);

/* Blocking exchange with a hop over the chain's socket. Send: 0 or -2.
 * Recv: bytes (>0), 0 closed, -1 error, -2 no byte within diRouteWaitMs. */
int diRouteSendAll(DdSocket* s, const void* bytes, size_t n);
int diRouteRecvSome(DdSocket* s, void* buf, size_t n);
/* Reads exactly n bytes: 0, or -2 (closed, error or time-out). */
int diRouteRecvExact(DdSocket* s, void* buf, size_t n);

/* An HTTP proxy's reply to CONNECT (bytes up to and including the blank
 * line): 0 success, -7 Basic challenge (label set), -8 other challenge,
 * -5 refused (proxy reply kept). */
int diRouteParseConnectReply(DiRoute* hop, const char* reply, size_t len, int32_t* socketError);
/* The Basic realm of one "Proxy-Authenticate:" value ("Basic realm=\"x\""):
 * true with the quoted realm (quotes kept) in out. */
bool diRouteBasicRealm(const char* value, size_t len, DiChar* out, size_t size);
/* A host fit for a request line: 1-255 bytes of 8-bit text without control
 * characters or blanks. */
bool diRouteHostIsSafe(const DiChar* host);
/* The Base64 form of "user:password" from the low bytes of each unit. */
char* diRouteBase64Credentials(const DiChar* user, const DiChar* password);

/* The services of the platform and the outpost that the chain calls. */
int ddNetSocketOpen(DdSocket* s, int stream, int noDelay);
int ddNetConnectDirect(DdSocket* s, const DiChar* host, uint16_t port);
int ddNetSetBlocking(DdSocket* s, int blocking);
/* 1 readable, 0 time-out, -1 error. */
int ddNetWaitReadable(DdSocket* s, uint32_t timeoutMs);
/* Copies what the socket holds (up to len) without taking it: bytes, 0
 * closed, -2 nothing yet on a non-blocking socket, -1 error or time-out (or
 * a TLS socket, which cannot be looked into). */
int ddNetPeek(DdSocket* s, void* buf, int len);
/* Bounds every blocking receive of the socket (0: no bound). */
void ddNetSetRecvTimeout(DdSocket* s, uint32_t timeoutMs);
int ddNetStartTlsClient(DdSocket* s, uint32_t flags, const DiChar* host);
int ddResLoadMessage(int n, DiChar* out, int size);
int ddDlgServerAuthentication(DiObject* object, DiRoute* route, int allowSave);
void diSOSetLastError(const DiChar* text);
DiRouteChain* diSOGetBaseRoute(void);
int diSOIsFirewallTraversal(void);
/* True for yes. */
int diSOAskYesNo(DiObject* parent, const DiChar* caption, const DiChar* text);

#endif
