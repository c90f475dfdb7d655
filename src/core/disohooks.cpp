/* The channel framework's launch services (see disohooks.h). */
#include "core/disohooks.h"

#include "core/dide.h"

DiSOLaunchHooks g_diSOLaunchHooks;

void diSOSetLaunchState(DiObject* obj, int32_t state) {
    if (g_diSOLaunchHooks.setLaunchState) g_diSOLaunchHooks.setLaunchState(obj, state);
}

void diSODisplayObjectClosed(DiObject* obj) {
    if (g_diSOLaunchHooks.displayObjectClosed) g_diSOLaunchHooks.displayObjectClosed(obj);
}

int diSOIsLaunchDialogPending() {
    return g_diSOLaunchHooks.isLaunchDialogPending ? g_diSOLaunchHooks.isLaunchDialogPending() : 0;
}

void diSOFitLaunchFrame(DiObject* obj) {
    if (g_diSOLaunchHooks.fitLaunchFrame) g_diSOLaunchHooks.fitLaunchFrame(obj);
}
