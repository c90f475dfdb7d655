/* The local listener (channel type 13) on Windows sockets: it listens on
 * 127.0.0.1 and hands every connection from a program of the client's own
 * user, in the client's own Windows session, to the outpost, which makes a
 * helper connection of it. Every other connection is closed before a byte
 * of it is read. The listener never reads or writes data of its own.
 *
 * The owner of a connection is the process that the system's TCP table
 * names for its other end. Reading the table costs time that grows with
 * it, and its size is anyone's to choose: it is read on a worker thread,
 * once for every connection accepted since the last read, and the window
 * thread only accepts and applies the verdicts. At most kMaxUnjudged
 * accepted connections wait for a verdict; the rest wait in the system's
 * backlog. Some systems (Wine among them) name an owner only once that
 * process has used its socket: a connection whose owner is not named yet
 * waits, unread, in a gate (a type-13 channel of its own, DiListenerGate
 * bounds them in number and time) until the peer sends or closes, and is
 * judged again then. Refusals are logged through DiRefusalLog. */
#include "core/ddapp.h"
#include "core/ddthread.h"
#include "core/dide.h"
#include "core/dilog.h"
#include "core/ditimer.h"
#include "net/ddnet.h"
#include "session/dilistener.h"
#include "session/diso.h"
#include "ui/diui.h"

#include <iphlpapi.h>
#include <stdlib.h>
#include <string>
#include <vector>

/* The system's IPv4 TCP connections with owners; false when they cannot be
 * read. The peer's end is a connection, never a listener; Wine lists only
 * established connections here, and leaves out the ends closed lately that
 * a flood of strangers leaves behind (each costs it a search through every
 * process's handles). */
static bool ddListenerTcpTable(std::vector<DiTcpRow>* rows) {
    std::vector<uint8_t> buffer;
    DWORD size = 0;
    DWORD r = ERROR_INSUFFICIENT_BUFFER;
    /* The table can grow between the size query and the read. */
    for (int attempt = 0; attempt < 4 && r == ERROR_INSUFFICIENT_BUFFER; attempt++) {
        if (size > (16u << 20)) return false;
        buffer.resize(size + 4096);
        size = DWORD(buffer.size());
        r = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET,
                                TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
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

/* The user SID of a token, as its bytes; empty without. */
static std::string ddListenerTokenUser(HANDLE token) {
    DWORD n = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &n);
    if (n < sizeof(TOKEN_USER) || n > 4096) return std::string();
    std::vector<uint8_t> buffer(n);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), n, &n)) return std::string();
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) return std::string();
    return std::string(static_cast<const char*>(sid), GetLengthSid(sid));
}

static std::string ddListenerProcessUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::string();
    std::string user = ddListenerTokenUser(token);
    CloseHandle(token);
    return user;
}

