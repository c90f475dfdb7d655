/* SOCKS 5 (no authentication or user name and password, CONNECT by domain
 * name) and the tunnel's single request, on a socket already connected to
 * the hop and blocking. Results are hop codes (diroute.h), 0 on success. */
#ifndef HV_DISOCKS_H
#define HV_DISOCKS_H

#include "core/diio.h"
#include "di.h"

struct DdSocket;
struct DiRoute;

struct DiSocksContext {
    DiRoute* route;
    DdSocket* socket;
    uint8_t selected; /* the proxy's method, 0xFF before the greeting */
    int result;
    int state; /* 1 greeting, 2 authentication, 3 connect, 0 done, -1 failed */
};

void diSOCKSInit(DiSocksContext* ctx, DiRoute* route, DdSocket* socket);
void diSOCKSFree(DiSocksContext* ctx);
/* Runs the state machine to state 0 or -1; ctx->result holds the code. */
void diSOCKSNegotiate(DiSocksContext* ctx, DiRoute* next);
/* The 512-byte "QVLP:host:port:" block; 0 or -2. */
int diSOCKSSendTunnelRequest(DiSocksContext* ctx, DiRoute* next);

/* Request builders (bytes written, -2 when a value does not fit: more than
 * 255 bytes, or a host with control characters or blanks). out holds 515. */
int diSOCKSBuildAuth(const DiChar* user, const DiChar* password, uint8_t* out);
int diSOCKSBuildConnect(const DiChar* host, uint32_t port, uint8_t* out);
/* The bytes of the connect reply after its first 4: the bound address and
 * port by address type (1: 4, 3: 1 + length, 4: 16, other: none) plus 2;
 * for type 3 the length byte is read first. */
int diSOCKSAddressLength(uint8_t type, uint8_t nameLength);
/* The hop code of a connect reply code. */
int diSOCKSReplyCode(uint8_t code);

#endif
