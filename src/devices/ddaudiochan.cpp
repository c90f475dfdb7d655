/* The audio channel's constructor and destroy routine, for the channel
 * factory. */
#include "dd.h"

#include "devices/ddaudio.h"

#include <stdlib.h>

DiChannel* ddAudioCreate(DdSocket* s) {
    DdAudioChannel* a = static_cast<DdAudioChannel*>(calloc(1, sizeof(DdAudioChannel)));
    if (!a) return nullptr;
    diDEChannelInit(&a->io.ch, DI_OBJ_AUDIO, 0, 0);
    if (!ddAudioChannelSetUp(a)) {
        diDEChannelFree(&a->io.ch);
        free(a);
        return nullptr;
    }
    diChannelAttachConnection(&a->io.ch, s);
    return &a->io.ch;
}

void ddAudioDestroy(DiChannel* ch) {
    DdAudioChannel* a = reinterpret_cast<DdAudioChannel*>(ch);
    ddAudioChannelTearDown(a);
    diDEChannelFree(&a->io.ch);
    free(a);
}
