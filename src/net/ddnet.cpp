/* Sockets on Windows Sockets (see ddnet.h). Every socket is non-blocking and
 * registered with WSAAsyncSelect to the main window, except while a connect,
 * a bind or a TLS handshake runs in blocking mode: a registered socket cannot
 * be made blocking again, so blocking work comes before registration. */
#include "net/ddnet.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/dide.h"
#include "core/ditimer.h"
#include "net/ddtls.h"
#include "net/diroute.h"
#include "ui/diui.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

int32_t g_ddNetTcpWindowSize = 64240;

static uint32_t ddNetTicks() {
    return GetTickCount();
}

int ddNetInit() {
    ddTlsLibraryInit();
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return -1;
    g_ddNetTcpWindowSize = ddSettingGetInt(L"TCPWindowSize", 64240);
    /* One clock for time slices, timers and write waits. */
    diDEClock = ddNetTicks;
    return 0;
}

static SOCKET ddNetHandle(DdSocket* s) {
    return SOCKET(s->handle);
}

DdSocket* ddNetSocketCreate() {
    DdSocket* s = static_cast<DdSocket*>(calloc(1, sizeof(DdSocket)));
    if (!s) return nullptr;
    s->handle = DD_NET_NO_HANDLE;
    diNetLink(s);
    return s;
}

void ddNetSocketDestroy(DdSocket* s) {
    if (!s || s->destroyed) return;
    ddNetSocketClose(s);
    diNetUnlink(s);
    /* While an event dispatch holds the object, its last release frees it. */
    s->destroyed = 1;
    if (s->holdCount == 0) free(s);
}

