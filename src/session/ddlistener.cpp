/* The local listener (channel type 13) on Windows sockets: it listens on
 * 127.0.0.1 and hands every connection from a program of the client's own
 * user, in the client's own Windows session, to the outpost, which makes a
 * helper connection of it. Every other connection is closed before a byte
 * of it is read, and logged once. The listener never reads or writes data
 * of its own.
 *
 * The owner of a connection is the process that the system's TCP table
 * names for its other end. Some systems (Wine among them) name it only
 * once that process has used its socket: a connection whose owner is not
 * named yet waits, unread, in a gate (a type-13 channel of its own) until
 * the peer sends or closes, and is judged again then. */
#include "core/dide.h"
#include "core/dilog.h"
#include "net/ddnet.h"
#include "session/dilistener.h"
#include "session/diso.h"
#include "ui/diui.h"

#include <iphlpapi.h>
#include <stdlib.h>
#include <vector>

/* Connections waiting for their owner to be named, at most this many: each
 * holds a socket, and a program that opens many and sends nothing must not
 * exhaust them. Past the cap a new one is refused. */
static const int kMaxGates = 16;
static int s_gates;

/* The system's IPv4 TCP table with owners; false when it cannot be read. */
static bool ddListenerTcpTable(std::vector<DiTcpRow>* rows) {
    std::vector<uint8_t> buffer;
    DWORD size = 0;
    DWORD r = ERROR_INSUFFICIENT_BUFFER;
    /* The table can grow between the size query and the read. */
    for (int attempt = 0; attempt < 4 && r == ERROR_INSUFFICIENT_BUFFER; attempt++) {
        if (size > (16u << 20)) return false;
        buffer.resize(size + 4096);
        size = DWORD(buffer.size());
        r = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    if (r != NO_ERROR) return false;
    const MIB_TCPTABLE_OWNER_PID* t =
        reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    size_t room =
        (buffer.size() - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
    size_t n = t->dwNumEntries < room ? t->dwNumEntries : room;
    rows->clear();
    for (size_t i = 0; i < n; i++) {
        const MIB_TCPROW_OWNER_PID& row = t->table[i];
        rows->push_back({row.dwLocalAddr, row.dwLocalPort, row.dwRemoteAddr, row.dwRemotePort,
                         row.dwOwningPid});
    }
    return true;
}

/* The process that owns the other end of an accepted socket; 0 when none
 * is named. */
static uint32_t ddListenerPeerPid(SOCKET h) {
    sockaddr_in ours, peer;
    memset(&ours, 0, sizeof ours);
    memset(&peer, 0, sizeof peer);
    int n = sizeof ours, m = sizeof peer;
    if (getsockname(h, reinterpret_cast<sockaddr*>(&ours), &n) != 0 ||
        getpeername(h, reinterpret_cast<sockaddr*>(&peer), &m) != 0 || ours.sin_family != AF_INET ||
        peer.sin_family != AF_INET)
        return 0;
    std::vector<DiTcpRow> rows;
    if (!ddListenerTcpTable(&rows)) return 0;
    return diListenerPeerPid(rows.data(), rows.size(), {ours.sin_addr.s_addr, ours.sin_port},
                             {peer.sin_addr.s_addr, peer.sin_port});
}

/* The user SID of a token, as TOKEN_USER in `buffer`; false without. */
static bool ddListenerTokenUser(HANDLE token, std::vector<uint8_t>* buffer) {
    DWORD n = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &n);
    if (n < sizeof(TOKEN_USER) || n > 4096) return false;
    buffer->resize(n);
    return GetTokenInformation(token, TokenUser, buffer->data(), n, &n) != 0;
}

/* 1 when the process's token names the same user as ours, 0 when another,
 * -1 when either cannot be read. */
static int ddListenerSameUser(HANDLE process) {
    HANDLE mine = nullptr, theirs = nullptr;
    std::vector<uint8_t> a, b;
    int result = -1;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &mine) &&
        OpenProcessToken(process, TOKEN_QUERY, &theirs) && ddListenerTokenUser(mine, &a) &&
        ddListenerTokenUser(theirs, &b))
        result = EqualSid(reinterpret_cast<TOKEN_USER*>(a.data())->User.Sid,
                          reinterpret_cast<TOKEN_USER*>(b.data())->User.Sid)
                     ? 1
                     : 0;
    if (mine) CloseHandle(mine);
    if (theirs) CloseHandle(theirs);
    return result;
}