namespace {

struct WindowsOwners : DiOwnerSystem {
    bool TcpTable(std::vector<DiTcpRow>* rows) override {
        return ddListenerTcpTable(rows);
    }
    uintptr_t OpenProcess(uint32_t pid) override {
        return uintptr_t(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    }
    void CloseProcess(uintptr_t process) override {
        CloseHandle(HANDLE(process));
    }
    std::string ProcessUser(uintptr_t process) override {
        return ddListenerProcessUser(HANDLE(process));
    }
    std::string OwnUser() override {
        return ddListenerProcessUser(GetCurrentProcess());
    }
    bool ProcessSession(uint32_t pid, uint32_t* session) override {
        DWORD id = 0;
        if (!ProcessIdToSessionId(pid, &id)) return false;
        *session = id;
        return true;
    }
    bool OwnSession(uint32_t* session) override {
        return ProcessSession(GetCurrentProcessId(), session);
    }
};

/* Accepted connections waiting for a verdict, at most this many. */
const size_t kMaxUnjudged = 128;
const uint32_t kClockMs = 500;

/* One connection in a read of the table: newly accepted (no gate), or
 * waiting in its gate; `event` is what the gate's socket announced
 * (readable or closed: it is judged for good), -1 when it is silent. */
struct Item {
    DdSocket* socket;
    DiChannel* gate;
    int event;
};

/* The owners of one batch, found on a worker thread. */
struct OwnerJob {
    std::vector<DiTcpConn> conns;
    std::vector<DiPeerOwner> owners;
};

struct Listener {
    DiChannel* channel = nullptr; /* the one accepting */
    bool held = false;            /* accepting paused at kMaxUnjudged */
    std::vector<DdSocket*> unjudged;
    std::vector<std::pair<DiChannel*, int>> ready; /* gates that sent or closed */
    std::vector<Item> judging;                    /* the batch being looked up */
    bool busy = false;
    HANDLE windowThread = nullptr;
    DiListenerGate gate;
    DiRefusalLog log;
    DiTimer* clock = nullptr;
};

Listener& state() {
    static Listener l;
    return l;
}

const DiPeerOwner kUnknown = {0, -1, -1};

} // namespace

static int gateEvent(DiObject* obj, DiEvent* ev);
static void ddListenerKick();

/* Both ends of an accepted socket; zeros (which name no owner) when they
 * cannot be read. */
static DiTcpConn ddListenerEnds(DdSocket* s) {
    DiTcpConn c = {};
    sockaddr_in ours, peer;
    memset(&ours, 0, sizeof ours);
    memset(&peer, 0, sizeof peer);
    int n = sizeof ours, m = sizeof peer;
    SOCKET h = SOCKET(s->handle);
    if (getsockname(h, reinterpret_cast<sockaddr*>(&ours), &n) == 0 &&
        getpeername(h, reinterpret_cast<sockaddr*>(&peer), &m) == 0 &&
        ours.sin_family == AF_INET && peer.sin_family == AF_INET)
        c = {{ours.sin_addr.s_addr, ours.sin_port}, {peer.sin_addr.s_addr, peer.sin_port}};
    return c;
}

static void ddListenerRefuse(DdSocket* s, const DiPeerOwner& owner);
static DdSocket* ddListenerOpenGate(DiChannel* gate);

/* Silent gates past their time are refused; refusals counted quietly are
 * said once their minute has passed. */
static uint32_t ddListenerClock(void*) {
    Listener& l = state();
    uint32_t now = ddTimerNow();
    for (void* g : l.gate.Expired(now))
        if (DdSocket* s = ddListenerOpenGate(static_cast<DiChannel*>(g)))
            ddListenerRefuse(s, kUnknown);
    for (const std::u16string& line : l.log.Due(now))
        diLogErrorText(line.c_str());
    if (l.gate.Count() || l.log.Pending()) return kClockMs;
    l.clock = nullptr;
    return 0;
}

/* The clock runs while a gate holds a place or a refusal is still to be
 * said. */
static void ddListenerArmClock() {
    Listener& l = state();
    if (!l.clock && (l.gate.Count() || l.log.Pending()))
        l.clock = diTimerAdd(kClockMs, ddListenerClock, nullptr);
}

static void ddListenerRefuse(DdSocket* s, const DiPeerOwner& owner) {
    Listener& l = state();
    std::u16string line = l.log.Refused(owner, ddTimerNow());
    if (!line.empty()) diLogErrorText(line.c_str());
    ddNetSocketDestroy(s);
    ddListenerArmClock();
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

/* Takes a gate's socket back and destroys the gate. */
static DdSocket* ddListenerOpenGate(DiChannel* gate) {
    DdSocket* s = gate->socket;
    gate->socket = nullptr;
    if (s) diNetSetOwner(s, nullptr);
    diDEDestroyChannel(gate);
    return s;
}

/* Keeps an accepted socket, unread, until it sends or closes; the
 * connection that waited longest gives its place up when all are taken. */
static void ddListenerWait(DdSocket* s) {
    Listener& l = state();
    DiChannel* gate = diDECreateChannel(nullptr, DI_OBJ_LISTENER, 0, 0);
    if (!gate) {
        ddListenerRefuse(s, kUnknown);
        return;
    }
    gate->hdr.handler = gateEvent;
    DdSocket* own = gate->socket;
    gate->socket = s;
    if (own) ddNetSocketDestroy(own);
    diNetSetOwner(s, &gate->hdr);
    if (void* out = l.gate.Hold(gate, ddTimerNow())) {
        DdSocket* evicted = ddListenerOpenGate(static_cast<DiChannel*>(out));
        if (evicted) ddListenerRefuse(evicted, kUnknown);
    }
    /* Registering reports bytes or a close that came before it. */
    ddNetSelectEvents(s, DD_NET_ACCEPT | DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    ddListenerArmClock();
}

/* The verdicts of a batch, on the window thread. Gates first: a newcomer
 * that takes a gate's place must not take it from one judged here. */
static void CALLBACK ddListenerOwnersFound(ULONG_PTR arg) {
    OwnerJob* job = reinterpret_cast<OwnerJob*>(arg);
    Listener& l = state();
    /* The batch stays listed while it is applied: a gate destroyed by
     * what an admission or a refusal sets off is taken out of it. */
    for (int pass = 0; pass < 2; pass++)
        for (size_t i = 0; i < l.judging.size(); i++) {
            Item it = l.judging[i];
            const DiPeerOwner& owner = job->owners[i];
            if (pass == 0 && it.gate) {
                /* A gate destroyed meanwhile was taken out of this batch.
                 * One that announced itself while its owner was looked up
                 * was looked up too early to be judged for good. */
                int late = -1;
                for (auto r = l.ready.begin(); r != l.ready.end(); ++r)
                    if (r->first == it.gate) {
                        late = r->second;
                        l.ready.erase(r);
                        break;
                    }
                DiPeerVerdict v = diListenerJudgePeer(owner, it.event >= 0);
                if (v == DI_PEER_WAIT) {
                    if (late >= 0) l.ready.push_back({it.gate, late});
                    continue;
                }
                int event = it.event >= 0 ? it.event : late;
                DdSocket* s = ddListenerOpenGate(it.gate);
                if (!s) continue;
                if (v == DI_PEER_SERVE)
                    ddListenerAdmit(s, event);
                else
                    ddListenerRefuse(s, owner);
            } else if (pass == 1 && !it.gate && it.socket) {
                switch (diListenerJudgePeer(owner, false)) {
                case DI_PEER_SERVE:
                    ddListenerAdmit(it.socket, -1);
                    break;
                case DI_PEER_WAIT:
                    ddListenerWait(it.socket);
                    break;
                default:
                    ddListenerRefuse(it.socket, owner);
                    break;
                }
            }
        }
    delete job;
    l.judging.clear();
    l.busy = false;
    if (l.held && l.channel) {
        DiEvent ev;
        memset(&ev, 0, sizeof ev);
        ev.w[0] = DI_EV_ACCEPTED;
        diUIDeliverEvent(&l.channel->hdr, &ev);
    }
    ddListenerKick();
}

static uintptr_t ddListenerFindOwnersThread(uintptr_t arg) {
    OwnerJob* job = reinterpret_cast<OwnerJob*>(arg);
    WindowsOwners system;
    job->owners.resize(job->conns.size());
    diListenerFindOwners(&system, job->conns.data(), job->conns.size(), job->owners.data());
    QueueUserAPC(ddListenerOwnersFound, state().windowThread, reinterpret_cast<ULONG_PTR>(job));
    return 0;
}

/* Starts a read of the table for every connection accepted, every gate
 * whose socket sent or closed and every silent gate, unless one runs. */
static void ddListenerKick() {
    Listener& l = state();
    if (l.busy || (l.unjudged.empty() && l.ready.empty())) return;
    if (!l.windowThread) l.windowThread = ddThreadCurrentHandle();
    OwnerJob* job = new OwnerJob;
    for (const auto& r : l.ready)
        l.judging.push_back({r.first->socket, r.first, r.second});
    l.ready.clear();
    for (void* g : l.gate.Waiting()) {
        DiChannel* gate = static_cast<DiChannel*>(g);
        l.judging.push_back({gate->socket, gate, -1});
    }
    for (DdSocket* s : l.unjudged)
        l.judging.push_back({s, nullptr, -1});
    l.unjudged.clear();
    for (const Item& it : l.judging)
        job->conns.push_back(ddListenerEnds(it.socket));
    l.busy = true;
    HANDLE t = ddThreadCreate(ddListenerFindOwnersThread, reinterpret_cast<uintptr_t>(job),
                              256 * 1024);
    if (t) {
        ddThreadCloseHandle(t);
        return;
    }
    /* No thread: every owner stays unknown. */
    job->owners.assign(job->conns.size(), kUnknown);
    ddListenerOwnersFound(reinterpret_cast<ULONG_PTR>(job));
}

/* A gate's socket has sent or closed: it is judged for good with the next
 * read of the table. */
static int gateEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* gate = reinterpret_cast<DiChannel*>(obj);
    uint32_t event = ev->w[0];
    if (event != DI_EV_READABLE && event != DI_EV_CLOSED) return 0;
    Listener& l = state();
    if (!gate->socket) return 1;
    for (const auto& r : l.ready)
        if (r.first == gate) return 1;
    /* It is silent no longer: its place goes to the next stranger. */
    l.gate.Release(gate);
    l.ready.push_back({gate, int(event)});
    ddListenerKick();
    return 1;
}

static int listenerEvent(DiObject* obj, DiEvent* ev) {
    DiChannel* ch = reinterpret_cast<DiChannel*>(obj);
    if (ev->w[0] != DI_EV_ACCEPTED) return 0;
    Listener& l = state();
    l.channel = ch;
    /* Each accept lets the system announce the next connection waiting. */
    size_t tries = 0;
    while (l.unjudged.size() < kMaxUnjudged && tries++ < kMaxUnjudged) {
        uint32_t peer = 0;
        DdSocket* s = ddNetAccept(ch->socket, &peer);
        if (!s) break;
        const uint8_t* a = reinterpret_cast<const uint8_t*>(&peer); /* network order */
        if (peer == 0 || (a[0] != 127 && !ddNetIsLocalAddress(peer))) {
            ddNetSocketDestroy(s);
            continue;
        }
        l.unjudged.push_back(s);
    }
    l.held = tries > kMaxUnjudged || l.unjudged.size() >= kMaxUnjudged;
    ddListenerKick();
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
    Listener& l = state();
    if (ch == l.channel) l.channel = nullptr;
    if (ch->hdr.handler == gateEvent) {
        l.gate.Release(ch);
        for (auto r = l.ready.begin(); r != l.ready.end(); ++r)
            if (r->first == ch) {
                l.ready.erase(r);
                break;
            }
        for (Item& it : l.judging)
            if (it.gate == ch) it = {nullptr, nullptr, -1};
    }
    diDEChannelFree(ch);
    free(ch);
}

int32_t diListenerOpen(DiChannel* ch) {
    if (!ch || !ch->socket || ddNetSocketOpen(ch->socket, 1, 0) != 0) return -1;
    int32_t port = ddNetListenLocal(ch->socket, 0);
    if (port < 0) return -1;
    state().channel = ch;
    diNetSetOwner(ch->socket, &ch->hdr);
    ddNetSelectEvents(ch->socket, DD_NET_ACCEPT | DD_NET_CLOSE, DD_NET_ACCEPT | DD_NET_CLOSE);
    return port;
}