int ddNetSocketOpen(DdSocket* s, int stream, int noDelay) {
    s->flags = (stream ? 1u : 0u) | (noDelay ? 2u : 0u);
    SOCKET h = stream ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)
                      : socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (h == INVALID_SOCKET) return -1;
    if (noDelay) {
        BOOL on = TRUE;
        setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
    if (stream && g_ddNetTcpWindowSize != 0) {
        int size = g_ddNetTcpWindowSize;
        setsockopt(h, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    }
    s->handle = uintptr_t(h);
    s->eventMask = 0;
    return 0;
}

int ddNetSetBlocking(DdSocket* s, int blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(ddNetHandle(s), FIONBIO, &nonBlocking);
}

int ddNetIsOpen(DdSocket* s) {
    return s && s->handle != DD_NET_NO_HANDLE;
}

int ddNetListenLocal(DdSocket* s, int port) {
    ddNetSetBlocking(s, 1);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port > 0 && port < 65536 ? u_short(port) : 0);
    if (bind(ddNetHandle(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(ddNetHandle(s), 0x7fffffff) != 0) {
        s->error = DD_NET_ERR_CONNECT;
        return -1;
    }
    ddNetSetBlocking(s, 0);
    int len = sizeof addr;
    if (getsockname(ddNetHandle(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

DdSocket* ddNetAccept(DdSocket* listener, uint32_t* peer) {
    DdSocket* n = ddNetSocketCreate();
    if (!n) return nullptr;
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    int len = sizeof addr;
    SOCKET h = accept(ddNetHandle(listener), reinterpret_cast<sockaddr*>(&addr), &len);
    if (h == INVALID_SOCKET) {
        ddNetSocketDestroy(n);
        return nullptr;
    }
    if (peer && addr.sin_family == AF_INET) *peer = addr.sin_addr.s_addr;
    n->handle = uintptr_t(h);
    n->flags = listener->flags;
    /* An accepted socket inherits the listener's event registration: record
     * it so that the next ddNetSelectEvents computes its change correctly. */
    n->eventMask = listener->eventMask;
    return n;
}

int ddNetIsLocalAddress(uint32_t address) {
    if (address == htonl(INADDR_LOOPBACK)) return 1;
    char name[256];
    if (gethostname(name, sizeof name) != 0) return 0;
    name[sizeof name - 1] = 0;
    hostent* he = gethostbyname(name);
    if (!he || he->h_length != 4) return 0;
    for (char** a = he->h_addr_list; a && *a; a++) {
        uint32_t v;
        memcpy(&v, *a, 4);
        if (v == address) return 1;
    }
    return 0;
}

/* Converts a wide host name to 8-bit text: a new string or none. */
static char* ddNetNarrow(const DiChar* host) {
    int n = WideCharToMultiByte(CP_ACP, 0, ddW(host), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return nullptr;
    char* s = static_cast<char*>(malloc(size_t(n)));
    if (s && WideCharToMultiByte(CP_ACP, 0, ddW(host), -1, s, n, nullptr, nullptr) != n) {
        free(s);
        s = nullptr;
    }
    return s;
}

static DiChar* ddNetWiden(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    DiChar* w = static_cast<DiChar*>(malloc(size_t(n) * sizeof(DiChar)));
    if (w && MultiByteToWideChar(CP_ACP, 0, text, -1, ddW(w), n) != n) {
        free(w);
        w = nullptr;
    }
    return w;
}

/* A dotted address is taken as it is, never looked up by name. */
static int ddNetResolve(const DiChar* host, in_addr* out) {
    char* name = ddNetNarrow(host);
    if (!name) return -1;
    unsigned long a = inet_addr(name);
    int ok = -1;
    if (a != INADDR_NONE || strcmp(name, "255.255.255.255") == 0) {
        out->s_addr = a;
        ok = 0;
    } else {
        hostent* he = gethostbyname(name);
        if (he && he->h_length == 4 && he->h_addr_list && he->h_addr_list[0]) {
            memcpy(&out->s_addr, he->h_addr_list[0], 4);
            ok = 0;
        }
    }
    free(name);
    return ok;
}

int ddNetConnectDirect(DdSocket* s, const DiChar* host, uint16_t port) {
    in_addr target;
    if (ddNetResolve(host, &target) < 0) {
        s->error = DD_NET_ERR_HOST;
        return -1;
    }
    ddNetSetBlocking(s, 1);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    if (bind(ddNetHandle(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        s->error = DD_NET_ERR_CONNECT;
        return -1;
    }
    addr.sin_addr = target;
    addr.sin_port = htons(port);
    if (connect(ddNetHandle(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        ddNetSetBlocking(s, 0);
        return 0;
    }
    s->error = WSAGetLastError() == WSAETIMEDOUT ? DD_NET_ERR_TIMEOUT : DD_NET_ERR_CONNECT;
    return -1;
}

static void ddNetSetError(DdSocket* s) {
    int e = WSAGetLastError();
    s->error =
        (e == WSAEWOULDBLOCK || e == WSAEINPROGRESS) ? DD_NET_ERR_WOULD_BLOCK : DD_NET_ERR_FAILED;
}

int ddNetRecv(DdSocket* s, void* buf, int len) {
    if (!s) return -1;
    if (s->tls) {
        /* Raw bytes during the handshake belong to the TLS layer. */
        if (s->handshake) {
            s->error = DD_NET_ERR_WOULD_BLOCK;
            return -1;
        }
        int n = ddTLSRead(s, buf, len);
        if (n > 0)
            s->ready |= 1;
        else
            s->ready &= ~1u;
        return n;
    }
    if (s->handle == DD_NET_NO_HANDLE) {
        s->error = DD_NET_ERR_FAILED;
        return -1;
    }
    int n = recv(ddNetHandle(s), static_cast<char*>(buf), len, 0);
    if (n == SOCKET_ERROR) {
        ddNetSetError(s);
        return -1;
    }
    return n;
}

int ddNetSend(DdSocket* s, const void* buf, int len) {
    if (!s) return -1;
    if (s->tls) return ddTLSWrite(s, buf, len);
    if (s->handle == DD_NET_NO_HANDLE) {
        s->error = DD_NET_ERR_FAILED;
        return -1;
    }
    int n = send(ddNetHandle(s), static_cast<const char*>(buf), len, 0);
    if (n == SOCKET_ERROR) {
        ddNetSetError(s);
        return -1;
    }
    return n;
}

/* Notices already queued for a socket outlive its registration; once it is
 * closed its handle value can come back for a new socket, whose owner would
 * then take an old "closed" or "readable" for its own. Removes the closed
 * handle's notices from this thread's queue; the others are posted again. */
static void ddNetDropQueuedNotices(uintptr_t handle) {
    UINT wm = g_ddApp ? g_ddApp->winsockMessage : 0;
    if (!wm) return;
    std::vector<MSG> kept;
    MSG m;
    while (PeekMessageW(&m, nullptr, wm, wm, PM_REMOVE | PM_NOYIELD))
        if (uintptr_t(m.wParam) != handle) kept.push_back(m);
    for (const MSG& k : kept) PostMessageW(k.hwnd, k.message, k.wParam, k.lParam);
}

int ddNetSocketClose(DdSocket* s) {
    if (!s) return -1;
    if (s->tls) {
        ddTLSShutdown(s);
        s->tls = nullptr;
    }
    if (s->handle == DD_NET_NO_HANDLE) return 0;
    ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, 0);
    int r = closesocket(ddNetHandle(s));
    if (r != 0) WSAGetLastError();
    ddNetDropQueuedNotices(s->handle);
    s->handle = DD_NET_NO_HANDLE;
    /* A closed socket has no registration left; a re-opened one starts
     * from nothing. */
    s->eventMask = 0;
    return r;
}

void ddNetSelectEvents(DdSocket* s, uint32_t which, uint32_t values) {
    if (!s || s->handle == DD_NET_NO_HANDLE) return;
    uint32_t mask = s->eventMask;
    uint32_t fdWhich = diNetInterestToFd(which), fdValues = diNetInterestToFd(values & which);
    mask = (mask & ~fdWhich) | fdValues;
    if (mask == s->eventMask) return;
    if (g_ddApp->mainWindow)
        WSAAsyncSelect(ddNetHandle(s), g_ddApp->mainWindow, g_ddApp->winsockMessage, long(mask));
    s->eventMask = mask;
}

int ddNetWaitWritable(DdSocket* s, uint32_t timeoutMs) {
    if (!s || s->handle == DD_NET_NO_HANDLE) return -1;
    uintptr_t handle = s->handle;
    uint32_t start = GetTickCount();
    for (;;) {
        /* A timer may have closed or destroyed the socket (the caller holds
         * the object, so it is still readable). */
        if (s->destroyed || s->handle != handle) return -1;
        uint32_t spent = GetTickCount() - start;
        if (spent >= timeoutMs) return 0;
        uint32_t slice = timeoutMs - spent < 50 ? timeoutMs - spent : 50;
        fd_set wr, ex;
        FD_ZERO(&wr);
        FD_ZERO(&ex);
        FD_SET(ddNetHandle(s), &wr);
        FD_SET(ddNetHandle(s), &ex);
        timeval tv = {long(slice / 1000), long(slice % 1000) * 1000};
        int r = select(0, nullptr, &wr, &ex, &tv);
        if (r == SOCKET_ERROR || FD_ISSET(ddNetHandle(s), &ex)) return -1;
        if (r > 0) return 1;
        /* Timers go on while the writer waits (the list refuses nesting).
         * The caller must hold the socket across this call. */
        diTimerDispatch(GetTickCount());
    }
}

DiObject* ddNetFindOwnerBySocket(SOCKET handle) {
    DdSocket* s = diNetFindByHandle(uintptr_t(handle));
    return s ? s->owner : nullptr;
}

static void ddNetDeliver(DiObject* owner, uint32_t type) {
    DiEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.w[0] = type;
    diUIDeliverEvent(owner, &ev);
}

void ddNetHandleSocketMessage(WPARAM wParam, LPARAM lParam) {
    DiObject* owner = ddNetFindOwnerBySocket(SOCKET(wParam));
    int type = diNetFdToEvent(WSAGETSELECTEVENT(lParam));
    if (owner && type >= 0) ddNetDeliver(owner, uint32_t(type));
}

static void ddNetPollDeliver(DdSocket* s) {
    ddNetDeliver(s->owner, DI_EV_READABLE);
}

void ddNetPoll() {
    diNetPollPass(ddNetPollDeliver);
}

int ddNetLookupHostName(const DiChar* host, DiChar** name) {
    char* text = ddNetNarrow(host);
    if (!text) return -1;
    hostent* he;
    unsigned long a = inet_addr(text);
    if (a != INADDR_NONE)
        he = gethostbyaddr(reinterpret_cast<const char*>(&a), 4, AF_INET);
    else
        he = gethostbyname(text);
    free(text);
    if (!he || !he->h_name) return -1;
    DiChar* w = ddNetWiden(he->h_name);
    if (!w) return -1;
    *name = w;
    return int(strlen(he->h_name));
}

int ddNetGetLocalHost(DiChar** name, DiChar** address) {
    char host[256];
    if (gethostname(host, sizeof host) != 0) return -1;
    host[sizeof host - 1] = 0;
    *name = ddNetWiden(host);
    hostent* he = gethostbyname(host);
    if (he && he->h_length == 4 && he->h_addr_list && he->h_addr_list[0]) {
        const uint8_t* a = reinterpret_cast<const uint8_t*>(he->h_addr_list[0]);
        char text[32];
        snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
        *address = ddNetWiden(text);
    }
    return 0;
}

int diNetConnect(DdSocket* s, const DiChar* host, uint16_t port, uint32_t flags) {
    DiRoute target;
    diRouteInit(&target, (flags & DI_NET_WEB_SERVER) ? 0 : 1, host, port,
                (flags & DI_NET_TARGET_TLS) ? 1 : 0);
    int result;
    bool dropped = false;
    if (!diRouteNeedsProxy(&target, flags & DI_NET_BASE_ROUTES)) {
        result = ddNetConnectDirect(s, host, port);
    } else {
        DiRouteChain chain;
        diRouteChainInit(&chain, s, flags);
        if (!diRouteChainBuild(&chain, &target)) {
            result = -7;
        } else {
            if (flags & DI_NET_HOP_TLS_SERVES) diRouteChainDropTargetTls(&chain);
            dropped = chain.droppedTls != 0;
            result = diRouteChainRun(&chain);
        }
        if (result == -7) g_ddApp->proxyFailed = 1;
        /* Credentials taken from the password cache that worked go back. */
        diRouteChainFree(&chain, result == 0 ? 2 : 0);
    }
    diRouteFree(&target);
    if (result == 0 && dropped) return -9;
    return result;
}