static DiPeerOwner ddListenerPeerOwner(DdSocket* s) {
    DiPeerOwner owner = {0, -1, -1};
    SOCKET h = SOCKET(s->handle);
    uint32_t pid = ddListenerPeerPid(h);
    if (!pid) return owner;
    owner.pid = pid;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return owner;
    /* While the handle is open the id cannot pass to another process: the
     * table is read again to make sure it still names this one. */
    if (ddListenerPeerPid(h) == pid) {
        owner.sameUser = ddListenerSameUser(process);
        DWORD theirs = 0, mine = 0;
        if (ProcessIdToSessionId(pid, &theirs) &&
            ProcessIdToSessionId(GetCurrentProcessId(), &mine))
            owner.sameSession = theirs == mine ? 1 : 0;
    }
    CloseHandle(process);
    return owner;
}

static void ddListenerRefuse(DdSocket* s, const DiPeerOwner& owner) {
    diLogErrorText(diListenerRefusalText(owner).c_str());
    ddNetSocketDestroy(s);
}

/* Hands a socket whose owner is the client's user to the outpost. A socket
 * that already announced `event` (readable or closed) to its gate announces
 * it again to its new owner, which has not seen it. */
static void ddListenerAdmit(DdSocket* s, int event) {
    if (!g_diOutpost) {
        ddNetSocketDestroy(s);
        return;
    }
    uintptr_t handle = s->handle;
    g_diOutpost->AcceptHelper(s);
    if (event < 0) return;
    DiObject* owner = ddNetFindOwnerBySocket(SOCKET(handle));
    if (!owner) return;
    DiEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.w[0] = uint32_t(event);
    diUIDeliverEvent(owner, &ev);
}

/* A gate's socket has sent or closed: its owner is judged for good. */
static int gateEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* gate = reinterpret_cast<DiChannel*>(obj);
    uint32_t event = ev->w[0];
    if (event != DI_EV_READABLE && event != DI_EV_CLOSED) return 0;
    DdSocket* s = gate->socket;
    if (!s) return 1;
    DiPeerOwner owner = ddListenerPeerOwner(s);
    gate->socket = nullptr;
    diNetSetOwner(s, nullptr);
    diDEDestroyChannel(gate);
    if (diListenerJudgePeer(owner, true) == DI_PEER_SERVE)
        ddListenerAdmit(s, int(event));
    else
        ddListenerRefuse(s, owner);
    return 1;
}

/* Keeps an accepted socket, unread, until it sends or closes. */
static void ddListenerWait(DdSocket* s) {
    DiChannel* gate =
        s_gates < kMaxGates ? diDECreateChannel(nullptr, DI_OBJ_LISTENER, 0, 0) : nullptr;
    if (!gate) {
        ddListenerRefuse(s, {0, -1, -1});
        return;
    }
    gate->hdr.handler = gateEvent;
    s_gates++;
    DdSocket* own = gate->socket;
    gate->socket = s;
    if (own) ddNetSocketDestroy(own);
    diNetSetOwner(s, &gate->hdr);
    /* Registering reports bytes or a close that came before it. */
    ddNetSelectEvents(s, DD_NET_ACCEPT | DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
}

static int listenerEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    if (ev->w[0] != DI_EV_ACCEPTED) return 0;
    uint32_t peer = 0;
    DdSocket* s = ddNetAccept(ch->socket, &peer);
    if (!s) return 1;
    const uint8_t* a = reinterpret_cast<const uint8_t*>(&peer); /* network order */
    if (peer == 0 || (a[0] != 127 && !ddNetIsLocalAddress(peer))) {
        ddNetSocketDestroy(s);
        return 1;
    }
    DiPeerOwner owner = ddListenerPeerOwner(s);
    switch (diListenerJudgePeer(owner, false)) {
    case DI_PEER_SERVE:
        ddListenerAdmit(s, -1);
        break;
    case DI_PEER_WAIT:
        ddListenerWait(s);
        break;
    default:
        ddListenerRefuse(s, owner);
        break;
    }
    return 1;
}

DiChannel* ddListenerChannelCreate(DdSocket* s) {
    DiChannel* ch = static_cast<DiChannel*>(calloc(1, sizeof(DiChannel)));
    if (!ch) return nullptr;
    diDEChannelInit(ch, DI_OBJ_LISTENER, 0, 0);
    ch->hdr.handler = listenerEvent;
    diChannelAttachConnection(ch, s);
    return ch;
}

void ddListenerChannelDestroy(DiChannel* ch) {
    if (ch->hdr.handler == gateEvent) s_gates--;
    diDEChannelFree(ch);
    free(ch);
}

int32_t diListenerOpen(DiChannel* ch) {
    if (!ch || !ch->socket || ddNetSocketOpen(ch->socket, 1, 0) != 0) return -1;
    int32_t port = ddNetListenLocal(ch->socket, 0);
    if (port < 0) return -1;
    diNetSetOwner(ch->socket, &ch->hdr);
    ddNetSelectEvents(ch->socket, DD_NET_ACCEPT | DD_NET_CLOSE, DD_NET_ACCEPT | DD_NET_CLOSE);
    return port;
}
