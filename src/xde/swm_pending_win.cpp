/* Temporary stand-ins for engine calls of the seamless layer that the
 * portable engine does not offer yet. Each does what the engine's own
 * will; this file goes when the engine has them. */
#include "xde/ddxswm.h"

#include "core/diapp.h"
#include "xde/dixaip.h"

#include <stdio.h>
#include <windows.h>

namespace {

/* ASCII text as the wire's UTF-16 characters; returns the length. */
uint32_t widen(const char* s, DiChar* out, uint32_t room) {
    uint32_t n = 0;
    while (s[n] && n < room) {
        out[n] = DiChar(uint8_t(s[n]));
        n++;
    }
    return n;
}

} // namespace

/* "qvl-swm-syscommand" on the frame's window: 61440 with the frame's
 * rectangle, 63520 with the position, any other command alone. */
void SWMSysCommand(DiXFrame* f, uint32_t command, int32_t a, int32_t b) {
    if (!f || !f->display || f->windowId >= DI_XWINDOWS) return;
    char id[16], value[96];
    snprintf(id, sizeof id, "%u", f->windowId);
    if (command == 61440)
        snprintf(value, sizeof value, "%d,%d,%d,%d,%d", int(command), int(f->rect[0]),
                 int(f->rect[1]), int(f->rect[2]), int(f->rect[3]));
    else if (command == 63520)
        snprintf(value, sizeof value, "%d,%d,%d", int(command), int(a), int(b));
    else
        snprintf(value, sizeof value, "%d", int(command));
    DiChar wid[16], name[32], val[96];
    uint32_t nw = widen(id, wid, 16), nn = widen("qvl-swm-syscommand", name, 32),
             nv = widen(value, val, 96);
    diXAIPSendProperty(f->display, wid, nw, name, nn, val, nv);
}

/* "qvl-swm-clientinfo": the monitor count, then each monitor's work area;
 * without monitor records the primary monitor's. */
void diXSendClientInfo(DiXDisplay* d) {
    if (!d || !g_ddApp) return;
    char value[1024];
    int32_t count = g_ddApp->monitors ? g_ddApp->monitorCount : 0;
    if (count < 0) count = 0;
    /* Each monitor takes at most 48 characters: a full buffer ends the list. */
    if (count > 20) count = 20;
    int n = snprintf(value, sizeof value, "%d", count ? int(count) : 1);
    auto add = [&](const DdMonitor& m) {
        n += snprintf(value + n, sizeof value - size_t(n), ",%d,%d,%d,%d", int(m.workX),
                      int(m.workY), int(m.workWidth), int(m.workHeight));
    };
    if (count == 0) add(g_ddApp->primaryMonitor);
    for (int32_t i = 0; i < count; i++) add(g_ddApp->monitors[i]);
    DiChar name[32], val[1024];
    uint32_t nn = widen("qvl-swm-clientinfo", name, 32), nv = widen(value, val, 1024);
    diXAIPSendProperty(d, u"", 0, name, nn, val, nv);
}

/* The engine keeps no focus expectations yet. */
void diXSWMExpectGain(DiXDisplay*, DiXFrame*) {}
void diXSWMExpectLoss(DiXDisplay*, DiXFrame*) {}

/* Until the engine keeps the server's seamless metrics: the system's. */
void ddXSWMBorderSize(const DiXDisplay*, int32_t* horizontal, int32_t* vertical) {
    *horizontal = GetSystemMetrics(SM_CXSIZEFRAME);
    *vertical = GetSystemMetrics(SM_CYSIZEFRAME);
}
