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
#include <vector>

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

/* Both ends of one accepted connection. */
struct DiTcpConn {
    DiTcpEnd ours, peer;
};

/* diListenerPeerPid for many connections against one table: sorts the
 * rows once, then each lookup costs a search, however large the table. */
void diListenerPeerPids(std::vector<DiTcpRow> rows, const DiTcpConn* conns, size_t count,
                        uint32_t* pids);

/* What the system says about processes; ddlistener.cpp asks Windows. */
struct DiOwnerSystem {
    virtual ~DiOwnerSystem() {}
    /* The whole IPv4 TCP table with owners; false when it cannot be read. */
    virtual bool TcpTable(std::vector<DiTcpRow>* rows) = 0;
    /* Holds a process open, so that its id cannot pass to another process
     * meanwhile; 0 when it cannot be opened. */
    virtual uintptr_t OpenProcess(uint32_t pid) = 0;
    virtual void CloseProcess(uintptr_t process) = 0;
    /* The user of a process's token, of our own: the SID's bytes, empty
     * when it cannot be read. */
    virtual std::string ProcessUser(uintptr_t process) = 0;
    virtual std::string OwnUser() = 0;
    /* The Windows session of a process, of our own; false when not told. */
    virtual bool ProcessSession(uint32_t pid, uint32_t* session) = 0;
    virtual bool OwnSession(uint32_t* session) = 0;
};

struct DiPeerOwner {
    uint32_t pid;    /* 0: no owner could be found */
    int sameUser;    /* 1 the client's user, 0 another, -1 could not be told */
    int sameSession; /* 1 the client's Windows session, 0 another, -1 not told */
};

/* The owners of the other ends of `count` connections: one read of the
 * table serves them all, and when processes were named, one more read
 * after they are held open makes sure each id still names the process
 * that owns its end (an id freed and taken again by another process
 * between the two would be judged as that one). */
void diListenerFindOwners(DiOwnerSystem* system, const DiTcpConn* conns, size_t count,
                          DiPeerOwner* owners);

enum DiPeerVerdict { DI_PEER_SERVE, DI_PEER_WAIT, DI_PEER_REFUSE };

/* Serve only the client's own user in its own session. An unknown owner
 * may still be waited for until the peer has sent or closed (`final`):
 * some systems name a socket's owner only once that process has used it.
 * Waiting reads nothing. */
DiPeerVerdict diListenerJudgePeer(const DiPeerOwner& owner, bool final);

/* The event log's line for a refused connection, naming the process when
 * it is known. */
std::u16string diListenerRefusalText(const DiPeerOwner& owner);

/* Connections waiting, unread, for their owner to be named: each holds a
 * socket, and strangers that never send must hold neither the sockets nor
 * the places for long. A place is kept at most kWaitMs; when all are
 * taken, a newcomer takes the place of the connection that waited
 * longest, which is refused. Keys are the caller's. */
class DiListenerGate {
  public:
    static constexpr size_t kPlaces = 16;
    static constexpr uint32_t kWaitMs = 5000;
    /* Gives `conn`, arrived at `now`, a place; returns the connection that
     * gave its place up for it, or none. */
    void* Hold(void* conn, uint32_t now);
    /* Frees `conn`'s place; false when it held none. */
    bool Release(void* conn);
    /* Frees and returns the places held since kWaitMs or longer. */
    std::vector<void*> Expired(uint32_t now);
    std::vector<void*> Waiting() const;
    size_t Count() const {
        return places_.size();
    }

  private:
    struct Place {
        void* conn;
        uint32_t since;
    };
    std::vector<Place> places_; /* longest waiting first */
};

/* The event log's lines for refusals: one per reason and process at most
 * once a minute, with the count of refusals it stands for. A flood of
 * strangers writes a bounded number of lines. */
class DiRefusalLog {
  public:
    static constexpr uint32_t kQuietMs = 60000;
    static constexpr size_t kKinds = 64;
    /* A refusal at `now`: the line to log now, or empty when a line of its
     * kind was logged less than a minute ago (it is counted for the next). */
    std::u16string Refused(const DiPeerOwner& owner, uint32_t now);
    /* The lines for refusals counted since a line that is a minute old. */
    std::vector<std::u16string> Due(uint32_t now);
    /* Refusals counted but not said yet. */
    bool Pending() const;

  private:
    struct Kind {
        DiPeerOwner owner;
        uint32_t said;  /* when its last line was logged */
        uint32_t quiet; /* refusals counted since */
    };
    std::vector<Kind> kinds_;
    uint32_t others_ = 0, othersSaid_ = 0; /* refusals of kinds past kKinds */
    bool othersSaidOnce_ = false;
};

#endif
