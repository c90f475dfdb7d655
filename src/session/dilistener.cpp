/* Who may talk to the local listener. It listens on 127.0.0.1 only, yet any
 * web page the user opens can make the browser send it requests: a
 * text/plain POST needs no preflight, and a page on a host name that a
 * hostile DNS server points at 127.0.0.1 is same-origin with the listener.
 * Such a request could point a session that has not connected yet at
 * another server, route or CA file, or store a proxy in the profile.
 *
 * So every request must name the listener itself as its Host (at most
 * once), and a POST that carries an Origin must come from the webtop's
 * origin; helpers send no Origin. A refused request gets "403 Forbidden",
 * is logged and the connection closes; no handler runs.
 *
 * Before any of that, the connection itself must come from a program of
 * the client's own user and Windows session (dilistener.h): the loopback
 * address is shared by every user of the computer. */
#include "core/diapp.h"
#include "core/dilog.h"
#include "core/diutil.h"
#include "session/dilistener.h"
#include "session/diso.h"
#include "session/divaip.h"
#include "xml/qvlxmlglobals.h"

#include <algorithm>
#include <string>

static bool equalsNoCase(const DiChar* a, size_t n, const char* b) {
    size_t i = 0;
    for (; i < n && b[i]; i++) {
        DiChar x = a[i], y = DiChar(uint8_t(b[i]));
        if (x >= 'A' && x <= 'Z') x = DiChar(x + 32);
        if (y >= 'A' && y <= 'Z') y = DiChar(y + 32);
        if (x != y) return false;
    }
    return i == n && !b[i];
}

static std::u16string trimmed(const DiChar* s) {
    std::u16string t = s ? s : u"";
    size_t a = t.find_first_not_of(u" \t");
    if (a == std::u16string::npos) return u"";
    size_t b = t.find_last_not_of(u" \t");
    return t.substr(a, b - a + 1);
}

bool diListenerHostAllowed(const DiChar* value) {
    std::u16string host = trimmed(value);
    size_t end = host.size();
    /* An optional ":port" of digits after the name. */
    size_t colon = host.rfind(u':');
    if (colon != std::u16string::npos && colon + 1 < host.size() && host.back() != u']') {
        bool digits = true;
        for (size_t i = colon + 1; i < host.size(); i++)
            digits = digits && host[i] >= '0' && host[i] <= '9';
        if (digits && colon + 6 >= host.size()) end = colon;
    }
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"})
        if (equalsNoCase(host.data(), end, name)) return true;
    return false;
}

/* "scheme://host[:port]" of a URL, lower-cased; empty when it has none. */
std::u16string diListenerOriginOf(const DiChar* url) {
    std::u16string u = url ? url : u"";
    size_t scheme = u.find(u"://");
    if (scheme == std::u16string::npos || scheme == 0) return u"";
    size_t end = u.find_first_of(u"/?#", scheme + 3);
    std::u16string origin = u.substr(0, end);
    for (DiChar& c : origin)
        if (c >= 'A' && c <= 'Z') c = DiChar(c + 32);
    return origin;
}

bool diListenerRequestAllowed(CQVLHTTPPacket* http, const DiChar* webtopUrl) {
    int hosts = 0;
    bool hostOk = true;
    const DiChar* origin = nullptr;
    bool get = false;
    for (auto* n = http->headers ? http->headers->head : nullptr; n; n = n->next) {
        /* A GET's start line ends in " HTTP/1.1", which the packet reader
         * leaves in front of the first header: the name is what follows
         * the last line break. */
        const DiChar* name = n->item->name;
        size_t len = name ? qvlStrLen(name) : 0;
        for (size_t i = len; i > 0; i--)
            if (name[i - 1] == '\n') {
                name += i;
                len -= i;
                break;
            }
        if (equalsNoCase(name, len, "host")) {
            hosts++;
            hostOk = hostOk && diListenerHostAllowed(n->item->GetValue());
        } else if (equalsNoCase(name, len, "origin")) {
            origin = n->item->GetValue();
        } else if (name && qvlStrEqAscii(name, "GET")) {
            get = true;
        }
    }
    if (hosts > 1 || !hostOk) return false;
    if (get || !origin || !http->IsRequest()) return true;
    std::u16string allowed = diListenerOriginOf(webtopUrl);
    std::u16string given = trimmed(origin);
    for (DiChar& c : given)
        if (c >= 'A' && c <= 'Z') c = DiChar(c + 32);
    return !allowed.empty() && given == allowed;
}

