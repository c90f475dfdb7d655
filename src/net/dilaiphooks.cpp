/* The login-dialog exchange's calls into the launch that owns its channel
 * (see core/disohooks.h). */
#include "core/disohooks.h"
#include "net/dilaip.h"

void diSOSetLaunchRoute(DiChannel* ch, const DiLAIPDialog* dialog) {
    if (g_diSOLaunchHooks.setLaunchRoute) g_diSOLaunchHooks.setLaunchRoute(ch, dialog);
}

void diSOContinueLaunchOnRoute(DiChannel* ch, const DiLAIPDialog* dialog) {
    if (g_diSOLaunchHooks.continueLaunchOnRoute)
        g_diSOLaunchHooks.continueLaunchOnRoute(ch, dialog);
}

void diSOLaunchFailed(DiChannel* ch, int message, const DiChar* text) {
    if (g_diSOLaunchHooks.launchFailed) g_diSOLaunchHooks.launchFailed(ch, message, text);
}

void diSOCancelLaunchDialogTimer(void) {
    if (g_diSOLaunchHooks.cancelLaunchDialogTimer) g_diSOLaunchHooks.cancelLaunchDialogTimer();
}
