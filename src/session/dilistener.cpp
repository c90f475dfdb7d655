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

uint32_t diListenerPeerPid(const DiTcpRow* rows, size_t count, DiTcpEnd ours, DiTcpEnd peer) {
    uint32_t found = 0;
    for (size_t i = 0; i < count; i++) {
        const DiTcpRow& r = rows[i];
        if (r.localAddr != peer.addr || uint16_t(r.localPort) != peer.port ||
            r.remoteAddr != ours.addr || uint16_t(r.remotePort) != ours.port || r.pid == 0)
            continue;
        if (found && found != r.pid) return 0; /* two owners: none can be trusted */
        found = r.pid;
    }
    return found;
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