void CHelperConnection::ReceivePacket(CQVLHTTPPacket* http) {
    const DiChar* webtop = g_ddApp ? g_ddApp->webtopUrl : nullptr;
    if (!webtop && g_ddApp) webtop = g_ddApp->opt.loginUrl;
    if (!webtop && g_diOutpost) webtop = g_diOutpost->webtopUrl;
    if (diListenerRequestAllowed(http, webtop)) {
        CVAIPConnection::ReceivePacket(http);
        return;
    }
    diLogErrorText(u"A request to the local listener from a foreign web page was refused "
                   u"(its Host or Origin is not the client's).");
    CQVLHTTPStatusResponse refused("HTTP/1.1 403 Forbidden\r\n");
    SendHTTP(&refused);
    Detach();
    if (g_diOutpost) g_diOutpost->HelperGone(this); /* freed once its handler returns */
}

/* ---- the owner of a connection ---- */

namespace {

/* A table row's local end, then its remote end: the order rows are sorted
 * in and looked up by. Only the low 16 bits of a port word are defined. */
struct RowKey {
    uint32_t localAddr, localPort, remoteAddr, remotePort;
    bool operator<(const RowKey& o) const {
        if (localAddr != o.localAddr) return localAddr < o.localAddr;
        if (localPort != o.localPort) return localPort < o.localPort;
        if (remoteAddr != o.remoteAddr) return remoteAddr < o.remoteAddr;
        return remotePort < o.remotePort;
    }
};

RowKey keyOf(const DiTcpRow& r) {
    return {r.localAddr, uint16_t(r.localPort), r.remoteAddr, uint16_t(r.remotePort)};
}

} // namespace

void diListenerPeerPids(std::vector<DiTcpRow> rows, const DiTcpConn* conns, size_t count,
                        uint32_t* pids) {
    std::sort(rows.begin(), rows.end(),
              [](const DiTcpRow& a, const DiTcpRow& b) { return keyOf(a) < keyOf(b); });
    for (size_t c = 0; c < count; c++) {
        /* The peer's own end: its local end is the peer, its remote ours. */
        RowKey want = {conns[c].peer.addr, conns[c].peer.port, conns[c].ours.addr,
                       conns[c].ours.port};
        auto at = std::lower_bound(rows.begin(), rows.end(), want,
                                   [](const DiTcpRow& r, const RowKey& k) { return keyOf(r) < k; });
        uint32_t found = 0;
        for (; at != rows.end() && !(want < keyOf(*at)); ++at) {
            if (at->pid == 0) continue;
            if (found && found != at->pid) {
                found = 0; /* two owners: none can be trusted */
                break;
            }
            found = at->pid;
        }
        pids[c] = found;
    }
}

uint32_t diListenerPeerPid(const DiTcpRow* rows, size_t count, DiTcpEnd ours, DiTcpEnd peer) {
    DiTcpConn conn = {ours, peer};
    uint32_t pid = 0;
    diListenerPeerPids(std::vector<DiTcpRow>(rows, rows + count), &conn, 1, &pid);
    return pid;
}

void diListenerFindOwners(DiOwnerSystem* system, const DiTcpConn* conns, size_t count,
                          DiPeerOwner* owners) {
    for (size_t i = 0; i < count; i++)
        owners[i] = {0, -1, -1};
    std::vector<DiTcpRow> rows;
    if (!count || !system->TcpTable(&rows)) return;
    std::vector<uint32_t> pids(count), again(count);
    diListenerPeerPids(rows, conns, count, pids.data());
    std::vector<uintptr_t> held(count);
    bool any = false;
    for (size_t i = 0; i < count; i++) {
        owners[i].pid = pids[i];
        held[i] = pids[i] ? system->OpenProcess(pids[i]) : 0;
        any = any || held[i];
    }
    if (!any) return;
    if (!system->TcpTable(&rows)) rows.clear();
    diListenerPeerPids(rows, conns, count, again.data());
    std::string ownUser = system->OwnUser();
    uint32_t ownSession = 0;
    bool sessionKnown = system->OwnSession(&ownSession);
    for (size_t i = 0; i < count; i++) {
        if (!held[i]) continue;
        if (again[i] == pids[i]) {
            std::string user = system->ProcessUser(held[i]);
            if (!user.empty() && !ownUser.empty()) owners[i].sameUser = user == ownUser ? 1 : 0;
            uint32_t session = 0;
            if (sessionKnown && system->ProcessSession(pids[i], &session))
                owners[i].sameSession = session == ownSession ? 1 : 0;
        }
        system->CloseProcess(held[i]);
    }
}

DiPeerVerdict diListenerJudgePeer(const DiPeerOwner& owner, bool final) {
    if (owner.pid == 0) return final ? DI_PEER_REFUSE : DI_PEER_WAIT;
    return owner.sameUser == 1 && owner.sameSession == 1 ? DI_PEER_SERVE : DI_PEER_REFUSE;
}

