/* The portable half of start-up and shut-down: root frame, default routes,
 * and the release of what the application structure owns. */
#include "core/diapp.h"

#include "core/dide.h"
#include "net/diroute.h"
#include "ui/diui.h"

#include <stdlib.h>

int ddEventLoop(void); /* the Windows layer's event loop */

static DiRoute* diAppNewRoute(uint32_t kind) {
    DiRoute* r = static_cast<DiRoute*>(calloc(1, sizeof(DiRoute)));
    if (r) diRouteInit(r, kind, nullptr, 0, 0);
    return r;
}

static void diAppDeleteRoute(DiRoute* r) {
    if (!r) return;
    diRouteFree(r);
    free(r);
}

void diAppInitRoutes(DdLaunchOptions* o) {
    if (!o->socksRoute) o->socksRoute = diAppNewRoute(3);
    if (!o->httpProxyRoute) o->httpProxyRoute = diAppNewRoute(2);
}

void diAppFreeRoutes(DdLaunchOptions* o) {
    diAppDeleteRoute(o->socksRoute);
    diAppDeleteRoute(o->httpProxyRoute);
    o->socksRoute = o->httpProxyRoute = nullptr;
    free(o->routeText1);
    free(o->routeText2);
    o->routeText1 = o->routeText2 = nullptr;
}

/* A replacement is a new record copied from the caller's; the old one goes. */
int diAppCreateRoot(void) {
    /* Main window mode 1, a manager without channel (engine type 2). */
    DiFrame* root = diUICreateFrame(1, 2, 640, 480);
    if (!root) return -1;
    g_ddApp->root = &root->hdr;
    diAppInitRoutes(&g_ddApp->opt);
    return 0;
}

int diAppRunEventLoop(void) {
    return ddEventLoop();
}

static void diAppFreeText(DiChar** text) {
    free(*text);
    *text = nullptr;
}

void diAppShutdown(void) {
    DdApp* app = g_ddApp;
    /* Every frame but the root first, then the root. Destroying a frame
     * unlinks it, so the walk starts again from the head each time. */
    for (;;) {
        DiFrame* f = diUIFrameListHead();
        while (f && &f->hdr == app->root)
            f = f->next;
        if (!f) break;
        diUIDestroyFrame(f);
    }
    if (app->root) {
        /* The frame header comes first: the root object is its frame. */
        diUIDestroyFrame(reinterpret_cast<DiFrame*>(app->root));
        app->root = nullptr;
    }
    for (DiChannel*& ch : app->channels) {
        if (ch) diDEDestroyChannel(ch);
        ch = nullptr;
    }
    diAppFreeRoutes(&app->opt);
    diAppFreeText(&app->proxyExceptions);
    diAppFreeText(&app->clientInfo.platform);
    diAppFreeText(&app->clientInfo.osVersion);
    diAppFreeText(&app->clientInfo.platform2);
    diAppFreeText(&app->clientInfo.osVersion2);
    diAppFreeText(&app->clientInfo.processor);
    free(app->monitors);
    app->monitors = nullptr;
    app->monitorCount = 0;
    diAppFreeText(&app->opt.connectionCookie);
    diAppFreeText(&app->opt.server);
    diAppFreeText(&app->opt.preferredLanguage);
}
