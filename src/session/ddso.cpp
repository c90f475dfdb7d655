/* The server outpost's lifetime as the frame window and the event loop see
 * it. The outpost's services (listener, webtop, server connection) come with
 * the session subsystem; this one holds no connection, so an immediate start
 * fails and the exit command runs. */
#include "session/ddso.h"

#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "core/ddmessage.h"
#include "net/diroute.h"
#include "session/diprofile.h"

#include <stdlib.h>
#include <string.h>

struct DdOutpost {
    CProfileStore* store; /* handed over at creation; not owned */
};

static DdOutpost* s_outpost;

bool ddSOExists(void) {
    return s_outpost != nullptr;
}

/* Connecting to the server needs the session subsystem: the start fails. */
static int ddSOStart(DdOutpost*) {
    ddTraceLogWrite(u"server outpost: no server connection available\r\n");
    return 0;
}

int ddSOCreate(void) {
    if (s_outpost) return 1;
    s_outpost = new DdOutpost();
    s_outpost->store = g_diProfileStore;
    if (g_ddApp->opt.startImmediately && !ddSOStart(s_outpost)) return 0;
    return 1;
}

void ddSODestroy(void) {
    delete s_outpost;
    s_outpost = nullptr;
}

void ddSOOnStartRequest(void) {
    if (s_outpost) ddSOStart(s_outpost);
}

const DiChar* diSOGetCAFile(void) {
    return g_ddApp ? g_ddApp->opt.caFile : nullptr;
}

void diSOUIExit(void) {
    if (g_ddApp->mainWindow) PostMessageW(g_ddApp->mainWindow, 0x8004, 0, 0);
}

bool ddSOIsPropertySheetMessage(MSG*) {
    return false; /* no property sheet without an outpost UI */
}

void ddSOSetWindowIcons(HWND) {}

/* The session's last connection error (a copy) and its base routes, parsed
 * from the "baseroute" option once per distinct value. */
static DiChar* s_lastError;
static DiRouteChain s_baseRoutes;
static DiChar* s_baseRouteText;
static bool s_baseRoutesValid;

static DiChar* ddSODup(const DiChar* text) {
    size_t n = 0;
    while (text && text[n]) ++n;
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    if (n) memcpy(d, text, n * sizeof(DiChar));
    d[n] = 0;
    return d;
}

void diSOSetLastError(const DiChar* text) {
    free(s_lastError);
    s_lastError = text ? ddSODup(text) : nullptr;
    if (text) {
        ddTraceLogWrite(text);
        ddTraceLogWrite(u"\r\n");
    }
}

const DiChar* diSOGetLastError(void) {
    return s_lastError;
}

DiRouteChain* diSOGetBaseRoute(void) {
    const DiChar* text = g_ddApp->opt.baseRoute;
    bool same = (!text && !s_baseRouteText) ||
                (text && s_baseRouteText && wcscmp(ddW(text), ddW(s_baseRouteText)) == 0);
    if (!same) {
        diRouteChainFree(&s_baseRoutes, 1);
        free(s_baseRouteText);
        s_baseRouteText = text ? ddSODup(text) : nullptr;
        diRouteChainInit(&s_baseRoutes, nullptr, 0);
        s_baseRoutesValid = text && text[0] && diRouteChainParse(&s_baseRoutes, text);
        if (!s_baseRoutesValid) diRouteChainFree(&s_baseRoutes, 1);
    }
    return s_baseRoutesValid && s_baseRoutes.first ? &s_baseRoutes : nullptr;
}

int diSOIsFirewallTraversal(void) {
    return g_ddApp->opt.firewallTraversal ? 1 : 0;
}

int diSOAskYesNo(DiObject*, const DiChar* caption, const DiChar* text) {
    wchar_t fallback[256];
    if (!caption && ddLoadMessage(457, fallback, 256) > 0) caption = ddD(fallback);
    return ddAskYesNoHwnd(GetActiveWindow(), ddW(text ? text : u""), ddW(caption)) ? 1 : 0;
}