std::u16string diListenerRefusalText(const DiPeerOwner& owner) {
    std::u16string text = u"A connection to the local listener was refused: ";
    if (owner.pid == 0) return text + u"the program at its other end could not be told.";
    std::u16string pid;
    for (uint32_t v = owner.pid; v; v /= 10)
        pid.insert(pid.begin(), DiChar(u'0' + v % 10));
    text += u"process " + pid;
    if (owner.sameUser == 0) return text + u" belongs to another user.";
    if (owner.sameUser != 1) return text + u" is of a user that could not be told.";
    if (owner.sameSession == 0) return text + u" runs in another Windows session.";
    return text + u" is in a Windows session that could not be told.";
}

/* ---- waiting for an owner ---- */

void* DiListenerGate::Hold(void* conn, uint32_t now) {
    void* out = nullptr;
    if (places_.size() >= kPlaces) {
        out = places_.front().conn;
        places_.erase(places_.begin());
    }
    places_.push_back({conn, now});
    return out;
}

bool DiListenerGate::Release(void* conn) {
    for (auto p = places_.begin(); p != places_.end(); ++p)
        if (p->conn == conn) {
            places_.erase(p);
            return true;
        }
    return false;
}

std::vector<void*> DiListenerGate::Expired(uint32_t now) {
    std::vector<void*> out;
    for (size_t i = 0; i < places_.size();)
        if (now - places_[i].since >= kWaitMs) {
            out.push_back(places_[i].conn);
            places_.erase(places_.begin() + long(i));
        } else {
            i++;
        }
    return out;
}

std::vector<void*> DiListenerGate::Waiting() const {
    std::vector<void*> out;
    for (const Place& p : places_)
        out.push_back(p.conn);
    return out;
}

/* ---- saying refusals ---- */

namespace {

int reasonOf(const DiPeerOwner& o) {
    if (o.pid == 0) return 0;
    if (o.sameUser == 0) return 1;
    if (o.sameUser != 1) return 2;
    return o.sameSession == 0 ? 3 : 4;
}

std::u16string lineFor(const DiPeerOwner& owner, uint32_t count) {
    std::u16string text = diListenerRefusalText(owner);
    DiChar more[80];
    if (count > 1 && diFormatPositional(more, 80, u" This line stands for %u refused connections.",
                                        {unsigned(count)}) > 0)
        text += more;
    return text;
}

std::u16string othersLine(uint32_t count) {
    DiChar text[128];
    diFormatPositional(text, 128,
                       u"Connections to the local listener were refused: %u of further processes "
                       u"since the last such line.",
                       {unsigned(count)});
    return text;
}

} // namespace

std::u16string DiRefusalLog::Refused(const DiPeerOwner& owner, uint32_t now) {
    for (Kind& k : kinds_) {
        if (k.owner.pid != owner.pid || reasonOf(k.owner) != reasonOf(owner)) continue;
        if (now - k.said < kQuietMs) {
            k.quiet++;
            return u"";
        }
        uint32_t count = k.quiet + 1;
        k.said = now;
        k.quiet = 0;
        return lineFor(owner, count);
    }
    if (kinds_.size() >= kKinds) /* kinds whose minute passed with nothing to say */
        kinds_.erase(std::remove_if(kinds_.begin(), kinds_.end(),
                                    [now](const Kind& k) {
                                        return !k.quiet && now - k.said >= kQuietMs;
                                    }),
                     kinds_.end());
    if (kinds_.size() < kKinds) {
        kinds_.push_back({owner, now, 0});
        return lineFor(owner, 1);
    }
    others_++;
    if (othersSaidOnce_ && now - othersSaid_ < kQuietMs) return u"";
    othersSaidOnce_ = true;
    othersSaid_ = now;
    uint32_t count = others_;
    others_ = 0;
    return othersLine(count);
}

std::vector<std::u16string> DiRefusalLog::Due(uint32_t now) {
    std::vector<std::u16string> out;
    for (Kind& k : kinds_)
        if (k.quiet && now - k.said >= kQuietMs) {
            out.push_back(lineFor(k.owner, k.quiet));
            k.said = now;
            k.quiet = 0;
        }
    if (others_ && now - othersSaid_ >= kQuietMs) {
        out.push_back(othersLine(others_));
        othersSaid_ = now;
        others_ = 0;
    }
    return out;
}

bool DiRefusalLog::Pending() const {
    if (others_) return true;
    for (const Kind& k : kinds_)
        if (k.quiet) return true;
    return false;
}
