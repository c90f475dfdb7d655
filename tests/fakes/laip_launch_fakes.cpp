// The launch services the login-dialog exchange ends in, recorded in
// g_fakeLaip (tests of the exchange alone; the session's tests use the
// outpost's own).
#include "fakes/laip_fakes.h"

void diSOSetLaunchRoute(DiChannel*, const DiLAIPDialog*) {
    g_fakeLaip.calls.push_back("route");
}
void diSOContinueLaunchOnRoute(DiChannel*, const DiLAIPDialog*) {
    g_fakeLaip.calls.push_back("continue");
}
void diSOLaunchFailed(DiChannel*, int message, const DiChar* text) {
    g_fakeLaip.failures.push_back({message, text ? text : u""});
}
void diSOCancelLaunchDialogTimer(void) {
    g_fakeLaip.calls.push_back("cancel-timer");
}
