/* Seamless session start and the client information: the monitors' work
 * areas the application structure holds. Kept apart from the rest of the
 * seamless code, which programs without the application structure link. */
#include "xde/dixseamless.h"

#include "core/diapp.h"
#include "ui/diui.h"

#include <stdio.h>

namespace {

const int32_t kMaxMonitors = 64; /* the client information stays one message */

void widen(const char* s, DiChar* out, uint32_t* n) {
    uint32_t i = 0;
    for (; s[i]; i++) out[i] = DiChar(uint8_t(s[i]));
    *n = i;
}

} // namespace

void diXSWMSessionStarted(DiXDisplay* d) {
    DiObject* o = &d->ch.hdr;
    diUISetScrollPos(o, (d->screenWidth - o->width) / 2, (d->screenHeight - o->height) / 2);
    diXSendClientInfo(d);
}

void diXSendClientInfo(DiXDisplay* d) {
    const DdMonitor* list = nullptr;
    int32_t count = 0;
    if (g_ddApp) {
        list = g_ddApp->monitors;
        count = list ? g_ddApp->monitorCount : 0;
        if (count <= 0) count = 1, list = &g_ddApp->primaryMonitor;
    }
    if (count > int32_t(kMaxMonitors)) count = kMaxMonitors;
    char text[24 + kMaxMonitors * 48];
    int at = snprintf(text, sizeof text, "%d", list ? count : 0);
    for (int32_t i = 0; list && i < count; i++)
        at += snprintf(text + at, sizeof text - size_t(at), ",%d,%d,%d,%d", list[i].workX,
                       list[i].workY, list[i].workWidth, list[i].workHeight);
    DiChar value[sizeof text];
    DiChar name[32];
    uint32_t valueLength, nameLength;
    widen(text, value, &valueLength);
    widen("qvl-swm-clientinfo", name, &nameLength);
    diXAIPSendProperty(d, u"", 0, name, nameLength, value, valueLength);
}

