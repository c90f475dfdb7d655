/* Terminal engine: channel constructor and destroy routine. */
#include "dd.h"

#include "tde/ditde.h"

#include <stdlib.h>

DiChannel* ddTDECreate(DiObject* owner, int32_t v1, int32_t v2, DdGC* gc, DdSocket* s) {
    DiTDE* tde = static_cast<DiTDE*>(calloc(1, sizeof(DiTDE)));
    if (!tde) return nullptr;
    diDEChannelInit(&tde->ch, DI_OBJ_TDE, v1, v2);
    tde->ch.in.limit = DI_TDE_BUFFER_LIMIT;
    tde->ch.out.limit = DI_TDE_BUFFER_LIMIT;
    diTDEBindChannel(&tde->ch, owner, gc, s);
    return &tde->ch;
}

void ddTDEDestroy(DiChannel* ch) {
    diDEChannelFree(ch);
    free(ch);
}
