/* Sockets on Windows Sockets: creation, listening, accepting, direct
 * connection, reception and sending (through the TLS session when one is
 * attached), closing, name lookup, and the delivery of socket window
 * messages and TLS-buffered data to the sockets' owners. */
#ifndef HV_DDNET_H
#define HV_DDNET_H

#include "dd.h"
#include "net/dinet.h"

/* The receive buffer size of stream sockets; 0 leaves the system's. */
extern int32_t g_ddNetTcpWindowSize;

int ddNetInit();
int ddNetSocketOpen(DdSocket* s, int stream, int noDelay);
/* Listens on 127.0.0.1: the bound port, or -1 (error 4). */
int ddNetListenLocal(DdSocket* s, int port);
/* The accepted connection (owner not set), or none. peer gets the IPv4
 * address in network byte order. */
DdSocket* ddNetAccept(DdSocket* listener, uint32_t* peer);
int ddNetIsLocalAddress(uint32_t address);
int ddNetConnectDirect(DdSocket* s, const DiChar* host, uint16_t port);
int ddNetSetBlocking(DdSocket* s, int blocking);
int ddNetIsOpen(DdSocket* s);
DiObject* ddNetFindOwnerBySocket(SOCKET handle);
/* Delivers the readable event to owners whose TLS layer holds data. */
void ddNetPoll();
/* Handles one "QVLWinSockMessage": socket in wParam, event in the low half
 * of lParam. */
void ddNetHandleSocketMessage(WPARAM wParam, LPARAM lParam);
int ddNetLookupHostName(const DiChar* host, DiChar** name);
int ddNetGetLocalHost(DiChar** name, DiChar** address);
/* The connection entry: 0, -9 when a hop's TLS stands in for the target's,
 * or a negative code (-1 direct connect failed, -7 route failed, -8
 * cancelled). */
int diNetConnect(DdSocket* s, const DiChar* host, uint16_t port, uint32_t flags);

#endif
