/* Whose program is at the other end of a connection to the local listener.
 * The loopback address is shared by every user signed in to the computer,
 * so the listener serves only connections whose other end is a process of
 * the user running the client, in the same Windows session. These are the
 * portable halves of that rule: finding the owner in the system's TCP
 * table, the decision, and the event log's line; ddlistener.cpp asks the
 * system. */
#ifndef HV_DILISTENER_H
#define HV_DILISTENER_H

#include "di.h"

#include <stddef.h>
#include <string>

/* One row of the system's TCP connection table as the system gives it:
 * addresses in network byte order, each port in network byte order in the
 * low 16 bits of its word (the upper bits are undefined), and the process
 * owning the row's local end, 0 when the system names none. */
struct DiTcpRow {
    uint32_t localAddr, localPort, remoteAddr, remotePort, pid;
};

/* One end of a connection as a sockaddr_in holds it (network byte order). */
struct DiTcpEnd {
    uint32_t addr;
    uint16_t port;
};

/* The process owning the other end of a connection we accepted: the row
 * whose local end is the peer's end and whose remote end is ours. 0 when
 * no row names an owner, or when rows name two different owners. */
uint32_t diListenerPeerPid(const DiTcpRow* rows, size_t count, DiTcpEnd ours, DiTcpEnd peer);

struct DiPeerOwner {
    uint32_t pid;    /* 0: no owner could be found */
    int sameUser;    /* 1 the client's user, 0 another, -1 could not be told */
    int sameSession; /* 1 the client's Windows session, 0 another, -1 not told */
};

enum DiPeerVerdict { DI_PEER_SERVE, DI_PEER_WAIT, DI_PEER_REFUSE };

/* Serve only the client's own user in its own session. An unknown owner
 * may still be waited for until the peer has sent or closed (`final`):
 * some systems name a socket's owner only once that process has used it.
 * Waiting reads nothing. */
DiPeerVerdict diListenerJudgePeer(const DiPeerOwner& owner, bool final);

/* The event log's line for a refused connection, naming the process when
 * it is known. */
std::u16string diListenerRefusalText(const DiPeerOwner& owner);

#endif
