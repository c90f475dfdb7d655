/* Stand-ins for Windows-side services that other parts of the client
 * provide: frame layout, the progress window and the channel
 * constructors of the other channel types.
 * Each is the least its callers need; the real modules replace this file. */
#include "dd.h"

#include "core/dide.h"
#include "ui/dicolor.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>

/* Frame windows are not laid out yet. */
void ddUILayoutFrame(DiFrame*) {}
void ddUIShowObjectWindow(DiObject*, int) {}
void ddUIUpdateScrollRange(DiObject*) {}
void ddUIUpdateScrollPos(DiObject*) {}
void ddUIDisableIME(DiObject*) {}

/* Progress window: not made yet. */
DiObject* ddProgCreate(DiObject*, int32_t w, int32_t h, DdGC*) {
    /* A windowless record, so that frames (the root frame among them) can
     * be made before the progress window exists. */
    DiObject* progress = static_cast<DiObject*>(calloc(1, sizeof(DiObject)));
    if (progress) diUIObjectInit(progress, DI_OBJ_PROGRESS, w, h);
    return progress;
}
void ddProgDestroy(DiObject* progress) {
    free(progress);
}
int ddProgIsExpanded(DiObject*) {
    return 0;
}

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
