/* SOCKS 5 and the tunnel request (see disocks.h). */
#include "net/disocks.h"

#include "core/diapp.h"
#include "net/dinet.h"
#include "net/diroute.h"

#include <string.h>

namespace {

/* One length byte and the low bytes of the text: 0 or -2 when too long. */
int putField(const DiChar* text, uint8_t* out, size_t* o) {
    size_t n = diAppStrLen(text);
    if (n > DI_ROUTE_MAX_FIELD) return -2;
    out[(*o)++] = uint8_t(n);
    for (size_t i = 0; i < n; ++i) out[(*o)++] = uint8_t(text[i]);
    return 0;
}

int fail(DiSocksContext* ctx, int code) {
    ctx->result = code;
    ctx->state = -1;
    return code;
}

} // namespace

void diSOCKSInit(DiSocksContext* ctx, DiRoute* route, DdSocket* socket) {
    memset(ctx, 0, sizeof *ctx);
    ctx->route = route;
    ctx->socket = socket;
    ctx->selected = 0xFF;
    ctx->state = 1;
}

void diSOCKSFree(DiSocksContext* ctx) {
    ctx->route = nullptr;
    ctx->socket = nullptr;
}

int diSOCKSBuildAuth(const DiChar* user, const DiChar* password, uint8_t* out) {
    size_t o = 0;
    out[o++] = 1;
    if (putField(user, out, &o) || putField(password, out, &o)) {
        memset(out, 0, o);
        return -2;
    }
    return int(o);
}

int diSOCKSBuildConnect(const DiChar* host, uint32_t port, uint8_t* out) {
    if (!diRouteHostIsSafe(host)) return -2;
    size_t o = 0;
    out[o++] = 5;
    out[o++] = 1;
    out[o++] = 0;
    out[o++] = 3;
    putField(host, out, &o);
    out[o++] = uint8_t(port >> 8);
    out[o++] = uint8_t(port);
    return int(o);
}

int diSOCKSAddressLength(uint8_t type, uint8_t nameLength) {
    switch (type) {
    case 1:
        return 4 + 2;
    case 3:
        return nameLength + 2;
    case 4:
        return 16 + 2;
    default:
        return 2;
    }
}

int diSOCKSReplyCode(uint8_t code) {
    if (code == 0) return 0;
    return code == 2 ? DI_HOP_REFUSED : DI_HOP_FAILED;
}

void diSOCKSNegotiate(DiSocksContext* ctx, DiRoute* next) {
    DdSocket* s = ctx->socket;
    DiRoute* route = ctx->route;
    uint8_t buf[515];
    while (ctx->state > 0) {
        switch (ctx->state) {
        case 1: {
            static const uint8_t greeting[4] = {5, 2, 0, 2};
            if (diRouteSendAll(s, greeting, 4) || diRouteRecvExact(s, buf, 2)) {
                fail(ctx, DI_HOP_NETWORK);
                break;
            }
            ctx->selected = buf[1];
            ctx->state = 2;
            break;
        }
        case 2:
            if (ctx->selected == 0) {
                /* The proxy needs nothing: cached credentials are not in use
                 * and must not be saved back as if they had worked. */
                route->credentialKind = 0;
                ctx->state = 3;
            } else if (ctx->selected == 2) {
                route->credentialKind = 1;
                if (!route->credentials) {
                    /* Placeholders, and the chain asks for real ones. */
                    diRouteSetCredentials(route, nullptr, nullptr);
                    fail(ctx, DI_HOP_CREDENTIALS);
                    break;
                }
                int n = diSOCKSBuildAuth(route->credentials->user, route->credentials->password, buf);
                if (n < 0) {
                    fail(ctx, DI_HOP_NETWORK);
                    break;
                }
                int w = diRouteSendAll(s, buf, size_t(n));
                memset(buf, 0, sizeof buf);
                if (w || diRouteRecvExact(s, buf, 2)) {
                    fail(ctx, DI_HOP_NETWORK);
                    break;
                }
                if (buf[1] != 0) {
                    fail(ctx, DI_HOP_AUTH_FAILED);
                    break;
                }
                ctx->state = 3;
            } else if (ctx->selected == 0xFF) {
                fail(ctx, DI_HOP_METHOD);
            } else {
                fail(ctx, DI_HOP_UNSUPPORTED);
            }
            break;
        case 3: {
            int n = diSOCKSBuildConnect(next->host, next->port, buf);
            if (n < 0 || diRouteSendAll(s, buf, size_t(n)) || diRouteRecvExact(s, buf, 4)) {
                fail(ctx, DI_HOP_NETWORK);
                break;
            }
            uint8_t code = buf[1], type = buf[3], nameLength = 0;
            if (type == 3) {
                if (diRouteRecvExact(s, &nameLength, 1)) {
                    fail(ctx, DI_HOP_NETWORK);
                    break;
                }
            }
            if (diRouteRecvExact(s, buf, size_t(diSOCKSAddressLength(type, nameLength)))) {
                fail(ctx, DI_HOP_NETWORK);
                break;
            }
            int r = diSOCKSReplyCode(code);
            if (r) {
                fail(ctx, r);
                break;
            }
            ctx->result = 0;
            ctx->state = 0;
            break;
        }
        default:
            fail(ctx, DI_HOP_NETWORK);
            break;
        }
    }
}

int diSOCKSSendTunnelRequest(DiSocksContext* ctx, DiRoute* next) {
    if (!diRouteHostIsSafe(next->host)) return DI_HOP_NETWORK;
    size_t n = diAppStrLen(next->host);
    if (n + 12 >= 512) return DI_HOP_NETWORK;
    char block[512];
    memset(block, 0, sizeof block);
    size_t o = 0;
    memcpy(block, "QVLP:", 5);
    o = 5;
    for (size_t i = 0; i < n; ++i) block[o++] = char(next->host[i]);
    char tail[16];
    int t = 0;
    unsigned port = next->port & 0xFFFF;
    char digits[8];
    int d = 0;
    do {
        digits[d++] = char('0' + port % 10);
        port /= 10;
    } while (port);
    tail[t++] = ':';
    while (d) tail[t++] = digits[--d];
    tail[t++] = ':';
    memcpy(block + o, tail, size_t(t));
    return diRouteSendAll(ctx->socket, block, sizeof block) ? DI_HOP_NETWORK : 0;
}
