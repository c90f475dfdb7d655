/* Stand-ins for functions whose modules are being written on other
 * branches (display objects, channels, sockets, graphics, colour maps,
 * monitors, dialogs, routes, the password cache). Each does the least its
 * callers in start-up and shut-down rely on; the real modules replace them. */
#include "core/ddapp.h"
#include "core/dide.h"
#include "net/ddnet.h"
#include "net/dicrypt.h"
#include "net/diroute.h"
#include "ui/ddcolor.h"
#include "ui/dddlg.h"
#include "ui/ddgdi.h"
#include "ui/ddmultimon.h"
#include "ui/ddui.h"
#include "ui/diui.h"

#include <stdlib.h>

/* Display objects: frames in a list, each with its frame window. */
static DdFrame* s_frames;

DiObject* diUICreateFrame(uint32_t mode, uint32_t, int32_t width, int32_t height) {
    DdFrame* f = ddUIFrameCreate(mode, nullptr);
    if (!f) return nullptr;
    f->header.width = f->header.vwidth = width;
    f->header.height = f->header.vheight = height;
    DdFrame* last = s_frames;
    while (last && last->next)
        last = last->next;
    f->prev = last;
    if (last)
        last->next = f;
    else
        s_frames = f;
    return &f->header;
}

void diUIDestroyFrame(DiObject* frame) {
    DdFrame* f = reinterpret_cast<DdFrame*>(frame);
    for (DdFrame** p = &s_frames; *p; p = &(*p)->next) {
        if (*p == f) {
            *p = f->next;
            if (f->next) f->next->prev = f->prev;
            break;
        }
    }
    if (g_ddApp->root == frame) g_ddApp->root = nullptr;
    ddUIFrameFree(f);
}

DiObject* diUIFrameListFirst(void) {
    return s_frames ? &s_frames->header : nullptr;
}

DiObject* diUIFrameListNext(DiObject* frame) {
    DdFrame* next = reinterpret_cast<DdFrame*>(frame)->next;
    return next ? &next->header : nullptr;
}

int diDEDestroyChannel(DiChannel*) {
    return 0;
}

int ddNetInit(void) {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0 ? 0 : -1;
}

void ddNetPoll(void) {}

void diRouteInit(DiRoute* route, uint32_t kind, const DiChar* host, uint32_t port, uint32_t tls) {
    route->kind = kind;
    route->host = diAppStrDup(host ? host : u"");
    route->port = port & 0xFFFF;
    route->tls = tls;
    route->credentialKind = 0;
    route->credentials = nullptr;
}

void diRouteFree(DiRoute* route) {
    free(route->host);
    free(route->proxyReply);
    route->host = route->proxyReply = nullptr;
}

/* A colour map needs only to exist for start-up to go on. */
struct DdColorMap {
    int depth;
};

DdColorMap* ddColorMapCreate(int depth, int, int) {
    DdColorMap* map = static_cast<DdColorMap*>(calloc(1, sizeof(DdColorMap)));
    if (map) map->depth = depth;
    return map;
}

void ddColorMapDestroy(DdColorMap* map) {
    free(map);
}

void ddMultiMonEnumerate(void) {}
void ddGDILoadCursors(void) {}
void ddGDIShutdown(void) {}
void ddGDIPurgeObjectCaches(void) {}

void ddDlgConsoleAppend(const wchar_t*) {}
int ddDlgPasswordCache(DiChar**, DiChar**, DiChar**) {
    return 0;
}

bool diCryptLookupCachedLogin(const DiChar*, DiChar**, DiChar**) {
    return false;
}
bool diCryptStoreCachedLogin(const DiChar*, const DiChar*, const DiChar*) {
    return false;
}
