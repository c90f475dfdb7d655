#include "fakes/route_fakes.h"

#include "core/diutil.h"
#include "net/dicrypt.h"
#include "net/dihttp.h"

#include <stdlib.h>
#include <string.h>

FakeRoutes g_fakeRoutes;
DdApp g_fakeApp;
DdApp* g_ddApp = &g_fakeApp;

void routeFakesReset() {
    fakesReset();
    g_fakeRoutes = FakeRoutes();
    free(g_fakeApp.webtopUrl); /* the outpost's webtop page stores one */
    g_fakeApp = DdApp();
    g_ddApp = &g_fakeApp;
}

static DiChar* dup16(const std::u16string& s) {
    DiChar* d = static_cast<DiChar*>(malloc((s.size() + 1) * sizeof(DiChar)));
    memcpy(d, s.c_str(), (s.size() + 1) * sizeof(DiChar));
    return d;
}

int ddCryptReadCache(DiChar** items, int max) {
    int n = 0;
    for (const auto& s : g_fakeRoutes.cache) {
        if (n == max) break;
        items[n++] = dup16(s);
    }
    return n;
}

bool ddCryptWriteCache(DiChar** items, int count, bool) {
    g_fakeRoutes.cacheWrites++;
    if (g_fakeRoutes.cacheFull) return false;
    // The settings list keeps items beyond the count written.
    for (int i = 0; i < count; ++i) {
        std::u16string s(items[i]);
        if (size_t(i) < g_fakeRoutes.cache.size())
            g_fakeRoutes.cache[i] = s;
        else
            g_fakeRoutes.cache.push_back(s);
    }
    return true;
}

void ddDlgPasswordNotRemembered(DiObject*, int reason) {
    g_fakeRoutes.notRemembered.push_back(reason);
}

static std::string narrow(const DiChar* s) {
    std::string r;
    for (; s && *s; ++s) r += char(*s);
    return r;
}

int ddNetSocketOpen(DdSocket* s, int stream, int noDelay) {
    s->flags = (stream ? 1u : 0u) | (noDelay ? 2u : 0u);
    s->handle = 1;
    return 0;
}

int ddNetConnectDirect(DdSocket* s, const DiChar* host, uint16_t port) {
    g_fakeRoutes.connects.push_back(narrow(host) + ":" + std::to_string(port));
    if (int(g_fakeRoutes.connects.size()) - 1 == g_fakeRoutes.connectFailsAt) {
        s->error = DD_NET_ERR_CONNECT;
        return -1;
    }
    return 0;
}

int ddNetSetBlocking(DdSocket*, int) {
    return 0;
}

int ddNetWaitReadable(DdSocket*, uint32_t) {
    return (!g_fakeNet.incoming.empty() || g_fakeNet.closed) ? 1 : 0;
}

// Looks at the front chunk only: a peer's pieces arrive one at a time.
int ddNetPeek(DdSocket*, void* buf, int len) {
    if (g_fakeNet.incoming.empty()) return g_fakeNet.closed ? 0 : -2;
    const std::string& chunk = g_fakeNet.incoming.front();
    size_t n = chunk.size() - g_fakeNet.offset;
    if (n > size_t(len)) n = size_t(len);
    memcpy(buf, chunk.data() + g_fakeNet.offset, n);
    return int(n);
}

void ddNetSetRecvTimeout(DdSocket*, uint32_t) {}

int ddNetStartTls(DdSocket*, uint32_t, const DiChar*, int) {
    g_fakeRoutes.tlsStarts++;
    if (g_fakeRoutes.whileTlsAsks) g_fakeRoutes.whileTlsAsks();
    return g_fakeRoutes.tlsFails ? -1 : 0;
}

int ddNetStartTlsClient(DdSocket* s, uint32_t flags, const DiChar* host) {
    return ddNetStartTls(s, flags, host, 1);
}

// Message texts as the resources have them, for the numbers routes use.
int ddResLoadMessage(int n, DiChar* out, int size) {
    const char16_t* text = u"";
    switch (n) {
    case 257: text = u"Cannot connect to the %s"; break;
    case 258: text = u"A network error while connected to the %s"; break;
    case 259: text = u"The %1$s failed to connect to the %2$s"; break;
    case 260: text = u"The %1$s refused to connect to the %2$s"; break;
    case 263: text = u"The %s requires an authentication method not supported"; break;
    case 265: text = u"An error occured while connected to the %s"; break;
    case 266: text = u"The %1$s failed to connect to the %2$s: %3$s"; break;
    case 269: text = u"Reauthenticate with %s?"; break;
    case 270: text = u"The %1$s refused to connect to the %2$s (%3$s)"; break;
    case 272: text = u"This client cannot connect to multiple secure servers"; break;
    case 273: text = u"Failed to establish an SSL connection with the %s"; break;
    case 274: text = u"There is a misconfigured proxy in the chain"; break;
    }
    std::u16string s(text);
    if (int(s.size()) >= size) s.resize(size - 1);
    memcpy(out, s.c_str(), (s.size() + 1) * sizeof(DiChar));
    return int(s.size());
}

int ddDlgServerAuthentication(DiObject*, DiRoute* route, int) {
    DiChar d[300];
    diRouteDescribe(route, d, 300);
    g_fakeRoutes.dialogPrompts.push_back(d);
    if (g_fakeRoutes.whileAsking) g_fakeRoutes.whileAsking();
    if (g_fakeRoutes.dialogs.empty()) return 0;
    FakeDialogAnswer a = g_fakeRoutes.dialogs.front();
    g_fakeRoutes.dialogs.erase(g_fakeRoutes.dialogs.begin());
    if (!a.ok) return 0;
    diRouteSetCredentials(route, a.user.c_str(), a.password.c_str());
    route->cached = a.save;
    return 1;
}

void diSOSetLastError(const DiChar* text) {
    g_fakeRoutes.errors.push_back(text ? text : u"");
}

DiRouteChain* diSOGetBaseRoute(void) {
    return g_fakeRoutes.baseRoutes;
}

int diSOIsFirewallTraversal(void) {
    return g_fakeRoutes.firewallTraversal;
}

int diSOAskYesNo(DiObject*, const DiChar*, const DiChar* text) {
    g_fakeRoutes.questions.push_back(text ? text : u"");
    if (g_fakeRoutes.whileAsking) g_fakeRoutes.whileAsking();
    if (g_fakeRoutes.yesNo.empty()) return 0;
    bool a = g_fakeRoutes.yesNo.front();
    g_fakeRoutes.yesNo.erase(g_fakeRoutes.yesNo.begin());
    return a;
}

int diNetConnect(DdSocket*, const DiChar*, uint16_t, uint32_t flags) {
    g_fakeRoutes.connectCalls++;
    g_fakeRoutes.connectFlags = flags;
    return g_fakeRoutes.connectResult;
}
