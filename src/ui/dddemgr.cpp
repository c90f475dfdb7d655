/* The display-engine manager's Windows half. GUI thread only. */
#include "ui/dddemgr.h"

#include "ui/ddgdi.h"
#include "ui/diui.h"
#include "ui/gfx_pending.h"

#include <stdlib.h>

/* Each manager's view. The manager's graphics context is freed before the
 * manager is destroyed, so the view cannot be found through it then; a
 * view left behind would keep delivering messages for a freed object. */
struct DdDEMgrView {
    const DiDEManager* manager;
    HWND view;
};
static DdDEMgrView* s_views;
static size_t s_viewCount;
static size_t s_viewCap;

static bool ddDEMgrRemember(const DiDEManager* m, HWND view) {
    if (s_viewCount == s_viewCap) {
        size_t cap = s_viewCap ? s_viewCap * 2 : 8;
        DdDEMgrView* grown = static_cast<DdDEMgrView*>(realloc(s_views, cap * sizeof(*s_views)));
        if (!grown) return false;
        s_views = grown;
        s_viewCap = cap;
    }
    s_views[s_viewCount++] = {m, view};
    return true;
}

/* Removes the manager's record and returns its view. */
static HWND ddDEMgrForget(const DiDEManager* m) {
    for (size_t i = 0; i < s_viewCount; i++) {
        if (s_views[i].manager == m) {
            HWND view = s_views[i].view;
            s_views[i] = s_views[--s_viewCount];
            return view;
        }
    }
    return nullptr;
}

HWND ddDEMgrView(const DiDEManager* m) {
    for (size_t i = 0; i < s_viewCount; i++)
        if (s_views[i].manager == m) return s_views[i].view;
    return nullptr;
}

DiDEManager* ddDEMgrCreate(DiObject* parent, int32_t width, int32_t height, DdGC* gc) {
    DiDEManager* m = static_cast<DiDEManager*>(calloc(1, sizeof(DiDEManager)));
    if (!m) return nullptr;
    diDEManagerInit(m, width, height);
    HWND view = ddUICreateView(parent, DD_DEMGR_VIEW_ID, width, height);
    if (!view || !ddDEMgrRemember(m, view)) {
        if (view) DestroyWindow(view);
        diDEManagerFree(m);
        return nullptr;
    }
    /* Views own their device context: the context stays attached to it for
     * the manager's life. */
    if (gc) ddGDIAttach(gc, view, GetDC(view));
    diDEAttach(&m->hdr, parent, gc);
    return m;
}

void ddDEMgrDestroy(DiDEManager* m) {
    if (!m) return;
    HWND view = ddDEMgrForget(m);
    /* A context still held (a failed creation hands the manager back with
     * it) lets go of the view's device context before the view goes. */
    if (m->hdr.gc && ddGDIGetWindow(m->hdr.gc) == view) ddGDIDetach(m->hdr.gc);
    if (view && IsWindow(view)) DestroyWindow(view);
    diDEManagerFree(m);
}
