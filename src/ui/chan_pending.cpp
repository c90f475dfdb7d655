/* Stand-ins for Windows-side services that other parts of the client
 * provide: the channel constructors of the other
 * channel types.
 * Each is the least its callers need; the real modules replace this file. */
#include "dd.h"

#include "core/dide.h"
#include "ui/dicolor.h"
#include "ui/digdi.h"
#include "ui/diprog.h"
#include "ui/diui.h"

#include <stdlib.h>

/* Channel types whose subsystems are not built yet: their constructors
 * fail, so the factory reports the failure to the owner. */
DiChannel* ddCDMCreate(DdSocket*) {
    return nullptr;
}
void ddCDMDestroy(DiChannel*) {}
DiChannel* ddAudioCreate(DdSocket*) {
    return nullptr;
}
void ddAudioDestroy(DiChannel*) {}
