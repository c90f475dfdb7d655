/* Stand-ins for Windows-side services that other parts of the client
 * provide: graphics contexts, the frame window, the progress window, the
 * display-engine manager's view, the system colours and the channel
 * constructors of the other channel types. Each is the least its callers
 * need; the real modules replace this file. */
#include "dd.h"

#include "core/dide.h"
#include "ui/dicolor.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>

/* Graphics contexts: an empty record each, so ownership can be followed. */
struct DdGC {
    int unused;
};
DdGC* ddGDICreateGC() {
    return static_cast<DdGC*>(calloc(1, sizeof(DdGC)));
}
void ddGDIFreeGC(DdGC* gc) {
    free(gc);
}
void ddGDISetFunction(DdGC*, uint32_t) {}
void ddGDISetForeground(DdGC*, uint32_t) {}
void ddGDIFillRect(DdGC*, int32_t, int32_t, int32_t, int32_t) {}

/* Frames without windows. */
DiFrame* ddUIFrameCreate(uint32_t, DdGC* gc) {
    DiFrame* f = static_cast<DiFrame*>(calloc(1, sizeof(DiFrame)));
    if (!f) return nullptr;
    diUIFrameInit(f, 0, 0);
    f->hdr.gc = gc;
    return f;
}
void ddUIFrameFree(DiFrame* frame) {
    if (!frame) return;
    diUIObjectFreeTitle(&frame->hdr);
    free(frame);
}
void ddUILayoutFrame(DiFrame*) {}
void ddUIShowObjectWindow(DiObject*, int) {}
void ddUIUpdateScrollRange(DiObject*) {}
void ddUIUpdateScrollPos(DiObject*) {}
void ddUIDisableIME(DiObject*) {}

/* Progress window: not made yet. */
DiObject* ddProgCreate(DiObject*, int32_t, int32_t, DdGC*) {
    return nullptr;
}
void ddProgDestroy(DiObject* progress) {
    free(progress);
}
int ddProgIsExpanded(DiObject*) {
    return 0;
}

/* Display-engine manager without a view. */
DiDEManager* ddDEMgrCreate(DiObject* parent, int32_t w, int32_t h, DdGC* gc) {
    DiDEManager* m = static_cast<DiDEManager*>(calloc(1, sizeof(DiDEManager)));
    if (!m) return nullptr;
    diDEManagerInit(m, w, h);
    diDEAttach(&m->hdr, parent, gc);
    return m;
}
void ddDEMgrDestroy(DiDEManager* m) {
    diDEManagerFree(m);
}

void ddColorReserveSystemColors(DdColorMap*) {}

/* Channel types whose subsystems are not built yet: their constructors
 * fail, so the factory reports the failure to the owner. */
DiChannel* ddXDECreate(DiObject*, int32_t, int32_t, DdGC*, DdSocket*) {
    return nullptr;
}
void ddXDEDestroy(DiChannel*) {}
DiChannel* ddPrintCreate(DdSocket*) {
    return nullptr;
}
void ddPrintDestroy(DiChannel*) {}
DiChannel* ddCDMCreate(DdSocket*) {
    return nullptr;
}
void ddCDMDestroy(DiChannel*) {}
DiChannel* ddListenerChannelCreate(DdSocket*) {
    return nullptr;
}
void ddListenerChannelDestroy(DiChannel*) {}
DiChannel* ddSOAPChannelCreate(DdSocket*) {
    return nullptr;
}
void ddSOAPChannelDestroy(DiChannel*) {}
DiChannel* ddAudioCreate(DdSocket*) {
    return nullptr;
}
void ddAudioDestroy(DiChannel*) {}
DiChannel* ddDevListCreate(DdSocket*) {
    return nullptr;
}
void ddDevListDestroy(DiChannel*) {}
