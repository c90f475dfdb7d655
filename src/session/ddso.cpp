/* The server outpost's lifetime as the frame window and the event loop see
 * it. The outpost's services (listener, webtop, server connection) come with
 * the session subsystem; this one holds no connection, so an immediate start
 * fails and the exit command runs. */
#include "session/ddso.h"

#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "session/diprofile.h"

struct DdOutpost {
    DiProfileStore* store; /* handed over at creation; not owned */
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
