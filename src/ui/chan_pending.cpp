/* Stand-ins for Windows-side services that other parts of the client
 * provide: the frame window, the progress window and the channel
 * constructors of the other channel types.
 * Each is the least its callers need; the real modules replace this file. */
#include "dd.h"

#include "core/dide.h"
#include "ui/dicolor.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>

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
