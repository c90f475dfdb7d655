/* Socket objects and the connection list: the portable record and the
 * operations that need no platform socket. The Windows half (ddnet.cpp)
 * creates, opens, connects, reads and writes the OS sockets.
 *
 * Every socket object is linked into one list from creation to destruction so
 * that a socket window message (which carries only the OS handle) can be
 * mapped back to the object and its owner, and so that the TLS poll can visit
 * every socket. */
#ifndef HV_DINET_H
#define HV_DINET_H

#include "di.h"

/* No OS socket held. */
#define DD_NET_NO_HANDLE (~(uintptr_t)0)

/* Error codes kept in DdSocket::error. */
enum DdNetError : int32_t {
    DD_NET_ERR_FAILED = 1,
    DD_NET_ERR_WOULD_BLOCK = 2,
    DD_NET_ERR_HOST = 3,
    DD_NET_ERR_CONNECT = 4,
    DD_NET_ERR_TIMEOUT = 9,
    DD_NET_ERR_PROXY_NO_REPLY = 11,  /* an HTTP proxy answered nothing */
    DD_NET_ERR_PROXY_CANCELLED = 12, /* the user cancelled the proxy credentials */
    DD_NET_ERR_PROXY_SCHEME = 15,    /* the proxy's authentication is not Basic */
};

/* Interest bits of ddNetSelectEvents. */
enum : uint32_t {
    DD_NET_READ = 1,
    DD_NET_WRITE = 2,
    DD_NET_CLOSE = 4,
    DD_NET_ACCEPT = 0x10000,
};

/* Platform event bits as registered with the socket window message. */
enum : uint32_t {
    DD_FD_READ = 1,
    DD_FD_WRITE = 2,
    DD_FD_ACCEPT = 8,
    DD_FD_CLOSE = 0x20,
};

/* diNetConnect flags. */
enum : uint32_t {
    DI_NET_BASE_ROUTES = 1,
    DI_NET_TARGET_TLS = 2,
    DI_NET_WEB_SERVER = 4,
    DI_NET_HOP_TLS_SERVES = 8,
};

struct DdSocket {
    DdSocket* next;
    DdSocket* prev;
    DiObject* owner;    /* receives the socket's events */
    int32_t error;      /* DdNetError of the last failed operation, 0 none */
    uint32_t flags;     /* bit 0 stream, bit 1 no-delay */
    uintptr_t handle;   /* OS socket, DD_NET_NO_HANDLE when none */
    uint32_t eventMask; /* DD_FD_* bits registered */
    uint32_t ready;     /* bit 0: the last TLS read returned data */
    void* tls;          /* TLS session wrapped around the socket, or none */
    void* handshake;    /* non-null while the TLS handshake runs */
    uint32_t destroyed; /* destroy was called while the object was held */
    uint32_t holdCount; /* while non-zero, destroy does not free */
};

/* List maintenance: insertion at the head (clears the error), removal. */
void diNetLink(DdSocket* s);
void diNetUnlink(DdSocket* s);
DdSocket* diNetListHead();
void diNetSetOwner(DdSocket* s, DiObject* owner);

/* The first linked object holding the OS handle, or none. */
DdSocket* diNetFindByHandle(uintptr_t handle);

/* Holding keeps an object's memory alive across an event delivery even when
 * the owner destroys the socket; the last release of a destroyed object
 * frees it. */
void diNetHold(DdSocket* s);
void diNetRelease(DdSocket* s);

/* Maps interest bits to DD_FD_* bits and event bits to DiEvent types (-1 for
 * an event bit that is not delivered). */
uint32_t diNetInterestToFd(uint32_t interest);
int diNetFdToEvent(uint32_t fdEvent);

/* One pass over the list delivering the readable event to the owner of every
 * socket that registered for reading and whose TLS layer still holds data.
 * Safe against owners that destroy any socket while handling the event. */
void diNetPollPass(void (*deliver)(DdSocket* s));

/* The socket layer's operations that portable code calls; the Windows half
 * implements them. Counts are bytes; -1 is failure with the error field set
 * (DD_NET_ERR_WOULD_BLOCK when the operation would block). */
int ddNetRecv(DdSocket* s, void* buf, int len);
int ddNetSend(DdSocket* s, const void* buf, int len);
void ddNetSelectEvents(DdSocket* s, uint32_t which, uint32_t values);
DdSocket* ddNetSocketCreate();
void ddNetSocketDestroy(DdSocket* s);
int ddNetSocketClose(DdSocket* s);
/* Waits at most timeoutMs for the socket to become writable: 1 writable,
 * 0 time-out, -1 error or the socket closed or destroyed meanwhile. The
 * application's timers keep running meanwhile; the caller holds the socket
 * (diNetHold) so that it stays readable when a timer destroys it. */
int ddNetWaitWritable(DdSocket* s, uint32_t timeoutMs);

#endif
