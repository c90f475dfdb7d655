/* Stand-ins for portable services that other parts of the client provide:
 * the session layer. Each is the least its callers here need; the real
 * modules replace this file. */
#include "core/dide.h"
#include "ui/diprog.h"

#include <stdlib.h>

void diSOSetLaunchState(DiObject*, int32_t) {}
void diSODisplayObjectClosed(DiObject*) {}
void diSOFitLaunchFrame(DiObject*) {}
int diSOIsLaunchDialogPending() {
    return 0;
}

